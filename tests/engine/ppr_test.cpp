// Profile policy rules (installed profiles, the Rules Authorisation Table),
// ctxParams1, the address check and the notification list parser.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "engine_fixture.h"
#include "lpa_core_log.h"
#include "lpa_download.h"
#include "lpa_manager_config.h"
#include "lpa_notifications.h"
#include "lpa_error_internal.h"
#include "lpa_ppr.h"
#include "raw_data_object.h"
#include "rsp_test_util.h"

namespace hbr_test {
namespace {

ProfileMetadataFields Incoming(uint32_t ppr, const std::string &mccMnc = "21F354", const Bytes &gid1 = Bytes())
{
    ProfileMetadataFields f;
    std::memset(&f, 0, sizeof(f));
    f.pprValue = ppr;
    f.hasPpr1 = lpaPprValueHasPpr1(ppr);
    f.hasPpr2 = lpaPprValueHasPpr2(ppr);
    Bytes m = HexToBytes(mccMnc);
    std::memcpy(f.mccMnc, m.data(), 3);
    if (!gid1.empty()) {
        f.gid1Present = 1;
        std::memcpy(f.gid1, gid1.data(), gid1.size());
        f.gid1Length = gid1.size();
    }
    return f;
}

LpaProfileInfoForPpr Installed(uint8_t profileClass, uint8_t state, const std::string &ppr)
{
    LpaProfileInfoForPpr p;
    std::memset(&p, 0, sizeof(p));
    p.profileClass[0] = profileClass;
    p.profileClassLength = 1;
    p.profileState[0] = state;
    p.profileStateLength = 1;
    Bytes value = HexToBytes(ppr);
    if (!value.empty()) std::memcpy(p.profilePolicyRules, value.data(), value.size());
    p.profilePolicyRulesLength = value.size();
    return p;
}

// One rule: its pprIds, its operators (each mccMnc[, gid1]) and pprFlags.
Bytes Rule(const std::string &ids, const std::vector<std::pair<std::string, std::string>> &operators,
           const std::string &flags)
{
    Bytes ops;
    for (const auto &op : operators) {
        Bytes content = Tlv(0x80, HexToBytes(op.first));
        if (!op.second.empty()) content = Cat({content, Tlv(0x81, op.second == "-" ? Bytes() : HexToBytes(op.second))});
        ops = Cat({ops, Tlv(0x30, content)});
    }
    return Tlv(0x30, Cat({Tlv(0x80, HexToBytes(ids)), Tlv(0xA1, ops), Tlv(0x82, HexToBytes(flags))}));
}

class PprTest : public EngineFixture {
protected:
    void SetUp() override
    {
        EngineFixture::SetUp();
        lpaResetErrorCode();
    }
    // Runs the RAT check over these rules.
    bool Check(const std::vector<Bytes> &rules, ProfileMetadataFields *f)
    {
        Bytes all;
        for (const Bytes &r : rules) all = Cat({all, r});
        Bytes rat = Tlv(0xBF43, Tlv(0xA0, all));
        RawDataObject object{rat.data(), rat.size()};
        return _checkIncomingProfilePPRattributesVersurRAT(&object, f);
    }
};

TEST_F(PprTest, InstalledProfiles)
{
    // PPR1 incoming, an enabled PPR1 profile then an operational one: refused.
    std::vector<LpaProfileInfoForPpr> profiles = {Installed(1, 1, "0640"), Installed(2, 0, "")};
    LpaProfileInfoList list{profiles.size(), profiles.size(), profiles.size(), profiles.data()};
    ProfileMetadataFields f = Incoming(0x0640);
    ASSERT_TRUE(_checkIncomingProfilePPRconditionVersusInstalledProfiles(&f, &list));
    EXPECT_EQ(f.cancelRequired, 1);
    EXPECT_EQ(f.cancelReason, 3);
    EXPECT_EQ(f.consentReason, 0);
    // No PPR incoming, an enabled PPR1 profile: consent 4.
    f = Incoming(0);
    ASSERT_TRUE(_checkIncomingProfilePPRconditionVersusInstalledProfiles(&f, &list));
    EXPECT_EQ(f.cancelRequired, 0);
    EXPECT_EQ(f.consentReason, 4);
    // A disabled PPR1 profile asks nothing.
    profiles[0] = Installed(1, 0, "0640");
    f = Incoming(0);
    ASSERT_TRUE(_checkIncomingProfilePPRconditionVersusInstalledProfiles(&f, &list));
    EXPECT_EQ(f.consentReason, 0);
    EXPECT_FALSE(_checkIncomingProfilePPRconditionVersusInstalledProfiles(&f, nullptr));
    EXPECT_EQ(lpaGetErrorCodeNoClear(), 0x2001u);
}

TEST_F(PprTest, WildcardRuleWithConsent)
{
    Bytes rule = Rule("0640", {{"EEEEEE", ""}}, "0780");
    ProfileMetadataFields f = Incoming(0x0640);
    ASSERT_TRUE(Check({rule}, &f));
    EXPECT_EQ(f.cancelRequired, 0);
    EXPECT_EQ(f.consentReason, 1);
    // A profile with GID1 does not fit a rule without GID1.
    f = Incoming(0x0640, "21F354", Bytes{0xAB});
    ASSERT_TRUE(Check({rule}, &f));
    EXPECT_EQ(f.cancelRequired, 1);
    EXPECT_EQ(f.cancelReason, 3);
    // An empty GID1 in the rule accepts it.
    f = Incoming(0x0640, "21F354", Bytes{0xAB});
    ASSERT_TRUE(Check({Rule("0640", {{"EEEEEE", "-"}}, "00")}, &f));
    EXPECT_EQ(f.cancelRequired, 0);
    EXPECT_EQ(f.consentReason, 0);
    // A GID1 discard skips GID2: an equal GID1 with data passes.
    f = Incoming(0x0640, "21F354", Bytes{0xAB});
    ASSERT_TRUE(Check({Rule("0640", {{"21F354", "AB"}}, "0780")}, &f));
    EXPECT_EQ(f.consentReason, 1);
    EXPECT_EQ(lpaGetErrorCodeNoClear(), 0u);
}

TEST_F(PprTest, TiesGoToTheLaterRule)
{
    ProfileMetadataFields f = Incoming(0x0640);
    ASSERT_TRUE(Check({Rule("0640", {{"EEEEEE", ""}}, "00"), Rule("0640", {{"EEEEEE", ""}}, "0780")}, &f));
    EXPECT_EQ(f.consentReason, 1);
    f = Incoming(0x0640);
    ASSERT_TRUE(Check({Rule("0640", {{"EEEEEE", ""}}, "0780"), Rule("0640", {{"EEEEEE", ""}}, "00")}, &f));
    EXPECT_EQ(f.consentReason, 0);
    // A more exact rule first keeps its place against a wildcard one after it.
    f = Incoming(0x0640);
    ASSERT_TRUE(Check({Rule("0640", {{"21F354", ""}}, "0780"), Rule("0640", {{"EEEEEE", ""}}, "00")}, &f));
    EXPECT_EQ(f.consentReason, 1);
    // PPR2 through its own rule.
    f = Incoming(0x0560);
    ASSERT_TRUE(Check({Rule("0640", {{"EEEEEE", ""}}, "00"), Rule("0520", {{"21F354", ""}}, "0780")}, &f));
    EXPECT_EQ(f.cancelRequired, 0);
    EXPECT_EQ(f.consentReason, 2);
}

TEST_F(PprTest, MalformedRulesAndRefusals)
{
    // pprFlags 07 00.
    ProfileMetadataFields f = Incoming(0x0640);
    EXPECT_FALSE(Check({Rule("0640", {{"EEEEEE", ""}}, "0700")}, &f));
    EXPECT_EQ(lpaGetErrorCodeNoClear(), 0x232Du);
    EXPECT_EQ(f.cancelRequired, 1);
    EXPECT_EQ(f.cancelReason, 3);
    // E in the profile's MCC/MNC.
    lpaResetErrorCode();
    f = Incoming(0x0640, "21FE54");
    EXPECT_FALSE(Check({Rule("0640", {{"EEEEEE", ""}}, "00")}, &f));
    EXPECT_EQ(lpaGetErrorCodeNoClear(), 0x232Du);
    // An empty A0 refuses without a code.
    lpaResetErrorCode();
    f = Incoming(0x0640);
    EXPECT_TRUE(Check({}, &f));
    EXPECT_EQ(f.cancelRequired, 1);
    EXPECT_EQ(lpaGetErrorCodeNoClear(), 0u);
    // No matching operator: refused, no code.
    f = Incoming(0x0640);
    EXPECT_TRUE(Check({Rule("0640", {{"21F355", ""}}, "00")}, &f));
    EXPECT_EQ(f.cancelRequired, 1);
    EXPECT_EQ(lpaGetErrorCodeNoClear(), 0u);
    // A profile without PPR stops at once.
    f = Incoming(0x0580);
    EXPECT_TRUE(Check({}, &f));
    EXPECT_EQ(f.cancelRequired, 0);
}

TEST_F(PprTest, MccMncNibbles)
{
    struct Case {
        std::string rule, profile;
        bool valid, match;
        int level;
    } cases[] = {
        {"21F354", "21F354", true, true, 6},
        {"E1F3E4", "21F354", true, true, 4},
        {"21F355", "21F354", true, false, 6},
        {"2AF354", "21F354", false, false, 6},
        {"21F354", "21FE54", false, false, 6},
        {"21F3FE", "21F3F4", true, true, 5},
    };
    for (const Case &c : cases) {
        bool match = false;
        int level = 0;
        Bytes r = HexToBytes(c.rule), p = HexToBytes(c.profile);
        EXPECT_EQ(_comparePPARallowedOperator_MCC_MNC(r.data(), p.data(), &match, &level), c.valid) << c.rule;
        EXPECT_EQ(match, c.match) << c.rule;
        if (c.match) {
            EXPECT_EQ(level, c.level) << c.rule;
        }
    }
}

}  // namespace
}  // namespace hbr_test


