/*
 * Hollowbright eSIM LPA engine: the exported lpa API.
 * Compiles as C and as C++.
 */
#ifndef LPA_H
#define LPA_H

#include <stdint.h>
#include <stdbool.h>
#include <stddef.h>

#include "lpa_error_codes.h"

#ifndef LPA_API
#define LPA_API __attribute__((visibility("default")))
#endif

/* Layout checks of the exported records, where the language has them
 * (C11 or C++); the sizes hold for 64-bit builds. */
#if defined(__cplusplus)
#define LPA_STATIC_ASSERT static_assert
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define LPA_STATIC_ASSERT _Static_assert
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------------
 * Error codes
 * ------------------------------------------------------------------------ */

/* The named error codes (LPA_NO_ERROR = 0 ... SE_MEDIA_E_CHAINING_GET_RESPONSE),
 * generated from LPA_ERROR_CODE_LIST. Codes are handled as uint32_t. */
#define LPA_ERROR_CODE_ENUMERATOR(code, identifier) identifier = (code),
typedef enum LpaErrorCode {
    LPA_ERROR_CODE_LIST(LPA_ERROR_CODE_ENUMERATOR)
} LpaErrorCode;
#undef LPA_ERROR_CODE_ENUMERATOR

/* One row of the error table. The table ends with the row {0, NULL}. */
typedef struct LpaErrorCodeDescription {
    uint32_t code;
    const char *name;
} LpaErrorCodeDescription;

/* Returns the last error code and clears it. */
LPA_API uint32_t lpaGetErrorCode(void);

/* Returns the identifier of a code as text, or "Unknown LPA API Error Code". */
LPA_API const char *lpaGetErrorCodeDescription(uint32_t code);

/* Returns the first row of the error table; walk it up to the row whose
 * name is NULL. The rows are not sorted by code. */
LPA_API const LpaErrorCodeDescription *lpaExGetListErrorCodeDescription(void);

/* ------------------------------------------------------------------------
 * Configuration parameters
 * ------------------------------------------------------------------------ */

/* Types of configuration parameter values: BOOL is one byte (0 or 1),
 * LONG an int32_t, STRING a NUL-terminated text. */
#define LPA_PARAMETER_TYPE_BOOL   0
#define LPA_PARAMETER_TYPE_LONG   1
#define LPA_PARAMETER_TYPE_STRING 2

/* ------------------------------------------------------------------------
 * Execution-error events
 * ------------------------------------------------------------------------ */

/* Values of LpaEventExecutionError.source. */
#define LPA_EXECUTION_ERROR_SOURCE_SERVER_STATUS  1 /* functionExecutionStatus of an ES9+/ES11 answer */
#define LPA_EXECUTION_ERROR_SOURCE_HTTP_STATUS    2 /* HTTP status of an ES9+/ES11 exchange */
#define LPA_EXECUTION_ERROR_SOURCE_HTTP_TRANSPORT 3 /* the HTTP transport */
#define LPA_EXECUTION_ERROR_SOURCE_SE_MEDIA       4 /* the SE media */

/* Bits of LpaEventExecutionError.presentFields. */
#define LPA_EXECUTION_ERROR_FIELD_SUBJECT_CODE 0x1
#define LPA_EXECUTION_ERROR_FIELD_REASON_CODE  0x2
#define LPA_EXECUTION_ERROR_FIELD_TEXT         0x4

/* An execution error raised by a driver or by the ES9+ client. The event
 * and the texts it points to are valid only during the callback. */
typedef struct LpaEventExecutionError {
    int32_t source;
    int32_t presentFields;
    const char *subjectCode;
    const char *reasonCode;
    const char *text;
} LpaEventExecutionError;

typedef void (*LpaEventExecutionErrorCallback)(void *userData, const LpaEventExecutionError *event);

/* ------------------------------------------------------------------------
 * Versions
 * ------------------------------------------------------------------------ */

typedef struct LpaApiVersion {
    uint32_t major;
    uint32_t minor;
} LpaApiVersion;

typedef struct LpaVersion {
    uint32_t major;
    uint32_t minor;
    uint32_t revision;
    uint32_t build;
} LpaVersion;

/* ------------------------------------------------------------------------
 * Profile records
 * ------------------------------------------------------------------------ */

