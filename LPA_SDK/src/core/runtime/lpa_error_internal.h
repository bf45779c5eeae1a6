/*
 * The engine's last error and execution-error forwarding, for engine code.
 * Part of the runtime layer (log, tracked memory, configuration, last
 * error), which uses only the platform layer.
 *
 * Engine modules set errors only through lpaSetLastErrorCode (the first
 * error since the last reset wins), read them in retry loops only through
 * lpaGetErrorCodeNoClear, and clear them only through lpaResetErrorCode.
 *
 * Not thread-safe: the engine is driven from one thread at a time.
 */
#ifndef LPA_ERROR_INTERNAL_H
#define LPA_ERROR_INTERNAL_H

#include <stdint.h>

#include "lpa.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Number of rows of lpaErrorCodeDescriptionList before its {0, NULL} row. */
#define LPA_ERROR_CODE_COUNT 131

/* The text answered for a code that is not in the table. */
#define LPA_UNKNOWN_ERROR_CODE_DESCRIPTION "Unknown LPA API Error Code"

extern const LpaErrorCodeDescription lpaErrorCodeDescriptionList[LPA_ERROR_CODE_COUNT + 1];

/* Stores the code unless a non-zero code is already stored. */
void lpaSetLastErrorCode(uint32_t code);

/* Sets the last error to 0. */
void lpaResetErrorCode(void);

/* Returns the last error and leaves it stored. */
uint32_t lpaGetErrorCodeNoClear(void);

/* Returns the last error without writing a line (for the frame's closing
 * line, which prints the code itself). */
uint32_t _lpaErrorCodePeek(void);

/* Sets the last error to 0 without writing a line (lpaGetErrorCode). */
void _lpaErrorCodeClearQuietly(void);

/* The name of a code in the table, or LPA_UNKNOWN_ERROR_CODE_DESCRIPTION. */
const char *_lpaErrorCodeDescription(uint32_t code);

/* Installs the application's execution-error callback and its user data
 * (NULL, NULL removes them). */
void _lpaManagerSetAppEventExecutionErrorCallback(LpaEventExecutionErrorCallback callback,
                                                  void *userData);

/* The execution-error callback the engine registers with its media drivers:
 * forwards the event, unchanged, to the application's callback if one is
 * installed. The context is not read. */
void _lpaManagerEventExecutionErrorCallback(void *context, const LpaEventExecutionError *event);

#ifdef __cplusplus
}
#endif

#endif /* LPA_ERROR_INTERNAL_H */
