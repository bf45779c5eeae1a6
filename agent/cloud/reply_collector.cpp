#include "reply_collector.h"

#include <clog.h>
#include <secret_mask.h>
#include <hbr_platform_sleep.h>

#include <cjson/cJSON.h>

#include <climits>
#include <cmath>
#include <cstdlib>

long CloudTimeoutSeconds()
{
    // The same divisor rules as the platform's sleeps.
    const DWORD ms = hbrSleepScaledDuration(60000, std::getenv("HBR_CLOUD_TIMEOUT_DIVISOR"));
    return ms < 1000 ? 1L : static_cast<long>(ms / 1000);
}

bool SetSharedCloudOptions(CURL *curl, CloudOptionFailed failed)
{
    char *none = nullptr;
    return !failed(curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L), "CURLOPT_MAXREDIRS") &&
           !failed(curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "https"), "CURLOPT_REDIR_PROTOCOLS_STR") &&
           !failed(curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, CloudTimeoutSeconds()), "CURLOPT_CONNECTTIMEOUT") &&
           !failed(curl_easy_setopt(curl, CURLOPT_TIMEOUT, CloudTimeoutSeconds()), "CURLOPT_TIMEOUT") &&
           !failed(curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L), "CURLOPT_NOSIGNAL") &&
           !failed(curl_easy_setopt(curl, CURLOPT_CAPATH, none), "CURLOPT_CAPATH") &&
           !failed(curl_easy_setopt(curl, CURLOPT_CAINFO, none), "CURLOPT_CAINFO");
}

size_t CollectReply(char *data, size_t size, size_t count, void *collector)
{
    std::string &bytes = static_cast<ReplyCollector *>(collector)->bytes;
    size_t n = size * count;
    if (n > kCloudReplyLimit || bytes.size() > kCloudReplyLimit - n) {
        HBR_LOG_ERROR("cloud reply too large: more than %lu bytes (%lu received), transfer ended",
                      static_cast<unsigned long>(kCloudReplyLimit), static_cast<unsigned long>(bytes.size() + n));
        return 0;
    }
    bytes.append(data, n);
    return n;
}

std::string LoggedReply(const std::string &masked, size_t total)
{
    // The flow's known secrets are masked before the cut too, so a secret
    // that straddles the cut cannot be logged in part.
    const std::string shown = MaskRememberedSecrets(masked);
    if (shown.size() <= kLoggedReplyLimit) {
        return shown;
    }
    return shown.substr(0, kLoggedReplyLimit) + " ... (" + std::to_string(static_cast<unsigned long long>(total)) +
           " bytes)";
}

void LogFailedReply(const char *tag, const ReplyCollector &collector, const std::string &masked)
{
    if (collector.bytes.empty()) {
        return;
    }
    HBR_LOG_ERROR("%s:transfer failed, reply not parsed (%llu bytes): %s", tag,
                  static_cast<unsigned long long>(collector.bytes.size()),
                  LoggedReply(masked, collector.bytes.size()).c_str());
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
    HBR_LOG_INFO("%s: toal: %llu, contents: %s", tag, static_cast<unsigned long long>(total),
                 LoggedReply(shown, total).c_str());
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
