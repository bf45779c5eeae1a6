#include "mbn_device_service.h"

#include "clog.h"
#include "state_work.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <vector>

namespace {

std::atomic<CMbnDeviceServicesEventsMonitor *> g_testMonitor{nullptr};

const char *const kEventNames[4] = {"HBRAgentOpenCompleteEvt", "HBRAgentCloseCompleteEvt",
                                    "HBRAgentSetCmdCompleteEvt", "HBRAgentQueryCmdCompleteEvt"};

const DWORD kCompletionWaitMs = 10000;

// The UTF-16 form of an ASCII text, as a new BSTR.
BSTR AllocBstr(const char *text)
{
    std::u16string wide(text, text + std::strlen(text));
    return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

bool IsPending(HRESULT hr)
{
    return hr == E_PENDING;
}

} // namespace

// ---- Instance -------------------------------------------------------------

CMbnDeviceServicesEventsMonitor *CMbnDeviceServicesEventsMonitor::GetInstance()
{
    CMbnDeviceServicesEventsMonitor *test = g_testMonitor.load();
    if (test != nullptr) {
        return test;
    }
    static CMbnDeviceServicesEventsMonitor *instance = new CMbnDeviceServicesEventsMonitor();
    return instance;
}

void CMbnDeviceServicesEventsMonitor::SetInstanceForTest(CMbnDeviceServicesEventsMonitor *monitor)
{
    g_testMonitor.store(monitor);
}

CMbnDeviceServicesEventsMonitor::CMbnDeviceServicesEventsMonitor()
    : m_refCount(1), m_openCompleteEvt(nullptr), m_closeCompleteEvt(nullptr), m_setCmdCompleteEvt(nullptr),
      m_queryCmdCompleteEvt(nullptr), m_deviceService(nullptr), m_maxCommandSize(0)
{
}

// Handles and the device service are Uninit's business.
CMbnDeviceServicesEventsMonitor::~CMbnDeviceServicesEventsMonitor() = default;

HRESULT CMbnDeviceServicesEventsMonitor::QueryInterface(REFIID riid, void **ppvObject)
{
    if (ppvObject == nullptr) {
        return E_POINTER;
    }
    if (IsEqualIID(riid, IID_IMbnDeviceServicesEvents)) {
        HBR_LOG_ERROR("QueryInterface CMbnDeviceServicesEventsMonitor IID_IMbnDeviceServicesEvents");
        *ppvObject = static_cast<IMbnDeviceServicesEvents *>(this);
        AddRef();
        return S_OK;
    }
    *ppvObject = nullptr;
    return E_NOINTERFACE;
}

ULONG CMbnDeviceServicesEventsMonitor::AddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&m_refCount));
}

ULONG CMbnDeviceServicesEventsMonitor::Release()
{
    LONG left = InterlockedDecrement(&m_refCount);
    if (left == 0) {
        HBR_LOG_ERROR("CMbnDeviceServicesEventsMonitor Release Complete");
        delete this;
    }
    return static_cast<ULONG>(left);
}

// ---- Callbacks --------------------------------------------------------------

HRESULT CMbnDeviceServicesEventsMonitor::OnQuerySupportedCommandsComplete(IMbnDeviceService *, SAFEARRAY *, HRESULT,
                                                                          ULONG)
{
    HBR_LOG_ERROR("CMbnDeviceServicesEventsMonitor::OnQuerySupportedCommandsComplete");
    return S_OK;
}

HRESULT CMbnDeviceServicesEventsMonitor::OnOpenCommandSessionComplete(IMbnDeviceService *, HRESULT status,
                                                                      ULONG requestID)
{
    HBR_LOG_ERROR("CMbnDeviceServicesEventsMonitor::OnOpenCommandSessionComplete requestID(%u)-status=%x",
                  static_cast<unsigned>(requestID), static_cast<unsigned>(status));
    std::lock_guard<std::mutex> guard(m_lock);
    SignalLocked(m_openCompleteEvt, "OnOpenCommandSessionComplete", "m_openCompleteEvt");
    return S_OK;
}

