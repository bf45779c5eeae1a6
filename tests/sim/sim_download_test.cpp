// The simulated ISD-R's download part: session rules, package order and the
// failures it reports in a PIR.
#include "sim_isdr.h"

#include <algorithm>

#include <gtest/gtest.h>

using namespace hbrsim;

namespace {

const Bytes kTxid(16, 0xA5);
const Bytes kEid = {'8', '9', '0', '4', '9', '0', '3', '2', '1', '2', '3', '4', '5', '1', '2', '3',
                    '4', '5', '1', '2', '3', '4', '5', '6', '7', '8', '9', '0', '1', '2', '3', '5'};

class SimDownload : public ::testing::Test {
protected:
    Es10Answer send(const Bytes &request) { return isdr.process(request, nullptr); }

    Bytes challenge()
    {
        Es10Answer a = send(hexBytes("BF2E00"));
        Tlv outer, inner;
        EXPECT_TRUE(parseSingle(a.data, outer) && parseSingle(outer.value, inner));
        return inner.value;
    }
    Es10Answer authenticate(const Bytes &euiccChallenge, const Bytes &txid = kTxid)
    {
        Bytes signed1 = tlv(0x30, {tlv(0x80, txid), tlv(0x81, euiccChallenge), tlv(0x83, Bytes{'d', 'p'}),
                                   tlv(0x84, Bytes(16, 1))});
        Bytes ctx = tlv(0xA0, {tlv(0x80, Bytes{'M'}), tlv(0xA1, Bytes{})});
        return send(tlv(0xBF38, {signed1, tlv(0x5F37, Bytes(64, 0)), tlv(0x04, Bytes(20, 0x22)), tlv(0x30, Bytes{}), ctx}));
    }
    Es10Answer prepare(const Bytes &txid = kTxid)
    {
        Bytes signed2 = tlv(0x30, {tlv(0x80, txid), tlv(0x01, Bytes{0}), tlv(0x5F49, Bytes(65, 4))});
        return send(tlv(0xBF21, {signed2, tlv(0x5F37, Bytes(64, 0)), tlv(0x30, Bytes{})}));
    }
    void toPrepared()
    {
        ASSERT_EQ(answerTag(authenticate(challenge())), 0xA0u);
        ASSERT_EQ(answerTag(prepare()), 0xA0u);
        ASSERT_EQ(isdr.download.state, DownloadState::Prepared);
    }
    static uint32_t answerTag(const Es10Answer &a)
    {
        Tlv outer, inner;
        if (!parseSingle(a.data, outer)) return 0;
        size_t pos = 0;
        return parseOne(outer.value.data(), outer.value.size(), pos, inner) ? inner.tag : 0;
    }
    // The finalResult (content of A2) of a PIR answer.
    static Bytes finalResult(const Es10Answer &a)
    {
        Tlv bf37;
        std::vector<Tlv> parts, data;
        if (!parseSingle(a.data, bf37) || !parseAll(bf37.value, parts) || !parseAll(parts[0].value, data)) return Bytes();
        const Tlv *a2 = findTag(data, 0xA2);
        return a2 ? a2->value : Bytes();
    }
    static Bytes initialiseSecureChannel(const Bytes &txid,
                                         const Bytes &crt = hexBytes("800188810110840801020304050607 08"))
    {
        return tlv(0xBF23, {tlv(0x82, Bytes{1}), tlv(0x80, txid), tlv(0xA6, crt), tlv(0x5F49, Bytes(65, 4)),
                            tlv(0x5F37, Bytes(64, 5))});
    }
    static Bytes errorResult(uint8_t command, uint8_t reason)
    {
        return tlv(0xA1, {tlv(0x80, Bytes{command}), tlv(0x81, Bytes{reason})});
    }

