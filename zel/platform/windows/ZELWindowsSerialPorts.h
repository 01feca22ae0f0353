#pragma once

#include "zel/platform/ZELSerialPortList.h"

#include <string>
#include <vector>

// On Windows the ports come from the device manager's list (SetupAPI: the Ports and Modem classes and
// the COM port interface), and from the registry's list of active ports (HARDWARE\DEVICEMAP\SERIALCOMM)
// for ports that no device-manager entry names, such as those of some virtual drivers. Wine shows only
// the registry's list. A port's path is its COM name as the operator types it.
namespace ZELPlatform {

// The USB vendor and product ids a hardware or instance id names ("USB\VID_0403&PID_6001&REV_0600",
// "FTDIBUS\VID_0403+PID_6001+A5XK3RJTA\0000"), in lower case, with usbId made of both; nothing is
// set when the id names none.
void ParseUsbIds(const std::string& deviceId, SerialPortInfo& info);

// The serial number in a USB device's instance id ("USB\VID_0403&PID_6001\A5XK3RJT"); empty for an
// interface of a composite device and for an id Windows made up itself (it holds a '&').
std::string UsbSerialNumberOf(const std::string& instanceId);

// The number of a port name "COMn" (any case), 0 for any other name.
unsigned int ComPortNumber(const std::string& name);

// By COM number (COM2 before COM10); other names after them, by name.
void SortSerialPorts(std::vector<SerialPortInfo>& ports);

// The description of a friendly name: the device manager's "USB Serial Port (COM3)" without its port.
std::string WithoutPortSuffix(const std::string& friendlyName, const std::string& portName);

} // namespace ZELPlatform
