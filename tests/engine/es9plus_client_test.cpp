// The ES9+/ES11 client against the local test SM-DP+ and SM-DS over HTTPS:
// request shape, address limits, the HTTP status policy, the
// functionExecutionStatus rule, field rules, and each function's outcomes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "config_test_util.h"
#include "curl_environment.h"
#include "es10b.h"
#include "httpmedia_curl.h"
#include "es9plus_client.h"
#include "https_test_server.h"
#include "lpa_core_memory_internal.h"
#include "lpa_error_internal.h"
#include "lpa_httpmedia.h"
#include "rsp_test_util.h"

using namespace hbr_test;

namespace {

const bool curlRegistered = RegisterCurlEnvironment();

const std::string kChallenge = Base64(Bytes(16, 0x5A));

class Es9Test : public ConfigFixture {
protected:
    void SetUp() override
    {
        ConfigFixture::SetUp();
        std::memset(&data_, 0, sizeof(data_));
        ASSERT_TRUE(HttpsTestServer::EnsurePki());
        ASSERT_TRUE(httpMediaManagerInitialize(New_HTTPMediaCurl, Delete_HTTPMediaCurl));
        ASSERT_TRUE(lpaManagerSetCertPath(HttpsTestServer::PkiFile("ca.crt").c_str()));
        callbacks_ = EventCallbacks(&events_);
        liveAtStart_ = lpaCoreMemoryTestCounters().liveBlocks;
    }
    void TearDown() override
    {
        FreeServerData(&data_);
        EXPECT_EQ(lpaCoreMemoryTestCounters().liveBlocks, liveAtStart_);
        server_.Stop();
        ConfigFixture::TearDown();
    }

    void Start(const std::string &script = "[]", const std::string &role = "smdp", const std::string &address = "",
               const std::string &certificate = "server")
    {
        HttpsServerOptions options;
        options.role = role;
        options.script = script;
        options.address = address;
        options.certificate = certificate;
        ASSERT_TRUE(server_.Start(dir_, options));
        address_ = "localhost:" + std::to_string(server_.port());
    }

    bool Initiate(const std::string &address)
    {
        return lpaManagerES9Plus_InitiateAuthentication(&data_, &callbacks_, kChallenge.c_str(),
                                                        Base64(TestEuiccInfo1()).c_str(), address.c_str());
    }
    bool Initiate() { return Initiate(address_); }

    std::string TransactionId() const
    {
        return data_._transactionId.val ? std::string(reinterpret_cast<char *>(data_._transactionId.val)) : "";
    }

    // The eUICC's AuthenticateServerResponse for the current serverSigned1.
    std::string AuthenticateServerResponse(const std::string &matchingId = "") const
    {
        // What the simulated eUICC says of itself, and its certificates.
        hbrsim::Isdr euicc;
        const hbrsim::Credentials &c = euicc.state.info.credentials;
        Bytes signed1 = FindTlv(FieldBytes(data_._serverSigned1), 0x30);
        Bytes euiccSigned1 = Tlv(0x30, Cat({Tlv(0x80, FindTlv(signed1, 0x80)), Tlv(0x83, FindTlv(signed1, 0x83)),
                                            Tlv(0x84, FindTlv(signed1, 0x84)), euicc.euiccInfo2(),
                                            Tlv(0xA0, Cat({Tlv(0x80, Bytes(matchingId.begin(), matchingId.end())),
                                                           Tlv(0xA1, HexToBytes("8000"))}))}));
        return Base64(Tlv(0xBF38, Tlv(0xA0, Cat({euiccSigned1, Tlv(0x5F37, Bytes(64, 1)), c.euiccCertificate,
                                                   c.eumCertificate}))));
    }
    bool Authenticate(const std::string &matchingId = "")
    {
        return lpaManagerAuthenticateClient(&data_, &callbacks_, TransactionId().c_str(), address_.c_str(),
                                            AuthenticateServerResponse(matchingId).c_str());
    }
    std::string PrepareDownloadResponse() const
    {
        Bytes txid = FindTlv(FindTlv(FieldBytes(data_._smdpSigned2), 0x30), 0x80);
        return Base64(Tlv(0xBF21, Tlv(0xA0, Cat({Tlv(0x30, Cat({Tlv(0x80, txid), Tlv(0x5F49, Bytes(65, 4))})),
                                                   Tlv(0x5F37, Bytes(64, 2))}))));
    }
    bool GetPackage()
    {
        return lpaManagerGetBoundProfilePackage(&data_, &callbacks_, TransactionId().c_str(), address_.c_str(),
                                                PrepareDownloadResponse().c_str());
    }
    std::string Pir(const std::string &result = "A0") const
    {
        Bytes txid = HexToBytes(TransactionId());
        Bytes final = result == "A0" ? Tlv(0xA0, Tlv(0x4F, Bytes(16, 7)))
                                     : Tlv(0xA1, Cat({Tlv(0x80, Bytes{2}), Tlv(0x81, Bytes{9})}));
        return Base64(Tlv(0xBF37, Cat({Tlv(0xBF27, Cat({Tlv(0x80, txid),
                                                         Tlv(0xBF2F, Cat({Tlv(0x80, Bytes{5}), Tlv(0x81, HexToBytes("0780")),
                                                                          Tlv(0x0C, Bytes(address_.begin(), address_.end()))})),
                                                         Tlv(0x06, Bytes{0x2A}), Tlv(0xA2, final)})),
                                       Tlv(0x5F37, Bytes(64, 3))})));
    }
    TCancelSessionResponse CancelResponse() const
    {
        TCancelSessionResponse response;
        std::memset(&response, 0, sizeof(response));
        Bytes oid = hbrsim::registeredIdOf(FieldBytes(data_._serverCertificate));
        Bytes answer = Tlv(0xBF41, Tlv(0xA0, Cat({Tlv(0x30, Cat({Tlv(0x80, HexToBytes(TransactionId())),
                                                                  Tlv(0x81, oid), Tlv(0x82, Bytes{1})})),
                                                   Tlv(0x5F37, Bytes(64, 5))})));
        std::memcpy(response.response, answer.data(), answer.size());
        response.length = answer.size();
        response.ok = 1;
        return response;
    }
    bool Cancel()
    {
        TCancelSessionResponse response = CancelResponse();
        return _lpaManagerES9SendCancelSession(TransactionId().c_str(), &response, address_.c_str(), &callbacks_);
    }

