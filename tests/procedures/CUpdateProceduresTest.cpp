// The whole update run against the simulated device over a pseudo-terminal: the library's serial
// port, the STM32 bootloader client on the same port, the system log writing its CSV file. Each case
// checks the simulated processors' flash against the images packed into the firmware files and the
// lines of the log file.
#include "procedures/ProceduresTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace ProceduresTest;
using Processor = CSimDevice::Processor;

enum class Where
{
    Processor,    // through its STM32 bootloader on the port
    NotProcessor, // a processor whose bootloader was never asked to erase or write
    NotStarted,   // written through its bootloader, but never told to start
    Expander,     // through the device
    NotExpander,  // an expander that must stay untouched
    CANDriver,    // module flash, padded to a multiple of 4
};

using Result = std::pair<std::string, TargetOutcome>;

struct Flashed
{
    Where where;
    int fileType;
    Processor processor = Processor::CCPU;
    std::uint16_t expanderType = 0;
};

struct Case
{
    const char* name;
    const char* scenario;
    std::uint16_t protocol;
    bool mcpuMode;
    std::vector<Firmware> files;
    std::vector<Flashed> flashed;
    long state;
    std::string errors;
    std::vector<std::string> logLines; // each found in the CSV file
    std::vector<std::string> absentLines = {};
    std::vector<int> progress = {};    // exactly these values were shown, in order
    std::vector<Result> results = {};  // what became of each target, in order (unchecked when empty)
    int barResets = -1;                // how often the progress bar went back to 0 (unchecked when -1)
    RunHooks hooks = {};
    std::string journalHardware = {};  // the device's name in each journal entry (unchecked when empty)
};

std::string GoingToInstall(const std::string& rest)
{
    return "The following firmware is going to be installed: " + rest;
}

void CheckFlash(const Case& c, UpdateRun& run)
{
    for (const Flashed& flashed : c.flashed) {
        const auto file = std::find_if(c.files.begin(), c.files.end(),
            [&](const Firmware& f) { return f.type == flashed.fileType; });
        ASSERT_NE(file, c.files.end()) << c.name;
        Bytes expected = Image(*file);
        run.server->Inspect([&](CSimDevice& device) {
            switch (flashed.where) {
            case Where::NotProcessor:
                EXPECT_EQ(device.BootLoader(flashed.processor).EraseCount(), 0)
                    << c.name << ": " << CSimDevice::ProcessorName(flashed.processor);
                EXPECT_EQ(device.BootLoader(flashed.processor).WriteCount(), 0)
                    << c.name << ": " << CSimDevice::ProcessorName(flashed.processor);
                break;
            case Where::NotStarted:
                EXPECT_GT(device.BootLoader(flashed.processor).WriteCount(), 0)
                    << c.name << ": " << CSimDevice::ProcessorName(flashed.processor);
                EXPECT_FALSE(device.BootLoader(flashed.processor).HasStarted())
                    << c.name << ": " << CSimDevice::ProcessorName(flashed.processor);
                break;
            case Where::Processor:
                EXPECT_EQ(device.BootLoader(flashed.processor).ProgrammedImage(), expected)
                    << c.name << ": " << CSimDevice::ProcessorName(flashed.processor);
                // Go started the image, and the line is back with the device.
                EXPECT_EQ(device.BootLoader(flashed.processor).StartAddress(), CSimSTM32BootLoader::kFlashBase)
                    << c.name << ": " << CSimDevice::ProcessorName(flashed.processor);
                EXPECT_FALSE(device.BootLoaderOwner()) << c.name;
                break;
            case Where::Expander:
                EXPECT_EQ(device.ExpanderImage(flashed.expanderType), expected)
                    << c.name << ": expander " << flashed.expanderType;
                break;
            case Where::NotExpander:
                EXPECT_TRUE(device.ExpanderImage(flashed.expanderType).empty())
                    << c.name << ": expander " << flashed.expanderType;
                break;
            case Where::CANDriver:
                expected.resize((expected.size() + 3) / 4 * 4, 0xFF);
                EXPECT_EQ(device.ModuleFlashImage(), expected) << c.name;
                break;
            }
        });
    }
}

