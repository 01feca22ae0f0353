#pragma once

#include "zel/log/CZELSystemLogEx.h"
#include "zel/platform/CZELRecursiveMutex.h"
#include "zel/platform/ZELSystemTime.h"
#include "zel/threads/CZELMonitoredThread.h"

#include <chrono>
#include <string>
#include <vector>

// Watchdog of the long-lived threads. Its own thread checks every registered thread's last stamp
// once per period; a thread silent for longer than the hang threshold is logged as hung and the
// fatal entry point is raised. That happens once per process: afterwards nothing is checked.
class CZELThreadMonitor
{
public:
    CZELThreadMonitor();
    CZELThreadMonitor(const CZELThreadMonitor&) = delete;
    CZELThreadMonitor& operator=(const CZELThreadMonitor&) = delete;
    ~CZELThreadMonitor();

    // ZEL_STATUS_BUSY when the check loop runs already; otherwise the status of its start.
    long Initialize();
    long Terminate();
    long RunMonitorThread();

    // The monitor does not own the threads it lists.
    void RegisterObject(CZELMonitoredThread* object);
    // Removes the first entry equal to `object`; nothing when it is not listed.
    void UnregisterObject(CZELMonitoredThread* object);

    // One check pass now, or at `now`. The silence is measured on the monotonic clock, so a step of
    // the wall clock declares no thread hung; the report shows the wall time of the last stamp.
    void CheckObjects();
    void CheckObjects(std::chrono::steady_clock::time_point now);

    int GetNextID();
    bool IsObjectTimeout() const;
    std::size_t GetObjectCount() const;

private:
    long AddOutput(const std::string& message, _ZELSystemLogExEventType type);

    std::vector<CZELMonitoredThread*> m_objects;
    mutable CZELRecursiveMutex m_lock;
    bool m_objectTimeout = false;
    int m_nextId = 0;
    CZELMonitoredThread m_thread;
};

CZELThreadMonitor& GetZELThreadMonitor();
