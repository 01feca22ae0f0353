#pragma once

#include "app/core/IUpdateLink.h"

// The update program's link over the library's serial port (GetZELSerialPort()).
class CSerialPortLink : public IUpdateLink
{
public:
    long InitializeReceivingThread() override;
    long TerminateReceivingThread() override;
    bool IsReceivingThreadRunning() const override;
    long SendCommand(std::uint8_t* packet, std::uint32_t length) override;
    long SetProtocol(std::uint16_t protocol) override;
    std::uint16_t GetProtocol() const override;
    long SetSerialPortSettings(const std::string& portName, long baudRateId) override;
    std::string GetCOMPort() const override;
    long GetBaudRateAsID() const override;
    std::string GetLastOpenErrorText() const override;
    std::chrono::milliseconds GetPortGoneFor() const override;
};
