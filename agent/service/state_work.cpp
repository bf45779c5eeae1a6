#include "state_work.h"

#include "clog.h"

#include <cloud_sign.h>

#include <climits>
#include <cstring>

#include <curl/curl.h>

namespace {

void RegChangeHandler(CStateWork *work)
{
    work->RegChangeMonitorEvtFunc();
}

void AtChannelMonitorHandler(CStateWork *work)
{
    work->AtChannelMonitorEvtFunc();
}

bool IsPassAtWork(int32_t state)
{
    return state == IOTServiceActiving || state == IOTServiceDeactiving || state == IOTServiceChecking;
}

} // namespace

const CStateWorkHandlers &DefaultStateWorkHandlers()
{
    static const CStateWorkHandlers handlers = {
        RegChangeHandler, AtChannelMonitorHandler, IOTServiceActiveEvtFunc, IOTServiceDeactiveEvtFunc,
        IOTServiceCheckEvtFunc,
    };
    return handlers;
}

namespace {
std::atomic<CStateWork *> g_testWork{nullptr};
}

void CStateWork::SetInstanceForTest(CStateWork *work)
{
    g_testWork.store(work);
}

CStateWork *CStateWork::GetInstance()
{
    CStateWork *test = g_testWork.load();
    if (test != nullptr) {
        return test;
    }
    static CStateWork *instance = [] {
        curl_global_init(CURL_GLOBAL_ALL);
        return new CStateWork();
    }();
    return instance;
}

CStateWork::CStateWork()
    : m_hThread(INVALID_HANDLE_VALUE), m_comInitialized(1), m_hTimerQueue(nullptr), m_hAtChannelTimer(nullptr),
      m_atOverChannelType(0), m_iotServiceResult(-1), m_hNotifyKey(nullptr), m_mbbInterface(nullptr),
      m_devSerMbbChannelEventCook(0), m_connectionPointContainer(nullptr), m_connectionPoint(nullptr),
      m_devSerMbbChannelMonitor(nullptr), m_mbbInterfaceRemoved(-1),
      m_platType(-1), m_atChannelTimerActive(0), m_testRetryErrorCode(0), m_handlers(DefaultStateWorkHandlers())
{
    for (HANDLE &e : m_events) {
        e = nullptr;
    }
    std::memset(m_atComHardwareId, 0, sizeof m_atComHardwareId);
    std::memset(m_bootstrapServerUrl, 0, sizeof m_bootstrapServerUrl);
}

// The product's instance is never destroyed; fresh instances in tests
// release what they hold.
CStateWork::~CStateWork()
{
    DestroyAtChannelTimer();
    ReleaseDeviceServiceSubscription(false);
    if (m_connectionPointContainer != nullptr) {
        m_connectionPointContainer->Release();
    }
    if (m_mbbInterface != nullptr) {
        m_mbbInterface->Release();
    }
    if (m_hThread != INVALID_HANDLE_VALUE && m_hThread != nullptr) {
        CloseHandle(m_hThread);
    }
    if (m_hNotifyKey != nullptr) {
        RegCloseKey(m_hNotifyKey);
    }
    for (HANDLE e : m_events) {
        if (e != nullptr) {
            CloseHandle(e);
        }
    }
}

