// SetupAPI device enumeration over sysfs: classes "Ports" (class/tty) and
// "Net" (class/net), hardware ids from the USB or PCI device above each
// entry. See docs/platform.md for the mapping.
#include "objects.h"

#include <setupapi.h>
#include <hbr_platform_fault.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <strings.h>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" const GUID GUID_DEVCLASS_PORTS = {0x8A1C2E4F, 0x3B6D, 0x4F7A, {0x9C, 0x21, 0x5E, 0x0B, 0x7D, 0x3A, 0x6F, 0x10}};
extern "C" const GUID GUID_DEVCLASS_NET = {0x8A1C2E4F, 0x3B6D, 0x4F7A, {0x9C, 0x21, 0x5E, 0x0B, 0x7D, 0x3A, 0x6F, 0x11}};

using namespace hbr;

namespace {

struct Device {
    std::string name;                // entry name, e.g. "ttyACM0"
    std::vector<BYTE> hardwareIds;   // REG_MULTI_SZ; empty: none
    std::vector<BYTE> friendlyName;  // REG_SZ with its NUL
};

struct DevInfoSet : Object {
    DevInfoSet() : Object(ObjectType::DeviceInfoSet) {}
    GUID classGuid{};
    ULONG_PTR serial = 0;  // names the set in SP_DEVINFO_DATA.Reserved
    std::vector<Device> devices;
};

std::atomic<ULONG_PTR> g_setSerial{0};

// ---- property faults ----
enum class PropFaultKind { Value, SizeQuerySucceeds, Error };
struct PropFault {
    explicit PropFault(PropFaultKind k) : kind(k) {}
    PropFaultKind kind;
    DWORD type = 0;
    std::vector<BYTE> data;
    DWORD error = 0;
    unsigned skip = 0;
};
std::mutex g_propFaultLock;
std::map<std::pair<std::string, DWORD>, PropFault> &PropFaults()
{
    static auto *faults = new std::map<std::pair<std::string, DWORD>, PropFault>;
    return *faults;
}

void SetPropFault(const char *device, DWORD property, PropFault fault)
{
    if (device == nullptr) {
        return;
    }
    std::lock_guard<std::mutex> guard(g_propFaultLock);
    PropFaults().insert_or_assign({device, property}, std::move(fault));
}

// ---- sysfs reading ----
bool ReadSmallFile(const std::string &path, std::string *out)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    std::ostringstream s;
    s << in.rdbuf();
    *out = s.str();
    return true;
}

std::string Trim(const std::string &text)
{
    const char *blanks = " \t\r\n";
    size_t begin = text.find_first_not_of(blanks);
    if (begin == std::string::npos) {
        return std::string();
    }
    size_t end = text.find_last_not_of(blanks);
    return text.substr(begin, end - begin + 1);
}

// An attribute written in hex ("8087", "0x14c3\n"), as `digits` upper-case
// hex digits. False when missing, empty, not hex or too wide.
bool ReadHex(const std::string &folder, const char *name, int digits, std::string *out)
{
    std::string text;
    if (!ReadSmallFile(folder + "/" + name, &text)) {
        return false;
    }
    text = Trim(text);
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text = text.substr(2);
    }
    if (text.empty() || text.size() > 8 ||
        text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        return false;
    }
    unsigned long value = std::strtoul(text.c_str(), nullptr, 16);
    if (value >> (4 * digits) != 0) {
        return false;
    }
    char buf[16];
    std::snprintf(buf, sizeof buf, "%0*lX", digits, value);
    *out = buf;
    return true;
}

bool ReadDecimal(const std::string &folder, const char *name, unsigned long *out)
{
    std::string text;
    if (!ReadSmallFile(folder + "/" + name, &text)) {
        return false;
    }
    text = Trim(text);
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    *out = std::strtoul(text.c_str(), nullptr, 10);
    return true;
}

// A text attribute without its surrounding blanks and newline; "" when missing.
std::string ReadText(const std::string &folder, const char *name)
{
    std::string text;
    return ReadSmallFile(folder + "/" + name, &text) ? Trim(text) : std::string();
}

