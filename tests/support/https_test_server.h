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
#include <vector>

#include <sys/types.h>

namespace hbr_test {

struct HttpsServerOptions {
    std::string certificate = "server"; // PKI name: server, server2, wrongname, longname
    std::string maxTls;                 // "", "1.0", "1.1", "1.2" or "1.3"
    std::string ciphers;                // OpenSSL cipher string, "" for the default
    std::string script = "[]";          // JSON list of answer entries
    int stallSeconds = -1;              // >= 0: stall mode
    std::string role;                   // "", "smdp", "smds", "bootstrap" or "cloud"
    std::string address;                // the role's serverAddress; "" for localhost:<port>
    // Certificate and key files, instead of the PKI name above.
    std::string certificateFile;
    std::string keyFile;
    std::string clientCa;   // CA file for client certificates
    std::string clientCert; // "", "optional" or "required" ("": the role's default)
    std::string deployment; // bootstrap: the deployment folder (salt template)
    std::string serviceUrl; // bootstrap: the endpoints and token it answers
    std::string pecUrl;
    std::string token;      // bootstrap: answered; cloud: the signing key
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
    // Reads a server that another launcher started (hbr-world): its port
    // and record folder. Stop() then forgets it.
    void Attach(int port, const std::string &recordDir);
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
    // Another file of the record folder (e.g. "cloud.jsonl", "refused.jsonl").
    std::string RecordedFile(const std::string &name) const;
    // Lines the server printed before its port (a role's URLs).
    const std::vector<std::string> &StartupLines() const { return startupLines_; }
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
    std::vector<std::string> startupLines_;
};

// The local SNTP test server (tools/https_test_server/ntp_test_server.py).
// Modes: "offset" (own clock + value s), "absolute" (value: seconds since
// 1900), "silent", "short" (value bytes), "zero" (transmit seconds 0).
// NtpHeader sets the answer's header fields, a server's by default.
struct NtpHeader {
    int leap = 0;
    int ntpMode = 4;
    int stratum = 1;
};

class NtpTestServer {
public:
    NtpTestServer() = default;
    ~NtpTestServer() { Stop(); }
    NtpTestServer(const NtpTestServer &) = delete;
    NtpTestServer &operator=(const NtpTestServer &) = delete;

    bool Start(const std::string &workDir, const std::string &mode = "offset", long long value = 0);
    // A server that another launcher started: its port, record file and
    // control file. Stop() then forgets it.
    void Attach(int port, const std::string &recordPath, const std::string &controlPath);
    void Stop();
    // Changes the mode for the following requests.
    void SetMode(const std::string &mode, long long value = 0, const NtpHeader &header = NtpHeader());
    int port() const { return port_; }
    // One JSON object a line per datagram: {"length", "hex", "transmit"}.
    std::vector<std::string> Records() const;

private:
    pid_t pid_ = -1;
    int port_ = 0;
    std::string controlPath_;
    std::string recordPath_;
};

// "<labels>.localhost:<port>" of `total` characters: the labels are 'p's,
// 63 to a label but the last, as the test server's "{hostpad}" fills them.
// The PKI's "longname" certificate holds these host names for the totals
// 128 and 205 (4- and 5-digit ports), besides localhost and 127.0.0.1.
std::string LongLocalhostAddress(size_t total, int port);

}  // namespace hbr_test

#endif  // HBR_HTTPS_TEST_SERVER_H
