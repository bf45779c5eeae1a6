// The flows of hbr-agent end to end over the device service.
#include "flows_e2e.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>

using namespace flows_e2e;

namespace {

// The module's commands that read or move the SIM slot, in order.
std::vector<std::string> SlotCommands(const std::vector<std::string> &commands)
{
    std::vector<std::string> out;
    for (const std::string &c : commands) {
        if (c.rfind("AT+GTDUALSIM", 0) == 0 || c.rfind("AT+ESIMMAP", 0) == 0 || c.rfind("AT+ESBP", 0) == 0) {
            out.push_back(c);
        }
    }
    return out;
}

// The module's ES10 requests with this tag, from the `from`-th record on.
int CountEs10(const ModemSim &world, int64_t tag, size_t from = 0)
{
    auto es10 = world.Records("es10");
    int n = 0;
    for (size_t i = from; i < es10.size(); ++i) n += es10[i].numbers.at("tag") == tag;
    return n;
}

// The authenticateServerResponse of the SM-DP+'s first authenticateClient
// request, decoded, as upper-case hex ("" when there is none).
std::string AuthenticateServerResponseHex(const std::string &records)
{
    for (int n = 1; hbrtest::FileExists(records + "/req-" + std::to_string(n) + ".head"); ++n) {
        const std::string base = records + "/req-" + std::to_string(n);
        if (hbrtest::ReadFile(base + ".head").find("/authenticateClient ") == std::string::npos) continue;
        const std::string body = hbrtest::ReadFile(base + ".body");
        const std::string key = "\"authenticateServerResponse\"";
        size_t at = body.find(key);
        if (at == std::string::npos) return "";
        at = body.find('"', body.find(':', at + key.size())) + 1;
        std::string text = body.substr(at, body.find('"', at) - at);
        text.erase(std::remove(text.begin(), text.end(), '\\'), text.end()); // "\/" in JSON
        const std::string der = hbrtest::RunProcess({"/usr/bin/base64", "-d"}, {}, text).out;
        static const char kHex[] = "0123456789ABCDEF";
        std::string hex;
        for (unsigned char c : der) {
            hex += kHex[c >> 4];
            hex += kHex[c & 15];
        }
        return hex;
    }
    return "";
}

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
        // ctxParams1 of authenticateClient carries the agent's DeviceInfo.
        EXPECT_NE(std::string::npos, AuthenticateServerResponseHex(worldPtr_->Env("HBR_RECORDS_SMDP")).find("A112800449015262A10A81030B000085030D0000"));
        // The CA file, the deployment's root CI byte for byte, lies beside the agent during each download request.
        const std::string ciSum =
            hbrtest::RunProcess({"/usr/bin/sha256sum", std::string(HBR_DEPLOYMENT_DATA_DIR) + "/smdp_root_ci.pem"})
                .out.substr(0, 64);
        EXPECT_EQ((std::vector<std::string>(3, "present " + ciSum)), DownloadWatches());
        EXPECT_FALSE(hbrtest::FileExists(agentPtr_->Folder() + "/hbr_agent_smdp.crt"));
        EXPECT_EQ(1, Logs("lpaDisableProfileByIccid return 1, errstr(LPA_NO_ERROR)"));
        // The records file's ES10 lines: the package (BF36) first, then BF32 and BF33 of the old ICCID.
        std::vector<uint32_t> removals;
        bool installed = false;
        for (const auto &r : worldPtr_->Records("es10")) {
            const uint32_t tag = static_cast<uint32_t>(r.numbers.at("tag"));
            if (tag == 0xBF36) installed = true;
            if ((tag == 0xBF32 || tag == 0xBF33) && installed) {
                removals.push_back(tag);
                EXPECT_NE(std::string::npos, r.text.find("981000000000000000F1")) << r.text;
            }
        }
        EXPECT_EQ((std::vector<uint32_t>{0xBF32, 0xBF33}), removals);
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

TEST_F(FlowsE2E, NotificationFloodIsCutAndACheckAfterItIsServed)
{
    Scenario s;
    s.platform = "0";
    s.operation = 0;
    Start(s);
    const long rssBefore = agentPtr_->RssKb();
    ASSERT_GT(rssBefore, 0);
    long rssPeak = rssBefore;
    // Many small notifications pass the count bound, a few large ones the
    // byte bound. Each flood ends in a burst line per emptied backlog, with
    // the bytes of what it dropped (text plus the 4-byte length prefix).
    const struct {
        unsigned count;
        unsigned long long size;
    } floods[] = {{3000, 16}, {96, 1000000}};
    auto burstLines = [&] {
        std::vector<std::string> lines;
        std::istringstream err(agentPtr_->Stderr());
        for (std::string line; std::getline(err, line);) {
            if (line.rfind("MbnDeviceService: dropped ", 0) == 0) lines.push_back(line);
        }
        return lines;
    };
    int checks = 0;
    size_t linesSeen = 0;
    for (const auto &f : floods) {
        ASSERT_EQ("OK", worldPtr_->Control("flood " + std::to_string(f.count) + " " + std::to_string(f.size)));
        rssPeak = std::max(rssPeak, agentPtr_->RssKb());
        // The burst is reported once its backlog is worked off: the check
        // then finds room.
        ASSERT_TRUE(hbrtest::WaitUntil([&] { return burstLines().size() > linesSeen; }, 60000)) << f.size;
        rssPeak = std::max(rssPeak, agentPtr_->RssKb());
        Run("CHECK", "AT+GTPCTPOC=2,2\r\n", ++checks);
        const std::vector<std::string> lines = burstLines();
        unsigned long long dropped = 0;
        for (size_t i = linesSeen; i < lines.size(); ++i) {
            unsigned long n = 0;
            unsigned long long bytes = 0;
            ASSERT_EQ(2, std::sscanf(lines[i].c_str(),
                                     "MbnDeviceService: dropped %lu event notifications (%llu bytes), the dispatcher "
                                     "queue was full",
                                     &n, &bytes))
                << lines[i];
            EXPECT_EQ(n * (f.size + 4), bytes) << lines[i];
            dropped += n;
        }
        EXPECT_GT(dropped, 0u);
        EXPECT_LT(dropped, f.count);
        linesSeen = lines.size();
    }
#ifndef __SANITIZE_ADDRESS__ // its quarantine keeps what was freed resident
    // About 96 MB went by; at most 4 MiB of it waits at any time.
    EXPECT_LT(rssPeak - rssBefore, 32 * 1024) << rssBefore << " KiB before, " << rssPeak << " KiB at the peak";
#endif
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
    for (const std::string &watch : DownloadWatches()) EXPECT_EQ(0u, watch.find("present ")) << watch;
    EXPECT_EQ(3u, DownloadWatches().size());
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

TEST_F(FlowsE2E, RefusedDisableKeepsTheOldProfileOutOfTheReports)
{
    // The eUICC answers catBusy to the disable of the old profile: it stays
    // enabled and undeleted, the cloud hears of no removal, and after a
    // download the new profile (not the old one, still listed first) is
    // the one reported and given its APN settings. The pass succeeds.
    for (int operation : {1, 2}) {
        SCOPED_TRACE(operation);
        Scenario s;
        s.platform = "0";
        s.operation = operation;
        s.smdp = operation == 1;
        Start(s);
        ASSERT_EQ(0u, worldPtr_->Control(R"(fault {"action": "es10-result", "es10Tag": "BF32", "number": 5})").find("OK"));
        Run("ACTIVE", "AT+GTPCTPOC=1,1\r\n");
        EXPECT_EQ(1, CountEs10(*worldPtr_, 0xBF32));
        EXPECT_EQ(0, CountEs10(*worldPtr_, 0xBF33));
        EXPECT_NE(std::string::npos, Euicc("profiles").find(std::string(kOld) + "F:1:enabled"));
        EXPECT_EQ(1, Logs("[IOTServiceActiveFunc] old profile " + std::string(kOld) + "F not removed, no removal report"));
        auto cloud = CloudRecords();
        ASSERT_EQ(operation == 1 ? 2u : 1u, cloud.size());
        EXPECT_NE(std::string::npos, cloud[0].find("\"function\": \"opercode\""));
        for (const auto &line : cloud) EXPECT_EQ(std::string::npos, line.find("\"type\": 2")) << line;
        if (operation == 1) {
            EXPECT_NE(std::string::npos, cloud[1].find("\"type\": 1"));
            EXPECT_NE(std::string::npos, cloud[1].find(std::string("\"iccid\": \"") + kNew + "F\"")) << cloud[1];
            EXPECT_EQ(1, CountCommands("AT+GTPCTPOC=4,\"iot.e2e\""));
            EXPECT_EQ(1, CountCommands("AT+GTPCTPOC=5,\"iot.e2e\""));
        }
        EXPECT_EQ(4ul, State());
        Stop();
    }
}

TEST_F(FlowsE2E, RefusalsLongCodeAndAlreadyOnSim2)
{
    // The module refuses the switch: state 5, nothing reported; the next ACTIVE runs.
    Scenario zero;
    zero.operation = 0;
    zero.simMode = 1;
    Start(zero);
    ASSERT_EQ(0u, worldPtr_->Control(R"(fault {"at": "AT+GTDUALSIM=1", "action": "reply", "text": "\r\nERROR\r\n"})")
                      .find("OK"));
    const int reportsBefore = CountCommands("AT+GTPCTPOC=1,");
    ASSERT_EQ("OK", worldPtr_->Control("notify ACTIVE"));
    ASSERT_TRUE(agentPtr_->WaitForLog("SetModuleSimSlot SIM2 fail, do not trigger profile operation"));
    ASSERT_TRUE(agentPtr_->WaitForLog("IOTServiceActiveFail"));
    EXPECT_EQ(5ul, State());
    EXPECT_EQ(reportsBefore, CountCommands("AT+GTPCTPOC=1,"));
    EXPECT_EQ(0, Requests("CLOUD"));
    Run("ACTIVE", "AT+GTPCTPOC=1,2\r\n");
    EXPECT_EQ(4ul, State());
    Stop();

    // Already on SIM2: no set and no switch back.
    zero.activeSlot = 1;
    Start(zero);
    Run("ACTIVE", "AT+GTPCTPOC=1,2\r\n");
    EXPECT_EQ(0, CountCommands("AT+GTDUALSIM="));
    EXPECT_EQ(4ul, State());
    Stop();

    // An activation code of 256 characters: no SM-DP+ contact, state 5.
    Scenario longCode;
    longCode.opercodeReply = R"({"code": 0, "message": "success", "data": {"status": 1, "operation": 1, "token": "1$localhost$)" +
                             std::string(256 - 12, 'A') + R"(", "simMode": 0}})";
    Start(longCode);
    Run("ACTIVE", "AT+GTPCTPOC=1,0\r\n");
    EXPECT_EQ(0, Requests("SMDP"));
    EXPECT_EQ(std::string(kOld) + "F:1:enabled", Euicc("profiles"));
    EXPECT_EQ(5ul, State());
    Stop();
}

