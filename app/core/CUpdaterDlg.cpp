#include "app/core/CUpdaterDlg.h"

#include "app/core/UpdateTexts.h"
#include "zel/firmware/CZELFileHeader.h"
#include "zel/foundation/CZELIniManager.h"
#include "zel/foundation/CZELLanguage.h"
#include "zel/foundation/CZELMain.h"
#include "zel/foundation/CZELTimeTable.h"
#include "zel/foundation/ZELMessageBox.h"
#include "zel/foundation/ZELStatus.h"
#include "zel/plugins/CZELPluginManager.h"
#include "zel/serial/ZELProtocol.h"
#include "zel/stm32/CZELSTM32BootLoader.h"
#include "zel/threads/CZELThreadMonitor.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;
using Builder = std::function<std::uint16_t(CZELCommandSet&, std::uint8_t*)>;

bool IsQtr(std::uint16_t type) { return type == 0x1000 || type == 0x1001; }
bool IsVhx(std::uint16_t type) { return type == 0x2000 || type == 0x2001; }
bool IsRadio(std::uint16_t type) { return type >= 0x3001 && type <= 0x3003; }

// V 02.09.28: a CCPU up to this version knows no prepare-firmware-update request.
constexpr long kLastCCPUWithoutPrepare = 133404;
constexpr std::uint8_t kMCPUModeModule = 4;
constexpr std::uint16_t kHardwareTypeVHX360 = 0x2001;

template <std::size_t N> void CopyText(char (&destination)[N], const char* source)
{
    std::memset(destination, 0, N);
    std::memcpy(destination, source, ::strnlen(source, N - 1));
}

// A parser's result that leaves usable fields: success, or a text cut to its field.
bool Parsed(long result) { return result == ZEL_STATUS_SUCCESS || result == ZEL_STATUS_BUFFER_TOO_SMALL; }

} // namespace

CUpdaterDlg::CUpdaterDlg(IUpdateView& view, IUpdateLink& link, CZELCommandSet& commands, std::string firmwareFolder,
    AppLogSink log)
    : m_view(view)
    , m_link(link)
    , m_commands(commands)
    , m_log(std::move(log))
    , m_catalogue(std::move(firmwareFolder), m_log)
{
    m_queue.SetDialog(this);
}

CUpdaterDlg::~CUpdaterDlg()
{
    m_updateThread.DestroyThread(true);
    m_queue.SetDialog(nullptr);
    m_queue.Terminate();
}

// ---------------------------------------------------------------------------------------------
// Program life

long CUpdaterDlg::StartMessageQueue()
{
    return m_queue.InitializeQueue();
}

long CUpdaterDlg::StopMessageQueue()
{
    return m_queue.Terminate();
}

// The traffic dump plug-in writes the device's answers of one run to the log. A run goes on
// without it when it cannot be loaded; a second load while it is loaded is refused by name.
void CUpdaterDlg::LoadTrafficDumpPlugin()
{
    GetZELPluginManager().LoadPlugin("Scriva.dll");
    std::int32_t running = 1;
    GetZELPluginManager().CallPluginProcessEvent(ZEL_PLUGIN_EVENT_UPDATE_RUN, &running);
}

void CUpdaterDlg::EndTrafficDumpPlugin()
{
    std::int32_t running = 0;
    GetZELPluginManager().CallPluginProcessEvent(ZEL_PLUGIN_EVENT_UPDATE_RUN, &running);
    GetZELPluginManager().UnloadAllPlugins();
}

// ---------------------------------------------------------------------------------------------
// State

UpdaterSettings CUpdaterDlg::GetSettings() const
{
    std::lock_guard lock(m_lock);
    UpdaterSettings settings = m_settings;
    settings.protocol = m_protocol.load();
    return settings;
}

void CUpdaterDlg::SetSettings(const UpdaterSettings& settings)
{
    {
        std::lock_guard lock(m_lock);
        m_settings = settings;
    }
    SetProtocol(settings.protocol);
}

void CUpdaterDlg::SetProtocol(std::uint16_t protocol)
{
    m_link.SetProtocol(protocol);
    m_commands.SetProtocol(protocol);
    m_protocol.store(protocol);
}

DeviceInformation CUpdaterDlg::GetDeviceInformation() const
{
    std::lock_guard lock(m_lock);
    return m_device;
}

std::string CUpdaterDlg::GetErrorList() const
{
    std::lock_guard lock(m_lock);
    return m_errorList;
}

unsigned long CUpdaterDlg::GetStateTextId(long state)
{
    switch (state) {
    case UPDATER_STATE_READY: return APP_TEXT_STATE_READY;
    case UPDATER_STATE_PREPARING: return APP_TEXT_STATE_PREPARING;
    case UPDATER_STATE_CCPU: return APP_TEXT_STATE_CCPU;
    case UPDATER_STATE_KCPU: return APP_TEXT_STATE_KCPU;
    case UPDATER_STATE_LCPU: return APP_TEXT_STATE_LCPU;
    case UPDATER_STATE_MCPU: return APP_TEXT_STATE_MCPU;
    case UPDATER_STATE_CAN_DRIVER: return APP_TEXT_STATE_CAN_DRIVER;
    case UPDATER_STATE_ECPU: return APP_TEXT_STATE_ECPU;
    case UPDATER_STATE_RCPU: return APP_TEXT_STATE_RCPU;
    case UPDATER_STATE_VELTRIX: return APP_TEXT_STATE_VELTRIX;
    case UPDATER_STATE_FAILED: return APP_TEXT_STATE_FAILED;
    case UPDATER_STATE_SUCCEEDED: return APP_TEXT_STATE_SUCCEEDED;
    default: return 0; // "???"
    }
}

long CUpdaterDlg::SetApplicationState(long state)
{
    const long old = m_state.exchange(state);
    char line[64];
    std::snprintf(line, sizeof line, "SetApplicationState(); %li -> %li", old, state);
    AddOutput(line, ZEL_SYSTEM_LOG_EX_EVENT_DEBUG);
    m_view.SetStatusText(GetUpdateText(GetStateTextId(state)));
    return ZEL_STATUS_SUCCESS;
}

void CUpdaterDlg::SetProgress(int percent)
{
    const int shown = std::clamp(percent, 0, 100);
    m_progress.store(shown);
    {
        // A transfer that reports progress is the update thread at work, however long it takes.
        std::lock_guard lock(m_lock);
        if (m_progressStamps)
            m_updateThread.UpdateStatus();
    }
    m_view.SetProgress(shown);
}

void CUpdaterDlg::StampUpdateThread()
{
    if (m_updateThreadId.load() == std::this_thread::get_id())
        m_updateThread.UpdateStatus();
}

void CUpdaterDlg::RequestCancel()
{
    {
        std::lock_guard lock(m_lock);
        m_cancelRequested.store(true);
    }
    Notify();
}

void CUpdaterDlg::OnStatusTimer()
{
    const bool idle = !IsUpdateThreadRunning();
    m_view.EnableStartButton(idle);
    m_view.EnablePortField(idle);
}

void CUpdaterDlg::AddOutput(const std::string& message, _ZELSystemLogExEventType type)
{
    if (m_log)
        m_log(message, type);
}

// ---------------------------------------------------------------------------------------------
// Answers (message queue thread)

void CUpdaterDlg::Notify()
{
    m_changed.notify_all();
}

void CUpdaterDlg::Reject()
{
    m_rejectedAnswers.fetch_add(1);
}

void CUpdaterDlg::AdvanceRequestStep(long from, long to)
{
    {
        std::lock_guard lock(m_lock);
        long expected = from;
        m_requestStep.compare_exchange_strong(expected, to);
    }
    Notify();
}

