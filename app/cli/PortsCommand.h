#pragma once

#include "zel/platform/ZELSerialPortList.h"

#include <ostream>
#include <vector>

namespace CLI {
class App;
}

// Adds `tarn ports [--json]`.
void RegisterPortsCommand(CLI::App& app);

// Writes a port listing as `tarn ports` shows it, as text or as a JSON array.
void PrintPortList(std::ostream& out, const std::vector<ZELPlatform::SerialPortInfo>& ports, bool json);
