// The check flow: up to twelve passes that ask the cloud what it would do
// and tell the module; no engine, no SIM switch.
#include "flow_common.h"

#include <clog.h>
#include <secret_mask.h>

int IOTServiceCheckFunc(CStateWork *work, IotServiceFlowContext &context)
{
    const FlowDeps &deps = CurrentFlowDeps();
    char imei[kImeiTextSize] = {};
    if (!deps.getModuleImei(imei, sizeof imei)) {
        HBR_LOG_INFO("[IOTServiceCheckFunc] GetModuleIMEI fail");
        return FALSE;
    }
    char iccid[kIccidTextSize] = {};
    if (!deps.geteSimProfileIccid(iccid, sizeof iccid)) {
        HBR_LOG_INFO("[IOTServiceCheckFunc] GeteSIMProfileIccidByAtCmd fail");
        return FALSE;
    }
    WritePassState(work, FlowKind::Check);
    context.done = 0;
    if (!deps.getServerInfo(imei, work->m_bootstrapServerUrl, context)) {
        HBR_LOG_INFO("[IOTServiceCheckFunc] GetHbrServerInfoFromBootstrapServer fail");
        return FALSE;
    }
    context.done = 0;
    if (!deps.getOperCode(imei, iccid, context)) {
        HBR_LOG_INFO("[IOTServiceCheckFunc] GeteSIMProfileOperCodeFromHbrServer fail");
        return FALSE;
    }
    HBR_LOG_INFO("[IOTServiceCheckFunc] GeteSIMProfileOperCodeFromHbrServer success");
    switch (context.operation) {
    case 0:
        HBR_LOG_INFO("[IOTServiceCheckFunc] HBR Server return OPER_CODE_0, do nothing");
        if (context.simMode == 0) {
            deps.sendDataUsageTypeToModule(2, 2);
        } else if (context.simMode == 1) {
            deps.sendDataUsageTypeToModule(2, 3);
        }
        return TRUE;
    case 1:
        HBR_LOG_INFO("[IOTServiceCheckFunc] HBR Server return OPER_CODE_1, need to delete old iccid:%s, download new "
                     "profile(%s)",
                     iccid, context.activeCode.c_str());
        deps.sendDataUsageTypeToModule(2, 1);
        return TRUE;
    case 2:
        HBR_LOG_INFO("[IOTServiceCheckFunc] HBR Server return OPER_CODE_2, need to delete old iccid:%s", iccid);
        deps.sendDataUsageTypeToModule(2, 1);
        return TRUE;
    default:
        HBR_LOG_INFO("[IOTServiceCheckFunc] HBR Server return error opercode(%d)", context.operation);
        return FALSE;
    }
}

void IOTServiceCheckEvtFunc(CStateWork *work)
{
    RememberedSecretsScope secrets; // what the flow learns stays masked until it ends
    const FlowDeps &deps = CurrentFlowDeps();
    WriteEntryState(work, FlowKind::Check, work->m_iotServiceResult);
    bool success = false;
    for (int attempt = 0; attempt < 12; ++attempt) {
        IotServiceFlowContext context;
        if (IOTServiceCheckFunc(work, context)) {
            HBR_LOG_INFO("[IOTServiceCheckEvtFunc] IOT Service check success(%d)", attempt);
            success = true;
            break;
        }
        HBR_LOG_INFO("[IOTServiceCheckEvtFunc] IOT Service check fail(%d)", attempt);
        deps.sleep(10000);
    }
    WriteFinalState(work, FlowKind::Check, success);
}
