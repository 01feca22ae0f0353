#pragma once

#include "zel/platform/IZELHotPlugMonitor.h"

#include <atomic>
#include <mutex>
#include <thread>

struct udev;
struct udev_monitor;

// Hot-plug monitor on udev's event stream for the tty subsystem; its thread waits with poll() on the
// monitor's socket and an eventfd that Stop() signals, so it costs nothing while nothing happens.
class CZELUdevHotPlugMonitor : public IZELHotPlugMonitor
{
public:
    CZELUdevHotPlugMonitor();
    CZELUdevHotPlugMonitor(const CZELUdevHotPlugMonitor&) = delete;
    CZELUdevHotPlugMonitor& operator=(const CZELUdevHotPlugMonitor&) = delete;
    ~CZELUdevHotPlugMonitor() override;

    int Start(Callback callback) override;
    void Stop() override;
    bool IsRunning() const override { return m_running.load(); }

private:
    void Run();

    std::mutex m_lifecycle;
    udev* m_udev = nullptr;
    udev_monitor* m_monitor = nullptr;
    int m_wakeFd = -1;
    Callback m_callback;
    std::thread m_thread;
    std::atomic<bool> m_running{false};
};
