#pragma once

#include "zel/platform/ZELSignals.h"

#include <atomic>
#include <functional>
#include <thread>

// Calls `onStop` on a thread of its own for every SIGINT or SIGTERM until it is destroyed. The
// signals must be blocked (ZELPlatform::BlockStopSignals) before any thread starts. `onStop` must
// not wait for anything that only a later signal would end.
class CStopWatcher
{
public:
    explicit CStopWatcher(std::function<void(ZELPlatform::StopSignal)> onStop)
        : m_thread([this, onStop = std::move(onStop)] {
            ZELPlatform::StopSignal which = ZELPlatform::StopSignal::Terminate;
            while (ZELPlatform::WaitForStopRequest(false, &which) == ZELPlatform::StopReason::Signal
                && !m_finished.load())
                onStop(which);
        })
    {
    }
    explicit CStopWatcher(std::function<void()> onStop)
        : CStopWatcher([onStop = std::move(onStop)](ZELPlatform::StopSignal) { onStop(); })
    {
    }
    ~CStopWatcher()
    {
        m_finished.store(true);
        ZELPlatform::RaiseStopSignal();
        m_thread.join();
    }
    CStopWatcher(const CStopWatcher&) = delete;
    CStopWatcher& operator=(const CStopWatcher&) = delete;

private:
    std::atomic<bool> m_finished{false};
    std::thread m_thread;
};
