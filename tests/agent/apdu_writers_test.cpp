// The engine's AT transport: both writers over the in-process transport,
// then liblpa.so driving the simulated module through them.
#include "agent_transport_fixture.h"

#include "lpa_error_codes.h"

#include <cstring>

namespace {

using hbrsim::FaultRule;

const std::string kOpen = "AT+CSIM=10,\"0070000001\"\r";
const std::string kSelect = "AT+CSIM=44,\"01A4040010A0000005591010FFFFFFFF890000010000\"\r";
const std::string kClose = "AT+CSIM=10,\"0070800100\"\r";
const std::string kGetEid = "AT+CSIM=24,\"81E2910006BF3E035C015A00\"\r";
const std::string kReset = "AT+CFUN=1,1\r";
const std::string kCcho = "AT+CCHO=\"A0000005591010FFFFFFFF8900000100\"\r";
const std::string kEidAnswer = " 46,\"BF3E125A10890490321234512345123456789012359000\"\r\n\r\nOK\r\n";
const std::string kOpenReply = "+CSIM: 6,\"019000\"\rOK";
const std::string kCloseReply = "+CSIM: 4,\"9000\"\rOK";
const std::string kOpenFailed = "\r\nERROR\r\n\r\n";

class WriterTest : public AgentTransportTest {
protected:
    void SetUp() override
    {
        AgentTransportTest::SetUp();
        UseSeed(hbrsim::Seed().firstChannel(3));
        SetPlatform(0);
    }
    static int64_t Mtk(const std::string &command, int32_t type = 0)
    {
        return quorpciot_lpa_write_mtk(type, command.c_str(), command.size());
    }
    static int64_t Intel(const std::string &command, int32_t type = 1)
    {
        return quorpciot_lpa_write_intel(type, command.c_str(), command.size());
    }
    static std::string Buffer() { return read_mipc_buf; }
    static bool ZeroFrom(size_t at)
    {
        for (size_t i = at; i < sizeof read_mipc_buf; ++i) {
            if (read_mipc_buf[i] != 0) return false;
        }
        return true;
    }
    static void Stale() { std::memset(read_mipc_buf, 'x', sizeof read_mipc_buf - 1); }
    void Select()
    {
        ASSERT_EQ(44 + 14, Mtk(kSelect));
        ASSERT_EQ('3', lpa_cgla_port);
    }
};

TEST_F(WriterTest, OpenIsAnsweredLocallyOverStaleText)
{
    Stale();
    EXPECT_EQ(24, Mtk(kOpen));
    EXPECT_EQ(kOpenReply, Buffer());
    EXPECT_TRUE(ZeroFrom(kOpenReply.size()));
    EXPECT_TRUE(Sent().empty());
}

TEST_F(WriterTest, SelectOpensTheModuleChannelInEachReplyForm)
{
    const hbrsim::CchoForm forms[] = {hbrsim::CchoForm::Bare, hbrsim::CchoForm::Echo,
                                      hbrsim::CchoForm::LeadingCrLf, hbrsim::CchoForm::Prefixed};
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        UseSeed(hbrsim::Seed().firstChannel(3).cchoForm(forms[i]));
        lpa_cgla_mode = 2;
        EXPECT_EQ(static_cast<int64_t>(kSelect.size()), Mtk(kSelect));
        EXPECT_EQ((std::vector<std::string>{kCcho}), Sent());
        EXPECT_EQ('3', lpa_cgla_port);
        EXPECT_EQ(0, lpa_cgla_mode);
        EXPECT_EQ(256u, Buffer().size());
        EXPECT_EQ(0u, Buffer().find("+CSIM: 240,\"6F748410A0000005591010FFFFFFFF8900000100A5"));
        EXPECT_EQ(Buffer().size() - 4, Buffer().find("\"\rOK"));
        EXPECT_TRUE(Sim().euicc.channelOpen(3));
    }
}

