// The simulated module's AT port: a pseudo-terminal whose slave the agent
// opens as its COM port (through <dev root>/<tty name>), and whose master
// this side reads commands from and writes replies to.
#ifndef HBRMODEMSIM_PTY_LINK_H
#define HBRMODEMSIM_PTY_LINK_H

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace hbrmodemsim {

// Splits the byte stream of the AT port into commands. A CR ends a command;
// an LF right after it belongs to the same command, also when it comes in a
// later chunk within kLfWaitMs of the CR. Every other LF is dropped. Commands
// come out as received, with their terminators. Times are in milliseconds of
// any monotonic clock.
class CommandFramer {
public:
    static constexpr int64_t kLfWaitMs = 20;

    // Takes one chunk received at `nowMs`; returns the commands it completed.
    std::vector<std::string> feed(const char *data, size_t size, int64_t nowMs);
    // The command whose LF wait has run out by `nowMs`, if any (empty: none).
    std::string expire(int64_t nowMs);
    // Milliseconds until expire() has something to give; -1 when nothing waits.
    int64_t msUntilExpiry(int64_t nowMs) const;

private:
    std::string partial_;   // bytes of the command being received
    bool waitingLf_ = false;  // partial_ ends in the CR of a finished command
    int64_t crAtMs_ = 0;
};

class PtyLink {
public:
    // Called on the link's reader thread with each framed command.
    using CommandHandler = std::function<void(const std::string &command)>;

    PtyLink() = default;
    ~PtyLink();
    PtyLink(const PtyLink &) = delete;
    PtyLink &operator=(const PtyLink &) = delete;

    // Opens a pty, makes its slave raw at once (no ICANON, ECHO, ICRNL,
    // ONLCR), keeps a slave descriptor of its own open, links
    // <devRoot>/<ttyName> to the slave and starts the reader thread.
    // False with *error when any step fails (nothing is left behind).
    bool start(const std::string &devRoot, const std::string &ttyName, CommandHandler handler,
               std::string *error = nullptr);
    // Writes bytes to the agent; true when all were written within 2 s.
    // Safe from any thread, the handler included.
    bool write(const std::string &bytes);
    // Stops the reader thread, removes the link (when it still names the
    // slave) and closes the pty. Idempotent; never from the handler.
    void stop();

    const std::string &slavePath() const { return slavePath_; }
    const std::string &linkPath() const { return linkPath_; }
    bool running() const { return reader_.joinable(); }

private:
    void readLoop();
    void closeAll();

    int master_ = -1;
    int slave_ = -1;
    int stopPipe_[2] = {-1, -1};
    std::string slavePath_;
    std::string linkPath_;
    CommandHandler handler_;
    std::thread reader_;
    std::mutex writeLock_;
};

}  // namespace hbrmodemsim

#endif
