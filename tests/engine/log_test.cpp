// Engine log: line layout, levels, long messages, dumps, rotation, hooks.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "engine_fixture.h"
#include "lpa_core_log.h"
#include "lpa_core_memory.h"

using hbr_test::EngineFixture;
using hbr_test::FindLine;
using hbr_test::LogMessage;

namespace {

const std::regex kLineLayout(R"(^\d\d/\d\d/\d{4} \d\d:\d\d:\d\d \| (VER|DEB|INF|WAR|ERR|SYS) \| .*)");

class LogTest : public EngineFixture {};

TEST_F(LogTest, LinesHaveLayoutAndFollowLevel)
{
    logSetLevel(LPA_LOG_LEVEL_INF);
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "dropped %d", 1);
    lpaCoreLog(LPA_LOG_LEVEL_INF, "info %d", 2);
    lpaCoreLog(LPA_LOG_LEVEL_WAR, "warning %s", "w");
    lpaCoreLog(LPA_LOG_LEVEL_ERR, "error");
    lpaCoreLog(LPA_LOG_LEVEL_SYS, "system");
    logSetLevel(LPA_LOG_LEVEL_SYS);
    lpaCoreLog(LPA_LOG_LEVEL_ERR, "dropped too");
    lpaCoreLog(LPA_LOG_LEVEL_SYS, "system again");

    auto lines = LogLines();
    ASSERT_EQ(lines.size(), 5u);
    for (const auto &line : lines) {
        EXPECT_TRUE(std::regex_match(line, kLineLayout)) << line;
    }
    EXPECT_NE(lines[0].find(" | INF | info 2"), std::string::npos);
    EXPECT_NE(lines[1].find(" | WAR | warning w"), std::string::npos);
    EXPECT_NE(lines[2].find(" | ERR | error"), std::string::npos);
    EXPECT_NE(lines[3].find(" | SYS | system"), std::string::npos);
    EXPECT_NE(lines[4].find(" | SYS | system again"), std::string::npos);
}

TEST_F(LogTest, UnknownLevelPrintsQuestionMarks)
{
    lpaCoreLog(9, "odd level");
    auto lines = LogLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find(" | ?? | odd level"), std::string::npos) << lines[0];
}

TEST_F(LogTest, EmptyMessageIsReportedAsUnformattable)
{
    lpaCoreLog(LPA_LOG_LEVEL_INF, "%s", "");
    std::string text = LogText();
    EXPECT_NE(text.find(" | INF | ---Unable to format message --- \n"), std::string::npos) << text;
}

}  // namespace
