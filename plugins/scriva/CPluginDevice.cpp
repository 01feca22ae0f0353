#include "plugins/scriva/CPluginDevice.h"

#include "plugins/scriva/ScrivaRecord.h"
#include "zel/foundation/ZELStatus.h"
#include "zel/serial/ZELProtocol.h"

#include <cinttypes>
#include <cstdio>

namespace Scriva {

namespace {

// Commands that are rendered without text on purpose: the trace stream, the per-block firmware
// acknowledgement (text only on a refusal) and the MCPU's telemetry, debug and confirmation
// traffic. Anything else without text is logged as unknown.
bool IsSilent(std::uint8_t source, std::uint16_t command)
{
    switch (source) {
    case ZEL_DELIMITER_CCPU: return command == 0xBFFE || command == 0x4015;
    case ZEL_DELIMITER_CCPU2: return command == 0xBFFE;
    case ZEL_DELIMITER_MCPU:
    case ZEL_DELIMITER_MCPU_CRC:
        switch (command) {
        case 0x15:
        case 0x17:
        case 0x3E:
        case 0x43:
        case 0x58:
        case 0xFE: return true;
        default: return false;
        }
    default: return false;
    }
}

} // namespace

CPluginDevice::CPluginDevice()
{
    char identity[32];
    std::snprintf(identity, sizeof identity, "0x%08" PRIXPTR, reinterpret_cast<std::uintptr_t>(this));
    m_identity = identity;
}

long CPluginDevice::AddOutput(const std::string& message, _ZELSystemLogExEventType type)
{
    return GetZELSystemLogEx().AddOutput(message, type, "", "Scriva::CPluginDevice", m_identity);
}

long CPluginDevice::ProcessReceivedPacket(const std::uint8_t* record, std::size_t size)
{
    if (!record || size <= kRecordHeadSize)
        return ZEL_STATUS_INVALID_BUFFER;
    const std::uint8_t* packet = record + kRecordHeadSize;
    const std::size_t packetSize = size - kRecordHeadSize;
    const std::uint8_t source = packet[0];
    if (!CZELScriva::IsKnownSource(source))
        return ZEL_STATUS_NOT_IMPLEMENTED;
    const long rendered = m_scriva.DumpAcknowledgeOrNotification(packet, packetSize);
    if (rendered == ZEL_STATUS_INVALID_DATA)
        return rendered; // cut short: its command bytes may be missing too
    const bool mcpu = source == ZEL_DELIMITER_MCPU || source == ZEL_DELIMITER_MCPU_CRC;
    const std::uint16_t command = mcpu ? packet[1] : RecordU16(packet + 1);

    const char* text = m_scriva.GetScriva();
    if (text[0] != '\0') {
        AddOutput(text, ZEL_SYSTEM_LOG_EX_EVENT_COMMAND);
        m_scriva.ClearScriva();
    } else if (!IsSilent(source, command)) {
        char unknown[32];
        std::snprintf(unknown, sizeof unknown, "0x%04X (unknown command)", command);
        AddOutput(unknown, ZEL_SYSTEM_LOG_EX_EVENT_COMMAND);
    }
    return ZEL_STATUS_SUCCESS;
}

} // namespace Scriva
