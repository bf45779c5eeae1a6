#include "profile_lookup.h"

#include "agent_alloc.h"
#include "clog.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char kHexDigits[] = "0123456789ABCDEF";

// Appends two hex digits per byte to `text` (`capacity` bytes), the low
// nibble first or the high nibble first; false (nothing appended) when
// the text would not fit.
bool AppendHexText(const uint8_t *bytes, size_t count, bool lowNibbleFirst, char *text, size_t capacity)
{
    size_t held = strnlen(text, capacity);
    if (held >= capacity || count * 2 >= capacity - held) {
        return false;
    }
    char *out = text + held;
    for (size_t i = 0; i < count; ++i) {
        char high = kHexDigits[bytes[i] >> 4];
        char low = kHexDigits[bytes[i] & 0x0F];
        *out++ = lowNibbleFirst ? low : high;
        *out++ = lowNibbleFirst ? high : low;
    }
    *out = '\0';
    return true;
}

void LogEngineError()
{
    HBR_LOG_INFO("=> Error code: %s\n", lpaGetErrorCodeDescription(lpaGetErrorCode()));
    HBR_LOG_INFO("\n");
}

void LogCounts(const LpaProfileInfoList *list)
{
    HBR_LOG_INFO("\tcountProfileInfo= %zu\n", list->countProfileInfo);
    HBR_LOG_INFO("\tnumberProfileInfoFound= %zu\n", list->numberProfileInfoFound);
    HBR_LOG_INFO("\n");
}

const char *StateName(uint8_t state)
{
    switch (state) {
    case 0:
        return "disabled";
    case 1:
        return "enabled";
    default:
        return "UNEXPECTED VALUE";
    }
}

const char *ClassName(uint8_t profileClass)
{
    switch (profileClass) {
    case 0:
        return "test";
    case 1:
        return "provisioning";
    case 2:
        return "operational";
    default:
        return "UNEXPECTED VALUE";
    }
}

void LogProfile(size_t index, const LpaProfileInfo &record)
{
    HBR_LOG_INFO("Profile %zu :\n", index);
    std::string iccid;
    size_t iccidLength = record.iccidLength < sizeof record.iccid ? record.iccidLength : sizeof record.iccid;
    for (size_t i = 0; i < iccidLength; ++i) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02X", record.iccid[i]);
        iccid += hex;
    }
    HBR_LOG_INFO("\ticcid = %s\n", iccid.c_str());
    HBR_LOG_INFO("\tprofileState = %s\n", StateName(record.profileState[0]));
    // The name is not NUL-terminated when it fills its field.
    size_t nameLength =
        record.profileNameLength < sizeof record.profileName ? record.profileNameLength : sizeof record.profileName;
    std::string name(record.profileName, nameLength);
    HBR_LOG_INFO("\tprofileName = %s\n", name.c_str());
    HBR_LOG_INFO("\tprofileClass = %s\n", ClassName(record.profileClass[0]));
}

} // namespace

bool QueryProfilesInfo(LpaProfileInfoList *list)
{
    size_t number = 0;
    bool ok = lpaGetProfilesNumber(&number);
    HBR_LOG_INFO("\nlpaGetProfilesNumber API returned %s\n", ok ? "true" : "false");
    if (!ok) {
        list->countProfileInfo = 0;
        LogEngineError();
        return false;
    }
    list->countProfileInfo = 0;
    list->numberProfileInfoFound = number;
    std::free(list->profileInfo);
    list->profileInfo = nullptr;
    list->maxProfileInfo = 0;
    for (size_t n = number; n > 0 && list->profileInfo == nullptr; --n) {
        list->profileInfo = AgentCalloc(n, sizeof(LpaProfileInfo));
        list->maxProfileInfo = list->profileInfo != nullptr ? n : 0;
    }
    if (list->profileInfo == nullptr) {
        LogCounts(list);
        return true;
    }
    ok = lpaGetProfilesInfo(list);
    HBR_LOG_INFO("lpaGetrofilesInfo API returned %s\n", ok ? "true" : "false");
    if (!ok) {
        list->countProfileInfo = 0;
        LogEngineError();
        return false;
    }
    LogCounts(list);
    return true;
}

void FindProvisioningProfileIccid(const LpaProfileInfoList *list, uint8_t iccid[10], size_t *count)
{
    FindProvisioningProfileIccidOtherThan(list, nullptr, 0, iccid, count);
}

void FindProvisioningProfileIccidOtherThan(const LpaProfileInfoList *list, const uint8_t *other, size_t otherCount,
                                           uint8_t iccid[10], size_t *count)
{
    // The walk stays within the records written and the array held.
    const LpaProfileInfo *records = list != nullptr ? static_cast<const LpaProfileInfo *>(list->profileInfo) : nullptr;
    size_t held = 0;
    if (records != nullptr) {
        held = list->countProfileInfo < list->maxProfileInfo ? list->countProfileInfo : list->maxProfileInfo;
    }
    for (size_t i = 0; i < held; ++i) {
        const LpaProfileInfo &record = records[i];
        LogProfile(i, record);
        if (record.profileClass[0] != 1) {
            continue;
        }
        size_t length = record.iccidLength < sizeof record.iccid ? record.iccidLength : sizeof record.iccid;
        if (otherCount != 0 && length == otherCount && std::memcmp(record.iccid, other, length) == 0) {
            continue;
        }
        HBR_LOG_INFO("iccidsize(%llu-%llu)", static_cast<unsigned long long>(record.iccidLength),
                     static_cast<unsigned long long>(*count));
        std::memcpy(iccid, record.iccid, length);
        *count = length;
        break;
    }
    HBR_LOG_INFO("\n");
}

int HbrAgentIccidArrayToString(const uint8_t *bytes, size_t count, char *text, size_t capacity)
{
    if (count % 2 != 0) {
        HBR_LOG_INFO("[HbrAgentIccidArrayToString]:wrong length on iccid!");
    }
    if (!AppendHexText(bytes, count, true, text, capacity)) {
        return 0;
    }
    return static_cast<int>(count * 2);
}

int GetModuleEID(char *eid, size_t capacity)
{
    LpaEid record;
    std::memset(&record, 0, sizeof record);
    if (!lpaGetEID(&record)) {
        return 0;
    }
    if (record.eidLength % 2 != 0) {
        HBR_LOG_INFO("[HbrAgentEIDArrayToString]:wrong length on iccid!");
    }
    size_t length = record.eidLength < sizeof record.eid ? record.eidLength : sizeof record.eid;
    return AppendHexText(record.eid, length, false, eid, capacity) ? 1 : 0;
}
