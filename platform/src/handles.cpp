#include "objects.h"

#include <hbr_platform_fault.h>

#include <atomic>
#include <cstdint>
#include <vector>

namespace hbr {
namespace {

// Handle value: generation in the high 32 bits, slot index + 1 in the low
// 32 bits. Generations start at 1 and stay below 2^31, so a value is never
// NULL, never INVALID_HANDLE_VALUE and never a predefined registry key.
struct Slot {
    std::shared_ptr<Object> obj;
    uint32_t generation = 1;
};

struct HandleTable {
    std::mutex lock;
    std::vector<Slot> slots;
    std::vector<uint32_t> freeSlots;
};

// Never destroyed: threads still running at exit may use it.
HandleTable &Table()
{
    static HandleTable *table = new HandleTable;
    return *table;
}

bool Decode(HANDLE h, uint32_t *index, uint32_t *generation)
{
    uint64_t v = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(h));
    uint32_t low = static_cast<uint32_t>(v & 0xFFFFFFFFu);
    uint32_t high = static_cast<uint32_t>(v >> 32);
    if (low == 0 || high == 0 || high >= 0x80000000u) {
        return false;
    }
    *index = low - 1;
    *generation = high;
    return true;
}

} // namespace

std::mutex &WaitLock()
{
    static std::mutex *m = new std::mutex;
    return *m;
}

std::condition_variable &WaitCond()
{
    static std::condition_variable *c = new std::condition_variable;
    return *c;
}

void SetSignaled(Waitable &w, bool signaled)
{
    std::lock_guard<std::mutex> guard(WaitLock());
    w.signaled = signaled;
    if (signaled) {
        WaitCond().notify_all();
    }
}

HANDLE InsertHandle(std::shared_ptr<Object> obj)
{
    HandleTable &t = Table();
    std::lock_guard<std::mutex> guard(t.lock);
    uint32_t index;
    if (!t.freeSlots.empty()) {
        index = t.freeSlots.back();
        t.freeSlots.pop_back();
    } else {
        index = static_cast<uint32_t>(t.slots.size());
        t.slots.emplace_back();
    }
    Slot &slot = t.slots[index];
    slot.obj = std::move(obj);
    uint64_t v = (static_cast<uint64_t>(slot.generation) << 32) | (index + 1u);
    return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(v));
}

std::shared_ptr<Object> LookupHandle(HANDLE h)
{
    uint32_t index, generation;
    if (Decode(h, &index, &generation)) {
        HandleTable &t = Table();
        std::lock_guard<std::mutex> guard(t.lock);
        if (index < t.slots.size() && t.slots[index].generation == generation && t.slots[index].obj) {
            return t.slots[index].obj;
        }
    }
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
}

std::shared_ptr<Object> RemoveHandle(HANDLE h, ObjectType type)
{
    uint32_t index, generation;
    std::shared_ptr<Object> removed;
    if (Decode(h, &index, &generation)) {
        HandleTable &t = Table();
        std::lock_guard<std::mutex> guard(t.lock);
        if (index < t.slots.size()) {
            Slot &slot = t.slots[index];
            if (slot.generation == generation && slot.obj && slot.obj->type == type) {
                removed = std::move(slot.obj);
                slot.obj.reset();
                slot.generation = slot.generation + 1 >= 0x80000000u ? 1 : slot.generation + 1;
                t.freeSlots.push_back(index);
            }
        }
    }
    if (!removed) {
        SetLastError(ERROR_INVALID_HANDLE);
    }
    // The object dies (if this was the last reference) outside the lock.
    return removed;
}

// ---- fault injection ----
namespace {
struct FaultState {
    std::atomic<unsigned> skip{0};
    std::atomic<unsigned> fail{0};
};
FaultState g_faults[HBR_FAULT_POINT_COUNT];
std::mutex g_faultLock;
} // namespace

bool FaultHit(int point)
{
    if (point < 0 || point >= HBR_FAULT_POINT_COUNT) {
        return false;
    }
    FaultState &f = g_faults[point];
    if (f.fail.load() == 0) {
        return false;
    }
    std::lock_guard<std::mutex> guard(g_faultLock);
    if (f.skip.load() > 0) {
        f.skip--;
        return false;
    }
    if (f.fail.load() > 0) {
        f.fail--;
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return true;
    }
    return false;
}

} // namespace hbr

extern "C" void hbrFaultSet(HbrFaultPoint point, unsigned skip, unsigned fail)
{
    if (point < 0 || point >= HBR_FAULT_POINT_COUNT) {
        return;
    }
    std::lock_guard<std::mutex> guard(hbr::g_faultLock);
    hbr::g_faults[point].skip = skip;
    hbr::g_faults[point].fail = fail;
}

extern "C" void hbrFaultClearAll(void)
{
    std::lock_guard<std::mutex> guard(hbr::g_faultLock);
    for (auto &f : hbr::g_faults) {
        f.skip = 0;
        f.fail = 0;
    }
    hbr::ClearSetupDiFaults();
    hbr::ClearDeviceServiceFaults();
}
