// The SE media's APDU layer and the card connection, over the
// generic-modem driver and the simulated module (or a hand-made media).
#include <gtest/gtest.h>

#include "se_media_test_util.h"

using hbrsim::Bytes;
using hbrsim::FaultRule;
using hbrsim::hexBytes;

namespace {
const Bytes kGetEid = hexBytes("BF3E035C015A");
const char kCloseCommand[] = "AT+CSIM=10,\"0070800100\"\r";

// A request of exactly `length` bytes under a tag the eUICC does not know.
Bytes requestOfLength(size_t length)
{
    size_t header = length - 3 <= 255 ? 3 : 4;
    Bytes content(length - header - 1, 0x5A);
    Bytes request = hbrsim::tlv(0xBF55, content);
    EXPECT_EQ(length, request.size());
    return request;
}

class SeMedia : public SeMediaFixture {
protected:
    void open() { ASSERT_TRUE(_lpaManagerConnectReaderAndSelectISDR()); }

    // STORE DATA APDUs seen by the eUICC.
    std::vector<Bytes> storeDataApdus() const
    {
        std::vector<Bytes> out;
        for (const hbrsim::ApduRecord &r : sim().records().apdus) {
            if (r.apdu.size() > 1 && r.apdu[1] == 0xE2) out.push_back(r.apdu);
        }
        return out;
    }

    size_t commandsContaining(const std::string &text) const
    {
        size_t n = 0;
        for (const std::string &c : commands()) n += c.find(text) != std::string::npos;
        return n;
    }
};
}  // namespace

TEST_F(SeMedia, StoreDataBlocksWithAndWithoutLe)
{
    open();
    for (bool le : {true, false}) {
        setAddLe(le);
        for (size_t length : {255u, 256u, 600u}) {
            sim().records().clear();
            Bytes request = requestOfLength(length);
            uint16_t sw = 0;
            size_t dataLength = 99;
            ASSERT_TRUE(storeData(request, &sw, nullptr, 0, &dataLength));
            EXPECT_EQ(0x6A88, sw);
            EXPECT_EQ(99u, dataLength);
            std::vector<Bytes> apdus = storeDataApdus();
            size_t blocks = (length + 254) / 255;
            ASSERT_EQ(blocks, apdus.size());
            for (size_t k = 0; k < blocks; ++k) {
                size_t lc = k + 1 < blocks ? 255 : length - 255 * k;
                EXPECT_EQ(0x81, apdus[k][0]);
                EXPECT_EQ(k + 1 < blocks ? 0x11 : 0x91, apdus[k][2]) << length;
                EXPECT_EQ(k, apdus[k][3]);
                EXPECT_EQ(lc, apdus[k][4]);
                EXPECT_EQ(5 + lc + (le ? 1 : 0), apdus[k].size());
                if (le) {
                    EXPECT_EQ(0x00, apdus[k].back());
                }
            }
            ASSERT_EQ(1u, sim().records().es10.size());
            EXPECT_EQ(request, sim().records().es10[0].request);
        }
    }
    EXPECT_TRUE(logHas("DEB", "Sending StoreData in one APDU ..."));
    EXPECT_TRUE(logHas("INF", "Sending StoreData with more than one APDU ..."));
    EXPECT_TRUE(logHas("DEB", "APDU (without adding Le) : 80E2910003BF3E00") == false);
    EXPECT_TRUE(logHas("DEB", "APDU SW:6a88"));
}

