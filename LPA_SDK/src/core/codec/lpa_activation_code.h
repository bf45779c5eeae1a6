/*
 * The pure pieces of a profile download: the activation code's syntax
 * check and decoding, the hashed confirmation code, an OBJECT IDENTIFIER
 * as dotted text, and the fields of the incoming profile's metadata that
 * the profile policy rules need. None of them talks to the eUICC or a
 * server.
 *
 * Not thread-safe: the engine is driven from one thread at a time.
 */
#ifndef LPA_ACTIVATION_CODE_H
#define LPA_ACTIVATION_CODE_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define LPA_AC_MIN_LENGTH 5
#define LPA_AC_MAX_LENGTH 518
#define LPA_AC_SMDP_ADDRESS_SIZE 128
#define LPA_AC_MATCHING_ID_SIZE 255
#define LPA_AC_OID_SIZE 128
#define LPA_AC_CC_FLAG_SIZE 2

/* The decoded activation code "1$address$matchingId$oid$flag". */
typedef struct ActivationCodeFields {
    char smdpAddress[LPA_AC_SMDP_ADDRESS_SIZE];
    char matchingId[LPA_AC_MATCHING_ID_SIZE];
    char oid[LPA_AC_OID_SIZE];
    char ccRequiredFlag[LPA_AC_CC_FLAG_SIZE];
} ActivationCodeFields;

static_assert(sizeof(ActivationCodeFields) == 513, "ActivationCodeFields is 513 bytes");

#define LPA_METADATA_GID_SIZE 15
#define LPA_METADATA_GID_MAX 10
#define LPA_METADATA_PROFILE_NAME_SIZE 65

/* consentReason bits. */
#define LPA_CONSENT_PPR1_BY_RAT 1
#define LPA_CONSENT_PPR2_BY_RAT 2
#define LPA_CONSENT_INSTALLED_PPR1 4

/* The incoming profile's metadata fields the policy rules read, and the
 * outcome of the checks. */
typedef struct ProfileMetadataFields {
    uint32_t pprValue;
    uint8_t hasPpr1;
    uint8_t hasPpr2;
    uint8_t mccMnc[3];
    uint8_t gid1[LPA_METADATA_GID_SIZE];
    size_t gid1Length;
    uint8_t gid1Present;
    uint8_t gid2[LPA_METADATA_GID_SIZE];
    size_t gid2Length;
    uint8_t gid2Present;
    char profileName[LPA_METADATA_PROFILE_NAME_SIZE];
    uint8_t consentReason;
    uint8_t cancelRequired;
    int32_t cancelReason;
} ProfileMetadataFields;

/* Whether a PprIds value (two content bytes, big-endian) carries PPR1 or PPR2. */
bool lpaPprValueHasPpr1(uint32_t value);
bool lpaPprValueHasPpr2(uint32_t value);
/* The PprIds value of a tag 99 content: 0 bytes give 0, 1 byte that byte,
 * otherwise the first two bytes big-endian. */
uint32_t lpaPprValueOf(const uint8_t *content, size_t length);

bool _checkActivationCodeValid(const char *code);

/* Outcome of an element extraction. */
typedef enum ActivationCodeElement {
    AC_ELEMENT_EXTRACTED = 0,
    AC_ELEMENT_INVALID_PARAMETER,
    AC_ELEMENT_NOT_FOUND,
    AC_ELEMENT_TOO_LONG
} ActivationCodeElement;

/* Copies element n (the text after the n-th '$') to out; an element of
 * capacity characters or more is cut (and the answer tells so). */
ActivationCodeElement _extractActivationCodeElement(const char *code, int n, char *out, int capacity);
bool _extractElementFromActivationCode(const char *code, int n, char *out, int capacity);

bool decodeActivationCode(const char *code, ActivationCodeFields *out);

/* out: at least 65 bytes (64 upper-case hex characters and a NUL). */
bool computeConfirmationCodeHash(const uint8_t *code, int codeLength, const char *transactionId, char *out);

/* out: 128 bytes. */
bool convertASN1_OIDtoText(const uint8_t *oid, size_t length, char *out);

bool _extractFieldsFromProfileMetadata(const uint8_t *metadata, size_t length, ProfileMetadataFields *out);

#ifdef __cplusplus
}
#endif

#endif /* LPA_ACTIVATION_CODE_H */
