// The platform's Mobile Broadband objects against the simulator's real
// device-service server, in-process; a bare socket peer stands in for a
// module that misbehaves on the wire.
#include <gtest/gtest.h>

#include <mbnapi.h>
#include <hbr_platform_fault.h>

#include "device_service_server.h"
#include "mbn_test_frames.h"
#include "test_support.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include <signal.h>
#include <sys/stat.h>

namespace {

using hbrmodemsim::CompletionTiming;
using hbrmodemsim::DeviceServiceFaults;
using hbrmodemsim::DeviceServiceServer;
using hbrmodemsim::PayloadForm;
using hbrtest::WaitUntil;
using namespace mbntest;

const HRESULT kNotFound = HRESULT_FROM_WIN32(ERROR_NOT_FOUND);

std::string Narrow(BSTR b)
{
    std::string out;
    for (UINT i = 0; i < SysStringLen(b); ++i) {
        out.push_back(static_cast<char>(b[i]));
    }
    return out;
}

std::string ArrayBytes(SAFEARRAY *a)
{
    return a ? std::string(static_cast<const char *>(a->pvData), a->rgsabound[0].cElements) : std::string();
}

BSTR Wide(const std::string &s)
{
    std::u16string w(s.begin(), s.end());
    return SysAllocString(w.c_str());
}

// A sink that, like the agent's, answers only IID_IMbnDeviceServicesEvents.
class RecordingSink final : public IMbnDeviceServicesEvents {
public:
    struct Call {
        std::string what;
        std::string text; // interface id, or the data bytes
        ULONG a = 0;      // state, event id or response id
        ULONG requestId = 0;
        HRESULT status = 0;
        std::thread::id thread;
    };

