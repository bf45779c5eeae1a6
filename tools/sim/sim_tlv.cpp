#include "sim_tlv.h"

#include <stdexcept>

namespace hbrsim {

namespace {
void setError(std::string *error, const char *text)
{
    if (error != nullptr) {
        *error = text;
    }
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
}  // namespace

std::string toHex(const uint8_t *data, size_t size)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        out.push_back(digits[data[i] >> 4]);
        out.push_back(digits[data[i] & 0x0F]);
    }
    return out;
}

bool fromHex(const std::string &text, Bytes &out)
{
    if (text.size() % 2 != 0) {
        return false;
    }
    Bytes bytes;
    bytes.reserve(text.size() / 2);
    for (size_t i = 0; i < text.size(); i += 2) {
        int hi = hexValue(text[i]);
        int lo = hexValue(text[i + 1]);
        if (hi < 0 || lo < 0) {
            return false;
        }
        bytes.push_back(static_cast<uint8_t>(hi << 4 | lo));
    }
    out.swap(bytes);
    return true;
}

Bytes hexBytes(const std::string &text)
{
    std::string compact;
    for (char c : text) {
        if (c != ' ') compact.push_back(c);
    }
    Bytes out;
    if (!fromHex(compact, out)) {
        throw std::invalid_argument("invalid hex: " + text);
    }
    return out;
}

bool Tlv::constructed() const
{
    uint32_t first = tag;
    while (first > 0xFF) first >>= 8;
    return (first & 0x20) != 0;
}

Bytes encodeTag(uint32_t tag)
{
    Bytes out;
    if (tag > 0xFFFF) out.push_back(static_cast<uint8_t>(tag >> 16));
    if (tag > 0xFF) out.push_back(static_cast<uint8_t>(tag >> 8));
    out.push_back(static_cast<uint8_t>(tag));
    return out;
}

Bytes encodeLength(size_t length)
{
    if (length < 0x80) {
        return Bytes{static_cast<uint8_t>(length)};
    }
    Bytes digits;
    for (size_t v = length; v != 0; v >>= 8) {
        digits.insert(digits.begin(), static_cast<uint8_t>(v & 0xFF));
    }
    Bytes out{static_cast<uint8_t>(0x80 | digits.size())};
    append(out, digits);
    return out;
}

Bytes tlv(uint32_t tag, const Bytes &value)
{
    Bytes out = encodeTag(tag);
    append(out, encodeLength(value.size()));
    append(out, value);
    return out;
}

Bytes tlv(uint32_t tag, std::initializer_list<Bytes> parts)
{
    return tlv(tag, concat(parts));
}

Bytes concat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes &p : parts) append(out, p);
    return out;
}

void append(Bytes &to, const Bytes &more)
{
    to.insert(to.end(), more.begin(), more.end());
}

bool readTag(const uint8_t *data, size_t size, size_t &pos, uint32_t &tag, std::string *error)
{
    if (pos >= size) {
        setError(error, "missing tag");
        return false;
    }
    uint32_t value = data[pos++];
    if ((value & 0x1F) != 0x1F) {
        tag = value;
        return true;
    }
    // Multi-byte tag: continuation bytes carry bit 8 while more follow.
    for (int extra = 1; extra <= 2; ++extra) {
        if (pos >= size) {
            setError(error, "truncated tag");
            return false;
        }
        uint8_t b = data[pos++];
        if (extra == 1 && b == 0x80) {
            setError(error, "non-minimal tag");
            return false;
        }
        value = value << 8 | b;
        if ((b & 0x80) == 0) {
            tag = value;
            return true;
        }
    }
    setError(error, "tag longer than 3 bytes");
    return false;
}

