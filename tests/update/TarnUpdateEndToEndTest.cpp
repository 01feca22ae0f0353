// tarn check and tarn update as a new user runs them: firmware packed with tarn fw, the simulator on a
// pseudo-terminal, the program in its own working folder.
#include "sim/CSimDevice.h"
#include "sim/CSimScenario.h"
#include "sim/CSimServer.h"
#include "support/ZELTestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace {

std::string Tarn(const std::string& arguments)
{
    return std::string("'") + TARN_PROGRAM + "' " + arguments + " </dev/null";
}

// The JSON object of a run whose standard error (human lines) is mixed in before it.
nlohmann::json Report(const std::string& output)
{
    const std::string::size_type start = output.rfind("\n{\n");
    return nlohmann::json::parse(start == std::string::npos ? output : output.substr(start + 1));
}

// What became of each target (name, outcome, step), after checking that every target carries the
// fields of the report with their types.
nlohmann::json Outcomes(const nlohmann::json& report)
{
    const auto textOrNull = [](const nlohmann::json& value) { return value.is_string() || value.is_null(); };
    nlohmann::json outcomes = nlohmann::json::array();
    for (const nlohmann::json& target : report["result"]["targets"]) {
        SCOPED_TRACE(target.dump());
        for (const char* key : { "step", "file", "from", "to", "verificationNote", "reportedVersion",
                 "confirmationNote" }) {
            EXPECT_TRUE(target.contains(key) && textOrNull(target[key])) << key;
        }
        EXPECT_TRUE(target["bytes"].is_number_unsigned());
        EXPECT_TRUE(target["seconds"].is_number());
        EXPECT_TRUE(target["verified"].is_string());
        EXPECT_TRUE(target["confirmed"].is_string());
        nlohmann::json outcome = { { "target", target["target"] }, { "outcome", target["outcome"] } };
        if (target["step"].is_string())
            outcome["step"] = target["step"];
        outcomes.push_back(outcome);
    }
    return outcomes;
}

class TarnAgainstSimulator : public ::testing::Test
{
protected:
    void Serve(const std::string& json)
    {
        CSimScenario scenario;
        std::string error;
        ASSERT_TRUE(CSimScenario::Parse(json, scenario, error)) << error;
        server = std::make_unique<CSimServer>(std::move(scenario));
        ASSERT_EQ(server->Start(), 0);
    }
    // Without an image of its own, the image carries its version text as real firmware does: the
    // simulated processor reports it once it runs the image.
    void Pack(int type, const std::string& version, const std::string& name,
        std::optional<std::string> givenImage = std::nullopt)
    {
        const std::string image = givenImage ? *givenImage : version + std::string(2048 - version.size(), '\x5A');
        std::filesystem::create_directories(folder.Path() / "Firmware");
        ZELTest::WriteFile(folder.File("image.bin"), image);
        const ZELTest::ProcessResult packed = ZELTest::RunProgram(Tarn("fw pack --type " + std::to_string(type)
            + " --version '" + version + "' '" + folder.File("image.bin") + "' '"
            + folder.File("Firmware/" + name) + "'"));
        ASSERT_EQ(packed.exitCode, 0) << packed.output;
    }
    ZELTest::ProcessResult Run(const std::string& command)
    {
        // ZEL.ini is read from the folder that is current when the program starts.
        return ZELTest::RunProgram(
            "cd '" + folder.Path().string() + "' && " + Tarn(command + " --port '" + server->Path() + "'"));
    }

    ZELTest::TemporaryDirectory folder;
    std::unique_ptr<CSimServer> server;
};

const char* const kQtr1 = R"({ "device": { "hardware": "QTR-1",
    "versions": { "CCPU": "V 02.09.30", "KCPU": "V 01.04.00", "LCPU": "V 01.02.07" },
    "expanders": [ { "type": 16, "version": "V 02.03.00" }, { "type": 33, "version": "V 02.03.00" } ] } })";

} // namespace

TEST_F(TarnAgainstSimulator, CheckPrintsDeviceAndPlanAsJson)
{
    Serve(kQtr1);
    Pack(3, "V 01.05.00", "kcpu.tarn");
    const ZELTest::ProcessResult result = Run("check --json");
    ASSERT_EQ(result.exitCode, 0) << result.output;
    const nlohmann::json report = Report(result.output);
    EXPECT_EQ(report["device"]["hardwareType"], "0x1000");
    EXPECT_EQ(report["device"]["hardwareName"], "QTR-1");
    EXPECT_EQ(report["device"]["versions"]["KCPU"], "V 01.04.00");
    EXPECT_EQ(report["device"]["expanders"].size(), 2u);
    ASSERT_EQ(report["plan"]["targets"].size(), 1u);
    EXPECT_EQ(report["plan"]["targets"][0]["target"], "KCPU");
    EXPECT_EQ(report["plan"]["targets"][0]["from"], "V 01.04.00");
    EXPECT_EQ(report["plan"]["targets"][0]["to"], "V 01.05.00");
    EXPECT_EQ(report["plan"]["targets"][0]["file"], "./Firmware/kcpu.tarn");
    EXPECT_EQ(report["schema"], 1);
    EXPECT_EQ(report["command"], "check");
    // Identifiers are hex text throughout.
    EXPECT_EQ(report["device"]["expanders"][0]["type"], "0x0010");
    EXPECT_EQ(report["device"]["expanders"][1]["type"], "0x0021");
    EXPECT_TRUE(report["device"]["versions"]["MCPU"].is_null());
    EXPECT_EQ(report["result"]["outcome"], "update-available");
    EXPECT_EQ(report["result"]["state"], 0);
    EXPECT_EQ(report["result"]["stateName"], "ready");
    EXPECT_EQ(report["result"]["errors"], nlohmann::json::array());
}

