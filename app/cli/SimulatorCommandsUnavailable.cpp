#include "app/cli/SimulatorCommands.h"

void RegisterSimulatorCommands(CLI::App& app)
{
    app.footer("The simulator commands sim and demo need a pseudo-terminal and run on Linux; a simulated "
               "device on a Linux machine can be reached from here through a COM port.");
}
