// Platform detection, the AT port lookup and the device property reader,
// over sysfs trees of the test's own.
#include "channel_fixture.h"

#include <hbr_platform_fault.h>

#include <cstdlib>

namespace {

using hbrmodemsim::PciIds;
using hbrmodemsim::UsbIds;

const char kIntelPort[] = "USB\\VID_8087&PID_0AC9&REV_0001&MI_02";

class Detection : public ChannelTest {
protected:
    int32_t DetectNet()
    {
        work_->m_platType = -1;
        work_->CheckPlatformType();
        return work_->m_platType;
    }
    int32_t DetectPorts()
    {
        work_->m_platType = -1;
        work_->CheckComPortPlatformType();
        return work_->m_platType;
    }
    // A REG_MULTI_SZ list of the strings.
    static std::string List(std::initializer_list<std::string> ids)
    {
        std::string out;
        for (const auto &id : ids) out += id + '\0';
        return out + '\0';
    }
    static void SetIds(const char *device, const std::string &multiSz, DWORD type = REG_MULTI_SZ)
    {
        hbrFaultSetupDiPropertyValue(device, SPDRP_HARDWAREID, type, multiSz.data(),
                                     static_cast<DWORD>(multiSz.size()));
    }
};

TEST_F(Detection, PresetsGiveTheirTypeOverBothClasses)
{
    for (const char *preset : {"0", "1", "2", "none"}) {
        sysfs_.reset();
        BuildPreset(preset);
        int32_t expected = preset[0] == '1' ? 1 : preset[0] == '2' ? 2 : 0;
        EXPECT_EQ(expected, DetectNet()) << preset;
        EXPECT_EQ(expected, DetectPorts()) << preset;
    }
    EXPECT_TRUE(Logged("[CheckPlatformType] m_platType(2)"));
}

TEST_F(Detection, OnlyTheFirstStringCountsAndTheTableOrderDecides)
{
    AddUsb("1-1", {"1234", "5678"}, "wwan0", "");
    // The Intel id only in the second string.
    SetIds("wwan0", List({"USB\\VID_1234&PID_5678", "USB\\VID_8087&PID_0AC9"}));
    EXPECT_EQ(0, DetectNet());
    // A first string that holds the MediaTek id after the Intel one: MediaTek.
    SetIds("wwan0", List({"USB\\VID_8087&PID_0AC9 PCI\\VEN_14C3&DEV_4D75"}));
    EXPECT_EQ(0, DetectNet());
    // The id anywhere in the first string.
    SetIds("wwan0", List({"X-USB\\VID_5E1A&PID_0001"}));
    EXPECT_EQ(2, DetectNet());
    // A REG_SZ list is skipped.
    SetIds("wwan0", List({"USB\\VID_8087&PID_0AC9"}), REG_SZ);
    EXPECT_EQ(0, DetectNet());
    EXPECT_TRUE(Logged("[error][CStateWork::CheckComPortIsExit] SPDRP_HARDWAREID registry key is not an SZ!"));
}

TEST_F(Detection, TheFirstDeviceInNameOrderThatCarriesAnIdDecides)
{
    AddUsb("1-1", {"1234", "5678"}, "aaa0", "");  // no id of the table
    AddUsb("1-2", {"5e1a", "0718"}, "wwb0", "");
    AddUsb("1-3", {"8087", "0ac9"}, "wwa0", "");
    // wwa0 < wwb0: the Intel module decides.
    EXPECT_EQ(1, DetectNet());
}

TEST_F(Detection, ClassAndListFailuresAndAnEmptyClassGiveZero)
{
    BuildPreset("1");
    hbrFaultSet(HBR_FAULT_SETUPDI_CLASS_GUIDS, 0, 1);
    EXPECT_EQ(0, DetectNet());
    hbrFaultSet(HBR_FAULT_SETUPDI_CLASS_GUIDS_NONE, 0, 1);
    EXPECT_EQ(0, DetectNet());
    hbrFaultSet(HBR_FAULT_SETUPDI_GET_CLASS_DEVS, 0, 1);
    EXPECT_EQ(0, DetectPorts());
    EXPECT_EQ(3, hbrtest::CountMessages(Messages(), "[CheckPlatformType] m_platType(0)"));
    EXPECT_TRUE(Logged("[error][CStateWork::CheckComPortIsExit] SetupDiClassGuidsFromName Fail("));
    EXPECT_TRUE(Logged("[error][CStateWork::CheckComPortIsExit] dwNumberOfGUIDs=0"));
    EXPECT_TRUE(Logged("[error][CStateWork::CheckComPortIsExit] SetupDiGetClassDevs Fail("));
    // The failure lines of the detectors end in a line feed of their own.
    std::string raw = hbrtest::ReadFile(log_->LogPath());
    EXPECT_NE(std::string::npos, raw.find("dwNumberOfGUIDs=0\n\n"));
    sysfs_.reset();
    hbrFaultClearAll();
    EXPECT_EQ(0, DetectNet()); // no device of the class at all
}

TEST_F(Detection, PortLookupNeedsTheWholeFirstIdAndStopsAtTheFirstMatch)
{
    BuildPreset("1");
    EXPECT_TRUE(work_->CheckComPortIsExit(kIntelPort));
    EXPECT_TRUE(work_->CheckComPortIsExit("USB\\VID_8087&PID_0AC9&REV_0001&MI_02\\6&1234"));
    EXPECT_FALSE(work_->CheckComPortIsExit("USB\\VID_8087&PID_0AC9&REV_0001"));
    EXPECT_FALSE(work_->CheckComPortIsExit("usb\\vid_8087&pid_0ac9&rev_0001&mi_02"));
    // An empty first id matches nothing; a REG_SZ id is skipped.
    SetIds("ttyHBR0", List({""}));
    EXPECT_FALSE(work_->CheckComPortIsExit(kIntelPort));
    SetIds("ttyHBR0", List({kIntelPort}), REG_SZ);
    EXPECT_FALSE(work_->CheckComPortIsExit(kIntelPort));
    EXPECT_TRUE(Logged("[error][CStateWork::CheckComPortIsExit] SPDRP_HARDWAREID registry key is not an SZ!"));

    // Two matching ports: the walk ends at the first.
    hbrFaultClearAll();
    sysfs_.reset();
    AddUsb("1-1", {"8087", "0ac9"}, "", "ttyA");
    AddUsb("1-2", {"8087", "0ac9"}, "", "ttyB");
    int before = hbrtest::CountMessages(Messages(), "[Infomation][CStateWork::CheckComPortIsExit] HardId-");
    EXPECT_TRUE(work_->CheckComPortIsExit(kIntelPort));
    EXPECT_EQ(1, hbrtest::CountMessages(Messages(), "[Infomation][CStateWork::CheckComPortIsExit] HardId-") - before);
}

TEST_F(Detection, PropertyReaderBranches)
{
    BuildPreset("2");
    auto read = [](DWORD property, DWORD *type) {
        char *text = nullptr;
        GUID guid;
        DWORD n = 0;
        EXPECT_TRUE(SetupDiClassGuidsFromNameA("Ports", &guid, 1, &n));
        HDEVINFO set = SetupDiGetClassDevsA(&guid, nullptr, nullptr, DIGCF_PRESENT);
        SP_DEVINFO_DATA dev = {};
        dev.cbSize = sizeof dev;
        EXPECT_TRUE(SetupDiEnumDeviceInfo(set, 0, &dev));
        text = property == SPDRP_HARDWAREID ? CStateWork::GetDeviceRegistryProperty(set, &dev, type)
                                            : CStateWork::GetDeviceRegistryProperty(set, &dev, property, type);
        SetupDiDestroyDeviceInfoList(set);
        std::string s = text == nullptr ? "<null>" : text;
        std::free(text);
        return s;
    };
    DWORD type = 0;
    std::string friendly = read(SPDRP_FRIENDLYNAME, &type);
    ASSERT_GE(friendly.size(), 10u);
    EXPECT_EQ(" (ttyHBR0)", friendly.substr(friendly.size() - 10));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ(0u, read(SPDRP_HARDWAREID, &type).find("USB\\VID_5E1A&PID_0718"));
    EXPECT_EQ(static_cast<DWORD>(REG_MULTI_SZ), type);

    // A size query that succeeds.
    hbrFaultSetupDiPropertySizeQuerySucceeds("ttyHBR0", SPDRP_HARDWAREID);
    EXPECT_EQ("<null>", read(SPDRP_HARDWAREID, &type));
    EXPECT_TRUE(Logged("[error][CStateWork::GetDeviceRegistryProperty] call SetupDiGetDeviceRegistryProperty did not fail? ("));
    // Another error than 122 on the size query: silent.
    int lines = static_cast<int>(Messages().size());
    hbrFaultSetupDiPropertyError("ttyHBR0", SPDRP_FRIENDLYNAME, ERROR_INVALID_DATA, 0);
    EXPECT_EQ("<null>", read(SPDRP_FRIENDLYNAME, &type));
    EXPECT_EQ(lines, static_cast<int>(Messages().size()));
    // The read after the size query fails; the argument form has no "\n".
    hbrFaultSetupDiPropertyError("ttyHBR0", SPDRP_FRIENDLYNAME, ERROR_GEN_FAILURE, 1);
    EXPECT_EQ("<null>", read(SPDRP_FRIENDLYNAME, &type));
    EXPECT_TRUE(Logged("[error][CStateWork::GetDeviceRegistryProperty] couldn't get registry property! error: 31"));
    // The hardware-id form's lines end in a line feed of their own.
    std::string raw = hbrtest::ReadFile(log_->LogPath());
    size_t didNotFail = raw.find("did not fail? (");
    ASSERT_NE(std::string::npos, didNotFail);
    EXPECT_EQ("\n\n", raw.substr(raw.find(')', didNotFail) + 1, 2));
    EXPECT_EQ(std::string::npos, raw.find("error: 31\n\n"));
    // A value stored without its terminators still reads as a text.
    hbrFaultClearAll();
    hbrFaultSetupDiPropertyValue("ttyHBR0", SPDRP_FRIENDLYNAME, REG_SZ, "ABCD", 4);
    EXPECT_EQ("ABCD", read(SPDRP_FRIENDLYNAME, &type));
}

} // namespace
