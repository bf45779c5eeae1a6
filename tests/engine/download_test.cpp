// Profile downloads end to end: export, frame, flows, ES10b over AT+CSIM to
// the simulated eUICC, ES9+ as JSON over HTTPS to the local test SM-DP+.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "download_test_util.h"
#include "lpa_download.h"

namespace hbr_test {
namespace {

::testing::Environment *const curlEnvironment = ::testing::AddGlobalTestEnvironment(new CurlEnvironment);

const char kIccidDigits[] = "8944476500001234567F";

const std::vector<Phase> kHappyPhases = {
    {0, "Activation code decoded"},
    {1, "Initiate authentication done"},
    {1, "SM-DP+ address checking done"},
    {2, "Authenticate server done"},
    {3, "Authenticate client done"},
    {3, "PPR conditions check done"},
    {5, "Get Bound Profile Package done"},
    {6, "Load Bound Profile Package done - Profile download successful"},
    {7, "Send PIR notification to server done"},
    {8, "Clear PIR notification done"},
};

using DownloadTest = DownloadFixture;

TEST_F(DownloadTest, ActivationCodeInstallsDeliversAndRemovesThePir)
{
    StartSmdp();
    LpaDownloadCallbacks callbacks = AllCallbacks(&log_);
    uint32_t before = LiveBlocks();
    EXPECT_TRUE(lpaDownloadProfile(Code().c_str(), &callbacks, &result_));
    EXPECT_EQ(LiveBlocks(), before);
    EXPECT_EQ(lpaGetErrorCode(), 0u) << LogText();
    EXPECT_EQ(result_.first, 1u);
    EXPECT_EQ(result_.second, 1u);
    EXPECT_EQ(log_.phases, kHappyPhases);
    EXPECT_EQ(Functions(), (std::vector<std::string>{"initiateAuthentication", "authenticateClient",
                                                     "getBoundProfilePackage", "handleNotification"}));
    // Installed from the metadata, disabled.
    const hbrsim::Profile *profile = Installed(kIccidDigits);
    ASSERT_NE(profile, nullptr);
    EXPECT_EQ(profile->profileName, "Test Profile 1");
    EXPECT_EQ(profile->serviceProviderName, "Hollowbright Test");
    EXPECT_EQ(profile->state, 0);
    // The PIR reached the server with success and left the eUICC.
    EXPECT_NE(smdp_.RecordedNotifications().find("\"result\": \"success\""), std::string::npos)
        << smdp_.RecordedNotifications();
    EXPECT_TRUE(Sim().state().notifications.empty());
    std::vector<Bytes> removals = Es10Requests(0xBF30);
    ASSERT_EQ(removals.size(), 1u);
    EXPECT_TRUE(CancelReasons().empty());
    // The profile list shows it.
    std::vector<LpaProfileInfo> records(4);
    LpaProfileInfoList list{0, 0, records.size(), records.data()};
    ASSERT_TRUE(lpaGetProfilesInfo(&list));
    ASSERT_EQ(list.countProfileInfo, 1u);
    EXPECT_EQ(std::string(records[0].profileName, records[0].profileNameLength), "Test Profile 1");
}

}  // namespace
}  // namespace hbr_test
