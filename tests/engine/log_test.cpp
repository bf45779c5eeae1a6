// Engine log: line layout, levels, long messages, dumps, rotation, hooks.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "engine_fixture.h"
#include "lpa_core_log.h"
#include "lpa_core_memory.h"
#include "lpa_core_memory_internal.h"

using hbr_test::CaptureStderr;
using hbr_test::EngineFixture;
using hbr_test::FileExists;
using hbr_test::FindLine;
using hbr_test::LogMessage;
using hbr_test::ReadFile;

namespace {

const std::regex kLineLayout(R"(^\d\d/\d\d/\d{4} \d\d:\d\d:\d\d \| (VER|DEB|INF|WAR|ERR|SYS) \| .*)");

class LogTest : public EngineFixture {
protected:
    void AppendPadding(size_t bytes)
    {
        std::ofstream out(logPath_, std::ios::app | std::ios::binary);
        out << std::string(bytes, 'p') << '\n';
    }

    // Writes lines until the log is rotated; answers how many were needed
    // (0 when it did not happen within 7 writes). Afterwards the rotation
    // write counter is known to be 0.
    int WriteUntilRotated()
    {
        for (int i = 1; i <= 7; ++i) {
            lpaCoreLog(LPA_LOG_LEVEL_INF, "sync %d", i);
            if (hbr_test::FileSize(logPath_) < 65537) {
                return i;
            }
        }
        return 0;
    }
};

TEST_F(LogTest, LinesHaveLayoutAndFollowLevel)
{
    logSetLevel(LPA_LOG_LEVEL_INF);
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "dropped %d", 1);
    lpaCoreLog(LPA_LOG_LEVEL_INF, "info %d", 2);
    lpaCoreLog(LPA_LOG_LEVEL_WAR, "warning %s", "w");
    lpaCoreLog(LPA_LOG_LEVEL_ERR, "error");
    lpaCoreLog(LPA_LOG_LEVEL_SYS, "system");
    logSetLevel(LPA_LOG_LEVEL_SYS);
    lpaCoreLog(LPA_LOG_LEVEL_ERR, "dropped too");
    lpaCoreLog(LPA_LOG_LEVEL_SYS, "system again");
    lpaCoreLog(LPA_LOG_LEVEL_SYS, NULL);

    auto lines = LogLines();
    ASSERT_EQ(lines.size(), 5u);
    for (const auto &line : lines) {
        EXPECT_TRUE(std::regex_match(line, kLineLayout)) << line;
    }
    EXPECT_NE(lines[0].find(" | INF | info 2"), std::string::npos);
    EXPECT_NE(lines[1].find(" | WAR | warning w"), std::string::npos);
    EXPECT_NE(lines[2].find(" | ERR | error"), std::string::npos);
    EXPECT_NE(lines[3].find(" | SYS | system"), std::string::npos);
    EXPECT_NE(lines[4].find(" | SYS | system again"), std::string::npos);
}

TEST_F(LogTest, UnknownLevelPrintsQuestionMarks)
{
    logSetLevel(0);
    lpaCoreLog(9, "odd level");
    lpaCoreLog(0, "zero level");
    auto lines = LogLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find(" | ?? | odd level"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find(" | ?? | zero level"), std::string::npos) << lines[1];
}

TEST_F(LogTest, EmptyMessageIsReportedAsUnformattable)
{
    lpaCoreLog(LPA_LOG_LEVEL_INF, "%s", "");
    std::string text = LogText();
    EXPECT_NE(text.find(" | INF | ---Unable to format message --- \n"), std::string::npos) << text;
}

