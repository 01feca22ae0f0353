#include "support/ZELTestSupport.h"

#include <array>
#include <cstdio>
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
    FILE* pipe = ::_popen((commandLine + " 2>&1").c_str(), "rb");
    if (pipe == nullptr)
        return result;
    std::array<char, 4096> buffer{};
    std::size_t n = 0;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        result.output.append(buffer.data(), n);
    result.exitCode = ::_pclose(pipe);
    return result;
}

} // namespace ZELTest
