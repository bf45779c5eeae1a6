// The flows over the COM port, each its own test so that CTest runs them
// side by side.
#include "flows_e2e.h"

#include <climits>
#include <unistd.h>

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

// The pty behind the module's AT port (the target of its link).
std::string PortTarget(const ModemSim &world)
{
    char target[PATH_MAX];
    ssize_t n = readlink((world.Env("HBR_DEV_ROOT") + "/ttyHBR0").c_str(), target, sizeof target);
    return n > 0 ? std::string(target, static_cast<size_t>(n)) : std::string();
}

// Every interface arrival brings the channel up again; the port it held is
// closed first, and the one left open still carries the next flow.
TEST_F(FlowsE2E, InterfaceRoundsKeepOneDescriptorOnTheComPort)
{
    Start(Com("0", 1));
    const std::string port = PortTarget(*worldPtr_);
    ASSERT_FALSE(port.empty());
    ASSERT_EQ(1, agentPtr_->DescriptorsOn(port));
    for (int round = 1; round <= 3; ++round) {
        ASSERT_EQ("OK", worldPtr_->Control("remove"));
        ASSERT_EQ("OK", worldPtr_->Control("arrive"));
        ASSERT_TRUE(agentPtr_->WaitForLog("Create File result", 30000, round + 1)) << round;
    }
    EXPECT_EQ(1, agentPtr_->DescriptorsOn(port));
    Run("CHECK", "AT+GTPCTPOC=2,1\r\n");
    ASSERT_TRUE(agentPtr_->WaitForLog("IOTServiceCheckSuccess"));
    Stop();
}

// A module that names the channel it opened ("+CCHO: 1" behind the echo):
// every APDU goes out on that channel, and the channel is closed again.
TEST_F(FlowsE2E, ActivationOverTheComPortWithANamedChannelLine)
{
    Scenario s = Com("0", 1);
    s.cchoForm = "prefixed";
    Start(s);
    Run("ACTIVE", "AT+GTPCTPOC=1,1\r\n", 1, 300000);
    EXPECT_EQ(4ul, State());
    EXPECT_EQ(std::string(kNew) + "F:1:enabled", Euicc("profiles"));
    EXPECT_EQ("", Euicc("channels"));
    EXPECT_GT(CountCommands("AT+CGLA="), 0);
    EXPECT_EQ(CountCommands("AT+CGLA="), CountCommands("AT+CGLA=1,"));
    Stop();
}

// A module that is never silent: a line every 500 ms. Each reply still ends
// at its final result code, and the lines that come with it do no harm.
TEST_F(FlowsE2E, ActivationOverTheComPortAmidUnsolicitedLines)
{
    Start(Com("0", 1));
    ASSERT_EQ("OK", worldPtr_->Control("com-unsolicited 500"));
    Run("ACTIVE", "AT+GTPCTPOC=1,1\r\n", 1, 300000);
    EXPECT_EQ(4ul, State());
    EXPECT_EQ(std::string(kNew) + "F:1:enabled", Euicc("profiles"));
    EXPECT_EQ("", Euicc("channels"));
    EXPECT_FALSE(worldPtr_->Records("notification", "com").empty());
    Stop();
}

// The AT port goes away and comes back under the same name: the flow that
// meets the dead port fails, the port is opened again, and the next flow
// goes through.
TEST_F(FlowsE2E, ALostComPortIsReopenedForTheNextFlow)
{
    Start(Com("0", 1));
    const std::string before = PortTarget(*worldPtr_);
    ASSERT_EQ(0, worldPtr_->Control("port-reset").rfind("OK ", 0));
    const std::string after = PortTarget(*worldPtr_);
    ASSERT_FALSE(after.empty());
    ASSERT_EQ("OK", worldPtr_->Control("notify CHECK"));
    ASSERT_TRUE(agentPtr_->WaitForLog("Create File result", 60000, 2));
    Run("CHECK", "AT+GTPCTPOC=2,1\r\n");
    ASSERT_TRUE(agentPtr_->WaitForLog("IOTServiceCheckSuccess"));
    EXPECT_EQ(12ul, State());
    EXPECT_EQ(1, agentPtr_->DescriptorsOn(after));
    if (after != before) {
        EXPECT_EQ(0, agentPtr_->DescriptorsOn(before));
    }
    Stop();
}

} // namespace
