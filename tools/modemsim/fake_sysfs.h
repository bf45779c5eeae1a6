// A device tree shaped like Linux sysfs, built under a folder of our own, for
// the platform's SetupAPI (HBR_SYSFS_ROOT). Device folders live under
// devices/, with their attribute files and a `subsystem` link to bus/<bus>;
// class/<cls>/<name> is a link to a folder below the device that holds a
// `device` link back to it, as the kernel lays them out.
#ifndef HBRMODEMSIM_FAKE_SYSFS_H
#define HBRMODEMSIM_FAKE_SYSFS_H

#include <string>
#include <utility>
#include <vector>

namespace hbrmodemsim {

// Attribute files of a device folder: name, then the text written (a "\n"
// is appended, as the kernel does).
using SysfsAttributes = std::vector<std::pair<std::string, std::string>>;

struct UsbIds {
    std::string vendor;   // idVendor, e.g. "8087"
    std::string product;  // idProduct
    std::string revision = "0001";  // bcdDevice
};

struct PciIds {
    std::string vendor;  // written as given, e.g. "0x14c3"
    std::string device;
    std::string subsystemVendor;
    std::string subsystemDevice;
    std::string revision = "0x00";
};

// Every path argument and result is relative to the root ("devices/...").
// Failures throw std::runtime_error. The destructor removes exactly what
// this object created, newest first; folders that gained foreign files stay.
class FakeSysfs {
public:
    // `root` is created when missing (and then removed at the end).
    explicit FakeSysfs(const std::string &root);
    ~FakeSysfs();
    FakeSysfs(const FakeSysfs &) = delete;
    FakeSysfs &operator=(const FakeSysfs &) = delete;

    const std::string &root() const { return root_; }

    // devices/<path> with its attribute files and, when `bus` is not empty,
    // a `subsystem` link to bus/<bus>. Missing parent folders are created
    // (without attributes). Returns "devices/<path>".
    std::string addDevice(const std::string &path, const std::string &bus, const SysfsAttributes &attrs);
    // A USB device folder: idVendor, idProduct, bcdDevice, bNumInterfaces
    // and, when not empty, product.
    std::string addUsbDevice(const std::string &path, const UsbIds &ids, unsigned numInterfaces,
                             const std::string &productText = "");
    // Interface `number` of a USB device made by addUsbDevice: the folder
    // "<device>/<busname>:1.<number>" with bInterfaceNumber and, when not
    // empty, the `interface` text.
    std::string addUsbInterface(const std::string &usbDevice, unsigned number, const std::string &interfaceText = "");
    // A PCI function: vendor, device, subsystem_vendor, subsystem_device, revision.
    std::string addPciFunction(const std::string &path, const PciIds &ids);

    // class/<cls>/<name> -> <device>/<cls>/<name>, which holds the `device`
    // link to <device>. An empty `device` makes a virtual entry (under
    // devices/virtual/<cls>/<name>) without a `device` link, like `lo`.
    void addClassEntry(const std::string &cls, const std::string &name, const std::string &device);

    // Creates or replaces one attribute file of a folder made here.
    void writeAttribute(const std::string &folder, const std::string &name, const std::string &text);

private:
    std::string abs(const std::string &rel) const { return root_ + "/" + rel; }
    void makeDirs(const std::string &rel);
    void makeLink(const std::string &linkRel, const std::string &targetRel);
    void writeFile(const std::string &rel, const std::string &content);

    std::string root_;
    struct Created {
        std::string path;  // absolute
        bool folder;
    };
    std::vector<Created> created_;
};

// The hardware identity of the simulated module, by preset name "0", "1",
// "2" or "none":
//   0     PCI 14c3:4d75; the Net and the Ports entry on the PCI function
//   1     USB 8087:0ac9 rev 0001, three interfaces; Net on 00, Ports on 02
//   2     USB 5e1a:0718, three interfaces; Net on 00, Ports on 02
//   none  USB 1234:5678, three interfaces; Net on 00, Ports on 02
// The Net entry is `netName`, the Ports entry `ttyName`. The virtual
// entries class/net/lo and class/tty/tty0 (no `device` link) come with it.
// Returns false with `*error` for an unknown preset.
struct PresetNames {
    std::string ttyName = "ttyHBR0";
    std::string netName = "wwan0";
};
bool buildModulePreset(FakeSysfs &sysfs, const std::string &preset, const PresetNames &names, std::string *error);
bool isModulePreset(const std::string &preset);

}  // namespace hbrmodemsim

#endif