void CUpdaterDlg::AdvanceFlashStep(long from, long to)
{
    {
        std::lock_guard lock(m_lock);
        long expected = from;
        m_flashStep.compare_exchange_strong(expected, to);
    }
    Notify();
}

void CUpdaterDlg::SetReady(ReadyFlag flag)
{
    {
        std::lock_guard lock(m_lock);
        m_ready[flag].store(1);
    }
    Notify();
}

long CUpdaterDlg::ProcessMainProtocolPacket(const std::uint8_t* packet, std::size_t length)
{
    // The framer delivers whole packets; a record shorter than its header announces is refused here
    // so that no parser reads past it.
    const std::size_t announced = CZELCommandSet::GetAnnouncedPacketLength(packet, length);
    if (length < 7 || announced == 0 || announced > length) {
        Reject();
        return ZEL_STATUS_SUCCESS;
    }
    const std::uint8_t address = packet[0];
    const auto id = static_cast<std::uint16_t>(packet[1] | (packet[2] << 8));
    // The status byte of an acknowledgement that carries one; a packet without it reads as failed.
    const std::uint8_t status = length > 7 && announced > 7 ? packet[7] : 0xFF;
    const std::uint16_t protocol = m_protocol.load();
    // Under the accessory protocols the box's own answer completes the identification wait.
    const bool accessoryProtocol = protocol == ZEL_PROTOCOL_VELTRIX || protocol == ZEL_PROTOCOL_OMBRA;

    switch (id) {
    case 0x4001: {
        std::uint8_t answerStatus = 0;
        std::uint16_t type = 0;
        if (address == ZEL_DELIMITER_VELTRIX || address == ZEL_DELIMITER_OMBRA) {
            char version[32] = {};
            const long result = address == ZEL_DELIMITER_VELTRIX
                ? m_commands.ProcessAckGetVeltrixDeviceInfo(packet, &answerStatus, &type, version, sizeof version)
                : m_commands.ProcessAckGetOmbraDeviceInfo(packet, &answerStatus, &type, version, sizeof version);
            if (!Parsed(result)) {
                Reject();
                break;
            }
            {
                std::lock_guard lock(m_lock);
                m_device.answerStatus = answerStatus;
                m_device.hardwareType = type;
                if (address == ZEL_DELIMITER_VELTRIX) {
                    CopyText(m_device.veltrixVersion, version);
                } else {
                    CopyText(m_device.ombraVersion, version);
                    m_device.ombraPresent = 1;
                }
            }
            if (accessoryProtocol)
                AdvanceRequestStep(1, 2);
            else
                Notify();
            break;
        }
        char hardwareVersion[32] = {}, serialNumber[32] = {}, mcpu[32] = {}, ecpu[32] = {}, ccpu[32] = {},
             kcpu[32] = {}, lcpu[32] = {}, rcpu[32] = {}, wcpu[32] = {};
        const long result = m_commands.ProcessAckGetDeviceInfo(packet, &answerStatus, &type, hardwareVersion,
            serialNumber, mcpu, ecpu, ccpu, kcpu, lcpu, rcpu, wcpu, 32);
        if (!Parsed(result)) {
            Reject();
            break;
        }
        {
            std::lock_guard lock(m_lock);
            m_device.answerStatus = answerStatus;
            m_device.hardwareType = type;
            CopyText(m_device.hardwareVersion, hardwareVersion);
            CopyText(m_device.serialNumber, serialNumber);
            CopyText(m_device.mcpuVersion, mcpu);
            CopyText(m_device.ecpuVersion, ecpu);
            CopyText(m_device.ccpuVersion, ccpu);
            CopyText(m_device.kcpuVersion, kcpu);
            CopyText(m_device.lcpuVersion, lcpu);
            CopyText(m_device.rcpuVersion, rcpu);
            CopyText(m_device.wcpuVersion, wcpu);
        }
        AdvanceRequestStep(1, 2);
        break;
    }
    case 0x4002:
        if (status == 0) {
            SetReady(READY_VELTRIX);
            if (GetDeviceInformation().ombraPresent != 0)
                SetReady(READY_RCPU);
        }
        break;
    case 0x4004: {
        std::uint8_t fsCan = 0, ffCan = 0, lbus = 0, emergency = 0;
        if (m_commands.ProcessAckPrepareFirmwareUpdate(packet, &fsCan, &ffCan, &lbus, &emergency)
            != ZEL_STATUS_SUCCESS) {
            // Only a readable answer completes the wait: the checks must not run on old bytes.
            Reject();
            break;
        }
        {
            std::lock_guard lock(m_lock);
            m_device.fsCanConnections = fsCan;
            m_device.ffCanConnections = ffCan;
            m_device.lbusConnections = lbus;
            m_device.emergencyButtonState = emergency;
        }
        AdvanceRequestStep(7, 8);
        break;
    }
    case 0x4011: {
        std::uint8_t count = 0, answerStatus = 0xFF, item = 0, value = 0;
        if (m_commands.ProcessAckControl(packet, &count, &answerStatus, &item, &value) != ZEL_STATUS_SUCCESS) {
            Reject();
            break;
        }
        if (answerStatus != 0)
            break;
        if (item == 0x80) {
            const std::uint16_t type = GetDeviceInformation().hardwareType;
            if (value == 3)
                SetReady(READY_KCPU);
            else if (value == 5)
                SetReady(READY_LCPU);
            else if (value == 7)
                SetReady(READY_CCPU);
            else if (value == 6 && IsVhx(type))
                SetReady(READY_MCPU);
            else if (value == 6 && IsQtr(type))
                SetReady(READY_ECPU);
        } else if (item == 0x7F) {
            SetReady(READY_ECPU);
        }
        break;
    }
    case 0x4013: {
        std::uint8_t count = 0;
        if (m_commands.ProcessAckGetExpanders(packet, &count) != ZEL_STATUS_SUCCESS) {
            Reject();
            break;
        }
        {
            std::lock_guard lock(m_lock);
            m_device.expectedExpanderCount = count;
        }
        AdvanceRequestStep(9, 10);
        break;
    }
    case 0x4014:
        if (status == 0)
            SetReady(READY_ECPU);
        break;
    case 0x4015:
        if (status == 0)
            GetZELSTM32BootLoader().SetBlockAcknowledged(true);
        m_commands.ProcessAckSendFirmware(packet);
        break;
    case 0x401F: {
        std::uint8_t answerStatus = 0xFF, mode = 0;
        if (m_commands.ProcessAckSetMCPUMode(packet, &answerStatus, &mode) != ZEL_STATUS_SUCCESS) {
            Reject();
            break;
        }
        if (answerStatus == 0 && mode == kMCPUModeModule)
            AdvanceRequestStep(11, 12);
        break;
    }
    case 0x4052:
    case 0x4C52:
        AdvanceRequestStep(3, 4);
        break;
    case 0x4054:
    case 0x4C54:
        AdvanceRequestStep(5, 6);
        break;
    case 0x4C01: {
        std::uint8_t answerStatus = 0, channel = 0, region = 0, power = 0;
        std::uint16_t type = 0;
        char rcpu[32] = {}, modem[32] = {};
        const long result = m_commands.ProcessAckGetRCPUDeviceInfo(packet, &answerStatus, &type, rcpu, modem,
            &channel, &region, &power, 32);
        if (!Parsed(result)) {
            Reject();
            break;
        }
        {
            std::lock_guard lock(m_lock);
            m_device.answerStatus = answerStatus;
            m_device.hardwareType = type;
            CopyText(m_device.rcpuVersion, rcpu);
            CopyText(m_device.rcpuModemVersion, modem);
        }
        AdvanceRequestStep(1, 2);
        break;
    }
    case 0x4C02:
        if (status == 0)
            SetReady(READY_RCPU);
        break;
    case 0x4D01: {
        std::uint8_t answerStatus = 0;
        std::uint16_t type = 0;
        char hardwareVersion[32] = {}, serialNumber[32] = {}, ccpu[32] = {};
        const long result = m_commands.ProcessAckGetCCPU2DeviceInfo(packet, &answerStatus, &type, hardwareVersion,
            serialNumber, ccpu, 32);
        if (!Parsed(result)) {
            Reject();
            break;
        }
        {
            std::lock_guard lock(m_lock);
            m_device.answerStatus = answerStatus;
            m_device.hardwareType = type;
            CopyText(m_device.hardwareVersion, hardwareVersion);
            CopyText(m_device.serialNumber, serialNumber);
            CopyText(m_device.ccpuVersion, ccpu);
        }
        Send([](CZELCommandSet& commands, std::uint8_t* buffer) {
            return commands.PrepareReqGetCCPU2HardwareInfo(buffer);
        });
        AdvanceRequestStep(1, 2);
        break;
    }
    case 0x4D02:
        if (status == 0)
            SetReady(READY_CCPU);
        break;
    case 0x4D52:
        Send([](CZELCommandSet& commands, std::uint8_t* buffer) {
            return commands.PrepareReqGetCCPU2ProductionInfo(buffer);
        });
        break;
    case 0x8011: {
        std::uint8_t notificationStatus = 0xFF, item = 0;
        if (m_commands.ProcessNotControl(packet, &notificationStatus, &item) != ZEL_STATUS_SUCCESS) {
            Reject();
            break;
        }
        if (notificationStatus == 0 && item == 0x7F)
            SetReady(READY_ECPU);
        break;
    }
    case 0x8013: {
        std::uint8_t count = 0;
        std::uint16_t type = 0;
        char version[33] = {};
        if (m_commands.ProcessNotExpander(packet, &count, &type, version) != ZEL_STATUS_SUCCESS) {
            Reject();
            break;
        }
        {
            std::lock_guard lock(m_lock);
            const std::uint8_t index = m_device.receivedExpanderCount;
            if (index < DEVICE_EXPANDER_TABLE_SIZE) {
                m_device.expanders[index].type = type;
                CopyText(m_device.expanders[index].version, version);
            }
            if (m_device.receivedExpanderCount < 0xFF)
                ++m_device.receivedExpanderCount;
        }
        Notify();
        break;
    }
    case 0x8016:
        m_commands.ProcessNotExpanderFinished(packet);
        {
            std::lock_guard lock(m_lock);
            m_expandersFound.store(1);
        }
        Notify();
        break;
    default:
        break;
    }
    return ZEL_STATUS_SUCCESS;
}

