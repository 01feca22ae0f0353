#include "zel/platform/CZELDeadline.h"

#include "zel/foundation/CZELTimeTable.h"
#include "zel/platform/CZELEvent.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;

TEST(CZELDeadline, RemainingShrinksToZeroAndNeverBelow)
{
    const CZELDeadline deadline(10s);
    EXPECT_FALSE(deadline.Expired());
    EXPECT_GT(deadline.Remaining(), 9s);
    EXPECT_LE(deadline.Remaining(), 10s);

    const CZELDeadline past(-5ms);
    EXPECT_TRUE(past.Expired());
    EXPECT_EQ(past.Remaining(), 0ms);
}

TEST(CZELDeadline, NeverHasNoEnd)
{
    const CZELDeadline never = CZELDeadline::Never();
    EXPECT_TRUE(never.IsNever());
    EXPECT_FALSE(never.Expired());
    EXPECT_EQ(never.Remaining(), std::chrono::milliseconds::max());
}

TEST(CZELTimeTable, ScalingShortensTimesButKeepsCountsAndAFloor)
{
    CZELTimeTable table;
    table.ScaleForTests(1000);
    EXPECT_EQ(table.requestResend, 5ms);
    EXPECT_EQ(table.requestTimeout, 11ms);
    EXPECT_EQ(table.threadHangThreshold, 900ms);
    EXPECT_EQ(table.stepPoll, 1ms) << "100 ms / 1000 is kept at the 1 ms floor";
    EXPECT_EQ(table.ecpuBlockMaxResends, 12);

    // A deadline from the scaled table expires on the scaled time: an 11 s time-out ends in 11 ms.
    CZELEvent never;
    const CZELDeadline deadline(table.requestTimeout);
    EXPECT_FALSE(never.WaitUntil(deadline));
    EXPECT_TRUE(deadline.Expired());
}
