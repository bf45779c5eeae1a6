// The cloud requests against the local bootstrap, cloud and SNTP servers.
#include "cloud_fixture.h"
#include "default_ca_store.h"

#include <bootstrap.h>
#include <cloud_sign.h>
#include <deployment.h>
#include <ntp_client.h>
#include <secret_mask.h>
#include <signed_requests.h>

#include <hbr_platform_fault.h>

#include <curl/curl.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <sys/socket.h>
#include <netinet/in.h>
#include <unistd.h>

namespace {

const bool kCurl = hbr_test::RegisterCurlEnvironment();
const char kSn[] = "867400050000001";
const char kIccid[] = "89860012345678901234";
const char kEid[] = "89049032000000000000000000000123";
const long long kNtpEpoch = 2208988800LL;

std::vector<std::string> Lines(const std::string &text)
{
    std::vector<std::string> lines;
    size_t from = 0;
    while (from < text.size()) {
        size_t end = text.find('\n', from);
        if (end == std::string::npos) {
            end = text.size();
        }
        lines.push_back(text.substr(from, end - from));
        from = end + 1;
    }
    return lines;
}

bool Has(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

long long HeaderTimestamp(const std::string &head)
{
    size_t at = head.find("timestamp=");
    return at == std::string::npos ? -1 : std::atoll(head.c_str() + at + 10);
}

std::string HeaderNonce(const std::string &head)
{
    size_t at = head.find("nonce_str=");
    return at == std::string::npos ? "" : head.substr(at + 10, 32);
}

class CloudRequestTest : public CloudTest {
protected:
    std::string CloudRecords() const { return servers_.cloud.RecordedFile("cloud.jsonl"); }
    std::string BootstrapRecords() const { return servers_.bootstrap.RecordedFile("bootstrap.jsonl"); }
    int OperCode(const std::string &iccid = kIccid)
    {
        ctx_.done = 0;
        return GeteSIMProfileOperCodeFromHbrServer(kSn, iccid, ctx_);
    }
};

TEST_F(CloudRequestTest, BootstrapFillsTheContextWithAValidKey)
{
    hbr_test::CloudServerSettings settings;
    settings.bootstrapScript = "{\"apns\":[{\"apn\":\"internet,ipv4,pap,u,p,3\",\"iccid\":[\"8986\"]}]}";
    HBR_START_CLOUD_SERVERS(settings);
    IotServiceFlowContext ctx;
    ASSERT_EQ(1, GetHbrServerInfoFromBootstrapServer(kSn, servers_.BootstrapUrl(), ctx));
    EXPECT_EQ(servers_.OperCodeUrl(), ctx.serviceUrl);
    EXPECT_EQ(servers_.StatusUrl(), ctx.pecUrl);
    EXPECT_EQ(settings.token, ctx.token);
    EXPECT_EQ("internet", ctx.apns[0].apn);
    const std::string record = BootstrapRecords();
    EXPECT_TRUE(Has(record, "\"literalQuery\": true")) << record;
    EXPECT_TRUE(Has(record, "\"http11\": true"));
    EXPECT_TRUE(Has(record, "\"keyValid\": true"));
    EXPECT_TRUE(Has(record, "\"defaultHeadersOnly\": true"));
    EXPECT_TRUE(Has(record, "\"clientCert\": false"));
    EXPECT_TRUE(Logged("GetBootstrapKeyValueFromServer url:" + servers_.OperCodeUrl() + "-key:clou***"));
    EXPECT_TRUE(Logged("GetBootstrapKeyValueFromServer status:200"));
}

TEST_F(CloudRequestTest, BootstrapTransportOutcomes)
{
    hbr_test::CloudServerSettings settings;
    settings.bootstrapScript = "[{\"function\":\"v2\",\"call\":1,\"redirect\":\"/moved/v2\"},"
                               "{\"function\":\"v2\",\"call\":3,\"pieces\":[[\"{\\\"code\\\":0,\\\"da\",0.2],"
                               "[\"ta\\\":{\\\"service\\\":{\\\"url\\\":\\\"https://x/v2/\\\"}}}\",0]]},"
                               "{\"function\":\"v2\",\"call\":4,\"status\":500,\"body\":\"{}\"},"
                               "{\"function\":\"v2\",\"call\":5,\"body\":\"<html>\"}]";
    // Call 6 redirects to plain http, calls 7 to 17 to themselves.
    settings.bootstrapScript.back() = ',';
    settings.bootstrapScript += "{\"function\":\"v2\",\"call\":6,\"redirect\":\"http://localhost:1/bootstrap/v2\"}";
    for (int call = 7; call <= 17; ++call) {
        settings.bootstrapScript +=
            ",{\"function\":\"v2\",\"call\":" + std::to_string(call) + ",\"redirect\":\"/bootstrap/v2\"}";
    }
    settings.bootstrapScript += "]";
    HBR_START_CLOUD_SERVERS(settings);
    IotServiceFlowContext ctx;
    // A 302 is followed (calls 1 and 2).
    EXPECT_EQ(1, GetHbrServerInfoFromBootstrapServer(kSn, servers_.BootstrapUrl(), ctx));
    EXPECT_TRUE(Has(BootstrapRecords(), "/moved/v2?sn="));
    // A reply in pieces is parsed whole.
    IotServiceFlowContext pieces;
    EXPECT_EQ(1, GetHbrServerInfoFromBootstrapServer(kSn, servers_.BootstrapUrl(), pieces));
    EXPECT_EQ("https://x/v2/", pieces.serviceUrl);
    EXPECT_EQ(0, GetHbrServerInfoFromBootstrapServer(kSn, servers_.BootstrapUrl(), ctx));
    EXPECT_TRUE(Logged("GetBootstrapKeyValueFromServer status:500"));
    EXPECT_EQ(0, GetHbrServerInfoFromBootstrapServer(kSn, servers_.BootstrapUrl(), ctx));
    EXPECT_TRUE(Logged("[HBRAgentBootstrapQueryResp]:parse the msg from server failed"));
    // Redirects stay on https, and at most 5 are followed.
    EXPECT_EQ(0, GetHbrServerInfoFromBootstrapServer(kSn, servers_.BootstrapUrl(), ctx));
    EXPECT_TRUE(Logged("GetBootstrapKeyValueFromServer curl_easy_perform Failed:1-"));
    EXPECT_EQ(0, GetHbrServerInfoFromBootstrapServer(kSn, servers_.BootstrapUrl(), ctx));
    EXPECT_TRUE(Logged("GetBootstrapKeyValueFromServer curl_easy_perform Failed:47-"));
    EXPECT_EQ(12, servers_.bootstrap.RecordedCount());

    // An empty base selects the deployment's URL, where nothing listens.
    EXPECT_EQ(0, GetHbrServerInfoFromBootstrapServer(kSn, "", ctx));
    EXPECT_TRUE(Logged(std::string("GetBootstrapKeyValueFromServer http_url(") + DeploymentBootstrapUrl() + "?sn="));
    EXPECT_TRUE(Logged("GetBootstrapKeyValueFromServer curl_easy_perform Failed:"));
}

// A serial number with '&' or '#' travels percent-encoded in the query: the
// server reads it back whole and its key (derived from the serial number as
// read) matches. An IMEI of digits gives the URL as it always was.
TEST_F(CloudRequestTest, BootstrapQueryCarriesTheSerialNumberEncoded)
{
    HBR_START_CLOUD_SERVERS();
    IotServiceFlowContext ctx;
    const std::string odd = "8674&type=x#1 %";
    ASSERT_EQ(1, GetHbrServerInfoFromBootstrapServer(odd, servers_.BootstrapUrl(), ctx));
    const std::string record = BootstrapRecords();
    EXPECT_TRUE(Has(record, "\"sn\": \"8674&type=x#1 %\"")) << record;
    EXPECT_TRUE(Has(record, "\"literalQuery\": true"));
    EXPECT_TRUE(Has(record, "\"keyValid\": true"));
    EXPECT_TRUE(Has(record, "?sn=8674%26type%3Dx%231%20%25&bootstrapKey="));

    IotServiceFlowContext plain;
    ASSERT_EQ(1, GetHbrServerInfoFromBootstrapServer(kSn, servers_.BootstrapUrl(), plain));
    EXPECT_TRUE(Logged("GetBootstrapKeyValueFromServer http_url(" + servers_.BootstrapUrl() + "?sn=" + kSn +
                       "&bootstrapKey=" + MaskSecret(BootstrapKey(DeploymentSaltTemplate(), kSn)) +
                       "&type=service2;apns)"));
}

// A reply longer than 16 KiB is logged masked, then cut, with its size; it
// is still parsed whole.
TEST_F(CloudRequestTest, LongRepliesAreLoggedCut)
{
    const std::string token = "LongReplyToken-5e0c7a19";
    hbr_test::CloudServerSettings settings;
    settings.bootstrapScript = "[{\"function\":\"v2\",\"call\":1,\"reply\":{\"code\":0,\"data\":{\"service\":{"
                               "\"url\":\"https://x/v2/\",\"token\":\"" + token + "\"}},\"pad\":\"" +
                               std::string(40000, 'y') + "\"}}]";
    HBR_START_CLOUD_SERVERS(settings);
    IotServiceFlowContext ctx;
    ASSERT_EQ(1, GetHbrServerInfoFromBootstrapServer(kSn, servers_.BootstrapUrl(), ctx));
    EXPECT_EQ(token, ctx.token);
    const std::string head = "[HBRAgentBootstrapQueryResp]: toal: ";
    int found = 0;
    for (const std::string &m : Messages()) {
        if (m.compare(0, head.size(), head) != 0) {
            continue;
        }
        ++found;
        const std::string total = m.substr(head.size(), m.find(',', head.size()) - head.size());
        const std::string contents = m.substr(m.find(", contents: ") + 12);
        EXPECT_GT(std::stoul(total), 40000u);
        const std::string tail = " ... (" + total + " bytes)";
        ASSERT_EQ(16384 + tail.size(), contents.size());
        EXPECT_EQ(tail, contents.substr(16384));
        EXPECT_TRUE(Has(contents, "\"token\": \"" + MaskSecret(token) + "\"")) << contents.substr(0, 200);
        EXPECT_FALSE(Has(contents, token));
    }
    EXPECT_EQ(1, found);
}

// A whole reply whose transfer then times out (the server pauses before
// its last byte) fails the request and is neither parsed nor acted on.
TEST_F(CloudRequestTest, TimedOutReplyIsNotUsed)
{
    hbr_test::CloudServerSettings settings;
    settings.bootstrapScript = "[{\"function\":\"v2\",\"call\":1,\"pieces\":[[\"{\\\"code\\\":0,\\\"data\\\":{"
                               "\\\"service\\\":{\\\"url\\\":\\\"https://x/v2/\\\"}}}\",30],[\" \",0]]}]";
    HBR_START_CLOUD_SERVERS(settings);
    SetEnv("HBR_CLOUD_TIMEOUT_DIVISOR", "60"); // 1 s
    IotServiceFlowContext ctx;
    EXPECT_EQ(0, GetHbrServerInfoFromBootstrapServer(kSn, servers_.BootstrapUrl(), ctx));
    EXPECT_TRUE(Logged("GetBootstrapKeyValueFromServer curl_easy_perform Failed:28-"));
    EXPECT_TRUE(Logged("[HBRAgentBootstrapQueryResp]:transfer failed, reply not parsed (53 bytes): {\"code\":0,"));
    EXPECT_EQ("", ctx.serviceUrl);
    EXPECT_EQ(0, ctx.done);
}

// Replies that break off inside a secret (the connection closes before the
// whole body came): the requests fail, and the log holds no run of 8
// characters of the token, the APN password or the activation code.
TEST_F(CloudRequestTest, RepliesCutInsideASecretKeepItOutOfTheLog)
{
    const std::string token = "CutTokenValue-8f3a61c2d9e4";
    const std::string password = "CutApnPassword-4b7d20e9";
    const std::string code = "1$smdp.example.test$CUT-ACTIVATION-57c1";
    hbr_test::CloudServerSettings settings;
    settings.token = token;
    settings.bootstrapScript = "{\"apns\":[{\"apn\":\"iot.demo,IPV4,PAP,demo," + password +
                               ",3\",\"iccid\":[\"89\"]}],\"entries\":[{\"function\":\"v2\",\"call\":1,\"cut\":\"" +
                               token.substr(token.size() - 4) + "\"},{\"function\":\"v2\",\"call\":2,\"cut\":\"" +
                               password.substr(password.size() - 4) + "\"}]}";
    settings.cloudScript = "[{\"function\":\"opercode\",\"call\":1,\"reply\":{\"code\":0,\"data\":{\"operation\":1,"
                           "\"token\":\"" + code + "\",\"simMode\":0}},\"cut\":\"" + code.substr(code.size() - 4) + "\"}]";
    HBR_START_CLOUD_SERVERS(settings);
    for (int call = 1; call <= 2; ++call) {
        IotServiceFlowContext ctx;
        EXPECT_EQ(0, GetHbrServerInfoFromBootstrapServer(kSn, servers_.BootstrapUrl(), ctx)) << call;
        EXPECT_EQ("", ctx.token);
    }
    EXPECT_EQ(0, OperCode());
    EXPECT_EQ("", ctx_.activeCode);
    EXPECT_EQ(2, hbrtest::CountMessages(Messages(), "GetBootstrapKeyValueFromServer curl_easy_perform Failed:18-"));
    EXPECT_TRUE(Logged("curl_easy_perform fail(18-"));
    EXPECT_EQ(3, hbrtest::CountMessages(Messages(), "transfer failed, reply not parsed"));
    EXPECT_TRUE(Logged("\"token\": \"" + MaskSecret(token.substr(0, token.size() - 4))));
    EXPECT_TRUE(Logged("\"apn\": \"iot." + std::string("***")));
    const std::string log = Log();
    for (const std::string &secret : {token, password, code}) {
        for (size_t at = 0; at + 8 <= secret.size(); ++at) {
            EXPECT_FALSE(Has(log, secret.substr(at, 8))) << secret.substr(at, 8);
        }
    }
}

TEST_F(CloudRequestTest, EachRequestTrustsOnlyItsOwnCaAndValidNames)
{
    // Another CA's certificate, an expired one and one for another name.
    for (const char *certificate : {"cloud_server", "bootstrap_expired", "bootstrap_wrongname"}) {
        SCOPED_TRACE(certificate);
        hbr_test::CloudServerSettings settings;
        settings.bootstrapCertificate = certificate;
        HBR_START_CLOUD_SERVERS(settings);
        IotServiceFlowContext ctx;
        EXPECT_EQ(0, GetHbrServerInfoFromBootstrapServer(kSn, servers_.BootstrapUrl(), ctx));
        EXPECT_TRUE(Logged("GetBootstrapKeyValueFromServer curl_easy_perform Failed:60-"));
        EXPECT_EQ(0, servers_.bootstrap.RecordedCount());
        servers_.Stop();
    }
}

TEST_F(CloudRequestTest, TheSystemStoreCannotVouchForTheBootstrapServer)
{
    // The system store trusts the cloud CA, which signed this bootstrap
    // server's certificate; the request names the bootstrap CA.
    HBR_RUN_WITH_DEFAULT_CA_STORE(hbr_test::CloudServers::DeploymentFile("cloud_ca.pem"));
    hbr_test::CloudServerSettings settings;
    settings.bootstrapCertificate = "cloud_server";
    HBR_START_CLOUD_SERVERS(settings);
    ASSERT_TRUE(hbr_test::GetWithDefaultCaStore(servers_.BootstrapUrl()));
    ASSERT_EQ(1, servers_.bootstrap.RecordedCount());
    IotServiceFlowContext ctx;
    EXPECT_EQ(0, GetHbrServerInfoFromBootstrapServer(kSn, servers_.BootstrapUrl(), ctx));
    EXPECT_TRUE(Logged("GetBootstrapKeyValueFromServer curl_easy_perform Failed:60-"));
    EXPECT_EQ(1, servers_.bootstrap.RecordedCount());
}

TEST_F(CloudRequestTest, OperCodeIsVerifiedByTheServer)
{
    hbr_test::CloudServerSettings settings;
    settings.cloudScript = "[{\"function\":\"opercode\",\"call\":2,\"reply\":{\"code\":0,\"data\":{\"status\":1,"
                           "\"operation\":1,\"token\":\"LPA:1$smdp.example$ABC\",\"simMode\":1}}}]";
    HBR_START_CLOUD_SERVERS(settings);
    ASSERT_EQ(1, OperCode());
    EXPECT_EQ(0, ctx_.operation);
    ASSERT_EQ(1, OperCode(""));
    EXPECT_EQ(1, ctx_.operation);
    EXPECT_EQ(1, ctx_.simMode);
    EXPECT_EQ("LPA:1$smdp.example$ABC", ctx_.activeCode);
    EXPECT_TRUE(Logged("GetProfileOperCode opercode:1-datausge:1-activecode:LPA:1$smdp.example$ABC"));
    const std::vector<std::string> records = Lines(CloudRecords());
    ASSERT_EQ(2u, records.size());
    for (const std::string &record : records) {
        EXPECT_TRUE(Has(record, "\"signatureValid\": true")) << record;
        EXPECT_TRUE(Has(record, "\"failures\": []")) << record;
        EXPECT_TRUE(Has(record, "\"clientSubject\": \"CN=hbr-test-device\"")) << record;
    }
    EXPECT_TRUE(Has(records[0], "\"iccid\": \"89860012345678901234\""));
    EXPECT_FALSE(Has(records[1], "iccid"));
    // Two requests, two nonces; the seed file was written.
    EXPECT_NE(HeaderNonce(servers_.cloud.RecordedHead(1)), HeaderNonce(servers_.cloud.RecordedHead(2)));
    EXPECT_TRUE(hbrtest::FileExists(randFile_));
}

TEST_F(CloudRequestTest, StatusSyncCarriesOnlyGivenMembers)
{
    HBR_START_CLOUD_SERVERS();
    EXPECT_EQ(1, SyncDeviceProfileStatusToHbrServer(kSn, kIccid, kEid, 1, ctx_));
    EXPECT_TRUE(Logged("SyncDeviceProfileStatusToHbrServer type:1 success"));
    EXPECT_EQ(1, SyncDeviceProfileStatusToHbrServer(kSn, kIccid, kEid, 2, ctx_));
    EXPECT_EQ(1, SyncDeviceProfileStatusToHbrServer(kSn, "", "", 0, ctx_));
    const std::vector<std::string> records = Lines(CloudRecords());
    ASSERT_EQ(3u, records.size());
    for (const std::string &record : records) {
        EXPECT_TRUE(Has(record, "\"signatureValid\": true")) << record;
    }
    EXPECT_TRUE(Has(records[1], "\"eid\": \"89049032000000000000000000000123\", \"type\": 2"));
    EXPECT_EQ("{\n\t\"sn\":\t\"867400050000001\"\n}", servers_.cloud.RecordedBody(3));
    EXPECT_TRUE(servers_.ntp.Records().empty());
}

TEST_F(CloudRequestTest, FallbackNonceWithoutSeedFile)
{
    HBR_START_CLOUD_SERVERS();
    SetEnv("RANDFILE", nullptr);
    SetEnv("HOME", nullptr);
    ASSERT_EQ(1, OperCode());
    EXPECT_TRUE(Logged("RandNumberInternal fail, use static rand number"));
    EXPECT_EQ(LowerHex(DeploymentFallbackNonce(), 16), HeaderNonce(servers_.cloud.RecordedHead(1)));
}

TEST_F(CloudRequestTest, FailuresGiveZero)
{
    hbr_test::CloudServerSettings settings;
    settings.cloudScript = "[{\"function\":\"opercode\",\"call\":2,\"status\":500,\"body\":\"{}\"},"
                           "{\"function\":\"opercode\",\"call\":3,\"body\":\"{\\\"code\\\":0,\"}]";
    HBR_START_CLOUD_SERVERS(settings);
    ctx_.token = "not-the-cloud-token";
    EXPECT_EQ(0, OperCode());
    EXPECT_TRUE(Logged("send_packet...END...status = 401"));
    ctx_.token = settings.token;
    EXPECT_EQ(0, OperCode());
    EXPECT_TRUE(Logged("send_packet...END...status = 500"));
    EXPECT_EQ(0, OperCode());
    EXPECT_TRUE(Logged("[ProfileOperCodeQueryResp]:parse the msg from server failed"));
    ctx_.serviceUrl = servers_.cloud.Url("/api/v1/device/opercode");
    EXPECT_EQ(0, OperCode());
    EXPECT_TRUE(Logged("hbr server url error"));
    EXPECT_EQ(3, servers_.cloud.RecordedCount());
}

TEST_F(CloudRequestTest, CloudRefusesClientsWithoutItsCertificate)
{
    HBR_START_CLOUD_SERVERS();
    // A client with the right CA but no certificate.
    CURL *curl = curl_easy_init();
    ASSERT_NE(nullptr, curl);
    const std::string ca = hbrtest::ReadFile(hbr_test::CloudServers::DeploymentFile("cloud_ca.pem"));
    struct curl_blob blob = {const_cast<char *>(ca.data()), ca.size(), CURL_BLOB_COPY};
    const std::string url = servers_.OperCodeUrl();
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_CAINFO_BLOB, &blob);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, "{}");
    CURLcode rc = curl_easy_perform(curl);
    curl_easy_cleanup(curl);
    // Under TLS 1.3 the refusal reaches the client during the handshake, or
    // when it sends or reads afterwards.
    EXPECT_TRUE(rc == CURLE_SSL_CONNECT_ERROR || rc == CURLE_SEND_ERROR || rc == CURLE_RECV_ERROR) << rc;
    EXPECT_TRUE(hbrtest::WaitUntil([&] { return !servers_.cloud.RecordedFile("refused.jsonl").empty(); }, 5000));
    EXPECT_EQ(0, servers_.cloud.RecordedCount());
}

