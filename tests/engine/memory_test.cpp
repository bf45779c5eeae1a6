// Tracked allocator: block layout, counters, knobs, damage, tables, realloc.
#include <gtest/gtest.h>

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "engine_fixture.h"
#include "lpa_core_log.h"
#include "lpa_core_memory.h"
#include "lpa_core_memory_internal.h"

using hbr_test::EngineFixture;
using hbr_test::FindLine;
using hbr_test::LinesContaining;
using hbr_test::LogMessage;

namespace {

std::string Hex(const void *p)
{
    char buffer[32];
    std::snprintf(buffer, sizeof(buffer), "%08lX", (unsigned long)(uintptr_t)p);
    return buffer;
}

uint32_t HeaderIndex(const void *payload)
{
    const uint8_t *h = lpaCoreMemoryTestBlockHeader(payload);
    return (uint32_t(h[7]) << 16) | (uint32_t(h[8]) << 8) | h[9];
}

// Allocates from one fixed source line, so that every block shares a site.
void *AllocFromOneSite(size_t size)
{
    return LPA_MALLOC(size);
}

// Another site, used only where a test needs one of its own: a block
// handed out while the live table is full keeps its site counted forever.
void *AllocFromSharedSite(size_t size)
{
    return LPA_MALLOC(size);
}
void *AllocFromFullTableSite(size_t size)
{
    return LPA_MALLOC(size);
}

class MemoryTest : public EngineFixture {
protected:
    void SetUp() override
    {
        EngineFixture::SetUp();
        logSetLevel(LPA_LOG_LEVEL_VER);
        start_ = lpaCoreMemoryTestCounters();
    }
    void TearDown() override
    {
        // Every test gives back what it took.
        LpaCoreMemoryCounters end = lpaCoreMemoryTestCounters();
        EXPECT_EQ(end.liveBlocks, start_.liveBlocks);
        EXPECT_EQ(end.liveBytes, start_.liveBytes);
        EngineFixture::TearDown();
    }
    std::vector<std::string> Messages(const std::string &needle)
    {
        std::vector<std::string> found;
        for (const auto &line : LinesContaining(LogLines(), needle)) {
            found.push_back(LogMessage(line));
        }
        return found;
    }
    bool Logged(const std::string &needle) { return FindLine(LogLines(), needle) >= 0; }
    LpaCoreMemoryCounters start_;
};

TEST_F(MemoryTest, FreshBlockLayoutAndCounters)
{
    LpaCoreMemoryCounters before = lpaCoreMemoryTestCounters();
    uint8_t *p = static_cast<uint8_t *>(LPA_MALLOC(3));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % alignof(std::max_align_t), 0u);
    const uint8_t *h = lpaCoreMemoryTestBlockHeader(p);
    const uint8_t head[] = {0xA5, 0x5A, 0x00, 0x00, 0x00, 0x03, 0x11};
    EXPECT_EQ(0, std::memcmp(h, head, sizeof(head)));
    const uint8_t tail[] = {0x00, 0x00, 0x00, 0x00, 0x16, 0x64, 0xBD, 0xBD, 0xBD, 0xAA, 0x55};
    EXPECT_EQ(0, std::memcmp(h + 10, tail, sizeof(tail)));

    // The live-block entry named in the header holds this block.
    uint32_t index = HeaderIndex(p);
    void *block = nullptr;
    size_t size = 0;
    uint64_t site = 0;
    ASSERT_TRUE(lpaCoreMemoryTestLiveEntry(index, &block, &size, &site));
    EXPECT_EQ(block, h);
    EXPECT_EQ(size, 3u);
    char file[LPA_CORE_MEMORY_SITE_FILE_SIZE];
    int64_t line = 0;
    uint64_t live = 0;
    ASSERT_TRUE(lpaCoreMemoryTestSiteEntry(static_cast<uint32_t>(site), file, &line, &live));
    EXPECT_NE(std::string(__FILE__).find(file), std::string::npos) << file;
    EXPECT_GE(live, 1u);

    LpaCoreMemoryCounters during = lpaCoreMemoryTestCounters();
    EXPECT_EQ(during.allocCalls, before.allocCalls + 1);
    EXPECT_EQ(during.liveBlocks, before.liveBlocks + 1);
    EXPECT_EQ(during.liveBytes, before.liveBytes + 3);
    EXPECT_EQ(during.totalBytes, before.totalBytes + 3);

    std::string expectAlloc = "[LPASDKMEM] _lpaCoreMemoryAlloc(3 bytes) => mem:0x" + Hex(h) + " (real memory @ 0x" +
                              Hex(p) + ")";
    EXPECT_TRUE(Logged(expectAlloc)) << expectAlloc;
    char current[64];
    std::snprintf(current, sizeof(current), "[LPASDKMEM] Current MemoAllocated %d", (int)during.liveBytes);
    EXPECT_TRUE(Logged(current));

