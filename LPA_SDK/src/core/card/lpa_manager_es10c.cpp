#include "card/lpa_manager_es10c.h"

#include <stdio.h>
#include <string.h>

#include "runtime/lpa_hex.h"
#include "runtime/lpa_core_log.h"
#include "runtime/lpa_core_memory.h"
#include "runtime/lpa_error_internal.h"
#include "runtime/lpa_manager_config.h"
#include "card/se_media_manager.h"
#include "codec/raw_data_object.h"

#define TAG_GET_PROFILES_INFO 0xBF2D
#define TAG_GET_EID 0xBF3E
#define TAG_ENABLE_PROFILE 0xBF31
#define TAG_DISABLE_PROFILE 0xBF32
#define TAG_DELETE_PROFILE 0xBF33
#define TAG_MEMORY_RESET 0xBF34
#define TAG_SET_NICKNAME 0xBF29
#define TAG_PROFILE_INFO 0xE3
#define TAG_LIST 0xA0
#define TAG_ICCID 0x5A
#define TAG_RESULT 0x80
#define TAG_REFRESH_FLAG 0x81
#define TAG_RESET_OPTIONS 0x82
#define TAG_NICKNAME 0x90
#define TAG_SERVICE_PROVIDER_NAME 0x91
#define TAG_PROFILE_NAME 0x92
#define TAG_ICON_TYPE 0x93
#define TAG_ICON 0x94
#define TAG_PROFILE_CLASS 0x95
#define TAG_PROFILE_POLICY_RULES 0x99
#define TAG_PROFILE_STATE 0x9F70
#define TAG_ISDP_AID 0x4F

/* Requests with fixed bytes. */
static const uint8_t kCountRequest[] = {0xBF, 0x2D, 0x03, 0x5C, 0x01, 0x5A};
static const uint8_t kFullListRequest[] = {0xBF, 0x2D, 0x07, 0x5C, 0x05, 0x5A, 0x9F, 0x70, 0x95, 0x92};
static const uint8_t kCompactListRequest[] = {0xBF, 0x2D, 0x07, 0x5C, 0x05, 0x5A, 0x9F, 0x70, 0x95, 0x99};
static const uint8_t kGetEidRequest[] = {0xBF, 0x3E, 0x03, 0x5C, 0x01, 0x5A};

/* The response buffer of GetEID, memory reset, the profile operations and
 * the nickname. */
static uint8_t _es10cResponse[LPA_ES10C_RESPONSE_BUFFER_SIZE];

/* Longest byte string traced in full; longer ones end in "...". */
#define TRACE_HEX_MAX_BYTES 1024
static char _traceHex[2 * TRACE_HEX_MAX_BYTES + 1];

/* Upper-case hex of up to maxBytes bytes, else "...". */
static const char *_hexText(const uint8_t *bytes, size_t length, size_t maxBytes)
{
    if (length > maxBytes || length > TRACE_HEX_MAX_BYTES) {
        return "...";
    }
    byteArray2HexStr(bytes, length, _traceHex, sizeof(_traceHex));
    return _traceHex;
}

static const char *_rawText(const RawDataObject *object)
{
    return _hexText(object->data, object->length, TRACE_HEX_MAX_BYTES);
}

static bool _isSuccessStatusWord(uint16_t sw)
{
    return sw == 0x9000 || (sw >> 8) == 0x91;
}

/* Sends one request. False with exchangeError when the exchange fails,
 * with statusWordError when the status word is neither 9000 nor 91xx. */
static bool _exchange(const RawDataObject *request, uint8_t *response, size_t capacity, size_t *responseLength,
                      uint32_t exchangeError, uint32_t statusWordError)
{
    uint16_t sw = 0;
    *responseLength = 0;
    if (!buildAndSendStoreDataCase4(request, &sw, response, capacity, responseLength)) {
        *responseLength = 0;
        lpaSetLastErrorCode(exchangeError);
        return false;
    }
    if (!_isSuccessStatusWord(sw)) {
        *responseLength = 0;
        lpaSetLastErrorCode(statusWordError);
        return false;
    }
    return true;
}

