// Registry settings read at start-up, the watch on "OSIsUsingLogicalChannel"
// and the mirror of the IoT service state.
#include "state_work.h"

#include "clog.h"

BOOL CStateWork::TestRetryFromReg()
{
    HKEY key = nullptr;
    LSTATUS rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, REG_RETRY_TEST_SUBKEY, 0, KEY_ALL_ACCESS, &key);
    if (rc != ERROR_SUCCESS) {
        HBR_LOG_INFO("RegOpenKeyEx REG_MAIN_KEY fail %d", static_cast<int>(rc));
        m_testRetryErrorCode = 0;
        return FALSE;
    }
    DWORD type = 0;
    DWORD size = sizeof m_testRetryErrorCode;
    rc = RegQueryValueExA(key, REG_TEST_RETRY_ERROR_CODE, nullptr, &type,
                          reinterpret_cast<LPBYTE>(&m_testRetryErrorCode), &size);
    HBR_LOG_INFO("RegQueryValueEx %d", static_cast<int>(rc));
    if (rc == ERROR_SUCCESS && type == REG_DWORD) {
        HBR_LOG_INFO("RegQueryValueEx REG_TEST_RETRY_ERROR_CODE(%d-%d)\n", static_cast<int>(m_testRetryErrorCode),
                     static_cast<int>(size));
    } else {
        m_testRetryErrorCode = 0;
    }
    RegCloseKey(key);
    return TRUE;
}

BOOL CStateWork::QueryATOverChannelType()
{
    HKEY key = nullptr;
    LSTATUS rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, REG_MAIN_KEY, 0, KEY_ALL_ACCESS, &key);
    if (rc != ERROR_SUCCESS) {
        HBR_LOG_INFO("RegOpenKeyEx REG_MAIN_KEY fail %d", static_cast<int>(rc));
        return FALSE;
    }
    DWORD type = 0;
    DWORD size = sizeof m_atOverChannelType;
    rc = RegQueryValueExA(key, REG_AT_OVER_CHANNEL_TYPE, nullptr, &type,
                          reinterpret_cast<LPBYTE>(&m_atOverChannelType), &size);
    HBR_LOG_INFO("RegQueryValueEx %d", static_cast<int>(rc));
    BOOL accepted = FALSE;
    if (rc == ERROR_SUCCESS && type == REG_DWORD) {
        HBR_LOG_INFO("RegQueryValueEx REG_AT_OVER_CHANNEL_TYPE(%d-%d)\n", static_cast<int>(m_atOverChannelType),
                     static_cast<int>(size));
        // 2 and above are refused (InitWork then resets the field).
        accepted = m_atOverChannelType <= AT_OVER_COM_CHANNEL;
    } else {
        HBR_LOG_INFO("query REG_AT_OVER_CHANNEL_TYPE fail(%d)\n", static_cast<int>(rc));
    }
    RegCloseKey(key);
    return accepted;
}

BOOL CStateWork::QueryATChannelHardId()
{
    HKEY key = nullptr;
    LSTATUS rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, REG_MAIN_KEY, 0, KEY_ALL_ACCESS, &key);
    if (rc != ERROR_SUCCESS) {
        HBR_LOG_INFO("RegOpenKeyEx fail %d", static_cast<int>(rc));
        return FALSE;
    }
    DWORD type = 0;
    DWORD size = sizeof m_atComHardwareId - 1; // 256: the last byte stays zero
    rc = RegQueryValueExA(key, REG_AT_COM_HARDWARE_ID, nullptr, &type, reinterpret_cast<LPBYTE>(m_atComHardwareId),
                          &size);
    HBR_LOG_INFO("RegQueryValueEx %d", static_cast<int>(rc));
    BOOL accepted = FALSE;
    if (rc == ERROR_SUCCESS && type == REG_SZ) {
        HBR_LOG_INFO("RegQueryValueEx REG_AT_COM_HARDWARE_ID(%s-%d)\n", m_atComHardwareId, static_cast<int>(size));
        accepted = TRUE;
    } else {
        HBR_LOG_INFO("query REG_AT_COM_HARDWARE_ID fail(%d)\n", static_cast<int>(rc));
    }
    RegCloseKey(key);
    return accepted;
}

BOOL CStateWork::QueryBootstrapServerUrl()
{
    HKEY key = nullptr;
    LSTATUS rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, REG_MAIN_KEY, 0, KEY_ALL_ACCESS, &key);
    if (rc != ERROR_SUCCESS) {
        HBR_LOG_INFO("RegOpenKeyEx fail %d", static_cast<int>(rc));
        return FALSE;
    }
    DWORD type = 0;
    DWORD size = sizeof m_bootstrapServerUrl - 1; // 1024: the last byte stays zero
    rc = RegQueryValueExA(key, REG_BOOTSTRAP_SERVER_URL, nullptr, &type,
                          reinterpret_cast<LPBYTE>(m_bootstrapServerUrl), &size);
    HBR_LOG_INFO("RegQueryValueEx %d", static_cast<int>(rc));
    BOOL accepted = FALSE;
    if (rc == ERROR_SUCCESS && type == REG_SZ) {
        HBR_LOG_INFO("RegQueryValueEx REG_BOOTSTRAP_SERVER_URL(%s-%d)\n", m_bootstrapServerUrl,
                     static_cast<int>(size));
        accepted = TRUE;
    } else {
        HBR_LOG_INFO("query REG_BOOTSTRAP_SERVER_URL fail(%d)\n", static_cast<int>(rc));
    }
    RegCloseKey(key);
    return accepted;
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
