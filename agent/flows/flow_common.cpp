#include "flow_common.h"

#include "profile_lookup.h"

#include <bootstrap.h>
#include <clog.h>
#include <signed_requests.h>

#include <climits>
#include <cstdlib>

const char kDeviceInfoTlv[] = "A112800449015262A10A81030B000085030D0000";
const char kDownloadCertFileName[] = "hbr_agent_smdp.crt";

namespace {

void BringUpAtChannel(CStateWork *work)
{
    work->AtChannelMonitorEvtFunc();
}

void SleepMs(DWORD ms)
{
    Sleep(ms);
}

void ReleaseRecords(void *records)
{
    std::free(records);
}

const FlowDeps kDefaultDeps = {
    GetModuleSimSlot,
    SetModuleSimSlot,
    HbrAgentCXPOperationKX718Project,
    TryCloseeSIMLogicalChannel,
    GetModuleIMEI,
    GeteSIMProfileIccid,
    SyncNVProfileList,
    SendApnInfoToModule,
    SendDataUsageTypeToModule,
    CheckDPDDeactiveFlowNeedTriggerKX718Project,
    BringUpAtChannel,
    GetHbrServerInfoFromBootstrapServer,
    GeteSIMProfileOperCodeFromHbrServer,
    SyncDeviceProfileStatusToHbrServer,
    MatchAttachedApnInfo,
    MatchInternetApnInfo,
    QueryProfilesInfo,
    FindProvisioningProfileIccid,
    ReleaseRecords,
    GetModuleEID,
    lpaInitializeWithInputOutputFolder,
    lpaUninitialize,
    lpaGetApiVersion,
    lpaCoreLogSetLevel,
    lpaSetConfigParameter,
    lpaManagerSetCertPath,
    lpaApiFrameBegin,
    lpaApiFrameEnd,
    _lpaManagerConnectReaderAndSelectISDR,
    lpaManagerDownloadProfile,
    _lpaManagerUnselectISDRAndDisconnectReader,
    lpaDisableProfileByIccid,
    lpaDeleteProfileByIccid,
    lpaGetErrorCode,
    lpaGetErrorCodeDescription,
    SetIOTServiceActiveResultSubKey,
    SleepMs,
};

const FlowDeps *g_testDeps = nullptr;

// The slot number at the start of the text (blanks and a sign allowed, no
// digits give 0), clamped to int; out-of-range values stay non-zero.
int ParseSlot(const char *text)
{
    long value = std::strtol(text, nullptr, 10);
    if (value > INT_MAX) {
        return INT_MAX;
    }
    if (value < INT_MIN) {
        return INT_MIN;
    }
    return static_cast<int>(value);
}

void LogSlotReadFail(FlowKind kind, int read)
{
    if (kind == FlowKind::Activation) {
        HBR_LOG_INFO("[IOTServiceActiveEvtFunc] GetModuleSimSlot Fail, retry(%d)", read);
    } else {
        HBR_LOG_INFO("[IOTServiceDeactiveEvtFunc] GetModuleSimSlot Fail, retry(%d)", read);
    }
}

void LogSlot(FlowKind kind, int slot)
{
    if (kind == FlowKind::Activation) {
        HBR_LOG_INFO("[IOTServiceActiveEvtFunc] GetModuleSimSlot slotId:%d", slot);
    } else {
        HBR_LOG_INFO("[IOTServiceDeactiveEvtFunc] GetModuleSimSlot slotId:%d", slot);
    }
}

void LogSimulatedSwitchFail(FlowKind kind, int code)
{
    if (kind == FlowKind::Activation) {
        HBR_LOG_INFO("[IOTServiceActiveEvtFunc] Simulate SetModuleSimSlot SIM2 fail, do not trigger profile "
                     "operation, simulate error code ZFW_PCIOT_HBR_SIM_SWITCH_FAIL: %d",
                     code);
    } else {
        HBR_LOG_INFO("[IOTServiceDeactiveEvtFunc] Simulate SetModuleSimSlot SIM2 fail, do not trigger profile "
                     "operation, simulate error code ZFW_PCIOT_HBR_SIM_SWITCH_FAIL: %d",
                     code);
    }
}

void LogSwitchRefused(FlowKind kind)
{
    if (kind == FlowKind::Activation) {
        HBR_LOG_INFO("[IOTServiceActiveEvtFunc] SetModuleSimSlot SIM2 fail, do not trigger profile operation");
    } else {
        HBR_LOG_INFO("[IOTServiceDeactiveEvtFunc] SetModuleSimSlot SIM2 fail, do not trigger profile operation");
    }
}

} // namespace

const FlowDeps &DefaultFlowDeps()
{
    return kDefaultDeps;
}

const FlowDeps &CurrentFlowDeps()
{
    return g_testDeps != nullptr ? *g_testDeps : kDefaultDeps;
}

void SetFlowDepsForTest(const FlowDeps *deps)
{
    g_testDeps = deps;
}

EnginePassGuard::~EnginePassGuard()
{
    CurrentFlowDeps().lpaUninitialize();
}