    std::vector<RecordedEvent> HttpEvents() const
    {
        std::vector<RecordedEvent> out;
        for (const auto &e : events_) {
            if (e.source == LPA_EXECUTION_ERROR_SOURCE_HTTP_STATUS) out.push_back(e);
        }
        return out;
    }
    std::string RequestLine(int n) const
    {
        std::string head = server_.RecordedHead(n);
        return head.substr(0, head.find("\r\n"));
    }

    static uint32_t Error() { return TakeError(); }

    HttpsTestServer server_;
    std::string address_;
    TServerData data_;
    LpaDownloadCallbacks callbacks_;
    std::vector<RecordedEvent> events_;
    uint32_t liveAtStart_ = 0;
};

// ---------------------------------------------------------------------------
// Request shape

TEST_F(Es9Test, WholeSessionRequestsHaveTheirShape)
{
    Start();
    std::string typed = "LocalHost:" + std::to_string(server_.port());
    ASSERT_TRUE(Initiate(typed));
    EXPECT_EQ(Error(), LPA_NO_ERROR);
    EXPECT_EQ(RequestLine(1), "POST /gsma/rsp2/es9plus/initiateAuthentication HTTP/1.1");
    EXPECT_NE(server_.RecordedHead(1).find("\r\nHost: localhost:" + std::to_string(server_.port()) + "\r\n"),
              std::string::npos);
    EXPECT_NE(server_.RecordedHead(1).find("\r\nX-Admin-Protocol:gsma/rsp/v2.2.0\r\n"), std::string::npos);
    // Formatted JSON, keys in order, smdpAddress as typed.
    EXPECT_EQ(server_.RecordedBody(1), "{\n\t\"euiccInfo1\":\t\"" + Base64(TestEuiccInfo1()) +
                                           "\",\n\t\"euiccChallenge\":\t\"" + kChallenge +
                                           "\",\n\t\"smdpAddress\":\t\"" + typed + "\"\n}");
    EXPECT_TRUE(HasLine("DEB", "urlStr:https://localhost:" + std::to_string(server_.port()) +
                                   "/gsma/rsp2/es9plus/initiateAuthentication"));
    // The five fields.
    EXPECT_EQ(TransactionId().size(), 32u);
    EXPECT_EQ(data_._transactionId.len, 32u);
    Bytes signed1 = FindTlv(FieldBytes(data_._serverSigned1), 0x30);
    EXPECT_EQ(BytesToHex(FindTlv(signed1, 0x80)), TransactionId());
    EXPECT_EQ(FindTlv(signed1, 0x81), Bytes(16, 0x5A));
    EXPECT_EQ(data_._serverSignature1.len, 67u);
    EXPECT_EQ(FieldBytes(data_._euiccCiPKIdToBeUsed), Tlv(0x04, hbrsim::Isdr().state.info.credentials.ciKeyId));
    EXPECT_GT(data_._serverCertificate.len, 100u);

    ASSERT_TRUE(Authenticate());
    EXPECT_EQ(server_.RecordedBody(2), "{\n\t\"transactionId\":\t\"" + TransactionId() +
                                           "\",\n\t\"authenticateServerResponse\":\t\"" +
                                           AuthenticateServerResponse() + "\"\n}");
    EXPECT_EQ(RequestLine(2), "POST /gsma/rsp2/es9plus/authenticateClient HTTP/1.1");
    EXPECT_EQ(FieldBytes(data_._smdpCertificate), FieldBytes(data_._serverCertificate));
    EXPECT_EQ(data_._smdpSignature2.len, 67u);
    EXPECT_EQ(FieldBytes(data_._profileMetadata)[0], 0xBF);
    EXPECT_EQ(FindTlv(FindTlv(FieldBytes(data_._smdpSigned2), 0x30), 0x01), Bytes{0x00});

    ASSERT_TRUE(GetPackage());
    EXPECT_EQ(RequestLine(3), "POST /gsma/rsp2/es9plus/getBoundProfilePackage HTTP/1.1");
    EXPECT_EQ(server_.RecordedBody(3), "{\n\t\"transactionId\":\t\"" + TransactionId() +
                                           "\",\n\t\"prepareDownloadResponse\":\t\"" + PrepareDownloadResponse() +
                                           "\"\n}");
    Bytes package = FieldBytes(data_._boundProfilePackage);
    ASSERT_GT(package.size(), 100u);
    EXPECT_EQ(package[0], 0xBF);
    EXPECT_EQ(package[1], 0x36);

    std::string pir = Pir();
    ASSERT_TRUE(handleNotification(address_.c_str(), address_.size(), pir.c_str(), &callbacks_));
    EXPECT_EQ(RequestLine(4), "POST /gsma/rsp2/es9plus/handleNotification HTTP/1.1");
    EXPECT_EQ(server_.RecordedBody(4), "{\n\t\"pendingNotification\":\t\"" + pir + "\"\n}");
    EXPECT_NE(server_.RecordedNotifications().find("\"result\": \"success\""), std::string::npos);
    EXPECT_EQ(Error(), LPA_NO_ERROR);
    EXPECT_TRUE(events_.empty());
}

TEST_F(Es9Test, CancelSessionRequestAndHostCase)
{
    Start();
    // The host is lower-cased.
    std::string typed = "LOCALHOST:" + std::to_string(server_.port());
    ASSERT_TRUE(Initiate(typed));
    EXPECT_EQ(RequestLine(1), "POST /gsma/rsp2/es9plus/initiateAuthentication HTTP/1.1");
    TCancelSessionResponse response = CancelResponse();
    ASSERT_TRUE(_lpaManagerES9SendCancelSession(TransactionId().c_str(), &response, address_.c_str(), &callbacks_));
    EXPECT_EQ(RequestLine(2), "POST /gsma/rsp2/es9plus/cancelSession HTTP/1.1");
    EXPECT_EQ(server_.RecordedBody(2),
              "{\n\t\"transactionId\":\t\"" + TransactionId() + "\",\n\t\"cancelSessionResponse\":\t\"" +
                  Base64(Bytes(response.response, response.response + response.length)) + "\"\n}");
    EXPECT_TRUE(HasLine("DEB", "_lpaManagerES9SendCancelSession: Cancel Session confirmed successful by server."));
}

// ---------------------------------------------------------------------------
// Address limits

TEST_F(Es9Test, InitiateAuthenticationAddressLimits)
{
    Start("[]", "smdp", "", "longname");
    auto padded = [this](size_t total) { return LongLocalhostAddress(total, server_.port()); };
    // 205 characters: address and path make 246, the longest URL.
    ASSERT_TRUE(Initiate(padded(205)));
    EXPECT_EQ(Error(), LPA_NO_ERROR);
    EXPECT_EQ(server_.RecordedCount(), 1);
    for (size_t length = 206; length <= 213; ++length) {
        RestartLog();
        EXPECT_FALSE(Initiate(padded(length))) << length;
        EXPECT_EQ(Error(), LPA_ERROR_INVALID_SERVER_ADDRESS) << length;
        EXPECT_TRUE(HasLine("WAR", "Buffer too small for building https URL !")) << length;
        EXPECT_TRUE(HasLine("ERR", "urlStr: Empty!"));
        EXPECT_FALSE(HasLine("WAR", "Invalid address"));
    }
    RestartLog();
    EXPECT_FALSE(Initiate(padded(214)));
    EXPECT_EQ(Error(), LPA_ERROR_INVALID_SERVER_ADDRESS);
    EXPECT_TRUE(HasLine("WAR", "Invalid address"));
    EXPECT_EQ(server_.RecordedCount(), 1);
    // An empty URL also sends the init event.
    ASSERT_FALSE(HttpEvents().empty());
    EXPECT_EQ(HttpEvents().back().text, "http error: Cannot initialize http media or problem with target URL");
}

TEST_F(Es9Test, HandleNotificationAndCancelSessionAddressLimits)
{
    Start();
    ASSERT_TRUE(Initiate());
    // The address is addressLength bytes, not NUL-terminated.
    std::string buffer = address_ + "/ignored-tail-without-nul";
    ASSERT_TRUE(handleNotification(buffer.data(), address_.size(), Pir().c_str(), &callbacks_));
    EXPECT_EQ(RequestLine(2), "POST /gsma/rsp2/es9plus/handleNotification HTTP/1.1");

    std::string longAddress = LongLocalhostAddress(218, server_.port());
    EXPECT_FALSE(handleNotification(longAddress.data(), 218, Pir().c_str(), &callbacks_));
    EXPECT_EQ(Error(), LPA_ERROR_INSUFFICIENT_BUFFER);
    EXPECT_TRUE(HasLine("ERR", "No enough memory to update pirNotiSmdpAddr !"));
    EXPECT_FALSE(handleNotification(longAddress.data(), 217, Pir().c_str(), &callbacks_));
    EXPECT_EQ(Error(), LPA_ERROR_INVALID_SERVER_ADDRESS);
    EXPECT_FALSE(handleNotification(address_.data(), 0, Pir().c_str(), &callbacks_));
    EXPECT_EQ(Error(), LPA_ERROR_INVALID_PARAMETER);

    TCancelSessionResponse response = CancelResponse();
    std::string cancelAddress = LongLocalhostAddress(223, server_.port());
    EXPECT_FALSE(_lpaManagerES9SendCancelSession(TransactionId().c_str(), &response, cancelAddress.c_str(), nullptr));
    EXPECT_TRUE(HasLine("ERR", "_lpaManagerES9SendCancelSession: HTTP address is too long."));
    EXPECT_EQ(Error(), LPA_NO_ERROR);
    cancelAddress = LongLocalhostAddress(222, server_.port());
    EXPECT_FALSE(_lpaManagerES9SendCancelSession(TransactionId().c_str(), &response, cancelAddress.c_str(), nullptr));
    EXPECT_EQ(Error(), LPA_ERROR_INVALID_SERVER_ADDRESS);
    EXPECT_EQ(server_.RecordedCount(), 2);
}

// ---------------------------------------------------------------------------
// HTTP status policy

struct PolicyRow {
    const char *knob;
    bool result;
    uint32_t code;
    const char *eventText;  // "" when no event
};

TEST_F(Es9Test, HttpStatusPolicyRows)
{
    const std::vector<PolicyRow> rows = {
        {R"("httpStatus": 204, "noBody": true)", false, LPA_ERROR_SERVER_COMMUNICATION_ISSUE, ""},
        {R"("status": 404, "body": "")", false, LPA_ERROR_SERVER_RETURN_404_STATUS_CODE,
         "http error: Server returned code 404"},
        {R"("status": 500, "body": "{}")", false, LPA_ERROR_SERVER_RETURN_500_STATUS_CODE,
         "http error: Server returned code 500"},
        {R"("httpStatus": 201)", true, LPA_ERROR_SERVER_COMMUNICATION_ISSUE, "http error: Server returned code 201"},
        {R"("status": 302, "headers": [["Location", "/elsewhere"]], "body": "")", false,
         LPA_ERROR_SERVER_COMMUNICATION_ISSUE, "http error: Server returned code 302"},
        {R"("status": 403, "body": "no")", false, LPA_ERROR_SERVER_COMMUNICATION_ISSUE,
         "http error: Server returned code 403"},
        {R"("noBody": true)", false, LPA_ERROR_SERVER_COMMUNICATION_ISSUE,
         "http error: Server returned code 200 without data"},
        {R"("httpStatus": 202, "noBody": true)", false, LPA_ERROR_SERVER_COMMUNICATION_ISSUE,
         "http error: Communication issue. http code returned: 202"},
    };
    std::string script = "[";
    for (size_t i = 0; i < rows.size(); ++i) {
        script += std::string(i ? "," : "") + R"({"function": "initiateAuthentication", "call": )" +
                  std::to_string(i + 1) + ", " + rows[i].knob + "}";
    }
    Start(script + "]");
    for (const PolicyRow &row : rows) {
        events_.clear();
        EXPECT_EQ(Initiate(), row.result) << row.knob;
        EXPECT_EQ(Error(), row.code) << row.knob;
        std::vector<RecordedEvent> http = HttpEvents();
        if (row.eventText[0] == '\0') {
            EXPECT_TRUE(http.empty()) << row.knob;
        } else {
            ASSERT_EQ(http.size(), 1u) << row.knob;
            EXPECT_EQ(http[0].text, row.eventText);
            EXPECT_EQ(http[0].presentFields, LPA_EXECUTION_ERROR_FIELD_TEXT);
            EXPECT_TRUE(http[0].subjectNull && http[0].reasonNull);
        }
    }
    EXPECT_TRUE(HasLine("DEB", "Server return HTTP status code 404"));
    // Without callbacks nothing is sent, the code still stands.
    events_.clear();
    EXPECT_FALSE(lpaManagerES9Plus_InitiateAuthentication(&data_, nullptr, kChallenge.c_str(), "x", "a"));
    EXPECT_TRUE(events_.empty());
    TakeError();
}

class Es9TransportTest : public Es9Test {
protected:
    static std::vector<RecordedEvent> appEvents;
    static void AppCallback(void *, const LpaEventExecutionError *event) { RecordEventInto(&appEvents, event); }

