// SendATCmd / ReceiveAtResponse: dispatch to the test hooks, the device
// service (channel type 0) or the COM port (channel type 1).
#include "at_channel.h"

#include "clog.h"
#include "com_port_channel.h"
#include "mbn_device_service.h"
#include "secret_mask.h"
#include "state_work.h"

#include <atomic>

namespace {
std::atomic<const AtTransportHooks *> g_hooks{nullptr};

bool OverComPort()
{
    return CStateWork::GetInstance()->m_atOverChannelType == AT_OVER_COM_CHANNEL;
}
} // namespace

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
    if (!OverComPort()) {
        return CMbnDeviceServicesEventsMonitor::GetInstance()->SetCommand(reinterpret_cast<const uint8_t *>(command),
                                                                          length, requestId) == 1;
    }
    *requestId = 0;
    CComPortChannelHelper *port = CComPortChannelHelper::GetInstance();
    if (port->m_hComm == INVALID_HANDLE_VALUE) {
        return FALSE;
    }
    return port->SendSetData(command, length);
}

BOOL ReceiveAtResponse(char *buffer, size_t capacity, size_t *length, uint32_t requestId)
{
    const AtTransportHooks *hooks = g_hooks.load();
    if (hooks != nullptr) {
        return hooks->receive(hooks->context, buffer, capacity, length, requestId);
    }
    if (!OverComPort()) {
        HBR_LOG_INFO("[ReceiveAtResponse] at over mbim channel(%d)", static_cast<int>(requestId));
        return CMbnDeviceServicesEventsMonitor::GetInstance()->TakeSetCommandResponse(requestId, buffer, capacity,
                                                                                      length)
                   ? TRUE
                   : FALSE;
    }
    HBR_LOG_INFO("[ReceiveAtResponse] at over com channel(%d)", static_cast<int>(requestId));
    CComPortChannelHelper *port = CComPortChannelHelper::GetInstance();
    // A closed port leaves the length untouched; the line then shows 0.
    size_t got = 0;
    BOOL ok = FALSE;
    if (port->m_hComm != INVALID_HANDLE_VALUE) {
        ok = port->ReadSetData(buffer, capacity, &got);
        *length = got;
    }
    // A port that echoes commands repeats an APN command's password.
    HBR_LOG_INFO("[ReceiveAtResponse]%lu-%lu-%s", static_cast<unsigned long>(capacity),
                 static_cast<unsigned long>(got), MaskApnCommand(buffer, got).c_str());
    return ok;
}
