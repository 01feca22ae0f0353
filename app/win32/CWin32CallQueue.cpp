#include "app/win32/CWin32CallQueue.h"

#include <utility>

void CWin32CallQueue::Attach(HWND window)
{
    const std::lock_guard<std::mutex> lock(m_lock);
    m_window = window;
    m_thread = GetCurrentThreadId();
}

void CWin32CallQueue::Detach()
{
    std::deque<std::function<void()>> dropped;
    {
        const std::lock_guard<std::mutex> lock(m_lock);
        m_window = nullptr;
        dropped.swap(m_calls);
    }
    // Destroyed outside the lock: a dropped call may answer its waiting caller.
}

bool CWin32CallQueue::IsWindowThread() const
{
    const std::lock_guard<std::mutex> lock(m_lock);
    return m_window != nullptr && m_thread == GetCurrentThreadId();
}

bool CWin32CallQueue::Post(std::function<void()> call)
{
    const std::lock_guard<std::mutex> lock(m_lock);
    if (m_window == nullptr)
        return false;
    m_calls.push_back(std::move(call));
    // One wake-up at a time is enough: RunCalls takes every call queued until then.
    if (!m_wakePosted)
        m_wakePosted = PostMessageW(m_window, kMessage, 0, 0) != FALSE;
    return true;
}

void CWin32CallQueue::RunCalls()
{
    {
        const std::lock_guard<std::mutex> lock(m_lock);
        m_wakePosted = false;
    }
    // One call at a time from the queue itself: a call may open a message box, whose loop runs the
    // calls queued after it, and they still run in the order they came.
    for (;;) {
        std::function<void()> call;
        {
            const std::lock_guard<std::mutex> lock(m_lock);
            if (m_calls.empty())
                return;
            call = std::move(m_calls.front());
            m_calls.pop_front();
        }
        call();
    }
}
