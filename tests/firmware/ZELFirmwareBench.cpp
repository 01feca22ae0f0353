// Throughput of the firmware checksums and of the decryption over a 1 MiB payload.
#include "zel/firmware/CZELCRC32.h"
#include "zel/firmware/CZELFileHeader.h"

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

namespace {

constexpr std::uint32_t kPayloadSize = 1u << 20;

class FileHeader : public CZELFileHeader
{
public:
    using CZELFileHeader::CRC32Calculate;
};

std::vector<unsigned char> Payload()
{
    std::mt19937 random(1);
    std::vector<unsigned char> payload(kPayloadSize);
    for (auto& byte : payload)
        byte = static_cast<unsigned char>(random());
    return payload;
}

void HeaderCrc(benchmark::State& state)
{
    FileHeader files;
    const auto payload = Payload();
    for (auto _ : state)
        benchmark::DoNotOptimize(files.CRC32Calculate(payload.data(), kPayloadSize, 0xFFFFFFFFu));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kPayloadSize);
}

void NibbleCrc(benchmark::State& state)
{
    const auto payload = Payload();
    for (auto _ : state) {
        CZELCRC32 crc;
        crc.Update(payload.data(), kPayloadSize);
        benchmark::DoNotOptimize(crc.GetCRC32());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kPayloadSize);
}

void Decryption(benchmark::State& state)
{
    CZELFileHeader files;
    auto payload = Payload();
    for (auto _ : state) {
        files.DecryptFile(3, payload.data(), kPayloadSize);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kPayloadSize);
}

} // namespace

BENCHMARK(HeaderCrc);
BENCHMARK(NibbleCrc);
BENCHMARK(Decryption);
BENCHMARK_MAIN();
