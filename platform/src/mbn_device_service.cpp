// The Mobile Broadband COM objects over the device-service socket.
//
// One client per process (never destroyed): a connection to the module,
// a reader thread that hands responses to the waiting callers and events to
// the dispatcher, and one dispatcher thread that makes every sink call. See
// docs/platform.md for the protocol, the threads and the interface-state
// rules.
#include "mbn_frame.h"
#include "objects.h"

#include <mbnapi.h>
#include <hbr_platform_fault.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

using namespace hbr::mbn;

namespace {

const char kDefaultSocket[] = "/run/hollowbright/mbn.sock";
constexpr auto kRequestTimeout = std::chrono::seconds(5);
// While disconnected: the safety retry with a watch on the socket's folder,
// the poll without one, and the quick retries of a socket that appeared but
// refuses (its server may not listen yet).
constexpr auto kSafetyRetry = std::chrono::milliseconds(5000);
constexpr auto kPollPeriod = std::chrono::milliseconds(500);
constexpr auto kListenRetry = std::chrono::milliseconds(50);
constexpr unsigned kListenRetries = 20;
const HRESULT kNotFound = HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
const HRESULT kTimedOut = HRESULT_FROM_WIN32(ERROR_TIMEOUT);
// The event notifications the dispatcher may have waiting, by count and by
// payload bytes. Past either, the newest notification is dropped; command
// completions and interface-state changes are always queued.
constexpr size_t kMaxQueuedEvents = 256;
constexpr size_t kMaxQueuedEventBytes = 4u << 20;

// ---- text ----

std::string ToUtf8(BSTR s)
{
    UINT n = SysStringLen(s);
    if (n == 0) {
        return std::string();
    }
    int need = WideCharToMultiByte(CP_UTF8, 0, s, static_cast<int>(n), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(need > 0 ? need : 0), '\0');
    if (need > 0) {
        WideCharToMultiByte(CP_UTF8, 0, s, static_cast<int>(n), &out[0], need, nullptr, nullptr);
    }
    return out;
}

BSTR ToBstr(const std::string &s)
{
    if (s.empty()) {
        return SysAllocStringLen(nullptr, 0);
    }
    int need = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    BSTR b = SysAllocStringLen(nullptr, static_cast<UINT>(need));
    if (b) {
        MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), b, need);
    }
    return b;
}

SAFEARRAY *ToByteArray(const std::string &data)
{
    SAFEARRAY *a = hbr::NewPlatformArray(VT_UI1, static_cast<uint32_t>(data.size()));
    if (a && !data.empty()) {
        std::memcpy(a->pvData, data.data(), data.size());
    }
    return a;
}

// ---- the connection ----

struct Connection {
    explicit Connection(int f) : fd(f) {}
    ~Connection() { ::close(fd); }
    const int fd;
    std::mutex sendLock;
    std::string unread; // bytes read during the handshake, not yet decoded

    bool send(const std::string &bytes)
    {
        std::lock_guard<std::mutex> guard(sendLock);
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                return false;
            }
            done += static_cast<size_t>(n);
        }
        return true;
    }
};

struct Pending {
    uint16_t type = 0;
    bool done = false;
    bool lost = false;
    Message msg;
};

class ConnectionPoint;

struct Subscription {
    IMbnDeviceServicesEvents *sink;
    ConnectionPoint *owner;
};

// A sink call; the arguments are built per call and live for it only.
using SinkCall = std::function<void(IMbnDeviceServicesEvents *)>;

struct QueuedCall {
    std::vector<DWORD> cookies; // the sinks advised when the event came
    SinkCall call;
    bool notification = false; // an event notification, counted against the bound
    size_t payload = 0;         // its data bytes
};

class MbnInterface;
// The service object handed to the sinks with each event.
IMbnDeviceService *NewDeviceService(const std::string &iface, const std::string &service);

struct Client {
    std::mutex lock; // guards every member below
    std::condition_variable cond;
    std::shared_ptr<Connection> conn;
    uint32_t nextTag = 1;
    std::map<uint32_t, Pending *> pending;
    std::set<std::string> present;
    std::map<std::string, MbnInterface *> interfaces; // one object per id, kept
    std::map<DWORD, Subscription> advises;
    DWORD nextCookie = 1;
    std::deque<QueuedCall> queue;
    size_t queuedEvents = 0;      // event notifications in `queue`
    size_t queuedEventBytes = 0;  // and their payload bytes
    unsigned long droppedEvents = 0; // dropped since the backlog last emptied
    unsigned long long droppedEventBytes = 0;
    IMbnDeviceServicesEvents *calling = nullptr; // the sink whose callback runs now
    std::thread::id dispatcherId;
    bool started = false;
    bool faultActive = false;
    CLSID faultClsid{};
    HRESULT faultHr = S_OK;

