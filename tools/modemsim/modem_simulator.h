// The simulated module as a process of its own: one hbrsim::Module behind a
// fake sysfs entry, a pty as its AT port, the device-service socket and a
// control socket, with a record of every exchange. hbr-modem-sim runs one;
// tests may run one in-process.
#ifndef HBRMODEMSIM_MODEM_SIMULATOR_H
#define HBRMODEMSIM_MODEM_SIMULATOR_H

#include "control_server.h"
#include "device_service_server.h"
#include "fake_sysfs.h"
#include "pty_link.h"
#include "record_log.h"
#include "sim_module.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace hbrmodemsim {

struct Options {
    std::string stateDir;     // default: a fresh folder under $TMPDIR
    std::string sysfsRoot;    // default: <state>/sysfs
    std::string devRoot;      // default: <state>/dev
    std::string socketPath;   // default: <state>/mbn.sock
    std::string controlPath;  // default: <state>/control.sock
    std::string recordPath;   // default: <state>/records.jsonl
    std::string platform = "1";
    std::string ttyName = "ttyHBR0";
    std::string interfaceId = kDefaultInterfaceId;
    std::string seedPath;
    // When the active slot changes: after the reply the interface is
    // removed, then arrives again after this many ms, or on the control
    // command `arrive` ("arrive"). Empty: the interface stays.
    std::string interfaceDrop;
    bool com = true;
    bool mbn = true;
    bool echo = false;
    bool stdinMode = false;
};

extern const char kUsage[];

// Reads the options (the arguments after the program name).
bool parseOptions(const std::vector<std::string> &args, Options &options, std::string *error);

// Turns the device-service rules of the plan that fire for one request
// (type, and the AT text of a command) into the server's faults for it.
// Counts the request for every matching rule, as FaultPlan::fire does.
void applyDeviceServiceFaults(hbrsim::FaultPlan &plan, uint16_t type, const std::string &command,
                              DeviceServiceFaults &faults);

class Simulator {
public:
    explicit Simulator(const Options &options);
    ~Simulator() { stop(); }
    Simulator(const Simulator &) = delete;
    Simulator &operator=(const Simulator &) = delete;

    // Fills in the default paths, loads the seed and sets up the tree, the
    // port and the sockets. False (with the reason, nothing left behind)
    // when any step fails.
    bool start(std::string *error);
    // Removes the tree, the port link and the sockets; the records stay.
    void stop();

    // One control command; answers "OK[ text]" or "ERR text".
    std::string control(const std::string &line);
    bool quitRequested() const { return quit_; }

    // HBR_SYSFS_ROOT=…, HBR_DEV_ROOT=…, HBR_MBN_SOCKET=…, HBR_MODEM_CONTROL=…,
    // HBR_MODEM_RECORDS=… (after start).
    std::vector<std::string> environment() const;
    const Options &options() const { return options_; }
    RecordLog &records() { return records_; }

    // Runs f on the module, serialised with every transport.
    template <class F>
    auto withModule(F f) -> decltype(f(std::declval<hbrsim::Module &>()))
    {
        std::lock_guard<std::mutex> lock(moduleLock_);
        Es10Flush flush{*this};
        return f(module_);
    }

private:
    // Writes the eUICC's ES10 requests made since the last call (module lock held).
    void recordEs10();
    struct Es10Flush {
        Simulator &sim;
        ~Es10Flush() { sim.recordEs10(); }
    };
    bool setUp(std::string *error);
    void onComCommand(const std::string &command);
    void onDeviceServiceRequest(uint16_t type, const std::string &command, DeviceServiceFaults &faults);
    void onNotification(const hbrsim::Unsolicited &message);
    void applyStandingFaults();
    void interfaceDropLoop(long arrivalMs);
    void comUnsolicitedLoop();
    std::string notifyRaw(const std::string &args);
    std::string comUnsolicited(const std::string &args);
    std::string portReset();

    Options options_;
    std::mutex moduleLock_;
    hbrsim::Module module_;
    RecordLog records_;
    std::unique_ptr<FakeSysfs> sysfs_;
    PtyLink pty_;
    std::unique_ptr<DeviceServiceServer> mbn_;
    ControlServer control_;
    std::atomic<bool> quit_{false};
    std::mutex stopLock_;
    std::condition_variable stopWake_;  // ends the AT port's reply delays at stop
    bool stopping_ = false;
    bool dropPending_ = false;      // the slot changed: drop the interface (stopLock_)
    size_t slotChangesSeen_ = 0;
    std::thread dropper_;
    // Held while a reply, an unsolicited line or a port reset goes on, so
    // an unsolicited line never lands inside a reply.
    std::mutex comWriteLock_;
    std::thread comUnsolicited_;
    long comUnsolicitedMs_ = 0;      // 0: none (stopLock_)
    std::string comUnsolicitedText_;  // (stopLock_)
    int notificationSink_ = 0;
    size_t es10Recorded_ = 0;
    bool started_ = false;
    bool madeStateDir_ = false;
    bool madeDevRoot_ = false;
};

}  // namespace hbrmodemsim

#endif
