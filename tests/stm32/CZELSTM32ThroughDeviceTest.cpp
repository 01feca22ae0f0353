// The through-device transmission end to end: requests leave through the process's serial link
// to the simulated device, whose acknowledgements come back as records that a packet handler
// turns into the block-acknowledged flag, as the update program does.

#include "zel/stm32/CZELSTM32BootLoader.h"

#include "log/ZELLogCapture.h"
#include "sim/SimTestSupport.h"
#include "zel/commands/CZELCommandSet.h"
#include "zel/firmware/CZELFileHeader.h"
#include "zel/foundation/ZELStatus.h"
#include "zel/queue/CZELMessage.h"
#include "zel/queue/CZELMessageQueue.h"
#include "zel/serial/CZELSerialPort.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using Bytes = std::vector<std::uint8_t>;

// Sets the flag on every send-firmware acknowledgement with status 0.
class BlockAcknowledger : public CZELMessageQueue
{
public:
    explicit BlockAcknowledger(CZELSTM32BootLoader& loader)
        : m_loader(loader)
    {
        SetName("Test Block Acknowledger");
        EXPECT_EQ(Initialize(true), ZEL_STATUS_SUCCESS);
        GetZELMessageQueue().Register(this);
    }
    ~BlockAcknowledger() override
    {
        GetZELMessageQueue().Unregister(this);
        Terminate();
    }

protected:
    long ProcessMessage(CZELMessage& message) override
    {
        if (message.GetMessageType() != ZEL_MESSAGE_SERIAL_DATA_RECEIVED
            || message.GetBufferSize() <= static_cast<int>(ZEL_SERIAL_RECORD_HEAD_SIZE))
            return ZEL_STATUS_SUCCESS;
        const auto* packet = static_cast<const std::uint8_t*>(message.GetBuffer()) + ZEL_SERIAL_RECORD_HEAD_SIZE;
        std::uint8_t status = 0xFF;
        if (packet[0] == 0x42 && packet[1] == 0x15 && packet[2] == 0x40
            && GetZELCommandSet().ProcessAckSendFirmware(packet, &status) == ZEL_STATUS_SUCCESS && status == 0)
            m_loader.SetBlockAcknowledged(true);
        return ZEL_STATUS_SUCCESS;
    }

private:
    CZELSTM32BootLoader& m_loader;
};

TEST(CZELSTM32ThroughDevice, ExpanderFlashEqualsTheDecryptedImage)
{
    ZELTest::ScopedSystemLog log;
    auto server = SimTest::Serve(R"({"device": {"hardware": "QTR-2",
        "expanders": [{"type": "0x21", "version": "V 02.02.01"}]}})");
    CZELSerialPort& port = GetZELSerialPort();
    port.SetSerialPortSettings(server->Path(), 7);
    ASSERT_EQ(port.InitializeReceivingThread(), ZEL_STATUS_SUCCESS) << port.GetLastOpenErrorText();

    CZELSTM32BootLoader loader;
    BlockAcknowledger acknowledger(loader);
    // The device accepts blocks once it has been told which expander to update.
    std::uint8_t request[64] = {};
    const std::uint16_t length = GetZELCommandSet().PrepareReqUpdateExpander(request, 0x21);
    ASSERT_EQ(port.SendCommand(request, length), ZEL_STATUS_SUCCESS);
    ASSERT_EQ(port.WaitWhileBusy(5000), ZEL_STATUS_SUCCESS);

    Bytes image(1500);
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<std::uint8_t>(i * 3 + 1);
    ZELTest::WriteFile("image.bin", std::string(image.begin(), image.end()));
    _FILE_HEADER header {};
    header.fileType = 4;
    std::strcpy(header.version, "V 02.04.01");
    ASSERT_EQ(GetZELFileHeader().CreateNewFile("image.bin", "expander.tarn", &header), ZEL_STATUS_SUCCESS);

    EXPECT_EQ(loader.TransmitFirmwareECPU("expander.tarn"), ZEL_STATUS_SUCCESS);
    EXPECT_TRUE(log.sink.WaitForLine("The Go command has been sent."));
    port.TerminateReceivingThread();
    server->Inspect([&](CSimDevice& device) { EXPECT_EQ(device.ExpanderImage(), image); });
}

} // namespace
