/*
 * Inspection hooks of the tracked allocator for the unit tests. Not part
 * of the engine's interface and never exported from liblpa.
 */
#ifndef LPA_CORE_MEMORY_INTERNAL_H
#define LPA_CORE_MEMORY_INTERNAL_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define LPA_CORE_MEMORY_HEADER_SIZE 16
#define LPA_CORE_MEMORY_OVERHEAD 18
#define LPA_CORE_MEMORY_SITE_ENTRIES 1024
#define LPA_CORE_MEMORY_BLOCK_ENTRIES 4096
#define LPA_CORE_MEMORY_NO_INDEX 0xFFFFFFu
#define LPA_CORE_MEMORY_SITE_FILE_SIZE 64

typedef struct LpaCoreMemoryCounters {
    uint32_t allocCalls;
    uint32_t freeCalls;
    uint32_t liveBlocks;
    uint32_t liveBytes;
    uint32_t maxLiveBlocks;
    uint32_t maxLiveBytes;
    uint32_t totalBytes;
} LpaCoreMemoryCounters;

/* The process-wide counters. */
LpaCoreMemoryCounters lpaCoreMemoryTestCounters(void);

/* Sets the highest live values to the current ones (benchmarks measure
 * one operation's peak). */
void lpaCoreMemoryTestRebasePeaks(void);

/* The 16 header bytes of the block whose payload is given. */
const uint8_t *lpaCoreMemoryTestBlockHeader(const void *payload);

/* One site entry; false when the index is out of range or the tables do
 * not exist yet. file receives LPA_CORE_MEMORY_SITE_FILE_SIZE bytes. */
bool lpaCoreMemoryTestSiteEntry(uint32_t index, char *file, int64_t *line, uint64_t *liveBlocks);

/* One live-block entry; false when the index is out of range or the
 * tables do not exist yet. */
bool lpaCoreMemoryTestLiveEntry(uint32_t index, void **block, size_t *size, uint64_t *siteIndex);

/* Number of free live-block entries (0 before the first allocation). */
uint32_t lpaCoreMemoryTestFreeLiveEntries(void);

/* Returns a block that a free refused (broken tag or state) to the C heap
 * without any check or log line, and takes it off the tables and the live
 * counters. The size is read from the header. */
void lpaCoreMemoryTestReleaseRaw(void *payload);

/* Test-only recorder of allocation calls: while set, every call of the
 * tracked allocator (refused ones too) is reported with its call number
 * (allocCalls after the call) and its file and line. NULL stops it. */
typedef void (*LpaCoreMemoryCallRecorder)(uint32_t call, const char *file, int line, void *context);
void lpaCoreMemoryTestSetCallRecorder(LpaCoreMemoryCallRecorder recorder, void *context);

#ifdef __cplusplus
}
#endif

#endif /* LPA_CORE_MEMORY_INTERNAL_H */
