#pragma once

#include <string>
#include <vector>

namespace ZELPlatform {

// The argument vector this process was started with, recorded when the library was loaded
// (read from /proc/self/cmdline when the loader did not hand it over).
const std::vector<std::string>& GetProcessArguments();

// Current working directory; empty when it cannot be read.
std::string GetCurrentDirectory();

// Full path of the running program file; empty when unknown.
std::string GetProgramPath();

// Path of the file this library was loaded from; empty when unknown.
std::string GetLibraryPath();

// Directory that holds the file this library was loaded from.
std::string GetLibraryDirectory();

// True when standard input (0), output (1) or error (2) is a terminal.
bool IsStandardStreamTerminal(int stream);

// The file name extension of loadable libraries: ".so" on Linux, ".dll" on Windows.
const char* GetLibraryFileExtension();
// The characters that separate the parts of a path on this platform, and the one it writes.
extern const char* const kPathSeparators;
char PathSeparator();
// `folder` and `name` joined with the platform's separator.
std::string JoinPath(const std::string& folder, const std::string& name);

// Folder the plug-ins are loaded from: <library dir>/tarn/plugins in an installed tree, otherwise
// the library directory itself (the build tree keeps plug-ins beside the library).
std::string GetPluginDirectory();

} // namespace ZELPlatform
