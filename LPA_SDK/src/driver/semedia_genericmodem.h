/*
 * Generic-modem SE-media driver: an eUICC behind a cellular module that is
 * reachable only by AT commands. Opens a logical channel with MANAGE
 * CHANNEL, sends every APDU as AT+CSIM on that channel through the AT
 * transport (at_transport.h), closes the channel on disconnect and can
 * reset the module with AT+CFUN=1,1.
 *
 * Not thread-safe: the engine is driven from one thread at a time.
 */
#ifndef SEMEDIA_GENERICMODEM_H
#define SEMEDIA_GENERICMODEM_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#include "lpa.h"
#include "card/se_media.h"

#ifdef __cplusplus
extern "C" {
#endif

#define SE_MEDIA_GENERIC_MODEM_READER_NAME "\\\\.\\COM44"
#define SE_MEDIA_GENERIC_MODEM_REPLY_SIZE 16385
#define SE_MEDIA_GENERIC_MODEM_AT_COMMAND_SIZE 600
#define SE_MEDIA_GENERIC_MODEM_MAX_APDU 261
#define SE_MEDIA_GENERIC_MODEM_MIN_APDU 4
#define SE_MEDIA_GENERIC_MODEM_LOOKS 20
#define SE_MEDIA_GENERIC_MODEM_LOOK_WAIT_MS 50
#define SE_MEDIA_GENERIC_MODEM_CARD_STATUS 4

/* The driver's private record. */
typedef struct TSEMediaGenericModem {
    TSEMedia *media;        /* the media record it belongs to */
    int32_t handle;         /* pseudo handle: 0 closed, 1 open, -1 another record holds the port */
    uint8_t channel;        /* logical channel, 0 none, else 1 to 19 */
    char channelText[3];    /* the channel's two hex characters as the eUICC gave them */
    bool contextEstablished;
} TSEMediaGenericModem;

/* Process-wide state of the driver. */
extern int32_t _seMediaGenericModemPseudoPort; /* 1 while a pseudo handle is out */
extern char _seMediaGenericModemReply[SE_MEDIA_GENERIC_MODEM_REPLY_SIZE];
extern LpaEventExecutionErrorCallback _seMediaGenericModemCallback;

/* Creates the media record and the private record, linked and filled; NULL
 * on an allocation failure. */
TSEMedia *New_SEMediaGenericModem(void);

/* Frees the private record, then the media record. */
void Delete_SEMediaGenericModem(TSEMedia *media);

/* The twelve operations (TSEMedia members 2 to 13). */
bool _seMediaGenericModemEstablishContext(TSEMedia *media);
bool _seMediaGenericModemReleaseContext(TSEMedia *media);
bool _seMediaGenericModemIsValidContext(TSEMedia *media);
bool _seMediaGenericModemIsContextEstablished(TSEMedia *media);
bool _seMediaGenericModemSetCallbackEventExecutionError(TSEMedia *media, LpaEventExecutionErrorCallback callback);
bool _seMediaGenericModemListReader(TSEMedia *media, char (*names)[SE_MEDIA_READER_NAME_SIZE], size_t capacity,
                                    size_t *count);
bool _seMediaGenericModemConnect(TSEMedia *media, const char *readerName);
bool _seMediaGenericModemIsConnected(TSEMedia *media);
bool _seMediaGenericModemTransmitApdu(TSEMedia *media, const uint8_t *apdu, size_t length, uint8_t *response,
                                      size_t *responseLength);
bool _seMediaGenericModemDisconnect(TSEMedia *media);
bool _seMediaGenericModemDisconnectWithReset(TSEMedia *media);
bool _seMediaGenericModemGetStatus(TSEMedia *media, int32_t *status);

/* Helpers. */
bool _sendAPDUtoModemAndCheckOK(const char *hexApdu, TSEMedia *media, bool checkStatusWord);
bool _apduToAtCommand(const char *hexApdu, char *command, size_t capacity);
bool _getResponseData(TSEMedia *media);
bool _atCommandResponseToApdu(char *out, size_t capacity);
bool _checkAPDU_OkResponse(const char *hexResponse);
bool _processAPDUresponse(uint8_t *response, size_t *responseLength);
bool _openUICCChannel(TSEMedia *media);
bool _closeUICCChannel(TSEMedia *media);
void _seMediaGenericModemCloseDescriptorOrHandle(TSEMediaGenericModem *modem);

#ifdef __cplusplus
}
#endif

#endif /* SEMEDIA_GENERICMODEM_H */
