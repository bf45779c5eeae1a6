#include "bootstrap.h"

#include "deployment.h"
#include "reply_collector.h"

#include <clog.h>
#include <secret_mask.h>
#include <state_work.h>

#include <cjson/cJSON.h>
#include <curl/curl.h>
#include <openssl/md5.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

std::string BootstrapKey(const std::string &saltTemplate, const std::string &sn)
{
    std::string salted = saltTemplate;
    size_t at = salted.find("%s");
    if (at != std::string::npos) {
        salted.replace(at, 2, sn);
    }
    unsigned char digest[MD5_DIGEST_LENGTH];
    MD5(reinterpret_cast<const unsigned char *>(salted.data()), salted.size(), digest);
    char hex[2 * MD5_DIGEST_LENGTH + 1];
    for (int i = 0; i < MD5_DIGEST_LENGTH; ++i) {
        std::snprintf(hex + 2 * i, 3, "%02x", digest[i]);
    }
    return std::string(hex + 8, 16);
}

namespace {

// The log tag of the bootstrap reply, parsed or not.
const char kReplyTag[] = "[HBRAgentBootstrapQueryResp]";

struct CannedReply {
    int code;
    const char *logLine;
    const char *body;
};

// The "%s" of the -1 and 14451 bodies carries no device value.
const CannedReply kCannedReplies[] = {
    {-1, "[ConfigErrorMsg]:Simulate error, ZFW_PCIOT_HBR_NON_UNIQUE_RESULT_ERROR:%d",
     "{\n    \"code\" : -1,\n    \"msg\" : \"unknown error: Query {\\\"$java\\\" : Query: {\\\"iccid\\\" : "
     "\\\"\\\"}, Fields: {}, Sort:{} } returned non unique result.\"\n}"},
    {1, "[ConfigErrorMsg]:Simulate error, ZFW_PCIOT_HBR_ILLEGAL_ACTIVATION_ERROR:%d", "{\"code\":1}"},
    {801, "[ConfigErrorMsg]:Simulate error, ZFW_PCIOT_HBR_EMPTY_EID_ERROR:%d",
     "{\n    \"code\" : 801,\n    \"msg\" : \"{eid} is empty\"\n}"},
    {1006, "[ConfigErrorMsg]:Simulate error, ZFW_PCIOT_HBR_UNKNOWN_CERT_FAIL:%d", "unknown certificate"},
    {14451, "[ConfigErrorMsg]:Simulate error, ZFW_PCIOT_HBR_ERROR_CODE_PROFILE_EXHAUSTED_ERROR:%d",
     "{\n    \"code\" : 14451,\n    \"msg\" : \"eid = {}, AllocationEsim failed\"\n}"},
    {14459, "[ConfigErrorMsg]:Simulate error, ZFW_PCIOT_HBR_LIMITTED_RETRY_COUNT_ERROR:%d",
     "{\n    \"code\" : 14459,\n    \"msg\" : \"Times of download reached the limit\"\n}"},
};

const char *JsonString(const cJSON *object, const char *name)
{
    const cJSON *item = cJSON_GetObjectItem(object, name);
    return cJSON_IsString(item) ? item->valuestring : nullptr;
}

void StoreApns(IotServiceFlowContext *ctx, const cJSON *apns)
{
    int i = 0;
    const cJSON *element = nullptr;
    cJSON_ArrayForEach(element, apns)
    {
        if (i >= IotServiceFlowContext::kApnCount) {
            break; // no place in the context
        }
        IotServiceFlowRecord &entry = ctx->apns[i];
        if (const char *apn = JsonString(element, "apn")) {
            entry.apn_text = apn;
            HBR_LOG_INFO("APN: %s", MaskApnText(entry.apn_text).c_str());
        }
        const cJSON *iccids = cJSON_GetObjectItem(element, "iccid");
        if (iccids != nullptr) {
            int j = 0;
            const cJSON *iccid = nullptr;
            cJSON_ArrayForEach(iccid, iccids)
            {
                if (j >= IotServiceFlowRecord::kIccidSlots) {
                    break;
                }
                if (cJSON_IsString(iccid)) {
                    entry.iccid[j] = iccid->valuestring;
                    HBR_LOG_INFO("[bootstrap]: iccid[%d]: %s", j, iccid->valuestring);
                }
                ++j;
            }
        }
        zfw_pciot_bootstrap_prase_apns_info(ctx->apns, i);
        ++i;
    }
}

void StoreBootstrapData(IotServiceFlowContext *ctx, const cJSON *data)
{
    if (const char *company = JsonString(data, "company")) {
        HBR_LOG_INFO("[HBRAgentBootstrapQueryResp]:company is %s", company);
    }
    const cJSON *service = cJSON_GetObjectItem(data, "service");
    if (service == nullptr) {
        HBR_LOG_INFO("[HBRAgentBootstrapQueryResp]:service is not exist");
    } else {
        if (const char *url = JsonString(service, "url")) {
            ctx->serviceUrl = url;
            HBR_LOG_INFO("[HBRAgentBootstrapQueryResp]:service url is %s", url);
        }
        if (const char *pecUrl = JsonString(service, "pecUrl")) {
            ctx->pecUrl = pecUrl;
            HBR_LOG_INFO("[HBRAgentBootstrapQueryResp]:service pecUrl is %s", pecUrl);
        }
        if (const char *token = JsonString(service, "token")) {
            ctx->token = token;
            RememberSecret(ctx->token);
            HBR_LOG_INFO("[HBRAgentBootstrapQueryResp]:service token is %s", MaskSecret(ctx->token).c_str());
        }
        ctx->done = 1;
    }
    const cJSON *apns = cJSON_GetObjectItem(data, "apns");
    if (apns == nullptr) {
        HBR_LOG_INFO("Bootstrap parse apns failed");
    } else {
        StoreApns(ctx, apns);
    }
}

} // namespace

