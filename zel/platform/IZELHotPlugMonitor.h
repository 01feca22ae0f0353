#pragma once

#include "zel/platform/ZELSerialPortList.h"

#include <functional>
#include <memory>

// A serial device that appeared or went.
struct ZELSerialDeviceEvent
{
    bool attached = false;
    // What is known of the device; a removed device still names its node, links and USB ids.
    ZELPlatform::SerialPortInfo port;
};

// Watches the machine for serial devices coming and going and reports each on its own thread.
class IZELHotPlugMonitor
{
public:
    using Callback = std::function<void(const ZELSerialDeviceEvent&)>;

    virtual ~IZELHotPlugMonitor() = default;
    // Starts watching; 0 or the errno of what failed. A running monitor is restarted with the new callback.
    virtual int Start(Callback callback) = 0;
    // Stops watching; once it returns the callback is not called any more.
    virtual void Stop() = 0;
    virtual bool IsRunning() const = 0;
};

// The machine's monitor (udev).
std::unique_ptr<IZELHotPlugMonitor> ZELCreateHotPlugMonitor();
