/* The public headers must compile as plain C. */
#include <string.h>

#include "lpa.h"
#include "lpa_host.h"
#include "lpa_at_transport.h"
#include "lpa_error_codes.h"

/* Counts the rows of the error table up to its terminating row. */
static int countErrorTableRows(void)
{
    const LpaErrorCodeDescription *row = lpaExGetListErrorCodeDescription();
    int count = 0;
    while (row[count].name != NULL) {
        ++count;
    }
    return count;
}

int main(void)
{
    /* No backend is installed: every trampoline must be a harmless no-op. */
    lpaCoreLog(LPA_LOG_LEVEL_INF, "C caller %d", 1);
    lpaCoreLogSetLevel(LPA_LOG_LEVEL_VER);
    lpaCoreLogFlush();

    if (countErrorTableRows() != 131) {
        return 1;
    }
    if (strcmp(lpaGetErrorCodeDescription(LPA_ERROR_LOCAL_PROFILE_NOT_IN_ENABLE_STATE),
               "LPA_ERROR_LOCAL_PROFILE_NOT_IN_ENABLE_STATE") != 0) {
        return 2;
    }
    if (lpaGetErrorCode() != LPA_NO_ERROR) {
        return 3;
    }

    /* Queries that need no running engine. */
    const LpaApiVersion *api = lpaGetApiVersion();
    LpaVersion version;
    if (api != lpaGetApiVersion() || api->major != 1 || api->minor != 7 || !lpaGetVersion(&version) ||
        version.major != 1 || version.minor != 6 || version.revision != 1 || version.build != 1) {
        return 4;
    }
    if (lpaIsInitialized() || lpaUninitialize()) {
        return 5;
    }
    /* A card operation before initialisation fails in its frame. */
    LpaEid eid;
    if (lpaGetEID(&eid) || lpaGetErrorCode() != LPA_ERROR_SE_MEDIA_NOT_INITIALIZED) {
        return 6;
    }
    if (sizeof(LpaProfileInfoList) != 4 * sizeof(size_t)) {
        return 7;
    }
    /* The AT transport this program defines (the null seam). */
    if (sizeof(read_mipc_buf) != AT_TRANSPORT_BUFFER_SIZE || quorpciot_lpa_plat_type() != 1 ||
        quorpciot_lpa_write_intel(0, "AT\r", 3) != -1) {
        return 8;
    }
    return 0;
}
