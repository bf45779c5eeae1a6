// The activation flow: the SIM switch, up to three passes that ask the
// cloud what to do and carry it out on the eUICC, the switch back and the
// report to the module.
#include "flow_common.h"

#include "profile_lookup.h"

#include <clog.h>
#include <deployment.h>
#include <secret_mask.h>

#include <cstdio>
#include <cstring>

namespace {

// Logs the line of a code after which the flow does not retry; true when
// the code is one of them.
bool IsNoRetryCode(int32_t code)
{
    switch (code) {
    case ZFW_PCIOT_HBR_NON_UNIQUE_RESULT_ERROR:
        HBR_LOG_INFO("[IOTServiceActiveEvtFunc]:Simulate code value error, ZFW_PCIOT_HBR_NON_UNIQUE_RESULT_ERROR:%d",
                     code);
        return true;
    case ZFW_PCIOT_HBR_ILLEGAL_ACTIVATION_ERROR:
        HBR_LOG_INFO("[IOTServiceActiveEvtFunc]:code value error, ZFW_PCIOT_HBR_ILLEGAL_ACTIVATION_ERROR:%d", code);
        return true;
    case ZFW_PCIOT_HBR_EMPTY_EID_ERROR:
        HBR_LOG_INFO("[IOTServiceActiveEvtFunc]:Simulate code value error, ZFW_PCIOT_HBR_EMPTY_EID_ERROR:%d", code);
        return true;
    case ZFW_PCIOT_HBR_UNKNOWN_CERT_FAIL:
        HBR_LOG_INFO("[IOTServiceActiveEvtFunc]:Simulate code value error, ZFW_PCIOT_HBR_UNKNOWN_CERT_FAIL:%d", code);
        return true;
    case ZFW_PCIOT_HBR_SIM_SWITCH_FAIL:
        HBR_LOG_INFO("[IOTServiceActiveEvtFunc]:Simulate code value error, ZFW_PCIOT_HBR_SIM_SWITCH_FAIL:%d", code);
        return true;
    case ZFW_PCIOT_HBR_ERROR_CODE_PROFILE_EXHAUSTED_ERROR:
        HBR_LOG_INFO("[IOTServiceActiveEvtFunc]:Simulate code value error, "
                     "ZFW_PCIOT_HBR_ERROR_CODE_PROFILE_EXHAUSTED_ERROR:%d",
                     code);
        return true;
    case ZFW_PCIOT_HBR_LIMITTED_RETRY_COUNT_ERROR:
        HBR_LOG_INFO("[IOTServiceActiveEvtFunc]:Simulate code value error, ZFW_PCIOT_HBR_LIMITTED_RETRY_COUNT_ERROR:%d",
                     code);
        return true;
    default:
        return false;
    }
}

// Disables the old profile and, when that worked or it was not enabled,
// deletes it; then reports the removal. A profile the eUICC refused to
// disable is still there, so nothing is reported then. Operation 1 waits
// before the disable and after the delete, operation 2 only between them.
void RemoveOldProfile(const uint8_t *iccid, size_t count, const char *iccidText, const char *imei,
                      IotServiceFlowContext &context, bool afterDownload)
{
    const FlowDeps &deps = CurrentFlowDeps();
    if (afterDownload) {
        deps.sleep(2000);
    }
    bool disabled = deps.lpaDisableProfileByIccid(iccid, count);
    uint32_t code = deps.lpaGetErrorCode();
    HBR_LOG_INFO("[IOTServiceActiveFunc] lpaDisableProfileByIccid return %d, errstr(%s)", disabled ? 1 : 0,
                 deps.lpaGetErrorCodeDescription(code));
    if (!disabled && code == LPA_ERROR_LOCAL_PROFILE_NOT_IN_ENABLE_STATE) {
        HBR_LOG_INFO("[IOTServiceActiveFunc] lpaDisableProfileByIccid return "
                     "LPA_ERROR_LOCAL_PROFILE_NOT_IN_ENABLE_STATE, ret = TRUE");
        disabled = true;
    }
    if (!disabled) {
        HBR_LOG_INFO("[IOTServiceActiveFunc] old profile %s not removed, no removal report", iccidText);
        return;
    }
    deps.sleep(2000);
    bool deleted = deps.lpaDeleteProfileByIccid(iccid, count);
    code = deps.lpaGetErrorCode();
    HBR_LOG_INFO("[IOTServiceActiveFunc] lpaDeleteProfileByIccid return %d, errstr(%s)", deleted ? 1 : 0,
                 deps.lpaGetErrorCodeDescription(code));
    if (afterDownload) {
        deps.sleep(2000);
    }
    DeviceProfileStatusCallback(imei, context, 2, iccidText);
}

// Operation 1: download, remove the old profile, report, APN settings.
int DownloadAndReplace(CStateWork *work, IotServiceFlowContext &context, const char *imei, const uint8_t *oldIccid,
                       size_t oldCount, const char *oldIccidText)
{
    const FlowDeps &deps = CurrentFlowDeps();
    HBR_LOG_INFO("[IOTServiceActiveFunc] HBR Server return OPER_CODE_1, delete iccid:%s, download new profile(%s)",
                 oldIccidText, context.activeCode.c_str());
    std::string written;
    bool downloaded = false;
    if (HbrSetDownloadCertPath(work, written)) {
        downloaded = HbrAgentDownloadProfile(context.activeCode.c_str());
        if (downloaded && work->m_testRetryErrorCode == ZFW_PCIOT_HBR_DOWNLOAD_DISABLE_DELETE_FAIL) {
            HBR_LOG_INFO("[IOTServiceActiveFunc] Test HbrSetDownloadCertPath fail "
                         "(ZFW_PCIOT_HBR_DOWNLOAD_DISABLE_DELETE_FAIL-%d)",
                         work->m_testRetryErrorCode);
            downloaded = false;
        }
        if (!downloaded) {
            HBR_LOG_INFO("[IOTServiceActiveFunc] HbrAgentDownloadProfile(%s) fail", context.activeCode.c_str());
        }
    }
    if (!written.empty()) {
        DeleteFileA(written.c_str());
    }
    if (!downloaded) {
        return FALSE;
    }

    if (oldIccidText[0] != '\0') {
        RemoveOldProfile(oldIccid, oldCount, oldIccidText, imei, context, true);
    }

    ProfileListHolder newList;
    uint8_t newIccid[10] = {};
    size_t newCount = 0;
    if (!deps.queryProfilesInfo(&newList.list)) {
        HBR_LOG_INFO("[IOTServiceActiveFunc] GeteSIMProfileIccidBySubLPA fail");
        return TRUE;
    }
    // The old profile is still listed when its removal was refused; the
    // new one is the first provisioning profile that is not the old one.
    FindProvisioningProfileIccidOtherThan(&newList.list, oldIccid, oldCount, newIccid, &newCount);
    char newIccidText[kIccidTextSize] = {};
    if (newCount != 0) {
        HbrAgentIccidArrayToString(newIccid, newCount, newIccidText, sizeof newIccidText);
    }
    DeviceProfileStatusCallback(imei, context, 1, newIccidText);
    SyncAttachedAndInternetApnInfoToModule(context, newIccidText);
    return TRUE;
}

} // namespace

