/*
 * The download with an activation code, with or without a confirmation
 * code: authentication, metadata and profile policy rules, confirmation
 * code, package, PIR; the whole flow runs again after a broken chain.
 */
#include <stdio.h>
#include <string.h>

#include "codec/lpa_certificate.h"
#include "flows/download_steps.h"
#include "flows/lpa_notifications.h"
#include "runtime/lpa_core_log.h"
#include "runtime/lpa_core_memory.h"
#include "runtime/lpa_error_internal.h"
#include "runtime/lpa_hex.h"
#include "runtime/lpa_manager_config.h"

/* ------------------------------------------------------------------------
 * Activation-code flow
 * ------------------------------------------------------------------------ */

/* Step 13: the compact list of installed profiles, executed again after a
 * broken GET RESPONSE chain while the operation allows it. */
static bool _getProfilesInfoForPPR(LpaProfileInfoList *list)
{
    return _withChainingRetry("_getProfilesInfoForPPR", [&](bool *retryAllowed) {
        *retryAllowed = false;
        return lpaManagerES10c_GetProfilesInfo(list, retryAllowed, LPA_PROFILE_INFO_KIND_PPR);
    });
}

/* Steps 11 to 16: metadata and profile policy rules. Answers the code of
 * the failing step (0 when all passed); the metadata's cancel fields tell
 * whether a cancel session is needed. */
static uint32_t _checkPolicyRules(DownloadWork *work, const LpaDownloadCallbacks *callbacks,
                                  LpaOperationResult *result)
{
    ProfileMetadataFields *metadata = &work->metadata;
    lpaCoreLog(LPA_LOG_LEVEL_DEB,
               "LPA Download : Step 11 -> Extract Metadata linked to PPR management from incoming profile...");
    result->second = 1;
    memset(metadata, 0, sizeof(*metadata));
    if (work->serverData._profileMetadata.len > 0 &&
        !_extractFieldsFromProfileMetadata(work->serverData._profileMetadata.val, work->serverData._profileMetadata.len,
                                           metadata)) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Failed to extract Metadata from incoming profile!");
        lpaManagerSendProgress(callbacks, 3, "Failed to extract Metadata from incoming profile");
        metadata->cancelRequired = 1;
        metadata->cancelReason = ES10B_CANCEL_REASON_UNDEFINED;
        return LPA_ERROR_LOCAL_PROFILE_UNABLE_TO_EXTRACT_DATA;
    }
    bool hasPpr = metadata->hasPpr1 || metadata->hasPpr2;

    lpaCoreLog(LPA_LOG_LEVEL_DEB, "LPA Download : Step 12 -> Retrieve RAT from eUICC...");
    if (hasPpr && !lpaManagerES10b_GetRAT(&work->rat)) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Failed to retrieve RAT from eUICC!");
        lpaManagerSendProgress(callbacks, 3, "Failed to retrieve RAT from eUICC");
        metadata->cancelRequired = 1;
        metadata->cancelReason = ES10B_CANCEL_REASON_PPR_NOT_ALLOWED;
        return LPA_ERROR_INVALID_GET_RAT;
    }

    lpaCoreLog(LPA_LOG_LEVEL_DEB, "LPA Download : Step 13 -> Retrieve information of already installed profiles...");
    if (!_getProfilesInfoForPPR(&work->installed)) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Failed to retrieve installed profiles informations from eUICC!");
        lpaManagerSendProgress(callbacks, 3, "Failed to retrieve installed profiles informations from eUICC");
        metadata->cancelRequired = 1;
        metadata->cancelReason = ES10B_CANCEL_REASON_UNDEFINED;
        return LPA_ERROR_INVALID_GET_PROFILES_INFO_EXCHANGE;
    }

    lpaCoreLog(LPA_LOG_LEVEL_DEB,
               "LPA Download : Step 14 -> Checking incoming profile PPR versus already installed profiles...");
    if (!_checkIncomingProfilePPRconditionVersusInstalledProfiles(metadata, &work->installed)) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Failed to check PPR of incoming profile versus already installed profiles!");
        lpaManagerSendProgress(callbacks, 3, "Failed to check PPR of incoming profile versus already installed profiles");
        metadata->cancelRequired = 1;
        metadata->cancelReason = ES10B_CANCEL_REASON_UNDEFINED;
        return LPA_ERROR_INVALID_GET_PROFILES_INFO_EXCHANGE;
    }
    if (metadata->cancelRequired) {
        lpaManagerSendProgress(callbacks, 3, "Profile download not allowed (has PPR1 set whereas at least one "
                                             "Operational profile is already loaded on eUICC)");
        return LPA_ERROR_PPR_NOT_ALLOWED;
    }

    lpaCoreLog(LPA_LOG_LEVEL_DEB, "LPA Download : Step 15 -> Checking incoming profile PPR versus RAT rules...");
    if (hasPpr) {
        bool checked = _checkIncomingProfilePPRattributesVersurRAT(work->rat, metadata);
        if (!checked) {
            lpaCoreLog(LPA_LOG_LEVEL_ERR, "Failed to check incoming profile PPR versus PPR rules stored in RAT!");
            lpaManagerSendProgress(callbacks, 3, "Failed to check incoming profile PPR versus PPR rules stored in RAT");
            metadata->cancelRequired = 1;
            metadata->cancelReason = ES10B_CANCEL_REASON_PPR_NOT_ALLOWED;
        }
        if (!checked || metadata->cancelRequired) {
            lpaManagerSendProgress(callbacks, 3, "Profile download not allowed by RAT");
            return LPA_ERROR_PPR_NOT_ALLOWED;
        }
    }

    lpaCoreLog(LPA_LOG_LEVEL_DEB, "LPA Download : Step 16 -> User Consent for PPR management...");
    if (metadata->consentReason != 0) {
        if (callbacks != NULL && callbacks->userConsent != NULL) {
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "User Consent required, initiating Callback...");
            LpaUserConsentQuery query;
            memset(&query, 0, sizeof(query));
            query.consentReason = metadata->consentReason;
            memcpy(query.profileName, metadata->profileName, sizeof(query.profileName));
            query.profileName[sizeof(query.profileName) - 1] = '\0';
            query.consentGranted = 0;
            query.cancelReason = ES10B_CANCEL_REASON_UNDEFINED;
            if (callbacks->userConsent(callbacks->userData, &query)) {
                lpaCoreLog(LPA_LOG_LEVEL_INF, "Callback execution is correct, get user response");
                metadata->cancelRequired = (query.consentGranted == 0) ? 1 : 0;
                metadata->cancelReason = query.cancelReason;
            } else {
                lpaCoreLog(LPA_LOG_LEVEL_INF, "Callback defined to query User Consent, return false => Cancel session");
                metadata->cancelRequired = 1;
                metadata->cancelReason = ES10B_CANCEL_REASON_POSTPONED;
            }
            if (metadata->cancelRequired) {
                return LPA_ERROR_DOWNLOAD_SESSION_CANCELED_BY_USER;
            }
        } else {
            lpaCoreLog(LPA_LOG_LEVEL_DEB,
                       "No Callback defined to query User Consent, download will be granted by default.");
        }
    }
    return 0;
}

