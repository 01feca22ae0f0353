#include "zel/platform/ZELSystemTime.h"

#include <atomic>
#include <chrono>
#include <ctime>

namespace ZELPlatform {

namespace {

using namespace std::chrono;

constexpr FileTime kUnitsPerMs = 10000;
constexpr FileTime kUnitsPerSecond = 10000000;
constexpr int kFirstYear = 1601;
constexpr int kLastYear = 30827;

const sys_days kEpoch1601 = sys_days(year(kFirstYear) / January / 1);

void FromBrokenDownTime(int millis, const std::tm& parts, SYSTEMTIME& out)
{
    out.wYear = static_cast<std::uint16_t>(parts.tm_year + 1900);
    out.wMonth = static_cast<std::uint16_t>(parts.tm_mon + 1);
    out.wDayOfWeek = static_cast<std::uint16_t>(parts.tm_wday);
    out.wDay = static_cast<std::uint16_t>(parts.tm_mday);
    out.wHour = static_cast<std::uint16_t>(parts.tm_hour);
    out.wMinute = static_cast<std::uint16_t>(parts.tm_min);
    out.wSecond = static_cast<std::uint16_t>(parts.tm_sec > 59 ? 59 : parts.tm_sec);
    out.wMilliseconds = static_cast<std::uint16_t>(millis);
}

} // namespace

namespace {

std::atomic<FileTime> g_wallClockStep{0};

} // namespace

FileTime GetSystemTimeAsFileTime()
{
    const auto sinceUnix = duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
    return kFileTimeUnixEpoch + sinceUnix * 10 + g_wallClockStep.load(std::memory_order_relaxed);
}

void StepWallClockForTests(FileTime step)
{
    g_wallClockStep.fetch_add(step, std::memory_order_relaxed);
}

void GetSystemTime(SYSTEMTIME& utc)
{
    FileTimeToSystemTime(GetSystemTimeAsFileTime(), utc);
}

void GetLocalTime(SYSTEMTIME& local)
{
    SYSTEMTIME utc;
    GetSystemTime(utc);
    UtcToLocalTime(utc, local);
}

bool SystemTimeToFileTime(const SYSTEMTIME& time, FileTime& fileTime)
{
    if (time.wYear < kFirstYear || time.wYear > kLastYear)
        return false;
    const year_month_day date{year(time.wYear), month(time.wMonth), day(time.wDay)};
    if (!date.ok() || time.wHour > 23 || time.wMinute > 59 || time.wSecond > 59 || time.wMilliseconds > 999)
        return false;
    const FileTime days = (sys_days(date) - kEpoch1601).count();
    const FileTime seconds = ((days * 24 + time.wHour) * 60 + time.wMinute) * 60 + time.wSecond;
    fileTime = seconds * kUnitsPerSecond + FileTime(time.wMilliseconds) * kUnitsPerMs;
    return true;
}

bool FileTimeToSystemTime(FileTime fileTime, SYSTEMTIME& time)
{
    if (fileTime < 0)
        return false;
    const FileTime totalMs = fileTime / kUnitsPerMs;
    const FileTime dayMs = 86400000;
    const sys_days date = kEpoch1601 + days(totalMs / dayMs);
    FileTime msOfDay = totalMs % dayMs;
    const year_month_day ymd{date};
    if (int(ymd.year()) > kLastYear)
        return false;
    time.wYear = static_cast<std::uint16_t>(int(ymd.year()));
    time.wMonth = static_cast<std::uint16_t>(unsigned(ymd.month()));
    time.wDay = static_cast<std::uint16_t>(unsigned(ymd.day()));
    time.wDayOfWeek = static_cast<std::uint16_t>(weekday(date).c_encoding());
    time.wHour = static_cast<std::uint16_t>(msOfDay / 3600000);
    msOfDay %= 3600000;
    time.wMinute = static_cast<std::uint16_t>(msOfDay / 60000);
    msOfDay %= 60000;
    time.wSecond = static_cast<std::uint16_t>(msOfDay / 1000);
    time.wMilliseconds = static_cast<std::uint16_t>(msOfDay % 1000);
    return true;
}

bool UtcToLocalTime(const SYSTEMTIME& utc, SYSTEMTIME& local)
{
    FileTime fileTime = 0;
    if (!SystemTimeToFileTime(utc, fileTime))
        return false;
    const FileTime sinceUnix = fileTime - kFileTimeUnixEpoch;
    std::time_t seconds = static_cast<std::time_t>(sinceUnix / kUnitsPerSecond);
    FileTime rest = sinceUnix % kUnitsPerSecond;
    if (rest < 0) {
        rest += kUnitsPerSecond;
        --seconds;
    }
    std::tm parts{};
    if (::localtime_r(&seconds, &parts) == nullptr)
        return false;
    FromBrokenDownTime(static_cast<int>(rest / kUnitsPerMs), parts, local);
    return true;
}

std::int64_t GetTickCountMs()
{
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace ZELPlatform

namespace ZELPlatform {

std::int64_t GetPerformanceFrequency()
{
    return static_cast<std::int64_t>(steady_clock::period::den / steady_clock::period::num);
}

bool GetPerformanceCounter(std::int64_t& ticks)
{
    ticks = static_cast<std::int64_t>(steady_clock::now().time_since_epoch().count());
    return true;
}

} // namespace ZELPlatform
