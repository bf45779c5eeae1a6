/*
 * Connection points for the Linux build (written for this project).
 * Only the device-services manager is a container; see <mbnapi.h>.
 */
#ifndef HBR_PLATFORM_OCIDL_H
#define HBR_PLATFORM_OCIDL_H

#include <windows.h>
#include <objbase.h>

#ifdef __cplusplus

struct IConnectionPoint : IUnknown {
    /* QIs pUnkSink for the connection point's own interface (not IUnknown);
     * CONNECT_E_CANNOTCONNECT when it refuses. Hands out a non-zero cookie,
     * unique in the process. */
    virtual HRESULT Advise(IUnknown *pUnkSink, DWORD *pdwCookie) = 0;
    /* CONNECT_E_NOCONNECTION for an unknown cookie. Waits until no callback
     * into the sink runs (unless called from that sink's own callback),
     * releases the sink, and no callback follows. */
    virtual HRESULT Unadvise(DWORD dwCookie) = 0;

protected:
    ~IConnectionPoint() = default;
};

struct IConnectionPointContainer : IUnknown {
    /* Knows IID_IMbnDeviceServicesEvents only; others give
     * CONNECT_E_NOCONNECTION. */
    virtual HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint **ppCP) = 0;

protected:
    ~IConnectionPointContainer() = default;
};

extern "C" const IID IID_IConnectionPoint;
extern "C" const IID IID_IConnectionPointContainer;

#endif /* __cplusplus */

#endif /* HBR_PLATFORM_OCIDL_H */
