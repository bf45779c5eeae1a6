#include "sim_seed.h"
#include "sim_test_util.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace hbrsim;
using hbrsim::test::es10;
using hbrsim::test::openAndSelect;
using hbrsim::test::statusOf;

namespace {
const char kIccidA[] = "89000000000000000011";
const char kIccidB[] = "89000000000000000022";
const char kIccidC[] = "89000000000000000033";

class SimIsdr : public ::testing::Test {
protected:
    void SetUp() override
    {
        Seed seed;
        seed.profile(ProfileBuilder(kIccidA)
                         .enabled()
                         .name("Alpha")
                         .provider("Op A")
                         .profileClass(ClassOperational)
                         .notifyOn(NotificationEvent::Disable, "smdp.a.example")
                         .notifyOn(NotificationEvent::Delete, "smdp.a.example"));
        seed.profile(ProfileBuilder(kIccidB)
                         .name("Beta")
                         .profileClass(ClassTest)
                         .notifyOn(NotificationEvent::Enable, "smdp.b.example"));
        seed.profile(ProfileBuilder(kIccidC).name("Prov").profileClass(ClassProvisioning));
        seed.nextSeq(300).defaultDpAddress("smdp.default.example");
        module.euicc.isdr.state = seed.isdr;
        channel = openAndSelect(module.euicc);
    }

    // Sends the request, checks 90 00, returns the answer without it.
    Bytes send(const Bytes &request)
    {
        Bytes r = es10(module.euicc, channel, request);
        EXPECT_EQ(0x9000, statusOf(r));
        return Bytes(r.begin(), r.end() - 2);
    }

    uint8_t resultOf(const Bytes &request)
    {
        Bytes r = send(request);
        Tlv outer, result;
        EXPECT_TRUE(parseSingle(r, outer));
        EXPECT_TRUE(parseSingle(outer.value, result));
        EXPECT_EQ(0x80u, result.tag);
        return result.value.empty() ? 0xFF : result.value[0];
    }

    Bytes byIccid(uint32_t tag, const char *iccid)
    {
        return tlv(tag, {tlv(0xA0, tlv(0x5A, iccidFromDigits(iccid))), hexBytes("8101FF")});
    }

    std::vector<std::pair<uint32_t, NotificationEvent>> notifications()
    {
        std::vector<std::pair<uint32_t, NotificationEvent>> out;
        for (const Notification &n : module.state().notifications) out.emplace_back(n.seq, n.event);
        return out;
    }

    Module module;
    int channel = 0;
};
}  // namespace

TEST_F(SimIsdr, GetProfilesInfoHonoursTagListAndSearch)
{
    Bytes all = send(hexBytes("BF2D075C055A9F709592"));
    Bytes expectA = tlv(0xE3, {tlv(0x5A, iccidFromDigits(kIccidA)), hexBytes("9F700101"),
                               tlv(0x92, Bytes{'A', 'l', 'p', 'h', 'a'}), hexBytes("950102")});
    Tlv outer, a0;
    ASSERT_TRUE(parseSingle(all, outer));
    EXPECT_EQ(0xBF2Du, outer.tag);
    ASSERT_TRUE(parseSingle(outer.value, a0));
    std::vector<Tlv> entries;
    ASSERT_TRUE(parseAll(a0.value, entries));
    ASSERT_EQ(3u, entries.size());
    EXPECT_EQ(expectA, tlv(0xE3, entries[0].value));

    // The count form lists only ICCIDs.
    EXPECT_EQ(tlv(0xBF2D, tlv(0xA0, {tlv(0xE3, tlv(0x5A, iccidFromDigits(kIccidA))),
                                      tlv(0xE3, tlv(0x5A, iccidFromDigits(kIccidB))),
                                      tlv(0xE3, tlv(0x5A, iccidFromDigits(kIccidC)))})),
              send(hexBytes("BF2D035C015A")));

    // Without a tag list: every tag the profile has, in ProfileInfo order.
    Bytes full = send(tlv(0xBF2D, tlv(0xA0, tlv(0x5A, iccidFromDigits(kIccidB)))));
    ASSERT_TRUE(parseSingle(full, outer));
    ASSERT_TRUE(parseSingle(outer.value, a0));
    ASSERT_TRUE(parseAll(a0.value, entries));
    ASSERT_EQ(1u, entries.size());
    std::vector<Tlv> fields;
    ASSERT_TRUE(parseAll(entries[0].value, fields));
    std::vector<uint32_t> tags;
    for (const Tlv &f : fields) tags.push_back(f.tag);
    EXPECT_EQ((std::vector<uint32_t>{0x5A, 0x4F, 0x9F70, 0x92, 0x95, 0xB6}), tags);

    // Search by class, and a search that matches nothing.
    Bytes prov = send(hexBytes("BF2D0AA003950101" "5C035A9F70"));
    EXPECT_EQ(tlv(0xBF2D, tlv(0xA0, tlv(0xE3, {tlv(0x5A, iccidFromDigits(kIccidC)), hexBytes("9F700100")}))), prov);
    EXPECT_EQ(hexBytes("BF2D02A000"), send(tlv(0xBF2D, tlv(0xA0, tlv(0x5A, Bytes(10, 0))))));
    // A malformed tag list gives the error form.
    EXPECT_EQ(hexBytes("BF2D03810101"), send(hexBytes("BF2D035C019F")));
}

