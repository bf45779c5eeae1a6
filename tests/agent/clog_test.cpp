#include <gtest/gtest.h>

#include "test_support.h"

#include "clog.h"
#include "secret_mask.h"

#include <regex>
#include <sstream>
#include <thread>

#include <unistd.h>

namespace {

class LogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        CLog::ResetWriteCountForTest();
        log_ = new CLog(dir_.path().c_str());
    }
    void TearDown() override
    {
        ForgetSecrets();
        log_->Release();
    }
    std::vector<std::string> Lines(const std::string &path) const
    {
        std::vector<std::string> lines;
        std::istringstream in(hbrtest::ReadFile(path));
        std::string line;
        while (std::getline(in, line)) lines.push_back(line);
        return lines;
    }
    // Bytes of one line "<prefix>x\n".
    static long long LineBytes() { return static_cast<long long>(std::to_string(getpid()).size()) + 22 + 2; }
    void Fill(const std::string &path, long long size)
    {
        FILE *f = std::fopen(path.c_str(), "w");
        ASSERT_NE(nullptr, f);
        ASSERT_EQ(0, ftruncate(fileno(f), size));
        std::fclose(f);
    }

    hbrtest::TempDir dir_;
    CLog *log_ = nullptr;
};

TEST_F(LogTest, PathsAreCutAfterTheLastSeparator)
{
    EXPECT_EQ("C:\\Agent\\", FolderOfPath("C:\\Agent\\hbr-agent.exe"));
    EXPECT_EQ("/opt/hbr/bin/", FolderOfPath("/opt/hbr/bin/hbr-agent"));
    EXPECT_EQ("/a\\b/", FolderOfPath("/a\\b/c"));
    EXPECT_EQ("/a/b\\", FolderOfPath("/a/b\\c"));
    EXPECT_EQ("plain", FolderOfPath("plain"));

    EXPECT_EQ(dir_.path() + "/HbrAgentService.log", log_->LogPath());
    EXPECT_EQ(dir_.path() + "/HbrAgentServiceBackup.log", log_->BackupLogPath());
    EXPECT_TRUE(std::regex_match(log_->StressLogPath(),
                                 std::regex(dir_.path() + "/quor_stresstool_[0-9]{12}\\.log")));

    // The default instance sits beside the executable.
    char exe[4096] = {};
    ASSERT_GT(readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
    CLog *beside = new CLog();
    EXPECT_EQ(FolderOfPath(exe) + "HbrAgentService.log", beside->LogPath());
    beside->Release();
}

TEST_F(LogTest, PrefixAndLevels)
{
    log_->WriteLog(6, "dropped %d", 6);
    log_->WriteLog(0, "level %d", 0);
    log_->WriteLog(2, "level %d", 2);
    log_->WriteLog(5, "level %d", 5);
    log_->WriteLog(-1, "level %d", -1);
    log_->WriteLog(2, "with newline\n");
    auto lines = Lines(log_->LogPath());
    ASSERT_EQ(6u, lines.size());
    std::regex prefix("^(\\d+) \\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d:\\d{3} : (.*)$");
    std::vector<std::string> texts;
    for (size_t i = 0; i < 5; ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(lines[i], m, prefix)) << lines[i];
        EXPECT_EQ(std::to_string(getpid()), m[1].str());
        texts.push_back(m[2].str());
    }
    EXPECT_EQ((std::vector<std::string>{"level 0", "level 2", "level 5", "level -1", "with newline"}), texts);
    EXPECT_EQ("", lines[5]); // the message's own line end leaves an empty line
}

TEST_F(LogTest, MessageIsWrittenAsText)
{
    log_->WriteLog(2, "%s", "reply %s%n 100%");
    auto lines = Lines(log_->LogPath());
    ASSERT_EQ(1u, lines.size());
    EXPECT_NE(std::string::npos, lines[0].find(" : reply %s%n 100%"));
}

// Secrets learnt are masked wherever they stand alone, but not inside a
// longer run of letters and digits; forgotten, they are written as they are.
TEST_F(LogTest, RememberedSecretsAreMaskedByValue)
{
    RememberSecret("1234");
    RememberSecret("ApnPass-7e3c91d0a4b2");
    RememberSecret("");
    log_->WriteLog(2, "%s", "1234,\"1234\" x1234 12345 89011234567 AB1234EF -1234- ,\"ApnPass-7e3c91d0a4b2\" 1234");
    log_->WriteStressLog("%s", "pw 1234");
    ForgetSecrets();
    log_->WriteLog(2, "%s", "pw 1234");
    auto lines = Lines(log_->LogPath());
    ASSERT_EQ(2u, lines.size());
    EXPECT_NE(std::string::npos, lines[0].find(" : ***,\"***\" x1234 12345 89011234567 AB1234EF -***- ,\"ApnP***\" ***"))
        << lines[0];
    EXPECT_NE(std::string::npos, lines[1].find(" : pw 1234")) << lines[1];
    EXPECT_NE(std::string::npos, hbrtest::ReadFile(log_->StressLogPath()).find(" : pw ***\n"));
}

