// The device-service socket protocol byte for byte, as docs/platform.md
// writes it: the simulator's server against hand-written frames, and the
// platform's frame decoder against the same bytes.
#include <gtest/gtest.h>

#include "device_service_server.h"
#include "test_support.h"

#include <chrono>
#include <string>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using hbrmodemsim::DeviceServiceServer;
using hbrmodemsim::PayloadForm;

std::string Bytes(std::initializer_list<int> b)
{
    std::string s;
    for (int v : b) {
        s.push_back(static_cast<char>(v));
    }
    return s;
}

std::string U32(uint32_t v) { return Bytes({int(v & 0xFF), int((v >> 8) & 0xFF), int((v >> 16) & 0xFF), int(v >> 24)}); }
std::string Str(const std::string &s) { return U32(static_cast<uint32_t>(s.size())) + s; }
// A whole frame: length, type, flags 0, tag, body.
std::string Frame(uint16_t type, uint32_t tag, const std::string &body)
{
    return U32(static_cast<uint32_t>(8 + body.size())) + Bytes({type & 0xFF, type >> 8, 0, 0}) + U32(tag) + body;
}

// A bare socket client that reads whole frames.
class RawClient {
public:
    explicit RawClient(const std::string &path)
    {
        fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::snprintf(a.sun_path, sizeof a.sun_path, "%s", path.c_str());
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    }
    ~RawClient() { ::close(fd_); }
    bool connected() const { return connected_; }
    void send(const std::string &b) { ASSERT_EQ(ssize_t(b.size()), ::send(fd_, b.data(), b.size(), MSG_NOSIGNAL)); }
    // The next frame, or "" after 3 s or at the end of the stream.
    std::string frame()
    {
        std::string head = read(4);
        if (head.size() < 4) {
            return std::string();
        }
        uint32_t len = uint32_t(uint8_t(head[0])) | uint32_t(uint8_t(head[1])) << 8 |
                       uint32_t(uint8_t(head[2])) << 16 | uint32_t(uint8_t(head[3])) << 24;
        return head + read(len);
    }
    // True when the server closed the connection within 3 s.
    bool closedByPeer()
    {
        pollfd p{fd_, POLLIN, 0};
        char c;
        return ::poll(&p, 1, 3000) == 1 && ::recv(fd_, &c, 1, 0) == 0;
    }

private:
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
    int fd_ = -1;
    bool connected_ = false;
};

class ServerBytes : public ::testing::Test {
protected:
    void SetUp() override
    {
        server_.reset(new DeviceServiceServer(dir_ / "mbn.sock", [this](const std::string &cmd) {
            commands_.push_back(cmd);
            return std::string("\r\nOK\r\n");
        }, "IF0"));
        ASSERT_TRUE(server_->start());
    }
    hbrtest::TempDir dir_;
    std::vector<std::string> commands_;
    std::unique_ptr<DeviceServiceServer> server_;
};

const std::string kSvc = hbrmodemsim::kPrivateServiceId;