TEST_F(SeMedia, ParameterChecks)
{
    uint16_t sw = 0;
    size_t length = 0;
    RawDataObject empty = {nullptr, 0};
    EXPECT_FALSE(buildAndSendStoreDataCase4(nullptr, &sw, nullptr, 0, &length));
    EXPECT_FALSE(buildAndSendStoreDataCase4(&empty, &sw, nullptr, 0, &length));
    EXPECT_FALSE(_buildAndSendApduCase4(&empty, nullptr, nullptr, 0, &length));
    EXPECT_TRUE(logHas("ERR", "buildAndSendStoreDataCase4() - Invalid NULL parameter!"));
    EXPECT_TRUE(logHas("ERR", "buildAndSendStoreDataCase4() - Invalid NULL or zero length parameter!"));
    EXPECT_TRUE(logHas("ERR", "_buildAndSendApduCase4() - Invalid NULL parameter!"));
    size_t capacity = 8192;
    EXPECT_FALSE(seMediaManagerTransmitApdu(nullptr, 5, &capacity));
    EXPECT_TRUE(logHas("ERR", "Invalid NULL parameter !"));
    // Not connected.
    const uint8_t apdu[] = {0x00, 0xC0, 0x00, 0x00, 0x00};
    EXPECT_FALSE(seMediaManagerTransmitApdu(apdu, sizeof(apdu), &capacity));
    EXPECT_EQ(8192u, capacity);
    EXPECT_TRUE(logHas("ERR", "_seMedia->seMediaTransmitApdu NULL or failed at seMediaManagerIsConnected()!"));

    // The trace shows at most 1,008 bytes.
    open();
    Bytes big(1100, 0xAB);
    RawDataObject *object = rawDataObject_create(big.data(), big.size());
    EXPECT_FALSE(buildAndSendApduCase4(object, &sw, nullptr, 0, &length));
    rawDataObject_free(object);
    std::string expected = "APDU (case 4 with Le added) : ";
    for (int i = 0; i < 1008; ++i) expected += "AB";
    EXPECT_TRUE(logHas("DEB", expected + "..."));
    EXPECT_TRUE(logHas("ERR", "APDU sending operation through seMedia failed!"));
    EXPECT_TRUE(logHas("DEB", "buildAndSendApduCase4(...) => return false"));
}

TEST_F(SeMedia, GetResponseChains)
{
    open();
    // 61 10, then 16 bytes + 90 00: 18 bytes.
    Bytes sixteen = hexBytes("000102030405060708090A0B0C0D0E0F");
    sim().faults().add(FaultRule::es10(0xBF3E).es10Answer(sixteen).always());
    sim().faults().add(FaultRule::apdu(0xE2).t0().always());
    const Bytes apdu = hexBytes("80E2910006BF3E035C015A00");
    size_t length = SE_MEDIA_APDU_RESPONSE_SIZE;
    ASSERT_TRUE(seMediaManagerTransmitApdu(apdu.data(), apdu.size(), &length));
    EXPECT_EQ(18u, length);
    EXPECT_EQ(hexBytes("000102030405060708090A0B0C0D0E0F9000"), Bytes(seMediaApduResponse, seMediaApduResponse + 18));
    EXPECT_EQ("AT+CSIM=10,\"01C0000010\"\r", commands().back());
    EXPECT_TRUE(logHas("DEB", "APDU R - SW is 61.XX type"));
    EXPECT_FALSE(logHas("DEB", "Data available on first 61.XX APDU"));
    EXPECT_TRUE(logHas("DEB", "Final data size : 18 bytes"));

    uint16_t sw = 0;
    uint8_t data[64];
    ASSERT_TRUE(storeData(kGetEid, &sw, data, sizeof(data), &length));
    EXPECT_EQ(0x9000, sw);
    EXPECT_EQ(sixteen, Bytes(data, data + length));

    // Pieces of 8 bytes: data on the first 61 xx, then two GET RESPONSEs.
    sim().faults().clear();
    sim().faults().add(FaultRule::apdu(0xE2).pieces(8));
    ASSERT_TRUE(storeData(kGetEid, &sw, data, sizeof(data), &length));
    EXPECT_EQ(hexBytes("BF3E125A1089049032123451234512345678901235"), Bytes(data, data + length));
    EXPECT_TRUE(logHas("DEB", "Data available on first 61.XX APDU"));
    EXPECT_TRUE(logHas("DEB", "Partial data size : 8"));
    EXPECT_TRUE(logHas("DEB", "APDU R - SW is again 61.XX type"));
    EXPECT_TRUE(logHas("DEB", "Partial data size : 16 bytes"));
    EXPECT_EQ(0u, _lpaErrorCodePeek());
}

