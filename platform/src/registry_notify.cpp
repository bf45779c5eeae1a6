// The registry notifier: one platform thread that, every 100 ms, compares
// each armed watch's subtree (subkey names and each key's write serial)
// with the snapshot taken when the watch was armed. Writes by this process
// and by any other are seen alike; one write fires a watch once, however
// soon it is re-armed.
#include "registry_store.h"

#include <chrono>
#include <list>
#include <thread>

namespace hbr {
namespace {

struct Watch {
    uint64_t id;
    std::shared_ptr<Key> key;
    bool subtree;
    DWORD filter;
    std::shared_ptr<Waitable> event;
    Snapshot snapshot;
};

struct Notifier {
    std::mutex lock;
    std::condition_variable wake;
    std::list<Watch> watches;
    uint64_t nextId = 1;
    bool started = false;

    void Run()
    {
        std::unique_lock<std::mutex> guard(lock);
        for (;;) {
            if (watches.empty()) {
                wake.wait(guard);
                continue;
            }
            wake.wait_for(guard, std::chrono::milliseconds(100));
            // Copy what to compare, read the store without the lock.
            std::list<Watch> pending = watches;
            guard.unlock();
            std::list<uint64_t> fired;
            for (const auto &w : pending) {
                if (SnapshotChanged(w.snapshot, TakeSnapshot(w.key->dir, w.subtree), w.filter)) {
                    fired.push_back(w.id);
                }
            }
            guard.lock();
            for (uint64_t id : fired) {
                for (auto it = watches.begin(); it != watches.end(); ++it) {
                    if (it->id == id) {
                        SetSignaled(*it->event, true);
                        watches.erase(it);
                        break;
                    }
                }
            }
        }
    }
};

// Never destroyed: its thread runs until the process ends.
Notifier &TheNotifier()
{
    static Notifier *n = new Notifier;
    return *n;
}

} // namespace

void ArmWatch(const std::shared_ptr<Key> &key, bool subtree, DWORD filter, std::shared_ptr<Waitable> event)
{
    Watch w;
    w.key = key;
    w.subtree = subtree;
    w.filter = filter;
    w.event = std::move(event);
    w.snapshot = TakeSnapshot(key->dir, subtree);
    Notifier &n = TheNotifier();
    std::lock_guard<std::mutex> guard(n.lock);
    w.id = n.nextId++;
    n.watches.push_back(std::move(w));
    if (!n.started) {
        n.started = true;
        std::thread([&n] { n.Run(); }).detach();
    }
    n.wake.notify_all();
}

void DropWatches(const Key *key)
{
    Notifier &n = TheNotifier();
    std::lock_guard<std::mutex> guard(n.lock);
    n.watches.remove_if([key](const Watch &w) { return w.key.get() == key; });
}

} // namespace hbr
