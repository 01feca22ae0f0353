#include "app/core/CSerialPortLink.h"
#include "app/core/CServiceConsole.h"
#include "app/core/CUpdateJournal.h"
#include "sim/SimTestSupport.h"
#include "support/ZELTestSupport.h"
#include "zel/commands/CZELCommandSet.h"
#include "zel/commands/CZELCommandHelper.h"
#include "zel/commands/CZELPlainComboBox.h"
#include "zel/commands/CZELPlainEdit.h"
#include "zel/commands/CZELPlainStaticText.h"
#include "zel/foundation/ZELStatus.h"
#include "zel/queue/CZELMessageQueue.h"
#include "zel/serial/CZELSerialPort.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <optional>
#include <mutex>
#include <string>
#include <vector>

using namespace SimTest;

namespace {

class Hub : public ::testing::Environment
{
public:
    void SetUp() override { GetZELMessageQueue().Initialize(false); }
    void TearDown() override { GetZELMessageQueue().Terminate(); }
};
[[maybe_unused]] const auto* const kHub = ::testing::AddGlobalTestEnvironment(new Hub);

const char* const kQTR = R"({"device": {"hardware": "QTR-1", "serialNumber": "Q-77",
    "versions": {"CCPU": "V 02.09.30"},
    "expanders": [{"type": 16, "version": "V 02.03.00"}, {"type": "0x21", "version": "V 02.02.01"}]}})";

// The console's lines as a window would show them.
class Lines
{
public:
    CServiceConsole::LineHandler Handler()
    {
        return [this](const std::string& line) {
            std::lock_guard lock(m_mutex);
            m_lines.push_back(line);
            m_changed.notify_all();
        };
    }
    // Index of the first line from `from` on that holds `text`; -1 when none comes in time.
    int WaitFor(const std::string& text, int from = 0)
    {
        std::unique_lock lock(m_mutex);
        int found = -1;
        m_changed.wait_for(lock, kWait, [&] {
            for (std::size_t i = static_cast<std::size_t>(from); i < m_lines.size(); ++i)
                if (m_lines[i].find(text) != std::string::npos) {
                    found = static_cast<int>(i);
                    return true;
                }
            return false;
        });
        return found;
    }
    std::vector<std::string> All()
    {
        std::lock_guard lock(m_mutex);
        return m_lines;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_lines;
};

// A console on the program's serial link to a simulated device, with the dialog's controls.
class ServiceConsole : public ::testing::Test
{
protected:
    void SetUp() override
    {
        server = Serve(kQTR);
        link.SetSerialPortSettings(server->Path(), 7);
        link.SetProtocol(0x1800);
        ASSERT_EQ(console.Start(lines.Handler()), ZEL_STATUS_SUCCESS);
        GetZELCommandHelper().FillRequest(&requests);
    }
    void TearDown() override
    {
        console.Terminate();
        link.TerminateReceivingThread();
    }

    long Choose(const std::string& request, int parameter = 0, const std::string& value = "")
    {
        const auto& names = requests.Entries();
        requests.SetCurSel(static_cast<int>(std::find(names.begin(), names.end(), request) - names.begin()));
        GetZELCommandHelper().FillParameters(&requests, &parameterLabel, &parameters, &valueLabel, &edit);
        parameters.SetCurSel(parameter);
        edit.SetWindowText(value);
        return console.Send(&requests, &parameters, &edit);
    }

