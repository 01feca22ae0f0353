#include "zel/serial/CZELSerialPort.h"

#include "zel/commands/CZELCommandSet.h"
#include "zel/foundation/CZELLanguage.h"
#include "zel/foundation/CZELTimeTable.h"
#include "zel/foundation/ZELStatus.h"
#include "zel/platform/ZELSystemTime.h"
#include "zel/queue/CZELMessage.h"
#include "zel/queue/CZELMessageQueue.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr long kTextOpenFailed = 1;
constexpr long kTextReadConfigurationFailed = 2;
constexpr long kTextWriteConfigurationFailed = 3;
constexpr long kTextThreadInitialized = 7;
constexpr long kTextThreadTerminated = 9;

constexpr long kBaudRates[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600};
constexpr long kBaudRateIdCount = static_cast<long>(std::size(kBaudRates));
constexpr long kUnknownBaudRate = 4800;

constexpr std::size_t kReadBufferSize = 256;
constexpr std::size_t kRadioStatisticsSize = 40;

long SerialPortThreadMain(void* data) { return static_cast<CZELSerialPort*>(data)->RunSerialPortThread(); }

void PutLittleEndian(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// Port identity and the current UTC time: the head of every record this class publishes.
std::vector<std::uint8_t> RecordHead(std::uint32_t identity, std::size_t reserve)
{
    std::vector<std::uint8_t> record;
    record.reserve(ZEL_SERIAL_RECORD_HEAD_SIZE + reserve);
    PutLittleEndian(record, identity, 4);
    SYSTEMTIME now;
    ZELPlatform::GetSystemTime(now);
    for (const std::uint16_t field :
        {now.wYear, now.wMonth, now.wDayOfWeek, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds})
        PutLittleEndian(record, field, 2);
    return record;
}

CZELDeadline DeadlineAt(Clock::time_point when)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(when - Clock::now());
    return CZELDeadline(std::max(left, std::chrono::milliseconds::zero()));
}

} // namespace

// The I/O lock for a thread other than the receive thread: the receive thread, which holds the lock
// while it waits for data or for a write to go out, is interrupted and lets the caller in before its
// next cycle. The caller takes the line away, so a write it cuts short counts as failed.
class CZELSerialPortIoAccess
{
public:
    explicit CZELSerialPortIoAccess(CZELSerialPort& port)
        : m_port(port)
    {
        {
            std::lock_guard gate(m_port.m_gateLock);
            ++m_port.m_ioWaiters;
        }
        m_port.m_device.Interrupt();
        m_port.m_ioLock.lock();
        // Left over, the interrupt would cut the receive thread's next write short.
        m_port.m_device.ForgetInterrupt();
    }
    ~CZELSerialPortIoAccess()
    {
        m_port.m_ioLock.unlock();
        {
            std::lock_guard gate(m_port.m_gateLock);
            --m_port.m_ioWaiters;
        }
        m_port.m_gateOpen.notify_all();
    }
    CZELSerialPortIoAccess(const CZELSerialPortIoAccess&) = delete;
    CZELSerialPortIoAccess& operator=(const CZELSerialPortIoAccess&) = delete;

private:
    CZELSerialPort& m_port;
};

CZELSerialPort::CZELSerialPort()
{
    m_framer.SetCallback([this](const std::uint8_t* packet, std::size_t length) {
        Publish(ZEL_MESSAGE_SERIAL_DATA_RECEIVED, packet, length);
    });
}

CZELSerialPort::~CZELSerialPort()
{
    TerminateReceivingThread();
    StopHotPlugMonitor();
}

long CZELSerialPort::AddOutput(const std::string& message, _ZELSystemLogExEventType type)
{
    return GetZELSystemLogEx().AddOutput(message, type, GetCOMPort(), "CZELSerialPort", "");
}

// Settings

long CZELSerialPort::SetSerialPortSettings(const std::string& portName, long baudRateId)
{
    SetCOMPort(portName);
    return SetBaudRateAsID(baudRateId);
}

