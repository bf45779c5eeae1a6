#include "fake_world.h"

#include <deployment.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstring>

using V = std::vector<std::string>;

namespace {

const std::string kOld = TestIccidText(1);
const std::string kNew = TestIccidText(2);

class ActivationFlow : public FlowTest {
protected:
    void Run() { IOTServiceActiveEvtFunc(work_.get()); }
    std::string CertFile() const { return work_->m_runPath + kDownloadCertFileName; }
    int Logs(const std::string &text) const { return hbrtest::CountMessages(Messages(), text); }
};

TEST_F(ActivationFlow, OperationZeroOnIntelSwitchesRunsOnePassAndReportsUserSimOnly)
{
    OldProfile();
    Cloud(0, 1);
    Run();
    EXPECT_EQ(V({"state 2", "slot?", "set 1", "sleep 32000", "init", "imei", "list", "bootstrap", "opcode " + kOld,
                 "state 3", "uninit", "sleep 5000", "sleep 5000", "set 0", "sleep 60000", "state 4", "report 1,2"}),
              J());
    EXPECT_EQ("A112800449015262A10A81030B000085030D0000", world_.deviceInfo);
    EXPECT_EQ(IOTServiceActiveSuccess, work_->m_iotServiceResult);
    EXPECT_TRUE(Logged("[IOTServiceActiveEvtFunc] IOTServiceActive send HBRServiceReturnUserSimOnlyType"));
}

TEST_F(ActivationFlow, OperationOneOnMediaTekDownloadsReplacesReportsAndSendsApns)
{
    work_->m_platType = 0;
    OldProfile();
    Cloud(1, 0);
    Run();
    EXPECT_EQ(V({"state 2", "slot?", "esbp 0", "sleep 2000", "set 1", "sleep 32000", "close 1", "close 2", "close 3",
                 "close 4", "close 5", "init", "imei", "list", "bootstrap", "opcode " + kOld, "state 3", "certpath",
                 "download 1$smdp.example$MATCH-1", "sleep 2000", "disable " + kOld, "sleep 2000", "delete " + kOld,
                 "sleep 2000", "status 2 " + kOld, "list", "status 1 " + kNew, "apn 4 iot.test", "apn 5 iot.test",
                 "uninit", "sleep 5000", "sync", "sleep 5000", "set 0", "sleep 60000", "esbp 1", "state 4",
                 "report 1,1"}),
              J());
    // The CA file held the root CI's exact bytes during the download and is gone after.
    DeploymentPem pem = DeploymentSmdpRootCi();
    EXPECT_EQ(std::string(pem.data, pem.size), world_.certFileBytes);
    EXPECT_TRUE(world_.certFileAtDownload);
    EXPECT_FALSE(hbrtest::FileExists(CertFile()));
    ASSERT_EQ(1u, world_.profiles.size());
    EXPECT_EQ(TestIccid(2), world_.profiles[0].iccid);
    EXPECT_TRUE(world_.apnRecordsZeroed);
    EXPECT_TRUE(Logged("lpaDisableProfileByIccid return 1, errstr(LPA_NO_ERROR)"));
}

TEST_F(ActivationFlow, RetriesFailedPassesWithFreshContextThenFails)
{
    OldProfile();
    world_.cloud = {FakeCloudPass{}};
    world_.cloud[0].operCodeOk = false;
    world_.cloud[0].errorCode = 5; // not a no-retry code
    Run();
    EXPECT_EQ(3, world_.bootstrapCalls);
    EXPECT_EQ(3, world_.Count("sleep 10000"));
    EXPECT_EQ(1, world_.Count("sleep 5000")); // only the one before the switch back
    EXPECT_EQ(V({"state 5", "report 1,0"}), V(J().end() - 2, J().end()));
    // No token, operation or error code of a pass reaches the next one.
    EXPECT_EQ(V({"/-1/0/0", "/-1/0/0", "/-1/0/0"}), world_.contextAtBootstrap);
    EXPECT_EQ(3, Logs("[IOTServiceActiveEvtFunc] IOT Service active fail("));
}

TEST_F(ActivationFlow, NoRetryCodesEndAfterOnePassWithTheirLine)
{
    const std::vector<std::pair<int, std::string>> codes = {
        {-1, "[IOTServiceActiveEvtFunc]:Simulate code value error, ZFW_PCIOT_HBR_NON_UNIQUE_RESULT_ERROR:-1"},
        {1, "[IOTServiceActiveEvtFunc]:code value error, ZFW_PCIOT_HBR_ILLEGAL_ACTIVATION_ERROR:1"},
        {801, "[IOTServiceActiveEvtFunc]:Simulate code value error, ZFW_PCIOT_HBR_EMPTY_EID_ERROR:801"},
        {1006, "[IOTServiceActiveEvtFunc]:Simulate code value error, ZFW_PCIOT_HBR_UNKNOWN_CERT_FAIL:1006"},
        {1007, "[IOTServiceActiveEvtFunc]:Simulate code value error, ZFW_PCIOT_HBR_SIM_SWITCH_FAIL:1007"},
        {14451, "[IOTServiceActiveEvtFunc]:Simulate code value error, "
                "ZFW_PCIOT_HBR_ERROR_CODE_PROFILE_EXHAUSTED_ERROR:14451"},
        {14459, "[IOTServiceActiveEvtFunc]:Simulate code value error, ZFW_PCIOT_HBR_LIMITTED_RETRY_COUNT_ERROR:14459"},
    };
    for (const auto &code : codes) {
        SCOPED_TRACE(code.first);
        J().clear();
        world_.bootstrapCalls = 0;
        world_.slot = 1; // already on SIM2
        world_.cloud = {FakeCloudPass{}};
        world_.cloud[0].operCodeOk = false;
        world_.cloud[0].errorCode = code.first;
        Run();
        EXPECT_EQ(1, world_.bootstrapCalls);
        EXPECT_EQ(0, world_.Count("sleep 10000"));
        EXPECT_EQ(0, world_.Count("sleep 5000"));
        EXPECT_EQ(V({"state 5", "report 1,0"}), V(J().end() - 2, J().end()));
        EXPECT_TRUE(Logged(code.second));
        EXPECT_TRUE(Logged("[IOTServiceActiveEvtFunc] IOT Service active fail, do not retry, error code:" +
                           std::to_string(code.first)));
    }
}

TEST_F(ActivationFlow, SuccessWithANoRetryCodeStillSucceeds)
{
    Cloud(0, 0, 1);
    Run();
    EXPECT_TRUE(Logged("ZFW_PCIOT_HBR_ILLEGAL_ACTIVATION_ERROR:1"));
    EXPECT_EQ(V({"state 4", "report 1,1"}), V(J().end() - 2, J().end()));
}

TEST_F(ActivationFlow, SlotTextsThatMeanAlreadyOnSim2AndOnesThatReadAsZero)
{
    for (const char *text : {"1", " +1,0", "99999999999999999999"}) {
        SCOPED_TRACE(text);
        J().clear();
        world_.slotText = text;
        Run();
        EXPECT_EQ(V({"state 2", "slot?", "sleep 32000", "init"}), V(J().begin(), J().begin() + 4));
        EXPECT_EQ(0u, world_.Entries("set").size());
    }
    EXPECT_TRUE(Logged("GetModuleSimSlot slotId:2147483647"));
    J().clear();
    world_.slotText = "abc";
    Run();
    EXPECT_EQ(V({"set 1", "set 0"}), world_.Entries("set"));
}

TEST_F(ActivationFlow, FiveFailedSlotReadsSwitchWithoutEsbpZeroAndReturnWithEsbpOne)
{
    work_->m_platType = 0;
    world_.failingSlotReads = 5;
    work_->m_testRetryErrorCode = ZFW_PCIOT_HBR_SIM_SWITCH_FAIL; // not consulted without a slot
    Run();
    EXPECT_EQ(5, world_.Count("slot?"));
    EXPECT_EQ(5, world_.Count("sleep 3000"));
    EXPECT_EQ(V({"esbp 1"}), world_.Entries("esbp"));
    EXPECT_EQ(V({"set 1", "set 0"}), world_.Entries("set"));
    EXPECT_EQ(IOTServiceActiveSuccess, work_->m_iotServiceResult);

    // A refused switch after five failed reads goes on unswitched, silently.
    J().clear();
    world_.failingSlotReads = 5;
    world_.refusedSlots = {1};
    Run();
    EXPECT_EQ(V({"set 1"}), world_.Entries("set"));
    EXPECT_EQ(0u, world_.Entries("esbp").size());
    EXPECT_EQ(0, Logs("SetModuleSimSlot SIM2 fail"));
    EXPECT_EQ("report 1,1", J().back());
}

TEST_F(ActivationFlow, EarlyEndsWriteState5AndSendNothing)
{
    struct Case {
        int platform;
        bool simulated; // 1007 instead of a refused switch
        V tail;
    };
    for (const Case &c : {Case{0, false, {"esbp 0", "sleep 2000", "set 1", "esbp 1", "state 5"}},
                          Case{1, false, {"set 1", "state 5"}}, Case{0, true, {"slot?", "state 5"}}}) {
        SCOPED_TRACE(c.platform * 10 + c.simulated);
        J().clear();
        work_->m_platType = c.platform;
        work_->m_testRetryErrorCode = c.simulated ? ZFW_PCIOT_HBR_SIM_SWITCH_FAIL : 0;
        world_.refusedSlots = {1};
        Run();
        EXPECT_EQ(c.tail, V(J().end() - static_cast<long>(c.tail.size()), J().end()));
        EXPECT_EQ(0u, world_.Entries("report").size());
        EXPECT_EQ(0, world_.Count("init"));
        EXPECT_EQ(IOTServiceActiveFail, work_->m_iotServiceResult);
    }
    EXPECT_TRUE(Logged("[IOTServiceActiveFunc] SetIOTServiceActiveResultSubKey IOTServiceActiveFail Success"));
    EXPECT_TRUE(Logged("simulate error code ZFW_PCIOT_HBR_SIM_SWITCH_FAIL: 1007"));
    EXPECT_EQ(0, Logs("IOTServiceActive send"));

    // 1007 with the module already on SIM2 is not consulted.
    J().clear();
    world_.slot = 1;
    Run();
    EXPECT_EQ("report 1,1", J().back());
}

TEST_F(ActivationFlow, InterfaceWaitGivesUpAfterSixtyRoundsAndTheReturnSkipsEsbpOne)
{
    work_->m_platType = 0;
    world_.slot = 1;
    world_.bringUpWorks = false;
    work_->m_atChannelTimerActive = 1;
    work_->m_mbbInterfaceRemoved = 1;
    Run();
    // 60 rounds before the pass (bring-up, 32000, 3000 each), the pass runs,
    // then 60 return rounds (bring-up, 10000, 3000).
    EXPECT_EQ(120, world_.Count("bringup"));
    EXPECT_EQ(61, world_.Count("sleep 32000"));
    EXPECT_EQ(60, world_.Count("sleep 10000"));
    EXPECT_EQ(1, world_.Count("init"));
    EXPECT_TRUE(Logged("[IOTServiceActiveEvtFunc] wait mb interface arrival(0-60)"));
    EXPECT_FALSE(Logged("[IOTServiceActiveEvtFunc] wait mb interface arrival(0-61)"));
    EXPECT_TRUE(Logged("[IOTServiceDeactiveEvtFunc] wait mb interface arrival(60)"));
    EXPECT_EQ(0u, world_.Entries("esbp").size());
    EXPECT_EQ("report 1,1", J().back());
}

TEST_F(ActivationFlow, InterfaceThatReturnsEndsTheWaitAndTheBringUpClearsTheTimer)
{
    work_->m_mbbInterfaceRemoved = 1;
    world_.interfaceBackAfterWaits = 2;
    Run();
    EXPECT_EQ(V({"sleep 32000", "sleep 3000", "sleep 3000", "init"}),
              V(J().begin() + 3, J().begin() + 7));
    EXPECT_TRUE(Logged("[IOTServiceActiveEvtFunc] wait mb interface arrival(0-2)"));
}

TEST_F(ActivationFlow, FailedEngineStartStillUninitialisesEveryPass)
{
    world_.initOk = false;
    Run();
    EXPECT_EQ(3, world_.Count("init"));
    EXPECT_EQ(3, world_.Count("uninit"));
    EXPECT_EQ(3, Logs("[IOTServiceActiveFunc] lpaInitialize fail(LPA_ERROR_UNABLE_TO_INIT_LOG)"));
    EXPECT_EQ(0, world_.Count("imei"));
}

TEST_F(ActivationFlow, TestCodesFailTheirStepInEveryPass)
{
    const std::vector<std::pair<int, std::string>> codes = {
        {1002, "[IOTServiceActiveFunc] Test GetModuleIMEI fail: (ZFW_PCIOT_HBR_GET_IMEI_FAIL-1002)"},
        {1003, "[IOTServiceActiveFunc] Test GeteSIMProfileIccidBySubLPA fail: (ZFW_PCIOT_HBR_GET_ICCID_FAIL-1003)"},
        {1004, "[IOTServiceActiveFunc] Test GeteSIMProfileIccidBySubLPA fail: "
               "(ZFW_PCIOT_HBR_GET_ICCID_LIST_FAIL-1004)"},
    };
    for (const auto &code : codes) {
        SCOPED_TRACE(code.first);
        J().clear();
        work_->m_testRetryErrorCode = code.first;
        Run();
        EXPECT_EQ(3, world_.Count("imei"));
        EXPECT_EQ(code.first == 1002 ? 0 : 3, world_.Count("list"));
        EXPECT_EQ(0u, world_.Entries("bootstrap").size());
        EXPECT_EQ(3, Logs(code.second));
        EXPECT_EQ("report 1,0", J().back());
    }
}

TEST_F(ActivationFlow, OperationTwoRemovesWithoutWaitBeforeTheDisable)
{
    OldProfile();
    Cloud(2);
    Run();
    auto at = std::find(J().begin(), J().end(), "state 3");
    EXPECT_EQ(V({"state 3", "disable " + kOld, "sleep 2000", "delete " + kOld, "status 2 " + kOld, "uninit"}),
              V(at, at + 6));
    EXPECT_TRUE(world_.profiles.empty());

    // A refused disable skips the delete and the removal report; the pass succeeds.
    J().clear();
    OldProfile();
    world_.disableError = LPA_ERROR_LOCAL_PROFILE_INCORRECT_STATE;
    Run();
    EXPECT_EQ(0u, world_.Entries("delete").size());
    EXPECT_EQ(0u, world_.Entries("status").size());
    EXPECT_TRUE(Logged("[IOTServiceActiveFunc] old profile " + kOld + " not removed, no removal report"));
    EXPECT_EQ("report 1,1", J().back());
}

TEST_F(ActivationFlow, WithoutProvisioningProfileTheCloudGetsAnEmptyIccidAndNothingIsRemoved)
{
    Cloud(2);
    Run();
    EXPECT_EQ(V({"opcode "}), world_.Entries("opcode"));
    EXPECT_EQ(0u, world_.Entries("disable").size());
    EXPECT_EQ(0u, world_.Entries("status").size());
    EXPECT_EQ(V({"sync"}), world_.Entries("sync"));
    EXPECT_EQ(IOTServiceActiveSuccess, work_->m_iotServiceResult);
}

TEST_F(ActivationFlow, DisabledOldProfileIsStillDeleted)
{
    OldProfile();
    world_.profiles[0].enabled = false;
    Cloud(1);
    Run();
    EXPECT_EQ(V({"delete " + kOld}), world_.Entries("delete"));
    EXPECT_TRUE(Logged("[IOTServiceActiveFunc] lpaDisableProfileByIccid return "
                       "LPA_ERROR_LOCAL_PROFILE_NOT_IN_ENABLE_STATE, ret = TRUE"));
}

TEST_F(ActivationFlow, FalseDownloadCountsWhenAProfileWasInstalled)
{
    OldProfile();
    Cloud(1);
    world_.downloadOk = false;
    Run();
    EXPECT_TRUE(Logged("=> Error code: LPA_ERROR_INVALID_PARAMETER"));
    EXPECT_TRUE(Logged("already installed profile(1), think that download profile success "));
    EXPECT_EQ(1u, world_.Entries("delete").size());
    EXPECT_EQ("report 1,1", J().back());

    J().clear();
    OldProfile();
    world_.downloadInstalls = 0;
    Run();
    EXPECT_EQ(3u, world_.Entries("download").size());
    EXPECT_EQ(0u, world_.Entries("disable").size());
    EXPECT_EQ(3, Logs("[IOTServiceActiveFunc] HbrAgentDownloadProfile(1$smdp.example$MATCH-1) fail"));
    EXPECT_EQ("report 1,0", J().back());
    EXPECT_FALSE(hbrtest::FileExists(CertFile()));
}

TEST_F(ActivationFlow, TestCode1005DeletesTheCaFileAndRemovesNothing)
{
    OldProfile();
    Cloud(1);
    work_->m_testRetryErrorCode = ZFW_PCIOT_HBR_DOWNLOAD_DISABLE_DELETE_FAIL;
    Run();
    EXPECT_EQ(3u, world_.Entries("download").size());
    EXPECT_EQ(0u, world_.Entries("disable").size());
    EXPECT_EQ(0u, world_.Entries("status").size());
    EXPECT_EQ(3, Logs("[IOTServiceActiveFunc] Test HbrSetDownloadCertPath fail "
                      "(ZFW_PCIOT_HBR_DOWNLOAD_DISABLE_DELETE_FAIL-1005)"));
    EXPECT_FALSE(hbrtest::FileExists(CertFile()));
    EXPECT_EQ("report 1,0", J().back());
}

TEST_F(ActivationFlow, CaPathOf260CharactersIsWrittenDeletedAndNotUsed)
{
    Cloud(1);
    for (size_t length : {259u, 260u}) {
        SCOPED_TRACE(length);
        J().clear();
        std::string folder = runDir_->path() + "/";
        size_t pad = length - folder.size() - std::strlen(kDownloadCertFileName) - 1;
        folder += std::string(pad, 'd') + "/";
        ASSERT_EQ(0, mkdir(folder.c_str(), 0700));
        work_->m_runPath = folder;
        ASSERT_EQ(length, CertFile().size());
        Run();
        EXPECT_EQ(length < 260 ? 1u : 0u, world_.Entries("download").size());
        EXPECT_EQ(length < 260 ? 0 : 3, Logs("[IOTServiceActiveFunc] HbrSetDownloadCertPath fail"));
        EXPECT_FALSE(hbrtest::FileExists(CertFile()));
    }
    EXPECT_EQ(0, Logs("HbrAgentDownloadProfile(1$smdp.example$MATCH-1) fail"));
}

TEST_F(ActivationFlow, ActivationCodeOf256CharactersIsRefusedBeforeTheEngine)
{
    Cloud(1);
    world_.cloud[0].activeCode = std::string(255, 'c');
    Run();
    EXPECT_EQ(1u, world_.Entries("download").size());

    J().clear();
    world_.cloud[0].activeCode = std::string(256, 'c');
    Run();
    EXPECT_EQ(0u, world_.Entries("download").size());
    EXPECT_EQ(3, Logs("HbrAgentDownloadProfile(" + std::string(256, 'c') + ") fail"));
    EXPECT_EQ("report 1,0", J().back());
}

TEST_F(ActivationFlow, FailedReReadOrEidSkipsOnlyTheReportsThatNeedThem)
{
    OldProfile();
    Cloud(1);
    world_.failingLists = {1};
    Run();
    EXPECT_EQ(V({"status 2 " + kOld}), world_.Entries("status"));
    EXPECT_EQ(0u, world_.Entries("apn").size());
    EXPECT_EQ("report 1,1", J().back());

    J().clear();
    OldProfile();
    world_.eidOk = false;
    world_.statusOk = false;
    Run();
    EXPECT_EQ(0u, world_.Entries("status").size());
    EXPECT_EQ(2, Logs("[DeviceProfileStatusCallback] GetModuleEID fail"));
    EXPECT_EQ(2u, world_.Entries("apn").size());
    EXPECT_EQ("report 1,1", J().back());
}

TEST_F(ActivationFlow, UnknownOperationFailsThePass)
{
    Cloud(7);
    Run();
    EXPECT_EQ(3, world_.Count("state 3"));
    EXPECT_EQ(3, Logs("[IOTServiceActiveFunc] HBR Server return error opercode(7)"));
    EXPECT_EQ("report 1,0", J().back());
}

} // namespace
