#include "app/core/CServiceConsole.h"

#include "app/core/AppLog.h"
#include "zel/commands/CZELCommandHelper.h"
#include "zel/commands/CZELCommandSet.h"
#include "zel/foundation/ZELStatus.h"
#include "zel/platform/ZELSystemTime.h"
#include "zel/serial/CZELSerialPort.h"
#include "zel/serial/ZELProtocol.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr std::size_t kRecordHeadSize = ZEL_SERIAL_RECORD_HEAD_SIZE;
// The UTC time stamp follows the port's identity in a record's head.
constexpr std::size_t kRecordTimeOffset = 4;
// A detach record's reason when the port's own device left.
constexpr std::int32_t kOwnDeviceDetached = 2;
// Bytes shown of a packet the dump has no text for.
constexpr std::size_t kMaxHexBytes = 48;

constexpr std::uint16_t kControlRequest = 0x0011;
constexpr std::uint8_t kItemBootloaderSwitch = 0x80;
// An acknowledgement carries its request's id with this bit.
constexpr std::uint16_t kAcknowledgementBit = 0x4000;
constexpr std::uint16_t kReadMemoryAcknowledgement = 0x4006;
constexpr std::size_t kMemoryBytesPerLine = 16;
// The journal's outcome of a processor a service request left in its bootloader.
const char* const kSwitchOutcome = "service request";

std::uint16_t U16(const std::uint8_t* at) { return static_cast<std::uint16_t>(at[0] | (at[1] << 8)); }

// The processor a bootloader switch value selects, as the update names it.
std::string SwitchTarget(std::uint16_t value)
{
    switch (value) {
    case 0x1800: return "CCPU";
    case 0x2800: return "KCPU";
    case 0x3800: return "LCPU";
    case 0x4800: return "MCPU";
    case 0xF000: return "ECPU";
    default: {
        char text[40];
        std::snprintf(text, sizeof text, "processor 0x%04X", static_cast<unsigned>(value));
        return text;
    }
    }
}

std::string SwitchDetail(const std::string& requestName, const std::string& answer)
{
    return "Sent by the service console (" + requestName + "); " + answer
        + ". No firmware was written: the processor waits in its bootloader until it is flashed (tarn update or "
          "tarn recover).";
}

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
    case ZEL_STATUS_FORBIDDEN:
        return "This request switches a processor into its bootloader, where it stays until it is flashed; it is "
               "sent only when switching is allowed explicitly.";
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
    const std::optional<BootloaderSwitch> bootloaderSwitch = FindBootloaderSwitch(packet, length);
    if (bootloaderSwitch) {
        std::lock_guard lock(m_lock);
        if (!m_allowBootloaderSwitch) {
            m_lastError = SendFailureText(ZEL_STATUS_FORBIDDEN);
            return ZEL_STATUS_FORBIDDEN;
        }
    }
    result = OpenPort();
    if (result != ZEL_STATUS_SUCCESS)
        return result;
    const std::uint16_t protocol = ProtocolOfRequest(packet[0], current);
    if (protocol != current)
        m_link.SetProtocol(protocol);
    const char* name = CZELCommandHelper::GetRequestName(requests->GetCurSel());
    if (bootloaderSwitch)
        JournalSwitch(*bootloaderSwitch, name, packet);
    {
        // The line is written when the port reports the packet written, in order with the answers.
        std::lock_guard lock(m_lock);
        m_pendingNames.emplace_back(name);
    }
    result = m_link.SendCommand(packet, length);
    if (result != ZEL_STATUS_SUCCESS) {
        std::optional<SentSwitch> unsent;
        {
            std::lock_guard lock(m_lock);
            m_pendingNames.pop_back();
            m_lastError = SendFailureText(result);
            unsent.swap(m_sentSwitch);
        }
        if (unsent && unsent->journaled) {
            unsent->entry.step = "requested";
            unsent->entry.outcome = "not started";
            unsent->entry.detail = "The service console could not send " + std::string(name) + " ("
                + GetZELStatusAsString(result) + ").";
            m_journal.Record(unsent->index, unsent->entry);
        }
        return result;
    }
    AppLogToSystemLog(std::string("Service console sent ") + name, ZEL_SYSTEM_LOG_EX_EVENT_DEBUG);
    SetLastErrorText("");
    return ZEL_STATUS_SUCCESS;
}

void CServiceConsole::AllowBootloaderSwitch(bool allow)
{
    std::lock_guard lock(m_lock);
    m_allowBootloaderSwitch = allow;
}

std::optional<CServiceConsole::BootloaderSwitch> CServiceConsole::FindBootloaderSwitch(
    const std::uint8_t* packet, std::size_t length)
{
    if (!packet || length < ZEL_CCPU_HEADER_SIZE)
        return std::nullopt;
    const std::uint8_t delimiter = packet[0];
    const std::uint16_t id = U16(packet + 1);
    const std::uint8_t* payload = packet + ZEL_CCPU_HEADER_SIZE;
    const std::size_t payloadLength = std::min<std::size_t>(U16(packet + 3), length - ZEL_CCPU_HEADER_SIZE);
    if (delimiter == ZEL_DELIMITER_CCPU && id == kControlRequest) {
        for (std::size_t at = 0; at < payloadLength; at += 1 + CZELCommandSet::GetControlItemWidth(payload[at]))
            if (payload[at] == kItemBootloaderSwitch && at + 2 < payloadLength)
                return BootloaderSwitch{SwitchTarget(U16(payload + at + 1)), "bootloader"};
        return std::nullopt;
    }
    struct UpdateRequest
    {
        std::uint8_t delimiter;
        std::uint16_t id;
        const char* target;
    };
    static constexpr UpdateRequest kUpdateRequests[] = {{ZEL_DELIMITER_CCPU, 0x0C02, "RCPU"},
        {ZEL_DELIMITER_CCPU2, 0x0D02, "CCPU2"}, {ZEL_DELIMITER_VELTRIX, 0x0002, "Veltrix"},
        {ZEL_DELIMITER_OMBRA, 0x0002, "Ombra"}};
    for (const UpdateRequest& request : kUpdateRequests)
        if (delimiter == request.delimiter && id == request.id)
            return BootloaderSwitch{request.target, "bootloader"};
    // The expander update: the expander waits for the blocks the controller relays.
    if (delimiter == ZEL_DELIMITER_CCPU && id == 0x0014 && payloadLength >= 2)
        return BootloaderSwitch{"ECPU type " + std::to_string(U16(payload)), "device"};
    return std::nullopt;
}

