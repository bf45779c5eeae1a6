/*
 * The downloads from server addresses: from the eUICC's default SM-DP+
 * address, and from each event of its root SM-DS.
 */
#include <stdio.h>
#include <string.h>

#include "flows/download_steps.h"
#include "flows/lpa_notifications.h"
#include "runtime/lpa_core_log.h"
#include "runtime/lpa_core_memory.h"
#include "runtime/lpa_error_internal.h"
#include "runtime/lpa_manager_config.h"

/* ------------------------------------------------------------------------
 * Downloads from server addresses
 * ------------------------------------------------------------------------ */

/* Records a code at once and answers false. */
static bool _fail(uint32_t code)
{
    lpaSetLastErrorCode(code);
    return false;
}

/* Steps 1 to 10 of the address flow. */
static const AuthenticationTexts kAddressTexts = {
    .stepChallenge = NULL,
    .challengeFailed = "Failed to get UiccChallenge!",
    .challengeDone = "Get UiccChallenge OK.",
    .stepInfo1 = NULL,
    .info1Failed = "Failed to get UiccInfo!",
    .info1Done = "Get UiccInfo OK.",
    .stepInitiate = NULL,
    .initiateFailed = "Failed to Initiate authentication!",
    .initiateDone = "Initiate authentication done.",
    .transactionIdFailed = "Invalid TransactionID!",
    .transactionIdLine = "LPA Download : TransactionId : <%s>",
    .stepAddress = NULL,
    .serverSigned1Missing = NULL,
    .addressFailed = "Invalid SM-DP+ Address",
    .ctxParamsFailed = "Invalid CTX Params",
    .ctxParamsDone = "PrepareCtxParam OK",
    .stepAuthenticateServer = NULL,
    .chainingBroken = "AuthenticateServer: GetResponse chaining issue detected, stop current profile download.",
    .authenticateServerFailed = "Failed to Authenticate server!",
    .authenticateServerDone = "Authenticate server done",
    .authenticateServerResponse = "AuthenticateServer response: %s ",
    .authenticateServerNoResponse = NULL,
    .stepAuthenticateClient = NULL,
};

static const AuthenticationFlow kAddressFlow = {
    .texts = &kAddressTexts,
    .challengeCode = 0,
    .info1Code = 0,
    .info1KeepsChainingCode = false,
    .recordAtOnce = true,
    .progress = true,
    .checkPairsBeforeInitiate = false,
    .pairRelease = PAIRS_FREED_AFTER_INITIATE,
    .addressBeforeTransactionId = false,
    .ctxParamsFreedAfterAuthenticateServer = true,
    .responseBeforeProgress = true,
    .afterInfo1 = NULL,
    .afterCtxParams = NULL,
};

/* Step 2 of the SM-DS operation. */
static const AuthenticationTexts kSmdsTexts = {
    .stepChallenge = NULL,
    .challengeFailed = "Failed to get UiccChallenge for SM-DS Events retrieval!",
    .challengeDone = "Get UiccChallenge for SM-DS Events retrieval OK",
    .stepInfo1 = NULL,
    .info1Failed = "Failed to get UiccInfo for SM-DS Events retrieval!",
    .info1Done = "Get UiccInfo for SM-DS Events retrieval OK",
    .stepInitiate = NULL,
    .initiateFailed = "Failed to process initiateAuthentication for SM-DS Events retrieval!",
    .initiateDone = "Execution of initiateAuthentication for SM-DS Events retrieval OK",
    .transactionIdFailed = "Invalid transactionId  (SM-DS Events retrieval)!",
    .transactionIdLine = "LPA Download : TransactionId (DS) : <%s>",
    .stepAddress = NULL,
    .serverSigned1Missing = "Invalid serverSigned1 (SM-DS Events retrieval)!",
    .addressFailed = "Invalid SM-DS address (SM-DS Events retrieval)!",
    .ctxParamsFailed = "Failed to prepareCtxParam for SM-DS Events retrieval!",
    .ctxParamsDone = "PrepareCtxParam for SM-DS Events retrieval OK",
    .stepAuthenticateServer = NULL,
    .chainingBroken = NULL,
    .authenticateServerFailed = "Failed to Authenticate server for SM-DS Events retrieval!",
    .authenticateServerDone = "AuthenticateServer for SM-DS Events retrieval OK",
    .authenticateServerResponse = "AuthenticateServer for Events retrieval response: %s ",
    .authenticateServerNoResponse = "AuthenticateServer for Events retrieval response: N/A ",
    .stepAuthenticateClient = NULL,
};

