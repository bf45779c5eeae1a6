/*
 * ES9+ and ES11 client: the JSON-over-HTTPS exchanges with the SM-DP+
 * (initiateAuthentication, authenticateClient, getBoundProfilePackage,
 * handleNotification, cancelSession) and the SM-DS event retrieval.
 *
 * Every request goes through the HTTP media (init, post, read, cleanup),
 * verified with the CA file of the certPath parameter. Binary values travel
 * as Base64 texts. Server addresses are "host[:port]" without a scheme.
 *
 * Not thread-safe: the engine is driven from one thread at a time.
 */
#ifndef ES9PLUS_CLIENT_H
#define ES9PLUS_CLIENT_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#include <cjson/cJSON.h>

#include "codec/lpa_server_data.h"
#include "lpa.h"
#include "lpa_host.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Buffers for addresses with their path, and for the https URL. */
#define ES9_ADDRESS_BUFFER_SIZE 255

#define ES9_PATH_INITIATE_AUTHENTICATION   "/gsma/rsp2/es9plus/initiateAuthentication"
#define ES9_PATH_AUTHENTICATE_CLIENT       "/gsma/rsp2/es9plus/authenticateClient"
#define ES9_PATH_GET_BOUND_PROFILE_PACKAGE "/gsma/rsp2/es9plus/getBoundProfilePackage"
#define ES9_PATH_HANDLE_NOTIFICATION       "/gsma/rsp2/es9plus/handleNotification"
#define ES9_PATH_CANCEL_SESSION            "/gsma/rsp2/es9plus/cancelSession"

/* Copies addressAndPath to out (255 bytes) with the host part, up to the
 * first '/', in lower case. False (and out "") for a text of 255 characters
 * or more, or one without '/'. */
bool _convertHostURLtoLowerCase(const char *addressAndPath, char *out, size_t outSize);

/* Sends an HTTP execution-error event (source 2) when callbacks and their
 * executionError exist and text is not NULL. */
void _sendHttpErrorNotification(const LpaDownloadCallbacks *callbacks, const char *text);

/* The functionExecutionStatus rule: true for "Executed-Success" (any
 * case), or for an answer without header that holds "eventEntries". Sends
 * the server's subjectCode/reasonCode as a source-1 event whenever present. */
bool _checkJSONresponseStatusSuccessful(const cJSON *answer, const LpaDownloadCallbacks *callbacks);

/* One HTTPS POST to "https://" + addressAndPath with the HTTP status policy.
 * Returns the answer text (owned by the HTTP media, valid until its
 * cleanup, which the caller runs) or NULL; *exchangeDone tells whether the
 * server answered in a way the policy could judge. */
const char *lpaManagerES9Plus_ExecutePost(const char *addressAndPath, const char *body, bool *exchangeDone,
                                          int32_t *httpCode, const LpaDownloadCallbacks *callbacks);

/* ES9+ or ES11 initiateAuthentication; fills fields 1 to 5. */
bool lpaManagerES9Plus_InitiateAuthentication(TServerData *data, const LpaDownloadCallbacks *callbacks,
                                              const char *euiccChallengeBase64, const char *euiccInfo1Base64,
                                              const char *serverAddress);

/* ES9+ authenticateClient; fills fields 6 to 9. */
bool lpaManagerAuthenticateClient(TServerData *data, const LpaDownloadCallbacks *callbacks,
                                  const char *transactionId, const char *serverAddress,
                                  const char *authenticateServerResponseBase64);

/* ES9+ getBoundProfilePackage; fills field 10. */
bool lpaManagerGetBoundProfilePackage(TServerData *data, const LpaDownloadCallbacks *callbacks,
                                      const char *transactionId, const char *serverAddress,
                                      const char *prepareDownloadResponseBase64);

/* ES9+ handleNotification; the address is addressLength bytes, not
 * necessarily NUL-terminated. True only on HTTP 204. */
bool handleNotification(const char *serverAddress, size_t addressLength, const char *pendingNotificationBase64,
                        const LpaDownloadCallbacks *callbacks);

/* ES11 authenticateClient: fills the event list (at most 16 records). */
bool lpaManagerEventRetrieval(const char *transactionId, const LpaDownloadCallbacks *callbacks,
                              const char *smdsAddress, const char *authenticateServerResponseBase64,
                              SmdsEventList *events);

/* ES9+ cancelSession with the eUICC's CancelSession answer. */
bool _lpaManagerES9SendCancelSession(const char *transactionId, const TCancelSessionResponse *response,
                                     const char *serverAddress, const LpaDownloadCallbacks *callbacks);

#ifdef __cplusplus
}
#endif

#endif /* ES9PLUS_CLIENT_H */
