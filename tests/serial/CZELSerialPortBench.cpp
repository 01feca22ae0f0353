// The receive thread's cost and speed on a pseudo-terminal: CPU time on an idle open port, and the
// delay from the device side writing a packet's last byte to a subscriber holding the record.
// Figures only; not run by ctest.
#include "zel/commands/CZELCommandSet.h"
#include "zel/foundation/ZELStatus.h"
#include "zel/platform/CZELSerialDevice.h"
#include "zel/queue/CZELMessageQueue.h"
#include "zel/serial/CZELSerialPort.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Run time in nanoseconds of this process's thread with the given name (the scheduler's own account).
double ThreadRunTimeNs(const std::string& name)
{
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string taskName;
        std::getline(comm, taskName);
        if (taskName != name)
            continue;
        std::ifstream schedstat(task.path() / "schedstat");
        double runNs = 0;
        schedstat >> runNs;
        return runNs;
    }
    return -1;
}

class ArrivalQueue : public CZELMessageQueue
{
public:
    ArrivalQueue()
    {
        Initialize(true);
        GetZELMessageQueue().Register(this);
    }
    ~ArrivalQueue() override
    {
        GetZELMessageQueue().Unregister(this);
        Terminate();
    }
    Clock::time_point WaitForNext()
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_arrived; });
        m_arrived = false;
        return m_at;
    }

protected:
    long ProcessMessage(CZELMessage& message) override
    {
        if (message.GetMessageType() != ZEL_MESSAGE_SERIAL_DATA_RECEIVED)
            return ZEL_STATUS_SUCCESS;
        const auto now = Clock::now();
        {
            std::lock_guard lock(m_mutex);
            m_at = now;
            m_arrived = true;
        }
        m_changed.notify_all();
        return ZEL_STATUS_SUCCESS;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_arrived = false;
    Clock::time_point m_at;
};

void BM_IdleReceiveThreadCpu(benchmark::State& state)
{
    CZELSerialDevice line;
    std::string peer;
    line.OpenPseudoTerminal(peer);
    CZELSerialPort port;
    port.SetSerialPortSettings(peer, 7);
    if (port.InitializeReceivingThread() != ZEL_STATUS_SUCCESS) {
        state.SkipWithError("port does not open");
        return;
    }
    const auto idle = std::chrono::seconds(state.range(0));
    for (auto _ : state) {
        const double before = ThreadRunTimeNs("ZEL Serial Port");
        std::this_thread::sleep_for(idle);
        const double after = ThreadRunTimeNs("ZEL Serial Port");
        state.counters["thread_cpu_ms"] = (after - before) / 1e6;
    }
    port.TerminateReceivingThread();
}
BENCHMARK(BM_IdleReceiveThreadCpu)->Arg(10)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_LastByteToSubscriber(benchmark::State& state)
{
    CZELSerialDevice line;
    std::string peer;
    line.OpenPseudoTerminal(peer);
    CZELSerialPort port;
    ArrivalQueue subscriber;
    port.SetSerialPortSettings(peer, 7);
    if (port.InitializeReceivingThread() != ZEL_STATUS_SUCCESS) {
        state.SkipWithError("port does not open");
        return;
    }
    // A device-information answer's size: header, 28 payload bytes, checksum.
    std::vector<std::uint8_t> packet(36, 0x30);
    packet[0] = 0x42;
    packet[1] = 0x01;
    packet[2] = 0x40;
    packet[3] = 28;
    packet[4] = 0;
    CZELCommandSet commands;
    commands.CalculateChecksums(packet.data(), packet.size());

    std::vector<double> delaysUs;
    for (auto _ : state) {
        std::size_t written = 0;
        line.Write(packet.data(), packet.size(), written, CZELDeadline(std::chrono::seconds(5)));
        const auto lastByte = Clock::now();
        const auto arrived = subscriber.WaitForNext();
        const std::chrono::duration<double> delay = arrived - lastByte;
        state.SetIterationTime(delay.count());
        delaysUs.push_back(delay.count() * 1e6);
    }
    std::sort(delaysUs.begin(), delaysUs.end());
    if (!delaysUs.empty()) {
        state.counters["median_us"] = delaysUs[delaysUs.size() / 2];
        state.counters["p99_us"] = delaysUs[std::min(delaysUs.size() - 1, delaysUs.size() * 99 / 100)];
    }
    port.TerminateReceivingThread();
}
BENCHMARK(BM_LastByteToSubscriber)->Iterations(2000)->UseManualTime()->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
