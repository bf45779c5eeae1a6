#include "sim_seam.h"
#include "sim_test_util.h"

#include <gtest/gtest.h>

#include "lpa_at_transport.h"

#include <cstring>

using namespace hbrsim;

namespace {
const std::string kOpen = "AT+CSIM=10,\"0070000001\"\r";
const std::string kSelect = "AT+CSIM=44,\"01A4040010A0000005591010FFFFFFFF890000010000\"\r";
const std::string kGetEid = "AT+CSIM=24,\"81E2910006BF3E035C015A00\"\r";
const std::string kEidReply =
    "\r\n+CSIM: 46,\"BF3E125A10890490321234512345123456789012359000\"\r\n\r\nOK\r\n";
const std::string kCcho = "AT+CCHO=\"A0000005591010FFFFFFFF8900000100\"\r";
}  // namespace

TEST(SimModule, CsimCarriesApdusOnOpenChannels)
{
    Module m;
    EXPECT_EQ("\r\n+CSIM: 6,\"019000\"\r\n\r\nOK\r\n", m.handle(kOpen));
    std::string fci = m.handle(kSelect);
    EXPECT_EQ(0u, fci.find("\r\n+CSIM: 240,\"6F74"));
    EXPECT_EQ(kEidReply, m.handle(kGetEid));
    // Length mismatch, odd and non-hex text.
    EXPECT_EQ("\r\n+CME ERROR: 50\r\n", m.handle("AT+CSIM=12,\"0070000001\"\r"));
    EXPECT_EQ("\r\n+CME ERROR: 50\r\n", m.handle("AT+CSIM=9,\"007000000\"\r"));
    EXPECT_EQ("\r\n+CME ERROR: 50\r\n", m.handle("AT+CSIM=10,\"00700000G1\"\r"));
    EXPECT_EQ("\r\n+CME ERROR: 50\r\n", m.handle("AT+CSIM=10,0070000001\r"));
    // A closed channel, a MANAGE CHANNEL close included.
    EXPECT_EQ("\r\n+CME ERROR: 21\r\n", m.handle("AT+CSIM=24,\"82E2910006BF3E035C015A00\"\r"));
    EXPECT_EQ("\r\n+CME ERROR: 21\r\n", m.handle("AT+CSIM=10,\"0070800200\"\r"));
    EXPECT_EQ("\r\n+CSIM: 4,\"9000\"\r\n\r\nOK\r\n", m.handle("AT+CSIM=10,\"0070800100\"\r"));
    EXPECT_EQ("\r\n+CME ERROR: 21\r\n", m.handle("AT+CSIM=10,\"0070800100\"\r"));
    EXPECT_EQ("\r\nERROR\r\n", m.handle("AT+CGSN\r"));
    // No failure text holds "OK".
    for (const AtRecord &r : m.records().at) {
        if (r.reply.find("ERROR") != std::string::npos) {
            EXPECT_EQ(std::string::npos, r.reply.find("OK"));
        }
    }
}

TEST(SimModule, LogicalChannelCommands)
{
    Module m;
    EXPECT_EQ("1\r\n\r\nOK\r\n", m.handle(kCcho));
    m.config.cchoForm = CchoForm::Echo;
    EXPECT_EQ(kCcho + "\r\n2\r\n\r\nOK\r\n", m.handle(kCcho));
    EXPECT_TRUE(m.euicc.isdrSelected(2));
    m.config.cchoForm = CchoForm::Prefixed;
    EXPECT_EQ(kCcho + "\r\n+CCHO: 3\r\n\r\nOK\r\n", m.handle(kCcho));
    EXPECT_EQ("\r\nOK\r\n", m.handle("AT+CCHC=3\r"));
    EXPECT_EQ("\r\n+CME ERROR: 22\r\n", m.handle("AT+CCHO=\"A0000005591010FFFFFFFF8900000200\"\r"));
    EXPECT_FALSE(m.euicc.channelOpen(3));

    // AT+CGLA writes its channel into the class byte.
    std::string reply = m.handle("AT+CGLA=2,24,\"81E2910006BF3E035C015A00\"\r");
    EXPECT_EQ("\r\n+CGLA: 46,\"BF3E125A10890490321234512345123456789012359000\"\r\n\r\nOK\r\n", reply);
    EXPECT_EQ(hexBytes("82E2910006BF3E035C015A00"), m.records().apdus.back().apdu);
    EXPECT_EQ(2, m.records().apdus.back().channel);
    EXPECT_EQ("\r\n+CME ERROR: 21\r\n", m.handle("AT+CGLA=3,24,\"81E2910006BF3E035C015A00\"\r"));
    EXPECT_EQ("\r\n+CME ERROR: 50\r\n", m.handle("AT+CGLA=2,22,\"81E2910006BF3E035C015A00\"\r"));

    EXPECT_EQ("\r\nOK\r\n", m.handle("AT+CCHC=2\r"));
    EXPECT_EQ("\r\n+CME ERROR: 21\r\n", m.handle("AT+CCHC=2\r"));
    EXPECT_FALSE(m.euicc.channelOpen(2));
    EXPECT_TRUE(m.euicc.channelOpen(1));
}

