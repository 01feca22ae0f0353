#include "app/core/CUpdateProcedures.h"

#include "app/core/UpdateTexts.h"
#include "zel/firmware/CZELCRC32.h"
#include "zel/firmware/CZELFileHeader.h"
#include "zel/foundation/CZELLanguage.h"
#include "zel/foundation/CZELTimeTable.h"
#include "zel/foundation/ZELConversions.h"
#include "zel/foundation/ZELMessageBox.h"
#include "zel/foundation/ZELStatus.h"
#include "zel/queue/CZELMessage.h"
#include "zel/queue/CZELMessageQueue.h"
#include "zel/serial/ZELProtocol.h"
#include "zel/stm32/CZELSTM32BootLoader.h"
#include "zel/platform/ZELFile.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <thread>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint16_t kSwitchCCPU = 0x1800;
constexpr std::uint16_t kSwitchKCPU = 0x2800;
constexpr std::uint16_t kSwitchLCPU = 0x3800;
constexpr std::uint16_t kSwitchMCPU = 0x4800;
constexpr std::uint16_t kSwitchECPU = 0xF000;
constexpr std::uint16_t kRemoteControlECPU = 16;
constexpr std::uint8_t kItemBootloaderSwitch = 0x80;

constexpr std::uint32_t kCANDriverPiece = 128;
// Pieces in a row without a confirmation after which the MCPU is taken to be gone: each has waited
// out its resends, so that is some 22 s of silence, and every further piece would cost as much.
constexpr std::uint32_t kCANDriverSilentPieces = 2;
// Texts of the bootloader client, shared with the module flash.
constexpr long kTextFileNotOpened = 1;
constexpr long kTextPreparing = 2;
constexpr long kTextPrepared = 3;

const char* const kTemporaryImage = CZELSTM32BootLoader::kTransferFileName;

std::string Format(const char* format, auto... arguments)
{
    char line[1024];
    std::snprintf(line, sizeof line, format, arguments...);
    return line;
}

std::string BootLoaderText(long text)
{
    return GetZELLanguage().GetString(ZEL_MODULE_STM32_BOOTLOADER, text);
}

void Pause(std::chrono::milliseconds duration)
{
    std::this_thread::sleep_for(duration);
}

// The step of a direct transfer that the bootloader command belongs to.
std::string BootLoaderStep(unsigned char command)
{
    switch (command) {
    case CZELSTM32BootLoader::kSync: return "Synchronisation with the bootloader";
    case 0x00: return "Get";
    case 0x01: return "Get Version";
    case 0x02: return "Get ID";
    case 0x11: return "Read Memory";
    case 0x21: return "Go";
    case 0x31: return "Write Memory";
    case 0x43: return "Erase";
    case 0x44: return "Extended Erase";
    case 0x73: return "Write Unprotect";
    default: return Format("Bootloader command 0x%02X", command);
    }
}

std::string DecryptionFailed(long status)
{
    return Format("The firmware file could not be decrypted: %s.", StatusInWords(status).c_str());
}

double SecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

} // namespace

CUpdateProcedures::CUpdateProcedures(CUpdaterDlg& dialog, std::string journalPath)
    : m_dialog(dialog)
    , m_journal(std::move(journalPath))
{
    for (int t = 0; t < UPDATE_TARGET_COUNT; ++t)
        m_dialog.SetTargetProcedure(static_cast<UpdateTarget>(t),
            [this](CUpdaterDlg&, UpdateTarget target) { return RunTarget(target); });
    m_dialog.SetRecoveryProcedure([this] { return RecoverWaitingBootloader(); });
    m_dialog.SetPreflightProcedure([this] { return CheckPCSide(); });
    m_dialog.SetConfirmationListener([this](const std::vector<TargetResult>& results) { JournalConfirmations(results); });
}

CUpdateProcedures::~CUpdateProcedures()
{
    // The procedures run on the update thread and refer to this object.
    while (!m_dialog.WaitForUpdateThread(std::chrono::seconds(1))) {
    }
    for (int t = 0; t < UPDATE_TARGET_COUNT; ++t)
        m_dialog.SetTargetProcedure(static_cast<UpdateTarget>(t), nullptr);
    m_dialog.SetRecoveryProcedure(nullptr);
    m_dialog.SetPreflightProcedure(nullptr);
    m_dialog.SetConfirmationListener(nullptr);
    ReleaseCANDriverImage();
}

std::uint32_t CUpdateProcedures::BuildBootloaderSwitchRequest(std::uint8_t* packet, std::uint16_t target)
{
    // Control (0x0011) with one item; sequence number and checksums are left to SendCommand.
    const std::uint8_t request[] = { ZEL_DELIMITER_CCPU, 0x11, 0x00, 0x03, 0x00, 0x00, 0x00, kItemBootloaderSwitch,
        static_cast<std::uint8_t>(target), static_cast<std::uint8_t>(target >> 8), 0x00 };
    std::memcpy(packet, request, sizeof request);
    return sizeof request;
}

CUpdateProcedures::Builder CUpdateProcedures::SwitchRequest(std::uint16_t target)
{
    return [target](CZELCommandSet&, std::uint8_t* packet) { return BuildBootloaderSwitchRequest(packet, target); };
}

// ---------------------------------------------------------------------------------------------
// The table of targets

std::string CUpdateProcedures::PlanLine(const std::string& name, const std::string& deviceVersion, int slot) const
{
    const FirmwareSlot& file = m_dialog.GetCatalogue().Slot(slot);
    return Format("%s %s %s -> %s, %s = %s", GetUpdateText(APP_TEXT_GOING_TO_INSTALL), name.c_str(),
        deviceVersion.c_str(), ZELHeaderText(file.header.version).c_str(), GetUpdateText(APP_TEXT_FILE),
        file.path.c_str());
}

CUpdateProcedures::Procedure CUpdateProcedures::Bootloader(UpdateTarget target, const std::string& name,
    const std::string& deviceVersion, Builder request, ReadyFlag flag, int divisor, Duration before, int slot,
    std::optional<Duration> after) const
{
    return Procedure { target, name, PlanLine(name, deviceVersion, slot), deviceVersion, std::move(request), flag, divisor, 100,
        before, Transfer::Bootloader, slot, after };
}

