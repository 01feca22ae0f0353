// Throughput of the receive framer over a mixed stream with garbage between packets, and the cost of
// building and checksumming a request. Figures only; not run by ctest.
#include "zel/commands/CZELCommandSet.h"
#include "zel/serial/CZELPacketFramer.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

std::vector<std::uint8_t> MixedStream(std::size_t target)
{
    std::mt19937 random(1234);
    CZELCommandSet commands;
    std::vector<std::uint8_t> stream;
    std::uint8_t packet[1024];
    while (stream.size() < target) {
        for (int i = random() % 8; i > 0; --i)
            stream.push_back(static_cast<std::uint8_t>(random() % 0x40)); // garbage, never a start byte
        const std::uint16_t payloadLength = static_cast<std::uint16_t>(random() % 300);
        packet[0] = 0x42;
        packet[1] = 0x15;
        packet[2] = 0x40;
        packet[3] = static_cast<std::uint8_t>(payloadLength);
        packet[4] = static_cast<std::uint8_t>(payloadLength >> 8);
        for (std::uint16_t i = 0; i < payloadLength; ++i)
            packet[7 + i] = static_cast<std::uint8_t>(random());
        commands.CalculateChecksums(packet);
        if (random() % 16 == 0)
            packet[6] ^= 0x01; // now and then a broken header, rescanned
        stream.insert(stream.end(), packet, packet + (payloadLength ? payloadLength + 8 : 7));
    }
    return stream;
}

void FramerThroughput(benchmark::State& state)
{
    const std::vector<std::uint8_t> stream = MixedStream(4 << 20);
    std::size_t packets = 0;
    CZELPacketFramer framer([&packets](const std::uint8_t*, std::size_t) { ++packets; });
    const auto now = CZELPacketFramer::Clock::now();
    for (auto _ : state) {
        for (std::size_t offset = 0; offset < stream.size(); offset += 32)
            framer.Receive(stream.data() + offset, std::min<std::size_t>(32, stream.size() - offset), now);
        benchmark::DoNotOptimize(packets);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
    state.counters["packets"] = static_cast<double>(framer.GetCounters().receivedPackets);
    state.counters["IHCS"] = static_cast<double>(framer.GetCounters().invalidHeaderChecksum);
}
BENCHMARK(FramerThroughput)->Unit(benchmark::kMillisecond);

void BuildAndChecksumSendFirmware(benchmark::State& state)
{
    CZELCommandSet commands;
    std::uint8_t data[258] = {};
    std::uint8_t packet[512];
    for (auto _ : state) {
        packet[0] = 0x42;
        packet[1] = 0x15;
        packet[2] = 0x00;
        packet[3] = static_cast<std::uint8_t>(sizeof data + 6);
        packet[4] = static_cast<std::uint8_t>((sizeof data + 6) >> 8);
        std::copy(std::begin(data), std::end(data), packet + 13);
        commands.CalculateChecksums(packet);
        benchmark::DoNotOptimize(packet);
    }
}
BENCHMARK(BuildAndChecksumSendFirmware);

} // namespace

BENCHMARK_MAIN();