TEST_F(LogTest, SetLevelByName)
{
    EXPECT_TRUE(logSetLevelByName("inf"));
    EXPECT_EQ(logGetLevel(), LPA_LOG_LEVEL_INF);
    EXPECT_FALSE(logSetLevelByName("sys"));
    EXPECT_EQ(logGetLevel(), LPA_LOG_LEVEL_INF);
    EXPECT_TRUE(logSetLevelByName("WARNING"));
    EXPECT_TRUE(logSetLevelByName("WARNING"));
    EXPECT_EQ(logGetLevel(), LPA_LOG_LEVEL_WAR);
    EXPECT_FALSE(logSetLevelByName("DE"));
    EXPECT_FALSE(logSetLevelByName(""));
    EXPECT_FALSE(logSetLevelByName(NULL));
    EXPECT_FALSE(logSetLevelByName("xyz"));
    EXPECT_EQ(logGetLevel(), LPA_LOG_LEVEL_WAR);
    EXPECT_TRUE(logSetLevelByName("Deb1"));
    EXPECT_EQ(logGetLevel(), LPA_LOG_LEVEL_DEB);
    EXPECT_TRUE(logSetLevelByName("verbose"));
    EXPECT_EQ(logGetLevel(), LPA_LOG_LEVEL_VER);

    auto lines = LogLines();
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_NE(lines[0].find(" | SYS | Updating log level to 'INF' ( 'DEB' previously)"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find(" | SYS | Unable to select 'SYS' log level  (internal usage only)"), std::string::npos)
        << lines[1];
    EXPECT_NE(lines[2].find(" | SYS | Updating log level to 'WAR' ( 'INF' previously)"), std::string::npos) << lines[2];
    EXPECT_NE(lines[3].find(" | SYS | Log level already to 'WAR'"), std::string::npos) << lines[3];
    EXPECT_NE(lines[4].find(" | SYS | Updating log level to 'DEB' ( 'WAR' previously)"), std::string::npos) << lines[4];
    EXPECT_NE(lines[5].find(" | SYS | Updating log level to 'VER' ( 'DEB' previously)"), std::string::npos) << lines[5];
}

TEST_F(LogTest, LevelsAndLimitsSurviveReopen)
{
    logSetLevel(LPA_LOG_LEVEL_ERR);
    EXPECT_FALSE(logSetMaxSize(65536));
    EXPECT_EQ(logGetMaxSize(), LPA_LOG_DEFAULT_MAX_SIZE);
    EXPECT_FALSE(logSetMaxSize(-1));
    EXPECT_TRUE(logSetMaxSize(65537));
    EXPECT_EQ(logGetMaxSize(), 65537);
    EXPECT_EQ(lpaCoreLogGetMaxSize(), 65537);
    logClose();
    EXPECT_FALSE(logIsOpen());
    lpaCoreLog(LPA_LOG_LEVEL_SYS, "dropped while closed");
    logOpen(logPath_.c_str(), backupPath_.c_str());
    EXPECT_TRUE(logIsOpen());
    EXPECT_EQ(logGetLevel(), LPA_LOG_LEVEL_ERR);
    EXPECT_EQ(logGetMaxSize(), 65537);
    // A second open while open changes nothing.
    logOpen((dir_ + "/other.log").c_str(), backupPath_.c_str());
    lpaCoreLog(LPA_LOG_LEVEL_ERR, "after reopen");
    EXPECT_FALSE(FileExists(dir_ + "/other.log"));
    auto lines = LogLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(LogMessage(lines[0]), "after reopen");
}

TEST_F(LogTest, LongMessages)
{
    const std::string five(5000, 'a');
    const std::string ten(10000, 'b');
    logSetLevel(LPA_LOG_LEVEL_INF);
    lpaCoreLog(LPA_LOG_LEVEL_INF, "%s", five.c_str());
    // Arguments are formatted twice: the second pass needs its own va_list.
    lpaCoreLog(LPA_LOG_LEVEL_INF, "%d:%s:%d", 7, ten.c_str(), 9);
    auto messages = LogMessages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0], five);
    ASSERT_EQ(messages[1].size(), 8191u);
    EXPECT_EQ(messages[1], ("7:" + ten).substr(0, 8191));
}

TEST_F(LogTest, LongMessageAllocationIsLoggedFirstAndFreed)
{
    logSetLevel(LPA_LOG_LEVEL_VER);
    LpaCoreMemoryCounters before = lpaCoreMemoryTestCounters();
    const std::string text(3000, 'c');
    lpaCoreLog(LPA_LOG_LEVEL_INF, "%s", text.c_str());
    LpaCoreMemoryCounters after = lpaCoreMemoryTestCounters();
    EXPECT_EQ(after.allocCalls, before.allocCalls + 1);
    EXPECT_EQ(after.liveBlocks, before.liveBlocks);

    auto lines = LogLines();
    int alloc = FindLine(lines, "[LPASDKMEM] _lpaCoreMemoryAlloc(3001 bytes) => mem:0x");
    int longLine = FindLine(lines, " | INF | ccc");
    int freeLine = FindLine(lines, "[LPASDKMEM] _lpaCoreMemoryFree(0x");
    ASSERT_GE(alloc, 0);
    ASSERT_GE(longLine, 0);
    ASSERT_GE(freeLine, 0);
    EXPECT_LT(alloc, longLine);
    EXPECT_LT(longLine, freeLine);
    EXPECT_EQ(LogMessage(lines[longLine]), text);
    for (const auto &line : lines) {
        EXPECT_TRUE(std::regex_match(line, kLineLayout)) << line;
    }
}

