#include "flows/lpa_notifications.h"

#include <stdio.h>
#include <string.h>

#include "codec/ber_tlv.h"
#include "card/bpp_loader.h"
#include "card/es10b.h"
#include "server/es9plus_client.h"
#include "codec/lpa_base64.h"
#include "runtime/lpa_core_log.h"
#include "runtime/lpa_core_memory.h"
#include "runtime/lpa_error_internal.h"
#include "runtime/lpa_hex.h"
#include "lpa_host.h"
#include "card/lpa_manager_es10c.h"
#include "card/se_media_manager.h"
#include "flows/lpa_progress.h"

#define TAG_LIST_NOTIFICATION 0xBF28
#define TAG_RETRIEVE_NOTIFICATIONS_LIST 0xBF2B
#define TAG_NOTIFICATION_METADATA 0xBF2F
#define TAG_REMOVE_NOTIFICATION 0xBF30

/* ------------------------------------------------------------------------
 * Shared helpers of the operations
 * ------------------------------------------------------------------------ */

static RawDataObject *_seqRequest(uint16_t tag, uint16_t seqNumber, bool wrapA0)
{
    uint8_t content[2 + LPA_SEQUENCE_NUMBER_MAX_BYTES];
    content[0] = 0x80;
    content[1] = (uint8_t)lpaManagerEncodeSequenceNumber(seqNumber, content + 2);
    size_t n = 2 + content[1];
    if (!wrapA0) {
        return berTLV_createAndBuildRawDataObject(tag, n, content);
    }
    uint8_t wrapped[2 + sizeof(content)];
    wrapped[0] = 0xA0;
    wrapped[1] = (uint8_t)n;
    memcpy(wrapped + 2, content, n);
    return berTLV_createAndBuildRawDataObject(tag, n + 2, wrapped);
}

/* ------------------------------------------------------------------------
 * Listing
 * ------------------------------------------------------------------------ */

static int32_t _operationOf(const BerTLV *bits)
{
    if (bits->length != 2) {
        return LPA_OPERATION_UNKNOWN;
    }
    uint16_t value = (uint16_t)((bits->value[0] << 8) | bits->value[1]);
    switch (value) {
    case 0x0780:
        return 0;
    case 0x0640:
        return 1;
    case 0x0520:
        return 2;
    case 0x0410:
        return 3;
    default:
        return LPA_OPERATION_UNKNOWN;
    }
}

static void _logTagHex(const char *format, const BerTLV *tlv)
{
    char hex[1024];
    if (byteArray2HexStr(tlv->value, tlv->length, hex, sizeof(hex)) == 0 && tlv->length > 0) {
        snprintf(hex, sizeof(hex), "...");
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, format, hex);
}

typedef enum EntryOutcome { ENTRY_STORED, ENTRY_FAILED, ENTRY_SKIPPED } EntryOutcome;