TEST(SimModule, ResetClosesChannelsAndCanAnnounceRestart)
{
    Module m;
    m.config.sysstartAfterReset = true;
    m.handle(kOpen);
    m.handle(kSelect);
    EXPECT_EQ("\r\nOK\r\n", m.handle("AT+CFUN=1,1\r"));
    EXPECT_FALSE(m.euicc.channelOpen(1));
    EXPECT_EQ("\r\n^SYSSTART\r\n", m.handle(kGetEid));
    // The close after a reset meets an error without "+CSIM:".
    EXPECT_EQ("\r\n+CME ERROR: 21\r\n", m.handle("AT+CSIM=10,\"0070800100\"\r"));
}

TEST(SimModule, AtFaultsReplaceOrSilenceReplies)
{
    Module m;
    m.faults().add(FaultRule::at("AT+CSIM=10").reply("\r\n+CME ERROR: 13\r\n").once());
    m.faults().add(FaultRule::at("BF3E").silence().always());
    EXPECT_EQ("\r\n+CME ERROR: 13\r\n", m.handle(kOpen));
    EXPECT_FALSE(m.euicc.channelOpen(1));  // not carried out
    EXPECT_EQ("\r\n+CSIM: 6,\"019000\"\r\n\r\nOK\r\n", m.handle(kOpen));
    m.handle(kSelect);
    EXPECT_EQ("", m.handle(kGetEid));
    EXPECT_EQ("", m.handle(kGetEid));
    ASSERT_EQ(5u, m.records().at.size());
    EXPECT_EQ(kGetEid, m.records().at.back().command);
}

class SimSeam : public ::testing::Test {
protected:
    void SetUp() override { seam::reset(); }
    void TearDown() override { seam::reset(); }
};

TEST_F(SimSeam, WritersFillTheResponseBufferAndRecordTheirUse)
{
    EXPECT_EQ(1, quorpciot_lpa_plat_type());
    seam::setPlatformType(0);
    EXPECT_EQ(0, quorpciot_lpa_plat_type());
    std::memset(read_mipc_buf, 'x', sizeof(read_mipc_buf));
    EXPECT_EQ(static_cast<int64_t>(kOpen.size()), quorpciot_lpa_write_intel(1, kOpen.c_str(), kOpen.size()));
    EXPECT_STREQ("\r\n+CSIM: 6,\"019000\"\r\n\r\nOK\r\n", read_mipc_buf);
    for (size_t i = std::strlen(read_mipc_buf); i < sizeof(read_mipc_buf); ++i) ASSERT_EQ(0, read_mipc_buf[i]);
    EXPECT_EQ(static_cast<int64_t>(kSelect.size()), quorpciot_lpa_write_mtk(7, kSelect.c_str(), kSelect.size()));
    const auto &at = seam::module().records().at;
    ASSERT_EQ(2u, at.size());
    EXPECT_EQ(Writer::Intel, at[0].writer);
    EXPECT_EQ(1, at[0].platformType);
    EXPECT_EQ(Writer::Mtk, at[1].writer);
    EXPECT_EQ(7, at[1].platformType);
    EXPECT_EQ(kSelect, at[1].command);
}

