// The deactivation flow: on a MediaTek module the "is it needed" query,
// then the SIM switch, up to three passes that disable the provisioning
// profile, the switch back and the report to the module.
#include "flow_common.h"

#include <clog.h>
#include <secret_mask.h>

int IOTServiceDeactiveFunc(CStateWork *work)
{
    const FlowDeps &deps = CurrentFlowDeps();
    EnginePassGuard engine;
    if (!StartEnginePass(work, FlowKind::Deactivation)) {
        return FALSE;
    }
    char imei[kImeiTextSize] = {};
    if (!deps.getModuleImei(imei, sizeof imei)) {
        HBR_LOG_INFO("[IOTServiceDeactiveFunc] GetModuleIMEI fail");
        return FALSE;
    }
    ProfileListHolder profiles;
    uint8_t iccid[10] = {};
    size_t count = 0;
    if (!deps.queryProfilesInfo(&profiles.list)) {
        HBR_LOG_INFO("[IOTServiceDeactiveFunc] GeteSIMProfileIccidBySubLPA fail");
        return FALSE;
    }
    deps.findProvisioningProfileIccid(&profiles.list, iccid, &count);
    WritePassState(work, FlowKind::Deactivation);
    if (count == 0) {
        return TRUE;
    }
    bool disabled = deps.lpaDisableProfileByIccid(iccid, count);
    uint32_t code = deps.lpaGetErrorCode();
    HBR_LOG_INFO("[IOTServiceDeactiveFunc] lpaDisableProfileByIccid return %d, errstr(%s)", disabled ? 1 : 0,
                 deps.lpaGetErrorCodeDescription(code));
    if (disabled) {
        return TRUE;
    }
    if (code == LPA_ERROR_LOCAL_PROFILE_NOT_IN_ENABLE_STATE) {
        HBR_LOG_INFO("[IOTServiceDeactiveFunc] lpaDisableProfileByIccid return "
                     "LPA_ERROR_LOCAL_PROFILE_NOT_IN_ENABLE_STATE, ret = TRUE");
        return TRUE;
    }
    return FALSE;
}

void IOTServiceDeactiveEvtFunc(CStateWork *work)
{
    RememberedSecretsScope secrets; // what the flow learns stays masked until it ends
    const FlowDeps &deps = CurrentFlowDeps();
    const int previous = work->m_iotServiceResult;
    work->m_iotServiceResult = IOTServiceDeactiveStart;
    if (work->m_platType == 0) {
        int needed = deps.checkDeactiveFlowNeeded();
        if (needed == 1) {
            HBR_LOG_INFO("[Infomation]Need Trigger Deactive Flow");
        } else if (needed < 0) {
            // Unknown whether the profile is in use: a failed deactivation,
            // not a "nothing to do".
            HBR_LOG_INFO("[Infomation]CheckDPDDeactiveFlowNeedTriggerKX718Project no answer, deactivation failed");
            WriteFinalState(work, FlowKind::Deactivation, false);
            deps.sendDataUsageTypeToModule(0, 0);
            return;
        } else {
            HBR_LOG_INFO("[Infomation]No Need Trigger Deactive Flow, Directly Exit Deactive Flow");
            deps.sleep(100);
            deps.sendDataUsageTypeToModule(0, 1);
            // Nothing ran: memory goes back to the state the registry kept.
            work->m_iotServiceResult = previous;
            return;
        }
    }
    WriteEntryState(work, FlowKind::Deactivation, previous);
    SimSwitch sim = SwitchModuleToSim2(work, FlowKind::Deactivation);
    if (sim == SimSwitch::EarlyEnd) {
        WriteFinalState(work, FlowKind::Deactivation, false);
        return;
    }

    bool success = false;
    for (int attempt = 0; attempt < 3; ++attempt) {
        WaitMbInterface(work, FlowKind::Deactivation, attempt);
        if (IOTServiceDeactiveFunc(work)) {
            HBR_LOG_INFO("[IOTServiceDeactiveEvtFunc] IOT Service deactive success(%d)", attempt);
            success = true;
            break;
        }
        HBR_LOG_INFO("[IOTServiceDeactiveEvtFunc] IOT Service deactive fail(%d)", attempt);
        deps.sleep(10000);
    }

    ReturnMbInterface(work, FlowKind::Deactivation, sim == SimSwitch::Switched);
    WriteFinalState(work, FlowKind::Deactivation, success);
    deps.sendDataUsageTypeToModule(0, success ? 1 : 0);
}
