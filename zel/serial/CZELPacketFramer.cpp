#include "zel/serial/CZELPacketFramer.h"

#include "zel/foundation/CZELTimeTable.h"
#include "zel/foundation/ZELStatus.h"
#include "zel/serial/ZELChecksums.h"

#include <algorithm>
#include <cstring>
#include <utility>

CZELPacketFramer::CZELPacketFramer(PacketCallback callback)
    : m_callback(std::move(callback))
{
}

void CZELPacketFramer::SetCallback(PacketCallback callback) { m_callback = std::move(callback); }

long CZELPacketFramer::SetProtocol(std::uint16_t protocol)
{
    if (!ZELIsKnownProtocol(protocol))
        return ZEL_STATUS_INVALID_PARAMETER;
    m_protocol = protocol;
    return ZEL_STATUS_SUCCESS;
}

void CZELPacketFramer::Receive(const std::uint8_t* data, std::size_t length, Clock::time_point now)
{
    if (length == 0)
        return;
    if (m_protocol == ZEL_PROTOCOL_RADIO_STATISTICS) {
        ResetCommandBuffer();
        return;
    }
    m_lastByteTime = now;
    const int start = ZELStartByteOfProtocol(m_protocol);
    if (start < 0)
        return; // protocol 1: every byte is dropped without being counted
    std::size_t i = 0;
    while (i < length) {
        if (m_receivedCount == 0) {
            // Fast path of the start-delimiter filter: skip to the next start byte.
            const void* found = std::memchr(data + i, start, length - i);
            const std::size_t skipped =
                found ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(found) - (data + i)) : length - i;
            m_counters.invalidStartDelimiter += static_cast<std::uint32_t>(skipped);
            i += skipped;
            if (!found)
                break;
        } else if (m_expectedLength > m_receivedCount + 1) {
            // Inside a body every byte but the last is only stored.
            const std::size_t body = std::min<std::size_t>(length - i, m_expectedLength - m_receivedCount - 1U);
            std::memcpy(&m_buffer[m_receivedCount], data + i, body);
            m_receivedCount = static_cast<std::uint16_t>(m_receivedCount + body);
            i += body;
            continue;
        }
        FeedByte(data[i++]);
    }
    // A packet completed inside this read clears the stamp; a partial packet after it must still time out.
    if (m_receivedCount > 0)
        m_lastByteTime = now;
}

bool CZELPacketFramer::CheckTimeout(Clock::time_point now)
{
    if (!m_lastByteTime || now - *m_lastByteTime <= ZELTimes().framerSilence)
        return false;
    ++m_counters.timeout;
    ResetCommandBuffer();
    return true;
}

long CZELPacketFramer::FeedByte(std::uint8_t byte)
{
    if (m_receivedCount == 0) {
        const int start = ZELStartByteOfProtocol(m_protocol);
        if (start < 0)
            return RESULT_MORE; // nothing is framed: the byte is dropped without being counted
        if (byte != start) {
            ++m_counters.invalidStartDelimiter;
            return RESULT_MORE;
        }
    }
    const long result = AddByte(byte);
    if (result == RESULT_REJECTED)
        RestartCommandBuffer();
    return result;
}

long CZELPacketFramer::AddByte(std::uint8_t byte)
{
    if (m_receivedCount >= m_buffer.size())
        ResetCommandBuffer(); // a caller that skipped the restart after a rejection
    m_buffer[m_receivedCount++] = byte;
    if (m_receivedCount == m_buffer.size()) {
        ++m_counters.tooLong;
        return RESULT_REJECTED;
    }
    if (ZELIsCCPUFamily(m_protocol))
        return AddByteCCPU();
    if (ZELIsMCPUFamily(m_protocol))
        return AddByteMCPU();
    if (m_protocol == ZEL_PROTOCOL_WORD_COUNT)
        return AddByteWordCount();
    return RESULT_MORE;
}

long CZELPacketFramer::AddByteCCPU()
{
    if (m_receivedCount < ZEL_CCPU_HEADER_SIZE)
        return RESULT_MORE;
    if (m_receivedCount == ZEL_CCPU_HEADER_SIZE) {
        if (ZELSum8(&m_buffer[1], 5) != m_buffer[6]) {
            ++m_counters.invalidHeaderChecksum;
            return RESULT_REJECTED;
        }
        const std::uint32_t payloadLength = m_buffer[3] | (static_cast<std::uint32_t>(m_buffer[4]) << 8);
        if (payloadLength == 0) {
            ProcessCommand(m_buffer.data()); // an empty payload has no checksum that could fail
            ResetCommandBuffer();
            return RESULT_COMPLETE;
        }
        const std::uint32_t total = payloadLength + ZEL_CCPU_HEADER_SIZE + 1;
        if (total >= m_buffer.size()) {
            ++m_counters.tooLong;
            return RESULT_REJECTED;
        }
        m_expectedLength = static_cast<std::uint16_t>(total);
        return RESULT_MORE;
    }
    if (m_receivedCount != m_expectedLength)
        return RESULT_MORE;
    return CompletePacket();
}

