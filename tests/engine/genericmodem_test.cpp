// The generic-modem driver through the AT transport seam and the simulated
// module.
#include <gtest/gtest.h>

#include <hbr_platform_sleep.h>

#include "se_media_test_util.h"

using hbrsim::Bytes;
using hbrsim::FaultRule;
using hbrsim::hexBytes;
using hbrsim::Writer;

namespace {
const char kOpen[] = "AT+CSIM=10,\"0070000001\"\r";
const char kSelect[] = "AT+CSIM=44,\"01A4040010A0000005591010FFFFFFFF890000010000\"\r";
const char kGetEid[] = "AT+CSIM=24,\"81E2910006BF3E035C015A00\"\r";
const char kClose[] = "AT+CSIM=10,\"0070800100\"\r";
const char kStale[] = "\r\n+CSIM: 6,\"AABBCC\"\r\n\r\nOK\r\n";
const Bytes kGetEidApdu = hexBytes("80E2910006BF3E035C015A00");

class GenericModem : public SeMediaFixture {
protected:
    bool connect(const char *reader = "") { return _seMediaGenericModemConnect(_seMedia, reader); }

    bool transmit(const Bytes &apdu, Bytes &response, size_t capacity = 300)
    {
        response.assign(capacity, 0xEE);
        size_t length = capacity;
        bool ok = _seMediaGenericModemTransmitApdu(_seMedia, apdu.data(), apdu.size(), response.data(), &length);
        response.resize(ok ? length : capacity);
        return ok;
    }
};
}  // namespace

TEST_F(GenericModem, EidReadSendsTheExactCommandSequence)
{
    ASSERT_TRUE(_lpaManagerConnectReaderAndSelectISDR());
    uint16_t sw = 0;
    uint8_t data[64];
    size_t length = 0;
    ASSERT_TRUE(storeData(hexBytes("BF3E035C015A"), &sw, data, sizeof(data), &length));
    EXPECT_EQ(0x9000, sw);
    EXPECT_EQ(hexBytes("BF3E125A1089049032123451234512345678901235"), Bytes(data, data + length));
    ASSERT_TRUE(_lpaManagerUnselectISDRAndDisconnectReader());
    EXPECT_EQ(0u, _lpaErrorCodePeek());

    EXPECT_EQ((std::vector<std::string>{kOpen, kSelect, kGetEid, kClose}), commands());
    for (const hbrsim::AtRecord &r : sim().records().at) {
        EXPECT_EQ(Writer::Intel, r.writer);
        EXPECT_EQ(1, r.platformType);
        EXPECT_EQ(std::strlen(r.command.c_str()), r.command.size());
    }
    EXPECT_EQ(0, modem()->channel);
    EXPECT_EQ(0, modem()->handle);
    EXPECT_EQ(0, _seMediaGenericModemPseudoPort);

    EXPECT_TRUE(logHas("DEB", "Connecting to default reader '\\\\.\\COM44' ..."));
    EXPECT_TRUE(logHas("DEB", "_openUICCChannel(): Logical channel  1 opened."));
    EXPECT_TRUE(logHas("DEB", "APDU (case 4 with Le added) : 00A4040010A0000005591010FFFFFFFF890000010000"));
    EXPECT_TRUE(logHas("DEB", "_seMediaGenericModemTransmitApdu(): APDU Command (44) : "
                              "01A4040010A0000005591010FFFFFFFF890000010000"));
    EXPECT_TRUE(logHas("INF", "ISDR applet selected successfully"));
    EXPECT_TRUE(logHas("ERR", "selectISDRApplet success in cnt(0)"));
    EXPECT_TRUE(logHas("DEB", "APDU SW:9000"));
    // The line keeps its embedded line break.
    EXPECT_NE(std::string::npos, LogText().find("Read count = 16384, count_real = 27\n"));
    EXPECT_TRUE(logHas("DEB", "Loop #1: Number of bytes read : 27"));
    EXPECT_TRUE(logHas("DEB", "-- semedia_external :> _seMediaGenericModemConnect() return res=true"));
    EXPECT_TRUE(logHas("DEB", "+ semedia_genericmodem :> _seMediaGenericModemEstablishContext()"));
}

