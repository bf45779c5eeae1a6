// The operations the IoT service flows call on the rest of the agent and on
// the engine, as one record of function pointers. The product binds the
// real functions; tests install a record of their own around a flow.
#ifndef HBR_AGENT_FLOW_DEPS_H
#define HBR_AGENT_FLOW_DEPS_H

#include "lpa.h"
#include "lpa_host.h"

#include <cloud_context.h>
#include <module_commands.h>

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

class CStateWork;

struct FlowDeps {
    // Module routines and one attempt to bring the AT channel up.
    int (*getModuleSimSlot)(char *slot, size_t capacity);
    int (*setModuleSimSlot)(int slot);
    int (*cxpOperation)(int value);
    int (*tryCloseLogicalChannel)(int channel);
    int (*getModuleImei)(char *imei, size_t capacity);
    int (*geteSimProfileIccid)(char *iccid, size_t capacity);
    int (*syncNvProfileList)();
    int (*sendApnInfoToModule)(int kind, const ApnInfo *apn);
    int (*sendDataUsageTypeToModule)(int first, int second);
    int (*checkDeactiveFlowNeeded)();
    void (*atChannelBringUp)(CStateWork *work);

    // Cloud requests and the APN matchers.
    int (*getServerInfo)(const std::string &sn, const std::string &bootstrapUrl, IotServiceFlowContext &context);
    int (*getOperCode)(const std::string &sn, const std::string &iccid, IotServiceFlowContext &context);
    int (*syncProfileStatus)(const std::string &sn, const std::string &iccid, const std::string &eid, int type,
                             IotServiceFlowContext &context);
    int (*matchAttachedApn)(IotServiceFlowRecord *apns, const char *iccid, ApnInfo *apn);
    int (*matchInternetApn)(IotServiceFlowRecord *apns, const char *iccid, ApnInfo *apn);

    // Profile lookup; releaseProfileRecords frees what queryProfilesInfo
    // left in a list.
    bool (*queryProfilesInfo)(LpaProfileInfoList *list);
    void (*findProvisioningProfileIccid)(const LpaProfileInfoList *list, uint8_t iccid[10], size_t *count);
    void (*releaseProfileRecords)(void *records);
    int (*getModuleEid)(char *eid, size_t capacity);

    // The engine.
    bool (*lpaInitializeWithInputOutputFolder)(const char *input, const char *output);
    bool (*lpaUninitialize)();
    const LpaApiVersion *(*lpaGetApiVersion)();
    void (*lpaCoreLogSetLevel)(int32_t level);
    bool (*lpaSetConfigParameter)(const char *key, int32_t type, const void *value);
    bool (*lpaManagerSetCertPath)(const char *path);
    void (*lpaApiFrameBegin)(const char *name);
    bool (*lpaApiFrameEnd)(bool result);
    bool (*connectReaderAndSelectIsdr)();
    bool (*lpaManagerDownloadProfile)(const char *code, const LpaDownloadCallbacks *callbacks,
                                      LpaOperationResult *result);
    bool (*unselectIsdrAndDisconnectReader)();
    bool (*lpaDisableProfileByIccid)(const uint8_t *iccid, size_t length);
    bool (*lpaDeleteProfileByIccid)(const uint8_t *iccid, size_t length);
    uint32_t (*lpaGetErrorCode)();
    const char *(*lpaGetErrorCodeDescription)(uint32_t code);

    // Registry mirror of the IoT service state, and the worker's waits.
    BOOL (*setIotServiceState)(DWORD state);
    void (*sleep)(DWORD ms);
};

// The product's operations.
const FlowDeps &DefaultFlowDeps();
// The record the flows use now.
const FlowDeps &CurrentFlowDeps();
// Test only: make the flows use `deps` (null restores the default). The
// record must outlive its use.
void SetFlowDepsForTest(const FlowDeps *deps);

#endif
