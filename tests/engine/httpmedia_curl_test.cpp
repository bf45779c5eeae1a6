// HTTP media and the curl driver, against the local HTTPS test server:
// request shape, answers, certificates, TLS floor, time-outs, failures and
// memory; plus the small operations that need no server.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "config_test_util.h"
#include "default_ca_store.h"
#include "fresh_process.h"
#include "httpmedia_curl.h"
#include "https_test_server.h"
#include "lpa_core_memory.h"
#include "lpa_core_memory_internal.h"
#include "lpa_host.h"
#include "lpa_httpmedia.h"

using hbr_test::HttpsServerOptions;
using hbr_test::HttpsTestServer;

namespace {

// The host program initialises libcurl once; so does this test program.
class CurlEnvironment : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_EQ(curl_global_init(CURL_GLOBAL_DEFAULT), CURLE_OK); }
    void TearDown() override { curl_global_cleanup(); }
};
::testing::Environment *const curlEnvironment = ::testing::AddGlobalTestEnvironment(new CurlEnvironment);

struct RecordedEvent {
    int32_t source;
    int32_t presentFields;
    std::string subjectCode;
    bool reasonCodeNull;
    std::string text;
    bool userDataNull;
};
std::vector<RecordedEvent> events;

void RecordEvent(void *userData, const LpaEventExecutionError *event)
{
    events.push_back({event->source, event->presentFields, event->subjectCode != nullptr ? event->subjectCode : "",
                      event->reasonCode == nullptr, event->text != nullptr ? event->text : "", userData == nullptr});
}

void OtherCallback(void *, const LpaEventExecutionError *) {}

HttpsServerOptions Serving(const std::string &certificate, const std::string &script = "[]")
{
    HttpsServerOptions options;
    options.certificate = certificate;
    options.script = script;
    return options;
}

struct Exchange {
    bool ok = false;
    int32_t code = -1;
    bool hasBuffer = false;
    std::string body;
};

std::vector<std::string> SplitHead(const std::string &head)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = head.find("\r\n", start)) != std::string::npos; start = end + 2) {
        lines.push_back(head.substr(start, end - start));
    }
    return lines;
}

bool StartsWithNoCase(const std::string &text, const std::string &prefix)
{
    return text.size() >= prefix.size() && strncasecmp(text.c_str(), prefix.c_str(), prefix.size()) == 0;
}

size_t CountPrefixNoCase(const std::vector<std::string> &lines, const std::string &prefix)
{
    size_t n = 0;
    for (const auto &line : lines) {
        n += StartsWithNoCase(line, prefix) ? 1 : 0;
    }
    return n;
}

class CurlDriverTest : public hbr_test::ConfigFixture {
protected:
    void SetUp() override
    {
        ConfigFixture::SetUp();
        events.clear();
        ASSERT_TRUE(HttpsTestServer::EnsurePki());
        ASSERT_TRUE(httpMediaManagerInitialize(New_HTTPMediaCurl, Delete_HTTPMediaCurl));
    }
    void TearDown() override
    {
        server_.Stop();
        events.clear();
        ConfigFixture::TearDown();
    }

    bool StartServer(const HttpsServerOptions &options) { return server_.Start(dir_, options); }

    // One request: init, post, read the buffer, cleanup.
    Exchange Run(const std::string &url, const std::string &body, const std::string &caPath)
    {
        Exchange exchange;
        EXPECT_TRUE(httpMediaManagerHttpExecuteInit());
        exchange.ok = httpMediaManagerPost(caPath.c_str(), url.c_str(), body.c_str(), &exchange.code);
        const char *buffer = httpMediaGetBufferResponse();
        exchange.hasBuffer = buffer != nullptr;
        if (buffer != nullptr) {
            exchange.body = buffer;  // up to the NUL the driver keeps after the data
        }
        EXPECT_TRUE(httpMediaHttpExectueCleanup());
        EXPECT_EQ(httpMediaGetBufferResponse(), nullptr);
        return exchange;
    }
    Exchange Run(const std::string &path) { return Run(server_.Url(path), "{}", Ca()); }

    static std::string Ca() { return HttpsTestServer::PkiFile("ca.crt"); }

    bool FailedWith(int curlCode) const
    {
        return FindMessagePrefix("Http execution failed (curl error code: " + std::to_string(curlCode) + ") => ") >= 0;
    }