TEST_F(FlowsE2E, InterfaceDropsOnEachSwitchAndTheFlowWaitsForIt)
{
    Scenario s;
    s.operation = 0;
    s.simMode = 1;
    s.interfaceDrop = "arrive";
    Start(s, 10);
    const int bringUps = Logs("DestroyAtChannelTimer");
    ASSERT_EQ("OK", worldPtr_->Control("notify ACTIVE"));
    ASSERT_TRUE(agentPtr_->WaitForLog("[IOTServiceActiveEvtFunc] wait mb interface arrival(1-1)"));
    EXPECT_EQ("OK", worldPtr_->Control("arrive"));
    ASSERT_TRUE(agentPtr_->WaitForLog("[IOTServiceDeactiveEvtFunc] wait mb interface arrival(1)", 60000));
    EXPECT_EQ("OK", worldPtr_->Control("arrive"));
    Run("ACTIVE", "AT+GTPCTPOC=1,2\r\n");
    // The channel brought up again after the drops.
    EXPECT_LT(bringUps, Logs("DestroyAtChannelTimer"));
    EXPECT_EQ(1, Logs("GeteSIMProfileOperCodeFromHbrServer success"));
    std::vector<std::string> states;
    for (const auto &r : worldPtr_->Records("interface-state")) states.push_back(r.text);
    EXPECT_EQ((std::vector<std::string>{"removal", "arrival", "removal", "arrival"}), states);
    EXPECT_EQ(4ul, State());
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

TEST_F(FlowsE2E, SlotReadsThatAllFailStillSwitch)
{
    const std::string readFails = R"(fault {"at": "AT+GTDUALSIM?", "action": "reply", "text": "\r\nERROR\r\n",)"
                                  R"( "times": "always"})";
    // MediaTek: five reads, the switch with no AT+ESBP 0 before it, AT+ESBP 1 after the return.
    Scenario s;
    s.platform = "0";
    s.operation = 0;
    s.simMode = 1;
    Start(s);
    ASSERT_EQ(0u, worldPtr_->Control(readFails).find("OK"));
    const size_t before = SlotCommands(Commands()).size();
    Run("ACTIVE", "AT+GTPCTPOC=1,2\r\n");
    auto slot = SlotCommands(Commands());
    slot.erase(slot.begin(), slot.begin() + static_cast<long>(before));
    std::vector<std::string> expected(5, "AT+GTDUALSIM?\r\n");
    expected.insert(expected.end(), {"AT+ESIMMAP=2\r\n", "AT+ESIMMAP=1\r\n", "AT+ESBP=5,\"SBP_MODEM_CXP\",1\r\n"});
    EXPECT_EQ(expected, slot);
    EXPECT_EQ(4ul, State());
    Stop();

    // Intel with test code 1007: without a slot read the code is not consulted and the flow goes on.
    s.platform = "1";
    s.retryErrorCode = 1007;
    Start(s);
    ASSERT_EQ(0u, worldPtr_->Control(readFails).find("OK"));
    Run("ACTIVE", "AT+GTPCTPOC=1,2\r\n");
    EXPECT_EQ(1, CountCommands("AT+GTDUALSIM=1\r\n"));
    EXPECT_EQ(1, CountCommands("AT+GTDUALSIM=0\r\n"));
    EXPECT_EQ(1, Requests("CLOUD"));
    EXPECT_EQ(4ul, State());
    Stop();
}

TEST_F(FlowsE2E, UnknownOperationAndCloudCodeAreRetried)
{
    // Operation 3: three activation passes, state 5; twelve check passes, state 13, nothing told.
    Scenario three;
    three.operation = 3;
    Start(three);
    Run("ACTIVE", "AT+GTPCTPOC=1,0\r\n");
    EXPECT_EQ(3, Requests("CLOUD"));
    EXPECT_EQ(0, Requests("SMDP"));
    EXPECT_EQ(0, CountCommands("AT+GTPCTPOC=3"));
    EXPECT_EQ(1, CountCommands("AT+GTDUALSIM=0\r\n"));
    EXPECT_EQ(5ul, State());
    ASSERT_EQ("OK", worldPtr_->Control("notify CHECK"));
    ASSERT_TRUE(agentPtr_->WaitForLog("IOTServiceCheckFail Success", 120000));
    EXPECT_EQ(15, Requests("CLOUD"));
    EXPECT_EQ(0, CountCommands("AT+GTPCTPOC=2,"));
    EXPECT_EQ(13ul, State());
    Stop();

    // A reply code the flow does not know: three passes.
    Scenario five;
    five.platform = "0";
    five.opercodeReply = R"({"code": 5, "message": "later"})";
    Start(five);
    Run("ACTIVE", "AT+GTPCTPOC=1,0\r\n");
    EXPECT_EQ(3, Requests("CLOUD"));
    EXPECT_EQ(0, Logs("do not retry"));
    EXPECT_EQ(std::string(kOld) + "F:1:enabled", Euicc("profiles"));
    EXPECT_EQ(5ul, State());
    Stop();
}

TEST_F(FlowsE2E, NoRetryTestCodesEndAfterOnePass)
{
    const struct {
        int code;
        const char *name;
    } cases[] = {{-1, "ZFW_PCIOT_HBR_NON_UNIQUE_RESULT_ERROR"},
                 {801, "ZFW_PCIOT_HBR_EMPTY_EID_ERROR"},
                 {14451, "ZFW_PCIOT_HBR_ERROR_CODE_PROFILE_EXHAUSTED_ERROR"},
                 {14459, "ZFW_PCIOT_HBR_LIMITTED_RETRY_COUNT_ERROR"}};
    bool mediaTek = false;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.code);
        Scenario s;
        s.platform = (mediaTek = !mediaTek) ? "0" : "1";
        s.retryErrorCode = c.code;
        Start(s);
        Run("ACTIVE", "AT+GTPCTPOC=1,0\r\n");
        EXPECT_EQ(1, Requests("BOOTSTRAP"));
        EXPECT_EQ(1, Requests("CLOUD"));
        EXPECT_EQ(0, Requests("SMDP"));
        EXPECT_EQ(1, Logs("[IOTServiceActiveEvtFunc]:Simulate code value error, " + std::string(c.name) + ":" +
                          std::to_string(c.code)));
        EXPECT_EQ(5ul, State());
        EXPECT_EQ("AT+GTPCTPOC=1,0\r\n", LastCommand());
        if (c.code == 14451) {
            // The check has no such exit: twelve passes.
            ASSERT_EQ("OK", worldPtr_->Control("notify CHECK"));
            ASSERT_TRUE(agentPtr_->WaitForLog("IOTServiceCheckFail Success", 120000));
            EXPECT_EQ(13, Requests("CLOUD"));
            EXPECT_EQ(0, CountCommands("AT+GTPCTPOC=2,"));
            EXPECT_EQ(13ul, State());
        }
        Stop();
    }
}

