// A program that ends in each way the crash handling must catch; the tests run it in a folder of
// their own and read the report it leaves in Dumps.
//
//   zel_crash_child MODE [DIVISOR [APPLICATION NAME]]
//
// Modes that start with "log-" start the system log first, as the program does, so that its
// output thread runs before the crash handlers are installed. Some modes exist on one system only.

#include "zel/crash/CZELMemoryDump.h"
#include "zel/foundation/CZELCommandLine.h"
#include "zel/foundation/CZELTimeTable.h"
#include "zel/foundation/ZELMessageBox.h"
#include "zel/foundation/ZELStatus.h"
#include "zel/log/CZELSystemLogEx.h"
#include "zel/platform/CZELEvent.h"
#include "zel/platform/CZELNativeThread.h"
#include "zel/platform/ZELProcess.h"
#include "zel/platform/ZELSystemTime.h"
#include "zel/threads/CZELMonitoredThread.h"
#include "zel/threads/CZELThreadMonitor.h"

#ifdef _WIN32
#include <process.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>

#ifdef _WIN32
// The system's registration of the process's unhandled-exception filter, which other code may call.
extern "C" __declspec(dllimport) void* __stdcall SetUnhandledExceptionFilter(void* filter);
#endif

// Outside the unnamed namespace: with every subclass known the compiler would resolve the call.
class Describable;
void CallsDescribe(Describable* object);
// Called through a pointer the compiler cannot follow, so it cannot see the call is pure.
void (*volatile g_callDescribe)(Describable*) = &CallsDescribe;

class Describable
{
public:
    // Runs while the object is still only a Describable; kept out of line so that the compiler
    // keeps the base's table of functions in place while it runs.
    __attribute__((noinline)) Describable() { g_callDescribe(this); }
    virtual ~Describable() = default;
    virtual void Describe() = 0;
};

class Described : public Describable
{
public:
    void Describe() override {}
};

__attribute__((noinline)) void CallsDescribe(Describable* object)
{
    object->Describe();
    asm volatile("" ::: "memory"); // keeps this frame: no tail call
}

