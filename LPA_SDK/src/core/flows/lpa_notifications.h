/*
 * The pending-notification cycle (list, fetch, deliver, remove) and the
 * eUICC's configured server addresses (default SM-DP+, root SM-DS), plus
 * the helpers every download operation shares: progress texts and the
 * forwarding of execution-error events to the application.
 *
 * Not thread-safe: the engine is driven from one thread at a time.
 */
#ifndef LPA_NOTIFICATIONS_H
#define LPA_NOTIFICATIONS_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#include "lpa.h"
#include "codec/raw_data_object.h"
#include "flows/lpa_addresses.h"
#include "flows/lpa_progress.h"

#ifdef __cplusplus
extern "C" {
#endif

#define LPA_NOTIFICATION_LIST_MAX 16
#define LPA_NOTIFICATION_ADDRESS_MAX 128
#define LPA_OPERATION_UNKNOWN 255

typedef struct LpaNotificationEntry {
    uint16_t seqNumber;
    int32_t operation; /* 0 install, 1 enable, 2 disable, 3 delete, 255 other */
    char notificationAddress[LPA_NOTIFICATION_ADDRESS_MAX]; /* no terminating NUL */
    size_t addressLength;
} LpaNotificationEntry;

typedef struct LpaNotificationList {
    size_t count;
    LpaNotificationEntry entries[LPA_NOTIFICATION_LIST_MAX];
} LpaNotificationList;

/* Sends a progress text when callbacks and their progress are set. */
void lpaManagerSendProgress(const LpaDownloadCallbacks *callbacks, int phase, const char *text);
/* The application's execution-error callback for one manager operation. */
void lpaManagerInstallExecutionErrorForwarding(const LpaDownloadCallbacks *callbacks);
void lpaManagerRemoveExecutionErrorForwarding(void);

bool lpaManagerSendPendingNotification(const LpaDownloadCallbacks *callbacks, LpaOperationResult *result);
bool lpaManagerGetProfileNotificationList(LpaNotificationList *list);
bool _doExtractMetadataForGetProfileNotificationList(LpaNotificationList *list, const uint8_t *response,
                                                     size_t length);
bool _sortNotificationList(LpaNotificationList *list);
bool _retrieveNotificationData(uint16_t seqNumber, RawDataObject *data);
bool _sendNotificationToServer(const LpaNotificationEntry *entry, const RawDataObject *data,
                               const LpaDownloadCallbacks *callbacks);
bool lpaManagerClearProfileNotification(uint16_t seqNumber);

#ifdef __cplusplus
}
#endif

#endif /* LPA_NOTIFICATIONS_H */
