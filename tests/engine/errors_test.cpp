// The error table, the last error, the frame's opening and closing lines and
// execution-error forwarding.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <set>
#include <string>

#include "log_recorder.h"
#include "lpa.h"
#include "lpa_api_frame.h"
#include "lpa_error_internal.h"

namespace {

const LpaErrorCodeDescription *tableRows(size_t *count)
{
    const LpaErrorCodeDescription *rows = lpaExGetListErrorCodeDescription();
    size_t n = 0;
    while (rows[n].name != nullptr) {
        ++n;
    }
    *count = n;
    return rows;
}

class ErrorCodeTest : public ::testing::Test {
protected:
    void SetUp() override { lpaResetErrorCode(); log.clear(); }
    void TearDown() override
    {
        lpaResetErrorCode();
        lpaCurrentApiName[0] = '\0';
        _lpaManagerSetAppEventExecutionErrorCallback(nullptr, nullptr);
    }
    LogRecorder log;
};

}  // namespace

static_assert(LPA_NO_ERROR == 0 && LPA_ERROR_LOCAL_PROFILE_NOT_IN_ENABLE_STATE == 0x210D &&
                  SE_MEDIA_E_CHAINING_GET_RESPONSE == 0x801E,
              "named constants come from the list");

TEST(ErrorTable, HoldsTheRowsInTableOrder)
{
    size_t count = 0;
    const LpaErrorCodeDescription *rows = tableRows(&count);
    ASSERT_EQ(count, 131u);
    EXPECT_EQ(rows[131].code, 0u);
    EXPECT_EQ(rows, lpaErrorCodeDescriptionList);

    std::set<uint32_t> codes;
    std::set<std::string> names;
    uint64_t weighted = 0, sum = 0, nameChars = 0;
    for (size_t i = 0; i < count; ++i) {
        codes.insert(rows[i].code);
        names.insert(rows[i].name);
        weighted += i * rows[i].code;
        sum += rows[i].code;
        nameChars += strlen(rows[i].name);
    }
    EXPECT_EQ(codes.size(), 131u);
    EXPECT_EQ(names.size(), 131u);
    // Fingerprints of the table: catch a slipped, dropped or moved row.
    EXPECT_EQ(weighted, 160470492u);
    EXPECT_EQ(sum, 1868025u);
    EXPECT_EQ(nameChars, 4354u);

    // Group boundaries (2, 28, 14, 5, 51, 31 rows) and landmark rows.
    EXPECT_EQ(rows[1].code, 0x1001u);
    EXPECT_EQ(rows[2].code, 0x2001u);
    EXPECT_EQ(rows[29].code, 0x2020u);
    for (size_t i = 30; i < 44; ++i) EXPECT_EQ(rows[i].code & 0xFF00u, 0x2100u) << i;
    for (size_t i = 44; i < 49; ++i) EXPECT_EQ(rows[i].code & 0xFF00u, 0x2200u) << i;
    EXPECT_EQ(rows[49].code, 0x2301u);
    for (size_t i = 100; i < 131; ++i) EXPECT_EQ(rows[i].code, 0x8000u + (i - 100)) << i;
    EXPECT_EQ(rows[33].code, 0x2105u);
    EXPECT_EQ(rows[34].code, 0x2104u);
    EXPECT_EQ(rows[61].code, 0x2319u);
    EXPECT_EQ(rows[62].code, 0x231Bu);
    EXPECT_EQ(rows[63].code, 0x2313u);
    EXPECT_EQ(rows[88].code, 0x2310u);
    EXPECT_EQ(rows[89].code, 0x200Eu);
    EXPECT_EQ(rows[90].code, 0x2011u);
    EXPECT_EQ(rows[99].code, 0x2324u);
    EXPECT_EQ(rows[130].code, 0x801Eu);

    // Every name is its constant's identifier: the lookup of each row's code
    // gives the row's own name.
    for (size_t i = 0; i < count; ++i) {
        EXPECT_STREQ(lpaGetErrorCodeDescription(rows[i].code), rows[i].name);
    }
}