long CUpdateProcedures::RunTarget(UpdateTarget target)
{
    if (const std::string unreachable = m_dialog.GetDeviceUnreachable(); !unreachable.empty()) {
        ReportUnreachable(target, unreachable);
        return CUpdaterDlg::TARGET_ERRORS_REPORTED;
    }
    const CZELTimeTable& times = ZELTimes();
    const DeviceInformation device = m_dialog.GetDeviceInformation();
    auto builder = [](std::uint16_t (CZELCommandSet::*prepare)(std::uint8_t*)) -> Builder {
        return [prepare](CZELCommandSet& commands, std::uint8_t* packet) { return (commands.*prepare)(packet); };
    };

    std::optional<Procedure> procedure;
    switch (target) {
    case UPDATE_TARGET_RCPU:
        // An Ombra box that answered stands in for the radio modem and is named with its own version.
        if (device.ombraPresent != 0)
            procedure = Bootloader(target, "Ombra Box", ZELHeaderText(device.ombraVersion),
                builder(&CZELCommandSet::PrepareReqUpdateOmbraBox), READY_RCPU, 15, times.pauseShort, SLOT_RCPU,
                std::nullopt);
        else
            procedure = Bootloader(target, "RCPU", ZELHeaderText(device.rcpuVersion),
                builder(&CZELCommandSet::PrepareReqUpdateRCPU), READY_RCPU, 15, times.pauseShort, SLOT_RCPU,
                std::nullopt);
        break;
    case UPDATE_TARGET_VELTRIX:
        procedure = Bootloader(target, "Veltrix", ZELHeaderText(device.veltrixVersion),
            builder(&CZELCommandSet::PrepareReqUpdateVeltrix), READY_VELTRIX, 15, times.pauseShort, SLOT_VELTRIX,
            std::nullopt);
        break;
    case UPDATE_TARGET_LCPU:
        procedure = Bootloader(target, "LCPU", ZELHeaderText(device.lcpuVersion), SwitchRequest(kSwitchLCPU),
            READY_LCPU, 15, times.pauseMedium, SLOT_LCPU, times.pauseRestart);
        break;
    case UPDATE_TARGET_MCPU:
        procedure = Bootloader(target, "MCPU", ZELHeaderText(device.mcpuVersion), SwitchRequest(kSwitchMCPU),
            READY_MCPU, 15, times.pauseMedium, SLOT_MCPU, times.pauseRestart);
        break;
    case UPDATE_TARGET_MCPU_CAN_DRIVER: {
        const Clock::time_point start = Clock::now();
        JournalEntry entry = NewEntry(CUpdaterDlg::TargetName(target), "module", SLOT_CAN_DRIVER);
        const std::size_t index = JournalBegin(entry);
        // The flash start replaces the module's firmware: the journal says so first.
        const auto started = [&] {
            entry.step = "switched";
            m_journal.Record(index, entry);
        };
        Outcome outcome = CANDriverOutcome(RunCANDriver(started));
        JournalRecord(index, entry, outcome, Transfer::Module);
        outcome.bytes = entry.bytesWritten;
        outcome.seconds = SecondsSince(start);
        const Procedure module { target, CUpdaterDlg::TargetName(target), {}, ZELHeaderText(device.canDriverVersion),
            {}, READY_MCPU, 0, 0, {}, Transfer::Module, SLOT_CAN_DRIVER, std::nullopt };
        m_dialog.ReportTargetResult(ResultOf(module, outcome));
        return CUpdaterDlg::TARGET_ERRORS_REPORTED;
    }
    case UPDATE_TARGET_KCPU:
        procedure = Bootloader(target, "KCPU", ZELHeaderText(device.kcpuVersion), SwitchRequest(kSwitchKCPU),
            READY_KCPU, 15, times.pauseMedium, SLOT_KCPU, times.pauseRestart);
        break;
    case UPDATE_TARGET_ECPU:
        return RunExpanders();
    case UPDATE_TARGET_CCPU_TYPE1:
        procedure = Bootloader(target, "CCPU", ZELHeaderText(device.ccpuVersion), SwitchRequest(kSwitchCCPU),
            READY_CCPU, 10, times.pauseLong, SLOT_CCPU_TYPE1, times.pauseRestart);
        break;
    case UPDATE_TARGET_CCPU_TYPE2:
        procedure = Bootloader(target, "CCPU", ZELHeaderText(device.ccpuVersion), SwitchRequest(kSwitchCCPU),
            READY_CCPU, 15, times.pauseLong, SLOT_CCPU_TYPE2, times.pauseRestart);
        break;
    case UPDATE_TARGET_CCPU_TYPE9:
        procedure = Bootloader(target, "CCPU", ZELHeaderText(device.ccpuVersion),
            builder(&CZELCommandSet::PrepareReqUpdateCCPU2), READY_CCPU, 15, times.pauseShort, SLOT_CCPU2,
            std::nullopt);
        break;
    default:
        return ZEL_STATUS_NOT_IMPLEMENTED;
    }
    const Outcome outcome = RunProcedure(*procedure);
    m_dialog.ReportTargetResult(ResultOf(*procedure, outcome));
    return CUpdaterDlg::TARGET_ERRORS_REPORTED;
}

// ---------------------------------------------------------------------------------------------
// The common procedure

CUpdateProcedures::Outcome CUpdateProcedures::RunProcedure(const Procedure& procedure)
{
    const Clock::time_point start = Clock::now();
    // Of this target's transfer only, none yet.
    m_transferStatus = ZEL_STATUS_SUCCESS;
    m_restartStatus = ZEL_STATUS_SUCCESS;
    m_dialog.Log(procedure.planLine, ZEL_SYSTEM_LOG_EX_EVENT_INFORMATION);
    const FirmwareSlot& file = m_dialog.GetCatalogue().Slot(procedure.slot);
    // A processor in its bootloader gets erased: it is never asked for an image that is not there.
    if (file.header.payloadSize == 0)
        return { TargetOutcome::Failed, Format(GetUpdateText(APP_TEXT_EMPTY_IMAGE), file.path.c_str()) };
    JournalEntry entry
        = NewEntry(procedure.name, procedure.transfer == Transfer::Bootloader ? "bootloader" : "device", procedure.slot);
    const std::size_t index = JournalBegin(entry);
    if (!RequestUntilReady(procedure)) {
        Outcome outcome { TargetOutcome::NotStarted, GetUpdateText(APP_TEXT_NO_ANSWER_TO_REQUEST) };
        outcome.seconds = SecondsSince(start);
        JournalRecord(index, entry, outcome, procedure.transfer);
        CheckReachable(procedure, outcome);
        return outcome;
    }
    // From here on a processor may be left in its bootloader: the journal says so first.
    entry.step = "switched";
    m_journal.Record(index, entry);
    Pause(procedure.pauseBefore);
    const long result = procedure.transfer == Transfer::Bootloader ? TransmitThroughBootloader(file.path)
                                                                   : TransmitExpanderFirmware(file.path);
    if (procedure.pauseAfter)
        Pause(*procedure.pauseAfter);
    // A file that could not be decrypted never reached the device.
    const bool transferred = m_transferStatus == ZEL_STATUS_SUCCESS || m_transferStatus == ZEL_STATUS_UNSPECIFIC_ERROR;
    Outcome outcome = result == ZEL_STATUS_SUCCESS
        ? Outcome { TargetOutcome::Updated, {}, transferred }
        : Outcome { TargetOutcome::Failed, TransferFailureStep(procedure.transfer, result), transferred };
    const CZELSTM32BootLoader& loader = GetZELSTM32BootLoader();
    outcome.seconds = SecondsSince(start);
    outcome.bytes = transferred ? loader.LastBytesWritten() : 0;
    if (procedure.transfer == Transfer::Bootloader && m_transferStatus == ZEL_STATUS_SUCCESS
        && m_dialog.GetSettings().verifyAfterWrite) {
        if (loader.LastVerified()) {
            outcome.verification = Verification::Verified;
        } else if (loader.LastVerifyRefused()) {
            outcome.verification = Verification::NotVerified;
            outcome.verificationNote = "read-out protection";
        }
    }
    JournalRecord(index, entry, outcome, procedure.transfer);
    CheckReachable(procedure, outcome);
    return outcome;
}

