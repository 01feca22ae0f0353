#include "zel/platform/ZELFile.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>

namespace ZELPlatform {

std::string CheckFolderWritable(const std::string& folder, std::uintmax_t needed)
{
    if (const int created = CreateDirectory(folder); created != 0)
        return std::string("it cannot be created (") + std::strerror(created) + ")";
    // A file of its own, so that two programs checking the same folder never meet.
    const std::string probe = folder + "/.write-check-"
        + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
    std::FILE* file = CreateFileAnew(probe);
    if (file == nullptr)
        return std::string("no file can be created in it (") + std::strerror(errno) + ")";
    std::fclose(file);
    std::remove(probe.c_str());
    std::error_code error;
    const std::filesystem::space_info space = std::filesystem::space(folder, error);
    // Room for the image and the log lines around it.
    constexpr std::uintmax_t kMargin = 1024 * 1024;
    if (!error && space.available < needed + kMargin)
        return "its disk is full (" + std::to_string(space.available / 1024) + " KiB free, "
            + std::to_string((needed + kMargin) / 1024) + " KiB needed)";
    return {};
}

} // namespace ZELPlatform
