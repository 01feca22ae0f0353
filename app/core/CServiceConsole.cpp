#include "app/core/CServiceConsole.h"

#include "app/core/AppLog.h"
#include "zel/commands/CZELCommandHelper.h"
#include "zel/foundation/ZELStatus.h"
#include "zel/platform/ZELSystemTime.h"
#include "zel/serial/CZELSerialPort.h"
#include "zel/serial/ZELProtocol.h"

#include <cstdio>

namespace {

constexpr std::size_t kRecordHeadSize = ZEL_SERIAL_RECORD_HEAD_SIZE;
// The UTC time stamp follows the port's identity in a record's head.
constexpr std::size_t kRecordTimeOffset = 4;
// A detach record's reason when the port's own device left.
constexpr std::int32_t kOwnDeviceDetached = 2;
// Bytes shown of a packet the dump has no text for.
constexpr std::size_t kMaxHexBytes = 48;

std::string TimeStamp(const SYSTEMTIME& time)
{
    char text[32];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u.%03u", static_cast<unsigned>(time.wHour),
        static_cast<unsigned>(time.wMinute), static_cast<unsigned>(time.wSecond),
        static_cast<unsigned>(time.wMilliseconds));
    return text;
}

// The local time of a record's UTC head; now when the head holds no valid time.
std::string RecordTime(const std::uint8_t* head)
{
    std::uint16_t fields[8];
    for (std::size_t i = 0; i < 8; ++i)
        fields[i] = static_cast<std::uint16_t>(head[kRecordTimeOffset + 2 * i] | (head[kRecordTimeOffset + 2 * i + 1] << 8));
    const SYSTEMTIME utc{fields[0], fields[1], fields[2], fields[3], fields[4], fields[5], fields[6], fields[7]};
    SYSTEMTIME local;
    if (!ZELPlatform::UtcToLocalTime(utc, local))
        ZELPlatform::GetLocalTime(local);
    return TimeStamp(local);
}

std::string Hex(const std::uint8_t* bytes, std::size_t length)
{
    std::string text;
    char byte[4];
    for (std::size_t i = 0; i < length && i < kMaxHexBytes; ++i) {
        std::snprintf(byte, sizeof byte, i == 0 ? "%02X" : " %02X", bytes[i]);
        text += byte;
    }
    if (length > kMaxHexBytes)
        text += " ...";
    return text;
}

// The framing the answer to a request comes in, from the request's start byte.
std::uint16_t ProtocolOfRequest(std::uint8_t startByte, std::uint16_t current)
{
    switch (startByte) {
    case ZEL_DELIMITER_CCPU: return ZEL_PROTOCOL_CCPU;
    case ZEL_DELIMITER_CCPU2: return ZEL_PROTOCOL_CCPU2;
    case ZEL_DELIMITER_VELTRIX: return ZEL_PROTOCOL_VELTRIX;
    case ZEL_DELIMITER_OMBRA: return ZEL_PROTOCOL_OMBRA;
    case ZEL_DELIMITER_MCPU: return ZEL_PROTOCOL_MCPU;
    case ZEL_DELIMITER_MCPU_CRC: return ZEL_PROTOCOL_MCPU_CRC;
    default: return current;
    }
}

std::string SendFailureText(long status)
{
    switch (status) {
    case ZEL_STATUS_WRONG_FORMAT: return "This request needs a value: enter a decimal number (fewer than 256 characters).";
    case ZEL_STATUS_UNSPECIFIC_ERROR: return "This choice makes no request: choose a request and one of its parameters.";
    case ZEL_STATUS_BUSY: return "An update holds the port: send when it has ended.";
    default: return "The request could not be sent (" + GetZELStatusAsString(status) + ").";
    }
}

} // namespace

CServiceConsole::CServiceConsole(IUpdateLink& link)
    : m_link(link)
{
    SetName("Service Console");
}

CServiceConsole::~CServiceConsole()
{
    Terminate();
}

