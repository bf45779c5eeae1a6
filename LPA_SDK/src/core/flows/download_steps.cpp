#include "flows/lpa_download.h"

#include <stdio.h>
#include <string.h>

#include "codec/ber_tlv.h"
#include "card/bpp_loader.h"
#include "card/es10b.h"
#include "codec/lpa_activation_code.h"
#include "codec/lpa_certificate.h"
#include "runtime/lpa_core_log.h"
#include "runtime/lpa_core_memory.h"
#include "runtime/lpa_error_internal.h"
#include "runtime/lpa_hex.h"
#include "runtime/lpa_manager_config.h"
#include "card/lpa_manager_es10c.h"
#include "flows/lpa_notifications.h"
#include "flows/lpa_ppr.h"

#define LPA_DOWNLOAD_EXECUTIONS 3

static const char *_boolText(bool value)
{
    return value ? "true" : "false";
}

static const char *_pairText(const TRawDataPair *pair)
{
    return (pair->base64 != NULL && pair->base64->data != NULL) ? (const char *)pair->base64->data : "";
}

void freeDownloadServerData(TServerData *data)
{
    if (data == NULL) {
        return;
    }
    TDataValue *fields[] = {&data->_transactionId,   &data->_serverSigned1,   &data->_serverSignature1,
                            &data->_euiccCiPKIdToBeUsed, &data->_serverCertificate, &data->_smdpCertificate,
                            &data->_smdpSignature2,  &data->_smdpSigned2,     &data->_profileMetadata,
                            &data->_boundProfilePackage};
    for (size_t i = 0; i < sizeof(fields) / sizeof(fields[0]); ++i) {
        if (fields[i]->val != NULL) {
            LPA_FREE(fields[i]->val);
        }
        fields[i]->val = NULL;
        fields[i]->len = 0;
    }
}

static void _resetServerData(TServerData *data)
{
    freeDownloadServerData(data);
    memset(data, 0, sizeof(*data));
}

bool lpaManagerIsCancelSessionReason(int reason)
{
    return (reason >= ES10B_CANCEL_REASON_END_USER_REJECTION && reason <= ES10B_CANCEL_REASON_LOAD_BPP_EXECUTION_ERROR) ||
           reason == ES10B_CANCEL_REASON_UNDEFINED;
}

/* The transactionId of the server data as the flow's own text (1 to 39
 * characters); false when absent or too long. */
static bool _copyTransactionId(const TServerData *data, char out[LPA_FLOW_TRANSACTION_ID_SIZE])
{
    out[0] = '\0';
    if (data->_transactionId.val == NULL) {
        return false;
    }
    size_t length = strnlen((const char *)data->_transactionId.val, data->_transactionId.len);
    if (length == 0 || length >= LPA_FLOW_TRANSACTION_ID_SIZE) {
        return false;
    }
    memcpy(out, data->_transactionId.val, length);
    out[length] = '\0';
    return true;
}

/* ------------------------------------------------------------------------
 * ctxParams1, address check, cancel session
 * ------------------------------------------------------------------------ */

bool _lpaManagerPrepareCtxParam(const char *matchingId, RawDataObject **ctxParams1)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "_lpaManagerPrepareCtxParam() ...");
    size_t deviceInfoLength = 0;
    const uint8_t *deviceInfo = lpaManagerGetDeviceInfoTlvBytes(&deviceInfoLength);
    if (deviceInfo == NULL || deviceInfoLength == 0 || ctxParams1 == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Invalid parameter !");
        lpaSetLastErrorCode(LPA_ERROR_INVALID_PARAMETER);
        return false;
    }
    RawDataObject *matching = NULL;
    if (matchingId == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Matching Id is missing (NULL pointer");
        matching = rawDataObject_allocate();
    } else {
        if (matchingId[0] == '\0') {
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "Matching Id is empty");
        }
        matching = berTLV_createAndBuildRawDataObject(0x80, strlen(matchingId), (const uint8_t *)matchingId);
    }
    rawDataObject_free(*ctxParams1);
    *ctxParams1 = NULL;
    bool result = false;
    if (matching != NULL) {
        size_t needed = matching->length + deviceInfoLength;
        if (needed > LPA_CTX_PARAMS_MAX) {
            lpaCoreLog(LPA_LOG_LEVEL_ERR, "Not enough memory allowed for ptrCtxParam: %d bytes needed, %d max allowed!",
                       (int)needed, LPA_CTX_PARAMS_MAX);
            lpaSetLastErrorCode(LPA_ERROR_INVALID_CTX_PARAM);
            rawDataObject_free(matching);
            return false;
        }
        if (rawDataObject_appendRawDataArray(matching, deviceInfo, deviceInfoLength)) {
            *ctxParams1 = berTLV_createAndBuildRawDataObject(0xA0, matching->length, matching->data);
        }
        rawDataObject_free(matching);
    }
    if (*ctxParams1 == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Failed to allocate ptrCtxParam.");
        lpaSetLastErrorCode(LPA_ERROR_INVALID_CTX_PARAM);
    } else {
        char hex[1024];
        if (byteArray2HexStr((*ctxParams1)->data, (*ctxParams1)->length, hex, sizeof(hex)) > 0) {
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "CtxParam (%d bytes) :<%s>", (int)(*ctxParams1)->length, hex);
        } else {
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "CtxParam (%d bytes) : ...", (int)(*ctxParams1)->length);
        }
        result = true;
    }
    return result;
}

