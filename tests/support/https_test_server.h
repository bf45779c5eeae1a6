// Starting the local HTTPS test server (tools/https_test_server) from a
// test, and reading what it recorded.
//
// Start() writes the answer script, launches the server on a free port of
// 127.0.0.1 and waits until it prints its port. Stop() (also run by the
// destructor) kills and reaps it, so no server outlives its test, even a
// failing one.
#ifndef HBR_HTTPS_TEST_SERVER_H
#define HBR_HTTPS_TEST_SERVER_H

#include <string>

#include <sys/types.h>

namespace hbr_test {

struct HttpsServerOptions {
    std::string certificate = "server"; // PKI name: server, server2, wrongname, longname
    std::string maxTls;                 // "", "1.0", "1.1", "1.2" or "1.3"
    std::string ciphers;                // OpenSSL cipher string, "" for the default
    std::string script = "[]";          // JSON list of answer entries
    int stallSeconds = -1;              // >= 0: stall mode
    std::string role;                   // "", "smdp" or "smds": a test SM-DP+ or SM-DS
    std::string address;                // the role's serverAddress; "" for localhost:<port>
};

class HttpsTestServer {
public:
    HttpsTestServer() = default;
    ~HttpsTestServer() { Stop(); }
    HttpsTestServer(const HttpsTestServer &) = delete;
    HttpsTestServer &operator=(const HttpsTestServer &) = delete;

    // Starts the server with its files under workDir; false (with a test
    // failure) when it does not come up.
    bool Start(const std::string &workDir, const HttpsServerOptions &options);
    void Stop();

    int port() const { return port_; }
    std::string Url(const std::string &path) const;

    // What the server recorded for request n (from 1): the raw request
    // line and header lines with their CRLF, the body, the TLS version.
    std::string RecordedHead(int n) const;
    std::string RecordedBody(int n) const;
    std::string RecordedTls(int n) const;
    // Number of requests recorded so far.
    int RecordedCount() const;
    // What a role recorded of the notifications it received: one JSON
    // object a line (see tools/https_test_server/rsp_roles.py).
    std::string RecordedNotifications() const;

    // The throw-away PKI of the build tree (made by the CTest fixture step;
    // made here when a test binary runs on its own).
    static bool EnsurePki();
    static std::string PkiFile(const std::string &name); // e.g. "ca.crt"

private:
    pid_t pid_ = -1;
    int port_ = 0;
    std::string recordDir_;
};

// "<labels>.localhost:<port>" of `total` characters: the labels are 'p's,
// 63 to a label but the last, as the test server's "{hostpad}" fills them.
// The PKI's "longname" certificate holds these host names for the totals
// 128 and 205 (4- and 5-digit ports), besides localhost and 127.0.0.1.
std::string LongLocalhostAddress(size_t total, int port);

}  // namespace hbr_test

#endif  // HBR_HTTPS_TEST_SERVER_H
