#include "app/cli/FwCommand.h"

#include "app/core/CFirmwareCatalogue.h"
#include "zel/firmware/CZELFileHeader.h"
#include "zel/foundation/ZELStatus.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr int EXIT_PROBLEM = 1;
constexpr int EXIT_USAGE = 2;

struct FwOptions
{
    std::vector<std::string> files;
    bool json = false;
    std::uint32_t type = 0;
    std::string version;
    std::string info1;
    std::string info2;
    std::string input;
    std::string output;
};

// CLI11 returns the code of a RuntimeError from main without printing anything.
void Finish(int code)
{
    if (code != 0)
        throw CLI::RuntimeError(code);
}

std::string Problem(long status)
{
    switch (status) {
    case ZEL_STATUS_SUCCESS: return "";
    case ZEL_STATUS_FILE_ERROR: return "The file cannot be opened or written.";
    case ZEL_STATUS_NOT_FOUND:
        return "This is not a firmware file: it is shorter than a header or its magic number is wrong.";
    case ZEL_STATUS_OPERATION_BROKEN: return "The file is shorter than its header announces.";
    case ZEL_STATUS_INVALID_CRC: return "The payload is damaged: its CRC does not match the header.";
    case ZEL_STATUS_WRONG_FORMAT: return "The payload is empty: there is no image to flash.";
    case ZEL_STATUS_NO_MEMORY: return "There is not enough memory to read the file.";
    case ZEL_STATUS_INVALID_DATA: return "The image is too large for a firmware file.";
    default: return "The file could not be processed (" + GetZELStatusAsString(status) + ").";
    }
}

std::string Hex32(std::uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

std::string CrcState(long status)
{
    if (status == ZEL_STATUS_SUCCESS)
        return "correct";
    if (status == ZEL_STATUS_INVALID_CRC)
        return "mismatch";
    return "not checked";
}

void PrintJson(const nlohmann::json& json)
{
    // Header texts are arbitrary bytes: replace what is not UTF-8 rather than fail.
    std::cout << json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
}

int RunInfo(const FwOptions& options)
{
    CZELFileHeader& files = GetZELFileHeader();
    nlohmann::json report = nlohmann::json::array();
    int exitCode = 0;
    for (const std::string& path : options.files) {
        _FILE_HEADER header {};
        const long readStatus = files.ReadFileHeader(path, &header);
        const long status = CFirmwareCatalogue::FlashableStatus(readStatus, header);
        const bool hasHeader = status != ZEL_STATUS_FILE_ERROR && status != ZEL_STATUS_NOT_FOUND;
        if (status != ZEL_STATUS_SUCCESS)
            exitCode = EXIT_PROBLEM;
        if (options.json) {
            nlohmann::json entry = { { "file", path }, { "status", GetZELStatusAsString(status) },
                { "problem",
                    status == ZEL_STATUS_SUCCESS ? nlohmann::json(nullptr) : nlohmann::json(Problem(status)) } };
            if (hasHeader) {
                entry["type"] = header.fileType;
                entry["typeName"] = files.GetFileTypeAsString(header.fileType);
                entry["version"] = ZELHeaderText(header.version);
                entry["info1"] = ZELHeaderText(header.info1);
                entry["info2"] = ZELHeaderText(header.info2);
                entry["payloadSize"] = header.payloadSize;
                entry["crc"] = Hex32(header.crc);
                entry["crcState"] = CrcState(readStatus);
            }
            report.push_back(entry);
            continue;
        }
        if (!hasHeader) {
            std::cerr << path << ": " << Problem(status) << '\n';
            continue;
        }
        const std::string name = files.GetFileTypeAsString(header.fileType);
        std::cout << path << '\n'
                  << "  type:         " << header.fileType << " (" << (name.empty() ? "unknown" : name) << ")\n"
                  << "  version:      " << ZELHeaderText(header.version) << '\n'
                  << "  info 1:       " << ZELHeaderText(header.info1) << '\n'
                  << "  info 2:       " << ZELHeaderText(header.info2) << '\n'
                  << "  payload size: " << header.payloadSize << " bytes\n"
                  << "  CRC:          " << Hex32(header.crc) << " (" << CrcState(readStatus) << ")\n";
        if (status != ZEL_STATUS_SUCCESS)
            std::cerr << path << ": " << Problem(status) << '\n';
    }
    if (options.json)
        PrintJson(report);
    return exitCode;
}

int RunVerify(const FwOptions& options)
{
    nlohmann::json report = nlohmann::json::array();
    int exitCode = 0;
    for (const std::string& path : options.files) {
        _FILE_HEADER header {};
        const long status
            = CFirmwareCatalogue::FlashableStatus(GetZELFileHeader().ReadFileHeader(path, &header), header);
        const bool sound = status == ZEL_STATUS_SUCCESS;
        if (!sound)
            exitCode = EXIT_PROBLEM;
        if (options.json)
            report.push_back({ { "file", path }, { "sound", sound }, { "status", GetZELStatusAsString(status) },
                { "problem", sound ? nlohmann::json(nullptr) : nlohmann::json(Problem(status)) } });
        else if (sound)
            std::cout << path << ": sound\n";
        else
            std::cerr << path << ": " << Problem(status) << '\n';
    }
    if (options.json)
        PrintJson(report);
    return exitCode;
}

// A name beside `output` for writing before the final rename, so a failure never leaves a
// partial output file.
std::string TemporaryName(const std::string& output)
{
    std::random_device random;
    std::ostringstream name;
    name << output << ".partial-" << std::hex << random() << random();
    return name.str();
}

// True, with the reason printed, when `output` names the file `input` is (also through another
// spelling, a symbolic or a hard link): writing it would destroy the very file being read.
bool IsTheInput(const std::string& input, const std::string& output)
{
    std::error_code error;
    if (!std::filesystem::equivalent(input, output, error) || error)
        return false;
    std::cerr << output << ": This is the file " << input
              << " itself; name another output file so that the input stays as it is.\n";
    return true;
}

int Publish(long status, const std::string& temporary, const std::string& output)
{
    if (status != ZEL_STATUS_SUCCESS) {
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
        return EXIT_PROBLEM;
    }
    std::error_code error;
    std::filesystem::rename(temporary, output, error);
    if (error) {
        std::cerr << output << ": The output file cannot be written (" << error.message() << ").\n";
        std::filesystem::remove(temporary, error);
        return EXIT_PROBLEM;
    }
    return 0;
}

int RunPack(const FwOptions& options)
{
    if (options.version.size() > 31 || options.info1.size() > 15 || options.info2.size() > 15) {
        std::cerr << "The version text may have at most 31 characters, each info text at most 15.\n";
        return EXIT_USAGE;
    }
    CZELFileHeader& files = GetZELFileHeader();
    // The types the update program knows by name; any other file is never installed.
    if (files.GetFileTypeAsString(options.type).empty()) {
        std::cerr << "--type " << options.type << " is no firmware file type: use 1 to 10 or 129 to 135.\n";
        return EXIT_USAGE;
    }
    if (IsTheInput(options.input, options.output))
        return EXIT_USAGE;
    // An image that begins with the magic number would be taken for a firmware file and lose its
    // first 80 bytes.
    _FILE_HEADER probe {};
    const long probeStatus = files.ReadFileHeader(options.input, &probe);
    if (probeStatus == ZEL_STATUS_FILE_ERROR) {
        std::cerr << options.input << ": " << Problem(probeStatus) << '\n';
        return EXIT_PROBLEM;
    }
    if (probeStatus != ZEL_STATUS_NOT_FOUND) {
        std::cerr << options.input << ": This already is a firmware file; pack takes a plain image.\n";
        return EXIT_PROBLEM;
    }
    if (files.GetVersionAsInteger(options.version.c_str()) == 0)
        std::cerr << "Warning: the version text \"" << options.version
                  << "\" reads as version 0, so the update program will never choose this file.\n";

    _FILE_HEADER header {};
    header.fileType = options.type;
    std::memcpy(header.version, options.version.data(), options.version.size());
    std::memcpy(header.info1, options.info1.data(), options.info1.size());
    std::memcpy(header.info2, options.info2.data(), options.info2.size());
    const std::string temporary = TemporaryName(options.output);
    const long status = files.CreateNewFile(options.input, temporary, &header);
    if (status != ZEL_STATUS_SUCCESS)
        std::cerr << (status == ZEL_STATUS_FILE_ERROR ? options.output : options.input) << ": " << Problem(status)
                  << '\n';
    const int exitCode = Publish(status, temporary, options.output);
    if (exitCode == 0) {
        const std::string name = files.GetFileTypeAsString(header.fileType);
        std::cout << options.output << ": type " << header.fileType << " (" << (name.empty() ? "unknown" : name)
                  << "), " << ZELHeaderText(header.version) << ", " << header.payloadSize << " bytes, CRC "
                  << Hex32(header.crc) << '\n';
        if (header.payloadSize == 0)
            std::cerr << "Warning: the image is empty, so the update program will never install this file.\n";
    }
    return exitCode;
}

int RunUnpack(const FwOptions& options)
{
    if (IsTheInput(options.input, options.output))
        return EXIT_USAGE;
    const std::string temporary = TemporaryName(options.output);
    const long status = GetZELFileHeader().DecryptFile(options.input, temporary);
    if (status != ZEL_STATUS_SUCCESS)
        std::cerr << options.input << ": " << Problem(status) << '\n';
    return Publish(status, temporary, options.output);
}

} // namespace