    Isdr isdr;
};

TEST_F(SimDownload, SessionStatesAndWhatEndsThem)
{
    EXPECT_EQ(isdr.download.state, DownloadState::Idle);
    // No challenge: noSessionContext (4).
    Es10Answer refused = authenticate(Bytes(16, 0));
    EXPECT_EQ(answerTag(refused), 0xA1u);
    // A challenge that differs: euiccChallengeMismatch (6).
    challenge();
    EXPECT_EQ(isdr.download.state, DownloadState::ChallengeIssued);
    Es10Answer mismatch = authenticate(Bytes(16, 0));
    const Bytes code6 = {0x02, 0x01, 0x06};
    EXPECT_NE(std::search(mismatch.data.begin(), mismatch.data.end(), code6.begin(), code6.end()), mismatch.data.end());
    // PrepareDownload before authentication, or with another txid.
    EXPECT_EQ(answerTag(prepare()), 0xA1u);
    ASSERT_EQ(answerTag(authenticate(challenge())), 0xA0u);
    EXPECT_EQ(isdr.download.state, DownloadState::Authenticated);
    EXPECT_EQ(isdr.download.matchingId(), Bytes{'M'});
    EXPECT_EQ(answerTag(prepare(Bytes(16, 0))), 0xA1u);
    EXPECT_EQ(answerTag(prepare()), 0xA0u);
    EXPECT_EQ(isdr.download.state, DownloadState::Prepared);
    // A new challenge ends the session.
    challenge();
    EXPECT_EQ(isdr.download.state, DownloadState::ChallengeIssued);
    // CancelSession: only with the session's txid.
    toPrepared();
    Es10Answer other = send(tlv(0xBF41, {tlv(0x80, Bytes(16, 0)), tlv(0x81, Bytes{1})}));
    EXPECT_EQ(other.data, hexBytes("BF4103810105"));
    EXPECT_EQ(isdr.download.state, DownloadState::Prepared);
    Es10Answer cancelled = send(tlv(0xBF41, {tlv(0x80, kTxid), tlv(0x81, Bytes{1})}));
    EXPECT_EQ(answerTag(cancelled), 0xA0u);
    EXPECT_LE(cancelled.data.size(), 160u);
    EXPECT_EQ(isdr.download.state, DownloadState::Idle);
    // A reset (module reset, channel close) ends it too.
    toPrepared();
    isdr.resetSession();
    EXPECT_EQ(isdr.download.state, DownloadState::Idle);
    // Outside a prepared session a segment is just an unknown or malformed request.
    EXPECT_NE(send(hexBytes("A10A")).sw, 0x9000);
}

TEST_F(SimDownload, SegmentsInOrderAndFailures)
{
    Bytes bf23 = initialiseSecureChannel(kTxid);
    Bytes a0 = tlv(0xA0, tlv(0x87, Bytes{1}));
    Bytes metadata = tlv(0xBF25, {tlv(0x5A, iccidFromDigits("8900000000000000077")), tlv(0x92, Bytes{'N'})});
    Bytes a1 = tlv(0xA1, {tlv(0x88, Bytes(metadata.begin(), metadata.begin() + 10)),
                          tlv(0x88, Bytes(metadata.begin() + 10, metadata.end()))});
    Bytes a3 = tlv(0xA3, {tlv(0x86, Bytes(5, 1)), tlv(0x86, Bytes(5, 2))});
    size_t content = bf23.size() + a0.size() + a1.size() + a3.size();
    Bytes header = concat({encodeTag(0xBF36), encodeLength(content)});
    auto headerOf = [](const Bytes &whole, size_t inner) { return Bytes(whole.begin(), whole.end() - long(inner)); };
    Tlv a1Tlv, a3Tlv;
    parseSingle(a1, a1Tlv);
    parseSingle(a3, a3Tlv);
    std::vector<Tlv> elements88, elements86;
    parseAll(a1Tlv.value, elements88);
    parseAll(a3Tlv.value, elements86);
    std::vector<Bytes> segments = {concat({header, bf23}), a0, headerOf(a1, a1Tlv.value.size()),
                                   tlv(0x88, elements88[0].value), tlv(0x88, elements88[1].value),
                                   headerOf(a3, a3Tlv.value.size()), tlv(0x86, elements86[0].value)};

    // The whole package: intermediate segments answer 90 00 without data.
    toPrepared();
    for (const Bytes &s : segments) {
        Es10Answer a = send(s);
        EXPECT_EQ(a.sw, 0x9000);
        EXPECT_TRUE(a.data.empty());
    }
    Es10Answer last = send(tlv(0x86, elements86[1].value));
    Tlv pirOk;
    ASSERT_TRUE(parseSingle(last.data, pirOk));
    EXPECT_EQ(pirOk.tag, 0xBF37u);
    ASSERT_EQ(isdr.state.profiles.size(), 1u);
    EXPECT_EQ(isdr.state.profiles[0].state, 0);
    EXPECT_EQ(isdr.state.profiles[0].profileName, "N");
    ASSERT_EQ(isdr.state.notifications.size(), 1u);
    EXPECT_EQ(isdr.state.notifications[0].pending, last.data);
    EXPECT_EQ(isdr.download.state, DownloadState::Idle);

    // Broken order: A0 where the A1 header is due answers an error PIR.
    isdr.state.profiles.clear();
    toPrepared();
    send(segments[0]);
    send(segments[1]);
    EXPECT_EQ(finalResult(send(segments[1])), errorResult(2, 1));  // expected the A1 header
    EXPECT_EQ(isdr.download.state, DownloadState::Idle);

    // Another transactionId in BF23: invalidTransactionId (3) on BF23.
    toPrepared();
    Bytes otherBf23 = initialiseSecureChannel(Bytes(16, 0));
    EXPECT_EQ(finalResult(send(concat({header, otherBf23}))), errorResult(0, 3));
    // A ControlRefTemplate other than { 80 keyType, 81 keyLen, 84 hostId }: incorrectInputValues (1).
    toPrepared();
    Bytes oldTemplate = initialiseSecureChannel(kTxid, concat({hexBytes("9001889501048001888101108408"), Bytes(8, 1)}));
    EXPECT_EQ(finalResult(send(concat({encodeTag(0xBF36), encodeLength(content - bf23.size() + oldTemplate.size()),
                                       oldTemplate}))),
              errorResult(0, 1));

    // An ICCID already installed: reason 9 on the last 88.
    toPrepared();
    for (size_t i = 0; i < 4; ++i) send(segments[i]);
    isdr.state.profiles.push_back(Profile{});
    isdr.state.profiles.back().iccid = iccidFromDigits("8900000000000000077");
    EXPECT_EQ(finalResult(send(segments[4])), errorResult(2, 9));
    EXPECT_EQ(isdr.state.profiles.size(), 1u);

    // The profile limit: reason 10 on the last 86; nothing installed.
    isdr.state.profiles.clear();
    isdr.download.knobs.maxProfiles = 0;
    toPrepared();
    for (const Bytes &s : segments) send(s);
    EXPECT_EQ(finalResult(send(tlv(0x86, elements86[1].value))), errorResult(5, 10));
    EXPECT_TRUE(isdr.state.profiles.empty());
}

TEST_F(SimDownload, WhatTheEuiccSignsAndItsCertificates)
{
    const Credentials &c = isdr.state.info.credentials;
    ASSERT_EQ(c.ciKeyId.size(), 20u);  // the test PKI's CI
    // EUICCInfo1 lists the CI for verification and signing.
    Bytes keyIds = tlv(0x04, c.ciKeyId);
    EXPECT_EQ(send(hexBytes("BF2000")).data, tlv(0xBF20, {hexBytes("8203020200"), tlv(0xA9, keyIds), tlv(0xAA, keyIds)}));

    // AuthenticateServerResponse: euiccSigned1 with the whole EUICCInfo2, then
    // the eUICC's and the EUM's certificates.
    Es10Answer a = authenticate(challenge());
    Tlv outer, ok;
    std::vector<Tlv> parts, signed1, info2;
    ASSERT_TRUE(parseSingle(a.data, outer) && parseSingle(outer.value, ok) && parseAll(ok.value, parts));
    ASSERT_EQ(parts.size(), 4u);
    EXPECT_EQ(tlv(parts[2].tag, parts[2].value), c.euiccCertificate);
    EXPECT_EQ(tlv(parts[3].tag, parts[3].value), c.eumCertificate);
    ASSERT_TRUE(parseAll(parts[0].value, signed1));
    ASSERT_EQ(signed1.size(), 5u);
    ASSERT_EQ(signed1[3].tag, 0xBF22u);
    ASSERT_TRUE(parseAll(signed1[3].value, info2));
    std::vector<uint32_t> tags;
    for (const Tlv &f : info2) tags.push_back(f.tag);
    EXPECT_EQ(tags, (std::vector<uint32_t>{0x81, 0x82, 0x83, 0x84, 0x85, 0x88, 0xA9, 0xAA, 0x04, 0x0C}));
    EXPECT_EQ(info2[1].value, hexBytes("020200"));                                  // svn 2.2.0
    EXPECT_EQ(info2[3].value, hexBytes("810100 820307D000 83024000"));              // apps, free NVM, free VM
    EXPECT_EQ(info2[4].value, hexBytes("066B02C0"));
    EXPECT_EQ(info2[5].value, hexBytes("0490"));
    EXPECT_EQ(info2[6].value, keyIds);
    EXPECT_EQ(info2[7].value, keyIds);
    EXPECT_EQ(std::string(info2[9].value.begin(), info2[9].value.end()), "HBR-SAS-TEST-0001");
    // The eUICC's certificate names the EID in its subject.
    EXPECT_NE(std::search(c.euiccCertificate.begin(), c.euiccCertificate.end(), kEid.begin(), kEid.end()),
              c.euiccCertificate.end());

    // EuiccCancelSessionSigned: 80 transactionId, 81 smdpOid, 82 reason.
    ASSERT_EQ(answerTag(prepare()), 0xA0u);
    Es10Answer cancelled = send(tlv(0xBF41, {tlv(0x80, kTxid), tlv(0x81, Bytes{1})}));
    std::vector<Tlv> cancelParts, cancelSigned;
    ASSERT_TRUE(parseSingle(cancelled.data, outer) && parseSingle(outer.value, ok) && parseAll(ok.value, cancelParts));
    ASSERT_TRUE(parseAll(cancelParts[0].value, cancelSigned));
    ASSERT_EQ(cancelSigned.size(), 3u);
    EXPECT_EQ(cancelSigned[0].tag, 0x80u);
    EXPECT_EQ(cancelSigned[1].tag, 0x81u);
    EXPECT_EQ(cancelSigned[2].value, Bytes{1});
    EXPECT_EQ(cancelSigned[2].tag, 0x82u);
    // A request with the reason under another tag, or not a DER INTEGER: undefinedError.
    toPrepared();
    EXPECT_EQ(send(tlv(0xBF41, {tlv(0x80, kTxid), tlv(0x82, Bytes{1})})).data, hexBytes("BF410381017F"));
    EXPECT_EQ(send(tlv(0xBF41, {tlv(0x80, kTxid), tlv(0x81, Bytes{0, 1})})).data, hexBytes("BF410381017F"));
    EXPECT_EQ(isdr.download.state, DownloadState::Prepared);

    // Without certificates the eUICC refuses to authenticate (undefinedError).
    isdr.state.info.credentials = Credentials();
    EXPECT_EQ(answerTag(authenticate(challenge())), 0xA1u);
}

TEST_F(SimDownload, CertificateExtensions)
{
    // SubjectAltName with a registeredID 2.999.10.1 and a critical subject key
    // identifier inside a made-up certificate.
    Bytes names = tlv(0x30, {tlv(0x88, hexBytes("88370A01")), tlv(0x82, Bytes{'h'})});
    Bytes san = tlv(0x30, {tlv(0x06, hexBytes("551D11")), tlv(0x04, names)});
    Bytes ski = tlv(0x30, {tlv(0x06, hexBytes("551D0E")), hexBytes("0101FF"), tlv(0x04, tlv(0x04, Bytes(20, 9)))});
    Bytes certificate = tlv(0x30, tlv(0x30, {tlv(0x02, Bytes{1}), tlv(0xA3, tlv(0x30, {san, ski}))}));
    EXPECT_EQ(registeredIdOf(certificate), hexBytes("88370A01"));
    EXPECT_EQ(subjectKeyIdOf(certificate), Bytes(20, 9));
    EXPECT_TRUE(registeredIdOf(tlv(0x30, Bytes{1, 2})).empty());
    EXPECT_TRUE(subjectKeyIdOf(tlv(0x30, tlv(0x30, tlv(0xA3, tlv(0x30, san))))).empty());
}

}  // namespace
