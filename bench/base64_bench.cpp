// Base64 encoding and decoding of 8 KiB.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "lpa_base64.h"

static std::vector<uint8_t> sampleData()
{
    std::vector<uint8_t> data(8192);
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<uint8_t>(i * 131 + 7);
    }
    return data;
}

static void BM_Base64Encode8KiB(benchmark::State &state)
{
    const std::vector<uint8_t> data = sampleData();
    std::string out(encodeBase64BufferSize(data.size()), '\0');
    for (auto _ : state) {
        benchmark::DoNotOptimize(encodeBase64(data.data(), static_cast<uint32_t>(data.size()), &out[0]));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(data.size()));
}
BENCHMARK(BM_Base64Encode8KiB);

static void BM_Base64Decode8KiB(benchmark::State &state)
{
    const std::vector<uint8_t> data = sampleData();
    std::string text(encodeBase64BufferSize(data.size()), '\0');
    text.resize(encodeBase64(data.data(), static_cast<uint32_t>(data.size()), &text[0]));
    std::vector<uint8_t> out(text.size() / 4 * 3);
    for (auto _ : state) {
        size_t length = 0;
        benchmark::DoNotOptimize(decodeBase64(text.data(), text.size(), out.data(), &length, out.size()));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(data.size()));
}
BENCHMARK(BM_Base64Decode8KiB);
