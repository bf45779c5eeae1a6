// The agent killed at random points of its registry writes leaves every
// value readable as its old or its new content, and the store unlocked.
#include "control_server.h"
#include "flows_e2e.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <random>
#include <thread>

using namespace flows_e2e;

namespace {

class AgentStoreCrashE2E : public FlowsE2E {};

// The agent writes its state at start (0, then 1 once the AT channel is up)
// and twice per activation (2, then 5: code 1007 fails each one before any
// peer is asked). A thread keeps notifying, so a run of the agent is a
// continuing run of writes; each round starts the agent and kills it
// (SIGKILL) anywhere in twice the time it takes to come up.
TEST_F(AgentStoreCrashE2E, KilledAgentLeavesOldOrNewValues)
{
    Scenario s;
    s.platform = "0";
    s.retryErrorCode = 1007;
    Start(s);
    Stop();
    ASSERT_EQ(1ul, State());
    const auto env = worldPtr_->WorldAgentEnv(1000);
    const std::string ready = "DestroyAtChannelTimer";
    auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(agentPtr_->Start(env, AgentProcess::ProxyVariables()));
    ASSERT_TRUE(agentPtr_->WaitForLog(ready, 30000, Logs(ready) + 1));
    const long spanMicros = std::chrono::duration_cast<std::chrono::microseconds>(
                                std::chrono::steady_clock::now() - started).count();
    Stop();

    const std::string root = worldPtr_->Env("HBR_REGISTRY_ROOT");
    const std::string stateKey = kStateKey;
    const std::string serviceKey = "HKLM\\" + stateKey.substr(0, stateKey.rfind('\\'));
    std::string keyFolder = root + "/HKLM/" + stateKey;
    std::replace(keyFolder.begin(), keyFolder.end(), '\\', '/');
    std::atomic<bool> notifying(true);
    std::thread notifier([&] {
        while (notifying) {
            std::string answer, error;
            hbrmodemsim::controlRequest(worldPtr_->Env("HBR_MODEM_CONTROL"), "notify ACTIVE", answer, &error);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    std::mt19937 random(20261);
    unsigned long last = State();
    int changed = 0, temps = 0;
    const int rounds = 200;
    for (int round = 1; round <= rounds; ++round) {
        ASSERT_TRUE(agentPtr_->Start(env, AgentProcess::ProxyVariables()));
        std::this_thread::sleep_for(std::chrono::microseconds(random() % (2 * spanMicros)));
        agentPtr_->Signal(SIGKILL);
        ASSERT_NE(-1, agentPtr_->WaitExit());
        const unsigned long state = State();
        ASSERT_TRUE(state <= 2 || state == 5) << "round " << round << ": corrupt or never written: " << state;
        changed += state != last;
        last = state;
        EXPECT_TRUE(hbrtest::StoreLockFree(root)) << "round " << round << ": the store lock stayed held";
        temps += hbrtest::ValueTempFiles(keyFolder);
        // Dot-names are never keys or values; the world's values stay.
        if (round % 10 == 0) {
            auto r = hbrtest::RunProcess({HBR_REG_PATH, "query", serviceKey, "/s"}, {{"HBR_REGISTRY_ROOT", root}});
            EXPECT_EQ(0, r.exitCode) << r.err;
            EXPECT_EQ(std::string::npos, r.out.find(".values"));
            EXPECT_NE(std::string::npos, r.out.find("    BootstrapServerUrl    REG_SZ    https://127.0.0.1:"));
        }
    }
    notifying = false;
    notifier.join();
    std::printf("%d/%d rounds changed the state, %d temp files left\n", changed, rounds, temps);
    EXPECT_GT(changed, rounds / 10) << "the agent hardly wrote";
    // A whole run: the agent's own writes sweep the temp files killed runs left.
    ASSERT_TRUE(agentPtr_->Start(env, AgentProcess::ProxyVariables()));
    ASSERT_TRUE(agentPtr_->WaitForLog(ready, 30000, Logs(ready) + 1));
    Stop();
    EXPECT_EQ(1ul, State());
    EXPECT_EQ(0, hbrtest::ValueTempFiles(keyFolder));
}

} // namespace
