/*
 * COM declarations for the Linux build (written for this project).
 * CoInitializeEx is a successful no-op: S_OK on a thread's first call,
 * S_FALSE when the same thread calls it again. No later COM call requires
 * it per thread.
 */
#ifndef HBR_PLATFORM_OBJBASE_H
#define HBR_PLATFORM_OBJBASE_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

#define S_OK ((HRESULT)0)
#define S_FALSE ((HRESULT)1)
#define E_FAIL ((HRESULT)0x80004005u)
#define E_OUTOFMEMORY ((HRESULT)0x8007000Eu)
#define E_INVALIDARG ((HRESULT)0x80070057u)
#define REGDB_E_CLASSNOTREG ((HRESULT)0x80040154u)
#define E_NOINTERFACE ((HRESULT)0x80004002u)
#define E_POINTER ((HRESULT)0x80004003u)
#define E_PENDING ((HRESULT)0x8000000Au)
#define DISP_E_BADINDEX ((HRESULT)0x8002000Bu)
#define CLASS_E_NOAGGREGATION ((HRESULT)0x80040110u)
#define CONNECT_E_NOCONNECTION ((HRESULT)0x80040200u)
#define CONNECT_E_CANNOTCONNECT ((HRESULT)0x80040202u)

#define HRESULT_FROM_WIN32(x)                                                            \
    ((HRESULT)(x) <= 0 ? (HRESULT)(x)                                                   \
                       : (HRESULT)((((uint32_t)(x)) & 0x0000FFFFu) | (7u << 16) | 0x80000000u))

#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)

#define COINIT_MULTITHREADED 0x0u
#define COINIT_APARTMENTTHREADED 0x2u

HRESULT WINAPI CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit);
void WINAPI CoUninitialize(void);

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
/* IUnknown and object creation. Interfaces are C++ abstract classes with
 * Windows' method order. */
struct IUnknown {
    virtual HRESULT QueryInterface(REFIID riid, void **ppvObject) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    ~IUnknown() = default;
};
typedef IUnknown *LPUNKNOWN;

extern "C" const IID IID_IUnknown;

#define CLSCTX_INPROC_SERVER 0x1u
#define CLSCTX_LOCAL_SERVER 0x4u
#define CLSCTX_ALL 0x17u

/* Known classes: CLSID_MbnInterfaceManager and CLSID_MbnDeviceServicesManager
 * (<mbnapi.h>). Unknown class: REGDB_E_CLASSNOTREG; unknown iid:
 * E_NOINTERFACE; an outer object: CLASS_E_NOAGGREGATION; NULL ppv: E_POINTER.
 * Works on any thread. */
extern "C" HRESULT WINAPI CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter,
                                           DWORD dwClsContext, REFIID riid, LPVOID *ppv);
#endif

#endif /* HBR_PLATFORM_OBJBASE_H */
