#include "runtime/lpa_manager_config.h"

#include <ctype.h>
#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "runtime/lpa_core_log.h"
#include "runtime/lpa_core_memory.h"
#include "runtime/lpa_error_internal.h"
#include "runtime/lpa_hex.h"
#include "lpa_host.h"
#include "runtime/lpa_string.h"

#define T_BOOL LPA_PARAMETER_TYPE_BOOL
#define T_LONG LPA_PARAMETER_TYPE_LONG
#define T_STRING LPA_PARAMETER_TYPE_STRING

const LpaConfigParameter lpaConfigParameterList[LPA_CONFIG_PARAMETER_COUNT + 1] = {
    {LPA_PARAMETER_ID_READER_NAME, "readerName", T_STRING, 0},
    {LPA_PARAMETER_ID_SEND_PIR_DURING_DOWNLOAD, "sendPIRDuringDownloadProfile", T_BOOL, 1},
    {LPA_PARAMETER_ID_ACTIVATE_CURL_DEBUG_MODE, "activateCURLDebugMode", T_BOOL, 1},
    {LPA_PARAMETER_ID_CURL_SSL_VERIFYPEER, "CURL_SSL_VERIFYPEER", T_BOOL, 1},
    {LPA_PARAMETER_ID_CURL_SSL_VERIFYHOST, "CURL_SSL_VERIFYHOST", T_BOOL, 1},
    {LPA_PARAMETER_ID_ADD_LE_TO_APDU_CASE4, "addLeToApduCase4", T_BOOL, 0},
    {LPA_PARAMETER_ID_LOG_LEVEL, "logLevel", T_STRING, 0},
    {LPA_PARAMETER_ID_LOG_MAX_SIZE, "logMaxSize", T_LONG, 0},
    {LPA_PARAMETER_ID_PROFILE_REFRESH_FLAG, "profileRefreshFlag", T_BOOL, 0},
    {LPA_PARAMETER_ID_CURL_CONNECT_TIMEOUT, "CURL_CONNECT_TIMEOUT", T_LONG, 0},
    {LPA_PARAMETER_ID_CURL_TIMEOUT, "CURL_TIMEOUT", T_LONG, 0},
    {LPA_PARAMETER_ID_CERT_PATH, "certPath", T_STRING, 0},
    {LPA_PARAMETER_ID_DEVICE_INFO_TLV, "deviceInfoTlv", T_STRING, 0},
    {14, "MEM_ERR_IF_MEM_COUNTER_EQ", T_LONG, 0},
    {15, "MEM_ERR_IF_MEM_COUNTER_GT", T_LONG, 0},
    {16, "MEM_ERR_IF_MEM_COUNTER_GE", T_LONG, 0},
    {17, "MEM_ERR_IF_SIZE_REQUESTED_EQ", T_LONG, 0},
    {18, "MEM_ERR_IF_SIZE_REQUESTED_GT", T_LONG, 0},
    {19, "MEM_ERR_IF_SIZE_REQUESTED_GE", T_LONG, 0},
    {LPA_PARAMETER_ID_END, NULL, 0, 0},
};

/* Engine values, process-wide. */
static char _readerName[LPA_READER_NAME_SIZE];
static char _certPath[LPA_CERT_PATH_SIZE];
static char _deviceInfoTlvText[LPA_DEVICE_INFO_TLV_TEXT_SIZE];
static uint8_t _deviceInfoTlvBytes[LPA_DEVICE_INFO_TLV_BYTES_SIZE];
static size_t _deviceInfoTlvLength = 0;
static bool _sendPIRDuringDownloadProfile = true;
static bool _addLeToApduCase4 = true;
static bool _profileRefreshFlag = true;

/* Configuration file state. */
static char _configFilePath[LPA_CONFIG_FILE_PATH_SIZE];
static bool _configFileLoaded = false;

static const char *_typeName(int32_t type)
{
    switch (type) {
    case T_BOOL:
        return "LPA_PARAMETER_TYPE_BOOL";
    case T_LONG:
        return "LPA_PARAMETER_TYPE_LONG";
    case T_STRING:
        return "LPA_PARAMETER_TYPE_STRING";
    default:
        return NULL;
    }
}

