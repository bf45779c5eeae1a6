// OLE Automation strings (BSTR) and one-dimensional SAFEARRAYs of VT_UI1
// and VT_UNKNOWN.
#include "objects.h"

#include <oleauto.h>
#include <hbr_platform_fault.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// ---- BSTR: [u32 byte count][characters][NUL] ----

BSTR NewBstr(UINT chars)
{
    if (chars > (0x7FFFFFFFu - 8) / sizeof(OLECHAR)) {
        return nullptr;
    }
    size_t bytes = static_cast<size_t>(chars) * sizeof(OLECHAR);
    auto *block = static_cast<unsigned char *>(std::calloc(1, sizeof(uint32_t) + bytes + sizeof(OLECHAR)));
    if (!block) {
        return nullptr;
    }
    uint32_t count = static_cast<uint32_t>(bytes);
    std::memcpy(block, &count, sizeof count);
    return reinterpret_cast<BSTR>(block + sizeof(uint32_t));
}

unsigned char *BstrBlock(BSTR s) { return reinterpret_cast<unsigned char *>(s) - sizeof(uint32_t); }

// ---- SAFEARRAY: the descriptor lives in a block that also keeps its
// element type. ----

constexpr USHORT kFeatureUnknown = 0x0200;
constexpr USHORT kFeatureHaveVartype = 0x0080;

struct ArrayBlock {
    VARTYPE vt;
    SAFEARRAY sa;
};

ArrayBlock *BlockOf(SAFEARRAY *psa)
{
    return reinterpret_cast<ArrayBlock *>(reinterpret_cast<char *>(psa) - offsetof(ArrayBlock, sa));
}

bool Supported(VARTYPE vt) { return vt == VT_UI1 || vt == VT_UNKNOWN; }

SAFEARRAY *NewArray(VARTYPE vt, LONG lower, ULONG count, bool faultable = true)
{
    if (!Supported(vt)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (faultable && hbr::FaultHit(HBR_FAULT_SAFE_ARRAY_CREATE)) {
        return nullptr;
    }
    // The upper bound, lower + count - 1, must be a LONG.
    if (count > 0x7FFFFFFFu || static_cast<int64_t>(lower) + count - 1 > 0x7FFFFFFF) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    ULONG size = vt == VT_UI1 ? 1u : static_cast<ULONG>(sizeof(IUnknown *));
    auto *block = new (std::nothrow) ArrayBlock();
    void *data = std::calloc(count == 0 ? 1 : count, size);
    if (!block || !data) {
        delete block;
        std::free(data);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    block->vt = vt;
    block->sa.cDims = 1;
    block->sa.fFeatures = static_cast<USHORT>(kFeatureHaveVartype | (vt == VT_UNKNOWN ? kFeatureUnknown : 0));
    block->sa.cbElements = size;
    block->sa.cLocks = 0;
    block->sa.pvData = data;
    block->sa.rgsabound[0].cElements = count;
    block->sa.rgsabound[0].lLbound = lower;
    return &block->sa;
}

// The element's offset for index *idx, or false when it is out of range.
bool Locate(SAFEARRAY *psa, const LONG *idx, size_t *offset)
{
    int64_t i = static_cast<int64_t>(*idx) - psa->rgsabound[0].lLbound;
    if (i < 0 || i >= static_cast<int64_t>(psa->rgsabound[0].cElements)) {
        return false;
    }
    *offset = static_cast<size_t>(i) * psa->cbElements;
    return true;
}

} // namespace

tagSAFEARRAY *hbr::NewPlatformArray(unsigned short vt, uint32_t count)
{
    return NewArray(vt, 0, count, false);
}

extern "C" BSTR WINAPI SysAllocStringLen(const OLECHAR *strIn, UINT ui)
{
    BSTR s = NewBstr(ui);
    if (s && strIn) {
        std::memcpy(s, strIn, static_cast<size_t>(ui) * sizeof(OLECHAR));
    }
    return s;
}

extern "C" BSTR WINAPI SysAllocString(const OLECHAR *psz)
{
    if (!psz) {
        return nullptr;
    }
    UINT n = 0;
    while (psz[n] != 0) {
        ++n;
    }
    return SysAllocStringLen(psz, n);
}

extern "C" void WINAPI SysFreeString(BSTR bstrString)
{
    if (bstrString) {
        std::free(BstrBlock(bstrString));
    }
}

extern "C" UINT WINAPI SysStringLen(BSTR pbstr)
{
    if (!pbstr) {
        return 0;
    }
    uint32_t count;
    std::memcpy(&count, BstrBlock(pbstr), sizeof count);
    return count / sizeof(OLECHAR);
}

extern "C" SAFEARRAY *WINAPI SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND *rgsabound)
{
    if (cDims != 1 || !rgsabound) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return NewArray(vt, rgsabound[0].lLbound, rgsabound[0].cElements);
}

