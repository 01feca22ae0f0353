#pragma once

namespace CLI {
class App;
}

// Adds `tarn update --port PORT [--yes|--no] [--language de|en] [--json]` and
// `tarn check --port PORT [--json]`.
void RegisterUpdateCommands(CLI::App& app);
