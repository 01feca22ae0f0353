#include "UpdaterTestSupport.h"

#include "app/core/UpdateTexts.h"
#include "zel/foundation/CZELTimeTable.h"
#include "zel/platform/CZELEvent.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <set>
#include <thread>

using namespace UpdaterTest;
using Processor = CSimDevice::Processor;

namespace {

const std::string kUnknown = "The update could not be started because the current device is unknown.";
const std::string kFsCan = "The update could not be started because there is a FS CAN device attached at the moment. "
                           "Detach all FS CAN devices and restart the update.";
const std::string kLbus = "The update could not be started because there is a LBUS device attached at the moment. "
                          "Detach all LBUS devices and restart the update.";
const std::string kEmergencyPressed = "The update could not be started because the emergency stop is pressed. Release "
                                      "the emergency stop and restart the update.";
const std::string kEmergencyUnknown = "The update could not be started because the emergency stop is unknown. Release "
                                      "the emergency stop and restart the update.";
const char* const kOld = "V 01.00.00";
const char* const kNew = "V 09.00.00";

CSimDevice::Settings Device(const char* hardware)
{
    CSimDevice::Settings settings;
    EXPECT_TRUE(CSimDevice::ApplyHardwareName(hardware, settings)) << hardware;
    for (Processor p : { Processor::KCPU, Processor::LCPU, Processor::MCPU, Processor::RCPU, Processor::Veltrix,
             Processor::Ombra })
        settings.versions[p] = kOld;
    settings.versions[Processor::CCPU] = "V 02.09.30";
    return settings;
}

// One start of an update against a simulated device.
class Start
{
public:
    explicit Start(CSimDevice::Settings device, UpdaterSettings settings = {}, bool firmware = true)
        : link(std::move(device))
    {
        dialog.SetSettings(settings);
        if (firmware)
            for (int slot = 1; slot <= CFirmwareCatalogue::SLOT_COUNT; ++slot)
                AddFirmware(dialog.GetCatalogue(), slot, kNew);
        EXPECT_EQ(dialog.StartMessageQueue(), ZEL_STATUS_SUCCESS);
    }
    ~Start()
    {
        dialog.WaitForUpdateThread(kWait);
        dialog.StopMessageQueue();
    }

    std::set<UpdateTarget> Selected() const
    {
        std::set<UpdateTarget> selected;
        for (int t = 0; t < UPDATE_TARGET_COUNT; ++t)
            if (dialog.GetPlan().selection[static_cast<std::size_t>(t)] != 0)
                selected.insert(static_cast<UpdateTarget>(t));
        return selected;
    }
    std::string LastBoxText() const
    {
        const std::vector<Box> boxes = view.Boxes();
        return boxes.empty() ? std::string() : boxes.back().text;
    }

    RecordingView view;
    SimLink link;
    CZELCommandSet commands;
    LogRecorder log;
    CUpdaterDlg dialog{view, link, commands, "./NoFirmware", log.Sink()};
};

} // namespace

TEST(StartUpdate, APortThatCannotBeOpenedShowsItsMessageOnly)
{
    Start start(Device("QTR-1"));
    start.link.failOpen = true;
    EXPECT_EQ(start.dialog.StartUpdate(), StartOutcome::PortNotAccessible);
    const std::vector<Box> boxes = start.view.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "The update could not be started because the COM port could not be accessed.");
    EXPECT_EQ(boxes[0].caption, "Update aborted");
    EXPECT_EQ(boxes[0].style, ZEL_MB_OK | ZEL_MB_ICONERROR);
    EXPECT_EQ(start.dialog.GetApplicationState(), UPDATER_STATE_READY);
    EXPECT_TRUE(start.log.Lines().empty());
}

