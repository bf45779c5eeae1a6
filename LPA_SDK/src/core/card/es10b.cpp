#include "card/es10b.h"

#include <stdio.h>
#include <string.h>

#include "codec/ber_tlv.h"
#include "codec/lpa_base64.h"
#include "runtime/lpa_core_log.h"
#include "runtime/lpa_core_memory.h"
#include "runtime/lpa_error_internal.h"
#include "runtime/lpa_hex.h"
#include "card/se_media_manager.h"

uint8_t lpaManagerES10ResponseBuffer[ES10_RESPONSE_BUFFER_SIZE];

/* Tags of the ES10b requests. */
#define TAG_GET_EUICC_CHALLENGE 0xBF2E
#define TAG_GET_EUICC_INFO1     0xBF20
#define TAG_AUTHENTICATE_SERVER 0xBF38
#define TAG_PREPARE_DOWNLOAD    0xBF21
#define TAG_CANCEL_SESSION      0xBF41
#define TAG_GET_RAT             0xBF43

#define HASH_CC_TEXT_LENGTH 64
#define HASH_CC_SIZE        32
#define TRANSACTION_ID_SIZE 16

bool lpaManagerES10IsSuccessfulSW(uint16_t sw)
{
    return sw == 0x9000 || (sw >> 8) == 0x91;
}

void lpaManagerFreeRawDataPair(TRawDataPair *pair)
{
    if (pair == NULL) {
        return;
    }
    rawDataObject_free(pair->raw);
    rawDataObject_free(pair->base64);
    pair->raw = NULL;
    pair->base64 = NULL;
}

bool _storeHexBase64StructureRawDataPair(RawDataObject **raw, RawDataObject **base64, const uint8_t *data,
                                         size_t length, size_t maxLength)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "_storeHexBase64StructureRawDataPair()...");
    if (raw == NULL || base64 == NULL || data == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Invalid NULL parameter !");
        lpaSetLastErrorCode(LPA_ERROR_INVALID_PARAMETER);
        return false;
    }
    if (length == 0) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "No raw / hex data available or size <= 0!");
        lpaSetLastErrorCode(LPA_ERROR_INVALID_PARAMETER);
        return false;
    }
    if (length > maxLength) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Raw / hex data given size out of bounds: %d requested, %d maximum allowed!",
                   (int)length, (int)maxLength);
        lpaSetLastErrorCode(LPA_ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    rawDataObject_free(*raw);
    rawDataObject_free(*base64);
    *raw = NULL;
    *base64 = NULL;

    const char *failure = NULL;
    char *text = (char *)LPA_MALLOC(encodeBase64BufferSize(length));
    RawDataObject *rawObject = NULL;
    RawDataObject *base64Object = NULL;
    if (text == NULL) {
        failure = "Not enough memory for Base 64 conversion buffer !";
    } else if ((rawObject = rawDataObject_create(data, length)) == NULL) {
        failure = "Failed to create Raw Data hex element !";
    } else {
        uint32_t characters = encodeBase64(data, (uint32_t)length, text);
        if (characters == 0) {
            failure = "Cannot convert hex element in Base 64 !";
        } else if ((base64Object = rawDataObject_create((const uint8_t *)text, (size_t)characters + 1)) == NULL) {
            failure = "Failed to create Raw Data Base64 element !";
        }
    }
    if (text != NULL) {
        LPA_FREE(text);
    }
    if (failure != NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "%s", failure);
        lpaSetLastErrorCode(LPA_ERROR_INSUFFICIENT_BUFFER);
        rawDataObject_free(rawObject);
        return false;
    }
    *raw = rawObject;
    *base64 = base64Object;
    return true;
}

/* One ES10 request into the engine-wide response buffer. */
static bool _sendEs10Request(const RawDataObject *request, uint16_t *sw, size_t *length)
{
    *sw = 0;
    *length = 0;
    return buildAndSendStoreDataCase4(request, sw, lpaManagerES10ResponseBuffer, sizeof(lpaManagerES10ResponseBuffer),
                                      length);
}

