#pragma once

#include "zel/platform/CZELRecursiveMutex.h"

#include <cstdint>

// Measures elapsed time with the high-resolution counter and sums it over several start/stop
// intervals. Every operation runs under the watch's own lock.
class CZELStopWatch
{
public:
    // Where the ticks come from; the platform's counter unless a test hands in its own.
    struct Counter
    {
        std::int64_t (*frequency)();       // ticks per second, 0 when there is no counter
        bool (*read)(std::int64_t& ticks); // false when the counter cannot be read
    };

    CZELStopWatch();
    explicit CZELStopWatch(Counter counter);

    long Reset();
    // Starts over from zero, also while running.
    long Start();
    long Stop();
    // Opens the next interval and keeps what has been summed.
    long Continue();

    // Summed intervals plus the open one; the watch keeps running. 0.0 without a counter.
    double GetAsSeconds();
    double GetAsMilliSeconds();
    double GetAsMicroSeconds();

private:
    void Clear();
    double Elapsed(double unitsPerSecond);

    CZELRecursiveMutex m_lock;
    Counter m_counter;
    std::int64_t m_frequency = 0;
    double m_frequencyAsDouble = 0.0;
    std::int64_t m_start = 0;
    std::int64_t m_stop = 0;
    std::int64_t m_accumulated = 0;
    bool m_running = false;
};
