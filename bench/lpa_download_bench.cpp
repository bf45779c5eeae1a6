// One whole lpaDownloadProfile per iteration: the engine over the
// in-process simulated module to a loopback test SM-DP+ this program
// starts, for 10, 50 and 120 KB of decoded package, at the log levels DEB
// and ERR. Counters per download: the wall time, the process CPU (curl's
// threads and the simulator included) and their ratio; engine CPU (process
// CPU minus the simulator's own CPU), peak tracked bytes and blocks, AT
// commands, the driver's short reply polls and their wait, and the wall
// time without that wait.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string>

#include <curl/curl.h>
#include <hbr_platform_sleep.h>
#include <sys/stat.h>
#include <unistd.h>

#include "https_test_server.h"
#include "lpa.h"
#include "lpa_core_memory_internal.h"
#include "lpa_host.h"
#include "sim_seam.h"

namespace {

uint64_t ProcessCpuNanos()
{
    struct timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<uint64_t>(ts.tv_nsec);
}

uint64_t WallNanos()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<uint64_t>(ts.tv_nsec);
}

void BM_Download(benchmark::State &state)
{
    const int64_t kilobytes = state.range(0);
    const int32_t level = static_cast<int32_t>(state.range(1));
    char folder[] = "/tmp/hbr-download-bench-XXXXXX";
    if (mkdtemp(folder) == nullptr || !hbr_test::HttpsTestServer::EnsurePki()) {
        state.SkipWithError("no work folder or PKI");
        return;
    }
    curl_global_init(CURL_GLOBAL_DEFAULT);
    hbr_test::HttpsTestServer server;
    hbr_test::HttpsServerOptions options;
    options.role = "smdp";
    int64_t elements = kilobytes * 1024 / 1020;
    options.script = "{\"profiles\": [{\"elementCount\": " + std::to_string(elements) + ", \"elementSize\": 1020}]}";
    std::string serverDir = std::string(folder) + "/smdp";
    mkdir(serverDir.c_str(), 0700);
    if (!server.Start(serverDir, options)) {
        state.SkipWithError("the test SM-DP+ did not start");
        return;
    }
    const std::string code = "1$localhost:" + std::to_string(server.port()) + "$HBR-TEST-1";
    hbrsim::seam::reset();
    lpaInitialize(folder);
    lpaSetConfigParameter("deviceInfoTlv", LPA_PARAMETER_TYPE_STRING, "A108800435290611A100");
    lpaManagerSetCertPath(hbr_test::HttpsTestServer::PkiFile("ca.crt").c_str());
    lpaCoreLogSetLevel(level);

    double wallTotalMs = 0, processCpuMs = 0, engineCpuMs = 0, peakBytes = 0, peakBlocks = 0, atCommands = 0, polls = 0, pollWaitMs = 0, wallMs = 0;
    int failures = 0;
    for (auto _ : state) {
        state.PauseTiming();
        hbrsim::seam::reset();
        LpaCoreMemoryCounters start = lpaCoreMemoryTestCounters();
        lpaCoreMemoryTestRebasePeaks();
        uint64_t cpu0 = ProcessCpuNanos();
        uint64_t sim0 = hbrsim::seam::cpuNanos();
        unsigned long polls0 = hbrShortSleepCount();
        unsigned long long wait0 = hbrShortSleepTotalMs();
        uint64_t wall0 = WallNanos();
        state.ResumeTiming();

        LpaOperationResult result{0, 0};
        bool ok = lpaDownloadProfile(code.c_str(), nullptr, &result);

        state.PauseTiming();
        uint64_t wall = WallNanos() - wall0;
        LpaCoreMemoryCounters end = lpaCoreMemoryTestCounters();
        failures += ok ? 0 : 1;
        uint64_t cpu = ProcessCpuNanos() - cpu0;
        wallTotalMs += static_cast<double>(wall) / 1e6;
        processCpuMs += static_cast<double>(cpu) / 1e6;
        engineCpuMs += static_cast<double>(cpu - (hbrsim::seam::cpuNanos() - sim0)) / 1e6;
        peakBytes += end.maxLiveBytes - start.liveBytes;
        peakBlocks += end.maxLiveBlocks - start.liveBlocks;
        atCommands += static_cast<double>(hbrsim::seam::module().records().at.size());
        polls += static_cast<double>(hbrShortSleepCount() - polls0);
        double wait = static_cast<double>(hbrShortSleepTotalMs() - wait0);
        pollWaitMs += wait;
        wallMs += static_cast<double>(wall) / 1e6 - wait;
        state.ResumeTiming();
    }
    lpaUninitialize();
    server.Stop();
    curl_global_cleanup();
    if (failures > 0) {
        state.SkipWithError("a download failed");
    }
    auto avg = benchmark::Counter::kAvgIterations;
    state.counters["wall_ms"] = benchmark::Counter(wallTotalMs, avg);
    state.counters["process_cpu_ms"] = benchmark::Counter(processCpuMs, avg);
    state.counters["wall_per_cpu"] = processCpuMs > 0 ? wallTotalMs / processCpuMs : 0;
    state.counters["engine_cpu_ms"] = benchmark::Counter(engineCpuMs, avg);
    state.counters["peak_bytes"] = benchmark::Counter(peakBytes, avg);
    state.counters["peak_blocks"] = benchmark::Counter(peakBlocks, avg);
    state.counters["at_commands"] = benchmark::Counter(atCommands, avg);
    state.counters["polls"] = benchmark::Counter(polls, avg);
    state.counters["poll_wait_ms"] = benchmark::Counter(pollWaitMs, avg);
    state.counters["wall_minus_wait_ms"] = benchmark::Counter(wallMs, avg);
    std::string cmd = std::string("rm -rf ") + folder;
    if (std::system(cmd.c_str()) != 0) {
        state.SetLabel("work folder left");
    }
}

// {kilobytes of package, log level (2 DEB, 5 ERR)}.
BENCHMARK(BM_Download)
    ->Args({10, 2})
    ->Args({50, 2})
    ->Args({120, 2})
    ->Args({10, 5})
    ->Args({50, 5})
    ->Args({120, 5})
    ->Iterations(2)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
