/*
 * Entry points of the LPA engine that its host program calls directly,
 * besides the lpa API: the engine log trampolines and their levels, and
 * the call frame of the card operations.
 * Compiles as C and as C++.
 */
#ifndef LPA_HOST_H
#define LPA_HOST_H

#include "lpa.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Engine log levels. A line is written when its level is greater than or
 * equal to the current level; SYS is reserved for the log's own notices. */
#define LPA_LOG_LEVEL_VER 1
#define LPA_LOG_LEVEL_DEB 2
#define LPA_LOG_LEVEL_INF 3
#define LPA_LOG_LEVEL_WAR 4
#define LPA_LOG_LEVEL_ERR 5
#define LPA_LOG_LEVEL_SYS 6

#if defined(__GNUC__)
#define LPA_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define LPA_PRINTF_FORMAT(fmt, args)
#endif

/* Writes one line to the engine log (no-op until the engine's log is installed). */
LPA_API void lpaCoreLog(int32_t level, const char *format, ...) LPA_PRINTF_FORMAT(2, 3);

/* Flushes the engine log. */
LPA_API void lpaCoreLogFlush(void);

/* Sets the engine log level as given, without a check or a log line. */
LPA_API void lpaCoreLogSetLevel(int32_t level);

/* Stores the CA certificate file used to verify HTTPS servers (the
 * certPath configuration parameter). The path must have fewer than 260
 * characters; a NULL or longer path answers false and changes nothing. */
LPA_API bool lpaManagerSetCertPath(const char *path);

/* Opens the card connection: establishes the SE media context, connects
 * the reader (a logical channel to the eUICC) and selects the ISD-R, at
 * most 12 attempts 3000 ms apart. Records 0x2006 to 0x200B on failure. */
LPA_API bool _lpaManagerConnectReaderAndSelectISDR(void);

/* Closes the card connection (after every open attempt, a failed one
 * included): disconnects the reader and releases the context. True when
 * no context remains; records 0x200A when the reader does not let go. */
LPA_API bool _lpaManagerUnselectISDRAndDisconnectReader(void);

/* The call frame of the card operations, for a host that runs an engine
 * manager call itself. lpaApiFrameBegin writes the "started" line, records
 * the name, resets the last error and writes "++ <name>()"; the host then
 * opens the card connection, makes its call and closes the connection;
 * lpaApiFrameEnd(result) writes "-- <name>() : return ..." and the
 * "terminated" line, flushes the log and answers result. */
LPA_API void lpaApiFrameBegin(const char *apiName);
LPA_API bool lpaApiFrameEnd(bool result);

/* The download with an activation code inside an open card connection
 * (the manager call of lpaDownloadProfile). callbacks may be NULL or all
 * zero; result is required and zeroed on entry. */
LPA_API bool lpaManagerDownloadProfile(const char *activationCode, const LpaDownloadCallbacks *callbacks,
                                       LpaOperationResult *result);

#ifdef __cplusplus
}
#endif

#endif /* LPA_HOST_H */
