#include "zel/platform/ZELSerialPortList.h"

#include <libudev.h>

#include <algorithm>
#include <memory>

namespace ZELPlatform {

namespace {

std::string Property(udev_device* device, const char* name)
{
    const char* value = ::udev_device_get_property_value(device, name);
    return value != nullptr ? value : "";
}

std::string Attribute(udev_device* device, const char* name)
{
    const char* value = ::udev_device_get_sysattr_value(device, name);
    return value != nullptr ? value : "";
}

} // namespace

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
        if (!device)
            continue;
        const char* node = ::udev_device_get_devnode(device.get());
        udev_device* parent = ::udev_device_get_parent(device.get());
        if (node == nullptr || parent == nullptr)
            continue; // virtual consoles and the like have no parent device
        const char* driver = ::udev_device_get_driver(parent);
        const std::string driverName = driver != nullptr ? driver : "";
        // The 8250 driver registers ports whether or not a UART is there; only those with a
        // real I/O port behind them count.
        if (driverName == "serial8250" && Attribute(device.get(), "port") == "0x0")
            continue;

        SerialPortInfo info;
        info.path = node;
        info.name = ::udev_device_get_sysname(device.get());
        const std::string vendor = Property(device.get(), "ID_VENDOR_FROM_DATABASE");
        const std::string model = Property(device.get(), "ID_MODEL_FROM_DATABASE");
        const std::string vendorId = Property(device.get(), "ID_VENDOR_ID");
        const std::string modelId = Property(device.get(), "ID_MODEL_ID");
        if (!vendorId.empty() && !modelId.empty())
            info.usbId = vendorId + ":" + modelId;
        info.serial = Property(device.get(), "ID_SERIAL_SHORT");
        info.description = vendor.empty() ? Property(device.get(), "ID_VENDOR") : vendor;
        const std::string product = model.empty() ? Property(device.get(), "ID_MODEL") : model;
        if (!product.empty())
            info.description += (info.description.empty() ? "" : " ") + product;
        if (info.description.empty())
            info.description = driverName;
        ports.push_back(std::move(info));
    }
    std::sort(ports.begin(), ports.end(), [](const SerialPortInfo& a, const SerialPortInfo& b) { return a.path < b.path; });
    return ports;
}

} // namespace ZELPlatform
