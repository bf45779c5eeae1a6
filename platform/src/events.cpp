#include "objects.h"

#include <hbr_platform_fault.h>

#include <chrono>
#include <cstring>
#include <map>
#include <string>
#include <vector>

using namespace hbr;

namespace {

struct Event;

// Named events of the process. An entry lives as long as its object: the
// object's destructor takes the name out, so a name is free again once the
// last handle (and any wait still holding the object) is gone.
struct NameTable {
    std::mutex lock;
    std::map<std::string, std::pair<Event *, std::weak_ptr<Event>>> names;
};

// Never destroyed, like the handle table.
NameTable &Names()
{
    static NameTable *t = new NameTable;
    return *t;
}

struct Event : Waitable {
    Event() : Waitable(ObjectType::Event) {}
    ~Event() override
    {
        if (name.empty()) {
            return;
        }
        NameTable &t = Names();
        std::lock_guard<std::mutex> guard(t.lock);
        auto it = t.names.find(name);
        if (it != t.names.end() && it->second.first == this) {
            t.names.erase(it);
        }
    }
    std::string name;
};

std::shared_ptr<Waitable> LookupWaitable(HANDLE h)
{
    std::shared_ptr<Object> obj = LookupHandle(h);
    if (!obj) {
        return nullptr;
    }
    if (obj->type != ObjectType::Event && obj->type != ObjectType::Thread) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return std::static_pointer_cast<Waitable>(obj);
}

} // namespace

extern "C" HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES, BOOL bManualReset, BOOL bInitialState,
                                      LPCSTR lpName)
{
    if (!bManualReset) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (lpName && std::strlen(lpName) > MAX_PATH) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    if (FaultHit(HBR_FAULT_CREATE_EVENT)) {
        return nullptr;
    }
    if (!lpName) {
        auto ev = std::make_shared<Event>();
        ev->signaled = bInitialState != FALSE;
        return InsertHandle(ev);
    }
    NameTable &t = Names();
    std::shared_ptr<Event> ev;
    {
        std::lock_guard<std::mutex> guard(t.lock);
        auto it = t.names.find(lpName);
        if (it != t.names.end()) {
            ev = it->second.second.lock();
        }
        if (!ev) {
            ev = std::make_shared<Event>();
            ev->name = lpName;
            ev->signaled = bInitialState != FALSE;
            t.names[lpName] = {ev.get(), ev};
            SetLastError(ERROR_SUCCESS);
            return InsertHandle(ev);
        }
    }
    // An existing object: a new handle to it; the initial state is ignored.
    HANDLE h = InsertHandle(ev);
    SetLastError(ERROR_ALREADY_EXISTS);
    return h;
}

extern "C" BOOL WINAPI SetEvent(HANDLE hEvent)
{
    auto ev = LookupAs<Event>(hEvent, ObjectType::Event);
    if (!ev) {
        return FALSE;
    }
    SetSignaled(*ev, true);
    return TRUE;
}

extern "C" BOOL WINAPI ResetEvent(HANDLE hEvent)
{
    auto ev = LookupAs<Event>(hEvent, ObjectType::Event);
    if (!ev) {
        return FALSE;
    }
    SetSignaled(*ev, false);
    return TRUE;
}

extern "C" BOOL WINAPI CloseHandle(HANDLE hObject)
{
    std::shared_ptr<Object> obj = LookupHandle(hObject);
    if (!obj) {
        return FALSE;
    }
    // Timer queues, timers, keys and device-info sets have their own
    // release calls. A file's descriptor closes with its last reference.
    if (obj->type != ObjectType::Event && obj->type != ObjectType::Thread && obj->type != ObjectType::File) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return RemoveHandle(hObject, obj->type) ? TRUE : FALSE;
}

extern "C" DWORD WINAPI WaitForMultipleObjects(DWORD nCount, const HANDLE *lpHandles, BOOL bWaitAll,
                                               DWORD dwMilliseconds)
{
    if (bWaitAll || nCount == 0 || nCount > MAXIMUM_WAIT_OBJECTS || lpHandles == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    // The references keep the objects alive even if another thread closes
    // the handles during the wait.
    std::vector<std::shared_ptr<Waitable>> objs(nCount);
    for (DWORD i = 0; i < nCount; ++i) {
        objs[i] = LookupWaitable(lpHandles[i]);
        if (!objs[i]) {
            return WAIT_FAILED;
        }
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(dwMilliseconds);
    std::unique_lock<std::mutex> lock(WaitLock());
    for (;;) {
        for (DWORD i = 0; i < nCount; ++i) {
            if (objs[i]->signaled) {
                return WAIT_OBJECT_0 + i;
            }
        }
        if (dwMilliseconds == INFINITE) {
            WaitCond().wait(lock);
        } else if (WaitCond().wait_until(lock, deadline) == std::cv_status::timeout) {
            for (DWORD i = 0; i < nCount; ++i) {
                if (objs[i]->signaled) {
                    return WAIT_OBJECT_0 + i;
                }
            }
            return WAIT_TIMEOUT;
        }
    }
}

extern "C" DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds)
{
    return WaitForMultipleObjects(1, &hHandle, FALSE, dwMilliseconds);
}
