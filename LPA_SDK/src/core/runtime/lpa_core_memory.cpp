/*
 * Tracked memory. See lpa_core_memory.h for the block layout.
 *
 * Every line goes to the engine log; the log in turn may allocate from
 * here for long lines, so nothing in this file holds log state across a
 * log call.
 */
#include "runtime/lpa_core_memory.h"

#include <stdlib.h>
#include <string.h>

#include "runtime/lpa_core_log.h"
#include "runtime/lpa_core_memory_internal.h"

static const uint8_t kBeginTag0 = 0xA5;
static const uint8_t kBeginTag1 = 0x5A;
static const uint8_t kMiddleTag0 = 0x16;
static const uint8_t kMiddleTag1 = 0x64;
static const uint8_t kEndTag0 = 0xAA;
static const uint8_t kEndTag1 = 0x55;
static const uint8_t kStateAllocated = 0x11;
static const uint8_t kStateFreed = 0x22;
static const uint8_t kFill = 0xBD;

/* Largest payload whose size and block length still fit 32 bits. */
static const size_t kMaxPayload = (size_t)0xFFFFFFFFu - LPA_CORE_MEMORY_OVERHEAD;

struct SiteEntry {
    char file[LPA_CORE_MEMORY_SITE_FILE_SIZE];
    int64_t line;
    uint64_t liveBlocks;
};

struct BlockEntry {
    void *block;
    size_t size;
    uint64_t siteIndex;
};

static SiteEntry *s_sites = NULL;    /* _memoryAllocationInformation */
static BlockEntry *s_blocks = NULL;  /* _ptrMemoryBlockInformation */

static uint32_t s_allocCalls = 0;
static uint32_t s_freeCalls = 0;
static uint32_t s_liveBlocks = 0;
static uint32_t s_liveBytes = 0;
static uint32_t s_maxLiveBlocks = 0;
static uint32_t s_maxLiveBytes = 0;
static uint32_t s_totalBytes = 0;
static LpaCoreMemoryCallRecorder s_callRecorder = NULL; /* tests only */
static void *s_callRecorderContext = NULL;

static int32_t s_knobs[7] = {0, 0, 0, 0, 0, 0, 0};

static const char *const kKnobNames[7] = {
    NULL,
    "LPA_CORE_MEMORY_GENERATE_ERR_IF_MEMORY_COUNTER_EQ",
    "LPA_CORE_MEMORY_GENERATE_ERR_IF_MEMORY_COUNTER_GT",
    "LPA_CORE_MEMORY_GENERATE_ERR_IF_MEMORY_COUNTER_GE",
    "LPA_CORE_MEMORY_GENERATE_ERR_IF_MEMORY_SIZE_REQUESTED_EQ",
    "LPA_CORE_MEMORY_GENERATE_ERR_IF_MEMORY_SIZE_REQUESTED_GT",
    "LPA_CORE_MEMORY_GENERATE_ERR_IF_MEMORY_SIZE_REQUESTED_GE",
};

static inline unsigned long addr(const void *p)
{
    return (unsigned long)(uintptr_t)p;
}

static bool tablesExist(void)
{
    return s_sites != NULL && s_blocks != NULL;
}

static void createTables(void)
{
    if (s_sites == NULL) {
        s_sites = (SiteEntry *)calloc(LPA_CORE_MEMORY_SITE_ENTRIES, sizeof(SiteEntry));
    }
    if (s_blocks == NULL) {
        s_blocks = (BlockEntry *)calloc(LPA_CORE_MEMORY_BLOCK_ENTRIES, sizeof(BlockEntry));
    }
}

static uint32_t readSize(const uint8_t *block)
{
    return ((uint32_t)block[2] << 24) | ((uint32_t)block[3] << 16) | ((uint32_t)block[4] << 8) |
           (uint32_t)block[5];
}

static uint32_t readIndex(const uint8_t *block)
{
    return ((uint32_t)block[7] << 16) | ((uint32_t)block[8] << 8) | (uint32_t)block[9];
}