TEST_F(SeMedia, ChainsThatEndBadly)
{
    open();
    uint16_t sw = 0;
    uint8_t data[64];
    size_t length = 0;
    // 6D 00 instead of the second GET RESPONSE answer.
    sim().faults().add(FaultRule::apdu(0xE2).pieces(8));
    sim().faults().add(FaultRule::apdu(0xC0).statusWord(0x6D00).from(2));
    EXPECT_FALSE(storeData(kGetEid, &sw, data, sizeof(data), &length));
    EXPECT_EQ(0x801Eu, _lpaErrorCodePeek());
    EXPECT_TRUE(logHas("WAR", "SW 0x6D00 detected in chained GetResponse()!"));
    EXPECT_TRUE(logHas("ERR", "Incorrect data or invalid SW or error! (Too short response < 2)"));
    lpaResetErrorCode();

    // 61 xx answers without data end the chain at once.
    sim().faults().clear();
    sim().records().clear();
    sim().faults().add(FaultRule::apdu(0xE2).pieces(8));
    sim().faults().add(FaultRule::apdu(0xC0).empty61(0x10).always());
    EXPECT_FALSE(storeData(kGetEid, &sw, data, sizeof(data), &length));
    EXPECT_EQ(1u, commandsContaining("C00000"));
    EXPECT_TRUE(logHas("WAR", "90.00 or 91.xx or 61.XX Status Word expected !"));
    EXPECT_EQ(0u, _lpaErrorCodePeek());

    // 6C xx comes back as received, without a resend.
    sim().faults().clear();
    sim().records().clear();
    sim().faults().add(FaultRule::apdu(0xE2).statusWord(0x6C10));
    ASSERT_TRUE(storeData(kGetEid, &sw, data, sizeof(data), &length));
    EXPECT_EQ(0x6C10, sw);
    EXPECT_EQ(0u, length);
    EXPECT_EQ(1u, commands().size());
    EXPECT_TRUE(logHas("DEB", "APDU R - SW is 6C.XX type"));
    EXPECT_TRUE(logHas("DEB", "No data available from R-APDU"));

    // Data longer than the caller's capacity: nothing copied.
    std::memset(data, 0xEE, sizeof(data));
    EXPECT_FALSE(storeData(kGetEid, &sw, data, 4, &length));
    EXPECT_EQ(0xEE, data[0]);
    EXPECT_TRUE(logHas("ERR", "Data buffer size to small (Maximum allowed:4 bytes - needed:21 bytes)"));
}

class SelectFailure : public SeMedia, public ::testing::WithParamInterface<int> {};

TEST_P(SelectFailure, TwelveAttemptsThenTheConnectionStillCloses)
{
    uint16_t answer = static_cast<uint16_t>(GetParam());
    if (answer == 0x9000) {
        hbrsim::Seed seed;
        seed.euicc.selectAnswer = hbrsim::SelectAnswer::Bare9000;
        hbrsim::seam::reset(seed);
    } else {
        sim().faults().add(FaultRule::apdu(0xA4).statusWord(answer).always());
    }
    EXPECT_FALSE(_lpaManagerConnectReaderAndSelectISDR());
    EXPECT_EQ(static_cast<uint32_t>(LPA_ERROR_SE_MEDIA_UNABLE_TO_SELECT_ISDR), _lpaErrorCodePeek());
    EXPECT_EQ(12u, commandsContaining("A4040010"));
    // A status word without data is refused as too short, whatever it says.
    EXPECT_EQ(12u, logCount("ERR", "Incorrect data or invalid SW or error! (Too short response < 2)"));
    EXPECT_FALSE(LogText().find("selectISDRApplet success") != std::string::npos);
    EXPECT_TRUE(_lpaManagerUnselectISDRAndDisconnectReader());
    EXPECT_EQ(kCloseCommand, commands().back());
    EXPECT_FALSE(seMediaManagerIsContextEstablished());
}