bool _verifySMDPAddress(const char *address, const uint8_t *serverSigned1, size_t length)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "_verifySMDPAddress()...");
    if (address == NULL || serverSigned1 == NULL || length == 0) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Incorrect parameter(s)!");
        lpaSetLastErrorCode(LPA_ERROR_INVALID_PARAMETER);
        return false;
    }
    char hex[1024];
    byteArray2HexStr(serverSigned1, length, hex, sizeof(hex));
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "ptrServerSignedTLV (%d bytes) :<%s>", (int)length, hex);
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "ptrSmdpAddress (%d bytes) :<%s>", (int)strlen(address), address);
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "Extracting SMDP Address from ptrServerSignedTLV ...");
    bool valid = false;
    BerTLV *sequence = berTLV_extractTagUInt8(0x30, serverSigned1, length, NULL);
    if (sequence == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "TAG 0x30 absent !");
    } else {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "TAG 0x30 Present");
        size_t count = 0;
        BerTLVListNode *list = sequence->length > 0 ? berTLV_extractList(sequence->value, sequence->length, &count)
                                                    : NULL;
        if (list == NULL) {
            lpaCoreLog(LPA_LOG_LEVEL_ERR, "No tag found inside Ber TLV object !");
        } else {
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "%d tag found inside Ber TLV object", (int)count);
            const BerTLV *serverAddress = NULL;
            for (BerTLVListNode *node = list; node != NULL; node = node->next) {
                if (node->tlv == NULL) {
                    continue;
                }
                byteArray2HexStr(node->tlv->value, node->tlv->length, hex, sizeof(hex));
                lpaCoreLog(LPA_LOG_LEVEL_DEB, "Tag 0x%04X (%d bytes) :<%s>", (unsigned)node->tlv->tag,
                           (int)node->tlv->length, hex);
                if (node->tlv->tag == 0x83 && node->tlv->length > 0) {
                    lpaCoreLog(LPA_LOG_LEVEL_DEB, " ServerAdress item found  => extract string from rawdata");
                    serverAddress = node->tlv;
                }
            }
            if (serverAddress != NULL) {
                char text[256];
                size_t n = serverAddress->length < sizeof(text) - 1 ? serverAddress->length : sizeof(text) - 1;
                memcpy(text, serverAddress->value, n);
                text[n] = '\0';
                lpaCoreLog(LPA_LOG_LEVEL_DEB, " ServerAdress extracted : <%s>", text);
                valid = serverAddress->length == strlen(address) &&
                        memcmp(serverAddress->value, address, serverAddress->length) == 0;
            }
            berTLV_freeBerTLVList(list);
        }
        berTLV_freeBerTLV(sequence);
    }
    if (valid) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "SM-DP Address is valid");
    } else {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "SM-DP Address is invalid!");
        lpaSetLastErrorCode(LPA_ERROR_INVALID_SERVER_ADDRESS);
    }
    return valid;
}

