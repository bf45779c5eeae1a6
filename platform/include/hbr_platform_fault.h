/*
 * Test-only fault injection for the platform layer. After hbrFaultSet, the
 * given call succeeds `skip` more times and then fails `fail` times: a
 * failed call returns NULL, FALSE or E_FAIL and sets ERROR_NOT_ENOUGH_MEMORY.
 * Product code never calls these.
 */
#ifndef HBR_PLATFORM_FAULT_H
#define HBR_PLATFORM_FAULT_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef enum HbrFaultPoint {
    HBR_FAULT_CREATE_EVENT = 0,
    HBR_FAULT_CO_INITIALIZE = 1,
    HBR_FAULT_CREATE_TIMER_QUEUE = 2,
    HBR_FAULT_CREATE_TIMER_QUEUE_TIMER = 3,
    HBR_FAULT_POINT_COUNT = 4
} HbrFaultPoint;

void hbrFaultSet(HbrFaultPoint point, unsigned skip, unsigned fail);
void hbrFaultClearAll(void);

/* Number of Sleep calls of 1000 ms or more made so far in this process
 * (the calls that HBR_SLEEP_DIVISOR scales). */
unsigned long hbrLongSleepCount(void);

/* Winsock's start-up reference count: WSAStartup calls not yet balanced by
 * WSACleanup. */
long hbrWsaStartupCount(void);

#ifdef __cplusplus
}
#endif

#endif /* HBR_PLATFORM_FAULT_H */