std::vector<Result> Results(const UpdateRun& run)
{
    std::vector<Result> results;
    for (const TargetResult& result : run.dialog.GetTargetResults())
        results.emplace_back(result.name, result.outcome);
    return results;
}

std::string Describe(const std::vector<Result>& results)
{
    std::string text;
    for (const auto& [name, outcome] : results)
        text += name + ": " + CUpdaterDlg::TargetOutcomeName(outcome) + "; ";
    return text;
}

void RunCases(const std::vector<Case>& cases)
{
    for (const Case& c : cases) {
        UpdateRun run(c.scenario, c.protocol, c.mcpuMode, c.files, c.hooks);
        ASSERT_EQ(run.outcome, StartOutcome::UpdateStarted) << c.name << "\n" << run.log;
        ASSERT_TRUE(run.finished) << c.name;
        EXPECT_EQ(run.dialog.GetApplicationState(), c.state) << c.name << "\n" << run.log;
        EXPECT_EQ(run.dialog.GetErrorList(), c.errors) << c.name;
        CheckFlash(c, run);
        for (const std::string& line : c.logLines)
            EXPECT_NE(run.log.find(line), std::string::npos) << c.name << ": " << line << "\n" << run.log;
        for (const std::string& line : c.absentLines)
            EXPECT_EQ(run.log.find(line), std::string::npos) << c.name << ": " << line;
        if (!c.progress.empty()) {
            EXPECT_EQ(run.view.Progress(), c.progress) << c.name;
        }
        if (!c.results.empty()) {
            EXPECT_EQ(Results(run), c.results) << c.name << ": " << Describe(Results(run));
        }
        if (c.barResets >= 0) {
            const std::vector<int> progress = run.view.Progress();
            EXPECT_EQ(std::count(progress.begin(), progress.end(), 0), c.barResets) << c.name;
        }
        if (!c.journalHardware.empty()) {
            CUpdateJournal& journal = run.procedures.Journal();
            ASSERT_EQ(journal.Load(), ZEL_STATUS_SUCCESS) << c.name;
            ASSERT_FALSE(journal.Entries().empty()) << c.name;
            for (const JournalEntry& entry : journal.Entries())
                EXPECT_EQ(entry.hardware, c.journalHardware) << c.name << ": " << entry.target;
        }
    }
}

constexpr auto kUpdated = TargetOutcome::Updated;
constexpr auto kFailed = TargetOutcome::Failed;
constexpr auto kNotStarted = TargetOutcome::NotStarted;
constexpr auto kSkipped = TargetOutcome::Skipped;

const char* const kQtr1 = R"({ "device": { "hardware": "QTR-1",
    "versions": { "CCPU": "V 02.09.30", "KCPU": "V 01.04.00", "LCPU": "V 01.02.07" },
    "expanderRestartMs": 20,
    "expanders": [ { "type": 16, "version": "V 02.03.00" }, { "type": 33, "version": "V 02.03.00" },
                   { "type": 34, "version": "V 02.03.00" } ] } })";

const char* const kVhx360 = R"({ "device": { "hardware": "VHX-360",
    "versions": { "CCPU": "V 02.09.30", "KCPU": "V 01.04.00", "LCPU": "V 01.02.07", "MCPU": "V 03.03.04" } } })";

const std::string kCANDriverScenario = R"({ "device": { "hardware": "VHX-360",
    "versions": { "CCPU": "V 02.09.30", "MCPU": "V 03.03.04" },
    "canDrivers": [ { "module": 1, "main": 203 } ] }, "faults": [ )";

const std::string kCANDriverScenarioClean = kCANDriverScenario + "] }";
const std::string kCANDriverScenarioNoStart = kCANDriverScenario + R"({ "kind": "noAnswer", "id": "0x4E" } ] })";
const std::string kCANDriverScenarioFourModules = R"({ "device": { "hardware": "VHX-360",
    "versions": { "CCPU": "V 02.09.30", "MCPU": "V 03.03.04" },
    "canDrivers": [ { "module": 1, "main": 203 }, { "module": 2, "main": 203 }, { "module": 3, "main": 203 },
                    { "module": 4, "main": 203 } ] } })";