TEST_F(LogTest, LongMessageFallsBackToTruncatedTextWhenAllocationFails)
{
    ASSERT_TRUE(lpaCoreMemorySetParamGenerateErr(LPA_CORE_MEMORY_GENERATE_ERR_IF_MEMORY_SIZE_REQUESTED_EQ, 8192));
    RestartLog();
    logSetLevel(LPA_LOG_LEVEL_INF);
    std::string text;
    for (int i = 0; i < 10000; ++i) {
        text.push_back(static_cast<char>('A' + i % 26));
    }
    lpaCoreLog(LPA_LOG_LEVEL_INF, "%s", text.c_str());
    auto lines = LogLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(LogMessage(lines[0]), "[LPASDKMEM] _lpaCoreMemoryAlloc() do not allocate memory as requested");
    EXPECT_NE(lines[0].find(" | WAR | "), std::string::npos);
    EXPECT_TRUE(std::regex_match(lines[1], kLineLayout)) << lines[1];
    EXPECT_NE(lines[1].find(" | INF | "), std::string::npos);
    EXPECT_EQ(LogMessage(lines[1]), text.substr(0, 1023));
}

TEST_F(LogTest, TextDump)
{
    std::string text(2100, 'x');
    text[0] = 'S';
    text[1025] = 'M';
    text[2099] = 'E';
    lpaCoreLogText(LPA_LOG_LEVEL_INF, "<<  HTTP response:", text.c_str(), text.size());
    // Nothing without a title, a text or a length.
    lpaCoreLogText(LPA_LOG_LEVEL_INF, NULL, text.c_str(), text.size());
    lpaCoreLogText(LPA_LOG_LEVEL_INF, "t", NULL, 4);
    lpaCoreLogText(LPA_LOG_LEVEL_INF, "t", text.c_str(), 0);
    // Nor below the level.
    lpaCoreLogText(LPA_LOG_LEVEL_VER, "t", text.c_str(), 3);

    auto lines = LogLines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(LogMessage(lines[0]), "<<  HTTP response:");
    const std::string stamp = lines[0].substr(0, 19);
    const std::string prefix = stamp + " | INF |    ";
    ASSERT_EQ(lines[1].substr(0, prefix.size()), prefix);
    EXPECT_EQ(lines[1].substr(prefix.size()), text.substr(0, 1025));
    EXPECT_EQ(lines[2].substr(0, prefix.size()), prefix);
    EXPECT_EQ(lines[2].substr(prefix.size()), text.substr(1025, 1025));
    EXPECT_EQ(lines[3].substr(0, prefix.size()), prefix);
    EXPECT_EQ(lines[3].substr(prefix.size()), text.substr(2050));
    EXPECT_EQ(lines[3].size() - prefix.size(), 50u);
}

