// Allocation torture: every export runs once with the first allocation of
// each distinct allocation site failing (the sites and their first call
// numbers come from a dry run). Each failing run must end without a crash,
// answer false with a last error (or succeed when the failure was one the
// export can do without), leave no engine block behind, and leave the
// eUICC consistent. scripts/torture.sh runs the full k = 1, 2, ... sweep.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "lpa_core_memory.h"
#include "lpa_core_memory_internal.h"
#include "flows_test_util.h"
#include "lpa_host.h"
#include "lpa_download.h"

namespace hbr_test {
namespace {

const bool curlRegistered = RegisterCurlEnvironment();

const char kDownloadedDigits[] = "8944476500001234567F";
const std::vector<uint8_t> kOperationalIccid = {0x98, 0x00, 0x10, 0x32, 0x54, 0x76, 0x98, 0x10, 0x32, 0x85};
const std::vector<uint8_t> kTestIccid = {0x98, 0x00, 0x10, 0x32, 0x54, 0x76, 0x98, 0x10, 0x32, 0x66};

using Site = std::pair<std::string, int>;  // file, line

// The dry run's allocation calls: each site's first call, and every call's
// site, as offsets from the call count before the run.
struct Recording {
    uint32_t base = 0;
    std::map<Site, uint32_t> first;
    std::vector<Site> calls;
};

void RecordSite(uint32_t call, const char *file, int line, void *context)
{
    auto *recording = static_cast<Recording *>(context);
    Site site(file ? file : "?", line);
    recording->first.emplace(site, call - recording->base);
    recording->calls.push_back(site);
}

std::string Where(const Site &site)
{
    return site.first.substr(site.first.rfind('/') + 1) + ":" + std::to_string(site.second);
}

struct Export {
    const char *name;
    bool download;   // needs the SM-DP+ and checks the installed profile
    bool lifecycle;  // initialises and uninitialises the engine itself
    std::function<bool(const std::string &dir, const std::string &code)> run;
};

bool WithList(bool ex)
{
    std::vector<LpaProfileInfo> full(8);
    std::vector<LpaProfileInfoForPpr> compact(8);
    LpaProfileInfoList list{};
    list.maxProfileInfo = 8;
    list.profileInfo = ex ? static_cast<void *>(compact.data()) : static_cast<void *>(full.data());
    return ex ? lpaGetProfilesInfo_ex(&list) : lpaGetProfilesInfo(&list);
}

// The agent's engine pass, as it drives liblpa.so.
bool AgentPass(const std::string &dir, const std::string &code)
{
    lpaUninitialize();
    bool ok = lpaInitialize(dir.c_str()) && WithList(false);
    if (ok) {
        LpaDownloadCallbacks none{};
        LpaOperationResult result{};
        lpaApiFrameBegin("lpaDownloadProfile");
        bool step = _lpaManagerConnectReaderAndSelectISDR() && lpaManagerDownloadProfile(code.c_str(), &none, &result);
        step = _lpaManagerUnselectISDRAndDisconnectReader() && step;
        ok = lpaApiFrameEnd(step);
    }
    if (ok) {
        hbrsim::Bytes iccid = hbrsim::iccidFromDigits(kDownloadedDigits);
        lpaDisableProfileByIccid(iccid.data(), iccid.size());  // installed disabled: refused
        lpaGetErrorCode();
        ok = lpaDeleteProfileByIccid(iccid.data(), iccid.size());
    }
    lpaUninitialize();
    return ok;
}

const std::vector<Export> &Exports()
{
    static const std::vector<Export> exports = {
        {"Initialize", false, true,
         [](const std::string &dir, const std::string &) {
             lpaUninitialize();
             bool ok = lpaInitialize(dir.c_str());
             lpaUninitialize();
             return ok;
         }},
        {"GetProfilesNumber", false, false, [](const std::string &, const std::string &) {
             size_t count = 0;
             return lpaGetProfilesNumber(&count);
         }},
        {"GetProfilesInfo", false, false, [](const std::string &, const std::string &) { return WithList(false); }},
        {"GetProfilesInfoEx", false, false, [](const std::string &, const std::string &) { return WithList(true); }},
        {"GetEID", false, false, [](const std::string &, const std::string &) {
             LpaEid eid{};
             return lpaGetEID(&eid);
         }},
        {"EnableProfile", false, false, [](const std::string &, const std::string &) {
             return lpaEnableProfileByIccid(kOperationalIccid.data(), kOperationalIccid.size());
         }},
        {"DeleteProfile", false, false, [](const std::string &, const std::string &) {
             return lpaDeleteProfileByIccid(kTestIccid.data(), kTestIccid.size());
         }},
        {"SetNickname", false, false, [](const std::string &, const std::string &) {
             return lpaSetNicknameByIccid(kTestIccid.data(), kTestIccid.size(), "Torture", 7);
         }},
        {"DefaultSmdpAddress", false, false, [](const std::string &, const std::string &) {
             LpaServerAddress address{};
             return lpaSetDefaultSMDPAddress("smdp.example.com") && lpaGetSMDPAddress(&address);
         }},
        {"DownloadProfile", true, false, [](const std::string &, const std::string &code) {
             LpaOperationResult result{};
             return lpaDownloadProfile(code.c_str(), nullptr, &result);
         }},
        {"AgentEnginePass", true, true, AgentPass},
    };
    return exports;
}

class TortureTest : public DownloadFixture, public ::testing::WithParamInterface<size_t> {
protected:
    // A fresh eUICC; the engine initialised unless the export does that.
    void Fresh(const Export &e)
    {
        hbrsim::seam::reset(StandardSeed());
        if (e.lifecycle) {
            lpaUninitialize();
        } else if (!lpaIsInitialized()) {
            ASSERT_TRUE(lpaInitialize(dir_.c_str()));
        }
        lpaGetErrorCode();
    }
    const hbrsim::Profile *Downloaded() const { return Installed(kDownloadedDigits); }
};

TEST_P(TortureTest, EveryAllocationSiteFailsOnce)
{
    const Export &e = Exports()[GetParam()];
    if (e.download) {
        StartSmdp(R"({"profiles": [{"elements": [40, 60]}]})");
    }
    auto run = [&] { return e.run(dir_, Code()); };

    Fresh(e);
    Recording recording;
    recording.base = lpaCoreMemoryTestCounters().allocCalls;
    lpaCoreMemoryTestSetCallRecorder(RecordSite, &recording);
    const bool dry = run();
    lpaCoreMemoryTestSetCallRecorder(nullptr, nullptr);
    ASSERT_TRUE(dry) << e.name << " fails without a fault\n" << LogText();
    ASSERT_FALSE(recording.first.empty());
    const auto &sites = recording.first;
    const uint32_t calls = static_cast<uint32_t>(recording.calls.size());

    // Each site's first call; with HBR_TORTURE_FULL=1 (scripts/torture.sh)
    // every call of the dry run in turn.
    std::vector<std::pair<std::string, uint32_t>> runs;
    if (const char *full = std::getenv("HBR_TORTURE_FULL"); full != nullptr && std::string(full) == "1") {
        for (uint32_t k = 1; k <= calls; ++k) {
            runs.emplace_back("call " + std::to_string(k) + " at " + Where(recording.calls[k - 1]), k);
        }
    } else {
        for (const auto &site : sites) runs.emplace_back(Where(site.first), site.second);
    }
    int refused = 0;
    for (const auto &site : runs) {
        const std::string &where = site.first;
        Fresh(e);
        const uint32_t live = LiveBlocks();
        lpaCoreMemorySetParamGenerateErr(LPA_CORE_MEMORY_GENERATE_ERR_IF_MEMORY_COUNTER_EQ,
                                         static_cast<int32_t>(lpaCoreMemoryTestCounters().allocCalls + site.second));
        const bool ok = run();
        lpaCoreMemorySetParamGenerateErr(LPA_CORE_MEMORY_GENERATE_ERR_IF_MEMORY_COUNTER_EQ, 0);
        const uint32_t error = lpaGetErrorCode();
        EXPECT_EQ(LiveBlocks(), live) << e.name << " left a block at " << where;
        if (!ok) {
            ++refused;
            EXPECT_NE(error, 0u) << e.name << " failed without a last error at " << where;
        }
        if (e.download) {
            const hbrsim::Profile *profile = Downloaded();
            if (ok && !e.lifecycle) {
                EXPECT_NE(profile, nullptr) << where;
            }
            if (profile != nullptr) {
                EXPECT_EQ(profile->profileName, "Test Profile 1") << where;
            }
        }
    }
    EXPECT_GT(refused, 0) << e.name;
    std::printf("%s: %zu sites, %u calls, %zu runs, %d refused\n", e.name, sites.size(), calls, runs.size(),
                refused);
}

std::string ExportName(const ::testing::TestParamInfo<size_t> &info)
{
    return Exports()[info.param].name;
}

INSTANTIATE_TEST_SUITE_P(Exports, TortureTest, ::testing::Range<size_t>(0, 11), ExportName);

}  // namespace
}  // namespace hbr_test
