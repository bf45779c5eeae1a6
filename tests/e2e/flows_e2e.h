// Fixture of the flow end-to-end tests: the real hbr-agent running its
// flows against the whole world of peers (tools/world/hbr-world): the
// simulated module and eUICC, the test SM-DP+, the bootstrap and cloud
// servers and the NTP server.
#ifndef HBR_E2E_FLOWS_E2E_H
#define HBR_E2E_FLOWS_E2E_H

#include <gtest/gtest.h>

#include "agent_process.h"
#include "modem_sim.h"
#include "test_support.h"

#include <csignal>
#include <map>
#include <memory>
#include <dirent.h>
#include <sstream>

namespace flows_e2e {

inline constexpr char kOld[] = "8901000000000000001";
inline constexpr char kNew[] = "8901000000000000002";
inline constexpr char kStateKey[] = "SYSTEM\\CurrentControlSet\\Control\\Quorlin\\HBRAgentService\\IOTServiceActiveOrDeactiveResult";

struct Scenario {
    std::string platform = "1";
    std::string channel = "mbn";
    int operation = 1;
    int simMode = 0;
    int retryErrorCode = 0;
    int pocUsageType = 1;
    int activeSlot = 0;
    std::string interfaceDrop;          // hbr-modem-sim --interface-drop
    std::string cchoForm;               // the module's AT+CCHO reply form; "" : the simulator's default
    bool oldEnabled = true;
    bool smdp = true;
    std::string opercodeReply;          // "" : code 0 with the fields above
    std::string bootstrapEntries = "[]";
    std::string smdpEntries = "[]";
    std::string syncPending;            // the sync reply's request ("ACTIVE"); "" : none (status 2)
    std::string token;                  // "" : hbr-world's default signing key
    std::string apnPassword = "secret"; // of the bootstrap "apns" record
    std::string cloudEntries;           // cloud script entries matched before the operation code's reply
    std::map<std::string, std::string> agentEnv; // more of the agent's environment

    std::string Json() const
    {
        std::ostringstream s;
        s << R"({"modem": {"platform": ")" << platform << R"(", "channel": ")" << channel
          << (interfaceDrop.empty() ? "" : R"(", "interfaceDrop": ")" + interfaceDrop)
          << R"(", "seed": {"eid": "89049032000000000000000000000001", "profiles": [{"iccid": ")" << kOld
          << R"(", "state": )" << (oldEnabled ? 1 : 0)
          << R"(, "class": 1, "profileName": "Boot"}], "module": {"imei": "864000000000001", "provIccid": ")" << kOld
          << R"(", "pocUsageType": )" << pocUsageType << R"(, "activeSlot": )" << activeSlot
          << (cchoForm.empty() ? "" : R"(, "cchoForm": ")" + cchoForm + "\"")
          << (syncPending.empty() ? "" : R"(, "sync": {"status": 1, "pending": ")" + syncPending + "\"}") << "}}},";
        if (smdp) {
            s << R"("smdp": {"profiles": [{"matchingId": "E2E-1", "iccid": ")" << kNew
              << R"(", "profileName": "E2E"}], "entries": )" << smdpEntries << "},";
        } else {
            s << R"("smdp": null,)";
        }
        std::string reply = opercodeReply;
        if (reply.empty()) {
            reply = R"({"code": 0, "message": "success", "data": {"status": 1, "operation": )" +
                    std::to_string(operation) + R"(, "token": "{activationCode}", "simMode": )" +
                    std::to_string(simMode) + "}}";
        }
        s << R"("cloud": {)" << (token.empty() ? "" : R"("token": ")" + token + R"(", )")
          << R"("script": [)" << (cloudEntries.empty() ? "" : cloudEntries + ", ")
          << R"({"function": "opercode", "call": "always", "reply": )" << reply << "}]},";
        s << R"("bootstrap": {"apns": [{"apn": "iot.e2e,IPV4,PAP,user,)" << apnPassword << R"(,3", "iccid": [")" << kNew
          << R"("]}], "entries": )" << bootstrapEntries << "},";
        s << R"("retryErrorCode": )" << retryErrorCode << "}";
        return s.str();
    }
};

