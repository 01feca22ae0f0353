#pragma once

#include <cstddef>
#include <string>

// A file written from the start: created new, never through a symbolic link, readable by others
// while it is written. Closed with the object.
class CZELOutputFile
{
public:
    CZELOutputFile() = default;
    CZELOutputFile(const CZELOutputFile&) = delete;
    CZELOutputFile& operator=(const CZELOutputFile&) = delete;
    ~CZELOutputFile();

    // Creates `path`; an existing file (or link) of that name is left alone and gives EEXIST.
    // Returns 0 or the errno.
    int CreateNew(const std::string& path);
    // Writes everything; 0 or the errno.
    int Write(const char* data, std::size_t size);
    void Close();
    bool IsOpen() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};