/* One NotificationMetadata (BF2F) into the list. */
static EntryOutcome _extractEntry(LpaNotificationList *list, const BerTLV *metadata)
{
    _logTagHex("NOTIFICATION_METADATA_TAG found : %s", metadata);
    EntryOutcome outcome = ENTRY_FAILED;
    BerTLV *seq = NULL;
    BerTLV *operation = NULL;
    BerTLV *address = NULL;
    if (metadata->length > 0) {
        seq = berTLV_extractTagUInt8(0x80, metadata->value, metadata->length, NULL);
        operation = berTLV_extractTagUInt8(0x81, metadata->value, metadata->length, NULL);
        address = berTLV_extractTagUInt8(0x0C, metadata->value, metadata->length, NULL);
    }
    if (seq != NULL) {
        _logTagHex("TAG 80 found : %s", seq);
    }
    if (operation != NULL) {
        _logTagHex("TAG 81 found : %s", operation);
    }
    if (address != NULL) {
        _logTagHex("TAG 0C found : %s", address);
    }
    uint16_t number = 0;
    if (seq == NULL || operation == NULL || address == NULL) {
        lpaSetLastErrorCode(LPA_ERROR_NOTIFICATION_INVALID_CARD_DATA);
    } else if (seq->length < 1 || seq->length > 4) {
        lpaSetLastErrorCode(LPA_ERROR_NOTIFICATION_INVALID_CARD_DATA);
    } else if (address->length > LPA_NOTIFICATION_ADDRESS_MAX) {
        lpaSetLastErrorCode(LPA_ERROR_INSUFFICIENT_BUFFER);
    } else if (!lpaManagerDecodeSequenceNumber(seq->value, seq->length, &number)) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "Notification sequence number does not fit 16 bits, notification skipped");
        outcome = ENTRY_SKIPPED;
    } else if (list->count >= LPA_NOTIFICATION_LIST_MAX) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "More than %d notifications listed, notification <%d> left for a later run",
                   LPA_NOTIFICATION_LIST_MAX, (int)number);
        outcome = ENTRY_SKIPPED;
    } else {
        LpaNotificationEntry *entry = &list->entries[list->count++];
        memset(entry, 0, sizeof(*entry));
        entry->seqNumber = number;
        entry->operation = _operationOf(operation);
        if (address->length > 0) {
            memcpy(entry->notificationAddress, address->value, address->length);
        }
        entry->addressLength = address->length;
        outcome = ENTRY_STORED;
    }
    berTLV_freeBerTLV(seq);
    berTLV_freeBerTLV(operation);
    berTLV_freeBerTLV(address);
    return outcome;
}

bool _doExtractMetadataForGetProfileNotificationList(LpaNotificationList *list, const uint8_t *response,
                                                     size_t length)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "++ _doExtractMetadataForGetProfileNotificationList(...)");
    bool result = false;
    if (list == NULL || response == NULL || length == 0) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Incorrect parameter(s)!");
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "-- _doExtractMetadataForGetProfileNotificationList(...) : return %s",
                   lpaBoolText(result));
        return false;
    }
    list->count = 0;
    BerTLV *bf28 = berTLV_extractTagUInt16(TAG_LIST_NOTIFICATION, response, length, NULL);
    BerTLV *a0 = NULL;
    if (bf28 != NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "BerTLV tag '%04lx' found", (unsigned long)TAG_LIST_NOTIFICATION);
        if (bf28->length > 0) {
            a0 = berTLV_extractTagUInt8(0xA0, bf28->value, bf28->length, NULL);
        }
    }
    if (a0 != NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "BerTLV tag '%02lx' found (data size:%d)", 0xA0ul, (int)a0->length);
        if (a0->length == 0) {
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "No notification available");
            result = true;
        } else {
            size_t count = 0;
            BerTLVListNode *elements = berTLV_extractList(a0->value, a0->length, &count);
            if (elements == NULL) {
                result = (count == 0);
            } else {
                lpaCoreLog(LPA_LOG_LEVEL_DEB, "%d tag found inside Ber TLV object", (int)count);
                result = true;
                for (BerTLVListNode *node = elements; node != NULL; node = node->next) {
                    if (node->tlv == NULL || node->tlv->tag != TAG_NOTIFICATION_METADATA) {
                        result = false;
                        continue;
                    }
                    if (_extractEntry(list, node->tlv) == ENTRY_FAILED) {
                        result = false;
                    }
                }
                berTLV_freeBerTLVList(elements);
            }
        }
    }
    berTLV_freeBerTLV(a0);
    berTLV_freeBerTLV(bf28);
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "-- _doExtractMetadataForGetProfileNotificationList(...) : return %s",
               lpaBoolText(result));
    return result;
}

