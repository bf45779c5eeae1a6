// Profile lookup: the list through liblpa.so and the agent's writers, the
// walk that picks the provisioning profile, and identifiers as text.
#include "agent_transport_fixture.h"

#include "profile_lookup.h"

#include <cstdlib>
#include <cstring>

namespace {

using hbrsim::FaultRule;
using hbrsim::hexBytes;

const hbrsim::Bytes kCountRequest = hexBytes("BF2D035C015A");
const hbrsim::Bytes kFullListRequest = hexBytes("BF2D075C055A9F709592");

class ProfileLookupTest : public AgentTransportTest {
protected:
    void SetUp() override
    {
        AgentTransportTest::SetUp();
        SetPlatform(1);
    }
    void TearDown() override
    {
        std::free(list_.profileInfo);
        AgentTransportTest::TearDown();
    }
    void ThreeProfiles()
    {
        hbrsim::Seed seed;
        seed.profile(hbrsim::ProfileBuilder("89000123456789012358").name("Operator"));
        seed.profile(hbrsim::ProfileBuilder("89000123456789012341").profileClass(1).name("Boot"));
        seed.profile(hbrsim::ProfileBuilder("89000123456789012366").profileClass(1).enabled());
        UseSeed(seed);
    }
    std::vector<hbrsim::Bytes> Es10Requests()
    {
        std::vector<hbrsim::Bytes> out;
        for (const auto &r : Sim().records().es10) out.push_back(r.request);
        return out;
    }
    bool InLog(const std::string &text) { return AgentLogText().find(text) != std::string::npos; }

