#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>
#include <hbr_platform_fault.h>

#include <atomic>
#include <climits>
#include <cstring>
#include <string>
#include <thread>

#include <unistd.h>

namespace {

HANDLE NewEvent(BOOL initial = FALSE)
{
    return CreateEventA(nullptr, TRUE, initial, nullptr);
}

TEST(Handles, BadHandlesFailCleanly)
{
    HANDLE closed = NewEvent();
    ASSERT_NE(nullptr, closed);
    ASSERT_TRUE(CloseHandle(closed));

    SetLastError(0);
    EXPECT_FALSE(CloseHandle(closed)); // second close
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());

    // The slot is reused by a new event: the old value stays stale.
    HANDLE fresh = NewEvent();
    ASSERT_NE(nullptr, fresh);
    EXPECT_NE(closed, fresh);

    HANDLE queue = CreateTimerQueue(); // an object of another type
    ASSERT_NE(nullptr, queue);

    for (HANDLE bad : {closed, static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE, queue}) {
        SetLastError(0);
        EXPECT_FALSE(SetEvent(bad));
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
        SetLastError(0);
        EXPECT_FALSE(ResetEvent(bad));
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
        SetLastError(0);
        EXPECT_EQ(WAIT_FAILED, WaitForSingleObject(bad, 0));
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
        HANDLE pair[2] = {fresh, bad};
        EXPECT_EQ(WAIT_FAILED, WaitForMultipleObjects(2, pair, FALSE, 0));
        EXPECT_EQ(static_cast<LSTATUS>(ERROR_INVALID_HANDLE), RegCloseKey(reinterpret_cast<HKEY>(bad)));
    }
    SetLastError(0);
    EXPECT_FALSE(CloseHandle(queue)); // queues are freed by DeleteTimerQueueEx only
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
    EXPECT_TRUE(DeleteTimerQueueEx(queue, INVALID_HANDLE_VALUE));
    EXPECT_TRUE(CloseHandle(fresh));
}

TEST(Events, OnlyManualResetEvents)
{
    SetLastError(0);
    EXPECT_EQ(nullptr, CreateEventA(nullptr, FALSE, FALSE, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    EXPECT_EQ(nullptr, CreateEventA(nullptr, FALSE, FALSE, "AutoResetNamed"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
}

TEST(Events, NamedEventsAreSharedUntilTheLastHandleCloses)
{
    SetLastError(ERROR_INVALID_DATA);
    HANDLE a = CreateEventA(nullptr, TRUE, FALSE, "HBRTestNamedEvt");
    ASSERT_NE(nullptr, a);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), GetLastError());
    // The same name reaches the same object; its state is not reset.
    SetEvent(a);
    HANDLE b = CreateEventA(nullptr, TRUE, FALSE, "HBRTestNamedEvt");
    ASSERT_NE(nullptr, b);
    EXPECT_NE(a, b);
    EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(b, 0));
    ResetEvent(b);
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(a, 0));
    // Names are case-sensitive.
    HANDLE other = CreateEventA(nullptr, TRUE, FALSE, "hbrtestnamedevt");
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), GetLastError());
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(other, 0));
    CloseHandle(other);
    // One handle closed: the name still stands.
    CloseHandle(a);
    SetEvent(b);
    HANDLE c = CreateEventA(nullptr, TRUE, FALSE, "HBRTestNamedEvt");
    EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(c, 0));
    // The last handle closed: the name makes a new event.
    CloseHandle(b);
    CloseHandle(c);
    HANDLE d = CreateEventA(nullptr, TRUE, FALSE, "HBRTestNamedEvt");
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), GetLastError());
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(d, 0));
    CloseHandle(d);

    std::string longName(MAX_PATH, 'n');
    HANDLE atLimit = CreateEventA(nullptr, TRUE, FALSE, longName.c_str());
    EXPECT_NE(nullptr, atLimit);
    CloseHandle(atLimit);
    SetLastError(0);
    EXPECT_EQ(nullptr, CreateEventA(nullptr, TRUE, FALSE, (longName + "n").c_str()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE), GetLastError());
}

