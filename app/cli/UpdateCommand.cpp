#include "app/cli/UpdateCommand.h"

#include "app/cli/CStopWatcher.h"

#include "app/core/CSerialPortLink.h"
#include "app/core/CUpdaterApp.h"
#include "app/core/CUpdateJournal.h"
#include "app/core/CUpdateProcedures.h"
#include "zel/firmware/CZELFileHeader.h"
#include "zel/foundation/ZELStatus.h"
#include "zel/stm32/CZELSTM32BootLoader.h"
#include "app/core/CUpdaterDlg.h"
#include "app/core/UpdateTexts.h"
#include "zel/firmware/CZELFileHeader.h"
#include "zel/foundation/ZELStatus.h"
#include "zel/foundation/CZELLanguage.h"
#include "zel/foundation/ZELConversions.h"
#include "zel/foundation/ZELMessageBox.h"
#include "zel/log/CZELSystemLogEx.h"
#include "zel/platform/CZELEvent.h"
#include "zel/platform/ZELProcess.h"
#include "zel/platform/ZELSignals.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <atomic>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>

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

// Texts of the program use \r\n; a terminal wants \n.
std::string ForTerminal(std::string text)
{
    std::string::size_type at = 0;
    while ((at = text.find("\r\n", at)) != std::string::npos)
        text.erase(at, 1);
    return text;
}

// The command line's face of the dialog: message boxes become caption and text, the question is
// answered by the option or on the terminal, the progress is a bar on a terminal and plain lines
// elsewhere. With --json every human line goes to standard error.
class CliView : public IUpdateView
{
public:
    CliView(bool json, Answer answer)
        : m_out(json ? std::cerr : std::cout)
        , m_answer(answer)
        , m_barOnTerminal(ZELPlatform::IsStandardStreamTerminal(2))
    {
    }

    void SetStatusText(const std::string& text) override
    {
        std::lock_guard lock(m_mutex);
        EndBar();
        m_percent = -1; // each target's bar starts anew
        m_out << "Status: " << text << std::endl;
    }
    void SetProgress(int percent) override
    {
        std::lock_guard lock(m_mutex);
        if (percent == m_percent)
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
        std::lock_guard lock(m_mutex);
        EndBar();
        m_out << caption << ":\n" << ForTerminal(text) << std::endl;
        if ((style & 0x0F) != ZEL_MB_YESNO)
            return ZEL_IDOK;
        if (onQuestion)
            onQuestion();
        if (m_answer != Answer::Ask) {
            m_out << (m_answer == Answer::Yes ? "Yes" : "No") << std::endl;
            return m_answer == Answer::Yes ? ZEL_IDYES : ZEL_IDNO;
        }
        return AskOnTerminal() ? ZEL_IDYES : ZEL_IDNO;
    }
    void SetCOMPortText(const std::string&) override {}
    void EnableStartButton(bool) override {}
    void EnablePortField(bool) override {}
    void RequestClose() override { closed.Set(); }

    // Asks a yes/no question on the terminal; no terminal or no answer is a No.
    bool AskOnTerminal()
    {
        if (!ZELPlatform::IsStandardStreamTerminal(0))
            return false;
        m_out << "[y/N] " << std::flush;
        std::string line;
        if (!std::getline(std::cin, line))
            return false;
        return line == "y" || line == "Y" || line == "yes" || line == "j" || line == "ja";
    }

    std::function<void()> onQuestion;
    CZELEvent closed;

private:
    void EndBar()
    {
        if (m_barShown) {
            std::cerr << std::endl;
            m_barShown = false;
        }
    }

    std::mutex m_mutex;
    std::ostream& m_out;
    Answer m_answer;
    bool m_barOnTerminal;
    bool m_barShown = false;
    int m_percent = -1;
};

std::string Hex(unsigned value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", value);
    return text;
}

nlohmann::ordered_json DeviceJson(const DeviceInformation& d)
{
    nlohmann::ordered_json expanders = nlohmann::ordered_json::array();
    for (const ExpanderEntry& entry : d.expanders) {
        if (entry.type == 0)
            break;
        expanders.push_back({ { "type", entry.type }, { "name", GetZELECPUTypeAsString(entry.type) },
            { "version", ZELHeaderText(entry.version) }, { "selected", entry.selected != 0 } });
    }
    return {
        { "hardwareType", Hex(d.hardwareType) },
        { "hardwareName", DeviceHardwareName(d.hardwareType) },
        { "hardwareVersion", ZELHeaderText(d.hardwareVersion) },
        { "serialNumber", ZELHeaderText(d.serialNumber) },
        { "versions",
            { { "CCPU", ZELHeaderText(d.ccpuVersion) }, { "KCPU", ZELHeaderText(d.kcpuVersion) },
                { "LCPU", ZELHeaderText(d.lcpuVersion) }, { "MCPU", ZELHeaderText(d.mcpuVersion) },
                { "ECPU", ZELHeaderText(d.ecpuVersion) }, { "RCPU", ZELHeaderText(d.rcpuVersion) },
                { "RCPU modem", ZELHeaderText(d.rcpuModemVersion) }, { "WCPU", ZELHeaderText(d.wcpuVersion) },
                { "Veltrix", ZELHeaderText(d.veltrixVersion) }, { "Ombra", ZELHeaderText(d.ombraVersion) },
                { "MCPU CAN Driver", ZELHeaderText(d.canDriverVersion) } } },
        { "expanders", expanders },
    };
}

