#include "zel/threads/CZELStopWatch.h"

#include "zel/foundation/ZELStatus.h"
#include "zel/platform/ZELSystemTime.h"

#include <mutex>

CZELStopWatch::CZELStopWatch()
    : CZELStopWatch(Counter{&ZELPlatform::GetPerformanceFrequency, &ZELPlatform::GetPerformanceCounter})
{
}

CZELStopWatch::CZELStopWatch(Counter counter)
    : m_counter(counter)
    , m_frequency(counter.frequency())
    , m_frequencyAsDouble(static_cast<double>(m_frequency))
{
}

void CZELStopWatch::Clear()
{
    m_start = 0;
    m_stop = 0;
    m_accumulated = 0;
    m_running = false;
}

long CZELStopWatch::Reset()
{
    std::lock_guard lock(m_lock);
    Clear();
    return ZEL_STATUS_SUCCESS;
}

long CZELStopWatch::Start()
{
    std::lock_guard lock(m_lock);
    Clear();
    if (m_frequency == 0 || !m_counter.read(m_start)) {
        m_start = 0;
        return ZEL_STATUS_OPERATION_BROKEN;
    }
    m_running = true;
    return ZEL_STATUS_SUCCESS;
}

long CZELStopWatch::Stop()
{
    std::lock_guard lock(m_lock);
    if (!m_running)
        return ZEL_STATUS_INVALID_OPERATION;
    m_running = false;
    if (!m_counter.read(m_stop)) {
        m_stop = 0;
        return ZEL_STATUS_OPERATION_BROKEN;
    }
    m_accumulated += m_stop - m_start;
    return ZEL_STATUS_SUCCESS;
}

long CZELStopWatch::Continue()
{
    std::lock_guard lock(m_lock);
    if (m_frequency == 0)
        return ZEL_STATUS_OPERATION_BROKEN;
    if (m_running)
        return ZEL_STATUS_INVALID_OPERATION;
    m_stop = 0;
    if (!m_counter.read(m_start)) {
        m_start = 0;
        return ZEL_STATUS_OPERATION_BROKEN;
    }
    m_running = true;
    return ZEL_STATUS_SUCCESS;
}

double CZELStopWatch::Elapsed(double unitsPerSecond)
{
    std::lock_guard lock(m_lock);
    if (m_frequency == 0)
        return 0.0;
    std::int64_t ticks = m_accumulated;
    if (m_running) {
        std::int64_t now = 0;
        if (!m_counter.read(now))
            return 0.0;
        ticks += now - m_start;
    }
    return static_cast<double>(ticks) * unitsPerSecond / m_frequencyAsDouble;
}

double CZELStopWatch::GetAsSeconds()
{
    return Elapsed(1.0);
}

double CZELStopWatch::GetAsMilliSeconds()
{
    return Elapsed(1000.0);
}

double CZELStopWatch::GetAsMicroSeconds()
{
    return Elapsed(1000000.0);
}
