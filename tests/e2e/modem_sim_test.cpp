// hbr-modem-sim as a process: the tree of each hardware preset, the AT
// port, the control commands and their records, the clean stop; and the
// device-service rules of the fault plan as the server's faults.
#include "modem_sim.h"
#include "modem_simulator.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cstring>
#include <cstdlib>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

using hbrmodemsim::Record;

namespace {

std::string Trimmed(const std::string &path)
{
    std::string s = hbrtest::ReadFile(path);
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
    return s;
}

bool Exists(const std::string &path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// Everything the port sends until it has been silent for `quietMs`.
std::string ReadUntilQuiet(int fd, int quietMs)
{
    std::string out;
    for (;;) {
        pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, quietMs) != 1) return out;
        char buffer[256];
        ssize_t n = read(fd, buffer, sizeof(buffer));
        if (n <= 0) return out;
        out.append(buffer, static_cast<size_t>(n));
    }
}

class ModemSimProcess : public ::testing::Test {
protected:
    ModemSim sim_{HBR_MODEM_SIM_PATH};
};

}  // namespace

TEST_F(ModemSimProcess, PresetsBuildTheirTreeAndSigtermRemovesEverything)
{
    struct Preset {
        const char *name;
        const char *vendor;
        const char *product;
    } presets[] = {{"0", "0x14c3", "0x4d75"}, {"1", "8087", "0ac9"}, {"2", "5e1a", nullptr}, {"none", "1234", "5678"}};
    for (const Preset &p : presets) {
        SCOPED_TRACE(p.name);
        ASSERT_TRUE(sim_.Start({"--platform", p.name}));
        const std::string sysfs = sim_.Env("HBR_SYSFS_ROOT");
        const std::string net = sysfs + "/class/net/wwan0/device";
        const std::string port = sysfs + "/class/tty/ttyHBR0/device";
        // PCI: both entries on the function; USB: on interfaces 00 and 02
        // of the device above them.
        bool pci = std::string(p.name) == "0";
        std::string ids = pci ? net : net + "/..";
        EXPECT_EQ(p.vendor, Trimmed(ids + (pci ? "/vendor" : "/idVendor")));
        if (p.product != nullptr) {
            EXPECT_EQ(p.product, Trimmed(ids + (pci ? "/device" : "/idProduct")));
        }
        if (!pci) {
            EXPECT_EQ("00", Trimmed(net + "/bInterfaceNumber"));
            EXPECT_EQ("02", Trimmed(port + "/bInterfaceNumber"));
        }
        char real[PATH_MAX];
        ASSERT_NE(nullptr, realpath((sim_.Env("HBR_DEV_ROOT") + "/ttyHBR0").c_str(), real));
        EXPECT_EQ(0, std::string(real).compare(0, 9, "/dev/pts/"));
        EXPECT_EQ(std::string("OK platform=") + p.name, sim_.Control("status").substr(0, 12 + strlen(p.name)));

        EXPECT_EQ(0, sim_.Terminate());
        EXPECT_FALSE(Exists(sysfs));
        EXPECT_FALSE(Exists(sim_.Env("HBR_DEV_ROOT") + "/ttyHBR0"));
        EXPECT_FALSE(Exists(sim_.Env("HBR_MBN_SOCKET")));
        EXPECT_FALSE(Exists(sim_.Env("HBR_MODEM_CONTROL")));
        EXPECT_TRUE(Exists(sim_.Env("HBR_MODEM_RECORDS")));
    }

    // A socket path that does not fit is refused before anything is made.
    hbrtest::ProcessResult r = hbrtest::RunProcess(
        {HBR_MODEM_SIM_PATH, "--state-dir", sim_.Folder() + "/long", "--socket", "/tmp/" + std::string(120, 's')});
    EXPECT_EQ(1, r.exitCode);
    EXPECT_NE(std::string::npos, r.err.find("too long")) << r.err;
    EXPECT_FALSE(Exists(sim_.Folder() + "/long"));
}