HRESULT CMbnDeviceServicesEventsMonitor::OnCloseCommandSessionComplete(IMbnDeviceService *, HRESULT status,
                                                                       ULONG requestID)
{
    HBR_LOG_ERROR("CMbnDeviceServicesEventsMonitor::OnCloseCommandSessionComplete status(%x) requestID(%u)",
                  static_cast<unsigned>(status), static_cast<unsigned>(requestID));
    std::lock_guard<std::mutex> guard(m_lock);
    SignalLocked(m_closeCompleteEvt, "OnCloseCommandSessionComplete", "m_closeCompleteEvt");
    return S_OK;
}

void CMbnDeviceServicesEventsMonitor::SignalLocked(HANDLE event, const char *callback, const char *eventName)
{
    if (event != nullptr) {
        HBR_LOG_ERROR("CMbnDeviceServicesEventsMonitor::%s set %s", callback, eventName);
        SetEvent(event);
    }
}

HRESULT CMbnDeviceServicesEventsMonitor::OnCommandComplete(const char *name,
                                                           std::map<uint32_t, std::string> &responses,
                                                           HANDLE &event, ULONG responseID, SAFEARRAY *data,
                                                           HRESULT status, ULONG requestID)
{
    HBR_LOG_ERROR("CMbnDeviceServicesEventsMonitor::%s responseID(%u)-requestID(%u)-status(%x)", name,
                  static_cast<unsigned>(responseID), static_cast<unsigned>(requestID),
                  static_cast<unsigned>(status));
    std::string text;
    bool store = false;
    if (responseID == 1 && SUCCEEDED(status)) {
        if (SafeArrayToString(data, &text) == 0) {
            HBR_LOG_ERROR("CMbnDeviceServicesEventsMonitor::%s requestID(%u) SafeArrayToString fail", name,
                          static_cast<unsigned>(requestID));
        } else {
            store = true;
        }
    }
    // The reply is stored and the id recorded before the event is signalled.
    std::lock_guard<std::mutex> guard(m_lock);
    if (store) {
        responses[requestID] = text;
    }
    if (&responses == &m_setCmdResponses) {
        m_setCmdCompleted.insert(requestID);
    }
    SignalLocked(event, name, &responses == &m_setCmdResponses ? "m_setCmdCompleteEvt" : "m_queryCmdCompleteEvt");
    return S_OK;
}

HRESULT CMbnDeviceServicesEventsMonitor::OnSetCommandComplete(IMbnDeviceService *, ULONG responseID,
                                                              SAFEARRAY *deviceServiceData, HRESULT status,
                                                              ULONG requestID)
{
    return OnCommandComplete("OnSetCommandComplete", m_setCmdResponses, m_setCmdCompleteEvt, responseID,
                             deviceServiceData, status, requestID);
}

HRESULT CMbnDeviceServicesEventsMonitor::OnQueryCommandComplete(IMbnDeviceService *, ULONG responseID,
                                                                SAFEARRAY *deviceServiceData, HRESULT status,
                                                                ULONG requestID)
{
    return OnCommandComplete("OnQueryCommandComplete", m_queryCmdResponses, m_queryCmdCompleteEvt, responseID,
                             deviceServiceData, status, requestID);
}

HRESULT CMbnDeviceServicesEventsMonitor::OnEventNotification(IMbnDeviceService *, ULONG eventID,
                                                             SAFEARRAY *deviceServiceData)
{
    HBR_LOG_ERROR("CMbnDeviceServicesEventsMonitor::OnEventNotification:%d", static_cast<int>(eventID));
    if (eventID != 1) {
        return S_OK;
    }
    std::string text;
    if (SafeArrayToString(deviceServiceData, &text) == 0) {
        HBR_LOG_ERROR("OnEventNotification SafeArrayToString fail\n");
        return S_OK;
    }
    HBR_LOG_ERROR("CMbnDeviceServicesEventsIndicate::OnEventNotification SafeArrayToString success(%s)",
                  text.c_str());
    IotServiceRequest request;
    if (IotServiceRequestOfText(text, &request)) {
        RaiseIotServiceRequest(request);
    } else {
        HBR_LOG_ERROR("CMbnDeviceServicesEventsIndicate::OnEventNotification other notify data, do not care");
    }
    return S_OK;
}

