#include "card/bpp_loader.h"

#include <string.h>

#include "card/es10b.h"
#include "runtime/lpa_core_log.h"
#include "runtime/lpa_core_memory.h"
#include "runtime/lpa_error_internal.h"
#include "runtime/lpa_hex.h"
#include "card/se_media_manager.h"

#define TAG_BOUND_PROFILE_PACKAGE 0xBF36
#define TAG_INITIALISE_SECURE_CHANNEL 0xBF23
#define TAG_PROFILE_INSTALLATION_RESULT 0xBF37
#define TAG_PIR_DATA 0xBF27
#define TAG_NOTIFICATION_METADATA 0xBF2F

/* Values of this size and more are logged as "...". */
#define BPP_HEX_LOG_LIMIT 512

/* The step table of the load: texts and code of each step. */
typedef bool (*BppStep)(const BerTLV *bf36, TPirData *pir, bool *packageError);

typedef struct BppStepEntry {
    const char *start;
    BppStep step;
    const char *packageErrorText;
    const char *failureText;
    const char *earlyPirText; /* NULL: the step's own verdict on a PIR stands */
    uint32_t code;
} BppStepEntry;

/* Writes the bytes as hex into out (at least 2 * (BPP_HEX_LOG_LIMIT - 1) + 1),
 * or "..." when they are BPP_HEX_LOG_LIMIT bytes or more. */
static const char *_hexOrEllipsis(const uint8_t *data, size_t length, char *out, size_t capacity)
{
    if (length >= BPP_HEX_LOG_LIMIT) {
        return "...";
    }
    out[0] = '\0';
    byteArray2HexStr(data, length, out, capacity);
    return out;
}

/* The tag and the BER length of a TLV, without its value. */
static RawDataObject *_buildTlvHeader(uint16_t tag, size_t length)
{
    uint8_t header[6];
    size_t n = 0;
    if (tag > 0xFF) {
        header[n++] = (uint8_t)(tag >> 8);
    }
    header[n++] = (uint8_t)tag;
    if (length < 0x80) {
        header[n++] = (uint8_t)length;
    } else if (length <= 0xFF) {
        header[n++] = 0x81;
        header[n++] = (uint8_t)length;
    } else if (length <= 0xFFFF) {
        header[n++] = 0x82;
        header[n++] = (uint8_t)(length >> 8);
        header[n++] = (uint8_t)length;
    } else if (length <= BER_TLV_MAX_ENCODABLE_LENGTH) {
        header[n++] = 0x83;
        header[n++] = (uint8_t)(length >> 16);
        header[n++] = (uint8_t)(length >> 8);
        header[n++] = (uint8_t)length;
    } else {
        return NULL;
    }
    return rawDataObject_create(header, n);
}

static BerTLV *_findInPackage(const BerTLV *bf36, uint8_t tag)
{
    return berTLV_extractTagUInt8(tag, bf36->value, bf36->length, NULL);
}

static void _dumpFound(const BerTLV *tlv, const char *titleFormat, const char *label)
{
    lpaManagerLogHexDumpTitled(LPA_LOG_LEVEL_DEB, label, tlv->value, tlv->length, titleFormat, (unsigned)tlv->length);
}

/* Keeps an answer's data as the PIR; received only when it was kept. */
static bool _keepPir(TPirData *pir, const uint8_t *data, size_t length)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "_extract_PIRdataFromEUICCresponse()");
    pir->received = false;
    if (!_storeHexBase64StructureRawDataPair(&pir->raw, &pir->base64, data, length, BPP_PIR_MAX)) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, " Failed to extract / convert PIR data!");
        return false;
    }
    pir->received = true;
    return true;
}

/* ------------------------------------------------------------------------
 * PIR
 * ------------------------------------------------------------------------ */

