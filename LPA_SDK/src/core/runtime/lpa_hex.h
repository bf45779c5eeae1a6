/*
 * Hexadecimal text to bytes and bytes to hexadecimal text, shared by the
 * engine modules.
 *
 * Not thread-safe: the engine is driven from one thread at a time.
 */
#ifndef LPA_HEX_H
#define LPA_HEX_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

/* compareEqualStringIgnoringCase lives with the other text helpers. */
#include "runtime/lpa_string.h"

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

/* Writes the bytes as upper-case hexadecimal text (two digits a byte, high
 * nibble first) and a NUL into out. Answers the number of characters
 * written without the NUL, or 0 (out left empty when capacity allows) when
 * bytes or out is NULL, length is 0, or the text and its NUL do not fit
 * the capacity. */
size_t byteArray2HexStr(const uint8_t *bytes, size_t length, char *out, size_t capacity);

#ifdef __cplusplus
}
#endif

#endif /* LPA_HEX_H */
