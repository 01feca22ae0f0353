#pragma once

#include <chrono>
#include <mutex>

// The recursive lock every library module guards its state with. Recursive because a module's
// public operations call each other while holding it; timed so that a guard can give up.
class CZELRecursiveMutex
{
public:
    void lock() { m_mutex.lock(); }
    bool try_lock() { return m_mutex.try_lock(); }
    void unlock() { m_mutex.unlock(); }

    // Waits at most `timeout` for the lock; a negative time-out waits without limit.
    bool TryLockFor(std::chrono::milliseconds timeout)
    {
        if (timeout.count() < 0) {
            m_mutex.lock();
            return true;
        }
        return m_mutex.try_lock_for(timeout);
    }

private:
    std::recursive_timed_mutex m_mutex;
};