// ---------------------------------------------------------------------------------------------
// The journal

std::string CUpdateProcedures::Port() const
{
    const std::string port = m_dialog.GetView().GetCOMPortText();
    return port.empty() ? m_dialog.GetLink().GetCOMPort() : port;
}

JournalEntry CUpdateProcedures::NewEntry(const std::string& target, const char* transfer, int slot) const
{
    const DeviceInformation device = m_dialog.GetDeviceInformation();
    const FirmwareSlot& file = m_dialog.GetCatalogue().Slot(slot);
    JournalEntry entry;
    entry.time = CUpdateJournal::Now();
    entry.port = Port();
    entry.hardwareType = device.hardwareType;
    entry.hardware = DeviceHardwareName(device.hardwareType);
    entry.serialNumber = ZELHeaderText(device.serialNumber);
    entry.target = target;
    entry.transfer = transfer;
    entry.file = file.path;
    entry.version = ZELHeaderText(file.header.version);
    entry.crc = file.header.crc;
    return entry;
}

std::size_t CUpdateProcedures::JournalBegin(const JournalEntry& entry)
{
    // Read anew for every target: another program may have written it meanwhile.
    m_journal.Load();
    std::size_t index = 0;
    m_journal.Begin(entry, index);
    return index;
}

void CUpdateProcedures::JournalRecord(std::size_t index, JournalEntry& entry, const Outcome& outcome, Transfer transfer)
{
    const CZELSTM32BootLoader& loader = GetZELSTM32BootLoader();
    const FirmwareSlot* file = nullptr;
    for (int slot = SLOT_CCPU_TYPE1; slot <= SLOT_CAN_DRIVER; ++slot)
        if (m_dialog.GetCatalogue().Slot(slot).path == entry.file)
            file = &m_dialog.GetCatalogue().Slot(slot);
    const bool started = outcome.outcome == TargetOutcome::Updated || outcome.outcome == TargetOutcome::Failed;
    if (started && transfer == Transfer::Module)
        entry.bytesWritten = m_canDriverWritten;
    if (started && transfer != Transfer::Module) {
        entry.bytesWritten = loader.LastBytesWritten();
        if (transfer == Transfer::Bootloader) {
            const CZELSTM32BootLoader::Identity identity = loader.LastIdentity();
            entry.chipId = identity.chipId;
            if (identity.chipId != 0)
                entry.bootloaderVersion = Format("%u.%u", unsigned(identity.major), unsigned(identity.minor));
        }
    }
    switch (outcome.outcome) {
    case TargetOutcome::Updated:
        entry.outcome = "updated";
        entry.step = "finished";
        break;
    case TargetOutcome::Failed:
        entry.outcome = "failed";
        if (file != nullptr && entry.step == "switched" && entry.bytesWritten >= file->header.payloadSize)
            entry.step = "transferred";
        break;
    case TargetOutcome::NotStarted: entry.outcome = "not started"; break;
    case TargetOutcome::Skipped: entry.outcome = "skipped"; break;
    }
    entry.detail = outcome.step;
    m_journal.Record(index, entry);
    if (!entry.recovery)
        m_runEntries.emplace_back(entry.target, entry);
}

void CUpdateProcedures::JournalConfirmations(const std::vector<TargetResult>& results)
{
    // Read anew: another program may have written meanwhile; an entry is found by what it holds.
    m_journal.Load();
    const std::vector<JournalEntry> entries = m_journal.Entries();
    std::vector<bool> used(m_runEntries.size(), false);
    for (const TargetResult& result : results) {
        if (result.confirmation == Confirmation::NotAsked)
            continue;
        for (std::size_t r = 0; r < m_runEntries.size(); ++r) {
            const JournalEntry& mine = m_runEntries[r].second;
            if (used[r] || m_runEntries[r].first != result.name || mine.outcome != "updated")
                continue;
            used[r] = true;
            for (std::size_t i = entries.size(); i-- > 0;) {
                const JournalEntry& stored = entries[i];
                if (stored.time != mine.time || stored.port != mine.port || stored.target != mine.target
                    || stored.file != mine.file)
                    continue;
                JournalEntry confirmed = stored;
                confirmed.confirmation = CUpdaterDlg::ConfirmationName(result.confirmation);
                confirmed.confirmedVersion = result.reportedVersion;
                if (result.confirmation == Confirmation::Unconfirmed) {
                    confirmed.outcome = "failed";
                    confirmed.detail = result.step;
                } else if (result.confirmation == Confirmation::NotConfirmed) {
                    confirmed.detail = result.confirmationNote;
                }
                m_journal.Record(i, confirmed);
                break;
            }
            break;
        }
    }
    m_runEntries.clear();
}

TargetResult CUpdateProcedures::ResultOf(const Procedure& procedure, const Outcome& outcome) const
{
    const FirmwareSlot& file = m_dialog.GetCatalogue().Slot(procedure.slot);
    TargetResult result { procedure.target, procedure.name, outcome.outcome, outcome.step };
    result.file = file.path;
    result.from = procedure.from;
    result.to = ZELHeaderText(file.header.version);
    result.bytes = outcome.bytes;
    result.seconds = outcome.seconds;
    result.verification = outcome.verification;
    result.verificationNote = outcome.verificationNote;
    return result;
}

