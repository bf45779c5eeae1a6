#include "fake_sysfs.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace hbrmodemsim {
namespace {

std::vector<std::string> splitPath(const std::string &path)
{
    std::vector<std::string> parts;
    size_t pos = 0;
    while (pos <= path.size()) {
        size_t slash = path.find('/', pos);
        if (slash == std::string::npos) slash = path.size();
        if (slash > pos) parts.push_back(path.substr(pos, slash - pos));
        pos = slash + 1;
    }
    return parts;
}

std::string baseName(const std::string &path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The target of a link at `linkRel`, written relative to the link's folder.
std::string relativeTarget(const std::string &linkRel, const std::string &targetRel)
{
    std::vector<std::string> from = splitPath(linkRel);
    from.pop_back();  // the link's own name
    std::vector<std::string> to = splitPath(targetRel);
    size_t common = 0;
    while (common < from.size() && common < to.size() && from[common] == to[common]) ++common;
    std::string out;
    for (size_t i = common; i < from.size(); ++i) out += "../";
    for (size_t i = common; i < to.size(); ++i) {
        out += to[i];
        if (i + 1 < to.size()) out += "/";
    }
    return out.empty() ? "." : out;
}

[[noreturn]] void fail(const std::string &what, const std::string &path)
{
    throw std::runtime_error("fake sysfs: " + what + " " + path + ": " + std::strerror(errno));
}

}  // namespace

FakeSysfs::FakeSysfs(const std::string &root) : root_(root)
{
    while (root_.size() > 1 && root_.back() == '/') root_.pop_back();
    if (root_.empty()) throw std::runtime_error("fake sysfs: empty root");
    struct stat st;
    if (stat(root_.c_str(), &st) == 0) {
        if (!S_ISDIR(st.st_mode)) throw std::runtime_error("fake sysfs: root is not a folder: " + root_);
    } else if (mkdir(root_.c_str(), 0755) == 0) {
        created_.push_back({root_, true});
    } else {
        fail("cannot create", root_);
    }
    makeDirs("bus/usb");
    makeDirs("bus/pci");
    makeDirs("class/net");
    makeDirs("class/tty");
}

FakeSysfs::~FakeSysfs()
{
    for (auto it = created_.rbegin(); it != created_.rend(); ++it) {
        if (it->folder) {
            rmdir(it->path.c_str());  // fails, and stays, when something foreign is inside
        } else {
            unlink(it->path.c_str());
        }
    }
}

void FakeSysfs::makeDirs(const std::string &rel)
{
    std::string path = root_;
    for (const std::string &part : splitPath(rel)) {
        path += "/" + part;
        if (mkdir(path.c_str(), 0755) == 0) {
            created_.push_back({path, true});
        } else if (errno != EEXIST) {
            fail("cannot create", path);
        }
    }
}

void FakeSysfs::makeLink(const std::string &linkRel, const std::string &targetRel)
{
    std::string link = abs(linkRel);
    if (symlink(relativeTarget(linkRel, targetRel).c_str(), link.c_str()) != 0) fail("cannot link", link);
    created_.push_back({link, false});
}

void FakeSysfs::writeFile(const std::string &rel, const std::string &content)
{
    std::string path = abs(rel);
    bool existed = access(path.c_str(), F_OK) == 0;
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) fail("cannot write", path);
    size_t done = 0;
    while (done < content.size()) {
        ssize_t n = write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            close(fd);
            fail("cannot write", path);
        }
        done += static_cast<size_t>(n);
    }
    close(fd);
    if (!existed) created_.push_back({path, false});
}

std::string FakeSysfs::addDevice(const std::string &path, const std::string &bus, const SysfsAttributes &attrs)
{
    std::string rel = "devices/" + path;
    makeDirs(rel);
    if (!bus.empty()) {
        makeDirs("bus/" + bus);
        makeLink(rel + "/subsystem", "bus/" + bus);
    }
    for (const auto &attr : attrs) writeAttribute(rel, attr.first, attr.second);
    return rel;
}