class FlowsE2E : public ::testing::Test {
protected:
    // A fresh world and agent (the previous ones stopped).
    void Start(const Scenario &scenario, int divisor = 1000)
    {
        agentPtr_.reset();
        worldPtr_.reset();
        worldPtr_.reset(new ModemSim(HBR_MODEM_SIM_PATH));
        agentPtr_.reset(new AgentProcess(HBR_AGENT_PATH));
        platform_ = scenario.platform;
        ASSERT_TRUE(worldPtr_->StartWorld(scenario.Json(), agentPtr_->Folder()));
        auto env = worldPtr_->WorldAgentEnv(divisor);
        for (const auto &more : scenario.agentEnv) env[more.first] = more.second;
        ASSERT_TRUE(agentPtr_->Start(env, AgentProcess::ProxyVariables()));
        ASSERT_TRUE(agentPtr_->WaitForLog("DestroyAtChannelTimer"));
        if (platform_ == "1") {
            ASSERT_TRUE(agentPtr_->WaitForLog(scenario.syncPending.empty() ? "TriggerAgent2ModuleSyncFlow(0-DPD_DONE_STATUS)"
                                                                            : "TriggerAgent2ModuleSyncFlow(0-DPD_READY_STATUS)"));
        }
    }
    // Sends the notification and waits for the flow's report to the module.
    void Run(const std::string &word, const std::string &report, int count = 1, int timeoutMs = 120000)
    {
        ASSERT_EQ("OK", worldPtr_->Control("notify " + word));
        ASSERT_TRUE(worldPtr_->WaitForRecords(
            [&](const ModemSim::Record &r) { return r.kind == "command" && r.text == report; }, count, timeoutMs))
            << "no " << report;
    }
    void Stop()
    {
        ASSERT_TRUE(agentPtr_->Signal(SIGTERM));
        int code = agentPtr_->WaitExit();
        if (code != 0) {
            // A sanitizer report or a crash: show its end.
            std::string err = agentPtr_->Stderr();
            EXPECT_EQ(0, code) << err.substr(err.size() > 6000 ? err.size() - 6000 : 0);
        }
    }
    std::vector<std::string> Commands() const
    {
        std::vector<std::string> out;
        for (const auto &r : worldPtr_->Records("command")) out.push_back(r.text);
        return out;
    }
    int CountCommands(const std::string &prefix) const
    {
        int n = 0;
        for (const std::string &c : Commands()) n += c.compare(0, prefix.size(), prefix) == 0;
        return n;
    }
    std::string LastCommand() const
    {
        auto c = Commands();
        return c.empty() ? "" : c.back();
    }
    // "OK eid=… slot=… prov_iccid=… profiles=<iccid>:<class>:<state>,… channels=…"
    std::string Euicc(const std::string &field) const
    {
        std::string answer = worldPtr_->Control("euicc");
        size_t at = answer.find(" " + field + "=");
        if (at == std::string::npos) return "?";
        at += field.size() + 2;
        return answer.substr(at, answer.find(' ', at) - at);
    }
    unsigned long State() const
    {
        std::string out = hbrtest::RunProcess({HBR_REG_PATH, "query", std::string("HKLM\\") + kStateKey, "/ve"},
                                              {{"HBR_REGISTRY_ROOT", worldPtr_->Env("HBR_REGISTRY_ROOT")}})
                              .out;
        size_t at = out.find("0x");
        return at == std::string::npos ? 0xFFFFFFFFul : std::stoul(out.substr(at), nullptr, 16);
    }
    // Requests a server recorded (req-<n>.head files).
    int Requests(const std::string &server) const
    {
        int n = 0;
        if (DIR *d = opendir(worldPtr_->Env("HBR_RECORDS_" + server).c_str())) {
            while (dirent *e = readdir(d)) n += std::string(e->d_name).find(".head") != std::string::npos;
            closedir(d);
        }
        return n;
    }
    // The SM-DP+'s view of the agent's CA file at each download request, in order.
    std::vector<std::string> DownloadWatches() const
    {
        std::vector<std::string> out;
        const std::string folder = worldPtr_->Env("HBR_RECORDS_SMDP");
        for (int n = 1; hbrtest::FileExists(folder + "/req-" + std::to_string(n) + ".head"); ++n) {
            const std::string base = folder + "/req-" + std::to_string(n);
            const std::string head = hbrtest::ReadFile(base + ".head");
            if (head.find("/initiateAuthentication ") != std::string::npos ||
                head.find("/authenticateClient ") != std::string::npos ||
                head.find("/getBoundProfilePackage ") != std::string::npos) {
                out.push_back(hbrtest::ReadFile(base + ".watch"));
            }
        }
        return out;
    }
    std::vector<std::string> CloudRecords() const
    {
        return hbr_test::ReadLines(worldPtr_->Env("HBR_RECORDS_CLOUD") + "/cloud.jsonl");
    }
    int Logs(const std::string &text) const { return hbrtest::CountMessages(agentPtr_->Messages(), text); }

    std::string platform_;
    std::unique_ptr<ModemSim> worldPtr_;
    std::unique_ptr<AgentProcess> agentPtr_;
};

} // namespace flows_e2e

#endif
