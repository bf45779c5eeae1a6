/*
 * Hollowbright eSIM LPA engine: the exported lpa API.
 * Compiles as C and as C++.
 */
#ifndef LPA_H
#define LPA_H

#include <stdint.h>
#include <stdbool.h>
#include <stddef.h>

#include "lpa_error_codes.h"

#ifndef LPA_API
#define LPA_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------------
 * Error codes
 * ------------------------------------------------------------------------ */

/* The named error codes (LPA_NO_ERROR = 0 ... SE_MEDIA_E_CHAINING_GET_RESPONSE),
 * generated from LPA_ERROR_CODE_LIST. Codes are handled as uint32_t. */
#define LPA_ERROR_CODE_ENUMERATOR(code, identifier) identifier = (code),
typedef enum LpaErrorCode {
    LPA_ERROR_CODE_LIST(LPA_ERROR_CODE_ENUMERATOR)
} LpaErrorCode;
#undef LPA_ERROR_CODE_ENUMERATOR

/* One row of the error table. The table ends with the row {0, NULL}. */
typedef struct LpaErrorCodeDescription {
    uint32_t code;
    const char *name;
} LpaErrorCodeDescription;

/* Returns the last error code and clears it. */
LPA_API uint32_t lpaGetErrorCode(void);

/* Returns the identifier of a code as text, or "Unknown LPA API Error Code". */
LPA_API const char *lpaGetErrorCodeDescription(uint32_t code);

/* Returns the first row of the error table; walk it up to the row whose
 * name is NULL. The rows are not sorted by code. */
LPA_API const LpaErrorCodeDescription *lpaExGetListErrorCodeDescription(void);

/* ------------------------------------------------------------------------
 * Configuration parameters
 * ------------------------------------------------------------------------ */

/* Types of configuration parameter values: BOOL is one byte (0 or 1),
 * LONG an int32_t, STRING a NUL-terminated text. */
#define LPA_PARAMETER_TYPE_BOOL   0
#define LPA_PARAMETER_TYPE_LONG   1
#define LPA_PARAMETER_TYPE_STRING 2

/* ------------------------------------------------------------------------
 * Execution-error events
 * ------------------------------------------------------------------------ */

/* Values of LpaEventExecutionError.source. */
#define LPA_EXECUTION_ERROR_SOURCE_SERVER_STATUS  1 /* functionExecutionStatus of an ES9+/ES11 answer */
#define LPA_EXECUTION_ERROR_SOURCE_HTTP_STATUS    2 /* HTTP status of an ES9+/ES11 exchange */
#define LPA_EXECUTION_ERROR_SOURCE_HTTP_TRANSPORT 3 /* the HTTP transport */
#define LPA_EXECUTION_ERROR_SOURCE_SE_MEDIA       4 /* the SE media */

/* Bits of LpaEventExecutionError.presentFields. */
#define LPA_EXECUTION_ERROR_FIELD_SUBJECT_CODE 0x1
#define LPA_EXECUTION_ERROR_FIELD_REASON_CODE  0x2
#define LPA_EXECUTION_ERROR_FIELD_TEXT         0x4

/* An execution error raised by a driver or by the ES9+ client. The event
 * and the texts it points to are valid only during the callback. */
typedef struct LpaEventExecutionError {
    int32_t source;
    int32_t presentFields;
    const char *subjectCode;
    const char *reasonCode;
    const char *text;
} LpaEventExecutionError;

typedef void (*LpaEventExecutionErrorCallback)(void *userData, const LpaEventExecutionError *event);

/* ------------------------------------------------------------------------
 * Download callbacks
 * ------------------------------------------------------------------------ */

/* The queries of the confirmationCode and userConsent callbacks. */
typedef struct LpaConfirmationCodeQuery LpaConfirmationCodeQuery;
typedef struct LpaUserConsentQuery LpaUserConsentQuery;

/* The application's callbacks for a download or a notification run. The
 * record and every member may be NULL. Six 8-byte fields, in this order. */
typedef struct LpaDownloadCallbacks {
    void *userData; /* given back as the first argument of every callback */
    uint64_t reserved; /* not read by the engine */
    void (*progress)(void *userData, int phase, const char *text);
    LpaEventExecutionErrorCallback executionError;
    bool (*confirmationCode)(void *userData, LpaConfirmationCodeQuery *query);
    bool (*userConsent)(void *userData, LpaUserConsentQuery *query);
} LpaDownloadCallbacks;

#ifdef __cplusplus
static_assert(sizeof(LpaDownloadCallbacks) == 48, "LpaDownloadCallbacks is six 8-byte fields");
#else
_Static_assert(sizeof(LpaDownloadCallbacks) == 48, "LpaDownloadCallbacks is six 8-byte fields");
#endif

#ifdef __cplusplus
}
#endif

#endif /* LPA_H */