    void ExpectCommunicationIssue(bool result)
    {
        EXPECT_FALSE(result);
        EXPECT_EQ(Error(), LPA_ERROR_SERVER_COMMUNICATION_ISSUE);
        std::vector<RecordedEvent> http = HttpEvents();
        ASSERT_EQ(http.size(), 1u);
        EXPECT_EQ(http[0].text, "http error: Communication issue");
        ASSERT_EQ(appEvents.size(), 1u);
        EXPECT_EQ(appEvents[0].source, LPA_EXECUTION_ERROR_SOURCE_HTTP_TRANSPORT);
        EXPECT_FALSE(appEvents[0].text.empty());
        events_.clear();
        appEvents.clear();
    }
};
std::vector<RecordedEvent> Es9TransportTest::appEvents;

TEST_F(Es9TransportTest, TransportFailuresAreCommunicationIssues)
{
    appEvents.clear();
    ASSERT_TRUE(httpMediaManagerSetCallbackEventExecutionError(_lpaManagerEventExecutionErrorCallback));
    _lpaManagerSetAppEventExecutionErrorCallback(AppCallback, nullptr);

    // A closed port.
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(sa);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&sa), sizeof(sa)), 0);
    ASSERT_EQ(getsockname(fd, reinterpret_cast<sockaddr *>(&sa), &len), 0);
    close(fd);
    ExpectCommunicationIssue(Initiate("127.0.0.1:" + std::to_string(ntohs(sa.sin_port))));

    // An untrusted CA (the handshake fails: the role never sees a call).
    Start(R"([{"function": "initiateAuthentication", "call": 1, "action": "hold", "seconds": 3},
              {"function": "initiateAuthentication", "call": 2, "action": "close"}])");
    ASSERT_TRUE(lpaManagerSetCertPath(HttpsTestServer::PkiFile("ca2.crt").c_str()));
    ExpectCommunicationIssue(Initiate());
    ASSERT_TRUE(lpaManagerSetCertPath(HttpsTestServer::PkiFile("ca.crt").c_str()));

    // CURL_TIMEOUT of 1 s against a server that holds its answer.
    ASSERT_TRUE(httpMediaManagerSetLongOption(HTTP_MEDIA_OPTION_TIMEOUT, 1));
    ExpectCommunicationIssue(Initiate());
    ASSERT_TRUE(httpMediaManagerSetLongOption(HTTP_MEDIA_OPTION_TIMEOUT, 60));
    // Closed without an answer.
    ExpectCommunicationIssue(Initiate());
    _lpaManagerSetAppEventExecutionErrorCallback(nullptr, nullptr);
}