TEST_F(LogTest, SixthLineRotatesAnOversizedLog)
{
    Fill(log_->LogPath(), CLog::kRotateSize + 1);
    hbrtest::WriteFile(log_->BackupLogPath(), "old backup\n");
    for (int i = 0; i < 5; ++i) {
        log_->WriteLog(2, "x");
    }
    EXPECT_EQ("old backup\n", hbrtest::ReadFile(log_->BackupLogPath()));
    log_->WriteLog(2, "x"); // sixth: checked and moved
    EXPECT_FALSE(hbrtest::FileExists(log_->LogPath()));
    EXPECT_EQ(static_cast<long long>(CLog::kRotateSize) + 1 + 6 * LineBytes(),
              hbrtest::FileSize(log_->BackupLogPath()));
    log_->WriteLog(2, "x"); // seventh: a new log
    EXPECT_EQ(LineBytes(), hbrtest::FileSize(log_->LogPath()));
}

TEST_F(LogTest, CounterIsSharedByAllInstances)
{
    Fill(log_->LogPath(), CLog::kRotateSize + 1);
    for (int i = 0; i < 3; ++i) {
        log_->WriteLog(2, "x");
    }
    CLog *other = new CLog(dir_.path().c_str());
    for (int i = 0; i < 2; ++i) {
        other->WriteLog(2, "x");
    }
    EXPECT_TRUE(hbrtest::FileExists(log_->LogPath()));
    other->WriteLog(2, "x");
    EXPECT_FALSE(hbrtest::FileExists(log_->LogPath()));
    other->Release();
}

TEST_F(LogTest, ExactlyTheLimitIsNotRotated)
{
    Fill(log_->LogPath(), static_cast<long long>(CLog::kRotateSize) - 6 * LineBytes());
    for (int i = 0; i < 6; ++i) {
        log_->WriteLog(2, "x");
    }
    EXPECT_EQ(static_cast<long long>(CLog::kRotateSize), hbrtest::FileSize(log_->LogPath()));
    EXPECT_FALSE(hbrtest::FileExists(log_->BackupLogPath()));
}

TEST_F(LogTest, UnwritableLogDoesNotCountLines)
{
    CLog *nowhere = new CLog((dir_.path() + "/missing/").c_str());
    Fill(log_->LogPath(), CLog::kRotateSize + 1);
    for (int i = 0; i < 10; ++i) {
        nowhere->WriteLog(2, "lost");
    }
    nowhere->Release();
    for (int i = 0; i < 5; ++i) {
        log_->WriteLog(2, "x");
    }
    EXPECT_TRUE(hbrtest::FileExists(log_->LogPath()));
    log_->WriteLog(2, "x");
    EXPECT_FALSE(hbrtest::FileExists(log_->LogPath()));
}

TEST_F(LogTest, DeletedLogIsCreatedAgain)
{
    log_->WriteLog(2, "first");
    ASSERT_EQ(0, std::remove(log_->LogPath().c_str()));
    log_->WriteLog(2, "second");
    auto lines = Lines(log_->LogPath());
    ASSERT_EQ(1u, lines.size());
    EXPECT_NE(std::string::npos, lines[0].find("second"));
}

TEST_F(LogTest, StressMessagesAreCutTo4095Characters)
{
    log_->WriteStressLog("%s", std::string(5000, 's').c_str());
    log_->WriteStressLog("short %d", 1);
    auto lines = Lines(log_->StressLogPath());
    ASSERT_EQ(2u, lines.size());
    size_t sep = lines[0].find(" : ");
    ASSERT_NE(std::string::npos, sep);
    EXPECT_EQ(std::string(4095, 's'), lines[0].substr(sep + 3));
    EXPECT_NE(std::string::npos, lines[1].find(" : short 1"));
    EXPECT_FALSE(hbrtest::FileExists(log_->LogPath())); // no counter, no service log
}

// The stress log masks a message before it cuts it: a remembered secret
// across character 4,095 leaves only its mask.
TEST_F(LogTest, AStressMessageIsMaskedBeforeItIsCut)
{
    const std::string secret = "Str4ddl3dS3cretV4lu3";
    RememberSecret(secret);
    log_->WriteStressLog("%s %s tail", std::string(4085, 'p').c_str(), secret.c_str());
    auto lines = Lines(log_->StressLogPath());
    ASSERT_EQ(1u, lines.size());
    const std::string message = lines[0].substr(lines[0].find(" : ") + 3);
    EXPECT_EQ(std::string(4085, 'p') + " " + MaskSecret(secret) + " t", message);
    EXPECT_EQ(std::string::npos, message.find(secret.substr(0, 5)));
}

TEST_F(LogTest, ConcurrentWritersProduceWholeLines)
{
    const int kThreads = 8, kLines = 150;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([this, t] {
            std::string payload(200, static_cast<char>('a' + t));
            for (int i = 0; i < kLines; ++i) {
                log_->WriteLog(2, "T%d-%d-%s", t, i, payload.c_str());
            }
        });
    }
    for (auto &th : threads) th.join();
    auto lines = Lines(log_->LogPath());
    ASSERT_EQ(static_cast<size_t>(kThreads * kLines), lines.size());
    std::regex whole("^\\d+ \\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d:\\d{3} : T([0-7])-\\d+-([a-h])\\2{199}$");
    for (const auto &line : lines) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, whole)) << line.substr(0, 80);
        EXPECT_EQ(m[1].str()[0] - '0', m[2].str()[0] - 'a');
    }
}

} // namespace