ProfileListHolder::~ProfileListHolder()
{
    if (list.profileInfo != nullptr) {
        CurrentFlowDeps().releaseProfileRecords(list.profileInfo);
    }
}

SimSwitch SwitchModuleToSim2(CStateWork *work, FlowKind kind)
{
    const FlowDeps &deps = CurrentFlowDeps();
    const bool mediaTek = work->m_platType == 0;
    bool haveSlot = false;
    int slot = 0;
    for (int read = 0; read < 5; ++read) {
        char text[kAtReplySize] = {};
        if (deps.getModuleSimSlot(text, sizeof text)) {
            slot = ParseSlot(text);
            LogSlot(kind, slot);
            haveSlot = true;
            break;
        }
        LogSlotReadFail(kind, read);
        deps.sleep(3000);
    }

    bool switched = false;
    if (haveSlot && slot != 0) {
        deps.sleep(32000);
    } else if (haveSlot) {
        if (work->m_testRetryErrorCode == ZFW_PCIOT_HBR_SIM_SWITCH_FAIL) {
            LogSimulatedSwitchFail(kind, work->m_testRetryErrorCode);
            return SimSwitch::EarlyEnd;
        }
        if (mediaTek) {
            deps.cxpOperation(0);
            deps.sleep(2000);
        }
        if (!deps.setModuleSimSlot(1)) {
            LogSwitchRefused(kind);
            if (mediaTek) {
                deps.cxpOperation(1);
            }
            return SimSwitch::EarlyEnd;
        }
        switched = true;
        deps.sleep(32000);
    } else if (deps.setModuleSimSlot(1)) {
        switched = true;
        deps.sleep(32000);
    }

    if (mediaTek) {
        for (int channel = 1; channel <= 5; ++channel) {
            int result = deps.tryCloseLogicalChannel(channel);
            HBR_LOG_INFO("[IOTServiceActiveEvtFunc]TryCloseeSIMLogicalChannel(%d-%d)", channel, result);
        }
    }
    return switched ? SimSwitch::Switched : SimSwitch::NotSwitched;
}

void WaitMbInterface(CStateWork *work, FlowKind kind, int attempt)
{
    const FlowDeps &deps = CurrentFlowDeps();
    for (int waits = 0; waits < 60;) {
        if (work->m_atChannelTimerActive == 1) {
            deps.atChannelBringUp(work);
            deps.sleep(32000);
        }
        if (work->m_mbbInterfaceRemoved == 0) {
            return;
        }
        ++waits;
        if (kind == FlowKind::Activation) {
            HBR_LOG_INFO("[IOTServiceActiveEvtFunc] wait mb interface arrival(%d-%d)", attempt, waits);
        } else {
            HBR_LOG_INFO("[IOTServiceDeactiveEvtFunc] wait mb interface arrival(%d)", waits);
        }
        deps.sleep(3000);
    }
}

void ReturnMbInterface(CStateWork *work, FlowKind kind, bool switched)
{
    const FlowDeps &deps = CurrentFlowDeps();
    if (switched) {
        deps.sleep(5000);
        int result = deps.setModuleSimSlot(0);
        if (kind == FlowKind::Activation) {
            HBR_LOG_INFO("[IOTServiceActiveEvtFunc] SetModuleSimSlot SIM1 ret:%d", result);
        } else {
            HBR_LOG_INFO("[IOTServiceDeactiveEvtFunc] SetModuleSimSlot SIM1 ret:%d", result);
        }
        deps.sleep(60000);
    }
    for (int waits = 0; waits < 60;) {
        if (work->m_atChannelTimerActive == 1) {
            deps.atChannelBringUp(work);
            deps.sleep(10000);
        }
        if (work->m_mbbInterfaceRemoved == 0) {
            if (work->m_platType == 0 && switched) {
                deps.cxpOperation(1);
            }
            return;
        }
        ++waits;
        HBR_LOG_INFO("[IOTServiceDeactiveEvtFunc] wait mb interface arrival(%d)", waits);
        deps.sleep(3000);
    }
}

bool StartEnginePass(CStateWork *work, FlowKind kind)
{
    const FlowDeps &deps = CurrentFlowDeps();
    const char *folder = work->m_runPath.c_str();
    if (!deps.lpaInitializeWithInputOutputFolder(folder, folder)) {
        const char *name = deps.lpaGetErrorCodeDescription(deps.lpaGetErrorCode());
        if (kind == FlowKind::Activation) {
            HBR_LOG_INFO("[IOTServiceActiveFunc] lpaInitialize fail(%s)", name);
        } else {
            HBR_LOG_INFO("[IOTServiceDeactiveFunc] lpaInitialize fail(%s)", name);
        }
        return false;
    }
    deps.lpaCoreLogSetLevel(LPA_LOG_LEVEL_VER);
    deps.lpaSetConfigParameter("deviceInfoTlv", LPA_PARAMETER_TYPE_STRING, kDeviceInfoTlv);
    const LpaApiVersion *version = deps.lpaGetApiVersion();
    int major = version != nullptr ? static_cast<int>(version->major) : 0;
    int minor = version != nullptr ? static_cast<int>(version->minor) : 0;
    if (kind == FlowKind::Activation) {
        HBR_LOG_INFO("[IOTServiceActiveFunc] LPA API version : %d.%d\n", major, minor);
    } else {
        HBR_LOG_INFO("[IOTServiceDeactiveFunc] LPA API version : %d.%d\n", major, minor);
    }
    return true;
}

