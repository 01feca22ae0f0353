#include "zel/platform/linux/CZELUdevHotPlugMonitor.h"

#include "zel/platform/ZELCrashSignals.h"

#include "zel/platform/ZELThreadName.h"
#include "zel/platform/linux/ZELUdevSerialPorts.h"

#include <libudev.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <system_error>

const char* CZELUdevHotPlugMonitor::EventSource(const std::string& udevControl)
{
    // With a udev daemon: its events, sent once it has finished with a device, so its links and
    // properties are there. Without one (a container, an initramfs, a minimal system) nothing is
    // ever sent there; the kernel's own events tell the same, and devtmpfs has made or removed the
    // node before the kernel sends them.
    return ::access(udevControl.c_str(), F_OK) == 0 ? "udev" : "kernel";
}

CZELUdevHotPlugMonitor::CZELUdevHotPlugMonitor() = default;

CZELUdevHotPlugMonitor::~CZELUdevHotPlugMonitor() { Stop(); }

int CZELUdevHotPlugMonitor::Start(Callback callback)
{
    Stop();
    std::lock_guard lock(m_lifecycle);
    const auto fail = [this](int error) {
        if (m_monitor != nullptr)
            ::udev_monitor_unref(m_monitor);
        if (m_udev != nullptr)
            ::udev_unref(m_udev);
        if (m_wakeFd >= 0)
            ::close(m_wakeFd);
        m_monitor = nullptr;
        m_udev = nullptr;
        m_wakeFd = -1;
        return error != 0 ? error : EIO;
    };
    m_udev = ::udev_new();
    if (m_udev == nullptr)
        return fail(errno);
    m_monitor = ::udev_monitor_new_from_netlink(m_udev, EventSource(kUdevControl));
    if (m_monitor == nullptr)
        return fail(errno);
    if (::udev_monitor_filter_add_match_subsystem_devtype(m_monitor, "tty", nullptr) < 0)
        return fail(EINVAL);
    if (const int result = ::udev_monitor_enable_receiving(m_monitor); result < 0)
        return fail(-result);
    m_wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_wakeFd < 0)
        return fail(errno);
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
        return fail(error.code().value());
    }
    return 0;
}

void CZELUdevHotPlugMonitor::Stop()
{
    std::lock_guard lock(m_lifecycle);
    if (!m_thread.joinable())
        return;
    m_running = false;
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(m_wakeFd, &one, sizeof one);
    m_thread.join();
    ::udev_monitor_unref(m_monitor);
    ::udev_unref(m_udev);
    ::close(m_wakeFd);
    m_monitor = nullptr;
    m_udev = nullptr;
    m_wakeFd = -1;
    m_callback = nullptr;
}

void CZELUdevHotPlugMonitor::Run()
{
    ZELPlatform::SetCurrentThreadName("ZEL Hot Plug");
    const int socket = ::udev_monitor_get_fd(m_monitor);
    while (m_running) {
        pollfd fds[2] = {{socket, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents & POLLIN)
            return;
        if (!(fds[0].revents & POLLIN))
            continue;
        std::unique_ptr<udev_device, decltype(&::udev_device_unref)> device(
            ::udev_monitor_receive_device(m_monitor), &::udev_device_unref);
        if (!device || !ZELPlatform::IsSerialPortDevice(device.get()))
            continue;
        const char* action = ::udev_device_get_action(device.get());
        if (action == nullptr)
            continue;
        ZELSerialDeviceEvent event;
        if (std::strcmp(action, "add") == 0)
            event.attached = true;
        else if (std::strcmp(action, "remove") != 0)
            continue; // change, bind and the like leave the port where it is
        event.port = ZELPlatform::DescribeSerialPort(device.get());
        m_callback(event);
    }
}

std::unique_ptr<IZELHotPlugMonitor> ZELCreateHotPlugMonitor()
{
    return std::make_unique<CZELUdevHotPlugMonitor>();
}
