#include "test_support.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace hbrtest {

TempDir::TempDir() : path_(hbr_test::MakeTempDir("hbrtest"))
{
    if (path_.empty()) {
        std::abort();
    }
}

TempDir::~TempDir()
{
    RemoveTree(path_);
}

ScopedEnv::ScopedEnv(const char *name, const char *value) : name_(name)
{
    const char *old = std::getenv(name);
    had_ = old != nullptr;
    if (had_) {
        old_ = old;
    }
    if (value != nullptr) {
        setenv(name, value, 1);
    } else {
        unsetenv(name);
    }
}

ScopedEnv::~ScopedEnv()
{
    if (had_) {
        setenv(name_.c_str(), old_.c_str(), 1);
    } else {
        unsetenv(name_.c_str());
    }
}

bool WaitUntil(const std::function<bool()> &pred, int timeoutMs)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (pred()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return pred();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

std::vector<std::string> LogMessages(const std::string &path)
{
    std::vector<std::string> out;
    std::istringstream in(ReadFile(path));
    std::string line;
    while (std::getline(in, line)) {
        size_t sep = line.find(" : ");
        // A prefix is "<pid> MM-DD hh:mm:ss:mmm : ".
        if (sep != std::string::npos && sep > 0 && line[0] >= '0' && line[0] <= '9') {
            out.push_back(line.substr(sep + 3));
        }
    }
    return out;
}

int FindMessage(const std::vector<std::string> &messages, const std::string &text, int from)
{
    for (size_t i = static_cast<size_t>(from < 0 ? 0 : from); i < messages.size(); ++i) {
        if (messages[i].find(text) != std::string::npos) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int CountMessages(const std::vector<std::string> &messages, const std::string &text)
{
    int n = 0;
    for (const auto &m : messages) {
        if (m.find(text) != std::string::npos) {
            ++n;
        }
    }
    return n;
}

ProcessResult RunProcess(const std::vector<std::string> &argv, const std::map<std::string, std::string> &env,
                         const std::string &input)
{
    ProcessResult result;
    TempDir io;
    std::string inPath = io / "in", outPath = io / "out", errPath = io / "err";
    WriteFile(inPath, input);
    std::vector<std::string> envStrings;
    for (char **e = environ; *e; ++e) {
        std::string s = *e;
        std::string name = s.substr(0, s.find('='));
        if (env.find(name) == env.end()) {
            envStrings.push_back(s);
        }
    }
    for (const auto &kv : env) {
        envStrings.push_back(kv.first + "=" + kv.second);
    }
    std::vector<char *> args, envp;
    for (const auto &a : argv) args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    for (const auto &e : envStrings) envp.push_back(const_cast<char *>(e.c_str()));
    envp.push_back(nullptr);

    pid_t pid = fork();
    if (pid == 0) {
        int in = open(inPath.c_str(), O_RDONLY);
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        execve(args[0], args.data(), envp.data());
        _exit(127);
    }
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    }
    result.out = ReadFile(outPath);
    result.err = ReadFile(errPath);
    return result;
}

bool StoreLockFree(const std::string &root)
{
    int fd = open((root + "/.lock").c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return false;
    const bool free = flock(fd, LOCK_EX | LOCK_NB) == 0;
    close(fd);
    return free;
}

int ValueTempFiles(const std::string &keyFolder)
{
    int n = 0;
    if (DIR *d = opendir(keyFolder.c_str())) {
        while (dirent *e = readdir(d)) n += std::strncmp(e->d_name, ".values.tmp.", 12) == 0;
        closedir(d);
    }
    return n;
}

void RegistryRootTest::SetUp()
{
    dir_.reset(new TempDir);
    env_.reset(new ScopedEnv("HBR_REGISTRY_ROOT", root().c_str()));
}

void RegistryRootTest::TearDown()
{
    env_.reset();
    dir_.reset();
}

} // namespace hbrtest