bool HbrSetDownloadCertPath(CStateWork *work, std::string &written)
{
    std::string path = work->m_runPath + kDownloadCertFileName;
    bool ok = false;
    if (FILE *file = std::fopen(path.c_str(), "w+")) {
        DeploymentPem pem = DeploymentSmdpRootCi();
        std::fwrite(pem.data, 1, pem.size, file);
        std::fflush(file);
        std::fclose(file);
        written = path;
        ok = path.size() < 260;
    }
    if (!ok) {
        HBR_LOG_INFO("[IOTServiceActiveFunc] HbrSetDownloadCertPath fail");
        return false;
    }
    CurrentFlowDeps().lpaManagerSetCertPath(path.c_str());
    HBR_LOG_INFO("[IOTServiceActiveFunc] HbrSetDownloadCertPath success");
    return true;
}

bool HbrAgentDownloadProfile(const char *activationCode)
{
    const FlowDeps &deps = CurrentFlowDeps();
    char code[256] = {};
    size_t length = std::strlen(activationCode);
    if (length >= sizeof code) {
        return false; // does not fit: refused before any engine call
    }
    std::memcpy(code, activationCode, length);
    HBR_LOG_INFO("\nStarting Profile Download\n");
    HBR_LOG_INFO("ActivationCode = %s\n", code);

    LpaDownloadCallbacks callbacks = {};
    LpaOperationResult result = {0, 0};
    deps.lpaApiFrameBegin("lpaDownloadProfile");
    bool downloaded = false;
    if (deps.connectReaderAndSelectIsdr()) {
        downloaded = deps.lpaManagerDownloadProfile(code, &callbacks, &result);
    }
    bool disconnected = deps.unselectIsdrAndDisconnectReader();
    bool ok = deps.lpaApiFrameEnd(downloaded && disconnected);
    HBR_LOG_INFO("lpaDownloadProfile API returned %s\n", ok ? "true" : "false");
    if (!ok) {
        HBR_LOG_INFO("=> Error code: %s\n", deps.lpaGetErrorCodeDescription(deps.lpaGetErrorCode()));
        if (result.first > 0) {
            HBR_LOG_INFO("already installed profile(%llu), think that download profile success \n",
                         static_cast<unsigned long long>(result.first));
            ok = true;
        }
    }
    HBR_LOG_INFO("Nb of installed profile(s) during operation : %zu\n", static_cast<size_t>(result.first));
    return ok;
}

