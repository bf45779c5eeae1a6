// Service control on Linux. StartServiceCtrlDispatcherA runs the service
// main on its own thread and takes the control signals synchronously on the
// calling thread (a signalfd; never an asynchronous handler), where it also
// calls the control handler. It sleeps without a time-out: a status report
// (which may let a kept control through) and the end of the service main
// wake it through an eventfd.
#include <windows.h>

#include "registry_store.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

struct DispatcherState {
    std::mutex lock;
    bool active = false;
    LPHANDLER_FUNCTION handler = nullptr;
    bool haveStatus = false;
    SERVICE_STATUS status = {};
    bool stoppedReported = false;
    bool mainEnded = false;
    bool pending[6] = {}; // kept controls, indexed by code 1..5
    int wakeFd = -1;      // eventfd that wakes the dispatcher
};

// Never destroyed: the service main thread may still report at exit.
DispatcherState &State()
{
    static DispatcherState *s = new DispatcherState;
    return *s;
}

const SERVICE_STATUS_HANDLE kStatusHandle = 0x48425201u;

// Called with the state locked.
void WakeDispatcher(const DispatcherState &s)
{
    uint64_t one = 1;
    if (s.wakeFd >= 0 && write(s.wakeFd, &one, sizeof(one)) < 0) {
        // a wake-up is already pending
    }
}

DWORD ControlForSignal(int sig)
{
    switch (sig) {
    case SIGTERM:
    case SIGINT:
    case SIGHUP:
        return SERVICE_CONTROL_STOP;
    case SIGUSR2:
        return SERVICE_CONTROL_SHUTDOWN;
    case SIGUSR1:
        return SERVICE_CONTROL_INTERROGATE;
    default:
        return 0;
    }
}

enum class Verdict { Deliver, Keep, Drop };

// Called with the state locked.
Verdict Judge(const DispatcherState &s, DWORD control)
{
    if (s.handler == nullptr) {
        return Verdict::Keep;
    }
    if (control == SERVICE_CONTROL_INTERROGATE) {
        return Verdict::Deliver;
    }
    DWORD state = s.haveStatus ? s.status.dwCurrentState : 0;
    if (state == SERVICE_STOP_PENDING || state == SERVICE_STOPPED) {
        return Verdict::Drop;
    }
    DWORD accepted = s.haveStatus ? s.status.dwControlsAccepted : 0;
    DWORD needed = control == SERVICE_CONTROL_STOP ? SERVICE_ACCEPT_STOP : SERVICE_ACCEPT_SHUTDOWN;
    return (accepted & needed) ? Verdict::Deliver : Verdict::Keep;
}

void Deliver(DWORD control)
{
    DispatcherState &s = State();
    LPHANDLER_FUNCTION handler = nullptr;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        switch (Judge(s, control)) {
        case Verdict::Deliver:
            handler = s.handler;
            s.pending[control] = false;
            break;
        case Verdict::Keep:
            s.pending[control] = true;
            return;
        case Verdict::Drop:
            s.pending[control] = false;
            return;
        }
    }
    handler(control);
}

// One instance per service name and registry root: an exclusive flock on
// <root>/.services/<name>.lock, held until the dispatcher returns (or the
// process ends, a crash included). Answers the descriptor, -1 when no lock
// file can be made (nothing to share then), or -2 when another process
// holds the lock.
int LockServiceInstance(const char *name)
{
    std::string dir = hbr::RegistryRootDir();
    mkdir(dir.c_str(), 0755);
    dir += "/.services";
    mkdir(dir.c_str(), 0755);
    std::string file = dir + "/";
    for (const char *p = name; p != nullptr && *p != '\0'; ++p) {
        file += *p == '/' ? '_' : *p;
    }
    file += ".lock";
    int fd = open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        return -1;
    }
    while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EINTR) {
            int err = errno;
            close(fd);
            return err == EWOULDBLOCK ? -2 : -1;
        }
    }
    return fd;
}

} // namespace

