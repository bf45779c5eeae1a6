// The AT channel bring-up on the timer's event, platform detection, the
// device property reader and the synchronisation request.
#include "at_channel_bringup.h"

#include "at_channel.h"
#include "clog.h"
#include "com_port_channel.h"
#include "device_class_walk.h"
#include "mbn_device_service.h"
#include "state_work.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const DeviceClassWalkTexts kPortLookupWalk = {
    "[Infomation][CStateWork::CheckComPortIsExit] SetupDiClassGuidsFromName: listSize = 1, dwNumberOfGUIDs = % d",
    "[error][CStateWork::CheckComPortIsExit] SetupDiClassGuidsFromName Fail(%d)\n",
    "[error][CStateWork::CheckComPortIsExit] dwNumberOfGUIDs=0",
    "[error][CStateWork::CheckComPortIsExit] SetupDiGetClassDevs Fail(%d)",
    "[error][CStateWork::CheckComPortIsExit] SPDRP_HARDWAREID registry key is NULL!",
    "[Infomation][CStateWork::CheckComPortIsExit] HardId-%s",
    "[error][CStateWork::CheckComPortIsExit] SPDRP_HARDWAREID registry key is not an SZ!",
    false,
    false,
};

const DeviceClassWalkTexts kDetectionWalk = {
    "[Infomation][CStateWork::CheckComPortIsExit] SetupDiClassGuidsFromName: listSize = 1, dwNumberOfGUIDs = % d",
    "[error][CStateWork::CheckComPortIsExit] SetupDiClassGuidsFromName Fail(%d)\n",
    "[error][CStateWork::CheckComPortIsExit] dwNumberOfGUIDs=0\n",
    "[error][CStateWork::CheckComPortIsExit] SetupDiGetClassDevs Fail(%d)\n",
    "[error][CStateWork::CheckComPortIsExit] SPDRP_HARDWAREID registry key is NULL!\n",
    "[Infomation][CStateWork::CheckComPortIsExit] HardId-%s\n",
    "[error][CStateWork::CheckComPortIsExit] SPDRP_HARDWAREID registry key is not an SZ!\n",
    false,
    true,
};

// Hardware-id texts of the platform types, in the order they are tested.
const struct {
    const char *id;
    int32_t type;
} kPlatformIds[] = {
    {"PCI\\VEN_14C3&DEV_4D75", 0},
    {"USB\\VID_8087&PID_0AC9", 1},
    {"USB\\VID_5E1A", 2},
};

// `nl` ends each line: "\n" for the hardware-id form, "" for the other.
char *ReadDeviceProperty(HDEVINFO set, PSP_DEVINFO_DATA device, DWORD property, DWORD *regType, const char *nl)
{
    DWORD required = 0;
    if (SetupDiGetDeviceRegistryPropertyA(set, device, property, regType, nullptr, 0, &required)) {
        HBR_LOG_ERROR("[error][CStateWork::GetDeviceRegistryProperty] call SetupDiGetDeviceRegistryProperty did not "
                      "fail? (%x)%s",
                      static_cast<unsigned>(GetLastError()), nl);
        return nullptr;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        return nullptr;
    }
    // Two zero bytes past the reported size keep the text terminated even
    // when the stored value lacks its terminators.
    char *buffer = static_cast<char *>(std::calloc(static_cast<size_t>(required) + 2, 1));
    if (buffer == nullptr) {
        HBR_LOG_ERROR("[error][CStateWork::GetDeviceRegistryProperty] unable to allocate memory!%s", nl);
        return nullptr;
    }
    if (!SetupDiGetDeviceRegistryPropertyA(set, device, property, regType, reinterpret_cast<PBYTE>(buffer),
                                           required, nullptr)) {
        HBR_LOG_ERROR("[error][CStateWork::GetDeviceRegistryProperty] couldn't get registry property! error: %u%s",
                      static_cast<unsigned>(GetLastError()), nl);
        std::free(buffer);
        return nullptr;
    }
    return buffer;
}