/* _exchange for fixed request bytes. */
static bool _exchangeBytes(const uint8_t *requestBytes, size_t requestLength, uint8_t *response, size_t capacity,
                           size_t *responseLength, uint32_t exchangeError, uint32_t statusWordError)
{
    RawDataObject *request = rawDataObject_create(requestBytes, requestLength);
    if (request == NULL) {
        lpaSetLastErrorCode(LPA_ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    bool result = _exchange(request, response, capacity, responseLength, exchangeError, statusWordError);
    rawDataObject_free(request);
    return result;
}

/* The value of the one-byte result tag 80 inside the outer tag of an
 * answer; false when either is missing or the result is not one byte. */
static bool _extractResult(uint16_t outerTag, const uint8_t *data, size_t length, uint8_t *value)
{
    bool result = false;
    BerTLV *outer = berTLV_extractTagUInt16(outerTag, data, length, NULL);
    if (outer != NULL && outer->value != NULL) {
        BerTLV *code = berTLV_extractTagUInt8(TAG_RESULT, outer->value, outer->length, NULL);
        if (code != NULL && code->value != NULL && code->length == 1) {
            *value = code->value[0];
            result = true;
        }
        berTLV_freeBerTLV(code);
    }
    berTLV_freeBerTLV(outer);
    return result;
}

/* ---- the profile list ---- */

/* Walks the E3 entries of a GetProfilesInfo answer (BF2D, then A0). False
 * (0x2108) when BF2D or A0 is missing; an empty or undecodable A0 has no
 * entries. */
bool _walkProfileInfoEntries(const uint8_t *data, size_t length, ProfileEntryVisitor visit, void *context)
{
    bool result = false;
    BerTLV *outer = berTLV_extractTagUInt16(TAG_GET_PROFILES_INFO, data, length, NULL);
    BerTLV *list = NULL;
    if (outer == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "Tag <BF2D> not found !");
    } else {
        if (outer->value != NULL) {
            list = berTLV_extractTagUInt8(TAG_LIST, outer->value, outer->length, NULL);
        }
        if (list == NULL) {
            lpaCoreLog(LPA_LOG_LEVEL_WAR, "Tag <A0> not found !");
        }
    }
    if (list != NULL) {
        result = true;
        size_t count = 0;
        BerTLVListNode *nodes = NULL;
        if (list->value != NULL) {
            nodes = berTLV_extractList(list->value, list->length, &count);
        }
        if (nodes == NULL) {
            lpaCoreLog(LPA_LOG_LEVEL_WAR, "No BerTLV inside tag <A0> !");
        } else if (count == 0) {
            lpaCoreLog(LPA_LOG_LEVEL_WAR, "TLV count inside tag <A0> <= 0 !");
        }
        for (BerTLVListNode *node = nodes; node != NULL; node = node->next) {
            if (node->tlv == NULL || node->tlv->tag != TAG_PROFILE_INFO) {
                lpaCoreLog(LPA_LOG_LEVEL_DEB, "Current BerTLV NULL or Tag not equal 0xE3, jumping on next");
                continue;
            }
            visit(node->tlv, context);
        }
        berTLV_freeBerTLVList(nodes);
    }
    berTLV_freeBerTLV(list);
    berTLV_freeBerTLV(outer);
    if (!result) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "Profile data extraction cannot be performed!");
        lpaSetLastErrorCode(LPA_ERROR_LOCAL_PROFILE_UNABLE_TO_EXTRACT_DATA);
    }
    return result;
}

/* Sends a GetProfilesInfo request and walks its answer. */
static bool _requestProfileInfoEntries(const uint8_t *requestBytes, size_t requestLength, uint8_t *response,
                                       size_t capacity, ProfileEntryVisitor visit, void *context)
{
    size_t responseLength = 0;
    if (!_exchangeBytes(requestBytes, requestLength, response, capacity, &responseLength,
                        LPA_ERROR_INVALID_GET_PROFILES_INFO_EXCHANGE, LPA_ERROR_INVALID_SW)) {
        return false;
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "SW=90.00 or 91.xx => Extracting data");
    if (responseLength == 0) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "No Raw data available!");
        return false;
    }
    return _walkProfileInfoEntries(response, responseLength, visit, context);
}

static void _countEntry(const BerTLV *entry, void *context)
{
    (void)entry;
    ++*(size_t *)context;
}

bool lpaManagerES10c_GetProfilesNumber(size_t *count)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "++ lpaManagerES10c_GetProfilesNumber(...)");
    bool result = false;
    if (count == NULL) {
        lpaSetLastErrorCode(LPA_ERROR_INVALID_PARAMETER);
    } else {
        *count = 0;
        uint8_t *response = (uint8_t *)LPA_MALLOC(LPA_ES10C_COUNT_RESPONSE_SIZE);
        if (response == NULL) {
            lpaCoreLog(LPA_LOG_LEVEL_ERR,
                       "Cannot allocate response buffer for GetProfileNumber eUICC response! Needed %d bytes",
                       LPA_ES10C_COUNT_RESPONSE_SIZE);
            lpaSetLastErrorCode(LPA_ERROR_INSUFFICIENT_BUFFER);
        } else {
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "do buildAndSendStoreDataCase4(GetProfilesNumber) ...");
            size_t found = 0;
            result = _requestProfileInfoEntries(kCountRequest, sizeof(kCountRequest), response,
                                                LPA_ES10C_COUNT_RESPONSE_SIZE, _countEntry, &found);
            if (result) {
                *count = found;
                lpaCoreLog(LPA_LOG_LEVEL_DEB, "lpaManagerES10c_GetProfilesNumber: Found %d profile(s)", (int)found);
            }
            LPA_FREE(response);
        }
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "-- lpaManagerES10c_GetProfilesNumber(...): return %s", lpaBoolText(result));
    return result;
}

/* True when a broken GET RESPONSE chain is stored and another execution
 * may run: the error is cleared and the retry line written. */
