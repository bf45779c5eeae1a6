#include "device_service_server.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <list>
#include <mutex>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace hbrmodemsim {

const char kPrivateServiceId[] = "{6C3E91D0-5B27-4F8A-9E14-2D7A0B83C659}";
const char kDefaultInterfaceId[] = "{7A1F3C52-90D4-4E6B-8C2A-5B19E04D7F31}";

namespace {

constexpr uint32_t kMaxLength = 1u << 20; // the length field's limit
constexpr size_t kHeaderSize = 12;

// ---- encoder ----
struct Body {
    std::string b;
    Body &u32(uint32_t v)
    {
        for (int i = 0; i < 4; ++i) {
            b.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
        }
        return *this;
    }
    Body &i32(int32_t v) { return u32(static_cast<uint32_t>(v)); }
    Body &str(const std::string &s)
    {
        u32(static_cast<uint32_t>(s.size()));
        b += s;
        return *this;
    }
};

std::string Frame(uint16_t type, uint32_t tag, const Body &body)
{
    Body h;
    h.u32(static_cast<uint32_t>(8 + body.b.size()));
    h.b.push_back(static_cast<char>(type & 0xFF));
    h.b.push_back(static_cast<char>(type >> 8));
    h.b.push_back(0);
    h.b.push_back(0);
    h.u32(tag);
    return h.b + body.b;
}

// ---- decoder ----
struct Reader {
    const std::string &s;
    size_t pos;
    size_t end;
    bool ok = true;
    uint32_t u32()
    {
        if (!ok || end - pos < 4) {
            ok = false;
            return 0;
        }
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) {
            v |= static_cast<uint32_t>(static_cast<unsigned char>(s[pos + i])) << (8 * i);
        }
        pos += 4;
        return v;
    }
    std::string str()
    {
        uint32_t n = u32();
        if (!ok || end - pos < n) {
            ok = false;
            return std::string();
        }
        std::string v = s.substr(pos, n);
        pos += n;
        return v;
    }
};

struct Request {
    uint16_t type = 0;
    uint32_t tag = 0;
    std::string iface, service, data;
    uint32_t number = 0; // HELLO version, SET_COMMAND command id
};

enum class Decoded { Incomplete, Ok, Bad };

// One request frame from the front of `buf`; `used` is its size.
Decoded DecodeRequest(const std::string &buf, Request *req, size_t *used)
{
    if (buf.size() < 4) {
        return Decoded::Incomplete;
    }
    Reader hdr{buf, 0, buf.size()};
    uint32_t length = hdr.u32();
    if (length < 8 || length > kMaxLength) {
        return Decoded::Bad;
    }
    if (buf.size() < 4 + static_cast<size_t>(length)) {
        return Decoded::Incomplete;
    }
    req->type = static_cast<uint16_t>(static_cast<unsigned char>(buf[4]) |
                                      (static_cast<unsigned char>(buf[5]) << 8));
    Reader r{buf, 8, 4 + static_cast<size_t>(length)};
    req->tag = r.u32();
    switch (req->type) {
    case kDsHello:
        req->number = r.u32();
        break;
    case kDsListInterfaces:
        break;
    case kDsOpenContext:
        req->iface = r.str();
        break;
    case kDsGetService:
    case kDsSessionState:
    case kDsOpenSession:
    case kDsCloseSession:
        req->iface = r.str();
        req->service = r.str();
        break;
    case kDsSetCommand:
        req->iface = r.str();
        req->service = r.str();
        req->number = r.u32();
        req->data = r.str();
        break;
    default:
        return Decoded::Bad;
    }
    if (!r.ok) {
        return Decoded::Bad;
    }
    *used = 4 + static_cast<size_t>(length); // trailing body bytes are ignored
    return Decoded::Ok;
}

bool SameTextIgnoringCase(const std::string &a, const std::string &b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
        if (x != y) {
            return false;
        }
    }
    return true;
}

bool SendAll(int fd, const std::string &bytes)
{
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

using Clock = std::chrono::steady_clock;

} // namespace

