#pragma once

#include "zel/log/CZELSystemLogEx.h"
#include "zel/plugins/CZELScriva.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace Scriva {

// Renders the packets the device sends and logs each as one "command" record, with the object's
// identity as context. Used by the plug-in queue's worker thread alone.
class CPluginDevice
{
public:
    CPluginDevice();
    CPluginDevice(const CPluginDevice&) = delete;
    CPluginDevice& operator=(const CPluginDevice&) = delete;
    virtual ~CPluginDevice() = default;

    // `record` is a serial-traffic record of `size` bytes. ZEL_STATUS_INVALID_BUFFER for a record
    // without packet, ZEL_STATUS_NOT_IMPLEMENTED for a packet of no known source and
    // ZEL_STATUS_INVALID_DATA for one shorter than its header announces, all without a record.
    long ProcessReceivedPacket(const std::uint8_t* record, std::size_t size);
    const std::string& GetIdentity() const { return m_identity; }

private:
    long AddOutput(const std::string& message, _ZELSystemLogExEventType type);

    CZELScriva m_scriva;
    std::string m_identity;
};

} // namespace Scriva
