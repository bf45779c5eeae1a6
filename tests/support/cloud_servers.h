// The local cloud for the agent's cloud client: the cloud server
// (operation code and status, mutual TLS), the bootstrap server pointing at
// it, and the SNTP server, started by hbr-world (a world of these three
// alone) and stopped with it on Stop or destruction; the members read what
// they record. They use the build tree's generated deployment data; with
// an external deployment folder there is no server material
// (HaveServerMaterial() is false).
#ifndef HBR_CLOUD_SERVERS_H
#define HBR_CLOUD_SERVERS_H

#include "https_test_server.h"
#include "world_process.h"

#include <string>

namespace hbr_test {

struct CloudServerSettings {
    std::string token = "cloud-test-token-0123456789abcdef"; // the cloud's signing key
    std::string bootstrapToken;          // the token the bootstrap answers ("": token)
    std::string bootstrapScript = "[]";  // bootstrap scenario (may hold "apns")
    std::string cloudScript = "[]";      // cloud scenario
    std::string cloudClientCa;           // "": the deployment's client CA
    std::string bootstrapCertificate;    // server material name ("": bootstrap_server)
    std::string ntpMode = "offset";
    long long ntpValue = 0;
};

class CloudServers {
public:
    static bool HaveServerMaterial();
    // A file of the deployment's server material, e.g. "unrelated_ca.pem".
    static std::string ServerFile(const std::string &name);
    // A file of the deployment folder, e.g. "cloud_ca.pem".
    static std::string DeploymentFile(const std::string &name);

    bool Start(const std::string &workDir, const CloudServerSettings &settings = CloudServerSettings());
    void Stop();

    std::string OperCodeUrl() const { return cloud.Url("/api/v2/device/opercode"); }
    std::string StatusUrl() const { return cloud.Url("/api/v2/device/status"); }
    std::string BootstrapUrl() const { return bootstrap.Url("/bootstrap/v2"); }
    std::string NtpServer() const { return "127.0.0.1:" + std::to_string(ntp.port()); }

    HttpsTestServer cloud;
    HttpsTestServer bootstrap;
    NtpTestServer ntp;

private:
    WorldProcess world_;
};

}  // namespace hbr_test

#endif  // HBR_CLOUD_SERVERS_H