const std::string kCANDriverScenarioLostPiece
    = kCANDriverScenario + R"({ "kind": "noAnswer", "id": "0x51", "skip": 1, "times": 3 } ] })";
const std::string kCANDriverScenarioSilentFromPiece2
    = kCANDriverScenario + R"({ "kind": "noAnswer", "id": "0x51", "skip": 2 } ] })";

} // namespace

TEST(BuildBootloaderSwitchRequest, IsAControlRequestWithTheTargetValue)
{
    std::uint8_t packet[512] = {};
    ASSERT_EQ(CUpdateProcedures::BuildBootloaderSwitchRequest(packet, 0xF000), 11u);
    const Bytes expected{0x42, 0x11, 0x00, 0x03, 0x00, 0x00, 0x00, 0x80, 0x00, 0xF0, 0x00};
    EXPECT_EQ(Bytes(packet, packet + 11), expected);
}

TEST(UpdateProcedures, FlashEveryProcessorOfTheFamily)
{
    RunCases({
        { "QTR-1: CCPU, KCPU, LCPU, own ECPU, expanders 33 and 34", kQtr1, 0x1800, false,
            { { 1, "V 02.10.00", 3000 }, { 3, "V 01.05.00", 1500 }, { 4, "V 01.03.00", 700 },
                { 6, "V 02.04.00", 1100 } },
            { { Where::Processor, 1, Processor::CCPU }, { Where::Processor, 3, Processor::KCPU },
                { Where::Processor, 4, Processor::LCPU }, { Where::Processor, 6, Processor::ECPU },
                { Where::Expander, 6, Processor::CCPU, 33 }, { Where::Expander, 6, Processor::CCPU, 34 } },
            UPDATER_STATE_SUCCEEDED, "",
            { GoingToInstall("LCPU V 01.02.07 -> V 01.03.00, file = ./Firmware/t4.tarn"),
                GoingToInstall("KCPU V 01.04.00 -> V 01.05.00, file = ./Firmware/t3.tarn"),
                GoingToInstall("CCPU V 02.09.30 -> V 02.10.00, file = ./Firmware/t1.tarn"),
                ", V 02.03.00 -> V 02.04.00, file = ./Firmware/t6.tarn", "The chip has been programmed.",
                "The update thread has finished.", "SetApplicationState(); 7 -> 7" },
            {}, {},
            { { "LCPU", kUpdated }, { "KCPU", kUpdated }, { "ECPU Remote Control T001", kUpdated },
                { "ECPU Joystick T001_1", kUpdated }, { "ECPU Joystick T001_2", kUpdated }, { "CCPU", kUpdated } },
            // Each target and each expander starts its bar at 0.
            6, {}, "QTR-1" },
        { "VHX-360: MCPU", kVhx360, 0x1800, false, { { 5, "V 03.04.00", 2000 } },
            { { Where::Processor, 5, Processor::MCPU } }, UPDATER_STATE_SUCCEEDED, "",
            { GoingToInstall("MCPU V 03.03.04 -> V 03.04.00, file = ./Firmware/t5.tarn") } },
        { "radio modem: RCPU", R"({ "device": { "hardware": "EMIP400", "versions": { "RCPU": "V 01.00.00" } } })",
            0x1800, false, { { 7, "V 01.01.00", 900 } }, { { Where::Processor, 7, Processor::RCPU } },
            UPDATER_STATE_SUCCEEDED, "",
            { GoingToInstall("RCPU V 01.00.00 -> V 01.01.00, file = ./Firmware/t7.tarn") }, {}, {}, {}, -1, {},
            "EMIP400" },
        { "Ombra box", R"({ "device": { "hardware": "Ombra", "versions": { "Ombra": "V 01.00.00" } } })", 5, false,
            { { 7, "V 01.01.00", 900 } }, { { Where::Processor, 7, Processor::Ombra } }, UPDATER_STATE_SUCCEEDED, "",
            { GoingToInstall("Ombra Box V 01.00.00 -> V 01.01.00, file = ./Firmware/t7.tarn") } },
        { "Veltrix box", R"({ "device": { "hardware": "Veltrix", "versions": { "Veltrix": "V 01.00.00" } } })", 4,
            false, { { 8, "V 01.02.00", 900 } }, { { Where::Processor, 8, Processor::Veltrix } },
            UPDATER_STATE_SUCCEEDED, "",
            { GoingToInstall("Veltrix V 01.00.00 -> V 01.02.00, file = ./Firmware/t8.tarn") } },
        { "CCPU2, file type 9", R"({ "device": { "hardware": "ZT Remote V2", "versions": { "CCPU": "V 01.00.00" } } })",
            0x1880, false, { { 9, "V 01.00.01", 1200 } }, { { Where::Processor, 9, Processor::CCPU } },
            UPDATER_STATE_SUCCEEDED, "",
            { GoingToInstall("CCPU V 01.00.00 -> V 01.00.01, file = ./Firmware/t9.tarn") } },
    });
}

