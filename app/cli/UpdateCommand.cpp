#include "app/cli/UpdateCommand.h"

#include "app/cli/CStopWatcher.h"

#include "app/core/CSerialPortLink.h"
#include "app/core/CUpdateJournal.h"
#include "app/core/CUpdateProcedures.h"
#include "app/core/CUpdaterApp.h"
#include "app/core/CUpdaterDlg.h"
#include "app/core/UpdateTexts.h"
#include "zel/firmware/CZELFileHeader.h"
#include "zel/foundation/CZELLanguage.h"
#include "zel/foundation/ZELConversions.h"
#include "zel/foundation/ZELMessageBox.h"
#include "zel/foundation/ZELStatus.h"
#include "zel/log/CZELSystemLogEx.h"
#include "zel/platform/CZELEvent.h"
#include "zel/platform/CZELTerminalInput.h"
#include "zel/platform/ZELProcess.h"
#include "zel/platform/ZELSignals.h"
#include "zel/stm32/CZELSTM32BootLoader.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int EXIT_DONE = 0;
constexpr int EXIT_FAILED = 1;

enum class Answer
{
    Ask,
    Yes,
    No,
};

struct UpdateOptions
{
    std::string port;
    bool yes = false;
    bool no = false;
    std::string language;
    bool json = false;
    bool verify = false;
};

// Version of the --json object of tarn update and tarn check (docs/json.md): raised when a field
// changes its meaning or goes away.
constexpr int kJsonSchema = 1;

// Texts of the program use \r\n; a terminal wants \n.
std::string ForTerminal(std::string text)
{
    std::string::size_type at = 0;
    while ((at = text.find("\r\n", at)) != std::string::npos)
        text.erase(at, 1);
    return text;
}

bool IsStartFailure(const std::string& caption, unsigned int style)
{
    return (style & 0xF0) == ZEL_MB_ICONERROR && caption == GetUpdateText(APP_TEXT_CAPTION_ABORTED);
}

// The command line's face of the dialog: message boxes become caption and text, a question is
// answered by the option or on the terminal, the progress is a bar on a terminal and plain lines
// elsewhere. With --json every human line goes to standard error. For tarn check the boxes are
// kept for its report instead, and the plan question is answered No without being shown.
class CliView : public IUpdateView
{
public:
    CliView(bool json, Answer answer, bool checkOnly = false)
        : m_out(json ? std::cerr : std::cout)
        , m_answer(answer)
        , m_checkOnly(checkOnly)
        , m_barOnTerminal(ZELPlatform::IsStandardStreamTerminal(2))
    {
    }

    struct Box
    {
        std::string text;
        std::string caption;
        unsigned int style = 0;
    };

    void SetStatusText(const std::string& text) override
    {
        std::lock_guard lock(m_mutex);
        m_percent = -1; // each target's bar starts anew
        if (m_promptOpen) {
            m_held.push_back("Status: " + text);
            return;
        }
        EndBar();
        m_out << "Status: " << text << std::endl;
    }
    void SetProgress(int percent) override
    {
        std::lock_guard lock(m_mutex);
        // Nothing is drawn over an open question; the bar comes back with the next step.
        if (percent == m_percent || m_promptOpen)
            return;
        m_percent = percent;
        if (m_barOnTerminal) {
            const int filled = percent / 5;
            std::cerr << "\r[" << std::string(static_cast<std::size_t>(filled), '#')
                      << std::string(static_cast<std::size_t>(20 - filled), ' ') << "] " << percent << "%" << std::flush;
            m_barShown = true;
        } else {
            m_out << "Progress: " << percent << "%" << std::endl;
        }
    }
    int ShowMessageBox(const std::string& text, const std::string& caption, unsigned int style) override
    {
        const bool question = (style & 0x0F) == ZEL_MB_YESNO;
        if (!question) {
            // A box is what the run came to: a question still open no longer matters.
            WithdrawQuestion("(withdrawn)");
            std::unique_lock lock(m_mutex);
            m_promptFree.wait(lock, [this] { return !m_promptOpen; });
            m_boxes.push_back({ text, caption, style });
            if (m_checkOnly)
                return ZEL_IDOK;
            EndBar();
            m_out << caption << ":\n" << ForTerminal(text) << std::endl;
            return ZEL_IDOK;
        }
        const bool planQuestion = isPlanQuestion && isPlanQuestion(text);
        if (m_checkOnly && planQuestion)
            return ZEL_IDNO; // the check's own report shows the plan
        const std::string shown = caption + ":\n" + ForTerminal(text);
        if (m_answer != Answer::Ask) {
            std::lock_guard lock(m_mutex);
            EndBar();
            m_out << shown << "\n" << GetUpdateText(m_answer == Answer::Yes ? APP_TEXT_BUTTON_YES : APP_TEXT_BUTTON_NO)
                  << std::endl;
            return m_answer == Answer::Yes ? ZEL_IDYES : ZEL_IDNO;
        }
        return Ask(shown) ? ZEL_IDYES : ZEL_IDNO;
    }
    void SetCOMPortText(const std::string&) override {}
    void EnableStartButton(bool) override {}
    void EnablePortField(bool) override {}
    void RequestClose() override { closed.Set(); }

