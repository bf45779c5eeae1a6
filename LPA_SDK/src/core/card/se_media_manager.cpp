#include "card/se_media_manager.h"

#include <string.h>
#include <sys/types.h>

#include "runtime/lpa_hex.h"
#include "runtime/lpa_core_log.h"
#include "runtime/lpa_core_memory.h"
#include "lpa_error_codes.h"
#include "runtime/lpa_error_internal.h"
#include "runtime/lpa_manager_config.h"

static_assert(sizeof(TSEMedia) == 13 * sizeof(void *), "TSEMedia holds thirteen pointer-sized members");

TSEMedia *_seMedia = NULL;
bool seMediaIsdrSelected = false;
uint8_t seMediaApduResponse[SE_MEDIA_APDU_RESPONSE_SIZE];

uint8_t seMediaSelectResponse[SE_MEDIA_SELECT_RESPONSE_SIZE];
/* Upper-case hex text of an outgoing APDU, for its trace line. */
static char _apduTrace[SE_MEDIA_APDU_TRACE_SIZE];

TSEMedia *New_SEMediaBase(void)
{
    return (TSEMedia *)LPA_MALLOC(sizeof(TSEMedia));
}

/* The destructor of the driver that made _seMedia. */
static TSEMediaDestructor _seMediaDestructor = NULL;

bool seMediaManagerInitialize(TSEMediaConstructor create, TSEMediaDestructor destroy)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "+seMediaManagerInitialize()");
    if (_seMedia != NULL) {
        return false;
    }
    _seMedia = create();
    _seMediaDestructor = destroy;
    return _seMedia != NULL;
}

bool seMediaManagerIsInitialized(void)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "+seMediaManagerIsInitialized()");
    return _seMedia != NULL;
}

bool seMediaManagerUninitialize(void)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "+seMediaManagerUninitialize()");
    if (_seMedia == NULL) {
        return false;
    }
    _seMediaDestructor(_seMedia);
    _seMedia = NULL;
    return true;
}

bool seMediaManagerSetCallbackEventExecutionError(LpaEventExecutionErrorCallback callback)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "+seMediaManagerSetCallbackEventExecutionError()");
    bool result = false;
    if (_seMedia != NULL && _seMedia->seMediaSetCallbackEventExecutionError != NULL) {
        result = _seMedia->seMediaSetCallbackEventExecutionError(_seMedia, callback);
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "-- seMediaManagerSetCallbackEventExecutionError() : return %s", lpaBoolText(result));
    return result;
}

bool seMediaManagerEstablishContext(void)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "+seMediaManagerEstablishContext()");
    if (_seMedia == NULL || _seMedia->seMediaEstablishContext == NULL) {
        return false;
    }
    return _seMedia->seMediaEstablishContext(_seMedia);
}

bool seMediaManagerReleaseContext(void)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "+seMediaManagerReleaseContext()");
    if (_seMedia == NULL || _seMedia->seMediaReleaseContext == NULL) {
        return false;
    }
    return _seMedia->seMediaReleaseContext(_seMedia);
}

bool seMediaManagerIsContextEstablished(void)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "+seMediaManagerIsContextEstablished()");
    if (_seMedia == NULL || _seMedia->seMediaIsContextEstablished == NULL) {
        return false;
    }
    return _seMedia->seMediaIsContextEstablished(_seMedia);
}

bool seMediaManagerListReader(char (*names)[SE_MEDIA_READER_NAME_SIZE], size_t capacity, size_t *count)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "+seMediaManagerListReader()");
    if (_seMedia == NULL || _seMedia->seMediaListReader == NULL) {
        return false;
    }
    return _seMedia->seMediaListReader(_seMedia, names, capacity, count);
}

bool seMediaManagerConnect(const char *readerName)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "+seMediaManagerConnect()");
    if (_seMedia == NULL || _seMedia->seMediaConnect == NULL) {
        return false;
    }
    return _seMedia->seMediaConnect(_seMedia, readerName);
}