TEST_F(CloudRequestTest, AgentIsRefusedByACloudTrustingAnotherCa)
{
    hbr_test::CloudServerSettings settings;
    settings.cloudClientCa = hbr_test::CloudServers::ServerFile("unrelated_ca.pem");
    HBR_START_CLOUD_SERVERS(settings);
    EXPECT_EQ(0, OperCode());
    EXPECT_TRUE(Logged("curl_easy_perform fail("));
    EXPECT_EQ(0, servers_.cloud.RecordedCount());
}

TEST_F(CloudRequestTest, SigningTimeFollowsTheNtpServer)
{
    hbr_test::CloudServerSettings settings;
    settings.ntpValue = 240;
    HBR_START_CLOUD_SERVERS(settings);
    ASSERT_EQ(1, OperCode());
    const std::vector<std::string> ntp = servers_.ntp.Records();
    ASSERT_EQ(1u, ntp.size());
    const long long transmit = std::atoll(ntp[0].substr(ntp[0].find("\"transmit\": ") + 12).c_str());
    EXPECT_EQ(transmit - kNtpEpoch, HeaderTimestamp(servers_.cloud.RecordedHead(1)));
    EXPECT_TRUE(Logged("[GeteSIMProfileOperCodeFromHbrServer] Get time success"));

    servers_.ntp.SetMode("offset", -239);
    long long before = static_cast<long long>(time(nullptr));
    ASSERT_EQ(1, OperCode());
    long long after = static_cast<long long>(time(nullptr));
    long long signedTime = HeaderTimestamp(servers_.cloud.RecordedHead(2));
    EXPECT_GE(signedTime, before);
    EXPECT_LE(signedTime, after);

    SetEnv("HBR_NTP_SERVER", "127.0.0.1:1");
    before = static_cast<long long>(time(nullptr));
    ASSERT_EQ(1, OperCode());
    after = static_cast<long long>(time(nullptr));
    signedTime = HeaderTimestamp(servers_.cloud.RecordedHead(3));
    EXPECT_GE(signedTime, before);
    EXPECT_LE(signedTime, after);
}

