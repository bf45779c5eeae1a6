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
#include <utility>
#include <vector>

namespace hbrsim {

// Reply form of AT+CCHO: "<n>\r\n\r\nOK\r\n" bare, behind the echo of the
// command, behind a leading CR LF without the echo, or behind the echo as
// the named line "+CCHO: <n>".
enum class CchoForm { Bare, Echo, LeadingCrLf, Prefixed };

// Command families the module accepts: all, the logical-channel family
// (no AT+CSIM, no AT+GTDUALSIM=<n>) or the AT+CSIM family (no AT+CCHO,
// AT+CGLA, AT+CCHC, AT+ESIMMAP, AT+ESBP).
enum class Family { Any, Channel, Csim };

struct ModuleConfig {
    CchoForm cchoForm = CchoForm::Bare;
    bool sysstartAfterReset = false;  // after AT+CFUN=1,1 the next reply is "^SYSSTART"
    Family family = Family::Any;
    // Module state that the module commands read and change.
    std::string imei = "356938035643809";
    int activeSlot = 0;               // AT+GTDUALSIM / AT+ESIMMAP
    std::string provIccid;            // "prov_iccid:" of AT+GTPCTPOC?
    int pocUsageType = 0;             // "poc_usage_type:" of AT+GTPCTPOC?
};

// One APN record of AT+GTPCTPOC=<4|5>,..., as received.
struct ApnRecord {
    std::string apn;
    int fixed = 0;
    int pdpType = 0;
    int pdpTypeAgain = 0;
    int authType = 0;
    std::string username;
    std::string password;
};

// What the module commands did, in order, for tests to read.
struct ModuleCommandRecord {
    std::vector<int> slotChanges;                // active slot after each change
    std::vector<std::pair<int, int>> reports;    // AT+GTPCTPOC=<a>,<b> with a 0, 1 or 2
    int syncCount = 0;                           // AT+GTPCTPOC=3
    std::map<int, ApnRecord> apns;               // by kind: 4 attach, 5 internet
    std::vector<int> cxpValues;                  // AT+ESBP=5,"SBP_MODEM_CXP",<n>
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

    ModuleCommandRecord commands;

    Records &records() { return euicc.records; }
    FaultPlan &faults() { return euicc.faults; }
    IsdrState &state() { return euicc.isdr.state; }
    // The logical channels open now (1 to 19).
    std::vector<int> openChannels() const;

private:
    std::string execute(const std::string &command);
    std::string csim(const std::string &args);
    std::string ccho(const std::string &args, const std::string &original);
    std::string cgla(const std::string &args);
    std::string cchc(const std::string &args);
    // The module commands (sim_module_commands.cpp): true when `command`
    // (terminators stripped) is one of them, with its reply.
    bool moduleCommand(const std::string &command, std::string &reply);
    // True when the configured family refuses `command`.
    bool familyRefuses(const std::string &command) const;
    std::string pctpoc(const std::string &args);  // AT+GTPCTPOC=<0..5>...
    std::optional<std::string> transportCommand(const std::string &command);
    bool pendingSysstart_ = false;
    std::map<int, std::function<void(const Unsolicited &)>> sinks_;
    int nextSink_ = 1;
};

// Reply texts.
extern const char kReplyOk[];
extern const char kReplyError[];
std::string cmeError(int code);

// AT text parsing shared by the module's command handlers.
// `s` starts with `prefix` (letters compared without case); `rest` gets the remainder.
bool atStartsWith(const std::string &s, const char *prefix, std::string &rest);
// A decimal number at pos (1 to 6 digits); pos moves behind it.
bool atReadNumber(const std::string &s, size_t &pos, size_t &value);
// "<text>" at pos; pos moves behind the closing quote.
bool atReadQuoted(const std::string &s, size_t &pos, std::string &text);

}  // namespace hbrsim

#endif