static const AuthenticationFlow kSmdsFlow = {
    .texts = &kSmdsTexts,
    .challengeCode = LPA_ERROR_INVALID_GET_EUICC_INFO,
    .info1Code = LPA_ERROR_INVALID_GET_EUICC_INFO,
    .info1KeepsChainingCode = false,
    .recordAtOnce = true,
    .progress = false,
    .checkPairsBeforeInitiate = false,
    .pairRelease = PAIRS_FREED_AFTER_INITIATED,
    .addressBeforeTransactionId = true,
    .ctxParamsFreedAfterAuthenticateServer = true,
    .responseBeforeProgress = true,
    .afterInfo1 = NULL,
    .afterCtxParams = NULL,
};

/* Steps 1 to 10 of the address flow; false at the first failing step. */
static bool _addressFlowUntilPackage(DownloadWork *work, const LpaDownloadCallbacks *callbacks, const char *address,
                                     const char *matchingId, LpaOperationResult *result, bool isDefaultAddress,
                                     bool *retryWholeFlow)
{
    work->address = address;
    work->matchingId = matchingId;
    uint32_t code = 0;
    if (!_authenticateServer(work, &kAddressFlow, callbacks, retryWholeFlow, &code) ||
        !_authenticateClient(work, &kAddressFlow, callbacks, &code)) {
        return false;
    }
    if (isDefaultAddress) {
        result->second = 1;
    }
    if (work->serverData._smdpSigned2.val == NULL || work->serverData._smdpSigned2.len == 0) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Server data smdpSigned2 is invalid!");
        return _fail(LPA_ERROR_FAILED_PREPARE_DOWNLOAD);
    }
    if (!_prepareDownloadWithRetry(&work->serverData, "", &work->prepareDownloadResponse)) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Failed to prepareDownload!");
        return _fail(LPA_ERROR_FAILED_PREPARE_DOWNLOAD);
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "PrepareDownload success.");
    _resetServerData(&work->serverData);
    if (!lpaManagerGetBoundProfilePackage(&work->serverData, callbacks, work->transactionId, address,
                                          _pairText(&work->prepareDownloadResponse))) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Failed to Get Bound Profile Package. ");
        lpaManagerSendProgress(callbacks, 5, "Failed to Get Bound Profile Package");
        return _fail(LPA_ERROR_FAILED_GET_BOUND_PROFILE_PACKAGE);
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "Get Bound Profile Package OK");
    lpaManagerSendProgress(callbacks, 5, "Get Bound Profile Package done");
    return true;
}