/* Copies text into a store of storeSize bytes when it has fewer than
 * storeSize characters; else 0x2002. */
static bool _storeText(char *store, size_t storeSize, const char *text)
{
    size_t length = strlen(text);
    if (length >= storeSize) {
        lpaSetLastErrorCode(LPA_ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    memcpy(store, text, length + 1);
    return true;
}

/* Copies a stored text out when it is shorter than bufferSize; else 0x2002. */
static bool _copyTextOut(const char *text, char *buffer, size_t bufferSize)
{
    size_t length = strlen(text);
    if (length >= bufferSize) {
        lpaSetLastErrorCode(LPA_ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    memcpy(buffer, text, length + 1);
    return true;
}

const LpaConfigParameter *_lpaManagerFindConfigParameter(const char *key)
{
    if (key == NULL) {
        return NULL;
    }
    for (const LpaConfigParameter *row = lpaConfigParameterList; row->key != NULL; ++row) {
        if (compareEqualStringIgnoringCase(row->key, key)) {
            return row;
        }
    }
    return NULL;
}

bool lpaManagerIsConfigParameterExist(const char *key, int32_t *type, bool *exists)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "++ lpaManagerIsConfigParameterExist(...)");
    if (key == NULL || type == NULL || exists == NULL) {
        lpaSetLastErrorCode(LPA_ERROR_INVALID_PARAMETER);
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "-- lpaManagerIsConfigParameterExist() return %s", lpaBoolText(false));
        return false;
    }
    *exists = false;
    *type = LPA_PARAMETER_TYPE_NOT_FOUND;
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "Searching parameter key '%s'", key);
    const LpaConfigParameter *row = _lpaManagerFindConfigParameter(key);
    if (row != NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "Parameter key exists (isRestricted:%s)", row->isRestricted ? "yes" : "no");
        if (!row->isRestricted) {
            *exists = true;
            *type = row->type;
        }
    } else {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "Parameter key does not exist.");
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "-- lpaManagerIsConfigParameterExist() return %s", lpaBoolText(true));
    return true;
}

/* STRING to BOOL: exactly true/TRUE/yes/YES or false/FALSE/no/NO. */
static bool _convertStringToBool(const char *text, bool *value)
{
    static const char *const trueTexts[] = {"true", "TRUE", "yes", "YES"};
    static const char *const falseTexts[] = {"false", "FALSE", "no", "NO"};
    for (size_t i = 0; i < 4; ++i) {
        if (strcmp(text, trueTexts[i]) == 0) {
            *value = true;
            return true;
        }
        if (strcmp(text, falseTexts[i]) == 0) {
            *value = false;
            return true;
        }
    }
    return false;
}

/* STRING to LONG: base 10, leading white space and a sign allowed, the
 * whole text used, the result within int32; an empty text gives 0. */
static bool _convertStringToLong(const char *text, int32_t *value)
{
    if (text[0] == '\0') {
        *value = 0;
        return true;
    }
    char *end = NULL;
    errno = 0;
    long converted = strtol(text, &end, 10);
    if (end == text || *end != '\0' || errno == ERANGE || converted < INT32_MIN || converted > INT32_MAX) {
        return false;
    }
    *value = (int32_t)converted;
    return true;
}

static void _logIncompatibleType(void)
{
    lpaCoreLog(LPA_LOG_LEVEL_ERR, "Parameter type given is not compatible with parameter key!");
    lpaSetLastErrorCode(LPA_ERROR_INCORRECT_PARAMETER_TYPE);
}

