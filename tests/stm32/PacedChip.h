#pragma once

#include "sim/CSimSTM32BootLoader.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

namespace ZELTest {

// 115200 baud 8E1: start, 8 data, parity and stop bit per byte.
constexpr double kPacedBaud = 115200;
constexpr double kPacedBitsPerByte = 11;
constexpr double kPacedWireBytesPerSecond = kPacedBaud / kPacedBitsPerByte;

// A simulated bootloader that holds each answer back until the bytes that caused it, and the
// answer itself, would have crossed a real line at the baud rate.
class PacedChip
{
public:
    using Clock = std::chrono::steady_clock;
    using Bytes = std::vector<std::uint8_t>;

    explicit PacedChip(CSimSTM32BootLoader::Settings settings)
        : m_chip(std::move(settings))
    {
    }

    Bytes Receive(const std::uint8_t* data, std::size_t size)
    {
        const auto now = Clock::now();
        m_received = std::max(m_received, now) + ByteTime(size);
        Bytes answer = m_chip.Receive(data, size);
        const auto sent = m_received + ByteTime(answer.size());
        std::this_thread::sleep_until(sent);
        return answer;
    }
    const CSimSTM32BootLoader& Chip() const { return m_chip; }

private:
    static Clock::duration ByteTime(std::size_t count)
    {
        return std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(static_cast<double>(count) / kPacedWireBytesPerSecond));
    }

    CSimSTM32BootLoader m_chip;
    Clock::time_point m_received {};
};

} // namespace ZELTest