    std::mutex connectLock; // one connection attempt at a time
    std::atomic<unsigned long> attempts{0};
    // Wakes the disconnected reader: a reconnection was asked for.
    const int wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
};

// Never destroyed: the reader and the dispatcher run until the process ends.
Client &TheClient()
{
    static Client *c = new Client;
    return *c;
}

// Queues a call to every sink advised now. Caller holds the lock. An event
// notification (`notification`, with `payload` data bytes) that would take
// the backlog past its bound is dropped and counted instead.
void QueueLocked(Client &c, SinkCall call, bool notification = false, size_t payload = 0)
{
    if (c.advises.empty()) {
        return;
    }
    if (notification) {
        if (c.queuedEvents >= kMaxQueuedEvents || payload > kMaxQueuedEventBytes - c.queuedEventBytes) {
            ++c.droppedEvents;
            c.droppedEventBytes += payload;
            return;
        }
        ++c.queuedEvents;
        c.queuedEventBytes += payload;
    }
    QueuedCall q;
    for (auto &a : c.advises) {
        q.cookies.push_back(a.first);
    }
    q.call = std::move(call);
    q.notification = notification;
    q.payload = payload;
    c.queue.push_back(std::move(q));
    c.cond.notify_all();
}

void QueueStateLocked(Client &c, const std::string &id, MBN_DEVICE_SERVICES_INTERFACE_STATE state)
{
    QueueLocked(c, [id, state](IMbnDeviceServicesEvents *sink) {
        BSTR b = ToBstr(id);
        sink->OnInterfaceStateChange(b, state);
        SysFreeString(b);
    });
}

void DispatcherLoop()
{
    Client &c = TheClient();
    std::unique_lock<std::mutex> lk(c.lock);
    for (;;) {
        c.cond.wait(lk, [&] { return !c.queue.empty(); });
        QueuedCall q = std::move(c.queue.front());
        c.queue.pop_front();
        if (q.notification) {
            --c.queuedEvents;
            c.queuedEventBytes -= q.payload;
            // A burst of drops ends once the backlog it met is worked off:
            // one line for the whole burst.
            if (c.queuedEvents == 0 && c.droppedEvents != 0) {
                unsigned long count = c.droppedEvents;
                unsigned long long bytes = c.droppedEventBytes;
                c.droppedEvents = 0;
                c.droppedEventBytes = 0;
                lk.unlock();
                std::fprintf(stderr,
                             "MbnDeviceService: dropped %lu event notifications (%llu bytes), the dispatcher queue "
                             "was full\n",
                             count, bytes);
                std::fflush(stderr);
                lk.lock();
            }
        }
        for (DWORD cookie : q.cookies) {
            auto it = c.advises.find(cookie);
            if (it == c.advises.end()) {
                continue; // unadvised meanwhile
            }
            IMbnDeviceServicesEvents *sink = it->second.sink;
            c.calling = sink;
            lk.unlock();
            // Our own reference keeps the sink alive should it unadvise
            // itself during the call.
            sink->AddRef();
            q.call(sink);
            sink->Release();
            lk.lock();
            c.calling = nullptr;
            c.cond.notify_all();
        }
    }
}

// Ends the connection `conn` if it is the current one: every waiting
// request fails at once and every known interface is gone.
void Drop(const std::shared_ptr<Connection> &conn)
{
    Client &c = TheClient();
    {
        std::lock_guard<std::mutex> guard(c.lock);
        if (!conn || c.conn != conn) {
            return;
        }
        c.conn.reset();
        for (auto &p : c.pending) {
            p.second->lost = true;
        }
        c.pending.clear();
        for (const std::string &id : c.present) {
            QueueStateLocked(c, id, MBN_DEVICE_SERVICES_CAPABLE_INTERFACE_REMOVAL);
        }
        c.present.clear();
        c.cond.notify_all();
    }
    ::shutdown(conn->fd, SHUT_RDWR); // wakes the reader
}