namespace {

struct PackedFile
{
    int type;
    const char* version;
    const char* name;
};

// What tarn check says of a device, in words and in --json.
struct CheckCase
{
    const char* name;
    const char* scenario;
    std::vector<PackedFile> files;
    int exitCode;
    const char* words;   // a block of the report in words
    const char* outcome; // result.outcome of --json
    const char* error;   // the start of result.errors[0]; nullptr: none
    const char* hardwareName; // nullptr: a type the program has no name for (null)
};

const CheckCase kCheckCases[] = {
    { "update available",
        R"({ "device": { "hardware": "QTR-1", "serialNumber": "QTR1-WORDS-01",
            "versions": { "CCPU": "V 02.09.30", "KCPU": "V 01.04.00", "LCPU": "V 01.02.07" },
            "expanders": [ { "type": 33, "version": "V 02.03.00" }, { "type": 16, "version": "V 02.03.00" } ] } })",
        { { 3, "V 01.05.00", "kcpu.tarn" }, { 4, "V 01.03.00", "lcpu.tarn" }, { 6, "V 02.04.00", "ecpu.tarn" },
            { 1, "V 02.10.00", "ccpu.tarn" } },
        0,
        "Device: QTR-1 (0x1000), serial number QTR1-WORDS-01\n"
        "  hardware version  HW 1.0\n"
        "  CCPU              V 02.09.30\n"
        "  KCPU              V 01.04.00\n"
        "  LCPU              V 01.02.07\n"
        "  expander Joystick T001_1 (type 33)  V 02.03.00\n"
        "  expander Remote Control T001 (type 16)  V 02.03.00\n"
        "Plan, in the order of flashing:\n"
        "  1. LCPU (V 01.02.07 -> V 01.03.00), file ./Firmware/lcpu.tarn\n"
        "  2. KCPU (V 01.04.00 -> V 01.05.00), file ./Firmware/kcpu.tarn\n"
        "  3. ECPU Remote Control T001, type 16 (V 02.03.00 -> V 02.04.00), file ./Firmware/ecpu.tarn\n"
        "  4. ECPU Joystick T001_1, type 33 (V 02.03.00 -> V 02.04.00), file ./Firmware/ecpu.tarn\n"
        "  5. CCPU (V 02.09.30 -> V 02.10.00), file ./Firmware/ccpu.tarn\n"
        "Result: an update is available; tarn update installs it.\n",
        "update-available", nullptr, "QTR-1" },
    { "up to date", kQtr1, { { 3, "V 01.04.00", "kcpu.tarn" } }, 0,
        "Device: QTR-1 (0x1000), serial number SIM-000001\n"
        "  hardware version  HW 1.0\n"
        "  CCPU              V 02.09.30\n"
        "  KCPU              V 01.04.00\n"
        "  LCPU              V 01.02.07\n"
        "  expander Remote Control T001 (type 16)  V 02.03.00\n"
        "  expander Joystick T001_1 (type 33)  V 02.03.00\n"
        "The newest firmware for the current device is installed already:\n\n"
        "\t- CCPU V 02.09.30\n\t- KCPU V 01.04.00\n\t- LCPU V 01.02.07\n"
        "Result: up to date.\n",
        "up-to-date", nullptr, "QTR-1" },
    { "blocked",
        R"({ "device": { "hardware": "QTR-1", "versions": { "CCPU": "V 02.09.30", "KCPU": "V 01.04.00" },
            "preconditions": { "fsCan": 1, "lbus": 1, "emergencyButton": 1 } } })",
        { { 3, "V 01.05.00", "kcpu.tarn" } }, 1,
        "  KCPU              V 01.04.00\n"
        "The update could not be started because there is a FS CAN device attached at the moment. Detach all FS "
        "CAN devices and restart the update.\n"
        "The update could not be started because there is a LBUS device attached at the moment. Detach all LBUS "
        "devices and restart the update.\n"
        "The update could not be started because the emergency stop is pressed. Release the emergency stop and "
        "restart the update.\n"
        "Result: blocked.\n",
        "blocked", "The update could not be started because there is a FS CAN device attached at the moment.",
        "QTR-1" },
    { "hardware without rules",
        R"({ "device": { "hardware": "QTR-1", "hardwareType": "0x1234", "versions": { "KCPU": "V 01.04.00" } } })",
        { { 3, "V 01.05.00", "kcpu.tarn" } }, 1,
        "Device: unknown hardware (0x1234), serial number SIM-000001\n"
        "  hardware version  HW 1.0\n"
        "  KCPU              V 01.04.00\n"
        "The update could not be started because the current device is unknown.\n"
        "Result: failed.\n",
        "failed", "The update could not be started because the current device is unknown.", nullptr },
};

class TarnCheck : public TarnAgainstSimulator, public ::testing::WithParamInterface<CheckCase>
{
};

void PrintTo(const CheckCase& c, std::ostream* out) { *out << c.name; }

} // namespace

