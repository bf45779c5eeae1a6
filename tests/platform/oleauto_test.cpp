// BSTRs, SAFEARRAYs and the UTF-8 code-page calls.
#include <gtest/gtest.h>

#include <oleauto.h>
#include <hbr_platform_fault.h>

#include <cstring>
#include <string>

namespace {

TEST(Bstr, LengthPrefixAndTerminator)
{
    BSTR s = SysAllocString(u"ab\u00e9");
    ASSERT_NE(nullptr, s);
    EXPECT_EQ(3u, SysStringLen(s));
    uint32_t bytes = 0;
    std::memcpy(&bytes, reinterpret_cast<char *>(s) - 4, 4);
    EXPECT_EQ(6u, bytes);
    EXPECT_EQ(0, s[3]);
    SysFreeString(s);

    // Embedded NULs count; a NULL source gives a zeroed string.
    const OLECHAR raw[] = {u'x', 0, u'y'};
    s = SysAllocStringLen(raw, 3);
    EXPECT_EQ(3u, SysStringLen(s));
    EXPECT_EQ(u'y', s[2]);
    SysFreeString(s);
    s = SysAllocStringLen(nullptr, 2);
    EXPECT_EQ(2u, SysStringLen(s));
    EXPECT_EQ(0, s[0]);
    SysFreeString(s);

    EXPECT_EQ(0u, SysStringLen(nullptr));
    EXPECT_EQ(nullptr, SysAllocString(nullptr));
    SysFreeString(nullptr);
}

TEST(CodePages, Utf8RoundTripsAndSizeQueries)
{
    const std::string text = "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"; // A, e-acute, euro, an emoji (surrogate pair)
    const int n = static_cast<int>(text.size());
    int need = MultiByteToWideChar(CP_UTF8, 0, text.data(), n, nullptr, 0);
    EXPECT_EQ(5, need);
    WCHAR wide[8] = {};
    ASSERT_EQ(5, MultiByteToWideChar(CP_ACP, 0, text.data(), n, wide, 8));
    EXPECT_EQ(0xD83D, wide[3]);
    EXPECT_EQ(0xDE00, wide[4]);
    EXPECT_EQ(n, WideCharToMultiByte(CP_UTF8, 0, wide, 5, nullptr, 0, nullptr, nullptr));
    char back[16] = {};
    ASSERT_EQ(n, WideCharToMultiByte(CP_UTF8, 0, wide, 5, back, sizeof back, nullptr, nullptr));
    EXPECT_EQ(text, std::string(back, static_cast<size_t>(n)));

    // -1: up to and including the NUL.
    EXPECT_EQ(3, MultiByteToWideChar(CP_UTF8, 0, "ab", -1, nullptr, 0));
    EXPECT_EQ(3, WideCharToMultiByte(CP_UTF8, 0, u"ab", -1, back, sizeof back, nullptr, nullptr));
    EXPECT_EQ(0, back[2]);

    // A short buffer: 0 and error 122, whatever the size.
    SetLastError(0);
    EXPECT_EQ(0, MultiByteToWideChar(CP_UTF8, 0, text.data(), n, wide, 4));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
    SetLastError(0);
    EXPECT_EQ(0, WideCharToMultiByte(CP_UTF8, 0, wide, 5, back, n - 1, nullptr, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());

    // Bad flags, code pages and arguments.
    SetLastError(0);
    EXPECT_EQ(0, MultiByteToWideChar(CP_UTF8, 1, "a", 1, wide, 8));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_FLAGS), GetLastError());
    EXPECT_EQ(0, MultiByteToWideChar(1252, 0, "a", 1, wide, 8));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    EXPECT_EQ(0, MultiByteToWideChar(CP_UTF8, 0, "a", 0, wide, 8));
    EXPECT_EQ(0, WideCharToMultiByte(CP_UTF8, 0, wide, 1, back, 16, "?", nullptr));
}

TEST(CodePages, InvalidInputBecomesReplacementCharacters)
{
    // A stray continuation byte, an overlong '/', a truncated sequence, an
    // encoded surrogate.
    const std::string bad = "a\x80" "b\xC0\xAF" "c\xE2\x82" "d\xED\xA0\x80";
    WCHAR wide[32] = {};
    int got = MultiByteToWideChar(CP_UTF8, 0, bad.data(), static_cast<int>(bad.size()), wide, 32);
    std::u16string out(wide, wide + got);
    EXPECT_EQ(u"a\uFFFDb\uFFFD\uFFFDc\uFFFD\uFFFDd\uFFFD\uFFFD\uFFFD", out);
    // Unpaired surrogates in UTF-16.
    const WCHAR lone[] = {u'x', 0xD800, u'y', 0xDC00};
    char narrow[32] = {};
    got = WideCharToMultiByte(CP_UTF8, 0, lone, 4, narrow, sizeof narrow, nullptr, nullptr);
    EXPECT_EQ("x\xEF\xBF\xBDy\xEF\xBF\xBD", std::string(narrow, static_cast<size_t>(got)));
}

