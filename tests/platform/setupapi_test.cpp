// Device enumeration over a fake sysfs tree.
#include <gtest/gtest.h>

#include <windows.h>
#include <setupapi.h>
#include <hbr_platform_fault.h>

#include "fake_sysfs.h"
#include "test_support.h"

#include <string>
#include <vector>

namespace {

using hbrmodemsim::FakeSysfs;

struct Prop {
    BOOL ok = FALSE;
    DWORD error = 0;
    DWORD type = 0;
    std::string data;
};

// Reads a property with the two-call protocol.
Prop ReadProp(HDEVINFO set, SP_DEVINFO_DATA *dev, DWORD property)
{
    Prop p;
    DWORD required = 0;
    SetLastError(0);
    if (SetupDiGetDeviceRegistryPropertyA(set, dev, property, &p.type, nullptr, 0, &required)) {
        p.ok = TRUE; // a size query that succeeded
        return p;
    }
    p.error = GetLastError();
    if (p.error != ERROR_INSUFFICIENT_BUFFER) {
        return p;
    }
    std::vector<BYTE> buf(required + 4, 0xAA);
    p.ok = SetupDiGetDeviceRegistryPropertyA(set, dev, property, &p.type, buf.data(), required, nullptr);
    p.error = p.ok ? 0 : GetLastError();
    EXPECT_EQ(0xAA, buf[required]) << "wrote past the reported size";
    p.data.assign(reinterpret_cast<char *>(buf.data()), required);
    return p;
}

struct Entry {
    std::string hardwareIds; // REG_MULTI_SZ bytes, "" when missing
    std::string friendlyName;
};

// Every present device of a class, in enumeration order.
std::vector<Entry> Enumerate(const char *className)
{
    GUID guid;
    DWORD required = 0;
    EXPECT_TRUE(SetupDiClassGuidsFromNameA(className, &guid, 1, &required));
    HDEVINFO set = SetupDiGetClassDevsA(&guid, nullptr, nullptr, DIGCF_PRESENT);
    EXPECT_NE(INVALID_HANDLE_VALUE, set);
    std::vector<Entry> out;
    SP_DEVINFO_DATA dev = {sizeof(SP_DEVINFO_DATA), {}, 0, 0};
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &dev); ++i) {
        Entry e;
        Prop ids = ReadProp(set, &dev, SPDRP_HARDWAREID);
        if (ids.ok) {
            EXPECT_EQ(static_cast<DWORD>(REG_MULTI_SZ), ids.type);
            e.hardwareIds = ids.data;
        } else {
            EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA), ids.error);
        }
        Prop name = ReadProp(set, &dev, SPDRP_FRIENDLYNAME);
        EXPECT_TRUE(name.ok);
        EXPECT_EQ(static_cast<DWORD>(REG_SZ), name.type);
        e.friendlyName = name.data;
        out.push_back(e);
    }
    EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MORE_ITEMS), GetLastError());
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
    return out;
}

std::string Sz(const std::string &s)
{
    return s + std::string(1, '\0');
}

std::string MultiSz(const std::vector<std::string> &strings)
{
    std::string out;
    for (const std::string &s : strings) {
        out += Sz(s);
    }
    return out + std::string(1, '\0');
}

class SetupApiTest : public ::testing::Test {
protected:
    void TearDown() override { hbrFaultClearAll(); }
    hbrtest::TempDir dir_;
    FakeSysfs sysfs_{dir_ / "sys"};
    hbrtest::ScopedEnv env_{"HBR_SYSFS_ROOT", sysfs_.root().c_str()};
};

