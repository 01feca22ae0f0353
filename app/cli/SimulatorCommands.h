#pragma once

#include <CLI/CLI.hpp>

// The commands that play the device themselves (`sim`, `demo`) where the platform can: they need
// a pseudo-terminal.
void RegisterSimulatorCommands(CLI::App& app);
