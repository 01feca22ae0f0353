#pragma once

#include "zel/serial/ZELProtocol.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

// Cuts the received byte stream into packets of the current protocol, checks their checksums and hands
// every accepted packet to a callback. The serial port's receive thread, the tests and the fuzzers drive
// this same code; it has no thread and no lock of its own (one thread feeds it).
class CZELPacketFramer
{
public:
    using Clock = std::chrono::steady_clock;
    // The packet from its delimiter to its last checksum byte; valid only during the call.
    using PacketCallback = std::function<void(const std::uint8_t* packet, std::size_t length)>;

    // Results of the framing operations.
    static constexpr long RESULT_COMPLETE = 0;           // packet complete and handed on, or checksum verified
    static constexpr long RESULT_MORE = -29;             // more bytes are needed
    static constexpr long RESULT_REJECTED = -28;         // packet rejected; RestartCommandBuffer rescans
    static constexpr long RESULT_PAYLOAD_CHECKSUM = -30; // payload checksum wrong
    static constexpr long RESULT_WRONG_LENGTH = -27;     // announced length does not fit the buffer

    struct Counters
    {
        std::uint32_t receivedPackets = 0;
        std::uint32_t invalidStartDelimiter = 0; // ISD: bytes dropped while waiting for a start byte
        std::uint32_t invalidHeaderChecksum = 0; // IHCS
        std::uint32_t invalidPayloadChecksum = 0; // IPCS
        std::uint32_t timeout = 0;               // silence after an unfinished packet or dropped bytes
        std::uint32_t tooLong = 0;               // packets that would not fit the receive buffer
    };

    explicit CZELPacketFramer(PacketCallback callback = {});

    void SetCallback(PacketCallback callback);
    // Accepts the protocol ids of ZELIsKnownProtocol; the next byte is framed by the new protocol.
    long SetProtocol(std::uint16_t protocol);
    std::uint16_t GetProtocol() const { return m_protocol; }

    // One read's worth of bytes arriving at `now`: each byte passes the start-delimiter filter and AddByte,
    // a rejected packet is rescanned. Under protocol 3 nothing is framed and the state is cleared.
    void Receive(const std::uint8_t* data, std::size_t length, Clock::time_point now);
    // Drops an unfinished packet after the silence of the time table; true when it counted a timeout.
    bool CheckTimeout(Clock::time_point now);

    // One byte through the start-delimiter filter and AddByte, with the rescan after a rejection.
    long FeedByte(std::uint8_t byte);
    long AddByte(std::uint8_t byte);
    // Verifies the payload checksum of the buffered packet and hands it on.
    long ProcessCommand(const std::uint8_t* packet);
    // Checks the payload checksum of a packet held in `size` bytes, never reading beyond them.
    long VerifyPayloadCheckSum(const std::uint8_t* packet, std::uint16_t size) const;
    void ResetCommandBuffer();
    void RestartCommandBuffer();

    const Counters& GetCounters() const { return m_counters; }
    void ResetCounters() { m_counters = Counters{}; }
    std::size_t GetReceivedCount() const { return m_receivedCount; }
    std::size_t GetExpectedLength() const { return m_expectedLength; }
    bool IsTimeoutPending() const { return m_lastByteTime.has_value(); }

private:
    long AddByteCCPU();
    long AddByteMCPU();
    long AddByteWordCount();
    long CompletePacket();
    void Publish(const std::uint8_t* packet, std::size_t length);

    PacketCallback m_callback;
    std::uint16_t m_protocol = ZEL_PROTOCOL_CCPU;
    std::uint16_t m_receivedCount = 0;
    std::uint16_t m_expectedLength = 0; // 0 while unknown
    std::optional<Clock::time_point> m_lastByteTime; // empty while idle
    Counters m_counters;
    std::array<std::uint8_t, ZEL_RECEIVE_BUFFER_SIZE> m_buffer{};
};
