#pragma once

#include <string>

// String values in an INI file, by default ZEL.ini in the directory that was current when the
// library was loaded. Reads and writes are case-insensitive on section and key; a write rewrites
// only the line of its key and leaves every other byte of the file as it was.
class CZELIniManager
{
public:
    static constexpr std::size_t kBufferSize = 10240;

    CZELIniManager();
    virtual ~CZELIniManager() = default;

    // An empty `file` selects the default path. A missing file, section or key, or an empty value,
    // gives ZEL_STATUS_NOT_FOUND and leaves `value` unchanged. Values are cut to kBufferSize - 1.
    long GetEntry(const std::string& section, const std::string& key, std::string* value, const std::string& file);

    // Creates the file, section and key as needed. ZEL_STATUS_UNSPECIFIC_ERROR when the file cannot
    // be read or written; ZEL_STATUS_INVALID_PARAMETER for an empty section or key, or a text with a
    // line break (it would add lines of its own to the file).
    long SetEntry(const std::string& section, const std::string& key, const std::string& value, const std::string& file);

    const std::string& GetDefaultPath() const { return m_defaultPath; }

private:
    const std::string& Resolve(const std::string& file) const;

    std::string m_defaultPath;
};

CZELIniManager& GetZELIniManager();
