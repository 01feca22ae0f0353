#pragma once

#include "zel/log/CZELSystemLogEx.h"
#include "zel/platform/CZELRecursiveMutex.h"
#include "zel/platform/ZELCrashSignals.h"
#include "zel/threads/CZELMonitoredThread.h"

#include <atomic>
#include <cstdint>
#include <string>

// Minidump type flags that the dump type holds; with full memory a core file would be allowed too.
inline constexpr int ZEL_DUMP_TYPE_FULL_MEMORY = 0x0002;
inline constexpr int ZEL_DUMP_TYPE_DEFAULT = 0x126;

// Turns every fatal fault of the process into a crash report in the folder Dumps (a text report on
// Linux, a minidump on Windows) and an end with exit code 1: the faults (signals, structured
// exceptions), abort, std::terminate, pure virtual calls and every fatal condition raised through
// ZELRaiseFatal (hung thread, heap corruption, CrashFast). Also runs the cyclic heap check
// "ZEL Heap Check".
class CZELMemoryDump
{
public:
    CZELMemoryDump();
    CZELMemoryDump(const CZELMemoryDump&) = delete;
    CZELMemoryDump& operator=(const CZELMemoryDump&) = delete;
    virtual ~CZELMemoryDump();

    // Once: stores the name ("ZEL Memory Dump" when empty), creates Dumps under the current
    // directory, and, except in the message-box helper process, installs the handlers and applies the
    // section "ZELMemoryDump" of ZEL.ini. Later calls change nothing.
    long Initialize(const std::string& applicationName);
    // Stops the heap check thread; the handlers stay installed.
    long Terminate();

    void SetDumpType(int dumpType);
    int GetDumpType() const { return m_dumpType.load(); }
    // The first value that the platform accepts holds, asking for another one then gives
    // ZEL_STATUS_UNSPECIFIC_ERROR. Linux keeps data execution prevention on for every process, so
    // there the policy is only recorded; ZEL_STATUS_NOT_FOUND where the platform has no such call.
    long SetDEPPolicy(std::uint32_t policy);
    std::uint32_t GetDEPPolicy() const;
    // Enabling cannot be undone: false after true gives ZEL_STATUS_UNSPECIFIC_ERROR.
    long SetDumpAfterHeapCorruption(bool enable);
    bool GetDumpAfterHeapCorruption() const { return m_heapTermination.load(); }
    void SetShowMessageBoxAfterDump(bool show) { m_messageBox.store(show); }
    bool GetShowMessageBoxAfterDump() const { return m_messageBox.load(); }
    // Interval of the heap check in ms; 0 stops it.
    long SetCyclicHeapCheck(std::uint32_t interval);
    std::uint32_t GetHeapCheckInterval() const { return m_heapCheckInterval.load(); }
    bool IsHeapCheckRunning() const { return m_heapCheckThread.IsRunning(); }

    // ZEL_STATUS_NOT_INITIALIZED while the handlers are not installed; otherwise writes a report
    // and ends the process.
    long CreateMemoryDump();

    // Diagnostics for service staff: ZEL_STATUS_NOT_INITIALIZED while the handlers are not
    // installed. A null write; an endless wait of the calling thread that the thread monitor finds
    // when the thread is monitored; a damaged heap block that the heap check finds at once.
    long ProvokeCrash();
    long ProvokeHang();
    long ProvokeHeapCorruption();

    // Writes the report of `info` and, with `terminate`, ends the process with exit code 1.
    long TopLevelFilter(const ZELPlatform::CrashInfo& info, bool terminate);
    static void TopLevelFilterStatic(const ZELPlatform::CrashInfo& info);
    [[noreturn]] static void TopLevelPureVirtualFunctionCallHandlerRoutine();
    [[noreturn]] static void TopLevelTerminateHandlerRoutine();
    // Writes a report and ends the process; ZEL_STATUS_NOT_INITIALIZED while no handler is installed.
    static long CrashFast();
    // True in the helper process (zel-run, rundll32.exe) that only shows a message box.
    static bool IsRundll32();

    bool IsInitialized() const { return m_initialized.load(); }
    std::string GetApplicationName() const;
    std::string GetDumpDirectory() const;
    int GetCrashCount() const { return m_crashCount.load(); }

    // One pass of the heap check: ZEL_STATUS_INVALID_BUFFER for a damaged heap, which with the
    // heap termination flag ends the process instead.
    long CheckHeapConsistency();
    long RunHeapCheckThread();

private:
    long GenerateFileNames();
    long ApplyIniSettings();
    long SetTopLevelFilters();
    long LockTopLevelFilters();
    long ShowMessageBoxViaNewProcess(const char* text, const char* caption, unsigned int style);
    static void RaiseFatalStatic(const std::string& reason);
    long AddOutput(const std::string& message, _ZELSystemLogExEventType type);
    static long AddOutputStatic(const std::string& message, _ZELSystemLogExEventType type);

    mutable CZELRecursiveMutex m_lock;
    std::atomic<bool> m_initialized{false};
    std::string m_applicationName;
    std::string m_dumpDirectory;
    // The message-box helper and its library, found at Initialize so a crash need not look.
    ZELPlatform::MessageBoxProcess m_messageBoxProcess;
    std::atomic<int> m_dumpType{ZEL_DUMP_TYPE_DEFAULT};
    std::uint32_t m_depPolicy = 0;
    bool m_depPolicySet = false;
    std::atomic<bool> m_heapTermination{false};
    std::atomic<bool> m_messageBox{false};
    std::atomic<bool> m_handlersInstalled{false};
    bool m_filterLock = false;
    std::atomic<int> m_crashCount{0};
    CZELMonitoredThread m_heapCheckThread;
    std::atomic<std::uint32_t> m_heapCheckInterval{0};
};

CZELMemoryDump& GetZELMemoryDump();
