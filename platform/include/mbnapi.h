/*
 * Mobile Broadband interfaces and device services for the Linux build
 * (written for this project). The platform reaches the module over the
 * device-service socket ($HBR_MBN_SOCKET, default /run/hollowbright/mbn.sock);
 * see docs/platform.md for the protocol, the threads and the rules.
 *
 * Requests ask the module and return its HRESULT; S_OK or E_PENDING means a
 * completion follows on the platform's dispatcher thread (possibly before the
 * request returns). While disconnected, or for an unknown interface or
 * service: HRESULT_FROM_WIN32(ERROR_NOT_FOUND).
 */
#ifndef HBR_PLATFORM_MBNAPI_H
#define HBR_PLATFORM_MBNAPI_H

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <ocidl.h>

#ifdef __cplusplus

typedef enum MBN_DEVICE_SERVICES_INTERFACE_STATE {
    MBN_DEVICE_SERVICES_CAPABLE_INTERFACE_ARRIVAL = 0,
    MBN_DEVICE_SERVICES_CAPABLE_INTERFACE_REMOVAL = 1
} MBN_DEVICE_SERVICES_INTERFACE_STATE;

struct IMbnInterface : IUnknown {
    virtual HRESULT get_InterfaceID(BSTR *InterfaceID) = 0;

protected:
    ~IMbnInterface() = default;
};

struct IMbnInterfaceManager : IUnknown {
    /* A VT_UNKNOWN array of IMbnInterface, lower bound 0; the same object
     * per interface id. No connection or no interface:
     * HRESULT_FROM_WIN32(ERROR_NOT_FOUND) and a NULL array. */
    virtual HRESULT GetInterfaces(SAFEARRAY **mbnInterfaces) = 0;

protected:
    ~IMbnInterfaceManager() = default;
};

struct IMbnDeviceService : IUnknown {
    virtual HRESULT get_IsCommandSessionOpen(BOOL *value) = 0;
    virtual HRESULT OpenCommandSession(ULONG *requestID) = 0;
    virtual HRESULT CloseCommandSession(ULONG *requestID) = 0;
    /* Sends the VT_UI1 array's bytes unchanged (others: E_INVALIDARG). */
    virtual HRESULT SetCommand(ULONG commandID, SAFEARRAY *deviceServiceData,
                               ULONG *requestID) = 0;

protected:
    ~IMbnDeviceService() = default;
};

struct IMbnDeviceServicesContext : IUnknown {
    virtual HRESULT get_MaxCommandSize(ULONG *maxCommandSize) = 0;
    /* Service ids compare case-insensitively. */
    virtual HRESULT GetDeviceService(BSTR deviceServiceID, IMbnDeviceService **mbnDevice) = 0;

protected:
    ~IMbnDeviceServicesContext() = default;
};

struct IMbnDeviceServicesManager : IUnknown {
    virtual HRESULT GetDeviceServicesContext(BSTR networkInterfaceID,
                                             IMbnDeviceServicesContext **mbnDevicesContext) = 0;

protected:
    ~IMbnDeviceServicesManager() = default;
};

/* The sink. All calls come on one platform dispatcher thread, in the
 * module's order, never under a platform lock; arrays and BSTRs passed in
 * live for the call only. */
struct IMbnDeviceServicesEvents : IUnknown {
    virtual HRESULT OnQuerySupportedCommandsComplete(IMbnDeviceService *deviceService,
                                                     SAFEARRAY *commandIDList, HRESULT status,
                                                     ULONG requestID) = 0;
    virtual HRESULT OnOpenCommandSessionComplete(IMbnDeviceService *deviceService,
                                                 HRESULT status, ULONG requestID) = 0;
    virtual HRESULT OnCloseCommandSessionComplete(IMbnDeviceService *deviceService,
                                                  HRESULT status, ULONG requestID) = 0;
    virtual HRESULT OnSetCommandComplete(IMbnDeviceService *deviceService, ULONG responseID,
                                         SAFEARRAY *deviceServiceData, HRESULT status,
                                         ULONG requestID) = 0;
    virtual HRESULT OnQueryCommandComplete(IMbnDeviceService *deviceService, ULONG responseID,
                                           SAFEARRAY *deviceServiceData, HRESULT status,
                                           ULONG requestID) = 0;
    virtual HRESULT OnEventNotification(IMbnDeviceService *deviceService, ULONG eventID,
                                        SAFEARRAY *deviceServiceData) = 0;
    virtual HRESULT OnOpenDataSessionComplete(IMbnDeviceService *deviceService, HRESULT status,
                                              ULONG requestID) = 0;
    virtual HRESULT OnCloseDataSessionComplete(IMbnDeviceService *deviceService,
                                               HRESULT status, ULONG requestID) = 0;
    virtual HRESULT OnWriteDataComplete(IMbnDeviceService *deviceService, HRESULT status,
                                        ULONG requestID) = 0;
    virtual HRESULT OnReadData(IMbnDeviceService *deviceService, SAFEARRAY *deviceServiceData) = 0;
    virtual HRESULT OnInterfaceStateChange(BSTR interfaceID,
                                           MBN_DEVICE_SERVICES_INTERFACE_STATE stateChange) = 0;

protected:
    ~IMbnDeviceServicesEvents() = default;
};

extern "C" const CLSID CLSID_MbnInterfaceManager;
extern "C" const CLSID CLSID_MbnDeviceServicesManager;
extern "C" const IID IID_IMbnInterfaceManager;
extern "C" const IID IID_IMbnInterface;
extern "C" const IID IID_IMbnDeviceServicesManager;
extern "C" const IID IID_IMbnDeviceServicesContext;
extern "C" const IID IID_IMbnDeviceService;
extern "C" const IID IID_IMbnDeviceServicesEvents;
extern "C" const IID IID_IMbnInterfaceManagerEvents;

#endif /* __cplusplus */

#endif /* HBR_PLATFORM_MBNAPI_H */
