// Time from the start of an update to its plan for a QTR-1 with three expanders, against the simulator
// answering at once, with the shipped time table: what a check costs besides the process start-up.
#include "UpdaterTestSupport.h"

#include <benchmark/benchmark.h>

namespace {

CSimDevice::Settings Qtr1WithThreeExpanders()
{
    CSimDevice::Settings settings;
    CSimDevice::ApplyHardwareName("QTR-1", settings);
    settings.versions[CSimDevice::Processor::CCPU] = "V 02.09.30";
    settings.versions[CSimDevice::Processor::KCPU] = "V 01.00.00";
    settings.versions[CSimDevice::Processor::LCPU] = "V 01.00.00";
    settings.expanders = { { 16, "V 02.03.00", "" }, { 0x21, "V 02.03.00", "" }, { 0x22, "V 02.04.00", "" } };
    return settings;
}

void StartToPlan(benchmark::State& state)
{
    GetZELMessageQueue().Initialize(false);
    for (auto _ : state) {
        state.PauseTiming();
        UpdaterTest::RecordingView view;
        UpdaterTest::SimLink link(Qtr1WithThreeExpanders());
        CZELCommandSet commands;
        CUpdaterDlg dialog(view, link, commands, "./NoFirmware", {});
        for (int slot = 1; slot <= CFirmwareCatalogue::SLOT_COUNT; ++slot)
            UpdaterTest::AddFirmware(dialog.GetCatalogue(), slot, "V 09.00.00");
        dialog.StartMessageQueue();
        state.ResumeTiming();

        // The operator's No ends the start right after the plan, as in a check.
        if (dialog.StartUpdate() != StartOutcome::Declined)
            state.SkipWithError("no plan");

        state.PauseTiming();
        dialog.StopMessageQueue();
        state.ResumeTiming();
    }
    GetZELMessageQueue().Terminate();
}
BENCHMARK(StartToPlan)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