    LPA_FREE(p);
    LpaCoreMemoryCounters after = lpaCoreMemoryTestCounters();
    EXPECT_EQ(after.freeCalls, during.freeCalls + 1);
    EXPECT_EQ(after.liveBlocks, before.liveBlocks);
    EXPECT_EQ(after.liveBytes, before.liveBytes);
    EXPECT_EQ(after.totalBytes, during.totalBytes);
    ASSERT_TRUE(lpaCoreMemoryTestLiveEntry(index, &block, &size, &site));
    EXPECT_EQ(block, nullptr);
    EXPECT_EQ(site, LPA_CORE_MEMORY_NO_INDEX);
    std::string expectFree = "[LPASDKMEM] _lpaCoreMemoryFree(0x" + Hex(p) + ") => memoryBlockSize:3 - mem:0x" + Hex(h);
    EXPECT_TRUE(Logged(expectFree)) << expectFree;
    // A never-written payload goes without a report.
    EXPECT_FALSE(Logged("seems not be used"));
}

TEST_F(MemoryTest, HighWaterMarksMoveAndAreLogged)
{
    LpaCoreMemoryCounters c = lpaCoreMemoryTestCounters();
    std::vector<void *> blocks;
    uint32_t needed = c.maxLiveBlocks - c.liveBlocks + 1;
    for (uint32_t i = 0; i < needed; ++i) {
        blocks.push_back(AllocFromOneSite(1));
        ASSERT_NE(blocks.back(), nullptr);
    }
    LpaCoreMemoryCounters after = lpaCoreMemoryTestCounters();
    EXPECT_EQ(after.maxLiveBlocks, c.maxLiveBlocks + 1);
    char line[128];
    std::snprintf(line, sizeof(line), "[LPASDKMEM] _lpaCoreMemoryAlloc() => maxMemoryBlockAllocated updated to %d \n",
                  (int)after.maxLiveBlocks);
    EXPECT_NE(LogText().find(line), std::string::npos) << line;

    uint32_t bigger = after.maxLiveBytes - after.liveBytes + 1;
    void *big = LPA_MALLOC(bigger);
    ASSERT_NE(big, nullptr);
    LpaCoreMemoryCounters peak = lpaCoreMemoryTestCounters();
    EXPECT_EQ(peak.maxLiveBytes, after.maxLiveBytes + 1);
    std::snprintf(line, sizeof(line), "[LPASDKMEM] _lpaCoreMemoryAlloc() => maxMemoryAllocated updated to %d bytes",
                  (int)peak.maxLiveBytes);
    EXPECT_TRUE(Logged(line)) << line;

    LPA_FREE(big);
    for (void *p : blocks) {
        LPA_FREE(p);
    }
    // Marks stay where they were.
    EXPECT_EQ(lpaCoreMemoryTestCounters().maxLiveBytes, peak.maxLiveBytes);
    EXPECT_EQ(lpaCoreMemoryTestCounters().maxLiveBlocks, peak.maxLiveBlocks);
}

TEST_F(MemoryTest, KnobSetAndGet)
{
    int32_t value = -1;
    EXPECT_TRUE(lpaCoreMemorySetParamGenerateErr(4, 7));
    EXPECT_TRUE(lpaCoreMemoryGetGenerateErr(4, &value));
    EXPECT_EQ(value, 7);
    EXPECT_TRUE(lpaCoreMemorySetParamGenerateErr(4, 0));
    EXPECT_TRUE(lpaCoreMemorySetParamGenerateErr(1, 3));
    EXPECT_TRUE(lpaCoreMemoryGetGenerateErr(6, &value));
    EXPECT_EQ(value, 0);
    EXPECT_TRUE(lpaCoreMemorySetParamGenerateErr(1, 0));
    EXPECT_FALSE(lpaCoreMemorySetParamGenerateErr(0, 1));
    EXPECT_FALSE(lpaCoreMemorySetParamGenerateErr(7, 1));
    EXPECT_FALSE(lpaCoreMemoryGetGenerateErr(0, &value));
    EXPECT_FALSE(lpaCoreMemoryGetGenerateErr(7, &value));
    size_t before = LogLines().size();
    EXPECT_FALSE(lpaCoreMemoryGetGenerateErr(4, NULL));
    EXPECT_EQ(LogLines().size(), before);

    auto m = LogMessages();
    std::vector<std::string> expected = {
        "[LPASDKMEM] update LPA_CORE_MEMORY_GENERATE_ERR_IF_MEMORY_SIZE_REQUESTED_EQ <0> to <7>",
        "[LPASDKMEM] get LPA_CORE_MEMORY_GENERATE_ERR_IF_MEMORY_SIZE_REQUESTED_EQ <7>",
        "[LPASDKMEM] update LPA_CORE_MEMORY_GENERATE_ERR_IF_MEMORY_SIZE_REQUESTED_EQ <7> to <0>",
        "[LPASDKMEM] update LPA_CORE_MEMORY_GENERATE_ERR_IF_MEMORY_COUNTER_EQ <0> to <3>",
        "[LPASDKMEM] get LPA_CORE_MEMORY_GENERATE_ERR_IF_MEMORY_SIZE_REQUESTED_GE <0>",
        "[LPASDKMEM] update LPA_CORE_MEMORY_GENERATE_ERR_IF_MEMORY_COUNTER_EQ <3> to <0>",
        "[LPASDKMEM] lpaCoreMemorySetParamGenerateErr() => Invalid param 0",
        "[LPASDKMEM] lpaCoreMemorySetParamGenerateErr() => Invalid param 7",
        "[LPASDKMEM] lpaCoreMemoryGetGenerateErr() => Invalid param 0",
        "[LPASDKMEM] lpaCoreMemoryGetGenerateErr() => Invalid param 7",
    };
    EXPECT_EQ(m, expected);
    auto lines = LogLines();
    ASSERT_EQ(lines.size(), expected.size());
    EXPECT_NE(lines[0].find(" | DEB | "), std::string::npos);
    EXPECT_NE(lines[6].find(" | WAR | "), std::string::npos);
    EXPECT_NE(lines[9].find(" | WAR | "), std::string::npos);
}

