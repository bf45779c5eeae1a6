// Base64, SHA-256, case-insensitive comparison and the certificate OID.
#include <gtest/gtest.h>

#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "alloc_sweep.h"
#include "engine_fixture.h"
#include "log_recorder.h"
#include "lpa_base64.h"
#include "lpa_certificate.h"
#include "lpa_sha256.h"
#include "lpa_string.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::string encode(const Bytes &data)
{
    std::string out(encodeBase64BufferSize(data.size()), '#');
    uint32_t n = encodeBase64(data.data(), static_cast<uint32_t>(data.size()), &out[0]);
    EXPECT_EQ(out[n], '\0');
    EXPECT_EQ(n + 1, out.size());
    out.resize(n);
    return out;
}

// Decodes text; *ok receives the answer.
Bytes decode(const std::string &text, bool *ok)
{
    Bytes out(text.size() / 4 * 3 + 1, 0xEE);
    size_t length = 12345;
    *ok = decodeBase64(text.c_str(), text.size(), out.data(), &length, out.size());
    out.resize(*ok ? length : 0);
    return out;
}

Bytes bytesOf(const std::string &text)
{
    return Bytes(text.begin(), text.end());
}

TEST(Base64, EncodesTheRfc4648Vectors)
{
    const char *const vectors[][2] = {{"", ""},          {"f", "Zg=="},         {"fo", "Zm8="},
                                      {"foo", "Zm9v"},   {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="},
                                      {"foobar", "Zm9vYmFy"}};
    for (const auto &v : vectors) {
        EXPECT_EQ(encode(bytesOf(v[0])), v[1]);
        if (v[0][0] != '\0') {
            bool ok = false;
            EXPECT_EQ(decode(v[1], &ok), bytesOf(v[0]));
            EXPECT_TRUE(ok);
        }
    }
    EXPECT_EQ(encodeBase64BufferSize(0), 1u);
    EXPECT_EQ(encodeBase64BufferSize(1), 5u);
    EXPECT_EQ(encodeBase64BufferSize(3), 5u);
    EXPECT_EQ(encodeBase64BufferSize(4), 9u);
    char out[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(encodeBase64(nullptr, 0, out), 0u);
    EXPECT_EQ(out[0], '\0');
}

TEST(Base64, MatchesLibcryptoAndRoundTrips)
{
    std::mt19937 random(20261208);
    for (size_t length = 0; length <= 300; ++length) {
        Bytes data(length);
        for (auto &b : data) b = static_cast<uint8_t>(random());
        std::string oracle(4 * ((length + 2) / 3) + 1, '\0');
        int n = EVP_EncodeBlock(reinterpret_cast<unsigned char *>(&oracle[0]), data.data(),
                                static_cast<int>(length));
        oracle.resize(static_cast<size_t>(n));
        std::string text = encode(data);
        ASSERT_EQ(text, oracle) << length;
        if (length > 0) {
            bool ok = false;
            ASSERT_EQ(decode(text, &ok), data) << length;
            EXPECT_TRUE(ok);
        }
    }
}

TEST(Base64, DecodingRefusals)
{
    uint8_t out[16];
    memset(out, 0xEE, sizeof(out));
    size_t length = 7;
    EXPECT_FALSE(decodeBase64("Zm9vYg", 6, out, &length, sizeof(out)));
    EXPECT_FALSE(decodeBase64("Zm9vYmFy", 8, out, &length, 5));
    EXPECT_TRUE(decodeBase64("Zm9vYmFy", 8, out, &length, 6));
    EXPECT_EQ(length, 6u);
    memset(out, 0xEE, sizeof(out));
    length = 7;
    EXPECT_FALSE(decodeBase64(nullptr, 4, out, &length, sizeof(out)));
    EXPECT_FALSE(decodeBase64("Zg==", 0, out, &length, sizeof(out)));
    EXPECT_FALSE(decodeBase64("Zg==", 4, nullptr, &length, sizeof(out)));
    EXPECT_EQ(length, 7u);
    EXPECT_EQ(out[0], 0xEE);

    // outLength may be NULL.
    EXPECT_TRUE(decodeBase64("Zg==", 4, out, nullptr, sizeof(out)));
    EXPECT_EQ(out[0], 0x66);
}

TEST(Base64, DecodingIsLenient)
{
    bool ok = false;
    EXPECT_EQ(decode("====", &ok), Bytes{0x00});
    EXPECT_TRUE(ok);
    EXPECT_EQ(decode("Zg==", &ok), Bytes{0x66});
    // A character outside the alphabet counts as "A".
    EXPECT_EQ(decode("Zg A", &ok), decode("ZgAA", &ok));
    EXPECT_EQ(decode("Zg A", &ok), (Bytes{0x66, 0x00, 0x00}));
    // Padding inside the text does not stop decoding.
    EXPECT_EQ(decode("Zg==Zg==", &ok), (Bytes{0x66, 0x66}));
    EXPECT_EQ(decode("Zm8=Zm9v", &ok), bytesOf("fofoo"));
    // "=" in the fourth place alone drops only the third byte.
    EXPECT_EQ(decode("Zm8=", &ok), bytesOf("fo"));
    // "=" in the third place drops the fourth character's byte as well.
    EXPECT_EQ(decode("Zg=v", &ok), Bytes{0x66});
}

std::string hex(const uint8_t *bytes, size_t length)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < length; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0xF];
    }
    return text;
}

