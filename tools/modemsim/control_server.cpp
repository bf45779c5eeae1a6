#include "control_server.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace hbrmodemsim {

namespace {

bool fillAddress(const std::string &path, sockaddr_un &address, std::string *error)
{
    if (!checkSocketPath(path, error)) return false;
    std::memset(&address, 0, sizeof(address));
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

bool sendAll(int fd, const std::string &data)
{
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

bool checkSocketPath(const std::string &path, std::string *error)
{
    const size_t room = sizeof(sockaddr_un{}.sun_path) - 1;
    if (path.empty() || path.size() > room) {
        if (error) {
            *error = "socket path " + (path.empty() ? std::string("is empty") : "\"" + path + "\" is too long") +
                     " (" + std::to_string(path.size()) + " bytes; a Unix socket path holds at most " +
                     std::to_string(room) + ")";
        }
        return false;
    }
    return true;
}

int listenUnixSocket(const std::string &path, std::string *error)
{
    sockaddr_un address;
    if (!fillAddress(path, address, error)) return -1;
    struct stat st;
    if (lstat(path.c_str(), &st) == 0) {
        int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        bool live = S_ISSOCK(st.st_mode) && probe >= 0 &&
                    connect(probe, reinterpret_cast<sockaddr *>(&address), sizeof(address)) == 0;
        if (probe >= 0) close(probe);
        if (live || !S_ISSOCK(st.st_mode)) {
            if (error) *error = path + (live ? " is in use by another process" : " exists and is not a socket");
            return -1;
        }
        unlink(path.c_str());
    }
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0 || listen(fd, 16) != 0) {
        if (error) *error = "cannot listen on " + path + ": " + std::strerror(errno);
        if (fd >= 0) close(fd);
        return -1;
    }
    return fd;
}

bool ControlServer::start(const std::string &path, Handler handler, std::string *error)
{
    stop();
    listenFd_ = listenUnixSocket(path, error);
    if (listenFd_ < 0) return false;
    if (pipe2(wake_, O_CLOEXEC) != 0) {
        if (error) *error = std::string("pipe: ") + std::strerror(errno);
        close(listenFd_);
        listenFd_ = -1;
        unlink(path.c_str());
        return false;
    }
    path_ = path;
    handler_ = std::move(handler);
    thread_ = std::thread([this] { run(); });
    return true;
}

void ControlServer::stop()
{
    if (thread_.joinable()) {
        char c = 'q';
        ssize_t ignored = write(wake_[1], &c, 1);
        (void)ignored;
        thread_.join();
    }
    for (int *fd : {&listenFd_, &wake_[0], &wake_[1]}) {
        if (*fd >= 0) close(*fd);
        *fd = -1;
    }
    if (!path_.empty()) unlink(path_.c_str());
    path_.clear();
}

void ControlServer::run()
{
    std::map<int, std::string> clients;  // descriptor -> bytes not yet a line
    for (;;) {
        std::vector<pollfd> fds = {{wake_[0], POLLIN, 0}, {listenFd_, POLLIN, 0}};
        for (const auto &c : clients) fds.push_back({c.first, POLLIN, 0});
        if (poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds[0].revents != 0) break;
        if (fds[1].revents & POLLIN) {
            int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) clients[fd];
        }
        for (size_t i = 2; i < fds.size(); ++i) {
            if (fds[i].revents == 0) continue;
            int fd = fds[i].fd;
            std::string &pending = clients[fd];
            char buffer[4096];
            ssize_t n = recv(fd, buffer, sizeof(buffer), 0);
            bool drop = n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN);
            if (n > 0) pending.append(buffer, static_cast<size_t>(n));
            size_t end;
            while (!drop && (end = pending.find('\n')) != std::string::npos) {
                std::string line = pending.substr(0, end);
                pending.erase(0, end + 1);
                if (!line.empty() && line.back() == '\r') line.pop_back();
                drop = !sendAll(fd, handler_(line) + "\n");
            }
            if (!drop && pending.size() > kMaxControlLine) {
                sendAll(fd, "ERR line too long\n");
                drop = true;
            }
            if (drop) {
                close(fd);
                clients.erase(fd);
            }
        }
    }
    for (const auto &c : clients) close(c.first);
}

bool controlRequest(const std::string &path, const std::string &line, std::string &answer, std::string *error,
                    int timeoutMs)
{
    sockaddr_un address;
    if (!fillAddress(path, address, error)) return false;
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0) {
        if (error) *error = "cannot connect to " + path + ": " + std::strerror(errno);
        if (fd >= 0) close(fd);
        return false;
    }
    std::string reply;
    bool ok = sendAll(fd, line + "\n");
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (ok && reply.find('\n') == std::string::npos) {
        int left = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                .count());
        pollfd p = {fd, POLLIN, 0};
        int r = left > 0 ? poll(&p, 1, left) : 0;
        if (r < 0 && errno == EINTR) continue;
        char buffer[4096];
        ssize_t n = r > 0 ? recv(fd, buffer, sizeof(buffer), 0) : -1;
        if (n <= 0) ok = false;
        else reply.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    if (!ok) {
        if (error) *error = "no answer from " + path;
        return false;
    }
    answer = reply.substr(0, reply.find('\n'));
    return true;
}

}  // namespace hbrmodemsim
