#include "lpa_api_frame.h"

#include <stdio.h>

#include "lpa_core_log.h"
#include "lpa_error_internal.h"

char lpaCurrentApiName[LPA_API_NAME_SIZE] = {};

void _lpaApiFrameOpen(const char *apiName)
{
    const char *name = (apiName != nullptr) ? apiName : "";
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