TEST_F(ServerBytes, RequestsAndResponsesAsDocumented)
{
    RawClient c(server_->socketPath());
    ASSERT_TRUE(c.connected());
    c.send(Frame(0x01, 1, U32(1)));
    EXPECT_EQ(Bytes({0x10, 0, 0, 0, 0x81, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0}), c.frame());
    c.send(Frame(0x02, 2, ""));
    EXPECT_EQ(Frame(0x82, 2, U32(0) + U32(1) + Str("IF0")), c.frame());
    c.send(Frame(0x03, 3, Str("IF0")));
    EXPECT_EQ(Frame(0x83, 3, U32(0) + U32(4096)), c.frame());
    // Service ids compare without regard to case; an unknown one is not found.
    std::string lower = kSvc;
    for (char &ch : lower) ch = char(std::tolower(ch));
    c.send(Frame(0x04, 4, Str("IF0") + Str(lower)));
    EXPECT_EQ(Frame(0x84, 4, U32(0)), c.frame());
    c.send(Frame(0x04, 5, Str("IF0") + Str("{00000000-0000-0000-0000-000000000000}")));
    EXPECT_EQ(Frame(0x84, 5, U32(0x80070490u)), c.frame());
    c.send(Frame(0x05, 6, Str("IF0") + Str(kSvc)));
    EXPECT_EQ(Frame(0x85, 6, U32(0) + U32(0)), c.frame());
    // Session open: response with the module's request id, then the completion.
    c.send(Frame(0x06, 7, Str("IF0") + Str(kSvc)));
    EXPECT_EQ(Frame(0x86, 7, U32(0) + U32(1)), c.frame());
    EXPECT_EQ(Frame(0x41, 0, Str("IF0") + Str(kSvc) + U32(0) + U32(1)), c.frame());
    // An AT command: the text goes to the module unchanged; the reply comes
    // back prefixed, response id 1.
    c.send(Frame(0x08, 8, Str("IF0") + Str(kSvc) + U32(1) + Str("AT\r")));
    EXPECT_EQ(Frame(0x88, 8, U32(0) + U32(2)), c.frame());
    EXPECT_EQ(Frame(0x43, 0, Str("IF0") + Str(kSvc) + U32(1) + U32(0) + U32(2) + Str(Str("\r\nOK\r\n"))),
              c.frame());
    EXPECT_EQ(std::vector<std::string>{"AT\r"}, commands_);
    c.send(Frame(0x07, 9, Str("IF0") + Str(kSvc)));
    EXPECT_EQ(Frame(0x87, 9, U32(0) + U32(3)), c.frame());
    EXPECT_EQ(Frame(0x42, 0, Str("IF0") + Str(kSvc) + U32(0) + U32(3)), c.frame());
    // Events: notification and interface state.
    server_->notify(2, "hi", PayloadForm::Plain);
    EXPECT_EQ(Frame(0x44, 0, Str("IF0") + Str(kSvc) + U32(2) + Str("hi")), c.frame());
    server_->removeInterface();
    EXPECT_EQ(Frame(0x45, 0, Str("IF0") + U32(1)), c.frame());
    c.send(Frame(0x03, 10, Str("IF0")));
    EXPECT_EQ(Frame(0x83, 10, U32(0x80070490u) + U32(0)), c.frame());
}

TEST_F(ServerBytes, MalformedFramesCloseTheConnection)
{
    const std::string cases[] = {
        Frame(0x09, 1, ""),                         // unknown type
        Frame(0x03, 1, U32(10) + "IF"),             // string runs past the body
        U32(7) + Bytes({1, 0, 0, 0, 1, 0, 0}),      // length below 8
        U32((1u << 20) + 1),                         // length above 1 MiB
    };
    for (const std::string &bad : cases) {
        RawClient c(server_->socketPath());
        ASSERT_TRUE(c.connected());
        c.send(bad);
        EXPECT_TRUE(c.closedByPeer());
    }
    // Trailing body bytes are ignored.
    RawClient c(server_->socketPath());
    c.send(Frame(0x01, 1, U32(1) + "extra"));
    EXPECT_EQ(Frame(0x81, 1, U32(0) + U32(1)), c.frame());
}

TEST(PayloadForms, PrefixedPlainAndNulInside)
{
    EXPECT_EQ(Bytes({3, 0, 0, 0}) + "abc", DeviceServiceServer::encodePayload("abc", PayloadForm::Prefixed));
    EXPECT_EQ("abc", DeviceServiceServer::encodePayload("abc", PayloadForm::Plain));
    EXPECT_EQ(Bytes({5, 0, 0, 0, 'a', 'b', 0, 'c', 'd'}),
              DeviceServiceServer::encodePayload("abcd", PayloadForm::NulInside));
}

} // namespace
