// Handlers whose modules are not part of the agent yet: the AT channel
// bring-up, the device-service subscription, the AT channel close and the
// three IoT service flows. They log and return, touching neither the state
// nor the timer, so the timer keeps ticking as it does without a module.
#include "state_work.h"

#include "clog.h"

void CStateWork::AtChannelMonitorEvtFunc()
{
    HBR_LOG_INFO("[AtChannelMonitorEvtFunc] not available");
}

HRESULT CStateWork::RegisterDeviceServiceMbbChannelMonitorEvent()
{
    // As without a Mobile Broadband device-services manager.
    return REGDB_E_CLASSNOTREG;
}

void CStateWork::CloseAtChannel()
{
}

void IOTServiceActiveEvtFunc(CStateWork *)
{
    HBR_LOG_INFO("[IOTServiceActiveEvtFunc] not available");
}

void IOTServiceDeactiveEvtFunc(CStateWork *)
{
    HBR_LOG_INFO("[IOTServiceDeactiveEvtFunc] not available");
}

void IOTServiceCheckEvtFunc(CStateWork *)
{
    HBR_LOG_INFO("[IOTServiceCheckEvtFunc] not available");
}
