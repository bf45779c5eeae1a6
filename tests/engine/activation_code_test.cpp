// Activation code, confirmation code hash, OID text and profile metadata
// fields: the pure pieces of a download.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "engine_fixture.h"
#include "lpa_activation_code.h"
#include "lpa_core_log.h"
#include "lpa_core_memory_internal.h"
#include "lpa_error_internal.h"
#include "rsp_test_util.h"

namespace hbr_test {
namespace {

class PiecesTest : public EngineFixture {
protected:
    void SetUp() override
    {
        EngineFixture::SetUp();
        lpaResetErrorCode();
    }
    bool Logged(const std::string &message)
    {
        logFlush();
        std::vector<std::string> messages = LogMessages();
        return std::find(messages.begin(), messages.end(), message) != messages.end();
    }
};

using ActivationCodeTest = PiecesTest;

TEST_F(ActivationCodeTest, SyntaxCheck)
{
    struct Case {
        std::string code;
        bool valid;
    } cases[] = {
        {"1$a", false},            // one '$'
        {"1$a$", false},           // 4 characters
        {"1$ab$", true},
        {"2$ab$", false},
        {"1#ab$c", false},
        {"1$a$b$c$d$e", false},    // five '$'
        {"1$a$m$$1", true},
        {"1$" + std::string(514, 'a') + "$m", true},   // 518 characters
        {"1$" + std::string(515, 'a') + "$m", false},  // 519
    };
    for (const Case &c : cases) {
        EXPECT_EQ(_checkActivationCodeValid(c.code.c_str()), c.valid) << c.code.substr(0, 20);
    }
    EXPECT_FALSE(_checkActivationCodeValid(nullptr));
}

TEST_F(ActivationCodeTest, DecodesTheElements)
{
    ActivationCodeFields f;
    std::memset(&f, 0, sizeof(f));
    ASSERT_TRUE(decodeActivationCode("1$ab$", &f));
    EXPECT_STREQ(f.smdpAddress, "ab");
    EXPECT_STREQ(f.matchingId, "");
    EXPECT_STREQ(f.oid, "");
    EXPECT_STREQ(f.ccRequiredFlag, "");
    EXPECT_TRUE(Logged("Activation Code parsing : OID cannot be found."));

    std::memset(&f, 0, sizeof(f));
    ASSERT_TRUE(decodeActivationCode("1$a$m$$1", &f));
    EXPECT_STREQ(f.matchingId, "m");
    EXPECT_STREQ(f.oid, "");
    EXPECT_STREQ(f.ccRequiredFlag, "1");
    EXPECT_TRUE(Logged("Activation Code parsing : OID is empty."));

    std::memset(&f, 0, sizeof(f));
    ASSERT_TRUE(decodeActivationCode("1$a$m$2.999.1", &f));
    EXPECT_STREQ(f.oid, "2.999.1");
    EXPECT_EQ(lpaGetErrorCodeNoClear(), 0u);

    // A MatchingID of 254 characters fits, 255 do not.
    std::memset(&f, 0, sizeof(f));
    EXPECT_TRUE(decodeActivationCode(("1$a$" + std::string(254, 'm')).c_str(), &f));
    EXPECT_EQ(std::strlen(f.matchingId), 254u);
}

TEST_F(ActivationCodeTest, RejectsMalformedElements)
{
    struct Case {
        std::string code;
        const char *text;
    } cases[] = {
        {"1$a$m$1.2.3$0", "Activation Code parsing : Confirmation Code Required flag is invalid."},
        {"1$a$m$1.2.3$", "Activation Code parsing : Confirmation Code Required flag is empty."},
        {"1$a$m$1.2.3$11", "Activation Code parsing : Confirmation Code Required flag size exceeds limits."},
        {"1$a$m$3.1", "Activation Code parsing : OID format check failed."},
        {"1$a$m$1.2.", "Activation Code parsing : OID format check failed."},
        {"1$$mm", "Activation Code parsing : SM-DP server address empty!"},
        {"1$a$" + std::string(255, 'm'), "Activation Code parsing : MatchingID cannot be found or size exceeds limits."},
        {"1$a$m$" + std::string(128, '1'), "Activation Code parsing : OID size exceeds limits."},
        {"1$a", "Invalid Activation Code!"},
    };
    for (const Case &c : cases) {
        ActivationCodeFields f;
        std::memset(&f, 0, sizeof(f));
        lpaResetErrorCode();
        EXPECT_FALSE(decodeActivationCode(c.code.c_str(), &f)) << c.code.substr(0, 30);
        EXPECT_EQ(lpaGetErrorCodeNoClear(), 0x230Au);
        EXPECT_TRUE(Logged(c.text)) << c.text;
    }
}

TEST_F(ActivationCodeTest, ElementExtractionTellsNotFoundFromTooLong)
{
    char out[4];
    EXPECT_EQ(_extractActivationCodeElement("1$a$b", 3, out, sizeof(out)), AC_ELEMENT_NOT_FOUND);
    EXPECT_EQ(_extractActivationCodeElement("1$a$bcdef", 2, out, sizeof(out)), AC_ELEMENT_TOO_LONG);
    EXPECT_STREQ(out, "bcd");  // the cut text stays
    EXPECT_EQ(_extractActivationCodeElement("1$a$bcde", 2, out, sizeof(out)), AC_ELEMENT_TOO_LONG);
    EXPECT_EQ(_extractActivationCodeElement("1$a$bc$", 2, out, sizeof(out)), AC_ELEMENT_EXTRACTED);
    EXPECT_STREQ(out, "bc");
    EXPECT_EQ(_extractActivationCodeElement(nullptr, 1, out, sizeof(out)), AC_ELEMENT_INVALID_PARAMETER);
}

TEST_F(ActivationCodeTest, ConfirmationCodeHash)
{
    const uint8_t code[] = {'1', '2', '3', '4'};
    char out[65];
    ASSERT_TRUE(computeConfirmationCodeHash(code, 4, "00112233445566778899AABBCCDDEEFF", out));
    EXPECT_STREQ(out, "06B387355633C795AA7EC0BBA73682C268C2E9326B649540D7FDB3F866A8761C");
    char lower[65];
    ASSERT_TRUE(computeConfirmationCodeHash(code, 4, "00112233445566778899aabbccddeeff", lower));
    EXPECT_STREQ(lower, out);
    EXPECT_FALSE(computeConfirmationCodeHash(code, 4, "00112233445566778899AABBCCDDEEF", out));    // 31
    EXPECT_FALSE(computeConfirmationCodeHash(code, 4, "00112233445566778899AABBCCDDEEFF0", out));  // 33
    EXPECT_FALSE(computeConfirmationCodeHash(code, 0, "00112233445566778899AABBCCDDEEFF", out));
    EXPECT_FALSE(computeConfirmationCodeHash(code, 4, "0011223344556677889GAABBCCDDEEFF", out));
    EXPECT_TRUE(Logged("Confirmation Code Hash calculation: Cannot convert TransactionID in hex."));
}

TEST_F(ActivationCodeTest, OidText)
{
    struct Case {
        Bytes oid;
        bool ok;
        std::string text;
    } cases[] = {
        {HexToBytes("2A864886F70D"), true, "1.2.840.113549"},
        {HexToBytes("813403"), true, "2.100.3"},
        {HexToBytes("0627"), true, "0.6.39"},
        {HexToBytes("2A86"), false, ""},                    // ends inside a node
        {HexToBytes("2A8181818181818181817F"), false, ""},  // a node of 10 bytes
        {Bytes(), false, ""},
    };
    for (const Case &c : cases) {
        char out[128];
        std::memset(out, 'x', sizeof(out));
        EXPECT_EQ(convertASN1_OIDtoText(c.oid.empty() ? nullptr : c.oid.data(), c.oid.size(), out), c.ok)
            << BytesToHex(c.oid);
        if (!c.oid.empty()) {
            EXPECT_EQ(std::string(out, strnlen(out, sizeof(out))), c.text);  // emptied on failure
        }
    }
    // 127 characters fit, one node more does not.
    Bytes longOid(1, 0x2A);
    while (longOid.size() < 63) longOid.push_back(0x01);  // "1.2" then ".1" each: 127 characters
    char out[128];
    ASSERT_TRUE(convertASN1_OIDtoText(longOid.data(), longOid.size(), out));
    EXPECT_EQ(std::strlen(out), 127u);
    longOid.push_back(0x01);
    EXPECT_FALSE(convertASN1_OIDtoText(longOid.data(), longOid.size(), out));
    EXPECT_STREQ(out, "");
}

Bytes Metadata(std::initializer_list<Bytes> extra, bool withName = true)
{
    Bytes content = Cat({Tlv(0x5A, HexToBytes("98444756000021436587")), Tlv(0x91, Bytes{'O', 'p'})});
    if (withName) content = Cat({content, Tlv(0x92, Bytes{'P', '1'})});
    for (const Bytes &b : extra) content = Cat({content, b});
    return Tlv(0xBF25, content);
}

bool Extract(const Bytes &metadata, ProfileMetadataFields *fields)
{
    std::memset(fields, 0, sizeof(*fields));
    fields->consentReason = 7;
    fields->cancelRequired = 1;
    return _extractFieldsFromProfileMetadata(metadata.data(), metadata.size(), fields);
}

TEST_F(ActivationCodeTest, MetadataFields)
{
    ProfileMetadataFields f;
    // Owner with MCC/MNC and GIDs, PPR1 and PPR2.
    ASSERT_TRUE(Extract(Metadata({Tlv(0x99, HexToBytes("0560")),
                                  Tlv(0xB7, Cat({Tlv(0x80, HexToBytes("21F354")), Tlv(0x81, HexToBytes("AB")),
                                                 Tlv(0x82, HexToBytes("CDEF"))}))}),
                        &f));
    EXPECT_STREQ(f.profileName, "P1");
    EXPECT_EQ(f.pprValue, 0x0560u);
    EXPECT_EQ(f.hasPpr1, 1);
    EXPECT_EQ(f.hasPpr2, 1);
    EXPECT_EQ(BytesToHex(f.mccMnc, 3), "21F354");
    EXPECT_EQ(f.gid1Present, 1);
    EXPECT_EQ(f.gid1Length, 1u);
    EXPECT_EQ(f.gid2Length, 2u);
    EXPECT_EQ(f.consentReason, 0);
    EXPECT_EQ(f.cancelRequired, 0);
    EXPECT_TRUE(Logged("_extractFieldsFromProfileMetadata(): Return True"));

    // A tag 99 shorter than two bytes is read within its length and means no PPR.
    ASSERT_TRUE(Extract(Metadata({Tlv(0x99, Bytes())}), &f));
    EXPECT_EQ(f.pprValue, 0u);
    ASSERT_TRUE(Extract(Metadata({Tlv(0x99, HexToBytes("06"))}), &f));
    EXPECT_EQ(f.pprValue, 6u);
    EXPECT_EQ(f.hasPpr1 + f.hasPpr2, 0);
    EXPECT_TRUE(Logged("PPR defined in profile: None or PPRUC only"));

    // A profile name of 64 bytes fits; 65 fail but count as present.
    Bytes name64(64, 'n');
    Bytes base = Cat({Tlv(0x5A, HexToBytes("98444756000021436587")), Tlv(0x91, Bytes{'O', 'p'})});
    ASSERT_TRUE(Extract(Tlv(0xBF25, Cat({base, Tlv(0x92, name64)})), &f));
    EXPECT_EQ(std::strlen(f.profileName), 64u);
    lpaResetErrorCode();
    EXPECT_FALSE(Extract(Tlv(0xBF25, Cat({base, Tlv(0x92, Bytes(65, 'n'))})), &f));
    EXPECT_EQ(lpaGetErrorCodeNoClear(), 0x232Cu);
    EXPECT_FALSE(Logged("Missing or invalid Metadata field (ICCID, Service Provider Name or Profile Name)"));
    EXPECT_EQ(f.cancelRequired, 0);
}

TEST_F(ActivationCodeTest, MetadataFailures)
{
    struct Case {
        const char *name;
        Bytes metadata;
        uint32_t code;
        const char *text;
    } cases[] = {
        {"zero MCC/MNC", Metadata({Tlv(0xB7, Tlv(0x80, HexToBytes("000000")))}), 0x232C,
         "Profile Owner: MCC / MNC missing or invalid value \"000000\"!"},
        {"no name", Metadata({Tlv(0x95, Bytes{2})}, false), 0x232C,
         "Missing or invalid Metadata field (ICCID, Service Provider Name or Profile Name)"},
        {"GID1 of 11 bytes", Metadata({Tlv(0xB7, Cat({Tlv(0x80, HexToBytes("21F354")), Tlv(0x81, Bytes(11, 1))}))}),
         0x2002, "Profile Owner list: GID1 size bigger (11) than maximum allowed (10)!"},
        {"MCC/MNC of 2 bytes", Metadata({Tlv(0xB7, Tlv(0x80, HexToBytes("21F3")))}), 0x232C,
         "Profile Owner list: Incorrect length for MCC/MNC!"},
        {"other owner tag", Metadata({Tlv(0xB7, Tlv(0x83, Bytes{1}))}), 0x232C,
         "Profile Owner list: Unattended element detected!"},
        {"not BF25", Tlv(0xBF26, Bytes(4, 0)), 0x232C, "_extractFieldsFromProfileMetadata: Profile Metadata main tag not found!"},
        {"two elements", Tlv(0xBF25, Cat({Tlv(0x91, Bytes{1}), Tlv(0x92, Bytes{1})})), 0x232C,
         "_extractFieldsFromProfileMetadata: Failed to extract field list or corrupted Metadata!"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ProfileMetadataFields f;
        lpaResetErrorCode();
        EXPECT_FALSE(Extract(c.metadata, &f));
        EXPECT_EQ(lpaGetErrorCodeNoClear(), c.code);
        EXPECT_TRUE(Logged(c.text));
        EXPECT_EQ(f.consentReason, 0);
        EXPECT_EQ(f.cancelRequired, 0);
    }
    ProfileMetadataFields f;
    lpaResetErrorCode();
    EXPECT_FALSE(_extractFieldsFromProfileMetadata(HexToBytes("BF25").data(), 2, &f));
    EXPECT_EQ(lpaGetErrorCodeNoClear(), 0x2001u);
}

}  // namespace
}  // namespace hbr_test