// An event from the module: interface state changes update the present
// set; everything else goes to the sinks.
void HandleEvent(const Message &m)
{
    Client &c = TheClient();
    std::lock_guard<std::mutex> guard(c.lock);
    switch (m.type) {
    case kInterfaceState:
        if (m.state == 0 && c.present.insert(m.iface).second) {
            QueueStateLocked(c, m.iface, MBN_DEVICE_SERVICES_CAPABLE_INTERFACE_ARRIVAL);
        } else if (m.state == 1 && c.present.erase(m.iface) != 0) {
            QueueStateLocked(c, m.iface, MBN_DEVICE_SERVICES_CAPABLE_INTERFACE_REMOVAL);
        }
        break;
    case kOpenSessionComplete:
    case kCloseSessionComplete:
    case kSetCommandComplete:
    case kEventNotification: {
        Message copy = m;
        QueueLocked(c, [copy](IMbnDeviceServicesEvents *sink) {
            IMbnDeviceService *svc = NewDeviceService(copy.iface, copy.service);
            SAFEARRAY *data = nullptr;
            switch (copy.type) {
            case kOpenSessionComplete:
                sink->OnOpenCommandSessionComplete(svc, copy.status, copy.requestId);
                break;
            case kCloseSessionComplete:
                sink->OnCloseCommandSessionComplete(svc, copy.status, copy.requestId);
                break;
            case kSetCommandComplete:
                data = ToByteArray(copy.data);
                sink->OnSetCommandComplete(svc, copy.responseId, data, copy.status, copy.requestId);
                break;
            default:
                data = ToByteArray(copy.data);
                sink->OnEventNotification(svc, copy.eventId, data);
                break;
            }
            SafeArrayDestroy(data);
            svc->Release();
        }, m.type == kEventNotification, m.data.size());
        break;
    }
    default:
        break;
    }
}

// A response from the module: wakes its caller. False for a response
// whose type does not answer its request (the connection is then dropped).
bool HandleResponse(const Message &m)
{
    Client &c = TheClient();
    std::lock_guard<std::mutex> guard(c.lock);
    auto it = c.pending.find(m.tag);
    if (it == c.pending.end()) {
        return true; // its caller gave up
    }
    if ((it->second->type | kResponseFlag) != m.type) {
        return false;
    }
    it->second->msg = m;
    it->second->done = true;
    c.pending.erase(it);
    c.cond.notify_all();
    return true;
}

// What a response handler tells Consume.
enum class Next { Continue, Stop, Bad };

// Decodes the whole frames at the front of `buf` and handles them, until
// the response handler says stop. False when the stream is malformed.
bool Consume(std::string &buf, Next (*onResponse)(const Message &, void *), void *ctx)
{
    size_t off = 0;
    bool ok = true;
    for (;;) {
        Message m;
        size_t used = 0;
        const uint8_t *p = reinterpret_cast<const uint8_t *>(buf.data());
        Decode d = DecodeFrame(p + off, p + buf.size(), &m, &used);
        if (d == Decode::NeedMore) {
            break;
        }
        if (d == Decode::Malformed) {
            ok = false;
            break;
        }
        off += used;
        if (m.type & kResponseFlag) {
            Next next = onResponse(m, ctx);
            if (next == Next::Bad) {
                ok = false;
                break;
            }
            if (next == Next::Stop) {
                break; // what follows is the reader's
            }
        } else {
            HandleEvent(m);
        }
    }
    buf.erase(0, off);
    return ok;
}

// ---- handshake: HELLO, then LIST_INTERFACES, answered before the
// connection is published ----

struct HandshakeWait {
    uint32_t tag = 0;
    uint16_t type = 0;
    bool done = false;
    bool bad = false;
    Message msg;
};

Next HandshakeResponse(const Message &m, void *ctx)
{
    auto *w = static_cast<HandshakeWait *>(ctx);
    if (m.tag != w->tag) {
        return Next::Continue;
    }
    if (m.type != (w->type | kResponseFlag)) {
        return Next::Bad;
    }
    w->msg = m;
    w->done = true;
    return Next::Stop;
}

uint32_t NextTag(Client &c)
{
    std::lock_guard<std::mutex> guard(c.lock);
    uint32_t t = c.nextTag++;
    if (c.nextTag == 0) {
        c.nextTag = 1;
    }
    return t;
}

bool HandshakeExchange(Client &c, Connection &conn, uint16_t type, const FrameWriter &body, Message *out)
{
    HandshakeWait w;
    w.tag = NextTag(c);
    w.type = type;
    if (!conn.send(body.finish(type, w.tag))) {
        return false;
    }
    auto deadline = std::chrono::steady_clock::now() + kRequestTimeout;
    for (;;) {
        if (!Consume(conn.unread, HandshakeResponse, &w)) {
            return false;
        }
        if (w.done) {
            *out = w.msg;
            return true;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd p{conn.fd, POLLIN, 0};
        int r = ::poll(&p, 1, static_cast<int>(left.count()));
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r <= 0) {
            return false;
        }
        char buf[4096];
        ssize_t n = ::recv(conn.fd, buf, sizeof buf, 0);
        if (n <= 0) {
            return false;
        }
        conn.unread.append(buf, static_cast<size_t>(n));
    }
}

