#include "objects.h"

#include <atomic>
#include <thread>

#include <unistd.h>

using namespace hbr;

namespace {

struct ThreadObject : Waitable {
    ThreadObject() : Waitable(ObjectType::Thread) {}
};

std::atomic<DWORD> g_nextThreadId{1};

} // namespace

extern "C" HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, size_t, LPTHREAD_START_ROUTINE lpStartAddress,
                                      LPVOID lpParameter, DWORD dwCreationFlags, LPDWORD lpThreadId)
{
    if (lpStartAddress == nullptr || dwCreationFlags != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto obj = std::make_shared<ThreadObject>();
    HANDLE h = InsertHandle(obj);
    DWORD id = g_nextThreadId++;
    try {
        std::thread t([obj, lpStartAddress, lpParameter] {
            lpStartAddress(lpParameter);
            SetSignaled(*obj, true);
        });
        t.detach();
    } catch (...) {
        RemoveHandle(h, ObjectType::Thread);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (lpThreadId != nullptr) {
        *lpThreadId = id;
    }
    return h;
}

extern "C" DWORD WINAPI GetCurrentProcessId(void)
{
    return static_cast<DWORD>(getpid());
}
