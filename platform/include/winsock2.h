/*
 * Winsock 2 on BSD sockets. What Winsock shares with BSD sockets stays the
 * system's own: socket, connect, send, recv, recvfrom, select, getaddrinfo,
 * freeaddrinfo, ntohl, fd_set and FD_SET come from the system headers.
 * The platform library adds only what is Winsock's own.
 *
 * Differences from Windows worth knowing:
 * - WSAGetLastError answers errno as it is (ECONNREFUSED, not
 *   WSAECONNREFUSED); callers only log it.
 * - select's first argument matters here: pass the highest descriptor + 1
 *   (Winsock ignores it, so that form is valid on both).
 * - recvfrom's address length is a socklen_t.
 */
#ifndef HBR_PLATFORM_WINSOCK2_H
#define HBR_PLATFORM_WINSOCK2_H

#include <windows.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef UINT_PTR SOCKET;
#define INVALID_SOCKET ((SOCKET)~0)
#define SOCKET_ERROR (-1)

#define WSADESCRIPTION_LEN 256
#define WSASYS_STATUS_LEN 128
#define WSANOTINITIALISED 10093

#ifndef MAKEWORD
#define MAKEWORD(low, high) ((WORD)(((BYTE)((low) & 0xff)) | ((WORD)((BYTE)((high) & 0xff))) << 8))
#endif

typedef struct WSAData {
    WORD wVersion;
    WORD wHighVersion;
    unsigned short iMaxSockets;
    unsigned short iMaxUdpDg;
    char *lpVendorInfo;
    char szDescription[WSADESCRIPTION_LEN + 1];
    char szSystemStatus[WSASYS_STATUS_LEN + 1];
} WSADATA, *LPWSADATA;

/* Reference-counted: every successful WSAStartup needs one WSACleanup.
 * Startup reports version 2.2; a cleanup without a startup answers
 * SOCKET_ERROR with WSANOTINITIALISED as the last socket error. */
int WINAPI WSAStartup(WORD wVersionRequested, LPWSADATA lpWSAData);
int WINAPI WSACleanup(void);
/* errno, untranslated (see above). */
int WINAPI WSAGetLastError(void);
int WINAPI closesocket(SOCKET s);

#ifdef __cplusplus
}
#endif

#endif /* HBR_PLATFORM_WINSOCK2_H */
