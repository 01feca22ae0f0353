#include "app/cli/DemoCommand.h"

#include "sim/CSimScenario.h"
#include "sim/CSimServer.h"
#include "zel/firmware/CZELFileHeader.h"
#include "zel/foundation/ZELConversions.h"
#include "zel/platform/ZELProcess.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int EXIT_PROBLEM = 1;
constexpr int EXIT_USAGE = 2;

// The file that marks a folder as the demo's own: a folder holding it (and nothing the demo does not
// write) may be used again; any other folder with content is an operator's and is never written.
const char* const kMarker = ".tarn-demo";
// What a run of the demo leaves in its folder besides its firmware: the update's logs, journal and
// dumps, its transfer image, and the image the packing writes for a moment.
const char* const kDemoEntries[] = { kMarker, "Firmware", "Logs", "Dumps", "temp.bin", "sample.bin" };

struct DemoOptions
{
    std::string device = "qtr1";
    std::string folder;
};

struct SampleFirmware
{
    int type;
    const char* version;
    const char* name;
    std::size_t size;
};

// The simulated devices, each older than the sample firmware packed for it.
const char* const kQtr1Scenario = R"({ "device": { "hardware": "QTR-1", "serialNumber": "QTR1-DEMO-0001",
    "versions": { "CCPU": "V 02.09.30", "KCPU": "V 01.04.00", "LCPU": "V 01.02.07", "ECPU": "V 02.03.00" },
    "expanderRestartMs": 300,
    "expanders": [ { "type": 16, "version": "V 02.03.00" }, { "type": 33, "version": "V 02.03.00" },
                   { "type": 34, "version": "V 02.03.00" } ] } })";
const std::vector<SampleFirmware> kQtr1Firmware = {
    { 1, "V 02.10.00", "ccpu-qtr.tarn", 24 * 1024 },
    { 3, "V 01.05.00", "kcpu.tarn", 12 * 1024 },
    { 4, "V 01.03.00", "lcpu.tarn", 12 * 1024 },
    { 6, "V 02.04.00", "ecpu.tarn", 8 * 1024 },
};

const char* const kVhx360Scenario = R"({ "device": { "hardware": "VHX-360", "serialNumber": "VHX360-DEMO-0001",
    "versions": { "CCPU": "V 02.09.30", "KCPU": "V 01.04.00", "LCPU": "V 01.02.07", "MCPU": "V 03.03.04" } } })";
const std::vector<SampleFirmware> kVhx360Firmware = {
    { 2, "V 02.10.00", "ccpu-vhx.tarn", 24 * 1024 },
    { 3, "V 01.05.00", "kcpu.tarn", 12 * 1024 },
    { 4, "V 01.03.00", "lcpu.tarn", 12 * 1024 },
    { 5, "V 03.04.00", "mcpu.tarn", 16 * 1024 },
};

std::string Quoted(const std::string& text)
{
    std::string quoted = "'";
    for (const char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

bool IsSampleName(const std::string& name)
{
    for (const auto* samples : { &kQtr1Firmware, &kVhx360Firmware })
        for (const SampleFirmware& sample : *samples)
            if (name == sample.name)
                return true;
    return false;
}

// Why the demo must not run in `folder`, or empty when the folder is new, empty or an earlier demo's.
std::string ForeignContent(const std::filesystem::path& folder)
{
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::file_status status = fs::status(folder, error);
    if (status.type() == fs::file_type::not_found)
        return {};
    if (!fs::is_directory(status))
        return "it is not a folder";
    if (fs::is_empty(folder, error) && !error)
        return {};
    if (!fs::is_regular_file(fs::symlink_status(folder / kMarker, error)))
        return "it holds files and is not a folder an earlier demo made";
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        if (std::find(std::begin(kDemoEntries), std::end(kDemoEntries), name) == std::end(kDemoEntries))
            return "it holds \"" + name + "\", which the demo did not write";
        // A linked folder would lead the demo's writes elsewhere.
        if (entry->is_symlink(error))
            return "\"" + name + "\" is a link";
    }
    for (fs::directory_iterator entry(folder / "Firmware", error), end; !error && entry != end;
         entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        if (!IsSampleName(name) || !fs::is_regular_file(entry->symlink_status(error)))
            return "it holds \"Firmware/" + name + "\", which is not the demo's sample firmware";
    }
    if (error && error != std::errc::no_such_file_or_directory)
        return "its content cannot be read (" + error.message() + ")";
    return {};
}

// A fresh folder for the run under the system's temporary folder.
std::filesystem::path MakeFolder()
{
    std::random_device random;
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::filesystem::path folder = base / ("tarn-demo-" + std::to_string(random() % 1000000));
        std::error_code error;
        if (std::filesystem::create_directory(folder, error))
            return folder;
    }
    return {};
}