long CUpdaterDlg::ProcessModuleProtocolPacket(const std::uint8_t* packet, std::size_t length)
{
    const std::size_t announced = CZELCommandSet::GetAnnouncedPacketLength(packet, length);
    if (length < 4 || announced == 0 || announced > length) {
        Reject();
        return ZEL_STATUS_SUCCESS;
    }
    switch (packet[1]) {
    case 'C': {
        std::uint8_t confirmed = 0;
        if (m_commands.ProcessAckConfirm(packet, &confirmed) != ZEL_STATUS_SUCCESS) {
            Reject();
            break;
        }
        if (confirmed == 'N') {
            AdvanceFlashStep(2, 3);
        } else if (confirmed == 'Q') {
            if (announced <= 5) {
                Reject();
                break;
            }
            m_echoedPacketNumber.store(packet[5]);
            AdvanceFlashStep(4, 5);
        } else if (confirmed == 'S') {
            AdvanceFlashStep(6, 7);
        }
        break;
    }
    case 'L': {
        _MCPU_CAN_DRIVER drivers[3] = {};
        std::uint8_t count = 0;
        const long parsed = m_commands.ProcessAckModuleList(packet, drivers, &count, 3);
        if (parsed == ZEL_STATUS_BUFFER_TOO_SMALL) {
            // More modules than the table holds: the first three are kept.
            count = static_cast<std::uint8_t>(std::size(drivers));
        } else if (parsed != ZEL_STATUS_SUCCESS) {
            Reject();
            break;
        }
        {
            std::lock_guard lock(m_lock);
            std::copy(std::begin(drivers), std::end(drivers), std::begin(m_canDrivers));
            m_device.canDriversFound = count;
            if (count > 0) {
                char version[32];
                std::snprintf(version, sizeof version, "V %02i.%02i.00", drivers[0].mainVersion / 100,
                    drivers[0].mainVersion % 100);
                CopyText(m_device.canDriverVersion, version);
            }
            m_device.moduleListReceived = 1;
        }
        AdvanceRequestStep(17, 18);
        break;
    }
    case 'V': {
        std::uint8_t state = 0;
        char version[32] = {};
        if (!Parsed(m_commands.ProcessAckBoardInfo(packet, &state, version, sizeof version))) {
            Reject();
            break;
        }
        {
            std::lock_guard lock(m_lock);
            m_device.answerStatus = state;
            CopyText(m_device.mcpuVersion, version);
            m_device.boardInfoReceived = 1;
        }
        AdvanceRequestStep(13, 14);
        break;
    }
    default:
        break;
    }
    return ZEL_STATUS_SUCCESS;
}

// ---------------------------------------------------------------------------------------------
// Waits

void CUpdaterDlg::ArmRequestStep(long first)
{
    std::lock_guard lock(m_lock);
    m_requestStep.store(first);
    m_requestStepArmed.store(true);
}

long CUpdaterDlg::WaitForRequestStep(long first, long target, std::uint8_t* packet, std::uint32_t length)
{
    {
        std::lock_guard lock(m_lock);
        if (!m_requestStepArmed.exchange(false) || m_requestStep.load() != target)
            m_requestStep.store(first);
    }
    const CZELTimeTable& times = ZELTimes();
    // The module list takes the MCPU longer to gather.
    if (first == 17)
        return WaitForStep(m_requestStep, target, packet, length, times.moduleListResend, times.moduleListTimeout,
            !m_confirming.load());
    return WaitForStep(
        m_requestStep, target, packet, length, times.requestResend, times.requestTimeout, !m_confirming.load());
}

void CUpdaterDlg::ArmFlashStep(long first)
{
    std::lock_guard lock(m_lock);
    m_flashStep.store(first);
    m_flashStepArmed.store(true);
}

long CUpdaterDlg::WaitForFlashStep(long first, long target, std::uint8_t* packet, std::uint32_t length)
{
    {
        std::lock_guard lock(m_lock);
        if (!m_flashStepArmed.exchange(false) || m_flashStep.load() != target)
            m_flashStep.store(first);
    }
    // The flash of a running target is never cut short: a stop waits for its end.
    return WaitForStep(m_flashStep, target, packet, length, ZELTimes().requestResend, ZELTimes().requestTimeout,
        false);
}

long CUpdaterDlg::WaitForStep(std::atomic<long>& step, long target, std::uint8_t* packet, std::uint32_t length,
    std::chrono::milliseconds resend, std::chrono::milliseconds timeout, bool stoppable)
{
    const Clock::time_point start = Clock::now();
    Clock::time_point lastSend = start;
    std::unique_lock lock(m_lock);
    while (step.load() != target) {
        if (stoppable && m_cancelRequested.load())
            return ZEL_STATUS_OPERATION_BROKEN;
        StampUpdateThread();
        const Clock::time_point now = Clock::now();
        if (now - lastSend > resend) {
            lock.unlock();
            m_link.SendCommand(packet, length);
            lock.lock();
            lastSend += resend;
            continue;
        }
        if (now - start > timeout)
            return ZEL_STATUS_NO_CONNECTION;
        // Woken by the answer, or just past the next resend or the time-out.
        const Clock::time_point wake = std::min(lastSend + resend, start + timeout) + std::chrono::milliseconds(1);
        m_changed.wait_until(lock, wake);
    }
    return ZEL_STATUS_SUCCESS;
}