    HRESULT QueryInterface(REFIID riid, void **ppv) override
    {
        if (refuseAll_ || !IsEqualIID(riid, IID_IMbnDeviceServicesEvents)) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        *ppv = static_cast<IMbnDeviceServicesEvents *>(this);
        return S_OK;
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override { return --refs_; } // lives on the test's stack
    ULONG refs() const { return refs_; }

    HRESULT OnQuerySupportedCommandsComplete(IMbnDeviceService *, SAFEARRAY *, HRESULT, ULONG) override { return S_OK; }
    HRESULT OnOpenCommandSessionComplete(IMbnDeviceService *svc, HRESULT status, ULONG id) override
    {
        return record("open", svc, "", 0, status, id);
    }
    HRESULT OnCloseCommandSessionComplete(IMbnDeviceService *svc, HRESULT status, ULONG id) override
    {
        return record("close", svc, "", 0, status, id);
    }
    HRESULT OnSetCommandComplete(IMbnDeviceService *svc, ULONG responseId, SAFEARRAY *data, HRESULT status,
                                 ULONG id) override
    {
        return record("set", svc, ArrayBytes(data), responseId, status, id);
    }
    HRESULT OnQueryCommandComplete(IMbnDeviceService *, ULONG, SAFEARRAY *, HRESULT, ULONG) override { return S_OK; }
    HRESULT OnEventNotification(IMbnDeviceService *svc, ULONG eventId, SAFEARRAY *data) override
    {
        inCallback_ = true;
        if (onEvent_) {
            onEvent_();
        }
        record("event", svc, ArrayBytes(data), eventId, 0, 0);
        inCallback_ = false;
        return S_OK;
    }
    HRESULT OnOpenDataSessionComplete(IMbnDeviceService *, HRESULT, ULONG) override { return S_OK; }
    HRESULT OnCloseDataSessionComplete(IMbnDeviceService *, HRESULT, ULONG) override { return S_OK; }
    HRESULT OnWriteDataComplete(IMbnDeviceService *, HRESULT, ULONG) override { return S_OK; }
    HRESULT OnReadData(IMbnDeviceService *, SAFEARRAY *) override { return S_OK; }
    HRESULT OnInterfaceStateChange(BSTR id, MBN_DEVICE_SERVICES_INTERFACE_STATE state) override
    {
        return record("state", nullptr, Narrow(id), state, 0, 0);
    }

    std::vector<Call> calls()
    {
        std::lock_guard<std::mutex> guard(lock_);
        return calls_;
    }
    size_t count(const std::string &what)
    {
        size_t n = 0;
        for (auto &c : calls()) {
            n += c.what == what ? 1 : 0;
        }
        return n;
    }
    bool waitFor(const std::string &what, size_t n = 1, int ms = 3000)
    {
        return WaitUntil([&] { return count(what) >= n; }, ms);
    }

    bool refuseAll_ = false;
    std::function<void()> onEvent_;
    std::atomic<bool> inCallback_{false};
    std::atomic<bool> nullService_{false};

private:
    HRESULT record(const char *what, IMbnDeviceService *svc, const std::string &text, ULONG a, HRESULT status,
                   ULONG id)
    {
        if (!svc && std::string(what) != "state") {
            nullService_ = true;
        }
        std::lock_guard<std::mutex> guard(lock_);
        calls_.push_back({what, text, a, id, status, std::this_thread::get_id()});
        return S_OK;
    }
    std::atomic<ULONG> refs_{1};
    std::mutex lock_;
    std::vector<Call> calls_;
};

template <class T> void ReleaseAll(std::initializer_list<T *> items)
{
    for (T *p : items) {
        if (p) {
            p->Release();
        }
    }
}

class MbnClient : public ::testing::Test {
protected:
    void SetUp() override
    {
        server_.reset(new DeviceServiceServer(dir_ / "mbn.sock", [this](const std::string &cmd) {
            {
                std::lock_guard<std::mutex> guard(lock_);
                commands_.push_back(cmd);
            }
            if (handlerDelayMs_ > 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(handlerDelayMs_));
            }
            return "\r\nOK\r\n" + cmd;
        }, "IF0"));
        ASSERT_TRUE(server_->start());
        ASSERT_TRUE(hbrDeviceServiceReconnect());
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_MbnDeviceServicesManager, nullptr, CLSCTX_ALL,
                                         IID_IMbnDeviceServicesManager, reinterpret_cast<void **>(&manager_)));
        IConnectionPointContainer *container = nullptr;
        ASSERT_EQ(S_OK, manager_->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void **>(&container)));
        ASSERT_EQ(S_OK, container->FindConnectionPoint(IID_IMbnDeviceServicesEvents, &cp_));
        container->Release();
    }
    void TearDown() override
    {
        if (cookie_ != 0) {
            cp_->Unadvise(cookie_);
        }
        ReleaseAll<IUnknown>({service_, context_, cp_, manager_});
        hbrFaultClearAll();
    }
    void advise()
    {
        ASSERT_EQ(S_OK, cp_->Advise(&sink_, &cookie_));
        ASSERT_NE(0u, cookie_);
    }
    // The private service of IF0 with its session open.
    void openService()
    {
        BSTR id = Wide("IF0");
        ASSERT_EQ(S_OK, manager_->GetDeviceServicesContext(id, &context_));
        SysFreeString(id);
        BSTR svc = Wide(hbrmodemsim::kPrivateServiceId);
        ASSERT_EQ(S_OK, context_->GetDeviceService(svc, &service_));
        SysFreeString(svc);
        ULONG requestId = 0;
        ASSERT_EQ(S_OK, service_->OpenCommandSession(&requestId));
        ASSERT_NE(0u, requestId);
    }
    HRESULT setCommand(const std::string &text, ULONG *requestId)
    {
        SAFEARRAY *a = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(text.size()));
        std::memcpy(a->pvData, text.data(), text.size());
        HRESULT hr = service_->SetCommand(1, a, requestId);
        SafeArrayDestroy(a);
        return hr;
    }
    std::vector<std::string> commands()
    {
        std::lock_guard<std::mutex> guard(lock_);
        return commands_;
    }

    hbrtest::TempDir dir_;
    hbrtest::ScopedEnv env_{"HBR_MBN_SOCKET", (dir_ / "mbn.sock").c_str()};
    std::unique_ptr<DeviceServiceServer> server_;
    std::mutex lock_;
    std::vector<std::string> commands_;
    std::atomic<int> handlerDelayMs_{0};
    IMbnDeviceServicesManager *manager_ = nullptr;
    IConnectionPoint *cp_ = nullptr;
    IMbnDeviceServicesContext *context_ = nullptr;
    IMbnDeviceService *service_ = nullptr;
    RecordingSink sink_;
    DWORD cookie_ = 0;
};

