// CStateWork: the agent's single work object, its worker thread with the
// event loop, the AT-channel timer and the registry settings.
#ifndef HBR_AGENT_STATE_WORK_H
#define HBR_AGENT_STATE_WORK_H

#include <windows.h>
#include <objbase.h>
#include <mbnapi.h>
#include <ocidl.h>
#include <setupapi.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#define HBR_AGENT_VERSION "1.1.1.25"

#define REG_MAIN_KEY "SYSTEM\\CurrentControlSet\\Control\\Quorlin\\HBRAgentService\\"
#define REG_RETRY_TEST_SUBKEY REG_MAIN_KEY "RetryTest\\"
#define REG_FLEETWAVE_NOTIFY_SUBKEY REG_MAIN_KEY "OSIsUsingLogicalChannel"
#define REG_IOT_SERVICE_ACTIVE_RESULT REG_MAIN_KEY "IOTServiceActiveOrDeactiveResult"
#define REG_AT_OVER_CHANNEL_TYPE "ATOverChannelType"
#define REG_AT_COM_HARDWARE_ID "ATComChannelHardwareId"
#define REG_BOOTSTRAP_SERVER_URL "BootstrapServerUrl"
#define REG_TEST_RETRY_ERROR_CODE "RetryErrorCode"

// IoT service state, mirrored to the registry.
enum IotServiceState {
    IOTServiceDefault = 0,
    IOTServiceInit = 1,
    IOTServiceActiveStart = 2,
    IOTServiceActiving = 3,
    IOTServiceActiveSuccess = 4,
    IOTServiceActiveFail = 5,
    IOTServiceDeactiveStart = 6,
    IOTServiceDeactiving = 7,
    IOTServiceDeactiveSuccess = 8,
    IOTServiceDeactiveFail = 9,
    IOTServiceCheckStart = 10,
    IOTServiceChecking = 11,
    IOTServiceCheckSuccess = 12,
    IOTServiceCheckFail = 13,
};

// AT channel types.
enum { AT_OVER_MBIM_CHANNEL = 0, AT_OVER_COM_CHANNEL = 1 };

// Indexes of CStateWork::m_events.
enum {
    EVT_SERVICE_START = 0,
    EVT_SERVICE_STOP = 1,
    EVT_REG_CHANGE = 2,
    EVT_AT_CHANNEL_MONITOR = 3,
    EVT_IOT_SERVICE_ACTIVE = 4,
    EVT_IOT_SERVICE_DEACTIVE = 5,
    EVT_IOT_SERVICE_CHECK = 6,
    EVT_COUNT = 7,
};

class CStateWork;
class CMbnDeviceServicesEventsMonitor;

// The handlers the worker loop calls, one per event after stop.
struct CStateWorkHandlers {
    void (*regChange)(CStateWork *work);
    void (*atChannelMonitor)(CStateWork *work);
    void (*active)(CStateWork *work);
    void (*deactive)(CStateWork *work);
    void (*check)(CStateWork *work);
};

// The product's handlers.
const CStateWorkHandlers &DefaultStateWorkHandlers();

class CStateWork {
public:
    // The process-wide instance, created on first call (which also runs
    // curl's global initialisation) and never destroyed.
    static CStateWork *GetInstance();
    // Test only: make GetInstance return `work` (null restores the real
    // instance). Free functions reach the work object only through
    // GetInstance, so a test runs them on a fresh object.
    static void SetInstanceForTest(CStateWork *work);

    // Fresh instances are for tests; the product uses GetInstance.
    CStateWork();
    ~CStateWork();
    CStateWork(const CStateWork &) = delete;
    CStateWork &operator=(const CStateWork &) = delete;

    // Install handlers before the worker starts.
    void SetHandlers(const CStateWorkHandlers &handlers) { m_handlers = handlers; }

    BOOL InitWork();
    static DWORD WINAPI TheadWork(LPVOID param);
    void Work();

    BOOL CreateAtChannelTimer();
    void DestroyAtChannelTimer();

    // Registry settings, read once by InitWork.
    BOOL TestRetryFromReg();
    BOOL QueryATOverChannelType();
    BOOL QueryATChannelHardId();
    BOOL QueryBootstrapServerUrl();
    BOOL RegisterMonitorRegChangeCallback();
    void RegChangeMonitorEvtFunc();

    // AT channel bring-up, device-service subscription and channel close.
    void AtChannelMonitorEvtFunc();
    HRESULT RegisterDeviceServiceMbbChannelMonitorEvent();
    void CloseAtChannel();
    // Teardown of the subscription: unadvise the sink, drop the sink's
    // reference and the connection point, with their log lines if `log`.
    void ReleaseDeviceServiceSubscription(bool log);

    // Bring-up steps and platform detection.
    HRESULT CheckMbbInterfaceState();
    BOOL CheckComPortIsExit(const char *hardwareId);
    void CheckPlatformType();        // over device class "Net"
    void CheckComPortPlatformType(); // over device class "Ports"
    // A device's property as heap text (the caller frees it with free()),
    // or null. The first form reads the hardware ids (lines end in "\n"),
    // the second any property.
    static char *GetDeviceRegistryProperty(HDEVINFO set, PSP_DEVINFO_DATA device, DWORD *regType);
    static char *GetDeviceRegistryProperty(HDEVINFO set, PSP_DEVINFO_DATA device, DWORD property, DWORD *regType);

    HANDLE m_hThread;
    HANDLE m_events[EVT_COUNT];
    std::string m_runPath;
    int32_t m_comInitialized;
    HANDLE m_hTimerQueue;
    HANDLE m_hAtChannelTimer;
    DWORD m_atOverChannelType;
    char m_atComHardwareId[257];
    char m_bootstrapServerUrl[1025];
    std::atomic<int32_t> m_iotServiceResult;
    HKEY m_hNotifyKey;
    IMbnInterface *m_mbbInterface;
    DWORD m_devSerMbbChannelEventCook;
    IConnectionPointContainer *m_connectionPointContainer;
    IConnectionPoint *m_connectionPoint;
    CMbnDeviceServicesEventsMonitor *m_devSerMbbChannelMonitor;
    std::atomic<int32_t> m_mbbInterfaceRemoved;
    std::atomic<int32_t> m_platType;
    std::atomic<int32_t> m_atChannelTimerActive;
    int32_t m_testRetryErrorCode;

private:
    BOOL ArmRegChangeNotify();
    void DetectPlatformType(const char *className);

    std::mutex m_timerLock; // around CreateAtChannelTimer / DestroyAtChannelTimer
    CStateWorkHandlers m_handlers;
};

// Timer-queue callback: sets the AT channel monitor event, nothing else.
void CALLBACK AtChannelTimerCallback(PVOID param, BOOLEAN timerOrWaitFired);

// Mirrors the IoT service state into the registry.
BOOL SetIOTServiceActiveResultSubKey(DWORD state);

// Flow handlers.
void IOTServiceActiveEvtFunc(CStateWork *work);
void IOTServiceDeactiveEvtFunc(CStateWork *work);
void IOTServiceCheckEvtFunc(CStateWork *work);

#endif