/* Each value field is followed by the number of bytes stored in it; 0 when
 * the value was absent or longer than the field. Texts are not
 * NUL-terminated when they fill their field. */
typedef struct LpaProfileInfo {
    uint8_t profileInfoRaw[1300];      /* the whole content of the profile's entry */
    size_t profileInfoRawLength;
    uint8_t iccid[10];                 /* card byte order (nibble-swapped BCD) */
    size_t iccidLength;
    uint8_t profileState[2];           /* 0 disabled, 1 enabled */
    size_t profileStateLength;
    char serviceProviderName[32];
    size_t serviceProviderNameLength;
    char profileName[64];
    size_t profileNameLength;
    uint8_t profileClass[2];           /* 0 test, 1 provisioning, 2 operational */
    size_t profileClassLength;
    char nickname[64];
    size_t nicknameLength;
    uint8_t icon[1024];
    size_t iconLength;
    uint8_t iconType[2];
    size_t iconTypeLength;
} LpaProfileInfo;

/* The compact record: what the profile policy rules check needs. */
typedef struct LpaProfileInfoForPpr {
    uint8_t iccid[10];
    size_t iccidLength;
    uint8_t profileState[2];
    size_t profileStateLength;
    uint8_t profileClass[2];
    size_t profileClassLength;
    uint8_t profilePolicyRules[2];
    size_t profilePolicyRulesLength;
} LpaProfileInfoForPpr;

/* A profile list, owned by the caller. profileInfo points at an array of
 * maxProfileInfo records: LpaProfileInfo for lpaGetProfilesInfo,
 * LpaProfileInfoForPpr for lpaGetProfilesInfo_ex. */
typedef struct LpaProfileInfoList {
    size_t countProfileInfo;       /* records written */
    size_t numberProfileInfoFound; /* profiles the eUICC listed; may exceed the capacity */
    size_t maxProfileInfo;         /* capacity of the array */
    void *profileInfo;
} LpaProfileInfoList;

typedef struct LpaEid {
    uint8_t eid[64];
    size_t eidLength;
} LpaEid;

#define LPA_READER_NAME_LENGTH 64

/* ------------------------------------------------------------------------
 * Lifecycle, versions, parameters, readers
 * ------------------------------------------------------------------------ */

/* The API version {1, 7}: one constant, the same pointer on every call. */
LPA_API const LpaApiVersion *lpaGetApiVersion(void);

/* lpaInitializeWithInputOutputFolder(folder, folder). */
LPA_API bool lpaInitialize(const char *folder);

/* Starts the engine: opens outputFolder/lpa.log, creates the SE and HTTP
 * media and reads inputFolder/lpa_config.ini (once per process). Folders
 * must have fewer than 260 characters. False when already initialised
 * (no error code) or on failure (0x2001, 0x2002, 0x201D). */
LPA_API bool lpaInitializeWithInputOutputFolder(const char *inputFolder, const char *outputFolder);

/* Frees both media and closes the log; false when not initialised. */
LPA_API bool lpaUninitialize(void);

LPA_API bool lpaIsInitialized(void);

/* Fills {1, 6, 1, 1}; false for NULL. */
LPA_API bool lpaGetVersion(LpaVersion *version);

/* Configuration parameters by key (case-insensitive). value and buffer hold
 * one byte for BOOL, an int32_t for LONG, a NUL-terminated text for STRING.
 * Restricted keys are refused with 0x2013. */
LPA_API bool lpaSetConfigParameter(const char *key, int32_t type, const void *value);
LPA_API bool lpaGetConfigParameter(const char *key, int32_t type, void *buffer, size_t bufferSize);

/* Writes *exists and *type (1664 when absent or restricted); true whenever
 * the three pointers are given. */
LPA_API bool lpaIsConfigParameterExist(const char *key, int32_t *type, bool *exists);

/* Fills up to capacity names of 64 characters and the count. Capacity 0
 * writes nothing and answers false. */
LPA_API bool lpaGetReaderList(char (*readerNames)[LPA_READER_NAME_LENGTH], size_t capacity, size_t *readerCount);

