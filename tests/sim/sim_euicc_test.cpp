#include "sim_test_util.h"

#include <gtest/gtest.h>

using namespace hbrsim;
using hbrsim::test::collect;
using hbrsim::test::es10;
using hbrsim::test::openAndSelect;
using hbrsim::test::statusOf;

TEST(SimEuicc, ClassByteChannels)
{
    EXPECT_EQ(1, Euicc::channelOf(0x01));
    EXPECT_EQ(3, Euicc::channelOf(0x03));
    EXPECT_EQ(5, Euicc::channelOf(0x41));
    EXPECT_EQ(19, Euicc::channelOf(0x4F));
    EXPECT_EQ(1, Euicc::channelOf(0x81));
    EXPECT_EQ(5, Euicc::channelOf(0xC1));
    EXPECT_EQ(19, Euicc::channelOf(0xCF));
    EXPECT_EQ(0, Euicc::channelOf(0x80));
    EXPECT_EQ(0xC1, Euicc::claForChannel(0x81, 5));
    EXPECT_EQ(0x4F, Euicc::claForChannel(0x01, 19));
    EXPECT_EQ(0x83, Euicc::claForChannel(0xC1, 3));
}

TEST(SimEuicc, ManageChannelOpenAndClose)
{
    Euicc e;
    EXPECT_EQ(hexBytes("019000"), e.transmit(hexBytes("0070000001")));
    EXPECT_EQ(hexBytes("029000"), e.transmit(hexBytes("0070000001")));
    EXPECT_EQ(hexBytes("039000"), e.transmit(hexBytes("0070000001")));
    EXPECT_EQ(hexBytes("6A81"), e.transmit(hexBytes("0070000001")));
    EXPECT_EQ(hexBytes("9000"), e.transmit(hexBytes("0070800200")));
    EXPECT_FALSE(e.channelOpen(2));
    EXPECT_EQ(hexBytes("6881"), e.transmit(hexBytes("0070800200")));
    EXPECT_EQ(hexBytes("029000"), e.transmit(hexBytes("0070000001")));
    // APDUs for a closed channel.
    EXPECT_EQ(hexBytes("9000"), e.transmit(hexBytes("0070800300")));
    EXPECT_EQ(hexBytes("6881"), e.transmit(hexBytes("0370000001")));

    Euicc high;
    high.config.firstChannel = 5;
    high.config.channelCount = 19;
    EXPECT_EQ(hexBytes("059000"), high.transmit(hexBytes("0070000001")));
    for (int c = 6; c <= 19; ++c) EXPECT_EQ(c, high.transmit(hexBytes("0070000001"))[0]);
    EXPECT_EQ(hexBytes("6A81"), high.transmit(hexBytes("0070000001")));
    EXPECT_TRUE(high.channelOpen(19));

    Euicc odd;
    odd.config.manageChannelAnswer = 0x14;
    EXPECT_EQ(hexBytes("149000"), odd.transmit(hexBytes("0070000001")));
    EXPECT_FALSE(odd.channelOpen(20));
}

TEST(SimEuicc, ApduShapeChecks)
{
    Euicc e;
    EXPECT_EQ(hexBytes("6700"), e.transmit(hexBytes("00A40400")));
    EXPECT_EQ(hexBytes("6700"), e.transmit(hexBytes("00A4040002AA")));
    EXPECT_EQ(hexBytes("6E00"), e.transmit(hexBytes("FFA4040000")));
    EXPECT_EQ(hexBytes("6D00"), e.transmit(hexBytes("00CA000000")));
    EXPECT_EQ(hexBytes("6985"), e.transmit(hexBytes("00C0000000")));
    // STORE DATA without a selected ISD-R.
    EXPECT_EQ(hexBytes("6985"), e.transmit(hexBytes("80E291000100")));
    ASSERT_EQ(6u, e.records.apdus.size());
    EXPECT_EQ(-1, e.records.apdus[2].channel);
}

