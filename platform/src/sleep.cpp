#include <windows.h>
#include <hbr_platform_sleep.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>

extern "C" DWORD hbrSleepScaledDuration(DWORD ms, const char *divisorText)
{
    if (ms < 1000) {
        return ms;
    }
    unsigned long divisor = 1;
    if (divisorText != nullptr && *divisorText != '\0') {
        char *end = nullptr;
        errno = 0;
        long value = std::strtol(divisorText, &end, 10);
        if (errno == 0 && end != divisorText && *end == '\0' && value >= 1) {
            divisor = static_cast<unsigned long>(value);
        }
    }
    return static_cast<DWORD>(ms / divisor);
}

extern "C" void WINAPI Sleep(DWORD dwMilliseconds)
{
    DWORD ms = dwMilliseconds;
    if (ms >= 1000 && ms != 0xFFFFFFFFu) {
        ms = hbrSleepScaledDuration(ms, std::getenv("HBR_SLEEP_DIVISOR"));
    }
    if (ms == 0xFFFFFFFFu) { /* INFINITE */
        for (;;) {
            struct timespec hour = {3600, 0};
            nanosleep(&hour, nullptr);
        }
    }
    struct timespec ts;
    ts.tv_sec = static_cast<time_t>(ms / 1000);
    ts.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}
