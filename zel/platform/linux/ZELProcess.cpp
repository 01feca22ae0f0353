#include "zel/platform/ZELProcess.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace ZELPlatform {

namespace {

std::vector<std::string>& RecordedArguments()
{
    static std::vector<std::string> arguments;
    return arguments;
}

bool& ArgumentsRecorded()
{
    static bool recorded = false;
    return recorded;
}

// glibc hands argc and argv to the initialisers of shared libraries too.
__attribute__((constructor)) void RecordArguments(int argc, char** argv)
{
    if (argv == nullptr || argc <= 0)
        return;
    auto& arguments = RecordedArguments();
    arguments.assign(argv, argv + argc);
    ArgumentsRecorded() = true;
}

std::vector<std::string> ReadProcCmdline()
{
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    const std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> arguments;
    std::string current;
    for (const char c : raw) {
        if (c == '\0') {
            arguments.push_back(current);
            current.clear();
        } else {
            current.push_back(c);
        }
    }
    if (!current.empty())
        arguments.push_back(current);
    return arguments;
}

} // namespace

const std::vector<std::string>& GetProcessArguments()
{
    if (!ArgumentsRecorded()) {
        RecordedArguments() = ReadProcCmdline();
        ArgumentsRecorded() = true;
    }
    return RecordedArguments();
}

std::string GetCurrentDirectory()
{
    std::vector<char> buffer(PATH_MAX);
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE)
            return {};
        buffer.resize(buffer.size() * 2);
    }
    return buffer.data();
}

std::string GetProgramPath()
{
    std::vector<char> buffer(PATH_MAX);
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (length <= 0)
        return {};
    return std::string(buffer.data(), static_cast<std::size_t>(length));
}

std::string GetLibraryPath()
{
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&GetLibraryPath), &info) == 0 || info.dli_fname == nullptr)
        return {};
    return info.dli_fname;
}

std::string GetLibraryDirectory()
{
    const std::string path = GetLibraryPath();
    if (path.empty())
        return {};
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

bool IsStandardStreamTerminal(int stream)
{
    return stream >= 0 && stream <= 2 && ::isatty(stream) == 1;
}

const char* GetLibraryFileExtension()
{
    return ".so";
}

const char* const kPathSeparators = "/";

char PathSeparator()
{
    return '/';
}

std::string JoinPath(const std::string& folder, const std::string& name)
{
    return folder + PathSeparator() + name;
}

std::string GetPluginDirectory()
{
    const std::string library = GetLibraryDirectory();
    const std::string installed = library + "/tarn/plugins";
    std::error_code error;
    return std::filesystem::is_directory(installed, error) ? installed : library;
}

} // namespace ZELPlatform