TEST_F(MemoryTest, KnobsRefuseChosenAllocations)
{
    const std::string refused = "[LPASDKMEM] _lpaCoreMemoryAlloc() do not allocate memory as requested";

    // Counter EQ: exactly the fifth call from now fails.
    uint32_t calls = lpaCoreMemoryTestCounters().allocCalls;
    ASSERT_TRUE(lpaCoreMemorySetParamGenerateErr(1, (int32_t)(calls + 5)));
    void *p[6];
    for (int i = 0; i < 6; ++i) {
        p[i] = AllocFromOneSite(4);
    }
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(p[i] == nullptr, i == 4) << i;
        if (p[i] != nullptr) {
            LPA_FREE(p[i]);
        }
    }
    EXPECT_EQ(Messages(refused).size(), 1u);
    ASSERT_TRUE(lpaCoreMemorySetParamGenerateErr(1, 0));

    // Size GE 1024.
    ASSERT_TRUE(lpaCoreMemorySetParamGenerateErr(6, 1024));
    void *small = LPA_MALLOC(1023);
    EXPECT_NE(small, nullptr);
    EXPECT_EQ(LPA_MALLOC(1024), nullptr);
    EXPECT_EQ(LPA_MALLOC(5000), nullptr);
    LPA_FREE(small);
    ASSERT_TRUE(lpaCoreMemorySetParamGenerateErr(6, 0));

    // Size EQ and GT.
    ASSERT_TRUE(lpaCoreMemorySetParamGenerateErr(4, 10));
    EXPECT_EQ(LPA_MALLOC(10), nullptr);
    void *eleven = LPA_MALLOC(11);
    EXPECT_NE(eleven, nullptr);
    LPA_FREE(eleven);
    ASSERT_TRUE(lpaCoreMemorySetParamGenerateErr(4, 0));
    ASSERT_TRUE(lpaCoreMemorySetParamGenerateErr(5, 10));
    void *ten = LPA_MALLOC(10);
    EXPECT_NE(ten, nullptr);
    EXPECT_EQ(LPA_MALLOC(11), nullptr);
    LPA_FREE(ten);
    ASSERT_TRUE(lpaCoreMemorySetParamGenerateErr(5, 0));

    // Counter GT and GE below the counter: everything is refused, and
    // every refused call still counts.
    calls = lpaCoreMemoryTestCounters().allocCalls;
    ASSERT_TRUE(lpaCoreMemorySetParamGenerateErr(2, (int32_t)calls - 1));
    EXPECT_EQ(LPA_MALLOC(1), nullptr);
    EXPECT_EQ(LPA_MALLOC(2), nullptr);
    ASSERT_TRUE(lpaCoreMemorySetParamGenerateErr(2, 0));
    ASSERT_TRUE(lpaCoreMemorySetParamGenerateErr(3, (int32_t)calls + 3));
    EXPECT_EQ(LPA_MALLOC(1), nullptr);  // call calls+3
    ASSERT_TRUE(lpaCoreMemorySetParamGenerateErr(3, 0));
    EXPECT_EQ(lpaCoreMemoryTestCounters().allocCalls, calls + 3);

    // A negative knob is off.
    ASSERT_TRUE(lpaCoreMemorySetParamGenerateErr(6, -1));
    void *one = LPA_MALLOC(1);
    EXPECT_NE(one, nullptr);
    LPA_FREE(one);
    EXPECT_EQ(Messages(refused).size(), 1u + 2u + 2u + 3u);
    for (const auto &line : LinesContaining(LogLines(), refused)) {
        EXPECT_NE(line.find(" | WAR | "), std::string::npos);
    }
}