/* The confirmation code part of step 19. Answers the step's code (0 when
 * PrepareDownload may go on) and the hash text (empty when not required).
 * Records 0x2322 itself and cancels the session where the code is missing. */
static uint32_t _manageConfirmationCode(DownloadWork *work, const char *confirmationCode, int confirmationCodeLength,
                                        const LpaDownloadCallbacks *callbacks, char hash[65])
{
    hash[0] = '\0';
    const TDataValue *signed2 = &work->serverData._smdpSigned2;
    if (signed2->val == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Server data is invalid, smdpSigned2 value = NULL. ");
        return LPA_ERROR_FAILED_PREPARE_DOWNLOAD;
    }
    if (signed2->len == 0) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "smdpSigned2 length empty.");
        return LPA_ERROR_FAILED_PREPARE_DOWNLOAD;
    }
    BerTLV *sequence = berTLV_extractTagUInt8(0x30, signed2->val, signed2->len, NULL);
    if (sequence == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Error: Server data invalid, cannot find smdpSigned2 objects data.");
        return LPA_ERROR_FAILED_PREPARE_DOWNLOAD;
    }
    BerTLV *flag = sequence->length > 0 ? berTLV_extractTagUInt8(0x01, sequence->value, sequence->length, NULL) : NULL;
    berTLV_freeBerTLV(sequence);
    if (flag == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Error: Server data invalid, cannot find ccRequiredFlag in smdpSigned2.");
        return LPA_ERROR_FAILED_PREPARE_DOWNLOAD;
    }
    bool required = flag->length == 1 && flag->value[0] != 0;
    berTLV_freeBerTLV(flag);
    if (!required) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "Confirmation Code not required by server: ccRequiredFlag = Not required");
        return 0;
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "Confirmation Code required by server: ccRequiredFlag = Required");
    lpaManagerSendProgress(callbacks, 4, "Confirmation Code required by server");
    if (confirmationCodeLength >= 1) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "Confirmation Code provided.");
        if (!computeConfirmationCodeHash((const uint8_t *)confirmationCode, confirmationCodeLength,
                                         work->transactionId, hash)) {
            lpaCoreLog(LPA_LOG_LEVEL_ERR, "Failed to calculate Confirmation Code Hash.");
            hash[0] = '\0';
            return LPA_ERROR_FAILED_PREPARE_DOWNLOAD;
        }
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "Confirmation Code Hash : %s", hash);
        return 0;
    }
    int reason = ES10B_CANCEL_REASON_POSTPONED;
    if (callbacks != NULL && callbacks->confirmationCode != NULL) {
        LpaConfirmationCodeQuery query;
        memset(&query, 0, sizeof(query));
        query.capacity = sizeof(query.confirmationCode);
        query.cancelReason = ES10B_CANCEL_REASON_POSTPONED;
        if (callbacks->confirmationCode(callbacks->userData, &query)) {
            size_t length = strnlen(query.confirmationCode, sizeof(query.confirmationCode) - 1);
            if (length > 0) {
                char code[sizeof(query.confirmationCode)];
                memcpy(code, query.confirmationCode, length);
                code[length] = '\0';
                lpaCoreLog(LPA_LOG_LEVEL_DEB, "Confirmation Code recovered from callback: %s", code);
                if (!computeConfirmationCodeHash((const uint8_t *)code, (int)length, work->transactionId, hash)) {
                    lpaCoreLog(LPA_LOG_LEVEL_ERR, "Failed to calculate Confirmation Code Hash");
                    hash[0] = '\0';
                    return LPA_ERROR_FAILED_PREPARE_DOWNLOAD;
                }
                lpaCoreLog(LPA_LOG_LEVEL_DEB, "Confirmation Code Hash: %s", hash);
                return 0;
            }
            lpaCoreLog(LPA_LOG_LEVEL_ERR, "Empty Confirmation Code returned. Canceling session...");
            lpaManagerSendProgress(callbacks, 4, "Empty Confirmation Code returned. Canceling session...");
        } else {
            lpaCoreLog(LPA_LOG_LEVEL_ERR, "Failed to query Confirmation Code or operation canceled from application. "
                                          "Canceling session with reason code %d.", (int)query.cancelReason);
            lpaManagerSendProgress(callbacks, 4, "Failed to query Confirmation Code or operation canceled from "
                                                 "application. Canceling session...");
            reason = query.cancelReason;
            if (!lpaManagerIsCancelSessionReason(reason)) {
                lpaCoreLog(LPA_LOG_LEVEL_WAR,
                           "cancelSession reasonCode unknown, \"Postponed\" (0x01) will be used instead!");
                reason = ES10B_CANCEL_REASON_POSTPONED;
            }
        }
    } else {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Confirmation Code not provided. Canceling session...");
        lpaManagerSendProgress(callbacks, 4, "Confirmation Code not provided. Canceling session...");
    }
    lpaSetLastErrorCode(LPA_ERROR_CONFIRMATION_CODE_MISSING_OR_EMPTY);
    _cancelWithProgress(work->transactionId, reason, work->code.smdpAddress, callbacks, 4);
    return LPA_ERROR_CONFIRMATION_CODE_MISSING_OR_EMPTY;
}