static bool beginTagOk(const uint8_t *block)
{
    return block[0] == kBeginTag0 && block[1] == kBeginTag1;
}

static bool middleTagOk(const uint8_t *block)
{
    return block[14] == kMiddleTag0 && block[15] == kMiddleTag1;
}

static bool endTagOk(const uint8_t *block, uint32_t size)
{
    const uint8_t *end = block + LPA_CORE_MEMORY_HEADER_SIZE + size;
    return end[0] == kEndTag0 && end[1] == kEndTag1;
}

/* Checks a block before reallocating it; answers its payload size. */
static bool getBlocSize(void *payload, uint32_t *size)
{
    uint8_t *block = (uint8_t *)payload - LPA_CORE_MEMORY_HEADER_SIZE;
    if (!beginTagOk(block)) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR,
                   "[LPASDKMEM] _lpaCoreMemoryGetBlocSize() => invalid Begin Tag for memory block 0x%08lx (real memory @ 0x%08lx)",
                   addr(payload), addr(block));
        _lpaCoreMemoryLogBlockBefore(block);
        return false;
    }
    if (block[6] != kStateAllocated) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR,
                   "[LPASDKMEM] _lpaCoreMemoryGetBlocSize() => Memory block 0x%08lx (real memory @ 0x%08lx) already free",
                   addr(payload), addr(block));
        return false;
    }
    uint32_t blockSize = readSize(block);
    if (!endTagOk(block, blockSize)) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR,
                   "[LPASDKMEM] _lpaCoreMemoryGetBlocSize() => invalid End Tag for memory block 0x%08lX (real memory @ 0x%08lX)",
                   addr(payload), addr(block));
        return false;
    }
    *size = blockSize;
    return true;
}


extern "C" void lpaCoreMemoryTestSetCallRecorder(LpaCoreMemoryCallRecorder recorder, void *context)
{
    s_callRecorder = recorder;
    s_callRecorderContext = context;
}

extern "C" void *_lpaCoreMemoryAlloc(size_t size, const char *file, int line)
{
    if (s_allocCalls == 0) {
        createTables();
    }
    uint32_t call = ++s_allocCalls;
    if (s_callRecorder != NULL) {
        s_callRecorder(call, file, line, s_callRecorderContext);
    }

    if (size == 0) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "[LPASDKMEM] _lpaCoreMemoryAlloc() => No memory allocation for 0 bytes !!");
        return NULL;
    }

    const int32_t *k = s_knobs;
    bool refuse = (k[1] > 0 && call == (uint32_t)k[1]) || (k[2] > 0 && call > (uint32_t)k[2]) ||
                  (k[3] > 0 && call >= (uint32_t)k[3]) || (k[4] > 0 && size == (size_t)k[4]) ||
                  (k[5] > 0 && size > (size_t)k[5]) || (k[6] > 0 && size >= (size_t)k[6]);
    if (refuse) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "[LPASDKMEM] _lpaCoreMemoryAlloc() do not allocate memory as requested");
        return NULL;
    }

    /* The header stores the size in 32 bits: larger requests are refused
     * as if the heap had no room, and size + 18 can never wrap. */
    uint8_t *block = NULL;
    if (size <= kMaxPayload) {
        block = (uint8_t *)malloc(size + LPA_CORE_MEMORY_OVERHEAD);
    }
    if (block == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "[LPASDKMEM] _lpaCoreMemoryAlloc() do not allocate memory ( requested %d bytes)",
                   (int)size);
        return NULL;
    }

    uint32_t index = LPA_CORE_MEMORY_NO_INDEX;
    if (file != NULL) {
        index = _lpaCoreMemoryRegisterAllocation(file, line, block, size);
    }
    block[0] = kBeginTag0;
    block[1] = kBeginTag1;
    block[2] = (uint8_t)(size >> 24);
    block[3] = (uint8_t)(size >> 16);
    block[4] = (uint8_t)(size >> 8);
    block[5] = (uint8_t)size;
    block[6] = kStateAllocated;
    block[7] = (uint8_t)(index >> 16);
    block[8] = (uint8_t)(index >> 8);
    block[9] = (uint8_t)index;
    block[10] = 0;
    block[11] = 0;
    block[12] = 0;
    block[13] = 0;
    block[14] = kMiddleTag0;
    block[15] = kMiddleTag1;
    uint8_t *payload = block + LPA_CORE_MEMORY_HEADER_SIZE;
    lpaCoreLog(LPA_LOG_LEVEL_VER, "[LPASDKMEM] _lpaCoreMemoryAlloc(%d bytes) => mem:0x%08lX (real memory @ 0x%08lX)",
               (int)size, addr(block), addr(payload));
    memset(payload, kFill, size);
    payload[size] = kEndTag0;
    payload[size + 1] = kEndTag1;

    s_liveBlocks += 1;
    s_liveBytes += (uint32_t)size;
    s_totalBytes += (uint32_t)size;
    if (s_liveBlocks > s_maxLiveBlocks) {
        s_maxLiveBlocks = s_liveBlocks;
        lpaCoreLog(LPA_LOG_LEVEL_VER, "[LPASDKMEM] _lpaCoreMemoryAlloc() => maxMemoryBlockAllocated updated to %d ",
                   (int)s_maxLiveBlocks);
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "[LPASDKMEM] Current MemoAllocated %d", (int)s_liveBytes);
    if (s_liveBytes > s_maxLiveBytes) {
        s_maxLiveBytes = s_liveBytes;
        lpaCoreLog(LPA_LOG_LEVEL_VER, "[LPASDKMEM] _lpaCoreMemoryAlloc() => maxMemoryAllocated updated to %d bytes",
                   (int)s_maxLiveBytes);
    }
    return payload;
}