std::string SocketPath()
{
    const char *env = std::getenv("HBR_MBN_SOCKET");
    return env && *env ? env : kDefaultSocket;
}

enum class Attempt { Connected, Refused, Failed };

// One connection attempt to `path`, unless connected. Caller holds
// connectLock. Refused: the socket exists but nobody accepts on it.
Attempt TryConnectLocked(Client &c, const std::string &path)
{
    {
        std::lock_guard<std::mutex> guard(c.lock);
        if (c.conn) {
            return Attempt::Connected;
        }
    }
    ++c.attempts;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) {
        return Attempt::Failed;
    }
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return Attempt::Failed;
    }
    auto conn = std::make_shared<Connection>(fd);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        return errno == ECONNREFUSED || errno == EAGAIN ? Attempt::Refused : Attempt::Failed;
    }
    // A module that stops reading cannot block a sender for good.
    timeval tv{static_cast<time_t>(kRequestTimeout.count()), 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);

    Message hello, list;
    if (!HandshakeExchange(c, *conn, kHello, FrameWriter().u32(kProtocolVersion), &hello) || FAILED(hello.hr) ||
        hello.value != kProtocolVersion) {
        return Attempt::Failed;
    }
    if (!HandshakeExchange(c, *conn, kListInterfaces, FrameWriter(), &list)) {
        return Attempt::Failed;
    }
    std::set<std::string> listed;
    if (SUCCEEDED(list.hr)) {
        listed.insert(list.interfaces.begin(), list.interfaces.end());
    }
    std::lock_guard<std::mutex> guard(c.lock);
    c.conn = conn;
    for (auto it = c.present.begin(); it != c.present.end();) {
        if (listed.count(*it) == 0) {
            QueueStateLocked(c, *it, MBN_DEVICE_SERVICES_CAPABLE_INTERFACE_REMOVAL);
            it = c.present.erase(it);
        } else {
            ++it;
        }
    }
    for (const std::string &id : listed) {
        if (c.present.insert(id).second) {
            QueueStateLocked(c, id, MBN_DEVICE_SERVICES_CAPABLE_INTERFACE_ARRIVAL);
        }
    }
    c.cond.notify_all();
    return Attempt::Connected;
}

Attempt TryConnect(Client &c, const std::string &path)
{
    std::lock_guard<std::mutex> guard(c.connectLock);
    return TryConnectLocked(c, path);
}

std::string Folder(const std::string &path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseName(const std::string &path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// What the disconnected reader sleeps on: inotify on the socket's folder,
// for the socket's name created, moved in or changed there. While that
// folder does not exist, its nearest existing ancestor is watched for the
// next folder down the path.
class SocketWatch {
public:
    SocketWatch() : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}
    ~SocketWatch()
    {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    SocketWatch(const SocketWatch &) = delete;
    SocketWatch &operator=(const SocketWatch &) = delete;

    // Watches the way to `path`; false when nothing can be watched.
    bool arm(const std::string &path)
    {
        if (fd_ < 0) {
            return false;
        }
        std::string dir = Folder(path);
        std::string next = BaseName(path);
        for (;;) {
            if (wd_ >= 0 && dir == folder_) {
                next_ = next;
                return true;
            }
            int wd = ::inotify_add_watch(fd_, dir.c_str(), kEvents);
            if (wd >= 0) {
                if (wd_ >= 0 && wd_ != wd) {
                    ::inotify_rm_watch(fd_, wd_);
                }
                wd_ = wd;
                folder_ = dir;
                next_ = next;
                return true;
            }
            if ((errno != ENOENT && errno != ENOTDIR) || dir == "/" || dir == ".") {
                drop();
                return false;
            }
            next = BaseName(dir);
            dir = Folder(dir);
        }
    }

    // Sleeps until the watched folder reports the name on the way to the
    // socket (true), or `wakeFd` is signalled or `limit` passes (false).
    bool wait(int wakeFd, std::chrono::milliseconds limit)
    {
        auto deadline = std::chrono::steady_clock::now() + limit;
        for (;;) {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                return false;
            }
            pollfd p[2] = {{wakeFd, POLLIN, 0}, {wd_ >= 0 ? fd_ : -1, POLLIN, 0}};
            int r = ::poll(p, 2, static_cast<int>(left.count()));
            if (r < 0 && errno == EINTR) {
                continue;
            }
            if (r <= 0) {
                return false;
            }
            if (p[0].revents != 0) {
                uint64_t n;
                while (::read(wakeFd, &n, sizeof n) > 0) {
                }
                return false;
            }
            if (relevantEvents()) {
                return true;
            }
        }
    }

private:
    static constexpr uint32_t kEvents = IN_CREATE | IN_MOVED_TO | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF |
                                        IN_ONLYDIR;

    // Reads every queued event; true when one concerns the way to the
    // socket. A watched folder that went away is dropped, to be watched
    // again by its path.
    bool relevantEvents()
    {
        alignas(inotify_event) char buf[4096];
        bool relevant = false;
        for (;;) {
            ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n <= 0) {
                return relevant;
            }
            for (ssize_t off = 0; off < n;) {
                const auto *ev = reinterpret_cast<const inotify_event *>(buf + off);
                off += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
                if (ev->mask & IN_Q_OVERFLOW) {
                    relevant = true;
                } else if (ev->wd == wd_ && (ev->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED))) {
                    drop();
                    relevant = true;
                } else if (ev->wd == wd_ && ev->len > 0 && next_ == ev->name) {
                    relevant = true;
                }
            }
        }
    }

    void drop()
    {
        if (wd_ >= 0) {
            ::inotify_rm_watch(fd_, wd_);
        }
        wd_ = -1;
        folder_.clear();
    }

    const int fd_;
    int wd_ = -1;
    std::string folder_; // watched, on the way to the socket
    std::string next_;   // the name in folder_ that leads to the socket
};