/* The request "<tag> 00". */
static RawDataObject *_emptyRequest(uint16_t tag)
{
    return berTLV_createAndBuildRawDataObject(tag, 0, NULL);
}

/* Sends "<tag> 00" and judges the exchange: a failed send records
 * failureCode, a bad status word 0x2003, an answer without data
 * failureCode. *length is the answer's size in the response buffer. */
static bool _sendGetRequest(uint16_t tag, const char *sendingText, uint32_t failureCode, size_t *length)
{
    RawDataObject *request = _emptyRequest(tag);
    if (request == NULL) {
        lpaSetLastErrorCode(LPA_ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "%s", sendingText);
    uint16_t sw = 0;
    bool sent = _sendEs10Request(request, &sw, length);
    rawDataObject_free(request);
    if (!sent) {
        lpaSetLastErrorCode(failureCode);
        return false;
    }
    if (!lpaManagerES10IsSuccessfulSW(sw)) {
        lpaSetLastErrorCode(LPA_ERROR_INVALID_SW);
        return false;
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "SW=90.00 => Extracting data");
    if (*length == 0) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "No Raw data available !");
        lpaSetLastErrorCode(failureCode);
        return false;
    }
    return true;
}

static void _dumpTlv(const BerTLV *tlv)
{
    lpaManagerLogHexDumpTitled(LPA_LOG_LEVEL_DEB, "TLV", tlv->value, tlv->length, "TLV tag<%04x> (%u bytes) :",
                               (unsigned)tlv->tag, (unsigned)tlv->length);
}

/* The only TLV inside an answer's outer tag; its tag in *innerTag. */
static bool _singleInnerTag(const BerTLV *outer, uint16_t *innerTag, const char *countFormat)
{
    size_t count = 0;
    BerTLVListNode *list = berTLV_extractList(outer->value, outer->length, &count);
    lpaCoreLog(LPA_LOG_LEVEL_DEB, countFormat, (int)count);
    bool single = list != NULL && count == 1 && list->next == NULL;
    if (single) {
        *innerTag = list->tlv->tag;
    }
    berTLV_freeBerTLVList(list);
    return single;
}

/* ------------------------------------------------------------------------
 * GetEuiccChallenge and GetEuiccInfo1
 * ------------------------------------------------------------------------ */

static bool _checkAndExtractEuiccChallenge(const uint8_t *data, size_t length, TRawDataPair *challenge)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "_checkAndExtractEuiccChallenge()...");
    bool result = false;
    BerTLV *outer = berTLV_extractTagUInt16(TAG_GET_EUICC_CHALLENGE, data, length, NULL);
    BerTLV *inner = NULL;
    if (outer == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Tag BF2E not found !");
    } else {
        _dumpTlv(outer);
        if (outer->length >= 2) {
            inner = berTLV_extractTagUInt8(0x80, outer->value, outer->length, NULL);
        }
        if (inner != NULL) {
            _dumpTlv(inner);
            result = inner->length > 0 &&
                     _storeHexBase64StructureRawDataPair(&challenge->raw, &challenge->base64, inner->value,
                                                         inner->length, ES10B_CHALLENGE_MAX);
        }
    }
    berTLV_freeBerTLV(inner);
    berTLV_freeBerTLV(outer);
    return result;
}

