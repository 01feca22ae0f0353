#pragma once

#include "zel/log/CZELSystemLogEx.h"
#include "zel/platform/CZELRecursiveMutex.h"
#include "zel/plugins/CZELPlugin.h"

#include <memory>
#include <string>
#include <vector>

// Event the host sends to every plug-in: data points to a 32-bit value, 1 when an update run has
// started and 0 just before the plug-ins are unloaded at its end.
inline constexpr long ZEL_PLUGIN_EVENT_UPDATE_RUN = 1;

// Loads plug-in libraries by file name and calls their entry points. A name "X.dll" is the file
// "X.so" in the plug-in folder (ZELPlatform::GetPluginDirectory), a name holding a '/' is a path;
// no search path is ever used. Names are compared exactly. Unloaded libraries stay mapped until
// the process ends, so an entry point taken from a record stays callable.
//
// Every operation except Initialize holds the manager's recursive lock, entry points included,
// except PluginShowDialog, which is called after the lock has been released.
class CZELPluginManager
{
public:
    CZELPluginManager() = default;
    CZELPluginManager(const CZELPluginManager&) = delete;
    CZELPluginManager& operator=(const CZELPluginManager&) = delete;
    virtual ~CZELPluginManager();

    long Initialize();
    // PluginTerminate of every plug-in in load order, then the list is empty.
    long Terminate();

    // ZEL_STATUS_NOT_UNIQUE for a name already loaded, ZEL_STATUS_UNSPECIFIC_ERROR when the library
    // cannot be loaded or lacks a required entry (it is released again); otherwise the result of
    // PluginInitialize, after which the plug-in stays registered whatever that result is.
    // `plugin` (may be null) receives the record, or null on failure.
    long LoadPlugin(const std::string& name, CZELPlugin** plugin = nullptr);
    // Looks the four entries up in the record's library; ZEL_STATUS_UNSPECIFIC_ERROR (record
    // unchanged) when PluginInitialize or PluginTerminate is missing.
    long LoadPlugin(CZELPlugin* plugin);
    // ZEL_STATUS_NOT_FOUND when the record is not (any longer) registered.
    long UnloadPlugin(CZELPlugin* plugin);
    long UnloadAllPlugins();

    // The name at `index` in load order; ZEL_STATUS_INVALID_PARAMETER when there is none.
    long GetPlugin(long index, std::string& name);
    CZELPlugin* GetPlugin(const std::string& name);

    // ZEL_STATUS_NOT_FOUND (no such plug-in), ZEL_STATUS_NOT_IMPLEMENTED (no such entry),
    // ZEL_STATUS_SUCCESS with `checkOnly`, otherwise the entry's result.
    long CallPluginShowDialog(const std::string& name, bool checkOnly);
    long CallPluginProcessEvent(const std::string& name, long event, void* data, bool checkOnly);
    // Every plug-in that has PluginProcessEvent, in load order; their results are ignored.
    long CallPluginProcessEvent(long event, void* data);

private:
    long AddOutput(const std::string& message, _ZELSystemLogExEventType type);
    CZELPlugin* Find(const std::string& name) const;
    // Calls PluginTerminate and destroys the record, which has already left the list.
    static void TerminateRecord(std::unique_ptr<CZELPlugin> plugin);

    CZELRecursiveMutex m_lock;
    std::vector<std::unique_ptr<CZELPlugin>> m_plugins;
};

CZELPluginManager& GetZELPluginManager();
