#include "zel/commands/CZELCommandSet.h"

#include "zel/foundation/ZELStatus.h"
#include "zel/serial/ZELChecksums.h"
#include "zel/serial/ZELProtocol.h"

namespace {

bool IsCCPUDelimiter(std::uint8_t delimiter)
{
    return delimiter == ZEL_DELIMITER_CCPU || delimiter == ZEL_DELIMITER_CCPU2 ||
           delimiter == ZEL_DELIMITER_VELTRIX || delimiter == ZEL_DELIMITER_OMBRA;
}

bool IsMCPUDelimiter(std::uint8_t delimiter)
{
    return delimiter == ZEL_DELIMITER_MCPU || delimiter == ZEL_DELIMITER_MCPU_CRC;
}

} // namespace

long CZELCommandSet::SetProtocol(std::uint16_t protocol)
{
    if (!ZELIsKnownProtocol(protocol))
        return ZEL_STATUS_INVALID_PARAMETER;
    ProtocolState state = m_protocolState.load();
    ProtocolState next;
    do {
        next = state;
        next.protocol = protocol;
        if (protocol == ZEL_PROTOCOL_MCPU) {
            next.mcpuDelimiter = ZEL_DELIMITER_MCPU;
            next.mcpuOverhead = 5;
        } else if (protocol == ZEL_PROTOCOL_MCPU_CRC) {
            next.mcpuDelimiter = ZEL_DELIMITER_MCPU_CRC;
            next.mcpuOverhead = 6;
        }
    } while (!m_protocolState.compare_exchange_weak(state, next));
    return ZEL_STATUS_SUCCESS;
}

std::uint16_t CZELCommandSet::GetProtocol(std::uint16_t* protocol) const
{
    const std::uint16_t value = m_protocolState.load().protocol;
    if (protocol)
        *protocol = value;
    return value;
}

std::uint8_t CZELCommandSet::NextSequenceNumber()
{
    // 1, 2, ..., 255, 1, ...: 0 is never sent.
    std::uint8_t current = m_sequenceNumber.load();
    while (!m_sequenceNumber.compare_exchange_weak(current, static_cast<std::uint8_t>(current == 255 ? 1 : current + 1))) {
    }
    return current;
}

long CZELCommandSet::CalculateChecksums(std::uint8_t* packet)
{
    if (IsCCPUDelimiter(packet[0]))
        return CalculateChecksumsForCCPU(packet);
    if (IsMCPUDelimiter(packet[0]))
        return CalculateChecksumsForMCPU(packet);
    return ZEL_STATUS_NOT_IMPLEMENTED;
}

long CZELCommandSet::CalculateChecksums(std::uint8_t* packet, std::size_t length)
{
    if (!packet || length == 0)
        return ZEL_STATUS_INVALID_PARAMETER;
    if (!IsCCPUDelimiter(packet[0]) && !IsMCPUDelimiter(packet[0]))
        return ZEL_STATUS_NOT_IMPLEMENTED;
    const std::size_t announced = GetAnnouncedPacketLength(packet, length);
    if (announced == 0 || announced > length)
        return ZEL_STATUS_WRONG_LENGTH;
    return CalculateChecksums(packet);
}

long CZELCommandSet::CalculateChecksumsForCCPU(std::uint8_t* packet)
{
    packet[5] = NextSequenceNumber();
    packet[6] = ZELSum8(packet + 1, 5);
    const std::size_t payloadLength = packet[3] | (static_cast<std::size_t>(packet[4]) << 8);
    if (payloadLength > 0)
        packet[ZEL_CCPU_HEADER_SIZE + payloadLength] = ZELSum8(packet + ZEL_CCPU_HEADER_SIZE, payloadLength);
    return ZEL_STATUS_SUCCESS;
}

long CZELCommandSet::CalculateChecksumsForMCPU(std::uint8_t* packet)
{
    packet[3] = static_cast<std::uint8_t>(packet[1] + packet[2]);
    const std::size_t payloadLength = packet[2];
    const std::size_t trailer = ZEL_MCPU_HEADER_SIZE + payloadLength;
    if (packet[0] == ZEL_DELIMITER_MCPU) {
        packet[trailer] = ZELSum8(packet + ZEL_MCPU_HEADER_SIZE, payloadLength);
    } else {
        const std::uint16_t crc = ZELCrc16(packet + 1, trailer - 1);
        packet[trailer] = static_cast<std::uint8_t>(crc);
        packet[trailer + 1] = static_cast<std::uint8_t>(crc >> 8);
    }
    return ZEL_STATUS_SUCCESS;
}

std::size_t CZELCommandSet::GetAnnouncedPacketLength(const std::uint8_t* packet, std::size_t available)
{
    if (!packet || available == 0)
        return 0;
    if (IsCCPUDelimiter(packet[0])) {
        if (available < 5)
            return 0;
        const std::size_t payloadLength = packet[3] | (static_cast<std::size_t>(packet[4]) << 8);
        return payloadLength == 0 ? ZEL_CCPU_HEADER_SIZE : payloadLength + ZEL_CCPU_HEADER_SIZE + 1;
    }
    if (IsMCPUDelimiter(packet[0])) {
        if (available < 3)
            return 0;
        return packet[2] + ZEL_MCPU_HEADER_SIZE + (packet[0] == ZEL_DELIMITER_MCPU ? 1 : 2);
    }
    if (packet[0] == ZEL_DELIMITER_WORD_COUNT) {
        if (available < 2)
            return 0;
        return 2 + 4 * static_cast<std::size_t>(packet[1]);
    }
    return 0;
}
