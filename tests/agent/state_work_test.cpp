#include "agent_fixture.h"

#include <atomic>
#include <mutex>
#include <thread>

namespace {

// What the fake handlers did, in order, and a gate that can hold one run.
struct Recorder {
    std::mutex lock;
    std::vector<std::string> runs;
    HANDLE gate = nullptr;       // set: handlers run through
    HANDLE blocked = nullptr;    // set while the gated handler waits
    std::string gatedName;       // the handler that waits on the gate (first run)
    bool gateUsed = false;

    void Run(const char *name)
    {
        bool wait = false;
        {
            std::lock_guard<std::mutex> guard(lock);
            runs.push_back(name);
            if (!gateUsed && gatedName == name) {
                gateUsed = true;
                wait = true;
            }
        }
        if (wait) {
            SetEvent(blocked);
            WaitForSingleObject(gate, INFINITE);
        }
    }
    std::vector<std::string> Runs()
    {
        std::lock_guard<std::mutex> guard(lock);
        return runs;
    }
    int Count(const std::string &name)
    {
        std::lock_guard<std::mutex> guard(lock);
        int n = 0;
        for (auto &r : runs) n += r == name;
        return n;
    }
};

Recorder *g_rec = nullptr;

const CStateWorkHandlers kFakeHandlers = {
    [](CStateWork *) { g_rec->Run("reg"); },
    // Like the real bring-up once the channel stands: the timer goes.
    [](CStateWork *w) {
        g_rec->Run("at");
        w->DestroyAtChannelTimer();
    },
    [](CStateWork *) { g_rec->Run("active"); },
    [](CStateWork *) { g_rec->Run("deactive"); },
    [](CStateWork *) { g_rec->Run("check"); },
};

class WorkerLoop : public AgentTest {
protected:
    void SetUp() override
    {
        AgentTest::SetUp();
        rec_.reset(new Recorder);
        rec_->gate = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        rec_->blocked = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        g_rec = rec_.get();
        w_.reset(new CStateWork);
        w_->SetHandlers(kFakeHandlers);
        CStateWork::SetInstanceForTest(w_.get());
    }
    void TearDown() override
    {
        if (w_->m_hThread != INVALID_HANDLE_VALUE) {
            SetEvent(rec_->gate);
            SetEvent(w_->m_events[EVT_SERVICE_STOP]);
            WaitForSingleObject(w_->m_hThread, 60000);
        }
        w_.reset();
        CStateWork::SetInstanceForTest(nullptr);
        CloseHandle(rec_->gate);
        CloseHandle(rec_->blocked);
        g_rec = nullptr;
        rec_.reset();
        AgentTest::TearDown();
    }
    // Starts the worker as StartWork does and waits for its first timer tick.
    void Start()
    {
        ASSERT_TRUE(w_->InitWork());
        w_->m_hThread = CreateThread(nullptr, 0, CStateWork::TheadWork, w_.get(), 0, nullptr);
        ASSERT_NE(nullptr, w_->m_hThread);
        SetEvent(w_->m_events[EVT_SERVICE_START]);
        ASSERT_TRUE(hbrtest::WaitUntil([&] { return rec_->Count("at") == 1; }, 30000));
    }
    void Set(int index) { SetEvent(w_->m_events[index]); }
    void HoldNext(const char *name) { rec_->gatedName = name; }
    void WaitBlocked() { ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(rec_->blocked, 30000)); }
    void Release() { SetEvent(rec_->gate); }
    bool Stop()
    {
        Set(EVT_SERVICE_STOP);
        bool ended = WaitForSingleObject(w_->m_hThread, 60000) == WAIT_OBJECT_0;
        CloseHandle(w_->m_hThread);
        w_->m_hThread = INVALID_HANDLE_VALUE;
        return ended;
    }

    std::unique_ptr<Recorder> rec_;
    std::unique_ptr<CStateWork> w_;
};

