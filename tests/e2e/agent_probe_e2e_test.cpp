// hbr-agent-probe against hbr-modem-sim over the device-service channel:
// an ACTIVE notification makes it read the EID and the profile list
// through liblpa.so and the agent's writers, on a MediaTek module
// (logical channels) and on an Intel module (AT+CSIM).
#include <gtest/gtest.h>

#include "agent_process.h"
#include "modem_sim.h"
#include "test_support.h"

#include <csignal>

namespace {

const char kSeed[] = R"({
  "eid": "89049032123451234512345678901299",
  "euicc": {"firstChannel": 3},
  "module": {"imei": "490154203237518"},
  "profiles": [
    {"iccid": "89000123456789012358", "state": 1, "class": 2, "profileName": "Operator"},
    {"iccid": "8986001234567890123", "state": 0, "class": 1, "profileName": "Bootstrap"}
  ]
})";

class ProbeE2E : public hbrtest::RegistryRootTest {
protected:
    // Runs the probe against the module of `platform` through one ACTIVE
    // notification; answers the module's eUICC commands.
    std::vector<std::string> RunProbe(const char *platform)
    {
        hbrtest::WriteFile(sim_.Folder() + "/seed.json", kSeed);
        EXPECT_TRUE(sim_.Start({"--platform", platform, "--seed", sim_.Folder() + "/seed.json"}));
        EXPECT_TRUE(agent_.Start(sim_.AgentEnv(100)));
        EXPECT_TRUE(agent_.WaitForLog(std::string("[CheckPlatformType] m_platType(") + platform + ")"));
        EXPECT_TRUE(agent_.WaitForLog("begin wait for event", 30000, 2));
        EXPECT_EQ(0u, sim_.Control("notify ACTIVE").find("OK"));
        EXPECT_TRUE(agent_.WaitForLog("[AgentProbe] done", 60000));
        std::vector<std::string> euicc;
        for (const auto &r : sim_.Records("command", "mbn")) {
            if (r.text.compare(0, 7, "AT+CSIM") == 0 || r.text.compare(0, 7, "AT+CCHO") == 0 ||
                r.text.compare(0, 7, "AT+CGLA") == 0 || r.text.compare(0, 7, "AT+CCHC") == 0) {
                euicc.push_back(r.text);
            }
        }
        return euicc;
    }
    void ExpectResultsAndStop(const std::string &writerLine)
    {
        EXPECT_TRUE(agent_.WaitForLog("[AgentProbe] imei(1:490154203237518) eid(1:89049032123451234512345678901299) "
                                      "profiles(true:2) provisioning iccid(8986001234567890123F)"));
        EXPECT_TRUE(agent_.WaitForLog("[Infomation]imei(490154203237518)"));
        std::string log = hbrtest::ReadFile(agent_.LogPath());
        for (const char *line : {"Profile 0 :\n", "\tprofileClass = operational\n", "Profile 1 :\n",
                                 "\tprofileName = Bootstrap\n", "iccidsize(10-0)"}) {
            EXPECT_NE(std::string::npos, log.find(line)) << line;
        }
        EXPECT_NE(std::string::npos, sim_.Control("status").find(" channels=none "));
        std::string lpaLog = hbrtest::ReadFile(agent_.Folder() + "/lpa.log");
        EXPECT_NE(std::string::npos, lpaLog.find(writerLine)) << writerLine;
        ASSERT_TRUE(agent_.Signal(SIGTERM));
        EXPECT_EQ(0, agent_.WaitExit());
    }

    ModemSim sim_{HBR_MODEM_SIM_PATH};
    AgentProcess agent_{HBR_AGENT_PROBE_PATH};
};

TEST_F(ProbeE2E, MediatekModuleOverLogicalChannels)
{
    std::vector<std::string> euicc = RunProbe("0");
    ASSERT_FALSE(euicc.empty());
    EXPECT_EQ("AT+CCHO=\"A0000005591010FFFFFFFF8900000100\"\r", euicc.front());
    EXPECT_EQ("AT+CCHC=3\r", euicc.back());
    for (const std::string &c : euicc) {
        EXPECT_EQ(std::string::npos, c.find("AT+CSIM")) << c;
        if (c.compare(0, 7, "AT+CGLA") == 0) {
            EXPECT_EQ(0u, c.find("AT+CGLA=3,")) << c;
        }
    }
    ExpectResultsAndStop("OPEN1 read_mipc_buf:+CSIM: 6,\"019000\"\rOK");
}

TEST_F(ProbeE2E, IntelModuleOverCsim)
{
    std::vector<std::string> euicc = RunProbe("1");
    ASSERT_FALSE(euicc.empty());
    for (const std::string &c : euicc) EXPECT_EQ(0u, c.find("AT+CSIM=")) << c;
    EXPECT_EQ("AT+CSIM=10,\"0070000001\"\r", euicc.front());
    EXPECT_EQ("AT+CSIM=10,\"0070800300\"\r", euicc.back());
    ExpectResultsAndStop("[LPA LIB]: [info]t_csim_rsp:");
}

}  // namespace
