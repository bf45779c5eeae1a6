// Hand-written device-service frames and a bare socket peer, for the tests
// of the protocol and of the platform's client.
#ifndef HBR_TEST_MBN_TEST_FRAMES_H
#define HBR_TEST_MBN_TEST_FRAMES_H

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace mbntest {

inline std::string Bytes(std::initializer_list<int> b)
{
    std::string s;
    for (int v : b) {
        s.push_back(static_cast<char>(v));
    }
    return s;
}

inline std::string U32(uint32_t v)
{
    return Bytes({int(v & 0xFF), int((v >> 8) & 0xFF), int((v >> 16) & 0xFF), int(v >> 24)});
}

inline std::string Str(const std::string &s) { return U32(static_cast<uint32_t>(s.size())) + s; }

// A whole frame: length, type, flags 0, tag, body.
inline std::string Frame(uint16_t type, uint32_t tag, const std::string &body)
{
    return U32(static_cast<uint32_t>(8 + body.size())) + Bytes({type & 0xFF, type >> 8, 0, 0}) + U32(tag) + body;
}

inline uint32_t ReadU32(const std::string &s, size_t at)
{
    return uint32_t(uint8_t(s[at])) | uint32_t(uint8_t(s[at + 1])) << 8 | uint32_t(uint8_t(s[at + 2])) << 16 |
           uint32_t(uint8_t(s[at + 3])) << 24;
}

// One end of a connection that reads whole frames.
class Peer {
public:
    explicit Peer(int fd = -1) : fd_(fd) {}
    ~Peer()
    {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Peer(const Peer &) = delete;
    Peer &operator=(const Peer &) = delete;
    // Connects to a listening path.
    bool connect(const std::string &path)
    {
        fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::snprintf(a.sun_path, sizeof a.sun_path, "%s", path.c_str());
        return ::connect(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    }
    int fd() const { return fd_; }
    bool send(const std::string &b) { return ::send(fd_, b.data(), b.size(), MSG_NOSIGNAL) == ssize_t(b.size()); }
    // The next frame, or "" after 3 s or at the end of the stream.
    std::string frame()
    {
        std::string head = read(4);
        return head.size() < 4 ? std::string() : head + read(ReadU32(head, 0));
    }
    // True when the other end closed the connection within 3 s.
    bool closedByPeer()
    {
        pollfd p{fd_, POLLIN, 0};
        char c;
        return ::poll(&p, 1, 3000) == 1 && ::recv(fd_, &c, 1, 0) == 0;
    }
    std::string read(size_t n)
    {
        std::string out;
        while (out.size() < n) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 3000) != 1) {
                break;
            }
            char buf[4096];
            ssize_t got = ::recv(fd_, buf, std::min(sizeof buf, n - out.size()), 0);
            if (got <= 0) {
                break;
            }
            out.append(buf, size_t(got));
        }
        return out;
    }

private:
    int fd_;
};

} // namespace mbntest

#endif
