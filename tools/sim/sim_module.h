// The simulated cellular module at AT level: one command text in, the
// reply text out. It has no transport of its own; the in-process seam, the
// hand runner and hbr-modem-sim's transports wrap the same object. It has
// no lock: whoever shares one Module between threads serialises the calls.
#ifndef HBRSIM_SIM_MODULE_H
#define HBRSIM_SIM_MODULE_H

#include "sim_euicc.h"
#include "sim_records.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace hbrsim {

struct ModuleConfig {
    bool echo = false;                // AT+CCHO puts the command text first in its reply
    bool sysstartAfterReset = false;  // after AT+CFUN=1,1 the next reply is "^SYSSTART"
};

// The writer result that stands for "the command's length minus one".
constexpr int64_t kWriterLengthMinusOne = INT64_MIN;

struct AtExchange {
    std::string reply;
    std::optional<int64_t> writerResult;  // set when a fault forces the writer's result
};

// The hardware the module presents to the host (hbr-modem-sim --platform;
// the sysfs tree of each preset is hbrmodemsim::buildModulePreset's).
enum class PlatformPreset { Pci0, Usb1, Usb2, Unknown };
bool parsePlatformPreset(const std::string &text, PlatformPreset &out);  // "0", "1", "2", "none"
const char *platformPresetName(PlatformPreset preset);


// The answer to "AT+GTPCTPOC=6": "+GTPCTPOC: <pending>,<status>".
struct SyncAnswer {
    std::string pending = "0";  // "ACTIVE", "DEACTIVE" or "0"
    int status = 2;             // 0, 1 or 2
};

// A text the module sends on its own (a notification).
struct Unsolicited {
    std::string text;
    uint32_t eventId = 1;
    bool plain = false;  // without the 4-byte length prefix
};

// One piece of what the COM port sends back, after `delayMs`.
struct ComPiece {
    int64_t delayMs = 0;
    std::string bytes;
};

class Module {
public:
    // One AT command (with or without its final "\r") in, the reply out.
    std::string handle(const std::string &command, Transport transport = Transport::None);
    // The same, carried by a seam writer (records it, applies writer faults).
    AtExchange exchange(const std::string &command, Writer writer, int32_t platformType,
                        Transport transport = Transport::None);

    // --- Hardware identity, sync answer, notifications, COM port shaping ---
    PlatformPreset platform = PlatformPreset::Usb1;
    SyncAnswer sync;
    // Sets the sync answer; false (unchanged) for a status other than 0, 1
    // or 2 or a pending word other than ACTIVE, DEACTIVE or "0"/"".
    bool setSync(int status, const std::string &pending = "0");
    // Sinks of the module's notifications (the transports). A sink runs
    // inside unsolicited(), so it must not call back into the module.
    int subscribeUnsolicited(std::function<void(const Unsolicited &)> sink);
    void unsubscribeUnsolicited(int id);
    void unsolicited(const Unsolicited &message);
    // One command received on the COM port: carried out (recorded with
    // transport com), then shaped by the COM rules of the fault plan into
    // the pieces the port sends. `portEcho` repeats the command first.
    std::vector<ComPiece> comExchange(const std::string &command, bool portEcho);

    ModuleConfig config;
    Euicc euicc;

    Records &records() { return euicc.records; }
    FaultPlan &faults() { return euicc.faults; }
    IsdrState &state() { return euicc.isdr.state; }

private:
    std::string execute(const std::string &command);
    std::string csim(const std::string &args);
    std::string ccho(const std::string &args, const std::string &original);
    std::string cgla(const std::string &args);
    std::string cchc(const std::string &args);
    std::optional<std::string> transportCommand(const std::string &command);
    bool pendingSysstart_ = false;
    std::map<int, std::function<void(const Unsolicited &)>> sinks_;
    int nextSink_ = 1;
};

// Reply texts.
extern const char kReplyOk[];
extern const char kReplyError[];
std::string cmeError(int code);

}  // namespace hbrsim

#endif
