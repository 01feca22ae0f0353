#include "support/ZELTestSupport.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
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

TerminalProgram::TerminalProgram(const std::string& commandLine, const std::string& directory)
{
    m_terminal = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_terminal < 0 || ::grantpt(m_terminal) != 0 || ::unlockpt(m_terminal) != 0)
        return;
    const std::string slave = ::ptsname(m_terminal);
    const std::string command = (directory.empty() ? std::string() : "cd '" + directory + "' && ") + "exec " + commandLine;
    m_pid = ::fork();
    if (m_pid == 0) {
        // A session of its own: the first terminal it opens becomes its controlling terminal, and
        // the program its foreground job.
        ::setsid();
        const int fd = ::open(slave.c_str(), O_RDWR);
        if (fd < 0)
            ::_exit(127);
        ::dup2(fd, 0);
        ::dup2(fd, 1);
        ::dup2(fd, 2);
        if (fd > 2)
            ::close(fd);
        ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
}

TerminalProgram::~TerminalProgram()
{
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
    if (m_terminal >= 0)
        ::close(m_terminal);
}

bool TerminalProgram::ReadSome(std::chrono::steady_clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd watched{ m_terminal, POLLIN, 0 };
    const int ready = ::poll(&watched, 1, static_cast<int>(std::max<long long>(0, left.count())));
    if (ready <= 0)
        return ready == 0 || errno == EINTR;
    char buffer[4096];
    const ssize_t got = ::read(m_terminal, buffer, sizeof buffer);
    if (got <= 0)
        return false; // EIO: every end of the terminal was closed
    m_output.append(buffer, static_cast<std::size_t>(got));
    return true;
}

bool TerminalProgram::WaitForText(const std::string& text, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const std::string::size_type at = m_output.find(text, m_seen);
        if (at != std::string::npos) {
            m_seen = at + text.size();
            return true;
        }
        if (m_terminal < 0 || std::chrono::steady_clock::now() >= deadline || !ReadSome(deadline))
            return false;
    }
}

bool TerminalProgram::Type(const std::string& keys) const
{
    return m_terminal >= 0 && ::write(m_terminal, keys.data(), keys.size()) == static_cast<ssize_t>(keys.size());
}

ProcessResult TerminalProgram::Finish(std::chrono::milliseconds timeout)
{
    ProcessResult result;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    bool ended = false;
    while (m_terminal >= 0 && !ended && std::chrono::steady_clock::now() < deadline)
        ended = !ReadSome(deadline);
    if (m_pid > 0) {
        // Once the terminal has no other end the program is on its way out; else it is ended.
        if (!ended)
            ::kill(m_pid, SIGKILL);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        m_pid = -1;
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    result.output = m_output;
    return result;
}

} // namespace ZELTest