    HttpsTestServer server_;
};

TEST_F(CurlDriverTest, PostsJsonWithTheFixedHeaders)
{
    ASSERT_TRUE(StartServer(Serving("server", R"([{"status": 200, "body": "{}"}, {"status": 200}])")));
    const std::string json = "{\"smdpAddress\":\"smdp.example\",\"text\":\"Zo\xC3\xAB \xE2\x9C\x93\"}";
    Exchange first = Run(server_.Url("/gsma/rsp2/es9plus/initiateAuthentication"), json, Ca());
    EXPECT_TRUE(first.ok);
    EXPECT_EQ(first.code, 200);

    const std::string head = server_.RecordedHead(1);
    ASSERT_EQ(head.substr(head.size() - 2), "\r\n");
    std::vector<std::string> lines = SplitHead(head);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "POST /gsma/rsp2/es9plus/initiateAuthentication HTTP/1.1");
    const std::vector<std::string> fixed = {"X-Admin-Protocol:gsma/rsp/v2.2.0", "content-type:application/json",
                                            "charset:utf-8", "User-Agent: gsma-rsp-lpad"};
    size_t at = 0;
    for (const auto &expected : fixed) {
        while (at < lines.size() && lines[at] != expected) {
            ++at;
        }
        EXPECT_LT(at, lines.size()) << "missing or out of order: " << expected << "\n" << head;
    }
    EXPECT_EQ(CountPrefixNoCase(lines, "content-type:"), 1u) << head;
    EXPECT_EQ(CountPrefixNoCase(lines, "user-agent:"), 1u) << head;
    EXPECT_EQ(CountPrefixNoCase(lines, "expect"), 0u) << head;
    EXPECT_EQ(CountPrefixNoCase(lines, "host:"), 1u) << head;
    EXPECT_EQ(CountPrefixNoCase(lines, "accept:"), 1u) << head;
    EXPECT_EQ(CountPrefixNoCase(lines, "content-length:"), 1u) << head;
    EXPECT_EQ(server_.RecordedBody(1), json);
    const std::string tls = server_.RecordedTls(1);
    EXPECT_TRUE(tls == "TLSv1.2" || tls == "TLSv1.3") << tls;

    EXPECT_TRUE(HasLine("INF", "curl version supported"));
    EXPECT_TRUE(HasLine("INF", "CURL using TLS v1.2 or later"));
    EXPECT_TRUE(HasLine("", "the http execution result : >> CURLE_OK :)"));
    EXPECT_TRUE(HasLine("", "curl => HTTP code : 200 "));
    EXPECT_TRUE(HasLine("", "certificate path is : " + Ca()));

    // A large body goes out whole, without "Expect: 100-continue".
    std::string large(2 * 1024 * 1024, 'x');
    for (size_t i = 0; i < large.size(); i += 97) {
        large[i] = static_cast<char>('a' + i % 26);
    }
    Exchange second = Run(server_.Url("/large"), large, Ca());
    EXPECT_TRUE(second.ok);
    EXPECT_EQ(second.code, 200);
    EXPECT_EQ(CountPrefixNoCase(SplitHead(server_.RecordedHead(2)), "expect"), 0u);
    EXPECT_TRUE(server_.RecordedBody(2) == large);
}

