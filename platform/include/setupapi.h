/*
 * SetupAPI device enumeration for the Linux build (written for this
 * project), read from sysfs ($HBR_SYSFS_ROOT, default /sys, resolved at each
 * SetupDiGetClassDevsA). Classes "Ports" (class/tty) and "Net" (class/net);
 * devices are the entries with a `device` link, in byte order of their names.
 * Hardware ids are REG_MULTI_SZ in upper-case hex, friendly names REG_SZ.
 * See docs/platform.md for the mapping.
 */
#ifndef HBR_PLATFORM_SETUPAPI_H
#define HBR_PLATFORM_SETUPAPI_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef PVOID HDEVINFO;

typedef struct _SP_DEVINFO_DATA {
    DWORD cbSize;
    GUID ClassGuid;
    DWORD DevInst;
    ULONG_PTR Reserved;
} SP_DEVINFO_DATA, *PSP_DEVINFO_DATA;

#define DIGCF_PRESENT 0x00000002u
#define SPDRP_HARDWAREID 0x00000001u
#define SPDRP_FRIENDLYNAME 0x0000000Cu

/* Class GUIDs of "Ports" and "Net". */
extern const GUID GUID_DEVCLASS_PORTS;
extern const GUID GUID_DEVCLASS_NET;

BOOL WINAPI SetupDiClassGuidsFromNameA(LPCSTR ClassName, LPGUID ClassGuidList,
                                       DWORD ClassGuidListSize, PDWORD RequiredSize);
HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID *ClassGuid, LPCSTR Enumerator, HANDLE hwndParent,
                                     DWORD Flags);
BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO DeviceInfoSet, DWORD MemberIndex,
                                  PSP_DEVINFO_DATA DeviceInfoData);
BOOL WINAPI SetupDiGetDeviceRegistryPropertyA(HDEVINFO DeviceInfoSet,
                                              PSP_DEVINFO_DATA DeviceInfoData, DWORD Property,
                                              PDWORD PropertyRegDataType, PBYTE PropertyBuffer,
                                              DWORD PropertyBufferSize, PDWORD RequiredSize);
BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet);

#ifdef __cplusplus
}
#endif

#endif /* HBR_PLATFORM_SETUPAPI_H */
