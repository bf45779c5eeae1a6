// The simulator's control socket: a Unix stream socket that takes one
// command per line and answers each with one line, "OK[ text]" or
// "ERR text". Several clients may be connected; one thread serves them
// all, one line at a time.
#ifndef HBRMODEMSIM_CONTROL_SERVER_H
#define HBRMODEMSIM_CONTROL_SERVER_H

#include <functional>
#include <string>
#include <thread>

namespace hbrmodemsim {

// Longest line a client may send.
constexpr size_t kMaxControlLine = 64 * 1024;

// False (with the reason) when path does not fit a Unix socket address.
bool checkSocketPath(const std::string &path, std::string *error);

// Binds and listens on a Unix stream socket at path (close-on-exec). A
// stale socket file nobody listens on is replaced; a live one is refused.
// Answers the descriptor, or -1 with the reason.
int listenUnixSocket(const std::string &path, std::string *error);

class ControlServer {
public:
    // Gets one line (without its "\n" or "\r\n"), answers the whole
    // answer line (without "\n").
    using Handler = std::function<std::string(const std::string &line)>;

    ControlServer() = default;
    ~ControlServer() { stop(); }
    ControlServer(const ControlServer &) = delete;
    ControlServer &operator=(const ControlServer &) = delete;

    bool start(const std::string &path, Handler handler, std::string *error);
    // Closes every connection and removes the socket file.
    void stop();
    const std::string &path() const { return path_; }

private:
    void run();

    Handler handler_;
    std::string path_;
    int listenFd_ = -1;
    int wake_[2] = {-1, -1};
    std::thread thread_;
};

// Sends one command line and reads the one-line answer (without "\n").
bool controlRequest(const std::string &path, const std::string &line, std::string &answer,
                    std::string *error, int timeoutMs = 30000);

}  // namespace hbrmodemsim

#endif
