/*
 * Configuration parameters of the engine: nineteen keys with a fixed type
 * each, read and written by key (case-insensitive), each routed to the one
 * store that holds it (engine values here, the log backend, the allocator's
 * fault knobs, the HTTP media options); and the configuration file
 * "lpa_config.ini", read once per process.
 *
 * Engine values (reader name, CA file path, DeviceInfo TLV and three
 * booleans) live here for the whole process; other modules read them
 * through the accessors below.
 *
 * Not thread-safe: the engine is driven from one thread at a time.
 */
#ifndef LPA_MANAGER_CONFIG_H
#define LPA_MANAGER_CONFIG_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#include "lpa.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Type reported for a key that is not in the table (or is restricted). */
#define LPA_PARAMETER_TYPE_NOT_FOUND 1664

#define LPA_READER_NAME_SIZE            64  /* text of fewer than 64 characters */
#define LPA_CERT_PATH_SIZE              260 /* text of fewer than 260 characters */
#define LPA_DEVICE_INFO_TLV_TEXT_MAX    384 /* hexadecimal digits */
#define LPA_DEVICE_INFO_TLV_TEXT_SIZE   385
#define LPA_DEVICE_INFO_TLV_BYTES_SIZE  193
#define LPA_CONFIG_FILE_PATH_SIZE       260
#define LPA_CONFIG_FILE_NAME            "lpa_config.ini"
#define LPA_CONFIG_FILE_LINE_SIZE       1024 /* lines are read in pieces of 1023 characters */

/* Parameter ids (not row numbers). */
#define LPA_PARAMETER_ID_READER_NAME                  1
#define LPA_PARAMETER_ID_SEND_PIR_DURING_DOWNLOAD     2
#define LPA_PARAMETER_ID_ADD_LE_TO_APDU_CASE4         3
#define LPA_PARAMETER_ID_LOG_LEVEL                    4
#define LPA_PARAMETER_ID_LOG_MAX_SIZE                 5
#define LPA_PARAMETER_ID_PROFILE_REFRESH_FLAG         6
#define LPA_PARAMETER_ID_ACTIVATE_CURL_DEBUG_MODE     7
#define LPA_PARAMETER_ID_CURL_SSL_VERIFYPEER          8
#define LPA_PARAMETER_ID_CURL_SSL_VERIFYHOST          9
#define LPA_PARAMETER_ID_CURL_CONNECT_TIMEOUT         10
#define LPA_PARAMETER_ID_CURL_TIMEOUT                 11
#define LPA_PARAMETER_ID_CERT_PATH                    12
#define LPA_PARAMETER_ID_DEVICE_INFO_TLV              13
#define LPA_PARAMETER_ID_MEM_ERR_FIRST                14 /* knob 1 */
#define LPA_PARAMETER_ID_MEM_ERR_LAST                 19 /* knob 6 */
#define LPA_PARAMETER_ID_END                          999

/* The smallest accepted logMaxSize is one more than this. */
#define LPA_LOG_MAX_SIZE_FLOOR 65536

/* One row of the parameter table; the table ends with {999, NULL, 0, 0}. */
typedef struct LpaConfigParameter {
    int32_t id;
    const char *key;
    int32_t type;
    int32_t isRestricted;
} LpaConfigParameter;

#define LPA_CONFIG_PARAMETER_COUNT 19

extern const LpaConfigParameter lpaConfigParameterList[LPA_CONFIG_PARAMETER_COUNT + 1];

/* The row of a key (case-insensitive, whole key), or NULL. No trace. */
const LpaConfigParameter *_lpaManagerFindConfigParameter(const char *key);

/* Answers whether a key exists and its type. Writes *exists = false and
 * *type = 1664 first; a restricted key reads as absent. True whenever the
 * three pointers are given (else 0x2001). */
bool lpaManagerIsConfigParameterExist(const char *key, int32_t *type, bool *exists);

/* Sets a parameter by key. value points at one byte (BOOL), an int32_t
 * (LONG) or the text (STRING); STRING values convert to BOOL and LONG keys.
 * internalCall adds one trace line and grants nothing. */
bool lpaManagerSetConfigParameter(const char *key, int32_t type, const void *value, bool internalCall);

/* Reads a parameter by key into buffer: bufferSize 1 for BOOL, 4 for LONG;
 * for STRING the text must fit with its NUL. No conversion. */
bool lpaManagerGetConfigParameter(const char *key, int32_t type, void *buffer, size_t bufferSize);

/* Per-type stores, by row (setters) or id (getters). */
/* The five curl parameters are options of the HTTP media, which sits
 * above this layer: the HTTP media manager defines this record, and the
 * parameter setters and getters reach the options through it. */
typedef struct LpaHttpOptionAccess {
    bool (*setBoolean)(int32_t parameterId, bool value);
    bool (*getBoolean)(int32_t parameterId, bool *value);
    bool (*setLong)(int32_t parameterId, int32_t value);
    bool (*getLong)(int32_t parameterId, int32_t *value);
} LpaHttpOptionAccess;
extern const LpaHttpOptionAccess lpaHttpOptionAccess;

bool _lpaManagerSetBooleanParameterValue(const LpaConfigParameter *parameter, const bool *value);
bool _lpaManagerGetBooleanParameterValue(int32_t parameterId, bool *value);
bool _lpaManagerSetLongParameterValue(const LpaConfigParameter *parameter, const int32_t *value);
bool _lpaManagerGetLongParameterValue(int32_t parameterId, int32_t *value);
bool _lpaManagerSetStringParameterValue(const LpaConfigParameter *parameter, const char *value);
bool _lpaManagerGetStringParameterValue(int32_t parameterId, char *buffer, size_t bufferSize);

/* Sets the path of the configuration file (fewer than 260 characters,
 * else false and nothing changes). */
bool lpaManagerSetConfigFilePath(const char *path);

/* Reads the configuration file once per process. *present tells whether
 * it could be opened. A file that cannot be opened is tried again by the
 * next call. */
bool lpaConfigFileLoad(bool *present);

/* Handles one line of the file (or one piece of a long line): sets the
 * parameter it names, skips comments, blanks and restricted names. The
 * line is changed in place. */
void _configFileHandleLine(char *line);

/* lpaManagerSetCertPath (exported) is declared in lpa_host.h. */

/* Empties readerName, certPath and deviceInfoTlv (text and bytes), without
 * a line (the engine's first initialisation). */
void _lpaManagerClearEngineValues(void);

/* Read accessors of the engine values. */
const char *lpaManagerGetReaderName(void);
const char *lpaManagerGetCertPath(void);
const char *lpaManagerGetDeviceInfoTlvText(void);
const uint8_t *lpaManagerGetDeviceInfoTlvBytes(size_t *length);
bool lpaManagerIsSendPIRDuringDownloadProfile(void);
bool lpaManagerIsAddLeToApduCase4(void);
bool lpaManagerIsProfileRefreshFlag(void);

#ifdef __cplusplus
}
#endif

#endif /* LPA_MANAGER_CONFIG_H */
