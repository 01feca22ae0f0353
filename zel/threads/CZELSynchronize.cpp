#include "zel/threads/CZELSynchronize.h"

#include "zel/foundation/ZELStatus.h"

#include <chrono>

CZELSynchronize::CZELSynchronize(CZELRecursiveMutex* lock, bool enter)
    : m_lock(lock)
{
    if (enter && m_lock != nullptr) {
        m_lock->lock();
        m_owner = true;
    }
}

CZELSynchronize::~CZELSynchronize()
{
    if (m_owner && m_lock != nullptr)
        m_lock->unlock();
}

long CZELSynchronize::Initialize(CZELRecursiveMutex* lock, bool enter)
{
    Leave();
    m_lock = lock;
    if (!enter)
        return ZEL_STATUS_SUCCESS;
    if (m_lock == nullptr)
        return ZEL_STATUS_UNSPECIFIC_ERROR;
    m_lock->lock();
    m_owner = true;
    return ZEL_STATUS_SUCCESS;
}

long CZELSynchronize::Enter(std::uint32_t timeoutMs)
{
    if (m_owner)
        return ZEL_STATUS_SUCCESS;
    if (m_lock == nullptr)
        return ZEL_STATUS_UNSPECIFIC_ERROR;
    if (timeoutMs == 0) {
        m_lock->lock();
    } else if (!m_lock->TryLockFor(std::chrono::milliseconds(timeoutMs)) && !m_lock->try_lock()) {
        // A wait of exactly the time-out still gets its last try above.
        return ZEL_STATUS_TIMEOUT;
    }
    m_owner = true;
    return ZEL_STATUS_SUCCESS;
}

long CZELSynchronize::Leave()
{
    if (!m_owner)
        return ZEL_STATUS_SUCCESS;
    if (m_lock == nullptr)
        return ZEL_STATUS_UNSPECIFIC_ERROR;
    m_lock->unlock();
    m_owner = false;
    return ZEL_STATUS_SUCCESS;
}
