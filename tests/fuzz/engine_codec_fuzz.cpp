// Fuzz entry points of the engine's decoders: what a card, a module or a
// server hands the engine as bytes or text.
#include <string.h>

#include "ber_tlv.h"
#include "bpp_loader.h"
#include "es10b.h"
#include "fuzz_input.h"
#include "lpa_activation_code.h"
#include "lpa_base64.h"
#include "lpa_certificate.h"
#include "lpa_download.h"
#include "lpa_hex.h"
#include "lpa_manager_es10c.h"
#include "lpa_notifications.h"
#include "lpa_ppr.h"
#include "raw_data_object.h"
#include "semedia_genericmodem.h"

using hbr_fuzz::SplitInput;
using hbr_fuzz::Text;

namespace {

[[maybe_unused]] void FuzzBerTlv(const uint8_t *data, size_t size)
{
    bool found = false;
    if (size > 0) {
        berTLV_freeBerTLV(berTLV_extractTagUInt8(data[0], data, size, &found));
    }
    if (size > 1) {
        berTLV_freeBerTLV(berTLV_extractTagUInt16((uint16_t)(data[0] << 8 | data[1]), data, size, &found));
    }
    size_t count = 0;
    BerTLVListNode *list = berTLV_extractList(data, size, &count);
    for (BerTLVListNode *node = list; node != NULL; node = node->next) {
        RawDataObject *encoded = berTLV_buildRawDataObject(node->tlv);
        rawDataObject_free(encoded);
    }
    berTLV_freeBerTLVList(list);
}

[[maybe_unused]] void FuzzBase64Hex(const uint8_t *data, size_t size)
{
    std::string text = Text(data, size);
    std::vector<uint8_t> out(size + 4);
    size_t outLength = 0;
    decodeBase64(text.c_str(), text.size(), out.data(), &outLength, out.size());
    outLength = out.size();
    hexStr2ByteArray(text.c_str(), text.size(), out.data(), &outLength);
}

[[maybe_unused]] void FuzzActivationCode(const uint8_t *data, size_t size)
{
    std::string text = Text(data, size);
    _checkActivationCodeValid(text.c_str());
    ActivationCodeFields fields;
    memset(&fields, 0, sizeof(fields));
    decodeActivationCode(text.c_str(), &fields);
}

[[maybe_unused]] void FuzzProfileMetadata(const uint8_t *data, size_t size)
{
    lpaPprValueOf(data, size);
    ProfileMetadataFields fields;
    memset(&fields, 0, sizeof(fields));
    _extractFieldsFromProfileMetadata(data, size, &fields);
}

// First part: the profile metadata; second part: the eUICC's rules
// authorisation table.
[[maybe_unused]] void FuzzPolicyRules(const uint8_t *data, size_t size)
{
    hbr_fuzz::Split split = SplitInput(data, size);
    ProfileMetadataFields fields;
    memset(&fields, 0, sizeof(fields));
    _extractFieldsFromProfileMetadata(split.first.data(), split.first.size(), &fields);
    RawDataObject rat = {split.second.data(), split.second.size()};
    _checkIncomingProfilePPRattributesVersurRAT(&rat, &fields);
}

[[maybe_unused]] void FuzzServerSigned1(const uint8_t *data, size_t size)
{
    _verifySMDPAddress("testsmdpplus1.example.com", data, size);
}

[[maybe_unused]] void FuzzSmdpSigned2(const uint8_t *data, size_t size)
{
    std::vector<uint8_t> copy(data, data + size);
    TServerData server;
    memset(&server, 0, sizeof(server));
    server._smdpSigned2.val = copy.data();
    server._smdpSigned2.len = copy.size();
    _extractDataFromSmdpSigned2(&server);
}

[[maybe_unused]] void FuzzCertificate(const uint8_t *data, size_t size)
{
    uint8_t oid[LPA_CERTIFICATE_OID_MAX];
    size_t oidLength = 0;
    extractOIDfromCertificate(data, size, oid, &oidLength);
    _extractOIDfromCertificateExtensionList(data, size, oid, &oidLength);
}

[[maybe_unused]] void FuzzBoundProfilePackage(const uint8_t *data, size_t size)
{
    BerTLV *bf36 = berTLV_extractTagUInt16(0xBF36, data, size, NULL);
    if (bf36 != NULL) {
        _checkBoundProfilePackageMainObjects(bf36);
    }
    berTLV_freeBerTLV(bf36);
}

void VisitProfileEntry(const BerTLV *entry, void *)
{
    LpaProfileInfo full;
    LpaProfileInfoForPpr compact;
    _updateProfileInfoFromBerTLV(&full, entry, 0);
    _updateProfileInfoFromBerTLV(&compact, entry, 1);
}

[[maybe_unused]] void FuzzProfileList(const uint8_t *data, size_t size)
{
    _walkProfileInfoEntries(data, size, VisitProfileEntry, NULL);
}

[[maybe_unused]] void FuzzNotificationList(const uint8_t *data, size_t size)
{
    static LpaNotificationList list;
    memset(&list, 0, sizeof(list));
    _doExtractMetadataForGetProfileNotificationList(&list, data, size);
}

[[maybe_unused]] void FuzzPir(const uint8_t *data, size_t size)
{
    uint16_t seqNumber = 0;
    lpaManagerDecodeSequenceNumber(data, size, &seqNumber);
    TPirData pir;
    memset(&pir, 0, sizeof(pir));
    pir.received = true;
    pir.raw = rawDataObject_create(data, size);
    _isPIRContainsSuccessResult(&pir);
    extractSeqNumbFromPIR(&pir, &seqNumber);
    rawDataObject_free(pir.raw);
}

// The text a module answers an AT+CSIM with.
[[maybe_unused]] void FuzzModemReply(const uint8_t *data, size_t size)
{
    size_t n = size < SE_MEDIA_GENERIC_MODEM_REPLY_SIZE - 1 ? size : SE_MEDIA_GENERIC_MODEM_REPLY_SIZE - 1;
    memcpy(_seMediaGenericModemReply, data, n);
    _seMediaGenericModemReply[n] = '\0';
    uint8_t response[SE_MEDIA_GENERIC_MODEM_MAX_APDU + 2];
    size_t responseLength = sizeof(response);
    _processAPDUresponse(response, &responseLength);
    char hex[64];
    if (_atCommandResponseToApdu(hex, sizeof(hex))) {
        _checkAPDU_OkResponse(hex);
    }
}

}  // namespace

HBR_FUZZ_DEFINE_ENTRY()