namespace {

[[noreturn]] void WaitForever()
{
    CZELEvent never;
    for (;;)
        never.Wait(std::chrono::milliseconds(-1));
}

// Writes to a member of an object at address null, as a call through a null object pointer does.
// Built from an integer, so the undefined-behaviour sanitizer does not stop it before it faults.
__attribute__((noinline)) void CrashByNullWrite()
{
    volatile int* volatile target = reinterpret_cast<volatile int*>(0x10);
    *target = 1;
}

__attribute__((noinline)) void CrashByAbort()
{
    std::abort();
}

__attribute__((noinline)) void CrashByUncaughtException()
{
    throw std::runtime_error("thrown on purpose");
}

__attribute__((noinline)) void CrashByDivision()
{
    volatile int divisor = 0;
    volatile int quotient = 7 / divisor;
    (void)quotient;
}

// Ends only when the stack does; the volatile limit hides that from the compiler.
volatile int g_depthLimit = 1 << 30;

__attribute__((noinline)) int RecurseWithoutEnd(int depth)
{
    volatile char frame[512];
    frame[0] = static_cast<char>(depth);
    if (depth >= g_depthLimit)
        return frame[0];
    return RecurseWithoutEnd(depth + 1) + frame[0];
}

// A log pane that overflows the output thread's stack when it is shown the line "overflow", that
// is slow to show the line "hold", as a pane of a busy window is, and never shows "stuck".
CZELEvent g_paneHolds;

class ChildLogPane : public IZELLogLineSink
{
public:
    void AppendLine(const std::string& line) override
    {
        if (line.find("overflow") != std::string::npos)
            RecurseWithoutEnd(0);
        if (line.find("stuck") != std::string::npos)
            WaitForever();
        if (line.find("hold") != std::string::npos) {
            g_paneHolds.Set();
            CZELEvent().Wait(std::chrono::milliseconds(300));
        }
    }
};

ChildLogPane g_logPane;

#ifndef _WIN32
// A thread that holds the C library's time-zone lock for good: the first conversion to local time
// reads the zone file, here a FIFO that never gets its data. Returns once the thread is in that read.
bool HoldTimeZoneLock()
{
    if (::mkfifo("zone", 0600) != 0)
        return false;
    const std::string zone = ZELPlatform::GetCurrentDirectory() + "/zone";
    ::setenv("TZ", zone.c_str(), 1);
    static CZELNativeThread holder;
    holder.Start([] {
        SYSTEMTIME local;
        ZELPlatform::GetLocalTime(local);
    });
    // A writer can open the FIFO once the reader has; the writer then stays, sending nothing.
    for (int attempt = 0; attempt < 10000; ++attempt) {
        if (::open("zone", O_WRONLY | O_NONBLOCK | O_CLOEXEC) >= 0)
            return true;
        CZELEvent().Wait(std::chrono::milliseconds(1));
    }
    return false;
}
#endif

// A library thread started before the handlers are installed; it overflows its stack once told.
CZELEvent g_earlyThreadMayOverflow;
CZELNativeThread g_earlyThread;

void StartEarlyThread()
{
    g_earlyThread.Start([] {
        g_earlyThreadMayOverflow.Wait(std::chrono::milliseconds(-1));
        RecurseWithoutEnd(0);
    });
}

__attribute__((noinline)) void CrashByCreateMemoryDump()
{
    GetZELMemoryDump().CreateMemoryDump();
}

long HangsAfterOneStamp(void* data)
{
    auto* thread = static_cast<CZELMonitoredThread*>(data);
    thread->SignalStart();
    thread->UpdateStatus();
    WaitForever();
}

__attribute__((noinline)) void SecondThreadNullWrite()
{
    volatile int* volatile target = reinterpret_cast<volatile int*>(0x10);
    *target = 2;
}

#ifdef _WIN32
// Another filter, as a library loaded later might register it: it must never be reached.
long __stdcall ForeignFilter(void*)
{
    std::fputs("the foreign filter ran\n", stderr);
    std::fflush(stderr);
    std::_Exit(5);
}

// A thread of the runtime, without a C++ frame around its function that would end an escaping
// exception itself.
unsigned __stdcall ThrowsFromRuntimeThread(void*)
{
    CrashByUncaughtException();
    return 0;
}
#endif

int Run(const std::string& mode)
{
    CZELMemoryDump& dump = GetZELMemoryDump();
    if (mode == "settings") {
        // Prints what Initialize made of ZEL.ini.
        std::printf("dumpType=%d dep=%u heapTermination=%d messageBox=%d interval=%u running=%d\n",
            dump.GetDumpType(), dump.GetDEPPolicy(), dump.GetDumpAfterHeapCorruption() ? 1 : 0,
            dump.GetShowMessageBoxAfterDump() ? 1 : 0, dump.GetHeapCheckInterval(), dump.IsHeapCheckRunning() ? 1 : 0);
        dump.Terminate();
        return 0;
    }
    if (mode == "heap-check") {
        // Without the heap termination flag a damaged heap is only reported.
        dump.ProvokeHeapCorruption();
        std::printf("status=%ld\n", dump.CheckHeapConsistency());
        return 0;
    }
    if (mode == "null-write")
        CrashByNullWrite();
    else if (mode == "thread-null-write") {
        static CZELNativeThread second;
        second.Start([] { SecondThreadNullWrite(); });
        WaitForever();
    }
    else if (mode == "abort")
        CrashByAbort();
    else if (mode == "terminate")
        CrashByUncaughtException();
    else if (mode == "division")
        CrashByDivision();
    else if (mode == "stack-overflow")
        return RecurseWithoutEnd(0);
    else if (mode == "pure-virtual")
        Described described;
    else if (mode == "create-dump")
        CrashByCreateMemoryDump();
    else if (mode == "provoke-crash")
        dump.ProvokeCrash();
    else if (mode == "log-provoke-crash") {
        // The fault comes while the output thread holds "marker" in its file buffer, busy with the
        // next line; the records it has not reached yet follow.
        CZELSystemLogEx& log = GetZELSystemLogEx();
        log.SetEnableOutput(true);
        log.AddOutput("marker", ZEL_SYSTEM_LOG_EX_EVENT_INFORMATION, "", "Crash Child", "");
        log.AddOutput("hold", ZEL_SYSTEM_LOG_EX_EVENT_INFORMATION, "", "Crash Child", "");
        if (!g_paneHolds.Wait(std::chrono::seconds(10)))
            return 3;
        dump.ProvokeCrash();
    } else if (mode == "log-stuck-crash") {
        GetZELSystemLogEx().SetEnableOutput(true);
        GetZELSystemLogEx().AddOutput("stuck", ZEL_SYSTEM_LOG_EX_EVENT_INFORMATION, "", "Crash Child", "");
        CrashByNullWrite();
    } else if (mode == "log-terminate")
        CrashByUncaughtException();
    else if (mode == "log-sink-overflow") {
        GetZELSystemLogEx().SetEnableOutput(true);
        GetZELSystemLogEx().AddOutput("overflow", ZEL_SYSTEM_LOG_EX_EVENT_INFORMATION, "", "Crash Child", "");
        WaitForever();
    }
#ifndef _WIN32
    else if (mode == "time-zone-lock") {
        if (!HoldTimeZoneLock())
            return 3;
        CrashByNullWrite();
    }
#else
    else if (mode == "log-runtime-thread-terminate") {
        if (_beginthreadex(nullptr, 0, &ThrowsFromRuntimeThread, nullptr, 0, nullptr) == 0)
            return 3;
        WaitForever();
    } else if (mode == "foreign-filter") {
        // Registered after the crash handling, which keeps its own filter in place.
        if (SetUnhandledExceptionFilter(reinterpret_cast<void*>(&ForeignFilter)) != nullptr)
            std::fputs("the registration reported a previous filter\n", stderr);
        CrashByNullWrite();
    }
#endif
    else if (mode == "early-thread-overflow") {
        g_earlyThreadMayOverflow.Set();
        WaitForever();
    }
    else if (mode == "heap") {
        dump.SetDumpAfterHeapCorruption(true);
        dump.ProvokeHeapCorruption();
    } else if (mode == "hang") {
        GetZELThreadMonitor().Initialize();
        CZELMonitoredThread hanging;
        hanging.SetThreadName("Hanging Worker");
        hanging.CreateThread(&HangsAfterOneStamp, &hanging);
        WaitForever();
    } else if (mode == "second-fault") {
        // The first fault's message box (shown in this process) waits for its user; meanwhile a
        // second thread faults.
        // The second thread starts before the fault, as threads do; only its fault waits for the box.
        static CZELEvent secondMayFault;
        static CZELNativeThread second;
        second.Start([] {
            secondMayFault.Wait(std::chrono::milliseconds(-1));
            SecondThreadNullWrite();
        });
        dump.SetShowMessageBoxAfterDump(true);
        ZELSetMessageBoxBackend([](const std::string&, const std::string&, unsigned int) -> int {
            static std::atomic<int> boxes{0};
            if (++boxes > 1)
                return ZEL_IDOK; // the second box is closed at once
            secondMayFault.Set();
            WaitForever();
        });
        CrashByNullWrite();
    } else if (mode == "message-box") {
        dump.SetShowMessageBoxAfterDump(true);
        CrashByNullWrite();
    } else {
        std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
        return 2;
    }
    return 0; // not reached: every mode ends in the crash handling
}

} // namespace

