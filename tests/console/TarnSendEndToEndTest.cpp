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
    {"CCPU_REQ_CONTROL DUMP_EEPROM 0x2C", 0, {"> CCPU_REQ_CONTROL  42 11 00 02 00", "value; 44"}},
    {"18 'QTR HW Info (U39)'", 0,
        {"> CCPU_REQ_READ_MEMORY", "memory 131, 128 bytes from 0x00000000:",
            "  00000000  83 82 81 80 87 86 85 84 8B 8A 89 88 8F 8E 8D 8C"}},
    // Values are read whole and in the width of their field: a typo is never another number.
    {"CCPU_REQ_CONTROL DUMP_EEPROM 300", 2, {"\"300\" is no value for CCPU_REQ_CONTROL", "from 0 to 255"}},
    {"CCPU_REQ_CONTROL MCPU_MONITORING_INTERVAL_1 40000", 2, {"\"40000\" is no value", "from -32768 to 32767"}},
    {"GET_STATUS I2C_ERRORS 1x", 2, {"\"1x\" is no value"}},
    {"SET_MCPU_MODE -1", 2, {"\"-1\" is no value"}},
    {"READ_PROFILE abc", 2, {"\"abc\" is no value"}},
    // A processor switched into its bootloader stays there: only with the flag.
    {"CCPU_REQ_CONTROL UPDATE_FIRMWARE 10240", 2, {"switches the KCPU into its bootloader", "--allow-bootloader"}},
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

// Switched on request, the processor is recorded as an update cut short would be: `tarn history`
// shows it waiting in its bootloader.
TEST(TarnSend, ABootloaderSwitchIsJournaledLikeAnUpdate)
{
    auto server = SimTest::Serve(kVHX);
    const ZELTest::TemporaryDirectory folder;
    const std::string inFolder = "cd '" + folder.Path().string() + "' && '" + TARN_PROGRAM + "' ";
    const ZELTest::ProcessResult sent = ZELTest::RunProgram(inFolder + "send --seconds 1 --allow-bootloader --port '"
        + server->Path() + "' CCPU_REQ_CONTROL UPDATE_FIRMWARE 0x2800 </dev/null 2>&1");
    ASSERT_EQ(sent.exitCode, 0) << sent.output;
    EXPECT_NE(sent.output.find("CCPU_CMD_ID_ACK_CONTROL"), std::string::npos) << sent.output;

    const ZELTest::ProcessResult history = ZELTest::RunProgram(inFolder + "history 2>&1");
    ASSERT_EQ(history.exitCode, 0) << history.output;
    for (const std::string& text : {server->Path(), std::string("KCPU"), std::string("(switched)"),
             std::string("left in its bootloader"), std::string("acknowledged")})
        EXPECT_NE(history.output.find(text), std::string::npos) << text << " missing in\n" << history.output;
}

// A setting that cannot be read is said on standard error and in the log, and ZEL.ini stays as the
// operator wrote it.
TEST(TarnSend, NamesTheSettingsItCannotRead)
{
    auto server = SimTest::Serve(kVHX);
    const ZELTest::TemporaryDirectory folder;
    const std::string settings = "[TarnUpdate]\nVerifyAfterWrite=maybe\nLanguage=en\n";
    ZELTest::WriteFile(folder.File("ZEL.ini"), settings);
    // Standard error only.
    const ZELTest::ProcessResult result = ZELTest::RunProgram("(cd '" + folder.Path().string() + "' && '"
        + TARN_PROGRAM + "' send --seconds 1 --port '" + server->Path() + "' GET_EXPANDERS </dev/null 2>&1 >/dev/null)");
    EXPECT_EQ(result.exitCode, 0) << result.output;
    const std::string warning = "VerifyAfterWrite=maybe cannot be read";
    EXPECT_NE(result.output.find(warning), std::string::npos) << result.output;
    EXPECT_EQ(result.output.find("Language"), std::string::npos) << result.output;
    EXPECT_EQ(ZELTest::ReadFile(folder.File("ZEL.ini")), settings);
    std::string logs;
    for (const auto& log : std::filesystem::directory_iterator(folder.Path() / "Logs"))
        logs += ZELTest::ReadFile(log.path().string());
    EXPECT_NE(logs.find(warning), std::string::npos);
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