long CServiceConsole::Start(LineHandler handler)
{
    {
        std::lock_guard lock(m_lock);
        m_handler = std::move(handler);
        m_received = 0;
    }
    const long result = Initialize(true);
    if (result != ZEL_STATUS_SUCCESS)
        return result;
    m_subscribed = true;
    return GetZELMessageQueue().Register(this);
}

long CServiceConsole::Terminate()
{
    if (m_subscribed) {
        GetZELMessageQueue().Unregister(this);
        m_subscribed = false;
    }
    const long result = CZELMessageQueue::Terminate();
    ClosePort();
    return result;
}

long CServiceConsole::OpenPort()
{
    if (m_link.IsReceivingThreadRunning())
        return ZEL_STATUS_SUCCESS;
    const std::uint16_t protocol = m_link.GetProtocol();
    const long result = m_link.InitializeReceivingThread();
    if (result != ZEL_STATUS_SUCCESS) {
        const std::string reason = m_link.GetLastOpenErrorText();
        SetLastErrorText(reason.empty() ? "The port " + m_link.GetCOMPort() + " cannot be opened." : reason);
        return result;
    }
    std::lock_guard lock(m_lock);
    m_portOpenedHere = true;
    m_openedPort.clear(); // named by SendOnPort
    m_protocolBefore = protocol;
    m_lastError.clear();
    return ZEL_STATUS_SUCCESS;
}

long CServiceConsole::ClosePort()
{
    std::uint16_t protocol = 0;
    {
        std::lock_guard lock(m_lock);
        if (!m_portOpenedHere)
            return ZEL_STATUS_SUCCESS;
        m_portOpenedHere = false;
        m_openedPort.clear();
        protocol = m_protocolBefore;
    }
    const long result = m_link.TerminateReceivingThread();
    // A request may have switched the framing; whoever opens the port next expects the one it set.
    m_link.SetProtocol(protocol);
    return result;
}

bool CServiceConsole::IsPortOpenedHere() const
{
    std::lock_guard lock(m_lock);
    return m_portOpenedHere;
}

long CServiceConsole::SendOnPort(
    const std::string& port, IZELComboBox* requests, IZELComboBox* parameters, IZELEdit* value)
{
    bool otherPort = false;
    {
        std::lock_guard lock(m_lock);
        otherPort = m_portOpenedHere && m_openedPort != port;
    }
    if (otherPort)
        ClosePort();
    const bool openBefore = IsPortOpenedHere();
    if (!openBefore && !m_link.IsReceivingThreadRunning())
        m_link.SetSerialPortSettings(port, m_link.GetBaudRateAsID());
    const long result = Send(requests, parameters, value);
    // The name as the operator chose it: the link may keep it in another form.
    std::lock_guard lock(m_lock);
    if (!openBefore && m_portOpenedHere)
        m_openedPort = port;
    return result;
}

long CServiceConsole::Send(IZELComboBox* requests, IZELComboBox* parameters, IZELEdit* value)
{
    if (m_link.IsReceivingThreadRunning() && !IsPortOpenedHere()) {
        SetLastErrorText(SendFailureText(ZEL_STATUS_BUSY));
        return ZEL_STATUS_BUSY;
    }
    CZELCommandHelper& helper = GetZELCommandHelper();
    // A module request goes out in the module framing the link uses, or with CRC-16 by default.
    const std::uint16_t current = m_link.GetProtocol();
    helper.SetProtocol(ZELIsMCPUFamily(current) ? current : ZEL_PROTOCOL_MCPU_CRC);

    std::uint8_t packet[CZELCommandHelper::kCommandBufferSize] = {};
    std::uint16_t length = 0;
    long result = helper.GetCurrentCommand(requests, parameters, value, packet, &length);
    if (result != ZEL_STATUS_SUCCESS) {
        SetLastErrorText(SendFailureText(result));
        return result;
    }
    result = OpenPort();
    if (result != ZEL_STATUS_SUCCESS)
        return result;
    const std::uint16_t protocol = ProtocolOfRequest(packet[0], current);
    if (protocol != current)
        m_link.SetProtocol(protocol);
    const char* name = CZELCommandHelper::GetRequestName(requests->GetCurSel());
    {
        // The line is written when the port reports the packet written, in order with the answers.
        std::lock_guard lock(m_lock);
        m_pendingNames.emplace_back(name);
    }
    result = m_link.SendCommand(packet, length);
    if (result != ZEL_STATUS_SUCCESS) {
        std::lock_guard lock(m_lock);
        m_pendingNames.pop_back();
        m_lastError = SendFailureText(result);
        return result;
    }
    AppLogToSystemLog(std::string("Service console sent ") + name, ZEL_SYSTEM_LOG_EX_EVENT_DEBUG);
    SetLastErrorText("");
    return ZEL_STATUS_SUCCESS;
}