// A plain image that carries its version text, as real firmware does; the simulator reports it once
// the image is flashed.
bool PackSample(const std::filesystem::path& folder, const SampleFirmware& sample)
{
    std::vector<char> image(sample.size);
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<char>((i * 131 + static_cast<std::size_t>(sample.type)) & 0x7F);
    std::memcpy(image.data() + 64, sample.version, std::strlen(sample.version));
    const std::filesystem::path plain = folder / "sample.bin";
    {
        std::ofstream out(plain, std::ios::binary | std::ios::trunc);
        out.write(image.data(), static_cast<std::streamsize>(image.size()));
        if (!out)
            return false;
    }
    _FILE_HEADER header {};
    header.fileType = static_cast<std::uint32_t>(sample.type);
    std::strncpy(header.version, sample.version, sizeof header.version - 1);
    std::strncpy(header.info1, "demo", sizeof header.info1 - 1);
    const long status = GetZELFileHeader().CreateNewFile(plain.string(), (folder / "Firmware" / sample.name).string(),
        &header);
    std::filesystem::remove(plain);
    return status == 0;
}

void PrintDevice(CSimServer& server)
{
    server.Inspect([](CSimDevice& device) {
        const CSimDevice::Settings& settings = device.GetSettings();
        std::cout << "The simulated " << settings.hardwareName << " now reports:\n";
        for (std::size_t i = 0; i < CSimDevice::kProcessorCount; ++i) {
            const auto processor = static_cast<CSimDevice::Processor>(i);
            const std::string version = device.Version(processor);
            if (!version.empty())
                std::cout << "  " << CSimDevice::ProcessorName(processor) << "  " << version << '\n';
        }
        for (const CSimDevice::Expander& expander : settings.expanders)
            std::cout << "  expander " << expander.type << " (" << GetZELECPUTypeAsString(expander.type) << ")  "
                      << expander.version << '\n';
    });
}

// The newest CSV log: the update journal lives in the same folder.
std::string NewestLog(const std::filesystem::path& folder)
{
    std::error_code error;
    std::filesystem::path newest;
    std::filesystem::file_time_type newestTime {};
    for (const auto& entry : std::filesystem::directory_iterator(folder / "Logs", error)) {
        if (entry.is_regular_file() && entry.path().extension() == ".csv"
            && (newest.empty() || entry.last_write_time() > newestTime)) {
            newest = entry.path();
            newestTime = entry.last_write_time();
        }
    }
    return newest.string();
}