TEST_F(MemoryTest, ZeroBytesAndNullFree)
{
    uint32_t calls = lpaCoreMemoryTestCounters().allocCalls;
    uint32_t frees = lpaCoreMemoryTestCounters().freeCalls;
    EXPECT_EQ(LPA_MALLOC(0), nullptr);
    LPA_FREE(NULL);
    EXPECT_EQ(lpaCoreMemoryTestCounters().allocCalls, calls + 1);
    EXPECT_EQ(lpaCoreMemoryTestCounters().freeCalls, frees + 1);
    auto m = LogMessages();
    std::vector<std::string> expected = {
        "[LPASDKMEM] _lpaCoreMemoryAlloc() => No memory allocation for 0 bytes !!",
        "[LPASDKMEM] _lpaCoreMemoryFree() => try to free NULL memory block",
    };
    EXPECT_EQ(m, expected);
}

TEST_F(MemoryTest, SizesBeyondThirtyTwoBitsAreRefused)
{
    LpaCoreMemoryCounters before = lpaCoreMemoryTestCounters();
    EXPECT_EQ(LPA_MALLOC(SIZE_MAX), nullptr);
    EXPECT_EQ(LPA_MALLOC((size_t)0xFFFFFFFFu - 17), nullptr);
    LpaCoreMemoryCounters after = lpaCoreMemoryTestCounters();
    EXPECT_EQ(after.allocCalls, before.allocCalls + 2);
    EXPECT_EQ(after.liveBlocks, before.liveBlocks);
    EXPECT_EQ(after.totalBytes, before.totalBytes);

    // Reallocation inherits the bound and leaves the old block alone.
    uint8_t *p = static_cast<uint8_t *>(LPA_MALLOC(4));
    ASSERT_NE(p, nullptr);
    std::memcpy(p, "abcd", 4);
    EXPECT_EQ(LPA_REALLOC(p, SIZE_MAX), nullptr);
    EXPECT_EQ(0, std::memcmp(p, "abcd", 4));
    EXPECT_EQ(lpaCoreMemoryTestBlockHeader(p)[6], 0x11);
    LPA_FREE(p);

    auto lines = LinesContaining(LogLines(), "[LPASDKMEM] _lpaCoreMemoryAlloc() do not allocate memory ( requested ");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_NE(lines[0].find(" | ERR | [LPASDKMEM] _lpaCoreMemoryAlloc() do not allocate memory ( requested -1 bytes)"),
              std::string::npos)
        << lines[0];
    EXPECT_NE(lines[1].find("( requested -18 bytes)"), std::string::npos) << lines[1];
    EXPECT_EQ(Messages("Unable to allocate requested (" + std::to_string((long)SIZE_MAX) + " bytes) memory size !!")
                  .size(),
              1u);
}

// ---- damage ------------------------------------------------------------

TEST_F(MemoryTest, OverrunEndTagIsReportedAndBlockKept)
{
    uint8_t *p = static_cast<uint8_t *>(LPA_MALLOC(8));
    ASSERT_NE(p, nullptr);
    uint32_t index = HeaderIndex(p);
    LpaCoreMemoryCounters before = lpaCoreMemoryTestCounters();
    std::memset(p, 0, 9);  // one byte past the payload
    LPA_FREE(p);
    LpaCoreMemoryCounters after = lpaCoreMemoryTestCounters();
    EXPECT_EQ(after.freeCalls, before.freeCalls + 1);
    EXPECT_EQ(after.liveBlocks, before.liveBlocks);
    EXPECT_EQ(after.liveBytes, before.liveBytes);
    EXPECT_EQ(lpaCoreMemoryTestBlockHeader(p)[6], 0x11);  // still allocated: not released
    // The live entry was cleared before the end tag was looked at.
    void *block = p;
    ASSERT_TRUE(lpaCoreMemoryTestLiveEntry(index, &block, NULL, NULL));
    EXPECT_EQ(block, nullptr);

    auto m = Messages("invalid End Tag");
    ASSERT_EQ(m.size(), 1u);
    EXPECT_TRUE(std::regex_match(m[0], std::regex(R"(\[LPASDKMEM\] _lpaCoreMemoryFree\(\) => invalid End Tag for memory block 0x[0-9A-F]{8,} \(real memory @ 0x[0-9A-F]{8,}\))")))
        << m[0];
    EXPECT_EQ(m[0], "[LPASDKMEM] _lpaCoreMemoryFree() => invalid End Tag for memory block 0x" + Hex(p) +
                        " (real memory @ 0x" + Hex(lpaCoreMemoryTestBlockHeader(p)) + ")");

    // Repair and free: the block goes back to the heap.
    p[8] = 0xAA;
    LPA_FREE(p);
    EXPECT_EQ(lpaCoreMemoryTestCounters().liveBlocks, before.liveBlocks - 1);
}

