/*
 * SE media manager: the engine's one road to the eUICC. The process-wide
 * instance _seMedia of the media record a driver fills (card/se_media.h),
 * the seMediaManager wrappers, and the APDU layer above them:
 * case-4 exchanges with an optional Le byte, automatic GET RESPONSE
 * chaining and the segmentation of one ES10 request into STORE DATA
 * commands.
 *
 * The card layer (this manager, the card connection, the ES10b and ES10c
 * requests and the package loading) uses runtime/ and codec/ only; the
 * driver is handed in by the API layer, never named here.
 *
 * Not thread-safe: the engine is driven from one thread at a time.
 */
#ifndef SE_MEDIA_MANAGER_H
#define SE_MEDIA_MANAGER_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#include "card/se_media.h"
#include "codec/raw_data_object.h"
#include "lpa.h"

#ifdef __cplusplus
extern "C" {
#endif

#define SE_MEDIA_APDU_RESPONSE_SIZE 8192
#define SE_MEDIA_SELECT_RESPONSE_SIZE 256
#define SE_MEDIA_APDU_TRACE_SIZE 2020
#define SE_MEDIA_APDU_TRACE_MAX_BYTES 1008
#define SE_MEDIA_STORE_DATA_BLOCK_SIZE 255
#define SE_MEDIA_ISDR_SELECT_ATTEMPTS 12
#define SE_MEDIA_ISDR_SELECT_WAIT_MS 3000

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

/* Manager wrappers on _seMedia. Each writes its trace line and answers
 * false without calling anything when _seMedia or the member is NULL. */
/* Creates the SE media with the driver's constructor and keeps its
 * destructor for seMediaManagerUninitialize. */
bool seMediaManagerInitialize(TSEMediaConstructor create, TSEMediaDestructor destroy);
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
