// The device-service channel against the in-process module service: bring-up,
// commands and replies, notifications and their gates, interface removal and
// arrival, and the close.
#include "channel_fixture.h"

#include "at_channel.h"
#include "at_channel_bringup.h"

#include <hbr_platform_fault.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using hbrmodemsim::CompletionTiming;
using hbrmodemsim::DeviceServiceFaults;
using hbrmodemsim::PayloadForm;

const char kOkReply[] = "\r\nOK\r\n";

class DeviceService : public ChannelTest {
protected:
    // A module on platform `preset` answering every command with `reply`.
    void StartModule(const std::string &preset, std::string reply = kOkReply)
    {
        BuildPreset(preset);
        StartServer([this, reply](const std::string &command) {
            commands_.push_back(command);
            return reply;
        });
    }
    // One bring-up attempt with the timer running, as the worker makes it.
    void BringUp()
    {
        ASSERT_TRUE(work_->CreateAtChannelTimer());
        work_->AtChannelMonitorEvtFunc();
    }
    // Sends a command and fetches its reply; "<no send>"/"<no reply>" on failure.
    static std::string Exchange(const std::string &command, size_t capacity = 1024)
    {
        uint32_t id = 0;
        if (!SendATCmd(command.data(), static_cast<uint32_t>(command.size()), &id)) {
            return "<no send>";
        }
        std::string buffer(capacity, '\0');
        size_t length = 12345;
        if (!ReceiveAtResponse(&buffer[0], capacity, &length, id)) {
            return length == 12345 ? "<no reply>" : "<length touched>";
        }
        return buffer.substr(0, length);
    }
    void Notify(uint32_t eventId, const std::string &text, PayloadForm form = PayloadForm::Prefixed)
    {
        std::string bytes = hbrmodemsim::DeviceServiceServer::encodePayload(text, form);
        SAFEARRAY *a = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
        for (size_t i = 0; i < bytes.size(); ++i) {
            LONG index = static_cast<LONG>(i);
            uint8_t b = static_cast<uint8_t>(bytes[i]);
            SafeArrayPutElement(a, &index, &b);
        }
        monitor_->OnEventNotification(nullptr, eventId, a);
        SafeArrayDestroy(a);
    }
    void SetFaults(const std::function<void(DeviceServiceFaults &)> &change)
    {
        DeviceServiceFaults f = server_->faults();
        change(f);
        server_->setFaults(f);
    }

    std::vector<std::string> commands_;
};

TEST_F(DeviceService, BringUpOpensTheSessionAndTheChannelCarriesCommands)
{
    StartModule("0", "\r\n+CGSN: 123456789012345\r\n\r\nOK\r\n");
    BringUp();
    EXPECT_EQ(0, work_->m_atChannelTimerActive.load());
    EXPECT_EQ(0, work_->m_mbbInterfaceRemoved.load());
    EXPECT_EQ(0, work_->m_platType.load());
    EXPECT_TRUE(server_->sessionOpen());
    EXPECT_TRUE(Logged("[AtChannelMonitorEvtFunc] Find MBB interface, and interfaceID("));
    EXPECT_TRUE(Logged("CMbnDeviceServicesEventsMonitor::OpenCommandSession Success"));

    // The command goes out byte for byte; its reply comes back once.
    EXPECT_EQ("\r\n+CGSN: 123456789012345\r\n\r\nOK\r\n", Exchange("AT+CGSN?\r\n"));
    ASSERT_EQ(1u, commands_.size());
    EXPECT_EQ("AT+CGSN?\r\n", commands_[0]);
    // A reply longer than the capacity is cut, and its entry still goes.
    uint32_t id = 0;
    ASSERT_TRUE(SendATCmd("AT\r", 3, &id));
    EXPECT_NE(0u, id);
    char buffer[8] = {};
    size_t length = 0;
    ASSERT_TRUE(ReceiveAtResponse(buffer, 5, &length, id));
    EXPECT_EQ(5u, length);
    EXPECT_EQ(std::string("\r\n+CG"), std::string(buffer));
    length = 777;
    EXPECT_FALSE(ReceiveAtResponse(buffer, 5, &length, id));
    EXPECT_EQ(777u, length);

    // The plain reply form reads the same.
    SetFaults([](DeviceServiceFaults &f) { f.replyForm = PayloadForm::Plain; });
    EXPECT_EQ("\r\n+CGSN: 123456789012345\r\n\r\nOK\r\n", Exchange("AT+CGSN?\r\n"));
}