TEST(UpdateProcedures, CANDriverModuleFlash)
{
    RunCases({
        // 129 bytes: pieces of 128 and 4 bytes (three 0xFF), packet numbers 0 and 1; progress 0 (the
        // target's start) and 1 * 12800 / 132 = 96.
        { "129-byte image", kCANDriverScenarioClean.c_str(), 0x1800, true, { { 10, "V 02.05.00", 129 } },
            { { Where::CANDriver, 10 } }, UPDATER_STATE_SUCCEEDED, "",
            { GoingToInstall("MCPU CAN Driver V 02.03.00 -> V 02.05.00, file = ./Firmware/t10.tarn"),
                "Preparing update file ...", "The update file has been prepared." },
            { "skipping; packet" }, { 0, 96 } },
        // 258 pieces: the packet number runs 0..255, 0, 1 and every echo matches.
        { "more than 256 pieces", kCANDriverScenarioClean.c_str(), 0x1800, true,
            { { 10, "V 02.05.00", 257 * 128 + 3 } }, { { Where::CANDriver, 10 } }, UPDATER_STATE_SUCCEEDED, "",
            { "The update thread has finished." }, { "skipping; packet" } },
        // A piece lost with its two resends is only logged; the device's image check then refuses the
        // finish.
        { "lost piece", kCANDriverScenarioLostPiece.c_str(), 0x1800, true, { { 10, "V 02.05.00", 300 } }, {},
            UPDATER_STATE_FAILED,
            "\r\n\t- The update of the MCPU CAN driver could not be started. The MCPU did not confirm the finished "
            "image (2 of 3 pieces confirmed).",
            { "skipping; packet; 0; 1; state; 4" }, {}, {}, { { "MCPU CAN Driver", kFailed } } },
        // The MCPU answers nothing from packet 2 on: the transfer ends after packets 2 and 3 instead of
        // waiting out every one of the 40 pieces.
        { "MCPU stops answering", kCANDriverScenarioSilentFromPiece2.c_str(), 0x1800, true,
            { { 10, "V 02.05.00", 40 * 128 } }, {}, UPDATER_STATE_FAILED,
            "\r\n\t- The update of the MCPU CAN driver could not be started. The MCPU stopped answering at piece 3 of "
            "40: the transfer was broken off (2 pieces confirmed).",
            { "skipping; packet; 1; 2; state; 4", "skipping; packet; 1; 3; state; 4" },
            { "skipping; packet; 1; 4; state; 4" }, {}, { { "MCPU CAN Driver", kFailed } } },
        // The module list holds more records than the program keeps: the first module is flashed.
        { "four modules", kCANDriverScenarioFourModules.c_str(), 0x1800, true, { { 10, "V 02.05.00", 600 } },
            { { Where::CANDriver, 10 } }, UPDATER_STATE_SUCCEEDED, "",
            { GoingToInstall("MCPU CAN Driver V 02.03.00 -> V 02.05.00, file = ./Firmware/t10.tarn") }, {}, {},
            { { "MCPU CAN Driver", kUpdated } } },
        { "flash start never confirmed", kCANDriverScenarioNoStart.c_str(), 0x1800, true, { { 10, "V 02.05.00", 300 } },
            {}, UPDATER_STATE_FAILED,
            "\r\n\t- The update of the MCPU CAN driver could not be started. The MCPU did not confirm the flash start.",
            {}, {}, {}, { { "MCPU CAN Driver", kNotStarted } } },
    });
}

