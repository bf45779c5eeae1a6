/*
 * Win32 declarations for the Linux build. Written for this project: only
 * what the engine and the agent use, with Windows' integer widths.
 * Implemented by libhbrplatform (platform/src).
 */
#ifndef HBR_PLATFORM_WINDOWS_H
#define HBR_PLATFORM_WINDOWS_H

#include <stdint.h>
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#ifndef WINAPI
#define WINAPI
#endif

typedef uint32_t DWORD;
typedef int BOOL;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

/* Suspends the calling thread. Durations of 1000 ms or more are divided by
 * the integer in the environment variable HBR_SLEEP_DIVISOR (read at each
 * such call; missing, non-numeric or below 1 means 1) so that tests can run
 * long waits quickly. Shorter durations are never scaled. */
void WINAPI Sleep(DWORD dwMilliseconds);

/* The calling thread's last error (thread-local). */
DWORD WINAPI GetLastError(void);
void WINAPI SetLastError(DWORD dwErrCode);

#ifdef __cplusplus
}
#endif

#endif /* HBR_PLATFORM_WINDOWS_H */
