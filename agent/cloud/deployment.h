// Deployment data built into the agent: the cloud's CA certificates, the
// client certificate and key, the SM-DP+ root CI (CR LF line ends, none
// after the last line), and the values shared with the cloud side.
// The build generates the definitions from the deployment folder (see
// docs/deployment.md); nothing here is kept in the source tree.
#ifndef HBR_AGENT_CLOUD_DEPLOYMENT_H
#define HBR_AGENT_CLOUD_DEPLOYMENT_H

#include <cstddef>

// A PEM text and its length (no terminator counted).
struct DeploymentPem {
    const char *data;
    size_t size;
};

// The PEM files of the deployment folder, one line each: accessor and file
// name. The build reads this list.
#define HBR_DEPLOYMENT_PEM_FILES(X)              \
    X(DeploymentBootstrapCa, "bootstrap_ca.pem") \
    X(DeploymentCloudCa, "cloud_ca.pem")         \
    X(DeploymentClientCert, "client_cert.pem")   \
    X(DeploymentClientKey, "client_key.pem")     \
    X(DeploymentSmdpRootCi, "smdp_root_ci.pem")

#define HBR_DECLARE_DEPLOYMENT_PEM(name, file) DeploymentPem name();
HBR_DEPLOYMENT_PEM_FILES(HBR_DECLARE_DEPLOYMENT_PEM)
#undef HBR_DECLARE_DEPLOYMENT_PEM

const char *DeploymentBootstrapUrl(); // https://... ending in /bootstrap/v2
const char *DeploymentNtpHost();
int DeploymentNtpPort();              // 1..65535
const char *DeploymentSaltTemplate(); // 10 characters, one "%s"
const char *DeploymentRandSeed();     // 6 characters
const unsigned char *DeploymentFallbackNonce(); // 16 bytes

#endif
