#include "fake_world.h"

#include <profile_lookup.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

FakeWorld *FakeWorld::current = nullptr;

namespace {

FakeWorld &W()
{
    return *FakeWorld::current;
}

const FakeCloudPass &CloudPass()
{
    FakeWorld &w = W();
    size_t i = static_cast<size_t>(w.bootstrapCalls > 0 ? w.bootstrapCalls - 1 : 0);
    return w.cloud[std::min(i, w.cloud.size() - 1)];
}

std::string Hex(const uint8_t *bytes, size_t n)
{
    char text[64] = {};
    HbrAgentIccidArrayToString(bytes, n, text, sizeof text);
    return text;
}

int GetSlot(char *text, size_t capacity)
{
    W().Note("slot?");
    if (W().failingSlotReads > 0) {
        --W().failingSlotReads;
        return 0;
    }
    std::string value = W().slotText.empty() ? std::to_string(W().slot) : W().slotText;
    std::snprintf(text, capacity, "%s", value.c_str());
    return 1;
}

int SetSlot(int slot)
{
    W().Note("set " + std::to_string(slot));
    if (W().refusedSlots.count(slot)) {
        return 0;
    }
    W().slot = slot;
    return 1;
}

int Cxp(int value)
{
    W().Note("esbp " + std::to_string(value));
    return 1;
}

int CloseChannel(int channel)
{
    W().Note("close " + std::to_string(channel));
    return 1;
}

int Imei(char *imei, size_t capacity)
{
    W().Note("imei");
    if (!W().imeiOk) {
        return 0;
    }
    std::snprintf(imei, capacity, "%s", "864000000000001");
    return 1;
}

int ModuleIccid(char *iccid, size_t capacity)
{
    W().Note("iccid");
    if (!W().moduleIccidOk) {
        return 0;
    }
    std::snprintf(iccid, capacity, "%s", W().moduleIccid.c_str());
    return 1;
}

int SyncNv()
{
    W().Note("sync");
    return 1;
}

int SendApn(int kind, const ApnInfo *apn)
{
    W().Note("apn " + std::to_string(kind) + " " + apn->apn_name);
    return 1;
}

int Report(int first, int second)
{
    W().Note("report " + std::to_string(first) + "," + std::to_string(second));
    return 1;
}

int DeactiveNeeded()
{
    W().Note("need?");
    return W().deactiveNeeded;
}

void BringUp(CStateWork *work)
{
    W().Note("bringup");
    if (W().bringUpWorks) {
        work->m_atChannelTimerActive = 0;
        work->m_mbbInterfaceRemoved = 0;
    }
}

int Bootstrap(const std::string &, const std::string &url, IotServiceFlowContext &context)
{
    FakeWorld &w = W();
    ++w.bootstrapCalls;
    w.Note("bootstrap");
    w.contextAtBootstrap.push_back(context.token + "/" + std::to_string(context.operation) + "/" +
                                   std::to_string(context.errorCode) + "/" + std::to_string(context.done));
    (void)url;
    if (!CloudPass().bootstrapOk) {
        return 0;
    }
    context.token = "token";
    context.done = 1;
    return 1;
}

int OperCode(const std::string &, const std::string &iccid, IotServiceFlowContext &context)
{
    W().Note("opcode " + iccid);
    const FakeCloudPass &pass = CloudPass();
    context.errorCode = pass.errorCode;
    if (!pass.operCodeOk) {
        return 0;
    }
    context.operation = pass.operation;
    context.simMode = pass.simMode;
    context.activeCode = pass.activeCode;
    context.done = 1;
    return 1;
}

int Status(const std::string &, const std::string &iccid, const std::string &eid, int type,
           IotServiceFlowContext &context)
{
    W().Note("status " + std::to_string(type) + " " + iccid + (eid.empty() ? " no-eid" : "") +
             (context.done != 0 ? " done-not-cleared" : ""));
    return W().statusOk ? 1 : 0;
}

int MatchApn(bool matched, ApnInfo *apn)
{
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(apn);
    if (std::any_of(bytes, bytes + sizeof(ApnInfo), [](unsigned char b) { return b != 0; })) {
        W().apnRecordsZeroed = false;
    }
    std::memset(apn, 'x', sizeof(ApnInfo)); // the next match must see a cleared record again
    apn->apn_name[0] = '\0';
    if (!matched) {
        return 0;
    }
    std::snprintf(apn->apn_name, sizeof apn->apn_name, "%s", "iot.test");
    return 1;
}

int MatchAttached(IotServiceFlowRecord *, const char *, ApnInfo *apn)
{
    return MatchApn(W().apnAttached, apn);
}

int MatchInternet(IotServiceFlowRecord *, const char *, ApnInfo *apn)
{
    return MatchApn(W().apnInternet, apn);
}

bool QueryList(LpaProfileInfoList *list)
{
    FakeWorld &w = W();
    w.Note("list");
    if (w.failingLists.count(w.listCalls++)) {
        return false;
    }
    size_t n = w.profiles.size();
    auto *records = static_cast<LpaProfileInfo *>(std::calloc(n + 1, sizeof(LpaProfileInfo)));
    ++w.recordArrays;
    for (size_t i = 0; i < n; ++i) {
        const FakeProfile &p = w.profiles[i];
        std::memcpy(records[i].iccid, p.iccid.data(), p.iccid.size());
        records[i].iccidLength = p.iccid.size();
        records[i].profileState[0] = p.enabled ? 1 : 0;
        records[i].profileStateLength = 1;
        records[i].profileClass[0] = static_cast<uint8_t>(p.profileClass);
        records[i].profileClassLength = 1;
    }
    list->profileInfo = records;
    list->countProfileInfo = list->numberProfileInfoFound = n;
    list->maxProfileInfo = n + 1;
    return true;
}

void ReleaseRecords(void *records)
{
    --W().recordArrays;
    std::free(records);
}

int Eid(char *eid, size_t capacity)
{
    if (!W().eidOk) {
        return 0;
    }
    std::snprintf(eid, capacity, "%s", "89049032000000000000000000000001");
    return 1;
}

bool Init(const char *, const char *)
{
    W().Note("init");
    if (!W().initOk) {
        W().pendingError = LPA_ERROR_UNABLE_TO_INIT_LOG;
        return false;
    }
    ++W().engineUp;
    return true;
}

bool Uninit()
{
    W().Note("uninit");
    if (W().engineUp > 0) {
        --W().engineUp;
    }
    return true;
}

const LpaApiVersion *Version()
{
    static const LpaApiVersion version = {1, 7};
    return &version;
}

void LogLevel(int32_t) {}

bool SetParameter(const char *key, int32_t type, const void *value)
{
    if (std::strcmp(key, "deviceInfoTlv") == 0 && type == LPA_PARAMETER_TYPE_STRING) {
        W().deviceInfo = static_cast<const char *>(value);
    }
    return true;
}

bool CertPath(const char *path)
{
    W().Note("certpath");
    W().certFileAtDownload = false;
    W().certFileBytes = hbrtest::FileExists(path) ? hbrtest::ReadFile(path) : "";
    return true;
}

void FrameBegin(const char *)
{
    ++W().frames;
}

bool FrameEnd(bool result)
{
    --W().frames;
    return result;
}

bool Connect()
{
    return true;
}

bool Disconnect()
{
    return true;
}

bool Download(const char *code, const LpaDownloadCallbacks *, LpaOperationResult *result)
{
    FakeWorld &w = W();
    w.Note(std::string("download ") + (std::strlen(code) > 40 ? "<long>" : code));
    w.certFileAtDownload = hbrtest::FileExists(w.work->m_runPath + kDownloadCertFileName);
    if (w.downloadInstalls > 0) {
        w.profiles.push_back(w.downloaded);
    }
    result->first = w.downloadInstalls;
    if (!w.downloadOk) {
        w.pendingError = LPA_ERROR_INVALID_PARAMETER;
        return false;
    }
    return true;
}

bool Disable(const uint8_t *iccid, size_t length)
{
    FakeWorld &w = W();
    w.Note("disable " + Hex(iccid, length));
    FakeProfile *p = w.Find(iccid, length);
    if (w.disableError != 0 || p == nullptr) {
        w.pendingError = w.disableError != 0 ? w.disableError : static_cast<uint32_t>(LPA_ERROR_LOCAL_PROFILE_ICCID_OR_AID_NOT_FOUND);
        return false;
    }
    if (!p->enabled) {
        w.pendingError = LPA_ERROR_LOCAL_PROFILE_NOT_IN_ENABLE_STATE;
        return false;
    }
    p->enabled = false;
    return true;
}

bool Delete(const uint8_t *iccid, size_t length)
{
    FakeWorld &w = W();
    w.Note("delete " + Hex(iccid, length));
    FakeProfile *p = w.Find(iccid, length);
    if (p == nullptr || p->enabled) {
        w.pendingError = p == nullptr ? LPA_ERROR_LOCAL_PROFILE_ICCID_OR_AID_NOT_FOUND : LPA_ERROR_LOCAL_PROFILE_INCORRECT_STATE;
        return false;
    }
    w.profiles.erase(w.profiles.begin() + (p - w.profiles.data()));
    return true;
}

uint32_t ErrorCode()
{
    uint32_t code = W().pendingError;
    W().pendingError = 0;
    return code;
}

BOOL SetState(DWORD state)
{
    W().Note("state " + std::to_string(state));
    return W().registryOk ? TRUE : FALSE;
}

void FakeSleep(DWORD ms)
{
    FakeWorld &w = W();
    w.Note("sleep " + std::to_string(ms));
    if (ms == 3000 && w.work->m_mbbInterfaceRemoved != 0 && w.interfaceBackAfterWaits > 0 &&
        --w.interfaceBackAfterWaits == 0) {
        w.work->m_mbbInterfaceRemoved = 0;
    }
}

} // namespace

