#include "server/es9plus_client.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "codec/lpa_base64.h"
#include "runtime/lpa_hex.h"
#include "runtime/lpa_core_log.h"
#include "runtime/lpa_core_memory.h"
#include "runtime/lpa_error_internal.h"
#include "server/lpa_httpmedia.h"
#include "runtime/lpa_manager_config.h"
#include "runtime/lpa_string.h"

/* Longest address + path a function accepts (the buffer keeps its NUL). */
#define ES9_ADDRESS_AND_PATH_MAX (ES9_ADDRESS_BUFFER_SIZE - 1)
#define ES9_URL_SCHEME "https://"
/* Decoded values up to this size are logged as one hex line. */
#define ES9_HEX_LINE_MAX 511

static const char *const _executedSuccess = "Executed-Success";


/* ------------------------------------------------------------------------
 * Events
 * ------------------------------------------------------------------------ */

static bool _hasExecutionErrorCallback(const LpaDownloadCallbacks *callbacks)
{
    return callbacks != NULL && callbacks->executionError != NULL;
}

void _sendHttpErrorNotification(const LpaDownloadCallbacks *callbacks, const char *text)
{
    if (!_hasExecutionErrorCallback(callbacks) || text == NULL) {
        return;
    }
    lpaCoreLog(LPA_LOG_LEVEL_INF, "Creating Callback Notification Error for http...");
    LpaEventExecutionError event;
    event.source = LPA_EXECUTION_ERROR_SOURCE_HTTP_STATUS;
    event.presentFields = LPA_EXECUTION_ERROR_FIELD_TEXT;
    event.subjectCode = NULL;
    event.reasonCode = NULL;
    event.text = text;
    lpaCoreLog(LPA_LOG_LEVEL_INF, "Sending Callback Notification Error to LPA application ...");
    callbacks->executionError(callbacks->userData, &event);
}

/* Formats an event text into the engine-wide buffer and sends it. */
static void _sendHttpErrorNotificationf(const LpaDownloadCallbacks *callbacks, const char *format, ...)
    LPA_PRINTF_FORMAT(2, 3);

static void _sendHttpErrorNotificationf(const LpaDownloadCallbacks *callbacks, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    vsnprintf(lpaManagerEventText, sizeof(lpaManagerEventText), format, args);
    va_end(args);
    _sendHttpErrorNotification(callbacks, lpaManagerEventText);
}

bool _checkJSONresponseStatusSuccessful(const cJSON *answer, const LpaDownloadCallbacks *callbacks)
{
    if (answer == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "_checkJSONresponseStatusSuccessful(): Passed JSON object NULL !");
        return false;
    }
    const cJSON *header = cJSON_GetObjectItem(answer, "header");
    if (header == NULL) {
        if (cJSON_GetObjectItem(answer, "eventEntries") != NULL) {
            lpaCoreLog(LPA_LOG_LEVEL_INF, "_checkJSONresponseStatusSuccessful(): eventEntries found => OK");
            return true;
        }
        lpaCoreLog(LPA_LOG_LEVEL_INF, "_checkJSONresponseStatusSuccessful(): No header");
        return false;
    }
    const cJSON *executionStatus = cJSON_GetObjectItem(header, "functionExecutionStatus");
    if (executionStatus == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_INF, "_checkJSONresponseStatusSuccessful(): No functionExecutionStatus");
        return false;
    }
    const cJSON *status = cJSON_GetObjectItem(executionStatus, "status");
    if (status == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_INF, "no Status");
        return false;
    }
    const char *statusText = cJSON_GetStringValue(status);
    if (statusText == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR,
                   "_checkJSONresponseStatusSuccessful(): \"status\" value string cannot be retrieved.");
        return false;
    }
    lpaCoreLog(LPA_LOG_LEVEL_INF, "_checkJSONresponseStatusSuccessful(): status : %s ", statusText);
    bool success = compareEqualStringIgnoringCase(statusText, _executedSuccess);

    const cJSON *statusCodeData = cJSON_GetObjectItem(executionStatus, "statusCodeData");
    if (statusCodeData != NULL) {
        const char *subjectCode = cJSON_GetStringValue(cJSON_GetObjectItem(statusCodeData, "subjectCode"));
        const char *reasonCode = cJSON_GetStringValue(cJSON_GetObjectItem(statusCodeData, "reasonCode"));
        lpaCoreLog(LPA_LOG_LEVEL_INF, "_checkJSONresponseStatusSuccessful(): subjectCode: %s reasonCode : %s",
                   subjectCode != NULL ? subjectCode : "N/A", reasonCode != NULL ? reasonCode : "N/A");
        if (_hasExecutionErrorCallback(callbacks) && (subjectCode != NULL || reasonCode != NULL)) {
            lpaCoreLog(LPA_LOG_LEVEL_INF, "Creating Notification Error ...");
            LpaEventExecutionError event;
            event.source = LPA_EXECUTION_ERROR_SOURCE_SERVER_STATUS;
            event.presentFields = (subjectCode != NULL ? LPA_EXECUTION_ERROR_FIELD_SUBJECT_CODE : 0) |
                                  (reasonCode != NULL ? LPA_EXECUTION_ERROR_FIELD_REASON_CODE : 0);
            event.subjectCode = subjectCode;
            event.reasonCode = reasonCode;
            event.text = NULL;
            lpaCoreLog(LPA_LOG_LEVEL_INF, "Sending Notification Error to LPA application ...");
            callbacks->executionError(callbacks->userData, &event);
        }
    }
    return success;
}

/* ------------------------------------------------------------------------
 * The exchange
 * ------------------------------------------------------------------------ */

bool _convertHostURLtoLowerCase(const char *addressAndPath, char *out, size_t outSize)
{
    if (addressAndPath == NULL || out == NULL || outSize == 0) {
        return false;
    }
    out[0] = '\0';
    size_t length = strlen(addressAndPath);
    if (length >= outSize) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "_convertHostURLtoLowerCase: Destination buffer too small.");
        return false;
    }
    const char *slash = strchr(addressAndPath, '/');
    if (slash == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "_convertHostURLtoLowerCase: Only host URL detected.");
        return false;
    }
    size_t hostLength = (size_t)(slash - addressAndPath);
    for (size_t i = 0; i < hostLength; ++i) {
        char c = addressAndPath[i];
        out[i] = (c >= 'A' && c <= 'Z') ? (char)(c - 'A' + 'a') : c;
    }
    memcpy(out + hostLength, slash, length - hostLength + 1);
    return true;
}