bool lpaManagerRetryAfterChainingIssue(const char *function, int executions, bool traceReset)
{
    if (executions >= LPA_NUMBER_OF_EXECUTIONS_FOR_CHAINED_GET_RESPONSE ||
        lpaGetErrorCodeNoClear() != SE_MEDIA_E_CHAINING_GET_RESPONSE) {
        return false;
    }
    if (traceReset) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "lpaResetErrorCode()...");
    }
    lpaResetErrorCode();
    lpaCoreLog(LPA_LOG_LEVEL_WAR, "%s: GetResponse chaining issue detected, try another time, nbExecGetResp = %d",
               function, LPA_NUMBER_OF_EXECUTIONS_FOR_CHAINED_GET_RESPONSE - executions);
    return true;
}

static bool _retryAfterChainingIssue(const char *function, int executions)
{
    return lpaManagerRetryAfterChainingIssue(function, executions, false);
}

bool lpaManagerGetProfilesNumber(size_t *count)
{
    bool result = false;
    int executions = 0;
    do {
        result = lpaManagerES10c_GetProfilesNumber(count);
        ++executions;
    } while (_retryAfterChainingIssue("lpaManagerGetProfilesNumber", executions));
    return result;
}

/* Where the list walk stores records. */
typedef struct ProfileStore {
    LpaProfileInfoList *list;
    uint8_t kind;
} ProfileStore;

static size_t _recordSize(uint8_t kind)
{
    return kind == LPA_PROFILE_INFO_KIND_FULL ? sizeof(LpaProfileInfo) : sizeof(LpaProfileInfoForPpr);
}

static void _storeEntry(const BerTLV *entry, void *context)
{
    ProfileStore *store = (ProfileStore *)context;
    LpaProfileInfoList *list = store->list;
    if (list->countProfileInfo < list->maxProfileInfo) {
        void *record = (uint8_t *)list->profileInfo + list->countProfileInfo * _recordSize(store->kind);
        if (!_updateProfileInfoFromBerTLV(record, entry, store->kind)) {
            lpaCoreLog(LPA_LOG_LEVEL_WAR, "WARNING: Invalid data detected for profile #%u !",
                       (unsigned)list->countProfileInfo);
        }
        ++list->countProfileInfo;
    } else {
        lpaCoreLog(LPA_LOG_LEVEL_WAR,
                   "WARNING: Number of profiles found (%d) exceeds maximum allowed (%d)! Profile not stored.",
                   (int)(list->numberProfileInfoFound + 1), (int)list->maxProfileInfo);
    }
    ++list->numberProfileInfoFound;
}

/* Sends the list request with a response of the given capacity and stores
 * the records (the last steps of both list forms). */
static bool _fetchProfileInfoRecords(LpaProfileInfoList *list, uint8_t kind, const uint8_t *requestBytes,
                                     size_t requestLength, size_t capacity)
{
    uint8_t *response = (uint8_t *)LPA_MALLOC(capacity);
    if (response == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR,
                   "Cannot allocate response buffer for GetProfileInfo eUICC response! Needed %d bytes",
                   (int)capacity);
        lpaSetLastErrorCode(LPA_ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "do buildAndSendStoreDataCase4(GetProfilesInfo) ...");
    ProfileStore store = {list, kind};
    bool result = _requestProfileInfoEntries(requestBytes, requestLength, response, capacity, _storeEntry, &store);
    LPA_FREE(response);
    return result;
}

/* Frees a compact array that the list holds. */
static void _releaseCompactArray(LpaProfileInfoList *list)
{
    if (list->profileInfo != NULL) {
        LPA_FREE(list->profileInfo);
        list->profileInfo = NULL;
    }
    list->maxProfileInfo = 0;
}

static bool _getProfilesInfo(LpaProfileInfoList *list, bool *retryAllowed, uint8_t kind)
{
    if (list == NULL || retryAllowed == NULL ||
        (kind == LPA_PROFILE_INFO_KIND_FULL && (list->profileInfo == NULL || list->maxProfileInfo == 0))) {
        lpaSetLastErrorCode(LPA_ERROR_INVALID_PARAMETER);
        return false;
    }
    list->countProfileInfo = 0;
    list->numberProfileInfoFound = 0;
    if (kind == LPA_PROFILE_INFO_KIND_FULL) {
        memset(list->profileInfo, 0, list->maxProfileInfo * sizeof(LpaProfileInfo));
    } else {
        _releaseCompactArray(list);
    }

    size_t count = 0;
    bool counted = lpaManagerGetProfilesNumber(&count);
    *retryAllowed = (lpaGetErrorCodeNoClear() != SE_MEDIA_E_CHAINING_GET_RESPONSE);
    if (!counted) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR,
                   "Failed to retrieve number of profiles stored in card! GetProfileInfo aborted.");
        lpaSetLastErrorCode(LPA_ERROR_LOCAL_PROFILE_UNABLE_TO_EXTRACT_DATA);
        return false;
    }
    if (count == 0) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "No profiles found in card. GetProfileInfo \"Full Profile\" request is bypassed");
        return true;
    }

    size_t capacity = count * LPA_PROFILE_INFO_RAW_MAX + 10;
    const uint8_t *request = kFullListRequest;
    size_t requestLength = sizeof(kFullListRequest);
    if (kind != LPA_PROFILE_INFO_KIND_FULL) {
        size_t bytes = count * sizeof(LpaProfileInfoForPpr);
        list->profileInfo = LPA_MALLOC(bytes);
        if (list->profileInfo == NULL) {
            lpaCoreLog(LPA_LOG_LEVEL_ERR,
                       "Cannot allocate memory area for profileInfoList data! (PPR management) Needed %d bytes",
                       (int)bytes);
            lpaSetLastErrorCode(LPA_ERROR_INSUFFICIENT_BUFFER);
            return false;
        }
        memset(list->profileInfo, 0, bytes);
        list->maxProfileInfo = count;
        capacity = count * LPA_PROFILE_INFO_PPR_ENTRY_SIZE + 10;
        request = kCompactListRequest;
        requestLength = sizeof(kCompactListRequest);
    }
    bool result = _fetchProfileInfoRecords(list, kind, request, requestLength, capacity);
    if (!result && kind != LPA_PROFILE_INFO_KIND_FULL && list->countProfileInfo == 0) {
        _releaseCompactArray(list);
    }
    return result;
}

