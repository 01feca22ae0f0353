#pragma once

#include "zel/log/CZELSystemLogEx.h"
#include "zel/platform/CZELRecursiveMutex.h"
#include "zel/platform/CZELSerialDevice.h"
#include "zel/platform/IZELHotPlugMonitor.h"
#include "zel/serial/CZELPacketFramer.h"
#include "zel/serial/ZELProtocol.h"
#include "zel/threads/CZELMonitoredThread.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

// Serial-traffic record published for every packet received (0x10000003) or sent (0x10000004):
// 4 bytes port identity, 16 bytes UTC time (SYSTEMTIME), then the packet.
inline constexpr std::size_t ZEL_SERIAL_RECORD_HEAD_SIZE = 20;
// The attach (0x10000001) and detach (0x10000002) records carry the same head; a detach adds a
// signed 32-bit reason at offset 20. After the fixed part both carry the device node's path
// (NUL-terminated), which readers of the fixed part may ignore.
inline constexpr std::size_t ZEL_SERIAL_DETACH_REASON_OFFSET = 20;
inline constexpr std::int32_t ZEL_SERIAL_DETACH_REASON_REMOVED = 1;     // a serial device left the machine
inline constexpr std::int32_t ZEL_SERIAL_DETACH_REASON_PORT_DEVICE = 2; // the device of this port left

// Longest packet the send slot holds.
inline constexpr std::size_t ZEL_SERIAL_SEND_BUFFER_SIZE = 512;

// The library's link to the device: one port and one monitored receive thread that does all reads
// and writes on it. Callers hand a finished packet to SendCommand or SendRawCommand; the thread
// writes it at once. Every packet the framer accepts and every packet written is published on the
// process-wide message queue.
class CZELSerialPort
{
public:
    struct Statistics
    {
        std::uint32_t sentBytes = 0;
        std::uint32_t sentPackets = 0;
        std::uint32_t receivedBytes = 0;
        std::uint32_t receivedPackets = 0;
        std::uint32_t invalidStartDelimiter = 0; // ISD
        std::uint32_t invalidHeaderChecksum = 0; // IHCS
        std::uint32_t invalidPayloadChecksum = 0; // IPCS
        std::uint32_t timeout = 0;
        std::uint32_t tooLong = 0;
    };

    CZELSerialPort();
    CZELSerialPort(const CZELSerialPort&) = delete;
    CZELSerialPort& operator=(const CZELSerialPort&) = delete;
    // Stops the receive thread and the hot-plug monitor.
    virtual ~CZELSerialPort();

    // Stores the name, then the id; an id outside 0..10 gives ZEL_STATUS_INVALID_PARAMETER (the name
    // is stored all the same).
    long SetSerialPortSettings(const std::string& portName, long baudRateId);
    long GetSerialPortSettings(std::string* portName, long* baudRateId) const;
    long SetCOMPort(const std::string& portName);
    std::string GetCOMPort(std::string* portName = nullptr) const;
    long SetBaudRateAsID(long baudRateId);
    long GetBaudRateAsID(long* baudRateId = nullptr) const;
    // 4800 for an id outside the table.
    long GetBaudRate() const;
    static long BaudRateOfID(long baudRateId);
    // Takes effect with the next byte the thread frames.
    long SetProtocol(std::uint16_t protocol);
    std::uint16_t GetProtocol(std::uint16_t* protocol = nullptr) const;

    // 0, or -1 on any failure (logged with `report`). Without `report` and without a running thread
    // nothing is done.
    long OpenSerialPort(bool report);
    // Closes the port. A running receive thread then ends by itself; this returns after its end.
    long CloseSerialPort(bool unused = false);
    // ZEL_STATUS_BUSY while the thread runs; -1 when the port does not open.
    long InitializeReceivingThread();
    long TerminateReceivingThread();
    bool IsRunning() const;
    // How long the receiving thread has found its device gone (unplugged, cable pulled) without
    // opening it again; zero while it is there.
    std::chrono::milliseconds GoneFor() const;

