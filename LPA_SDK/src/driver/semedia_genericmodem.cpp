#include "driver/semedia_genericmodem.h"

#include <stdio.h>
#include <string.h>
#include <windows.h>

#include "driver/at_transport.h"
#include "runtime/lpa_hex.h"
#include "runtime/lpa_core_log.h"
#include "runtime/lpa_core_memory.h"

int32_t _seMediaGenericModemPseudoPort = 0;
char _seMediaGenericModemReply[SE_MEDIA_GENERIC_MODEM_REPLY_SIZE];
LpaEventExecutionErrorCallback _seMediaGenericModemCallback = NULL;

static const char _resetCommand[] = "AT+CFUN=1,1\r";

static TSEMediaGenericModem *_modemOf(TSEMedia *media)
{
    return media == NULL ? NULL : (TSEMediaGenericModem *)media->privateRecord;
}

static bool _isConnected(const TSEMediaGenericModem *modem)
{
    return modem != NULL && modem->handle != 0 && modem->channel != 0;
}

static void _clearChannel(TSEMediaGenericModem *modem)
{
    modem->channel = 0;
    memset(modem->channelText, 0, sizeof(modem->channelText));
}

/* Exit trace of the operations that write one. */
static bool _traceExit(const char *function, bool result)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "-- semedia_external :> %s() return res=%s", function, lpaBoolText(result));
    return result;
}

/* Entry trace of an operation; false, after "seMedia is NULL !", when the
 * media is missing. */
static bool _enter(TSEMedia *media, const char *name, const char *marker = "++")
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "%s semedia_genericmodem :> %s()", marker, name);
    if (media == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "seMedia is NULL !");
        return false;
    }
    return true;
}

TSEMedia *New_SEMediaGenericModem(void)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "++ semedia_genericmodem :> New_SEMediaGenericModem()");
    TSEMediaGenericModem *modem = (TSEMediaGenericModem *)LPA_MALLOC(sizeof(TSEMediaGenericModem));
    TSEMedia *media = NULL;
    if (modem != NULL) {
        media = New_SEMediaBase();
        if (media == NULL) {
            LPA_FREE(modem);
        }
    }
    if (media != NULL) {
        modem->media = media;
        modem->handle = 0;
        modem->contextEstablished = false;
        _clearChannel(modem);
        media->privateRecord = modem;
        media->seMediaEstablishContext = _seMediaGenericModemEstablishContext;
        media->seMediaReleaseContext = _seMediaGenericModemReleaseContext;
        media->seMediaIsValidContext = _seMediaGenericModemIsValidContext;
        media->seMediaIsContextEstablished = _seMediaGenericModemIsContextEstablished;
        media->seMediaSetCallbackEventExecutionError = _seMediaGenericModemSetCallbackEventExecutionError;
        media->seMediaListReader = _seMediaGenericModemListReader;
        media->seMediaConnect = _seMediaGenericModemConnect;
        media->seMediaIsConnected = _seMediaGenericModemIsConnected;
        media->seMediaTransmitApdu = _seMediaGenericModemTransmitApdu;
        media->seMediaDisconnect = _seMediaGenericModemDisconnect;
        media->seMediaDisconnectWithReset = _seMediaGenericModemDisconnectWithReset;
        media->seMediaGetStatus = _seMediaGenericModemGetStatus;
        memset(_seMediaGenericModemReply, 0, sizeof(_seMediaGenericModemReply));
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "-- semedia_genericmodem :> New_SEMediaGenericModem() return ptrTSEMedia=0x%lx",
               (unsigned long)(uintptr_t)media);
    return media;
}

void Delete_SEMediaGenericModem(TSEMedia *media)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "++ semedia_genericmodem :> Delete_SEMediaGenericModem()");
    if (media != NULL) {
        if (media->privateRecord != NULL) {
            LPA_FREE(media->privateRecord);
        }
        LPA_FREE(media);
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "-- semedia_external :> Delete_SEMediaExternal()");
}