void CUpdateProcedures::ReportUnreachable(UpdateTarget target, const std::string& reason)
{
    const std::string step = Format(GetUpdateText(APP_TEXT_DEVICE_UNREACHABLE), reason.c_str());
    if (target != UPDATE_TARGET_ECPU) {
        const DeviceInformation device = m_dialog.GetDeviceInformation();
        const std::string name = target == UPDATE_TARGET_RCPU && device.ombraPresent != 0
            ? std::string("Ombra Box")
            : CUpdaterDlg::TargetName(target);
        m_dialog.ReportTargetResult({ target, name, TargetOutcome::NotStarted, step });
        return;
    }
    const DeviceInformation device = m_dialog.GetDeviceInformation();
    for (int i = 0; i < DEVICE_EXPANDER_TABLE_SIZE && device.expanders[i].type != 0; ++i) {
        if (device.expanders[i].selected == 0)
            continue;
        TargetResult result { target, "ECPU " + GetZELECPUTypeAsString(device.expanders[i].type),
            TargetOutcome::NotStarted, step };
        result.expanderType = device.expanders[i].type;
        result.expanderIndex = i;
        m_dialog.ReportTargetResult(result);
    }
}

bool CUpdateProcedures::PortComesBack()
{
    IUpdateLink& link = m_dialog.GetLink();
    const Clock::time_point deadline = Clock::now() + ZELTimes().portReturnWindow;
    for (;;) {
        link.TerminateReceivingThread();
        if (link.InitializeReceivingThread() == ZEL_STATUS_SUCCESS)
            return true;
        if (Clock::now() >= deadline)
            return false;
        Pause(ZELTimes().stepPoll);
    }
}

void CUpdateProcedures::CheckReachable(const Procedure& procedure, const Outcome& outcome)
{
    const std::string port = Port();
    const auto portGone = [&] { return Format("the port %s is gone", port.c_str()); };
    const std::string reconnect = GetUpdateText(APP_TEXT_NEXT_RECONNECT);
    if (outcome.outcome == TargetOutcome::Updated) {
        if (m_restartStatus != ZEL_STATUS_SUCCESS && !PortComesBack())
            m_dialog.SetDeviceUnreachable(portGone(), reconnect);
        return;
    }
    const bool startedNewFirmware = m_transferStatus == ZEL_STATUS_SUCCESS;
    if (outcome.outcome == TargetOutcome::Failed && procedure.transfer == Transfer::Bootloader && !startedNewFirmware) {
        // It entered its bootloader and did not start a new firmware: the line leads to a bootloader now.
        std::string reason = Format("the %s waits in its bootloader", procedure.name.c_str());
        std::string next = Format(GetUpdateText(APP_TEXT_NEXT_FLASHED_FIRST), procedure.name.c_str());
        if (m_restartStatus != ZEL_STATUS_SUCCESS && !PortComesBack()) {
            reason += ", and " + portGone();
            next = reconnect + " " + next;
        }
        m_dialog.SetDeviceUnreachable(reason, next);
        return;
    }
    // The device answers as long as its port is there; a port that is not known to be gone is left
    // alone, since opening it again could cost an answer on its way.
    const bool portTrouble = m_restartStatus != ZEL_STATUS_SUCCESS || m_dialog.GetLink().GetPortGoneFor().count() > 0
        || GetZELSTM32BootLoader().LastFailure() == CZELSTM32BootLoader::Failure::DeviceLinkGone;
    if (portTrouble && !PortComesBack())
        m_dialog.SetDeviceUnreachable(portGone(), reconnect);
}

std::vector<std::string> CUpdateProcedures::CheckPCSide()
{
    std::vector<std::string> problems;
    const UpdatePlan& plan = m_dialog.GetPlan();
    static constexpr std::pair<UpdateTarget, int> kSlots[] = { { UPDATE_TARGET_CCPU_TYPE1, SLOT_CCPU_TYPE1 },
        { UPDATE_TARGET_CCPU_TYPE2, SLOT_CCPU_TYPE2 }, { UPDATE_TARGET_KCPU, SLOT_KCPU },
        { UPDATE_TARGET_LCPU, SLOT_LCPU }, { UPDATE_TARGET_RCPU, SLOT_RCPU }, { UPDATE_TARGET_MCPU, SLOT_MCPU },
        { UPDATE_TARGET_MCPU_CAN_DRIVER, SLOT_CAN_DRIVER }, { UPDATE_TARGET_ECPU, SLOT_ECPU },
        { UPDATE_TARGET_VELTRIX, SLOT_VELTRIX }, { UPDATE_TARGET_CCPU_TYPE9, SLOT_CCPU2 } };
    std::uintmax_t largest = 0;
    for (const auto& [target, slot] : kSlots) {
        if (plan.selection[static_cast<std::size_t>(target)] == 0)
            continue;
        const std::string& path = m_dialog.GetCatalogue().Slot(slot).path;
        std::vector<unsigned char> image;
        const long decrypted = GetZELFileHeader().DecryptToMemory(path, image);
        if (decrypted != ZEL_STATUS_SUCCESS)
            problems.push_back(Format("The firmware file %s cannot be used: %s.", path.c_str(),
                StatusInWords(decrypted).c_str()));
        else if (image.empty())
            problems.push_back(Format(GetUpdateText(APP_TEXT_EMPTY_IMAGE), path.c_str()));
        largest = std::max<std::uintmax_t>(largest, image.size());
    }
    // The transfer image goes to the working folder, the log and the journal beside the journal.
    const std::string journalFolder = [&] {
        const std::size_t slash = m_journal.Path().find_last_of(ZELPlatform::kPathSeparators);
        return slash == std::string::npos ? std::string(".") : m_journal.Path().substr(0, slash);
    }();
    for (const std::string& folder : { std::string("."), journalFolder }) {
        if (const std::string problem = ZELPlatform::CheckFolderWritable(folder, largest); !problem.empty())
            problems.push_back(Format("The folder %s cannot take the update's files: %s.", folder.c_str(),
                problem.c_str()));
    }
    for (const std::string& problem : problems)
        m_dialog.Log(problem, ZEL_SYSTEM_LOG_EX_EVENT_ERROR);
    return problems;
}

// ---------------------------------------------------------------------------------------------
// A processor left in its bootloader