TEST_F(LogTest, HexDump)
{
    std::vector<uint8_t> bytes(257);
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<uint8_t>(i * 3 + 1);
    }
    lpaCoreLogHexDump(LPA_LOG_LEVEL_INF, "Dump title", "L", bytes.data(), bytes.size());
    lpaCoreLogHexDump(LPA_LOG_LEVEL_INF, NULL, "TAG B7 -> 81 -> GID1", bytes.data(), 1);
    // Only the title when bytes, length or label are missing.
    lpaCoreLogHexDump(LPA_LOG_LEVEL_INF, "only title", NULL, bytes.data(), 4);
    lpaCoreLogHexDump(LPA_LOG_LEVEL_INF, NULL, "L", NULL, 4);
    lpaCoreLogHexDump(LPA_LOG_LEVEL_INF, NULL, "L", bytes.data(), 0);
    lpaCoreLogHexDump(LPA_LOG_LEVEL_VER, "below level", "L", bytes.data(), 4);

    auto lines = LogLines();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(LogMessage(lines[0]), "Dump title");
    std::string expected = "L [0-255] : ";
    char hex[8];
    for (size_t i = 0; i < 256; ++i) {
        std::snprintf(hex, sizeof(hex), " %02X", bytes[i]);
        expected += hex;
    }
    EXPECT_NE(lines[1].find(" | INF | "), std::string::npos);
    EXPECT_EQ(LogMessage(lines[1]), expected);
    EXPECT_EQ(LogMessage(lines[1]).substr(0, 18), "L [0-255] :  01 04");
    std::snprintf(hex, sizeof(hex), "%02X", bytes[256]);
    EXPECT_EQ(LogMessage(lines[2]), "L [256] : " + std::string(hex) + " ");
    EXPECT_EQ(LogMessage(lines[3]), "TAG B7 -> 81 -> GID1 [0] : 01 ");
    EXPECT_EQ(LogMessage(lines[4]), "only title");
    for (const auto &line : lines) {
        EXPECT_TRUE(std::regex_match(line, kLineLayout)) << line;
    }
}

TEST_F(LogTest, RotationOnSixthWriteReplacesBackup)
{
    hbr_test::WriteFile(backupPath_, "OLD BACKUP\n");
    ASSERT_TRUE(logSetMaxSize(65537));
    AppendPadding(70000);
    logSetRotation(true);
    ASSERT_GT(WriteUntilRotated(), 0);
    EXPECT_EQ(ReadFile(backupPath_).find("OLD BACKUP"), std::string::npos);
    EXPECT_NE(ReadFile(backupPath_).find("ppp"), std::string::npos);

    // The counter is now 0: five writes do not look at the size, the sixth does.
    AppendPadding(70000);
    for (int i = 1; i <= 5; ++i) {
        lpaCoreLog(LPA_LOG_LEVEL_INF, "second round %d", i);
    }
    EXPECT_GT(hbr_test::FileSize(logPath_), 65537);
    EXPECT_EQ(ReadFile(backupPath_).find("second round"), std::string::npos);
    lpaCoreLog(LPA_LOG_LEVEL_INF, "second round %d", 6);
    EXPECT_EQ(hbr_test::FileSize(logPath_), 0);
    std::string backup = ReadFile(backupPath_);
    EXPECT_NE(backup.find("second round 6"), std::string::npos);
    EXPECT_EQ(backup.find("sync 1"), std::string::npos);
    lpaCoreLog(LPA_LOG_LEVEL_INF, "after rotation");
    auto lines = LogLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(LogMessage(lines[0]), "after rotation");
}

TEST_F(LogTest, FailedRenameRestartsLogEmpty)
{
    ASSERT_EQ(mkdir(backupPath_.c_str(), 0700), 0);
    hbr_test::WriteFile(backupPath_ + "/keep", "x");
    ASSERT_TRUE(logSetMaxSize(65537));
    AppendPadding(70000);
    logSetRotation(true);
    std::string err = CaptureStderr([] {
        for (int i = 1; i <= 6; ++i) {
            lpaCoreLog(LPA_LOG_LEVEL_INF, "write %d", i);
        }
    });
    EXPECT_NE(err.find("Unable to rename log file (errno="), std::string::npos) << err;
    EXPECT_TRUE(logIsOpen());
    EXPECT_LT(hbr_test::FileSize(logPath_), 1000);
    EXPECT_EQ(LogText().find("ppp"), std::string::npos);
    lpaCoreLog(LPA_LOG_LEVEL_INF, "still logging");
    EXPECT_NE(LogText().find("still logging"), std::string::npos);
}

