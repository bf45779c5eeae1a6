/*
 * Tracked memory: every engine heap block comes from here. Each block
 * carries guard tags, its size, a state byte and its index in the
 * live-block table; allocations are recorded against their source file
 * and line; six knobs make chosen allocations fail.
 *
 * Block layout (payload size + 18 bytes of C heap):
 *   0  A5 5A            begin tag
 *   2  size (4, BE)     low 32 bits of the payload size
 *   6  state            11 allocated, 22 freed
 *   7  index (3, BE)    live-block table index, FF FF FF when untracked
 *  10  00 00 00 00
 *  14  16 64            middle tag
 *  16  payload          filled with BD
 *  16+size AA 55        end tag
 *
 * Not thread-safe: the engine is driven from one thread at a time.
 */
#ifndef LPA_CORE_MEMORY_H
#define LPA_CORE_MEMORY_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define LPA_CORE_MEMORY_GENERATE_ERR_IF_MEMORY_COUNTER_EQ 1
#define LPA_CORE_MEMORY_GENERATE_ERR_IF_MEMORY_COUNTER_GT 2
#define LPA_CORE_MEMORY_GENERATE_ERR_IF_MEMORY_COUNTER_GE 3
#define LPA_CORE_MEMORY_GENERATE_ERR_IF_MEMORY_SIZE_REQUESTED_EQ 4
#define LPA_CORE_MEMORY_GENERATE_ERR_IF_MEMORY_SIZE_REQUESTED_GT 5
#define LPA_CORE_MEMORY_GENERATE_ERR_IF_MEMORY_SIZE_REQUESTED_GE 6

void *_lpaCoreMemoryAlloc(size_t size, const char *file, int line);
void *_lpaCoreMemoryRealloc(void *payload, size_t size);
void _lpaCoreMemoryFree(void *payload);

bool lpaCoreMemorySetParamGenerateErr(uint8_t knob, int32_t value);
bool lpaCoreMemoryGetGenerateErr(uint8_t knob, int32_t *value);

uint32_t _lpaCoreMemoryRegisterAllocation(const char *file, int line, void *block, size_t size);
void _lpaCoreMemoryLogBlockBefore(const void *block);

/* Every engine allocation goes through these. */
#define LPA_MALLOC(size) _lpaCoreMemoryAlloc((size), __FILE__, __LINE__)
#define LPA_REALLOC(payload, size) _lpaCoreMemoryRealloc((payload), (size))
#define LPA_FREE(payload) _lpaCoreMemoryFree(payload)

#ifdef __cplusplus
}
#endif

#endif /* LPA_CORE_MEMORY_H */