bool lpaManagerSetConfigParameter(const char *key, int32_t type, const void *value, bool internalCall)
{
    bool result = false;
    const LpaConfigParameter *row = NULL;
    const char *keyTypeName = NULL;

    lpaCoreLog(LPA_LOG_LEVEL_DEB, "++ lpaManagerSetConfigParameter(...)");
    if (key == NULL || value == NULL) {
        lpaSetLastErrorCode(LPA_ERROR_INVALID_PARAMETER);
        goto end;
    }
    if (internalCall) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "Internal call to this function");
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "Parameter key name                            : %s", key);
    switch (type) {
    case T_BOOL:
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "Parameter type given                          : LPA_PARAMETER_TYPE_BOOL");
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "Parameter value (Type match cannot be checked): %s",
                   lpaBoolText(*(const uint8_t *)value != 0));
        break;
    case T_LONG:
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "Parameter type given                          : LPA_PARAMETER_TYPE_LONG");
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "Parameter value (Type match cannot be checked): %ld",
                   (long)*(const int32_t *)value);
        break;
    case T_STRING:
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "Parameter type given                          : LPA_PARAMETER_TYPE_STRING");
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "Parameter value (Type match cannot be checked): %s", (const char *)value);
        break;
    default:
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Parameter type given not managed. Value will be not logged!");
        break;
    }

    row = _lpaManagerFindConfigParameter(key);
    if (row == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Parameter key name not identified!");
        lpaSetLastErrorCode(LPA_ERROR_INVALID_PARAMETER);
        goto end;
    }
    if (row->isRestricted) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Parameter key not authorized!");
        lpaSetLastErrorCode(LPA_ERROR_PARAMETER_NOT_AUTHORIZED);
        goto end;
    }

    keyTypeName = _typeName(row->type);
    if (keyTypeName != NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "Parameter key identified, default type        : %s", keyTypeName);
    }
    switch (row->type) {
    case T_BOOL: {
        bool converted = false;
        if (type == T_BOOL) {
            converted = *(const uint8_t *)value != 0;
        } else if (type == T_STRING && _convertStringToBool((const char *)value, &converted)) {
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "Conversion from STRING to BOOL performed.");
        } else {
            _logIncompatibleType();
            goto end;
        }
        result = _lpaManagerSetBooleanParameterValue(row, &converted);
        break;
    }
    case T_LONG: {
        int32_t converted = 0;
        if (type == T_LONG) {
            converted = *(const int32_t *)value;
        } else if (type == T_STRING && _convertStringToLong((const char *)value, &converted)) {
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "Conversion from STRING to LONG performed.");
        } else {
            _logIncompatibleType();
            goto end;
        }
        result = _lpaManagerSetLongParameterValue(row, &converted);
        break;
    }
    case T_STRING:
        if (type != T_STRING) {
            _logIncompatibleType();
            goto end;
        }
        result = _lpaManagerSetStringParameterValue(row, (const char *)value);
        break;
    default:
        lpaCoreLog(LPA_LOG_LEVEL_ERR,
                   "Unknown parameter type returned from parameter list! DATA CORRUPTION ERROR CASE");
        lpaSetLastErrorCode(LPA_ERROR_INVALID_PARAMETER_TYPE);
        break;
    }

end:
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "-- lpaManagerSetConfigParameter() return %s", lpaBoolText(result));
    return result;
}

bool lpaManagerGetConfigParameter(const char *key, int32_t type, void *buffer, size_t bufferSize)
{
    bool result = false;
    const LpaConfigParameter *row = NULL;
    const char *givenTypeName = NULL;

    lpaCoreLog(LPA_LOG_LEVEL_DEB, "++ lpaManagerGetConfigParameter(...)");
    if (key == NULL || buffer == NULL || bufferSize == 0) {
        lpaSetLastErrorCode(LPA_ERROR_INVALID_PARAMETER);
        goto end;
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "Parameter key name                            : %s", key);
    givenTypeName = _typeName(type);
    if (givenTypeName != NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "Parameter type given                          : %s", givenTypeName);
    } else {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Parameter type given not managed, will be not displayed!");
    }

    row = _lpaManagerFindConfigParameter(key);
    if (row == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Parameter key name not identified!");
        lpaSetLastErrorCode(LPA_ERROR_INVALID_PARAMETER);
        goto end;
    }
    if (row->isRestricted) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Parameter key not authorized!");
        lpaSetLastErrorCode(LPA_ERROR_PARAMETER_NOT_AUTHORIZED);
        goto end;
    }
    if (type != row->type) {
        const char *keyTypeName = _typeName(row->type);
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Parameter type given does not match parameter key default type (%s)",
                   keyTypeName != NULL ? keyTypeName : "??");
        lpaSetLastErrorCode(LPA_ERROR_INVALID_PARAMETER_TYPE);
        goto end;
    }
    if ((type == T_BOOL && bufferSize != 1) || (type == T_LONG && bufferSize != sizeof(int32_t))) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Size of variable receiving value does not match value type!");
        lpaSetLastErrorCode(LPA_ERROR_INVALID_PARAMETER_TYPE);
        goto end;
    }
    switch (type) {
    case T_BOOL: {
        bool value = false;
        result = _lpaManagerGetBooleanParameterValue(row->id, &value);
        if (result) {
            *(uint8_t *)buffer = value ? 1 : 0;
        }
        break;
    }
    case T_LONG: {
        int32_t value = 0;
        result = _lpaManagerGetLongParameterValue(row->id, &value);
        if (result) {
            memcpy(buffer, &value, sizeof(value));
        }
        break;
    }
    case T_STRING:
        result = _lpaManagerGetStringParameterValue(row->id, (char *)buffer, bufferSize);
        break;
    default:
        lpaCoreLog(LPA_LOG_LEVEL_ERR,
                   "Unknown parameter type returned from parameter list! DATA CORRUPTION ERROR CASE");
        lpaSetLastErrorCode(LPA_ERROR_INVALID_PARAMETER_TYPE);
        break;
    }