TEST_F(GenericModem, ChannelGoesIntoTheClassByte)
{
    for (int first : {5, 19}) {
        hbrsim::Seed seed;
        seed.euicc.firstChannel = first;
        hbrsim::seam::reset(seed);
        ASSERT_TRUE(connect("\\\\.\\COM7"));
        EXPECT_EQ(first, modem()->channel);
        Bytes response;
        ASSERT_TRUE(transmit(hexBytes("00A4040010A0000005591010FFFFFFFF8900000100"), response));
        ASSERT_TRUE(transmit(kGetEidApdu, response));
        EXPECT_EQ(0x90, response[response.size() - 2]);
        std::vector<std::string> at = commands();
        ASSERT_EQ(3u, at.size());
        EXPECT_EQ(first == 5 ? "AT+CSIM=42,\"41A4040010A0000005591010FFFFFFFF8900000100\"\r"
                             : "AT+CSIM=42,\"4FA4040010A0000005591010FFFFFFFF8900000100\"\r",
                  at[1]);
        EXPECT_EQ(first == 5 ? "AT+CSIM=24,\"C1E2910006BF3E035C015A00\"\r" : "AT+CSIM=24,\"CFE2910006BF3E035C015A00\"\r",
                  at[2]);
        ASSERT_TRUE(_seMediaGenericModemDisconnect(_seMedia));
        EXPECT_EQ(first == 5 ? "AT+CSIM=10,\"0070800500\"\r" : "AT+CSIM=10,\"0070801300\"\r", commands().back());
    }
    EXPECT_TRUE(logHas("DEB", "ReaderName='\\\\.\\COM7'"));
    EXPECT_TRUE(logHas("DEB", "_openUICCChannel(): Logical channel 19 opened."));
}

TEST_F(GenericModem, ChannelOutOfBoundsFailsTheConnect)
{
    for (uint8_t answer : {0x00, 0x14}) {
        hbrsim::Seed seed;
        seed.euicc.manageChannelAnswer = answer;
        hbrsim::seam::reset(seed);
        EXPECT_FALSE(connect());
        EXPECT_EQ(0, modem()->channel);
        EXPECT_EQ(0, modem()->handle);
        EXPECT_EQ(0, _seMediaGenericModemPseudoPort);
        EXPECT_FALSE(_seMediaGenericModemIsConnected(_seMedia));
    }
    EXPECT_TRUE(logHas("ERR", "_openUICCChannel(): Logical channel out of bounds or incorrect: 0"));
    EXPECT_TRUE(logHas("ERR", "_openUICCChannel(): Logical channel out of bounds or incorrect: 20"));
    // A refused open.
    hbrsim::seam::reset();
    sim().faults().add(FaultRule::at(kOpen).reply("\r\n+CME ERROR: 13\r\n"));
    EXPECT_FALSE(connect());
    EXPECT_EQ(0, _seMediaGenericModemPseudoPort);
    EXPECT_TRUE(logHas("WAR", "AT COMMAND RESPONSE ERROR detected at waiting loop #1"));
    EXPECT_TRUE(logHas("ERR", "_openUICCChannel(): Problem while sending logical channel opening command!"));
}

TEST_F(GenericModem, PlatformTypeChoosesTheWriter)
{
    struct Case {
        int32_t type;
        Writer writer;
    } cases[] = {{1, Writer::Intel}, {2, Writer::Intel}, {0, Writer::Mtk}, {-1, Writer::Mtk}, {7, Writer::Mtk}};
    for (const Case &c : cases) {
        hbrsim::seam::reset();
        hbrsim::seam::setPlatformType(c.type);
        ASSERT_TRUE(connect());
        EXPECT_TRUE(_seMediaGenericModemDisconnectWithReset(_seMedia));
        const auto &at = sim().records().at;
        ASSERT_EQ(2u, at.size());
        EXPECT_EQ("AT+CFUN=1,1\r", at[1].command);
        for (const hbrsim::AtRecord &r : at) {
            EXPECT_EQ(c.writer, r.writer) << c.type;
            EXPECT_EQ(c.type, r.platformType);
        }
    }
}

