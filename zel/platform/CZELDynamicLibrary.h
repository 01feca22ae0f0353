#pragma once

#include <string>

// A shared library loaded by path. Unload is explicit, so an owner may keep a library mapped.
class CZELDynamicLibrary
{
public:
    CZELDynamicLibrary() = default;
    CZELDynamicLibrary(const CZELDynamicLibrary&) = delete;
    CZELDynamicLibrary& operator=(const CZELDynamicLibrary&) = delete;
    CZELDynamicLibrary(CZELDynamicLibrary&& other) noexcept;
    CZELDynamicLibrary& operator=(CZELDynamicLibrary&& other) noexcept;
    ~CZELDynamicLibrary(); // keeps the library mapped unless Unload was called

    // Loads the file at `path` exactly (never through a search path). False with LastError() set.
    bool Load(const std::string& path);
    void* Symbol(const std::string& name) const;
    void Unload();
    bool IsLoaded() const { return m_handle != nullptr; }
    // Whether the library file at `path` is mapped into this process (by anyone), without loading it.
    static bool IsMappedInProcess(const std::string& path);
    const std::string& LastError() const { return m_lastError; }

private:
    void* m_handle = nullptr;
    std::string m_lastError;
};