TEST_F(WorkerLoop, StartSetsStateOneAndMirrorsIt)
{
    Start();
    EXPECT_EQ(IOTServiceInit, w_->m_iotServiceResult.load());
    DWORD v = 0, type = 0;
    ASSERT_TRUE(ReadDword(REG_IOT_SERVICE_ACTIVE_RESULT, &v, &type));
    EXPECT_EQ(1u, v);
    auto m = Messages();
    EXPECT_GE(hbrtest::FindMessage(m, "[AtChannelMonitorEvtFunc] SetIOTServiceActiveResultSubKey preActiveResult(0)-currentResult(1)"), 0);
    // The subscription stands without a module.
    EXPECT_GE(hbrtest::FindMessage(m, "RegisterDeviceServiceMbbChannelMonitorEvent success"), 0);
    EXPECT_NE(0u, w_->m_devSerMbbChannelEventCook);
    EXPECT_GE(hbrtest::FindMessage(m, "CreateAtChannelTimer Success"), 0);
    EXPECT_TRUE(Stop());
    // The teardown withdraws it and drops the sink and the connection point.
    m = Messages();
    int destroy = hbrtest::FindMessage(m, "[CStateWork::DestroyAtChannelTimer] DestroyAtChannelTimer");
    int cookie = hbrtest::FindMessage(m, "[Infomation][CStateWork::Work] release m_devSerMbbChannelEventCook", destroy);
    int sink = hbrtest::FindMessage(m, "[Infomation][CStateWork::Work] release m_devSerMbbChannelMonitor", cookie);
    EXPECT_GT(cookie, destroy);
    EXPECT_GT(sink, cookie);
    EXPECT_GT(hbrtest::FindMessage(m, "[Infomation][CStateWork::Work] Exit Success", sink), sink);
    EXPECT_EQ(0u, w_->m_devSerMbbChannelEventCook);
    EXPECT_EQ(nullptr, w_->m_devSerMbbChannelMonitor);
    EXPECT_EQ(nullptr, w_->m_connectionPoint);
}

TEST_F(WorkerLoop, EventsSetDuringAHandlerAreServedInPriorityOrder)
{
    Start();
    HoldNext("active");
    Set(EVT_IOT_SERVICE_ACTIVE);
    WaitBlocked();
    Set(EVT_IOT_SERVICE_CHECK);
    Set(EVT_IOT_SERVICE_DEACTIVE);
    Set(EVT_REG_CHANGE);
    Set(EVT_IOT_SERVICE_ACTIVE);
    Release();
    ASSERT_TRUE(hbrtest::WaitUntil([&] { return rec_->Count("check") == 1; }, 30000));
    EXPECT_TRUE(Stop());
    std::vector<std::string> expected = {"at", "active", "reg", "active", "deactive", "check"};
    EXPECT_EQ(expected, rec_->Runs());
}

TEST_F(WorkerLoop, RepeatedRequestsCollapseIntoOneMoreRun)
{
    Start();
    HoldNext("active");
    Set(EVT_IOT_SERVICE_ACTIVE);
    WaitBlocked();
    for (int i = 0; i < 3; ++i) {
        Set(EVT_IOT_SERVICE_ACTIVE);
    }
    Release();
    Set(EVT_IOT_SERVICE_CHECK); // lower priority: runs after the second active
    ASSERT_TRUE(hbrtest::WaitUntil([&] { return rec_->Count("check") == 1; }, 30000));
    EXPECT_EQ(2, rec_->Count("active"));
    EXPECT_TRUE(Stop());
}

TEST_F(WorkerLoop, StopTogetherWithActiveRunsNoActiveHandler)
{
    Start();
    HoldNext("deactive");
    Set(EVT_IOT_SERVICE_DEACTIVE);
    WaitBlocked();
    Set(EVT_IOT_SERVICE_ACTIVE);
    Set(EVT_SERVICE_STOP);
    Release();
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(w_->m_hThread, 60000));
    EXPECT_EQ(0, rec_->Count("active"));
    EXPECT_TRUE(Stop());
}

