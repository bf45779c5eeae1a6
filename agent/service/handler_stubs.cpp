// Handlers whose modules are not part of the agent yet: the three IoT
// service flows. They log and return, touching neither the state nor the
// timer.
#include "state_work.h"

#include "clog.h"

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
