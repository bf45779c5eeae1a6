#include "flows/lpa_manager.h"

#include "runtime/lpa_core_log.h"
#include "runtime/lpa_error_internal.h"
#include "server/lpa_httpmedia.h"
#include "runtime/lpa_manager_config.h"
#include "card/se_media_manager.h"

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

/* The "++"/"--" lines around the creation of one medium and the
 * registration of the engine's execution-error forwarder on it. */
static void _traceMedia(const char *mark, const char *function)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "%s %s(...)", mark, function);
}

bool lpaManagerInitializeSEMedia(TSEMediaConstructor create, TSEMediaDestructor destroy)
{
    _traceMedia("++", "lpaManagerInitializeSEMedia");
    bool result = seMediaManagerInitialize(create, destroy) &&
                  seMediaManagerSetCallbackEventExecutionError(_lpaManagerEventExecutionErrorCallback);
    _traceMedia("--", "lpaManagerInitializeSEMedia");
    return result;
}

bool lpaManagerInitializeHttpMedia(THTTPMediaConstructor create, THTTPMediaDestructor destroy)
{
    _traceMedia("++", "lpaManagerInitializeHttpMedia");
    bool result = httpMediaManagerInitialize(create, destroy) &&
                  httpMediaManagerSetCallbackEventExecutionError(_lpaManagerEventExecutionErrorCallback);
    _traceMedia("--", "lpaManagerInitializeHttpMedia");
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
