#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace ZELPlatform {

// What reached the crash handler: a fault (a signal on Linux, a structured exception on Windows),
// or a fatal condition the program found itself.
struct CrashInfo
{
    int signal = 0;                       // 0 for a fatal condition found by the program; the
                                          // signal number, or on Windows the exception code
    int code = 0;                         // the signal's si_code; on Windows the kind of access
                                          // of an access violation (0 read, 1 write, 8 execute)
    std::uintptr_t address = 0;           // the faulting memory address
    std::uintptr_t faultAddress = 0;      // instruction of the fault, or the return address into
                                          // the code that raised the fatal condition
    const void* machineContext = nullptr; // ucontext_t with the registers of the faulting thread;
                                          // on Windows its EXCEPTION_POINTERS
    const char* reason = nullptr;         // text of a fatal condition
    unsigned long threadId = 0;           // the faulting thread
    int nesting = 1;                      // 2 and more: a fault while this thread handled one
};

using CrashHandler = void (*)(const CrashInfo& info);

// Outcome of a platform step that the crash handling reports as a status.
enum class PlatformResult
{
    Done,
    NotFound, // the platform lacks the function
    NoMemory,
    Failed,
};

// Runs `handler` for every fault and for abort(). Linux: SIGSEGV, SIGBUS, SIGILL, SIGFPE and
// SIGABRT on an alternate signal stack, so that a stack overflow can still be reported; the calling
// thread gets its alternate stack here, threads started through CZELNativeThread get theirs when
// they start. Windows: the unhandled-exception filter, SIGABRT, the runtime's invalid-parameter
// handler, and for a stack overflow a thread started here that runs the handler while the faulting
// thread waits. The handler must not return. Returns 0 or the platform's error code.
int InstallCrashSignalHandlers(CrashHandler handler);
bool CrashSignalHandlersInstalled();

// Called by the C runtime for a function given an invalid parameter, with its texts converted to
// 8-bit text (empty where the runtime gives none). Windows: the runtime's invalid-parameter
// handler (called by the runtimes that check their parameters; Wine's msvcrt.dll does not). Linux:
// glibc has no such hook, nothing is installed.
using InvalidParameterHandler = void (*)(const char* expression, const char* function, const char* file,
    unsigned int line);
void SetInvalidParameterHandler(InvalidParameterHandler handler);

// Makes later attempts of other code in the process to replace the installed handlers ineffective,
// where the platform allows it (Windows: the registration of unhandled-exception filters then does
// nothing). Linux has no such registration: Done.
PlatformResult LockCrashHandlers();

// Gives the calling thread room to report its own stack overflow (Linux: an alternate signal
// stack; Windows: a larger stack guarantee), whether or not crash handlers are installed yet; the
// result goes to ReleaseAlternateSignalStack when the thread ends (null when nothing was made).
void* AttachAlternateSignalStack();
void ReleaseAlternateSignalStack(void* stack);

// The data execution prevention policy of the process (0 off, 1 on, 3 on without thunk emulation).
// Linux keeps it on for every process and has nothing to set: Done. Windows: SetProcessDEPPolicy,
// NotFound where kernel32 lacks it, Failed where it refuses (64-bit processes, whose policy is fixed).
PlatformResult SetDataExecutionPrevention(std::uint32_t policy);

// The helper program that shows a message box in a process of its own after a crash: file name
// ("zel-run", "rundll32.exe"), and the program and library it is started with, found once so that
// a crash need not look them up.
const char* MessageBoxHelperProgramName();
struct MessageBoxProcess
{
    std::string program; // full path of the helper; empty when it cannot be found
    std::string library; // the library whose ShowMessageBox entry shows the box
};
MessageBoxProcess PrepareMessageBoxProcess(const std::string& libraryPath);
// Starts the helper with text, caption and style as arguments 2, 3 and 4 and does not wait for it.
// Text and caption reach the box unchanged, whatever quotes or backslashes they hold.
PlatformResult StartMessageBoxProcess(const MessageBoxProcess& process, const char* text, const char* caption,
    unsigned int style);

// Runs the installed handler for a fatal condition found by the program, with the registers of the
// calling thread captured here. Returns only when no handler is installed.
void RaiseCrash(const char* reason);

// The following are safe inside a signal handler.

// Ends the process with `code` at once: no exit handlers, no destructors, no buffers flushed.
[[noreturn]] void ExitProcessNow(int code);
// Sleeps the whole time, also when signals interrupt it.
void SleepMilliseconds(std::uint64_t milliseconds);
// Ends the process with exit code 1 unless CancelCrashWatchdog is called within `milliseconds`:
// bounds the steps of a crash report that may wait on a lock the faulting code still holds.
void StartCrashWatchdog(std::uint64_t milliseconds);
void CancelCrashWatchdog();
// A new report file (created anew; mode 0644 on Linux, others may write on Windows). The
// descriptor (on Windows the file handle's value), or minus the platform's error code.
int CreateReportFile(const char* path);
// 0 or the platform's error code of the failed write.
int WriteText(int fd, const char* text);
int WriteBytes(int fd, const char* data, std::size_t length);
void CloseReportFile(int fd);
// Starts `program` with the argument vector `arguments` (null-terminated) and does not wait for it;
// it inherits no handles on Windows. Returns 0 or the platform's error code.
int StartDetachedProcess(const char* program, const char* const* arguments);
// Name of a signal ("SIGSEGV") and of its code ("SEGV_MAPERR"), on Windows of an exception code
// ("EXCEPTION_ACCESS_VIOLATION") and of the access ("write"); "" when unknown.
const char* SignalName(int signal);
const char* SignalCodeName(int signal, int code);

} // namespace ZELPlatform