bool _isPIRContainsSuccessResult(const TPirData *pir)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "_isPIRContainsSuccessResult()");
    if (pir == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "_isPIRContainsSuccessResult(): Invalid parameter!");
        return false;
    }
    if (pir->raw == NULL || pir->raw->data == NULL || pir->raw->length == 0) {
        return false;
    }
    bool success = false;
    BerTLV *bf37 = berTLV_extractTagUInt16(TAG_PROFILE_INSTALLATION_RESULT, pir->raw->data, pir->raw->length, NULL);
    BerTLV *bf27 = NULL;
    BerTLVListNode *list = NULL;
    if (bf37 != NULL && bf37->length > 0) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "BER-TLV BF37 present and not empty => analyze it");
        bf27 = berTLV_extractTagUInt16(TAG_PIR_DATA, bf37->value, bf37->length, NULL);
    }
    if (bf27 != NULL && bf27->length > 0) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "BER-TLV BF27 present and not empty =>analyze it");
        size_t count = 0;
        list = berTLV_extractList(bf27->value, bf27->length, &count);
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "<%d> BER-TLV present inside BER-TLV BF27", (int)count);
        const BerTLV *finalResult = NULL;
        for (const BerTLVListNode *node = list; node != NULL; node = node->next) {
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "TLV tag <%04X> present (%d bytes)", (unsigned)node->tlv->tag,
                       (int)node->tlv->length);
            if (node->tlv->tag == 0xA2) {
                finalResult = node->tlv;
                break;
            }
        }
        if (finalResult == NULL) {
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "Tag A2 not found !");
        } else {
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "Analyzing 'finalResult' Tag ...");
            BerTLV *ok = berTLV_extractTagUInt8(0xA0, finalResult->value, finalResult->length, NULL);
            BerTLV *error = berTLV_extractTagUInt8(0xA1, finalResult->value, finalResult->length, NULL);
            char hex[2 * BPP_HEX_LOG_LIMIT];
            if (ok != NULL) {
                lpaCoreLog(LPA_LOG_LEVEL_DEB, "SuccessResult Tag A0 present (%d bytes) => %s", (int)ok->length,
                           _hexOrEllipsis(ok->value, ok->length, hex, sizeof(hex)));
            }
            if (error != NULL) {
                lpaCoreLog(LPA_LOG_LEVEL_DEB, "ErrorResult Tag A1 present (%d bytes) => %s", (int)error->length,
                           _hexOrEllipsis(error->value, error->length, hex, sizeof(hex)));
            }
            success = ok != NULL;
            berTLV_freeBerTLV(ok);
            berTLV_freeBerTLV(error);
        }
    }
    berTLV_freeBerTLVList(list);
    berTLV_freeBerTLV(bf27);
    berTLV_freeBerTLV(bf37);
    return success;
}

bool lpaManagerDecodeSequenceNumber(const uint8_t *value, size_t length, uint16_t *seqNumber)
{
    if (value == NULL || seqNumber == NULL || length == 0 || length > 4) {
        return false;
    }
    uint32_t number = 0;
    for (size_t i = 0; i < length; ++i) {
        number = (number << 8) | value[i];
    }
    if (number > 0xFFFF) {
        return false;
    }
    *seqNumber = (uint16_t)number;
    return true;
}

size_t lpaManagerEncodeSequenceNumber(uint16_t seqNumber, uint8_t out[LPA_SEQUENCE_NUMBER_MAX_BYTES])
{
    const uint8_t high = (uint8_t)(seqNumber >> 8);
    const uint8_t low = (uint8_t)seqNumber;
    size_t n = 0;
    if (high != 0) {
        if ((high & 0x80) != 0) {
            out[n++] = 0x00;
        }
        out[n++] = high;
    } else if ((low & 0x80) != 0) {
        out[n++] = 0x00;
    }
    out[n++] = low;
    return n;
}