bool _lpaManagerCancelSession(const char *transactionId, int reason, const char *smdpAddress,
                              const LpaDownloadCallbacks *callbacks)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "_lpaManagerCancelSession...");
    size_t idLength = transactionId != NULL ? strlen(transactionId) : 0;
    if (transactionId == NULL || smdpAddress == NULL || idLength == 0 || idLength >= LPA_FLOW_TRANSACTION_ID_SIZE ||
        !lpaManagerIsCancelSessionReason(reason)) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "_lpaManagerCancelSession: Parameters error.");
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "_lpaManagerCancelSession: Operation failed.");
        return false;
    }
    TCancelSessionResponse *response = (TCancelSessionResponse *)LPA_MALLOC(sizeof(TCancelSessionResponse));
    bool result = false;
    if (response == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "_lpaManagerCancelSession: Cannot allocate memory for response buffer.");
    } else {
        memset(response, 0, sizeof(*response));
        if (lpaManagerES10b_CancelSession(transactionId, reason, response)) {
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "lpaManagerES9plus_CancelSession...");
            if (!response->ok || response->length == 0) {
                lpaCoreLog(LPA_LOG_LEVEL_ERR, "lpaManagerES9plus_CancelSession: Invalid cancelSessionResponse object.");
            } else if (_lpaManagerES9SendCancelSession(transactionId, response, smdpAddress, callbacks)) {
                lpaCoreLog(LPA_LOG_LEVEL_DEB, "lpaManagerES9plus_CancelSession: Request sending is successful.");
                result = true;
            } else {
                lpaCoreLog(LPA_LOG_LEVEL_ERR, "lpaManagerES9plus_CancelSession: Request sending failed.");
            }
        }
        LPA_FREE(response);
    }
    if (result) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "_lpaManagerCancelSession: Operation is successful.");
    } else {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "_lpaManagerCancelSession: Operation failed.");
    }
    return result;
}

/* A cancel session followed by its progress text. */
static void _cancelWithProgress(const char *transactionId, int reason, const char *address,
                                const LpaDownloadCallbacks *callbacks, int phase)
{
    bool done = _lpaManagerCancelSession(transactionId, reason, address, callbacks);
    lpaManagerSendProgress(callbacks, phase, done ? "Cancel Session done" : "Cancel Session failed");
}

/* ------------------------------------------------------------------------
 * Steps shared by the flows
 * ------------------------------------------------------------------------ */

/* GetEuiccInfo1, executed again after a broken GET RESPONSE chain. */
static bool _getEuiccInfo1WithRetry(TRawDataPair *info)
{
    for (int executions = 1;; ++executions) {
        if (lpaManagerES10b_GetEuiccInfo1(info)) {
            return true;
        }
        lpaManagerFreeRawDataPair(info);
        if (!lpaManagerRetryAfterChainingIssue("GetEuiccInfo1", executions, true)) {
            return false;
        }
    }
}

/* PrepareDownload, executed again after a broken GET RESPONSE chain. */
static bool _prepareDownloadWithRetry(const TServerData *data, const char *hashCc, TRawDataPair *response)
{
    for (int executions = 1;; ++executions) {
        if (lpaManagerES10b_PrepareDownload(data, hashCc, response)) {
            return true;
        }
        lpaManagerFreeRawDataPair(response);
        if (!lpaManagerRetryAfterChainingIssue("prepareDownload", executions, true)) {
            return false;
        }
    }
}

/* Loads the package of the server data. *pirExpected is cleared when a
 * package error cancelled the session (reason 5); the code 0x2312 of that
 * case is recorded after the cancel session when codeAfterCancel is set. */
static bool _loadPackage(const TServerData *data, TPirData *pir, const char *transactionId, const char *address,
                         const LpaDownloadCallbacks *callbacks, bool codeAfterCancel, bool *pirExpected)
{
    bool packageError = false;
    if (lpaManagerES10b_LoadBoundProfilePackage(data, pir, &packageError)) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "Load Bound Profile Package done - Profile download successful");
        lpaManagerSendProgress(callbacks, 6, "Load Bound Profile Package done - Profile download successful");
        return true;
    }
    if (lpaGetErrorCodeNoClear() == SE_MEDIA_E_CHAINING_GET_RESPONSE) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR,
                   "Failed to retrieve final result of loadBoundProfilePackage due to Chained GetResponse issue");
        lpaManagerSendProgress(callbacks, 6, "Failed to retrieve final result of load Bound Profile Package");
    } else if (packageError) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Failed to Load Bound Profile Package due to BPP error, canceling session.");
        lpaManagerSendProgress(callbacks, 6, "Failed to Load Bound Profile Package due to BPP error, canceling session");
        if (!codeAfterCancel) {
            lpaSetLastErrorCode(LPA_ERROR_FAILED_LOAD_BPP);
        }
        _cancelWithProgress(transactionId, ES10B_CANCEL_REASON_LOAD_BPP_EXECUTION_ERROR, address, callbacks, 6);
        if (codeAfterCancel) {
            lpaSetLastErrorCode(LPA_ERROR_FAILED_LOAD_BPP);
        }
        *pirExpected = false;
    } else {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Failed to Load Bound Profile Package.");
        lpaManagerSendProgress(callbacks, 6, "Failed to Load Bound Profile Package");
        lpaSetLastErrorCode(LPA_ERROR_FAILED_LOAD_BPP);
    }
    return false;
}