extern "C" uint32_t _lpaCoreMemoryRegisterAllocation(const char *file, int line, void *block, size_t size)
{
    if (!tablesExist() || file == NULL || block == NULL) {
        return LPA_CORE_MEMORY_NO_INDEX;
    }
    size_t fileLength = strlen(file);
    const char *name = file;
    if (fileLength > LPA_CORE_MEMORY_SITE_FILE_SIZE - 1) {
        name = file + (fileLength - (LPA_CORE_MEMORY_SITE_FILE_SIZE - 1));
    }

    uint64_t siteIndex = LPA_CORE_MEMORY_NO_INDEX;
    for (uint32_t i = 0; i < LPA_CORE_MEMORY_SITE_ENTRIES; ++i) {
        SiteEntry *site = &s_sites[i];
        if (site->liveBlocks != 0 && site->line == (int64_t)line && strcmp(site->file, name) == 0) {
            site->liveBlocks += 1;
            siteIndex = i;
            break;
        }
    }
    if (siteIndex == LPA_CORE_MEMORY_NO_INDEX) {
        for (uint32_t i = 0; i < LPA_CORE_MEMORY_SITE_ENTRIES; ++i) {
            SiteEntry *site = &s_sites[i];
            if (site->liveBlocks == 0) {
                site->liveBlocks = 1;
                site->line = line;
                memset(site->file, 0, sizeof(site->file));
                memcpy(site->file, name, strlen(name));
                siteIndex = i;
                lpaCoreLog(LPA_LOG_LEVEL_VER,
                           "[LPASDKMEM] _lpaCoreMemoryAlloc() => Using entry <%d> on _ptrMemoryAllocationInformation object",
                           (int)i);
                break;
            }
        }
    }
    if (siteIndex == LPA_CORE_MEMORY_NO_INDEX) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR,
                   "[LPASDKMEM] _lpaCoreMemoryAlloc() => Unable to obtain a free entry on _ptrMemoryAllocationInformation object !");
    }

    for (uint32_t i = 0; i < LPA_CORE_MEMORY_BLOCK_ENTRIES; ++i) {
        BlockEntry *entry = &s_blocks[i];
        if (entry->block == NULL) {
            entry->block = block;
            entry->size = size;
            entry->siteIndex = siteIndex;
            return i;
        }
    }
    lpaCoreLog(LPA_LOG_LEVEL_WAR,
               "[LPASDKMEM] _lpaCoreMemoryAlloc() => Unable to obtain a free entry on _ptrMemoryBlockInformation object !");
    return LPA_CORE_MEMORY_NO_INDEX;
}

