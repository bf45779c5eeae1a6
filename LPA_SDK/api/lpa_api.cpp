/*
 * The lpa exports that bring the engine up and down and answer questions
 * about it: lifecycle, versions, configuration parameters, the reader list
 * and the extended API (not available).
 */
#include <stdio.h>
#include <string.h>

#include "lpa.h"
#include "lpa_api_frame.h"
#include "runtime/lpa_core_log.h"
#include "runtime/lpa_error_internal.h"
#include "server/lpa_httpmedia.h"
#include "flows/lpa_manager.h"
#include "runtime/lpa_manager_config.h"
#include "card/se_media_manager.h"
#include "driver/httpmedia_curl.h"
#include "driver/semedia_genericmodem.h"

#define LPA_PATH_SIZE 260
#define LPA_LOG_FILE_NAME "lpa.log"
#define LPA_LOG_BACKUP_FILE_NAME "lpa.backup.log"

#define LPA_RELEASE_MAJOR 1
#define LPA_RELEASE_MINOR 6
#define LPA_RELEASE_REVISION 1
#define LPA_RELEASE_BUILD 1
#define LPA_NUMBER_OF_RETRY_FOR_CHAINED_GET_RESPONSE 2
#define LPA_MAX_SIZE_OF_DATA_IN_STORE_DATA_APDU 255

static const LpaApiVersion _lpaApiVersion = {1, 7};

/* Engine-wide state of the lifecycle. */
static bool _lpaInitialized = false;
static char _lpaLogFilePath[LPA_PATH_SIZE];
static char _lpaLogBackupPath[LPA_PATH_SIZE];
static char _lpaConfigFilePath[LPA_PATH_SIZE];

/* True when text is given and has fewer than LPA_PATH_SIZE characters. */
/* An empty folder would put the log and the configuration file at the
 * filesystem root; it is refused like a missing one. */
static bool _isUsableFolder(const char *text)
{
    return text != NULL && text[0] != '\0' && strnlen(text, LPA_PATH_SIZE) < LPA_PATH_SIZE;
}

/* Formats into a path buffer; false when the result needs LPA_PATH_SIZE
 * characters or more. */
static bool _buildPath(char *path, const char *format, const char *first, const char *second,
                       const char *third)
{
    int n = snprintf(path, LPA_PATH_SIZE, format, first, second, third);
    return n >= 0 && n < LPA_PATH_SIZE;
}

static void _writeBanner(void)
{
    lpaCoreLog(LPA_LOG_LEVEL_INF, "---==========================---");
    lpaCoreLog(LPA_LOG_LEVEL_INF, "--------------------------------");
    lpaCoreLog(LPA_LOG_LEVEL_INF, "LPA Module release %d.%d.%d.%d", LPA_RELEASE_MAJOR, LPA_RELEASE_MINOR,
               LPA_RELEASE_REVISION, LPA_RELEASE_BUILD);
    lpaCoreLog(LPA_LOG_LEVEL_INF, "LPA API : %d.%d", (int)_lpaApiVersion.major, (int)_lpaApiVersion.minor);
    lpaCoreLog(LPA_LOG_LEVEL_INF, "Build option(s):");
    lpaCoreLog(LPA_LOG_LEVEL_INF, "  - LPA_SDK__PLATFORM_WIN");
    lpaCoreLog(LPA_LOG_LEVEL_INF, "  - LPA_SDK__MEMORY");
    lpaCoreLog(LPA_LOG_LEVEL_INF, "  - LPA_SDK__MEMORY_MONITORING");
    lpaCoreLog(LPA_LOG_LEVEL_INF, "  - LPA_SDK__SEMEDIA_DRIVER_GENERIC_MODEM");
    lpaCoreLog(LPA_LOG_LEVEL_INF, "  - LPA_SDK__NUMBER_OF_RETRY_FOR_CHAINED_GET_RESPONSE - Value: %d",
               LPA_NUMBER_OF_RETRY_FOR_CHAINED_GET_RESPONSE);
    lpaCoreLog(LPA_LOG_LEVEL_INF, "  - LPA_SDK__MAX_SIZE_OF_DATA_IN_STORE_DATA_APDU - Value: %d",
               LPA_MAX_SIZE_OF_DATA_IN_STORE_DATA_APDU);
    lpaCoreLog(LPA_LOG_LEVEL_INF, "--------------------------------");
    lpaCoreLog(LPA_LOG_LEVEL_INF, "------ LPA Initialize ------");
    lpaCoreLog(LPA_LOG_LEVEL_INF, "LPAManager initialization ...");
}

/* The configuration file step; false (with the code) only when its path
 * does not fit. */