TEST(UpdateProcedures, FailuresCostTheirLineAndTheRunGoesOn)
{
    RunCases({
        // Seven requests in the ten seconds go unanswered; the MCPU's switch is answered.
        { "LCPU never acknowledges",
            R"({ "device": { "hardware": "VHX-360",
                "versions": { "CCPU": "V 02.09.30", "LCPU": "V 01.02.07", "MCPU": "V 03.03.04" } },
                "faults": [ { "kind": "noAnswer", "id": "0x0011", "times": 7 } ] })",
            0x1800, false, { { 4, "V 01.03.00", 600 }, { 5, "V 03.04.00", 800 } },
            { { Where::Processor, 5, Processor::MCPU } }, UPDATER_STATE_FAILED,
            "\r\n\t- The update of the LCPU could not be started. The processor did not answer its update request.",
            { "The update of the LCPU could not be started.", GoingToInstall("MCPU V 03.03.04 -> V 03.04.00") }, {}, {},
            { { "LCPU", kNotStarted }, { "MCPU", kUpdated } } },
        { "RCPU transfer fails",
            R"({ "device": { "hardware": "EMIP400", "versions": { "RCPU": "V 01.00.00" },
                "bootloader": { "nack": "44" } } })",
            0x1800, false, { { 7, "V 01.01.00", 900 } }, {}, UPDATER_STATE_FAILED,
            "\r\n\t- The update of the RCPU could not be started. Extended Erase failed with 0 % written: NACK (0x1F) "
            "to command 0x44.",
            { "The chip could not be erased." }, {}, {}, { { "RCPU", kFailed } } },
        // After expander 33 the device never reports its expanders again: 34 is left, and the run fails.
        { "expanders not found again",
            R"({ "device": { "hardware": "QTR-1", "versions": { "CCPU": "V 02.09.30" },
                "expanders": [ { "type": 33, "version": "V 02.03.00" }, { "type": 34, "version": "V 02.03.00" } ] },
                "faults": [ { "kind": "drop", "id": "0x8016" } ] })",
            0x1800, false, { { 6, "V 02.04.00", 800 } },
            { { Where::Expander, 6, Processor::CCPU, 33 }, { Where::NotExpander, 6, Processor::CCPU, 34 } },
            UPDATER_STATE_FAILED,
            "\r\n\t- The ECPU Joystick T001_2 (type 34) could not be updated: the device did not find the expanders again.",
            { "Main Software; CCPU did not manage to find the expanders again!" }, {}, {},
            { { "ECPU Joystick T001_1", kUpdated }, { "ECPU Joystick T001_2", kSkipped } } },
        { "remote control's own ECPU never acknowledges",
            R"({ "device": { "hardware": "QTR-1", "versions": { "CCPU": "V 02.09.30" },
                "expanders": [ { "type": 16, "version": "V 02.03.00" } ] },
                "faults": [ { "kind": "noAnswer", "id": "0x0011" } ] })",
            0x1800, false, { { 6, "V 02.04.00", 800 } }, { { Where::NotProcessor, 6, Processor::ECPU } },
            UPDATER_STATE_FAILED,
            "\r\n\t- The update of the ECPU could not be started. ECPU Remote Control T001 (type 16): The processor did not "
            "answer its update request.", {},
            {}, {}, { { "ECPU Remote Control T001", kNotStarted } } },
        { "remote control's own ECPU refuses the erase",
            R"({ "device": { "hardware": "QTR-1", "versions": { "CCPU": "V 02.09.30" },
                "expanders": [ { "type": 16, "version": "V 02.03.00" } ], "bootloader": { "nack": "44" } } })",
            0x1800, false, { { 6, "V 02.04.00", 800 } }, {}, UPDATER_STATE_FAILED,
            "\r\n\t- The update of the ECPU could not be started. ECPU Remote Control T001 (type 16): Extended Erase "
            "failed with 0 % written: NACK (0x1F) "
            "to command 0x44.",
            {}, {}, {}, { { "ECPU Remote Control T001", kFailed } } },
        // A file whose image is empty never gets its processor into the bootloader, let alone erased.
        { "empty image",
            R"({ "device": { "hardware": "QTR-1", "versions": { "CCPU": "V 02.09.30", "KCPU": "V 01.04.00" } } })",
            0x1800, false, { { 3, "V 01.05.00", 700 } }, { { Where::NotProcessor, 3, Processor::KCPU } },
            UPDATER_STATE_FAILED,
            "\r\n\t- The update of the KCPU could not be started. The firmware file ./Firmware/t3.tarn holds no image; "
            "the processor was left untouched.",
            {}, {}, {}, { { "KCPU", kFailed } }, -1,
            { [](UpdateRun& run) {
                 run.dialog.GetCatalogue().Slot(CUpdateProcedures::SLOT_KCPU).header.payloadSize = 0;
             },
                {} } },
    });
}