TEST_F(FlowsE2E, CloudTestCodesFailEveryPass)
{
    // 1006: the reply does not parse; 1008: every operation-code POST reaches the server and counts as failed.
    for (int code : {1006, 1008}) {
        SCOPED_TRACE(code);
        Scenario s;
        s.platform = code == 1006 ? "1" : "0";
        s.retryErrorCode = code;
        Start(s);
        Run("ACTIVE", "AT+GTPCTPOC=1,0\r\n");
        EXPECT_EQ(3, Requests("BOOTSTRAP"));
        EXPECT_EQ(3, Requests("CLOUD"));
        EXPECT_EQ(3u, CloudRecords().size());
        EXPECT_EQ(0, Requests("SMDP"));
        EXPECT_EQ(std::string(kOld) + "F:1:enabled", Euicc("profiles"));
        EXPECT_EQ(5ul, State());
        Stop();
    }
}

TEST_F(FlowsE2E, LocalTestCodesFailEveryPassBeforeTheCloud)
{
    // 1002 after the IMEI, 1003 and 1004 after the profile query: three passes, no cloud request.
    for (int code : {1002, 1003, 1004}) {
        SCOPED_TRACE(code);
        Scenario s;
        s.platform = code == 1003 ? "1" : "0";
        s.retryErrorCode = code;
        Start(s);
        const int imeiReads = CountCommands("AT+CGSN?");
        const size_t es10Before = worldPtr_->Records("es10").size();
        Run("ACTIVE", "AT+GTPCTPOC=1,0\r\n");
        EXPECT_EQ(3, CountCommands("AT+CGSN?") - imeiReads);
        const int listReads = CountEs10(*worldPtr_, 0xBF2D, es10Before);
        // The same profile query (ES10 list reads) in each of the three passes, none with 1002.
        EXPECT_EQ(code != 1002, listReads > 0);
        EXPECT_EQ(0, listReads % 3);
        EXPECT_EQ(0, Requests("BOOTSTRAP") + Requests("CLOUD") + Requests("SMDP"));
        EXPECT_EQ(5ul, State());
        Stop();
    }
}

