#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <cstdio>
#include <string>

namespace ZELTest {

// A fresh folder under the system's temporary folder, removed with the object.
class TemporaryDirectory
{
public:
    TemporaryDirectory();
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;
    ~TemporaryDirectory();

    const std::filesystem::path& Path() const { return m_path; }
    std::string File(const std::string& name) const { return (m_path / name).string(); }

private:
    std::filesystem::path m_path;
};

// Changes the current directory for the life of the object.
class ScopedCurrentDirectory
{
public:
    explicit ScopedCurrentDirectory(const std::filesystem::path& path);
    ScopedCurrentDirectory(const ScopedCurrentDirectory&) = delete;
    ScopedCurrentDirectory& operator=(const ScopedCurrentDirectory&) = delete;
    ~ScopedCurrentDirectory();

private:
    std::filesystem::path m_previous;
};

// The library's single instances outlive each test of a program, so a test that changes their
// settings puts them back with these, however it ends.

// Keeps the library's language, and switches it while it lives when given one.
class ScopedLanguage
{
public:
    ScopedLanguage();
    explicit ScopedLanguage(long language);
    ScopedLanguage(const ScopedLanguage&) = delete;
    ScopedLanguage& operator=(const ScopedLanguage&) = delete;
    ~ScopedLanguage();

private:
    long m_previous;
};

// Keeps the system log's file and output filters.
class ScopedLogFilters
{
public:
    ScopedLogFilters();
    ScopedLogFilters(const ScopedLogFilters&) = delete;
    ScopedLogFilters& operator=(const ScopedLogFilters&) = delete;
    ~ScopedLogFilters();

private:
    std::uint32_t m_file;
    std::uint32_t m_output;
};

// Unloads every plug-in when it goes, so that none loaded by a test reaches the next one.
class ScopedPluginUnload
{
public:
    ScopedPluginUnload() = default;
    ScopedPluginUnload(const ScopedPluginUnload&) = delete;
    ScopedPluginUnload& operator=(const ScopedPluginUnload&) = delete;
    ~ScopedPluginUnload();
};

// A FIFO under `path` that holds `content` (at most the pipe's buffer, 64 KiB) and is kept open
// for writing, so that a reader that takes it for a file neither blocks in its open nor in its
// read and sees the content.
class FilledFifo
{
public:
    FilledFifo(const std::string& path, const std::string& content);
    // False where the platform has none (tests then skip).
    static bool Supported();
    FilledFifo(const FilledFifo&) = delete;
    FilledFifo& operator=(const FilledFifo&) = delete;
    ~FilledFifo();

private:
    int m_fd = -1;
};

// Whether this system lets a test make symbolic links (Wine does not).
bool SymbolicLinksSupported();

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);

// Runs a program (through the shell) and returns its exit code; standard output and error are captured.
struct ProcessResult
{
    int exitCode = -1;
    std::string output; // standard output and standard error together
};
ProcessResult RunProgram(const std::string& commandLine);

// A program running in the background while a test talks to it: its output (standard error
// included) is read line by line, and it can be sent a signal. `timeout` ends it with SIGKILL
// after `limitSeconds`, so a program that never ends fails its test instead of hanging it. It runs
// in `directory` when one is given. Linux only.
class RunningProgram
{
public:
    RunningProgram(const std::string& commandLine, int limitSeconds, const std::string& directory = {});
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;
    ~RunningProgram();

    bool Started() const { return m_pid > 0; }
    // Reads until a line holds `text`; false when the output ended first.
    bool WaitForLine(const std::string& text);
    bool Signal(int signal) const;
    // Reads the rest of the output and waits for the end: the exit code, -1 for an end by signal.
    ProcessResult Finish();

private:
    std::FILE* m_output = nullptr;
    int m_pid = -1;
};

// A program on a pseudo-terminal of its own, as a person at a terminal runs it: standard input,
// output and error are the terminal, which is the program's controlling terminal with the program
// as its foreground job, so a Ctrl-C typed there is a SIGINT from the terminal. The program runs in
// `directory` when one is given; it is killed when the object goes. Linux only.
class TerminalProgram
{
public:
    explicit TerminalProgram(const std::string& commandLine, const std::string& directory = {});
    TerminalProgram(const TerminalProgram&) = delete;
    TerminalProgram& operator=(const TerminalProgram&) = delete;
    ~TerminalProgram();

    bool Started() const { return m_pid > 0; }
    // Reads until the output after the text of the previous wait holds `text`; false when the
    // output ends or the time-out passes first.
    bool WaitForText(const std::string& text, std::chrono::milliseconds timeout = std::chrono::seconds(60));
    // Types `keys` on the terminal ("\x03" is Ctrl-C).
    bool Type(const std::string& keys) const;
    // Reads the rest of the output and waits for the end, at most `timeout` (then the program is
    // killed): the exit code, -1 for an end by signal. The output is all of it, from the start.
    ProcessResult Finish(std::chrono::milliseconds timeout = std::chrono::seconds(60));

private:
    // Appends what the terminal gives within `deadline`; false once the output has ended.
    bool ReadSome(std::chrono::steady_clock::time_point deadline);

    int m_terminal = -1;
    int m_pid = -1;
    std::string m_output;
    std::size_t m_seen = 0;
};

} // namespace ZELTest
