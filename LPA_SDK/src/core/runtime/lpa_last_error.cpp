/*
 * The last error, the error table and execution-error forwarding. The
 * exports that read them (lpaGetErrorCode & co.) sit in api/lpa_error.cpp.
 */
#include "runtime/lpa_error_internal.h"

#include <stddef.h>

#include "runtime/lpa_core_log.h"

#if UINTPTR_MAX > 0xFFFFFFFFu
static_assert(sizeof(LpaErrorCodeDescription) == 16, "an error table row is 16 bytes");
static_assert(offsetof(LpaErrorCodeDescription, name) == 8, "the name sits at offset 8");
#endif

/* The process-wide last error; 0 is LPA_NO_ERROR. */
uint32_t _errorCode = 0;

#define LPA_ERROR_CODE_ONE(code, identifier) +1
static_assert(0 LPA_ERROR_CODE_LIST(LPA_ERROR_CODE_ONE) == LPA_ERROR_CODE_COUNT,
              "the table holds every code of the list");
#undef LPA_ERROR_CODE_ONE

#define LPA_ERROR_CODE_ROW(code, identifier) {(code), #identifier},
const LpaErrorCodeDescription lpaErrorCodeDescriptionList[LPA_ERROR_CODE_COUNT + 1] = {
    LPA_ERROR_CODE_LIST(LPA_ERROR_CODE_ROW)
    {0, NULL},
};
#undef LPA_ERROR_CODE_ROW

/* The application's execution-error callback and its user data. */
static LpaEventExecutionErrorCallback appEventExecutionErrorCallback = NULL;
static void *appEventExecutionErrorUserData = NULL;

const char *_lpaErrorCodeDescription(uint32_t code)
{
    for (const LpaErrorCodeDescription *row = lpaErrorCodeDescriptionList; row->name != NULL;
         ++row) {
        if (row->code == code) {
            return row->name;
        }
    }
    return LPA_UNKNOWN_ERROR_CODE_DESCRIPTION;
}

void lpaSetLastErrorCode(uint32_t code)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "lpaSetLastErrorCode(0x%06X)", (unsigned)code);
    if (_errorCode != 0) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "errorCode already defined to 0x%06X (error code requested:0x%06X)",
                   (unsigned)_errorCode, (unsigned)code);
        return;
    }
    _errorCode = code;
    if (code != 0) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "_errorCode=0x%06X => %s", (unsigned)code,
                   _lpaErrorCodeDescription(code));
    } else {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "_errorCode=0x%06X", (unsigned)code);
    }
}

void lpaResetErrorCode(void)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "lpaResetErrorCode()...");
    _errorCode = 0;
}

uint32_t lpaGetErrorCodeNoClear(void)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "lpaGetErrorCodeNoClear(): ErrorCode=0x%06X", (unsigned)_errorCode);
    return _errorCode;
}

uint32_t _lpaErrorCodePeek(void)
{
    return _errorCode;
}

void _lpaErrorCodeClearQuietly(void)
{
    _errorCode = 0;
}

void _lpaManagerSetAppEventExecutionErrorCallback(LpaEventExecutionErrorCallback callback,
                                                  void *userData)
{
    appEventExecutionErrorCallback = callback;
    appEventExecutionErrorUserData = userData;
}

void _lpaManagerEventExecutionErrorCallback(void *context, const LpaEventExecutionError *event)
{
    (void)context;
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "++ _lpaManagerEventExecutionErrorCallback(...)");
    if (appEventExecutionErrorCallback != NULL && event != NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "send Event to appEventExecutionErrorCallback ...");
        appEventExecutionErrorCallback(appEventExecutionErrorUserData, event);
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "-- _lpaManagerEventExecutionErrorCallback(...)");
}