TEST_F(DeviceService, EveryFailingStepLeavesTheTimerRunning)
{
    // No module at all.
    BuildPreset("1");
    ASSERT_TRUE(work_->CreateAtChannelTimer());
    work_->AtChannelMonitorEvtFunc();
    EXPECT_TRUE(Logged("GetInterfaces Fail"));
    EXPECT_EQ(-1, work_->m_platType.load()); // no candidate, no detection
    EXPECT_EQ(1, work_->m_atChannelTimerActive.load());

    // Interface manager refused.
    hbrFaultSetCoCreateInstance(&CLSID_MbnInterfaceManager, REGDB_E_CLASSNOTREG);
    work_->AtChannelMonitorEvtFunc();
    EXPECT_TRUE(Logged("CoCreateInstance IID_IMbnInterfaceManager Failed(80040154)"));
    hbrFaultClearAll();

    // The private service is missing: detection has run, Init fails.
    StartServer([](const std::string &) { return std::string(kOkReply); });
    SetFaults([](DeviceServiceFaults &f) { f.privateServiceAbsent = true; });
    work_->AtChannelMonitorEvtFunc();
    EXPECT_EQ(1, work_->m_platType.load());
    EXPECT_TRUE(Logged("CMbnDeviceServicesEventsMonitor::GetDeviceService(QRL_PRIVATE_UUID) Failed(80070490)"));
    EXPECT_TRUE(Logged("[AtChannelMonitorEvtFunc] MbbInterfaceInit fail(80070490)"));
    EXPECT_EQ(1, work_->m_atChannelTimerActive.load());
    EXPECT_EQ(-1, work_->m_mbbInterfaceRemoved.load());

    // The context refused; the platform type is never detected again.
    sysfs_.reset();
    BuildPreset("2");
    SetFaults([](DeviceServiceFaults &f) {
        f.privateServiceAbsent = false;
        f.responseHr[hbrmodemsim::kDsOpenContext] = static_cast<int32_t>(E_FAIL);
    });
    work_->AtChannelMonitorEvtFunc();
    EXPECT_TRUE(Logged("CMbnDeviceServicesEventsMonitor::GetDeviceServicesContext Failed(80004005)"));
    EXPECT_EQ(1, work_->m_platType.load());
    EXPECT_EQ(1, work_->m_atChannelTimerActive.load());
    EXPECT_EQ(1, hbrtest::CountMessages(Messages(), "[CheckPlatformType] m_platType("));
}

TEST_F(DeviceService, CompletionsStoreOnlySuccessfulAtRepliesButAlwaysEndTheWait)
{
    StartModule("0", "\r\nOK\r\n");
    BringUp();
    SetFaults([](DeviceServiceFaults &f) {
        f.setCommand.replaceResponseId = true;
        f.setCommand.responseId = 2;
    });
    EXPECT_EQ("<no reply>", Exchange("AT\r"));
    SetFaults([](DeviceServiceFaults &f) {
        f.setCommand.replaceResponseId = false;
        f.setCommand.replaceStatus = true;
        f.setCommand.status = static_cast<int32_t>(E_FAIL);
    });
    EXPECT_EQ("<no reply>", Exchange("AT\r"));
    // A completion before the response, and a pending response.
    SetFaults([](DeviceServiceFaults &f) {
        f.setCommand = hbrmodemsim::CompletionFault();
        f.setCommand.timing = CompletionTiming::BeforeResponse;
        f.responseHr[hbrmodemsim::kDsSetCommand] = hbrmodemsim::kDsPending;
    });
    EXPECT_EQ("\r\nOK\r\n", Exchange("AT\r"));
    // A failing response: no wait, no id.
    SetFaults([](DeviceServiceFaults &f) { f.responseHr[hbrmodemsim::kDsSetCommand] = static_cast<int32_t>(E_FAIL); });
    uint32_t id = 99;
    EXPECT_FALSE(SendATCmd("AT\r", 3, &id));
    EXPECT_EQ(0u, id);
    EXPECT_TRUE(Logged("CMbnDeviceServicesEventsMonitor::SetCommand FAIL(80004005)"));
}