bool lpaManagerGetProfileNotificationList(LpaNotificationList *list)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "++ lpaManagerGetProfileNotificationList(...)");
    if (list == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Incorrect parameter(s)!");
        return false;
    }
    list->count = 0;
    bool result = false;
    RawDataObject *request = berTLV_createAndBuildRawDataObject(TAG_LIST_NOTIFICATION, 0, NULL);
    if (request == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Cannot build Notification List raw data object!");
    } else {
        uint16_t sw = 0;
        size_t length = 0;
        bool sent = false;
        for (int executions = 1; executions <= LPA_NUMBER_OF_EXECUTIONS_FOR_CHAINED_GET_RESPONSE; ++executions) {
            sent = lpaManagerES10Exchange(request, &sw, &length);
            if (sent) {
                break;
            }
            uint32_t code = lpaGetErrorCodeNoClear();
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "lpaGetErrorCodeNoClear(): ErrorCode=0x%06X", (unsigned)code);
            if (code == SE_MEDIA_E_CHAINING_GET_RESPONSE) {
                if (!lpaManagerRetryAfterChainingIssue("lpaManagerGetProfileNotificationList", executions, true)) {
                    break;
                }
            } else {
                lpaSetLastErrorCode(LPA_ERROR_NOTIFICATION_INCORRECT_CARD_RESPONSE);
            }
        }
        rawDataObject_free(request);
        if (!sent) {
            /* the exchange's code stands */
        } else if (!lpaManagerES10IsSuccessfulSW(sw)) {
            lpaSetLastErrorCode(LPA_ERROR_INVALID_SW);
        } else if (length == 0) {
            result = true;
        } else if (!_doExtractMetadataForGetProfileNotificationList(list, lpaManagerES10ResponseBuffer, length)) {
            lpaSetLastErrorCode(LPA_ERROR_LOCAL_PROFILE_UNABLE_TO_EXTRACT_DATA);
        } else {
            result = true;
        }
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "-- lpaManagerGetProfileNotificationList() : return %s", lpaBoolText(result));
    return result;
}

bool _sortNotificationList(LpaNotificationList *list)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "_sortNotificationList()...");
    if (list == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "_sortNotificationList(): Invalid NULL parameter!");
        lpaSetLastErrorCode(LPA_ERROR_INVALID_PARAMETER);
        return false;
    }
    if (list->count < 2) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "_sortNotificationList(): Less than 2 elements reported in list, sorting is useless.");
        return true;
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "_sortNotificationList(): Start sorting notification list...");
    for (size_t pass = 0; pass + 1 < list->count; ++pass) {
        bool swapped = false;
        for (size_t i = 0; i + 1 < list->count - pass; ++i) {
            if (list->entries[i + 1].seqNumber < list->entries[i].seqNumber) {
                LpaNotificationEntry held = list->entries[i];
                list->entries[i] = list->entries[i + 1];
                list->entries[i + 1] = held;
                swapped = true;
            }
        }
        if (!swapped) {
            break;
        }
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "_sortNotificationList() return %s", "true");
    return true;
}

/* ------------------------------------------------------------------------
 * Fetching, delivering, removing
 * ------------------------------------------------------------------------ */

