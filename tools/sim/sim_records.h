// What the simulator saw, for tests to read.
#ifndef HBRSIM_SIM_RECORDS_H
#define HBRSIM_SIM_RECORDS_H

#include "sim_tlv.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace hbrsim {

// Which seam writer carried an AT command (None: handed to the module directly).
enum class Writer { None, Intel, Mtk };

// Which transport carried an AT command (None: an in-process call).
enum class Transport { None, Com, Mbn };
const char *transportName(Transport t);  // "none", "com", "mbn"

struct AtRecord {
    std::string command;  // exact text, "\r" included
    std::string reply;
    Writer writer = Writer::None;
    int32_t platformType = 0;                // the writer's first argument
    std::optional<int64_t> writerResult;     // set when a fault forced the writer's result
    Transport transport = Transport::None;
    int64_t timeMs = 0;                      // wall-clock time of the command, ms since 1970
};

struct ApduRecord {
    int channel = -1;  // from the class byte; -1 when it has none
    Bytes apdu;
    Bytes response;
};

struct Es10Record {
    uint32_t tag = 0;  // outer tag, 0 when the request has none
    Bytes request;
    Bytes response;
    uint16_t sw = 0x9000;
};

struct Records {
    std::vector<AtRecord> at;
    std::vector<ApduRecord> apdus;
    std::vector<Es10Record> es10;

    void clear()
    {
        at.clear();
        apdus.clear();
        es10.clear();
    }
    std::vector<std::string> atCommands() const
    {
        std::vector<std::string> out;
        for (const AtRecord &r : at) out.push_back(r.command);
        return out;
    }
};

}  // namespace hbrsim

#endif
