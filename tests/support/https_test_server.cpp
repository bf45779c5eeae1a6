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

#include "test_util.h"

namespace hbr_test {

namespace {

// Reads the server's lines up to "PORT <n>" (EOF means it died); the lines
// before it go to `before`. Answers the port, or 0.
int ReadPortLine(int fd, std::vector<std::string> *before)
{
    std::string line;
    char c = 0;
    for (;;) {
        ssize_t n = read(fd, &c, 1);
        if (n == 1 && c != '\n') {
            line += c;
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n == 1 && line.compare(0, 5, "PORT ") != 0) {
            before->push_back(line);
            line.clear();
            continue;
        }
        break;
    }
    return line.compare(0, 5, "PORT ") == 0 ? std::atoi(line.c_str() + 5) : 0;
}

// Starts a server program (its standard error to logPath) and reads its
// port. Answers the port, or 0 (then *pid may hold a process to reap).
int Launch(const std::vector<std::string> &args, const std::string &logPath, pid_t *pid,
           std::vector<std::string> *before)
{
    int logFd = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    int pipeFds[2];
    if (logFd < 0 || pipe2(pipeFds, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "cannot prepare the server's output: " << std::strerror(errno);
        if (logFd >= 0) {
            close(logFd);
        }
        return 0;
    }
    *pid = StartChildProcess("/usr/bin/env", args, nullptr, pipeFds[1], logFd);
    close(logFd);
    close(pipeFds[1]);
    int port = *pid > 0 ? ReadPortLine(pipeFds[0], before) : 0;
    close(pipeFds[0]);
    return port;
}

void Reap(pid_t *pid)
{
    if (*pid > 0) {
        kill(*pid, SIGKILL);
        while (waitpid(*pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    *pid = -1;
}

}  // namespace

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
        args.push_back(options.certificateFile.empty() ? PkiFile(options.certificate + ".crt")
                                                       : options.certificateFile);
        args.push_back("--key");
        args.push_back(options.keyFile.empty() ? PkiFile(options.certificate + ".key") : options.keyFile);
    }
    const std::pair<const char *, const std::string *> named[] = {
        {"--client-ca", &options.clientCa},   {"--client-cert", &options.clientCert},
        {"--deployment", &options.deployment}, {"--service-url", &options.serviceUrl},
        {"--pec-url", &options.pecUrl},       {"--token", &options.token},
    };
    for (const auto &option : named) {
        if (!option.second->empty()) {
            args.push_back(option.first);
            args.push_back(*option.second);
        }
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
    startupLines_.clear();
    port_ = Launch(args, logPath, &pid_, &startupLines_);
    if (port_ <= 0) {
        Stop();
        ADD_FAILURE() << "the HTTPS test server did not start:\n" << ReadFile(logPath);
        return false;
    }
    return true;
}

void HttpsTestServer::Attach(int port, const std::string &recordDir)
{
    Stop();
    port_ = port;
    recordDir_ = recordDir;
    startupLines_.clear();
}

void HttpsTestServer::Stop()
{
    Reap(&pid_);
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

namespace hbr_test {

std::string HttpsTestServer::RecordedFile(const std::string &name) const
{
    return ReadFile(recordDir_ + "/" + name);
}

bool NtpTestServer::Start(const std::string &workDir, const std::string &mode, long long value)
{
    Stop();
    controlPath_ = workDir + "/ntp-control.json";
    recordPath_ = workDir + "/ntp-records.jsonl";
    SetMode(mode, value);
    const std::string logPath = workDir + "/ntp-server.log";
    std::vector<std::string> args = {"env", "python3", HBR_NTP_TEST_SERVER, "--control", controlPath_,
                                     "--record", recordPath_};
    std::vector<std::string> before;
    port_ = Launch(args, logPath, &pid_, &before);
    if (port_ <= 0) {
        Stop();
        ADD_FAILURE() << "the NTP test server did not start:\n" << ReadFile(logPath);
        return false;
    }
    return true;
}

void NtpTestServer::Attach(int port, const std::string &recordPath, const std::string &controlPath)
{
    Stop();
    port_ = port;
    recordPath_ = recordPath;
    controlPath_ = controlPath;
}

void NtpTestServer::Stop()
{
    Reap(&pid_);
    port_ = 0;
}

void NtpTestServer::SetMode(const std::string &mode, long long value, const NtpHeader &header)
{
    // Written whole, then renamed: the server never reads half a file.
    WriteFile(controlPath_ + ".tmp", "{\"mode\": \"" + mode + "\", \"value\": " + std::to_string(value) +
                                         ", \"leap\": " + std::to_string(header.leap) + ", \"ntpMode\": " +
                                         std::to_string(header.ntpMode) + ", \"stratum\": " +
                                         std::to_string(header.stratum) + "}");
    std::rename((controlPath_ + ".tmp").c_str(), controlPath_.c_str());
}

std::vector<std::string> NtpTestServer::Records() const
{
    return ReadLines(recordPath_);
}

}  // namespace hbr_test
