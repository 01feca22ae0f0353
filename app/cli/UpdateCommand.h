#pragma once

namespace CLI {
class App;
}

// Adds `tarn update --port PORT [--yes|--no] [--language de|en] [--json]` and
// `tarn check --port PORT [--json]`, `tarn recover --port PORT --file FILE` and
// `tarn history [--json]`.
void RegisterUpdateCommands(CLI::App& app);