bool lpaManagerES10b_GetEuiccChallenge(TRawDataPair *challenge)
{
    if (challenge == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Invalid parameter!");
        lpaSetLastErrorCode(LPA_ERROR_INVALID_PARAMETER);
        return false;
    }
    lpaManagerFreeRawDataPair(challenge);
    size_t length = 0;
    if (!_sendGetRequest(TAG_GET_EUICC_CHALLENGE, "do buildAndSendStoreDataCase4(GetEuiccChallenge) ...",
                         LPA_ERROR_INVALID_GET_UICC_CHALLENGE, &length)) {
        return false;
    }
    if (length > ES10B_CHALLENGE_MAX) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Buffer too small for copying raw data !");
        lpaSetLastErrorCode(LPA_ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    if (!_checkAndExtractEuiccChallenge(lpaManagerES10ResponseBuffer, length, challenge)) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Invalid Raw Data for EuiccChallenge !");
        lpaSetLastErrorCode(LPA_ERROR_INVALID_GET_UICC_CHALLENGE);
        return false;
    }
    return true;
}

bool lpaManagerES10b_GetEuiccInfo1(TRawDataPair *info)
{
    if (info == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Invalid parameter!");
        lpaSetLastErrorCode(LPA_ERROR_INVALID_PARAMETER);
        return false;
    }
    lpaManagerFreeRawDataPair(info);
    size_t length = 0;
    if (!_sendGetRequest(TAG_GET_EUICC_INFO1, "do buildAndSendStoreDataCase4(GetEuiccInfo) ...",
                         LPA_ERROR_INVALID_GET_EUICC_INFO, &length)) {
        return false;
    }
    return _storeHexBase64StructureRawDataPair(&info->raw, &info->base64, lpaManagerES10ResponseBuffer, length,
                                               ES10B_EUICC_INFO1_MAX);
}

/* ------------------------------------------------------------------------
 * AuthenticateServer
 * ------------------------------------------------------------------------ */

static bool _fieldPresent(const TDataValue *field)
{
    return field->val != NULL && field->len > 0;
}

RawDataObject *_prepareAuthenticateServerTlv(const TServerData *data, const RawDataObject *ctxParams1)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "_prepareAuthenticateServerTlv() ...");
    if (data == NULL || ctxParams1 == NULL || ctxParams1->data == NULL || ctxParams1->length == 0 ||
        !_fieldPresent(&data->_serverSigned1) || !_fieldPresent(&data->_serverSignature1) ||
        !_fieldPresent(&data->_euiccCiPKIdToBeUsed) || !_fieldPresent(&data->_serverCertificate)) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "incorrect parameter(s) !");
        return NULL;
    }
    RawDataObject *content = rawDataObject_allocate();
    if (content == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Unable to allocate ptrRawData !");
        lpaSetLastErrorCode(LPA_ERROR_INSUFFICIENT_BUFFER);
        return NULL;
    }
    const TDataValue *parts[] = {&data->_serverSigned1, &data->_serverSignature1, &data->_euiccCiPKIdToBeUsed,
                                 &data->_serverCertificate};
    bool appended = true;
    for (size_t i = 0; i < 4 && appended; ++i) {
        appended = rawDataObject_appendRawDataArray(content, parts[i]->val, parts[i]->len);
    }
    appended = appended && rawDataObject_appendRawDataArray(content, ctxParams1->data, ctxParams1->length);
    if (!appended) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Error when updating ptrRawData !");
        rawDataObject_free(content);
        return NULL;
    }
    RawDataObject *request = berTLV_createAndBuildRawDataObject(TAG_AUTHENTICATE_SERVER, content->length, content->data);
    rawDataObject_free(content);
    if (request == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Unable to allocate ptrRawDataAuthenticateServer !");
        lpaSetLastErrorCode(LPA_ERROR_INSUFFICIENT_BUFFER);
        return NULL;
    }
    if (request->length > ES10B_AUTHENTICATE_SERVER_MAX) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "ptrRawDataAuthenticateServer->rawData too small to be updated !");
        lpaSetLastErrorCode(LPA_ERROR_INSUFFICIENT_BUFFER);
        rawDataObject_free(request);
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "_prepareAuthenticateServerTlv() return %s", lpaBoolText(false));
        return NULL;
    }
    lpaManagerLogHexDumpTitled(LPA_LOG_LEVEL_DEB, "AuthenticateServerRequest", request->data, request->length,
                               "_prepareAuthenticateServerTlv() => request generated (%u bytes) : ...",
                               (unsigned)request->length);
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "_prepareAuthenticateServerTlv() return %s", lpaBoolText(true));
    return request;
}

