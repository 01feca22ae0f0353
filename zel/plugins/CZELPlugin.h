#pragma once

#include "zel/platform/CZELDynamicLibrary.h"

#include <string>
#include <utility>

// Entry points a plug-in library exports as plain C functions.
using ZELPluginEntry = long (*)();
using ZELPluginProcessEventEntry = long (*)(long event, void* data);

// One loaded plug-in library: its handle, its entry points and the name it was loaded by.
// Destroying the record keeps the library mapped; only the plug-in manager releases a library,
// and only one it rejected.
class CZELPlugin
{
public:
    CZELPlugin() = default;
    explicit CZELPlugin(CZELDynamicLibrary library)
        : m_library(std::move(library))
    {
    }
    CZELPlugin(const CZELPlugin&) = delete;
    CZELPlugin& operator=(const CZELPlugin&) = delete;
    virtual ~CZELPlugin() = default;

    const std::string& GetName() const { return m_name; }
    ZELPluginEntry GetInitializeEntry() const { return m_initialize; }
    ZELPluginEntry GetTerminateEntry() const { return m_terminate; }
    ZELPluginEntry GetShowDialogEntry() const { return m_showDialog; }
    ZELPluginProcessEventEntry GetProcessEventEntry() const { return m_processEvent; }

private:
    friend class CZELPluginManager;

    CZELDynamicLibrary m_library;
    ZELPluginEntry m_initialize = nullptr;
    ZELPluginEntry m_terminate = nullptr;
    ZELPluginEntry m_showDialog = nullptr;
    ZELPluginProcessEventEntry m_processEvent = nullptr;
    std::string m_name;
};