TEST(StartUpdate, ASilentDeviceIsUnknown)
{
    Start start(Device("QTR-1"));
    start.link.silent = true;
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(start.dialog.StartUpdate(), StartOutcome::Failed);
    const auto elapsed = std::chrono::steady_clock::now() - begin;
    EXPECT_EQ(start.dialog.GetApplicationState(), UPDATER_STATE_FAILED);
    EXPECT_EQ(start.dialog.GetDeviceInformation().hardwareType, 0);
    EXPECT_TRUE(start.Selected().empty());
    const std::vector<Box> boxes = start.view.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, kUnknown);
    EXPECT_EQ(boxes[0].caption, "Update aborted");
    EXPECT_EQ(boxes[0].style, ZEL_MB_OK | ZEL_MB_ICONERROR);
    EXPECT_TRUE(start.log.Contains(kUnknown, ZEL_SYSTEM_LOG_EX_EVENT_ERROR));
    EXPECT_TRUE(start.log.Contains("SetApplicationState(); 1 -> 11", ZEL_SYSTEM_LOG_EX_EVENT_DEBUG));
    EXPECT_FALSE(start.link.IsReceivingThreadRunning());
    // Both identification requests went out, the RCPU one resent.
    EXPECT_EQ(start.link.CountSent(0x0001), 1u);
    ASSERT_GE(start.link.CountSent(0x0C01), 1u);
    ExpectResends(start.link.CountSent(0x0C01) - 1, ZELTimes().requestResend, ZELTimes().requestTimeout, elapsed);
}

TEST(StartUpdate, ThePrepareRequestFollowsTheCCPUVersion)
{
    struct Case
    {
        const char* ccpu;
        bool prepared;
    };
    for (const Case& c : { Case { "V 02.09.28", false }, Case { "V 02.09.29", true }, Case { "", false } }) {
        CSimDevice::Settings device = Device("QTR-1");
        device.versions[Processor::CCPU] = c.ccpu;
        device.emergencyButton = 1; // the preconditions would stop it if they were checked
        Start start(device);
        start.dialog.StartUpdate();
        EXPECT_EQ(start.link.CountSent(0x0004) != 0, c.prepared) << c.ccpu;
        EXPECT_EQ(start.LastBoxText() == kEmergencyPressed, c.prepared) << c.ccpu;
    }
}

TEST(StartUpdate, PreconditionsInTheirOrder)
{
    struct Case
    {
        const char* name;
        std::uint8_t fsCan, lbus, emergency;
        std::vector<std::string> blockers; // none: the question is asked
    };
    const Case cases[] = {
        { "emergency stop unknown", 0, 0, 0, { kEmergencyUnknown } },
        { "emergency stop pressed", 0, 0, 1, { kEmergencyPressed } },
        { "emergency stop released", 0, 0, 2, {} },
        { "emergency stop 3", 0, 0, 3, { kEmergencyUnknown } },
        { "every blocker at once", 1, 1, 1, { kFsCan, kLbus, kEmergencyPressed } },
        { "LBUS", 0, 2, 2, { kLbus } },
    };
    for (const Case& c : cases) {
        CSimDevice::Settings device = Device("QTR-1");
        device.fsCanConnections = c.fsCan;
        device.lbusConnections = c.lbus;
        device.emergencyButton = c.emergency;
        Start start(device);
        const StartOutcome outcome = start.dialog.StartUpdate();
        const std::vector<Box> boxes = start.view.Boxes();
        ASSERT_EQ(boxes.size(), 1u) << c.name;
        if (!c.blockers.empty()) {
            // One box names them all; the error list keeps one line each.
            std::string text;
            std::string errors;
            for (const std::string& blocker : c.blockers) {
                text += (text.empty() ? "" : "\r\n\r\n") + blocker;
                errors += "\r\n\t- " + blocker;
            }
            EXPECT_EQ(outcome, StartOutcome::Failed) << c.name;
            EXPECT_EQ(boxes[0].text, text) << c.name;
            EXPECT_EQ(start.dialog.GetErrorList(), errors) << c.name;
            EXPECT_EQ(boxes[0].caption, "Update aborted") << c.name;
            EXPECT_EQ(start.dialog.GetApplicationState(), UPDATER_STATE_FAILED) << c.name;
            EXPECT_TRUE(start.log.Contains(text, ZEL_SYSTEM_LOG_EX_EVENT_ERROR)) << c.name;
            EXPECT_EQ(start.link.CountSent(0x0013), 0u) << c.name; // no expander request after a failure
        } else {
            EXPECT_EQ(outcome, StartOutcome::Declined) << c.name;
            EXPECT_EQ(boxes[0].caption, "Start Update") << c.name;
        }
    }
}

