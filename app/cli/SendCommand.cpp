#include "app/cli/SendCommand.h"

#include "app/cli/CStopWatcher.h"

#include "app/core/CSerialPortLink.h"
#include "app/core/CServiceConsole.h"
#include "app/core/CUpdaterApp.h"
#include "app/core/CUpdaterDlg.h"
#include "app/core/IUpdateView.h"
#include "zel/commands/CZELCommandHelper.h"
#include "zel/commands/CZELPlainComboBox.h"
#include "zel/commands/CZELPlainEdit.h"
#include "zel/commands/CZELPlainStaticText.h"
#include "zel/foundation/ZELConversions.h"
#include "zel/foundation/ZELStatus.h"
#include "zel/platform/CZELEvent.h"
#include "zel/platform/ZELSignals.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

constexpr int EXIT_DONE = 0;
constexpr int EXIT_FAILED = 1;
constexpr int EXIT_USAGE = 2;

struct SendOptions
{
    std::string port;
    std::vector<std::string> arguments; // REQUEST [PARAMETER] [VALUE]
    double seconds = 2.0;
    bool list = false;
    bool allowBootloader = false;
};

// Nothing of an update happens here; the dialog only needs somewhere to show it.
class QuietView : public IUpdateView
{
public:
    void SetStatusText(const std::string&) override {}
    void SetProgress(int) override {}
    int ShowMessageBox(const std::string& text, const std::string& caption, unsigned int) override
    {
        std::cerr << caption << ": " << text << std::endl;
        return 0;
    }
    void SetCOMPortText(const std::string&) override {}
    void EnableStartButton(bool) override {}
    void EnablePortField(bool) override {}
    void RequestClose() override {}
};

std::string Upper(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
    return text;
}

bool IsIndex(const std::string& text)
{
    return !text.empty() && text.size() < 4 && std::all_of(text.begin(), text.end(), [](unsigned char c) {
        return std::isdigit(c);
    });
}

// An entry by its number, its name (any case) or, when `shortName` gives it, a unique short name.
int FindEntry(const std::vector<std::string>& entries, const std::string& wanted,
    std::string (*shortName)(const std::string&))
{
    if (IsIndex(wanted)) {
        const int index = std::atoi(wanted.c_str());
        return index < static_cast<int>(entries.size()) ? index : -1;
    }
    const std::string upper = Upper(wanted);
    int found = -1;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (Upper(entries[i]) == upper)
            return static_cast<int>(i);
        if (shortName && shortName(entries[i]) == upper)
            found = found == -1 ? static_cast<int>(i) : -2; // -2: more than one
    }
    return found;
}

// "CCPU_REQ_GET_EXPANDERS" is also "GET_EXPANDERS".
std::string RequestShortName(const std::string& name)
{
    const std::string::size_type at = name.find("_REQ_");
    return at == std::string::npos ? name : name.substr(at + 5);
}

void PrintList()
{
    for (int i = 0; i < CZELCommandHelper::GetRequestCount(); ++i) {
        std::cout << i << "  " << CZELCommandHelper::GetRequestName(i) << '\n';
        for (int p = 0; p < CZELCommandHelper::GetParameterCount(i); ++p)
            std::cout << "      " << p << "  " << CZELCommandHelper::GetParameterName(i, p) << '\n';
    }
    std::cout << "A request is named by its number, its name or its name after _REQ_ (GET_EXPANDERS).\n"
                 "Requests with a parameter list take the parameter next, then the value; the others take the value "
                 "only.\n";
}