    // Fills in the checksums (by the first byte) in the caller's buffer, then queues the packet.
    // ZEL_STATUS_BUSY without a thread or when the slot stays taken for the time table's wait;
    // ZEL_STATUS_INVALID_PARAMETER for an empty packet or one over 512 bytes; ZEL_STATUS_WRONG_LENGTH
    // when the header announces more bytes than given.
    long SendCommand(std::uint8_t* packet, std::uint32_t length);
    long SendRawCommand(const std::uint8_t* packet, std::uint32_t length);
    // ZEL_STATUS_SUCCESS once no packet is pending, ZEL_STATUS_TIMEOUT when the time is up.
    long WaitWhileBusy(std::uint32_t milliseconds);

    long SetDumpMode(std::uint32_t mode);
    std::uint32_t GetDumpMode() const { return m_dumpMode.load(); }

    Statistics GetStatistics() const;
    // The identity carried at offset 0 of this port's records.
    std::uint32_t GetIdentity() const;
    // errno of the last failed open (0 after a success) and a sentence for an operator about it.
    int GetLastOpenError() const;
    std::string GetLastOpenErrorText() const;

    // Publishes 0x10000001 and 0x10000002 records while it runs. InitializeReceivingThread starts it
    // and TerminateReceivingThread stops it; a host may run it on its own as well.
    long StartHotPlugMonitor();
    long StopHotPlugMonitor();
    // Replaces the machine's monitor (a host or a test with its own source of events).
    void SetHotPlugMonitor(std::unique_ptr<IZELHotPlugMonitor> monitor);

    long RunSerialPortThread();

private:
    friend class CZELSerialPortIoAccess;

    long AddOutput(const std::string& message, _ZELSystemLogExEventType type);
    long InitializeSerialPortStatus();
    // Opens and configures under the I/O lock; logs failures with `report`.
    long OpenLocked(bool report);
    // Raw packets are never written to (`fillChecksums` false).
    long QueuePacket(std::uint8_t* packet, std::uint32_t length, bool fillChecksums);
    void TransmitPending();
    void Publish(std::uint32_t type, const std::uint8_t* packet, std::size_t length);
    void PublishDeviceEvent(const ZELSerialDeviceEvent& event);
    void LogStatisticsLine();
    void LogRadioStatistics(const std::uint8_t* bytes);
    std::chrono::steady_clock::time_point NextWakeUp(std::chrono::steady_clock::time_point now) const;
    std::size_t ReadRadioStatisticsBurst(std::uint8_t* buffer, std::size_t received, std::size_t size);
    void DiscardPending();

    // Settings (any thread).
    mutable std::mutex m_settingsLock;
    std::string m_portName = "COM1";
    long m_baudRateId = 6;
    std::atomic<std::uint16_t> m_protocol{ZEL_PROTOCOL_CCPU};
    std::atomic<std::uint32_t> m_dumpMode{0};
    std::string m_openPath; // the node actually opened, for telling its detach from others
    int m_lastOpenError = 0;
    std::string m_lastOpenErrorText;

    // The device; the receive thread holds this lock for a whole cycle, others for an open or close.
    CZELRecursiveMutex m_ioLock;
    // Other threads that want the I/O lock; the receive thread lets them in before its next cycle.
    std::mutex m_gateLock;
    std::condition_variable m_gateOpen;
    int m_ioWaiters = 0;
    CZELSerialDevice m_device;
    std::atomic<bool> m_closeRequested{false};
    // Steady-clock ticks of when the device went away; 0 while it is there.
    std::atomic<std::int64_t> m_goneSince{0};
    CZELMonitoredThread m_thread;

    // The one pending packet, handed over under m_sendLock.
    std::mutex m_sendLock;
    std::condition_variable m_sendDone;
    std::array<std::uint8_t, ZEL_SERIAL_SEND_BUFFER_SIZE> m_sendBuffer{};
    std::uint32_t m_sendLength = 0; // non-zero: a packet is pending

    // Framer and counters: written by the receive thread, read under m_statisticsLock.
    mutable std::mutex m_statisticsLock;
    CZELPacketFramer m_framer;
    std::uint32_t m_sentBytes = 0;
    std::uint32_t m_sentPackets = 0;
    std::uint32_t m_receivedBytes = 0;
    std::chrono::steady_clock::time_point m_lastStatusTime{};
    std::chrono::steady_clock::time_point m_lastDataTime{};

    std::mutex m_hotPlugLock;
    std::unique_ptr<IZELHotPlugMonitor> m_hotPlug;
};

CZELSerialPort& GetZELSerialPort();
