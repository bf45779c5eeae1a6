// hbr-agent: the Hollowbright agent service. On Linux it runs in the
// foreground until SIGTERM or SIGINT (see docs/platform.md).
#include "service_shell.h"

int main()
{
    static char serviceName[] = HBR_SERVICE_NAME;
    SERVICE_TABLE_ENTRYA table[] = {
        {serviceName, ServiceMain},
        {nullptr, nullptr},
    };
    // Fails when another instance of the service already runs.
    return StartServiceCtrlDispatcherA(table) ? 0 : 1;
}