long CZELSerialPort::GetSerialPortSettings(std::string* portName, long* baudRateId) const
{
    std::lock_guard lock(m_settingsLock);
    if (portName != nullptr)
        *portName = m_portName;
    if (baudRateId != nullptr)
        *baudRateId = m_baudRateId;
    return ZEL_STATUS_SUCCESS;
}

long CZELSerialPort::SetCOMPort(const std::string& portName)
{
    std::lock_guard lock(m_settingsLock);
    m_portName = portName;
    return ZEL_STATUS_SUCCESS;
}

std::string CZELSerialPort::GetCOMPort(std::string* portName) const
{
    std::lock_guard lock(m_settingsLock);
    if (portName != nullptr)
        *portName = m_portName;
    return m_portName;
}

long CZELSerialPort::SetBaudRateAsID(long baudRateId)
{
    if (baudRateId < 0 || baudRateId >= kBaudRateIdCount)
        return ZEL_STATUS_INVALID_PARAMETER;
    std::lock_guard lock(m_settingsLock);
    m_baudRateId = baudRateId;
    return ZEL_STATUS_SUCCESS;
}

long CZELSerialPort::GetBaudRateAsID(long* baudRateId) const
{
    std::lock_guard lock(m_settingsLock);
    if (baudRateId != nullptr)
        *baudRateId = m_baudRateId;
    return m_baudRateId;
}

long CZELSerialPort::BaudRateOfID(long baudRateId)
{
    return baudRateId >= 0 && baudRateId < kBaudRateIdCount ? kBaudRates[baudRateId] : kUnknownBaudRate;
}

long CZELSerialPort::GetBaudRate() const { return BaudRateOfID(GetBaudRateAsID()); }

long CZELSerialPort::SetProtocol(std::uint16_t protocol)
{
    if (!ZELIsKnownProtocol(protocol))
        return ZEL_STATUS_INVALID_PARAMETER;
    m_protocol = protocol;
    return ZEL_STATUS_SUCCESS;
}

std::uint16_t CZELSerialPort::GetProtocol(std::uint16_t* protocol) const
{
    const std::uint16_t value = m_protocol.load();
    if (protocol != nullptr)
        *protocol = value;
    return value;
}

long CZELSerialPort::SetDumpMode(std::uint32_t mode)
{
    m_dumpMode = mode;
    return ZEL_STATUS_SUCCESS;
}

CZELSerialPort::Statistics CZELSerialPort::GetStatistics() const
{
    std::lock_guard lock(m_statisticsLock);
    const CZELPacketFramer::Counters& framed = m_framer.GetCounters();
    Statistics statistics;
    statistics.sentBytes = m_sentBytes;
    statistics.sentPackets = m_sentPackets;
    statistics.receivedBytes = m_receivedBytes;
    statistics.receivedPackets = framed.receivedPackets;
    statistics.invalidStartDelimiter = framed.invalidStartDelimiter;
    statistics.invalidHeaderChecksum = framed.invalidHeaderChecksum;
    statistics.invalidPayloadChecksum = framed.invalidPayloadChecksum;
    statistics.timeout = framed.timeout;
    statistics.tooLong = framed.tooLong;
    return statistics;
}

std::uint32_t CZELSerialPort::GetIdentity() const
{
    // Only compared by subscribers, never dereferenced: the low half of the address is enough.
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(this));
}

int CZELSerialPort::GetLastOpenError() const
{
    std::lock_guard lock(m_settingsLock);
    return m_lastOpenError;
}

std::string CZELSerialPort::GetLastOpenErrorText() const
{
    std::lock_guard lock(m_settingsLock);
    return m_lastOpenErrorText;
}

long CZELSerialPort::InitializeSerialPortStatus()
{
    std::lock_guard lock(m_statisticsLock);
    m_framer.ResetCounters();
    m_sentBytes = 0;
    m_sentPackets = 0;
    m_receivedBytes = 0;
    return ZEL_STATUS_SUCCESS;
}

// Opening and closing

