/*
 * Shared pieces of the call frame that wraps the lpa exports: the name of
 * the export now running, its "started" line, and its closing line with the
 * log flush.
 *
 * Not thread-safe: the engine is driven from one thread at a time.
 */
#ifndef LPA_API_FRAME_H
#define LPA_API_FRAME_H

#ifdef __cplusplus
extern "C" {
#endif

#define LPA_API_NAME_SIZE 64

/* Name of the export now running (at most 63 characters). */
extern char lpaCurrentApiName[LPA_API_NAME_SIZE];

/* Writes "[LPASDKAPI] <name> started" and records the name in
 * lpaCurrentApiName. */
void _lpaApiFrameOpen(const char *apiName);

/* Writes the "terminated" line of lpaCurrentApiName (with the last error
 * when one is stored; nothing when the name is empty) and flushes the log. */
void _lpaApiFrameClose(void);

#ifdef __cplusplus
}
#endif

#endif /* LPA_API_FRAME_H */