char *ConfigErrorMsg(int *useInBootstrap)
{
    int code = CStateWork::GetInstance()->m_testRetryErrorCode;
    for (const CannedReply &canned : kCannedReplies) {
        if (canned.code != code) {
            continue;
        }
        HBR_LOG_INFO(canned.logLine, code);
        size_t length = std::strlen(canned.body);
        char *body = static_cast<char *>(std::calloc(length + 1, 1));
        if (body == nullptr) {
            return nullptr;
        }
        std::memcpy(body, canned.body, length);
        HBR_LOG_INFO("[ConfigErrorMsg]: toal: %llu, contents: %s", static_cast<unsigned long long>(length), body);
        if (code == ZFW_PCIOT_HBR_ILLEGAL_ACTIVATION_ERROR && useInBootstrap != nullptr) {
            *useInBootstrap = 1;
        }
        return body;
    }
    return nullptr;
}

size_t HBRAgentBootstrapQueryResp(void *data, size_t size, size_t count, void *context)
{
    IotServiceFlowContext *ctx = static_cast<IotServiceFlowContext *>(context);
    const size_t total = size * count;
    HBR_LOG_INFO("[HBRAgentBootstrapQueryResp]:entering HBRAgentBootstrapQueryResp\n");
    ctx->done = 0;

    int useInBootstrap = 0;
    char *canned = ConfigErrorMsg(&useInBootstrap);
    std::string text;
    if (canned != nullptr && useInBootstrap) {
        HBR_LOG_INFO("[HBRAgentBootstrapQueryResp]:Enter the simulation scene\n");
        text = canned;
    } else if (data == nullptr) {
        std::free(canned);
        return total;
    } else {
        text.assign(static_cast<const char *>(data), total);
    }
    std::free(canned);

    cJSON *root = ParseCloudReply(kReplyTag, total, MaskJsonSecrets(text), text);
    if (root == nullptr) {
        return total;
    }
    int code = 0;
    if (CloudReplyCode(kReplyTag, root, &code)) {
        if (code == 0) {
            const cJSON *dataItem = cJSON_GetObjectItem(root, "data");
            if (dataItem != nullptr) {
                StoreBootstrapData(ctx, dataItem);
            }
        } else {
            if (code == ZFW_PCIOT_HBR_ILLEGAL_ACTIVATION_ERROR) {
                HBR_LOG_INFO("[ProfileOperCodeQueryResp]:code value error, ZFW_PCIOT_HBR_ILLEGAL_ACTIVATION_ERROR:%d",
                             code);
                ctx->errorCode = ZFW_PCIOT_HBR_ILLEGAL_ACTIVATION_ERROR;
            }
            HBR_LOG_INFO("[HBRAgentBootstrapQueryResp]:code value error(%d)", code);
        }
    }
    cJSON_Delete(root);
    return total;
}

void zfw_pciot_bootstrap_prase_apns_info(IotServiceFlowRecord *apns, int index)
{
    static const char *const kNames[] = {"apn", "ip_type", "verification_method", "username", "password"};
    IotServiceFlowRecord &entry = apns[index];
    std::string *fields[] = {&entry.apn, &entry.ip_type, &entry.verification_method, &entry.username,
                             &entry.password};
    HBR_LOG_INFO("[bootstrap]: zfw_pciot_bootstrap_prase_apns_info : begin");
    const std::string text = entry.apn_text;
    size_t cursor = 0;
    for (int f = 0; f < 5; ++f) {
        size_t comma = text.find(',', cursor);
        if (comma == std::string::npos) {
            continue;
        }
        *fields[f] = text.substr(cursor, comma - cursor);
        cursor = comma + 1;
        if (f == 4) {
            RememberSecret(*fields[f]);
        }
        const std::string shown = (f == 4) ? MaskSecret(*fields[f]) : *fields[f];
        HBR_LOG_INFO("[bootstrap]: bs_global_ver->zfw_in_use_server_info.apns[%d].%s : %s", index, kNames[f],
                     shown.c_str());
    }
    entry.apn_type = text.substr(cursor);
    HBR_LOG_INFO("[bootstrap]: bs_global_ver->zfw_in_use_server_info.apns[%d].apn_type : %s", index,
                 entry.apn_type.c_str());
}

