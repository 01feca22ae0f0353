#pragma once

#include "app/core/CUpdateJournal.h"
#include "app/core/CUpdaterDlg.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// How each target of the update thread is flashed: ask the device to put the processor into its
// bootloader (or to accept the update), wait for the ready flag, hand the image to the STM32
// bootloader client directly or through the device; the MCPU's CAN driver by module flash. A front
// end makes one after its dialog; it installs itself as the dialog's target procedures and must
// live until the update thread has ended (its destructor waits for that).
class CUpdateProcedures
{
public:
    // `journalPath`: where the targets are recorded (in the working folder by default).
    explicit CUpdateProcedures(CUpdaterDlg& dialog, std::string journalPath = CUpdateJournal::kDefaultPath);
    CUpdateProcedures(const CUpdateProcedures&) = delete;
    CUpdateProcedures& operator=(const CUpdateProcedures&) = delete;
    // Waits for the update thread, removes the procedures and releases the CAN driver image.
    ~CUpdateProcedures();

    // The Control request that switches a processor into its bootloader (0x1800 CCPU, 0x2800 KCPU,
    // 0x3800 LCPU, 0x4800 MCPU, 0xF000 the remote control's own ECPU); returns its length, 11.
    static std::uint32_t BuildBootloaderSwitchRequest(std::uint8_t* packet, std::uint16_t target);

    // Stops the receiving thread, flashes over the port of the view's COM port text and restarts the
    // receiving thread whatever happened: the transfer's status when it failed, else the restart's.
    long TransmitThroughBootloader(const std::string& path);
    // Sends the image through the device while the receiving thread keeps running.
    long TransmitExpanderFirmware(const std::string& path);
    // Module flash of the CAN driver in catalogue slot 10: 0, -1 (no answer), ZEL_STATUS_NO_MEMORY or
    // the decryption's status. `started` is called once the MCPU has confirmed the flash start. Two
    // pieces in a row without any confirmation end the transfer: the MCPU is gone.
    long UpdateCANDriver(const std::function<void()>& started = {});

    // When the device does not answer: a processor waiting in its bootloader on the port is looked
    // for, and when the journal says which update left it there, the operator is asked whether
    // to flash that file again; without such an entry the operator may choose one of the
    // catalogue's files (installed as the dialog's recovery procedure). An accepted recovery is
    // left to the update thread (RecoveryResult::flash).
    RecoveryResult RecoverWaitingBootloader();
    // Flashes `path` into a processor waiting in its bootloader on the view's port, recorded in
    // the journal as a recovery; the transfer's status.
    // `origin`: the journal's entry of the update that left it there, if known.
    long FlashWaitingBootloader(const std::string& path, const std::string& target, const JournalEntry* origin = nullptr);
    // Everything the planned transfers need of this PC, checked before any processor is switched:
    // each selected target's file decrypts and holds an image, and the working folder takes the log,
    // the journal and the transfer image. The problems, each naming the file or folder and the cause.
    std::vector<std::string> CheckPCSide();

    // What the last recovery did, for the reports; empty when none ran.
    std::string GetRecoveryReport() const { return m_recoveryReport; }
    CUpdateJournal& Journal() { return m_journal; }

    // The padded image of the last CAN driver update (empty once released).
    std::uint32_t GetCANDriverImageSize() const { return m_canDriverSize; }

    // Catalogue slots by file type.
    static constexpr int SLOT_CCPU_TYPE1 = 1;
    static constexpr int SLOT_CCPU_TYPE2 = 2;
    static constexpr int SLOT_KCPU = 3;
    static constexpr int SLOT_LCPU = 4;
    static constexpr int SLOT_MCPU = 5;
    static constexpr int SLOT_ECPU = 6;
    static constexpr int SLOT_RCPU = 7;
    static constexpr int SLOT_VELTRIX = 8;
    static constexpr int SLOT_CCPU2 = 9;
    static constexpr int SLOT_CAN_DRIVER = 10;

private:
    using Duration = std::chrono::milliseconds;
    using Builder = std::function<std::uint32_t(CZELCommandSet&, std::uint8_t*)>;
    enum class Transfer
    {
        Bootloader,    // TransmitThroughBootloader
        ThroughDevice, // TransmitExpanderFirmware
        Module,        // UpdateCANDriver
    };