TEST_F(MbnClient, ClassCreationAndInterfaceLists)
{
    void *p = reinterpret_cast<void *>(1);
    EXPECT_EQ(REGDB_E_CLASSNOTREG, CoCreateInstance(IID_IUnknown, nullptr, CLSCTX_ALL, IID_IUnknown, &p));
    EXPECT_EQ(nullptr, p);
    EXPECT_EQ(E_NOINTERFACE, CoCreateInstance(CLSID_MbnInterfaceManager, nullptr, CLSCTX_ALL,
                                              IID_IMbnDeviceServicesManager, &p));
    EXPECT_EQ(CLASS_E_NOAGGREGATION, CoCreateInstance(CLSID_MbnInterfaceManager, manager_, CLSCTX_ALL,
                                                      IID_IMbnInterfaceManager, &p));
    EXPECT_EQ(E_POINTER, CoCreateInstance(CLSID_MbnInterfaceManager, nullptr, CLSCTX_ALL,
                                          IID_IMbnInterfaceManager, nullptr));
    hbrFaultSetCoCreateInstance(&CLSID_MbnInterfaceManager, E_OUTOFMEMORY);
    EXPECT_EQ(E_OUTOFMEMORY, CoCreateInstance(CLSID_MbnInterfaceManager, nullptr, CLSCTX_ALL,
                                              IID_IMbnInterfaceManager, &p));
    hbrFaultClearAll();

    IMbnInterfaceManager *im = nullptr;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_MbnInterfaceManager, nullptr, CLSCTX_ALL, IID_IMbnInterfaceManager,
                                     reinterpret_cast<void **>(&im)));
    // One interface, lower bound 0; the same object on every call.
    IUnknown *first[2] = {};
    for (IUnknown *&item : first) {
        SAFEARRAY *list = nullptr;
        ASSERT_EQ(S_OK, im->GetInterfaces(&list));
        LONG lo = -1, hi = -1;
        SafeArrayGetLBound(list, 1, &lo);
        SafeArrayGetUBound(list, 1, &hi);
        EXPECT_EQ(0, lo);
        EXPECT_EQ(0, hi);
        LONG idx = 0;
        ASSERT_EQ(S_OK, SafeArrayGetElement(list, &idx, &item));
        SafeArrayDestroy(list);
    }
    EXPECT_EQ(first[0], first[1]);
    IMbnInterface *iface = nullptr;
    ASSERT_EQ(S_OK, first[0]->QueryInterface(IID_IMbnInterface, reinterpret_cast<void **>(&iface)));
    BSTR id = nullptr;
    ASSERT_EQ(S_OK, iface->get_InterfaceID(&id));
    EXPECT_EQ("IF0", Narrow(id));
    SysFreeString(id);
    ReleaseAll<IUnknown>({iface, first[0], first[1]});

    // No interface, then no connection: not found, and no array.
    SAFEARRAY *list = nullptr;
    auto lists = [&](HRESULT want) {
        return WaitUntil([&] {
            list = reinterpret_cast<SAFEARRAY *>(1);
            HRESULT hr = im->GetInterfaces(&list);
            if (hr == S_OK) {
                SafeArrayDestroy(list);
            }
            return hr == want;
        }, 3000);
    };
    server_->removeInterface();
    EXPECT_TRUE(lists(kNotFound));
    EXPECT_EQ(nullptr, list);
    server_->arriveInterface();
    EXPECT_TRUE(lists(S_OK));
    server_->stop();
    EXPECT_TRUE(lists(kNotFound));
    EXPECT_EQ(nullptr, list);
    im->Release();
}

