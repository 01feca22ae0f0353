// The library's single instances. They are members of one object defined in this one file, so
// they are constructed at load in exactly this order and destroyed in the reverse order at unload:
// the thread monitor before every owner of a monitored thread, the log before every module that logs.

#include "zel/commands/CZELCommandHelper.h"
#include "zel/commands/CZELCommandSet.h"
#include "zel/crash/CZELMemoryDump.h"
#include "zel/firmware/CZELFileHeader.h"
#include "zel/foundation/CZELApp.h"
#include "zel/foundation/CZELCommandLine.h"
#include "zel/foundation/CZELIniManager.h"
#include "zel/foundation/CZELLanguage.h"
#include "zel/foundation/CZELMain.h"
#include "zel/log/CZELSystemLogEx.h"
#include "zel/plugins/CZELPluginManager.h"
#include "zel/plugins/CZELScriva.h"
#include "zel/queue/CZELMessageQueue.h"
#include "zel/serial/CZELSerialPort.h"
#include "zel/stm32/CZELSTM32BootLoader.h"
#include "zel/threads/CZELThreadMonitor.h"

namespace {

struct ZELModules
{
    CZELApp app;
    CZELLanguage language;
    CZELThreadMonitor threadMonitor;
    CZELSystemLogEx systemLog;
    CZELSerialPort serialPort;
    CZELMessageQueue messageQueue;
    CZELPluginManager pluginManager;
    CZELCommandSet commandSet;
    CZELScriva scriva;
    CZELCommandHelper commandHelper;
    CZELIniManager iniManager;
    CZELMemoryDump memoryDump;
    CZELCommandLine commandLine;
    CZELFileHeader fileHeader;
    CZELSTM32BootLoader stm32BootLoader;
    CZELMain main;

    ZELModules() { app.InitInstance(); }
    // The receiving thread publishes on the hub, which is destroyed before the port: a program that
    // ends with the port still open must not have the thread publish on a destroyed hub.
    ~ZELModules() { serialPort.TerminateReceivingThread(); }
};

ZELModules g_modules;

} // namespace

CZELLanguage& GetZELLanguage() { return g_modules.language; }
CZELThreadMonitor& GetZELThreadMonitor() { return g_modules.threadMonitor; }
CZELSystemLogEx& GetZELSystemLogEx() { return g_modules.systemLog; }
CZELSerialPort& GetZELSerialPort() { return g_modules.serialPort; }
CZELMessageQueue& GetZELMessageQueue() { return g_modules.messageQueue; }
CZELPluginManager& GetZELPluginManager() { return g_modules.pluginManager; }
CZELCommandSet& GetZELCommandSet() { return g_modules.commandSet; }
CZELScriva& GetZELScriva() { return g_modules.scriva; }
CZELCommandHelper& GetZELCommandHelper() { return g_modules.commandHelper; }
CZELIniManager& GetZELIniManager() { return g_modules.iniManager; }
CZELMemoryDump& GetZELMemoryDump() { return g_modules.memoryDump; }
CZELCommandLine& GetZELCommandLine() { return g_modules.commandLine; }
CZELFileHeader& GetZELFileHeader() { return g_modules.fileHeader; }
CZELSTM32BootLoader& GetZELSTM32BootLoader() { return g_modules.stm32BootLoader; }
CZELMain& GetZELMain() { return g_modules.main; }
