#include "zel/platform/windows/ZELWindows.h"

#include "zel/platform/CZELOutputFile.h"
#include "zel/platform/windows/ZELSystemError.h"
#include "zel/platform/windows/ZELWideText.h"

#include <fcntl.h>
#include <io.h>

#include <cerrno>

CZELOutputFile::~CZELOutputFile()
{
    Close();
}

int CZELOutputFile::CreateNew(const std::string& path)
{
    Close();
    // Created exclusively; others may read the file while it is written (a log being watched).
    const HANDLE handle = ::CreateFileW(ZELPlatform::ToWide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
        CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return ZELPlatform::SetErrnoFromLastError();
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        ::CloseHandle(handle);
        return EMFILE;
    }
    m_fd = fd;
    return 0;
}

int CZELOutputFile::Write(const char* data, std::size_t size)
{
    if (m_fd < 0)
        return EBADF;
    const HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(m_fd));
    std::size_t written = 0;
    while (written < size) {
        const DWORD chunk = static_cast<DWORD>(size - written > (1u << 30) ? (1u << 30) : size - written);
        DWORD done = 0;
        if (!::WriteFile(handle, data + written, chunk, &done, nullptr))
            return ZELPlatform::SetErrnoFromLastError();
        written += done;
    }
    return 0;
}

void CZELOutputFile::Close()
{
    if (m_fd >= 0)
        ::_close(m_fd);
    m_fd = -1;
}