extern "C" void _lpaCoreMemoryLogBlockBefore(const void *block)
{
    if (!tablesExist()) {
        return;
    }
    const BlockEntry *before = NULL;
    for (uint32_t i = 0; i < LPA_CORE_MEMORY_BLOCK_ENTRIES; ++i) {
        const BlockEntry *entry = &s_blocks[i];
        if (entry->block == NULL || (uintptr_t)entry->block >= (uintptr_t)block) {
            continue;
        }
        if (before == NULL || (uintptr_t)entry->block > (uintptr_t)before->block) {
            before = entry;
        }
    }
    if (before == NULL) {
        return;
    }
    lpaCoreLog(LPA_LOG_LEVEL_WAR, "[LPASDKMEM] Memory block before at real memory @ 0x%08lX (%d bytes)",
               addr(before->block), (int)before->size);
    if (before->siteIndex < LPA_CORE_MEMORY_SITE_ENTRIES) {
        const SiteEntry *site = &s_sites[before->siteIndex];
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "[LPASDKMEM] Memory block before allocated at %s:%d", site->file,
                   (int)site->line);
    }
}

extern "C" void _lpaCoreMemoryFree(void *payload)
{
    ++s_freeCalls;
    if (payload == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "[LPASDKMEM] _lpaCoreMemoryFree() => try to free NULL memory block");
        lpaCoreLogFlush();
        return;
    }
    uint8_t *block = (uint8_t *)payload - LPA_CORE_MEMORY_HEADER_SIZE;
    if (!beginTagOk(block)) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR,
                   "[LPASDKMEM] _lpaCoreMemoryFree() => invalid Begin Tag for memory block 0x%08lX (real memory @ 0x%08lX)",
                   addr(payload), addr(block));
        _lpaCoreMemoryLogBlockBefore(block);
        lpaCoreLogFlush();
        return;
    }
    if (block[6] != kStateAllocated) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR,
                   "[LPASDKMEM] _lpaCoreMemoryFree() => memory block 0x%08lX (real memory @ 0x%08lX) already free",
                   addr(payload), addr(block));
        lpaCoreLogFlush();
        return;
    }
    uint32_t size = readSize(block);
    lpaCoreLog(LPA_LOG_LEVEL_VER, "[LPASDKMEM] _lpaCoreMemoryFree(0x%08lX) => memoryBlockSize:%d - mem:0x%08lX",
               addr(payload), (int)size, addr(block));
    if (!middleTagOk(block)) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR,
                   "[LPASDKMEM] _lpaCoreMemoryFree() => invalid Middle Tag for memory block 0x%08lX (real memory @ 0x%08lX)",
                   addr(payload), addr(block));
        lpaCoreLogFlush();
        return;
    }

    /* The allocation site, remembered for the unused-tail report. */
    bool siteKnown = false;
    char siteFile[LPA_CORE_MEMORY_SITE_FILE_SIZE] = {0};
    int64_t siteLine = 0;
    uint32_t index = readIndex(block);
    if (index == LPA_CORE_MEMORY_NO_INDEX) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR,
                   "[LPASDKMEM] _lpaCoreMemoryFree() => memory block 0x%08lX not contains entry on _memoryAllocationInformation object",
                   addr(payload));
    } else if (tablesExist() && index < LPA_CORE_MEMORY_BLOCK_ENTRIES) {
        BlockEntry *entry = &s_blocks[index];
        SiteEntry *site = NULL;
        if (entry->siteIndex < LPA_CORE_MEMORY_SITE_ENTRIES) {
            site = &s_sites[entry->siteIndex];
            siteKnown = true;
            memcpy(siteFile, site->file, sizeof(siteFile));
            siteLine = site->line;
        } else {
            lpaCoreLog(LPA_LOG_LEVEL_WAR,
                       "[LPASDKMEM] _getMemoryAllocationInformation() => indexMemoryAllocationInfo <%d> is invalid !",
                       (int)entry->siteIndex);
        }
        if (entry->block == block) {
            if (site != NULL && site->liveBlocks > 0) {
                site->liveBlocks -= 1;
            }
            entry->block = NULL;
            entry->size = 0;
            entry->siteIndex = LPA_CORE_MEMORY_NO_INDEX;
        }
    } else {
        if (!tablesExist()) {
            lpaCoreLog(LPA_LOG_LEVEL_WAR, "[LPASDKMEM] _getMemoryAllocationInformation() => invalid parameter !");
        }
        lpaCoreLog(LPA_LOG_LEVEL_WAR,
                   "[LPASDKMEM] _freeMemoryAllocationMonitoring() => indexMemoryBlockInfo <%d> is invalid !",
                   (int)index);
    }

    if (!endTagOk(block, size)) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR,
                   "[LPASDKMEM] _lpaCoreMemoryFree() => invalid End Tag for memory block 0x%08lX (real memory @ 0x%08lX)",
                   addr(payload), addr(block));
        lpaCoreLogFlush();
        return;
    }

    s_liveBytes -= size;
    s_liveBlocks -= 1;
    const uint8_t *bytes = (const uint8_t *)payload;
    uint32_t unused = 0;
    while (unused < size && bytes[size - 1 - unused] == kFill) {
        ++unused;
    }
    if (unused > 0 && unused < size) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB,
                   "[LPASDKMEM] _lpaCoreMemoryFree() => last %d bytes seems not be used (memory block size : %d)",
                   (int)unused, (int)size);
        if (siteKnown) {
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "[LPASDKMEM] _lpaCoreMemoryFree() => Memory block allocated at %s, line %d",
                       siteFile, (int)siteLine);
        }
        lpaCoreLogFlush();
    }
    block[6] = kStateFreed;
    free(block);
}

