#include "plugins/scriva/CPluginMessageQueue.h"

#include "zel/foundation/ZELStatus.h"

#include <cstddef>
#include <cstdint>

namespace Scriva {

CPluginMessageQueue::CPluginMessageQueue()
{
    SetName("Scriva Message Queue");
}

CPluginMessageQueue::~CPluginMessageQueue()
{
    GetZELMessageQueue().Unregister(this);
    Terminate();
}

long CPluginMessageQueue::Terminate()
{
    return CZELMessageQueue::Terminate();
}

long CPluginMessageQueue::ProcessMessage(CZELMessage& message)
{
    const auto* buffer = static_cast<const std::uint8_t*>(static_cast<const CZELMessage&>(message).GetBuffer());
    const auto size = static_cast<std::size_t>(message.GetBufferSize() > 0 ? message.GetBufferSize() : 0);
    switch (message.GetMessageType()) {
    case ZEL_MESSAGE_SERIAL_DEVICE_ATTACHED: return m_tasks.LogDeviceAttached(buffer, size);
    case ZEL_MESSAGE_SERIAL_DEVICE_DETACHED: return m_tasks.LogDeviceDetached(buffer, size);
    case ZEL_MESSAGE_SERIAL_DATA_RECEIVED: return m_tasks.GetDevice().ProcessReceivedPacket(buffer, size);
    case ZEL_MESSAGE_SERIAL_DATA_SENT: // the trace shows the device's side only
    case ZEL_MESSAGE_TRANSFER_PROGRESS: return ZEL_STATUS_SUCCESS;
    default: return ZEL_STATUS_INVALID_OPERATION;
    }
}

} // namespace Scriva