TEST_F(SetupApiTest, HardwareIdsAndFriendlyNamesFollowTheBusAboveEachEntry)
{
    FakeSysfs &fs = sysfs_;
    // A composite USB module (three interfaces), as the simulator builds it.
    ASSERT_TRUE(hbrmodemsim::buildModulePreset(fs, "1", {}, nullptr));
    // A single-interface USB device whose tty sits two levels below its
    // interface (usb-serial), described by the device's product only.
    std::string serial = fs.addUsbDevice("pci0000:00/0000:00:14.0/usb1/1-2", {"067b", "2303", "0300"}, 1, "USB-Serial");
    std::string serialIf = fs.addUsbInterface(serial, 0);
    std::string port = fs.addDevice(serialIf.substr(8) + "/ttyUSB0", "usb-serial", {});
    fs.addClassEntry("tty", "ttyUSB0", port);
    // A tty right on a USB device folder, with values in odd spellings.
    std::string whole = fs.addUsbDevice("pci0000:00/0000:00:14.0/usb1/1-3", {"0X5E1A", " 718 ", "1"}, 2);
    fs.addClassEntry("tty", "ttyACM0", whole);
    // A PCI function without a description.
    std::string pci = fs.addPciFunction("pci0000:00/0000:00:1c.0/0000:02:00.0", {"0x14c3", "0x4d75", "0x1cf8", "0x0718", "0x01"});
    fs.addClassEntry("tty", "ttyPCI0", pci);
    // A device on another bus: present, without hardware ids.
    fs.addClassEntry("tty", "ttyS0", fs.addDevice("platform/serial8250", "platform", {}));
    // A lower-case name sorts after the upper-case ones (byte order).
    fs.addClassEntry("tty", "tty_a", fs.addDevice("platform/other", "platform", {}));
    // A PCI function with a bad revision file: no hardware ids.
    std::string bad = fs.addPciFunction("pci0000:00/0000:00:1d.0", {"0x8086", "0x1234", "0x8086", "0x0001", "zz"});
    fs.addClassEntry("tty", "ttyBAD", bad);

    std::vector<Entry> ports = Enumerate("Ports");
    ASSERT_EQ(7u, ports.size()); // tty0 has no device link
    EXPECT_EQ(MultiSz({"USB\\VID_5E1A&PID_0718&REV_0001", "USB\\VID_5E1A&PID_0718"}), ports[0].hardwareIds); // ttyACM0
    EXPECT_EQ(Sz("Communications Port (ttyACM0)"), ports[0].friendlyName);
    EXPECT_EQ("", ports[1].hardwareIds); // ttyBAD
    EXPECT_EQ(MultiSz({"USB\\VID_8087&PID_0AC9&REV_0001&MI_02", "USB\\VID_8087&PID_0AC9&MI_02"}), ports[2].hardwareIds);
    EXPECT_EQ(Sz("KX718 AT Port (ttyHBR0)"), ports[2].friendlyName);
    EXPECT_EQ(MultiSz({"PCI\\VEN_14C3&DEV_4D75&SUBSYS_07181CF8&REV_01", "PCI\\VEN_14C3&DEV_4D75&SUBSYS_07181CF8",
                       "PCI\\VEN_14C3&DEV_4D75&REV_01", "PCI\\VEN_14C3&DEV_4D75"}),
              ports[3].hardwareIds);
    EXPECT_EQ(Sz("Communications Port (ttyPCI0)"), ports[3].friendlyName);
    EXPECT_EQ("", ports[4].hardwareIds); // ttyS0
    EXPECT_EQ(Sz("Communications Port (ttyS0)"), ports[4].friendlyName);
    EXPECT_EQ(MultiSz({"USB\\VID_067B&PID_2303&REV_0300", "USB\\VID_067B&PID_2303"}), ports[5].hardwareIds);
    EXPECT_EQ(Sz("USB-Serial (ttyUSB0)"), ports[5].friendlyName);
    EXPECT_EQ(Sz("Communications Port (tty_a)"), ports[6].friendlyName);

    std::vector<Entry> net = Enumerate("net");
    ASSERT_EQ(1u, net.size()); // lo has no device link
    EXPECT_EQ(MultiSz({"USB\\VID_8087&PID_0AC9&REV_0001&MI_00", "USB\\VID_8087&PID_0AC9&MI_00"}), net[0].hardwareIds);
    EXPECT_EQ(Sz("KX718 Mobile Broadband"), net[0].friendlyName);
}

