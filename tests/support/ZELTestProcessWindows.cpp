#include "support/ZELTestSupport.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace ZELTest {

// Windows has no FIFO that can stand in a folder under a file's name.
bool FilledFifo::Supported() { return false; }

FilledFifo::FilledFifo(const std::string& path, const std::string&)
{
    throw std::runtime_error("no FIFOs on this platform: " + path);
}

FilledFifo::~FilledFifo() = default;

ProcessResult RunProgram(const std::string& commandLine)
{
    ProcessResult result;
    // Under Wine the shell now and then fails to start while other programs start at once; a start
    // that failed ran nothing, so it is tried again.
    FILE* pipe = nullptr;
    int error = 0;
    for (int attempt = 0; attempt < 3 && pipe == nullptr; ++attempt) {
        pipe = ::_popen((commandLine + " 2>&1").c_str(), "rb");
        error = errno;
    }
    if (pipe == nullptr) {
        result.output = std::string("the command could not be started: ") + std::strerror(error);
        return result;
    }
    std::array<char, 4096> buffer{};
    std::size_t n = 0;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        result.output.append(buffer.data(), n);
    result.exitCode = ::_pclose(pipe);
    return result;
}

} // namespace ZELTest
