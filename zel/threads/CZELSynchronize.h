#pragma once

#include "zel/platform/CZELRecursiveMutex.h"

#include <cstdint>

// Scope guard over a module's lock, with an optional time-out on entry. Belongs to the thread on
// whose stack it lives; it is not itself thread-safe.
class CZELSynchronize
{
public:
    CZELSynchronize() = default;
    // Enters the lock (blocking) when `enter` is set and the lock is not null.
    explicit CZELSynchronize(CZELRecursiveMutex* lock, bool enter = true);
    CZELSynchronize(const CZELSynchronize&) = delete;
    CZELSynchronize& operator=(const CZELSynchronize&) = delete;
    ~CZELSynchronize();

    // Leaves a lock it owns, then takes `lock` in its place; entering a null lock is
    // ZEL_STATUS_UNSPECIFIC_ERROR.
    long Initialize(CZELRecursiveMutex* lock, bool enter = true);
    // 0 blocks until the lock is free; otherwise ZEL_STATUS_TIMEOUT once more than `timeoutMs` has
    // passed. An owner gets ZEL_STATUS_SUCCESS at once without entering again.
    long Enter(std::uint32_t timeoutMs = 0);
    long Leave();
    bool IsOwner() const { return m_owner; }

private:
    bool m_owner = false;
    CZELRecursiveMutex* m_lock = nullptr;
};
