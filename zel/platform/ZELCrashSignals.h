#pragma once

#include <cstddef>
#include <cstdint>

namespace ZELPlatform {

// What reached the crash handler: a fault signal, or a fatal condition the program found itself.
struct CrashInfo
{
    int signal = 0;                       // 0 for a fatal condition found by the program
    int code = 0;                         // the signal's si_code
    std::uintptr_t address = 0;           // the signal's si_addr (faulting memory address)
    std::uintptr_t faultAddress = 0;      // instruction of the fault, or the return address into
                                          // the code that raised the fatal condition
    const void* machineContext = nullptr; // ucontext_t with the registers of the faulting thread
    const char* reason = nullptr;         // text of a fatal condition
    unsigned long threadId = 0;
    int nesting = 1;                      // 2 and more: a fault while this thread handled one
};

using CrashHandler = void (*)(const CrashInfo& info);

// Runs `handler` for SIGSEGV, SIGBUS, SIGILL, SIGFPE and SIGABRT on an alternate signal stack, so
// that a stack overflow can still be reported. The calling thread gets its alternate stack here;
// threads started through CZELNativeThread get theirs when they start. The handler must not return.
// Returns 0 or the errno.
int InstallCrashSignalHandlers(CrashHandler handler);
bool CrashSignalHandlersInstalled();

// Gives the calling thread an alternate signal stack, whether or not crash handlers are installed
// yet; the result goes to ReleaseAlternateSignalStack when the thread ends (null when none was made).
void* AttachAlternateSignalStack();
void ReleaseAlternateSignalStack(void* stack);

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
// A new report file (created anew, mode 0644). The descriptor, or -errno.
int CreateReportFile(const char* path);
// 0 or the errno of the failed write.
int WriteText(int fd, const char* text);
int WriteBytes(int fd, const char* data, std::size_t length);
void CloseReportFile(int fd);
// Starts `program` with the argument vector `arguments` (null-terminated) and does not wait for it.
// Returns 0 or the errno.
int StartDetachedProcess(const char* program, const char* const* arguments);
// Name of a signal ("SIGSEGV") and of its code ("SEGV_MAPERR"); "" when unknown.
const char* SignalName(int signal);
const char* SignalCodeName(int signal, int code);

} // namespace ZELPlatform
