#include "zel/platform/ZELSerialPortList.h"

#include <libudev.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <sstream>

namespace ZELPlatform {

namespace {

std::string Property(udev_device* device, const char* name)
{
    const char* value = ::udev_device_get_property_value(device, name);
    return value != nullptr ? value : "";
}

std::string Attribute(udev_device* device, const char* name)
{
    const char* value = device != nullptr ? ::udev_device_get_sysattr_value(device, name) : nullptr;
    return value != nullptr ? value : "";
}

std::string FirstNonEmpty(std::initializer_list<std::string> values)
{
    for (const std::string& value : values)
        if (!value.empty())
            return value;
    return {};
}

// udev's link list is separated by spaces; the by-id link names the adapter, not the plug order.
std::string ByIdLink(udev_device* device)
{
    std::istringstream links(Property(device, "DEVLINKS"));
    std::string link;
    while (links >> link)
        if (link.rfind("/dev/serial/by-id/", 0) == 0)
            return link;
    return {};
}

std::string DriverOf(udev_device* device)
{
    const std::string own = Property(device, "ID_USB_DRIVER");
    if (!own.empty())
        return own;
    // Newer kernels put the serial core's own "port" and "ctrl" devices between a UART and its tty.
    for (udev_device* parent = ::udev_device_get_parent(device); parent != nullptr;
         parent = ::udev_device_get_parent(parent)) {
        const char* driver = ::udev_device_get_driver(parent);
        if (driver != nullptr && std::strcmp(driver, "port") != 0 && std::strcmp(driver, "ctrl") != 0)
            return driver;
    }
    return {};
}

} // namespace

bool IsSerialPortDevice(udev_device* device)
{
    if (device == nullptr || ::udev_device_get_devnode(device) == nullptr)
        return false;
    // Virtual consoles, ptmx and the like live under /devices/virtual and have no hardware behind them.
    const char* devpath = ::udev_device_get_devpath(device);
    if (devpath != nullptr && std::strncmp(devpath, "/devices/virtual/", 17) == 0)
        return false;
    // The 8250 driver registers ports whether or not a UART is there; only those with a real I/O
    // port behind them count. (A removed device has no attributes left to read; it passes.)
    const char* action = ::udev_device_get_action(device);
    const bool removed = action != nullptr && std::strcmp(action, "remove") == 0;
    if (!removed && DriverOf(device) == "serial8250" && Attribute(device, "port") == "0x0")
        return false;
    return true;
}

SerialPortInfo DescribeSerialPort(udev_device* device)
{
    SerialPortInfo info;
    info.path = ::udev_device_get_devnode(device);
    info.name = ::udev_device_get_sysname(device);
    info.byIdLink = ByIdLink(device);
    info.driver = DriverOf(device);
    info.vendorId = Property(device, "ID_VENDOR_ID");
    info.productId = Property(device, "ID_MODEL_ID");
    if (!info.vendorId.empty() && !info.productId.empty())
        info.usbId = info.vendorId + ":" + info.productId;
    // The USB device's own descriptor strings; udev's properties are the fallback (they replace
    // blanks by underscores), and its hardware database names the maker when the adapter does not.
    udev_device* usb = ::udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_device");
    info.manufacturer = FirstNonEmpty({Attribute(usb, "manufacturer"), Property(device, "ID_VENDOR")});
    info.product = FirstNonEmpty({Attribute(usb, "product"), Property(device, "ID_MODEL")});
    info.serial = FirstNonEmpty({Attribute(usb, "serial"), Property(device, "ID_SERIAL_SHORT")});
    const std::string vendor = FirstNonEmpty({Property(device, "ID_VENDOR_FROM_DATABASE"), info.manufacturer});
    const std::string model = FirstNonEmpty({Property(device, "ID_MODEL_FROM_DATABASE"), info.product});
    info.description = vendor;
    if (!model.empty())
        info.description += (info.description.empty() ? "" : " ") + model;
    if (info.description.empty())
        info.description = info.driver;
    return info;
}

std::vector<SerialPortInfo> ListSerialPorts()
{
    std::vector<SerialPortInfo> ports;
    std::unique_ptr<udev, decltype(&::udev_unref)> context(::udev_new(), &::udev_unref);
    if (!context)
        return ports;
    std::unique_ptr<udev_enumerate, decltype(&::udev_enumerate_unref)> enumerate(
        ::udev_enumerate_new(context.get()), &::udev_enumerate_unref);
    ::udev_enumerate_add_match_subsystem(enumerate.get(), "tty");
    ::udev_enumerate_scan_devices(enumerate.get());

    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, ::udev_enumerate_get_list_entry(enumerate.get()))
    {
        std::unique_ptr<udev_device, decltype(&::udev_device_unref)> device(
            ::udev_device_new_from_syspath(context.get(), ::udev_list_entry_get_name(entry)), &::udev_device_unref);
        if (!device || ::udev_device_get_parent(device.get()) == nullptr || !IsSerialPortDevice(device.get()))
            continue;
        ports.push_back(DescribeSerialPort(device.get()));
    }
    std::sort(ports.begin(), ports.end(), [](const SerialPortInfo& a, const SerialPortInfo& b) { return a.path < b.path; });
    return ports;
}

} // namespace ZELPlatform
