#include <gtest/gtest.h>

#include "test_support.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <thread>
#include <string>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <sys/stat.h>
#include <unistd.h>

extern char **environ;

using hbrtest::RegistryRootTest;
using hbrtest::RunProcess;

namespace {

class HbrReg : public RegistryRootTest {
protected:
    hbrtest::ProcessResult Reg(std::vector<std::string> args, const std::string &input = "")
    {
        args.insert(args.begin(), HBR_REG_PATH);
        return RunProcess(args, {}, input);
    }
};

TEST_F(HbrReg, WhatTheApiWritesTheToolReads)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\Acme", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    DWORD v = 0x2A;
    RegSetValueExA(key, "Answer", 0, REG_DWORD, reinterpret_cast<BYTE *>(&v), 4);
    RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE *>("text"), 5);
    const BYTE multi[] = "a\0bc\0";
    RegSetValueExA(key, "List", 0, REG_MULTI_SZ, multi, sizeof multi);
    RegCloseKey(key);

    auto r = Reg({"query", "HKLM\\SYSTEM\\Acme"});
    ASSERT_EQ(0, r.exitCode) << r.err;
    EXPECT_NE(std::string::npos, r.out.find("HKEY_LOCAL_MACHINE\\SYSTEM\\Acme\n"));
    EXPECT_NE(std::string::npos, r.out.find("    Answer    REG_DWORD    0x2a\n"));
    EXPECT_NE(std::string::npos, r.out.find("    (Default)    REG_SZ    text\n"));
    EXPECT_NE(std::string::npos, r.out.find("    List    REG_MULTI_SZ    a\\0bc\n"));

    r = Reg({"query", "HKEY_LOCAL_MACHINE\\system\\acme", "/v", "answer"});
    EXPECT_EQ(0, r.exitCode);
    EXPECT_NE(std::string::npos, r.out.find("Answer    REG_DWORD    0x2a"));
}

TEST_F(HbrReg, RoundTripsWithExactBytes)
{
    ASSERT_EQ(0, Reg({"add", "HKLM\\K\\Sub", "/ve", "/d", "hello", "/f"}).exitCode);
    ASSERT_EQ(0, Reg({"add", "HKLM\\K\\Sub", "/v", "Dec", "/t", "REG_DWORD", "/d", "4294967295", "/f"}).exitCode);
    ASSERT_EQ(0, Reg({"add", "HKLM\\K\\Sub", "/v", "Hex", "/t", "REG_DWORD", "/d", "0x1F", "/f"}).exitCode);
    ASSERT_EQ(0, Reg({"add", "HKLM\\K\\Sub", "/v", "M", "/t", "REG_MULTI_SZ", "/d", "x,yz", "/s", ",", "/f"}).exitCode);

    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "K\\Sub", 0, KEY_READ, &key));
    char text[16] = {};
    DWORD size = sizeof text, type = 0;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<BYTE *>(text), &size));
    EXPECT_EQ(REG_SZ, type);
    EXPECT_EQ(6u, size); // the text plus a NUL
    EXPECT_STREQ("hello", text);
    DWORD v = 0;
    size = 4;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "Dec", nullptr, &type, reinterpret_cast<BYTE *>(&v), &size));
    EXPECT_EQ(0xFFFFFFFFu, v);
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "Hex", nullptr, &type, reinterpret_cast<BYTE *>(&v), &size));
    EXPECT_EQ(0x1Fu, v);
    BYTE multi[16];
    size = sizeof multi;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "M", nullptr, &type, multi, &size));
    EXPECT_EQ(REG_MULTI_SZ, type);
    ASSERT_EQ(6u, size);
    EXPECT_EQ(0, std::memcmp("x\0yz\0\0", multi, 6));
    RegCloseKey(key);

    auto r = Reg({"query", "HKLM\\K", "/s"});
    EXPECT_EQ(0, r.exitCode);
    EXPECT_NE(std::string::npos, r.out.find("HKEY_LOCAL_MACHINE\\K\\Sub\n    (Default)    REG_SZ    hello\n"));

    ASSERT_EQ(0, Reg({"delete", "HKLM\\K\\Sub", "/ve", "/f"}).exitCode);
    EXPECT_EQ(1, Reg({"query", "HKLM\\K\\Sub", "/ve"}).exitCode);
    ASSERT_EQ(0, Reg({"delete", "HKLM\\K", "/f"}).exitCode);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "K", 0, KEY_READ, &key));
}

