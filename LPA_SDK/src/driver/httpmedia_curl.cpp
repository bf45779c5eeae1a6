#include "driver/httpmedia_curl.h"

#include <stdio.h>
#include <string.h>

#include "runtime/lpa_core_log.h"
#include "runtime/lpa_core_memory.h"

/* Process-wide driver state: the version number seen by the last init and
 * the registered execution-error callback. */
static unsigned int _curlVersionNumber = 0;
static LpaEventExecutionErrorCallback _eventExecutionErrorCallback = NULL;

/* The fixed request headers. The empty "Expect:" keeps libcurl from adding
 * "Expect: 100-continue" to large bodies. */
static const char *const _requestHeaders[] = {
    "X-Admin-Protocol:gsma/rsp/v2.2.0",
    "content-type:application/json",
    "charset:utf-8",
    "User-Agent: gsma-rsp-lpad",
    "Expect:",
};

static const char *_curlText(CURLcode code)
{
    const char *text = curl_easy_strerror(code);
    return text != NULL ? text : "N/A";
}

static THTTPMediaCURL *_privateRecord(THTTPMedia *media)
{
    return media != NULL ? (THTTPMediaCURL *)media->privateRecord : NULL;
}

/* Frees what one request holds: header list, response, easy handle. */
static void _releaseRequest(THTTPMediaCURL *httpMediaCurl)
{
    if (httpMediaCurl->headers != NULL) {
        curl_slist_free_all(httpMediaCurl->headers);
        httpMediaCurl->headers = NULL;
    }
    if (httpMediaCurl->response != NULL) {
        LPA_FREE(httpMediaCurl->response);
        httpMediaCurl->response = NULL;
    }
    httpMediaCurl->responseLength = 0;
    if (httpMediaCurl->curl != NULL) {
        curl_easy_cleanup(httpMediaCurl->curl);
        httpMediaCurl->curl = NULL;
    }
}

unsigned int _httpMediaCurlVersionNumber(void)
{
    return _curlVersionNumber;
}

THTTPMedia *New_HTTPMediaCurl(void)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "+httpmedia_curl :> New_HTTPMediaCurl()");
    _curlVersionNumber = 0;
    _eventExecutionErrorCallback = NULL;

    THTTPMediaCURL *httpMediaCurl = (THTTPMediaCURL *)LPA_MALLOC(sizeof(THTTPMediaCURL));
    if (httpMediaCurl == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "Unable to allocate THTTPMediaCURL !");
        return NULL;
    }
    THTTPMedia *media = New_HTTPMediaBase();
    if (media == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "Unable to allocate httpMediaCurl->_base !");
        LPA_FREE(httpMediaCurl);
        return NULL;
    }
    httpMediaCurl->media = media;
    media->privateRecord = httpMediaCurl;
    media->httpMediaHttpExecuteInit = _httpMediaHttpExecuteInit;
    media->httpMediaHttpExecutePost = _httpMediaHttpExecutePost;
    media->httpMediaHttpExecuteCleanup = _httpMediaHttpExecuteCleanup;
    media->httpMediaGetBufferResponse = _httpMediaGetBufferResponse;
    media->httpMediaSetBooleanOption = _httpMediaSetBooleanOption;
    media->httpMediaGetBooleanOption = _httpMediaGetBooleanOption;
    media->httpMediaSetLongOption = _httpMediaSetLongOption;
    media->httpMediaGetLongOption = _httpMediaGetLongOption;
    media->httpMediaSetCallbackEventExecutionError = _httpMediaSetCallbackEventExecutionError;
    httpMediaCurl->curl = NULL;
    httpMediaCurl->headers = NULL;
    httpMediaCurl->response = NULL;
    httpMediaCurl->responseLength = 0;
    return media;
}

void Delete_HTTPMediaCurl(THTTPMedia *media)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "+httpmedia_curl :> Delete_HTTPMediaCurl()");
    if (media == NULL) {
        return;
    }
    THTTPMediaCURL *httpMediaCurl = _privateRecord(media);
    if (httpMediaCurl != NULL) {
        /* A request that was never cleaned up must not leak its handle. */
        _releaseRequest(httpMediaCurl);
        LPA_FREE(httpMediaCurl);
    }
    LPA_FREE(media);
}

