#include "codec/lpa_certificate.h"

#include <string.h>

#include "codec/ber_tlv.h"
#include "runtime/lpa_core_log.h"

/* subjectAltName, 2.5.29.17. */
static const uint8_t subjectAltNameId[] = {0x55, 0x1D, 0x11};

#define TAG_SEQUENCE 0x30
#define TAG_OBJECT_IDENTIFIER 0x06
#define TAG_OCTET_STRING 0x04
#define TAG_EXTENSIONS 0xA3
#define TAG_REGISTERED_ID 0x88

/* Frees a TLV that may not have been taken. */
static void releaseTlv(BerTLV *tlv)
{
    if (tlv != NULL) {
        berTLV_freeBerTLV(tlv);
    }
}

/* The first top-level TLV with this tag whose value lies inside the buffer,
 * or NULL. */
static BerTLV *findTlv(uint16_t tag, const uint8_t *buffer, size_t size)
{
    bool found = false;
    return berTLV_extractTagUInt16(tag, buffer, size, &found);
}

/* Looks into one subjectAltName Extension (its SEQUENCE value). */
static bool extractRegisteredId(const BerTLV *extension, uint8_t *oid, size_t *oidLength)
{
    bool result = false;
    BerTLV *extnValue = NULL;
    BerTLV *generalNames = NULL;
    BerTLV *registeredId = NULL;

    extnValue = findTlv(TAG_OCTET_STRING, extension->value, extension->length);
    if (extnValue == NULL || extnValue->length <= 3) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR,
                   "_extractOIDfromCertificateExtensionList: subjectAltName data TLV 0x04 not found in extension or too short.");
        goto done;
    }
    generalNames = findTlv(TAG_SEQUENCE, extnValue->value, extnValue->length);
    if (generalNames == NULL || generalNames->length <= 1) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR,
                   "_extractOIDfromCertificateExtensionList: subjectAltName sequence container 0x30 not found or too short.");
        goto done;
    }
    registeredId = findTlv(TAG_REGISTERED_ID, generalNames->value, generalNames->length);
    if (registeredId == NULL || registeredId->length == 0) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR,
                   "_extractOIDfromCertificateExtensionList: Registered ID tag 0x88 not found in subjectAltName sequence or too short.");
        goto done;
    }
    if (registeredId->length > LPA_CERTIFICATE_OID_MAX) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR,
                   "_extractOIDfromCertificateExtensionList: Registered ID size (%u) exceeds bound (%d)",
                   (unsigned)registeredId->length, LPA_CERTIFICATE_OID_MAX);
        goto done;
    }
    memcpy(oid, registeredId->value, registeredId->length);
    *oidLength = registeredId->length;
    lpaCoreLogHexDump(LPA_LOG_LEVEL_DEB, "OID found (Registered ID, Tag 0x88)", ">>>", oid, *oidLength);
    result = true;

done:
    releaseTlv(registeredId);
    releaseTlv(generalNames);
    releaseTlv(extnValue);
    return result;
}

bool _extractOIDfromCertificateExtensionList(const uint8_t *extensions, size_t length, uint8_t *oid,
                                             size_t *oidLength)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "_extractOIDfromCertificateExtensionList()...");
    bool result = false;
    bool subjectAltNameSeen = false;
    BerTLVListNode *list = NULL;

    if (extensions == NULL || length == 0 || oid == NULL || oidLength == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "_extractOIDfromCertificateExtensionList: Invalid Parameters.");
        goto done;
    }
    *oidLength = 0;
    list = berTLV_extractList(extensions, length, NULL);
    if (list == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR,
                   "_extractOIDfromCertificateExtensionList: Failed to generate extension list or not enough elements.");
        goto done;
    }
    for (BerTLVListNode *node = list; node != NULL && !subjectAltNameSeen; node = node->next) {
        const BerTLV *extension = node->tlv;
        if (extension->tag != TAG_SEQUENCE) {
            continue;
        }
        lpaCoreLogHexDump(LPA_LOG_LEVEL_DEB, "Certificate Extension data", ">>", extension->value,
                          extension->length);
        BerTLV *extnId = findTlv(TAG_OBJECT_IDENTIFIER, extension->value, extension->length);
        if (extnId == NULL || extnId->length != sizeof(subjectAltNameId)) {
            lpaCoreLog(LPA_LOG_LEVEL_ERR,
                       "_extractOIDfromCertificateExtensionList: Extension identifier TLV 0x06 not found in extension or incorrect length.");
            releaseTlv(extnId);
            goto done;
        }
        subjectAltNameSeen = memcmp(extnId->value, subjectAltNameId, sizeof(subjectAltNameId)) == 0;
        releaseTlv(extnId);
        if (subjectAltNameSeen) {
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "subjectAltName extension found (Id 2.5.29.17 so 0x551D11)");
            result = extractRegisteredId(extension, oid, oidLength);
        }
    }
    if (!subjectAltNameSeen) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "subjectAltName extension not found");
    }

done:
    if (list != NULL) {
        berTLV_freeBerTLVList(list);
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "_extractOIDfromCertificateExtensionList(): return %s", lpaBoolText(result));
    return result;
}

bool extractOIDfromCertificate(const uint8_t *certificate, size_t length, uint8_t *oid,
                               size_t *oidLength)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "extractOIDfromCertificate()...");
    bool result = false;
    BerTLV *main = NULL;
    BerTLV *tbs = NULL;
    BerTLVListNode *tbsElements = NULL;
    const BerTLV *extensionsContainer = NULL;
    BerTLV *extensions = NULL;
    size_t count = 0;

    if (certificate == NULL || oid == NULL || oidLength == NULL || length < 16) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "extractOIDfromCertificate: Invalid Parameters.");
        goto done;
    }
    *oidLength = 0;

    main = findTlv(TAG_SEQUENCE, certificate, length);
    if (main == NULL || main->length <= 12) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR,
                   "extractOIDfromCertificate: Main container 0x30 not found or size too small.");
        goto done;
    }
    tbs = findTlv(TAG_SEQUENCE, main->value, main->length);
    if (tbs == NULL || tbs->length <= 10) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR,
                   "extractOIDfromCertificate: tbsCertificate container 0x30 not found or size too small.");
        goto done;
    }
    tbsElements = berTLV_extractList(tbs->value, tbs->length, &count);
    if (tbsElements == NULL || count <= 5) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR,
                   "extractOIDfromCertificate: Failed to generate tbsCertificate objects list or not enough objects found.");
        goto done;
    }
    for (const BerTLVListNode *node = tbsElements; node != NULL; node = node->next) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "Main object tag found: %X", (unsigned)node->tlv->tag);
        if (node->tlv->tag == TAG_EXTENSIONS) {
            extensionsContainer = node->tlv;
            break;
        }
    }
    if (extensionsContainer == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR,
                   "extractOIDfromCertificate: Certificate Extension container (Tag 0xA3) not found.");
        goto done;
    }
    extensions = findTlv(TAG_SEQUENCE, extensionsContainer->value, extensionsContainer->length);
    if (extensions == NULL || extensions->length <= 1) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR,
                   "extractOIDfromCertificate: Sequence container 0x30 not found in Certificate Extension container 0xA3 or length too short.");
        goto done;
    }
    result = _extractOIDfromCertificateExtensionList(extensions->value, extensions->length, oid, oidLength);

done:
    releaseTlv(extensions);
    if (tbsElements != NULL) {
        berTLV_freeBerTLVList(tbsElements);
    }
    releaseTlv(tbs);
    releaseTlv(main);
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "extractOIDfromCertificate(): return %s", lpaBoolText(result));
    return result;
}
