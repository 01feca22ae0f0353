#include "app/cli/SimCommand.h"

#include "sim/CSimScenario.h"
#include "sim/CSimServer.h"
#include "zel/platform/ZELSignals.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>

namespace {

constexpr int EXIT_PROBLEM = 1;

struct SimOptions
{
    std::string scenario;
};

int RunSim(const SimOptions& options)
{
    CSimScenario scenario;
    std::string error;
    if (!options.scenario.empty() && !CSimScenario::Load(options.scenario, scenario, error)) {
        std::cerr << error << '\n';
        return EXIT_PROBLEM;
    }
    // Before the server's thread starts, so that it inherits the blocked signals.
    if (ZELPlatform::BlockStopSignals() != 0) {
        std::cerr << "The simulator cannot take over SIGINT and SIGTERM.\n";
        return EXIT_PROBLEM;
    }
    CSimServer server(std::move(scenario));
    if (const int failure = server.Start(); failure != 0) {
        std::cerr << "The simulator cannot open a pseudo-terminal: " << std::strerror(failure) << '\n';
        return EXIT_PROBLEM;
    }
    // The first line is the port to hand to the update program; scripts read it.
    std::cout << server.Path() << std::endl;
    // Run in the background of a shell, standard input is not ours to read: signals end it then.
    const bool inputEnds = ZELPlatform::InputCanEnd();
    std::cerr << "Simulated device on " << server.Path() << " (" << server.TerminalPath() << "); stop with "
              << (inputEnds ? "Ctrl-C or by closing standard input.\n" : "SIGINT or SIGTERM.\n");
    ZELPlatform::WaitForStopRequest(true);
    server.Stop();
    return 0;
}

void Finish(int code)
{
    if (code != 0)
        throw CLI::RuntimeError(code);
}

} // namespace

void RegisterSimCommand(CLI::App& app)
{
    auto options = std::make_shared<SimOptions>();
    CLI::App* sim = app.add_subcommand("sim",
        "Start the device simulator on a pseudo-terminal and print its path on the first line");
    sim->add_option("--scenario", options->scenario, "JSON scenario: the device and the faults of its line")
        ->check(CLI::ExistingFile);
    sim->callback([options] { Finish(RunSim(*options)); });
}
