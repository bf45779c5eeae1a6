#include "codec/lpa_activation_code.h"

#include <stdio.h>
#include <string.h>

#include "codec/ber_tlv.h"
#include "runtime/lpa_core_log.h"
#include "runtime/lpa_error_internal.h"
#include "runtime/lpa_hex.h"
#include "lpa_host.h"
#include "codec/lpa_sha256.h"

/* ------------------------------------------------------------------------
 * PPR values
 * ------------------------------------------------------------------------ */

bool lpaPprValueHasPpr1(uint32_t value)
{
    return value == 0x0560 || value == 0x05E0 || value == 0x0640 || value == 0x06C0;
}

bool lpaPprValueHasPpr2(uint32_t value)
{
    return value == 0x0520 || value == 0x0560 || value == 0x05A0 || value == 0x05E0;
}

uint32_t lpaPprValueOf(const uint8_t *content, size_t length)
{
    if (content == NULL || length == 0) {
        return 0;
    }
    if (length == 1) {
        return content[0];
    }
    return ((uint32_t)content[0] << 8) | content[1];
}

/* ------------------------------------------------------------------------
 * Activation code
 * ------------------------------------------------------------------------ */

static size_t _countDollars(const char *text)
{
    size_t count = 0;
    for (const char *p = text; *p != '\0'; ++p) {
        count += (*p == '$') ? 1 : 0;
    }
    return count;
}

bool _checkActivationCodeValid(const char *code)
{
    if (code == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "_checkActivationCodeValid: Invalid Parameter!");
        return false;
    }
    size_t length = strlen(code);
    if (length < LPA_AC_MIN_LENGTH || length > LPA_AC_MAX_LENGTH) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "_checkActivationCodeValid: Invalid Parameter!");
        return false;
    }
    if (code[0] != '1' || code[1] != '$') {
        return false;
    }
    size_t dollars = _countDollars(code);
    return dollars >= 2 && dollars <= 4;
}

ActivationCodeElement _extractActivationCodeElement(const char *code, int n, char *out, int capacity)
{
    if (code == NULL || out == NULL || capacity <= 0 || n <= 0) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "_extractElementFromActivationCode: Invalid Parameter(s)!");
        return AC_ELEMENT_INVALID_PARAMETER;
    }
    const char *p = code;
    for (int seen = 0; seen < n; ++seen) {
        p = strchr(p, '$');
        if (p == NULL) {
            lpaCoreLog(LPA_LOG_LEVEL_WAR, "_extractElementFromActivationCode: Not enough '$' separators in "
                                          "Activation Code to find target element");
            return AC_ELEMENT_NOT_FOUND;
        }
        ++p;
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "_extractElementFromActivationCode: Target element found");
    const char *end = strchr(p, '$');
    size_t length = (end != NULL) ? (size_t)(end - p) : strlen(p);
    if (length >= (size_t)capacity) {
        memcpy(out, p, (size_t)capacity - 1);
        out[capacity - 1] = '\0';
        lpaCoreLog(LPA_LOG_LEVEL_ERR,
                   "_extractElementFromActivationCode: Element exceeds output buffer size. Return it truncated.");
        return AC_ELEMENT_TOO_LONG;
    }
    if (length > 0) {
        memcpy(out, p, length);
    }
    out[length] = '\0';
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "_extractElementFromActivationCode: Element extracted successfully");
    return AC_ELEMENT_EXTRACTED;
}

bool _extractElementFromActivationCode(const char *code, int n, char *out, int capacity)
{
    return _extractActivationCodeElement(code, n, out, capacity) == AC_ELEMENT_EXTRACTED;
}

/* The OID of an activation code: "d.d...d" with a first digit 0 to 2. */
static bool _checkOidFormat(const char *oid)
{
    size_t length = strlen(oid);
    if (length < 3 || (oid[0] != '0' && oid[0] != '1' && oid[0] != '2') || oid[1] != '.' || oid[2] < '0' ||
        oid[2] > '9' || oid[length - 1] < '0' || oid[length - 1] > '9') {
        return false;
    }
    for (size_t i = 3; i + 1 < length; ++i) {
        if (oid[i] != '.' && (oid[i] < '0' || oid[i] > '9')) {
            return false;
        }
    }
    return true;
}