    LpaProfileInfoList list_ = {};
};

TEST_F(ProfileLookupTest, NoProfilesGiveAnEmptyListWithoutAListRequest)
{
    StartEngine();
    list_.countProfileInfo = 7;
    EXPECT_TRUE(QueryProfilesInfo(&list_));
    EXPECT_EQ(0u, list_.countProfileInfo);
    EXPECT_EQ(nullptr, list_.profileInfo);
    EXPECT_EQ((std::vector<hbrsim::Bytes>{kCountRequest}), Es10Requests());
    EXPECT_TRUE(InLog("\nlpaGetProfilesNumber API returned true\n"));
    EXPECT_TRUE(InLog("\tcountProfileInfo= 0\n"));
    EXPECT_TRUE(InLog("\tnumberProfileInfoFound= 0\n"));

    uint8_t iccid[10] = {};
    size_t count = 0;
    FindProvisioningProfileIccid(&list_, iccid, &count);
    EXPECT_EQ(0u, count);
    EXPECT_FALSE(InLog("Profile 0 :"));
}

TEST_F(ProfileLookupTest, ListsReusedAndAllocationsRefused)
{
    ThreeProfiles();
    StartEngine();
    EXPECT_TRUE(QueryProfilesInfo(&list_));
    EXPECT_TRUE(QueryProfilesInfo(&list_));  // the first array is released (LeakSanitizer)
    EXPECT_EQ(3u, list_.countProfileInfo);

    SetAgentAllocFaultForTest(0, 1);
    EXPECT_TRUE(QueryProfilesInfo(&list_));
    EXPECT_EQ(2u, list_.maxProfileInfo);
    EXPECT_EQ(2u, list_.countProfileInfo);
    EXPECT_EQ(3u, list_.numberProfileInfoFound);
    EXPECT_NE(std::string::npos, EngineLog().find("exceeds maximum allowed"));

    Sim().records().clear();
    SetAgentAllocFaultForTest(0, 3);
    EXPECT_TRUE(QueryProfilesInfo(&list_));
    EXPECT_EQ(0u, list_.countProfileInfo);
    EXPECT_EQ(0u, list_.maxProfileInfo);
    EXPECT_EQ(nullptr, list_.profileInfo);
    EXPECT_EQ((std::vector<hbrsim::Bytes>{kCountRequest}), Es10Requests());
}

TEST_F(ProfileLookupTest, EngineFailuresAreLoggedByName)
{
    ThreeProfiles();
    StartEngine();
    Sim().faults().add(FaultRule::es10(0xBF2D).es10Answer(hexBytes("BF2E00")));
    list_.countProfileInfo = 5;
    EXPECT_FALSE(QueryProfilesInfo(&list_));
    EXPECT_EQ(0u, list_.countProfileInfo);
    EXPECT_TRUE(InLog("=> Error code: LPA_ERROR_LOCAL_PROFILE_UNABLE_TO_EXTRACT_DATA\n"));
    EXPECT_EQ(0u, lpaGetErrorCode());

    Sim().faults().add(FaultRule::es10(0xBF2D).whenRequest(kFullListRequest).es10Answer(hexBytes("BF2E00")).always());
    EXPECT_FALSE(QueryProfilesInfo(&list_));
    EXPECT_EQ(0u, list_.countProfileInfo);
    EXPECT_TRUE(InLog("lpaGetrofilesInfo API returned false\n"));
}

TEST_F(ProfileLookupTest, FirstProvisioningProfileInListOrderWins)
{
    ThreeProfiles();
    StartEngine();
    ASSERT_TRUE(QueryProfilesInfo(&list_));
    uint8_t iccid[10] = {};
    size_t count = 0;
    FindProvisioningProfileIccid(&list_, iccid, &count);
    ASSERT_EQ(10u, count);
    char text[32] = "";
    EXPECT_EQ(20, HbrAgentIccidArrayToString(iccid, count, text, sizeof text));
    EXPECT_STREQ("89000123456789012341", text);
    std::string log = AgentLogText();
    for (const char *line : {"Profile 1 :\n", "\ticcid = 98001032547698103214\n", "\tprofileState = disabled\n",
                             "\tprofileName = Boot\n", "\tprofileClass = provisioning\n", "iccidsize(10-0)"}) {
        EXPECT_NE(std::string::npos, log.find(line)) << line;
    }
    EXPECT_NE(std::string::npos, log.find("\tprofileClass = operational\n"));
    EXPECT_EQ(std::string::npos, log.find("Profile 2 :"));
}

TEST_F(ProfileLookupTest, WalkStaysWithinItsRecords)
{
    std::vector<LpaProfileInfo> records(2);
    std::memset(records.data(), 0, records.size() * sizeof(LpaProfileInfo));
    records[0].profileClass[0] = 5;
    records[0].profileState[0] = 7;
    std::memset(records[0].profileName, 'N', sizeof records[0].profileName);
    records[0].profileNameLength = 64;
    records[1].profileClass[0] = 1;
    records[1].iccidLength = 12;  // more than the field: 10 bytes are taken
    LpaProfileInfoList list = {1, 2, 2, records.data()};
    uint8_t iccid[10] = {};
    size_t count = 0;
    FindProvisioningProfileIccid(&list, iccid, &count);
    EXPECT_EQ(0u, count);  // record 1 is beyond the count
    EXPECT_TRUE(InLog("\tprofileClass = UNEXPECTED VALUE\n"));
    EXPECT_TRUE(InLog("\tprofileState = UNEXPECTED VALUE\n"));
    EXPECT_TRUE(InLog("\tprofileName = " + std::string(64, 'N') + "\n"));

    list.countProfileInfo = 5;  // more than the array holds
    FindProvisioningProfileIccid(&list, iccid, &count);
    EXPECT_EQ(10u, count);
    EXPECT_TRUE(InLog("iccidsize(12-0)"));
    list.profileInfo = nullptr;
    FindProvisioningProfileIccid(&list, iccid, &count);
    FindProvisioningProfileIccid(nullptr, iccid, &count);
}

TEST_F(ProfileLookupTest, IdentifierTexts)
{
    const uint8_t iccid[10] = {0x98, 0x68, 0x00, 0x21, 0x43, 0x65, 0x87, 0x09, 0x21, 0xF3};
    char text[32] = "x";
    EXPECT_EQ(20, HbrAgentIccidArrayToString(iccid, 10, text, sizeof text));
    EXPECT_STREQ("x8986001234567890123F", text);
    text[0] = '\0';
    EXPECT_EQ(18, HbrAgentIccidArrayToString(iccid, 9, text, sizeof text));
    EXPECT_EQ(18u, std::strlen(text));
    EXPECT_TRUE(Logged("[HbrAgentIccidArrayToString]:wrong length on iccid!"));
    std::strcpy(text, "abcdefghijkl");
    EXPECT_EQ(0, HbrAgentIccidArrayToString(iccid, 10, text, sizeof text));
    EXPECT_STREQ("abcdefghijkl", text);

    StartEngine();
    char eid[40] = "";
    EXPECT_EQ(1, GetModuleEID(eid, sizeof eid));
    EXPECT_STREQ("89049032123451234512345678901235", eid);
    EXPECT_EQ(0, GetModuleEID(eid, sizeof eid));  // no room for 32 more
    EXPECT_STREQ("89049032123451234512345678901235", eid);

    eid[0] = '\0';
    Sim().state().eid = hexBytes("8904903212345123451234567890AB");  // 15 bytes
    EXPECT_EQ(1, GetModuleEID(eid, sizeof eid));
    EXPECT_STREQ("8904903212345123451234567890AB", eid);
    EXPECT_TRUE(Logged("[HbrAgentEIDArrayToString]:wrong length on iccid!"));
    Sim().faults().add(FaultRule::at("BF3E").reply("\r\nERROR\r\n").always());
    std::strcpy(eid, "held");
    EXPECT_EQ(0, GetModuleEID(eid, sizeof eid));
    EXPECT_STREQ("held", eid);
}

}  // namespace
