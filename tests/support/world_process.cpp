#include "world_process.h"

#include "test_util.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace hbr_test {

bool WorldProcess::Start(const std::string &scenarioJson, const std::string &stateDir,
                         const std::vector<std::string> &options)
{
    Stop();
    stateDir_ = stateDir;
    mkdir(stateDir_.c_str(), 0700);
    WriteFile(stateDir_ + "/scenario.json", scenarioJson);
    std::vector<std::string> args = {"env", HBR_PYTHON3, HBR_WORLD_PATH, "--scenario", stateDir_ + "/scenario.json",
                                     "--state", stateDir_, "--deployment", HBR_DEPLOYMENT_DATA_DIR,
                                     "--deployment-servers", HBR_DEPLOYMENT_SERVERS_DIR, "--pki", HBR_TEST_PKI_DIR};
    args.insert(args.end(), options.begin(), options.end());

    int errFd = open((stateDir_ + "/world.err").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    int pipeFds[2];
    if (errFd < 0 || pipe2(pipeFds, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "cannot prepare hbr-world's output: " << std::strerror(errno);
        if (errFd >= 0) close(errFd);
        return false;
    }
    pid_ = StartChildProcess("/usr/bin/env", args, nullptr, pipeFds[1], errFd);
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
    // hbr-world prints nothing after READY.
    close(pipeFds[0]);
    if (!ready) {
        Stop();
        ADD_FAILURE() << "hbr-world did not start:\n" << Stderr();
        return false;
    }
    return true;
}

void WorldProcess::Stop()
{
    if (pid_ > 0 && Terminate(20000) < 0 && pid_ > 0) {
        kill(pid_, SIGKILL);
        while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    pid_ = -1;
}

int WorldProcess::Terminate(int timeoutMs)
{
    if (pid_ <= 0) return -1;
    kill(pid_, SIGTERM);
    for (int waited = 0; waited <= timeoutMs; waited += 5) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        usleep(5000);
    }
    return -1;
}

std::string WorldProcess::Env(const std::string &name) const
{
    auto it = env_.find(name);
    return it == env_.end() ? std::string() : it->second;
}

std::string WorldProcess::Stderr() const
{
    std::string text = ReadFile(stateDir_ + "/world.err");
    for (const char *peer : {"modem", "smdp", "cloud", "bootstrap", "ntp"}) {
        std::string err = ReadFile(stateDir_ + "/" + peer + ".err");
        if (!err.empty()) text += std::string("[") + peer + "]\n" + err;
    }
    return text;
}

std::string JsonString(const std::string &text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof(escaped), "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

}  // namespace hbr_test
