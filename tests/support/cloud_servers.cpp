#include "cloud_servers.h"

#include "test_util.h"

#include <cstdlib>

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
    Stop();
    std::string cloudPart = "{\"token\": " + JsonString(settings.token) + ", \"script\": " + settings.cloudScript;
    if (!settings.cloudClientCa.empty()) cloudPart += ", \"clientCa\": " + JsonString(settings.cloudClientCa);
    std::string bootstrapPart =
        "{\"token\": " + JsonString(settings.bootstrapToken.empty() ? settings.token : settings.bootstrapToken) +
        ", \"script\": " + settings.bootstrapScript;
    if (!settings.bootstrapCertificate.empty()) {
        bootstrapPart += ", \"certificate\": " + JsonString(settings.bootstrapCertificate);
    }
    const std::string scenario = "{\"modem\": null, \"smdp\": null, \"registry\": null, \"cloud\": " + cloudPart +
                                 "}, \"bootstrap\": " + bootstrapPart + "}, \"ntp\": {\"mode\": " +
                                 JsonString(settings.ntpMode) + ", \"value\": " + std::to_string(settings.ntpValue) + "}}";
    if (!world_.Start(scenario, workDir + "/world")) {
        return false;
    }
    auto port = [&](const std::string &name) { return std::atoi(world_.Env("HBR_" + name + "_PORT").c_str()); };
    cloud.Attach(port("CLOUD"), world_.Env("HBR_RECORDS_CLOUD"));
    bootstrap.Attach(port("BOOTSTRAP"), world_.Env("HBR_RECORDS_BOOTSTRAP"));
    const std::string ntpServer = world_.Env("HBR_NTP_SERVER");
    ntp.Attach(std::atoi(ntpServer.c_str() + ntpServer.rfind(':') + 1), world_.Env("HBR_RECORDS_NTP") + "/ntp.jsonl",
               world_.Env("HBR_NTP_CONTROL"));
    return true;
}

void CloudServers::Stop()
{
    world_.Stop();
    ntp.Stop();
    bootstrap.Stop();
    cloud.Stop();
}

}  // namespace hbr_test