/* The texts of an answer that must hold exactly one of A0 (ok) or A1 (error)
 * inside its outer tag. */
typedef struct OkOrErrorAnswer {
    uint16_t tag;
    const char *entry;
    const char *outOfBounds;
    const char *notFound;
    const char *present;
    const char *countFormat;
    const char *notSingle;
    const char *okDetected;
    const char *errorDetected;
    const char *badTag;
} OkOrErrorAnswer;

static bool _isValidOkOrErrorAnswer(const uint8_t *data, size_t length, const OkOrErrorAnswer *texts)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "%s", texts->entry);
    if (length == 0 || length > ES10B_RESPONSE_MAX) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "%s", texts->outOfBounds);
        return false;
    }
    BerTLV *outer = berTLV_extractTagUInt16(texts->tag, data, length, NULL);
    if (outer == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "%s", texts->notFound);
        return false;
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "%s", texts->present);
    bool valid = false;
    uint16_t inner = 0;
    if (!_singleInnerTag(outer, &inner, texts->countFormat)) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "%s", texts->notSingle);
    } else if (inner == 0xA0) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "%s", texts->okDetected);
        valid = true;
    } else if (inner == 0xA1) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "%s", texts->errorDetected);
    } else {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "%s", texts->badTag);
    }
    berTLV_freeBerTLV(outer);
    return valid;
}

static bool _isValidAuthenticateServerResponse(const uint8_t *data, size_t length)
{
    static const OkOrErrorAnswer texts = {
        TAG_AUTHENTICATE_SERVER, "_isValidAuthenticateServerResponse()...", "Invalid parameter!",
        "Tag BF38 not found !", "<BF38> tag present ", "%d tag present inside BF38",
        "Only one tag must be present inside BF38 !", "authenticateResponseOk detected",
        "authenticateResponseError detected", "Invalid authenticateResponse Tag !"};
    return _isValidOkOrErrorAnswer(data, length, &texts);
}

/* Sends a request (and frees it), checks the status word and the answer,
 * and stores the answer as raw bytes and Base64 text. */
static bool _sendAndStoreAnswer(RawDataObject *request, uint32_t sendFailureCode,
                                bool (*isValidAnswer)(const uint8_t *, size_t), const char *invalidAnswerText,
                                TRawDataPair *response)
{
    uint16_t sw = 0;
    size_t length = 0;
    bool sent = _sendEs10Request(request, &sw, &length);
    rawDataObject_free(request);
    if (!sent) {
        lpaSetLastErrorCode(sendFailureCode);
        return false;
    }
    if (!lpaManagerES10IsSuccessfulSW(sw)) {
        lpaSetLastErrorCode(LPA_ERROR_INVALID_SW);
        return false;
    }
    if (!isValidAnswer(lpaManagerES10ResponseBuffer, length)) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "%s", invalidAnswerText);
        return false;
    }
    return _storeHexBase64StructureRawDataPair(&response->raw, &response->base64, lpaManagerES10ResponseBuffer,
                                               length, ES10B_RESPONSE_MAX);
}

