#pragma once

namespace CLI {
class App;
}

// Adds `tarn sim [--scenario FILE]`.
void RegisterSimCommand(CLI::App& app);