TEST_F(MemoryTest, BrokenBeginTagNamesTheBlockBefore)
{
    // The damaged block is the one with the highest address; the expected
    // neighbour comes from the live table, not from an assumed heap layout.
    std::vector<uint8_t *> blocks;
    for (int i = 0; i < 4; ++i) {
        blocks.push_back(static_cast<uint8_t *>(LPA_MALLOC(24)));
        ASSERT_NE(blocks.back(), nullptr);
    }
    uint8_t *victim = blocks[0];
    for (uint8_t *p : blocks) {
        if (p > victim) {
            victim = p;
        }
    }
    uint8_t *victimBlock = const_cast<uint8_t *>(lpaCoreMemoryTestBlockHeader(victim));
    void *neighbour = nullptr;
    size_t neighbourSize = 0;
    uint64_t neighbourSite = LPA_CORE_MEMORY_NO_INDEX;
    for (uint32_t i = 0; i < LPA_CORE_MEMORY_BLOCK_ENTRIES; ++i) {
        void *b = nullptr;
        size_t s = 0;
        uint64_t site = 0;
        ASSERT_TRUE(lpaCoreMemoryTestLiveEntry(i, &b, &s, &site));
        if (b != nullptr && b < static_cast<void *>(victimBlock) && (neighbour == nullptr || b > neighbour)) {
            neighbour = b;
            neighbourSize = s;
            neighbourSite = site;
        }
    }
    ASSERT_NE(neighbour, nullptr);
    char file[LPA_CORE_MEMORY_SITE_FILE_SIZE] = {0};
    int64_t line = 0;
    ASSERT_TRUE(lpaCoreMemoryTestSiteEntry(static_cast<uint32_t>(neighbourSite), file, &line, NULL));

    LpaCoreMemoryCounters before = lpaCoreMemoryTestCounters();
    victimBlock[0] = 0x00;
    LPA_FREE(victim);
    EXPECT_EQ(lpaCoreMemoryTestCounters().liveBlocks, before.liveBlocks);

    auto lines = LogLines();
    int begin = FindLine(lines, "[LPASDKMEM] _lpaCoreMemoryFree() => invalid Begin Tag for memory block 0x" + Hex(victim) +
                                    " (real memory @ 0x" + Hex(victimBlock) + ")");
    ASSERT_GE(begin, 0);
    ASSERT_GE(lines.size(), static_cast<size_t>(begin + 3));
    EXPECT_EQ(LogMessage(lines[begin + 1]), "[LPASDKMEM] Memory block before at real memory @ 0x" + Hex(neighbour) + " (" +
                                                std::to_string(neighbourSize) + " bytes)");
    EXPECT_EQ(LogMessage(lines[begin + 2]),
              "[LPASDKMEM] Memory block before allocated at " + std::string(file) + ":" + std::to_string(line));
    EXPECT_NE(lines[begin + 1].find(" | WAR | "), std::string::npos);

    victimBlock[0] = 0xA5;
    for (uint8_t *p : blocks) {
        LPA_FREE(p);
    }
}

TEST_F(MemoryTest, BrokenMiddleTagOrStateIsRefused)
{
    uint8_t *a = static_cast<uint8_t *>(LPA_MALLOC(5));
    uint8_t *b = static_cast<uint8_t *>(LPA_MALLOC(6));
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    uint8_t *ha = const_cast<uint8_t *>(lpaCoreMemoryTestBlockHeader(a));
    uint8_t *hb = const_cast<uint8_t *>(lpaCoreMemoryTestBlockHeader(b));
    LpaCoreMemoryCounters before = lpaCoreMemoryTestCounters();
    ha[15] = 0x00;
    hb[6] = 0x22;
    LPA_FREE(a);
    LPA_FREE(b);
    EXPECT_EQ(lpaCoreMemoryTestCounters().liveBlocks, before.liveBlocks);
    EXPECT_EQ(Messages("[LPASDKMEM] _lpaCoreMemoryFree() => invalid Middle Tag for memory block 0x" + Hex(a) +
                       " (real memory @ 0x" + Hex(ha) + ")")
                  .size(),
              1u);
    EXPECT_EQ(Messages("[LPASDKMEM] _lpaCoreMemoryFree() => memory block 0x" + Hex(b) + " (real memory @ 0x" + Hex(hb) +
                       ") already free")
                  .size(),
              1u);
    // Release one through the test accessor, repair and free the other.
    lpaCoreMemoryTestReleaseRaw(a);
    hb[6] = 0x11;
    LPA_FREE(b);
}

