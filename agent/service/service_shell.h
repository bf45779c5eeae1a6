// The service shell: service main, control handler, status reports and
// the start/stop sequence.
#ifndef HBR_AGENT_SERVICE_SHELL_H
#define HBR_AGENT_SERVICE_SHELL_H

#include <windows.h>

#define HBR_SERVICE_NAME "HollowbrightService"

// The body of main: registers the one service-table entry (the service
// name and ServiceMain) with the dispatcher; 0 when the dispatcher returns.
// Handlers must be installed (CStateWork::SetHandlers) before this call.
int RunServiceDispatcher();

void WINAPI ServiceMain(DWORD argc, LPSTR *argv);
void WINAPI SvcCtrlHandler(DWORD control);

// Reports `state` under the one status rule: controls 4 while start-pending,
// else 5; check point 0 for running and stopped, else the counter (from 1),
// then incremented. Serialised, since two threads report.
void ReportServiceStatus(DWORD state, DWORD waitHint);

class CServiceStart {
public:
    static void StartWork();
    static void StopWork(BOOL workerStarted);
};

#endif
