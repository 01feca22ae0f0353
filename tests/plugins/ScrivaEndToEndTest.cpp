// The Scriva plug-in on a live link: the simulator answers over a pseudo-terminal, the serial
// port publishes what it sends and receives, and the plug-in writes the received packets to the log.
#include "zel/commands/CZELCommandSet.h"
#include "zel/foundation/ZELStatus.h"
#include "zel/plugins/CZELPluginManager.h"
#include "zel/queue/CZELMessageQueue.h"
#include "zel/serial/CZELSerialPort.h"

#include "log/ZELLogCapture.h"
#include "sim/SimTestSupport.h"
#include "support/ZELTestSupport.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

namespace {

// Counts the records the port publishes.
class TrafficCounter : public CZELMessageQueue
{
public:
    TrafficCounter()
    {
        SetName("Test Traffic Counter");
        EXPECT_EQ(Initialize(true), ZEL_STATUS_SUCCESS);
        GetZELMessageQueue().Register(this);
    }
    ~TrafficCounter() override
    {
        GetZELMessageQueue().Unregister(this);
        Terminate();
    }
    // Waits until `count` records have been counted in all; the counts then.
    std::pair<int, int> WaitForTotal(int count)
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, std::chrono::seconds(10), [&] { return m_received + m_sent >= count; });
        return { m_received, m_sent };
    }

protected:
    long ProcessMessage(CZELMessage& message) override
    {
        {
            std::lock_guard lock(m_mutex);
            if (message.GetMessageType() == ZEL_MESSAGE_SERIAL_DATA_RECEIVED)
                ++m_received;
            else if (message.GetMessageType() == ZEL_MESSAGE_SERIAL_DATA_SENT)
                ++m_sent;
        }
        m_changed.notify_all();
        return ZEL_STATUS_SUCCESS;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_received = 0;
    int m_sent = 0;
};

TEST(ScrivaEndToEnd, LogsOneCommandRecordPerReceivedPacketAndNoneForSentOnes)
{
    ZELTest::ScopedSystemLog log;
    auto server = SimTest::Serve(R"({"device": {"hardware": "QTR-1",
        "expanders": [{"type": 33, "version": "V 02.02.01"}, {"type": 34, "version": "V 02.02.02"}]}})");
    const ZELTest::ScopedPluginUnload unload;
    ASSERT_EQ(GetZELPluginManager().LoadPlugin("Scriva.dll"), ZEL_STATUS_SUCCESS);
    TrafficCounter traffic;
    CZELSerialPort& port = GetZELSerialPort();
    port.SetSerialPortSettings(server->Path(), 7);
    ASSERT_EQ(port.InitializeReceivingThread(), ZEL_STATUS_SUCCESS) << port.GetLastOpenErrorText();

    std::uint8_t request[64] = {};
    ASSERT_EQ(port.SendCommand(request, GetZELCommandSet().PrepareReqGetDeviceInfo(request)), ZEL_STATUS_SUCCESS);
    ASSERT_TRUE(log.sink.WaitForLine("CCPU_CMD_ID_ACK_GET_DEVICE_INFO"));
    ASSERT_EQ(port.SendCommand(request, GetZELCommandSet().PrepareReqGetExpanders(request)), ZEL_STATUS_SUCCESS);
    // The count, then one notification per expander.
    ASSERT_TRUE(log.sink.WaitForLine("CCPU_CMD_ID_NOT_EXPANDER", 2));
    const auto [received, sent] = traffic.WaitForTotal(6);
    port.TerminateReceivingThread();
    GetZELPluginManager().UnloadAllPlugins();

    GetZELSystemLogEx().Terminate();
    int commands = 0;
    for (const auto& fields : ZELTest::ReadCsv(ZELTest::ReadFile(GetZELSystemLogEx().GetFilePath()))) {
        if (fields.size() == 10 && fields[7] == "Scriva::CPluginDevice" && fields[5] == "command") {
            ++commands;
            EXPECT_EQ(fields[9].rfind("CCPU_CMD_ID_", 0), 0U) << fields[9];
        }
    }
    EXPECT_EQ(sent, 2);
    EXPECT_EQ(received, 4);
    EXPECT_EQ(commands, received) << "one record per received packet, none per sent one";
}

} // namespace
