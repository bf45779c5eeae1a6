#include "modem_sim.h"

#include "control_server.h"

#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

ModemSim::ModemSim(const std::string &simPath) : exe_(simPath) {}

bool ModemSim::Start(const std::vector<std::string> &options)
{
    Stop();
    world_ = false;
    std::vector<std::string> args = {exe_, "--state-dir", dir_ / "sim"};
    args.insert(args.end(), options.begin(), options.end());
    return Launch(exe_, args, "hbr-modem-sim");
}

bool ModemSim::StartWorld(const std::string &scenarioJson)
{
    Stop();
    world_ = true;
    hbrtest::WriteFile(dir_ / "scenario.json", scenarioJson);
    std::vector<std::string> args = {"python3", HBR_WORLD_PATH, "--scenario", dir_ / "scenario.json",
                                     "--state", dir_ / "world", "--bin", HBR_BIN_DIR,
                                     "--deployment", HBR_DEPLOYMENT_DATA_DIR,
                                     "--deployment-servers", HBR_DEPLOYMENT_SERVERS_DIR,
                                     "--pki", HBR_TEST_PKI_DIR};
    return Launch("/usr/bin/env", args, "hbr-world");
}

std::map<std::string, std::string> ModemSim::WorldAgentEnv(int sleepDivisor) const
{
    std::map<std::string, std::string> env = env_;
    env["HBR_SLEEP_DIVISOR"] = std::to_string(sleepDivisor);
    return env;
}

bool ModemSim::Launch(const std::string &exe, const std::vector<std::string> &args, const char *name)
{
    int errFd = open((dir_ / "sim.stderr").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    int pipeFds[2];
    if (errFd < 0 || pipe2(pipeFds, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "cannot prepare the simulator's output: " << std::strerror(errno);
        if (errFd >= 0) close(errFd);
        return false;
    }
    std::vector<std::string> argv = args;
    if (exe == "/usr/bin/env") argv.insert(argv.begin(), exe);
    pid_ = hbr_test::StartChildProcess(exe, argv, nullptr, pipeFds[1], errFd);
    close(errFd);
    close(pipeFds[1]);

    // NAME=value lines, then READY; EOF or 30 s of silence means it failed.
    env_.clear();
    std::string pending;
    bool ready = false;
    while (pid_ > 0 && !ready) {
        pollfd p = {pipeFds[0], POLLIN, 0};
        int r = poll(&p, 1, 30000);
        if (r < 0 && errno == EINTR) continue;
        char buffer[512];
        ssize_t n = r > 0 ? read(pipeFds[0], buffer, sizeof(buffer)) : 0;
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        pending.append(buffer, static_cast<size_t>(n));
        size_t end;
        while (!ready && (end = pending.find('\n')) != std::string::npos) {
            std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            size_t eq = line.find('=');
            if (line == "READY") ready = true;
            else if (eq != std::string::npos) env_[line.substr(0, eq)] = line.substr(eq + 1);
        }
    }
    // The transcript that follows is not read; the simulator ignores the
    // broken pipe.
    close(pipeFds[0]);
    if (!ready) {
        Stop();
        ADD_FAILURE() << name << " did not start:\n" << Stderr() << hbrtest::ReadFile(dir_ / "world/world.err");
        return false;
    }
    return true;
}

void ModemSim::Stop()
{
    // hbr-world stops and reaps its peers on SIGTERM.
    if (pid_ > 0 && world_ && Terminate(20000) >= 0) return;
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    pid_ = -1;
}

int ModemSim::Terminate(int timeoutMs)
{
    if (pid_ <= 0) return -1;
    kill(pid_, SIGTERM);
    int code = -1;
    hbrtest::WaitUntil(
        [&] {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) != pid_) return false;
            code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            pid_ = -1;
            return true;
        },
        timeoutMs);
    return code;
}

std::map<std::string, std::string> ModemSim::AgentEnv(int sleepDivisor) const
{
    return {{"HBR_SYSFS_ROOT", Env("HBR_SYSFS_ROOT")},
            {"HBR_DEV_ROOT", Env("HBR_DEV_ROOT")},
            {"HBR_MBN_SOCKET", Env("HBR_MBN_SOCKET")},
            {"HBR_SLEEP_DIVISOR", std::to_string(sleepDivisor)}};
}

std::string ModemSim::Env(const std::string &name) const
{
    auto it = env_.find(name);
    return it == env_.end() ? std::string() : it->second;
}

std::string ModemSim::Control(const std::string &command) const
{
    std::string answer, error;
    if (!hbrmodemsim::controlRequest(Env("HBR_MODEM_CONTROL"), command, answer, &error)) {
        ADD_FAILURE() << "control command \"" << command << "\": " << error;
        return "";
    }
    return answer;
}

std::vector<ModemSim::Record> ModemSim::Records() const
{
    std::vector<Record> out;
    for (const std::string &line : hbr_test::ReadLines(Env("HBR_MODEM_RECORDS"))) {
        Record r;
        if (hbrmodemsim::parseRecord(line, r)) out.push_back(r);
    }
    return out;
}

std::vector<ModemSim::Record> ModemSim::Records(const std::string &kind, const std::string &transport) const
{
    std::vector<Record> out;
    for (const Record &r : Records()) {
        if (r.kind == kind && (transport.empty() || r.transport == transport)) out.push_back(r);
    }
    return out;
}

bool ModemSim::WaitForRecords(const std::function<bool(const Record &)> &match, int count, int timeoutMs) const
{
    return hbrtest::WaitUntil(
        [&] {
            int n = 0;
            for (const Record &r : Records()) n += match(r) ? 1 : 0;
            return n >= count;
        },
        timeoutMs);
}
