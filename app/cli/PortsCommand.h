#pragma once

namespace CLI {
class App;
}

// Adds `tarn ports [--json]`.
void RegisterPortsCommand(CLI::App& app);
