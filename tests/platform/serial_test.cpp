// COM ports over a pty held by the test (the simulator's PtyLink).
#include <gtest/gtest.h>

#include <windows.h>

#include "pty_link.h"
#include "test_support.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

long MsSince(Clock::time_point start)
{
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

class SerialTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(link_.start(dir_.path(), "ttyHBR0",
                                [this](const std::string &c) {
                                    std::lock_guard<std::mutex> guard(lock_);
                                    commands_.push_back(c);
                                    cond_.notify_all();
                                },
                                &error))
            << error;
        port_ = Open("\\\\.\\ttyHBR0");
        ASSERT_NE(INVALID_HANDLE_VALUE, port_);
    }
    void TearDown() override
    {
        if (port_ != INVALID_HANDLE_VALUE) {
            CloseHandle(port_);
        }
    }
    static HANDLE Open(const char *name, DWORD flags = 0)
    {
        return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, flags, nullptr);
    }
    void SetTimeouts(DWORD interval, DWORD multiplier, DWORD constant)
    {
        COMMTIMEOUTS t = {interval, multiplier, constant, 0, 5000};
        ASSERT_TRUE(SetCommTimeouts(port_, &t));
    }
    // Writes the pieces to the port's far end, `gapMs` apart, on a thread.
    std::thread Send(std::vector<std::string> pieces, int gapMs)
    {
        return std::thread([this, pieces, gapMs] {
            for (size_t i = 0; i < pieces.size(); ++i) {
                if (i > 0) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(gapMs));
                }
                link_.write(pieces[i]);
            }
        });
    }
    std::string Read(DWORD n, BOOL *ok = nullptr)
    {
        std::string buf(n, '\0');
        DWORD got = 12345;
        BOOL r = ReadFile(port_, &buf[0], n, &got, nullptr);
        if (ok != nullptr) {
            *ok = r;
        }
        return buf.substr(0, got);
    }
    hbrtest::TempDir dir_;
    hbrtest::ScopedEnv env_{"HBR_DEV_ROOT", dir_.path().c_str()};
    hbrmodemsim::PtyLink link_;
    HANDLE port_ = INVALID_HANDLE_VALUE;
    std::mutex lock_;
    std::condition_variable cond_;
    std::vector<std::string> commands_;
};

TEST_F(SerialTest, OpensOnlyPortNamesBelowTheDeviceRoot)
{
    hbrtest::WriteFile(dir_ / "plain", "");
    const struct {
        const char *name;
        DWORD flags;
        DWORD error;
    } refused[] = {
        {"ttyHBR0", 0, ERROR_FILE_NOT_FOUND},        {"\\\\.\\", 0, ERROR_FILE_NOT_FOUND},
        {"\\\\.\\..", 0, ERROR_FILE_NOT_FOUND},       {"\\\\.\\.", 0, ERROR_FILE_NOT_FOUND},
        {"\\\\.\\x/../plain", 0, ERROR_FILE_NOT_FOUND}, {"\\\\.\\ttyNONE", 0, ERROR_FILE_NOT_FOUND},
        {"\\\\.\\ttyHBR0", 0x40000000u /* overlapped */, ERROR_INVALID_PARAMETER},
    };
    for (const auto &c : refused) {
        SetLastError(0);
        EXPECT_EQ(INVALID_HANDLE_VALUE, Open(c.name, c.flags)) << c.name;
        EXPECT_EQ(c.error, GetLastError()) << c.name;
    }
    EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileA("\\\\.\\ttyHBR0", GENERIC_READ, 0, nullptr, 2 /* create */, 0, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileA("\\\\.\\ttyHBR0", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, port_));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    if (geteuid() != 0) {
        hbrtest::WriteFile(dir_ / "locked", "");
        chmod((dir_ / "locked").c_str(), 0);
        EXPECT_EQ(INVALID_HANDLE_VALUE, Open("\\\\.\\locked"));
        EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    }

    // A file that is not a terminal opens, but the comm calls refuse it.
    HANDLE plain = Open("\\\\.\\plain");
    ASSERT_NE(INVALID_HANDLE_VALUE, plain);
    COMMTIMEOUTS t = {};
    DCB dcb = {};
    DWORD errors;
    COMSTAT stat;
    EXPECT_FALSE(SetCommTimeouts(plain, &t));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_FUNCTION), GetLastError());
    EXPECT_FALSE(GetCommState(plain, &dcb));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_FUNCTION), GetLastError());
    EXPECT_TRUE(CloseHandle(plain));

    // Wrong-type and closed handles give 6 on every call.
    HANDLE ev = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    for (HANDLE bad : {ev, plain, static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE}) {
        char b[4];
        DWORD n;
        SetLastError(0);
        EXPECT_FALSE(ReadFile(bad, b, 4, &n, nullptr));
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
        EXPECT_FALSE(WriteFile(bad, b, 4, &n, nullptr));
        EXPECT_FALSE(SetCommState(bad, &dcb));
        EXPECT_FALSE(ClearCommBreak(bad));
        EXPECT_FALSE(ClearCommError(bad, &errors, &stat));
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
    }
    EXPECT_TRUE(CloseHandle(ev));
}

