#include "modem_simulator.h"

#include "sim_seed.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <stdexcept>

#include <sys/stat.h>
#include <unistd.h>

namespace hbrmodemsim {

using hbrsim::FaultAction;
using hbrsim::FaultEvent;
using hbrsim::FaultLevel;
using hbrsim::FaultRule;

const char kUsage[] =
    "usage: hbr-modem-sim [--state-dir DIR] [--sysfs-root DIR] [--dev-root DIR] [--socket PATH]\n"
    "                     [--control PATH] [--platform 0|1|2|none] [--tty-name NAME]\n"
    "                     [--interface-id TEXT] [--no-com] [--no-mbn] [--echo] [--seed FILE]\n"
    "                     [--record FILE] [--interface-drop MS|arrive]\n"
    "       hbr-modem-sim --stdin [--seed FILE]\n"
    "       hbr-modem-sim ctl [--control PATH] COMMAND...\n";

bool parseOptions(const std::vector<std::string> &args, Options &options, std::string *error)
{
    Options o;
    struct PathOption {
        const char *name;
        std::string Options::*field;
    };
    const PathOption valued[] = {
        {"--state-dir", &Options::stateDir},    {"--sysfs-root", &Options::sysfsRoot},
        {"--dev-root", &Options::devRoot},      {"--socket", &Options::socketPath},
        {"--control", &Options::controlPath},   {"--platform", &Options::platform},
        {"--tty-name", &Options::ttyName},      {"--interface-id", &Options::interfaceId},
        {"--seed", &Options::seedPath},         {"--record", &Options::recordPath},
        {"--interface-drop", &Options::interfaceDrop},
    };
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &a = args[i];
        bool done = false;
        for (const PathOption &p : valued) {
            if (a != p.name) continue;
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                if (error) *error = a + " needs a value";
                return false;
            }
            o.*p.field = args[++i];
            done = true;
        }
        if (done) continue;
        if (a == "--no-com") o.com = false;
        else if (a == "--no-mbn") o.mbn = false;
        else if (a == "--echo") o.echo = true;
        else if (a == "--stdin") o.stdinMode = true;
        else {
            if (error) *error = "unknown option " + a;
            return false;
        }
    }
    hbrsim::PlatformPreset preset;
    if (!hbrsim::parsePlatformPreset(o.platform, preset)) {
        if (error) *error = "--platform takes 0, 1, 2 or none, not " + o.platform;
        return false;
    }
    if (o.ttyName.find('/') != std::string::npos || o.ttyName == "." || o.ttyName == "..") {
        if (error) *error = "--tty-name takes a plain name, not " + o.ttyName;
        return false;
    }
    options = o;
    return true;
}