long CZELSerialPort::OpenLocked(bool report)
{
    std::string name;
    long baudRateId = 0;
    GetSerialPortSettings(&name, &baudRateId);
    const std::string path = CZELSerialDevice::ResolvePortName(name);
    m_device.Close();
    InitializeSerialPortStatus();
    {
        // Bytes of an earlier line never continue on a new one.
        std::lock_guard lock(m_statisticsLock);
        m_framer.ResetCommandBuffer();
    }
    const int error = m_device.Open(path, static_cast<unsigned>(BaudRateOfID(baudRateId)), CZELSerialDevice::Parity::None);
    std::error_code ignored;
    const std::string canonical = error == 0 ? std::filesystem::canonical(path, ignored).string() : std::string();
    {
        std::lock_guard lock(m_settingsLock);
        m_lastOpenError = error;
        m_lastOpenErrorText = error == 0 ? std::string() : CZELSerialDevice::DescribeOpenError(path, error);
        m_openPath = canonical.empty() ? path : canonical;
    }
    if (error == 0)
        return 0;
    if (report) {
        long text = kTextOpenFailed;
        if (m_device.LastOpenStep() == CZELSerialDevice::OpenStep::ReadSettings)
            text = kTextReadConfigurationFailed;
        else if (m_device.LastOpenStep() == CZELSerialDevice::OpenStep::WriteSettings)
            text = kTextWriteConfigurationFailed;
        char line[512];
        std::snprintf(line, sizeof line, "%s GetLastError() = %i.", GetZELLanguage().GetString(ZEL_MODULE_SERIAL_PORT, text),
            error);
        AddOutput(std::string(line) + " " + GetLastOpenErrorText(), ZEL_SYSTEM_LOG_EX_EVENT_ERROR);
    }
    return -1;
}

long CZELSerialPort::OpenSerialPort(bool report)
{
    if (!report && !IsRunning())
        return -1;
    CZELSerialPortIoAccess io(*this);
    return OpenLocked(report);
}

long CZELSerialPort::CloseSerialPort(bool)
{
    // A running thread sees the request at the start of its next cycle and ends by itself; the
    // caller waits for that, so the port is free for another opener when this returns.
    const bool underThread = IsRunning();
    if (underThread)
        m_closeRequested = true;
    {
        CZELSerialPortIoAccess io(*this);
        m_device.Close();
    }
    if (underThread)
        m_thread.DestroyThread(true);
    return ZEL_STATUS_SUCCESS;
}

bool CZELSerialPort::IsRunning() const { return m_thread.IsRunning(); }

long CZELSerialPort::InitializeReceivingThread()
{
    if (IsRunning())
        return ZEL_STATUS_BUSY;
    m_closeRequested = false;
    {
        CZELSerialPortIoAccess io(*this);
        if (const long status = OpenLocked(true); status < 0)
            return status;
    }
    m_thread.SetThreadName("ZEL Serial Port");
    const long status = m_thread.CreateThread(&SerialPortThreadMain, this);
    if (status < 0) {
        CZELSerialPortIoAccess io(*this);
        m_device.Close();
        return status;
    }
    // Without udev (a container, a machine without it) the port works all the same.
    StartHotPlugMonitor();
    return status;
}

long CZELSerialPort::TerminateReceivingThread()
{
    StopHotPlugMonitor();
    m_thread.DestroyThread(false);
    m_device.Interrupt();
    m_thread.DestroyThread(true);
    {
        CZELSerialPortIoAccess io(*this);
        m_device.Close();
    }
    DiscardPending();
    return ZEL_STATUS_SUCCESS;
}

// Sending

long CZELSerialPort::SendCommand(std::uint8_t* packet, std::uint32_t length)
{
    return QueuePacket(packet, length, true);
}

long CZELSerialPort::SendRawCommand(const std::uint8_t* packet, std::uint32_t length)
{
    return QueuePacket(const_cast<std::uint8_t*>(packet), length, false);
}