TEST_F(GenericModem, FailedWriterLeavesTheBufferUnread)
{
    ASSERT_TRUE(connect());
    Bytes response;
    for (int64_t result : {int64_t(-1), int64_t(0), hbrsim::kWriterLengthMinusOne}) {
        sim().faults().add(FaultRule::at().writerResult(result, kStale));
        EXPECT_FALSE(transmit(kGetEidApdu, response));
        EXPECT_STREQ(kStale, read_mipc_buf);
        EXPECT_EQ(Bytes(300, 0xEE), response);
    }
    EXPECT_EQ(3u, logCount("WAR", "_sendAPDUtoModemAndCheckOK(): Problem while transmitting AT command to modem."));
    EXPECT_EQ(1u, logCount("DEB", "_getResponseData()..."));  // the open's reply only
    std::memset(read_mipc_buf, 0, sizeof(read_mipc_buf));
}

TEST_F(GenericModem, FailureRepliesAndTimeOut)
{
    ASSERT_TRUE(connect());
    Bytes response;
    struct Case {
        const char *reply;
        const char *level;
        const char *line;
    } cases[] = {
        {"\r\nERROR\r\n", "WAR", "AT COMMAND RESPONSE ERROR detected at waiting loop #1"},
        {"\r\n+CME ERROR: 13\r\n", "WAR", "AT COMMAND RESPONSE ERROR detected at waiting loop #1"},
        {"\r\n^SYSSTART\r\n", "WAR", "MODEM STARTUP EVENT <^SYSSTART> detected at waiting loop #1"},
        // A "+CSIM:" line without OK holds neither OK nor ERROR: 20 looks.
        {"\r\n+CSIM: 4,\"9000\"\r\n", "WAR", "_getResponseData(): Time Out elapsed, no valid data available"},
    };
    for (const Case &c : cases) {
        sim().faults().add(FaultRule::at("BF3E").reply(c.reply));
        EXPECT_FALSE(transmit(kGetEidApdu, response)) << c.reply;
        EXPECT_TRUE(logHas(c.level, c.line)) << c.line;
    }
    EXPECT_TRUE(logHas("DEB", "Loop #20: No bytes read"));
    EXPECT_FALSE(logHas("DEB", "Loop #21: No bytes read"));
    EXPECT_EQ(4u, logCount("ERR", "_sendAPDUtoModemAndCheckOK(): Cannot retrieve AT command response!"));
}

TEST_F(GenericModem, ReplyIsTakenAtOnceAndSilenceCostsTwentyWaits)
{
    ASSERT_TRUE(connect());
    Bytes response;
    unsigned long sleeps = hbrShortSleepCount();
    unsigned long long waited = hbrShortSleepTotalMs();
    ASSERT_TRUE(transmit(kGetEidApdu, response));
    EXPECT_EQ(0u, hbrShortSleepCount() - sleeps);

    sim().faults().add(FaultRule::at("BF3E").silence());
    sleeps = hbrShortSleepCount();
    waited = hbrShortSleepTotalMs();
    EXPECT_FALSE(transmit(kGetEidApdu, response));
    EXPECT_EQ(20u, hbrShortSleepCount() - sleeps);
    EXPECT_EQ(1000u, hbrShortSleepTotalMs() - waited);
    EXPECT_TRUE(logHas("DEB", "Loop #20: No bytes read"));
    EXPECT_FALSE(logHas("DEB", "Loop #21: No bytes read"));
    EXPECT_TRUE(logHas("WAR", "_getResponseData(): Time Out elapsed, no valid data available"));
}

TEST_F(GenericModem, OkAnywhereCountsAsSuccess)
{
    ASSERT_TRUE(connect());
    Bytes response;
    sim().faults().add(FaultRule::at("BF3E").reply("\r\n+CSIM: 6,\"A1B29000\"\r\nERROR\r\nOK\r\n"));
    ASSERT_TRUE(transmit(kGetEidApdu, response));
    EXPECT_EQ(hexBytes("A1B29000"), response);
    // The length after "+CSIM:" is never read; lower-case hex converts.
    sim().faults().add(FaultRule::at("BF3E").reply("\r\n+CSIM: 99,\"a1b29000\"\r\n\r\nOK\r\n"));
    ASSERT_TRUE(transmit(kGetEidApdu, response));
    EXPECT_EQ(hexBytes("A1B29000"), response);
}

