// SNTP client: the signing time of the operation-code request.
#ifndef HBR_AGENT_CLOUD_NTP_CLIENT_H
#define HBR_AGENT_CLOUD_NTP_CLIENT_H

#include <winsock2.h>

#include <cstddef>
#include <cstdint>
#include <string>

// Unix seconds from one SNTP exchange, or -1.
int64_t GetNtpUtcTime();

// Unix seconds from an SNTP reply's transmit time, or -1 for a reply
// shorter than 48 bytes, not in server mode, of stratum 0 or above 15, with
// leap indicator 3 (unsynchronised), or whose transmit time is missing or
// before 2024-01-01 00:00 UTC.
int64_t NtpReplyUtcTime(const unsigned char *packet, size_t length);

// A UDP socket connected to the NTP server, or INVALID_SOCKET.
SOCKET ConnectNtpServer();

// The NTP server to ask: HBR_NTP_SERVER's text ("host" or "host:port", the
// text after the last ':' being the service) when set and not empty, else
// the deployment's host and port.
void SelectNtpServer(const char *override, const char *deploymentHost, int deploymentPort, std::string *host,
                     std::string *service);

#endif
