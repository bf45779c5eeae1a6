// Fault plan of the simulator: ordered rules, each with a match, a repeat
// count and an action at the AT, APDU, ES10 or transport level. Cleared per
// test. Rules are built in C++ or read from JSON (parseFaultRuleJson).
#ifndef HBRSIM_SIM_FAULT_H
#define HBRSIM_SIM_FAULT_H

#include "sim_tlv.h"

#include <cstdint>
#include <string>
#include <vector>

namespace hbrsim {

enum class FaultLevel { At, Apdu, Es10, Transport };

enum class FaultAction {
    // AT level
    ReplaceReply,   // the reply is `text`; the command is not carried out
    Silence,        // no reply text at all; the command is not carried out
    WriterResult,   // seam only: the writer returns `number` after leaving `text` in the buffer
    // APDU level
    StatusWord,     // the answer is the status word `number` alone; the APDU is not carried out
    WholeResponse,  // the answer is `bytes` exactly, unchunked; the APDU is not carried out
    ResponseData,   // the answer's data is `bytes` with status word `number`, chunked as usual
    PieceSize,      // the APDU is carried out; its answer goes out in pieces of `number` bytes
    T0Style,        // the APDU is carried out; an answer with data first comes as 61 xx alone
    Empty61,        // the answer is 61 xx with no data (xx = `number`), pending data kept
    // ES10 level
    Es10Answer,     // the ISD-R's answer is `bytes` (with 90 00); the request is not carried out
    Es10Result,     // the ISD-R answers its result form with the code `number`; not carried out
    // Transport level, COM port (the command is carried out as usual)
    ComDelay,       // the reply goes out `delayMs` after the command
    ComPieces,      // the reply goes out in pieces of `number` bytes, `delayMs` apart
    ComSilence,     // the port sends nothing back
    ComEcho,        // the port repeats the command before its reply (`number` 1) or not (0)
    // Transport level, device service; `request` names the request kind
    MbnResponseHr,        // the response carries hr `number` (a failure or E_PENDING)
    MbnCompletionDelay,   // the completion goes out `delayMs` after the response
    MbnCompletionNever,   // no completion
    MbnCompletionEarly,   // the completion goes out before the response
    MbnCompletionStatus,  // the completion carries status `number`
    MbnCompletionResponseId,  // the completion carries response id `number`
    MbnPayloadForm,       // reply or notification data in the form `number` (PayloadForm)
    MbnServiceAbsent,     // the private device service does not exist
    MbnMaxCommandSize,    // the context reports maxCommandSize `number`
    MbnSessionOpen,       // the command session counts as open from the start
};

// Reply and notification data on the device service.
enum class PayloadForm { Prefixed = 0, Plain = 1, NulInside = 2 };

// Device-service request kinds, as named in rules (`request`) and records.
// "notification" names the module's notifications (payload form only).
extern const char *const kMbnRequestKinds[];  // null-terminated list

struct FaultRule {
    // Match. Empty / negative fields match anything.
    std::string atText;        // AT level: the command text contains this
    int ins = -1;              // APDU level: the INS byte
    int channel = -1;          // APDU level: the logical channel of the class byte
    uint32_t es10Tag = 0;      // ES10 level: the request's outer tag
    Bytes es10Request;         // ES10 level: the whole request equals these bytes
    Bytes chainOf;             // APDU level: the answer pending on the channel (the one GET
                               // RESPONSE fetches) is that of the ES10 request with these bytes
    uint32_t chainOfTag = 0;   // APDU level: the pending answer is that of an ES10 request with this outer tag
    std::string request;       // transport level, device service: the request kind (see kMbnRequestKinds)
    int fromOccurrence = 1;    // fire only from the k-th matching event on
    int times = 1;             // how often it fires; -1 always

    FaultAction action = FaultAction::ReplaceReply;
    std::string text;
    int64_t number = 0;
    int64_t delayMs = 0;
    Bytes bytes;

    // Bookkeeping.
    int seen = 0;
    int fired = 0;

    FaultLevel level() const;

