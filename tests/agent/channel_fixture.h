// Fixture for AT channel tests: on top of AgentTest, a fresh work object
// (its seven events created) and COM helper installed as the instances,
// and the module's places of its own: a sysfs root, a device folder and a
// device-service socket path, in one temp folder.
#ifndef HBR_AGENT_CHANNEL_FIXTURE_H
#define HBR_AGENT_CHANNEL_FIXTURE_H

#include "agent_fixture.h"

#include "com_port_channel.h"
#include "device_service_server.h"
#include "fake_sysfs.h"

#include <sys/stat.h>

class ChannelTest : public AgentTest {
protected:
    void SetUp() override
    {
        AgentTest::SetUp();
        dir_.reset(new hbrtest::TempDir);
        mkdir((*dir_ / "dev").c_str(), 0700);
        sysfsEnv_.reset(new hbrtest::ScopedEnv("HBR_SYSFS_ROOT", (*dir_ / "sys").c_str()));
        devEnv_.reset(new hbrtest::ScopedEnv("HBR_DEV_ROOT", (*dir_ / "dev").c_str()));
        socketEnv_.reset(new hbrtest::ScopedEnv("HBR_MBN_SOCKET", SocketPath().c_str()));
        work_.reset(new CStateWork);
        for (HANDLE &e : work_->m_events) {
            e = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        }
        CStateWork::SetInstanceForTest(work_.get());
        port_.reset(new CComPortChannelHelper);
        CComPortChannelHelper::SetInstanceForTest(port_.get());
    }
    void TearDown() override
    {
        // After a removal the close keeps the device service (the next
        // bring-up would release it); here nothing follows, so close as
        // with the channel up.
        work_->m_mbbInterfaceRemoved = 0;
        monitor_->Uninit();
        server_.reset();
        port_->Close();
        CComPortChannelHelper::SetInstanceForTest(nullptr);
        port_.reset();
        work_.reset();
        CStateWork::SetInstanceForTest(nullptr);
        sysfs_.reset();
        socketEnv_.reset();
        devEnv_.reset();
        sysfsEnv_.reset();
        dir_.reset();
        AgentTest::TearDown();
    }

    std::string SocketPath() const { return *dir_ / "mbn.sock"; }
    std::string DevRoot() const { return *dir_ / "dev"; }

    // The module's device tree for a preset ("0", "1", "2", "none").
    hbrmodemsim::FakeSysfs &Sysfs()
    {
        if (!sysfs_) {
            sysfs_.reset(new hbrmodemsim::FakeSysfs(*dir_ / "sys"));
        }
        return *sysfs_;
    }
    void BuildPreset(const std::string &preset)
    {
        std::string error;
        ASSERT_TRUE(hbrmodemsim::buildModulePreset(Sysfs(), preset, hbrmodemsim::PresetNames(), &error)) << error;
    }

    // Starts the device service with `handler` answering AT commands, and
    // subscribes the sink as the worker does at its start.
    hbrmodemsim::DeviceServiceServer &StartServer(hbrmodemsim::DeviceServiceServer::AtHandler handler)
    {
        server_.reset(new hbrmodemsim::DeviceServiceServer(SocketPath(), std::move(handler)));
        std::string error;
        EXPECT_TRUE(server_->start(&error)) << error;
        ReconnectPlatform();
        if (work_->m_devSerMbbChannelEventCook == 0) {
            EXPECT_EQ(S_OK, work_->RegisterDeviceServiceMbbChannelMonitorEvent());
        }
        return *server_;
    }
    // Makes the platform's device-service client bind to this test's socket.
    static void ReconnectPlatform() { EXPECT_TRUE(hbrDeviceServiceReconnect()); }

    // A USB module with three interfaces: net entry `net` on 00, tty `tty`
    // on 02 (either may be empty).
    void AddUsb(const std::string &name, const hbrmodemsim::UsbIds &ids, const std::string &net,
                const std::string &tty)
    {
        std::string dev = Sysfs().addUsbDevice("pci0000:00/usb1/" + name, ids, 3, "Module " + name);
        std::string if0 = Sysfs().addUsbInterface(dev, 0);
        Sysfs().addUsbInterface(dev, 1);
        std::string if2 = Sysfs().addUsbInterface(dev, 2, "AT Port " + name);
        if (!net.empty()) Sysfs().addClassEntry("net", net, if0);
        if (!tty.empty()) Sysfs().addClassEntry("tty", tty, if2);
    }

    bool EventSet(int index) const { return WaitForSingleObject(work_->m_events[index], 0) == WAIT_OBJECT_0; }
    void ResetEvents()
    {
        for (HANDLE e : work_->m_events) ResetEvent(e);
    }

    std::unique_ptr<hbrtest::TempDir> dir_;
    std::unique_ptr<hbrtest::ScopedEnv> sysfsEnv_, devEnv_, socketEnv_;
    std::unique_ptr<CStateWork> work_;
    std::unique_ptr<CComPortChannelHelper> port_;
    std::unique_ptr<hbrmodemsim::FakeSysfs> sysfs_;
    std::unique_ptr<hbrmodemsim::DeviceServiceServer> server_;
};

#endif