/* The HTTP status policy: records the code and sends the event of the row. */
static const char *_applyHttpStatusPolicy(const char *answer, bool exchangeDone, int32_t httpCode,
                                          const LpaDownloadCallbacks *callbacks)
{
    if (exchangeDone) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "Server return HTTP status code %d", (int)httpCode);
        if (httpCode == 200 && answer != NULL) {
            return answer;
        }
        if (httpCode == 204) {
            return NULL;
        }
        if (httpCode == 404) {
            lpaSetLastErrorCode(LPA_ERROR_SERVER_RETURN_404_STATUS_CODE);
            _sendHttpErrorNotification(callbacks, "http error: Server returned code 404");
            return NULL;
        }
        if (httpCode == 500) {
            lpaSetLastErrorCode(LPA_ERROR_SERVER_RETURN_500_STATUS_CODE);
            _sendHttpErrorNotification(callbacks, "http error: Server returned code 500");
            return NULL;
        }
        lpaSetLastErrorCode(LPA_ERROR_SERVER_COMMUNICATION_ISSUE);
        _sendHttpErrorNotificationf(callbacks, "http error: Server returned code %ld", (long)httpCode);
        return (httpCode >= 200 && httpCode <= 299) ? answer : NULL;
    }
    lpaSetLastErrorCode(LPA_ERROR_SERVER_COMMUNICATION_ISSUE);
    if (httpCode == 200) {
        _sendHttpErrorNotification(callbacks, "http error: Server returned code 200 without data");
    } else if (httpCode <= 0) {
        _sendHttpErrorNotification(callbacks, "http error: Communication issue");
    } else {
        _sendHttpErrorNotificationf(callbacks, "http error: Communication issue. http code returned: %ld",
                                    (long)httpCode);
    }
    return NULL;
}

const char *lpaManagerES9Plus_ExecutePost(const char *addressAndPath, const char *body, bool *exchangeDone,
                                          int32_t *httpCode, const LpaDownloadCallbacks *callbacks)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "++ lpaManagerES9Plus_ExecutePost()");
    if (addressAndPath == NULL || body == NULL || exchangeDone == NULL || httpCode == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "One or more input parameter not defined !");
        lpaSetLastErrorCode(LPA_ERROR_INVALID_PARAMETER);
        return NULL;
    }
    *exchangeDone = false;
    *httpCode = 0;

    char lowerCase[ES9_ADDRESS_BUFFER_SIZE];
    char url[ES9_ADDRESS_BUFFER_SIZE];
    url[0] = '\0';
    if (!_convertHostURLtoLowerCase(addressAndPath, lowerCase, sizeof(lowerCase))) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "Cannot convert target host URL to lowercase!");
    } else if (sizeof(ES9_URL_SCHEME) - 1 + strlen(lowerCase) >= sizeof(url)) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "Buffer too small for building https URL !");
    } else {
        memcpy(url, ES9_URL_SCHEME, sizeof(ES9_URL_SCHEME) - 1);
        memcpy(url + sizeof(ES9_URL_SCHEME) - 1, lowerCase, strlen(lowerCase) + 1);
    }

    bool initialized = false;
    if (url[0] == '\0') {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "urlStr: Empty!");
        lpaSetLastErrorCode(LPA_ERROR_INVALID_SERVER_ADDRESS);
    } else {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "urlStr:%s", url);
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "start to set opt data...");
        initialized = httpMediaManagerHttpExecuteInit();
    }
    if (!initialized) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "httpMediaManagerHttpExectueInit failed!");
        lpaSetLastErrorCode(LPA_ERROR_UNABLE_TO_INITIALIZE_HTTP_MEDIA);
        _sendHttpErrorNotification(callbacks, "http error: Cannot initialize http media or problem with target URL");
        return NULL;
    }

    const char *answer = NULL;
    if (!httpMediaManagerPost(lpaManagerGetCertPath(), url, body, httpCode)) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "httpMediaPost() failed");
    } else {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "httpMediaPost() execute success");
        if (*httpCode < 200 || *httpCode > 299) {
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "Not HTTP Code 2xx => data not managed (if present)");
            *exchangeDone = true;
        } else if (*httpCode == 204) {
            lpaCoreLog(LPA_LOG_LEVEL_DEB,
                       "HTTP Code 204 => no data expected (calling httpMediaGetBufferResponse() is ignored)");
            *exchangeDone = true;
        } else {
            answer = httpMediaGetBufferResponse();
            if (answer != NULL) {
                *exchangeDone = true;
            } else {
                lpaCoreLog(LPA_LOG_LEVEL_WAR, "httpMediaGetBufferResponse() return NULL");
            }
        }
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "-- httpMediaManagerHTTPExecutePost() : return res %s",
               answer != NULL ? "not NULL" : "NULL");
    return _applyHttpStatusPolicy(answer, *exchangeDone, *httpCode, callbacks);
}

/* ------------------------------------------------------------------------
 * Shared steps of the functions
 * ------------------------------------------------------------------------ */

/* A printed request with the given keys and values (count pairs), or NULL
 * (*created false when the object itself could not be made). The text is
 * released with cJSON_free. */
static char *_printRequest(const char *const *keys, const char *const *values, size_t count, bool *created)
{
    *created = false;
    cJSON *object = cJSON_CreateObject();
    if (object == NULL) {
        return NULL;
    }
    for (size_t i = 0; i < count; ++i) {
        if (cJSON_AddStringToObject(object, keys[i], values[i]) == NULL) {
            cJSON_Delete(object);
            return NULL;
        }
    }
    *created = true;
    char *text = cJSON_Print(object);
    cJSON_Delete(object);
    if (text != NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, ">>  HTTP request %s", text);
    }
    return text;
}

/* address + path into a zeroed buffer when their length is at most 254. */
static bool _buildAddressAndPath(const char *address, size_t addressLength, const char *path, char *out)
{
    size_t pathLength = strlen(path);
    memset(out, 0, ES9_ADDRESS_BUFFER_SIZE);
    if (addressLength + pathLength > ES9_ADDRESS_AND_PATH_MAX) {
        return false;
    }
    if (addressLength > 0) {
        memcpy(out, address, addressLength);
    }
    memcpy(out + addressLength, path, pathLength);
    return true;
}