TEST_F(WriterTest, CommandsGoOutAsCglaOnTheChannelAndRepliesComeBackAsCsim)
{
    Select();
    EXPECT_EQ(static_cast<int64_t>(kGetEid.size()), Mtk(kGetEid));
    EXPECT_EQ("AT+CGLA=3,24,\"81E2910006BF3E035C015A00\"\r", Sent().back());
    EXPECT_EQ("+CSIM:" + kEidAnswer, Buffer());

    // The last of two "+CGLA:" lines; none leaves "+CSIM:" alone.
    Sim().faults().add(FaultRule::at("AT+CGLA").reply("\r\n+CGLA: 4,\"6F00\"\r\n+CGLA: 4,\"9000\"\r\n\r\nOK\r\n"));
    Sim().faults().add(FaultRule::at("AT+CGLA").from(2).reply("\r\nERROR\r\n"));
    EXPECT_EQ(static_cast<int64_t>(kGetEid.size()), Mtk(kGetEid));
    EXPECT_EQ("+CSIM: 4,\"9000\"\r\n\r\nOK\r\n", Buffer());
    EXPECT_EQ(static_cast<int64_t>(kGetEid.size()), Mtk(kGetEid));
    EXPECT_EQ("+CSIM:", Buffer());

    // Every other command is an APDU too, the module reset included; the
    // module refuses it.
    EXPECT_EQ(12, Mtk(kReset));
    EXPECT_EQ("AT+CGLA=3,1,1\r", Sent().back());
    EXPECT_EQ("+CME ERROR: 50", Sim().records().at.back().reply.substr(2, 14));
    EXPECT_EQ("+CSIM:", Buffer());
    EXPECT_EQ(0, lpa_cgla_mode);
}

TEST_F(WriterTest, CloseReleasesTheChannelWhateverTheModuleSays)
{
    Select();
    Sim().faults().add(FaultRule::at("AT+CCHC").reply("\r\nERROR\r\n"));
    EXPECT_EQ(24, Mtk(kClose));
    EXPECT_EQ("AT+CCHC=3\r", Sent().back());
    EXPECT_EQ(kCloseReply, Buffer());
    EXPECT_EQ(0, lpa_cgla_port);

    // No channel held: nothing goes out, the canned answer replaces stale text.
    size_t sent = Sent().size();
    Stale();
    EXPECT_EQ(24, Mtk(kClose));
    EXPECT_EQ(sent, Sent().size());
    EXPECT_EQ(kCloseReply, Buffer());
    EXPECT_TRUE(ZeroFrom(kCloseReply.size()));
    // An APDU without a channel keeps its form; the module refuses it.
    EXPECT_EQ(12, Mtk(kReset));
    EXPECT_EQ("AT+CGLA=1,1\r", Sent().back());
}

TEST_F(WriterTest, FailedOpensKeepTheChannelAndStayWithinTheReply)
{
    Select();
    // Refused, and a channel that one character cannot name.
    for (const char *reply : {"\r\nERROR\r\n", "10\r\n\r\nOK\r\n", "123456789012\r\n\r\nOK\r\n"}) {
        SCOPED_TRACE(reply);
        Sim().faults().add(FaultRule::at("AT+CCHO").reply(reply));
        lpa_cgla_mode = 2;
        EXPECT_EQ(static_cast<int64_t>(kSelect.size()), Mtk(kSelect));
        EXPECT_EQ(kOpenFailed, Buffer());
        EXPECT_EQ('3', lpa_cgla_port);
        EXPECT_EQ(0, lpa_cgla_mode);
    }
    // An echo without a digit reads as channel 0; digits without "\r" run
    // to the reply's end.
    Sim().faults().add(FaultRule::at("AT+CCHO").reply(kCcho + "\nOK"));
    Mtk(kSelect);
    EXPECT_EQ('0', lpa_cgla_port);
    Sim().faults().add(FaultRule::at("AT+CCHO").reply("5OK"));
    Mtk(kSelect);
    EXPECT_EQ('5', lpa_cgla_port);
    EXPECT_EQ("", CchoChannelText((kCcho + "OK").c_str()));
    EXPECT_EQ("7 OK", CchoChannelText((kCcho + "\n7 OK").c_str()));
}

// Unsolicited lines that the module sent with the reply do not hide the
// channel number, with or without the echo.
TEST_F(WriterTest, UnsolicitedLinesAheadOfTheChannelAreSkipped)
{
    for (const std::string &reply : {std::string("\r\n+CREG: 1\r\n3\r\n\r\nOK\r\n"),
                                     std::string("^SIMST: 1\r\n\r\n+CREG: 5\r\n\r\n3\r\n\r\nOK\r\n"),
                                     kCcho + "\r\n+CREG: 5\r\n3\r\n+CREG: 1\r\n\r\nOK\r\n"}) {
        SCOPED_TRACE(reply);
        EXPECT_EQ("3", CchoChannelText(reply.c_str()));
    }
}

