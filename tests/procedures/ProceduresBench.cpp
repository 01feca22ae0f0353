// Wire-speed figures of the two transfers that go through the device, with the shipped time table and
// the simulated line pacing both directions at the rate the program set on it (115200 baud): the CAN
// driver's module flash of a 64 KiB image and a 64 KiB expander image through the device. Each prints the throughput
// of image bytes and its share of the wire limit (rate / 10 bytes a second). Every image byte crosses
// the paced line from the program to the device inside the measured time, so the share stays below
// 100 %; what is missing to 100 % is framing, answers and waits.
#include "procedures/ProceduresTestSupport.h"
#include "zel/serial/CZELSerialPort.h"

#include <benchmark/benchmark.h>

namespace {

using namespace ProceduresTest;

void Report(benchmark::State& state, double seconds, std::size_t bytes, unsigned baud)
{
    state.SetIterationTime(seconds);
    state.counters["baud"] = baud;
    const double throughput = static_cast<double>(bytes) / seconds;
    state.counters["bytes_per_s"] = throughput;
    state.counters["wire_limit_bytes_per_s"] = baud / 10.0;
    state.counters["efficiency_pct"] = 100.0 * throughput / (baud / 10.0);
}

// From the target's status text to the final one: the whole target as the operator waits for it.
void Measure(benchmark::State& state, const std::string& scenario, bool mcpuMode, const Firmware& file,
    const std::string& targetStatus)
{
    // The program's line at 115200 baud (rate 7), which the run takes over from the port.
    constexpr long kBaudRateId = 7;
    for (auto _ : state) {
        GetZELSerialPort().SetBaudRateAsID(kBaudRateId);
        UpdateRun run(scenario, 0x1800, mcpuMode, { file });
        if (run.outcome != StartOutcome::UpdateStarted || !run.finished
            || run.dialog.GetApplicationState() != UPDATER_STATE_SUCCEEDED) {
            state.SkipWithError("the update did not succeed");
            break;
        }
        // Divided by the fastest rate the line ran at: a rate changed during the run cannot flatter.
        const unsigned baud = run.server->FastestPacedRate();
        if (baud == 0) {
            state.SkipWithError("the line was not paced");
            break;
        }
        const auto begin = run.view.When(targetStatus);
        const auto end = run.view.When("Update succeeded");
        Report(state, std::chrono::duration<double>(end - begin).count(), file.size, baud);
    }
}

void CANDriverModuleFlash(benchmark::State& state)
{
    Measure(state, R"({ "device": { "hardware": "VHX-360", "versions": { "CCPU": "V 02.09.30" },
        "canDrivers": [ { "module": 1, "main": 203 } ] }, "baudRate": "line" })",
        true, { 10, "V 02.05.00", 64 * 1024 }, "MCPU CAN Driver Update ...");
}

void ExpanderThroughTheDevice(benchmark::State& state)
{
    Measure(state, R"({ "device": { "hardware": "QTR-1", "versions": { "CCPU": "V 02.09.30" },
        "expanders": [ { "type": 33, "version": "V 02.03.00" } ] }, "baudRate": "line" })",
        false, { 6, "V 02.04.00", 64 * 1024 }, "ECPU Update ...");
}

BENCHMARK(CANDriverModuleFlash)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(ExpanderThroughTheDevice)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

BENCHMARK_MAIN();
