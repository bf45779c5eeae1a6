/*
 * OLE Automation strings and arrays for the Linux build (written for this
 * project).
 *
 * BSTR: a 4-byte byte count before the characters and a NUL after them;
 * SysFreeString(NULL) is allowed, SysStringLen(NULL) is 0.
 *
 * SAFEARRAY: one dimension only (others give E_INVALIDARG), element types
 * VT_UI1 and VT_UNKNOWN. Put/GetElement AddRef VT_UNKNOWN elements; an index
 * out of range gives DISP_E_BADINDEX with the output untouched.
 * SafeArrayDestroy releases VT_UNKNOWN elements; NULL gives S_OK.
 */
#ifndef HBR_PLATFORM_OLEAUTO_H
#define HBR_PLATFORM_OLEAUTO_H

#include <windows.h>
#include <objbase.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef WCHAR OLECHAR;
typedef OLECHAR *BSTR;
typedef const OLECHAR *LPCOLESTR;
typedef unsigned short VARTYPE;

enum VARENUM { VT_EMPTY = 0, VT_UNKNOWN = 13, VT_UI1 = 17 };

typedef struct tagSAFEARRAYBOUND {
    ULONG cElements;
    LONG lLbound;
} SAFEARRAYBOUND, *LPSAFEARRAYBOUND;

typedef struct tagSAFEARRAY {
    USHORT cDims;
    USHORT fFeatures;
    ULONG cbElements;
    ULONG cLocks;
    PVOID pvData;
    SAFEARRAYBOUND rgsabound[1];
} SAFEARRAY, *LPSAFEARRAY;

BSTR WINAPI SysAllocString(const OLECHAR *psz);
BSTR WINAPI SysAllocStringLen(const OLECHAR *strIn, UINT ui);
void WINAPI SysFreeString(BSTR bstrString);
UINT WINAPI SysStringLen(BSTR pbstr);

SAFEARRAY *WINAPI SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND *rgsabound);
SAFEARRAY *WINAPI SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements);
HRESULT WINAPI SafeArrayDestroy(SAFEARRAY *psa);
HRESULT WINAPI SafeArrayPutElement(SAFEARRAY *psa, LONG *rgIndices, void *pv);
HRESULT WINAPI SafeArrayGetElement(SAFEARRAY *psa, LONG *rgIndices, void *pv);
HRESULT WINAPI SafeArrayGetLBound(SAFEARRAY *psa, UINT nDim, LONG *plLbound);
HRESULT WINAPI SafeArrayGetUBound(SAFEARRAY *psa, UINT nDim, LONG *plUbound);
HRESULT WINAPI SafeArrayGetVartype(SAFEARRAY *psa, VARTYPE *pvt);

#ifdef __cplusplus
}
#endif

#endif /* HBR_PLATFORM_OLEAUTO_H */