HRESULT CMbnDeviceServicesEventsMonitor::OnOpenDataSessionComplete(IMbnDeviceService *, HRESULT, ULONG)
{
    HBR_LOG_ERROR("CMbnDeviceServicesEventsMonitor::OnOpenDataSessionComplete");
    return S_OK;
}

HRESULT CMbnDeviceServicesEventsMonitor::OnCloseDataSessionComplete(IMbnDeviceService *, HRESULT, ULONG)
{
    HBR_LOG_ERROR("CMbnDeviceServicesEventsMonitor::OnCloseDataSessionComplete");
    return S_OK;
}

HRESULT CMbnDeviceServicesEventsMonitor::OnWriteDataComplete(IMbnDeviceService *, HRESULT, ULONG)
{
    HBR_LOG_ERROR("CMbnDeviceServicesEventsMonitor::OnWriteDataComplete");
    return S_OK;
}

HRESULT CMbnDeviceServicesEventsMonitor::OnReadData(IMbnDeviceService *, SAFEARRAY *)
{
    HBR_LOG_ERROR("CMbnDeviceServicesEventsMonitor::OnReadData");
    return S_OK;
}

HRESULT CMbnDeviceServicesEventsMonitor::OnInterfaceStateChange(BSTR, MBN_DEVICE_SERVICES_INTERFACE_STATE stateChange)
{
    HBR_LOG_ERROR("CMbnDeviceServicesEventsMonitor::OnInterfaceStateChange %d", static_cast<int>(stateChange));
    CStateWork *work = CStateWork::GetInstance();
    if (stateChange == MBN_DEVICE_SERVICES_CAPABLE_INTERFACE_ARRIVAL) {
        HBR_LOG_INFO("Retry CreateAtChannelTimer");
        work->CreateAtChannelTimer();
    } else if (stateChange == MBN_DEVICE_SERVICES_CAPABLE_INTERFACE_REMOVAL) {
        HBR_LOG_INFO("Retry DestroyAtChannelTimer");
        // Raised before the timer goes: a bring-up then running cannot
        // leave the channel marked as up.
        work->m_mbbInterfaceRemoved = 1;
        work->DestroyAtChannelTimer();
    }
    return S_OK;
}

// ---- Channel ------------------------------------------------------------------

bool CMbnDeviceServicesEventsMonitor::WaitAndReset(HANDLE &event, DWORD ms)
{
    HANDLE h;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        h = event;
    }
    bool signalled = WaitForSingleObject(h, ms) == WAIT_OBJECT_0;
    std::lock_guard<std::mutex> guard(m_lock);
    if (event != nullptr) {
        ResetEvent(event);
    }
    return signalled;
}