TEST_F(GenericModem, BadRequestsAreRefusedBeforeAnythingIsSent)
{
    ASSERT_TRUE(connect());
    size_t before = sim().records().at.size();
    Bytes response;
    EXPECT_FALSE(transmit(hexBytes("80E291"), response));
    EXPECT_FALSE(transmit(Bytes(262, 0x80), response));
    EXPECT_FALSE(transmit(kGetEidApdu, response, 1));
    uint8_t buffer[8];
    size_t length = sizeof(buffer);
    EXPECT_FALSE(_seMediaGenericModemTransmitApdu(_seMedia, nullptr, 5, buffer, &length));
    EXPECT_FALSE(_seMediaGenericModemTransmitApdu(_seMedia, kGetEidApdu.data(), kGetEidApdu.size(), buffer, nullptr));
    EXPECT_EQ(before, sim().records().at.size());
    EXPECT_EQ(5u, logCount("ERR", "_seMediaGenericModemTransmitApdu(): Invalid parameters!"));
    // The longest APDU fits.
    Bytes longest = hexBytes("80E29100FF");
    longest.resize(261, 0x00);
    EXPECT_TRUE(transmit(longest, response));
}

TEST_F(GenericModem, ResponsesThatDoNotConvertFail)
{
    ASSERT_TRUE(connect());
    Bytes response;
    // Longer than the capacity (the FCI): nothing written beyond it.
    EXPECT_FALSE(transmit(hexBytes("00A4040010A0000005591010FFFFFFFF8900000100"), response, 20));
    EXPECT_EQ(Bytes(20, 0xEE), response);
    for (const char *reply : {"\r\n+CSIM: 5,\"90001\"\r\n\r\nOK\r\n", "\r\n+CSIM: 4,\"90G0\"\r\n\r\nOK\r\n",
                              "\r\n+CSIM: 4,\"\"\r\n\r\nOK\r\n", "\r\n+CSIM: 4,9000\r\n\r\nOK\r\n",
                              "\r\n+CSIM: 4,\"9000\r\n\r\nOK\r\n", "\r\nOK\r\n"}) {
        sim().faults().add(FaultRule::at("BF3E").reply(reply));
        EXPECT_FALSE(transmit(kGetEidApdu, response)) << reply;
    }
    EXPECT_EQ(4u, logCount("ERR", "_processAPDUresponse(): Cannot convert APDU response to raw Hex or APDU response "
                                  "buffer too small!"));
    EXPECT_TRUE(logHas("WAR", "_atCommandResponseToApdu(): First quote not found!"));
    EXPECT_TRUE(logHas("WAR", "_atCommandResponseToApdu(): Second quote not found!"));
    EXPECT_TRUE(logHas("WAR", "_atCommandResponseToApdu(): Response prefix not found!"));
}

TEST_F(GenericModem, CloseAfterModuleResetSucceeds)
{
    ASSERT_TRUE(connect());
    EXPECT_EQ("\r\nOK\r\n", sim().handle("AT+CFUN=1,1\r"));
    EXPECT_TRUE(_seMediaGenericModemDisconnect(_seMedia));
    EXPECT_EQ(0, modem()->channel);
    EXPECT_EQ(0, modem()->handle);
    EXPECT_TRUE(logHas("WAR", "_closeUICCChannel(): ! Detected possible eUICC Reset performed by modem, consider that "
                              "Logical Channel is closed."));
    // Disconnected now: a second disconnect is refused.
    EXPECT_FALSE(_seMediaGenericModemDisconnect(_seMedia));
    EXPECT_TRUE(logHas("WAR", "_seMediaGenericModemInternalDisconnect(): Modem is already disconnected!"));
}

