#include <windows.h>

#include "zel/platform/ZELCrashSignals.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

namespace ZELPlatform {

namespace {

// STATUS_NONCONTINUABLE_EXCEPTION: the code of every fatal condition the program raises itself.
constexpr DWORD kFatalConditionCode = 0xC0000025;
// The codes GCC's unwinder raises a C++ exception with ('GCC' in the low bytes).
constexpr DWORD kGccExceptionMask = 0x00FFFFFF;
constexpr DWORD kGccExceptionBits = 0x00474343;
// Room a thread keeps for the handler of its own stack overflow.
constexpr ULONG kStackGuarantee = 32 * 1024;
// The report of a stack overflow runs on a thread of its own: the writer and the log need room.
constexpr SIZE_T kReportThreadStack = 1024 * 1024;
// More faults than this on one thread while it reports: give up at once.
constexpr int kMostNestedFaults = 3;

std::atomic<CrashHandler> g_handler{nullptr};
std::atomic<InvalidParameterHandler> g_invalidParameterHandler{nullptr};
std::atomic<bool> g_installed{false};

// Thread-local slots without the runtime's emulated TLS, which may allocate on first use: the
// faults a thread is handling, and the reason of the fatal condition it raises.
DWORD g_nestingSlot = TLS_OUT_OF_INDEXES;
DWORD g_reasonSlot = TLS_OUT_OF_INDEXES;

// A stack overflow leaves its thread too little stack for the report (Wine ends such a process at
// once), so the report is written by this thread, started while all was well.
HANDLE g_overflowThread = nullptr;
HANDLE g_overflowStart = nullptr;
std::atomic<bool> g_overflowClaimed{false};
CrashInfo g_overflowInfo;

// Ends the process when a report takes too long; started while all was well, like the above.
HANDLE g_watchdogThread = nullptr;
HANDLE g_watchdogArm = nullptr;
HANDLE g_watchdogCancel = nullptr;
std::atomic<DWORD> g_watchdogLimit{0};

bool IsCppException(const EXCEPTION_RECORD& record)
{
    return (record.ExceptionCode & kGccExceptionMask) == kGccExceptionBits &&
        (record.ExceptionFlags & EXCEPTION_NONCONTINUABLE) == 0;
}

CrashInfo DescribeFault(EXCEPTION_POINTERS* pointers)
{
    const EXCEPTION_RECORD& record = *pointers->ExceptionRecord;
    CrashInfo info;
    const char* reason = nullptr;
    if (record.ExceptionCode == kFatalConditionCode && g_reasonSlot != TLS_OUT_OF_INDEXES)
        reason = static_cast<const char*>(::TlsGetValue(g_reasonSlot));
    if (reason != nullptr) {
        info.reason = reason;
    } else {
        info.signal = static_cast<int>(record.ExceptionCode);
        if ((record.ExceptionCode == EXCEPTION_ACCESS_VIOLATION || record.ExceptionCode == EXCEPTION_IN_PAGE_ERROR) &&
            record.NumberParameters >= 2) {
            info.code = static_cast<int>(record.ExceptionInformation[0]);
            info.address = static_cast<std::uintptr_t>(record.ExceptionInformation[1]);
        }
    }
    info.faultAddress = reinterpret_cast<std::uintptr_t>(record.ExceptionAddress);
    info.machineContext = pointers;
    info.threadId = ::GetCurrentThreadId();
    return info;
}

[[noreturn]] void RunHandler(CrashInfo& info)
{
    int nesting = 1;
    if (g_nestingSlot != TLS_OUT_OF_INDEXES) {
        nesting = static_cast<int>(reinterpret_cast<std::intptr_t>(::TlsGetValue(g_nestingSlot))) + 1;
        ::TlsSetValue(g_nestingSlot, reinterpret_cast<void*>(static_cast<std::intptr_t>(nesting)));
    }
    info.nesting = nesting;
    if (nesting > kMostNestedFaults)
        ExitProcessNow(1);
    const CrashHandler handler = g_handler.load();
    if (handler != nullptr)
        handler(info);
    ExitProcessNow(1);
}

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* pointers)
{
    // A C++ exception that no frame catches comes here first; continued, the C++ runtime calls
    // std::terminate, whose handler names the exception before it ends in a report.
    if (IsCppException(*pointers->ExceptionRecord))
        return EXCEPTION_CONTINUE_EXECUTION;
    CrashInfo info = DescribeFault(pointers);
    RunHandler(info);
}

LONG WINAPI OnVectoredException(EXCEPTION_POINTERS* pointers)
{
    if (pointers->ExceptionRecord->ExceptionCode != EXCEPTION_STACK_OVERFLOW || g_overflowThread == nullptr ||
        g_handler.load() == nullptr)
        return EXCEPTION_CONTINUE_SEARCH;
    if (g_overflowClaimed.exchange(true)) {
        // Another thread's overflow is being reported; that report ends the process.
        for (;;)
            ::Sleep(INFINITE);
    }
    // This thread waits with its stack intact, so the dump shows the overflow.
    g_overflowInfo = DescribeFault(pointers);
    ::SetEvent(g_overflowStart);
    ::WaitForSingleObject(g_overflowThread, INFINITE);
    ExitProcessNow(1);
}

DWORD WINAPI OverflowReportMain(void*)
{
    ::WaitForSingleObject(g_overflowStart, INFINITE);
    RunHandler(g_overflowInfo);
}

DWORD WINAPI WatchdogMain(void*)
{
    for (;;) {
        ::WaitForSingleObject(g_watchdogArm, INFINITE);
        if (::WaitForSingleObject(g_watchdogCancel, g_watchdogLimit.load()) == WAIT_TIMEOUT)
            ExitProcessNow(1);
    }
}

void OnAbort(int)
{
    RaiseCrash("abort");
    ExitProcessNow(1);
}

// Converts a text of the runtime into `out`; empty for none.
void Narrow(const wchar_t* text, char* out, int size)
{
    out[0] = '\0';
    if (text == nullptr)
        return;
    const int length = ::WideCharToMultiByte(CP_ACP, 0, text, -1, out, size, nullptr, nullptr);
    if (length <= 0)
        out[0] = '\0';
    out[size - 1] = '\0';
}

void __cdecl OnInvalidParameter(const wchar_t* expression, const wchar_t* function, const wchar_t* file,
    unsigned int line, std::uintptr_t)
{
    const InvalidParameterHandler handler = g_invalidParameterHandler.load();
    if (handler == nullptr)
        return;
    char expressionText[1024];
    char functionText[256];
    char fileText[MAX_PATH];
    Narrow(expression, expressionText, sizeof expressionText);
    Narrow(function, functionText, sizeof functionText);
    Narrow(file, fileText, sizeof fileText);
    handler(expressionText, functionText, fileText, line);
}

// The runtime's message and fault report on abort() are switched off where it has the switch.
void QuietAbort()
{
    using SetAbortBehavior = unsigned int(__cdecl*)(unsigned int flags, unsigned int mask);
    constexpr unsigned int kWriteAbortMessage = 0x1;
    constexpr unsigned int kCallReportFault = 0x2;
    for (const char* runtime : {"ucrtbase.dll", "msvcrt.dll"}) {
        const HMODULE module = ::GetModuleHandleA(runtime);
        if (module == nullptr)
            continue;
        const auto set = reinterpret_cast<SetAbortBehavior>(
            reinterpret_cast<void*>(::GetProcAddress(module, "_set_abort_behavior")));
        if (set != nullptr)
            set(0, kWriteAbortMessage | kCallReportFault);
    }
}

// Overwrites the start of `function` with "return null" for its one argument: the same as a jump
// to such a function, without a jump's reach (32 bits on x86-64) or length.
bool PatchToReturnNull(void* function)
{
#if defined(__x86_64__) || defined(__i386__)
#if defined(__x86_64__)
    static const unsigned char kCode[] = {0x31, 0xC0, 0xC3}; // xor eax, eax; ret
#else
    static const unsigned char kCode[] = {0x31, 0xC0, 0xC2, 0x04, 0x00}; // xor eax, eax; ret 4
#endif
    DWORD previous = 0;
    if (!::VirtualProtect(function, sizeof kCode, PAGE_EXECUTE_READWRITE, &previous))
        return false;
    std::memcpy(function, kCode, sizeof kCode);
    DWORD ignored = 0;
    ::VirtualProtect(function, sizeof kCode, previous, &ignored);
    ::FlushInstructionCache(::GetCurrentProcess(), function, sizeof kCode);
    return true;
#else
    (void)function;
    return false;
#endif
}

// `text` as one argument of a command line as both the C runtime and CommandLineToArgvW split it:
// quotes are escaped with a backslash, backslashes before a quote doubled.
void AppendQuoted(std::string& line, const char* text)
{
    line += '"';
    std::size_t backslashes = 0;
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c == '\\') {
            ++backslashes;
            continue;
        }
        if (*c == '"')
            line.append(backslashes * 2 + 1, '\\');
        else
            line.append(backslashes, '\\');
        line += *c;
        backslashes = 0;
    }
    line.append(backslashes * 2, '\\');
    line += '"';
}