// tarn check answers the question itself: it never shows it, nor the boxes of the dialog.
TEST_P(TarnCheck, SaysWhatTheDeviceHasAndWhatAnUpdateWouldDo)
{
    const CheckCase& c = GetParam();
    Serve(c.scenario);
    for (const PackedFile& file : c.files)
        Pack(file.type, file.version, file.name);

    const ZELTest::ProcessResult words = Run("check");
    EXPECT_EQ(words.exitCode, c.exitCode) << words.output;
    EXPECT_NE(words.output.find(c.words), std::string::npos) << words.output;
    for (const char* never : { "Update aborted", "Do you want to install these updates now?", "Start Update:" })
        EXPECT_EQ(words.output.find(never), std::string::npos) << never << "\n" << words.output;

    const ZELTest::ProcessResult json = Run("check --json");
    EXPECT_EQ(json.exitCode, c.exitCode) << json.output;
    const nlohmann::json report = Report(json.output);
    EXPECT_EQ(report["result"]["outcome"], c.outcome) << report.dump(2);
    if (c.hardwareName == nullptr)
        EXPECT_TRUE(report["device"]["hardwareName"].is_null()) << report.dump(2);
    else
        EXPECT_EQ(report["device"]["hardwareName"], c.hardwareName) << report.dump(2);
    if (c.error == nullptr) {
        EXPECT_EQ(report["result"]["errors"], nlohmann::json::array()) << report.dump(2);
    } else {
        ASSERT_FALSE(report["result"]["errors"].empty()) << report.dump(2);
        EXPECT_EQ(report["result"]["errors"][0].get<std::string>().rfind(c.error, 0), 0u) << report.dump(2);
        // Every blocker is an error of its own.
        if (c.outcome == std::string("blocked")) {
            EXPECT_EQ(report["result"]["errors"].size(), 3u) << report.dump(2);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Devices, TarnCheck, ::testing::ValuesIn(kCheckCases),
    [](const ::testing::TestParamInfo<CheckCase>& info) {
        std::string name = info.param.name;
        std::replace(name.begin(), name.end(), ' ', '_');
        return name;
    });

TEST_F(TarnAgainstSimulator, UpdateNoShowsThePlanAndEndsWithOne)
{
    Serve(kQtr1);
    Pack(3, "V 01.05.00", "kcpu.tarn");
    const ZELTest::ProcessResult result = Run("update --no");
    EXPECT_EQ(result.exitCode, 1) << result.output;
    EXPECT_NE(result.output.find("Start Update:\nThe following updates can be performed:\n\n  - KCPU (V 01.04.00 -> "
                                 "V 01.05.00)\n\nDo you want to install these updates now?\nNo"),
        std::string::npos)
        << result.output;
    EXPECT_NE(result.output.find("Log file: "), std::string::npos) << result.output;
}

// Port and language of the command line are for the run: the settings file stays the dialog's.
TEST_F(TarnAgainstSimulator, TheCommandLineNeverWritesTheSettings)
{
    Serve(kQtr1);
    Pack(3, "V 01.05.00", "kcpu.tarn");
    const std::string settings = "[TarnUpdate]\nLanguage=1\nCOMPort=COM7\nAllowDowngrade=0\n";
    for (const char* command : { "check", "check --json", "update --no --language de", "update --no" }) {
        SCOPED_TRACE(command);
        ZELTest::WriteFile(folder.File("ZEL.ini"), settings);
        ZELTest::ProcessResult result = Run(command);
        EXPECT_NE(result.output.find("KCPU (V 01.04.00 -> V 01.05.00)"), std::string::npos) << result.output;
        EXPECT_EQ(ZELTest::ReadFile(folder.File("ZEL.ini")), settings);

        std::filesystem::remove(folder.File("ZEL.ini"));
        result = Run(command);
        EXPECT_NE(result.output.find("KCPU (V 01.04.00 -> V 01.05.00)"), std::string::npos) << result.output;
        EXPECT_FALSE(std::filesystem::exists(folder.File("ZEL.ini")));
    }
}

// The operator sees each file the catalogue refused, not only that nothing is to be updated.
TEST_F(TarnAgainstSimulator, EveryRejectedFileIsNamedOnTheConsole)
{
    Serve(kQtr1);
    Pack(3, "V 01.04.00", "kcpu.tarn");
    Pack(4, "V 09.00.00", "damaged.tarn");
    std::string damaged = ZELTest::ReadFile(folder.File("Firmware/damaged.tarn"));
    damaged.back() ^= 1;
    ZELTest::WriteFile(folder.File("Firmware/damaged.tarn"), damaged);
    Pack(4, "V 09.00.00", "short.tarn");
    ZELTest::WriteFile(folder.File("Firmware/short.tarn"), damaged.substr(0, 1000));
    Pack(3, "V 09.00.00", "empty.tarn", "");
    ZELTest::WriteFile(folder.File("Firmware/foreign.tarn"), "no firmware");
    const char* const lines[] = {
        "The following file could not be read: ./Firmware/damaged.tarn (Detected error: the content is damaged, its checksum does not match "
        "(ZEL_STATUS_INVALID_CRC))\n",
        "The following file could not be read: ./Firmware/empty.tarn (Detected error: The file holds no firmware image.)\n",
        "The following file could not be read: ./Firmware/foreign.tarn (Detected error: The file header is not "
        "supported.)\n",
        "The following file could not be read: ./Firmware/short.tarn (Detected error: the file is shorter than its header says "
        "(ZEL_STATUS_OPERATION_BROKEN))\n",
    };
    for (const char* command : { "check", "update --no" }) {
        SCOPED_TRACE(command);
        const ZELTest::ProcessResult result = Run(command);
        EXPECT_EQ(result.exitCode, 0) << result.output;
        for (const char* line : lines)
            EXPECT_NE(result.output.find(line), std::string::npos) << line << "\n" << result.output;
        EXPECT_NE(result.output.find("The newest firmware for the current device is installed already:"),
            std::string::npos)
            << result.output;
    }
}

// Under its own protocol the Ombra box reports only its own version; the plan compares with it.
TEST_F(TarnAgainstSimulator, AnOmbraBoxIsComparedWithItsOwnVersion)
{
    Serve(R"({ "device": { "hardware": "Ombra", "versions": { "Ombra": "V 03.00.00" } } })");
    ZELTest::WriteFile(folder.File("ZEL.ini"), "[TarnUpdate]\nCOMProtocol=5\n");
    Pack(7, "V 03.00.00", "rcpu.tarn");
    ZELTest::ProcessResult result = Run("check --json");
    ASSERT_EQ(result.exitCode, 0) << result.output;
    nlohmann::json report = Report(result.output);
    EXPECT_EQ(report["result"]["outcome"], "up-to-date");
    EXPECT_EQ(report["plan"]["text"],
        "The newest firmware for the current device is installed already:\n\n\t- Ombra Box V 03.00.00");

    Pack(7, "V 03.00.01", "rcpu-new.tarn");
    result = Run("check --json");
    ASSERT_EQ(result.exitCode, 0) << result.output;
    report = Report(result.output);
    EXPECT_EQ(report["result"]["outcome"], "update-available");
    ASSERT_EQ(report["plan"]["targets"].size(), 1u);
    EXPECT_EQ(report["plan"]["targets"][0]["target"], "Ombra Box");
    EXPECT_EQ(report["plan"]["targets"][0]["from"], "V 03.00.00");
    EXPECT_EQ(report["plan"]["targets"][0]["to"], "V 03.00.01");
}

TEST_F(TarnAgainstSimulator, NothingToUpdateEndsWithZero)
{
    Serve(kQtr1);
    Pack(3, "V 01.04.00", "kcpu.tarn");
    const ZELTest::ProcessResult result = Run("update --no --language de");
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_NE(result.output.find("Update abgebrochen:\nDie neueste Firmware für das aktuelle Gerät ist bereits "
                                 "installiert:\n\n\t- CCPU V 02.09.30"),
        std::string::npos)
        << result.output;
}

TEST_F(TarnAgainstSimulator, ASilentDeviceIsUnknown)
{
    Serve(R"({ "device": { "hardware": "QTR-1" }, "faults": [ { "kind": "noAnswer" } ] })");
    const ZELTest::ProcessResult result = Run("check --json");
    EXPECT_EQ(result.exitCode, 1) << result.output;
    const nlohmann::json report = Report(result.output);
    EXPECT_EQ(report["result"]["outcome"], "failed");
    EXPECT_EQ(report["result"]["state"], 11);
    EXPECT_EQ(report["result"]["stateName"], "failed");
    EXPECT_TRUE(report["plan"].is_null());
    EXPECT_TRUE(report["device"]["hardwareType"].is_null());
    EXPECT_TRUE(report["device"]["hardwareName"].is_null());
    EXPECT_EQ(report["result"]["errors"],
        nlohmann::json::array({ "The update could not be started because the current device is unknown." }));
}

TEST(TarnUpdate, APortThatCannotBeOpenedGivesTheReason)
{
    ZELTest::TemporaryDirectory folder;
    const ZELTest::ProcessResult result = ZELTest::RunProgram(
        "cd '" + folder.Path().string() + "' && " + Tarn("update --no --port /dev/tarn-no-such-port"));
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.output.find("Update aborted:\nThe update could not be started because the COM port could not be "
                                 "accessed."),
        std::string::npos)
        << result.output;
    EXPECT_NE(result.output.find("No such file or directory"), std::string::npos) << result.output;

    // The report names the port's own reason too.
    const ZELTest::ProcessResult json = ZELTest::RunProgram(
        "cd '" + folder.Path().string() + "' && " + Tarn("update --json --port /dev/tarn-no-such-port"));
    EXPECT_EQ(json.exitCode, 1);
    const nlohmann::json report = Report(json.output);
    EXPECT_EQ(report["result"]["outcome"], "port-not-accessible");
    ASSERT_EQ(report["result"]["errors"].size(), 1u) << json.output;
    const std::string error = report["result"]["errors"][0];
    EXPECT_EQ(error.rfind("The update could not be started because the COM port could not be accessed. "
                          "/dev/tarn-no-such-port: No such file or directory.", 0),
        0u)
        << error;
}

TEST(TarnUpdate, WrongUsageEndsWithTwo)
{
    ZELTest::TemporaryDirectory folder;
    ZELTest::ScopedCurrentDirectory inFolder(folder.Path());
    EXPECT_EQ(ZELTest::RunProgram(Tarn("update")).exitCode, 2);
    EXPECT_EQ(ZELTest::RunProgram(Tarn("update --port x --yes --no")).exitCode, 2);
    EXPECT_EQ(ZELTest::RunProgram(Tarn("update --port x --language fr")).exitCode, 2);
}

// A run where one expander is never asked and the last target's transfer fails: the outcome of each
// target is what happened to it, and the run fails with every reason on the console.
TEST_F(TarnAgainstSimulator, UpdateJsonTellsWhatBecameOfEachTarget)
{
    Serve(R"({ "device": { "hardware": "QTR-1", "versions": { "CCPU": "V 02.09.30" },
        "expanders": [ { "type": 33, "version": "V 02.03.00" }, { "type": 34, "version": "V 02.03.00" } ],
        "bootloader": { "nack": "44" } },
        "faults": [ { "kind": "drop", "id": "0x8016" } ] })");
    Pack(6, "V 02.04.00", "ecpu.tarn");
    Pack(1, "V 02.10.00", "ccpu.tarn");
    const ZELTest::ProcessResult result = Run("update --yes --json");
    EXPECT_EQ(result.exitCode, 1) << result.output;
    const std::string notFound = "The ECPU Joystick T001_2 (type 34) could not be updated: the device did not find "
                                 "the expanders again.";
    const std::string ccpuFailed = "The update of the CCPU could not be started. Extended Erase failed with 0 % "
                                   "written: NACK (0x1F) to command 0x44.";
    EXPECT_NE(result.output.find("Update failed:\nThe update has failed because of the following errors:\n\n- "
                                 + notFound + "\n- " + ccpuFailed
                                 + "\n\nECPU Joystick T001_1 (type 33): updated, not confirmed (the CCPU waits in its "
                                   "bootloader).\n\nStart the update again: the CCPU is flashed again first."),
        std::string::npos)
        << result.output;
    const nlohmann::json report = Report(result.output);
    EXPECT_EQ(report["result"]["outcome"], "failed");
    EXPECT_EQ(report["result"]["state"], 11);
    const nlohmann::json expected = nlohmann::json::parse(R"([
        { "target": "ECPU Joystick T001_1", "outcome": "updated" },
        { "target": "ECPU Joystick T001_2", "outcome": "skipped" },
        { "target": "CCPU", "outcome": "failed",
          "step": "Extended Erase failed with 0 % written: NACK (0x1F) to command 0x44." } ])");
    EXPECT_EQ(Outcomes(report), expected) << report.dump(2);
    EXPECT_EQ(report["result"]["errors"], nlohmann::json::array({ notFound, ccpuFailed }));
}

