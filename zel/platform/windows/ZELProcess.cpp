#include "zel/platform/windows/ZELWindows.h"

#include <shellapi.h>

#include "zel/platform/ZELProcess.h"
#include "zel/platform/windows/ZELWideText.h"

#include <io.h>

#include <vector>

namespace ZELPlatform {

namespace {

// The path of a module; the buffer grows for paths longer than MAX_PATH.
std::string ModulePath(HMODULE module)
{
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return {};
        if (length < buffer.size())
            return FromWide(std::wstring(buffer.data(), length));
        buffer.resize(buffer.size() * 2);
    }
}

} // namespace

const std::vector<std::string>& GetProcessArguments()
{
    // The command line split by the system's own rules, as the C runtime splits argv.
    static const std::vector<std::string> arguments = [] {
        std::vector<std::string> result;
        int count = 0;
        wchar_t** list = ::CommandLineToArgvW(::GetCommandLineW(), &count);
        if (list == nullptr)
            return result;
        for (int i = 0; i < count; ++i)
            result.push_back(FromWide(list[i]));
        ::LocalFree(list);
        return result;
    }();
    return arguments;
}

std::string GetCurrentDirectory()
{
    const DWORD length = ::GetCurrentDirectoryW(0, nullptr);
    if (length == 0)
        return {};
    std::wstring buffer(length, L'\0');
    const DWORD written = ::GetCurrentDirectoryW(length, buffer.data());
    if (written == 0 || written >= length)
        return {};
    buffer.resize(written);
    return FromWide(buffer);
}

std::string GetProgramPath()
{
    return ModulePath(nullptr);
}

std::string GetLibraryPath()
{
    HMODULE module = nullptr;
    if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCWSTR>(&GetLibraryPath), &module))
        return {};
    return ModulePath(module);
}

std::string GetLibraryDirectory()
{
    const std::string path = GetLibraryPath();
    if (path.empty())
        return {};
    const auto separator = path.find_last_of("\\/");
    return separator == std::string::npos ? std::string(".") : path.substr(0, separator);
}

bool IsStandardStreamTerminal(int stream)
{
    return stream >= 0 && stream <= 2 && ::_isatty(stream) != 0;
}

const char* GetLibraryFileExtension()
{
    return ".dll";
}

const char* const kPathSeparators = "/\\";

char PathSeparator()
{
    return '\\';
}

std::string JoinPath(const std::string& folder, const std::string& name)
{
    return folder + PathSeparator() + name;
}

std::string GetPluginDirectory()
{
    // The programs, zel.dll and the plug-ins share one folder.
    return GetLibraryDirectory();
}

} // namespace ZELPlatform