extern "C" BOOL WINAPI StartServiceCtrlDispatcherA(const SERVICE_TABLE_ENTRYA *table)
{
    if (table == nullptr || table[0].lpServiceProc == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DispatcherState &s = State();
    {
        std::lock_guard<std::mutex> guard(s.lock);
        if (s.active) {
            SetLastError(ERROR_SERVICE_ALREADY_RUNNING);
            return FALSE;
        }
        s.active = true;
        s.handler = nullptr;
        s.haveStatus = false;
        s.status = SERVICE_STATUS{};
        s.stoppedReported = false;
        s.mainEnded = false;
        for (bool &p : s.pending) {
            p = false;
        }
    }

    int instanceLock = LockServiceInstance(table[0].lpServiceName);
    if (instanceLock == -2) {
        std::fprintf(stderr, "StartServiceCtrlDispatcher: an instance of the service %s is already running (error %u)\n",
                     table[0].lpServiceName != nullptr ? table[0].lpServiceName : "", 1056u);
        std::fflush(stderr);
        std::lock_guard<std::mutex> guard(s.lock);
        s.active = false;
        SetLastError(ERROR_SERVICE_ALREADY_RUNNING);
        return FALSE;
    }

    // A reader of stderr that went away must not end the service mid-stop:
    // writes to a closed pipe fail with EPIPE instead, and are dropped.
    signal(SIGPIPE, SIG_IGN);

    // Block the control signals here; every thread started later inherits
    // the mask, so they reach only the signalfd below.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    sigaddset(&set, SIGUSR1);
    sigaddset(&set, SIGUSR2);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    int signalFd = signalfd(-1, &set, SFD_CLOEXEC);
    int wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (signalFd < 0 || wakeFd < 0) {
        if (signalFd >= 0) close(signalFd);
        if (wakeFd >= 0) close(wakeFd);
        if (instanceLock >= 0) close(instanceLock);
        std::lock_guard<std::mutex> guard(s.lock);
        s.active = false;
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    {
        std::lock_guard<std::mutex> guard(s.lock);
        s.wakeFd = wakeFd;
    }

    LPSERVICE_MAIN_FUNCTIONA serviceMain = table[0].lpServiceProc;
    LPSTR name = table[0].lpServiceName;
    std::thread mainThread([serviceMain, name] {
        LPSTR argv[2] = {name, nullptr};
        serviceMain(1, argv);
        DispatcherState &st = State();
        std::lock_guard<std::mutex> guard(st.lock);
        st.mainEnded = true;
        WakeDispatcher(st);
    });

    for (;;) {
        struct pollfd fds[2] = {{signalFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        if (poll(fds, 2, -1) > 0) {
            struct signalfd_siginfo info;
            if ((fds[0].revents & POLLIN) && read(signalFd, &info, sizeof(info)) == sizeof(info)) {
                DWORD control = ControlForSignal(static_cast<int>(info.ssi_signo));
                if (control != 0) {
                    Deliver(control);
                }
            }
            uint64_t count = 0;
            if ((fds[1].revents & POLLIN) && read(wakeFd, &count, sizeof(count)) < 0) {
                // nothing pending
            }
        }
        // Controls kept earlier, now perhaps accepted.
        for (DWORD control = 1; control <= SERVICE_CONTROL_SHUTDOWN; ++control) {
            bool kept;
            {
                std::lock_guard<std::mutex> guard(s.lock);
                kept = s.pending[control];
            }
            if (kept) {
                Deliver(control);
            }
        }
        std::lock_guard<std::mutex> guard(s.lock);
        if (s.mainEnded && (s.stoppedReported || s.handler == nullptr)) {
            break;
        }
    }
    mainThread.join();
    close(signalFd);
    if (instanceLock >= 0) {
        close(instanceLock); // releases the lock
    }
    std::lock_guard<std::mutex> guard(s.lock);
    s.wakeFd = -1;
    close(wakeFd);
    s.active = false;
    s.handler = nullptr;
    return TRUE;
}

extern "C" SERVICE_STATUS_HANDLE WINAPI RegisterServiceCtrlHandlerA(LPCSTR, LPHANDLER_FUNCTION lpHandlerProc)
{
    DispatcherState &s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    if (!s.active) {
        SetLastError(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
        return 0;
    }
    if (lpHandlerProc == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    s.handler = lpHandlerProc;
    return kStatusHandle;
}

extern "C" BOOL WINAPI SetServiceStatus(SERVICE_STATUS_HANDLE hServiceStatus, LPSERVICE_STATUS lpServiceStatus)
{
    if (hServiceStatus != kStatusHandle) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (lpServiceStatus == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DispatcherState &s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    s.status = *lpServiceStatus;
    s.haveStatus = true;
    if (lpServiceStatus->dwCurrentState == SERVICE_STOPPED) {
        s.stoppedReported = true;
    }
    WakeDispatcher(s);
    std::fprintf(stderr, "SetServiceStatus state=%u controls=%u checkpoint=%u waithint=%u\n",
                 static_cast<unsigned>(lpServiceStatus->dwCurrentState),
                 static_cast<unsigned>(lpServiceStatus->dwControlsAccepted),
                 static_cast<unsigned>(lpServiceStatus->dwCheckPoint),
                 static_cast<unsigned>(lpServiceStatus->dwWaitHint));
    std::fflush(stderr);
    return TRUE;
}
