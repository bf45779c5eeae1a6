// A whole profile download strung by hand, against the local test SM-DP+
// over HTTPS and the simulated eUICC: challenge and EUICCInfo1,
// initiateAuthentication, AuthenticateServer, authenticateClient,
// PrepareDownload, getBoundProfilePackage, loading, and handleNotification
// of the PIR.
#include <gtest/gtest.h>

#include <curl/curl.h>

#include "curl_environment.h"
#include "download_test_util.h"
#include "httpmedia_curl.h"
#include "https_test_server.h"
#include "lpa_httpmedia.h"
#include "lpa_manager_config.h"

using namespace hbr_test;

namespace {

const bool curlRegistered = RegisterCurlEnvironment();

const char kScenario[] = R"({"profiles": [{"matchingId": "HBR-1", "iccid": "8944476500001234567",
    "profileName": "Hand Made", "metadataPiece": 24, "elements": [100, 300, 50]}]})";

class DownloadByHand : public DownloadFixture {
protected:
    void SetUp() override
    {
        DownloadFixture::SetUp();
        ASSERT_TRUE(HttpsTestServer::EnsurePki());
        ASSERT_TRUE(httpMediaManagerInitialize(New_HTTPMediaCurl, Delete_HTTPMediaCurl));
        ASSERT_TRUE(lpaManagerSetCertPath(HttpsTestServer::PkiFile("ca.crt").c_str()));
        HttpsServerOptions options;
        options.role = "smdp";
        options.script = kScenario;
        ASSERT_TRUE(server_.Start(dir_, options));
        address_ = "localhost:" + std::to_string(server_.port());
    }
    void TearDown() override
    {
        server_.Stop();
        httpMediaManagerDelete();
        DownloadFixture::TearDown();
    }

    // Steps 1 to 7; returns the load's result. Each earlier step must pass.
    bool Download(const std::string &matchingId)
    {
        hbr_test::FreeServerData(&data_);
        std::memset(&data_, 0, sizeof(data_));
        TRawDataPair challenge{}, info1{}, authenticateServer{}, prepareDownload{};
        bool loaded = false;
        [&] {
            // 1. The challenge and euiccInfo1.
            ASSERT_TRUE(lpaManagerES10b_GetEuiccChallenge(&challenge));
            ASSERT_TRUE(lpaManagerES10b_GetEuiccInfo1(&info1));
            // 2. initiateAuthentication.
            ASSERT_TRUE(lpaManagerES9Plus_InitiateAuthentication(
                &data_, nullptr, reinterpret_cast<const char *>(challenge.base64->data),
                reinterpret_cast<const char *>(info1.base64->data), address_.c_str()));
            // 3. AuthenticateServer.
            RawDataObject *ctx = CtxParams1(matchingId);
            bool authenticated = lpaManagerES10b_AuthenticateServer(&data_, ctx, &authenticateServer);
            rawDataObject_free(ctx);
            ASSERT_TRUE(authenticated);
            // 4. authenticateClient.
            std::string txid(reinterpret_cast<const char *>(data_._transactionId.val));
            ASSERT_TRUE(lpaManagerAuthenticateClient(&data_, nullptr, txid.c_str(), address_.c_str(),
                                                     reinterpret_cast<const char *>(authenticateServer.base64->data)));
            // 5. PrepareDownload (no confirmation code).
            ASSERT_TRUE(lpaManagerES10b_PrepareDownload(&data_, "", &prepareDownload));
            // 6. getBoundProfilePackage.
            ASSERT_TRUE(lpaManagerGetBoundProfilePackage(&data_, nullptr, txid.c_str(), address_.c_str(),
                                                         reinterpret_cast<const char *>(prepareDownload.base64->data)));
            ASSERT_EQ(lpaGetErrorCodeNoClear(), LPA_NO_ERROR);
            // 7. Loading.
            packageError_ = false;
            loaded = lpaManagerES10b_LoadBoundProfilePackage(&data_, &pir_, &packageError_);
        }();
        for (TRawDataPair *pair : {&challenge, &info1, &authenticateServer, &prepareDownload}) {
            lpaManagerFreeRawDataPair(pair);
        }
        return loaded;
    }
    // 8. handleNotification of the PIR.
    bool SendPir()
    {
        return pir_.base64 != nullptr &&
               handleNotification(address_.data(), address_.size(),
                                  reinterpret_cast<const char *>(pir_.base64->data), nullptr);
    }
    std::vector<std::string> ServerPirs() const
    {
        std::vector<std::string> lines;
        std::string all = server_.RecordedNotifications();
        for (size_t start = 0, end; (end = all.find('\n', start)) != std::string::npos; start = end + 1) {
            lines.push_back(all.substr(start, end - start));
        }
        return lines;
    }

    HttpsTestServer server_;
    std::string address_;
};