// A processor whose bootloader listens only 1.5 s after the switch, with an image that does not end
// on a whole word (the bootloader refuses such a write): the run flashes it all the same.
TEST(UpdateProcedures, BootloaderReadyLateTakesAnImageOfAnySize)
{
    RunCases({
        { "KCPU ready 1.5 s after the switch, 1501 bytes",
            R"({ "device": { "hardware": "QTR-1", "versions": { "CCPU": "V 02.09.30", "KCPU": "V 01.04.00" },
                "bootloader": { "readyAfterMs": 1500 } } })",
            0x1800, false, { { 3, "V 01.05.00", 1501 } }, { { Where::Processor, 3, Processor::KCPU } },
            UPDATER_STATE_SUCCEEDED, "",
            { GoingToInstall("KCPU V 01.04.00 -> V 01.05.00, file = ./Firmware/t3.tarn"),
                "The chip has been programmed." } },
    });
}

namespace {

// The setting VerifyAfterWrite, turned on before the start.
const RunHooks kVerify { [](UpdateRun& run) {
                            UpdaterSettings settings = run.dialog.GetSettings();
                            settings.verifyAfterWrite = true;
                            run.dialog.SetSettings(settings);
                        },
    {} };

} // namespace

// With VerifyAfterWrite the procedures have each image read back before Go, under a status that
// names the verify; the progress bar runs once for the write and once for the verify.
TEST(UpdateProcedures, VerifyAfterWriteReadsEachImageBackBeforeGo)
{
    const auto kcpu = [](const char* bootLoader) {
        return std::string(R"({ "device": { "hardware": "QTR-1", "versions": { "CCPU": "V 02.09.30", "KCPU": "V 01.04.00" },
            "bootloader": )") + bootLoader + " } }";
    };
    const std::string healthy = kcpu("{}");
    const std::string corrupt = kcpu(R"({ "corruptWriteAt": "0x08000100" })");
    const std::string readProtected = kcpu(R"({ "readProtected": true })");
    const std::vector<int> twice { 0, 17, 34, 51, 68, 85, 100, 0, 17, 34, 51, 68, 85, 100 };
    RunCases({
        { "healthy chip", healthy.c_str(), 0x1800, false, { { 3, "V 01.05.00", 1500 } },
            { { Where::Processor, 3, Processor::KCPU } }, UPDATER_STATE_SUCCEEDED, "",
            { "Verifying the chip ...", "The chip has been verified: 1500 bytes compared.",
                "The Go command has been sent." },
            {}, twice, { { "KCPU", kUpdated } }, -1, kVerify },
        // Image byte 256 of file type 3 is (256 * 31 + 21) mod 256 = 0x15.
        { "one byte stored wrongly", corrupt.c_str(), 0x1800, false, { { 3, "V 01.05.00", 1500 } },
            { { Where::NotStarted, 3, Processor::KCPU } }, UPDATER_STATE_FAILED,
            "\r\n\t- The update of the KCPU could not be started. Verify: the byte at 0x08000100 reads 0xEA, written "
            "0x15.",
            { "Verify: the byte at 0x08000100 reads 0xEA, written 0x15", "The chip could not be verified." },
            { "Sending Go command ..." }, {}, { { "KCPU", kFailed } }, -1, kVerify },
        { "read-out protection", readProtected.c_str(), 0x1800, false, { { 3, "V 01.05.00", 1500 } },
            { { Where::Processor, 3, Processor::KCPU } }, UPDATER_STATE_SUCCEEDED, "",
            { "The chip refuses to be read (read-out protection): the image has not been verified.",
                "The Go command has been sent." },
            { "The chip has been verified" }, {}, { { "KCPU", kUpdated } }, 2, kVerify },
    });
}

