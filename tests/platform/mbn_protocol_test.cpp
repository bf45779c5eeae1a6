// The device-service socket protocol byte for byte, as docs/platform.md
// writes it: the simulator's server against hand-written frames, and the
// platform's frame decoder against the same bytes.
#include <gtest/gtest.h>

#include "device_service_server.h"
#include "mbn_frame.h"
#include "mbn_test_frames.h"
#include "test_support.h"

#include <cctype>
#include <chrono>
#include <string>

namespace {

using hbrmodemsim::DeviceServiceServer;
using hbrmodemsim::PayloadForm;
using namespace mbntest;

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
    Peer c;
    ASSERT_TRUE(c.connect(server_->socketPath()));
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
        Peer c;
        ASSERT_TRUE(c.connect(server_->socketPath()));
        c.send(bad);
        EXPECT_TRUE(c.closedByPeer());
    }
    // Trailing body bytes are ignored.
    Peer c;
    ASSERT_TRUE(c.connect(server_->socketPath()));
    c.send(Frame(0x01, 1, U32(1) + "extra"));
    EXPECT_EQ(Frame(0x81, 1, U32(0) + U32(1)), c.frame());
}

TEST_F(ServerBytes, FaultOptionsAndEventsToEveryClient)
{
    using hbrmodemsim::CompletionTiming;
    using hbrmodemsim::DeviceServiceFaults;
    Peer c, other;
    ASSERT_TRUE(c.connect(server_->socketPath()));
    ASSERT_TRUE(other.connect(server_->socketPath()));
    ASSERT_TRUE(hbrtest::WaitUntil([&] { return server_->clientCount() == 2; }, 3000));
    const std::string ids = Str("IF0") + Str(kSvc);
    // No session yet: commands are refused.
    c.send(Frame(0x08, 1, ids + U32(1) + Str("AT\r")));
    EXPECT_EQ(Frame(0x88, 1, U32(0x8007139Fu) + U32(0)), c.frame());

    DeviceServiceFaults f;
    f.sessionOpenAtStart = true;
    f.maxCommandSize = 3;
    f.setCommand.timing = CompletionTiming::Delayed;
    f.setCommand.delayMs = 300;
    f.setCommand.replaceResponseId = true;
    f.setCommand.responseId = 7;
    f.replyForm = PayloadForm::Plain;
    f.openSession.timing = CompletionTiming::Never;
    server_->setFaults(f);
    c.send(Frame(0x05, 2, ids));
    EXPECT_EQ(Frame(0x85, 2, U32(0) + U32(1)), c.frame());
    c.send(Frame(0x03, 3, Str("IF0")));
    EXPECT_EQ(Frame(0x83, 3, U32(0) + U32(3)), c.frame());
    c.send(Frame(0x08, 4, ids + U32(1) + Str("AT+X")));
    EXPECT_EQ(Frame(0x88, 4, U32(0x80070057u) + U32(0)), c.frame());
    // A delayed completion goes to both clients, after its response.
    auto sent = std::chrono::steady_clock::now();
    c.send(Frame(0x08, 5, ids + U32(1) + Str("AT\r")));
    EXPECT_EQ(Frame(0x88, 5, U32(0) + U32(1)), c.frame());
    const std::string done = Frame(0x43, 0, ids + U32(7) + U32(0) + U32(1) + Str("\r\nOK\r\n"));
    EXPECT_EQ(done, c.frame());
    EXPECT_GE(std::chrono::steady_clock::now() - sent, std::chrono::milliseconds(290));
    EXPECT_EQ(done, other.frame());
    // Never: the response alone. A removal drops a pending completion.
    c.send(Frame(0x06, 6, ids));
    EXPECT_EQ(Frame(0x86, 6, U32(0) + U32(2)), c.frame());
    f.setCommand.delayMs = 500;
    server_->setFaults(f);
    c.send(Frame(0x08, 7, ids + U32(1) + Str("AT\r")));
    EXPECT_EQ(Frame(0x88, 7, U32(0) + U32(3)), c.frame());
    server_->removeInterface();
    EXPECT_EQ(Frame(0x45, 0, Str("IF0") + U32(1)), c.frame());
    EXPECT_EQ(Frame(0x45, 0, Str("IF0") + U32(1)), other.frame());
    server_->arriveInterface();
    EXPECT_EQ(Frame(0x45, 0, Str("IF0") + U32(0)), c.frame()); // nothing came between

    // The private service can be absent.
    f.privateServiceAbsent = true;
    server_->setFaults(f);
    c.send(Frame(0x04, 8, ids));
    EXPECT_EQ(Frame(0x84, 8, U32(0x80070490u)), c.frame());
}

TEST(PayloadForms, PrefixedPlainAndNulInside)
{
    EXPECT_EQ(Bytes({3, 0, 0, 0}) + "abc", DeviceServiceServer::encodePayload("abc", PayloadForm::Prefixed));
    EXPECT_EQ("abc", DeviceServiceServer::encodePayload("abc", PayloadForm::Plain));
    EXPECT_EQ(Bytes({5, 0, 0, 0, 'a', 'b', 0, 'c', 'd'}),
              DeviceServiceServer::encodePayload("abcd", PayloadForm::NulInside));
}

// ---- the platform's side ----

