#include "lpa_manager.h"

#include "lpa_core_log.h"
#include "lpa_error_internal.h"
#include "lpa_httpmedia.h"
#include "lpa_manager_config.h"
#include "se_media_manager.h"

/* Set by the first manager initialisation and never cleared. */
static bool _lpaManagerInitialized = false;

bool lpaManagerInitialize(void)
{
    if (!_lpaManagerInitialized) {
        _lpaManagerClearEngineValues();
        _lpaManagerSetAppEventExecutionErrorCallback(NULL, NULL);
        _lpaManagerInitialized = true;
    }
    return _lpaManagerInitialized;
}

bool lpaManagerIsInitialized(void)
{
    return _lpaManagerInitialized;
}

bool lpaManagerInitializeSEMedia(void)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "++ lpaManagerInitializeSEMedia(...)");
    bool result = seMediaManagerInitialize();
    if (result) {
        result = seMediaManagerSetCallbackEventExecutionError(_lpaManagerEventExecutionErrorCallback);
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "-- lpaManagerInitializeSEMedia(...)");
    return result;
}

bool lpaManagerInitializeHttpMedia(void)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "++ lpaManagerInitializeHttpMedia(...)");
    bool result = httpMediaManagerInitialize();
    if (result) {
        result = httpMediaManagerSetCallbackEventExecutionError(_lpaManagerEventExecutionErrorCallback);
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "-- lpaManagerInitializeHttpMedia(...)");
    return result;
}

void lpaManagerDeleteMedia(bool seMedia, bool httpMedia)
{
    if (seMedia) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "lpaManagerSEMediaManagerIsInitialized()");
        if (seMediaManagerIsInitialized()) {
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "lpaManagerSEMediaManagerUninitialize()");
            seMediaManagerUninitialize();
        }
    }
    if (!httpMedia) {
        return;
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "lpaManagerHttpMediaManagerIsInitialized()");
    if (httpMediaManagerIsInitialized()) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "lpaManagerHttpMediaManagerDelete()");
        httpMediaManagerDelete();
    }
}
