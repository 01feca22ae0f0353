#include "zel/serial/ZELChecksums.h"

#include <array>

namespace {

// The register fed least significant bit first is the reflected CRC with its bits in reverse order, so the
// fast reflected table (polynomial 0xA001) does the work and one bit reversal finishes it.
constexpr std::array<std::uint16_t, 256> MakeReflectedTable()
{
    std::array<std::uint16_t, 256> table{};
    for (unsigned value = 0; value < 256; ++value) {
        std::uint16_t crc = static_cast<std::uint16_t>(value);
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<std::uint16_t>((crc & 1U) ? (crc >> 1) ^ 0xA001U : crc >> 1);
        table[value] = crc;
    }
    return table;
}

constexpr std::array<std::uint16_t, 256> g_reflectedTable = MakeReflectedTable();

constexpr std::uint16_t Reverse16(std::uint16_t value)
{
    std::uint16_t result = 0;
    for (int bit = 0; bit < 16; ++bit) {
        result = static_cast<std::uint16_t>((result << 1) | (value & 1U));
        value = static_cast<std::uint16_t>(value >> 1);
    }
    return result;
}

} // namespace

std::uint8_t ZELSum8(const std::uint8_t* data, std::size_t length)
{
    unsigned sum = 0;
    for (std::size_t i = 0; i < length; ++i)
        sum += data[i];
    return static_cast<std::uint8_t>(sum);
}

std::uint16_t ZELCrc16(const std::uint8_t* data, std::size_t length)
{
    std::uint16_t crc = 0;
    for (std::size_t i = 0; i < length; ++i)
        crc = static_cast<std::uint16_t>((crc >> 8) ^ g_reflectedTable[(crc ^ data[i]) & 0xFFU]);
    return Reverse16(crc);
}
