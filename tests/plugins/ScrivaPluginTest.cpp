// The Scriva plug-in loaded through the plug-in manager, fed with the records the serial link
// publishes on the hub.
#include "zel/foundation/CZELLanguage.h"
#include "zel/foundation/ZELStatus.h"
#include "zel/plugins/CZELPluginManager.h"
#include "zel/queue/CZELMessageQueue.h"

#include "log/ZELLogCapture.h"
#include "support/ZELTestPackets.h"
#include "support/ZELTestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using ZELTest::Bytes;
using ZELTest::CCPUPacket;
using ZELTest::Join;
using ZELTest::MCPUPacket;

namespace {

const char* const kScriva = "Scriva.dll";

// Port identity 0x11223344 and the UTC time 2024-05-17 (a Friday) 08:09:10.011.
const Bytes kRecordHead = {0x44, 0x33, 0x22, 0x11, 0xE8, 0x07, 5, 0, 5, 0, 17, 0, 8, 0, 9, 0, 10, 0, 11, 0};

void Publish(std::uint32_t type, const Bytes& buffer)
{
    CZELMessage message(type, buffer.data(), static_cast<int>(buffer.size()));
    GetZELMessageQueue().Notify(message);
}

void Received(const Bytes& packet) { Publish(ZEL_MESSAGE_SERIAL_DATA_RECEIVED, Join({kRecordHead, packet})); }

struct LogRecord
{
    std::string event;
    std::string reference;
    std::string caller;
    std::string context;
    std::string message;
};

// Stops the log (writing everything pending) and returns the records of one caller.
std::vector<LogRecord> RecordsOf(const std::string& caller)
{
    GetZELSystemLogEx().Terminate();
    std::vector<LogRecord> records;
    for (const auto& fields : ZELTest::ReadCsv(ZELTest::ReadFile(GetZELSystemLogEx().GetFilePath()))) {
        if (fields.size() == 10 && fields[7] == caller)
            records.push_back({fields[5], fields[6], fields[7], fields[8], fields[9]});
    }
    return records;
}

class ScrivaPluginTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_EQ(GetZELPluginManager().LoadPlugin(kScriva), ZEL_STATUS_SUCCESS); }
    void TearDown() override { GetZELPluginManager().UnloadAllPlugins(); }

    ZELTest::ScopedSystemLog log;
};

} // namespace

TEST_F(ScrivaPluginTest, LogsOneCommandRecordPerReceivedPacketThatHasText)
{
    const Bytes moduleList =
        MCPUPacket(0x3E, 0x4C, Join({{1}, {2, 102, 0, 1, 1, 210, 4}, Bytes(6, 0)}));
    Bytes cut = CCPUPacket(0x42, 0x4052, {0, 0x20, 'H', 0, 'S', 0});
    cut.resize(9);
    Publish(ZEL_MESSAGE_SERIAL_DATA_SENT, Join({kRecordHead, CCPUPacket(0x42, 0x4C56, {1})}));
    Received(CCPUPacket(0x42, 0x4051, {0}));
    Received(CCPUPacket(0x42, 0x4015, {0}));
    Received(CCPUPacket(0x42, 0x4015, {3}));
    Received(CCPUPacket(0x42, 0x4099, {0}));
    Received(CCPUPacket(0x42, 0xBFFE, {1, 0}));
    Received(CCPUPacket(0x19, 0xBFFE, {1, 0}));
    Received(MCPUPacket(0x3E, 0x58, Bytes(11, 0)));
    Received(MCPUPacket(0x3E, 0x43, {0x99}));
    Received(MCPUPacket(0x24, 0x99, {}));
    Received({0x07, 0x01, 0x40, 0x00, 0x00, 0x00, 0x00});
    Received(cut);
    Publish(ZEL_MESSAGE_SERIAL_DATA_RECEIVED, Bytes(kRecordHead.begin(), kRecordHead.end()));
    const std::uint8_t percent = 50;
    Publish(ZEL_MESSAGE_TRANSFER_PROGRESS, {percent});
    Received(moduleList);
    Received(CCPUPacket(0x42, 0x4013, {2}));
    ASSERT_TRUE(log.sink.WaitForLine("CCPU_CMD_ID_ACK_GET_EXPANDERS"));

    const std::vector<std::string> expected = {
        "CCPU_CMD_ID_ACK_SET_HARDWARE_INFO; internal status; 0; status; 0",
        "CCPU_CMD_ID_ACK_SEND_FIRMWARE; internal status; 3;",
        "0x4099 (unknown command)",
        "0x0099 (unknown command)",
        "MCPU_CMD_ID_ACK_GET_MODULE_LIST; internal status; 0; found modules; 1\r\n#2; board; V 01.02.00; boot; V "
        "02.57.00; main; V 12.34.00",
        "CCPU_CMD_ID_ACK_GET_EXPANDERS; internal status; 0; expander count; 2",
    };
    const std::vector<LogRecord> records = RecordsOf("Scriva::CPluginDevice");
    ASSERT_EQ(records.size(), expected.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
        SCOPED_TRACE(expected[i]);
        EXPECT_EQ(records[i].message, expected[i]);
        EXPECT_EQ(records[i].event, "command");
        EXPECT_EQ(records[i].reference, "");
        EXPECT_EQ(records[i].context, records[0].context);
    }
    EXPECT_EQ(records[0].context.rfind("0x", 0), 0U);
    EXPECT_GE(records[0].context.size(), 10U);
}