// A run that is stopped without a terminal to ask on (a script, `timeout`, a service manager): the
// processor being flashed is finished, the ones after it are left out, and the run fails. Nobody is
// asked.
TEST_F(TarnAgainstSimulator, AStopWithoutATerminalEndsAfterTheCurrentProcessor)
{
    for (const int signal : { SIGTERM, SIGINT }) {
        SCOPED_TRACE(signal);
        Serve(R"({ "device": { "hardware": "QTR-1", "versions": { "CCPU": "V 02.09.30", "KCPU": "V 01.04.00" } },
            "baudRate": 115200 })");
        Pack(3, "V 01.05.00", "kcpu.tarn", "V 01.05.00" + std::string(16374, '\x3C'));
        Pack(1, "V 02.10.00", "ccpu.tarn");
        ZELTest::RunningProgram tarn(
            Tarn("update --yes --json --port '" + server->Path() + "'"), 120, folder.Path().string());
        ASSERT_TRUE(tarn.Started());
        ASSERT_TRUE(tarn.WaitForLine("Status: KCPU Update ..."));
        ASSERT_TRUE(tarn.WaitForLine("Progress: "));
        EXPECT_TRUE(tarn.Signal(signal));
        const ZELTest::ProcessResult result = tarn.Finish();
        EXPECT_EQ(result.exitCode, 1) << result.output;
        EXPECT_EQ(result.output.find("Stop the update after the current processor?"), std::string::npos)
            << result.output;
        EXPECT_EQ(result.output.find("[y/N]"), std::string::npos) << result.output;
        const nlohmann::json report = Report(result.output);
        EXPECT_EQ(report["result"]["outcome"], "failed");
        EXPECT_EQ(Outcomes(report),
            nlohmann::json::parse(R"([ { "target": "KCPU", "outcome": "updated" },
                { "target": "CCPU", "outcome": "skipped", "step": "The update was stopped before this processor." } ])"))
            << report.dump(2);
        server->Inspect([](CSimDevice& device) {
            EXPECT_EQ(device.Version(CSimDevice::Processor::CCPU), "V 02.09.30");
        });
    }
}

namespace {

// tarn on a terminal of its own, as a person runs it.
std::string TarnOnTerminal(const std::string& arguments)
{
    return std::string("'") + TARN_PROGRAM + "' " + arguments;
}

// The output that follows the last `prompt`, up to `end`.
std::string AfterLastPrompt(const std::string& output, const std::string& prompt, const std::string& end)
{
    const std::string::size_type at = output.rfind(prompt);
    if (at == std::string::npos)
        return {};
    const std::string rest = output.substr(at + prompt.size());
    return rest.substr(0, rest.find(end));
}

} // namespace

// Ctrl-C at the terminal while a processor is being flashed asks first, in the chosen language;
// Ctrl-C at that question answers it with No at once; a question left open is withdrawn when the
// update ends, and nothing is drawn over it while it is open.
TEST_F(TarnAgainstSimulator, CtrlCAtTheTerminalAsksAndTheEndWithdrawsTheQuestion)
{
    Serve(R"({ "device": { "hardware": "QTR-1", "versions": { "CCPU": "V 02.09.30", "KCPU": "V 01.04.00" } },
        "baudRate": 115200 })");
    // Some 6 s on the line: long enough for three questions.
    Pack(3, "V 01.05.00", "kcpu.tarn", "V 01.05.00" + std::string(65526, '\x3C'));
    ZELTest::TerminalProgram tarn(
        TarnOnTerminal("update --yes --language de --port '" + server->Path() + "'"), folder.Path().string());
    ASSERT_TRUE(tarn.Started());
    const std::string question = "Das Update nach dem aktuellen Prozessor beenden?\r\n[j/N] ";
    ASSERT_TRUE(tarn.WaitForText("Status: KCPU Update ..."));
    ASSERT_TRUE(tarn.WaitForText("%")); // the bar
    ASSERT_TRUE(tarn.Type("\x03"));
    ASSERT_TRUE(tarn.WaitForText(question));
    ASSERT_TRUE(tarn.Type("\x03"));
    ASSERT_TRUE(tarn.WaitForText("Nein\r\n"));
    ASSERT_TRUE(tarn.Type("\x03"));
    ASSERT_TRUE(tarn.WaitForText(question));
    const ZELTest::ProcessResult result = tarn.Finish();
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(result.output.find("Stop the update"), std::string::npos) << result.output;
    // Between the last question and its withdrawal neither a bar nor a status line is drawn.
    const std::string open = AfterLastPrompt(result.output, question, "(withdrawn)");
    EXPECT_EQ(open.find('['), std::string::npos) << open;
    EXPECT_EQ(open.find("Status"), std::string::npos) << open;
    EXPECT_NE(result.output.find("(withdrawn)\r\n"), std::string::npos) << result.output;
    EXPECT_NE(result.output.find("Update erfolgreich:"), std::string::npos) << result.output;
    server->Inspect([](CSimDevice& device) {
        EXPECT_FALSE(device.BootLoaderOwner().has_value());
    });
}

// Ctrl-C at the question whether to install answers it with No at once: nothing is flashed.
TEST_F(TarnAgainstSimulator, CtrlCAtTheInstallQuestionAnswersNo)
{
    Serve(kQtr1);
    Pack(3, "V 01.05.00", "kcpu.tarn");
    ZELTest::TerminalProgram tarn(TarnOnTerminal("update --port '" + server->Path() + "'"), folder.Path().string());
    ASSERT_TRUE(tarn.Started());
    ASSERT_TRUE(tarn.WaitForText("Do you want to install these updates now?\r\n[y/N] "));
    ASSERT_TRUE(tarn.Type("\x03"));
    const ZELTest::ProcessResult result = tarn.Finish(std::chrono::seconds(20));
    EXPECT_EQ(result.exitCode, 1) << result.output;
    EXPECT_NE(AfterLastPrompt(result.output, "[y/N] ", "\r\n").find("No"), std::string::npos) << result.output;
    EXPECT_EQ(result.output.find("KCPU Update"), std::string::npos) << result.output;
}

