// The plug-in's two entries. The plug-in object lives as long as the library stays mapped, which
// is until the process ends: a later load initialises the same object again.
#include "plugins/scriva/CPluginMessageQueue.h"
#include "zel/foundation/ZELStatus.h"
#include "zel/queue/CZELMessageQueue.h"

#define SCRIVA_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

Scriva::CPluginMessageQueue* g_queue = nullptr;

// Once the object is gone at process end, a late PluginTerminate (the manager's own destructor)
// finds nothing left to stop.
class CPluginObject
{
public:
    CPluginObject() { g_queue = &m_queue; }
    ~CPluginObject() { g_queue = nullptr; }

private:
    Scriva::CPluginMessageQueue m_queue;
};

CPluginObject g_plugin;

} // namespace

SCRIVA_EXPORT long PluginInitialize()
{
    if (!g_queue)
        return ZEL_STATUS_NOT_INITIALIZED;
    if (const long status = g_queue->Initialize(true); status < 0)
        return status;
    if (const long status = GetZELMessageQueue().Register(g_queue); status < 0)
        return status;
    if (const long status = g_queue->GetTasks().LogLoaded(); status < 0)
        return status;
    return ZEL_STATUS_SUCCESS;
}

SCRIVA_EXPORT long PluginTerminate()
{
    if (!g_queue)
        return ZEL_STATUS_SUCCESS;
    // A log that refuses the record (filtered, or already stopped) must not keep the queue
    // subscribed and its worker running.
    g_queue->GetTasks().LogUnloaded();
    const long unregistered = GetZELMessageQueue().Unregister(g_queue);
    const long terminated = g_queue->Terminate();
    if (unregistered < 0)
        return unregistered;
    return terminated < 0 ? terminated : ZEL_STATUS_SUCCESS;
}