TEST_F(LogTest, OpenRotatesOnlyWhenRotationIsOn)
{
    ASSERT_TRUE(logSetMaxSize(65537));
    lpaCoreLog(LPA_LOG_LEVEL_INF, "first");
    AppendPadding(70000);
    logClose();
    logOpen(logPath_.c_str(), backupPath_.c_str());
    EXPECT_FALSE(FileExists(backupPath_));

    logClose();
    logSetRotation(true);
    // Installing the default backend switches rotation off again.
    lpaCoreLogInstallDefaultBackend();
    logOpen(logPath_.c_str(), backupPath_.c_str());
    EXPECT_FALSE(FileExists(backupPath_));

    logClose();
    logSetRotation(true);
    logOpen(logPath_.c_str(), backupPath_.c_str());
    ASSERT_TRUE(logIsOpen());
    EXPECT_NE(ReadFile(backupPath_).find("first"), std::string::npos);
    EXPECT_FALSE(FileExists(logPath_) && hbr_test::FileSize(logPath_) > 0);
}

TEST_F(LogTest, OpenRefusesOverlongPaths)
{
    logClose();
    std::string base = dir_ + "/";
    std::string longest = base + std::string(259 - base.size(), 'n');
    std::string tooLong = base + std::string(260 - base.size(), 'm');
    ASSERT_EQ(longest.size(), 259u);

    logOpen(tooLong.c_str(), backupPath_.c_str());
    EXPECT_FALSE(logIsOpen());
    lpaCoreLog(LPA_LOG_LEVEL_SYS, "dropped");
    logOpen(logPath_.c_str(), tooLong.c_str());
    EXPECT_FALSE(logIsOpen());
    logOpen(NULL, backupPath_.c_str());
    EXPECT_FALSE(logIsOpen());
    logOpen(logPath_.c_str(), NULL);
    EXPECT_FALSE(logIsOpen());
    EXPECT_FALSE(FileExists(tooLong));

    logOpen(longest.c_str(), backupPath_.c_str());
    EXPECT_TRUE(logIsOpen());
    lpaCoreLog(LPA_LOG_LEVEL_SYS, "written");
    EXPECT_NE(ReadFile(longest).find("written"), std::string::npos);
}

TEST_F(LogTest, UnopenableFileDropsWrites)
{
    logClose();
    std::string missing = dir_ + "/no/such/folder/lpa.log";
    logOpen(missing.c_str(), backupPath_.c_str());
    EXPECT_FALSE(logIsOpen());
    lpaCoreLog(LPA_LOG_LEVEL_SYS, "dropped");
    lpaCoreLogText(LPA_LOG_LEVEL_SYS, "t", "x", 1);
    uint8_t byte = 1;
    lpaCoreLogHexDump(LPA_LOG_LEVEL_SYS, "t", "l", &byte, 1);
    lpaCoreLogFlush();
    EXPECT_FALSE(FileExists(missing));
}

// ---- hook table ----------------------------------------------------------

struct Recorded {
    std::vector<std::string> calls;
    int32_t level = 0;
    std::string message;
};
Recorded g_recorded;

void recOpen(const char *, const char *) { g_recorded.calls.push_back("open"); }
void recFlush(void) { g_recorded.calls.push_back("flush"); }
bool recIsOpen(void) { g_recorded.calls.push_back("isOpen"); return true; }
void recClose(void) { g_recorded.calls.push_back("close"); }
void recSetRotation(bool) { g_recorded.calls.push_back("setRotation"); }
void recSetLevel(int32_t level)
{
    g_recorded.calls.push_back("setLevel");
    g_recorded.level = level;
}
int32_t recGetLevel(void) { g_recorded.calls.push_back("getLevel"); return 0; }
bool recSetMaxSize(int32_t) { g_recorded.calls.push_back("setMaxSize"); return true; }
int32_t recGetMaxSize(void) { g_recorded.calls.push_back("getMaxSize"); return 4242; }
void recMessage(int32_t level, const char *format, va_list args)
{
    char buffer[128];
    vsnprintf(buffer, sizeof(buffer), format, args);
    g_recorded.calls.push_back("message");
    g_recorded.level = level;
    g_recorded.message = buffer;
}
void recText(int32_t, const char *, const char *, size_t) { g_recorded.calls.push_back("text"); }
void recHexDump(int32_t, const char *, const char *, const uint8_t *, size_t) { g_recorded.calls.push_back("hexDump"); }