HRESULT CMbnDeviceServicesEventsMonitor::Init(BSTR interfaceId)
{
    // 1. The four completion events: created once, reset on every Init.
    {
        std::lock_guard<std::mutex> guard(m_lock);
        HANDLE *events[4] = {&m_openCompleteEvt, &m_closeCompleteEvt, &m_setCmdCompleteEvt, &m_queryCmdCompleteEvt};
        for (int i = 0; i < 4; ++i) {
            if (*events[i] == nullptr) {
                *events[i] = CreateEventA(nullptr, TRUE, FALSE, kEventNames[i]);
                if (*events[i] == nullptr) {
                    HBR_LOG_ERROR("CMbnDeviceServicesEventsMonitor::CreateEvent(%s) Failed(%x)", kEventNames[i],
                                  static_cast<unsigned>(E_FAIL));
                    return E_FAIL;
                }
            } else {
                ResetEvent(*events[i]);
            }
        }
    }

    // 2.-3. Manager and the interface's device-services context.
    IMbnDeviceServicesManager *manager = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_MbnDeviceServicesManager, nullptr, CLSCTX_ALL,
                                  IID_IMbnDeviceServicesManager, reinterpret_cast<void **>(&manager));
    if (FAILED(hr)) {
        HBR_LOG_ERROR("CMbnDeviceServicesEventsMonitor::CoCreateInstance CLSID_MbnDeviceServicesManager Failed(%x)\n",
                      static_cast<unsigned>(hr));
        return hr;
    }
    IMbnDeviceServicesContext *context = nullptr;
    hr = manager->GetDeviceServicesContext(interfaceId, &context);
    if (FAILED(hr)) {
        HBR_LOG_ERROR("CMbnDeviceServicesEventsMonitor::GetDeviceServicesContext Failed(%x)",
                      static_cast<unsigned>(hr));
        manager->Release();
        return hr;
    }

    // 4. Maximum command size, logged only.
    ULONG maxCommandSize = 0;
    context->get_MaxCommandSize(&maxCommandSize);
    m_maxCommandSize = maxCommandSize;
    HBR_LOG_ERROR("CMbnDeviceServicesEventsMonitor::maxCommandSize (%u)", static_cast<unsigned>(m_maxCommandSize));

    // 5. The private device service, replacing one held from before.
    if (m_deviceService != nullptr) {
        m_deviceService->Release();
        m_deviceService = nullptr;
    }
    BSTR serviceId = AllocBstr(QRL_PRIVATE_UUID);
    hr = context->GetDeviceService(serviceId, &m_deviceService);
    SysFreeString(serviceId);
    if (FAILED(hr)) {
        HBR_LOG_ERROR("CMbnDeviceServicesEventsMonitor::GetDeviceService(QRL_PRIVATE_UUID) Failed(%x)",
                      static_cast<unsigned>(hr));
        m_deviceService = nullptr;
        context->Release();
        manager->Release();
        return hr;
    }
    HBR_LOG_ERROR("CMbnDeviceServicesEventsMonitor::GetDeviceService(QRL_PRIVATE_UUID) Success(%x)",
                  static_cast<unsigned>(hr));

    // 6.-7. The command session; its outcome does not change the result.
    BOOL open = FALSE;
    HRESULT sessionHr = m_deviceService->get_IsCommandSessionOpen(&open);
    HBR_LOG_ERROR("CMbnDeviceServicesEventsMonitor::get_IsCommandSessionOpen(%x-%d)",
                  static_cast<unsigned>(sessionHr), open);
    if (FAILED(sessionHr)) {
        HBR_LOG_ERROR("CMbnDeviceServicesEventsMonitor::get_IsCommandSessionOpen FAIL(%x)",
                      static_cast<unsigned>(sessionHr));
    } else if (!open) {
        ULONG requestId = 0;
        HRESULT openHr = m_deviceService->OpenCommandSession(&requestId);
        HBR_LOG_ERROR("CMbnDeviceServicesEventsMonitor::OpenCommandSession(%x)", static_cast<unsigned>(openHr));
        if (SUCCEEDED(openHr) || IsPending(openHr)) {
            if (WaitAndReset(m_openCompleteEvt, kCompletionWaitMs)) {
                HBR_LOG_ERROR("CMbnDeviceServicesEventsMonitor::OpenCommandSession Success");
            } else {
                HBR_LOG_ERROR("CMbnDeviceServicesEventsMonitor::OpenCommandSession Timeout");
            }
        }
    }

    // 8.
    context->Release();
    manager->Release();
    return hr;
}