    std::unique_ptr<CSimServer> server;
    CSerialPortLink link;
    CServiceConsole console{link};
    Lines lines;
    CZELPlainComboBox requests;
    CZELPlainComboBox parameters;
    CZELPlainStaticText parameterLabel;
    CZELPlainStaticText valueLabel;
    CZELPlainEdit edit;
};

TEST_F(ServiceConsole, ShowsTheSentRequestThenTheRenderedAnswers)
{
    struct Case
    {
        const char* request;
        int parameter;
        std::vector<std::string> answers; // texts of the answer lines, in their order
    };
    const Case cases[] = {
        {"CCPU_REQ_GET_DEVICE_INFO", 0, {"CCPU_CMD_ID_ACK_GET_DEVICE_INFO", "serial number; Q-77"}},
        {"CCPU_REQ_GET_EXPANDERS", 0,
            {"expander count; 2", "CCPU_CMD_ID_NOT_EXPANDER; internal status; 0; count; 2; type; 0x0010",
                "version; V 02.02.01"}},
        {"CCPU_REQ_READ_MEMORY", 1, {"CCPU_CMD_ID_ACK_READ_MEMORY", "memory; 131; length; 128; start address; 0"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.request);
        const int before = static_cast<int>(lines.All().size());
        ASSERT_EQ(Choose(c.request, c.parameter), ZEL_STATUS_SUCCESS) << console.GetLastErrorText();
        int at = lines.WaitFor(std::string("> ") + c.request, before);
        ASSERT_GE(at, 0);
        for (const std::string& answer : c.answers) {
            at = lines.WaitFor(answer, at);
            ASSERT_GE(at, 0) << answer;
            EXPECT_NE(lines.All()[static_cast<std::size_t>(at)].find("  < "), std::string::npos);
        }
    }
    EXPECT_TRUE(console.IsPortOpenedHere());
    EXPECT_GE(console.GetReceivedCount(), 5);
}

// The answer's bytes themselves, not only its head: the pattern the simulated memory holds.
TEST_F(ServiceConsole, ReadMemoryShowsTheBytesItRead)
{
    ASSERT_EQ(Choose("CCPU_REQ_READ_MEMORY", 1), ZEL_STATUS_SUCCESS) << console.GetLastErrorText();
    int at = lines.WaitFor("CCPU_CMD_ID_ACK_READ_MEMORY");
    ASSERT_GE(at, 0);
    for (const char* text : {"  memory 131, 128 bytes from 0x00000000:",
             "  00000000  83 82 81 80 87 86 85 84 8B 8A 89 88 8F 8E 8D 8C",
             "  00000070  F3 F2 F1 F0 F7 F6 F5 F4 FB FA F9 F8 FF FE FD FC"}) {
        at = lines.WaitFor(text, at);
        ASSERT_GE(at, 0) << text;
        EXPECT_EQ(lines.All()[static_cast<std::size_t>(at)], text);
    }
}

// A processor in its bootloader is off the device until it is flashed: the console sends such a
// request only when allowed, and then leaves the mark an update cut short leaves in the journal.
TEST_F(ServiceConsole, SwitchesAProcessorIntoItsBootloaderOnlyWhenAllowedAndJournalsIt)
{
    const ZELTest::TemporaryDirectory folder;
    const ZELTest::ScopedCurrentDirectory inFolder(folder.Path());
    constexpr int kUpdateFirmware = 2;
    EXPECT_EQ(Choose("CCPU_REQ_CONTROL", kUpdateFirmware, "10240"), ZEL_STATUS_FORBIDDEN);
    EXPECT_NE(console.GetLastErrorText().find("bootloader"), std::string::npos) << console.GetLastErrorText();
    EXPECT_FALSE(link.IsReceivingThreadRunning());
    EXPECT_FALSE(std::filesystem::exists(folder.Path() / "Logs"));

    console.AllowBootloaderSwitch(true);
    // A QTR head has no MCPU, and the device says so; the KCPU switches (and the line then leads
    // to its bootloader).
    ASSERT_EQ(Choose("CCPU_REQ_CONTROL", kUpdateFirmware, "18432"), ZEL_STATUS_SUCCESS) << console.GetLastErrorText();
    const int mcpu = lines.WaitFor("CCPU_CMD_ID_ACK_CONTROL");
    ASSERT_GE(mcpu, 0);
    ASSERT_EQ(Choose("CCPU_REQ_CONTROL", kUpdateFirmware, "10240"), ZEL_STATUS_SUCCESS) << console.GetLastErrorText();
    ASSERT_GE(lines.WaitFor("CCPU_CMD_ID_ACK_CONTROL", mcpu + 1), 0);

    CUpdateJournal journal;
    ASSERT_EQ(journal.Load(), ZEL_STATUS_SUCCESS);
    const std::vector<JournalEntry> entries = journal.Entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].target, "MCPU");
    EXPECT_EQ(entries[0].outcome, "not started");
    EXPECT_FALSE(entries[0].LeftInBootloader());
    EXPECT_EQ(entries[1].port, server->Path());
    EXPECT_EQ(entries[1].target, "KCPU");
    EXPECT_EQ(entries[1].transfer, "bootloader");
    EXPECT_EQ(entries[1].step, "switched");
    EXPECT_NE(entries[1].detail.find("acknowledged"), std::string::npos) << entries[1].detail;
    EXPECT_TRUE(entries[1].LeftInBootloader());
    // The next update start on this port finds the KCPU waiting.
    const std::optional<JournalEntry> left = journal.LeftInBootloader(server->Path());
    ASSERT_TRUE(left.has_value());
    EXPECT_EQ(left->target, "KCPU");
}