TEST_F(SimSeam, WriterFaultsAndLongReplies)
{
    seam::module().faults().add(FaultRule::at().writerResult(-1, "stale OK").once());
    seam::module().faults().add(FaultRule::at().writerResult(kWriterLengthMinusOne, "stale").once());
    EXPECT_EQ(-1, quorpciot_lpa_write_intel(1, kOpen.c_str(), kOpen.size()));
    EXPECT_STREQ("stale OK", read_mipc_buf);
    EXPECT_EQ(static_cast<int64_t>(kOpen.size()) - 1, quorpciot_lpa_write_intel(1, kOpen.c_str(), kOpen.size()));
    EXPECT_FALSE(seam::module().euicc.channelOpen(1));

    seam::module().faults().add(FaultRule::at().reply(std::string(20000, 'A') + "OK").once());
    EXPECT_EQ(static_cast<int64_t>(kOpen.size()), quorpciot_lpa_write_mtk(0, kOpen.c_str(), kOpen.size()));
    EXPECT_EQ(16384u, std::strlen(read_mipc_buf));
    EXPECT_EQ(std::string::npos, std::string(read_mipc_buf).find("OK"));

    seam::reset();
    EXPECT_TRUE(seam::module().faults().empty());
    EXPECT_TRUE(seam::module().records().at.empty());
    EXPECT_EQ('\0', read_mipc_buf[0]);
}

TEST(SimModuleCommands, IdentitySlotAndConfiguration)
{
    Module m;
    EXPECT_EQ("\r\n+CGSN: \"356938035643809\"\r\n\r\nOK\r\n", m.handle("AT+CGSN?\r\n"));
    EXPECT_EQ("\r\n+GTDUALSIM: 0,1\r\n\r\nOK\r\n", m.handle("AT+GTDUALSIM?"));
    EXPECT_EQ(kReplyOk, m.handle("AT+GTDUALSIM=1\r\n"));
    EXPECT_EQ("\r\n+GTDUALSIM: 1,0\r\n\r\nOK\r\n", m.handle("AT+GTDUALSIM?\r"));
    EXPECT_EQ(cmeError(50), m.handle("AT+GTDUALSIM=2\r\n"));
    EXPECT_EQ(kReplyOk, m.handle("AT+ESIMMAP=1\r\n"));
    EXPECT_EQ(kReplyOk, m.handle("AT+ESIMMAP=2\r\n"));
    EXPECT_EQ(cmeError(50), m.handle("AT+ESIMMAP=3\r\n"));
    EXPECT_EQ(cmeError(50), m.handle("AT+ESIMMAP=\r\n"));
    EXPECT_EQ((std::vector<int>{1, 0, 1}), m.commands.slotChanges);
    EXPECT_EQ(1, m.config.activeSlot);

    EXPECT_EQ(kReplyOk, m.handle("AT+ESBP=5,\"SBP_MODEM_CXP\",1\r\n"));
    EXPECT_EQ(kReplyError, m.handle("AT+ESBP=5,\"SBP_OTHER\",1\r\n"));
    EXPECT_EQ(kReplyError, m.handle("AT+ESBP=5,\"SBP_MODEM_CXP\",\r\n"));
    EXPECT_EQ((std::vector<int>{1}), m.commands.cxpValues);
    // Malformed AT+CGLA forms are refused, never a crash.
    for (const char *bad : {"AT+CGLA=3,10,0070800100\r", "AT+CGLA=,10,\"0070800100\"\r", "AT+CGLA=3,1,1\r"}) {
        EXPECT_EQ(cmeError(50), m.handle(bad)) << bad;
    }
}

