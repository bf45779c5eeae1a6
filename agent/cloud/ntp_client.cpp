#include "ntp_client.h"

#include "deployment.h"

#include <clog.h>

#include <ws2tcpip.h>

#include <cstdlib>
#include <cstring>

namespace {
const size_t kNtpPacketSize = 48;
const int64_t kNtpToUnixSeconds = 2208988800LL;
const long kReplyWaitSeconds = 10; // a wait time-out, never scaled
const int kServerMode = 4;
const int kMaxStratum = 15;
const int kLeapUnsynchronised = 3;
// 2024-01-01 00:00 UTC in seconds since 1900: no sane server says earlier.
const uint32_t kEarliestTransmitSeconds = 3913056000u;
}

void SelectNtpServer(const char *override, const char *deploymentHost, int deploymentPort, std::string *host,
                     std::string *service)
{
    if (override != nullptr && *override != '\0') {
        const std::string text = override;
        size_t colon = text.rfind(':');
        if (colon != std::string::npos) {
            *host = text.substr(0, colon);
            *service = text.substr(colon + 1);
            return;
        }
        *host = text;
    } else {
        *host = deploymentHost;
    }
    *service = std::to_string(deploymentPort);
}

SOCKET ConnectNtpServer()
{
    std::string host;
    std::string service;
    SelectNtpServer(std::getenv("HBR_NTP_SERVER"), DeploymentNtpHost(), DeploymentNtpPort(), &host, &service);

    ADDRINFOA hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_protocol = IPPROTO_UDP;
    PADDRINFOA result = nullptr;
    int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &result);
    if (rc != 0) {
        HBR_LOG_INFO("getaddrinfo: %s", gai_strerrorA(rc));
        return INVALID_SOCKET;
    }
    for (PADDRINFOA ai = result; ai != nullptr; ai = ai->ai_next) {
        int fd = socket(ai->ai_family, ai->ai_socktype, ai->ai_protocol);
        if (fd < 0) {
            HBR_LOG_INFO("Could not create socket : %d", WSAGetLastError());
            continue;
        }
        SOCKET s = static_cast<SOCKET>(fd);
        if (connect(fd, ai->ai_addr, static_cast<socklen_t>(ai->ai_addrlen)) == 0) {
            freeaddrinfo(result);
            return s;
        }
        closesocket(s);
    }
    freeaddrinfo(result);
    HBR_LOG_INFO("Unable to connect to server!");
    return INVALID_SOCKET;
}

int64_t NtpReplyUtcTime(const unsigned char *packet, size_t length)
{
    if (length < kNtpPacketSize) {
        HBR_LOG_INFO("NTP reply too short: %d bytes", static_cast<int>(length));
        return -1;
    }
    const int leap = packet[0] >> 6;
    const int mode = packet[0] & 0x07;
    const int stratum = packet[1];
    if (mode != kServerMode) {
        HBR_LOG_INFO("NTP reply not from a server: mode %d", mode);
        return -1;
    }
    if (stratum == 0 || stratum > kMaxStratum) {
        HBR_LOG_INFO("NTP reply stratum out of range: %d", stratum);
        return -1;
    }
    if (leap == kLeapUnsynchronised) {
        HBR_LOG_INFO("NTP reply from an unsynchronised server: leap indicator %d", leap);
        return -1;
    }
    uint32_t seconds;
    std::memcpy(&seconds, packet + 40, sizeof seconds);
    seconds = ntohl(seconds);
    if (seconds == 0) {
        HBR_LOG_INFO("NTP reply has no transmit time.");
        return -1;
    }
    if (seconds < kEarliestTransmitSeconds) {
        HBR_LOG_INFO("NTP reply transmit time before 2024: %u", seconds);
        return -1;
    }
    int64_t result = static_cast<int64_t>(seconds) - kNtpToUnixSeconds;
    HBR_LOG_INFO("UTC time: %lld", static_cast<long long>(result));
    return result;
}

int64_t GetNtpUtcTime()
{
    unsigned char packet[kNtpPacketSize] = {0};
    packet[0] = 0x1B; // LI 0, version 3, client mode
    WSADATA wsaData;
    WSAStartup(MAKEWORD(2, 2), &wsaData);

    int64_t result = -1;
    SOCKET s = ConnectNtpServer();
    if (s != INVALID_SOCKET) {
        const int fd = static_cast<int>(s);
        if (send(fd, reinterpret_cast<const char *>(packet), kNtpPacketSize, 0) == SOCKET_ERROR) {
            HBR_LOG_INFO("sendto failed with error: %d", WSAGetLastError());
        } else {
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(fd, &readable);
            struct timeval wait = {kReplyWaitSeconds, 0};
            int ready = select(fd + 1, &readable, nullptr, nullptr, &wait);
            if (ready == 0) {
                HBR_LOG_INFO("NTP request timed out.");
            } else if (ready < 0) {
                HBR_LOG_INFO("Error during select: %d", WSAGetLastError());
            } else {
                struct sockaddr_in from;
                socklen_t fromLen = sizeof from;
                ssize_t n = recvfrom(fd, reinterpret_cast<char *>(packet), kNtpPacketSize, 0,
                                     reinterpret_cast<struct sockaddr *>(&from), &fromLen);
                if (n == SOCKET_ERROR) {
                    HBR_LOG_INFO("recvfrom failed with error: %d", WSAGetLastError());
                } else {
                    result = NtpReplyUtcTime(packet, static_cast<size_t>(n));
                }
            }
        }
        closesocket(s);
    }
    WSACleanup();
    return result;
}
