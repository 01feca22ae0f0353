#include "zel/platform/CZELEvent.h"

CZELEvent::CZELEvent(bool initiallySet)
    : m_set(initiallySet)
{
}

void CZELEvent::Set()
{
    {
        std::lock_guard lock(m_mutex);
        m_set = true;
    }
    m_changed.notify_all();
}

void CZELEvent::Reset()
{
    std::lock_guard lock(m_mutex);
    m_set = false;
}

bool CZELEvent::IsSet() const
{
    std::lock_guard lock(m_mutex);
    return m_set;
}

bool CZELEvent::Wait(std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(m_mutex);
    if (timeout.count() < 0) {
        m_changed.wait(lock, [this] { return m_set; });
        return true;
    }
    return m_changed.wait_for(lock, timeout, [this] { return m_set; });
}

bool CZELEvent::WaitUntil(const CZELDeadline& deadline) const
{
    std::unique_lock lock(m_mutex);
    if (deadline.IsNever()) {
        m_changed.wait(lock, [this] { return m_set; });
        return true;
    }
    return m_changed.wait_until(lock, deadline.End(), [this] { return m_set; });
}
