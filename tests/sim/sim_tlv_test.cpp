#include "sim_tlv.h"

#include <gtest/gtest.h>

using namespace hbrsim;

TEST(SimTlv, EncodesDerMinimalLengthsAndMultiByteTags)
{
    EXPECT_EQ(hexBytes("5A00"), tlv(0x5A, Bytes{}));
    EXPECT_EQ(hexBytes("7F"), encodeLength(127));
    EXPECT_EQ(hexBytes("8180"), encodeLength(128));
    EXPECT_EQ(hexBytes("81FF"), encodeLength(255));
    EXPECT_EQ(hexBytes("820100"), encodeLength(256));
    EXPECT_EQ(hexBytes("83010000"), encodeLength(65536));
    EXPECT_EQ(hexBytes("8401000000"), encodeLength(0x1000000));
    EXPECT_EQ(hexBytes("BF2D"), encodeTag(0xBF2D));
    EXPECT_EQ(hexBytes("9F7001"), encodeTag(0x9F7001));
    Bytes big(300, 0xAA);
    Bytes encoded = tlv(0xBF36, big);
    EXPECT_EQ(hexBytes("BF3682012C"), Bytes(encoded.begin(), encoded.begin() + 5));
    EXPECT_EQ(encoded.size(), 305u);
}

TEST(SimTlv, ParsesTagsByTheBerRule)
{
    std::vector<Tlv> list;
    // 1F starts a two-byte tag here (unlike a one-byte-only rule).
    ASSERT_TRUE(parseAll(hexBytes("1F2001AA" "9F700101" "BF2D00" "5F3700"), list));
    ASSERT_EQ(4u, list.size());
    EXPECT_EQ(0x1F20u, list[0].tag);
    EXPECT_EQ(0x9F70u, list[1].tag);
    EXPECT_EQ(0xBF2Du, list[2].tag);
    EXPECT_TRUE(list[2].constructed());
    EXPECT_FALSE(list[1].constructed());
    EXPECT_EQ(0x5F37u, list[3].tag);
    // Three-byte tag.
    ASSERT_TRUE(parseAll(hexBytes("9F817F0105"), list));
    EXPECT_EQ(0x9F817Fu, list[0].tag);

    std::vector<uint32_t> tags;
    ASSERT_TRUE(parseTagList(hexBytes("5A9F709592"), tags));
    EXPECT_EQ((std::vector<uint32_t>{0x5A, 0x9F70, 0x95, 0x92}), tags);
}

TEST(SimTlv, StrictParserReportsMalformedInput)
{
    struct Case {
        const char *hex;
        const char *reason;
    } cases[] = {
        {"5A", "missing length"},
        {"5A8001", "indefinite length"},
        {"5A850000000001", "length of more than 4 bytes"},
        {"5A8105", "non-minimal length"},
        {"5A82000101", "non-minimal length"},
        {"5A820100", "value runs past the end"},
        {"5A0301", "value runs past the end"},
        {"9F", "truncated tag"},
        {"9F818181", "tag longer than 3 bytes"},
        {"1F8001", "non-minimal tag"},
        {"5A81", "truncated length"},
    };
    for (const Case &c : cases) {
        std::vector<Tlv> list;
        std::string error;
        EXPECT_FALSE(parseAll(hexBytes(c.hex), list, &error)) << c.hex;
        EXPECT_EQ(c.reason, error) << c.hex;
    }
    Tlv one;
    std::string error;
    EXPECT_FALSE(parseSingle(hexBytes("5A01AA00"), one, &error));
    EXPECT_EQ("extra bytes after the TLV", error);
}

TEST(SimTlv, UnsignedNumbers)
{
    uint32_t v = 0;
    ASSERT_TRUE(readUnsigned(hexBytes("C8"), v));
    EXPECT_EQ(200u, v);
    ASSERT_TRUE(readUnsigned(hexBytes("00C8"), v));
    EXPECT_EQ(200u, v);
    ASSERT_TRUE(readUnsigned(hexBytes("00011170"), v));
    EXPECT_EQ(70000u, v);
    EXPECT_FALSE(readUnsigned(Bytes{}, v));
    EXPECT_FALSE(readUnsigned(hexBytes("0100000000"), v));
    EXPECT_EQ(hexBytes("00C8"), encodeUnsignedMinimal(200));
    EXPECT_EQ(hexBytes("7F"), encodeUnsignedMinimal(127));
    EXPECT_EQ(hexBytes("00"), encodeUnsignedMinimal(0));
    EXPECT_EQ(hexBytes("011170"), encodeUnsignedMinimal(70000));
    EXPECT_EQ(hexBytes("0000012C"), encodeUnsignedWidth(300, 4));
    // DER INTEGERs: two's complement, minimal.
    const std::pair<const char *, int64_t> integers[] = {
        {"C8", -56}, {"00C8", 200}, {"FF", -1}, {"9C40", -25536}, {"009C40", 40000}, {"7F", 127}, {"FF7F", -129}};
    for (const auto &c : integers) {
        int64_t n = 0;
        EXPECT_TRUE(readDerInteger(hexBytes(c.first), n)) << c.first;
        EXPECT_EQ(c.second, n) << c.first;
    }
    int64_t n = 0;
    for (const char *bad : {"", "0001", "FF80", "000000000000000001"}) {
        EXPECT_FALSE(readDerInteger(hexBytes(bad), n)) << bad;
    }
    Bytes out;
    EXPECT_FALSE(fromHex("ABC", out));
    EXPECT_FALSE(fromHex("AG", out));
    ASSERT_TRUE(fromHex("ab0F", out));
    EXPECT_EQ(hexBytes("AB0F"), out);
}
