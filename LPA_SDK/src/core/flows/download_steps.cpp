#include "flows/download_steps.h"

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

const char *_pairText(const TRawDataPair *pair)
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

void _resetServerData(TServerData *data)
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
bool _copyTransactionId(const TServerData *data, char out[LPA_FLOW_TRANSACTION_ID_SIZE])
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
void _cancelWithProgress(const char *transactionId, int reason, const char *address,
                                const LpaDownloadCallbacks *callbacks, int phase)
{
    bool done = _lpaManagerCancelSession(transactionId, reason, address, callbacks);
    lpaManagerSendProgress(callbacks, phase, done ? "Cancel Session done" : "Cancel Session failed");
}

/* ------------------------------------------------------------------------
 * Steps shared by the flows
 * ------------------------------------------------------------------------ */

/* PrepareDownload, executed again after a broken GET RESPONSE chain. */
bool _prepareDownloadWithRetry(const TServerData *data, const char *hashCc, TRawDataPair *response)
{
    return _withChainingRetry("prepareDownload", [&](bool *) {
        if (lpaManagerES10b_PrepareDownload(data, hashCc, response)) {
            return true;
        }
        lpaManagerFreeRawDataPair(response);
        return false;
    });
}

/* Loads the package of the server data. *pirExpected is cleared when a
 * package error cancelled the session (reason 5); the code 0x2312 of that
 * case is recorded after the cancel session when codeAfterCancel is set. */
