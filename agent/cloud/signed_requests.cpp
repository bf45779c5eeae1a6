#include "signed_requests.h"

#include "bootstrap.h"
#include "cloud_sign.h"
#include "deployment.h"
#include "ntp_client.h"
#include "reply_collector.h"

#include <clog.h>
#include <secret_mask.h>
#include <state_work.h>

#include <cjson/cJSON.h>
#include <curl/curl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>

namespace {

// The log tags of the two replies, parsed or not (the status reply shares
// the bootstrap reply's tag).
const char kOperCodeTag[] = "[ProfileOperCodeQueryResp]";
const char kStatusTag[] = "[HBRAgentBootstrapQueryResp]";

// What differs between the two signed requests.
struct SignedRequest {
    const std::string *url;
    bool askNtp; // the operation code signs the NTP time when the clock is off
    std::function<std::string(const std::string &path, int64_t timestamp, const std::string &nonce)> canonical;
    std::function<void(cJSON *body)> addMembers; // the members after "sn"
    CloudReplyParser parser;
    const char *tag; // the parser's log tag
    bool httpErrorHook; // test code 1008 applies
    std::function<void(const IotServiceFlowContext &context)> successLine;
};

struct CurlBlob {
    struct curl_blob blob;
    explicit CurlBlob(const DeploymentPem &pem) : blob{const_cast<char *>(pem.data), pem.size, CURL_BLOB_COPY} {}
};

int64_t SigningTimestamp(bool askNtp)
{
    int64_t local = GetLocalUnixTime();
    if (!askNtp) {
        return local;
    }
    HBR_LOG_ERROR("[GeteSIMProfileOperCodeFromHbrServer] gmtTm: %lld", static_cast<long long>(local));
    HBR_LOG_ERROR("[GeteSIMProfileOperCodeFromHbrServer] Start to get UTC time");
    int64_t ntp = GetNtpUtcTime();
    HBR_LOG_ERROR("[GeteSIMProfileOperCodeFromHbrServer] utcTime: %lld", static_cast<long long>(ntp));
    int64_t chosen = SigningTime(local, ntp);
    if (chosen != local) {
        HBR_LOG_ERROR("[GeteSIMProfileOperCodeFromHbrServer] Get time success");
    }
    return chosen;
}

// What a request owns until its handle is cleaned up.
struct SignedParts {
    curl_slist *headers = nullptr;
    cJSON *body = nullptr;
    char *printed = nullptr;
    ~SignedParts()
    {
        cJSON_free(printed);
        cJSON_Delete(body);
        curl_slist_free_all(headers);
    }
};

curl_slist *BuildHeaders(const std::string &nonce, int64_t timestamp, const char *signature)
{
    const std::string authorization = "Authorization: HOLLOWBRIGHT-HMAC-SHA256 nonce_str=" + nonce +
                                      ",timestamp=" + std::to_string(static_cast<long long>(timestamp)) +
                                      ",signature=" + signature;
    HBR_LOG_ERROR("Authorization Header:%s", authorization.c_str());
    curl_slist *headers = curl_slist_append(nullptr, authorization.c_str());
    if (headers != nullptr) {
        curl_slist *more = curl_slist_append(headers, "Content-Type: application/json");
        if (more != nullptr) {
            headers = more;
        }
    }
    return headers;
}

// Logs a failed option with the signed requests' wording.
bool SignedOptionFailed(CURLcode rc, const char *option)
{
    if (rc == CURLE_OK) {
        return false;
    }
    HBR_LOG_ERROR("curl_easy_setopt %s returns %s", option, curl_easy_strerror(rc));
    return true;
}

// Sets the options in their order; false when a required one failed (its
// line is logged).
bool SetSignedOptions(CURL *curl, const SignedRequest &request, const std::string &sn, const std::string &nonce,
                      int64_t timestamp, const char *signature, SignedParts *parts, ReplyCollector *reply)
{
    const std::string &url = *request.url;
    CurlBlob ca(DeploymentCloudCa());
    CurlBlob key(DeploymentClientKey());
    CurlBlob cert(DeploymentClientCert());
    CURLcode rc;
    if ((rc = curl_easy_setopt(curl, CURLOPT_POST, 1L)) != CURLE_OK) {
        HBR_LOG_ERROR("curl_easy_setopt CURLOPT_POST returns %s", curl_easy_strerror(rc));
        return false;
    }
    HBR_LOG_ERROR("url:%s", url.c_str());
    if ((rc = curl_easy_setopt(curl, CURLOPT_URL, url.c_str())) != CURLE_OK) {
        HBR_LOG_ERROR("[esimsrv_log]:curl_easy_setopt CURLOPT_URL returns %s", curl_easy_strerror(rc));
        return false;
    }
    if ((rc = curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L)) != CURLE_OK) {
        HBR_LOG_ERROR("curl_easy_setopt CURLOPT_FOLLOWLOCATION returns %s", curl_easy_strerror(rc));
        return false;
    }
    parts->headers = BuildHeaders(nonce, timestamp, signature);
    if ((rc = curl_easy_setopt(curl, CURLOPT_HTTPHEADER, parts->headers)) != CURLE_OK) {
        HBR_LOG_ERROR("curl_easy_setopt CURLOPT_HTTPHEADER fail(%s)", curl_easy_strerror(rc));
    }
    parts->body = cJSON_CreateObject();
    cJSON_AddStringToObject(parts->body, "sn", sn.c_str());
    request.addMembers(parts->body);
    parts->printed = cJSON_Print(parts->body);
    HBR_LOG_ERROR("post data: %s", parts->printed != nullptr ? parts->printed : "");
    if (parts->printed == nullptr) {
        return false;
    }
    if ((rc = curl_easy_setopt(curl, CURLOPT_COPYPOSTFIELDS, parts->printed)) != CURLE_OK) {
        HBR_LOG_ERROR("curl_easy_setopt CURLOPT_COPYPOSTFIELDS fail(%s)", curl_easy_strerror(rc));
        return false;
    }
    if ((rc = curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1))) != CURLE_OK) {
        HBR_LOG_ERROR("curl_easy_setopt CURLOPT_HTTP_VERSION fail(%s)", curl_easy_strerror(rc));
        return false;
    }
    if ((rc = curl_easy_setopt(curl, CURLOPT_CAINFO_BLOB, &ca.blob)) != CURLE_OK) {
        HBR_LOG_ERROR("curl_easy_setopt CURLOPT_CAINFO_BLOB returns %s", curl_easy_strerror(rc));
        return false;
    }
    if (!SetSharedCloudOptions(curl, SignedOptionFailed)) {
        return false;
    }
    if ((rc = curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 1L)) != CURLE_OK) {
        HBR_LOG_ERROR("curl_easy_setopt CURLOPT_SSL_VERIFYHOST returns %s", curl_easy_strerror(rc));
        return false;
    }
    if ((rc = curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L)) != CURLE_OK) {
        HBR_LOG_ERROR("curl_easy_setopt CURLOPT_SSL_VERIFYPEER returns %s", curl_easy_strerror(rc));
        return false;
    }
    if ((rc = curl_easy_setopt(curl, CURLOPT_SSLKEY_BLOB, &key.blob)) != CURLE_OK) {
        HBR_LOG_ERROR("curl_easy_setopt CURLOPT_SSLKEY_BLOB returns %s", curl_easy_strerror(rc));
        return false;
    }
    if ((rc = curl_easy_setopt(curl, CURLOPT_SSLCERT_BLOB, &cert.blob)) != CURLE_OK) {
        HBR_LOG_ERROR("curl_easy_setopt CURLOPT_SSLCERT_BLOB returns %s", curl_easy_strerror(rc));
        return false;
    }
    if ((rc = curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, CollectReply)) != CURLE_OK) {
        HBR_LOG_ERROR("curl_easy_setopt CURLOPT_WRITEFUNCTION fail(%s)", curl_easy_strerror(rc));
        return false;
    }
    if ((rc = curl_easy_setopt(curl, CURLOPT_WRITEDATA, reply)) != CURLE_OK) {
        HBR_LOG_INFO("GetBootstrapKeyValueFromServer curl_easy_setopt CURLOPT_WRITEDATA returns %s",
                     curl_easy_strerror(rc));
        return false;
    }
    return true;
}

