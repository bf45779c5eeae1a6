#include "sim_module.h"

#include <cctype>
#include <chrono>

namespace hbrsim {

const char kReplyOk[] = "\r\nOK\r\n";
const char kReplyError[] = "\r\nERROR\r\n";

std::string cmeError(int code)
{
    return "\r\n+CME ERROR: " + std::to_string(code) + "\r\n";
}

namespace {
constexpr int kCmeInvalidParameter = 50;
constexpr int kCmeNotFound = 22;
constexpr int kCmeChannel = 21;
constexpr int kCmeNotAllowed = 3;

bool writerFault(FaultAction a)
{
    return a == FaultAction::WriterResult;
}

bool replyFault(FaultAction a)
{
    return a == FaultAction::ReplaceReply || a == FaultAction::Silence;
}
}  // namespace

bool atStartsWith(const std::string &s, const char *prefix, std::string &rest)
{
    size_t n = std::char_traits<char>::length(prefix);
    if (s.size() < n) return false;
    for (size_t i = 0; i < n; ++i) {
        if (std::toupper(static_cast<unsigned char>(s[i])) != prefix[i]) return false;
    }
    rest = s.substr(n);
    return true;
}

// Reads a decimal number at pos (at least one digit, at most 6).
bool atReadNumber(const std::string &s, size_t &pos, size_t &value)
{
    size_t start = pos;
    value = 0;
    while (pos < s.size() && std::isdigit(static_cast<unsigned char>(s[pos])) && pos - start < 6) {
        value = value * 10 + static_cast<size_t>(s[pos] - '0');
        ++pos;
    }
    return pos > start && (pos >= s.size() || !std::isdigit(static_cast<unsigned char>(s[pos])));
}

// Reads "<hex>" at pos; the text between the quotes goes to hex.
bool atReadQuoted(const std::string &s, size_t &pos, std::string &hex)
{
    if (pos >= s.size() || s[pos] != '"') return false;
    size_t close = s.find('"', pos + 1);
    if (close == std::string::npos) return false;
    hex = s.substr(pos + 1, close - pos - 1);
    pos = close + 1;
    return true;
}

namespace {
std::string apduReply(const char *name, const Bytes &response)
{
    return std::string("\r\n") + name + ": " + std::to_string(response.size() * 2) + ",\"" + toHex(response) +
           "\"\r\n" + kReplyOk;
}

// <len>,"<hex>" with len equal to the number of hex characters.
bool readLengthAndHex(const std::string &args, size_t pos, Bytes &apdu)
{
    size_t length = 0;
    std::string hex;
    if (!atReadNumber(args, pos, length) || pos >= args.size() || args[pos] != ',') return false;
    ++pos;
    if (!atReadQuoted(args, pos, hex) || pos != args.size()) return false;
    return hex.size() == length && fromHex(hex, apdu);
}
}  // namespace

std::string Module::handle(const std::string &command, Transport transport)
{
    return exchange(command, Writer::None, 0, transport).reply;
}

AtExchange Module::exchange(const std::string &command, Writer writer, int32_t platformType, Transport transport)
{
    AtRecord record;
    record.command = command;
    record.writer = writer;
    record.platformType = platformType;
    record.transport = transport;
    record.timeMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::system_clock::now().time_since_epoch())
                        .count();
    AtExchange out;
    FaultEvent event;
    event.level = FaultLevel::At;
    event.atCommand = &command;
    const FaultRule *rule = nullptr;
    if (writer != Writer::None && (rule = faults().fire(event, writerFault)) != nullptr) {
        out.writerResult = rule->number == kWriterLengthMinusOne ? static_cast<int64_t>(command.size()) - 1
                                                                 : rule->number;
        out.reply = rule->text;
    } else if ((rule = faults().fire(event, replyFault)) != nullptr) {
        out.reply = rule->action == FaultAction::Silence ? std::string() : rule->text;
    } else if (pendingSysstart_) {
        pendingSysstart_ = false;
        out.reply = "\r\n^SYSSTART\r\n";
    } else {
        out.reply = execute(command);
    }
    record.reply = out.reply;
    record.writerResult = out.writerResult;
    records().at.push_back(record);
    return out;
}

