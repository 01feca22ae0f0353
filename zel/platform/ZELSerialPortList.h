#pragma once

#include <string>
#include <vector>

namespace ZELPlatform {

struct SerialPortInfo
{
    std::string path;         // /dev/ttyUSB0; on Windows the port name, COM3
    std::string name;         // ttyUSB0, COM3
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

// The serial ports of this machine, sorted by path (on Windows by port number, COM2 before COM10);
// ports without hardware behind them are left out.
std::vector<SerialPortInfo> ListSerialPorts();
} // namespace ZELPlatform
