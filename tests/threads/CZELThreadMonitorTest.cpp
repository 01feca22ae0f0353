#include "log/ZELLogCapture.h"
#include "zel/crash/ZELFatal.h"
#include "zel/foundation/ZELStatus.h"
#include "zel/platform/CZELEvent.h"
#include "zel/platform/ZELSystemTime.h"
#include "zel/threads/CZELThreadMonitor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

namespace {

using namespace std::chrono_literals;

// 900 s become 450 ms, the monitor's period and the loops' waits 1 ms.
const auto* const g_scaled = ::testing::AddGlobalTestEnvironment(new ZELTest::ScaledTimesEnvironment(2000));

constexpr const char* kHungLine = "CheckObjects(); a thread has stopped to respond; thread name; ";
constexpr const char* kText3 = "A thread has stopped to respond. The thread monitor is going to create a memory dump";

std::int64_t ThresholdUnits()
{
    return ZELTimes().threadHangThreshold.count() * 10000;
}

// Collects what reaches the fatal entry point.
std::mutex g_fatalMutex;
std::string g_fatalReason;
std::atomic<int> g_fatalCalls{0};
CZELEvent g_fatalRaised;

void RecordFatal(const std::string& reason)
{
    {
        std::lock_guard lock(g_fatalMutex);
        g_fatalReason = reason;
    }
    ++g_fatalCalls;
    g_fatalRaised.Set();
}

class FatalHandlerScope
{
public:
    FatalHandlerScope()
    {
        g_fatalCalls = 0;
        g_fatalRaised.Reset();
        m_previous = ZELSetFatalHandler(&RecordFatal);
    }
    ~FatalHandlerScope() { ZELSetFatalHandler(m_previous); }

private:
    ZELFatalHandler m_previous = nullptr;
};

struct Gate
{
    CZELMonitoredThread* thread = nullptr;
    CZELEvent release;
};

// Stamps once when it starts (its registration) and then never again until released.
long StopsStamping(void* data)
{
    auto* gate = static_cast<Gate*>(data);
    gate->thread->SignalStart();
    gate->release.Wait(std::chrono::milliseconds(-1));
    return ZEL_STATUS_SUCCESS;
}

// A well-behaved loop: one stamp and one wait of at most the loop time per pass.
long KeepsStamping(void* data)
{
    auto* thread = static_cast<CZELMonitoredThread*>(data);
    if (!thread->IsRunning())
        return ZEL_STATUS_NOT_INITIALIZED;
    thread->SignalStart();
    while (thread->IsRunning()) {
        thread->UpdateStatus();
        thread->Sleep(ZELTimes().workerLoopWait);
    }
    return ZEL_STATUS_SUCCESS;
}

} // namespace

TEST(CZELThreadMonitor, ReportsOnlyAThreadSilentForMoreThanTheThreshold)
{
    ZELTest::ScopedSystemLog log;
    FatalHandlerScope fatal;
    CZELThreadMonitor monitor;
    CZELMonitoredThread idle; // never started: no name, no id
    idle.UpdateStatus();
    monitor.RegisterObject(&idle);
    const std::int64_t stamp = idle.GetLastTimestamp();

    monitor.CheckObjects(stamp + ThresholdUnits());
    EXPECT_FALSE(monitor.IsObjectTimeout());
    EXPECT_EQ(g_fatalCalls.load(), 0);

    monitor.CheckObjects(stamp + ThresholdUnits() + 1);
    EXPECT_TRUE(monitor.IsObjectTimeout());
    EXPECT_EQ(g_fatalCalls.load(), 1);

    SYSTEMTIME utc;
    SYSTEMTIME local;
    ASSERT_TRUE(ZELPlatform::FileTimeToSystemTime(stamp, utc));
    ASSERT_TRUE(ZELPlatform::UtcToLocalTime(utc, local));
    char expected[256];
    std::snprintf(expected, sizeof expected,
        "%s; thread ID; -6; last response; %04i-%02i-%02i; %02i:%02i:%02i", kHungLine, local.wYear, local.wMonth,
        local.wDay, local.wHour, local.wMinute, local.wSecond);
    ASSERT_TRUE(log.sink.WaitForLine(kText3));
    EXPECT_EQ(log.sink.CountContaining(expected), 1u) << expected;
    EXPECT_EQ(g_fatalReason, expected);
    monitor.UnregisterObject(&idle);
}

TEST(CZELThreadMonitor, ReportsOneHangPerProcess)
{
    ZELTest::ScopedSystemLog log;
    FatalHandlerScope fatal;
    CZELThreadMonitor monitor;
    Gate firstGate;
    Gate secondGate;
    CZELMonitoredThread first;
    CZELMonitoredThread second;
    CZELMonitoredThread later;
    firstGate.thread = &first;
    secondGate.thread = &second;
    first.SetThreadName("First Worker");
    second.SetThreadName("Second Worker");
    ASSERT_EQ(first.CreateThread(&StopsStamping, &firstGate, nullptr, 0, 0, true), ZEL_STATUS_SUCCESS);
    ASSERT_EQ(second.CreateThread(&StopsStamping, &secondGate, nullptr, 0, 0, true), ZEL_STATUS_SUCCESS);
    later.UpdateStatus();
    monitor.RegisterObject(&first);
    monitor.RegisterObject(&second);

    const std::int64_t now = std::max(first.GetLastTimestamp(), second.GetLastTimestamp()) + ThresholdUnits() + 1;
    monitor.CheckObjects(now);
    monitor.RegisterObject(&later);
    monitor.CheckObjects(later.GetLastTimestamp() + 2 * ThresholdUnits());

    firstGate.release.Set();
    secondGate.release.Set();
    GetZELSystemLogEx().Terminate(); // writes everything that was logged

    EXPECT_EQ(log.sink.CountContaining(kHungLine), 2u);
    EXPECT_EQ(log.sink.CountContaining("thread name; First Worker; thread ID; " + std::to_string(first.GetThreadID())),
        1u);
    EXPECT_EQ(
        log.sink.CountContaining("thread name; Second Worker; thread ID; " + std::to_string(second.GetThreadID())), 1u);
    EXPECT_EQ(log.sink.CountContaining(kText3), 1u);
    EXPECT_EQ(g_fatalCalls.load(), 1);
    monitor.UnregisterObject(&first);
    monitor.UnregisterObject(&second);
    monitor.UnregisterObject(&later);
}