bool _seMediaGenericModemEstablishContext(TSEMedia *media)
{
    static const char name[] = "_seMediaGenericModemEstablishContext";
    if (!_enter(media, name, "+")) {
        return _traceExit(name, false);
    }
    TSEMediaGenericModem *modem = _modemOf(media);
    if (modem == NULL) {
        return _traceExit(name, false);
    }
    if (modem->contextEstablished) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "Context already established");
        return _traceExit(name, false);
    }
    modem->contextEstablished = true;
    return _traceExit(name, true);
}

bool _seMediaGenericModemReleaseContext(TSEMedia *media)
{
    static const char name[] = "_seMediaGenericModemReleaseContext";
    if (!_enter(media, name)) {
        return _traceExit(name, false);
    }
    TSEMediaGenericModem *modem = _modemOf(media);
    if (modem == NULL) {
        return _traceExit(name, false);
    }
    if (_isConnected(modem)) {
        _seMediaGenericModemDisconnect(media);
    }
    if (!modem->contextEstablished) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "Context not established");
        return _traceExit(name, false);
    }
    modem->contextEstablished = false;
    return _traceExit(name, true);
}

bool _seMediaGenericModemIsValidContext(TSEMedia *media)
{
    static const char name[] = "_seMediaGenericModemIsValidContext";
    if (!_enter(media, name)) {
        return _traceExit(name, false);
    }
    TSEMediaGenericModem *modem = _modemOf(media);
    bool valid = modem != NULL && modem->handle > 0;
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "Media status: %s", valid ? "Valid" : "Not Valid");
    return _traceExit(name, valid);
}

bool _seMediaGenericModemIsContextEstablished(TSEMedia *media)
{
    static const char name[] = "_seMediaGenericModemIsContextEstablished";
    if (!_enter(media, name)) {
        return _traceExit(name, false);
    }
    TSEMediaGenericModem *modem = _modemOf(media);
    return _traceExit(name, modem != NULL && modem->contextEstablished);
}

bool _seMediaGenericModemSetCallbackEventExecutionError(TSEMedia *media, LpaEventExecutionErrorCallback callback)
{
    static const char name[] = "_seMediaGenericModemSetCallbackEventExecutionError";
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "++ semedia_genericmodem :> %s()", name);
    bool result = false;
    if (media == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "seMedia is NULL !");
    } else if (callback != NULL && callback == _seMediaGenericModemCallback) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, " LpaEventExecutionErrorCallback already registered !");
        result = true;
    } else if (callback != NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, " registering lpaEventExecutionErrorCallback ...");
        _seMediaGenericModemCallback = callback;
        result = true;
    } else if (_seMediaGenericModemCallback != NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, " unregistering lpaEventExecutionErrorCallback ...");
        _seMediaGenericModemCallback = NULL;
        result = true;
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "-- semedia_genericmodem :> %s() return res=%s", name, lpaBoolText(result));
    return result;
}

bool _seMediaGenericModemListReader(TSEMedia *media, char (*names)[SE_MEDIA_READER_NAME_SIZE], size_t capacity,
                                    size_t *count)
{
    static const char name[] = "_seMediaGenericModemListReader";
    if (!_enter(media, name)) {
        return _traceExit(name, false);
    }
    if (names == NULL || count == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "NULL parameter detected!");
        return _traceExit(name, false);
    }
    *count = 0;
    /* A list without room for one name gets none. */
    if (capacity == 0 || _modemOf(media) == NULL) {
        return _traceExit(name, false);
    }
    memset(names[0], 0, SE_MEDIA_READER_NAME_SIZE);
    memcpy(names[0], SE_MEDIA_GENERIC_MODEM_READER_NAME, sizeof(SE_MEDIA_GENERIC_MODEM_READER_NAME));
    *count = 1;
    return _traceExit(name, true);
}

/* Sends one AT command through the writer the platform type selects. */
static int64_t _writeAtCommand(const char *command, size_t length)
{
    int32_t platformType = quorpciot_lpa_plat_type();
    if (platformType == 1 || platformType == 2) {
        return quorpciot_lpa_write_intel(platformType, command, length);
    }
    return quorpciot_lpa_write_mtk(platformType, command, length);
}