const char *SyncResultName(int32_t result)
{
    switch (result) {
    case DPD_DONE_STATUS:
        return "DPD_DONE_STATUS";
    case DPD_READY_STATUS:
        return "DPD_READY_STATUS";
    case DPD_NOT_READY_STATUS:
        return "DPD_NOT_READY_STATUS";
    default:
        return "DPD_RETRY_STATUS";
    }
}

// The interface id as UTF-8 text.
std::string Narrow(BSTR text)
{
    int wide = static_cast<int>(SysStringLen(text));
    if (wide == 0) {
        return std::string();
    }
    int n = WideCharToMultiByte(CP_UTF8, 0, text, wide, nullptr, 0, nullptr, nullptr);
    if (n <= 0) {
        return std::string();
    }
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, wide, &out[0], n, nullptr, nullptr);
    return out;
}

} // namespace

char *CStateWork::GetDeviceRegistryProperty(HDEVINFO set, PSP_DEVINFO_DATA device, DWORD *regType)
{
    return ReadDeviceProperty(set, device, SPDRP_HARDWAREID, regType, "\n");
}

char *CStateWork::GetDeviceRegistryProperty(HDEVINFO set, PSP_DEVINFO_DATA device, DWORD property, DWORD *regType)
{
    return ReadDeviceProperty(set, device, property, regType, "");
}

BOOL CStateWork::CheckComPortIsExit(const char *hardwareId)
{
    bool found = false;
    WalkDeviceClass("Ports", kPortLookupWalk, [&](HDEVINFO, SP_DEVINFO_DATA *, const char *ids) {
        found = HardwareIdStartsWantedId(ids, hardwareId);
        return found;
    });
    return found ? TRUE : FALSE;
}

void CStateWork::DetectPlatformType(const char *className)
{
    int32_t type = 0;
    WalkDeviceClass(className, kDetectionWalk, [&](HDEVINFO, SP_DEVINFO_DATA *, const char *ids) {
        for (const auto &entry : kPlatformIds) {
            if (std::strstr(ids, entry.id) != nullptr) {
                type = entry.type;
                return true;
            }
        }
        return false;
    });
    m_platType = type;
    HBR_LOG_INFO("[CheckPlatformType] m_platType(%d)", static_cast<int>(type));
}

void CStateWork::CheckPlatformType()
{
    DetectPlatformType("Net");
}

void CStateWork::CheckComPortPlatformType()
{
    DetectPlatformType("Ports");
}

HRESULT CStateWork::CheckMbbInterfaceState()
{
    HBR_LOG_INFO("CheckMbbInterfaceState Enter");
    IMbnInterfaceManager *manager = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_MbnInterfaceManager, nullptr, CLSCTX_ALL, IID_IMbnInterfaceManager,
                                  reinterpret_cast<void **>(&manager));
    if (FAILED(hr)) {
        HBR_LOG_INFO("CoCreateInstance IID_IMbnInterfaceManager Failed(%x)", static_cast<unsigned>(hr));
        return hr;
    }
    SAFEARRAY *interfaces = nullptr;
    LONG lower = 0;
    LONG upper = 0;
    unsigned count = 0;
    hr = manager->GetInterfaces(&interfaces);
    if (FAILED(hr)) {
        HBR_LOG_INFO("GetInterfaces Fail");
    } else if (FAILED(hr = SafeArrayGetLBound(interfaces, 1, &lower))) {
        HBR_LOG_INFO("SafeArrayGetLBound Fail");
    } else if (FAILED(hr = SafeArrayGetUBound(interfaces, 1, &upper))) {
        HBR_LOG_INFO("SafeArrayGetUBound Fail");
    } else {
        HBR_LOG_INFO("lLower:%lu-%lu", static_cast<unsigned long>(static_cast<ULONG>(lower)),
                     static_cast<unsigned long>(static_cast<ULONG>(upper)));
        for (LONG i = lower; i <= upper; ++i) {
            IUnknown *element = nullptr;
            hr = SafeArrayGetElement(interfaces, &i, &element);
            if (FAILED(hr)) {
                HBR_LOG_INFO("SafeArrayGetElement Fail");
                break;
            }
            ++count;
            if (i == lower && element != nullptr) {
                IMbnInterface *first = nullptr;
                if (SUCCEEDED(element->QueryInterface(IID_IMbnInterface, reinterpret_cast<void **>(&first)))) {
                    if (first == m_mbbInterface) {
                        first->Release();
                    } else {
                        if (m_mbbInterface != nullptr) {
                            m_mbbInterface->Release();
                        }
                        m_mbbInterface = first;
                    }
                }
            }
            if (element != nullptr) {
                element->Release();
            }
        }
        HBR_LOG_INFO("MbbInterface total(%u),we use first MbbInterface", count);
        if (SUCCEEDED(hr) && count == 0) {
            hr = E_FAIL;
        }
    }
    manager->Release();
    SafeArrayDestroy(interfaces);
    return hr;
}

