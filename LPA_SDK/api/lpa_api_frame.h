/*
 * The call frame that wraps the lpa exports: the name of the export now
 * running, the call depth, its "started" line, and its closing line with
 * the log flush; and the whole frame of a card operation around one
 * manager call.
 *
 * Not thread-safe: the engine is driven from one thread at a time.
 */
#ifndef LPA_API_FRAME_H
#define LPA_API_FRAME_H

#include <stdbool.h>
#include <stdint.h>

#include "lpa.h"

#ifdef __cplusplus
extern "C" {
#endif

#define LPA_API_NAME_SIZE 64

/* Name of the export now running (at most 63 characters). */
extern char lpaCurrentApiName[LPA_API_NAME_SIZE];

/* Raised on entry to a framed body and lowered on leaving it. */
extern uint64_t lpaApiCallDepth;

/* Writes "[LPASDKAPI] <name> started" and records the name in
 * lpaCurrentApiName. */
void _lpaApiFrameOpen(const char *apiName);

/* Writes the "terminated" line of lpaCurrentApiName (with the last error
 * when one is stored; nothing when the name is empty) and flushes the log. */
void _lpaApiFrameClose(void);

/* The "started" line, the name, the error reset, "++ <name>()" and the
 * depth raised (the first five steps of a card operation). */
void _lpaApiFrameEnterCardOperation(const char *apiName);

/* The depth lowered, "-- <name>() : return <result>", the "terminated" line
 * and the flush. Answers result. */
bool _lpaApiFrameLeaveCardOperation(bool result);

/* The whole frame of a card operation: enter, open the card connection,
 * call(context) only when it opened, always close it, leave. Answers the
 * call's result AND the close's result. */
bool _lpaApiRunCardOperation(const char *apiName, bool (*call)(void *context), void *context);

/* The same frame for the operations with a result record: both counters
 * are zeroed after the entry, before the card connection opens (result
 * may be NULL). */
bool _lpaApiRunCardOperationWithResult(const char *apiName, LpaOperationResult *result, bool (*call)(void *context),
                                       void *context);

#ifdef __cplusplus
}

/* _lpaApiRunCardOperationWithResult with any callable answering bool. */
template <typename Call>
static inline bool lpaApiRunCardOperation(const char *apiName, LpaOperationResult *result, Call call)
{
    return _lpaApiRunCardOperationWithResult(
        apiName, result, [](void *context) -> bool { return (*static_cast<Call *>(context))(); }, &call);
}

/* _lpaApiRunCardOperation with any callable answering bool. */
template <typename Call>
static inline bool lpaApiRunCardOperation(const char *apiName, Call call)
{
    return _lpaApiRunCardOperation(
        apiName, [](void *context) -> bool { return (*static_cast<Call *>(context))(); }, &call);
}
#endif

#endif /* LPA_API_FRAME_H */