TEST_F(SimIsdr, EnableSwitchesAndNotifies)
{
    EXPECT_EQ(hexBytes("BF3E125A1089049032123451234512345678901235"), send(hexBytes("BF3E035C015A")));
    EXPECT_EQ(0, resultOf(byIccid(0xBF31, kIccidB)));
    EXPECT_EQ(0, module.euicc.isdr.findByIccid(iccidFromDigits(kIccidA))->state);
    EXPECT_EQ(1, module.euicc.isdr.findByIccid(iccidFromDigits(kIccidB))->state);
    // The disable of A comes first, then the enable of B.
    auto expected = std::vector<std::pair<uint32_t, NotificationEvent>>{{300, NotificationEvent::Disable},
                                                                          {301, NotificationEvent::Enable}};
    EXPECT_EQ(expected, notifications());
    EXPECT_EQ("smdp.b.example", *module.state().notifications[1].address);

    EXPECT_EQ(2, resultOf(byIccid(0xBF31, kIccidB)));   // not disabled
    EXPECT_EQ(1, resultOf(byIccid(0xBF31, "89000000000000000099")));
    EXPECT_EQ(2, resultOf(byIccid(0xBF32, kIccidA)));   // not enabled
    EXPECT_EQ(0, resultOf(byIccid(0xBF32, kIccidB)));   // no disable event configured for B
    EXPECT_EQ(2u, module.state().notifications.size());
    EXPECT_EQ(127, resultOf(hexBytes("BF3103810100")));
    // Enable by ISD-P AID.
    Bytes aid = module.euicc.isdr.findByIccid(iccidFromDigits(kIccidC))->aid;
    EXPECT_EQ(0, resultOf(tlv(0xBF31, {tlv(0xA0, tlv(0x4F, aid)), hexBytes("810100")})));
}

TEST_F(SimIsdr, PolicyRulesRefuseDisableAndDelete)
{
    module.euicc.isdr.findByIccid(iccidFromDigits(kIccidA))->ppr = hexBytes("0640");  // PPR1
    module.euicc.isdr.findByIccid(iccidFromDigits(kIccidB))->ppr = hexBytes("0520");  // PPR2
    EXPECT_EQ(3, resultOf(byIccid(0xBF32, kIccidA)));
    EXPECT_EQ(3, resultOf(byIccid(0xBF31, kIccidB)));  // the enabled one has PPR1
    EXPECT_EQ(3, resultOf(tlv(0xBF33, tlv(0x5A, iccidFromDigits(kIccidB)))));
    EXPECT_EQ(2, resultOf(tlv(0xBF33, tlv(0x5A, iccidFromDigits(kIccidA)))));  // enabled
    EXPECT_EQ(1, resultOf(tlv(0xBF33, tlv(0x5A, Bytes(10, 0)))));
    EXPECT_TRUE(module.state().notifications.empty());
    EXPECT_EQ(3u, module.state().profiles.size());
    // The tag list returns the rules.
    Bytes compact = send(hexBytes("BF2D075C055A9F709599"));
    EXPECT_TRUE(hbrsim::test::contains(compact, hexBytes("99020640")));
}