TEST(Waits, LowestSignalledIndexWinsAndNothingIsReset)
{
    HANDLE h[4] = {NewEvent(), NewEvent(), NewEvent(TRUE), NewEvent()};
    SetEvent(h[3]);
    EXPECT_EQ(WAIT_OBJECT_0 + 2, WaitForMultipleObjects(4, h, FALSE, 0));
    SetEvent(h[1]);
    EXPECT_EQ(WAIT_OBJECT_0 + 1, WaitForMultipleObjects(4, h, FALSE, INFINITE));
    EXPECT_EQ(WAIT_OBJECT_0 + 1, WaitForMultipleObjects(4, h, FALSE, INFINITE));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(h[2], 0)); // still set
    ResetEvent(h[1]);
    ResetEvent(h[2]);
    EXPECT_EQ(WAIT_OBJECT_0 + 3, WaitForMultipleObjects(4, h, FALSE, 0));
    ResetEvent(h[3]);
    EXPECT_EQ(WAIT_TIMEOUT, WaitForMultipleObjects(4, h, FALSE, 20));
    for (HANDLE e : h) {
        CloseHandle(e);
    }
}

TEST(Waits, SetEventFromAnotherThreadWakesAWait)
{
    HANDLE h[2] = {NewEvent(), NewEvent()};
    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        SetEvent(h[1]);
    });
    EXPECT_EQ(WAIT_OBJECT_0 + 1, WaitForMultipleObjects(2, h, FALSE, 30000));
    setter.join();
    CloseHandle(h[0]);
    CloseHandle(h[1]);
}

