/*
 * Hexadecimal text to bytes, shared by the engine modules (configuration,
 * APDU replies, transaction ids).
 */
#ifndef LPA_HEX_H
#define LPA_HEX_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

/* compareEqualStringIgnoringCase lives with the other text helpers. */
#include "lpa_string.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Converts hexLength characters of hexadecimal text (either case, two
 * digits a byte, high nibble first) into out. *outLength gives the capacity
 * of out on entry and receives the number of bytes written on success.
 * Fails (false, with a DEB line) on fewer than two characters, an odd
 * count or a character that is not a hexadecimal digit, and (false, no
 * line) on a result that does not fit the capacity; bytes before the
 * failing pair may have been written. */
bool hexStr2ByteArray(const char *hex, size_t hexLength, uint8_t *out, size_t *outLength);

/* Writes length bytes as upper-case hexadecimal text (two digits a byte,
 * high nibble first) with a NUL into out of outCapacity characters. Answers
 * false, with out holding "" when outCapacity > 0, when the text and its
 * NUL do not fit or out is NULL; data may be NULL only with length 0. */
bool byteArray2HexStr(const uint8_t *data, size_t length, char *out, size_t outCapacity);

#ifdef __cplusplus
}
#endif

#endif /* LPA_HEX_H */
