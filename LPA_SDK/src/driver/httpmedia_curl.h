/*
 * The libcurl HTTP media driver: one easy handle per request, a JSON POST
 * with the fixed GSMA headers, TLS 1.2 or later, the response body
 * collected in engine memory.
 *
 * The driver never calls curl_global_init: the host program does that once
 * before the first request.
 *
 * Not thread-safe: the engine is driven from one thread at a time.
 */
#ifndef HTTPMEDIA_CURL_H
#define HTTPMEDIA_CURL_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#include <curl/curl.h>

#include "server/http_media.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Oldest libcurl the driver accepts: 7.34.0. */
#define HTTP_MEDIA_CURL_MIN_VERSION 0x072200

/* The largest response body kept (1 MiB); a larger one ends the transfer. */
#define HTTP_MEDIA_CURL_RESPONSE_MAX ((size_t)1 << 20)

/* The driver's private record. */
typedef struct THTTPMediaCURL {
    THTTPMedia *media;          /* back-link */
    CURL *curl;                 /* easy handle, NULL between requests */
    struct curl_slist *headers; /* request header list, NULL between requests */
    char *response;             /* engine memory, NUL-terminated; NULL until data arrives */
    size_t responseLength;      /* bytes received, without the NUL */
} THTTPMediaCURL;

/* Creates the driver: the media record and its private record, linked both
 * ways. Clears the version number and the registered callback (never the
 * option values). NULL when an allocation fails. */
THTTPMedia *New_HTTPMediaCurl(void);

/* Releases what a request left behind, then the private record and the
 * media record. */
void Delete_HTTPMediaCurl(THTTPMedia *media);

/* The operations behind the media record. */
bool _httpMediaHttpExecuteInit(THTTPMedia *media);
bool _httpMediaHttpExecutePost(THTTPMedia *media, const char *caPath, const char *url,
                               const char *body, int32_t *httpCode);
void _httpMediaHttpExecuteCleanup(THTTPMedia *media);
char *_httpMediaGetBufferResponse(THTTPMedia *media);
bool _httpMediaSetBooleanOption(THTTPMedia *media, HttpMediaOptionType id, bool value);
bool _httpMediaGetBooleanOption(THTTPMedia *media, HttpMediaOptionType id, bool *value);
bool _httpMediaSetLongOption(THTTPMedia *media, HttpMediaOptionType id, int32_t value);
bool _httpMediaGetLongOption(THTTPMedia *media, HttpMediaOptionType id, int32_t *value);
bool _httpMediaSetCallbackEventExecutionError(THTTPMedia *media, LpaEventExecutionErrorCallback callback);

/* libcurl write callback: appends size x count bytes to the response of the
 * THTTPMediaCURL given as target. Returns the number of bytes taken, 0 on a
 * NULL argument or when memory runs out. */
size_t _WriteRespCallback(char *data, size_t size, size_t count, void *target);

/* The version gate of init: true for a libcurl version number of
 * HTTP_MEDIA_CURL_MIN_VERSION or later. Writes the verdict line. */
bool _httpMediaIsCurlVersionSupported(unsigned int versionNumber);

/* The libcurl version number seen by the last init (0 before). */
unsigned int _httpMediaCurlVersionNumber(void);

#ifdef __cplusplus
}
#endif

#endif /* HTTPMEDIA_CURL_H */
