// hbr-agent: the Hollowbright agent service. On Linux it runs in the
// foreground until SIGTERM or SIGINT (see docs/platform.md).
#include "service_shell.h"

#include <cloud_sign.h>

int main()
{
    SetDefaultRandFile();
    return RunServiceDispatcher();
}
