#include "zel/plugins/CZELPluginManager.h"

#include "zel/foundation/CZELLanguage.h"
#include "zel/foundation/ZELStatus.h"
#include "zel/platform/ZELProcess.h"

#include <algorithm>
#include <cctype>
#include <mutex>
#include <new>
#include <string_view>

namespace {

constexpr long kTextStarted = 1;
constexpr long kTextTerminated = 3;

// "X.dll" (any letter case of the extension) is the platform's library X (X.so on Linux) in the
// plug-in folder; a name with a '/' (or on Windows a '\\') is taken as the path it is.
std::string ResolvePluginPath(const std::string& name)
{
    if (name.find_first_of(ZELPlatform::kPathSeparators) != std::string::npos)
        return name;
    std::string file = name;
    constexpr std::string_view kWindowsExtension = ".dll";
    if (file.size() > kWindowsExtension.size()) {
        const std::string extension = file.substr(file.size() - kWindowsExtension.size());
        const bool isDll = std::equal(extension.begin(), extension.end(), kWindowsExtension.begin(),
            [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; });
        if (isDll)
            file.replace(file.size() - kWindowsExtension.size(), kWindowsExtension.size(),
                ZELPlatform::GetLibraryFileExtension());
    }
    return ZELPlatform::JoinPath(ZELPlatform::GetPluginDirectory(), file);
}

} // namespace

CZELPluginManager::~CZELPluginManager()
{
    Terminate();
}

long CZELPluginManager::AddOutput(const std::string& message, _ZELSystemLogExEventType type)
{
    return GetZELSystemLogEx().AddOutput(message, type, "", "CZELPluginManager", "");
}

long CZELPluginManager::Initialize()
{
    AddOutput(GetZELLanguage().GetString(ZEL_MODULE_PLUGIN_MANAGER, kTextStarted),
        ZEL_SYSTEM_LOG_EX_EVENT_INFORMATION);
    return ZEL_STATUS_SUCCESS;
}

long CZELPluginManager::Terminate()
{
    UnloadAllPlugins();
    AddOutput(GetZELLanguage().GetString(ZEL_MODULE_PLUGIN_MANAGER, kTextTerminated),
        ZEL_SYSTEM_LOG_EX_EVENT_INFORMATION);
    return ZEL_STATUS_SUCCESS;
}

CZELPlugin* CZELPluginManager::Find(const std::string& name) const
{
    const auto found = std::find_if(m_plugins.begin(), m_plugins.end(),
        [&name](const std::unique_ptr<CZELPlugin>& plugin) { return plugin->m_name == name; });
    return found == m_plugins.end() ? nullptr : found->get();
}

long CZELPluginManager::LoadPlugin(const std::string& name, CZELPlugin** plugin)
{
    std::lock_guard lock(m_lock);
    if (plugin)
        *plugin = nullptr;
    if (Find(name))
        return ZEL_STATUS_NOT_UNIQUE;

    CZELDynamicLibrary library;
    if (!library.Load(ResolvePluginPath(name)))
        return ZEL_STATUS_UNSPECIFIC_ERROR;
    std::unique_ptr<CZELPlugin> record;
    try {
        record = std::make_unique<CZELPlugin>(std::move(library));
    } catch (const std::bad_alloc&) {
        library.Unload();
        return ZEL_STATUS_UNSPECIFIC_ERROR;
    }
    if (LoadPlugin(record.get()) != ZEL_STATUS_SUCCESS) {
        record->m_library.Unload(); // a rejected library is the only one released
        return ZEL_STATUS_UNSPECIFIC_ERROR;
    }
    record->m_name = name;
    CZELPlugin* const loaded = record.get();
    m_plugins.push_back(std::move(record));
    if (plugin)
        *plugin = loaded;
    return loaded->m_initialize();
}

