#include "log/ZELLogCapture.h"
#include "zel/foundation/ZELStatus.h"
#include "zel/platform/CZELEvent.h"
#include "zel/queue/CZELMessageQueue.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

const auto* const g_scaled = ::testing::AddGlobalTestEnvironment(new ZELTest::ScaledTimesEnvironment(100));

CZELMessage Progress(std::uint8_t percent)
{
    return CZELMessage(ZEL_MESSAGE_TRANSFER_PROGRESS, &percent, 1);
}

// A subscriber that records what its worker receives; it can be made to hang in ProcessMessage.
class RecordingQueue : public CZELMessageQueue
{
public:
    explicit RecordingQueue(const std::string& name = "Test Message Queue") { SetName(name); }
    ~RecordingQueue() override { Terminate(); }

    bool WaitForCount(std::size_t count, std::chrono::milliseconds timeout = 20s)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return m_received.size() >= count; });
    }
    std::vector<std::uint8_t> Received()
    {
        std::lock_guard lock(m_mutex);
        return m_received;
    }
    std::vector<const void*> Buffers()
    {
        std::lock_guard lock(m_mutex);
        return m_buffers;
    }
    unsigned long WorkerId() { return GetThread().GetThreadID(); }

    CZELEvent hold{true}; // set: ProcessMessage goes on at once
    // Set: the first message is held until the worker is asked to stop (or 20 s have passed).
    bool holdFirstUntilStop = false;
    CZELEvent holding; // set once the first message is held
    std::thread::id workerThread;

protected:
    long ProcessMessage(CZELMessage& message) override
    {
        if (holdFirstUntilStop && Received().empty())
            HoldUntilStop();
        hold.Wait(std::chrono::milliseconds(-1));
        {
            std::lock_guard lock(m_mutex);
            m_received.push_back(*static_cast<const std::uint8_t*>(message.GetBuffer()));
            m_buffers.push_back(message.GetBuffer());
            workerThread = std::this_thread::get_id();
        }
        m_changed.notify_all();
        return ZEL_STATUS_SUCCESS;
    }

private:
    // Waits on the worker's own stop event; the pushes that follow only wake it for a moment.
    void HoldUntilStop()
    {
        holding.Set();
        const auto end = std::chrono::steady_clock::now() + 20s;
        while (GetThread().IsRunning() && std::chrono::steady_clock::now() < end) {
            GetThread().Sleep(std::chrono::ceil<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()));
            GetThread().ResetSoftStop();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::uint8_t> m_received;
    std::vector<const void*> m_buffers;
};

std::vector<std::uint8_t> Sequence(int count)
{
    std::vector<std::uint8_t> values;
    for (int i = 0; i < count; ++i)
        values.push_back(static_cast<std::uint8_t>(i));
    return values;
}

} // namespace

TEST(CZELMessageQueue, PushAndPopInOrderWithoutThread)
{
    CZELMessageQueue queue;
    CZELMessage out(9, nullptr, 0);
    EXPECT_EQ(queue.PopMessage(out), ZEL_STATUS_UNSPECIFIC_ERROR);
    EXPECT_EQ(out.GetMessageType(), 9u);

    for (std::uint8_t i = 0; i < 3; ++i) {
        CZELMessage message = Progress(i);
        EXPECT_EQ(queue.PushMessage(message), ZEL_STATUS_SUCCESS);
    }
    EXPECT_EQ(queue.GetMessagesCount(), 3);
    for (std::uint8_t i = 0; i < 3; ++i) {
        ASSERT_EQ(queue.PopMessage(out), ZEL_STATUS_SUCCESS);
        EXPECT_EQ(*static_cast<std::uint8_t*>(out.GetBuffer()), i);
    }
    EXPECT_EQ(queue.GetMessagesCount(), 0);
    EXPECT_EQ(queue.PopMessage(out), ZEL_STATUS_UNSPECIFIC_ERROR);
}