bool _apduToAtCommand(const char *hexApdu, char *command, size_t capacity)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "_apduToAtCommand()...");
    size_t hexLength = strlen(hexApdu);
    if (hexLength + 17 > capacity) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "_apduToAtCommand(): AT command to build too big for AT command buffer!");
        return false;
    }
    size_t digits = 1;
    for (size_t v = hexLength; v >= 10; v /= 10) {
        ++digits;
    }
    if (digits + hexLength + 12 >= capacity) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR,
                   "_apduToAtCommand(): Output AT command buffer size is too small to receive full AT command!");
        return false;
    }
    snprintf(command, capacity, "AT+CSIM=%d,\"%s\"\r", (int)hexLength, hexApdu);
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "_apduToAtCommand(): Generated AT command: %s", command);
    return true;
}

bool _getResponseData(TSEMedia *media)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "_getResponseData()...");
    if (media == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "_getResponseData(): ptrTSEMedia is NULL!");
        return false;
    }
    if (_modemOf(media) == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "_getResponseData(): ptrTSEMediaGenericModem is NULL!");
        return false;
    }
    memset(_seMediaGenericModemReply, 0, sizeof(_seMediaGenericModemReply));
    size_t offset = 0;
    /* The writer stores the whole reply before it returns, so the first look
     * runs at once; every later look, and the time-out after the last one,
     * follows one wait. A silent module still costs all the waits. */
    for (int look = 1; look <= SE_MEDIA_GENERIC_MODEM_LOOKS; ++look) {
        if (look > 1) {
            Sleep(SE_MEDIA_GENERIC_MODEM_LOOK_WAIT_MS);
        }
        size_t room = sizeof(_seMediaGenericModemReply) - 1 - offset;
        size_t available = strnlen(read_mipc_buf, sizeof(read_mipc_buf) - 1);
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "Read count = %d, count_real = %d\n", (int)room, (int)available);
        size_t taken = available < room ? available : room;
        char *lookText = _seMediaGenericModemReply + offset;
        if (taken > 0) {
            memcpy(lookText, read_mipc_buf, taken);
            offset += taken;
            _seMediaGenericModemReply[offset] = '\0';
        }
        memset(read_mipc_buf, 0, sizeof(read_mipc_buf));
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "MIPC Read :%s\n", lookText);
        if (available == 0) {
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "Loop #%d: No bytes read", look);
            continue;
        }
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "Loop #%d: Number of bytes read : %d", look, (int)available);
        if (strstr(_seMediaGenericModemReply, "OK") != NULL) {
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "AT COMMAND RESPONSE OK detected");
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "_getResponseData(): Data received at waiting loop #%d: %s", look,
                       _seMediaGenericModemReply);
            return true;
        }
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "Data read : '%s'", _seMediaGenericModemReply);
        if (strstr(_seMediaGenericModemReply, "ERROR") != NULL) {
            lpaCoreLog(LPA_LOG_LEVEL_WAR, "AT COMMAND RESPONSE ERROR detected at waiting loop #%d", look);
            return false;
        }
        if (strstr(_seMediaGenericModemReply, "^SYSSTART") != NULL) {
            lpaCoreLog(LPA_LOG_LEVEL_WAR, "MODEM STARTUP EVENT <%s> detected at waiting loop #%d", "^SYSSTART", look);
            return false;
        }
    }
    Sleep(SE_MEDIA_GENERIC_MODEM_LOOK_WAIT_MS);
    lpaCoreLog(LPA_LOG_LEVEL_WAR, "_getResponseData(): Time Out elapsed, no valid data available");
    return false;
}