// The disconnected reader: watches the way to the socket first, then makes
// an attempt (a socket made in between is not missed), then sleeps until
// the watch reports the socket or a folder on its way, a reconnection is
// asked for, or the retry comes round. `quick` counts the quick retries
// left for a socket that appeared but refuses.
void AwaitConnection(Client &c, SocketWatch &watch, unsigned &quick)
{
    std::string path = SocketPath();
    bool watching = watch.arm(path);
    Attempt a = TryConnect(c, path);
    if (a == Attempt::Connected) {
        quick = 0;
        return;
    }
    auto limit = watching ? kSafetyRetry : kPollPeriod;
    if (a == Attempt::Refused && quick > 0) {
        --quick;
        limit = kListenRetry;
    }
    if (watch.wait(c.wakeFd, limit)) {
        quick = kListenRetries;
    }
}

Next ReaderResponse(const Message &m, void *) { return HandleResponse(m) ? Next::Continue : Next::Bad; }

void ReaderLoop()
{
    Client &c = TheClient();
    SocketWatch watch;
    unsigned quick = 0;
    for (;;) {
        std::shared_ptr<Connection> conn;
        {
            std::lock_guard<std::mutex> guard(c.lock);
            conn = c.conn;
        }
        if (!conn) {
            AwaitConnection(c, watch, quick);
            continue;
        }
        std::string buf;
        {
            std::lock_guard<std::mutex> guard(conn->sendLock);
            buf.swap(conn->unread);
        }
        bool ok = Consume(buf, ReaderResponse, nullptr);
        while (ok) {
            char chunk[8192];
            ssize_t n = ::recv(conn->fd, chunk, sizeof chunk, 0);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                break;
            }
            buf.append(chunk, static_cast<size_t>(n));
            ok = Consume(buf, ReaderResponse, nullptr);
        }
        Drop(conn); // a malformed frame or a lost connection
    }
}

void EnsureStarted()
{
    Client &c = TheClient();
    {
        std::lock_guard<std::mutex> guard(c.lock);
        if (c.started) {
            return;
        }
        c.started = true;
        std::thread dispatcher(DispatcherLoop);
        c.dispatcherId = dispatcher.get_id();
        dispatcher.detach();
    }
    TryConnect(c, SocketPath());
    std::thread(ReaderLoop).detach();
}

// Sends one request and waits for its response. S_OK with *resp filled, or
// kNotFound (disconnected, or the connection was lost) or kTimedOut (the
// connection is dropped).
HRESULT Request(uint16_t type, const FrameWriter &body, Message *resp)
{
    Client &c = TheClient();
    Pending p;
    p.type = type;
    std::shared_ptr<Connection> conn;
    uint32_t tag;
    {
        std::lock_guard<std::mutex> guard(c.lock);
        conn = c.conn;
        if (!conn) {
            return kNotFound;
        }
        tag = c.nextTag++;
        if (c.nextTag == 0) {
            c.nextTag = 1;
        }
        c.pending[tag] = &p;
    }
    bool sent = conn->send(body.finish(type, tag));
    std::unique_lock<std::mutex> lk(c.lock);
    bool answered = sent && c.cond.wait_for(lk, kRequestTimeout, [&] { return p.done || p.lost; });
    c.pending.erase(tag);
    if (p.done) {
        *resp = std::move(p.msg);
        return S_OK;
    }
    lk.unlock();
    Drop(conn);
    return answered || !sent ? kNotFound : kTimedOut; // lost, or no answer within the time
}

