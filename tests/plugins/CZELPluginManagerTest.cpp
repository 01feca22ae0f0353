#include "plugins/ZELTestPlugin.h"
#include "zel/foundation/ZELStatus.h"
#include "zel/platform/CZELDynamicLibrary.h"
#include "zel/platform/ZELProcess.h"
#include "zel/plugins/CZELPluginManager.h"

#include "log/ZELLogCapture.h"
#include "support/ZELTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <map>
#include <string>

namespace {

using namespace std::chrono_literals;

const char* const kComplete = "ZELTestPluginComplete.dll";
const char* const kNoProcessEvent = "ZELTestPluginNoProcessEvent.dll";
const char* const kInitializeFails = "ZELTestPluginInitializeFails.dll";

std::string PluginFile(const std::string& base)
{
    return ZELPlatform::JoinPath(ZELPlatform::GetPluginDirectory(), base + ZELPlatform::GetLibraryFileExtension());
}

bool IsMapped(const std::string& base)
{
    return CZELDynamicLibrary::IsMappedInProcess(PluginFile(base));
}

// The call record of a test plug-in, reached through a second reference to its library (which
// also keeps it mapped while the test looks at it).
ZELTestPluginCalls& Calls(const std::string& base)
{
    static std::map<std::string, CZELDynamicLibrary> libraries;
    CZELDynamicLibrary& library = libraries[base];
    if (!library.IsLoaded() && !library.Load(PluginFile(base)))
        ADD_FAILURE() << library.LastError();
    const auto get = reinterpret_cast<ZELTestPluginGetCallsEntry>(library.Symbol("ZELTestPluginGetCalls"));
    if (!get) {
        ADD_FAILURE() << "no call record in " << base;
        static ZELTestPluginCalls none;
        return none;
    }
    return *get();
}

class CZELPluginManagerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (const char* base : {"ZELTestPluginComplete", "ZELTestPluginNoProcessEvent", "ZELTestPluginInitializeFails"}) {
            ZELTestPluginCalls& calls = Calls(base);
            calls.initialize = calls.terminate = calls.showDialog = calls.processEvent = 0;
            calls.lastEvent = 0;
            calls.lastValue = -1;
        }
    }
    void TearDown() override { manager.UnloadAllPlugins(); }

    CZELPluginManager& manager = GetZELPluginManager();
};

} // namespace