const FlowDeps FakeWorld::kDeps = {
    GetSlot, SetSlot, Cxp, CloseChannel, Imei, ModuleIccid, SyncNv, SendApn, Report, DeactiveNeeded, BringUp,
    Bootstrap, OperCode, Status, MatchAttached, MatchInternet,
    QueryList, FindProvisioningProfileIccid, ReleaseRecords, Eid,
    Init, Uninit, Version, LogLevel, SetParameter, CertPath, FrameBegin, FrameEnd, Connect, Download, Disconnect,
    Disable, Delete, ErrorCode, lpaGetErrorCodeDescription,
    SetState, FakeSleep,
};

std::vector<std::string> FakeWorld::Entries(const std::string &prefix) const
{
    std::vector<std::string> out;
    for (const std::string &e : journal) {
        if (e.compare(0, prefix.size(), prefix) == 0) {
            out.push_back(e);
        }
    }
    return out;
}

int FakeWorld::Count(const std::string &entry) const
{
    return static_cast<int>(std::count(journal.begin(), journal.end(), entry));
}

FakeProfile *FakeWorld::Find(const uint8_t *iccid, size_t length)
{
    for (FakeProfile &p : profiles) {
        if (p.iccid.size() == length && std::equal(p.iccid.begin(), p.iccid.end(), iccid)) {
            return &p;
        }
    }
    return nullptr;
}