bool seMediaManagerIsConnected(void)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "+seMediaManagerIsConnected()");
    if (_seMedia == NULL || _seMedia->seMediaIsConnected == NULL) {
        return false;
    }
    return _seMedia->seMediaIsConnected(_seMedia);
}

bool seMediaManagerDisconnect(void)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "+seMediaManagerDisconnect()");
    if (_seMedia == NULL || _seMedia->seMediaDisconnect == NULL) {
        return false;
    }
    return _seMedia->seMediaDisconnect(_seMedia);
}

/* A failed exchange: a removed card is disconnected. */
static void _checkStatusAfterTransmitFailure(void)
{
    lpaCoreLog(LPA_LOG_LEVEL_WAR, "Error during transmitAPDU process => Check Status...");
    if (_seMedia->seMediaGetStatus == NULL) {
        return;
    }
    int32_t status = 1;
    if (_seMedia->seMediaGetStatus(_seMedia, &status) && status == SE_MEDIA_STATUS_CARD_REMOVED) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "Card removed -> do disconnect !");
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "+seMediaManagerDisconnect()");
        if (_seMedia->seMediaDisconnect == NULL) {
            lpaCoreLog(LPA_LOG_LEVEL_WAR, "_seMedia->seMediaDisconnect is NULL !");
        } else {
            _seMedia->seMediaDisconnect(_seMedia);
        }
    }
}

bool seMediaManagerTransmitApdu(const uint8_t *apdu, size_t apduLength, size_t *responseLength)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "+seMediaManagerTransmitApdu()");
    if (_seMedia == NULL || apdu == NULL || responseLength == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Invalid NULL parameter !");
        return false;
    }
    if (_seMedia->seMediaTransmitApdu == NULL || !seMediaManagerIsConnected()) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "_seMedia->seMediaTransmitApdu NULL or failed at seMediaManagerIsConnected()!");
        return false;
    }
    /* The response buffer bounds whatever capacity the caller states. */
    size_t capacity = *responseLength;
    if (capacity > sizeof(seMediaApduResponse)) {
        capacity = sizeof(seMediaApduResponse);
    }
    size_t received = capacity;
    if (!_seMedia->seMediaTransmitApdu(_seMedia, apdu, apduLength, seMediaApduResponse, &received)) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "_seMedia->seMediaTransmitApdu return false!");
        *responseLength = 0;
        _checkStatusAfterTransmitFailure();
        return false;
    }
    if (received < 2) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Apdu response size < 2 bytes!");
        *responseLength = received;
        return true;
    }
    uint8_t sw1 = seMediaApduResponse[received - 2];
    if (sw1 == 0x61) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "APDU R - SW is 61.XX type");
        size_t dataSoFar = received - 2;
        if (received > 2) {
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "Data available on first 61.XX APDU");
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "Partial data size : %zd", (ssize_t)dataSoFar);
        }
        uint8_t le = seMediaApduResponse[received - 1];
        for (;;) {
            uint8_t getResponse[5] = {0x00, 0xC0, 0x00, 0x00, le};
            size_t replyLength = capacity - dataSoFar;
            if (!_seMedia->seMediaTransmitApdu(_seMedia, getResponse, sizeof(getResponse),
                                               seMediaApduResponse + dataSoFar, &replyLength)) {
                *responseLength = 0;
                _checkStatusAfterTransmitFailure();
                return false;
            }
            if (replyLength < 2) {
                *responseLength = 0;
                return true;
            }
            uint8_t replySw1 = seMediaApduResponse[dataSoFar + replyLength - 2];
            uint8_t replySw2 = seMediaApduResponse[dataSoFar + replyLength - 1];
            if (replySw1 == 0x61 && replyLength > 2) {
                lpaCoreLog(LPA_LOG_LEVEL_DEB, "APDU R - SW is again 61.XX type");
                dataSoFar += replyLength - 2;
                lpaCoreLog(LPA_LOG_LEVEL_DEB, "Partial data size : %ld bytes", (long)dataSoFar);
                le = replySw2;
                continue;
            }
            if ((replySw1 == 0x90 && replySw2 == 0x00) || replySw1 == 0x91) {
                *responseLength = dataSoFar + replyLength;
                lpaCoreLog(LPA_LOG_LEVEL_DEB, "Final data size : %ld bytes", (long)*responseLength);
                return true;
            }
            if (replySw1 == 0x6D && replySw2 == 0x00) {
                lpaCoreLog(LPA_LOG_LEVEL_WAR, "SW 0x6D00 detected in chained GetResponse()!");
                lpaSetLastErrorCode(SE_MEDIA_E_CHAINING_GET_RESPONSE);
                *responseLength = 0;
                return true;
            }
            /* Anything else, a 61 xx that brings no data included, ends the
             * chain: a 61 xx without data would otherwise repeat forever. */
            lpaCoreLog(LPA_LOG_LEVEL_WAR, "90.00 or 91.xx or 61.XX Status Word expected !");
            *responseLength = 0;
            return true;
        }
    }
    if (sw1 == 0x6C) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "APDU R - SW is 6C.XX type");
    } else {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "Automatic GetResponse for 6C.XX not activated => do nothing");
    }
    *responseLength = received;
    return true;
}

