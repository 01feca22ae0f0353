#pragma once

#include <string>
#include <vector>

namespace ZELPlatform {

struct SerialPortInfo
{
    std::string path;        // /dev/ttyUSB0
    std::string name;        // ttyUSB0
    std::string description; // maker and product of a USB adapter, or the driver's name
    std::string usbId;       // "vvvv:pppp" for USB adapters, empty otherwise
    std::string serial;      // the adapter's serial number, when it has one
};

// The serial ports of this machine, sorted by path. Platform ports without hardware behind them
// (the 32 /dev/ttyS* stubs of the 8250 driver) are left out.
std::vector<SerialPortInfo> ListSerialPorts();

} // namespace ZELPlatform
