#include "cloud_sign.h"

#include "deployment.h"

#include <clog.h>
#include <secret_mask.h>

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#ifndef _WIN32
// The OS seeds OpenSSL's pool; the screen contents add nothing here.
static void RAND_screen(void)
{
}
#endif

namespace {
const int kMaxSeedPolls = 10;
}

int RandNumber(unsigned char *out)
{
    RAND_screen();
    char buf[260] = {0};
    std::memcpy(buf, "QrlHBRAgent", 11);
    RAND_add(buf, sizeof buf, 11.0);
    const char *seed = DeploymentRandSeed();
    std::memcpy(buf, seed, 6);
    buf[6] = '\0';
    RememberSecret(buf);
    RAND_seed(buf, sizeof buf);
    HBR_LOG_ERROR("[error][RandNumber]buf(%s)!", MaskSecret(buf).c_str());
    int polls = 0;
    while (RAND_status() != 1) {
        if (polls == kMaxSeedPolls) {
            HBR_LOG_ERROR("[error][RandNumber]not seeded after %d polls!", polls);
            return -1;
        }
        HBR_LOG_ERROR("[error][RandNumber]not enough sedded!");
        RAND_poll();
        ++polls;
    }
    HBR_LOG_ERROR("[error][RandNumber]seeded enough!");
    char file[260] = {0};
    if (RAND_file_name(file, sizeof file) == nullptr) {
        HBR_LOG_ERROR("[error][RandNumber]can not get rand file");
        return -1;
    }
    HBR_LOG_ERROR("[error][RandNumber] RAND_write_file(%d)", RAND_write_file(file));
    HBR_LOG_ERROR("[error][RandNumber] RAND_load_file(%d)", RAND_load_file(file, 1024));
    if (RAND_bytes(out, 16) != 1) {
        HBR_LOG_ERROR("[error][RandNumber] RAND_bytes Fail(%d)", static_cast<int>(ERR_get_error()));
        return -1;
    }
    return 0;
}

int Base64Encode(const unsigned char *in, size_t inLen, char *out, size_t *outLen)
{
    const size_t capacity = *outLen;
    // The text and its terminator must fit, besides the 3/2 rule.
    if (capacity < inLen * 3 / 2 || 4 * ((inLen + 2) / 3) + 1 > capacity) {
        HBR_LOG_ERROR("[error][Base64Encode] out_len < (in_len * 3 / 2)");
        return -1;
    }
    // EVP_EncodeBlock writes no line breaks.
    int written = EVP_EncodeBlock(reinterpret_cast<unsigned char *>(out), in, static_cast<int>(inLen));
    if (written < 0) {
        HBR_LOG_ERROR("[error][Base64Encode] EVP_EncodeUpdate Fail(%d)", static_cast<int>(ERR_get_error()));
        return -1;
    }
    const size_t length = static_cast<size_t>(written);
    HBR_LOG_ERROR("[error][Base64Encode] base64 str %llu-%llu-%s", static_cast<unsigned long long>(length),
                  static_cast<unsigned long long>(capacity), out);
    if (length >= capacity) {
        return -1;
    }
    out[length] = '\0';
    *outLen = length;
    return 0;
}

int HMACSign(const unsigned char *key, int keyLen, const unsigned char *data, size_t dataLen, unsigned char *md,
             unsigned int *mdLen)
{
    if (*mdLen < EVP_MAX_MD_SIZE) {
        HBR_LOG_ERROR("[error][HMACSign] *md_len < EVP_MAX_MD_SIZE");
        return -1;
    }
    HMAC_CTX *ctx = HMAC_CTX_new();
    if (ctx == nullptr) {
        HBR_LOG_ERROR("[error][HMACSign] HMAC_CTX_new Fail(%d)", static_cast<int>(ERR_get_error()));
        return -1;
    }
    int result = -1;
    unsigned char mac[EVP_MAX_MD_SIZE];
    unsigned int macLen = 0;
    if (HMAC_CTX_reset(ctx) != 1) {
        HBR_LOG_ERROR("[error][HMACSign] HMAC_CTX_reset Fail(%d)", static_cast<int>(ERR_get_error()));
    } else if (HMAC_Init_ex(ctx, key, keyLen, EVP_sha256(), nullptr) != 1) {
        HBR_LOG_ERROR("[error][HMACSign] HMAC_Init_ex Fail(%d)", static_cast<int>(ERR_get_error()));
    } else if (HMAC_Update(ctx, data, dataLen) != 1) {
        HBR_LOG_ERROR("[error][HMACSign] HMAC_Update Fail(%d)", static_cast<int>(ERR_get_error()));
    } else if (HMAC_Final(ctx, mac, &macLen) != 1) {
        HBR_LOG_ERROR("[error][HMACSign] HMAC_Final Fail(%d)", static_cast<int>(ERR_get_error()));
    } else {
        HBR_LOG_ERROR("[error][HMACSign]hash_mac:%u-%u", macLen, *mdLen);
        if (macLen > *mdLen) {
            HBR_LOG_ERROR("[error][HMACSign] *md_len < hash_len");
        } else {
            std::memcpy(md, mac, macLen);
            *mdLen = macLen;
            result = 0;
        }
    }
    HMAC_CTX_free(ctx);
    return result;
}

