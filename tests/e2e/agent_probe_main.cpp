// hbr-agent-probe: the agent service with a test handler for ACTIVE
// notifications. It starts the engine, reads the IMEI, the EID and the
// profile list through liblpa.so and the agent's writers, logs what it
// found and stops the engine again. Everything else is hbr-agent's.
#include "clog.h"
#include "lpa.h"
#include "module_commands.h"
#include "profile_lookup.h"
#include "service_shell.h"
#include "state_work.h"

#include <cstdlib>

namespace {

void ProbeActive(CStateWork *work)
{
    bool started = lpaInitializeWithInputOutputFolder(work->m_runPath.c_str(), work->m_runPath.c_str());
    HBR_LOG_INFO("[AgentProbe] engine started(%s)", started ? "true" : "false");
    char imei[32] = "";
    int imeiRead = GetModuleIMEI(imei, sizeof imei);
    char eid[80] = "";
    int eidRead = GetModuleEID(eid, sizeof eid);
    LpaProfileInfoList list = {};
    bool listed = QueryProfilesInfo(&list);
    uint8_t iccid[10] = {};
    size_t iccidLength = 0;
    FindProvisioningProfileIccid(&list, iccid, &iccidLength);
    char iccidText[32] = "";
    HbrAgentIccidArrayToString(iccid, iccidLength, iccidText, sizeof iccidText);
    HBR_LOG_INFO("[AgentProbe] imei(%d:%s) eid(%d:%s) profiles(%s:%zu) provisioning iccid(%s)", imeiRead, imei,
                 eidRead, eid, listed ? "true" : "false", list.countProfileInfo, iccidText);
    std::free(list.profileInfo);
    lpaUninitialize();
    HBR_LOG_INFO("[AgentProbe] done");
}

} // namespace

int main()
{
    CStateWorkHandlers handlers = DefaultStateWorkHandlers();
    handlers.active = ProbeActive;
    CStateWork::GetInstance()->SetHandlers(handlers);
    return RunServiceDispatcher();
}