namespace hbr_test {
namespace {

using FlowPiecesTest = PprTest;

TEST_F(FlowPiecesTest, CtxParams1)
{
    ASSERT_TRUE(lpaManagerSetConfigParameter("deviceInfoTlv", LPA_PARAMETER_TYPE_STRING, "A1028000", true));
    RawDataObject *ctx = nullptr;
    ASSERT_TRUE(_lpaManagerPrepareCtxParam("ab", &ctx));
    EXPECT_EQ(BytesToHex(ctx->data, ctx->length), "A0088002" "6162" "A1028000");
    ASSERT_TRUE(_lpaManagerPrepareCtxParam("", &ctx));  // the previous object is released
    EXPECT_EQ(BytesToHex(ctx->data, ctx->length), "A0068000A1028000");
    ASSERT_TRUE(_lpaManagerPrepareCtxParam(nullptr, &ctx));  // no 80, not a failure
    EXPECT_EQ(BytesToHex(ctx->data, ctx->length), "A004A1028000");
    // 383 bytes of content fit, 384 do not: 80 82 xx xx + MatchingID + 4 bytes of DeviceInfo.
    std::string id(375, 'm');
    ASSERT_TRUE(_lpaManagerPrepareCtxParam(id.c_str(), &ctx));
    EXPECT_EQ(ctx->length, 4u + 383u);
    id += "m";
    EXPECT_FALSE(_lpaManagerPrepareCtxParam(id.c_str(), &ctx));
    EXPECT_EQ(ctx, nullptr);
    EXPECT_EQ(lpaGetErrorCodeNoClear(), 0x230Bu);
    logFlush();
    std::vector<std::string> messages = LogMessages();
    EXPECT_NE(std::find(messages.begin(), messages.end(),
                        "Not enough memory allowed for ptrCtxParam: 384 bytes needed, 383 max allowed!"),
              messages.end());
    rawDataObject_free(ctx);
}

TEST_F(FlowPiecesTest, AddressCheckAndCancelParameters)
{
    Bytes signed1 = Tlv(0x30, Cat({Tlv(0x80, Bytes(16, 1)), Tlv(0x83, Bytes{'a', '.', 'b'}), Tlv(0x83, Bytes{'c', 'd'})}));
    EXPECT_TRUE(_verifySMDPAddress("cd", signed1.data(), signed1.size()));  // the last 83 counts
    EXPECT_FALSE(_verifySMDPAddress("a.b", signed1.data(), signed1.size()));
    EXPECT_FALSE(_verifySMDPAddress("CD", signed1.data(), signed1.size()));
    EXPECT_EQ(lpaGetErrorCodeNoClear(), 0x2304u);
    lpaResetErrorCode();
    // Unknown reasons, bad transactionIds: refused without a code.
    EXPECT_FALSE(_lpaManagerCancelSession("0011", 9, "a", nullptr));
    EXPECT_FALSE(_lpaManagerCancelSession("", 1, "a", nullptr));
    EXPECT_FALSE(_lpaManagerCancelSession(std::string(40, '0').c_str(), 1, "a", nullptr));
    EXPECT_EQ(lpaGetErrorCodeNoClear(), 0u);
}

TEST_F(FlowPiecesTest, NotificationListParsingAndSorting)
{
    auto entry = [](const std::string &seq, const std::string &op, const std::string &address) {
        Bytes content = Tlv(0x80, HexToBytes(seq));
        if (!op.empty()) content = Cat({content, Tlv(0x81, HexToBytes(op))});
        if (!address.empty()) content = Cat({content, Tlv(0x0C, Bytes(address.begin(), address.end()))});
        return Tlv(0xBF2F, content);
    };
    Bytes list = Tlv(0xBF28, Tlv(0xA0, Cat({entry("07", "0780", "x"), entry("0003", "0640", "y"),
                                            entry("05", "0520", "z1"), entry("05", "0410", "z2"),
                                            entry("010005", "0520", "w"), entry("0300", "1234", "v")})));
    LpaNotificationList parsed;
    std::memset(&parsed, 0, sizeof(parsed));
    ASSERT_TRUE(_doExtractMetadataForGetProfileNotificationList(&parsed, list.data(), list.size()));
    ASSERT_EQ(parsed.count, 5u);  // the seq beyond 16 bits is skipped
    EXPECT_EQ(lpaGetErrorCodeNoClear(), 0u);
    EXPECT_EQ(parsed.entries[1].seqNumber, 3);
    EXPECT_EQ(parsed.entries[4].seqNumber, 0x300);
    EXPECT_EQ(parsed.entries[4].operation, 255);
    ASSERT_TRUE(_sortNotificationList(&parsed));
    std::vector<int> seqs;
    std::vector<int> ops;
    for (size_t i = 0; i < parsed.count; ++i) {
        seqs.push_back(parsed.entries[i].seqNumber);
        ops.push_back(parsed.entries[i].operation);
    }
    EXPECT_EQ(seqs, (std::vector<int>{3, 5, 5, 7, 0x300}));
    EXPECT_EQ(ops, (std::vector<int>{1, 2, 3, 0, 255}));  // equal numbers keep their order
    // A missing 0C fails the parse with 0x2205.
    Bytes bad = Tlv(0xBF28, Tlv(0xA0, Cat({entry("01", "0780", "x"), entry("02", "0780", "")})));
    EXPECT_FALSE(_doExtractMetadataForGetProfileNotificationList(&parsed, bad.data(), bad.size()));
    EXPECT_EQ(lpaGetErrorCodeNoClear(), 0x2205u);
    EXPECT_EQ(parsed.count, 1u);
}

}  // namespace
}  // namespace hbr_test
