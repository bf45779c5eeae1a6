// Request signing, the bootstrap key, the NTP server choice, the seed file
// default and the masking of cloud secrets.
#include "cloud_fixture.h"

#include <bootstrap.h>
#include <cloud_sign.h>
#include <deployment.h>
#include <ntp_client.h>
#include <secret_mask.h>

#include <cstdlib>

namespace {

const bool kCurl = hbr_test::RegisterCurlEnvironment();

const char kNonce[] = "00112233445566778899aabbccddeeff";
const int64_t kTs = 1704067200;

std::string Sign(const std::string &token, const std::string &text)
{
    char out[128] = {0};
    EXPECT_EQ(0, BuildHBRSignBuffer(reinterpret_cast<const unsigned char *>(token.data()), token.size(),
                                    reinterpret_cast<const unsigned char *>(text.data()), text.size(), out));
    return out;
}

using CloudSignTest = CloudTest;

TEST_F(CloudSignTest, KnownVectorsForBothRequests)
{
    std::string path;
    ASSERT_TRUE(SigningPath("https://127.0.0.1:8443/api/v2/device/opercode", &path));
    EXPECT_EQ("/v2/device/opercode", path);
    const std::string oper =
        OperCodeCanonicalText(path, kTs, kNonce, "89860012345678901234", "867400050000001", "tok123");
    EXPECT_EQ("POST&/v2/device/opercode&1704067200&00112233445566778899aabbccddeeff&iccid=89860012345678901234&"
              "sn=867400050000001&key=tok123",
              oper);
    unsigned char mac[64];
    unsigned int macLen = sizeof mac;
    ASSERT_EQ(0, HMACSign(reinterpret_cast<const unsigned char *>("tok123"), 6,
                          reinterpret_cast<const unsigned char *>(oper.data()), oper.size(), mac, &macLen));
    ASSERT_EQ(32u, macLen);
    char hex[65] = {0};
    for (int i = 0; i < 32; ++i) {
        snprintf(hex + 2 * i, 3, "%02X", mac[i]);
    }
    EXPECT_STREQ("003252DCFE90626BC5B911CD10D5174D50860AC7436578925128161B0CA18323", hex);
    EXPECT_EQ("MDAzMjUyRENGRTkwNjI2QkM1QjkxMUNEMTBENTE3NEQ1MDg2MEFDNzQzNjU3ODkyNTEyODE2MUIwQ0ExODMyMw==",
              Sign("tok123", oper));

    const std::string status = StatusCanonicalText("/v2/device/status", kTs, kNonce, "", "", "867400050000001", 0,
                                                   "tok123");
    EXPECT_EQ("POST&/v2/device/status&1704067200&00112233445566778899aabbccddeeff&eid=&iccid=&sn=867400050000001&"
              "type=0&key=tok123",
              status);
    EXPECT_EQ("MkFGRjIxRTg4OUFDM0I2MjE3RDBEOEI1QjFDMjg5NTcyNUNGNkMwMUVCMTgwM0QyOEEwNjRFNUVDRUI5QzNCNg==",
              Sign("tok123", status));
    // Without an ICCID the operation-code text has no iccid field.
    EXPECT_EQ(std::string::npos, OperCodeCanonicalText(path, kTs, kNonce, "", "1", "t").find("iccid"));
}

TEST_F(CloudSignTest, SigningPathStartsBeforeTheFirstV2)
{
    std::string path = "unchanged";
    ASSERT_TRUE(SigningPath("https://v2.example.com/x", &path));
    EXPECT_EQ("/v2.example.com/x", path);
    path = "unchanged";
    EXPECT_FALSE(SigningPath("v2/device", &path));
    EXPECT_FALSE(SigningPath("v", &path));
    EXPECT_FALSE(SigningPath("https://127.0.0.1/api/v1/device", &path));
    EXPECT_EQ("unchanged", path);
}

TEST_F(CloudSignTest, Base64AndHmacCapacities)
{
    unsigned char in[64];
    memset(in, 'A', sizeof in);
    char out[128];
    size_t len = 95;
    EXPECT_EQ(-1, Base64Encode(in, 64, out, &len));
    len = 96;
    ASSERT_EQ(0, Base64Encode(in, 64, out, &len));
    EXPECT_EQ(88u, len);
    EXPECT_EQ(88u, strlen(out));
    EXPECT_EQ(nullptr, strchr(out, '\n'));

    len = 4;
    EXPECT_EQ(-1, Base64Encode(in, 1, out, &len));
    len = 5;
    ASSERT_EQ(0, Base64Encode(in, 1, out, &len));
    EXPECT_STREQ("QQ==", out);
    EXPECT_TRUE(Logged("[error][Base64Encode] out_len < (in_len * 3 / 2)"));

    unsigned char mac[64];
    unsigned int macLen = 63;
    EXPECT_EQ(-1, HMACSign(in, 1, in, 1, mac, &macLen));
    EXPECT_TRUE(Logged("[error][HMACSign] *md_len < EVP_MAX_MD_SIZE"));
}

TEST_F(CloudSignTest, NtpTimeIsSignedFrom240SecondsOff)
{
    const int64_t local = 1000000;
    EXPECT_EQ(local, SigningTime(local, local + 239));
    EXPECT_EQ(local, SigningTime(local, local - 239));
    EXPECT_EQ(local + 240, SigningTime(local, local + 240));
    EXPECT_EQ(local - 240, SigningTime(local, local - 240));
    EXPECT_EQ(local, SigningTime(local, -1));
}

TEST_F(CloudSignTest, BootstrapKeyIsMiddleOfSaltedMd5)
{
    EXPECT_EQ("7b0e0112e88c574b", BootstrapKey("Hb7q%sZ3xk", "867400050000001"));
    const std::string key = BootstrapKey(DeploymentSaltTemplate(), "1");
    EXPECT_EQ(16u, key.size());
    EXPECT_EQ(std::string::npos, key.find_first_not_of("0123456789abcdef"));
}

TEST_F(CloudSignTest, NtpServerSelection)
{
    std::string host, service;
    SelectNtpServer("time.example:1234", "pool.example", 123, &host, &service);
    EXPECT_EQ("time.example", host);
    EXPECT_EQ("1234", service);
    SelectNtpServer("time.example", "pool.example", 123, &host, &service);
    EXPECT_EQ("time.example", host);
    EXPECT_EQ("123", service);
    SelectNtpServer("", "pool.example", 4123, &host, &service);
    EXPECT_EQ("pool.example", host);
    EXPECT_EQ("4123", service);
    SelectNtpServer(nullptr, "pool.example", 123, &host, &service);
    EXPECT_EQ("pool.example", host);
    EXPECT_EQ("123", service);
}

TEST_F(CloudSignTest, RandFileDefaultOnlyWithoutRandFileAndHome)
{
    SetEnv("RANDFILE", "");
    SetEnv("HOME", "/nonexistent-home");
    SetDefaultRandFile();
    EXPECT_STREQ("", getenv("RANDFILE"));

    SetEnv("HOME", "");
    SetEnv("RANDFILE", "/tmp/kept.rnd");
    SetDefaultRandFile();
    EXPECT_STREQ("/tmp/kept.rnd", getenv("RANDFILE"));

    SetEnv("RANDFILE", nullptr);
    SetEnv("HOME", nullptr);
    SetDefaultRandFile();
    ASSERT_NE(nullptr, getenv("RANDFILE"));
    char exe[MAX_PATH] = {0};
    ASSERT_GT(GetModuleFileNameA(nullptr, exe, MAX_PATH), 0u);
    EXPECT_EQ(FolderOfPath(exe) + ".rnd", getenv("RANDFILE"));
}

TEST_F(CloudSignTest, MaskingOfCloudSecrets)
{
    const std::string reply = "{\"data\":{\"service\":{\"TOKEN\" : \"abcdefghijklmnop\",\"url\":\"u\"},"
                              "\"apns\":[{\"Apn\":\"internet,ipv4,pap,user,secretpassword,3\",\"iccid\":[\"8986\"]}]}}";
    EXPECT_EQ("{\"data\":{\"service\":{\"TOKEN\" : \"abcd***\",\"url\":\"u\"},"
              "\"apns\":[{\"Apn\":\"internet,ipv4,pap,user,secr***,3\",\"iccid\":[\"8986\"]}]}}",
              MaskJsonSecrets(reply));
    EXPECT_EQ("not json \"token\"", MaskJsonSecrets("not json \"token\""));
    // Names count as a parser reads them, escapes decoded and cut at a NUL;
    // an APN text with escapes is masked whole.
    EXPECT_EQ("{\"to\\u006Ben\":\"abcd***\",\"token\\u0000x\":\"***\",\"\\u0061pn\":\"iot,***\"}",
              MaskJsonSecrets("{\"to\\u006Ben\":\"abcdefghijklmnop\",\"token\\u0000x\":\"short\","
                              "\"\\u0061pn\":\"iot,v4,pap,user\\u002cx,pw,3\"}"));
    // A text that breaks off inside a token or an APN value: what came of
    // it is masked whole, to the end. The cut-only mask leaves whole values.
    EXPECT_EQ("{\"url\":\"u\",\"token\": \"Abcd***",
              MaskJsonSecrets("{\"url\":\"u\",\"token\": \"AbcdefghijklmnopQRST"));
    EXPECT_EQ("[{\"apn\":\"iot.***", MaskJsonSecrets("[{\"apn\":\"iot.demo,IPV4,PAP,demo,Passw0rdSe"));
    EXPECT_EQ("{\"token\":\"***", MaskJsonSecrets("{\"token\":\"ab\\"));
    EXPECT_EQ("{\"token\":\"", MaskJsonSecrets("{\"token\":\""));
    EXPECT_EQ("{\"message\":\"token \\\"abcdefghijkl", MaskJsonSecrets("{\"message\":\"token \\\"abcdefghijkl"));
    EXPECT_EQ(reply, MaskCutJsonSecrets(reply));
    EXPECT_EQ("{\"data\":{\"token\":\"1$sm***", MaskCutJsonSecrets("{\"data\":{\"token\":\"1$smdp.example$E2E-1"));
    EXPECT_EQ("a,b,c,d,***,f", MaskApnText("a,b,c,d,pass,f"));
    EXPECT_EQ("a,b,c", MaskApnText("a,b,c"));
    EXPECT_EQ("POST&x&key=long***", MaskAfterMarker("POST&x&key=longtokenvalue", "&key="));
}

} // namespace
