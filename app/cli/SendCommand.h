#pragma once

namespace CLI {
class App;
}

// Adds `tarn send --port PORT REQUEST [PARAMETER] [VALUE]` and `tarn send --list`.
void RegisterSendCommand(CLI::App& app);