TEST(CServiceConsole, FindsEveryRequestThatSwitchesAProcessor)
{
    CZELCommandSet commands;
    auto control = [&commands](std::vector<std::uint8_t> items, std::vector<std::uint8_t> values) {
        Bytes packet(64);
        packet.resize(commands.PrepareReqControl(
            packet.data(), static_cast<std::uint8_t>(items.size()), items.data(), values.data()));
        return packet;
    };
    auto built = [&commands](std::uint16_t (CZELCommandSet::*builder)(std::uint8_t*)) {
        Bytes packet(64);
        packet.resize((commands.*builder)(packet.data()));
        return packet;
    };
    Bytes expander(64);
    expander.resize(commands.PrepareReqUpdateExpander(expander.data(), 33));
    struct Case
    {
        const char* name;
        Bytes packet;
        const char* target; // null: no switch
        const char* transfer;
    };
    const Case cases[] = {
        {"control KCPU", control({0x80}, {0x00, 0x28}), "KCPU", "bootloader"},
        {"control ECPU", control({0x80}, {0x00, 0xF0}), "ECPU", "bootloader"},
        {"control, unknown processor", control({0x80}, {0x34, 0x12}), "processor 0x1234", "bootloader"},
        {"control, switch after another item", control({2, 0x80}, {5, 0, 0x00, 0x38}), "LCPU", "bootloader"},
        {"control, dump EEPROM", control({132}, {1}), nullptr, nullptr},
        // 0x80 as a value byte is no item.
        {"control, setpoint 0x80", control({2}, {0x80, 0x00}), nullptr, nullptr},
        {"update RCPU", built(&CZELCommandSet::PrepareReqUpdateRCPU), "RCPU", "bootloader"},
        {"update CCPU2", built(&CZELCommandSet::PrepareReqUpdateCCPU2), "CCPU2", "bootloader"},
        {"update Veltrix", built(&CZELCommandSet::PrepareReqUpdateVeltrix), "Veltrix", "bootloader"},
        {"update Ombra", built(&CZELCommandSet::PrepareReqUpdateOmbraBox), "Ombra", "bootloader"},
        {"update expander", expander, "ECPU type 33", "device"},
        {"device information", built(&CZELCommandSet::PrepareReqGetDeviceInfo), nullptr, nullptr},
        {"prepare firmware update", built(&CZELCommandSet::PrepareReqPrepareFirmwareUpdate), nullptr, nullptr},
        {"cut short", Bytes{0x42, 0x11, 0x00}, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto found = CServiceConsole::FindBootloaderSwitch(c.packet.data(), c.packet.size());
        ASSERT_EQ(found.has_value(), c.target != nullptr);
        if (found) {
            EXPECT_EQ(found->target, c.target);
            EXPECT_EQ(found->transfer, c.transfer);
        }
    }
}

TEST_F(ServiceConsole, ReleasesOnlyThePortItOpened)
{
    ASSERT_EQ(Choose("CCPU_REQ_GET_DEVICE_INFO"), ZEL_STATUS_SUCCESS);
    EXPECT_TRUE(link.IsReceivingThreadRunning());
    // The answer is let in first: arriving once the update holds the port, it would be shown then.
    EXPECT_GE(lines.WaitFor("serial number; Q-77"), 0);
    EXPECT_EQ(console.ClosePort(), ZEL_STATUS_SUCCESS);
    EXPECT_FALSE(link.IsReceivingThreadRunning());

    // An update holds the port: the console shows what arrives but sends nothing and leaves it open.
    ASSERT_EQ(link.InitializeReceivingThread(), ZEL_STATUS_SUCCESS);
    const std::size_t before = lines.All().size();
    EXPECT_EQ(Choose("CCPU_REQ_GET_EXPANDERS"), ZEL_STATUS_BUSY);
    EXPECT_NE(console.GetLastErrorText().find("update"), std::string::npos);
    EXPECT_EQ(console.Terminate(), ZEL_STATUS_SUCCESS);
    EXPECT_TRUE(link.IsReceivingThreadRunning());
    EXPECT_EQ(lines.All().size(), before);
}

TEST_F(ServiceConsole, GivesTheLinkItsFramingBackWithThePort)
{
    // A module request switches the link to the module framing for its answer.
    ASSERT_EQ(Choose("MCPU_REQ_GET_DEVICE_INFO"), ZEL_STATUS_SUCCESS);
    EXPECT_GE(lines.WaitFor("> MCPU_REQ_GET_DEVICE_INFO  24 56"), 0);
    EXPECT_EQ(link.GetProtocol(), 0x4801);
    // An update opening the port next reads the device in the framing it set.
    EXPECT_EQ(console.ClosePort(), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(link.GetProtocol(), 0x1800);
}

TEST_F(ServiceConsole, RefusesAChoiceWithoutAPacketBeforeTouchingThePort)
{
    EXPECT_EQ(Choose("CCPU_REQ_SET_MCPU_MODE"), ZEL_STATUS_WRONG_FORMAT);
    EXPECT_NE(console.GetLastErrorText().find("value"), std::string::npos);
    EXPECT_FALSE(link.IsReceivingThreadRunning());
    EXPECT_FALSE(console.IsPortOpenedHere());
    // A good choice afterwards clears the error.
    ASSERT_EQ(Choose("CCPU_REQ_SET_MCPU_MODE", 0, "0"), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(console.GetLastErrorText(), "");
    EXPECT_GE(lines.WaitFor("CCPU_CMD_ID_ACK_SET_MCPU_MODE"), 0);
}

TEST_F(ServiceConsole, SaysWhyThePortCannotBeOpened)
{
    link.SetSerialPortSettings(server->Path() + "-gone", 7);
    EXPECT_LT(Choose("CCPU_REQ_GET_DEVICE_INFO"), 0);
    EXPECT_NE(console.GetLastErrorText().find("-gone"), std::string::npos) << console.GetLastErrorText();
    EXPECT_FALSE(console.IsPortOpenedHere());
}

TEST(CServiceConsole, RendersPacketsTheDumpHasNoTextForAsBytes)
{
    struct Case
    {
        const char* name;
        Bytes packet;
        std::string line; // after the time stamp
    };
    const Case cases[] = {
        {"unknown start byte", {0x7F, 0x01, 0x02}, "  < 7F 01 02"},
        {"cut short", {0x42, 0x01, 0x40, 0x20, 0x00, 0x00, 0x00, 0x01}, "  < 42 01 40 20 00 00 00 01"},
        {"long", Bytes(60, 0x11), "  < " + [] {
             std::string hex = "11";
             for (int i = 1; i < 48; ++i)
                 hex += " 11";
             return hex + " ...";
         }()},
    };
    CZELScriva scriva;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes record(ZEL_SERIAL_RECORD_HEAD_SIZE + c.packet.size(), 0);
        std::copy(c.packet.begin(), c.packet.end(), record.begin() + ZEL_SERIAL_RECORD_HEAD_SIZE);
        const std::string line = CServiceConsole::RenderReceived(record.data(), record.size(), scriva);
        ASSERT_GT(line.size(), 12U);
        EXPECT_EQ(line.substr(12), c.line); // "HH:MM:SS.mmm"
    }
    const Bytes headOnly(ZEL_SERIAL_RECORD_HEAD_SIZE, 0);
    EXPECT_EQ(CServiceConsole::RenderReceived(headOnly.data(), headOnly.size(), scriva), "");
}

} // namespace