CUpdaterDlg::Request CUpdaterDlg::Send(const Builder& build)
{
    Request request;
    request.length = build(m_commands, request.bytes);
    if (request.length > 0)
        m_link.SendCommand(request.bytes, request.length);
    return request;
}

long CUpdaterDlg::SendAndWait(long first, long target, const Builder& build)
{
    ArmRequestStep(first);
    Request request = Send(build);
    return WaitForRequestStep(first, target, request.bytes, request.length);
}

// ---------------------------------------------------------------------------------------------
// Start of an update (the thread of the start button)

StartOutcome CUpdaterDlg::StartUpdate()
{
    if (m_link.IsReceivingThreadRunning() || IsUpdateThreadRunning())
        return StartOutcome::AlreadyRunning;
    if (m_link.InitializeReceivingThread() != ZEL_STATUS_SUCCESS) {
        m_view.ShowMessageBox(GetUpdateText(APP_TEXT_PORT_NOT_ACCESSIBLE), GetUpdateText(APP_TEXT_CAPTION_ABORTED),
            ZEL_MB_OK | ZEL_MB_ICONERROR);
        return StartOutcome::PortNotAccessible;
    }
    m_cancelRequested.store(false);
    m_view.EnablePortField(false);
    m_view.EnableStartButton(false);
    SetApplicationState(UPDATER_STATE_PREPARING);
    LoadTrafficDumpPlugin();
    {
        std::lock_guard lock(m_lock);
        m_errorList.clear();
        m_results.clear();
        m_unreachable.clear();
        m_nextStep.clear();
    }

    // UpdateStarted here means: go on to the planning.
    m_recoveredThisStart = false;
    m_recoveryFlash = nullptr;
    StartOutcome outcome = GatherInformation();
    if (outcome == StartOutcome::UpdateStarted) {
        outcome = PlanAndAsk();
        if (outcome == StartOutcome::UpdateStarted)
            StartUpdateThread();
    } else if (outcome == StartOutcome::RecoveryStarted) {
        // Before the thread, which notes how the start after the recovery ends.
        m_startOutcome.store(outcome);
        if (StartUpdateThread() == ZEL_STATUS_SUCCESS)
            return outcome;
        m_recoveryFlash = nullptr;
        outcome = Fail(APP_TEXT_DEVICE_UNKNOWN);
    }
    m_startOutcome.store(outcome);
    return outcome;
}

StartOutcome CUpdaterDlg::GatherInformation()
{
    switch (m_protocol.load()) {
    case ZEL_PROTOCOL_VELTRIX:
        SendAndWait(1, 2, [](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqGetVeltrixDeviceInfo(b); });
        return StartOutcome::UpdateStarted;
    case ZEL_PROTOCOL_OMBRA:
        SendAndWait(1, 2, [](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqGetOmbraDeviceInfo(b); });
        return StartOutcome::UpdateStarted;
    case ZEL_PROTOCOL_CCPU2:
        SendAndWait(1, 2, [](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqGetCCPU2DeviceInfo(b); });
        return StartOutcome::UpdateStarted;
    case ZEL_PROTOCOL_MCPU:
    case ZEL_PROTOCOL_MCPU_CRC:
        if (SendAndWait(13, 14, [](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqBoardInfo(b); }) != 0)
            return Fail(APP_TEXT_DEVICE_UNKNOWN);
        return StartOutcome::UpdateStarted;
    case ZEL_PROTOCOL_CCPU:
        return GatherMainDevice();
    default:
        return StartOutcome::UpdateStarted;
    }
}

StartOutcome CUpdaterDlg::GatherMainDevice()
{
    // Both identification requests go out; whichever processor answers completes the wait.
    ArmRequestStep(1);
    Send([](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqGetDeviceInfo(b); });
    Request rcpu = Send([](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqGetRCPUDeviceInfo(b); });
    if (WaitForRequestStep(1, 2, rcpu.bytes, rcpu.length) != ZEL_STATUS_SUCCESS) {
        RecoveryProcedure recovery;
        {
            std::lock_guard lock(m_lock);
            recovery = m_recovery;
        }
        // A processor left in its bootloader holds the line: the device cannot answer until it is
        // flashed again. Once per start: a processor that still does not answer is not flashed twice.
        if (recovery && !m_recoveredThisStart && !m_cancelRequested.load()) {
            RecoveryResult result = recovery();
            if (result.kind == RecoveryResult::Accepted && result.flash) {
                // The transfer takes as long as an update: the update thread runs it, so that the
                // window stays alive and shows its progress.
                m_recoveryFlash = std::move(result.flash);
                return StartOutcome::RecoveryStarted;
            }
            if (result.kind == RecoveryResult::Recovered) {
                m_recoveredThisStart = true;
                return GatherMainDevice();
            }
            if (result.kind == RecoveryResult::NotRecovered)
                return Fail(std::string(GetUpdateText(APP_TEXT_DEVICE_UNKNOWN)) + "\r\n\r\n" + result.message);
        }
        return StartOutcome::UpdateStarted; // planning with what is known
    }

    const DeviceInformation device = GetDeviceInformation();
    const std::uint16_t type = device.hardwareType;
    if (IsRadio(type)) {
        if (SendAndWait(3, 4, [](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqGetRCPUHardwareInfo(b); })
            != ZEL_STATUS_SUCCESS)
            return Fail(APP_TEXT_DEVICE_UNKNOWN);
        if (SendAndWait(5, 6, [](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqGetRCPUProductionInfo(b); })
            != ZEL_STATUS_SUCCESS)
            return Fail(APP_TEXT_DEVICE_UNKNOWN);
        return StartOutcome::UpdateStarted;
    }
    if (!IsQtr(type) && !IsVhx(type))
        return StartOutcome::UpdateStarted;

    // A missing hardware or production answer costs only a warning.
    if (SendAndWait(3, 4, [](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqGetHardwareInfo(b); })
        != ZEL_STATUS_SUCCESS)
        AddOutput(GetUpdateText(APP_TEXT_DEVICE_UNKNOWN), ZEL_SYSTEM_LOG_EX_EVENT_WARNING);
    if (SendAndWait(5, 6, [](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqGetProductionInfo(b); })
        != ZEL_STATUS_SUCCESS)
        AddOutput(GetUpdateText(APP_TEXT_DEVICE_UNKNOWN), ZEL_SYSTEM_LOG_EX_EVENT_WARNING);

    const long ccpuVersion = GetZELFileHeader().GetVersionAsInteger(ZELHeaderText(device.ccpuVersion).c_str());
    if (ccpuVersion > kLastCCPUWithoutPrepare) {
        if (SendAndWait(7, 8, [](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqPrepareFirmwareUpdate(b); })
            != ZEL_STATUS_SUCCESS)
            return Fail(APP_TEXT_DEVICE_UNKNOWN);
        if (!CheckPreconditions())
            return StartOutcome::Failed;
    }

    if (const std::string missing = GatherExpanders(); !missing.empty())
        return Fail(missing);

    if (GetSettings().mcpuMode && IsVhx(type)) {
        if (SendAndWait(11, 12,
                [](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqSetMCPUMode(b, kMCPUModeModule); })
            != ZEL_STATUS_SUCCESS)
            return Fail(APP_TEXT_DEVICE_UNKNOWN);
        std::this_thread::sleep_for(ZELTimes().pauseLong);
        if (!SwitchToModuleProtocol())
            return Fail(APP_TEXT_DEVICE_UNKNOWN);
    }
    return StartOutcome::UpdateStarted;
}