TEST(SimModuleCommands, PctpocFormsKeepTheModuleState)
{
    Seed seed;
    seed.profile(ProfileBuilder("89000123456789012358"));
    seed.profile(ProfileBuilder("89000123456789012341").profileClass(ClassProvisioning));
    Module m;
    applySeed(seed.provIccid("stale").pocUsageType(2), m);
    EXPECT_EQ("\r\n+GTPCTPOC: prov_iccid: stale\r\n+GTPCTPOC: poc_usage_type: 2\r\n\r\nOK\r\n",
              m.handle("AT+GTPCTPOC?\r\n"));
    EXPECT_EQ(kReplyOk, m.handle("AT+GTPCTPOC=0,1\r\n"));
    EXPECT_EQ(0, m.config.pocUsageType);
    EXPECT_EQ(kReplyOk, m.handle("AT+GTPCTPOC=1,2\r\n"));
    EXPECT_EQ(kReplyOk, m.handle("AT+GTPCTPOC=2,3\r\n"));
    EXPECT_EQ(2, m.config.pocUsageType);
    EXPECT_EQ((std::vector<std::pair<int, int>>{{0, 1}, {1, 2}, {2, 3}}), m.commands.reports);
    EXPECT_EQ(kReplyOk, m.handle("AT+GTPCTPOC=3\r\n"));
    EXPECT_EQ(1, m.commands.syncCount);
    EXPECT_EQ("89000123456789012341", m.config.provIccid);

    EXPECT_EQ(kReplyOk, m.handle("AT+GTPCTPOC=5,\"net\",1,3,3,2,\"u\",\"p\"w\"\r\n"));
    const ApnRecord &apn = m.commands.apns.at(5);
    EXPECT_EQ("net", apn.apn);
    EXPECT_EQ(2, apn.authType);
    EXPECT_EQ("u", apn.username);
    EXPECT_EQ("p\"w", apn.password);
    for (const char *bad : {"AT+GTPCTPOC=4,\"net\",1,3,3\r\n", "AT+GTPCTPOC=4\r\n", "AT+GTPCTPOC=1,x\r\n",
                            "AT+GTPCTPOC=3,1\r\n"}) {
        EXPECT_EQ(kReplyError, m.handle(bad)) << bad;
    }
    EXPECT_EQ(0u, m.commands.apns.count(4));
}

TEST(SimModuleCommands, CchoFormsFamiliesAndSeedFields)
{
    Seed seed;
    std::string error;
    ASSERT_TRUE(parseSeedJson(R"({"euicc": {"firstChannel": 3},
        "module": {"imei": "111122223333444", "activeSlot": 1, "provIccid": "8901", "pocUsageType": 1,
                   "cchoForm": "crlf", "family": "channel"}})", seed, &error)) << error;
    Module m;
    applySeed(seed, m);
    EXPECT_EQ("\r\n3\r\n\r\nOK\r\n", m.handle(kCcho));
    EXPECT_EQ((std::vector<int>{3}), m.openChannels());
    EXPECT_EQ("\r\n+CGSN: \"111122223333444\"\r\n\r\nOK\r\n", m.handle("AT+CGSN?\r\n"));
    EXPECT_EQ("\r\n+GTPCTPOC: prov_iccid: 8901\r\n+GTPCTPOC: poc_usage_type: 1\r\n\r\nOK\r\n",
              m.handle("AT+GTPCTPOC?\r\n"));
    EXPECT_EQ(kReplyError, m.handle(kOpen));
    EXPECT_EQ(kReplyError, m.handle("AT+GTDUALSIM=0\r\n"));
    EXPECT_EQ("\r\n+GTDUALSIM: 1,0\r\n\r\nOK\r\n", m.handle("AT+GTDUALSIM?\r\n"));

    m.config.family = Family::Csim;
    for (const char *refused : {"AT+CCHO=\"A0000005591010FFFFFFFF8900000100\"\r", "AT+CGLA=3,10,\"0070800100\"\r",
                                "AT+CCHC=3\r", "AT+ESIMMAP=1\r\n", "AT+ESBP=5,\"SBP_MODEM_CXP\",1\r\n"}) {
        EXPECT_EQ(kReplyError, m.handle(refused)) << refused;
    }
    EXPECT_TRUE(m.euicc.channelOpen(3));
    EXPECT_EQ(kReplyOk, m.handle("AT+GTDUALSIM=0\r\n"));

    ASSERT_TRUE(parseSeedJson(R"({"module": {"echo": true}})", seed, &error));
    EXPECT_EQ(CchoForm::Echo, seed.module.cchoForm);
    ASSERT_TRUE(parseSeedJson(R"({"module": {"cchoForm": "prefixed"}})", seed, &error));
    EXPECT_EQ(CchoForm::Prefixed, seed.module.cchoForm);
    EXPECT_FALSE(parseSeedJson(R"({"module": {"family": "usb"}})", seed, &error));
    EXPECT_FALSE(parseSeedJson(R"({"module": {"cchoForm": "loud"}})", seed, &error));
}