bool _httpMediaIsCurlVersionSupported(unsigned int versionNumber)
{
    if (versionNumber < HTTP_MEDIA_CURL_MIN_VERSION) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "curl version not supported (require 7.34 or more)");
        return false;
    }
    lpaCoreLog(LPA_LOG_LEVEL_INF, "curl version supported");
    return true;
}

bool _httpMediaHttpExecuteInit(THTTPMedia *media)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "+httpmedia_curl :> _httpMediaHttpExecuteInit()");
    if (media == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "httpMedia is NULL !");
        return false;
    }
    THTTPMediaCURL *httpMediaCurl = _privateRecord(media);
    if (httpMediaCurl == NULL) {
        return false;
    }
    /* An init without cleanup after the previous one: release that request
     * first, so its handle and buffers are not lost. */
    _releaseRequest(httpMediaCurl);

    httpMediaCurl->curl = curl_easy_init();
    if (httpMediaCurl->curl == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "_httpMediaHttpExecuteInit() Init Failed");
        return false;
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "_httpMediaHttpExecuteInit() Init Success");

    const curl_version_info_data *info = curl_version_info(CURLVERSION_NOW);
    if (info == NULL || (int)info->age < 0) {
        return false;
    }
    lpaCoreLog(LPA_LOG_LEVEL_INF, "curl version : %s", info->version != NULL ? info->version : "N/A");
    lpaCoreLog(LPA_LOG_LEVEL_INF, "curl host : %s", info->host != NULL ? info->host : "N/A");
    lpaCoreLog(LPA_LOG_LEVEL_INF, "curl feature : 0x%lx", (unsigned long)info->features);
    _curlVersionNumber = info->version_num;

    if (!_httpMediaIsCurlVersionSupported(_curlVersionNumber)) {
        return false;
    }
    if (curl_easy_setopt(httpMediaCurl->curl, CURLOPT_SSLVERSION, (long)CURL_SSLVERSION_TLSv1_2) != CURLE_OK) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "Unable to use TLS v1.2 or later (CURL configuration) !");
        return false;
    }
    lpaCoreLog(LPA_LOG_LEVEL_INF, "CURL using TLS v1.2 or later");
    return true;
}

static bool _httpMediaConfigure(THTTPMediaCURL *httpMediaCurl)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "+httpmedia_curl :> _httpMediaConfigure()");
    if (httpMediaCurl == NULL || httpMediaCurl->curl == NULL) {
        return false;
    }
    const bool *options = httpMediaOptionValues.booleanOption;
    CURLcode peer = curl_easy_setopt(httpMediaCurl->curl, CURLOPT_SSL_VERIFYPEER,
                                     options[HTTP_MEDIA_OPTION_SSL_VERIFYPEER] ? 1L : 0L);
    CURLcode host = curl_easy_setopt(httpMediaCurl->curl, CURLOPT_SSL_VERIFYHOST,
                                     options[HTTP_MEDIA_OPTION_SSL_VERIFYHOST] ? 2L : 0L);
    CURLcode verbose = curl_easy_setopt(httpMediaCurl->curl, CURLOPT_VERBOSE,
                                        options[HTTP_MEDIA_OPTION_DEBUG_MODE] ? 1L : 0L);
    return peer == CURLE_OK && host == CURLE_OK && verbose == CURLE_OK;
}

static bool _httpMediaSetTargetUrl(THTTPMediaCURL *httpMediaCurl, const char *url)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "+httpmedia_curl :> _httpMediaSetTargetUrl()");
    if (httpMediaCurl == NULL || httpMediaCurl->curl == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_VER, " _httpMediaSetTargetUrl failed");
        return false;
    }
    lpaCoreLog(LPA_LOG_LEVEL_VER, "* _httpMediaSetTargetUrl : %s", url);
    CURLcode code = curl_easy_setopt(httpMediaCurl->curl, CURLOPT_URL, url);
    if (code != CURLE_OK) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "_httpMediaSetTargetUrl failed (curl error code: %d) => %s", (int)code,
                   _curlText(code));
        return false;
    }
    return true;
}

