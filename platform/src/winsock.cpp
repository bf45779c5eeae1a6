// Winsock's own calls on BSD sockets: start-up reference count, last socket
// error, closesocket and gai_strerrorA.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <hbr_platform_fault.h>

#include <cerrno>
#include <cstring>
#include <mutex>

namespace {
std::mutex g_wsaLock;
long g_wsaCount = 0;
}

extern "C" int WINAPI WSAStartup(WORD wVersionRequested, LPWSADATA lpWSAData)
{
    (void)wVersionRequested;
    if (lpWSAData == nullptr) {
        errno = EFAULT;
        return EFAULT;
    }
    std::memset(lpWSAData, 0, sizeof *lpWSAData);
    lpWSAData->wVersion = MAKEWORD(2, 2);
    lpWSAData->wHighVersion = MAKEWORD(2, 2);
    std::strcpy(lpWSAData->szDescription, "WinSock 2.0");
    std::strcpy(lpWSAData->szSystemStatus, "Running");
    std::lock_guard<std::mutex> hold(g_wsaLock);
    ++g_wsaCount;
    return 0;
}

extern "C" int WINAPI WSACleanup(void)
{
    std::lock_guard<std::mutex> hold(g_wsaLock);
    if (g_wsaCount <= 0) {
        errno = WSANOTINITIALISED;
        return SOCKET_ERROR;
    }
    --g_wsaCount;
    return 0;
}

extern "C" int WINAPI WSAGetLastError(void)
{
    return errno;
}

extern "C" int WINAPI closesocket(SOCKET s)
{
    return close(static_cast<int>(s));
}

extern "C" const char *WINAPI gai_strerrorA(int ecode)
{
    return gai_strerror(ecode);
}

extern "C" long hbrWsaStartupCount(void)
{
    std::lock_guard<std::mutex> hold(g_wsaLock);
    return g_wsaCount;
}
