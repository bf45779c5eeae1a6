// AgentProcess: runs a copy of hbr-agent in a fresh temp folder (its log
// goes beside the executable), with a given environment; waits for log
// lines, sends signals, collects stderr and the exit status.
#ifndef HBR_E2E_AGENT_PROCESS_H
#define HBR_E2E_AGENT_PROCESS_H

#include "test_support.h"

#include <map>
#include <string>
#include <vector>

#include <sys/types.h>

class AgentProcess {
public:
    explicit AgentProcess(const std::string &agentPath);
    ~AgentProcess();
    AgentProcess(const AgentProcess &) = delete;
    AgentProcess &operator=(const AgentProcess &) = delete;

    // Starts the copy (again, once the last run ended) with the current
    // environment plus `env`, less the variables named in `unset`; without
    // HBR_MBN_SOCKET in `env`, the device-service socket is <folder>/mbn.sock.
    // Its stderr goes to `errorFd` when given, else to a file (see Stderr()).
    bool Start(const std::map<std::string, std::string> &env = {}, const std::vector<std::string> &unset = {},
               int errorFd = -1);
    // The proxy variables, which must not reach the agent's requests to
    // loopback peers.
    static const std::vector<std::string> &ProxyVariables();

    const std::string &Folder() const { return dir_.path(); }
    std::string LogPath() const { return dir_ / "HbrAgentService.log"; }
    std::vector<std::string> Messages() const { return hbrtest::LogMessages(LogPath()); }

    // Waits until at least `count` log messages contain `text`.
    bool WaitForLog(const std::string &text, int timeoutMs = 30000, int count = 1) const;

    bool Signal(int sig) const;
    // SIGKILL, and waits for the end.
    void Kill();
    // Waits for the process to end; returns its exit code (128 + signal
    // when killed), or -1 on time-out.
    int WaitExit(int timeoutMs = 60000);
    bool Running() const { return pid_ > 0 && !exited_; }
    pid_t Pid() const { return pid_; }

    std::string Stderr() const { return hbrtest::ReadFile(dir_ / "agent.stderr"); }
    // The "SetServiceStatus ..." lines of stderr, without that word.
    std::vector<std::string> StatusReports() const;
    // The resident set of the running process in KiB (VmRSS), or -1.
    long RssKb() const;
    // How many of the running copy's descriptors name `target` (a path, as
    // /proc/<pid>/fd shows it); -1 when it does not run.
    int DescriptorsOn(const std::string &target) const;

private:
    hbrtest::TempDir dir_;
    std::string exe_;
    pid_t pid_ = -1;
    bool exited_ = false;
    int exitCode_ = -1;
};

#endif
