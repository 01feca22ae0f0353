#include "zel/foundation/ZELStatus.h"
#include "zel/platform/CZELEvent.h"
#include "zel/platform/ZELThreadName.h"
#include "zel/threads/CZELThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>

namespace {

using namespace std::chrono_literals;
constexpr auto kWaitLimit = 20s;

// Counts the hooks around the thread function.
class CountingThread : public CZELThread
{
public:
    std::atomic<int> preCalls{0};
    std::atomic<int> postCalls{0};

protected:
    long PreProcessThread() override
    {
        ++preCalls;
        return ZEL_STATUS_SUCCESS;
    }
    long PostProcessThread() override
    {
        ++postCalls;
        return ZEL_STATUS_SUCCESS;
    }
};

// What a worker saw of itself, and the events a test steers it with.
struct WorkerProbe
{
    CZELThread* thread = nullptr;
    CZELEvent release;
    CZELEvent started;
    std::atomic<unsigned long> kernelId{0};
    std::string kernelName;
    std::atomic<long> lastSleep{1};
    std::atomic<int> wakes{0};
    CZELEvent woke;
};

// Follows the loop pattern of the library's workers: one pass per wake-up of the stop event.
long LoopingWorker(void* data)
{
    auto* probe = static_cast<WorkerProbe*>(data);
    if (!probe->thread->IsRunning())
        return ZEL_STATUS_NOT_INITIALIZED;
    probe->kernelId = ZELPlatform::GetCurrentThreadId();
    probe->kernelName = ZELPlatform::GetCurrentThreadName();
    probe->started.Set();
    probe->thread->SignalStart();
    while (probe->thread->IsRunning()) {
        probe->lastSleep = probe->thread->Sleep(60000);
        if (probe->thread->IsRunning()) {
            ++probe->wakes;
            probe->thread->ResetSoftStop();
            probe->woke.Set();
        }
    }
    return 42;
}

long WaitForRelease(void* data)
{
    static_cast<WorkerProbe*>(data)->release.Wait(std::chrono::milliseconds(-1));
    return 7;
}

long EndsByItself(void* data)
{
    auto* probe = static_cast<WorkerProbe*>(data);
    probe->thread->EndOfThread();
    probe->started.Set();
    return 0;
}

} // namespace