TEST_F(CZELPluginManagerTest, LoadsByExactNameOnce)
{
    ZELTestPluginCalls& calls = Calls("ZELTestPluginComplete");
    CZELPlugin* first = nullptr;
    ASSERT_EQ(manager.LoadPlugin(kComplete, &first), ZEL_STATUS_SUCCESS);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->GetName(), kComplete);
    EXPECT_EQ(calls.initialize, 1);

    CZELPlugin* again = first;
    EXPECT_EQ(manager.LoadPlugin(kComplete, &again), ZEL_STATUS_NOT_UNIQUE);
    EXPECT_EQ(again, nullptr);
    EXPECT_EQ(calls.initialize, 1);

    // Another letter case is another plug-in, though the same library file.
    CZELPlugin* upper = nullptr;
    EXPECT_EQ(manager.LoadPlugin("ZELTestPluginComplete.DLL", &upper), ZEL_STATUS_SUCCESS);
    EXPECT_NE(upper, first);
    EXPECT_EQ(calls.initialize, 2);

    std::string name;
    EXPECT_EQ(manager.GetPlugin(0, name), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(name, kComplete);
    EXPECT_EQ(manager.GetPlugin(1, name), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(name, "ZELTestPluginComplete.DLL");
    EXPECT_EQ(manager.GetPlugin(2, name), ZEL_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(manager.GetPlugin(-1, name), ZEL_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(manager.GetPlugin(kComplete), first);
    EXPECT_EQ(manager.GetPlugin("zeltestplugincomplete.dll"), nullptr);
}

TEST_F(CZELPluginManagerTest, RejectsLibrariesItCannotUseAndReleasesThem)
{
    const struct
    {
        const char* name;
        const char* file; // base of a library that exists, else null
    } cases[] = {
        {"ZELTestPluginNoTerminate.dll", "ZELTestPluginNoTerminate"},
        {"ZELTestPluginNoInitialize.dll", "ZELTestPluginNoInitialize"},
        {"ZELTestPluginMissing.dll", nullptr},
        {"/nonexistent/ZELTestPluginComplete.so", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CZELPlugin sentinel;
        CZELPlugin* plugin = &sentinel;
        EXPECT_EQ(manager.LoadPlugin(c.name, &plugin), ZEL_STATUS_UNSPECIFIC_ERROR);
        EXPECT_EQ(plugin, nullptr);
        std::string name;
        EXPECT_EQ(manager.GetPlugin(0, name), ZEL_STATUS_INVALID_PARAMETER);
        if (c.file) {
            EXPECT_FALSE(IsMapped(c.file));
        }
    }
    EXPECT_EQ(manager.LoadPlugin(static_cast<CZELPlugin*>(nullptr)), ZEL_STATUS_INVALID_PARAMETER);
    CZELPlugin empty;
    EXPECT_EQ(manager.LoadPlugin(&empty), ZEL_STATUS_UNSPECIFIC_ERROR);
    EXPECT_EQ(empty.GetInitializeEntry(), nullptr);
}

TEST_F(CZELPluginManagerTest, UnloadedPluginStaysMappedAndCanBeLoadedAgain)
{
    ZELTestPluginCalls& calls = Calls("ZELTestPluginNoProcessEvent");
    CZELPlugin* plugin = nullptr;
    ASSERT_EQ(manager.LoadPlugin(kNoProcessEvent, &plugin), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(manager.UnloadPlugin(plugin), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(calls.terminate, 1);
    EXPECT_EQ(manager.UnloadPlugin(plugin), ZEL_STATUS_NOT_FOUND);
    EXPECT_EQ(manager.UnloadPlugin(nullptr), ZEL_STATUS_NOT_FOUND);
    EXPECT_EQ(calls.terminate, 1);
    EXPECT_EQ(manager.GetPlugin(kNoProcessEvent), nullptr);

    ASSERT_EQ(manager.LoadPlugin(kNoProcessEvent, &plugin), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(calls.initialize, 2);

    // A library the test itself holds no reference to.
    ASSERT_EQ(manager.LoadPlugin("ZELTestPluginKeptMapped.dll", &plugin), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(manager.UnloadPlugin(plugin), ZEL_STATUS_SUCCESS);
    EXPECT_TRUE(IsMapped("ZELTestPluginKeptMapped"));
}

TEST_F(CZELPluginManagerTest, FailedInitializeLeavesThePluginRegistered)
{
    ZELTestPluginCalls& calls = Calls("ZELTestPluginInitializeFails");
    CZELPlugin* plugin = nullptr;
    EXPECT_EQ(manager.LoadPlugin(kInitializeFails, &plugin), ZEL_STATUS_OPERATION_BROKEN);
    EXPECT_NE(plugin, nullptr);
    EXPECT_EQ(manager.GetPlugin(kInitializeFails), plugin);
    EXPECT_EQ(manager.UnloadAllPlugins(), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(calls.terminate, 1);
    EXPECT_EQ(manager.GetPlugin(kInitializeFails), nullptr);
}

TEST_F(CZELPluginManagerTest, EventsReachOnlyPluginsThatTakeThem)
{
    ZELTestPluginCalls& complete = Calls("ZELTestPluginComplete");
    ASSERT_EQ(manager.LoadPlugin(kNoProcessEvent), ZEL_STATUS_SUCCESS);
    ASSERT_EQ(manager.LoadPlugin(kComplete), ZEL_STATUS_SUCCESS);

    int running = 1;
    EXPECT_EQ(manager.CallPluginProcessEvent(ZEL_PLUGIN_EVENT_UPDATE_RUN, &running), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(complete.processEvent, 1);
    EXPECT_EQ(complete.lastValue, 1);

    const struct
    {
        const char* name;
        bool checkOnly;
        long result;
        int calls;
    } cases[] = {
        {kNoProcessEvent, false, ZEL_STATUS_NOT_IMPLEMENTED, 1},
        {kNoProcessEvent, true, ZEL_STATUS_NOT_IMPLEMENTED, 1},
        {"Unknown.dll", false, ZEL_STATUS_NOT_FOUND, 1},
        {kComplete, true, ZEL_STATUS_SUCCESS, 1},
        {kComplete, false, 11, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + (c.checkOnly ? " check only" : ""));
        int stopped = 0;
        EXPECT_EQ(manager.CallPluginProcessEvent(c.name, ZEL_PLUGIN_EVENT_UPDATE_RUN, &stopped, c.checkOnly), c.result);
        EXPECT_EQ(complete.processEvent, c.calls);
    }
    EXPECT_EQ(complete.lastValue, 0);

    EXPECT_EQ(manager.CallPluginShowDialog(kNoProcessEvent, false), ZEL_STATUS_NOT_IMPLEMENTED);
    EXPECT_EQ(manager.CallPluginShowDialog("Unknown.dll", true), ZEL_STATUS_NOT_FOUND);
    EXPECT_EQ(manager.CallPluginShowDialog(kComplete, true), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(complete.showDialog, 0);
    EXPECT_EQ(manager.CallPluginShowDialog(kComplete, false), 7);
    EXPECT_EQ(complete.showDialog, 1);
}

TEST_F(CZELPluginManagerTest, PluginMayCallTheManagerFromItsEntryPoint)
{
    ZELTestPluginCalls& complete = Calls("ZELTestPluginComplete");
    ASSERT_EQ(manager.LoadPlugin(kComplete), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(manager.CallPluginProcessEvent(kComplete, kTestEventCallManager, nullptr, false), 11);
    EXPECT_EQ(complete.managerStatusFromEntry, ZEL_STATUS_SUCCESS);
    EXPECT_EQ(complete.nameFromEntry, kComplete);
}

TEST_F(CZELPluginManagerTest, DialogRunsWithoutBlockingTheManager)
{
    ZELTestPluginCalls& complete = Calls("ZELTestPluginComplete");
    CZELPlugin* plugin = nullptr;
    ASSERT_EQ(manager.LoadPlugin(kComplete, &plugin), ZEL_STATUS_SUCCESS);
    {
        std::lock_guard lock(complete.mutex);
        complete.holdDialog = true;
        complete.dialogEntered = false;
        complete.dialogReleased = false;
    }
    auto dialog = std::async(std::launch::async, [this] { return manager.CallPluginShowDialog(kComplete, false); });
    {
        std::unique_lock lock(complete.mutex);
        ASSERT_TRUE(complete.changed.wait_for(lock, 20s, [&] { return complete.dialogEntered; }));
    }
    // While the dialog runs another thread may unload the very plug-in.
    auto unload = std::async(std::launch::async, [this, plugin] { return manager.UnloadPlugin(plugin); });
    const bool unloaded = unload.wait_for(20s) == std::future_status::ready;
    {
        std::lock_guard lock(complete.mutex);
        complete.dialogReleased = true;
        complete.holdDialog = false;
    }
    complete.changed.notify_all();
    ASSERT_TRUE(unloaded);
    EXPECT_EQ(unload.get(), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(dialog.get(), 7);
    EXPECT_EQ(complete.terminate, 1);
}

TEST_F(CZELPluginManagerTest, InitializeAndTerminateLogAndTerminateUnloadsAll)
{
    ZELTest::ScopedSystemLog log;
    ZELTestPluginCalls& complete = Calls("ZELTestPluginComplete");
    ZELTestPluginCalls& other = Calls("ZELTestPluginNoProcessEvent");
    EXPECT_EQ(manager.Initialize(), ZEL_STATUS_SUCCESS);
    ASSERT_EQ(manager.LoadPlugin(kComplete), ZEL_STATUS_SUCCESS);
    ASSERT_EQ(manager.LoadPlugin(kNoProcessEvent), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(manager.Terminate(), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(complete.terminate, 1);
    EXPECT_EQ(other.terminate, 1);
    std::string name;
    EXPECT_EQ(manager.GetPlugin(0, name), ZEL_STATUS_INVALID_PARAMETER);
    EXPECT_TRUE(log.sink.WaitForLine("The plugin manager has been started."));
    EXPECT_TRUE(log.sink.WaitForLine("The plugin manager has been terminated."));
}
