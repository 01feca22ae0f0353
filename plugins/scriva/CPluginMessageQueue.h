#pragma once

#include "plugins/scriva/CPluginTasks.h"
#include "zel/queue/CZELMessageQueue.h"

namespace Scriva {

// The plug-in's subscriber queue "Scriva Message Queue": its worker renders and logs what the hub
// delivers, so that the serial receive thread is never delayed by it.
class CPluginMessageQueue : public CZELMessageQueue
{
public:
    CPluginMessageQueue();
    // Leaves the hub and stops the worker before the members it uses are gone.
    ~CPluginMessageQueue() override;

    long Terminate() override;
    CPluginTasks& GetTasks() { return m_tasks; }

protected:
    long ProcessMessage(CZELMessage& message) override;

private:
    CPluginTasks m_tasks;
};

} // namespace Scriva