bool lpaManagerES10c_GetProfilesInfo(LpaProfileInfoList *list, bool *retryAllowed, uint8_t kind)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "++ lpaManagerES10c_GetProfilesInfo(...)");
    bool result = _getProfilesInfo(list, retryAllowed, kind);
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "-- lpaManagerES10c_GetProfilesInfo(...)");
    return result;
}

bool lpaManagerES10c_GetProfilesInfo_ex(LpaProfileInfoList *list, bool *retryAllowed)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "++ lpaManagerES10c_GetProfilesInfo_ex(...)");
    bool result = false;
    if (list == NULL || retryAllowed == NULL) {
        lpaSetLastErrorCode(LPA_ERROR_INVALID_PARAMETER);
    } else {
        list->countProfileInfo = 0;
        list->numberProfileInfoFound = 0;
        if (list->profileInfo != NULL) {
            memset(list->profileInfo, 0, list->maxProfileInfo * sizeof(LpaProfileInfoForPpr));
        }
        *retryAllowed = (lpaGetErrorCodeNoClear() != SE_MEDIA_E_CHAINING_GET_RESPONSE);
        if (list->maxProfileInfo == 0) {
            lpaCoreLog(LPA_LOG_LEVEL_DEB,
                       "No profiles found in card. GetProfileInfo \"Full Profile\" request is bypassed");
            result = true;
        } else if (list->profileInfo == NULL) {
            lpaSetLastErrorCode(LPA_ERROR_INVALID_PARAMETER);
        } else {
            /* The answer's room does not depend on the caller's capacity:
             * entries beyond it are counted, not stored. */
            result = _fetchProfileInfoRecords(list, LPA_PROFILE_INFO_KIND_PPR, kCompactListRequest,
                                              sizeof(kCompactListRequest), LPA_ES10C_RESPONSE_BUFFER_SIZE);
        }
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "-- lpaManagerES10c_GetProfilesInfo_ex(...)");
    return result;
}

bool lpaManagerGetProfilesInfo(LpaProfileInfoList *list, bool compact)
{
    bool result = false;
    bool retryAllowed = true;
    int executions = 0;
    do {
        if (compact) {
            result = lpaManagerES10c_GetProfilesInfo_ex(list, &retryAllowed);
        } else {
            result = lpaManagerES10c_GetProfilesInfo(list, &retryAllowed, LPA_PROFILE_INFO_KIND_FULL);
        }
        ++executions;
    } while (retryAllowed && _retryAfterChainingIssue("lpaManagerGetProfilesInfo", executions));
    return result;
}

/* ---- records ---- */

/* Stores a value when 1 <= length <= size; otherwise the field stays empty. */
static void _storeField(void *field, size_t size, size_t *fieldLength, const BerTLV *tlv)
{
    if (tlv->length >= 1 && tlv->length <= size && tlv->value != NULL) {
        memcpy(field, tlv->value, tlv->length);
        *fieldLength = tlv->length;
    }
}