// ---- COM objects ----

template <class Derived> class RefCounted {
public:
    ULONG addRef() { return ++refs_; }
    ULONG release()
    {
        ULONG n = --refs_;
        if (n == 0) {
            delete static_cast<Derived *>(this);
        }
        return n;
    }

private:
    std::atomic<ULONG> refs_{1};
};

#define HBR_REFCOUNT_METHODS                                                                                           \
    ULONG AddRef() override { return addRef(); }                                                                       \
    ULONG Release() override { return release(); }

HRESULT Hand(IUnknown *obj, void **ppv)
{
    obj->AddRef();
    *ppv = obj;
    return S_OK;
}

HRESULT NoInterface(void **ppv)
{
    if (ppv) {
        *ppv = nullptr;
    }
    return ppv ? E_NOINTERFACE : E_POINTER;
}

// An object with one interface (and IUnknown).
template <class Derived, class Iface, const IID &Iid> class ComObject : public Iface, public RefCounted<Derived> {
public:
    HRESULT QueryInterface(REFIID riid, void **ppv) override
    {
        if (ppv && (IsEqualIID(riid, Iid) || IsEqualIID(riid, IID_IUnknown))) {
            return Hand(this, ppv);
        }
        return NoInterface(ppv);
    }
    ULONG AddRef() override { return this->addRef(); }
    ULONG Release() override { return this->release(); }
};

class MbnInterface final : public ComObject<MbnInterface, IMbnInterface, IID_IMbnInterface> {
public:
    explicit MbnInterface(std::string id) : id_(std::move(id)) {}
    HRESULT get_InterfaceID(BSTR *out) override
    {
        if (!out) {
            return E_POINTER;
        }
        *out = ToBstr(id_);
        return *out ? S_OK : E_OUTOFMEMORY;
    }

private:
    friend class RefCounted<MbnInterface>;
    ~MbnInterface() = default;
    const std::string id_;
};

class InterfaceManager final : public ComObject<InterfaceManager, IMbnInterfaceManager, IID_IMbnInterfaceManager> {
public:
    HRESULT GetInterfaces(SAFEARRAY **out) override
    {
        if (!out) {
            return E_POINTER;
        }
        *out = nullptr;
        Client &c = TheClient();
        std::vector<MbnInterface *> items;
        {
            std::lock_guard<std::mutex> guard(c.lock);
            if (!c.conn || c.present.empty()) {
                return kNotFound;
            }
            for (const std::string &id : c.present) {
                MbnInterface *&obj = c.interfaces[id];
                if (!obj) {
                    obj = new MbnInterface(id); // the client keeps this reference
                }
                obj->AddRef();
                items.push_back(obj);
            }
        }
        SAFEARRAY *a = hbr::NewPlatformArray(VT_UNKNOWN, static_cast<uint32_t>(items.size()));
        for (size_t i = 0; i < items.size(); ++i) {
            if (a) {
                LONG idx = static_cast<LONG>(i);
                SafeArrayPutElement(a, &idx, static_cast<IMbnInterface *>(items[i]));
            }
            items[i]->Release();
        }
        if (!a) {
            return E_OUTOFMEMORY;
        }
        *out = a;
        return S_OK;
    }

private:
    friend class RefCounted<InterfaceManager>;
    ~InterfaceManager() = default;
};

