#include "fake_world.h"

using V = std::vector<std::string>;

namespace {

const std::string kOld = TestIccidText(1);

class DeactivationFlow : public FlowTest {
protected:
    void Run() { IOTServiceDeactiveEvtFunc(work_.get()); }
};

TEST_F(DeactivationFlow, IntelDisablesTheProvisioningProfileInOnePass)
{
    OldProfile();
    Run();
    EXPECT_EQ(V({"state 6", "slot?", "set 1", "sleep 32000", "init", "imei", "list", "state 7", "disable " + kOld,
                 "uninit", "sleep 5000", "set 0", "sleep 60000", "state 8", "report 0,1"}),
              J());
    EXPECT_FALSE(world_.profiles[0].enabled);
    EXPECT_EQ(0, world_.bootstrapCalls);
    EXPECT_TRUE(Logged("[IOTServiceDeactiveFunc] SetIOTServiceActiveResultSubKey IOTServiceActiveSuccess Success"));
}

TEST_F(DeactivationFlow, MediaTekAsksFirstAndRestoresTheStateWhenNotNeeded)
{
    work_->m_platType = 0;
    work_->m_iotServiceResult = IOTServiceActiveSuccess;
    world_.deactiveNeeded = 0;
    Run();
    EXPECT_EQ(V({"need?", "sleep 100", "report 0,1"}), J());
    EXPECT_EQ(IOTServiceActiveSuccess, work_->m_iotServiceResult);

    J().clear();
    world_.deactiveNeeded = 1;
    OldProfile();
    Run();
    EXPECT_EQ(V({"need?", "state 6", "slot?", "esbp 0"}), V(J().begin(), J().begin() + 4));
    EXPECT_TRUE(Logged("[IOTServiceDeactiveEvtFunc] SetIOTServiceActiveResultSubKey preActiveResult(4)-currentResult(6)"));
    EXPECT_EQ("report 0,1", J().back());

    // No answer at all: a failed deactivation, without a pass.
    J().clear();
    world_.deactiveNeeded = -1;
    Run();
    EXPECT_EQ(V({"need?", "state 9", "report 0,0"}), J());
    EXPECT_TRUE(Logged("[Infomation]CheckDPDDeactiveFlowNeedTriggerKX718Project no answer, deactivation failed"));
}

TEST_F(DeactivationFlow, NoProfileAndNotEnabledProfileSucceed)
{
    world_.slot = 1;
    Run();
    EXPECT_EQ(0u, world_.Entries("disable").size());
    EXPECT_EQ(V({"state 8", "report 0,1"}), V(J().end() - 2, J().end()));

    J().clear();
    OldProfile();
    world_.profiles[0].enabled = false;
    Run();
    EXPECT_EQ(1u, world_.Entries("disable").size());
    EXPECT_TRUE(Logged("[IOTServiceDeactiveFunc] lpaDisableProfileByIccid return "
                       "LPA_ERROR_LOCAL_PROFILE_NOT_IN_ENABLE_STATE, ret = TRUE"));
    EXPECT_EQ("report 0,1", J().back());
}

TEST_F(DeactivationFlow, OtherDisableErrorsFailThreePassesAndStillSwitchBack)
{
    OldProfile();
    world_.disableError = LPA_ERROR_LOCAL_PROFILE_INCORRECT_STATE;
    work_->m_testRetryErrorCode = ZFW_PCIOT_HBR_GET_IMEI_FAIL; // not consulted here
    Run();
    EXPECT_EQ(3u, world_.Entries("disable").size());
    EXPECT_EQ(3, world_.Count("sleep 10000"));
    EXPECT_EQ(V({"set 1", "set 0"}), world_.Entries("set"));
    EXPECT_EQ(V({"state 9", "report 0,0"}), V(J().end() - 2, J().end()));
    EXPECT_TRUE(Logged("[IOTServiceDeactiveFunc] lpaDisableProfileByIccid return 0, "
                       "errstr(LPA_ERROR_LOCAL_PROFILE_INCORRECT_STATE)"));
}

TEST_F(DeactivationFlow, SimulatedSwitchFailureEndsWithState9AndNoReport)
{
    work_->m_testRetryErrorCode = ZFW_PCIOT_HBR_SIM_SWITCH_FAIL;
    Run();
    EXPECT_EQ(V({"state 6", "slot?", "state 9"}), J());
    EXPECT_TRUE(Logged("[IOTServiceDeactiveEvtFunc] Simulate SetModuleSimSlot SIM2 fail"));
    EXPECT_TRUE(Logged("[IOTServiceDeactiveFunc] SetIOTServiceActiveResultSubKey IOTServiceDeactiveFail Success"));
}

TEST_F(DeactivationFlow, InterfaceWaitLinesCarryTheCountOnly)
{
    world_.slot = 1;
    work_->m_mbbInterfaceRemoved = 1;
    world_.interfaceBackAfterWaits = 2;
    Run();
    EXPECT_TRUE(Logged("[IOTServiceDeactiveEvtFunc] wait mb interface arrival(2)"));
    EXPECT_FALSE(Logged("[IOTServiceDeactiveEvtFunc] wait mb interface arrival(0-"));
}

class CheckFlow : public FlowTest {
protected:
    void Run() { IOTServiceCheckEvtFunc(work_.get()); }
};

TEST_F(CheckFlow, ReportsByOperationAndSimModeFromTheSuccessfulPass)
{
    struct Case {
        int operation, simMode;
        V reports;
    };
    for (const Case &c : {Case{0, 0, {"report 2,2"}}, Case{0, 1, {"report 2,3"}}, Case{0, 2, {}},
                          Case{1, 0, {"report 2,1"}}, Case{2, 0, {"report 2,1"}}}) {
        SCOPED_TRACE(c.operation * 10 + c.simMode);
        J().clear();
        Cloud(c.operation, c.simMode);
        Run();
        V expected = {"state 10", "imei", "iccid", "state 11", "bootstrap", "opcode " + world_.moduleIccid};
        expected.insert(expected.end(), c.reports.begin(), c.reports.end());
        expected.push_back("state 12");
        EXPECT_EQ(expected, J());
    }
}

TEST_F(CheckFlow, FailingPassesRunTwelveTimesThenState13WithNothingSent)
{
    Cloud(3);
    Run();
    EXPECT_EQ(12, world_.bootstrapCalls);
    EXPECT_EQ(12, world_.Count("sleep 10000"));
    EXPECT_EQ(0u, world_.Entries("report").size());
    EXPECT_EQ("state 13", J().back());

    for (bool imeiFails : {true, false}) {
        J().clear();
        world_.imeiOk = !imeiFails;
        world_.moduleIccidOk = imeiFails;
        Run();
        EXPECT_EQ(0, world_.Count("state 11"));
        EXPECT_EQ(V({"state 10", "state 13"}), world_.Entries("state"));
    }
    // Never the engine, never the SIM slot.
    EXPECT_EQ(0u, world_.Entries("init").size());
    EXPECT_EQ(0u, world_.Entries("slot?").size());
    EXPECT_EQ(0u, world_.Entries("set").size());
}

} // namespace
