// The fake world of the flow tests: a module, an eUICC, the cloud and the
// interface flags, behind the flows' seam. Every call and every wait goes
// into one ordered journal; nothing really sleeps.
#ifndef HBR_TEST_FAKE_WORLD_H
#define HBR_TEST_FAKE_WORLD_H

#include "agent_fixture.h"

#include <flow_common.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

struct FakeProfile {
    std::vector<uint8_t> iccid; // card byte order
    int profileClass = 1;
    bool enabled = false;
};

// What the cloud answers in one pass (the last entry repeats).
struct FakeCloudPass {
    bool bootstrapOk = true;
    bool operCodeOk = true;
    int operation = 0;
    int simMode = 0;
    int errorCode = 0;
    std::string activeCode = "1$smdp.example$MATCH-1";
};

struct FakeWorld {
    std::vector<std::string> journal;

    // Module.
    int slot = 0;
    std::string slotText; // reply text of a slot read; empty: the slot's number
    int failingSlotReads = 0;
    std::set<int> refusedSlots; // SetModuleSimSlot values that fail
    bool imeiOk = true;
    bool moduleIccidOk = true;
    std::string moduleIccid = "89010000000000000009";
    int deactiveNeeded = 1;

    // eUICC and engine.
    std::vector<FakeProfile> profiles;
    uint32_t pendingError = 0;
    bool initOk = true;
    std::set<int> failingLists; // indexes of QueryProfilesInfo calls that fail
    bool eidOk = true;
    bool downloadOk = true;
    size_t downloadInstalls = 1;
    FakeProfile downloaded;
    uint32_t disableError = 0; // forced error of every disable
    int listCalls = 0;
    int recordArrays = 0; // allocated and not yet released
    int engineUp = 0;     // initialisations minus uninitialisations
    int frames = 0;       // frames begun minus frames ended
    std::string deviceInfo;
    bool certFileAtDownload = false;
    std::string certFileBytes;

    // Cloud.
    std::vector<FakeCloudPass> cloud{FakeCloudPass{}};
    int bootstrapCalls = 0;
    bool statusOk = true;
    bool apnAttached = true;
    bool apnInternet = true;
    bool apnRecordsZeroed = true; // every match got an all-zero record
    std::vector<std::string> contextAtBootstrap; // "token/operation/errorCode/done" per call

    // Registry and interface.
    bool registryOk = true;
    bool bringUpWorks = true;
    int interfaceBackAfterWaits = -1; // 3000 ms waits until the interface returns
    CStateWork *work = nullptr;

    static FakeWorld *current;
    static const FlowDeps kDeps;

    void Note(const std::string &entry) { journal.push_back(entry); }
    // Journal entries that start with `prefix`.
    std::vector<std::string> Entries(const std::string &prefix) const;
    int Count(const std::string &entry) const;
    FakeProfile *Find(const uint8_t *iccid, size_t length);
};

// Card-order ICCID bytes of the test profiles, and their texts.
std::vector<uint8_t> TestIccid(int n); // text "8901000000000000000<n>"
std::string TestIccidText(int n);

// A fresh CStateWork with a temp run path, installed as the instance, and
// the fake world behind the flows' seam.
class FlowTest : public AgentTest {
protected:
    void SetUp() override;
    void TearDown() override;
    // One old provisioning profile, enabled; the cloud's answer; platform.
    void OldProfile();
    void Cloud(int operation, int simMode = 0, int errorCode = 0);
    std::vector<std::string> &J() { return world_.journal; }

    FakeWorld world_;
    std::unique_ptr<CStateWork> work_;
    std::unique_ptr<hbrtest::TempDir> runDir_;
};

#endif
