// The agent killed at random points of its registry writes leaves every
// value readable as its old or its new content, and the store unlocked.
#include "control_server.h"
#include "flows_e2e.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <random>
#include <thread>

using namespace flows_e2e;

namespace {

class AgentStoreCrashE2E : public FlowsE2E {};

// The agent writes its state at start (0, then 1 as the AT channel comes
// up) and three times per activation (2, 3, then 5: code 1007 fails each
// pass before any peer is asked). A thread keeps notifying, so every run
// of the agent is a continuing run of writes; each round starts the agent
// and kills it (SIGKILL) anywhere in twice the time it takes to come up.
TEST_F(AgentStoreCrashE2E, KilledAgentLeavesOldOrNewValues)
{
    Scenario s;
    s.platform = "0";
    s.retryErrorCode = 1007;
    Start(s);
    Stop();
    const std::string root = worldPtr_->Env("HBR_REGISTRY_ROOT");
    hbrtest::ScopedEnv registry("HBR_REGISTRY_ROOT", root.c_str());
    // The state through the registry API; -1 when unreadable or not a DWORD.
    auto state = [] {
        HKEY key;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kStateKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return -1L;
        DWORD value = 0, size = sizeof value, type = 0;
        LSTATUS rc = RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<BYTE *>(&value), &size);
        RegCloseKey(key);
        return rc == ERROR_SUCCESS && type == REG_DWORD && size == 4 ? static_cast<long>(value) : -1L;
    };
    ASSERT_EQ(1, state());

    const auto env = worldPtr_->WorldAgentEnv(1000);
    const std::string ready = "DestroyAtChannelTimer";
    auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(agentPtr_->Start(env, AgentProcess::ProxyVariables()));
    ASSERT_TRUE(agentPtr_->WaitForLog(ready, 30000, Logs(ready) + 1));
    const long spanMicros =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started).count();
    Stop();

    const std::string stateKey = kStateKey;
    const std::string serviceKey = "HKLM\\" + stateKey.substr(0, stateKey.rfind('\\'));
    std::string keyFolder = root + "/HKLM/" + stateKey;
    std::replace(keyFolder.begin(), keyFolder.end(), '\\', '/');
    struct Notifier {
        std::atomic<bool> on{true};
        std::thread thread;
        void Stop()
        {
            on = false;
            if (thread.joinable()) thread.join();
        }
        ~Notifier() { Stop(); }
    } notifier;
    const std::string control = worldPtr_->Env("HBR_MODEM_CONTROL");
    notifier.thread = std::thread([&] {
        while (notifier.on) {
            std::string answer, error;
            hbrmodemsim::controlRequest(control, "notify ACTIVE", answer, &error);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    std::mt19937 random(20261);
    long last = state();
    int changed = 0, temps = 0;
    const int rounds = 200;
    for (int round = 1; round <= rounds; ++round) {
        ASSERT_TRUE(agentPtr_->Start(env, AgentProcess::ProxyVariables()));
        std::this_thread::sleep_for(std::chrono::microseconds(random() % (2 * spanMicros)));
        agentPtr_->Kill();
        const long now = state();
        ASSERT_TRUE(now >= 0 && now <= 5 && now != 4) << "round " << round << ": corrupt or never written: " << now;
        changed += now != last;
        last = now;
        EXPECT_TRUE(hbrtest::StoreLockFree(root)) << "round " << round << ": the store lock stayed held";
        temps += hbrtest::ValueTempFiles(keyFolder);
        // Dot-names are never keys or values; the world's values stay.
        if (round % 20 == 0) {
            auto r = hbrtest::RunProcess({HBR_REG_PATH, "query", serviceKey, "/s"});
            EXPECT_EQ(0, r.exitCode) << r.err;
            EXPECT_EQ(std::string::npos, r.out.find(".values"));
            EXPECT_NE(std::string::npos, r.out.find("    BootstrapServerUrl    REG_SZ    https://127.0.0.1:"));
        }
    }
    std::printf("%ld us to come up; %d/%d rounds changed the state, %d temp files left\n", spanMicros, changed,
                rounds, temps);
    EXPECT_GT(changed, rounds / 10) << "the agent hardly wrote";
    notifier.Stop();
    // A whole run: the agent's own writes sweep the temp files killed runs left.
    std::remove(agentPtr_->LogPath().c_str());
    ASSERT_TRUE(agentPtr_->Start(env, AgentProcess::ProxyVariables()));
    ASSERT_TRUE(agentPtr_->WaitForLog(ready));
    Stop();
    EXPECT_EQ(1, state());
    EXPECT_EQ(0, hbrtest::ValueTempFiles(keyFolder));
}

} // namespace