bool extractSeqNumbFromPIR(const TPirData *pir, uint16_t *seqNumber)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "extractSeqNumbFromPIR() ...");
    if (pir == NULL || seqNumber == NULL || pir->raw == NULL || pir->raw->data == NULL || pir->raw->length == 0) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, " Invalid installation result! ");
        return false;
    }
    bool result = false;
    BerTLV *bf37 = berTLV_extractTagUInt16(TAG_PROFILE_INSTALLATION_RESULT, pir->raw->data, pir->raw->length, NULL);
    BerTLV *bf27 = NULL;
    BerTLV *bf2f = NULL;
    BerTLV *seq = NULL;
    if (bf37 == NULL || bf37->length == 0) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, " Not Found Tag <BF37> ! ");
    } else if ((bf27 = berTLV_extractTagUInt16(TAG_PIR_DATA, bf37->value, bf37->length, NULL)) == NULL ||
               bf27->length == 0) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, " Not Found Tag <BF27> ! ");
    } else if ((bf2f = berTLV_extractTagUInt16(TAG_NOTIFICATION_METADATA, bf27->value, bf27->length, NULL)) == NULL ||
               bf2f->length == 0) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, " Not Found Tag <BF2F> ! ");
    } else if ((seq = berTLV_extractTagUInt8(0x80, bf2f->value, bf2f->length, NULL)) == NULL || seq->length == 0) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, " Not Found Tag <80> ! ");
    } else if (!lpaManagerDecodeSequenceNumber(seq->value, seq->length, seqNumber)) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Failed to get sequence number from installation result! ");
    } else {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "The sequence number is : %02x", (unsigned)*seqNumber);
        result = true;
    }
    berTLV_freeBerTLV(seq);
    berTLV_freeBerTLV(bf2f);
    berTLV_freeBerTLV(bf27);
    berTLV_freeBerTLV(bf37);
    return result;
}

/* ------------------------------------------------------------------------
 * Sending a segment
 * ------------------------------------------------------------------------ */

bool _sendBoundProfileRawDataOject(const RawDataObject *segment, TPirData *pir)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "_sendBoundProfileRawDataOject()");
    uint16_t sw = 0;
    size_t length = 0;
    if (!buildAndSendStoreDataCase4(segment, &sw, lpaManagerES10ResponseBuffer, sizeof(lpaManagerES10ResponseBuffer),
                                    &length)) {
        return false;
    }
    if (!lpaManagerES10IsSuccessfulSW(sw)) {
        lpaSetLastErrorCode(LPA_ERROR_LOCAL_PROFILE_INCORRECT_CARD_RESPONSE);
        return false;
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "Send APDU raw data object success => check APDU response ...");
    if (length == 0) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "Send APDU raw data object success !");
        return true;
    }
    if (!_keepPir(pir, lpaManagerES10ResponseBuffer, length)) {
        return false;
    }
    if (!_isPIRContainsSuccessResult(pir)) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, " Failed to _sendBoundProfileRawDataOject");
        return false;
    }
    return true;
}

/* Sends a segment and frees it; failureText is logged on a failure. */
static bool _sendAndFree(RawDataObject *segment, TPirData *pir, const char *failureText)
{
    bool sent = _sendBoundProfileRawDataOject(segment, pir);
    rawDataObject_free(segment);
    if (!sent) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "%s", failureText);
    }
    return sent;
}

/* ------------------------------------------------------------------------
 * The steps
 * ------------------------------------------------------------------------ */

bool _checkBoundProfilePackageMainObjects(const BerTLV *bf36)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "_checkBoundProfilePackageMainObjects()");
    if (bf36 == NULL) {
        return false;
    }
    BerTLVListNode *list = berTLV_extractList(bf36->value, bf36->length, NULL);
    size_t count = 0;
    for (const BerTLVListNode *node = list; node != NULL; node = node->next) {
        ++count;
    }
    if (list == NULL || count < 4) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR,
                   "Cannot generate main BPP objects list or not enough element found (%d, at least 4 needed)",
                   (int)count);
        berTLV_freeBerTLVList(list);
        return false;
    }
    bool valid = true;
    for (const BerTLVListNode *node = list; node != NULL && valid; node = node->next) {
        const BerTLV *tlv = node->tlv;
        switch (tlv->tag) {
        case TAG_INITIALISE_SECURE_CHANNEL:
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "Object BF23 (InitialiseSecureChannelRequest) found");
            if (tlv->length == 0) {
                lpaCoreLog(LPA_LOG_LEVEL_ERR, "Object BF23 empty, canceling download...");
                valid = false;
            }
            break;
        case 0xA0:
        case 0xA1:
        case 0xA2: {
            static const char *const found[] = {"Object A0 (firsSequenceOf87) found", "Object A1 (SequenceOf88) found",
                                                "Object A2 (secondSequenceOf87) found"};
            static const char *const tooSmall[] = {"Object A0 size too small, canceling download...",
                                                   "Object A1 size too small, canceling download...",
                                                   "Object A2 size too small, canceling download..."};
            size_t index = (size_t)(tlv->tag - 0xA0);
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "%s", found[index]);
            if (tlv->length < 2) {
                lpaCoreLog(LPA_LOG_LEVEL_ERR, "%s", tooSmall[index]);
                valid = false;
            }
            break;
        }
        case 0xA3:
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "Object A3 (sequenceOf86) found, do not check for more possible unknown tags "
                                          "in Bound Profile Package");
            if (tlv->length < 2) {
                lpaCoreLog(LPA_LOG_LEVEL_ERR, "Object A3 size too small, canceling download...");
                valid = false;
            }
            berTLV_freeBerTLVList(list);
            return valid;
        default:
            lpaCoreLog(LPA_LOG_LEVEL_ERR, "Object with unknown tag \"%X\" found, canceling download...",
                       (unsigned)tlv->tag);
            valid = false;
            break;
        }
    }
    berTLV_freeBerTLVList(list);
    return valid;
}