// ---------------------------------------------------------------------------
// functionExecutionStatus rule

TEST_F(Es9Test, FunctionExecutionStatusRule)
{
    struct Case {
        const char *json;
        bool success;
        int presentFields;  // -1: no event
    };
    const std::vector<Case> cases = {
        {R"({"header":{"functionExecutionStatus":{"status":"Executed-Success"}}})", true, -1},
        {R"({"header":{"functionExecutionStatus":{"status":"executed-SUCCESS"}}})", true, -1},
        {R"({"eventEntries":[]})", true, -1},
        {R"({"other":1})", false, -1},
        {R"({"header":{}})", false, -1},
        {R"({"header":{"functionExecutionStatus":{}}})", false, -1},
        {R"({"header":{"functionExecutionStatus":{"status":7}}})", false, -1},
        {R"({"header":{"functionExecutionStatus":{"status":"Executed-Success-"}}})", false, -1},
        {R"({"header":{"functionExecutionStatus":{"status":"Failed","statusCodeData":{"subjectCode":"8.1"}}}})",
         false, 1},
        {R"({"header":{"functionExecutionStatus":{"status":"Failed","statusCodeData":{"reasonCode":"3.8"}}}})",
         false, 2},
        {R"({"header":{"functionExecutionStatus":{"status":"Failed","statusCodeData":{"subjectCode":"8.1","reasonCode":"3.8"}}}})",
         false, 3},
        {R"({"header":{"functionExecutionStatus":{"status":"Executed-Success","statusCodeData":{"subjectCode":"8.1","reasonCode":"3.8"}}}})",
         true, 3},
        {R"({"header":{"functionExecutionStatus":{"status":"Failed","statusCodeData":{"subjectCode":1}}}})", false, -1},
    };
    for (const Case &c : cases) {
        events_.clear();
        cJSON *json = cJSON_Parse(c.json);
        ASSERT_NE(json, nullptr);
        EXPECT_EQ(_checkJSONresponseStatusSuccessful(json, &callbacks_), c.success) << c.json;
        if (c.presentFields < 0) {
            EXPECT_TRUE(events_.empty()) << c.json;
        } else {
            ASSERT_EQ(events_.size(), 1u) << c.json;
            EXPECT_EQ(events_[0].source, LPA_EXECUTION_ERROR_SOURCE_SERVER_STATUS);
            EXPECT_EQ(events_[0].presentFields, c.presentFields);
            EXPECT_EQ(events_[0].subjectNull, !(c.presentFields & 1));
            EXPECT_EQ(events_[0].reasonNull, !(c.presentFields & 2));
            EXPECT_TRUE(events_[0].textNull);
        }
        // No callbacks, or none for executionError: no event, same verdict.
        LpaDownloadCallbacks empty;
        std::memset(&empty, 0, sizeof(empty));
        events_.clear();
        EXPECT_EQ(_checkJSONresponseStatusSuccessful(json, &empty), c.success);
        EXPECT_EQ(_checkJSONresponseStatusSuccessful(json, nullptr), c.success);
        EXPECT_TRUE(events_.empty());
        cJSON_Delete(json);
    }
    EXPECT_FALSE(_checkJSONresponseStatusSuccessful(nullptr, &callbacks_));
    EXPECT_TRUE(HasLine("INF", "_checkJSONresponseStatusSuccessful(): subjectCode: N/A reasonCode : 3.8"));
}

