// BER-TLV codec of the simulated eUICC: tags of 1 to 3 bytes (a first byte
// whose low five bits are 11111 starts a multi-byte tag), definite lengths
// of 1 to 4 length bytes after the 8x prefix, DER-minimal encoding and a
// strict parser. Independent of the engine's codec.
#ifndef HBRSIM_SIM_TLV_H
#define HBRSIM_SIM_TLV_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace hbrsim {

using Bytes = std::vector<uint8_t>;

// Hex helpers of the simulator. fromHex accepts either case and rejects odd
// lengths and non-hex characters.
std::string toHex(const uint8_t *data, size_t size);
inline std::string toHex(const Bytes &b) { return toHex(b.data(), b.size()); }
bool fromHex(const std::string &text, Bytes &out);
Bytes hexBytes(const std::string &text);  // throws std::invalid_argument on bad hex

struct Tlv {
    uint32_t tag = 0;  // tag bytes big-endian: 0x5A, 0x9F70, 0xBF2D
    Bytes value;
    bool constructed() const;
};

// Encoding (DER-minimal).
Bytes encodeTag(uint32_t tag);
Bytes encodeLength(size_t length);
Bytes tlv(uint32_t tag, const Bytes &value);
Bytes tlv(uint32_t tag, std::initializer_list<Bytes> parts);  // value = concatenation
Bytes concat(std::initializer_list<Bytes> parts);
void append(Bytes &to, const Bytes &more);

// Strict decoding. Each call reports a reason on failure.
// Reads one tag at pos (advancing pos).
bool readTag(const uint8_t *data, size_t size, size_t &pos, uint32_t &tag, std::string *error = nullptr);
// Reads one length at pos (advancing pos). Rejects indefinite (80), more than
// four length bytes, non-minimal forms and lengths running past `size`.
bool readLength(const uint8_t *data, size_t size, size_t &pos, size_t &length, std::string *error = nullptr);
// Parses one whole TLV at pos.
bool parseOne(const uint8_t *data, size_t size, size_t &pos, Tlv &out, std::string *error = nullptr);
// Parses the whole buffer as a sequence of TLVs; trailing garbage fails.
bool parseAll(const uint8_t *data, size_t size, std::vector<Tlv> &out, std::string *error = nullptr);
inline bool parseAll(const Bytes &data, std::vector<Tlv> &out, std::string *error = nullptr)
{
    return parseAll(data.data(), data.size(), out, error);
}
// Parses exactly one TLV filling the buffer.
bool parseSingle(const Bytes &data, Tlv &out, std::string *error = nullptr);
// Parses a tag list (the content of a 5C): concatenated tags only.
bool parseTagList(const Bytes &data, std::vector<uint32_t> &tags, std::string *error = nullptr);

const Tlv *findTag(const std::vector<Tlv> &list, uint32_t tag);

// Unsigned big-endian integer helpers (1 to 4 bytes in; minimal out).
bool readUnsigned(const Bytes &value, uint32_t &out);
Bytes encodeUnsignedMinimal(uint32_t value);  // DER INTEGER content, non-negative
// Strict DER INTEGER content: 1 to 8 bytes, two's complement, no redundant
// leading 00 or FF byte. 80 01 C8 holds -56, 80 02 00 C8 holds 200.
bool readDerInteger(const Bytes &value, int64_t &out);
Bytes encodeUnsignedWidth(uint32_t value, size_t width);

}  // namespace hbrsim

#endif