BOOL CStateWork::InitWork()
{
    // 1. IoT state 0, mirrored first: this also creates the main key.
    m_iotServiceResult = IOTServiceDefault;
    if (!SetIOTServiceActiveResultSubKey(IOTServiceDefault)) {
        HBR_LOG_INFO("[InitWork] SetIOTServiceActiveResultSubKey IOTServiceDefault\n");
    }

    // 2. Run path: the folder of the executable, with its separator.
    char path[PATH_MAX];
    std::memset(path, 0, sizeof path);
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    if (n == 0 || n >= sizeof path) {
        HBR_LOG_INFO("[InitWork] GetModuleFileNameA Failed(%x)", static_cast<unsigned>(GetLastError()));
        m_runPath.clear();
    } else {
        m_runPath = FolderOfPath(path);
    }
    HBR_LOG_INFO("[InitWork] m_runPath:%s", m_runPath.c_str());

    // 3. COM for the multithreaded apartment.
    HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(hr)) {
        m_comInitialized = 0;
        HBR_LOG_INFO("[InitWork] CoInitializeEx Failed(%x)", static_cast<unsigned>(hr));
        return FALSE;
    }

    // 4. The seven manual-reset events. After a failure no further event is
    // created and, once the remaining steps ran, no worker starts.
    BOOL eventsCreated = TRUE;
    for (int i = 0; i < EVT_COUNT; ++i) {
        m_events[i] = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (m_events[i] == nullptr) {
            HBR_LOG_ERROR("[Fail][CStateWork::InitWork] Create Event(%d) Fail.", i);
            eventsCreated = FALSE;
            break;
        }
    }

    // 5. The registry watch.
    if (!RegisterMonitorRegChangeCallback()) {
        HBR_LOG_ERROR("[CStateWork::InitWork] RegisterMonitorRegChangeCallback Fail.");
        return FALSE;
    }

    // 6.-9. Settings.
    if (!TestRetryFromReg()) {
        HBR_LOG_ERROR("[CStateWork::InitWork] TestRetryFromReg Fail.");
        m_testRetryErrorCode = 0;
    }
    if (!QueryATOverChannelType()) {
        HBR_LOG_ERROR("[CStateWork::InitWork] QueryATOverChannelType Fail, default set AT_OVER_MBIM_CHANNEL");
        m_atOverChannelType = AT_OVER_MBIM_CHANNEL;
    }
    if (!QueryBootstrapServerUrl()) {
        std::memset(m_bootstrapServerUrl, 0, sizeof m_bootstrapServerUrl);
        HBR_LOG_ERROR("[CStateWork::InitWork] QueryBootstrapServerUrl Fail, use default url address");
    }
    if (m_atOverChannelType == AT_OVER_COM_CHANNEL && !QueryATChannelHardId()) {
        HBR_LOG_ERROR("[CStateWork::InitWork] QueryATChannelHardId Fail.");
        return FALSE;
    }
    return eventsCreated;
}

DWORD WINAPI CStateWork::TheadWork(LPVOID param)
{
    HBR_LOG_INFO("[Infomation][CStateWork::TheadWork] Enter TheadWork.");
    static_cast<CStateWork *>(param)->Work();
    ReleaseThreadCryptoState();
    return 1;
}

void CStateWork::Work()
{
    HBR_LOG_INFO("[Infomation][CStateWork::Work] Enter work function:%s", HBR_AGENT_VERSION);

    WaitForSingleObject(m_events[EVT_SERVICE_START], INFINITE);
    ResetEvent(m_events[EVT_SERVICE_START]);
    HBR_LOG_INFO("[Infomation][CStateWork::Work] Triger Service Start Event.");

    int32_t previous = m_iotServiceResult.exchange(IOTServiceInit);
    HBR_LOG_INFO("[AtChannelMonitorEvtFunc] SetIOTServiceActiveResultSubKey preActiveResult(%d)-currentResult(%d)",
                 static_cast<int>(previous), static_cast<int>(IOTServiceInit));
    if (SetIOTServiceActiveResultSubKey(IOTServiceInit)) {
        HBR_LOG_INFO("[AtChannelMonitorEvtFunc] SetIOTServiceActiveResultSubKey IOTServiceInit success");
    } else {
        HBR_LOG_INFO("[AtChannelMonitorEvtFunc] SetIOTServiceActiveResultSubKey IOTServiceInit Fail");
    }

    HRESULT hr = RegisterDeviceServiceMbbChannelMonitorEvent();
    if (FAILED(hr)) {
        HBR_LOG_INFO("RegisterDeviceServiceMbbChannelMonitorEvent Fail(%x)", static_cast<unsigned>(hr));
    } else {
        HBR_LOG_INFO("RegisterDeviceServiceMbbChannelMonitorEvent success");
    }

    if (!CreateAtChannelTimer()) {
        HBR_LOG_INFO("CreateAtChannelTimer Fail(%d)", static_cast<int>(GetLastError()));
    } else {
        HBR_LOG_INFO("CreateAtChannelTimer Success");
    }

    // Priority comes from the order of the handles: the lowest signalled
    // index wins. Each event is reset before its handler runs, so requests
    // made while a handler runs collapse into one more run.
    for (;;) {
        HBR_LOG_INFO("begin wait for event");
        DWORD item = WaitForMultipleObjects(6, &m_events[EVT_SERVICE_STOP], FALSE, INFINITE);
        if (item == WAIT_OBJECT_0) {
            break;
        }
        switch (item) {
        case WAIT_OBJECT_0 + 1:
            HBR_LOG_INFO("[Infomation][CStateWork::Work] Triger Reg Change Notify Event");
            ResetEvent(m_events[EVT_REG_CHANGE]);
            m_handlers.regChange(this);
            break;
        case WAIT_OBJECT_0 + 2:
            HBR_LOG_INFO("[Infomation][CStateWork::Work] At Channel Monitor Event");
            ResetEvent(m_events[EVT_AT_CHANNEL_MONITOR]);
            m_handlers.atChannelMonitor(this);
            break;
        case WAIT_OBJECT_0 + 3:
            HBR_LOG_INFO("[Infomation][CStateWork::Work] IOT Service Active Event");
            ResetEvent(m_events[EVT_IOT_SERVICE_ACTIVE]);
            m_handlers.active(this);
            break;
        case WAIT_OBJECT_0 + 4:
            HBR_LOG_INFO("[Infomation][CStateWork::Work] IOT Service Deactive Event");
            ResetEvent(m_events[EVT_IOT_SERVICE_DEACTIVE]);
            m_handlers.deactive(this);
            break;
        case WAIT_OBJECT_0 + 5:
            HBR_LOG_INFO("[Infomation][CStateWork::Work] IOT Service Check Event");
            ResetEvent(m_events[EVT_IOT_SERVICE_CHECK]);
            m_handlers.check(this);
            break;
        default:
            HBR_LOG_INFO("[Infomation][CStateWork::Work] Error in WaitForMultipleObjects dw_item(%d-%d)",
                         static_cast<int>(item), static_cast<int>(GetLastError()));
            break;
        }
    }

    // Stop: give a pass at work up to ten seconds.
    ResetEvent(m_events[EVT_SERVICE_STOP]);
    HBR_LOG_INFO("[Infomation][CStateWork::Work] Triger Service Stop Event, (%d)",
                 static_cast<int>(m_iotServiceResult.load()));
    int sleeps = 0;
    while (IsPassAtWork(m_iotServiceResult.load()) && sleeps < 10) {
        Sleep(1000);
        ++sleeps;
    }
    if (sleeps < 10) {
        HBR_LOG_INFO("[Infomation][CStateWork::Work] Exit Success");
    }

    // Teardown. The events, the watched key, the connection-point
    // container, the interface and COM stay open.
    DestroyAtChannelTimer();
    CloseAtChannel();
    ReleaseDeviceServiceSubscription(true);
    HBR_LOG_INFO("[Infomation][CStateWork::Work] Exit Success");
}