bool CUpdaterDlg::CheckPreconditions()
{
    // Every blocker at once: the operator clears them all before the next start.
    const DeviceInformation device = GetDeviceInformation();
    std::vector<std::string> blockers;
    if (device.fsCanConnections != 0)
        blockers.emplace_back(GetUpdateText(APP_TEXT_FS_CAN_ATTACHED));
    if (device.lbusConnections != 0)
        blockers.emplace_back(GetUpdateText(APP_TEXT_LBUS_ATTACHED));
    if (device.emergencyButtonState == 1)
        blockers.emplace_back(GetUpdateText(APP_TEXT_EMERGENCY_PRESSED));
    else if (device.emergencyButtonState != 2)
        blockers.emplace_back(GetUpdateText(APP_TEXT_EMERGENCY_UNKNOWN));
    if (blockers.empty())
        return true;
    std::string text;
    for (const std::string& blocker : blockers)
        text += (text.empty() ? "" : "\r\n\r\n") + blocker;
    Fail(text, blockers, StartOutcome::Failed);
    return false;
}

std::string CUpdaterDlg::GatherExpanders()
{
    // A lost or damaged notification leaves the list short of what the device announced: it is asked
    // once more, and a list that is still short is never planned as if the missing ones were not there.
    for (int attempt = 0; attempt < 2; ++attempt) {
        {
            std::lock_guard lock(m_lock);
            std::fill(std::begin(m_device.expanders), std::end(m_device.expanders), ExpanderEntry{});
            m_device.expectedExpanderCount = 0xFF;
            m_device.receivedExpanderCount = 0;
        }
        if (SendAndWait(9, 10, [](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqGetExpanders(b); })
            != ZEL_STATUS_SUCCESS)
            return GetUpdateText(APP_TEXT_DEVICE_UNKNOWN);
        CollectExpanders();
        const DeviceInformation device = GetDeviceInformation();
        if (m_cancelRequested.load() && !m_confirming.load())
            return {};
        if (device.receivedExpanderCount >= device.expectedExpanderCount)
            return {};
        char line[160];
        std::snprintf(line, sizeof line, "The device announced %u expanders and reported %u.",
            unsigned(device.expectedExpanderCount), unsigned(device.receivedExpanderCount));
        AddOutput(std::string(line) + (attempt == 0 ? " The list is asked for once more." : ""),
            ZEL_SYSTEM_LOG_EX_EVENT_WARNING);
    }
    const DeviceInformation device = GetDeviceInformation();
    std::string seen;
    for (const ExpanderEntry& entry : device.expanders) {
        if (entry.type == 0)
            break;
        seen += (seen.empty() ? ": " : ", ") + ExpanderName(entry.type) + " " + ZELHeaderText(entry.version);
    }
    char text[1024];
    std::snprintf(text, sizeof text, GetUpdateText(APP_TEXT_EXPANDERS_SHORT), unsigned(device.expectedExpanderCount),
        unsigned(device.receivedExpanderCount), seen.c_str());
    return text;
}

void CUpdaterDlg::CollectExpanders()
{
    // Ends as soon as every announced expander has reported, at the latest after the collection time.
    std::unique_lock lock(m_lock);
    m_changed.wait_for(lock, ZELTimes().expanderCollection, [this] {
        return (m_cancelRequested.load() && !m_confirming.load())
            || (m_device.expectedExpanderCount != 0xFF
                && m_device.receivedExpanderCount == m_device.expectedExpanderCount);
    });
}

bool CUpdaterDlg::SwitchToModuleProtocol()
{
    SetProtocol(ZEL_PROTOCOL_MCPU_CRC);
    {
        std::lock_guard lock(m_lock);
        m_device.boardInfoReceived = 0;
    }
    return SendAndWait(13, 14, [](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqBoardInfo(b); })
        == ZEL_STATUS_SUCCESS;
}

StartOutcome CUpdaterDlg::PlanAndAsk()
{
    if (m_cancelRequested.load())
        return Cancel();
    const UpdaterSettings settings = GetSettings();
    DeviceInformation device = GetDeviceInformation();

    if (device.hardwareType == 0 && !settings.oksWorkaround) {
        if (!settings.mcpuMode)
            return Fail(APP_TEXT_DEVICE_UNKNOWN);
        if (!SwitchToModuleProtocol() || GetDeviceInformation().boardInfoReceived == 0)
            return Fail(APP_TEXT_DEVICE_UNKNOWN);
        std::lock_guard lock(m_lock);
        m_device.hardwareType = kHardwareTypeVHX360;
    }
    device = GetDeviceInformation();

    if (settings.mcpuMode && IsVhx(device.hardwareType)) {
        // Only the CAN driver is considered.
        Send([](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqRealTimeDataCustom(b, 0, 0x040B); });
        {
            std::lock_guard lock(m_lock);
            m_device.moduleListReceived = 0;
        }
        if (SendAndWait(17, 18, [](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqModuleList(b); })
                != ZEL_STATUS_SUCCESS
            || GetDeviceInformation().moduleListReceived == 0)
            return Fail(APP_TEXT_CAN_DRIVER_UNKNOWN);
        if (GetDeviceInformation().canDriversFound == 0)
            return Fail(APP_TEXT_NO_CAN_DRIVER);
        device = GetDeviceInformation();
    }

    CUpdatePlanner planner(m_catalogue,
        UpdatePlanSettings{settings.allowDowngrade, settings.allowDowngradeMCPU, settings.oksWorkaround, settings.mcpuMode},
        m_log);
    m_plan = planner.Plan(device);
    {
        // The planning marks the expanders to update.
        std::lock_guard lock(m_lock);
        for (int i = 0; i < DEVICE_EXPANDER_TABLE_SIZE; ++i)
            m_device.expanders[i].selected = device.expanders[i].selected;
    }

    if (!m_plan.updateNeeded) {
        // Nothing to flash for want of files is no "installed already".
        if (const std::string missing = planner.MissingFirmware(device); !missing.empty())
            return Fail(missing, { missing }, StartOutcome::NoFirmware);
        if (const std::string passedOver = planner.PassedOverText(device); !passedOver.empty())
            m_plan.text += "\r\n\r\n" + passedOver;
        AddOutput(m_plan.text, ZEL_SYSTEM_LOG_EX_EVENT_INFORMATION);
        m_view.ShowMessageBox(m_plan.text, GetUpdateText(APP_TEXT_CAPTION_ABORTED), ZEL_MB_OK | ZEL_MB_ICONINFORMATION);
        m_link.TerminateReceivingThread();
        SetApplicationState(UPDATER_STATE_READY);
        return StartOutcome::NothingToUpdate;
    }
    // Before the question: no processor may be switched for a transfer this PC cannot carry out.
    PreflightProcedure preflight;
    {
        std::lock_guard lock(m_lock);
        preflight = m_preflight;
    }
    if (preflight) {
        if (const std::vector<std::string> problems = preflight(); !problems.empty()) {
            std::string text = GetUpdateText(APP_TEXT_PC_NOT_READY);
            for (const std::string& problem : problems)
                text += "\r\n- " + problem;
            text += std::string("\r\n\r\n") + GetUpdateText(APP_TEXT_NOTHING_TOUCHED);
            return Fail(text, problems, StartOutcome::Failed);
        }
    }
    const int answer = m_view.ShowMessageBox(m_plan.QuestionText(), GetUpdateText(APP_TEXT_CAPTION_START),
        ZEL_MB_YESNO | ZEL_MB_ICONQUESTION);
    if (answer == ZEL_IDYES)
        return StartOutcome::UpdateStarted;
    m_link.TerminateReceivingThread();
    ClearDeviceInformation();
    SetApplicationState(UPDATER_STATE_READY);
    return StartOutcome::Declined;
}

StartOutcome CUpdaterDlg::Cancel()
{
    m_link.TerminateReceivingThread();
    SetApplicationState(UPDATER_STATE_READY);
    return StartOutcome::Cancelled;
}