/* Step 8: the activation code's OID against the server certificate's. */
static uint32_t _checkOid(DownloadWork *work, const LpaDownloadCallbacks *callbacks)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "LPA Download : Step 8 -> Check Activation Code OID versus OID in certificate "
                                  "returned by server...");
    if (work->code.oid[0] == '\0') {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "No OID defined in Activation Code, checking canceled.");
        return 0;
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "OID provided in Activation Code, extracting OID from certificate...");
    uint8_t oid[LPA_CERTIFICATE_OID_MAX];
    size_t oidLength = 0;
    const TDataValue *certificate = &work->serverData._serverCertificate;
    if (certificate->val == NULL ||
        !extractOIDfromCertificate(certificate->val, certificate->len, oid, &oidLength)) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "An issue has been encountered while extracting OID from certificate returned by "
                                      "server or OID not found");
        lpaManagerSendProgress(callbacks, 1, "Failed to retrieve OID from certificate");
        return LPA_ERROR_INVALID_SERVERCERTIFICATE;
    }
    char text[LPA_AC_OID_SIZE];
    memset(text, 0, sizeof(text));
    convertASN1_OIDtoText(oid, oidLength, text);
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "OID extracted from Activation Code: %s", work->code.oid);
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "OID extracted from certificate    : %s", text);
    if (strcmp(text, work->code.oid) != 0) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "OIDs do not match. Check failed. Abort download");
        lpaManagerSendProgress(callbacks, 1, "Failed to OID comparison, does not match");
        return LPA_ERROR_OID_MISMATCH;
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "OID check done successfully. Match with Activation Code");
    lpaManagerSendProgress(callbacks, 1, "OID comparison done");
    return 0;
}