TEST_F(DeviceService, AStaleCompletionNeitherEndsTheWaitNorSurvivesTheNextCommand)
{
    StartModule("0", "\r\nFRESH\r\nOK\r\n");
    BringUp();
    SetFaults([](DeviceServiceFaults &f) {
        f.setCommand.timing = CompletionTiming::Delayed;
        f.setCommand.delayMs = 400;
    });
    // A late completion of an earlier request comes after the send's reset.
    std::thread late([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        SAFEARRAY *a = SafeArrayCreateVector(VT_UI1, 0, 5);
        for (LONG i = 0; i < 5; ++i) {
            uint8_t b = static_cast<uint8_t>("STALE"[i]);
            SafeArrayPutElement(a, &i, &b);
        }
        monitor_->OnSetCommandComplete(nullptr, 1, a, S_OK, 0x7FFF0001u);
        SafeArrayDestroy(a);
    });
    EXPECT_EQ("\r\nFRESH\r\nOK\r\n", Exchange("AT\r"));
    late.join();
    // The stale entry stays until the next send drops it.
    EXPECT_EQ(1u, monitor_->StoredSetCommandResponsesForTest());
    SetFaults([](DeviceServiceFaults &f) { f.setCommand = hbrmodemsim::CompletionFault(); });
    EXPECT_EQ("\r\nFRESH\r\nOK\r\n", Exchange("AT\r"));
    char buffer[16] = {};
    size_t length = 0;
    EXPECT_FALSE(ReceiveAtResponse(buffer, sizeof buffer - 1, &length, 0x7FFF0001u));
    EXPECT_EQ(0u, monitor_->StoredSetCommandResponsesForTest());
}

TEST_F(DeviceService, ACommandWithoutCompletionTimesOutAfterTenSeconds)
{
    StartModule("0");
    BringUp();
    SetFaults([](DeviceServiceFaults &f) { f.setCommand.timing = CompletionTiming::Never; });
    auto start = std::chrono::steady_clock::now();
    uint32_t id = 5;
    EXPECT_FALSE(SendATCmd("AT\r", 3, &id));
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(0u, id);
    EXPECT_GE(ms, 9900);
    EXPECT_LT(ms, 15000);
    EXPECT_EQ(1, hbrtest::CountMessages(Messages(), "CMbnDeviceServicesEventsMonitor::SetCommand Timeout"));
    // Without a device service: E_POINTER, at once.
    monitor_->Uninit();
    ASSERT_EQ(nullptr, monitor_->DeviceServiceForTest());
    EXPECT_FALSE(SendATCmd("AT\r", 3, &id));
    EXPECT_TRUE(Logged("CMbnDeviceServicesEventsMonitor::SetCommand FAIL(80004003)"));
}

TEST_F(DeviceService, ASessionThatNeverOpensStillBringsTheChannelUp)
{
    StartModule("0");
    SetFaults([](DeviceServiceFaults &f) { f.openSession.timing = CompletionTiming::Never; });
    BringUp();
    EXPECT_TRUE(Logged("CMbnDeviceServicesEventsMonitor::OpenCommandSession Timeout"));
    EXPECT_EQ(0, work_->m_atChannelTimerActive.load());
    EXPECT_EQ(0, work_->m_mbbInterfaceRemoved.load());
}

