#pragma once

#include <string>
#include <vector>

struct udev_device;

namespace ZELPlatform {

struct SerialPortInfo
{
    std::string path;         // /dev/ttyUSB0
    std::string name;         // ttyUSB0
    std::string byIdLink;     // /dev/serial/by-id/..., stable across re-plugging; empty when there is none
    std::string description;  // maker and product of a USB adapter, or the driver's name
    std::string driver;       // kernel driver of the port (ftdi_sio, cdc_acm, serial8250, ...)
    std::string usbId;        // "vvvv:pppp" for USB adapters, empty otherwise
    std::string vendorId;     // "vvvv"
    std::string productId;    // "pppp"
    std::string manufacturer; // the adapter's own strings, as its USB descriptors give them
    std::string product;
    std::string serial;       // the adapter's serial number, when it has one
};

// The serial ports of this machine, sorted by path. Platform ports without hardware behind them
// (the /dev/ttyS* stubs of the 8250 driver, which report no UART type) are left out. What a port is
// comes from sysfs, so the list is complete without a udev daemon; udev's database adds the by-id
// link and the names of its hardware database where it has them.
std::vector<SerialPortInfo> ListSerialPorts();
// The same from the sysfs tree under `sysfsRoot` (normally "/sys"); udev adds to it only for the
// machine's own tree.
std::vector<SerialPortInfo> ListSerialPorts(const std::string& sysfsRoot);

// Whether a tty device of udev is a serial port (not a virtual console or a UART stub), and what is
// known of it. Shared by the listing and the hot-plug monitor.
bool IsSerialPortDevice(udev_device* device);
SerialPortInfo DescribeSerialPort(udev_device* device);

} // namespace ZELPlatform