class HookTest : public EngineFixture {
protected:
    void SetUp() override
    {
        EngineFixture::SetUp();
        saved_ = lpaLogHooks;
        g_recorded = Recorded();
    }
    void TearDown() override
    {
        lpaLogHooks = saved_;
        EngineFixture::TearDown();
    }
    void CallEveryTrampoline()
    {
        uint8_t byte = 0x5A;
        lpaCoreLog(LPA_LOG_LEVEL_SYS, "value %d", 17);
        lpaCoreLogFlush();
        lpaCoreLogSetLevel(LPA_LOG_LEVEL_ERR);
        maxSize_ = lpaCoreLogGetMaxSize();
        lpaCoreLogText(LPA_LOG_LEVEL_SYS, "t", "x", 1);
        lpaCoreLogHexDump(LPA_LOG_LEVEL_SYS, "t", "l", &byte, 1);
    }
    LpaLogHooks saved_;
    int32_t maxSize_ = -1;
};

TEST_F(HookTest, TrampolinesAreNoOpsWithoutHooks)
{
    lpaLogHooks = LpaLogHooks();
    CallEveryTrampoline();
    EXPECT_EQ(maxSize_, 0);

    // Installed but with every slot empty.
    lpaLogHooks.installed = true;
    CallEveryTrampoline();
    EXPECT_EQ(maxSize_, 0);

    // Filled slots but not installed.
    lpaLogHooks = saved_;
    lpaLogHooks.installed = false;
    CallEveryTrampoline();
    EXPECT_EQ(maxSize_, 0);
    EXPECT_EQ(logGetLevel(), LPA_LOG_LEVEL_DEB);

    lpaLogHooks = saved_;
    EXPECT_TRUE(LogLines().empty());
}

TEST_F(HookTest, EachTrampolineReachesItsSlot)
{
    LpaLogHooks recording = {recOpen,    recFlush,       recIsOpen,     recClose,  recSetRotation, recSetLevel,
                             recGetLevel, recSetMaxSize, recGetMaxSize, recMessage, recText,       recHexDump,
                             true};
    lpaLogHooks = recording;
    lpaCoreLog(LPA_LOG_LEVEL_WAR, "value %d %s", 17, "x");
    EXPECT_EQ(g_recorded.level, LPA_LOG_LEVEL_WAR);
    EXPECT_EQ(g_recorded.message, "value 17 x");
    lpaCoreLogFlush();
    lpaCoreLogSetLevel(LPA_LOG_LEVEL_ERR);
    EXPECT_EQ(g_recorded.level, LPA_LOG_LEVEL_ERR);
    EXPECT_EQ(lpaCoreLogGetMaxSize(), 4242);
    uint8_t byte = 0;
    lpaCoreLogText(LPA_LOG_LEVEL_SYS, "t", "x", 1);
    lpaCoreLogHexDump(LPA_LOG_LEVEL_SYS, "t", "l", &byte, 1);
    const std::vector<std::string> expected = {"message", "flush", "setLevel", "getMaxSize", "text", "hexDump"};
    EXPECT_EQ(g_recorded.calls, expected);
}

TEST_F(HookTest, InstallFillsSlotsWithDefaultBackend)
{
    lpaLogHooks = LpaLogHooks();
    lpaCoreLogInstallDefaultBackend();
    EXPECT_TRUE(lpaLogHooks.installed);
    EXPECT_EQ(lpaLogHooks.open, &logOpen);
    EXPECT_EQ(lpaLogHooks.flush, &logFlush);
    EXPECT_EQ(lpaLogHooks.isOpen, &logIsOpen);
    EXPECT_EQ(lpaLogHooks.close, &logClose);
    EXPECT_EQ(lpaLogHooks.setRotation, &logSetRotation);
    EXPECT_EQ(lpaLogHooks.setLevel, &logSetLevel);
    EXPECT_EQ(lpaLogHooks.getLevel, &logGetLevel);
    EXPECT_EQ(lpaLogHooks.setMaxSize, &logSetMaxSize);
    EXPECT_EQ(lpaLogHooks.getMaxSize, &logGetMaxSize);
    EXPECT_EQ(lpaLogHooks.message, &logWriteMessage);
    EXPECT_EQ(lpaLogHooks.text, &logWriteText);
    EXPECT_EQ(lpaLogHooks.hexDump, &logWriteHexDump);
    lpaCoreLogSetLevel(LPA_LOG_LEVEL_INF);
    EXPECT_EQ(logGetLevel(), LPA_LOG_LEVEL_INF);
}

}  // namespace
