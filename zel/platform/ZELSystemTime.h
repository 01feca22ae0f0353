#pragma once

#include <cstdint>

// Calendar record with the same eight 16-bit fields, in the same order, as the device protocol
// and the serial-traffic records carry it.
struct SYSTEMTIME
{
    std::uint16_t wYear = 0;
    std::uint16_t wMonth = 0;
    std::uint16_t wDayOfWeek = 0; // 0 = Sunday
    std::uint16_t wDay = 0;
    std::uint16_t wHour = 0;
    std::uint16_t wMinute = 0;
    std::uint16_t wSecond = 0;
    std::uint16_t wMilliseconds = 0;
};
static_assert(sizeof(SYSTEMTIME) == 16);

namespace ZELPlatform {

// A file time counts 100-nanosecond units since 1601-01-01 00:00 UTC.
using FileTime = std::int64_t;

// Offset between the 1601 and the 1970 epochs in 100-nanosecond units.
inline constexpr FileTime kFileTimeUnixEpoch = 116444736000000000LL;

FileTime GetSystemTimeAsFileTime();
void GetSystemTime(SYSTEMTIME& utc);
void GetLocalTime(SYSTEMTIME& local);

// Plain calendar arithmetic without any time-zone change. Fails (false) for a record outside the
// representable range or with an invalid field (month 13, 30 February, hour 24, ...).
bool SystemTimeToFileTime(const SYSTEMTIME& time, FileTime& fileTime);
bool FileTimeToSystemTime(FileTime fileTime, SYSTEMTIME& time);

// Converts a UTC record into the local time of this machine's time zone.
bool UtcToLocalTime(const SYSTEMTIME& utc, SYSTEMTIME& local);

// Milliseconds of a monotonic clock, for elapsed-time measurements.
std::int64_t GetTickCountMs();

// Test hook: moves the wall clock of GetSystemTimeAsFileTime (and of every calendar time taken
// from it) by `step`, as a time synchronisation or a resumed laptop does. Monotonic clocks stay.
void StepWallClockForTests(FileTime step);

} // namespace ZELPlatform

namespace ZELPlatform {

// High-resolution monotonic counter for stop watches: its rate in ticks per second (0 when the
// machine has none) and its current value (false when it cannot be read).
std::int64_t GetPerformanceFrequency();
bool GetPerformanceCounter(std::int64_t& ticks);

} // namespace ZELPlatform
