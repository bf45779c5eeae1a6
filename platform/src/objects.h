// Kernel objects of the platform layer and the handle table that names
// them. Internal to libhbrplatform.
#ifndef HBR_PLATFORM_OBJECTS_H
#define HBR_PLATFORM_OBJECTS_H

#include <windows.h>

#include <condition_variable>
#include <memory>
#include <mutex>

struct tagSAFEARRAY;

namespace hbr {

enum class ObjectType { Event, Thread, TimerQueue, Timer, Key, File, DeviceInfoSet };

struct Object {
    explicit Object(ObjectType t) : type(t) {}
    virtual ~Object() = default;
    const ObjectType type;
};

// Waitable objects (events and threads) keep their signal state under one
// process-wide lock; every change of state wakes every waiter.
struct Waitable : Object {
    explicit Waitable(ObjectType t) : Object(t) {}
    bool signaled = false; // guarded by WaitLock()
};

std::mutex &WaitLock();
std::condition_variable &WaitCond();
void SetSignaled(Waitable &w, bool signaled);

// Handle table. Insert returns a fresh handle holding a reference;
// Lookup returns the object when the handle is live and of the given type,
// else null with ERROR_INVALID_HANDLE set. Remove drops the handle and
// bumps the slot's generation.
HANDLE InsertHandle(std::shared_ptr<Object> obj);
std::shared_ptr<Object> LookupHandle(HANDLE h);
template <class T> std::shared_ptr<T> LookupAs(HANDLE h, ObjectType type)
{
    std::shared_ptr<Object> obj = LookupHandle(h);
    if (!obj || obj->type != type) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return std::static_pointer_cast<T>(obj);
}
// Removes the handle when it names an object of `type`.
std::shared_ptr<Object> RemoveHandle(HANDLE h, ObjectType type);

// Test-only fault injection (see hbr_platform_fault.h).
bool FaultHit(int point);
// Clears the SetupAPI property faults (part of hbrFaultClearAll).
void ClearSetupDiFaults();
// Clears the device service's value faults (hbrFaultClearAll).
void ClearDeviceServiceFaults();
// A one-dimensional array with lower bound 0 for the platform's own use:
// the SafeArrayCreate fault point does not apply.
tagSAFEARRAY *NewPlatformArray(unsigned short vt, uint32_t count);

} // namespace hbr

#endif
