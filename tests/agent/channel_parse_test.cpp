// The channel's pure pieces: the sync reply, the port name of a friendly
// name, the hardware-id match and the text of the platform's byte arrays.
#include "agent_fixture.h"

#include "at_channel_bringup.h"
#include "com_port_channel.h"
#include "device_class_walk.h"
#include "mbn_device_service.h"

#include <climits>

namespace {

SyncReply Parse(const std::string &reply)
{
    return ParseSyncReply(reply.data(), reply.size());
}

TEST(SyncReplyParse, ResultsFollowTheValueAfterTheFirstCommaOnceOkIsThere)
{
    struct Case {
        const char *reply;
        bool ok;
        int result;
        bool active, deactive;
    } cases[] = {
        {"\r\n+GTPCTPOC: 0,2\r\n\r\nOK\r\n", true, DPD_DONE_STATUS, false, false},
        {"\r\n+GTPCTPOC: 0,0\r\n\r\nOK\r\n", true, DPD_NOT_READY_STATUS, false, false},
        {"\r\n+GTPCTPOC: ACTIVE,1\r\n\r\nOK\r\n", true, DPD_READY_STATUS, true, false},
        {"\r\n+GTPCTPOC: DEACTIVE,1\r\n\r\nOK\r\n", true, DPD_READY_STATUS, false, true},
        {"\r\n+GTPCTPOC: 0,1\r\n\r\nOK\r\n", true, DPD_READY_STATUS, false, false},
        // Spaces after the comma are skipped; other values retry.
        {"+GTPCTPOC: 0,   2 OK", true, DPD_DONE_STATUS, false, false},
        {"+GTPCTPOC: 0,7\r\nOK", true, DPD_RETRY_STATUS, false, false},
        {"+GTPCTPOC: 0,x\r\nOK", true, DPD_NOT_READY_STATUS, false, false}, // atoi reads 0
        {"+GTPCTPOC: 0,99999999999999999999\r\nOK", true, DPD_RETRY_STATUS, false, false},
        // No comma after the tag, or no tag: not ready.
        {"\r\n+GTPCTPOC: 0\r\n\r\nOK\r\n", true, DPD_NOT_READY_STATUS, false, false},
        {"a,1\r\nOK\r\n", true, DPD_NOT_READY_STATUS, false, false},
        // The first comma after the tag counts, not one before it.
        {"x,2 +GTPCTPOC: 0,0 OK", true, DPD_NOT_READY_STATUS, false, false},
        // "OK" anywhere, also inside a word; without it nothing else counts.
        {"+GTPCTPOC: 0,2 TOKEN", true, DPD_DONE_STATUS, false, false},
        {"\r\n+GTPCTPOC: 0,2\r\n\r\nERROR\r\n", false, DPD_RETRY_STATUS, false, false},
        {"", false, DPD_RETRY_STATUS, false, false},
        // ACTIVE is looked for first, and only with the value 1.
        {"+GTPCTPOC: ACTIVE,1 +GTPCTPOC: DEACTIVE OK", true, DPD_READY_STATUS, true, false},
        {"+GTPCTPOC: ACTIVE,2 OK", true, DPD_DONE_STATUS, false, false},
    };
    for (const Case &c : cases) {
        SyncReply r = Parse(c.reply);
        EXPECT_EQ(c.ok, r.ok) << c.reply;
        EXPECT_EQ(c.result, r.result) << c.reply;
        EXPECT_EQ(c.active, r.activeRequest) << c.reply;
        EXPECT_EQ(c.deactive, r.deactiveRequest) << c.reply;
    }
}

TEST(SyncReplyParse, ReadsNoFurtherThanTheLengthOrTheFirstZeroByte)
{
    std::string reply = "+GTPCTPOC: 0,2\r\nOK";
    EXPECT_FALSE(ParseSyncReply(reply.data(), reply.size() - 1).ok);
    std::string withNul("+GTPCTPOC: 0,2\0OK", 17);
    EXPECT_FALSE(ParseSyncReply(withNul.data(), withNul.size()).ok);
}

TEST(PortName, IsTheTextBetweenTheLastParentheses)
{
    struct Case {
        const char *friendlyName;
        const char *port;
    } cases[] = {
        {"Modem AT Port (COM7)", "COM7"},
        {"Port (a) (ttyHBR0)", "ttyHBR0"},
        {"Port (a (ttyX)", "ttyX"},
        {"()", ""},
        {"No parentheses", ""},
        {"Open only (COM3", ""},
        {"Close only COM3)", ""},
        {"Reversed )COM3(", ""},
        {"(COM1) trailing )", "COM1) trailing "},
        {"", ""},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(c.port, PortNameFromFriendlyName(c.friendlyName)) << c.friendlyName;
    }
    EXPECT_EQ(std::string(260, 'x'), PortNameFromFriendlyName("(" + std::string(300, 'x') + ")"));
}

TEST(HardwareIdMatch, TheWholeFirstIdMustStartTheWantedId)
{
    const char *port = "USB\\VID_8087&PID_0AC9&REV_0001&MI_02";
    EXPECT_TRUE(HardwareIdStartsWantedId(port, port));
    EXPECT_TRUE(HardwareIdStartsWantedId(port, "USB\\VID_8087&PID_0AC9&REV_0001&MI_02&X"));
    EXPECT_FALSE(HardwareIdStartsWantedId(port, "USB\\VID_8087&PID_0AC9&REV_0001"));
    EXPECT_FALSE(HardwareIdStartsWantedId(port, "usb\\VID_8087&PID_0AC9&REV_0001&MI_02"));
    EXPECT_FALSE(HardwareIdStartsWantedId("", port));
    EXPECT_FALSE(HardwareIdStartsWantedId(port, ""));
}

// The text of a byte array, logged through a test log.
class ArrayText : public AgentTest {
protected:
    static SAFEARRAY *Bytes(const std::string &bytes, LONG lower = 0)
    {
        SAFEARRAY *a = SafeArrayCreateVector(VT_UI1, lower, static_cast<ULONG>(bytes.size()));
        for (size_t i = 0; i < bytes.size(); ++i) {
            LONG index = lower + static_cast<LONG>(i);
            uint8_t b = static_cast<uint8_t>(bytes[i]);
            EXPECT_EQ(S_OK, SafeArrayPutElement(a, &index, &b));
        }
        return a;
    }
    static std::string Prefixed(const std::string &text, uint32_t length)
    {
        std::string p(4, '\0');
        for (int i = 0; i < 4; ++i) p[i] = static_cast<char>((length >> (8 * i)) & 0xFF);
        return p + text;
    }
    // 1 or 0, and the text ("<untouched>" when it was left alone).
    static std::pair<int, std::string> Text(SAFEARRAY *a)
    {
        std::string text = "<untouched>";
        int r = SafeArrayToString(a, &text);
        SafeArrayDestroy(a);
        return {r, text};
    }
};

TEST_F(ArrayText, PrefixedPlainCutAndShortForms)
{
    using R = std::pair<int, std::string>;
    EXPECT_EQ(R(1, "HELLO"), Text(Bytes(Prefixed("HELLO", 5))));
    // The prefix does not fit the size: all nine bytes (cut at the zero).
    EXPECT_EQ(R(1, "\x06"), Text(Bytes(Prefixed("HELLO", 6))));
    EXPECT_EQ(R(1, "ABCDEFGHI"), Text(Bytes("ABCDEFGHI")));
    EXPECT_EQ(R(1, "AB"), Text(Bytes(Prefixed(std::string("AB\0CD", 5), 5))));
    // Fewer than four bytes: taken whole.
    EXPECT_EQ(R(1, "OK"), Text(Bytes("OK")));
    EXPECT_EQ(R(1, ""), Text(Bytes("")));
    // A lower bound other than 0.
    EXPECT_EQ(R(1, "HI"), Text(Bytes(Prefixed("HI", 2), 5)));
    // A length whose sum with 4 overflows 32 bits is no prefix.
    EXPECT_EQ(R(1, "\xFC\xFF\xFF\xFF" "ABCD"), Text(Bytes(Prefixed("ABCD", 0xFFFFFFFCu))));
}

TEST_F(ArrayText, InterfaceArraysFailAndOtherTypesLeaveTheTextAlone)
{
    SAFEARRAY *unknowns = SafeArrayCreateVector(VT_UNKNOWN, 0, 2);
    EXPECT_EQ(0, Text(unknowns).first);
    EXPECT_EQ(0, SafeArrayToString(nullptr, nullptr));
    EXPECT_TRUE(Logged("SafeArrayGetLBound Fail("));
}

} // namespace