TEST_F(MemoryTest, UnusedTailIsReportedWithItsSite)
{
    uint8_t *p = static_cast<uint8_t *>(LPA_MALLOC(32));
    const int allocLine = __LINE__ - 1;
    uint8_t *q = static_cast<uint8_t *>(LPA_MALLOC(16));
    ASSERT_NE(p, nullptr);
    ASSERT_NE(q, nullptr);
    std::memset(p, 'x', 22);
    std::memset(q, 'y', 16);
    LPA_FREE(p);
    LPA_FREE(q);

    auto lines = LogLines();
    int tail = FindLine(lines, "[LPASDKMEM] _lpaCoreMemoryFree() => last 10 bytes seems not be used (memory block size : 32)");
    ASSERT_GE(tail, 0);
    EXPECT_NE(lines[tail].find(" | DEB | "), std::string::npos);
    std::string file = __FILE__;
    if (file.size() > 63) {
        file = file.substr(file.size() - 63);
    }
    EXPECT_EQ(LogMessage(lines[tail + 1]), "[LPASDKMEM] _lpaCoreMemoryFree() => Memory block allocated at " + file +
                                               ", line " + std::to_string(allocLine));
    EXPECT_EQ(Messages("seems not be used").size(), 1u);
}

// ---- tables --------------------------------------------------------------

TEST_F(MemoryTest, BlocksFromOneSiteShareAnEntry)
{
    void *a = AllocFromSharedSite(4);
    void *b = AllocFromSharedSite(4);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    uint64_t siteA = 0, siteB = 0;
    ASSERT_TRUE(lpaCoreMemoryTestLiveEntry(HeaderIndex(a), NULL, NULL, &siteA));
    ASSERT_TRUE(lpaCoreMemoryTestLiveEntry(HeaderIndex(b), NULL, NULL, &siteB));
    EXPECT_EQ(siteA, siteB);
    uint64_t live = 0;
    ASSERT_TRUE(lpaCoreMemoryTestSiteEntry(static_cast<uint32_t>(siteA), NULL, NULL, &live));
    EXPECT_EQ(live, 2u);
    EXPECT_EQ(Messages("[LPASDKMEM] _lpaCoreMemoryAlloc() => Using entry <" + std::to_string(siteA) +
                       "> on _ptrMemoryAllocationInformation object")
                  .size(),
              1u);
    EXPECT_EQ(Messages("Using entry").size(), 1u);
    LPA_FREE(a);
    ASSERT_TRUE(lpaCoreMemoryTestSiteEntry(static_cast<uint32_t>(siteA), NULL, NULL, &live));
    EXPECT_EQ(live, 1u);
    LPA_FREE(b);
    ASSERT_TRUE(lpaCoreMemoryTestSiteEntry(static_cast<uint32_t>(siteA), NULL, NULL, &live));
    EXPECT_EQ(live, 0u);
}

TEST_F(MemoryTest, LongFileNameKeepsItsLast63Characters)
{
    std::string name(37, 'a');
    name += "/" + std::string(58, 'b') + "tail.c";
    ASSERT_EQ(name.size(), 102u);
    void *p = _lpaCoreMemoryAlloc(8, name.c_str(), 4242);
    ASSERT_NE(p, nullptr);
    uint64_t site = 0;
    ASSERT_TRUE(lpaCoreMemoryTestLiveEntry(HeaderIndex(p), NULL, NULL, &site));
    char file[LPA_CORE_MEMORY_SITE_FILE_SIZE];
    int64_t line = 0;
    ASSERT_TRUE(lpaCoreMemoryTestSiteEntry(static_cast<uint32_t>(site), file, &line, NULL));
    EXPECT_EQ(std::string(file), name.substr(name.size() - 63));
    EXPECT_EQ(line, 4242);
    LPA_FREE(p);

    // Without a file name the block is not tracked.
    void *untracked = _lpaCoreMemoryAlloc(8, NULL, 0);
    ASSERT_NE(untracked, nullptr);
    EXPECT_EQ(HeaderIndex(untracked), LPA_CORE_MEMORY_NO_INDEX);
    LPA_FREE(untracked);
    EXPECT_EQ(Messages("[LPASDKMEM] _lpaCoreMemoryFree() => memory block 0x" + Hex(untracked) +
                       " not contains entry on _memoryAllocationInformation object")
                  .size(),
              1u);
}

TEST_F(MemoryTest, FreedLiveEntriesAreReusedLowestFirst)
{
    void *a = AllocFromOneSite(1);
    void *b = AllocFromOneSite(1);
    void *c = AllocFromOneSite(1);
    ASSERT_TRUE(a && b && c);
    uint32_t ia = HeaderIndex(a), ib = HeaderIndex(b), ic = HeaderIndex(c);
    EXPECT_LT(ia, ib);
    EXPECT_LT(ib, ic);
    LPA_FREE(b);
    LPA_FREE(a);
    void *d = AllocFromOneSite(1);
    EXPECT_EQ(HeaderIndex(d), ia);
    void *e = AllocFromOneSite(1);
    EXPECT_EQ(HeaderIndex(e), ib);
    LPA_FREE(c);
    LPA_FREE(d);
    LPA_FREE(e);
}

