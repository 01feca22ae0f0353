// Time zones given as POSIX TZ rules, which only the Linux C library reads.
#include "zel/platform/ZELSystemTime.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

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

TEST(ZELSystemTime, LocalTimeAppliesTheTimeZone)
{
    const char* previous = std::getenv("TZ");
    const std::string saved = previous ? previous : "";
    ::setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    ::tzset();

    SYSTEMTIME local;
    ASSERT_TRUE(ZELPlatform::UtcToLocalTime(Make(2021, 1, 15, 23, 30), local));
    EXPECT_EQ(local.wDay, 16);
    EXPECT_EQ(local.wHour, 0);
    ASSERT_TRUE(ZELPlatform::UtcToLocalTime(Make(2021, 7, 1, 10, 0, 0, 250), local));
    EXPECT_EQ(local.wHour, 12);
    EXPECT_EQ(local.wMilliseconds, 250);

    if (previous)
        ::setenv("TZ", saved.c_str(), 1);
    else
        ::unsetenv("TZ");
    ::tzset();
}
