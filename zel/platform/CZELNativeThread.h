#pragma once

#include <functional>
#include <memory>
#include <string>

// One thread of the operating system. The owner decides when it is joined; the kernel id is known
// as soon as Start returns, so it can be handed out before the body has run.
class CZELNativeThread
{
public:
    CZELNativeThread();
    CZELNativeThread(const CZELNativeThread&) = delete;
    CZELNativeThread& operator=(const CZELNativeThread&) = delete;
    CZELNativeThread(CZELNativeThread&& other) noexcept;
    CZELNativeThread& operator=(CZELNativeThread&& other) noexcept;
    // A thread still attached here is joined (or detached when this is that thread).
    ~CZELNativeThread();

    // Runs `body` on a new thread. False when the system refuses to create one.
    bool Start(std::function<void()> body);

    bool IsAttached() const;
    // Kernel thread id; 0 when no thread is attached.
    unsigned long Id() const { return m_id; }
    // True when the calling thread is the attached thread.
    bool IsCurrent() const;
    // Names the attached thread (the kernel keeps 15 characters).
    void SetName(const std::string& name);

    // Waits for the thread's end; from the thread itself it detaches instead, since a thread cannot
    // wait for itself. Afterwards nothing is attached.
    void Join();

private:
    struct State;
    std::unique_ptr<State> m_state;
    unsigned long m_id = 0;
};
