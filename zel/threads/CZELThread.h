#pragma once

#include "zel/platform/CZELEvent.h"
#include "zel/platform/CZELNativeThread.h"
#include "zel/platform/CZELRecursiveMutex.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

// Owns one worker thread: starts it with a function and a data pointer, names it, offers a sleep
// that a stop request interrupts, and stops it through the stop event and the running flag that
// the worker's loop tests.
//
// A worker follows one pattern: return ZEL_STATUS_NOT_INITIALIZED at once when IsRunning() is
// false, else SignalStart(), then loop while IsRunning() and wait between passes on the stop event
// (Sleep), so that a stop request ends the wait at once.
class CZELThread
{
public:
    using ThreadFunction = long (*)(void*);

    CZELThread();
    CZELThread(const CZELThread&) = delete;
    CZELThread& operator=(const CZELThread&) = delete;
    // Stops the thread and waits for its end.
    virtual ~CZELThread();

    // The security attributes, stack size and creation flags have no meaning for the threads of
    // this platform and are ignored. ZEL_STATUS_BUSY while a thread exists, ZEL_STATUS_INVALID_HANDLE
    // when the system refuses a thread. With `waitForStart` it returns once the function has called
    // SignalStart.
    virtual long CreateThread(ThreadFunction function, void* data, void* securityAttributes = nullptr,
        std::uint32_t stackSize = 0, std::uint32_t creationFlags = 0, bool waitForStart = false);

    // Asks the thread to stop; with `wait` also waits without limit for its end, after which the
    // object is idle. Without `wait` the object stays busy until EndOfThread or a waiting call.
    long DestroyThread(bool wait);
    // The last act of a thread function that ends by itself, so that the object can start again.
    long EndOfThread();

    bool IsRunning() const { return m_running.load(); }
    long SetExitCode(std::uint32_t code);
    unsigned long GetExitCode() const { return m_exitCode.load(); }
    long SignalStart();

    // Waits on the stop event: ZEL_STATUS_SUCCESS when the whole time passed,
    // ZEL_STATUS_OPERATION_BROKEN when the event was set.
    long Sleep(std::uint32_t milliseconds);
    long Sleep(std::chrono::milliseconds duration);

    // Stores the name; a running thread is renamed at once.
    long SetThreadName(const std::string& name);
    // ZEL_STATUS_INVALID_HANDLE (output untouched) when there is no thread.
    long GetThreadName(std::string& name) const;
    long GetThreadID(unsigned long& id) const;
    // The kernel thread id, or 0xFFFFFFFA (ZEL_STATUS_INVALID_HANDLE as 32 bits) without a thread.
    unsigned long GetThreadID() const;

    // Wakes a sleeping worker without ending it; the worker calls ResetSoftStop once awake.
    long SetSoftStop();
    long ResetSoftStop();

protected:
    // Run in the new thread before and after the thread function.
    virtual long PreProcessThread();
    virtual long PostProcessThread();
    // Names the calling thread with the stored name.
    long SetThreadName();

private:
    void RunStartRoutine(ThreadFunction function, void* data, const std::string& name);
    // Asks for the stop and waits for the thread, then leaves the object idle.
    void StopAndWait();
    void JoinRetired();

    // Guards the thread, id, name and busy state. Never held while waiting for the thread, so the
    // thread may take other locks (the thread monitor's) on its way out.
    mutable CZELRecursiveMutex m_lock;
    // Serialises the operations that create a thread or wait for one to end.
    std::mutex m_lifecycle;
    CZELNativeThread m_native;
    // A thread that called EndOfThread and is running the rest of its start routine; joined before
    // the next start and at destruction.
    CZELNativeThread m_retired;
    bool m_busy = false;
    unsigned long m_threadId = 0;
    std::string m_name;
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_softStop{false};
    std::atomic<std::uint32_t> m_exitCode{0};
    CZELEvent m_startEvent;
    CZELEvent m_stopEvent;
};