TEST_F(MbnClient, CommandsAndCompletionsRunOnTheDispatcher)
{
    advise();
    openService();
    ASSERT_TRUE(sink_.waitFor("open"));
    ULONG requestId = 0;
    ASSERT_EQ(S_OK, setCommand("AT+X=1\r\n", &requestId));
    ASSERT_TRUE(sink_.waitFor("set"));
    EXPECT_EQ(std::vector<std::string>{"AT+X=1\r\n"}, commands());
    auto calls = sink_.calls();
    const RecordingSink::Call &set = calls.back();
    EXPECT_EQ(requestId, set.requestId);
    EXPECT_EQ(1u, set.a);
    EXPECT_EQ(S_OK, set.status);
    EXPECT_EQ(DeviceServiceServer::encodePayload("\r\nOK\r\nAT+X=1\r\n", PayloadForm::Prefixed), set.text);
    EXPECT_NE(std::this_thread::get_id(), set.thread);
    EXPECT_EQ(calls.front().thread, set.thread); // one dispatcher thread
    EXPECT_FALSE(sink_.nullService_);

    // A completion sent before its response still reaches the sink, in the
    // module's order.
    DeviceServiceFaults f;
    f.setCommand.timing = CompletionTiming::BeforeResponse;
    f.setCommand.replaceStatus = true;
    f.setCommand.status = static_cast<int32_t>(E_FAIL);
    f.responseHr[hbrmodemsim::kDsSetCommand] = static_cast<int32_t>(E_PENDING);
    server_->setFaults(f);
    ULONG second = 0;
    EXPECT_EQ(E_PENDING, setCommand("AT+Y\r", &second));
    ASSERT_TRUE(sink_.waitFor("set", 2));
    EXPECT_EQ(second, sink_.calls().back().requestId);
    EXPECT_EQ(E_FAIL, sink_.calls().back().status);
    EXPECT_LT(requestId, second);

    // A refused request: its hr, request id 0, no completion.
    f = DeviceServiceFaults();
    f.responseHr[hbrmodemsim::kDsSetCommand] = static_cast<int32_t>(E_FAIL);
    server_->setFaults(f);
    ULONG third = 99;
    EXPECT_EQ(E_FAIL, setCommand("AT\r", &third));
    EXPECT_EQ(0u, third);
    // Other element types are refused before anything is sent.
    SAFEARRAY *unk = SafeArrayCreateVector(VT_UNKNOWN, 0, 1);
    EXPECT_EQ(E_INVALIDARG, service_->SetCommand(1, unk, &third));
    SafeArrayDestroy(unk);
    EXPECT_EQ(E_INVALIDARG, service_->SetCommand(1, nullptr, &third));

    BOOL open = FALSE;
    EXPECT_EQ(S_OK, service_->get_IsCommandSessionOpen(&open));
    EXPECT_TRUE(open);
    ULONG max = 0;
    EXPECT_EQ(S_OK, context_->get_MaxCommandSize(&max));
    EXPECT_EQ(4096u, max);
    ULONG closeId = 0;
    EXPECT_EQ(S_OK, service_->CloseCommandSession(&closeId));
    ASSERT_TRUE(sink_.waitFor("close"));
    EXPECT_EQ(closeId, sink_.calls().back().requestId);

    // Unknown ids, and everything while disconnected: not found.
    IMbnDeviceService *none = nullptr;
    BSTR other = Wide("{00000000-0000-0000-0000-000000000000}");
    EXPECT_EQ(kNotFound, context_->GetDeviceService(other, &none));
    EXPECT_EQ(nullptr, none);
    IMbnDeviceServicesContext *ctx = nullptr;
    EXPECT_EQ(kNotFound, manager_->GetDeviceServicesContext(other, &ctx));
    SysFreeString(other);
    server_->stop();
    ASSERT_TRUE(sink_.waitFor("state"));
    EXPECT_EQ(kNotFound, service_->get_IsCommandSessionOpen(&open));
    EXPECT_EQ(kNotFound, setCommand("AT\r", &third));
}