RecoveryResult CUpdateProcedures::RecoverWaitingBootloader()
{
    m_recoveryReport.clear();
    IUpdateLink& link = m_dialog.GetLink();
    const std::string port = Port();
    CZELSTM32BootLoader& loader = GetZELSTM32BootLoader();
    CZELSTM32BootLoader::Identity found;
    link.TerminateReceivingThread();
    const long probed = loader.ProbeBootloader(port, found);
    auto reopen = [&] { link.InitializeReceivingThread(); };
    if (probed != ZEL_STATUS_SUCCESS) {
        m_dialog.Log(probed == ZEL_STATUS_NOT_FOUND
                ? "No bootloader answers on " + port + " either."
                : "The port " + port + " could not be probed for a bootloader: " + loader.DescribeLastFailure() + ".",
            ZEL_SYSTEM_LOG_EX_EVENT_INFORMATION);
        reopen();
        return {};
    }
    const std::string waiting
        = Format(GetUpdateText(APP_TEXT_BOOTLOADER_WAITING), unsigned(found.chipId), unsigned(found.major), unsigned(found.minor));
    m_dialog.Log(waiting, ZEL_SYSTEM_LOG_EX_EVENT_WARNING);

    m_journal.Load();
    std::optional<JournalEntry> left = m_journal.LeftInBootloader(port);
    // An entry whose chip is known must name the chip that answers: never guess the processor.
    if (left && left->chipId != 0 && left->chipId != found.chipId) {
        m_dialog.Log(Format("The journal's %s of %s was on chip 0x%04X, not this one; it is not acted on.",
                         left->target.c_str(), left->time.c_str(), unsigned(left->chipId)),
            ZEL_SYSTEM_LOG_EX_EVENT_WARNING);
        left.reset();
    }
    // A processor a service request switched has no file of its own: the operator chooses one.
    if (!left || left->file.empty()) {
        const std::string warning = m_journal.Warning();
        const std::string intro = waiting + "\r\n" + (warning.empty() ? "" : warning + "\r\n");
        if (std::optional<RecoveryResult> chosen = ChooseRecoveryFile(intro))
            return std::move(*chosen);
        reopen();
        return { RecoveryResult::NotRecovered, intro + Format(GetUpdateText(APP_TEXT_RECOVERY_NO_JOURNAL), port.c_str()), {} };
    }
    // The very file of that update: same payload, by its header's CRC.
    _FILE_HEADER header {};
    const long read = GetZELFileHeader().ReadFileHeader(left->file, &header);
    if (read != ZEL_STATUS_SUCCESS || header.crc != left->crc) {
        reopen();
        return { RecoveryResult::NotRecovered,
            waiting + "\r\n" + Format(GetUpdateText(APP_TEXT_RECOVERY_FILE_CHANGED), left->file.c_str()), {} };
    }
    const std::string question = waiting + "\r\n"
        + Format(GetUpdateText(APP_TEXT_RECOVERY_QUESTION), left->target.c_str(), left->time.substr(0, 16).c_str(),
            left->version.c_str());
    if (m_dialog.GetView().ShowMessageBox(question, GetUpdateText(APP_TEXT_CAPTION_START),
            ZEL_MB_YESNO | ZEL_MB_ICONQUESTION)
        != ZEL_IDYES) {
        m_dialog.Log("The operator did not flash the " + left->target + " again.", ZEL_SYSTEM_LOG_EX_EVENT_INFORMATION);
        reopen();
        return { RecoveryResult::NotRecovered, waiting, {} };
    }
    return AcceptedRecovery(left->file, left->target, left);
}

RecoveryResult CUpdateProcedures::AcceptedRecovery(const std::string& path, const std::string& target,
    const std::optional<JournalEntry>& origin)
{
    RecoveryResult accepted { RecoveryResult::Accepted, {}, {} };
    accepted.flash = [this, path, target, origin]() -> RecoveryResult {
        if (FlashWaitingBootloader(path, target, origin ? &*origin : nullptr) != ZEL_STATUS_SUCCESS)
            return { RecoveryResult::NotRecovered,
                Format(GetUpdateText(APP_TEXT_RECOVERY_FAILED), target.c_str(), m_recoveryReport.c_str()), {} };
        // The processor starts its new firmware; the device answers once it has.
        Pause(ZELTimes().pauseRestart);
        return { RecoveryResult::Recovered, {}, {} };
    };
    return accepted;
}

std::optional<RecoveryResult> CUpdateProcedures::ChooseRecoveryFile(const std::string& intro)
{
    // Every slot but the CAN driver's, which the module protocol flashes.
    static constexpr std::pair<int, const char*> kBootloaderSlots[] = { { SLOT_CCPU_TYPE1, "CCPU" },
        { SLOT_CCPU_TYPE2, "CCPU" }, { SLOT_CCPU2, "CCPU" }, { SLOT_KCPU, "KCPU" }, { SLOT_LCPU, "LCPU" },
        { SLOT_MCPU, "MCPU" }, { SLOT_RCPU, "RCPU" }, { SLOT_VELTRIX, "Veltrix" }, { SLOT_ECPU, "ECPU" } };
    std::vector<std::pair<const FirmwareSlot*, const char*>> files;
    std::vector<std::string> choices;
    for (const auto& [slot, target] : kBootloaderSlots) {
        const FirmwareSlot& file = m_dialog.GetCatalogue().Slot(slot);
        if (file.path.empty() || file.header.payloadSize == 0)
            continue;
        files.emplace_back(&file, target);
        choices.push_back(Format("%s  %s  %s", target, ZELHeaderText(file.header.version).c_str(), file.path.c_str()));
    }
    if (choices.empty())
        return std::nullopt;
    const int chosen = m_dialog.GetView().ChooseFromList(
        intro + GetUpdateText(APP_TEXT_RECOVERY_CHOOSE), GetUpdateText(APP_TEXT_CAPTION_START), choices);
    if (chosen < 0 || static_cast<std::size_t>(chosen) >= files.size()) {
        m_dialog.Log("The operator chose no firmware to flash into the waiting processor.",
            ZEL_SYSTEM_LOG_EX_EVENT_INFORMATION);
        return std::nullopt;
    }
    const auto& [file, target] = files[static_cast<std::size_t>(chosen)];
    m_dialog.Log(Format("The operator chose %s to flash into the waiting processor.", file->path.c_str()),
        ZEL_SYSTEM_LOG_EX_EVENT_INFORMATION);
    return AcceptedRecovery(file->path, target, std::nullopt);
}