static bool _httpMediaSetPostData(THTTPMediaCURL *httpMediaCurl, const char *body)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "+httpmedia_curl :> _httpMediaSetPostData()");
    if (httpMediaCurl == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "_httpMediaSetPostData => httpMediaCurl is NULL !");
        return false;
    }
    CURL *curl = httpMediaCurl->curl;
    const int32_t *options = httpMediaOptionValues.longOption;
    CURLcode code = curl_easy_setopt(curl, CURLOPT_POST, 1L);
    if (code == CURLE_OK) {
        code = curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body);
    }
    if (code == CURLE_OK) {
        code = curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    }
    if (code == CURLE_OK) {
        code = curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT,
                                (long)options[HTTP_MEDIA_OPTION_CONNECT_TIMEOUT - HTTP_MEDIA_LONG_OPTION_FIRST]);
    }
    if (code == CURLE_OK) {
        code = curl_easy_setopt(curl, CURLOPT_TIMEOUT,
                                (long)options[HTTP_MEDIA_OPTION_TIMEOUT - HTTP_MEDIA_LONG_OPTION_FIRST]);
    }
    if (code != CURLE_OK) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "setPostData failed (curl error code: %d) => %s", (int)code, _curlText(code));
        return false;
    }
    return true;
}

static bool _httpMediaSetHeaders(THTTPMediaCURL *httpMediaCurl)
{
    /* A list left by a post without cleanup is replaced, not lost. */
    if (httpMediaCurl->headers != NULL) {
        curl_slist_free_all(httpMediaCurl->headers);
        httpMediaCurl->headers = NULL;
    }
    CURLcode code = CURLE_OK;
    struct curl_slist *list = NULL;
    for (size_t i = 0; i < sizeof(_requestHeaders) / sizeof(_requestHeaders[0]); ++i) {
        struct curl_slist *grown = curl_slist_append(list, _requestHeaders[i]);
        if (grown == NULL) {
            curl_slist_free_all(list);
            list = NULL;
            code = CURLE_OUT_OF_MEMORY;
            break;
        }
        list = grown;
    }
    if (code == CURLE_OK) {
        httpMediaCurl->headers = list;
        code = curl_easy_setopt(httpMediaCurl->curl, CURLOPT_HTTPHEADER, list);
    }
    if (code != CURLE_OK) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "_httpMediaSetHeaders failed (curl error code: %d) => %s", (int)code,
                   _curlText(code));
        return false;
    }
    return true;
}

static bool _httpMediaSetCertificatePath(THTTPMediaCURL *httpMediaCurl, const char *caPath)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "+httpmedia_curl :> _httpMediaSetCertificatePath()");
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "_httpMediaSetCertificatePath ...");
    CURLcode code = curl_easy_setopt(httpMediaCurl->curl, CURLOPT_CAINFO, caPath);
    if (code == CURLE_OK) {
        /* The named file is the only trust anchor: libcurl's CA folder (the
           system store) must not vouch for the server too. */
        code = curl_easy_setopt(httpMediaCurl->curl, CURLOPT_CAPATH, (char *)NULL);
    }
    if (code != CURLE_OK) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "_httpMediaSetCertificatePath failed (curl error code: %d) => %s", (int)code,
                   _curlText(code));
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "certificate path is : %s", caPath);
    return code == CURLE_OK;
}

static bool _httpMediaSetCallback(THTTPMediaCURL *httpMediaCurl)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "+httpmedia_curl :> _httpMediaSetCallback()");
    CURLcode code = curl_easy_setopt(httpMediaCurl->curl, CURLOPT_WRITEFUNCTION, _WriteRespCallback);
    if (code != CURLE_OK) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "_httpMediaSetCallback failed (curl error code: %d) => %s", (int)code,
                   _curlText(code));
        return false;
    }
    return true;
}

static bool _httpMediaSetWriteData(THTTPMediaCURL *httpMediaCurl)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "+httpmedia_curl :> _httpMediaSetWriteData()");
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "start to do http easy perform");
    CURLcode code = curl_easy_setopt(httpMediaCurl->curl, CURLOPT_WRITEDATA, (void *)httpMediaCurl);
    if (code != CURLE_OK) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "_httpMediaSetWriteData failed (curl error code: %d) => %s", (int)code,
                   _curlText(code));
        return false;
    }
    return true;
}

