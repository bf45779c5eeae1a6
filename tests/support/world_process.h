// hbr_test::WorldProcess: runs tools/world/hbr-world for a test, the one
// launcher of the peers (module, SM-DP+, bootstrap and cloud servers, SNTP)
// that the demo and the soak use too.
//
// Start() writes the scenario (JSON text) into the state folder, starts
// hbr-world there with the build tree's deployment data and throw-away PKI,
// and waits for its READY line; Env() then gives the NAME=value lines it
// printed (the agent's environment, the servers' ports and record folders).
// Stop() (also run by the destructor) ends it with SIGTERM, so it stops and
// reaps every peer, and kills it when it does not end in time. Start()
// again after a stop reuses the same paths.
#ifndef HBR_WORLD_PROCESS_H
#define HBR_WORLD_PROCESS_H

#include <map>
#include <string>
#include <vector>

#include <sys/types.h>

namespace hbr_test {

class WorldProcess {
public:
    WorldProcess() = default;
    ~WorldProcess() { Stop(); }
    WorldProcess(const WorldProcess &) = delete;
    WorldProcess &operator=(const WorldProcess &) = delete;

    // `options`: more hbr-world options (e.g. {"--bin", dir}). False (with a
    // test failure showing hbr-world's and the peers' stderr) when it does
    // not come up.
    bool Start(const std::string &scenarioJson, const std::string &stateDir,
               const std::vector<std::string> &options = {});
    void Stop();
    // SIGTERM; answers the exit code, or -1 when it did not end in time.
    int Terminate(int timeoutMs = 10000);
    bool Running() const { return pid_ > 0; }

    // A value it printed (e.g. "HBR_MODEM_CONTROL"), or "".
    std::string Env(const std::string &name) const;
    const std::map<std::string, std::string> &Environment() const { return env_; }
    // hbr-world's standard error, then each peer's.
    std::string Stderr() const;

private:
    pid_t pid_ = -1;
    std::string stateDir_;
    std::map<std::string, std::string> env_;
};

// `text` as a JSON string literal, for scenarios built in tests.
std::string JsonString(const std::string &text);

}  // namespace hbr_test

#endif  // HBR_WORLD_PROCESS_H