/* Step 5: the activation code, whose address and matchingId the
 * authentication uses. */
static uint32_t _decodeActivationCode(DownloadWork *work, const LpaDownloadCallbacks *callbacks)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "LPA Download : Step 5 -> Manage activation code...");
    if (!decodeActivationCode(work->activationCode, &work->code)) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Failed to extract data from Activation code.");
        return LPA_ERROR_FAILED_GET_DATA_FROM_ACTIVATION_CODE;
    }
    lpaManagerSendProgress(callbacks, 0, "Activation code decoded");
    work->address = work->code.smdpAddress;
    work->matchingId = work->code.matchingId;
    return 0;
}

/* Steps 3 to 10 of the activation-code flow. */
static const AuthenticationTexts kActivationCodeTexts = {
    .stepChallenge = "LPA Download : Step 3 -> GetEuiccChallenge ...",
    .challengeFailed = NULL,
    .challengeDone = "Success to get EuiccChallenge",
    .stepInfo1 = "LPA Download : Step 4 -> GetEuiccInfo ...",
    .info1Failed = NULL,
    .info1Done = "Success to get UiccInfo",
    .stepInitiate = "LPA Download : Step 6 -> Initiate Authentication ...",
    .initiateFailed = "Failed to Initiate authentication",
    .initiateDone = "Initiate authentication done",
    .transactionIdFailed = NULL,
    .transactionIdLine = "LPA Download : TransactionId : <%s>",
    .stepAddress = "LPA Download : Step 7 -> Check SM-DP+ Address ...",
    .serverSigned1Missing = NULL,
    .addressFailed = "Invalid SMDP address",
    .ctxParamsFailed = "Failed to prepareCtxParam",
    .ctxParamsDone = "Success to prepareCtxParam",
    .stepAuthenticateServer = "LPA Download : Step 9 -> Authenticate server ...",
    .chainingBroken = "AuthenticateServer: GetResponse chaining issue detected, stop current profile download",
    .authenticateServerFailed = "Failed to Authenticate server.",
    .authenticateServerDone = "Authenticate server done",
    .authenticateServerResponse = "Authenticate server response: %s ",
    .authenticateServerNoResponse = NULL,
    .stepAuthenticateClient = "LPA Download : Step 10 -> Authenticate client ...",
};

static const AuthenticationFlow kActivationCodeFlow = {
    .texts = &kActivationCodeTexts,
    .challengeCode = LPA_ERROR_INVALID_GET_UICC_CHALLENGE,
    .info1Code = LPA_ERROR_INVALID_GET_EUICC_INFO,
    .info1KeepsChainingCode = true,
    .recordAtOnce = false,
    .progress = true,
    .checkPairsBeforeInitiate = true,
    .pairRelease = PAIRS_KEPT,
    .addressBeforeTransactionId = false,
    .ctxParamsFreedAfterAuthenticateServer = false,
    .responseBeforeProgress = false,
    .afterInfo1 = _decodeActivationCode,
    .afterCtxParams = _checkOid,
};

