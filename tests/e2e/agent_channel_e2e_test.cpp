// The real hbr-agent against hbr-modem-sim: the AT channel over the device
// service and over the pty, platform detection, the sync request,
// notifications, interface removal and arrival, and the stop.
#include <gtest/gtest.h>

#include "agent_process.h"
#include "modem_sim.h"
#include "test_support.h"

#include <csignal>

namespace {

const char kMain[] = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Quorlin\\HBRAgentService";
const char kSync[] = "AT+GTPCTPOC=6\r\n";

class ChannelE2E : public hbrtest::RegistryRootTest {
protected:
    void Reg(std::vector<std::string> args)
    {
        args.insert(args.begin(), HBR_REG_PATH);
        auto r = hbrtest::RunProcess(args);
        ASSERT_EQ(0, r.exitCode) << r.err;
    }
    bool StartBoth(const std::vector<std::string> &simOptions)
    {
        return sim_.Start(simOptions) && agent_.Start(sim_.AgentEnv(1000));
    }
    // Sync requests recorded so far, through `transport`.
    size_t SyncRequests(const std::string &transport = "mbn") const
    {
        size_t n = 0;
        for (const auto &r : sim_.Records("command", transport)) n += r.text == kSync;
        return n;
    }
    bool WaitForSyncRequests(size_t count, const std::string &transport = "mbn") const
    {
        return sim_.WaitForRecords(
            [&](const ModemSim::Record &r) { return r.kind == "command" && r.transport == transport && r.text == kSync; },
            static_cast<int>(count));
    }
    // The first bring-up's one sync request through `transport`, answered "done".
    std::vector<ModemSim::Record> ExpectOneSyncRequest(const std::string &transport) const
    {
        EXPECT_TRUE(Log("[AtChannelMonitorEvtFunc] TriggerAgent2ModuleSyncFlow(0-DPD_DONE_STATUS)"));
        auto commands = sim_.Records("command", transport);
        EXPECT_EQ(1u, commands.size());
        if (!commands.empty()) {
            EXPECT_EQ(kSync, commands[0].text);
        }
        return commands;
    }
    bool Log(const std::string &text, int count = 1) const { return agent_.WaitForLog(text, 30000, count); }
    int Count(const std::string &text) const { return hbrtest::CountMessages(agent_.Messages(), text); }
    std::string Ctl(const std::string &command) const { return sim_.Control(command); }

