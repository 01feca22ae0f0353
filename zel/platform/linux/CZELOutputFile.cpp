#include "zel/platform/CZELOutputFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

CZELOutputFile::~CZELOutputFile()
{
    Close();
}

int CZELOutputFile::CreateNew(const std::string& path)
{
    Close();
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0)
        return errno;
    m_fd = fd;
    return 0;
}

int CZELOutputFile::Write(const char* data, std::size_t size)
{
    if (m_fd < 0)
        return EBADF;
    std::size_t written = 0;
    while (written < size) {
        const ssize_t n = ::write(m_fd, data + written, size - written);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        written += static_cast<std::size_t>(n);
    }
    return 0;
}

void CZELOutputFile::Close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}