void CStateWork::AtChannelMonitorEvtFunc()
{
    if (m_atOverChannelType != AT_OVER_COM_CHANNEL) {
        if (FAILED(CheckMbbInterfaceState()) || m_mbbInterface == nullptr) {
            return;
        }
        BSTR interfaceId = nullptr;
        HRESULT hr = m_mbbInterface->get_InterfaceID(&interfaceId);
        if (FAILED(hr)) {
            HBR_LOG_INFO("[AtChannelMonitorEvtFunc] get_InterfaceID fail(%x)", static_cast<unsigned>(hr));
            SysFreeString(interfaceId);
            return;
        }
        HBR_LOG_INFO("[AtChannelMonitorEvtFunc] Find MBB interface, and interfaceID(%s)",
                     Narrow(interfaceId).c_str());
        if (m_platType == -1) {
            CheckPlatformType();
        }
        CMbnDeviceServicesEventsMonitor *monitor = CMbnDeviceServicesEventsMonitor::GetInstance();
        hr = monitor->Init(interfaceId);
        SysFreeString(interfaceId);
        if (FAILED(hr)) {
            HBR_LOG_INFO("[Infomation][CStateWork::Work] CMbnDeviceServicesEventsMonitor Init Fail(%x)",
                         static_cast<unsigned>(hr));
            HBR_LOG_INFO("[AtChannelMonitorEvtFunc] MbbInterfaceInit fail(%x)", static_cast<unsigned>(hr));
            monitor->Uninit();
            return;
        }
        DestroyAtChannelTimer();
    } else {
        if (!CheckComPortIsExit(m_atComHardwareId)) {
            HBR_LOG_INFO("[AtChannelMonitorEvtFunc] CheckAtComPortIsExist fail(%s)", m_atComHardwareId);
            return;
        }
        HBR_LOG_INFO("[AtChannelMonitorEvtFunc] Find At Com Port, HardId(%s)", m_atComHardwareId);
        if (m_platType == -1) {
            CheckComPortPlatformType();
        }
        CComPortChannelHelper *port = CComPortChannelHelper::GetInstance();
        HRESULT hr = port->Init(m_atComHardwareId);
        if (FAILED(hr)) {
            HBR_LOG_INFO("[Infomation][CStateWork::Work] CComPortChannelHelper Init Fail(%x)",
                         static_cast<unsigned>(hr));
            HBR_LOG_INFO("[AtChannelMonitorEvtFunc] ComPortInit fail(%x)\n", static_cast<unsigned>(hr));
            port->Close();
            return;
        }
        DestroyAtChannelTimer();
    }

    m_mbbInterfaceRemoved = 0;
    if (m_platType != 1) {
        return;
    }
    Sleep(10000);
    for (int attempt = 0; attempt < 5; ++attempt) {
        int32_t result = TriggerAgent2ModuleSyncFlow();
        HBR_LOG_INFO("[AtChannelMonitorEvtFunc] TriggerAgent2ModuleSyncFlow(%d-%s)", attempt, SyncResultName(result));
        if (result == DPD_DONE_STATUS || result == DPD_READY_STATUS) {
            break;
        }
        Sleep(2000);
    }
}