TEST_F(CloudRequestTest, InsaneNtpRepliesAreRefusedForTheLocalTime)
{
    HBR_START_CLOUD_SERVERS(hbr_test::CloudServerSettings());
    // Each reply is a day ahead: taken, it would be signed instead of the
    // local time.
    const struct {
        const char *mode;
        long long value;
        hbr_test::NtpHeader header;
        const char *line;
    } refused[] = {
        {"offset", 86400, {0, 3, 1}, "NTP reply not from a server: mode 3"},
        {"offset", 86400, {0, 5, 1}, "NTP reply not from a server: mode 5"},
        {"offset", 86400, {0, 4, 0}, "NTP reply stratum out of range: 0"},
        {"offset", 86400, {0, 4, 16}, "NTP reply stratum out of range: 16"},
        {"offset", 86400, {3, 4, 1}, "NTP reply from an unsynchronised server: leap indicator 3"},
        {"absolute", 3913055999LL, {}, "NTP reply transmit time before 2024: 3913055999"},
    };
    int request = 0;
    for (const auto &r : refused) {
        servers_.ntp.SetMode(r.mode, r.value, r.header);
        const long long before = static_cast<long long>(time(nullptr));
        ASSERT_EQ(1, OperCode()) << r.line;
        const long long after = static_cast<long long>(time(nullptr));
        const long long signedTime = HeaderTimestamp(servers_.cloud.RecordedHead(++request));
        EXPECT_GE(signedTime, before) << r.line;
        EXPECT_LE(signedTime, after) << r.line;
        EXPECT_TRUE(Logged(r.line));
    }
    EXPECT_EQ(static_cast<size_t>(request), servers_.ntp.Records().size());

    // The first second of 2024 from a stratum-15 server announcing a leap
    // second is taken.
    servers_.ntp.SetMode("absolute", 3913056000LL, {1, 4, 15});
    ASSERT_EQ(1, OperCode());
    EXPECT_EQ(1704067200, HeaderTimestamp(servers_.cloud.RecordedHead(++request)));
}

