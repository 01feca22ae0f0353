#include "zel/threads/CZELThreadMonitor.h"

#include "zel/crash/ZELFatal.h"
#include "zel/foundation/CZELLanguage.h"
#include "zel/foundation/CZELTimeTable.h"
#include "zel/foundation/ZELStatus.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <mutex>

namespace {

long MonitorThreadMain(void* data)
{
    return static_cast<CZELThreadMonitor*>(data)->RunMonitorThread();
}

} // namespace

CZELThreadMonitor::CZELThreadMonitor() = default;

CZELThreadMonitor::~CZELThreadMonitor()
{
    Terminate();
    std::lock_guard lock(m_lock);
    for (CZELMonitoredThread* object : m_objects)
        object->m_registered = false;
    m_objects.clear();
}

long CZELThreadMonitor::AddOutput(const std::string& message, _ZELSystemLogExEventType type)
{
    return GetZELSystemLogEx().AddOutput(message, type, "", "CZELThreadMonitor", "");
}

long CZELThreadMonitor::Initialize()
{
    if (m_thread.IsRunning())
        return ZEL_STATUS_BUSY;
    m_thread.SetThreadName("ZEL Thread Monitor");
    const long status = m_thread.CreateThread(&MonitorThreadMain, this);
    if (status == ZEL_STATUS_SUCCESS)
        AddOutput(GetZELLanguage().GetString(ZEL_MODULE_THREAD_MONITOR, 1), ZEL_SYSTEM_LOG_EX_EVENT_INFORMATION);
    else
        AddOutput(GetZELLanguage().GetString(ZEL_MODULE_THREAD_MONITOR, 2), ZEL_SYSTEM_LOG_EX_EVENT_ERROR);
    return status;
}

long CZELThreadMonitor::Terminate()
{
    m_thread.DestroyThread(true);
    return ZEL_STATUS_SUCCESS;
}

long CZELThreadMonitor::RunMonitorThread()
{
    if (!m_thread.IsRunning())
        return ZEL_STATUS_NOT_INITIALIZED;
    m_thread.SignalStart();
    while (m_thread.IsRunning()) {
        m_thread.UpdateStatus();
        CheckObjects();
        m_thread.Sleep(ZELTimes().threadMonitorPeriod);
    }
    return ZEL_STATUS_SUCCESS;
}

void CZELThreadMonitor::RegisterObject(CZELMonitoredThread* object)
{
    std::lock_guard lock(m_lock);
    m_objects.push_back(object);
}

void CZELThreadMonitor::UnregisterObject(CZELMonitoredThread* object)
{
    std::lock_guard lock(m_lock);
    const auto found = std::find(m_objects.begin(), m_objects.end(), object);
    if (found != m_objects.end())
        m_objects.erase(found);
}

void CZELThreadMonitor::CheckObjects()
{
    CheckObjects(std::chrono::steady_clock::now());
}

void CZELThreadMonitor::CheckObjects(std::chrono::steady_clock::time_point now)
{
    std::string firstReport;
    {
        std::lock_guard lock(m_lock);
        if (m_objectTimeout)
            return;
        bool found = false;
        for (CZELMonitoredThread* object : m_objects) {
            if (now - object->GetLastResponse() <= ZELTimes().threadHangThreshold)
                continue;
            const std::int64_t lastStamp = object->GetLastTimestamp();
            std::string name;
            object->GetThreadName(name);
            const auto id = static_cast<std::int32_t>(static_cast<std::uint32_t>(object->GetThreadID()));
            SYSTEMTIME utc;
            SYSTEMTIME local;
            if (!ZELPlatform::FileTimeToSystemTime(lastStamp, utc) || !ZELPlatform::UtcToLocalTime(utc, local))
                local = SYSTEMTIME{};
            char line[512];
            std::snprintf(line, sizeof line,
                "CheckObjects(); a thread has stopped to respond; thread name; %s; thread ID; %d; last response; "
                "%04i-%02i-%02i; %02i:%02i:%02i",
                name.c_str(), static_cast<int>(id), local.wYear, local.wMonth, local.wDay, local.wHour,
                local.wMinute, local.wSecond);
            AddOutput(line, ZEL_SYSTEM_LOG_EX_EVENT_FATAL);
            if (!found)
                firstReport = line;
            found = true;
        }
        if (!found)
            return;
        m_objectTimeout = true;
        AddOutput(GetZELLanguage().GetString(ZEL_MODULE_THREAD_MONITOR, 3), ZEL_SYSTEM_LOG_EX_EVENT_FATAL);
    }
    // Outside the lock: the crash handling may look at the listed threads while it writes its dump.
    ZELRaiseFatal(firstReport);
}

int CZELThreadMonitor::GetNextID()
{
    std::lock_guard lock(m_lock);
    return m_nextId++;
}

bool CZELThreadMonitor::IsObjectTimeout() const
{
    std::lock_guard lock(m_lock);
    return m_objectTimeout;
}

std::size_t CZELThreadMonitor::GetObjectCount() const
{
    std::lock_guard lock(m_lock);
    return m_objects.size();
}