bool readLength(const uint8_t *data, size_t size, size_t &pos, size_t &length, std::string *error)
{
    if (pos >= size) {
        setError(error, "missing length");
        return false;
    }
    uint8_t first = data[pos++];
    if (first < 0x80) {
        length = first;
    } else {
        size_t count = first & 0x7F;
        if (count == 0) {
            setError(error, "indefinite length");
            return false;
        }
        if (count > 4) {
            setError(error, "length of more than 4 bytes");
            return false;
        }
        if (size - pos < count) {
            setError(error, "truncated length");
            return false;
        }
        size_t value = 0;
        for (size_t i = 0; i < count; ++i) value = value << 8 | data[pos++];
        if (value < 0x80 || (count > 1 && (value >> (8 * (count - 1))) == 0)) {
            setError(error, "non-minimal length");
            return false;
        }
        length = value;
    }
    if (size - pos < length) {
        setError(error, "value runs past the end");
        return false;
    }
    return true;
}

bool parseOne(const uint8_t *data, size_t size, size_t &pos, Tlv &out, std::string *error)
{
    size_t p = pos;
    uint32_t tag = 0;
    size_t length = 0;
    if (!readTag(data, size, p, tag, error) || !readLength(data, size, p, length, error)) {
        return false;
    }
    out.tag = tag;
    out.value.assign(data + p, data + p + length);
    pos = p + length;
    return true;
}

bool parseAll(const uint8_t *data, size_t size, std::vector<Tlv> &out, std::string *error)
{
    std::vector<Tlv> list;
    size_t pos = 0;
    while (pos < size) {
        Tlv t;
        if (!parseOne(data, size, pos, t, error)) {
            return false;
        }
        list.push_back(std::move(t));
    }
    out.swap(list);
    return true;
}

bool parseSingle(const Bytes &data, Tlv &out, std::string *error)
{
    size_t pos = 0;
    if (!parseOne(data.data(), data.size(), pos, out, error)) {
        return false;
    }
    if (pos != data.size()) {
        setError(error, "extra bytes after the TLV");
        return false;
    }
    return true;
}

bool parseTagList(const Bytes &data, std::vector<uint32_t> &tags, std::string *error)
{
    std::vector<uint32_t> list;
    size_t pos = 0;
    while (pos < data.size()) {
        uint32_t tag = 0;
        if (!readTag(data.data(), data.size(), pos, tag, error)) {
            return false;
        }
        list.push_back(tag);
    }
    tags.swap(list);
    return true;
}

const Tlv *findTag(const std::vector<Tlv> &list, uint32_t tag)
{
    for (const Tlv &t : list) {
        if (t.tag == tag) return &t;
    }
    return nullptr;
}

bool readUnsigned(const Bytes &value, uint32_t &out)
{
    if (value.empty() || value.size() > 4) {
        return false;
    }
    uint32_t v = 0;
    for (uint8_t b : value) v = v << 8 | b;
    out = v;
    return true;
}

bool readDerInteger(const Bytes &value, int64_t &out)
{
    if (value.empty() || value.size() > 8) {
        return false;
    }
    if (value.size() > 1 && ((value[0] == 0x00 && (value[1] & 0x80) == 0) ||
                             (value[0] == 0xFF && (value[1] & 0x80) != 0))) {
        return false;
    }
    uint64_t v = (value[0] & 0x80) != 0 ? ~uint64_t(0) : 0;
    for (uint8_t b : value) v = v << 8 | b;
    out = static_cast<int64_t>(v);
    return true;
}

Bytes encodeUnsignedMinimal(uint32_t value)
{
    Bytes out;
    do {
        out.insert(out.begin(), static_cast<uint8_t>(value & 0xFF));
        value >>= 8;
    } while (value != 0);
    if (out[0] & 0x80) out.insert(out.begin(), 0x00);
    return out;
}

Bytes encodeUnsignedWidth(uint32_t value, size_t width)
{
    Bytes out(width, 0);
    for (size_t i = 0; i < width; ++i) {
        out[width - 1 - i] = static_cast<uint8_t>(i < 4 ? (value >> (8 * i)) & 0xFF : 0);
    }
    return out;
}

}  // namespace hbrsim
