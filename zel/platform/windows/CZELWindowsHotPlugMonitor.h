#pragma once

#include "zel/platform/CZELEvent.h"
#include "zel/platform/IZELHotPlugMonitor.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// Hot-plug monitor that compares the port list with the one before, on the period of the time table:
// Windows tells of a new port only to a window, and under Wine nothing tells of it at all. Stop()
// ends the wait between two lists at once.
class CZELWindowsHotPlugMonitor : public IZELHotPlugMonitor
{
public:
    using Lister = std::function<std::vector<ZELPlatform::SerialPortInfo>()>;

    // The machine's port list, compared every ZELTimes().portListPoll.
    CZELWindowsHotPlugMonitor();
    // Another list, compared every `period` (a test's).
    CZELWindowsHotPlugMonitor(Lister lister, std::chrono::milliseconds period);
    CZELWindowsHotPlugMonitor(const CZELWindowsHotPlugMonitor&) = delete;
    CZELWindowsHotPlugMonitor& operator=(const CZELWindowsHotPlugMonitor&) = delete;
    ~CZELWindowsHotPlugMonitor() override;

    // The list at the start is the one the first changes are measured against: ports already there
    // are not reported.
    int Start(Callback callback) override;
    void Stop() override;
    bool IsRunning() const override { return m_running.load(); }

    // What changed from `before` to `after`: ports gone (with what was known of them), then ports
    // come. A port whose name stays but whose adapter changed went and came.
    static std::vector<ZELSerialDeviceEvent> Compare(const std::vector<ZELPlatform::SerialPortInfo>& before,
        const std::vector<ZELPlatform::SerialPortInfo>& after);

private:
    void Run();

    std::mutex m_lifecycle;
    Lister m_lister;
    std::chrono::milliseconds m_period{0}; // 0: the time table's, read at each start
    std::chrono::milliseconds m_runPeriod{0};
    Callback m_callback;
    CZELEvent m_stop;
    std::vector<ZELPlatform::SerialPortInfo> m_ports;
    std::thread m_thread;
    std::atomic<bool> m_running{false};
};
