// The COM port channel over a pty: finding and opening the port, its
// settings, writes, replies that end at their final result code, after two
// seconds of silence or ten seconds in all, stale input, and a lost port.
#include "channel_fixture.h"

#include "at_channel.h"
#include "module_commands.h"
#include "pty_link.h"

#include <bootstrap.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

const char kPortId[] = "USB\\VID_5E1A&PID_0718&REV_0001&MI_02";

class ComPort : public ChannelTest {
protected:
    void SetUp() override
    {
        ChannelTest::SetUp();
        work_->m_atOverChannelType = AT_OVER_COM_CHANNEL;
        std::snprintf(work_->m_atComHardwareId, sizeof work_->m_atComHardwareId, "%s", kPortId);
    }
    void TearDown() override
    {
        port_->Close();
        link_.stop();
        ChannelTest::TearDown();
    }
    // The module's port `tty`, answering each command with `reply`.
    void StartPort(const std::string &tty, const std::string &reply = "")
    {
        std::string error;
        ASSERT_TRUE(link_.start(DevRoot(), tty, [this, reply](const std::string &command) {
            {
                std::lock_guard<std::mutex> guard(lock_);
                commands_.push_back(command);
            }
            if (!reply.empty()) link_.write(reply);
        }, &error)) << error;
    }
    std::vector<std::string> Commands()
    {
        std::lock_guard<std::mutex> guard(lock_);
        return commands_;
    }
    std::string Receive(size_t capacity = 1024)
    {
        std::string buffer(capacity, '\0');
        size_t length = 0;
        EXPECT_TRUE(ReceiveAtResponse(&buffer[0], capacity, &length, 0));
        return buffer.substr(0, length);
    }

    hbrmodemsim::PtyLink link_;
    std::mutex lock_;
    std::vector<std::string> commands_;
};

TEST_F(ComPort, BringUpOpensTheLastMatchingPortRawAt9600)
{
    AddUsb("1-1", {"5e1a", "0718"}, "", "ttyA"); // no device node: opening it would fail
    AddUsb("1-2", {"5e1a", "0718"}, "", "ttyB");
    StartPort("ttyB", "\r\nOK\r\n");
    ASSERT_TRUE(work_->CreateAtChannelTimer());
    work_->AtChannelMonitorEvtFunc();
    EXPECT_EQ(0, work_->m_atChannelTimerActive.load());
    EXPECT_EQ(0, work_->m_mbbInterfaceRemoved.load());
    EXPECT_EQ(2, work_->m_platType.load());
    EXPECT_NE(INVALID_HANDLE_VALUE, port_->m_hComm);
    EXPECT_TRUE(Logged("[Error][CComPortChannelHelper::Init]PortName-ttyB"));

    int slave = open(link_.slavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave, 0);
    termios t;
    ASSERT_EQ(0, tcgetattr(slave, &t));
    close(slave);
    EXPECT_EQ(static_cast<speed_t>(B9600), cfgetospeed(&t));
    EXPECT_EQ(0u, t.c_oflag & OPOST);
    EXPECT_EQ(0u, t.c_lflag & (ICANON | ECHO));

    uint32_t id = 77;
    ASSERT_TRUE(SendATCmd("AT+GTPCTPOC=6\r\n", 15, &id));
    EXPECT_EQ(0u, id);
    EXPECT_EQ("\r\nOK\r\n", Receive());
    EXPECT_EQ(std::vector<std::string>{"AT+GTPCTPOC=6\r\n"}, Commands());
}

TEST_F(ComPort, NoMatchingPortOrNoNodeLeavesTheTimerRunning)
{
    AddUsb("1-1", {"5e1a", "0718"}, "", "ttyA");
    ASSERT_TRUE(work_->CreateAtChannelTimer());
    std::snprintf(work_->m_atComHardwareId, sizeof work_->m_atComHardwareId, "%s", "USB\\VID_5E1A&PID_0718");
    work_->AtChannelMonitorEvtFunc();
    EXPECT_TRUE(Logged("[AtChannelMonitorEvtFunc] CheckAtComPortIsExist fail(USB\\VID_5E1A&PID_0718)"));
    EXPECT_EQ(-1, work_->m_platType.load());
    std::snprintf(work_->m_atComHardwareId, sizeof work_->m_atComHardwareId, "%s", kPortId);
    work_->AtChannelMonitorEvtFunc();
    EXPECT_TRUE(Logged("[AtChannelMonitorEvtFunc] ComPortInit fail(80004005)"));
    EXPECT_EQ(2, work_->m_platType.load());
    EXPECT_EQ(1, work_->m_atChannelTimerActive.load());
    EXPECT_EQ(INVALID_HANDLE_VALUE, port_->m_hComm);
    // A friendly name without parentheses gives no port name.
    const char name[] = "AT Port";
    hbrFaultSetupDiPropertyValue("ttyA", SPDRP_FRIENDLYNAME, REG_SZ, name, sizeof name);
    EXPECT_EQ(E_FAIL, port_->Init(kPortId));
    EXPECT_TRUE(Logged("FirendlyName-AT Port"));
}