bool _atCommandResponseToApdu(char *out, size_t capacity)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "_atCommandResponseToApdu()...");
    if (out == NULL || capacity < 2) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "_atCommandResponseToApdu(): Incorrect parameters!");
        return false;
    }
    const char *prefix = strstr(_seMediaGenericModemReply, "+CSIM:");
    if (prefix == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "_atCommandResponseToApdu(): Response prefix not found!");
        return false;
    }
    const char *first = strchr(prefix, '"');
    if (first == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "_atCommandResponseToApdu(): First quote not found!");
        return false;
    }
    const char *second = strchr(first + 1, '"');
    if (second == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "_atCommandResponseToApdu(): Second quote not found!");
        return false;
    }
    size_t length = (size_t)(second - first - 1);
    if (length > capacity - 1) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "_atCommandResponseToApdu(): Invalid Response APDU length: %d found, max allowed %u !",
                   (int)length, (unsigned)(capacity - 1));
        return false;
    }
    if (length > 0) {
        memcpy(out, first + 1, length);
    }
    out[length] = '\0';
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "_atCommandResponseToApdu(): Extracted APDU response: %s", out);
    return true;
}

bool _checkAPDU_OkResponse(const char *hexResponse)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "_checkAPDU_OkResponse()...");
    size_t length = strlen(hexResponse);
    if (length < 4) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "_checkAPDU_OkResponse(): Response to check too short!");
        return false;
    }
    uint8_t swBytes[2] = {0, 0};
    size_t swLength = sizeof(swBytes);
    unsigned value = 0;
    if (hexStr2ByteArray(hexResponse + length - 4, 4, swBytes, &swLength)) {
        value = (unsigned)(swBytes[0] << 8 | swBytes[1]);
    }
    bool ok = value == 0x9000 || (value >> 8) == 0x61 || (value >> 8) == 0x91;
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "_checkAPDU_OkResponse(): Successful Status Word %s: %X", ok ? "found" : "NOT found",
               value);
    return ok;
}

/* A reply that reports success: at least two characters holding "OK". */
static bool _replyIsOk(void)
{
    return strlen(_seMediaGenericModemReply) >= 2 && strstr(_seMediaGenericModemReply, "OK") != NULL;
}

bool _sendAPDUtoModemAndCheckOK(const char *hexApdu, TSEMedia *media, bool checkStatusWord)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "_sendAPDUtoModemAndCheckOK()...");
    if (hexApdu == NULL || media == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "_sendAPDUtoModemAndCheckOK(): Incorrect NULL parameter!");
        return false;
    }
    if (_modemOf(media) == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "_sendAPDUtoModemAndCheckOK(): ptrTSEMediaGenericModem is NULL!");
        return false;
    }
    char command[SE_MEDIA_GENERIC_MODEM_AT_COMMAND_SIZE];
    if (!_apduToAtCommand(hexApdu, command, sizeof(command))) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "_sendAPDUtoModemAndCheckOK(): Problem while converting APDU to AT command!");
        return false;
    }
    size_t length = strlen(command);
    if (_writeAtCommand(command, length) != (int64_t)length) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "_sendAPDUtoModemAndCheckOK(): Problem while transmitting AT command to modem.");
        return false;
    }
    if (!_getResponseData(media)) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "_sendAPDUtoModemAndCheckOK(): Cannot retrieve AT command response!");
        return false;
    }
    if (!_replyIsOk()) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "_sendAPDUtoModemAndCheckOK(): AT command response report an error!");
        return false;
    }
    size_t capacity = strlen(_seMediaGenericModemReply) + 1;
    char *hexResponse = (char *)LPA_MALLOC(capacity);
    if (hexResponse == NULL || !_atCommandResponseToApdu(hexResponse, capacity)) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "_sendAPDUtoModemAndCheckOK(): Cannot extract APDU response from response buffer!");
        if (hexResponse != NULL) {
            LPA_FREE(hexResponse);
        }
        return false;
    }
    bool result = !checkStatusWord || _checkAPDU_OkResponse(hexResponse);
    LPA_FREE(hexResponse);
    return result;
}

void _seMediaGenericModemCloseDescriptorOrHandle(TSEMediaGenericModem *modem)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "++ semedia_genericmodem :> _seMediaGenericModemCloseDescriptorOrHandle()");
    _seMediaGenericModemPseudoPort = 0;
    if (modem != NULL) {
        modem->handle = 0;
    }
}

