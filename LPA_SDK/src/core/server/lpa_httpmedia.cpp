#include "server/lpa_httpmedia.h"

#include "runtime/lpa_core_log.h"
#include "runtime/lpa_core_memory.h"
#include "runtime/lpa_manager_config.h"

const HttpMediaOptionValues httpMediaOptionDefaults = {{true, true, false}, {60, 60}};

HttpMediaOptionValues httpMediaOptionValues = httpMediaOptionDefaults;

THTTPMedia *_httpMedia = NULL;

static bool _httpMediaIsCreated(void)
{
    if (_httpMedia == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "_httpMedia is not created !");
        return false;
    }
    return true;
}

THTTPMedia *New_HTTPMediaBase(void)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "++New_HTTPMediaBase");
    return (THTTPMedia *)LPA_MALLOC(sizeof(THTTPMedia));
}

/* The destructor of the driver that made _httpMedia. */
static THTTPMediaDestructor _httpMediaDestructor = NULL;

bool httpMediaManagerInitialize(THTTPMediaConstructor create, THTTPMediaDestructor destroy)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "+httpMediaManagerInitialize()");
    if (_httpMedia != NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "-httpMediaManagerInitialize()");
        return false;
    }
    _httpMedia = create();
    _httpMediaDestructor = destroy;
    if (_httpMedia == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "Unable to create _httpMedia !");
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "-httpMediaManagerInitialize()");
    return _httpMedia != NULL;
}

bool httpMediaManagerIsInitialized(void)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "+httpMediaManagerIsInitialized()");
    return _httpMedia != NULL;
}

bool httpMediaManagerDelete(void)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "+httpMediaManagerDelete()");
    if (!_httpMediaIsCreated()) {
        return false;
    }
    _httpMediaDestructor(_httpMedia);
    _httpMedia = NULL;
    return true;
}

bool httpMediaManagerSetCallbackEventExecutionError(LpaEventExecutionErrorCallback callback)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "+httpMediaManagerSetCallbackEventExecutionError()");
    if (!_httpMediaIsCreated()) {
        return false;
    }
    bool result = _httpMedia->httpMediaSetCallbackEventExecutionError(_httpMedia, callback);
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "-- httpMediaManagerSetCallbackEventExecutionError() : return %s",
               lpaBoolText(result));
    return result;
}

bool httpMediaManagerHttpExecuteInit(void)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "+httpMediaManagerHttpExecuteInit()");
    if (!_httpMediaIsCreated()) {
        return false;
    }
    bool result = _httpMedia->httpMediaHttpExecuteInit(_httpMedia);
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "-- httpMediaManagerHttpExecuteInit() : return %s", lpaBoolText(result));
    return result;
}

bool httpMediaManagerPost(const char *caPath, const char *url, const char *body, int32_t *httpCode)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "+httpMediaManagerPost()");
    if (!_httpMediaIsCreated()) {
        return false;
    }
    return _httpMedia->httpMediaHttpExecutePost(_httpMedia, caPath, url, body, httpCode);
}

char *httpMediaGetBufferResponse(void)
{
    if (!_httpMediaIsCreated()) {
        return NULL;
    }
    return _httpMedia->httpMediaGetBufferResponse(_httpMedia);
}

bool httpMediaHttpExectueCleanup(void)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "+httpMediaHttpExectueCleanup()");
    if (!_httpMediaIsCreated()) {
        return false;
    }
    _httpMedia->httpMediaHttpExecuteCleanup(_httpMedia);
    return true;
}

bool httpMediaManagerSetBooleanOption(HttpMediaOptionType id, bool value)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "+httpMediaManagerSetBooleanOption()");
    if (!_httpMediaIsCreated()) {
        return false;
    }
    bool result = _httpMedia->httpMediaSetBooleanOption(_httpMedia, id, value);
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "-- httpMediaManagerSetBooleanOption() : return %s", lpaBoolText(result));
    return result;
}

bool httpMediaManagerGetBooleanOption(HttpMediaOptionType id, bool *value)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "+httpMediaManagerGetBooleanOption()");
    if (!_httpMediaIsCreated()) {
        return false;
    }
    bool result = _httpMedia->httpMediaGetBooleanOption(_httpMedia, id, value);
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "-- httpMediaManagerGetBooleanOption() : return %s", lpaBoolText(result));
    return result;
}

bool httpMediaManagerSetLongOption(HttpMediaOptionType id, int32_t value)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "+httpMediaManagerSetLongOption()");
    if (!_httpMediaIsCreated()) {
        return false;
    }
    bool result = _httpMedia->httpMediaSetLongOption(_httpMedia, id, value);
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "-- httpMediaManagerSetLongOption() : return %s", lpaBoolText(result));
    return result;
}

bool httpMediaManagerGetLongOption(HttpMediaOptionType id, int32_t *value)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "+httpMediaManagerGetLongOption()");
    if (!_httpMediaIsCreated()) {
        return false;
    }
    bool result = _httpMedia->httpMediaGetLongOption(_httpMedia, id, value);
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "-- httpMediaManagerGetLongOption() : return %s", lpaBoolText(result));
    return result;
}

/* The HTTP media option of a parameter id, or -1. */
static HttpMediaOptionType _httpMediaOption(int32_t parameterId)
{
    switch (parameterId) {
    case LPA_PARAMETER_ID_ACTIVATE_CURL_DEBUG_MODE:
        return HTTP_MEDIA_OPTION_DEBUG_MODE;
    case LPA_PARAMETER_ID_CURL_SSL_VERIFYPEER:
        return HTTP_MEDIA_OPTION_SSL_VERIFYPEER;
    case LPA_PARAMETER_ID_CURL_SSL_VERIFYHOST:
        return HTTP_MEDIA_OPTION_SSL_VERIFYHOST;
    case LPA_PARAMETER_ID_CURL_CONNECT_TIMEOUT:
        return HTTP_MEDIA_OPTION_CONNECT_TIMEOUT;
    case LPA_PARAMETER_ID_CURL_TIMEOUT:
        return HTTP_MEDIA_OPTION_TIMEOUT;
    default:
        return -1;
    }
}

static bool _setBooleanParameter(int32_t parameterId, bool value)
{
    return httpMediaManagerSetBooleanOption(_httpMediaOption(parameterId), value);
}

static bool _getBooleanParameter(int32_t parameterId, bool *value)
{
    return httpMediaManagerGetBooleanOption(_httpMediaOption(parameterId), value);
}

static bool _setLongParameter(int32_t parameterId, int32_t value)
{
    return httpMediaManagerSetLongOption(_httpMediaOption(parameterId), value);
}

static bool _getLongParameter(int32_t parameterId, int32_t *value)
{
    return httpMediaManagerGetLongOption(_httpMediaOption(parameterId), value);
}

const LpaHttpOptionAccess lpaHttpOptionAccess = {_setBooleanParameter, _getBooleanParameter, _setLongParameter,
                                                 _getLongParameter};
