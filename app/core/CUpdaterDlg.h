#pragma once

#include "app/core/AppLog.h"
#include "app/core/CAppMessageQueue.h"
#include "app/core/CFirmwareCatalogue.h"
#include "app/core/CUpdatePlanner.h"
#include "app/core/DeviceInformation.h"
#include "app/core/IUpdateLink.h"
#include "app/core/IUpdateView.h"
#include "zel/commands/CZELCommandSet.h"
#include "zel/threads/CZELMonitoredThread.h"
#include "zel/platform/ZELProcess.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// The settings of section "TarnUpdate" that the update itself reads.
struct UpdaterSettings
{
    std::uint16_t protocol = 0x1800;
    bool allowDowngrade = false;
    bool allowDowngradeMCPU = false;
    bool oksWorkaround = false;
    bool mcpuMode = false;
    bool verifyAfterWrite = false; // read a directly flashed image back before starting it
};

// Application states shown in the status text.
enum UpdaterState : long
{
    UPDATER_STATE_READY = 0,
    UPDATER_STATE_PREPARING = 1,
    UPDATER_STATE_CCPU = 2,
    UPDATER_STATE_KCPU = 3,
    UPDATER_STATE_LCPU = 4,
    UPDATER_STATE_MCPU = 5,
    UPDATER_STATE_CAN_DRIVER = 6,
    UPDATER_STATE_ECPU = 7,
    UPDATER_STATE_RCPU = 9,
    UPDATER_STATE_VELTRIX = 10,
    UPDATER_STATE_FAILED = 11,
    UPDATER_STATE_SUCCEEDED = 12,
};

// Ready flags, raised by acknowledgements when a target enters its bootloader or accepts its update.
enum ReadyFlag : int
{
    READY_CCPU,
    READY_KCPU,
    READY_LCPU,
    READY_RCPU, // also the Ombra box
    READY_MCPU,
    READY_ECPU,
    READY_VELTRIX,
    READY_FLAG_COUNT
};

// How a start ended, for the front ends.
enum class StartOutcome
{
    AlreadyRunning,   // the receiving thread was running already: nothing done
    PortNotAccessible,
    Failed,           // identification, preconditions or planning failed (state 11)
    NothingToUpdate,  // state 0
    Declined,         // the operator answered No (state 0)
    UpdateStarted,    // the update thread runs
    Cancelled,        // stopped by RequestCancel before the question (state 0)
    NoFirmware,       // the firmware folder is missing, unreadable, empty or has nothing for this device (state 11)
    // A processor waiting in its bootloader is flashed again on the update thread, which then starts
    // anew; GetStartOutcome tells how that start ended once the thread has.
    RecoveryStarted,
};

// What became of one planned target (each expander counts on its own) in the update thread.
enum class TargetOutcome
{
    Updated,    // its transfer ended with the start of the new firmware
    Failed,     // it was asked and answered, but its transfer failed
    NotStarted, // it never answered its update request
    Skipped,    // it was never asked: the update was stopped, or the device lost its expanders
};

// What the look for a processor waiting in its bootloader came to, when the device did not answer.
struct RecoveryResult
{
    enum Kind
    {
        NothingWaiting, // no bootloader answers: the device is unknown, as before
        Recovered,      // the processor was flashed again: the device is identified anew
        NotRecovered,   // a bootloader waits but was not flashed (declined, no journal, failed)
        Accepted,       // the operator agreed to flash it: `flash` does, on the update thread
    };
    Kind kind = NothingWaiting;
    // For NotRecovered: what the operator is told beside "the device is unknown".
    std::string message;
    // For Accepted: the transfer, long and not to be run on the dialog's thread; Recovered or
    // NotRecovered with its message.
    std::function<RecoveryResult()> flash;
};

// Whether the image was read back from the processor after it was written.
enum class Verification
{
    NotAsked,    // no read-back was asked for, or the transfer has none
    Verified,    // read back and equal
    NotVerified, // asked for, but the bootloader could not read it back (the note says why)
};

// What the device reported of an updated target when it was identified again after the update.
enum class Confirmation
{
    NotAsked,     // the target was not updated, or the run ended before the check
    Confirmed,    // the device reports the version of the file
    Unconfirmed,  // the device reports another version: the update failed
    NotConfirmed, // the device cannot report this target's version (the note says why)
};