std::string CServiceConsole::GetLastErrorText() const
{
    std::lock_guard lock(m_lock);
    return m_lastError;
}

long CServiceConsole::GetReceivedCount() const
{
    std::lock_guard lock(m_lock);
    return m_received;
}

std::string CServiceConsole::RenderReceived(const std::uint8_t* record, std::size_t size, CZELScriva& scriva)
{
    if (!record || size <= kRecordHeadSize)
        return {};
    const std::uint8_t* packet = record + kRecordHeadSize;
    const std::size_t length = size - kRecordHeadSize;
    std::string text;
    if (CZELScriva::IsKnownSource(packet[0]) &&
        scriva.DumpAcknowledgeOrNotification(packet, length) == ZEL_STATUS_SUCCESS)
        text = scriva.GetScriva();
    scriva.ClearScriva();
    if (text.empty())
        text = Hex(packet, length);
    return RecordTime(record) + "  < " + text;
}

std::string CServiceConsole::RenderSent(const std::uint8_t* record, std::size_t size, const std::string& requestName)
{
    if (!record || size <= kRecordHeadSize)
        return {};
    const std::string name = requestName.empty() ? "" : requestName + "  ";
    return RecordTime(record) + "  > " + name + Hex(record + kRecordHeadSize, size - kRecordHeadSize);
}

long CServiceConsole::ProcessMessage(CZELMessage& message)
{
    const auto* bytes = static_cast<const std::uint8_t*>(static_cast<const CZELMessage&>(message).GetBuffer());
    const int size = message.GetBufferSize();
    if (!bytes || size <= 0)
        return ZEL_STATUS_INVALID_PARAMETER;
    switch (message.GetMessageType()) {
    case ZEL_MESSAGE_SERIAL_DATA_RECEIVED: {
        const std::string line = RenderReceived(bytes, static_cast<std::size_t>(size), m_scriva);
        if (line.empty())
            return ZEL_STATUS_INVALID_PARAMETER;
        {
            std::lock_guard lock(m_lock);
            ++m_received;
        }
        Emit(line);
        return ZEL_STATUS_SUCCESS;
    }
    case ZEL_MESSAGE_SERIAL_DATA_SENT: {
        std::string name;
        {
            std::lock_guard lock(m_lock);
            if (!m_pendingNames.empty()) {
                name = std::move(m_pendingNames.front());
                m_pendingNames.pop_front();
            }
        }
        Emit(RenderSent(bytes, static_cast<std::size_t>(size), name));
        return ZEL_STATUS_SUCCESS;
    }
    case ZEL_MESSAGE_SERIAL_DEVICE_DETACHED:
        if (static_cast<std::size_t>(size) >= kRecordHeadSize + 4) {
            const std::uint8_t* reason = bytes + kRecordHeadSize;
            if ((reason[0] | (reason[1] << 8) | (reason[2] << 16) | (reason[3] << 24)) == kOwnDeviceDetached)
                Emit(RecordTime(bytes) + "  The device of the port was unplugged.");
        }
        return ZEL_STATUS_SUCCESS;
    default: return ZEL_STATUS_SUCCESS;
    }
}

void CServiceConsole::Emit(const std::string& line)
{
    LineHandler handler;
    {
        std::lock_guard lock(m_lock);
        handler = m_handler;
    }
    if (handler)
        handler(line);
}

void CServiceConsole::SetLastErrorText(std::string text)
{
    std::lock_guard lock(m_lock);
    m_lastError = std::move(text);
}