/* The trace text of an APDU: its upper-case hex, cut after 1,008 bytes
 * with "...". */
static const char *_traceApdu(const uint8_t *bytes, size_t length)
{
    size_t shown = length > SE_MEDIA_APDU_TRACE_MAX_BYTES ? SE_MEDIA_APDU_TRACE_MAX_BYTES : length;
    size_t written = byteArray2HexStr(bytes, shown, _apduTrace, sizeof(_apduTrace));
    if (length > SE_MEDIA_APDU_TRACE_MAX_BYTES) {
        memcpy(_apduTrace + written, "...", 4);
    }
    return _apduTrace;
}

bool _buildAndSendApduCase4(const RawDataObject *apdu, uint16_t *sw, uint8_t *data, size_t dataCapacity,
                            size_t *dataLength)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "_buildAndSendApduCase4(...)");
    if (apdu == NULL || sw == NULL || dataLength == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "_buildAndSendApduCase4() - Invalid NULL parameter!");
        return false;
    }
    RawDataObject *withLe = NULL;
    const RawDataObject *toSend = apdu;
    if (lpaManagerIsAddLeToApduCase4()) {
        static const uint8_t le = 0x00;
        withLe = rawDataObject_create(apdu->data, apdu->length);
        if (withLe == NULL || !rawDataObject_appendRawDataArray(withLe, &le, 1)) {
            lpaCoreLog(LPA_LOG_LEVEL_ERR, "Failed to build apduCase4WithLe object!");
            rawDataObject_free(withLe);
            return false;
        }
        toSend = withLe;
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "APDU (case 4 with Le added) : %s", _traceApdu(toSend->data, toSend->length));
    } else {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "APDU (without adding Le) : %s", _traceApdu(toSend->data, toSend->length));
    }

    bool result = false;
    size_t received = SE_MEDIA_APDU_RESPONSE_SIZE;
    if (!seMediaManagerTransmitApdu(toSend->data, toSend->length, &received)) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "APDU sending operation through seMedia failed!");
    } else if (received < 2) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Incorrect data or invalid SW or error! (Too short response < 2)");
    } else {
        *sw = (uint16_t)(seMediaApduResponse[received - 2] << 8 | seMediaApduResponse[received - 1]);
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "APDU SW:%04lx", (unsigned long)*sw);
        result = true;
        if (data != NULL && dataCapacity != 0) {
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "Managing data response ...");
            *dataLength = 0;
            size_t dataBytes = received - 2;
            if (dataBytes == 0) {
                lpaCoreLog(LPA_LOG_LEVEL_DEB, "No data available from R-APDU");
            } else if (dataBytes > dataCapacity) {
                lpaCoreLog(LPA_LOG_LEVEL_ERR, "Data buffer size to small (Maximum allowed:%d bytes - needed:%d bytes)",
                           (int)dataCapacity, (int)dataBytes);
                result = false;
            } else {
                memcpy(data, seMediaApduResponse, dataBytes);
                *dataLength = dataBytes;
            }
        }
    }
    rawDataObject_free(withLe);
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "_buildAndSendApduCase4(...) => return %s", lpaBoolText(result));
    return result;
}