TEST_F(DownloadByHand, InstallsTheProfileAndReportsThePir)
{
    ASSERT_TRUE(Download("HBR-1"));
    EXPECT_EQ(TakeError(), LPA_NO_ERROR);
    ASSERT_TRUE(pir_.received);
    // The simulated eUICC holds the new profile, disabled.
    ASSERT_EQ(sim().state().profiles.size(), 1u);
    const hbrsim::Profile &profile = sim().state().profiles[0];
    EXPECT_EQ(profile.state, 0);
    EXPECT_EQ(hbrsim::iccidToDigits(profile.iccid), "8944476500001234567F");
    EXPECT_EQ(profile.profileName, "Hand Made");
    EXPECT_EQ(profile.profileClass, hbrsim::ClassOperational);
    // Its install notification carries the PIR's sequence number and the server's address.
    uint16_t seq = 0;
    ASSERT_TRUE(extractSeqNumbFromPIR(&pir_, &seq));
    ASSERT_EQ(sim().state().notifications.size(), 1u);
    const hbrsim::Notification &notification = sim().state().notifications[0];
    EXPECT_EQ(notification.seq, seq);
    EXPECT_EQ(notification.event, hbrsim::NotificationEvent::Install);
    EXPECT_EQ(notification.address.value_or(""), address_);
    EXPECT_EQ(notification.pending, Bytes(pir_.raw->data, pir_.raw->data + pir_.raw->length));
    // The PIR names the SM-DP+ certificate's registeredID (2.999.10.1).
    Bytes oid = FindTlv(FindTlv(FindTlv(notification.pending, 0xBF37), 0xBF27), 0x06);
    EXPECT_EQ(BytesToHex(oid), "88370A01");
    // 8. The server receives the success PIR.
    ASSERT_TRUE(SendPir());
    std::vector<std::string> pirs = ServerPirs();
    ASSERT_EQ(pirs.size(), 1u);
    EXPECT_NE(pirs[0].find("\"result\": \"success\""), std::string::npos) << pirs[0];
    EXPECT_NE(pirs[0].find("\"seq\": " + std::to_string(seq)), std::string::npos) << pirs[0];
    EXPECT_EQ(TakeError(), LPA_NO_ERROR);
}

TEST_F(DownloadByHand, SecondDownloadOfTheSameIccidFailsOnTheLast88)
{
    ASSERT_TRUE(Download(""));  // the default profile
    ASSERT_TRUE(SendPir());
    size_t es10Before = sim().records().es10.size();
    EXPECT_FALSE(Download("HBR-1"));
    EXPECT_FALSE(packageError_);
    EXPECT_TRUE(logHas("ERR", "Failed to send Store Metadata"));
    EXPECT_EQ(TakeError(), LPA_ERROR_FAILED_STORE_META_DATA);
    // The error PIR answered the last 88: no A3 went out.
    const auto &records = sim().records().es10;
    ASSERT_GT(records.size(), es10Before);
    EXPECT_EQ(records.back().request[0], 0x88);
    for (size_t i = es10Before; i < records.size(); ++i) {
        EXPECT_NE(records[i].request[0], 0xA3);
    }
    ASSERT_TRUE(pir_.received);
    Bytes final = FindTlv(FindTlv(FindTlv(Bytes(pir_.raw->data, pir_.raw->data + pir_.raw->length), 0xBF37), 0xBF27), 0xA2);
    EXPECT_EQ(final, Tlv(0xA1, Cat({Tlv(0x80, Bytes{2}), Tlv(0x81, Bytes{9})})));
    EXPECT_EQ(sim().state().profiles.size(), 1u);
    EXPECT_EQ(sim().state().notifications.size(), 2u);
    ASSERT_TRUE(SendPir());
    std::vector<std::string> pirs = ServerPirs();
    ASSERT_EQ(pirs.size(), 2u);
    EXPECT_NE(pirs[1].find("\"errorReason\": 9"), std::string::npos) << pirs[1];
    EXPECT_NE(pirs[1].find("\"bppCommandId\": 2"), std::string::npos) << pirs[1];
}

TEST_F(DownloadByHand, ProfileLimitFailsOnTheLast86)
{
    download().knobs.maxProfiles = 0;
    EXPECT_FALSE(Download("HBR-1"));
    EXPECT_EQ(TakeError(), LPA_ERROR_FAILED_LOAD_PROFILE_ELEMENTS);
    EXPECT_TRUE(logHas("ERR", "Failed to load profile elements "));
    const Bytes &last = sim().records().es10.back().request;  // the server's third element (50 bytes)
    ASSERT_EQ(last.size(), 52u);
    EXPECT_EQ(last[0], 0x86);
    EXPECT_TRUE(sim().state().profiles.empty());
    ASSERT_TRUE(SendPir());
    EXPECT_NE(server_.RecordedNotifications().find("\"errorReason\": 10"), std::string::npos);
}

}  // namespace
