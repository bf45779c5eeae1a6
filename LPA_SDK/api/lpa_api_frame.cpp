#include "lpa_api_frame.h"

#include <stdio.h>

#include "lpa.h"
#include "runtime/lpa_core_log.h"
#include "runtime/lpa_error_internal.h"
#include "card/se_media_manager.h"

char lpaCurrentApiName[LPA_API_NAME_SIZE] = {};
uint64_t lpaApiCallDepth = 0;

void _lpaApiFrameOpen(const char *apiName)
{
    const char *name = (apiName != NULL) ? apiName : "";
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "[LPASDKAPI] <%s> started", name);
    snprintf(lpaCurrentApiName, sizeof(lpaCurrentApiName), "%s", name);
}

void _lpaApiFrameClose(void)
{
    if (lpaCurrentApiName[0] != '\0') {
        uint32_t code = _lpaErrorCodePeek();
        if (code != 0) {
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "[LPASDKAPI] <%s> terminated (API error: 0x%lx) ",
                       lpaCurrentApiName, (unsigned long)code);
        } else {
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "[LPASDKAPI] <%s> terminated", lpaCurrentApiName);
        }
    }
    lpaCoreLogFlush();
}

void _lpaApiFrameEnterCardOperation(const char *apiName)
{
    _lpaApiFrameOpen(apiName);
    lpaResetErrorCode();
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "++ %s()", lpaCurrentApiName);
    ++lpaApiCallDepth;
}

bool _lpaApiFrameLeaveCardOperation(bool result)
{
    --lpaApiCallDepth;
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "-- %s() : return %s", lpaCurrentApiName, result ? "true" : "false");
    _lpaApiFrameClose();
    return result;
}

bool _lpaApiRunCardOperation(const char *apiName, bool (*call)(void *context), void *context)
{
    return _lpaApiRunCardOperationWithResult(apiName, NULL, call, context);
}

bool _lpaApiRunCardOperationWithResult(const char *apiName, LpaOperationResult *result, bool (*call)(void *context),
                                       void *context)
{
    _lpaApiFrameEnterCardOperation(apiName);
    if (result != NULL) {
        result->first = 0;
        result->second = 0;
    }
    bool operationResult = false;
    if (_lpaManagerConnectReaderAndSelectISDR()) {
        operationResult = call(context);
    }
    bool connectionResult = _lpaManagerUnselectISDRAndDisconnectReader();
    return _lpaApiFrameLeaveCardOperation(operationResult && connectionResult);
}

extern "C" LPA_API void lpaApiFrameBegin(const char *apiName)
{
    _lpaApiFrameEnterCardOperation(apiName);
}

extern "C" LPA_API bool lpaApiFrameEnd(bool result)
{
    return _lpaApiFrameLeaveCardOperation(result);
}
