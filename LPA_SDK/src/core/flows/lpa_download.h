/*
 * Profile download flows: with an activation code (with or without a
 * confirmation code), from the eUICC's default SM-DP+ address, and from
 * the events of its root SM-DS. They string the ES10b requests, the bound
 * profile package loading and the ES9+/ES11 exchanges together, check the
 * profile policy rules, and cancel the session where the download cannot
 * go on.
 *
 * Not thread-safe: the engine is driven from one thread at a time.
 */
#ifndef LPA_DOWNLOAD_H
#define LPA_DOWNLOAD_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#include "server/es9plus_client.h"
#include "lpa.h"
#include "lpa_host.h"
#include "codec/raw_data_object.h"

#ifdef __cplusplus
extern "C" {
#endif

#define LPA_CTX_PARAMS_MAX 383
#define LPA_FLOW_TRANSACTION_ID_SIZE 40

/* Releases the ten fields and leaves each empty. */
void freeDownloadServerData(TServerData *data);

bool lpaManagerDownloadProfileWithConfirmationCode(const char *activationCode, const char *confirmationCode,
                                                   const LpaDownloadCallbacks *callbacks, LpaOperationResult *result);
bool _manageDownloadProfile(const char *activationCode, const char *confirmationCode, int confirmationCodeLength,
                            const LpaDownloadCallbacks *callbacks, LpaOperationResult *result, bool *retryWholeFlow);
bool _lpaManagerPrepareCtxParam(const char *matchingId, RawDataObject **ctxParams1);
bool _verifySMDPAddress(const char *address, const uint8_t *serverSigned1, size_t length);
bool _lpaManagerCancelSession(const char *transactionId, int reason, const char *smdpAddress,
                              const LpaDownloadCallbacks *callbacks);
/* True for the seven CancelSession reasons. */
bool lpaManagerIsCancelSessionReason(int reason);

bool lpaManagerDownloadProfileWithDefaultSMDPAddress(const LpaDownloadCallbacks *callbacks, LpaOperationResult *result);
bool lpaManagerDownloadProfileWithSDMSAddress(const LpaDownloadCallbacks *callbacks, LpaOperationResult *result);
bool _performProfileDownloadFromDefaultAddress(const LpaDownloadCallbacks *callbacks, const char *smdpAddress,
                                               size_t addressLength, const char *matchingId,
                                               LpaOperationResult *result, bool isDefaultAddress,
                                               bool *retryWholeFlow);

#ifdef __cplusplus
}
#endif

#endif /* LPA_DOWNLOAD_H */