StartOutcome CUpdaterDlg::Fail(unsigned long textId)
{
    return Fail(std::string(GetUpdateText(textId)));
}

StartOutcome CUpdaterDlg::Fail(const std::string& text)
{
    return Fail(text, { text }, StartOutcome::Failed);
}

StartOutcome CUpdaterDlg::Fail(const std::string& text, const std::vector<std::string>& errors, StartOutcome outcome)
{
    // A wait that a cancel ended is no failure of the device.
    if (m_cancelRequested.load())
        return Cancel();
    AddOutput(text, ZEL_SYSTEM_LOG_EX_EVENT_ERROR);
    {
        std::lock_guard lock(m_lock);
        for (const std::string& error : errors)
            m_errorList += "\r\n\t- " + error;
    }
    m_view.ShowMessageBox(text, GetUpdateText(APP_TEXT_CAPTION_ABORTED), ZEL_MB_OK | ZEL_MB_ICONERROR);
    m_link.TerminateReceivingThread();
    SetApplicationState(UPDATER_STATE_FAILED);
    return outcome;
}

void CUpdaterDlg::ClearDeviceInformation()
{
    std::lock_guard lock(m_lock);
    DeviceInformation& d = m_device;
    d.hardwareType = 0;
    for (char* text : { d.mcpuVersion, d.ecpuVersion, d.ccpuVersion, d.kcpuVersion, d.lcpuVersion, d.rcpuVersion,
             d.rcpuModemVersion, d.wcpuVersion, d.veltrixVersion, d.ombraVersion, d.canDriverVersion })
        std::memset(text, 0, 32);
}

// ---------------------------------------------------------------------------------------------
// The update thread

void CUpdaterDlg::SetRecoveryProcedure(RecoveryProcedure procedure)
{
    std::lock_guard lock(m_lock);
    m_recovery = std::move(procedure);
}

void CUpdaterDlg::SetPreflightProcedure(PreflightProcedure procedure)
{
    std::lock_guard lock(m_lock);
    m_preflight = std::move(procedure);
}

void CUpdaterDlg::SetConfirmationListener(ConfirmationListener listener)
{
    std::lock_guard lock(m_lock);
    m_confirmationListener = std::move(listener);
}

void CUpdaterDlg::SetDeviceUnreachable(const std::string& reason, const std::string& nextStep)
{
    std::lock_guard lock(m_lock);
    if (!m_unreachable.empty())
        return; // the first cause stands
    m_unreachable = reason;
    m_nextStep = nextStep;
}

std::string CUpdaterDlg::GetDeviceUnreachable() const
{
    std::lock_guard lock(m_lock);
    return m_unreachable;
}

void CUpdaterDlg::SetTargetProcedure(UpdateTarget target, TargetProcedure procedure)
{
    m_procedures[static_cast<std::size_t>(target)] = std::move(procedure);
}

long CUpdaterDlg::StartUpdateThread()
{
    if (m_updateThreadActive.exchange(true))
        return ZEL_STATUS_BUSY;
    m_updateThread.SetThreadName("Update");
    const long result = m_updateThread.CreateThread(&CUpdaterDlg::UpdateThreadProcedure, this);
    if (result != ZEL_STATUS_SUCCESS) {
        {
            std::lock_guard lock(m_lock);
            m_updateThreadActive.store(false);
        }
        Notify();
    }
    return result;
}

bool CUpdaterDlg::WaitForUpdateThread(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_lock);
    return m_changed.wait_for(lock, timeout, [this] { return !m_updateThreadActive.load(); });
}

long CUpdaterDlg::UpdateThreadProcedure(void* dialog)
{
    static_cast<CUpdaterDlg*>(dialog)->RunUpdateThread();
    return 0;
}

long CUpdaterDlg::StateOfTarget(UpdateTarget target)
{
    switch (target) {
    case UPDATE_TARGET_RCPU: return UPDATER_STATE_RCPU;
    case UPDATE_TARGET_VELTRIX: return UPDATER_STATE_VELTRIX;
    case UPDATE_TARGET_LCPU: return UPDATER_STATE_LCPU;
    case UPDATE_TARGET_MCPU: return UPDATER_STATE_MCPU;
    case UPDATE_TARGET_MCPU_CAN_DRIVER: return UPDATER_STATE_CAN_DRIVER;
    case UPDATE_TARGET_KCPU: return UPDATER_STATE_KCPU;
    case UPDATE_TARGET_ECPU: return UPDATER_STATE_ECPU;
    default: return UPDATER_STATE_CCPU;
    }
}

unsigned long CUpdaterDlg::ErrorTextOfTarget(UpdateTarget target)
{
    switch (target) {
    case UPDATE_TARGET_RCPU: return APP_TEXT_RCPU_NOT_STARTED;
    case UPDATE_TARGET_VELTRIX: return APP_TEXT_VELTRIX_NOT_STARTED;
    case UPDATE_TARGET_LCPU: return APP_TEXT_LCPU_NOT_STARTED;
    case UPDATE_TARGET_MCPU: return APP_TEXT_MCPU_NOT_STARTED;
    case UPDATE_TARGET_MCPU_CAN_DRIVER: return APP_TEXT_CAN_DRIVER_NOT_STARTED;
    case UPDATE_TARGET_KCPU: return APP_TEXT_KCPU_NOT_STARTED;
    case UPDATE_TARGET_ECPU: return APP_TEXT_ECPU_NOT_STARTED;
    default: return APP_TEXT_CCPU_NOT_STARTED;
    }
}

std::string CUpdaterDlg::TargetName(UpdateTarget target)
{
    switch (target) {
    case UPDATE_TARGET_RCPU: return "RCPU";
    case UPDATE_TARGET_VELTRIX: return "Veltrix";
    case UPDATE_TARGET_LCPU: return "LCPU";
    case UPDATE_TARGET_MCPU: return "MCPU";
    case UPDATE_TARGET_MCPU_CAN_DRIVER: return "MCPU CAN Driver";
    case UPDATE_TARGET_KCPU: return "KCPU";
    case UPDATE_TARGET_ECPU: return "ECPU";
    default: return "CCPU";
    }
}

const char* CUpdaterDlg::TargetOutcomeName(TargetOutcome outcome)
{
    switch (outcome) {
    case TargetOutcome::Updated: return "updated";
    case TargetOutcome::Failed: return "failed";
    case TargetOutcome::NotStarted: return "not-started";
    case TargetOutcome::Skipped: return "skipped";
    }
    return "";
}

const char* CUpdaterDlg::VerificationName(Verification verification)
{
    switch (verification) {
    case Verification::NotAsked: return "not-asked";
    case Verification::Verified: return "verified";
    case Verification::NotVerified: return "not-verified";
    }
    return "";
}

const char* CUpdaterDlg::ConfirmationName(Confirmation confirmation)
{
    switch (confirmation) {
    case Confirmation::NotAsked: return "not-asked";
    case Confirmation::Confirmed: return "confirmed";
    case Confirmation::Unconfirmed: return "unconfirmed";
    case Confirmation::NotConfirmed: return "not-confirmed";
    }
    return "";
}

const char* CUpdaterDlg::StateName(long state)
{
    switch (state) {
    case UPDATER_STATE_READY: return "ready";
    case UPDATER_STATE_PREPARING: return "preparing";
    case UPDATER_STATE_CCPU: return "ccpu";
    case UPDATER_STATE_KCPU: return "kcpu";
    case UPDATER_STATE_LCPU: return "lcpu";
    case UPDATER_STATE_MCPU: return "mcpu";
    case UPDATER_STATE_CAN_DRIVER: return "mcpu-can-driver";
    case UPDATER_STATE_ECPU: return "ecpu";
    case UPDATER_STATE_RCPU: return "rcpu";
    case UPDATER_STATE_VELTRIX: return "veltrix";
    case UPDATER_STATE_FAILED: return "failed";
    case UPDATER_STATE_SUCCEEDED: return "succeeded";
    default: return "unknown";
    }
}

