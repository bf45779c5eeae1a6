/*
 * SE media: the engine's one road to the eUICC. A record of operation
 * pointers that a driver fills (TSEMedia), the process-wide instance
 * _seMedia, the seMediaManager wrappers, and the APDU layer above them:
 * case-4 exchanges with an optional Le byte, automatic GET RESPONSE
 * chaining and the segmentation of one ES10 request into STORE DATA
 * commands.
 *
 * Not thread-safe: the engine is driven from one thread at a time.
 */
#ifndef SE_MEDIA_MANAGER_H
#define SE_MEDIA_MANAGER_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#include "lpa.h"
#include "raw_data_object.h"

#ifdef __cplusplus
extern "C" {
#endif

#define SE_MEDIA_READER_NAME_SIZE 64
#define SE_MEDIA_APDU_RESPONSE_SIZE 8192
#define SE_MEDIA_SELECT_RESPONSE_SIZE 256
#define SE_MEDIA_APDU_TRACE_SIZE 2020
#define SE_MEDIA_APDU_TRACE_MAX_BYTES 1008
#define SE_MEDIA_STORE_DATA_BLOCK_SIZE 255
#define SE_MEDIA_ISDR_SELECT_ATTEMPTS 12
#define SE_MEDIA_ISDR_SELECT_WAIT_MS 3000

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

/* The one SE media (NULL before initialisation and after uninitialisation). */
extern TSEMedia *_seMedia;

/* Set by a successful SELECT of the ISD-R, cleared when the card
 * connection closes. */
extern bool seMediaIsdrSelected;

/* Receives every response of seMediaManagerTransmitApdu, GET RESPONSE data
 * included. */
extern uint8_t seMediaApduResponse[SE_MEDIA_APDU_RESPONSE_SIZE];

/* Data part of the SELECT response. */
extern uint8_t seMediaSelectResponse[SE_MEDIA_SELECT_RESPONSE_SIZE];

/* Allocates one TSEMedia from the engine allocator, members not
 * initialised (the driver's constructor sets them); NULL when out of
 * memory. */
TSEMedia *New_SEMediaBase(void);

/* Manager wrappers on _seMedia. Each writes its trace line and answers
 * false without calling anything when _seMedia or the member is NULL. */
bool seMediaManagerInitialize(void);
bool seMediaManagerIsInitialized(void);
bool seMediaManagerUninitialize(void);
bool seMediaManagerSetCallbackEventExecutionError(LpaEventExecutionErrorCallback callback);
bool seMediaManagerEstablishContext(void);
bool seMediaManagerReleaseContext(void);
bool seMediaManagerIsContextEstablished(void);
bool seMediaManagerListReader(char (*names)[SE_MEDIA_READER_NAME_SIZE], size_t capacity, size_t *count);
bool seMediaManagerConnect(const char *readerName);
bool seMediaManagerIsConnected(void);
bool seMediaManagerDisconnect(void);

/* Sends one APDU and follows 61 xx with GET RESPONSE. The response lands
 * in seMediaApduResponse; *responseLength is its capacity on entry (at
 * most SE_MEDIA_APDU_RESPONSE_SIZE is used) and the byte count, status
 * word included, on return. A 6D 00 inside a chain records 0x801E and
 * answers true with length 0. */
bool seMediaManagerTransmitApdu(const uint8_t *apdu, size_t apduLength, size_t *responseLength);

/* One case-4 exchange: appends Le 00 while addLeToApduCase4 is set,
 * answers the status word and copies the data part when data and
 * dataCapacity are both given. */
bool _buildAndSendApduCase4(const RawDataObject *apdu, uint16_t *sw, uint8_t *data, size_t dataCapacity,
                            size_t *dataLength);
bool buildAndSendApduCase4(const RawDataObject *apdu, uint16_t *sw, uint8_t *data, size_t dataCapacity,
                           size_t *dataLength);
bool buildAndSendApduCase4Ex(const RawDataObject *apdu, uint16_t *sw, uint8_t *data, size_t dataCapacity,
                             size_t *dataLength);

/* Sends one ES10 request as one STORE DATA, or in blocks of 255 bytes
 * (P1 11 while more follow, 91 for the last; P2 the block number). The
 * outputs are those of the last block. */
bool buildAndSendStoreDataCase4(const RawDataObject *request, uint16_t *sw, uint8_t *data, size_t dataCapacity,
                                size_t *dataLength);

#ifdef __cplusplus
}
#endif

#endif /* SE_MEDIA_MANAGER_H */