std::string Module::execute(const std::string &original)
{
    std::string command = original;
    while (!command.empty() && (command.back() == '\r' || command.back() == '\n')) command.pop_back();
    std::string args;
    if (familyRefuses(command)) return kReplyError;
    if (std::optional<std::string> reply = transportCommand(command)) return *reply;
    if (atStartsWith(command, "AT+CSIM=", args)) return csim(args);
    if (atStartsWith(command, "AT+CCHO=", args)) return ccho(args, original);
    if (atStartsWith(command, "AT+CGLA=", args)) return cgla(args);
    if (atStartsWith(command, "AT+CCHC=", args)) return cchc(args);
    if (atStartsWith(command, "AT+CFUN=", args) && args == "1,1") {
        euicc.reset();
        pendingSysstart_ = config.sysstartAfterReset;
        return kReplyOk;
    }
    std::string reply;
    if (moduleCommand(command, reply)) return reply;
    return kReplyError;
}

std::string Module::csim(const std::string &args)
{
    Bytes apdu;
    if (!readLengthAndHex(args, 0, apdu)) return cmeError(kCmeInvalidParameter);
    if (!apdu.empty() && apdu[0] != 0xFF) {
        int channel = Euicc::channelOf(apdu[0]);
        if (!euicc.channelOpen(channel)) return cmeError(kCmeChannel);
        if (apdu.size() >= 4 && apdu[1] == 0x70 && apdu[2] == 0x80 && !euicc.channelOpen(apdu[3])) {
            return cmeError(kCmeChannel);
        }
    }
    return apduReply("+CSIM", euicc.transmit(apdu));
}

std::string Module::ccho(const std::string &args, const std::string &original)
{
    size_t pos = 0;
    std::string hex;
    Bytes aid;
    if (!atReadQuoted(args, pos, hex) || pos != args.size() || !fromHex(hex, aid) || aid.empty()) {
        return cmeError(kCmeInvalidParameter);
    }
    if (aid != kIsdrAid) return cmeError(kCmeNotFound);
    Bytes opened = euicc.transmit(hexBytes("0070000001"));
    if (opened.size() != 3 || opened[1] != 0x90 || opened[2] != 0x00 || !euicc.channelOpen(opened[0]) ||
        opened[0] == 0) {
        return cmeError(kCmeNotAllowed);
    }
    int channel = opened[0];
    Bytes select{Euicc::claForChannel(0x00, channel), 0xA4, 0x04, 0x00, static_cast<uint8_t>(aid.size())};
    append(select, aid);
    select.push_back(0x00);
    Bytes selected = euicc.transmit(select);
    uint8_t sw1 = selected.size() >= 2 ? selected[selected.size() - 2] : 0;
    uint8_t sw2 = selected.size() >= 2 ? selected[selected.size() - 1] : 0;
    if (!((sw1 == 0x90 && sw2 == 0x00) || sw1 == 0x61 || sw1 == 0x91)) {
        euicc.transmit(Bytes{0x00, 0x70, 0x80, static_cast<uint8_t>(channel), 0x00});
        return cmeError(kCmeNotFound);
    }
    std::string reply;
    if (config.cchoForm == CchoForm::Echo || config.cchoForm == CchoForm::Prefixed) {
        reply = original;
        if (reply.empty() || reply.back() != '\r') reply.push_back('\r');
    }
    if (config.cchoForm != CchoForm::Bare) reply += "\r\n";
    if (config.cchoForm == CchoForm::Prefixed) reply += "+CCHO: ";
    return reply + std::to_string(channel) + "\r\n" + kReplyOk;
}

std::string Module::cgla(const std::string &args)
{
    size_t pos = 0;
    size_t channel = 0;
    Bytes apdu;
    if (!atReadNumber(args, pos, channel) || pos >= args.size() || args[pos] != ',' ||
        !readLengthAndHex(args, pos + 1, apdu) || apdu.empty()) {
        return cmeError(kCmeInvalidParameter);
    }
    if (channel == 0 || !euicc.channelOpen(static_cast<int>(channel))) return cmeError(kCmeChannel);
    apdu[0] = Euicc::claForChannel(apdu[0], static_cast<int>(channel));
    return apduReply("+CGLA", euicc.transmit(apdu));
}

