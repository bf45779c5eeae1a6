#include "sim_fault.h"

#include <cJSON.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace hbrsim {

const char *const kMbnRequestKinds[] = {"HELLO",        "LIST_INTERFACES", "OPEN_CONTEXT",  "GET_SERVICE",
                                        "SESSION_STATE", "OPEN_SESSION",   "CLOSE_SESSION", "SET_COMMAND",
                                        "EVENT_NOTIFICATION", nullptr};

FaultLevel FaultRule::level() const
{
    switch (action) {
    case FaultAction::ReplaceReply:
    case FaultAction::Silence:
    case FaultAction::WriterResult:
        return FaultLevel::At;
    case FaultAction::Es10Answer:
    case FaultAction::Es10Result:
        return FaultLevel::Es10;
    case FaultAction::StatusWord:
    case FaultAction::WholeResponse:
    case FaultAction::ResponseData:
    case FaultAction::PieceSize:
    case FaultAction::T0Style:
    case FaultAction::Empty61:
        return FaultLevel::Apdu;
    default:
        return FaultLevel::Transport;
    }
}

bool FaultRule::isCom() const
{
    return action == FaultAction::ComDelay || action == FaultAction::ComPieces ||
           action == FaultAction::ComSilence || action == FaultAction::ComEcho;
}

FaultRule FaultRule::at(const std::string &contains)
{
    FaultRule r;
    r.atText = contains;
    r.action = FaultAction::ReplaceReply;
    return r;
}

FaultRule FaultRule::apdu(int ins, int channel)
{
    FaultRule r;
    r.ins = ins;
    r.channel = channel;
    r.action = FaultAction::StatusWord;
    return r;
}

FaultRule FaultRule::es10(uint32_t tag)
{
    FaultRule r;
    r.es10Tag = tag;
    r.action = FaultAction::Es10Answer;
    return r;
}

FaultRule FaultRule::com(const std::string &contains)
{
    FaultRule r;
    r.atText = contains;
    r.action = FaultAction::ComSilence;
    return r;
}

FaultRule FaultRule::mbn(const std::string &requestKind, const std::string &contains)
{
    FaultRule r;
    r.request = requestKind;
    r.atText = contains;
    r.action = FaultAction::MbnCompletionNever;
    return r;
}

namespace {
uint32_t outerTag(const Bytes &request)
{
    if (request.empty()) return 0;
    if ((request[0] & 0x1F) == 0x1F && request.size() > 1) return (uint32_t(request[0]) << 8) | request[1];
    return request[0];
}

bool matches(const FaultRule &rule, const FaultEvent &event)
{
    switch (event.level) {
    case FaultLevel::At:
        return event.atCommand != nullptr &&
               (rule.atText.empty() || event.atCommand->find(rule.atText) != std::string::npos);
    case FaultLevel::Apdu:
        if (!rule.chainOf.empty() && (event.chainRequest == nullptr || *event.chainRequest != rule.chainOf)) {
            return false;
        }
        if (rule.chainOfTag != 0 && (event.chainRequest == nullptr || outerTag(*event.chainRequest) != rule.chainOfTag)) {
            return false;
        }
        return (rule.ins < 0 || rule.ins == event.ins) && (rule.channel < 0 || rule.channel == event.channel);
    case FaultLevel::Es10:
        if (rule.es10Tag != 0 && rule.es10Tag != event.es10Tag) return false;
        if (!rule.es10Request.empty() && (event.es10Request == nullptr || *event.es10Request != rule.es10Request)) {
            return false;
        }
        return true;
    case FaultLevel::Transport:
        if (rule.isCom() != event.com) return false;
        if (!event.com && !rule.request.empty() && (event.request == nullptr || rule.request != event.request)) {
            return false;
        }
        return rule.atText.empty() ||
               (event.atCommand != nullptr && event.atCommand->find(rule.atText) != std::string::npos);
    }
    return false;
}
}  // namespace

const FaultRule *FaultPlan::fire(const FaultEvent &event, bool (*filter)(FaultAction))
{
    FaultRule *chosen = nullptr;
    for (FaultRule &rule : rules_) {
        if (rule.level() != event.level || (filter != nullptr && !filter(rule.action)) || !matches(rule, event)) {
            continue;
        }
        ++rule.seen;
        if (chosen == nullptr && rule.seen >= rule.fromOccurrence && (rule.times < 0 || rule.fired < rule.times)) {
            ++rule.fired;
            chosen = &rule;
        }
    }
    return chosen;
}

