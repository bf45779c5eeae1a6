// Profile management end to end: export, frame, SE media, generic-modem
// driver, AT text, simulated module, simulated eUICC.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "api_test_util.h"

namespace hbr_test {
namespace {

using hbrsim::Bytes;
using hbrsim::FaultRule;
using hbrsim::hexBytes;
using hbrsim::tlv;

const Bytes kCountRequest = hexBytes("BF2D035C015A");
const Bytes kFullListRequest = hexBytes("BF2D075C055A9F709592");
const Bytes kCompactListRequest = hexBytes("BF2D075C055A9F709599");

const char kOpenChannel[] = "AT+CSIM=10,\"0070000001\"\r";
const char kSelectIsdr[] = "AT+CSIM=44,\"01A4040010A0000005591010FFFFFFFF890000010000\"\r";
const char kCloseChannel[] = "AT+CSIM=10,\"0070800100\"\r";
const char kCountCommand[] = "AT+CSIM=24,\"81E2910006BF2D035C015A00\"\r";
const char kFullListCommand[] = "AT+CSIM=32,\"81E291000ABF2D075C055A9F70959200\"\r";
const char kCompactListCommand[] = "AT+CSIM=32,\"81E291000ABF2D075C055A9F70959900\"\r";
const char kDisableCommand[] = "AT+CSIM=52,\"81E2910014BF3211A00C5A0A980010325476981032148101FF00\"\r";
const char kEnableCommand[] = "AT+CSIM=52,\"81E2910014BF3111A00C5A0A980010325476981032148101FF00\"\r";
const char kDeleteCommand[] = "AT+CSIM=42,\"81E291000FBF330C5A0A9800103254769810321400\"\r";

// The STORE DATA commands among the recorded AT commands.
std::vector<std::string> StoreDataCommands()
{
    std::vector<std::string> out;
    for (const auto &command : AtCommands()) {
        if (command.find("\"81E2") != std::string::npos) {
            out.push_back(command);
        }
    }
    return out;
}

const hbrsim::Profile *SimProfile(const char *digits)
{
    return Sim().euicc.isdr.findByIccid(hbrsim::iccidFromDigits(digits));
}

Bytes IccidOf(const char *digits)
{
    return hbrsim::iccidFromDigits(digits);
}

class ProfileApiTest : public ApiFixture {
protected:
    const uint8_t *P() const { return ProvisioningIccid().data(); }
    size_t PLength() const { return ProvisioningIccid().size(); }
    uint32_t Error() { return lpaGetErrorCode(); }
    std::vector<LpaProfileInfo> records_ = std::vector<LpaProfileInfo>(4);
    LpaProfileInfoList List(size_t capacity)
    {
        LpaProfileInfoList list = {};
        list.maxProfileInfo = capacity;
        list.profileInfo = records_.data();
        return list;
    }
};

// ---- reads ----

TEST_F(ProfileApiTest, GetEidSendsFourCommandsInItsFrame)
{
    LpaEid eid;
    std::memset(&eid, 0xEE, sizeof(eid));
    EXPECT_TRUE(NoLeak([&] { return lpaGetEID(&eid); }));
    EXPECT_EQ(Error(), 0u);
    EXPECT_EQ(HexOf(eid.eid, eid.eidLength), kSimEid);
    EXPECT_EQ(eid.eid[16], 0u);

    std::vector<std::string> commands = AtCommands();
    EXPECT_EQ(commands, (std::vector<std::string>{kOpenChannel, kSelectIsdr,
                                                  "AT+CSIM=24,\"81E2910006BF3E035C015A00\"\r", kCloseChannel}));
    for (const auto &record : Sim().records().at) {
        EXPECT_EQ(record.command.size(), std::strlen(record.command.c_str()));
    }
    EXPECT_TRUE(InOrder(LogSinceMark(), {{"DEB", "[LPASDKAPI] <lpaGetEID> started"},
                                         {"DEB", "lpaResetErrorCode()..."},
                                         {"DEB", "++ lpaGetEID()"},
                                         {"DEB", "-- lpaGetEID() : return true"},
                                         {"DEB", "[LPASDKAPI] <lpaGetEID> terminated"}}));
}

TEST_F(ProfileApiTest, CountAndFullList)
{
    size_t count = 0;
    EXPECT_TRUE(NoLeak([&] { return lpaGetProfilesNumber(&count); }));
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(StoreDataCommands(), (std::vector<std::string>{kCountCommand}));

    Sim().records().clear();
    LpaProfileInfoList list = List(4);
    EXPECT_TRUE(NoLeak([&] { return lpaGetProfilesInfo(&list); }));
    EXPECT_EQ(Error(), 0u);
    EXPECT_EQ(StoreDataCommands(), (std::vector<std::string>{kCountCommand, kFullListCommand}));
    ASSERT_EQ(list.countProfileInfo, 3u);
    EXPECT_EQ(list.numberProfileInfoFound, 3u);

    struct Want {
        const char *digits;
        uint8_t state;
        uint8_t profileClass;
        const char *name;
    } const wants[] = {{kProvisioningDigits, 1, 1, "Bootstrap"},
                       {kOperationalDigits, 0, 2, "Operator plan"},
                       {kTestDigits, 0, 0, "Test profile"}};
    for (size_t i = 0; i < 3; ++i) {
        const LpaProfileInfo &r = records_[i];
        EXPECT_EQ(Bytes(r.iccid, r.iccid + r.iccidLength), IccidOf(wants[i].digits)) << i;
        EXPECT_EQ(r.profileStateLength, 1u);
        EXPECT_EQ(r.profileState[0], wants[i].state) << i;
        EXPECT_EQ(r.profileClassLength, 1u);
        EXPECT_EQ(r.profileClass[0], wants[i].profileClass) << i;
        EXPECT_EQ(std::string(r.profileName, r.profileNameLength), wants[i].name) << i;
        EXPECT_GT(r.profileInfoRawLength, 0u);
        EXPECT_EQ(r.nicknameLength, 0u);
    }
    EXPECT_EQ(records_[3].profileInfoRawLength, 0u);

    // Two places for three profiles.
    MarkLog();
    list = List(2);
    EXPECT_TRUE(lpaGetProfilesInfo(&list));
    EXPECT_EQ(list.countProfileInfo, 2u);
    EXPECT_EQ(list.numberProfileInfoFound, 3u);
    EXPECT_EQ(CountEntries(LogSinceMark(),
                           {"WAR", "WARNING: Number of profiles found (3) exceeds maximum allowed (2)! Profile not stored."}),
              1u);
}

TEST_F(ProfileApiTest, ListArgumentsAreCheckedBeforeAnyRequest)
{
    LpaProfileInfoList list = List(0);
    EXPECT_FALSE(lpaGetProfilesInfo(&list));
    EXPECT_EQ(Error(), (uint32_t)LPA_ERROR_INVALID_PARAMETER);
    list = List(2);
    list.profileInfo = nullptr;
    EXPECT_FALSE(lpaGetProfilesInfo(&list));
    EXPECT_EQ(Error(), (uint32_t)LPA_ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(lpaGetProfilesInfo_ex(&list));
    EXPECT_EQ(Error(), (uint32_t)LPA_ERROR_INVALID_PARAMETER);
    // No room asked for: nothing to fetch.
    list.maxProfileInfo = 0;
    EXPECT_TRUE(lpaGetProfilesInfo_ex(&list));
    EXPECT_EQ(Error(), 0u);
    EXPECT_TRUE(StoreDataCommands().empty());
}

TEST_F(ProfileApiTest, EmptyEuicc)
{
    Sim().state().profiles.clear();
    size_t count = 7;
    EXPECT_TRUE(lpaGetProfilesNumber(&count));
    EXPECT_EQ(count, 0u);
    Sim().records().clear();
    LpaProfileInfoList list = List(4);
    list.countProfileInfo = 9;
    list.numberProfileInfoFound = 9;
    EXPECT_TRUE(lpaGetProfilesInfo(&list));
    EXPECT_EQ(list.countProfileInfo, 0u);
    EXPECT_EQ(list.numberProfileInfoFound, 0u);
    EXPECT_EQ(StoreDataCommands(), (std::vector<std::string>{kCountCommand}));
}

TEST_F(ProfileApiTest, CompactListCountsWhatDoesNotFit)
{
    Sim().state().profiles[0].ppr = hexBytes("0640");
    std::vector<LpaProfileInfoForPpr> compact(2);
    LpaProfileInfoList list = {0, 0, compact.size(), compact.data()};
    MarkLog();
    EXPECT_TRUE(NoLeak([&] { return lpaGetProfilesInfo_ex(&list); }));
    EXPECT_EQ(Error(), 0u);
    EXPECT_EQ(StoreDataCommands(), (std::vector<std::string>{kCompactListCommand}));
    EXPECT_EQ(list.countProfileInfo, 2u);
    EXPECT_EQ(list.numberProfileInfoFound, 3u);
    EXPECT_EQ(Bytes(compact[0].iccid, compact[0].iccid + compact[0].iccidLength), ProvisioningIccid());
    EXPECT_EQ(compact[0].profilePolicyRulesLength, 2u);
    EXPECT_EQ(HexOf(compact[0].profilePolicyRules, 2), "0640");
    EXPECT_EQ(compact[0].profileClass[0], 1u);
    EXPECT_EQ(compact[1].profilePolicyRulesLength, 0u);
    EXPECT_EQ(compact[1].profileState[0], 0u);
    EXPECT_TRUE(InOrder(LogSinceMark(), {{"DEB", "[LPASDKAPI] <lpaGetProfilesInfo_ex> started"},
                                         {"WAR", "WARNING: Number of profiles found (3) exceeds maximum allowed (2)! Profile not stored."},
                                         {"DEB", "[LPASDKAPI] <lpaGetProfilesInfo_ex> terminated"}}));
}

TEST_F(ProfileApiTest, EidOver64BytesOrMissingIsRefused)
{
    Sim().faults().add(FaultRule::es10(0xBF3E).es10Answer(tlv(0xBF3E, tlv(0x5A, Bytes(65, 0x89)))));
    LpaEid eid;
    EXPECT_FALSE(lpaGetEID(&eid));
    EXPECT_EQ(Error(), (uint32_t)LPA_ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(eid.eidLength, 0u);
    // An answer without the EID (as when its copy cannot be allocated)
    // fails with a last error too.
    Sim().faults().clear();
    Sim().faults().add(FaultRule::es10(0xBF3E).es10Answer(tlv(0xBF3E, tlv(0x80, Bytes(1, 0)))));
    EXPECT_FALSE(lpaGetEID(&eid));
    EXPECT_EQ(Error(), (uint32_t)LPA_ERROR_LOCAL_PROFILE_UNABLE_TO_EXTRACT_DATA);
}

TEST_F(ProfileApiTest, LongAnswerInPiecesStillDecodes)
{
    Sim().euicc.config.pieceSize = 40;
    std::string longName(64, 'N');
    for (auto &profile : Sim().state().profiles) {
        profile.profileName = longName;
    }
    LpaProfileInfoList list = List(4);
    EXPECT_TRUE(NoLeak([&] { return lpaGetProfilesInfo(&list); }));
    EXPECT_EQ(list.countProfileInfo, 3u);
    bool sawGetResponse = false;
    for (const auto &command : AtCommands()) {
        sawGetResponse = sawGetResponse || command.find("\"01C00000") != std::string::npos;
    }
    EXPECT_TRUE(sawGetResponse);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(records_[i].profileNameLength, 64u);
        EXPECT_EQ(std::string(records_[i].profileName, 64), longName);
    }
}

// ---- broken GET RESPONSE chains ----

class ChainingTest : public ProfileApiTest {
protected:
    void SetUp() override
    {
        ProfileApiTest::SetUp();
        Sim().euicc.config.pieceSize = 16;
    }
    void BreakChainOf(const Bytes &request, int times)
    {
        FaultRule rule = FaultRule::apdu(0xC0).inChainOf(request).statusWord(0x6D00);
        rule.times = times;
        Sim().faults().add(rule);
    }
    std::vector<Bytes> Es10Requests() const
    {
        std::vector<Bytes> out;
        for (const auto &r : Sim().records().es10) {
            out.push_back(r.request);
        }
        return out;
    }
};

TEST_F(ChainingTest, FullListIsExecutedThreeTimes)
{
    BreakChainOf(kFullListRequest, -1);
    LpaProfileInfoList list = List(4);
    EXPECT_FALSE(NoLeak([&] { return lpaGetProfilesInfo(&list); }));
    EXPECT_EQ(Error(), (uint32_t)SE_MEDIA_E_CHAINING_GET_RESPONSE);
    EXPECT_EQ(Es10Requests(), (std::vector<Bytes>{kCountRequest, kFullListRequest, kCountRequest, kFullListRequest,
                                                  kCountRequest, kFullListRequest}));
    EXPECT_TRUE(InOrder(LogSinceMark(),
                        {{"WAR", "lpaManagerGetProfilesInfo: GetResponse chaining issue detected, try another time, nbExecGetResp = 2"},
                         {"WAR", "lpaManagerGetProfilesInfo: GetResponse chaining issue detected, try another time, nbExecGetResp = 1"},
                         {"DEB", "[LPASDKAPI] <lpaGetProfilesInfo> terminated (API error: 0x801e) "}}));
}

TEST_F(ChainingTest, OneBrokenChainIsRepaired)
{
    BreakChainOf(kFullListRequest, 1);
    LpaProfileInfoList list = List(4);
    EXPECT_TRUE(lpaGetProfilesInfo(&list));
    EXPECT_EQ(Error(), 0u);
    EXPECT_EQ(list.countProfileInfo, 3u);
    EXPECT_EQ(std::string(records_[2].profileName, records_[2].profileNameLength), "Test profile");
    EXPECT_EQ(Es10Requests().size(), 4u);
}

TEST_F(ChainingTest, BrokenCountIsNotRepeatedByTheList)
{
    BreakChainOf(kCountRequest, -1);
    LpaProfileInfoList list = List(4);
    EXPECT_FALSE(lpaGetProfilesInfo(&list));
    EXPECT_EQ(Error(), (uint32_t)SE_MEDIA_E_CHAINING_GET_RESPONSE);
    EXPECT_EQ(Es10Requests(), (std::vector<Bytes>{kCountRequest, kCountRequest, kCountRequest}));
    EXPECT_TRUE(InOrder(LogSinceMark(),
                        {{"WAR", "lpaManagerGetProfilesNumber: GetResponse chaining issue detected, try another time, nbExecGetResp = 2"},
                         {"WAR", "lpaManagerGetProfilesNumber: GetResponse chaining issue detected, try another time, nbExecGetResp = 1"}}));
}

TEST_F(ChainingTest, CompactListIsExecutedThreeTimes)
{
    BreakChainOf(kCompactListRequest, -1);
    std::vector<LpaProfileInfoForPpr> compact(4);
    LpaProfileInfoList list = {0, 0, compact.size(), compact.data()};
    EXPECT_FALSE(lpaGetProfilesInfo_ex(&list));
    EXPECT_EQ(Error(), (uint32_t)SE_MEDIA_E_CHAINING_GET_RESPONSE);
    EXPECT_EQ(Es10Requests(), (std::vector<Bytes>{kCompactListRequest, kCompactListRequest, kCompactListRequest}));
}

TEST_F(ChainingTest, OtherOperationsFailAtOnce)
{
    Sim().euicc.config.pieceSize = 4;
    BreakChainOf(hexBytes("BF3E035C015A"), -1);
    BreakChainOf(hexBytes("BF3211A00C5A0A980010325476981032148101FF"), -1);
    LpaEid eid;
    EXPECT_FALSE(lpaGetEID(&eid));
    EXPECT_EQ(Error(), (uint32_t)SE_MEDIA_E_CHAINING_GET_RESPONSE);
    EXPECT_EQ(Es10Requests().size(), 1u);

    Sim().records().clear();
    EXPECT_FALSE(lpaDisableProfileByIccid(P(), PLength()));
    EXPECT_EQ(Error(), (uint32_t)SE_MEDIA_E_CHAINING_GET_RESPONSE);
    EXPECT_EQ(Es10Requests().size(), 1u);
}

// ---- operations ----

TEST_F(ProfileApiTest, OperationsChangeTheEuicc)
{
    EXPECT_TRUE(NoLeak([&] { return lpaDisableProfileByIccid(P(), PLength()); }));
    EXPECT_EQ(StoreDataCommands(), (std::vector<std::string>{kDisableCommand}));
    EXPECT_EQ(SimProfile(kProvisioningDigits)->state, 0u);
    EXPECT_TRUE(InOrder(LogSinceMark(), {{"DEB", "++ lpaManagerES10c_DisableProfileByIccid(...)"},
                                         {"DEB", "Append Refreshflag with value 0xFF"},
                                         {"DEB", "_extractResponseForDisableProfileOperation(...)"},
                                         {"DEB", "disableResult:0"},
                                         {"DEB", "-- lpaManagerES10c_DisableProfileByIccid() : return true"}}));

    Sim().records().clear();
    EXPECT_TRUE(lpaEnableProfileByIccid(P(), PLength()));
    EXPECT_EQ(StoreDataCommands(), (std::vector<std::string>{kEnableCommand}));
    EXPECT_EQ(SimProfile(kProvisioningDigits)->state, 1u);

    // Enabling another profile disables this one.
    Bytes operational = IccidOf(kOperationalDigits);
    EXPECT_TRUE(lpaEnableProfileByIccid(operational.data(), operational.size()));
    EXPECT_EQ(SimProfile(kProvisioningDigits)->state, 0u);
    EXPECT_EQ(SimProfile(kOperationalDigits)->state, 1u);

    Sim().records().clear();
    EXPECT_TRUE(NoLeak([&] { return lpaSetNicknameByIccid(P(), PLength(), "Test", 4); }));
    EXPECT_EQ(StoreDataCommands(),
              (std::vector<std::string>{"AT+CSIM=54,\"81E2910015BF29125A0A9800103254769810321490045465737400\"\r"}));
    EXPECT_EQ(SimProfile(kProvisioningDigits)->nickname, "Test");
    EXPECT_EQ(CountEntries(LogSinceMark(), {"DEB", "++ lpaSetNicknameByIccid()"}), 2u);

    Sim().records().clear();
    EXPECT_TRUE(lpaDeleteProfileByIccid(P(), PLength()));
    EXPECT_EQ(StoreDataCommands(), (std::vector<std::string>{kDeleteCommand}));
    EXPECT_EQ(SimProfile(kProvisioningDigits), nullptr);

    Sim().records().clear();
    const uint8_t options[] = {0x07, 0x80};
    EXPECT_TRUE(NoLeak([&] { return lpaMemoryReset(options, 2); }));
    EXPECT_EQ(StoreDataCommands(), (std::vector<std::string>{"AT+CSIM=26,\"81E2910007BF34048202078000\"\r"}));
    EXPECT_EQ(SimProfile(kOperationalDigits), nullptr);
    EXPECT_NE(SimProfile(kTestDigits), nullptr);
    EXPECT_EQ(Error(), 0u);
}

TEST_F(ProfileApiTest, DisablingADisabledProfileSaysSo)
{
    Bytes test = IccidOf(kTestDigits);
    EXPECT_FALSE(lpaDisableProfileByIccid(test.data(), test.size()));
    EXPECT_EQ(Error(), (uint32_t)LPA_ERROR_LOCAL_PROFILE_NOT_IN_ENABLE_STATE);
    EXPECT_TRUE(InOrder(LogSinceMark(),
                        {{"DEB", "disableResult:2"},
                         {"DEB", "_errorCode=0x00210D => LPA_ERROR_LOCAL_PROFILE_NOT_IN_ENABLE_STATE"},
                         {"DEB", "-- lpaDisableProfileByIccid() : return false"},
                         {"DEB", "[LPASDKAPI] <lpaDisableProfileByIccid> terminated (API error: 0x210d) "}}));
}

TEST_F(ProfileApiTest, RefusalsOfTheEuicc)
{
    EXPECT_FALSE(lpaEnableProfileByIccid(P(), PLength()));
    EXPECT_EQ(Error(), (uint32_t)LPA_ERROR_LOCAL_PROFILE_NOT_IN_DISABLE_STATE);
    EXPECT_FALSE(lpaDeleteProfileByIccid(P(), PLength()));
    EXPECT_EQ(Error(), (uint32_t)LPA_ERROR_LOCAL_PROFILE_NOT_IN_DISABLE_STATE);
    Bytes unknown = IccidOf("89000000000000000000");
    EXPECT_FALSE(lpaDisableProfileByIccid(unknown.data(), unknown.size()));
    EXPECT_EQ(Error(), (uint32_t)LPA_ERROR_LOCAL_PROFILE_ICCID_OR_AID_NOT_FOUND);

    // Policy rules: PPR1 forbids disabling, PPR2 forbids deleting.
    Sim().state().profiles[0].ppr = hexBytes("0640");
    EXPECT_FALSE(lpaDisableProfileByIccid(P(), PLength()));
    EXPECT_EQ(Error(), (uint32_t)LPA_ERROR_LOCAL_PROFILE_DISALLOWED_BY_POLICY);
    Sim().state().profiles[1].ppr = hexBytes("0520");
    Bytes operational = IccidOf(kOperationalDigits);
    EXPECT_FALSE(lpaDeleteProfileByIccid(operational.data(), operational.size()));
    EXPECT_EQ(Error(), (uint32_t)LPA_ERROR_LOCAL_PROFILE_DISALLOWED_BY_POLICY);
    EXPECT_EQ(Sim().state().profiles.size(), 3u);
}

TEST_F(ProfileApiTest, ResultCodesMapPerOperation)
{
    enum Op { Enable, Disable, Delete, Nickname, Reset };
    struct Case {
        Op op;
        uint32_t tag;
        int code;
        uint32_t error;
    } const cases[] = {
        {Enable, 0xBF31, 4, 0x210C},   {Enable, 0xBF31, 5, 0x2103},   {Enable, 0xBF31, 127, 0x2107},
        {Enable, 0xBF31, 6, 0x2104},   {Disable, 0xBF32, 4, 0x2104},  {Disable, 0xBF32, 5, 0x2103},
        {Disable, 0xBF32, 127, 0x2107}, {Disable, 0xBF32, 6, 0x2104}, {Delete, 0xBF33, 4, 0x2104},
        {Delete, 0xBF33, 5, 0x2104},   {Delete, 0xBF33, 127, 0x2107}, {Delete, 0xBF33, 6, 0x2104},
        {Nickname, 0xBF29, 4, 0x2104}, {Nickname, 0xBF29, 5, 0x2104}, {Nickname, 0xBF29, 127, 0x2107},
        {Nickname, 0xBF29, 6, 0x2104}, {Reset, 0xBF34, 1, 0x2106},    {Reset, 0xBF34, 5, 0x2103},
        {Reset, 0xBF34, 127, 0x2107},  {Reset, 0xBF34, 9, 0x2105},
    };
    const uint8_t options[] = {0x07, 0x80};
    for (const Case &c : cases) {
        Sim().faults().clear();
        Sim().faults().add(FaultRule::es10(c.tag).es10Result(c.code));
        bool result = true;
        switch (c.op) {
        case Enable: result = lpaEnableProfileByIccid(P(), PLength()); break;
        case Disable: result = lpaDisableProfileByIccid(P(), PLength()); break;
        case Delete: result = lpaDeleteProfileByIccid(P(), PLength()); break;
        case Nickname: result = lpaSetNicknameByIccid(P(), PLength(), "n", 1); break;
        case Reset: result = lpaMemoryReset(options, 2); break;
        }
        EXPECT_FALSE(result) << std::hex << c.tag << " " << std::dec << c.code;
        EXPECT_EQ(Error(), c.error) << std::hex << c.tag << " " << std::dec << c.code;
    }
    EXPECT_EQ(Sim().state().profiles.size(), 3u);
}

TEST_F(ProfileApiTest, MalformedAnswers)
{
    Sim().faults().add(FaultRule::es10(0xBF32).es10Answer(Bytes()));
    EXPECT_FALSE(lpaDisableProfileByIccid(P(), PLength()));
    EXPECT_EQ(Error(), (uint32_t)LPA_ERROR_INVALID_PARAMETER);
    EXPECT_EQ(CountEntries(LogSinceMark(), {"WAR", "Incorrect parameter(s)!"}), 1u);

    Sim().faults().clear();
    Sim().faults().add(FaultRule::es10(0xBF32).es10Answer(hexBytes("BF320480020000")));
    EXPECT_FALSE(lpaDisableProfileByIccid(P(), PLength()));
    EXPECT_EQ(Error(), (uint32_t)LPA_ERROR_LOCAL_PROFILE_INCORRECT_CARD_RESPONSE);

    Sim().faults().clear();
    Sim().faults().add(FaultRule::apdu(0xE2).statusWord(0x6A80));
    EXPECT_FALSE(lpaDisableProfileByIccid(P(), PLength()));
    EXPECT_EQ(Error(), (uint32_t)LPA_ERROR_LOCAL_PROFILE_INCORRECT_CARD_RESPONSE);

    Sim().faults().clear();
    Sim().faults().add(FaultRule::at("\"81E2").reply("ERROR\r\n"));
    EXPECT_FALSE(lpaDisableProfileByIccid(P(), PLength()));
    EXPECT_EQ(Error(), (uint32_t)LPA_ERROR_LOCAL_PROFILE_INVALID_DATA_EXCHANGE);

    // Memory reset and GetEID answered without data succeed.
    Sim().faults().clear();
    Sim().faults().add(FaultRule::es10(0xBF34).es10Answer(Bytes()));
    Sim().faults().add(FaultRule::es10(0xBF3E).es10Answer(Bytes()));
    const uint8_t options[] = {0x07, 0x80};
    EXPECT_TRUE(lpaMemoryReset(options, 2));
    LpaEid eid;
    EXPECT_TRUE(lpaGetEID(&eid));
    EXPECT_EQ(eid.eidLength, 0u);
    EXPECT_EQ(Error(), 0u);
    EXPECT_EQ(SimProfile(kOperationalDigits) != nullptr, true);
}

TEST_F(ProfileApiTest, NicknameAndResetOptionLimits)
{
    std::string name64(64, 'k');
    EXPECT_TRUE(lpaSetNicknameByIccid(P(), PLength(), name64.c_str(), name64.size()));
    EXPECT_EQ(SimProfile(kProvisioningDigits)->nickname, name64);

    Sim().records().clear();
    MarkLog();
    std::string name65(65, 'k');
    EXPECT_FALSE(lpaSetNicknameByIccid(P(), PLength(), name65.c_str(), name65.size()));
    EXPECT_EQ(Error(), (uint32_t)LPA_ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(StoreDataCommands().empty());
    EXPECT_EQ(CountEntries(LogSinceMark(), {"WAR", "lpaManagerES10c_SetNickname: Incorrect parameters(s)"}), 1u);

    EXPECT_TRUE(lpaSetNicknameByIccid(P(), PLength(), "", 0));
    ASSERT_EQ(Sim().records().es10.size(), 1u);
    EXPECT_EQ(hbrsim::toHex(Sim().records().es10[0].request), "BF290E5A0A980010325476981032149000");
    EXPECT_EQ(SimProfile(kProvisioningDigits)->nickname, "");

    Sim().records().clear();
    const uint8_t options[] = {0x07, 0x80, 0x00};
    EXPECT_FALSE(lpaMemoryReset(options, 1));
    EXPECT_EQ(Error(), (uint32_t)LPA_ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(lpaMemoryReset(options, 3));
    EXPECT_EQ(Error(), (uint32_t)LPA_ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(Sim().records().es10.empty());
    EXPECT_EQ(Sim().state().profiles.size(), 3u);
}

// ---- the agent's road ----

TEST_F(ProfileApiTest, AgentRoad)
{
    size_t count = 0;
    ASSERT_TRUE(lpaGetProfilesNumber(&count));
    ASSERT_EQ(count, 3u);
    std::vector<LpaProfileInfo> records(count);
    LpaProfileInfoList list = {0, 0, count, records.data()};
    ASSERT_TRUE(lpaGetProfilesInfo(&list));
    const LpaProfileInfo *provisioning = nullptr;
    for (size_t i = 0; i < list.countProfileInfo; ++i) {
        if (records[i].profileClassLength == 1 && records[i].profileClass[0] == 1) {
            provisioning = &records[i];
            break;
        }
    }
    ASSERT_NE(provisioning, nullptr);
    ASSERT_EQ(provisioning->iccidLength, 10u);

    EXPECT_TRUE(lpaDisableProfileByIccid(provisioning->iccid, provisioning->iccidLength));
    EXPECT_FALSE(lpaDisableProfileByIccid(provisioning->iccid, provisioning->iccidLength));
    EXPECT_EQ(Error(), (uint32_t)LPA_ERROR_LOCAL_PROFILE_NOT_IN_ENABLE_STATE);
    EXPECT_TRUE(lpaDeleteProfileByIccid(provisioning->iccid, provisioning->iccidLength));
    EXPECT_EQ(SimProfile(kProvisioningDigits), nullptr);
    ASSERT_TRUE(lpaGetProfilesNumber(&count));
    EXPECT_EQ(count, 2u);

    // A SELECT that succeeds on its second attempt leaves no error behind.
    Sim().faults().add(FaultRule::apdu(0xA4).statusWord(0x6A82));
    LpaEid eid;
    EXPECT_TRUE(lpaGetEID(&eid));
    EXPECT_EQ(Error(), 0u);
    Bytes test = IccidOf(kTestDigits);
    Sim().faults().add(FaultRule::apdu(0xA4).statusWord(0x6A82));
    EXPECT_FALSE(lpaDisableProfileByIccid(test.data(), test.size()));
    EXPECT_EQ(Error(), (uint32_t)LPA_ERROR_LOCAL_PROFILE_NOT_IN_ENABLE_STATE);
}

}  // namespace
}  // namespace hbr_test