end:
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "-- lpaManagerGetConfigParameter() return %s", lpaBoolText(result));
    return result;
}

/* ---- per-type stores ---- */

static bool *_engineBoolean(int32_t parameterId)
{
    switch (parameterId) {
    case LPA_PARAMETER_ID_SEND_PIR_DURING_DOWNLOAD:
        return &_sendPIRDuringDownloadProfile;
    case LPA_PARAMETER_ID_ADD_LE_TO_APDU_CASE4:
        return &_addLeToApduCase4;
    case LPA_PARAMETER_ID_PROFILE_REFRESH_FLAG:
        return &_profileRefreshFlag;
    default:
        return NULL;
    }
}

static bool _isHttpMediaBooleanParameter(int32_t parameterId)
{
    return parameterId >= LPA_PARAMETER_ID_ACTIVATE_CURL_DEBUG_MODE && parameterId <= LPA_PARAMETER_ID_CURL_SSL_VERIFYHOST;
}

static bool _isHttpMediaLongParameter(int32_t parameterId)
{
    return parameterId == LPA_PARAMETER_ID_CURL_CONNECT_TIMEOUT || parameterId == LPA_PARAMETER_ID_CURL_TIMEOUT;
}

static bool _isMemoryKnob(int32_t parameterId)
{
    return parameterId >= LPA_PARAMETER_ID_MEM_ERR_FIRST && parameterId <= LPA_PARAMETER_ID_MEM_ERR_LAST;
}

static uint8_t _memoryKnob(int32_t parameterId)
{
    return (uint8_t)(parameterId - (LPA_PARAMETER_ID_MEM_ERR_FIRST - 1));
}

/* A setter given a NULL row or value. */
static void _refuseNullSetterArgument(const char *setterName)
{
    lpaCoreLog(LPA_LOG_LEVEL_ERR, "%s() : NULL parameter! Operation canceled.", setterName);
    lpaSetLastErrorCode(LPA_ERROR_INVALID_PARAMETER);
}

bool _lpaManagerSetBooleanParameterValue(const LpaConfigParameter *parameter, const bool *value)
{
    bool result = false;
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "++ _lpaManagerSetBooleanParameterValue(...)");
    if (parameter == NULL || value == NULL) {
        _refuseNullSetterArgument("_lpaManagerSetBooleanParameterValue");
    } else if (_engineBoolean(parameter->id) != NULL) {
        *_engineBoolean(parameter->id) = *value;
        result = true;
    } else if (_isHttpMediaBooleanParameter(parameter->id)) {
        result = lpaHttpOptionAccess.setBoolean(parameter->id, *value);
    } else {
        lpaSetLastErrorCode(LPA_ERROR_UNKNOWN_PARAMETER);
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "-- _lpaManagerSetBooleanParameterValue() return %s", lpaBoolText(result));
    return result;
}

