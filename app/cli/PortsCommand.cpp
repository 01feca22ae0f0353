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

void PrintJson(const std::vector<ZELPlatform::SerialPortInfo>& ports)
{
    nlohmann::json list = nlohmann::json::array();
    for (const ZELPlatform::SerialPortInfo& port : ports) {
        list.push_back({{"path", port.path}, {"name", port.name}, {"byId", port.byIdLink},
            {"description", port.description}, {"driver", port.driver}, {"vendorId", port.vendorId},
            {"productId", port.productId}, {"manufacturer", port.manufacturer}, {"product", port.product},
            {"serial", port.serial}});
    }
    std::cout << list.dump(2) << '\n';
}

void PrintText(const std::vector<ZELPlatform::SerialPortInfo>& ports)
{
    if (ports.empty()) {
        std::cout << "No serial ports found.\n";
        return;
    }
    for (const ZELPlatform::SerialPortInfo& port : ports) {
        std::cout << port.path;
        if (!port.description.empty())
            std::cout << "  " << port.description;
        if (!port.usbId.empty())
            std::cout << "  [" << port.usbId << "]";
        std::cout << '\n';
        if (!port.byIdLink.empty())
            std::cout << "    " << port.byIdLink << '\n';
        if (!port.manufacturer.empty() || !port.product.empty() || !port.serial.empty())
            std::cout << "    manufacturer: " << port.manufacturer << ", product: " << port.product
                      << ", serial: " << port.serial << '\n';
    }
}

} // namespace

void RegisterPortsCommand(CLI::App& app)
{
    auto options = std::make_shared<PortsOptions>();
    CLI::App* ports = app.add_subcommand("ports", "List the serial ports of this machine with their USB descriptions");
    ports->add_flag("--json", options->json, "Print the list as JSON");
    ports->callback([options] {
        const auto list = ZELPlatform::ListSerialPorts();
        if (options->json)
            PrintJson(list);
        else
            PrintText(list);
    });
}
