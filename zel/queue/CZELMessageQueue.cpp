#include "zel/queue/CZELMessageQueue.h"

#include "zel/foundation/CZELLanguage.h"
#include "zel/foundation/CZELTimeTable.h"
#include "zel/foundation/ZELStatus.h"
#include "zel/threads/CZELSynchronize.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <mutex>
#include <new>

namespace {

constexpr long kTextStarted = 1;
constexpr long kTextNotStarted = 2;

long MessageLoopMain(void* data)
{
    if (data == nullptr)
        return ZEL_STATUS_INVALID_PARAMETER;
    return static_cast<CZELMessageQueue*>(data)->RunMessageLoopThread();
}

} // namespace

CZELMessageQueue::CZELMessageQueue()
{
    char reference[32];
    std::snprintf(reference, sizeof reference, "0x%08" PRIXPTR, reinterpret_cast<std::uintptr_t>(this));
    m_reference = reference;
}

CZELMessageQueue::~CZELMessageQueue()
{
    m_thread.DestroyThread(true);
}

long CZELMessageQueue::AddOutput(const std::string& message, _ZELSystemLogExEventType type)
{
    return GetZELSystemLogEx().AddOutput(message, type, "", "CZELMessageQueue", m_reference);
}

long CZELMessageQueue::Initialize(bool startThread)
{
    if (m_thread.IsRunning())
        return ZEL_STATUS_BUSY;
    if (startThread) {
        m_thread.SetThreadName(m_name);
        const long status = m_thread.CreateThread(&MessageLoopMain, this);
        if (status != ZEL_STATUS_SUCCESS) {
            AddOutput(GetZELLanguage().GetString(ZEL_MODULE_MESSAGE_QUEUE, kTextNotStarted),
                ZEL_SYSTEM_LOG_EX_EVENT_ERROR);
            return status;
        }
    }
    AddOutput(GetZELLanguage().GetString(ZEL_MODULE_MESSAGE_QUEUE, kTextStarted),
        ZEL_SYSTEM_LOG_EX_EVENT_INFORMATION);
    return ZEL_STATUS_SUCCESS;
}

long CZELMessageQueue::Terminate()
{
    // The worker is stopped first, outside the locks, so that it never has to wait for them.
    m_thread.DestroyThread(true);
    std::lock_guard subscribersLock(m_subscribersLock);
    std::lock_guard messagesLock(m_messagesLock);
    m_subscribers.clear();
    m_messages.clear();
    m_messageCount = 0;
    return ZEL_STATUS_SUCCESS;
}

long CZELMessageQueue::PushMessage(CZELMessage& message)
{
    {
        std::lock_guard lock(m_messagesLock);
        try {
            m_messages.push_back(message);
        } catch (const std::bad_alloc&) {
            return ZEL_STATUS_NO_MEMORY;
        }
        m_messageCount = static_cast<long>(m_messages.size());
    }
    m_thread.SetSoftStop();
    return ZEL_STATUS_SUCCESS;
}

long CZELMessageQueue::PopMessage(CZELMessage& message)
{
    CZELSynchronize sync(&m_messagesLock, false);
    const long status = sync.Enter(static_cast<std::uint32_t>(ZELTimes().queuePopLockTimeout.count()));
    if (status != ZEL_STATUS_SUCCESS)
        return status;
    if (m_messages.empty())
        return ZEL_STATUS_UNSPECIFIC_ERROR;
    message = std::move(m_messages.front());
    m_messages.pop_front();
    m_messageCount = static_cast<long>(m_messages.size());
    return ZEL_STATUS_SUCCESS;
}

long CZELMessageQueue::Register(CZELMessageQueue* queue)
{
    std::lock_guard lock(m_subscribersLock);
    if (std::find(m_subscribers.begin(), m_subscribers.end(), queue) == m_subscribers.end())
        m_subscribers.push_back(queue);
    return ZEL_STATUS_SUCCESS;
}

long CZELMessageQueue::Unregister(CZELMessageQueue* queue)
{
    std::lock_guard lock(m_subscribersLock);
    const auto found = std::find(m_subscribers.begin(), m_subscribers.end(), queue);
    if (found == m_subscribers.end())
        return ZEL_STATUS_NOT_FOUND;
    m_subscribers.erase(found);
    return ZEL_STATUS_SUCCESS;
}

long CZELMessageQueue::Notify(CZELMessage& message)
{
    std::lock_guard lock(m_subscribersLock);
    for (CZELMessageQueue* subscriber : m_subscribers)
        subscriber->PushMessage(message);
    return ZEL_STATUS_SUCCESS;
}

long CZELMessageQueue::GetMessagesCount()
{
    return m_messageCount.load();
}

long CZELMessageQueue::ProcessMessage(CZELMessage&)
{
    return ZEL_STATUS_INVALID_OPERATION;
}

long CZELMessageQueue::RunMessageLoopThread()
{
    if (!m_thread.IsRunning())
        return ZEL_STATUS_NOT_INITIALIZED;
    m_thread.SignalStart();
    CZELMessage message;
    while (m_thread.IsRunning()) {
        // A stop request ends the drain too: what is still pending is dropped by Terminate.
        while (m_thread.IsRunning()) {
            m_thread.UpdateStatus();
            if (PopMessage(message) != ZEL_STATUS_SUCCESS)
                break;
            ProcessMessage(message);
        }
        m_thread.Sleep(ZELTimes().workerLoopWait);
        m_thread.ResetSoftStop();
    }
    message.SetBufferSize(0);
    return ZEL_STATUS_SUCCESS;
}
