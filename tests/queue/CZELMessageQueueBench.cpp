// Cost of Notify for the producer when three subscriber queues with workers are registered.

#include "zel/queue/CZELMessageQueue.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

class CountingQueue : public CZELMessageQueue
{
public:
    ~CountingQueue() override { Terminate(); }
    std::atomic<std::int64_t> processed{0};

protected:
    long ProcessMessage(CZELMessage&) override
    {
        ++processed;
        return 0;
    }
};

void BM_NotifyThreeSubscribers(benchmark::State& state)
{
    CZELMessageQueue hub;
    CountingQueue subscribers[3];
    for (auto& subscriber : subscribers) {
        subscriber.Initialize(true);
        hub.Register(&subscriber);
    }
    // A serial-traffic record: 20-byte head and a short packet.
    std::uint8_t record[40] = {};
    CZELMessage message(ZEL_MESSAGE_SERIAL_DATA_RECEIVED, record, sizeof record);
    std::vector<double> microseconds;
    microseconds.reserve(1 << 20);
    for (auto _ : state) {
        const auto start = Clock::now();
        hub.Notify(message);
        const auto end = Clock::now();
        microseconds.push_back(std::chrono::duration<double, std::micro>(end - start).count());
    }
    state.SetItemsProcessed(state.iterations());
    for (auto& subscriber : subscribers) {
        hub.Unregister(&subscriber);
        subscriber.Terminate();
    }
    std::sort(microseconds.begin(), microseconds.end());
    if (!microseconds.empty()) {
        state.counters["p50_us"] = microseconds[microseconds.size() / 2];
        state.counters["p99_us"] = microseconds[microseconds.size() * 99 / 100];
    }
}
BENCHMARK(BM_NotifyThreeSubscribers)->Iterations(100000)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