static bool _isHostNameCharacter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_';
}

/* ":port" with a port of 1 to 65535, or nothing. */
static bool _isValidPortSuffix(const char *text, size_t length)
{
    if (length == 0) {
        return true;
    }
    if (text[0] != ':' || length < 2 || length > 6) {
        return false;
    }
    unsigned long port = 0;
    for (size_t i = 1; i < length; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
        port = port * 10 + (unsigned long)(text[i] - '0');
    }
    return port >= 1 && port <= 65535;
}

/* A server address is a host name or IPv4 literal, or an IPv6 literal in
 * brackets, with an optional ":port"; nothing that could change the path,
 * query, user or scheme of the URL it is joined into. */
static bool _isValidServerAddress(const char *address, size_t length)
{
    size_t hostEnd = 0;
    if (length > 0 && address[0] == '[') {
        bool colon = false;
        for (hostEnd = 1; hostEnd < length && address[hostEnd] != ']'; ++hostEnd) {
            char c = address[hostEnd];
            bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
            if (!hex && c != ':' && c != '.') {
                return false;
            }
            colon = colon || c == ':';
        }
        if (hostEnd >= length || !colon) {
            return false;
        }
        ++hostEnd; /* the closing bracket */
    } else {
        while (hostEnd < length && _isHostNameCharacter(address[hostEnd])) {
            ++hostEnd;
        }
        if (hostEnd == 0) {
            return false;
        }
    }
    return _isValidPortSuffix(address + hostEnd, length - hostEnd);
}

/* How far _postRequest came. */
typedef enum Es9PostOutcome {
    ES9_POSTED,
    ES9_NO_OBJECT,          /* the JSON object could not be made */
    ES9_NOT_PRINTED,        /* the object could not be printed */
    ES9_ADDRESS_TOO_LONG,   /* address + path over 254 characters */
    ES9_ADDRESS_INVALID     /* not a host with an optional port */
} Es9PostOutcome;

/* Refuses an address that is not a host with an optional port. */
static void _refuseInvalidAddress(void)
{
    lpaCoreLog(LPA_LOG_LEVEL_WAR, "Server address refused: not a host name with an optional port");
    lpaSetLastErrorCode(LPA_ERROR_INVALID_SERVER_ADDRESS);
}

/* Reports a request that was not sent: the JSON body could not be made
 * (insufficient buffer), or the address did not fit (addressText at
 * addressLevel, and addressCode when it is not 0). Answers whether the
 * request was refused. */
static bool _postRefused(Es9PostOutcome outcome, int32_t addressLevel, const char *addressText, uint32_t addressCode)
{
    if (outcome == ES9_ADDRESS_INVALID) {
        _refuseInvalidAddress();
        return true;
    }
    if (outcome == ES9_NO_OBJECT || outcome == ES9_NOT_PRINTED) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Cannot create JSON object jsonObject!");
        lpaSetLastErrorCode(LPA_ERROR_INSUFFICIENT_BUFFER);
        return true;
    }
    if (outcome == ES9_ADDRESS_TOO_LONG) {
        lpaCoreLog(addressLevel, "%s", addressText);
        if (addressCode != 0) {
            lpaSetLastErrorCode(addressCode);
        }
        return true;
    }
    return false;
}

/* One function's exchange: the request's keys and values, the target, and
 * what the post gave back (the answer belongs to the HTTP media). */
typedef struct Es9Exchange {
    const char *const *keys;
    const char *const *values;
    size_t count;
    const char *address;
    size_t addressLength;
    const char *path;
    bool exchangeDone;
    int32_t httpCode;
    const char *answer;
} Es9Exchange;

/* An exchange of the request keys[i] = values[i] with address + path,
 * nothing posted yet. */
template <size_t N>
static Es9Exchange _exchangeWith(const char *const (&keys)[N], const char *const (&values)[N], const char *address,
                                 size_t addressLength, const char *path)
{
    Es9Exchange exchange;
    memset(&exchange, 0, sizeof(exchange));
    exchange.keys = keys;
    exchange.values = values;
    exchange.count = N;
    exchange.address = address;
    exchange.addressLength = addressLength;
    exchange.path = path;
    return exchange;
}

/* Prints the request, builds address + path and posts. The caller cleans
 * up the HTTP media after a post. */
static Es9PostOutcome _postRequest(Es9Exchange *exchange, const LpaDownloadCallbacks *callbacks)
{
    exchange->exchangeDone = false;
    exchange->httpCode = 0;
    exchange->answer = NULL;
    if (!_isValidServerAddress(exchange->address, exchange->addressLength)) {
        return ES9_ADDRESS_INVALID;
    }
    bool created = false;
    char *request = _printRequest(exchange->keys, exchange->values, exchange->count, &created);
    if (request == NULL) {
        return created ? ES9_NOT_PRINTED : ES9_NO_OBJECT;
    }
    char addressAndPath[ES9_ADDRESS_BUFFER_SIZE];
    if (!_buildAddressAndPath(exchange->address, exchange->addressLength, exchange->path, addressAndPath)) {
        cJSON_free(request);
        return ES9_ADDRESS_TOO_LONG;
    }
    exchange->answer = lpaManagerES9Plus_ExecutePost(addressAndPath, request, &exchange->exchangeDone,
                                                     &exchange->httpCode, callbacks);
    cJSON_free(request);
    return ES9_POSTED;
}

static cJSON *_parseAnswer(const char *answer)
{
    return cJSON_ParseWithLength(answer, strlen(answer));
}

/* After a post: no answer (or, when needed, no finished exchange) is a
 * communication error; else the HTTP code and the answer are logged, the
 * answer parsed and the HTTP media cleaned up. NULL on failure, with the
 * code recorded. answerTitle is a format for the answer text, or the title
 * of a text dump when dumped is set. */