void CServiceConsole::JournalSwitch(
    const BootloaderSwitch& target, const std::string& requestName, const std::uint8_t* packet)
{
    // Written before the request goes out: a program that ends right after it still leaves the mark.
    SentSwitch sent;
    sent.entry.time = CUpdateJournal::Now();
    sent.entry.port = m_link.GetCOMPort();
    sent.entry.target = target.target;
    sent.entry.transfer = target.transfer;
    sent.entry.step = "switched";
    sent.entry.outcome = kSwitchOutcome;
    sent.entry.detail = SwitchDetail(requestName, "no acknowledgement was seen");
    sent.requestName = requestName;
    sent.delimiter = packet[0];
    sent.acknowledgement = static_cast<std::uint16_t>(U16(packet + 1) | kAcknowledgementBit);
    m_journal.Load();
    sent.journaled = m_journal.Begin(sent.entry, sent.index) == ZEL_STATUS_SUCCESS;
    if (!sent.journaled)
        AppLogToSystemLog("The update journal " + m_journal.Path() + " does not record that " + requestName
                + " switched the " + target.target + " into its bootloader.",
            ZEL_SYSTEM_LOG_EX_EVENT_WARNING);
    std::lock_guard lock(m_lock);
    m_sentSwitch = sent;
}

void CServiceConsole::NoteSwitchAcknowledged(const std::uint8_t* packet, std::size_t length)
{
    if (length < ZEL_CCPU_HEADER_SIZE + 2)
        return;
    SentSwitch sent;
    {
        std::lock_guard lock(m_lock);
        if (!m_sentSwitch || packet[0] != m_sentSwitch->delimiter || U16(packet + 1) != m_sentSwitch->acknowledgement)
            return;
        // A control acknowledgement names its item; the switch's is 0x80.
        if (m_sentSwitch->acknowledgement == (kControlRequest | kAcknowledgementBit)
            && packet[ZEL_CCPU_HEADER_SIZE + 1] != kItemBootloaderSwitch)
            return;
        sent = *m_sentSwitch;
        m_sentSwitch.reset();
    }
    const std::uint8_t status = packet[ZEL_CCPU_HEADER_SIZE];
    if (status == 0) {
        sent.entry.detail = SwitchDetail(sent.requestName, "the device acknowledged it");
    } else {
        // The device refused: the processor runs its firmware still.
        sent.entry.step = "requested";
        sent.entry.outcome = "not started";
        sent.entry.detail = "The device refused the switch (status " + std::to_string(status) + ").";
    }
    if (sent.journaled)
        m_journal.Record(sent.index, sent.entry);
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

std::vector<std::string> CServiceConsole::RenderMemory(const std::uint8_t* packet, std::size_t length)
{
    // The parser trusts the announced length: a packet cut short is not handed to it.
    if (!packet || length <= ZEL_CCPU_HEADER_SIZE || packet[0] != ZEL_DELIMITER_CCPU
        || U16(packet + 1) != kReadMemoryAcknowledgement || ZEL_CCPU_HEADER_SIZE + U16(packet + 3) + 1 > length)
        return {};
    std::uint8_t status = 0, memory = 0, count = 0;
    std::uint32_t address = 0;
    std::uint8_t data[ZEL_CCPU_HEADER_SIZE + 256 + 8] = {};
    CZELCommandSet commands;
    if (commands.ProcessAckReadMemory(packet, &status, &memory, &count, &address, data, sizeof data)
        != ZEL_STATUS_SUCCESS)
        return {};
    char line[32 + 4 * kMemoryBytesPerLine];
    if (status != 0 || count == 0) {
        std::snprintf(line, sizeof line, "  memory %u: no bytes read (status %u)", unsigned(memory), unsigned(status));
        return {line};
    }
    std::snprintf(line, sizeof line, "  memory %u, %u bytes from 0x%08X:", unsigned(memory), unsigned(count),
        static_cast<unsigned>(address));
    std::vector<std::string> lines{line};
    for (std::size_t at = 0; at < count; at += kMemoryBytesPerLine) {
        std::snprintf(line, sizeof line, "  %08X ", static_cast<unsigned>(address + at));
        std::string text = line;
        for (std::size_t i = at; i < count && i < at + kMemoryBytesPerLine; ++i) {
            std::snprintf(line, sizeof line, " %02X", static_cast<unsigned>(data[i]));
            text += line;
        }
        lines.push_back(text);
    }
    return lines;
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
        const std::uint8_t* packet = bytes + kRecordHeadSize;
        const std::size_t length = static_cast<std::size_t>(size) - kRecordHeadSize;
        // The journal first: whoever reads the acknowledgement's line finds it recorded.
        NoteSwitchAcknowledged(packet, length);
        Emit(line);
        for (const std::string& memoryLine : RenderMemory(packet, length))
            Emit(memoryLine);
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
