// The signed cloud requests (mutual TLS, HMAC-SHA256 Authorization
// header): the operation code and the profile status sync.
#ifndef HBR_AGENT_CLOUD_SIGNED_REQUESTS_H
#define HBR_AGENT_CLOUD_SIGNED_REQUESTS_H

#include "cloud_context.h"

#include <cstddef>
#include <string>

// POST to context.serviceUrl; fills operation, simMode, activeCode or
// errorCode. 1 on HTTP 200 with an accepted reply, else 0. The caller
// clears context.done first.
int GeteSIMProfileOperCodeFromHbrServer(const std::string &sn, const std::string &iccid,
                                        IotServiceFlowContext &context);

// POST to context.pecUrl; type 1 after an install, 2 after a removal.
int SyncDeviceProfileStatusToHbrServer(const std::string &sn, const std::string &iccid, const std::string &eid,
                                       int type, IotServiceFlowContext &context);

// Reply parsers (one complete reply; the context is the user pointer).
size_t ProfileOperCodeQueryResp(void *data, size_t size, size_t count, void *context);
size_t SyncDeviceProfileStatusResp(void *data, size_t size, size_t count, void *context);

#endif