bool buildAndSendApduCase4(const RawDataObject *apdu, uint16_t *sw, uint8_t *data, size_t dataCapacity,
                           size_t *dataLength)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "buildAndSendApduCase4(...)");
    bool result = _buildAndSendApduCase4(apdu, sw, data, dataCapacity, dataLength);
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "buildAndSendApduCase4(...) => return %s", lpaBoolText(result));
    return result;
}

bool buildAndSendApduCase4Ex(const RawDataObject *apdu, uint16_t *sw, uint8_t *data, size_t dataCapacity,
                             size_t *dataLength)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "buildAndSendApduCase4Ex(...)");
    bool result = _buildAndSendApduCase4(apdu, sw, data, dataCapacity, dataLength);
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "buildAndSendApduCase4Ex(...) => return %s", lpaBoolText(result));
    return result;
}

bool buildAndSendStoreDataCase4(const RawDataObject *request, uint16_t *sw, uint8_t *data, size_t dataCapacity,
                                size_t *dataLength)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "buildAndSendStoreDataCase4(...)");
    if (request == NULL || sw == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "buildAndSendStoreDataCase4() - Invalid NULL parameter!");
        return false;
    }
    if (request->data == NULL || request->length == 0) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "buildAndSendStoreDataCase4() - Invalid NULL or zero length parameter!");
        return false;
    }
    const uint8_t headerBytes[5] = {0x80, 0xE2, 0x91, 0x00, 0x00};
    RawDataObject *header = rawDataObject_create(headerBytes, sizeof(headerBytes));
    if (header == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "buildAndSendStoreDataCase4() - Invalid NULL APDU header!");
        return false;
    }
    size_t total = request->length;
    if (total <= SE_MEDIA_STORE_DATA_BLOCK_SIZE) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "Sending StoreData in one APDU ...");
    } else {
        lpaCoreLog(LPA_LOG_LEVEL_INF, "Sending StoreData with more than one APDU ...");
    }
    bool result = true;
    size_t blocks = (total + SE_MEDIA_STORE_DATA_BLOCK_SIZE - 1) / SE_MEDIA_STORE_DATA_BLOCK_SIZE;
    for (size_t k = 0; k < blocks && result; ++k) {
        size_t offset = k * SE_MEDIA_STORE_DATA_BLOCK_SIZE;
        size_t count = total - offset;
        if (count > SE_MEDIA_STORE_DATA_BLOCK_SIZE) {
            count = SE_MEDIA_STORE_DATA_BLOCK_SIZE;
        }
        header->data[2] = (uint8_t)(k + 1 < blocks ? 0x11 : 0x91);
        header->data[3] = (uint8_t)k;
        header->data[4] = (uint8_t)count;
        RawDataObject *block = rawDataObject_concatPartially(header, request, offset, count);
        if (block == NULL) {
            lpaCoreLog(LPA_LOG_LEVEL_ERR, "buildAndSendStoreDataCase4() - Insufficient memory resources!");
            result = false;
            break;
        }
        result = buildAndSendApduCase4(block, sw, data, dataCapacity, dataLength);
        rawDataObject_free(block);
    }
    rawDataObject_free(header);
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "buildAndSendStoreDataCase4(...) => return %s", lpaBoolText(result));
    return result;
}