int DeviceProfileStatusCallback(const char *imei, IotServiceFlowContext &context, int type, const char *iccid)
{
    const FlowDeps &deps = CurrentFlowDeps();
    char eid[kEidTextSize] = {};
    if (!deps.getModuleEid(eid, sizeof eid)) {
        HBR_LOG_INFO("[DeviceProfileStatusCallback] GetModuleEID fail");
        return 0;
    }
    context.done = 0;
    int result = deps.syncProfileStatus(imei, iccid, eid, type, context);
    if (result) {
        HBR_LOG_INFO("[DeviceProfileStatusCallback] SyncDeviceProfileStatusToHbrServer success");
    } else {
        HBR_LOG_INFO("[DeviceProfileStatusCallback] SyncDeviceProfileStatusToHbrServer fail");
    }
    return result;
}

void SyncAttachedAndInternetApnInfoToModule(IotServiceFlowContext &context, const char *iccid)
{
    const FlowDeps &deps = CurrentFlowDeps();
    ApnInfo apn;
    std::memset(&apn, 0, sizeof apn);
    if (deps.matchAttachedApn(context.apns, iccid, &apn) == 1) {
        HBR_LOG_INFO("[Infomation]SyncAttachedAndInternetApnInfoToModule iccid(%s) match attached apn info", iccid);
        deps.sendApnInfoToModule(4, &apn);
    }
    std::memset(&apn, 0, sizeof apn);
    if (deps.matchInternetApn(context.apns, iccid, &apn) == 1) {
        HBR_LOG_INFO("[Infomation]SyncAttachedAndInternetApnInfoToModule iccid(%s) match internet apn info", iccid);
        deps.sendApnInfoToModule(5, &apn);
    }
}

