// The simulated module's Mobile Broadband device service: a Unix stream
// socket speaking the device-service protocol of docs/platform.md. It has
// its own frame encoder and decoder, written from that description and
// shared with nothing in platform/, so that a layout fault on one side
// shows up against the other.
//
// Threads: one accepting, one per client (requests are answered on it, AT
// handler included) and one sending delayed completions. Events go to
// every connected client.
#ifndef HBRMODEMSIM_DEVICE_SERVICE_SERVER_H
#define HBRMODEMSIM_DEVICE_SERVICE_SERVER_H

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace hbrmodemsim {

// The module's private device service and the default interface id.
extern const char kPrivateServiceId[];
extern const char kDefaultInterfaceId[];

// Request types (responses are type | 0x80) and event types on the socket.
enum DeviceServiceMessage : uint16_t {
    kDsHello = 0x01,
    kDsListInterfaces = 0x02,
    kDsOpenContext = 0x03,
    kDsGetService = 0x04,
    kDsSessionState = 0x05,
    kDsOpenSession = 0x06,
    kDsCloseSession = 0x07,
    kDsSetCommand = 0x08,
    kDsOpenSessionComplete = 0x41,
    kDsCloseSessionComplete = 0x42,
    kDsSetCommandComplete = 0x43,
    kDsEventNotification = 0x44,
    kDsInterfaceState = 0x45,
};

// HRESULTs the module answers with.
constexpr int32_t kDsOk = 0;
constexpr int32_t kDsPending = static_cast<int32_t>(0x8000000Au);
constexpr int32_t kDsNotFound = static_cast<int32_t>(0x80070490u);     // unknown interface or service
constexpr int32_t kDsInvalidArg = static_cast<int32_t>(0x80070057u);   // command larger than maxCommandSize
constexpr int32_t kDsInvalidState = static_cast<int32_t>(0x8007139Fu); // command without an open session
constexpr int32_t kDsNotImpl = static_cast<int32_t>(0x80004001u);      // completion status of a non-AT command

// How reply and notification text is put into the data bytes.
enum class PayloadForm {
    Prefixed,  // 4-byte little-endian length, then the text
    Plain,     // the text alone
    NulInside, // prefixed, with a NUL byte inserted in the middle of the text
};

// When a completion goes out, relative to its request's response.
enum class CompletionTiming { AfterResponse, Delayed, Never, BeforeResponse };

struct CompletionFault {
    CompletionTiming timing = CompletionTiming::AfterResponse;
    unsigned delayMs = 0; // for Delayed
    bool replaceStatus = false;
    int32_t status = 0;
    bool replaceResponseId = false; // SET_COMMAND completions only
    uint32_t responseId = 1;
};

// Runtime-settable faults of the device service (setFaults, thread-safe).
struct DeviceServiceFaults {
    // Request type -> the hr of its response. A failure hr means the
    // request is not carried out and no completion follows; E_PENDING
    // (kDsPending) carries it out as S_OK would.
    std::map<uint16_t, int32_t> responseHr;
    CompletionFault openSession;
    CompletionFault closeSession;
    CompletionFault setCommand;
    PayloadForm replyForm = PayloadForm::Prefixed;
    bool privateServiceAbsent = false;
    uint32_t maxCommandSize = 4096;
    // The session counts as open at start and at each arrival (and at once
    // when set while the interface is present).
    bool sessionOpenAtStart = false;
};

// What the server reports to its observer, for records and transcripts,
// with its text: the AT command and reply texts exactly; the notification
// text before encoding; "arrival" or "removal"; the interface id of a
// session opened or closed. The observer runs on the server's threads.
enum class DsExchange { Command, Reply, Notification, InterfaceState, SessionOpen, SessionClose };

class DeviceServiceServer {
public:
    // The handle of the simulated module: AT text in (exactly as sent), reply
    // text out. Called on client threads; the caller serialises if needed.
    using AtHandler = std::function<std::string(const std::string &)>;
    using Observer = std::function<void(DsExchange kind, const std::string &text)>;

    DeviceServiceServer(std::string socketPath, AtHandler atHandler,
                        std::string interfaceId = kDefaultInterfaceId);
    ~DeviceServiceServer(); // stops
    DeviceServiceServer(const DeviceServiceServer &) = delete;
    DeviceServiceServer &operator=(const DeviceServiceServer &) = delete;

    // Binds the path (an old socket file there is replaced) and serves.
    // The interface is present after start. False with a reason on failure.
    bool start(std::string *error = nullptr);
    // Closes every connection and the listener, and removes the socket file.
    // Pending delayed completions are dropped. start() may follow.
    void stop();
    bool running() const;

    const std::string &socketPath() const { return path_; }
    const std::string &interfaceId() const { return interfaceId_; }

    void setFaults(const DeviceServiceFaults &faults);
    DeviceServiceFaults faults() const;
    void setObserver(Observer observer);
    // Called on the client thread before each request is handled, with the
    // faults in force (a copy) and, for an AT command, its text; changes
    // apply to that request only.
    using RequestFaultHook =
        std::function<void(uint16_t requestType, const std::string &atCommand, DeviceServiceFaults &faults)>;
    void setRequestFaultHook(RequestFaultHook hook);

    // Sends EVENT_NOTIFICATION for the private service to every client.
    void notify(uint32_t eventId, const std::string &text, PayloadForm form = PayloadForm::Prefixed);
    // Sends `count` EVENT_NOTIFICATIONs (event id 1, prefixed) whose text is
    // `textBytes` bytes of 'x', as fast as the clients read; they are not
    // observed. False, with nothing sent, when one would not fit in a frame.
    bool flood(uint32_t count, size_t textBytes);
    // Interface removal (closes the session, drops pending completions) and
    // arrival, each sent as INTERFACE_STATE to every client. Repeating the
    // current state sends the event again.
    void removeInterface();
    void arriveInterface();

    bool interfacePresent() const;
    bool sessionOpen() const;
    size_t clientCount() const;
    // The data bytes of `text` in the given form (exposed for tests).
    static std::string encodePayload(const std::string &text, PayloadForm form);

    struct Impl;

private:
    std::string path_;
    std::string interfaceId_;
    std::shared_ptr<Impl> impl_;
};

} // namespace hbrmodemsim

#endif