struct Client {
    int fd = -1;
    std::mutex sendLock;
    std::thread thread;
    bool done = false; // guarded by Impl::lock
    bool send(const std::string &bytes)
    {
        std::lock_guard<std::mutex> guard(sendLock);
        if (!SendAll(fd, bytes)) {
            ::shutdown(fd, SHUT_RDWR); // its reader ends the connection
            return false;
        }
        return true;
    }
};

struct DeviceServiceServer::Impl {
    std::string path;
    std::string iface;
    AtHandler atHandler;

    mutable std::mutex lock;
    DeviceServiceFaults faults;
    Observer observer;
    RequestFaultHook requestFaultHook;
    bool running = false;
    bool present = false;
    bool session = false;
    uint32_t nextRequestId = 1;

    int listenFd = -1;
    int wakePipe[2] = {-1, -1};
    std::thread acceptThread;
    std::list<std::shared_ptr<Client>> clients;

    struct Delayed {
        Clock::time_point due;
        std::string frame;
    };
    std::vector<Delayed> delayed; // guarded by lock
    std::condition_variable delayedCond;
    bool schedulerStop = false;
    std::thread scheduler;

    void observe(DsExchange kind, const std::string &text)
    {
        Observer o;
        {
            std::lock_guard<std::mutex> guard(lock);
            o = observer;
        }
        if (o) {
            o(kind, text);
        }
    }

    void broadcast(const std::string &frame)
    {
        std::vector<std::shared_ptr<Client>> targets;
        {
            std::lock_guard<std::mutex> guard(lock);
            targets.assign(clients.begin(), clients.end());
        }
        for (auto &c : targets) {
            c->send(frame);
        }
    }

    void sendInterfaceState(uint32_t state)
    {
        broadcast(Frame(kDsInterfaceState, 0, Body().str(iface).u32(state)));
        observe(DsExchange::InterfaceState, state == 0 ? "arrival" : "removal");
    }

    void acceptLoop();
    void clientLoop(const std::shared_ptr<Client> &client);
    void schedulerLoop();
    void handle(Client &client, const Request &req);
};

