// Gathering a cloud reply: libcurl may deliver a reply in several pieces,
// and the reply parsers take one complete text. Each request's write
// callback appends to its own collector; after the transfer the request
// hands all bytes to its parser once.
#ifndef HBR_AGENT_CLOUD_REPLY_COLLECTOR_H
#define HBR_AGENT_CLOUD_REPLY_COLLECTOR_H

#include "cloud_context.h"

#include <cstddef>
#include <string>

typedef size_t (*CloudReplyParser)(void *data, size_t size, size_t count, void *context);

struct ReplyCollector {
    std::string bytes;
};

// libcurl write callback; WRITEDATA is a ReplyCollector.
size_t CollectReply(char *data, size_t size, size_t count, void *collector);

// Calls `parser` once over the gathered bytes, when any arrived.
void ParseCollectedReply(const ReplyCollector &collector, CloudReplyParser parser, IotServiceFlowContext *context);

struct cJSON;

// The steps every reply parser shares, under its log tag (e.g.
// "[ProfileOperCodeQueryResp]"): logs the reply (`shown`, its masked form,
// with the delivered byte count `total`) and parses `text` with its length.
// Answers the tree (the caller deletes it), or null after logging the
// failure.
cJSON *ParseCloudReply(const char *tag, size_t total, const std::string &shown, const std::string &text);

// The reply's "code" member, truncated to int, with its log line; false
// (with the fatal line) when it is not a number.
bool CloudReplyCode(const char *tag, const cJSON *root, int *code);

// A number member's value truncated to int (saturating outside int's range).
int TruncateToInt(double value);

#endif
