// Frames of the device-service socket (docs/platform.md): the platform's
// request encoder and its decoder of responses and events. The decoder is
// a pure function over a byte range. Internal to libhbrplatform.
#ifndef HBR_PLATFORM_MBN_FRAME_H
#define HBR_PLATFORM_MBN_FRAME_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace hbr {
namespace mbn {

enum : uint16_t {
    kHello = 0x01,
    kListInterfaces = 0x02,
    kOpenContext = 0x03,
    kGetService = 0x04,
    kSessionState = 0x05,
    kOpenSession = 0x06,
    kCloseSession = 0x07,
    kSetCommand = 0x08,
    kResponseFlag = 0x80,
    kOpenSessionComplete = 0x41,
    kCloseSessionComplete = 0x42,
    kSetCommandComplete = 0x43,
    kEventNotification = 0x44,
    kInterfaceState = 0x45,
};

constexpr uint32_t kMaxFrameLength = 1u << 20; // the length field's limit
constexpr size_t kHeaderSize = 12;
constexpr uint32_t kProtocolVersion = 1;

// A decoded response or event. Fields not carried by the type stay zero.
struct Message {
    uint16_t type = 0;
    uint16_t flags = 0;
    uint32_t tag = 0;
    int32_t hr = 0;     // responses
    uint32_t value = 0; // HELLO version, maxCommandSize, open flag, or request id of a response
    std::vector<std::string> interfaces; // LIST_INTERFACES
    std::string iface;                    // events
    std::string service;
    int32_t status = 0;
    uint32_t requestId = 0;
    uint32_t responseId = 0;
    uint32_t eventId = 0;
    uint32_t state = 0;
    std::string data;
};

enum class Decode {
    NeedMore,  // the range holds no whole frame yet
    Ok,        // *out holds the first frame; *used its size
    Malformed, // bad length, unknown type or a short body: close the connection
};

// Decodes the first frame of [begin, end): a response (request type | 0x80)
// or an event. Trailing body bytes are ignored.
Decode DecodeFrame(const uint8_t *begin, const uint8_t *end, Message *out, size_t *used);

// Builds one request frame.
class FrameWriter {
public:
    FrameWriter &u32(uint32_t v);
    FrameWriter &str(const std::string &s);
    FrameWriter &bytes(const uint8_t *p, size_t n);
    // The whole frame: header with `type` and `tag`, then the body so far.
    std::string finish(uint16_t type, uint32_t tag) const;

private:
    std::string body_;
};

} // namespace mbn
} // namespace hbr

#endif
