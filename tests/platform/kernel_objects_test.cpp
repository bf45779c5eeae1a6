#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>
#include <hbr_platform_fault.h>

#include "test_support.h"

#include <atomic>
#include <climits>
#include <cstring>
#include <thread>

#include <signal.h>
#include <sys/wait.h>
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

TEST(Events, OnlyManualResetUnnamedEvents)
{
    SetLastError(0);
    EXPECT_EQ(nullptr, CreateEventA(nullptr, FALSE, FALSE, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    EXPECT_EQ(nullptr, CreateEventA(nullptr, TRUE, FALSE, "Global\\x"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
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

// A service run in a child process (the dispatcher changes the signal mask
// of the whole process): its main reports RUNNING only after `signo` was
// sent to the process, then waits for STOP and reports STOPPED. Answers
// the child's exit status: 0 when the dispatcher returned TRUE, -1 when it
// had not ended after 10 s.
HANDLE g_serviceStop = nullptr;
SERVICE_STATUS_HANDLE g_serviceStatus = 0;
int g_serviceSignal = 0;

void ReportService(DWORD state)
{
    SERVICE_STATUS status = {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    SetServiceStatus(g_serviceStatus, &status);
}

void WINAPI TestServiceMain(DWORD, LPSTR *)
{
    g_serviceStatus = RegisterServiceCtrlHandlerA("TestService", [](DWORD control) {
        if (control == SERVICE_CONTROL_STOP) {
            ReportService(SERVICE_STOP_PENDING);
            SetEvent(g_serviceStop);
        }
    });
    kill(getpid(), g_serviceSignal); // kept until STOP is accepted
    ReportService(SERVICE_RUNNING);
    WaitForSingleObject(g_serviceStop, INFINITE);
    ReportService(SERVICE_STOPPED);
}

int RunServiceInChild(int signo)
{
    hbrtest::TempDir root; // its own instance lock
    pid_t pid = fork();
    if (pid == 0) {
        if (setenv("HBR_REGISTRY_ROOT", root.path().c_str(), 1) != 0) {
            _exit(2);
        }
        g_serviceStop = NewEvent();
        g_serviceSignal = signo;
        char name[] = "TestService";
        SERVICE_TABLE_ENTRYA table[] = {{name, TestServiceMain}, {nullptr, nullptr}};
        _exit(StartServiceCtrlDispatcherA(table) ? 0 : 1);
    }
    for (int i = 0; i < 1000; ++i) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        usleep(10 * 1000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
}

// The dispatcher sleeps without a time-out: a stop signal kept until the
// service accepts it, and the end of the service main, each wake it.
TEST(ServiceControl, KeptStopAndEndOfServiceMainWakeTheDispatcher)
{
    EXPECT_EQ(0, RunServiceInChild(SIGTERM));
    EXPECT_EQ(0, RunServiceInChild(SIGINT));
}

// A closed terminal stops the service in order, not with the signal.
TEST(ServiceControl, HangupStopsTheService)
{
    EXPECT_EQ(0, RunServiceInChild(SIGHUP));
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
