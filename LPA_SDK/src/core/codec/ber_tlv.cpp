#include "codec/ber_tlv.h"

#include <string.h>

#include "runtime/lpa_core_log.h"
#include "runtime/lpa_core_memory.h"

/* One element's header as read from a buffer. */
struct TlvHeader {
    uint16_t tag;
    size_t length;
    size_t valueOffset;
    bool valueInside; /* the value ends inside the buffer */
};

static bool isTwoByteTagStart(uint8_t first)
{
    return first == 0x5F || first == 0x9F || first == 0xBF || first == 0xDF || first == 0xFF;
}

/* Reads the tag and the length of the element at offset (offset < size).
 * False when the tag or the length is missing or malformed. */
static bool readHeader(const uint8_t *buffer, size_t size, size_t offset, TlvHeader *header)
{
    size_t pos = offset;
    uint8_t first = buffer[pos++];
    if (isTwoByteTagStart(first)) {
        if (pos >= size) {
            return false;
        }
        header->tag = static_cast<uint16_t>((first << 8) | buffer[pos++]);
    } else {
        header->tag = first;
    }

    if (pos >= size) {
        return false;
    }
    uint8_t lengthByte = buffer[pos++];
    if (lengthByte < 0x80) {
        header->length = lengthByte;
    } else if (lengthByte >= 0x81 && lengthByte <= 0x83) {
        size_t lengthBytes = static_cast<size_t>(lengthByte - 0x80);
        if (lengthBytes > size - pos) {
            return false;
        }
        size_t length = 0;
        for (size_t i = 0; i < lengthBytes; ++i) {
            length = (length << 8) | buffer[pos++];
        }
        header->length = length;
    } else {
        return false; /* 0x80 (indefinite) and 0x84..0xFF */
    }
    header->valueOffset = pos;
    header->valueInside = header->length <= size - pos;
    return true;
}

static BerTLV *findTag(uint16_t tag, const uint8_t *buffer, size_t size, bool *found)
{
    if (found != NULL) {
        *found = false;
    }
    if (buffer == NULL || size < 2) {
        return NULL;
    }
    size_t offset = 0;
    while (offset < size) {
        TlvHeader header;
        if (!readHeader(buffer, size, offset, &header)) {
            return NULL;
        }
        if (header.tag == tag) {
            if (found != NULL) {
                *found = true;
            }
            if (!header.valueInside) {
                return NULL;
            }
            return berTLV_create(header.tag, header.length, buffer + header.valueOffset);
        }
        if (!header.valueInside) {
            return NULL;
        }
        offset = header.valueOffset + header.length;
    }
    return NULL;
}

static size_t tagSize(uint16_t tag)
{
    return tag < 0x100 ? 1 : 2;
}

static size_t lengthSize(size_t length)
{
    if (length < 0x80) {
        return 1;
    }
    if (length < 0x100) {
        return 2;
    }
    if (length < 0x10000) {
        return 3;
    }
    return 4;
}


BerTLV *berTLV_extractTagUInt16(uint16_t tag, const uint8_t *buffer, size_t size, bool *found)
{
    lpaCoreLog(LPA_LOG_LEVEL_VER, "berTLV_extractTagUInt16(0x%04X,...)", (unsigned)tag);
    return findTag(tag, buffer, size, found);
}

BerTLV *berTLV_extractTagUInt8(uint8_t tag, const uint8_t *buffer, size_t size, bool *found)
{
    lpaCoreLog(LPA_LOG_LEVEL_VER, "berTLV_extractTagUInt8(0x%02X,...)", (unsigned)tag);
    return findTag(tag, buffer, size, found);
}

BerTLVListNode *berTLV_extractList(const uint8_t *buffer, size_t size, size_t *count)
{
    lpaCoreLog(LPA_LOG_LEVEL_VER, "berTLV_extractList(...)");
    size_t elements = 0;
    if (count != NULL) {
        *count = 0;
    }
    if (buffer == NULL || size < 2) {
        return NULL;
    }
    BerTLVListNode *head = NULL;
    BerTLVListNode *tail = NULL;
    size_t offset = 0;
    while (offset < size) {
        TlvHeader header;
        if (!readHeader(buffer, size, offset, &header) || !header.valueInside) {
            break;
        }
        BerTLVListNode *node = static_cast<BerTLVListNode *>(LPA_MALLOC(sizeof(BerTLVListNode)));
        BerTLV *tlv = NULL;
        if (node != NULL) {
            tlv = berTLV_create(header.tag, header.length, buffer + header.valueOffset);
        }
        if (node == NULL || tlv == NULL) {
            lpaCoreLog(LPA_LOG_LEVEL_WAR, "berTLV_extractList(...) => memory issue !");
            if (node != NULL) {
                LPA_FREE(node);
            }
            berTLV_freeBerTLVList(head);
            return NULL;
        }
        node->index = static_cast<uint8_t>(elements);
        node->tlv = tlv;
        node->next = NULL;
        if (tail != NULL) {
            tail->next = node;
        } else {
            head = node;
        }
        tail = node;
        ++elements;
        if (count != NULL) {
            *count = elements;
        }
        offset = header.valueOffset + header.length;
    }
    return head;
}

