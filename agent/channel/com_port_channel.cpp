#include "com_port_channel.h"

#include "clog.h"
#include "device_class_walk.h"
#include "secret_mask.h"
#include "state_work.h"

#include <algorithm>
#include <atomic>
#include <chrono>
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

// A read returns 200 ms after the last byte, or after this long with
// nothing (the silence that ends a reply without a final result code).
constexpr DWORD kReadTotalMs = 2000;
// Every reply ends this long after the read began, with what has come.
constexpr int64_t kReplyLimitMs = 10000;

BOOL SetPortTimeouts(HANDLE port, DWORD readTotalMs)
{
    COMMTIMEOUTS timeouts;
    timeouts.ReadIntervalTimeout = 200;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = readTotalMs;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = 5000;
    return SetCommTimeouts(port, &timeouts);
}

int64_t MsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

bool IsFinalResultCode(const char *line, size_t length)
{
    auto is = [&](const char *text) { return length == std::strlen(text) && std::memcmp(line, text, length) == 0; };
    auto startsWith = [&](const char *text) {
        return length >= std::strlen(text) && std::memcmp(line, text, std::strlen(text)) == 0;
    };
    return is("OK") || is("ERROR") || startsWith("+CME ERROR:") || startsWith("+CMS ERROR:");
}

} // namespace

bool HoldsFinalResultCode(const char *text, size_t length)
{
    size_t start = 0;
    while (start < length) {
        const char *lf = static_cast<const char *>(std::memchr(text + start, '\n', length - start));
        if (lf == nullptr) {
            return false;
        }
        size_t end = static_cast<size_t>(lf - text);
        if (end > start && text[end - 1] == '\r' && IsFinalResultCode(text + start, end - 1 - start)) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

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

    if (m_hComm != INVALID_HANDLE_VALUE) {
        HBR_LOG_INFO("[Information][CComPortChannelHelper::Init]Close the port still open(%p)", m_hComm);
        Close();
    }
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
    if (!SetPortTimeouts(port, kReadTotalMs)) {
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

void CComPortChannelHelper::PortLost()
{
    HBR_LOG_ERROR("[Error][CComPortChannelHelper]port lost(%p), closed; the AT channel comes up again", m_hComm);
    Close();
    CStateWork::GetInstance()->CreateAtChannelTimer();
}

BOOL CComPortChannelHelper::DiscardStaleInput()
{
    DWORD errors = 0;
    COMSTAT status;
    std::memset(&status, 0, sizeof status);
    std::string stale;
    if (ClearCommError(m_hComm, &errors, &status) && status.cbInQue > 0) {
        stale.resize(status.cbInQue);
        DWORD got = 0;
        // The bytes are there, so the read returns at once.
        if (!ReadFile(m_hComm, &stale[0], status.cbInQue, &got, nullptr)) {
            HBR_LOG_ERROR("[Error][CComPortChannelHelper::SendSetData]ReadFile Error %d",
                          static_cast<int>(GetLastError()));
            PortLost();
            return FALSE;
        }
        stale.resize(got);
    }
    PurgeComm(m_hComm, PURGE_RXCLEAR);
    if (stale.empty()) {
        return TRUE;
    }
    HBR_LOG_INFO("[Information][CComPortChannelHelper::SendSetData]dropped %lu stale bytes(%s)",
                 static_cast<unsigned long>(stale.size()), MaskApnCommand(stale.data(), stale.size()).c_str());
    size_t restart = stale.find("^SYSSTART");
    if (restart != std::string::npos) {
        size_t begin = stale.rfind('\n', restart);
        begin = begin == std::string::npos ? 0 : begin + 1;
        size_t end = stale.find_first_of("\r\n", restart);
        std::string line = stale.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
        HBR_LOG_INFO("[Information][CComPortChannelHelper::SendSetData]module restarted(%s), kept for the next reply",
                     line.c_str());
        m_nextReplyStart = line + "\r\n";
    }
    return TRUE;
}

BOOL CComPortChannelHelper::SendSetData(const char *command, uint32_t length)
{
    if (!DiscardStaleInput()) {
        return FALSE;
    }
    DWORD written = 0;
    if (!WriteFile(m_hComm, command, length, &written, nullptr)) {
        HBR_LOG_ERROR("[Error][CComPortChannelHelper::SendSetData]WriteFile Error %d", static_cast<int>(GetLastError()));
        PortLost();
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
    const std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    size_t collected = std::min(m_nextReplyStart.size(), capacity);
    std::memcpy(buffer, m_nextReplyStart.data(), collected);
    m_nextReplyStart.clear();
    for (;;) {
        // The read that would outlast the reply's limit waits only for
        // what is left of it.
        const int64_t left = kReplyLimitMs - MsSince(start);
        DWORD got = 0;
        if (left > 0) {
            const bool shortened = left < kReadTotalMs;
            if (shortened) {
                SetPortTimeouts(m_hComm, static_cast<DWORD>(left));
            }
            size_t remaining = capacity - collected;
            DWORD ask = remaining > MAXDWORD ? MAXDWORD : static_cast<DWORD>(remaining);
            BOOL read = ReadFile(m_hComm, buffer + collected, ask, &got, nullptr);
            DWORD error = GetLastError();
            if (shortened) {
                SetPortTimeouts(m_hComm, kReadTotalMs);
            }
            if (!read) {
                HBR_LOG_ERROR("[Error][CComPortChannelHelper::ReadSetData]ReadFile Error %d", static_cast<int>(error));
                *length = collected;
                PortLost();
                return FALSE;
            }
            HBR_LOG_INFO("[Information][CComPortChannelHelper::ReadSetData]ReadFile data_len(%llu)-returnByte(%lu)",
                         static_cast<unsigned long long>(remaining), static_cast<unsigned long>(got));
            collected += got;
        }
        if (got == 0 || HoldsFinalResultCode(buffer, collected) || MsSince(start) >= kReplyLimitMs) {
            HBR_LOG_INFO("[Information][CComPortChannelHelper::ReadSetData]ReadFile data_len(%llu)-readLen(%lu)",
                         static_cast<unsigned long long>(capacity), static_cast<unsigned long>(collected));
            *length = collected;
            return TRUE;
        }
        Sleep(100);
    }
}
