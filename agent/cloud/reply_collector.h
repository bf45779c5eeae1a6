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

// A number member's value truncated to int (saturating outside int's range).
int TruncateToInt(double value);

#endif