bool lpaManagerES10b_AuthenticateServer(const TServerData *data, const RawDataObject *ctxParams1,
                                        TRawDataPair *response)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "lpaManagerES10b_AuthenticateServer()...");
    if (data == NULL || ctxParams1 == NULL || response == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Invalid parameter!");
        lpaSetLastErrorCode(LPA_ERROR_INVALID_PARAMETER);
        return false;
    }
    lpaManagerFreeRawDataPair(response);
    RawDataObject *request = _prepareAuthenticateServerTlv(data, ctxParams1);
    if (request == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Failed to prepareAuthenticateServerTlv !");
        return false;
    }
    if (request->length == 0) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Returned authServerTlv object is void !");
        rawDataObject_free(request);
        return false;
    }
    return _sendAndStoreAnswer(request, LPA_ERROR_INVALID_AUTHENTICATE_SERVER_RESPONSE,
                               _isValidAuthenticateServerResponse,
                               "Authenticate server response does not contain authenticateResponseOk !", response);
}

/* ------------------------------------------------------------------------
 * PrepareDownload
 * ------------------------------------------------------------------------ */

bool _extractDataFromSmdpSigned2(const TServerData *data)
{
    BerTLV *sequence = berTLV_extractTagUInt8(0x30, data->_smdpSigned2.val, data->_smdpSigned2.len, NULL);
    if (sequence == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Unable to extract TLV from SmdpSigned2 item !");
        return false;
    }
    BerTLVListNode *list = berTLV_extractList(sequence->value, sequence->length, NULL);
    berTLV_freeBerTLV(sequence);
    if (list == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Unable to extract TLVs from SmdpSigned2 item !");
        return false;
    }
    size_t count = 0;
    for (const BerTLVListNode *node = list; node != NULL; node = node->next) {
        ++count;
    }
    if (count < 2) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "one or more TLV missing on SmdpSigned2 item !");
        berTLV_freeBerTLVList(list);
        return false;
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "Smdp2 contains %d TLV => extracting data ...", (int)count);
    static const char *const extracted[] = {"Smdp2 -> transactionId extracted ", "Smdp2 -> ccRequiredFlag extracted ",
                                            "Smdp2 -> bppEuiccOtpk extracted"};
    static const char *const labels[] = {"TLV transactionId", "TLV ccRequiredFlag", "TLV bppEuiccOtpk"};
    const BerTLVListNode *node = list;
    for (size_t i = 0; i < 3 && node != NULL; ++i, node = node->next) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "%s", extracted[i]);
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "Data extracted from SmdpSigned2");
    node = list;
    for (size_t i = 0; i < 3 && node != NULL; ++i, node = node->next) {
        lpaCoreLogHexDump(LPA_LOG_LEVEL_DEB, NULL, labels[i], node->tlv->value, node->tlv->length);
    }
    berTLV_freeBerTLVList(list);
    return true;
}

