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
    /* Device service: SafeArrayCreate and SafeArrayCreateVector. */
    HBR_FAULT_SAFE_ARRAY_CREATE = 4,
    HBR_FAULT_POINT_COUNT = 5
} HbrFaultPoint;

void hbrFaultSet(HbrFaultPoint point, unsigned skip, unsigned fail);
void hbrFaultClearAll(void);

/* ---- Device service ---- */
/* CoCreateInstance of `clsid` fails with `hr` (the output stays NULL) until
 * hbrFaultClearAll. A NULL clsid ends this fault. */
void hbrFaultSetCoCreateInstance(const GUID *clsid, HRESULT hr);
/* Drops the device-service connection (the sinks see every interface go)
 * and makes one connection attempt at once, to $HBR_MBN_SOCKET as it is
 * now; starts the client if it has not started. Returns when the attempt
 * is over: TRUE when connected. Lets each in-process test bind the client
 * to its own server. */
BOOL hbrDeviceServiceReconnect(void);

/* Number of Sleep calls of 1000 ms or more made so far in this process
 * (the calls that HBR_SLEEP_DIVISOR scales). */
unsigned long hbrLongSleepCount(void);

#ifdef __cplusplus
}
#endif

#endif /* HBR_PLATFORM_FAULT_H */
