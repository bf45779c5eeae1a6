#include "reply_collector.h"

#include <clog.h>

#include <cjson/cJSON.h>

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

cJSON *ParseCloudReply(const char *tag, size_t total, const std::string &shown, const std::string &text)
{
    HBR_LOG_INFO("%s: toal: %llu, contents: %s", tag, static_cast<unsigned long long>(total), shown.c_str());
    cJSON *root = cJSON_ParseWithLength(text.data(), text.size());
    if (root == nullptr) {
        HBR_LOG_INFO("%s:parse the msg from server failed", tag);
    }
    return root;
}

bool CloudReplyCode(const char *tag, const cJSON *root, int *code)
{
    const cJSON *item = cJSON_GetObjectItem(root, "code");
    if (!cJSON_IsNumber(item)) {
        HBR_LOG_INFO("%s: fatal error, CJSON code ITEM is NULL!", tag);
        return false;
    }
    HBR_LOG_INFO("%s:code is %f", tag, item->valuedouble);
    *code = TruncateToInt(item->valuedouble);
    return true;
}