extern "C" SAFEARRAY *WINAPI SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements)
{
    return NewArray(vt, lLbound, cElements);
}

extern "C" HRESULT WINAPI SafeArrayDestroy(SAFEARRAY *psa)
{
    if (!psa) {
        return S_OK;
    }
    if (psa->cDims != 1) {
        return E_INVALIDARG;
    }
    ArrayBlock *block = BlockOf(psa);
    if (block->vt == VT_UNKNOWN) {
        auto **items = static_cast<IUnknown **>(psa->pvData);
        for (ULONG i = 0; i < psa->rgsabound[0].cElements; ++i) {
            if (items[i]) {
                items[i]->Release();
            }
        }
    }
    std::free(psa->pvData);
    delete block;
    return S_OK;
}

extern "C" HRESULT WINAPI SafeArrayPutElement(SAFEARRAY *psa, LONG *rgIndices, void *pv)
{
    if (!psa || !rgIndices || psa->cDims != 1) {
        return E_INVALIDARG;
    }
    size_t off;
    if (!Locate(psa, rgIndices, &off)) {
        return DISP_E_BADINDEX;
    }
    char *slot = static_cast<char *>(psa->pvData) + off;
    if (BlockOf(psa)->vt == VT_UNKNOWN) {
        // pv is the interface pointer itself (may be NULL).
        auto *item = static_cast<IUnknown *>(pv);
        if (item) {
            item->AddRef();
        }
        IUnknown *old;
        std::memcpy(&old, slot, sizeof old);
        std::memcpy(slot, &item, sizeof item);
        if (old) {
            old->Release();
        }
        return S_OK;
    }
    if (!pv) {
        return E_INVALIDARG;
    }
    std::memcpy(slot, pv, psa->cbElements);
    return S_OK;
}

extern "C" HRESULT WINAPI SafeArrayGetElement(SAFEARRAY *psa, LONG *rgIndices, void *pv)
{
    if (!psa || !rgIndices || !pv || psa->cDims != 1) {
        return E_INVALIDARG;
    }
    size_t off;
    if (!Locate(psa, rgIndices, &off)) {
        return DISP_E_BADINDEX;
    }
    const char *slot = static_cast<const char *>(psa->pvData) + off;
    if (BlockOf(psa)->vt == VT_UNKNOWN) {
        IUnknown *item;
        std::memcpy(&item, slot, sizeof item);
        if (item) {
            item->AddRef();
        }
        std::memcpy(pv, &item, sizeof item);
        return S_OK;
    }
    std::memcpy(pv, slot, psa->cbElements);
    return S_OK;
}

namespace {

HRESULT Bound(SAFEARRAY *psa, UINT nDim, LONG *out, bool upper)
{
    if (!psa || !out) {
        return E_INVALIDARG;
    }
    if (nDim != 1 || psa->cDims != 1) {
        return DISP_E_BADINDEX;
    }
    int64_t lower = psa->rgsabound[0].lLbound;
    *out = static_cast<LONG>(upper ? lower + psa->rgsabound[0].cElements - 1 : lower);
    return S_OK;
}

} // namespace

extern "C" HRESULT WINAPI SafeArrayGetLBound(SAFEARRAY *psa, UINT nDim, LONG *plLbound)
{
    return Bound(psa, nDim, plLbound, false);
}

extern "C" HRESULT WINAPI SafeArrayGetUBound(SAFEARRAY *psa, UINT nDim, LONG *plUbound)
{
    return Bound(psa, nDim, plUbound, true);
}

extern "C" HRESULT WINAPI SafeArrayGetVartype(SAFEARRAY *psa, VARTYPE *pvt)
{
    if (!psa || !pvt || !(psa->fFeatures & kFeatureHaveVartype)) {
        return E_INVALIDARG;
    }
    *pvt = BlockOf(psa)->vt;
    return S_OK;
}