bool _performProfileDownloadFromDefaultAddress(const LpaDownloadCallbacks *callbacks, const char *smdpAddress,
                                               size_t addressLength, const char *matchingId,
                                               LpaOperationResult *result, bool isDefaultAddress,
                                               bool *retryWholeFlow)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "++ _performProfileDownloadFromDefaultAddress(...)");
    bool retryUnused = false;
    if (retryWholeFlow == NULL) {
        retryWholeFlow = &retryUnused;
    }
    *retryWholeFlow = false;
    if (result == NULL || smdpAddress == NULL || addressLength == 0 || matchingId == NULL ||
        (isDefaultAddress && matchingId[0] != '\0') || (!isDefaultAddress && matchingId[0] == '\0')) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Incorrect parameter!");
        lpaSetLastErrorCode(LPA_ERROR_INVALID_PARAMETER);
        if (!isDefaultAddress) {
            lpaCoreLog(LPA_LOG_LEVEL_WAR, "Problem occurred during download!");
            lpaManagerSendProgress(callbacks, 9, "Problem occurred during download");
        }
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "-- _performProfileDownloadFromDefautlAddress(...)");
        return false;
    }
    DownloadWork work;
    memset(&work, 0, sizeof(work));
    bool ok = false;
    if (_addressFlowUntilPackage(&work, callbacks, smdpAddress, matchingId, result, isDefaultAddress, retryWholeFlow)) {
        bool pirExpected = true;
        bool loaded =
            _loadPackage(&work.serverData, &work.pir, work.transactionId, smdpAddress, callbacks, true, &pirExpected);
        if (loaded) {
            result->first += 1;
        }
        if (pirExpected) {
            switch (_sendPirAndClear(&work.pir, smdpAddress, addressLength, callbacks, &kAddressPirTexts)) {
            case PIR_MISSING:
                lpaSetLastErrorCode(LPA_ERROR_INVALID_PIR_RESPONSE);
                break;
            case PIR_SEND_FAILED:
                lpaSetLastErrorCode(LPA_ERROR_FAILED_SEND_NOTIFICATION_OR_NOT_GET_STATUS_CODE);
                break;
            case PIR_SENT:
            case PIR_NOT_SENT_BY_SETTING:
                ok = loaded;
                break;
            }
        }
    }
    if (!isDefaultAddress && !*retryWholeFlow && !ok) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "Problem occurred during download!");
        lpaManagerSendProgress(callbacks, 9, "Problem occurred during download");
    }
    _releaseDownloadWork(&work, false);
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "-- _performProfileDownloadFromDefautlAddress(...)");
    return ok;
}

bool lpaManagerDownloadProfileWithDefaultSMDPAddress(const LpaDownloadCallbacks *callbacks, LpaOperationResult *result)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "++ lpaManagerDownloadProfileWithDefaultSMDPAddress(...)");
    lpaManagerInstallExecutionErrorForwarding(callbacks);
    bool ok = false;
    if (result == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Incorrect parameter!");
        lpaSetLastErrorCode(LPA_ERROR_INVALID_PARAMETER);
    } else {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "Start to Download Profile with default SMDP Address...");
        result->first = 0;
        result->second = 0;
        LpaServerAddress address;
        memset(&address, 0, sizeof(address));
        if (!lpaManagerGetSMDPAddress(&address)) {
            lpaCoreLog(LPA_LOG_LEVEL_ERR, "Failed to get default SM-DP Address");
            lpaSetLastErrorCode(LPA_ERROR_INVALID_GET_SMDP_ADDRESS);
        } else if (address.addressLength == 0) {
            lpaCoreLog(LPA_LOG_LEVEL_ERR, "Default SM-DP Address invalid");
            lpaSetLastErrorCode(LPA_ERROR_INVALID_GET_SMDP_ADDRESS);
        } else {
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "Success to get default SM-DP + address: %s", address.address);
            lpaManagerSendProgress(callbacks, 0, "Get default SM-DP + Address done");
            for (int executions = 1; executions <= LPA_DOWNLOAD_EXECUTIONS; ++executions) {
                bool retry = false;
                ok = _performProfileDownloadFromDefaultAddress(callbacks, address.address, address.addressLength, "",
                                                               result, true, &retry);
                if (ok) {
                    lpaCoreLog(LPA_LOG_LEVEL_DEB, "Profile loading is successful.");
                    break;
                }
                if (!retry) {
                    lpaCoreLog(LPA_LOG_LEVEL_ERR, "Profile loading failed.");
                    break;
                }
                _announceWholeFlowRetry(executions, callbacks);
            }
        }
    }
    lpaManagerRemoveExecutionErrorForwarding();
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "-- lpaManagerDownloadProfileWithDefaultSMDPAddress(...)");
    return ok;
}

/* Step 2 of the SM-DS operation: authentication toward the SM-DS, at most
 * 3 attempts while AuthenticateServer meets a broken GET RESPONSE chain. */