TEST_F(CloudRequestTest, SecretsStayOutOfTheLog)
{
    const std::string token = "TokenThatMustNotAppear-4711";
    const std::string password = "PasswordThatMustNotAppear";
    hbr_test::CloudServerSettings settings;
    settings.token = token;
    settings.bootstrapScript = "{\"apns\":[{\"apn\":\"internet,ipv4,pap,user," + password + ",3\",\"iccid\":[\"89\"]}]}";
    HBR_START_CLOUD_SERVERS(settings);
    IotServiceFlowContext ctx;
    std::string errors = hbr_test::CaptureStderr([&] {
        ASSERT_EQ(1, GetHbrServerInfoFromBootstrapServer(kSn, servers_.BootstrapUrl(), ctx));
        ApnInfo info;
        ASSERT_EQ(1, MatchAttachedApnInfo(ctx.apns, kIccid, &info));
        ctx.done = 0;
        ASSERT_EQ(1, GeteSIMProfileOperCodeFromHbrServer(kSn, kIccid, ctx));
        ASSERT_EQ(1, SyncDeviceProfileStatusToHbrServer(kSn, kIccid, kEid, 1, ctx));
    });
    // The client key's body lines (base64, 64 characters each).
    std::vector<std::string> keyLines;
    for (const std::string &line : hbr_test::ReadLines(hbr_test::CloudServers::DeploymentFile("client_key.pem"))) {
        if (line.size() == 64) keyLines.push_back(line);
    }
    ASSERT_FALSE(keyLines.empty());
    const std::string log = Log();
    const std::string bootstrapKey = BootstrapKey(DeploymentSaltTemplate(), kSn);
    for (const std::string &text : {log, errors}) {
        EXPECT_FALSE(Has(text, bootstrapKey));
        EXPECT_FALSE(Has(text, token));
        EXPECT_FALSE(Has(text, password));
        EXPECT_FALSE(Has(text, DeploymentRandSeed()));
        for (const std::string &line : keyLines) EXPECT_FALSE(Has(text, line));
    }
    EXPECT_TRUE(Logged("[HBRAgentBootstrapQueryResp]:service token is Toke***"));
    EXPECT_TRUE(Logged("\"token\": \"Toke***\""));
    EXPECT_TRUE(Logged("APN: internet,ipv4,pap,user,Pass***,3"));
    EXPECT_TRUE(Logged(".password : Pass***"));
    EXPECT_TRUE(Logged("[bootstrap]: apn_info->password: Pass***"));
    EXPECT_TRUE(Logged("&key=Toke***"));
    EXPECT_TRUE(Logged("[error][RandNumber]buf(***)!"));
    EXPECT_TRUE(Logged("&bootstrapKey=" + bootstrapKey.substr(0, 4) + "***&type=service2;apns)"));
}

