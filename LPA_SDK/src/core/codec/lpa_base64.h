/*
 * Base64 (RFC 4648, standard alphabet, "=" padding, no line breaks), as
 * binary values travel in the JSON bodies of ES9+ and ES11.
 */
#ifndef LPA_BASE64_H
#define LPA_BASE64_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Characters encodeBase64 needs for length bytes, the NUL included:
 * 4 * ceil(length / 3) + 1. */
size_t encodeBase64BufferSize(size_t length);

/* Encodes length bytes into out, which must hold
 * encodeBase64BufferSize(length) characters; the text is NUL-terminated.
 * Answers the number of characters written, without the NUL. */
uint32_t encodeBase64(const uint8_t *data, uint32_t length, char *out);

/* Decodes a text of a multiple of 4 characters into out (capacity of at
 * least 3 * length / 4 bytes). Lenient: a character outside the alphabet
 * counts as 0, and padding inside the text does not stop decoding. Answers
 * true, and the byte count in *outLength (which may be NULL), exactly when
 * at least one byte was written; refuses (false, nothing written) missing
 * arguments, a length that is not a multiple of 4 and a short capacity. */
bool decodeBase64(const char *text, size_t length, uint8_t *out, size_t *outLength, size_t capacity);

#ifdef __cplusplus
}
#endif

#endif /* LPA_BASE64_H */
