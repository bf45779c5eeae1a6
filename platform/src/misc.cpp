// Smaller Win32 calls: module file name, local time, critical sections, COM.
#include "objects.h"

#include <objbase.h>
#include <hbr_platform_fault.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>

#include <unistd.h>

extern "C" DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize)
{
    if (hModule != nullptr || lpFilename == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    char path[PATH_MAX + 1];
    ssize_t len = readlink("/proc/self/exe", path, PATH_MAX);
    if (len < 0) {
        SetLastError(errno == EACCES ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND);
        return 0;
    }
    if (nSize == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    size_t n = static_cast<size_t>(len);
    if (n >= nSize) {
        // Windows' truncation: nSize-1 bytes, a NUL, result nSize.
        std::memcpy(lpFilename, path, nSize - 1);
        lpFilename[nSize - 1] = '\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return nSize;
    }
    std::memcpy(lpFilename, path, n);
    lpFilename[n] = '\0';
    return static_cast<DWORD>(n);
}

extern "C" void WINAPI GetLocalTime(LPSYSTEMTIME st)
{
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    struct tm tmv;
    localtime_r(&ts.tv_sec, &tmv);
    st->wYear = static_cast<WORD>(tmv.tm_year + 1900);
    st->wMonth = static_cast<WORD>(tmv.tm_mon + 1);
    st->wDayOfWeek = static_cast<WORD>(tmv.tm_wday);
    st->wDay = static_cast<WORD>(tmv.tm_mday);
    st->wHour = static_cast<WORD>(tmv.tm_hour);
    st->wMinute = static_cast<WORD>(tmv.tm_min);
    st->wSecond = static_cast<WORD>(tmv.tm_sec);
    st->wMilliseconds = static_cast<WORD>(ts.tv_nsec / 1000000L);
}

extern "C" void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION cs)
{
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&cs->mutex, &attr);
    pthread_mutexattr_destroy(&attr);
}

extern "C" void WINAPI EnterCriticalSection(LPCRITICAL_SECTION cs)
{
    pthread_mutex_lock(&cs->mutex);
}

extern "C" void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION cs)
{
    pthread_mutex_unlock(&cs->mutex);
}

extern "C" void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION cs)
{
    pthread_mutex_destroy(&cs->mutex);
}

namespace {
thread_local bool t_comInitialized = false;
}

extern "C" HRESULT WINAPI CoInitializeEx(LPVOID, DWORD)
{
    if (hbr::FaultHit(HBR_FAULT_CO_INITIALIZE)) {
        return E_FAIL;
    }
    if (t_comInitialized) {
        return S_FALSE;
    }
    t_comInitialized = true;
    return S_OK;
}

extern "C" void WINAPI CoUninitialize(void)
{
    t_comInitialized = false;
}