bool _lpaManagerGetBooleanParameterValue(int32_t parameterId, bool *value)
{
    bool result = false;
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "++ _lpaManagerGetBooleanParameterValue(parameterId=%d)", (int)parameterId);
    if (value == NULL) {
        /* no error code */
    } else if (_engineBoolean(parameterId) != NULL) {
        *value = *_engineBoolean(parameterId);
        result = true;
    } else if (_isHttpMediaBooleanParameter(parameterId)) {
        result = lpaHttpOptionAccess.getBoolean(parameterId, value);
        if (result) {
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "Parameter value                               : %s", lpaBoolText(*value));
        }
    } else {
        lpaSetLastErrorCode(LPA_ERROR_UNKNOWN_PARAMETER);
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "-- _lpaManagerGetBooleanParameterValue() return %s", lpaBoolText(result));
    return result;
}

static bool _lpaManagerSetLongMemoryErrorParameterValue(int32_t parameterId, int32_t value)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "++ _lpaManagerSetLongMemoryErrorParameterValue(...)");
    bool result = lpaCoreMemorySetParamGenerateErr(_memoryKnob(parameterId), value);
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "-- _lpaManagerSetLongMemoryErrorParameterValue() return %s", lpaBoolText(result));
    return result;
}

bool _lpaManagerSetLongParameterValue(const LpaConfigParameter *parameter, const int32_t *value)
{
    bool result = false;
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "++ _lpaManagerSetLongParameterValue(...)");
    if (parameter == NULL || value == NULL) {
        _refuseNullSetterArgument("_lpaManagerSetLongParameterValue");
    } else if (parameter->id == LPA_PARAMETER_ID_LOG_MAX_SIZE) {
        /* Refused without an error code: too small, or no log backend. */
        if (*value > LPA_LOG_MAX_SIZE_FLOOR && lpaLogHooks.installed && lpaLogHooks.setMaxSize != NULL) {
            result = lpaLogHooks.setMaxSize(*value);
        }
    } else if (_isHttpMediaLongParameter(parameter->id) && *value < 0) {
        /* A negative time-out would fail every later transfer; 0 means none. */
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Negative time-out value refused!");
        lpaSetLastErrorCode(LPA_ERROR_INCORRECT_PARAMETER_TYPE);
    } else if (_isHttpMediaLongParameter(parameter->id)) {
        result = lpaHttpOptionAccess.setLong(parameter->id, *value);
    } else if (_isMemoryKnob(parameter->id)) {
        result = _lpaManagerSetLongMemoryErrorParameterValue(parameter->id, *value);
    } else {
        lpaSetLastErrorCode(LPA_ERROR_UNKNOWN_PARAMETER);
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "-- _lpaManagerSetLongParameterValue() return %s", lpaBoolText(result));
    return result;
}

bool _lpaManagerGetLongParameterValue(int32_t parameterId, int32_t *value)
{
    bool result = false;
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "++ _lpaManagerGetLongParameterValue(parameterId=%d)", (int)parameterId);
    if (value == NULL) {
        lpaSetLastErrorCode(LPA_ERROR_INVALID_PARAMETER);
    } else if (parameterId == LPA_PARAMETER_ID_LOG_MAX_SIZE) {
        *value = lpaCoreLogGetMaxSize();
        result = true;
    } else if (_isHttpMediaLongParameter(parameterId)) {
        result = lpaHttpOptionAccess.getLong(parameterId, value);
    } else if (_isMemoryKnob(parameterId)) {
        result = lpaCoreMemoryGetGenerateErr(_memoryKnob(parameterId), value);
    } else {
        lpaSetLastErrorCode(LPA_ERROR_UNKNOWN_PARAMETER);
    }
    if (result) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "Parameter value                               : %ld", (long)*value);
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "-- _lpaManagerGetLongParameterValue() return %s", lpaBoolText(result));
    return result;
}

/* deviceInfoTlv: kept as text and as bytes; a text that does not convert
 * clears both and answers false without an error code. */
static bool _setDeviceInfoTlv(const char *text)
{
    size_t length = strlen(text);
    if (length > LPA_DEVICE_INFO_TLV_TEXT_MAX) {
        lpaSetLastErrorCode(LPA_ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    _deviceInfoTlvLength = 0;
    size_t count = sizeof(_deviceInfoTlvBytes);
    if (!hexStr2ByteArray(text, length, _deviceInfoTlvBytes, &count)) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "-- Unable to convert DeviceInfoTLV element as ByteArray !!");
        memset(_deviceInfoTlvText, 0, sizeof(_deviceInfoTlvText));
        memset(_deviceInfoTlvBytes, 0, sizeof(_deviceInfoTlvBytes));
        return false;
    }
    _deviceInfoTlvLength = count;
    memcpy(_deviceInfoTlvText, text, length + 1);
    return true;
}