TEST(CZELThreadMonitor, UnregisterRemovesTheFirstEntryOnly)
{
    CZELThreadMonitor monitor;
    CZELMonitoredThread listedTwice;
    CZELMonitoredThread neverListed;
    monitor.RegisterObject(&listedTwice);
    monitor.RegisterObject(&listedTwice);
    monitor.UnregisterObject(&neverListed);
    EXPECT_EQ(monitor.GetObjectCount(), 2u);
    monitor.UnregisterObject(&listedTwice);
    EXPECT_EQ(monitor.GetObjectCount(), 1u);
    monitor.UnregisterObject(&listedTwice);
    EXPECT_EQ(monitor.GetObjectCount(), 0u);
}

TEST(CZELMonitoredThread, IsListedFromItsStartUntilItsFunctionReturns)
{
    const std::size_t before = GetZELThreadMonitor().GetObjectCount();
    {
        CZELMonitoredThread thread;
        Gate gate;
        gate.thread = &thread;
        EXPECT_FALSE(thread.IsRegistered());
        ASSERT_EQ(thread.CreateThread(&StopsStamping, &gate, nullptr, 0, 0, true), ZEL_STATUS_SUCCESS);
        EXPECT_TRUE(thread.IsRegistered());
        EXPECT_GT(thread.GetLastTimestamp(), 0);
        EXPECT_EQ(GetZELThreadMonitor().GetObjectCount(), before + 1);
        gate.release.Set();
        thread.DestroyThread(true);
        EXPECT_FALSE(thread.IsRegistered());
        EXPECT_EQ(GetZELThreadMonitor().GetObjectCount(), before);

        // Stamped from outside, it is listed until it is destroyed.
        thread.UpdateStatus();
        EXPECT_EQ(GetZELThreadMonitor().GetObjectCount(), before + 1);
    }
    EXPECT_EQ(GetZELThreadMonitor().GetObjectCount(), before);

    CZELMonitoredThread a;
    CZELMonitoredThread b;
    EXPECT_EQ(b.GetObjectID(), a.GetObjectID() + 1);
}

TEST(CZELThreadMonitor, FindsAThreadThatStopsStampingOnceAfterTheThreshold)
{
    ZELTest::ScopedSystemLog log;
    FatalHandlerScope fatal;
    CZELThreadMonitor& monitor = GetZELThreadMonitor();
    if (monitor.IsObjectTimeout())
        GTEST_SKIP() << "this process has had its one report already";
    ASSERT_EQ(monitor.Initialize(), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(monitor.Initialize(), ZEL_STATUS_BUSY);

    CZELMonitoredThread healthy;
    healthy.SetThreadName("Healthy Worker");
    ASSERT_EQ(healthy.CreateThread(&KeepsStamping, &healthy, nullptr, 0, 0, true), ZEL_STATUS_SUCCESS);
    CZELMonitoredThread hung;
    Gate gate;
    gate.thread = &hung;
    hung.SetThreadName("Hung Worker");
    ASSERT_EQ(hung.CreateThread(&StopsStamping, &gate, nullptr, 0, 0, true), ZEL_STATUS_SUCCESS);
    const std::int64_t lastStamp = hung.GetLastTimestamp();
    const unsigned long hungId = hung.GetThreadID();

    ASSERT_TRUE(g_fatalRaised.Wait(20s));
    const std::int64_t reportedAt = ZELPlatform::GetSystemTimeAsFileTime();
    EXPECT_GT(reportedAt - lastStamp, ThresholdUnits());
    ASSERT_TRUE(log.sink.WaitForLine(kText3));
    EXPECT_TRUE(monitor.IsObjectTimeout());

    gate.release.Set();
    hung.DestroyThread(true);
    healthy.DestroyThread(true);
    EXPECT_EQ(monitor.Terminate(), ZEL_STATUS_SUCCESS);
    GetZELSystemLogEx().Terminate();

    EXPECT_EQ(log.sink.CountContaining("The thread monitor has been started."), 1u);
    EXPECT_EQ(log.sink.CountContaining(kHungLine), 1u);
    EXPECT_EQ(log.sink.CountContaining("thread name; Hung Worker; thread ID; " + std::to_string(hungId) + ";"), 1u);
    EXPECT_EQ(log.sink.CountContaining("Healthy Worker"), 0u);
    EXPECT_EQ(log.sink.CountContaining(kText3), 1u);
    EXPECT_EQ(g_fatalCalls.load(), 1);
}
