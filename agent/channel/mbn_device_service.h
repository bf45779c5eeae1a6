// The AT channel over the module's private Mobile Broadband device service:
// the event sink and channel object CMbnDeviceServicesEventsMonitor, the
// conversion of the platform's byte arrays into text, and the worker's IoT
// service requests that notifications raise.
#ifndef HBR_AGENT_MBN_DEVICE_SERVICE_H
#define HBR_AGENT_MBN_DEVICE_SERVICE_H

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <mbnapi.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>

// The module maker's private device service.
#define QRL_PRIVATE_UUID "{6C3E91D0-5B27-4F8A-9E14-2D7A0B83C659}"

class CMbnDeviceServicesEventsMonitor : public IMbnDeviceServicesEvents {
public:
    // The process-wide sink, created on first call (count 1) and never
    // cleared. Test only: SetInstanceForTest makes GetInstance return
    // `monitor` (null restores the real one).
    static CMbnDeviceServicesEventsMonitor *GetInstance();
    static void SetInstanceForTest(CMbnDeviceServicesEventsMonitor *monitor);

    // Count 1, empty maps, no events, no device service. Fresh instances
    // are for tests; the product uses GetInstance.
    CMbnDeviceServicesEventsMonitor();
    CMbnDeviceServicesEventsMonitor(const CMbnDeviceServicesEventsMonitor &) = delete;
    CMbnDeviceServicesEventsMonitor &operator=(const CMbnDeviceServicesEventsMonitor &) = delete;

    // IUnknown: only IID_IMbnDeviceServicesEvents is answered.
    HRESULT QueryInterface(REFIID riid, void **ppvObject) override;
    ULONG AddRef() override;
    ULONG Release() override;

    // IMbnDeviceServicesEvents.
    HRESULT OnQuerySupportedCommandsComplete(IMbnDeviceService *deviceService, SAFEARRAY *commandIDList,
                                             HRESULT status, ULONG requestID) override;
    HRESULT OnOpenCommandSessionComplete(IMbnDeviceService *deviceService, HRESULT status, ULONG requestID) override;
    HRESULT OnCloseCommandSessionComplete(IMbnDeviceService *deviceService, HRESULT status, ULONG requestID) override;
    HRESULT OnSetCommandComplete(IMbnDeviceService *deviceService, ULONG responseID, SAFEARRAY *deviceServiceData,
                                 HRESULT status, ULONG requestID) override;
    HRESULT OnQueryCommandComplete(IMbnDeviceService *deviceService, ULONG responseID, SAFEARRAY *deviceServiceData,
                                   HRESULT status, ULONG requestID) override;
    HRESULT OnEventNotification(IMbnDeviceService *deviceService, ULONG eventID, SAFEARRAY *deviceServiceData) override;
    HRESULT OnOpenDataSessionComplete(IMbnDeviceService *deviceService, HRESULT status, ULONG requestID) override;
    HRESULT OnCloseDataSessionComplete(IMbnDeviceService *deviceService, HRESULT status, ULONG requestID) override;
    HRESULT OnWriteDataComplete(IMbnDeviceService *deviceService, HRESULT status, ULONG requestID) override;
    HRESULT OnReadData(IMbnDeviceService *deviceService, SAFEARRAY *deviceServiceData) override;
    HRESULT OnInterfaceStateChange(BSTR interfaceID, MBN_DEVICE_SERVICES_INTERFACE_STATE stateChange) override;

    // Opens the private device service of the interface and its command
    // session. S_OK once the device service is held, even when the session
    // did not open.
    HRESULT Init(BSTR interfaceId);
    // Sends one AT command as command id 1. 1 when its completion came
    // within 10 s (then *requestId is the platform's), else 0 with id 0.
    int SetCommand(const uint8_t *data, uint32_t length, uint32_t *requestId);
    // Closes the session and releases the device service (unless the
    // interface was removed), then closes the events.
    void Uninit();

    // Takes the reply stored for `requestId` out of the store: copies at
    // most `capacity` bytes, sets *length and removes the entry. False, with
    // *length untouched, when there is none.
    bool TakeSetCommandResponse(uint32_t requestId, char *buffer, size_t capacity, size_t *length);

    // For tests: what the sink holds.
    HANDLE SetCommandEventForTest();
    size_t StoredSetCommandResponsesForTest();
    IMbnDeviceService *DeviceServiceForTest() { return m_deviceService; }

protected:
    virtual ~CMbnDeviceServicesEventsMonitor();

private:
    HRESULT OnCommandComplete(const char *name, std::map<uint32_t, std::string> &responses, HANDLE &event,
                              ULONG responseID, SAFEARRAY *data, HRESULT status, ULONG requestID);
    // Under m_lock: signals a completion event that exists, with its line.
    void SignalLocked(HANDLE event, const char *callback, const char *eventName);
    // Waits up to `ms` for `event`, then resets it; true when signalled.
    bool WaitAndReset(HANDLE &event, DWORD ms);

    volatile LONG m_refCount;
    HANDLE m_openCompleteEvt;
    HANDLE m_closeCompleteEvt;
    HANDLE m_setCmdCompleteEvt;
    HANDLE m_queryCmdCompleteEvt;
    IMbnDeviceService *m_deviceService;
    ULONG m_maxCommandSize;
    std::map<uint32_t, std::string> m_setCmdResponses;
    std::map<uint32_t, std::string> m_queryCmdResponses;
    // Request ids whose set-command completion came since the last send.
    std::set<uint32_t> m_setCmdCompleted;
    // Guards both maps, the completed ids and the four event members.
    std::mutex m_lock;
};

// The text of a one-dimensional byte array: a 4-byte little-endian length
// L and L bytes when L + 4 is the array's size, else the whole array; cut
// at the first zero byte. 1 on success; arrays of other element types but
// VT_UNKNOWN give 1 with `text` untouched; VT_UNKNOWN and bound failures 0.
int SafeArrayToString(SAFEARRAY *array, std::string *text);

// A module request for an IoT service flow: sets the worker's event unless
// the IoT service state gates it (ACTIVE in states 2 and 3, DEACTIVE in 6
// and 7; CHECK never), logging either way.
enum class IotServiceRequest { Active, Deactive, Check };
void RaiseIotServiceRequest(IotServiceRequest request);
// The request a notification text carries ("+GTPCTPOC: ACTIVE", "DEACTIVE"
// or "CHECK", the first that occurs in this order); false for other texts.
bool IotServiceRequestOfText(const std::string &text, IotServiceRequest *request);

#endif