int RunDemo(const DemoOptions& options)
{
    const bool vhx = options.device == "vhx360";
    std::filesystem::path folder = options.folder.empty() ? MakeFolder() : std::filesystem::path(options.folder);
    if (const std::string foreign = ForeignContent(folder); !foreign.empty()) {
        std::cerr << "The demo does not run in " << folder.string() << ": " << foreign
                  << ". It writes firmware, logs and an update journal into its folder, so it takes only a new or "
                     "empty folder or one of its own earlier runs. Name such a folder, or leave out --folder.\n";
        return EXIT_USAGE;
    }
    std::error_code error;
    std::filesystem::create_directories(folder / "Firmware", error);
    if (folder.empty() || error) {
        std::cerr << "The demo cannot create its folder " << folder << ": " << error.message() << '\n';
        return EXIT_PROBLEM;
    }
    folder = std::filesystem::absolute(folder);
    {
        std::ofstream marker(folder / kMarker, std::ios::trunc);
        marker << "Made by `tarn demo`: the demo may run here again.\n";
        if (!marker) {
            std::cerr << "The demo cannot write into its folder " << folder.string() << ".\n";
            return EXIT_PROBLEM;
        }
    }
    std::cout << "Demo folder: " << folder.string() << '\n';

    // An earlier run for the other device left its samples; the catalogue is to see only this one's.
    const auto& samples = vhx ? kVhx360Firmware : kQtr1Firmware;
    for (const auto* others : { &kQtr1Firmware, &kVhx360Firmware })
        for (const SampleFirmware& other : *others)
            if (std::none_of(samples.begin(), samples.end(),
                    [&](const SampleFirmware& sample) { return std::strcmp(sample.name, other.name) == 0; }))
                std::filesystem::remove(folder / "Firmware" / other.name, error);

    for (const SampleFirmware& sample : samples) {
        if (!PackSample(folder, sample)) {
            std::cerr << "The demo cannot write its sample firmware into " << folder << ".\n";
            return EXIT_PROBLEM;
        }
        std::cout << "Packed " << ("Firmware/" + std::string(sample.name)) << " (" << sample.version << ", type "
                  << sample.type << ")\n";
    }

    CSimScenario scenario;
    std::string problem;
    if (!CSimScenario::Parse(vhx ? kVhx360Scenario : kQtr1Scenario, scenario, problem)) {
        std::cerr << problem << '\n';
        return EXIT_PROBLEM;
    }
    CSimServer server(std::move(scenario));
    if (const int failure = server.Start(); failure != 0) {
        std::cerr << "The simulator cannot open a pseudo-terminal: " << std::strerror(failure) << '\n';
        return EXIT_PROBLEM;
    }
    std::cout << "Simulated device on " << server.Path() << "\n\n";
    PrintDevice(server);
    std::cout << std::endl;

    // The update run is the program's own `tarn update`, started in the demo folder so that its
    // settings, logs and temp.bin stay there.
    const std::string command = "cd " + Quoted(folder.string()) + " && " + Quoted(ZELPlatform::GetProgramPath())
        + " update --yes --port " + Quoted(server.Path());
    std::cout << "$ tarn update --yes --port " << server.Path() << std::endl;
    const int status = std::system(command.c_str());
    const bool succeeded = status == 0;

    std::cout << "\nResult: " << (succeeded ? "the update succeeded" : "the update failed") << "\n\n";
    PrintDevice(server);
    const std::string log = NewestLog(folder);
    std::cout << "\nLog file: " << (log.empty() ? "(none)" : log) << std::endl;
    server.Stop();
    return succeeded ? 0 : EXIT_PROBLEM;
}

void Finish(int code)
{
    if (code != 0)
        throw CLI::RuntimeError(code);
}

} // namespace

void RegisterDemoCommand(CLI::App& app)
{
    auto options = std::make_shared<DemoOptions>();
    CLI::App* demo = app.add_subcommand("demo",
        "pack sample firmware, start the simulated device and run the whole update against it");
    demo->add_option("--device", options->device, "the simulated device")
        ->check(CLI::IsMember({ "qtr1", "vhx360" }));
    demo->add_option("--folder", options->folder,
        "where to run: a new or empty folder, or one an earlier demo made (default: a new folder under the "
        "temporary folder)");
    demo->callback([options] { Finish(RunDemo(*options)); });
}