TEST_F(FlowsE2E, DownloadTestCodeRemovesAndReportsNothing)
{
    // 1005: the first download installs, the pass still fails; nothing removed or reported.
    Scenario s;
    s.retryErrorCode = 1005;
    Start(s);
    Run("ACTIVE", "AT+GTPCTPOC=1,0\r\n");
    EXPECT_EQ(3, Requests("CLOUD"));
    for (const std::string &line : CloudRecords()) EXPECT_NE(std::string::npos, line.find("\"function\": \"opercode\""));
    EXPECT_EQ(3, Logs("HbrAgentDownloadProfile(1$localhost:"));
    EXPECT_EQ(0, CountEs10(*worldPtr_, 0xBF32) + CountEs10(*worldPtr_, 0xBF33));
    const std::string profiles = Euicc("profiles");
    EXPECT_NE(std::string::npos, profiles.find(std::string(kOld) + "F:1:enabled")) << profiles;
    EXPECT_NE(std::string::npos, profiles.find(std::string(kNew) + "F:1:disabled")) << profiles;
    EXPECT_FALSE(hbrtest::FileExists(agentPtr_->Folder() + "/hbr_agent_smdp.crt"));
    EXPECT_EQ(0, CountCommands("AT+GTPCTPOC=3"));
    EXPECT_EQ(5ul, State());
    Stop();
}

