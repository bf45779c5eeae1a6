// The flows of hbr-agent end to end over the device service.
#include "flows_e2e.h"

using namespace flows_e2e;

namespace {

TEST_F(FlowsE2E, ActivationDownloadsReplacesAndReportsOnBothPlatforms)
{
    for (const char *platform : {"0", "1"}) {
        SCOPED_TRACE(platform);
        Scenario s;
        s.platform = platform;
        Start(s);
        Run("ACTIVE", "AT+GTPCTPOC=1,1\r\n");
        EXPECT_EQ(4ul, State());
        EXPECT_EQ("AT+GTPCTPOC=1,1\r\n", LastCommand());
        EXPECT_EQ(1, CountCommands("AT+GTPCTPOC=3\r\n"));
        EXPECT_EQ(1, CountCommands("AT+GTPCTPOC=4,\"iot.e2e\""));
        EXPECT_EQ(1, CountCommands("AT+GTPCTPOC=5,\"iot.e2e\""));
        // The new profile enabled by the module's sync, the old one gone, no channel left open.
        EXPECT_EQ(std::string(kNew) + "F:1:enabled", Euicc("profiles"));
        EXPECT_EQ("", Euicc("channels"));
        EXPECT_EQ(std::string(platform) == "0" ? 1 : 0, CountCommands("AT+ESBP=5,\"SBP_MODEM_CXP\",0"));
        EXPECT_EQ(std::string(platform) == "0" ? 1 : 0, CountCommands("AT+ESBP=5,\"SBP_MODEM_CXP\",1"));
        // Operation code, status type 2 (old ICCID), status type 1 (new), all signed.
        auto cloud = CloudRecords();
        ASSERT_EQ(3u, cloud.size());
        EXPECT_NE(std::string::npos, cloud[0].find("\"function\": \"opercode\""));
        EXPECT_NE(std::string::npos, cloud[1].find("\"type\": 2"));
        EXPECT_NE(std::string::npos, cloud[1].find(std::string(kOld) + "F"));
        EXPECT_NE(std::string::npos, cloud[1].find("89049032000000000000000000000001"));
        EXPECT_NE(std::string::npos, cloud[2].find("\"type\": 1"));
        EXPECT_NE(std::string::npos, cloud[2].find(std::string(kNew) + "F"));
        for (const auto &line : cloud) EXPECT_NE(std::string::npos, line.find("\"signatureValid\": true")) << line;
        EXPECT_GE(Requests("SMDP"), 3);
        EXPECT_FALSE(hbrtest::FileExists(agentPtr_->Folder() + "/hbr_agent_smdp.crt"));
        EXPECT_EQ(1, Logs("lpaDisableProfileByIccid return 1, errstr(LPA_NO_ERROR)"));
        // The eUICC through the platform's writers: logical channels on MediaTek, AT+CSIM on Intel.
        const bool mediaTek = std::string(platform) == "0";
        EXPECT_EQ(mediaTek, CountCommands("AT+CGLA=") > 0);
        EXPECT_EQ(!mediaTek, CountCommands("AT+CSIM=") > 0);
        std::string lpaLog = hbrtest::ReadFile(agentPtr_->Folder() + "/lpa.log");
        EXPECT_NE(std::string::npos,
                  lpaLog.find(mediaTek ? "read_mipc_buf:+CSIM: 6,\"019000\"" : "[LPA LIB]: [info]t_csim_rsp:"));
        Stop();
    }
}

TEST_F(FlowsE2E, OperationsTwoAndZero)
{
    Scenario s;
    s.operation = 2;
    s.smdp = false;
    Start(s);
    Run("ACTIVE", "AT+GTPCTPOC=1,1\r\n");
    EXPECT_EQ(4ul, State());
    EXPECT_EQ("", Euicc("profiles"));
    auto cloud = CloudRecords();
    ASSERT_EQ(2u, cloud.size());
    EXPECT_NE(std::string::npos, cloud[1].find("\"type\": 2"));
    EXPECT_EQ(0, Logs("HbrSetDownloadCertPath"));
    Stop();

    Scenario zero;
    zero.platform = "0";
    zero.operation = 0;
    zero.simMode = 1;
    Start(zero);
    Run("ACTIVE", "AT+GTPCTPOC=1,2\r\n");
    EXPECT_EQ(0, CountCommands("AT+GTPCTPOC=3"));
    EXPECT_EQ(std::string(kOld) + "F:1:enabled", Euicc("profiles"));
    EXPECT_EQ(4ul, State());
    Stop();
}

TEST_F(FlowsE2E, DeactivationDisablesWithoutTheCloud)
{
    Scenario s;
    s.platform = "0";
    Start(s);
    Run("DEACTIVE", "AT+GTPCTPOC=0,1\r\n");
    EXPECT_EQ(8ul, State());
    EXPECT_EQ(std::string(kOld) + "F:1:disabled", Euicc("profiles"));
    EXPECT_EQ(0, Requests("BOOTSTRAP") + Requests("CLOUD") + Requests("SMDP"));
    EXPECT_EQ(1, CountCommands("AT+GTPCTPOC?"));
    EXPECT_EQ(2, CountCommands("AT+ESIMMAP=2") + CountCommands("AT+ESIMMAP=1"));
    Stop();

    // Intel, profile already disabled: no query, the pass still succeeds.
    Scenario disabled;
    disabled.oldEnabled = false;
    Start(disabled);
    Run("DEACTIVE", "AT+GTPCTPOC=0,1\r\n");
    EXPECT_EQ(0, CountCommands("AT+GTPCTPOC?"));
    EXPECT_EQ(1, Logs("LPA_ERROR_LOCAL_PROFILE_NOT_IN_ENABLE_STATE, ret = TRUE"));
    EXPECT_EQ(8ul, State());
    Stop();

    // poc_usage_type 3: nothing to do, no slot command, the state unchanged.
    Scenario none;
    none.platform = "0";
    none.pocUsageType = 3;
    Start(none);
    unsigned long before = State();
    Run("DEACTIVE", "AT+GTPCTPOC=0,1\r\n");
    EXPECT_EQ(0, CountCommands("AT+GTDUALSIM") + CountCommands("AT+ESIMMAP"));
    EXPECT_EQ(before, State());
    Run("DEACTIVE", "AT+GTPCTPOC=0,1\r\n", 2); // not gated
    Stop();
}

TEST_F(FlowsE2E, CheckAsksTheCloudAndTellsTheModule)
{
    Scenario s;
    s.platform = "0";
    s.operation = 0;
    s.simMode = 0;
    Start(s);
    Run("CHECK", "AT+GTPCTPOC=2,2\r\n");
    ASSERT_TRUE(agentPtr_->WaitForLog("IOTServiceCheckSuccess"));
    EXPECT_EQ(12ul, State());
    EXPECT_EQ(0, CountCommands("AT+CSIM") + CountCommands("AT+CCHO") + CountCommands("AT+CGLA"));
    EXPECT_EQ(0, CountCommands("AT+GTDUALSIM") + CountCommands("AT+ESIMMAP"));
    auto cloud = CloudRecords();
    ASSERT_EQ(1u, cloud.size());
    EXPECT_NE(std::string::npos, cloud[0].find(std::string("\"iccid\": \"") + kOld + "\""));
    Stop();
}

TEST_F(FlowsE2E, FailuresRetryAndNoRetryCodesStop)
{
    // Bootstrap 500: three GETs, no POST, state 5, switched back.
    Scenario s;
    s.bootstrapEntries = R"([{"function": "v2", "call": "always", "status": 500, "body": "{}"}])";
    Start(s);
    Run("ACTIVE", "AT+GTPCTPOC=1,0\r\n");
    EXPECT_EQ(3, Requests("BOOTSTRAP"));
    EXPECT_EQ(0, Requests("CLOUD"));
    EXPECT_EQ(5ul, State());
    EXPECT_EQ(1, CountCommands("AT+GTDUALSIM=0"));
    Stop();

    // Operation-code reply 14451: one pass.
    Scenario exhausted;
    exhausted.platform = "0";
    exhausted.opercodeReply = R"({"code": 14451, "message": "exhausted"})";
    Start(exhausted);
    Run("ACTIVE", "AT+GTPCTPOC=1,0\r\n");
    EXPECT_EQ(1, Requests("CLOUD"));
    EXPECT_EQ(1, Logs("IOT Service active fail, do not retry, error code:14451"));
    Stop();

    // The SM-DP+ fails initiateAuthentication: three downloads, the CA file gone, nothing removed.
    Scenario smdp;
    smdp.smdpEntries = R"([{"function": "initiateAuthentication", "call": "always", "status": 500, "body": ""}])";
    Start(smdp);
    Run("ACTIVE", "AT+GTPCTPOC=1,0\r\n");
    EXPECT_EQ(3, Logs("ActivationCode = 1$localhost:"));
    EXPECT_FALSE(hbrtest::FileExists(agentPtr_->Folder() + "/hbr_agent_smdp.crt"));
    EXPECT_EQ(std::string(kOld) + "F:1:enabled", Euicc("profiles"));
    EXPECT_EQ(5ul, State());
    Stop();
}

TEST_F(FlowsE2E, RetryErrorCodes)
{
    // 1: one pass, a GET and no POST.
    Scenario illegal;
    illegal.retryErrorCode = 1;
    Start(illegal);
    Run("ACTIVE", "AT+GTPCTPOC=1,0\r\n");
    EXPECT_EQ(1, Requests("BOOTSTRAP"));
    EXPECT_EQ(0, Requests("CLOUD"));
    EXPECT_EQ(1, Logs("[IOTServiceActiveEvtFunc]:code value error, ZFW_PCIOT_HBR_ILLEGAL_ACTIVATION_ERROR:1"));
    EXPECT_EQ(5ul, State());
    Stop();

    // 1007 on SIM1: no pass, state 5, nothing sent; a second ACTIVE runs again.
    Scenario simSwitch;
    simSwitch.platform = "0";
    simSwitch.retryErrorCode = 1007;
    Start(simSwitch);
    ASSERT_EQ("OK", worldPtr_->Control("notify ACTIVE"));
    ASSERT_TRUE(agentPtr_->WaitForLog("IOTServiceActiveFail Success"));
    ASSERT_EQ("OK", worldPtr_->Control("notify ACTIVE"));
    ASSERT_TRUE(agentPtr_->WaitForLog("IOTServiceActiveFail Success", 30000, 2));
    EXPECT_EQ(5ul, State());
    EXPECT_EQ(0, CountCommands("AT+GTPCTPOC=1,"));
    EXPECT_EQ(0, Requests("BOOTSTRAP"));
    Stop();
}

TEST_F(FlowsE2E, RetryErrorCodesInTheOtherFlows)
{
    // 1 fails every check pass at the bootstrap: 12 GETs, no POST, state 13, nothing sent.
    Scenario check;
    check.platform = "0";
    check.retryErrorCode = 1;
    Start(check);
    ASSERT_EQ("OK", worldPtr_->Control("notify CHECK"));
    ASSERT_TRUE(agentPtr_->WaitForLog("IOTServiceCheckFail Success", 120000));
    EXPECT_EQ(12, Requests("BOOTSTRAP"));
    EXPECT_EQ(0, Requests("CLOUD"));
    EXPECT_EQ(0, CountCommands("AT+GTPCTPOC=2,"));
    EXPECT_EQ(13ul, State());
    Stop();

    // 1002 leaves the deactivation alone.
    Scenario deactivation;
    deactivation.retryErrorCode = 1002;
    Start(deactivation);
    Run("DEACTIVE", "AT+GTPCTPOC=0,1\r\n");
    EXPECT_EQ(8ul, State());
    Stop();
}

TEST_F(FlowsE2E, IntermediateStatesWhileTheModuleHoldsItsReply)
{
    Scenario s;
    s.operation = 0;
    Start(s);
    // Holds the reply to `command`, sends `word` and answers the registry
    // state read while the command waits.
    auto stateDuring = [&](const std::string &command, const std::string &word) {
        EXPECT_EQ(0u, worldPtr_->Control(R"(fault {"request": "SET_COMMAND", "at": ")" + command +
                                         R"(", "action": "completion-delay", "ms": 2000})")
                          .find("OK"));
        int before = 0;
        for (const std::string &c : Commands()) before += c.compare(0, command.size(), command) == 0;
        EXPECT_EQ("OK", worldPtr_->Control("notify " + word));
        EXPECT_TRUE(worldPtr_->WaitForRecords(
            [&](const ModemSim::Record &r) { return r.kind == "command" && r.text.compare(0, command.size(), command) == 0; },
            before + 1, 60000));
        return State();
    };
    EXPECT_EQ(3ul, stateDuring("AT+GTDUALSIM=0", "ACTIVE"));  // the switch back
    ASSERT_TRUE(worldPtr_->WaitForRecords(
        [](const ModemSim::Record &r) { return r.kind == "command" && r.text == "AT+GTPCTPOC=1,1\r\n"; }, 1, 60000));
    EXPECT_EQ(7ul, stateDuring("AT+GTDUALSIM=0", "DEACTIVE"));
    ASSERT_TRUE(worldPtr_->WaitForRecords(
        [](const ModemSim::Record &r) { return r.kind == "command" && r.text == "AT+GTPCTPOC=0,1\r\n"; }, 1, 60000));
    EXPECT_EQ(11ul, stateDuring("AT+GTPCTPOC=2,", "CHECK"));
    ASSERT_TRUE(agentPtr_->WaitForLog("IOTServiceCheckSuccess", 60000));
    EXPECT_EQ(12ul, State());
    Stop();
}