TEST_F(HbrReg, ErrorsExitOneWithAMessage)
{
    auto r = Reg({"query", "HKLM\\Missing"});
    EXPECT_EQ(1, r.exitCode);
    EXPECT_EQ(0u, r.err.rfind("ERROR: ", 0));
    for (auto args : std::vector<std::vector<std::string>>{
             {"add", "HKLM\\K", "/v", "d", "/t", "REG_DWORD", "/d", "12x", "/f"},
             {"add", "HKLM\\K", "/v", "d", "/t", "REG_DWORD", "/d", "0x100000000", "/f"},
             {"add", "HKLM\\K", "/v", "d", "/t", "REG_BOGUS", "/d", "1", "/f"},
             {"add", "HKCU\\K", "/v", "d", "/f"},
             {"add", "HKLM\\K", "/v"},
             {"frobnicate", "HKLM\\K"},
             {"delete", "HKLM\\K", "/v", "none", "/f"},
         }) {
        r = Reg(args);
        EXPECT_EQ(1, r.exitCode) << args[0] << " " << args.back();
        EXPECT_EQ(0u, r.err.rfind("ERROR: ", 0)) << r.err;
    }
    // Overwriting without /f asks; "no" keeps the value.
    ASSERT_EQ(0, Reg({"add", "HKLM\\K", "/v", "d", "/d", "old", "/f"}).exitCode);
    EXPECT_EQ(1, Reg({"add", "HKLM\\K", "/v", "d", "/d", "new"}, "no\n").exitCode);
    EXPECT_NE(std::string::npos, Reg({"query", "HKLM\\K", "/v", "d"}).out.find("old"));
    EXPECT_EQ(0, Reg({"add", "HKLM\\K", "/v", "d", "/d", "new"}, "yes\n").exitCode);
    EXPECT_NE(std::string::npos, Reg({"query", "HKLM\\K", "/v", "d"}).out.find("new"));
}