    bool CanAsk() const { return m_input.IsInteractive(); }

    // Asks a yes/no question on the terminal. No terminal, the end of the input or a question
    // withdrawn (Ctrl-C, the run ended) is a No. One question at a time: a new one withdraws the
    // one still open.
    bool Ask(const std::string& question)
    {
        {
            std::unique_lock lock(m_mutex);
            EndBar();
            if (m_questionsClosed)
                return false;
            if (!m_input.IsInteractive()) {
                m_out << question << std::endl;
                return false;
            }
            WithdrawLocked("");
            m_promptFree.wait(lock, [this] { return !m_promptOpen; });
            const bool german = GetZELLanguage().GetLanguage() == ZEL_LANGUAGE_GERMAN;
            m_out << question << "\n" << (german ? "[j/N] " : "[y/N] ") << std::flush;
            m_promptOpen = true;
            m_withdrawn = false;
        }
        std::string line;
        const CZELTerminalInput::Result read = m_input.ReadLine(line);
        std::lock_guard lock(m_mutex);
        // A withdrawal that came as the line did is the answer all the same (No).
        const bool yes = read == CZELTerminalInput::Result::Line && !m_withdrawn && IsYes(line);
        if (read == CZELTerminalInput::Result::Ended)
            m_out << std::endl;
        m_input.Reset();
        m_promptOpen = false;
        for (const std::string& held : m_held)
            m_out << held << "\n";
        m_held.clear();
        m_out << std::flush;
        m_promptFree.notify_all();
        return yes;
    }

    // Ends the open question with No, writing `answer` after it; false when none was open.
    bool WithdrawQuestion(const std::string& answer)
    {
        std::lock_guard lock(m_mutex);
        return WithdrawLocked(answer);
    }

    // From now on questions are not asked (and one open is withdrawn): the run is over.
    void CloseQuestions()
    {
        std::lock_guard lock(m_mutex);
        m_questionsClosed = true;
        WithdrawLocked("");
    }

    std::vector<Box> Boxes() const
    {
        std::lock_guard lock(m_mutex);
        return m_boxes;
    }

