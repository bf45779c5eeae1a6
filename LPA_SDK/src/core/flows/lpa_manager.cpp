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

/* Creates one medium and registers the engine's execution-error forwarder
 * on it, between the function's "++"/"--" lines. */
static bool _initializeMedia(const char *function, bool (*create)(void),
                             bool (*registerCallback)(LpaEventExecutionErrorCallback))
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "++ %s(...)", function);
    bool result = create() && registerCallback(_lpaManagerEventExecutionErrorCallback);
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "-- %s(...)", function);
    return result;
}

bool lpaManagerInitializeSEMedia(void)
{
    return _initializeMedia("lpaManagerInitializeSEMedia", seMediaManagerInitialize,
                            seMediaManagerSetCallbackEventExecutionError);
}

bool lpaManagerInitializeHttpMedia(void)
{
    return _initializeMedia("lpaManagerInitializeHttpMedia", httpMediaManagerInitialize,
                            httpMediaManagerSetCallbackEventExecutionError);
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