TEST_F(MemoryTest, FullLiveTableHandsOutUntrackedBlocks)
{
    logSetLevel(LPA_LOG_LEVEL_WAR);
    void *first = AllocFromFullTableSite(1);  // makes sure the tables exist
    ASSERT_NE(first, nullptr);
    uint32_t freeEntries = lpaCoreMemoryTestFreeLiveEntries();
    std::vector<void *> blocks;
    for (uint32_t i = 0; i < freeEntries; ++i) {
        blocks.push_back(AllocFromFullTableSite(1));
        ASSERT_NE(blocks.back(), nullptr);
        ASSERT_NE(HeaderIndex(blocks.back()), LPA_CORE_MEMORY_NO_INDEX);
    }
    EXPECT_EQ(lpaCoreMemoryTestFreeLiveEntries(), 0u);
    void *extra = AllocFromFullTableSite(1);
    ASSERT_NE(extra, nullptr);
    const uint8_t *h = lpaCoreMemoryTestBlockHeader(extra);
    EXPECT_EQ(h[7], 0xFF);
    EXPECT_EQ(h[8], 0xFF);
    EXPECT_EQ(h[9], 0xFF);
    EXPECT_EQ(Messages("[LPASDKMEM] _lpaCoreMemoryAlloc() => Unable to obtain a free entry on _ptrMemoryBlockInformation object !")
                  .size(),
              1u);
    LPA_FREE(extra);
    EXPECT_EQ(Messages("[LPASDKMEM] _lpaCoreMemoryFree() => memory block 0x" + Hex(extra) +
                       " not contains entry on _memoryAllocationInformation object")
                  .size(),
              1u);
    for (void *p : blocks) {
        LPA_FREE(p);
    }
    LPA_FREE(first);
    EXPECT_EQ(lpaCoreMemoryTestFreeLiveEntries(), freeEntries + 1);
}

TEST_F(MemoryTest, FullSiteTableStillHandsOutBlocks)
{
    logSetLevel(LPA_LOG_LEVEL_WAR);
    void *first = LPA_MALLOC(1);  // makes sure the tables exist
    ASSERT_NE(first, nullptr);
    uint32_t freeSites = 0;
    for (uint32_t i = 0; i < LPA_CORE_MEMORY_SITE_ENTRIES; ++i) {
        uint64_t live = 1;
        ASSERT_TRUE(lpaCoreMemoryTestSiteEntry(i, NULL, NULL, &live));
        freeSites += live == 0 ? 1 : 0;
    }
    std::vector<void *> blocks;
    for (uint32_t i = 0; i < freeSites; ++i) {
        blocks.push_back(_lpaCoreMemoryAlloc(1, "many_sites.c", static_cast<int>(i + 1)));
        ASSERT_NE(blocks.back(), nullptr);
    }
    void *extra = _lpaCoreMemoryAlloc(1, "many_sites.c", 0);
    ASSERT_NE(extra, nullptr);
    uint32_t index = HeaderIndex(extra);
    ASSERT_NE(index, LPA_CORE_MEMORY_NO_INDEX);
    uint64_t site = 0;
    ASSERT_TRUE(lpaCoreMemoryTestLiveEntry(index, NULL, NULL, &site));
    EXPECT_EQ(site, LPA_CORE_MEMORY_NO_INDEX);
    EXPECT_EQ(Messages("[LPASDKMEM] _lpaCoreMemoryAlloc() => Unable to obtain a free entry on "
                       "_ptrMemoryAllocationInformation object !")
                  .size(),
              1u);
    LPA_FREE(extra);
    EXPECT_EQ(Messages("[LPASDKMEM] _getMemoryAllocationInformation() => indexMemoryAllocationInfo <16777215> is invalid !")
                  .size(),
              1u);
    for (void *p : blocks) {
        LPA_FREE(p);
    }
    LPA_FREE(first);
}

// ---- realloc -------------------------------------------------------------

TEST_F(MemoryTest, ReallocFromNullAndToZero)
{
    EXPECT_EQ(LPA_REALLOC(NULL, 0), nullptr);
    EXPECT_EQ(Messages("[LPASDKMEM] _lpaCoreMemoryRealloc() => No memory allocation for 0 bytes !!").size(), 1u);
    EXPECT_EQ(Messages("[LPASDKMEM] _lpaCoreMemoryRealloc(00000000,0)").size(), 1u);

    uint8_t *p = static_cast<uint8_t *>(LPA_REALLOC(NULL, 5));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(lpaCoreMemoryTestBlockHeader(p)[5], 5);
    EXPECT_EQ(p[4], 0xBD);
    uint32_t live = lpaCoreMemoryTestCounters().liveBlocks;
    EXPECT_EQ(LPA_REALLOC(p, 0), nullptr);
    EXPECT_EQ(lpaCoreMemoryTestCounters().liveBlocks, live - 1);
}

