#pragma once

namespace CLI {
class App;
}

// Adds `tarn fw info|verify|pack|unpack`.
void RegisterFwCommand(CLI::App& app);
