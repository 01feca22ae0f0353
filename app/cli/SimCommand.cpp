#include "app/cli/SimCommand.h"

#include "sim/CSimScenario.h"
#include "sim/CSimServer.h"
#include "zel/platform/ZELSignals.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int EXIT_PROBLEM = 1;

struct SimOptions
{
    std::string scenario;
    std::string flashDump;
};

void WriteImage(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// What was flashed, for a test on another machine or platform to compare with its images: each
// processor's flash up to its last programmed byte (erased flash reads 0xFF), each expander's and
// the CAN driver's last image. Nothing is written for what was never flashed.
void DumpFlash(CSimServer& server, const std::string& folder)
{
    std::filesystem::create_directories(folder);
    server.Inspect([&](CSimDevice& device) {
        for (std::size_t i = 0; i < CSimDevice::kProcessorCount; ++i) {
            const auto processor = static_cast<CSimDevice::Processor>(i);
            std::vector<std::uint8_t> flash = device.BootLoader(processor).Flash();
            while (!flash.empty() && flash.back() == 0xFF)
                flash.pop_back();
            if (!flash.empty())
                WriteImage(folder + "/" + CSimDevice::ProcessorName(processor) + ".bin", flash);
        }
        for (const std::uint16_t type : device.ExpanderTypesFlashed())
            WriteImage(folder + "/expander-" + std::to_string(type) + ".bin", device.ExpanderImage(type));
        if (!device.ModuleFlashImage().empty())
            WriteImage(folder + "/module.bin", device.ModuleFlashImage());
    });
}

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
    if (!options.flashDump.empty())
        DumpFlash(server, options.flashDump);
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
    sim->add_option("--flash-dump", options->flashDump,
        "Folder to write what was flashed into when the simulator stops (<processor>.bin, expander-<type>.bin, module.bin)");
    sim->callback([options] { Finish(RunSim(*options)); });
}