TEST_F(Es9Test, StatusRuleOnTheWire)
{
    Start(R"([{"function": "initiateAuthentication", "call": 1, "drop": "header", "eventEntries": []},
              {"function": "initiateAuthentication", "call": 2, "execStatus": "executed-success"},
              {"function": "initiateAuthentication", "call": 3, "execStatus": "Failed", "subjectCode": "8.8.2"},
              {"function": "initiateAuthentication", "call": 4, "drop": "status"}])");
    EXPECT_TRUE(Initiate());
    EXPECT_TRUE(Initiate());
    EXPECT_FALSE(Initiate());
    EXPECT_EQ(Error(), LPA_NO_ERROR);  // a Failed status records no code of its own
    ASSERT_EQ(events_.size(), 1u);
    EXPECT_EQ(events_[0].subjectCode, "8.8.2");
    EXPECT_FALSE(Initiate());
    EXPECT_TRUE(HasLine("INF", "no Status"));
}

// ---------------------------------------------------------------------------
// Field rules

TEST_F(Es9Test, InitiateAuthenticationFieldRules)
{
    const std::string a464(464, 'A'), a468(468, 'A');
    std::string tx39(39, 'B'), tx40(40, 'B');
    Start(R"([
        {"function": "initiateAuthentication", "call": 1, "set": {"serverSigned1": ")" + a464 + R"("}},
        {"function": "initiateAuthentication", "call": 2, "set": {"serverSigned1": ")" + a468 + R"("}},
        {"function": "initiateAuthentication", "call": 3, "set": {"transactionId": ")" + tx39 + R"("}},
        {"function": "initiateAuthentication", "call": 4, "set": {"transactionId": ")" + tx40 + R"("}},
        {"function": "initiateAuthentication", "call": 5, "remove": ["serverSigned1"]},
        {"function": "initiateAuthentication", "call": 6, "set": {"serverSignature1": 5}},
        {"function": "initiateAuthentication", "call": 7, "set": {"euiccCiPKIdToBeUsed": "abc"}},
        {"function": "initiateAuthentication", "call": 8, "remove": ["serverCertificate"]},
        {"function": "initiateAuthentication", "call": 9, "keyCase": "upper"},
        {"function": "initiateAuthentication", "call": 10, "set": {"transactionId": ""}}
    ])");
    EXPECT_TRUE(Initiate());
    EXPECT_EQ(data_._serverSigned1.len, 348u);
    EXPECT_EQ(Error(), LPA_NO_ERROR);

    EXPECT_FALSE(Initiate());
    EXPECT_EQ(Error(), LPA_ERROR_INSUFFICIENT_BUFFER);
    EXPECT_TRUE(HasLine("ERR",
                        "_serverSigned1 size exceeds maximum allowed (Current size needed:352 - Maximum size allowed:349)!"));
    EXPECT_EQ(data_._serverSigned1.len, 0u);
    EXPECT_EQ(data_._transactionId.len, 32u);  // decoded before the failure: kept

    EXPECT_TRUE(Initiate());
    EXPECT_EQ(TransactionId(), tx39);
    EXPECT_FALSE(Initiate());
    EXPECT_EQ(Error(), LPA_ERROR_INVALID_TRANSACTIONID);
    EXPECT_EQ(data_._transactionId.len, 0u);

    const std::vector<std::pair<uint32_t, const char *>> fieldFailures = {
        {LPA_ERROR_INVALID_SERVERSIGNED1, "Failed to get serverSigned1 from server"},
        {LPA_ERROR_INVALID_SERVERSIGNATURE1, "Failed to get serverSignature1 from server"},
        {LPA_ERROR_INVALID_EUICCCIPKIDTOBEUSED, "Failed to decode euiccCiPKIdToBeUsed from base64 !"},
        {LPA_ERROR_INVALID_SERVERCERTIFICATE, "Failed to get serverCertificate from server"},
    };
    for (const auto &failure : fieldFailures) {
        EXPECT_FALSE(Initiate()) << failure.second;
        EXPECT_EQ(Error(), failure.first) << failure.second;
        EXPECT_TRUE(HasLine("", failure.second)) << failure.second;
    }
    EXPECT_TRUE(HasLine("WAR", "Failed to get serverCertificate from server"));
    EXPECT_GT(data_._euiccCiPKIdToBeUsed.len, 0u);  // from call 8, which stopped at the certificate
    EXPECT_EQ(data_._serverCertificate.len, 0u);

    EXPECT_TRUE(Initiate());  // keys in upper case
    EXPECT_EQ(Error(), LPA_NO_ERROR);
    EXPECT_FALSE(Initiate());
    EXPECT_EQ(Error(), LPA_ERROR_INVALID_TRANSACTIONID);
}