// A hand-edited or damaged value file makes the key read as corrupt (1015)
// through the API and the tool, never an exception or a crash, until a value
// is set: the write moves the damaged file aside under a name no earlier
// aside file has and starts the key afresh with the new value.
TEST_F(HbrReg, MalformedValueFilesReadAsCorruptUntilAWriteMovesThemAside)
{
    struct Damaged {
        const char *what;
        std::string text;
        int serial; // of the fresh file: the damaged header's plus one, or 1
    };
    const Damaged files[] = {
        {"huge count", "HBRREG1 1\n4 9223372036854775808 a -\n", 2},
        {"count past 64 bits", "HBRREG1 1\n4 99999999999999999999 a 00\n", 2},
        {"negative count", "HBRREG1 1\n4 -1 a 00\n", 2},
        {"count not matching", "HBRREG1 1\n4 2 a 00\n", 2},
        {"non-numeric count", "HBRREG1 1\n4 x a 00\n", 2},
        {"negative type", "HBRREG1 1\n-4 1 a 00\n", 2},
        {"type past 32 bits", "HBRREG1 1\n4294967296 1 a 00\n", 2},
        {"truncated hex", "HBRREG1 1\n4 2 a 000\n", 2},
        {"bad hex digit", "HBRREG1 41\n4 1 a 0G\n", 42},
        {"missing field", "HBRREG1 1\n4 1 a\n", 2},
        {"extra field", "HBRREG1 1\n4 1 a 00 00\n", 2},
        {"missing header", "4 1 a 00\n", 1},
        {"bad serial", "HBRREG1 -2\n", 1},
        {"empty file", "", 1},
        {"binary junk", std::string("HBRREG1 1\n\x01\xff\0\x7f 9 \x80\n", 16), 2},
    };
    ASSERT_EQ(0, Reg({"add", "HKLM\\K", "/v", "Level", "/t", "REG_DWORD", "/d", "5", "/f"}).exitCode);
    const std::string dir = root() + "/HKLM/K/";
    const std::string path = dir + ".values";
    int asides = 0;
    for (const auto &file : files) {
        SCOPED_TRACE(file.what);
        // Through the API, as the agent writes its state mirror.
        hbrtest::WriteFile(path, file.text);
        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "K", 0, KEY_ALL_ACCESS, &key));
        DWORD v = 7, size = sizeof v;
        EXPECT_EQ(1015, RegQueryValueExA(key, "Level", nullptr, nullptr, reinterpret_cast<BYTE *>(&v), &size));
        auto r = Reg({"query", "HKLM\\K"});
        EXPECT_EQ(1, r.exitCode);
        EXPECT_EQ("ERROR: The registry is corrupted. (error 1015)\n", r.err);
        EXPECT_EQ(file.text, hbrtest::ReadFile(path)); // reads leave it alone
        ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueA(key, nullptr, "Other", REG_DWORD, &v, 4));
        v = 0;
        size = sizeof v;
        EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "Other", nullptr, nullptr, reinterpret_cast<BYTE *>(&v), &size));
        EXPECT_EQ(7u, v);
        EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExA(key, "Level", nullptr, nullptr, nullptr, nullptr));
        RegCloseKey(key);
        EXPECT_EQ(file.text, hbrtest::ReadFile(dir + ".values.damaged." + std::to_string(++asides)));
        const std::string fresh = hbrtest::ReadFile(path);
        EXPECT_EQ("HBRREG1 " + std::to_string(file.serial), fresh.substr(0, fresh.find('\n')));

        // Through the tool, which names the aside file.
        hbrtest::WriteFile(path, file.text);
        r = Reg({"add", "HKLM\\K", "/v", "Level", "/t", "REG_DWORD", "/d", "6", "/f"});
        EXPECT_EQ(0, r.exitCode) << r.err;
        const std::string aside = dir + ".values.damaged." + std::to_string(++asides);
        EXPECT_EQ("The damaged value file was moved aside as " + aside + ".\nThe operation completed successfully.\n",
                  r.out);
        EXPECT_EQ(file.text, hbrtest::ReadFile(aside));
        r = Reg({"query", "HKLM\\K"});
        EXPECT_EQ(0, r.exitCode) << r.err;
        EXPECT_EQ("\nHKEY_LOCAL_MACHINE\\K\n    Level    REG_DWORD    0x6\n", r.out); // no aside file
    }
    // The aside files stay as they were.
    EXPECT_EQ(files[0].text, hbrtest::ReadFile(dir + ".values.damaged.1"));
}

// Errors carry their number and the usual text; a failed deep add leaves
// no part of the key chain it began.
TEST_F(HbrReg, ErrorTextsAndNoPartialChain)
{
    ASSERT_EQ(0, Reg({"add", "HKLM\\Have", "/f"}).exitCode);
    const std::string tooLong(300, 'n');
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"query", "HKLM\\Missing"}, "ERROR: The system cannot find the file specified. (error 2)\n"},
        {{"add", "HKLM\\Have\\A\\B\\" + tooLong, "/v", "x", "/d", "1", "/f"},
         "ERROR: The parameter is incorrect. (error 87)\n"},
    };
    for (const auto &c : cases) {
        auto r = Reg(c.first);
        EXPECT_EQ(1, r.exitCode);
        EXPECT_EQ(c.second, r.err);
    }
    HKEY key;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Have\\A", 0, KEY_READ, &key));
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Have", 0, KEY_READ, &key));
    RegCloseKey(key);

    // A read-only folder: access denied, nothing made below it.
    chmod((root() + "/HKLM/Have").c_str(), 0555);
    if (geteuid() != 0) {
        auto r = Reg({"add", "HKLM\\Have\\X\\Y", "/f"});
        EXPECT_EQ("ERROR: Access is denied. (error 5)\n", r.err);
    }
    chmod((root() + "/HKLM/Have").c_str(), 0755);
}

// The value text of write number k: its number, then 24000 characters
// that follow from it, so any mix of two writes is detected.
std::string Numbered(int k)
{
    return "k=" + std::to_string(k) + ";" + std::string(24000, static_cast<char>('a' + k % 26));
}