    // Tells whether a question is the plan's "Do you want to install these updates now?".
    std::function<bool(const std::string& text)> isPlanQuestion;
    CZELEvent closed;

private:
    static bool IsYes(std::string answer)
    {
        std::transform(answer.begin(), answer.end(), answer.begin(),
            [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        return answer == "y" || answer == "yes" || answer == "j" || answer == "ja";
    }
    bool WithdrawLocked(const std::string& answer)
    {
        if (!m_promptOpen || m_withdrawn)
            return false;
        m_withdrawn = true;
        m_out << answer << std::endl;
        m_input.Withdraw();
        return true;
    }
    void EndBar()
    {
        if (m_barShown) {
            std::cerr << std::endl;
            m_barShown = false;
        }
    }

    mutable std::mutex m_mutex;
    std::condition_variable m_promptFree;
    std::ostream& m_out;
    Answer m_answer;
    bool m_checkOnly;
    bool m_barOnTerminal;
    bool m_barShown = false;
    int m_percent = -1;
    CZELTerminalInput m_input;
    bool m_promptOpen = false;
    bool m_withdrawn = false;
    bool m_questionsClosed = false;
    std::vector<std::string> m_held; // status lines that came while a question was open
    std::vector<Box> m_boxes;
};

std::string Hex(unsigned value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", value);
    return text;
}

// A text the device or the run did not give is null, never "" or "???".
nlohmann::ordered_json TextOrNull(const std::string& text)
{
    return text.empty() || text == "???" ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(text);
}

std::string HardwareName(std::uint16_t type)
{
    const std::string name = type == 0 ? std::string() : DeviceHardwareName(type);
    return name == "???" ? std::string() : name;
}

std::string ExpanderName(unsigned short type)
{
    const std::string name = GetZELECPUTypeAsString(type);
    return name == "???" ? std::string() : name;
}

// The processors whose versions the device reports, in the order they are shown.
std::vector<std::pair<const char*, std::string>> ProcessorVersions(const DeviceInformation& d)
{
    return { { "CCPU", ZELHeaderText(d.ccpuVersion) }, { "KCPU", ZELHeaderText(d.kcpuVersion) },
        { "LCPU", ZELHeaderText(d.lcpuVersion) }, { "MCPU", ZELHeaderText(d.mcpuVersion) },
        { "ECPU", ZELHeaderText(d.ecpuVersion) }, { "RCPU", ZELHeaderText(d.rcpuVersion) },
        { "RCPU modem", ZELHeaderText(d.rcpuModemVersion) }, { "WCPU", ZELHeaderText(d.wcpuVersion) },
        { "Veltrix", ZELHeaderText(d.veltrixVersion) }, { "Ombra", ZELHeaderText(d.ombraVersion) },
        { "MCPU CAN Driver", ZELHeaderText(d.canDriverVersion) } };
}

struct PlannedTarget
{
    std::string name;
    std::string from;
    std::string to;
    std::string file;
    unsigned short expanderType = 0; // for an expander
};

// The planned targets in the order the update thread flashes them: the remote control's own ECPU
// (type 16) before the expanders flashed through the device.
std::vector<PlannedTarget> PlannedTargets(const UpdatePlan& plan, const DeviceInformation& d, CFirmwareCatalogue& files)
{
    std::vector<PlannedTarget> targets;
    auto add = [&](UpdateTarget target, const std::string& name, const std::string& from, int fileType) {
        if (plan.selection[static_cast<std::size_t>(target)] == 0)
            return;
        const FirmwareSlot& file = files.Slot(fileType);
        targets.push_back({ name, from, ZELHeaderText(file.header.version), file.path });
    };
    auto addExpanders = [&](bool remoteControl) {
        if (plan.selection[UPDATE_TARGET_ECPU] == 0)
            return;
        const FirmwareSlot& file = files.Slot(6);
        for (const ExpanderEntry& entry : d.expanders) {
            if (entry.type == 0)
                break;
            if (entry.selected != 0 && (entry.type == 16) == remoteControl)
                targets.push_back({ "ECPU " + GetZELECPUTypeAsString(entry.type), ZELHeaderText(entry.version),
                    ZELHeaderText(file.header.version), file.path, entry.type });
        }
    };
    if (d.ombraPresent != 0)
        add(UPDATE_TARGET_RCPU, "Ombra Box", ZELHeaderText(d.ombraVersion), 7);
    else
        add(UPDATE_TARGET_RCPU, "RCPU", ZELHeaderText(d.rcpuVersion), 7);
    add(UPDATE_TARGET_VELTRIX, "Veltrix", ZELHeaderText(d.veltrixVersion), 8);
    add(UPDATE_TARGET_LCPU, "LCPU", ZELHeaderText(d.lcpuVersion), 4);
    add(UPDATE_TARGET_MCPU, "MCPU", ZELHeaderText(d.mcpuVersion), 5);
    add(UPDATE_TARGET_MCPU_CAN_DRIVER, "MCPU CAN Driver", ZELHeaderText(d.canDriverVersion), 10);
    add(UPDATE_TARGET_KCPU, "KCPU", ZELHeaderText(d.kcpuVersion), 3);
    addExpanders(true);
    addExpanders(false);
    add(UPDATE_TARGET_CCPU_TYPE1, "CCPU", ZELHeaderText(d.ccpuVersion), 1);
    add(UPDATE_TARGET_CCPU_TYPE2, "CCPU", ZELHeaderText(d.ccpuVersion), 2);
    add(UPDATE_TARGET_CCPU_TYPE9, "CCPU", ZELHeaderText(d.ccpuVersion), 9);
    return targets;
}

nlohmann::ordered_json DeviceJson(const DeviceInformation& d)
{
    nlohmann::ordered_json versions = nlohmann::ordered_json::object();
    for (const auto& [processor, version] : ProcessorVersions(d))
        versions[processor] = TextOrNull(version);
    nlohmann::ordered_json expanders = nlohmann::ordered_json::array();
    for (const ExpanderEntry& entry : d.expanders) {
        if (entry.type == 0)
            break;
        expanders.push_back({ { "type", Hex(entry.type) }, { "name", TextOrNull(ExpanderName(entry.type)) },
            { "version", TextOrNull(ZELHeaderText(entry.version)) }, { "selected", entry.selected != 0 } });
    }
    return {
        { "hardwareType", d.hardwareType == 0 ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(Hex(d.hardwareType)) },
        { "hardwareName", TextOrNull(HardwareName(d.hardwareType)) },
        { "hardwareVersion", TextOrNull(ZELHeaderText(d.hardwareVersion)) },
        { "serialNumber", TextOrNull(ZELHeaderText(d.serialNumber)) },
        { "versions", versions },
        { "expanders", expanders },
    };
}

nlohmann::ordered_json PlanJson(const UpdatePlan& plan, const std::vector<PlannedTarget>& planned)
{
    nlohmann::ordered_json targets = nlohmann::ordered_json::array();
    for (const PlannedTarget& target : planned) {
        nlohmann::ordered_json entry = { { "target", target.name }, { "from", TextOrNull(target.from) },
            { "to", TextOrNull(target.to) }, { "file", TextOrNull(target.file) } };
        if (target.expanderType != 0)
            entry["expanderType"] = Hex(target.expanderType);
        targets.push_back(entry);
    }
    return { { "updateNeeded", plan.updateNeeded }, { "text", ForTerminal(plan.text) }, { "targets", targets } };
}

// What a start came to, in the words of --json (docs/json.md).
std::string OutcomeName(StartOutcome outcome, long state, bool blocked, bool checkOnly)
{
    switch (outcome) {
    case StartOutcome::AlreadyRunning: return "busy";
    case StartOutcome::PortNotAccessible: return "port-not-accessible";
    case StartOutcome::Failed: return blocked ? "blocked" : "failed";
    case StartOutcome::NothingToUpdate: return "up-to-date";
    case StartOutcome::Declined: return checkOnly ? "update-available" : "declined";
    // A run that reached the update thread is "updated" only when every planned target was.
    case StartOutcome::UpdateStarted: return state == UPDATER_STATE_SUCCEEDED ? "updated" : "failed";
    case StartOutcome::Cancelled: return "cancelled";
    case StartOutcome::NoFirmware: return "no-firmware";
    case StartOutcome::RecoveryStarted: return "failed"; // never left after the update thread
    }
    return "failed";
}

// A start refused for what is attached to the device or pressed on it: FS CAN, LBUS, emergency stop.
bool NamesABlocker(const std::string& text)
{
    for (unsigned long id :
        { APP_TEXT_FS_CAN_ATTACHED, APP_TEXT_LBUS_ATTACHED, APP_TEXT_EMERGENCY_PRESSED, APP_TEXT_EMERGENCY_UNKNOWN })
        if (text.find(GetUpdateText(id)) != std::string::npos)
            return true;
    return false;
}

nlohmann::ordered_json TargetResultsJson(const std::vector<TargetResult>& results)
{
    nlohmann::ordered_json targets = nlohmann::ordered_json::array();
    for (const TargetResult& result : results) {
        targets.push_back({ { "target", result.name },
            { "outcome", CUpdaterDlg::TargetOutcomeName(result.outcome) }, { "step", TextOrNull(result.step) },
            { "file", TextOrNull(result.file) }, { "from", TextOrNull(result.from) }, { "to", TextOrNull(result.to) },
            { "bytes", result.bytes }, { "seconds", result.seconds },
            { "verified", CUpdaterDlg::VerificationName(result.verification) },
            { "verificationNote", TextOrNull(result.verificationNote) },
            { "confirmed", CUpdaterDlg::ConfirmationName(result.confirmation) },
            { "reportedVersion", TextOrNull(result.reportedVersion) },
            { "confirmationNote", TextOrNull(result.confirmationNote) } });
    }
    return targets;
}

// Each failure once: the dialog's error list (every failure of the start and the targets is on it),
// then a port that could not be opened, with its own reason; that box is shown before the start begins.
std::vector<std::string> Errors(const std::string& list, const std::vector<CliView::Box>& boxes,
    const std::string& portError)
{
    std::vector<std::string> errors;
    const std::string separator = "\r\n\t- ";
    std::string::size_type at = list.find(separator);
    while (at != std::string::npos) {
        const std::string::size_type next = list.find(separator, at + separator.size());
        errors.push_back(ForTerminal(list.substr(
            at + separator.size(), next == std::string::npos ? next : next - at - separator.size())));
        at = next;
    }
    for (const CliView::Box& box : boxes) {
        if (!IsStartFailure(box.caption, box.style) || box.text != GetUpdateText(APP_TEXT_PORT_NOT_ACCESSIBLE))
            continue;
        std::string error = ForTerminal(box.text);
        if (box.text == GetUpdateText(APP_TEXT_PORT_NOT_ACCESSIBLE) && !portError.empty())
            error += " " + portError;
        if (std::find(errors.begin(), errors.end(), error) == errors.end())
            errors.push_back(error);
    }
    return errors;
}

// tarn check in words: the device, the plan in the order of flashing, and what the check came to.
void PrintCheck(std::ostream& out, const DeviceInformation& d, const std::vector<PlannedTarget>& planned,
    const UpdatePlan& plan, const std::string& outcome, const std::vector<std::string>& errors)
{
    if (d.hardwareType != 0) {
        const std::string name = HardwareName(d.hardwareType);
        out << "Device: " << (name.empty() ? "unknown hardware" : name) << " (" << Hex(d.hardwareType) << ")";
        if (!ZELHeaderText(d.serialNumber).empty())
            out << ", serial number " << ZELHeaderText(d.serialNumber);
        out << "\n";
        if (!ZELHeaderText(d.hardwareVersion).empty())
            out << "  hardware version  " << ZELHeaderText(d.hardwareVersion) << "\n";
        for (const auto& [processor, version] : ProcessorVersions(d))
            if (!version.empty())
                out << "  " << processor << std::string(18 - std::string(processor).size(), ' ') << version << "\n";
        for (const ExpanderEntry& entry : d.expanders) {
            if (entry.type == 0)
                break;
            const std::string name = ExpanderName(entry.type);
            out << "  expander " << (name.empty() ? "of unknown type" : name) << " (type " << entry.type << ")";
            if (!ZELHeaderText(entry.version).empty())
                out << "  " << ZELHeaderText(entry.version);
            out << "\n";
        }
    } else {
        out << "Device: not identified\n";
    }
    if (outcome == "update-available") {
        out << "Plan, in the order of flashing:\n";
        int number = 1;
        for (const PlannedTarget& target : planned) {
            out << "  " << number++ << ". " << target.name;
            if (target.expanderType != 0)
                out << ", type " << target.expanderType;
            out << " (" << target.from << " -> " << target.to << "), " << GetUpdateText(APP_TEXT_FILE) << " "
                << target.file << "\n";
        }
        out << "Result: an update is available; tarn update installs it.\n";
    } else if (outcome == "up-to-date") {
        out << ForTerminal(plan.text) << "\n";
        out << "Result: up to date.\n";
    } else {
        for (const std::string& error : errors)
            out << error << "\n";
        out << "Result: " << outcome << ".\n";
    }
    out << std::flush;
}

// Ctrl-C and SIGTERM. At an open question the signal answers No. While the device is identified
// the start ends cleanly. While the update thread runs, a person at the terminal who pressed
// Ctrl-C is asked first, since a processor may be left in its bootloader; a SIGTERM, or any stop
// where nobody can be asked, stops the update after the current processor.
class StopHandler
{
public:
    StopHandler(CUpdaterDlg& dialog, CliView& view)
        : m_dialog(dialog)
        , m_view(view)
    {
    }
    ~StopHandler()
    {
        m_view.CloseQuestions();
        for (std::thread& asker : m_askers)
            asker.join();
    }
    StopHandler(const StopHandler&) = delete;
    StopHandler& operator=(const StopHandler&) = delete;

    // On the watcher's thread, which must stay free for the next signal.
    void OnStop(ZELPlatform::StopSignal which)
    {
        if (m_view.WithdrawQuestion(GetUpdateText(APP_TEXT_BUTTON_NO)))
            return;
        if (!m_dialog.IsUpdateThreadRunning()) {
            m_dialog.RequestCancel();
            return;
        }
        if (which == ZELPlatform::StopSignal::Terminate || !m_view.CanAsk()) {
            std::cerr << "\n"
                      << (which == ZELPlatform::StopSignal::Terminate ? "SIGTERM" : "SIGINT")
                      << ": the update stops after the current processor." << std::endl;
            m_dialog.RequestCancel();
            return;
        }
        // Asked on a thread of its own; a question still being withdrawn makes way for it.
        m_askers.emplace_back([this] {
            if (m_view.Ask(ForTerminal(GetUpdateText(APP_TEXT_STOP_AFTER_CURRENT))))
                m_dialog.RequestCancel();
        });
    }

private:
    CUpdaterDlg& m_dialog;
    CliView& m_view;
    std::vector<std::thread> m_askers; // one per question, joined at the end
};

int RunUpdate(const UpdateOptions& options, bool checkOnly)
{
    // Before any thread starts, so that every thread leaves the signals to the watcher.
    ZELPlatform::BlockStopSignals();

    const Answer answer = checkOnly || options.no ? Answer::No : options.yes ? Answer::Yes : Answer::Ask;
    CliView view(options.json, answer, checkOnly);
    CSerialPortLink link;
    CUpdaterDlg dialog(view, link);
    CUpdateProcedures procedures(dialog);

    DeviceInformation device;
    bool planShown = false;
    view.isPlanQuestion = [&](const std::string& text) {
        // Asked on the thread that planned: the plan is settled.
        if (text != dialog.GetPlan().QuestionText())
            return false;
        // The answer No clears the device information: what the plan rests on is kept here.
        device = dialog.GetDeviceInformation();
        planShown = true;
        return true;
    };

    CUpdaterApp app(dialog);
    app.LoadSettings();
    link.SetSerialPortSettings(options.port, link.GetBaudRateAsID());
    if (!options.language.empty())
        GetZELLanguage().SetLanguage(options.language == "de" ? ZEL_LANGUAGE_GERMAN : ZEL_LANGUAGE_ENGLISH);
    if (options.verify) {
        UpdaterSettings settings = dialog.GetSettings();
        settings.verifyAfterWrite = true;
        dialog.SetSettings(settings);
    }
    app.StartModules();
    app.ScanFirmwareFolder();
    // The log names them too, but an operator reads the console.
    for (const CFirmwareCatalogue::RejectedFile& file : dialog.GetCatalogue().RejectedFiles())
        std::cerr << GetUpdateText(APP_TEXT_FILE_NOT_READ) << ' ' << file.path << " ("
                  << GetUpdateText(APP_TEXT_DETECTED_ERROR) << ' ' << file.cause << ')' << std::endl;

    StartOutcome outcome;
    std::string portError;
    {
        StopHandler stop(dialog, view);
        CStopWatcher watcher([&stop](ZELPlatform::StopSignal which) { stop.OnStop(which); });
        outcome = dialog.StartUpdate();
        if (outcome == StartOutcome::PortNotAccessible) {
            portError = link.GetLastOpenErrorText();
            if (!checkOnly) // the check's report names it
                std::cerr << portError << std::endl;
        }
        if (outcome == StartOutcome::RecoveryStarted) {
            // The processor is flashed again and the device identified anew on the update thread.
            while (!dialog.WaitForUpdateThread(std::chrono::seconds(1))) {
            }
            outcome = dialog.GetStartOutcome();
        }
        if (!planShown)
            device = dialog.GetDeviceInformation();
        if (outcome == StartOutcome::UpdateStarted) {
            // The update thread's last act is the close request.
            while (!view.closed.Wait(std::chrono::seconds(1))) {
            }
            dialog.WaitForUpdateThread(std::chrono::hours(1));
        }
    }

    const long state = dialog.GetApplicationState();
    const std::string logPath = GetZELSystemLogEx().GetFilePath();
    // The settings are the dialog's: the command line's port and language are for this run only.
    app.ShutdownModules();

    std::vector<std::string> errors = Errors(dialog.GetErrorList(), view.Boxes(), portError);
    // The planning answers a hardware it has no rules for with "the device is unknown": that is no
    // plan but a failure.
    if (outcome == StartOutcome::NothingToUpdate && dialog.GetPlan().text == GetUpdateText(APP_TEXT_DEVICE_UNKNOWN)) {
        outcome = StartOutcome::Failed;
        errors.push_back(dialog.GetPlan().text);
    }
    const bool blocked = outcome == StartOutcome::Failed
        && std::any_of(errors.begin(), errors.end(), [](const std::string& error) { return NamesABlocker(error); });
    const std::string outcomeName = OutcomeName(outcome, state, blocked, checkOnly);
    const bool planMade = planShown || outcome == StartOutcome::NothingToUpdate;
    const std::vector<PlannedTarget> planned
        = planMade ? PlannedTargets(dialog.GetPlan(), device, dialog.GetCatalogue()) : std::vector<PlannedTarget>();

    if (options.json) {
        nlohmann::ordered_json result = {
            { "schema", kJsonSchema },
            { "command", checkOnly ? "check" : "update" },
            { "device", DeviceJson(device) },
            { "plan", planMade ? PlanJson(dialog.GetPlan(), planned) : nlohmann::ordered_json(nullptr) },
            { "result",
                { { "outcome", outcomeName }, { "state", state }, { "stateName", CUpdaterDlg::StateName(state) },
                    { "status", GetUpdateText(CUpdaterDlg::GetStateTextId(state)) },
                    { "targets", TargetResultsJson(dialog.GetTargetResults()) }, { "errors", errors } } },
            { "recovery", procedures.GetRecoveryReport().empty()
                    ? nlohmann::ordered_json(nullptr)
                    : nlohmann::ordered_json { { "ran", true }, { "report", procedures.GetRecoveryReport() } } },
            { "log", TextOrNull(logPath) },
        };
        std::cout << result.dump(2) << std::endl;
    } else {
        if (!procedures.GetRecoveryReport().empty())
            std::cout << "Recovery: " << ForTerminal(procedures.GetRecoveryReport()) << std::endl;
        if (checkOnly)
            PrintCheck(std::cout, device, planned, dialog.GetPlan(), outcomeName, errors);
        if (!logPath.empty())
            std::cout << "Log file: " << logPath << std::endl;
    }

    switch (outcome) {
    case StartOutcome::NothingToUpdate:
        return EXIT_DONE;
    case StartOutcome::Declined:
        return checkOnly ? EXIT_DONE : EXIT_FAILED;
    case StartOutcome::UpdateStarted:
        return state == UPDATER_STATE_SUCCEEDED ? EXIT_DONE : EXIT_FAILED;
    default:
        return EXIT_FAILED;
    }
}

struct RecoverOptions
{
    std::string port;
    std::string file;
};

// Flashes a file the operator names into a processor that waits in its bootloader on the port.
int RunRecover(const RecoverOptions& options)
{
    ZELPlatform::BlockStopSignals();
    _FILE_HEADER header {};
    if (const long read = GetZELFileHeader().ReadFileHeader(options.file, &header); read != ZEL_STATUS_SUCCESS) {
        std::cerr << options.file << ": not a sound firmware file (" << GetZELStatusAsString(read) << ")" << std::endl;
        return EXIT_FAILED;
    }
    const std::string target = GetZELFileHeader().GetFileTypeAsString(header.fileType);
    CliView view(false, Answer::Yes);
    CSerialPortLink link;
    CUpdaterDlg dialog(view, link);
    CUpdateProcedures procedures(dialog);
    CUpdaterApp app(dialog);
    app.LoadSettings();
    link.SetSerialPortSettings(options.port, link.GetBaudRateAsID());
    app.StartModules();

    int code = EXIT_FAILED;
    CZELSTM32BootLoader::Identity found;
    const long probed = GetZELSTM32BootLoader().ProbeBootloader(options.port, found);
    if (probed == ZEL_STATUS_NO_CONNECTION) {
        std::cerr << "The port " << options.port << " cannot be opened: " << GetZELSTM32BootLoader().DescribeLastFailure()
                  << std::endl;
    } else if (probed != ZEL_STATUS_SUCCESS) {
        std::cerr << "No bootloader answers on " << options.port
                  << ": nothing was flashed. A device that runs its firmware is updated with \"tarn update\"."
                  << std::endl;
    } else {
        char waiting[256];
        std::snprintf(waiting, sizeof waiting, GetUpdateText(APP_TEXT_BOOTLOADER_WAITING), unsigned(found.chipId),
            unsigned(found.major), unsigned(found.minor));
        std::cout << waiting << "\nFlashing " << options.file << " (" << target << ", "
                  << ZELHeaderText(header.version) << ") ..." << std::endl;
        const long flashed = procedures.FlashWaitingBootloader(options.file, target);
        std::cout << ForTerminal(procedures.GetRecoveryReport()) << std::endl;
        code = flashed == ZEL_STATUS_SUCCESS ? EXIT_DONE : EXIT_FAILED;
    }
    const std::string logPath = GetZELSystemLogEx().GetFilePath();
    app.ShutdownModules();
    if (!logPath.empty())
        std::cout << "Log file: " << logPath << std::endl;
    return code;
}

// The journal of this folder, newest first.
int RunHistory(bool json)
{
    CUpdateJournal journal;
    journal.Load();
    if (!journal.Warning().empty())
        std::cerr << journal.Warning() << std::endl;
    std::vector<JournalEntry> entries = journal.Entries();
    if (json) {
        const nlohmann::json all = nlohmann::json::parse(CUpdateJournal::ToJson({ entries.rbegin(), entries.rend() }));
        std::cout << all.at("entries").dump(2) << std::endl;
        return EXIT_DONE;
    }
    if (entries.empty()) {
        std::cout << "No updates recorded in " << journal.Path() << "." << std::endl;
        return EXIT_DONE;
    }
    for (auto e = entries.rbegin(); e != entries.rend(); ++e) {
        std::cout << e->time << "  " << e->port << "  " << (e->serialNumber.empty() ? "-" : e->serialNumber) << "  "
                  << e->target << "  " << e->version << "  " << e->outcome << " (" << e->step;
        if (e->bytesWritten != 0)
            std::cout << ", " << e->bytesWritten << " bytes";
        std::cout << ")" << (e->recovery ? "  recovery" : "");
        // What the device reported when it was asked after the update.
        if (!e->confirmation.empty())
            std::cout << "  " << e->confirmation << (e->confirmedVersion.empty() ? "" : " " + e->confirmedVersion);
        if (e->LeftInBootloader())
            std::cout << "  left in its bootloader";
        std::cout << "\n";
        if (!e->detail.empty())
            std::cout << "    " << ForTerminal(e->detail) << "\n";
    }
    std::cout << std::flush;
    return EXIT_DONE;
}

void Finish(int code)
{
    if (code != 0)
        throw CLI::RuntimeError(code);
}

void AddCommonOptions(CLI::App* command, UpdateOptions& options)
{
    command->add_option("--port", options.port, "serial port: a path, COMn or a name under /dev")->required();
    command->add_flag("--json", options.json, "print the device, the plan and the result as one JSON object");
}

} // namespace

void RegisterUpdateCommands(CLI::App& app)
{
    auto options = std::make_shared<UpdateOptions>();
    CLI::App* update = app.add_subcommand("update", "identify the device, plan and install newer firmware");
    AddCommonOptions(update, *options);
    CLI::Option* yes = update->add_flag("--yes", options->yes, "install the planned updates without asking");
    update->add_flag("--no", options->no, "answer the question with No")->excludes(yes);
    update->add_option("--language", options->language, "language of the texts")->check(CLI::IsMember({ "de", "en" }));
    update->add_flag("--verify", options->verify,
        "read every image flashed over the bootloader back before starting it (setting VerifyAfterWrite)");
    update->callback([options] { Finish(RunUpdate(*options, false)); });

    auto checkOptions = std::make_shared<UpdateOptions>();
    CLI::App* check = app.add_subcommand("check", "identify the device and show the plan; installs nothing");
    AddCommonOptions(check, *checkOptions);
    check->callback([checkOptions] { Finish(RunUpdate(*checkOptions, true)); });

    auto recoverOptions = std::make_shared<RecoverOptions>();
    CLI::App* recover = app.add_subcommand("recover",
        "flash FILE into a processor that waits in its bootloader on PORT (after an interrupted update)");
    recover->add_option("--port", recoverOptions->port, "serial port: a path, COMn or a name under /dev")->required();
    recover->add_option("--file", recoverOptions->file, "the firmware file of that processor")->required();
    recover->callback([recoverOptions] { Finish(RunRecover(*recoverOptions)); });

    auto historyJson = std::make_shared<bool>(false);
    CLI::App* history = app.add_subcommand("history", "list the updates recorded in this folder, newest first");
    history->add_flag("--json", *historyJson, "as a JSON array");
    history->callback([historyJson] { Finish(RunHistory(*historyJson)); });
}
