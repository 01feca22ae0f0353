#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace ZELPlatform {

bool FileExists(const std::string& path);
bool IsDirectory(const std::string& path);

// Reads a regular file whole. False (errno kept) when it is missing, not a regular file or unreadable.
bool ReadWholeFile(const std::string& path, std::string& content);

// Opens a regular file for reading without ever blocking in the open: a FIFO, a device or a socket
// under the name is refused (errno EINVAL), and with `followLink` false so is a symbolic link
// (errno ELOOP). nullptr (errno kept) on failure.
std::FILE* OpenRegularFileForReading(const std::string& path, bool followLink = true);

// Replaces the file's content as one step: the new content is written beside it and renamed over
// it, so a crash leaves either the old or the new file. The file's permissions are kept.
bool ReplaceFileContent(const std::string& path, const std::string& content);

// Creates one directory; an existing directory counts as success. Returns 0 or the errno.
int CreateDirectory(const std::string& path);

// Creates the file anew, open for reading and writing: whatever stands under the name (a file or a
// symbolic link) is removed and the file is created exclusively, so a planted link is never
// followed. nullptr (errno kept) on failure.
std::FILE* CreateFileAnew(const std::string& path);

// Creates a new, private folder under the system's temporary folder whose name starts with
// `prefix`. Returns 0 and its path, or the errno.
int CreateTemporaryDirectory(const std::string& prefix, std::string& path);

// Whether files can be created in `folder` (created first when missing) and its disk has `needed`
// bytes free: empty when so, else the cause in words.
std::string CheckFolderWritable(const std::string& folder, std::uintmax_t needed);

} // namespace ZELPlatform