int CMbnDeviceServicesEventsMonitor::SetCommand(const uint8_t *data, uint32_t length, uint32_t *requestId)
{
    *requestId = 0;
    SAFEARRAYBOUND bound = {length, 0};
    SAFEARRAY *array = SafeArrayCreate(VT_UI1, 1, &bound);
    if (array == nullptr) {
        HBR_LOG_ERROR("CMbnDeviceServicesEventsMonitor::SafeArrayCreate FAIL");
        return 0;
    }
    for (uint32_t i = 0; i < length; ++i) {
        LONG index = static_cast<LONG>(i);
        uint8_t byte = data[i];
        SafeArrayPutElement(array, &index, &byte);
    }

    // Replies and completions of earlier commands are stale now: one
    // command's reply is always taken before the next is sent.
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_setCmdResponses.clear();
        m_setCmdCompleted.clear();
        if (m_setCmdCompleteEvt != nullptr) {
            ResetEvent(m_setCmdCompleteEvt);
        }
    }
    if (m_deviceService == nullptr) {
        HBR_LOG_ERROR("CMbnDeviceServicesEventsMonitor::SetCommand FAIL(%x)", static_cast<unsigned>(E_POINTER));
        SafeArrayDestroy(array);
        return 0;
    }
    ULONG id = 0;
    HRESULT hr = m_deviceService->SetCommand(1, array, &id);
    HBR_LOG_ERROR("CMbnDeviceServicesEventsMonitor::SetCommand hr(%d)", static_cast<int>(hr));
    if (FAILED(hr) && !IsPending(hr)) {
        HBR_LOG_ERROR("CMbnDeviceServicesEventsMonitor::SetCommand FAIL(%x)", static_cast<unsigned>(hr));
        SafeArrayDestroy(array);
        return 0;
    }

    // One 10 s wait for this command's own completion. A completion of
    // another (late) request signals too: it is reset and the wait goes on
    // for the time left.
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kCompletionWaitMs);
    bool completed = false;
    for (;;) {
        HANDLE event;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            event = m_setCmdCompleteEvt;
            if (m_setCmdCompleted.count(id) != 0) {
                completed = true;
            }
            if (event != nullptr) {
                ResetEvent(event);
            }
        }
        if (completed || event == nullptr) {
            break;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0 || WaitForSingleObject(event, static_cast<DWORD>(left)) != WAIT_OBJECT_0) {
            std::lock_guard<std::mutex> guard(m_lock);
            completed = m_setCmdCompleted.count(id) != 0;
            if (m_setCmdCompleteEvt != nullptr) {
                ResetEvent(m_setCmdCompleteEvt);
            }
            break;
        }
    }
    SafeArrayDestroy(array);
    if (!completed) {
        HBR_LOG_ERROR("CMbnDeviceServicesEventsMonitor::SetCommand Timeout");
        return 0;
    }
    *requestId = id;
    HBR_LOG_ERROR("CMbnDeviceServicesEventsMonitor::SetCommand(%d) Success", static_cast<int>(id));
    return 1;
}

void CMbnDeviceServicesEventsMonitor::Uninit()
{
    CStateWork *work = CStateWork::GetInstance();
    // After a removal the session is gone with the interface; the device
    // service stays held until the next Init replaces it.
    if (work->m_mbbInterfaceRemoved == 0 && m_deviceService != nullptr) {
        BOOL open = FALSE;
        HRESULT hr = m_deviceService->get_IsCommandSessionOpen(&open);
        HBR_LOG_ERROR("CMbnDeviceServicesEventsMonitor::get_IsCommandSessionOpen(%x-%d)", static_cast<unsigned>(hr),
                      open);
        if (FAILED(hr)) {
            HBR_LOG_ERROR("CMbnDeviceServicesEventsMonitor::get_IsCommandSessionOpen FAIL(%x)",
                          static_cast<unsigned>(hr));
        } else if (open) {
            ULONG requestId = 0;
            hr = m_deviceService->CloseCommandSession(&requestId);
            if (FAILED(hr) && !IsPending(hr)) {
                HBR_LOG_ERROR("CMbnDeviceServicesEventsMonitor::CloseCommandSession FAIL(%x)",
                              static_cast<unsigned>(hr));
            } else if (WaitAndReset(m_closeCompleteEvt, kCompletionWaitMs)) {
                HBR_LOG_ERROR("CMbnDeviceServicesEventsMonitor::CloseCommandSession Success");
            } else {
                HBR_LOG_ERROR("CMbnDeviceServicesEventsMonitor::CloseCommandSession Timeout");
            }
        }
        m_deviceService->Release();
        m_deviceService = nullptr;
    }
    std::lock_guard<std::mutex> guard(m_lock);
    for (HANDLE *event : {&m_openCompleteEvt, &m_closeCompleteEvt, &m_setCmdCompleteEvt, &m_queryCmdCompleteEvt}) {
        if (*event != nullptr) {
            CloseHandle(*event);
            *event = nullptr;
        }
    }
}

bool CMbnDeviceServicesEventsMonitor::TakeSetCommandResponse(uint32_t requestId, char *buffer, size_t capacity,
                                                             size_t *length)
{
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = m_setCmdResponses.find(requestId);
    if (it == m_setCmdResponses.end()) {
        return false;
    }
    size_t n = it->second.size() < capacity ? it->second.size() : capacity;
    std::memcpy(buffer, it->second.data(), n);
    *length = n;
    m_setCmdResponses.erase(it);
    return true;
}