TEST_F(GenericModem, DisconnectWithReset)
{
    ASSERT_TRUE(connect());
    EXPECT_TRUE(_seMediaGenericModemDisconnectWithReset(_seMedia));
    EXPECT_EQ(0, modem()->channel);
    EXPECT_EQ(0, modem()->handle);
    EXPECT_EQ(0, _seMediaGenericModemPseudoPort);
    EXPECT_FALSE(sim().euicc.channelOpen(1));
    EXPECT_FALSE(_seMediaGenericModemDisconnectWithReset(_seMedia));

    // Refused: the close is tried and the handle released.
    ASSERT_TRUE(connect());
    sim().faults().add(FaultRule::at("AT+CFUN").reply("\r\nERROR\r\n"));
    EXPECT_FALSE(_seMediaGenericModemDisconnectWithReset(_seMedia));
    EXPECT_EQ(kClose, commands().back());
    EXPECT_EQ(0, modem()->channel);
    EXPECT_EQ(0, modem()->handle);
    EXPECT_EQ(0, _seMediaGenericModemPseudoPort);
    EXPECT_TRUE(logHas("DEB", "_seMediaGenericModemDisconnectWithReset(): Successful closing of current logical channel "
                              "after failed eUICC reset."));

    // A failed writer reports the system's last error.
    ASSERT_TRUE(connect());
    sim().faults().add(FaultRule::at("AT+CFUN").writerResult(-1));
    EXPECT_FALSE(_seMediaGenericModemDisconnectWithReset(_seMedia));
    EXPECT_EQ(0, modem()->handle);
    EXPECT_TRUE(LogText().find("Windows error : 0x") != std::string::npos);
    EXPECT_TRUE(logHas("ERR", "_seMediaGenericModemDisconnectWithReset(): Reset eUICC: Problem while transmitting AT "
                              "command to modem."));
}

TEST_F(GenericModem, StatusValidityAndSecondConnect)
{
    int32_t status = 0;
    EXPECT_FALSE(_seMediaGenericModemGetStatus(_seMedia, &status));
    EXPECT_TRUE(logHas("ERR", "_seMediaGenericModemGetStatus() Modem connection status reported as disconnected!"));
    ASSERT_TRUE(connect());
    EXPECT_TRUE(_seMediaGenericModemGetStatus(_seMedia, &status));
    EXPECT_EQ(4, status);
    EXPECT_FALSE(_seMediaGenericModemGetStatus(_seMedia, nullptr));
    EXPECT_TRUE(_seMediaGenericModemIsValidContext(_seMedia));

    // A second record while the pseudo port is held: handle -1, connected
    // but not a valid context.
    TSEMedia *other = New_SEMediaGenericModem();
    ASSERT_NE(nullptr, other);
    EXPECT_TRUE(_seMediaGenericModemConnect(other, ""));
    auto *second = static_cast<TSEMediaGenericModem *>(other->privateRecord);
    EXPECT_EQ(-1, second->handle);
    EXPECT_EQ(2, second->channel);
    EXPECT_TRUE(_seMediaGenericModemIsConnected(other));
    EXPECT_FALSE(_seMediaGenericModemIsValidContext(other));
    EXPECT_TRUE(_seMediaGenericModemDisconnect(other));
    Delete_SEMediaGenericModem(other);
    EXPECT_TRUE(logHas("DEB", "_seMediaGenericModemConnect(): CreateFile() is OK, Handle = -1"));
    EXPECT_TRUE(logHas("DEB", "Media status: Not Valid"));
}

namespace {
std::vector<LpaEventExecutionError> g_events;
void recordEvent(void *userData, const LpaEventExecutionError *event)
{
    EXPECT_EQ(nullptr, userData);
    g_events.push_back(*event);
    EXPECT_STREQ("0x2", event->subjectCode);
    EXPECT_STREQ("transmit issue", event->text);
}
void otherCallback(void *, const LpaEventExecutionError *) {}
}  // namespace

