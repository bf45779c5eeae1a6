#include "agent_process.h"

#include <algorithm>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <sstream>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

AgentProcess::AgentProcess(const std::string &agentPath) : exe_(dir_ / "hbr-agent")
{
    hbrtest::WriteFile(exe_, hbrtest::ReadFile(agentPath));
    chmod(exe_.c_str(), 0755);
}

AgentProcess::~AgentProcess()
{
    Kill();
}

void AgentProcess::Kill()
{
    if (Running()) {
        kill(pid_, SIGKILL);
        int status;
        waitpid(pid_, &status, 0);
        exited_ = true;
        exitCode_ = 128 + SIGKILL;
    }
}

const std::vector<std::string> &AgentProcess::ProxyVariables()
{
    static const std::vector<std::string> names = {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY",
                                                   "all_proxy",  "ALL_PROXY",   "no_proxy",   "NO_PROXY"};
    return names;
}

bool AgentProcess::Start(const std::map<std::string, std::string> &given, const std::vector<std::string> &unset,
                         int errorFd)
{
    // Unless a test names a module's socket, the agent's device-service
    // client looks for one in the agent's own folder, where none listens.
    std::map<std::string, std::string> env = given;
    env.emplace("HBR_MBN_SOCKET", dir_ / "mbn.sock");
    std::vector<std::string> envStrings;
    for (char **e = environ; *e; ++e) {
        std::string s = *e;
        const std::string name = s.substr(0, s.find('='));
        if (env.find(name) == env.end() && std::find(unset.begin(), unset.end(), name) == unset.end()) {
            envStrings.push_back(s);
        }
    }
    for (const auto &kv : env) {
        envStrings.push_back(kv.first + "=" + kv.second);
    }
    std::vector<char *> envp;
    for (auto &s : envStrings) envp.push_back(const_cast<char *>(s.c_str()));
    envp.push_back(nullptr);
    std::string errPath = dir_ / "agent.stderr", outPath = dir_ / "agent.stdout";
    char *argv[] = {const_cast<char *>(exe_.c_str()), nullptr};

    exited_ = false;
    exitCode_ = -1;
    // posix_spawn: no copy of this process's page tables, which under the
    // sanitizers makes each start far cheaper than fork.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (errorFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, errorFd, 2);
    } else {
        posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    // The test runner may have the control signals blocked; start clean.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, &attributes, argv, envp.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    pid_ = rc == 0 ? pid : -1;
    return pid_ > 0;
}

bool AgentProcess::WaitForLog(const std::string &text, int timeoutMs, int count) const
{
    return hbrtest::WaitUntil([&] { return hbrtest::CountMessages(Messages(), text) >= count; }, timeoutMs);
}

bool AgentProcess::Signal(int sig) const
{
    return Running() && kill(pid_, sig) == 0;
}

int AgentProcess::WaitExit(int timeoutMs)
{
    if (exited_) {
        return exitCode_;
    }
    if (pid_ <= 0) {
        return -1;
    }
    hbrtest::WaitUntil(
        [&] {
            int status = 0;
            pid_t r = waitpid(pid_, &status, WNOHANG);
            if (r == pid_) {
                exited_ = true;
                exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            return exited_;
        },
        timeoutMs);
    return exited_ ? exitCode_ : -1;
}

std::vector<std::string> AgentProcess::StatusReports() const
{
    std::vector<std::string> out;
    std::istringstream in(Stderr());
    std::string line;
    const std::string word = "SetServiceStatus ";
    while (std::getline(in, line)) {
        if (line.rfind(word, 0) == 0) {
            out.push_back(line.substr(word.size()));
        }
    }
    return out;
}

long AgentProcess::RssKb() const
{
    if (!Running()) {
        return -1;
    }
    std::istringstream in(hbrtest::ReadFile("/proc/" + std::to_string(pid_) + "/status"));
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::atol(line.c_str() + 6);
        }
    }
    return -1;
}

int AgentProcess::DescriptorsOn(const std::string &target) const
{
    if (!Running()) {
        return -1;
    }
    const std::string folder = "/proc/" + std::to_string(pid_) + "/fd";
    DIR *d = opendir(folder.c_str());
    if (d == nullptr) {
        return -1;
    }
    int n = 0;
    while (dirent *e = readdir(d)) {
        char link[PATH_MAX];
        ssize_t size = readlink((folder + "/" + e->d_name).c_str(), link, sizeof link);
        n += size > 0 && std::string(link, static_cast<size_t>(size)) == target;
    }
    closedir(d);
    return n;
}