long CZELPluginManager::LoadPlugin(CZELPlugin* plugin)
{
    if (!plugin)
        return ZEL_STATUS_INVALID_PARAMETER;
    const CZELDynamicLibrary& library = plugin->m_library;
    const auto initialize = reinterpret_cast<ZELPluginEntry>(library.Symbol("PluginInitialize"));
    const auto terminate = reinterpret_cast<ZELPluginEntry>(library.Symbol("PluginTerminate"));
    const auto showDialog = reinterpret_cast<ZELPluginEntry>(library.Symbol("PluginShowDialog"));
    const auto processEvent = reinterpret_cast<ZELPluginProcessEventEntry>(library.Symbol("PluginProcessEvent"));
    if (!initialize || !terminate)
        return ZEL_STATUS_UNSPECIFIC_ERROR;
    plugin->m_initialize = initialize;
    plugin->m_terminate = terminate;
    plugin->m_showDialog = showDialog;
    plugin->m_processEvent = processEvent;
    return ZEL_STATUS_SUCCESS;
}

void CZELPluginManager::TerminateRecord(std::unique_ptr<CZELPlugin> plugin)
{
    if (plugin->m_terminate)
        plugin->m_terminate();
    plugin->m_initialize = nullptr;
    plugin->m_terminate = nullptr;
}

long CZELPluginManager::UnloadPlugin(CZELPlugin* plugin)
{
    std::lock_guard lock(m_lock);
    const auto found = std::find_if(m_plugins.begin(), m_plugins.end(),
        [plugin](const std::unique_ptr<CZELPlugin>& entry) { return entry.get() == plugin; });
    if (!plugin || found == m_plugins.end())
        return ZEL_STATUS_NOT_FOUND;
    std::unique_ptr<CZELPlugin> record = std::move(*found);
    m_plugins.erase(found);
    TerminateRecord(std::move(record));
    return ZEL_STATUS_SUCCESS;
}

long CZELPluginManager::UnloadAllPlugins()
{
    std::lock_guard lock(m_lock);
    // One at a time from the front, so that a plug-in that calls the manager from its
    // PluginTerminate sees a consistent list.
    while (!m_plugins.empty()) {
        std::unique_ptr<CZELPlugin> record = std::move(m_plugins.front());
        m_plugins.erase(m_plugins.begin());
        TerminateRecord(std::move(record));
    }
    return ZEL_STATUS_SUCCESS;
}

long CZELPluginManager::GetPlugin(long index, std::string& name)
{
    std::lock_guard lock(m_lock);
    if (index < 0 || static_cast<std::size_t>(index) >= m_plugins.size())
        return ZEL_STATUS_INVALID_PARAMETER;
    name = m_plugins[static_cast<std::size_t>(index)]->m_name;
    return ZEL_STATUS_SUCCESS;
}

CZELPlugin* CZELPluginManager::GetPlugin(const std::string& name)
{
    std::lock_guard lock(m_lock);
    return Find(name);
}

long CZELPluginManager::CallPluginShowDialog(const std::string& name, bool checkOnly)
{
    ZELPluginEntry showDialog = nullptr;
    {
        std::lock_guard lock(m_lock);
        const CZELPlugin* plugin = Find(name);
        if (!plugin)
            return ZEL_STATUS_NOT_FOUND;
        if (!plugin->m_showDialog)
            return ZEL_STATUS_NOT_IMPLEMENTED;
        if (checkOnly)
            return ZEL_STATUS_SUCCESS;
        showDialog = plugin->m_showDialog;
    }
    // A dialog may run for long; the library stays mapped even if the plug-in is unloaded meanwhile.
    return showDialog();
}

long CZELPluginManager::CallPluginProcessEvent(const std::string& name, long event, void* data, bool checkOnly)
{
    std::lock_guard lock(m_lock);
    const CZELPlugin* plugin = Find(name);
    if (!plugin)
        return ZEL_STATUS_NOT_FOUND;
    if (!plugin->m_processEvent)
        return ZEL_STATUS_NOT_IMPLEMENTED;
    if (checkOnly)
        return ZEL_STATUS_SUCCESS;
    return plugin->m_processEvent(event, data);
}

long CZELPluginManager::CallPluginProcessEvent(long event, void* data)
{
    std::lock_guard lock(m_lock);
    // By index: a plug-in may load or unload others from its handler.
    for (std::size_t i = 0; i < m_plugins.size(); ++i) {
        if (const ZELPluginProcessEventEntry processEvent = m_plugins[i]->m_processEvent)
            processEvent(event, data);
    }
    return ZEL_STATUS_SUCCESS;
}
