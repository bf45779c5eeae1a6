// SendATCmd / ReceiveAtResponse: dispatch to the test hooks or the channel.
#include "at_channel.h"

#include <atomic>

namespace {
std::atomic<const AtTransportHooks *> g_hooks{nullptr};
}

void SetAtTransportHooksForTest(const AtTransportHooks *hooks)
{
    g_hooks.store(hooks);
}

BOOL SendATCmd(const char *command, uint32_t length, uint32_t *requestId)
{
    const AtTransportHooks *hooks = g_hooks.load();
    if (hooks != nullptr) {
        return hooks->send(hooks->context, command, length, requestId);
    }
    // The device-service and COM port paths come with the channel bring-up.
    if (requestId != nullptr) {
        *requestId = 0;
    }
    return FALSE;
}

BOOL ReceiveAtResponse(char *buffer, size_t capacity, size_t *length, uint32_t requestId)
{
    const AtTransportHooks *hooks = g_hooks.load();
    if (hooks != nullptr) {
        return hooks->receive(hooks->context, buffer, capacity, length, requestId);
    }
    return FALSE;
}