// Counts references, to check that arrays keep theirs balanced.
struct Counted : IUnknown {
    HRESULT QueryInterface(REFIID, void **ppv) override
    {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override { return --refs; }
    ULONG refs = 1;
};

TEST(SafeArray, BoundsAndBadIndexes)
{
    SAFEARRAYBOUND bound{4, -2};
    SAFEARRAY *a = SafeArrayCreate(VT_UI1, 1, &bound);
    ASSERT_NE(nullptr, a);
    LONG lo = 0, hi = 0;
    EXPECT_EQ(S_OK, SafeArrayGetLBound(a, 1, &lo));
    EXPECT_EQ(S_OK, SafeArrayGetUBound(a, 1, &hi));
    EXPECT_EQ(-2, lo);
    EXPECT_EQ(1, hi);
    EXPECT_EQ(DISP_E_BADINDEX, SafeArrayGetLBound(a, 2, &lo));
    EXPECT_EQ(DISP_E_BADINDEX, SafeArrayGetUBound(a, 0, &hi));
    VARTYPE vt = 0;
    EXPECT_EQ(S_OK, SafeArrayGetVartype(a, &vt));
    EXPECT_EQ(VT_UI1, vt);

    for (LONG i = -2; i <= 1; ++i) {
        BYTE b = static_cast<BYTE>(0x10 + i);
        EXPECT_EQ(S_OK, SafeArrayPutElement(a, &i, &b));
    }
    LONG i = 1;
    BYTE out = 0xAA;
    EXPECT_EQ(S_OK, SafeArrayGetElement(a, &i, &out));
    EXPECT_EQ(0x11, out);
    for (LONG bad : {-3, 2}) {
        out = 0xAA;
        EXPECT_EQ(DISP_E_BADINDEX, SafeArrayGetElement(a, &bad, &out));
        EXPECT_EQ(0xAA, out);
        EXPECT_EQ(DISP_E_BADINDEX, SafeArrayPutElement(a, &bad, &out));
    }
    EXPECT_EQ(S_OK, SafeArrayDestroy(a));
    EXPECT_EQ(S_OK, SafeArrayDestroy(nullptr));

    // Zero elements: upper bound below lower bound.
    a = SafeArrayCreateVector(VT_UI1, 0, 0);
    ASSERT_NE(nullptr, a);
    SafeArrayGetUBound(a, 1, &hi);
    EXPECT_EQ(-1, hi);
    SafeArrayDestroy(a);

    // Only one dimension, only VT_UI1 and VT_UNKNOWN; the hook's failure.
    SAFEARRAYBOUND two[2] = {{1, 0}, {1, 0}};
    EXPECT_EQ(nullptr, SafeArrayCreate(VT_UI1, 2, two));
    EXPECT_EQ(nullptr, SafeArrayCreateVector(8 /* VT_BSTR */, 0, 1));
    hbrFaultSet(HBR_FAULT_SAFE_ARRAY_CREATE, 1, 1);
    SAFEARRAY *passed = SafeArrayCreate(VT_UI1, 1, &bound);
    SAFEARRAY *failed = SafeArrayCreateVector(VT_UI1, 0, 1);
    SAFEARRAY *after = SafeArrayCreate(VT_UI1, 1, &bound);
    EXPECT_NE(nullptr, passed);
    EXPECT_EQ(nullptr, failed);
    EXPECT_NE(nullptr, after);
    SafeArrayDestroy(passed);
    SafeArrayDestroy(after);
    hbrFaultClearAll();
}

TEST(SafeArray, UnknownElementsKeepReferencesBalanced)
{
    Counted x, y;
    SAFEARRAY *a = SafeArrayCreateVector(VT_UNKNOWN, 0, 2);
    ASSERT_NE(nullptr, a);
    LONG i0 = 0, i1 = 1;
    EXPECT_EQ(S_OK, SafeArrayPutElement(a, &i0, &x));
    EXPECT_EQ(2u, x.refs);
    EXPECT_EQ(S_OK, SafeArrayPutElement(a, &i0, &y)); // replacing releases the old one
    EXPECT_EQ(1u, x.refs);
    EXPECT_EQ(2u, y.refs);
    EXPECT_EQ(S_OK, SafeArrayPutElement(a, &i1, &x));
    IUnknown *got = nullptr;
    EXPECT_EQ(S_OK, SafeArrayGetElement(a, &i1, &got));
    EXPECT_EQ(&x, got);
    EXPECT_EQ(3u, x.refs); // the caller's own reference
    got->Release();
    LONG bad = 2;
    got = reinterpret_cast<IUnknown *>(&y);
    EXPECT_EQ(DISP_E_BADINDEX, SafeArrayGetElement(a, &bad, &got));
    EXPECT_EQ(2u, y.refs);
    EXPECT_EQ(S_OK, SafeArrayDestroy(a));
    EXPECT_EQ(1u, x.refs);
    EXPECT_EQ(1u, y.refs);
}

} // namespace