// The cable goes in the middle of the LCPU's transfer: the run fails and leaves the LCPU in its
// bootloader, which holds the line, so the KCPU after it is not started. The next run finds the
// waiting bootloader, reads in the journal which update left it there, flashes that file again,
// identifies the device and updates the KCPU too. The journal and tarn history tell the story.
TEST_F(TarnAgainstSimulator, AnInterruptedTransferIsRecoveredByTheNextRun)
{
    Serve(R"({ "device": { "hardware": "QTR-1", "serialNumber": "QTR1-REC-0001",
        "versions": { "CCPU": "V 02.10.00", "KCPU": "V 01.04.00", "LCPU": "V 01.02.07" },
        "bootloader": { "cablePulledAfterWrites": 3, "cableAwayMs": 200 } } })");
    std::string lcpu = "V 01.03.00";
    std::string kcpu = "V 01.05.00";
    for (int i = 0; lcpu.size() < 3072; ++i)
        lcpu += static_cast<char>((i * 5) & 0x7F);
    for (int i = 0; kcpu.size() < 4096; ++i)
        kcpu += static_cast<char>((i * 7) & 0x7F);
    Pack(4, "V 01.03.00", "lcpu.tarn", lcpu);
    Pack(3, "V 01.05.00", "kcpu.tarn", kcpu);

    const ZELTest::ProcessResult first = Run("update --yes");
    ASSERT_EQ(first.exitCode, 1) << first.output;
    // The report names the port that went away.
    EXPECT_NE(first.output.find("the port " + server->Path() + " went away at command 0x31"), std::string::npos)
        << first.output;
    server->Inspect([](CSimDevice& device) {
        EXPECT_EQ(device.BootLoaderOwner(), CSimDevice::Processor::LCPU);
    });

    const ZELTest::ProcessResult second = Run("update --yes --json");
    ASSERT_EQ(second.exitCode, 0) << second.output;
    EXPECT_NE(second.output.find("A processor is waiting in its bootloader: chip 0x0413, bootloader 3.1."),
        std::string::npos) << second.output;
    EXPECT_NE(second.output.find("The LCPU was left in its bootloader by the update of "), std::string::npos)
        << second.output;
    const nlohmann::json report = Report(second.output);
    EXPECT_EQ(report["recovery"]["report"], "The LCPU was flashed again with ./Firmware/lcpu.tarn.");
    EXPECT_EQ(report["result"]["outcome"], "updated");
    ASSERT_EQ(report["result"]["targets"].size(), 1u);
    EXPECT_EQ(report["result"]["targets"][0]["target"], "KCPU");
    server->Inspect([&](CSimDevice& device) {
        EXPECT_FALSE(device.BootLoaderOwner().has_value());
        const std::vector<std::uint8_t> flashedL = device.BootLoader(CSimDevice::Processor::LCPU).ProgrammedImage();
        const std::vector<std::uint8_t> flashedK = device.BootLoader(CSimDevice::Processor::KCPU).ProgrammedImage();
        EXPECT_EQ(std::string(flashedL.begin(), flashedL.end()).substr(0, lcpu.size()), lcpu);
        EXPECT_EQ(std::string(flashedK.begin(), flashedK.end()).substr(0, kcpu.size()), kcpu);
        EXPECT_EQ(device.Version(CSimDevice::Processor::LCPU), "V 01.03.00");
    });

    const ZELTest::ProcessResult history
        = ZELTest::RunProgram("cd '" + folder.Path().string() + "' && " + Tarn("history --json"));
    ASSERT_EQ(history.exitCode, 0) << history.output;
    const nlohmann::json entries = nlohmann::json::parse(history.output);
    struct Expected
    {
        const char* target;
        const char* outcome;
        bool recovery;
    };
    // Newest first: the KCPU, the LCPU's recovery, the LCPU cut off. The KCPU was not asked in the
    // first run: the LCPU's bootloader held the line.
    const Expected story[] = { { "KCPU", "updated", false }, { "LCPU", "updated", true },
        { "LCPU", "failed", false } };
    ASSERT_EQ(entries.size(), std::size(story)) << history.output;
    for (std::size_t i = 0; i < std::size(story); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(entries[i]["target"], story[i].target);
        EXPECT_EQ(entries[i]["outcome"], story[i].outcome);
        EXPECT_EQ(entries[i]["recovery"], story[i].recovery);
        EXPECT_EQ(entries[i]["serialNumber"], "QTR1-REC-0001");
    }
    EXPECT_EQ(entries[2]["step"], "switched");
    EXPECT_GT(entries[2]["bytesWritten"].get<unsigned>(), 0u);
    EXPECT_EQ(entries[2]["chipId"], 0x0413);
}

namespace {

// A transfer that breaks off part-way where no bootloader of the device's own takes the line.
struct RedoCase
{
    const char* name;
    const char* scenario;
    bool mcpuMode; // ZEL.ini [TarnUpdate] MCPUMode=1
    int type;
    const char* version;
    const char* target;
    const char* transfer;      // as the journal names it
    const char* step;          // why the first run's target failed
    unsigned written;          // image bytes the journal says were written before the break
    unsigned connections;      // the line's connections once it is back for the second run
    std::vector<std::uint8_t> (*flashed)(CSimDevice&);
};

void PrintTo(const RedoCase& c, std::ostream* out) { *out << c.name; }

// 3072 bytes: 24 module pieces of 128, 12 device blocks of 256.
std::string RedoImage(const std::string& version)
{
    std::string image = version;
    for (int i = 0; image.size() < 3072; ++i)
        image += static_cast<char>((i * 11) & 0x7F);
    return image;
}

const RedoCase kRedoCases[] = {
    // The cable goes at the sixth piece and is back half a minute later, long after the program
    // has given up on two pieces in a row (three sends in 11 s each).
    { "CANDriver",
        R"({ "device": { "hardware": "VHX-360", "serialNumber": "VHX360-REDO-0001",
            "versions": { "CCPU": "V 02.09.30", "MCPU": "V 03.03.04" },
            "canDrivers": [ { "module": 1, "main": 203 } ] },
            "faults": [ { "kind": "disconnect", "id": "0x51", "skip": 5, "times": 1, "returnAfterMs": 30000 } ] })",
        true, 10, "V 02.05.00", "MCPU CAN Driver", "module",
        "The MCPU stopped answering at piece 6 of 24: the transfer was broken off (5 pieces confirmed).", 5 * 128, 2,
        [](CSimDevice& device) { return device.ModuleFlashImage(); } },
    // The fourth block goes unanswered through its twelve resends, 65 s.
    { "Expander",
        R"({ "device": { "hardware": "QTR-1", "serialNumber": "QTR1-REDO-0001",
            "versions": { "CCPU": "V 02.10.00" }, "expanderRestartMs": 50,
            "expanders": [ { "type": 33, "version": "V 02.03.00" } ] },
            "faults": [ { "kind": "noAnswer", "id": "0x0015", "skip": 3, "times": 13 } ] })",
        false, 6, "V 02.04.00", "ECPU Joystick T001_1", "device",
        "Writing through the device failed with 25 % written: the device did not acknowledge the firmware block for "
        "0x08000300.",
        3 * 256, 1, [](CSimDevice& device) { return device.ExpanderImage(33); } },
};

class InterruptedTransfer : public TarnAgainstSimulator, public ::testing::WithParamInterface<RedoCase>
{
};

} // namespace

// A transfer through the device or to the CAN driver's module that breaks off leaves the device
// answering: the run fails and names the step, the journal says the target did not finish, and the
// next run against the same device plans it again and updates it. tarn history shows both, newest
// first.
TEST_P(InterruptedTransfer, TheNextRunUpdatesTheTargetAgain)
{
    const RedoCase& c = GetParam();
    Serve(c.scenario);
    if (c.mcpuMode)
        ZELTest::WriteFile(folder.File("ZEL.ini"), "[TarnUpdate]\r\nMCPUMode=1\r\n");
    const std::string image = RedoImage(c.version);
    Pack(c.type, c.version, "redo.tarn", image);

    const ZELTest::ProcessResult first = Run("update --yes --json");
    ASSERT_EQ(first.exitCode, 1) << first.output;
    nlohmann::json report = Report(first.output);
    EXPECT_EQ(report["result"]["outcome"], "failed");
    EXPECT_EQ(Outcomes(report),
        nlohmann::json::array({ { { "target", c.target }, { "outcome", "failed" }, { "step", c.step } } }))
        << report.dump(2);
    server->Inspect([](CSimDevice& device) { EXPECT_FALSE(device.BootLoaderOwner().has_value()); });

    ASSERT_TRUE(server->WaitForConnections(c.connections, std::chrono::seconds(60)));
    const ZELTest::ProcessResult second = Run("update --yes --json");
    ASSERT_EQ(second.exitCode, 0) << second.output;
    report = Report(second.output);
    ASSERT_EQ(report["plan"]["targets"].size(), 1u) << report.dump(2);
    EXPECT_EQ(report["plan"]["targets"][0]["target"], c.target);
    EXPECT_EQ(report["result"]["outcome"], "updated");
    EXPECT_EQ(Outcomes(report), nlohmann::json::array({ { { "target", c.target }, { "outcome", "updated" } } }))
        << report.dump(2);
    server->Inspect([&](CSimDevice& device) {
        const std::vector<std::uint8_t> flashed = c.flashed(device);
        EXPECT_EQ(std::string(flashed.begin(), flashed.end()), image);
    });

    const ZELTest::ProcessResult history
        = ZELTest::RunProgram("cd '" + folder.Path().string() + "' && " + Tarn("history --json"));
    ASSERT_EQ(history.exitCode, 0) << history.output;
    const nlohmann::json entries = nlohmann::json::parse(history.output);
    ASSERT_EQ(entries.size(), 2u) << history.output;
    for (const nlohmann::json& entry : entries) {
        EXPECT_EQ(entry["target"], c.target);
        EXPECT_EQ(entry["transfer"], c.transfer);
        EXPECT_EQ(entry["file"], "./Firmware/redo.tarn");
    }
    EXPECT_EQ(entries[0]["outcome"], "updated");
    EXPECT_EQ(entries[0]["step"], "finished");
    EXPECT_EQ(entries[1]["outcome"], "failed");
    EXPECT_EQ(entries[1]["step"], "switched");
    EXPECT_EQ(entries[1]["detail"], c.step);
    EXPECT_EQ(entries[1]["bytesWritten"], c.written);
}