// Every Base64 field of both functions: missing, not a string, bad Base64.
TEST_F(Es9Test, EachFieldMissingNotStringOrBadBase64)
{
    struct Field {
        const char *function;
        const char *key;
        uint32_t code;
    };
    const std::vector<Field> fields = {
        {"initiateAuthentication", "serverSigned1", LPA_ERROR_INVALID_SERVERSIGNED1},
        {"initiateAuthentication", "serverSignature1", LPA_ERROR_INVALID_SERVERSIGNATURE1},
        {"initiateAuthentication", "euiccCiPKIdToBeUsed", LPA_ERROR_INVALID_EUICCCIPKIDTOBEUSED},
        {"initiateAuthentication", "serverCertificate", LPA_ERROR_INVALID_SERVERCERTIFICATE},
        {"authenticateClient", "smdpSigned2", LPA_ERROR_AUTHENTICATE_CLIENT_EXCHANGE},
        {"authenticateClient", "smdpSignature2", LPA_ERROR_AUTHENTICATE_CLIENT_EXCHANGE},
        {"authenticateClient", "profileMetadata", LPA_ERROR_AUTHENTICATE_CLIENT_EXCHANGE},
        {"authenticateClient", "smdpCertificate", LPA_ERROR_AUTHENTICATE_CLIENT_EXCHANGE},
    };
    const char *const faults[] = {R"("remove": ["%s"])", R"("set": {"%s": ["x"]})", R"("set": {"%s": "QUJD="})"};
    // The first initiateAuthentication is normal; then three faults per field.
    std::string script = "[";
    int calls[2] = {1, 0};
    for (const Field &field : fields) {
        int &call = calls[std::string(field.function) == "authenticateClient"];
        for (const char *fault : faults) {
            char knob[128];
            std::snprintf(knob, sizeof(knob), fault, field.key);
            script += std::string(script.size() > 1 ? "," : "") + R"({"function": ")" + field.function +
                      R"(", "call": )" + std::to_string(++call) + ", " + knob + "}";
        }
    }
    Start(script + "]");
    ASSERT_TRUE(Initiate());
    for (const Field &field : fields) {
        bool initiate = std::string(field.function) == "initiateAuthentication";
        for (size_t i = 0; i < 3; ++i) {
            if (!initiate) {
                ASSERT_TRUE(Initiate());  // a session for each authenticateClient call
            }
            EXPECT_FALSE(initiate ? Initiate() : Authenticate()) << field.key << " fault " << i;
            EXPECT_EQ(Error(), field.code) << field.key << " fault " << i;
        }
    }
}

TEST_F(Es9Test, AuthenticateClientFieldRules)
{
    Start(R"([
        {"function": "authenticateClient", "call": 1, "set": {"transactionId": "0011"}},
        {"function": "authenticateClient", "call": 2, "remove": ["transactionId"]},
        {"function": "authenticateClient", "call": 3, "remove": ["smdpSignature2"]},
        {"function": "authenticateClient", "call": 4, "set": {"profileMetadata": true}},
        {"function": "authenticateClient", "call": 5, "set": {"smdpCertificate": "abcde"}},
        {"function": "authenticateClient", "call": 6, "set": {"smdpSigned2": ")" + std::string(468, 'Q') + R"("}},
        {"function": "authenticateClient", "call": 7, "execStatus": "Failed"},
        {"function": "authenticateClient", "call": 8, "body": "not json"},
        {"function": "authenticateClient", "call": 9, "status": 404, "body": ""},
        {"function": "authenticateClient", "call": 10, "txidLower": true},
        {"function": "authenticateClient", "call": 11, "keyCase": "lower"}
    ])");
    ASSERT_TRUE(Initiate());
    const std::vector<std::pair<uint32_t, const char *>> outcomes = {
        {LPA_ERROR_INVALID_TRANSACTIONID, "incorrect transactionId !"},
        {LPA_ERROR_INVALID_TRANSACTIONID, "Failed to get transactionId from server"},
        {LPA_ERROR_AUTHENTICATE_CLIENT_EXCHANGE,
         "lpaManagerAuthenticateClientExtractDataFromCJSON () => 'smdpSignature2' not found on JSON response"},
        {LPA_ERROR_AUTHENTICATE_CLIENT_EXCHANGE, "Failed to parse profileMetadata from JSON object !"},
        {LPA_ERROR_AUTHENTICATE_CLIENT_EXCHANGE, "Failed to decode smdpCertificate from base64 !"},
        {LPA_ERROR_INSUFFICIENT_BUFFER, "smdpSigned2 buffer too small (Expected : 352 bytes, Maximum allowed : 349 )!"},
        {LPA_ERROR_FAILED_AUTHENTICATE_CLIENT, "cJSON content error !"},
        {LPA_ERROR_CJSON_PARSE_FAILURE, "json pack into cjson error..."},
        {LPA_ERROR_SERVER_RETURN_404_STATUS_CODE,
         "lpaManagerAuthenticateClient() => ptrHttpAuthClientResp is NULL or lpaError not equal to LPA_NO_ERROR"},
        {LPA_ERROR_INVALID_TRANSACTIONID, "incorrect transactionId !"},
    };
    for (size_t i = 0; i < outcomes.size(); ++i) {
        RestartLog();
        EXPECT_FALSE(Authenticate()) << outcomes[i].second;
        EXPECT_EQ(Error(), outcomes[i].first) << outcomes[i].second;
        EXPECT_TRUE(HasLine("", outcomes[i].second)) << outcomes[i].second;
        if (i == 2) {
            // Fields decoded before the failing one keep their values.
            EXPECT_GT(data_._smdpSigned2.len, 0u);
            EXPECT_EQ(data_._smdpSignature2.len, 0u);
        }
    }
    EXPECT_TRUE(Authenticate());  // keys in lower case
    EXPECT_EQ(Error(), LPA_NO_ERROR);
    EXPECT_GT(data_._smdpCertificate.len, 0u);
    EXPECT_TRUE(HasLine("DEB", "lpaManagerAuthenticateClient() =>  return TRUE"));
}

// ---------------------------------------------------------------------------
// getBoundProfilePackage