nlohmann::ordered_json PlanJson(const UpdatePlan& plan, const DeviceInformation& d, CFirmwareCatalogue& catalogue)
{
    nlohmann::ordered_json targets = nlohmann::ordered_json::array();
    auto add = [&](UpdateTarget target, const std::string& name, const std::string& from, int slot) {
        if (plan.selection[static_cast<std::size_t>(target)] == 0)
            return;
        const FirmwareSlot& file = catalogue.Slot(slot);
        targets.push_back({ { "target", name }, { "from", from }, { "to", ZELHeaderText(file.header.version) },
            { "file", file.path } });
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
    if (plan.selection[UPDATE_TARGET_ECPU] != 0)
        for (const ExpanderEntry& entry : d.expanders)
            if (entry.type != 0 && entry.selected != 0)
                targets.push_back({ { "target", "ECPU " + GetZELECPUTypeAsString(entry.type) },
                    { "from", ZELHeaderText(entry.version) },
                    { "to", ZELHeaderText(catalogue.Slot(6).header.version) }, { "file", catalogue.Slot(6).path } });
    add(UPDATE_TARGET_CCPU_TYPE1, "CCPU", ZELHeaderText(d.ccpuVersion), 1);
    add(UPDATE_TARGET_CCPU_TYPE2, "CCPU", ZELHeaderText(d.ccpuVersion), 2);
    add(UPDATE_TARGET_CCPU_TYPE9, "CCPU", ZELHeaderText(d.ccpuVersion), 9);
    return { { "updateNeeded", plan.updateNeeded }, { "text", ForTerminal(plan.text) }, { "targets", targets } };
}

// A run that reached the update thread is "updated" only when every planned target was.
const char* OutcomeName(StartOutcome outcome, long state)
{
    switch (outcome) {
    case StartOutcome::AlreadyRunning: return "busy";
    case StartOutcome::PortNotAccessible: return "port not accessible";
    case StartOutcome::Failed: return "failed";
    case StartOutcome::NothingToUpdate: return "nothing to update";
    case StartOutcome::Declined: return "declined";
    case StartOutcome::UpdateStarted: return state == UPDATER_STATE_SUCCEEDED ? "updated" : "failed";
    case StartOutcome::Cancelled: return "cancelled";
    case StartOutcome::NoFirmware: return "no-firmware";
    case StartOutcome::RecoveryStarted: return "failed"; // never left after the update thread
    }
    return "";
}

nlohmann::ordered_json TargetResultsJson(const std::vector<TargetResult>& results)
{
    nlohmann::ordered_json targets = nlohmann::ordered_json::array();
    for (const TargetResult& result : results) {
        nlohmann::ordered_json target = { { "target", result.name },
            { "outcome", CUpdaterDlg::TargetOutcomeName(result.outcome) } };
        if (!result.step.empty())
            target["step"] = result.step;
        targets.push_back(target);
    }
    return targets;
}

nlohmann::ordered_json ErrorsJson(const std::string& list)
{
    nlohmann::ordered_json errors = nlohmann::ordered_json::array();
    const std::string separator = "\r\n\t- ";
    std::string::size_type at = list.find(separator);
    while (at != std::string::npos) {
        const std::string::size_type next = list.find(separator, at + separator.size());
        errors.push_back(list.substr(at + separator.size(), next == std::string::npos ? next : next - at - separator.size()));
        at = next;
    }
    return errors;
}

// Ctrl-C and SIGTERM: while the device is identified the start ends cleanly; while the update thread
// runs the operator is asked first, since a processor may be left in its bootloader.
void OnStopRequest(CUpdaterDlg& dialog, CliView& view)
{
    if (!dialog.IsUpdateThreadRunning()) {
        dialog.RequestCancel();
        return;
    }
    std::cerr << "\n" << ForTerminal(GetUpdateText(APP_TEXT_STOP_AFTER_CURRENT)) << std::endl;
    if (view.AskOnTerminal())
        dialog.RequestCancel();
}

int RunUpdate(const UpdateOptions& options, bool checkOnly)
{
    // Before any thread starts, so that every thread leaves the signals to the watcher.
    ZELPlatform::BlockStopSignals();

    const Answer answer = checkOnly || options.no ? Answer::No : options.yes ? Answer::Yes : Answer::Ask;
    CliView view(options.json, answer);
    CSerialPortLink link;
    CUpdaterDlg dialog(view, link);
    CUpdateProcedures procedures(dialog);

    DeviceInformation device;
    bool planShown = false;
    view.onQuestion = [&] {
        device = dialog.GetDeviceInformation();
        planShown = true;
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
    {
        CStopWatcher watcher([&] { OnStopRequest(dialog, view); });
        outcome = dialog.StartUpdate();
        if (outcome == StartOutcome::PortNotAccessible)
            std::cerr << link.GetLastOpenErrorText() << std::endl;
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

    if (options.json) {
        nlohmann::ordered_json result = {
            { "device", DeviceJson(device) },
            { "plan", planShown || outcome == StartOutcome::NothingToUpdate
                    ? PlanJson(dialog.GetPlan(), device, dialog.GetCatalogue())
                    : nlohmann::ordered_json(nullptr) },
            { "result",
                { { "outcome", OutcomeName(outcome, state) }, { "state", state },
                    { "status", GetUpdateText(CUpdaterDlg::GetStateTextId(state)) },
                    { "targets", TargetResultsJson(dialog.GetTargetResults()) },
                    { "errors", ErrorsJson(dialog.GetErrorList()) } } },
            { "recovery", procedures.GetRecoveryReport().empty()
                    ? nlohmann::ordered_json(nullptr)
                    : nlohmann::ordered_json { { "ran", true }, { "report", procedures.GetRecoveryReport() } } },
            { "log", logPath },
        };
        std::cout << result.dump(2) << std::endl;
    } else {
        if (!procedures.GetRecoveryReport().empty())
            std::cout << "Recovery: " << ForTerminal(procedures.GetRecoveryReport()) << std::endl;
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