void CStateWork::CloseAtChannel()
{
    if (m_atOverChannelType == AT_OVER_COM_CHANNEL) {
        CComPortChannelHelper::GetInstance()->Close();
    } else {
        CMbnDeviceServicesEventsMonitor::GetInstance()->Uninit();
    }
}

SyncReply ParseSyncReply(const char *reply, size_t length)
{
    SyncReply parsed;
    std::string text(reply, strnlen(reply, length));
    if (text.find("OK") == std::string::npos) {
        return parsed;
    }
    parsed.ok = true;
    size_t tag = text.find("+GTPCTPOC:");
    size_t comma = tag == std::string::npos ? std::string::npos : text.find(',', tag);
    if (comma == std::string::npos) {
        parsed.result = DPD_NOT_READY_STATUS;
        return parsed;
    }
    const char *digits = text.c_str() + comma + 1;
    while (*digits == ' ') {
        ++digits;
    }
    // As atoi, but a value out of range is no valid status.
    errno = 0;
    long value = std::strtol(digits, nullptr, 10);
    if (errno == ERANGE || value > INT_MAX || value < INT_MIN) {
        value = -1;
    }
    switch (value) {
    case 0:
        parsed.result = DPD_NOT_READY_STATUS;
        break;
    case 2:
        parsed.result = DPD_DONE_STATUS;
        break;
    case 1:
        parsed.result = DPD_READY_STATUS;
        parsed.activeRequest = text.find("+GTPCTPOC: ACTIVE") != std::string::npos;
        parsed.deactiveRequest = !parsed.activeRequest && text.find("+GTPCTPOC: DEACTIVE") != std::string::npos;
        break;
    default:
        parsed.result = DPD_RETRY_STATUS;
        break;
    }
    return parsed;
}

int32_t TriggerAgent2ModuleSyncFlow()
{
    char buffer[1025];
    std::memset(buffer, 0, sizeof buffer);
    std::strcpy(buffer, "AT+GTPCTPOC=6\r\n");
    uint32_t requestId = 0;
    if (!SendATCmd(buffer, static_cast<uint32_t>(std::strlen(buffer)), &requestId)) {
        HBR_LOG_INFO("[Infomation]Send TriggerAgent2ModuleSyncFlow To Module ATCmd Fail");
        return DPD_RETRY_STATUS;
    }
    std::memset(buffer, 0, sizeof buffer);
    size_t length = 0;
    if (!ReceiveAtResponse(buffer, sizeof buffer - 1, &length, requestId)) {
        HBR_LOG_INFO("[Infomation]TriggerAgent2ModuleSyncFlow Fail");
        return DPD_RETRY_STATUS;
    }
    HBR_LOG_INFO("[Infomation]TriggerAgent2ModuleSyncFlow Success");
    SyncReply reply = ParseSyncReply(buffer, sizeof buffer - 1);
    if (!reply.ok) {
        HBR_LOG_INFO("[Infomation]TriggerAgent2ModuleSyncFlow module return Error");
        return DPD_RETRY_STATUS;
    }
    HBR_LOG_INFO("[Infomation]TriggerAgent2ModuleSyncFlow module return OK(%s)", buffer);
    if (reply.activeRequest) {
        RaiseIotServiceRequest(IotServiceRequest::Active);
    } else if (reply.deactiveRequest) {
        RaiseIotServiceRequest(IotServiceRequest::Deactive);
    }
    return reply.result;
}
