#include "zel/platform/CZELNativeThread.h"

#include "zel/platform/ZELCrashSignals.h"
#include "zel/platform/ZELThreadName.h"

#include <future>
#include <system_error>
#include <thread>

struct CZELNativeThread::State
{
    std::thread thread;
};

CZELNativeThread::CZELNativeThread() = default;

CZELNativeThread::CZELNativeThread(CZELNativeThread&& other) noexcept
    : m_state(std::move(other.m_state))
    , m_id(other.m_id)
{
    other.m_id = 0;
}

CZELNativeThread& CZELNativeThread::operator=(CZELNativeThread&& other) noexcept
{
    if (this != &other) {
        Join();
        m_state = std::move(other.m_state);
        m_id = other.m_id;
        other.m_id = 0;
    }
    return *this;
}

CZELNativeThread::~CZELNativeThread()
{
    Join();
}

bool CZELNativeThread::Start(std::function<void()> body)
{
    Join();
    auto state = std::make_unique<State>();
    // The new thread reports its kernel id before it runs the body, so that the creator can
    // publish the id while the body may already be looking for it.
    std::promise<unsigned long> idPromise;
    std::future<unsigned long> id = idPromise.get_future();
    try {
        state->thread = std::thread([idPromise = std::move(idPromise), body = std::move(body)]() mutable {
            idPromise.set_value(ZELPlatform::GetCurrentThreadId());
            void* alternateStack = ZELPlatform::AttachAlternateSignalStack(); // for a stack overflow's report
            body();
            ZELPlatform::ReleaseAlternateSignalStack(alternateStack);
        });
    } catch (const std::system_error&) {
        return false;
    }
    m_id = id.get();
    m_state = std::move(state);
    return true;
}

bool CZELNativeThread::IsAttached() const
{
    return m_state && m_state->thread.joinable();
}

bool CZELNativeThread::IsCurrent() const
{
    return IsAttached() && m_state->thread.get_id() == std::this_thread::get_id();
}

void CZELNativeThread::SetName(const std::string& name)
{
    if (!IsAttached())
        return;
    ZELPlatform::SetThreadName(m_state->thread.native_handle(), m_id, name);
}

void CZELNativeThread::Join()
{
    if (IsAttached()) {
        if (IsCurrent())
            m_state->thread.detach();
        else
            m_state->thread.join();
    }
    m_state.reset();
    m_id = 0;
}
