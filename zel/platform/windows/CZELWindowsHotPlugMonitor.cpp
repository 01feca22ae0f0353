#include "zel/platform/windows/CZELWindowsHotPlugMonitor.h"

#include "zel/foundation/CZELTimeTable.h"
#include "zel/platform/ZELCrashSignals.h"
#include "zel/platform/ZELThreadName.h"

#include <algorithm>
#include <cerrno>
#include <system_error>

namespace {

bool SameAdapter(const ZELPlatform::SerialPortInfo& a, const ZELPlatform::SerialPortInfo& b)
{
    return a.name == b.name && a.path == b.path && a.usbId == b.usbId && a.serial == b.serial
        && a.driver == b.driver && a.description == b.description;
}

} // namespace

CZELWindowsHotPlugMonitor::CZELWindowsHotPlugMonitor()
    : m_lister(&ZELPlatform::ListSerialPorts)
{
}

CZELWindowsHotPlugMonitor::CZELWindowsHotPlugMonitor(Lister lister, std::chrono::milliseconds period)
    : m_lister(std::move(lister))
    , m_period(period)
{
}

CZELWindowsHotPlugMonitor::~CZELWindowsHotPlugMonitor() { Stop(); }

std::vector<ZELSerialDeviceEvent> CZELWindowsHotPlugMonitor::Compare(
    const std::vector<ZELPlatform::SerialPortInfo>& before, const std::vector<ZELPlatform::SerialPortInfo>& after)
{
    std::vector<ZELSerialDeviceEvent> events;
    const auto in = [](const std::vector<ZELPlatform::SerialPortInfo>& list, const ZELPlatform::SerialPortInfo& port) {
        return std::any_of(
            list.begin(), list.end(), [&port](const ZELPlatform::SerialPortInfo& p) { return SameAdapter(p, port); });
    };
    for (const ZELPlatform::SerialPortInfo& port : before)
        if (!in(after, port))
            events.push_back({false, port});
    for (const ZELPlatform::SerialPortInfo& port : after)
        if (!in(before, port))
            events.push_back({true, port});
    return events;
}

int CZELWindowsHotPlugMonitor::Start(Callback callback)
{
    Stop();
    std::lock_guard lock(m_lifecycle);
    m_stop.Reset();
    m_runPeriod = m_period.count() > 0 ? m_period : ZELTimes().portListPoll;
    m_ports = m_lister();
    m_callback = std::move(callback);
    m_running = true;
    try {
        m_thread = std::thread([this] {
            void* alternateStack = ZELPlatform::AttachAlternateSignalStack(); // for a stack overflow's report
            Run();
            ZELPlatform::ReleaseAlternateSignalStack(alternateStack);
        });
    } catch (const std::system_error& error) {
        m_running = false;
        m_callback = nullptr;
        return error.code().value() != 0 ? error.code().value() : EAGAIN;
    }
    return 0;
}

void CZELWindowsHotPlugMonitor::Stop()
{
    std::lock_guard lock(m_lifecycle);
    if (!m_thread.joinable())
        return;
    m_running = false;
    m_stop.Set();
    m_thread.join();
    m_callback = nullptr;
    m_ports.clear();
}

void CZELWindowsHotPlugMonitor::Run()
{
    ZELPlatform::SetCurrentThreadName("ZEL Hot Plug");
    while (!m_stop.Wait(m_runPeriod)) {
        std::vector<ZELPlatform::SerialPortInfo> ports = m_lister();
        for (const ZELSerialDeviceEvent& event : Compare(m_ports, ports)) {
            if (m_stop.IsSet())
                return;
            m_callback(event);
        }
        m_ports = std::move(ports);
    }
}

std::unique_ptr<IZELHotPlugMonitor> ZELCreateHotPlugMonitor()
{
    return std::make_unique<CZELWindowsHotPlugMonitor>();
}