static cJSON *_parsePostedAnswer(const Es9Exchange *exchange, bool needExchangeDone, const char *httpCodeFormat,
                                 const char *answerTitle, bool dumped)
{
    if (exchange->answer == NULL || (needExchangeDone && !exchange->exchangeDone)) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "Server communication error detected!");
        lpaSetLastErrorCode(LPA_ERROR_SERVER_COMMUNICATION_ISSUE);
        httpMediaHttpExectueCleanup();
        return NULL;
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, httpCodeFormat, (int)exchange->httpCode);
    if (dumped) {
        lpaCoreLogText(LPA_LOG_LEVEL_DEB, answerTitle, exchange->answer, strlen(exchange->answer));
    } else {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, answerTitle, exchange->answer);
    }
    cJSON *json = _parseAnswer(exchange->answer);
    httpMediaHttpExectueCleanup();
    if (json == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "json pack into cjson error...");
        lpaSetLastErrorCode(LPA_ERROR_CJSON_PARSE_FAILURE);
    }
    return json;
}

/* Makes sure the field has a zeroed buffer of capacity bytes. A buffer that
 * is already there is reused when reuse is set, else replaced. */
static bool _prepareField(TDataValue *field, size_t capacity, bool reuse)
{
    field->len = 0;
    if (field->val != NULL && !reuse) {
        LPA_FREE(field->val);
        field->val = NULL;
    }
    if (field->val == NULL) {
        field->val = (uint8_t *)LPA_MALLOC(capacity);
        if (field->val == NULL) {
            return false;
        }
    }
    memset(field->val, 0, capacity);
    return true;
}

static void _logDecodedField(const char *name, const TDataValue *field)
{
    lpaManagerLogHexDumpTitled(LPA_LOG_LEVEL_DEB, name, field->val, field->len, "%s (%u bytes) :", name,
                               (unsigned)field->len);
}

/* ------------------------------------------------------------------------
 * initiateAuthentication
 * ------------------------------------------------------------------------ */

typedef struct InitiateAuthenticationField {
    const char *key;
    const char *fieldName;
    size_t capacity;
    uint32_t code;
    int32_t missingLevel;
} InitiateAuthenticationField;

static bool _extractInitiateAuthenticationField(const cJSON *answer, const InitiateAuthenticationField *rule,
                                                TDataValue *field)
{
    field->len = 0;
    const char *text = cJSON_GetStringValue(cJSON_GetObjectItem(answer, rule->key));
    if (text == NULL) {
        lpaCoreLog(rule->missingLevel, "Failed to get %s from server", rule->key);
        lpaSetLastErrorCode(rule->code);
        return false;
    }
    size_t length = strlen(text);
    size_t needed = (length / 4) * 3 + 1;
    if (needed >= rule->capacity) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR,
                   "%s size exceeds maximum allowed (Current size needed:%d - Maximum size allowed:%d)!",
                   rule->fieldName, (int)needed, (int)(rule->capacity - 1));
        lpaSetLastErrorCode(LPA_ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    if (!_prepareField(field, rule->capacity, false)) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Cannot allocate memory for %s !", rule->fieldName);
        lpaSetLastErrorCode(LPA_ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    size_t decoded = 0;
    if (!decodeBase64(text, length, field->val, &decoded, rule->capacity)) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Failed to decode %s from base64 !", rule->key);
        lpaSetLastErrorCode(rule->code);
        return false;
    }
    field->len = decoded;
    _logDecodedField(rule->fieldName, field);
    return true;
}

static bool _extractTransactionIdText(const cJSON *answer, TDataValue *field)
{
    field->len = 0;
    const char *text = cJSON_GetStringValue(cJSON_GetObjectItem(answer, "transactionId"));
    size_t length = text != NULL ? strlen(text) : 0;
    if (length == 0 || length >= ES9_TRANSACTION_ID_CAPACITY) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Failed to get transactionId from server");
        lpaSetLastErrorCode(LPA_ERROR_INVALID_TRANSACTIONID);
        return false;
    }
    if (!_prepareField(field, ES9_TRANSACTION_ID_CAPACITY, true)) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Cannot to allocate memory for transactionId");
        lpaSetLastErrorCode(LPA_ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    memcpy(field->val, text, length);
    field->len = length;
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "transactionId : %s ", text);
    return true;
}

bool lpaManagerES9Plus_InitiateAuthentication(TServerData *data, const LpaDownloadCallbacks *callbacks,
                                              const char *euiccChallengeBase64, const char *euiccInfo1Base64,
                                              const char *serverAddress)
{
    if (data == NULL || euiccChallengeBase64 == NULL || euiccInfo1Base64 == NULL || serverAddress == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "initiateAuthentication() - Invalid parameter");
        lpaSetLastErrorCode(LPA_ERROR_INVALID_PARAMETER);
        return false;
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "lpaManagerES9Plus_InitiateAuthentication ...");
    static const char *const keys[] = {"euiccInfo1", "euiccChallenge", "smdpAddress"};
    const char *values[] = {euiccInfo1Base64, euiccChallengeBase64, serverAddress};
    Es9Exchange exchange = _exchangeWith(keys, values, serverAddress, strlen(serverAddress),
                                         ES9_PATH_INITIATE_AUTHENTICATION);
    Es9PostOutcome outcome = _postRequest(&exchange, callbacks);
    if (_postRefused(outcome, LPA_LOG_LEVEL_WAR, "Invalid address", LPA_ERROR_INVALID_SERVER_ADDRESS)) {
        return false;
    }
    cJSON *json = _parsePostedAnswer(&exchange, true, "initiateAuthentication() => HTTP Request return httpCode=%d",
                                     "<<  HTTP response %s", false);
    if (json == NULL) {
        return false;
    }
    bool result = false;
    if (_checkJSONresponseStatusSuccessful(json, callbacks) && _extractTransactionIdText(json, &data->_transactionId)) {
        static const InitiateAuthenticationField fields[] = {
            {"serverSigned1", "_serverSigned1", ES9_SERVER_SIGNED1_CAPACITY, LPA_ERROR_INVALID_SERVERSIGNED1,
             LPA_LOG_LEVEL_ERR},
            {"serverSignature1", "_serverSignature1", ES9_SERVER_SIGNATURE1_CAPACITY,
             LPA_ERROR_INVALID_SERVERSIGNATURE1, LPA_LOG_LEVEL_ERR},
            {"euiccCiPKIdToBeUsed", "_euiccCiPKIdToBeUsed", ES9_EUICC_CI_PKID_CAPACITY,
             LPA_ERROR_INVALID_EUICCCIPKIDTOBEUSED, LPA_LOG_LEVEL_ERR},
            {"serverCertificate", "_serverCertificate", ES9_SERVER_CERTIFICATE_CAPACITY,
             LPA_ERROR_INVALID_SERVERCERTIFICATE, LPA_LOG_LEVEL_WAR},
        };
        TDataValue *targets[] = {&data->_serverSigned1, &data->_serverSignature1, &data->_euiccCiPKIdToBeUsed,
                                 &data->_serverCertificate};
        result = true;
        for (size_t i = 0; i < 4 && result; ++i) {
            result = _extractInitiateAuthenticationField(json, &fields[i], targets[i]);
        }
    }
    cJSON_Delete(json);
    return result;
}

