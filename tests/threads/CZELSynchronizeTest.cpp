#include "zel/foundation/ZELStatus.h"
#include "zel/platform/CZELEvent.h"
#include "zel/threads/CZELSynchronize.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

// True when another thread can take the lock at this moment.
bool FreeForOthers(CZELRecursiveMutex& lock)
{
    bool taken = false;
    std::thread other([&] {
        taken = lock.try_lock();
        if (taken)
            lock.unlock();
    });
    other.join();
    return taken;
}

} // namespace

TEST(CZELSynchronize, GuardsItsScope)
{
    CZELRecursiveMutex lock;
    {
        CZELSynchronize sync(&lock);
        EXPECT_TRUE(sync.IsOwner());
        EXPECT_FALSE(FreeForOthers(lock));
    }
    EXPECT_TRUE(FreeForOthers(lock));

    CZELSynchronize notEntered(&lock, false);
    EXPECT_FALSE(notEntered.IsOwner());
    EXPECT_TRUE(FreeForOthers(lock));
}

TEST(CZELSynchronize, OwnerEntersWithoutNestingAndOneLeaveReleases)
{
    CZELRecursiveMutex lock;
    CZELSynchronize sync(&lock);
    for (const std::uint32_t timeout : {0u, 1u, 100u})
        EXPECT_EQ(sync.Enter(timeout), ZEL_STATUS_SUCCESS) << timeout;
    EXPECT_EQ(sync.Leave(), ZEL_STATUS_SUCCESS);
    EXPECT_FALSE(sync.IsOwner());
    EXPECT_TRUE(FreeForOthers(lock));
    EXPECT_EQ(sync.Leave(), ZEL_STATUS_SUCCESS);
}

TEST(CZELSynchronize, GuardWithoutLock)
{
    CZELSynchronize sync;
    EXPECT_EQ(sync.Enter(0), ZEL_STATUS_UNSPECIFIC_ERROR);
    EXPECT_EQ(sync.Enter(10), ZEL_STATUS_UNSPECIFIC_ERROR);
    EXPECT_EQ(sync.Leave(), ZEL_STATUS_SUCCESS); // not owner
    EXPECT_EQ(sync.Initialize(nullptr, false), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(sync.Initialize(nullptr, true), ZEL_STATUS_UNSPECIFIC_ERROR);
}

TEST(CZELSynchronize, InitializeLeavesThePreviousLock)
{
    CZELRecursiveMutex first;
    CZELRecursiveMutex second;
    CZELSynchronize sync(&first);
    EXPECT_EQ(sync.Initialize(&second, true), ZEL_STATUS_SUCCESS);
    EXPECT_TRUE(FreeForOthers(first));
    EXPECT_FALSE(FreeForOthers(second));
}

TEST(CZELSynchronize, EnterGivesUpAfterItsTimeout)
{
    CZELRecursiveMutex lock;
    CZELEvent held;
    CZELEvent release;
    std::thread holder([&] {
        std::lock_guard guard(lock);
        held.Set();
        release.Wait(std::chrono::milliseconds(-1));
    });
    ASSERT_TRUE(held.Wait(std::chrono::seconds(20)));

    CZELSynchronize sync(&lock, false);
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(sync.Enter(20), ZEL_STATUS_TIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(20));
    EXPECT_FALSE(sync.IsOwner());

    release.Set();
    holder.join();
    EXPECT_EQ(sync.Enter(20), ZEL_STATUS_SUCCESS);
    EXPECT_TRUE(sync.IsOwner());
}
