#include "support/ZELTestSupport.h"

#include <array>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace ZELTest {

bool FilledFifo::Supported() { return true; }

FilledFifo::FilledFifo(const std::string& path, const std::string& content)
{
    if (::mkfifo(path.c_str(), 0600) != 0)
        throw std::runtime_error("cannot create the FIFO " + path);
    // Read and write: the open needs no reader, and the FIFO never reports its end.
    m_fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0 || ::write(m_fd, content.data(), content.size()) != static_cast<ssize_t>(content.size()))
        throw std::runtime_error("cannot fill the FIFO " + path);
}

FilledFifo::~FilledFifo()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

ProcessResult RunProgram(const std::string& commandLine)
{
    ProcessResult result;
    FILE* pipe = ::popen((commandLine + " 2>&1").c_str(), "r");
    if (pipe == nullptr)
        return result;
    std::array<char, 4096> buffer{};
    std::size_t n = 0;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        result.output.append(buffer.data(), n);
    const int status = ::pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

RunningProgram::RunningProgram(const std::string& commandLine, int limitSeconds, const std::string& directory)
{
    // The shell prints its process id and becomes `timeout`, which passes signals on to the program.
    const std::string command = (directory.empty() ? std::string() : "cd '" + directory + "' && ")
        + "echo $$ && exec timeout -s KILL " + std::to_string(limitSeconds) + " " + commandLine + " 2>&1";
    m_output = ::popen(command.c_str(), "r");
    char line[64];
    if (m_output != nullptr && std::fgets(line, sizeof line, m_output) != nullptr)
        m_pid = std::atoi(line);
}

RunningProgram::~RunningProgram()
{
    if (m_output != nullptr) {
        if (m_pid > 0)
            ::kill(m_pid, SIGKILL);
        ::pclose(m_output);
    }
}

bool RunningProgram::WaitForLine(const std::string& text)
{
    char line[4096];
    while (m_output != nullptr && std::fgets(line, sizeof line, m_output) != nullptr)
        if (std::string(line).find(text) != std::string::npos)
            return true;
    return false;
}

bool RunningProgram::Signal(int signal) const { return m_pid > 0 && ::kill(m_pid, signal) == 0; }

ProcessResult RunningProgram::Finish()
{
    ProcessResult result;
    if (m_output == nullptr)
        return result;
    char buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, m_output)) > 0)
        result.output.append(buffer, n);
    const int status = ::pclose(m_output);
    m_output = nullptr;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

} // namespace ZELTest