TEST_F(WorkerLoop, StopWaitsTenSleepsWhileAPassIsAtWork)
{
    hbrtest::ScopedEnv divisor("HBR_SLEEP_DIVISOR", "10");
    Start();
    w_->m_iotServiceResult = IOTServiceActiving;
    unsigned long before = hbrLongSleepCount();
    ASSERT_TRUE(Stop());
    EXPECT_EQ(10ul, hbrLongSleepCount() - before);
    auto m = Messages();
    int stop = hbrtest::FindMessage(m, "[Infomation][CStateWork::Work] Triger Service Stop Event, (3)");
    ASSERT_GE(stop, 0);
    int destroy = hbrtest::FindMessage(m, "[CStateWork::DestroyAtChannelTimer] DestroyAtChannelTimer", stop);
    int exit = hbrtest::FindMessage(m, "[Infomation][CStateWork::Work] Exit Success", stop);
    EXPECT_GT(destroy, stop);
    EXPECT_GT(exit, destroy);
    EXPECT_EQ(1, hbrtest::CountMessages(m, "Exit Success"));
}

TEST_F(WorkerLoop, StopAfterThePassEndsLogsExitSuccessTwice)
{
    // Full 1 s sleeps: ample time to end the pass during the first one.
    hbrtest::ScopedEnv divisor("HBR_SLEEP_DIVISOR", nullptr);
    Start();
    w_->m_iotServiceResult = IOTServiceChecking;
    unsigned long before = hbrLongSleepCount();
    Set(EVT_SERVICE_STOP);
    ASSERT_TRUE(hbrtest::WaitUntil([&] { return hbrLongSleepCount() > before; }, 30000));
    w_->m_iotServiceResult = IOTServiceCheckSuccess;
    ASSERT_TRUE(Stop());
    EXPECT_LT(hbrLongSleepCount() - before, 10ul);
    auto m = Messages();
    int first = hbrtest::FindMessage(m, "[Infomation][CStateWork::Work] Exit Success");
    int destroy = hbrtest::FindMessage(m, "[CStateWork::DestroyAtChannelTimer] DestroyAtChannelTimer", first);
    ASSERT_GE(first, 0);
    EXPECT_GT(destroy, first);
    EXPECT_EQ(2, hbrtest::CountMessages(m, "Exit Success"));
}

using InitWorkFailure = AgentTest;

TEST_F(InitWorkFailure, EventCreationFaultCreatesNoLaterEventsAndStartsNoWorker)
{
    hbrFaultSet(HBR_FAULT_CREATE_EVENT, 4, 1);
    CStateWork w;
    EXPECT_FALSE(w.InitWork());
    for (int i = 0; i < 4; ++i) {
        EXPECT_NE(nullptr, w.m_events[i]);
    }
    for (int i = 4; i < EVT_COUNT; ++i) {
        EXPECT_EQ(nullptr, w.m_events[i]);
    }
    auto m = Messages();
    int fail = hbrtest::FindMessage(m, "[Fail][CStateWork::InitWork] Create Event(4) Fail.");
    ASSERT_GE(fail, 0);
    // The remaining steps still ran.
    EXPECT_GT(hbrtest::FindMessage(m, "[CStateWork::InitWork] QueryBootstrapServerUrl Fail", fail), fail);
}

TEST_F(InitWorkFailure, MissingRegistryChangeEventFailsTheWatch)
{
    hbrFaultSet(HBR_FAULT_CREATE_EVENT, 2, 1);
    CStateWork w;
    EXPECT_FALSE(w.InitWork());
    EXPECT_TRUE(Logged("[Fail][CStateWork::InitWork] Create Event(2) Fail."));
    EXPECT_TRUE(Logged("Error in RegNotifyChangeKeyValue (6)"));
    EXPECT_TRUE(Logged("[CStateWork::InitWork] RegisterMonitorRegChangeCallback Fail."));
}

TEST_F(InitWorkFailure, ComFaultStopsBeforeTheEvents)
{
    hbrFaultSet(HBR_FAULT_CO_INITIALIZE, 0, 1);
    CStateWork w;
    EXPECT_FALSE(w.InitWork());
    EXPECT_EQ(0, w.m_comInitialized);
    EXPECT_TRUE(Logged("[InitWork] CoInitializeEx Failed(80004005)"));
    EXPECT_EQ(nullptr, w.m_events[0]);
    // Step 1 and 2 ran: state 0 mirrored, run path ends in its separator.
    DWORD v = 9, type = 0;
    ASSERT_TRUE(ReadDword(REG_IOT_SERVICE_ACTIVE_RESULT, &v, &type));
    EXPECT_EQ(0u, v);
    ASSERT_FALSE(w.m_runPath.empty());
    EXPECT_EQ('/', w.m_runPath.back());
}