// -1 when the text is no complete Numbered(k).
int NumberOf(const std::string &text)
{
    if (text.compare(0, 2, "k=") != 0) return -1;
    int k = std::atoi(text.c_str() + 2);
    return text == Numbered(k) ? k : -1;
}

// Not a test of its own: the writer process of KilledWritersLeaveOldOrNewValues.
TEST(HbrRegWriter, Loop)
{
    const char *from = std::getenv("HBR_TEST_REGISTRY_WRITER_FROM");  // set with HBR_REGISTRY_ROOT
    if (from == nullptr) {
        GTEST_SKIP() << "run by KilledWritersLeaveOldOrNewValues";
    }
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Crash", 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) _exit(2);
    for (int k = std::atoi(from);; ++k) {
        std::string text = Numbered(k);
        RegSetValueExA(key, "V", 0, REG_SZ, reinterpret_cast<const BYTE *>(text.c_str()),
                       static_cast<DWORD>(text.size() + 1));
    }
}

// The environment is the process's: one lane at a time reads it, or reads
// through the registry API under its own root.
std::mutex environmentLock;

// The write number value V of key Crash holds under `root` (-1: corrupt).
int ReadNumbered(const std::string &root)
{
    std::lock_guard<std::mutex> hold(environmentLock);
    hbrtest::ScopedEnv registry("HBR_REGISTRY_ROOT", root.c_str());
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Crash", 0, KEY_READ, &key) != ERROR_SUCCESS) return -1;
    std::string text(30000, '\0');
    DWORD size = static_cast<DWORD>(text.size()), type = 0;
    LSTATUS rc = RegQueryValueExA(key, "V", nullptr, &type, reinterpret_cast<BYTE *>(&text[0]), &size);
    RegCloseKey(key);
    text.resize(rc == ERROR_SUCCESS && size > 0 ? size - 1 : 0);
    return NumberOf(text);
}