BOOL SetFlowState(CStateWork *work, int state)
{
    work->m_iotServiceResult = state;
    return CurrentFlowDeps().setIotServiceState(static_cast<DWORD>(state));
}

void WriteEntryState(CStateWork *work, FlowKind kind, int previous)
{
    switch (kind) {
    case FlowKind::Activation:
        HBR_LOG_INFO("[IOTServiceActiveEvtFunc] SetIOTServiceActiveResultSubKey preActiveResult(%d)-currentResult(%d)",
                     previous, IOTServiceActiveStart);
        if (!SetFlowState(work, IOTServiceActiveStart)) {
            HBR_LOG_INFO("[IOTServiceActiveEvtFunc] SetIOTServiceActiveResultSubKey iotServiceResult(%d)",
                         IOTServiceActiveStart);
        }
        break;
    case FlowKind::Deactivation:
        HBR_LOG_INFO("[IOTServiceDeactiveEvtFunc] SetIOTServiceActiveResultSubKey "
                     "preActiveResult(%d)-currentResult(%d)",
                     previous, IOTServiceDeactiveStart);
        if (!SetFlowState(work, IOTServiceDeactiveStart)) {
            HBR_LOG_INFO("[IOTServiceDeactiveEvtFunc] SetIOTServiceActiveResultSubKey iotServiceResult(%d)",
                         IOTServiceDeactiveStart);
        }
        break;
    case FlowKind::Check:
        HBR_LOG_INFO("[IOTServiceCheckEvtFunc] SetIOTServiceActiveResultSubKey preActiveResult(%d)-currentResult(%d)",
                     previous, IOTServiceCheckStart);
        if (!SetFlowState(work, IOTServiceCheckStart)) {
            HBR_LOG_INFO("[IOTServiceCheckEvtFunc] SetIOTServiceActiveResultSubKey iotServiceResult(%d)",
                         IOTServiceCheckStart);
        }
        break;
    }
}

void WritePassState(CStateWork *work, FlowKind kind)
{
    switch (kind) {
    case FlowKind::Activation:
        if (!SetFlowState(work, IOTServiceActiving)) {
            HBR_LOG_INFO("[IOTServiceActiveFunc] SetIOTServiceActiveResultSubKey IOTServiceActiving Fail");
        }
        break;
    case FlowKind::Deactivation:
        if (!SetFlowState(work, IOTServiceDeactiving)) {
            HBR_LOG_INFO("[IOTServiceDeactiveFunc] SetIOTServiceActiveResultSubKey IOTServiceDeactiving Fail");
        }
        break;
    case FlowKind::Check:
        if (!SetFlowState(work, IOTServiceChecking)) {
            HBR_LOG_INFO("[IOTServiceCheckFunc] SetIOTServiceActiveResultSubKey IOTServiceChecking Fail");
        }
        break;
    }
}

void WriteFinalState(CStateWork *work, FlowKind kind, bool success)
{
    switch (kind) {
    case FlowKind::Activation:
        if (success) {
            const char *written = SetFlowState(work, IOTServiceActiveSuccess) ? "Success" : "Fail";
            HBR_LOG_INFO("[IOTServiceActiveFunc] SetIOTServiceActiveResultSubKey IOTServiceActiveSuccess %s", written);
        } else {
            const char *written = SetFlowState(work, IOTServiceActiveFail) ? "Success" : "Fail";
            HBR_LOG_INFO("[IOTServiceActiveFunc] SetIOTServiceActiveResultSubKey IOTServiceActiveFail %s", written);
        }
        break;
    case FlowKind::Deactivation:
        if (success) {
            const char *written = SetFlowState(work, IOTServiceDeactiveSuccess) ? "Success" : "Fail";
            HBR_LOG_INFO("[IOTServiceDeactiveFunc] SetIOTServiceActiveResultSubKey IOTServiceActiveSuccess %s",
                         written);
        } else {
            const char *written = SetFlowState(work, IOTServiceDeactiveFail) ? "Success" : "Fail";
            HBR_LOG_INFO("[IOTServiceDeactiveFunc] SetIOTServiceActiveResultSubKey IOTServiceDeactiveFail %s", written);
        }
        break;
    case FlowKind::Check:
        if (success) {
            const char *written = SetFlowState(work, IOTServiceCheckSuccess) ? "Success" : "Fail";
            HBR_LOG_INFO("[IOTServiceCheckFunc] SetIOTServiceActiveResultSubKey IOTServiceCheckSuccess %s", written);
        } else {
            const char *written = SetFlowState(work, IOTServiceCheckFail) ? "Success" : "Fail";
            HBR_LOG_INFO("[IOTServiceCheckFunc] SetIOTServiceActiveResultSubKey IOTServiceCheckFail %s", written);
        }
        break;
    }
}
