/*
 * HTTP media manager: the engine's one road to SM-DP+ and SM-DS servers.
 * The media record a driver fills (server/http_media.h), held in the
 * process-wide instance _httpMedia, and the manager wrappers around it.
 * The server layer (this manager and the ES9+/ES11 client) uses runtime/
 * and codec/ only; the driver is handed in by the API layer.
 *
 * A request runs as init -> post -> read the buffer -> cleanup.
 *
 * The five option values are process-wide and live from process start to
 * process end, whether or not a media record exists; the wrappers reach
 * them only while _httpMedia exists.
 *
 * Not thread-safe: the engine is driven from one thread at a time.
 */
#ifndef LPA_HTTPMEDIA_H
#define LPA_HTTPMEDIA_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#include "lpa.h"
#include "server/http_media.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The one HTTP media instance (NULL while none exists). */
extern THTTPMedia *_httpMedia;

/* Manager wrappers on _httpMedia. Each fails (false, or NULL for the
 * buffer) with a WAR line while _httpMedia is NULL. */
/* Creates the HTTP media with the driver's constructor and keeps its
 * destructor for httpMediaManagerDelete. */
bool httpMediaManagerInitialize(THTTPMediaConstructor create, THTTPMediaDestructor destroy);
bool httpMediaManagerIsInitialized(void);
bool httpMediaManagerDelete(void);
bool httpMediaManagerSetCallbackEventExecutionError(LpaEventExecutionErrorCallback callback);
bool httpMediaManagerHttpExecuteInit(void);
bool httpMediaManagerPost(const char *caPath, const char *url, const char *body, int32_t *httpCode);
char *httpMediaGetBufferResponse(void);
bool httpMediaHttpExectueCleanup(void);
bool httpMediaManagerSetBooleanOption(HttpMediaOptionType id, bool value);
bool httpMediaManagerGetBooleanOption(HttpMediaOptionType id, bool *value);
bool httpMediaManagerSetLongOption(HttpMediaOptionType id, int32_t value);
bool httpMediaManagerGetLongOption(HttpMediaOptionType id, int32_t *value);

#ifdef __cplusplus
}
#endif

#endif /* LPA_HTTPMEDIA_H */