TEST_F(CurlDriverTest, AnswersArriveWholeAndCleanupReleasesEverything)
{
    ASSERT_TRUE(StartServer(Serving("server", R"([
        {"status": 200, "headers": [["Content-Type", "application/json"]], "body": "{\"transactionId\":\"0A1B\"}"},
        {"status": 204},
        {"status": 404, "body": "not found"},
        {"status": 500, "body": "{\"error\":1}"},
        {"status": 200, "chunks": ["{\"part\":", "\"one\",", "\"end\":2}"]},
        {"status": 200, "body_repeat": ["0123456789abcdef", 65536]}
    ])")));
    const uint32_t liveBefore = lpaCoreMemoryTestCounters().liveBlocks;

    Exchange json = Run("/a");
    EXPECT_TRUE(json.ok);
    EXPECT_EQ(json.code, 200);
    EXPECT_EQ(json.body, "{\"transactionId\":\"0A1B\"}");
    EXPECT_EQ(lpaCoreMemoryTestCounters().liveBlocks, liveBefore);

    Exchange empty = Run("/b");
    EXPECT_TRUE(empty.ok);
    EXPECT_EQ(empty.code, 204);
    EXPECT_FALSE(empty.hasBuffer);

    Exchange notFound = Run("/c");
    EXPECT_TRUE(notFound.ok);
    EXPECT_EQ(notFound.code, 404);
    EXPECT_EQ(notFound.body, "not found");

    Exchange failed = Run("/d");
    EXPECT_TRUE(failed.ok);
    EXPECT_EQ(failed.code, 500);
    EXPECT_EQ(failed.body, "{\"error\":1}");

    Exchange chunked = Run("/e");
    EXPECT_TRUE(chunked.ok);
    EXPECT_EQ(chunked.body, "{\"part\":\"one\",\"end\":2}");

    Exchange large = Run("/f");
    EXPECT_TRUE(large.ok);
    ASSERT_EQ(large.body.size(), 1024u * 1024u);
    std::string expected;
    for (int i = 0; i < 65536; ++i) {
        expected += "0123456789abcdef";
    }
    EXPECT_TRUE(large.body == expected);
    EXPECT_EQ(lpaCoreMemoryTestCounters().liveBlocks, liveBefore);
}

TEST_F(CurlDriverTest, VerifiesAgainstTheStoredCertPath)
{
    ASSERT_TRUE(StartServer(Serving("server")));
    ASSERT_TRUE(lpaManagerSetCertPath(Ca().c_str()));
    Exchange exchange = Run(server_.Url("/es9"), "{}", lpaManagerGetCertPath());
    EXPECT_TRUE(exchange.ok);
    EXPECT_EQ(exchange.code, 200);
    EXPECT_TRUE(HasLine("", "_httpMediaSetCertificatePath ..."));
    EXPECT_TRUE(HasLine("", "certificate path is : " + Ca()));
}

TEST_F(CurlDriverTest, NamedCaIsTheOnlyTrustAnchor)
{
    // The system store trusts the server's CA; the request names another.
    HBR_RUN_WITH_DEFAULT_CA_STORE(HttpsTestServer::PkiFile("ca2.crt"));
    ASSERT_TRUE(StartServer(Serving("server2")));
    ASSERT_TRUE(hbr_test::GetWithDefaultCaStore(server_.Url("/store")));
    ASSERT_EQ(server_.RecordedCount(), 1);
    Exchange refused = Run("/es9");
    EXPECT_FALSE(refused.ok);
    EXPECT_TRUE(FailedWith(60));
    EXPECT_EQ(server_.RecordedCount(), 1);
}

TEST_F(CurlDriverTest, UnknownIssuerOrExpiredFailsUntilPeerCheckIsOff)
{
    for (const char *certificate : {"server2", "expired"}) {
        SCOPED_TRACE(certificate);
        RestartLog();
        ASSERT_TRUE(StartServer(Serving(certificate)));
        Exchange refused = Run("/x");
        EXPECT_FALSE(refused.ok);
        EXPECT_EQ(refused.code, 0);
        EXPECT_TRUE(FailedWith(60));

        ASSERT_TRUE(httpMediaManagerSetBooleanOption(HTTP_MEDIA_OPTION_SSL_VERIFYPEER, false));
        Exchange accepted = Run("/x");
        EXPECT_TRUE(accepted.ok);
        EXPECT_EQ(accepted.code, 200);
        ASSERT_TRUE(httpMediaManagerSetBooleanOption(HTTP_MEDIA_OPTION_SSL_VERIFYPEER, true));
        server_.Stop();
    }
}

TEST_F(CurlDriverTest, WrongNameFailsUntilHostCheckIsOff)
{
    ASSERT_TRUE(StartServer(Serving("wrongname")));
    EXPECT_FALSE(Run("/x").ok);
    EXPECT_TRUE(FailedWith(60));

    ASSERT_TRUE(httpMediaManagerSetBooleanOption(HTTP_MEDIA_OPTION_SSL_VERIFYHOST, false));
    Exchange accepted = Run("/x");
    EXPECT_TRUE(accepted.ok);
    EXPECT_EQ(accepted.code, 200);
}

TEST_F(CurlDriverTest, MissingOrEmptyCaPath)
{
    ASSERT_TRUE(StartServer(Serving("server")));
    EXPECT_FALSE(Run(server_.Url("/x"), "{}", dir_ + "/no-such-ca.crt").ok);
    EXPECT_TRUE(FailedWith(77));

    RestartLog();
    EXPECT_FALSE(Run(server_.Url("/x"), "{}", "").ok);
    EXPECT_TRUE(FailedWith(60) || FailedWith(77));
    EXPECT_EQ(FindMessagePrefix("+httpmedia_curl :> _httpMediaSetCertificatePath()"), -1);
    EXPECT_EQ(FindMessagePrefix("_httpMediaSetCertificatePath"), -1);
    EXPECT_EQ(FindMessagePrefix("certificate path is"), -1);
}

TEST_F(CurlDriverTest, RefusesServersBelowTls12)
{
    // libcurl reads OPENSSL_CONF once, at its global initialisation: run in a
    // process started with it set.
    HBR_RUN_IN_FRESH_PROCESS({{"OPENSSL_CONF", HBR_TEST_OPENSSL_MIN_TLS1_CONF}});
    HttpsServerOptions old = Serving("server");
    old.maxTls = "1.1";
    old.ciphers = "DEFAULT:@SECLEVEL=0";
    ASSERT_TRUE(StartServer(old));

    // Control: without the driver's floor, this client reaches the server.
    CURL *curl = curl_easy_init();
    ASSERT_NE(curl, nullptr);
    const std::string url = server_.Url("/control");
    const std::string ca = Ca();
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_CAINFO, ca.c_str());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, "{}");
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, +[](char *, size_t size, size_t count, void *) {
        return size * count;
    });
    CURLcode control = curl_easy_perform(curl);
    curl_easy_cleanup(curl);
    if (control != CURLE_OK || server_.RecordedTls(1) != "TLSv1.1") {
        GTEST_SKIP() << "TLS 1.1 cannot be negotiated on this machine (" << curl_easy_strerror(control)
                     << "): the floor cannot be shown";
    }

    Exchange exchange = Run("/es9");
    EXPECT_FALSE(exchange.ok);
    EXPECT_TRUE(FailedWith(35));
}

