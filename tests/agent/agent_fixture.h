// Fixture for agent tests: a temp registry root, a temp service log, a
// fresh device-service sink and a device-service socket path of its own (no
// module listens there unless a test starts one).
#ifndef HBR_AGENT_TEST_FIXTURE_H
#define HBR_AGENT_TEST_FIXTURE_H

#include "test_support.h"

#include "clog.h"
#include "mbn_device_service.h"
#include "secret_mask.h"
#include "state_work.h"

#include <hbr_platform_fault.h>

#include <memory>
#include <string>
#include <vector>

class AgentTest : public hbrtest::RegistryRootTest {
protected:
    void SetUp() override
    {
        RegistryRootTest::SetUp();
        logDir_.reset(new hbrtest::TempDir);
        log_ = new CLog(logDir_->path().c_str());
        CLog::SetInstanceForTest(log_);
        CLog::ResetWriteCountForTest();
        mbnSocket_.reset(new hbrtest::ScopedEnv("HBR_MBN_SOCKET", (*logDir_ / "mbn.sock").c_str()));
        // The fixture keeps a reference of its own: a worker's teardown
        // drops the sink's, as in the service.
        monitor_ = new CMbnDeviceServicesEventsMonitor();
        monitor_->AddRef();
        CMbnDeviceServicesEventsMonitor::SetInstanceForTest(monitor_);
    }
    void TearDown() override
    {
        hbrFaultClearAll();
        CMbnDeviceServicesEventsMonitor::SetInstanceForTest(nullptr);
        while (monitor_->Release() > 0) {
        }
        mbnSocket_.reset();
        CLog::SetInstanceForTest(nullptr);
        ForgetSecrets();
        // Every GetInstance took a reference; drop them all.
        while (log_->Release() > 0) {
        }
        logDir_.reset();
        RegistryRootTest::TearDown();
    }
    std::vector<std::string> Messages() const { return hbrtest::LogMessages(log_->LogPath()); }
    bool Logged(const std::string &text) const { return hbrtest::FindMessage(Messages(), text) >= 0; }

    static void SetDword(const char *path, const char *name, DWORD v)
    {
        ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueA(HKEY_LOCAL_MACHINE, path, name, REG_DWORD, &v, sizeof v));
    }
    static void SetBytes(const char *path, const char *name, DWORD type, const std::string &bytes)
    {
        ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueA(HKEY_LOCAL_MACHINE, path, name, type, bytes.data(),
                                                 static_cast<DWORD>(bytes.size())));
    }
    static bool ReadDword(const char *path, DWORD *v, DWORD *type)
    {
        HKEY key;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) {
            return false;
        }
        DWORD size = sizeof *v;
        LSTATUS rc = RegQueryValueExA(key, nullptr, nullptr, type, reinterpret_cast<BYTE *>(v), &size);
        RegCloseKey(key);
        return rc == ERROR_SUCCESS;
    }

    std::unique_ptr<hbrtest::TempDir> logDir_;
    CLog *log_ = nullptr;
    std::unique_ptr<hbrtest::ScopedEnv> mbnSocket_;
    CMbnDeviceServicesEventsMonitor *monitor_ = nullptr;
};

#endif
