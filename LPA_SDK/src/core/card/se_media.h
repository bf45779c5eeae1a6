/*
 * The SE media interface: the record of operation pointers that an SE
 * media driver fills (TSEMedia) and the driver's constructor and
 * destructor types. Drivers include this header, never the manager.
 */
#ifndef SE_MEDIA_H
#define SE_MEDIA_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#include "lpa.h"

#ifdef __cplusplus
extern "C" {
#endif

#define SE_MEDIA_READER_NAME_SIZE 64

/* GetStatus value of a card that was removed. */
#define SE_MEDIA_STATUS_CARD_REMOVED 0x80001

typedef struct TSEMedia TSEMedia;

/* Thirteen pointer-sized members, in this order. */
struct TSEMedia {
    void *privateRecord; /* the driver's own record */
    bool (*seMediaEstablishContext)(TSEMedia *media);
    bool (*seMediaReleaseContext)(TSEMedia *media);
    bool (*seMediaIsValidContext)(TSEMedia *media);
    bool (*seMediaIsContextEstablished)(TSEMedia *media);
    bool (*seMediaSetCallbackEventExecutionError)(TSEMedia *media, LpaEventExecutionErrorCallback callback);
    bool (*seMediaListReader)(TSEMedia *media, char (*names)[SE_MEDIA_READER_NAME_SIZE], size_t capacity,
                              size_t *count);
    bool (*seMediaConnect)(TSEMedia *media, const char *readerName);
    bool (*seMediaIsConnected)(TSEMedia *media);
    /* *responseLength: capacity of response on entry, bytes received
     * (status word included) on return. */
    bool (*seMediaTransmitApdu)(TSEMedia *media, const uint8_t *apdu, size_t apduLength, uint8_t *response,
                                size_t *responseLength);
    bool (*seMediaDisconnect)(TSEMedia *media);
    bool (*seMediaDisconnectWithReset)(TSEMedia *media);
    bool (*seMediaGetStatus)(TSEMedia *media, int32_t *status);
};

/* Allocates one TSEMedia from the engine allocator, members not
 * initialised (the driver's constructor sets them); NULL when out of
 * memory. */
TSEMedia *New_SEMediaBase(void);

/* A driver's constructor (a filled record, or NULL) and destructor. */
typedef TSEMedia *(*TSEMediaConstructor)(void);
typedef void (*TSEMediaDestructor)(TSEMedia *media);

#ifdef __cplusplus
}
#endif

#endif /* SE_MEDIA_H */