TEST_F(CurlDriverTest, TransferTimeOutComesFromTheParameter)
{
    ASSERT_TRUE(StartServer(Serving("server", R"([{"action": "hold", "seconds": 5}])")));
    ASSERT_TRUE(SetText("CURL_TIMEOUT", "1"));
    EXPECT_FALSE(Run("/slow").ok);
    EXPECT_TRUE(FailedWith(28));
}

TEST_F(CurlDriverTest, ConnectTimeOutComesFromTheParameter)
{
    HttpsServerOptions stall;
    stall.stallSeconds = 5;
    ASSERT_TRUE(StartServer(stall));
    ASSERT_TRUE(SetText("CURL_CONNECT_TIMEOUT", "1"));
    EXPECT_FALSE(Run("/stalled").ok);
    EXPECT_TRUE(FailedWith(28));
}

TEST_F(CurlDriverTest, FailedTransferRaisesOneEventWhenRegistered)
{
    // A bound socket that does not listen: connections are refused.
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)), 0);
    socklen_t length = sizeof(address);
    ASSERT_EQ(getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length), 0);
    const std::string url = "https://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/x";

    ASSERT_TRUE(httpMediaManagerSetCallbackEventExecutionError(RecordEvent));
    Exchange refused = Run(url, "{}", Ca());
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(refused.code, 0);
    EXPECT_TRUE(HasLine("WAR", std::string("Http execution failed (curl error code: 7) => ") +
                                   curl_easy_strerror(CURLE_COULDNT_CONNECT)));
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].source, 3);
    EXPECT_EQ(events[0].presentFields, 5);
    EXPECT_EQ(events[0].subjectCode, "7");
    EXPECT_TRUE(events[0].reasonCodeNull);
    EXPECT_EQ(events[0].text, curl_easy_strerror(CURLE_COULDNT_CONNECT));
    EXPECT_TRUE(events[0].userDataNull);

    ASSERT_TRUE(httpMediaManagerSetCallbackEventExecutionError(nullptr));
    EXPECT_FALSE(Run(url, "{}", Ca()).ok);
    EXPECT_EQ(events.size(), 1u);
    close(fd);
}

