#pragma once

namespace CLI {
class App;
}

// Adds `tarn demo [--device qtr1|vhx360]`: the whole update run against the built-in simulator.
void RegisterDemoCommand(CLI::App& app);