TEST_F(ComPort, ARepliesEndsAfterTwoSecondsOfSilence)
{
    AddUsb("1-1", {"5e1a", "0718"}, "", "ttyHBR0");
    StartPort("ttyHBR0");
    ASSERT_EQ(S_OK, port_->Init(kPortId));
    std::thread writer([this] {
        auto t0 = std::chrono::steady_clock::now();
        link_.write("\r\n+GTPC");
        std::this_thread::sleep_until(t0 + std::chrono::milliseconds(150));
        link_.write("TPOC: 0,2\r\n");
        std::this_thread::sleep_until(t0 + std::chrono::milliseconds(3500));
        link_.write("\r\nOK\r\n");
    });
    EXPECT_EQ("\r\n+GTPCTPOC: 0,2\r\n", Receive());
    EXPECT_EQ("\r\nOK\r\n", Receive());
    writer.join();

    // A reply longer than the buffer: the rest comes with the next read.
    link_.write(std::string(1500, 'x'));
    EXPECT_EQ(1024u, Receive().size());
    EXPECT_EQ(476u, Receive().size());
}

TEST_F(ComPort, AClosedPortRefusesAndLeavesTheOutputsAlone)
{
    uint32_t id = 5;
    EXPECT_FALSE(SendATCmd("AT\r", 3, &id));
    EXPECT_EQ(0u, id);
    char buffer[4] = {'a', 'b', 'c', 0};
    size_t length = 99;
    EXPECT_FALSE(ReceiveAtResponse(buffer, 3, &length, 0));
    EXPECT_EQ(99u, length);
    EXPECT_EQ(std::string("abc"), buffer);
}

TEST_F(ComPort, TheWriteLineMasksAnApnPassword)
{
    AddUsb("1-1", {"5e1a", "0718"}, "", "ttyHBR0");
    StartPort("ttyHBR0");
    ASSERT_EQ(S_OK, port_->Init(kPortId));
    std::string apn = "AT+GTPCTPOC=4,\"internet\",1,0,0,1,\"user\",\"verysecret1\"\r\n";
    uint32_t id = 0;
    ASSERT_TRUE(SendATCmd(apn.data(), static_cast<uint32_t>(apn.size()), &id));
    ASSERT_TRUE(hbrtest::WaitUntil([&] { return Commands().size() == 1; }, 5000));
    EXPECT_EQ(apn, Commands()[0]);
    std::string log = hbrtest::ReadFile(log_->LogPath());
    EXPECT_EQ(std::string::npos, log.find("verysecret1"));
    EXPECT_TRUE(Logged("WriteFile success(AT+GTPCTPOC=4,\"internet\",1,0,0,1,\"user\",\"very***\""));
}

TEST(FinalResultCode, OnlyAWholeLineEndsAReply)
{
    for (const char *text : {"\r\nOK\r\n", "OK\r\n", "\r\n+CREG: 1\r\n\r\nERROR\r\n", "AT\r\r\nOK\r\n",
                             "\r\n+CME ERROR: 10\r\n", "\r\n+CMS ERROR: 500\r\n+CREG: 1\r\n"}) {
        EXPECT_TRUE(HoldsFinalResultCode(text, std::strlen(text))) << text;
    }
    for (const char *text : {"", "\r\nOK", "\r\nOK\r", "\r\nOK\n", "\r\nOKAY\r\n", "\r\n OK\r\n",
                             "\r\n+CME ERROR 10\r\n", "AT\rOK\r\n", "\r\n+CGLA: 4,\"ERROR\"\r\n"}) {
        EXPECT_FALSE(HoldsFinalResultCode(text, std::strlen(text))) << text;
    }
}

// A reply ends at its final result code, with the unsolicited lines of its
// burst; a port that is never silent ends the read ten seconds after the call.
TEST_F(ComPort, AReplyEndsAtItsFinalResultCodeOrAfterTenSeconds)
{
    AddUsb("1-1", {"5e1a", "0718"}, "", "ttyHBR0");
    StartPort("ttyHBR0");
    ASSERT_EQ(S_OK, port_->Init(kPortId));
    const std::string reply = "\r\n+CREG: 1\r\n\r\n+CGLA: 4,\"9000\"\r\n\r\nOK\r\n";
    link_.write(reply);
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(reply, Receive());
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(2000));

    std::atomic<bool> done{false};
    std::thread chatter([&] {
        while (!done) {
            link_.write("\r\n+CREG: 1\r\n");
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        }
    });
    t0 = std::chrono::steady_clock::now();
    const std::string noise = Receive(16384);
    const auto took = std::chrono::steady_clock::now() - t0;
    done = true;
    chatter.join();
    EXPECT_GE(took, std::chrono::milliseconds(10000));
    EXPECT_LT(took, std::chrono::milliseconds(12000));
    EXPECT_GE(noise.size(), 12u * 25);
}

