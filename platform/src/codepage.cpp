// Code-page conversion: UTF-8 (CP_UTF8, and CP_ACP taken as UTF-8) to and
// from UTF-16. Invalid input becomes U+FFFD.
#include "objects.h"

#include <vector>

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool CodePageOk(UINT cp, DWORD flags)
{
    if (cp != CP_UTF8 && cp != CP_ACP) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    if (flags != 0) {
        SetLastError(ERROR_INVALID_FLAGS);
        return false;
    }
    return true;
}

// Decodes UTF-8; each byte of an invalid sequence (stray continuation,
// truncation, overlong form, surrogate, above U+10FFFF) gives one U+FFFD.
std::vector<char32_t> DecodeUtf8(const unsigned char *s, size_t n)
{
    std::vector<char32_t> out;
    out.reserve(n);
    size_t i = 0;
    while (i < n) {
        unsigned char b = s[i];
        size_t len = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
        if (len == 1) {
            out.push_back(b);
            ++i;
            continue;
        }
        char32_t cp = len == 2 ? (b & 0x1Fu) : len == 3 ? (b & 0x0Fu) : (b & 0x07u);
        bool ok = len != 0 && i + len <= n;
        for (size_t k = 1; ok && k < len; ++k) {
            if ((s[i + k] & 0xC0) != 0x80) {
                ok = false;
            } else {
                cp = (cp << 6) | (s[i + k] & 0x3Fu);
            }
        }
        static const char32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
        if (ok && (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) {
            ok = false;
        }
        if (!ok) {
            out.push_back(kReplacement);
            ++i;
            continue;
        }
        out.push_back(cp);
        i += len;
    }
    return out;
}

// Decodes UTF-16; an unpaired surrogate gives U+FFFD.
std::vector<char32_t> DecodeUtf16(const WCHAR *s, size_t n)
{
    std::vector<char32_t> out;
    out.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        char32_t c = s[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            out.push_back(0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00));
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            out.push_back(kReplacement);
        } else {
            out.push_back(c);
        }
    }
    return out;
}

// The input length in units: -1 means up to and including the NUL.
template <class T> bool InputLength(const T *src, int count, size_t *n)
{
    if (!src || count == 0 || count < -1) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    if (count == -1) {
        size_t k = 0;
        while (src[k] != 0) {
            ++k;
        }
        *n = k + 1;
    } else {
        *n = static_cast<size_t>(count);
    }
    return true;
}

// Copies `units` to the caller: a size query when capacity is 0.
template <class T, class U> int Deliver(const std::vector<T> &units, U *dst, int capacity)
{
    if (units.size() > 0x7FFFFFFF) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    int need = static_cast<int>(units.size());
    if (capacity == 0) {
        return need;
    }
    if (need > capacity) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    for (int i = 0; i < need; ++i) {
        dst[i] = static_cast<U>(units[static_cast<size_t>(i)]);
    }
    return need;
}

} // namespace

extern "C" int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr,
                                          int cbMultiByte, LPWSTR lpWideCharStr, int cchWideChar)
{
    size_t n;
    if (!CodePageOk(CodePage, dwFlags) || !InputLength(lpMultiByteStr, cbMultiByte, &n)) {
        return 0;
    }
    if (cchWideChar < 0 || (cchWideChar > 0 && !lpWideCharStr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::vector<char16_t> units;
    for (char32_t c : DecodeUtf8(reinterpret_cast<const unsigned char *>(lpMultiByteStr), n)) {
        if (c >= 0x10000) {
            units.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
            units.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            units.push_back(static_cast<char16_t>(c));
        }
    }
    return Deliver(units, lpWideCharStr, cchWideChar);
}

extern "C" int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr,
                                          int cchWideChar, LPSTR lpMultiByteStr, int cbMultiByte,
                                          LPCSTR lpDefaultChar, LPBOOL lpUsedDefaultChar)
{
    size_t n;
    if (!CodePageOk(CodePage, dwFlags) || !InputLength(lpWideCharStr, cchWideChar, &n)) {
        return 0;
    }
    // UTF-8 has no default character.
    if (lpDefaultChar || lpUsedDefaultChar || cbMultiByte < 0 || (cbMultiByte > 0 && !lpMultiByteStr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::vector<unsigned char> bytes;
    for (char32_t c : DecodeUtf16(lpWideCharStr, n)) {
        if (c < 0x80) {
            bytes.push_back(static_cast<unsigned char>(c));
        } else if (c < 0x800) {
            bytes.push_back(static_cast<unsigned char>(0xC0 | (c >> 6)));
            bytes.push_back(static_cast<unsigned char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            bytes.push_back(static_cast<unsigned char>(0xE0 | (c >> 12)));
            bytes.push_back(static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F)));
            bytes.push_back(static_cast<unsigned char>(0x80 | (c & 0x3F)));
        } else {
            bytes.push_back(static_cast<unsigned char>(0xF0 | (c >> 18)));
            bytes.push_back(static_cast<unsigned char>(0x80 | ((c >> 12) & 0x3F)));
            bytes.push_back(static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F)));
            bytes.push_back(static_cast<unsigned char>(0x80 | (c & 0x3F)));
        }
    }
    return Deliver(bytes, lpMultiByteStr, cbMultiByte);
}