long CZELSerialPort::QueuePacket(std::uint8_t* packet, std::uint32_t length, bool fillChecksums)
{
    if (packet == nullptr || length == 0 || length > ZEL_SERIAL_SEND_BUFFER_SIZE)
        return ZEL_STATUS_INVALID_PARAMETER;
    if (!IsRunning())
        return ZEL_STATUS_BUSY;
    std::unique_lock lock(m_sendLock);
    if (!m_sendDone.wait_for(lock, ZELTimes().sendSlotWait, [this] { return m_sendLength == 0; }))
        return ZEL_STATUS_BUSY;
    if (fillChecksums) {
        // A packet of no known family (0x43, a bootloader byte) is sent as it is.
        const long status = GetZELCommandSet().CalculateChecksums(packet, length);
        if (status < 0 && status != ZEL_STATUS_NOT_IMPLEMENTED)
            return status;
    }
    std::memcpy(m_sendBuffer.data(), packet, length);
    m_sendLength = length;
    lock.unlock();
    m_device.Wake();
    return ZEL_STATUS_SUCCESS;
}

long CZELSerialPort::WaitWhileBusy(std::uint32_t milliseconds)
{
    std::unique_lock lock(m_sendLock);
    return m_sendDone.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return m_sendLength == 0; })
        ? ZEL_STATUS_SUCCESS
        : ZEL_STATUS_TIMEOUT;
}

void CZELSerialPort::DiscardPending()
{
    {
        std::lock_guard lock(m_sendLock);
        m_sendLength = 0;
    }
    m_sendDone.notify_all();
}

// Runs on the receive thread under the I/O lock.
void CZELSerialPort::TransmitPending()
{
    std::array<std::uint8_t, ZEL_SERIAL_SEND_BUFFER_SIZE> packet;
    std::uint32_t length = 0;
    {
        std::lock_guard lock(m_sendLock);
        length = m_sendLength;
        std::memcpy(packet.data(), m_sendBuffer.data(), length);
    }
    if (length == 0)
        return;
    std::size_t written = 0;
    const auto result = m_device.Write(packet.data(), length, written, CZELDeadline::Never());
    if (result == CZELSerialDevice::IoResult::Done) {
        std::lock_guard lock(m_statisticsLock);
        m_sentBytes += length;
        ++m_sentPackets;
    } else if (result == CZELSerialDevice::IoResult::Gone) {
        m_device.Close(); // reopened by the next cycle
    }
    // The slot is free before the packet is published, whether or not the write succeeded.
    DiscardPending();
    Publish(ZEL_MESSAGE_SERIAL_DATA_SENT, packet.data(), length);
}

void CZELSerialPort::Publish(std::uint32_t type, const std::uint8_t* packet, std::size_t length)
{
    std::vector<std::uint8_t> record = RecordHead(GetIdentity(), length);
    record.insert(record.end(), packet, packet + length);
    CZELMessage message(type, record.data(), static_cast<int>(record.size()));
    GetZELMessageQueue().Notify(message);
}

// Hot-plug

long CZELSerialPort::StartHotPlugMonitor()
{
    std::lock_guard lock(m_hotPlugLock);
    if (!m_hotPlug)
        m_hotPlug = ZELCreateHotPlugMonitor();
    if (m_hotPlug->IsRunning())
        return ZEL_STATUS_SUCCESS;
    const int error = m_hotPlug->Start([this](const ZELSerialDeviceEvent& event) { PublishDeviceEvent(event); });
    return error == 0 ? ZEL_STATUS_SUCCESS : ZEL_STATUS_NOT_INITIALIZED;
}

long CZELSerialPort::StopHotPlugMonitor()
{
    std::lock_guard lock(m_hotPlugLock);
    if (m_hotPlug)
        m_hotPlug->Stop();
    return ZEL_STATUS_SUCCESS;
}

void CZELSerialPort::SetHotPlugMonitor(std::unique_ptr<IZELHotPlugMonitor> monitor)
{
    std::lock_guard lock(m_hotPlugLock);
    if (m_hotPlug)
        m_hotPlug->Stop();
    m_hotPlug = std::move(monitor);
}