TEST(UpdateProcedures, VerifyAfterWriteNamesItsPhaseInTheStatus)
{
    UpdateRun run(R"({ "device": { "hardware": "QTR-1", "versions": { "CCPU": "V 02.09.30", "KCPU": "V 01.04.00" } } })",
        0x1800, false, { { 3, "V 01.05.00", 700 } }, kVerify);
    ASSERT_TRUE(run.finished);
    const auto updating = run.view.When("KCPU Update ...");
    const auto verifying = run.view.When("KCPU Update ... (verify)");
    ASSERT_NE(verifying, std::chrono::steady_clock::time_point {}) << run.log;
    EXPECT_LT(updating, verifying);
}

TEST(UpdateProcedures, AStopLetsTheRunningTargetEndOnItsOwnTerms)
{
    // The operator confirms the stop as soon as the first transfer reports progress.
    const RunHooks stopAtFirstProgress { {}, [](UpdateRun& run, int percent) {
                                            if (percent > 0)
                                                run.dialog.RequestCancel();
                                        } };
    RunCases({
        // Every piece still waits for its confirmation, and the finish for its own.
        { "CAN driver", kCANDriverScenarioClean.c_str(), 0x1800, true, { { 10, "V 02.05.00", 40 * 128 } },
            { { Where::CANDriver, 10 } }, UPDATER_STATE_SUCCEEDED, "", { "The update thread has finished." },
            { "skipping; packet" }, {}, { { "MCPU CAN Driver", kUpdated } }, -1, stopAtFirstProgress },
        { "LCPU, then the KCPU is left out", kVhx360, 0x1800, false,
            { { 4, "V 01.03.00", 3000 }, { 3, "V 01.05.00", 1500 } },
            { { Where::Processor, 4, Processor::LCPU }, { Where::NotProcessor, 3, Processor::KCPU } },
            UPDATER_STATE_FAILED,
            "\r\n\t- The update of the KCPU could not be started. The update was stopped before this processor.", {},
            {}, {}, { { "LCPU", kUpdated }, { "KCPU", kSkipped } }, -1, stopAtFirstProgress },
    });
}

TEST(UpdateProcedures, ADeviceLostDuringATransferFailsItsTargetWithTheStep)
{
    const std::vector<Firmware> files { { 3, "V 01.05.00", 8000 } };
    std::atomic<bool> gone { false };
    const RunHooks unplugHalfway { {}, [&gone](UpdateRun& run, int percent) {
                                      if (percent >= 40 && !gone.exchange(true))
                                          run.server->Disconnect(std::nullopt);
                                  } };
    UpdateRun run(R"({ "device": { "hardware": "QTR-1",
        "versions": { "CCPU": "V 02.09.30", "KCPU": "V 01.04.00" } } })",
        0x1800, false, files, unplugHalfway);
    ASSERT_EQ(run.outcome, StartOutcome::UpdateStarted) << run.log;
    ASSERT_TRUE(run.finished);
    EXPECT_TRUE(gone.load());
    EXPECT_EQ(run.dialog.GetApplicationState(), UPDATER_STATE_FAILED);
    const std::string errors = run.dialog.GetErrorList();
    EXPECT_EQ(errors.rfind("\r\n\t- The update of the KCPU could not be started. Write Memory failed with ", 0), 0u)
        << errors;
    EXPECT_EQ(Results(run), (std::vector<Result> { { "KCPU", kFailed } }));
    EXPECT_NE(run.log.find("The chip could not be programmed."), std::string::npos) << run.log;
    run.server->Inspect([](CSimDevice& device) { EXPECT_FALSE(device.BootLoader(Processor::KCPU).HasStarted()); });
}