TEST_F(FlowsE2E, DeactivationEndsEarlyOnTestCodeAndFailsOnARefusedDisable)
{
    // 1007 on SIM1: no pass, state 9, nothing sent; a second DEACTIVE runs again.
    Scenario early;
    early.retryErrorCode = 1007;
    Start(early);
    ASSERT_EQ("OK", worldPtr_->Control("notify DEACTIVE"));
    ASSERT_TRUE(agentPtr_->WaitForLog("IOTServiceDeactiveFail Success"));
    ASSERT_EQ("OK", worldPtr_->Control("notify DEACTIVE"));
    ASSERT_TRUE(agentPtr_->WaitForLog("IOTServiceDeactiveFail Success", 30000, 2));
    EXPECT_EQ(9ul, State());
    EXPECT_EQ(0, CountCommands("AT+GTPCTPOC=0,") + CountCommands("AT+GTDUALSIM="));
    EXPECT_EQ(std::string(kOld) + "F:1:enabled", Euicc("profiles"));
    Stop();

    // The eUICC refuses every disable: three passes, switched back, state 9, (0, 0).
    Scenario refused;
    refused.platform = "0";
    Start(refused);
    ASSERT_EQ(0u, worldPtr_->Control(R"(fault {"action": "es10-result", "es10Tag": "BF32", "number": 127,)"
                                     R"( "times": "always"})")
                      .find("OK"));
    Run("DEACTIVE", "AT+GTPCTPOC=0,0\r\n");
    EXPECT_EQ(3, CountEs10(*worldPtr_, 0xBF32));
    EXPECT_EQ(1, CountCommands("AT+ESIMMAP=1\r\n"));
    EXPECT_EQ("AT+GTPCTPOC=0,0\r\n", LastCommand());
    EXPECT_EQ(std::string(kOld) + "F:1:enabled", Euicc("profiles"));
    EXPECT_EQ(9ul, State());
    Stop();
}

