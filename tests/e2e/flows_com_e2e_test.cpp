// The flows over the COM port: about 2 s of silence per AT command, so few,
// each its own test so that CTest runs them side by side.
#include "flows_e2e.h"

using namespace flows_e2e;

namespace {

// Commands that reach the eUICC, and commands that read or move the slot.
int ApduCommands(const std::vector<std::string> &commands)
{
    int n = 0;
    for (const std::string &c : commands) {
        n += c.rfind("AT+CSIM", 0) == 0 || c.rfind("AT+CCHO", 0) == 0 || c.rfind("AT+CGLA", 0) == 0 ||
             c.rfind("AT+CCHC", 0) == 0;
    }
    return n;
}

int SlotCommands(const std::vector<std::string> &commands)
{
    int n = 0;
    for (const std::string &c : commands) n += c.rfind("AT+GTDUALSIM", 0) == 0 || c.rfind("AT+ESIMMAP", 0) == 0;
    return n;
}

Scenario Com(const char *platform, int operation)
{
    Scenario s;
    s.platform = platform;
    s.channel = "com";
    s.operation = operation;
    return s;
}

TEST_F(FlowsE2E, DeactivationOverTheComPort)
{
    Scenario s;
    s.platform = "0";
    s.channel = "com";
    Start(s);
    Run("DEACTIVE", "AT+GTPCTPOC=0,1\r\n");
    EXPECT_EQ(8ul, State());
    EXPECT_EQ(std::string(kOld) + "F:1:disabled", Euicc("profiles"));
    EXPECT_EQ(0, Requests("BOOTSTRAP") + Requests("CLOUD") + Requests("SMDP"));
    EXPECT_TRUE(worldPtr_->Records("command", "mbn").empty());
    EXPECT_EQ("", Euicc("channels"));
    Stop();
}

// A whole download over the COM port: a package under 1 KB and an SM-DP+
// certificate under 600 bytes (EC P-256) keep it within 80 module commands.
TEST_F(FlowsE2E, ActivationDownloadsOverTheComPort)
{
    const long rspSize = static_cast<long>(hbrtest::ReadFile(std::string(HBR_TEST_PKI_DIR) + "/rsp.der").size());
    ASSERT_GT(rspSize, 0);
    ASSERT_LE(rspSize, 600);
    Start(Com("0", 1));
    Run("ACTIVE", "AT+GTPCTPOC=1,1\r\n", 1, 400000);
    const std::vector<std::string> commands = Commands();
    EXPECT_LE(commands.size(), 80u) << "module commands";
    EXPECT_EQ("AT+GTPCTPOC=1,1\r\n", LastCommand());
    EXPECT_EQ(4ul, State());
    EXPECT_EQ(std::string(kNew) + "F:1:enabled", Euicc("profiles"));
    EXPECT_EQ("", Euicc("channels"));
    EXPECT_EQ(1, CountCommands("AT+GTPCTPOC=3\r\n"));
    EXPECT_EQ(1, CountCommands("AT+ESBP=5,\"SBP_MODEM_CXP\",0"));
    EXPECT_EQ(1, CountCommands("AT+ESBP=5,\"SBP_MODEM_CXP\",1"));
    EXPECT_EQ(0, CountCommands("AT+CSIM"));
    EXPECT_TRUE(worldPtr_->Records("command", "mbn").empty());
    // The package the eUICC loaded (BF36, its length in its first segment) stays under 1 KB.
    size_t package = 0;
    for (const auto &r : worldPtr_->Records("es10")) {
        if (r.numbers.count("tag") == 0 || r.numbers.at("tag") != 0xBF36 || r.text.size() < 6) continue;
        const size_t first = std::stoul(r.text.substr(4, 2), nullptr, 16);
        const size_t digits = first < 0x80 ? 0 : first & 0x7F;
        package = first < 0x80 ? first : std::stoul(r.text.substr(6, 2 * digits), nullptr, 16);
        package += 3 + digits;
    }
    EXPECT_GT(package, 0u);
    EXPECT_LE(package, 1024u);
    EXPECT_FALSE(hbrtest::FileExists(agentPtr_->Folder() + "/hbr_agent_smdp.crt"));
    Stop();
}

TEST_F(FlowsE2E, ActivationOperationTwoOverTheComPort)
{
    Start(Com("0", 2));
    Run("ACTIVE", "AT+GTPCTPOC=1,1\r\n", 1, 300000);
    EXPECT_EQ(4ul, State());
    EXPECT_EQ("AT+GTPCTPOC=1,1\r\n", LastCommand());
    EXPECT_EQ("", Euicc("profiles"));
    EXPECT_EQ(0, Requests("SMDP"));
    EXPECT_EQ(0, Logs("HbrSetDownloadCertPath"));
    EXPECT_EQ(0, Logs("ActivationCode = "));
    EXPECT_FALSE(hbrtest::FileExists(agentPtr_->Folder() + "/hbr_agent_smdp.crt"));
    auto cloud = CloudRecords();
    ASSERT_EQ(2u, cloud.size());
    EXPECT_NE(std::string::npos, cloud[1].find("\"type\": 2"));
    EXPECT_NE(std::string::npos, cloud[1].find(std::string(kOld) + "F"));
    Stop();
}

// Check, operation 1: the module hears that a download is due; no eUICC
// command and no slot command on either platform.
class CheckOverTheComPort : public FlowsE2E {
protected:
    void RunCheck(const char *platform)
    {
        Start(Com(platform, 1));
        Run("CHECK", "AT+GTPCTPOC=2,1\r\n");
        ASSERT_TRUE(agentPtr_->WaitForLog("IOTServiceCheckSuccess"));
        EXPECT_EQ(12ul, State());
        EXPECT_EQ(0, ApduCommands(Commands()));
        EXPECT_EQ(0, SlotCommands(Commands()));
        EXPECT_EQ(0, Requests("SMDP"));
        auto cloud = CloudRecords();
        ASSERT_EQ(1u, cloud.size());
        EXPECT_NE(std::string::npos, cloud[0].find(std::string("\"iccid\": \"") + kOld + "\""));
        EXPECT_EQ(std::string(kOld) + "F:1:enabled", Euicc("profiles"));
        Stop();
    }
};

TEST_F(CheckOverTheComPort, PlatformZero) { RunCheck("0"); }
TEST_F(CheckOverTheComPort, PlatformOne) { RunCheck("1"); }

// Platform 1: the sync request's reply "ACTIVE" starts an activation, no
// notification needed.
TEST_F(FlowsE2E, SyncReplyStartsActivationOverTheComPort)
{
    Scenario s = Com("1", 0);
    s.syncPending = "ACTIVE";
    Start(s);
    ASSERT_TRUE(worldPtr_->WaitForRecords(
        [](const ModemSim::Record &r) { return r.kind == "command" && r.text == "AT+GTPCTPOC=1,1\r\n"; }, 1, 300000));
    EXPECT_TRUE(worldPtr_->Records("notification").empty());
    EXPECT_EQ("AT+GTPCTPOC=6\r\n", Commands().at(0));
    EXPECT_EQ("AT+GTPCTPOC=1,1\r\n", LastCommand());
    EXPECT_EQ(0, CountCommands("AT+GTPCTPOC=3"));
    EXPECT_EQ(1, CountCommands("AT+GTDUALSIM=1"));
    EXPECT_EQ(1, CountCommands("AT+GTDUALSIM=0"));
    EXPECT_EQ(1, Requests("CLOUD"));
    EXPECT_EQ(0, Requests("SMDP"));
    EXPECT_EQ(std::string(kOld) + "F:1:enabled", Euicc("profiles"));
    EXPECT_EQ(4ul, State());
    Stop();
}

} // namespace
