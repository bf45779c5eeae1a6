/*
 * Winsock 2 TCP/IP additions on the system's getaddrinfo (see <winsock2.h>).
 */
#ifndef HBR_PLATFORM_WS2TCPIP_H
#define HBR_PLATFORM_WS2TCPIP_H

#include <winsock2.h>

#include <netdb.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct addrinfo ADDRINFOA, *PADDRINFOA;

/* The text of a getaddrinfo result code. */
const char *WINAPI gai_strerrorA(int ecode);

#ifdef __cplusplus
}
#endif

#endif /* HBR_PLATFORM_WS2TCPIP_H */
