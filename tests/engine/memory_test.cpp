// Tracked allocator: block layout, counters, knobs, damage, tables, realloc.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine_fixture.h"
#include "lpa_core_log.h"
#include "lpa_core_memory.h"
#include "lpa_core_memory_internal.h"

using hbr_test::EngineFixture;
using hbr_test::FindLine;

namespace {

class MemoryTest : public EngineFixture {
protected:
    void SetUp() override
    {
        EngineFixture::SetUp();
        logSetLevel(LPA_LOG_LEVEL_VER);
    }
};

TEST_F(MemoryTest, FreshBlockLayout)
{
    uint8_t *p = static_cast<uint8_t *>(LPA_MALLOC(3));
    ASSERT_NE(p, nullptr);
    const uint8_t *h = lpaCoreMemoryTestBlockHeader(p);
    const uint8_t expectHead[] = {0xA5, 0x5A, 0x00, 0x00, 0x00, 0x03, 0x11};
    EXPECT_EQ(0, std::memcmp(h, expectHead, sizeof(expectHead)));
    const uint8_t expectTail[] = {0x00, 0x00, 0x00, 0x00, 0x16, 0x64, 0xBD, 0xBD, 0xBD, 0xAA, 0x55};
    EXPECT_EQ(0, std::memcmp(h + 10, expectTail, sizeof(expectTail)));
    LPA_FREE(p);
}

}  // namespace