TEST_F(ModemSimProcess, ControlCommandsAndTheirRecords)
{
    ASSERT_TRUE(sim_.Start({"--platform", "1", "--no-com"}));
    EXPECT_EQ("OK", sim_.Control("sync 1 ACTIVE"));
    EXPECT_NE(std::string::npos, sim_.Control("status").find("sync=ACTIVE,1"));
    EXPECT_NE(std::string::npos, sim_.Control("status").find(" channels=none "));
    EXPECT_EQ("OK", sim_.Control("notify CHECK"));
    EXPECT_EQ("OK", sim_.Control("notify-raw --event-id=2 --plain a\\0b\\x41\\r\\n"));
    EXPECT_EQ("OK", sim_.Control("remove"));
    EXPECT_NE(std::string::npos, sim_.Control("status").find("interface=removed"));
    EXPECT_EQ("OK", sim_.Control("arrive"));
    EXPECT_EQ("OK 1", sim_.Control(R"(fault {"request":"SET_COMMAND","action":"completion-never"})"));
    EXPECT_EQ("OK 2", sim_.Control(R"(fault {"action":"com-silence"})"));
    EXPECT_NE(std::string::npos, sim_.Control("status").find("session=closed"));
    EXPECT_EQ("OK 3", sim_.Control(R"(fault {"action":"session-open"})"));
    EXPECT_NE(std::string::npos, sim_.Control("status").find("session=open"));
    EXPECT_EQ("OK", sim_.Control("clear-faults"));
    EXPECT_NE(std::string::npos, sim_.Control("status").find("faults=0"));
    for (const char *bad : {"sync 3", "sync 1 CHECK", "notify START", "notify-raw --loud x", "notify-raw",
                            "notify-raw bad\\q", R"(fault {"action":"boom"})", "dance", "status now"}) {
        EXPECT_EQ("ERR", sim_.Control(bad).substr(0, 3)) << bad;
    }

    std::vector<Record> notes = sim_.Records("notification", "mbn");
    ASSERT_EQ(2u, notes.size());
    EXPECT_EQ("\r\n+GTPCTPOC: CHECK\r\n", notes[0].text);
    EXPECT_EQ(1, notes[0].numbers["eventId"]);
    EXPECT_EQ(std::string("a\0bA\r\n", 6), notes[1].text);
    EXPECT_EQ(2, notes[1].numbers["eventId"]);
    std::vector<Record> states = sim_.Records("interface-state");
    ASSERT_EQ(2u, states.size());
    EXPECT_EQ("removal", states[0].text);
    EXPECT_EQ("arrival", states[1].text);
    EXPECT_LE(notes[0].timeMs, states[1].timeMs);

    // The ctl client, through the environment, and quit.
    std::map<std::string, std::string> env = {{"HBR_MODEM_CONTROL", sim_.Env("HBR_MODEM_CONTROL")}};
    hbrtest::ProcessResult status = hbrtest::RunProcess({HBR_MODEM_SIM_PATH, "ctl", "status"}, env);
    EXPECT_EQ(0, status.exitCode);
    EXPECT_EQ(0u, status.out.find("OK platform=1 ")) << status.out;
    EXPECT_EQ(1, hbrtest::RunProcess({HBR_MODEM_SIM_PATH, "ctl", "sync", "9"}, env).exitCode);
    EXPECT_EQ(2, hbrtest::RunProcess({HBR_MODEM_SIM_PATH, "ctl", "--control", sim_.Folder() + "/none", "status"})
                     .exitCode);
    EXPECT_EQ("OK", sim_.Control("quit"));
    EXPECT_EQ(0, sim_.Terminate());
    EXPECT_FALSE(Exists(sim_.Env("HBR_MBN_SOCKET")));
}