static void _raiseTransferError(CURLcode code)
{
    if (_eventExecutionErrorCallback == NULL) {
        return;
    }
    char subjectCode[16];
    snprintf(subjectCode, sizeof(subjectCode), "%d", (int)code);
    const char *text = curl_easy_strerror(code);
    LpaEventExecutionError event;
    event.source = LPA_EXECUTION_ERROR_SOURCE_HTTP_TRANSPORT;
    event.presentFields = LPA_EXECUTION_ERROR_FIELD_SUBJECT_CODE;
    if (text != NULL) {
        event.presentFields |= LPA_EXECUTION_ERROR_FIELD_TEXT;
    }
    event.subjectCode = subjectCode;
    event.reasonCode = NULL;
    event.text = text;
    _eventExecutionErrorCallback(NULL, &event);
}

bool _httpMediaHttpExecutePost(THTTPMedia *media, const char *caPath, const char *url, const char *body,
                               int32_t *httpCode)
{
    if (media == NULL || caPath == NULL || url == NULL || body == NULL || httpCode == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "_httpMediaGetBufferResponse() => NULL parameter detected!");
        return false;
    }
    THTTPMediaCURL *httpMediaCurl = _privateRecord(media);
    if (!_httpMediaConfigure(httpMediaCurl)) {
        return false;
    }
    if (!_httpMediaSetTargetUrl(httpMediaCurl, url)) {
        return false;
    }
    if (!_httpMediaSetPostData(httpMediaCurl, body)) {
        return false;
    }
    if (!_httpMediaSetHeaders(httpMediaCurl)) {
        return false;
    }
    if (caPath[0] != '\0' && !_httpMediaSetCertificatePath(httpMediaCurl, caPath)) {
        return false;
    }
    if (!_httpMediaSetCallback(httpMediaCurl)) {
        return false;
    }
    if (!_httpMediaSetWriteData(httpMediaCurl)) {
        return false;
    }

    lpaCoreLog(LPA_LOG_LEVEL_INF, "HTTP execute post ...");
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "+httpmedia_curl :> _httpMediaHttpExecutePost()");
    *httpCode = 0;
    CURLcode code = curl_easy_perform(httpMediaCurl->curl);
    if (code != CURLE_OK) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "Http execution failed (curl error code: %d) => %s", (int)code,
                   _curlText(code));
        _raiseTransferError(code);
        return false;
    }
    lpaCoreLog(LPA_LOG_LEVEL_INF, "the http execution result : >> CURLE_OK :)");
    long status = 0;
    if (curl_easy_getinfo(httpMediaCurl->curl, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK) {
        *httpCode = 0;
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "curl => Unable to get HTTP code !");
    } else {
        *httpCode = (int32_t)status;
        lpaCoreLog(LPA_LOG_LEVEL_INF, "curl => HTTP code : %d ", (int)status);
    }
    return true;
}

size_t _WriteRespCallback(char *data, size_t size, size_t count, void *target)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "+httpmedia_curl :> _WriteRespCallback()");
    if (data == NULL || target == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "Incorrect NULL parameter!");
        return 0;
    }
    THTTPMediaCURL *httpMediaCurl = (THTTPMediaCURL *)target;
    if (size != 0 && count > (SIZE_MAX - 1 - httpMediaCurl->responseLength) / size) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "Not enough memory (realloc returned NULL)");
        return 0;
    }
    size_t n = size * count;
    /* Far above the largest valid answer (a bound profile package in
     * Base64); a server sending more ends its transfer here, before the
     * buffer grows without limit. */
    if (n > HTTP_MEDIA_CURL_RESPONSE_MAX || httpMediaCurl->responseLength > HTTP_MEDIA_CURL_RESPONSE_MAX - n) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "HTTP response too large: more than %lu bytes (%lu received), transfer ended",
                   (unsigned long)HTTP_MEDIA_CURL_RESPONSE_MAX, (unsigned long)(httpMediaCurl->responseLength + n));
        return 0;
    }
    char *grown = (char *)LPA_REALLOC(httpMediaCurl->response, httpMediaCurl->responseLength + n + 1);
    if (grown == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "Not enough memory (realloc returned NULL)");
        return 0;
    }
    httpMediaCurl->response = grown;
    if (n > 0) {
        memcpy(grown + httpMediaCurl->responseLength, data, n);
    }
    httpMediaCurl->responseLength += n;
    grown[httpMediaCurl->responseLength] = '\0';
    return n;
}

