#include "support/ZELTestSupport.h"

#include "zel/foundation/CZELLanguage.h"
#include "zel/log/CZELSystemLogEx.h"
#include "zel/plugins/CZELPluginManager.h"

#include <gtest/gtest.h>

#include "zel/platform/ZELFile.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace ZELTest {

ScopedLanguage::ScopedLanguage()
    : m_previous(GetZELLanguage().GetLanguage())
{
}

ScopedLanguage::ScopedLanguage(long language)
    : ScopedLanguage()
{
    GetZELLanguage().SetLanguage(language);
}

ScopedLanguage::~ScopedLanguage() { GetZELLanguage().SetLanguage(m_previous); }

ScopedLogFilters::ScopedLogFilters()
    : m_file(GetZELSystemLogEx().GetFileFilter())
    , m_output(GetZELSystemLogEx().GetOutputFilter())
{
}

ScopedLogFilters::~ScopedLogFilters()
{
    GetZELSystemLogEx().SetFileFilter(m_file);
    GetZELSystemLogEx().SetOutputFilter(m_output);
}

ScopedPluginUnload::~ScopedPluginUnload() { GetZELPluginManager().UnloadAllPlugins(); }

TemporaryDirectory::TemporaryDirectory()
{
    std::string path;
    if (ZELPlatform::CreateTemporaryDirectory("zeltest-", path) != 0)
        throw std::runtime_error("cannot create a temporary folder");
    m_path = path;
}

TemporaryDirectory::~TemporaryDirectory()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

ScopedCurrentDirectory::ScopedCurrentDirectory(const std::filesystem::path& path)
    : m_previous(std::filesystem::current_path())
{
    std::filesystem::current_path(path);
}

ScopedCurrentDirectory::~ScopedCurrentDirectory()
{
    std::error_code ignored;
    std::filesystem::current_path(m_previous, ignored);
}

bool SymbolicLinksSupported()
{
    static const bool supported = [] {
        TemporaryDirectory folder;
        std::error_code error;
        std::filesystem::create_symlink(folder.Path() / "target", folder.Path() / "link", error);
        return !error;
    }();
    return supported;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void WriteFile(const std::string& path, const std::string& content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

} // namespace ZELTest