INSTANTIATE_TEST_SUITE_P(Transfers, InterruptedTransfer, ::testing::ValuesIn(kRedoCases),
    [](const ::testing::TestParamInfo<RedoCase>& info) { return std::string(info.param.name); });

// Without a journal that names it, a waiting bootloader is not guessed at: the run fails and says
// what waits; tarn recover flashes the file the operator names, and the device answers again.
TEST_F(TarnAgainstSimulator, RecoverFlashesTheNamedFileWithoutAJournal)
{
    Serve(R"({ "device": { "hardware": "QTR-1",
        "versions": { "CCPU": "V 02.10.00", "KCPU": "V 01.04.00", "LCPU": "V 01.02.07" },
        "bootloader": { "cablePulledAfterWrites": 3, "cableAwayMs": 200 } } })");
    Pack(4, "V 01.03.00", "lcpu.tarn", std::string(3072, '\x21'));
    ASSERT_EQ(Run("update --yes").exitCode, 1);
    std::filesystem::remove(folder.File("Logs/update-journal.json"));

    const ZELTest::ProcessResult update = Run("update --yes");
    EXPECT_EQ(update.exitCode, 1) << update.output;
    EXPECT_NE(update.output.find("A processor is waiting in its bootloader"), std::string::npos) << update.output;
    EXPECT_NE(update.output.find("tarn recover --port"), std::string::npos) << update.output;
    server->Inspect([](CSimDevice& device) { EXPECT_TRUE(device.BootLoaderOwner().has_value()); });

    const ZELTest::ProcessResult recover = ZELTest::RunProgram("cd '" + folder.Path().string() + "' && "
        + Tarn("recover --port '" + server->Path() + "' --file Firmware/lcpu.tarn"));
    EXPECT_EQ(recover.exitCode, 0) << recover.output;
    server->Inspect([](CSimDevice& device) { EXPECT_FALSE(device.BootLoaderOwner().has_value()); });
    EXPECT_EQ(Run("check").exitCode, 0);

    // With nothing waiting, recover flashes nothing.
    const ZELTest::ProcessResult again = ZELTest::RunProgram("cd '" + folder.Path().string() + "' && "
        + Tarn("recover --port '" + server->Path() + "' --file Firmware/lcpu.tarn"));
    EXPECT_EQ(again.exitCode, 1) << again.output;
    EXPECT_NE(again.output.find("No bootloader answers"), std::string::npos) << again.output;
}

// A processor that `tarn send` switched has no update file: the next start finds it waiting through
// the journal and leaves the choice of file to the operator, as tarn recover then makes it.
TEST_F(TarnAgainstSimulator, AProcessorSwitchedByTarnSendIsFoundByTheNextStart)
{
    Serve(R"({ "device": { "hardware": "QTR-1",
        "versions": { "CCPU": "V 02.10.00", "KCPU": "V 01.04.00", "LCPU": "V 01.02.07" } } })");
    Pack(3, "V 01.05.00", "kcpu.tarn", std::string(2048, '\x33'));
    const ZELTest::ProcessResult sent
        = Run("send --seconds 1 --allow-bootloader CCPU_REQ_CONTROL UPDATE_FIRMWARE 10240");
    ASSERT_EQ(sent.exitCode, 0) << sent.output;
    server->Inspect([](CSimDevice& device) {
        EXPECT_EQ(device.BootLoaderOwner(), CSimDevice::Processor::KCPU);
    });

    const ZELTest::ProcessResult update = Run("update --yes");
    EXPECT_EQ(update.exitCode, 1) << update.output;
    EXPECT_NE(update.output.find("A processor is waiting in its bootloader"), std::string::npos) << update.output;
    EXPECT_NE(update.output.find("tarn recover --port"), std::string::npos) << update.output;
    EXPECT_EQ(update.output.find("is missing or has changed"), std::string::npos) << update.output;

    const ZELTest::ProcessResult recover = ZELTest::RunProgram("cd '" + folder.Path().string() + "' && "
        + Tarn("recover --port '" + server->Path() + "' --file Firmware/kcpu.tarn"));
    EXPECT_EQ(recover.exitCode, 0) << recover.output;
    server->Inspect([](CSimDevice& device) { EXPECT_FALSE(device.BootLoaderOwner().has_value()); });
}

// --verify reads the flashed image back: the status names the verify, a byte the chip stored wrongly
// fails the target with its address; without the option the same chip is not read and passes.
TEST_F(TarnAgainstSimulator, UpdateVerifyReadsTheImageBack)
{
    struct Case
    {
        const char* name;
        const char* options;
        const char* bootLoader;
        int exitCode;
        const char* shown;
    };
    const Case cases[] = {
        { "healthy chip", "--verify", "{}", 0, "Status: KCPU Update ... (verify)\n" },
        { "one byte stored wrongly", "--verify", R"({ "corruptWriteAt": "0x08000400" })", 1,
            "The update of the KCPU could not be started. Verify: the byte at 0x08000400 reads 0xA5, written 0x5A." },
        { "without the option", "", R"({ "corruptWriteAt": "0x08000400" })", 0, "Status: Update succeeded\n" },
        { "read-out protection", "--verify", R"({ "readProtected": true })", 0,
            "KCPU: updated, not verified (read-out protection)." },
        { "read-out protection, as JSON", "--verify --json", R"({ "readProtected": true })", 0,
            "\"verificationNote\": \"read-out protection\"" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Serve(std::string(R"({ "device": { "hardware": "QTR-1", "versions": { "CCPU": "V 02.09.30", "KCPU": "V 01.04.00" },
            "bootloader": )") + c.bootLoader + " } }");
        Pack(3, "V 01.05.00", "kcpu.tarn");
        const ZELTest::ProcessResult result = Run(std::string("update --yes ") + c.options);
        EXPECT_EQ(result.exitCode, c.exitCode) << result.output;
        EXPECT_NE(result.output.find(c.shown), std::string::npos) << result.output;
        if (std::string(c.options).empty()) {
            EXPECT_EQ(result.output.find("(verify)"), std::string::npos) << result.output;
        }
    }
}

// The README's first command: the demo updates its simulated device and names the CSV log it wrote
// (not the update journal beside it).
TEST(TarnDemo, UpdatesTheSimulatedDeviceAndNamesItsLog)
{
    const ZELTest::ProcessResult demo = ZELTest::RunProgram(Tarn("demo"));
    ASSERT_EQ(demo.exitCode, 0) << demo.output;
    EXPECT_NE(demo.output.find("Result: the update succeeded"), std::string::npos) << demo.output;
    const std::string::size_type at = demo.output.rfind("Log file: ");
    ASSERT_NE(at, std::string::npos) << demo.output;
    std::string log = demo.output.substr(at + 10);
    log = log.substr(0, log.find('\n'));
    EXPECT_EQ(std::filesystem::path(log).extension(), ".csv") << log;
    EXPECT_TRUE(std::filesystem::is_regular_file(log)) << log;
}

