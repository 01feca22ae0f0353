#pragma once

#include "zel/queue/CZELMessageQueue.h"

#include <atomic>

class CUpdaterDlg;

// The update program's subscriber on the hub: hands every received packet to the dialog's handlers
// and every progress message to its progress bar, on its own worker thread "Update Message Queue".
class CAppMessageQueue : public CZELMessageQueue
{
public:
    CAppMessageQueue();
    // Unregisters and stops the worker before the object goes.
    ~CAppMessageQueue() override;

    // Starts the worker, then registers with the hub.
    long InitializeQueue();
    // Unregisters from the hub, then stops the worker.
    long Terminate() override;

    // The dialog the messages are for; null detaches.
    void SetDialog(CUpdaterDlg* dialog) { m_dialog.store(dialog); }

    long ProcessMessage(CZELMessage& message) override;

private:
    std::atomic<CUpdaterDlg*> m_dialog{nullptr};
};
