#include "zel/platform/linux/CZELLowLatencyHold.h"

#include <linux/serial.h>

#include <filesystem>
#include <system_error>

static_assert(CZELLowLatencyHold::kLowLatency == ASYNC_LOW_LATENCY);

bool CZELLowLatencyHold::HasLatencyTimer(const std::string& sysfsRoot, unsigned int major, unsigned int minor)
{
    std::error_code error;
    const std::filesystem::path timer = std::filesystem::path(sysfsRoot) / "dev" / "char"
        / (std::to_string(major) + ":" + std::to_string(minor)) / "device" / "latency_timer";
    return std::filesystem::exists(timer, error);
}

int CZELLowLatencyHold::Take(Access& port)
{
    m_holding = false;
    int flags = 0;
    if (const int error = port.Get(flags); error != 0)
        return error;
    // Set by its owner before: theirs to keep, not ours to clear.
    if ((flags & kLowLatency) != 0)
        return 0;
    if (const int error = port.Set(flags | kLowLatency); error != 0)
        return error;
    m_holding = true;
    return 0;
}

int CZELLowLatencyHold::Release(Access& port)
{
    if (!m_holding)
        return 0;
    m_holding = false;
    int flags = 0;
    if (const int error = port.Get(flags); error != 0)
        return error;
    return port.Set(flags & ~kLowLatency);
}
