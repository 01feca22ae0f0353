#pragma once

#include <chrono>

// A point in steady time by which something must have happened. Waits, the receive thread and the
// bootloader client ask it how much time is left instead of counting elapsed time themselves.
class CZELDeadline
{
public:
    using Clock = std::chrono::steady_clock;

    explicit CZELDeadline(std::chrono::milliseconds duration)
        : m_end(Clock::now() + duration)
    {
    }

    static CZELDeadline Never() { return CZELDeadline(Clock::time_point::max()); }

    // Time left, never negative.
    std::chrono::milliseconds Remaining() const
    {
        if (m_end == Clock::time_point::max())
            return std::chrono::milliseconds::max();
        const auto now = Clock::now();
        if (now >= m_end)
            return std::chrono::milliseconds::zero();
        return std::chrono::ceil<std::chrono::milliseconds>(m_end - now);
    }

    bool Expired() const { return Clock::now() >= m_end; }
    bool IsNever() const { return m_end == Clock::time_point::max(); }
    Clock::time_point End() const { return m_end; }

private:
    explicit CZELDeadline(Clock::time_point end)
        : m_end(end)
    {
    }

    Clock::time_point m_end;
};
