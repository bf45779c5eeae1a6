#include "reply_collector.h"

#include <climits>
#include <cmath>

size_t CollectReply(char *data, size_t size, size_t count, void *collector)
{
    size_t n = size * count;
    static_cast<ReplyCollector *>(collector)->bytes.append(data, n);
    return n;
}

void ParseCollectedReply(const ReplyCollector &collector, CloudReplyParser parser, IotServiceFlowContext *context)
{
    if (collector.bytes.empty()) {
        return;
    }
    parser(const_cast<char *>(collector.bytes.data()), 1, collector.bytes.size(), context);
}

int TruncateToInt(double value)
{
    if (std::isnan(value)) {
        return 0;
    }
    if (value >= static_cast<double>(INT_MAX)) {
        return INT_MAX;
    }
    if (value <= static_cast<double>(INT_MIN)) {
        return INT_MIN;
    }
    return static_cast<int>(value);
}
