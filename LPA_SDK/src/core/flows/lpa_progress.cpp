/*
 * Progress texts and execution-error forwarding toward the application's
 * download callbacks.
 */
#include "flows/lpa_progress.h"

#include "runtime/lpa_error_internal.h"

void lpaManagerSendProgress(const LpaDownloadCallbacks *callbacks, int phase, const char *text)
{
    if (callbacks != NULL && callbacks->progress != NULL) {
        callbacks->progress(callbacks->userData, phase, text);
    }
}

void lpaManagerInstallExecutionErrorForwarding(const LpaDownloadCallbacks *callbacks)
{
    if (callbacks != NULL && callbacks->executionError != NULL) {
        _lpaManagerSetAppEventExecutionErrorCallback(callbacks->executionError, callbacks->userData);
    }
}

void lpaManagerRemoveExecutionErrorForwarding(void)
{
    _lpaManagerSetAppEventExecutionErrorCallback(NULL, NULL);
}
