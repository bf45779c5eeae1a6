// Pending notifications and the eUICC's configured addresses end to end.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "flows_test_util.h"

namespace hbr_test {
namespace {

using hbrsim::FaultRule;
using hbrsim::NotificationEvent;

class NotificationTest : public DownloadFixture {
protected:
    void Seed(uint32_t seq, const std::string &address)
    {
        hbrsim::Notification n;
        n.seq = seq;
        n.event = NotificationEvent::Disable;
        n.address = address;
        Sim().state().notifications.push_back(n);
    }
    std::vector<uint32_t> Remaining() const
    {
        std::vector<uint32_t> out;
        for (const auto &n : Sim().state().notifications) out.push_back(n.seq);
        return out;
    }
    std::vector<std::string> Requests(uint32_t tag) const
    {
        std::vector<std::string> out;
        for (const Bytes &r : Es10Requests(tag)) out.push_back(BytesToHex(r));
        return out;
    }
};

TEST_F(NotificationTest, SortedFetchedDeliveredAndRemovedAtTheirOwnAddresses)
{
    StartSmdp();
    StartSmds("{}");
    std::string second = "localhost:" + std::to_string(smds_.port());
    Seed(7, address_);
    Seed(3, second);
    Seed(5, address_);
    LpaDownloadCallbacks callbacks = AllCallbacks(&log_);
    uint32_t before = LiveBlocks();
    EXPECT_TRUE(lpaSendPendingNotification(&callbacks, &result_));
    EXPECT_EQ(LiveBlocks(), before);
    EXPECT_EQ(result_.first, 3u);
    EXPECT_EQ(result_.second, 3u);
    EXPECT_EQ(lpaGetErrorCode(), 0u);
    EXPECT_EQ(Requests(0xBF2B), (std::vector<std::string>{"BF2B05A003800103", "BF2B05A003800105", "BF2B05A003800107"}));
    EXPECT_EQ(Requests(0xBF30), (std::vector<std::string>{"BF3003800103", "BF3003800105", "BF3003800107"}));
    EXPECT_TRUE(Remaining().empty());
    std::vector<Phase> processing;
    for (const Phase &p : log_.phases) {
        if (p.text.rfind("Processing", 0) == 0) processing.push_back(p);
    }
    EXPECT_EQ(processing, (std::vector<Phase>{{0, "Processing notification #1 <3>"},
                                              {0, "Processing notification #2 <5>"},
                                              {0, "Processing notification #3 <7>"}}));
    EXPECT_EQ(log_.phases.front(), (Phase{0, "Read pending notifications..."}));
    EXPECT_TRUE(HasPhase(log_, 0, "<3> pending notification(s) detected"));
    // Each went to its own server.
    EXPECT_NE(smds_.RecordedNotifications().find("\"seq\": 3"), std::string::npos);
    EXPECT_NE(smdp_.RecordedNotifications().find("\"seq\": 5"), std::string::npos);
    EXPECT_NE(smdp_.RecordedNotifications().find("\"seq\": 7"), std::string::npos);
}

TEST_F(NotificationTest, AFailedDeliveryStaysAndTheOthersGoOn)
{
    StartSmdp(R"({"entries": [{"function": "handleNotification", "call": 2, "status": 404}]})");
    Seed(7, address_);
    Seed(3, address_);
    Seed(5, address_);
    EXPECT_TRUE(lpaSendPendingNotification(nullptr, &result_));
    EXPECT_EQ(result_.first, 3u);
    EXPECT_EQ(result_.second, 2u);
    EXPECT_EQ(lpaGetErrorCode(), 0x2323u);
    EXPECT_EQ(Remaining(), std::vector<uint32_t>{5});
    EXPECT_EQ(Requests(0xBF2B).size(), 3u);  // no second fetch for 5
    EXPECT_TRUE(LogHas("WAR", "Failed to send notification <5>"));
}

TEST_F(NotificationTest, SequenceNumbersGoOutAsDerIntegersAndAreAllRemoved)
{
    StartSmdp();
    for (uint32_t seq : {40000u, 300u, 255u, 200u, 128u}) Seed(seq, address_);
    EXPECT_TRUE(lpaSendPendingNotification(nullptr, &result_));
    EXPECT_EQ(result_.first, 5u);
    EXPECT_EQ(result_.second, 5u);
    EXPECT_EQ(lpaGetErrorCode(), 0u);
    EXPECT_EQ(Requests(0xBF2B), (std::vector<std::string>{"BF2B06A00480020080", "BF2B06A004800200C8", "BF2B06A004800200FF",
                                                           "BF2B06A0048002012C", "BF2B07A0058003009C40"}));
    EXPECT_EQ(Requests(0xBF30), (std::vector<std::string>{"BF300480020080", "BF3004800200C8", "BF3004800200FF",
                                                           "BF30048002012C", "BF30058003009C40"}));
    EXPECT_TRUE(Remaining().empty());
    for (const char *seq : {"128", "200", "255", "300", "40000"}) {
        EXPECT_NE(smdp_.RecordedNotifications().find(std::string("\"seq\": ") + seq + "}"), std::string::npos) << seq;
    }
}

TEST_F(NotificationTest, MoreThanSixteenGoOutOverTwoRuns)
{
    StartSmdp();
    for (uint32_t seq = 1; seq <= 20; ++seq) Seed(seq, address_);
    EXPECT_TRUE(lpaSendPendingNotification(nullptr, &result_));
    EXPECT_EQ(result_.first, 16u);
    EXPECT_EQ(result_.second, 16u);
    EXPECT_EQ(Remaining(), (std::vector<uint32_t>{17, 18, 19, 20}));
    EXPECT_TRUE(lpaSendPendingNotification(nullptr, &result_));
    EXPECT_EQ(result_.first, 4u);
    EXPECT_EQ(result_.second, 4u);
    EXPECT_TRUE(Remaining().empty());
}

TEST_F(NotificationTest, ListingFaults)
{
    StartSmdp();
    // A seq that does not fit 16 bits is skipped; the others go out.
    Seed(4, address_);
    hbrsim::Notification wide;
    wide.seq = 0x010005;
    wide.seqBytes = hbrsim::hexBytes("010005");
    wide.event = NotificationEvent::Disable;
    wide.address = address_;
    Sim().state().notifications.push_back(wide);
    MarkLog();
    EXPECT_TRUE(lpaSendPendingNotification(nullptr, &result_));
    EXPECT_EQ(result_.first, 1u);
    EXPECT_EQ(result_.second, 1u);
    EXPECT_EQ(lpaGetErrorCode(), 0u);
    EXPECT_EQ(Remaining(), std::vector<uint32_t>{0x010005});
    // A missing 0C fails the listing.
    Sim().state().notifications.clear();
    hbrsim::Notification bare;
    bare.seq = 9;
    bare.event = NotificationEvent::Disable;
    Sim().state().notifications.push_back(bare);
    EXPECT_FALSE(lpaSendPendingNotification(nullptr, &result_));
    EXPECT_EQ(lpaGetErrorCode(), 0x2205u);
    EXPECT_EQ(result_.first, 0u);
}

TEST_F(NotificationTest, AFetchRecoversAfterABrokenChain)
{
    StartSmdp();
    Seed(6, address_);
    Sim().faults().add(FaultRule::apdu(0xE2).pieces(32).always());
    Sim().faults().add(FaultRule::apdu(0xC0).inChainOfTag(0xBF2B).statusWord(0x6D00).once());
    MarkLog();
    EXPECT_TRUE(lpaSendPendingNotification(nullptr, &result_));
    EXPECT_EQ(result_.second, 1u);
    EXPECT_EQ(lpaGetErrorCode(), 0u);
    EXPECT_EQ(Requests(0xBF2B).size(), 2u);
    EXPECT_EQ(CountEntries(LogSinceMark(),
                           LogEntry{"WAR", "lpaManagerSendPendingNotification: GetResponse chaining issue detected, try "
                                           "another time, nbExecGetResp = 2"}),
              1u);
}

TEST_F(NotificationTest, ConfiguredAddresses)
{
    LpaServerAddress address;
    // No default SM-DP+ address.
    Sim().state().defaultDpAddress.reset();
    std::memset(&address, 0, sizeof(address));
    EXPECT_TRUE(lpaGetSMDPAddress(&address));
    EXPECT_EQ(address.addressLength, 0u);
    // 127 bytes are read, 128 are too many.
    Sim().state().defaultDpAddress = std::string(127, 'd');
    EXPECT_TRUE(lpaGetSMDPAddress(&address));
    EXPECT_EQ(std::string(address.address, address.addressLength), std::string(127, 'd'));
    Sim().state().defaultDpAddress = std::string(128, 'd');
    EXPECT_FALSE(lpaGetSMDPAddress(&address));
    EXPECT_EQ(lpaGetErrorCode(), 0x2002u);
    // The root SM-DS address: 128 read, 129 too many, absent refused.
    Sim().state().defaultDpAddress.reset();
    Sim().state().rootDsAddress = std::string(128, 's');
    std::memset(&address, 0, sizeof(address));
    EXPECT_TRUE(lpaGetSMDSAddress(&address));
    EXPECT_EQ(address.addressLength, 128u);
    Sim().state().rootDsAddress = std::string(129, 's');
    EXPECT_FALSE(lpaGetSMDSAddress(&address));
    EXPECT_EQ(lpaGetErrorCode(), 0x2002u);
    Sim().state().rootDsAddress.reset();
    EXPECT_FALSE(lpaGetSMDSAddress(&address));
    EXPECT_EQ(lpaGetErrorCode(), 0x2012u);
    // Setting: 127 characters read back, 128 refused before any exchange, empty sent as 80 00.
    EXPECT_TRUE(lpaSetDefaultSMDPAddress(std::string(127, 'x').c_str()));
    std::memset(&address, 0, sizeof(address));
    EXPECT_TRUE(lpaGetSMDPAddress(&address));
    EXPECT_EQ(std::string(address.address, address.addressLength), std::string(127, 'x'));
    size_t requests = Es10Requests(0xBF3F).size();
    EXPECT_FALSE(lpaSetDefaultSMDPAddress(std::string(128, 'x').c_str()));
    EXPECT_EQ(lpaGetErrorCode(), 0x2001u);
    EXPECT_EQ(Es10Requests(0xBF3F).size(), requests);
    EXPECT_TRUE(lpaSetDefaultSMDPAddress(""));
    EXPECT_EQ(BytesToHex(Es10Requests(0xBF3F).back()), "BF3F028000");
    Sim().faults().add(FaultRule::es10(0xBF3F).es10Answer(hbrsim::hexBytes("BF3F03800101")));
    EXPECT_FALSE(lpaSetDefaultSMDPAddress("smdp.example"));
    EXPECT_EQ(lpaGetErrorCode(), 0x2010u);
}

TEST_F(NotificationTest, AnAddressThatIsNotAHostAndPortIsNotContacted)
{
    StartSmdp();
    Seed(4, address_ + "/evil?x=1");
    Seed(6, "user@" + address_);
    Seed(8, address_);
    EXPECT_TRUE(lpaSendPendingNotification(nullptr, &result_));
    EXPECT_EQ(result_.first, 3u);
    EXPECT_EQ(result_.second, 1u);
    EXPECT_EQ(lpaGetErrorCode(), 0x2304u);
    EXPECT_EQ(Remaining(), (std::vector<uint32_t>{4, 6}));
    EXPECT_EQ(smdp_.RecordedCount(), 1);
    EXPECT_TRUE(LogHas("WAR", "Server address refused: not a host name with an optional port"));
}

}  // namespace
}  // namespace hbr_test
