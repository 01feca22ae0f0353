#pragma once

#include "zel/log/CZELSystemLogEx.h"
#include "zel/platform/CZELRecursiveMutex.h"
#include "zel/queue/CZELMessage.h"
#include "zel/threads/CZELMonitoredThread.h"

#include <atomic>
#include <deque>
#include <string>
#include <vector>

// Publish/subscribe queue. As the process-wide hub it has no thread and stores nothing: Notify
// hands a copy of the message to every registered queue. A subscriber derives from it, starts
// its own worker thread with Initialize(true) and receives each message, in push order, in
// ProcessMessage on that thread.
//
// The hub does not own its subscribers. A subscriber unregisters from the hub and calls Terminate
// before it is destroyed (a derived class in its own destructor, so that its worker never calls
// into a half-destroyed object).
class CZELMessageQueue
{
public:
    CZELMessageQueue();
    CZELMessageQueue(const CZELMessageQueue&) = delete;
    CZELMessageQueue& operator=(const CZELMessageQueue&) = delete;
    virtual ~CZELMessageQueue();

    // With `startThread` starts the worker that feeds ProcessMessage; without it the queue only
    // fans out. ZEL_STATUS_BUSY while the worker runs.
    virtual long Initialize(bool startThread);
    // Stops the worker, forgets the subscribers (without destroying them) and drops what is pending.
    virtual long Terminate();
    // Appends a copy and wakes the worker.
    virtual long PushMessage(CZELMessage& message);
    // Moves the oldest message into `message`. ZEL_STATUS_UNSPECIFIC_ERROR when there is none
    // (the argument is untouched), the lock's status when it is not free within the time-out.
    virtual long PopMessage(CZELMessage& message);
    // Registering twice leaves one entry.
    virtual long Register(CZELMessageQueue* queue);
    // ZEL_STATUS_NOT_FOUND when `queue` is not registered.
    virtual long Unregister(CZELMessageQueue* queue);
    // PushMessage on every subscriber, in registration order.
    virtual long Notify(CZELMessage& message);
    // A snapshot of the number of pending messages.
    virtual long GetMessagesCount();

    long RunMessageLoopThread();

protected:
    // Called on the worker thread for each message, with no queue lock held.
    virtual long ProcessMessage(CZELMessage& message);
    // Name of the worker thread; set before Initialize.
    void SetName(const std::string& name) { m_name = name; }
    const std::string& GetName() const { return m_name; }
    CZELMonitoredThread& GetThread() { return m_thread; }

private:
    long AddOutput(const std::string& message, _ZELSystemLogExEventType type);

    CZELMonitoredThread m_thread;
    std::string m_name = "ZEL Message Queue";
    std::deque<CZELMessage> m_messages;
    std::atomic<long> m_messageCount{0};
    CZELRecursiveMutex m_messagesLock;
    std::vector<CZELMessageQueue*> m_subscribers;
    CZELRecursiveMutex m_subscribersLock;
    std::string m_reference;
};

CZELMessageQueue& GetZELMessageQueue();
