/*
 * The download, notification and server-address exports. Each runs in the
 * card-operation frame around one manager call; the ones with a result
 * record zero it before the card connection opens.
 */
#include "lpa.h"
#include "lpa_api_frame.h"
#include "flows/lpa_download.h"
#include "lpa_host.h"
#include "flows/lpa_notifications.h"

extern "C" LPA_API bool lpaDownloadProfile(const char *activationCode, const LpaDownloadCallbacks *callbacks,
                                           LpaOperationResult *result)
{
    return lpaApiRunCardOperation("lpaDownloadProfile", result, [=]() {
        return lpaManagerDownloadProfile(activationCode, callbacks, result);
    });
}

extern "C" LPA_API bool lpaDownloadProfileWithConfirmationCode(const char *activationCode, const char *confirmationCode,
                                                               const LpaDownloadCallbacks *callbacks,
                                                               LpaOperationResult *result)
{
    return lpaApiRunCardOperation("lpaDownloadProfileWithConfirmationCode", result, [=]() {
        return lpaManagerDownloadProfileWithConfirmationCode(activationCode, confirmationCode, callbacks, result);
    });
}

extern "C" LPA_API bool lpaDownloadProfileWithDefaultSMDPAddress(const LpaDownloadCallbacks *callbacks,
                                                                 LpaOperationResult *result)
{
    return lpaApiRunCardOperation("lpaDownloadProfileWithDefaultSMDPAddress", result, [=]() {
        return lpaManagerDownloadProfileWithDefaultSMDPAddress(callbacks, result);
    });
}

extern "C" LPA_API bool lpaDownloadProfileWithSMDSAddress(const LpaDownloadCallbacks *callbacks,
                                                          LpaOperationResult *result)
{
    return lpaApiRunCardOperation("lpaDownloadProfileWithSMDSAddress", result, [=]() {
        return lpaManagerDownloadProfileWithSDMSAddress(callbacks, result);
    });
}

extern "C" LPA_API bool lpaSendPendingNotification(const LpaDownloadCallbacks *callbacks, LpaOperationResult *result)
{
    return lpaApiRunCardOperation("lpaSendPendingNotification", result, [=]() {
        return lpaManagerSendPendingNotification(callbacks, result);
    });
}

extern "C" LPA_API bool lpaSetDefaultSMDPAddress(const char *address)
{
    return lpaApiRunCardOperation("lpaSetDefaultSMDPAddress",
                                  [=]() { return lpaManagerSetDefaultSMDPAddress(address); });
}

extern "C" LPA_API bool lpaGetSMDPAddress(LpaServerAddress *address)
{
    return lpaApiRunCardOperation("lpaGetSMDPAddress", [=]() { return lpaManagerGetSMDPAddress(address); });
}

extern "C" LPA_API bool lpaGetSMDSAddress(LpaServerAddress *address)
{
    return lpaApiRunCardOperation("lpaGetSMDSAddress", [=]() { return lpaManagerGetSMDSAddress(address); });
}
