// Allocation-failure sweeps over the tracked allocator's knob 1.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>

#include "lpa_core_memory.h"
#include "lpa_core_memory_internal.h"

inline uint32_t liveBlocks()
{
    return lpaCoreMemoryTestCounters().liveBlocks;
}

// Runs op with the k-th allocation call failing, for k = 1, 2, ... until op
// succeeds; answers the number of failed runs. op answers whether it
// succeeded; on success it releases what it built. After each failed run the
// live-block counter must be back at its value before the run, and
// afterFailure (when given) checks what else the failure left.
inline int allocationFailureSweep(const std::function<bool()> &op,
                                  const std::function<void(int)> &afterFailure = {})
{
    for (int k = 1; k <= 64; ++k) {
        const uint32_t live = liveBlocks();
        lpaCoreMemorySetParamGenerateErr(LPA_CORE_MEMORY_GENERATE_ERR_IF_MEMORY_COUNTER_EQ,
                                         static_cast<int32_t>(lpaCoreMemoryTestCounters().allocCalls) + k);
        const bool ok = op();
        lpaCoreMemorySetParamGenerateErr(LPA_CORE_MEMORY_GENERATE_ERR_IF_MEMORY_COUNTER_EQ, 0);
        EXPECT_EQ(liveBlocks(), live) << "run with allocation " << k << " failing";
        if (ok) {
            return k - 1;
        }
        if (afterFailure) {
            afterFailure(k);
        }
    }
    ADD_FAILURE() << "the operation never succeeded";
    return -1;
}
