#include "app/cli/PortsCommand.h"

#include "zel/platform/ZELSerialPortList.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <iostream>
#include <memory>

namespace {

struct PortsOptions
{
    bool json = false;
};

void PrintJson(std::ostream& out, const std::vector<ZELPlatform::SerialPortInfo>& ports)
{
    nlohmann::json list = nlohmann::json::array();
    for (const ZELPlatform::SerialPortInfo& port : ports) {
        list.push_back({{"path", port.path}, {"name", port.name}, {"byId", port.byIdLink},
            {"description", port.description}, {"driver", port.driver}, {"vendorId", port.vendorId},
            {"productId", port.productId}, {"manufacturer", port.manufacturer}, {"product", port.product},
            {"serial", port.serial}});
    }
    out << list.dump(2) << '\n';
}

void PrintText(std::ostream& out, const std::vector<ZELPlatform::SerialPortInfo>& ports)
{
    if (ports.empty()) {
        out << "No serial ports found.\n";
        return;
    }
    for (const ZELPlatform::SerialPortInfo& port : ports) {
        out << port.path;
        if (!port.description.empty())
            out << "  " << port.description;
        if (!port.usbId.empty())
            out << "  [" << port.usbId << "]";
        out << '\n';
        if (!port.byIdLink.empty())
            out << "    " << port.byIdLink << '\n';
        if (!port.manufacturer.empty() || !port.product.empty() || !port.serial.empty())
            out << "    manufacturer: " << port.manufacturer << ", product: " << port.product
                << ", serial: " << port.serial << '\n';
    }
}

} // namespace

void PrintPortList(std::ostream& out, const std::vector<ZELPlatform::SerialPortInfo>& ports, bool json)
{
    if (json)
        PrintJson(out, ports);
    else
        PrintText(out, ports);
}

void RegisterPortsCommand(CLI::App& app)
{
    auto options = std::make_shared<PortsOptions>();
    CLI::App* ports = app.add_subcommand("ports", "List the serial ports of this machine with their USB descriptions");
    ports->add_flag("--json", options->json, "Print the list as JSON");
    ports->callback([options] {
        PrintPortList(std::cout, ZELPlatform::ListSerialPorts(), options->json);
    });
}
