// Flashes a 256 KiB image through the simulated bootloader on a line paced at 115200 baud 8E1,
// and prints the rate against the wire limit and against the protocol's own ceiling.
//
//   zel_stm32_flash_bench [image KiB]

#include "zel/stm32/CZELSTM32BootLoader.h"

#include "sim/CSimSTM32BootLoader.h"
#include "stm32/PacedChip.h"
#include "stm32/SimulatedLine.h"
#include "support/ZELTestSupport.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

using ZELTest::PacedChip;

constexpr double kWireBytesPerSecond = ZELTest::kPacedWireBytesPerSecond;
// Bytes on the wire per 256-byte Write Memory block: command and complement, address and XOR,
// length byte, data, XOR out; three ACKs back.
constexpr double kBlockWireBytes = 2 + 5 + 1 + 256 + 1 + 3;
constexpr double kCeilingBytesPerSecond = kWireBytesPerSecond * 256 / kBlockWireBytes;

class Client : public CZELSTM32BootLoader
{
public:
    bool Flash(const std::string& port, const Bytes& image)
    {
        if (stm32_init(port.c_str(), kBaudRate) != 0 || stm32_extended_erase_flash() != 0)
            return false;
        std::size_t offset = 0;
        const auto read = [&](std::uint8_t* buffer, std::uint32_t count) {
            const std::size_t n = std::min<std::size_t>(count, image.size() - offset);
            std::copy_n(image.begin() + static_cast<std::ptrdiff_t>(offset), n, buffer);
            offset += n;
            return static_cast<std::uint32_t>(n);
        };
        const bool written = stm32_write_flash(read, nullptr) == 0 && stm32_go_command() == 0;
        stm32_close();
        return written;
    }
};

void Report(const char* who, std::size_t size, double seconds, bool flashed)
{
    const double rate = static_cast<double>(size) / seconds;
    std::printf("%-12s %s  %7zu bytes in %6.2f s  %8.1f B/s  %5.1f %% of the wire (%.0f B/s)  %5.1f %% of the "
                "protocol ceiling (%.0f B/s)\n",
        who, flashed ? "ok    " : "FAILED", size, seconds, rate, 100 * rate / kWireBytesPerSecond, kWireBytesPerSecond,
        100 * rate / kCeilingBytesPerSecond, kCeilingBytesPerSecond);
}

// Runs `flash` against a fresh paced chip; the seconds it took, or a negative value on failure.
template <typename Flash> double Measure(const Bytes& image, CSimSTM32BootLoader::Settings settings, Flash flash)
{
    PacedChip chip(std::move(settings));
    ZELTest::SimulatedLine line([&](const std::uint8_t* data, std::size_t n) { return chip.Receive(data, n); });
    const auto start = Clock::now();
    const bool flashed = flash(line.Path());
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const bool same = line.Locked([&] { return chip.Chip().ProgrammedImage() == image; });
    return flashed && same ? seconds : -seconds;
}

} // namespace

int main(int argc, char** argv)
{
    const std::size_t kib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256;
    Bytes image(kib * 1024);
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<std::uint8_t>(i * 31 + 7);
    // A high-density part: 512 KiB in pages of 2 KiB.
    CSimSTM32BootLoader::Settings settings;
    settings.chipId = 0x0414;
    settings.flashSize = 512 * 1024;
    settings.pageSize = 2048;
    if (image.size() > settings.flashSize) {
        std::printf("at most 512 KiB\n");
        return 2;
    }

    std::printf("Flashing %zu KiB at 115200 baud 8E1 (paced simulated line)\n", kib);
    const double ours = Measure(image, settings, [&](const std::string& port) { return Client().Flash(port, image); });
    Report("tarn", image.size(), std::abs(ours), ours > 0);

    return ours > 0 ? 0 : 1;
}