TEST_F(SerialTest, ReadsFollowTheIntervalAndTotalTimeouts)
{
    // A fresh port has no time-outs.
    COMMTIMEOUTS t = {1, 1, 1, 1, 1};
    ASSERT_TRUE(GetCommTimeouts(port_, &t));
    EXPECT_EQ(0u, t.ReadIntervalTimeout + t.ReadTotalTimeoutMultiplier + t.ReadTotalTimeoutConstant +
                      t.WriteTotalTimeoutMultiplier + t.WriteTotalTimeoutConstant);
    SetTimeouts(200, 0, 2000);

    // Bytes 150 ms apart make one read, which ends about 200 ms after the last.
    std::thread sender = Send({"AB", "CD", "EF"}, 150);
    auto start = Clock::now();
    EXPECT_EQ("ABCDEF", Read(64));
    long took = MsSince(start);
    sender.join();
    EXPECT_GE(took, 480);
    EXPECT_LT(took, 1900); // not the 2 s total

    // A 300 ms gap ends the read.
    sender = Send({"GH", "IJ"}, 300);
    start = Clock::now();
    EXPECT_EQ("GH", Read(64));
    took = MsSince(start);
    EXPECT_GE(took, 180);
    EXPECT_LT(took, 1900);
    sender.join();
    EXPECT_EQ("IJ", Read(64));

    // A full buffer returns at once, the rest stays; n = 0 reads nothing.
    ASSERT_TRUE(link_.write("0123456789"));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    COMSTAT stat = {};
    DWORD errors = 99;
    ASSERT_TRUE(ClearCommError(port_, &errors, &stat));
    EXPECT_EQ(0u, errors);
    EXPECT_EQ(10u, stat.cbInQue);
    start = Clock::now();
    EXPECT_EQ("0123", Read(4));
    BOOL ok = FALSE;
    EXPECT_EQ("", Read(0, &ok));
    EXPECT_TRUE(ok);
    EXPECT_LT(MsSince(start), 180); // no interval wait

    // MAXDWORD/0/0 returns what is buffered at once; other MAXDWORD mixes are refused.
    SetTimeouts(MAXDWORD, 0, 0);
    EXPECT_EQ("456789", Read(64));
    EXPECT_EQ("", Read(64, &ok));
    EXPECT_TRUE(ok);
    EXPECT_LT(MsSince(start), 180);
    SetTimeouts(MAXDWORD, 0, 100);
    Read(4, &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());

    // Silence: TRUE with 0 bytes after the total time-out (multiplier counted).
    SetTimeouts(200, 100, 1600);
    start = Clock::now();
    EXPECT_EQ("", Read(4, &ok));
    took = MsSince(start);
    EXPECT_TRUE(ok);
    EXPECT_GE(took, 1950);
    EXPECT_LT(took, 3500);
}