TEST_F(InitWorkFailure, ComChannelWithoutHardwareId)
{
    SetDword(REG_MAIN_KEY, REG_AT_OVER_CHANNEL_TYPE, 1);
    CStateWork w;
    EXPECT_FALSE(w.InitWork());
    EXPECT_TRUE(Logged("[CStateWork::InitWork] QueryATChannelHardId Fail."));
}

class AtChannelTimer : public AgentTest {
protected:
    void SetUp() override
    {
        AgentTest::SetUp();
        w_.reset(new CStateWork);
        w_->m_events[EVT_AT_CHANNEL_MONITOR] = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    }
    void TearDown() override
    {
        w_.reset();
        AgentTest::TearDown();
    }
    std::unique_ptr<CStateWork> w_;
};

TEST_F(AtChannelTimer, SecondCreateKeepsTheOneTimer)
{
    ASSERT_TRUE(w_->CreateAtChannelTimer());
    HANDLE queue = w_->m_hTimerQueue, timer = w_->m_hAtChannelTimer;
    ASSERT_NE(nullptr, timer);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(w_->m_events[EVT_AT_CHANNEL_MONITOR], 30000));
    w_->m_atChannelTimerActive = 0;
    ASSERT_TRUE(w_->CreateAtChannelTimer());
    EXPECT_EQ(1, w_->m_atChannelTimerActive.load());
    EXPECT_EQ(queue, w_->m_hTimerQueue);
    EXPECT_EQ(timer, w_->m_hAtChannelTimer);
    w_->DestroyAtChannelTimer();
    EXPECT_EQ(0, w_->m_atChannelTimerActive.load());
    EXPECT_EQ(nullptr, w_->m_hTimerQueue);
    EXPECT_EQ(nullptr, w_->m_hAtChannelTimer);
    EXPECT_TRUE(Logged("[Infomation][CStateWork::DestroyAtChannelTimer] DeleteTimerQueueTimer-1-"));
    EXPECT_TRUE(Logged("[Infomation][CStateWork::DestroyAtChannelTimer] DeleteTimerQueueEx-1-"));
}

TEST_F(AtChannelTimer, FailedCreationsAreReported)
{
    hbrFaultSet(HBR_FAULT_CREATE_TIMER_QUEUE, 0, 1);
    EXPECT_FALSE(w_->CreateAtChannelTimer());
    EXPECT_EQ(nullptr, w_->m_hTimerQueue);
    hbrFaultSet(HBR_FAULT_CREATE_TIMER_QUEUE_TIMER, 0, 1);
    EXPECT_FALSE(w_->CreateAtChannelTimer());
    EXPECT_TRUE(Logged("[Error][CStateWork::CreateAtChannelTimer] CreateTimerQueueTimer fail 8"));
    w_->DestroyAtChannelTimer();
    EXPECT_EQ(nullptr, w_->m_hTimerQueue);
}

TEST_F(AtChannelTimer, RacingCreatesAndDestroysStayConsistent)
{
    std::atomic<bool> go{false};
    auto body = [&](bool create) {
        while (!go.load()) std::this_thread::yield();
        for (int i = 0; i < 40; ++i) {
            if (create) {
                w_->CreateAtChannelTimer();
            } else {
                w_->DestroyAtChannelTimer();
            }
        }
    };
    std::thread a(body, true), b(body, false);
    go = true;
    a.join();
    b.join();
    w_->DestroyAtChannelTimer();
    EXPECT_EQ(nullptr, w_->m_hTimerQueue);
    EXPECT_EQ(nullptr, w_->m_hAtChannelTimer);
    // And a new timer works afterwards.
    ResetEvent(w_->m_events[EVT_AT_CHANNEL_MONITOR]);
    ASSERT_TRUE(w_->CreateAtChannelTimer());
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(w_->m_events[EVT_AT_CHANNEL_MONITOR], 30000));
}

} // namespace
