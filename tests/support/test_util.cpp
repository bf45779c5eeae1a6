#include "test_util.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <sys/prctl.h>
#include <unistd.h>

extern char **environ;

namespace hbr_test {

std::string MakeTempDir(const char *prefix)
{
    const char *base = std::getenv("TMPDIR");
    std::string templ = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/" + prefix + "-XXXXXX";
    std::vector<char> buffer(templ.begin(), templ.end());
    buffer.push_back('\0');
    char *made = mkdtemp(buffer.data());
    EXPECT_NE(made, nullptr) << "mkdtemp failed for " << templ;
    return made != nullptr ? std::string(made) : std::string();
}

void RemoveTree(const std::string &path)
{
    if (path.empty()) {
        return;
    }
    // Tests may leave folders without read or search permission behind.
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(path, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec)) {
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ec);
        }
    }
    ec.clear();
    std::filesystem::permissions(path, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path, ec);
}

std::string ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::string();
    }
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::vector<std::string> ReadLines(const std::string &path)
{
    std::vector<std::string> lines;
    std::string content = ReadFile(path);
    size_t start = 0;
    while (start < content.size()) {
        size_t end = content.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(content.substr(start));
            break;
        }
        lines.push_back(content.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

void WriteFile(const std::string &path, const std::string &content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

bool FileExists(const std::string &path)
{
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

long FileSize(const std::string &path)
{
    std::error_code ec;
    auto size = std::filesystem::file_size(path, ec);
    return ec ? -1 : static_cast<long>(size);
}

std::string CaptureStderr(const std::function<void()> &fn)
{
    std::string dir = MakeTempDir("hbr-stderr");
    std::string path = dir + "/stderr.txt";
    std::fflush(stderr);
    int saved = dup(2);
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (saved < 0 || fd < 0) {
        ADD_FAILURE() << "cannot redirect stderr";
        if (saved >= 0) {
            close(saved);
        }
        if (fd >= 0) {
            close(fd);
        }
        RemoveTree(dir);
        fn();
        return std::string();
    }
    dup2(fd, 2);
    close(fd);
    fn();
    std::fflush(stderr);
    dup2(saved, 2);
    close(saved);
    std::string captured = ReadFile(path);
    RemoveTree(dir);
    return captured;
}

std::string LogMessage(const std::string &line)
{
    // "dd/mm/yyyy hh:mm:ss | LVL | " is 28 characters.
    const size_t prefix = 28;
    if (line.size() < prefix || line.compare(19, 3, " | ") != 0 || line.compare(25, 3, " | ") != 0) {
        return std::string();
    }
    return line.substr(prefix);
}

std::vector<std::string> LinesContaining(const std::vector<std::string> &lines, const std::string &needle)
{
    std::vector<std::string> found;
    for (const auto &line : lines) {
        if (line.find(needle) != std::string::npos) {
            found.push_back(line);
        }
    }
    return found;
}

int FindLine(const std::vector<std::string> &lines, const std::string &needle, int from)
{
    for (size_t i = from < 0 ? 0 : static_cast<size_t>(from); i < lines.size(); ++i) {
        if (lines[i].find(needle) != std::string::npos) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

pid_t StartChildProcess(const std::string &path, std::vector<std::string> arguments,
                        std::vector<std::string> *environment, int outputFd, int errorFd)
{
    auto pointers = [](std::vector<std::string> &texts) {
        std::vector<char *> result;
        for (auto &text : texts) {
            result.push_back(&text[0]);
        }
        result.push_back(nullptr);
        return result;
    };
    std::vector<char *> argv = pointers(arguments);
    std::vector<char *> envp;
    if (environment != nullptr) {
        envp = pointers(*environment);
    }
    pid_t pid = fork();
    if (pid < 0) {
        ADD_FAILURE() << "fork: " << std::strerror(errno);
        return -1;
    }
    if (pid == 0) {
        // Only async-signal-safe calls between fork and exec.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        dup2(outputFd, STDOUT_FILENO);
        dup2(errorFd, STDERR_FILENO);
        execve(path.c_str(), argv.data(), environment != nullptr ? envp.data() : environ);
        _exit(127);
    }
    return pid;
}

}  // namespace hbr_test
