#include "app/cli/SimulatorCommands.h"

#include "app/cli/DemoCommand.h"
#include "app/cli/SimCommand.h"

void RegisterSimulatorCommands(CLI::App& app)
{
    RegisterSimCommand(app);
    RegisterDemoCommand(app);
}