TEST(CZELMessageQueue, RegistrationKeepsOneEntryPerQueue)
{
    CZELMessageQueue hub;
    CZELMessageQueue subscriber;
    CZELMessageQueue stranger;
    EXPECT_EQ(hub.Register(&subscriber), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(hub.Register(&subscriber), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(hub.Unregister(&stranger), ZEL_STATUS_NOT_FOUND);

    CZELMessage message = Progress(50);
    EXPECT_EQ(hub.Notify(message), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(subscriber.GetMessagesCount(), 1);
    EXPECT_EQ(stranger.GetMessagesCount(), 0);

    EXPECT_EQ(hub.Unregister(&subscriber), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(hub.Unregister(&subscriber), ZEL_STATUS_NOT_FOUND);
    hub.Notify(message);
    EXPECT_EQ(subscriber.GetMessagesCount(), 1);
}

TEST(CZELMessageQueue, EverySubscriberGetsItsOwnCopyInPushOrderOnItsWorker)
{
    ZELTest::ScopedSystemLog log;
    CZELMessageQueue hub;
    ASSERT_EQ(hub.Initialize(false), ZEL_STATUS_SUCCESS);
    RecordingQueue first("First Queue");
    RecordingQueue second("Second Queue");
    ASSERT_EQ(first.Initialize(true), ZEL_STATUS_SUCCESS);
    ASSERT_EQ(second.Initialize(true), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(first.Initialize(true), ZEL_STATUS_BUSY);
    hub.Register(&first);
    hub.Register(&second);

    constexpr int kCount = 200;
    for (int i = 0; i < kCount; ++i) {
        CZELMessage message = Progress(static_cast<std::uint8_t>(i));
        hub.Notify(message);
    }
    ASSERT_TRUE(first.WaitForCount(kCount));
    ASSERT_TRUE(second.WaitForCount(kCount));
    EXPECT_EQ(first.Received(), Sequence(kCount));
    EXPECT_EQ(second.Received(), Sequence(kCount));
    EXPECT_NE(first.workerThread, std::this_thread::get_id());
    EXPECT_NE(first.workerThread, second.workerThread);
    EXPECT_NE(first.Buffers().back(), second.Buffers().back());

    hub.Unregister(&first);
    hub.Unregister(&second);
    first.Terminate();
    second.Terminate();
    hub.Terminate();
    GetZELSystemLogEx().Terminate();
    // Three starts (the hub's without thread); the refused second start logs nothing.
    EXPECT_EQ(log.sink.CountContaining("The message queue has been started."), 3u);
}

TEST(CZELMessageQueue, SlowSubscriberDoesNotDelayTheOthers)
{
    CZELMessageQueue hub;
    RecordingQueue slow;
    RecordingQueue quick;
    slow.hold.Reset();
    ASSERT_EQ(slow.Initialize(true), ZEL_STATUS_SUCCESS);
    ASSERT_EQ(quick.Initialize(true), ZEL_STATUS_SUCCESS);
    hub.Register(&slow);
    hub.Register(&quick);

    for (std::uint8_t i = 0; i < 3; ++i) {
        CZELMessage message = Progress(i);
        EXPECT_EQ(hub.Notify(message), ZEL_STATUS_SUCCESS);
    }
    ASSERT_TRUE(quick.WaitForCount(3));
    EXPECT_TRUE(slow.Received().empty());
    slow.hold.Set();
    ASSERT_TRUE(slow.WaitForCount(3));
    EXPECT_EQ(slow.Received(), Sequence(3));
    hub.Terminate();
}

TEST(CZELMessageQueue, TerminateForgetsSubscribersWithoutDestroyingThem)
{
    CZELMessageQueue hub;
    RecordingQueue subscriber;
    ASSERT_EQ(subscriber.Initialize(true), ZEL_STATUS_SUCCESS);
    hub.Register(&subscriber);
    EXPECT_EQ(hub.Terminate(), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(hub.Unregister(&subscriber), ZEL_STATUS_NOT_FOUND);

    // The subscriber is intact and still works on its own.
    CZELMessage message = Progress(7);
    EXPECT_EQ(subscriber.PushMessage(message), ZEL_STATUS_SUCCESS);
    ASSERT_TRUE(subscriber.WaitForCount(1));
    EXPECT_EQ(subscriber.Received(), std::vector<std::uint8_t>({7}));

    EXPECT_EQ(subscriber.Terminate(), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(subscriber.WorkerId(), 0xFFFFFFFAu);
}

// Terminate lets the worker finish the message in hand and drops the rest unprocessed.
TEST(CZELMessageQueue, TerminateDropsWhatTheWorkerHasNotTaken)
{
    RecordingQueue subscriber;
    subscriber.holdFirstUntilStop = true;
    ASSERT_EQ(subscriber.Initialize(true), ZEL_STATUS_SUCCESS);
    CZELMessage first = Progress(0);
    subscriber.PushMessage(first);
    ASSERT_TRUE(subscriber.holding.Wait(20s));
    for (std::uint8_t i = 1; i < 4; ++i) {
        CZELMessage more = Progress(i);
        subscriber.PushMessage(more);
    }
    EXPECT_EQ(subscriber.GetMessagesCount(), 3);
    EXPECT_EQ(subscriber.Terminate(), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(subscriber.Received(), std::vector<std::uint8_t>({0}));
    EXPECT_EQ(subscriber.GetMessagesCount(), 0);
    EXPECT_EQ(subscriber.WorkerId(), 0xFFFFFFFAu);
}