TEST_F(CurlDriverTest, ResponseAllocationFailureEndsTheTransfer)
{
    ASSERT_TRUE(StartServer(Serving("server", R"([{"status": 200, "body_repeat": ["0123456789abcdef", 65536]}])")));
    const uint32_t liveBefore = lpaCoreMemoryTestCounters().liveBlocks;
    ASSERT_TRUE(SetText("MEM_ERR_IF_SIZE_REQUESTED_GE", "1000"));
    Exchange exchange = Run("/big");
    EXPECT_FALSE(exchange.ok);
    EXPECT_TRUE(FailedWith(23));
    EXPECT_TRUE(HasLine("WAR", "Not enough memory (realloc returned NULL)"));
    EXPECT_EQ(lpaCoreMemoryTestCounters().liveBlocks, liveBefore);
}

TEST_F(CurlDriverTest, PostNeedsInitAndArguments)
{
    int32_t code = -1;
    EXPECT_FALSE(httpMediaManagerPost("", "https://127.0.0.1:1/", "{}", &code));
    EXPECT_EQ(code, -1);
    EXPECT_EQ(FindMessagePrefix("HTTP execute post"), -1);

    ASSERT_TRUE(httpMediaManagerHttpExecuteInit());
    EXPECT_FALSE(httpMediaManagerPost("", nullptr, "{}", &code));
    EXPECT_FALSE(httpMediaManagerPost("", "https://127.0.0.1:1/", "{}", nullptr));
    EXPECT_EQ(CountLines("WAR", "_httpMediaGetBufferResponse() => NULL parameter detected!"), 2u);
    EXPECT_TRUE(httpMediaHttpExectueCleanup());

    // Without a media record every wrapper refuses.
    ASSERT_TRUE(httpMediaManagerDelete());
    RestartLog();
    bool flag = false;
    int32_t number = 0;
    EXPECT_FALSE(httpMediaManagerIsInitialized());
    EXPECT_FALSE(httpMediaManagerHttpExecuteInit());
    EXPECT_FALSE(httpMediaManagerPost("", "https://127.0.0.1:1/", "{}", &code));
    EXPECT_EQ(httpMediaGetBufferResponse(), nullptr);
    EXPECT_FALSE(httpMediaHttpExectueCleanup());
    EXPECT_FALSE(httpMediaManagerSetBooleanOption(HTTP_MEDIA_OPTION_SSL_VERIFYPEER, false));
    EXPECT_FALSE(httpMediaManagerGetBooleanOption(HTTP_MEDIA_OPTION_SSL_VERIFYPEER, &flag));
    EXPECT_FALSE(httpMediaManagerSetLongOption(HTTP_MEDIA_OPTION_TIMEOUT, 1));
    EXPECT_FALSE(httpMediaManagerGetLongOption(HTTP_MEDIA_OPTION_TIMEOUT, &number));
    EXPECT_FALSE(httpMediaManagerSetCallbackEventExecutionError(RecordEvent));
    EXPECT_FALSE(httpMediaManagerDelete());
    EXPECT_EQ(CountLines("WAR", "_httpMedia is not created !"), 10u);
    EXPECT_TRUE(httpMediaOptionValues.booleanOption[HTTP_MEDIA_OPTION_SSL_VERIFYPEER]);
    EXPECT_EQ(httpMediaOptionValues.longOption[HTTP_MEDIA_OPTION_TIMEOUT - HTTP_MEDIA_LONG_OPTION_FIRST], 60);

    // Creating twice keeps the first record.
    ASSERT_TRUE(httpMediaManagerInitialize(New_HTTPMediaCurl, Delete_HTTPMediaCurl));
    THTTPMedia *first = _httpMedia;
    EXPECT_FALSE(httpMediaManagerInitialize(New_HTTPMediaCurl, Delete_HTTPMediaCurl));
    EXPECT_EQ(_httpMedia, first);
}

TEST_F(CurlDriverTest, WriteCallbackAppendsAndTerminates)
{
    THTTPMediaCURL record = {};
    char data[10];
    std::memcpy(data, "0123456789", 10);
    EXPECT_EQ(_WriteRespCallback(data, 1, 10, &record), 10u);
    EXPECT_EQ(_WriteRespCallback(data, 5, 1, &record), 5u);
    ASSERT_NE(record.response, nullptr);
    EXPECT_EQ(record.responseLength, 15u);
    EXPECT_EQ(std::memcmp(record.response, "012345678901234", 16), 0);  // with the NUL

    EXPECT_EQ(_WriteRespCallback(nullptr, 1, 3, &record), 0u);
    EXPECT_EQ(_WriteRespCallback(data, 1, 3, nullptr), 0u);
    EXPECT_EQ(CountLines("WAR", "Incorrect NULL parameter!"), 2u);
    EXPECT_EQ(record.responseLength, 15u);
    LPA_FREE(record.response);
}

