#pragma once

#include <cstddef>
#include <cstdint>

// Sum of the bytes modulo 256: header and payload checksums of both packet families.
std::uint8_t ZELSum8(const std::uint8_t* data, std::size_t length);

// CRC-16 of the 0x24 framing: polynomial 0x8005, register starting at 0, each byte's bits taken from the
// least significant one, no reflection of the result and no final XOR ("123456789" gives 0xBCDD).
std::uint16_t ZELCrc16(const std::uint8_t* data, std::size_t length);
