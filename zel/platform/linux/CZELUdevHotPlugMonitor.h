#pragma once

#include "zel/platform/IZELHotPlugMonitor.h"

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

struct udev;
struct udev_monitor;

// Hot-plug monitor on udev's event stream for the tty subsystem, or the kernel's where no udev
// daemon runs; its thread waits with poll() on the monitor's socket and an eventfd that Stop()
// signals, so it costs nothing while nothing happens.
class CZELUdevHotPlugMonitor : public IZELHotPlugMonitor
{
public:
    // The socket udev's daemon listens on while it runs.
    static constexpr const char* kUdevControl = "/run/udev/control";
    // The netlink source of the events: "udev" while its daemon runs (`udevControl` exists), else
    // "kernel".
    static const char* EventSource(const std::string& udevControl);

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