// A module that names its answer "+CCHO: <n>": that line is the channel, not
// an unsolicited one, behind the echo or without it, amid other lines.
TEST_F(WriterTest, TheNamedChannelLineGivesTheChannel)
{
    for (const std::string &reply : {kCcho + "\r\n+CCHO: 3\r\n\r\nOK\r\n", std::string("+CCHO: 3\r\n\r\nOK\r\n"),
                                     std::string("\r\n+CCHO:3\r\n\r\nOK\r\n"),
                                     kCcho + "\r\n+CREG: 5\r\n^SIMST: 1\r\n+CCHO:  3\r\n+CREG: 1\r\n\r\nOK\r\n",
                                     std::string("\r\n+CREG: 1\r\n\r\n+CCHO: 3\r\n^MODE: 7\r\n\r\nOK\r\n")}) {
        SCOPED_TRACE(reply);
        EXPECT_EQ("3", CchoChannelText(reply.c_str()));
    }
}

TEST_F(WriterTest, IntelWriterSendsUnchangedAndKeepsAtMostTheBuffer)
{
    SetPlatform(1);
    Stale();
    EXPECT_EQ(12, Intel(kReset));
    EXPECT_EQ(kReset, Sent().back());
    EXPECT_EQ("\r\nOK\r\n", Buffer());
    EXPECT_TRUE(ZeroFrom(6));

    Sim().faults().add(FaultRule::at("BF3E").reply(std::string(20000, 'A')));
    EXPECT_EQ(static_cast<int64_t>(kGetEid.size()), Intel(kGetEid));
    EXPECT_EQ(16384u, std::strlen(read_mipc_buf));
}

TEST_F(WriterTest, FirstArgumentIsIgnored)
{
    std::vector<std::string> texts;
    for (int32_t type : {-1, 0, 1, 99}) {
        UseSeed(hbrsim::Seed().firstChannel(3));
        ResetApduWritersForTest();
        std::string all;
        for (const std::string &c : {kOpen, kSelect, kGetEid, kClose}) {
            Mtk(c, type);
            all += Buffer() + "|";
        }
        Intel(kGetEid, type);
        all += Buffer();
        texts.push_back(all + "|" + Sent().front() + Sent().back());
    }
    for (const std::string &t : texts) EXPECT_EQ(texts[0], t);
}

TEST_F(WriterTest, TransportAndAllocationFailures)
{
    // A failed SELECT send leaves mode 1; the next APDU sets 0 before it
    // goes out, even when its reply is lost.
    Transport().failSend(1);
    EXPECT_EQ(-1, Mtk(kSelect));
    EXPECT_EQ(1, lpa_cgla_mode);
    Transport().failReceive(1);
    EXPECT_EQ(-1, Mtk(kGetEid));
    EXPECT_EQ(0, lpa_cgla_mode);
    SetPlatform(1);
    Transport().failSend(1);
    EXPECT_EQ(-1, Intel(kGetEid));
    Transport().failReceive(1);
    EXPECT_EQ(-1, Intel(kGetEid));

    // The command buffer, then the reply buffer.
    size_t sent = Sent().size();
    SetAgentAllocFaultForTest(0, 1);
    EXPECT_EQ(0, Mtk(kGetEid));
    EXPECT_EQ(sent, Sent().size());
    SetAgentAllocFaultForTest(1, 1);
    EXPECT_EQ(0, Mtk(kGetEid));
    EXPECT_EQ(sent + 1, Sent().size());
}

// ---- liblpa.so through the writers ----

class EngineOverWritersTest : public AgentTransportTest {
protected:
    void SetUp() override
    {
        AgentTransportTest::SetUp();
        hbrsim::Seed seed;
        seed.firstChannel(3);
        // Long names make the list answer chain through GET RESPONSE.
        seed.profile(hbrsim::ProfileBuilder("89000123456789012341")
                         .profileClass(hbrsim::ClassProvisioning)
                         .enabled()
                         .name(std::string(64, 'P')));
        seed.profile(hbrsim::ProfileBuilder("89000123456789012358").name(std::string(64, 'O')));
        seed.profile(hbrsim::ProfileBuilder("89000123456789012366").name(std::string(64, 'T')));
        UseSeed(seed);
        StartEngine();
    }
    std::string ReadEid()
    {
        LpaEid eid = {};
        EXPECT_TRUE(lpaGetEID(&eid));
        return std::string(reinterpret_cast<const char *>(eid.eid), eid.eidLength);
    }
    std::vector<std::string> ReadNames()
    {
        std::vector<LpaProfileInfo> records(4);
        LpaProfileInfoList list = {0, 0, records.size(), records.data()};
        EXPECT_TRUE(lpaGetProfilesInfo(&list));
        std::vector<std::string> names;
        for (size_t i = 0; i < list.countProfileInfo; ++i) {
            names.emplace_back(records[i].profileName, records[i].profileNameLength);
        }
        return names;
    }
    size_t Containing(const std::string &text)
    {
        size_t n = 0;
        for (const std::string &s : Sent()) n += s.find(text) != std::string::npos;
        return n;
    }
};