TEST_F(CloudRequestTest, RetryCodeOneFailsTheBootstrapOnly)
{
    HBR_START_CLOUD_SERVERS();
    work_->m_testRetryErrorCode = 1;
    IotServiceFlowContext ctx;
    EXPECT_EQ(0, GetHbrServerInfoFromBootstrapServer(kSn, servers_.BootstrapUrl(), ctx));
    EXPECT_EQ(1, ctx.errorCode);
    EXPECT_EQ(1, servers_.bootstrap.RecordedCount());
    EXPECT_TRUE(Logged("[HBRAgentBootstrapQueryResp]:Enter the simulation scene"));
    EXPECT_EQ(1, OperCode());
    EXPECT_EQ(1, SyncDeviceProfileStatusToHbrServer(kSn, kIccid, kEid, 1, ctx_));
}

TEST_F(CloudRequestTest, RetryServerCodesFailTheOperCodeOnly)
{
    HBR_START_CLOUD_SERVERS();
    for (int code : {-1, 801, 14451, 14459, 1006}) {
        work_->m_testRetryErrorCode = code;
        IotServiceFlowContext ctx;
        EXPECT_EQ(1, GetHbrServerInfoFromBootstrapServer(kSn, servers_.BootstrapUrl(), ctx)) << code;
        ctx_.errorCode = 0;
        EXPECT_EQ(0, OperCode()) << code;
        EXPECT_EQ(code == 1006 ? 0 : code, ctx_.errorCode);
        EXPECT_EQ(1, SyncDeviceProfileStatusToHbrServer(kSn, kIccid, kEid, 1, ctx_)) << code;
    }
    EXPECT_EQ(15, servers_.cloud.RecordedCount() + servers_.bootstrap.RecordedCount());
}

