#include "cloud_servers.h"

#include "test_util.h"

#include <sys/stat.h>

namespace hbr_test {

bool CloudServers::HaveServerMaterial()
{
    return std::string(HBR_DEPLOYMENT_SERVERS_DIR) != "" && FileExists(ServerFile("cloud_server.crt"));
}

std::string CloudServers::ServerFile(const std::string &name)
{
    return std::string(HBR_DEPLOYMENT_SERVERS_DIR) + "/" + name;
}

std::string CloudServers::DeploymentFile(const std::string &name)
{
    return std::string(HBR_DEPLOYMENT_DATA_DIR) + "/" + name;
}

bool CloudServers::Start(const std::string &workDir, const CloudServerSettings &settings)
{
    for (const char *sub : {"/cloud", "/bootstrap", "/ntp"}) {
        mkdir((workDir + sub).c_str(), 0700);
    }
    HttpsServerOptions cloudOptions;
    cloudOptions.role = "cloud";
    cloudOptions.certificateFile = ServerFile("cloud_server.crt");
    cloudOptions.keyFile = ServerFile("cloud_server.key");
    cloudOptions.clientCa = settings.cloudClientCa.empty() ? ServerFile("client_ca.pem") : settings.cloudClientCa;
    cloudOptions.token = settings.token;
    cloudOptions.script = settings.cloudScript;
    if (!cloud.Start(workDir + "/cloud", cloudOptions)) {
        return false;
    }
    const std::string bootstrapName =
        settings.bootstrapCertificate.empty() ? "bootstrap_server" : settings.bootstrapCertificate;
    HttpsServerOptions bootstrapOptions;
    bootstrapOptions.role = "bootstrap";
    bootstrapOptions.certificateFile = ServerFile(bootstrapName + ".crt");
    bootstrapOptions.keyFile = ServerFile(bootstrapName + ".key");
    bootstrapOptions.clientCa = ServerFile("client_ca.pem");
    bootstrapOptions.deployment = HBR_DEPLOYMENT_DATA_DIR;
    bootstrapOptions.serviceUrl = OperCodeUrl();
    bootstrapOptions.pecUrl = StatusUrl();
    bootstrapOptions.token = settings.bootstrapToken.empty() ? settings.token : settings.bootstrapToken;
    bootstrapOptions.script = settings.bootstrapScript;
    if (!bootstrap.Start(workDir + "/bootstrap", bootstrapOptions)) {
        return false;
    }
    return ntp.Start(workDir + "/ntp", settings.ntpMode, settings.ntpValue);
}

void CloudServers::Stop()
{
    ntp.Stop();
    bootstrap.Stop();
    cloud.Stop();
}

}  // namespace hbr_test