// Without firmware for the device there is nothing to compare with: that is said, never "installed already".
TEST_F(TarnAgainstSimulator, NoFirmwareForTheDeviceIsNoUpToDate)
{
    struct Case
    {
        const char* name;
        std::function<void()> prepare;
        std::vector<std::string> shown;
    };
    const Case cases[] = {
        { "no folder", [] {}, { "There is no firmware folder ./Firmware." } },
        { "an empty folder", [&] { std::filesystem::create_directories(folder.Path() / "Firmware"); },
            { "The firmware folder ./Firmware holds no usable firmware file (*.tarn)." } },
        { "only another hardware's file", [&] { Pack(2, "V 02.10.00", "ccpu-vhx.tarn"); },
            { "The firmware folder ./Firmware holds no firmware for this QTR-1 (",
                "./Firmware/ccpu-vhx.tarn: ", "V 02.10.00 is not for this QTR-1" } },
        { "a damaged file only", [&] {
             Pack(3, "V 01.05.00", "kcpu.tarn");
             ZELTest::WriteFile(folder.File("Firmware/kcpu.tarn"), "no firmware");
         },
            { "The firmware folder ./Firmware holds no usable firmware file (*.tarn)." } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(folder.Path() / "Firmware");
        Serve(kQtr1);
        c.prepare();
        const ZELTest::ProcessResult result = Run("update --yes --json");
        EXPECT_EQ(result.exitCode, 1) << result.output;
        for (const std::string& line : c.shown)
            EXPECT_NE(result.output.find(line), std::string::npos) << line << "\n" << result.output;
        EXPECT_EQ(result.output.find("installed already"), std::string::npos) << result.output;
        EXPECT_EQ(Report(result.output)["result"]["outcome"], "no-firmware") << result.output;
    }
}

// A transfer that ended is not an update until the device reports the file's version.
TEST_F(TarnAgainstSimulator, AProcessorThatKeepsItsOldVersionFailsTheRun)
{
    Serve(R"({ "device": { "hardware": "QTR-1",
        "versions": { "CCPU": "V 02.09.30", "KCPU": "V 01.04.00", "LCPU": "V 01.02.07" },
        "versionsAfterUpdate": { "KCPU": "V 01.04.00" } } })");
    Pack(3, "V 01.05.00", "kcpu.tarn");
    Pack(4, "V 01.03.00", "lcpu.tarn");
    const ZELTest::ProcessResult result = Run("update --yes --json");
    EXPECT_EQ(result.exitCode, 1) << result.output;
    const std::string unconfirmed = "The KCPU reports V 01.04.00 after the update; the file was V 01.05.00.";
    EXPECT_NE(result.output.find("- " + unconfirmed + "\n\nA processor that keeps its old version after its "
                                 "transfer will do so again: check that the file is that processor's firmware for "
                                 "this device before the next start."),
        std::string::npos)
        << result.output;
    EXPECT_EQ(result.output.find("Update succeeded"), std::string::npos) << result.output;
    const nlohmann::json report = Report(result.output);
    EXPECT_EQ(report["result"]["outcome"], "failed");
    ASSERT_EQ(report["result"]["targets"].size(), 2u) << result.output;
    const nlohmann::json& lcpu = report["result"]["targets"][0];
    EXPECT_EQ(lcpu["target"], "LCPU");
    EXPECT_EQ(lcpu["outcome"], "updated");
    EXPECT_EQ(lcpu["file"], "./Firmware/lcpu.tarn");
    EXPECT_EQ(lcpu["from"], "V 01.02.07");
    EXPECT_EQ(lcpu["to"], "V 01.03.00");
    EXPECT_EQ(lcpu["bytes"], 2048);
    EXPECT_GT(lcpu["seconds"].get<double>(), 0.0);
    EXPECT_EQ(lcpu["verified"], "not-asked");
    EXPECT_EQ(lcpu["confirmed"], "confirmed");
    EXPECT_EQ(lcpu["reportedVersion"], "V 01.03.00");
    const nlohmann::json& kcpu = report["result"]["targets"][1];
    EXPECT_EQ(kcpu["target"], "KCPU");
    EXPECT_EQ(kcpu["outcome"], "failed");
    EXPECT_EQ(kcpu["step"], unconfirmed);
    EXPECT_EQ(kcpu["confirmed"], "unconfirmed");
    EXPECT_EQ(kcpu["reportedVersion"], "V 01.04.00");
    EXPECT_EQ(kcpu["to"], "V 01.05.00");
    EXPECT_EQ(report["result"]["errors"], nlohmann::json::array({ unconfirmed }));

    // The journal keeps what the device reported.
    const ZELTest::ProcessResult history
        = ZELTest::RunProgram("cd '" + folder.Path().string() + "' && " + Tarn("history --json"));
    ASSERT_EQ(history.exitCode, 0) << history.output;
    const nlohmann::json entries = nlohmann::json::parse(history.output);
    ASSERT_EQ(entries.size(), 2u) << history.output;
    EXPECT_EQ(entries[0]["target"], "KCPU");
    EXPECT_EQ(entries[0]["outcome"], "failed");
    EXPECT_EQ(entries[0]["confirmation"], "unconfirmed");
    EXPECT_EQ(entries[0]["confirmedVersion"], "V 01.04.00");
    EXPECT_EQ(entries[1]["target"], "LCPU");
    EXPECT_EQ(entries[1]["outcome"], "updated");
    EXPECT_EQ(entries[1]["confirmation"], "confirmed");
    EXPECT_EQ(entries[1]["confirmedVersion"], "V 01.03.00");
    const ZELTest::ProcessResult words
        = ZELTest::RunProgram("cd '" + folder.Path().string() + "' && " + Tarn("history"));
    EXPECT_NE(words.output.find("KCPU  V 01.05.00  failed (finished, 2048 bytes)  unconfirmed V 01.04.00"),
        std::string::npos)
        << words.output;
    EXPECT_NE(words.output.find("LCPU  V 01.03.00  updated (finished, 2048 bytes)  confirmed V 01.03.00"),
        std::string::npos)
        << words.output;
}

// A lost expander notice is asked for again; a list that stays short stops the start before any switch.
TEST_F(TarnAgainstSimulator, AShortExpanderListIsAskedAgainOrStopsTheStart)
{
    struct Case
    {
        const char* name;
        const char* faults;
        int exitCode;
        std::vector<std::uint16_t> flashed;
        const char* shown;
    };
    const Case cases[] = {
        { "one notice lost", R"([ { "kind": "drop", "id": "0x8013", "times": 1 } ])", 0, { 33, 34 },
            "Status: Update succeeded" },
        { "every notice lost", R"([ { "kind": "drop", "id": "0x8013" } ])", 1, {},
            "the device announced 2 expanders but reported only 0. No processor has been touched" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Serve(std::string(R"({ "device": { "hardware": "QTR-1",
            "versions": { "CCPU": "V 02.09.30", "KCPU": "V 01.04.00" },
            "expanders": [ { "type": 33, "version": "V 02.03.00" }, { "type": 34, "version": "V 02.03.00" } ] },
            "faults": )") + c.faults + " }");
        Pack(6, "V 02.04.00", "ecpu.tarn");
        Pack(3, "V 01.05.00", "kcpu.tarn");
        const ZELTest::ProcessResult result = Run("update --yes");
        EXPECT_EQ(result.exitCode, c.exitCode) << result.output;
        EXPECT_NE(result.output.find(c.shown), std::string::npos) << result.output;
        server->Inspect([&](CSimDevice& device) {
            EXPECT_EQ(device.ExpanderTypesFlashed(), c.flashed);
            EXPECT_EQ(device.Version(CSimDevice::Processor::KCPU), c.exitCode == 0 ? "V 01.05.00" : "V 01.04.00");
        });
    }
}

// Nothing is switched for a transfer the PC cannot carry out: here the log and journal folder is a file.
TEST_F(TarnAgainstSimulator, AFolderThatCannotTakeTheFilesSwitchesNoProcessor)
{
    Serve(kQtr1);
    Pack(3, "V 01.05.00", "kcpu.tarn");
    ZELTest::WriteFile(folder.File("Logs"), "not a folder");
    const ZELTest::ProcessResult result = Run("update --yes");
    EXPECT_EQ(result.exitCode, 1) << result.output;
    EXPECT_NE(result.output.find("The update could not be started because this PC is not ready for it:\n- The folder "
                                 "./Logs cannot take the update's files: "),
        std::string::npos)
        << result.output;
    EXPECT_NE(result.output.find("No processor has been touched."), std::string::npos) << result.output;
    EXPECT_NE(result.output.find("The log file cannot be written in ./Logs: this run keeps no log."), std::string::npos)
        << result.output;
    server->Inspect([](CSimDevice& device) {
        EXPECT_FALSE(device.BootLoaderOwner().has_value());
        EXPECT_TRUE(device.BootLoader(CSimDevice::Processor::KCPU).ProgrammedImage().empty());
        EXPECT_EQ(device.Version(CSimDevice::Processor::KCPU), "V 01.04.00");
    });
}