void DeviceServiceServer::Impl::acceptLoop()
{
    for (;;) {
        pollfd fds[2] = {{listenFd, POLLIN, 0}, {wakePipe[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (fds[1].revents != 0) {
            return;
        }
        int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        auto client = std::make_shared<Client>();
        client->fd = fd;
        std::vector<std::shared_ptr<Client>> finished;
        {
            std::lock_guard<std::mutex> guard(lock);
            for (auto it = clients.begin(); it != clients.end();) {
                if ((*it)->done) {
                    finished.push_back(*it);
                    it = clients.erase(it);
                } else {
                    ++it;
                }
            }
            clients.push_back(client);
        }
        for (auto &f : finished) {
            f->thread.join();
            ::close(f->fd);
        }
        client->thread = std::thread([this, client] { clientLoop(client); });
    }
}

void DeviceServiceServer::Impl::clientLoop(const std::shared_ptr<Client> &client)
{
    std::string buf;
    char chunk[4096];
    for (;;) {
        ssize_t n = ::recv(client->fd, chunk, sizeof chunk, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        buf.append(chunk, static_cast<size_t>(n));
        Decoded d;
        for (;;) {
            Request req;
            size_t used = 0;
            d = DecodeRequest(buf, &req, &used);
            if (d != Decoded::Ok) {
                break;
            }
            buf.erase(0, used);
            handle(*client, req);
        }
        if (d == Decoded::Bad) {
            break; // a malformed frame closes the connection
        }
    }
    ::shutdown(client->fd, SHUT_RDWR);
    std::lock_guard<std::mutex> guard(lock);
    client->done = true;
}

void DeviceServiceServer::Impl::schedulerLoop()
{
    std::unique_lock<std::mutex> guard(lock);
    for (;;) {
        if (schedulerStop) {
            return;
        }
        if (delayed.empty()) {
            delayedCond.wait(guard);
            continue;
        }
        auto first = std::min_element(delayed.begin(), delayed.end(),
                                      [](const Delayed &a, const Delayed &b) { return a.due < b.due; });
        if (Clock::now() < first->due) {
            delayedCond.wait_until(guard, first->due);
            continue;
        }
        std::string frame = first->frame;
        delayed.erase(first);
        guard.unlock();
        broadcast(frame);
        guard.lock();
    }
}

void DeviceServiceServer::Impl::handle(Client &client, const Request &req)
{
    DeviceServiceFaults f;
    bool known;
    RequestFaultHook hook;
    {
        std::lock_guard<std::mutex> guard(lock);
        f = faults;
        known = present && req.iface == iface;
        hook = requestFaultHook;
    }
    if (hook) {
        hook(req.type, req.type == kDsSetCommand && req.number == 1 ? req.data : std::string(), f);
    }
    bool serviceKnown = known && !f.privateServiceAbsent && SameTextIgnoringCase(req.service, kPrivateServiceId);
    auto over = f.responseHr.find(req.type);
    bool refuse = over != f.responseHr.end() && over->second < 0 && over->second != kDsPending;
    bool pending = over != f.responseHr.end() && over->second == kDsPending;
    const uint16_t rtype = static_cast<uint16_t>(req.type | 0x80);
    auto respond = [&](Body b) { client.send(Frame(rtype, req.tag, b)); };
    auto okHr = [&](int32_t hr) { return hr == kDsOk && pending ? kDsPending : hr; };
    if (refuse) {
        Body b;
        b.i32(over->second);
        switch (req.type) {
        case kDsGetService:
            break;
        case kDsHello:
        case kDsListInterfaces:
        case kDsOpenContext:
        case kDsSessionState:
        case kDsOpenSession:
        case kDsCloseSession:
        case kDsSetCommand:
            b.u32(0);
            break;
        }
        respond(b);
        return;
    }

    switch (req.type) {
    case kDsHello:
        respond(Body().i32(okHr(kDsOk)).u32(1));
        return;
    case kDsListInterfaces: {
        bool p;
        {
            std::lock_guard<std::mutex> guard(lock);
            p = present;
        }
        Body b;
        b.i32(okHr(kDsOk)).u32(p ? 1 : 0);
        if (p) {
            b.str(iface);
        }
        respond(b);
        return;
    }
    case kDsOpenContext:
        if (!known) {
            respond(Body().i32(kDsNotFound).u32(0));
        } else {
            respond(Body().i32(okHr(kDsOk)).u32(f.maxCommandSize));
        }
        return;
    case kDsGetService:
        respond(Body().i32(serviceKnown ? okHr(kDsOk) : kDsNotFound));
        return;
    case kDsSessionState: {
        bool open;
        {
            std::lock_guard<std::mutex> guard(lock);
            open = session;
        }
        if (!serviceKnown) {
            respond(Body().i32(kDsNotFound).u32(0));
        } else {
            respond(Body().i32(okHr(kDsOk)).u32(open ? 1 : 0));
        }
        return;
    }
    default:
        break;
    }

    // Requests that a completion follows.
    if (!serviceKnown) {
        respond(Body().i32(kDsNotFound).u32(0));
        return;
    }
    int32_t hr = kDsOk;
    std::string completion;
    const CompletionFault *cf = nullptr;
    uint32_t requestId = 0;
    std::string command, reply;
    if (req.type == kDsSetCommand) {
        bool open;
        {
            std::lock_guard<std::mutex> guard(lock);
            open = session;
        }
        if (!open) {
            hr = kDsInvalidState;
        } else if (req.data.size() > f.maxCommandSize) {
            hr = kDsInvalidArg;
        }
    }
    if (hr == kDsOk) {
        {
            std::lock_guard<std::mutex> guard(lock);
            requestId = nextRequestId++;
            if (nextRequestId == 0) {
                nextRequestId = 1;
            }
            if (req.type == kDsOpenSession) {
                session = true;
            } else if (req.type == kDsCloseSession) {
                session = false;
            }
        }
        if (req.type == kDsSetCommand) {
            cf = &f.setCommand;
            uint32_t responseId = req.number;
            int32_t status = kDsOk;
            std::string data;
            if (req.number == 1) {
                command = req.data;
                observe(DsExchange::Command, command);
                reply = atHandler ? atHandler(command) : std::string();
                observe(DsExchange::Reply, reply);
                data = encodePayload(reply, f.replyForm);
            } else {
                status = kDsNotImpl;
            }
            if (cf->replaceResponseId) {
                responseId = cf->responseId;
            }
            if (cf->replaceStatus) {
                status = cf->status;
            }
            completion = Frame(kDsSetCommandComplete, 0,
                               Body().str(req.iface).str(req.service).u32(responseId).i32(status)
                                   .u32(requestId).str(data));
        } else {
            bool open = req.type == kDsOpenSession;
            cf = open ? &f.openSession : &f.closeSession;
            observe(open ? DsExchange::SessionOpen : DsExchange::SessionClose, req.iface);
            completion = Frame(open ? kDsOpenSessionComplete : kDsCloseSessionComplete, 0,
                               Body().str(req.iface).str(req.service)
                                   .i32(cf->replaceStatus ? cf->status : kDsOk).u32(requestId));
        }
    }
    Body response;
    response.i32(okHr(hr)).u32(requestId);
    if (!cf) {
        respond(response);
        return;
    }
    switch (cf->timing) {
    case CompletionTiming::AfterResponse:
        respond(response);
        broadcast(completion);
        break;
    case CompletionTiming::BeforeResponse:
        broadcast(completion);
        respond(response);
        break;
    case CompletionTiming::Never:
        respond(response);
        break;
    case CompletionTiming::Delayed:
        respond(response);
        {
            std::lock_guard<std::mutex> guard(lock);
            delayed.push_back({Clock::now() + std::chrono::milliseconds(cf->delayMs), completion});
        }
        delayedCond.notify_all();
        break;
    }
}

DeviceServiceServer::DeviceServiceServer(std::string socketPath, AtHandler atHandler, std::string interfaceId)
    : path_(std::move(socketPath)), interfaceId_(std::move(interfaceId)), impl_(std::make_shared<Impl>())
{
    impl_->path = path_;
    impl_->iface = interfaceId_;
    impl_->atHandler = std::move(atHandler);
}

DeviceServiceServer::~DeviceServiceServer() { stop(); }

bool DeviceServiceServer::start(std::string *error)
{
    Impl &m = *impl_;
    auto fail = [&](const std::string &why) {
        if (error) {
            *error = why;
        }
        if (m.listenFd >= 0) {
            ::close(m.listenFd);
            m.listenFd = -1;
        }
        return false;
    };
    if (running()) {
        return true;
    }
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path_.empty() || path_.size() >= sizeof addr.sun_path) {
        return fail("socket path is empty or longer than " + std::to_string(sizeof addr.sun_path - 1) +
                    " bytes: " + path_);
    }
    std::memcpy(addr.sun_path, path_.c_str(), path_.size() + 1);
    m.listenFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m.listenFd < 0) {
        return fail(std::string("socket: ") + std::strerror(errno));
    }
    ::unlink(path_.c_str());
    if (::bind(m.listenFd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
        ::listen(m.listenFd, 16) != 0) {
        return fail(std::string("bind ") + path_ + ": " + std::strerror(errno));
    }
    if (::pipe2(m.wakePipe, O_CLOEXEC) != 0) {
        return fail(std::string("pipe: ") + std::strerror(errno));
    }
    {
        std::lock_guard<std::mutex> guard(m.lock);
        m.running = true;
        m.present = true;
        m.session = m.faults.sessionOpenAtStart;
        m.schedulerStop = false;
        m.delayed.clear();
    }
    m.scheduler = std::thread([&m] { m.schedulerLoop(); });
    m.acceptThread = std::thread([&m] { m.acceptLoop(); });
    return true;
}

void DeviceServiceServer::stop()
{
    Impl &m = *impl_;
    {
        std::lock_guard<std::mutex> guard(m.lock);
        if (!m.running) {
            return;
        }
        m.running = false;
        m.schedulerStop = true;
        m.delayed.clear();
    }
    m.delayedCond.notify_all();
    ssize_t w = ::write(m.wakePipe[1], "x", 1);
    (void)w;
    m.acceptThread.join();
    m.scheduler.join();
    std::list<std::shared_ptr<Client>> clients;
    {
        std::lock_guard<std::mutex> guard(m.lock);
        clients.swap(m.clients);
    }
    for (auto &c : clients) {
        ::shutdown(c->fd, SHUT_RDWR);
    }
    for (auto &c : clients) {
        c->thread.join();
        ::close(c->fd);
    }
    ::close(m.listenFd);
    ::close(m.wakePipe[0]);
    ::close(m.wakePipe[1]);
    m.listenFd = m.wakePipe[0] = m.wakePipe[1] = -1;
    ::unlink(path_.c_str());
}

bool DeviceServiceServer::running() const
{
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->running;
}

void DeviceServiceServer::setFaults(const DeviceServiceFaults &faults)
{
    std::lock_guard<std::mutex> guard(impl_->lock);
    impl_->faults = faults;
    if (faults.sessionOpenAtStart && impl_->present) {
        impl_->session = true;
    }
}

DeviceServiceFaults DeviceServiceServer::faults() const
{
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->faults;
}

void DeviceServiceServer::setRequestFaultHook(RequestFaultHook hook)
{
    std::lock_guard<std::mutex> guard(impl_->lock);
    impl_->requestFaultHook = std::move(hook);
}

void DeviceServiceServer::setObserver(Observer observer)
{
    std::lock_guard<std::mutex> guard(impl_->lock);
    impl_->observer = std::move(observer);
}

std::string DeviceServiceServer::encodePayload(const std::string &text, PayloadForm form)
{
    if (form == PayloadForm::Plain) {
        return text;
    }
    std::string t = text;
    if (form == PayloadForm::NulInside) {
        t.insert(t.size() / 2, 1, '\0');
    }
    return Body().str(t).b;
}

void DeviceServiceServer::notify(uint32_t eventId, const std::string &text, PayloadForm form)
{
    impl_->observe(DsExchange::Notification, text);
    impl_->broadcast(Frame(kDsEventNotification, 0,
                           Body().str(interfaceId_).str(kPrivateServiceId).u32(eventId)
                               .str(encodePayload(text, form))));
}

bool DeviceServiceServer::flood(uint32_t count, size_t textBytes)
{
    if (textBytes > kMaxLength) {
        return false;
    }
    const std::string frame =
        Frame(kDsEventNotification, 0,
              Body().str(interfaceId_).str(kPrivateServiceId).u32(1).str(encodePayload(std::string(textBytes, 'x'),
                                                                                        PayloadForm::Prefixed)));
    if (frame.size() - 4 > kMaxLength) {
        return false;
    }
    for (uint32_t i = 0; i < count; ++i) {
        impl_->broadcast(frame);
    }
    return true;
}

void DeviceServiceServer::removeInterface()
{
    {
        std::lock_guard<std::mutex> guard(impl_->lock);
        impl_->present = false;
        impl_->session = false;
        impl_->delayed.clear(); // every pending completion is this interface's
    }
    impl_->sendInterfaceState(1);
}

void DeviceServiceServer::arriveInterface()
{
    {
        std::lock_guard<std::mutex> guard(impl_->lock);
        if (!impl_->present) {
            impl_->session = impl_->faults.sessionOpenAtStart;
        }
        impl_->present = true;
    }
    impl_->sendInterfaceState(0);
}

bool DeviceServiceServer::interfacePresent() const
{
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->present;
}

bool DeviceServiceServer::sessionOpen() const
{
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->session;
}

size_t DeviceServiceServer::clientCount() const
{
    std::lock_guard<std::mutex> guard(impl_->lock);
    size_t n = 0;
    for (auto &c : impl_->clients) {
        n += c->done ? 0 : 1;
    }
    return n;
}

} // namespace hbrmodemsim