int PerformSignedRequest(const SignedRequest &request, const std::string &sn, IotServiceFlowContext &context)
{
    std::string path;
    if (!SigningPath(*request.url, &path)) {
        HBR_LOG_ERROR("hbr server url error");
        return 0;
    }
    unsigned char nonceBytes[16];
    if (RandNumber(nonceBytes) != 0) {
        HBR_LOG_ERROR("RandNumberInternal fail, use static rand number");
        std::memcpy(nonceBytes, DeploymentFallbackNonce(), sizeof nonceBytes);
    }
    const std::string nonce = LowerHex(nonceBytes, sizeof nonceBytes);
    const int64_t timestamp = SigningTimestamp(request.askNtp);

    const std::string canonical = request.canonical(path, timestamp, nonce);
    HBR_LOG_ERROR("[GetProfileOperCode] buffer tmp:%s", MaskAfterMarker(canonical, "&key=").c_str());
    char signature[128] = {0};
    BuildHBRSignBuffer(reinterpret_cast<const unsigned char *>(context.token.data()), context.token.size(),
                       reinterpret_cast<const unsigned char *>(canonical.data()), canonical.size(), signature);
    HBR_LOG_ERROR("[GetProfileOperCode] signBuffer:%s", signature);

    CURL *curl = curl_easy_init();
    if (curl == nullptr) {
        std::printf("curl_easy_init fail\n");
        return 0;
    }
    ReplyCollector reply;
    SignedParts parts;
    int result = 0;
    if (SetSignedOptions(curl, request, sn, nonce, timestamp, signature, &parts, &reply)) {
        CURLcode rc = curl_easy_perform(curl);
        if (rc != CURLE_OK) {
            HBR_LOG_ERROR("curl_easy_perform fail(%d-%s)", static_cast<int>(rc), curl_easy_strerror(rc));
            LogFailedReply(request.tag, reply, MaskCutJsonSecrets(reply.bytes));
        } else {
            ParseCollectedReply(reply, request.parser, &context);
            long status = 404;
            if (request.httpErrorHook &&
                CStateWork::GetInstance()->m_testRetryErrorCode == ZFW_PCIOT_HBR_HTTP_ERROR) {
                status = 500;
                HBR_LOG_ERROR("code value error, ZFW_PCIOT_HBR_HTTP_ERROR:%d\ncurl_easy_getinfo failed..status = "
                              "%ld\nsend_packet...END...status = %ld",
                              static_cast<int>(ZFW_PCIOT_HBR_HTTP_ERROR), status, status);
            } else {
                if (curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK) {
                    HBR_LOG_ERROR("curl_easy_getinfo failed..status = %ld", status);
                }
                HBR_LOG_ERROR("send_packet...END...status = %ld", status);
            }
            if (status == 200 && context.done != 0) {
                request.successLine(context);
                result = 1;
            }
        }
    }
    curl_easy_cleanup(curl);
    return result;
}