extern "C" void *_lpaCoreMemoryRealloc(void *payload, size_t size)
{
    lpaCoreLog(LPA_LOG_LEVEL_VER, "[LPASDKMEM] _lpaCoreMemoryRealloc(%08lX,%d)", addr(payload), (int)size);
    if (payload == NULL) {
        if (size == 0) {
            lpaCoreLog(LPA_LOG_LEVEL_WAR, "[LPASDKMEM] _lpaCoreMemoryRealloc() => No memory allocation for 0 bytes !!");
            return NULL;
        }
        return _lpaCoreMemoryAlloc(size, __FILE__, __LINE__);
    }
    if (size == 0) {
        _lpaCoreMemoryFree(payload);
        return NULL;
    }
    uint32_t oldSize = 0;
    if (!getBlocSize(payload, &oldSize)) {
        lpaCoreLogFlush();
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "[LPASDKMEM] _lpaCoreMemoryRealloc() => Do nothing because memory block is invalid !!");
        return NULL;
    }
    if ((size_t)oldSize == size) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB,
                   "[LPASDKMEM] _lpaCoreMemoryRealloc() : previous and requested size are identical => do nothing");
        return payload;
    }
    void *fresh = _lpaCoreMemoryAlloc(size, __FILE__, __LINE__);
    if (fresh == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "[LPASDKMEM] _lpaCoreMemoryRealloc() => Unable to allocate requested (%ld bytes) memory size !!",
                   (long)size);
        return NULL;
    }
    memcpy(fresh, payload, (size_t)oldSize < size ? (size_t)oldSize : size);
    _lpaCoreMemoryFree(payload);
    return fresh;
}

extern "C" bool lpaCoreMemorySetParamGenerateErr(uint8_t knob, int32_t value)
{
    if (knob < 1 || knob > 6) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "[LPASDKMEM] lpaCoreMemorySetParamGenerateErr() => Invalid param %d", (int)knob);
        return false;
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "[LPASDKMEM] update %s <%d> to <%d>", kKnobNames[knob], (int)s_knobs[knob],
               (int)value);
    s_knobs[knob] = value;
    return true;
}

