/*
 * The card connection around every card operation: connect the reader and
 * select the ISD-R, and later disconnect and release the context.
 */
#include <windows.h>

#include "runtime/lpa_core_log.h"
#include "runtime/lpa_error_internal.h"
#include "lpa_host.h"
#include "runtime/lpa_manager_config.h"
#include "codec/raw_data_object.h"
#include "card/se_media_manager.h"

/* SELECT by name of the ISD-R (AID A0000005591010FFFFFFFF8900000100). */
static const uint8_t _selectIsdr[] = {0x00, 0xA4, 0x04, 0x00, 0x10, 0xA0, 0x00, 0x00, 0x05, 0x59, 0x10,
                                      0x10, 0xFF, 0xFF, 0xFF, 0xFF, 0x89, 0x00, 0x00, 0x01, 0x00};

/* One SELECT attempt; sets the ISD-R-selected flag on success. */
static void _selectIsdrOnce(void)
{
    RawDataObject *select = rawDataObject_create(_selectIsdr, sizeof(_selectIsdr));
    uint16_t sw = 0;
    size_t dataLength = 0;
    if (select == NULL || !buildAndSendApduCase4Ex(select, &sw, seMediaSelectResponse,
                                                   sizeof(seMediaSelectResponse), &dataLength)) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Unable to send successfully APDU command !");
        lpaSetLastErrorCode(LPA_ERROR_SE_MEDIA_UNABLE_TO_SELECT_ISDR);
    } else if (dataLength < 2) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Incorrect data or invalid SW or error! (Too short response < 2)");
        lpaSetLastErrorCode(LPA_ERROR_SE_MEDIA_UNABLE_TO_SELECT_ISDR);
    } else if (sw == 0x9000 || (sw >> 8) == 0x61 || (sw >> 8) == 0x91) {
        lpaCoreLog(LPA_LOG_LEVEL_INF, "ISDR applet selected successfully");
        seMediaIsdrSelected = true;
    } else {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Incorrect SW received !");
        lpaSetLastErrorCode(LPA_ERROR_SE_MEDIA_UNABLE_TO_SELECT_ISDR);
    }
    rawDataObject_free(select);
}

extern "C" LPA_API bool _lpaManagerConnectReaderAndSelectISDR(void)
{
    if (!seMediaManagerIsInitialized()) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "SEMedia not initialized !");
        lpaSetLastErrorCode(LPA_ERROR_SE_MEDIA_NOT_INITIALIZED);
        return false;
    }
    if (seMediaManagerIsContextEstablished()) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR,
                   "seMediaManagerIsContextEstablished() = true -> do _lpaManagerUnselectISDRAndDisconnectReader() ...");
        _lpaManagerUnselectISDRAndDisconnectReader();
        if (seMediaManagerIsContextEstablished()) {
            lpaCoreLog(LPA_LOG_LEVEL_ERR, "SEMedia context not released !");
            lpaSetLastErrorCode(LPA_ERROR_SE_MEDIA_CONTEXT_NOT_RELEASED);
            return false;
        }
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "Try to established SEMedia context ...");
    if (!seMediaManagerEstablishContext()) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Unable to establish SEMedia context !");
        lpaSetLastErrorCode(LPA_ERROR_SE_MEDIA_CONTEXT_NOT_ESTABLISHED);
        return false;
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "SEMedia context established => connect reader ...");
    if (!seMediaManagerConnect(lpaManagerGetReaderName())) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Unable to connect reader !");
        lpaSetLastErrorCode(LPA_ERROR_SE_MEDIA_READER_CONNECTION);
        return false;
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "Reader connected => select ISDR ...");
    /* Failed attempts record 0x200B. An open that selects on a later
     * attempt clears it again, unless an error stood before the loop. */
    bool noErrorOnEntry = _lpaErrorCodePeek() == LPA_NO_ERROR;
    for (int attempt = 0; attempt < SE_MEDIA_ISDR_SELECT_ATTEMPTS; ++attempt) {
        if (seMediaIsdrSelected) {
            lpaCoreLog(LPA_LOG_LEVEL_WAR, "ISDR applet already selected");
        } else {
            _selectIsdrOnce();
        }
        if (seMediaIsdrSelected) {
            lpaCoreLog(LPA_LOG_LEVEL_ERR, "selectISDRApplet success in cnt(%d)", attempt);
            break;
        }
        Sleep(SE_MEDIA_ISDR_SELECT_WAIT_MS);
    }
    if (seMediaIsdrSelected && noErrorOnEntry && _lpaErrorCodePeek() != LPA_NO_ERROR) {
        lpaResetErrorCode();
    }
    return seMediaIsdrSelected;
}

extern "C" LPA_API bool _lpaManagerUnselectISDRAndDisconnectReader(void)
{
    seMediaIsdrSelected = false;
    if (seMediaManagerIsConnected()) {
        if (_seMedia->seMediaDisconnect == NULL) {
            lpaCoreLog(LPA_LOG_LEVEL_WAR, "_seMedia->seMediaDisconnect is NULL !");
            lpaSetLastErrorCode(LPA_ERROR_SE_MEDIA_READER_NOT_DISCONNECTED);
        } else if (!seMediaManagerDisconnect()) {
            lpaSetLastErrorCode(LPA_ERROR_SE_MEDIA_READER_NOT_DISCONNECTED);
        }
    }
    if (!seMediaManagerIsConnected() && seMediaManagerIsContextEstablished()) {
        if (!seMediaManagerReleaseContext()) {
            lpaSetLastErrorCode(LPA_ERROR_SE_MEDIA_READER_NOT_DISCONNECTED);
        }
    }
    return _seMedia == NULL || !seMediaManagerIsContextEstablished();
}
