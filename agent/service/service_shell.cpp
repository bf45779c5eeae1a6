#include "service_shell.h"

#include "clog.h"
#include "state_work.h"

#include <atomic>
#include <mutex>

namespace {

std::mutex g_statusLock; // guards the record and the check-point counter
SERVICE_STATUS g_serviceStatus = {};
SERVICE_STATUS_HANDLE g_statusHandle = 0;
DWORD g_checkPoint = 1;
// Created before the control handler is registered and read by the handler
// on the dispatcher's thread.
std::atomic<HANDLE> g_hServiceStopEvent{nullptr};

void ReportLocked(DWORD state, DWORD waitHint)
{
    g_serviceStatus.dwCurrentState = state;
    g_serviceStatus.dwWaitHint = waitHint;
    g_serviceStatus.dwControlsAccepted =
        state == SERVICE_START_PENDING ? SERVICE_ACCEPT_SHUTDOWN : SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
    if (state == SERVICE_RUNNING || state == SERVICE_STOPPED) {
        g_serviceStatus.dwCheckPoint = 0;
    } else {
        g_serviceStatus.dwCheckPoint = g_checkPoint++;
    }
    SetServiceStatus(g_statusHandle, &g_serviceStatus);
}

} // namespace

void ReportServiceStatus(DWORD state, DWORD waitHint)
{
    std::lock_guard<std::mutex> guard(g_statusLock);
    ReportLocked(state, waitHint);
}

int RunServiceDispatcher()
{
    static char serviceName[] = HBR_SERVICE_NAME;
    SERVICE_TABLE_ENTRYA table[] = {
        {serviceName, ServiceMain},
        {nullptr, nullptr},
    };
    // Fails when another instance of the service already runs.
    return StartServiceCtrlDispatcherA(table) ? 0 : 1;
}

void WINAPI ServiceMain(DWORD, LPSTR *)
{
    // The stop event exists before the handler can run, so a stop or
    // shutdown that comes while the service starts is kept, not lost.
    // StartWork reports a failed creation.
    g_hServiceStopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    g_statusHandle = RegisterServiceCtrlHandlerA(HBR_SERVICE_NAME, SvcCtrlHandler);
    if (g_statusHandle == 0) {
        return;
    }
    {
        std::lock_guard<std::mutex> guard(g_statusLock);
        g_serviceStatus.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
        g_serviceStatus.dwWin32ExitCode = 0;
        g_serviceStatus.dwServiceSpecificExitCode = 0;
    }
    ReportServiceStatus(SERVICE_START_PENDING, 3000);
    CServiceStart::StartWork();
}

void WINAPI SvcCtrlHandler(DWORD control)
{
    HBR_LOG_INFO("[Infomation][SvcCtrlHandler] Receive dwCtrl(%d) Cmd", static_cast<int>(control));
    if (control != SERVICE_CONTROL_STOP && control != SERVICE_CONTROL_SHUTDOWN) {
        return;
    }
    // Both reports and the stop request under the status lock: the stop
    // sequence's STOPPED report can only follow the second report, which
    // therefore always repeats STOP_PENDING.
    std::lock_guard<std::mutex> guard(g_statusLock);
    ReportLocked(SERVICE_STOP_PENDING, 0);
    HBR_LOG_INFO("[Infomation][SvcCtrlHandler] Receive Stop Cmd");
    SetEvent(g_hServiceStopEvent);
    ReportLocked(g_serviceStatus.dwCurrentState, 0);
}

void CServiceStart::StartWork()
{
    const HANDLE stopEvent = g_hServiceStopEvent;
    if (stopEvent == nullptr) {
        ReportServiceStatus(SERVICE_STOPPED, 0);
        return;
    }
    // RUNNING only while no stop was taken: the handler reports STOP_PENDING
    // and sets the event under the status lock, so a stop that came during
    // the start goes straight to the stop sequence and RUNNING never
    // follows STOP_PENDING.
    bool stopTaken;
    {
        std::lock_guard<std::mutex> guard(g_statusLock);
        stopTaken = WaitForSingleObject(stopEvent, 0) == WAIT_OBJECT_0;
        if (!stopTaken) {
            ReportLocked(SERVICE_RUNNING, 0);
        }
    }
    if (stopTaken) {
        StopWork(FALSE);
        ReportServiceStatus(SERVICE_STOPPED, 0);
        return;
    }
    HBR_LOG_INFO("[Information][CServiceStart::StartWork] Service start, StartWork Enter  >> ");

    CStateWork *work = CStateWork::GetInstance();
    BOOL workerStarted = FALSE;
    if (!work->InitWork()) {
        HBR_LOG_ERROR("[Error][CServiceStart::StartWork] InitWork Fail.");
    } else {
        HANDLE thread = CreateThread(nullptr, 0, CStateWork::TheadWork, work, 0, nullptr);
        if (thread != nullptr) {
            work->m_hThread = thread;
            workerStarted = TRUE;
        }
        SetEvent(work->m_events[EVT_SERVICE_START]);
    }
    HBR_LOG_INFO("[Information][CServiceStart::StartWork] StartWork(%s) Done.<<  ", workerStarted ? "true" : "false");

    WaitForSingleObject(stopEvent, INFINITE);
    StopWork(workerStarted);
    ReportServiceStatus(SERVICE_STOPPED, 0);
}

void CServiceStart::StopWork(BOOL workerStarted)
{
    CStateWork *work = CStateWork::GetInstance();
    SetEvent(work->m_events[EVT_SERVICE_STOP]);
    HBR_LOG_INFO("[Infomation][CStateWork::StopWork] Wait Thread Stop");
    if (workerStarted) {
        WaitForSingleObject(work->m_hThread, INFINITE);
    }
    HBR_LOG_INFO("[Infomation][CServiceStart::StopWork] Stop work success.\r\n\r\n");
}
