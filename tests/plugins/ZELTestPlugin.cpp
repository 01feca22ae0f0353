// One source for every test plug-in; the build selects the entries each one exports.
#include "plugins/ZELTestPlugin.h"

#include "zel/plugins/CZELPluginManager.h"

#ifndef ZEL_TEST_INITIALIZE_RESULT
#define ZEL_TEST_INITIALIZE_RESULT 0
#endif

namespace {

ZELTestPluginCalls g_calls;

} // namespace

extern "C" ZELTestPluginCalls* ZELTestPluginGetCalls() { return &g_calls; }

#ifdef ZEL_TEST_HAS_INITIALIZE
extern "C" long PluginInitialize()
{
    ++g_calls.initialize;
    return ZEL_TEST_INITIALIZE_RESULT;
}
#endif

#ifdef ZEL_TEST_HAS_TERMINATE
extern "C" long PluginTerminate()
{
    ++g_calls.terminate;
    return 0;
}
#endif

#ifdef ZEL_TEST_HAS_SHOW_DIALOG
extern "C" long PluginShowDialog()
{
    ++g_calls.showDialog;
    std::unique_lock lock(g_calls.mutex);
    if (g_calls.holdDialog) {
        g_calls.dialogEntered = true;
        g_calls.changed.notify_all();
        g_calls.changed.wait(lock, [] { return g_calls.dialogReleased; });
    }
    return 7;
}
#endif

#ifdef ZEL_TEST_HAS_PROCESS_EVENT
extern "C" long PluginProcessEvent(long event, void* data)
{
    ++g_calls.processEvent;
    g_calls.lastEvent = event;
    if (data)
        g_calls.lastValue = *static_cast<const int*>(data);
    if (event == kTestEventCallManager)
        g_calls.managerStatusFromEntry = GetZELPluginManager().GetPlugin(0, g_calls.nameFromEntry);
    return 11;
}
#endif