TEST_F(SetupApiTest, CallsRefuseBadArgumentsWithTheirErrors)
{
    ASSERT_TRUE(hbrmodemsim::buildModulePreset(sysfs_, "0", {}, nullptr));
    GUID guid = {};
    DWORD required = 99;
    SetLastError(0);
    EXPECT_TRUE(SetupDiClassGuidsFromNameA("Modem", &guid, 1, &required));
    EXPECT_EQ(0u, required);
    EXPECT_FALSE(SetupDiClassGuidsFromNameA("PORTS", &guid, 0, &required));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
    EXPECT_EQ(1u, required);
    EXPECT_FALSE(SetupDiClassGuidsFromNameA(nullptr, &guid, 1, &required));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    GUID net = {};
    ASSERT_TRUE(SetupDiClassGuidsFromNameA("Net", &net, 1, &required));
    ASSERT_TRUE(SetupDiClassGuidsFromNameA("ports", &guid, 1, &required));
    EXPECT_TRUE(IsEqualGUID(GUID_DEVCLASS_PORTS, guid));
    EXPECT_TRUE(IsEqualGUID(GUID_DEVCLASS_NET, net));
    EXPECT_FALSE(IsEqualGUID(guid, net));

    EXPECT_EQ(INVALID_HANDLE_VALUE, SetupDiGetClassDevsA(&guid, nullptr, nullptr, DIGCF_PRESENT | 0x4u));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_FLAGS), GetLastError());
    EXPECT_EQ(INVALID_HANDLE_VALUE, SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_PRESENT));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());

    HDEVINFO a = SetupDiGetClassDevsA(&guid, nullptr, nullptr, DIGCF_PRESENT);
    HDEVINFO b = SetupDiGetClassDevsA(&net, nullptr, nullptr, DIGCF_PRESENT);
    ASSERT_NE(INVALID_HANDLE_VALUE, a);
    ASSERT_NE(INVALID_HANDLE_VALUE, b);
    SP_DEVINFO_DATA dev = {sizeof(SP_DEVINFO_DATA) + 1, {}, 0, 0};
    EXPECT_FALSE(SetupDiEnumDeviceInfo(a, 0, &dev));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_USER_BUFFER), GetLastError());
    dev.cbSize = sizeof(SP_DEVINFO_DATA);
    ASSERT_TRUE(SetupDiEnumDeviceInfo(a, 0, &dev));
    EXPECT_TRUE(IsEqualGUID(GUID_DEVCLASS_PORTS, dev.ClassGuid));
    EXPECT_FALSE(SetupDiEnumDeviceInfo(a, 1, &dev));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MORE_ITEMS), GetLastError());

    // Two-call protocol: the size and type come with the 122.
    DWORD type = 0;
    required = 0;
    BYTE small[4];
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(a, &dev, SPDRP_FRIENDLYNAME, &type, small, sizeof small, &required));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ(Sz("Communications Port (ttyHBR0)").size(), required);
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(a, &dev, 0x2u /* compatible ids */, &type, nullptr, 0, &required));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA), GetLastError());

    // A device of one set is not a device of another.
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(b, &dev, SPDRP_HARDWAREID, &type, nullptr, 0, &required));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(b));
    for (HDEVINFO bad : {b, static_cast<HDEVINFO>(nullptr), INVALID_HANDLE_VALUE}) {
        EXPECT_FALSE(SetupDiEnumDeviceInfo(bad, 0, &dev));
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
        EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(bad, &dev, SPDRP_HARDWAREID, &type, nullptr, 0, &required));
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
        EXPECT_FALSE(SetupDiDestroyDeviceInfoList(bad));
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
    }
    // Another handle type is not a set, and a set is not closed by CloseHandle.
    HANDLE ev = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    EXPECT_FALSE(SetupDiDestroyDeviceInfoList(ev));
    EXPECT_FALSE(CloseHandle(a));
    EXPECT_TRUE(CloseHandle(ev));
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(a));

    // A missing class folder, or a missing root, gives an empty set.
    hbrtest::ScopedEnv missing("HBR_SYSFS_ROOT", (dir_ / "nothing").c_str());
    EXPECT_EQ(0u, Enumerate("Ports").size());
}