#define STORE_FIELD(record, name, tlv) \
    _storeField((record)->name, sizeof((record)->name), &(record)->name##Length, (tlv))

static void _unexpectedCompactTag(const char *tagText)
{
    lpaCoreLog(LPA_LOG_LEVEL_WAR, "WARNING! Tag %s detected on profile info request for PPR. Shall not happen.",
               tagText);
}

/* The tags both record kinds take (the ISD-P AID is ignored); false for
 * the others. */
template <typename Record>
static bool _fillCommonField(Record *record, const BerTLV *tlv)
{
    switch (tlv->tag) {
    case TAG_ICCID: STORE_FIELD(record, iccid, tlv); return true;
    case TAG_ISDP_AID: return true;
    case TAG_PROFILE_STATE: STORE_FIELD(record, profileState, tlv); return true;
    case TAG_PROFILE_CLASS: STORE_FIELD(record, profileClass, tlv); return true;
    default: return false;
    }
}

static void _unattendedTag(const BerTLV *tlv)
{
    lpaCoreLog(LPA_LOG_LEVEL_WAR, "WARNING! Unattended Tag 0x%X detected in profile info. Ignoring it.",
               (unsigned)tlv->tag);
}

static void _fillFullRecord(LpaProfileInfo *record, const BerTLV *tlv)
{
    if (_fillCommonField(record, tlv)) {
        return;
    }
    switch (tlv->tag) {
    case TAG_NICKNAME: STORE_FIELD(record, nickname, tlv); break;
    case TAG_SERVICE_PROVIDER_NAME: STORE_FIELD(record, serviceProviderName, tlv); break;
    case TAG_PROFILE_NAME: STORE_FIELD(record, profileName, tlv); break;
    case TAG_ICON_TYPE: STORE_FIELD(record, iconType, tlv); break;
    case TAG_ICON: STORE_FIELD(record, icon, tlv); break;
    case TAG_PROFILE_POLICY_RULES:
        lpaCoreLog(LPA_LOG_LEVEL_WAR,
                   "WARNING! Tag 0x99 \"profilePolicyRules\" detected on normal profile info request. Shall not happen.");
        break;
    default: _unattendedTag(tlv); break;
    }
}

static void _fillCompactRecord(LpaProfileInfoForPpr *record, const BerTLV *tlv)
{
    if (_fillCommonField(record, tlv)) {
        return;
    }
    switch (tlv->tag) {
    case TAG_PROFILE_POLICY_RULES: STORE_FIELD(record, profilePolicyRules, tlv); break;
    case TAG_NICKNAME: _unexpectedCompactTag("0x90 \"nickname\""); break;
    case TAG_SERVICE_PROVIDER_NAME: _unexpectedCompactTag("0x91 \"serviceProviderName\""); break;
    case TAG_PROFILE_NAME: _unexpectedCompactTag("0x92 \"profileName\""); break;
    case TAG_ICON_TYPE: _unexpectedCompactTag("0x93 \"iconType\""); break;
    case TAG_ICON: _unexpectedCompactTag("0x94 \"icon\""); break;
    default: _unattendedTag(tlv); break;
    }
}

bool _updateProfileInfoFromBerTLV(void *record, const BerTLV *entry, uint8_t kind)
{
    if (record == NULL || entry == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "_updateProfileInfoFromBerTLV() - Incorrect parameter(s)!");
        return false;
    }
    bool full = (kind == LPA_PROFILE_INFO_KIND_FULL);
    memset(record, 0, _recordSize(kind));
    if (full) {
        LpaProfileInfo *fullRecord = (LpaProfileInfo *)record;
        if (entry->length > LPA_PROFILE_INFO_RAW_MAX || entry->value == NULL) {
            lpaCoreLog(LPA_LOG_LEVEL_WAR,
                       "_updateProfileInfoFromBerTLV() - Profile raw data size too big (%u vs %u max) or profile raw data = NULL !",
                       (unsigned)entry->length, (unsigned)LPA_PROFILE_INFO_RAW_MAX);
            return false;
        }
        memcpy(fullRecord->profileInfoRaw, entry->value, entry->length);
        fullRecord->profileInfoRawLength = entry->length;
    }
    size_t count = 0;
    BerTLVListNode *tlvs = NULL;
    if (entry->value != NULL) {
        tlvs = berTLV_extractList(entry->value, entry->length, &count);
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "countTLVFound : %d", (int)count);
    if (tlvs == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "_updateProfileInfoFromBerTLV() - BerTLV list NULL !");
        memset(record, 0, _recordSize(kind));
        return false;
    }
    int index = 0;
    for (BerTLVListNode *node = tlvs; node != NULL; node = node->next, ++index) {
        const BerTLV *tlv = node->tlv;
        if (tlv == NULL) {
            continue;
        }
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "IDX[%d] TLV tag<%04x> (%d bytes) => %s", index, (unsigned)tlv->tag,
                   (int)tlv->length, _hexText(tlv->value, tlv->length, 511));
        if (full) {
            _fillFullRecord((LpaProfileInfo *)record, tlv);
        } else {
            _fillCompactRecord((LpaProfileInfoForPpr *)record, tlv);
        }
    }
    berTLV_freeBerTLVList(tlvs);
    return true;
}

/* ---- EID ---- */

