// Splitting a buffer of 1000 top-level TLVs into a list, and freeing it.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "ber_tlv.h"

static void BM_BerTlvExtractList1000(benchmark::State &state)
{
    std::vector<uint8_t> buffer;
    for (int i = 0; i < 1000; ++i) {
        buffer.insert(buffer.end(), {0x5A, 0x04, 0x01, 0x02, 0x03, static_cast<uint8_t>(i)});
    }
    for (auto _ : state) {
        size_t count = 0;
        BerTLVListNode *list = berTLV_extractList(buffer.data(), buffer.size(), &count);
        benchmark::DoNotOptimize(list);
        berTLV_freeBerTLVList(list);
    }
    state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_BerTlvExtractList1000);
