/*
 * The error exports: the last error (read and cleared), a code's name and
 * the whole table.
 */
#include "runtime/lpa_error_internal.h"

#include "lpa_api_frame.h"
#include "runtime/lpa_core_log.h"

extern "C" LPA_API uint32_t lpaGetErrorCode(void)
{
    _lpaApiFrameOpen("lpaGetErrorCode");
    uint32_t code = _lpaErrorCodePeek();
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "return _errorCode=0x%06X", (unsigned)code);
    _lpaErrorCodeClearQuietly();
    _lpaApiFrameClose();
    return code;
}

extern "C" LPA_API const char *lpaGetErrorCodeDescription(uint32_t code)
{
    return _lpaErrorCodeDescription(code);
}

extern "C" LPA_API const LpaErrorCodeDescription *lpaExGetListErrorCodeDescription(void)
{
    return lpaErrorCodeDescriptionList;
}