long CZELPacketFramer::AddByteMCPU()
{
    if (m_receivedCount < ZEL_MCPU_HEADER_SIZE)
        return RESULT_MORE;
    if (m_receivedCount == ZEL_MCPU_HEADER_SIZE) {
        if (static_cast<std::uint8_t>(m_buffer[1] + m_buffer[2]) != m_buffer[3]) {
            ++m_counters.invalidHeaderChecksum;
            return RESULT_REJECTED;
        }
        const unsigned trailer = m_protocol == ZEL_PROTOCOL_MCPU ? 1 : 2;
        m_expectedLength = static_cast<std::uint16_t>(m_buffer[2] + ZEL_MCPU_HEADER_SIZE + trailer);
        return RESULT_MORE;
    }
    if (m_receivedCount != m_expectedLength)
        return RESULT_MORE;
    return CompletePacket();
}

long CZELPacketFramer::AddByteWordCount()
{
    // The comparison comes before the length is set: a count of 0 never completes (time-out or size limit).
    if (m_expectedLength != 0 && m_receivedCount == m_expectedLength) {
        ++m_counters.receivedPackets;
        Publish(m_buffer.data(), m_receivedCount);
        ResetCommandBuffer();
        return RESULT_COMPLETE;
    }
    if (m_receivedCount == 2)
        m_expectedLength = static_cast<std::uint16_t>(2 + 4 * m_buffer[1]);
    return RESULT_MORE;
}

long CZELPacketFramer::CompletePacket()
{
    if (ProcessCommand(m_buffer.data()) == RESULT_PAYLOAD_CHECKSUM)
        return RESULT_REJECTED;
    ResetCommandBuffer();
    return RESULT_COMPLETE;
}

long CZELPacketFramer::ProcessCommand(const std::uint8_t* packet)
{
    if (VerifyPayloadCheckSum(packet, static_cast<std::uint16_t>(m_buffer.size())) != RESULT_COMPLETE) {
        ++m_counters.invalidPayloadChecksum;
        return RESULT_PAYLOAD_CHECKSUM;
    }
    ++m_counters.receivedPackets;
    Publish(packet, m_receivedCount);
    return RESULT_COMPLETE;
}

long CZELPacketFramer::VerifyPayloadCheckSum(const std::uint8_t* packet, std::uint16_t size) const
{
    if (ZELIsCCPUFamily(m_protocol)) {
        if (size < ZEL_CCPU_HEADER_SIZE)
            return RESULT_WRONG_LENGTH;
        const std::size_t payloadLength = packet[3] | (static_cast<std::size_t>(packet[4]) << 8);
        if (payloadLength == 0)
            return RESULT_COMPLETE;
        if (payloadLength + ZEL_CCPU_HEADER_SIZE >= size)
            return RESULT_WRONG_LENGTH;
        const std::uint8_t* payload = packet + ZEL_CCPU_HEADER_SIZE;
        return ZELSum8(payload, payloadLength) == payload[payloadLength] ? RESULT_COMPLETE : RESULT_PAYLOAD_CHECKSUM;
    }
    if (m_protocol == ZEL_PROTOCOL_MCPU) {
        if (size < ZEL_MCPU_HEADER_SIZE)
            return RESULT_WRONG_LENGTH;
        const std::size_t payloadLength = packet[2];
        if (payloadLength + ZEL_MCPU_HEADER_SIZE >= size)
            return RESULT_WRONG_LENGTH;
        const std::uint8_t* payload = packet + ZEL_MCPU_HEADER_SIZE;
        return ZELSum8(payload, payloadLength) == payload[payloadLength] ? RESULT_COMPLETE : RESULT_PAYLOAD_CHECKSUM;
    }
    if (m_protocol == ZEL_PROTOCOL_MCPU_CRC) {
        if (size < ZEL_MCPU_HEADER_SIZE)
            return RESULT_WRONG_LENGTH;
        // Both CRC bytes must lie inside the buffer, not just the first.
        const std::size_t crcOffset = packet[2] + ZEL_MCPU_HEADER_SIZE;
        if (crcOffset + 2 > size)
            return RESULT_WRONG_LENGTH;
        const std::uint16_t stored = static_cast<std::uint16_t>(packet[crcOffset] | (packet[crcOffset + 1] << 8));
        return ZELCrc16(packet + 1, crcOffset - 1) == stored ? RESULT_COMPLETE : RESULT_PAYLOAD_CHECKSUM;
    }
    return RESULT_PAYLOAD_CHECKSUM;
}

void CZELPacketFramer::ResetCommandBuffer()
{
    m_receivedCount = 0;
    m_expectedLength = 0;
    m_lastByteTime.reset();
}

void CZELPacketFramer::RestartCommandBuffer()
{
    // The rescan works on a copy: feeding rewrites the buffer from its start while the scan goes on.
    const std::size_t count = m_receivedCount;
    std::array<std::uint8_t, ZEL_RECEIVE_BUFFER_SIZE> rejected;
    std::memcpy(rejected.data(), m_buffer.data(), count);
    ResetCommandBuffer();

    const int start = ZELStartByteOfProtocol(m_protocol);
    if (start < 0)
        return;
    std::size_t position = 1;
    while (position < count) {
        if (rejected[position] != start) {
            ++position;
            continue;
        }
        ResetCommandBuffer();
        std::size_t next = position;
        long result = RESULT_MORE;
        while (next < count && result == RESULT_MORE)
            result = AddByte(rejected[next++]);
        if (result == RESULT_COMPLETE) {
            position = next;
        } else if (result == RESULT_REJECTED) {
            ResetCommandBuffer();
            ++position;
        } else {
            break; // every byte fed: the partial packet stays for the bytes still to come
        }
    }
}

void CZELPacketFramer::Publish(const std::uint8_t* packet, std::size_t length)
{
    if (m_callback)
        m_callback(packet, length);
}