long CUpdateProcedures::FlashWaitingBootloader(const std::string& path, const std::string& target, const JournalEntry* origin)
{
    IUpdateLink& link = m_dialog.GetLink();
    link.TerminateReceivingThread();
    _FILE_HEADER header {};
    GetZELFileHeader().ReadFileHeader(path, &header);
    JournalEntry entry;
    entry.time = CUpdateJournal::Now();
    entry.port = Port();
    entry.target = target;
    entry.transfer = "bootloader";
    entry.file = path;
    entry.version = ZELHeaderText(header.version);
    entry.crc = header.crc;
    entry.step = "switched"; // it waits in its bootloader already
    entry.recovery = true;
    if (origin != nullptr) {
        entry.hardwareType = origin->hardwareType;
        entry.hardware = origin->hardware;
        entry.serialNumber = origin->serialNumber;
    }
    m_journal.Load();
    std::size_t index = 0;
    m_journal.Begin(entry, index);

    for (int t = 0; t < UPDATE_TARGET_COUNT; ++t)
        if (CUpdaterDlg::TargetName(static_cast<UpdateTarget>(t)) == target) {
            m_dialog.SetApplicationState(CUpdaterDlg::StateOfTarget(static_cast<UpdateTarget>(t)));
            break;
        }
    m_dialog.SetProgress(0);
    CZELSTM32BootLoader& loader = GetZELSTM32BootLoader();
    loader.SetVerifyAfterWrite(m_dialog.GetSettings().verifyAfterWrite);
    const long result = loader.TransmitFirmware(entry.port, path);
    m_transferStatus = result;
    m_restartStatus = link.InitializeReceivingThread();
    const Outcome outcome = result == ZEL_STATUS_SUCCESS
        ? Outcome { TargetOutcome::Updated, {}, true }
        : Outcome { TargetOutcome::Failed, TransferFailureStep(Transfer::Bootloader, result), true };
    JournalRecord(index, entry, outcome, Transfer::Bootloader);
    m_recoveryReport = result == ZEL_STATUS_SUCCESS
        ? Format(GetUpdateText(APP_TEXT_RECOVERED), target.c_str(), path.c_str())
        : outcome.step;
    m_dialog.Log(m_recoveryReport,
        result == ZEL_STATUS_SUCCESS ? ZEL_SYSTEM_LOG_EX_EVENT_INFORMATION : ZEL_SYSTEM_LOG_EX_EVENT_ERROR);
    return result;
}

std::string CUpdateProcedures::TransferFailureStep(Transfer transfer, long status) const
{
    if (transfer == Transfer::Bootloader && status == m_restartStatus && m_transferStatus == ZEL_STATUS_SUCCESS)
        return Format("The port could not be opened again after the transfer: %s.",
            StatusInWords(m_restartStatus).c_str());
    if (status != ZEL_STATUS_UNSPECIFIC_ERROR)
        return DecryptionFailed(status);
    const CZELSTM32BootLoader& loader = GetZELSTM32BootLoader();
    if (loader.LastFailure() == CZELSTM32BootLoader::Failure::None)
        return "The decrypted image could not be read.";
    // The read-back's percentage is of the bytes compared: it says nothing about the write.
    if (loader.LastFailure() == CZELSTM32BootLoader::Failure::VerifyMismatch)
        return Format("Verify: %s.", loader.DescribeLastFailure().c_str());
    if (transfer == Transfer::Bootloader && loader.LastCommand() == CZELSTM32BootLoader::kReadMemory)
        return Format("Verify failed with %i %% compared: %s.", m_dialog.GetProgress(),
            loader.DescribeLastFailure().c_str());
    const std::string step
        = transfer == Transfer::ThroughDevice ? "Writing through the device" : BootLoaderStep(loader.LastCommand());
    return Format("%s failed with %i %% written: %s.", step.c_str(), m_dialog.GetProgress(),
        loader.DescribeLastFailure().c_str());
}

bool CUpdateProcedures::RequestUntilReady(const Procedure& procedure)
{
    std::uint8_t packet[512] = {};
    const std::uint32_t length = procedure.request(m_dialog.GetCommands(), packet);
    m_dialog.ClearReady(procedure.readyFlag);
    // Round n ends at start + (n + 1) polls; the flag ends it early.
    const Clock::time_point start = Clock::now();
    const Clock::duration poll = ZELTimes().stepPoll;
    for (int round = 0; round < procedure.roundLimit; ++round) {
        // Requests into a port that stays gone reach nobody: the rest of the rounds are not waited out.
        if (m_dialog.GetLink().GetPortGoneFor() >= ZELTimes().portReturnWindow)
            break;
        if (round % procedure.resendDivisor == 0)
            m_dialog.GetLink().SendCommand(packet, length);
        if (m_dialog.WaitForReady(procedure.readyFlag, start + poll * (round + 1)))
            return true;
    }
    return m_dialog.IsReady(procedure.readyFlag);
}

// ---------------------------------------------------------------------------------------------
// Transfers

long CUpdateProcedures::TransmitThroughBootloader(const std::string& path)
{
    IUpdateLink& link = m_dialog.GetLink();
    link.TerminateReceivingThread();
    std::string port = m_dialog.GetView().GetCOMPortText();
    if (port.empty())
        port = link.GetCOMPort();
    CZELSTM32BootLoader& loader = GetZELSTM32BootLoader();
    loader.SetVerifyAfterWrite(m_dialog.GetSettings().verifyAfterWrite);
    const long transferred = loader.TransmitFirmware(port, path);
    const long restarted = link.InitializeReceivingThread();
    m_transferStatus = transferred;
    m_restartStatus = restarted;
    return transferred != ZEL_STATUS_SUCCESS ? transferred : restarted;
}

long CUpdateProcedures::TransmitExpanderFirmware(const std::string& path)
{
    m_transferStatus = GetZELSTM32BootLoader().TransmitFirmwareECPU(path);
    m_restartStatus = ZEL_STATUS_SUCCESS;
    return m_transferStatus;
}

// ---------------------------------------------------------------------------------------------
// Expanders

void CUpdateProcedures::BeginExpander(bool& first)
{
    if (!first) {
        m_dialog.SetApplicationState(UPDATER_STATE_ECPU);
        m_dialog.SetProgress(0);
    }
    first = false;
}

