#pragma once

#include <cstdint>

// Framing protocol ids shared by the serial port, the receive framer and the command set.
inline constexpr std::uint16_t ZEL_PROTOCOL_NONE = 1;               // every received byte is dropped
inline constexpr std::uint16_t ZEL_PROTOCOL_WORD_COUNT = 2;         // 0x43, count k, 4*k bytes
inline constexpr std::uint16_t ZEL_PROTOCOL_RADIO_STATISTICS = 3;   // 40-byte radio statistics reads
inline constexpr std::uint16_t ZEL_PROTOCOL_VELTRIX = 4;
inline constexpr std::uint16_t ZEL_PROTOCOL_OMBRA = 5;
inline constexpr std::uint16_t ZEL_PROTOCOL_CCPU = 0x1800;
inline constexpr std::uint16_t ZEL_PROTOCOL_CCPU2 = 0x1880;
inline constexpr std::uint16_t ZEL_PROTOCOL_MCPU = 0x4800;          // 8-bit payload sum
inline constexpr std::uint16_t ZEL_PROTOCOL_MCPU_CRC = 0x4801;      // CRC-16

// First bytes of packets; a CCPU-family delimiter also names the target.
inline constexpr std::uint8_t ZEL_DELIMITER_CCPU = 0x42;
inline constexpr std::uint8_t ZEL_DELIMITER_CCPU2 = 0x19;
inline constexpr std::uint8_t ZEL_DELIMITER_VELTRIX = 0x05;
inline constexpr std::uint8_t ZEL_DELIMITER_OMBRA = 0x85;
inline constexpr std::uint8_t ZEL_DELIMITER_MCPU = 0x3E;
inline constexpr std::uint8_t ZEL_DELIMITER_MCPU_CRC = 0x24;
inline constexpr std::uint8_t ZEL_DELIMITER_WORD_COUNT = 0x43;

// CCPU family: delimiter, 16-bit id, 16-bit length, sequence, header checksum; payload sum after a payload.
inline constexpr std::size_t ZEL_CCPU_HEADER_SIZE = 7;
// MCPU family: delimiter, id, 8-bit length, header checksum; sum (0x3E) or CRC-16 (0x24) after the payload.
inline constexpr std::size_t ZEL_MCPU_HEADER_SIZE = 4;
// The receive buffer; a packet must stay below it.
inline constexpr std::size_t ZEL_RECEIVE_BUFFER_SIZE = 1024;

constexpr bool ZELIsKnownProtocol(std::uint16_t protocol)
{
    switch (protocol) {
    case ZEL_PROTOCOL_NONE:
    case ZEL_PROTOCOL_WORD_COUNT:
    case ZEL_PROTOCOL_RADIO_STATISTICS:
    case ZEL_PROTOCOL_VELTRIX:
    case ZEL_PROTOCOL_OMBRA:
    case ZEL_PROTOCOL_CCPU:
    case ZEL_PROTOCOL_CCPU2:
    case ZEL_PROTOCOL_MCPU:
    case ZEL_PROTOCOL_MCPU_CRC:
        return true;
    default:
        return false;
    }
}

constexpr bool ZELIsCCPUFamily(std::uint16_t protocol)
{
    return protocol == ZEL_PROTOCOL_CCPU || protocol == ZEL_PROTOCOL_CCPU2 || protocol == ZEL_PROTOCOL_VELTRIX ||
           protocol == ZEL_PROTOCOL_OMBRA;
}

constexpr bool ZELIsMCPUFamily(std::uint16_t protocol)
{
    return protocol == ZEL_PROTOCOL_MCPU || protocol == ZEL_PROTOCOL_MCPU_CRC;
}

// The start byte the framer accepts under a protocol, or -1 where it frames nothing.
constexpr int ZELStartByteOfProtocol(std::uint16_t protocol)
{
    switch (protocol) {
    case ZEL_PROTOCOL_CCPU: return ZEL_DELIMITER_CCPU;
    case ZEL_PROTOCOL_CCPU2: return ZEL_DELIMITER_CCPU2;
    case ZEL_PROTOCOL_VELTRIX: return ZEL_DELIMITER_VELTRIX;
    case ZEL_PROTOCOL_OMBRA: return ZEL_DELIMITER_OMBRA;
    case ZEL_PROTOCOL_MCPU: return ZEL_DELIMITER_MCPU;
    case ZEL_PROTOCOL_MCPU_CRC: return ZEL_DELIMITER_MCPU_CRC;
    case ZEL_PROTOCOL_WORD_COUNT: return ZEL_DELIMITER_WORD_COUNT;
    default: return -1;
    }
}
