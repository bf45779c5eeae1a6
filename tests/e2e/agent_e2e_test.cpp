#include <gtest/gtest.h>

#include "agent_process.h"
#include "test_support.h"

#include <windows.h>

#include <chrono>
#include <csignal>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

namespace {

const char kMain[] = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Quorlin\\HBRAgentService";
const std::string kNotifyKey = std::string(kMain) + "\\OSIsUsingLogicalChannel";
const std::string kResultKey = std::string(kMain) + "\\IOTServiceActiveOrDeactiveResult";

class AgentE2E : public hbrtest::RegistryRootTest {
protected:
    int Reg(std::vector<std::string> args)
    {
        args.insert(args.begin(), HBR_REG_PATH);
        auto r = hbrtest::RunProcess(args);
        EXPECT_EQ(0, r.exitCode) << r.err;
        return r.exitCode;
    }
    // The IoT state mirror as hbr-reg shows it, e.g. "0x1".
    std::string Mirror()
    {
        auto r = hbrtest::RunProcess({HBR_REG_PATH, "query", kResultKey, "/ve"});
        size_t at = r.out.find("REG_DWORD    ");
        return at == std::string::npos ? "" : r.out.substr(at + 13, r.out.find('\n', at) - at - 13);
    }
    // Every text appears, in this order.
    static void ExpectInOrder(const std::vector<std::string> &messages, const std::vector<std::string> &texts)
    {
        int at = 0;
        for (const auto &t : texts) {
            int found = hbrtest::FindMessage(messages, t, at);
            EXPECT_GE(found, 0) << "missing, or out of order: " << t;
            if (found >= 0) at = found + 1;
        }
    }
};

TEST_F(AgentE2E, StartsRunsTheTimerAndStopsOnSigterm)
{
    AgentProcess agent(HBR_AGENT_PATH);
    ASSERT_TRUE(agent.Start()); // no module listens on its device-service socket
    ASSERT_TRUE(agent.WaitForLog("begin wait for event"));
    auto m = agent.Messages();
    ExpectInOrder(m, {
                         "[Information][CServiceStart::StartWork] Service start, StartWork Enter  >> ",
                         "Error RegOpenKeyEx REG_IOT_SERVICE_ACTIVE_RESULT Fail(2)",
                         "RegSetKeyValue REG_IOT_SERVICE_ACTIVE_RESULT Success",
                         "[InitWork] m_runPath:" + agent.Folder() + "/",
                         "Error RegCreateKeyEx REG_FLEETWAVE_NOTIFY_SUBKEY success",
                         // The mirror created the main key: its values are missing.
                         "RegOpenKeyEx REG_MAIN_KEY fail 2",
                         "[CStateWork::InitWork] TestRetryFromReg Fail.",
                         "query REG_AT_OVER_CHANNEL_TYPE fail(2)",
                         "[CStateWork::InitWork] QueryATOverChannelType Fail, default set AT_OVER_MBIM_CHANNEL",
                         "query REG_BOOTSTRAP_SERVER_URL fail(2)",
                         "[CStateWork::InitWork] QueryBootstrapServerUrl Fail, use default url address",
                         "StartWork(true) Done.<<  ",
                     });
    ExpectInOrder(m, {
                         "[Infomation][CStateWork::TheadWork] Enter TheadWork.",
                         "[Infomation][CStateWork::Work] Enter work function:1.1.1.25",
                         "[Infomation][CStateWork::Work] Triger Service Start Event.",
                         "[AtChannelMonitorEvtFunc] SetIOTServiceActiveResultSubKey preActiveResult(0)-currentResult(1)",
                         "RegSetKeyValue REG_IOT_SERVICE_ACTIVE_RESULT Success",
                         "[AtChannelMonitorEvtFunc] SetIOTServiceActiveResultSubKey IOTServiceInit success",
                         "RegisterDeviceServiceMbbChannelMonitorEvent success",
                         "[Infomation][CStateWork::CreateAtChannelTimer] CreateAtChannelTimer",
                         "CreateAtChannelTimer Success",
                         "begin wait for event",
                     });
    EXPECT_EQ("0x1", Mirror());

    // The timer: a tick at once, then every 2 s; without a module each
    // bring-up attempt fails and the timer keeps running.
    ASSERT_TRUE(agent.WaitForLog("[Infomation][CStateWork::Work] At Channel Monitor Event", 30000, 2));
    EXPECT_TRUE(agent.WaitForLog("GetInterfaces Fail", 30000, 2));

    ASSERT_TRUE(agent.Signal(SIGTERM));
    EXPECT_EQ(0, agent.WaitExit());
    m = agent.Messages();
    ExpectInOrder(m, {
                         "[Infomation][SvcCtrlHandler] Receive dwCtrl(1) Cmd",
                         "[Infomation][SvcCtrlHandler] Receive Stop Cmd",
                         "[Infomation][CStateWork::Work] Triger Service Stop Event, (1)",
                         "[Infomation][CStateWork::Work] Exit Success",
                         "[Infomation][CStateWork::DestroyAtChannelTimer] DestroyAtChannelTimer",
                         "[Infomation][CStateWork::DestroyAtChannelTimer] DeleteTimerQueueTimer-1-",
                         "[Infomation][CStateWork::DestroyAtChannelTimer] DeleteTimerQueueEx-1-",
                         "[Infomation][CStateWork::Work] release m_devSerMbbChannelEventCook",
                         "[Infomation][CStateWork::Work] release m_devSerMbbChannelMonitor",
                         "CMbnDeviceServicesEventsMonitor Release Complete",
                         "[Infomation][CStateWork::Work] Exit Success",
                         "[Infomation][CServiceStart::StopWork] Stop work success.\r",
                     });
    int stopCmd = hbrtest::FindMessage(m, "Receive Stop Cmd");
    int wait = hbrtest::FindMessage(m, "[Infomation][CStateWork::StopWork] Wait Thread Stop");
    EXPECT_GT(wait, stopCmd);
    EXPECT_LT(wait, hbrtest::FindMessage(m, "Stop work success."));
    EXPECT_EQ(2, hbrtest::CountMessages(m, "Exit Success"));

    std::vector<std::string> expected = {
        "state=2 controls=4 checkpoint=1 waithint=3000", "state=4 controls=5 checkpoint=0 waithint=0",
        "state=3 controls=5 checkpoint=2 waithint=0",    "state=3 controls=5 checkpoint=3 waithint=0",
        "state=1 controls=5 checkpoint=0 waithint=0",
    };
    EXPECT_EQ(expected, agent.StatusReports()) << agent.Stderr();
}

TEST_F(AgentE2E, EachHbrRegWriteWakesTheWorkerOnce)
{
    AgentProcess agent(HBR_AGENT_PATH);
    ASSERT_TRUE(agent.Start());
    ASSERT_TRUE(agent.WaitForLog("begin wait for event"));
    const std::string wake = "[Infomation][CStateWork::Work] Triger Reg Change Notify Event";

    Reg({"add", kNotifyKey, "/ve", "/t", "REG_DWORD", "/d", "1", "/f"});
    ASSERT_TRUE(agent.WaitForLog(wake, 30000, 1));
    Reg({"add", kNotifyKey, "/ve", "/t", "REG_DWORD", "/d", "1", "/f"});
    ASSERT_TRUE(agent.WaitForLog(wake, 30000, 2));
    // The agent's own state mirror is a sibling key and wakes nothing; a
    // second notification for one write would show up meanwhile.
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    EXPECT_EQ(2, hbrtest::CountMessages(agent.Messages(), wake));

    Reg({"delete", kNotifyKey, "/ve", "/f"});
    ASSERT_TRUE(agent.WaitForLog(wake, 30000, 3));
    ASSERT_TRUE(agent.WaitForLog("[RegChangeMonitorEvtFunc] query REG_FLEETWAVE_NOTIFY_SUBKEY fail:2"));
    Reg({"add", kNotifyKey, "/ve", "/t", "REG_DWORD", "/d", "2", "/f"});
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_EQ(3, hbrtest::CountMessages(agent.Messages(), wake)); // disarmed

    ASSERT_TRUE(agent.Signal(SIGINT));
    EXPECT_EQ(0, agent.WaitExit());
}

TEST_F(AgentE2E, Sigusr1InterrogatesAndSigusr2ShutsDown)
{
    AgentProcess agent(HBR_AGENT_PATH);
    ASSERT_TRUE(agent.Start());
    ASSERT_TRUE(agent.WaitForLog("begin wait for event"));
    ASSERT_TRUE(agent.Signal(SIGUSR1));
    ASSERT_TRUE(agent.WaitForLog("[Infomation][SvcCtrlHandler] Receive dwCtrl(4) Cmd"));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(-1, hbrtest::FindMessage(agent.Messages(), "Receive Stop Cmd"));
    EXPECT_EQ(2u, agent.StatusReports().size());

    ASSERT_TRUE(agent.Signal(SIGUSR2));
    EXPECT_EQ(0, agent.WaitExit());
    auto m = agent.Messages();
    EXPECT_GE(hbrtest::FindMessage(m, "[Infomation][SvcCtrlHandler] Receive dwCtrl(5) Cmd"), 0);
    EXPECT_GE(hbrtest::FindMessage(m, "Stop work success."), 0);
    EXPECT_EQ("state=1 controls=5 checkpoint=0 waithint=0", agent.StatusReports().back());
}

TEST_F(AgentE2E, ComChannelWithoutHardwareIdStaysIdleAndStillStops)
{
    Reg({"add", kMain, "/v", "ATOverChannelType", "/t", "REG_DWORD", "/d", "1", "/f"});
    AgentProcess agent(HBR_AGENT_PATH);
    ASSERT_TRUE(agent.Start());
    ASSERT_TRUE(agent.WaitForLog("StartWork(false) Done.<<  "));
    auto m = agent.Messages();
    EXPECT_GE(hbrtest::FindMessage(m, "[CStateWork::InitWork] QueryATChannelHardId Fail."), 0);
    EXPECT_GE(hbrtest::FindMessage(m, "[Error][CServiceStart::StartWork] InitWork Fail."), 0);
    EXPECT_EQ(-1, hbrtest::FindMessage(m, "Enter TheadWork."));
    EXPECT_EQ("0x0", Mirror());

    ASSERT_TRUE(agent.Signal(SIGTERM));
    EXPECT_EQ(0, agent.WaitExit());
    m = agent.Messages();
    EXPECT_GE(hbrtest::FindMessage(m, "Stop work success."), 0);
    EXPECT_EQ(-1, hbrtest::FindMessage(m, "Exit Success"));
}

TEST_F(AgentE2E, RegistryUnderARegularFileFailsTheWatchAndStillStops)
{
    std::string file = dir_->path() + "/plain";
    hbrtest::WriteFile(file, "x");
    AgentProcess agent(HBR_AGENT_PATH);
    ASSERT_TRUE(agent.Start({{"HBR_REGISTRY_ROOT", file + "/registry"}}));
    ASSERT_TRUE(agent.WaitForLog("StartWork(false) Done.<<  "));
    auto m = agent.Messages();
    ExpectInOrder(m, {
                         "Error RegCreateKeyEx REG_IOT_SERVICE_ACTIVE_RESULT Fail(5)",
                         "[InitWork] SetIOTServiceActiveResultSubKey IOTServiceDefault",
                         "Error RegCreateKeyEx REG_FLEETWAVE_NOTIFY_SUBKEY Fail(5)",
                         "[CStateWork::InitWork] RegisterMonitorRegChangeCallback Fail.",
                         "[Error][CServiceStart::StartWork] InitWork Fail.",
                     });
    ASSERT_TRUE(agent.Signal(SIGTERM));
    EXPECT_EQ(0, agent.WaitExit());
}

// A damaged value file is read as corrupt: the agent logs the failed read
// at start-up and when its watched key changes, and keeps running. The
// state mirror's damaged file is healed by the agent's first state write.
TEST_F(AgentE2E, CorruptValueFilesAreLoggedAndTheAgentKeepsRunning)
{
    // A new serial, so that the watch sees a write.
    const std::string junk = "HBRREG1 77\n4 9223372036854775808 a -\n";
    const std::string keyDir = root() + "/HKLM/SYSTEM/CurrentControlSet/Control/Quorlin/HBRAgentService";
    Reg({"add", kMain, "/v", "ATOverChannelType", "/t", "REG_DWORD", "/d", "0", "/f"});
    Reg({"add", kResultKey, "/ve", "/t", "REG_DWORD", "/d", "5", "/f"});
    hbrtest::WriteFile(keyDir + "/.values", junk);
    hbrtest::WriteFile(keyDir + "/IOTServiceActiveOrDeactiveResult/.values", junk);
    AgentProcess agent(HBR_AGENT_PATH);
    ASSERT_TRUE(agent.Start());
    ASSERT_TRUE(agent.WaitForLog("begin wait for event"));
    EXPECT_GE(hbrtest::FindMessage(agent.Messages(), "RegQueryValueEx 1015"), 0);
    EXPECT_EQ("0x1", Mirror());
    EXPECT_EQ(junk, hbrtest::ReadFile(keyDir + "/IOTServiceActiveOrDeactiveResult/.values.damaged.1"));

    hbrtest::WriteFile(keyDir + "/OSIsUsingLogicalChannel/.values", junk);
    ASSERT_TRUE(agent.WaitForLog("[RegChangeMonitorEvtFunc] query REG_FLEETWAVE_NOTIFY_SUBKEY fail:1015"));
    EXPECT_TRUE(agent.Running());
    ASSERT_TRUE(agent.Signal(SIGTERM));
    EXPECT_EQ(0, agent.WaitExit());
    EXPECT_GE(hbrtest::FindMessage(agent.Messages(), "Stop work success."), 0);
}

// The reader of stderr goes away after the first status line: the later
// lines are dropped and the stop sequence still completes.
TEST_F(AgentE2E, StopCompletesAfterTheStderrReaderWentAway)
{
    int fds[2];
    ASSERT_EQ(0, pipe2(fds, O_CLOEXEC));
    AgentProcess agent(HBR_AGENT_PATH);
    ASSERT_TRUE(agent.Start({}, {}, fds[1]));
    close(fds[1]);
    std::string first;
    char c = 0;
    while (read(fds[0], &c, 1) == 1 && c != '\n') {
        first += c;
    }
    close(fds[0]);
    EXPECT_EQ(0u, first.rfind("SetServiceStatus state=2", 0)) << first;
    ASSERT_TRUE(agent.WaitForLog("begin wait for event"));
    ASSERT_TRUE(agent.Signal(SIGTERM));
    EXPECT_EQ(0, agent.WaitExit());
    EXPECT_GE(hbrtest::FindMessage(agent.Messages(), "Stop work success."), 0);
}

// One instance per service: a second start on the same registry fails with
// 1056 and leaves the first running; a killed instance frees the service.
TEST_F(AgentE2E, SecondInstanceIsRefusedUntilTheFirstEnds)
{
    AgentProcess first(HBR_AGENT_PATH), second(HBR_AGENT_PATH), third(HBR_AGENT_PATH);
    ASSERT_TRUE(first.Start());
    ASSERT_TRUE(first.WaitForLog("begin wait for event"));
    ASSERT_TRUE(second.Start());
    EXPECT_NE(0, second.WaitExit());
    EXPECT_EQ("StartServiceCtrlDispatcher: an instance of the service HollowbrightService is already running "
              "(error 1056)\n",
              second.Stderr());
    EXPECT_TRUE(second.Messages().empty());
    EXPECT_TRUE(first.Running());

    ASSERT_TRUE(first.Signal(SIGKILL));
    EXPECT_EQ(128 + SIGKILL, first.WaitExit());
    ASSERT_TRUE(third.Start());
    ASSERT_TRUE(third.WaitForLog("begin wait for event"));
    ASSERT_TRUE(third.Signal(SIGTERM));
    EXPECT_EQ(0, third.WaitExit());
}

} // namespace