struct TargetResult
{
    UpdateTarget target = UPDATE_TARGET_COUNT;
    std::string name {};    // "KCPU", "ECPU <expander type>"
    TargetOutcome outcome = TargetOutcome::Updated;
    std::string step {};    // where and why it failed, for the operator; empty when updated
    std::string file {};    // the firmware file it was given
    std::string from {};    // the version the device reported before
    std::string to {};      // the file's version
    std::uint32_t bytes = 0; // bytes the processor took
    double seconds = 0;  // from the request to the end of the transfer
    Verification verification = Verification::NotAsked;
    std::string verificationNote {};
    Confirmation confirmation = Confirmation::NotAsked;
    std::string reportedVersion {}; // what the device reported after the update
    std::string confirmationNote {};
    // Of an expander: its type and its place in the device's expander table.
    std::uint16_t expanderType = 0;
    int expanderIndex = -1;
};

// The update program without its toolkit: the update context, the handlers of the device's answers,
// the waits, the start of an update, the update thread and its report. A front end owns one, gives it
// its view and the link, and calls StartUpdate from its start button.
class CUpdaterDlg
{
public:
    // A target's transfer procedure: 0 when done, else the update of the target failed.
    using TargetProcedure = std::function<long(CUpdaterDlg&, UpdateTarget)>;
    // Returned by a procedure that has reported its results itself (one per expander).
    static constexpr long TARGET_ERRORS_REPORTED = 1;

    CUpdaterDlg(IUpdateView& view, IUpdateLink& link, CZELCommandSet& commands = GetZELCommandSet(),
        std::string firmwareFolder = ZELPlatform::JoinPath(".", "Firmware"),
        AppLogSink log = AppLogToSystemLog);
    CUpdaterDlg(const CUpdaterDlg&) = delete;
    CUpdaterDlg& operator=(const CUpdaterDlg&) = delete;
    // Waits for the update thread and detaches the message queue.
    ~CUpdaterDlg();

    // Program life: CUpdaterApp loads the settings and brings the modules up and down.
    long ScanFirmwareFolder() { return m_catalogue.ScanFirmwareFolder(); }
    // The program's subscriber queue (CUpdaterApp starts and stops it with the modules).
    long StartMessageQueue();
    long StopMessageQueue();

    // The start button.
    StartOutcome StartUpdate();
    // How the last start ended; after RecoveryStarted, the start that followed the recovery (valid
    // once the update thread has ended, or has gone on to the targets).
    StartOutcome GetStartOutcome() const { return m_startOutcome.load(); }
    // ZEL_STATUS_BUSY while the update thread runs.
    long StartUpdateThread();
    bool IsUpdateThreadRunning() const { return m_updateThreadActive.load(); }
    // Waits until the update thread has ended (or the time is up); true when it has.
    bool WaitForUpdateThread(std::chrono::milliseconds timeout);
    // Before the question: ends the current wait and the start (state 0). In the update thread: the
    // running target ends on its own terms, the targets not yet begun are left out and the run ends
    // as failed.
    void RequestCancel();
    bool IsCancelRequested() const { return m_cancelRequested.load(); }
    // The front end's 500 ms timer: start button and port field follow the update thread.
    void OnStatusTimer();

    long SetApplicationState(long state);
    long GetApplicationState() const { return m_state.load(); }
    static unsigned long GetStateTextId(long state);

    // Called on the message queue's thread.
    long ProcessMainProtocolPacket(const std::uint8_t* packet, std::size_t length);
    long ProcessModuleProtocolPacket(const std::uint8_t* packet, std::size_t length);
    void SetProgress(int percent);

    // Sets the step to `first`, then waits until the answer handler has moved it to `target`, resending
    // `packet` on the time table's schedule. 0, or ZEL_STATUS_NO_CONNECTION after the time-out.
    long WaitForRequestStep(long first, long target, std::uint8_t* packet, std::uint32_t length);
    long WaitForFlashStep(long first, long target, std::uint8_t* packet, std::uint32_t length);
    // Sets the request step before its request goes out, so that an answer that comes before the
    // wait begins is not lost: the WaitForRequestStep that follows keeps the armed value.
    void ArmRequestStep(long first);
    void ArmFlashStep(long first);