/* Log texts of the PIR step that differ between the flows. */
typedef struct PirStepTexts {
    const char *noPir;
    const char *deactivated;
    const char *sent;
    const char *cleared;
} PirStepTexts;

static const PirStepTexts kActivationCodePirTexts = {
    "Failed to retrieve PIR notification from eUICC", "PIR notification sending feature deactivated",
    "Send PIR notification to server done", "Success to clear the PIR notification"};
static const PirStepTexts kAddressPirTexts = {
    "Failed to retrieve PIR notification from eUICC!", "PIR notification sending feature deactivated.",
    "Send PIR notification to server done.", "Clear the PIR notification OK"};

typedef enum PirOutcome { PIR_MISSING, PIR_NOT_SENT_BY_SETTING, PIR_SENT, PIR_SEND_FAILED } PirOutcome;

/* Delivers the PIR to the SM-DP+ and removes it from the eUICC. The caller
 * records the code of a missing PIR (0x2319) or a failed delivery (0x231C). */
static PirOutcome _sendPirAndClear(const TPirData *pir, const char *address, size_t addressLength,
                                   const LpaDownloadCallbacks *callbacks, const PirStepTexts *texts)
{
    if (!pir->received || pir->raw == NULL || pir->raw->length == 0 || pir->base64 == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "%s", texts->noPir);
        lpaManagerSendProgress(callbacks, 7, "Failed to retrieve PIR notification from eUICC");
        return PIR_MISSING;
    }
    if (!lpaManagerIsSendPIRDuringDownloadProfile()) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "%s", texts->deactivated);
        lpaManagerSendProgress(callbacks, 7, "PIR notification sending feature deactivated");
        return PIR_NOT_SENT_BY_SETTING;
    }
    if (!handleNotification(address, addressLength, (const char *)pir->base64->data, callbacks)) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Failed to Send PIR notification to server");
        lpaManagerSendProgress(callbacks, 7, "Failed to Send PIR notification to server");
        return PIR_SEND_FAILED;
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "%s", texts->sent);
    lpaManagerSendProgress(callbacks, 7, "Send PIR notification to server done");
    uint16_t seqNumber = 0;
    if (!extractSeqNumbFromPIR(pir, &seqNumber)) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Failed to get the PIR notification sequence number");
        lpaManagerSendProgress(callbacks, 8, "Failed to get PIR notification sequence number");
    } else if (lpaManagerClearProfileNotification(seqNumber)) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "%s", texts->cleared);
        lpaManagerSendProgress(callbacks, 8, "Clear PIR notification done");
    } else {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Failed to Clear PIR notification");
        lpaManagerSendProgress(callbacks, 8, "Failed to Clear PIR notification");
    }
    return PIR_SENT;
}

static void _releasePir(TPirData *pir)
{
    rawDataObject_free(pir->raw);
    rawDataObject_free(pir->base64);
    memset(pir, 0, sizeof(*pir));
}

/* ------------------------------------------------------------------------
 * Activation-code flow
 * ------------------------------------------------------------------------ */

/* Working data of one execution. */
typedef struct DownloadWork {
    char transactionId[LPA_FLOW_TRANSACTION_ID_SIZE];
    ActivationCodeFields code;
    TRawDataPair challenge;
    TRawDataPair info1;
    TServerData serverData;
    RawDataObject *ctxParams1;
    TRawDataPair authenticateServerResponse;
    TRawDataPair prepareDownloadResponse;
    ProfileMetadataFields metadata;
    RawDataObject *rat;
    LpaProfileInfoList installed;
    TPirData pir;
} DownloadWork;

static void _releaseWork(DownloadWork *work)
{
    lpaManagerFreeRawDataPair(&work->challenge);
    lpaManagerFreeRawDataPair(&work->info1);
    freeDownloadServerData(&work->serverData);
    rawDataObject_free(work->ctxParams1);
    lpaManagerFreeRawDataPair(&work->authenticateServerResponse);
    lpaManagerFreeRawDataPair(&work->prepareDownloadResponse);
    rawDataObject_free(work->rat);
    if (work->installed.profileInfo != NULL) {
        LPA_FREE(work->installed.profileInfo);
    }
    _releasePir(&work->pir);
    memset(work, 0, sizeof(*work));
}

