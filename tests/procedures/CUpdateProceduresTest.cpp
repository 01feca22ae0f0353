// The whole update run against the simulated device over a pseudo-terminal: the library's serial
// port, the STM32 bootloader client on the same port, the system log writing its CSV file. Each case
// checks the simulated processors' flash against the images packed into the firmware files and the
// lines of the log file.
#include "procedures/ProceduresTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using namespace ProceduresTest;
using Processor = CSimDevice::Processor;

enum class Where
{
    Processor,   // through its STM32 bootloader on the port
    Expander,    // through the device
    NotExpander, // an expander that must stay untouched
    CANDriver,   // module flash, padded to a multiple of 4
};

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

void RunCases(const std::vector<Case>& cases)
{
    for (const Case& c : cases) {
        UpdateRun run(c.scenario, c.protocol, c.mcpuMode, c.files);
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
    }
}

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
const std::string kCANDriverScenarioLostPiece
    = kCANDriverScenario + R"({ "kind": "noAnswer", "id": "0x51", "skip": 1, "times": 3 } ] })";

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
                "The update thread has finished." } },
        { "VHX-360: MCPU", kVhx360, 0x1800, false, { { 5, "V 03.04.00", 2000 } },
            { { Where::Processor, 5, Processor::MCPU } }, UPDATER_STATE_SUCCEEDED, "",
            { GoingToInstall("MCPU V 03.03.04 -> V 03.04.00, file = ./Firmware/t5.tarn") } },
        { "radio modem: RCPU",
            R"({ "device": { "hardware": "EMIP400", "versions": { "RCPU": "V 01.00.00" } } })", 0x1800, false,
            { { 7, "V 01.01.00", 900 } }, { { Where::Processor, 7, Processor::RCPU } }, UPDATER_STATE_SUCCEEDED, "",
            { GoingToInstall("RCPU V 01.00.00 -> V 01.01.00, file = ./Firmware/t7.tarn") } },
        { "Ombra box", R"({ "device": { "hardware": "Ombra", "versions": { "Ombra": "V 01.00.00" } } })", 5, false,
            { { 7, "V 01.01.00", 900 } }, { { Where::Processor, 7, Processor::Ombra } }, UPDATER_STATE_SUCCEEDED, "",
            { GoingToInstall("Ombra Box V 01.00.00 -> V 01.01.00, file = ./Firmware/t7.tarn") } },
        { "Veltrix box", R"({ "device": { "hardware": "Veltrix", "versions": { "Veltrix": "V 01.00.00" } } })", 4,
            false, { { 8, "V 01.02.00", 900 } }, { { Where::Processor, 8, Processor::Veltrix } },
            UPDATER_STATE_SUCCEEDED, "",
            { GoingToInstall("Veltrix V 01.00.00 -> V 01.02.00, file = ./Firmware/t8.tarn") } },
        { "CCPU2, file type 9",
            R"({ "device": { "hardware": "ZT Remote V2", "versions": { "CCPU": "V 01.00.00" } } })", 0x1880, false,
            { { 9, "V 01.00.01", 1200 } }, { { Where::Processor, 9, Processor::CCPU } }, UPDATER_STATE_SUCCEEDED, "",
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
            UPDATER_STATE_FAILED, "\r\n\t- The update of the MCPU CAN driver could not be started.",
            { "skipping; packet; 0; 1; state; 4" } },
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
            "\r\n\t- The update of the LCPU could not be started.",
            { "The update of the LCPU could not be started.", GoingToInstall("MCPU V 03.03.04 -> V 03.04.00") } },
        { "RCPU transfer fails",
            R"({ "device": { "hardware": "EMIP400", "versions": { "RCPU": "V 01.00.00" },
                "bootloader": { "nack": "44" } } })",
            0x1800, false, { { 7, "V 01.01.00", 900 } }, {}, UPDATER_STATE_FAILED,
            "\r\n\t- The update of the RCPU could not be started.", { "The chip could not be erased." } },
        // After expander 33 the device never reports its expanders again: 34 is left, without an error.
        { "expanders not found again",
            R"({ "device": { "hardware": "QTR-1", "versions": { "CCPU": "V 02.09.30" },
                "expanders": [ { "type": 33, "version": "V 02.03.00" }, { "type": 34, "version": "V 02.03.00" } ] },
                "faults": [ { "kind": "drop", "id": "0x8016" } ] })",
            0x1800, false, { { 6, "V 02.04.00", 800 } },
            { { Where::Expander, 6, Processor::CCPU, 33 }, { Where::NotExpander, 6, Processor::CCPU, 34 } },
            UPDATER_STATE_SUCCEEDED, "", { "Main Software; CCPU did not manage to find the expanders again!" } },
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