class DeviceService final : public ComObject<DeviceService, IMbnDeviceService, IID_IMbnDeviceService> {
public:
    DeviceService(std::string iface, std::string service) : iface_(std::move(iface)), service_(std::move(service)) {}
    HRESULT get_IsCommandSessionOpen(BOOL *value) override
    {
        if (!value) {
            return E_POINTER;
        }
        Message m;
        HRESULT hr = Request(kSessionState, ids(), &m);
        if (FAILED(hr)) {
            return hr;
        }
        *value = m.value != 0 ? TRUE : FALSE;
        return m.hr;
    }
    HRESULT OpenCommandSession(ULONG *requestID) override { return withRequestId(kOpenSession, ids(), requestID); }
    HRESULT CloseCommandSession(ULONG *requestID) override { return withRequestId(kCloseSession, ids(), requestID); }
    HRESULT SetCommand(ULONG commandID, SAFEARRAY *data, ULONG *requestID) override
    {
        if (!requestID) {
            return E_POINTER;
        }
        VARTYPE vt = VT_EMPTY;
        if (!data || FAILED(SafeArrayGetVartype(data, &vt)) || vt != VT_UI1 || data->cDims != 1) {
            return E_INVALIDARG;
        }
        size_t n = data->rgsabound[0].cElements;
        if (n > kMaxFrameLength - 64 - iface_.size() - service_.size()) {
            return E_INVALIDARG; // would not fit one frame
        }
        FrameWriter body = ids();
        body.u32(commandID).bytes(static_cast<const uint8_t *>(data->pvData), n);
        return withRequestId(kSetCommand, body, requestID);
    }

private:
    friend class RefCounted<DeviceService>;
    ~DeviceService() = default;
    FrameWriter ids() const
    {
        FrameWriter w;
        w.str(iface_).str(service_);
        return w;
    }
    HRESULT withRequestId(uint16_t type, const FrameWriter &body, ULONG *requestID)
    {
        if (!requestID) {
            return E_POINTER;
        }
        Message m;
        HRESULT hr = Request(type, body, &m);
        *requestID = SUCCEEDED(hr) ? m.value : 0;
        return FAILED(hr) ? hr : m.hr;
    }
    const std::string iface_;
    const std::string service_;
};

class DeviceServicesContext final : public ComObject<DeviceServicesContext, IMbnDeviceServicesContext, IID_IMbnDeviceServicesContext> {
public:
    explicit DeviceServicesContext(std::string iface) : iface_(std::move(iface)) {}
    HRESULT get_MaxCommandSize(ULONG *out) override
    {
        if (!out) {
            return E_POINTER;
        }
        Message m;
        HRESULT hr = Request(kOpenContext, FrameWriter().str(iface_), &m);
        if (FAILED(hr)) {
            return hr;
        }
        if (SUCCEEDED(m.hr)) {
            *out = m.value;
        }
        return m.hr;
    }
    HRESULT GetDeviceService(BSTR id, IMbnDeviceService **out) override
    {
        if (!out) {
            return E_POINTER;
        }
        *out = nullptr;
        std::string service = ToUtf8(id);
        Message m;
        HRESULT hr = Request(kGetService, FrameWriter().str(iface_).str(service), &m);
        if (FAILED(hr) || FAILED(m.hr)) {
            return FAILED(hr) ? hr : m.hr;
        }
        *out = new DeviceService(iface_, service);
        return m.hr;
    }

private:
    friend class RefCounted<DeviceServicesContext>;
    ~DeviceServicesContext() = default;
    const std::string iface_;
};

class ConnectionPoint final : public ComObject<ConnectionPoint, IConnectionPoint, IID_IConnectionPoint> {
public:
    HRESULT Advise(IUnknown *sink, DWORD *cookie) override
    {
        if (!sink || !cookie) {
            return E_POINTER;
        }
        IMbnDeviceServicesEvents *events = nullptr;
        if (FAILED(sink->QueryInterface(IID_IMbnDeviceServicesEvents, reinterpret_cast<void **>(&events))) ||
            !events) {
            return CONNECT_E_CANNOTCONNECT;
        }
        Client &c = TheClient();
        std::lock_guard<std::mutex> guard(c.lock);
        DWORD id = c.nextCookie++;
        if (c.nextCookie == 0) {
            c.nextCookie = 1;
        }
        c.advises[id] = Subscription{events, this};
        *cookie = id;
        return S_OK;
    }
    HRESULT Unadvise(DWORD cookie) override { return unadvise(cookie); }

private:
    friend class RefCounted<ConnectionPoint>;
    ~ConnectionPoint()
    {
        // The subscriptions end with the connection point.
        std::vector<DWORD> mine;
        {
            Client &c = TheClient();
            std::lock_guard<std::mutex> guard(c.lock);
            for (auto &a : c.advises) {
                if (a.second.owner == this) {
                    mine.push_back(a.first);
                }
            }
        }
        for (DWORD cookie : mine) {
            unadvise(cookie);
        }
    }
    HRESULT unadvise(DWORD cookie)
    {
        Client &c = TheClient();
        IMbnDeviceServicesEvents *sink;
        {
            std::unique_lock<std::mutex> lk(c.lock);
            auto it = c.advises.find(cookie);
            if (it == c.advises.end() || it->second.owner != this) {
                return CONNECT_E_NOCONNECTION;
            }
            sink = it->second.sink;
            c.advises.erase(it);
            // Every sink call runs on the dispatcher: from there, no other
            // sink's call can be running, and the sink's own call must not
            // wait for itself.
            if (std::this_thread::get_id() != c.dispatcherId) {
                c.cond.wait(lk, [&] { return c.calling != sink; });
            }
        }
        sink->Release();
        return S_OK;
    }
};

