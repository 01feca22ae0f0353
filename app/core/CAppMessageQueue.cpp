#include "app/core/CAppMessageQueue.h"

#include "app/core/CUpdaterDlg.h"
#include "app/core/IUpdateView.h"
#include "app/core/UpdateTexts.h"
#include "zel/queue/CZELMessage.h"
#include "zel/foundation/ZELStatus.h"
#include "zel/serial/ZELProtocol.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace {

// Port identity and UTC time stamp before the packet in a serial-traffic record.
constexpr int kRecordHeadSize = 20;

} // namespace

CAppMessageQueue::CAppMessageQueue()
{
    SetName("Update Message Queue");
}

CAppMessageQueue::~CAppMessageQueue()
{
    Terminate();
}

long CAppMessageQueue::InitializeQueue()
{
    const long result = Initialize(true);
    if (result != ZEL_STATUS_SUCCESS)
        return result;
    return GetZELMessageQueue().Register(this);
}

long CAppMessageQueue::Terminate()
{
    GetZELMessageQueue().Unregister(this);
    return CZELMessageQueue::Terminate();
}

long CAppMessageQueue::ProcessMessage(CZELMessage& message)
{
    CUpdaterDlg* const dialog = m_dialog.load();
    if (!dialog)
        return ZEL_STATUS_NOT_INITIALIZED;
    const auto* bytes = static_cast<const std::uint8_t*>(static_cast<const CZELMessage&>(message).GetBuffer());
    const int size = message.GetBufferSize();
    switch (message.GetMessageType()) {
    case ZEL_MESSAGE_SERIAL_DATA_RECEIVED: {
        if (!bytes || size <= kRecordHeadSize)
            return ZEL_STATUS_INVALID_PARAMETER;
        const std::uint8_t* packet = bytes + kRecordHeadSize;
        const auto length = static_cast<std::size_t>(size - kRecordHeadSize);
        const std::uint16_t protocol = dialog->GetProtocol();
        if (ZELIsCCPUFamily(protocol))
            return dialog->ProcessMainProtocolPacket(packet, length);
        if (ZELIsMCPUFamily(protocol))
            return dialog->ProcessModuleProtocolPacket(packet, length);
        return ZEL_STATUS_NOT_IMPLEMENTED;
    }
    case ZEL_MESSAGE_TRANSFER_PROGRESS:
        if (!bytes || size <= 0)
            return ZEL_STATUS_INVALID_PARAMETER;
        dialog->SetProgress(std::min<int>(bytes[0], 100));
        return ZEL_STATUS_SUCCESS;
    case ZEL_MESSAGE_TRANSFER_PHASE: {
        if (!bytes || size <= 0)
            return ZEL_STATUS_INVALID_PARAMETER;
        if (bytes[0] != ZEL_TRANSFER_PHASE_VERIFY)
            return ZEL_STATUS_SUCCESS;
        // Through the queue, so that the write's last progress is shown before the verify's first.
        const std::string target = GetUpdateText(CUpdaterDlg::GetStateTextId(dialog->GetApplicationState()));
        char status[256];
        std::snprintf(status, sizeof status, GetUpdateText(APP_TEXT_STATE_VERIFYING), target.c_str());
        dialog->GetView().SetStatusText(status);
        dialog->SetProgress(0);
        return ZEL_STATUS_SUCCESS;
    }
    default:
        return ZEL_STATUS_SUCCESS;
    }
}