/* Step 13: the compact list of installed profiles, executed again after a
 * broken GET RESPONSE chain while the operation allows it. */
static bool _getProfilesInfoForPPR(LpaProfileInfoList *list)
{
    for (int executions = 1;; ++executions) {
        bool retryAllowed = false;
        if (lpaManagerES10c_GetProfilesInfo(list, &retryAllowed, LPA_PROFILE_INFO_KIND_PPR)) {
            return true;
        }
        if (!retryAllowed || !lpaManagerRetryAfterChainingIssue("_getProfilesInfoForPPR", executions, true)) {
            return false;
        }
    }
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

/* Steps 3 to 10. Answers the failing step's code, 0 when all passed. */
static uint32_t _authenticate(DownloadWork *work, const char *activationCode, const LpaDownloadCallbacks *callbacks,
                              bool *retryWholeFlow)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "LPA Download : Step 3 -> GetEuiccChallenge ...");
    if (!lpaManagerES10b_GetEuiccChallenge(&work->challenge)) {
        return LPA_ERROR_INVALID_GET_UICC_CHALLENGE;
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "Success to get EuiccChallenge");

    lpaCoreLog(LPA_LOG_LEVEL_DEB, "LPA Download : Step 4 -> GetEuiccInfo ...");
    if (!_getEuiccInfo1WithRetry(&work->info1)) {
        return lpaGetErrorCodeNoClear() == SE_MEDIA_E_CHAINING_GET_RESPONSE ? SE_MEDIA_E_CHAINING_GET_RESPONSE
                                                                            : LPA_ERROR_INVALID_GET_EUICC_INFO;
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "Success to get UiccInfo");

    lpaCoreLog(LPA_LOG_LEVEL_DEB, "LPA Download : Step 5 -> Manage activation code...");
    if (!decodeActivationCode(activationCode, &work->code)) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Failed to extract data from Activation code.");
        return LPA_ERROR_FAILED_GET_DATA_FROM_ACTIVATION_CODE;
    }
    lpaManagerSendProgress(callbacks, 0, "Activation code decoded");

    lpaCoreLog(LPA_LOG_LEVEL_DEB, "LPA Download : Step 6 -> Initiate Authentication ...");
    if (work->challenge.base64 == NULL || work->info1.base64 == NULL ||
        !lpaManagerES9Plus_InitiateAuthentication(&work->serverData, callbacks, _pairText(&work->challenge),
                                                  _pairText(&work->info1), work->code.smdpAddress)) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Failed to Initiate authentication");
        lpaManagerSendProgress(callbacks, 1, "Failed to Initiate authentication");
        return LPA_ERROR_FAILED_INITIAL_AUTHENTICATION;
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "Initiate authentication done");
    lpaManagerSendProgress(callbacks, 1, "Initiate authentication done");
    if (!_copyTransactionId(&work->serverData, work->transactionId)) {
        return LPA_ERROR_INVALID_TRANSACTIONID;
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "LPA Download : TransactionId : <%s>", work->transactionId);

    lpaCoreLog(LPA_LOG_LEVEL_DEB, "LPA Download : Step 7 -> Check SM-DP+ Address ...");
    if (work->serverData._serverSigned1.val == NULL ||
        !_verifySMDPAddress(work->code.smdpAddress, work->serverData._serverSigned1.val,
                            work->serverData._serverSigned1.len)) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Invalid SMDP address");
        lpaManagerSendProgress(callbacks, 1, "Failed to check SM-DP+ address, invalid");
        return LPA_ERROR_INVALID_SERVER_ADDRESS;
    }
    lpaManagerSendProgress(callbacks, 1, "SM-DP+ address checking done");
    if (lpaManagerGetDeviceInfoTlvText()[0] == '\0' ||
        !_lpaManagerPrepareCtxParam(work->code.matchingId, &work->ctxParams1)) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Failed to prepareCtxParam");
        return LPA_ERROR_INVALID_CTX_PARAM;
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "Success to prepareCtxParam");

    uint32_t code = _checkOid(work, callbacks);
    if (code != 0) {
        return code;
    }

    lpaCoreLog(LPA_LOG_LEVEL_DEB, "LPA Download : Step 9 -> Authenticate server ...");
    if (!lpaManagerES10b_AuthenticateServer(&work->serverData, work->ctxParams1, &work->authenticateServerResponse)) {
        if (lpaGetErrorCodeNoClear() == SE_MEDIA_E_CHAINING_GET_RESPONSE) {
            *retryWholeFlow = true;
            lpaCoreLog(LPA_LOG_LEVEL_ERR,
                       "AuthenticateServer: GetResponse chaining issue detected, stop current profile download");
            lpaManagerSendProgress(callbacks, 2,
                                   "AuthenticateServer: GetResponse chaining issue detected, stop current profile download");
        } else {
            lpaCoreLog(LPA_LOG_LEVEL_ERR, "Failed to Authenticate server.");
            lpaManagerSendProgress(callbacks, 2, "Failed to Authenticate server");
        }
        return LPA_ERROR_FAILED_AUTHENTICATE_SERVER;
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "Authenticate server done");
    lpaManagerSendProgress(callbacks, 2, "Authenticate server done");
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "Authenticate server response: %s ", _pairText(&work->authenticateServerResponse));
    _resetServerData(&work->serverData);

    lpaCoreLog(LPA_LOG_LEVEL_DEB, "LPA Download : Step 10 -> Authenticate client ...");
    rawDataObject_free(work->ctxParams1);
    work->ctxParams1 = NULL;
    if (!lpaManagerAuthenticateClient(&work->serverData, callbacks, work->transactionId, work->code.smdpAddress,
                                      _pairText(&work->authenticateServerResponse))) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Failed to Authenticate client!");
        lpaManagerSendProgress(callbacks, 3, "Failed to Authenticate client");
        return LPA_ERROR_FAILED_AUTHENTICATE_CLIENT;
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "Authenticate client done");
    lpaManagerSendProgress(callbacks, 3, "Authenticate client done");
    return 0;
}

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
        code = _authenticate(&work, activationCode, callbacks, retryWholeFlow);
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
    _releaseWork(&work);
    if (code != 0) {
        lpaSetLastErrorCode(code);
    }
    bool ok = pirSent && result != NULL && result->first == 1;
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "-- _manageDownloadProfile(...) return %s", _boolText(ok));
    return ok;
}

