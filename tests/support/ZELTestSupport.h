#pragma once

#include <chrono>
#include <filesystem>
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

// A FIFO under `path` that holds `content` (at most the pipe's buffer, 64 KiB) and is kept open
// for writing, so that a reader that takes it for a file neither blocks in its open nor in its
// read and sees the content.
class FilledFifo
{
public:
    FilledFifo(const std::string& path, const std::string& content);
    FilledFifo(const FilledFifo&) = delete;
    FilledFifo& operator=(const FilledFifo&) = delete;
    ~FilledFifo();

private:
    int m_fd = -1;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);

// Runs a program and returns its exit code; standard output and error are captured.
struct ProcessResult
{
    int exitCode = -1;
    std::string output; // standard output and standard error together
};
ProcessResult RunProgram(const std::string& commandLine);

} // namespace ZELTest
