#include "pty_link.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace hbrmodemsim {
namespace {

int64_t nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void closeFd(int &fd)
{
    if (fd >= 0) {
        close(fd);
        fd = -1;
    }
}

}  // namespace

std::vector<std::string> CommandFramer::feed(const char *data, size_t size, int64_t nowMs)
{
    std::vector<std::string> commands;
    for (size_t i = 0; i < size; ++i) {
        char c = data[i];
        if (waitingLf_) {
            waitingLf_ = false;
            if (c == '\n' && nowMs - crAtMs_ <= kLfWaitMs) {
                partial_ += c;
                commands.push_back(std::move(partial_));
                partial_.clear();
                continue;
            }
            commands.push_back(std::move(partial_));
            partial_.clear();
        }
        if (c == '\r') {
            partial_ += c;
            waitingLf_ = true;
            crAtMs_ = nowMs;
        } else if (c != '\n') {
            partial_ += c;
        }
    }
    return commands;
}

std::string CommandFramer::expire(int64_t nowMs)
{
    if (!waitingLf_ || nowMs - crAtMs_ <= kLfWaitMs) return std::string();
    waitingLf_ = false;
    std::string command = std::move(partial_);
    partial_.clear();
    return command;
}

int64_t CommandFramer::msUntilExpiry(int64_t nowMs) const
{
    if (!waitingLf_) return -1;
    int64_t left = crAtMs_ + kLfWaitMs + 1 - nowMs;
    return left > 0 ? left : 0;
}

PtyLink::~PtyLink()
{
    stop();
}

bool PtyLink::start(const std::string &devRoot, const std::string &ttyName, CommandHandler handler,
                    std::string *error)
{
    auto failWith = [&](const std::string &what) {
        if (error) *error = what + ": " + std::strerror(errno);
        int saved = errno;
        closeAll();
        errno = saved;
        return false;
    };
    if (running()) {
        errno = EBUSY;
        return failWith("pty link already started");
    }
    if (ttyName.empty() || ttyName.find('/') != std::string::npos || ttyName == "." || ttyName == "..") {
        errno = EINVAL;
        return failWith("bad tty name \"" + ttyName + "\"");
    }
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0) return failWith("posix_openpt");
    if (grantpt(master_) != 0 || unlockpt(master_) != 0) return failWith("grantpt/unlockpt");
    char name[PATH_MAX];
    if (ptsname_r(master_, name, sizeof name) != 0) return failWith("ptsname_r");
    slavePath_ = name;
    slave_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0) return failWith("open " + slavePath_);
    // Raw before anyone else opens it, so bytes pass exactly in both
    // directions (no echo, no CR/LF mapping, no line discipline).
    struct termios tio;
    if (tcgetattr(slave_, &tio) != 0) return failWith("tcgetattr");
    cfmakeraw(&tio);
    tio.c_oflag &= ~static_cast<tcflag_t>(ONLCR | OCRNL | ONLRET);
    tio.c_cflag |= CLOCAL | CREAD;
    if (tcsetattr(slave_, TCSANOW, &tio) != 0) return failWith("tcsetattr");
    int flags = fcntl(master_, F_GETFL);
    if (flags < 0 || fcntl(master_, F_SETFL, flags | O_NONBLOCK) != 0) return failWith("fcntl");
    if (pipe2(stopPipe_, O_CLOEXEC) != 0) return failWith("pipe2");
    std::string link = devRoot + "/" + ttyName;
    if (symlink(slavePath_.c_str(), link.c_str()) != 0) return failWith("symlink " + link);
    linkPath_ = link;
    handler_ = std::move(handler);
    reader_ = std::thread([this] { readLoop(); });
    return true;
}

bool PtyLink::write(const std::string &bytes)
{
    std::lock_guard<std::mutex> guard(writeLock_);
    if (master_ < 0) return false;
    const int64_t deadline = nowMs() + 2000;
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
        int64_t left = deadline - nowMs();
        if (left <= 0) return false;
        struct pollfd p = {master_, POLLOUT, 0};
        poll(&p, 1, static_cast<int>(left));
    }
    return true;
}

void PtyLink::readLoop()
{
    CommandFramer framer;
    char buf[4096];
    for (;;) {
        struct pollfd fds[2] = {{master_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
        int64_t wait = framer.msUntilExpiry(nowMs());
        int rc = poll(fds, 2, wait < 0 ? -1 : static_cast<int>(wait));
        if (rc < 0 && errno != EINTR) break;
        if (fds[1].revents != 0) break;
        std::vector<std::string> commands;
        if (rc > 0 && (fds[0].revents & POLLIN) != 0) {
            ssize_t n = read(master_, buf, sizeof buf);
            if (n > 0) commands = framer.feed(buf, static_cast<size_t>(n), nowMs());
        } else if (rc > 0 && fds[0].revents != 0) {
            // Not expected while our own slave descriptor is open; do not spin.
            poll(nullptr, 0, 50);
        }
        std::string late = framer.expire(nowMs());
        if (!late.empty()) commands.push_back(std::move(late));
        for (const std::string &command : commands) {
            if (handler_) handler_(command);
        }
    }
}

void PtyLink::stop()
{
    if (reader_.joinable()) {
        char c = 'x';
        ssize_t ignored = ::write(stopPipe_[1], &c, 1);
        (void)ignored;
        reader_.join();
    }
    closeAll();
}

void PtyLink::closeAll()
{
    if (!linkPath_.empty()) {
        char target[PATH_MAX];
        ssize_t n = readlink(linkPath_.c_str(), target, sizeof target - 1);
        if (n >= 0 && std::string(target, static_cast<size_t>(n)) == slavePath_) unlink(linkPath_.c_str());
        linkPath_.clear();
    }
    std::lock_guard<std::mutex> guard(writeLock_);
    closeFd(stopPipe_[0]);
    closeFd(stopPipe_[1]);
    closeFd(slave_);
    closeFd(master_);
}

}  // namespace hbrmodemsim