    // One row of the target table.
    struct Procedure
    {
        UpdateTarget target;
        std::string name;     // of the result
        std::string planLine; // already filled in
        std::string from;     // the device's version
        Builder request;
        ReadyFlag readyFlag;
        int resendDivisor;
        int roundLimit;
        Duration pauseBefore;
        Transfer transfer;
        int slot;
        std::optional<Duration> pauseAfter;
    };
    // What became of one procedure, and where it failed.
    struct Outcome
    {
        TargetOutcome outcome = TargetOutcome::Updated;
        std::string step {};
        bool transferred = false; // the image went (at least in part) to the processor
        std::uint32_t bytes = 0;
        double seconds = 0;
        Verification verification = Verification::NotAsked;
        std::string verificationNote {};
    };
    // The result the dialog reports for a procedure that ended with `outcome`.
    TargetResult ResultOf(const Procedure& procedure, const Outcome& outcome) const;
    // The targets not begun once the device can no longer answer.
    void ReportUnreachable(UpdateTarget target, const std::string& reason);
    // After a failed transfer: tells the dialog when the device can no longer answer (its processor
    // waits in its bootloader on the line, or the port stays gone).
    void CheckReachable(const Procedure& procedure, const Outcome& outcome);
    // Opens the port again within the time a re-plugged cable takes; false when it stays gone.
    bool PortComesBack();
    // Notes the device's confirmation of each target in the journal.
    void JournalConfirmations(const std::vector<TargetResult>& results);

    long RunTarget(UpdateTarget target);
    long RunExpanders();
    long RunCANDriver(const std::function<void()>& started);
    // The common procedure without the state and progress (set by the dialog) and without the error
    // line (left to the caller).
    Outcome RunProcedure(const Procedure& procedure);
    // Why the last transfer failed: the step and the bootloader's cause, as far as known.
    std::string TransferFailureStep(Transfer transfer, long status) const;
    // The CAN driver's module flash as an outcome.
    Outcome CANDriverOutcome(long status) const;
    bool RequestUntilReady(const Procedure& procedure);
    Procedure Bootloader(UpdateTarget target, const std::string& name, const std::string& deviceVersion,
        Builder request, ReadyFlag flag, int divisor, Duration before, int slot, std::optional<Duration> after) const;
    std::string PlanLine(const std::string& name, const std::string& deviceVersion, int slot) const;
    static Builder SwitchRequest(std::uint16_t target);
    // Every expander report after the first shows its own state line and a fresh progress bar.
    void BeginExpander(bool& first);
    void PublishProgress(std::uint8_t percent);
    void ReleaseCANDriverImage();
    // The transfer of an accepted recovery, for the update thread.
    RecoveryResult AcceptedRecovery(const std::string& path, const std::string& target,
        const std::optional<JournalEntry>& origin);
    // The operator's pick among the catalogue's files that go through the bootloader, under `intro`.
    std::optional<RecoveryResult> ChooseRecoveryFile(const std::string& intro);
    // The port the transfers use: the view's text, else the link's.
    std::string Port() const;
    // A journal entry for a target about to start.
    JournalEntry NewEntry(const std::string& target, const char* transfer, int slot) const;
    std::size_t JournalBegin(const JournalEntry& entry);
    void JournalRecord(std::size_t index, JournalEntry& entry, const Outcome& outcome, Transfer transfer);

    CUpdaterDlg& m_dialog;
    CUpdateJournal m_journal;
    std::string m_recoveryReport;

    // The CAN driver image: open plain file and padded buffer, kept until the next run or the end.
    std::FILE* m_canDriverFile = nullptr;
    std::unique_ptr<std::uint8_t[]> m_canDriverImage;
    std::uint32_t m_canDriverSize = 0;
    std::uint32_t m_canDriverWritten = 0; // bytes of it the MCPU confirmed
    // Of the last transfer: its status and the receiving thread's restart; where the last CAN driver
    // run failed.
    long m_transferStatus = 0;
    long m_restartStatus = 0;
    Outcome m_canDriverFailure;
    // Journal entries of this run, by target name, for the confirmation after the update.
    std::vector<std::pair<std::string, JournalEntry>> m_runEntries;
};
