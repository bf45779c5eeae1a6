// Shared pieces of the engine API tests: the fixture that runs the engine
// on a temporary folder over the simulated module, the simulator's
// standard eUICC, and readers for the log and the recorded AT commands.
#ifndef HBR_API_TEST_UTIL_H
#define HBR_API_TEST_UTIL_H

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "engine_fixture.h"
#include "lpa.h"
#include "lpa_core_log.h"
#include "lpa_core_memory_internal.h"
#include "lpa_error_internal.h"
#include "sim_seam.h"
#include "sim_seed.h"

namespace hbr_test {

// ICCIDs of the standard eUICC, in card byte order.
inline const std::vector<uint8_t> &ProvisioningIccid()
{
    static const std::vector<uint8_t> bytes = {0x98, 0x00, 0x10, 0x32, 0x54, 0x76, 0x98, 0x10, 0x32, 0x14};
    return bytes;
}
constexpr char kProvisioningDigits[] = "89000123456789012341";
constexpr char kOperationalDigits[] = "89000123456789012358";
constexpr char kTestDigits[] = "89000123456789012366";
constexpr char kSimEid[] = "89049032123451234512345678901235";

// Three profiles: provisioning (enabled), operational (disabled), test
// (disabled).
inline hbrsim::Seed StandardSeed()
{
    hbrsim::Seed seed;
    seed.profile(hbrsim::ProfileBuilder(kProvisioningDigits)
                     .profileClass(hbrsim::ClassProvisioning)
                     .enabled()
                     .name("Bootstrap")
                     .provider("Hollowbright"));
    seed.profile(hbrsim::ProfileBuilder(kOperationalDigits)
                     .profileClass(hbrsim::ClassOperational)
                     .name("Operator plan")
                     .provider("Operator"));
    seed.profile(hbrsim::ProfileBuilder(kTestDigits).profileClass(hbrsim::ClassTest).name("Test profile"));
    return seed;
}

inline hbrsim::Module &Sim()
{
    return hbrsim::seam::module();
}

inline uint32_t LiveBlocks()
{
    return lpaCoreMemoryTestCounters().liveBlocks;
}

// Every AT command the module received, in order.
inline std::vector<std::string> AtCommands()
{
    return Sim().records().atCommands();
}

// The outer tags of the ES10 requests the eUICC received, in order.
inline std::vector<uint32_t> Es10Tags()
{
    std::vector<uint32_t> tags;
    for (const auto &r : Sim().records().es10) {
        tags.push_back(r.tag);
    }
    return tags;
}

inline std::string HexOf(const uint8_t *bytes, size_t length)
{
    return hbrsim::toHex(bytes, length);
}

// A log line split into its level and message.
struct LogEntry {
    std::string level;
    std::string message;
    bool operator==(const LogEntry &o) const { return level == o.level && message == o.message; }
};

inline std::ostream &operator<<(std::ostream &os, const LogEntry &e)
{
    return os << e.level << " | " << e.message;
}

inline std::vector<LogEntry> ParseLog(const std::vector<std::string> &lines)
{
    std::vector<LogEntry> entries;
    for (const auto &line : lines) {
        if (line.size() >= 28 && line.compare(19, 3, " | ") == 0 && line.compare(25, 3, " | ") == 0) {
            entries.push_back(LogEntry{line.substr(22, 3), line.substr(28)});
        }
    }
    return entries;
}

// Success when the expected entries appear in this order (others may lie
// between them).
inline ::testing::AssertionResult InOrder(const std::vector<LogEntry> &log, const std::vector<LogEntry> &expected)
{
    size_t at = 0;
    for (const auto &want : expected) {
        while (at < log.size() && !(log[at] == want)) {
            ++at;
        }
        if (at == log.size()) {
            return ::testing::AssertionFailure() << "missing (in order): " << want;
        }
        ++at;
    }
    return ::testing::AssertionSuccess();
}

inline size_t CountEntries(const std::vector<LogEntry> &log, const LogEntry &want)
{
    size_t n = 0;
    for (const auto &e : log) {
        n += (e == want) ? 1 : 0;
    }
    return n;
}

// The messages from the first one equal to `first` up to the first one
// equal to `last` after it, both included (empty when not found).
inline std::vector<std::string> Span(const std::vector<LogEntry> &log, const std::string &first,
                                     const std::string &last)
{
    std::vector<std::string> out;
    bool in = false;
    for (const auto &e : log) {
        if (!in && e.message == first) {
            in = true;
        }
        if (in) {
            out.push_back(e.message);
            if (out.size() > 1 && e.message == last) {
                return out;
            }
        }
    }
    return std::vector<std::string>();
}

// The engine log lines of the test folder, the reduction of the sleeps,
// and a fresh simulated module.
class ApiTestBase : public EngineFixture {
protected:
    void SetUp() override
    {
        setenv("HBR_SLEEP_DIVISOR", "1000", 0);
        EngineFixture::SetUp();
        // The engine opens its own log.
        logClose();
        std::remove(logPath_.c_str());
        std::remove(backupPath_.c_str());
        hbrsim::seam::reset(StandardSeed());
    }
    void TearDown() override
    {
        if (lpaIsInitialized()) {
            lpaUninitialize();
        }
        hbrsim::seam::reset();
        EngineFixture::TearDown();
    }
    std::vector<LogEntry> Log() const { return ParseLog(LogLines()); }
    // Log entries written after MarkLog().
    std::vector<LogEntry> LogSinceMark() const
    {
        std::vector<LogEntry> all = Log();
        if (mark_ > all.size()) {
            return all;
        }
        return std::vector<LogEntry>(all.begin() + static_cast<long>(mark_), all.end());
    }
    void MarkLog()
    {
        lpaCoreLogFlush();
        mark_ = Log().size();
    }
    size_t mark_ = 0;
};

// The engine initialised on the test folder; the simulator's records start
// empty and the log mark is set after the initialisation. Tear-down
// uninitialises, resets the simulator and restores the parameters.
class ApiFixture : public ApiTestBase {
protected:
    void SetUp() override
    {
        ApiTestBase::SetUp();
        liveBefore_ = LiveBlocks();
        ASSERT_TRUE(lpaInitialize(dir_.c_str()));
        Sim().records().clear();
        MarkLog();
    }
    void TearDown() override
    {
        ApiTestBase::TearDown();
        EXPECT_EQ(LiveBlocks(), liveBefore_) << "engine blocks left after uninitialisation";
    }
    // Runs an export and checks that it leaves no engine block behind.
    template <typename Call>
    auto NoLeak(Call call) -> decltype(call())
    {
        uint32_t before = LiveBlocks();
        auto result = call();
        EXPECT_LE(LiveBlocks(), before);
        return result;
    }
    uint32_t liveBefore_ = 0;
};

}  // namespace hbr_test

#endif  // HBR_API_TEST_UTIL_H
