#include <windows.h>
#include <hbr_platform_sleep.h>

#include <hbr_platform_fault.h>

#include <atomic>
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

namespace {
std::atomic<unsigned long> g_longSleeps{0};
std::atomic<unsigned long> g_shortSleeps{0};
std::atomic<unsigned long long> g_shortSleepMs{0};
}

extern "C" unsigned long hbrShortSleepCount(void)
{
    return g_shortSleeps.load();
}

extern "C" unsigned long long hbrShortSleepTotalMs(void)
{
    return g_shortSleepMs.load();
}

extern "C" unsigned long hbrLongSleepCount(void)
{
    return g_longSleeps.load();
}

extern "C" void WINAPI Sleep(DWORD dwMilliseconds)
{
    DWORD ms = dwMilliseconds;
    if (ms > 0 && ms < 1000) {
        g_shortSleeps++;
        g_shortSleepMs += ms;
    }
    if (ms >= 1000 && ms != 0xFFFFFFFFu) {
        g_longSleeps++;
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
