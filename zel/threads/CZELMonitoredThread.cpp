#include "zel/threads/CZELMonitoredThread.h"

#include "zel/foundation/ZELStatus.h"
#include "zel/platform/ZELSystemTime.h"
#include "zel/threads/CZELThreadMonitor.h"

namespace {

std::atomic<int> g_nextObjectId{0};

} // namespace

CZELMonitoredThread::CZELMonitoredThread()
    : m_objectId(g_nextObjectId.fetch_add(1))
{
}

CZELMonitoredThread::~CZELMonitoredThread()
{
    // The thread runs this class's PostProcessThread on its way out, so it must end while this
    // part of the object still exists.
    DestroyThread(true);
    if (m_registered.load())
        Unregister();
}

void CZELMonitoredThread::Stamp()
{
    m_lastResponse = std::chrono::steady_clock::now().time_since_epoch().count();
    m_lastTimestamp = ZELPlatform::GetSystemTimeAsFileTime();
}

long CZELMonitoredThread::UpdateStatus()
{
    Stamp();
    if (!m_registered.exchange(true)) {
        Stamp();
        GetZELThreadMonitor().RegisterObject(this);
    }
    return ZEL_STATUS_SUCCESS;
}

void CZELMonitoredThread::Register()
{
    Stamp();
    // An object stamped before its start is already listed; a second entry would outlive it.
    if (!m_registered.exchange(true))
        GetZELThreadMonitor().RegisterObject(this);
}

long CZELMonitoredThread::Unregister()
{
    GetZELThreadMonitor().UnregisterObject(this);
    m_registered = false;
    return ZEL_STATUS_SUCCESS;
}

long CZELMonitoredThread::PreProcessThread()
{
    Register();
    return ZEL_STATUS_SUCCESS;
}

long CZELMonitoredThread::PostProcessThread()
{
    Unregister();
    return ZEL_STATUS_SUCCESS;
}
