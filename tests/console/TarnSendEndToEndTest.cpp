// tarn send as a technician runs it, against the simulator on a pseudo-terminal.
#include "sim/SimTestSupport.h"
#include "support/ZELTestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>

#include <string>
#include <vector>

namespace {

const char* const kVHX = R"({"device": {"hardware": "VHX-3", "serialNumber": "V-31",
    "expanders": [{"type": 16, "version": "V 02.03.00"}]}})";

struct SendCase
{
    const char* arguments;
    int exitCode;
    std::vector<std::string> texts; // in the output, in this order
};

const SendCase kSendCases[] = {
    {"CCPU_REQ_GET_DEVICE_INFO", 0,
        {"> CCPU_REQ_GET_DEVICE_INFO  42 01 00 00 00", "< CCPU_CMD_ID_ACK_GET_DEVICE_INFO", "serial number; V-31"}},
    {"get_expanders", 0,
        {"> CCPU_REQ_GET_EXPANDERS", "expander count; 1", "CCPU_CMD_ID_NOT_EXPANDER;", "version; V 02.03.00"}},
    {"18 'VHX MCPU (U9)'", 0, {"> CCPU_REQ_READ_MEMORY", "memory; 132; length; 128"}},
    {"CCPU_REQ_CONTROL DUMP_EEPROM 300", 0, {"> CCPU_REQ_CONTROL  42 11 00 02 00", "value; 44"}},
    // The simulated device does not answer a status request.
    {"GET_STATUS I2C_ERRORS 10", 1, {"> CCPU_REQ_GET_STATUS", "No answer from the device"}},
    {"SET_MCPU_MODE", 1, {"This request needs a value"}},
    {"CONTROL 2 5", 2, {"More than one request is named \"CONTROL\""}},
    {"GET_NOTHING", 2, {"There is no request \"GET_NOTHING\""}},
    {"READ_MEMORY 'No such memory'", 2, {"is no parameter of CCPU_REQ_READ_MEMORY"}},
    {"GET_EXPANDERS 5", 2, {"CCPU_REQ_GET_EXPANDERS takes no value"}},
    {"READ_PROFILE 1 2", 2, {"Too many arguments"}},
};

} // namespace

TEST(TarnSend, PrintsTheRenderedAnswersOrSaysWhatIsWrong)
{
    auto server = SimTest::Serve(kVHX);
    const ZELTest::TemporaryDirectory folder;
    for (const SendCase& c : kSendCases) {
        SCOPED_TRACE(c.arguments);
        const ZELTest::ProcessResult result = ZELTest::RunProgram("cd '" + folder.Path().string() + "' && '" +
            TARN_PROGRAM + "' send --seconds 1 --port '" + server->Path() + "' " + c.arguments + " </dev/null 2>&1");
        EXPECT_EQ(result.exitCode, c.exitCode) << result.output;
        std::string::size_type at = 0;
        for (const std::string& text : c.texts) {
            at = result.output.find(text, at);
            ASSERT_NE(at, std::string::npos) << text << " missing in\n" << result.output;
        }
    }
}

TEST(TarnSend, ListsTheRequestsWithTheirParameters)
{
    const ZELTest::ProcessResult result = ZELTest::RunProgram(std::string("'") + TARN_PROGRAM + "' send --list");
    ASSERT_EQ(result.exitCode, 0) << result.output;
    for (const char* text : {"0  CCPU_REQ_GET_DEVICE_INFO", "      1  From Veltrix", "20  CCPU_REQ_SET_MCPU_MODE",
             "      3  DUMP_EEPROM"})
        EXPECT_NE(result.output.find(text), std::string::npos) << text;
}

TEST(TarnSend, CtrlCEndsTheWaitForAnswers)
{
    auto server = SimTest::Serve(kVHX);
    const ZELTest::TemporaryDirectory folder;
    ZELTest::RunningProgram tarn("'" + std::string(TARN_PROGRAM) + "' send --seconds 600 --port '" + server->Path()
            + "' GET_EXPANDERS </dev/null",
        60, folder.Path().string());
    ASSERT_TRUE(tarn.Started());
    EXPECT_TRUE(tarn.WaitForLine("version; V 02.03.00"));
    ASSERT_TRUE(tarn.Signal(SIGINT));
    const ZELTest::ProcessResult result = tarn.Finish();
    EXPECT_EQ(result.exitCode, 0) << result.output; // the device answered; not 137 from the time-out's kill
    EXPECT_FALSE(std::filesystem::is_empty(folder.Path() / "Logs"));
}