bool sendInitalizeSecureChannel(const BerTLV *bf36, TPirData *pir, bool *packageError)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "sendInitalizeSecureChannel()");
    if (bf36 == NULL || pir == NULL || packageError == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Incorrect parameter(s) !");
        return false;
    }
    if (bf36->length >= BPP_HEX_LOG_LIMIT) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "Tag <BF36> found ==> value (%d bytes) = ... ", (int)bf36->length);
    } else {
        char hex[2 * BPP_HEX_LOG_LIMIT];
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "Tag <BF36> found ==> value (%d bytes) = %s", (int)bf36->length,
                   _hexOrEllipsis(bf36->value, bf36->length, hex, sizeof(hex)));
    }
    BerTLV *bf23 = berTLV_extractTagUInt16(TAG_INITIALISE_SECURE_CHANNEL, bf36->value, bf36->length, NULL);
    if (bf23 == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "BF23 TLV not found! ");
        *packageError = true;
        return false;
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "BF23.getTag() = %02X", (unsigned)bf23->tag);
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "BF23.getValueLength() = %d", (int)bf23->length);
    RawDataObject *header = _buildTlvHeader(TAG_BOUND_PROFILE_PACKAGE, bf36->length);
    RawDataObject *encoded = berTLV_buildRawDataObject(bf23);
    RawDataObject *segment = (header != NULL && encoded != NULL) ? rawDataObject_concat(header, encoded) : NULL;
    rawDataObject_free(header);
    rawDataObject_free(encoded);
    berTLV_freeBerTLV(bf23);
    if (segment == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Failed to generate rawDataObjectInitializeSecureChannel!");
        return false;
    }
    return _sendAndFree(segment, pir, "Failed to send InitializeSecureChannel");
}

bool ConfigureISDP(const BerTLV *bf36, TPirData *pir, bool *packageError)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "ConfigureISDP(...)");
    if (bf36 == NULL || pir == NULL || packageError == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Incorrect parameter(s) !");
        return false;
    }
    BerTLV *a0 = _findInPackage(bf36, 0xA0);
    if (a0 == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "A0 TLV not found! ");
        *packageError = true;
        return false;
    }
    if (a0->length == 0 || a0->value[0] != 0x87) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "No segment 0x87 found in A0 TLV object!");
        *packageError = true;
        berTLV_freeBerTLV(a0);
        return false;
    }
    _dumpFound(a0, "Tag <A0> found ==> value (%u bytes) :", "<A0>");
    RawDataObject *segment = berTLV_buildRawDataObject(a0);
    berTLV_freeBerTLV(a0);
    if (segment == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Failed to generate rawDataObjectConfigureISDP!");
        return false;
    }
    return _sendAndFree(segment, pir, "Failed to send Configure ISDP");
}