TEST_F(FlowsE2E, DeactivationPreCheckTheModuleNeverAnswersFails)
{
    // MediaTek module answering ERROR to every query: five queries, no SIM
    // switch and no eUICC work, state 9 and (0, 0) to the module.
    Scenario s;
    s.platform = "0";
    Start(s);
    ASSERT_EQ(0u, worldPtr_->Control(R"(fault {"at": "AT+GTPCTPOC?", "action": "reply", "text": "\r\nERROR\r\n",)"
                                     R"( "times": "always"})")
                      .find("OK"));
    const size_t es10Before = worldPtr_->Records("es10").size();
    Run("DEACTIVE", "AT+GTPCTPOC=0,0\r\n");
    EXPECT_EQ(5, CountCommands("AT+GTPCTPOC?"));
    EXPECT_EQ(0, CountCommands("AT+GTDUALSIM") + CountCommands("AT+ESIMMAP") + CountCommands("AT+ESBP"));
    EXPECT_EQ(es10Before, worldPtr_->Records("es10").size());
    EXPECT_EQ(0, CountCommands("AT+GTPCTPOC=0,1"));
    EXPECT_EQ(std::string(kOld) + "F:1:enabled", Euicc("profiles"));
    EXPECT_EQ(9ul, State());
    EXPECT_EQ(1, Logs("[Infomation]CheckDPDDeactiveFlowNeedTriggerKX718Project no answer, deactivation failed"));

    // Not left gated: once the module answers, the next request deactivates.
    ASSERT_EQ("OK", worldPtr_->Control("clear-faults"));
    Run("DEACTIVE", "AT+GTPCTPOC=0,1\r\n");
    EXPECT_EQ(std::string(kOld) + "F:1:disabled", Euicc("profiles"));
    EXPECT_EQ(8ul, State());
    Stop();
}