// Started as the message-box helper would be: writes the arguments as the library's command line
// splits them, one per line, to "arguments.txt", whole or not at all.
int PrintArguments()
{
    std::string text;
    std::string argument;
    for (int index = 1; GetZELCommandLine().GetArgument(index, argument) == ZEL_STATUS_SUCCESS; ++index)
        text += "<" + argument + ">\n";
    {
        std::ofstream out("arguments.part", std::ios::binary | std::ios::trunc);
        out << text;
        if (!out)
            return 3;
    }
    return std::rename("arguments.part", "arguments.txt") == 0 ? 0 : 3;
}

int main(int argc, char** argv)
{
    if (argc > 1 && std::string(argv[1]).ends_with(",ShowMessageBox"))
        return PrintArguments();
    if (argc < 2) {
        std::fprintf(stderr, "usage: zel_crash_child MODE [DIVISOR [APPLICATION NAME]]\n");
        return 2;
    }
    ZELScaleTimesForTests(argc > 2 ? std::atoi(argv[2]) : 1);
    const std::string mode = argv[1];
    if (mode.starts_with("log-"))
        GetZELSystemLogEx().Initialize(&g_logPane, "Crash Test", "1.0");
    if (mode == "early-thread-overflow")
        StartEarlyThread();
    GetZELMemoryDump().Initialize(argc > 3 ? argv[3] : "Crash Test");
    return Run(mode);
}