static bool _decodeFailure(const char *text)
{
    lpaCoreLog(LPA_LOG_LEVEL_ERR, "%s", text);
    lpaSetLastErrorCode(LPA_ERROR_INVALID_ACTIVATION_CODE);
    return false;
}

bool decodeActivationCode(const char *code, ActivationCodeFields *out)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "Decode and parse Activation Code ...");
    if (!_checkActivationCodeValid(code) || out == NULL) {
        return _decodeFailure("Invalid Activation Code!");
    }
    if (_extractActivationCodeElement(code, 1, out->smdpAddress, sizeof(out->smdpAddress)) !=
        AC_ELEMENT_EXTRACTED) {
        return _decodeFailure(
            "Activation Code parsing : SM-DP server address cannot be found or size exceeds limits.");
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "Activation Code parsing : SM-DP server address found: \"%s\".", out->smdpAddress);
    if (out->smdpAddress[0] == '\0') {
        return _decodeFailure("Activation Code parsing : SM-DP server address empty!");
    }
    if (_extractActivationCodeElement(code, 2, out->matchingId, sizeof(out->matchingId)) != AC_ELEMENT_EXTRACTED) {
        return _decodeFailure("Activation Code parsing : MatchingID cannot be found or size exceeds limits.");
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "Activation Code parsing : MatchingID found: \"%s\".", out->matchingId);

    ActivationCodeElement element = _extractActivationCodeElement(code, 3, out->oid, sizeof(out->oid));
    if (element == AC_ELEMENT_TOO_LONG) {
        return _decodeFailure("Activation Code parsing : OID size exceeds limits.");
    }
    if (element != AC_ELEMENT_EXTRACTED) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "Activation Code parsing : OID cannot be found.");
        out->oid[0] = '\0';
    } else if (out->oid[0] == '\0') {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "Activation Code parsing : OID is empty.");
    } else {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "Activation Code parsing : OID found: \"%s\".", out->oid);
        if (!_checkOidFormat(out->oid)) {
            return _decodeFailure("Activation Code parsing : OID format check failed.");
        }
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "Activation Code parsing : OID format check OK");
    }

    element = _extractActivationCodeElement(code, 4, out->ccRequiredFlag, sizeof(out->ccRequiredFlag));
    if (element == AC_ELEMENT_TOO_LONG) {
        out->ccRequiredFlag[0] = '\0';
        return _decodeFailure("Activation Code parsing : Confirmation Code Required flag size exceeds limits.");
    }
    if (element != AC_ELEMENT_EXTRACTED) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "Activation Code parsing : Confirmation Code Required flag cannot be found.");
        out->ccRequiredFlag[0] = '\0';
        return true;
    }
    if (out->ccRequiredFlag[0] == '\0') {
        return _decodeFailure("Activation Code parsing : Confirmation Code Required flag is empty.");
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "Activation Code parsing : Confirmation Code Required flag found: \"%s\".",
               out->ccRequiredFlag);
    if (strcmp(out->ccRequiredFlag, "1") != 0) {
        return _decodeFailure("Activation Code parsing : Confirmation Code Required flag is invalid.");
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "Activation Code parsing : Confirmation Code Required flag check OK.");
    return true;
}

/* ------------------------------------------------------------------------
 * Confirmation code
 * ------------------------------------------------------------------------ */

#define LPA_TRANSACTION_ID_HEX_LENGTH 32