class DeviceServicesManager final : public IMbnDeviceServicesManager,
                                    public IConnectionPointContainer,
                                    public RefCounted<DeviceServicesManager> {
public:
    HRESULT QueryInterface(REFIID riid, void **ppv) override
    {
        if (ppv && (IsEqualIID(riid, IID_IMbnDeviceServicesManager) || IsEqualIID(riid, IID_IUnknown))) {
            return Hand(static_cast<IMbnDeviceServicesManager *>(this), ppv);
        }
        if (ppv && IsEqualIID(riid, IID_IConnectionPointContainer)) {
            return Hand(static_cast<IConnectionPointContainer *>(this), ppv);
        }
        return NoInterface(ppv);
    }
    HBR_REFCOUNT_METHODS
    HRESULT GetDeviceServicesContext(BSTR id, IMbnDeviceServicesContext **out) override
    {
        if (!out) {
            return E_POINTER;
        }
        *out = nullptr;
        std::string iface = ToUtf8(id);
        Message m;
        HRESULT hr = Request(kOpenContext, FrameWriter().str(iface), &m);
        if (FAILED(hr) || FAILED(m.hr)) {
            return FAILED(hr) ? hr : m.hr;
        }
        *out = new DeviceServicesContext(iface);
        return m.hr;
    }
    HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint **out) override
    {
        if (!out) {
            return E_POINTER;
        }
        *out = nullptr;
        if (!IsEqualIID(riid, IID_IMbnDeviceServicesEvents)) {
            return CONNECT_E_NOCONNECTION;
        }
        std::lock_guard<std::mutex> guard(cpLock_);
        if (!cp_) {
            cp_ = new ConnectionPoint;
        }
        cp_->AddRef();
        *out = cp_;
        return S_OK;
    }

private:
    friend class RefCounted<DeviceServicesManager>;
    ~DeviceServicesManager()
    {
        if (cp_) {
            cp_->Release();
        }
    }
    std::mutex cpLock_;
    ConnectionPoint *cp_ = nullptr;
};

IMbnDeviceService *NewDeviceService(const std::string &iface, const std::string &service)
{
    return new DeviceService(iface, service);
}

} // namespace

void hbr::ClearDeviceServiceFaults()
{
    Client &c = TheClient();
    std::lock_guard<std::mutex> guard(c.lock);
    c.faultActive = false;
}

extern "C" void hbrFaultSetCoCreateInstance(const GUID *clsid, HRESULT hr)
{
    Client &c = TheClient();
    std::lock_guard<std::mutex> guard(c.lock);
    c.faultActive = clsid != nullptr;
    if (clsid) {
        c.faultClsid = *clsid;
        c.faultHr = hr;
    }
}

extern "C" BOOL hbrDeviceServiceReconnect(void)
{
    EnsureStarted();
    Client &c = TheClient();
    std::lock_guard<std::mutex> guard(c.connectLock);
    std::shared_ptr<Connection> old;
    {
        std::lock_guard<std::mutex> g(c.lock);
        old = c.conn;
    }
    Drop(old);
    BOOL connected = TryConnectLocked(c, SocketPath()) == Attempt::Connected ? TRUE : FALSE;
    // The reader watches the way to the socket as the path is now.
    uint64_t one = 1;
    (void)!::write(c.wakeFd, &one, sizeof one);
    return connected;
}

extern "C" unsigned long hbrDeviceServiceAttemptCount(void) { return TheClient().attempts; }

extern "C" HRESULT WINAPI CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD, REFIID riid, LPVOID *ppv)
{
    if (!ppv) {
        return E_POINTER;
    }
    *ppv = nullptr;
    if (pUnkOuter) {
        return CLASS_E_NOAGGREGATION;
    }
    {
        Client &c = TheClient();
        std::lock_guard<std::mutex> guard(c.lock);
        if (c.faultActive && IsEqualCLSID(rclsid, c.faultClsid)) {
            return c.faultHr;
        }
    }
    IUnknown *obj;
    if (IsEqualCLSID(rclsid, CLSID_MbnInterfaceManager)) {
        obj = new InterfaceManager;
    } else if (IsEqualCLSID(rclsid, CLSID_MbnDeviceServicesManager)) {
        obj = static_cast<IMbnDeviceServicesManager *>(new DeviceServicesManager);
    } else {
        return REGDB_E_CLASSNOTREG;
    }
    EnsureStarted();
    HRESULT hr = obj->QueryInterface(riid, ppv);
    obj->Release();
    return hr;
}
