#include "log_recorder.h"

#include <cstdio>

namespace {

LogRecorder *activeRecorder = nullptr;

void recordMessage(int32_t level, const char *format, va_list args)
{
    if (activeRecorder == nullptr || format == nullptr) {
        return;
    }
    va_list copy;
    va_copy(copy, args);
    int n = vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text(n > 0 ? static_cast<size_t>(n) : 0, '\0');
    if (n > 0) {
        vsnprintf(&text[0], text.size() + 1, format, args);
    }
    activeRecorder->lines.push_back({level, text});
}

void recordHexDump(int32_t level, const char *title, const char *label, const uint8_t *bytes,
                   size_t length)
{
    if (activeRecorder == nullptr) {
        return;
    }
    RecordedHexDump dump{level, title != nullptr ? title : "", label != nullptr ? label : "", {}};
    if (bytes != nullptr) {
        dump.bytes.assign(bytes, bytes + length);
    }
    activeRecorder->hexDumps.push_back(dump);
}

void recordFlush()
{
    if (activeRecorder != nullptr) {
        ++activeRecorder->flushes;
    }
}

}  // namespace

LogRecorder::LogRecorder() : saved_(lpaLogHooks)
{
    activeRecorder = this;
    LpaLogHooks hooks = {};
    hooks.message = recordMessage;
    hooks.hexDump = recordHexDump;
    hooks.flush = recordFlush;
    hooks.installed = true;
    lpaLogHooks = hooks;
}

LogRecorder::~LogRecorder()
{
    lpaLogHooks = saved_;
    activeRecorder = nullptr;
}

void LogRecorder::clear()
{
    lines.clear();
    hexDumps.clear();
    flushes = 0;
}

long LogRecorder::find(const std::string &text, int32_t level, size_t from) const
{
    for (size_t i = from; i < lines.size(); ++i) {
        if (lines[i].text == text && (level == 0 || lines[i].level == level)) {
            return static_cast<long>(i);
        }
    }
    return -1;
}

size_t LogRecorder::count(const std::string &text) const
{
    size_t n = 0;
    for (const auto &line : lines) {
        n += (line.text == text) ? 1 : 0;
    }
    return n;
}

size_t LogRecorder::countPrefix(const std::string &prefix) const
{
    size_t n = 0;
    for (const auto &line : lines) {
        n += (line.text.compare(0, prefix.size(), prefix) == 0) ? 1 : 0;
    }
    return n;
}
