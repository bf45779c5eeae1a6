#include "mbn_frame.h"

namespace hbr {
namespace mbn {
namespace {

// Reads little-endian fields inside [p, end); any overrun clears `ok`.
struct Cursor {
    const uint8_t *p;
    const uint8_t *end;
    bool ok = true;

    uint32_t u32()
    {
        if (!ok || end - p < 4) {
            ok = false;
            return 0;
        }
        uint32_t v = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
        p += 4;
        return v;
    }
    int32_t i32() { return static_cast<int32_t>(u32()); }
    std::string str()
    {
        uint32_t n = u32();
        if (!ok || static_cast<size_t>(end - p) < n) {
            ok = false;
            return std::string();
        }
        std::string v(reinterpret_cast<const char *>(p), n);
        p += n;
        return v;
    }
};

void PutU32(std::string &s, uint32_t v)
{
    for (int i = 0; i < 4; ++i) {
        s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    }
}

} // namespace

Decode DecodeFrame(const uint8_t *begin, const uint8_t *end, Message *out, size_t *used)
{
    if (!begin || end < begin || end - begin < 4) {
        return Decode::NeedMore;
    }
    Cursor head{begin, end};
    uint32_t length = head.u32();
    if (length < kHeaderSize - 4 || length > kMaxFrameLength) {
        return Decode::Malformed;
    }
    if (static_cast<size_t>(end - begin) - 4 < length) {
        return Decode::NeedMore;
    }
    Message m;
    m.type = static_cast<uint16_t>(begin[4] | begin[5] << 8);
    m.flags = static_cast<uint16_t>(begin[6] | begin[7] << 8);
    Cursor c{begin + 8, begin + 4 + length};
    m.tag = c.u32();
    switch (m.type) {
    case kHello | kResponseFlag:
    case kOpenContext | kResponseFlag:
    case kSessionState | kResponseFlag:
    case kOpenSession | kResponseFlag:
    case kCloseSession | kResponseFlag:
    case kSetCommand | kResponseFlag:
        m.hr = c.i32();
        m.value = c.u32();
        break;
    case kGetService | kResponseFlag:
        m.hr = c.i32();
        break;
    case kListInterfaces | kResponseFlag: {
        m.hr = c.i32();
        uint32_t n = c.u32();
        // Each id takes at least its 4-byte count: n is bounded by the body.
        for (uint32_t i = 0; i < n && c.ok; ++i) {
            m.interfaces.push_back(c.str());
        }
        break;
    }
    case kOpenSessionComplete:
    case kCloseSessionComplete:
        m.iface = c.str();
        m.service = c.str();
        m.status = c.i32();
        m.requestId = c.u32();
        break;
    case kSetCommandComplete:
        m.iface = c.str();
        m.service = c.str();
        m.responseId = c.u32();
        m.status = c.i32();
        m.requestId = c.u32();
        m.data = c.str();
        break;
    case kEventNotification:
        m.iface = c.str();
        m.service = c.str();
        m.eventId = c.u32();
        m.data = c.str();
        break;
    case kInterfaceState:
        m.iface = c.str();
        m.state = c.u32();
        break;
    default:
        return Decode::Malformed;
    }
    if (!c.ok) {
        return Decode::Malformed;
    }
    if (out) {
        *out = std::move(m);
    }
    if (used) {
        *used = 4 + static_cast<size_t>(length);
    }
    return Decode::Ok;
}

FrameWriter &FrameWriter::u32(uint32_t v)
{
    PutU32(body_, v);
    return *this;
}

FrameWriter &FrameWriter::str(const std::string &s)
{
    return bytes(reinterpret_cast<const uint8_t *>(s.data()), s.size());
}

FrameWriter &FrameWriter::bytes(const uint8_t *p, size_t n)
{
    PutU32(body_, static_cast<uint32_t>(n));
    body_.append(reinterpret_cast<const char *>(p), n);
    return *this;
}

std::string FrameWriter::finish(uint16_t type, uint32_t tag) const
{
    std::string f;
    PutU32(f, static_cast<uint32_t>(8 + body_.size()));
    f.push_back(static_cast<char>(type & 0xFF));
    f.push_back(static_cast<char>(type >> 8));
    f.push_back(0);
    f.push_back(0);
    PutU32(f, tag);
    return f + body_;
}

} // namespace mbn
} // namespace hbr
