/*
 * One-shot SHA-256 (FIPS 180-4), computed by libcrypto.
 */
#ifndef LPA_SHA256_H
#define LPA_SHA256_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define LPA_SHA256_DIGEST_SIZE 32

/* Writes the digest of length bytes to out. Data may be NULL only with
 * length 0. Should the digest fail, out is filled with zeros. */
void sha256Digest(uint8_t out[LPA_SHA256_DIGEST_SIZE], const uint8_t *data, size_t length);

#ifdef __cplusplus
}
#endif

#endif /* LPA_SHA256_H */
