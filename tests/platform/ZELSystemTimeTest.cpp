#include "zel/platform/ZELSystemTime.h"

#include <gtest/gtest.h>

#include <cstdlib>

using ZELPlatform::FileTime;

namespace {

SYSTEMTIME Make(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0)
{
    SYSTEMTIME t;
    t.wYear = static_cast<std::uint16_t>(y);
    t.wMonth = static_cast<std::uint16_t>(mo);
    t.wDay = static_cast<std::uint16_t>(d);
    t.wHour = static_cast<std::uint16_t>(h);
    t.wMinute = static_cast<std::uint16_t>(mi);
    t.wSecond = static_cast<std::uint16_t>(s);
    t.wMilliseconds = static_cast<std::uint16_t>(ms);
    return t;
}

} // namespace

TEST(ZELSystemTime, ConvertsKnownDatesToFileTime)
{
    struct Case
    {
        SYSTEMTIME time;
        FileTime expected;
    };
    const Case cases[] = {
        {Make(1601, 1, 1), 0},
        {Make(1970, 1, 1), ZELPlatform::kFileTimeUnixEpoch},
        {Make(1970, 1, 1, 0, 0, 1, 500), ZELPlatform::kFileTimeUnixEpoch + 15000000},
        {Make(2000, 2, 29, 12), 125962560000000000LL + 12LL * 3600 * 10000000},
        {Make(2021, 4, 16, 9, 5, 33, 17), 132630375330170000LL},
    };
    for (const Case& c : cases) {
        FileTime fileTime = -1;
        ASSERT_TRUE(ZELPlatform::SystemTimeToFileTime(c.time, fileTime)) << c.time.wYear;
        EXPECT_EQ(fileTime, c.expected) << c.time.wYear << "-" << c.time.wMonth << "-" << c.time.wDay;

        SYSTEMTIME back;
        ASSERT_TRUE(ZELPlatform::FileTimeToSystemTime(fileTime, back));
        EXPECT_EQ(back.wYear, c.time.wYear);
        EXPECT_EQ(back.wMonth, c.time.wMonth);
        EXPECT_EQ(back.wDay, c.time.wDay);
        EXPECT_EQ(back.wHour, c.time.wHour);
        EXPECT_EQ(back.wMinute, c.time.wMinute);
        EXPECT_EQ(back.wSecond, c.time.wSecond);
        EXPECT_EQ(back.wMilliseconds, c.time.wMilliseconds);
    }
}

TEST(ZELSystemTime, DayOfWeekFollowsTheCalendar)
{
    SYSTEMTIME t;
    FileTime fileTime = 0;
    ASSERT_TRUE(ZELPlatform::SystemTimeToFileTime(Make(2021, 4, 16), fileTime)); // a Friday
    ASSERT_TRUE(ZELPlatform::FileTimeToSystemTime(fileTime, t));
    EXPECT_EQ(t.wDayOfWeek, 5);
}

TEST(ZELSystemTime, RefusesInvalidRecords)
{
    const SYSTEMTIME invalid[] = {
        Make(2021, 13, 1), Make(2021, 0, 1), Make(2021, 2, 29), Make(2021, 4, 31), Make(2021, 1, 0),
        Make(2021, 1, 1, 24), Make(2021, 1, 1, 0, 60), Make(2021, 1, 1, 0, 0, 60), Make(2021, 1, 1, 0, 0, 0, 1000),
        Make(1600, 12, 31), Make(30828, 1, 1),
    };
    for (const SYSTEMTIME& t : invalid) {
        FileTime fileTime = 42;
        EXPECT_FALSE(ZELPlatform::SystemTimeToFileTime(t, fileTime))
            << t.wYear << "-" << t.wMonth << "-" << t.wDay << " " << t.wHour << ":" << t.wMinute << ":" << t.wSecond;
        EXPECT_EQ(fileTime, 42);
    }
}

TEST(ZELSystemTime, SystemTimeIsUtcNow)
{
    SYSTEMTIME now;
    ZELPlatform::GetSystemTime(now);
    FileTime fileTime = 0;
    ASSERT_TRUE(ZELPlatform::SystemTimeToFileTime(now, fileTime));
    const FileTime reference = ZELPlatform::GetSystemTimeAsFileTime();
    EXPECT_LT(std::llabs(reference - fileTime), 10LL * 10000000); // within ten seconds
    EXPECT_GE(now.wYear, 2024);
}