bool lpaManagerES10c_GetEID(LpaEid *eid)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "++ lpaManagerES10c_GetEID(...)");
    bool result = false;
    if (eid == NULL) {
        lpaSetLastErrorCode(LPA_ERROR_INVALID_PARAMETER);
    } else {
        memset(eid, 0, sizeof(*eid));
        size_t length = 0;
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "do buildAndSendStoreDataCase4(GetEID) ...");
        if (_exchangeBytes(kGetEidRequest, sizeof(kGetEidRequest), _es10cResponse, sizeof(_es10cResponse), &length,
                           LPA_ERROR_INVALID_GET_EID_EXCHANGE, LPA_ERROR_INVALID_SW)) {
            if (length == 0) {
                lpaCoreLog(LPA_LOG_LEVEL_WAR, "No Raw data available !");
                result = true;
            } else {
                BerTLV *outer = berTLV_extractTagUInt16(TAG_GET_EID, _es10cResponse, length, NULL);
                if (outer == NULL) {
                    lpaSetLastErrorCode(LPA_ERROR_LOCAL_PROFILE_UNABLE_TO_EXTRACT_DATA);
                } else {
                    BerTLV *value = NULL;
                    if (outer->value != NULL) {
                        value = berTLV_extractTagUInt8(TAG_ICCID, outer->value, outer->length, NULL);
                    }
                    if (value != NULL && value->length > sizeof(eid->eid)) {
                        lpaCoreLog(LPA_LOG_LEVEL_WAR, "Buffer too small for copying raw data !");
                        lpaSetLastErrorCode(LPA_ERROR_INSUFFICIENT_BUFFER);
                    } else if (value != NULL) {
                        if (value->value != NULL) {
                            memcpy(eid->eid, value->value, value->length);
                        }
                        eid->eidLength = value->length;
                        result = true;
                    } else {
                        /* no EID in the answer, or no room to copy it */
                        lpaSetLastErrorCode(LPA_ERROR_LOCAL_PROFILE_UNABLE_TO_EXTRACT_DATA);
                    }
                    berTLV_freeBerTLV(value);
                }
                berTLV_freeBerTLV(outer);
            }
        }
        result = result && (_lpaErrorCodePeek() == LPA_NO_ERROR);
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "-- lpaManagerES10c_GetEID(...) : return %s", lpaBoolText(result));
    return result;
}

/* ---- memory reset ---- */

static bool _doExtractMemoryResetResponse(const uint8_t *data, size_t length)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "++ _doExtractMemoryResetResponse(...)");
    bool result = false;
    uint8_t resetResult = 0;
    if (!_extractResult(TAG_MEMORY_RESET, data, length, &resetResult)) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "BerTLV attribute Value NULL ot length not equal 1 !");
        lpaSetLastErrorCode(LPA_ERROR_LOCAL_PROFILE_UNKNOWN_ERROR);
    } else {
        switch (resetResult) {
        case 0: result = true; break;
        case 1: lpaSetLastErrorCode(LPA_ERROR_LOCAL_PROFILE_NOTHING_TO_DELETE); break;
        case 5: lpaSetLastErrorCode(LPA_ERROR_LOCAL_PROFILE_CAT_BUSY); break;
        case 127: lpaSetLastErrorCode(LPA_ERROR_LOCAL_PROFILE_UNDEFINED_ERROR); break;
        default:
            lpaCoreLog(LPA_LOG_LEVEL_WAR, " -> Incorrect memoryResetStatus returned by the card : 0x%02x",
                       (unsigned)resetResult);
            lpaSetLastErrorCode(LPA_ERROR_LOCAL_PROFILE_UNKNOWN_ERROR);
            break;
        }
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "-- _doExtractMemoryResetResponse(...) : return %d", (int)result);
    return result;
}

/* A TLV around the content of an object (NULL content: empty value). */
static RawDataObject *_wrap(uint16_t tag, const RawDataObject *content)
{
    if (content == NULL) {
        return NULL;
    }
    return berTLV_createAndBuildRawDataObject(tag, content->length, content->data);
}

bool lpaManagerES10c_MemoryReset(const uint8_t *resetOptions, size_t length)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "++ lpaManagerES10c_MemoryReset(...)");
    bool result = false;
    if (resetOptions == NULL || length != 2) {
        lpaSetLastErrorCode(LPA_ERROR_INVALID_PARAMETER);
    } else {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "Creating rawDataMemoryResetParameterTag object ...");
        RawDataObject *options = berTLV_createAndBuildRawDataObject(TAG_RESET_OPTIONS, length, resetOptions);
        RawDataObject *request = _wrap(TAG_MEMORY_RESET, options);
        size_t responseLength = 0;
        if (request == NULL) {
            lpaSetLastErrorCode(LPA_ERROR_INSUFFICIENT_BUFFER);
        } else if (_exchange(request, _es10cResponse, sizeof(_es10cResponse), &responseLength,
                             LPA_ERROR_INVALID_MEMORY_RESET_EXCHANGE,
                             LPA_ERROR_LOCAL_PROFILE_INCORRECT_CARD_RESPONSE)) {
            result = (responseLength == 0) || _doExtractMemoryResetResponse(_es10cResponse, responseLength);
        }
        rawDataObject_free(request);
        rawDataObject_free(options);
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "-- lpaManagerES10c_MemoryReset() : return %s", lpaBoolText(result));
    return result;
}

/* ---- enable, disable, delete ---- */

static const char *_operationName(uint16_t tag)
{
    switch (tag) {
    case TAG_ENABLE_PROFILE: return "Enable";
    case TAG_DISABLE_PROFILE: return "Disable";
    default: return "Delete";
    }
}

