#pragma once

#include "zel/commands/ZELCommandRecords.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

// The device's command language: request builders that lay out packets in a caller's buffer and leave the
// checksum bytes to CalculateChecksums, and parsers of acknowledgements and notifications. Builders and
// parsers are virtual so that the traffic dump and the command helper can override them.
//
// A parser takes the packet's first byte and trusts the length the packet announces: the caller hands over
// a whole packet as the framer delivers it. Within that, no parser reads beyond the announced payload and
// none writes beyond the buffer sizes it is given.
class CZELCommandSet
{
public:
    CZELCommandSet() = default;
    CZELCommandSet(const CZELCommandSet&) = delete;
    CZELCommandSet& operator=(const CZELCommandSet&) = delete;
    virtual ~CZELCommandSet() = default;

    virtual long SetProtocol(std::uint16_t protocol);
    virtual std::uint16_t GetProtocol(std::uint16_t* protocol = nullptr) const;

    // Checksums (and for the CCPU family the sequence number) by the packet's first byte; the buffer must
    // hold the length its header announces.
    long CalculateChecksums(std::uint8_t* packet);
    // The same for a packet of `length` bytes: a header announcing more than that gives ZEL_STATUS_WRONG_LENGTH
    // and leaves the packet unchanged.
    long CalculateChecksums(std::uint8_t* packet, std::size_t length);
    long CalculateChecksumsForCCPU(std::uint8_t* packet);
    long CalculateChecksumsForMCPU(std::uint8_t* packet);

    // The length a packet announces (header plus payload plus checksums), 0 for an unknown first byte or a
    // header shorter than `available` cannot show.
    static std::size_t GetAnnouncedPacketLength(const std::uint8_t* packet, std::size_t available);

private:
    struct ProtocolState
    {
        std::uint16_t protocol;
        std::uint8_t mcpuDelimiter;
        std::uint8_t mcpuOverhead; // header plus trailer: the length of a request without payload
    };

protected:
    ProtocolState GetProtocolState() const { return m_protocolState.load(); }
    std::uint8_t NextSequenceNumber();

    // Set by the ECPU PWM parsers: 1 after a two-channel answer, 0 after a one-channel one.
    std::atomic<std::uint8_t> m_twoChannels{0};

private:
    // Builders and parsers run on several threads without a lock, so the shared state is atomic; the protocol
    // and its MCPU delimiter change together.
    std::atomic<std::uint8_t> m_sequenceNumber{1};
    std::atomic<ProtocolState> m_protocolState{ProtocolState{0x4800, 0x3E, 5}};
};

CZELCommandSet& GetZELCommandSet();
