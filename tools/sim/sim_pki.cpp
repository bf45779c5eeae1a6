#include "sim_pki.h"

#include <fstream>
#include <iterator>
#include <mutex>

namespace hbrsim {

namespace {
void setError(std::string *error, const std::string &text)
{
    if (error != nullptr) *error = text;
}

// The elements of the one TLV of this tag that fills `data`.
bool elementsOf(const Bytes &data, uint32_t tag, std::vector<Tlv> &out)
{
    Tlv whole;
    return parseSingle(data, whole) && whole.tag == tag && parseAll(whole.value, out);
}
}  // namespace

Bytes certificateExtension(const Bytes &certificate, const Bytes &oid)
{
    // Certificate { tbsCertificate { ..., [3] { Extensions { Extension... } } }, ... }
    std::vector<Tlv> parts, tbs, extensions;
    const Tlv *a3 = nullptr;
    if (!elementsOf(certificate, 0x30, parts) || parts.empty() || parts[0].tag != 0x30 ||
        !parseAll(parts[0].value, tbs) || (a3 = findTag(tbs, 0xA3)) == nullptr ||
        !elementsOf(a3->value, 0x30, extensions)) {
        return Bytes();
    }
    for (const Tlv &extension : extensions) {
        std::vector<Tlv> fields;
        // Extension { extnID, critical BOOLEAN OPTIONAL, extnValue OCTET STRING }
        if (extension.tag != 0x30 || !parseAll(extension.value, fields) || fields.size() < 2 ||
            fields.front().tag != 0x06 || fields.back().tag != 0x04) {
            continue;
        }
        if (fields.front().value == oid) return fields.back().value;
    }
    return Bytes();
}

Bytes subjectKeyIdOf(const Bytes &certificate)
{
    Tlv keyId;
    Bytes value = certificateExtension(certificate, hexBytes("551D0E"));
    return parseSingle(value, keyId) && keyId.tag == 0x04 ? keyId.value : Bytes();
}

bool readCertificateFile(const std::string &path, Bytes &out, std::string *error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        setError(error, "cannot open " + path);
        return false;
    }
    Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Tlv whole;
    if (!parseSingle(bytes, whole) || whole.tag != 0x30) {
        setError(error, path + " is not a DER certificate");
        return false;
    }
    out.swap(bytes);
    return true;
}

bool readCiKeyId(const std::string &ciFile, Bytes &keyId, std::string *error)
{
    Bytes certificate;
    if (!readCertificateFile(ciFile, certificate, error)) return false;
    Bytes id = subjectKeyIdOf(certificate);
    if (id.empty()) {
        setError(error, ciFile + " has no subject key identifier");
        return false;
    }
    keyId.swap(id);
    return true;
}

bool loadCredentials(const std::string &pkiDir, Credentials &out, std::string *error)
{
    Credentials c;
    if (!readCiKeyId(pkiDir + "/ci.der", c.ciKeyId, error) ||
        !readCertificateFile(pkiDir + "/eum.der", c.eumCertificate, error) ||
        !readCertificateFile(pkiDir + "/euicc.der", c.euiccCertificate, error)) {
        return false;
    }
    out = c;
    return true;
}

Credentials testPkiCredentials()
{
    static std::mutex lock;
    static Credentials cached;
    static bool loaded = false;
    std::lock_guard<std::mutex> guard(lock);
    if (!loaded) loaded = loadCredentials(HBRSIM_TEST_PKI_DIR, cached);
    return cached;
}

}  // namespace hbrsim