// Every hardware type reaches its plan with the information its protocol gives.
TEST(StartUpdate, EachHardwareTypeReachesItsPlan)
{
    struct Case
    {
        const char* name;
        const char* hardware;
        std::uint16_t protocol;
        bool mcpuMode;
        std::set<UpdateTarget> targets;
        std::vector<std::string> lines;
    };
    const std::string arrow = std::string(kOld) + " -> " + kNew + ")";
    const Case cases[] = {
        { "QTR-1 with three expanders", "QTR-1", 0x1800, false,
            { UPDATE_TARGET_CCPU_TYPE1, UPDATE_TARGET_KCPU, UPDATE_TARGET_LCPU, UPDATE_TARGET_ECPU },
            { "\r\n  - CCPU (V 02.09.30 -> V 09.00.00)", "\r\n  - KCPU (" + arrow, "\r\n  - LCPU (" + arrow,
                "\r\n  - ECPU (Remote Control T001, V 02.03.00 -> V 09.00.00)" } },
        { "VHX-360", "VHX-360", 0x1800, false,
            { UPDATE_TARGET_CCPU_TYPE2, UPDATE_TARGET_KCPU, UPDATE_TARGET_LCPU, UPDATE_TARGET_MCPU,
                UPDATE_TARGET_ECPU },
            { "\r\n  - MCPU (" + arrow } },
        { "radio modem", "EMIP400", 0x1800, false, { UPDATE_TARGET_RCPU }, { "\r\n  - RCPU (V 01.00.00 -> V 09.00.00)" } },
        { "VHX-360 in MCPU mode", "VHX-360", 0x1800, true, { UPDATE_TARGET_MCPU_CAN_DRIVER },
            { "\r\n  - MCPU CAN Driver (V 02.03.00 -> V 09.00.00)" } },
        { "MCPU module protocol", "MCPU", 0x4801, true, { UPDATE_TARGET_MCPU_CAN_DRIVER },
            { "\r\n  - MCPU CAN Driver (V 02.03.00 -> V 09.00.00)" } },
        { "Veltrix box", "Veltrix", 4, false, { UPDATE_TARGET_VELTRIX }, { "\r\n  - Veltrix (" + arrow } },
        { "Ombra box", "Ombra", 5, false, { UPDATE_TARGET_RCPU }, { "\r\n  - Ombra Box (" + arrow } },
        { "CCPU2", "ZT Remote V2", 0x1880, false, { UPDATE_TARGET_CCPU_TYPE9 },
            { "\r\n  - CCPU (V 02.09.30 -> V 09.00.00)" } },
    };
    for (const Case& c : cases) {
        CSimDevice::Settings device = Device(c.hardware);
        device.expanders = { { 16, "V 02.03.00", "" }, { 0x21, "V 02.03.00", "" }, { 0x22, "V 02.04.00", "" } };
        device.canDrivers = { CSimDevice::CanDriver { 1, 100, 100, 203, 0 } };
        UpdaterSettings settings;
        settings.protocol = c.protocol;
        settings.mcpuMode = c.mcpuMode;
        Start start(device, settings);
        EXPECT_EQ(start.dialog.StartUpdate(), StartOutcome::Declined) << c.name << ": " << start.LastBoxText();
        EXPECT_EQ(start.Selected(), c.targets) << c.name;
        const std::string question = start.LastBoxText();
        for (const std::string& line : c.lines)
            EXPECT_NE(question.find(line), std::string::npos) << c.name << ": " << line << " in " << question;
        EXPECT_NE(question.find("\r\n\r\nDo you want to install these updates now?"), std::string::npos) << c.name;
    }
}

TEST(StartUpdate, TheExpanderTableHoldsWhatTheDeviceReported)
{
    CSimDevice::Settings device = Device("QTR-1");
    device.expanders = { { 16, "V 02.03.00", "" }, { 0x21, "V 02.01.00", "" }, { 0x22, "V 02.05.00", "" } };
    Start start(device);
    start.view.answer = ZEL_IDYES;
    EXPECT_EQ(start.dialog.StartUpdate(), StartOutcome::UpdateStarted);
    ASSERT_TRUE(start.dialog.WaitForUpdateThread(kWait));
    // Expanders keep their table until the next start; a V 02.01.00 one keeps every ordinary one out.
    EXPECT_EQ(start.dialog.GetDeviceInformation().receivedExpanderCount, 3);
    EXPECT_EQ(start.dialog.GetDeviceInformation().expanders[0].selected, 1);
    EXPECT_EQ(start.dialog.GetDeviceInformation().expanders[1].selected, 0);
    EXPECT_EQ(start.dialog.GetDeviceInformation().expanders[2].selected, 0);
}