void RegisterFwCommand(CLI::App& app)
{
    auto options = std::make_shared<FwOptions>();
    CLI::App* fw = app.add_subcommand("fw", "Inspect, check, create and decrypt firmware files");
    fw->require_subcommand(1);

    CLI::App* info = fw->add_subcommand("info", "Show the header of each firmware file");
    info->add_option("FILE", options->files, "Firmware files")->required();
    info->add_flag("--json", options->json, "Print the result as JSON");
    info->callback([options] { Finish(RunInfo(*options)); });

    CLI::App* verify = fw->add_subcommand("verify", "Check each firmware file; exit 0 only when all are sound");
    verify->add_option("FILE", options->files, "Firmware files")->required();
    verify->add_flag("--json", options->json, "Print the result as JSON");
    verify->callback([options] { Finish(RunVerify(*options)); });

    CLI::App* pack = fw->add_subcommand("pack", "Build a firmware file from a plain image");
    pack->add_option("--type", options->type, "File type (1 to 10, 129 to 135)")->required();
    pack->add_option("--version", options->version, "Version text, e.g. \"V 02.02.00\"")->required();
    pack->add_option("--info1", options->info1, "First info text");
    pack->add_option("--info2", options->info2, "Second info text");
    pack->add_option("IMAGE", options->input, "Plain image")->required();
    pack->add_option("OUT", options->output, "Firmware file to write")->required();
    pack->callback([options] { Finish(RunPack(*options)); });

    CLI::App* unpack = fw->add_subcommand("unpack", "Write the decrypted image of a firmware file");
    unpack->add_option("FILE", options->input, "Firmware file")->required();
    unpack->add_option("OUT", options->output, "Image file to write")->required();
    unpack->callback([options] { Finish(RunUnpack(*options)); });
}