namespace {

struct ActionName {
    const char *name;
    FaultAction action;
};

const ActionName kActions[] = {
    {"reply", FaultAction::ReplaceReply},
    {"silence", FaultAction::Silence},
    {"writer-result", FaultAction::WriterResult},
    {"status-word", FaultAction::StatusWord},
    {"whole-response", FaultAction::WholeResponse},
    {"response-data", FaultAction::ResponseData},
    {"pieces", FaultAction::PieceSize},
    {"t0", FaultAction::T0Style},
    {"empty61", FaultAction::Empty61},
    {"es10-answer", FaultAction::Es10Answer},
    {"es10-result", FaultAction::Es10Result},
    {"com-delay", FaultAction::ComDelay},
    {"com-pieces", FaultAction::ComPieces},
    {"com-silence", FaultAction::ComSilence},
    {"com-echo", FaultAction::ComEcho},
    {"response-hr", FaultAction::MbnResponseHr},
    {"completion-delay", FaultAction::MbnCompletionDelay},
    {"completion-never", FaultAction::MbnCompletionNever},
    {"completion-early", FaultAction::MbnCompletionEarly},
    {"completion-status", FaultAction::MbnCompletionStatus},
    {"completion-response-id", FaultAction::MbnCompletionResponseId},
    {"payload-form", FaultAction::MbnPayloadForm},
    {"service-absent", FaultAction::MbnServiceAbsent},
    {"max-command-size", FaultAction::MbnMaxCommandSize},
    {"session-open", FaultAction::MbnSessionOpen},
};

// A JSON number, or a string read with strtoll (base 0: "0x.." is hex);
// `hexString` reads strings as hex without prefix (tags such as "BF2D").
bool readInteger(const cJSON *item, int64_t &out, bool hexString = false)
{
    if (cJSON_IsNumber(item)) {
        // Beyond +-2^53 a double no longer holds every integer; refuse it
        // rather than convert out of range.
        if (!(item->valuedouble >= -9007199254740992.0 && item->valuedouble <= 9007199254740992.0)) return false;
        out = static_cast<int64_t>(item->valuedouble);
        return static_cast<double>(out) == item->valuedouble;
    }
    if (!cJSON_IsString(item) || item->valuestring[0] == '\0') return false;
    errno = 0;
    char *end = nullptr;
    const char *text = item->valuestring;
    long long v = hexString && std::strncmp(text, "0x", 2) != 0 ? std::strtoll(text, &end, 16)
                                                                : std::strtoll(text, &end, 0);
    if (errno != 0 || *end != '\0') return false;
    out = v;
    return true;
}

}  // namespace

bool parseFaultRuleJson(const std::string &json, FaultRule &rule, std::string *error)
{
    auto fail = [error](const std::string &why) {
        if (error != nullptr) *error = why;
        return false;
    };
    std::unique_ptr<cJSON, void (*)(cJSON *)> root(cJSON_ParseWithLength(json.data(), json.size()), cJSON_Delete);
    if (!root || !cJSON_IsObject(root.get())) return fail("not a JSON object");
    FaultRule r;
    const cJSON *actionItem = cJSON_GetObjectItemCaseSensitive(root.get(), "action");
    if (!cJSON_IsString(actionItem)) return fail("no \"action\"");
    bool known = false;
    for (const ActionName &a : kActions) {
        if (std::strcmp(a.name, actionItem->valuestring) == 0) {
            r.action = a.action;
            known = true;
        }
    }
    if (!known) return fail(std::string("unknown action \"") + actionItem->valuestring + "\"");

    const cJSON *item = nullptr;
    cJSON_ArrayForEach(item, root.get())
    {
        const std::string key = item->string;
        int64_t n = 0;
        bool ok = true;
        if (key == "action") {
        } else if (key == "at" || key == "text" || key == "request") {
            ok = cJSON_IsString(item);
            if (ok) (key == "at" ? r.atText : key == "text" ? r.text : r.request) = item->valuestring;
            if (ok && key == "request") {
                bool found = false;
                for (const char *const *k = kMbnRequestKinds; *k != nullptr; ++k) found = found || r.request == *k;
                if (!found) return fail("unknown request kind \"" + r.request + "\"");
            }
        } else if (key == "hex" || key == "es10Request" || key == "chainOf") {
            Bytes b;
            ok = cJSON_IsString(item) && fromHex(item->valuestring, b);
            if (ok) (key == "hex" ? r.bytes : key == "es10Request" ? r.es10Request : r.chainOf) = b;
        } else if (key == "times" && cJSON_IsString(item) && std::strcmp(item->valuestring, "always") == 0) {
            r.times = -1;
        } else if (key == "es10Tag" || key == "chainOfTag") {
            ok = readInteger(item, n, true) && n >= 0 && n <= 0xFFFF;
            if (ok) (key == "es10Tag" ? r.es10Tag : r.chainOfTag) = static_cast<uint32_t>(n);
        } else if (key == "ins" || key == "channel" || key == "from" || key == "times" || key == "number" ||
                   key == "ms") {
            ok = readInteger(item, n) && (key == "number" || key == "ms" || (n >= -1 && n <= 0x7FFFFFFF));
            if (ok && key == "ins") r.ins = static_cast<int>(n);
            if (ok && key == "channel") r.channel = static_cast<int>(n);
            if (ok && key == "from") r.fromOccurrence = static_cast<int>(n);
            if (ok && key == "times") r.times = static_cast<int>(n);
            if (ok && key == "number") r.number = n;
            if (ok && key == "ms") {
                ok = n >= 0;
                r.delayMs = n;
            }
        } else {
            return fail("unknown key \"" + key + "\"");
        }
        if (!ok) return fail("bad value for \"" + key + "\"");
    }
    if (r.action == FaultAction::MbnPayloadForm && (r.number < 0 || r.number > 2)) {
        return fail("payload-form takes number 0 (prefixed), 1 (plain) or 2 (NUL inside)");
    }
    if (r.action == FaultAction::ComPieces && r.number < 1) return fail("com-pieces needs a number of at least 1");
    if (!r.request.empty() && (r.level() != FaultLevel::Transport || r.isCom())) {
        return fail("\"request\" belongs to device-service actions");
    }
    rule = r;
    return true;
}

}  // namespace hbrsim