TEST_F(EngineOverWritersTest, IntelPlatformSendsTheEnginesCommandsUnchanged)
{
    UseSeed(hbrsim::Seed());
    SetPlatform(1);
    ReadEid();
    EXPECT_EQ((std::vector<std::string>{kOpen, kSelect, kGetEid, kClose}), Sent());
}

TEST_F(EngineOverWritersTest, MediatekPlatformUsesTheLogicalChannelWithTheSameResults)
{
    SetPlatform(1);
    std::string eid = ReadEid();
    std::vector<std::string> names = ReadNames();
    Transport().module.records().clear();
    size_t before = Sent().size();

    SetPlatform(0);
    EXPECT_EQ(eid, ReadEid());
    EXPECT_EQ(names, ReadNames());
    std::vector<std::string> sent = Sent();
    sent.erase(sent.begin(), sent.begin() + static_cast<long>(before));
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(kCcho, sent.front());
    EXPECT_EQ("AT+CCHC=3\r", sent.back());
    for (const std::string &s : sent) {
        EXPECT_EQ(std::string::npos, s.find("AT+CSIM")) << s;
        if (s.compare(0, 8, "AT+CGLA=") == 0) {
            EXPECT_EQ(0u, s.find("AT+CGLA=3,")) << s;
            EXPECT_TRUE(s.find(",\"81") != std::string::npos || s.find(",\"01C0") != std::string::npos) << s;
        }
    }
    EXPECT_GT(Containing("AT+CGLA=3,10,\"01C00000"), 0u);  // GET RESPONSE chaining
    EXPECT_TRUE(Sim().openChannels().empty());

    std::string log = EngineLog();
    for (const char *line : {"OPEN1 read_mipc_buf:+CSIM: 6,\"019000\"\rOK", "portStr:3", "lpa_cgla_port:51",
                             "[LPA LIB]: [info]-csim2cgla cgla cmd is AT+CGLA=3,"}) {
        EXPECT_NE(std::string::npos, log.find(line)) << line;
    }
}

TEST_F(EngineOverWritersTest, RefusedOpensFailTheCallWithoutStrayCommands)
{
    SetPlatform(0);
    Sim().faults().add(FaultRule::at("AT+CCHO").reply("\r\nERROR\r\n").always());
    LpaEid eid = {};
    EXPECT_FALSE(lpaGetEID(&eid));
    EXPECT_EQ(static_cast<uint32_t>(LPA_ERROR_SE_MEDIA_UNABLE_TO_SELECT_ISDR), lpaGetErrorCode());
    EXPECT_EQ(12u, Containing("AT+CCHO"));
    EXPECT_EQ(0u, Containing("AT+CGLA"));
    EXPECT_EQ(0u, Containing("AT+CCHC"));
}

TEST_F(EngineOverWritersTest, ChannelAboveNineFailsOneAttemptOnly)
{
    SetPlatform(0);
    Sim().faults().add(FaultRule::at("AT+CCHO").reply("10\r\n\r\nOK\r\n"));
    LpaEid eid = {};
    EXPECT_TRUE(lpaGetEID(&eid));
    EXPECT_EQ(2u, Containing("AT+CCHO"));
}

TEST_F(EngineOverWritersTest, PlatformTypeIsReadForEveryCall)
{
    for (int32_t type : {-1, 2, 0, 1}) {
        SCOPED_TRACE(type);
        SetPlatform(type);
        size_t before = Sent().size();
        ReadEid();
        bool channel = type == 0 || type == -1;
        EXPECT_EQ(channel ? kCcho : kOpen, Sent()[before]);
    }
}

}  // namespace