using hbr::mbn::Decode;
using hbr::mbn::DecodeFrame;
using hbr::mbn::FrameWriter;
using hbr::mbn::Message;

Decode DecodeAll(const std::string &bytes, Message *m, size_t *used = nullptr)
{
    size_t dummy = 0;
    const uint8_t *p = reinterpret_cast<const uint8_t *>(bytes.data());
    return DecodeFrame(p, p + bytes.size(), m, used ? used : &dummy);
}

TEST(PlatformFrames, RequestsEncodeAsDocumented)
{
    EXPECT_EQ(Bytes({0x0C, 0, 0, 0, 0x01, 0, 0, 0, 7, 0, 0, 0, 1, 0, 0, 0}), FrameWriter().u32(1).finish(0x01, 7));
    EXPECT_EQ(Frame(0x02, 8, ""), FrameWriter().finish(0x02, 8));
    const uint8_t at[] = {'A', 'T', '\r', '\n'};
    EXPECT_EQ(Frame(0x08, 0x01020304, Str("IF0") + Str(kSvc) + U32(1) + Str("AT\r\n")),
              FrameWriter().str("IF0").str(kSvc).u32(1).bytes(at, sizeof at).finish(0x08, 0x01020304));
}

TEST(PlatformFrames, ResponsesAndEventsDecodeAsDocumented)
{
    Message m;
    size_t used = 0;
    const std::string hello = Frame(0x81, 5, U32(0x8000000Au) + U32(1));
    ASSERT_EQ(Decode::Ok, DecodeAll(hello + "next", &m, &used));
    EXPECT_EQ(hello.size(), used);
    EXPECT_EQ(0x81, m.type);
    EXPECT_EQ(5u, m.tag);
    EXPECT_EQ(static_cast<int32_t>(0x8000000Au), m.hr);
    EXPECT_EQ(1u, m.value);

    ASSERT_EQ(Decode::Ok, DecodeAll(Frame(0x82, 6, U32(0) + U32(2) + Str("A") + Str("BC")), &m));
    EXPECT_EQ((std::vector<std::string>{"A", "BC"}), m.interfaces);
    ASSERT_EQ(Decode::Ok, DecodeAll(Frame(0x84, 7, U32(0x80070490u)), &m));
    EXPECT_EQ(static_cast<int32_t>(0x80070490u), m.hr);
    for (int type : {0x83, 0x85, 0x86, 0x87, 0x88}) {
        ASSERT_EQ(Decode::Ok, DecodeAll(Frame(uint16_t(type), 9, U32(0) + U32(4096)), &m)) << type;
        EXPECT_EQ(4096u, m.value);
    }

    ASSERT_EQ(Decode::Ok, DecodeAll(Frame(0x42, 0, Str("IF") + Str("S") + U32(0x80004005u) + U32(12)), &m));
    EXPECT_EQ("IF", m.iface);
    EXPECT_EQ("S", m.service);
    EXPECT_EQ(static_cast<int32_t>(0x80004005u), m.status);
    EXPECT_EQ(12u, m.requestId);
    ASSERT_EQ(Decode::Ok,
              DecodeAll(Frame(0x43, 0, Str("IF") + Str("S") + U32(1) + U32(0) + U32(13) + Str(std::string("a\0b", 3))), &m));
    EXPECT_EQ(1u, m.responseId);
    EXPECT_EQ(13u, m.requestId);
    EXPECT_EQ(std::string("a\0b", 3), m.data);
    ASSERT_EQ(Decode::Ok, DecodeAll(Frame(0x44, 0, Str("IF") + Str("S") + U32(2) + Str("x")), &m));
    EXPECT_EQ(2u, m.eventId);
    EXPECT_EQ("x", m.data);
    ASSERT_EQ(Decode::Ok, DecodeAll(Frame(0x45, 0, Str("IF") + U32(1) + "trailing"), &m));
    EXPECT_EQ("IF", m.iface);
    EXPECT_EQ(1u, m.state);
}

TEST(PlatformFrames, PartialAndMalformedFrames)
{
    Message m;
    const std::string whole = Frame(0x45, 0, Str("IF") + U32(0));
    for (size_t n = 0; n < whole.size(); ++n) {
        EXPECT_EQ(Decode::NeedMore, DecodeAll(whole.substr(0, n), &m)) << n;
    }
    EXPECT_EQ(Decode::Malformed, DecodeAll(U32(7) + Bytes({0x45, 0, 0, 0, 0, 0, 0}), &m));
    EXPECT_EQ(Decode::Malformed, DecodeAll(U32((1u << 20) + 1), &m)); // before the body arrives
    EXPECT_EQ(Decode::Malformed, DecodeAll(Frame(0x08, 1, U32(0) + U32(0)), &m)); // a request type
    EXPECT_EQ(Decode::Malformed, DecodeAll(Frame(0x45, 0, Str("IF")), &m));       // short body
    EXPECT_EQ(Decode::Malformed, DecodeAll(Frame(0x44, 0, Str("IF") + Str("S") + U32(1) + U32(5) + "abcd"), &m));
    // A count far beyond the body ends at the body, not in a huge allocation.
    EXPECT_EQ(Decode::Malformed, DecodeAll(Frame(0x82, 1, U32(0) + U32(0xFFFFFFFFu) + Str("A")), &m));
}

} // namespace