bool StoreMetaData(const BerTLV *bf36, TPirData *pir, bool *packageError)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "StoreMetaData(...)");
    if (bf36 == NULL || pir == NULL || packageError == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "StoreMetaData(): Incorrect parameter(s) !");
        return false;
    }
    BerTLV *a1 = _findInPackage(bf36, 0xA1);
    if (a1 == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "A1 TLV not found!");
        *packageError = true;
        return false;
    }
    _dumpFound(a1, "Tag <A1> found ==> value (%u bytes) :", "<A1>");
    RawDataObject *header = _buildTlvHeader(0xA1, a1->length);
    if (header == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Failed create A1 rawData Object!");
        berTLV_freeBerTLV(a1);
        return false;
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "Sending \"A1\" header containing sequence of \"88\" segments...");
    if (!_sendAndFree(header, pir, "Failed send A1 header to eUICC!")) {
        berTLV_freeBerTLV(a1);
        return false;
    }
    if (pir->received) {
        /* The eUICC has ended the installation: nothing more is sent. */
        berTLV_freeBerTLV(a1);
        return true;
    }
    size_t count = 0;
    BerTLVListNode *list = berTLV_extractList(a1->value, a1->length, NULL);
    berTLV_freeBerTLV(a1);
    if (list == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Not any TLV found in \"A1\" object or failed to create list");
        *packageError = true;
        return false;
    }
    for (const BerTLVListNode *node = list; node != NULL; node = node->next) {
        ++count;
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "countTLVFoundInsideA1 : %d", (int)count);
    bool result = true;
    size_t sent = 0;
    for (const BerTLVListNode *node = list; node != NULL && result && !pir->received; node = node->next) {
        if (node->tlv == NULL || node->tlv->tag != 0x88) {
            lpaCoreLog(LPA_LOG_LEVEL_ERR, "Unexpected TLV found in TLV A1! (NULL or not \"88\" tag)");
            *packageError = true;
            result = false;
            break;
        }
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "===============================================");
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "Sending Segment \"88\" >>>> #%d", (int)(sent + 1));
        RawDataObject *segment = berTLV_buildRawDataObject(node->tlv);
        if (segment == NULL) {
            lpaCoreLog(LPA_LOG_LEVEL_ERR, "Cannot create RawDataObject for segment \"88\" sending!");
            lpaSetLastErrorCode(LPA_ERROR_INSUFFICIENT_BUFFER);
            result = false;
            break;
        }
        result = _sendAndFree(segment, pir, "Failed to send StoreMetaData");
        ++sent;
    }
    berTLV_freeBerTLVList(list);
    if (sent == 0) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Not any TLV \"88\" found in \"A1\" object!");
        *packageError = true;
        result = false;
    }
    return result;
}

bool ReplaceSessionKey(const BerTLV *bf36, TPirData *pir, bool *packageError)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "Replace Session Key(...)");
    if (bf36 == NULL || pir == NULL || packageError == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Incorrect parameter(s) !");
        return false;
    }
    BerTLV *a2 = bf36->length >= 2 ? _findInPackage(bf36, 0xA2) : NULL;
    if (a2 == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "No Replace Session Key");
        return true;
    }
    if (a2->length == 0 || a2->value[0] != 0x87) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "No segment 0x87 found in A2 TLV object!");
        *packageError = true;
        berTLV_freeBerTLV(a2);
        return false;
    }
    _dumpFound(a2, "Tag <A2> found ==> value (%u bytes) :", "<A2>");
    RawDataObject *segment = berTLV_buildRawDataObject(a2);
    berTLV_freeBerTLV(a2);
    if (segment == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Failed to generate rawDataObjectReplaceSessionKey");
        return false;
    }
    return _sendAndFree(segment, pir, "Failed to send Replace Session Key");
}

/* Sends one 86 element with the PIR-sized data capacity. *pirSeen tells
 * whether the answer carried a PIR; the result is the exchange's verdict
 * (for a PIR: its finalResult). */
