#include "app/core/CSerialPortLink.h"

#include "zel/serial/CZELSerialPort.h"

long CSerialPortLink::InitializeReceivingThread() { return GetZELSerialPort().InitializeReceivingThread(); }
long CSerialPortLink::TerminateReceivingThread() { return GetZELSerialPort().TerminateReceivingThread(); }
bool CSerialPortLink::IsReceivingThreadRunning() const { return GetZELSerialPort().IsRunning(); }

long CSerialPortLink::SendCommand(std::uint8_t* packet, std::uint32_t length)
{
    return GetZELSerialPort().SendCommand(packet, length);
}

long CSerialPortLink::SetProtocol(std::uint16_t protocol) { return GetZELSerialPort().SetProtocol(protocol); }
std::uint16_t CSerialPortLink::GetProtocol() const { return GetZELSerialPort().GetProtocol(); }

long CSerialPortLink::SetSerialPortSettings(const std::string& portName, long baudRateId)
{
    return GetZELSerialPort().SetSerialPortSettings(portName, baudRateId);
}

std::string CSerialPortLink::GetCOMPort() const { return GetZELSerialPort().GetCOMPort(); }
long CSerialPortLink::GetBaudRateAsID() const { return GetZELSerialPort().GetBaudRateAsID(); }
std::string CSerialPortLink::GetLastOpenErrorText() const { return GetZELSerialPort().GetLastOpenErrorText(); }

std::chrono::milliseconds CSerialPortLink::GetPortGoneFor() const
{
    return GetZELSerialPort().GoneFor();
}