bool computeConfirmationCodeHash(const uint8_t *code, int codeLength, const char *transactionId, char *out)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "Confirmation Code Hash calculation...");
    if (code == NULL || codeLength <= 0 || transactionId == NULL ||
        strlen(transactionId) != LPA_TRANSACTION_ID_HEX_LENGTH || out == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Confirmation Code Hash calculation : Parameters problem.");
        return false;
    }
    uint8_t input[LPA_SHA256_DIGEST_SIZE + LPA_TRANSACTION_ID_HEX_LENGTH / 2];
    size_t idLength = LPA_TRANSACTION_ID_HEX_LENGTH / 2;
    if (!hexStr2ByteArray(transactionId, LPA_TRANSACTION_ID_HEX_LENGTH, input + LPA_SHA256_DIGEST_SIZE, &idLength)) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Confirmation Code Hash calculation: Cannot convert TransactionID in hex.");
        return false;
    }
    sha256Digest(input, code, (size_t)codeLength);
    uint8_t second[LPA_SHA256_DIGEST_SIZE];
    sha256Digest(second, input, sizeof(input));
    for (size_t i = 0; i < LPA_SHA256_DIGEST_SIZE; ++i) {
        snprintf(out + 2 * i, 3, "%02X", second[i]);
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "Confirmation Code Hash calculation done.");
    return true;
}

/* ------------------------------------------------------------------------
 * OBJECT IDENTIFIER text
 * ------------------------------------------------------------------------ */

#define LPA_OID_NODE_MAX 20
#define LPA_OID_TEXT_MAX 127

bool convertASN1_OIDtoText(const uint8_t *oid, size_t length, char *out)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "convertASN1_OIDtoText()...");
    if (oid == NULL || length == 0 || out == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "convertASN1_OIDtoText: Invalid Parameters.");
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "convertASN1_OIDtoText(): return %s", "false");
        return false;
    }
    memset(out, 0, LPA_OID_TEXT_MAX + 1);
    size_t textLength = 0;
    bool first = true;
    bool result = true;
    size_t pos = 0;
    while (pos < length && result) {
        /* One node: leading bytes with bit 7 set, then the closing byte. */
        size_t start = pos;
        while (pos < length && (oid[pos] & 0x80) != 0 && pos - start < LPA_OID_NODE_MAX) {
            ++pos;
        }
        if (pos >= length || (oid[pos] & 0x80) != 0) {
            lpaCoreLog(LPA_LOG_LEVEL_ERR, "parseDataWithVLQnodes: End of data reached before last VLQ byte (b7 = 0) "
                                          "found or extraction buffer overflow.");
            lpaCoreLog(LPA_LOG_LEVEL_ERR,
                       "convertASN1_OIDtoText: Issue encountered while parsing OID nodes. Conversion canceled.");
            result = false;
            break;
        }
        ++pos;
        size_t nodeLength = pos - start;
        if (nodeLength >= 10) {
            lpaCoreLog(LPA_LOG_LEVEL_ERR, "decodeVariableLengthQuantityValue: Output value (unsigned long long) "
                                          "capacity overflow, cancel decoding.");
            lpaCoreLog(LPA_LOG_LEVEL_ERR,
                       "convertASN1_OIDtoText: Issue encountered while decoding VLQ value. Conversion canceled.");
            result = false;
            break;
        }
        unsigned long long value = 0;
        for (size_t i = start; i < pos; ++i) {
            value = (value << 7) | (unsigned long long)(oid[i] & 0x7F);
        }
        char node[48];
        if (first) {
            unsigned long long x = value / 40;
            if (x > 2) {
                x = 2;
            }
            snprintf(node, sizeof(node), "%llu.%llu", x, value - 40 * x);
            first = false;
        } else {
            snprintf(node, sizeof(node), ".%llu", value);
        }
        size_t nodeTextLength = strlen(node);
        if (textLength + nodeTextLength > LPA_OID_TEXT_MAX) {
            lpaCoreLog(LPA_LOG_LEVEL_ERR,
                       "convertASN1_OIDtoText: OID value length exceeds output buffer capabilities. Conversion canceled.");
            result = false;
            break;
        }
        memcpy(out + textLength, node, nodeTextLength + 1);
        textLength += nodeTextLength;
    }
    if (!result) {
        memset(out, 0, LPA_OID_TEXT_MAX + 1);
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "convertASN1_OIDtoText(): return %s", result ? "true" : "false");
    return result;
}

/* ------------------------------------------------------------------------
 * Profile metadata
 * ------------------------------------------------------------------------ */

