/*
 * BER-TLV as the eUICC speaks it: tags of one or two bytes (two exactly
 * when the first byte is 5F, 9F, BF, DF or FF), definite lengths of up to
 * three length bytes after 81/82/83. Decoding is one level deep: to reach a
 * nested element, decode the value of its outer TLV again.
 *
 * All memory comes from the tracked allocator; every operation writes its
 * name as a VER line. Malformed input is not an error of its own: the walk
 * ends and the caller decides.
 */
#ifndef BER_TLV_H
#define BER_TLV_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#include "codec/raw_data_object.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Values of 16 MiB and more cannot be encoded (three length bytes). */
#define BER_TLV_MAX_ENCODABLE_LENGTH 0xFFFFFFu

/* A decoded TLV with its own copy of the value (NULL when length is 0). */
typedef struct BerTLV {
    uint16_t tag;
    size_t length;
    uint8_t *value;
} BerTLV;

/* One node of a list of top-level TLVs, in buffer order. The index counts
 * from 0 in 8 bits and wraps after 255: walk a list by next. */
typedef struct BerTLVListNode {
    uint8_t index;
    BerTLV *tlv;
    struct BerTLVListNode *next;
} BerTLVListNode;

/* A copy of the first top-level TLV with this tag (all 16 bits compared).
 * *found says whether the tag was met; a match whose value runs past the
 * buffer gives *found = true and NULL. found may be NULL. */
BerTLV *berTLV_extractTagUInt16(uint16_t tag, const uint8_t *buffer, size_t size, bool *found);

/* The same for a one-byte tag. */
BerTLV *berTLV_extractTagUInt8(uint8_t tag, const uint8_t *buffer, size_t size, bool *found);

/* All top-level TLVs of the buffer, up to the end or the first malformed or
 * overrunning element; NULL when there is none. *count receives the number
 * of elements read (also when an allocation fails and NULL is answered).
 * count may be NULL. */
BerTLVListNode *berTLV_extractList(const uint8_t *buffer, size_t size, size_t *count);

/* Frees every node and its TLV. Always true. */
bool berTLV_freeBerTLVList(BerTLVListNode *list);

/* A new TLV with a copy of the value; empty (length 0, value NULL) when
 * length is 0 or value is NULL. NULL when out of memory. */
BerTLV *berTLV_create(uint16_t tag, size_t length, const uint8_t *value);

/* Frees the value and the record (NULL is accepted). */
void berTLV_freeBerTLV(BerTLV *tlv);

/* The encoded tag, length and value; NULL for a NULL TLV, a length over
 * BER_TLV_MAX_ENCODABLE_LENGTH, or when out of memory. */
RawDataObject *berTLV_buildRawDataObject(const BerTLV *tlv);

/* Creates, encodes and frees a TLV in one step. */
RawDataObject *berTLV_createAndBuildRawDataObject(uint16_t tag, size_t length, const uint8_t *value);

#ifdef __cplusplus
}
#endif

#endif /* BER_TLV_H */
