/*
 * The profile management exports. Each runs in the card-operation frame
 * around one manager call.
 */
#include "lpa.h"
#include "lpa_api_frame.h"
#include "runtime/lpa_core_log.h"
#include "card/lpa_manager_es10c.h"

extern "C" LPA_API bool lpaGetProfilesNumber(size_t *count)
{
    return lpaApiRunCardOperation("lpaGetProfilesNumber", [count]() { return lpaManagerGetProfilesNumber(count); });
}

extern "C" LPA_API bool lpaGetProfilesInfo(LpaProfileInfoList *list)
{
    return lpaApiRunCardOperation("lpaGetProfilesInfo", [list]() { return lpaManagerGetProfilesInfo(list, false); });
}

extern "C" LPA_API bool lpaGetProfilesInfo_ex(LpaProfileInfoList *list)
{
    return lpaApiRunCardOperation("lpaGetProfilesInfo_ex",
                                  [list]() { return lpaManagerGetProfilesInfo(list, true); });
}

extern "C" LPA_API bool lpaGetEID(LpaEid *eid)
{
    return lpaApiRunCardOperation("lpaGetEID", [eid]() { return lpaManagerES10c_GetEID(eid); });
}

extern "C" LPA_API bool lpaMemoryReset(const uint8_t *resetOptions, size_t length)
{
    return lpaApiRunCardOperation("lpaMemoryReset", [resetOptions, length]() {
        return lpaManagerES10c_MemoryReset(resetOptions, length);
    });
}

/* Enable, disable and delete share their shape. */
static bool _profileOperationExport(const char *apiName, bool (*operation)(const uint8_t *, size_t),
                                    const uint8_t *iccid, size_t length)
{
    return lpaApiRunCardOperation(apiName, [=]() { return operation(iccid, length); });
}

extern "C" LPA_API bool lpaEnableProfileByIccid(const uint8_t *iccid, size_t length)
{
    return _profileOperationExport("lpaEnableProfileByIccid", lpaManagerES10c_EnableProfileByIccid, iccid, length);
}

extern "C" LPA_API bool lpaDisableProfileByIccid(const uint8_t *iccid, size_t length)
{
    return _profileOperationExport("lpaDisableProfileByIccid", lpaManagerES10c_DisableProfileByIccid, iccid,
                                   length);
}

extern "C" LPA_API bool lpaDeleteProfileByIccid(const uint8_t *iccid, size_t length)
{
    return _profileOperationExport("lpaDeleteProfileByIccid", lpaManagerES10c_DeleteProfileByIccid, iccid, length);
}

extern "C" LPA_API bool lpaSetNicknameByIccid(const uint8_t *iccid, size_t iccidLength, const char *nickname,
                                             size_t nicknameLength)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "++ lpaSetNicknameByIccid()");
    return lpaApiRunCardOperation("lpaSetNicknameByIccid", [=]() {
        return lpaManagerSetNickname(iccid, iccidLength, nickname, nicknameLength);
    });
}