/* The extended API is not available: each answers false with 0x201F. */
LPA_API bool lpaExGetFullParametersList(void);
LPA_API bool lpaExClearProfileNotification(void);
LPA_API bool lpaExGetProfileNotificationList(void);
LPA_API bool lpaExCardReset(void);
LPA_API bool lpaExGetExtraVersion(void);
LPA_API bool lpaExWriteMemoryStatusDumpToLog(void);
LPA_API bool lpaExGetMemoryStatus(void);
LPA_API bool lpaExCheckMemoryAllocated(void);

/* ------------------------------------------------------------------------
 * Profile management (each call opens and closes the card connection)
 * ------------------------------------------------------------------------ */

LPA_API bool lpaGetProfilesNumber(size_t *count);

/* Full records into the caller's array of list->maxProfileInfo records. */
LPA_API bool lpaGetProfilesInfo(LpaProfileInfoList *list);

/* Compact records (with the policy rules) into the caller's array. */
LPA_API bool lpaGetProfilesInfo_ex(LpaProfileInfoList *list);

LPA_API bool lpaGetEID(LpaEid *eid);

/* resetOptions: exactly 2 bytes (the BIT STRING content). */
LPA_API bool lpaMemoryReset(const uint8_t *resetOptions, size_t length);

/* ICCIDs in card byte order, sent unchanged. */
LPA_API bool lpaEnableProfileByIccid(const uint8_t *iccid, size_t length);
LPA_API bool lpaDisableProfileByIccid(const uint8_t *iccid, size_t length);
LPA_API bool lpaDeleteProfileByIccid(const uint8_t *iccid, size_t length);

/* A nickname of at most 64 bytes; length 0 clears it. */
LPA_API bool lpaSetNicknameByIccid(const uint8_t *iccid, size_t iccidLength, const char *nickname,
                                   size_t nicknameLength);

#if defined(LPA_STATIC_ASSERT) && UINTPTR_MAX > 0xFFFFFFFFu
LPA_STATIC_ASSERT(sizeof(LpaProfileInfo) == 2600, "LpaProfileInfo is 2600 bytes");
LPA_STATIC_ASSERT(sizeof(LpaProfileInfoForPpr) == 72, "LpaProfileInfoForPpr is 72 bytes");
LPA_STATIC_ASSERT(sizeof(LpaEid) == 72, "LpaEid is 72 bytes");
LPA_STATIC_ASSERT(sizeof(LpaProfileInfoList) == 32, "LpaProfileInfoList is 32 bytes");
#endif

/* ------------------------------------------------------------------------
 * Download callbacks
 * ------------------------------------------------------------------------ */

/* The queries of the confirmationCode and userConsent callbacks. */
typedef struct LpaConfirmationCodeQuery LpaConfirmationCodeQuery;
typedef struct LpaUserConsentQuery LpaUserConsentQuery;

/* The application's callbacks for a download or a notification run. The
 * record and every member may be NULL. Six 8-byte fields, in this order. */
typedef struct LpaDownloadCallbacks {
    void *userData; /* given back as the first argument of every callback */
    uint64_t reserved; /* not read by the engine */
    void (*progress)(void *userData, int phase, const char *text);
    LpaEventExecutionErrorCallback executionError;
    bool (*confirmationCode)(void *userData, LpaConfirmationCodeQuery *query);
    bool (*userConsent)(void *userData, LpaUserConsentQuery *query);
} LpaDownloadCallbacks;

#if defined(LPA_STATIC_ASSERT) && UINTPTR_MAX > 0xFFFFFFFFu
LPA_STATIC_ASSERT(sizeof(LpaDownloadCallbacks) == 48, "LpaDownloadCallbacks is six 8-byte fields");
#endif


/* ------------------------------------------------------------------------
 * Download, notification and server-address records
 * ------------------------------------------------------------------------ */

/* Downloads: first = profiles installed, second = profiles to load (or the
 * SM-DS event records). Notifications: first = found, second = delivered. */
typedef struct LpaOperationResult {
    size_t first;
    size_t second;
} LpaOperationResult;

/* Asked when the profile policy rules need the end user's consent. */
struct LpaUserConsentQuery {
    uint8_t consentReason;   /* 1: PPR1 by the RAT, 2: PPR2 by the RAT, 4: an enabled profile has PPR1 */
    char profileName[65];    /* NUL-terminated */
    uint8_t reserved;
    uint8_t consentGranted;  /* in 0; out non-zero when the user consents */
    int32_t cancelReason;    /* in 127; out the CancelSession reason when consent is refused */
};