TEST_F(FlowsE2E, HeldFlowGatesAnotherActiveAndFinishesBeforeTheStop)
{
    Scenario s;
    s.operation = 0;
    Start(s);
    // The module holds its answer to the slot query: the flow waits in state 2.
    ASSERT_EQ(0u, worldPtr_->Control(R"(fault {"request": "SET_COMMAND", "at": "AT+GTDUALSIM?",)"
                                     R"( "action": "completion-delay", "ms": 3000})")
                      .find("OK"));
    ASSERT_EQ("OK", worldPtr_->Control("notify ACTIVE"));
    ASSERT_TRUE(agentPtr_->WaitForLog("[IOTServiceActiveEvtFunc] SetIOTServiceActiveResultSubKey preActiveResult("));
    EXPECT_EQ(2ul, State());
    ASSERT_EQ("OK", worldPtr_->Control("notify ACTIVE"));
    EXPECT_TRUE(agentPtr_->WaitForLog("in iot active processing, no need trigger iot active flow"));
    ASSERT_EQ("OK", worldPtr_->Control("notify CHECK"));
    // The check that came meanwhile runs after the activation.
    ASSERT_TRUE(agentPtr_->WaitForLog("IOTServiceCheckSuccess", 60000));
    EXPECT_EQ(1, Logs("[IOTServiceActiveEvtFunc] SetIOTServiceActiveResultSubKey preActiveResult("));
    EXPECT_EQ(1, CountCommands("AT+GTPCTPOC=1,1\r\n"));
    EXPECT_EQ(12ul, State());

    // A stop right after a flow's first line is served once the flow ended.
    ASSERT_EQ(0u, worldPtr_->Control(R"(fault {"request": "SET_COMMAND", "at": "AT+GTDUALSIM?",)"
                                     R"( "action": "completion-delay", "ms": 2000})")
                      .find("OK"));
    ASSERT_EQ("OK", worldPtr_->Control("notify ACTIVE"));
    ASSERT_TRUE(agentPtr_->WaitForLog("[IOTServiceActiveEvtFunc] SetIOTServiceActiveResultSubKey preActiveResult(",
                                      30000, 2));
    ASSERT_TRUE(agentPtr_->Signal(SIGTERM));
    EXPECT_EQ(0, agentPtr_->WaitExit(120000));
    EXPECT_EQ(2, CountCommands("AT+GTPCTPOC=1,1\r\n"));
    EXPECT_EQ(4ul, State());
}

} // namespace
