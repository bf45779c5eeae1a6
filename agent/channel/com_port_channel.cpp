#include "com_port_channel.h"

#include "clog.h"
#include "device_class_walk.h"
#include "secret_mask.h"
#include "state_work.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

std::atomic<CComPortChannelHelper *> g_testHelper{nullptr};

const DeviceClassWalkTexts kFriendlyNameWalk = {
    "[Infomation][CComPortChannelHelper::GetComPortFriendlyName] SetupDiClassGuidsFromName: listSize = 1, "
    "dwNumberOfGUIDs = % d",
    "[error][CComPortChannelHelper::GetComPortFriendlyName] SetupDiClassGuidsFromName Fail(%d)",
    "[error][CComPortChannelHelper::GetComPortFriendlyName] dwNumberOfGUIDs=0",
    "[error][CComPortChannelHelper::GetComPortFriendlyName] SetupDiGetClassDevs Fail(%d)",
    "[error][CComPortChannelHelper::GetComPortFriendlyName] SPDRP_HARDWAREID registry key is NULL!",
    "[Infomation][CStateWork::GetComPortFriendlyName] HardId-%s",
    "[error][CComPortChannelHelper::GetComPortFriendlyName] SPDRP_HARDWAREID registry key is not an SZ!",
    true,
    false,
};

} // namespace

CComPortChannelHelper *CComPortChannelHelper::GetInstance()
{
    CComPortChannelHelper *test = g_testHelper.load();
    if (test != nullptr) {
        return test;
    }
    static CComPortChannelHelper *instance = new CComPortChannelHelper();
    return instance;
}

void CComPortChannelHelper::SetInstanceForTest(CComPortChannelHelper *helper)
{
    g_testHelper.store(helper);
}

CComPortChannelHelper::CComPortChannelHelper() : m_hComm(INVALID_HANDLE_VALUE)
{
}

CComPortChannelHelper::~CComPortChannelHelper() = default;

void CComPortChannelHelper::Close()
{
    if (m_hComm != INVALID_HANDLE_VALUE) {
        CloseHandle(m_hComm);
        m_hComm = INVALID_HANDLE_VALUE;
    }
}

BOOL CComPortChannelHelper::GetComPortFriendlyName(std::string *friendlyName, const char *hardwareId)
{
    BOOL found = FALSE;
    BOOL walked = WalkDeviceClass("Ports", kFriendlyNameWalk, [&](HDEVINFO set, SP_DEVINFO_DATA *device,
                                                                   const char *ids) {
        if (!HardwareIdStartsWantedId(ids, hardwareId)) {
            return false;
        }
        HBR_LOG_INFO("[Infomation][CComPortChannelHelper::GetComPortFriendlyName] HardId == matchId %s", hardwareId);
        DWORD type = 0;
        char *name = CStateWork::GetDeviceRegistryProperty(set, device, SPDRP_FRIENDLYNAME, &type);
        if (name == nullptr) {
            HBR_LOG_INFO("[Infomation][CComPortChannelHelper::GetComPortFriendlyName] SPDRP_FRIENDLYNAME registry "
                         "key is NULL!");
        } else if (type == REG_SZ) {
            *friendlyName = name;
            HBR_LOG_INFO("[Infomation][CComPortChannelHelper::GetComPortFriendlyName] FirendlyName-%s", name);
            found = TRUE;
        } else {
            HBR_LOG_INFO("SPDRP_FRIENDLYNAME registry key is not an SZ!\n");
        }
        std::free(name);
        return false; // the last match wins
    });
    return walked && found;
}

std::string PortNameFromFriendlyName(const std::string &friendlyName)
{
    size_t open = friendlyName.rfind('(');
    size_t close = friendlyName.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open) {
        return std::string();
    }
    std::string name = friendlyName.substr(open + 1, close - open - 1);
    if (name.size() > 260) {
        name.resize(260);
    }
    return name;
}

HRESULT CComPortChannelHelper::Init(const char *hardwareId)
{
    std::string friendlyName;
    BOOL found = GetComPortFriendlyName(&friendlyName, hardwareId);
    HBR_LOG_INFO("[Information][CComPortChannelHelper::Init]friendlyName:%d-%s\n", found, friendlyName.c_str());
    if (!found) {
        return E_FAIL;
    }
    std::string portName = PortNameFromFriendlyName(friendlyName);
    char path[261];
    std::memset(path, 0, sizeof path);
    std::snprintf(path, sizeof path, "\\\\.\\%s", portName.c_str());
    HBR_LOG_ERROR("[Error][CComPortChannelHelper::Init]PortName-%s\n", portName.c_str());

    HANDLE port = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    HBR_LOG_INFO("[Information][CComPortChannelHelper::Init]Create File result = %p-%d\n", port,
                 static_cast<int>(GetLastError()));
    if (port == INVALID_HANDLE_VALUE || port == nullptr) {
        return E_FAIL;
    }
    m_hComm = port;
    ConfigSerialPort(port); // a badly configured port is still used
    return S_OK;
}

