/*
 * The AT transport the generic-modem driver sends its commands through.
 * The engine only declares these symbols; the host program defines them
 * (the agent, the simulator's seam in tests, a null seam in examples), so
 * liblpa.so leaves them undefined and they resolve at link time (or, for
 * a host executable, at load time: it must export them). Definitions use
 * C linkage and default visibility; include this header beside them so a
 * signature mismatch is a compile error. Compiles as C and as C++.
 *
 * Writers: command is the NUL-terminated AT command text ending in "\r",
 * length its strlen. Success is a result equal to length, after the whole
 * reply was stored in read_mipc_buf (cleared first, at most 16,384
 * characters, NUL-terminated). -1 means send or receive failed, 0 out of
 * memory; after any result other than length the buffer is not read.
 */
#ifndef LPA_AT_TRANSPORT_H
#define LPA_AT_TRANSPORT_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define AT_TRANSPORT_BUFFER_SIZE 16385

/* Platform types 1 and 2 (Intel and the maker's USB module) use the first
 * writer; every other value uses the second. */
int64_t quorpciot_lpa_write_intel(int32_t platformType, const char *command, size_t length);
int64_t quorpciot_lpa_write_mtk(int32_t platformType, const char *command, size_t length);

/* The AT response buffer. */
extern char read_mipc_buf[AT_TRANSPORT_BUFFER_SIZE];

/* The current platform type, read before every AT command. */
int32_t quorpciot_lpa_plat_type(void);

#ifdef __cplusplus
}
#endif

#endif /* LPA_AT_TRANSPORT_H */