TEST(Waits, CloseDuringAnotherThreadsWaitIsSafe)
{
    HANDLE ev = NewEvent();
    HANDLE other = NewEvent();
    std::atomic<DWORD> result{0};
    std::thread waiter([&] {
        HANDLE both[2] = {ev, other};
        result = WaitForMultipleObjects(2, both, FALSE, 30000);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    CloseHandle(ev);
    SetEvent(other);
    waiter.join();
    EXPECT_EQ(WAIT_OBJECT_0 + 1, result.load());
    CloseHandle(other);
}

TEST(Waits, InvalidArgumentsAreRefused)
{
    HANDLE ev = NewEvent(TRUE);
    HANDLE many[65];
    for (HANDLE &h : many) {
        h = ev;
    }
    SetLastError(0);
    EXPECT_EQ(WAIT_FAILED, WaitForMultipleObjects(1, &ev, TRUE, 0)); // wait-all
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    SetLastError(0);
    EXPECT_EQ(WAIT_FAILED, WaitForMultipleObjects(0, &ev, FALSE, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    SetLastError(0);
    EXPECT_EQ(WAIT_FAILED, WaitForMultipleObjects(65, many, FALSE, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    EXPECT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(64, many, FALSE, 0));
    CloseHandle(ev);
}

std::atomic<int> g_threadRan{0};

DWORD WINAPI ThreadBody(LPVOID param)
{
    HANDLE go = static_cast<HANDLE>(param);
    WaitForSingleObject(go, INFINITE);
    g_threadRan = 1;
    return 7;
}

TEST(Threads, HandleIsSignalledWhenTheRoutineReturns)
{
    HANDLE go = NewEvent();
    DWORD id = 0;
    HANDLE t = CreateThread(nullptr, 0, ThreadBody, go, 0, &id);
    ASSERT_NE(nullptr, t);
    EXPECT_NE(0u, id);
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(t, 20));
    SetEvent(go);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(t, 30000));
    EXPECT_EQ(1, g_threadRan.load());
    EXPECT_TRUE(CloseHandle(t));
    SetLastError(0);
    EXPECT_EQ(nullptr, CreateThread(nullptr, 0, ThreadBody, go, 4 /* CREATE_SUSPENDED */, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    CloseHandle(go);
}

TEST(LastError, IsPerThreadAndSuccessLeavesItAlone)
{
    SetLastError(1234);
    HANDLE ev = NewEvent();
    EXPECT_TRUE(SetEvent(ev));
    EXPECT_EQ(1234u, GetLastError());
    DWORD seen = 1;
    std::thread other([&] {
        seen = GetLastError();
        SetEvent(nullptr);
    });
    other.join();
    EXPECT_EQ(0u, seen);
    EXPECT_EQ(1234u, GetLastError());
    CloseHandle(ev);
}

TEST(ModuleFileName, ReadsTheExecutableAndTruncatesLikeWindows)
{
    char full[PATH_MAX];
    DWORD n = GetModuleFileNameA(nullptr, full, sizeof full);
    ASSERT_GT(n, 5u);
    ASSERT_LT(n, sizeof full);
    char expected[PATH_MAX + 1] = {};
    ASSERT_EQ(static_cast<ssize_t>(n), readlink("/proc/self/exe", expected, PATH_MAX));
    EXPECT_STREQ(expected, full);

    char small[6];
    std::memset(small, 'z', sizeof small);
    SetLastError(0);
    EXPECT_EQ(6u, GetModuleFileNameA(nullptr, small, sizeof small));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
    EXPECT_EQ(0, std::memcmp(small, full, 5));
    EXPECT_EQ('\0', small[5]);
}

TEST(LocalTime, FillsPlausibleFields)
{
    SYSTEMTIME st;
    GetLocalTime(&st);
    EXPECT_GE(st.wYear, 2020);
    EXPECT_GE(st.wMonth, 1);
    EXPECT_LE(st.wMonth, 12);
    EXPECT_LE(st.wMilliseconds, 999);
    EXPECT_EQ(static_cast<DWORD>(getpid()), GetCurrentProcessId());
}

TEST(CriticalSection, IsRecursive)
{
    CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    EnterCriticalSection(&cs);
    EnterCriticalSection(&cs);
    LeaveCriticalSection(&cs);
    LeaveCriticalSection(&cs);
    std::atomic<bool> got{false};
    std::thread other([&] {
        EnterCriticalSection(&cs);
        got = true;
        LeaveCriticalSection(&cs);
    });
    other.join();
    EXPECT_TRUE(got.load());
    DeleteCriticalSection(&cs);
    LONG v = 0;
    EXPECT_EQ(1, InterlockedIncrement(&v));
    EXPECT_EQ(0, InterlockedDecrement(&v));
}

TEST(Com, InitializeIsANoOpPerThread)
{
    std::thread t([] {
        EXPECT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        EXPECT_EQ(S_FALSE, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    });
    t.join();
}

TEST(ServiceControl, CallsOutsideADispatcherFail)
{
    SetLastError(0);
    EXPECT_EQ(0u, RegisterServiceCtrlHandlerA("HollowbrightService", [](DWORD) {}));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT), GetLastError());
    SERVICE_STATUS status = {};
    EXPECT_FALSE(SetServiceStatus(0, &status));
}

TEST(FaultHook, SkipsThenFails)
{
    hbrFaultSet(HBR_FAULT_CREATE_EVENT, 1, 2);
    HANDLE first = NewEvent();
    EXPECT_NE(nullptr, first);
    SetLastError(0);
    EXPECT_EQ(nullptr, NewEvent());
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY), GetLastError());
    EXPECT_EQ(nullptr, NewEvent());
    HANDLE after = NewEvent();
    EXPECT_NE(nullptr, after);
    CloseHandle(first);
    CloseHandle(after);

    hbrFaultSet(HBR_FAULT_CO_INITIALIZE, 0, 1);
    EXPECT_EQ(E_FAIL, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    hbrFaultSet(HBR_FAULT_CREATE_TIMER_QUEUE, 0, 1);
    EXPECT_EQ(nullptr, CreateTimerQueue());
    hbrFaultClearAll();
}

} // namespace