/* ------------------------------------------------------------------------
 * authenticateClient
 * ------------------------------------------------------------------------ */

/* Posts the request; the answer (media-owned) or NULL with *error set. */
static const char *_lpaManagerAuthenticateClientSendRequest(const char *transactionId, const char *serverAddress,
                                                            const char *authenticateServerResponseBase64,
                                                            const LpaDownloadCallbacks *callbacks,
                                                            uint32_t *error)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "_lpaManagerAuthenticateClientSendRequest ...");
    static const char *const keys[] = {"transactionId", "authenticateServerResponse"};
    const char *values[] = {transactionId, authenticateServerResponseBase64};
    Es9Exchange exchange = _exchangeWith(keys, values, serverAddress, strlen(serverAddress),
                                         ES9_PATH_AUTHENTICATE_CLIENT);
    Es9PostOutcome outcome = _postRequest(&exchange, callbacks);
    if (outcome == ES9_ADDRESS_INVALID) {
        _refuseInvalidAddress();
        *error = LPA_ERROR_INVALID_SERVER_ADDRESS;
        return NULL;
    }
    if (outcome != ES9_POSTED) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, outcome == ES9_NO_OBJECT     ? "No enough memory to create CJSON object !"
                                      : outcome == ES9_NOT_PRINTED ? "Unable to create CJSON object !"
                                                                   : "No enought memory to manage authClientSmdpAddr !");
        *error = LPA_ERROR_AUTHENTICATE_CLIENT_EXCHANGE;
        return NULL;
    }
    const char *answer = exchange.answer;
    int32_t httpCode = exchange.httpCode;
    if (answer == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "Server communication issue (ptrHttpAuthClientResp is NULL)");
        *error = LPA_ERROR_AUTHENTICATE_CLIENT_EXCHANGE;
        return NULL;
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "_lpaManagerAuthenticateClientSendRequest() => HTTP Request return httpCode=%d",
               (int)httpCode);
    lpaCoreLog(LPA_LOG_LEVEL_DEB, ">>  HTTP response : %s", answer);
    return answer;
}

static bool _lpaManagerAuthenticateClientCheckTransactionId(const cJSON *json, const char *transactionId)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "_lpaManagerAuthenticateClientCheckTransactionId ...");
    const char *text = cJSON_GetStringValue(cJSON_GetObjectItem(json, "transactionId"));
    if (text == NULL || strlen(text) >= ES9_TRANSACTION_ID_CAPACITY) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "Failed to get transactionId from server");
        return false;
    }
    if (strcmp(text, transactionId) != 0) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "incorrect transactionId !");
        return false;
    }
    return true;
}

static bool _lpaManagerAuthenticateClientExtractDataFromCJSON(const cJSON *json, const char *key,
                                                              const char *fieldName, size_t capacity,
                                                              TDataValue *field, uint32_t *error)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "_lpaManagerAuthenticateClientExtractDataFromCJSON ...");
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "Extracting data for <%s> ...", key);
    field->len = 0;
    const cJSON *item = cJSON_GetObjectItem(json, key);
    if (item == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR,
                   "lpaManagerAuthenticateClientExtractDataFromCJSON () => '%s' not found on JSON response", key);
        *error = LPA_ERROR_AUTHENTICATE_CLIENT_EXCHANGE;
        return false;
    }
    const char *text = cJSON_GetStringValue(item);
    if (text == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Failed to parse %s from JSON object !", key);
        *error = LPA_ERROR_AUTHENTICATE_CLIENT_EXCHANGE;
        return false;
    }
    size_t length = strlen(text);
    size_t needed = (length / 4) * 3 + 1;
    if (needed >= capacity) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "%s buffer too small (Expected : %d bytes, Maximum allowed : %d )!", key,
                   (int)needed, (int)(capacity - 1));
        *error = LPA_ERROR_INSUFFICIENT_BUFFER;
        return false;
    }
    if (!_prepareField(field, capacity, true)) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Unable to allocate p_serverData->%s.val (expected : %d bytes)!", fieldName,
                   (int)capacity);
        *error = LPA_ERROR_INSUFFICIENT_BUFFER;
        return false;
    }
    size_t decoded = 0;
    if (!decodeBase64(text, length, field->val, &decoded, capacity)) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Failed to decode %s from base64 !", key);
        *error = LPA_ERROR_AUTHENTICATE_CLIENT_EXCHANGE;
        return false;
    }
    field->len = decoded;
    if (decoded <= ES9_HEX_LINE_MAX) {
        char hex[2 * ES9_HEX_LINE_MAX + 1];
        byteArray2HexStr(field->val, decoded, hex, sizeof(hex));
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "%s : %s ", key, hex);
    } else {
        _logDecodedField(fieldName, field);
    }
    return true;
}

static bool _lpaManagerAuthenticateClientExtractAllDataFromCJSON(const cJSON *json, TServerData *data,
                                                                 uint32_t *error)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "_lpaManagerAuthenticateClientExtractAllDataFromCJSON ...");
    return _lpaManagerAuthenticateClientExtractDataFromCJSON(json, "smdpSigned2", "_smdpSigned2",
                                                             ES9_SMDP_SIGNED2_CAPACITY, &data->_smdpSigned2, error) &&
           _lpaManagerAuthenticateClientExtractDataFromCJSON(json, "smdpSignature2", "_smdpSignature2",
                                                             ES9_SMDP_SIGNATURE2_CAPACITY, &data->_smdpSignature2,
                                                             error) &&
           _lpaManagerAuthenticateClientExtractDataFromCJSON(json, "profileMetadata", "_profileMetadata",
                                                             ES9_PROFILE_METADATA_CAPACITY, &data->_profileMetadata,
                                                             error) &&
           _lpaManagerAuthenticateClientExtractDataFromCJSON(json, "smdpCertificate", "_smdpCertificate",
                                                             ES9_SMDP_CERTIFICATE_CAPACITY, &data->_smdpCertificate,
                                                             error);
}