TEST_F(SimIsdr, DeleteNicknameAndMemoryReset)
{
    EXPECT_EQ(0, resultOf(byIccid(0xBF32, kIccidA)));
    EXPECT_EQ(0, resultOf(tlv(0xBF33, tlv(0x5A, iccidFromDigits(kIccidA)))));
    EXPECT_EQ(2u, module.state().profiles.size());
    auto expected = std::vector<std::pair<uint32_t, NotificationEvent>>{{300, NotificationEvent::Disable},
                                                                          {301, NotificationEvent::Delete}};
    EXPECT_EQ(expected, notifications());

    EXPECT_EQ(0, resultOf(tlv(0xBF29, {tlv(0x5A, iccidFromDigits(kIccidB)), tlv(0x90, Bytes{'m', 'y'})})));
    EXPECT_EQ("my", module.euicc.isdr.findByIccid(iccidFromDigits(kIccidB))->nickname);
    EXPECT_EQ(0, resultOf(tlv(0xBF29, {tlv(0x5A, iccidFromDigits(kIccidB)), tlv(0x90, Bytes{})})));
    EXPECT_EQ("", module.euicc.isdr.findByIccid(iccidFromDigits(kIccidB))->nickname);
    EXPECT_EQ(1, resultOf(tlv(0xBF29, {tlv(0x5A, Bytes(10, 0)), tlv(0x90, Bytes{'x'})})));
    EXPECT_EQ(127, resultOf(tlv(0xBF29, {tlv(0x5A, iccidFromDigits(kIccidB)), tlv(0x90, Bytes(65, 'x'))})));

    // Bit 0 (operational) matches nothing now; bit 1 deletes the test profile;
    // bit 2 clears the default SM-DP+ address. Provisioning profiles stay.
    EXPECT_EQ(1, resultOf(hexBytes("BF340482020780")));
    EXPECT_EQ(0, resultOf(hexBytes("BF340482020640")));
    EXPECT_EQ(1u, module.state().profiles.size());
    EXPECT_EQ(0, resultOf(hexBytes("BF340482020520")));
    EXPECT_FALSE(module.state().defaultDpAddress.has_value());
    EXPECT_EQ(1, resultOf(hexBytes("BF3404820205E0")));
    EXPECT_EQ(127, resultOf(hexBytes("BF3403820100")));
}

TEST_F(SimIsdr, AddressesReadAndSet)
{
    EXPECT_EQ(tlv(0xBF3C, {tlv(0x80, Bytes{'s', 'm', 'd', 'p', '.', 'd', 'e', 'f', 'a', 'u', 'l', 't', '.', 'e', 'x',
                                           'a', 'm', 'p', 'l', 'e'}),
                           hexBytes("810F6C70612E64732E67736D612E636F6D")}),
              send(hexBytes("BF3C00")));
    EXPECT_EQ(hexBytes("BF3F03800100"), send(hexBytes("BF3F05800378797A")));
    EXPECT_EQ("xyz", *module.state().defaultDpAddress);
    EXPECT_EQ(hexBytes("BF3F03800100"), send(hexBytes("BF3F028000")));
    EXPECT_EQ(hexBytes("BF3C11810F6C70612E64732E67736D612E636F6D"), send(hexBytes("BF3C00")));
}