namespace {

const char *requestName(uint16_t type)
{
    return type >= kDsHello && type <= kDsSetCommand ? hbrsim::kMbnRequestKinds[type - 1] : nullptr;
}

bool isResponseHr(FaultAction a) { return a == FaultAction::MbnResponseHr; }
bool isTiming(FaultAction a)
{
    return a == FaultAction::MbnCompletionDelay || a == FaultAction::MbnCompletionNever ||
           a == FaultAction::MbnCompletionEarly;
}
bool isStatus(FaultAction a) { return a == FaultAction::MbnCompletionStatus; }
bool isResponseId(FaultAction a) { return a == FaultAction::MbnCompletionResponseId; }
bool isForm(FaultAction a) { return a == FaultAction::MbnPayloadForm; }
bool isAbsent(FaultAction a) { return a == FaultAction::MbnServiceAbsent; }
bool isMaxSize(FaultAction a) { return a == FaultAction::MbnMaxCommandSize; }

PayloadForm formOf(int64_t n)
{
    return n == int64_t(hbrsim::PayloadForm::Plain)       ? PayloadForm::Plain
           : n == int64_t(hbrsim::PayloadForm::NulInside) ? PayloadForm::NulInside
                                                          : PayloadForm::Prefixed;
}

Record record(const char *transport, const char *kind, const std::string &text)
{
    Record r;
    r.transport = transport;
    r.kind = kind;
    r.text = text;
    return r;
}

// The first word of a line and the rest after the blanks that follow it.
std::string splitWord(const std::string &line, std::string &rest)
{
    size_t end = line.find(' ');
    std::string word = line.substr(0, end);
    rest = end == std::string::npos ? std::string() : line.substr(line.find_first_not_of(' ', end) == std::string::npos
                                                                       ? line.size()
                                                                       : line.find_first_not_of(' ', end));
    return word;
}

// A decimal number of at most 19 digits.
bool parseDecimal(const std::string &text, unsigned long long *value)
{
    if (text.empty() || text.size() > 19 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    *value = std::strtoull(text.c_str(), nullptr, 10);
    return true;
}

bool makeFolder(const std::string &path, bool &made, std::string *error)
{
    if (mkdir(path.c_str(), 0755) == 0) {
        made = true;
        return true;
    }
    struct stat st;
    if (errno == EEXIST && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return true;
    if (error) *error = "cannot create " + path + ": " + std::strerror(errno);
    return false;
}

}  // namespace

Simulator::Simulator(const Options &options) : options_(options) {}

bool Simulator::start(std::string *error)
{
    if (started_) return true;
    started_ = true;
    {
        std::lock_guard<std::mutex> lock(stopLock_);
        stopping_ = false;
    }
    if (setUp(error)) return true;
    stop();
    return false;
}

bool Simulator::setUp(std::string *error)
{
    Options &o = options_;
    hbrsim::Seed seed;
    if (!o.seedPath.empty() && !hbrsim::loadSeedFile(o.seedPath, seed, error)) return false;

    // Paths first, so that an over-long socket path is refused before
    // anything is created. A fresh state folder has the template's length.
    std::string state = o.stateDir;
    if (state.empty()) {
        const char *tmp = std::getenv("TMPDIR");
        state = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/hbr-modem-sim.XXXXXX";
    }
    std::string socketPath = o.socketPath.empty() ? state + "/mbn.sock" : o.socketPath;
    std::string controlPath = o.controlPath.empty() ? state + "/control.sock" : o.controlPath;
    if ((o.mbn && !checkSocketPath(socketPath, error)) || !checkSocketPath(controlPath, error)) return false;
    if (o.stateDir.empty()) {
        std::vector<char> buffer(state.begin(), state.end());
        buffer.push_back('\0');
        if (mkdtemp(buffer.data()) == nullptr) {
            if (error) *error = "cannot create a state folder " + state + ": " + std::strerror(errno);
            return false;
        }
        o.stateDir = buffer.data();
        madeStateDir_ = true;
    } else if (!makeFolder(o.stateDir, madeStateDir_, error)) {
        return false;
    }
    if (o.sysfsRoot.empty()) o.sysfsRoot = o.stateDir + "/sysfs";
    if (o.devRoot.empty()) o.devRoot = o.stateDir + "/dev";
    if (o.socketPath.empty()) o.socketPath = o.stateDir + "/mbn.sock";
    if (o.controlPath.empty()) o.controlPath = o.stateDir + "/control.sock";
    if (o.recordPath.empty()) o.recordPath = o.stateDir + "/records.jsonl";

    withModule([&](hbrsim::Module &m) {
        hbrsim::applySeed(seed, m);
        hbrsim::parsePlatformPreset(o.platform, m.platform);
    });
    if (!records_.open(o.recordPath, error)) return false;
    try {
        sysfs_.reset(new FakeSysfs(o.sysfsRoot));
        PresetNames names;
        names.ttyName = o.ttyName;
        if (!buildModulePreset(*sysfs_, o.platform, names, error)) return false;
    } catch (const std::exception &ex) {
        if (error) *error = std::string("cannot build the sysfs tree: ") + ex.what();
        return false;
    }
    if (o.com) {
        if (!makeFolder(o.devRoot, madeDevRoot_, error)) return false;
        if (!pty_.start(o.devRoot, o.ttyName, [this](const std::string &c) { onComCommand(c); }, error)) {
            return false;
        }
    }
    if (o.mbn) {
        mbn_.reset(new DeviceServiceServer(
            o.socketPath,
            [this](const std::string &command) {
                return withModule([&](hbrsim::Module &m) { return m.handle(command, hbrsim::Transport::Mbn); });
            },
            o.interfaceId));
        mbn_->setRequestFaultHook([this](uint16_t type, const std::string &command, DeviceServiceFaults &f) {
            onDeviceServiceRequest(type, command, f);
        });
        mbn_->setObserver([this](DsExchange kind, const std::string &text) {
            static const char *const kinds[] = {kKindCommand,        kKindReply,       kKindNotification,
                                                kKindInterfaceState, kKindSessionOpen, kKindSessionClose};
            if (kind == DsExchange::Notification) return;  // recorded with its event id by onNotification
            Record r = record("mbn", kinds[static_cast<int>(kind)], text);
            if (kind == DsExchange::Command) r.numbers["commandId"] = 1;
            records_.add(r);
            if (kind == DsExchange::Reply && dropper_.joinable()) {
                const size_t changes = withModule([](hbrsim::Module &m) { return m.commands.slotChanges.size(); });
                std::lock_guard<std::mutex> lock(stopLock_);
                if (changes > slotChangesSeen_) {
                    slotChangesSeen_ = changes;
                    dropPending_ = true;
                    stopWake_.notify_all();
                }
            }
        });
        applyStandingFaults();
        if (!mbn_->start(error)) return false;
        if (!o.interfaceDrop.empty()) {
            char *end = nullptr;
            const long ms = o.interfaceDrop == "arrive" ? -1 : std::strtol(o.interfaceDrop.c_str(), &end, 10);
            if (ms < -1 || (end != nullptr && (*end != '\0' || end == o.interfaceDrop.c_str()))) {
                if (error) *error = "--interface-drop takes a number of ms or \"arrive\"";
                return false;
            }
            slotChangesSeen_ = withModule([](hbrsim::Module &m) { return m.commands.slotChanges.size(); });
            dropper_ = std::thread([this, ms] { interfaceDropLoop(ms); });
        }
        withModule([&](hbrsim::Module &m) {
            notificationSink_ = m.subscribeUnsolicited([this](const hbrsim::Unsolicited &u) { onNotification(u); });
        });
    }
    return control_.start(o.controlPath, [this](const std::string &line) { return control(line); }, error);
}

void Simulator::stop()
{
    if (!started_) return;
    started_ = false;
    control_.stop();
    withModule([&](hbrsim::Module &m) { m.unsubscribeUnsolicited(notificationSink_); });
    if (mbn_) mbn_->stop();
    {
        std::lock_guard<std::mutex> lock(stopLock_);
        stopping_ = true;
    }
    stopWake_.notify_all();
    if (dropper_.joinable()) dropper_.join();
    if (comUnsolicited_.joinable()) comUnsolicited_.join();
    pty_.stop();
    sysfs_.reset();
    if (madeDevRoot_) rmdir(options_.devRoot.c_str());
    records_.close();
    // A state folder made here stays when it holds the records.
    if (madeStateDir_) rmdir(options_.stateDir.c_str());
    madeDevRoot_ = madeStateDir_ = false;
}

std::vector<std::string> Simulator::environment() const
{
    return {"HBR_SYSFS_ROOT=" + options_.sysfsRoot, "HBR_DEV_ROOT=" + options_.devRoot,
            "HBR_MBN_SOCKET=" + options_.socketPath, "HBR_MODEM_CONTROL=" + options_.controlPath,
            "HBR_MODEM_RECORDS=" + options_.recordPath};
}

void Simulator::recordEs10()
{
    const std::vector<hbrsim::Es10Record> &es10 = module_.records().es10;
    if (es10.size() < es10Recorded_) es10Recorded_ = 0;  // the records were cleared
    for (; es10Recorded_ < es10.size(); ++es10Recorded_) {
        const hbrsim::Es10Record &e = es10[es10Recorded_];
        Record r = record(hbrsim::transportName(module_.records().at.empty() ? hbrsim::Transport::None
                                                                            : module_.records().at.back().transport),
                          kKindEs10, hbrsim::toHex(e.request) + " " + hbrsim::toHex(e.response));
        r.numbers["tag"] = e.tag;
        r.numbers["sw"] = e.sw;
        records_.add(r);
    }
}

// The reply goes out as soon as the observer returns: the removal follows
// it by 100 ms.
void Simulator::interfaceDropLoop(long arrivalMs)
{
    std::unique_lock<std::mutex> lock(stopLock_);
    for (;;) {
        stopWake_.wait(lock, [this] { return stopping_ || dropPending_; });
        dropPending_ = false;
        if (stopping_ || stopWake_.wait_for(lock, std::chrono::milliseconds(100), [this] { return stopping_; })) return;
        lock.unlock();
        mbn_->removeInterface();
        lock.lock();
        if (arrivalMs < 0) continue;
        if (stopWake_.wait_for(lock, std::chrono::milliseconds(arrivalMs), [this] { return stopping_; })) return;
        lock.unlock();
        mbn_->arriveInterface();
        lock.lock();
    }
}

void Simulator::onComCommand(const std::string &command)
{
    records_.add(record("com", kKindCommand, command));
    std::vector<hbrsim::ComPiece> pieces =
        withModule([&](hbrsim::Module &m) { return m.comExchange(command, options_.echo); });
    std::string sent;
    std::lock_guard<std::mutex> replying(comWriteLock_);
    for (const hbrsim::ComPiece &piece : pieces) {
        std::unique_lock<std::mutex> lock(stopLock_);
        if (stopWake_.wait_for(lock, std::chrono::milliseconds(piece.delayMs), [this] { return stopping_; })) break;
        lock.unlock();
        if (pty_.write(piece.bytes)) sent += piece.bytes;
    }
    if (!pieces.empty()) records_.add(record("com", kKindReply, sent));
}

void Simulator::comUnsolicitedLoop()
{
    std::unique_lock<std::mutex> lock(stopLock_);
    while (!stopping_) {
        const long every = comUnsolicitedMs_;
        const std::string text = comUnsolicitedText_;
        auto changed = [&] { return stopping_ || comUnsolicitedMs_ != every || comUnsolicitedText_ != text; };
        if (every <= 0) {
            stopWake_.wait(lock, changed);
            continue;
        }
        if (stopWake_.wait_for(lock, std::chrono::milliseconds(every), changed)) continue;
        lock.unlock();
        {
            std::lock_guard<std::mutex> writing(comWriteLock_);
            if (pty_.write(text)) records_.add(record("com", kKindNotification, text));
        }
        lock.lock();
    }
}

// com-unsolicited MS [TEXT]: TEXT (C escapes) on the AT port every MS ms,
// between replies; 0 stops.
std::string Simulator::comUnsolicited(const std::string &args)
{
    std::string rest;
    const std::string every = splitWord(args, rest);
    std::string text = "\r\n+CREG: 1\r\n";
    std::string why;
    const char *usage = "ERR usage: com-unsolicited MS [TEXT]";
    if (every.empty() || every.size() > 9 || every.find_first_not_of("0123456789") != std::string::npos) return usage;
    if (!rest.empty() && !cUnescape(rest, text, &why)) return "ERR " + why;
    {
        std::lock_guard<std::mutex> lock(stopLock_);
        comUnsolicitedMs_ = std::strtol(every.c_str(), nullptr, 10);
        comUnsolicitedText_ = text;
    }
    stopWake_.notify_all();
    if (!comUnsolicited_.joinable()) comUnsolicited_ = std::thread([this] { comUnsolicitedLoop(); });
    return "OK";
}

// The AT port goes away (the agent's descriptor is hung up) and comes back
// as a fresh pty under the same name.
std::string Simulator::portReset()
{
    pty_.stop();
    std::string error;
    std::lock_guard<std::mutex> writing(comWriteLock_);
    if (!pty_.start(options_.devRoot, options_.ttyName, [this](const std::string &c) { onComCommand(c); }, &error)) {
        return "ERR " + error;
    }
    return "OK " + pty_.slavePath();
}

void Simulator::onDeviceServiceRequest(uint16_t type, const std::string &command, DeviceServiceFaults &f)
{
    withModule([&](hbrsim::Module &m) { applyDeviceServiceFaults(m.faults(), type, command, f); });
}

void applyDeviceServiceFaults(hbrsim::FaultPlan &plan, uint16_t type, const std::string &command,
                              DeviceServiceFaults &f)
{
    const char *name = requestName(type);
    if (name == nullptr || plan.empty()) return;
    FaultEvent e;
    e.level = FaultLevel::Transport;
    e.request = name;
    e.atCommand = command.empty() ? nullptr : &command;
    if (const FaultRule *r = plan.fire(e, isResponseHr)) f.responseHr[type] = static_cast<int32_t>(r->number);
    if (type == kDsOpenSession || type == kDsCloseSession || type == kDsSetCommand) {
        CompletionFault &cf =
            type == kDsOpenSession ? f.openSession : type == kDsCloseSession ? f.closeSession : f.setCommand;
        if (const FaultRule *r = plan.fire(e, isTiming)) {
            cf.timing = r->action == FaultAction::MbnCompletionNever   ? CompletionTiming::Never
                        : r->action == FaultAction::MbnCompletionEarly ? CompletionTiming::BeforeResponse
                                                                       : CompletionTiming::Delayed;
            cf.delayMs = static_cast<unsigned>(r->delayMs);
        }
        if (const FaultRule *r = plan.fire(e, isStatus)) {
            cf.replaceStatus = true;
            cf.status = static_cast<int32_t>(r->number);
        }
        if (const FaultRule *r = type == kDsSetCommand ? plan.fire(e, isResponseId) : nullptr) {
            cf.replaceResponseId = true;
            cf.responseId = static_cast<uint32_t>(r->number);
        }
    }
    if (type == kDsSetCommand) {
        if (const FaultRule *r = plan.fire(e, isForm)) f.replyForm = formOf(r->number);
    }
    if (type >= kDsGetService && plan.fire(e, isAbsent) != nullptr) f.privateServiceAbsent = true;
    if (type == kDsOpenContext || type == kDsSetCommand) {
        if (const FaultRule *r = plan.fire(e, isMaxSize)) f.maxCommandSize = static_cast<uint32_t>(r->number);
    }
}

void Simulator::onNotification(const hbrsim::Unsolicited &message)
{
    // Runs inside Module::unsolicited, under the module lock.
    PayloadForm form = PayloadForm::Prefixed;
    FaultEvent e;
    e.level = FaultLevel::Transport;
    e.request = "EVENT_NOTIFICATION";
    e.atCommand = &message.text;
    if (const FaultRule *r = module_.faults().fire(e, isForm)) form = formOf(r->number);
    if (message.plain) form = PayloadForm::Plain;
    Record r = record("mbn", kKindNotification, message.text);
    r.numbers["eventId"] = message.eventId;
    records_.add(r);
    mbn_->notify(message.eventId, message.text, form);
}

// Faults that are a standing state rather than one request's: the session
// open from the start.
void Simulator::applyStandingFaults()
{
    if (!mbn_) return;
    DeviceServiceFaults base;
    withModule([&](hbrsim::Module &m) {
        for (const FaultRule &r : m.faults().rules()) {
            base.sessionOpenAtStart = base.sessionOpenAtStart || r.action == FaultAction::MbnSessionOpen;
        }
    });
    mbn_->setFaults(base);
}

std::string Simulator::notifyRaw(const std::string &args)
{
    hbrsim::Unsolicited message;
    std::string rest = args;
    while (rest.compare(0, 2, "--") == 0) {
        std::string tail;
        std::string option = splitWord(rest, tail);
        if (option == "--plain") {
            message.plain = true;
        } else if (option.compare(0, 11, "--event-id=") == 0 && option.size() > 11 &&
                   option.find_first_not_of("0123456789", 11) == std::string::npos && option.size() <= 20) {
            unsigned long long id = std::strtoull(option.c_str() + 11, nullptr, 10);
            if (id > 0xFFFFFFFFull) return "ERR event id out of range";
            message.eventId = static_cast<uint32_t>(id);
        } else {
            return "ERR unknown option " + option;
        }
        rest = tail;
    }
    std::string why;
    if (rest.empty()) return "ERR usage: notify-raw [--event-id=N] [--plain] TEXT";
    if (!cUnescape(rest, message.text, &why)) return "ERR " + why;
    withModule([&](hbrsim::Module &m) { m.unsolicited(message); });
    return "OK";
}

std::string Simulator::control(const std::string &line)
{
    std::string args;
    const std::string command = splitWord(line, args);
    const bool needsMbn = command == "notify" || command == "notify-raw" || command == "flood" || command == "remove" ||
                          command == "arrive";
    if (needsMbn && !mbn_) return "ERR the device service is off (--no-mbn)";
    if (command == "notify") {
        if (args != "ACTIVE" && args != "DEACTIVE" && args != "CHECK") return "ERR usage: notify ACTIVE|DEACTIVE|CHECK";
        hbrsim::Unsolicited message;
        message.text = "\r\n+GTPCTPOC: " + args + "\r\n";
        withModule([&](hbrsim::Module &m) { m.unsolicited(message); });
        return "OK";
    }
    if (command == "notify-raw") return notifyRaw(args);
    if (command == "flood") {
        std::string sizeText;
        const std::string countText = splitWord(args, sizeText);
        const char *const usage = "ERR usage: flood COUNT SIZE";
        unsigned long long count = 0, size = 0;
        if (!parseDecimal(countText, &count) || !parseDecimal(sizeText, &size) || count > 0xFFFFFFFFull) return usage;
        if (!mbn_->flood(static_cast<uint32_t>(count), static_cast<size_t>(size))) return "ERR SIZE does not fit in a frame";
        return "OK";
    }
    if ((command == "com-unsolicited" || command == "port-reset") && !options_.com) {
        return "ERR the AT port is off (--no-com)";
    }
    if (command == "com-unsolicited") return comUnsolicited(args);
    if (command == "port-reset" && args.empty()) return portReset();
    if (command == "remove" || command == "arrive") {
        if (command == "remove") mbn_->removeInterface();
        else mbn_->arriveInterface();
        return "OK";
    }
    if (command == "sync") {
        std::string pending;
        std::string status = splitWord(args, pending);
        bool ok = status.size() == 1 && pending.find(' ') == std::string::npos &&
                  withModule([&](hbrsim::Module &m) { return m.setSync(status[0] - '0', pending); });
        return ok ? "OK" : "ERR usage: sync 0|1|2 [ACTIVE|DEACTIVE]";
    }
    if (command == "fault") {
        FaultRule rule;
        std::string why;
        if (!hbrsim::parseFaultRuleJson(args, rule, &why)) return "ERR " + why;
        size_t count = withModule([&](hbrsim::Module &m) {
            m.faults().add(rule);
            return m.faults().rules().size();
        });
        applyStandingFaults();
        return "OK " + std::to_string(count);
    }
    if (command == "clear-faults" && args.empty()) {
        withModule([](hbrsim::Module &m) { m.faults().clear(); });
        applyStandingFaults();
        return "OK";
    }
    if (command == "status" && args.empty()) {
        std::ostringstream out;
        withModule([&](hbrsim::Module &m) {
            out << "OK platform=" << hbrsim::platformPresetName(m.platform) << " sync=" << m.sync.pending << ","
                << m.sync.status << " faults=" << m.faults().rules().size() << " commands=" << m.records().at.size();
            std::string channels;
            for (int c : m.openChannels()) channels += (channels.empty() ? "" : ",") + std::to_string(c);
            out << " channels=" << (channels.empty() ? "none" : channels);
        });
        out << " interface=" << (!mbn_ ? "off" : mbn_->interfacePresent() ? "present" : "removed")
            << " session=" << (mbn_ && mbn_->sessionOpen() ? "open" : "closed")
            << " clients=" << (mbn_ ? mbn_->clientCount() : 0)
            << " port=" << (pty_.running() ? pty_.linkPath() : std::string("off"));
        return out.str();
    }
    if (command == "euicc" && args.empty()) {
        std::ostringstream out;
        withModule([&](hbrsim::Module &m) {
            out << "OK eid=" << hbrsim::toHex(m.state().eid) << " slot=" << m.config.activeSlot
                << " prov_iccid=" << m.config.provIccid << " profiles=";
            const char *separator = "";
            for (const hbrsim::Profile &p : m.state().profiles) {
                out << separator << hbrsim::iccidToDigits(p.iccid) << ":" << static_cast<int>(p.profileClass) << ":"
                    << (p.state != 0 ? "enabled" : "disabled");
                separator = ",";
            }
            out << " channels=";
            separator = "";
            for (int channel : m.openChannels()) {
                out << separator << channel;
                separator = ",";
            }
        });
        return out.str();
    }
    if (command == "quit" && args.empty()) {
        quit_ = true;
        return "OK";
    }
    return "ERR unknown command: " + line;
}

}  // namespace hbrmodemsim
