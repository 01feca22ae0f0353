#include "zel/platform/windows/ZELWindows.h"

#include "zel/platform/CZELDynamicLibrary.h"
#include "zel/platform/windows/ZELWideText.h"

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

namespace {

std::string SystemMessage(DWORD error)
{
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM
            | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    std::string message = length != 0 ? ZELPlatform::FromWide(std::wstring(text, length)) : std::string();
    if (text != nullptr)
        ::LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
        message.pop_back();
    return message + (message.empty() ? "" : " ") + "(Windows error " + std::to_string(error) + ")";
}

bool IsFullPath(const std::wstring& path)
{
    return (path.size() > 2 && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/'))
        || (path.size() > 1 && (path[0] == L'\\' || path[0] == L'/') && (path[1] == L'\\' || path[1] == L'/'));
}

} // namespace

bool CZELDynamicLibrary::Load(const std::string& path)
{
    // Only the named file is loaded, never one found on the search path: a relative name is made
    // full against the current folder first, and the library's own imports come from its folder
    // and the system's.
    std::wstring name = ZELPlatform::ToWide(path);
    if (!IsFullPath(name)) {
        std::wstring full(MAX_PATH, L'\0');
        for (;;) {
            const DWORD length = ::GetFullPathNameW(name.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
            if (length == 0) {
                m_lastError = SystemMessage(::GetLastError());
                return false;
            }
            if (length < full.size()) {
                full.resize(length);
                break;
            }
            full.resize(length);
        }
        name = full;
    }
    for (auto& c : name)
        if (c == L'/')
            c = L'\\';
    const UINT oldMode = ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE module = ::LoadLibraryExW(name.c_str(), nullptr,
        LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    if (module == nullptr && ::GetLastError() == ERROR_INVALID_PARAMETER)
        module = ::LoadLibraryExW(name.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH); // older loaders
    const DWORD error = ::GetLastError();
    ::SetErrorMode(oldMode);
    if (module == nullptr) {
        m_lastError = path + ": " + SystemMessage(error);
        return false;
    }
    m_handle = module;
    m_lastError.clear();
    return true;
}

void* CZELDynamicLibrary::Symbol(const std::string& name) const
{
    if (m_handle == nullptr)
        return nullptr;
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(m_handle), name.c_str()));
}

bool CZELDynamicLibrary::IsMappedInProcess(const std::string& path)
{
    HMODULE module = nullptr;
    return ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, ZELPlatform::ToWide(path).c_str(), &module)
        && module != nullptr;
}

void CZELDynamicLibrary::Unload()
{
    if (m_handle != nullptr)
        ::FreeLibrary(static_cast<HMODULE>(m_handle));
    m_handle = nullptr;
}
