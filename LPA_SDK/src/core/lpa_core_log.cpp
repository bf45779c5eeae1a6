#include "lpa_core_log.h"

LpaLogHooks lpaLogHooks = {};

extern "C" LPA_API void lpaCoreLog(int32_t level, const char *format, ...)
{
    if (!lpaLogHooks.installed || lpaLogHooks.message == nullptr) {
        return;
    }
    va_list args;
    va_start(args, format);
    lpaLogHooks.message(level, format, args);
    va_end(args);
}

extern "C" LPA_API void lpaCoreLogFlush(void)
{
    if (lpaLogHooks.installed && lpaLogHooks.flush != nullptr) {
        lpaLogHooks.flush();
    }
}

extern "C" LPA_API void lpaCoreLogSetLevel(int32_t level)
{
    if (lpaLogHooks.installed && lpaLogHooks.setLevel != nullptr) {
        lpaLogHooks.setLevel(level);
    }
}