TEST_F(ModemSimProcess, AtPortAnswersWithEchoAndComFaults)
{
    ASSERT_TRUE(sim_.Start({"--no-mbn", "--echo", "--tty-name", "ttyHBR7"}));
    int fd = open((sim_.Env("HBR_DEV_ROOT") + "/ttyHBR7").c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    const std::string sync = "AT+GTPCTPOC=6\r\n";
    const std::string answer = "\r\n+GTPCTPOC: 0,2\r\n\r\nOK\r\n";
    ASSERT_EQ(ssize_t(sync.size()), write(fd, sync.data(), sync.size()));
    EXPECT_EQ(sync + answer, ReadUntilQuiet(fd, 1000));

    EXPECT_EQ("OK 1", sim_.Control(R"(fault {"action":"com-echo","number":0,"times":"always"})"));
    EXPECT_EQ("OK 2", sim_.Control(R"(fault {"at":"GTPCTPOC","action":"com-pieces","number":5,"ms":100})"));
    auto begin = std::chrono::steady_clock::now();
    ASSERT_EQ(ssize_t(sync.size()), write(fd, sync.data(), sync.size()));
    EXPECT_EQ(answer, ReadUntilQuiet(fd, 1000));
    EXPECT_GE(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(500));

    EXPECT_EQ("OK 3", sim_.Control(R"(fault {"action":"com-silence"})"));
    ASSERT_EQ(ssize_t(sync.size()), write(fd, sync.data(), sync.size()));
    EXPECT_EQ("", ReadUntilQuiet(fd, 500));
    close(fd);
    EXPECT_EQ("ERR", sim_.Control("notify ACTIVE").substr(0, 3));

    std::vector<Record> commands = sim_.Records("command", "com");
    std::vector<Record> replies = sim_.Records("reply", "com");
    ASSERT_EQ(3u, commands.size());
    EXPECT_EQ(sync, commands[2].text);
    ASSERT_EQ(2u, replies.size());
    EXPECT_EQ(sync + answer, replies[0].text);
    EXPECT_EQ(answer, replies[1].text);
}

TEST(DeviceServiceFaults, RulesFireForTheirRequestsOnly)
{
    using namespace hbrmodemsim;
    using hbrsim::FaultRule;
    hbrsim::FaultPlan plan;
    plan.add(FaultRule::mbn("SET_COMMAND", "AT+GTPCTPOC=6").responseHr(kDsPending).from(2));
    plan.add(FaultRule::mbn("OPEN_SESSION").completionDelay(12000));
    plan.add(FaultRule::mbn().completionStatus(static_cast<int32_t>(0x80004005u)).always());
    plan.add(FaultRule::mbn().completionResponseId(7));
    plan.add(FaultRule::mbn().serviceAbsent());
    plan.add(FaultRule::mbn().maxCommandSize(16).always());
    plan.add(FaultRule::mbn().payloadForm(hbrsim::PayloadForm::Plain));

    auto faultsFor = [&](uint16_t type, const std::string &command = "") {
        DeviceServiceFaults f;
        applyDeviceServiceFaults(plan, type, command, f);
        return f;
    };
    DeviceServiceFaults f = faultsFor(kDsHello);
    EXPECT_TRUE(f.responseHr.empty());
    EXPECT_FALSE(f.privateServiceAbsent);
    EXPECT_EQ(4096u, f.maxCommandSize);
    EXPECT_EQ(16u, faultsFor(kDsOpenContext).maxCommandSize);
    EXPECT_TRUE(faultsFor(kDsGetService).privateServiceAbsent);
    EXPECT_FALSE(faultsFor(kDsGetService).privateServiceAbsent);

    f = faultsFor(kDsOpenSession);
    EXPECT_EQ(CompletionTiming::Delayed, f.openSession.timing);
    EXPECT_EQ(12000u, f.openSession.delayMs);
    EXPECT_TRUE(f.openSession.replaceStatus);
    EXPECT_EQ(CompletionTiming::AfterResponse, f.setCommand.timing);

    f = faultsFor(kDsSetCommand, "AT+CSIM=10,\"0070000001\"\r");
    EXPECT_TRUE(f.responseHr.empty());
    EXPECT_EQ(PayloadForm::Plain, f.replyForm);
    EXPECT_TRUE(f.setCommand.replaceResponseId);
    EXPECT_EQ(7u, f.setCommand.responseId);
    EXPECT_EQ(static_cast<int32_t>(0x80004005u), f.setCommand.status);
    EXPECT_EQ(16u, f.maxCommandSize);
    // The hr rule counts only its own command, from the second on.
    EXPECT_TRUE(faultsFor(kDsSetCommand, "AT+GTPCTPOC=6\r\n").responseHr.empty());
    f = faultsFor(kDsSetCommand, "AT+GTPCTPOC=6\r\n");
    EXPECT_EQ(kDsPending, f.responseHr[kDsSetCommand]);
    EXPECT_EQ(PayloadForm::Prefixed, f.replyForm);
    EXPECT_FALSE(f.setCommand.replaceResponseId);
}