int BuildHBRSignBuffer(const unsigned char *key, size_t keyLen, const unsigned char *data, size_t dataLen, char *out)
{
    unsigned char mac[64];
    unsigned int macLen = sizeof mac;
    int rc = HMACSign(key, static_cast<int>(keyLen), data, dataLen, mac, &macLen);
    if (rc != 0) {
        return rc;
    }
    char hex[2 * sizeof mac + 1] = {0};
    for (unsigned int i = 0; i < macLen; ++i) {
        std::snprintf(hex + 2 * i, 3, "%02X", mac[i]);
    }
    const size_t hexLen = 2 * static_cast<size_t>(macLen);
    HBR_LOG_ERROR("[BuildHBRSignBuffer] hashStr:%s-%llu", hex, static_cast<unsigned long long>(hexLen));
    char encoded[128] = {0};
    size_t encodedLen = sizeof encoded;
    rc = Base64Encode(reinterpret_cast<const unsigned char *>(hex), hexLen, encoded, &encodedLen);
    if (rc != 0) {
        return rc;
    }
    std::memcpy(out, encoded, encodedLen + 1);
    return 0;
}

int64_t GetLocalUnixTime()
{
    time_t now = std::time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    int64_t t = static_cast<int64_t>(std::mktime(&local));
    HBR_LOG_INFO("time_local:%lld\n", static_cast<long long>(t));
    return t;
}

bool SigningPath(const std::string &url, std::string *path)
{
    size_t at = url.size() < 2 ? std::string::npos : url.find("v2");
    if (at == std::string::npos || at == 0) {
        return false;
    }
    *path = url.substr(at - 1);
    return true;
}

int64_t SigningTime(int64_t localTime, int64_t ntpTime)
{
    if (ntpTime == -1) {
        return localTime;
    }
    int64_t diff = localTime - ntpTime;
    return (diff <= -240 || diff >= 240) ? ntpTime : localTime;
}

std::string OperCodeCanonicalText(const std::string &path, int64_t timestamp, const std::string &nonce,
                                  const std::string &iccid, const std::string &sn, const std::string &token)
{
    std::string text = "POST&" + path + "&" + std::to_string(static_cast<long long>(timestamp)) + "&" + nonce;
    if (!iccid.empty()) {
        text += "&iccid=" + iccid;
    }
    return text + "&sn=" + sn + "&key=" + token;
}

std::string StatusCanonicalText(const std::string &path, int64_t timestamp, const std::string &nonce,
                                const std::string &eid, const std::string &iccid, const std::string &sn, int type,
                                const std::string &token)
{
    return "POST&" + path + "&" + std::to_string(static_cast<long long>(timestamp)) + "&" + nonce + "&eid=" + eid +
           "&iccid=" + iccid + "&sn=" + sn + "&type=" + std::to_string(type) + "&key=" + token;
}

std::string LowerHex(const unsigned char *bytes, size_t n)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < n; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 15];
    }
    return text;
}

void SetDefaultRandFile()
{
    const char *randFile = std::getenv("RANDFILE");
    const char *home = std::getenv("HOME");
    if ((randFile != nullptr && *randFile != '\0') || (home != nullptr && *home != '\0')) {
        return;
    }
    char path[MAX_PATH] = {0};
    if (GetModuleFileNameA(nullptr, path, MAX_PATH) == 0) {
        return;
    }
    const std::string file = FolderOfPath(path) + ".rnd";
    setenv("RANDFILE", file.c_str(), 1);
}

void ReleaseThreadCryptoState()
{
    OPENSSL_thread_stop();
}