TEST_F(ScrivaPluginTest, LogsAttachAndDetachOfASerialDevice)
{
    Publish(ZEL_MESSAGE_SERIAL_DEVICE_ATTACHED, Bytes(kRecordHead.begin(), kRecordHead.begin() + 10)); // too short
    Publish(ZEL_MESSAGE_SERIAL_DEVICE_DETACHED, kRecordHead); // without reason: too short
    Publish(ZEL_MESSAGE_SERIAL_DEVICE_ATTACHED, kRecordHead);
    Publish(ZEL_MESSAGE_SERIAL_DEVICE_DETACHED, Join({kRecordHead, {0xFD, 0xFF, 0xFF, 0xFF}}));
    ASSERT_TRUE(log.sink.WaitForLine("detach reason"));

    const std::vector<LogRecord> records = RecordsOf("Scriva::CPluginTasks");
    std::vector<std::string> messages;
    for (const LogRecord& record : records) {
        if (record.context == "0x11223344") {
            EXPECT_EQ(record.event, "information");
            messages.push_back(record.message);
        }
    }
    const std::vector<std::string> expected = {
        "Serial port device attach detected; 2024-05-17; 08:09:10",
        "serial port device detach detected; 2024-05-17; 08:09:10; detach reason; -3",
    };
    EXPECT_EQ(messages, expected);
}

TEST_F(ScrivaPluginTest, LogsItsLoadAndUnloadInTheCurrentLanguage)
{
    const struct
    {
        long language;
        const char* loaded;
        const char* unloaded;
    } cases[] = {
        {ZEL_LANGUAGE_GERMAN, "Das folgende Plug-in wurde initialisiert: Scriva.dll",
            "Das folgende Plug-in wurde beendet: Scriva.dll"},
        {ZEL_LANGUAGE_ENGLISH, "The following plug-in has been initialized: Scriva.dll",
            "The following plug-in has been terminated: Scriva.dll"},
        {ZEL_LANGUAGE_THIRD, "???", "???"},
    };
    GetZELPluginManager().UnloadAllPlugins();
    std::vector<std::string> expected;
    for (const auto& c : cases) {
        const ZELTest::ScopedLanguage language(c.language);
        EXPECT_EQ(GetZELPluginManager().LoadPlugin(kScriva), ZEL_STATUS_SUCCESS);
        EXPECT_EQ(GetZELPluginManager().UnloadAllPlugins(), ZEL_STATUS_SUCCESS);
        expected.push_back(c.loaded);
        expected.push_back(c.unloaded);
    }
    ASSERT_EQ(GetZELPluginManager().LoadPlugin(kScriva), ZEL_STATUS_SUCCESS);

    std::vector<std::string> messages;
    for (const LogRecord& record : RecordsOf("Scriva::CPluginTasks")) {
        EXPECT_EQ(record.event, "information");
        EXPECT_EQ(record.context, "");
        messages.push_back(record.message);
    }
    // The fixture's own load comes first, the reload last.
    ASSERT_EQ(messages.size(), expected.size() + 3);
    EXPECT_EQ(std::vector<std::string>(messages.begin() + 2, messages.end() - 1), expected);
}

TEST_F(ScrivaPluginTest, UnloadStopsTheQueueEvenWhenTheLogRefusesItsRecord)
{
    {
        const ZELTest::ScopedLogFilters filters;
        GetZELSystemLogEx().SetFileFilter(ZEL_SYSTEM_LOG_EX_EVENT_COMMAND);
        GetZELSystemLogEx().SetOutputFilter(ZEL_SYSTEM_LOG_EX_EVENT_COMMAND);
        EXPECT_EQ(GetZELPluginManager().UnloadAllPlugins(), ZEL_STATUS_SUCCESS);
    }

    // Packets published while unloaded reach nobody; a still running worker would refuse the restart.
    Received(CCPUPacket(0x42, 0x4051, {0}));
    ASSERT_EQ(GetZELPluginManager().LoadPlugin(kScriva), ZEL_STATUS_SUCCESS);
    Received(CCPUPacket(0x42, 0x4013, {2}));
    ASSERT_TRUE(log.sink.WaitForLine("CCPU_CMD_ID_ACK_GET_EXPANDERS"));
    const std::vector<LogRecord> records = RecordsOf("Scriva::CPluginDevice");
    ASSERT_EQ(records.size(), 1U);
    EXPECT_EQ(records[0].message, "CCPU_CMD_ID_ACK_GET_EXPANDERS; internal status; 0; expander count; 2");
}