RawDataObject *_prepareDownloadTlv(const TServerData *data, const char *hashCcHex)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "_prepareDownloadTlv() ...");
    if (data == NULL || hashCcHex == NULL || !_fieldPresent(&data->_smdpSigned2) ||
        !_fieldPresent(&data->_smdpSignature2) || !_fieldPresent(&data->_smdpCertificate)) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Incorrect parameter(s) !");
        return NULL;
    }
    RawDataObject *content = rawDataObject_allocate();
    if (content == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Unable to allocate ptrRawData !");
        lpaSetLastErrorCode(LPA_ERROR_INSUFFICIENT_BUFFER);
        return NULL;
    }
    bool updated = rawDataObject_appendRawDataArray(content, data->_smdpSigned2.val, data->_smdpSigned2.len) &&
                   rawDataObject_appendRawDataArray(content, data->_smdpSignature2.val, data->_smdpSignature2.len);
    if (updated && strlen(hashCcHex) == HASH_CC_TEXT_LENGTH) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "Confirmation Code hash with correct length provided, adding hashCc TLV.");
        uint8_t hashCc[2 + HASH_CC_SIZE] = {0x04, HASH_CC_SIZE};
        size_t converted = HASH_CC_SIZE;
        updated = hexStr2ByteArray(hashCcHex, HASH_CC_TEXT_LENGTH, hashCc + 2, &converted) &&
                  converted == HASH_CC_SIZE && rawDataObject_appendRawDataArray(content, hashCc, sizeof(hashCc));
    } else if (updated) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "Confirmation Code hash empty or incorrect length, hashCc TLV not added.");
    }
    updated = updated &&
              rawDataObject_appendRawDataArray(content, data->_smdpCertificate.val, data->_smdpCertificate.len);
    if (!updated) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Error when updating ptrRawData !");
        rawDataObject_free(content);
        return NULL;
    }
    if (content->length > ES10B_PREPARE_DOWNLOAD_CONTENT_MAX) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "ptrPrepareDownloadTlv out of bounds: %d needed, %d max allowed",
                   (int)content->length, (int)ES10B_PREPARE_DOWNLOAD_CONTENT_MAX);
        lpaSetLastErrorCode(LPA_ERROR_INSUFFICIENT_BUFFER);
        rawDataObject_free(content);
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "_prepareDownloadTlv() return %s", lpaBoolText(false));
        return NULL;
    }
    RawDataObject *request = berTLV_createAndBuildRawDataObject(TAG_PREPARE_DOWNLOAD, content->length, content->data);
    rawDataObject_free(content);
    if (request == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Unable to allocate ptrPrepareDownloadTlv or incorrect length !");
        lpaSetLastErrorCode(LPA_ERROR_INSUFFICIENT_BUFFER);
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "_prepareDownloadTlv() return %s", lpaBoolText(false));
        return NULL;
    }
    lpaManagerLogHexDumpTitled(LPA_LOG_LEVEL_DEB, "PrepareDownloadRequest", request->data, request->length,
                               "_prepareDownloadTlv() => request generated (%u bytes) : ...",
                               (unsigned)request->length);
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "_prepareDownloadTlv() return %s", lpaBoolText(true));
    return request;
}

static bool _isValidPrepareDownloadResponse(const uint8_t *data, size_t length)
{
    static const OkOrErrorAnswer texts = {
        TAG_PREPARE_DOWNLOAD, "_isValidPrepareDownloadResponse()...",
        "Invalid parameter or given data size out of bounds!", "Tag BF21 not found !", "<BF21> tag present ",
        "%d tag present inside BF21", "Only one tag must be present inside BF21 !", "downloadResponseOk detected",
        "downloadResponseError detected", "Invalid downloadResponse Tag !"};
    return _isValidOkOrErrorAnswer(data, length, &texts);
}

bool lpaManagerES10b_PrepareDownload(const TServerData *data, const char *hashCcHex, TRawDataPair *response)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "lpaManagerES10b_PrepareDownload...");
    if (data == NULL || hashCcHex == NULL || response == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Invalid parameter!");
        lpaSetLastErrorCode(LPA_ERROR_INVALID_PARAMETER);
        return false;
    }
    lpaManagerFreeRawDataPair(response);
    if (!_fieldPresent(&data->_smdpSigned2)) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Invalid server data!");
        return false;
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "Extracting data from SmdpSigned2 ...");
    if (!_extractDataFromSmdpSigned2(data)) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "unable to extract data from SmdpSigned2 !");
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Failed to prepare download TLV!");
        return false;
    }
    RawDataObject *request = _prepareDownloadTlv(data, hashCcHex);
    if (request == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Failed to prepare download TLV!");
        return false;
    }
    if (request->length == 0) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Incorrect prepare download TLV data!");
        rawDataObject_free(request);
        return false;
    }
    return _sendAndStoreAnswer(request, LPA_ERROR_INVALID_PREPARE_DOWNLOAD_RESPONSE, _isValidPrepareDownloadResponse,
                               "PrepareDownload response does not contain downloadResponseOk !", response);
}

/* ------------------------------------------------------------------------
 * CancelSession
 * ------------------------------------------------------------------------ */

static bool _isCancelSessionReason(int32_t reason)
{
    return (reason >= ES10B_CANCEL_REASON_END_USER_REJECTION && reason <= ES10B_CANCEL_REASON_LOAD_BPP_EXECUTION_ERROR) ||
           reason == ES10B_CANCEL_REASON_UNDEFINED;
}