namespace {

const std::string kUnknownDevice = "The update could not be started because the current device is unknown.";

// A start whose identification goes wrong after the device's first answer.
struct StartCase
{
    const char* name;
    std::string scenario;
    bool mcpuMode;
    std::vector<Firmware> files;
    StartOutcome outcome;
    std::string box; // the last message box's text
    long state;
};

std::string Qtr1With(const std::string& fault)
{
    return R"({ "device": { "hardware": "QTR-1", "versions": { "CCPU": "V 02.09.30", "KCPU": "V 01.04.00" } },
        "faults": [ )"
        + fault + " ] }";
}

std::string Vhx360ModuleModeWith(const std::string& fault)
{
    return R"({ "device": { "hardware": "VHX-360", "versions": { "CCPU": "V 02.09.30", "MCPU": "V 03.03.04" },
        "canDrivers": [ { "module": 1, "main": 203 } ] }, "faults": [ )"
        + fault + " ] }";
}

std::string NoAnswer(const char* id)
{
    return std::string(R"({ "kind": "noAnswer", "id": ")") + id + R"(" })";
}

} // namespace

TEST(UpdateProcedures, IdentificationFailuresAfterTheFirstAnswer)
{
    const std::vector<Firmware> kcpu { { 3, "V 01.05.00", 700 } };
    const std::vector<Firmware> canDriver { { 10, "V 02.05.00", 300 } };
    const std::string updated = "The update has been completed successfully.";
    const std::vector<StartCase> cases {
        { "radio hardware information", R"({ "device": { "hardware": "EMIP400", "versions": { "RCPU": "V 01.00.00" } },
            "faults": [ { "kind": "noAnswer", "id": "0x0C52" } ] })",
            false, { { 7, "V 01.01.00", 900 } }, StartOutcome::Failed, kUnknownDevice, UPDATER_STATE_FAILED },
        { "radio production information", R"({ "device": { "hardware": "EMIP400",
            "versions": { "RCPU": "V 01.00.00" } }, "faults": [ { "kind": "noAnswer", "id": "0x0C54" } ] })",
            false, { { 7, "V 01.01.00", 900 } }, StartOutcome::Failed, kUnknownDevice, UPDATER_STATE_FAILED },
        // Hardware and production information of a QTR or VHX are only worth a warning.
        { "hardware information", Qtr1With(NoAnswer("0x0052")), false, kcpu, StartOutcome::UpdateStarted, updated,
            UPDATER_STATE_SUCCEEDED },
        { "production information", Qtr1With(NoAnswer("0x0054")), false, kcpu, StartOutcome::UpdateStarted, updated,
            UPDATER_STATE_SUCCEEDED },
        { "prepare firmware update", Qtr1With(NoAnswer("0x0004")), false, kcpu, StartOutcome::Failed, kUnknownDevice,
            UPDATER_STATE_FAILED },
        { "expander list", Qtr1With(NoAnswer("0x0013")), false, kcpu, StartOutcome::Failed, kUnknownDevice,
            UPDATER_STATE_FAILED },
        { "MCPU mode switch", Vhx360ModuleModeWith(NoAnswer("0x001F")), true, canDriver, StartOutcome::Failed,
            kUnknownDevice, UPDATER_STATE_FAILED },
        { "board information", Vhx360ModuleModeWith(NoAnswer("0x56")), true, canDriver, StartOutcome::Failed,
            kUnknownDevice, UPDATER_STATE_FAILED },
        { "module list", Vhx360ModuleModeWith(NoAnswer("0x4C")), true, canDriver, StartOutcome::Failed,
            "The update could not be started because the CAN driver is unknown.", UPDATER_STATE_FAILED },
    };
    for (const StartCase& c : cases) {
        UpdateRun run(c.scenario, 0x1800, c.mcpuMode, c.files);
        EXPECT_EQ(run.outcome, c.outcome) << c.name << "\n" << run.log;
        if (run.outcome == StartOutcome::UpdateStarted) {
            EXPECT_TRUE(run.finished) << c.name;
        }
        const std::vector<UpdaterTest::Box> boxes = run.view.Boxes();
        ASSERT_FALSE(boxes.empty()) << c.name;
        EXPECT_EQ(boxes.back().text, c.box) << c.name;
        EXPECT_EQ(run.dialog.GetApplicationState(), c.state) << c.name;
        if (c.outcome == StartOutcome::UpdateStarted) {
            // The missing answer is named in the log all the same.
            EXPECT_NE(run.log.find(kUnknownDevice), std::string::npos) << c.name;
        }
    }
}