extern "C" bool lpaCoreMemoryGetGenerateErr(uint8_t knob, int32_t *value)
{
    if (value == NULL) {
        return false;
    }
    if (knob < 1 || knob > 6) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "[LPASDKMEM] lpaCoreMemoryGetGenerateErr() => Invalid param %d", (int)knob);
        return false;
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "[LPASDKMEM] get %s <%d>", kKnobNames[knob], (int)s_knobs[knob]);
    *value = s_knobs[knob];
    return true;
}

/* ---- test inspection ---------------------------------------------------- */

extern "C" void lpaCoreMemoryTestRebasePeaks(void)
{
    s_maxLiveBlocks = s_liveBlocks;
    s_maxLiveBytes = s_liveBytes;
}

LpaCoreMemoryCounters lpaCoreMemoryTestCounters(void)
{
    LpaCoreMemoryCounters counters;
    counters.allocCalls = s_allocCalls;
    counters.freeCalls = s_freeCalls;
    counters.liveBlocks = s_liveBlocks;
    counters.liveBytes = s_liveBytes;
    counters.maxLiveBlocks = s_maxLiveBlocks;
    counters.maxLiveBytes = s_maxLiveBytes;
    counters.totalBytes = s_totalBytes;
    return counters;
}

extern "C" const uint8_t *lpaCoreMemoryTestBlockHeader(const void *payload)
{
    return (const uint8_t *)payload - LPA_CORE_MEMORY_HEADER_SIZE;
}

extern "C" bool lpaCoreMemoryTestSiteEntry(uint32_t index, char *file, int64_t *line, uint64_t *liveBlocks)
{
    if (!tablesExist() || index >= LPA_CORE_MEMORY_SITE_ENTRIES) {
        return false;
    }
    if (file != NULL) {
        memcpy(file, s_sites[index].file, LPA_CORE_MEMORY_SITE_FILE_SIZE);
    }
    if (line != NULL) {
        *line = s_sites[index].line;
    }
    if (liveBlocks != NULL) {
        *liveBlocks = s_sites[index].liveBlocks;
    }
    return true;
}

extern "C" bool lpaCoreMemoryTestLiveEntry(uint32_t index, void **block, size_t *size, uint64_t *siteIndex)
{
    if (!tablesExist() || index >= LPA_CORE_MEMORY_BLOCK_ENTRIES) {
        return false;
    }
    if (block != NULL) {
        *block = s_blocks[index].block;
    }
    if (size != NULL) {
        *size = s_blocks[index].size;
    }
    if (siteIndex != NULL) {
        *siteIndex = s_blocks[index].siteIndex;
    }
    return true;
}

extern "C" uint32_t lpaCoreMemoryTestFreeLiveEntries(void)
{
    if (!tablesExist()) {
        return 0;
    }
    uint32_t count = 0;
    for (uint32_t i = 0; i < LPA_CORE_MEMORY_BLOCK_ENTRIES; ++i) {
        if (s_blocks[i].block == NULL) {
            ++count;
        }
    }
    return count;
}

extern "C" void lpaCoreMemoryTestReleaseRaw(void *payload)
{
    if (payload == NULL) {
        return;
    }
    uint8_t *block = (uint8_t *)payload - LPA_CORE_MEMORY_HEADER_SIZE;
    if (tablesExist()) {
        for (uint32_t i = 0; i < LPA_CORE_MEMORY_BLOCK_ENTRIES; ++i) {
            BlockEntry *entry = &s_blocks[i];
            if (entry->block != block) {
                continue;
            }
            if (entry->siteIndex < LPA_CORE_MEMORY_SITE_ENTRIES && s_sites[entry->siteIndex].liveBlocks > 0) {
                s_sites[entry->siteIndex].liveBlocks -= 1;
            }
            entry->block = NULL;
            entry->size = 0;
            entry->siteIndex = LPA_CORE_MEMORY_NO_INDEX;
        }
    }
    s_liveBytes -= readSize(block);
    s_liveBlocks -= 1;
    free(block);
}
