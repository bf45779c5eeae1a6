/* The public headers must compile as plain C. */
#include "lpa.h"
#include "lpa_host.h"

int main(void)
{
    /* No backend is installed: every trampoline must be a harmless no-op. */
    lpaCoreLog(LPA_LOG_LEVEL_INF, "C caller %d", 1);
    lpaCoreLogSetLevel(LPA_LOG_LEVEL_VER);
    lpaCoreLogFlush();
    return 0;
}
