/*
 * A null AT transport for programs that link the engine but talk to no
 * module: both writers fail, the platform type is 1, and the AT response
 * buffer exists. Every program that links the engine defines these four
 * symbols; the agent and the simulator define real ones.
 */
#include "lpa_at_transport.h"

char read_mipc_buf[AT_TRANSPORT_BUFFER_SIZE];

int64_t quorpciot_lpa_write_intel(int32_t platformType, const char *command, size_t length)
{
    (void)platformType;
    (void)command;
    (void)length;
    return -1;
}

int64_t quorpciot_lpa_write_mtk(int32_t platformType, const char *command, size_t length)
{
    (void)platformType;
    (void)command;
    (void)length;
    return -1;
}

int32_t quorpciot_lpa_plat_type(void)
{
    return 1;
}
