// The IoT service flows: the parts the activation and deactivation flows
// share (the SIM switch, the interface wait and return, the start of an
// engine pass), the state writes of all three flows, and the owners that
// release the engine and profile lists on every way out.
#ifndef HBR_AGENT_FLOW_COMMON_H
#define HBR_AGENT_FLOW_COMMON_H

#include "flow_deps.h"

#include <state_work.h>

#include <cstddef>
#include <cstdint>

enum class FlowKind { Activation, Deactivation, Check };

// Text capacities of the pass data: any IMEI, ICCID text or EID fits.
constexpr size_t kImeiTextSize = 65;
constexpr size_t kIccidTextSize = 65;
constexpr size_t kEidTextSize = 65;

// The engine's DeviceInfo (deviceInfoTlv) and the CA file of a download.
extern const char kDeviceInfoTlv[];
extern const char kDownloadCertFileName[];

// Calls lpaUninitialize when the pass ends, whichever way.
class EnginePassGuard {
public:
    EnginePassGuard() = default;
    ~EnginePassGuard();
    EnginePassGuard(const EnginePassGuard &) = delete;
    EnginePassGuard &operator=(const EnginePassGuard &) = delete;
};

// A profile list whose record array is released when the holder goes.
class ProfileListHolder {
public:
    ProfileListHolder() = default;
    ~ProfileListHolder();
    ProfileListHolder(const ProfileListHolder &) = delete;
    ProfileListHolder &operator=(const ProfileListHolder &) = delete;
    LpaProfileInfoList list{};
};

enum class SimSwitch { EarlyEnd, NotSwitched, Switched };

// Reads the slot (up to 5 times) and moves the module to SIM2 when it is
// on SIM1; on a MediaTek module closes logical channels 1 to 5 afterwards.
// EarlyEnd: test code 1007 on SIM1, or a refused switch from SIM1.
SimSwitch SwitchModuleToSim2(CStateWork *work, FlowKind kind);
// Before a pass: brings the channel up while its timer runs and waits for
// the interface, at most 60 waits.
void WaitMbInterface(CStateWork *work, FlowKind kind, int attempt);
// After the passes: the switch back when switched, then the interface
// return (with the MediaTek CXP step when switched and the interface came).
void ReturnMbInterface(CStateWork *work, FlowKind kind, bool switched);

// Starts the engine for a pass (the caller holds an EnginePassGuard):
// initialise, log level, DeviceInfo, version line. False when the engine
// did not start.
bool StartEnginePass(CStateWork *work, FlowKind kind);

// Sets the state in memory and mirrors it; the registry write's result.
BOOL SetFlowState(CStateWork *work, int state);
// The flow's entry state (2, 6 or 10) after `previous`, with its lines.
void WriteEntryState(CStateWork *work, FlowKind kind, int previous);
// The pass's state (3, 7 or 11), with the line of a failed write.
void WritePassState(CStateWork *work, FlowKind kind);
// The flow's final state (4/5, 8/9, 12/13), with its line.
void WriteFinalState(CStateWork *work, FlowKind kind, bool success);

// One activation pass, the profile download and the reports (activation).
int IOTServiceActiveFunc(CStateWork *work, IotServiceFlowContext &context);
// Writes the CA file beside the engine's folder and points certPath at it.
// `written` gets the path whenever the file was written (to be deleted);
// true when the download may run.
bool HbrSetDownloadCertPath(CStateWork *work, std::string &written);
bool HbrAgentDownloadProfile(const char *activationCode);
int DeviceProfileStatusCallback(const char *imei, IotServiceFlowContext &context, int type, const char *iccid);
void SyncAttachedAndInternetApnInfoToModule(IotServiceFlowContext &context, const char *iccid);

int IOTServiceDeactiveFunc(CStateWork *work);
int IOTServiceCheckFunc(CStateWork *work, IotServiceFlowContext &context);

#endif