static bool _sendProfileElement(const BerTLV *element, TPirData *pir, bool *pirSeen)
{
    *pirSeen = false;
    RawDataObject *segment = berTLV_buildRawDataObject(element);
    if (segment == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Failed to create Raw Data for Tag 86!");
        lpaSetLastErrorCode(LPA_ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    uint16_t sw = 0;
    size_t length = 0;
    bool sent = buildAndSendStoreDataCase4(segment, &sw, lpaManagerES10ResponseBuffer, BPP_PIR_MAX, &length);
    rawDataObject_free(segment);
    if (!sent) {
        lpaSetLastErrorCode(LPA_ERROR_FAILED_LOAD_BPP);
        return false;
    }
    if (!lpaManagerES10IsSuccessfulSW(sw)) {
        lpaSetLastErrorCode(LPA_ERROR_INVALID_SW);
        return false;
    }
    if (length == 0) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "No data response available for this segment...");
        return true;
    }
    *pirSeen = true;
    if (!_keepPir(pir, lpaManagerES10ResponseBuffer, length)) {
        return false;
    }
    bool success = _isPIRContainsSuccessResult(pir);
    if (!success) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Failed to load profile elements!");
        lpaSetLastErrorCode(LPA_ERROR_FAILED_LOAD_PROFILE_ELEMENTS);
    }
    if (length >= BPP_HEX_LOG_LIMIT) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "Profile Installation Result  (%d bytes) = ... ", (int)length);
    } else {
        char hex[2 * BPP_HEX_LOG_LIMIT];
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "Profile Installation Result ==> value (%d bytes) = %s", (int)length,
                   _hexOrEllipsis(pir->raw->data, pir->raw->length, hex, sizeof(hex)));
    }
    return success;
}

bool LoadProfileElements(const BerTLV *bf36, TPirData *pir, bool *packageError)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "Load Profile Elements(...)");
    if (bf36 == NULL || pir == NULL || packageError == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Load Profile Elements: Incorrect parameter(s) !");
        return false;
    }
    BerTLV *a3 = _findInPackage(bf36, 0xA3);
    if (a3 == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "A3 TLV not found!");
        *packageError = true;
        return false;
    }
    _dumpFound(a3, "Tag <A3> found ==> value (%u bytes) :", "<A3>");
    RawDataObject *header = _buildTlvHeader(0xA3, a3->length);
    if (header == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Failed create A3 rawData Object");
        berTLV_freeBerTLV(a3);
        return false;
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "Sending \"A3\" header containing sequence of \"86\" segments...");
    if (!_sendAndFree(header, pir, "Failed to send TLV A3 header to eUICC!")) {
        berTLV_freeBerTLV(a3);
        return false;
    }
    if (pir->received) {
        /* A successful PIR already answered the header. */
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Not reach the last segment for loading!");
        berTLV_freeBerTLV(a3);
        return true;
    }
    BerTLVListNode *list = berTLV_extractList(a3->value, a3->length, NULL);
    berTLV_freeBerTLV(a3);
    if (list == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Not any TLV found in \"A3\" object or failed to build list of Tag 86 Segments");
        *packageError = true;
        return false;
    }
    size_t count = 0;
    for (const BerTLVListNode *node = list; node != NULL; node = node->next) {
        ++count;
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "countTLVFoundInsideA3 : %d", (int)count);
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "Check segments before sending them to eUICC");
    size_t checked = 0;
    for (const BerTLVListNode *node = list; node != NULL; node = node->next) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "Checking segment #%d", (int)++checked);
        if (node->tlv == NULL || node->tlv->tag != 0x86) {
            lpaCoreLog(LPA_LOG_LEVEL_ERR, "Unexpected TLV found in TLV A3! (NULL or not \"86\" tag)");
            *packageError = true;
            berTLV_freeBerTLVList(list);
            return false;
        }
    }
    bool result = false;
    bool pirSeen = false;
    size_t sent = 0;
    for (const BerTLVListNode *node = list; node != NULL; node = node->next) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "===============================================");
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "Sending Segment \"86\" >>>> #%d", (int)++sent);
        result = _sendProfileElement(node->tlv, pir, &pirSeen);
        if (pirSeen && node->next != NULL) {
            lpaCoreLog(LPA_LOG_LEVEL_ERR, "Not reach the last segment for loading!");
        }
        if (!result || pirSeen) {
            break;
        }
    }
    berTLV_freeBerTLVList(list);
    /* Success needs a PIR with successResult. */
    return result && pirSeen;
}

/* ------------------------------------------------------------------------
 * The load
 * ------------------------------------------------------------------------ */