TEST(ErrorTable, RowLayout)
{
    static_assert(sizeof(LpaErrorCodeDescription) == 2 * sizeof(void *), "row size");
    static_assert(offsetof(LpaErrorCodeDescription, name) == sizeof(void *), "name offset");
    static_assert(sizeof(LpaEventExecutionError) == 8 + 3 * sizeof(void *), "event size");
}

TEST_F(ErrorCodeTest, DescriptionsAndLookupWriteNothing)
{
    EXPECT_STREQ(lpaGetErrorCodeDescription(0), "LPA_NO_ERROR");
    EXPECT_STREQ(lpaGetErrorCodeDescription(0x2005), "Unknown LPA API Error Code");
    EXPECT_STREQ(lpaGetErrorCodeDescription(0x801E), "SE_MEDIA_E_CHAINING_GET_RESPONSE");
    EXPECT_STREQ(lpaGetErrorCodeDescription(0x210D), "LPA_ERROR_LOCAL_PROFILE_NOT_IN_ENABLE_STATE");
    EXPECT_STREQ(lpaGetErrorCodeDescription(0xFFFFFFFFu), "Unknown LPA API Error Code");
    lpaExGetListErrorCodeDescription();
    EXPECT_TRUE(log.lines.empty());
}

TEST_F(ErrorCodeTest, SetStoresTheFirstErrorSinceReset)
{
    lpaSetLastErrorCode(0x2001);
    EXPECT_EQ(log.find("lpaSetLastErrorCode(0x002001)", LPA_LOG_LEVEL_DEB), 0);
    EXPECT_EQ(log.find("_errorCode=0x002001 => LPA_ERROR_INVALID_PARAMETER", LPA_LOG_LEVEL_DEB), 1);
    EXPECT_EQ(lpaGetErrorCodeNoClear(), 0x2001u);

    lpaResetErrorCode();
    EXPECT_TRUE(log.has("lpaResetErrorCode()...", LPA_LOG_LEVEL_DEB));
    log.clear();

    lpaSetLastErrorCode(0x200B);
    lpaSetLastErrorCode(0x200A);
    EXPECT_TRUE(log.has("errorCode already defined to 0x00200B (error code requested:0x00200A)",
                        LPA_LOG_LEVEL_DEB));
    EXPECT_EQ(log.countPrefix("_errorCode="), 1u);
    // Setting 0 does not clear a stored code either.
    lpaSetLastErrorCode(0);
    EXPECT_TRUE(log.has("errorCode already defined to 0x00200B (error code requested:0x000000)"));
    log.clear();
    EXPECT_EQ(lpaGetErrorCodeNoClear(), 0x200Bu);
    EXPECT_EQ(log.find("lpaGetErrorCodeNoClear(): ErrorCode=0x00200B", LPA_LOG_LEVEL_DEB), 0);
    EXPECT_EQ(lpaGetErrorCodeNoClear(), 0x200Bu);
}

TEST_F(ErrorCodeTest, ZeroAndUnknownCodesAreStored)
{
    lpaSetLastErrorCode(0);
    EXPECT_TRUE(log.has("_errorCode=0x000000", LPA_LOG_LEVEL_DEB));
    EXPECT_EQ(log.count("errorCode already defined to 0x000000 (error code requested:0x000000)"), 0u);

    lpaSetLastErrorCode(0x2005);
    EXPECT_TRUE(log.has("_errorCode=0x002005 => Unknown LPA API Error Code"));
    EXPECT_EQ(lpaGetErrorCodeNoClear(), 0x2005u);
}

TEST_F(ErrorCodeTest, GetErrorCodeReturnsAndClearsInItsFrame)
{
    lpaSetLastErrorCode(0x201F);
    log.clear();
    EXPECT_EQ(lpaGetErrorCode(), 0x201Fu);
    ASSERT_EQ(log.lines.size(), 3u);
    EXPECT_EQ(log.lines[0].text, "[LPASDKAPI] <lpaGetErrorCode> started");
    EXPECT_EQ(log.lines[1].text, "return _errorCode=0x00201F");
    EXPECT_EQ(log.lines[2].text, "[LPASDKAPI] <lpaGetErrorCode> terminated");
    for (const auto &line : log.lines) EXPECT_EQ(line.level, LPA_LOG_LEVEL_DEB);
    EXPECT_EQ(log.flushes, 1);
    EXPECT_STREQ(lpaCurrentApiName, "lpaGetErrorCode");

    log.clear();
    EXPECT_EQ(lpaGetErrorCode(), 0u);
    EXPECT_TRUE(log.has("return _errorCode=0x000000"));
}