bool _retrieveNotificationData(uint16_t seqNumber, RawDataObject *data)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "_retrieveNotificationData(sequenceNumber=%d) ...", (int)seqNumber);
    if (data == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Incorrect parameter!");
        return false;
    }
    bool result = false;
    RawDataObject *request = _seqRequest(TAG_RETRIEVE_NOTIFICATIONS_LIST, seqNumber, true);
    if (request == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "rawDataObjectRetrieveNotificationsList is NULL !");
    } else {
        uint16_t sw = 0;
        size_t length = 0;
        bool sent = lpaManagerES10Exchange(request, &sw, &length);
        rawDataObject_free(request);
        if (!sent) {
            lpaCoreLog(LPA_LOG_LEVEL_ERR,
                       "Problem encountered when trying to retrieve notification data: APDU execution failed!");
        } else if (!lpaManagerES10IsSuccessfulSW(sw)) {
            lpaSetLastErrorCode(LPA_ERROR_INVALID_SW);
        } else {
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "_extractNotificationData() ...");
            if (length == 0) {
                lpaCoreLog(LPA_LOG_LEVEL_ERR, "Incorrect parameter(s)!");
            } else {
                BerTLV *bf2b =
                    berTLV_extractTagUInt16(TAG_RETRIEVE_NOTIFICATIONS_LIST, lpaManagerES10ResponseBuffer, length, NULL);
                BerTLV *a0 = (bf2b != NULL && bf2b->length > 0)
                                 ? berTLV_extractTagUInt8(0xA0, bf2b->value, bf2b->length, NULL)
                                 : NULL;
                if (a0 != NULL && a0->length > 0) {
                    rawDataObject_update(data, a0->value, a0->length);
                    if (data->length == a0->length) {
                        char hex[1024];
                        if (byteArray2HexStr(a0->value, a0->length, hex, sizeof(hex)) > 0) {
                            lpaCoreLog(LPA_LOG_LEVEL_DEB, "Notification rawData found ==> value (%d bytes) = %s",
                                       (int)a0->length, hex);
                        } else {
                            lpaCoreLog(LPA_LOG_LEVEL_DEB, "Notification rawData found ==> value (%d bytes) = ... ",
                                       (int)a0->length);
                        }
                        result = true;
                    }
                }
                berTLV_freeBerTLV(a0);
                berTLV_freeBerTLV(bf2b);
            }
        }
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "_retrieveNotificationData() return %s", lpaBoolText(result));
    return result;
}

bool _sendNotificationToServer(const LpaNotificationEntry *entry, const RawDataObject *data,
                               const LpaDownloadCallbacks *callbacks)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "_sendNotificationToServer(...) ...");
    if (entry == NULL || data == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Incorrect parameter(s)!");
        return false;
    }
    bool result = false;
    size_t size = encodeBase64BufferSize(data->length) + 1;
    char *text = (char *)LPA_MALLOC(size);
    if (text == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Cannot allocate %d bytes for conversion buffer tmpInfo!", (int)size);
    } else {
        memset(text, 0, size);
        if (data->data == NULL || data->length == 0 || encodeBase64(data->data, (uint32_t)data->length, text) == 0) {
            lpaCoreLog(LPA_LOG_LEVEL_ERR, "Cannot convert Notification data in Base64 !");
        } else if (handleNotification(entry->notificationAddress, entry->addressLength, text, callbacks)) {
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "Success to send notification data to server!");
            result = true;
        } else {
            lpaCoreLog(LPA_LOG_LEVEL_ERR, "Failed to send notification data to server!");
        }
        LPA_FREE(text);
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "_sendNotificationToServer() return %s", lpaBoolText(result));
    return result;
}

/* deleteNotificationStatus of a RemoveNotificationFromList answer; 255 when unreadable. */
static int _doExtractClearProfileNotificationResponse(const uint8_t *response, size_t length)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "++ _doExtractClearProfileNotificationResponse(...)");
    int status = 255;
    if (response == NULL || length == 0) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Incorrect parameter(s)!");
    } else {
        BerTLV *bf30 = berTLV_extractTagUInt16(TAG_REMOVE_NOTIFICATION, response, length, NULL);
        BerTLV *value = (bf30 != NULL && bf30->length > 0) ? berTLV_extractTagUInt8(0x80, bf30->value, bf30->length, NULL)
                                                            : NULL;
        if (value != NULL && value->length == 1 &&
            (value->value[0] == 0 || value->value[0] == 1 || value->value[0] == 127)) {
            status = value->value[0];
        } else {
            lpaCoreLog(LPA_LOG_LEVEL_ERR, " -> Incorrect deleteNotificationStatus returned by the card : 0x%02x",
                       (value != NULL && value->length > 0) ? (unsigned)value->value[0] : 0xFFu);
        }
        berTLV_freeBerTLV(value);
        berTLV_freeBerTLV(bf30);
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "-- _doExtractClearProfileNotificationResponse(...) : return %d", status);
    return status;
}

