// The module's own commands beside the eUICC access: IMEI, SIM slot,
// MediaTek modem configuration, the AT+GTPCTPOC forms, and the command
// families a module accepts.
#include "sim_module.h"

#include <initializer_list>

namespace hbrsim {

namespace {
constexpr int kCmeInvalidParameter = 50;

bool startsWithAny(const std::string &command, std::initializer_list<const char *> prefixes)
{
    std::string rest;
    for (const char *p : prefixes) {
        if (atStartsWith(command, p, rest)) return true;
    }
    return false;
}

// ,<number> at pos.
bool readCommaNumber(const std::string &s, size_t &pos, size_t &value)
{
    if (pos >= s.size() || s[pos] != ',') return false;
    ++pos;
    return atReadNumber(s, pos, value);
}

// ,"<text>" at pos.
bool readCommaQuoted(const std::string &s, size_t &pos, std::string &text)
{
    if (pos >= s.size() || s[pos] != ',') return false;
    ++pos;
    return atReadQuoted(s, pos, text);
}

// "<apn>",<f>,<p1>,<p2>,<auth>,"<user>","<pass>" (after "<kind>,"). The
// texts are unescaped: the password runs to the last quote.
bool parseApn(const std::string &args, ApnRecord &apn)
{
    size_t pos = 0;
    size_t f = 0, p1 = 0, p2 = 0, auth = 0;
    if (!atReadQuoted(args, pos, apn.apn) || !readCommaNumber(args, pos, f) || !readCommaNumber(args, pos, p1) ||
        !readCommaNumber(args, pos, p2) || !readCommaNumber(args, pos, auth) ||
        !readCommaQuoted(args, pos, apn.username)) {
        return false;
    }
    if (args.size() < pos + 3 || args.compare(pos, 2, ",\"") != 0 || args.back() != '"') return false;
    apn.password = args.substr(pos + 2, args.size() - pos - 3);
    apn.fixed = static_cast<int>(f);
    apn.pdpType = static_cast<int>(p1);
    apn.pdpTypeAgain = static_cast<int>(p2);
    apn.authType = static_cast<int>(auth);
    return true;
}

// The whole argument text is one number.
bool wholeNumber(const std::string &args, size_t &value)
{
    size_t pos = 0;
    return atReadNumber(args, pos, value) && pos == args.size();
}
}  // namespace

std::vector<int> Module::openChannels() const
{
    std::vector<int> open;
    for (int channel = 1; channel < 20; ++channel) {
        if (euicc.channelOpen(channel)) open.push_back(channel);
    }
    return open;
}

bool Module::familyRefuses(const std::string &command) const
{
    switch (config.family) {
    case Family::Channel:
        return startsWithAny(command, {"AT+CSIM", "AT+GTDUALSIM="});
    case Family::Csim:
        return startsWithAny(command, {"AT+CCHO", "AT+CGLA", "AT+CCHC", "AT+ESIMMAP", "AT+ESBP"});
    case Family::Any:
        break;
    }
    return false;
}

bool Module::moduleCommand(const std::string &command, std::string &reply)
{
    std::string args;
    size_t n = 0;
    if (atStartsWith(command, "AT+CGSN?", args) && args.empty()) {
        reply = "\r\n+CGSN: \"" + config.imei + "\"\r\n" + kReplyOk;
    } else if (atStartsWith(command, "AT+GTDUALSIM?", args) && args.empty()) {
        reply = "\r\n+GTDUALSIM: " + std::to_string(config.activeSlot) + "," +
                std::to_string(config.activeSlot == 0 ? 1 : 0) + "\r\n" + kReplyOk;
    } else if (atStartsWith(command, "AT+GTDUALSIM=", args)) {
        if (!wholeNumber(args, n) || n > 1) {
            reply = cmeError(kCmeInvalidParameter);
        } else {
            config.activeSlot = static_cast<int>(n);
            commands.slotChanges.push_back(config.activeSlot);
            reply = kReplyOk;
        }
    } else if (atStartsWith(command, "AT+ESIMMAP=", args)) {
        if (!wholeNumber(args, n) || n < 1 || n > 2) {
            reply = cmeError(kCmeInvalidParameter);
        } else {
            config.activeSlot = static_cast<int>(n) - 1;
            commands.slotChanges.push_back(config.activeSlot);
            reply = kReplyOk;
        }
    } else if (atStartsWith(command, "AT+ESBP=", args)) {
        std::string rest;
        if (atStartsWith(args, "5,\"SBP_MODEM_CXP\",", rest) && wholeNumber(rest, n)) {
            commands.cxpValues.push_back(static_cast<int>(n));
            reply = kReplyOk;
        } else {
            reply = kReplyError;
        }
    } else if (atStartsWith(command, "AT+GTPCTPOC?", args) && args.empty()) {
        reply = "\r\n+GTPCTPOC: prov_iccid: " + config.provIccid + "\r\n+GTPCTPOC: poc_usage_type: " +
                std::to_string(config.pocUsageType) + "\r\n" + kReplyOk;
    } else if (atStartsWith(command, "AT+GTPCTPOC=", args) && !args.empty() && args[0] >= '0' && args[0] <= '5') {
        reply = pctpoc(args);
    } else {
        return false;  // AT+GTPCTPOC=6 and other forms are not module commands of this set
    }
    return true;
}

std::string Module::pctpoc(const std::string &args)
{
    int operation = args[0] - '0';
    std::string rest = args.substr(1);
    if (operation == 3) {
        if (!rest.empty()) return kReplyError;
        ++commands.syncCount;
        // The module's profile-list sync: its first provisioning profile
        // becomes the enabled one (an ES10c EnableProfile through the
        // ISD-R, so the eUICC's rules and notifications apply) and its
        // ICCID is what AT+GTPCTPOC? reports.
        config.provIccid.clear();
        for (const Profile &p : state().profiles) {
            if (p.profileClass == ClassProvisioning) {
                config.provIccid = iccidToDigits(p.iccid);
                if (p.state == 0) {
                    Bytes request = tlv(0xBF31, {tlv(0xA0, {tlv(0x5A, p.iccid)}), tlv(0x81, Bytes{0x00})});
                    euicc.isdr.process(request, nullptr);
                }
                break;
            }
        }
        return kReplyOk;
    }
    if (rest.empty() || rest[0] != ',') return kReplyError;
    rest.erase(0, 1);
    if (operation == 4 || operation == 5) {
        ApnRecord apn;
        if (!parseApn(rest, apn)) return kReplyError;
        commands.apns[operation] = apn;
        return kReplyOk;
    }
    size_t value = 0;
    if (!wholeNumber(rest, value)) return kReplyError;
    int second = static_cast<int>(value);
    commands.reports.emplace_back(operation, second);
    if (operation == 1) {
        config.pocUsageType = second;
    } else if (operation == 0 && second == 1) {
        config.pocUsageType = 0;
    }
    return kReplyOk;
}

}  // namespace hbrsim
