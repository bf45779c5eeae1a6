// One walk over the present devices of a device class (class GUID, device
// list, hardware ids per device), shared by the port lookups and the
// platform detection, and the hardware-id match of the AT port.
#ifndef HBR_AGENT_DEVICE_CLASS_WALK_H
#define HBR_AGENT_DEVICE_CLASS_WALK_H

#include <windows.h>
#include <setupapi.h>

#include <functional>

// The log texts of one walk. Failure lines and the "not an SZ" line are
// written at level 0, the count and hardware-id lines at level 2.
struct DeviceClassWalkTexts {
    const char *guidCount;       // "... dwNumberOfGUIDs = % d"
    const char *guidFail;        // "... SetupDiClassGuidsFromName Fail(%d)"
    const char *noGuid;          // "... dwNumberOfGUIDs=0"
    const char *classDevsFail;   // "... SetupDiGetClassDevs Fail(%d)"
    const char *hardIdNull;      // "... SPDRP_HARDWAREID registry key is NULL!"
    const char *hardIdLine;      // "... HardId-%s"
    const char *notMultiSz;      // "... SPDRP_HARDWAREID registry key is not an SZ!"
    bool hardIdLineAfterTypeCheck;
    bool fixedPropertyReader;    // the hardware-id form of the property reader
};

// Called for each device whose hardware ids are REG_MULTI_SZ, with the list
// (its first string first); returns true to end the walk.
using DeviceAction = std::function<bool(HDEVINFO set, SP_DEVINFO_DATA *device, const char *hardwareIds)>;

// FALSE when the class GUID or the device list could not be had.
BOOL WalkDeviceClass(const char *className, const DeviceClassWalkTexts &texts, const DeviceAction &action);

// The AT port match: the device's whole first hardware id, compared
// case-sensitively, starts the wanted id. An empty first id never matches.
bool HardwareIdStartsWantedId(const char *firstHardwareId, const char *wantedId);

#endif
