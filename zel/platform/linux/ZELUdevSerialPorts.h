#pragma once

#include "zel/platform/ZELSerialPortList.h"

#include <string>
#include <vector>

struct udev_device;

// On Linux what a port is comes from sysfs, so the list is complete without a udev daemon; udev's
// database adds the by-id link and the names of its hardware database where it has them. The
// 8250 driver's /dev/ttyS* stubs, which report no UART type, are left out.
namespace ZELPlatform {

// The same from the sysfs tree under `sysfsRoot` (normally "/sys"); udev adds to it only for the
// machine's own tree.
std::vector<SerialPortInfo> ListSerialPorts(const std::string& sysfsRoot);

// Whether a tty device of udev is a serial port (not a virtual console or a UART stub), and what is
// known of it. Shared by the listing and the hot-plug monitor.
bool IsSerialPortDevice(udev_device* device);
SerialPortInfo DescribeSerialPort(udev_device* device);

} // namespace ZELPlatform