char *_httpMediaGetBufferResponse(THTTPMedia *media)
{
    THTTPMediaCURL *httpMediaCurl = _privateRecord(media);
    return httpMediaCurl != NULL ? httpMediaCurl->response : NULL;
}

void _httpMediaHttpExecuteCleanup(THTTPMedia *media)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "+httpmedia_curl :> _httpMediaHttpExecuteCleanup()");
    if (media == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "_httpMediaHttpExecuteCleanup() => httpMedia is NULL !");
        return;
    }
    THTTPMediaCURL *httpMediaCurl = _privateRecord(media);
    if (httpMediaCurl != NULL) {
        _releaseRequest(httpMediaCurl);
    }
}

static bool _isBooleanOption(HttpMediaOptionType id)
{
    return id >= 0 && id < HTTP_MEDIA_BOOLEAN_OPTION_COUNT;
}

static bool _isLongOption(HttpMediaOptionType id)
{
    return id >= HTTP_MEDIA_LONG_OPTION_FIRST && id < HTTP_MEDIA_LONG_OPTION_FIRST + HTTP_MEDIA_LONG_OPTION_COUNT;
}

static void _logOptionNotSupported(HttpMediaOptionType id)
{
    lpaCoreLog(LPA_LOG_LEVEL_WAR, "HttpMediaOptionType '%d'not supported", (int)id);
}

bool _httpMediaSetBooleanOption(THTTPMedia *media, HttpMediaOptionType id, bool value)
{
    (void)media;
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "+httpmedia_curl :> _httpMediaSetBooleanOption()");
    if (!_isBooleanOption(id)) {
        _logOptionNotSupported(id);
        return false;
    }
    httpMediaOptionValues.booleanOption[id] = value;
    return true;
}

bool _httpMediaGetBooleanOption(THTTPMedia *media, HttpMediaOptionType id, bool *value)
{
    (void)media;
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "+httpmedia_curl :> _httpMediaGetBooleanOption()");
    if (value == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "_httpMediaGetBooleanOption() => ptrEnabled is NULL !");
        return false;
    }
    if (!_isBooleanOption(id)) {
        _logOptionNotSupported(id);
        return false;
    }
    *value = httpMediaOptionValues.booleanOption[id];
    return true;
}

bool _httpMediaSetLongOption(THTTPMedia *media, HttpMediaOptionType id, int32_t value)
{
    (void)media;
    /* Same entry line as the boolean setter. */
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "+httpmedia_curl :> _httpMediaSetBooleanOption()");
    if (!_isLongOption(id)) {
        _logOptionNotSupported(id);
        return false;
    }
    httpMediaOptionValues.longOption[id - HTTP_MEDIA_LONG_OPTION_FIRST] = value;
    return true;
}

bool _httpMediaGetLongOption(THTTPMedia *media, HttpMediaOptionType id, int32_t *value)
{
    (void)media;
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "+httpmedia_curl :> _httpMediaGetLongOption()");
    if (value == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "_httpMediaGetLongOption() => ptrValue is NULL !");
        return false;
    }
    if (!_isLongOption(id)) {
        _logOptionNotSupported(id);
        return false;
    }
    *value = httpMediaOptionValues.longOption[id - HTTP_MEDIA_LONG_OPTION_FIRST];
    return true;
}

bool _httpMediaSetCallbackEventExecutionError(THTTPMedia *media, LpaEventExecutionErrorCallback callback)
{
    (void)media;
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "++ httpmedia_curl :> _httpMediaSetCallbackEventExecutionError()");
    bool result = false;
    if (callback != NULL) {
        if (callback == _eventExecutionErrorCallback) {
            lpaCoreLog(LPA_LOG_LEVEL_WAR, " LpaEventExecutionErrorCallback already registered !");
        } else {
            lpaCoreLog(LPA_LOG_LEVEL_DEB, " registering lpaEventExecutionErrorCallback ...");
            _eventExecutionErrorCallback = callback;
            result = true;
        }
    } else if (_eventExecutionErrorCallback != NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, " unregistering lpaEventExecutionErrorCallback ...");
        _eventExecutionErrorCallback = NULL;
        result = true;
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "-- httpmedia_curl :> _httpMediaSetCallbackEventExecutionError() return res=%s",
               lpaBoolText(result));
    return result;
}
