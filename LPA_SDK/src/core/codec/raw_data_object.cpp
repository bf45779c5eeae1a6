#include "codec/raw_data_object.h"

#include <stdint.h>
#include <string.h>

#include "runtime/lpa_core_log.h"
#include "runtime/lpa_core_memory.h"

/* A NULL object, or one without data, counts as empty. */
static size_t usableLength(const RawDataObject *object)
{
    return (object != NULL && object->data != NULL) ? object->length : 0;
}

static RawDataObject *newEmptyObject(void)
{
    RawDataObject *object = static_cast<RawDataObject *>(LPA_MALLOC(sizeof(RawDataObject)));
    if (object != NULL) {
        object->data = NULL;
        object->length = 0;
    }
    return object;
}

RawDataObject *rawDataObject_allocate(void)
{
    lpaCoreLog(LPA_LOG_LEVEL_VER, "rawDataObject_allocate()");
    return newEmptyObject();
}

RawDataObject *rawDataObject_create(const uint8_t *data, size_t length)
{
    lpaCoreLog(LPA_LOG_LEVEL_VER, "rawDataObject_create()");
    RawDataObject *object = newEmptyObject();
    if (object == NULL) {
        return NULL;
    }
    if (data != NULL && length > 0) {
        object->data = static_cast<uint8_t *>(LPA_MALLOC(length));
        if (object->data == NULL) {
            LPA_FREE(object);
            return NULL;
        }
        memcpy(object->data, data, length);
        object->length = length;
    }
    return object;
}

void rawDataObject_free(RawDataObject *object)
{
    lpaCoreLog(LPA_LOG_LEVEL_VER, "rawDataObject_free()");
    if (object == NULL) {
        return;
    }
    if (object->data != NULL) {
        LPA_FREE(object->data);
    }
    LPA_FREE(object);
}

void rawDataObject_clear(RawDataObject *object)
{
    lpaCoreLog(LPA_LOG_LEVEL_VER, "rawDataObject_clear()");
    if (object == NULL) {
        return;
    }
    if (object->data != NULL) {
        LPA_FREE(object->data);
    }
    object->data = NULL;
    object->length = 0;
}

void rawDataObject_update(RawDataObject *object, const uint8_t *data, size_t length)
{
    lpaCoreLog(LPA_LOG_LEVEL_VER, "rawDataObject_update()");
    if (object == NULL) {
        return;
    }
    if (length != object->length) {
        if (length == 0) {
            if (object->data != NULL) {
                LPA_FREE(object->data);
            }
            object->data = NULL;
            object->length = 0;
        } else if (data != NULL) {
            uint8_t *copy = static_cast<uint8_t *>(LPA_MALLOC(length));
            if (copy == NULL) {
                return;
            }
            memcpy(copy, data, length);
            if (object->data != NULL) {
                LPA_FREE(object->data);
            }
            object->data = copy;
            object->length = length;
        }
        return;
    }
    if (length > 0 && data != NULL && object->data != NULL) {
        memmove(object->data, data, length);
    }
}

/* first's bytes, then count bytes of second from offset (already cut to
 * second's end by the caller). */
static RawDataObject *concatenate(const RawDataObject *first, const RawDataObject *second,
                                  size_t offset, size_t count)
{
    RawDataObject *result = newEmptyObject();
    if (result == NULL) {
        return NULL;
    }
    size_t firstLength = usableLength(first);
    if (firstLength == 0 && count == 0) {
        return result;
    }
    if (firstLength > SIZE_MAX - count) {
        LPA_FREE(result);
        return NULL;
    }
    result->data = static_cast<uint8_t *>(LPA_MALLOC(firstLength + count));
    if (result->data == NULL) {
        LPA_FREE(result);
        return NULL;
    }
    if (firstLength > 0) {
        memcpy(result->data, first->data, firstLength);
    }
    if (count > 0) {
        memcpy(result->data + firstLength, second->data + offset, count);
    }
    result->length = firstLength + count;
    return result;
}

RawDataObject *rawDataObject_concat(const RawDataObject *first, const RawDataObject *second)
{
    lpaCoreLog(LPA_LOG_LEVEL_VER, "rawDataObject_concat()");
    return concatenate(first, second, 0, usableLength(second));
}

RawDataObject *rawDataObject_concatPartially(const RawDataObject *first, const RawDataObject *second,
                                             size_t offset, size_t count)
{
    lpaCoreLog(LPA_LOG_LEVEL_VER, "rawDataObject_concatPartially()");
    size_t secondLength = usableLength(second);
    size_t window = 0;
    if (offset < secondLength) {
        size_t remaining = secondLength - offset;
        window = (count < remaining) ? count : remaining;
    }
    return concatenate(first, second, offset, window);
}

bool rawDataObject_appendRawDataArray(RawDataObject *object, const uint8_t *data, size_t length)
{
    lpaCoreLog(LPA_LOG_LEVEL_VER, "rawDataObject_appendRawDataArray()");
    if (object == NULL || data == NULL) {
        return length == 0;
    }
    if (length == 0) {
        return false;
    }
    size_t oldLength = usableLength(object);
    if (oldLength > SIZE_MAX - length) {
        return false;
    }
    uint8_t *joined = static_cast<uint8_t *>(LPA_MALLOC(oldLength + length));
    if (joined == NULL) {
        return false;
    }
    if (oldLength > 0) {
        memcpy(joined, object->data, oldLength);
    }
    memcpy(joined + oldLength, data, length);
    if (object->data != NULL) {
        LPA_FREE(object->data);
    }
    object->data = joined;
    object->length = oldLength + length;
    return true;
}
