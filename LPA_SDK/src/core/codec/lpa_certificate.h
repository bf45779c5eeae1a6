/*
 * The registered-ID OID of an SM-DP+ certificate: the content of the
 * registeredID ([8], tag 0x88) in the first subjectAltName extension of a
 * DER X.509 certificate, as encoded OID bytes (not dotted text).
 */
#ifndef LPA_CERTIFICATE_H
#define LPA_CERTIFICATE_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Capacity that the oid buffer must have. */
#define LPA_CERTIFICATE_OID_MAX 128

/* Finds the registered-ID OID in a DER certificate of at least 16 bytes.
 * oid must hold LPA_CERTIFICATE_OID_MAX bytes; *oidLength is 0 unless the
 * answer is true. */
bool extractOIDfromCertificate(const uint8_t *certificate, size_t length, uint8_t *oid,
                               size_t *oidLength);

/* The same, from the value of the Extensions sequence. */
bool _extractOIDfromCertificateExtensionList(const uint8_t *extensions, size_t length, uint8_t *oid,
                                             size_t *oidLength);

#ifdef __cplusplus
}
#endif

#endif /* LPA_CERTIFICATE_H */
