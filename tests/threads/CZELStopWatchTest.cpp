#include "zel/foundation/ZELStatus.h"
#include "zel/threads/CZELStopWatch.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

// A counter the test moves by hand: 1000 ticks per second, so one tick is one millisecond.
std::int64_t g_frequency = 1000;
std::int64_t g_ticks = 0;
bool g_readable = true;

std::int64_t FakeFrequency()
{
    return g_frequency;
}

bool FakeRead(std::int64_t& ticks)
{
    ticks = g_ticks;
    return g_readable;
}

struct Step
{
    std::int64_t ticks; // counter value when the operation runs
    std::string operation;
    long status;
    double milliSeconds; // GetAsMilliSeconds right after it
};

struct Case
{
    const char* name;
    std::vector<Step> steps;
};

} // namespace

TEST(CZELStopWatch, SumsIntervalsAsTheOperationsSay)
{
    const std::vector<Case> cases = {
        {"stop twice", {{0, "Start", 0, 0}, {5, "Stop", 0, 5}, {9, "Stop", ZEL_STATUS_INVALID_OPERATION, 5}}},
        {"continue adds the next interval",
            {{10, "Start", 0, 0}, {15, "Stop", 0, 5}, {100, "Continue", 0, 5}, {103, "Stop", 0, 8}}},
        {"continue while running", {{0, "Start", 0, 0}, {4, "Continue", ZEL_STATUS_INVALID_OPERATION, 4}}},
        {"start after stop starts from zero", {{0, "Start", 0, 0}, {5, "Stop", 0, 5}, {7, "Start", 0, 0}}},
        {"start while running starts over", {{0, "Start", 0, 0}, {5, "Start", 0, 0}, {8, "Stop", 0, 3}}},
        {"reset clears", {{0, "Start", 0, 0}, {5, "Reset", 0, 0}, {9, "Stop", ZEL_STATUS_INVALID_OPERATION, 0}}},
        {"getter while running grows", {{0, "Start", 0, 0}, {3, "Get", 0, 3}, {6, "Get", 0, 6}, {7, "Stop", 0, 7}}},
    };
    for (const Case& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        g_ticks = 0;
        CZELStopWatch watch({&FakeFrequency, &FakeRead});
        for (const Step& step : testCase.steps) {
            SCOPED_TRACE(step.operation);
            g_ticks = step.ticks;
            long status = 0;
            if (step.operation == "Start")
                status = watch.Start();
            else if (step.operation == "Stop")
                status = watch.Stop();
            else if (step.operation == "Continue")
                status = watch.Continue();
            else if (step.operation == "Reset")
                status = watch.Reset();
            EXPECT_EQ(status, step.status);
            EXPECT_DOUBLE_EQ(watch.GetAsMilliSeconds(), step.milliSeconds);
            EXPECT_DOUBLE_EQ(watch.GetAsSeconds(), step.milliSeconds / 1000.0);
            EXPECT_DOUBLE_EQ(watch.GetAsMicroSeconds(), step.milliSeconds * 1000.0);
        }
    }
}

TEST(CZELStopWatch, WithoutCounter)
{
    g_frequency = 0;
    CZELStopWatch watch({&FakeFrequency, &FakeRead});
    g_frequency = 1000;
    EXPECT_EQ(watch.Start(), ZEL_STATUS_OPERATION_BROKEN);
    EXPECT_EQ(watch.Continue(), ZEL_STATUS_OPERATION_BROKEN);
    EXPECT_EQ(watch.Stop(), ZEL_STATUS_INVALID_OPERATION);
    EXPECT_EQ(watch.GetAsSeconds(), 0.0);
}

TEST(CZELStopWatch, UnreadableCounter)
{
    g_ticks = 0;
    g_readable = true;
    CZELStopWatch watch({&FakeFrequency, &FakeRead});
    ASSERT_EQ(watch.Start(), ZEL_STATUS_SUCCESS);
    g_ticks = 5;
    EXPECT_EQ(watch.Stop(), ZEL_STATUS_SUCCESS);
    g_readable = false;
    EXPECT_EQ(watch.Continue(), ZEL_STATUS_OPERATION_BROKEN);
    EXPECT_EQ(watch.Stop(), ZEL_STATUS_INVALID_OPERATION);
    EXPECT_EQ(watch.Start(), ZEL_STATUS_OPERATION_BROKEN);
    g_readable = true;
    EXPECT_EQ(watch.GetAsMilliSeconds(), 0.0); // the failed start cleared the sum
}

TEST(CZELStopWatch, PlatformCounterRuns)
{
    CZELStopWatch watch;
    ASSERT_EQ(watch.Start(), ZEL_STATUS_SUCCESS);
    const double first = watch.GetAsMicroSeconds();
    double later = first;
    // The counter has nanosecond ticks; a few reads later it has moved on.
    for (int i = 0; i < 1000000 && later == first; ++i)
        later = watch.GetAsMicroSeconds();
    EXPECT_GT(later, first);
    EXPECT_EQ(watch.Stop(), ZEL_STATUS_SUCCESS);
    const double stopped = watch.GetAsMicroSeconds();
    EXPECT_EQ(watch.GetAsMicroSeconds(), stopped);
}