/* The error of a non-zero operation result (0: success). */
static uint32_t _profileOperationError(uint16_t tag, uint8_t operationResult)
{
    switch (operationResult) {
    case 0: return LPA_NO_ERROR;
    case 1: return LPA_ERROR_LOCAL_PROFILE_ICCID_OR_AID_NOT_FOUND;
    case 2:
        return tag == TAG_DISABLE_PROFILE ? LPA_ERROR_LOCAL_PROFILE_NOT_IN_ENABLE_STATE
                                          : LPA_ERROR_LOCAL_PROFILE_NOT_IN_DISABLE_STATE;
    case 3: return LPA_ERROR_LOCAL_PROFILE_DISALLOWED_BY_POLICY;
    case 4:
        return tag == TAG_ENABLE_PROFILE ? LPA_ERROR_LOCAL_PROFILE_WRONG_PROFILE_REENABLING
                                         : LPA_ERROR_LOCAL_PROFILE_INCORRECT_CARD_RESPONSE;
    case 5:
        return tag == TAG_DELETE_PROFILE ? LPA_ERROR_LOCAL_PROFILE_INCORRECT_CARD_RESPONSE
                                         : LPA_ERROR_LOCAL_PROFILE_CAT_BUSY;
    case 127: return LPA_ERROR_LOCAL_PROFILE_UNDEFINED_ERROR;
    default: return LPA_ERROR_LOCAL_PROFILE_INCORRECT_CARD_RESPONSE;
    }
}

/* The profile operation's request: tag { A0 { 5A iccid }, 81 01 flag } for
 * enable and disable, tag { 5A iccid } for delete. */
static RawDataObject *_buildProfileOperationRequest(uint16_t tag, const uint8_t *iccid, size_t length)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "Creating ICCID BerTLV ...");
    RawDataObject *iccidTlv = berTLV_createAndBuildRawDataObject(TAG_ICCID, length, iccid);
    if (iccidTlv == NULL) {
        return NULL;
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "ICCID BertLV RawData : %s", _rawText(iccidTlv));
    RawDataObject *content = iccidTlv;
    RawDataObject *a0 = NULL;
    RawDataObject *refresh = NULL;
    if (tag != TAG_DELETE_PROFILE) {
        content = NULL;
        a0 = _wrap(TAG_LIST, iccidTlv);
        if (a0 != NULL) {
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "rawDataA0 BertLV RawData : %s", _rawText(a0));
            uint8_t flag = lpaManagerIsProfileRefreshFlag() ? 0xFF : 0x00;
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "Append Refreshflag with value 0x%02X", (unsigned)flag);
            refresh = berTLV_createAndBuildRawDataObject(TAG_REFRESH_FLAG, 1, &flag);
        }
        if (refresh != NULL) {
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "rawDataObjectRefreshFlag BertLV RawData : %s", _rawText(refresh));
            content = rawDataObject_concat(a0, refresh);
        }
        if (content != NULL) {
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "rawDataA0WithRefresh BertLV RawData : %s", _rawText(content));
        }
    }
    RawDataObject *request = NULL;
    if (content != NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "Creating DGI BerTLV ...");
        request = _wrap(tag, content);
        if (request != NULL) {
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "DGI BerTLV RawData : %s", _rawText(request));
        }
    }
    if (content != iccidTlv) {
        rawDataObject_free(content);
    }
    rawDataObject_free(refresh);
    rawDataObject_free(a0);
    rawDataObject_free(iccidTlv);
    return request;
}

bool _doProfileOperationByIccid(uint16_t tag, const uint8_t *iccid, size_t length)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "_doProfileOperationByIccid(...)");
    if (iccid == NULL || length == 0) {
        lpaSetLastErrorCode(LPA_ERROR_INVALID_PARAMETER);
        return false;
    }
    RawDataObject *request = _buildProfileOperationRequest(tag, iccid, length);
    if (request == NULL) {
        lpaSetLastErrorCode(LPA_ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    bool result = false;
    size_t responseLength = 0;
    if (_exchange(request, _es10cResponse, sizeof(_es10cResponse), &responseLength,
                  LPA_ERROR_LOCAL_PROFILE_INVALID_DATA_EXCHANGE, LPA_ERROR_LOCAL_PROFILE_INCORRECT_CARD_RESPONSE)) {
        if (responseLength == 0) {
            lpaCoreLog(LPA_LOG_LEVEL_WAR, "Incorrect parameter(s)!");
            lpaSetLastErrorCode(LPA_ERROR_INVALID_PARAMETER);
        } else {
            const char *name = _operationName(tag);
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "_extractResponseFor%sProfileOperation(...)", name);
            uint8_t operationResult = 0;
            if (!_extractResult(tag, _es10cResponse, responseLength, &operationResult)) {
                lpaSetLastErrorCode(LPA_ERROR_LOCAL_PROFILE_INCORRECT_CARD_RESPONSE);
            } else {
                char lower[8];
                snprintf(lower, sizeof(lower), "%c%s", name[0] - 'A' + 'a', name + 1);
                lpaCoreLog(LPA_LOG_LEVEL_DEB, "%sResult:%d", lower, (int)operationResult);
                uint32_t error = _profileOperationError(tag, operationResult);
                if (error == LPA_NO_ERROR) {
                    result = true;
                } else {
                    lpaSetLastErrorCode(error);
                }
            }
        }
    }
    rawDataObject_free(request);
    return result;
}