std::string FakeSysfs::addUsbDevice(const std::string &path, const UsbIds &ids, unsigned numInterfaces,
                                    const std::string &productText)
{
    // The kernel writes bNumInterfaces as "%2d".
    std::string count = std::to_string(numInterfaces);
    if (count.size() < 2) count = " " + count;
    SysfsAttributes attrs = {
        {"idVendor", ids.vendor}, {"idProduct", ids.product}, {"bcdDevice", ids.revision}, {"bNumInterfaces", count}};
    if (!productText.empty()) attrs.push_back({"product", productText});
    return addDevice(path, "usb", attrs);
}

std::string FakeSysfs::addUsbInterface(const std::string &usbDevice, unsigned number, const std::string &interfaceText)
{
    const std::string prefix = "devices/";
    if (usbDevice.compare(0, prefix.size(), prefix) != 0) {
        throw std::runtime_error("fake sysfs: not a device folder: " + usbDevice);
    }
    char num[8];
    std::snprintf(num, sizeof num, "%02x", number & 0xFFu);
    std::string path = usbDevice.substr(prefix.size()) + "/" + baseName(usbDevice) + ":1." + std::to_string(number);
    SysfsAttributes attrs = {{"bInterfaceNumber", num}};
    if (!interfaceText.empty()) attrs.push_back({"interface", interfaceText});
    return addDevice(path, "usb", attrs);
}

std::string FakeSysfs::addPciFunction(const std::string &path, const PciIds &ids)
{
    return addDevice(path, "pci",
                     {{"vendor", ids.vendor},
                      {"device", ids.device},
                      {"subsystem_vendor", ids.subsystemVendor},
                      {"subsystem_device", ids.subsystemDevice},
                      {"revision", ids.revision}});
}

void FakeSysfs::addClassEntry(const std::string &cls, const std::string &name, const std::string &device)
{
    std::string folder = (device.empty() ? "devices/virtual" : device) + "/" + cls + "/" + name;
    makeDirs(folder);
    if (!device.empty()) makeLink(folder + "/device", device);
    makeDirs("class/" + cls);
    makeLink("class/" + cls + "/" + name, folder);
}

void FakeSysfs::writeAttribute(const std::string &folder, const std::string &name, const std::string &text)
{
    writeFile(folder + "/" + name, text + "\n");
}

bool isModulePreset(const std::string &preset)
{
    return preset == "0" || preset == "1" || preset == "2" || preset == "none";
}

bool buildModulePreset(FakeSysfs &sysfs, const std::string &preset, const PresetNames &names, std::string *error)
{
    if (!isModulePreset(preset)) {
        if (error) *error = "unknown platform \"" + preset + "\" (expected 0, 1, 2 or none)";
        return false;
    }
    if (preset == "0") {
        std::string fn = sysfs.addPciFunction("pci0000:00/0000:00:1c.0/0000:01:00.0",
                                              {"0x14c3", "0x4d75", "0x14c3", "0x4d75", "0x01"});
        sysfs.addClassEntry("net", names.netName, fn);
        sysfs.addClassEntry("tty", names.ttyName, fn);
    } else {
        UsbIds ids;
        if (preset == "1") {
            ids = {"8087", "0ac9", "0001"};
        } else if (preset == "2") {
            ids = {"5e1a", "0718", "0001"};
        } else {
            ids = {"1234", "5678", "0001"};
        }
        // The host controller is a PCI function above the USB device, as on a PC.
        sysfs.addPciFunction("pci0000:00/0000:00:14.0", {"0x8086", "0xa0ed", "0x8086", "0x7270", "0x30"});
        std::string dev = sysfs.addUsbDevice("pci0000:00/0000:00:14.0/usb1/1-1", ids, 3, "KX718 5G Module");
        std::string mbim = sysfs.addUsbInterface(dev, 0, "KX718 Mobile Broadband");
        sysfs.addUsbInterface(dev, 1, "KX718 Mobile Broadband Data");
        std::string at = sysfs.addUsbInterface(dev, 2, "KX718 AT Port");
        sysfs.addClassEntry("net", names.netName, mbim);
        sysfs.addClassEntry("tty", names.ttyName, at);
    }
    sysfs.addClassEntry("net", "lo", "");
    sysfs.addClassEntry("tty", "tty0", "");
    return true;
}

}  // namespace hbrmodemsim