int RunSend(const SendOptions& options)
{
    if (options.list) {
        PrintList();
        return EXIT_DONE;
    }
    if (options.port.empty() || options.arguments.empty()) {
        std::cerr << "tarn send needs --port and a request; `tarn send --list` shows the requests.\n";
        return EXIT_USAGE;
    }

    // The choice first, on windowless controls: a wrong name is found before the port is touched.
    CZELCommandHelper& helper = GetZELCommandHelper();
    CZELPlainComboBox requests;
    CZELPlainComboBox parameters;
    CZELPlainStaticText parameterLabel;
    CZELPlainStaticText valueLabel;
    CZELPlainEdit value;
    helper.FillRequest(&requests);
    const int request = FindEntry(requests.Entries(), options.arguments[0], &RequestShortName);
    if (request < 0) {
        std::cerr << (request == -2 ? "More than one request is named " : "There is no request ") << '"'
                  << options.arguments[0] << "\"; `tarn send --list` shows them.\n";
        return EXIT_USAGE;
    }
    requests.SetCurSel(request);
    helper.FillParameters(&requests, &parameterLabel, &parameters, &valueLabel, &value);
    std::size_t next = 1;
    if (parameters.IsEnabled() && next < options.arguments.size()) {
        const int parameter = FindEntry(parameters.Entries(), options.arguments[next], nullptr);
        if (parameter < 0) {
            std::cerr << '"' << options.arguments[next] << "\" is no parameter of " << requests.Entries()[request]
                      << "; `tarn send --list` shows them.\n";
            return EXIT_USAGE;
        }
        parameters.SetCurSel(parameter);
        ++next;
    }
    if (next < options.arguments.size()) {
        if (!value.IsEnabled()) {
            std::cerr << requests.Entries()[request] << " takes no value.\n";
            return EXIT_USAGE;
        }
        // Strict: a typo must not become another number, least of all 0.
        const std::string& text = options.arguments[next++];
        long long lowest = 0;
        long long highest = 0;
        CZELCommandHelper::GetValueRange(request, parameters.GetCurSel(), lowest, highest);
        long long number = 0;
        if (!ParseZELNumber(text, number) || number < lowest || number > highest) {
            std::cerr << '"' << text << "\" is no value for " << requests.Entries()[request]
                      << ": give a whole number from " << lowest << " to " << highest << ", decimal or 0x hex.\n";
            return EXIT_USAGE;
        }
        value.SetWindowText(std::to_string(number));
    }
    if (next < options.arguments.size()) {
        std::cerr << "Too many arguments after " << requests.Entries()[request] << ".\n";
        return EXIT_USAGE;
    }

    // A processor switched into its bootloader stays there until it is flashed: only on request.
    std::uint8_t packet[CZELCommandHelper::kCommandBufferSize] = {};
    std::uint16_t length = 0;
    if (helper.GetCurrentCommand(&requests, &parameters, &value, packet, &length) == ZEL_STATUS_SUCCESS) {
        const auto bootloaderSwitch = CServiceConsole::FindBootloaderSwitch(packet, length);
        if (bootloaderSwitch && !options.allowBootloader) {
            std::cerr << "This request switches the " << bootloaderSwitch->target
                      << " into its bootloader, where it stays until it is flashed (tarn update or tarn recover). "
                         "Nothing was sent; add --allow-bootloader to send it.\n";
            return EXIT_USAGE;
        }
    }

    ZELPlatform::BlockStopSignals();
    QuietView view;
    CSerialPortLink link;
    CUpdaterDlg dialog(view, link);
    CUpdaterApp app(dialog);
    app.LoadSettings();
    link.SetSerialPortSettings(options.port, link.GetBaudRateAsID());
    app.StartModules();

    std::mutex output;
    CServiceConsole console(link);
    console.AllowBootloaderSwitch(options.allowBootloader);
    console.Start([&output](const std::string& line) {
        std::lock_guard lock(output);
        std::cout << line << std::endl;
    });
    int code = EXIT_DONE;
    if (console.Send(&requests, &parameters, &value) != ZEL_STATUS_SUCCESS) {
        std::cerr << console.GetLastErrorText() << std::endl;
        code = EXIT_FAILED;
    } else {
        CZELEvent stop;
        // Ctrl-C ends the wait early.
        CStopWatcher watcher([&stop] { stop.Set(); });
        stop.Wait(std::chrono::milliseconds(static_cast<long long>(options.seconds * 1000)));
        if (console.GetReceivedCount() == 0) {
            std::cerr << "No answer from the device on " << link.GetCOMPort() << " within " << options.seconds
                      << " s.\n";
            code = EXIT_FAILED;
        }
    }
    console.Terminate();
    app.ShutdownModules();
    return code;
}

} // namespace

void RegisterSendCommand(CLI::App& app)
{
    auto options = std::make_shared<SendOptions>();
    CLI::App* send = app.add_subcommand("send", "send one service request and print what the device answers");
    send->add_option("--port", options->port, "serial port: a path, COMn or a name under /dev");
    send->add_option("arguments", options->arguments, "REQUEST [PARAMETER] [VALUE]");
    send->add_option("--seconds", options->seconds, "how long to print answers (default 2)")
        ->check(CLI::Range(0.0, 3600.0));
    send->add_flag("--list", options->list, "list the requests and their parameters");
    send->add_flag("--allow-bootloader", options->allowBootloader,
        "send a request that switches a processor into its bootloader (recorded in the update journal)");
    send->callback([options] {
        if (const int code = RunSend(*options); code != 0)
            throw CLI::RuntimeError(code);
    });
}