/* Asked when the SM-DP+ requires a confirmation code and none was given. */
struct LpaConfirmationCodeQuery {
    char confirmationCode[50]; /* out: NUL-terminated text */
    size_t capacity;           /* in: 50 */
    int32_t cancelReason;      /* in 1; out the CancelSession reason when the callback answers false */
};

/* A server address: its bytes (no terminating NUL is written) and count. */
typedef struct LpaServerAddress {
    char address[128];
    size_t addressLength;
} LpaServerAddress;

#if defined(LPA_STATIC_ASSERT) && UINTPTR_MAX > 0xFFFFFFFFu
LPA_STATIC_ASSERT(sizeof(LpaOperationResult) == 16, "LpaOperationResult is 16 bytes");
LPA_STATIC_ASSERT(offsetof(LpaOperationResult, second) == 8, "LpaOperationResult.second at 8");
LPA_STATIC_ASSERT(sizeof(LpaUserConsentQuery) == 72, "LpaUserConsentQuery is 72 bytes");
LPA_STATIC_ASSERT(offsetof(LpaUserConsentQuery, profileName) == 1, "profileName at 1");
LPA_STATIC_ASSERT(offsetof(LpaUserConsentQuery, reserved) == 66, "reserved at 66");
LPA_STATIC_ASSERT(offsetof(LpaUserConsentQuery, consentGranted) == 67, "consentGranted at 67");
LPA_STATIC_ASSERT(offsetof(LpaUserConsentQuery, cancelReason) == 68, "cancelReason at 68");
LPA_STATIC_ASSERT(sizeof(LpaConfirmationCodeQuery) == 72, "LpaConfirmationCodeQuery is 72 bytes");
LPA_STATIC_ASSERT(offsetof(LpaConfirmationCodeQuery, capacity) == 56, "capacity at 56");
LPA_STATIC_ASSERT(offsetof(LpaConfirmationCodeQuery, cancelReason) == 64, "cancelReason at 64");
LPA_STATIC_ASSERT(sizeof(LpaServerAddress) == 136, "LpaServerAddress is 136 bytes");
LPA_STATIC_ASSERT(offsetof(LpaServerAddress, addressLength) == 128, "addressLength at 128");
#endif

/* ------------------------------------------------------------------------
 * Downloads, notifications, server addresses
 * ------------------------------------------------------------------------ */

/* Downloads a profile with an activation code "1$address$matchingId[$oid]".
 * A code that asks for a confirmation code is refused (0x2301): use
 * lpaDownloadProfileWithConfirmationCode. callbacks may be NULL. True when
 * the profile was installed and its installation result delivered. */
LPA_API bool lpaDownloadProfile(const char *activationCode, const LpaDownloadCallbacks *callbacks,
                                LpaOperationResult *result);
LPA_API bool lpaDownloadProfileWithConfirmationCode(const char *activationCode, const char *confirmationCode,
                                                    const LpaDownloadCallbacks *callbacks,
                                                    LpaOperationResult *result);
/* Downloads from the eUICC's default SM-DP+ address. */
LPA_API bool lpaDownloadProfileWithDefaultSMDPAddress(const LpaDownloadCallbacks *callbacks,
                                                      LpaOperationResult *result);
/* Downloads one profile per event of the eUICC's root SM-DS. True once the
 * event list was obtained; the last error tells the first failure. */
LPA_API bool lpaDownloadProfileWithSMDSAddress(const LpaDownloadCallbacks *callbacks, LpaOperationResult *result);
/* Delivers the eUICC's pending notifications and removes the delivered ones. */
LPA_API bool lpaSendPendingNotification(const LpaDownloadCallbacks *callbacks, LpaOperationResult *result);
/* At most 127 characters; "" clears the default address. */
LPA_API bool lpaSetDefaultSMDPAddress(const char *address);
/* addressLength 0 when the eUICC has no default SM-DP+ address. Zero the
 * record first: no terminating NUL is written. */
LPA_API bool lpaGetSMDPAddress(LpaServerAddress *address);
LPA_API bool lpaGetSMDSAddress(LpaServerAddress *address);

#ifdef __cplusplus
}
#endif

#endif /* LPA_H */
