// The simulated cellular module at AT level: one command text in, the
// reply text out. It has no transport of its own; the in-process seam, the
// hand runner and later transports wrap the same object.
#ifndef HBRSIM_SIM_MODULE_H
#define HBRSIM_SIM_MODULE_H

#include "sim_euicc.h"
#include "sim_records.h"

#include <cstdint>
#include <optional>
#include <string>

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

class Module {
public:
    // One AT command (with or without its final "\r") in, the reply out.
    std::string handle(const std::string &command);
    // The same, carried by a seam writer (records it, applies writer faults).
    AtExchange exchange(const std::string &command, Writer writer, int32_t platformType);

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
    bool pendingSysstart_ = false;
};

// Reply texts.
extern const char kReplyOk[];
extern const char kReplyError[];
std::string cmeError(int code);

}  // namespace hbrsim

#endif