void CUpdaterDlg::RunTarget(UpdateTarget target)
{
    if (m_cancelRequested.load()) {
        const TargetResult skipped{ target, TargetName(target), TargetOutcome::Skipped,
            GetUpdateText(APP_TEXT_STOPPED_BEFORE_TARGET) };
        ReportTargetResult(skipped);
        return;
    }
    SetApplicationState(StateOfTarget(target));
    SetProgress(0);
    const TargetProcedure& procedure = m_procedures[static_cast<std::size_t>(target)];
    const long result = procedure ? procedure(*this, target) : ZEL_STATUS_NOT_IMPLEMENTED;
    if (result == TARGET_ERRORS_REPORTED)
        return;
    ReportTargetResult({ target, TargetName(target),
        result == ZEL_STATUS_SUCCESS ? TargetOutcome::Updated : TargetOutcome::Failed, {} });
}

void CUpdaterDlg::ReportTargetResult(const TargetResult& result, const std::string& text)
{
    std::string line;
    if (result.outcome != TargetOutcome::Updated) {
        line = text.empty() ? GetUpdateText(ErrorTextOfTarget(result.target)) : text;
        // Which of the expanders it was, by name and type.
        if (result.expanderType != 0) {
            const std::string full = ExpanderName(result.expanderType);
            const std::string bare = "ECPU " + GetZELECPUTypeAsString(result.expanderType);
            if (const std::string::size_type at = line.find(bare); at != std::string::npos)
                line.replace(at, bare.size(), full);
            else
                line += " " + full + (result.step.empty() ? "." : ":");
        }
        if (!result.step.empty())
            line += " " + result.step;
        AddOutput(line, ZEL_SYSTEM_LOG_EX_EVENT_ERROR);
    }
    std::lock_guard lock(m_lock);
    m_results.push_back(result);
    if (!line.empty())
        m_errorList += "\r\n\t- " + line;
}

std::vector<TargetResult> CUpdaterDlg::GetTargetResults() const
{
    std::lock_guard lock(m_lock);
    return m_results;
}

bool CUpdaterDlg::WaitForReady(ReadyFlag flag, std::chrono::steady_clock::time_point deadline)
{
    StampUpdateThread();
    std::unique_lock lock(m_lock);
    return m_changed.wait_until(lock, deadline, [this, flag] { return m_ready[flag].load() != 0; });
}

bool CUpdaterDlg::WaitForExpandersFound(std::chrono::steady_clock::time_point deadline)
{
    StampUpdateThread();
    std::unique_lock lock(m_lock);
    const bool found = m_changed.wait_until(lock, deadline, [this] { return m_expandersFound.load() != 0; });
    lock.unlock();
    StampUpdateThread();
    return found;
}

_MCPU_CAN_DRIVER CUpdaterDlg::GetCANDriver() const
{
    std::lock_guard lock(m_lock);
    return m_canDrivers[0];
}

void CUpdaterDlg::RunUpdateThread()
{
    AddOutput(GetUpdateText(APP_TEXT_THREAD_STARTED), ZEL_SYSTEM_LOG_EX_EVENT_INFORMATION);
    m_updateThreadId.store(std::this_thread::get_id());
    {
        std::lock_guard lock(m_lock);
        m_progressStamps = true;
    }
    m_updateThread.UpdateStatus();

    const bool update = !m_recoveryFlash || RecoverAndStartAgain();
    static constexpr UpdateTarget kOrder[] = { UPDATE_TARGET_RCPU, UPDATE_TARGET_VELTRIX, UPDATE_TARGET_LCPU,
        UPDATE_TARGET_MCPU, UPDATE_TARGET_MCPU_CAN_DRIVER, UPDATE_TARGET_KCPU, UPDATE_TARGET_ECPU,
        UPDATE_TARGET_CCPU_TYPE1, UPDATE_TARGET_CCPU_TYPE2, UPDATE_TARGET_CCPU_TYPE9 };
    for (const UpdateTarget target : kOrder) {
        if (!update)
            break;
        if (m_plan.selection[static_cast<std::size_t>(target)] != 0)
            RunTarget(target);
        m_updateThread.UpdateStatus();
    }
    if (update)
        ConfirmUpdatedTargets();

    AddOutput(GetUpdateText(APP_TEXT_THREAD_FINISHED), ZEL_SYSTEM_LOG_EX_EVENT_INFORMATION);
    m_link.TerminateReceivingThread();
    EndTrafficDumpPlugin();
    {
        // No late progress message may list the ending thread with the monitor again.
        std::lock_guard lock(m_lock);
        m_progressStamps = false;
    }
    m_updateThreadId.store(std::thread::id());
    m_updateThread.EndOfThread();
    // A start that ended after a recovery keeps what it learnt, as one on the dialog's thread does.
    if (update)
        ClearDeviceInformation();

    // A start after a recovery that ended before the update has shown why, as on the dialog's thread.
    const std::string errors = GetErrorList();
    if (update && !errors.empty()) {
        SetApplicationState(UPDATER_STATE_FAILED);
        m_view.ShowMessageBox(FinalReport(true), GetUpdateText(APP_TEXT_CAPTION_FAILED), ZEL_MB_OK | ZEL_MB_ICONERROR);
    } else if (update) {
        SetApplicationState(UPDATER_STATE_SUCCEEDED);
        m_view.ShowMessageBox(
            FinalReport(false), GetUpdateText(APP_TEXT_CAPTION_SUCCEEDED), ZEL_MB_OK | ZEL_MB_ICONINFORMATION);
    }
    if (update)
        m_view.RequestClose();
    {
        std::lock_guard lock(m_lock);
        m_updateThreadActive.store(false);
    }
    Notify();
}

bool CUpdaterDlg::RecoverAndStartAgain()
{
    const std::function<RecoveryResult()> flash = std::exchange(m_recoveryFlash, nullptr);
    const RecoveryResult flashed = flash();
    m_recoveredThisStart = true;
    StartOutcome outcome = StartOutcome::Failed;
    if (flashed.kind != RecoveryResult::Recovered) {
        outcome = Fail(std::string(GetUpdateText(APP_TEXT_DEVICE_UNKNOWN)) + "\r\n\r\n" + flashed.message);
    } else {
        SetApplicationState(UPDATER_STATE_PREPARING);
        SetProgress(0);
        outcome = GatherInformation();
        if (outcome == StartOutcome::UpdateStarted)
            outcome = PlanAndAsk();
    }
    m_startOutcome.store(outcome);
    return outcome == StartOutcome::UpdateStarted;
}

// ---------------------------------------------------------------------------------------------
// What the device confirms

namespace {

bool SameVersion(const std::string& reported, const std::string& file)
{
    CZELFileHeader& files = GetZELFileHeader();
    const long a = files.GetVersionAsInteger(reported.c_str());
    const long b = files.GetVersionAsInteger(file.c_str());
    return a != 0 ? a == b : reported == file;
}

} // namespace