TEST_F(GenericModem, CallbackRegistrationAndTransmitFailureEvent)
{
    EXPECT_FALSE(_seMediaGenericModemSetCallbackEventExecutionError(_seMedia, nullptr));
    EXPECT_TRUE(_seMediaGenericModemSetCallbackEventExecutionError(_seMedia, recordEvent));
    EXPECT_TRUE(_seMediaGenericModemSetCallbackEventExecutionError(_seMedia, recordEvent));
    EXPECT_TRUE(logHas("WAR", " LpaEventExecutionErrorCallback already registered !"));
    EXPECT_TRUE(logHas("DEB", "-- semedia_genericmodem :> _seMediaGenericModemSetCallbackEventExecutionError() "
                              "return res=true"));

    g_events.clear();
    ASSERT_TRUE(connect());
    Bytes response;
    sim().faults().add(FaultRule::at("BF3E").reply("\r\nERROR\r\n"));
    EXPECT_FALSE(transmit(kGetEidApdu, response));
    ASSERT_EQ(1u, g_events.size());
    EXPECT_EQ(4, g_events[0].source);
    EXPECT_EQ(5, g_events[0].presentFields);
    EXPECT_EQ(nullptr, g_events[0].reasonCode);
    // A conversion failure is not a transmit failure.
    sim().faults().add(FaultRule::at("BF3E").reply("\r\n+CSIM: 1,\"9\"\r\nOK\r\n"));
    EXPECT_FALSE(transmit(kGetEidApdu, response));
    EXPECT_EQ(1u, g_events.size());

    EXPECT_TRUE(_seMediaGenericModemSetCallbackEventExecutionError(_seMedia, otherCallback));
    EXPECT_EQ(otherCallback, _seMediaGenericModemCallback);
    EXPECT_TRUE(_seMediaGenericModemSetCallbackEventExecutionError(_seMedia, nullptr));
    EXPECT_EQ(nullptr, _seMediaGenericModemCallback);
    EXPECT_TRUE(logHas("DEB", " unregistering lpaEventExecutionErrorCallback ..."));
}

TEST_F(GenericModem, ReaderListAndContext)
{
    char names[2][SE_MEDIA_READER_NAME_SIZE];
    std::memset(names, 'x', sizeof(names));
    size_t count = 7;
    ASSERT_TRUE(_seMediaGenericModemListReader(_seMedia, names, 2, &count));
    EXPECT_EQ(1u, count);
    char expected[SE_MEDIA_READER_NAME_SIZE] = {'\\', '\\', '.', '\\', 'C', 'O', 'M', '4', '4'};
    EXPECT_EQ(0, std::memcmp(expected, names[0], sizeof(expected)));
    EXPECT_EQ(9u, std::strlen(names[0]));
    EXPECT_EQ('x', names[1][0]);

    // Capacity 0: nothing written, count 0, false.
    std::memset(names, 'x', sizeof(names));
    count = 7;
    EXPECT_FALSE(_seMediaGenericModemListReader(_seMedia, names, 0, &count));
    EXPECT_EQ(0u, count);
    EXPECT_EQ('x', names[0][0]);
    EXPECT_FALSE(_seMediaGenericModemListReader(_seMedia, nullptr, 1, &count));
    EXPECT_TRUE(logHas("ERR", "NULL parameter detected!"));
    EXPECT_TRUE(commands().empty());

    EXPECT_TRUE(_seMediaGenericModemEstablishContext(_seMedia));
    EXPECT_FALSE(_seMediaGenericModemEstablishContext(_seMedia));
    EXPECT_TRUE(_seMediaGenericModemIsContextEstablished(_seMedia));
    ASSERT_TRUE(connect());
    // Releasing a connected context disconnects first.
    EXPECT_TRUE(_seMediaGenericModemReleaseContext(_seMedia));
    EXPECT_EQ(kClose, commands().back());
    EXPECT_FALSE(_seMediaGenericModemReleaseContext(_seMedia));
    EXPECT_TRUE(logHas("WAR", "Context not established"));
    EXPECT_TRUE(logHas("WAR", "Context already established"));
    EXPECT_FALSE(_seMediaGenericModemEstablishContext(nullptr));
    EXPECT_TRUE(logHas("ERR", "seMedia is NULL !"));
}
