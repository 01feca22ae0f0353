#include "zel/crash/CZELMemoryDump.h"

#include "zel/crash/ZELFatal.h"
#include "zel/foundation/CZELIniManager.h"
#include "zel/foundation/CZELLanguage.h"
#include "zel/foundation/CZELTimeTable.h"
#include "zel/foundation/ZELMessageBox.h"
#include "zel/foundation/ZELStatus.h"
#include "zel/platform/CZELEvent.h"
#include "zel/platform/CZELFixedText.h"
#include "zel/platform/ZELCrashReport.h"
#include "zel/platform/ZELFile.h"
#include "zel/platform/ZELHeapCheck.h"
#include "zel/platform/ZELPathSeparator.h"
#include "zel/platform/ZELProcess.h"
#include "zel/platform/ZELSystemTime.h"
#include "zel/platform/ZELThreadName.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <mutex>

namespace {

constexpr const char* kSection = "ZELMemoryDump";
constexpr const char* kDefaultName = "ZEL Memory Dump";
constexpr const char* kPureVirtualText = "A pure virtual function call has been detected.";
constexpr unsigned int kErrorBoxStyle = 16;

const char* Text(long id)
{
    return GetZELLanguage().GetString(ZEL_MODULE_MEMORY_DUMP, id);
}

long HeapCheckMain(void* data)
{
    return static_cast<CZELMemoryDump*>(data)->RunHeapCheckThread();
}

std::string FileNameOf(const std::string& path)
{
    const char separators[] = {'/', ZELPlatform::kPathSeparator, '\0'};
    const auto slash = path.find_last_of(separators);
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Lowered(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// The runtime's fatal-error record.
std::string CriticalErrorRecord(const char* file, const char* function, int line, const char* expression)
{
    char record[2048];
    std::snprintf(record, sizeof record,
        "A critical error has been detected.\r\nFile: %s\r\nFunction: %s\r\nLine: %i\r\nExpression: %s\r\nThread ID: %i",
        file, function, line, expression, static_cast<int>(ZELPlatform::GetCurrentThreadId()));
    return record;
}

long StatusOf(ZELPlatform::PlatformResult result)
{
    switch (result) {
    case ZELPlatform::PlatformResult::Done:
        return ZEL_STATUS_SUCCESS;
    case ZELPlatform::PlatformResult::NotFound:
        return ZEL_STATUS_NOT_FOUND;
    case ZELPlatform::PlatformResult::NoMemory:
        return ZEL_STATUS_NO_MEMORY;
    case ZELPlatform::PlatformResult::Failed:
        break;
    }
    return ZEL_STATUS_UNSPECIFIC_ERROR;
}

// "<text> (GetLastError() = 0x%08x):\r\n\r\n<path>"
void AppendFailure(CZELFixedText& result, long text, int error, const char* path)
{
    result.Append(Text(text)).Append(" (GetLastError() = ").AppendHex(static_cast<std::uint32_t>(error), 8);
    result.Append("):\r\n\r\n").Append(path);
}

} // namespace

CZELMemoryDump::CZELMemoryDump() = default;

CZELMemoryDump::~CZELMemoryDump()
{
    m_heapCheckThread.DestroyThread(true);
    m_heapCheckThread.Unregister();
}

long CZELMemoryDump::AddOutput(const std::string& message, _ZELSystemLogExEventType type)
{
    return AddOutputStatic(message, type);
}

long CZELMemoryDump::AddOutputStatic(const std::string& message, _ZELSystemLogExEventType type)
{
    return GetZELSystemLogEx().AddOutput(message, type, "", "CZELMemoryDump", "");
}

long CZELMemoryDump::InitializeModule(const std::string& applicationName)
{
    std::lock_guard lock(m_lock);
    if (m_initialized.load())
        return ZEL_STATUS_SUCCESS;
    m_applicationName = applicationName.empty() ? kDefaultName : applicationName;
    GenerateFileNames();
    m_messageBoxProcess = ZELPlatform::PrepareMessageBoxProcess(ZELPlatform::GetLibraryPath());
    long status = ZEL_STATUS_SUCCESS;
    if (!IsRundll32()) {
        status = SetTopLevelFilters();
        // Marked before the settings, so that a heap check they start checks on its first pass.
        m_initialized.store(true);
        ApplyIniSettings();
    }
    m_initialized.store(true);
    return status;
}

long CZELMemoryDump::Terminate()
{
    std::lock_guard lock(m_lock);
    m_heapCheckThread.DestroyThread(true);
    m_heapCheckInterval.store(0); // so that a later SetCyclicHeapCheck starts the check again
    return ZEL_STATUS_SUCCESS;
}

long CZELMemoryDump::GenerateFileNames()
{
    const std::string current = ZELPlatform::GetCurrentDirectory();
    if (current.empty()) {
        m_dumpDirectory.clear();
        AddOutput(Text(2), ZEL_SYSTEM_LOG_EX_EVENT_ERROR);
        return ZEL_STATUS_UNSPECIFIC_ERROR;
    }
    m_dumpDirectory = current + ZELPlatform::kPathSeparator + "Dumps";
    if (ZELPlatform::CreateDirectory(m_dumpDirectory) != 0) {
        AddOutput(Text(1), ZEL_SYSTEM_LOG_EX_EVENT_ERROR);
        return ZEL_STATUS_UNSPECIFIC_ERROR;
    }
    return ZEL_STATUS_SUCCESS;
}

long CZELMemoryDump::ApplyIniSettings()
{
    CZELIniManager& ini = GetZELIniManager();
    // A key counts only when it is present with a value; values convert as atoi does.
    auto read = [&ini](const char* key, int& value) {
        std::string text;
        if (ini.GetEntry(kSection, key, &text, "") != ZEL_STATUS_SUCCESS)
            return false;
        value = std::atoi(text.c_str());
        return true;
    };
    int value = 0;
    if (read("DumpType", value))
        SetDumpType(value);
    if (read("DEPPolicy", value))
        SetDEPPolicy(static_cast<std::uint32_t>(value));
    if (read("DumpAfterHeapCorruption", value) && value != 0)
        SetDumpAfterHeapCorruption(true);
    if (read("MessageBoxAfterDump", value))
        SetShowMessageBoxAfterDump(value != 0);
    if (read("HeapCheckInterval", value)) {
        const std::uint64_t seconds = static_cast<std::uint64_t>(std::max(value, 0));
        SetCyclicHeapCheck(static_cast<std::uint32_t>(std::min<std::uint64_t>(seconds * 1000, UINT32_MAX)));
    }
    return ZEL_STATUS_SUCCESS;
}

long CZELMemoryDump::SetTopLevelFilters()
{
    if (m_handlersInstalled.exchange(true))
        return ZEL_STATUS_SUCCESS;
    // Loaded now, so that a crash finds the writer without having to take the loader's lock.
    ZELPlatform::FindCrashReportWriter();
    ZELPlatform::SetInvalidParameterHandler(&TopLevelCRTInvalidParameterHandlerRoutine);
    const int error = ZELPlatform::InstallCrashSignalHandlers(&TopLevelFilterStatic);
    std::set_terminate(&TopLevelTerminateHandlerRoutine);
    ZELSetFatalHandler(&RaiseFatalStatic);
    LockTopLevelFilters();
    return error == 0 ? ZEL_STATUS_SUCCESS : ZEL_STATUS_UNSPECIFIC_ERROR;
}

long CZELMemoryDump::LockTopLevelFilters()
{
    const long status = StatusOf(ZELPlatform::LockCrashHandlers());
    if (status == ZEL_STATUS_SUCCESS)
        m_filterLock = true;
    return status;
}

void CZELMemoryDump::SetDumpType(int dumpType)
{
    m_dumpType.exchange(dumpType);
}

long CZELMemoryDump::SetDEPPolicy(std::uint32_t policy)
{
    std::lock_guard lock(m_lock);
    if (m_depPolicySet)
        return policy == m_depPolicy ? ZEL_STATUS_SUCCESS : ZEL_STATUS_UNSPECIFIC_ERROR;
    const long status = StatusOf(ZELPlatform::SetDataExecutionPrevention(policy));
    if (status == ZEL_STATUS_SUCCESS) {
        m_depPolicy = policy;
        m_depPolicySet = true;
    }
    return status;
}

std::uint32_t CZELMemoryDump::GetDEPPolicy() const
{
    std::lock_guard lock(m_lock);
    return m_depPolicy;
}

long CZELMemoryDump::SetDumpAfterHeapCorruption(bool enable)
{
    // Enabling also adds a dump and the end of the process to a damage the heap check finds.
    if (!enable)
        return m_heapTermination.load() ? ZEL_STATUS_UNSPECIFIC_ERROR : ZEL_STATUS_SUCCESS;
    std::lock_guard lock(m_lock);
    if (m_heapTermination.load())
        return ZEL_STATUS_SUCCESS;
    if (!ZELPlatform::EnableTerminationOnHeapCorruption())
        return ZEL_STATUS_UNSPECIFIC_ERROR;
    m_heapTermination.store(true);
    return ZEL_STATUS_SUCCESS;
}

long CZELMemoryDump::SetCyclicHeapCheck(std::uint32_t interval)
{
    std::lock_guard lock(m_lock);
    if (interval == m_heapCheckInterval.load())
        return ZEL_STATUS_SUCCESS;
    m_heapCheckInterval.store(interval);
    if (interval != 0) {
        if (m_heapCheckThread.IsRunning())
            return ZEL_STATUS_SUCCESS; // the loop takes the new interval on its next pass
        m_heapCheckThread.SetThreadName("ZEL Heap Check");
        const long status = m_heapCheckThread.CreateThread(&HeapCheckMain, this);
        AddOutput(Text(status == ZEL_STATUS_SUCCESS ? 16 : 17),
            status == ZEL_STATUS_SUCCESS ? ZEL_SYSTEM_LOG_EX_EVENT_INFORMATION : ZEL_SYSTEM_LOG_EX_EVENT_ERROR);
        return status;
    }
    if (m_heapCheckThread.IsRunning())
        return m_heapCheckThread.DestroyThread(true);
    return ZEL_STATUS_SUCCESS;
}

long CZELMemoryDump::RunHeapCheckThread()
{
    if (!m_heapCheckThread.IsRunning())
        return ZEL_STATUS_NOT_INITIALIZED;
    m_heapCheckThread.SignalStart();
    std::uint32_t lastCheck = 0;
    bool checked = false;
    while (m_heapCheckThread.IsRunning()) {
        m_heapCheckThread.UpdateStatus();
        const auto now = static_cast<std::uint32_t>(ZELPlatform::GetTickCountMs());
        if (!checked || static_cast<std::uint32_t>(now - lastCheck) > m_heapCheckInterval.load()) {
            CheckHeapConsistency();
            lastCheck = now;
            checked = true;
        }
        m_heapCheckThread.Sleep(ZELTimes().workerLoopWait);
    }
    AddOutput(Text(18), ZEL_SYSTEM_LOG_EX_EVENT_INFORMATION);
    return ZEL_STATUS_SUCCESS;
}

long CZELMemoryDump::CheckHeapConsistency()
{
    if (!m_initialized.load())
        return ZEL_STATUS_NOT_INITIALIZED;
    switch (ZELPlatform::CheckHeaps()) {
    case ZELPlatform::HeapState::Valid:
        return ZEL_STATUS_SUCCESS;
    case ZELPlatform::HeapState::OutOfMemory:
        return ZEL_STATUS_NO_MEMORY;
    case ZELPlatform::HeapState::CheckFailed:
        return ZEL_STATUS_UNSPECIFIC_ERROR;
    case ZELPlatform::HeapState::Corrupted:
        break;
    }
    AddOutput(Text(9), ZEL_SYSTEM_LOG_EX_EVENT_FATAL);
    if (m_heapTermination.load() && m_handlersInstalled.load())
        ZELRaiseFatal(Text(9));
    return ZEL_STATUS_INVALID_BUFFER;
}

long CZELMemoryDump::CreateMemoryDump()
{
    if (!m_handlersInstalled.load())
        return ZEL_STATUS_NOT_INITIALIZED;
    ZELRaiseFatal("CreateMemoryDump");
    return ZEL_STATUS_NOT_INITIALIZED;
}

long CZELMemoryDump::CrashFast()
{
    if (!ZELRaiseFatal("CrashFast"))
        return ZEL_STATUS_NOT_INITIALIZED;
    return ZEL_STATUS_SUCCESS;
}

long CZELMemoryDump::ProvokeCrash()
{
    if (!m_handlersInstalled.load())
        return ZEL_STATUS_NOT_INITIALIZED;
    AddOutput(Text(19), ZEL_SYSTEM_LOG_EX_EVENT_FATAL);
    // A member of an object at address null: the pointer is volatile so the compiler keeps the
    // write, and made from an integer so the undefined-behaviour sanitizer lets it fault.
    volatile int* volatile target = reinterpret_cast<volatile int*>(0x10);
    *target = 19;
    return ZEL_STATUS_SUCCESS;
}

long CZELMemoryDump::ProvokeHang()
{
    if (!m_handlersInstalled.load())
        return ZEL_STATUS_NOT_INITIALIZED;
    AddOutput(Text(20), ZEL_SYSTEM_LOG_EX_EVENT_FATAL);
    CZELEvent never;
    for (;;)
        never.Wait(std::chrono::milliseconds(-1));
}

long CZELMemoryDump::ProvokeHeapCorruption()
{
    if (!m_handlersInstalled.load())
        return ZEL_STATUS_NOT_INITIALIZED;
    AddOutput(Text(21), ZEL_SYSTEM_LOG_EX_EVENT_FATAL);
    ZELPlatform::DamageHeap();
    return CheckHeapConsistency();
}

bool CZELMemoryDump::IsRundll32()
{
    return Lowered(FileNameOf(ZELPlatform::GetProgramPath())) == Lowered(ZELPlatform::MessageBoxHelperProgramName());
}

std::string CZELMemoryDump::GetApplicationName() const
{
    std::lock_guard lock(m_lock);
    return m_applicationName;
}

std::string CZELMemoryDump::GetDumpDirectory() const
{
    std::lock_guard lock(m_lock);
    return m_dumpDirectory;
}

void CZELMemoryDump::RaiseFatalStatic(const std::string& reason)
{
    ZELPlatform::RaiseCrash(reason.c_str());
}

void CZELMemoryDump::TopLevelFilterStatic(const ZELPlatform::CrashInfo& info)
{
    GetZELMemoryDump().TopLevelFilter(info, true);
}

void CZELMemoryDump::TopLevelPureVirtualFunctionCallHandlerRoutine()
{
    if (GetZELMemoryDump().m_handlersInstalled.load()) {
        AddOutputStatic(kPureVirtualText, ZEL_SYSTEM_LOG_EX_EVENT_FATAL);
        ZELPlatform::RaiseCrash(kPureVirtualText);
    }
    std::abort();
}

void CZELMemoryDump::TopLevelCRTInvalidParameterHandlerRoutine(const char* expression, const char* function,
    const char* file, unsigned int line)
{
    AddOutputStatic(CriticalErrorRecord(file, function, static_cast<int>(line), expression), ZEL_SYSTEM_LOG_EX_EVENT_FATAL);
    ZELPlatform::RaiseCrash("A critical error has been detected.");
}

void CZELMemoryDump::ReportTermination(const char* cause)
{
    // The C++ runtime names neither file nor line, only the cause.
    AddOutputStatic(CriticalErrorRecord("", "std::terminate", 0, cause), ZEL_SYSTEM_LOG_EX_EVENT_FATAL);
    const std::string reason = std::string("std::terminate after ") + cause;
    ZELPlatform::RaiseCrash(reason.c_str());
    std::abort();
}

long CZELMemoryDump::ShowMessageBoxViaNewProcess(const char* text, const char* caption, unsigned int style)
{
    return StatusOf(ZELPlatform::StartMessageBoxProcess(m_messageBoxProcess, text, caption, style));
}

long CZELMemoryDump::TopLevelFilter(const ZELPlatform::CrashInfo& info, bool terminate)
{
    // Faults of several threads are serialised only by this wait, as the numbering shows.
    const int number = ++m_crashCount;
    if (number >= 2)
        ZELPlatform::SleepMilliseconds(static_cast<std::uint64_t>(number) * ZELTimes().secondFaultWait.count());

    // From here on every step may wait on a lock the faulting code holds (the log's, the time
    // zone's, the symboliser's): bounded, the process still ends.
    const auto flush = ZELTimes().fatalLogFlush;
    ZELPlatform::StartCrashWatchdog(static_cast<std::uint64_t>((flush + ZELTimes().crashReportLimit).count()));
    // What the log has accepted (the records that explain the fault among them) reaches its file
    // before the report; a fault on the log's own thread waits out the time and goes on.
    GetZELSystemLogEx().WaitUntilWritten(flush);

    SYSTEMTIME local;
    ZELPlatform::GetLocalTime(local);
    CZELFixedText path;
    path.Append(m_dumpDirectory.c_str()).Append(ZELPlatform::kPathSeparator).Append(m_applicationName.c_str()).Append(' ');
    path.AppendUnsigned(local.wYear, 4).Append('-').AppendUnsigned(local.wMonth, 2).Append('-');
    path.AppendUnsigned(local.wDay, 2).Append(' ').AppendUnsigned(local.wHour, 2).Append('-');
    path.AppendUnsigned(local.wMinute, 2).Append('-').AppendUnsigned(local.wSecond, 2);
    path.Append(" (").AppendUnsigned(static_cast<std::uint64_t>(number), 2).Append(").dmp");

    CZELFixedText result;
    const ZELPlatform::CrashReportWriter writer = ZELPlatform::FindCrashReportWriter();
    const int fd = writer == ZELPlatform::CrashReportWriter::Available ? ZELPlatform::CreateReportFile(path.Text()) : -1;
    if (writer == ZELPlatform::CrashReportWriter::Missing) {
        result.Append(Text(7));
    } else if (writer == ZELPlatform::CrashReportWriter::Incompatible) {
        result.Append(Text(6));
    } else if (fd < 0) {
        AppendFailure(result, 5, -fd, path.Text());
    } else {
        ZELPlatform::CrashReportContext context;
        context.applicationName = m_applicationName.c_str();
        context.crashCount = number;
        context.dumpType = m_dumpType.load();
        context.symbolise = info.nesting == 1;
        const int error = ZELPlatform::WriteCrashReport(fd, info, context);
        if (error == 0) {
            result.Append(Text(3)).Append("\r\n\r\n").Append(path.Text());
        } else {
            AppendFailure(result, 4, error, path.Text());
            ZELPlatform::WriteText(fd, result.Text());
        }
        ZELPlatform::CloseReportFile(fd);
    }
    ZELPlatform::CancelCrashWatchdog();

    if (m_messageBox.load()) {
        CZELFixedText box;
        box.Append(Text(8)).Append("\r\n\r\n").Append(result.Text());
        if (ShowMessageBoxViaNewProcess(box.Text(), m_applicationName.c_str(), kErrorBoxStyle) != ZEL_STATUS_SUCCESS)
            ZELShowMessageBox(box.Text(), m_applicationName, kErrorBoxStyle);
    }
    if (terminate)
        ZELPlatform::ExitProcessNow(1);
    return 1; // the handler has run
}

// The C++ runtime calls this for a pure virtual call; this definition takes the place of the
// runtime's own for every program that links the library.
extern "C" __attribute__((__noreturn__)) void __cxa_pure_virtual()
{
    CZELMemoryDump::TopLevelPureVirtualFunctionCallHandlerRoutine();
}
