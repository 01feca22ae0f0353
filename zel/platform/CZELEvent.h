#pragma once

#include "zel/platform/CZELDeadline.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

// Manual-reset event: once set it stays set, releasing every waiter, until it is reset.
class CZELEvent
{
public:
    explicit CZELEvent(bool initiallySet = false);

    void Set();
    void Reset();
    bool IsSet() const;

    // Waits until the event is set or the time-out has passed; true when it is set.
    // A negative time-out waits without limit.
    bool Wait(std::chrono::milliseconds timeout) const;
    bool WaitUntil(const CZELDeadline& deadline) const;

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    bool m_set;
};
