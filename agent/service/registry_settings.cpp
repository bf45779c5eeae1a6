// Registry settings read at start-up, the watch on "OSIsUsingLogicalChannel"
// and the mirror of the IoT service state.
#include "state_work.h"

#include "clog.h"

namespace {

// One reader's open and query: the data goes straight into `target`.
struct ValueRead {
    bool opened = false;
    LSTATUS rc = ERROR_SUCCESS;
    DWORD type = 0;
    DWORD size = 0;
};

enum class OpenWording { MainKey, Plain };

ValueRead ReadValue(const char *path, OpenWording wording, const char *name, void *target, DWORD size)
{
    ValueRead r;
    HKEY key = nullptr;
    r.rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS, &key);
    if (r.rc != ERROR_SUCCESS) {
        if (wording == OpenWording::MainKey) {
            HBR_LOG_INFO("RegOpenKeyEx REG_MAIN_KEY fail %d", static_cast<int>(r.rc));
        } else {
            HBR_LOG_INFO("RegOpenKeyEx fail %d", static_cast<int>(r.rc));
        }
        return r;
    }
    r.opened = true;
    r.size = size;
    r.rc = RegQueryValueExA(key, name, nullptr, &r.type, static_cast<LPBYTE>(target), &r.size);
    HBR_LOG_INFO("RegQueryValueEx %d", static_cast<int>(r.rc));
    RegCloseKey(key);
    return r;
}

} // namespace

BOOL CStateWork::TestRetryFromReg()
{
    ValueRead r = ReadValue(REG_RETRY_TEST_SUBKEY, OpenWording::MainKey, REG_TEST_RETRY_ERROR_CODE,
                            &m_testRetryErrorCode, sizeof m_testRetryErrorCode);
    if (r.opened && r.rc == ERROR_SUCCESS && r.type == REG_DWORD) {
        HBR_LOG_INFO("RegQueryValueEx REG_TEST_RETRY_ERROR_CODE(%d-%d)\n", static_cast<int>(m_testRetryErrorCode),
                     static_cast<int>(r.size));
    } else {
        m_testRetryErrorCode = 0;
    }
    return r.opened ? TRUE : FALSE;
}

BOOL CStateWork::QueryATOverChannelType()
{
    ValueRead r = ReadValue(REG_MAIN_KEY, OpenWording::MainKey, REG_AT_OVER_CHANNEL_TYPE, &m_atOverChannelType,
                            sizeof m_atOverChannelType);
    if (!r.opened) {
        return FALSE;
    }
    if (r.rc == ERROR_SUCCESS && r.type == REG_DWORD) {
        HBR_LOG_INFO("RegQueryValueEx REG_AT_OVER_CHANNEL_TYPE(%d-%d)\n", static_cast<int>(m_atOverChannelType),
                     static_cast<int>(r.size));
        // 2 and above are refused (InitWork then resets the field).
        return m_atOverChannelType <= AT_OVER_COM_CHANNEL ? TRUE : FALSE;
    }
    HBR_LOG_INFO("query REG_AT_OVER_CHANNEL_TYPE fail(%d)\n", static_cast<int>(r.rc));
    return FALSE;
}

BOOL CStateWork::QueryATChannelHardId()
{
    // 256 bytes at most: the field's last byte stays zero.
    ValueRead r = ReadValue(REG_MAIN_KEY, OpenWording::Plain, REG_AT_COM_HARDWARE_ID, m_atComHardwareId,
                            sizeof m_atComHardwareId - 1);
    if (!r.opened) {
        return FALSE;
    }
    if (r.rc == ERROR_SUCCESS && r.type == REG_SZ) {
        HBR_LOG_INFO("RegQueryValueEx REG_AT_COM_HARDWARE_ID(%s-%d)\n", m_atComHardwareId, static_cast<int>(r.size));
        return TRUE;
    }
    HBR_LOG_INFO("query REG_AT_COM_HARDWARE_ID fail(%d)\n", static_cast<int>(r.rc));
    return FALSE;
}

BOOL CStateWork::QueryBootstrapServerUrl()
{
    // 1024 bytes at most: the field's last byte stays zero.
    ValueRead r = ReadValue(REG_MAIN_KEY, OpenWording::Plain, REG_BOOTSTRAP_SERVER_URL, m_bootstrapServerUrl,
                            sizeof m_bootstrapServerUrl - 1);
    if (!r.opened) {
        return FALSE;
    }
    if (r.rc == ERROR_SUCCESS && r.type == REG_SZ) {
        HBR_LOG_INFO("RegQueryValueEx REG_BOOTSTRAP_SERVER_URL(%s-%d)\n", m_bootstrapServerUrl,
                     static_cast<int>(r.size));
        return TRUE;
    }
    HBR_LOG_INFO("query REG_BOOTSTRAP_SERVER_URL fail(%d)\n", static_cast<int>(r.rc));
    return FALSE;
}

