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
    /* SetupAPI */
    HBR_FAULT_SETUPDI_CLASS_GUIDS,      /* SetupDiClassGuidsFromNameA fails */
    HBR_FAULT_SETUPDI_CLASS_GUIDS_NONE, /* ... succeeds and reports 0 GUIDs */
    HBR_FAULT_SETUPDI_GET_CLASS_DEVS,   /* SetupDiGetClassDevsA fails */
    /* Device service: SafeArrayCreate and SafeArrayCreateVector. */
    HBR_FAULT_SAFE_ARRAY_CREATE,
    HBR_FAULT_POINT_COUNT
} HbrFaultPoint;

void hbrFaultSet(HbrFaultPoint point, unsigned skip, unsigned fail);
/* Clears every fault, the value faults below included. */
void hbrFaultClearAll(void);

/* SetupAPI property faults. `device` is a device's entry name (the name
 * under class/tty or class/net, e.g. "ttyHBR0"), `property` an SPDRP_*
 * value. A fault holds for every device-info set until hbrFaultClearAll;
 * a later fault for the same device and property replaces it.
 * - Value: the property reads as `size` bytes of `data` with registry type
 *   `type` (a REG_SZ hardware id, "\0\0", a friendly name without
 *   parentheses, ...).
 * - SizeQuerySucceeds: a call with a NULL or short buffer returns TRUE
 *   (with the required size and the type) instead of failing with 122.
 * - Error: the first `skip` calls behave as usual, every later call fails
 *   with `error`. */
void hbrFaultSetupDiPropertyValue(const char *device, DWORD property, DWORD type, const void *data, DWORD size);
void hbrFaultSetupDiPropertySizeQuerySucceeds(const char *device, DWORD property);
void hbrFaultSetupDiPropertyError(const char *device, DWORD property, DWORD error, unsigned skip);

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
/* Number of connection attempts the device-service client has made so far
 * in this process. */
unsigned long hbrDeviceServiceAttemptCount(void);

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