TEST(StartUpdate, TheOperatorsNoReturnsToReady)
{
    Start start(Device("QTR-1"));
    EXPECT_EQ(start.dialog.StartUpdate(), StartOutcome::Declined);
    EXPECT_EQ(start.dialog.GetApplicationState(), UPDATER_STATE_READY);
    const DeviceInformation device = start.dialog.GetDeviceInformation();
    EXPECT_EQ(device.hardwareType, 0);
    EXPECT_STREQ(device.ccpuVersion, "");
    EXPECT_STREQ(device.kcpuVersion, "");
    EXPECT_FALSE(start.link.IsReceivingThreadRunning());
    const std::vector<Box> boxes = start.view.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Start Update");
    EXPECT_EQ(boxes[0].style, ZEL_MB_YESNO | ZEL_MB_ICONQUESTION);
    EXPECT_FALSE(start.dialog.IsUpdateThreadRunning());
    // A second start begins afresh.
    EXPECT_EQ(start.dialog.StartUpdate(), StartOutcome::Declined);
    EXPECT_EQ(start.link.starts, 2);
}

TEST(StartUpdate, NothingToUpdateShowsTheInstalledVersions)
{
    Start start(Device("QTR-1"), {}, false);
    AddFirmware(start.dialog.GetCatalogue(), 3, kOld);
    EXPECT_EQ(start.dialog.StartUpdate(), StartOutcome::NothingToUpdate);
    const std::string text = "The newest firmware for the current device is installed already:\r\n\r\n\t- CCPU V 02.09.30"
                             "\r\n\t- KCPU V 01.00.00\r\n\t- LCPU V 01.00.00";
    const std::vector<Box> boxes = start.view.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, text);
    EXPECT_EQ(boxes[0].caption, "Update aborted");
    EXPECT_EQ(boxes[0].style, ZEL_MB_OK | ZEL_MB_ICONINFORMATION);
    EXPECT_TRUE(start.log.Contains(text, ZEL_SYSTEM_LOG_EX_EVENT_INFORMATION));
    EXPECT_EQ(start.dialog.GetApplicationState(), UPDATER_STATE_READY);
    EXPECT_FALSE(start.link.IsReceivingThreadRunning());
    // Not cleared after nothing to update.
    EXPECT_EQ(start.dialog.GetDeviceInformation().hardwareType, 0x1000);
}

TEST(StartUpdate, MCPUModeWithoutCANDriver)
{
    struct Case
    {
        const char* name;
        std::vector<CSimDevice::CanDriver> drivers;
        bool silentModule;
        std::string text;
    };
    const Case cases[] = {
        { "no driver", {}, false, "The update could not be started because there is no CAN driver present." },
    };
    for (const Case& c : cases) {
        CSimDevice::Settings device = Device("VHX-360");
        device.canDrivers = c.drivers;
        UpdaterSettings settings;
        settings.mcpuMode = true;
        Start start(device, settings);
        EXPECT_EQ(start.dialog.StartUpdate(), StartOutcome::Failed) << c.name;
        EXPECT_EQ(start.LastBoxText(), c.text) << c.name;
        EXPECT_EQ(start.dialog.GetProtocol(), 0x4801) << c.name;
    }
}

TEST(StartUpdate, HardwareTypeZeroWithMCPUModeAsksTheBoard)
{
    // The silent main device leaves the type 0; the MCPU answers in its module protocol.
    CSimDevice::Settings device = Device("MCPU");
    device.canDrivers = { CSimDevice::CanDriver { 1, 100, 100, 203, 0 } };
    UpdaterSettings settings;
    settings.mcpuMode = true;
    Start start(device, settings);
    EXPECT_EQ(start.dialog.StartUpdate(), StartOutcome::Declined) << start.LastBoxText();
    EXPECT_EQ(start.Selected(), std::set<UpdateTarget> { UPDATE_TARGET_MCPU_CAN_DRIVER });
}

