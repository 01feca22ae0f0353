#include "app/core/CSerialPortLink.h"
#include "app/core/CServiceConsole.h"
#include "sim/SimTestSupport.h"
#include "zel/commands/CZELCommandHelper.h"
#include "zel/commands/CZELPlainComboBox.h"
#include "zel/commands/CZELPlainEdit.h"
#include "zel/commands/CZELPlainStaticText.h"
#include "zel/foundation/ZELStatus.h"
#include "zel/queue/CZELMessageQueue.h"
#include "zel/serial/CZELSerialPort.h"

#include <gtest/gtest.h>

#include <condition_variable>
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