TEST_F(MbnClient, AdviseAndUnadviseRules)
{
    RecordingSink refusing;
    refusing.refuseAll_ = true;
    DWORD cookie = 0;
    EXPECT_EQ(CONNECT_E_CANNOTCONNECT, cp_->Advise(&refusing, &cookie));
    EXPECT_EQ(1u, refusing.refs());
    IConnectionPointContainer *container = nullptr;
    manager_->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void **>(&container));
    IConnectionPoint *other = reinterpret_cast<IConnectionPoint *>(1);
    EXPECT_EQ(CONNECT_E_NOCONNECTION, container->FindConnectionPoint(IID_IMbnInterfaceManagerEvents, &other));
    EXPECT_EQ(nullptr, other);
    container->Release();

    // The sink refuses IUnknown, yet Advise takes it; the connection point
    // holds one reference until Unadvise.
    advise();
    EXPECT_EQ(2u, sink_.refs());
    RecordingSink second;
    DWORD secondCookie = 0;
    ASSERT_EQ(S_OK, cp_->Advise(&second, &secondCookie));
    EXPECT_NE(cookie_, secondCookie);
    EXPECT_EQ(CONNECT_E_NOCONNECTION, cp_->Unadvise(secondCookie + 1000));

    // The subscription outlives the manager. Every sink gets every event.
    manager_->Release();
    manager_ = nullptr;
    server_->notify(1, "one");
    ASSERT_TRUE(sink_.waitFor("event"));
    ASSERT_TRUE(second.waitFor("event"));

    // Unadvise waits for a callback that runs, and nothing follows it.
    std::atomic<bool> finished{false};
    sink_.onEvent_ = [&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        finished = true;
    };
    server_->notify(1, "two");
    ASSERT_TRUE(WaitUntil([&] { return sink_.inCallback_.load(); }, 3000));
    EXPECT_EQ(S_OK, cp_->Unadvise(cookie_));
    EXPECT_TRUE(finished);
    EXPECT_EQ(1u, sink_.refs());
    cookie_ = 0;
    size_t seen = sink_.count("event");
    server_->notify(1, "three");
    ASSERT_TRUE(second.waitFor("event", 3));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(seen, sink_.count("event"));

    // A sink may unadvise itself from its own callback.
    std::atomic<HRESULT> selfHr{E_FAIL};
    second.onEvent_ = [&] { selfHr = cp_->Unadvise(secondCookie); };
    server_->notify(1, "four");
    ASSERT_TRUE(second.waitFor("event", 4));
    EXPECT_EQ(S_OK, selfHr.load());
    EXPECT_TRUE(WaitUntil([&] { return second.refs() == 1; }, 3000));
}

TEST_F(MbnClient, InterfaceStateChanges)
{
    advise();
    // Present before the sink came: not reported.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(0u, sink_.count("state"));

    server_->removeInterface();
    server_->removeInterface(); // no change: not reported
    server_->arriveInterface();
    ASSERT_TRUE(sink_.waitFor("state", 2));
    // A server stop is a removal, its restart an arrival.
    server_->stop();
    ASSERT_TRUE(sink_.waitFor("state", 3));
    ASSERT_TRUE(server_->start());
    ASSERT_TRUE(sink_.waitFor("state", 4, 5000));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::vector<std::pair<std::string, ULONG>> seen;
    for (auto &c : sink_.calls()) {
        seen.emplace_back(c.text, c.a);
    }
    EXPECT_EQ((std::vector<std::pair<std::string, ULONG>>{{"IF0", 1}, {"IF0", 0}, {"IF0", 1}, {"IF0", 0}}), seen);
}

// Disconnected, the client sleeps on the way to the socket: no attempts
// while nothing changes there, and a server started later in a folder that
// did not exist yet is joined before the 5 s safety retry could come round.
TEST_F(MbnClient, DisconnectedClientWaitsForTheSocket)
{
    advise();
    server_->stop();
    ASSERT_TRUE(sink_.waitFor("state")); // IF0 gone
    std::string folder = dir_ / "later";
    hbrtest::ScopedEnv env("HBR_MBN_SOCKET", (folder + "/mbn.sock").c_str());
    ASSERT_FALSE(hbrDeviceServiceReconnect()); // the client now watches for the new path
    // The reader's own attempts (after the drop, and on the wake-up for the
    // new path) may come late on a loaded machine; let them pass first.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    unsigned long before = hbrDeviceServiceAttemptCount();
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    EXPECT_LE(hbrDeviceServiceAttemptCount() - before, 1u);

    ASSERT_EQ(0, ::mkdir(folder.c_str(), 0700));
    DeviceServiceServer later(folder + "/mbn.sock", [](const std::string &cmd) { return cmd; }, "IF1");
    ASSERT_TRUE(later.start());
    ASSERT_TRUE(sink_.waitFor("state", 2, 2500));
    EXPECT_EQ("IF1", sink_.calls().back().text);
    EXPECT_EQ(0u, sink_.calls().back().a); // arrival
}

