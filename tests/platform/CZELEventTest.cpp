#include "zel/platform/CZELEvent.h"

#include <gtest/gtest.h>

#include <thread>

using namespace std::chrono_literals;

TEST(CZELEvent, StaysSetUntilReset)
{
    CZELEvent event;
    EXPECT_FALSE(event.IsSet());
    EXPECT_FALSE(event.Wait(0ms));
    event.Set();
    EXPECT_TRUE(event.Wait(0ms));
    EXPECT_TRUE(event.Wait(0ms)) << "a manual-reset event releases every wait until it is reset";
    event.Reset();
    EXPECT_FALSE(event.Wait(1ms));
}

TEST(CZELEvent, WakesWaitersOnAnotherThread)
{
    CZELEvent event;
    CZELEvent started;
    bool woke = false;
    std::thread waiter([&] {
        started.Set();
        woke = event.Wait(30s);
    });
    ASSERT_TRUE(started.Wait(30s));
    event.Set();
    waiter.join();
    EXPECT_TRUE(woke);
}

TEST(CZELEvent, WaitUntilGivesUpAtTheDeadline)
{
    CZELEvent event;
    const CZELDeadline deadline(20ms);
    EXPECT_FALSE(event.WaitUntil(deadline));
    EXPECT_TRUE(deadline.Expired());
}