TEST_F(SerialTest, ConfiguresTheSlaveRawAndWritesBytesExactly)
{
    DCB dcb = {};
    ASSERT_TRUE(GetCommState(port_, &dcb));
    EXPECT_EQ(1u, dcb.fBinary);
    EXPECT_EQ(static_cast<DWORD>(DTR_CONTROL_ENABLE), dcb.fDtrControl);
    EXPECT_EQ(static_cast<DWORD>(RTS_CONTROL_ENABLE), dcb.fRtsControl);
    dcb.BaudRate = 12345;
    EXPECT_FALSE(SetCommState(port_, &dcb));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    dcb.BaudRate = CBR_9600;
    dcb.ByteSize = 7;
    dcb.Parity = EVENPARITY;
    dcb.StopBits = TWOSTOPBITS;
    dcb.fOutxCtsFlow = 1;
    dcb.fOutxDsrFlow = 1;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    ASSERT_TRUE(SetCommState(port_, &dcb));
    // A pty keeps the speed and flow control but not the character format.
    DCB back = {};
    ASSERT_TRUE(GetCommState(port_, &back));
    EXPECT_EQ(static_cast<DWORD>(CBR_9600), back.BaudRate);
    EXPECT_EQ(1u, back.fOutxCtsFlow);
    EXPECT_EQ(static_cast<DWORD>(DTR_CONTROL_DISABLE), back.fDtrControl);
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    ASSERT_TRUE(SetCommState(port_, &dcb));
    EXPECT_TRUE(ClearCommBreak(port_));

    // What the far side sees: 9600 baud, raw.
    int fd = open(link_.slavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    struct termios tio;
    ASSERT_EQ(0, tcgetattr(fd, &tio));
    close(fd);
    EXPECT_EQ(static_cast<speed_t>(B9600), cfgetospeed(&tio));
    EXPECT_EQ(0u, tio.c_lflag & (ICANON | ECHO | ISIG));
    EXPECT_EQ(0u, tio.c_iflag & (ICRNL | IXON));
    EXPECT_EQ(0u, tio.c_oflag & (OPOST | ONLCR));
    EXPECT_EQ(static_cast<tcflag_t>(CS8 | CREAD | CLOCAL), tio.c_cflag & (CSIZE | CREAD | CLOCAL));

    DWORD written = 0;
    const char cmd[] = "AT+GTPCTPOC=6\r\n";
    ASSERT_TRUE(WriteFile(port_, cmd, 15, &written, nullptr));
    EXPECT_EQ(15u, written);
    std::unique_lock<std::mutex> lock(lock_);
    ASSERT_TRUE(cond_.wait_for(lock, std::chrono::seconds(5), [&] { return !commands_.empty(); }));
    EXPECT_EQ(std::vector<std::string>{"AT+GTPCTPOC=6\r\n"}, commands_);
}

TEST_F(SerialTest, AHangUpFailsTheReadWith31)
{
    SetTimeouts(200, 0, 2000);
    ASSERT_TRUE(link_.write("OK"));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    link_.stop();
    // Bytes already received still come; then the hang-up is reported.
    BOOL ok = FALSE;
    std::string first = Read(64, &ok);
    if (!first.empty()) {
        EXPECT_TRUE(ok);
        EXPECT_EQ("OK", first);
        first = Read(64, &ok);
    }
    EXPECT_FALSE(ok);
    EXPECT_EQ(static_cast<DWORD>(ERROR_GEN_FAILURE), GetLastError());
    EXPECT_EQ("", first);
    EXPECT_TRUE(CloseHandle(port_));
    port_ = INVALID_HANDLE_VALUE;
}

// PurgeComm(PURGE_RXCLEAR) drops what waits; an open clears an earlier error.
TEST_F(SerialTest, PurgeDropsWaitingInputAndAnOpenClearsTheLastError)
{
    const std::string stale = "\r\n+CREG: 1\r\n";
    ASSERT_TRUE(link_.write(stale));
    DWORD errors = 0;
    COMSTAT stat = {};
    ASSERT_TRUE(hbrtest::WaitUntil(
        [&] { return ClearCommError(port_, &errors, &stat) && stat.cbInQue == stale.size(); }, 5000));
    EXPECT_TRUE(PurgeComm(port_, PURGE_RXCLEAR));
    ASSERT_TRUE(ClearCommError(port_, &errors, &stat));
    EXPECT_EQ(0u, stat.cbInQue);
    EXPECT_FALSE(PurgeComm(port_, 0x0004 /* PURGE_TXCLEAR */));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());

    SetLastError(259);
    HANDLE second = Open("\\\\.\\ttyHBR0");
    ASSERT_NE(INVALID_HANDLE_VALUE, second);
    EXPECT_EQ(0u, GetLastError());
    EXPECT_TRUE(CloseHandle(second));
}

} // namespace