std::vector<uint8_t> TestIccid(int n)
{
    return {0x98, 0x10, 0, 0, 0, 0, 0, 0, 0, static_cast<uint8_t>(n << 4)};
}

std::string TestIccidText(int n)
{
    return "8901000000000000000" + std::to_string(n);
}

void FlowTest::SetUp()
{
    AgentTest::SetUp();
    runDir_.reset(new hbrtest::TempDir);
    work_.reset(new CStateWork);
    work_->m_runPath = runDir_->path() + "/";
    work_->m_platType = 1;
    work_->m_mbbInterfaceRemoved = 0;
    work_->m_atChannelTimerActive = 0;
    work_->m_testRetryErrorCode = 0;
    work_->m_iotServiceResult = IOTServiceInit;
    CStateWork::SetInstanceForTest(work_.get());
    world_.work = work_.get();
    world_.downloaded = FakeProfile{TestIccid(2), 1, true};
    FakeWorld::current = &world_;
    SetFlowDepsForTest(&FakeWorld::kDeps);
}

void FlowTest::TearDown()
{
    SetFlowDepsForTest(nullptr);
    FakeWorld::current = nullptr;
    // Every pass released its engine, frames and record arrays.
    EXPECT_EQ(0, world_.engineUp);
    EXPECT_EQ(0, world_.frames);
    EXPECT_EQ(0, world_.recordArrays);
    CStateWork::SetInstanceForTest(nullptr);
    work_.reset();
    AgentTest::TearDown();
}

void FlowTest::OldProfile()
{
    world_.profiles = {FakeProfile{TestIccid(1), 1, true}};
}

void FlowTest::Cloud(int operation, int simMode, int errorCode)
{
    world_.cloud = {FakeCloudPass{}};
    world_.cloud[0].operation = operation;
    world_.cloud[0].simMode = simMode;
    world_.cloud[0].errorCode = errorCode;
}