TEST(SimEuicc, SelectIsdrWithAndWithoutLe)
{
    Euicc e;
    e.transmit(hexBytes("0070000001"));
    Bytes withLe = hexBytes("01A4040010A0000005591010FFFFFFFF890000010000");
    Bytes r = e.transmit(withLe);
    EXPECT_EQ(120u, r.size());
    EXPECT_EQ(0x9000, statusOf(r));
    EXPECT_EQ(kIsdrFci, Bytes(r.begin(), r.end() - 2));
    EXPECT_TRUE(e.isdrSelected(1));
    EXPECT_FALSE(e.isdrSelected(0));
    Tlv fci;
    EXPECT_TRUE(parseSingle(kIsdrFci, fci));
    EXPECT_EQ(0x6Fu, fci.tag);

    Bytes withoutLe(withLe.begin(), withLe.end() - 1);
    EXPECT_EQ(120u, e.transmit(withoutLe).size());
    EXPECT_EQ(hexBytes("6A82"), e.transmit(hexBytes("01A4040010A0000005591010FFFFFFFF890000010100")));

    Euicc bare;
    bare.config.selectAnswer = SelectAnswer::Bare9000;
    bare.transmit(hexBytes("0070000001"));
    EXPECT_EQ(hexBytes("9000"), bare.transmit(withLe));

    Euicc t0;
    t0.config.selectAnswer = SelectAnswer::T0;
    t0.transmit(hexBytes("0070000001"));
    EXPECT_EQ(hexBytes("6176"), t0.transmit(withLe));
    Bytes rest = t0.transmit(hexBytes("01C0000076"));
    EXPECT_EQ(120u, rest.size());
    EXPECT_EQ(0x9000, statusOf(rest));

    Euicc s91;
    s91.config.selectAnswer = SelectAnswer::Fci91;
    s91.transmit(hexBytes("0070000001"));
    EXPECT_EQ(0x9110, statusOf(s91.transmit(withLe)));
}

TEST(SimEuicc, LongAnswersGoThroughGetResponse)
{
    for (size_t size : {256u, 257u, 1000u}) {
        Euicc e;
        int ch = openAndSelect(e);
        e.faults.add(FaultRule::apdu(0xE2).responseData(Bytes(size, 0x42)));
        Bytes first = e.transmit(hexBytes("81E2910003BF3E0000"));
        if (size == 256) {
            EXPECT_EQ(258u, first.size());
            EXPECT_EQ(0x9000, statusOf(first));
            continue;
        }
        ASSERT_EQ(258u, first.size()) << size;
        EXPECT_EQ(0x61, first[256]);
        EXPECT_EQ(size == 257 ? 0x01 : 0x00, first[257]);
        Bytes all = collect(e, ch, first);
        EXPECT_EQ(size + 2, all.size());
        EXPECT_EQ(0x9000, statusOf(all));
    }
    // Le smaller than the rest leaves 61 with the remainder.
    Euicc e;
    openAndSelect(e);
    e.faults.add(FaultRule::apdu(0xE2).responseData(Bytes(300, 0x42)));
    e.transmit(hexBytes("81E2910003BF3E0000"));
    Bytes part = e.transmit(hexBytes("01C0000010"));
    EXPECT_EQ(18u, part.size());
    EXPECT_EQ(hexBytes("611C"), Bytes(part.end() - 2, part.end()));
    // Another command drops the pending data.
    e.transmit(hexBytes("01A4040010A0000005591010FFFFFFFF8900000100"));
    EXPECT_EQ(hexBytes("6985"), e.transmit(hexBytes("01C0000000")));
}

TEST(SimEuicc, StoreDataReassemblesBlocks)
{
    Euicc e;
    int ch = openAndSelect(e);
    // A 600-byte SetNickname request in three blocks.
    Bytes request = tlv(0xBF29, {tlv(0x5A, Bytes(10, 0x11)), tlv(0x90, Bytes(64, 'n')), tlv(0x99, Bytes(510, 0))});
    Bytes answer = es10(e, ch, request);
    EXPECT_EQ(0x9000, statusOf(answer));
    ASSERT_EQ(1u, e.records.es10.size());
    EXPECT_EQ(request, e.records.es10[0].request);
    EXPECT_EQ(0xBF29u, e.records.es10[0].tag);
    // Intermediate blocks answer 90 00 without data.
    size_t n = e.records.apdus.size();
    EXPECT_EQ(hexBytes("9000"), e.records.apdus[n - 2].response);

    // A P2 gap drops the partial request.
    EXPECT_EQ(hexBytes("9000"), e.transmit(hexBytes("81E2110002BF2900")));
    EXPECT_EQ(hexBytes("6A86"), e.transmit(hexBytes("81E2910201AA00")));
    EXPECT_EQ(hexBytes("6A86"), e.transmit(hexBytes("81E2010001AA00")));
    // After the gap a new request starts at block 0.
    Bytes eid = e.transmit(hexBytes("81E2910006BF3E035C015A00"));
    EXPECT_EQ(0x9000, statusOf(eid));
    EXPECT_EQ(2u, e.records.es10.size());

    // A request that does not parse, and an unknown tag.
    EXPECT_EQ(hexBytes("6A80"), e.transmit(hexBytes("81E2910003BF3E0500")));
    EXPECT_EQ(hexBytes("6A88"), e.transmit(hexBytes("81E2910003BF5500")));
    EXPECT_EQ(hexBytes("6A88"), e.transmit(hexBytes("81E2910003BF4F0000")));

    // Over the size bound.
    e.config.storeDataLimit = 300;
    EXPECT_EQ(hexBytes("9000"), e.transmit(concat({hexBytes("81E21100FF"), Bytes(255, 0)})));
    EXPECT_EQ(hexBytes("6A80"), e.transmit(concat({hexBytes("81E2110160"), Bytes(96, 0)})));
}