// Once a processor waits in its bootloader on the line, the targets after it are not tried one by one.
TEST_F(TarnAgainstSimulator, TargetsAfterAProcessorLeftInItsBootloaderAreNotStarted)
{
    Serve(R"({ "device": { "hardware": "QTR-1",
        "versions": { "CCPU": "V 02.09.30", "KCPU": "V 01.04.00", "LCPU": "V 01.02.07" },
        "bootloader": { "nack": "44" } } })");
    Pack(4, "V 01.03.00", "lcpu.tarn");
    Pack(3, "V 01.05.00", "kcpu.tarn");
    Pack(1, "V 02.10.00", "ccpu.tarn");
    const ZELTest::ProcessResult result = Run("update --yes --json");
    EXPECT_EQ(result.exitCode, 1) << result.output;
    const std::string reason = "Not started: the device can no longer answer (the LCPU waits in its bootloader).";
    EXPECT_NE(result.output.find("- The update of the KCPU could not be started. " + reason), std::string::npos)
        << result.output;
    EXPECT_NE(result.output.find("- The update of the CCPU could not be started. " + reason), std::string::npos)
        << result.output;
    EXPECT_NE(result.output.find("Start the update again: the LCPU is flashed again first."), std::string::npos)
        << result.output;
    const nlohmann::json report = Report(result.output);
    ASSERT_EQ(report["result"]["targets"].size(), 3u) << result.output;
    EXPECT_EQ(report["result"]["targets"][1]["outcome"], "not-started");
    EXPECT_EQ(report["result"]["targets"][2]["outcome"], "not-started");
    server->Inspect([](CSimDevice& device) {
        EXPECT_EQ(device.BootLoaderOwner(), CSimDevice::Processor::LCPU);
        EXPECT_EQ(device.Version(CSimDevice::Processor::KCPU), "V 01.04.00");
    });
}

// The cable goes while an expander is asked for its update, or during its transfer through the device,
// and stays away: the wait ends once the port has been gone a while, and the targets after it are not
// started one after another.
TEST_F(TarnAgainstSimulator, APortGoneForGoodDuringAnExpanderEndsTheRun)
{
    struct Case
    {
        const char* name;
        const char* scenario;
        const char* pullAt; // the line after which the cable goes
        const char* expander; // what is said of the expander
    };
    const Case cases[] = {
        { "while it is asked", R"({ "device": { "hardware": "QTR-1", "versions": { "CCPU": "V 02.09.30" },
            "expanders": [ { "type": 33, "version": "V 02.03.00" } ] },
            "faults": [ { "kind": "noAnswer", "id": "0x0014" } ] })",
            "Status: ECPU Update", "ECPU Joystick T001_1 (type 33): The processor did not answer its update request." },
        { "during its transfer", R"({ "device": { "hardware": "QTR-1", "versions": { "CCPU": "V 02.09.30" },
            "expanders": [ { "type": 33, "version": "V 02.03.00" } ] }, "baudRate": 115200 })",
            "Progress: 2%", "went away during the transfer and did not come back" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Serve(c.scenario);
        Pack(6, "V 02.04.00", "ecpu.tarn", "V 02.04.00" + std::string(65526, '\x21'));
        Pack(1, "V 02.10.00", "ccpu.tarn");
        ZELTest::RunningProgram tarn(
            Tarn("update --yes --port '" + server->Path() + "'"), 120, folder.Path().string());
        ASSERT_TRUE(tarn.Started());
        ASSERT_TRUE(tarn.WaitForLine(c.pullAt));
        server->Disconnect(std::nullopt);
        const ZELTest::ProcessResult result = tarn.Finish();
        EXPECT_EQ(result.exitCode, 1) << result.output;
        EXPECT_NE(result.output.find(c.expander), std::string::npos) << result.output;
        EXPECT_NE(result.output.find("- The update of the CCPU could not be started. Not started: the device can no "
                                     "longer answer (the port " + server->Path() + " is gone)."),
            std::string::npos)
            << result.output;
        EXPECT_NE(result.output.find("Connect the device again and start the update again."), std::string::npos)
            << result.output;
    }
}

namespace {

// Every file and folder under `folder` with its content ("/" for a folder).
std::map<std::string, std::string> Snapshot(const std::filesystem::path& folder)
{
    std::map<std::string, std::string> content;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        content[std::filesystem::relative(entry.path(), folder).string()]
            = entry.is_directory() ? "/" : ZELTest::ReadFile(entry.path().string());
    return content;
}

} // namespace

// The demo writes firmware, logs and a journal: an operator's folder is refused and left as it was,
// byte for byte, whatever it holds.
TEST(TarnDemo, RefusesAFolderThatIsNotItsOwnAndLeavesItAsItWas)
{
    struct Case
    {
        const char* name;
        std::vector<std::pair<std::string, std::string>> files;
    };
    const std::string journal = R"({"format": 1, "entries": []})";
    const Case cases[] = {
        { "an operator's working folder",
            { { "ZEL.ini", "[TarnUpdate]\nCOMPort=COM3\n" }, { "Firmware/kcpu.tarn", std::string(200, '\x11') },
                { "Firmware/ccpu-qtr.tarn", std::string(300, '\x22') }, { "Logs/update-journal.json", journal },
                { "Logs/2026-12-01 10-00-00.csv", "a;log\n" } } },
        { "only a settings file", { { "ZEL.ini", "[TarnUpdate]\nLanguage=0\n" } } },
        { "only a journal", { { "Logs/update-journal.json", journal } } },
        // The marker alone does not make a folder the demo's: everything else in it must be too.
        { "marked, with a file of its own", { { ".tarn-demo", "" }, { "notes.txt", "mine" } } },
        { "marked, with foreign firmware", { { ".tarn-demo", "" }, { "Firmware/mcpu-special.tarn", "x" } } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ZELTest::TemporaryDirectory folder;
        for (const auto& [path, content] : c.files) {
            std::filesystem::create_directories((folder.Path() / path).parent_path());
            ZELTest::WriteFile(folder.File(path), content);
        }
        const auto before = Snapshot(folder.Path());
        const ZELTest::ProcessResult demo
            = ZELTest::RunProgram(Tarn("demo --folder '" + folder.Path().string() + "'") + " 2>&1");
        EXPECT_EQ(demo.exitCode, 2) << demo.output;
        EXPECT_NE(demo.output.find(folder.Path().string()), std::string::npos) << demo.output;
        EXPECT_NE(demo.output.find("leave out --folder"), std::string::npos) << demo.output;
        EXPECT_EQ(Snapshot(folder.Path()), before);
    }
}

// An empty folder takes the demo, and the demo takes its own folder again.
TEST(TarnDemo, RunsInAnEmptyFolderAndAgainInItsOwn)
{
    const ZELTest::TemporaryDirectory folder;
    for (const char* run : { "empty folder", "its own earlier demo" }) {
        SCOPED_TRACE(run);
        const ZELTest::ProcessResult demo
            = ZELTest::RunProgram(Tarn("demo --folder '" + folder.Path().string() + "'") + " 2>&1");
        ASSERT_EQ(demo.exitCode, 0) << demo.output;
        EXPECT_NE(demo.output.find("Result: the update succeeded"), std::string::npos) << demo.output;
    }
    EXPECT_TRUE(std::filesystem::exists(folder.Path() / "Logs" / "update-journal.json"));
}