const char *CodeLine(int code)
{
    switch (code) {
    case ZFW_PCIOT_HBR_NON_UNIQUE_RESULT_ERROR:
        return "[ProfileOperCodeQueryResp]:code value error, ZFW_PCIOT_HBR_NON_UNIQUE_RESULT_ERROR:%d";
    case ZFW_PCIOT_HBR_ILLEGAL_ACTIVATION_ERROR:
        return "[ProfileOperCodeQueryResp]:code value error, ZFW_PCIOT_HBR_ILLEGAL_ACTIVATION_ERROR:%d";
    case ZFW_PCIOT_HBR_EMPTY_EID_ERROR:
        return "[ProfileOperCodeQueryResp]:code value error, ZFW_PCIOT_HBR_EMPTY_EID_ERROR:%d";
    case ZFW_PCIOT_HBR_UNKNOWN_CERT_FAIL:
        return "[ProfileOperCodeQueryResp]:code value error, ZFW_PCIOT_HBR_UNKNOWN_CERT_FAIL:%d";
    case ZFW_PCIOT_HBR_ERROR_CODE_PROFILE_EXHAUSTED_ERROR:
        return "[ProfileOperCodeQueryResp]:code value error, ZFW_PCIOT_HBR_ERROR_CODE_PROFILE_EXHAUSTED_ERROR:%d";
    case ZFW_PCIOT_HBR_LIMITTED_RETRY_COUNT_ERROR:
        return "[ProfileOperCodeQueryResp]:code value error, ZFW_PCIOT_HBR_LIMITTED_RETRY_COUNT_ERROR:%d";
    default:
        return nullptr;
    }
}