    // What runs when the main device does not answer its identification, before it is reported
    // unknown (CUpdateProcedures::RecoverWaitingBootloader); none by default.
    using RecoveryProcedure = std::function<RecoveryResult()>;
    void SetRecoveryProcedure(RecoveryProcedure procedure);
    // What the PC must have ready before any processor is switched (the files decrypt, the working
    // folder takes the log, the journal and the image): the problems found, each in words; none by default.
    using PreflightProcedure = std::function<std::vector<std::string>()>;
    void SetPreflightProcedure(PreflightProcedure procedure);
    // Told of the targets once the device has been asked for their versions after the update.
    using ConfirmationListener = std::function<void(const std::vector<TargetResult>&)>;
    void SetConfirmationListener(ConfirmationListener listener);
    // On the update thread: the device can no longer answer (a processor waits in its bootloader
    // on the line, or the port is gone); the targets not yet begun are not started, and the report
    // ends with `nextStep`.
    void SetDeviceUnreachable(const std::string& reason, const std::string& nextStep);
    std::string GetDeviceUnreachable() const;

    // Installs the procedure of one target (the transfers). A selected target without one fails.
    void SetTargetProcedure(UpdateTarget target, TargetProcedure procedure);
    // Notes what became of a target. Any outcome but Updated logs an error line and adds it to the
    // error list: `text` (the target's error text when empty), then the step.
    void ReportTargetResult(const TargetResult& result, const std::string& text = {});
    std::vector<TargetResult> GetTargetResults() const;
    static std::string TargetName(UpdateTarget target);
    // The application state shown while the target is flashed.
    static long StateOfTarget(UpdateTarget target);
    static const char* TargetOutcomeName(TargetOutcome outcome);
    static const char* VerificationName(Verification verification);
    static const char* ConfirmationName(Confirmation confirmation);
    // "ready", "preparing", "kcpu", ..., "failed", "succeeded"; "unknown" for a value without a name.
    static const char* StateName(long state);
    // The last percentage shown on the progress bar.
    int GetProgress() const { return m_progress.load(); }
    // Wait until the answer handler raises the flag or the deadline passes; true when it is set.
    bool WaitForReady(ReadyFlag flag, std::chrono::steady_clock::time_point deadline);
    bool WaitForExpandersFound(std::chrono::steady_clock::time_point deadline);
    // The first CAN driver record of the module list (its module number is flashed).
    _MCPU_CAN_DRIVER GetCANDriver() const;
    CZELCommandSet& GetCommands() { return m_commands; }
    IUpdateView& GetView() { return m_view; }
    // The program's log output (caller "CUpdateDlg").
    void Log(const std::string& message, _ZELSystemLogExEventType type) { AddOutput(message, type); }

    // State read by the front ends and the tests.
    std::uint16_t GetProtocol() const { return m_protocol.load(); }
    void SetProtocol(std::uint16_t protocol);
    UpdaterSettings GetSettings() const;
    void SetSettings(const UpdaterSettings& settings);
    DeviceInformation GetDeviceInformation() const;
    long GetRequestStep() const { return m_requestStep.load(); }
    long GetFlashStep() const { return m_flashStep.load(); }
    bool IsReady(ReadyFlag flag) const { return m_ready[flag].load() != 0; }
    void ClearReady(ReadyFlag flag) { m_ready[flag].store(0); }
    bool GetExpandersFound() const { return m_expandersFound.load() != 0; }
    void SetExpandersFound(bool found) { m_expandersFound.store(found ? 1 : 0); }
    std::uint8_t GetEchoedPacketNumber() const { return m_echoedPacketNumber.load(); }
    const UpdatePlan& GetPlan() const { return m_plan; }
    std::string GetErrorList() const;
    CFirmwareCatalogue& GetCatalogue() { return m_catalogue; }
    // Answers the handlers refused (wrong length, garbage); they change nothing.
    std::uint32_t GetRejectedAnswers() const { return m_rejectedAnswers.load(); }
    IUpdateLink& GetLink() { return m_link; }

private:
    // A stoppable wait ends at once on RequestCancel; the flash of a running target never does.
    long WaitForStep(std::atomic<long>& step, long target, std::uint8_t* packet, std::uint32_t length,
        std::chrono::milliseconds resend, std::chrono::milliseconds timeout, bool stoppable);
    // Tells the thread monitor that the update thread lives, when called on it.
    void StampUpdateThread();
    void AdvanceRequestStep(long from, long to);
    void AdvanceFlashStep(long from, long to);
    void SetReady(ReadyFlag flag);
    void Notify();
    void Reject();