// The processes of one lane, spawned (a fork of a sanitized, threaded test
// process is slow) with this process's environment, the lane's registry
// root and an optional writer start.
class LaneSpawner {
public:
    explicit LaneSpawner(const std::string &root)
    {
        std::lock_guard<std::mutex> hold(environmentLock);
        for (char **e = environ; *e != nullptr; ++e) {
            if (std::strncmp(*e, "HBR_REGISTRY_ROOT=", 18) != 0) texts_.push_back(*e);
        }
        texts_.push_back("HBR_REGISTRY_ROOT=" + root);
    }
    // Starts `argv`, its output to `outPath`; -1 when it cannot start.
    pid_t Start(const std::vector<std::string> &argv, const std::string &outPath = "/dev/null", int writerFrom = 0)
    {
        std::vector<std::string> texts = texts_;
        if (writerFrom > 0) texts.push_back("HBR_TEST_REGISTRY_WRITER_FROM=" + std::to_string(writerFrom));
        std::vector<char *> args, envp;
        for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        for (std::string &t : texts) envp.push_back(&t[0]);
        envp.push_back(nullptr);
        posix_spawn_file_actions_t output;
        posix_spawn_file_actions_init(&output);
        posix_spawn_file_actions_addopen(&output, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        pid_t pid = -1;
        const int rc = posix_spawn(&pid, args[0], &output, nullptr, args.data(), envp.data());
        posix_spawn_file_actions_destroy(&output);
        return rc == 0 ? pid : -1;
    }
    // Runs `argv` to its end: its exit code (-1: not started or killed).
    int Run(const std::vector<std::string> &argv, const std::string &outPath = "/dev/null")
    {
        pid_t pid = Start(argv, outPath);
        int status = 0;
        if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    std::vector<std::string> texts_;
};

// One lane of KilledWritersLeaveOldOrNewValues: a store of its own under
// `root`, whose writer (hbr-reg, or a process writing through the registry
// API as the agent does) is killed at a random point of its writes in each
// round. `changed` counts the rounds that changed the value, per writer.
void KillWriterLane(const std::string &root, int lane, int rounds, int changed[2], int *temps)
{
    SCOPED_TRACE(lane);
    LaneSpawner spawner(root);
    auto add = [&](int k) {
        return spawner.Run({HBR_REG_PATH, "add", "HKLM\\Crash", "/v", "V", "/d", Numbered(k), "/f"});
    };
    // Kills land anywhere in twice a whole run of hbr-reg (the fastest of
    // three, so that one slow start on a busy machine does not stretch them all).
    long spanMicros = 1L << 40;
    for (int i = 0; i < 3; ++i) {
        auto start = std::chrono::steady_clock::now();
        ASSERT_EQ(0, add(0));
        spanMicros = std::min<long>(spanMicros, std::chrono::duration_cast<std::chrono::microseconds>(
                                                    std::chrono::steady_clock::now() - start).count());
    }
    spanMicros = std::max<long>(1000, spanMicros);
    const std::string dir = root + "/HKLM/Crash";
    hbrtest::TempDir scratch;
    const std::string queryOut = scratch / "query.out";

    std::mt19937 random(20260 + lane);
    int last = 0;
    for (int round = 1; round <= rounds; ++round) {
        const bool tool = round % 2 == 1;
        const int first = last + 1;
        // Either hbr-reg, or a fresh process of this program (a forked copy
        // of a threaded process may hold a lock forever) writing in a loop.
        pid_t pid = tool ? spawner.Start({HBR_REG_PATH, "add", "HKLM\\Crash", "/v", "V", "/d", Numbered(first), "/f"})
                         : spawner.Start({"/proc/self/exe", "--gtest_filter=HbrRegWriter.Loop"}, "/dev/null", first);
        ASSERT_GT(pid, 0);
        std::this_thread::sleep_for(std::chrono::microseconds(random() % (2 * spanMicros)));
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
        const int k = ReadNumbered(root);
        ASSERT_GE(k, last) << "round " << round << ": corrupt or older value";
        changed[tool] += k != last;
        last = k;

        EXPECT_TRUE(hbrtest::StoreLockFree(root)) << "round " << round << ": the store lock stayed held";

        // Dot-names are never keys or values (every tenth round: a query
        // lists the key's values and subkeys).
        if (round % 10 == 0) {
            EXPECT_EQ(0, spawner.Run({HBR_REG_PATH, "query", "HKLM\\Crash", "/s"}, queryOut));
            const std::string out = hbrtest::ReadFile(queryOut);
            EXPECT_EQ(std::string::npos, out.find(".values"));
            EXPECT_EQ(out.find("    V    REG_SZ    "), out.rfind("    V    REG_SZ    "));
        }
        *temps += hbrtest::ValueTempFiles(dir);
    }
    // The next writer sweeps the dead writers' temp files.
    ASSERT_EQ(0, add(last + 1));
    EXPECT_EQ(last + 1, ReadNumbered(root));
    EXPECT_EQ(0, hbrtest::ValueTempFiles(dir));
}

// Kills writers at random points of their writes, 400 rounds (200 per
// writer) in eight lanes with a store each, so that the process starts, slow
// under the sanitizers, overlap: every value reads back as a complete old or
// new text, the store's lock is free again, the killed writer's temp file is
// never a key or value, and the next write sweeps it.
TEST(HbrRegCrash, KilledWritersLeaveOldOrNewValues)
{
    const int lanes = 8, rounds = 50;
    std::vector<std::unique_ptr<hbrtest::TempDir>> stores;
    for (int lane = 0; lane < lanes; ++lane) stores.emplace_back(new hbrtest::TempDir);
    int changed[lanes][2] = {}, temps[lanes] = {};
    std::vector<std::thread> threads;
    for (int lane = 0; lane < lanes; ++lane) {
        threads.emplace_back(KillWriterLane, stores[lane]->path(), lane, rounds, changed[lane], &temps[lane]);
    }
    for (auto &t : threads) t.join();
    int api = 0, tool = 0, allTemps = 0;
    for (int lane = 0; lane < lanes; ++lane) {
        api += changed[lane][0];
        tool += changed[lane][1];
        allTemps += temps[lane];
    }
    std::printf("%d/%d rounds changed the value, %d temp files left\n", api, tool, allTemps);
    EXPECT_GT(allTemps, 0) << "no kill landed between a write and its rename";
    EXPECT_GT(api, lanes * rounds / 40) << "the API writer hardly wrote";
    EXPECT_GT(tool, lanes * rounds / 40) << "hbr-reg hardly wrote";
}

} // namespace
