#include "sim_fault.h"

namespace hbrsim {

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
    default:
        return FaultLevel::Apdu;
    }
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

}  // namespace hbrsim
