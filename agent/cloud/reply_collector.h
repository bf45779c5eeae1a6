// Gathering a cloud reply: libcurl may deliver a reply in several pieces,
// and the reply parsers take one complete text. Each request's write
// callback appends to its own collector; after a transfer that succeeded
// the request hands all bytes to its parser once. Also the limits every
// cloud request shares: its time-outs, the size of a reply and how much of
// a reply a log line shows.
#ifndef HBR_AGENT_CLOUD_REPLY_COLLECTOR_H
#define HBR_AGENT_CLOUD_REPLY_COLLECTOR_H

#include "cloud_context.h"

#include <curl/curl.h>

#include <cstddef>
#include <string>

typedef size_t (*CloudReplyParser)(void *data, size_t size, size_t count, void *context);

// Far above the largest valid reply; a server sending more ends its
// transfer, before the gathered reply grows without limit.
const size_t kCloudReplyLimit = 1048576;
// A logged reply longer than this shows its first bytes and its size.
const size_t kLoggedReplyLimit = 16384;

// The connect and the whole-transfer time-out of a cloud request, in
// seconds: 60, divided by HBR_CLOUD_TIMEOUT_DIVISOR (for tests; read at each
// call, missing, non-numeric or below 1 means 1), never below 1.
long CloudTimeoutSeconds();

// Logs an option that could not be set, in the request's own wording;
// answers true when `rc` is a failure.
typedef bool (*CloudOptionFailed)(CURLcode rc, const char *option);

// The options every cloud request shares once its CA blob is set: at most 5
// redirects, to https only; the connect and transfer time-outs, kept without
// signals (a libcurl without the threaded resolver would otherwise time its
// name look-ups out with SIGALRM, in a service of many threads); and the
// blob as the only trust anchor (neither libcurl's CA folder nor its CA
// file, the system store, may vouch for the server). False when one could
// not be set (`failed` has logged it).
bool SetSharedCloudOptions(CURL *curl, CloudOptionFailed failed);

struct ReplyCollector {
    std::string bytes;
};

// libcurl write callback; WRITEDATA is a ReplyCollector. A piece that
// would take the reply past kCloudReplyLimit is refused with a line naming
// the limit, which ends the transfer (curl_easy_perform then fails).
size_t CollectReply(char *data, size_t size, size_t count, void *collector);

// What a log line shows of a reply of `total` bytes whose masked form is
// `masked`, with the flow's remembered secrets masked as well: all of it up
// to kLoggedReplyLimit bytes, else its first kLoggedReplyLimit bytes
// followed by " ... (<total> bytes)".
std::string LoggedReply(const std::string &masked, size_t total);

// After a failed transfer (time-out, size limit, broken connection) the
// gathered reply is neither parsed nor acted on; this logs it, under the
// request's tag, when any bytes came (`masked`: their masked form).
void LogFailedReply(const char *tag, const ReplyCollector &collector, const std::string &masked);

// Calls `parser` once over the gathered bytes, when any arrived.
void ParseCollectedReply(const ReplyCollector &collector, CloudReplyParser parser, IotServiceFlowContext *context);

struct cJSON;

// The steps every reply parser shares, under its log tag (e.g.
// "[ProfileOperCodeQueryResp]"): logs the reply (`shown`, its masked form,
// cut as LoggedReply does, with the delivered byte count `total`) and
// parses `text` with its length.
// Answers the tree (the caller deletes it), or null after logging the
// failure.
cJSON *ParseCloudReply(const char *tag, size_t total, const std::string &shown, const std::string &text);

// The reply's "code" member, truncated to int, with its log line; false
// (with the fatal line) when it is not a number.
bool CloudReplyCode(const char *tag, const cJSON *root, int *code);

// A number member's value truncated to int (saturating outside int's range).
int TruncateToInt(double value);

#endif
