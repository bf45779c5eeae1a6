// ModemSim: the simulated module (hbr-modem-sim) for a test, in a temp
// folder of its own, started through hbr-world with a world of the module
// alone (or the whole world of peers); gives the environment for
// AgentProcess::Start, sends control commands and reads the records.
// Stop() (also run by the destructor) and Terminate() (which answers the
// exit code) end it with SIGTERM. Start() again after a stop reuses the
// same paths.
#ifndef HBR_E2E_MODEM_SIM_H
#define HBR_E2E_MODEM_SIM_H

#include "record_log.h"
#include "test_support.h"
#include "world_process.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

class ModemSim {
public:
    explicit ModemSim(const std::string &simPath);
    ~ModemSim() { Stop(); }
    ModemSim(const ModemSim &) = delete;
    ModemSim &operator=(const ModemSim &) = delete;

    // Starts the module with these hbr-modem-sim options besides the paths
    // (e.g. {"--platform", "1"}) and its own eUICC; false (with a test
    // failure) when it does not come up.
    bool Start(const std::vector<std::string> &options = {});
    // The whole world instead (tools/world/hbr-world): the module, the
    // SM-DP+, the bootstrap and cloud servers and the NTP server from a
    // scenario (JSON text). Env() then gives everything hbr-world printed;
    // Stop() ends every peer. With `agentDir`, the SM-DP+ records with each
    // request whether the agent's CA file there exists (req-<n>.watch).
    bool StartWorld(const std::string &scenarioJson, const std::string &agentDir = "");
    // hbr-world's environment for the agent, with the divisor.
    std::map<std::string, std::string> WorldAgentEnv(int sleepDivisor) const;
    void Stop() { world_.Stop(); }
    // SIGTERM; answers the exit code, or -1 when it did not end in time.
    int Terminate(int timeoutMs = 10000) { return world_.Terminate(timeoutMs); }
    bool Running() const { return world_.Running(); }

    // HBR_SYSFS_ROOT, HBR_DEV_ROOT, HBR_MBN_SOCKET and HBR_SLEEP_DIVISOR.
    std::map<std::string, std::string> AgentEnv(int sleepDivisor = 10) const;
    // A value it printed at start-up (e.g. "HBR_MODEM_CONTROL").
    std::string Env(const std::string &name) const { return world_.Env(name); }
    const std::string &Folder() const { return dir_.path(); }
    std::string Stderr() const { return world_.Stderr(); }

    // Sends one control command; answers the answer line ("OK…" or
    // "ERR…"), or "" with a test failure when there is no answer.
    std::string Control(const std::string &command) const;

    using Record = hbrmodemsim::Record;
    std::vector<Record> Records() const;
    // The records of one kind (and transport, when given).
    std::vector<Record> Records(const std::string &kind, const std::string &transport = "") const;
    // Waits until at least `count` records match.
    bool WaitForRecords(const std::function<bool(const Record &)> &match, int count = 1,
                        int timeoutMs = 30000) const;

private:
    bool Launch(const std::string &scenarioJson, const std::string &agentDir);

    hbrtest::TempDir dir_;
    std::string binDir_; // hbr-modem-sim's folder, with hbr-reg
    hbr_test::WorldProcess world_;
};

#endif
