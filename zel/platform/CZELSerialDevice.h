#pragma once

#include "zel/platform/CZELDeadline.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// A serial device (or pseudo-terminal) opened exclusively in raw mode. All waits are bounded by a
// deadline; a read wait can be cut short from another thread with Wake(), any wait with
// Interrupt(). Results carry the errno of a failure; nothing is logged here.
class CZELSerialDevice
{
public:
    enum class Parity
    {
        None,
        Even,
    };

    // Outcome of a read or write wait.
    enum class IoResult
    {
        Done,     // data moved (the count tells how much)
        TimedOut, // the deadline passed first
        Woken,    // Wake() (a read) or Interrupt() (any wait) was called
        Gone,     // the device disappeared (hang-up, EIO, ENXIO): reopen to continue
        Closed,   // the device is not open
        Failed,   // any other error; LastError() tells which
    };

    // The step of Open that failed, so a caller can name what went wrong.
    enum class OpenStep
    {
        None,
        Open,          // the device node could not be opened
        Lock,          // another program holds the port
        ReadSettings,  // the line settings could not be read
        WriteSettings, // the line settings or modem lines could not be set
    };

    CZELSerialDevice();
    CZELSerialDevice(const CZELSerialDevice&) = delete;
    CZELSerialDevice& operator=(const CZELSerialDevice&) = delete;
    ~CZELSerialDevice();

    // The device path of a port name: on Linux "COM3" -> /dev/ttyS2, a name with a slash is a path,
    // any other bare name is looked up in /dev; on Windows "COM3" -> \\.\COM3.
    static std::string ResolvePortName(const std::string& name);
    // A sentence for an operator on why Open(`path`) failed with `error`: for EACCES the group that
    // owns the node (the user must be a member, e.g. of dialout), for EBUSY that another program
    // or another part of this one holds the port, for ENOENT that the port is missing.
    static std::string DescribeOpenError(const std::string& path, int error);
    // True for the rates the line can be set to.
    static bool IsSupportedBaudRate(unsigned int baud);

    // Opens `path` exclusively (a second program gets EBUSY), raw, 8 data bits, the given parity,
    // one stop bit, no flow control, DTR and RTS cleared. Returns 0 or the errno of the step that
    // failed; LastSystemError() keeps the operating system's own code of it.
    int Open(const std::string& path, unsigned int baud, Parity parity);
    void Close();

    // Opens the controlling side of a new pseudo-terminal in raw mode and returns the path of the
    // other side, which programs open as their serial port. A simulated device talks through this.
    // ENOSYS where the platform has no pseudo-terminals.
    int OpenPseudoTerminal(std::string& peerPath);
    bool IsOpen() const;
    // The rate the line is set to, for a pseudo-terminal the rate its other side set; 0 when the
    // rate cannot be read or is not one of the supported rates.
    unsigned int LineBaudRate() const;
    const std::string& Path() const { return m_path; }

    // Reads what has arrived, up to `size` bytes, waiting until at least one byte is there.
    IoResult Read(std::uint8_t* buffer, std::size_t size, std::size_t& received, const CZELDeadline& deadline);
    // Writes every byte, waiting while the driver's queue is full. Only Interrupt() ends it early:
    // a Wake() meant for the next read never cuts a packet short.
    IoResult Write(const std::uint8_t* data, std::size_t size, std::size_t& written, const CZELDeadline& deadline);
    // Drops whatever is queued in both directions.
    void Flush();
    // Waits until every written byte has left.
    void Drain();

    // Ends a read wait in progress on another thread (or the next one, once) with IoResult::Woken.
    void Wake();
    // Ends any wait, read or write, in progress (or the next one, once) with IoResult::Woken: for
    // a stop or for taking the line away from a writer.
    void Interrupt();
    // Drops an Interrupt() that no wait has taken, once its caller has what it interrupted for.
    void ForgetInterrupt();

    // The failure as an errno value, the same on every platform.
    int LastError() const { return m_lastError; }
    // The failure as the operating system gave it (errno on Linux, GetLastError() on Windows).
    int LastSystemError() const { return m_lastSystemError; }
    OpenStep LastOpenStep() const { return m_openStep; }

    struct Native; // the platform's handles, defined by each platform's implementation

private:
    std::unique_ptr<Native> m_native;
    int m_lastError = 0;
    int m_lastSystemError = 0;
    OpenStep m_openStep = OpenStep::None;
    std::string m_path;
};