PlatformResult StartCommandLine(const char* program, std::string& commandLine)
{
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessA(program, commandLine.data(), nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS, nullptr,
            nullptr, &startup, &process)) {
        const DWORD error = ::GetLastError();
        return error == ERROR_NOT_ENOUGH_MEMORY || error == ERROR_OUTOFMEMORY ? PlatformResult::NoMemory
                                                                               : PlatformResult::Failed;
    }
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return PlatformResult::Done;
}

} // namespace

int InstallCrashSignalHandlers(CrashHandler handler)
{
    g_handler.store(handler);
    if (g_installed.exchange(true))
        return 0;
    g_nestingSlot = ::TlsAlloc();
    g_reasonSlot = ::TlsAlloc();
    AttachAlternateSignalStack();

    DWORD error = 0;
    g_overflowStart = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (g_overflowStart != nullptr)
        g_overflowThread = ::CreateThread(nullptr, kReportThreadStack, &OverflowReportMain, nullptr,
            STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (g_overflowThread == nullptr)
        error = ::GetLastError();
    g_watchdogArm = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
    g_watchdogCancel = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (g_watchdogArm != nullptr && g_watchdogCancel != nullptr)
        g_watchdogThread = ::CreateThread(nullptr, 64 * 1024, &WatchdogMain, nullptr, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (g_watchdogThread == nullptr && error == 0)
        error = ::GetLastError();

    ::SetUnhandledExceptionFilter(&OnUnhandledException);
    if (::AddVectoredExceptionHandler(1, &OnVectoredException) == nullptr && error == 0)
        error = ERROR_NOT_ENOUGH_MEMORY;
    _set_invalid_parameter_handler(&OnInvalidParameter);
    QuietAbort();
    if (std::signal(SIGABRT, &OnAbort) == SIG_ERR && error == 0)
        error = ERROR_INVALID_FUNCTION;
    return static_cast<int>(error);
}

bool CrashSignalHandlersInstalled()
{
    return g_handler.load() != nullptr;
}

void SetInvalidParameterHandler(InvalidParameterHandler handler)
{
    g_invalidParameterHandler.store(handler);
}

PlatformResult LockCrashHandlers()
{
    static std::atomic<bool> locked{false};
    if (locked.load())
        return PlatformResult::Done;
    // Kept loaded for good: the patched code must stay where it is.
    const HMODULE kernel32 = ::LoadLibraryA("kernel32.dll");
    if (kernel32 == nullptr)
        return PlatformResult::NotFound;
    void* exported = reinterpret_cast<void*>(::GetProcAddress(kernel32, "SetUnhandledExceptionFilter"));
    if (exported == nullptr) {
        ::FreeLibrary(kernel32);
        return PlatformResult::NotFound;
    }
    // Where kernel32's entry only passes the call on, the function that stores the filter lives in
    // kernelbase.dll, which other code may call directly.
    void* implementation = nullptr;
    if (const HMODULE kernelbase = ::GetModuleHandleA("kernelbase.dll"))
        implementation = reinterpret_cast<void*>(::GetProcAddress(kernelbase, "SetUnhandledExceptionFilter"));
    if (!PatchToReturnNull(exported) || (implementation != nullptr && implementation != exported &&
                                            !PatchToReturnNull(implementation))) {
        ::FreeLibrary(kernel32);
        return PlatformResult::Failed;
    }
    locked.store(true);
    return PlatformResult::Done;
}

void* AttachAlternateSignalStack()
{
    ULONG size = kStackGuarantee;
    ::SetThreadStackGuarantee(&size);
    return nullptr; // nothing to release
}

void ReleaseAlternateSignalStack(void*)
{
}

PlatformResult SetDataExecutionPrevention(std::uint32_t policy)
{
    using SetPolicy = BOOL(WINAPI*)(DWORD flags);
    const HMODULE kernel32 = ::GetModuleHandleA("kernel32.dll");
    const auto set = kernel32 == nullptr ? nullptr
                                         : reinterpret_cast<SetPolicy>(reinterpret_cast<void*>(
                                               ::GetProcAddress(kernel32, "SetProcessDEPPolicy")));
    if (set == nullptr)
        return PlatformResult::NotFound;
    return set(policy) ? PlatformResult::Done : PlatformResult::Failed;
}

const char* MessageBoxHelperProgramName()
{
    return "rundll32.exe";
}

MessageBoxProcess PrepareMessageBoxProcess(const std::string& libraryPath)
{
    MessageBoxProcess process;
    char windows[MAX_PATH];
    const UINT length = ::GetWindowsDirectoryA(windows, sizeof windows);
    if (length > 0 && length < sizeof windows)
        process.program = std::string(windows, length) + "\\system32\\" + MessageBoxHelperProgramName();
    // rundll32 hands the name to LoadLibrary, which wants backslashes.
    process.library = libraryPath;
    for (char& c : process.library) {
        if (c == '/')
            c = '\\';
    }
    return process;
}

PlatformResult StartMessageBoxProcess(const MessageBoxProcess& process, const char* text, const char* caption,
    unsigned int style)
{
    if (process.program.empty() || process.library.empty())
        return PlatformResult::Failed;
    try {
        // "<rundll32>" "<library>",ShowMessageBox "<text>" "<caption>" <style>
        std::string commandLine = "\"" + process.program + "\" \"" + process.library + "\",ShowMessageBox ";
        AppendQuoted(commandLine, text);
        commandLine += ' ';
        AppendQuoted(commandLine, caption);
        commandLine += ' ' + std::to_string(style);
        return StartCommandLine(process.program.c_str(), commandLine);
    } catch (const std::bad_alloc&) {
        return PlatformResult::NoMemory;
    }
}

__attribute__((noinline)) void RaiseCrash(const char* reason)
{
    if (g_handler.load() == nullptr)
        return;
    if (g_reasonSlot != TLS_OUT_OF_INDEXES)
        ::TlsSetValue(g_reasonSlot, const_cast<char*>(reason));
    ::RaiseException(kFatalConditionCode, EXCEPTION_NONCONTINUABLE, 0, nullptr);
}

void ExitProcessNow(int code)
{
    for (;;)
        ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(code));
}

void SleepMilliseconds(std::uint64_t milliseconds)
{
    while (milliseconds > 0) {
        const DWORD step = milliseconds > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(milliseconds);
        ::Sleep(step);
        milliseconds -= step;
    }
}

void StartCrashWatchdog(std::uint64_t milliseconds)
{
    if (g_watchdogThread == nullptr)
        return;
    g_watchdogLimit.store(milliseconds >= INFINITE ? INFINITE - 1 : static_cast<DWORD>(milliseconds));
    ::ResetEvent(g_watchdogCancel);
    ::SetEvent(g_watchdogArm);
}

void CancelCrashWatchdog()
{
    if (g_watchdogThread != nullptr)
        ::SetEvent(g_watchdogCancel);
}

int CreateReportFile(const char* path)
{
    const HANDLE file = ::CreateFileA(path, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return -static_cast<int>(::GetLastError());
    // Handles fit in 32 bits, also in a 64-bit process.
    return static_cast<int>(::HandleToLong(file));
}

int WriteBytes(int fd, const char* data, std::size_t length)
{
    const HANDLE file = ::LongToHandle(fd);
    while (length > 0) {
        const DWORD step = length > 0x10000000 ? 0x10000000 : static_cast<DWORD>(length);
        DWORD written = 0;
        if (!::WriteFile(file, data, step, &written, nullptr))
            return static_cast<int>(::GetLastError());
        data += written;
        length -= written;
    }
    return 0;
}

int WriteText(int fd, const char* text)
{
    return WriteBytes(fd, text, std::strlen(text));
}

void CloseReportFile(int fd)
{
    if (fd >= 0)
        ::CloseHandle(::LongToHandle(fd));
}

int StartDetachedProcess(const char* program, const char* const* arguments)
{
    try {
        // The program's own name is only delimited: CommandLineToArgvW takes the first argument
        // up to the next quote.
        std::string commandLine = "\"" + std::string(arguments[0] != nullptr ? arguments[0] : program) + "\"";
        for (const char* const* argument = arguments[0] != nullptr ? arguments + 1 : arguments; *argument != nullptr;
             ++argument) {
            commandLine += ' ';
            AppendQuoted(commandLine, *argument);
        }
        switch (StartCommandLine(program, commandLine)) {
        case PlatformResult::Done:
            return 0;
        case PlatformResult::NoMemory:
            return ERROR_NOT_ENOUGH_MEMORY;
        default:
            break;
        }
        const DWORD error = ::GetLastError();
        return error != 0 ? static_cast<int>(error) : ERROR_GEN_FAILURE;
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

const char* SignalName(int signal)
{
    switch (static_cast<DWORD>(signal)) {
    case EXCEPTION_ACCESS_VIOLATION: return "EXCEPTION_ACCESS_VIOLATION";
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED: return "EXCEPTION_ARRAY_BOUNDS_EXCEEDED";
    case EXCEPTION_BREAKPOINT: return "EXCEPTION_BREAKPOINT";
    case EXCEPTION_DATATYPE_MISALIGNMENT: return "EXCEPTION_DATATYPE_MISALIGNMENT";
    case EXCEPTION_FLT_DENORMAL_OPERAND: return "EXCEPTION_FLT_DENORMAL_OPERAND";
    case EXCEPTION_FLT_DIVIDE_BY_ZERO: return "EXCEPTION_FLT_DIVIDE_BY_ZERO";
    case EXCEPTION_FLT_INEXACT_RESULT: return "EXCEPTION_FLT_INEXACT_RESULT";
    case EXCEPTION_FLT_INVALID_OPERATION: return "EXCEPTION_FLT_INVALID_OPERATION";
    case EXCEPTION_FLT_OVERFLOW: return "EXCEPTION_FLT_OVERFLOW";
    case EXCEPTION_FLT_STACK_CHECK: return "EXCEPTION_FLT_STACK_CHECK";
    case EXCEPTION_FLT_UNDERFLOW: return "EXCEPTION_FLT_UNDERFLOW";
    case EXCEPTION_ILLEGAL_INSTRUCTION: return "EXCEPTION_ILLEGAL_INSTRUCTION";
    case EXCEPTION_IN_PAGE_ERROR: return "EXCEPTION_IN_PAGE_ERROR";
    case EXCEPTION_INT_DIVIDE_BY_ZERO: return "EXCEPTION_INT_DIVIDE_BY_ZERO";
    case EXCEPTION_INT_OVERFLOW: return "EXCEPTION_INT_OVERFLOW";
    case EXCEPTION_INVALID_DISPOSITION: return "EXCEPTION_INVALID_DISPOSITION";
    case EXCEPTION_NONCONTINUABLE_EXCEPTION: return "EXCEPTION_NONCONTINUABLE_EXCEPTION";
    case EXCEPTION_PRIV_INSTRUCTION: return "EXCEPTION_PRIV_INSTRUCTION";
    case EXCEPTION_SINGLE_STEP: return "EXCEPTION_SINGLE_STEP";
    case EXCEPTION_STACK_OVERFLOW: return "EXCEPTION_STACK_OVERFLOW";
    case STATUS_HEAP_CORRUPTION: return "STATUS_HEAP_CORRUPTION";
    default: return "";
    }
}

const char* SignalCodeName(int signal, int code)
{
    const auto exception = static_cast<DWORD>(signal);
    if (exception != EXCEPTION_ACCESS_VIOLATION && exception != EXCEPTION_IN_PAGE_ERROR)
        return "";
    switch (code) {
    case 0: return "read";
    case 1: return "write";
    case 8: return "execute";
    default: return "";
    }
}

} // namespace ZELPlatform
