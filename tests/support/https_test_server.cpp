#include "https_test_server.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "fresh_process.h"
#include "test_util.h"

namespace hbr_test {

bool HttpsTestServer::EnsurePki()
{
    if (FileExists(std::string(HBR_TEST_PKI_DIR) + "/.complete") &&
        FileExists(std::string(HBR_TEST_PKI_DIR) + "/euicc.der")) {
        return true;
    }
    std::string command = std::string("bash '") + HBR_TEST_PKI_SCRIPT + "' '" + HBR_TEST_PKI_DIR + "'";
    int status = std::system(command.c_str());
    EXPECT_EQ(status, 0) << command;
    return FileExists(std::string(HBR_TEST_PKI_DIR) + "/euicc.der");
}

std::string HttpsTestServer::PkiFile(const std::string &name)
{
    return std::string(HBR_TEST_PKI_DIR) + "/" + name;
}

bool HttpsTestServer::Start(const std::string &workDir, const HttpsServerOptions &options)
{
    Stop();
    recordDir_ = workDir + "/server-records";
    const std::string scriptPath = workDir + "/server-script.json";
    const std::string logPath = workDir + "/server.log";
    WriteFile(scriptPath, options.script);

    std::vector<std::string> args = {"env", "python3", HBR_HTTPS_TEST_SERVER, "--record", recordDir_,
                                     "--script", scriptPath};
    if (options.stallSeconds >= 0) {
        args.push_back("--stall");
        args.push_back(std::to_string(options.stallSeconds));
    } else {
        args.push_back("--cert");
        args.push_back(PkiFile(options.certificate + ".crt"));
        args.push_back("--key");
        args.push_back(PkiFile(options.certificate + ".key"));
    }
    if (!options.maxTls.empty()) {
        args.push_back("--max-tls");
        args.push_back(options.maxTls);
    }
    if (!options.role.empty()) {
        args.push_back("--role");
        args.push_back(options.role);
        if (!options.address.empty()) {
            args.push_back("--address");
            args.push_back(options.address);
        }
    }
    if (!options.ciphers.empty()) {
        args.push_back("--ciphers");
        args.push_back(options.ciphers);
    }
    int logFd = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    int pipeFds[2];
    if (logFd < 0 || pipe2(pipeFds, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "cannot prepare the server's output: " << std::strerror(errno);
        if (logFd >= 0) {
            close(logFd);
        }
        return false;
    }
    pid_t pid = StartChildProcess("/usr/bin/env", args, nullptr, pipeFds[1], logFd);
    if (pid < 0) {
        close(logFd);
        close(pipeFds[0]);
        close(pipeFds[1]);
        return false;
    }
    pid_ = pid;
    close(logFd);
    close(pipeFds[1]);

    // The first line is "PORT <n>"; EOF means the server died.
    std::string line;
    char c = 0;
    for (;;) {
        ssize_t n = read(pipeFds[0], &c, 1);
        if (n == 1 && c != '\n') {
            line += c;
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        break;
    }
    close(pipeFds[0]);
    if (line.compare(0, 5, "PORT ") != 0 || (port_ = std::atoi(line.c_str() + 5)) <= 0) {
        Stop();
        ADD_FAILURE() << "the HTTPS test server did not start:\n" << ReadFile(logPath);
        return false;
    }
    return true;
}

void HttpsTestServer::Stop()
{
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    pid_ = -1;
    port_ = 0;
}

std::string HttpsTestServer::Url(const std::string &path) const
{
    return "https://127.0.0.1:" + std::to_string(port_) + path;
}

std::string HttpsTestServer::RecordedHead(int n) const
{
    return ReadFile(recordDir_ + "/req-" + std::to_string(n) + ".head");
}

std::string HttpsTestServer::RecordedBody(int n) const
{
    return ReadFile(recordDir_ + "/req-" + std::to_string(n) + ".body");
}

std::string HttpsTestServer::RecordedTls(int n) const
{
    return ReadFile(recordDir_ + "/req-" + std::to_string(n) + ".tls");
}

int HttpsTestServer::RecordedCount() const
{
    int n = 0;
    while (FileExists(recordDir_ + "/req-" + std::to_string(n + 1) + ".head")) {
        ++n;
    }
    return n;
}

std::string HttpsTestServer::RecordedNotifications() const
{
    return ReadFile(recordDir_ + "/notifications.jsonl");
}

std::string LongLocalhostAddress(size_t total, int port)
{
    const std::string tail = ".localhost:" + std::to_string(port);
    size_t pad = total > tail.size() ? total - tail.size() : 0;
    std::string host;
    for (size_t i = 0; i < pad / 64; ++i) {
        host += std::string(63, 'p') + ".";
    }
    host += std::string(pad % 64, 'p');
    return host + tail;
}

}  // namespace hbr_test
