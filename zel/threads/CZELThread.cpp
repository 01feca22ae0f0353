#include "zel/threads/CZELThread.h"

#include "zel/foundation/ZELStatus.h"
#include "zel/platform/ZELThreadName.h"

CZELThread::CZELThread() = default;

CZELThread::~CZELThread()
{
    StopAndWait();
}

long CZELThread::CreateThread(ThreadFunction function, void* data, void*, std::uint32_t, std::uint32_t,
    bool waitForStart)
{
    std::lock_guard lifecycle(m_lifecycle);
    JoinRetired();
    {
        std::lock_guard lock(m_lock);
        if (m_busy)
            return ZEL_STATUS_BUSY;
        m_startEvent.Reset();
        m_stopEvent.Reset();
        m_softStop = false;
        // Set before the thread exists, so that the worker's first test of it succeeds.
        m_running = true;
        const std::string name = m_name;
        if (!m_native.Start([this, function, data, name] { RunStartRoutine(function, data, name); })) {
            m_running = false;
            return ZEL_STATUS_INVALID_HANDLE;
        }
        m_busy = true;
        m_threadId = m_native.Id();
    }
    if (waitForStart)
        m_startEvent.Wait(std::chrono::milliseconds(-1));
    return ZEL_STATUS_SUCCESS;
}

void CZELThread::RunStartRoutine(ThreadFunction function, void* data, const std::string& name)
{
    if (!name.empty())
        ZELPlatform::SetCurrentThreadName(name);
    PreProcessThread();
    long result = static_cast<long>(m_exitCode.load());
    if (function != nullptr)
        result = function(data);
    m_exitCode = static_cast<std::uint32_t>(result);
    PostProcessThread();
}

long CZELThread::DestroyThread(bool wait)
{
    if (wait) {
        StopAndWait();
        return ZEL_STATUS_SUCCESS;
    }
    std::lock_guard lock(m_lock);
    if (m_busy) {
        // The flag first: a worker woken by the event then sees at once that it is to end.
        m_running = false;
        m_stopEvent.Set();
    }
    return ZEL_STATUS_SUCCESS;
}

void CZELThread::StopAndWait()
{
    std::lock_guard lifecycle(m_lifecycle);
    CZELNativeThread native;
    bool busy = false;
    {
        std::lock_guard lock(m_lock);
        busy = m_busy;
        if (busy) {
            m_running = false;
            m_stopEvent.Set();
            native = std::move(m_native);
        }
    }
    native.Join();
    JoinRetired();
    if (busy) {
        std::lock_guard lock(m_lock);
        m_busy = false;
        m_threadId = 0;
    }
}

void CZELThread::JoinRetired()
{
    CZELNativeThread retired;
    {
        std::lock_guard lock(m_lock);
        retired = std::move(m_retired);
    }
    retired.Join();
}

long CZELThread::EndOfThread()
{
    std::lock_guard lock(m_lock);
    if (m_busy) {
        if (m_native.IsAttached())
            m_retired = std::move(m_native);
        m_busy = false;
        m_threadId = 0;
        m_running = false;
    }
    return ZEL_STATUS_SUCCESS;
}

long CZELThread::SetExitCode(std::uint32_t code)
{
    m_exitCode = code;
    return ZEL_STATUS_SUCCESS;
}

long CZELThread::SignalStart()
{
    m_startEvent.Set();
    return ZEL_STATUS_SUCCESS;
}

long CZELThread::Sleep(std::uint32_t milliseconds)
{
    return Sleep(std::chrono::milliseconds(milliseconds));
}

long CZELThread::Sleep(std::chrono::milliseconds duration)
{
    return m_stopEvent.Wait(duration) ? ZEL_STATUS_OPERATION_BROKEN : ZEL_STATUS_SUCCESS;
}

long CZELThread::SetThreadName(const std::string& name)
{
    std::lock_guard lock(m_lock);
    m_name = name;
    // The thread itself is renamed, whichever thread asks.
    if (m_busy)
        m_native.SetName(name);
    return ZEL_STATUS_SUCCESS;
}

long CZELThread::SetThreadName()
{
    std::string name;
    {
        std::lock_guard lock(m_lock);
        name = m_name;
    }
    ZELPlatform::SetCurrentThreadName(name);
    return ZEL_STATUS_SUCCESS;
}

long CZELThread::GetThreadName(std::string& name) const
{
    std::lock_guard lock(m_lock);
    if (!m_busy)
        return ZEL_STATUS_INVALID_HANDLE;
    name = m_name;
    return ZEL_STATUS_SUCCESS;
}

long CZELThread::GetThreadID(unsigned long& id) const
{
    std::lock_guard lock(m_lock);
    if (!m_busy)
        return ZEL_STATUS_INVALID_HANDLE;
    id = m_threadId;
    return ZEL_STATUS_SUCCESS;
}

unsigned long CZELThread::GetThreadID() const
{
    std::lock_guard lock(m_lock);
    if (!m_busy)
        return static_cast<std::uint32_t>(ZEL_STATUS_INVALID_HANDLE);
    return m_threadId;
}

long CZELThread::SetSoftStop()
{
    m_softStop = true;
    m_stopEvent.Set();
    return ZEL_STATUS_SUCCESS;
}

long CZELThread::ResetSoftStop()
{
    if (m_softStop.exchange(false))
        m_stopEvent.Reset();
    return ZEL_STATUS_SUCCESS;
}

long CZELThread::PreProcessThread()
{
    return ZEL_STATUS_SUCCESS;
}

long CZELThread::PostProcessThread()
{
    return ZEL_STATUS_SUCCESS;
}