TEST_F(CloudRequestTest, RetryHttpErrorFailsAFullOperCodeExchange)
{
    HBR_START_CLOUD_SERVERS();
    work_->m_testRetryErrorCode = 1008;
    IotServiceFlowContext ctx;
    EXPECT_EQ(1, GetHbrServerInfoFromBootstrapServer(kSn, servers_.BootstrapUrl(), ctx));
    ctx_.errorCode = 77;
    EXPECT_EQ(0, OperCode());
    EXPECT_EQ(1, ctx_.done);
    EXPECT_EQ(77, ctx_.errorCode);
    EXPECT_TRUE(Has(Log(), "code value error, ZFW_PCIOT_HBR_HTTP_ERROR:1008\ncurl_easy_getinfo failed..status = 500\n"
                           "send_packet...END...status = 500"));
    EXPECT_EQ(1, SyncDeviceProfileStatusToHbrServer(kSn, kIccid, kEid, 2, ctx_));

    for (int code : {1002, 1003, 1004, 1005, 1007}) {
        work_->m_testRetryErrorCode = code;
        EXPECT_EQ(1, GetHbrServerInfoFromBootstrapServer(kSn, servers_.BootstrapUrl(), ctx)) << code;
        EXPECT_EQ(1, OperCode()) << code;
    }
    EXPECT_FALSE(Logged("Simulate error"));
}