HANDLE CMbnDeviceServicesEventsMonitor::SetCommandEventForTest()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_setCmdCompleteEvt;
}

size_t CMbnDeviceServicesEventsMonitor::StoredSetCommandResponsesForTest()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_setCmdResponses.size();
}

// ---- Payload text -------------------------------------------------------------

int SafeArrayToString(SAFEARRAY *array, std::string *text)
{
    LONG lower = 0;
    LONG upper = 0;
    HRESULT hr = SafeArrayGetLBound(array, 1, &lower);
    if (FAILED(hr)) {
        HBR_LOG_ERROR("SafeArrayGetLBound Fail(%x)", static_cast<unsigned>(hr));
        return 0;
    }
    hr = SafeArrayGetUBound(array, 1, &upper);
    if (FAILED(hr)) {
        HBR_LOG_ERROR("SafeArrayGetUBound Fail(%x)", static_cast<unsigned>(hr));
        return 0;
    }
    // An empty array has upper = lower - 1: it gives the empty text.
    int64_t total = static_cast<int64_t>(upper) - static_cast<int64_t>(lower) + 1;
    if (total < 0) {
        HBR_LOG_ERROR("lLower > lUpper Error");
        return 0;
    }
    VARTYPE type = VT_EMPTY;
    hr = SafeArrayGetVartype(array, &type);
    if (FAILED(hr)) {
        HBR_LOG_ERROR("SafeArrayGetVartype Fail(%x)", static_cast<unsigned>(hr));
        return 0;
    }
    HBR_LOG_ERROR("SafeArrayToString varType(%d)", static_cast<int>(type));
    if (type == VT_UNKNOWN) {
        return 0; // interface pointers are no text
    }
    if (type != VT_UI1) {
        return 1;
    }

    // Elements inside the bounds only; missing prefix bytes count as zero.
    auto byteAt = [&](int64_t offset) -> uint8_t {
        uint8_t b = 0;
        LONG index = static_cast<LONG>(lower + offset);
        SafeArrayGetElement(array, &index, &b);
        return b;
    };
    uint64_t prefixLength = 0;
    for (int64_t i = 0; i < 4 && i < total; ++i) {
        prefixLength |= static_cast<uint64_t>(byteAt(i)) << (8 * i);
    }
    int64_t first = 0;
    int64_t count = total;
    if (prefixLength + 4 == static_cast<uint64_t>(total)) {
        first = 4;
        count = static_cast<int64_t>(prefixLength);
    } else {
        HBR_LOG_ERROR("SafeArrayToString len(%lu)-totalLen(%lu)", static_cast<unsigned long>(prefixLength),
                      static_cast<unsigned long>(total));
    }
    std::string bytes;
    bytes.reserve(static_cast<size_t>(count));
    for (int64_t i = 0; i < count; ++i) {
        uint8_t b = byteAt(first + i);
        if (b == 0) {
            break;
        }
        bytes.push_back(static_cast<char>(b));
    }
    *text = bytes;
    return 1;
}

// ---- IoT service requests -----------------------------------------------------

bool IotServiceRequestOfText(const std::string &text, IotServiceRequest *request)
{
    if (text.find("+GTPCTPOC: ACTIVE") != std::string::npos) {
        *request = IotServiceRequest::Active;
    } else if (text.find("+GTPCTPOC: DEACTIVE") != std::string::npos) {
        *request = IotServiceRequest::Deactive;
    } else if (text.find("+GTPCTPOC: CHECK") != std::string::npos) {
        *request = IotServiceRequest::Check;
    } else {
        return false;
    }
    return true;
}

