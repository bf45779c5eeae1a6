// The cloud reply parsers, the canned test replies, the APN split and the
// APN matchers, without servers.
#include "cloud_fixture.h"

#include <bootstrap.h>
#include <signed_requests.h>

#include <cstdlib>

namespace {

using CloudParserTest = CloudTest;

const char kFullBootstrap[] =
    "{\"code\":0,\"data\":{\"company\":\"Acme\",\"service\":{\"url\":\"https://s/v2/op\",\"pecUrl\":\"https://s/v2/st\","
    "\"token\":\"tok-0123456789\"},\"apns\":[{\"apn\":\"internet,ipv4v6,chap,u,p,3\",\"iccid\":[\"8986\",\"8944\"]},"
    "{\"apn\":\"ims,ipv4,pap,,,1\",\"iccid\":[\"8901\"]}]}}";

TEST_F(CloudParserTest, BootstrapReplyFillsTheContext)
{
    const std::string reply = kFullBootstrap;
    EXPECT_EQ(reply.size(), Feed(HBRAgentBootstrapQueryResp, reply));
    EXPECT_EQ(1, ctx_.done);
    EXPECT_EQ("https://s/v2/op", ctx_.serviceUrl);
    EXPECT_EQ("https://s/v2/st", ctx_.pecUrl);
    EXPECT_EQ("tok-0123456789", ctx_.token);
    EXPECT_EQ("internet", ctx_.apns[0].apn);
    EXPECT_EQ("ipv4v6", ctx_.apns[0].ip_type);
    EXPECT_EQ("chap", ctx_.apns[0].verification_method);
    EXPECT_EQ("u", ctx_.apns[0].username);
    EXPECT_EQ("p", ctx_.apns[0].password);
    EXPECT_EQ("3", ctx_.apns[0].apn_type);
    EXPECT_EQ("8944", ctx_.apns[0].iccid[1]);
    EXPECT_EQ("1", ctx_.apns[1].apn_type);
    EXPECT_EQ("", ctx_.apns[1].username);
    EXPECT_TRUE(Logged("[HBRAgentBootstrapQueryResp]:company is Acme"));

    // Keys in another case are found alike.
    IotServiceFlowContext fresh;
    ctx_ = fresh;
    Feed(HBRAgentBootstrapQueryResp, "{\"CODE\":0,\"Data\":{\"SERVICE\":{\"URL\":\"x\",\"Token\":\"t\"}}}");
    EXPECT_EQ(1, ctx_.done);
    EXPECT_EQ("x", ctx_.serviceUrl);
    EXPECT_EQ("t", ctx_.token);
}

TEST_F(CloudParserTest, BootstrapServiceAndApnsEdges)
{
    Feed(HBRAgentBootstrapQueryResp, "{\"code\":0,\"data\":{\"service\":{}}}");
    EXPECT_EQ(1, ctx_.done);
    EXPECT_EQ("", ctx_.serviceUrl);
    EXPECT_TRUE(Logged("Bootstrap parse apns failed"));

    // No "service": not accepted, but the APNs are kept.
    Feed(HBRAgentBootstrapQueryResp, "{\"code\":0,\"data\":{\"apns\":[{\"apn\":\"a,b,c,d,e,2\"}]}}");
    EXPECT_EQ(0, ctx_.done);
    EXPECT_EQ("2", ctx_.apns[0].apn_type);
    EXPECT_TRUE(Logged("[HBRAgentBootstrapQueryResp]:service is not exist"));

    // Six entries and seven ICCIDs: four and five are kept; a non-string
    // ICCID keeps its slot.
    std::string apns = "[";
    for (int i = 0; i < 6; ++i) {
        apns += std::string(i ? "," : "") + "{\"apn\":\"e" + std::to_string(i) +
                ",,,,,1\",\"iccid\":[\"1\",7,\"3\",\"4\",\"5\",\"6\",\"7\"]}";
    }
    apns += "]";
    IotServiceFlowContext fresh;
    ctx_ = fresh;
    Feed(HBRAgentBootstrapQueryResp, "{\"code\":0,\"data\":{\"service\":{},\"apns\":" + apns + "}}");
    EXPECT_EQ("e3", ctx_.apns[3].apn);
    EXPECT_EQ("", ctx_.apns[0].iccid[1]);
    EXPECT_EQ("3", ctx_.apns[0].iccid[2]);
    EXPECT_EQ("5", ctx_.apns[3].iccid[4]);
    EXPECT_FALSE(Logged("APN: e4"));
    EXPECT_FALSE(Logged("iccid[5]"));

    // A non-string "apn" leaves the text empty.
    ctx_ = fresh;
    Feed(HBRAgentBootstrapQueryResp, "{\"code\":0,\"data\":{\"service\":{},\"apns\":[{\"apn\":5}]}}");
    EXPECT_EQ("", ctx_.apns[0].apn_text);
}

TEST_F(CloudParserTest, BootstrapCodes)
{
    ctx_.errorCode = 801;
    Feed(HBRAgentBootstrapQueryResp, "{\"code\":\"0\"}");
    EXPECT_TRUE(Logged("[HBRAgentBootstrapQueryResp]: fatal error, CJSON code ITEM is NULL!"));
    Feed(HBRAgentBootstrapQueryResp, "{\"code\":7}");
    EXPECT_EQ(801, ctx_.errorCode);
    EXPECT_TRUE(Logged("[HBRAgentBootstrapQueryResp]:code value error(7)"));
    // A preset error survives a good reply.
    Feed(HBRAgentBootstrapQueryResp, "{\"code\":0,\"data\":{\"service\":{}}}");
    EXPECT_EQ(801, ctx_.errorCode);
    EXPECT_EQ(1, ctx_.done);
    // A bad reply clears done.
    Feed(HBRAgentBootstrapQueryResp, "{\"code\":0,");
    EXPECT_EQ(0, ctx_.done);
    EXPECT_TRUE(Logged("[HBRAgentBootstrapQueryResp]:parse the msg from server failed"));
    Feed(HBRAgentBootstrapQueryResp, "{\"code\":1.9}");
    EXPECT_EQ(1, ctx_.errorCode);
    EXPECT_TRUE(Logged("[ProfileOperCodeQueryResp]:code value error, ZFW_PCIOT_HBR_ILLEGAL_ACTIVATION_ERROR:1"));
}

TEST_F(CloudParserTest, ApnTextSplit)
{
    IotServiceFlowRecord apns[4];
    apns[0].apn_text = "internet,ipv4v6,chap,u,p,3";
    apns[1].apn_text = "only,ipv4,rest";
    apns[2].apn = "keep";
    apns[2].apn_text = "nocomma";
    for (int i = 0; i < 3; ++i) {
        zfw_pciot_bootstrap_prase_apns_info(apns, i);
    }
    EXPECT_EQ("3", apns[0].apn_type);
    EXPECT_EQ("p", apns[0].password);
    EXPECT_EQ("only", apns[1].apn);
    EXPECT_EQ("ipv4", apns[1].ip_type);
    EXPECT_EQ("", apns[1].verification_method);
    EXPECT_EQ("rest", apns[1].apn_type);
    EXPECT_EQ("keep", apns[2].apn);
    EXPECT_EQ("nocomma", apns[2].apn_type);
}

TEST_F(CloudParserTest, ApnMatching)
{
    IotServiceFlowRecord apns[4];
    apns[0] = IotServiceFlowRecord();
    apns[0].apn_type = "2"; // wrong kind for attached, tried first
    apns[0].apn = "wrongkind";
    apns[0].iccid[0] = "8986";
    apns[1].apn_type = "3";
    apns[1].apn = "both";
    apns[1].ip_type = "ipv4v6";
    apns[1].verification_method = "chap";
    apns[1].username = "u";
    apns[1].password = "p";
    apns[1].iccid[3] = "8986";
    apns[2].apn_type = "13";
    apns[2].iccid[0] = "8";
    ApnInfo info;
    ASSERT_EQ(1, MatchAttachedApnInfo(apns, "89860012345678901234", &info));
    EXPECT_STREQ("both", info.apn_name);
    EXPECT_EQ(3, info.pdp_type);
    EXPECT_EQ(2, info.auth_type);
    EXPECT_STREQ("p", info.password);
    EXPECT_EQ("IPV4V6", apns[1].ip_type);
    EXPECT_EQ("CHAP", apns[1].verification_method);
    ASSERT_EQ(1, MatchInternetApnInfo(apns, "89860012345678901234", &info));
    EXPECT_STREQ("wrongkind", info.apn_name);
    EXPECT_EQ(0, info.pdp_type);

    // A slot longer than the ICCID never matches; "13" serves neither kind.
    EXPECT_EQ(0, MatchAttachedApnInfo(apns, "898", &info));
    EXPECT_EQ(0, MatchInternetApnInfo(apns, "7", &info));
    EXPECT_TRUE(Logged("[bootstrap]: There is no apn info match!"));
    EXPECT_EQ(0, MatchAttachedApnInfo(apns, nullptr, &info));
    EXPECT_TRUE(Logged("[bootstrap]: iccid is NULL!"));
}

TEST_F(CloudParserTest, ApnTextsThatDoNotFitAreRefused)
{
    IotServiceFlowRecord apns[4];
    apns[0].apn_type = "1";
    apns[0].iccid[0] = "89";
    apns[0].apn = std::string(101, 'a');
    apns[0].username = std::string(64, 'u');
    apns[0].password = std::string(64, 'p');
    ApnInfo info;
    ASSERT_EQ(1, MatchAttachedApnInfo(apns, "8986", &info));
    EXPECT_EQ(std::string(101, 'a'), info.apn_name);
    EXPECT_EQ(std::string(64, 'p'), info.password);

    for (int field = 0; field < 3; ++field) {
        IotServiceFlowRecord longer[4];
        longer[0] = apns[0];
        std::string *target[] = {&longer[0].apn, &longer[0].username, &longer[0].password};
        *target[field] += "x";
        memset(&info, 0x5a, sizeof info);
        EXPECT_EQ(0, MatchAttachedApnInfo(longer, "8986", &info));
        EXPECT_EQ(ApnInfo{}.pdp_type, info.pdp_type);
        EXPECT_EQ('\0', info.apn_name[0]);
    }
    EXPECT_TRUE(Logged("[bootstrap]: apns[0].apn is too long (102 characters)"));
    EXPECT_TRUE(Logged("[bootstrap]: apns[0].username is too long (65 characters)"));
    EXPECT_TRUE(Logged("[bootstrap]: apns[0].password is too long (65 characters)"));
}

TEST_F(CloudParserTest, OperCodeReply)
{
    Feed(ProfileOperCodeQueryResp, "{\"code\":0,\"message\":\"ok\",\"data\":{\"status\":1,\"operation\":\"1\","
                                   "\"token\":\"LPA:1$smdp$X\",\"simMode\":1}}");
    EXPECT_EQ(1, ctx_.done);
    EXPECT_EQ(-1, ctx_.operation); // a string is not an operation
    EXPECT_EQ(1, ctx_.simMode);
    EXPECT_EQ("LPA:1$smdp$X", ctx_.activeCode);
    EXPECT_TRUE(Logged("[ProfileOperCodeQueryResp]:data.operation not exist"));
    Feed(ProfileOperCodeQueryResp, "{\"code\":0,\"data\":{\"operation\":2}}");
    EXPECT_EQ(2, ctx_.operation);

    IotServiceFlowContext fresh;
    ctx_ = fresh;
    Feed(ProfileOperCodeQueryResp, "{\"code\":0,\"data\":{}}");
    EXPECT_EQ(1, ctx_.done);
    EXPECT_EQ(-1, ctx_.operation);
    EXPECT_EQ(-1, ctx_.simMode);
    EXPECT_EQ("", ctx_.activeCode);
    Feed(ProfileOperCodeQueryResp, "{\"code\":0}");
    EXPECT_EQ(0, ctx_.done);

    for (int code : {-1, 1, 801, 1006, 14451, 14459}) {
        Feed(ProfileOperCodeQueryResp, "{\"code\":" + std::to_string(code) + "}");
        EXPECT_EQ(code, ctx_.errorCode);
    }
    Feed(ProfileOperCodeQueryResp, "{\"code\":5}");
    EXPECT_EQ(14459, ctx_.errorCode);
    EXPECT_TRUE(Logged("[ProfileOperCodeQueryResp]:code value error"));
}

TEST_F(CloudParserTest, StatusReply)
{
    Feed(SyncDeviceProfileStatusResp, "{\"code\":0}");
    EXPECT_EQ(1, ctx_.done);
    EXPECT_TRUE(Logged("[HBRAgentBootstrapQueryResp]:message is not exist"));
    Feed(SyncDeviceProfileStatusResp, "{\"code\":0,\"message\":\"fine\"}");
    EXPECT_TRUE(Logged("[HBRAgentBootstrapQueryResp]:message is fine"));
    Feed(SyncDeviceProfileStatusResp, "{\"code\":3}");
    EXPECT_EQ(0, ctx_.done);
    EXPECT_EQ(1, ctx_.errorCode);
    // The test code plays no part here.
    work_->m_testRetryErrorCode = 801;
    Feed(SyncDeviceProfileStatusResp, "{\"code\":0}");
    EXPECT_EQ(1, ctx_.done);
}

TEST_F(CloudParserTest, CannedRepliesOfTheTestCode)
{
    const struct {
        int code;
        const char *body;
    } rows[] = {
        {-1, "{\n    \"code\" : -1,\n    \"msg\" : \"unknown error: Query {\\\"$java\\\" : Query: {\\\"iccid\\\" : "
             "\\\"\\\"}, Fields: {}, Sort:{} } returned non unique result.\"\n}"},
        {1, "{\"code\":1}"},
        {801, "{\n    \"code\" : 801,\n    \"msg\" : \"{eid} is empty\"\n}"},
        {1006, "unknown certificate"},
        {14451, "{\n    \"code\" : 14451,\n    \"msg\" : \"eid = {}, AllocationEsim failed\"\n}"},
        {14459, "{\n    \"code\" : 14459,\n    \"msg\" : \"Times of download reached the limit\"\n}"},
    };
    for (const auto &row : rows) {
        work_->m_testRetryErrorCode = row.code;
        int flag = 0;
        char *body = ConfigErrorMsg(&flag);
        ASSERT_NE(nullptr, body) << row.code;
        EXPECT_STREQ(row.body, body);
        EXPECT_EQ(row.code == 1 ? 1 : 0, flag);
        free(body);
    }
    for (int code : {0, 1002, 1008}) {
        work_->m_testRetryErrorCode = code;
        int flag = 0;
        EXPECT_EQ(nullptr, ConfigErrorMsg(&flag));
        EXPECT_EQ(0, flag);
    }
    // The operation-code parser reads the canned body instead of the reply.
    work_->m_testRetryErrorCode = 1006;
    Feed(ProfileOperCodeQueryResp, "{\"code\":0,\"data\":{}}");
    EXPECT_EQ(0, ctx_.done);
    EXPECT_EQ(0, ctx_.errorCode);
}

} // namespace