static bool _manageConfigurationFile(const char *inputFolder, uint32_t *error)
{
    lpaCoreLog(LPA_LOG_LEVEL_INF, "---- =====================  ----");
    lpaCoreLog(LPA_LOG_LEVEL_INF, "Manage Configuration file ...");
    if (!_buildPath(_lpaConfigFilePath, "%s%s%s", inputFolder, "/", LPA_CONFIG_FILE_NAME)) {
        *error = LPA_ERROR_INSUFFICIENT_BUFFER;
        return false;
    }
    lpaManagerSetConfigFilePath(_lpaConfigFilePath);
    lpaCoreLog(LPA_LOG_LEVEL_INF, "Loading configuration file (if present) ...");
    bool present = false;
    if (lpaConfigFileLoad(&present)) {
        lpaCoreLog(LPA_LOG_LEVEL_INF, "Configuration file loaded");
    } else if (!present) {
        lpaCoreLog(LPA_LOG_LEVEL_INF, "Configuration file not present");
    } else {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "Unable to load configuration file");
    }
    return true;
}

/* Steps after the log is open; false with the code on failure. A failed
 * pass deletes the media records it created. */
static bool _initializeEngine(const char *inputFolder, uint32_t *error)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "++ lpaManagerInitialize(...)");
    ++lpaApiCallDepth;
    lpaManagerInitialize();
    --lpaApiCallDepth;
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "-- lpaManagerInitialize(...)");
    if (!lpaManagerIsInitialized()) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Error occured during lpaManagerInitialize() ");
        *error = LPA_ERROR_UNABLE_TO_INITIALIZE_LPA_MANAGER;
        return false;
    }

    lpaCoreLog(LPA_LOG_LEVEL_INF, "LPAManager initialization done successfully");
    lpaCoreLog(LPA_LOG_LEVEL_INF, "---- =====================  ----");
    lpaCoreLog(LPA_LOG_LEVEL_INF, "Initialize SE Media () ...");
    bool createsSeMedia = (_seMedia == NULL);
    if (!lpaManagerInitializeSEMedia(New_SEMediaGenericModem, Delete_SEMediaGenericModem)) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Error occured during SE Media initialization");
        *error = LPA_ERROR_INVALID_PARAMETER;
        lpaManagerDeleteMedia(createsSeMedia, false);
        return false;
    }

    lpaCoreLog(LPA_LOG_LEVEL_INF, "---- =====================  ----");
    lpaCoreLog(LPA_LOG_LEVEL_INF, "Initialize HTTP Media () ...");
    bool createsHttpMedia = (_httpMedia == NULL);
    bool ok = lpaManagerInitializeHttpMedia(New_HTTPMediaCurl, Delete_HTTPMediaCurl);
    if (ok) {
        ok = _manageConfigurationFile(inputFolder, error);
    } else {
        *error = LPA_ERROR_INVALID_PARAMETER;
    }
    if (!ok) {
        lpaManagerDeleteMedia(true, createsHttpMedia);
    }
    return ok;
}

static bool _logIsOpen(void)
{
    return lpaLogHooks.installed && lpaLogHooks.isOpen != NULL && lpaLogHooks.isOpen();
}

extern "C" LPA_API const LpaApiVersion *lpaGetApiVersion(void)
{
    return &_lpaApiVersion;
}

extern "C" LPA_API bool lpaInitialize(const char *folder)
{
    return lpaInitializeWithInputOutputFolder(folder, folder);
}

extern "C" LPA_API bool lpaInitializeWithInputOutputFolder(const char *inputFolder, const char *outputFolder)
{
    if (!_lpaInitialized) {
        bool result = false;
        uint32_t error = LPA_NO_ERROR;
        memset(_lpaLogFilePath, 0, sizeof(_lpaLogFilePath));
        memset(_lpaLogBackupPath, 0, sizeof(_lpaLogBackupPath));
        if (!_isUsableFolder(inputFolder) || !_isUsableFolder(outputFolder)) {
            error = LPA_ERROR_INVALID_PARAMETER;
        } else if (!_buildPath(_lpaLogFilePath, "%s//%s%s", outputFolder, LPA_LOG_FILE_NAME, "") ||
                   !_buildPath(_lpaLogBackupPath, "%s//%s%s", outputFolder, LPA_LOG_BACKUP_FILE_NAME, "")) {
            error = LPA_ERROR_INSUFFICIENT_BUFFER;
        } else {
            if (!lpaLogHooks.installed) {
                lpaCoreLogInstallDefaultBackend();
            }
            if (!_logIsOpen() && lpaLogHooks.open != NULL) {
                lpaLogHooks.open(_lpaLogFilePath, _lpaLogBackupPath);
            }
            _writeBanner();
            result = _initializeEngine(inputFolder, &error);
        }
        if (result) {
            _lpaInitialized = true;
        } else {
            lpaSetLastErrorCode(error);
        }
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "Activate log limitation mechanism ...");
        if (lpaLogHooks.installed && lpaLogHooks.setRotation != NULL) {
            lpaLogHooks.setRotation(true);
        }
        lpaCoreLog(LPA_LOG_LEVEL_INF, "--------------------------------");
        lpaCoreLogFlush();
        return result;
    }
    lpaCoreLog(LPA_LOG_LEVEL_INF, "--------------------------------");
    lpaCoreLogFlush();
    return false;
}