long CUpdateProcedures::RunExpanders()
{
    const CZELTimeTable& times = ZELTimes();
    const DeviceInformation device = m_dialog.GetDeviceInformation();
    auto entryLine = [&](const ExpanderEntry& entry) {
        const FirmwareSlot& file = m_dialog.GetCatalogue().Slot(SLOT_ECPU);
        return Format("%s ECPU %s, %s -> %s, %s = %s", GetUpdateText(APP_TEXT_GOING_TO_INSTALL),
            GetZELECPUTypeAsString(entry.type).c_str(), ZELHeaderText(entry.version).c_str(),
            ZELHeaderText(file.header.version).c_str(), GetUpdateText(APP_TEXT_FILE), file.path.c_str());
    };
    auto entryName = [](const ExpanderEntry& entry) { return "ECPU " + GetZELECPUTypeAsString(entry.type); };
    auto report = [&](const ExpanderEntry& entry, const Procedure& procedure, const Outcome& outcome) {
        TargetResult result = ResultOf(procedure, outcome);
        result.expanderType = entry.type;
        result.expanderIndex = static_cast<int>(&entry - device.expanders);
        m_dialog.ReportTargetResult(result);
    };
    auto unreachable = [&](const ExpanderEntry& entry) {
        const std::string reason = m_dialog.GetDeviceUnreachable();
        if (reason.empty())
            return false;
        TargetResult result { UPDATE_TARGET_ECPU, entryName(entry), TargetOutcome::NotStarted,
            Format(GetUpdateText(APP_TEXT_DEVICE_UNREACHABLE), reason.c_str()) };
        result.expanderType = entry.type;
        result.expanderIndex = static_cast<int>(&entry - device.expanders);
        m_dialog.ReportTargetResult(result);
        return true;
    };
    bool first = true;

    // The remote control's own ECPU goes through the PC's port.
    for (const ExpanderEntry& entry : device.expanders) {
        if (entry.type == 0)
            break;
        if (entry.type != kRemoteControlECPU || entry.selected == 0 || unreachable(entry))
            continue;
        BeginExpander(first);
        const Procedure procedure { UPDATE_TARGET_ECPU, entryName(entry), entryLine(entry), ZELHeaderText(entry.version),
            SwitchRequest(kSwitchECPU), READY_ECPU, 15, 100, times.pauseMedium, Transfer::Bootloader, SLOT_ECPU,
            times.pauseRestart };
        report(entry, procedure, RunProcedure(procedure));
    }

    // The others through the device; the main controller looks for its expanders after each one.
    bool lost = false;
    for (const ExpanderEntry& entry : device.expanders) {
        if (entry.type == 0)
            break;
        if (!lost && !m_dialog.GetExpandersFound()) {
            m_dialog.Log("Main Software; CCPU did not manage to find the expanders again!\r\n",
                ZEL_SYSTEM_LOG_EX_EVENT_INFORMATION);
            lost = true;
        }
        if (entry.type == kRemoteControlECPU || entry.selected == 0)
            continue;
        if (lost) {
            // Planned, but never asked: the run must not end as a success.
            const std::string name = GetZELECPUTypeAsString(entry.type);
            TargetResult skipped { UPDATE_TARGET_ECPU, entryName(entry), TargetOutcome::Skipped, {} };
            skipped.expanderType = entry.type;
            skipped.expanderIndex = static_cast<int>(&entry - device.expanders);
            m_dialog.ReportTargetResult(skipped, Format(GetUpdateText(APP_TEXT_EXPANDER_NOT_FOUND_AGAIN), name.c_str()));
            continue;
        }
        if (unreachable(entry))
            continue;
        BeginExpander(first);
        const std::uint16_t type = entry.type;
        const Procedure procedure { UPDATE_TARGET_ECPU, entryName(entry), entryLine(entry), ZELHeaderText(entry.version),
            [type](CZELCommandSet& commands, std::uint8_t* packet) {
                return static_cast<std::uint32_t>(commands.PrepareReqUpdateExpander(packet, type));
            },
            READY_ECPU, 250, 1000, times.pauseShort, Transfer::ThroughDevice, SLOT_ECPU, std::nullopt };
        // Cleared before the request: a "found again" that follows the Go at once is not lost.
        m_dialog.SetExpandersFound(false);
        const Outcome outcome = RunProcedure(procedure);
        if (outcome.transferred) {
            m_dialog.WaitForExpandersFound(Clock::now() + times.expanderFoundTimeout);
        } else {
            // Nothing was sent to the expander: the device has not lost its expanders.
            m_dialog.SetExpandersFound(true);
        }
        report(entry, procedure, outcome);
    }
    return CUpdaterDlg::TARGET_ERRORS_REPORTED;
}

// ---------------------------------------------------------------------------------------------
// The CAN driver's module flash

long CUpdateProcedures::RunCANDriver(const std::function<void()>& started)
{
    const DeviceInformation device = m_dialog.GetDeviceInformation();
    m_dialog.Log(PlanLine("MCPU CAN Driver", ZELHeaderText(device.canDriverVersion), SLOT_CAN_DRIVER),
        ZEL_SYSTEM_LOG_EX_EVENT_INFORMATION);
    // Only the MCPU's module protocol carries the flash requests.
    if (m_dialog.GetProtocol() != ZEL_PROTOCOL_MCPU_CRC && m_dialog.GetProtocol() != ZEL_PROTOCOL_MCPU) {
        m_canDriverFailure = { TargetOutcome::NotStarted, "The MCPU is not in its module mode." };
        return ZEL_STATUS_NOT_INITIALIZED;
    }
    return UpdateCANDriver(started);
}

CUpdateProcedures::Outcome CUpdateProcedures::CANDriverOutcome(long status) const
{
    if (status == ZEL_STATUS_SUCCESS)
        return {};
    return m_canDriverFailure;
}

void CUpdateProcedures::ReleaseCANDriverImage()
{
    if (m_canDriverFile != nullptr) {
        std::fclose(m_canDriverFile);
        m_canDriverFile = nullptr;
    }
    m_canDriverImage.reset();
    m_canDriverSize = 0;
}

void CUpdateProcedures::PublishProgress(std::uint8_t percent)
{
    CZELMessage message(ZEL_MESSAGE_TRANSFER_PROGRESS, &percent, 1);
    GetZELMessageQueue().Notify(message);
}