// The update thread runs the selected targets in the fixed order and reports.
TEST(UpdateThread, RunsTheTargetsInOrderAndReports)
{
    struct Case
    {
        const char* name;
        bool procedures;
        long finalState;
        std::string text;
        std::string caption;
    };
    const Case cases[] = {
        { "without procedures", false, UPDATER_STATE_FAILED,
            "The update has failed because of the following errors:\r\n"
            "\r\n- The update of the LCPU could not be started."
            "\r\n- The update of the MCPU could not be started."
            "\r\n- The update of the KCPU could not be started."
            "\r\n- The update of the ECPU could not be started."
            "\r\n- The update of the CCPU could not be started."
            "\r\n\r\nStart the update again: what failed is updated again.",
            "Update failed" },
        { "with procedures", true, UPDATER_STATE_SUCCEEDED, "The update has been completed successfully.",
            "Update succeeded" },
    };
    for (const Case& c : cases) {
        CSimDevice::Settings device = Device("VHX-360");
        device.expanders = { { 16, "V 02.03.00", "" } };
        Start start(device);
        std::vector<long> states;
        std::mutex statesLock;
        if (c.procedures)
            for (int t = 0; t < UPDATE_TARGET_COUNT; ++t)
                start.dialog.SetTargetProcedure(static_cast<UpdateTarget>(t), [&](CUpdaterDlg& dialog, UpdateTarget) {
                    std::lock_guard lock(statesLock);
                    states.push_back(dialog.GetApplicationState());
                    return ZEL_STATUS_SUCCESS;
                });
        start.view.answer = ZEL_IDYES;
        EXPECT_EQ(start.dialog.StartUpdate(), StartOutcome::UpdateStarted) << c.name;
        ASSERT_TRUE(start.dialog.WaitForUpdateThread(kWait)) << c.name;
        EXPECT_EQ(start.dialog.GetApplicationState(), c.finalState) << c.name;
        const std::vector<Box> boxes = start.view.Boxes();
        ASSERT_EQ(boxes.size(), 2u) << c.name;
        EXPECT_EQ(boxes[1].text, c.text) << c.name;
        EXPECT_EQ(boxes[1].caption, c.caption) << c.name;
        EXPECT_EQ(start.view.CloseRequests(), 1) << c.name;
        EXPECT_FALSE(start.link.IsReceivingThreadRunning()) << c.name;
        EXPECT_EQ(start.dialog.GetDeviceInformation().hardwareType, 0) << c.name;
        EXPECT_TRUE(start.log.Contains("The update thread has been started.", ZEL_SYSTEM_LOG_EX_EVENT_INFORMATION));
        EXPECT_TRUE(start.log.Contains("The update thread has finished.", ZEL_SYSTEM_LOG_EX_EVENT_INFORMATION));
        if (c.procedures) {
            const std::vector<long> order { UPDATER_STATE_LCPU, UPDATER_STATE_MCPU, UPDATER_STATE_KCPU,
                UPDATER_STATE_ECPU, UPDATER_STATE_CCPU };
            EXPECT_EQ(states, order);
        }
        // Every target starts its bar at 0.
        const std::vector<int> progress = start.view.Progress();
        EXPECT_EQ(std::count(progress.begin(), progress.end(), 0), 5) << c.name;
    }
}

TEST(UpdateThread, ACancelLeavesTheRemainingTargetsOut)
{
    Start start(Device("QTR-1"));
    std::vector<UpdateTarget> ran;
    for (int t = 0; t < UPDATE_TARGET_COUNT; ++t)
        start.dialog.SetTargetProcedure(static_cast<UpdateTarget>(t), [&](CUpdaterDlg& dialog, UpdateTarget target) {
            ran.push_back(target);
            dialog.RequestCancel();
            return ZEL_STATUS_SUCCESS;
        });
    start.view.answer = ZEL_IDYES;
    EXPECT_EQ(start.dialog.StartUpdate(), StartOutcome::UpdateStarted);
    ASSERT_TRUE(start.dialog.WaitForUpdateThread(kWait));
    EXPECT_EQ(ran, std::vector<UpdateTarget> { UPDATE_TARGET_LCPU });
    EXPECT_EQ(start.dialog.GetApplicationState(), UPDATER_STATE_FAILED);
    EXPECT_EQ(start.dialog.GetErrorList(),
        "\r\n\t- The update of the KCPU could not be started. The update was stopped before this processor."
        "\r\n\t- The update of the CCPU could not be started. The update was stopped before this processor.");
}

TEST(UpdateThread, ASecondThreadIsRefused)
{
    Start start(Device("QTR-1"));
    CZELEvent release;
    start.dialog.SetTargetProcedure(UPDATE_TARGET_LCPU, [&](CUpdaterDlg&, UpdateTarget) {
        release.Wait(kWait);
        return ZEL_STATUS_SUCCESS;
    });
    start.view.answer = ZEL_IDYES;
    EXPECT_EQ(start.dialog.StartUpdate(), StartOutcome::UpdateStarted);
    EXPECT_EQ(start.dialog.StartUpdateThread(), ZEL_STATUS_BUSY);
    EXPECT_EQ(start.dialog.StartUpdate(), StartOutcome::AlreadyRunning);
    release.Set();
    ASSERT_TRUE(start.dialog.WaitForUpdateThread(kWait));
}