std::string Module::cchc(const std::string &args)
{
    size_t pos = 0;
    size_t channel = 0;
    if (!atReadNumber(args, pos, channel) || pos != args.size()) return cmeError(kCmeInvalidParameter);
    if (channel == 0 || !euicc.channelOpen(static_cast<int>(channel))) return cmeError(kCmeChannel);
    euicc.transmit(Bytes{0x00, 0x70, 0x80, static_cast<uint8_t>(channel), 0x00});
    return kReplyOk;
}

// ---------------------------------------------------------------------------
// The platform preset, the sync answer, notifications and the COM port's
// shaping of replies (hbr-modem-sim's transports).

const char *transportName(Transport t)
{
    switch (t) {
    case Transport::Com:
        return "com";
    case Transport::Mbn:
        return "mbn";
    default:
        return "none";
    }
}

bool parsePlatformPreset(const std::string &text, PlatformPreset &out)
{
    static const PlatformPreset all[] = {PlatformPreset::Pci0, PlatformPreset::Usb1, PlatformPreset::Usb2,
                                         PlatformPreset::Unknown};
    for (PlatformPreset p : all) {
        if (text == platformPresetName(p)) {
            out = p;
            return true;
        }
    }
    return false;
}

const char *platformPresetName(PlatformPreset preset)
{
    switch (preset) {
    case PlatformPreset::Pci0:
        return "0";
    case PlatformPreset::Usb1:
        return "1";
    case PlatformPreset::Usb2:
        return "2";
    default:
        return "none";
    }
}


bool Module::setSync(int status, const std::string &pending)
{
    if (status < 0 || status > 2) return false;
    std::string word = pending.empty() ? "0" : pending;
    if (word != "0" && word != "ACTIVE" && word != "DEACTIVE") return false;
    sync.status = status;
    sync.pending = word;
    return true;
}

std::optional<std::string> Module::transportCommand(const std::string &command)
{
    std::string args;
    if (atStartsWith(command, "AT+GTPCTPOC=", args) && args == "6") {
        return "\r\n+GTPCTPOC: " + sync.pending + "," + std::to_string(sync.status) + "\r\n" + kReplyOk;
    }
    return std::nullopt;
}

int Module::subscribeUnsolicited(std::function<void(const Unsolicited &)> sink)
{
    int id = nextSink_++;
    sinks_[id] = std::move(sink);
    return id;
}

void Module::unsubscribeUnsolicited(int id)
{
    sinks_.erase(id);
}

void Module::unsolicited(const Unsolicited &message)
{
    for (auto &entry : sinks_) entry.second(message);
}

namespace {
bool comShape(FaultAction a)
{
    return a == FaultAction::ComDelay || a == FaultAction::ComPieces || a == FaultAction::ComSilence;
}

bool comEcho(FaultAction a)
{
    return a == FaultAction::ComEcho;
}
}  // namespace

std::vector<ComPiece> Module::comExchange(const std::string &command, bool portEcho)
{
    FaultEvent event;
    event.level = FaultLevel::Transport;
    event.com = true;
    event.atCommand = &command;
    if (const FaultRule *echo = faults().fire(event, comEcho)) portEcho = echo->number != 0;
    const FaultRule *shape = faults().fire(event, comShape);
    std::string reply = handle(command, Transport::Com);

    std::vector<ComPiece> pieces;
    if (shape != nullptr && shape->action == FaultAction::ComSilence) return pieces;
    if (portEcho) pieces.push_back(ComPiece{0, command});
    if (reply.empty()) return pieces;
    if (shape != nullptr && shape->action == FaultAction::ComPieces && shape->number > 0) {
        size_t size = static_cast<size_t>(shape->number);
        for (size_t at = 0; at < reply.size(); at += size) {
            pieces.push_back(ComPiece{at == 0 ? 0 : shape->delayMs, reply.substr(at, size)});
        }
        return pieces;
    }
    pieces.push_back(ComPiece{shape != nullptr ? shape->delayMs : 0, reply});
    return pieces;
}

}  // namespace hbrsim