TEST_F(SimIsdr, NotificationsListRetrieveRemove)
{
    module.state().notifications.clear();
    Seed seed;
    seed.notification(70000, NotificationEvent::Delete, "d.example", kIccidA);
    seed.notification(200, NotificationEvent::Install, "i.example", kIccidB);
    seed.notification(5, NotificationEvent::Enable, "e.example");
    module.state().notifications = seed.isdr.notifications;

    Bytes list = send(hexBytes("BF2800"));
    Bytes expected = tlv(0xBF28, tlv(0xA0, {
        tlv(0xBF2F, {hexBytes("800105"), hexBytes("81020640"), tlv(0x0C, Bytes{'e', '.', 'e', 'x', 'a', 'm', 'p', 'l', 'e'})}),
        tlv(0xBF2F, {hexBytes("800200C8"), hexBytes("81020780"), tlv(0x0C, Bytes{'i', '.', 'e', 'x', 'a', 'm', 'p', 'l', 'e'}),
                     tlv(0x5A, iccidFromDigits(kIccidB))}),
        tlv(0xBF2F, {hexBytes("8003011170"), hexBytes("81020410"), tlv(0x0C, Bytes{'d', '.', 'e', 'x', 'a', 'm', 'p', 'l', 'e'}),
                     tlv(0x5A, iccidFromDigits(kIccidA))}),
    }));
    EXPECT_EQ(expected, list);
    // Filter by event.
    Bytes deletes = send(hexBytes("BF2804" "81020410"));
    EXPECT_EQ(1u, hbrsim::test::entriesOf(deletes).size());

    // seqNumber is a DER INTEGER: 80 02 00 C8 finds notification 200 (a PIR,
    // as it is an install notification); 80 01 C8 is -56 and finds nothing.
    Bytes pir = send(hexBytes("BF2B06A004" "800200C8"));
    Tlv outer, a0, first;
    ASSERT_TRUE(parseSingle(pir, outer));
    ASSERT_TRUE(parseSingle(outer.value, a0));
    ASSERT_TRUE(parseSingle(a0.value, first));
    EXPECT_EQ(0xBF37u, first.tag);
    EXPECT_EQ(hexBytes("BF2B02A000"), send(hexBytes("BF2B05A003" "8001C8")));
    EXPECT_EQ(hexBytes("BF2B02A000"), send(hexBytes("BF2B05A003800101")));
    EXPECT_EQ(hexBytes("BF2B0381017F"), send(hexBytes("BF2B06A004" "80020005")));  // not DER
    // Other notifications carry the eUICC's and the EUM's certificates.
    Bytes other = send(hexBytes("BF2B05A003" "800105"));
    ASSERT_TRUE(parseSingle(other, outer));
    ASSERT_TRUE(parseSingle(outer.value, a0));
    ASSERT_TRUE(parseSingle(a0.value, first));
    EXPECT_EQ(0x30u, first.tag);
    std::vector<Tlv> parts;
    ASSERT_TRUE(parseAll(first.value, parts));
    ASSERT_EQ(4u, parts.size());
    EXPECT_EQ(0xBF2Fu, parts[0].tag);
    EXPECT_EQ(0x5F37u, parts[1].tag);
    EXPECT_EQ(64u, parts[1].value.size());
    const Credentials &credentials = module.state().info.credentials;
    ASSERT_FALSE(credentials.euiccCertificate.empty());
    EXPECT_EQ(credentials.euiccCertificate, tlv(parts[2].tag, parts[2].value));
    EXPECT_EQ(credentials.eumCertificate, tlv(parts[3].tag, parts[3].value));

    EXPECT_EQ(hexBytes("BF3003800101"), send(hexBytes("BF30038001C8")));  // -56
    EXPECT_EQ(hexBytes("BF300380017F"), send(hexBytes("BF300480020005")));  // not DER
    EXPECT_EQ(hexBytes("BF3003800100"), send(hexBytes("BF3004800200C8")));
    EXPECT_EQ(hexBytes("BF3003800101"), send(hexBytes("BF3004800200C8")));
    EXPECT_EQ(2u, module.state().notifications.size());

    // A fixed-width encoding of the sequence numbers.
    module.state().seqWidth = 4;
    Bytes wide = send(hexBytes("BF2804" "81020640"));
    EXPECT_TRUE(hbrsim::test::contains(wide, hexBytes("800400000005")));
}