bool lpaManagerClearProfileNotification(uint16_t seqNumber)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "++ lpaManagerClearProfileNotification(sequenceNumber=%d)", (int)seqNumber);
    bool result = false;
    RawDataObject *request = _seqRequest(TAG_REMOVE_NOTIFICATION, seqNumber, false);
    if (request == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "rawDataObjectRemoveNotificationFromList is NULL !");
    } else {
        uint16_t sw = 0;
        size_t length = 0;
        bool sent = lpaManagerES10Exchange(request, &sw, &length);
        rawDataObject_free(request);
        if (!sent) {
            /* the exchange's code stands */
        } else if (!lpaManagerES10IsSuccessfulSW(sw)) {
            lpaSetLastErrorCode(LPA_ERROR_INVALID_SW);
        } else {
            int status = _doExtractClearProfileNotificationResponse(lpaManagerES10ResponseBuffer, length);
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "-- lpaManagerClearProfileNotification() : deleteNotificationStatus = %d",
                       status);
            switch (status) {
            case 0:
                result = true;
                break;
            case 1:
                lpaSetLastErrorCode(LPA_ERROR_NOTIFICATION_NOTHING_TO_DELETE);
                break;
            case 127:
                lpaSetLastErrorCode(LPA_ERROR_NOTIFICATION_UNDEFINED_ERROR);
                break;
            default:
                lpaSetLastErrorCode(LPA_ERROR_NOTIFICATION_UNKNOWN_ERROR);
                break;
            }
        }
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "-- lpaManagerClearProfileNotification() : return %s", lpaBoolText(result));
    return result;
}

/* ------------------------------------------------------------------------
 * The cycle
 * ------------------------------------------------------------------------ */

/* Fetches, delivers and removes one notification; true when delivered. */
static bool _processNotification(const LpaNotificationEntry *entry, RawDataObject *data,
                                 const LpaDownloadCallbacks *callbacks, char *outcome, size_t outcomeSize)
{
    int seq = (int)entry->seqNumber;
    for (int executions = 1; executions <= LPA_NUMBER_OF_EXECUTIONS_FOR_CHAINED_GET_RESPONSE; ++executions) {
        if (_retrieveNotificationData(entry->seqNumber, data)) {
            if (!_sendNotificationToServer(entry, data, callbacks)) {
                lpaCoreLog(LPA_LOG_LEVEL_WAR, "Failed to send notification <%d>", seq);
                snprintf(outcome, outcomeSize, "Failed to send notification <%d>", seq);
                return false;
            }
            if (lpaManagerClearProfileNotification(entry->seqNumber)) {
                lpaCoreLog(LPA_LOG_LEVEL_DEB, "Notification <%d> successfully cleared", seq);
            } else {
                lpaCoreLog(LPA_LOG_LEVEL_WAR, "Failed to clear notification <%d>", seq);
            }
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "Notification <%d> successfully sent", seq);
            snprintf(outcome, outcomeSize, "Notification <%d> successfully sent", seq);
            return true;
        }
        uint32_t code = lpaGetErrorCodeNoClear();
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "lpaGetErrorCodeNoClear(): ErrorCode=0x%06X", (unsigned)code);
        if (code == SE_MEDIA_E_CHAINING_GET_RESPONSE &&
            lpaManagerRetryAfterChainingIssue("lpaManagerSendPendingNotification", executions, true)) {
            rawDataObject_clear(data);
        }
    }
    lpaCoreLog(LPA_LOG_LEVEL_WAR, "Failed to send notification <%d>", seq);
    snprintf(outcome, outcomeSize, "Failed to send notification <%d>", seq);
    return false;
}

