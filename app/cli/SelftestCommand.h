#pragma once

namespace CLI {
class App;
}

// Adds the hidden `tarn selftest crash|hang|heap` for service staff: it starts the crash handling
// as the program does and provokes the fault, which ends in a report under Dumps and exit code 1.
void RegisterSelftestCommand(CLI::App& app);