static void _metadataFailure(bool *ok, const char *text)
{
    lpaCoreLog(LPA_LOG_LEVEL_ERR, "%s", text);
    lpaSetLastErrorCode(LPA_ERROR_INVALID_PROFILE_METADATA);
    *ok = false;
}

/* Stores a GID of the profile owner; false when it does not fit. */
static bool _storeGid(const BerTLV *tlv, uint8_t *gid, size_t *gidLength, uint8_t *present, const char *name)
{
    *present = 1;
    if (tlv->length > LPA_METADATA_GID_MAX) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Profile Owner list: %s size bigger (%d) than maximum allowed (%d)!", name,
                   (int)tlv->length, LPA_METADATA_GID_MAX);
        lpaSetLastErrorCode(LPA_ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    if (tlv->length > 0) {
        memcpy(gid, tlv->value, tlv->length);
    }
    *gidLength = tlv->length;
    char title[32];
    snprintf(title, sizeof(title), "TAG B7 -> %s -> %s", tlv->tag == 0x81 ? "81" : "82", name);
    lpaCoreLogHexDump(LPA_LOG_LEVEL_DEB, title, name, gid, tlv->length);
    return true;
}

/* The profile owner list (B7); false at the first failure. */
static bool _parseProfileOwner(const BerTLV *owner, ProfileMetadataFields *out)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "Profile Owner tag list found, parsing it...");
    size_t count = 0;
    BerTLVListNode *list = (owner->length > 0) ? berTLV_extractList(owner->value, owner->length, &count) : NULL;
    if (list == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Profile Metadata: Corrupted data detected in Profile Owner!");
        return false;
    }
    bool ok = true;
    for (BerTLVListNode *node = list; node != NULL && ok; node = node->next) {
        const BerTLV *tlv = node->tlv;
        if (tlv == NULL) {
            lpaCoreLog(LPA_LOG_LEVEL_ERR, "Profile Owner: Current BerTLV list element appear to be NULL ?");
            ok = false;
            break;
        }
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "Found Profile Owner tag: %X", (unsigned)tlv->tag);
        if (tlv->tag == 0x80) {
            if (tlv->length == 3) {
                memcpy(out->mccMnc, tlv->value, 3);
                lpaCoreLog(LPA_LOG_LEVEL_DEB, "TAG B7 -> 80 -> MCC/MNC value: %X%X%X", (unsigned)out->mccMnc[0],
                           (unsigned)out->mccMnc[1], (unsigned)out->mccMnc[2]);
            } else {
                lpaCoreLog(LPA_LOG_LEVEL_ERR, "Profile Owner list: Incorrect length for MCC/MNC!");
                ok = false;
            }
        } else if (tlv->tag == 0x81) {
            ok = _storeGid(tlv, out->gid1, &out->gid1Length, &out->gid1Present, "GID1");
        } else if (tlv->tag == 0x82) {
            ok = _storeGid(tlv, out->gid2, &out->gid2Length, &out->gid2Present, "GID2");
        } else {
            lpaCoreLog(LPA_LOG_LEVEL_ERR, "Profile Owner list: Unattended element detected!");
            ok = false;
        }
    }
    berTLV_freeBerTLVList(list);
    if (ok && out->mccMnc[0] == 0 && out->mccMnc[1] == 0 && out->mccMnc[2] == 0) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Profile Owner: MCC / MNC missing or invalid value \"000000\"!");
        ok = false;
    }
    return ok;
}

