#include "app/cli/FwCommand.h"
#include "app/cli/PortsCommand.h"
#include "app/cli/SelftestCommand.h"
#include "app/cli/SendCommand.h"
#include "app/cli/SimulatorCommands.h"
#include "app/cli/UpdateCommand.h"
#include "app/core/CUpdaterApp.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <iostream>

int main(int argc, char** argv)
{
    // Every command that reads ZEL.ini says what in it could not be read.
    CUpdaterApp::SetSettingsWarningReporter([](const std::string& warning) { std::cerr << warning << std::endl; });
    CLI::App app{"Tarn Update: firmware updates for the device family over a serial port"};
    app.set_version_flag("--version", "Tarn Update 1.0.0");
    app.require_subcommand(0, 1);
    RegisterFwCommand(app);
    RegisterUpdateCommands(app);
    RegisterPortsCommand(app);
    RegisterSimulatorCommands(app);
    RegisterSelftestCommand(app);
    RegisterSendCommand(app);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& help) {
        return app.exit(help);
    } catch (const CLI::CallForVersion& version) {
        return app.exit(version);
    } catch (const CLI::RuntimeError& finished) {
        return finished.get_exit_code(); // a command's own result
    } catch (const CLI::ParseError& error) {
        app.exit(error);
        return 2; // wrong usage
    }
    if (app.get_subcommands().empty()) {
        std::fputs(app.help().c_str(), stdout);
        return 0;
    }
    return 0;
}
