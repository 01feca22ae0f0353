#pragma once

#include "zel/platform/windows/ZELWindows.h"

#include <deque>
#include <functional>
#include <mutex>

// Carries calls from any thread to the thread of one window: the calls wait here and a posted
// message wakes the window, whose procedure runs them. The window never sends to or waits for the
// caller, so a thread the window waits for can always post. Calls still queued when the window goes
// are dropped unrun.
class CWin32CallQueue
{
public:
    // The message the window's procedure answers with RunCalls().
    static constexpr UINT kMessage = WM_APP + 1;

    CWin32CallQueue() = default;
    CWin32CallQueue(const CWin32CallQueue&) = delete;
    CWin32CallQueue& operator=(const CWin32CallQueue&) = delete;

    // On the window's thread, once the window exists.
    void Attach(HWND window);
    // No calls are taken any more; the queued ones are dropped.
    void Detach();
    bool IsWindowThread() const;
    // Queues `call` for the window's thread; false when no window takes it.
    bool Post(std::function<void()> call);
    // On the window's thread, when kMessage arrives.
    void RunCalls();

private:
    mutable std::mutex m_lock;
    std::deque<std::function<void()>> m_calls;
    HWND m_window = nullptr;
    DWORD m_thread = 0;
    bool m_wakePosted = false;
};
