#include "zel/platform/ZELFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace ZELPlatform {

namespace {

class FileDescriptor
{
public:
    explicit FileDescriptor(int fd)
        : m_fd(fd)
    {
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int Get() const { return m_fd; }
    int Release()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }

private:
    int m_fd;
};

bool WriteAll(int fd, const std::string& content)
{
    std::size_t written = 0;
    while (written < content.size()) {
        const ssize_t n = ::write(fd, content.data() + written, content.size() - written);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        written += static_cast<std::size_t>(n);
    }
    return true;
}

// Whether the open file is a regular one; if not, errno is set to `errorIfNot`.
bool IsRegularFile(int fd, int errorIfNot)
{
    struct stat info{};
    if (::fstat(fd, &info) != 0)
        return false;
    if (!S_ISREG(info.st_mode)) {
        errno = errorIfNot;
        return false;
    }
    return true;
}

} // namespace

bool FileExists(const std::string& path)
{
    struct stat info{};
    return ::lstat(path.c_str(), &info) == 0;
}

bool IsDirectory(const std::string& path)
{
    struct stat info{};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool ReadWholeFile(const std::string& path, std::string& content)
{
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0)
        return false;
    if (!IsRegularFile(fd.Get(), EISDIR))
        return false;
    std::string data;
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            break;
        data.append(buffer, static_cast<std::size_t>(n));
    }
    content.swap(data);
    return true;
}

std::FILE* OpenRegularFileForReading(const std::string& path, bool followLink)
{
    // O_NONBLOCK: opening a FIFO without writer would otherwise wait for one forever.
    const int flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW);
    FileDescriptor fd(::open(path.c_str(), flags));
    if (fd.Get() < 0)
        return nullptr;
    if (!IsRegularFile(fd.Get(), EINVAL))
        return nullptr;
    const int status = ::fcntl(fd.Get(), F_GETFL);
    if (status < 0 || ::fcntl(fd.Get(), F_SETFL, status & ~O_NONBLOCK) != 0)
        return nullptr;
    std::FILE* file = ::fdopen(fd.Get(), "rb");
    if (file != nullptr)
        fd.Release();
    return file;
}

bool ReplaceFileContent(const std::string& path, const std::string& content)
{
    mode_t mode = 0644;
    struct stat info{};
    if (::stat(path.c_str(), &info) == 0) {
        if (!S_ISREG(info.st_mode)) {
            errno = EISDIR;
            return false;
        }
        mode = info.st_mode & 07777;
    }
    const std::string temporary = path + ".tmp-" + std::to_string(::getpid());
    FileDescriptor fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode));
    if (fd.Get() < 0)
        return false;
    if (!WriteAll(fd.Get(), content) || ::fsync(fd.Get()) != 0 || ::close(fd.Release()) != 0
        || ::rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        errno = error;
        return false;
    }
    return true;
}

int CreateDirectory(const std::string& path)
{
    if (::mkdir(path.c_str(), 0755) == 0)
        return 0;
    if (errno == EEXIST && IsDirectory(path))
        return 0;
    return errno;
}

std::FILE* CreateFileAnew(const std::string& path)
{
    if (::unlink(path.c_str()) != 0 && errno != ENOENT)
        return nullptr;
    FileDescriptor fd(::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (fd.Get() < 0)
        return nullptr;
    std::FILE* file = ::fdopen(fd.Get(), "w+b");
    if (file != nullptr)
        fd.Release();
    return file;
}

int CreateTemporaryDirectory(const std::string& prefix, std::string& path)
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/" + prefix + "XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
        return errno;
    path = pattern;
    return 0;
}

} // namespace ZELPlatform
