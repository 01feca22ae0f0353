// Cost of AddOutput for the caller (median and 99th percentile) and the rate at which records
// reach the file.

#include "support/ZELTestSupport.h"
#include "zel/log/CZELSystemLogEx.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

void ReportPercentiles(benchmark::State& state, std::vector<double>& microseconds)
{
    if (microseconds.empty())
        return;
    std::sort(microseconds.begin(), microseconds.end());
    state.counters["p50_us"] = microseconds[microseconds.size() / 2];
    state.counters["p99_us"] = microseconds[microseconds.size() * 99 / 100];
}

void BM_AddOutput(benchmark::State& state)
{
    ZELTest::TemporaryDirectory directory;
    ZELTest::ScopedCurrentDirectory cwd(directory.Path());
    CZELSystemLogEx log;
    log.Initialize(nullptr, "Bench", "V 1");
    const std::string message = "Packet received: 0x4011 item 0x80 value 3";
    std::vector<double> microseconds;
    microseconds.reserve(1 << 20);
    for (auto _ : state) {
        const auto start = Clock::now();
        const long status = log.AddOutput(message, ZEL_SYSTEM_LOG_EX_EVENT_COMMAND, "COM1", "Scriva::CPluginDevice", "");
        const auto end = Clock::now();
        benchmark::DoNotOptimize(status);
        microseconds.push_back(std::chrono::duration<double, std::micro>(end - start).count());
    }
    log.Terminate();
    ReportPercentiles(state, microseconds);
}
BENCHMARK(BM_AddOutput)->Iterations(200000)->Repetitions(3)->ReportAggregatesOnly(false);

// Records accepted and written to the file until Terminate has drained the queue.
void BM_RecordsToFile(benchmark::State& state)
{
    ZELTest::TemporaryDirectory directory;
    ZELTest::ScopedCurrentDirectory cwd(directory.Path());
    const auto records = state.range(0);
    const std::string message = "Packet received: 0x4011 item 0x80 value 3";
    for (auto _ : state) {
        CZELSystemLogEx log;
        log.Initialize(nullptr, "Bench", "V 1");
        for (std::int64_t i = 0; i < records; ++i)
            log.AddOutput(message, ZEL_SYSTEM_LOG_EX_EVENT_COMMAND, "COM1", "Scriva::CPluginDevice", "");
        log.Terminate();
    }
    state.SetItemsProcessed(state.iterations() * records);
}
BENCHMARK(BM_RecordsToFile)->Arg(60000)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
