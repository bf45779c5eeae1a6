/*
 * The HTTP media interface: the record of operation pointers that an HTTP
 * media driver fills (THTTPMedia), its option ids and process-wide option
 * values, and the driver's constructor and destructor types. Drivers
 * include this header, never the manager.
 */
#ifndef HTTP_MEDIA_H
#define HTTP_MEDIA_H

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

/* Allocates one THTTPMedia from the engine allocator, members not
 * initialised; NULL when the allocation fails. */
THTTPMedia *New_HTTPMediaBase(void);

/* A driver's constructor (a filled record, or NULL) and destructor. */
typedef THTTPMedia *(*THTTPMediaConstructor)(void);
typedef void (*THTTPMediaDestructor)(THTTPMedia *media);

#ifdef __cplusplus
}
#endif

#endif /* HTTP_MEDIA_H */