// -- NTP ----------------------------------------------------------------------

class NtpTest : public CloudTest {
protected:
    void SetUp() override
    {
        CloudTest::SetUp();
        ASSERT_TRUE(ntp_.Start(tmp_->path()));
        SetEnv("HBR_NTP_SERVER", ("127.0.0.1:" + std::to_string(ntp_.port())).c_str());
        wsaCount_ = hbrWsaStartupCount();
    }
    void TearDown() override
    {
        EXPECT_EQ(wsaCount_, hbrWsaStartupCount());
        ntp_.Stop();
        CloudTest::TearDown();
    }
    hbr_test::NtpTestServer ntp_;
    long wsaCount_ = 0;
};

TEST_F(NtpTest, TransmitTimeBecomesUnixSeconds)
{
    ntp_.SetMode("absolute", 3913056000LL);
    EXPECT_EQ(1704067200, GetNtpUtcTime());
    EXPECT_TRUE(Logged("UTC time: 1704067200"));
    const std::vector<std::string> records = ntp_.Records();
    ASSERT_EQ(1u, records.size());
    EXPECT_TRUE(Has(records[0], "\"length\": 48, \"hex\": \"1b" + std::string(94, '0') + "\"")) << records[0];
}

TEST_F(NtpTest, UnusableRepliesGiveNoTime)
{
    for (int length : {44, 47}) {
        ntp_.SetMode("short", length);
        EXPECT_EQ(-1, GetNtpUtcTime());
        EXPECT_TRUE(Logged("NTP reply too short: " + std::to_string(length) + " bytes"));
    }
    ntp_.SetMode("zero");
    EXPECT_EQ(-1, GetNtpUtcTime());
    EXPECT_TRUE(Logged("NTP reply has no transmit time."));
}

TEST_F(NtpTest, ServerTroubleGivesNoTime)
{
    // A port where nothing listens: refused at once.
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    struct sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(0, bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr));
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len);
    close(fd);
    SetEnv("HBR_NTP_SERVER", ("127.0.0.1:" + std::to_string(ntohs(addr.sin_port))).c_str());
    EXPECT_EQ(-1, GetNtpUtcTime());
    EXPECT_TRUE(Logged("recvfrom failed with error: "));

    SetEnv("HBR_NTP_SERVER", "127.0.0.1:notaport");
    EXPECT_EQ(-1, GetNtpUtcTime());
    EXPECT_TRUE(Logged("getaddrinfo: "));
}

TEST_F(NtpTest, SilentServerTimesOut)
{
    ntp_.SetMode("silent");
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(-1, GetNtpUtcTime());
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(9));
    EXPECT_TRUE(Logged("NTP request timed out."));
}

} // namespace