TEST_F(SetupApiTest, FaultHooksReplaceResultsPerDeviceAndProperty)
{
    ASSERT_TRUE(hbrmodemsim::buildModulePreset(sysfs_, "1", {}, nullptr));
    GUID guid;
    DWORD required = 7;
    hbrFaultSet(HBR_FAULT_SETUPDI_CLASS_GUIDS, 0, 1);
    EXPECT_FALSE(SetupDiClassGuidsFromNameA("Ports", &guid, 1, &required));
    hbrFaultSet(HBR_FAULT_SETUPDI_CLASS_GUIDS_NONE, 0, 1);
    EXPECT_TRUE(SetupDiClassGuidsFromNameA("Ports", &guid, 1, &required));
    EXPECT_EQ(0u, required);
    ASSERT_TRUE(SetupDiClassGuidsFromNameA("Ports", &guid, 1, &required));
    hbrFaultSet(HBR_FAULT_SETUPDI_GET_CLASS_DEVS, 0, 1);
    EXPECT_EQ(INVALID_HANDLE_VALUE, SetupDiGetClassDevsA(&guid, nullptr, nullptr, DIGCF_PRESENT));

    const char regSzId[] = "USB\\VID_8087&PID_0AC9";
    hbrFaultSetupDiPropertyValue("ttyHBR0", SPDRP_HARDWAREID, REG_SZ, regSzId, sizeof regSzId);
    hbrFaultSetupDiPropertyValue("ttyHBR0", SPDRP_FRIENDLYNAME, REG_SZ, "AT Port", 8);
    HDEVINFO set = SetupDiGetClassDevsA(&guid, nullptr, nullptr, DIGCF_PRESENT);
    SP_DEVINFO_DATA dev = {sizeof(SP_DEVINFO_DATA), {}, 0, 0};
    ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 0, &dev));
    Prop id = ReadProp(set, &dev, SPDRP_HARDWAREID);
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), id.type);
    EXPECT_EQ(std::string(regSzId, sizeof regSzId), id.data);
    EXPECT_EQ(Sz("AT Port"), ReadProp(set, &dev, SPDRP_FRIENDLYNAME).data);

    hbrFaultSetupDiPropertySizeQuerySucceeds("ttyHBR0", SPDRP_HARDWAREID);
    EXPECT_TRUE(ReadProp(set, &dev, SPDRP_HARDWAREID).ok);
    EXPECT_TRUE(ReadProp(set, &dev, SPDRP_HARDWAREID).data.empty());

    // The size query passes once, then the read fails with the given error.
    hbrFaultSetupDiPropertyError("ttyHBR0", SPDRP_HARDWAREID, ERROR_GEN_FAILURE, 1);
    Prop failed = ReadProp(set, &dev, SPDRP_HARDWAREID);
    EXPECT_FALSE(failed.ok);
    EXPECT_EQ(static_cast<DWORD>(ERROR_GEN_FAILURE), failed.error);

    hbrFaultClearAll();
    EXPECT_EQ(MultiSz({"USB\\VID_8087&PID_0AC9&REV_0001&MI_02", "USB\\VID_8087&PID_0AC9&MI_02"}),
              ReadProp(set, &dev, SPDRP_HARDWAREID).data);
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
}

} // namespace