RawDataObject *_prepareCancelSessionTlv(const char *transactionId, int32_t reason)
{
    size_t length = transactionId != NULL ? strlen(transactionId) : 0;
    if (length == 0 || length >= ES9_TRANSACTION_ID_CAPACITY || reason < 0 || reason > 0xFF) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "_prepareCancelSessionTlv: Invalid TransactionID or reasonCode");
        return NULL;
    }
    uint8_t id[TRANSACTION_ID_SIZE];
    size_t converted = sizeof(id);
    size_t hexLength = length < 2 * TRANSACTION_ID_SIZE ? length : 2 * TRANSACTION_ID_SIZE;
    if (!hexStr2ByteArray(transactionId, hexLength, id, &converted) || converted != TRANSACTION_ID_SIZE) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "_prepareCancelSessionTlv: Cannot convert TransactionID in hex.");
        return NULL;
    }
    RawDataObject *first = berTLV_createAndBuildRawDataObject(0x80, sizeof(id), id);
    if (first == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "_prepareCancelSessionTlv: TLV objects creation step #1 problem");
        return NULL;
    }
    uint8_t reasonByte = (uint8_t)reason;
    RawDataObject *second = berTLV_createAndBuildRawDataObject(0x81, 1, &reasonByte);
    if (second == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "_prepareCancelSessionTlv: TLV objects creation step #2 problem");
        rawDataObject_free(first);
        return NULL;
    }
    RawDataObject *content = rawDataObject_concat(first, second);
    RawDataObject *request = NULL;
    if (content != NULL) {
        request = berTLV_createAndBuildRawDataObject(TAG_CANCEL_SESSION, content->length, content->data);
    }
    if (request == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "_prepareCancelSessionTlv: TLV objects creation step #3 problem");
    }
    rawDataObject_free(content);
    rawDataObject_free(second);
    rawDataObject_free(first);
    return request;
}

static bool _isValidCancelSessionResponse(const uint8_t *data, size_t length)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "_isValidCancelSessionResponse()...");
    BerTLV *outer = berTLV_extractTagUInt16(TAG_CANCEL_SESSION, data, length, NULL);
    if (outer == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "_isValidCancelSessionResponse: <BF41> tag not present");
        return false;
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "_isValidCancelSessionResponse: <BF41> tag present");
    BerTLV *ok = NULL;
    if (outer->length >= 2) {
        ok = berTLV_extractTagUInt8(0xA0, outer->value, outer->length, NULL);
    }
    bool valid = ok != NULL;
    if (valid) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "_isValidCancelSessionResponse: <A0> tag present, cancelSessionResponseOk detected.");
    } else {
        lpaCoreLog(LPA_LOG_LEVEL_ERR,
                   "_isValidCancelSessionResponse: <A0> tag not present or cancelSessionResponseError encountered");
    }
    berTLV_freeBerTLV(ok);
    berTLV_freeBerTLV(outer);
    return valid;
}

