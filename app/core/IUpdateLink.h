#pragma once

#include <chrono>
#include <cstdint>
#include <string>

// The update program's view of the serial link: the receive thread, sending a packet and the framing
// in use. Answers come back as 0x10000003 records on the process-wide message queue.
class IUpdateLink
{
public:
    virtual ~IUpdateLink() = default;

    // ZEL_STATUS_BUSY while the thread runs; negative when the port cannot be opened.
    virtual long InitializeReceivingThread() = 0;
    virtual long TerminateReceivingThread() = 0;
    virtual bool IsReceivingThreadRunning() const = 0;
    // Fills in the checksums and the sequence number in `packet`, then sends it.
    virtual long SendCommand(std::uint8_t* packet, std::uint32_t length) = 0;
    // Takes effect with the next byte received; an unknown id is refused and the old one stays.
    virtual long SetProtocol(std::uint16_t protocol) = 0;
    virtual std::uint16_t GetProtocol() const = 0;

    // Port settings as the program's settings give them.
    virtual long SetSerialPortSettings(const std::string& portName, long baudRateId) = 0;
    virtual std::string GetCOMPort() const = 0;
    virtual long GetBaudRateAsID() const = 0;
    // Why the last open failed, for an operator (empty when unknown).
    virtual std::string GetLastOpenErrorText() const = 0;
    // How long the port has been gone (adapter unplugged, cable pulled) while the receiving thread
    // waits for it to come back; zero while it is there.
    virtual std::chrono::milliseconds GetPortGoneFor() const { return std::chrono::milliseconds(0); }
};