void CZELSerialPort::PublishDeviceEvent(const ZELSerialDeviceEvent& event)
{
    const std::string& node = event.port.path;
    std::vector<std::uint8_t> record = RecordHead(GetIdentity(), 4 + node.size() + 1);
    if (!event.attached) {
        bool ours = false;
        {
            std::lock_guard lock(m_settingsLock);
            ours = !node.empty() && (node == m_openPath || event.port.byIdLink == m_openPath);
        }
        const std::int32_t reason = ours ? ZEL_SERIAL_DETACH_REASON_PORT_DEVICE : ZEL_SERIAL_DETACH_REASON_REMOVED;
        PutLittleEndian(record, static_cast<std::uint32_t>(reason), 4);
    }
    record.insert(record.end(), node.begin(), node.end());
    record.push_back(0);
    CZELMessage message(event.attached ? ZEL_MESSAGE_SERIAL_DEVICE_ATTACHED : ZEL_MESSAGE_SERIAL_DEVICE_DETACHED,
        record.data(), static_cast<int>(record.size()));
    GetZELMessageQueue().Notify(message);
}

// The receive thread

void CZELSerialPort::LogStatisticsLine()
{
    const Statistics s = GetStatistics();
    char line[256];
    std::snprintf(line, sizeof line,
        "Serial status; received; %i; %i; sent; %i; %i; ISD; %i; IHCS; %i; IPCS; %i; too long; %i; timeout; %i",
        static_cast<int>(s.receivedPackets), static_cast<int>(s.receivedBytes), static_cast<int>(s.sentPackets),
        static_cast<int>(s.sentBytes), static_cast<int>(s.invalidStartDelimiter),
        static_cast<int>(s.invalidHeaderChecksum), static_cast<int>(s.invalidPayloadChecksum),
        static_cast<int>(s.tooLong), static_cast<int>(s.timeout));
    AddOutput(line, ZEL_SYSTEM_LOG_EX_EVENT_DEBUG);
}

void CZELSerialPort::LogRadioStatistics(const std::uint8_t* b)
{
    // Each group: a big-endian value from four odd-offset bytes, then those bytes one by one.
    unsigned group[4][5];
    for (int g = 0; g < 4; ++g) {
        const int first = 5 + 8 * g;
        unsigned value = 0;
        for (int i = 0; i < 4; ++i) {
            group[g][1 + i] = b[first + 2 * i];
            value = (value << 8) | b[first + 2 * i];
        }
        group[g][0] = value;
    }
    char line[512];
    std::snprintf(line, sizeof line,
        "Unit; %u; Rx Data; %u; %u; %u; %u; %u; Tx Data; %u; %u; %u; %u; %u; Rx Packets; %u; %u; %u; %u; %u; "
        "Tx Packets; %u; %u; %u; %u; %u; RSSI; %u; Temp; %u\r\n",
        unsigned{b[2]}, group[0][0], group[0][1], group[0][2], group[0][3], group[0][4], group[1][0], group[1][1],
        group[1][2], group[1][3], group[1][4], group[2][0], group[2][1], group[2][2], group[2][3], group[2][4],
        group[3][0], group[3][1], group[3][2], group[3][3], group[3][4], unsigned{b[37]}, unsigned{b[39]});
    AddOutput(line, ZEL_SYSTEM_LOG_EX_EVENT_DEBUG);
}

// The radio modem sends its 40 statistics bytes in one burst; a short gap ends the burst.
std::size_t CZELSerialPort::ReadRadioStatisticsBurst(std::uint8_t* buffer, std::size_t received, std::size_t size)
{
    while (received < size) {
        std::size_t more = 0;
        if (m_device.Read(buffer + received, size - received, more, CZELDeadline(ZELTimes().radioStatisticsGap)) !=
            CZELSerialDevice::IoResult::Done)
            break;
        received += more;
    }
    return received;
}