TEST_F(DeviceService, NotificationsSetTheirEventsBehindTheGates)
{
    struct Case {
        const char *text;
        int32_t state;
        int event; // -1: none
    } cases[] = {
        {"\r\n+GTPCTPOC: ACTIVE\r\n", IOTServiceActiveSuccess, EVT_IOT_SERVICE_ACTIVE},
        {"\r\n+GTPCTPOC: ACTIVE\r\n", IOTServiceActiveStart, -1},
        {"\r\n+GTPCTPOC: ACTIVE\r\n", IOTServiceActiving, -1},
        {"\r\n+GTPCTPOC: ACTIVE\r\n", IOTServiceDeactiving, EVT_IOT_SERVICE_ACTIVE},
        {"\r\n+GTPCTPOC: DEACTIVE\r\n", IOTServiceDeactiveStart, -1},
        {"\r\n+GTPCTPOC: DEACTIVE\r\n", IOTServiceDeactiving, -1},
        {"\r\n+GTPCTPOC: DEACTIVE\r\n", IOTServiceActiving, EVT_IOT_SERVICE_DEACTIVE},
        {"+GTPCTPOC: CHECK", IOTServiceChecking, EVT_IOT_SERVICE_CHECK},
        {"+GTPCTPOC: CHECK", IOTServiceActiving, EVT_IOT_SERVICE_CHECK},
        {"+GTPCTPOC: CHECK", IOTServiceDeactiveStart, EVT_IOT_SERVICE_CHECK},
        {"+GTPCTPOC: active", IOTServiceInit, -1},
        {"RING", IOTServiceInit, -1},
    };
    for (const Case &c : cases) {
        for (PayloadForm form : {PayloadForm::Prefixed, PayloadForm::Plain}) {
            ResetEvents();
            work_->m_iotServiceResult = c.state;
            Notify(1, c.text, form);
            for (int e : {EVT_IOT_SERVICE_ACTIVE, EVT_IOT_SERVICE_DEACTIVE, EVT_IOT_SERVICE_CHECK}) {
                EXPECT_EQ(e == c.event, EventSet(e)) << c.text << " in state " << c.state;
            }
        }
    }
    // Another event id is only logged.
    ResetEvents();
    Notify(2, "\r\n+GTPCTPOC: ACTIVE\r\n");
    EXPECT_FALSE(EventSet(EVT_IOT_SERVICE_ACTIVE));
    EXPECT_TRUE(Logged("CMbnDeviceServicesEventsMonitor::OnEventNotification:2"));
    EXPECT_TRUE(Logged("CMbnDeviceServicesEventsIndicate::OnEventNotification other notify data, do not care"));
    EXPECT_TRUE(Logged("in iot deactive processing, no need trigger iot deactive flow"));
}

TEST_F(DeviceService, TheSubscriptionDeliversNotificationsRemovalAndArrival)
{
    StartModule("0");
    EXPECT_NE(0u, work_->m_devSerMbbChannelEventCook);
    BringUp();
    ASSERT_EQ(0, work_->m_atChannelTimerActive.load());

    work_->m_iotServiceResult = IOTServiceInit;
    server_->notify(1, "\r\n+GTPCTPOC: CHECK\r\n");
    EXPECT_TRUE(hbrtest::WaitUntil([&] { return EventSet(EVT_IOT_SERVICE_CHECK); }, 10000));

    server_->removeInterface();
    ASSERT_TRUE(hbrtest::WaitUntil([&] { return work_->m_mbbInterfaceRemoved.load() == 1; }, 10000));
    EXPECT_EQ(0, work_->m_atChannelTimerActive.load());
    // After the removal the close neither closes the session nor drops the service.
    monitor_->Uninit();
    EXPECT_NE(nullptr, monitor_->DeviceServiceForTest());
    EXPECT_EQ(nullptr, monitor_->SetCommandEventForTest());

    server_->arriveInterface();
    ASSERT_TRUE(hbrtest::WaitUntil([&] { return work_->m_atChannelTimerActive.load() == 1; }, 10000));
    EXPECT_TRUE(Logged("Retry CreateAtChannelTimer"));
    work_->AtChannelMonitorEvtFunc();
    EXPECT_EQ(0, work_->m_mbbInterfaceRemoved.load());
    EXPECT_TRUE(server_->sessionOpen());
    EXPECT_EQ("\r\nOK\r\n", Exchange("AT\r"));

    // The close with the channel up.
    work_->CloseAtChannel();
    EXPECT_FALSE(server_->sessionOpen());
    EXPECT_EQ(nullptr, monitor_->DeviceServiceForTest());
    EXPECT_TRUE(Logged("CMbnDeviceServicesEventsMonitor::CloseCommandSession Success"));
    work_->ReleaseDeviceServiceSubscription(true);
    EXPECT_EQ(0u, work_->m_devSerMbbChannelEventCook);
    EXPECT_EQ(nullptr, work_->m_devSerMbbChannelMonitor);
    EXPECT_EQ(nullptr, work_->m_connectionPoint);
}