TEST_F(FlowsE2E, CheckTellsTheModuleWhatTheCloudWouldDo)
{
    // simMode 2: nothing to tell, state 12.
    Scenario s;
    s.platform = "0";
    s.operation = 0;
    s.simMode = 2;
    Start(s);
    ASSERT_EQ("OK", worldPtr_->Control("notify CHECK"));
    ASSERT_TRUE(agentPtr_->WaitForLog("IOTServiceCheckSuccess"));
    EXPECT_EQ(0, CountCommands("AT+GTPCTPOC=2,"));
    EXPECT_EQ(1, Requests("CLOUD"));
    EXPECT_EQ(12ul, State());
    Stop();

    // Operation 1 on Intel: the module hears that a download is due; nothing is downloaded.
    Scenario one;
    Start(one);
    Run("CHECK", "AT+GTPCTPOC=2,1\r\n");
    ASSERT_TRUE(agentPtr_->WaitForLog("IOTServiceCheckSuccess"));
    EXPECT_EQ(0, Requests("SMDP"));
    EXPECT_EQ(0, CountCommands("AT+GTDUALSIM=") + CountCommands("AT+CSIM"));
    EXPECT_EQ(std::string(kOld) + "F:1:enabled", Euicc("profiles"));
    EXPECT_EQ(12ul, State());
    Stop();
}