TEST(StartUpdate, ACancelDuringIdentificationEndsTheStartCleanly)
{
    Start start(Device("QTR-1"));
    start.link.silent = true;
    // The first resend of the RCPU request comes from inside the wait; a cancel asked for there
    // must end the wait before its time-out, however slowly the machine runs.
    std::size_t rcpuRequests = 0;
    start.link.onSent = [&](std::uint16_t id) {
        if (id == 0x0C01 && ++rcpuRequests == 2)
            start.dialog.RequestCancel();
    };
    EXPECT_EQ(start.dialog.StartUpdate(), StartOutcome::Cancelled);
    EXPECT_EQ(start.dialog.GetApplicationState(), UPDATER_STATE_READY);
    EXPECT_TRUE(start.view.Boxes().empty());
    EXPECT_FALSE(start.link.IsReceivingThreadRunning());
    // Nothing more is asked after the cancel.
    const std::vector<std::uint16_t> sent = start.link.SentIds();
    EXPECT_EQ(sent, (std::vector<std::uint16_t> { 0x0001, 0x0C01, 0x0C01 }));
}

// A processor found waiting in its bootloader is flashed again on the update thread: the start
// returns at once, and the start that follows the flash ends as the device and the operator decide.
TEST(StartUpdate, AnAcceptedRecoveryIsFlashedOnTheUpdateThreadAndTheStartRunsAgain)
{
    struct Case
    {
        const char* name;
        bool flashed;       // the transfer succeeds
        bool answersAfter;  // the device answers once it has
        int answer;         // to the question of the update that follows
        StartOutcome outcome;
        long state;
        std::string caption; // of the last box
        std::string text;    // the last box's text begins so
        int closeRequests;
    };
    const Case cases[] = {
        { "recovered, then the update is declined", true, true, ZEL_IDNO, StartOutcome::Declined, UPDATER_STATE_READY,
            "Start Update", "", 0 },
        { "recovered, then the update runs", true, true, ZEL_IDYES, StartOutcome::UpdateStarted,
            UPDATER_STATE_FAILED, "Update failed", "", 1 },
        { "the flash fails", false, false, ZEL_IDYES, StartOutcome::Failed, UPDATER_STATE_FAILED, "Update aborted",
            kUnknown + "\r\n\r\nthe cause", 0 },
        { "flashed, and still no answer", true, false, ZEL_IDYES, StartOutcome::Failed, UPDATER_STATE_FAILED,
            "Update aborted", kUnknown, 0 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Start start(Device("QTR-1"));
        start.link.silent = true;
        start.view.answer = c.answer;
        std::atomic<int> recoveries { 0 };
        std::thread::id flashedOn;
        start.dialog.SetRecoveryProcedure([&] {
            ++recoveries;
            RecoveryResult accepted { RecoveryResult::Accepted, {}, {} };
            accepted.flash = [&]() -> RecoveryResult {
                flashedOn = std::this_thread::get_id();
                start.link.silent = !c.answersAfter;
                if (!c.flashed)
                    return { RecoveryResult::NotRecovered, "the cause", {} };
                return { RecoveryResult::Recovered, {}, {} };
            };
            return accepted;
        });

        ASSERT_EQ(start.dialog.StartUpdate(), StartOutcome::RecoveryStarted);
        ASSERT_TRUE(start.dialog.WaitForUpdateThread(kWait));
        EXPECT_NE(flashedOn, std::thread::id());
        EXPECT_NE(flashedOn, std::this_thread::get_id());
        EXPECT_EQ(recoveries.load(), 1);
        EXPECT_EQ(start.dialog.GetStartOutcome(), c.outcome);
        EXPECT_EQ(start.dialog.GetApplicationState(), c.state);
        const std::vector<Box> boxes = start.view.Boxes();
        ASSERT_FALSE(boxes.empty());
        EXPECT_EQ(boxes.back().caption, c.caption);
        EXPECT_EQ(boxes.back().text.substr(0, c.text.size()), c.text);
        if (c.outcome == StartOutcome::Failed) {
            EXPECT_EQ(boxes.back().text, c.text);
        }
        EXPECT_EQ(start.view.CloseRequests(), c.closeRequests);
        EXPECT_FALSE(start.link.IsReceivingThreadRunning());
    }
}
