#pragma once

// Device packets for tests, with checksums filled in by the command set as the serial port does.
#include "zel/commands/CZELCommandSet.h"

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace ZELTest {

using Bytes = std::vector<std::uint8_t>;

inline Bytes CCPUPacket(std::uint8_t delimiter, std::uint16_t id, const Bytes& payload)
{
    Bytes packet{delimiter, static_cast<std::uint8_t>(id), static_cast<std::uint8_t>(id >> 8),
        static_cast<std::uint8_t>(payload.size()), static_cast<std::uint8_t>(payload.size() >> 8), 0, 0};
    packet.insert(packet.end(), payload.begin(), payload.end());
    if (!payload.empty())
        packet.push_back(0);
    CZELCommandSet commands;
    commands.CalculateChecksums(packet.data(), packet.size());
    return packet;
}

inline Bytes MCPUPacket(std::uint8_t delimiter, std::uint8_t id, const Bytes& payload)
{
    Bytes packet{delimiter, id, static_cast<std::uint8_t>(payload.size()), 0};
    packet.insert(packet.end(), payload.begin(), payload.end());
    packet.resize(packet.size() + (delimiter == 0x3E ? 1 : 2));
    CZELCommandSet commands;
    commands.CalculateChecksums(packet.data(), packet.size());
    return packet;
}

inline Bytes Join(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// The characters of a text and its terminator.
inline Bytes Text(const std::string& text)
{
    Bytes bytes(text.begin(), text.end());
    bytes.push_back(0);
    return bytes;
}

} // namespace ZELTest