bool lpaManagerES10b_LoadBoundProfilePackage(const TServerData *data, TPirData *pir, bool *packageError)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "lpaManagerES10b_LoadBoundProfilePackage...");
    if (pir == NULL || packageError == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Incorrect parameter(s) !");
        lpaSetLastErrorCode(LPA_ERROR_INVALID_PARAMETER);
        return false;
    }
    *packageError = false;
    pir->received = false;

    lpaCoreLog(LPA_LOG_LEVEL_DEB, "Step 01 : Analyze BF36 tag ...");
    if (data == NULL || data->_boundProfilePackage.val == NULL || data->_boundProfilePackage.len == 0) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "p_serverData (or internal element) is NULL !");
        lpaSetLastErrorCode(LPA_ERROR_FAILED_LOAD_BPP);
        return false;
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "p_serverData->_boundProfilePackage.len found: %u",
               (unsigned)data->_boundProfilePackage.len);
    BerTLV *bf36 = berTLV_extractTagUInt16(TAG_BOUND_PROFILE_PACKAGE, data->_boundProfilePackage.val,
                                           data->_boundProfilePackage.len, NULL);
    if (bf36 == NULL || bf36->length == 0) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "berTLV_BF36 not found or empty");
        lpaSetLastErrorCode(LPA_ERROR_INVALID_BPP_DATA);
        *packageError = true;
        berTLV_freeBerTLV(bf36);
        return false;
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "berTLV_BF36 object length found: %u", (unsigned)bf36->length);

    lpaCoreLog(LPA_LOG_LEVEL_DEB, "Step 02 : Check Bound Profile Package main objects...");
    if (!_checkBoundProfilePackageMainObjects(bf36)) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Bound Profile Package main objects checking failed");
        lpaSetLastErrorCode(LPA_ERROR_INVALID_BPP_DATA);
        *packageError = true;
        berTLV_freeBerTLV(bf36);
        return false;
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "Bound Profile Package main objects checked successfully");

    static const BppStepEntry steps[] = {
        {"Step 03 : Send Init Secure Channel ...", sendInitalizeSecureChannel, "Error detected in tag BF23 data object",
         "Failed to send InitializeSecureChannel ", "Failed to send InitializeSecureChannel (PIR has result)",
         LPA_ERROR_FAILED_INITIAL_SECURITY_CHANNEL},
        {"Step 04 : Send Configure ISDP ...", ConfigureISDP, "Error detected in tag A0 data object",
         "Failed to send Configure ISDP ", "Failed to send Configure ISDP (PIR has result)",
         LPA_ERROR_FAILED_CONFIGURE_ISDP},
        {"Step 05 : Send Store Metadata ...", StoreMetaData, "Error detected in tag A1 data object",
         "Failed to send Store Metadata", "Failed to send Store Metadata (PIR has result)",
         LPA_ERROR_FAILED_STORE_META_DATA},
        {"Step 06 : Send replace Session Key ...", ReplaceSessionKey, "Error detected in tag A2 data object",
         "Failed to send replace Session Key", "Failed to send replace Session Key (PIR has result)",
         LPA_ERROR_FAILED_REPLACE_SESSION_KEY},
        {"Step 07 : load Profile elements ...", LoadProfileElements, "Error detected in tag A3 data object",
         "Failed to load profile elements ", NULL, LPA_ERROR_FAILED_LOAD_PROFILE_ELEMENTS},
    };
    bool result = true;
    for (size_t i = 0; i < sizeof(steps) / sizeof(steps[0]) && result; ++i) {
        const BppStepEntry *entry = &steps[i];
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "%s", entry->start);
        bool done = entry->step(bf36, pir, packageError);
        if (!done && *packageError) {
            lpaCoreLog(LPA_LOG_LEVEL_ERR, "%s", entry->packageErrorText);
            lpaSetLastErrorCode(LPA_ERROR_INVALID_BPP_DATA);
            result = false;
        } else if (!done) {
            lpaCoreLog(LPA_LOG_LEVEL_ERR, "%s", entry->failureText);
            lpaSetLastErrorCode(entry->code);
            result = false;
        } else if (entry->earlyPirText != NULL && pir->received) {
            lpaCoreLog(LPA_LOG_LEVEL_ERR, "%s", entry->earlyPirText);
            lpaSetLastErrorCode(entry->code);
            result = false;
        }
    }
    berTLV_freeBerTLV(bf36);
    return result;
}
