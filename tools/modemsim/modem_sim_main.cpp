// hbr-modem-sim: the simulated KX718 module as a process of its own (see
// docs/platform.md), or with --stdin the module alone, driven by hand.
#include "control_server.h"
#include "modem_simulator.h"
#include "sim_seed.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

// hbr-modem-sim ctl [--control PATH] COMMAND...
int runControl(const std::vector<std::string> &args)
{
    const char *fromEnv = std::getenv("HBR_MODEM_CONTROL");
    std::string path = fromEnv != nullptr ? fromEnv : "";
    size_t i = 0;
    if (i + 1 < args.size() && args[i] == "--control") {
        path = args[i + 1];
        i += 2;
    }
    std::string line;
    for (; i < args.size(); ++i) line += (line.empty() ? "" : " ") + args[i];
    if (line.empty() || path.empty()) {
        std::fprintf(stderr, "%s%s", path.empty() ? "hbr-modem-sim ctl: no control socket (--control or "
                                                    "HBR_MODEM_CONTROL)\n"
                                                  : "",
                     hbrmodemsim::kUsage);
        return 2;
    }
    std::string answer, error;
    if (!hbrmodemsim::controlRequest(path, line, answer, &error)) {
        std::fprintf(stderr, "hbr-modem-sim ctl: %s\n", error.c_str());
        return 2;
    }
    std::printf("%s\n", answer.c_str());
    return answer.compare(0, 2, "OK") == 0 ? 0 : 1;
}

// AT commands from stdin (a CR or LF ends one), each reply to stdout.
int runStdin(const hbrmodemsim::Options &options)
{
    hbrsim::Seed seed;
    std::string error;
    if (!options.seedPath.empty() && !hbrsim::loadSeedFile(options.seedPath, seed, &error)) {
        std::fprintf(stderr, "hbr-modem-sim: %s\n", error.c_str());
        return 2;
    }
    hbrsim::Module module;
    hbrsim::applySeed(seed, module);
    hbrsim::parsePlatformPreset(options.platform, module.platform);
    auto answer = [&](const std::string &line) {
        std::string reply = module.handle(line + "\r");
        std::fwrite(reply.data(), 1, reply.size(), stdout);
        if (reply.empty()) std::fputs("(no reply)\n", stdout);
        std::fflush(stdout);
    };
    std::string line;
    int c;
    while ((c = std::getchar()) != EOF) {
        if (c != '\r' && c != '\n') {
            line.push_back(static_cast<char>(c));
        } else if (!line.empty()) {
            answer(line);
            line.clear();
        }
    }
    if (!line.empty()) answer(line);
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && args[0] == "ctl") return runControl(std::vector<std::string>(args.begin() + 1, args.end()));

    hbrmodemsim::Options options;
    std::string error;
    if (!hbrmodemsim::parseOptions(args, options, &error)) {
        std::fprintf(stderr, "hbr-modem-sim: %s\n%s", error.c_str(), hbrmodemsim::kUsage);
        return 2;
    }
    if (options.stdinMode) return runStdin(options);

    // Stop signals are taken by sigtimedwait below; every thread started
    // from here on inherits the blocked mask.
    std::signal(SIGPIPE, SIG_IGN);
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    hbrmodemsim::Simulator simulator(options);
    if (!simulator.start(&error)) {
        std::fprintf(stderr, "hbr-modem-sim: %s\n", error.c_str());
        return 1;
    }
    for (const std::string &line : simulator.environment()) std::printf("%s\n", line.c_str());
    std::printf("READY\n");
    std::fflush(stdout);
    simulator.records().setTranscript(stdout);

    const timespec tick = {0, 100 * 1000 * 1000};
    while (!simulator.quitRequested()) {
        int sig = sigtimedwait(&stopSignals, nullptr, &tick);
        if (sig == SIGTERM || sig == SIGINT) break;
    }
    simulator.records().setTranscript(nullptr);
    simulator.stop();
    return 0;
}