TEST(SimSeed, JsonSeedFillsTheSameFields)
{
    const char *json = R"({
      "eid": "89049032000000000000000000000042",
      "nextSeq": 70000,
      "defaultDpAddress": "dp.example",
      "rootDsAddress": null,
      "profiles": [
        {"iccid": "8944000000000000001", "state": 1, "class": 1, "profileName": "P",
         "ppr": "0640", "iconType": 1, "icon": "0102",
         "notificationConfig": [{"event": "enable", "address": "n.example"}],
         "owner": {"mccMnc": "21F354", "gid1": "AA"}}
      ],
      "notifications": [{"seq": 200, "event": "delete", "iccid": "8944000000000000001"}],
      "euicc": {"firstChannel": 5, "channelCount": 2, "selectAnswer": "fci91", "pieceSize": 64},
      "module": {"echo": true, "sysstartAfterReset": true}
    })";
    Seed seed;
    std::string error;
    ASSERT_TRUE(parseSeedJson(json, seed, &error)) << error;
    EXPECT_EQ(hexBytes("89049032000000000000000000000042"), seed.isdr.eid);
    EXPECT_EQ(70000u, seed.isdr.nextSeq);
    EXPECT_EQ("dp.example", *seed.isdr.defaultDpAddress);
    EXPECT_FALSE(seed.isdr.rootDsAddress.has_value());
    ASSERT_EQ(1u, seed.isdr.profiles.size());
    const Profile &p = seed.isdr.profiles[0];
    EXPECT_EQ(hexBytes("984400000000000000F1"), p.iccid);
    EXPECT_EQ(1, p.state);
    EXPECT_EQ(ClassProvisioning, p.profileClass);
    EXPECT_TRUE(p.hasPpr1());
    EXPECT_EQ(hexBytes("0102"), p.icon);
    ASSERT_TRUE(p.owner.has_value());
    EXPECT_EQ(hexBytes("21F354"), p.owner->mccMnc);
    ASSERT_EQ(1u, p.notificationConfig.size());
    ASSERT_EQ(1u, seed.isdr.notifications.size());
    EXPECT_FALSE(seed.isdr.notifications[0].address.has_value());
    EXPECT_EQ(5, seed.euicc.firstChannel);
    EXPECT_EQ(SelectAnswer::Fci91, seed.euicc.selectAnswer);
    EXPECT_EQ(64u, seed.euicc.pieceSize);
    EXPECT_EQ(CchoForm::Echo, seed.module.cchoForm);
    EXPECT_TRUE(seed.module.sysstartAfterReset);
    EXPECT_EQ("8944000000000000001F", iccidToDigits(p.iccid));

    // The eUICC's own info, and certificate files (the CI's gives its key id).
    Bytes ski = tlv(0x30, {tlv(0x06, hexBytes("551D0E")), tlv(0x04, tlv(0x04, Bytes(20, 7)))});
    Bytes ci = tlv(0x30, {tlv(0x30, tlv(0xA3, tlv(0x30, ski))), tlv(0x30, Bytes{}), tlv(0x03, Bytes{0})});
    Bytes eum = tlv(0x30, Bytes{1});
    std::string dir = ::testing::TempDir();
    for (const auto &file : {std::make_pair(std::string("seed-ci.der"), ci), std::make_pair(std::string("seed-eum.der"), eum)}) {
        std::ofstream(dir + file.first, std::ios::binary).write(reinterpret_cast<const char *>(file.second.data()),
                                                                 static_cast<std::streamsize>(file.second.size()));
    }
    Seed withInfo;
    ASSERT_TRUE(parseSeedJson(R"({"euiccInfo": {"svn": "020300", "freeVolatileMemory": 300,
                                                "sasAcreditationNumber": "SAS-9"},
                                  "ciCertificate": ")" + dir + R"(seed-ci.der", "eumCertificate": ")" + dir + R"(seed-eum.der"})",
                              withInfo, &error)) << error;
    EXPECT_EQ(hexBytes("020300"), withInfo.isdr.info.svn);
    EXPECT_EQ(300u, withInfo.isdr.info.freeVolatileMemory);
    EXPECT_EQ("SAS-9", withInfo.isdr.info.sasAcreditationNumber);
    EXPECT_EQ(Bytes(20, 7), withInfo.isdr.info.credentials.ciKeyId);
    EXPECT_EQ(eum, withInfo.isdr.info.credentials.eumCertificate);
    EXPECT_EQ(seed.isdr.info.credentials.euiccCertificate, withInfo.isdr.info.credentials.euiccCertificate);
    Seed bad;
    EXPECT_FALSE(parseSeedJson(R"({"ciCertificate": ")" + dir + R"(seed-eum.der"})", bad, &error));
    EXPECT_NE(std::string::npos, error.find("has no subject key identifier")) << error;
    EXPECT_FALSE(parseSeedJson(R"({"euiccCertificate": "/nonexistent/euicc.der"})", bad, &error));
    EXPECT_FALSE(parseSeedJson(R"({"euiccInfo": {"svn": "0202"}})", bad, &error));
    EXPECT_FALSE(parseSeedJson(R"({"profiles": [{"iccid": "89", "notificationConfig": [{"event": "boot"}]}]})", bad, &error));
    EXPECT_EQ("unknown event \"boot\"", error);
    EXPECT_FALSE(parseSeedJson(R"({"eid": "XYZ"})", bad, &error));
    EXPECT_FALSE(parseSeedJson("[1]", bad, &error));
}