static bool _authenticateTowardSmds(DownloadWork *work, const LpaDownloadCallbacks *callbacks, const char *smdsAddress)
{
    work->address = smdsAddress;
    work->matchingId = "";
    for (int attempt = 1;; ++attempt) {
        _resetServerData(&work->serverData);
        bool chainingBroken = false;
        uint32_t code = 0;
        if (_authenticateServer(work, &kSmdsFlow, callbacks, &chainingBroken, &code)) {
            return true;
        }
        if (!chainingBroken) {
            return false;
        }
        if (attempt >= LPA_DOWNLOAD_EXECUTIONS) {
            lpaCoreLog(LPA_LOG_LEVEL_ERR, "AuthenticateServer for Events retrieval: GetResponse chaining issue "
                                          "detected, no more attempt performed");
            return false;
        }
        memset(work->transactionId, 0, sizeof(work->transactionId));
        lpaResetErrorCode();
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "AuthenticateServer for Events retrieval: GetResponse chaining issue detected, "
                                      "try another time, nbExecGetRespAuthServDS = %d",
                   LPA_DOWNLOAD_EXECUTIONS - attempt);
        freeDownloadServerData(&work->serverData);
        lpaManagerFreeRawDataPair(&work->authenticateServerResponse);
    }
}

/* One event record: the address flow, repeated while it asks for a retry. */
static void _downloadEventRecord(const SmdsEventRecord *record, size_t number, const LpaDownloadCallbacks *callbacks,
                                 LpaOperationResult *result)
{
    char text[160];
    for (int executions = 1; executions <= LPA_DOWNLOAD_EXECUTIONS; ++executions) {
        bool retry = false;
        if (_performProfileDownloadFromDefaultAddress(callbacks, record->rspServerAddress,
                                                      strnlen(record->rspServerAddress, sizeof(record->rspServerAddress)),
                                                      record->eventId, result, false, &retry)) {
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "Profile loading is successful.");
            return;
        }
        if (!retry) {
            lpaCoreLog(LPA_LOG_LEVEL_WAR, "Profile loading failed.");
            return;
        }
        if (executions < LPA_DOWNLOAD_EXECUTIONS) {
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "lpaResetErrorCode()...");
            lpaResetErrorCode();
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "Restart another download attempt from SM-DP for Event record #%d, "
                                          "nbExecGetResp=%d", (int)number, LPA_DOWNLOAD_EXECUTIONS - executions);
            snprintf(text, sizeof(text), "Restart another download attempt from SM-DP server for Event record #%u...",
                     (unsigned)number);
            lpaManagerSendProgress(callbacks, 0, text);
        } else {
            lpaCoreLog(LPA_LOG_LEVEL_WAR, "Maximum download attempts reached, do not retry anymore for Event record #%d",
                       (int)number);
            snprintf(text, sizeof(text), "Maximum download attempts reached, do not retry anymore for Event record #%u",
                     (unsigned)number);
            lpaManagerSendProgress(callbacks, 0, text);
        }
    }
}

