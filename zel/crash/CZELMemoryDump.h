#pragma once

#include "zel/log/CZELSystemLogEx.h"
#include "zel/platform/CZELRecursiveMutex.h"
#include "zel/platform/ZELCrashSignals.h"
#include "zel/threads/CZELMonitoredThread.h"

#include <cxxabi.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <typeinfo>

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
    // Also installs the terminate handler in the calling program's copy of the C++ runtime: where
    // every module links a copy of its own (MinGW's static runtime), the library's copy alone would
    // not see the program's own uncaught exceptions.
    long Initialize(const std::string& applicationName)
    {
        std::set_terminate(&TopLevelTerminateHandlerRoutine);
        return InitializeModule(applicationName);
    }
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
    // Inline, so that the exception is looked at with the runtime of the module it ends in.
    [[noreturn]] static void TopLevelTerminateHandlerRoutine() { ReportTermination(DescribeCurrentException().c_str()); }
    // Logs the runtime's record of the end, writes a report and ends the process.
    [[noreturn]] static void ReportTermination(const char* cause);
    static std::string DescribeCurrentException();
    // Logs the runtime's record of the invalid parameter and writes a report.
    static void TopLevelCRTInvalidParameterHandlerRoutine(const char* expression, const char* function,
        const char* file, unsigned int line);
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
    long InitializeModule(const std::string& applicationName);
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

inline std::string CZELMemoryDump::DescribeCurrentException()
{
    const std::type_info* type = abi::__cxa_current_exception_type();
    if (type == nullptr)
        return "no active exception";
    int status = 0;
    std::unique_ptr<char, decltype(&std::free)> name(abi::__cxa_demangle(type->name(), nullptr, nullptr, &status), &std::free);
    std::string cause = "an uncaught exception of type ";
    cause += status == 0 && name ? name.get() : type->name();
    try {
        std::rethrow_exception(std::current_exception());
    } catch (const std::exception& exception) {
        cause += ": ";
        cause += exception.what();
    } catch (...) {
    }
    return cause;
}