void CALLBACK AtChannelTimerCallback(PVOID param, BOOLEAN)
{
    SetEvent(static_cast<CStateWork *>(param)->m_events[EVT_AT_CHANNEL_MONITOR]);
}

BOOL CStateWork::CreateAtChannelTimer()
{
    std::lock_guard<std::mutex> guard(m_timerLock);
    HBR_LOG_INFO("[Infomation][CStateWork::CreateAtChannelTimer] CreateAtChannelTimer");
    m_atChannelTimerActive = 1;
    if (m_hTimerQueue != nullptr) {
        return TRUE;
    }
    m_hTimerQueue = CreateTimerQueue();
    if (m_hTimerQueue == nullptr) {
        return FALSE;
    }
    if (m_hAtChannelTimer == nullptr &&
        !CreateTimerQueueTimer(&m_hAtChannelTimer, m_hTimerQueue, AtChannelTimerCallback, this, 0, 2000,
                               WT_EXECUTEDEFAULT)) {
        m_hAtChannelTimer = nullptr;
        HBR_LOG_ERROR("[Error][CStateWork::CreateAtChannelTimer] CreateTimerQueueTimer fail %d",
                      static_cast<int>(GetLastError()));
        return FALSE;
    }
    return TRUE;
}

void CStateWork::DestroyAtChannelTimer()
{
    std::lock_guard<std::mutex> guard(m_timerLock);
    HBR_LOG_INFO("[Infomation][CStateWork::DestroyAtChannelTimer] DestroyAtChannelTimer");
    m_atChannelTimerActive = 0;
    if (m_hTimerQueue == nullptr) {
        return;
    }
    if (m_hAtChannelTimer != nullptr) {
        BOOL ok = DeleteTimerQueueTimer(m_hTimerQueue, m_hAtChannelTimer, INVALID_HANDLE_VALUE);
        m_hAtChannelTimer = nullptr;
        HBR_LOG_INFO("[Infomation][CStateWork::DestroyAtChannelTimer] DeleteTimerQueueTimer-%d-%d", ok,
                     static_cast<int>(GetLastError()));
    }
    BOOL ok = DeleteTimerQueueEx(m_hTimerQueue, INVALID_HANDLE_VALUE);
    m_hTimerQueue = nullptr;
    HBR_LOG_INFO("[Infomation][CStateWork::DestroyAtChannelTimer] DeleteTimerQueueEx-%d-%d", ok,
                 static_cast<int>(GetLastError()));
}