namespace {

void UpperCase(std::string &text)
{
    for (char &c : text) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
}

// Refuses (with its line) a field longer than `limit` characters.
bool Fits(int entry, const char *name, const std::string &value, size_t limit)
{
    if (value.size() <= limit) {
        return true;
    }
    HBR_LOG_INFO("[bootstrap]: apns[%d].%s is too long (%u characters)", entry, name,
                 static_cast<unsigned>(value.size()));
    return false;
}

int MatchApnInfo(IotServiceFlowRecord *apns, const char *iccid, ApnInfo *apnInfo, const char *kindOnly)
{
    if (apns == nullptr || iccid == nullptr || apnInfo == nullptr) {
        HBR_LOG_INFO("[bootstrap]: iccid is NULL!");
        return 0;
    }
    const std::string device = iccid;
    int found = -1;
    for (int r = 0; r < IotServiceFlowContext::kApnCount && found < 0; ++r) {
        HBR_LOG_INFO("apns[%d].apn_type: %s", r, apns[r].apn_type.c_str());
        bool kind = apns[r].apn_type == kindOnly || apns[r].apn_type == "3";
        for (int n = 0; n < IotServiceFlowRecord::kIccidSlots; ++n) {
            const std::string &slot = apns[r].iccid[n];
            if (slot.empty()) {
                continue;
            }
            HBR_LOG_INFO("apns[%d].iccid[%d]: %s", r, n, slot.c_str());
            if (kind && device.compare(0, slot.size(), slot) == 0 && device.size() >= slot.size()) {
                found = r;
                break;
            }
        }
    }
    if (found < 0) {
        HBR_LOG_INFO("[bootstrap]: There is no apn info match!");
        return 0;
    }
    IotServiceFlowRecord &entry = apns[found];
    std::memset(apnInfo, 0, sizeof(ApnInfo));
    if (!Fits(found, "apn", entry.apn, sizeof apnInfo->apn_name - 1) ||
        !Fits(found, "username", entry.username, sizeof apnInfo->username - 1) ||
        !Fits(found, "password", entry.password, sizeof apnInfo->password - 1)) {
        return 0;
    }
    std::memcpy(apnInfo->apn_name, entry.apn.data(), entry.apn.size());
    HBR_LOG_INFO("[bootstrap]: apn_info->apn_name: %s", apnInfo->apn_name);
    UpperCase(entry.ip_type);
    apnInfo->pdp_type = entry.ip_type == "IPV4" ? 1 : entry.ip_type == "IPV6" ? 2 : entry.ip_type == "IPV4V6" ? 3 : 0;
    if (apnInfo->pdp_type != 0) {
        HBR_LOG_INFO("[bootstrap]: apn_info->pdp_type: %d", apnInfo->pdp_type);
    } else {
        HBR_LOG_INFO("[bootstrap]: apn_info->pdp_type: null");
    }
    UpperCase(entry.verification_method);
    apnInfo->auth_type = entry.verification_method == "PAP" ? 1 : entry.verification_method == "CHAP" ? 2 : 0;
    if (apnInfo->auth_type != 0) {
        HBR_LOG_INFO("[bootstrap]: apn_info->auth_type: %d", apnInfo->auth_type);
    } else {
        HBR_LOG_INFO("[bootstrap]: apn_info->auth_type: null");
    }
    std::memcpy(apnInfo->username, entry.username.data(), entry.username.size());
    HBR_LOG_INFO("[bootstrap]: apn_info->username: %s", apnInfo->username);
    std::memcpy(apnInfo->password, entry.password.data(), entry.password.size());
    HBR_LOG_INFO("[bootstrap]: apn_info->password: %s", MaskSecret(entry.password).c_str());
    return 1;
}

// The serial number as a query value: every byte outside [0-9A-Za-z._~-]
// percent-encoded, so that a '&' or '#' in it cannot rewrite the query.
std::string QueryValue(const std::string &text)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (char c : text) {
        const unsigned char b = static_cast<unsigned char>(c);
        if ((b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || b == '.' || b == '_' ||
            b == '~' || b == '-') {
            out += c;
        } else {
            out += '%';
            out += kHex[b >> 4];
            out += kHex[b & 15];
        }
    }
    return out;
}

// Logs a failed option with the bootstrap request's wording.
bool OptionFailed(CURLcode rc, const char *option)
{
    if (rc == CURLE_OK) {
        return false;
    }
    HBR_LOG_INFO("GetBootstrapKeyValueFromServer curl_easy_setopt %s returns %s", option, curl_easy_strerror(rc));
    return true;
}

} // namespace