bool _openUICCChannel(TSEMedia *media)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "_openUICCChannel()...");
    TSEMediaGenericModem *modem = _modemOf(media);
    bool opened = false;
    char *hexResponse = NULL;
    if (!_sendAPDUtoModemAndCheckOK("0070000001", media, true)) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "_openUICCChannel(): Problem while sending logical channel opening command!");
    } else {
        size_t capacity = strlen(_seMediaGenericModemReply) + 1;
        hexResponse = (char *)LPA_MALLOC(capacity);
        if (hexResponse == NULL) {
            lpaCoreLog(LPA_LOG_LEVEL_ERR, "_openUICCChannel(): Cannot allocate memory for temporary APDU buffer!");
        } else if (!_atCommandResponseToApdu(hexResponse, capacity)) {
            lpaCoreLog(LPA_LOG_LEVEL_ERR, "_openUICCChannel(): Cannot extract APDU response from response buffer!");
        } else {
            uint8_t channel = 0;
            size_t channelLength = 1;
            modem->channelText[0] = hexResponse[0];
            modem->channelText[1] = hexResponse[0] != '\0' ? hexResponse[1] : '\0';
            modem->channelText[2] = '\0';
            if (!hexStr2ByteArray(modem->channelText, 2, &channel, &channelLength)) {
                channel = 0;
            }
            if (channel < 1 || channel > 19) {
                lpaCoreLog(LPA_LOG_LEVEL_ERR, "_openUICCChannel(): Logical channel out of bounds or incorrect: %d",
                           (int)channel);
                _clearChannel(modem);
            } else {
                modem->channel = channel;
                lpaCoreLog(LPA_LOG_LEVEL_DEB, "_openUICCChannel(): Logical channel %2d opened.", (int)channel);
                opened = true;
            }
        }
    }
    if (hexResponse != NULL) {
        LPA_FREE(hexResponse);
    }
    if (!opened) {
        _seMediaGenericModemPseudoPort = 0;
        modem->handle = 0;
    }
    return opened;
}

bool _closeUICCChannel(TSEMedia *media)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "_closeUICCChannel()...");
    TSEMediaGenericModem *modem = _modemOf(media);
    if (modem == NULL || modem->channel == 0) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR,
                   "_closeUICCChannel(): No logical channel currently opened / described in TSEmedia structure!");
        return false;
    }
    char command[11];
    snprintf(command, sizeof(command), "007080%s00", modem->channelText);
    if (!_sendAPDUtoModemAndCheckOK(command, media, true)) {
        if (strstr(_seMediaGenericModemReply, "ERROR") != NULL && strstr(_seMediaGenericModemReply, "+CSIM:") == NULL) {
            lpaCoreLog(LPA_LOG_LEVEL_WAR, "_closeUICCChannel(): ! Detected possible eUICC Reset performed by modem, "
                                          "consider that Logical Channel is closed.");
        } else {
            lpaCoreLog(LPA_LOG_LEVEL_ERR, "_closeUICCChannel(): Problem while sending logical channel closing command!");
            return false;
        }
    }
    _clearChannel(modem);
    return true;
}

bool _seMediaGenericModemConnect(TSEMedia *media, const char *readerName)
{
    static const char name[] = "_seMediaGenericModemConnect";
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "++ semedia_genericmodem :> %s()", name);
    TSEMediaGenericModem *modem = _modemOf(media);
    if (media == NULL || readerName == NULL || modem == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "NULL parameter detected!");
        return _traceExit(name, false);
    }
    _clearChannel(modem);
    if (readerName[0] == '\0') {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "Connecting to default reader '%s' ...", SE_MEDIA_GENERIC_MODEM_READER_NAME);
    } else {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "ReaderName='%s'", readerName);
    }
    if (_seMediaGenericModemPseudoPort <= 0) {
        _seMediaGenericModemPseudoPort = 1;
        modem->handle = 1;
    } else {
        modem->handle = -1;
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "_seMediaGenericModemConnect(): CreateFile() is OK, Handle = %d", (int)modem->handle);
    return _traceExit(name, _openUICCChannel(media));
}

