/*
 * RawDataObject: an owned, growable byte string, the engine's one
 * representation of encoded data. Data is NULL and length 0 when empty.
 * All memory comes from the tracked allocator; every operation writes its
 * name as a VER line.
 */
#ifndef RAW_DATA_OBJECT_H
#define RAW_DATA_OBJECT_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct RawDataObject {
    uint8_t *data;
    size_t length;
} RawDataObject;

/* An empty object, or NULL when out of memory. */
RawDataObject *rawDataObject_allocate(void);

/* An object holding a copy of the bytes (empty for NULL data or length 0),
 * or NULL when out of memory. */
RawDataObject *rawDataObject_create(const uint8_t *data, size_t length);

/* Frees the data and the object (NULL is accepted). */
void rawDataObject_free(RawDataObject *object);

/* Frees the data and leaves the object empty. */
void rawDataObject_clear(RawDataObject *object);

/* Replaces the content with a copy of the bytes. Length 0 empties the
 * object; a different non-zero length with NULL data, or a failed
 * allocation, changes nothing. */
void rawDataObject_update(RawDataObject *object, const uint8_t *data, size_t length);

/* A new object with first's bytes then second's (a NULL or empty part counts
 * as empty), or NULL when out of memory. */
RawDataObject *rawDataObject_concat(const RawDataObject *first, const RawDataObject *second);

/* As rawDataObject_concat with second limited to the bytes offset ..
 * offset + count - 1, cut at its end. */
RawDataObject *rawDataObject_concatPartially(const RawDataObject *first, const RawDataObject *second,
                                             size_t offset, size_t count);

/* Appends the bytes in place. With a NULL object or NULL data the answer is
 * true exactly when length is 0; with both given and length 0 it is false.
 * A failed allocation answers false and leaves the object as it was. */
bool rawDataObject_appendRawDataArray(RawDataObject *object, const uint8_t *data, size_t length);

#ifdef __cplusplus
}
#endif

#endif /* RAW_DATA_OBJECT_H */