// The thread wakes for data, a packet to send, a stop, or the next of these: a liveness stamp,
// the silence after a partial packet, the dump-mode line.
Clock::time_point CZELSerialPort::NextWakeUp(Clock::time_point now) const
{
    constexpr auto past = std::chrono::milliseconds(1); // "more than" the period
    Clock::time_point wake = now + ZELTimes().workerLoopWait;
    if (m_framer.IsTimeoutPending())
        wake = std::min(wake, m_lastDataTime + ZELTimes().framerSilence + past);
    if (m_dumpMode.load() != 0)
        wake = std::min(wake, m_lastStatusTime + ZELTimes().statisticsPeriod + past);
    return wake;
}

std::chrono::milliseconds CZELSerialPort::GoneFor() const
{
    const std::int64_t since = m_goneSince.load();
    if (since == 0)
        return std::chrono::milliseconds(0);
    return std::chrono::duration_cast<std::chrono::milliseconds>(
        Clock::now() - Clock::time_point(Clock::duration(since)));
}

long CZELSerialPort::RunSerialPortThread()
{
    if (!m_thread.IsRunning())
        return ZEL_STATUS_NOT_INITIALIZED;
    m_thread.SignalStart();
    AddOutput(GetZELLanguage().GetString(ZEL_MODULE_SERIAL_PORT, kTextThreadInitialized),
        ZEL_SYSTEM_LOG_EX_EVENT_INFORMATION);
    m_lastStatusTime = Clock::time_point{};
    std::uint8_t buffer[kReadBufferSize];
    bool closedUnderThread = false;

    while (m_thread.IsRunning()) {
        m_thread.UpdateStatus();
        Clock::time_point now = Clock::now();
        if (m_dumpMode.load() != 0 && now - m_lastStatusTime > ZELTimes().statisticsPeriod) {
            LogStatisticsLine();
            m_lastStatusTime = now;
        }
        {
            std::unique_lock gate(m_gateLock);
            m_gateOpen.wait(gate, [this] { return m_ioWaiters == 0; });
        }
        m_ioLock.lock();
        if (m_closeRequested) {
            m_device.Close();
            m_ioLock.unlock();
            closedUnderThread = true;
            break;
        }
        if (!m_device.IsOpen() && OpenLocked(false) != 0) {
            // The device node went away: try again every cycle until it is back.
            std::int64_t expected = 0;
            m_goneSince.compare_exchange_strong(expected, Clock::now().time_since_epoch().count());
            m_device.Close();
            m_ioLock.unlock();
            m_thread.Sleep(ZELTimes().portReopenPause);
            continue;
        }
        m_goneSince.store(0);
        TransmitPending();

        const std::uint16_t protocol = m_protocol.load();
        const bool radio = protocol == ZEL_PROTOCOL_RADIO_STATISTICS;
        const std::size_t want = radio ? kRadioStatisticsSize : sizeof buffer;
        std::size_t received = 0;
        auto result = CZELSerialDevice::IoResult::Closed;
        if (m_device.IsOpen()) {
            result = m_device.Read(buffer, want, received, DeadlineAt(NextWakeUp(now)));
            if (result == CZELSerialDevice::IoResult::Done && radio)
                received = ReadRadioStatisticsBurst(buffer, received, want);
            if (result == CZELSerialDevice::IoResult::Gone)
                m_device.Close(); // reopened by the next cycle
        }
        m_ioLock.unlock();

        now = Clock::now();
        std::lock_guard lock(m_statisticsLock);
        if (m_framer.GetProtocol() != protocol)
            m_framer.SetProtocol(protocol);
        if (result == CZELSerialDevice::IoResult::Done && received > 0) {
            m_receivedBytes += static_cast<std::uint32_t>(received);
            m_lastDataTime = now;
            if (radio && received == kRadioStatisticsSize)
                LogRadioStatistics(buffer);
            m_framer.Receive(buffer, received, now);
        }
        m_framer.CheckTimeout(now);
    }

    AddOutput(GetZELLanguage().GetString(ZEL_MODULE_SERIAL_PORT, kTextThreadTerminated),
        ZEL_SYSTEM_LOG_EX_EVENT_INFORMATION);
    if (closedUnderThread) {
        // Nobody will send the pending packet any more; the thread ends by itself.
        DiscardPending();
        m_thread.EndOfThread();
    }
    return 0;
}
