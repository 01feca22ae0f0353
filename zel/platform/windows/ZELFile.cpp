#include "zel/platform/windows/ZELWindows.h"

#include "zel/platform/ZELFile.h"
#include "zel/platform/windows/ZELSystemError.h"
#include "zel/platform/windows/ZELWideText.h"

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cerrno>
#include <string>

namespace ZELPlatform {

namespace {

class FileHandle
{
public:
    explicit FileHandle(HANDLE handle)
        : m_handle(handle)
    {
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    ~FileHandle()
    {
        if (m_handle != INVALID_HANDLE_VALUE)
            ::CloseHandle(m_handle);
    }
    HANDLE Get() const { return m_handle; }
    HANDLE Release()
    {
        const HANDLE handle = m_handle;
        m_handle = INVALID_HANDLE_VALUE;
        return handle;
    }

private:
    HANDLE m_handle;
};

// Whether the open handle is an ordinary file on disk (not a folder, pipe, console or device); if
// not, errno is set to `errorIfNot`.
bool IsRegularFile(HANDLE handle, int errorIfNot)
{
    if (::GetFileType(handle) != FILE_TYPE_DISK) {
        errno = errorIfNot;
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(handle, &info)) {
        SetErrnoFromLastError();
        return false;
    }
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        errno = errorIfNot;
        return false;
    }
    return true;
}

HANDLE OpenForReading(const std::string& path, DWORD flags)
{
    const HANDLE handle = ::CreateFileW(ToWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        SetErrnoFromLastError();
    return handle;
}

// A C stream over the handle; the stream owns it from then on.
std::FILE* StreamOf(FileHandle& handle, int openFlags, const char* mode)
{
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle.Get()), openFlags | _O_BINARY);
    if (fd < 0)
        return nullptr;
    handle.Release();
    std::FILE* file = ::_fdopen(fd, mode);
    if (file == nullptr)
        ::_close(fd);
    return file;
}

bool WriteAll(HANDLE handle, const std::string& content)
{
    std::size_t written = 0;
    while (written < content.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(content.size() - written, 1u << 30));
        DWORD done = 0;
        if (!::WriteFile(handle, content.data() + written, chunk, &done, nullptr)) {
            SetErrnoFromLastError();
            return false;
        }
        written += done;
    }
    return true;
}

} // namespace

bool FileExists(const std::string& path)
{
    return ::GetFileAttributesW(ToWide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsDirectory(const std::string& path)
{
    const DWORD attributes = ::GetFileAttributesW(ToWide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool ReadWholeFile(const std::string& path, std::string& content)
{
    FileHandle handle(OpenForReading(path, 0));
    if (handle.Get() == INVALID_HANDLE_VALUE || !IsRegularFile(handle.Get(), EISDIR))
        return false;
    std::string data;
    char buffer[8192];
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(handle.Get(), buffer, sizeof buffer, &got, nullptr)) {
            SetErrnoFromLastError();
            return false;
        }
        if (got == 0)
            break;
        data.append(buffer, got);
    }
    content.swap(data);
    return true;
}

std::FILE* OpenRegularFileForReading(const std::string& path, bool followLink)
{
    // Opening a named pipe or a device never waits here: they are refused by their type.
    FileHandle handle(OpenForReading(path, followLink ? 0 : FILE_FLAG_OPEN_REPARSE_POINT));
    if (handle.Get() == INVALID_HANDLE_VALUE)
        return nullptr;
    if (!followLink) {
        BY_HANDLE_FILE_INFORMATION info{};
        if (::GetFileInformationByHandle(handle.Get(), &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            errno = ELOOP;
            return nullptr;
        }
    }
    if (!IsRegularFile(handle.Get(), EINVAL))
        return nullptr;
    return StreamOf(handle, _O_RDONLY, "rb");
}

bool ReplaceFileContent(const std::string& path, const std::string& content)
{
    const DWORD attributes = ::GetFileAttributesW(ToWide(path).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        errno = EISDIR;
        return false;
    }
    const std::string temporary = path + ".tmp-" + std::to_string(::GetCurrentProcessId());
    const std::wstring temporaryName = ToWide(temporary);
    {
        FileHandle handle(::CreateFileW(temporaryName.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
            FILE_ATTRIBUTE_NORMAL, nullptr));
        if (handle.Get() == INVALID_HANDLE_VALUE) {
            SetErrnoFromLastError();
            return false;
        }
        if (!WriteAll(handle.Get(), content) || !::FlushFileBuffers(handle.Get())) {
            const int error = errno != 0 ? errno : SetErrnoFromLastError();
            ::CloseHandle(handle.Release());
            ::DeleteFileW(temporaryName.c_str());
            errno = error;
            return false;
        }
    }
    if (!::MoveFileExW(temporaryName.c_str(), ToWide(path).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const int error = SetErrnoFromLastError();
        ::DeleteFileW(temporaryName.c_str());
        errno = error;
        return false;
    }
    return true;
}

int CreateDirectory(const std::string& path)
{
    if (::CreateDirectoryW(ToWide(path).c_str(), nullptr))
        return 0;
    const DWORD error = ::GetLastError();
    if (error == ERROR_ALREADY_EXISTS && IsDirectory(path))
        return 0;
    return ErrnoFromSystemError(error);
}

std::FILE* CreateFileAnew(const std::string& path)
{
    const std::wstring name = ToWide(path);
    if (!::DeleteFileW(name.c_str()) && ::GetLastError() != ERROR_FILE_NOT_FOUND) {
        SetErrnoFromLastError();
        return nullptr;
    }
    FileHandle handle(::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (handle.Get() == INVALID_HANDLE_VALUE) {
        SetErrnoFromLastError();
        return nullptr;
    }
    return StreamOf(handle, _O_RDWR, "w+b");
}

int CreateTemporaryDirectory(const std::string& prefix, std::string& path)
{
    wchar_t base[MAX_PATH + 1] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, base);
    if (length == 0 || length > MAX_PATH)
        return SetErrnoFromLastError();
    const std::string folder = FromWide(base);
    LARGE_INTEGER seed{};
    ::QueryPerformanceCounter(&seed);
    unsigned long long value = static_cast<unsigned long long>(seed.QuadPart) ^ (::GetCurrentProcessId() * 2654435761ull);
    for (int attempt = 0; attempt < 100; ++attempt) {
        value = value * 6364136223846793005ull + 1442695040888963407ull;
        std::string candidate = folder + prefix;
        for (int i = 0; i < 6; ++i)
            candidate.push_back("abcdefghijklmnopqrstuvwxyz0123456789"[(value >> (i * 6 + 10)) % 36]);
        if (::CreateDirectoryW(ToWide(candidate).c_str(), nullptr)) {
            path = candidate;
            return 0;
        }
        if (::GetLastError() != ERROR_ALREADY_EXISTS)
            return SetErrnoFromLastError();
    }
    return EEXIST;
}

} // namespace ZELPlatform
