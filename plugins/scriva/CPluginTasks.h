#pragma once

#include "plugins/scriva/CPluginDevice.h"
#include "zel/log/CZELSystemLogEx.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace Scriva {

// The plug-in's own events: its start and end and the attaching and detaching of a serial device.
class CPluginTasks
{
public:
    CPluginTasks() = default;
    CPluginTasks(const CPluginTasks&) = delete;
    CPluginTasks& operator=(const CPluginTasks&) = delete;
    virtual ~CPluginTasks() = default;

    // The statuses are the log's.
    long LogLoaded();
    long LogUnloaded();
    // ZEL_STATUS_INVALID_BUFFER without a record when the buffer is shorter than its layout.
    long LogDeviceAttached(const std::uint8_t* buffer, std::size_t size);
    long LogDeviceDetached(const std::uint8_t* buffer, std::size_t size);

    CPluginDevice& GetDevice() { return m_device; }

private:
    long AddOutput(const std::string& message, _ZELSystemLogExEventType type, const std::string& context = "");

    CPluginDevice m_device;
};

} // namespace Scriva
