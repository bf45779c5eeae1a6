#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <vector>
#include <thread>

namespace {

struct TickCounter {
    std::atomic<int> ticks{0};
    std::mutex timesLock;
    std::vector<std::chrono::steady_clock::time_point> times;
    std::atomic<bool> inCallback{false};
    std::atomic<bool> finished{false};
    int callbackMs = 0;
    HANDLE firstTick = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE queue = nullptr;
    HANDLE timer = nullptr;
    std::atomic<BOOL> deleteFromCallback{TRUE};
    std::atomic<DWORD> deleteError{0};
    bool tryDelete = false;
    ~TickCounter() { CloseHandle(firstTick); }
};

void CALLBACK Tick(PVOID param, BOOLEAN fired)
{
    auto *c = static_cast<TickCounter *>(param);
    EXPECT_TRUE(fired);
    c->inCallback = true;
    {
        std::lock_guard<std::mutex> guard(c->timesLock);
        c->times.push_back(std::chrono::steady_clock::now());
    }
    c->ticks++;
    SetEvent(c->firstTick);
    if (c->tryDelete) {
        c->deleteFromCallback = DeleteTimerQueueTimer(c->queue, c->timer, INVALID_HANDLE_VALUE);
        c->deleteError = GetLastError();
        c->tryDelete = false;
    }
    if (c->callbackMs > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(c->callbackMs));
        c->finished = true;
    }
    c->inCallback = false;
}

TEST(TimerQueue, DueZeroFiresAtOnceThenPeriodically)
{
    TickCounter c;
    HANDLE q = CreateTimerQueue();
    ASSERT_NE(nullptr, q);
    HANDLE t = nullptr;
    ASSERT_TRUE(CreateTimerQueueTimer(&t, q, Tick, &c, 0, 200, WT_EXECUTEDEFAULT));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(c.firstTick, 30000));
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    EXPECT_TRUE(DeleteTimerQueueTimer(q, t, INVALID_HANDLE_VALUE));
    EXPECT_TRUE(DeleteTimerQueueEx(q, INVALID_HANDLE_VALUE));
    // Ticks in the first 700 ms after the first one: 3.5 periods give 4
    // ticks (at 0, 200, 400 and 600 ms), give or take one.
    int inWindow = 0;
    for (auto when : c.times) {
        inWindow += when - c.times.front() < std::chrono::milliseconds(700);
    }
    EXPECT_GE(inWindow, 3);
    EXPECT_LE(inWindow, 5);
}

TEST(TimerQueue, OneShotFiresOnce)
{
    TickCounter c;
    HANDLE q = CreateTimerQueue();
    HANDLE t = nullptr;
    ASSERT_TRUE(CreateTimerQueueTimer(&t, q, Tick, &c, 10, 0, WT_EXECUTEDEFAULT));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(c.firstTick, 30000));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(1, c.ticks.load());
    EXPECT_TRUE(DeleteTimerQueueTimer(q, t, INVALID_HANDLE_VALUE));
    EXPECT_TRUE(DeleteTimerQueueEx(q, INVALID_HANDLE_VALUE));
}

// Starts a timer whose callback runs 300 ms, waits for its first run, calls
// `del` and checks that it returned only after the callback and that no
// callback starts afterwards.
void ExpectDeleteWaitsForCallback(const std::function<void(HANDLE queue, HANDLE timer)> &del)
{
    TickCounter c;
    c.callbackMs = 300;
    HANDLE q = CreateTimerQueue();
    HANDLE t = nullptr;
    ASSERT_TRUE(CreateTimerQueueTimer(&t, q, Tick, &c, 0, 50, WT_EXECUTEDEFAULT));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(c.firstTick, 30000));
    del(q, t);
    EXPECT_TRUE(c.finished.load());
    EXPECT_FALSE(c.inCallback.load());
    int ticks = c.ticks.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(ticks, c.ticks.load());
}

TEST(TimerQueue, DeleteTimerWaitsForTheRunningCallback)
{
    ExpectDeleteWaitsForCallback([](HANDLE q, HANDLE t) {
        ASSERT_TRUE(DeleteTimerQueueTimer(q, t, INVALID_HANDLE_VALUE));
        SetLastError(0);
        EXPECT_FALSE(DeleteTimerQueueTimer(q, t, INVALID_HANDLE_VALUE)); // already gone
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
        EXPECT_TRUE(DeleteTimerQueueEx(q, INVALID_HANDLE_VALUE));
    });
}

TEST(TimerQueue, DeleteQueueWaitsForTheRunningCallback)
{
    ExpectDeleteWaitsForCallback([](HANDLE q, HANDLE) {
        ASSERT_TRUE(DeleteTimerQueueEx(q, INVALID_HANDLE_VALUE));
        SetLastError(0);
        EXPECT_FALSE(DeleteTimerQueueEx(q, INVALID_HANDLE_VALUE));
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
        HANDLE t2 = nullptr;
        EXPECT_FALSE(CreateTimerQueueTimer(&t2, q, Tick, nullptr, 0, 50, WT_EXECUTEDEFAULT));
    });
}

TEST(TimerQueue, DeleteFromOwnCallbackFailsInsteadOfDeadlocking)
{
    TickCounter c;
    HANDLE q = CreateTimerQueue();
    c.queue = q;
    c.tryDelete = true;
    ASSERT_TRUE(CreateTimerQueueTimer(&c.timer, q, Tick, &c, 50, 1000, WT_EXECUTEDEFAULT));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(c.firstTick, 30000));
    ASSERT_TRUE(WaitForSingleObject(c.firstTick, 0) == WAIT_OBJECT_0);
    while (c.inCallback.load()) {
        std::this_thread::yield();
    }
    EXPECT_FALSE(c.deleteFromCallback.load());
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), c.deleteError.load());
    EXPECT_TRUE(DeleteTimerQueueEx(q, INVALID_HANDLE_VALUE));
}

TEST(TimerQueue, RefusesOtherCompletionArguments)
{
    TickCounter c;
    HANDLE q = CreateTimerQueue();
    HANDLE t = nullptr;
    ASSERT_TRUE(CreateTimerQueueTimer(&t, q, Tick, &c, 60000, 0, WT_EXECUTEDEFAULT));
    SetLastError(0);
    EXPECT_FALSE(DeleteTimerQueueTimer(q, t, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    EXPECT_FALSE(DeleteTimerQueueEx(q, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    EXPECT_TRUE(DeleteTimerQueueEx(q, INVALID_HANDLE_VALUE)); // also frees the timer
    EXPECT_EQ(0, c.ticks.load());
}

} // namespace
