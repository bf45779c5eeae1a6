/*
 * Engine manager set-up: the manager state (once per process) and the two
 * media records the engine runs on, created at initialisation and deleted
 * at uninitialisation.
 *
 * Not thread-safe: the engine is driven from one thread at a time.
 */
#ifndef LPA_MANAGER_H
#define LPA_MANAGER_H

#include <stdbool.h>

#include "card/se_media.h"
#include "server/http_media.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The first call of the process empties readerName, certPath and
 * deviceInfoTlv and the application execution-error callback, and marks
 * the manager initialised; later calls do nothing. Answers the mark. */
bool lpaManagerInitialize(void);

/* True once lpaManagerInitialize ran. */
bool lpaManagerIsInitialized(void);

/* Creates the SE media with the given driver and registers the engine's
 * execution-error forwarder on it; false when an SE media already exists
 * or creation or registration fails. */
bool lpaManagerInitializeSEMedia(TSEMediaConstructor create, TSEMediaDestructor destroy);

/* Creates the HTTP media with the given driver and registers the forwarder
 * on it; false when an HTTP media already exists or creation or
 * registration fails. */
bool lpaManagerInitializeHttpMedia(THTTPMediaConstructor create, THTTPMediaDestructor destroy);

/* Deletes the SE media (when seMedia is set) and then the HTTP media (when
 * httpMedia is set), each only when it exists, with their trace lines. */
void lpaManagerDeleteMedia(bool seMedia, bool httpMedia);

#ifdef __cplusplus
}
#endif

#endif /* LPA_MANAGER_H */
