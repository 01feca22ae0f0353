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

// The end of a hang report: the local date and time of the thread's last stamp.
std::string LastResponseText(std::int64_t stamp)
{
    SYSTEMTIME utc;
    SYSTEMTIME local;
    EXPECT_TRUE(ZELPlatform::FileTimeToSystemTime(stamp, utc));
    EXPECT_TRUE(ZELPlatform::UtcToLocalTime(utc, local));
    char text[64];
    std::snprintf(text, sizeof text, "last response; %04i-%02i-%02i; %02i:%02i:%02i", local.wYear, local.wMonth,
        local.wDay, local.wHour, local.wMinute, local.wSecond);
    return text;
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
    const auto response = idle.GetLastResponse();

    monitor.CheckObjects(response + ZELTimes().threadHangThreshold);
    EXPECT_FALSE(monitor.IsObjectTimeout());
    EXPECT_EQ(g_fatalCalls.load(), 0);

    monitor.CheckObjects(response + ZELTimes().threadHangThreshold + 1ns);
    EXPECT_TRUE(monitor.IsObjectTimeout());
    EXPECT_EQ(g_fatalCalls.load(), 1);

    const std::string expected = std::string(kHungLine) + "; thread ID; -6; " + LastResponseText(stamp);
    ASSERT_TRUE(log.sink.WaitForLine(kText3));
    EXPECT_EQ(log.sink.CountContaining(expected), 1u) << expected;
    EXPECT_EQ(g_fatalReason, expected);
    monitor.UnregisterObject(&idle);
}

// The wall clock steps (a time synchronisation, a laptop resumed): the silence is measured on the
// monotonic clock, and the report still shows the wall time of the last stamp.
TEST(CZELThreadMonitor, AStepOfTheWallClockDeclaresNoThreadHung)
{
    ZELTest::ScopedSystemLog log;
    FatalHandlerScope fatal;
    CZELThreadMonitor monitor;
    CZELMonitoredThread worker;
    worker.UpdateStatus();
    monitor.RegisterObject(&worker);
    const std::int64_t stamp = worker.GetLastTimestamp();

    class WallClockStep
    {
    public:
        explicit WallClockStep(ZELPlatform::FileTime step)
            : m_step(step)
        {
            ZELPlatform::StepWallClockForTests(step);
        }
        ~WallClockStep() { ZELPlatform::StepWallClockForTests(-m_step); }

    private:
        ZELPlatform::FileTime m_step;
    };
    for (const ZELPlatform::FileTime step : {10 * ThresholdUnits(), -10 * ThresholdUnits()}) {
        WallClockStep stepped(step);
        monitor.CheckObjects();
        EXPECT_FALSE(monitor.IsObjectTimeout()) << "step " << step;
    }
    EXPECT_EQ(g_fatalCalls.load(), 0);

    {
        WallClockStep stepped(-10 * ThresholdUnits());
        monitor.CheckObjects(worker.GetLastResponse() + ZELTimes().threadHangThreshold + 1ns);
    }
    EXPECT_EQ(g_fatalCalls.load(), 1);
    EXPECT_NE(g_fatalReason.find(LastResponseText(stamp)), std::string::npos) << g_fatalReason;
    monitor.UnregisterObject(&worker);
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

    const auto now = std::max(first.GetLastResponse(), second.GetLastResponse()) + ZELTimes().threadHangThreshold + 1ns;
    monitor.CheckObjects(now);
    monitor.RegisterObject(&later);
    monitor.CheckObjects(later.GetLastResponse() + 2 * ZELTimes().threadHangThreshold);

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
