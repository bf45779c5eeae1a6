// Loading bound profile packages into the simulated eUICC: the segments on
// the wire, package errors, PIR handling, status words, transport failures,
// long element lists, and the PIR's sequence number.
#include <gtest/gtest.h>

#include "download_test_util.h"

using namespace hbr_test;
using hbrsim::FaultRule;

namespace {

const Bytes kTxid(16, 0x3C);

class BppLoad : public DownloadFixture {
protected:
    void SetUp() override
    {
        DownloadFixture::SetUp();
        PrepareSession(kTxid);
    }
    // A package whose metadata goes in two 88 elements.
    static PackageShape TwoPieces()
    {
        PackageShape shape;
        shape.piece = (Metadata(shape).size() + 1) / 2;
        return shape;
    }
    std::vector<Bytes> Requests() const
    {
        std::vector<Bytes> out;
        for (const auto &r : LoadRequests()) out.push_back(r.request);
        return out;
    }
    size_t ElementRequests() const
    {
        size_t n = 0;
        for (const auto &r : LoadRequests()) n += !r.request.empty() && r.request[0] == 0x86;
        return n;
    }
};

// The header (tag and length) of a TLV with this content.
Bytes Header(uint32_t tag, const Bytes &content)
{
    Bytes whole = Tlv(tag, content);
    return Bytes(whole.begin(), whole.end() - static_cast<long>(content.size()));
}

TEST_F(BppLoad, NineRequestsWithoutA2)
{
    Bytes package = Package(kTxid, TwoPieces());
    ASSERT_TRUE(Load(package));
    EXPECT_EQ(TakeError(), LPA_NO_ERROR);
    EXPECT_FALSE(packageError_);
    std::vector<Bytes> requests = Requests();
    ASSERT_EQ(requests.size(), 9u);
    // Segment 1: BF36, the length of the whole content, then BF23.
    Bytes content = FindTlv(package, 0xBF36);
    Bytes bf23 = Tlv(0xBF23, FindTlv(content, 0xBF23));
    EXPECT_EQ(requests[0], Cat({Header(0xBF36, content), bf23}));
    EXPECT_EQ(requests[1], Tlv(0xA0, FindTlv(content, 0xA0)));
    Bytes a1 = FindTlv(content, 0xA1);
    EXPECT_EQ(requests[2], Header(0xA1, a1));
    EXPECT_EQ(requests[3][0], 0x88);
    EXPECT_EQ(Cat({requests[3], requests[4]}), a1);
    EXPECT_EQ(requests[5], Header(0xA3, FindTlv(content, 0xA3)));
    EXPECT_EQ(requests[8], Tlv(0x86, Bytes(40, 2)));
    EXPECT_TRUE(logHas("WAR", "No Replace Session Key"));
    // The PIR and the installed profile.
    ASSERT_TRUE(pir_.received);
    EXPECT_EQ(pir_.raw->data[0], 0xBF);
    EXPECT_EQ(pir_.base64->length, Base64(Bytes(pir_.raw->data, pir_.raw->data + pir_.raw->length)).size() + 1);
    ASSERT_EQ(sim().state().profiles.size(), 1u);
    EXPECT_EQ(sim().state().profiles[0].state, 0);
    EXPECT_EQ(hbrsim::iccidToDigits(sim().state().profiles[0].iccid), "8944476500001234567F");
    EXPECT_TRUE(logHas("DEB", "Sending Segment \"88\" >>>> #2"));
    EXPECT_TRUE(logHas("DEB", "Sending Segment \"86\" >>>> #3"));
    EXPECT_TRUE(logHas("DEB", "Tag <A1> found ==> value (" + std::to_string(a1.size()) + " bytes) :"));
}

TEST_F(BppLoad, TenRequestsWithA2)
{
    PackageShape shape = TwoPieces();
    shape.withA2 = true;
    ASSERT_TRUE(Load(Package(kTxid, shape)));
    std::vector<Bytes> requests = Requests();
    ASSERT_EQ(requests.size(), 10u);
    EXPECT_EQ(requests[5], Tlv(0xA2, Tlv(0x87, Bytes(24, 7))));
    EXPECT_EQ(requests[6][0], 0xA3);
    EXPECT_FALSE(logHas("WAR", "No Replace Session Key"));
}

TEST_F(BppLoad, PackageErrorsBeforeAnythingIsSent)
{
    PackageShape three;
    three.onlyThreeObjects = true;
    EXPECT_FALSE(Load(Package(kTxid, three)));
    EXPECT_TRUE(packageError_);
    EXPECT_EQ(TakeError(), LPA_ERROR_INVALID_BPP_DATA);
    EXPECT_TRUE(logHas("ERR", "Cannot generate main BPP objects list or not enough element found (3, at least 4 needed)"));
    EXPECT_TRUE(Requests().empty());

    PackageShape unknown;
    unknown.extraBeforeA3 = Tlv(0x99, Bytes{1, 2});
    EXPECT_FALSE(Load(Package(kTxid, unknown)));
    EXPECT_TRUE(packageError_);
    EXPECT_EQ(TakeError(), LPA_ERROR_INVALID_BPP_DATA);
    EXPECT_TRUE(logHas("ERR", "Object with unknown tag \"99\" found, canceling download..."));
    EXPECT_TRUE(Requests().empty());

    // No package, or no BF36.
    hbr_test::FreeServerData(&data_);
    packageError_ = false;
    EXPECT_FALSE(lpaManagerES10b_LoadBoundProfilePackage(&data_, &pir_, &packageError_));
    EXPECT_FALSE(packageError_);
    EXPECT_EQ(TakeError(), LPA_ERROR_FAILED_LOAD_BPP);
    EXPECT_FALSE(Load(Tlv(0xBF37, Bytes{1})));
    EXPECT_TRUE(packageError_);
    EXPECT_EQ(TakeError(), LPA_ERROR_INVALID_BPP_DATA);
}

TEST_F(BppLoad, UnknownTagAfterA3IsNotLookedAt)
{
    PackageShape shape;
    shape.extraAfterA3 = Tlv(0x99, Bytes{1, 2});
    EXPECT_TRUE(Load(Package(kTxid, shape)));
    EXPECT_TRUE(logHas("DEB", "Bound Profile Package main objects checked successfully"));
}

TEST_F(BppLoad, An87InsideA3FailsBeforeAny86)
{
    PackageShape shape;
    shape.extraInsideA3 = Tlv(0x87, Bytes{1});
    EXPECT_FALSE(Load(Package(kTxid, shape)));
    EXPECT_TRUE(packageError_);
    EXPECT_EQ(TakeError(), LPA_ERROR_INVALID_BPP_DATA);
    EXPECT_TRUE(logHas("ERR", "Unexpected TLV found in TLV A3! (NULL or not \"86\" tag)"));
    EXPECT_TRUE(logHas("ERR", "Error detected in tag A3 data object"));
    EXPECT_EQ(ElementRequests(), 0u);
    EXPECT_EQ(Requests().back()[0], 0xA3);  // the header went out
}

TEST_F(BppLoad, UnexpectedTagAfterThe88Elements)
{
    PackageShape shape;
    shape.piece = 30;
    shape.extraInsideA1 = Tlv(0x99, Bytes{1});
    size_t pieces = (Metadata(shape).size() + 29) / 30;
    EXPECT_FALSE(Load(Package(kTxid, shape)));
    EXPECT_TRUE(packageError_);
    EXPECT_EQ(TakeError(), LPA_ERROR_INVALID_BPP_DATA);
    EXPECT_TRUE(logHas("ERR", "Unexpected TLV found in TLV A1! (NULL or not \"88\" tag)"));
    EXPECT_TRUE(logHas("ERR", "Error detected in tag A1 data object"));
    EXPECT_EQ(Requests().size(), 3 + pieces);  // the 88 elements met before it were sent
}

TEST_F(BppLoad, PirAnsweringTheA1Header)
{
    download().knobs.pirOnSegment = 3;
    download().knobs.pirOnSegmentSuccess = false;
    EXPECT_FALSE(Load(Package(kTxid, PackageShape())));
    EXPECT_FALSE(packageError_);
    EXPECT_EQ(TakeError(), LPA_ERROR_FAILED_STORE_META_DATA);
    EXPECT_TRUE(logHas("ERR", "Failed to send Store Metadata"));
    EXPECT_TRUE(pir_.received);
    EXPECT_EQ(Requests().size(), 3u);

    PrepareSession(kTxid);
    download().knobs.pirOnSegmentSuccess = true;
    EXPECT_FALSE(Load(Package(kTxid, PackageShape())));
    EXPECT_EQ(TakeError(), LPA_ERROR_FAILED_STORE_META_DATA);
    EXPECT_TRUE(logHas("ERR", "Failed to send Store Metadata (PIR has result)"));
    EXPECT_EQ(Requests().size(), 3u);
    EXPECT_TRUE(_isPIRContainsSuccessResult(&pir_));
}

TEST_F(BppLoad, FinalPirWithErrorOrNone)
{
    download().knobs.maxProfiles = 0;
    EXPECT_FALSE(Load(Package(kTxid, PackageShape())));
    EXPECT_EQ(TakeError(), LPA_ERROR_FAILED_LOAD_PROFILE_ELEMENTS);
    EXPECT_TRUE(logHas("ERR", "Failed to load profile elements!"));
    EXPECT_TRUE(logHas("ERR", "Failed to load profile elements "));
    EXPECT_TRUE(pir_.received);
    EXPECT_FALSE(_isPIRContainsSuccessResult(&pir_));
    Bytes final = FindTlv(FindTlv(FindTlv(Bytes(pir_.raw->data, pir_.raw->data + pir_.raw->length), 0xBF37), 0xBF27), 0xA2);
    EXPECT_EQ(final, Tlv(0xA1, Cat({Tlv(0x80, Bytes{5}), Tlv(0x81, Bytes{10})})));

    PrepareSession(kTxid);
    download().knobs.maxProfiles = 8;
    download().knobs.noFinalPir = true;
    EXPECT_FALSE(Load(Package(kTxid, PackageShape())));
    EXPECT_EQ(TakeError(), LPA_ERROR_FAILED_LOAD_PROFILE_ELEMENTS);
    EXPECT_FALSE(pir_.received);
    EXPECT_TRUE(sim().state().profiles.empty());
}

TEST_F(BppLoad, EarlySuccessResultAtAn86)
{
    download().knobs.pirOnSegment = 7;  // BF36, A0, A1, 88, A3, 86 #1, 86 #2
    PackageShape shape;
    shape.piece = 500;
    EXPECT_TRUE(Load(Package(kTxid, shape)));
    EXPECT_TRUE(logHas("ERR", "Not reach the last segment for loading!"));
    EXPECT_EQ(ElementRequests(), 2u);
    EXPECT_EQ(TakeError(), LPA_NO_ERROR);
}

TEST_F(BppLoad, StatusWordsAndTransportFailures)
{
    download().knobs.badSwSegment = 2;
    EXPECT_FALSE(Load(Package(kTxid, PackageShape())));
    EXPECT_EQ(TakeError(), LPA_ERROR_LOCAL_PROFILE_INCORRECT_CARD_RESPONSE);
    EXPECT_TRUE(logHas("ERR", "Failed to send Configure ISDP "));
    EXPECT_EQ(Requests().size(), 2u);

    PackageShape shape;
    shape.piece = 500;
    PrepareSession(kTxid);
    download().knobs.badSwSegment = 6;  // the first 86
    EXPECT_FALSE(Load(Package(kTxid, shape)));
    EXPECT_EQ(TakeError(), LPA_ERROR_INVALID_SW);
    EXPECT_TRUE(logHas("ERR", "Failed to load profile elements "));

    // The exchange of the first 86 fails: a one-byte answer.
    PrepareSession(kTxid);
    download().knobs.badSwSegment = 0;
    sim().faults().add(FaultRule::apdu(0xE2).from(6).wholeResponse(Bytes{0x90}));
    EXPECT_FALSE(Load(Package(kTxid, shape)));
    EXPECT_EQ(TakeError(), LPA_ERROR_FAILED_LOAD_BPP);
    EXPECT_EQ(ElementRequests(), 0u);
}

TEST_F(BppLoad, PirOf401Bytes)
{
    // Learn the size of the PIR's BF27 part from a first load.
    ASSERT_TRUE(Load(Package(kTxid, PackageShape())));
    Bytes first(pir_.raw->data, pir_.raw->data + pir_.raw->length);
    size_t bf27 = FindTlv(FindTlv(first, 0xBF37), 0xBF27).size();
    size_t bf27Tlv = 2 + (bf27 < 0x80 ? 1 : 2) + bf27;
    // BF37 82 xx xx { BF27 ..., 5F37 82 xx xx (64 + padding) }.
    download().knobs.pirPadding = 401 - 5 - bf27Tlv - 5 - 64;
    PrepareSession(kTxid);
    PackageShape shape;
    shape.iccid = "8944476500001234568";
    EXPECT_FALSE(Load(Package(kTxid, shape)));
    ASSERT_EQ(LoadRequests().back().response.size(), 401u);
    EXPECT_EQ(TakeError(), LPA_ERROR_FAILED_LOAD_BPP);  // more than the 86 exchange's 400 bytes
    EXPECT_TRUE(logHas("ERR", "Data buffer size to small (Maximum allowed:400 bytes - needed:401 bytes)"));
    // The record keeps the last PIR it held.
    EXPECT_EQ(Bytes(pir_.raw->data, pir_.raw->data + pir_.raw->length), first);
    EXPECT_FALSE(pir_.received);

    // A PIR over 400 bytes answering an earlier segment cannot be kept either.
    PrepareSession(kTxid);
    download().knobs.pirPadding += 10;
    download().knobs.pirOnSegment = 3;
    download().knobs.pirOnSegmentSuccess = true;
    EXPECT_FALSE(Load(Package(kTxid, shape)));
    EXPECT_TRUE(logHas("ERR", " Failed to extract / convert PIR data!"));
    EXPECT_FALSE(pir_.received);
}

TEST_F(BppLoad, LongElementLists)
{
    PackageShape many;
    many.piece = 500;
    many.elements.assign(260, 3);
    ASSERT_TRUE(Load(Package(kTxid, many)));
    EXPECT_EQ(ElementRequests(), 260u);
    EXPECT_TRUE(logHas("DEB", "countTLVFoundInsideA3 : 260"));
    EXPECT_TRUE(logHas("DEB", "Sending Segment \"86\" >>>> #260"));
    EXPECT_EQ(Requests()[4].size(), 4u);  // A3 82 xx xx

    PrepareSession(kTxid);
    PackageShape big;
    big.iccid = "8944476500001234569";
    big.elements = {600};
    ASSERT_TRUE(Load(Package(kTxid, big)));
    EXPECT_EQ(LoadRequests().back().request, Tlv(0x86, Bytes(600, 0)));
}

TEST_F(BppLoad, MemoryComesBackOnEveryPath)
{
    // Failures at each step; only the PIR record and the package stay.
    uint32_t before = lpaCoreMemoryTestCounters().liveBlocks;
    PackageShape broken;
    broken.extraInsideA3 = Tlv(0x87, Bytes{1});
    EXPECT_FALSE(Load(Package(kTxid, broken)));
    download().knobs.maxProfiles = 0;
    PrepareSession(kTxid);
    EXPECT_FALSE(Load(Package(kTxid, PackageShape())));
    EXPECT_TRUE(pir_.received);
    hbr_test::FreeServerData(&data_);
    lpaManagerFreeRawDataPair(&pair_);
    rawDataObject_free(pir_.raw);
    rawDataObject_free(pir_.base64);
    pir_.raw = pir_.base64 = nullptr;
    EXPECT_LE(lpaCoreMemoryTestCounters().liveBlocks, before);
    TakeError();
}

// ---------------------------------------------------------------------------
// The PIR's sequence number

class SequenceNumber : public DownloadFixture {
protected:
    bool Extract(const Bytes &pir, uint16_t *seq)
    {
        rawDataObject_free(pir_.raw);
        pir_.raw = pir.empty() ? nullptr : rawDataObject_create(pir.data(), pir.size());
        return extractSeqNumbFromPIR(&pir_, seq);
    }
    static Bytes PirWithSeq(const Bytes &seq)
    {
        return Tlv(0xBF37, Cat({Tlv(0xBF27, Cat({Tlv(0x80, Bytes(16, 1)), Tlv(0xBF2F, Cat({Tlv(0x80, seq), Tlv(0x81, HexToBytes("0780"))})),
                                                 Tlv(0xA2, Tlv(0xA0, Bytes()))})),
                                Tlv(0x5F37, Bytes(64, 0))}));
    }
};

TEST_F(SequenceNumber, WholeIntegerOfUpTo16Bits)
{
    uint16_t seq = 0;
    ASSERT_TRUE(Extract(PirWithSeq(HexToBytes("07")), &seq));
    EXPECT_EQ(seq, 7);
    ASSERT_TRUE(Extract(PirWithSeq(HexToBytes("00C8")), &seq));
    EXPECT_EQ(seq, 200);
    ASSERT_TRUE(Extract(PirWithSeq(HexToBytes("000203")), &seq));
    EXPECT_EQ(seq, 0x0203);
    ASSERT_TRUE(Extract(PirWithSeq(HexToBytes("0000FFFF")), &seq));
    EXPECT_EQ(seq, 0xFFFF);
    seq = 77;
    EXPECT_FALSE(Extract(PirWithSeq(HexToBytes("010203")), &seq));
    EXPECT_FALSE(Extract(PirWithSeq(HexToBytes("0000000001")), &seq));
    EXPECT_EQ(seq, 77);
    EXPECT_EQ(logCount("ERR", "Failed to get sequence number from installation result! "), 2u);
    EXPECT_TRUE(logHas("DEB", "The sequence number is : 203"));
}

TEST(SequenceNumberEncoding, MinimalDerIntegerThatDecodesBack)
{
    const std::vector<std::pair<uint16_t, std::string>> cases = {
        {0, "00"},      {1, "01"},        {127, "7F"},      {128, "0080"},     {200, "00C8"},
        {255, "00FF"},  {256, "0100"},    {300, "012C"},    {32767, "7FFF"},   {32768, "008000"},
        {40000, "009C40"}, {65535, "00FFFF"}};
    for (const auto &c : cases) {
        uint8_t out[LPA_SEQUENCE_NUMBER_MAX_BYTES] = {};
        size_t n = lpaManagerEncodeSequenceNumber(c.first, out);
        EXPECT_EQ(BytesToHex(Bytes(out, out + n)), c.second) << c.first;
        uint16_t back = 0;
        EXPECT_TRUE(lpaManagerDecodeSequenceNumber(out, n, &back));
        EXPECT_EQ(back, c.first);
    }
}

TEST_F(SequenceNumber, MissingPartsAndEmptyRecord)
{
    uint16_t seq = 0;
    EXPECT_FALSE(Extract(Bytes(), &seq));
    EXPECT_TRUE(logHas("ERR", " Invalid installation result! "));
    EXPECT_FALSE(extractSeqNumbFromPIR(nullptr, &seq));
    EXPECT_FALSE(Extract(Tlv(0xBF36, Bytes{1}), &seq));
    EXPECT_TRUE(logHas("ERR", " Not Found Tag <BF37> ! "));
    EXPECT_FALSE(Extract(Tlv(0xBF37, Tlv(0x5F37, Bytes{1})), &seq));
    EXPECT_TRUE(logHas("ERR", " Not Found Tag <BF27> ! "));
    EXPECT_FALSE(Extract(Tlv(0xBF37, Tlv(0xBF27, Tlv(0x80, Bytes(16, 1)))), &seq));
    EXPECT_TRUE(logHas("ERR", " Not Found Tag <BF2F> ! "));
    EXPECT_FALSE(Extract(Tlv(0xBF37, Tlv(0xBF27, Tlv(0xBF2F, Tlv(0x81, Bytes{7, 0x80})))), &seq));
    EXPECT_TRUE(logHas("ERR", " Not Found Tag <80> ! "));
}

TEST_F(SequenceNumber, EncodingsFromTheSimulatedEuicc)
{
    const std::vector<std::pair<std::string, int>> cases = {
        {"07", 7}, {"000203", 0x0203}, {"010203", -1}, {"0000000007", -1}};
    for (const auto &c : cases) {
        PrepareSession(kTxid);
        download().knobs.pirSeq = HexToBytes(c.first);
        PackageShape shape;
        shape.iccid = "89000000000000000" + std::to_string(10 + (&c - &cases[0]));
        ASSERT_TRUE(Load(Package(kTxid, shape))) << c.first;
        uint16_t seq = 0;
        EXPECT_EQ(extractSeqNumbFromPIR(&pir_, &seq), c.second >= 0) << c.first;
        if (c.second >= 0) {
            EXPECT_EQ(seq, c.second);
        }
    }
}

}  // namespace
