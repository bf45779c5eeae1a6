// The module's AT routines against the simulated module: exact command
// texts, results, the module's state, and the log lines; the reply
// parsers; the password masking of APN command lines.
#include "agent_transport_fixture.h"

#include "module_commands.h"
#include "secret_mask.h"

#include <cstring>

namespace {

using hbrsim::FaultRule;

const char kCcho[] = "AT+CCHO=\"A0000005591010FFFFFFFF8900000100\"\r";

class ModuleCommandsTest : public AgentTransportTest {
protected:
    void SetUp() override
    {
        AgentTransportTest::SetUp();
        SetPlatform(0);
    }
    void Reply(const std::string &contains, const std::string &reply, int times = 1)
    {
        Sim().faults().add(FaultRule::at(contains).reply(reply).repeat(times));
    }
};

TEST_F(ModuleCommandsTest, CommandTextsAndModuleState)
{
    for (int slot : {0, 1, 7}) EXPECT_EQ(1, SetModuleSimSlot(slot));
    for (int32_t type : {1, 2, -1}) {
        SetPlatform(type);
        EXPECT_EQ(1, SetModuleSimSlot(0));
    }
    EXPECT_EQ(0, SetModuleSimSlot(7));  // the module knows slots 0 and 1
    EXPECT_EQ((std::vector<std::string>{"AT+ESIMMAP=1\r\n", "AT+ESIMMAP=2\r\n", "AT+ESIMMAP=2\r\n",
                                        "AT+GTDUALSIM=0\r\n", "AT+GTDUALSIM=0\r\n", "AT+GTDUALSIM=0\r\n",
                                        "AT+GTDUALSIM=7\r\n"}),
              Sent());
    EXPECT_EQ((std::vector<int>{0, 1, 1, 0, 0, 0}), Sim().commands.slotChanges);
    EXPECT_TRUE(Logged("[Infomation]Set Module SIM Slot(7), module return Error"));
    EXPECT_TRUE(Logged("[Infomation]Set Module SIM Slot(1), module return OK"));

    Transport().module.records().clear();
    ApnInfo apn;
    std::memset(&apn, 0, sizeof apn);
    std::strcpy(apn.apn_name, "iot");
    apn.pdp_type = 3;
    EXPECT_EQ(1, SendApnInfoToModule(4, &apn));
    EXPECT_EQ("AT+GTPCTPOC=4,\"iot\",1,3,3,0,\"\",\"\"\r\n", Sent().back());
    const hbrsim::ApnRecord &stored = Sim().commands.apns.at(4);
    EXPECT_EQ("iot", stored.apn);
    EXPECT_EQ(1, stored.fixed);
    EXPECT_EQ(3, stored.pdpTypeAgain);
    EXPECT_TRUE(Logged("[Infomation]SendApnInfoToModule, module return OK(4)"));
    size_t sent = Sent().size();
    EXPECT_EQ(0, SendApnInfoToModule(5, nullptr));
    EXPECT_EQ(sent, Sent().size());

    // A password reaches the module, never the log.
    std::strcpy(apn.password, "ApnPasswordThatMustNotAppear");
    EXPECT_EQ(1, SendApnInfoToModule(4, &apn));
    EXPECT_EQ("ApnPasswordThatMustNotAppear", Sim().commands.apns.at(4).password);
    EXPECT_FALSE(Logged("ApnPasswordThatMustNotAppear"));

    // Unterminated fields are read no further than their width.
    std::memset(&apn, 'A', sizeof apn);
    EXPECT_EQ(1, SendApnInfoToModule(5, &apn));
    EXPECT_EQ(std::string(101, 'A'), Sim().commands.apns.at(5).apn);
    EXPECT_EQ(std::string(64, 'A'), Sim().commands.apns.at(5).password);

    EXPECT_EQ(1, SendDataUsageTypeToModule(1, 2));
    EXPECT_EQ("AT+GTPCTPOC=1,2\r\n", Sent().back());
    EXPECT_EQ(2, Sim().config.pocUsageType);
    EXPECT_TRUE(Logged("[Infomation]SendDataUsageTypeToModule module return OK(1,2)"));

    Sim().state().profiles.push_back(hbrsim::ProfileBuilder("89000123456789012341").profileClass(1));
    EXPECT_EQ(1, SyncNVProfileList());
    EXPECT_EQ("AT+GTPCTPOC=3\r\n", Sent().back());
    EXPECT_EQ(1, Sim().commands.syncCount);
    char iccid[32] = "x";
    EXPECT_EQ(1, GeteSIMProfileIccid(iccid, sizeof iccid));
    EXPECT_STREQ("x89000123456789012341", iccid);
    // A value that does not fit after the text held leaves it unchanged.
    EXPECT_EQ(0, GeteSIMProfileIccid(iccid, sizeof iccid));
    EXPECT_STREQ("x89000123456789012341", iccid);

    for (int value : {0, 1}) EXPECT_EQ(1, HbrAgentCXPOperationKX718Project(value));
    EXPECT_EQ("AT+ESBP=5,\"SBP_MODEM_CXP\",1\r\n", Sent().back());
    EXPECT_EQ((std::vector<int>{0, 1}), Sim().commands.cxpValues);
    EXPECT_NE(std::string::npos,
              AgentLogText().find("[Infomation]HbrAgentCXPOperationKX718Project buffer(AT+ESBP=5,\"SBP_MODEM_CXP\",0\r\n)"));
}

TEST_F(ModuleCommandsTest, StaleChannelsCloseOnBothPlatforms)
{
    for (int32_t type : {0, 1}) {
        SCOPED_TRACE(type);
        UseSeed(hbrsim::Seed());
        SetPlatform(type);
        for (int i = 0; i < 3; ++i) Sim().handle(kCcho);
        ASSERT_EQ((std::vector<int>{1, 2, 3}), Sim().openChannels());
        std::vector<int> results;
        for (int channel = 1; channel <= 5; ++channel) results.push_back(TryCloseeSIMLogicalChannel(channel));
        EXPECT_EQ((std::vector<int>{1, 1, 1, 0, 0}), results);
        EXPECT_TRUE(Sim().openChannels().empty());
        EXPECT_EQ(type == 0 ? "AT+CCHC=3\r\n" : "AT+CSIM=10,\"0070800300\"\r\n", Sent()[2]);
    }
    EXPECT_NE(std::string::npos, AgentLogText().find("[Infomation]TryCloseeSIMLogicalChannel buffer(AT+CCHC=1\r\n)"));
    for (int32_t type : {2, -1}) {
        SetPlatform(type);
        size_t sent = Sent().size();
        EXPECT_EQ(0, TryCloseeSIMLogicalChannel(3));
        EXPECT_EQ(sent, Sent().size());
    }
    EXPECT_TRUE(Logged("[Infomation]other plat, need to send close channel cmd"));
}

TEST_F(ModuleCommandsTest, ImeiAndSlotParsers)
{
    char text[16] = "stale";
    EXPECT_EQ(1, GetModuleIMEI(text, sizeof text));
    EXPECT_STREQ("356938035643809", text);
    EXPECT_TRUE(Logged("[Infomation]imei(356938035643809)"));
    Sim().config.activeSlot = 1;
    EXPECT_EQ(1, GetModuleSimSlot(text, sizeof text));
    EXPECT_STREQ("1", text);

    struct Case {
        const char *reply;
        int result;
        const char *text;
    } imei[] = {
        {"\r\n+CGSN: \"12345\"\r\n\r\nOK\r\n", 1, "12345"},
        {"\r\n+CGSN: \"12345\r\n\r\nOK\r\n", 0, ""},                    // one quote
        {"\r\n\"12345\"\r\n\r\nOK\r\n", 0, ""},                         // no tag
        {"\r\n+CGSN: \"12345\"\r\n", 0, ""},                            // no OK
        {"\r\n+CGSN: \"12345678901234567890\"\r\n\r\nOK\r\n", 0, ""},   // does not fit
        {"\r\n+CGSN: \"12345\"\r\nTOKEN", 1, "12345"},
    };
    for (const Case &c : imei) {
        SCOPED_TRACE(c.reply);
        std::strcpy(text, "stale");
        EXPECT_EQ(c.result, ParseImeiResponse(c.reply, text, sizeof text));
        EXPECT_STREQ(c.text, text);
    }
    Case slot[] = {
        {"\r\n+GTDUALSIM: 1,0\r\n\r\nOK\r\n", 1, "1"},
        {"OK\r\n+GTDUALSIM: 1\r\n", 1, "1\r\n"},   // no comma: the rest of the reply
        {"OK +GTDUALSIM", 1, ""},                  // the tag ends the text
        {"OK +GTDUALSIM:", 1, ""},
        {"\r\n+GTDUALSIM: 1,0\r\n", 0, ""},
        {"OK", 0, ""},
        {"OK +GTDUALSIM: 0123456789012345678,1", 0, ""},
    };
    for (const Case &c : slot) {
        SCOPED_TRACE(c.reply);
        std::strcpy(text, "stale");
        EXPECT_EQ(c.result, ParseSimSlotResponse(c.reply, text, sizeof text));
        EXPECT_STREQ(c.text, text);
    }
}

TEST_F(ModuleCommandsTest, BadRepliesAndTransportFailures)
{
    // Without "OK" the parsers clear their output; a failed exchange leaves it.
    char text[16] = "stale";
    Reply("AT+CGSN", "\r\n+CGSN: \"1\"\r\n");
    EXPECT_EQ(0, GetModuleIMEI(text, sizeof text));
    EXPECT_STREQ("", text);
    std::strcpy(text, "stale");
    Transport().failSend(1);
    EXPECT_EQ(0, GetModuleIMEI(text, sizeof text));
    EXPECT_TRUE(Logged("[Infomation]Send Get Module IMEI AT Cmd Fail"));
    Transport().failReceive(1);
    EXPECT_EQ(0, GetModuleSimSlot(text, sizeof text));
    EXPECT_STREQ("stale", text);
    EXPECT_TRUE(Logged("[Infomation]Get Module SIM Slot Fail"));

    Reply("AT+GTDUALSIM", "TOKEN");
    SetPlatform(1);
    EXPECT_EQ(1, SetModuleSimSlot(1));
    Reply("AT+GTPCTPOC=", "\r\nERROR\r\n");
    EXPECT_EQ(0, SendDataUsageTypeToModule(2, 3));
    EXPECT_TRUE(Logged("[Infomation]SendDataUsageTypeToModule Success(2,3)"));
    EXPECT_TRUE(Logged("[Infomation]SendDataUsageTypeToModule module return Error(2,3)"));
    Transport().failSend(1);
    EXPECT_EQ(0, SyncNVProfileList());
    EXPECT_TRUE(Logged("[Infomation]Send SyncNVProfileList AT Cmd Fail(3)"));
    Transport().emptyReceive(1);
    EXPECT_EQ(0, HbrAgentCXPOperationKX718Project(1));
    EXPECT_TRUE(Logged("[Infomation]HbrAgentCXPOperationKX718Project module return Error"));

    // The query's whole reply, or nothing when it does not fit.
    char reply[kAtReplySize] = "held";
    Reply("AT+GTPCTPOC?", "\r\nOK\r\nno key\r\n");
    EXPECT_EQ(0, GeteSIMProfileIccid(reply, sizeof reply));
    EXPECT_TRUE(Logged("[Infomation]GeteSIMProfileIccid, module no return prov_iccid: key string"));
    Reply("AT+GTPCTPOC?", "\r\n" + std::string(20, 'x') + "\r\nOK\r\n");
    EXPECT_EQ(0, HbrAgentSendPCTPOCCmdKX718Project(reply, 16));
    EXPECT_STREQ("held", reply);
    EXPECT_EQ(1, HbrAgentSendPCTPOCCmdKX718Project(reply, sizeof reply));
    EXPECT_EQ(Sim().records().at.back().reply, reply);
}

TEST_F(ModuleCommandsTest, DeactivationCheck)
{
    hbrtest::ScopedEnv divisor("HBR_SLEEP_DIVISOR", "1000");
    auto queries = [&] {
        size_t n = 0;
        for (const std::string &s : Sent()) n += s == "AT+GTPCTPOC?\r\n";
        return n;
    };
    Reply("AT+GTPCTPOC?", "\r\nERROR\r\n", 5);
    EXPECT_EQ(-1, CheckDPDDeactiveFlowNeedTriggerKX718Project());
    EXPECT_EQ(5u, queries());
    EXPECT_TRUE(Logged("[Infomation]CheckDPDDeactiveFlowNeedTriggerKX718Project FAIL"));

    Reply("AT+GTPCTPOC?", "\r\nERROR\r\n", 2);
    Sim().config.pocUsageType = 2;
    EXPECT_EQ(1, CheckDPDDeactiveFlowNeedTriggerKX718Project());
    EXPECT_EQ(8u, queries());
    EXPECT_TRUE(Logged("[Infomation]HbrAgentSendPCTPOCCmdKX718Project success(2)"));

    Sim().config.pocUsageType = 3;
    EXPECT_EQ(0, CheckDPDDeactiveFlowNeedTriggerKX718Project());
    EXPECT_EQ(9u, queries());
    Reply("AT+GTPCTPOC?", "\r\n+GTPCTPOC: poc_usage_type: 99999999999999999991\r\n\r\nOK\r\n");
    EXPECT_EQ(0, CheckDPDDeactiveFlowNeedTriggerKX718Project());

    Reply("AT+GTPCTPOC?", "\r\nOK\r\n");
    EXPECT_EQ(0, CheckDPDDeactiveFlowNeedTriggerKX718Project());
    EXPECT_TRUE(Logged("[Infomation]ParseDataUsageTypeValue, module no return poc_usage_type: key string"));
}

TEST(SecretMask, ValuesAndApnCommands)
{
    EXPECT_EQ("", MaskSecret(""));
    EXPECT_EQ("***", MaskSecret("a"));
    EXPECT_EQ("***", MaskSecret("12345678"));
    EXPECT_EQ("1234***", MaskSecret("123456789"));

    const std::string plain = "AT+GTPCTPOC=4,\"iot\",1,3,3,1,\"user\",\"secretpass\"\r\n";
    EXPECT_EQ("AT+GTPCTPOC=4,\"iot\",1,3,3,1,\"user\",\"secr***\"\r\n", MaskApnCommand(plain.c_str(), plain.size()));
    // An echo with the reply behind it; a length that cuts the text.
    const std::string echo = "AT+GTPCTPOC=5,\"a,b\",1,1,1,2,\"\",\"pw\"\r\n\r\nOK\r\n";
    EXPECT_EQ("AT+GTPCTPOC=5,\"a,b\",1,1,1,2,\"\",\"***\"\r\n\r\nOK\r\n", MaskApnCommand(echo.c_str(), echo.size()));
    EXPECT_EQ("AT+GTPCTPOC=4,\"iot\",1,3,3,1,\"user\",\"***",
              MaskApnCommand(plain.c_str(), plain.find("pass")));
    // Quotes and separators inside the unescaped texts never uncover the password.
    for (const std::string &c : {std::string("AT+GTPCTPOC=4,\"iot\",1,3,3,1,\"us\"er\",\"pa\"sswordxyz\"\r\n"),
                                 std::string("AT+GTPCTPOC=4,\"iot\",1,3,3,1,\"u\",\"\",\"passwordxyz\"\r\n")}) {
        std::string masked = MaskApnCommand(c.c_str(), c.size());
        EXPECT_EQ(std::string::npos, masked.find("sswordxyz")) << masked;
        EXPECT_EQ(std::string::npos, masked.find("wordxyz")) << masked;
    }
    for (const char *other : {"AT+GTPCTPOC=1,2\r\n", "AT+CGSN?\r\n", ""}) {
        EXPECT_EQ(other, MaskApnCommand(other, std::strlen(other)));
    }
}

}  // namespace