// A module that answers the handshake, then follows a script.
class ScriptedModule {
public:
    ScriptedModule(const std::string &path, std::function<void(Peer &)> script) : path_(path)
    {
        fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::snprintf(a.sun_path, sizeof a.sun_path, "%s", path.c_str());
        ::unlink(path.c_str());
        bound_ = ::bind(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 && ::listen(fd_, 4) == 0;
        thread_ = std::thread([this, script] {
            Peer peer(::accept(fd_, nullptr, nullptr));
            std::string hello = peer.frame();
            peer.send(Frame(0x81, ReadU32(hello, 8), U32(0) + U32(1)));
            std::string list = peer.frame();
            peer.send(Frame(0x82, ReadU32(list, 8), U32(0) + U32(1) + Str("IF9")));
            script(peer);
        });
    }
    ~ScriptedModule()
    {
        thread_.join();
        ::close(fd_);
        ::unlink(path_.c_str());
    }
    bool bound() const { return bound_; }

private:
    std::string path_;
    int fd_;
    bool bound_ = false;
    std::thread thread_;
};

class MbnWire : public MbnClient {
protected:
    void SetUp() override
    {
        MbnClient::SetUp();
        advise();
        server_->stop();
        ASSERT_TRUE(sink_.waitFor("state")); // IF0 gone
    }
    // The client, disconnected, finds the scripted module on its own.
    void bindTo(ScriptedModule &module)
    {
        ASSERT_TRUE(module.bound());
        ASSERT_TRUE(sink_.waitFor("state", 2)); // IF9 arrived
    }
};

TEST_F(MbnWire, MalformedFrameClosesTheConnection)
{
    std::atomic<bool> closed{false};
    ScriptedModule module(dir_ / "mbn.sock", [&](Peer &peer) {
        peer.send(Frame(0x44, 0, Str("IF9") + Str("S") + U32(1) + U32(100) + "short"));
        closed = peer.closedByPeer();
    });
    bindTo(module);
    ASSERT_TRUE(sink_.waitFor("state", 3)); // IF9 gone with the connection
    EXPECT_EQ(0u, sink_.count("event"));
    EXPECT_EQ(1u, sink_.calls().back().a);
    EXPECT_TRUE(WaitUntil([&] { return closed.load(); }, 4000));
}

TEST_F(MbnWire, UnansweredRequestTimesOutAndDropsTheConnection)
{
    ScriptedModule module(dir_ / "mbn.sock", [](Peer &peer) {
        peer.frame(); // the request, never answered
        for (int i = 0; i < 4 && !peer.closedByPeer(); ++i) {
        }
    });
    bindTo(module);
    IMbnDeviceServicesContext *ctx = nullptr;
    BSTR id = Wide("IF9");
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_TIMEOUT), manager_->GetDeviceServicesContext(id, &ctx));
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(4900));
    EXPECT_LT(took, std::chrono::seconds(8));
    SysFreeString(id);
    EXPECT_TRUE(sink_.waitFor("state", 3));
}

TEST_F(MbnWire, ModuleVanishingMidWriteRaisesNoSigpipe)
{
    struct sigaction dfl {}, old{};
    dfl.sa_handler = SIG_DFL;
    sigaction(SIGPIPE, &dfl, &old); // the default would end the process
    ScriptedModule module(dir_ / "mbn.sock", [](Peer &peer) {
        std::string ctx = peer.frame();
        peer.send(Frame(0x83, ReadU32(ctx, 8), U32(0) + U32(1u << 20)));
        std::string svc = peer.frame();
        peer.send(Frame(0x84, ReadU32(svc, 8), U32(0)));
        peer.read(64); // the start of the large command, then gone
    });
    bindTo(module);
    BSTR id = Wide("IF9");
    BSTR svc = Wide(hbrmodemsim::kPrivateServiceId);
    ASSERT_EQ(S_OK, manager_->GetDeviceServicesContext(id, &context_));
    ASSERT_EQ(S_OK, context_->GetDeviceService(svc, &service_));
    SysFreeString(id);
    SysFreeString(svc);
    ULONG requestId = 99;
    EXPECT_EQ(kNotFound, setCommand(std::string(900 * 1024, 'A'), &requestId));
    EXPECT_EQ(0u, requestId);
    sigaction(SIGPIPE, &old, nullptr);
}

} // namespace