bool _seMediaGenericModemIsConnected(TSEMedia *media)
{
    if (!_enter(media, "_seMediaGenericModemIsConnected")) {
        return false;
    }
    bool connected = _isConnected(_modemOf(media));
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "Connection Status: %s", connected ? "Connected" : "Not Connected");
    return connected;
}

bool _processAPDUresponse(uint8_t *response, size_t *responseLength)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "_processAPDUresponse()...");
    if (!_replyIsOk()) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "_processAPDUresponse(): Success status not detected in AT command response buffer!");
        return false;
    }
    size_t capacity = strlen(_seMediaGenericModemReply) + 1;
    char *hexResponse = (char *)LPA_MALLOC(capacity);
    if (hexResponse == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "_processAPDUresponse(): Cannot allocate memory for temporary APDU buffer!");
        return false;
    }
    bool result = false;
    size_t converted = *responseLength;
    if (!_atCommandResponseToApdu(hexResponse, capacity)) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "_processAPDUresponse(): Cannot extract APDU response from response buffer!");
    } else if (!hexStr2ByteArray(hexResponse, strlen(hexResponse), response, &converted)) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR,
                   "_processAPDUresponse(): Cannot convert APDU response to raw Hex or APDU response buffer too small!");
    } else {
        *responseLength = converted;
        result = true;
    }
    LPA_FREE(hexResponse);
    return result;
}

bool _seMediaGenericModemTransmitApdu(TSEMedia *media, const uint8_t *apdu, size_t length, uint8_t *response,
                                      size_t *responseLength)
{
    if (!_enter(media, "_seMediaGenericModemTransmitApdu")) {
        return false;
    }
    if (apdu == NULL || response == NULL || length < SE_MEDIA_GENERIC_MODEM_MIN_APDU ||
        length > SE_MEDIA_GENERIC_MODEM_MAX_APDU || responseLength == NULL || *responseLength < 2) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "_seMediaGenericModemTransmitApdu(): Invalid parameters!");
        return false;
    }
    TSEMediaGenericModem *modem = _modemOf(media);
    if (modem == NULL) {
        return false;
    }
    size_t hexCapacity = 2 * length + 2;
    char *hexApdu = (char *)LPA_MALLOC(hexCapacity);
    if (hexApdu == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR,
                   "_seMediaGenericModemTransmitApdu(): Cannot allocate memory for APDU command string buffer!");
        return false;
    }
    if (byteArray2HexStr(apdu, length, hexApdu, hexCapacity) == 0) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "_seMediaGenericModemTransmitApdu(): Failed to convert APDU in string format!");
        LPA_FREE(hexApdu);
        return false;
    }
    /* The logical channel goes into the class byte (ETSI TS 102 221). */
    uint8_t cla = apdu[0];
    if (modem->channel >= 1 && modem->channel <= 3) {
        cla = (uint8_t)(cla | modem->channel);
    } else if (modem->channel >= 4 && modem->channel <= 19) {
        cla = (uint8_t)(cla | (modem->channel + 0x3C));
    }
    char claText[3];
    byteArray2HexStr(&cla, 1, claText, sizeof(claText));
    hexApdu[0] = claText[0];
    hexApdu[1] = claText[1];
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "_seMediaGenericModemTransmitApdu(): APDU Command (%d) : %s", (int)strlen(hexApdu),
               hexApdu);

    bool result = false;
    if (!_sendAPDUtoModemAndCheckOK(hexApdu, media, false)) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "_seMediaGenericModemTransmitApdu(): Failed to exchange successfully APDU with modem!");
        if (_seMediaGenericModemCallback != NULL) {
            LpaEventExecutionError event;
            event.source = LPA_EXECUTION_ERROR_SOURCE_SE_MEDIA;
            event.presentFields = LPA_EXECUTION_ERROR_FIELD_SUBJECT_CODE | LPA_EXECUTION_ERROR_FIELD_TEXT;
            event.subjectCode = "0x2";
            event.reasonCode = NULL;
            event.text = "transmit issue";
            _seMediaGenericModemCallback(NULL, &event);
        }
    } else if (!_processAPDUresponse(response, responseLength)) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "_seMediaGenericModemTransmitApdu(): Problem while extracting APDU response!");
    } else {
        result = true;
    }
    LPA_FREE(hexApdu);
    return result;
}