void StoreOperCodeData(IotServiceFlowContext *ctx, const cJSON *data)
{
    const cJSON *status = cJSON_GetObjectItem(data, "status");
    if (cJSON_IsNumber(status)) {
        HBR_LOG_INFO("[ProfileOperCodeQueryResp]:status is %f-%d", status->valuedouble,
                     TruncateToInt(status->valuedouble));
    } else {
        HBR_LOG_INFO("[ProfileOperCodeQueryResp]:data.status not exist");
    }
    const cJSON *operation = cJSON_GetObjectItem(data, "operation");
    if (cJSON_IsNumber(operation)) {
        ctx->operation = TruncateToInt(operation->valuedouble);
        HBR_LOG_INFO("[ProfileOperCodeQueryResp]:operation is %f-%d", operation->valuedouble, ctx->operation);
    } else {
        HBR_LOG_INFO("[ProfileOperCodeQueryResp]:data.operation not exist");
    }
    const cJSON *token = cJSON_GetObjectItem(data, "token");
    if (cJSON_IsString(token)) {
        ctx->activeCode = token->valuestring;
        HBR_LOG_INFO("[ProfileOperCodeQueryResp]:activecode is %s", token->valuestring);
    } else {
        HBR_LOG_INFO("[ProfileOperCodeQueryResp]:data.token not exist");
    }
    const cJSON *simMode = cJSON_GetObjectItem(data, "simMode");
    if (cJSON_IsNumber(simMode)) {
        ctx->simMode = TruncateToInt(simMode->valuedouble);
        HBR_LOG_INFO("[ProfileOperCodeQueryResp]:simMode is %f-%d", simMode->valuedouble, ctx->simMode);
    } else {
        HBR_LOG_INFO("[ProfileOperCodeQueryResp]:data.simMode not exist");
    }
    ctx->done = 1;
}

} // namespace

size_t ProfileOperCodeQueryResp(void *data, size_t size, size_t count, void *context)
{
    IotServiceFlowContext *ctx = static_cast<IotServiceFlowContext *>(context);
    const size_t total = size * count;
    ctx->done = 0;
    int useInBootstrap = 0;
    char *canned = ConfigErrorMsg(&useInBootstrap);
    HBR_LOG_INFO("[ProfileOperCodeQueryResp]:entering ProfileOperCodeQueryResp");
    std::string text;
    if (canned != nullptr && !useInBootstrap) {
        text = canned;
    } else if (data == nullptr) {
        HBR_LOG_INFO("[ProfileOperCodeQueryResp]: contents is NULL!");
        std::free(canned);
        return total;
    } else {
        text.assign(static_cast<const char *>(data), total);
    }
    std::free(canned);

    cJSON *root = ParseCloudReply(kOperCodeTag, total, MaskCutJsonSecrets(text), text);
    if (root == nullptr) {
        return total;
    }
    const cJSON *message = cJSON_GetObjectItem(root, "message");
    if (cJSON_IsString(message)) {
        HBR_LOG_INFO("[ProfileOperCodeQueryResp]:message is %s", message->valuestring);
    }
    int code = 0;
    if (CloudReplyCode(kOperCodeTag, root, &code)) {
        if (code == 0) {
            const cJSON *dataItem = cJSON_GetObjectItem(root, "data");
            if (dataItem != nullptr) {
                StoreOperCodeData(ctx, dataItem);
            }
        } else {
            if (const char *line = CodeLine(code)) {
                HBR_LOG_INFO(line, code);
                ctx->errorCode = code;
            }
            HBR_LOG_INFO("[ProfileOperCodeQueryResp]:code value error");
        }
    }
    cJSON_Delete(root);
    return total;
}

