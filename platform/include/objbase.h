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

#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)

#define COINIT_MULTITHREADED 0x0u
#define COINIT_APARTMENTTHREADED 0x2u

HRESULT WINAPI CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit);
void WINAPI CoUninitialize(void);

#ifdef __cplusplus
}
#endif

#endif /* HBR_PLATFORM_OBJBASE_H */
