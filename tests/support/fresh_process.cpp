#include "fresh_process.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <sys/wait.h>
#include <fcntl.h>
#include <sys/prctl.h>
#include <unistd.h>

extern char **environ;

namespace hbr_test {

namespace {

const char kChildVariable[] = "HBR_FRESH_PROCESS_TEST";

std::string CurrentTestName()
{
    const ::testing::TestInfo *info = ::testing::UnitTest::GetInstance()->current_test_info();
    if (info == nullptr) {
        return "";
    }
    return std::string(info->test_suite_name()) + "." + info->name();
}

// The environment of this process with the given variables set (replacing
// any of the same name).
std::vector<std::string> ChildEnvironment(const EnvironmentList &extra)
{
    std::vector<std::string> result;
    for (char **entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        std::string text(*entry);
        std::string name = text.substr(0, text.find('='));
        bool replaced = false;
        for (const auto &variable : extra) {
            replaced = replaced || variable.first == name;
        }
        if (!replaced) {
            result.push_back(text);
        }
    }
    for (const auto &variable : extra) {
        result.push_back(variable.first + "=" + variable.second);
    }
    return result;
}

}  // namespace

bool InFreshProcess()
{
    const char *marker = std::getenv(kChildVariable);
    return marker != nullptr && CurrentTestName() == marker;
}

bool RunInFreshProcess(const EnvironmentList &extraEnvironment)
{
    if (InFreshProcess()) {
        return true;
    }
    const std::string name = CurrentTestName();
    if (name.empty()) {
        ADD_FAILURE() << "RunInFreshProcess called outside a test";
        return false;
    }

    EnvironmentList environment = extraEnvironment;
    environment.emplace_back(kChildVariable, name);
    std::vector<std::string> envTexts = ChildEnvironment(environment);
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe: " << std::strerror(errno);
        return false;
    }
    pid_t pid = StartChildProcess("/proc/self/exe",
                                  {"fresh-process-test", "--gtest_filter=" + name, "--gtest_color=no"},
                                  &envTexts, pipeFds[1], pipeFds[1]);
    if (pid < 0) {
        close(pipeFds[0]);
        close(pipeFds[1]);
        return false;
    }
    close(pipeFds[1]);
    std::string output;
    char buffer[4096];
    for (;;) {
        ssize_t n = read(pipeFds[0], buffer, sizeof(buffer));
        if (n > 0) {
            output.append(buffer, static_cast<size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            break;
        }
    }
    close(pipeFds[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }

    const bool exitedCleanly = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (exitedCleanly && output.find("[  SKIPPED ] 1 test") != std::string::npos) {
        [&] { GTEST_SKIP() << "skipped in the fresh process:\n" << output; }();
    } else if (!exitedCleanly || output.find("[  PASSED  ] 1 test.") == std::string::npos) {
        ADD_FAILURE() << "the fresh process for " << name << " did not pass (status " << status
                      << "):\n"
                      << output;
    }
    return false;
}

}  // namespace hbr_test