TEST_F(CurlDriverTest, OptionIdsOutsideEachKindAreRefused)
{
    bool flag = false;
    int32_t number = 0;
    EXPECT_FALSE(_httpMediaSetBooleanOption(_httpMedia, 5, true));
    EXPECT_FALSE(_httpMediaGetBooleanOption(_httpMedia, 5, &flag));
    EXPECT_FALSE(_httpMediaSetLongOption(_httpMedia, 5, 1));
    EXPECT_FALSE(_httpMediaGetLongOption(_httpMedia, 5, &number));
    EXPECT_EQ(CountLines("WAR", "HttpMediaOptionType '5'not supported"), 4u);

    EXPECT_FALSE(_httpMediaSetLongOption(_httpMedia, HTTP_MEDIA_OPTION_SSL_VERIFYHOST, 1));
    EXPECT_FALSE(_httpMediaSetBooleanOption(_httpMedia, HTTP_MEDIA_OPTION_TIMEOUT, false));
    EXPECT_EQ(CountLines("DEB", "+httpmedia_curl :> _httpMediaSetBooleanOption()"), 4u);
    EXPECT_FALSE(_httpMediaGetLongOption(_httpMedia, HTTP_MEDIA_OPTION_TIMEOUT, nullptr));
    EXPECT_TRUE(HasLine("WAR", "_httpMediaGetLongOption() => ptrValue is NULL !"));
    EXPECT_FALSE(_httpMediaGetBooleanOption(_httpMedia, HTTP_MEDIA_OPTION_DEBUG_MODE, nullptr));
    EXPECT_TRUE(HasLine("WAR", "_httpMediaGetBooleanOption() => ptrEnabled is NULL !"));
}

TEST_F(CurlDriverTest, CallbackRegistration)
{
    EXPECT_FALSE(httpMediaManagerSetCallbackEventExecutionError(nullptr));
    EXPECT_TRUE(httpMediaManagerSetCallbackEventExecutionError(RecordEvent));
    EXPECT_FALSE(httpMediaManagerSetCallbackEventExecutionError(RecordEvent));
    EXPECT_TRUE(HasLine("WAR", " LpaEventExecutionErrorCallback already registered !"));
    EXPECT_TRUE(httpMediaManagerSetCallbackEventExecutionError(OtherCallback));
    EXPECT_TRUE(httpMediaManagerSetCallbackEventExecutionError(nullptr));
    EXPECT_FALSE(httpMediaManagerSetCallbackEventExecutionError(nullptr));
    EXPECT_EQ(CountLines("DEB", "-- httpmedia_curl :> _httpMediaSetCallbackEventExecutionError() return res=true"), 3u);

    // A new driver forgets the callback.
    ASSERT_TRUE(httpMediaManagerSetCallbackEventExecutionError(RecordEvent));
    ASSERT_TRUE(httpMediaManagerDelete());
    ASSERT_TRUE(httpMediaManagerInitialize(New_HTTPMediaCurl, Delete_HTTPMediaCurl));
    EXPECT_TRUE(httpMediaManagerSetCallbackEventExecutionError(RecordEvent));
}

TEST_F(CurlDriverTest, VersionGate)
{
    EXPECT_TRUE(_httpMediaIsCurlVersionSupported(0x072200));
    EXPECT_TRUE(_httpMediaIsCurlVersionSupported(0x075801));
    EXPECT_FALSE(_httpMediaIsCurlVersionSupported(0x072100));
    EXPECT_TRUE(HasLine("WAR", "curl version not supported (require 7.34 or more)"));
    EXPECT_EQ(_httpMediaCurlVersionNumber(), 0u);
    EXPECT_TRUE(httpMediaManagerHttpExecuteInit());
    EXPECT_EQ(_httpMediaCurlVersionNumber(), static_cast<unsigned int>(LIBCURL_VERSION_NUM));
    EXPECT_TRUE(httpMediaHttpExectueCleanup());
}

}  // namespace
