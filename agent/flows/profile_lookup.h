// Profile lookup for the IoT service flows: the profile list through the
// engine, the choice of the provisioning profile, and identifiers as text.
// The engine helpers run while a pass holds the engine initialised.
#ifndef HBR_AGENT_PROFILE_LOOKUP_H
#define HBR_AGENT_PROFILE_LOOKUP_H

#include "lpa.h"

#include <cstddef>
#include <cstdint>

// Fills `list` with full records (LpaProfileInfo). Any record array the
// list already holds is released first; the new one is allocated here
// (fewer records when the full count cannot be had) and belongs to the
// list's owner, who releases it with free() when done with the list.
bool QueryProfilesInfo(LpaProfileInfoList *list);

// Logs the list and copies the ICCID of its first provisioning profile (at
// most 10 bytes) into `iccid`, setting `count`; `count` is kept when there
// is none.
void FindProvisioningProfileIccid(const LpaProfileInfoList *list, uint8_t iccid[10], size_t *count);
// The same, passing over a provisioning profile whose ICCID is `other`
// (`otherCount` bytes; 0 passes over none).
void FindProvisioningProfileIccidOtherThan(const LpaProfileInfoList *list, const uint8_t *other, size_t otherCount,
                                           uint8_t iccid[10], size_t *count);

// Appends the ICCID as text (low nibble first) to `text` (`capacity` bytes).
// Returns twice `count`, or 0 when the text would not fit (nothing appended).
int HbrAgentIccidArrayToString(const uint8_t *bytes, size_t count, char *text, size_t capacity);

// Appends the eUICC's EID (32 upper-case hex digits) to `eid`. Returns 1,
// or 0 when the engine fails or the text would not fit (nothing appended).
int GetModuleEID(char *eid, size_t capacity);

#endif
