// The simulator's AT port framing and pty link, and the shape of its fake
// sysfs tree.
#include <gtest/gtest.h>

#include "fake_sysfs.h"
#include "pty_link.h"
#include "test_support.h"

#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

using hbrmodemsim::CommandFramer;
using hbrmodemsim::FakeSysfs;
using hbrmodemsim::PtyLink;
using Commands = std::vector<std::string>;

TEST(CommandFramer, SplitsOnCrAndKeepsTheLfThatFollowsIt)
{
    CommandFramer f;
    // Two commands in one chunk; an LF in the middle of a command and one
    // standing alone are dropped.
    EXPECT_EQ((Commands{"AT\r\n", "ATI\r\n"}), f.feed("AT\r\nA\nTI\r\n\n", 11, 0));
    // A command split over chunks; its LF comes in the next chunk within the wait.
    EXPECT_EQ(Commands{}, f.feed("AT+GTP", 6, 100));
    EXPECT_EQ(Commands{}, f.feed("CTPOC=6\r", 8, 110));
    EXPECT_EQ(15, f.msUntilExpiry(116));
    EXPECT_EQ(Commands{"AT+GTPCTPOC=6\r\n"}, f.feed("\n", 1, 130));
    EXPECT_EQ(-1, f.msUntilExpiry(130));
    // A lone CR: the command comes out once the wait ran out, and a late LF
    // is stray.
    EXPECT_EQ(Commands{}, f.feed("ATE0\r", 5, 200));
    EXPECT_EQ("", f.expire(220));
    EXPECT_EQ("ATE0\r", f.expire(221));
    EXPECT_EQ(Commands{}, f.feed("\n", 1, 222));
    // A late LF in the chunk that also starts the next command.
    EXPECT_EQ(Commands{}, f.feed("AT\r", 3, 300));
    EXPECT_EQ((Commands{"AT\r", "ATI\r\n"}), f.feed("\nATI\r\n", 6, 400));
    // A byte other than LF after the CR ends the command at once.
    EXPECT_EQ((Commands{"A\r"}), f.feed("A\rB\r", 4, 500));
    EXPECT_EQ("", f.expire(520));
    EXPECT_EQ("B\r", f.expire(600));
}

class PtyLinkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(link_.start(dir_.path(), "ttyHBR0", [this](const std::string &c) { onCommand(c); }, &error))
            << error;
    }
    void onCommand(const std::string &command)
    {
        std::lock_guard<std::mutex> guard(lock_);
        commands_.push_back(command);
        cond_.notify_all();
    }
    Commands waitFor(size_t n)
    {
        std::unique_lock<std::mutex> lock(lock_);
        cond_.wait_for(lock, std::chrono::seconds(5), [&] { return commands_.size() >= n; });
        return commands_;
    }
    hbrtest::TempDir dir_;
    PtyLink link_;
    std::mutex lock_;
    std::condition_variable cond_;
    Commands commands_;
};

TEST_F(PtyLinkTest, PassesBytesExactlyBothWaysThroughTheLink)
{
    // The link names the slave, which is raw before the peer configures it.
    char target[PATH_MAX] = {};
    ASSERT_GT(readlink((dir_ / "ttyHBR0").c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(link_.slavePath(), target);
    int fd = open((dir_ / "ttyHBR0").c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    struct termios tio;
    ASSERT_EQ(0, tcgetattr(fd, &tio));
    EXPECT_EQ(0u, tio.c_lflag & (ICANON | ECHO));
    EXPECT_EQ(0u, tio.c_iflag & ICRNL);
    EXPECT_EQ(0u, tio.c_oflag & ONLCR);

    ASSERT_EQ(8, write(fd, "AT+X=1\r\n", 8));
    ASSERT_EQ(3, write(fd, "ATI", 3));
    usleep(5000);
    ASSERT_EQ(2, write(fd, "\r\n", 2));
    EXPECT_EQ((Commands{"AT+X=1\r\n", "ATI\r\n"}), waitFor(2));

    ASSERT_TRUE(link_.write("\r\nOK\r\n"));
    std::string got;
    for (int i = 0; i < 100 && got.size() < 6; ++i) {
        char buf[16];
        ssize_t n = read(fd, buf, sizeof buf);
        if (n > 0) got.append(buf, static_cast<size_t>(n));
    }
    EXPECT_EQ("\r\nOK\r\n", got);

    // The peer closing its side does not disturb the link.
    close(fd);
    usleep(20000);
    fd = open((dir_ / "ttyHBR0").c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(3, write(fd, "AT\r", 3));
    EXPECT_EQ((Commands{"AT+X=1\r\n", "ATI\r\n", "AT\r"}), waitFor(3));
    close(fd);

    link_.stop();
    struct stat st;
    EXPECT_NE(0, lstat((dir_ / "ttyHBR0").c_str(), &st));
    EXPECT_FALSE(link_.write("late"));
}

TEST(FakeSysfs, BuildsLinkedTreesAndRemovesOnlyItsOwn)
{
    hbrtest::TempDir dir;
    std::string root = dir / "sys";
    {
        FakeSysfs fs(root);
        std::string error;
        ASSERT_TRUE(hbrmodemsim::buildModulePreset(fs, "1", {}, &error)) << error;
        EXPECT_FALSE(hbrmodemsim::buildModulePreset(fs, "3", {}, &error));
        // class/tty/ttyHBR0/device resolves to interface 02 of the USB device.
        char *dev = realpath((root + "/class/tty/ttyHBR0/device").c_str(), nullptr);
        ASSERT_NE(nullptr, dev);
        std::string devPath = dev;
        free(dev);
        EXPECT_EQ("1-1:1.2", devPath.substr(devPath.rfind('/') + 1));
        EXPECT_EQ("02\n", hbrtest::ReadFile(devPath + "/bInterfaceNumber"));
        char *bus = realpath((devPath + "/subsystem").c_str(), nullptr);
        ASSERT_NE(nullptr, bus);
        std::string busPath = bus;
        free(bus);
        EXPECT_EQ("/bus/usb", busPath.substr(busPath.size() - 8));
        // Links are relative, so the tree can move.
        char target[PATH_MAX] = {};
        ASSERT_GT(readlink((root + "/class/net/wwan0").c_str(), target, sizeof target - 1), 0);
        EXPECT_EQ('.', target[0]);
        struct stat st;
        EXPECT_NE(0, lstat((root + "/class/net/lo/device").c_str(), &st));
        EXPECT_EQ(0, lstat((root + "/class/net/lo").c_str(), &st));
        hbrtest::WriteFile(root + "/class/foreign", "x");
    }
    // The root stays because a foreign file is in it; nothing of ours is left.
    EXPECT_TRUE(hbrtest::FileExists(root + "/class/foreign"));
    struct stat st;
    EXPECT_NE(0, lstat((root + "/devices").c_str(), &st));
    EXPECT_NE(0, lstat((root + "/class/tty").c_str(), &st));
}

} // namespace