bool _lpaManagerSetStringParameterValue(const LpaConfigParameter *parameter, const char *value)
{
    bool result = false;
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "++ _lpaManagerSetStringParameterValue(...)");
    if (parameter == NULL || value == NULL) {
        _refuseNullSetterArgument("_lpaManagerSetStringParameterValue");
    } else {
        switch (parameter->id) {
        case LPA_PARAMETER_ID_READER_NAME:
            result = _storeText(_readerName, sizeof(_readerName), value);
            break;
        case LPA_PARAMETER_ID_LOG_LEVEL:
            /* An unknown or unselectable name: false without an error code. */
            result = logSetLevelByName(value);
            break;
        case LPA_PARAMETER_ID_CERT_PATH:
            result = _storeText(_certPath, sizeof(_certPath), value);
            break;
        case LPA_PARAMETER_ID_DEVICE_INFO_TLV:
            result = _setDeviceInfoTlv(value);
            break;
        default:
            lpaSetLastErrorCode(LPA_ERROR_UNKNOWN_PARAMETER);
            break;
        }
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "-- _lpaManagerSetStringParameterValue() return %s", lpaBoolText(result));
    return result;
}

/* Name of the log backend's current level, or NULL. */
static const char *_currentLogLevelName(void)
{
    if (!lpaLogHooks.installed || lpaLogHooks.getLevel == NULL) {
        return NULL;
    }
    int32_t level = lpaLogHooks.getLevel();
    for (const LpaLogLevel *row = lpaLogLevelTable; row->name != NULL; ++row) {
        if (row->level == level) {
            return row->name;
        }
    }
    return NULL;
}

bool _lpaManagerGetStringParameterValue(int32_t parameterId, char *buffer, size_t bufferSize)
{
    bool result = false;
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "++ _lpaManagerGetStringParameterValue(parameterId=%d)", (int)parameterId);
    if (buffer == NULL) {
        lpaSetLastErrorCode(LPA_ERROR_INVALID_PARAMETER);
    } else {
        switch (parameterId) {
        case LPA_PARAMETER_ID_READER_NAME:
            result = _copyTextOut(_readerName, buffer, bufferSize);
            break;
        case LPA_PARAMETER_ID_LOG_LEVEL: {
            const char *name = _currentLogLevelName();
            if (name == NULL) {
                lpaSetLastErrorCode(LPA_ERROR_PARAMETER_INTERNAL_ERROR);
            } else {
                result = _copyTextOut(name, buffer, bufferSize);
            }
            break;
        }
        case LPA_PARAMETER_ID_CERT_PATH:
            result = _copyTextOut(_certPath, buffer, bufferSize);
            break;
        case LPA_PARAMETER_ID_DEVICE_INFO_TLV:
            result = _copyTextOut(_deviceInfoTlvText, buffer, bufferSize);
            break;
        default:
            lpaSetLastErrorCode(LPA_ERROR_UNKNOWN_PARAMETER);
            break;
        }
    }
    if (result) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "Parameter value                               : %s", buffer);
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "-- _lpaManagerGetStringParameterValue() return %s", lpaBoolText(result));
    return result;
}

/* ---- direct access ---- */

extern "C" LPA_API bool lpaManagerSetCertPath(const char *path)
{
    if (path == NULL || strlen(path) >= sizeof(_certPath)) {
        return false;
    }
    memcpy(_certPath, path, strlen(path) + 1);
    return true;
}

void _lpaManagerClearEngineValues(void)
{
    memset(_readerName, 0, sizeof(_readerName));
    memset(_certPath, 0, sizeof(_certPath));
    memset(_deviceInfoTlvText, 0, sizeof(_deviceInfoTlvText));
    memset(_deviceInfoTlvBytes, 0, sizeof(_deviceInfoTlvBytes));
    _deviceInfoTlvLength = 0;
}

const char *lpaManagerGetReaderName(void)
{
    return _readerName;
}