/* The private record of a connected driver, or NULL after the failure
 * lines of the disconnect operation named by `who`. */
static TSEMediaGenericModem *_connectedModem(TSEMedia *media, const char *who)
{
    if (media == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "seMedia is NULL !");
        return NULL;
    }
    TSEMediaGenericModem *modem = _modemOf(media);
    if (modem == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "%s: ptrTSEMediaGenericModem is NULL!", who);
        return NULL;
    }
    if (!_isConnected(modem)) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "%s: Modem is already disconnected!", who);
        return NULL;
    }
    return modem;
}

bool _seMediaGenericModemDisconnect(TSEMedia *media)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "++ semedia_genericmodem :> _seMediaGenericModemDisconnect()");
    TSEMediaGenericModem *modem = _connectedModem(media, "_seMediaGenericModemInternalDisconnect()");
    if (modem == NULL) {
        return false;
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "_seMediaGenericModemDisconnect(): Close logical channel.");
    if (!_closeUICCChannel(media)) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "_seMediaGenericModemInternalDisconnect(): Error for logical channel close!");
        return false;
    }
    _seMediaGenericModemCloseDescriptorOrHandle(modem);
    return true;
}

bool _seMediaGenericModemDisconnectWithReset(TSEMedia *media)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "++ semedia_genericmodem :> _seMediaGenericModemDisconnectWithReset()");
    TSEMediaGenericModem *modem = _connectedModem(media, "_seMediaGenericModemDisconnectWithReset()");
    if (modem == NULL) {
        return false;
    }
    bool reset = false;
    size_t length = sizeof(_resetCommand) - 1;
    if (_writeAtCommand(_resetCommand, length) != (int64_t)length) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "Windows error : 0x%lx", (unsigned long)GetLastError());
        lpaCoreLog(LPA_LOG_LEVEL_ERR,
                   "_seMediaGenericModemDisconnectWithReset(): Reset eUICC: Problem while transmitting AT command to modem.");
    } else if (!_getResponseData(media)) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR,
                   "_seMediaGenericModemDisconnectWithReset(): Reset eUICC: Command acknowledge not received.");
    } else {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "_seMediaGenericModemDisconnectWithReset(): Reset eUICC response: %s",
                   _seMediaGenericModemReply);
        reset = _replyIsOk();
    }
    if (reset) {
        _clearChannel(modem);
    } else {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "_seMediaGenericModemDisconnectWithReset(): Error detected during eUICC reset. "
                                      "Try to close current logical channel...");
        if (_closeUICCChannel(media)) {
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "_seMediaGenericModemDisconnectWithReset(): Successful closing of current "
                                          "logical channel after failed eUICC reset.");
        } else {
            lpaCoreLog(LPA_LOG_LEVEL_ERR, "_seMediaGenericModemDisconnectWithReset(): Failed to close current logical "
                                          "channel after failed eUICC reset!");
        }
    }
    _seMediaGenericModemCloseDescriptorOrHandle(modem);
    return reset;
}

bool _seMediaGenericModemGetStatus(TSEMedia *media, int32_t *status)
{
    if (!_enter(media, "_seMediaGenericModemGetStatus")) {
        return false;
    }
    if (!_isConnected(_modemOf(media))) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR,
                   "_seMediaGenericModemGetStatus() Modem connection status reported as disconnected!");
        return false;
    }
    lpaCoreLog(LPA_LOG_LEVEL_WAR, "_seMediaGenericModemGetStatus() NOTE: Card Check Status bypassed, feature not "
                                  "available with this modem!");
    if (status == NULL) {
        return false;
    }
    *status = SE_MEDIA_GENERIC_MODEM_CARD_STATUS;
    return true;
}