static bool _profileOperation(const char *function, uint16_t tag, const uint8_t *iccid, size_t length)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "++ %s(...)", function);
    bool result = _doProfileOperationByIccid(tag, iccid, length);
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "-- %s() : return %s", function, lpaBoolText(result));
    return result;
}

bool lpaManagerES10c_EnableProfileByIccid(const uint8_t *iccid, size_t length)
{
    return _profileOperation("lpaManagerES10c_EnableProfileByIccid", TAG_ENABLE_PROFILE, iccid, length);
}

bool lpaManagerES10c_DisableProfileByIccid(const uint8_t *iccid, size_t length)
{
    return _profileOperation("lpaManagerES10c_DisableProfileByIccid", TAG_DISABLE_PROFILE, iccid, length);
}

bool lpaManagerES10c_DeleteProfileByIccid(const uint8_t *iccid, size_t length)
{
    return _profileOperation("lpaManagerES10c_DeleteProfileByIccid", TAG_DELETE_PROFILE, iccid, length);
}

/* ---- nickname ---- */

static RawDataObject *_buildSetNicknameRequest(const uint8_t *iccid, size_t iccidLength, const char *nickname,
                                               size_t nicknameLength)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "Creating ICCID and Nickname BerTLV ...");
    RawDataObject *iccidTlv = berTLV_createAndBuildRawDataObject(TAG_ICCID, iccidLength, iccid);
    RawDataObject *nicknameTlv =
        berTLV_createAndBuildRawDataObject(TAG_NICKNAME, nicknameLength, (const uint8_t *)nickname);
    RawDataObject *content = NULL;
    RawDataObject *request = NULL;
    if (iccidTlv != NULL && nicknameTlv != NULL) {
        content = rawDataObject_concat(iccidTlv, nicknameTlv);
    }
    request = _wrap(TAG_SET_NICKNAME, content);
    if (request != NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "Set Nickname request : %s", _rawText(request));
    }
    rawDataObject_free(content);
    rawDataObject_free(nicknameTlv);
    rawDataObject_free(iccidTlv);
    return request;
}

bool lpaManagerES10c_SetNickname(const uint8_t *iccid, size_t iccidLength, const char *nickname,
                                 size_t nicknameLength)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "++ lpaManagerES10c_SetNickname(...)");
    bool result = false;
    RawDataObject *request = NULL;
    if (iccid == NULL || iccidLength == 0 || nickname == NULL || nicknameLength > 64) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "lpaManagerES10c_SetNickname: Incorrect parameters(s)");
        lpaSetLastErrorCode(LPA_ERROR_INVALID_PARAMETER);
    } else if ((request = _buildSetNicknameRequest(iccid, iccidLength, nickname, nicknameLength)) == NULL) {
        lpaSetLastErrorCode(LPA_ERROR_INSUFFICIENT_BUFFER);
    } else {
        size_t responseLength = 0;
        uint8_t nicknameResult = 0;
        if (!_exchange(request, _es10cResponse, sizeof(_es10cResponse), &responseLength,
                       LPA_ERROR_LOCAL_PROFILE_INVALID_DATA_EXCHANGE,
                       LPA_ERROR_LOCAL_PROFILE_INCORRECT_CARD_RESPONSE)) {
            /* the code is set */
        } else if (responseLength == 0) {
            lpaCoreLog(LPA_LOG_LEVEL_WAR, "_extractResponseForSetNicknameOperation: Incorrect parameter(s)!");
            lpaSetLastErrorCode(LPA_ERROR_INVALID_PARAMETER);
        } else if (!_extractResult(TAG_SET_NICKNAME, _es10cResponse, responseLength, &nicknameResult)) {
            lpaSetLastErrorCode(LPA_ERROR_LOCAL_PROFILE_INCORRECT_CARD_RESPONSE);
        } else {
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "setNicknameResult:%d", (int)nicknameResult);
            switch (nicknameResult) {
            case 0: result = true; break;
            case 1: lpaSetLastErrorCode(LPA_ERROR_LOCAL_PROFILE_ICCID_OR_AID_NOT_FOUND); break;
            case 127: lpaSetLastErrorCode(LPA_ERROR_LOCAL_PROFILE_UNDEFINED_ERROR); break;
            default: lpaSetLastErrorCode(LPA_ERROR_LOCAL_PROFILE_INCORRECT_CARD_RESPONSE); break;
            }
        }
    }
    rawDataObject_free(request);
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "-- lpaManagerES10c_SetNickname() : return %s", lpaBoolText(result));
    return result;
}

bool lpaManagerSetNickname(const uint8_t *iccid, size_t iccidLength, const char *nickname, size_t nicknameLength)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "++ lpaManagerSetNickname(...)");
    bool result = lpaManagerES10c_SetNickname(iccid, iccidLength, nickname, nicknameLength);
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "-- lpaManagerSetNickname(...)");
    return result;
}