bool lpaManagerES10b_CancelSession(const char *transactionId, int32_t reason, TCancelSessionResponse *response)
{
    if (transactionId == NULL || response == NULL || !_isCancelSessionReason(reason)) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Cancel Session ES10B: Incorrect parameter detected");
        return false;
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "Cancel Session ES10B...");
    RawDataObject *request = _prepareCancelSessionTlv(transactionId, reason);
    if (request == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Cancel Session ES10B: Failed to generate command request.");
        return false;
    }
    uint16_t sw = 0;
    size_t length = 0;
    bool sent = _sendEs10Request(request, &sw, &length);
    rawDataObject_free(request);
    if (!sent) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Cancel Session ES10B: Failed to execute command request.");
        return false;
    }
    if (!lpaManagerES10IsSuccessfulSW(sw)) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Cancel Session ES10B: Incorrect status word reported by card : %X", (unsigned)sw);
        return false;
    }
    if (length == 0 || length > sizeof(response->response)) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Cancel Session ES10B: Response from eUICC out of bounds.");
        return false;
    }
    memcpy(response->response, lpaManagerES10ResponseBuffer, length);
    response->length = length;
    response->ok = 0;
    if (!_isValidCancelSessionResponse(response->response, length)) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Cancel Session ES10B: Did not returned cancelSessionResponseOk.");
        return false;
    }
    response->ok = 1;
    char hex[2 * ES10B_CANCEL_SESSION_RESPONSE_MAX + 1];
    byteArray2HexStr(response->response, length, hex, sizeof(hex));
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "Cancel Session ES10B: Returned cancelSessionResponse: %s", hex);
    return true;
}

/* ------------------------------------------------------------------------
 * GetRAT
 * ------------------------------------------------------------------------ */

bool lpaManagerES10b_GetRAT(RawDataObject **rat)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "lpaManagerES10b_GetRAT() ...");
    if (rat == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Invalid parameter!");
        lpaSetLastErrorCode(LPA_ERROR_INVALID_PARAMETER);
        return false;
    }
    rawDataObject_free(*rat);
    *rat = NULL;
    bool result = false;
    RawDataObject *request = _emptyRequest(TAG_GET_RAT);
    if (request == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Failed to create RawDataObject to build GetRAT request!");
        lpaSetLastErrorCode(LPA_ERROR_INSUFFICIENT_BUFFER);
    } else {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "Do buildAndSendStoreDataCase4(GetRAT) ...");
        uint16_t sw = 0;
        size_t length = 0;
        bool sent = _sendEs10Request(request, &sw, &length);
        rawDataObject_free(request);
        if (!sent) {
            lpaCoreLog(LPA_LOG_LEVEL_ERR, "GetRAT request execution failed!");
            lpaSetLastErrorCode(LPA_ERROR_INVALID_GET_RAT);
        } else if (!lpaManagerES10IsSuccessfulSW(sw)) {
            lpaCoreLog(LPA_LOG_LEVEL_ERR, "Invalid response Status Word!");
            lpaSetLastErrorCode(LPA_ERROR_INVALID_SW);
        } else {
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "SW=90.00 or 91.xx => Extracting data");
            if (length < ES10B_RAT_MIN || length > ES10B_RAT_MAX) {
                lpaCoreLog(LPA_LOG_LEVEL_ERR,
                           "No response data available or response length out of bounds (5 to %d)! Returned size = %d",
                           (int)ES10B_RAT_MAX, (int)length);
                lpaSetLastErrorCode(LPA_ERROR_INVALID_GET_RAT);
            } else if ((*rat = rawDataObject_create(lpaManagerES10ResponseBuffer, length)) == NULL) {
                lpaCoreLog(LPA_LOG_LEVEL_ERR, "Failed to create RawDataObject for RAT storage!");
                lpaSetLastErrorCode(LPA_ERROR_INSUFFICIENT_BUFFER);
            } else {
                lpaCoreLog(LPA_LOG_LEVEL_DEB, "PPR data found, %d bytes length", (int)length);
                result = true;
            }
        }
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "lpaManagerES10b_GetRAT() return %s", lpaBoolText(result));
    return result;
}

/* One ES10 request into the engine's response buffer. */
bool lpaManagerES10Exchange(const RawDataObject *request, uint16_t *sw, size_t *length)
{
    *sw = 0;
    *length = 0;
    return buildAndSendStoreDataCase4(request, sw, lpaManagerES10ResponseBuffer, sizeof(lpaManagerES10ResponseBuffer),
                                      length);
}

/* A request of one tag around a 80 TLV holding a sequence number (a DER
 * INTEGER), wrapped in A0 when wrapA0 is set. */
