// The agent killed at random points of its registry writes leaves every
// value readable as its old or its new content, and the store unlocked.
#include "flows_e2e.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <memory>
#include <mutex>
#include <random>
#include <thread>

namespace {

using flows_e2e::kStateKey;
const char kUp[] = "IOTServiceInit success";

// The environment is the process's: one lane at a time reads through the
// registry API or starts an agent (which copies the environment).
std::mutex environmentLock;

// The state through the registry API under `root`; -1 when unreadable or
// not a DWORD.
long State(const std::string &root)
{
    std::lock_guard<std::mutex> hold(environmentLock);
    hbrtest::ScopedEnv registry("HBR_REGISTRY_ROOT", root.c_str());
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kStateKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return -1;
    DWORD value = 0, size = sizeof value, type = 0;
    LSTATUS rc = RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<BYTE *>(&value), &size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS && type == REG_DWORD && size == 4 ? static_cast<long>(value) : -1;
}

// Waits (polling every half millisecond) until the agent's log has a line;
// false after 30 s.
bool WaitForFirstLine(const AgentProcess &agent)
{
    for (int i = 0; i < 60000; ++i) {
        if (hbrtest::FileSize(agent.LogPath()) > 0) return true;
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    return false;
}

// One agent and its store (fresh, in `root`), killed `rounds` times. Every
// start writes the state twice: 0 as the service starts, 1 as it looks for
// the AT channel. Each round kills the agent (SIGKILL) anywhere from its
// first log line, just before the first write, to the end of the second.
void KillLane(AgentProcess *agent, const std::string &root, int lane, int rounds, int *writes, int *temps)
{
    SCOPED_TRACE(lane);
    const std::map<std::string, std::string> env = {{"HBR_REGISTRY_ROOT", root}, {"HBR_SLEEP_DIVISOR", "1000"}};
    auto start = [&] {
        std::remove(agent->LogPath().c_str());
        std::lock_guard<std::mutex> hold(environmentLock);
        return agent->Start(env, AgentProcess::ProxyVariables());
    };
    // Two whole starts: the keys exist, and the time of both writes (the
    // shorter, so that one slow start on a busy machine does not stretch all).
    long spanMicros = 1L << 40;
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(start());
        ASSERT_TRUE(WaitForFirstLine(*agent));
        auto began = std::chrono::steady_clock::now();
        ASSERT_TRUE(agent->WaitForLog(kUp));
        spanMicros = std::min<long>(spanMicros, std::chrono::duration_cast<std::chrono::microseconds>(
                                                    std::chrono::steady_clock::now() - began).count());
        agent->Kill();
    }
    spanMicros = std::max<long>(1000, spanMicros);
    ASSERT_EQ(1, State(root));
    std::string keyFolder = root + "/HKLM/" + kStateKey;
    std::replace(keyFolder.begin(), keyFolder.end(), '\\', '/');

    std::mt19937 random(20261 + lane);
    for (int round = 1; round <= rounds; ++round) {
        ASSERT_TRUE(start());
        ASSERT_TRUE(WaitForFirstLine(*agent));
        std::this_thread::sleep_for(std::chrono::microseconds(random() % spanMicros));
        agent->Kill();
        *writes += hbrtest::CountMessages(agent->Messages(), "RegSetKeyValue REG_IOT_SERVICE_ACTIVE_RESULT Success");
        const long now = State(root);
        ASSERT_TRUE(now == 0 || now == 1) << "round " << round << ": corrupt: " << now;
        EXPECT_TRUE(hbrtest::StoreLockFree(root)) << "round " << round << ": the store lock stayed held";
        *temps += hbrtest::ValueTempFiles(keyFolder);
        // Dot-names are never keys or values.
        if (round % 25 == 0) {
            hbrtest::ProcessResult r;
            {
                std::lock_guard<std::mutex> hold(environmentLock);
                r = hbrtest::RunProcess({HBR_REG_PATH, "query", "HKLM\\SYSTEM", "/s"}, {{"HBR_REGISTRY_ROOT", root}});
            }
            EXPECT_EQ(0, r.exitCode) << r.err;
            EXPECT_EQ(std::string::npos, r.out.find(".values"));
            EXPECT_NE(std::string::npos, r.out.find("IOTServiceActiveOrDeactiveResult\n    (Default)    REG_DWORD    0x"));
        }
    }
    // A whole run: the agent's own writes sweep the temp files killed runs left.
    ASSERT_TRUE(start());
    ASSERT_TRUE(agent->WaitForLog(kUp));
    agent->Kill();
    EXPECT_EQ(1, State(root));
    EXPECT_EQ(0, hbrtest::ValueTempFiles(keyFolder));
}

// 200 kills of the agent, in eight lanes (each its own copy and store) so
// that the process starts, slow under the sanitizers, overlap.
TEST(AgentStoreCrashE2E, KilledAgentLeavesOldOrNewValues)
{
    const int lanes = 8, rounds = 25;
    // Copied before any lane forks: a copy still open for writing in a
    // forked child could not be started.
    std::vector<std::unique_ptr<AgentProcess>> agents;
    std::vector<std::unique_ptr<hbrtest::TempDir>> stores;
    for (int lane = 0; lane < lanes; ++lane) {
        agents.emplace_back(new AgentProcess(HBR_AGENT_PATH));
        stores.emplace_back(new hbrtest::TempDir);
    }
    int writes[lanes] = {}, temps[lanes] = {};
    std::vector<std::thread> threads;
    for (int lane = 0; lane < lanes; ++lane) {
        threads.emplace_back(KillLane, agents[lane].get(), stores[lane]->path(), lane, rounds, &writes[lane],
                             &temps[lane]);
    }
    for (auto &t : threads) t.join();
    int allWrites = 0, allTemps = 0;
    for (int lane = 0; lane < lanes; ++lane) {
        allWrites += writes[lane];
        allTemps += temps[lane];
    }
    std::printf("%d writes logged in %d rounds, %d temp files left\n", allWrites, lanes * rounds, allTemps);
    EXPECT_GT(allWrites, lanes * rounds / 4) << "the agent hardly wrote";
}

} // namespace