int IOTServiceActiveFunc(CStateWork *work, IotServiceFlowContext &context)
{
    const FlowDeps &deps = CurrentFlowDeps();
    EnginePassGuard engine;
    if (!StartEnginePass(work, FlowKind::Activation)) {
        return FALSE;
    }

    char imei[kImeiTextSize] = {};
    if (!deps.getModuleImei(imei, sizeof imei)) {
        HBR_LOG_INFO("[IOTServiceActiveFunc] GetModuleIMEI fail");
        return FALSE;
    }
    if (work->m_testRetryErrorCode == ZFW_PCIOT_HBR_GET_IMEI_FAIL) {
        HBR_LOG_INFO("[IOTServiceActiveFunc] Test GetModuleIMEI fail: (ZFW_PCIOT_HBR_GET_IMEI_FAIL-%d)",
                     work->m_testRetryErrorCode);
        HBR_LOG_INFO("[IOTServiceActiveFunc] GetModuleIMEI fail");
        return FALSE;
    }

    ProfileListHolder oldList;
    uint8_t oldIccid[10] = {};
    size_t oldCount = 0;
    if (!deps.queryProfilesInfo(&oldList.list)) {
        HBR_LOG_INFO("[IOTServiceActiveFunc] GeteSIMProfileIccidBySubLPA fail");
        return FALSE;
    }
    deps.findProvisioningProfileIccid(&oldList.list, oldIccid, &oldCount);
    if (work->m_testRetryErrorCode == ZFW_PCIOT_HBR_GET_ICCID_FAIL) {
        HBR_LOG_INFO("[IOTServiceActiveFunc] Test GeteSIMProfileIccidBySubLPA fail: (ZFW_PCIOT_HBR_GET_ICCID_FAIL-%d)",
                     work->m_testRetryErrorCode);
        HBR_LOG_INFO("[IOTServiceActiveFunc] GeteSIMProfileIccidBySubLPA fail");
        return FALSE;
    }
    if (work->m_testRetryErrorCode == ZFW_PCIOT_HBR_GET_ICCID_LIST_FAIL) {
        HBR_LOG_INFO("[IOTServiceActiveFunc] Test GeteSIMProfileIccidBySubLPA fail: "
                     "(ZFW_PCIOT_HBR_GET_ICCID_LIST_FAIL-%d)",
                     work->m_testRetryErrorCode);
        HBR_LOG_INFO("[IOTServiceActiveFunc] GeteSIMProfileIccidBySubLPA fail");
        return FALSE;
    }
    HBR_LOG_INFO("[IOTServiceActiveFunc]Do nothing");
    char oldIccidText[kIccidTextSize] = {};
    if (oldCount != 0) {
        HbrAgentIccidArrayToString(oldIccid, oldCount, oldIccidText, sizeof oldIccidText);
    }

    context.done = 0;
    if (!deps.getServerInfo(imei, work->m_bootstrapServerUrl, context)) {
        HBR_LOG_INFO("[IOTServiceActiveFunc] GetHbrServerInfoFromBootstrapServer fail");
        return FALSE;
    }
    context.done = 0;
    if (!deps.getOperCode(imei, oldIccidText, context)) {
        HBR_LOG_INFO("[IOTServiceActiveFunc] GeteSIMProfileOperCodeFromHbrServer fail");
        return FALSE;
    }
    HBR_LOG_INFO("[IOTServiceActiveFunc] GeteSIMProfileOperCodeFromHbrServer success");
    WritePassState(work, FlowKind::Activation);

    switch (context.operation) {
    case 0:
        HBR_LOG_INFO("[IOTServiceActiveFunc] HBR Server return OPER_CODE_0, do nothing");
        return TRUE;
    case 1:
        return DownloadAndReplace(work, context, imei, oldIccid, oldCount, oldIccidText);
    case 2:
        HBR_LOG_INFO("[IOTServiceActiveFunc] HBR Server return OPER_CODE_2, delete iccid:%s", oldIccidText);
        if (oldIccidText[0] != '\0') {
            RemoveOldProfile(oldIccid, oldCount, oldIccidText, imei, context, false);
        }
        return TRUE;
    default:
        HBR_LOG_INFO("[IOTServiceActiveFunc] HBR Server return error opercode(%d)", context.operation);
        return FALSE;
    }
}

void IOTServiceActiveEvtFunc(CStateWork *work)
{
    RememberedSecretsScope secrets; // what the flow learns stays masked until it ends
    const FlowDeps &deps = CurrentFlowDeps();
    WriteEntryState(work, FlowKind::Activation, work->m_iotServiceResult);
    SimSwitch sim = SwitchModuleToSim2(work, FlowKind::Activation);
    if (sim == SimSwitch::EarlyEnd) {
        WriteFinalState(work, FlowKind::Activation, false);
        return;
    }

    IotServiceFlowContext context;
    bool success = false;
    for (int attempt = 0; attempt < 3; ++attempt) {
        WaitMbInterface(work, FlowKind::Activation, attempt);
        context = IotServiceFlowContext{};
        int passed = IOTServiceActiveFunc(work, context);
        bool retry = !IsNoRetryCode(context.errorCode);
        if (passed) {
            HBR_LOG_INFO("[IOTServiceActiveEvtFunc] IOT Service active success(%d), dataUsage(%d)", attempt,
                         context.simMode);
            success = true;
            break;
        }
        if (!retry) {
            HBR_LOG_INFO("[IOTServiceActiveEvtFunc] IOT Service active fail, do not retry, error code:%d",
                         context.errorCode);
            break;
        }
        HBR_LOG_INFO("[IOTServiceActiveEvtFunc] IOT Service active fail(%d)", attempt);
        deps.sleep(10000);
    }
    if (success) {
        deps.sleep(5000);
        if (context.operation != 0) {
            deps.syncNvProfileList();
        }
    }

    ReturnMbInterface(work, FlowKind::Activation, sim == SimSwitch::Switched);
    WriteFinalState(work, FlowKind::Activation, success);
    int type = 0;
    if (success && context.simMode == 0) {
        type = 1;
        HBR_LOG_INFO("[IOTServiceActiveEvtFunc] IOTServiceActive send HBRServiceReturnIOTType");
    } else if (success && context.simMode == 1) {
        type = 2;
        HBR_LOG_INFO("[IOTServiceActiveEvtFunc] IOTServiceActive send HBRServiceReturnUserSimOnlyType");
    } else {
        HBR_LOG_INFO("[IOTServiceActiveEvtFunc] IOTServiceActive send IOTServiceActiveDefaultType");
    }
    deps.sendDataUsageTypeToModule(1, type);
}