bool Exists(const std::string &path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

std::string Parent(const std::string &path)
{
    size_t slash = path.rfind('/');
    return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

std::string RealPath(const std::string &path)
{
    char *resolved = realpath(path.c_str(), nullptr);
    if (resolved == nullptr) {
        return std::string();
    }
    std::string out = resolved;
    free(resolved);
    return out;
}

bool EndsWith(const std::string &text, const std::string &tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The bus of a device folder from its `subsystem` link: "usb", "pci" or "".
std::string BusOf(const std::string &folder)
{
    char target[PATH_MAX];
    ssize_t n = readlink((folder + "/subsystem").c_str(), target, sizeof target - 1);
    if (n <= 0) {
        return std::string();
    }
    std::string t(target, static_cast<size_t>(n));
    if (EndsWith(t, "/usb")) {
        return "usb";
    }
    if (EndsWith(t, "/pci")) {
        return "pci";
    }
    return std::string();
}

void AppendString(std::vector<BYTE> *out, const std::string &s)
{
    out->insert(out->end(), s.begin(), s.end());
    out->push_back(0);
}

std::vector<BYTE> MultiSz(const std::vector<std::string> &strings)
{
    std::vector<BYTE> out;
    for (const std::string &s : strings) {
        AppendString(&out, s);
    }
    out.push_back(0);
    return out;
}

// Hardware ids and description of the device at `devFolder` (resolved),
// walking up to the first USB or PCI folder, never above `root`.
void Identify(const std::string &root, const std::string &devFolder, std::vector<std::string> *ids,
              std::string *description)
{
    std::string cur = devFolder;
    std::string bus;
    while (cur.size() > root.size() && cur.compare(0, root.size() + 1, root + "/") == 0) {
        bus = BusOf(cur);
        if (!bus.empty()) {
            break;
        }
        cur = Parent(cur);
    }
    if (bus == "usb") {
        bool isInterface = Exists(cur + "/bInterfaceNumber");
        std::string usbDevice = isInterface ? Parent(cur) : cur;
        *description = isInterface ? ReadText(cur, "interface") : std::string();
        if (description->empty()) {
            *description = ReadText(usbDevice, "product");
        }
        std::string vid, pid, rev, mi;
        unsigned long interfaces = 1;
        if (!ReadHex(usbDevice, "idVendor", 4, &vid) || !ReadHex(usbDevice, "idProduct", 4, &pid) ||
            !ReadHex(usbDevice, "bcdDevice", 4, &rev)) {
            return;
        }
        std::string base = "USB\\VID_" + vid + "&PID_" + pid;
        if (isInterface) {
            if (!ReadHex(cur, "bInterfaceNumber", 2, &mi) || !ReadDecimal(usbDevice, "bNumInterfaces", &interfaces)) {
                return;
            }
        }
        if (isInterface && interfaces > 1) {
            *ids = {base + "&REV_" + rev + "&MI_" + mi, base + "&MI_" + mi};
        } else {
            *ids = {base + "&REV_" + rev, base};
        }
    } else if (bus == "pci") {
        std::string ven, dev, subVen, subDev, rev;
        if (!ReadHex(cur, "vendor", 4, &ven) || !ReadHex(cur, "device", 4, &dev) ||
            !ReadHex(cur, "subsystem_vendor", 4, &subVen) || !ReadHex(cur, "subsystem_device", 4, &subDev) ||
            !ReadHex(cur, "revision", 2, &rev)) {
            return;
        }
        std::string base = "PCI\\VEN_" + ven + "&DEV_" + dev;
        std::string subsys = "&SUBSYS_" + subDev + subVen;
        *ids = {base + subsys + "&REV_" + rev, base + subsys, base + "&REV_" + rev, base};
    }
}

std::vector<Device> Snapshot(const std::string &classDir, bool ports)
{
    const char *env = std::getenv("HBR_SYSFS_ROOT");
    std::string root = RealPath(env != nullptr && env[0] != '\0' ? env : "/sys");
    std::vector<Device> devices;
    if (root.empty()) {
        return devices;
    }
    std::string folder = root + "/class/" + classDir;
    std::vector<std::string> names;
    if (DIR *d = opendir(folder.c_str())) {
        while (struct dirent *e = readdir(d)) {
            std::string name = e->d_name;
            if (name != "." && name != "..") {
                names.push_back(name);
            }
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end(), [](const std::string &a, const std::string &b) {
        return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
            return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
        });
    });
    for (const std::string &name : names) {
        std::string devFolder = RealPath(folder + "/" + name + "/device");
        if (devFolder.empty()) {
            continue; // virtual entries (lo, tty0) are not devices
        }
        std::vector<std::string> ids;
        std::string description;
        Identify(root, devFolder, &ids, &description);
        if (description.empty()) {
            description = "Communications Port";
        }
        Device dev;
        dev.name = name;
        if (!ids.empty()) {
            dev.hardwareIds = MultiSz(ids);
        }
        AppendString(&dev.friendlyName, ports ? description + " (" + name + ")" : description);
        devices.push_back(std::move(dev));
    }
    return devices;
}

bool ClassDirOf(const GUID &guid, const char **dir, bool *ports)
{
    if (IsEqualGUID(guid, GUID_DEVCLASS_PORTS)) {
        *dir = "tty";
        *ports = true;
        return true;
    }
    if (IsEqualGUID(guid, GUID_DEVCLASS_NET)) {
        *dir = "net";
        *ports = false;
        return true;
    }
    return false;
}

// A caller's SP_DEVINFO_DATA record: present and of the right size.
bool CheckRecord(const SP_DEVINFO_DATA *data)
{
    if (data == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    if (data->cbSize != sizeof(SP_DEVINFO_DATA)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return false;
    }
    return true;
}

// The device a SP_DEVINFO_DATA names in `set`, or null with the error set.
const Device *DeviceOf(const DevInfoSet &set, const SP_DEVINFO_DATA *data)
{
    if (!CheckRecord(data)) {
        return nullptr;
    }
    if (data->Reserved != set.serial || data->DevInst == 0 || data->DevInst > set.devices.size()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return &set.devices[data->DevInst - 1];
}

} // namespace

namespace hbr {
void ClearSetupDiFaults()
{
    std::lock_guard<std::mutex> guard(g_propFaultLock);
    PropFaults().clear();
}
} // namespace hbr

extern "C" BOOL WINAPI SetupDiClassGuidsFromNameA(LPCSTR ClassName, LPGUID ClassGuidList, DWORD ClassGuidListSize,
                                                  PDWORD RequiredSize)
{
    if (ClassName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (FaultHit(HBR_FAULT_SETUPDI_CLASS_GUIDS)) {
        return FALSE;
    }
    DWORD lastError = GetLastError();
    if (FaultHit(HBR_FAULT_SETUPDI_CLASS_GUIDS_NONE)) {
        SetLastError(lastError);
        if (RequiredSize != nullptr) {
            *RequiredSize = 0;
        }
        return TRUE;
    }
    const GUID *guid = nullptr;
    if (strcasecmp(ClassName, "Ports") == 0) {
        guid = &GUID_DEVCLASS_PORTS;
    } else if (strcasecmp(ClassName, "Net") == 0) {
        guid = &GUID_DEVCLASS_NET;
    }
    if (RequiredSize != nullptr) {
        *RequiredSize = guid != nullptr ? 1 : 0;
    }
    if (guid == nullptr) {
        return TRUE;
    }
    if (ClassGuidListSize == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    if (ClassGuidList == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    ClassGuidList[0] = *guid;
    return TRUE;
}

extern "C" HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID *ClassGuid, LPCSTR Enumerator, HANDLE, DWORD Flags)
{
    if (Flags != DIGCF_PRESENT) {
        SetLastError(ERROR_INVALID_FLAGS);
        return INVALID_HANDLE_VALUE;
    }
    if (ClassGuid == nullptr || Enumerator != nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if (FaultHit(HBR_FAULT_SETUPDI_GET_CLASS_DEVS)) {
        return INVALID_HANDLE_VALUE;
    }
    auto set = std::make_shared<DevInfoSet>();
    set->classGuid = *ClassGuid;
    set->serial = ++g_setSerial;
    const char *dir;
    bool ports;
    if (ClassDirOf(*ClassGuid, &dir, &ports)) {
        set->devices = Snapshot(dir, ports);
    }
    return InsertHandle(set);
}

extern "C" BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO DeviceInfoSet, DWORD MemberIndex,
                                             PSP_DEVINFO_DATA DeviceInfoData)
{
    auto set = LookupAs<DevInfoSet>(DeviceInfoSet, ObjectType::DeviceInfoSet);
    if (!set || !CheckRecord(DeviceInfoData)) {
        return FALSE;
    }
    if (MemberIndex >= set->devices.size()) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    DeviceInfoData->ClassGuid = set->classGuid;
    DeviceInfoData->DevInst = MemberIndex + 1;
    DeviceInfoData->Reserved = set->serial;
    return TRUE;
}

extern "C" BOOL WINAPI SetupDiGetDeviceRegistryPropertyA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                                         DWORD Property, PDWORD PropertyRegDataType,
                                                         PBYTE PropertyBuffer, DWORD PropertyBufferSize,
                                                         PDWORD RequiredSize)
{
    auto set = LookupAs<DevInfoSet>(DeviceInfoSet, ObjectType::DeviceInfoSet);
    if (!set) {
        return FALSE;
    }
    const Device *dev = DeviceOf(*set, DeviceInfoData);
    if (dev == nullptr) {
        return FALSE;
    }
    DWORD type = 0;
    std::vector<BYTE> value;
    bool sizeQuerySucceeds = false;
    if (Property == SPDRP_HARDWAREID) {
        type = REG_MULTI_SZ;
        value = dev->hardwareIds;
    } else if (Property == SPDRP_FRIENDLYNAME) {
        type = REG_SZ;
        value = dev->friendlyName;
    }
    {
        std::lock_guard<std::mutex> guard(g_propFaultLock);
        auto it = PropFaults().find({dev->name, Property});
        if (it != PropFaults().end()) {
            PropFault &f = it->second;
            if (f.kind == PropFaultKind::Value) {
                type = f.type;
                value = f.data;
            } else if (f.kind == PropFaultKind::SizeQuerySucceeds) {
                sizeQuerySucceeds = true;
            } else if (f.skip > 0) {
                f.skip--;
            } else {
                SetLastError(f.error);
                return FALSE;
            }
        }
    }
    if (value.empty()) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    DWORD size = static_cast<DWORD>(value.size());
    if (RequiredSize != nullptr) {
        *RequiredSize = size;
    }
    if (PropertyRegDataType != nullptr) {
        *PropertyRegDataType = type;
    }
    if (PropertyBuffer == nullptr || PropertyBufferSize < size) {
        if (sizeQuerySucceeds) {
            return TRUE;
        }
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(PropertyBuffer, value.data(), size);
    return TRUE;
}

extern "C" BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet)
{
    return RemoveHandle(DeviceInfoSet, ObjectType::DeviceInfoSet) ? TRUE : FALSE;
}

extern "C" void hbrFaultSetupDiPropertyValue(const char *device, DWORD property, DWORD type, const void *data,
                                             DWORD size)
{
    PropFault f(PropFaultKind::Value);
    f.type = type;
    if (data != nullptr) {
        f.data.assign(static_cast<const BYTE *>(data), static_cast<const BYTE *>(data) + size);
    }
    SetPropFault(device, property, std::move(f));
}

extern "C" void hbrFaultSetupDiPropertySizeQuerySucceeds(const char *device, DWORD property)
{
    SetPropFault(device, property, PropFault(PropFaultKind::SizeQuerySucceeds));
}

extern "C" void hbrFaultSetupDiPropertyError(const char *device, DWORD property, DWORD error, unsigned skip)
{
    PropFault f(PropFaultKind::Error);
    f.error = error;
    f.skip = skip;
    SetPropFault(device, property, std::move(f));
}
