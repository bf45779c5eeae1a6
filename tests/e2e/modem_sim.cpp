#include "modem_sim.h"

#include "control_server.h"

ModemSim::ModemSim(const std::string &simPath) : binDir_(simPath.substr(0, simPath.rfind('/'))) {}

bool ModemSim::Start(const std::vector<std::string> &options)
{
    std::string list;
    for (const std::string &option : options) list += (list.empty() ? "" : ", ") + hbr_test::JsonString(option);
    return Launch(R"({"modem": {"seed": null, "options": [)" + list +
                      R"(]}, "smdp": null, "cloud": null, "ntp": null, "registry": null})",
                  "");
}

bool ModemSim::StartWorld(const std::string &scenarioJson, const std::string &agentDir)
{
    return Launch(scenarioJson, agentDir);
}

bool ModemSim::Launch(const std::string &scenarioJson, const std::string &agentDir)
{
    std::vector<std::string> options = {"--bin", binDir_};
    if (!agentDir.empty()) {
        options.push_back("--agent-dir");
        options.push_back(agentDir);
    }
    return world_.Start(scenarioJson, dir_ / "world", options);
}

std::map<std::string, std::string> ModemSim::WorldAgentEnv(int sleepDivisor) const
{
    std::map<std::string, std::string> env = world_.Environment();
    env["HBR_SLEEP_DIVISOR"] = std::to_string(sleepDivisor);
    return env;
}

std::map<std::string, std::string> ModemSim::AgentEnv(int sleepDivisor) const
{
    return {{"HBR_SYSFS_ROOT", Env("HBR_SYSFS_ROOT")},
            {"HBR_DEV_ROOT", Env("HBR_DEV_ROOT")},
            {"HBR_MBN_SOCKET", Env("HBR_MBN_SOCKET")},
            {"HBR_SLEEP_DIVISOR", std::to_string(sleepDivisor)}};
}

std::string ModemSim::Control(const std::string &command) const
{
    std::string answer, error;
    if (!hbrmodemsim::controlRequest(Env("HBR_MODEM_CONTROL"), command, answer, &error)) {
        ADD_FAILURE() << "control command \"" << command << "\": " << error;
        return "";
    }
    return answer;
}

std::vector<ModemSim::Record> ModemSim::Records() const
{
    std::vector<Record> out;
    for (const std::string &line : hbr_test::ReadLines(Env("HBR_MODEM_RECORDS"))) {
        Record r;
        if (hbrmodemsim::parseRecord(line, r)) out.push_back(r);
    }
    return out;
}

std::vector<ModemSim::Record> ModemSim::Records(const std::string &kind, const std::string &transport) const
{
    std::vector<Record> out;
    for (const Record &r : Records()) {
        if (r.kind == kind && (transport.empty() || r.transport == transport)) out.push_back(r);
    }
    return out;
}

bool ModemSim::WaitForRecords(const std::function<bool(const Record &)> &match, int count, int timeoutMs) const
{
    return hbrtest::WaitUntil(
        [&] {
            int n = 0;
            for (const Record &r : Records()) n += match(r) ? 1 : 0;
            return n >= count;
        },
        timeoutMs);
}