TEST_F(DeviceService, CloseBeforeAnyBringUpKeepsWhatItHas)
{
    // The flag is still -1: nothing to close but the (absent) events.
    monitor_->Uninit();
    EXPECT_EQ(nullptr, monitor_->DeviceServiceForTest());
    EXPECT_FALSE(Logged("get_IsCommandSessionOpen"));
}

TEST_F(DeviceService, OnlyTheEventsInterfaceIsAnsweredAndTheLastReleaseDeletes)
{
    void *p = reinterpret_cast<void *>(1);
    EXPECT_EQ(E_NOINTERFACE, monitor_->QueryInterface(IID_IUnknown, &p));
    EXPECT_EQ(nullptr, p);
    ASSERT_EQ(S_OK, monitor_->QueryInterface(IID_IMbnDeviceServicesEvents, &p));
    EXPECT_EQ(static_cast<IMbnDeviceServicesEvents *>(monitor_), p);
    EXPECT_EQ(4u, monitor_->AddRef()); // created, the fixture's, the QI's, this one
    monitor_->Release();
    monitor_->Release();

    auto *own = new CMbnDeviceServicesEventsMonitor();
    EXPECT_EQ(0u, own->Release());
    EXPECT_TRUE(Logged("CMbnDeviceServicesEventsMonitor Release Complete"));
}

TEST_F(DeviceService, SyncRequestsRetryFiveTimesAndStopOnAnAnswer)
{
    hbrtest::ScopedEnv divisor("HBR_SLEEP_DIVISOR", "10");
    std::atomic<int> calls{0};
    std::string reply = "\r\nERROR\r\n";
    BuildPreset("1");
    StartServer([&](const std::string &command) {
        EXPECT_EQ("AT+GTPCTPOC=6\r\n", command);
        ++calls;
        return reply;
    });
    unsigned long sleeps = hbrLongSleepCount();
    BringUp();
    EXPECT_EQ(5, calls.load());
    EXPECT_EQ(6ul, hbrLongSleepCount() - sleeps); // 10 s, then 2 s after each try
    EXPECT_TRUE(Logged("[AtChannelMonitorEvtFunc] TriggerAgent2ModuleSyncFlow(4-DPD_RETRY_STATUS)"));

    // A new bring-up asks again; a READY answer with ACTIVE ends the tries
    // and raises the request unless the state gates it.
    reply = "\r\n+GTPCTPOC: ACTIVE,1\r\n\r\nOK\r\n";
    for (int32_t state : {IOTServiceActiving, IOTServiceActiveFail}) {
        calls = 0;
        ResetEvents();
        work_->m_iotServiceResult = state;
        sleeps = hbrLongSleepCount();
        BringUp();
        EXPECT_EQ(1, calls.load());
        EXPECT_EQ(1ul, hbrLongSleepCount() - sleeps);
        EXPECT_EQ(state == IOTServiceActiveFail, EventSet(EVT_IOT_SERVICE_ACTIVE));
    }
    EXPECT_TRUE(Logged("[AtChannelMonitorEvtFunc] TriggerAgent2ModuleSyncFlow(0-DPD_READY_STATUS)"));
}

TEST_F(DeviceService, CallbacksRaceCommandsAndTheClose)
{
    StartModule("0");
    BringUp();
    std::atomic<bool> stop{false};
    std::vector<std::thread> callers;
    for (int t = 0; t < 3; ++t) {
        callers.emplace_back([&, t] {
            SAFEARRAY *a = SafeArrayCreateVector(VT_UI1, 0, 2);
            for (LONG i = 0; i < 2; ++i) {
                uint8_t b = 'O';
                SafeArrayPutElement(a, &i, &b);
            }
            for (ULONG n = 0; !stop; ++n) {
                monitor_->OnSetCommandComplete(nullptr, 1, a, S_OK, 0x70000000u + static_cast<ULONG>(t) * 100000u + n);
                monitor_->OnOpenCommandSessionComplete(nullptr, S_OK, n);
                monitor_->OnEventNotification(nullptr, 1, a);
            }
            SafeArrayDestroy(a);
        });
    }
    for (int round = 0; round < 5; ++round) {
        Exchange("AT\r");
        monitor_->Uninit();
        work_->AtChannelMonitorEvtFunc();
    }
    stop = true;
    for (auto &c : callers) c.join();
    EXPECT_EQ("\r\nOK\r\n", Exchange("AT\r"));
}

} // namespace