size_t SyncDeviceProfileStatusResp(void *data, size_t size, size_t count, void *context)
{
    IotServiceFlowContext *ctx = static_cast<IotServiceFlowContext *>(context);
    const size_t total = size * count;
    HBR_LOG_INFO("[HBRAgentBootstrapQueryResp]:entering HBRAgentBootstrapQueryResp\n");
    ctx->done = 0;
    if (data == nullptr) {
        return total;
    }
    const std::string text(static_cast<const char *>(data), total);
    cJSON *root = ParseCloudReply(kStatusTag, total, MaskCutJsonSecrets(text), text);
    if (root == nullptr) {
        return total;
    }
    int code = 0;
    if (CloudReplyCode(kStatusTag, root, &code)) {
        if (code == 0) {
            const cJSON *message = cJSON_GetObjectItem(root, "message");
            if (cJSON_IsString(message)) {
                HBR_LOG_INFO("[HBRAgentBootstrapQueryResp]:message is %s", message->valuestring);
            } else {
                HBR_LOG_INFO("[HBRAgentBootstrapQueryResp]:message is not exist");
            }
            ctx->done = 1;
        } else {
            ctx->errorCode = 1;
            HBR_LOG_INFO("[HBRAgentBootstrapQueryResp]:code value error(%d)", code);
        }
    }
    cJSON_Delete(root);
    return total;
}

int GeteSIMProfileOperCodeFromHbrServer(const std::string &sn, const std::string &iccid,
                                        IotServiceFlowContext &context)
{
    SignedRequest request;
    request.url = &context.serviceUrl;
    request.askNtp = true;
    request.canonical = [&](const std::string &path, int64_t timestamp, const std::string &nonce) {
        return OperCodeCanonicalText(path, timestamp, nonce, iccid, sn, context.token);
    };
    request.addMembers = [&](cJSON *body) {
        if (!iccid.empty()) {
            cJSON_AddStringToObject(body, "iccid", iccid.c_str());
        }
    };
    request.parser = ProfileOperCodeQueryResp;
    request.tag = kOperCodeTag;
    request.httpErrorHook = true;
    request.successLine = [](const IotServiceFlowContext &ctx) {
        HBR_LOG_INFO("GetProfileOperCode opercode:%d-datausge:%d-activecode:%s", ctx.operation, ctx.simMode,
                     ctx.activeCode.c_str());
    };
    return PerformSignedRequest(request, sn, context);
}

int SyncDeviceProfileStatusToHbrServer(const std::string &sn, const std::string &iccid, const std::string &eid,
                                       int type, IotServiceFlowContext &context)
{
    SignedRequest request;
    request.url = &context.pecUrl;
    request.askNtp = false;
    request.canonical = [&](const std::string &path, int64_t timestamp, const std::string &nonce) {
        return StatusCanonicalText(path, timestamp, nonce, eid, iccid, sn, type, context.token);
    };
    request.addMembers = [&](cJSON *body) {
        if (!iccid.empty()) {
            cJSON_AddStringToObject(body, "iccid", iccid.c_str());
        }
        if (!eid.empty()) {
            cJSON_AddStringToObject(body, "eid", eid.c_str());
        }
        if (type == 1 || type == 2) {
            cJSON_AddNumberToObject(body, "type", type);
        }
    };
    request.parser = SyncDeviceProfileStatusResp;
    request.tag = kStatusTag;
    request.httpErrorHook = false;
    request.successLine = [type](const IotServiceFlowContext &) {
        HBR_LOG_INFO("SyncDeviceProfileStatusToHbrServer type:%d success", type);
    };
    return PerformSignedRequest(request, sn, context);
}
