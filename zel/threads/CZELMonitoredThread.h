#pragma once

#include "zel/threads/CZELThread.h"

#include <atomic>
#include <chrono>
#include <cstdint>

// A thread the process-wide thread monitor watches: it enters the monitor's list when it starts
// (or at its first UpdateStatus) and leaves it when its function returns. Its loop must call
// UpdateStatus once per pass, or the monitor reports it as hung.
class CZELMonitoredThread : public CZELThread
{
public:
    CZELMonitoredThread();
    // Stops the thread before this object goes, then leaves the monitor's list.
    ~CZELMonitoredThread() override;

    // Stamps the current time (UTC file time, and the monotonic clock that hang detection compares);
    // enters the monitor's list when not yet in it.
    long UpdateStatus();
    std::int64_t GetLastTimestamp() const { return m_lastTimestamp.load(); }
    std::chrono::steady_clock::time_point GetLastResponse() const
    {
        return std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(m_lastResponse.load()));
    }
    long Unregister();
    bool IsRegistered() const { return m_registered.load(); }
    // Sequence number of the object among all monitored threads of the process.
    int GetObjectID() const { return m_objectId; }

protected:
    long PreProcessThread() override;
    long PostProcessThread() override;

private:
    friend class CZELThreadMonitor; // clears the flag when the monitor itself goes

    void Register();
    void Stamp();

    int m_objectId;
    std::atomic<bool> m_registered{false};
    std::atomic<std::int64_t> m_lastTimestamp{0};
    std::atomic<std::chrono::steady_clock::rep> m_lastResponse{0};
};
