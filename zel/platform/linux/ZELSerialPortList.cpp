#include "zel/platform/linux/ZELUdevSerialPorts.h"

#include <libudev.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

namespace ZELPlatform {

namespace {

namespace fs = std::filesystem;

constexpr const char* kSystemSysfs = "/sys";

std::string Property(udev_device* device, const char* name)
{
    const char* value = device != nullptr ? ::udev_device_get_property_value(device, name) : nullptr;
    return value != nullptr ? value : "";
}

std::string FirstNonEmpty(std::initializer_list<std::string> values)
{
    for (const std::string& value : values)
        if (!value.empty())
            return value;
    return {};
}

// The first line of a sysfs attribute file, without its line end; empty when there is none.
std::string ReadAttribute(const fs::path& file)
{
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    return line;
}

// The device folder of a tty in sysfs, with every link resolved; empty when it is gone.
fs::path DeviceFolder(const fs::path& sysPath)
{
    std::error_code error;
    fs::path folder = fs::canonical(sysPath, error);
    return error ? fs::path() : folder;
}

// Driver of the hardware behind a tty: the first device up the tree that has one, passing over the
// serial core's own "port" and "ctrl" devices that newer kernels put between a UART and its tty.
std::string DriverOf(const fs::path& folder, const fs::path& root)
{
    std::error_code error;
    for (fs::path device = folder.parent_path(); !device.empty() && device != root && device != device.parent_path();
         device = device.parent_path()) {
        const fs::path link = device / "driver";
        if (!fs::is_symlink(link, error))
            continue;
        const std::string driver = fs::read_symlink(link, error).filename().string();
        if (!error && driver != "port" && driver != "ctrl")
            return driver;
    }
    return {};
}

// The USB device (it has idVendor) above a tty, or nothing for a port that is not on USB.
fs::path UsbDeviceOf(const fs::path& folder, const fs::path& root)
{
    std::error_code error;
    for (fs::path device = folder.parent_path(); !device.empty() && device != root && device != device.parent_path();
         device = device.parent_path()) {
        if (fs::is_regular_file(device / "idVendor", error))
            return device;
    }
    return {};
}

// Under /devices/virtual live virtual consoles, ptmx and the like, with no hardware behind them; a
// serial-core port whose UART type is 0 has none either (the 8250 driver registers its ports
// whether or not a UART is there), nor has an 8250 port at I/O address 0.
bool HasSerialHardware(const fs::path& folder, const fs::path& root)
{
    const std::string relative = folder.lexically_relative(root).generic_string();
    if (relative.starts_with("devices/virtual/"))
        return false;
    std::error_code error;
    if (!fs::exists(folder / "device", error))
        return false;
    if (fs::exists(folder / "type", error) && ReadAttribute(folder / "type") == "0")
        return false;
    if (ReadAttribute(folder / "port") == "0x0" && DriverOf(folder, root) == "serial8250")
        return false;
    return true;
}

// What sysfs tells of the tty in `folder`: its driver and, on USB, the adapter's ids and strings.
void DescribeFromSysfs(const fs::path& folder, const fs::path& root, SerialPortInfo& info)
{
    if (folder.empty())
        return;
    info.driver = DriverOf(folder, root);
    const fs::path usb = UsbDeviceOf(folder, root);
    if (usb.empty())
        return;
    info.vendorId = ReadAttribute(usb / "idVendor");
    info.productId = ReadAttribute(usb / "idProduct");
    info.manufacturer = ReadAttribute(usb / "manufacturer");
    info.product = ReadAttribute(usb / "product");
    info.serial = ReadAttribute(usb / "serial");
}

// udev's database, where its daemon has filled it: the by-id link, and names for what sysfs lacks.
void AddUdevProperties(udev_device* device, SerialPortInfo& info)
{
    // udev's link list is separated by spaces; the by-id link names the adapter, not the plug order.
    std::istringstream links(Property(device, "DEVLINKS"));
    std::string link;
    while (info.byIdLink.empty() && links >> link)
        if (link.starts_with("/dev/serial/by-id/"))
            info.byIdLink = link;
    info.driver = FirstNonEmpty({Property(device, "ID_USB_DRIVER"), info.driver});
    info.vendorId = FirstNonEmpty({info.vendorId, Property(device, "ID_VENDOR_ID")});
    info.productId = FirstNonEmpty({info.productId, Property(device, "ID_MODEL_ID")});
    // The adapter's own descriptor strings first: udev's properties replace blanks by underscores.
    info.manufacturer = FirstNonEmpty({info.manufacturer, Property(device, "ID_VENDOR")});
    info.product = FirstNonEmpty({info.product, Property(device, "ID_MODEL")});
    info.serial = FirstNonEmpty({info.serial, Property(device, "ID_SERIAL_SHORT")});
}

// The parts made of the others; the hardware database names the maker when the adapter does not.
void Complete(udev_device* device, SerialPortInfo& info)
{
    if (!info.vendorId.empty() && !info.productId.empty())
        info.usbId = info.vendorId + ":" + info.productId;
    const std::string vendor = FirstNonEmpty({Property(device, "ID_VENDOR_FROM_DATABASE"), info.manufacturer});
    const std::string model = FirstNonEmpty({Property(device, "ID_MODEL_FROM_DATABASE"), info.product});
    info.description = vendor;
    if (!model.empty())
        info.description += (info.description.empty() ? "" : " ") + model;
    if (info.description.empty())
        info.description = info.driver;
}

// The node name udev gives the tty (DEVNAME of its uevent), or its own name.
std::string NodeName(const fs::path& folder)
{
    std::ifstream uevent(folder / "uevent");
    std::string line;
    while (std::getline(uevent, line))
        if (line.starts_with("DEVNAME="))
            return line.substr(8);
    return folder.filename().string();
}

} // namespace

bool IsSerialPortDevice(udev_device* device)
{
    if (device == nullptr || ::udev_device_get_devnode(device) == nullptr)
        return false;
    const char* devpath = ::udev_device_get_devpath(device);
    if (devpath != nullptr && std::strncmp(devpath, "/devices/virtual/", 17) == 0)
        return false;
    // A removed device has nothing left in sysfs to look at; it passes.
    const char* action = ::udev_device_get_action(device);
    if (action != nullptr && std::strcmp(action, "remove") == 0)
        return true;
    const char* syspath = ::udev_device_get_syspath(device);
    return syspath != nullptr && HasSerialHardware(DeviceFolder(syspath), kSystemSysfs);
}

SerialPortInfo DescribeSerialPort(udev_device* device)
{
    SerialPortInfo info;
    info.path = ::udev_device_get_devnode(device);
    info.name = ::udev_device_get_sysname(device);
    if (const char* syspath = ::udev_device_get_syspath(device))
        DescribeFromSysfs(DeviceFolder(syspath), kSystemSysfs, info);
    AddUdevProperties(device, info);
    Complete(device, info);
    return info;
}

std::vector<SerialPortInfo> ListSerialPorts()
{
    return ListSerialPorts(kSystemSysfs);
}

std::vector<SerialPortInfo> ListSerialPorts(const std::string& sysfsRoot)
{
    std::vector<SerialPortInfo> ports;
    std::error_code error;
    const fs::path root = DeviceFolder(sysfsRoot);
    if (root.empty())
        return ports;
    // udev only knows the machine's own tree.
    const bool ownTree = root == fs::path(kSystemSysfs);
    std::unique_ptr<udev, decltype(&::udev_unref)> context(ownTree ? ::udev_new() : nullptr, &::udev_unref);
    for (const fs::directory_entry& entry : fs::directory_iterator(root / "class" / "tty", error)) {
        const fs::path folder = DeviceFolder(entry.path());
        if (folder.empty() || !HasSerialHardware(folder, root))
            continue;
        SerialPortInfo info;
        info.name = entry.path().filename().string();
        info.path = "/dev/" + NodeName(folder);
        DescribeFromSysfs(folder, root, info);
        std::unique_ptr<udev_device, decltype(&::udev_device_unref)> device(
            context ? ::udev_device_new_from_syspath(context.get(), folder.c_str()) : nullptr, &::udev_device_unref);
        if (device) {
            if (const char* node = ::udev_device_get_devnode(device.get()))
                info.path = node;
            AddUdevProperties(device.get(), info);
        }
        Complete(device.get(), info);
        ports.push_back(std::move(info));
    }
    std::sort(ports.begin(), ports.end(), [](const SerialPortInfo& a, const SerialPortInfo& b) { return a.path < b.path; });
    return ports;
}

} // namespace ZELPlatform