bool berTLV_freeBerTLVList(BerTLVListNode *list)
{
    lpaCoreLog(LPA_LOG_LEVEL_VER, "berTLV_freeBerTLVList(...)");
    while (list != NULL) {
        BerTLVListNode *next = list->next;
        if (list->tlv != NULL) {
            berTLV_freeBerTLV(list->tlv);
        }
        LPA_FREE(list);
        list = next;
    }
    return true;
}

BerTLV *berTLV_create(uint16_t tag, size_t length, const uint8_t *value)
{
    lpaCoreLog(LPA_LOG_LEVEL_VER, "berTLV_create(tag:0x%04X)", (unsigned)tag);
    BerTLV *tlv = static_cast<BerTLV *>(LPA_MALLOC(sizeof(BerTLV)));
    if (tlv == NULL) {
        return NULL;
    }
    tlv->tag = tag;
    tlv->length = 0;
    tlv->value = NULL;
    if (length == 0 || value == NULL) {
        return tlv;
    }
    tlv->value = static_cast<uint8_t *>(LPA_MALLOC(length));
    if (tlv->value == NULL) {
        LPA_FREE(tlv);
        return NULL;
    }
    memcpy(tlv->value, value, length);
    tlv->length = length;
    return tlv;
}

void berTLV_freeBerTLV(BerTLV *tlv)
{
    lpaCoreLog(LPA_LOG_LEVEL_VER, "berTLV_freeBerTLV(...)");
    if (tlv == NULL) {
        return;
    }
    if (tlv->value != NULL) {
        LPA_FREE(tlv->value);
    }
    LPA_FREE(tlv);
}

/* Allocates and writes the encoding of the TLV into object. */
static bool _berTLV_createRawDataBuffer(const BerTLV *tlv, RawDataObject *object)
{
    lpaCoreLog(LPA_LOG_LEVEL_VER, "_berTLV_createRawDataBuffer(...)");
    size_t total = tagSize(tlv->tag) + lengthSize(tlv->length) + tlv->length;
    uint8_t *buffer = static_cast<uint8_t *>(LPA_MALLOC(total));
    if (buffer == NULL) {
        return false;
    }
    size_t pos = 0;
    if (tlv->tag >= 0x100) {
        buffer[pos++] = static_cast<uint8_t>(tlv->tag >> 8);
    }
    buffer[pos++] = static_cast<uint8_t>(tlv->tag & 0xFF);
    size_t length = tlv->length;
    switch (lengthSize(length)) {
    case 1:
        buffer[pos++] = static_cast<uint8_t>(length);
        break;
    case 2:
        buffer[pos++] = 0x81;
        buffer[pos++] = static_cast<uint8_t>(length);
        break;
    case 3:
        buffer[pos++] = 0x82;
        buffer[pos++] = static_cast<uint8_t>(length >> 8);
        buffer[pos++] = static_cast<uint8_t>(length);
        break;
    default:
        buffer[pos++] = 0x83;
        buffer[pos++] = static_cast<uint8_t>(length >> 16);
        buffer[pos++] = static_cast<uint8_t>(length >> 8);
        buffer[pos++] = static_cast<uint8_t>(length);
        break;
    }
    if (length > 0) {
        memcpy(buffer + pos, tlv->value, length);
    }
    object->data = buffer;
    object->length = total;
    return true;
}

RawDataObject *berTLV_buildRawDataObject(const BerTLV *tlv)
{
    lpaCoreLog(LPA_LOG_LEVEL_VER, "berTLV_buildRawDataObject(...)");
    /* A record claiming a length without a value cannot be encoded either. */
    if (tlv == NULL || tlv->length > BER_TLV_MAX_ENCODABLE_LENGTH ||
        (tlv->length > 0 && tlv->value == NULL)) {
        return NULL;
    }
    RawDataObject *object = rawDataObject_allocate();
    if (object == NULL) {
        return NULL;
    }
    if (!_berTLV_createRawDataBuffer(tlv, object)) {
        rawDataObject_free(object);
        return NULL;
    }
    return object;
}

RawDataObject *berTLV_createAndBuildRawDataObject(uint16_t tag, size_t length, const uint8_t *value)
{
    lpaCoreLog(LPA_LOG_LEVEL_VER, "berTLV_createAndBuildRawDataObject(...)");
    if (length > BER_TLV_MAX_ENCODABLE_LENGTH) {
        return NULL;
    }
    BerTLV *tlv = berTLV_create(tag, length, value);
    if (tlv == NULL) {
        return NULL;
    }
    RawDataObject *object = berTLV_buildRawDataObject(tlv);
    berTLV_freeBerTLV(tlv);
    return object;
}
