// The registry notifier: one platform thread that compares each armed
// watch's subtree (subkey names and each key's write serial) with the
// snapshot taken when the watch was armed. It sleeps until inotify reports
// a change in a watched key folder (the key, and its subkeys for a subtree
// watch, those created later included), a watch is armed or dropped, or the
// 5 s safety poll comes round for what inotify cannot report (a full watch
// table, for one). Writes by this process and by any other are seen alike;
// the snapshot stays the judge, so one write fires a watch once, however
// soon it is re-armed. Without inotify the comparison runs every 100 ms.
#include "registry_store.h"

#include <list>
#include <set>
#include <thread>

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace hbr {
namespace {

const int kSafetyPollMs = 5000;
const int kFallbackPollMs = 100;
const uint32_t kFolderEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_CLOSE_WRITE | IN_ATTRIB |
                               IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

struct Watch {
    uint64_t id;
    std::shared_ptr<Key> key;
    bool subtree;
    DWORD filter;
    std::shared_ptr<Waitable> event;
    Snapshot snapshot;
};

// The folders inotify watches for the notifier; used by its thread only.
class FolderWatcher {
public:
    FolderWatcher() : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}
    int fd() const { return fd_; }

    // Watches exactly `folders`; answers true when one was newly added,
    // since a change there may have come before its watch.
    bool Track(const std::set<std::string> &folders)
    {
        if (fd_ < 0) {
            return false;
        }
        bool added = false;
        for (auto it = watched_.begin(); it != watched_.end();) {
            if (folders.count(it->first) == 0) {
                inotify_rm_watch(fd_, it->second);
                it = watched_.erase(it);
            } else {
                ++it;
            }
        }
        for (const auto &folder : folders) {
            if (watched_.count(folder) != 0) {
                continue;
            }
            int wd = inotify_add_watch(fd_, folder.c_str(), kFolderEvents);
            if (wd >= 0) {
                watched_[folder] = wd;
                added = true;
            }
        }
        return added;
    }

    void Drain()
    {
        char buffer[4096];
        while (fd_ >= 0 && read(fd_, buffer, sizeof(buffer)) > 0) {
        }
    }

private:
    int fd_;
    std::map<std::string, int> watched_;
};

struct Notifier {
    std::mutex lock;
    std::list<Watch> watches;
    uint64_t nextId = 1;
    bool started = false;
    int wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);

    void Wake()
    {
        uint64_t one = 1;
        if (wakeFd >= 0 && write(wakeFd, &one, sizeof(one)) < 0) {
            // already pending
        }
    }

    // Sleeps until a folder changes, a watch comes or goes, or `timeoutMs`.
    void Await(FolderWatcher &folders, int timeoutMs)
    {
        struct pollfd fds[2] = {{wakeFd, POLLIN, 0}, {folders.fd(), POLLIN, 0}};
        poll(fds, 2, timeoutMs); // EINTR or an error: compare anyway
        uint64_t count = 0;
        if (wakeFd >= 0 && read(wakeFd, &count, sizeof(count)) < 0) {
            // nothing pending
        }
        folders.Drain();
    }

    void Run()
    {
        FolderWatcher folders;
        bool recheck = true;
        for (;;) {
            bool idle;
            {
                std::lock_guard<std::mutex> guard(lock);
                idle = watches.empty();
            }
            int timeout = idle ? -1 : (folders.fd() < 0 || wakeFd < 0) ? kFallbackPollMs : kSafetyPollMs;
            if (!recheck) {
                Await(folders, timeout);
            }
            recheck = false;

            // Copy what to compare, read the store without the lock.
            std::list<Watch> pending;
            {
                std::lock_guard<std::mutex> guard(lock);
                pending = watches;
            }
            std::list<uint64_t> fired;
            std::set<std::string> needed;
            for (const auto &w : pending) {
                Snapshot now;
                try {
                    now = TakeSnapshot(w.key->dir, w.subtree);
                } catch (...) {
                    continue; // out of memory: compare next round
                }
                if (SnapshotChanged(w.snapshot, now, w.filter)) {
                    fired.push_back(w.id);
                    continue;
                }
                needed.insert(w.key->dir);
                for (const auto &entry : now) {
                    needed.insert(entry.second.dir);
                }
            }
            std::lock_guard<std::mutex> guard(lock);
            for (uint64_t id : fired) {
                for (auto it = watches.begin(); it != watches.end(); ++it) {
                    if (it->id == id) {
                        SetSignaled(*it->event, true);
                        watches.erase(it);
                        break;
                    }
                }
            }
            recheck = folders.Track(needed);
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
    n.Wake();
}

void DropWatches(const Key *key)
{
    Notifier &n = TheNotifier();
    std::lock_guard<std::mutex> guard(n.lock);
    n.watches.remove_if([key](const Watch &w) { return w.key.get() == key; });
    n.Wake();
}

} // namespace hbr
