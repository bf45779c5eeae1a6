// The ES10b requests against the simulated eUICC: answers, pairs, size
// limits, the requests on the wire and the status word rule.
#include <gtest/gtest.h>

#include "download_test_util.h"

using namespace hbr_test;
using hbrsim::FaultRule;

namespace {

class Es10b : public DownloadFixture {
protected:
    const hbrsim::Es10Record &LastRequest() const { return sim().records().es10.back(); }
};

TEST_F(Es10b, ChallengeWith9000And9110)
{
    ASSERT_TRUE(lpaManagerES10b_GetEuiccChallenge(&pair_));
    EXPECT_EQ(Pair(pair_).size(), 16u);
    EXPECT_EQ(pair_.base64->length, 25u);
    EXPECT_EQ(PairText(pair_), Base64(Pair(pair_)));
    EXPECT_EQ(LastRequest().request, HexToBytes("BF2E00"));

    Bytes answer = Tlv(0xBF2E, Tlv(0x80, Bytes(16, 0xC3)));
    sim().faults().add(FaultRule::apdu(0xE2).responseData(answer, 0x9110));
    ASSERT_TRUE(lpaManagerES10b_GetEuiccChallenge(&pair_));
    EXPECT_EQ(Pair(pair_), Bytes(16, 0xC3));
    EXPECT_EQ(TakeError(), LPA_NO_ERROR);

    // Another status word, or an answer without 80, fails.
    sim().faults().add(FaultRule::apdu(0xE2).responseData(answer, 0x6A80));
    EXPECT_FALSE(lpaManagerES10b_GetEuiccChallenge(&pair_));
    EXPECT_EQ(TakeError(), LPA_ERROR_INVALID_SW);
    EXPECT_EQ(pair_.raw, nullptr);
    sim().faults().add(FaultRule::es10(0xBF2E).es10Answer(Tlv(0xBF2E, Tlv(0x81, Bytes(16, 1)))));
    EXPECT_FALSE(lpaManagerES10b_GetEuiccChallenge(&pair_));
    EXPECT_EQ(TakeError(), LPA_ERROR_INVALID_GET_UICC_CHALLENGE);
    EXPECT_TRUE(logHas("ERR", "Invalid Raw Data for EuiccChallenge !"));
}

TEST_F(Es10b, PairsCarryTheWholeBase64TextAndItsNul)
{
    for (size_t n : {1u, 2u, 4u, 5u, 7u, 10u, 13u}) {
        Bytes data(n);
        for (size_t i = 0; i < n; ++i) data[i] = static_cast<uint8_t>(0xF0 + i);
        ASSERT_TRUE(_storeHexBase64StructureRawDataPair(&pair_.raw, &pair_.base64, data.data(), n, 384)) << n;
        std::string expected = Base64(data);
        EXPECT_EQ(expected.size(), 4 * ((n + 2) / 3));
        EXPECT_EQ(pair_.base64->length, expected.size() + 1) << n;
        EXPECT_EQ(pair_.base64->data[expected.size()], '\0');
        EXPECT_EQ(PairText(pair_), expected) << n;
        EXPECT_EQ(Pair(pair_), data);
    }
    // Out of bounds or empty: refused, the pair as it was.
    uint8_t byte = 1;
    EXPECT_FALSE(_storeHexBase64StructureRawDataPair(&pair_.raw, &pair_.base64, &byte, 0, 384));
    EXPECT_EQ(TakeError(), LPA_ERROR_INVALID_PARAMETER);
    Bytes big(385, 1);
    EXPECT_FALSE(_storeHexBase64StructureRawDataPair(&pair_.raw, &pair_.base64, big.data(), big.size(), 384));
    EXPECT_EQ(TakeError(), LPA_ERROR_INSUFFICIENT_BUFFER);
    // A failed allocation leaves both NULL.
    lpaCoreMemorySetParamGenerateErr(4, 2);  // the copy of the two raw bytes
    EXPECT_FALSE(_storeHexBase64StructureRawDataPair(&pair_.raw, &pair_.base64, big.data(), 2, 384));
    lpaCoreMemorySetParamGenerateErr(4, 0);
    EXPECT_EQ(pair_.raw, nullptr);
    EXPECT_EQ(pair_.base64, nullptr);
    EXPECT_EQ(TakeError(), LPA_ERROR_INSUFFICIENT_BUFFER);
}

TEST_F(Es10b, EuiccInfo1SizeLimit)
{
    ASSERT_TRUE(lpaManagerES10b_GetEuiccInfo1(&pair_));
    EXPECT_EQ(Pair(pair_), sim().euicc.isdr.euiccInfo1());
    download().euiccInfo1 = Tlv(0xBF20, Bytes(379, 0));
    ASSERT_EQ(download().euiccInfo1.size(), 384u);
    EXPECT_TRUE(lpaManagerES10b_GetEuiccInfo1(&pair_));
    download().euiccInfo1 = Tlv(0xBF20, Bytes(380, 0));
    ASSERT_EQ(download().euiccInfo1.size(), 385u);
    EXPECT_FALSE(lpaManagerES10b_GetEuiccInfo1(&pair_));
    EXPECT_EQ(TakeError(), LPA_ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(pair_.raw, nullptr);
}

TEST_F(Es10b, AuthenticateServerRequestAndAnswers)
{
    ASSERT_TRUE(lpaManagerES10b_GetEuiccChallenge(&pair_));
    Bytes txid(16, 0x71);
    FillServerData1(txid, 500);
    RawDataObject *ctx = CtxParams1("MATCH");
    sim().records().clear();
    ASSERT_TRUE(lpaManagerES10b_AuthenticateServer(&data_, ctx, &pair_));
    // The request: BF38 of the five values as they are, in STORE DATA blocks.
    Bytes expected = Tlv(0xBF38, Cat({FieldBytes(data_._serverSigned1), FieldBytes(data_._serverSignature1),
                                      FieldBytes(data_._euiccCiPKIdToBeUsed), FieldBytes(data_._serverCertificate),
                                      Bytes(ctx->data, ctx->data + ctx->length)}));
    EXPECT_EQ(LastRequest().request, expected);
    std::vector<uint8_t> p1;
    for (const auto &r : sim().records().apdus) {
        if (r.apdu.size() > 2 && r.apdu[1] == 0xE2) p1.push_back(r.apdu[2]);
    }
    ASSERT_EQ(p1.size(), (expected.size() + 254) / 255);
    EXPECT_EQ(p1.front(), 0x11);
    EXPECT_EQ(p1.back(), 0x91);
    EXPECT_EQ(Pair(pair_).front(), 0xBF);
    EXPECT_EQ(download().matchingId(), Bytes({'M', 'A', 'T', 'C', 'H'}));

    // Both A0 and A1 in BF38: refused with no code.
    sim().faults().add(FaultRule::es10(0xBF38).es10Answer(Tlv(0xBF38, Cat({Tlv(0xA0, Bytes{1}), Tlv(0xA1, Bytes{2})}))));
    EXPECT_FALSE(lpaManagerES10b_AuthenticateServer(&data_, ctx, &pair_));
    EXPECT_EQ(TakeError(), LPA_NO_ERROR);
    EXPECT_TRUE(logHas("ERR", "Only one tag must be present inside BF38 !"));
    EXPECT_TRUE(logHas("WAR", "Authenticate server response does not contain authenticateResponseOk !"));
    EXPECT_EQ(pair_.raw, nullptr);
    // A1 alone (no session any more): refused, no code.
    EXPECT_FALSE(lpaManagerES10b_AuthenticateServer(&data_, ctx, &pair_));
    EXPECT_TRUE(logHas("DEB", "authenticateResponseError detected"));
    EXPECT_EQ(TakeError(), LPA_NO_ERROR);
    // A request over 4,500 bytes is not sent.
    size_t before = sim().records().es10.size();
    SetField(&data_._serverCertificate, Tlv(0x30, Bytes(4500, 0)));
    EXPECT_FALSE(lpaManagerES10b_AuthenticateServer(&data_, ctx, &pair_));
    EXPECT_EQ(TakeError(), LPA_ERROR_INSUFFICIENT_BUFFER);
    EXPECT_TRUE(logHas("ERR", "ptrRawDataAuthenticateServer->rawData too small to be updated !"));
    EXPECT_EQ(sim().records().es10.size(), before);
    // A missing field: nothing is sent.
    SetField(&data_._serverSignature1, Bytes());
    EXPECT_FALSE(lpaManagerES10b_AuthenticateServer(&data_, ctx, &pair_));
    EXPECT_TRUE(logHas("ERR", "incorrect parameter(s) !"));
    EXPECT_EQ(sim().records().es10.size(), before);
    rawDataObject_free(ctx);
}

TEST_F(Es10b, PrepareDownloadHashCcAndLimits)
{
    Bytes txid(16, 0x72);
    ASSERT_TRUE(lpaManagerES10b_GetEuiccChallenge(&pair_));
    FillServerData1(txid);
    RawDataObject *ctx = CtxParams1();
    ASSERT_TRUE(lpaManagerES10b_AuthenticateServer(&data_, ctx, &pair_));
    rawDataObject_free(ctx);
    FillServerData2(txid);
    const Bytes base = Cat({FieldBytes(data_._smdpSigned2), FieldBytes(data_._smdpSignature2)});
    const std::string hash64 = "00112233445566778899AABBCCDDEEFF00112233445566778899aabbccddeeff";
    for (const std::string &hash : {hash64.substr(0, 63), hash64 + "0"}) {
        lpaManagerES10b_PrepareDownload(&data_, hash.c_str(), &pair_);
        EXPECT_EQ(LastRequest().request, Tlv(0xBF21, Cat({base, FieldBytes(data_._smdpCertificate)}))) << hash.size();
        EXPECT_TRUE(logHas("DEB", "Confirmation Code hash empty or incorrect length, hashCc TLV not added."));
    }
    // The session moved on with the first; a new one for the 64-character hash.
    ASSERT_TRUE(lpaManagerES10b_GetEuiccChallenge(&pair_));
    FillServerData1(txid);
    ctx = CtxParams1();
    ASSERT_TRUE(lpaManagerES10b_AuthenticateServer(&data_, ctx, &pair_));
    rawDataObject_free(ctx);
    ASSERT_TRUE(lpaManagerES10b_PrepareDownload(&data_, hash64.c_str(), &pair_));
    EXPECT_EQ(LastRequest().request,
              Tlv(0xBF21, Cat({base, Tlv(0x04, HexToBytes(hash64)), FieldBytes(data_._smdpCertificate)})));
    Bytes answer = Pair(pair_);
    EXPECT_EQ(FindTlv(FindTlv(FindTlv(answer, 0xBF21), 0xA0), 0x30).size() > 0, true);
    EXPECT_EQ(TakeError(), LPA_NO_ERROR);

    size_t before = sim().records().es10.size();
    std::string bad = hash64;
    bad[10] = 'G';
    EXPECT_FALSE(lpaManagerES10b_PrepareDownload(&data_, bad.c_str(), &pair_));
    EXPECT_TRUE(logHas("DEB", "hexStr2ByteArray() => error: G or 5 is not hex digit! "));
    EXPECT_TRUE(logHas("ERR", "Error when updating ptrRawData !"));
    // The content of BF21 over 4,499 bytes.
    size_t fixed = base.size() + 4;  // certificate tag and 82 xx xx
    SetField(&data_._smdpCertificate, Tlv(0x30, Bytes(4499 - fixed, 0)));
    ASSERT_EQ(base.size() + data_._smdpCertificate.len, 4499u);
    EXPECT_FALSE(lpaManagerES10b_PrepareDownload(&data_, "", &pair_));  // sent: the eUICC refuses the session
    EXPECT_EQ(sim().records().es10.size(), before + 1);
    SetField(&data_._smdpCertificate, Tlv(0x30, Bytes(4500 - fixed, 0)));
    EXPECT_FALSE(lpaManagerES10b_PrepareDownload(&data_, "", &pair_));
    EXPECT_EQ(TakeError(), LPA_ERROR_INSUFFICIENT_BUFFER);
    EXPECT_TRUE(logHas("ERR", "ptrPrepareDownloadTlv out of bounds: 4500 needed, 4499 max allowed"));
    EXPECT_EQ(sim().records().es10.size(), before + 1);
    // smdpSigned2 with one element only.
    SetField(&data_._smdpSigned2, Tlv(0x30, Tlv(0x80, txid)));
    EXPECT_FALSE(lpaManagerES10b_PrepareDownload(&data_, "", &pair_));
    EXPECT_TRUE(logHas("ERR", "one or more TLV missing on SmdpSigned2 item !"));
}

TEST_F(Es10b, CancelSessionReasonsAndTransactionIds)
{
    TCancelSessionResponse response;
    const std::string txid = "0123456789ABCDEF0123456789abcdef";
    for (int32_t reason : {0, 1, 2, 3, 4, 5, 127}) {
        std::memset(&response, 0, sizeof(response));
        EXPECT_FALSE(lpaManagerES10b_CancelSession(txid.c_str(), reason, &response));  // no session: 81 01 05
        EXPECT_EQ(LastRequest().request, Tlv(0xBF41, Cat({Tlv(0x80, HexToBytes(txid)),
                                                          Tlv(0x81, Bytes{static_cast<uint8_t>(reason)})})));
        EXPECT_EQ(response.length, 6u);  // BF41 03 81 01 05
        EXPECT_EQ(response.ok, 0);
    }
    EXPECT_TRUE(logHas("ERR", "Cancel Session ES10B: Did not returned cancelSessionResponseOk."));
    size_t before = sim().records().es10.size();
    for (int32_t reason : {6, 128, -1}) {
        EXPECT_FALSE(lpaManagerES10b_CancelSession(txid.c_str(), reason, &response));
    }
    EXPECT_FALSE(lpaManagerES10b_CancelSession(txid.substr(0, 30).c_str(), 1, &response));
    EXPECT_TRUE(logHas("ERR", "_prepareCancelSessionTlv: Cannot convert TransactionID in hex."));
    // 39 characters: the first 32 go out, the rest is not read.
    EXPECT_FALSE(lpaManagerES10b_CancelSession((txid + "XYZ1234").c_str(), 1, &response));
    EXPECT_EQ(sim().records().es10.size(), before + 1);
    EXPECT_EQ(LastRequest().request, Tlv(0xBF41, Cat({Tlv(0x80, HexToBytes(txid)), Tlv(0x81, Bytes{1})})));
    EXPECT_TRUE(logHas("ERR", "Cancel Session ES10B: Incorrect parameter detected"));
    EXPECT_EQ(TakeError(), LPA_NO_ERROR);  // no code of its own

    // A real session is cancelled.
    Bytes id(16, 0x73);
    PrepareSession(id);
    std::memset(&response, 0, sizeof(response));
    ASSERT_TRUE(lpaManagerES10b_CancelSession(BytesToHex(id).c_str(), 5, &response));
    EXPECT_EQ(response.ok, 1);
    EXPECT_EQ(Bytes(response.response, response.response + 2), HexToBytes("BF41"));
    EXPECT_EQ(download().state, hbrsim::DownloadState::Idle);
    // An answer over 160 bytes.
    sim().faults().add(FaultRule::es10(0xBF41).es10Answer(Tlv(0xBF41, Tlv(0xA0, Bytes(155, 0)))));
    EXPECT_FALSE(lpaManagerES10b_CancelSession(BytesToHex(id).c_str(), 1, &response));
    EXPECT_TRUE(logHas("ERR", "Cancel Session ES10B: Response from eUICC out of bounds."));
}

TEST_F(Es10b, GetRatBounds)
{
    RawDataObject *rat = rawDataObject_create(reinterpret_cast<const uint8_t *>("old"), 3);
    ASSERT_TRUE(lpaManagerES10b_GetRAT(&rat));  // the old object is freed first
    ASSERT_NE(rat, nullptr);
    EXPECT_EQ(Bytes(rat->data, rat->data + rat->length), HexToBytes("BF4302A000"));
    sim().state().rat = HexToBytes("BF430100");
    EXPECT_FALSE(lpaManagerES10b_GetRAT(&rat));
    EXPECT_EQ(rat, nullptr);
    EXPECT_EQ(TakeError(), LPA_ERROR_INVALID_GET_RAT);
    EXPECT_TRUE(logHas("ERR", "No response data available or response length out of bounds (5 to 1024)! Returned size = 4"));
    sim().state().rat = Tlv(0xBF43, Tlv(0xA0, Bytes(1016, 0)));
    ASSERT_EQ(sim().state().rat.size(), 1025u);
    EXPECT_FALSE(lpaManagerES10b_GetRAT(&rat));
    EXPECT_EQ(TakeError(), LPA_ERROR_INVALID_GET_RAT);
    sim().state().rat = Tlv(0xBF43, Tlv(0xA0, Bytes(1015, 0)));
    EXPECT_TRUE(lpaManagerES10b_GetRAT(&rat));
    rawDataObject_free(rat);
}

TEST_F(Es10b, BrokenChainLeavesItsCodeFirst)
{
    sim().euicc.config.t0 = true;
    sim().faults().add(FaultRule::apdu(0xC0).statusWord(0x6D00));
    EXPECT_FALSE(lpaManagerES10b_GetEuiccChallenge(&pair_));
    EXPECT_EQ(TakeError(), SE_MEDIA_E_CHAINING_GET_RESPONSE);
    sim().faults().add(FaultRule::apdu(0xC0).statusWord(0x6D00));
    EXPECT_FALSE(lpaManagerES10b_GetEuiccInfo1(&pair_));
    EXPECT_EQ(TakeError(), SE_MEDIA_E_CHAINING_GET_RESPONSE);
    sim().euicc.config.t0 = false;
}

}  // namespace