TEST(Sha256, KnownDigests)
{
    uint8_t digest[LPA_SHA256_DIGEST_SIZE];
    sha256Digest(digest, nullptr, 0);
    EXPECT_EQ(hex(digest, sizeof(digest)),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    sha256Digest(digest, reinterpret_cast<const uint8_t *>("abc"), 3);
    EXPECT_EQ(hex(digest, sizeof(digest)),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    const std::string twoBlocks = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    sha256Digest(digest, reinterpret_cast<const uint8_t *>(twoBlocks.data()), twoBlocks.size());
    EXPECT_EQ(hex(digest, sizeof(digest)),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

TEST(CompareIgnoringCase, Texts)
{
    LogRecorder log;
    EXPECT_TRUE(compareEqualStringIgnoringCase("readerName", "READERNAME"));
    EXPECT_FALSE(compareEqualStringIgnoringCase("readerName", "readerName "));
    EXPECT_FALSE(compareEqualStringIgnoringCase("readerName ", "readerName"));
    EXPECT_TRUE(compareEqualStringIgnoringCase("", ""));
    EXPECT_FALSE(compareEqualStringIgnoringCase("", "a"));
    EXPECT_FALSE(compareEqualStringIgnoringCase("abc", "abd"));
    // Bytes of 0x80 and above: compared as themselves (C locale), never misread.
    EXPECT_TRUE(compareEqualStringIgnoringCase("\xE9t\xFF", "\xE9T\xFF"));
    EXPECT_FALSE(compareEqualStringIgnoringCase("\xE9", "\xC9"));
    EXPECT_FALSE(compareEqualStringIgnoringCase("a\x80", "A\x81"));
    EXPECT_TRUE(log.lines.empty());

    EXPECT_FALSE(compareEqualStringIgnoringCase(nullptr, "x"));
    EXPECT_FALSE(compareEqualStringIgnoringCase("x", nullptr));
    EXPECT_EQ(log.count("compareEqualStringIgnoringCase: Invalid Parameters."), 2u);
    EXPECT_EQ(log.lines[0].level, LPA_LOG_LEVEL_ERR);
}

// ---------------------------------------------------------------------------
// Certificate OID

// A tiny DER writer, independent of the engine's TLV code.
Bytes der(uint8_t tag, const Bytes &value)
{
    Bytes out{tag};
    size_t n = value.size();
    if (n < 0x80) {
        out.push_back(static_cast<uint8_t>(n));
    } else if (n < 0x100) {
        out.insert(out.end(), {0x81, static_cast<uint8_t>(n)});
    } else {
        out.insert(out.end(), {0x82, static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)});
    }
    out.insert(out.end(), value.begin(), value.end());
    return out;
}

Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const auto &part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

const Bytes kSubjectAltNameId = {0x55, 0x1D, 0x11};
const Bytes kOid = {0x88, 0x37, 0x01, 0x02};  // 2.999.1.2

Bytes extension(const Bytes &id, const Bytes &extnValue)
{
    return der(0x30, cat({der(0x06, id), der(0x04, extnValue)}));
}

Bytes subjectAltName(const Bytes &registeredId)
{
    return extension(kSubjectAltNameId, der(0x30, der(0x88, registeredId)));
}

// The tbsCertificate elements before the extensions: version, serial and
// five empty sequences.
Bytes tbsHead(int emptySequences = 5)
{
    Bytes out = cat({der(0xA0, der(0x02, {0x02})), der(0x02, {0x01})});
    for (int i = 0; i < emptySequences; ++i) out = cat({out, der(0x30, {})});
    return out;
}

Bytes certificate(const Bytes &tbsElements)
{
    return der(0x30, cat({der(0x30, tbsElements), der(0x30, {}), der(0x03, {0x00})}));
}

Bytes certificateWithExtensions(const Bytes &extensions)
{
    return certificate(cat({tbsHead(), der(0xA3, der(0x30, extensions))}));
}

class CertificateOidTest : public ::testing::Test {
protected:
    void SetUp() override { liveAtStart = liveBlocks(); }
    void TearDown() override { EXPECT_EQ(liveBlocks(), liveAtStart) << "blocks leaked"; }

    // Runs the extraction; on false, expects exactly one ERR line, equal to errorLine.
    bool extract(const Bytes &cert, const std::string &errorLine = "")
    {
        log.clear();
        oid.assign(LPA_CERTIFICATE_OID_MAX, 0xEE);
        oidLength = 999;
        const uint32_t live = liveBlocks();
        bool result = extractOIDfromCertificate(cert.data(), cert.size(), oid.data(), &oidLength);
        EXPECT_EQ(liveBlocks(), live);
        std::vector<std::string> errors;
        for (const auto &line : log.lines) {
            if (line.level == LPA_LOG_LEVEL_ERR) errors.push_back(line.text);
        }
        if (result) {
            EXPECT_TRUE(errors.empty());
            EXPECT_TRUE(log.has("extractOIDfromCertificate(): return true", LPA_LOG_LEVEL_DEB));
        } else {
            EXPECT_EQ(errors, std::vector<std::string>{errorLine});
            // The length is cleared once the arguments have passed their check.
            if (errorLine != "extractOIDfromCertificate: Invalid Parameters.") {
                EXPECT_EQ(oidLength, 0u);
            }
            EXPECT_TRUE(log.has("extractOIDfromCertificate(): return false", LPA_LOG_LEVEL_DEB));
        }
        return result;
    }

    Bytes found() const { return Bytes(oid.begin(), oid.begin() + static_cast<long>(oidLength)); }

    LogRecorder log;
    Bytes oid;
    size_t oidLength = 0;
    uint32_t liveAtStart = 0;
};

TEST_F(CertificateOidTest, MinimalSyntheticCertificate)
{
    const Bytes expected = {0x30, 0x2E, 0x30, 0x27, 0xA0, 0x03, 0x02, 0x01, 0x02, 0x02, 0x01, 0x01,
                            0x30, 0x00, 0x30, 0x00, 0x30, 0x00, 0x30, 0x00, 0x30, 0x00, 0xA3, 0x13,
                            0x30, 0x11, 0x30, 0x0F, 0x06, 0x03, 0x55, 0x1D, 0x11, 0x04, 0x08, 0x30,
                            0x06, 0x88, 0x04, 0x88, 0x37, 0x01, 0x02, 0x30, 0x00, 0x03, 0x01, 0x00};
    const Bytes cert = certificateWithExtensions(subjectAltName(kOid));
    ASSERT_EQ(cert, expected);

    ASSERT_TRUE(extract(cert));
    EXPECT_EQ(found(), kOid);

    long at = log.find("extractOIDfromCertificate()...", LPA_LOG_LEVEL_DEB);
    EXPECT_EQ(at, 0);
    for (const char *tag : {"A0", "2", "30", "30", "30", "30", "30", "A3"}) {
        long next = log.find(std::string("Main object tag found: ") + tag, LPA_LOG_LEVEL_DEB, at + 1);
        ASSERT_GT(next, at) << tag;
        at = next;
    }
    long sanLine = log.find("subjectAltName extension found (Id 2.5.29.17 so 0x551D11)", LPA_LOG_LEVEL_DEB);
    EXPECT_GT(sanLine, at);
    EXPECT_GT(log.find("_extractOIDfromCertificateExtensionList(): return true", LPA_LOG_LEVEL_DEB), sanLine);
    EXPECT_EQ(log.lines.back().text, "extractOIDfromCertificate(): return true");

    ASSERT_EQ(log.hexDumps.size(), 2u);
    EXPECT_EQ(log.hexDumps[0].level, LPA_LOG_LEVEL_DEB);
    EXPECT_EQ(log.hexDumps[0].title, "Certificate Extension data");
    EXPECT_EQ(log.hexDumps[0].label, ">>");
    EXPECT_EQ(log.hexDumps[0].bytes, Bytes(expected.begin() + 28, expected.begin() + 43));
    EXPECT_EQ(log.hexDumps[1].level, LPA_LOG_LEVEL_DEB);
    EXPECT_EQ(log.hexDumps[1].title, "OID found (Registered ID, Tag 0x88)");
    EXPECT_EQ(log.hexDumps[1].label, ">>>");
    EXPECT_EQ(log.hexDumps[1].bytes, kOid);
}

TEST_F(CertificateOidTest, RefusedStructures)
{
    const std::string prefix = "extractOIDfromCertificate: ";
    const Bytes san = subjectAltName(kOid);

    // Arguments and the outer containers.
    Bytes tooShort = certificateWithExtensions(san);
    tooShort.resize(15);
    EXPECT_FALSE(extract(tooShort, prefix + "Invalid Parameters."));
    size_t length = 5;
    EXPECT_FALSE(extractOIDfromCertificate(nullptr, 48, oid.data(), &length));
    EXPECT_FALSE(extract(cat({der(0x04, Bytes(20, 0))}), prefix + "Main container 0x30 not found or size too small."));
    EXPECT_FALSE(extract(cat({der(0x30, Bytes(12, 0)), Bytes(4, 0)}),
                         prefix + "Main container 0x30 not found or size too small."));
    EXPECT_FALSE(extract(der(0x30, cat({der(0x30, Bytes(10, 0)), Bytes(4, 0)})),
                         prefix + "tbsCertificate container 0x30 not found or size too small."));

    // Five tbsCertificate elements are too few, even with extensions.
    EXPECT_FALSE(extract(certificate(cat({tbsHead(2), der(0xA3, der(0x30, san))})),
                         prefix + "Failed to generate tbsCertificate objects list or not enough objects found."));
    // Seven elements, no extensions.
    EXPECT_FALSE(extract(certificate(cat({tbsHead(4), der(0x02, Bytes(4, 1))})),
                         prefix + "Certificate Extension container (Tag 0xA3) not found."));
    EXPECT_EQ(log.count("Main object tag found: 30"), 4u);
    // An A3 without a usable Extensions sequence.
    EXPECT_FALSE(extract(certificate(cat({tbsHead(), der(0xA3, der(0x30, {0x00}))})),
                         prefix + "Sequence container 0x30 not found in Certificate Extension container 0xA3 or length too short."));
}

TEST_F(CertificateOidTest, ExtensionSearch)
{
    const std::string prefix = "_extractOIDfromCertificateExtensionList: ";
    const Bytes keyUsage = extension({0x55, 0x1D, 0x0F}, der(0x03, {0x05, 0xA0}));
    const Bytes eightByteId = extension({0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x15}, {0x05, 0x00});

    // Other extensions and non-sequence elements are passed over.
    ASSERT_TRUE(extract(certificateWithExtensions(cat({der(0x05, {}), keyUsage, subjectAltName(kOid)}))));
    EXPECT_EQ(found(), kOid);
    EXPECT_EQ(log.hexDumps.size(), 3u);

    // An identifier of another length ends the search, although a subjectAltName follows.
    EXPECT_FALSE(extract(certificateWithExtensions(cat({eightByteId, subjectAltName(kOid)})),
                         prefix + "Extension identifier TLV 0x06 not found in extension or incorrect length."));
    EXPECT_FALSE(extract(certificateWithExtensions(cat({keyUsage, der(0x30, der(0x04, {0x01, 0x02}))})),
                         prefix + "Extension identifier TLV 0x06 not found in extension or incorrect length."));

    EXPECT_FALSE(extract(certificateWithExtensions(keyUsage), "subjectAltName extension not found"));
    EXPECT_FALSE(extract(certificateWithExtensions(cat({der(0x05, {}), der(0x02, {0x01})})),
                         "subjectAltName extension not found"));

    // Inside the subjectAltName.
    EXPECT_FALSE(extract(certificateWithExtensions(extension(kSubjectAltNameId, {0x30, 0x01, 0x00})),
                         prefix + "subjectAltName data TLV 0x04 not found in extension or too short."));
    EXPECT_FALSE(extract(certificateWithExtensions(extension(kSubjectAltNameId, {0x30, 0x01, 0x88, 0x00})),
                         prefix + "subjectAltName sequence container 0x30 not found or too short."));
    EXPECT_FALSE(extract(certificateWithExtensions(subjectAltName({})),
                         prefix + "Registered ID tag 0x88 not found in subjectAltName sequence or too short."));
    EXPECT_FALSE(extract(certificateWithExtensions(extension(kSubjectAltNameId, der(0x30, der(0x82, bytesOf("smdp"))))),
                         prefix + "Registered ID tag 0x88 not found in subjectAltName sequence or too short."));
    // Only the first subjectAltName counts.
    EXPECT_FALSE(extract(certificateWithExtensions(cat({subjectAltName({}), subjectAltName(kOid)})),
                         prefix + "Registered ID tag 0x88 not found in subjectAltName sequence or too short."));

    // The bound of 128 bytes.
    Bytes longest(128);
    for (size_t i = 0; i < longest.size(); ++i) longest[i] = static_cast<uint8_t>(i);
    ASSERT_TRUE(extract(certificateWithExtensions(subjectAltName(longest))));
    EXPECT_EQ(found(), longest);
    longest.push_back(0x80);
    EXPECT_FALSE(extract(certificateWithExtensions(subjectAltName(longest)),
                         prefix + "Registered ID size (129) exceeds bound (128)"));

    // Called directly with nothing to walk.
    size_t length = 7;
    log.clear();
    EXPECT_FALSE(_extractOIDfromCertificateExtensionList(kOid.data(), 0, oid.data(), &length));
    EXPECT_TRUE(log.has(prefix + "Invalid Parameters.", LPA_LOG_LEVEL_ERR));
    EXPECT_FALSE(_extractOIDfromCertificateExtensionList(Bytes{0x30, 0x80}.data(), 2, oid.data(), &length));
    EXPECT_TRUE(log.has(prefix + "Failed to generate extension list or not enough elements.", LPA_LOG_LEVEL_ERR));
    EXPECT_EQ(length, 0u);
}

TEST_F(CertificateOidTest, AllocationFailuresFreeEverything)
{
    const Bytes cert = certificateWithExtensions(subjectAltName(kOid));
    oid.assign(LPA_CERTIFICATE_OID_MAX, 0);
    int failures = allocationFailureSweep([&] {
        size_t length = 0;
        return extractOIDfromCertificate(cert.data(), cert.size(), oid.data(), &length) && length == 4;
    });
    EXPECT_GT(failures, 10);
}

// An X.509 v3 certificate made by libcrypto, signed with an EC key.
Bytes libcryptoCertificate()
{
    EVP_PKEY *key = EVP_EC_gen("P-256");
    X509 *x509 = X509_new();
    Bytes der;
    if (key != nullptr && x509 != nullptr) {
        X509_set_version(x509, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(x509), 4242);
        X509_gmtime_adj(X509_getm_notBefore(x509), 0);
        X509_gmtime_adj(X509_getm_notAfter(x509), 3600);
        X509_NAME *name = X509_get_subject_name(x509);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char *>("Test SM-DP+"), -1, -1, 0);
        X509_set_issuer_name(x509, name);
        X509_set_pubkey(x509, key);
        X509V3_CTX ctx;
        X509V3_set_ctx_nodb(&ctx);
        X509V3_set_ctx(&ctx, x509, x509, nullptr, nullptr, 0);
        const struct {
            int nid;
            const char *value;
        } extensions[] = {{NID_basic_constraints, "critical,CA:FALSE"},
                          {NID_key_usage, "critical,digitalSignature"},
                          {NID_subject_alt_name, "DNS:smdp.example,RID:2.999.1.2"}};
        for (const auto &e : extensions) {
            X509_EXTENSION *ext = X509V3_EXT_conf_nid(nullptr, &ctx, e.nid, e.value);
            if (ext != nullptr) {
                X509_add_ext(x509, ext, -1);
                X509_EXTENSION_free(ext);
            }
        }
        if (X509_sign(x509, key, EVP_sha256()) > 0) {
            unsigned char *buffer = nullptr;
            int n = i2d_X509(x509, &buffer);
            if (n > 0) der.assign(buffer, buffer + n);
            OPENSSL_free(buffer);
        }
    }
    X509_free(x509);
    EVP_PKEY_free(key);
    return der;
}

TEST_F(CertificateOidTest, CertificateMadeByLibcrypto)
{
    const Bytes cert = libcryptoCertificate();
    ASSERT_GT(cert.size(), 200u);
    ASSERT_TRUE(extract(cert));
    EXPECT_EQ(found(), kOid);
    EXPECT_EQ(log.hexDumps.size(), 4u);  // three extensions and the OID
    EXPECT_EQ(log.count("subjectAltName extension found (Id 2.5.29.17 so 0x551D11)"), 1u);
}

// The hex dumps as the default log backend writes them.
class CertificateOidLogTest : public hbr_test::EngineFixture {};

TEST_F(CertificateOidLogTest, HexDumpsReachTheLogFile)
{
    const Bytes cert = certificateWithExtensions(subjectAltName(kOid));
    uint8_t oid[LPA_CERTIFICATE_OID_MAX];
    size_t length = 0;
    ASSERT_TRUE(extractOIDfromCertificate(cert.data(), cert.size(), oid, &length));
    const auto messages = LogMessages();
    int title = hbr_test::FindLine(messages, "Certificate Extension data");
    ASSERT_GE(title, 0);
    int dump = hbr_test::FindLine(messages, ">> [0-14] :  06 03 55 1D 11 04 08 30 06 88 04 88 37 01 02", title);
    EXPECT_GT(dump, title);
    int oidTitle = hbr_test::FindLine(messages, "OID found (Registered ID, Tag 0x88)", dump);
    EXPECT_GT(oidTitle, dump);
    EXPECT_GT(hbr_test::FindLine(messages, ">>> [0-3] :  88 37 01 02", oidTitle), oidTitle);
}

}  // namespace