bool _extractFieldsFromProfileMetadata(const uint8_t *metadata, size_t length, ProfileMetadataFields *out)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "_extractFieldsFromProfileMetadata()...");
    if (metadata == NULL || length <= 2 || out == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "_extractFieldsFromProfileMetadata: Invalid parameter!");
        lpaSetLastErrorCode(LPA_ERROR_INVALID_PARAMETER);
        return false;
    }
    bool ok = true;
    bool found = false;
    BerTLV *bf25 = berTLV_extractTagUInt16(0xBF25, metadata, length, &found);
    BerTLVListNode *list = NULL;
    if (bf25 == NULL) {
        _metadataFailure(&ok, "_extractFieldsFromProfileMetadata: Profile Metadata main tag not found!");
    } else if (bf25->length < 2) {
        _metadataFailure(&ok, "_extractFieldsFromProfileMetadata: Metadata container is empty.");
    } else {
        size_t count = 0;
        list = berTLV_extractList(bf25->value, bf25->length, &count);
        if (list == NULL || count <= 2) {
            _metadataFailure(&ok,
                             "_extractFieldsFromProfileMetadata: Failed to extract field list or corrupted Metadata!");
        } else {
            bool iccid = false;
            bool provider = false;
            bool name = false;
            out->gid1Present = 0;
            out->gid2Present = 0;
            for (BerTLVListNode *node = list; node != NULL; node = node->next) {
                const BerTLV *tlv = node->tlv;
                if (tlv == NULL) {
                    lpaCoreLog(LPA_LOG_LEVEL_WAR,
                               "Profile Metadata: Current BerTLV list element appear to be NULL ? Go to next one...");
                    continue;
                }
                lpaCoreLog(LPA_LOG_LEVEL_DEB, "Found profile Metadata field tag: %X", (unsigned)tlv->tag);
                switch (tlv->tag) {
                case 0x5A:
                    if (tlv->length == 10) {
                        lpaCoreLog(LPA_LOG_LEVEL_DEB, "TAG 5A -> ICCID validated. Not used here.");
                        iccid = true;
                    } else {
                        lpaCoreLog(LPA_LOG_LEVEL_ERR, "TAG 5A -> ICCID. Not used here but length invalid. Metadata invalid!");
                    }
                    break;
                case 0x91:
                    lpaCoreLog(LPA_LOG_LEVEL_DEB, "TAG 91 -> Service Provider Name validated. Not used here.");
                    provider = true;
                    break;
                case 0x92:
                    name = true;
                    if (tlv->length > LPA_METADATA_PROFILE_NAME_SIZE - 1) {
                        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Profile Metadata: Too big length found (%d) for Profile Name!",
                                   (int)tlv->length);
                        lpaSetLastErrorCode(LPA_ERROR_INVALID_PROFILE_METADATA);
                        ok = false;
                    } else {
                        if (tlv->length > 0) {
                            memcpy(out->profileName, tlv->value, tlv->length);
                        }
                        out->profileName[tlv->length] = '\0';
                        lpaCoreLog(LPA_LOG_LEVEL_DEB, "TAG 92 -> Profile Name: %s", out->profileName);
                    }
                    break;
                case 0x99:
                    out->pprValue = lpaPprValueOf(tlv->value, tlv->length);
                    out->hasPpr1 = lpaPprValueHasPpr1(out->pprValue) ? 1 : 0;
                    out->hasPpr2 = lpaPprValueHasPpr2(out->pprValue) ? 1 : 0;
                    lpaCoreLog(LPA_LOG_LEVEL_DEB, "TAG 99 -> PPR ASN1 value: %X", (unsigned)out->pprValue);
                    lpaCoreLog(LPA_LOG_LEVEL_DEB, "PPR defined in profile:%s%s%s", out->hasPpr1 ? " PPR1" : "",
                               out->hasPpr2 ? " PPR2" : "",
                               (!out->hasPpr1 && !out->hasPpr2) ? " None or PPRUC only" : "");
                    break;
                case 0xB7:
                    if (!_parseProfileOwner(tlv, out)) {
                        lpaSetLastErrorCode(LPA_ERROR_INVALID_PROFILE_METADATA);
                        ok = false;
                    }
                    break;
                default:
                    lpaCoreLog(LPA_LOG_LEVEL_DEB, "Not used here.");
                    break;
                }
            }
            if (!iccid || !provider || !name) {
                _metadataFailure(&ok, "Missing or invalid Metadata field (ICCID, Service Provider Name or Profile Name)");
            }
        }
    }
    berTLV_freeBerTLVList(list);
    berTLV_freeBerTLV(bf25);
    out->consentReason = 0;
    out->cancelRequired = 0;
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "_extractFieldsFromProfileMetadata(): Return %s", ok ? "True" : "False");
    return ok;
}