/* After a failed execution that asked for a whole-flow retry: clears the
 * last error and announces the next execution while executions are left,
 * else tells that no more will run. */
static void _announceWholeFlowRetry(int executions, const LpaDownloadCallbacks *callbacks)
{
    if (executions < LPA_DOWNLOAD_EXECUTIONS) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "lpaResetErrorCode()...");
        lpaResetErrorCode();
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "Restart another download attempt from SM-DP, nbExecGetResp=%d",
                   LPA_DOWNLOAD_EXECUTIONS - executions);
        lpaManagerSendProgress(callbacks, 0, "Restart another download attempt from SM-DP server...");
    } else {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Maximum download attempts reached, do not retry anymore.");
        lpaManagerSendProgress(callbacks, 0, "Maximum download attempts reached, do not retry anymore");
    }
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
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "-- lpaManagerDownloadProfile(...) return %s", _boolText(ok));
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
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "-- lpaManagerDownloadProfileWithActivationCode(...) return %s", _boolText(ok));
    return ok;
}

/* ------------------------------------------------------------------------
 * Downloads from server addresses
 * ------------------------------------------------------------------------ */

/* Working data of one address-flow execution. */
typedef struct AddressWork {
    char transactionId[LPA_FLOW_TRANSACTION_ID_SIZE];
    TRawDataPair challenge;
    TRawDataPair info1;
    TServerData serverData;
    RawDataObject *ctxParams1;
    TRawDataPair authenticateServerResponse;
    TRawDataPair prepareDownloadResponse;
    TPirData pir;
} AddressWork;

static void _releaseAddressWork(AddressWork *work)
{
    lpaManagerFreeRawDataPair(&work->challenge);
    lpaManagerFreeRawDataPair(&work->info1);
    freeDownloadServerData(&work->serverData);
    rawDataObject_free(work->ctxParams1);
    lpaManagerFreeRawDataPair(&work->authenticateServerResponse);
    lpaManagerFreeRawDataPair(&work->prepareDownloadResponse);
    _releasePir(&work->pir);
    memset(work, 0, sizeof(*work));
}

/* Records a code at once and answers false. */
static bool _fail(uint32_t code)
{
    lpaSetLastErrorCode(code);
    return false;
}