    ModemSim sim_{HBR_MODEM_SIM_PATH};
    AgentProcess agent_{HBR_AGENT_PATH};
};

TEST_F(ChannelE2E, DeviceServiceChannelOnAnIntelModule)
{
    ASSERT_TRUE(StartBoth({"--platform", "1"}));
    // Bring-up: detection over "Net", the session, the timer gone, then one
    // sync request (command id 1) about a second later, answered "done".
    ASSERT_TRUE(Log("[CheckPlatformType] m_platType(1)"));
    ASSERT_TRUE(Log("CMbnDeviceServicesEventsMonitor::OpenCommandSession Success"));
    auto commands = ExpectOneSyncRequest("mbn");
    ASSERT_EQ(1u, commands.size());
    EXPECT_EQ(1, commands[0].numbers["commandId"]);
    auto m = agent_.Messages();
    int destroy = hbrtest::FindMessage(m, "[Infomation][CStateWork::DestroyAtChannelTimer] DestroyAtChannelTimer");
    int sync = hbrtest::FindMessage(m, "TriggerAgent2ModuleSyncFlow(0-");
    EXPECT_GE(destroy, 0);
    EXPECT_GT(sync, destroy);

    // Notifications, prefixed and plain; another event id; other text. Each
    // runs its flow (no cloud here, so the flows fail) before the next.
    const char kActiveFirst[] = "[IOTServiceActiveEvtFunc] SetIOTServiceActiveResultSubKey preActiveResult(";
    const struct {
        const char *command, *event, *first, *last;
    } notes[] = {
        {"notify ACTIVE", "IOT Service Active Event", kActiveFirst, "IOTServiceActive send IOTServiceActiveDefaultType"},
        {"notify DEACTIVE", "IOT Service Deactive Event",
         "[IOTServiceDeactiveEvtFunc] SetIOTServiceActiveResultSubKey preActiveResult(",
         "[IOTServiceDeactiveFunc] SetIOTServiceActiveResultSubKey"},
        {"notify CHECK", "IOT Service Check Event",
         "[IOTServiceCheckEvtFunc] SetIOTServiceActiveResultSubKey preActiveResult(",
         "[IOTServiceCheckFunc] SetIOTServiceActiveResultSubKey IOTServiceCheckFail"},
        {"notify-raw --plain \\r\\n+GTPCTPOC: ACTIVE\\r\\n", "IOT Service Active Event", kActiveFirst,
         "IOTServiceActive send IOTServiceActiveDefaultType"},
    };
    for (const auto &n : notes) {
        int events = Count(n.event), firsts = Count(n.first), lasts = Count(n.last);
        ASSERT_EQ(0u, Ctl(n.command).find("OK")) << n.command;
        EXPECT_TRUE(Log(n.event, events + 1)) << n.command;
        EXPECT_TRUE(Log(n.first, firsts + 1)) << n.command;
        EXPECT_TRUE(agent_.WaitForLog(n.last, 120000, lasts + 1)) << n.command;
    }
    ASSERT_EQ(0u, Ctl("notify-raw --event-id=2 +GTPCTPOC: ACTIVE").find("OK"));
    EXPECT_TRUE(Log("CMbnDeviceServicesEventsMonitor::OnEventNotification:2"));
    ASSERT_EQ(0u, Ctl("notify-raw RING").find("OK"));
    EXPECT_TRUE(Log("CMbnDeviceServicesEventsIndicate::OnEventNotification other notify data, do not care"));
    EXPECT_EQ(2, Count(kActiveFirst));
    EXPECT_EQ(1u, SyncRequests()); // no further bring-up meanwhile

    // Removal and arrival: the channel comes up again and asks again.
    ASSERT_EQ(0u, Ctl("remove").find("OK"));
    ASSERT_TRUE(Log("CMbnDeviceServicesEventsMonitor::OnInterfaceStateChange 1"));
    ASSERT_TRUE(Log("Retry DestroyAtChannelTimer"));
    ASSERT_EQ(0u, Ctl("arrive").find("OK"));
    ASSERT_TRUE(Log("CMbnDeviceServicesEventsMonitor::OnInterfaceStateChange 0"));
    ASSERT_TRUE(Log("Retry CreateAtChannelTimer"));
    ASSERT_TRUE(WaitForSyncRequests(2));
    ASSERT_TRUE(Log("[AtChannelMonitorEvtFunc] TriggerAgent2ModuleSyncFlow(0-DPD_DONE_STATUS)", 2));
    EXPECT_EQ(1, Count("[CheckPlatformType] m_platType("));

    // Stop with the channel up.
    ASSERT_TRUE(agent_.Signal(SIGTERM));
    EXPECT_EQ(0, agent_.WaitExit());
    m = agent_.Messages();
    int close = hbrtest::FindMessage(m, "CMbnDeviceServicesEventsMonitor::CloseCommandSession Success");
    int cookie = hbrtest::FindMessage(m, "[Infomation][CStateWork::Work] release m_devSerMbbChannelEventCook", close);
    int sink = hbrtest::FindMessage(m, "[Infomation][CStateWork::Work] release m_devSerMbbChannelMonitor", cookie);
    int gone = hbrtest::FindMessage(m, "CMbnDeviceServicesEventsMonitor Release Complete", sink);
    EXPECT_GE(close, 0);
    EXPECT_GT(cookie, close);
    EXPECT_GT(sink, cookie);
    EXPECT_GT(gone, sink);
    EXPECT_GT(hbrtest::FindMessage(m, "[Infomation][CStateWork::Work] Exit Success", gone), gone);
    EXPECT_FALSE(sim_.Records("session-close", "mbn").empty());
}

TEST_F(ChannelE2E, OtherPlatformsGetNoSyncRequest)
{
    for (const char *preset : {"2", "none"}) {
        ModemSim sim(HBR_MODEM_SIM_PATH);
        AgentProcess agent(HBR_AGENT_PATH);
        ASSERT_TRUE(sim.Start({"--platform", preset}));
        ASSERT_TRUE(agent.Start(sim.AgentEnv(10)));
        std::string expected = std::string("[CheckPlatformType] m_platType(") + (preset[0] == '2' ? "2" : "0") + ")";
        ASSERT_TRUE(agent.WaitForLog(expected)) << preset;
        ASSERT_TRUE(agent.WaitForLog("CMbnDeviceServicesEventsMonitor::OpenCommandSession Success")) << preset;
        ASSERT_TRUE(agent.WaitForLog("begin wait for event", 30000, 2)) << preset;
        ASSERT_TRUE(agent.Signal(SIGTERM));
        EXPECT_EQ(0, agent.WaitExit());
        EXPECT_TRUE(sim.Records("command", "mbn").empty()) << preset;
    }
}

TEST_F(ChannelE2E, SyncRequestsUntilTheModuleIsReady)
{
    ASSERT_TRUE(sim_.Start({"--platform", "1"}));
    ASSERT_EQ(0u, Ctl("sync 0").find("OK"));
    // Divisor 10: the gaps between requests are scaled sleeps.
    ASSERT_TRUE(agent_.Start(sim_.AgentEnv(10)));
    ASSERT_TRUE(Log("[AtChannelMonitorEvtFunc] TriggerAgent2ModuleSyncFlow(4-DPD_NOT_READY_STATUS)"));
    auto requests = sim_.Records("command", "mbn");
    ASSERT_EQ(5u, requests.size());
    for (size_t i = 1; i < requests.size(); ++i) {
        int64_t gap = requests[i].timeMs - requests[i - 1].timeMs;
        EXPECT_GE(gap, 150) << i;
        EXPECT_LT(gap, 2000) << i;
    }
    // A stop and a restart of the module are a removal and an arrival; the
    // module, now ready with an activation, gets one request.
    ASSERT_EQ(0, sim_.Terminate());
    ASSERT_TRUE(Log("CMbnDeviceServicesEventsMonitor::OnInterfaceStateChange 1"));
    int64_t restart = hbrmodemsim::nowMs();
    ASSERT_TRUE(sim_.Start({"--platform", "1"}));
    ASSERT_EQ(0u, Ctl("sync 1 ACTIVE").find("OK"));
    ASSERT_TRUE(Log("CMbnDeviceServicesEventsMonitor::OnInterfaceStateChange 0"));
    ASSERT_TRUE(Log("[AtChannelMonitorEvtFunc] TriggerAgent2ModuleSyncFlow(0-DPD_READY_STATUS)"));
    ASSERT_TRUE(Log("[IOTServiceActiveEvtFunc] SetIOTServiceActiveResultSubKey preActiveResult("));
    ASSERT_TRUE(agent_.WaitForLog("IOTServiceActive send IOTServiceActiveDefaultType", 120000));
    size_t after = 0;
    for (const auto &r : sim_.Records("command", "mbn")) after += r.timeMs >= restart && r.text == kSync;
    EXPECT_EQ(1u, after);
    ASSERT_TRUE(agent_.Signal(SIGTERM));
    EXPECT_EQ(0, agent_.WaitExit());
}

TEST_F(ChannelE2E, ComPortChannelOverThePty)
{
    Reg({"add", std::string(kMain) + "\\RetryTest", "/v", "RetryErrorCode", "/t", "REG_DWORD", "/d", "1007", "/f"});
    Reg({"add", kMain, "/v", "ATOverChannelType", "/t", "REG_DWORD", "/d", "1", "/f"});
    Reg({"add", kMain, "/v", "ATComChannelHardwareId", "/t", "REG_SZ", "/d", "USB\\VID_8087&PID_0AC9&REV_0001&MI_02",
         "/f"});
    ASSERT_TRUE(StartBoth({"--platform", "1"}));
    ASSERT_TRUE(Log("[AtChannelMonitorEvtFunc] Find At Com Port, HardId(USB\\VID_8087&PID_0AC9&REV_0001&MI_02)"));
    ASSERT_TRUE(Log("[CheckPlatformType] m_platType(1)"));
    ASSERT_TRUE(Log("FirendlyName-"));
    EXPECT_TRUE(Log("(ttyHBR0)"));
    EXPECT_TRUE(Log("[Error][CComPortChannelHelper::Init]PortName-ttyHBR0"));
    ExpectOneSyncRequest("com");
    EXPECT_TRUE(Log("[ReceiveAtResponse] at over com channel(0)"));
    EXPECT_TRUE(Log("[ReceiveAtResponse]1024-"));
    EXPECT_TRUE(sim_.Records("command", "mbn").empty());

    // Notifications still come through the device service. The simulated
    // switch failure ends the activation after one slot read over the port.
    ASSERT_EQ(0u, Ctl("notify ACTIVE").find("OK"));
    EXPECT_TRUE(Log("[IOTServiceActiveEvtFunc] SetIOTServiceActiveResultSubKey preActiveResult("));
    EXPECT_TRUE(Log("[IOTServiceActiveFunc] SetIOTServiceActiveResultSubKey IOTServiceActiveFail Success"));
    EXPECT_EQ(2u, sim_.Records("command", "com").size()); // the sync request and the slot read
    ASSERT_TRUE(agent_.Signal(SIGTERM));
    EXPECT_EQ(0, agent_.WaitExit());
}

TEST_F(ChannelE2E, AShorterConfiguredIdFindsNoPort)
{
    Reg({"add", kMain, "/v", "ATOverChannelType", "/t", "REG_DWORD", "/d", "1", "/f"});
    Reg({"add", kMain, "/v", "ATComChannelHardwareId", "/t", "REG_SZ", "/d", "USB\\VID_8087&PID_0AC9", "/f"});
    ASSERT_TRUE(StartBoth({"--platform", "1"}));
    ASSERT_TRUE(Log("[AtChannelMonitorEvtFunc] CheckAtComPortIsExist fail(USB\\VID_8087&PID_0AC9)", 2));
    EXPECT_EQ(0, Count("[CheckPlatformType] m_platType("));
    ASSERT_TRUE(agent_.Signal(SIGTERM));
    EXPECT_EQ(0, agent_.WaitExit());
}

} // namespace
