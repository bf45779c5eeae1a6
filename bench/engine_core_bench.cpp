// Engine core costs: tracked alloc+free with the live-block table partly
// filled (its scans are linear), and one DEB line written to a file.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

#include "lpa_core_log.h"
#include "lpa_core_memory.h"

namespace {

void BM_AllocFree(benchmark::State &state)
{
    // No log file open: the allocator's lines are dropped, as in a quiet run.
    lpaCoreLogInstallDefaultBackend();
    logClose();
    std::vector<void *> live;
    for (int64_t i = 0; i < state.range(0); ++i) {
        live.push_back(LPA_MALLOC(16));
    }
    for (auto _ : state) {
        void *p = LPA_MALLOC(64);
        benchmark::DoNotOptimize(p);
        LPA_FREE(p);
    }
    for (void *p : live) {
        LPA_FREE(p);
    }
}
BENCHMARK(BM_AllocFree)->Arg(0)->Arg(1000)->Arg(4000);

void BM_WriteDebLine(benchmark::State &state)
{
    char folder[] = "/tmp/hbr-bench-XXXXXX";
    if (mkdtemp(folder) == nullptr) {
        state.SkipWithError("mkdtemp failed");
        return;
    }
    std::string log = std::string(folder) + "/lpa.log";
    std::string backup = std::string(folder) + "/lpa.backup.log";
    lpaCoreLogInstallDefaultBackend();
    logSetLevel(LPA_LOG_LEVEL_DEB);
    logOpen(log.c_str(), backup.c_str());
    int64_t n = 0;
    for (auto _ : state) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "-- lpaGetEID() : return %s (%d)", "true", (int)n++);
    }
    logClose();
    std::remove(log.c_str());
    std::remove(backup.c_str());
    rmdir(folder);
}
BENCHMARK(BM_WriteDebLine);

}  // namespace
