// What the read-back after the write costs: one firmware file flashed with TransmitFirmware through
// the simulated bootloader on a line paced at 115200 baud 8E1, without and with VerifyAfterWrite.
// The verify is timed from its phase message to its last progress message, both inside the run
// that includes it, so its share of that run cannot exceed 100 %. Then what the look for a waiting
// bootloader costs on the same line, when one waits and when nothing answers.
//
//   zel_stm32_verify_bench [image KiB]

#include "zel/stm32/CZELSTM32BootLoader.h"

#include "stm32/PacedChip.h"
#include "stm32/SimulatedLine.h"
#include "support/ZELTestSupport.h"
#include "zel/firmware/CZELFileHeader.h"
#include "zel/foundation/ZELStatus.h"
#include "zel/queue/CZELMessage.h"
#include "zel/queue/CZELMessageQueue.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

// Bytes on the wire per 256-byte Read Memory block: command and complement, address and XOR, count
// and complement out; three ACKs and the data back.
constexpr double kReadBlockWireBytes = 2 + 5 + 2 + 3 + 256;
constexpr double kReadCeilingBytesPerSecond = ZELTest::kPacedWireBytesPerSecond * 256 / kReadBlockWireBytes;

// Notes when the verify began and when its progress last moved; the hub delivers on the sender's
// thread, so the times are the transfer's own.
class PhaseClock : public CZELMessageQueue
{
public:
    PhaseClock() { GetZELMessageQueue().Register(this); }
    ~PhaseClock() override { GetZELMessageQueue().Unregister(this); }

    long PushMessage(CZELMessage& message) override
    {
        const auto now = Clock::now();
        if (message.GetMessageType() == ZEL_MESSAGE_TRANSFER_PHASE)
            verifyStart = now;
        else if (message.GetMessageType() == ZEL_MESSAGE_TRANSFER_PROGRESS && verifyStart)
            verifyEnd = now;
        return ZEL_STATUS_SUCCESS;
    }

    std::optional<Clock::time_point> verifyStart;
    std::optional<Clock::time_point> verifyEnd;
};

struct Run
{
    bool ok = false;
    double seconds = 0;
    double verifySeconds = 0; // 0 without a verify
};

Run Transfer(const std::string& file, const Bytes& image, bool verify)
{
    ZELTest::PacedChip chip(CSimSTM32BootLoader::Settings {});
    ZELTest::SimulatedLine line([&](const std::uint8_t* data, std::size_t n) { return chip.Receive(data, n); });
    PhaseClock phases;
    CZELSTM32BootLoader client;
    client.SetVerifyAfterWrite(verify);
    const auto start = Clock::now();
    const long status = client.TransmitFirmware(line.Path(), file);
    const auto end = Clock::now();
    Run run;
    run.seconds = std::chrono::duration<double>(end - start).count();
    const bool same = line.Locked([&] { return chip.Chip().ProgrammedImage() == image && chip.Chip().HasStarted(); });
    const bool phased = verify == (phases.verifyStart && phases.verifyEnd);
    run.ok = status == ZEL_STATUS_SUCCESS && same && phased;
    if (verify && phased)
        run.verifySeconds = std::chrono::duration<double>(*phases.verifyEnd - *phases.verifyStart).count();
    return run;
}

// One probe of the paced line; its time, and whether it came to `expected`.
double Probe(bool silent, long expected, bool& ok)
{
    CSimSTM32BootLoader::Settings settings;
    settings.silent = silent;
    ZELTest::PacedChip chip(settings);
    ZELTest::SimulatedLine line([&](const std::uint8_t* data, std::size_t n) { return chip.Receive(data, n); });
    CZELSTM32BootLoader client;
    CZELSTM32BootLoader::Identity found;
    const auto start = Clock::now();
    ok = client.ProbeBootloader(line.Path(), found) == expected;
    return std::chrono::duration<double>(Clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv)
{
    const std::size_t kib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 32;
    if (kib == 0 || kib > 256) {
        std::printf("1 to 256 KiB\n");
        return 2;
    }
    ZELTest::TemporaryDirectory folder;
    ZELTest::ScopedCurrentDirectory here(folder.Path()); // the plain image goes to the current folder
    Bytes image(kib * 1024);
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<std::uint8_t>(i * 31 + 7);
    ZELTest::WriteFile("image.bin", std::string(image.begin(), image.end()));
    _FILE_HEADER header {};
    header.fileType = 3;
    std::strcpy(header.version, "V 01.00.00");
    if (GetZELFileHeader().CreateNewFile("image.bin", "fw.tarn", &header) != ZEL_STATUS_SUCCESS) {
        std::printf("the firmware file could not be packed\n");
        return 1;
    }

    std::printf("TransmitFirmware of %zu KiB at 115200 baud 8E1 (paced simulated line)\n", kib);
    const Run plain = Transfer("fw.tarn", image, false);
    const Run verified = Transfer("fw.tarn", image, true);
    std::printf("without verify  %s  %7.2f s\n", plain.ok ? "ok    " : "FAILED", plain.seconds);
    std::printf("with verify     %s  %7.2f s  (%+.2f s, %+.1f %%)\n", verified.ok ? "ok    " : "FAILED",
        verified.seconds, verified.seconds - plain.seconds, 100 * (verified.seconds - plain.seconds) / plain.seconds);
    if (!plain.ok || !verified.ok)
        return 1;
    const double rate = static_cast<double>(image.size()) / verified.verifySeconds;
    std::printf("the verify      %7.2f s  %5.1f %% of the run with verify  %8.1f B/s  %5.1f %% of the read "
                "ceiling (%.0f B/s)\n",
        verified.verifySeconds, 100 * verified.verifySeconds / verified.seconds, rate,
        100 * rate / kReadCeilingBytesPerSecond, kReadCeilingBytesPerSecond);

    bool found = false;
    bool none = false;
    const double waiting = Probe(false, ZEL_STATUS_SUCCESS, found);
    const double silent = Probe(true, ZEL_STATUS_NOT_FOUND, none);
    std::printf("probe, a bootloader waits  %s  %5.3f s\n", found ? "ok    " : "FAILED", waiting);
    std::printf("probe, nothing answers     %s  %5.3f s\n", none ? "ok    " : "FAILED", silent);
    return found && none ? 0 : 1;
}