bool lpaManagerDownloadProfileWithSDMSAddress(const LpaDownloadCallbacks *callbacks, LpaOperationResult *result)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "++ lpaManagerDownloadProfileWithSDMSAddress(...)");
    lpaManagerInstallExecutionErrorForwarding(callbacks);
    bool ok = false;
    DownloadWork work;
    memset(&work, 0, sizeof(work));
    if (result == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Incorrect parameter!");
        lpaSetLastErrorCode(LPA_ERROR_INVALID_PARAMETER);
    } else {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "Start to Download Profile list (Event list) with SMDS address...");
        result->first = 0;
        result->second = 0;
        LpaServerAddress address;
        memset(&address, 0, sizeof(address));
        /* The address as text: 128 bytes fill the record, so a copy with room for the NUL. */
        char smdsAddress[sizeof(address.address) + 1];
        memset(smdsAddress, 0, sizeof(smdsAddress));
        SmdsEventList *events = (SmdsEventList *)LPA_MALLOC(sizeof(SmdsEventList));
        if (events != NULL) {
            memset(events, 0, sizeof(*events));
        }
        bool listed = false;
        if (events == NULL) {
            lpaSetLastErrorCode(LPA_ERROR_INSUFFICIENT_BUFFER);
        } else if (!lpaManagerGetSMDSAddress(&address)) {
            lpaCoreLog(LPA_LOG_LEVEL_ERR, "Failed to get SM-DS address from eUICC!");
            lpaSetLastErrorCode(LPA_ERROR_FAILED_GET_DATA_FROM_ACTIVATION_CODE);
        } else {
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "Get SM-DS address from eUICC OK");
            memcpy(smdsAddress, address.address, address.addressLength);
            if (_authenticateTowardSmds(&work, callbacks, smdsAddress)) {
                if (lpaManagerEventRetrieval(work.transactionId, callbacks, smdsAddress,
                                             _pairText(&work.authenticateServerResponse), events)) {
                    char text[128];
                    lpaCoreLog(LPA_LOG_LEVEL_DEB, "Event(s) retrieval done. SM-DS reported %u profile(s) to download",
                               (unsigned)events->count);
                    snprintf(text, sizeof(text), "Event(s) retrieval done. SM-DS reported %u profile(s) to download",
                             (unsigned)events->count);
                    lpaManagerSendProgress(callbacks, 0, text);
                    listed = true;
                } else {
                    lpaCoreLog(LPA_LOG_LEVEL_ERR, "Failed to retrieve event(s) list (Authenticate client).");
                    lpaSetLastErrorCode(LPA_ERROR_FAILED_AUTHENTICATE_CLIENT);
                }
            }
            _releaseDownloadWork(&work, false);
        }
        if (listed && events->count == 0) {
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "=== No pending event record!");
            ok = true;
        } else if (listed) {
            result->second = events->count;
            uint32_t firstError = 0;
            char text[128];
            for (size_t i = 0; i < events->count; ++i) {
                lpaCoreLog(LPA_LOG_LEVEL_DEB, "=============================================");
                lpaCoreLog(LPA_LOG_LEVEL_DEB, "Start to process the Event record #%d", (int)(i + 1));
                snprintf(text, sizeof(text), "====== Start to process Event record #%u ======", (unsigned)(i + 1));
                lpaManagerSendProgress(callbacks, 1, text);
                _downloadEventRecord(&events->records[i], i + 1, callbacks, result);
                uint32_t code = lpaGetErrorCodeNoClear();
                if (code != 0 && firstError == 0) {
                    firstError = code;
                    lpaCoreLog(LPA_LOG_LEVEL_DEB, "lpaManagerDownloadProfileWithSDMSAddress(): First encountered Error "
                                                  "Code while download profiles: 0x%06X", (unsigned)code);
                }
                lpaResetErrorCode();
            }
            if (firstError != 0) {
                lpaCoreLog(LPA_LOG_LEVEL_DEB, "lpaManagerDownloadProfileWithSDMSAddress(): Restore first Error Code "
                                              "encountered while download profiles: 0x%06X", (unsigned)firstError);
                lpaSetLastErrorCode(firstError);
            }
            if (events->count == result->first) {
                lpaCoreLog(LPA_LOG_LEVEL_DEB,
                           "==== All Events (Profiles) defined by SM-DS were successfully loaded in eUICC");
                lpaManagerSendProgress(callbacks, 2,
                                       "All Events (Profiles) defined by SM-DS were successfully loaded in eUICC");
            } else {
                lpaCoreLog(LPA_LOG_LEVEL_DEB, "==== Some issues occurred during Events (Profiles) loading in eUICC");
                lpaManagerSendProgress(callbacks, 2, "Some issues occurred during Events (Profiles) loading in eUICC");
            }
            ok = true;
        } else {
            lpaManagerSendProgress(callbacks, 0, "Failed to retrieve Events list from SM-DS");
        }
        if (events != NULL) {
            LPA_FREE(events);
        }
    }
    _releaseDownloadWork(&work, false);
    lpaManagerRemoveExecutionErrorForwarding();
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "-- lpaManagerDownloadProfileWithSDMSAddress(...)");
    return ok;
}