TEST_F(Es9Test, BoundProfilePackageTransactionIdAndSize)
{
    Start(R"([
        {"function": "getBoundProfilePackage", "call": 1, "set": {"transactionId": "0123"}},
        {"function": "getBoundProfilePackage", "call": 2, "remove": ["transactionId"]},
        {"function": "getBoundProfilePackage", "call": 3, "package": {"elementCount": 140, "elementSize": 1000}},
        {"function": "getBoundProfilePackage", "call": 4, "set": {"boundProfilePackage": "abc"}},
        {"function": "getBoundProfilePackage", "call": 5, "set": {"boundProfilePackage": 12}},
        {"function": "getBoundProfilePackage", "call": 6, "remove": ["boundProfilePackage"]}
    ])");
    ASSERT_TRUE(Initiate());
    ASSERT_TRUE(Authenticate());
    // A different or missing transactionId: 0x230C, the package still comes.
    EXPECT_TRUE(GetPackage());
    EXPECT_EQ(Error(), LPA_ERROR_INVALID_TRANSACTIONID);
    EXPECT_TRUE(HasLine("WAR", "Invalid transactionId from server"));
    EXPECT_GT(data_._boundProfilePackage.len, 0u);
    EXPECT_TRUE(GetPackage());
    EXPECT_EQ(Error(), LPA_ERROR_INVALID_TRANSACTIONID);
    EXPECT_TRUE(HasLine("WAR", "Failed to get transactionId from server"));

    // Over 0x20FFF decoded bytes: refused before any block of that size.
    RestartLog();
    lpaCoreLogSetLevel(LPA_LOG_LEVEL_VER);
    EXPECT_FALSE(GetPackage());
    lpaCoreLogSetLevel(LPA_LOG_LEVEL_DEB);
    EXPECT_EQ(Error(), LPA_NO_ERROR);
    int at = FindMessagePrefix("_boundProfilePackage size (");
    ASSERT_GE(at, 0);
    std::string message = LogMessages()[at];
    int size = std::stoi(message.substr(std::string("_boundProfilePackage size (").size()));
    EXPECT_GT(size, 0x20FFF);
    EXPECT_EQ(message, "_boundProfilePackage size (" + std::to_string(size) + ") is greater than maximum allowed :135167 !");
    EXPECT_EQ(FindMessagePrefix("[LPASDKMEM] _lpaCoreMemoryAlloc(" + std::to_string(size) + " bytes)"), -1);
    EXPECT_EQ(data_._boundProfilePackage.len, 0u);

    EXPECT_FALSE(GetPackage());
    EXPECT_TRUE(HasLine("ERR", "Failed to decode boundProfilePackage from base64 !"));
    EXPECT_FALSE(GetPackage());
    EXPECT_TRUE(HasLine("WAR", "boundProfilePackage cJSON object not String or Raw type"));
    EXPECT_FALSE(GetPackage());
    EXPECT_TRUE(HasLine("ERR", "Invalid boundProfilePackage from server !"));
    EXPECT_EQ(Error(), LPA_NO_ERROR);  // package failures record nothing here
}

// A server that sends more than 1 MiB: the transfer ends at the limit.
TEST_F(Es9Test, ResponseOverOneMebibyteEndsTheTransfer)
{
    Start(R"([{"status": 200, "body_repeat": ["0123456789abcdef", 131072]}])", "");
    const uint32_t liveBefore = lpaCoreMemoryTestCounters().liveBlocks;
    EXPECT_FALSE(Initiate());
    EXPECT_EQ(Error(), LPA_ERROR_SERVER_COMMUNICATION_ISSUE);
    EXPECT_GE(FindMessagePrefix("HTTP response too large: more than 1048576 bytes"), 0);
    EXPECT_EQ(lpaCoreMemoryTestCounters().liveBlocks, liveBefore);
}

// ---------------------------------------------------------------------------
// handleNotification and cancelSession

TEST_F(Es9Test, HandleNotificationOutcomes)
{
    const std::string success = R"({\"header\":{\"functionExecutionStatus\":{\"status\":\"Executed-Success\"}}})";
    const std::string failed =
        R"({\"header\":{\"functionExecutionStatus\":{\"status\":\"Failed\",\"statusCodeData\":{\"subjectCode\":\"8.1\",\"reasonCode\":\"6.1\"}}}})";
    Start(R"([
        {"function": "handleNotification", "call": 2, "status": 200, "body": ")" + success + R"("},
        {"function": "handleNotification", "call": 3, "status": 200, "body": ")" + failed + R"("},
        {"function": "handleNotification", "call": 4, "status": 404, "body": ""},
        {"function": "handleNotification", "call": 5, "status": 201, "body": "{}"},
        {"function": "handleNotification", "call": 6, "status": 200, "body": "{bad"}
    ])");
    ASSERT_TRUE(Initiate());
    hbrsim::Notification disable;
    disable.seq = 5;
    disable.event = hbrsim::NotificationEvent::Disable;
    disable.address = address_;
    std::string other = Base64(hbrsim::Isdr().pendingNotification(disable));
    EXPECT_TRUE(handleNotification(address_.c_str(), address_.size(), other.c_str(), &callbacks_));
    EXPECT_TRUE(HasLine("DEB", "Success to send notification to server and get the status code (No data expected)"));
    EXPECT_EQ(Error(), LPA_NO_ERROR);

    EXPECT_FALSE(handleNotification(address_.c_str(), address_.size(), other.c_str(), &callbacks_));
    EXPECT_EQ(Error(), LPA_ERROR_FAILED_SEND_NOTIFICATION_OR_NOT_GET_STATUS_CODE);
    EXPECT_TRUE(HasLine("WAR", "No error reported in JSON object..."));

    events_.clear();
    EXPECT_FALSE(handleNotification(address_.c_str(), address_.size(), other.c_str(), &callbacks_));
    EXPECT_EQ(Error(), LPA_ERROR_FAILED_SEND_NOTIFICATION_OR_NOT_GET_STATUS_CODE);
    ASSERT_EQ(events_.size(), 1u);
    EXPECT_EQ(events_[0].presentFields, 3);
    EXPECT_EQ(events_[0].reasonCode, "6.1");

    EXPECT_FALSE(handleNotification(address_.c_str(), address_.size(), other.c_str(), &callbacks_));
    EXPECT_EQ(Error(), LPA_ERROR_SERVER_RETURN_404_STATUS_CODE);
    EXPECT_TRUE(HasLine("WAR", "handleNotification() => Not 2xx HTTP Code "));
    EXPECT_FALSE(handleNotification(address_.c_str(), address_.size(), other.c_str(), &callbacks_));
    EXPECT_EQ(Error(), LPA_ERROR_SERVER_COMMUNICATION_ISSUE);
    EXPECT_TRUE(HasLine("WAR", "handleNotification() => Other 2xx HTTP Code not authorized for Handle Notification !"));
    EXPECT_FALSE(handleNotification(address_.c_str(), address_.size(), other.c_str(), &callbacks_));
    EXPECT_EQ(Error(), LPA_ERROR_FAILED_SEND_NOTIFICATION_OR_NOT_GET_STATUS_CODE);
    EXPECT_TRUE(HasLine("WAR", "json pack into cjson error..."));
}

