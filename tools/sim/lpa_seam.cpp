// The AT transport seam for programs that link the engine in-process: both
// writers hand the command to the simulated module unchanged and store its
// reply in the AT response buffer (cleared in full first, at most 16,384
// characters kept, always NUL-terminated).
#include "sim_seam.h"

#include "lpa_at_transport.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <memory>

char read_mipc_buf[AT_TRANSPORT_BUFFER_SIZE];

namespace hbrsim {
namespace seam {

namespace {
std::unique_ptr<Module> g_module;
int32_t g_platformType = 1;
constexpr size_t kBufferSize = sizeof(read_mipc_buf);

uint64_t g_cpuNanos = 0;

uint64_t threadCpuNanos()
{
    struct timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<uint64_t>(ts.tv_nsec);
}

int64_t write(Writer writer, int32_t platformType, const char *command, size_t length)
{
    struct CpuMeter {
        uint64_t start = threadCpuNanos();
        ~CpuMeter() { g_cpuNanos += threadCpuNanos() - start; }
    } meter;
    std::string text = command != nullptr ? std::string(command, length) : std::string();
    AtExchange exchange = module().exchange(text, writer, platformType);
    std::memset(read_mipc_buf, 0, kBufferSize);
    size_t n = std::min(exchange.reply.size(), kBufferSize - 1);
    if (n > 0) {
        std::memcpy(read_mipc_buf, exchange.reply.data(), n);
    }
    return exchange.writerResult ? *exchange.writerResult : static_cast<int64_t>(length);
}
}  // namespace

uint64_t cpuNanos()
{
    return g_cpuNanos;
}

Module &module()
{
    if (!g_module) g_module = std::make_unique<Module>();
    return *g_module;
}

void reset()
{
    g_module = std::make_unique<Module>();
    g_platformType = 1;
    std::memset(read_mipc_buf, 0, kBufferSize);
}

void reset(const Seed &seed)
{
    reset();
    applySeed(seed, *g_module);
}

void setPlatformType(int32_t type)
{
    g_platformType = type;
}

int32_t platformType()
{
    return g_platformType;
}

}  // namespace seam
}  // namespace hbrsim

extern "C" int64_t quorpciot_lpa_write_intel(int32_t platformType, const char *command, size_t length)
{
    return hbrsim::seam::write(hbrsim::Writer::Intel, platformType, command, length);
}

extern "C" int64_t quorpciot_lpa_write_mtk(int32_t platformType, const char *command, size_t length)
{
    return hbrsim::seam::write(hbrsim::Writer::Mtk, platformType, command, length);
}

extern "C" int32_t quorpciot_lpa_plat_type(void)
{
    return hbrsim::seam::platformType();
}
