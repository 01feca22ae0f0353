#pragma once

#include <cstddef>
#include <cstdint>

namespace Scriva {

// Head of the records the serial link publishes: the reporting port's identity (4 bytes), then its
// UTC time stamp as eight 16-bit fields (year, month, day of week, day, hour, minute, second,
// milliseconds), all little-endian. A traffic record carries the packet after the head, a detach
// record a signed 32-bit reason.
inline constexpr std::size_t kRecordIdentityOffset = 0;
inline constexpr std::size_t kRecordTimeOffset = 4;
inline constexpr std::size_t kRecordHeadSize = 20;
inline constexpr std::size_t kDetachRecordSize = 24;

inline std::uint16_t RecordU16(const std::uint8_t* bytes)
{
    return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

inline std::uint32_t RecordU32(const std::uint8_t* bytes)
{
    return bytes[0] | (static_cast<std::uint32_t>(bytes[1]) << 8) | (static_cast<std::uint32_t>(bytes[2]) << 16) |
           (static_cast<std::uint32_t>(bytes[3]) << 24);
}

} // namespace Scriva
