#include "agent_fixture.h"

#include <cstring>

namespace {

using RegistrySettings = AgentTest;

TEST_F(RegistrySettings, MissingKeyGivesDefaults)
{
    CStateWork w;
    EXPECT_FALSE(w.TestRetryFromReg());
    EXPECT_EQ(0, w.m_testRetryErrorCode);
    EXPECT_FALSE(w.QueryATOverChannelType());
    EXPECT_FALSE(w.QueryBootstrapServerUrl());
    EXPECT_FALSE(w.QueryATChannelHardId());
    auto m = Messages();
    EXPECT_EQ(2, hbrtest::CountMessages(m, "RegOpenKeyEx REG_MAIN_KEY fail 2"));
    EXPECT_EQ(2, hbrtest::CountMessages(m, "RegOpenKeyEx fail 2"));
    EXPECT_EQ(0u, w.m_atOverChannelType);
    EXPECT_EQ('\0', w.m_bootstrapServerUrl[0]);
}

TEST_F(RegistrySettings, MissingValuesAreRefused)
{
    SetDword(REG_MAIN_KEY "RetryTest", "Other", 1);
    SetDword(REG_MAIN_KEY, "Other", 1);
    CStateWork w;
    EXPECT_TRUE(w.TestRetryFromReg()); // the key opened
    EXPECT_EQ(0, w.m_testRetryErrorCode);
    EXPECT_FALSE(w.QueryATOverChannelType());
    EXPECT_FALSE(w.QueryBootstrapServerUrl());
    EXPECT_FALSE(w.QueryATChannelHardId());
    auto m = Messages();
    EXPECT_EQ(4, hbrtest::CountMessages(m, "RegQueryValueEx 2"));
    EXPECT_GE(hbrtest::FindMessage(m, "query REG_AT_OVER_CHANNEL_TYPE fail(2)"), 0);
    EXPECT_GE(hbrtest::FindMessage(m, "query REG_BOOTSTRAP_SERVER_URL fail(2)"), 0);
    EXPECT_GE(hbrtest::FindMessage(m, "query REG_AT_COM_HARDWARE_ID fail(2)"), 0);
}

TEST_F(RegistrySettings, ChannelTypes)
{
    CStateWork w;
    SetDword(REG_MAIN_KEY, REG_AT_OVER_CHANNEL_TYPE, 1);
    SetBytes(REG_MAIN_KEY, REG_AT_COM_HARDWARE_ID, REG_SZ, std::string("USB\\VID_8087&PID_0AC9", 22) + '\0');
    EXPECT_TRUE(w.QueryATOverChannelType());
    EXPECT_EQ(1u, w.m_atOverChannelType);
    EXPECT_TRUE(w.QueryATChannelHardId());
    EXPECT_STREQ("USB\\VID_8087&PID_0AC9", w.m_atComHardwareId);
    EXPECT_TRUE(Logged("RegQueryValueEx REG_AT_COM_HARDWARE_ID(USB\\VID_8087&PID_0AC9-23)"));

    // 2 is logged as read, refused, and left in the field for InitWork to reset.
    SetDword(REG_MAIN_KEY, REG_AT_OVER_CHANNEL_TYPE, 2);
    EXPECT_FALSE(w.QueryATOverChannelType());
    EXPECT_TRUE(Logged("RegQueryValueEx REG_AT_OVER_CHANNEL_TYPE(2-4)"));
    EXPECT_EQ(2u, w.m_atOverChannelType);

    CStateWork fresh;
    ASSERT_TRUE(fresh.InitWork());
    EXPECT_EQ(0u, fresh.m_atOverChannelType);
    EXPECT_TRUE(Logged("[CStateWork::InitWork] QueryATOverChannelType Fail, default set AT_OVER_MBIM_CHANNEL"));
}

TEST_F(RegistrySettings, StringWhereADwordIsExpected)
{
    SetBytes(REG_MAIN_KEY, REG_AT_OVER_CHANNEL_TYPE, REG_SZ, std::string("1\0", 2));
    SetBytes(REG_MAIN_KEY "RetryTest", REG_TEST_RETRY_ERROR_CODE, REG_SZ, std::string("12\0", 3));
    CStateWork w;
    EXPECT_FALSE(w.QueryATOverChannelType());
    EXPECT_TRUE(Logged("query REG_AT_OVER_CHANNEL_TYPE fail(0)"));
    EXPECT_TRUE(w.TestRetryFromReg());
    EXPECT_EQ(0, w.m_testRetryErrorCode);
}

TEST_F(RegistrySettings, RetryErrorCode)
{
    SetDword(REG_MAIN_KEY "RetryTest", REG_TEST_RETRY_ERROR_CODE, 1002);
    CStateWork w;
    EXPECT_TRUE(w.TestRetryFromReg());
    EXPECT_EQ(1002, w.m_testRetryErrorCode);
    EXPECT_TRUE(Logged("RegQueryValueEx REG_TEST_RETRY_ERROR_CODE(1002-4)"));
}

TEST_F(RegistrySettings, BootstrapUrlLengths)
{
    CStateWork w;
    SetBytes(REG_MAIN_KEY, REG_BOOTSTRAP_SERVER_URL, REG_SZ, std::string(1, '\0'));
    EXPECT_TRUE(w.QueryBootstrapServerUrl());
    EXPECT_EQ('\0', w.m_bootstrapServerUrl[0]);
    EXPECT_TRUE(Logged("RegQueryValueEx REG_BOOTSTRAP_SERVER_URL(-1)"));

    // 1023 characters and their NUL fill the 1024 bytes read.
    std::string url = "https://" + std::string(1015, 'a');
    SetBytes(REG_MAIN_KEY, REG_BOOTSTRAP_SERVER_URL, REG_SZ, url + '\0');
    EXPECT_TRUE(w.QueryBootstrapServerUrl());
    EXPECT_EQ(url, std::string(w.m_bootstrapServerUrl));
    EXPECT_EQ('\0', w.m_bootstrapServerUrl[1024]);

    // 1024 characters need 1025 bytes: refused, and InitWork clears the field.
    SetBytes(REG_MAIN_KEY, REG_BOOTSTRAP_SERVER_URL, REG_SZ, url + "b" + '\0');
    CStateWork fresh;
    std::memset(fresh.m_bootstrapServerUrl, 'Z', sizeof fresh.m_bootstrapServerUrl);
    EXPECT_FALSE(fresh.QueryBootstrapServerUrl());
    EXPECT_TRUE(Logged("RegQueryValueEx 234"));
    ASSERT_TRUE(fresh.InitWork());
    for (char c : fresh.m_bootstrapServerUrl) {
        ASSERT_EQ('\0', c);
    }
    EXPECT_TRUE(Logged("[CStateWork::InitWork] QueryBootstrapServerUrl Fail, use default url address"));
}

TEST_F(RegistrySettings, MirrorOpensOrCreatesItsKeyOnEveryCall)
{
    EXPECT_TRUE(SetIOTServiceActiveResultSubKey(7));
    EXPECT_TRUE(Logged("Error RegOpenKeyEx REG_IOT_SERVICE_ACTIVE_RESULT Fail(2)"));
    DWORD v = 0, type = 0;
    ASSERT_TRUE(ReadDword(REG_IOT_SERVICE_ACTIVE_RESULT, &v, &type));
    EXPECT_EQ(7u, v);
    EXPECT_EQ(REG_DWORD, type);
    EXPECT_TRUE(SetIOTServiceActiveResultSubKey(13));
    ASSERT_TRUE(ReadDword(REG_IOT_SERVICE_ACTIVE_RESULT, &v, &type));
    EXPECT_EQ(13u, v);
    EXPECT_EQ(1, hbrtest::CountMessages(Messages(), "Error RegOpenKeyEx REG_IOT_SERVICE_ACTIVE_RESULT"));
    EXPECT_EQ(2, hbrtest::CountMessages(Messages(), "RegSetKeyValue REG_IOT_SERVICE_ACTIVE_RESULT Success"));
}

// A damaged value file of the mirror's key reads as corrupt until the next
// state is written; that write succeeds and the mirror reads again.
TEST_F(RegistrySettings, NextStateWriteHealsADamagedMirror)
{
    ASSERT_TRUE(SetIOTServiceActiveResultSubKey(3));
    const std::string dir = root() + "/HKLM/SYSTEM/CurrentControlSet/Control/Quorlin/HBRAgentService/"
                                     "IOTServiceActiveOrDeactiveResult/";
    const std::string damaged = "HBRREG1 9\n4 4 @ 030000\n";
    hbrtest::WriteFile(dir + ".values", damaged);
    DWORD v = 0, type = 0;
    EXPECT_FALSE(ReadDword(REG_IOT_SERVICE_ACTIVE_RESULT, &v, &type));

    EXPECT_TRUE(SetIOTServiceActiveResultSubKey(4));
    ASSERT_TRUE(ReadDword(REG_IOT_SERVICE_ACTIVE_RESULT, &v, &type));
    EXPECT_EQ(4u, v);
    EXPECT_EQ(damaged, hbrtest::ReadFile(dir + ".values.damaged.1"));
    EXPECT_EQ(-1, hbrtest::FindMessage(Messages(), "RegSetKeyValue REG_IOT_SERVICE_ACTIVE_RESULT Fail"));
}

class RegistryWatch : public AgentTest {
protected:
    void SetUp() override
    {
        AgentTest::SetUp();
        w_.reset(new CStateWork);
        w_->m_events[EVT_REG_CHANGE] = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    }
    void TearDown() override
    {
        w_.reset();
        AgentTest::TearDown();
    }
    HANDLE Event() const { return w_->m_events[EVT_REG_CHANGE]; }
    bool Fires() const { return WaitForSingleObject(Event(), 5000) == WAIT_OBJECT_0; }
    bool Silent() const { return WaitForSingleObject(Event(), 600) == WAIT_TIMEOUT; }
    std::unique_ptr<CStateWork> w_;
};

TEST_F(RegistryWatch, CreatesTheKeyWithDwordZero)
{
    ASSERT_TRUE(w_->RegisterMonitorRegChangeCallback());
    auto m = Messages();
    EXPECT_GE(hbrtest::FindMessage(m, "Error RegOpenKeyEx REG_FLEETWAVE_NOTIFY_SUBKEY Fail(2)"), 0);
    EXPECT_GE(hbrtest::FindMessage(m, "Error RegCreateKeyEx REG_FLEETWAVE_NOTIFY_SUBKEY success"), 0);
    EXPECT_GE(hbrtest::FindMessage(m, "RegSetKeyValue REG_FLEETWAVE_NOTIFY_SUBKEY=IOT_SERVICE_DEFAULT 0"), 0);
    DWORD v = 9, type = 0;
    ASSERT_TRUE(ReadDword(REG_FLEETWAVE_NOTIFY_SUBKEY, &v, &type));
    EXPECT_EQ(0u, v);
    EXPECT_EQ(REG_DWORD, type);
    // Its own initial write came before arming: no notification.
    EXPECT_TRUE(Silent());
}

TEST_F(RegistryWatch, RearmsWhileTheValueIsADword)
{
    ASSERT_TRUE(w_->RegisterMonitorRegChangeCallback());
    SetDword(REG_FLEETWAVE_NOTIFY_SUBKEY, nullptr, 1);
    ASSERT_TRUE(Fires());
    ResetEvent(Event());
    w_->RegChangeMonitorEvtFunc();
    EXPECT_TRUE(Silent());
    SetDword(REG_FLEETWAVE_NOTIFY_SUBKEY, nullptr, 2);
    EXPECT_TRUE(Fires());
    // A sibling key (the state mirror) does not wake it.
    ResetEvent(Event());
    w_->RegChangeMonitorEvtFunc();
    EXPECT_TRUE(SetIOTServiceActiveResultSubKey(1));
    EXPECT_TRUE(Silent());
}

TEST_F(RegistryWatch, DeleteDisarms)
{
    ASSERT_TRUE(w_->RegisterMonitorRegChangeCallback());
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, REG_FLEETWAVE_NOTIFY_SUBKEY, 0, KEY_ALL_ACCESS, &key));
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteValueA(key, nullptr));
    RegCloseKey(key);
    ASSERT_TRUE(Fires());
    ResetEvent(Event());
    w_->RegChangeMonitorEvtFunc();
    EXPECT_TRUE(Logged("[RegChangeMonitorEvtFunc] query REG_FLEETWAVE_NOTIFY_SUBKEY fail:2"));
    SetDword(REG_FLEETWAVE_NOTIFY_SUBKEY, nullptr, 3);
    EXPECT_TRUE(Silent());
}

TEST_F(RegistryWatch, OtherTypeDisarms)
{
    ASSERT_TRUE(w_->RegisterMonitorRegChangeCallback());
    SetBytes(REG_FLEETWAVE_NOTIFY_SUBKEY, nullptr, REG_SZ, std::string("on\0", 3));
    ASSERT_TRUE(Fires());
    ResetEvent(Event());
    w_->RegChangeMonitorEvtFunc();
    EXPECT_TRUE(Logged("[RegChangeMonitorEvtFunc] query REG_FLEETWAVE_NOTIFY_SUBKEY fail:0"));
    SetDword(REG_FLEETWAVE_NOTIFY_SUBKEY, nullptr, 3);
    EXPECT_TRUE(Silent());
}

} // namespace