    // Fluent construction.
    static FaultRule at(const std::string &contains = std::string());
    static FaultRule apdu(int ins = -1, int channel = -1);
    static FaultRule es10(uint32_t tag = 0);
    FaultRule &from(int k) { fromOccurrence = k; return *this; }
    FaultRule &once() { times = 1; return *this; }
    FaultRule &repeat(int n) { times = n; return *this; }
    FaultRule &always() { times = -1; return *this; }
    FaultRule &whenRequest(const Bytes &request) { es10Request = request; return *this; }
    FaultRule &inChainOf(const Bytes &request) { chainOf = request; return *this; }
    FaultRule &inChainOfTag(uint32_t tag) { chainOfTag = tag; return *this; }
    FaultRule &reply(const std::string &t) { action = FaultAction::ReplaceReply; text = t; return *this; }
    FaultRule &silence() { action = FaultAction::Silence; return *this; }
    FaultRule &writerResult(int64_t result, const std::string &stale = std::string())
    {
        action = FaultAction::WriterResult; number = result; text = stale; return *this;
    }
    FaultRule &statusWord(uint16_t sw) { action = FaultAction::StatusWord; number = sw; return *this; }
    FaultRule &wholeResponse(const Bytes &b) { action = FaultAction::WholeResponse; bytes = b; return *this; }
    FaultRule &responseData(const Bytes &b, uint16_t sw = 0x9000)
    {
        action = FaultAction::ResponseData; bytes = b; number = sw; return *this;
    }
    FaultRule &pieces(int n) { action = FaultAction::PieceSize; number = n; return *this; }
    FaultRule &t0() { action = FaultAction::T0Style; return *this; }
    FaultRule &empty61(uint8_t sw2) { action = FaultAction::Empty61; number = sw2; return *this; }
    FaultRule &es10Answer(const Bytes &b) { action = FaultAction::Es10Answer; bytes = b; return *this; }
    FaultRule &es10Result(int code) { action = FaultAction::Es10Result; number = code; return *this; }
    // Transport level.
    static FaultRule com(const std::string &contains = std::string());
    static FaultRule mbn(const std::string &requestKind = std::string(), const std::string &contains = std::string());
    FaultRule &comDelay(int64_t ms) { action = FaultAction::ComDelay; delayMs = ms; return *this; }
    FaultRule &comPieces(int size, int64_t ms)
    {
        action = FaultAction::ComPieces; number = size; delayMs = ms; return *this;
    }
    FaultRule &comSilence() { action = FaultAction::ComSilence; return *this; }
    FaultRule &comEcho(bool on) { action = FaultAction::ComEcho; number = on ? 1 : 0; return *this; }
    FaultRule &responseHr(int32_t hr) { action = FaultAction::MbnResponseHr; number = hr; return *this; }
    FaultRule &completionDelay(int64_t ms) { action = FaultAction::MbnCompletionDelay; delayMs = ms; return *this; }
    FaultRule &completionNever() { action = FaultAction::MbnCompletionNever; return *this; }
    FaultRule &completionEarly() { action = FaultAction::MbnCompletionEarly; return *this; }
    FaultRule &completionStatus(int32_t s) { action = FaultAction::MbnCompletionStatus; number = s; return *this; }
    FaultRule &completionResponseId(uint32_t id)
    {
        action = FaultAction::MbnCompletionResponseId; number = id; return *this;
    }
    FaultRule &payloadForm(PayloadForm f) { action = FaultAction::MbnPayloadForm; number = int64_t(f); return *this; }
    FaultRule &serviceAbsent() { action = FaultAction::MbnServiceAbsent; return *this; }
    FaultRule &maxCommandSize(uint32_t n) { action = FaultAction::MbnMaxCommandSize; number = n; return *this; }
    FaultRule &sessionOpen() { action = FaultAction::MbnSessionOpen; return *this; }
    bool isCom() const;  // a transport rule of the COM port
};

// Reads one rule from a JSON object, for example
//   {"at": "AT+GTPCTPOC=6", "action": "com-pieces", "number": 4, "ms": 150, "times": -1}
// Keys: match "at", "ins", "channel", "es10Tag", "es10Request", "chainOf",
// "chainOfTag", "request"; count "from", "times" (-1 or "always"); the
// action with "text", "hex", "number", "ms". Numbers may be written as
// strings ("0x8000000A", "BF2D" for tags). Answers false with the reason.
bool parseFaultRuleJson(const std::string &json, FaultRule &rule, std::string *error = nullptr);

// An event offered to the plan.
struct FaultEvent {
    FaultLevel level = FaultLevel::At;
    const std::string *atCommand = nullptr;
    int ins = -1;
    int channel = -1;
    uint32_t es10Tag = 0;
    const Bytes *es10Request = nullptr;
    const Bytes *chainRequest = nullptr;  // APDU level: request whose answer is pending, if any
    bool com = false;                     // transport level: the COM port (else the device service)
    const char *request = nullptr;        // transport level, device service: the request kind
};

class FaultPlan {
public:
    void add(const FaultRule &rule) { rules_.push_back(rule); }
    void clear() { rules_.clear(); }
    bool empty() const { return rules_.empty(); }
    const std::vector<FaultRule> &rules() const { return rules_; }

    // Counts the event for every matching rule of its level and returns the
    // first rule that fires (nullptr when none). `filter` restricts the
    // rules considered to some actions (nullptr: all of the level).
    const FaultRule *fire(const FaultEvent &event, bool (*filter)(FaultAction) = nullptr);

private:
    std::vector<FaultRule> rules_;
};

}  // namespace hbrsim

#endif