    // Builds a request into a 512-byte buffer and sends it; the buffer keeps it for resends.
    struct Request
    {
        std::uint8_t bytes[512] = {};
        std::uint32_t length = 0;
    };
    Request Send(const std::function<std::uint16_t(CZELCommandSet&, std::uint8_t*)>& build);
    long SendAndWait(long first, long target, const std::function<std::uint16_t(CZELCommandSet&, std::uint8_t*)>& build);

    StartOutcome GatherInformation();
    StartOutcome GatherMainDevice();
    StartOutcome PlanAndAsk();
    bool CheckPreconditions();
    void CollectExpanders();
    bool SwitchToModuleProtocol();
    StartOutcome Fail(unsigned long textId);
    StartOutcome Fail(const std::string& text);
    // `text` in the box and the log; `errors` (each a line of the error list) for the reports.
    StartOutcome Fail(const std::string& text, const std::vector<std::string>& errors, StartOutcome outcome);
    // The expander list, asked once more when fewer expanders reported than the device announced;
    // empty when complete, else why not.
    std::string GatherExpanders();
    // After the last target: the device identified again and each updated target's version compared
    // with its file's.
    void ConfirmUpdatedTargets();
    // The same requests as the start for this hardware; empty when the device answered, else why not.
    std::string IdentifyAgain();
    static std::string ReportedVersion(const TargetResult& result, const DeviceInformation& device);
    std::string FinalReport(bool failed) const;
    StartOutcome Cancel();
    void ClearDeviceInformation();

    static long UpdateThreadProcedure(void* dialog);
    void RunUpdateThread();
    // On the update thread: the accepted recovery, then the start again; true when the operator
    // agreed to the update that follows.
    bool RecoverAndStartAgain();
    void RunTarget(UpdateTarget target);
    static unsigned long ErrorTextOfTarget(UpdateTarget target);

    void LoadTrafficDumpPlugin();
    void EndTrafficDumpPlugin();

    void AddOutput(const std::string& message, _ZELSystemLogExEventType type);

    IUpdateView& m_view;
    IUpdateLink& m_link;
    CZELCommandSet& m_commands;
    AppLogSink m_log;
    CFirmwareCatalogue m_catalogue;

    std::atomic<std::uint16_t> m_protocol{0x1800};
    UpdaterSettings m_settings;
    std::atomic<long> m_state{UPDATER_STATE_READY};

    // Device information and the wait state: written by the answer handlers, read by the waits.
    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    DeviceInformation m_device;
    _MCPU_CAN_DRIVER m_canDrivers[3] = {};
    std::atomic<long> m_requestStep{0};
    std::atomic<long> m_flashStep{0};
    std::atomic<bool> m_requestStepArmed{false};
    std::atomic<bool> m_flashStepArmed{false};
    std::atomic<std::uint8_t> m_echoedPacketNumber{0};
    std::array<std::atomic<std::uint8_t>, READY_FLAG_COUNT> m_ready {};
    std::atomic<std::uint8_t> m_expandersFound{1};
    std::atomic<std::uint32_t> m_rejectedAnswers{0};

    // The plan of the last start, read by the update thread.
    UpdatePlan m_plan;
    std::array<TargetProcedure, UPDATE_TARGET_COUNT> m_procedures {};
    RecoveryProcedure m_recovery; // under m_lock
    PreflightProcedure m_preflight; // under m_lock
    ConfirmationListener m_confirmationListener; // under m_lock
    std::string m_unreachable; // under m_lock
    std::string m_nextStep;    // under m_lock
    // While the device is asked after the update, a stop request does not cut the waits short.
    std::atomic<bool> m_confirming{false};
    // Of the start and, after an accepted recovery, of the update thread that goes on with it.
    bool m_recoveredThisStart = false;
    std::function<RecoveryResult()> m_recoveryFlash;
    std::atomic<StartOutcome> m_startOutcome{StartOutcome::Failed};
    std::string m_errorList; // under m_lock
    std::vector<TargetResult> m_results; // under m_lock
    std::atomic<int> m_progress{0};

    CZELMonitoredThread m_updateThread;
    std::atomic<bool> m_updateThreadActive{false};
    std::atomic<std::thread::id> m_updateThreadId{};
    bool m_progressStamps = false; // under m_lock: progress of a transfer stamps the update thread
    std::atomic<bool> m_cancelRequested{false};
    CAppMessageQueue m_queue;
};