TEST_F(ErrorCodeTest, FrameClosingLine)
{
    _lpaApiFrameOpen("lpaExGetProfileNotificationList");
    lpaSetLastErrorCode(0x201F);
    _lpaApiFrameClose();
    EXPECT_TRUE(log.has("[LPASDKAPI] <lpaExGetProfileNotificationList> started"));
    EXPECT_TRUE(
        log.has("[LPASDKAPI] <lpaExGetProfileNotificationList> terminated (API error: 0x201f) "));
    EXPECT_EQ(log.flushes, 1);

    // The recorded name is cut at 63 characters.
    const std::string longName(100, 'n');
    _lpaApiFrameOpen(longName.c_str());
    EXPECT_EQ(std::string(lpaCurrentApiName), longName.substr(0, 63));

    // An empty name writes no closing line, but still flushes.
    lpaCurrentApiName[0] = '\0';
    log.clear();
    _lpaApiFrameClose();
    EXPECT_TRUE(log.lines.empty());
    EXPECT_EQ(log.flushes, 1);
}

namespace {

struct CallbackRecord {
    int calls = 0;
    void *userData = nullptr;
    const LpaEventExecutionError *event = nullptr;
};
CallbackRecord callbackRecord;

void recordingCallback(void *userData, const LpaEventExecutionError *event)
{
    ++callbackRecord.calls;
    callbackRecord.userData = userData;
    callbackRecord.event = event;
}

}  // namespace

TEST_F(ErrorCodeTest, ForwardsExecutionErrorsToTheApplication)
{
    callbackRecord = CallbackRecord();
    int userData = 0;
    LpaEventExecutionError event = {LPA_EXECUTION_ERROR_SOURCE_SE_MEDIA,
                                    LPA_EXECUTION_ERROR_FIELD_SUBJECT_CODE | LPA_EXECUTION_ERROR_FIELD_TEXT,
                                    "6A88", nullptr, "card failure"};
    int context = 0;
    _lpaManagerSetAppEventExecutionErrorCallback(recordingCallback, &userData);
    _lpaManagerEventExecutionErrorCallback(&context, &event);
    EXPECT_EQ(callbackRecord.calls, 1);
    EXPECT_EQ(callbackRecord.userData, &userData);
    EXPECT_EQ(callbackRecord.event, &event);
    ASSERT_EQ(log.lines.size(), 3u);
    EXPECT_EQ(log.lines[0].text, "++ _lpaManagerEventExecutionErrorCallback(...)");
    EXPECT_EQ(log.lines[1].text, "send Event to appEventExecutionErrorCallback ...");
    EXPECT_EQ(log.lines[2].text, "-- _lpaManagerEventExecutionErrorCallback(...)");

    // A NULL event is not forwarded.
    log.clear();
    _lpaManagerEventExecutionErrorCallback(nullptr, nullptr);
    EXPECT_EQ(callbackRecord.calls, 1);
    EXPECT_EQ(log.count("send Event to appEventExecutionErrorCallback ..."), 0u);
    EXPECT_EQ(log.lines.size(), 2u);

    // Nothing installed: nothing is called.
    _lpaManagerSetAppEventExecutionErrorCallback(nullptr, nullptr);
    log.clear();
    _lpaManagerEventExecutionErrorCallback(nullptr, &event);
    EXPECT_EQ(callbackRecord.calls, 1);
    EXPECT_EQ(log.count("send Event to appEventExecutionErrorCallback ..."), 0u);
    EXPECT_TRUE(log.has("-- _lpaManagerEventExecutionErrorCallback(...)"));
}