bool _manageDownloadProfile(const char *activationCode, const char *confirmationCode, int confirmationCodeLength,
                            const LpaDownloadCallbacks *callbacks, LpaOperationResult *result, bool *retryWholeFlow)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "++ _manageDownloadProfile(...)");
    bool retryUnused = false;
    if (retryWholeFlow == NULL) {
        retryWholeFlow = &retryUnused;
    }
    *retryWholeFlow = false;
    DownloadWork work;
    memset(&work, 0, sizeof(work));
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "Start to Download Profile ...");
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "LPA Download : Step 1 -> Initialization ...");
    uint32_t code = 0;
    bool pirSent = false;
    if (activationCode == NULL || result == NULL || confirmationCode == NULL) {
        code = LPA_ERROR_INVALID_PARAMETER;
    } else {
        work.activationCode = activationCode;
        if (_authenticateServer(&work, &kActivationCodeFlow, callbacks, retryWholeFlow, &code)) {
            _authenticateClient(&work, &kActivationCodeFlow, callbacks, &code);
        }
        if (code == 0) {
            code = _checkPolicyRules(&work, callbacks, result);
            if (work.metadata.cancelRequired) {
                lpaCoreLog(LPA_LOG_LEVEL_DEB,
                           "LPA Download : Step 17 -> Cancel Session required, initiating it with reason code %d...",
                           (int)work.metadata.cancelReason);
                _cancelWithProgress(work.transactionId, work.metadata.cancelReason, work.code.smdpAddress, callbacks,
                                    3);
            }
        }
        char hash[65] = {0};
        if (code == 0) {
            lpaCoreLog(LPA_LOG_LEVEL_DEB,
                       "LPA Download : Step 18 -> PPR conditions check performed successfully, download granted...");
            lpaManagerSendProgress(callbacks, 3, "PPR conditions check done");
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "LPA Download : Step 19 -> prepare Download ...");
            code = _manageConfirmationCode(&work, confirmationCode, confirmationCodeLength, callbacks, hash);
        }
        if (code == 0) {
            if (!_prepareDownloadWithRetry(&work.serverData, hash, &work.prepareDownloadResponse)) {
                lpaCoreLog(LPA_LOG_LEVEL_ERR, "Failed to prepareDownload. ");
                code = LPA_ERROR_FAILED_PREPARE_DOWNLOAD;
            } else {
                lpaCoreLog(LPA_LOG_LEVEL_DEB, "PrepareDownload success.");
                _resetServerData(&work.serverData);
            }
        }
        bool pirExpected = false;
        if (code == 0) {
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "LPA Download : Step 20 -> Manage Bound Profile Package ...");
            if (!lpaManagerGetBoundProfilePackage(&work.serverData, callbacks, work.transactionId,
                                                  work.code.smdpAddress, _pairText(&work.prepareDownloadResponse))) {
                lpaCoreLog(LPA_LOG_LEVEL_ERR, "Failed to Get Bound Profile Package.");
                lpaManagerSendProgress(callbacks, 5, "Failed to Get Bound Profile Package");
                code = LPA_ERROR_FAILED_GET_BOUND_PROFILE_PACKAGE;
            } else {
                lpaCoreLog(LPA_LOG_LEVEL_DEB, "Get Bound Profile Package done.");
                lpaManagerSendProgress(callbacks, 5, "Get Bound Profile Package done");
                pirExpected = true;
                if (_loadPackage(&work.serverData, &work.pir, work.transactionId, work.code.smdpAddress, callbacks,
                                 false, &pirExpected)) {
                    result->first = 1;
                }
            }
        }
        if (pirExpected) {
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "LPA Download : Step 21 -> Send PIR ...");
            switch (_sendPirAndClear(&work.pir, work.code.smdpAddress, strlen(work.code.smdpAddress), callbacks,
                                     &kActivationCodePirTexts)) {
            case PIR_MISSING:
                code = LPA_ERROR_INVALID_PIR_RESPONSE;
                break;
            case PIR_SEND_FAILED:
                code = LPA_ERROR_FAILED_SEND_NOTIFICATION_OR_NOT_GET_STATUS_CODE;
                break;
            case PIR_SENT:
                pirSent = true;
                break;
            case PIR_NOT_SENT_BY_SETTING:
                break;
            }
        }
    }
    _releaseDownloadWork(&work, true);
    if (code != 0) {
        lpaSetLastErrorCode(code);
    }
    bool ok = pirSent && result != NULL && result->first == 1;
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "-- _manageDownloadProfile(...) return %s", lpaBoolText(ok));
    return ok;
}