long CUpdateProcedures::UpdateCANDriver(const std::function<void()>& started)
{
    ReleaseCANDriverImage();
    m_canDriverWritten = 0;
    m_dialog.ArmFlashStep(1);
    const auto fail = [this](TargetOutcome outcome, std::string step, long status) {
        m_canDriverFailure = { outcome, std::move(step) };
        return status;
    };
    constexpr TargetOutcome kFailed = TargetOutcome::Failed;
    const char* const kUnreadable = "The decrypted image could not be read.";

    const std::string& path = m_dialog.GetCatalogue().Slot(SLOT_CAN_DRIVER).path;
    const long decrypted = GetZELFileHeader().DecryptFile(path, kTemporaryImage);
    if (decrypted != ZEL_STATUS_SUCCESS) {
        m_dialog.Log(Format("%s %s", BootLoaderText(kTextFileNotOpened).c_str(), path.c_str()),
            ZEL_SYSTEM_LOG_EX_EVENT_ERROR);
        return fail(kFailed, DecryptionFailed(decrypted), decrypted);
    }
    m_canDriverFile = std::fopen(kTemporaryImage, "rb");
    if (m_canDriverFile == nullptr) {
        m_dialog.Log(Format("%s %s", BootLoaderText(kTextFileNotOpened).c_str(), kTemporaryImage),
            ZEL_SYSTEM_LOG_EX_EVENT_ERROR);
        return fail(kFailed, kUnreadable, ZEL_STATUS_UNSPECIFIC_ERROR);
    }
    m_dialog.Log(BootLoaderText(kTextPreparing), ZEL_SYSTEM_LOG_EX_EVENT_INFORMATION);
    std::fseek(m_canDriverFile, 0, SEEK_END);
    const long fileLength = std::ftell(m_canDriverFile);
    std::fseek(m_canDriverFile, 0, SEEK_SET);
    m_dialog.Log(BootLoaderText(kTextPrepared), ZEL_SYSTEM_LOG_EX_EVENT_INFORMATION);
    if (fileLength < 0)
        return fail(kFailed, kUnreadable, ZEL_STATUS_UNSPECIFIC_ERROR);
    // The flash start erases the module: never for an image that is not there.
    if (fileLength == 0)
        return fail(kFailed, Format(GetUpdateText(APP_TEXT_EMPTY_IMAGE), path.c_str()), ZEL_STATUS_UNSPECIFIC_ERROR);

    const auto length = static_cast<std::uint32_t>(fileLength);
    const std::uint32_t size = (length + 3u) & ~3u;
    m_canDriverImage.reset(new (std::nothrow) std::uint8_t[size == 0 ? 1 : size]);
    if (!m_canDriverImage)
        return fail(kFailed, "There is no memory for the image.", ZEL_STATUS_NO_MEMORY);
    m_canDriverSize = size;
    const std::size_t read = std::fread(m_canDriverImage.get(), 1, length, m_canDriverFile);
    if (read != length)
        return fail(kFailed, kUnreadable, ZEL_STATUS_UNSPECIFIC_ERROR);
    std::memset(m_canDriverImage.get() + length, 0xFF, size - length);

    CZELCommandSet& commands = m_dialog.GetCommands();
    IUpdateLink& link = m_dialog.GetLink();
    const std::uint8_t module = m_dialog.GetCANDriver().moduleId;
    std::uint8_t packet[512] = {};

    std::uint32_t packetLength = commands.PrepareReqModuleFlashStart(packet, module, size);
    m_dialog.ArmFlashStep(2);
    link.SendCommand(packet, packetLength);
    if (m_dialog.WaitForFlashStep(2, 3, packet, packetLength) != ZEL_STATUS_SUCCESS)
        return fail(
            TargetOutcome::NotStarted, "The MCPU did not confirm the flash start.", ZEL_STATUS_UNSPECIFIC_ERROR);
    if (started)
        started();

    CZELCRC32 crc;
    std::uint8_t published = 0;
    std::uint32_t index = 0;
    std::uint32_t confirmed = 0;
    std::uint32_t silent = 0; // pieces in a row that timed out
    const std::uint32_t pieces = (size + kCANDriverPiece - 1) / kCANDriverPiece;
    for (std::uint32_t offset = 0; offset < size; offset += kCANDriverPiece, ++index) {
        const std::uint32_t pieceLength = std::min(kCANDriverPiece, size - offset);
        const auto packetNumber = static_cast<std::uint8_t>(index & 0xFF);
        const std::uint8_t* piece = m_canDriverImage.get() + offset;
        crc.Reset();
        crc.Update(piece, pieceLength);
        packetLength = commands.PrepareReqModuleFlashWrite(packet, module, packetNumber, offset, crc.GetCRC32(), piece,
            pieceLength);
        m_dialog.ArmFlashStep(4);
        link.SendCommand(packet, packetLength);
        const long answered = m_dialog.WaitForFlashStep(4, 5, packet, packetLength);
        const std::uint8_t echoed = m_dialog.GetEchoedPacketNumber();
        if (answered != ZEL_STATUS_SUCCESS || echoed != packetNumber) {
            // The device's check of the whole image decides; the piece is not sent again.
            m_dialog.Log(Format("skipping; packet; %i; %i; state; %li", echoed, packetNumber, m_dialog.GetFlashStep()),
                ZEL_SYSTEM_LOG_EX_EVENT_DEBUG);
            // A misnumbered echo is an answer all the same; only silence counts.
            silent = answered == ZEL_STATUS_SUCCESS ? 0 : silent + 1;
            if (silent == kCANDriverSilentPieces)
                return fail(kFailed,
                    Format("The MCPU stopped answering at piece %u of %u: the transfer was broken off (%u pieces "
                           "confirmed).",
                        index + 2 - kCANDriverSilentPieces, pieces, confirmed),
                    ZEL_STATUS_UNSPECIFIC_ERROR);
            continue;
        }
        silent = 0;
        ++confirmed;
        m_canDriverWritten += pieceLength;
        // The share of the image before this piece.
        const auto percent = static_cast<std::uint8_t>(static_cast<std::uint64_t>(index) * 12800u / size);
        if (percent > published) {
            published = percent;
            PublishProgress(percent);
        }
    }

    crc.Reset();
    crc.Update(m_canDriverImage.get(), size);
    packetLength = commands.PrepareReqModuleFlashFinish(packet, module, crc.GetCRC32());
    m_dialog.ArmFlashStep(6);
    link.SendCommand(packet, packetLength);
    if (m_dialog.WaitForFlashStep(6, 7, packet, packetLength) != ZEL_STATUS_SUCCESS)
        return fail(kFailed,
            Format("The MCPU did not confirm the finished image (%u of %u pieces confirmed).", confirmed, index),
            ZEL_STATUS_UNSPECIFIC_ERROR);
    // The MCPU's check of the whole image vouches for pieces whose confirmation was lost.
    m_canDriverWritten = size;
    return ZEL_STATUS_SUCCESS;
}
