// A test double for the engine log: while a LogRecorder lives, the engine's
// log hooks point at recorders that keep every message line (formatted) and
// every hex dump (slot 11). The previous hooks come back when it is destroyed.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>
#include <vector>

#include "lpa_core_log.h"

struct RecordedLine {
    int32_t level;
    std::string text;
};

struct RecordedHexDump {
    int32_t level;
    std::string title;
    std::string label;
    std::vector<uint8_t> bytes;
};

class LogRecorder {
public:
    LogRecorder();
    ~LogRecorder();
    LogRecorder(const LogRecorder &) = delete;
    LogRecorder &operator=(const LogRecorder &) = delete;

    void clear();

    // Index of the first line equal to text (at the level, when given) at or
    // after 'from', or -1.
    long find(const std::string &text, int32_t level = 0, size_t from = 0) const;
    bool has(const std::string &text, int32_t level = 0) const { return find(text, level) >= 0; }
    size_t count(const std::string &text) const;
    // Lines that start with the prefix.
    size_t countPrefix(const std::string &prefix) const;

    std::vector<RecordedLine> lines;
    std::vector<RecordedHexDump> hexDumps;
    int flushes = 0;

private:
    LpaLogHooks saved_;
};
