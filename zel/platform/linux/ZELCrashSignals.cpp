#include "zel/platform/ZELCrashSignals.h"

#include "zel/platform/CZELFixedText.h"
#include "zel/platform/ZELProcess.h"
#include "zel/platform/ZELThreadName.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <ctime>

extern char** environ;

namespace ZELPlatform {

namespace {

constexpr int kCrashSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
// Room for the report writer and the symboliser behind it, which run on this stack.
constexpr std::size_t kAlternateStackSize = 1024 * 1024;
// More faults than this on one thread while it reports: give up at once.
constexpr int kMostNestedFaults = 3;

std::atomic<CrashHandler> g_handler{nullptr};

// Faults the thread is handling; raised on entry, so a fault inside the report is seen as nested.
__thread int t_nesting __attribute__((tls_model("initial-exec"))) = 0;

std::uintptr_t InstructionAddress(const void* context)
{
    const auto* ucontext = static_cast<const ucontext_t*>(context);
#if defined(__x86_64__)
    return static_cast<std::uintptr_t>(ucontext->uc_mcontext.gregs[REG_RIP]);
#elif defined(__aarch64__)
    return static_cast<std::uintptr_t>(ucontext->uc_mcontext.pc);
#else
    (void)ucontext;
    return 0;
#endif
}

void RunHandler(CrashInfo& info)
{
    info.threadId = GetCurrentThreadId();
    info.nesting = ++t_nesting;
    if (info.nesting > kMostNestedFaults)
        ExitProcessNow(1);
    const CrashHandler handler = g_handler.load();
    if (handler != nullptr)
        handler(info);
    ExitProcessNow(1);
}

void OnCrashSignal(int signal, siginfo_t* signalInfo, void* context)
{
    CrashInfo info;
    info.signal = signal;
    info.code = signalInfo != nullptr ? signalInfo->si_code : 0;
    info.address = signalInfo != nullptr ? reinterpret_cast<std::uintptr_t>(signalInfo->si_addr) : 0;
    info.machineContext = context;
    info.faultAddress = InstructionAddress(context);
    RunHandler(info);
}

void OnWatchdog(int)
{
    ExitProcessNow(1);
}

} // namespace

void* AttachAlternateSignalStack()
{
    // Also before the handlers are installed: a thread that started earlier (the log's output
    // thread) must still have a stack to report its own stack overflow on.
    void* memory = ::mmap(nullptr, kAlternateStackSize, PROT_READ | PROT_WRITE,
        MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (memory == MAP_FAILED)
        return nullptr;
    stack_t stack{};
    stack.ss_sp = memory;
    stack.ss_size = kAlternateStackSize;
    if (::sigaltstack(&stack, nullptr) != 0) {
        ::munmap(memory, kAlternateStackSize);
        return nullptr;
    }
    return memory;
}

void ReleaseAlternateSignalStack(void* memory)
{
    if (memory == nullptr)
        return;
    stack_t stack{};
    stack.ss_flags = SS_DISABLE;
    ::sigaltstack(&stack, nullptr);
    ::munmap(memory, kAlternateStackSize);
}

int InstallCrashSignalHandlers(CrashHandler handler)
{
    g_handler.store(handler);
    AttachAlternateSignalStack(); // the installing thread's; it lives as long as the process
    struct sigaction action{};
    action.sa_sigaction = &OnCrashSignal;
    // SA_NODEFER: a fault inside the report reaches the handler again instead of killing the
    // process with the signal, so the exit code stays 1.
    action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    for (const int signal : kCrashSignals) {
        if (::sigaction(signal, &action, nullptr) != 0)
            return errno;
    }
    return 0;
}

bool CrashSignalHandlersInstalled()
{
    return g_handler.load() != nullptr;
}

void SetInvalidParameterHandler(InvalidParameterHandler)
{
}

PlatformResult LockCrashHandlers()
{
    // Nothing here can keep other code from installing its own signal handlers.
    return PlatformResult::Done;
}

PlatformResult SetDataExecutionPrevention(std::uint32_t)
{
    return PlatformResult::Done;
}

const char* MessageBoxHelperProgramName()
{
    return "zel-run";
}

MessageBoxProcess PrepareMessageBoxProcess(const std::string& libraryPath)
{
    // zel-run is installed beside the programs.
    const std::string program = GetProgramPath();
    const auto slash = program.rfind('/');
    MessageBoxProcess process;
    process.program = (slash == std::string::npos ? std::string(".") : program.substr(0, slash)) + "/" +
        MessageBoxHelperProgramName();
    process.library = libraryPath;
    return process;
}

PlatformResult StartMessageBoxProcess(const MessageBoxProcess& process, const char* text, const char* caption,
    unsigned int style)
{
    // An argument vector reaches the helper unchanged: nothing needs quoting.
    CZELFixedText target;
    target.Append(process.library.c_str()).Append(",ShowMessageBox");
    CZELFixedText styleText;
    styleText.AppendUnsigned(style);
    const char* arguments[] = {process.program.c_str(), target.Text(), text, caption, styleText.Text(), nullptr};
    const int error = StartDetachedProcess(process.program.c_str(), arguments);
    if (error == 0)
        return PlatformResult::Done;
    return error == ENOMEM ? PlatformResult::NoMemory : PlatformResult::Failed;
}

__attribute__((noinline)) void RaiseCrash(const char* reason)
{
    if (g_handler.load() == nullptr)
        return;
    ucontext_t context;
    ::getcontext(&context);
    CrashInfo info;
    info.reason = reason;
    info.machineContext = &context;
    info.faultAddress = reinterpret_cast<std::uintptr_t>(__builtin_return_address(0));
    RunHandler(info);
}

void ExitProcessNow(int code)
{
    // The system call itself: _exit may be wrapped (sanitizers rewrite the exit code there).
    for (;;)
        ::syscall(SYS_exit_group, code);
}

void SleepMilliseconds(std::uint64_t milliseconds)
{
    timespec remaining{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    while (::nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}

void StartCrashWatchdog(std::uint64_t milliseconds)
{
    struct sigaction action{};
    action.sa_handler = &OnWatchdog;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGALRM, &action, nullptr);
    itimerval timer{};
    timer.it_value.tv_sec = static_cast<time_t>(milliseconds / 1000);
    timer.it_value.tv_usec = static_cast<suseconds_t>(milliseconds % 1000) * 1000;
    if (timer.it_value.tv_sec == 0 && timer.it_value.tv_usec == 0)
        timer.it_value.tv_usec = 1000;
    ::setitimer(ITIMER_REAL, &timer, nullptr);
}

void CancelCrashWatchdog()
{
    itimerval timer{};
    ::setitimer(ITIMER_REAL, &timer, nullptr);
}

int CreateReportFile(const char* path)
{
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    return fd >= 0 ? fd : -errno;
}

int WriteBytes(int fd, const char* data, std::size_t length)
{
    while (length > 0) {
        const ssize_t written = ::write(fd, data, length);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        data += written;
        length -= static_cast<std::size_t>(written);
    }
    return 0;
}

int WriteText(int fd, const char* text)
{
    std::size_t length = 0;
    while (text[length] != '\0')
        ++length;
    return WriteBytes(fd, text, length);
}

void CloseReportFile(int fd)
{
    if (fd >= 0)
        ::close(fd);
}

int StartDetachedProcess(const char* program, const char* const* arguments)
{
    pid_t child = 0;
    // posix_spawn's argument vector is not const for historical reasons; it is not written.
    return ::posix_spawn(&child, program, nullptr, nullptr, const_cast<char* const*>(arguments), environ);
}

const char* SignalName(int signal)
{
    switch (signal) {
    case SIGSEGV: return "SIGSEGV";
    case SIGBUS: return "SIGBUS";
    case SIGILL: return "SIGILL";
    case SIGFPE: return "SIGFPE";
    case SIGABRT: return "SIGABRT";
    default: return "";
    }
}

const char* SignalCodeName(int signal, int code)
{
    switch (code) {
    case SI_USER: return "SI_USER";
    case SI_TKILL: return "SI_TKILL";
    case SI_QUEUE: return "SI_QUEUE";
    default: break;
    }
    switch (signal) {
    case SIGSEGV:
        switch (code) {
        case SEGV_MAPERR: return "SEGV_MAPERR";
        case SEGV_ACCERR: return "SEGV_ACCERR";
        default: return "";
        }
    case SIGBUS:
        switch (code) {
        case BUS_ADRALN: return "BUS_ADRALN";
        case BUS_ADRERR: return "BUS_ADRERR";
        case BUS_OBJERR: return "BUS_OBJERR";
        default: return "";
        }
    case SIGILL:
        switch (code) {
        case ILL_ILLOPC: return "ILL_ILLOPC";
        case ILL_ILLOPN: return "ILL_ILLOPN";
        case ILL_ILLADR: return "ILL_ILLADR";
        case ILL_PRVOPC: return "ILL_PRVOPC";
        default: return "";
        }
    case SIGFPE:
        switch (code) {
        case FPE_INTDIV: return "FPE_INTDIV";
        case FPE_INTOVF: return "FPE_INTOVF";
        case FPE_FLTDIV: return "FPE_FLTDIV";
        case FPE_FLTINV: return "FPE_FLTINV";
        default: return "";
        }
    default: return "";
    }
}

} // namespace ZELPlatform