extern "C" LPA_API bool lpaUninitialize(void)
{
    if (!_lpaInitialized) {
        return false;
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "------ LPA Uninitialize ------");
    lpaManagerDeleteMedia(true, true);
    if (lpaLogHooks.installed && lpaLogHooks.close != NULL) {
        lpaLogHooks.close();
    }
    _lpaInitialized = false;
    return true;
}

extern "C" LPA_API bool lpaIsInitialized(void)
{
    return _lpaInitialized;
}

extern "C" LPA_API bool lpaGetVersion(LpaVersion *version)
{
    _lpaApiFrameOpen("lpaGetVersion");
    lpaResetErrorCode();
    if (version != NULL) {
        version->major = LPA_RELEASE_MAJOR;
        version->minor = LPA_RELEASE_MINOR;
        version->revision = LPA_RELEASE_REVISION;
        version->build = LPA_RELEASE_BUILD;
    }
    _lpaApiFrameClose();
    return version != NULL;
}

/* The frame of the parameter exports: no "++"/"--" lines. */
static void _enterParameterFrame(const char *apiName)
{
    _lpaApiFrameOpen(apiName);
    lpaResetErrorCode();
    ++lpaApiCallDepth;
}

static bool _leaveParameterFrame(bool result)
{
    --lpaApiCallDepth;
    _lpaApiFrameClose();
    return result;
}

extern "C" LPA_API bool lpaSetConfigParameter(const char *key, int32_t type, const void *value)
{
    _enterParameterFrame("lpaSetConfigParameter");
    return _leaveParameterFrame(lpaManagerSetConfigParameter(key, type, value, false));
}

extern "C" LPA_API bool lpaGetConfigParameter(const char *key, int32_t type, void *buffer, size_t bufferSize)
{
    _enterParameterFrame("lpaGetConfigParameter");
    return _leaveParameterFrame(lpaManagerGetConfigParameter(key, type, buffer, bufferSize));
}

extern "C" LPA_API bool lpaIsConfigParameterExist(const char *key, int32_t *type, bool *exists)
{
    _enterParameterFrame("lpaIsConfigParameterExist");
    return _leaveParameterFrame(lpaManagerIsConfigParameterExist(key, type, exists));
}

extern "C" LPA_API bool lpaGetReaderList(char (*readerNames)[LPA_READER_NAME_LENGTH], size_t capacity,
                                        size_t *readerCount)
{
    _lpaApiFrameOpen("lpaGetReaderList");
    lpaResetErrorCode();
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "++ lpaGetReaderList()");
    ++lpaApiCallDepth;
    bool established = seMediaManagerIsContextEstablished() || seMediaManagerEstablishContext();
    bool listResult = false;
    if (established && readerNames != NULL && readerCount != NULL) {
        listResult = seMediaManagerListReader(readerNames, capacity, readerCount);
    }
    bool releaseResult = seMediaManagerReleaseContext();
    bool result = listResult && releaseResult;
    --lpaApiCallDepth;
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "-- lpaGetReaderList() : return %s", lpaBoolText(result));
    _lpaApiFrameClose();
    return result;
}

/* The extended API: the first three write their "++"/"--" lines. */
static bool _extendedApiUnavailable(const char *apiName, bool traced)
{
    _lpaApiFrameOpen(apiName);
    lpaResetErrorCode();
    if (traced) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "++ %s()", apiName);
    }
    lpaSetLastErrorCode(LPA_ERROR_EXTENDED_API_UNAVAILABLE);
    if (traced) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "-- %s() : return false", apiName);
    }
    _lpaApiFrameClose();
    return false;
}

extern "C" LPA_API bool lpaExGetFullParametersList(void)
{
    return _extendedApiUnavailable("lpaExGetFullParametersList", true);
}

extern "C" LPA_API bool lpaExClearProfileNotification(void)
{
    return _extendedApiUnavailable("lpaExClearProfileNotification", true);
}

extern "C" LPA_API bool lpaExGetProfileNotificationList(void)
{
    return _extendedApiUnavailable("lpaExGetProfileNotificationList", true);
}

extern "C" LPA_API bool lpaExCardReset(void)
{
    return _extendedApiUnavailable("lpaExCardReset", false);
}

extern "C" LPA_API bool lpaExGetExtraVersion(void)
{
    return _extendedApiUnavailable("lpaExGetExtraVersion", false);
}

extern "C" LPA_API bool lpaExWriteMemoryStatusDumpToLog(void)
{
    return _extendedApiUnavailable("lpaExWriteMemoryStatusDumpToLog", false);
}

extern "C" LPA_API bool lpaExGetMemoryStatus(void)
{
    return _extendedApiUnavailable("lpaExGetMemoryStatus", false);
}

extern "C" LPA_API bool lpaExCheckMemoryAllocated(void)
{
    return _extendedApiUnavailable("lpaExCheckMemoryAllocated", false);
}