// A cloud server that accepts each request in turn and never answers it:
// the request gives up at its time-out (60 s, divided by 30 here), the flow
// goes on as after any failed request, and SIGTERM then stops the agent.
TEST_F(FlowsE2E, HeldCloudRequestsTimeOut)
{
    struct Held {
        const char *function;
        unsigned long state;
        const char *report;
        const char *failure; // the request's failure line with curl's time-out
        int failures;
    };
    const Held cases[] = {
        {"v2", 5, "AT+GTPCTPOC=1,0\r\n", "GetBootstrapKeyValueFromServer curl_easy_perform Failed:28-", 3},
        {"opercode", 5, "AT+GTPCTPOC=1,0\r\n", "curl_easy_perform fail(28-", 3},
        // Both reports time out; the replacement stands and the module leaves the eSIM slot.
        {"status", 4, "AT+GTPCTPOC=1,1\r\n", "curl_easy_perform fail(28-", 2},
    };
    for (const Held &held : cases) {
        SCOPED_TRACE(held.function);
        const std::string hold =
            std::string(R"({"function": ")") + held.function + R"(", "call": "always", "action": "hold", "seconds": 600})";
        Scenario s;
        s.agentEnv["HBR_CLOUD_TIMEOUT_DIVISOR"] = "30";
        if (std::string(held.function) == "v2") {
            s.bootstrapEntries = "[" + hold + "]";
        } else {
            s.cloudEntries = hold;
        }
        Start(s);
        // Far below the hold: only the time-outs end the requests.
        Run("ACTIVE", held.report, 1, 60000);
        EXPECT_EQ(held.state, State());
        EXPECT_EQ(held.failures, Logs(held.failure));
        EXPECT_EQ(1, CountCommands("AT+GTDUALSIM=0"));
        if (held.state == 4) {
            EXPECT_EQ(std::string(kNew) + "F:1:enabled", Euicc("profiles"));
        }
        Stop();
    }
}

// A bootstrap server whose reply never ends: each request stops at 1 MiB,
// the flow fails, and the agent's memory stays flat meanwhile.
TEST_F(FlowsE2E, EndlessReplyEndsAtTheSizeLimit)
{
    Scenario s;
    s.bootstrapEntries = R"([{"function": "v2", "call": "always", "endless": ")" + std::string(4096, 'x') + "\"}]";
#ifdef __SANITIZE_ADDRESS__
    // Freed blocks go back at once, so that RSS shows what is live.
    const char *asan = std::getenv("ASAN_OPTIONS");
    s.agentEnv["ASAN_OPTIONS"] = std::string(asan != nullptr ? asan : "") + ":quarantine_size_mb=0";
#endif
    Start(s);
    const std::string proc = "/proc/" + std::to_string(agentPtr_->Pid());
    auto statusKb = [&](const std::string &field) {
        for (const std::string &line : hbr_test::ReadLines(proc + "/status")) {
            if (line.compare(0, field.size() + 1, field + ":") == 0) return std::stol(line.substr(field.size() + 1));
        }
        return -1L;
    };
    // The peak restarts from the current RSS.
    FILE *clear = std::fopen((proc + "/clear_refs").c_str(), "w");
    ASSERT_NE(nullptr, clear);
    ASSERT_EQ(1u, std::fwrite("5", 1, 1, clear));
    ASSERT_EQ(0, std::fclose(clear));
    const long before = statusKb("VmRSS");
    ASSERT_GT(before, 0);
    Run("ACTIVE", "AT+GTPCTPOC=1,0\r\n", 1, 60000);
    const long peak = statusKb("VmHWM");
    ASSERT_GT(peak, 0) << "the agent is gone";
    std::printf("agent RSS before %ld kB, peak during the flow %ld kB (+%ld kB)\n", before, peak, peak - before);
    EXPECT_LT(peak - before, 16 * 1024);
    EXPECT_EQ(3, Logs("cloud reply too large: more than 1048576 bytes ("));
    EXPECT_EQ(5ul, State());
    EXPECT_EQ(0, Requests("CLOUD"));
    // Each unparsed reply is logged cut to its first 16 KiB.
    int logged = 0;
    for (const std::string &m : agentPtr_->Messages()) {
        if (m.find("transfer failed, reply not parsed") != std::string::npos) {
            ++logged;
            EXPECT_LT(m.size(), 16384u + 200u);
            EXPECT_NE(std::string::npos, m.find("x ... (")) << m.substr(0, 200);
        }
    }
    EXPECT_EQ(3, logged);
    Stop();
}

} // namespace