TEST_F(Es9Test, CancelSessionOutcomes)
{
    const std::string failed =
        R"({\"header\":{\"functionExecutionStatus\":{\"status\":\"Failed\",\"statusCodeData\":{\"subjectCode\":\"8.1\"}}}})";
    Start(R"([
        {"function": "cancelSession", "call": 1, "status": 200, "body": ")" + failed + R"("},
        {"function": "cancelSession", "call": 2, "status": 200, "body": "<html>"},
        {"function": "cancelSession", "call": 3, "httpStatus": 204, "noBody": true},
        {"function": "cancelSession", "call": 4, "httpStatus": 201},
        {"function": "cancelSession", "call": 5, "status": 404, "body": ""},
        {"function": "cancelSession", "call": 6, "noBody": true}
    ])");
    ASSERT_TRUE(Initiate());
    const std::vector<std::pair<uint32_t, const char *>> rows = {
        {LPA_ERROR_FAILED_CANCEL_SESSION, "_lpaManagerES9SendCancelSession: Server reported an error."},
        {LPA_ERROR_INVALID_SERVER_RESPONSE, "_lpaManagerES9SendCancelSession: json pack into cjson error..."},
        {LPA_NO_ERROR, "_lpaManagerES9SendCancelSession: Confirmation JSON is missing, but server return operation "
                       "successfull ? (http 204)."},
        {LPA_ERROR_SERVER_COMMUNICATION_ISSUE,
         "_lpaManagerES9SendCancelSession: Other 2xx HTTP Code not authorized for Cancel Session !"},
        {LPA_ERROR_SERVER_RETURN_404_STATUS_CODE, "_lpaManagerES9SendCancelSession: Not 2xx HTTP Code "},
        {LPA_ERROR_SERVER_COMMUNICATION_ISSUE, "_lpaManagerES9SendCancelSession: Invalid HTTP exchange !"},
    };
    for (const auto &row : rows) {
        EXPECT_FALSE(Cancel()) << row.second;
        EXPECT_EQ(Error(), row.first) << row.second;
        EXPECT_TRUE(HasLine("", row.second)) << row.second;
    }
    // The 204 row ended the session on the server: a new one is cancelled.
    ASSERT_TRUE(Initiate());
    EXPECT_TRUE(Cancel());
    EXPECT_EQ(Error(), LPA_NO_ERROR);
    // A record that is not an ok answer, or a bad transactionId, sends nothing.
    TCancelSessionResponse response = CancelResponse();
    response.ok = 0;
    EXPECT_FALSE(_lpaManagerES9SendCancelSession(TransactionId().c_str(), &response, address_.c_str(), nullptr));
    EXPECT_TRUE(HasLine("ERR", "_lpaManagerES9SendCancelSession: Invalid cancelSessionResponse object."));
    response.ok = 1;
    EXPECT_FALSE(_lpaManagerES9SendCancelSession(std::string(40, 'A').c_str(), &response, address_.c_str(), nullptr));
    EXPECT_TRUE(HasLine("ERR", "_lpaManagerES9SendCancelSession: Invalid Parameters."));
    EXPECT_EQ(server_.RecordedCount(), 9);
}

// ---------------------------------------------------------------------------
// ES11

TEST_F(Es9Test, EventRetrievalCountsAndLimits)
{
    auto entries = [](int n, const std::string &id = "", const std::string &address = "") {
        std::string text = "[";
        for (int i = 0; i < n; ++i) {
            text += std::string(i ? "," : "") + "{\"eventId\": \"" + (id.empty() || i != 1 ? "EV" + std::to_string(i) : id) +
                    "\", \"rspServerAddress\": \"" +
                    (address.empty() || i != 0 ? "dp" + std::to_string(i) + ".example" : address) + "\"}";
        }
        return text + "]";
    };
    Start(R"({"eventEntries": )" + entries(2) + R"(, "entries": [
        {"function": "authenticateClient", "call": 2, "eventEntries": []},
        {"function": "authenticateClient", "call": 3, "eventEntries": )" + entries(17) + R"(},
        {"function": "authenticateClient", "call": 4, "remove": ["eventEntries"]},
        {"function": "authenticateClient", "call": 5, "eventEntries": )" +
              entries(3, std::string(255, 'i'), std::string(128, 'a')) + R"(},
        {"function": "authenticateClient", "call": 6, "drop": "header"}
    ]})",
          "smds");
    ASSERT_TRUE(Initiate());
    std::string response = AuthenticateServerResponse();
    auto retrieve = [&](SmdsEventList *list) {
        std::memset(list, 0, sizeof(*list));
        return lpaManagerEventRetrieval(TransactionId().c_str(), &callbacks_, address_.c_str(), response.c_str(), list);
    };
    SmdsEventList list;
    ASSERT_TRUE(retrieve(&list));
    EXPECT_EQ(RequestLine(2), "POST /gsma/rsp2/es9plus/authenticateClient HTTP/1.1");
    EXPECT_EQ(list.count, 2u);
    EXPECT_STREQ(list.records[1].eventId, "EV1");
    EXPECT_STREQ(list.records[1].rspServerAddress, "dp1.example");
    EXPECT_EQ(Error(), LPA_NO_ERROR);

    ASSERT_TRUE(retrieve(&list));
    EXPECT_EQ(list.count, 0u);
    EXPECT_EQ(Error(), LPA_NO_ERROR);

    ASSERT_TRUE(retrieve(&list));
    EXPECT_EQ(list.count, 16u);
    EXPECT_STREQ(list.records[15].eventId, "EV15");
    EXPECT_TRUE(HasLine("WAR", "eventEntries count (17) exceeds maximum allowed (16), extra entries ignored"));

    ASSERT_TRUE(retrieve(&list));
    EXPECT_EQ(list.count, 0u);
    EXPECT_EQ(Error(), LPA_ERROR_INVALID_EVENT_ENTRIES);
    EXPECT_TRUE(HasLine("WAR", "Not found eventEntries"));

    ASSERT_TRUE(retrieve(&list));
    EXPECT_EQ(list.count, 3u);
    EXPECT_EQ(Error(), LPA_ERROR_INVALID_RSP_SERVER_ADDRESS);  // element 0 fails first
    EXPECT_STREQ(list.records[0].eventId, "EV0");
    EXPECT_STREQ(list.records[0].rspServerAddress, "");
    EXPECT_STREQ(list.records[1].eventId, "");
    EXPECT_STREQ(list.records[1].rspServerAddress, "dp1.example");
    EXPECT_STREQ(list.records[2].eventId, "EV2");
    EXPECT_TRUE(HasLine("WAR", "Failed to get eventId"));

    ASSERT_TRUE(retrieve(&list));  // no header, eventEntries present
    EXPECT_EQ(list.count, 2u);
}

}  // namespace