std::string CUpdaterDlg::ReportedVersion(const TargetResult& result, const DeviceInformation& device)
{
    switch (result.target) {
    case UPDATE_TARGET_CCPU_TYPE1:
    case UPDATE_TARGET_CCPU_TYPE2:
    case UPDATE_TARGET_CCPU_TYPE9: return ZELHeaderText(device.ccpuVersion);
    case UPDATE_TARGET_KCPU: return ZELHeaderText(device.kcpuVersion);
    case UPDATE_TARGET_LCPU: return ZELHeaderText(device.lcpuVersion);
    case UPDATE_TARGET_MCPU: return ZELHeaderText(device.mcpuVersion);
    case UPDATE_TARGET_MCPU_CAN_DRIVER: return ZELHeaderText(device.canDriverVersion);
    case UPDATE_TARGET_RCPU:
        return ZELHeaderText(device.ombraPresent != 0 ? device.ombraVersion : device.rcpuVersion);
    case UPDATE_TARGET_VELTRIX: return ZELHeaderText(device.veltrixVersion);
    case UPDATE_TARGET_ECPU: {
        // Its own place in the table first; the device may list its expanders in another order.
        const int index = result.expanderIndex;
        if (index >= 0 && index < DEVICE_EXPANDER_TABLE_SIZE && device.expanders[index].type == result.expanderType)
            return ZELHeaderText(device.expanders[index].version);
        for (const ExpanderEntry& entry : device.expanders)
            if (entry.type == result.expanderType)
                return ZELHeaderText(entry.version);
        return {};
    }
    default: return {};
    }
}

std::string CUpdaterDlg::IdentifyAgain()
{
    if (!m_link.IsReceivingThreadRunning() && m_link.InitializeReceivingThread() != ZEL_STATUS_SUCCESS)
        return GetUpdateText(APP_TEXT_NO_ANSWER_AFTER_UPDATE) + (": " + m_link.GetLastOpenErrorText());
    // The versions must come from answers given now, not from the start's.
    ClearDeviceInformation();
    const std::string noAnswer = GetUpdateText(APP_TEXT_NO_ANSWER_AFTER_UPDATE);
    const auto ask = [&](long first, long target, const Builder& build) {
        return SendAndWait(first, target, build) == ZEL_STATUS_SUCCESS ? std::string() : noAnswer;
    };
    switch (m_protocol.load()) {
    case ZEL_PROTOCOL_VELTRIX:
        return ask(1, 2, [](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqGetVeltrixDeviceInfo(b); });
    case ZEL_PROTOCOL_OMBRA:
        return ask(1, 2, [](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqGetOmbraDeviceInfo(b); });
    case ZEL_PROTOCOL_CCPU2:
        return ask(1, 2, [](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqGetCCPU2DeviceInfo(b); });
    case ZEL_PROTOCOL_MCPU:
    case ZEL_PROTOCOL_MCPU_CRC:
        if (!GetSettings().mcpuMode)
            return ask(13, 14, [](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqBoardInfo(b); });
        {
            std::lock_guard lock(m_lock);
            m_device.moduleListReceived = 0;
        }
        return ask(17, 18, [](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqModuleList(b); });
    default:
        break;
    }
    ArmRequestStep(1);
    Send([](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqGetDeviceInfo(b); });
    Request rcpu = Send([](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqGetRCPUDeviceInfo(b); });
    if (WaitForRequestStep(1, 2, rcpu.bytes, rcpu.length) != ZEL_STATUS_SUCCESS)
        return noAnswer;
    const std::uint16_t type = GetDeviceInformation().hardwareType;
    if (IsQtr(type) || IsVhx(type))
        return GatherExpanders();
    return {};
}

void CUpdaterDlg::ConfirmUpdatedTargets()
{
    std::vector<TargetResult> results = GetTargetResults();
    if (std::none_of(results.begin(), results.end(),
            [](const TargetResult& r) { return r.outcome == TargetOutcome::Updated && !r.to.empty(); }))
        return;
    const Clock::time_point start = Clock::now();
    std::string failure = GetDeviceUnreachable();
    if (failure.empty()) {
        m_confirming.store(true);
        failure = IdentifyAgain();
        m_confirming.store(false);
    }
    const DeviceInformation device = GetDeviceInformation();
    std::vector<std::string> lines;
    for (TargetResult& result : results) {
        // Without the file's version there is nothing to hold the device's word against.
        if (result.outcome != TargetOutcome::Updated || result.to.empty())
            continue;
        const std::string name = result.expanderType != 0 ? ExpanderName(result.expanderType) : result.name;
        const std::string reported = failure.empty() ? ReportedVersion(result, device) : std::string();
        if (!failure.empty() || reported.empty()) {
            result.confirmation = Confirmation::NotConfirmed;
            result.confirmationNote = failure.empty() ? GetUpdateText(APP_TEXT_NOT_REPORTED) : failure;
        } else if (SameVersion(reported, result.to)) {
            result.confirmation = Confirmation::Confirmed;
            result.reportedVersion = reported;
        } else {
            // The transfer ended, but the processor does not run the new firmware: not updated.
            char line[512];
            std::snprintf(line, sizeof line, GetUpdateText(APP_TEXT_UNCONFIRMED), name.c_str(), reported.c_str(),
                result.to.c_str());
            result.confirmation = Confirmation::Unconfirmed;
            result.reportedVersion = reported;
            result.outcome = TargetOutcome::Failed;
            result.step = line;
            lines.emplace_back(line);
        }
        AddOutput(name + ": " + ConfirmationName(result.confirmation)
                + (result.reportedVersion.empty() ? "" : " (" + result.reportedVersion + ")")
                + (result.confirmationNote.empty() ? "" : " (" + result.confirmationNote + ")"),
            result.confirmation == Confirmation::Unconfirmed ? ZEL_SYSTEM_LOG_EX_EVENT_ERROR
                                                             : ZEL_SYSTEM_LOG_EX_EVENT_INFORMATION);
    }
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    AddOutput("The device was asked for its versions after the update in " + std::to_string(took.count()) + " ms.",
        ZEL_SYSTEM_LOG_EX_EVENT_INFORMATION);
    ConfirmationListener listener;
    {
        std::lock_guard lock(m_lock);
        m_results = results;
        for (const std::string& line : lines)
            m_errorList += "\r\n\t- " + line;
        // Starting again is no remedy for a file the processor does not take.
        if (!lines.empty() && m_nextStep.empty())
            m_nextStep = GetUpdateText(APP_TEXT_NEXT_CHECK_FILE);
        listener = m_confirmationListener;
    }
    if (listener)
        listener(results);
}

std::string CUpdaterDlg::FinalReport(bool failed) const
{
    std::string text;
    std::string nextStep;
    std::vector<TargetResult> results;
    {
        std::lock_guard lock(m_lock);
        // The box lists the errors without the log's tab.
        if (failed) {
            text = GetUpdateText(APP_TEXT_UPDATE_FAILED_BECAUSE);
            std::string::size_type at = 0;
            const std::string separator = "\r\n\t- ";
            std::string list = m_errorList;
            while ((at = list.find(separator, at)) != std::string::npos) {
                list.replace(at, separator.size(), "\r\n- ");
                at += 4;
            }
            text += list;
        } else {
            text = GetUpdateText(APP_TEXT_UPDATE_COMPLETED);
        }
        nextStep = m_nextStep;
        results = m_results;
    }
    // What was updated but could not be checked is said, not hidden in the log.
    std::string notes;
    for (const TargetResult& result : results) {
        if (result.outcome != TargetOutcome::Updated)
            continue;
        const std::string name = result.expanderType != 0 ? ExpanderName(result.expanderType) : result.name;
        char line[512];
        if (result.verification == Verification::NotVerified) {
            std::snprintf(line, sizeof line, GetUpdateText(APP_TEXT_NOT_VERIFIED), name.c_str(),
                result.verificationNote.c_str());
            notes += std::string("\r\n") + line;
        }
        if (result.confirmation == Confirmation::NotConfirmed) {
            std::snprintf(line, sizeof line, GetUpdateText(APP_TEXT_NOT_CONFIRMED), name.c_str(),
                result.confirmationNote.c_str());
            notes += std::string("\r\n") + line;
        }
    }
    if (!notes.empty())
        text += "\r\n" + notes;
    if (failed)
        text += "\r\n\r\n" + (nextStep.empty() ? std::string(GetUpdateText(APP_TEXT_NEXT_START_AGAIN)) : nextStep);
    return text;
}
