/*
 * HTTP media: the engine's one road to SM-DP+ and SM-DS servers. A record
 * of operation pointers (THTTPMedia) filled by one driver, held in the
 * process-wide instance _httpMedia, and the manager wrappers around it.
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

#ifdef __cplusplus
extern "C" {
#endif

/* Option ids. */
typedef int32_t HttpMediaOptionType;
#define HTTP_MEDIA_OPTION_SSL_VERIFYPEER  0 /* bool, default true */
#define HTTP_MEDIA_OPTION_SSL_VERIFYHOST  1 /* bool, default true */
#define HTTP_MEDIA_OPTION_DEBUG_MODE      2 /* bool, default false */
#define HTTP_MEDIA_OPTION_CONNECT_TIMEOUT 3 /* int32 seconds, default 60 */
#define HTTP_MEDIA_OPTION_TIMEOUT         4 /* int32 seconds, default 60 */

#define HTTP_MEDIA_BOOLEAN_OPTION_COUNT 3
#define HTTP_MEDIA_LONG_OPTION_FIRST    3
#define HTTP_MEDIA_LONG_OPTION_COUNT    2

/* The process-wide option values, indexed by id (long options by
 * id - HTTP_MEDIA_LONG_OPTION_FIRST). */
typedef struct HttpMediaOptionValues {
    bool booleanOption[HTTP_MEDIA_BOOLEAN_OPTION_COUNT];
    int32_t longOption[HTTP_MEDIA_LONG_OPTION_COUNT];
} HttpMediaOptionValues;

extern HttpMediaOptionValues httpMediaOptionValues;

/* The defaults the values hold at process start. */
extern const HttpMediaOptionValues httpMediaOptionDefaults;

typedef struct THTTPMedia THTTPMedia;

/* Ten pointer-sized members, in this order. */
struct THTTPMedia {
    void *privateRecord; /* the driver's own record */
    bool (*httpMediaHttpExecuteInit)(THTTPMedia *media);
    bool (*httpMediaHttpExecutePost)(THTTPMedia *media, const char *caPath, const char *url,
                                     const char *body, int32_t *httpCode);
    void (*httpMediaHttpExecuteCleanup)(THTTPMedia *media);
    char *(*httpMediaGetBufferResponse)(THTTPMedia *media);
    bool (*httpMediaSetBooleanOption)(THTTPMedia *media, HttpMediaOptionType id, bool value);
    bool (*httpMediaGetBooleanOption)(THTTPMedia *media, HttpMediaOptionType id, bool *value);
    bool (*httpMediaSetLongOption)(THTTPMedia *media, HttpMediaOptionType id, int32_t value);
    bool (*httpMediaGetLongOption)(THTTPMedia *media, HttpMediaOptionType id, int32_t *value);
    bool (*httpMediaSetCallbackEventExecutionError)(THTTPMedia *media,
                                                    LpaEventExecutionErrorCallback callback);
};

/* The one HTTP media instance (NULL while none exists). */
extern THTTPMedia *_httpMedia;

/* Allocates one THTTPMedia from the engine allocator, members not
 * initialised; NULL when the allocation fails. */
THTTPMedia *New_HTTPMediaBase(void);

/* Manager wrappers on _httpMedia. Each fails (false, or NULL for the
 * buffer) with a WAR line while _httpMedia is NULL. */
bool httpMediaManagerInitialize(void);
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