// What waits before a command is dropped (a late reply, a line of the
// module's own); a restart among it starts the next reply.
TEST_F(ComPort, StaleInputIsDroppedBeforeACommandButARestartIsKept)
{
    AddUsb("1-1", {"5e1a", "0718"}, "", "ttyHBR0");
    StartPort("ttyHBR0", "\r\nOK\r\n");
    ASSERT_EQ(S_OK, port_->Init(kPortId));
    const std::string stale = "\r\n+CGLA: 4,\"9000\"\r\n\r\nOK\r\n\r\n^SYSSTART\r\n";
    link_.write(stale);
    DWORD errors = 0;
    COMSTAT status = {};
    ASSERT_TRUE(hbrtest::WaitUntil(
        [&] { return ClearCommError(port_->m_hComm, &errors, &status) && status.cbInQue == stale.size(); }, 5000));
    uint32_t id = 0;
    ASSERT_TRUE(SendATCmd("AT\r\n", 4, &id));
    EXPECT_EQ("^SYSSTART\r\n\r\nOK\r\n", Receive());
    EXPECT_TRUE(Logged("dropped " + std::to_string(stale.size()) + " stale bytes"));
    ASSERT_TRUE(SendATCmd("AT\r\n", 4, &id));
    EXPECT_EQ("\r\nOK\r\n", Receive());
}

// A read on a port that went away closes it and runs the AT-channel timer;
// the next bring-up opens the port that came back under the same name.
TEST_F(ComPort, ALostPortIsClosedAndTheNextBringUpReopensIt)
{
    AddUsb("1-1", {"5e1a", "0718"}, "", "ttyHBR0");
    StartPort("ttyHBR0", "\r\nOK\r\n");
    ASSERT_EQ(S_OK, port_->Init(kPortId));
    link_.stop();
    std::string buffer(64, '\0');
    size_t length = 0;
    EXPECT_FALSE(ReceiveAtResponse(&buffer[0], buffer.size(), &length, 0));
    EXPECT_EQ(INVALID_HANDLE_VALUE, port_->m_hComm);
    EXPECT_EQ(1, work_->m_atChannelTimerActive.load());

    StartPort("ttyHBR0", "\r\nOK\r\n");
    work_->AtChannelMonitorEvtFunc();
    ASSERT_NE(INVALID_HANDLE_VALUE, port_->m_hComm);
    EXPECT_TRUE(Logged("[Information][CComPortChannelHelper::Init]Create File result = "));
    uint32_t id = 0;
    ASSERT_TRUE(SendATCmd("AT\r\n", 4, &id));
    EXPECT_EQ("\r\nOK\r\n", Receive());
}

// A password learnt from the bootstrap's APN text reaches the module; the
// port's echo of the command comes in two reads, the second starting at
// the password's separator (no command prefix left to mask by shape), and
// the log never shows it.
TEST_F(ComPort, AnApnPasswordInASplitEchoIsNotLogged)
{
    const std::string password = "ApnPass-7e3c91d0a4b2";
    IotServiceFlowRecord apns[IotServiceFlowContext::kApnCount];
    apns[0].apn_text = "iot.e2e,IPV4,PAP,user," + password + ",3";
    apns[0].iccid[0] = "8901";
    zfw_pciot_bootstrap_prase_apns_info(apns, 0);
    ApnInfo apn;
    ASSERT_EQ(1, MatchAttachedApnInfo(apns, "8901000000000000002", &apn));

    AddUsb("1-1", {"5e1a", "0718"}, "", "ttyHBR0");
    StartPort("ttyHBR0");
    ASSERT_EQ(S_OK, port_->Init(kPortId));
    std::thread module([&] {
        if (!hbrtest::WaitUntil([&] { return Commands().size() == 1; }, 5000)) return;
        const std::string echo = Commands()[0];
        const size_t cut = echo.find(",\"" + password);
        link_.write(echo.substr(0, cut));
        std::this_thread::sleep_for(std::chrono::milliseconds(2500)); // longer than a read's silence
        link_.write(echo.substr(cut) + "\r\nOK\r\n");
    });
    SendApnInfoToModule(4, &apn);
    const std::string rest = Receive();
    module.join();

    ASSERT_EQ(1u, Commands().size());
    EXPECT_EQ("AT+GTPCTPOC=4,\"iot.e2e\",1,1,1,1,\"user\",\"" + password + "\"\r\n", Commands()[0]);
    EXPECT_EQ(",\"" + password + "\"\r\n\r\nOK\r\n", rest);
    EXPECT_TRUE(Logged("-,\"ApnP***\""));
    EXPECT_EQ(std::string::npos, hbrtest::ReadFile(log_->LogPath()).find(password));
}

} // namespace