BOOL ConfigSerialPort(HANDLE port)
{
    COMMTIMEOUTS timeouts;
    timeouts.ReadIntervalTimeout = 200;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 2000;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = 5000;
    if (!SetCommTimeouts(port, &timeouts)) {
        HBR_LOG_ERROR("[Error][CStateWork::ConfigSerialPort]SetCommTimeouts Fail\n");
        return FALSE;
    }
    DCB dcb;
    std::memset(&dcb, 0, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(port, &dcb)) {
        HBR_LOG_ERROR("[Error][CStateWork::ConfigSerialPort]GetCommState Fail\n");
        return FALSE;
    }
    dcb.BaudRate = CBR_9600;
    dcb.fOutxCtsFlow = 1;
    dcb.fOutxDsrFlow = 1;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    if (!SetCommState(port, &dcb)) {
        HBR_LOG_ERROR("[Error][CStateWork::ConfigSerialPort]SetCommState Fail:%d\n", static_cast<int>(GetLastError()));
        return FALSE;
    }
    if (!ClearCommBreak(port)) {
        HBR_LOG_ERROR("[Error][CStateWork::ConfigSerialPort]ClearCommBreak Fail\n");
        return FALSE;
    }
    DWORD errors = 0;
    COMSTAT status;
    std::memset(&status, 0, sizeof status);
    if (!ClearCommError(port, &errors, &status)) {
        HBR_LOG_ERROR("[Error][CStateWork::ConfigSerialPort]ClearCommError, dwError = %d, COMSTAT size = %lld\n",
                      static_cast<int>(errors), static_cast<long long>(sizeof(COMSTAT)));
        return FALSE;
    }
    return TRUE;
}

BOOL CComPortChannelHelper::SendSetData(const char *command, uint32_t length)
{
    DWORD written = 0;
    if (!WriteFile(m_hComm, command, length, &written, nullptr)) {
        HBR_LOG_ERROR("[Error][CComPortChannelHelper::SendSetData]WriteFile Error %d", static_cast<int>(GetLastError()));
        return FALSE;
    }
    if (written == length) {
        HBR_LOG_INFO("[Information][CComPortChannelHelper::SendSetData]WriteFile success(%s)",
                     MaskApnCommand(command, length).c_str());
        return TRUE;
    }
    HBR_LOG_INFO("[Information][CComPortChannelHelper::SendSetData]WriteFile data_len(%lu)!=returnByte(%lu)",
                 static_cast<unsigned long>(length), static_cast<unsigned long>(written));
    return FALSE;
}

BOOL CComPortChannelHelper::ReadSetData(char *buffer, size_t capacity, size_t *length)
{
    if (m_hComm == INVALID_HANDLE_VALUE) {
        return FALSE;
    }
    HBR_LOG_INFO("[Information][CComPortChannelHelper::ReadSetData]ReadFile ");
    size_t collected = 0;
    for (;;) {
        size_t remaining = capacity - collected;
        DWORD ask = remaining > MAXDWORD ? MAXDWORD : static_cast<DWORD>(remaining);
        DWORD got = 0;
        if (!ReadFile(m_hComm, buffer + collected, ask, &got, nullptr)) {
            HBR_LOG_ERROR("[Error][CComPortChannelHelper::ReadSetData]ReadFile Error %d",
                          static_cast<int>(GetLastError()));
            *length = collected;
            return FALSE;
        }
        HBR_LOG_INFO("[Information][CComPortChannelHelper::ReadSetData]ReadFile data_len(%llu)-returnByte(%lu)",
                     static_cast<unsigned long long>(remaining), static_cast<unsigned long>(got));
        collected += got;
        if (got == 0) {
            HBR_LOG_INFO("[Information][CComPortChannelHelper::ReadSetData]ReadFile data_len(%llu)-readLen(%lu)",
                         static_cast<unsigned long long>(capacity), static_cast<unsigned long>(collected));
            *length = collected;
            return TRUE;
        }
        Sleep(100);
    }
}