TEST(CZELThread, IdleObjectReportsNoThread)
{
    CZELThread thread;
    std::string name = "untouched";
    unsigned long id = 99;
    EXPECT_EQ(thread.GetThreadName(name), ZEL_STATUS_INVALID_HANDLE);
    EXPECT_EQ(thread.GetThreadID(id), ZEL_STATUS_INVALID_HANDLE);
    EXPECT_EQ(name, "untouched");
    EXPECT_EQ(id, 99u);
    EXPECT_EQ(thread.GetThreadID(), 0xFFFFFFFAu);
    EXPECT_FALSE(thread.IsRunning());
    EXPECT_EQ(thread.GetExitCode(), 0u);
    EXPECT_EQ(thread.DestroyThread(true), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(thread.EndOfThread(), ZEL_STATUS_SUCCESS);
}

TEST(CZELThread, RunsNamedWorkerWithItsKernelIdAndExitCode)
{
    CZELThread thread;
    WorkerProbe probe;
    probe.thread = &thread;
    thread.SetThreadName("ZEL Serial Port Receive");
    ASSERT_EQ(thread.CreateThread(&LoopingWorker, &probe, nullptr, 0, 0, true), ZEL_STATUS_SUCCESS);
    // Waiting for the start means the worker has passed SignalStart.
    EXPECT_TRUE(probe.started.IsSet());
    EXPECT_TRUE(thread.IsRunning());

    std::string name;
    unsigned long id = 0;
    EXPECT_EQ(thread.GetThreadName(name), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(name, "ZEL Serial Port Receive");
    EXPECT_EQ(thread.GetThreadID(id), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(id, probe.kernelId.load());
    EXPECT_EQ(thread.GetThreadID(), probe.kernelId.load());
    // The system keeps at least 15 characters (Linux no more).
    EXPECT_GE(probe.kernelName.size(), 15u);
    EXPECT_EQ(probe.kernelName, name.substr(0, probe.kernelName.size()));

    EXPECT_EQ(thread.CreateThread(&LoopingWorker, &probe), ZEL_STATUS_BUSY);
    EXPECT_EQ(thread.DestroyThread(true), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(thread.GetExitCode(), 42u);
    EXPECT_FALSE(thread.IsRunning());
    EXPECT_EQ(thread.GetThreadID(), 0xFFFFFFFAu);
}

TEST(CZELThread, StopWithoutWaitLeavesTheObjectBusy)
{
    CZELThread thread;
    WorkerProbe probe;
    ASSERT_EQ(thread.CreateThread(&WaitForRelease, &probe), ZEL_STATUS_SUCCESS);
    const unsigned long id = thread.GetThreadID();

    EXPECT_EQ(thread.DestroyThread(false), ZEL_STATUS_SUCCESS);
    EXPECT_FALSE(thread.IsRunning());
    EXPECT_EQ(thread.CreateThread(&WaitForRelease, &probe), ZEL_STATUS_BUSY);
    EXPECT_EQ(thread.GetThreadID(), id);
    EXPECT_EQ(thread.Sleep(0), ZEL_STATUS_OPERATION_BROKEN); // the stop event stays set

    probe.release.Set();
    EXPECT_EQ(thread.DestroyThread(true), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(thread.GetExitCode(), 7u);
    EXPECT_EQ(thread.GetThreadID(), 0xFFFFFFFAu);
}

TEST(CZELThread, NullFunctionEndsWithTheStoredExitCodeAfterBothHooks)
{
    CountingThread thread;
    EXPECT_EQ(thread.SetExitCode(1234), ZEL_STATUS_SUCCESS);
    ASSERT_EQ(thread.CreateThread(nullptr, nullptr), ZEL_STATUS_SUCCESS);
    thread.DestroyThread(true);
    EXPECT_EQ(thread.GetExitCode(), 1234u);
    EXPECT_EQ(thread.preCalls.load(), 1);
    EXPECT_EQ(thread.postCalls.load(), 1);
}

TEST(CZELThread, SleepAndSoftStop)
{
    CZELThread thread;
    EXPECT_EQ(thread.Sleep(0), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(thread.Sleep(1), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(thread.SetSoftStop(), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(thread.Sleep(0), ZEL_STATUS_OPERATION_BROKEN);
    EXPECT_EQ(thread.Sleep(60000), ZEL_STATUS_OPERATION_BROKEN);
    EXPECT_EQ(thread.ResetSoftStop(), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(thread.Sleep(0), ZEL_STATUS_SUCCESS);
}

TEST(CZELThread, SoftStopWakesTheWorkerWithoutEndingIt)
{
    CZELThread thread;
    WorkerProbe probe;
    probe.thread = &thread;
    ASSERT_EQ(thread.CreateThread(&LoopingWorker, &probe, nullptr, 0, 0, true), ZEL_STATUS_SUCCESS);
    thread.SetSoftStop();
    ASSERT_TRUE(probe.woke.Wait(kWaitLimit));
    EXPECT_EQ(probe.wakes.load(), 1);
    EXPECT_TRUE(thread.IsRunning());
    thread.DestroyThread(true);
    EXPECT_EQ(probe.wakes.load(), 1);
    EXPECT_EQ(probe.lastSleep.load(), ZEL_STATUS_OPERATION_BROKEN); // the stop ended the long sleep
}

TEST(CZELThread, WorkerThatEndsItselfLetsTheObjectStartAgain)
{
    CountingThread thread;
    WorkerProbe probe;
    probe.thread = &thread;
    ASSERT_EQ(thread.CreateThread(&EndsByItself, &probe), ZEL_STATUS_SUCCESS);
    ASSERT_TRUE(probe.started.Wait(kWaitLimit));
    EXPECT_FALSE(thread.IsRunning());
    EXPECT_EQ(thread.GetThreadID(), 0xFFFFFFFAu);

    probe.started.Reset();
    ASSERT_EQ(thread.CreateThread(&EndsByItself, &probe), ZEL_STATUS_SUCCESS);
    ASSERT_TRUE(probe.started.Wait(kWaitLimit));
    thread.DestroyThread(true); // waits for the tail of the second run
    EXPECT_EQ(thread.postCalls.load(), 2);
}