bool lpaManagerAuthenticateClient(TServerData *data, const LpaDownloadCallbacks *callbacks,
                                  const char *transactionId, const char *serverAddress,
                                  const char *authenticateServerResponseBase64)
{
    if (data == NULL || transactionId == NULL || serverAddress == NULL || authenticateServerResponseBase64 == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "Invalid parameter");
        lpaSetLastErrorCode(LPA_ERROR_INVALID_PARAMETER);
        return false;
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "lpaManagerAuthenticateClient ...");
    uint32_t lpaError = LPA_NO_ERROR;
    cJSON *json = NULL;

    lpaCoreLog(LPA_LOG_LEVEL_DEB, "lpaManagerAuthenticateClient() => Step1 : authenticateClient ...");
    const char *answer = _lpaManagerAuthenticateClientSendRequest(transactionId, serverAddress,
                                                                  authenticateServerResponseBase64, callbacks,
                                                                  &lpaError);
    if (answer == NULL || lpaError != LPA_NO_ERROR) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR,
                   "lpaManagerAuthenticateClient() => ptrHttpAuthClientResp is NULL or lpaError not equal to "
                   "LPA_NO_ERROR");
        lpaError = LPA_ERROR_AUTHENTICATE_CLIENT_EXCHANGE;
    } else {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "lpaManagerAuthenticateClient() => Step2 : manage response ...");
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "<<  HTTP response %s", answer);
        json = _parseAnswer(answer);
        if (json == NULL) {
            lpaCoreLog(LPA_LOG_LEVEL_WAR, "json pack into cjson error...");
            lpaError = LPA_ERROR_CJSON_PARSE_FAILURE;
        } else if (!_checkJSONresponseStatusSuccessful(json, callbacks)) {
            lpaCoreLog(LPA_LOG_LEVEL_WAR, "cJSON content error !");
            lpaError = LPA_ERROR_FAILED_AUTHENTICATE_CLIENT;
        } else if (!_lpaManagerAuthenticateClientCheckTransactionId(json, transactionId)) {
            lpaError = LPA_ERROR_INVALID_TRANSACTIONID;
        } else {
            lpaCoreLog(LPA_LOG_LEVEL_DEB,
                       "lpaManagerAuthenticateClient() => Step3 : extract data from HTTP response ...");
            _lpaManagerAuthenticateClientExtractAllDataFromCJSON(json, data, &lpaError);
        }
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "Do memory cleanup ...");
    cJSON_Delete(json);
    httpMediaHttpExectueCleanup();
    if (lpaError == LPA_NO_ERROR) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "lpaManagerAuthenticateClient() =>  return TRUE");
        return true;
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "lpaManagerAuthenticateClient() => LPA Error : 0x%04X", (unsigned)lpaError);
    lpaSetLastErrorCode(lpaError);
    return false;
}

/* ------------------------------------------------------------------------
 * getBoundProfilePackage
 * ------------------------------------------------------------------------ */

static void _checkBoundProfilePackageTransactionId(const cJSON *json, const char *transactionId)
{
    const char *text = cJSON_GetStringValue(cJSON_GetObjectItem(json, "transactionId"));
    if (text == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "Failed to get transactionId from server");
        lpaSetLastErrorCode(LPA_ERROR_INVALID_TRANSACTIONID);
    } else if (strcmp(text, transactionId) != 0) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "Invalid transactionId from server");
        lpaSetLastErrorCode(LPA_ERROR_INVALID_TRANSACTIONID);
    }
}

static bool _extractBoundProfilePackage(const cJSON *json, TDataValue *field)
{
    field->len = 0;
    const cJSON *item = cJSON_GetObjectItem(json, "boundProfilePackage");
    if (item == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Invalid boundProfilePackage from server !");
        return false;
    }
    if (!cJSON_IsString(item)) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "boundProfilePackage cJSON object not String or Raw type");
        return false;
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "boundProfilePackage cJSON object is String type");
    const char *text = cJSON_GetStringValue(item);
    if (text == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "Cannot retrieve value from boundProfilePackage cJSON object");
        return false;
    }
    size_t length = strlen(text);
    size_t size = (length / 4) * 3 + 1;
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "bindata size : %llu bytes", (unsigned long long)length);
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "bindata decoded size : %d bytes", (int)size);
    /* The size is judged before any memory is taken for it. */
    if (size > ES9_BOUND_PROFILE_PACKAGE_MAX_SIZE) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "_boundProfilePackage size (%d) is greater than maximum allowed :%d !",
                   (int)size, (int)ES9_BOUND_PROFILE_PACKAGE_MAX_SIZE);
        return false;
    }
    if (!_prepareField(field, size, false)) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Invalid boundProfilePackage from server !");
        return false;
    }
    size_t decoded = 0;
    if (!decodeBase64(text, length, field->val, &decoded, size)) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Failed to decode boundProfilePackage from base64 !");
        return false;
    }
    field->len = decoded;
    lpaManagerLogHexDumpTitled(LPA_LOG_LEVEL_DEB, "boundProfilePackage", field->val, field->len,
                               "boundProfilePackage HEX (%u bytes) :", (unsigned)field->len);
    return true;
}

bool lpaManagerGetBoundProfilePackage(TServerData *data, const LpaDownloadCallbacks *callbacks,
                                      const char *transactionId, const char *serverAddress,
                                      const char *prepareDownloadResponseBase64)
{
    if (data == NULL || transactionId == NULL || serverAddress == NULL || prepareDownloadResponseBase64 == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "Invalid parameter");
        lpaSetLastErrorCode(LPA_ERROR_INVALID_PARAMETER);
        return false;
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "lpaManagerGetBoundProfilePackage ...");
    static const char *const keys[] = {"transactionId", "prepareDownloadResponse"};
    const char *values[] = {transactionId, prepareDownloadResponseBase64};
    Es9Exchange exchange = _exchangeWith(keys, values, serverAddress, strlen(serverAddress),
                                         ES9_PATH_GET_BOUND_PROFILE_PACKAGE);
    Es9PostOutcome outcome = _postRequest(&exchange, callbacks);
    if (_postRefused(outcome, LPA_LOG_LEVEL_DEB, "Invalid Address", 0)) {
        return false;
    }
    cJSON *json = _parsePostedAnswer(&exchange, false,
                                     "lpaManagerGetBoundProfilePackage() => HTTP Request return httpCode=%d",
                                     "<<  HTTP response:", true);
    if (json == NULL) {
        return false;
    }
    bool result = false;
    if (_checkJSONresponseStatusSuccessful(json, callbacks)) {
        _checkBoundProfilePackageTransactionId(json, transactionId);
        result = _extractBoundProfilePackage(json, &data->_boundProfilePackage);
    }
    cJSON_Delete(json);
    return result;
}