BOOL CStateWork::ArmRegChangeNotify()
{
    LSTATUS rc = RegNotifyChangeKeyValue(m_hNotifyKey, TRUE, REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET,
                                         m_events[EVT_REG_CHANGE], TRUE);
    SetLastError(static_cast<DWORD>(rc));
    return rc == ERROR_SUCCESS;
}

BOOL CStateWork::RegisterMonitorRegChangeCallback()
{
    LSTATUS rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, REG_FLEETWAVE_NOTIFY_SUBKEY, 0, KEY_ALL_ACCESS, &m_hNotifyKey);
    if (rc != ERROR_SUCCESS) {
        HBR_LOG_INFO("Error RegOpenKeyEx REG_FLEETWAVE_NOTIFY_SUBKEY Fail(%d)", static_cast<int>(rc));
        rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, REG_FLEETWAVE_NOTIFY_SUBKEY, 0, nullptr, REG_OPTION_NON_VOLATILE,
                             KEY_ALL_ACCESS, nullptr, &m_hNotifyKey, nullptr);
        if (rc != ERROR_SUCCESS) {
            m_hNotifyKey = nullptr;
            HBR_LOG_INFO("Error RegCreateKeyEx REG_FLEETWAVE_NOTIFY_SUBKEY Fail(%d)", static_cast<int>(rc));
            return FALSE;
        }
        HBR_LOG_INFO("Error RegCreateKeyEx REG_FLEETWAVE_NOTIFY_SUBKEY success");
        DWORD value = IOTServiceDefault;
        rc = RegSetKeyValueA(m_hNotifyKey, nullptr, nullptr, REG_DWORD, &value, sizeof value);
        HBR_LOG_INFO("RegSetKeyValue REG_FLEETWAVE_NOTIFY_SUBKEY=IOT_SERVICE_DEFAULT %d", static_cast<int>(rc));
    }
    if (!ArmRegChangeNotify()) {
        HBR_LOG_INFO("Error in RegNotifyChangeKeyValue (%d)", static_cast<int>(GetLastError()));
        return FALSE;
    }
    return TRUE;
}

void CStateWork::RegChangeMonitorEvtFunc()
{
    DWORD value = 0;
    DWORD type = 0;
    DWORD size = sizeof value;
    LSTATUS rc = RegQueryValueExA(m_hNotifyKey, nullptr, nullptr, &type, reinterpret_cast<LPBYTE>(&value), &size);
    if (rc == ERROR_SUCCESS && type == REG_DWORD) {
        if (!ArmRegChangeNotify()) {
            HBR_LOG_INFO("[RegChangeMonitorEvtFunc] Error in RegNotifyChangeKeyValue (%d)",
                         static_cast<int>(GetLastError()));
        }
        return;
    }
    // Left disarmed: later changes no longer wake the worker.
    HBR_LOG_INFO("[RegChangeMonitorEvtFunc] query REG_FLEETWAVE_NOTIFY_SUBKEY fail:%d", static_cast<int>(rc));
}

BOOL SetIOTServiceActiveResultSubKey(DWORD state)
{
    HKEY key = nullptr;
    LSTATUS rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, REG_IOT_SERVICE_ACTIVE_RESULT, 0, KEY_ALL_ACCESS, &key);
    if (rc != ERROR_SUCCESS) {
        HBR_LOG_INFO("Error RegOpenKeyEx REG_IOT_SERVICE_ACTIVE_RESULT Fail(%d)", static_cast<int>(rc));
        rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, REG_IOT_SERVICE_ACTIVE_RESULT, 0, nullptr, REG_OPTION_NON_VOLATILE,
                             KEY_ALL_ACCESS, nullptr, &key, nullptr);
        if (rc != ERROR_SUCCESS) {
            HBR_LOG_INFO("Error RegCreateKeyEx REG_IOT_SERVICE_ACTIVE_RESULT Fail(%d)", static_cast<int>(rc));
            return FALSE;
        }
    }
    rc = RegSetKeyValueA(key, nullptr, nullptr, REG_DWORD, &state, sizeof state);
    BOOL ok = rc == ERROR_SUCCESS;
    if (ok) {
        HBR_LOG_INFO("RegSetKeyValue REG_IOT_SERVICE_ACTIVE_RESULT Success");
    } else {
        HBR_LOG_INFO("RegSetKeyValue REG_IOT_SERVICE_ACTIVE_RESULT Fail %d", static_cast<int>(rc));
    }
    RegCloseKey(key);
    return ok;
}
