#include "app/cli/SelftestCommand.h"

#include "zel/crash/CZELMemoryDump.h"
#include "zel/foundation/ZELStatus.h"
#include "zel/log/CZELSystemLogEx.h"
#include "zel/threads/CZELMonitoredThread.h"
#include "zel/threads/CZELThreadMonitor.h"

#include <CLI/CLI.hpp>

#include <iostream>
#include <memory>
#include <string>

namespace {

constexpr int EXIT_PROBLEM = 1;

long HangMonitored(void* data)
{
    auto* thread = static_cast<CZELMonitoredThread*>(data);
    thread->SignalStart();
    thread->UpdateStatus();
    return GetZELMemoryDump().ProvokeHang();
}

int RunSelftest(const std::string& fault)
{
    // The start-up order of the program: log, crash handling, thread monitor.
    GetZELSystemLogEx().Initialize(nullptr, "Tarn Update", "1.0.0");
    CZELMemoryDump& dump = GetZELMemoryDump();
    dump.Initialize("Tarn Update");
    GetZELThreadMonitor().Initialize();
    long status = ZEL_STATUS_SUCCESS;
    if (fault == "crash") {
        status = dump.ProvokeCrash();
    } else if (fault == "heap") {
        // A damaged heap must end the process: left running it would fail somewhere at random.
        dump.SetDumpAfterHeapCorruption(true);
        status = dump.ProvokeHeapCorruption();
    } else {
        // The thread monitor finds the hang after its threshold (15 minutes).
        static CZELMonitoredThread hanging;
        hanging.SetThreadName("Selftest Hang");
        status = hanging.CreateThread(&HangMonitored, &hanging);
        if (status == ZEL_STATUS_SUCCESS) {
            std::cerr << "A monitored thread hangs now; the thread monitor ends the process when it finds it.\n";
            hanging.DestroyThread(true); // returns only if the hang ends
        }
    }
    std::cerr << "The selftest did not end the process: " << GetZELStatusAsString(status) << '\n';
    GetZELThreadMonitor().Terminate();
    dump.Terminate();
    GetZELSystemLogEx().Terminate();
    return EXIT_PROBLEM;
}

} // namespace

void RegisterSelftestCommand(CLI::App& app)
{
    auto fault = std::make_shared<std::string>();
    CLI::App* selftest = app.add_subcommand("selftest", "");
    selftest->group(""); // hidden from the help
    selftest->add_option("fault", *fault, "crash, hang or heap")->required()->check(CLI::IsMember({"crash", "hang", "heap"}));
    selftest->callback([fault] { throw CLI::RuntimeError(RunSelftest(*fault)); });
}
