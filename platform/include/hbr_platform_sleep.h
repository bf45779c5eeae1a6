/* The arithmetic behind Sleep's test speed-up, exposed for tests. */
#ifndef HBR_PLATFORM_SLEEP_H
#define HBR_PLATFORM_SLEEP_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Returns the duration Sleep really waits for a request of `ms`
 * milliseconds when HBR_SLEEP_DIVISOR holds `divisorText` (NULL = unset). */
DWORD hbrSleepScaledDuration(DWORD ms, const char *divisorText);

/* Sleeps of 1 to 999 ms since the process started (the driver's reply
 * polls among them), and their total requested time; for benchmarks. */
unsigned long hbrShortSleepCount(void);
unsigned long long hbrShortSleepTotalMs(void);

#ifdef __cplusplus
}
#endif

#endif
