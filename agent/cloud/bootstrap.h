// The bootstrap request: service endpoints, token and APN settings from the
// cloud's bootstrap server; the test hook that fakes server error replies;
// the APN text split and the APN matchers.
#ifndef HBR_AGENT_CLOUD_BOOTSTRAP_H
#define HBR_AGENT_CLOUD_BOOTSTRAP_H

#include "cloud_context.h"

#include <module_commands.h>

#include <cstddef>
#include <string>

// The bootstrap key: characters 8..23 of the lower-case hex MD5 of the salt
// template with its "%s" replaced by `sn`.
std::string BootstrapKey(const std::string &saltTemplate, const std::string &sn);

// GET <base>?sn=..&bootstrapKey=..&type=service2;apns. An empty
// `bootstrapUrl` selects the deployment's default. 1 on HTTP 200 with an
// accepted reply, else 0. The caller clears context.done first.
int GetHbrServerInfoFromBootstrapServer(const std::string &sn, const std::string &bootstrapUrl,
                                        IotServiceFlowContext &context);

// Parses one complete bootstrap reply into the context (user pointer).
size_t HBRAgentBootstrapQueryResp(void *data, size_t size, size_t count, void *context);

// The canned reply body for the configured test code, or null; sets
// *useInBootstrap to 1 for code 1 only. The caller frees the text.
char *ConfigErrorMsg(int *useInBootstrap);

// Splits apns[index].apn_text into the entry's fields.
void zfw_pciot_bootstrap_prase_apns_info(IotServiceFlowRecord *apns, int index);

// Fill `apnInfo` from the first entry of the accepted kind with an ICCID
// slot that prefixes `iccid`. 1 found, 0 not found (or a text too long
// for ApnInfo). The entries' ip_type and verification_method are
// upper-cased in place.
int MatchAttachedApnInfo(IotServiceFlowRecord *apns, const char *iccid, ApnInfo *apnInfo);
int MatchInternetApnInfo(IotServiceFlowRecord *apns, const char *iccid, ApnInfo *apnInfo);

#endif
