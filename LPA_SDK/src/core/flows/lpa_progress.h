/*
 * Progress texts and execution-error forwarding toward the download
 * callbacks an application hands to the flows.
 */
#ifndef LPA_PROGRESS_H
#define LPA_PROGRESS_H

#include "lpa.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Calls callbacks->progress(userData, phase, text) when there is one. */
void lpaManagerSendProgress(const LpaDownloadCallbacks *callbacks, int phase, const char *text);

/* Forwards the engine's execution errors to callbacks->executionError
 * while a flow runs (when there is one), and stops forwarding. */
void lpaManagerInstallExecutionErrorForwarding(const LpaDownloadCallbacks *callbacks);
void lpaManagerRemoveExecutionErrorForwarding(void);

#ifdef __cplusplus
}
#endif

#endif /* LPA_PROGRESS_H */