/* ------------------------------------------------------------------------
 * handleNotification
 * ------------------------------------------------------------------------ */

bool handleNotification(const char *serverAddress, size_t addressLength, const char *pendingNotificationBase64,
                        const LpaDownloadCallbacks *callbacks)
{
    if (pendingNotificationBase64 == NULL || serverAddress == NULL || addressLength == 0) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "Invalid parameter");
        lpaSetLastErrorCode(LPA_ERROR_INVALID_PARAMETER);
        return false;
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "ES9plus handleNotification ...");
    static const char *const keys[] = {"pendingNotification"};
    const char *values[] = {pendingNotificationBase64};
    Es9Exchange exchange = _exchangeWith(keys, values, serverAddress, addressLength,
                                         ES9_PATH_HANDLE_NOTIFICATION);
    /* The buffer must hold address + path and its NUL. */
    Es9PostOutcome outcome = addressLength + strlen(ES9_PATH_HANDLE_NOTIFICATION) >= ES9_ADDRESS_BUFFER_SIZE
                                 ? ES9_ADDRESS_TOO_LONG
                                 : _postRequest(&exchange, callbacks);
    if (outcome == ES9_ADDRESS_INVALID) {
        _refuseInvalidAddress();
        return false;
    }
    if (outcome == ES9_NO_OBJECT) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Cannot create JSON object jsonObject!");
        lpaSetLastErrorCode(LPA_ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    if (outcome == ES9_NOT_PRINTED) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Failed to retrieve http request from JSON object !");
        lpaSetLastErrorCode(LPA_ERROR_CJSON_PARSE_FAILURE);
        return false;
    }
    if (outcome == ES9_ADDRESS_TOO_LONG) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "No enough memory to update pirNotiSmdpAddr !");
        lpaSetLastErrorCode(LPA_ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    const char *answer = exchange.answer;
    int32_t httpCode = exchange.httpCode;
    bool exchangeDone = exchange.exchangeDone;
    bool result = false;
    if (!exchangeDone) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Unable to send successfully notification to server");
    } else {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "lpaManagerES9Plus_ExecutePost() return true (httpCode=%d)", (int)httpCode);
        if (httpCode == 204) {
            lpaCoreLog(LPA_LOG_LEVEL_DEB,
                       "Success to send notification to server and get the status code (No data expected)");
            result = true;
        } else if (httpCode == 200 && answer != NULL) {
            lpaCoreLog(LPA_LOG_LEVEL_DEB,
                       "HTTP Code 200 with data always present on error case (on notification management). Try "
                       "to retrieve error code.");
            cJSON *json = _parseAnswer(answer);
            if (json == NULL) {
                lpaCoreLog(LPA_LOG_LEVEL_WAR, "json pack into cjson error...");
            } else if (_checkJSONresponseStatusSuccessful(json, callbacks)) {
                lpaCoreLog(LPA_LOG_LEVEL_WAR, "No error reported in JSON object...");
            }
            cJSON_Delete(json);
        } else if (httpCode >= 200 && httpCode <= 299) {
            lpaCoreLog(LPA_LOG_LEVEL_WAR,
                       "handleNotification() => Other 2xx HTTP Code not authorized for Handle Notification !");
        } else {
            lpaCoreLog(LPA_LOG_LEVEL_WAR, "handleNotification() => Not 2xx HTTP Code ");
        }
    }
    httpMediaHttpExectueCleanup();
    if (!result) {
        lpaSetLastErrorCode(LPA_ERROR_FAILED_SEND_NOTIFICATION_OR_NOT_GET_STATUS_CODE);
    }
    return result;
}

/* ------------------------------------------------------------------------
 * ES11 event retrieval
 * ------------------------------------------------------------------------ */

static void _copyEventEntry(const cJSON *entry, SmdsEventRecord *record)
{
    memset(record, 0, sizeof(*record));
    const char *eventId = cJSON_GetStringValue(cJSON_GetObjectItem(entry, "eventId"));
    if (eventId != NULL && strlen(eventId) < sizeof(record->eventId)) {
        memcpy(record->eventId, eventId, strlen(eventId) + 1);
        lpaCoreLog(LPA_LOG_LEVEL_INF, "the eventId: %s", record->eventId);
    } else {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "Failed to get eventId");
        lpaSetLastErrorCode(LPA_ERROR_INVALID_EVENT_ID);
    }
    const char *address = cJSON_GetStringValue(cJSON_GetObjectItem(entry, "rspServerAddress"));
    if (address != NULL && strlen(address) < sizeof(record->rspServerAddress)) {
        memcpy(record->rspServerAddress, address, strlen(address) + 1);
        lpaCoreLog(LPA_LOG_LEVEL_INF, "the rspServerAddress: %s", record->rspServerAddress);
    } else {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "Failed to get rspServerAddress");
        lpaSetLastErrorCode(LPA_ERROR_INVALID_RSP_SERVER_ADDRESS);
    }
}