/* Runs the activation-code flow up to 3 times while it asks for a retry. */
static bool _downloadWithWholeFlowRetry(const char *activationCode, const char *confirmationCode,
                                        const LpaDownloadCallbacks *callbacks, LpaOperationResult *result)
{
    bool ok = false;
    for (int executions = 1; executions <= LPA_DOWNLOAD_EXECUTIONS; ++executions) {
        bool retry = false;
        ok = _manageDownloadProfile(activationCode, confirmationCode, (int)strlen(confirmationCode), callbacks,
                                    result, &retry);
        if (ok || !retry) {
            break;
        }
        _announceWholeFlowRetry(executions, callbacks);
    }
    return ok;
}

extern "C" LPA_API bool lpaManagerDownloadProfile(const char *activationCode, const LpaDownloadCallbacks *callbacks,
                                                  LpaOperationResult *result)
{
    lpaManagerInstallExecutionErrorForwarding(callbacks);
    bool ok = false;
    if (activationCode == NULL || result == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Incorrect parameter(s)!");
        lpaSetLastErrorCode(LPA_ERROR_DOWNLOAD_PROFILE_PARAMETER_ERROR);
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "++ lpaManagerDownloadProfile(...)");
    if (activationCode != NULL && result != NULL) {
        result->first = 0;
        result->second = 0;
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "Check if Confirmation Code required flag present in Activation Code and check "
                                      "value...");
        if (!_checkActivationCodeValid(activationCode)) {
            lpaCoreLog(LPA_LOG_LEVEL_ERR, "Invalid activation code!");
            lpaSetLastErrorCode(LPA_ERROR_INVALID_ACTIVATION_CODE);
        } else {
            char flag[LPA_AC_CC_FLAG_SIZE] = {0};
            bool flagged = false;
            if (_extractElementFromActivationCode(activationCode, 4, flag, sizeof(flag))) {
                flagged = strcmp(flag, "1") == 0;
                lpaCoreLog(LPA_LOG_LEVEL_DEB, "Confirmation Code required flag found, status is %s",
                           flagged ? "\"Required.\"" : "\"Not required.\"");
            } else {
                lpaCoreLog(LPA_LOG_LEVEL_DEB, "No Confirmation Code required flag found in Activation Code");
            }
            if (flagged) {
                lpaCoreLog(LPA_LOG_LEVEL_ERR,
                           "Error : Confirmation Code request in Activation Code. Not supported in this entry point.");
                lpaSetLastErrorCode(LPA_ERROR_DOWNLOAD_PROFILE_PARAMETER_ERROR);
            } else {
                ok = _downloadWithWholeFlowRetry(activationCode, "", callbacks, result);
            }
        }
    }
    lpaManagerRemoveExecutionErrorForwarding();
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "-- lpaManagerDownloadProfile(...) return %s", lpaBoolText(ok));
    return ok;
}

bool lpaManagerDownloadProfileWithConfirmationCode(const char *activationCode, const char *confirmationCode,
                                                   const LpaDownloadCallbacks *callbacks, LpaOperationResult *result)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "++ lpaManagerDownloadProfileWithConfirmationCode(...)");
    lpaManagerInstallExecutionErrorForwarding(callbacks);
    bool ok = false;
    if (activationCode == NULL || confirmationCode == NULL || result == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Incorrect parameter(s)!");
        lpaSetLastErrorCode(LPA_ERROR_DOWNLOAD_PROFILE_PARAMETER_ERROR);
    } else {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "Parameters check ...");
        result->first = 0;
        result->second = 0;
        if (confirmationCode[0] == '\0') {
            lpaCoreLog(LPA_LOG_LEVEL_ERR, "Error : Confirmation Code length <= 0");
            lpaSetLastErrorCode(LPA_ERROR_DOWNLOAD_PROFILE_PARAMETER_ERROR);
        } else {
            ok = _downloadWithWholeFlowRetry(activationCode, confirmationCode, callbacks, result);
        }
    }
    lpaManagerRemoveExecutionErrorForwarding();
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "-- lpaManagerDownloadProfileWithActivationCode(...) return %s", lpaBoolText(ok));
    return ok;
}