int MatchAttachedApnInfo(IotServiceFlowRecord *apns, const char *iccid, ApnInfo *apnInfo)
{
    return MatchApnInfo(apns, iccid, apnInfo, "1");
}

int MatchInternetApnInfo(IotServiceFlowRecord *apns, const char *iccid, ApnInfo *apnInfo)
{
    return MatchApnInfo(apns, iccid, apnInfo, "2");
}

int GetHbrServerInfoFromBootstrapServer(const std::string &sn, const std::string &bootstrapUrl,
                                        IotServiceFlowContext &context)
{
    const std::string key = BootstrapKey(DeploymentSaltTemplate(), sn);
    RememberSecret(key);
    const std::string base = bootstrapUrl.empty() ? std::string(DeploymentBootstrapUrl()) : bootstrapUrl;
    // The key is derived from the serial number as read; only the URL
    // carries it encoded.
    const std::string query = "?sn=" + QueryValue(sn) + "&bootstrapKey=";
    const std::string url = base + query + key + "&type=service2;apns";
    // The key with the serial number fetches the signing key: logged masked.
    const std::string shown = base + query + MaskSecret(key) + "&type=service2;apns";
    HBR_LOG_INFO("GetBootstrapKeyValueFromServer http_url(%s)", shown.c_str());

    CURL *curl = curl_easy_init();
    if (curl == nullptr) {
        HBR_LOG_INFO("GetBootstrapKeyValueFromServer curl_easy_init Failed");
        return 0;
    }
    ReplyCollector reply;
    const DeploymentPem ca = DeploymentBootstrapCa();
    struct curl_blob caBlob = {const_cast<char *>(ca.data), ca.size, CURL_BLOB_COPY};
    CURLcode rc;
    bool ok = !OptionFailed(curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L), "CURLOPT_HTTPGET") &&
              !OptionFailed(curl_easy_setopt(curl, CURLOPT_URL, url.c_str()), "CURLOPT_URL") &&
              !OptionFailed(curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L), "CURLOPT_FOLLOWLOCATION") &&
              !OptionFailed(curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, CollectReply), "CURLOPT_WRITEFUNCTION") &&
              !OptionFailed(curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply), "CURLOPT_WRITEDATA") &&
              !OptionFailed(curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1)),
                            "CURLOPT_HTTP_VERSION");
    if (ok) {
        if ((rc = curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 1L)) != CURLE_OK) {
            HBR_LOG_INFO("curl_easy_setopt CURLOPT_SSL_VERIFYHOST returns %s", curl_easy_strerror(rc));
        }
        if ((rc = curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L)) != CURLE_OK) {
            HBR_LOG_INFO("curl_easy_setopt CURLOPT_SSL_VERIFYPEER returns %s", curl_easy_strerror(rc));
        }
        if ((rc = curl_easy_setopt(curl, CURLOPT_CAINFO_BLOB, &caBlob)) != CURLE_OK) {
            HBR_LOG_INFO("GetBootstrapKeyValueFromServer curl_easy_setopt CURLOPT_CAINFO_BLOB Failed:%s",
                         curl_easy_strerror(rc));
            ok = false;
        }
        ok = ok && SetSharedCloudOptions(curl, OptionFailed);
    }
    if (!ok) {
        curl_easy_cleanup(curl);
        return 0;
    }
    rc = curl_easy_perform(curl);
    if (rc != CURLE_OK) {
        HBR_LOG_INFO("GetBootstrapKeyValueFromServer curl_easy_perform Failed:%d-%s", static_cast<int>(rc),
                     curl_easy_strerror(rc));
        LogFailedReply(kReplyTag, reply, MaskJsonSecrets(reply.bytes));
        curl_easy_cleanup(curl);
        return 0;
    }
    ParseCollectedReply(reply, HBRAgentBootstrapQueryResp, &context);
    long status = 404;
    if ((rc = curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status)) != CURLE_OK) {
        HBR_LOG_INFO("GetBootstrapKeyValueFromServer curl_easy_getinfo Failed:%s", curl_easy_strerror(rc));
    }
    HBR_LOG_INFO("GetBootstrapKeyValueFromServer status:%d", static_cast<int>(status));
    int result = 0;
    if (status == 200 && context.done != 0) {
        HBR_LOG_INFO("GetBootstrapKeyValueFromServer url:%s-key:%s", context.serviceUrl.c_str(),
                     MaskSecret(context.token).c_str());
        result = 1;
    }
    curl_easy_cleanup(curl);
    return result;
}