INSTANTIATE_TEST_SUITE_P(Answers, SelectFailure, ::testing::Values(0x6D00, 0x6985, 0x6A82, 0x9000));

TEST_F(SeMedia, SelectAnswersThatCount)
{
    for (auto answer : {hbrsim::SelectAnswer::Fci91, hbrsim::SelectAnswer::T0}) {
        hbrsim::Seed seed;
        seed.euicc.selectAnswer = answer;
        hbrsim::seam::reset(seed);
        EXPECT_TRUE(_lpaManagerConnectReaderAndSelectISDR());
        EXPECT_TRUE(seMediaIsdrSelected);
        EXPECT_EQ(hbrsim::kIsdrFci, Bytes(seMediaSelectResponse, seMediaSelectResponse + hbrsim::kIsdrFci.size()));
        EXPECT_TRUE(_lpaManagerUnselectISDRAndDisconnectReader());
        EXPECT_FALSE(seMediaIsdrSelected);
    }
    EXPECT_EQ("AT+CSIM=10,\"01C0000076\"\r", commands()[2]);
    EXPECT_TRUE(logHas("DEB", "APDU SW:9110"));
    EXPECT_EQ(0u, _lpaErrorCodePeek());
}

TEST_F(SeMedia, LaterSuccessClearsTheSelectErrorUnlessOneStoodBefore)
{
    sim().faults().add(FaultRule::apdu(0xA4).responseData(hexBytes("6F00"), 0x6A82).repeat(2));
    EXPECT_TRUE(_lpaManagerConnectReaderAndSelectISDR());
    EXPECT_EQ(0u, _lpaErrorCodePeek());
    EXPECT_EQ(2u, logCount("ERR", "Incorrect SW received !"));
    EXPECT_TRUE(logHas("ERR", "selectISDRApplet success in cnt(2)"));
    EXPECT_TRUE(logHas("DEB", "lpaResetErrorCode()..."));
    EXPECT_EQ(3u, commandsContaining("A4040010"));

    // A stale connection is closed by the next open.
    sim().faults().add(FaultRule::apdu(0xA4).statusWord(0x6A82).once());
    lpaSetLastErrorCode(LPA_ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(_lpaManagerConnectReaderAndSelectISDR());
    EXPECT_EQ(static_cast<uint32_t>(LPA_ERROR_INVALID_PARAMETER), _lpaErrorCodePeek());
    EXPECT_TRUE(logHas("WAR", "seMediaManagerIsContextEstablished() = true -> do "
                              "_lpaManagerUnselectISDRAndDisconnectReader() ..."));
    EXPECT_EQ(2u, commandsContaining("AT+CSIM=10,\"0070000001\""));
    EXPECT_EQ(1u, commandsContaining("0070800100"));
    EXPECT_TRUE(_lpaManagerUnselectISDRAndDisconnectReader());
}

TEST_F(SeMedia, ConnectionErrorCodes)
{
    // Closing a connection that never opened.
    EXPECT_TRUE(_lpaManagerUnselectISDRAndDisconnectReader());
    EXPECT_EQ(0u, _lpaErrorCodePeek());
    EXPECT_TRUE(commands().empty());

    // The reader does not connect: 0x2008; the close releases the context.
    sim().faults().add(FaultRule::at("AT+CSIM=10,\"0070000001\"").reply("\r\nERROR\r\n"));
    EXPECT_FALSE(_lpaManagerConnectReaderAndSelectISDR());
    EXPECT_EQ(static_cast<uint32_t>(LPA_ERROR_SE_MEDIA_READER_CONNECTION), _lpaErrorCodePeek());
    EXPECT_TRUE(logHas("ERR", "Unable to connect reader !"));
    EXPECT_TRUE(_lpaManagerUnselectISDRAndDisconnectReader());
    EXPECT_FALSE(seMediaManagerIsContextEstablished());
    lpaResetErrorCode();

    // The channel does not close: 0x200A and the context stays.
    open();
    sim().faults().add(FaultRule::at("0070800100").reply("\r\n+CSIM: 4,\"6881\"\r\n\r\nOK\r\n"));
    EXPECT_FALSE(_lpaManagerUnselectISDRAndDisconnectReader());
    EXPECT_EQ(static_cast<uint32_t>(LPA_ERROR_SE_MEDIA_READER_NOT_DISCONNECTED), _lpaErrorCodePeek());
    EXPECT_TRUE(logHas("ERR", "_closeUICCChannel(): Problem while sending logical channel closing command!"));
    EXPECT_TRUE(_lpaManagerUnselectISDRAndDisconnectReader());
    lpaResetErrorCode();

    // No SE media: 0x2006; the close has nothing to do.
    ASSERT_TRUE(seMediaManagerUninitialize());
    EXPECT_FALSE(_lpaManagerConnectReaderAndSelectISDR());
    EXPECT_EQ(static_cast<uint32_t>(LPA_ERROR_SE_MEDIA_NOT_INITIALIZED), _lpaErrorCodePeek());
    EXPECT_TRUE(_lpaManagerUnselectISDRAndDisconnectReader());
    EXPECT_TRUE(logHas("ERR", "SEMedia not initialized !"));
    EXPECT_TRUE(logHas("DEB", "-- semedia_external :> Delete_SEMediaExternal()"));
}

namespace {
// A hand-made media whose behaviour each test sets.
struct Stub {
    bool establishResult = true;
    bool contextEstablished = false;
    bool stickyContext = false;  // release answers true but the context stays
    bool connected = false;
    int32_t status = 0;
    int disconnects = 0;
} g_stub;

bool stubEstablish(TSEMedia *)
{
    if (g_stub.establishResult) g_stub.contextEstablished = true;
    return g_stub.establishResult;
}
bool stubRelease(TSEMedia *)
{
    if (!g_stub.stickyContext) g_stub.contextEstablished = false;
    return true;
}
bool stubIsEstablished(TSEMedia *) { return g_stub.contextEstablished; }
bool stubConnect(TSEMedia *, const char *)
{
    g_stub.connected = true;
    return true;
}
bool stubIsConnected(TSEMedia *) { return g_stub.connected; }
bool stubTransmit(TSEMedia *, const uint8_t *, size_t, uint8_t *, size_t *) { return false; }
bool stubDisconnect(TSEMedia *)
{
    ++g_stub.disconnects;
    g_stub.connected = false;
    return true;
}
bool stubGetStatus(TSEMedia *, int32_t *status)
{
    *status = g_stub.status;
    return true;
}

class HandMadeMedia : public SeMedia {
protected:
    void SetUp() override
    {
        SeMedia::SetUp();
        real_ = _seMedia;
        std::memset(&media_, 0, sizeof(media_));
        media_.seMediaEstablishContext = stubEstablish;
        media_.seMediaReleaseContext = stubRelease;
        media_.seMediaIsContextEstablished = stubIsEstablished;
        media_.seMediaConnect = stubConnect;
        media_.seMediaIsConnected = stubIsConnected;
        media_.seMediaTransmitApdu = stubTransmit;
        media_.seMediaDisconnect = stubDisconnect;
        media_.seMediaGetStatus = stubGetStatus;
        g_stub = Stub();
        _seMedia = &media_;
    }
    void TearDown() override
    {
        _seMedia = real_;
        seMediaIsdrSelected = false;
        SeMedia::TearDown();
    }
    TSEMedia media_;
    TSEMedia *real_ = nullptr;
};
}  // namespace

TEST_F(HandMadeMedia, ContextFailures)
{
    g_stub.establishResult = false;
    EXPECT_FALSE(_lpaManagerConnectReaderAndSelectISDR());
    EXPECT_EQ(static_cast<uint32_t>(LPA_ERROR_SE_MEDIA_CONTEXT_NOT_ESTABLISHED), _lpaErrorCodePeek());
    EXPECT_TRUE(logHas("ERR", "Unable to establish SEMedia context !"));
    lpaResetErrorCode();

    g_stub = Stub();
    g_stub.contextEstablished = true;
    g_stub.stickyContext = true;
    EXPECT_FALSE(_lpaManagerConnectReaderAndSelectISDR());
    EXPECT_EQ(static_cast<uint32_t>(LPA_ERROR_SE_MEDIA_CONTEXT_NOT_RELEASED), _lpaErrorCodePeek());
    EXPECT_TRUE(logHas("ERR", "SEMedia context not released !"));
    lpaResetErrorCode();
    g_stub.stickyContext = false;
    EXPECT_TRUE(_lpaManagerUnselectISDRAndDisconnectReader());

    // A release that fails: 0x200A.
    g_stub.contextEstablished = true;
    media_.seMediaReleaseContext = nullptr;
    EXPECT_FALSE(_lpaManagerUnselectISDRAndDisconnectReader());
    EXPECT_EQ(static_cast<uint32_t>(LPA_ERROR_SE_MEDIA_READER_NOT_DISCONNECTED), _lpaErrorCodePeek());
    media_.seMediaReleaseContext = stubRelease;
    g_stub.contextEstablished = false;

    // With no establish member the wrapper answers false.
    lpaResetErrorCode();
    media_.seMediaEstablishContext = nullptr;
    EXPECT_FALSE(_lpaManagerConnectReaderAndSelectISDR());
    EXPECT_EQ(static_cast<uint32_t>(LPA_ERROR_SE_MEDIA_CONTEXT_NOT_ESTABLISHED), _lpaErrorCodePeek());
}

TEST_F(HandMadeMedia, CardRemovedDisconnects)
{
    g_stub.connected = true;
    g_stub.status = SE_MEDIA_STATUS_CARD_REMOVED;
    const uint8_t apdu[] = {0x00, 0xC0, 0x00, 0x00, 0x00};
    size_t length = SE_MEDIA_APDU_RESPONSE_SIZE;
    EXPECT_FALSE(seMediaManagerTransmitApdu(apdu, sizeof(apdu), &length));
    EXPECT_EQ(0u, length);
    EXPECT_EQ(1, g_stub.disconnects);
    EXPECT_TRUE(logHas("WAR", "Error during transmitAPDU process => Check Status..."));
    EXPECT_TRUE(logHas("WAR", "Card removed -> do disconnect !"));

    // Another status: no disconnect.
    g_stub.connected = true;
    g_stub.status = 4;
    length = SE_MEDIA_APDU_RESPONSE_SIZE;
    EXPECT_FALSE(seMediaManagerTransmitApdu(apdu, sizeof(apdu), &length));
    EXPECT_EQ(1, g_stub.disconnects);

    // No disconnect member.
    media_.seMediaDisconnect = nullptr;
    g_stub.status = SE_MEDIA_STATUS_CARD_REMOVED;
    EXPECT_FALSE(seMediaManagerTransmitApdu(apdu, sizeof(apdu), &length));
    EXPECT_TRUE(logHas("WAR", "_seMedia->seMediaDisconnect is NULL !"));
    EXPECT_EQ(0u, _lpaErrorCodePeek());
    // The close then records 0x200A and keeps the context.
    g_stub.contextEstablished = true;
    EXPECT_FALSE(_lpaManagerUnselectISDRAndDisconnectReader());
    EXPECT_EQ(static_cast<uint32_t>(LPA_ERROR_SE_MEDIA_READER_NOT_DISCONNECTED), _lpaErrorCodePeek());
    EXPECT_EQ(2u, logCount("WAR", "_seMedia->seMediaDisconnect is NULL !"));
}

namespace {
// Sends one ES10 request; answers its data with the status word checked.
Bytes es10(const Bytes &request)
{
    uint16_t sw = 0;
    std::vector<uint8_t> data(SE_MEDIA_APDU_RESPONSE_SIZE);
    size_t length = 0;
    RawDataObject *object = rawDataObject_create(request.data(), request.size());
    bool ok = buildAndSendStoreDataCase4(object, &sw, data.data(), data.size(), &length);
    rawDataObject_free(object);
    EXPECT_TRUE(ok);
    EXPECT_EQ(0x9000, sw);
    return ok ? Bytes(data.begin(), data.begin() + static_cast<long>(length)) : Bytes();
}
}  // namespace

TEST_F(SeMedia, Es10RequestsThroughTheApduLayer)
{
    using hbrsim::iccidFromDigits;
    using hbrsim::NotificationEvent;
    using hbrsim::tlv;
    hbrsim::Seed seed;
    seed.profile(hbrsim::ProfileBuilder("8944000000000000011").enabled().name("One")
                     .notifyOn(NotificationEvent::Disable, "dp.example"));
    seed.profile(hbrsim::ProfileBuilder("8944000000000000022").name("Two").profileClass(hbrsim::ClassTest)
                     .notifyOn(NotificationEvent::Enable, "dp.example"));
    seed.notification(200, NotificationEvent::Install, "dp.example", "8944000000000000022");
    seed.defaultDpAddress("dp.example");
    hbrsim::seam::reset(seed);
    open();
    const Bytes one = iccidFromDigits("8944000000000000011");
    const Bytes two = iccidFromDigits("8944000000000000022");

    EXPECT_EQ(tlv(0xBF2D, tlv(0xA0, {tlv(0xE3, tlv(0x5A, one)), tlv(0xE3, tlv(0x5A, two))})),
              es10(hexBytes("BF2D035C015A")));
    Bytes list = es10(hexBytes("BF2D075C055A9F709592"));
    EXPECT_NE(std::string::npos, hbrsim::toHex(list).find(hbrsim::toHex(tlv(0x92, Bytes{'T', 'w', 'o'}))));
    EXPECT_EQ(hexBytes("BF3103800100"), es10(tlv(0xBF31, {tlv(0xA0, tlv(0x5A, two)), hexBytes("8101FF")})));
    EXPECT_EQ(hexBytes("BF3203800100"), es10(tlv(0xBF32, {tlv(0xA0, tlv(0x5A, two)), hexBytes("8101FF")})));
    EXPECT_EQ(hexBytes("BF2903800100"), es10(tlv(0xBF29, {tlv(0x5A, one), tlv(0x90, Bytes{'m', 'e'})})));
    EXPECT_EQ("me", sim().euicc.isdr.findByIccid(one)->nickname);
    EXPECT_EQ(hexBytes("BF3303800100"), es10(tlv(0xBF33, tlv(0x5A, one))));
    EXPECT_EQ(hexBytes("BF3403800100"), es10(hexBytes("BF340482020640")));
    EXPECT_TRUE(sim().state().profiles.empty());

    auto text = [](const char *t) { return Bytes(t, t + std::strlen(t)); };
    EXPECT_EQ(tlv(0xBF3C, {tlv(0x80, text("dp.example")), tlv(0x81, text("lpa.ds.gsma.com"))}), es10(hexBytes("BF3C00")));
    EXPECT_EQ(hexBytes("BF3F03800100"), es10(hexBytes("BF3F028000")));
    EXPECT_FALSE(sim().state().defaultDpAddress.has_value());

    // Notifications: the seeded install, then the disable of One (switched
    // off by the enable of Two) and the enable of Two.
    Bytes listed = es10(hexBytes("BF2800"));
    EXPECT_NE(std::string::npos, hbrsim::toHex(listed).find("800200C8"));
    Bytes pir = es10(hexBytes("BF2B06A004800200C8"));
    EXPECT_NE(std::string::npos, hbrsim::toHex(pir).find("BF37"));
    EXPECT_EQ(hexBytes("BF3003800100"), es10(hexBytes("BF3004800200C8")));
    EXPECT_EQ(2u, sim().state().notifications.size());
    EXPECT_EQ(0u, _lpaErrorCodePeek());
}