bool lpaManagerEventRetrieval(const char *transactionId, const LpaDownloadCallbacks *callbacks,
                              const char *smdsAddress, const char *authenticateServerResponseBase64,
                              SmdsEventList *events)
{
    if (transactionId == NULL || smdsAddress == NULL || authenticateServerResponseBase64 == NULL || events == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "Invalid parameter");
        lpaSetLastErrorCode(LPA_ERROR_INVALID_PARAMETER);
        return false;
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "lpaManagerEventRetrieval ...");
    static const char *const keys[] = {"transactionId", "authenticateServerResponse"};
    const char *values[] = {transactionId, authenticateServerResponseBase64};
    Es9Exchange exchange = _exchangeWith(keys, values, smdsAddress, strlen(smdsAddress),
                                         ES9_PATH_AUTHENTICATE_CLIENT);
    Es9PostOutcome outcome = _postRequest(&exchange, callbacks);
    if (_postRefused(outcome, LPA_LOG_LEVEL_DEB, " Invalid Address", 0)) {
        return false;
    }
    cJSON *json = _parsePostedAnswer(&exchange, false, "lpaManagerEventRetrieval() => HTTP Request return httpCode=%d",
                                     "<<  HTTP response %s \n ", false);
    if (json == NULL) {
        return false;
    }
    if (!_checkJSONresponseStatusSuccessful(json, callbacks)) {
        cJSON_Delete(json);
        return false;
    }
    const cJSON *entries = cJSON_GetObjectItem(json, "eventEntries");
    if (entries == NULL || !cJSON_IsArray(entries)) {
        lpaSetLastErrorCode(LPA_ERROR_INVALID_EVENT_ENTRIES);
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "Not found eventEntries");
        cJSON_Delete(json);
        return true;
    }
    size_t available = (size_t)cJSON_GetArraySize(entries);
    size_t count = available;
    if (count > SMDS_EVENT_RECORD_MAX) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "eventEntries count (%d) exceeds maximum allowed (%d), extra entries ignored",
                   (int)available, (int)SMDS_EVENT_RECORD_MAX);
        count = SMDS_EVENT_RECORD_MAX;
    }
    events->count = count;
    size_t index = 0;
    for (const cJSON *entry = entries->child; entry != NULL && index < count; entry = entry->next, ++index) {
        _copyEventEntry(entry, &events->records[index]);
    }
    cJSON_Delete(json);
    return true;
}

/* ------------------------------------------------------------------------
 * cancelSession
 * ------------------------------------------------------------------------ */

#define CANCEL_SESSION_LOG "_lpaManagerES9SendCancelSession: "

bool _lpaManagerES9SendCancelSession(const char *transactionId, const TCancelSessionResponse *response,
                                     const char *serverAddress, const LpaDownloadCallbacks *callbacks)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, CANCEL_SESSION_LOG "_lpaManagerES9SendCancelSession...");
    size_t transactionIdLength = transactionId != NULL ? strlen(transactionId) : 0;
    if (transactionIdLength == 0 || transactionIdLength >= ES9_TRANSACTION_ID_CAPACITY || response == NULL ||
        serverAddress == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, CANCEL_SESSION_LOG "Invalid Parameters.");
        return false;
    }
    if (response->ok != 1 || response->length == 0 || response->length > sizeof(response->response)) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, CANCEL_SESSION_LOG "Invalid cancelSessionResponse object.");
        return false;
    }
    char *base64 = (char *)LPA_MALLOC(encodeBase64BufferSize(response->length));
    if (base64 == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, CANCEL_SESSION_LOG "Cannot allocate memory for cancelSessionResponseBase64.");
        return false;
    }
    if (encodeBase64(response->response, (uint32_t)response->length, base64) == 0) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, CANCEL_SESSION_LOG "Cannot convert cancelSessionResponse in Base64.");
        LPA_FREE(base64);
        return false;
    }
    static const char *const keys[] = {"transactionId", "cancelSessionResponse"};
    const char *values[] = {transactionId, base64};
    Es9Exchange exchange = _exchangeWith(keys, values, serverAddress, strlen(serverAddress),
                                         ES9_PATH_CANCEL_SESSION);
    Es9PostOutcome outcome = _postRequest(&exchange, callbacks);
    LPA_FREE(base64);
    if (outcome == ES9_ADDRESS_INVALID) {
        _refuseInvalidAddress();
        return false;
    }
    if (outcome != ES9_POSTED) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, outcome == ES9_NO_OBJECT     ? CANCEL_SESSION_LOG "Cannot create JSON object."
                                      : outcome == ES9_NOT_PRINTED ? CANCEL_SESSION_LOG "Cannot build JSON object."
                                                                   : CANCEL_SESSION_LOG "HTTP address is too long.");
        return false;
    }
    const char *answer = exchange.answer;
    int32_t httpCode = exchange.httpCode;
    bool exchangeDone = exchange.exchangeDone;
    bool result = false;
    if (!exchangeDone) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, CANCEL_SESSION_LOG "Invalid HTTP exchange !");
    } else {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, CANCEL_SESSION_LOG "HTTP Request return httpCode = %d", (int)httpCode);
        if (httpCode == 200 && answer != NULL) {
            lpaCoreLog(LPA_LOG_LEVEL_DEB, CANCEL_SESSION_LOG "HTTP Code 200 with data, analysing server response.");
            cJSON *json = _parseAnswer(answer);
            if (json == NULL) {
                lpaCoreLog(LPA_LOG_LEVEL_WAR, CANCEL_SESSION_LOG "json pack into cjson error...");
                lpaSetLastErrorCode(LPA_ERROR_INVALID_SERVER_RESPONSE);
            } else if (_checkJSONresponseStatusSuccessful(json, callbacks)) {
                lpaCoreLog(LPA_LOG_LEVEL_DEB, CANCEL_SESSION_LOG "Cancel Session confirmed successful by server.");
                result = true;
            } else {
                lpaCoreLog(LPA_LOG_LEVEL_ERR, CANCEL_SESSION_LOG "Server reported an error.");
                lpaSetLastErrorCode(LPA_ERROR_FAILED_CANCEL_SESSION);
            }
            cJSON_Delete(json);
        } else if (httpCode == 204) {
            lpaCoreLog(LPA_LOG_LEVEL_ERR, CANCEL_SESSION_LOG
                       "Confirmation JSON is missing, but server return operation successfull ? (http 204).");
        } else if (httpCode >= 200 && httpCode <= 299) {
            lpaCoreLog(LPA_LOG_LEVEL_WAR, CANCEL_SESSION_LOG "Other 2xx HTTP Code not authorized for Cancel Session !");
        } else {
            lpaCoreLog(LPA_LOG_LEVEL_WAR, CANCEL_SESSION_LOG "Not 2xx HTTP Code ");
        }
    }
    httpMediaHttpExectueCleanup();
    return result;
}
