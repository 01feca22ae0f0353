#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

// The recursive lock every library module guards its state with. Recursive because a module's
// public operations call each other while holding it; timed so that a guard can give up.
// Built on a plain mutex and a condition variable: the timed wait then runs on the steady clock
// through calls that the thread sanitizer understands.
class CZELRecursiveMutex
{
public:
    void lock()
    {
        std::unique_lock guard(m_state);
        m_released.wait(guard, [this] { return TakeIfFree(); });
    }

    bool try_lock()
    {
        std::lock_guard guard(m_state);
        return TakeIfFree();
    }

    void unlock()
    {
        {
            std::lock_guard guard(m_state);
            if (--m_depth > 0)
                return;
            m_owner = std::thread::id();
        }
        m_released.notify_one();
    }

    // Waits at most `timeout` for the lock; a negative time-out waits without limit.
    bool TryLockFor(std::chrono::milliseconds timeout)
    {
        if (timeout.count() < 0) {
            lock();
            return true;
        }
        std::unique_lock guard(m_state);
        return m_released.wait_for(guard, timeout, [this] { return TakeIfFree(); });
    }

private:
    // Takes the lock for the calling thread, or one level deeper when it holds it already.
    bool TakeIfFree()
    {
        const auto self = std::this_thread::get_id();
        if (m_owner == self) {
            ++m_depth;
            return true;
        }
        if (m_depth != 0)
            return false;
        m_owner = self;
        m_depth = 1;
        return true;
    }

    std::mutex m_state;
    std::condition_variable m_released;
    std::thread::id m_owner;
    unsigned m_depth = 0;
};