/* Steps 1 to 10 of the address flow; false at the first failing step. */
static bool _addressFlowUntilPackage(AddressWork *work, const LpaDownloadCallbacks *callbacks, const char *address,
                                     const char *matchingId, LpaOperationResult *result, bool isDefaultAddress,
                                     bool *retryWholeFlow)
{
    if (!lpaManagerES10b_GetEuiccChallenge(&work->challenge)) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Failed to get UiccChallenge!");
        return false;
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "Get UiccChallenge OK.");
    if (!_getEuiccInfo1WithRetry(&work->info1)) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Failed to get UiccInfo!");
        return false;
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "Get UiccInfo OK.");
    bool initiated = lpaManagerES9Plus_InitiateAuthentication(&work->serverData, callbacks, _pairText(&work->challenge),
                                                              _pairText(&work->info1), address);
    lpaManagerFreeRawDataPair(&work->challenge);
    lpaManagerFreeRawDataPair(&work->info1);
    if (!initiated) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Failed to Initiate authentication!");
        lpaManagerSendProgress(callbacks, 1, "Failed to Initiate authentication");
        return _fail(LPA_ERROR_FAILED_INITIAL_AUTHENTICATION);
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "Initiate authentication done.");
    lpaManagerSendProgress(callbacks, 1, "Initiate authentication done");
    if (!_copyTransactionId(&work->serverData, work->transactionId)) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Invalid TransactionID!");
        return _fail(LPA_ERROR_INVALID_TRANSACTIONID);
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "LPA Download : TransactionId : <%s>", work->transactionId);
    if (work->serverData._serverSigned1.val == NULL ||
        !_verifySMDPAddress(address, work->serverData._serverSigned1.val, work->serverData._serverSigned1.len)) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Invalid SM-DP+ Address");
        lpaManagerSendProgress(callbacks, 1, "Failed to check SM-DP+ address, invalid");
        return _fail(LPA_ERROR_INVALID_SERVER_ADDRESS);
    }
    lpaManagerSendProgress(callbacks, 1, "SM-DP+ address checking done");
    if (lpaManagerGetDeviceInfoTlvText()[0] == '\0' || !_lpaManagerPrepareCtxParam(matchingId, &work->ctxParams1)) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Invalid CTX Params");
        return _fail(LPA_ERROR_INVALID_CTX_PARAM);
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "PrepareCtxParam OK");
    bool authenticated =
        lpaManagerES10b_AuthenticateServer(&work->serverData, work->ctxParams1, &work->authenticateServerResponse);
    rawDataObject_free(work->ctxParams1);
    work->ctxParams1 = NULL;
    if (!authenticated) {
        if (lpaGetErrorCodeNoClear() == SE_MEDIA_E_CHAINING_GET_RESPONSE) {
            *retryWholeFlow = true;
            lpaCoreLog(LPA_LOG_LEVEL_ERR,
                       "AuthenticateServer: GetResponse chaining issue detected, stop current profile download.");
            lpaManagerSendProgress(callbacks, 2,
                                   "AuthenticateServer: GetResponse chaining issue detected, stop current profile download");
        } else {
            lpaCoreLog(LPA_LOG_LEVEL_ERR, "Failed to Authenticate server!");
            lpaManagerSendProgress(callbacks, 2, "Failed to Authenticate server");
        }
        return _fail(LPA_ERROR_FAILED_AUTHENTICATE_SERVER);
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "Authenticate server done");
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "AuthenticateServer response: %s ", _pairText(&work->authenticateServerResponse));
    lpaManagerSendProgress(callbacks, 2, "Authenticate server done");
    _resetServerData(&work->serverData);
    if (!lpaManagerAuthenticateClient(&work->serverData, callbacks, work->transactionId, address,
                                      _pairText(&work->authenticateServerResponse))) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Failed to Authenticate client!");
        lpaManagerSendProgress(callbacks, 3, "Failed to Authenticate client");
        return _fail(LPA_ERROR_FAILED_AUTHENTICATE_CLIENT);
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "Authenticate client done");
    lpaManagerSendProgress(callbacks, 3, "Authenticate client done");
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
    AddressWork work;
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
    _releaseAddressWork(&work);
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
static bool _authenticateTowardSmds(AddressWork *work, const LpaDownloadCallbacks *callbacks, const char *smdsAddress)
{
    for (int attempt = 1;; ++attempt) {
        _resetServerData(&work->serverData);
        if (!lpaManagerES10b_GetEuiccChallenge(&work->challenge)) {
            lpaCoreLog(LPA_LOG_LEVEL_ERR, "Failed to get UiccChallenge for SM-DS Events retrieval!");
            return _fail(LPA_ERROR_INVALID_GET_EUICC_INFO);
        }
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "Get UiccChallenge for SM-DS Events retrieval OK");
        if (!_getEuiccInfo1WithRetry(&work->info1)) {
            lpaCoreLog(LPA_LOG_LEVEL_ERR, "Failed to get UiccInfo for SM-DS Events retrieval!");
            return _fail(LPA_ERROR_INVALID_GET_EUICC_INFO);
        }
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "Get UiccInfo for SM-DS Events retrieval OK");
        if (!lpaManagerES9Plus_InitiateAuthentication(&work->serverData, callbacks, _pairText(&work->challenge),
                                                      _pairText(&work->info1), smdsAddress)) {
            lpaCoreLog(LPA_LOG_LEVEL_ERR, "Failed to process initiateAuthentication for SM-DS Events retrieval!");
            return _fail(LPA_ERROR_FAILED_INITIAL_AUTHENTICATION);
        }
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "Execution of initiateAuthentication for SM-DS Events retrieval OK");
        lpaManagerFreeRawDataPair(&work->challenge);
        lpaManagerFreeRawDataPair(&work->info1);
        if (work->serverData._serverSigned1.val == NULL || work->serverData._serverSigned1.len == 0) {
            lpaCoreLog(LPA_LOG_LEVEL_ERR, "Invalid serverSigned1 (SM-DS Events retrieval)!");
            return _fail(LPA_ERROR_FAILED_INITIAL_AUTHENTICATION);
        }
        if (!_verifySMDPAddress(smdsAddress, work->serverData._serverSigned1.val, work->serverData._serverSigned1.len)) {
            lpaCoreLog(LPA_LOG_LEVEL_ERR, "Invalid SM-DS address (SM-DS Events retrieval)!");
            return _fail(LPA_ERROR_INVALID_SERVER_ADDRESS);
        }
        if (!_copyTransactionId(&work->serverData, work->transactionId)) {
            lpaCoreLog(LPA_LOG_LEVEL_ERR, "Invalid transactionId  (SM-DS Events retrieval)!");
            return _fail(LPA_ERROR_INVALID_TRANSACTIONID);
        }
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "LPA Download : TransactionId (DS) : <%s>", work->transactionId);
        if (lpaManagerGetDeviceInfoTlvText()[0] == '\0' || !_lpaManagerPrepareCtxParam("", &work->ctxParams1)) {
            lpaCoreLog(LPA_LOG_LEVEL_ERR, "Failed to prepareCtxParam for SM-DS Events retrieval!");
            return _fail(LPA_ERROR_INVALID_CTX_PARAM);
        }
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "PrepareCtxParam for SM-DS Events retrieval OK");
        bool authenticated =
            lpaManagerES10b_AuthenticateServer(&work->serverData, work->ctxParams1, &work->authenticateServerResponse);
        rawDataObject_free(work->ctxParams1);
        work->ctxParams1 = NULL;
        if (authenticated) {
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "AuthenticateServer for SM-DS Events retrieval OK");
            if (work->authenticateServerResponse.base64 != NULL) {
                lpaCoreLog(LPA_LOG_LEVEL_DEB, "AuthenticateServer for Events retrieval response: %s ",
                           _pairText(&work->authenticateServerResponse));
            } else {
                lpaCoreLog(LPA_LOG_LEVEL_WAR, "AuthenticateServer for Events retrieval response: N/A ");
            }
            return true;
        }
        if (lpaGetErrorCodeNoClear() != SE_MEDIA_E_CHAINING_GET_RESPONSE) {
            lpaCoreLog(LPA_LOG_LEVEL_ERR, "Failed to Authenticate server for SM-DS Events retrieval!");
            return _fail(LPA_ERROR_FAILED_AUTHENTICATE_SERVER);
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
    AddressWork work;
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
        bool listed = false;
        if (events == NULL) {
            lpaSetLastErrorCode(LPA_ERROR_INSUFFICIENT_BUFFER);
        } else if (memset(events, 0, sizeof(*events)), !lpaManagerGetSMDSAddress(&address)) {
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
            _releaseAddressWork(&work);
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
    _releaseAddressWork(&work);
    lpaManagerRemoveExecutionErrorForwarding();
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "-- lpaManagerDownloadProfileWithSDMSAddress(...)");
    return ok;
}