TEST_F(MemoryTest, ReallocSameGrowShrink)
{
    uint8_t *p = static_cast<uint8_t *>(LPA_MALLOC(4));
    ASSERT_NE(p, nullptr);
    std::memcpy(p, "abcd", 4);
    EXPECT_EQ(LPA_REALLOC(p, 4), p);
    EXPECT_EQ(Messages("[LPASDKMEM] _lpaCoreMemoryRealloc(" + Hex(p) + ",4)").size(), 1u);
    EXPECT_EQ(Messages("[LPASDKMEM] _lpaCoreMemoryRealloc() : previous and requested size are identical => do nothing")
                  .size(),
              1u);

    uint32_t live = lpaCoreMemoryTestCounters().liveBlocks;
    uint8_t *grown = static_cast<uint8_t *>(LPA_REALLOC(p, 8));
    ASSERT_NE(grown, nullptr);
    EXPECT_EQ(lpaCoreMemoryTestCounters().liveBlocks, live);
    EXPECT_EQ(0, std::memcmp(grown, "abcd", 4));
    for (int i = 4; i < 8; ++i) {
        EXPECT_EQ(grown[i], 0xBD) << i;
    }
    EXPECT_EQ(lpaCoreMemoryTestBlockHeader(grown)[5], 8);

    std::memcpy(grown, "ABCDEFGH", 8);
    uint8_t *shrunk = static_cast<uint8_t *>(LPA_REALLOC(grown, 3));
    ASSERT_NE(shrunk, nullptr);
    EXPECT_EQ(0, std::memcmp(shrunk, "ABC", 3));
    EXPECT_EQ(shrunk[3], 0xAA);  // end tag right after the smaller payload
    EXPECT_EQ(shrunk[4], 0x55);
    EXPECT_EQ(lpaCoreMemoryTestCounters().liveBlocks, live);
    LPA_FREE(shrunk);
}

TEST_F(MemoryTest, ReallocFailureKeepsOldBlock)
{
    uint8_t *p = static_cast<uint8_t *>(LPA_MALLOC(4));
    ASSERT_NE(p, nullptr);
    std::memcpy(p, "wxyz", 4);
    ASSERT_TRUE(lpaCoreMemorySetParamGenerateErr(4, 40));
    EXPECT_EQ(LPA_REALLOC(p, 40), nullptr);
    EXPECT_EQ(0, std::memcmp(p, "wxyz", 4));
    EXPECT_EQ(lpaCoreMemoryTestBlockHeader(p)[6], 0x11);
    EXPECT_EQ(Messages("[LPASDKMEM] _lpaCoreMemoryRealloc() => Unable to allocate requested (40 bytes) memory size !!")
                  .size(),
              1u);
    LPA_FREE(p);
}

TEST_F(MemoryTest, ReallocOfInvalidBlockTouchesNothing)
{
    uint8_t *p = static_cast<uint8_t *>(LPA_MALLOC(6));
    ASSERT_NE(p, nullptr);
    uint8_t *h = const_cast<uint8_t *>(lpaCoreMemoryTestBlockHeader(p));
    LpaCoreMemoryCounters before = lpaCoreMemoryTestCounters();
    const std::string nothing = "[LPASDKMEM] _lpaCoreMemoryRealloc() => Do nothing because memory block is invalid !!";

    h[1] = 0x00;
    EXPECT_EQ(LPA_REALLOC(p, 12), nullptr);
    h[1] = 0x5A;
    h[6] = 0x22;
    EXPECT_EQ(LPA_REALLOC(p, 12), nullptr);
    h[6] = 0x11;
    p[6] = 0x00;
    EXPECT_EQ(LPA_REALLOC(p, 12), nullptr);
    p[6] = 0xAA;

    LpaCoreMemoryCounters after = lpaCoreMemoryTestCounters();
    EXPECT_EQ(after.allocCalls, before.allocCalls);
    EXPECT_EQ(after.freeCalls, before.freeCalls);
    EXPECT_EQ(Messages(nothing).size(), 3u);
    std::string lowerP = Hex(p), lowerH = Hex(h);
    for (auto &c : lowerP) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (auto &c : lowerH) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(Messages("[LPASDKMEM] _lpaCoreMemoryGetBlocSize() => invalid Begin Tag for memory block 0x" + lowerP +
                       " (real memory @ 0x" + lowerH + ")")
                  .size(),
              1u);
    EXPECT_EQ(Messages("[LPASDKMEM] _lpaCoreMemoryGetBlocSize() => Memory block 0x" + lowerP + " (real memory @ 0x" +
                       lowerH + ") already free")
                  .size(),
              1u);
    EXPECT_EQ(Messages("[LPASDKMEM] _lpaCoreMemoryGetBlocSize() => invalid End Tag for memory block 0x" + Hex(p) +
                       " (real memory @ 0x" + Hex(h) + ")")
                  .size(),
              1u);
    LPA_FREE(p);
}

}  // namespace
