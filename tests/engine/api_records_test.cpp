// Filling profile records from a profile entry (tag E3), both kinds.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "api_test_util.h"
#include "lpa_core_memory.h"
#include "lpa_host.h"
#include "lpa_manager_es10c.h"

namespace hbr_test {
namespace {

using hbrsim::Bytes;
using hbrsim::hexBytes;
using hbrsim::tlv;

class ProfileRecordTest : public EngineFixture {
protected:
    // Fills a record of the kind from an entry whose content is given.
    bool Fill(void *record, const Bytes &content, uint8_t kind)
    {
        BerTLV entry = {0xE3, content.size(), const_cast<uint8_t *>(content.data())};
        if (content.empty()) {
            entry.value = nullptr;
        }
        return _updateProfileInfoFromBerTLV(record, &entry, kind);
    }
    std::vector<LogEntry> Log() const { return ParseLog(LogLines()); }
};

template <typename Record>
bool IsZero(const Record &record)
{
    Record zero;
    std::memset(&zero, 0, sizeof(zero));
    return std::memcmp(&record, &zero, sizeof(zero)) == 0;
}

TEST_F(ProfileRecordTest, FullRecordTakesEachTagWithinItsField)
{
    Bytes content = hbrsim::concat({tlv(0x5A, Bytes(10, 0x98)), tlv(0x4F, Bytes(16, 0xA0)), tlv(0x9F70, {Bytes{1}}),
                                    tlv(0x90, Bytes(64, 'n')), tlv(0x91, Bytes(32, 's')), tlv(0x92, Bytes(64, 'p')),
                                    tlv(0x93, Bytes{1}), tlv(0x94, Bytes(1024, 0x11)), tlv(0x95, Bytes{2}),
                                    tlv(0x99, hexBytes("0640")), tlv(0x88, Bytes{7})});
    LpaProfileInfo record;
    std::memset(&record, 0xCC, sizeof(record));
    ASSERT_TRUE(Fill(&record, content, LPA_PROFILE_INFO_KIND_FULL));
    EXPECT_EQ(record.profileInfoRawLength, content.size());
    EXPECT_EQ(Bytes(record.profileInfoRaw, record.profileInfoRaw + record.profileInfoRawLength), content);
    EXPECT_EQ(record.iccidLength, 10u);
    EXPECT_EQ(record.profileStateLength, 1u);
    EXPECT_EQ(record.profileState[0], 1u);
    EXPECT_EQ(record.profileState[1], 0u);
    EXPECT_EQ(std::string(record.nickname, record.nicknameLength), std::string(64, 'n'));
    EXPECT_EQ(std::string(record.serviceProviderName, record.serviceProviderNameLength), std::string(32, 's'));
    EXPECT_EQ(std::string(record.profileName, record.profileNameLength), std::string(64, 'p'));
    EXPECT_EQ(record.iconTypeLength, 1u);
    EXPECT_EQ(record.iconLength, 1024u);
    EXPECT_EQ(record.profileClass[0], 2u);
    std::vector<LogEntry> log = Log();
    EXPECT_TRUE(InOrder(log, {{"DEB", "countTLVFound : 11"},
                              {"DEB", "IDX[0] TLV tag<005a> (10 bytes) => 98989898989898989898"},
                              {"DEB", "IDX[7] TLV tag<0094> (1024 bytes) => ..."},
                              {"WAR", "WARNING! Tag 0x99 \"profilePolicyRules\" detected on normal profile info request. Shall not happen."},
                              {"WAR", "WARNING! Unattended Tag 0x88 detected in profile info. Ignoring it."}}));

    // One byte over each field: the field stays empty.
    content = hbrsim::concat({tlv(0x5A, Bytes(11, 0x98)), tlv(0x9F70, Bytes(3, 1)), tlv(0x90, Bytes(65, 'n')),
                              tlv(0x91, Bytes(33, 's')), tlv(0x92, Bytes(65, 'p')), tlv(0x93, Bytes(3, 1)),
                              tlv(0x94, Bytes(1025, 0x11)), tlv(0x95, Bytes(3, 2)), tlv(0x95, Bytes())});
    ASSERT_TRUE(Fill(&record, content, LPA_PROFILE_INFO_KIND_FULL));
    LpaProfileInfo expected;
    std::memset(&expected, 0, sizeof(expected));
    std::memcpy(expected.profileInfoRaw, content.data(), content.size());
    expected.profileInfoRawLength = content.size();
    EXPECT_EQ(std::memcmp(&record, &expected, sizeof(record)), 0);
}

TEST_F(ProfileRecordTest, CompactRecordTakesItsTagsAndWarnsOfOthers)
{
    Bytes content = hbrsim::concat({tlv(0x5A, Bytes(10, 0x98)), tlv(0x9F70, {Bytes{0}}), tlv(0x95, Bytes{1}),
                                    tlv(0x99, hexBytes("0640")), tlv(0x90, Bytes{'n'}), tlv(0x91, Bytes{'s'}),
                                    tlv(0x92, Bytes{'p'}), tlv(0x93, Bytes{1}), tlv(0x94, Bytes{1}),
                                    tlv(0x9F71, Bytes{1})});
    LpaProfileInfoForPpr record;
    std::memset(&record, 0xCC, sizeof(record));
    ASSERT_TRUE(Fill(&record, content, LPA_PROFILE_INFO_KIND_PPR));
    EXPECT_EQ(record.iccidLength, 10u);
    EXPECT_EQ(record.profileStateLength, 1u);
    EXPECT_EQ(record.profileClass[0], 1u);
    EXPECT_EQ(record.profilePolicyRulesLength, 2u);
    EXPECT_EQ(record.profilePolicyRules[1], 0x40u);
    std::vector<LogEntry> log = Log();
    for (const char *tag : {"0x90 \"nickname\"", "0x91 \"serviceProviderName\"", "0x92 \"profileName\"",
                            "0x93 \"iconType\"", "0x94 \"icon\""}) {
        EXPECT_EQ(CountEntries(log, {"WAR", std::string("WARNING! Tag ") + tag +
                                                " detected on profile info request for PPR. Shall not happen."}),
                  1u)
            << tag;
    }
    EXPECT_EQ(CountEntries(log, {"WAR", "WARNING! Unattended Tag 0x9F71 detected in profile info. Ignoring it."}), 1u);

    ASSERT_TRUE(Fill(&record, tlv(0x99, Bytes(3, 0x06)), LPA_PROFILE_INFO_KIND_PPR));
    EXPECT_TRUE(IsZero(record));
}

TEST_F(ProfileRecordTest, OversizedOrUndecodableEntriesLeaveAZeroRecord)
{
    // 1300 bytes of content fit; 1301 do not.
    Bytes fits = tlv(0x94, Bytes(1296, 0x11));
    ASSERT_EQ(fits.size(), 1300u);
    LpaProfileInfo record;
    EXPECT_TRUE(Fill(&record, fits, LPA_PROFILE_INFO_KIND_FULL));
    EXPECT_EQ(record.profileInfoRawLength, 1300u);
    EXPECT_EQ(record.iconLength, 0u);  // over the icon's 1024 bytes

    Bytes tooLong = hbrsim::concat({fits, Bytes{0x00}});
    std::memset(&record, 0xCC, sizeof(record));
    EXPECT_FALSE(Fill(&record, tooLong, LPA_PROFILE_INFO_KIND_FULL));
    EXPECT_TRUE(IsZero(record));
    EXPECT_EQ(CountEntries(Log(), {"WAR", "_updateProfileInfoFromBerTLV() - Profile raw data size too big (1301 vs 1300 max) or profile raw data = NULL !"}),
              1u);

    std::memset(&record, 0xCC, sizeof(record));
    EXPECT_FALSE(Fill(&record, hexBytes("5A0A98"), LPA_PROFILE_INFO_KIND_FULL));
    EXPECT_TRUE(IsZero(record));
    LpaProfileInfoForPpr compact;
    std::memset(&compact, 0xCC, sizeof(compact));
    EXPECT_FALSE(Fill(&compact, hexBytes("5A0A98"), LPA_PROFILE_INFO_KIND_PPR));
    EXPECT_TRUE(IsZero(compact));
    EXPECT_FALSE(Fill(&compact, Bytes(), LPA_PROFILE_INFO_KIND_PPR));
    EXPECT_EQ(CountEntries(Log(), {"WAR", "_updateProfileInfoFromBerTLV() - BerTLV list NULL !"}), 3u);

    EXPECT_FALSE(_updateProfileInfoFromBerTLV(nullptr, nullptr, LPA_PROFILE_INFO_KIND_FULL));
    EXPECT_EQ(CountEntries(Log(), {"WAR", "_updateProfileInfoFromBerTLV() - Incorrect parameter(s)!"}), 1u);
}

// The download flows' compact list: the array is allocated here, sized by
// the count, and replaces an array already in the list.
class CompactListForDownloadTest : public ApiFixture {};

TEST_F(CompactListForDownloadTest, AllocatesItsOwnArray)
{
    Sim().state().profiles[1].ppr = hexBytes("0520");
    LpaProfileInfoList list = {};
    list.profileInfo = LPA_MALLOC(8);
    list.maxProfileInfo = 1;
    bool retryAllowed = false;
    ASSERT_TRUE(_lpaManagerConnectReaderAndSelectISDR());
    EXPECT_TRUE(lpaManagerES10c_GetProfilesInfo(&list, &retryAllowed, LPA_PROFILE_INFO_KIND_PPR));
    EXPECT_TRUE(_lpaManagerUnselectISDRAndDisconnectReader());
    EXPECT_TRUE(retryAllowed);
    EXPECT_EQ(list.maxProfileInfo, 3u);
    EXPECT_EQ(list.countProfileInfo, 3u);
    ASSERT_NE(list.profileInfo, nullptr);
    const LpaProfileInfoForPpr *records = static_cast<const LpaProfileInfoForPpr *>(list.profileInfo);
    EXPECT_EQ(records[1].profilePolicyRulesLength, 2u);
    EXPECT_EQ(records[1].profilePolicyRules[1], 0x20u);
    EXPECT_EQ(hbrsim::toHex(Sim().records().es10.back().request), "BF2D075C055A9F709599");
    LPA_FREE(list.profileInfo);
}

}  // namespace
}  // namespace hbr_test