TEST(SimEuicc, ResetClosesChannelsAndDropsPartialState)
{
    Euicc e;
    int ch = openAndSelect(e);
    e.transmit(hexBytes("81E2110002BF2900"));
    e.reset();
    EXPECT_FALSE(e.channelOpen(ch));
    EXPECT_TRUE(e.channelOpen(0));
    ch = openAndSelect(e);
    // The new channel starts its STORE DATA at block 0.
    EXPECT_EQ(0x9000, statusOf(e.transmit(hexBytes("81E2910006BF3E035C015A00"))));
}

TEST(SimEuicc, FaultRulesFireOnceNTimesAndAlways)
{
    Euicc e;
    int ch = openAndSelect(e);
    Bytes getEid = hexBytes("81E2910006BF3E035C015A00");
    e.faults.add(FaultRule::apdu(0xE2).statusWord(0x6A80).once());
    EXPECT_EQ(hexBytes("6A80"), e.transmit(getEid));
    EXPECT_EQ(0x9000, statusOf(e.transmit(getEid)));

    e.faults.clear();
    e.faults.add(FaultRule::apdu(0xE2).statusWord(0x6985).repeat(2));
    EXPECT_EQ(hexBytes("6985"), e.transmit(getEid));
    EXPECT_EQ(hexBytes("6985"), e.transmit(getEid));
    EXPECT_EQ(0x9000, statusOf(e.transmit(getEid)));

    e.faults.clear();
    e.faults.add(FaultRule::apdu(0xE2).statusWord(0x6D00).always().from(2));
    EXPECT_EQ(0x9000, statusOf(e.transmit(getEid)));
    for (int i = 0; i < 5; ++i) EXPECT_EQ(hexBytes("6D00"), e.transmit(getEid));

    // 6D 00 instead of the 2nd GET RESPONSE answer, with pieces of 8 bytes.
    e.faults.clear();
    e.config.pieceSize = 8;
    e.faults.add(FaultRule::apdu(0xC0).statusWord(0x6D00).from(2));
    Bytes first = e.transmit(getEid);
    EXPECT_EQ(hexBytes("6108"), Bytes(first.end() - 2, first.end()));
    Bytes gr1 = e.transmit(hexBytes("01C0000008"));
    EXPECT_EQ(10u, gr1.size());
    EXPECT_EQ(hexBytes("6105"), Bytes(gr1.end() - 2, gr1.end()));
    EXPECT_EQ(hexBytes("6D00"), e.transmit(hexBytes("01C0000005")));
    e.config.pieceSize = 256;
    // A piece-size rule on one command only.
    e.faults.clear();
    e.faults.add(FaultRule::apdu(0xE2).pieces(16).once());
    Bytes cut = e.transmit(getEid);
    ASSERT_EQ(18u, cut.size());
    EXPECT_EQ(hexBytes("6105"), Bytes(cut.end() - 2, cut.end()));
    EXPECT_EQ(23u, e.transmit(getEid).size());

    // T=0 style, then a 61 xx without data inside the chain.
    e.faults.clear();
    e.faults.add(FaultRule::apdu(0xE2).t0());
    e.faults.add(FaultRule::apdu(0xC0).empty61(0x10).repeat(2));
    EXPECT_EQ(hexBytes("6115"), e.transmit(getEid));
    EXPECT_EQ(hexBytes("6110"), e.transmit(hexBytes("01C0000015")));
    EXPECT_EQ(hexBytes("6110"), e.transmit(hexBytes("01C0000015")));
    EXPECT_EQ(23u, e.transmit(hexBytes("01C0000015")).size());

    // A whole response, the channel match and the ES10 level.
    e.faults.clear();
    e.faults.add(FaultRule::apdu(-1, 2).wholeResponse(hexBytes("AA")));
    e.faults.add(FaultRule::apdu(-1, ch).wholeResponse(hexBytes("BB9000")));
    EXPECT_EQ(hexBytes("BB9000"), e.transmit(getEid));
    e.faults.clear();
    e.faults.add(FaultRule::es10(0xBF3E).es10Answer(hexBytes("BF3E035A0180")));
    EXPECT_EQ(hexBytes("BF3E035A01809000"), collect(e, ch, e.transmit(getEid)));
    e.faults.clear();
    e.faults.add(FaultRule::es10(0xBF2D).whenRequest(hexBytes("BF2D035C015A")).es10Result(5));
    EXPECT_EQ(hexBytes("BF2D0381010590 00"), es10(e, ch, hexBytes("BF2D035C015A")));
    EXPECT_EQ(0x9000, statusOf(es10(e, ch, hexBytes("BF2D075C055A9F709592"))));
}
