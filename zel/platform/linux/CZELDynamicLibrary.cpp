#include "zel/platform/CZELDynamicLibrary.h"

#include <dlfcn.h>

#include <utility>

CZELDynamicLibrary::CZELDynamicLibrary(CZELDynamicLibrary&& other) noexcept
    : m_handle(std::exchange(other.m_handle, nullptr))
    , m_lastError(std::move(other.m_lastError))
{
}

CZELDynamicLibrary& CZELDynamicLibrary::operator=(CZELDynamicLibrary&& other) noexcept
{
    m_handle = std::exchange(other.m_handle, nullptr);
    m_lastError = std::move(other.m_lastError);
    return *this;
}

CZELDynamicLibrary::~CZELDynamicLibrary() = default;

bool CZELDynamicLibrary::Load(const std::string& path)
{
    // A name without a slash would make dlopen search the library path.
    const std::string exact = path.find('/') == std::string::npos ? "./" + path : path;
    m_handle = ::dlopen(exact.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (m_handle == nullptr) {
        const char* error = ::dlerror();
        m_lastError = error != nullptr ? error : "unknown error";
        return false;
    }
    m_lastError.clear();
    return true;
}

void* CZELDynamicLibrary::Symbol(const std::string& name) const
{
    if (m_handle == nullptr)
        return nullptr;
    return ::dlsym(m_handle, name.c_str());
}

bool CZELDynamicLibrary::IsMappedInProcess(const std::string& path)
{
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr)
        return false;
    ::dlclose(handle); // drops only the reference just taken
    return true;
}

void CZELDynamicLibrary::Unload()
{
    if (m_handle != nullptr)
        ::dlclose(m_handle);
    m_handle = nullptr;
}