const char *lpaManagerGetCertPath(void)
{
    return _certPath;
}

const char *lpaManagerGetDeviceInfoTlvText(void)
{
    return _deviceInfoTlvText;
}

const uint8_t *lpaManagerGetDeviceInfoTlvBytes(size_t *length)
{
    if (length != NULL) {
        *length = _deviceInfoTlvLength;
    }
    return _deviceInfoTlvBytes;
}

bool lpaManagerIsSendPIRDuringDownloadProfile(void)
{
    return _sendPIRDuringDownloadProfile;
}

bool lpaManagerIsAddLeToApduCase4(void)
{
    return _addLeToApduCase4;
}

bool lpaManagerIsProfileRefreshFlag(void)
{
    return _profileRefreshFlag;
}

/* ---- configuration file ---- */

bool lpaManagerSetConfigFilePath(const char *path)
{
    if (path == NULL || strlen(path) >= sizeof(_configFilePath)) {
        return false;
    }
    memcpy(_configFilePath, path, strlen(path) + 1);
    return true;
}

static char *_skipWhiteSpace(char *text)
{
    while (*text != '\0' && isspace((unsigned char)*text)) {
        ++text;
    }
    return text;
}

/* Handles one line (or one piece of a long line) of the file. */
void _configFileHandleLine(char *line)
{
    line[strcspn(line, "\r\n")] = '\0';
    char *entry = _skipWhiteSpace(line);
    if (entry[0] == '\0' || entry[0] == '#' || entry[0] == '/' || entry[0] == ';') {
        return;
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "Parsing configuration entry '%s' ...", entry);
    char *separator = strchr(entry, '=');
    if (separator == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "Separator not found on Configuration entry!");
        return;
    }
    *separator = '\0';
    char *key = _skipWhiteSpace(entry);
    char *value = _skipWhiteSpace(separator + 1);
    if (key[0] == '\0' || value[0] == '\0') {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "Incorrect configuration entry !");
        return;
    }
    lpaCoreLog(LPA_LOG_LEVEL_INF, "managing LPA parameter : '%s'='%s'", key, value);
    int32_t type = LPA_PARAMETER_TYPE_NOT_FOUND;
    bool exists = false;
    lpaManagerIsConfigParameterExist(key, &type, &exists);
    if (!exists) {
        const LpaConfigParameter *row = _lpaManagerFindConfigParameter(key);
        if (row != NULL && row->isRestricted) {
            lpaCoreLog(LPA_LOG_LEVEL_WAR, "No access right to update LPA parameter '%s' with value '%s' !", key, value);
        } else {
            lpaCoreLog(LPA_LOG_LEVEL_WAR, "parameter '%s' not exit or not supported", key);
        }
        return;
    }
    if (lpaManagerSetConfigParameter(key, LPA_PARAMETER_TYPE_STRING, value, true)) {
        lpaCoreLog(LPA_LOG_LEVEL_INF, "LPA parameter '%s' configured successfully with value '%s'", key, value);
    } else {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "Unable to set LPA parameter '%s' with value '%s' !", key, value);
    }
}

bool lpaConfigFileLoad(bool *present)
{
    lpaCoreLog(LPA_LOG_LEVEL_INF, "lpaConfigFileLoad() ...");
    if (_configFileLoaded) {
        lpaCoreLog(LPA_LOG_LEVEL_INF, "configuration file already loaded");
        if (present != NULL) {
            *present = true;
        }
        return true;
    }
    lpaCoreLog(LPA_LOG_LEVEL_INF, "opening '%s' configuration file ...", _configFilePath);
    FILE *file = fopen(_configFilePath, "r");
    if (file == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "unable to open configuration file");
        if (present != NULL) {
            *present = false;
        }
        return false;
    }
    if (present != NULL) {
        *present = true;
    }
    lpaCoreLog(LPA_LOG_LEVEL_INF, "loading '%s' configuration file ...", _configFilePath);
    char line[LPA_CONFIG_FILE_LINE_SIZE];
    while (fgets(line, sizeof(line), file) != NULL) {
        _configFileHandleLine(line);
    }
    _configFileLoaded = true;
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "Closing configuration file ...");
    fclose(file);
    return true;
}