bool _loadPackage(const TServerData *data, TPirData *pir, const char *transactionId, const char *address,
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

const PirStepTexts kActivationCodePirTexts = {
    "Failed to retrieve PIR notification from eUICC", "PIR notification sending feature deactivated",
    "Send PIR notification to server done", "Success to clear the PIR notification"};
const PirStepTexts kAddressPirTexts = {
    "Failed to retrieve PIR notification from eUICC!", "PIR notification sending feature deactivated.",
    "Send PIR notification to server done.", "Clear the PIR notification OK"};

/* Delivers the PIR to the SM-DP+ and removes it from the eUICC. The caller
 * records the code of a missing PIR (0x2319) or a failed delivery (0x231C). */
PirOutcome _sendPirAndClear(const TPirData *pir, const char *address, size_t addressLength,
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

void _releaseDownloadWork(DownloadWork *work, bool withPolicyData)
{
    lpaManagerFreeRawDataPair(&work->challenge);
    lpaManagerFreeRawDataPair(&work->info1);
    freeDownloadServerData(&work->serverData);
    rawDataObject_free(work->ctxParams1);
    lpaManagerFreeRawDataPair(&work->authenticateServerResponse);
    lpaManagerFreeRawDataPair(&work->prepareDownloadResponse);
    if (withPolicyData) {
        rawDataObject_free(work->rat);
        if (work->installed.profileInfo != NULL) {
            LPA_FREE(work->installed.profileInfo);
        }
    }
    _releasePir(&work->pir);
    memset(work, 0, sizeof(*work));
}

/* ------------------------------------------------------------------------
 * The authentication sequence
 * ------------------------------------------------------------------------ */

/* One line of the flow's table; a NULL text writes nothing. */
static void _line(int32_t level, const char *text)
{
    if (text != NULL) {
        lpaCoreLog(level, "%s", text);
    }
}

static void _progress(const AuthenticationFlow *flow, const LpaDownloadCallbacks *callbacks, int phase,
                      const char *text)
{
    if (flow->progress) {
        lpaManagerSendProgress(callbacks, phase, text);
    }
}

/* Ends the sequence with a code, recorded now when the flow says so. */
static bool _stop(const AuthenticationFlow *flow, uint32_t value, uint32_t *code)
{
    *code = value;
    if (flow->recordAtOnce && value != 0) {
        lpaSetLastErrorCode(value);
    }
    return false;
}

static bool _takeTransactionId(DownloadWork *work, const AuthenticationFlow *flow, uint32_t *code)
{
    if (!_copyTransactionId(&work->serverData, work->transactionId)) {
        _line(LPA_LOG_LEVEL_ERR, flow->texts->transactionIdFailed);
        return _stop(flow, LPA_ERROR_INVALID_TRANSACTIONID, code);
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, flow->texts->transactionIdLine, work->transactionId);
    return true;
}

static bool _checkServerAddress(DownloadWork *work, const AuthenticationFlow *flow,
                                const LpaDownloadCallbacks *callbacks, uint32_t *code)
{
    const AuthenticationTexts *texts = flow->texts;
    const TDataValue *signed1 = &work->serverData._serverSigned1;
    _line(LPA_LOG_LEVEL_DEB, texts->stepAddress);
    if (texts->serverSigned1Missing != NULL && (signed1->val == NULL || signed1->len == 0)) {
        _line(LPA_LOG_LEVEL_ERR, texts->serverSigned1Missing);
        return _stop(flow, LPA_ERROR_FAILED_INITIAL_AUTHENTICATION, code);
    }
    if (signed1->val == NULL || !_verifySMDPAddress(work->address, signed1->val, signed1->len)) {
        _line(LPA_LOG_LEVEL_ERR, texts->addressFailed);
        _progress(flow, callbacks, 1, "Failed to check SM-DP+ address, invalid");
        return _stop(flow, LPA_ERROR_INVALID_SERVER_ADDRESS, code);
    }
    _progress(flow, callbacks, 1, "SM-DP+ address checking done");
    return true;
}

static void _freeChallengeAndInfo1(DownloadWork *work)
{
    lpaManagerFreeRawDataPair(&work->challenge);
    lpaManagerFreeRawDataPair(&work->info1);
}

bool _authenticateServer(DownloadWork *work, const AuthenticationFlow *flow, const LpaDownloadCallbacks *callbacks,
                         bool *chainingBroken, uint32_t *code)
{
    const AuthenticationTexts *texts = flow->texts;
    *code = 0;
    *chainingBroken = false;
    _line(LPA_LOG_LEVEL_DEB, texts->stepChallenge);
    if (!lpaManagerES10b_GetEuiccChallenge(&work->challenge)) {
        _line(LPA_LOG_LEVEL_ERR, texts->challengeFailed);
        return _stop(flow, flow->challengeCode, code);
    }
    _line(LPA_LOG_LEVEL_DEB, texts->challengeDone);

    _line(LPA_LOG_LEVEL_DEB, texts->stepInfo1);
    bool info1 = _withChainingRetry("GetEuiccInfo1", [&](bool *) {
        if (lpaManagerES10b_GetEuiccInfo1(&work->info1)) {
            return true;
        }
        lpaManagerFreeRawDataPair(&work->info1);
        return false;
    });
    if (!info1) {
        _line(LPA_LOG_LEVEL_ERR, texts->info1Failed);
        uint32_t failure = flow->info1Code;
        if (flow->info1KeepsChainingCode && lpaGetErrorCodeNoClear() == SE_MEDIA_E_CHAINING_GET_RESPONSE) {
            failure = SE_MEDIA_E_CHAINING_GET_RESPONSE;
        }
        return _stop(flow, failure, code);
    }
    _line(LPA_LOG_LEVEL_DEB, texts->info1Done);
    uint32_t failure = flow->afterInfo1 != NULL ? flow->afterInfo1(work, callbacks) : 0;
    if (failure != 0) {
        return _stop(flow, failure, code);
    }

    _line(LPA_LOG_LEVEL_DEB, texts->stepInitiate);
    bool initiated = !(flow->checkPairsBeforeInitiate &&
                       (work->challenge.base64 == NULL || work->info1.base64 == NULL)) &&
                     lpaManagerES9Plus_InitiateAuthentication(&work->serverData, callbacks, _pairText(&work->challenge),
                                                              _pairText(&work->info1), work->address);
    if (flow->pairRelease == PAIRS_FREED_AFTER_INITIATE) {
        _freeChallengeAndInfo1(work);
    }
    if (!initiated) {
        _line(LPA_LOG_LEVEL_ERR, texts->initiateFailed);
        _progress(flow, callbacks, 1, "Failed to Initiate authentication");
        return _stop(flow, LPA_ERROR_FAILED_INITIAL_AUTHENTICATION, code);
    }
    _line(LPA_LOG_LEVEL_DEB, texts->initiateDone);
    _progress(flow, callbacks, 1, "Initiate authentication done");
    if (flow->pairRelease == PAIRS_FREED_AFTER_INITIATED) {
        _freeChallengeAndInfo1(work);
    }

    bool checked = flow->addressBeforeTransactionId
                       ? _checkServerAddress(work, flow, callbacks, code) && _takeTransactionId(work, flow, code)
                       : _takeTransactionId(work, flow, code) && _checkServerAddress(work, flow, callbacks, code);
    if (!checked) {
        return false;
    }
    if (lpaManagerGetDeviceInfoTlvText()[0] == '\0' || !_lpaManagerPrepareCtxParam(work->matchingId, &work->ctxParams1)) {
        _line(LPA_LOG_LEVEL_ERR, texts->ctxParamsFailed);
        return _stop(flow, LPA_ERROR_INVALID_CTX_PARAM, code);
    }
    _line(LPA_LOG_LEVEL_DEB, texts->ctxParamsDone);
    failure = flow->afterCtxParams != NULL ? flow->afterCtxParams(work, callbacks) : 0;
    if (failure != 0) {
        return _stop(flow, failure, code);
    }

    _line(LPA_LOG_LEVEL_DEB, texts->stepAuthenticateServer);
    bool authenticated =
        lpaManagerES10b_AuthenticateServer(&work->serverData, work->ctxParams1, &work->authenticateServerResponse);
    if (flow->ctxParamsFreedAfterAuthenticateServer) {
        rawDataObject_free(work->ctxParams1);
        work->ctxParams1 = NULL;
    }
    if (!authenticated) {
        if (lpaGetErrorCodeNoClear() == SE_MEDIA_E_CHAINING_GET_RESPONSE) {
            *chainingBroken = true;
            if (texts->chainingBroken == NULL) {
                return false;
            }
            _line(LPA_LOG_LEVEL_ERR, texts->chainingBroken);
            _progress(flow, callbacks, 2,
                      "AuthenticateServer: GetResponse chaining issue detected, stop current profile download");
        } else {
            _line(LPA_LOG_LEVEL_ERR, texts->authenticateServerFailed);
            _progress(flow, callbacks, 2, "Failed to Authenticate server");
        }
        return _stop(flow, LPA_ERROR_FAILED_AUTHENTICATE_SERVER, code);
    }
    _line(LPA_LOG_LEVEL_DEB, texts->authenticateServerDone);
    if (!flow->responseBeforeProgress) {
        _progress(flow, callbacks, 2, "Authenticate server done");
    }
    if (texts->authenticateServerNoResponse != NULL && work->authenticateServerResponse.base64 == NULL) {
        _line(LPA_LOG_LEVEL_WAR, texts->authenticateServerNoResponse);
    } else {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, texts->authenticateServerResponse, _pairText(&work->authenticateServerResponse));
    }
    if (flow->responseBeforeProgress) {
        _progress(flow, callbacks, 2, "Authenticate server done");
    }
    return true;
}

bool _authenticateClient(DownloadWork *work, const AuthenticationFlow *flow, const LpaDownloadCallbacks *callbacks,
                         uint32_t *code)
{
    *code = 0;
    _resetServerData(&work->serverData);
    _line(LPA_LOG_LEVEL_DEB, flow->texts->stepAuthenticateClient);
    if (!flow->ctxParamsFreedAfterAuthenticateServer) {
        rawDataObject_free(work->ctxParams1);
        work->ctxParams1 = NULL;
    }
    if (!lpaManagerAuthenticateClient(&work->serverData, callbacks, work->transactionId, work->address,
                                      _pairText(&work->authenticateServerResponse))) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Failed to Authenticate client!");
        _progress(flow, callbacks, 3, "Failed to Authenticate client");
        return _stop(flow, LPA_ERROR_FAILED_AUTHENTICATE_CLIENT, code);
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "Authenticate client done");
    _progress(flow, callbacks, 3, "Authenticate client done");
    return true;
}

/* After a failed execution that asked for a whole-flow retry: clears the
 * last error and announces the next execution while executions are left,
 * else tells that no more will run. */
void _announceWholeFlowRetry(int executions, const LpaDownloadCallbacks *callbacks)
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