bool lpaManagerSendPendingNotification(const LpaDownloadCallbacks *callbacks, LpaOperationResult *result)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "++ lpaManagerSendPendingNotification(...)");
    lpaManagerInstallExecutionErrorForwarding(callbacks);
    bool ok = false;
    uint32_t firstError = 0;
    LpaNotificationList *list = NULL;
    if (result == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Invalid parameter(s)!");
        lpaSetLastErrorCode(LPA_ERROR_INVALID_PARAMETER);
    } else {
        result->first = 0;
        result->second = 0;
        lpaManagerSendProgress(callbacks, 0, "Read pending notifications...");
        list = (LpaNotificationList *)LPA_MALLOC(sizeof(LpaNotificationList));
        if (list != NULL) {
            memset(list, 0, sizeof(*list));
        }
        if (list == NULL) {
            lpaCoreLog(LPA_LOG_LEVEL_ERR, "Unable to allocate memory for the notification list!");
            lpaSetLastErrorCode(LPA_ERROR_INSUFFICIENT_BUFFER);
        } else if (!lpaManagerGetProfileNotificationList(list)) {
            lpaCoreLog(LPA_LOG_LEVEL_ERR, "Failed to retrieve list of notifications!");
            lpaManagerSendProgress(callbacks, 0, "Failed to retrieve list of notifications");
        } else if (list->count == 0) {
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "No pending notification found");
            lpaManagerSendProgress(callbacks, 0, "No pending notification found");
            ok = true;
        } else {
            char text[128];
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "<%d> pending notification(s) detected", (int)list->count);
            snprintf(text, sizeof(text), "<%d> pending notification(s) detected", (int)list->count);
            lpaManagerSendProgress(callbacks, 0, text);
            result->first = list->count;
            RawDataObject *data = NULL;
            if (!_sortNotificationList(list)) {
                lpaCoreLog(LPA_LOG_LEVEL_ERR, "Failed to sort list of notifications");
                lpaManagerSendProgress(callbacks, 0, "Failed to sort list of notifications");
                lpaSetLastErrorCode(LPA_ERROR_PROCESSING_ERROR);
            } else if ((data = rawDataObject_allocate()) == NULL) {
                lpaCoreLog(LPA_LOG_LEVEL_ERR, "Unable to allocate memory for ptrByteArrayNotificationData!");
                lpaSetLastErrorCode(LPA_ERROR_INSUFFICIENT_BUFFER);
            } else {
                for (size_t i = 0; i < list->count; ++i) {
                    const LpaNotificationEntry *entry = &list->entries[i];
                    rawDataObject_clear(data);
                    lpaCoreLog(LPA_LOG_LEVEL_DEB, "Processing notification #%d <%d>...", (int)(i + 1),
                               (int)entry->seqNumber);
                    snprintf(text, sizeof(text), "Processing notification #%d <%d>", (int)(i + 1),
                             (int)entry->seqNumber);
                    lpaManagerSendProgress(callbacks, 0, text);
                    if (_processNotification(entry, data, callbacks, text, sizeof(text))) {
                        result->second += 1;
                    }
                    lpaManagerSendProgress(callbacks, 0, text);
                    uint32_t code = lpaGetErrorCodeNoClear();
                    if (code != 0 && firstError == 0) {
                        firstError = code;
                        lpaCoreLog(LPA_LOG_LEVEL_DEB,
                                   "lpaManagerSendPendingNotification(): First encountered Error Code: 0x%06X",
                                   (unsigned)code);
                    }
                    lpaResetErrorCode();
                }
                rawDataObject_free(data);
                ok = true;
            }
        }
    }
    if (list != NULL) {
        LPA_FREE(list);
    }
    lpaManagerRemoveExecutionErrorForwarding();
    if (firstError != 0) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "lpaManagerSendPendingNotification(): Restore first Error Code encountered: 0x%06X",
                   (unsigned)firstError);
        lpaResetErrorCode();
        lpaSetLastErrorCode(firstError);
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "-- lpaManagerSendPendingNotification()");
    return ok;
}