void RaiseIotServiceRequest(IotServiceRequest request)
{
    CStateWork *work = CStateWork::GetInstance();
    int32_t state = work->m_iotServiceResult.load();
    switch (request) {
    case IotServiceRequest::Active:
        HBR_LOG_ERROR("CMbnDeviceServicesEventsIndicate::OnEventNotification IOT_SERVICE_ACTIVE_AT");
        if (state == IOTServiceActiveStart || state == IOTServiceActiving) {
            HBR_LOG_ERROR("CMbnDeviceServicesEventsIndicate::OnEventNotification in iot active processing, no need "
                          "trigger iot active flow");
        } else {
            SetEvent(work->m_events[EVT_IOT_SERVICE_ACTIVE]);
        }
        break;
    case IotServiceRequest::Deactive:
        HBR_LOG_ERROR("CMbnDeviceServicesEventsIndicate::OnEventNotification IOT_SERVICE_DEACTIVE_AT");
        if (state == IOTServiceDeactiveStart || state == IOTServiceDeactiving) {
            HBR_LOG_ERROR("CMbnDeviceServicesEventsIndicate::OnEventNotification in iot deactive processing, no need "
                          "trigger iot deactive flow");
        } else {
            SetEvent(work->m_events[EVT_IOT_SERVICE_DEACTIVE]);
        }
        break;
    case IotServiceRequest::Check:
        HBR_LOG_ERROR("CMbnDeviceServicesEventsIndicate::OnEventNotification IOT_SERVICE_CHECK_AT");
        SetEvent(work->m_events[EVT_IOT_SERVICE_CHECK]);
        break;
    }
}

// ---- Subscription and teardown -------------------------------------------------

HRESULT CStateWork::RegisterDeviceServiceMbbChannelMonitorEvent()
{
    IMbnDeviceServicesManager *manager = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_MbnDeviceServicesManager, nullptr, CLSCTX_ALL,
                                  IID_IMbnDeviceServicesManager, reinterpret_cast<void **>(&manager));
    if (FAILED(hr)) {
        HBR_LOG_ERROR("CMbnDeviceServicesEventsIndicate::CoCreateInstance CLSID_MbnDeviceServicesManager Failed(%x)\n",
                      static_cast<unsigned>(hr));
        return hr;
    }
    // A step whose object is missing is skipped; the last code is the
    // failing one.
    hr = manager->QueryInterface(IID_IConnectionPointContainer,
                                 reinterpret_cast<void **>(&m_connectionPointContainer));
    if (FAILED(hr)) {
        m_connectionPointContainer = nullptr;
        HBR_LOG_INFO("IConnectionPointContainer Failed(%x)", static_cast<unsigned>(hr));
    }
    if (m_connectionPointContainer != nullptr) {
        hr = m_connectionPointContainer->FindConnectionPoint(IID_IMbnDeviceServicesEvents, &m_connectionPoint);
        if (FAILED(hr)) {
            m_connectionPoint = nullptr;
            HBR_LOG_INFO("FindConnectionPoint IID_IMbnInterfaceManagerEvents Failed(%x)", static_cast<unsigned>(hr));
        }
    }
    m_devSerMbbChannelMonitor = CMbnDeviceServicesEventsMonitor::GetInstance();
    if (m_connectionPoint != nullptr) {
        hr = m_connectionPoint->Advise(m_devSerMbbChannelMonitor, &m_devSerMbbChannelEventCook);
        if (FAILED(hr)) {
            HBR_LOG_INFO("Advise CMbnDeviceServicesEventsIndicate Failed(%x)", static_cast<unsigned>(hr));
        }
    }
    manager->Release();
    return hr;
}

void CStateWork::ReleaseDeviceServiceSubscription(bool log)
{
    if (m_devSerMbbChannelEventCook != 0 && m_connectionPoint != nullptr) {
        if (log) {
            HBR_LOG_INFO("[Infomation][CStateWork::Work] release m_devSerMbbChannelEventCook");
        }
        m_connectionPoint->Unadvise(m_devSerMbbChannelEventCook);
        m_devSerMbbChannelEventCook = 0;
    }
    if (m_devSerMbbChannelMonitor != nullptr) {
        if (log) {
            HBR_LOG_INFO("[Infomation][CStateWork::Work] release m_devSerMbbChannelMonitor");
        }
        m_devSerMbbChannelMonitor->Release();
        m_devSerMbbChannelMonitor = nullptr;
    }
    if (m_connectionPoint != nullptr) {
        m_connectionPoint->Release();
        m_connectionPoint = nullptr;
    }
}
