// Arbitrary byte streams under every protocol, in reads of varying size with silences between them.
// Every packet the framer hands on must be whole: its announced length and its checksums agree.
#include "zel/commands/CZELCommandSet.h"
#include "zel/foundation/CZELTimeTable.h"
#include "zel/serial/CZELPacketFramer.h"

#include <cstddef>
#include <cstdint>

namespace {

constexpr std::uint16_t kProtocols[] = {0x1800, 0x1880, 4, 5, 0x4800, 0x4801, 2, 3, 1};

void CheckPacket(const CZELPacketFramer& framer, const std::uint8_t* packet, std::size_t length)
{
    const std::uint16_t protocol = framer.GetProtocol();
    if (length == 0 || length >= 1024 || packet[0] != ZELStartByteOfProtocol(protocol))
        __builtin_trap();
    if (CZELCommandSet::GetAnnouncedPacketLength(packet, length) != length)
        __builtin_trap();
    if (protocol != 2 && framer.VerifyPayloadCheckSum(packet, static_cast<std::uint16_t>(length)) != 0)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    CZELPacketFramer framer;
    framer.SetProtocol(kProtocols[data[0] % (sizeof kProtocols / sizeof kProtocols[0])]);
    framer.SetCallback([&framer](const std::uint8_t* packet, std::size_t length) { CheckPacket(framer, packet, length); });
    const std::size_t chunk = 1 + data[1] % 64;
    auto now = CZELPacketFramer::Clock::now();
    for (std::size_t offset = 2; offset < size; offset += chunk) {
        const std::size_t length = offset + chunk <= size ? chunk : size - offset;
        framer.Receive(data + offset, length, now);
        // The read's last byte decides whether a silence follows.
        if (data[offset + length - 1] == 0xA5)
            now += ZELTimes().framerSilence + std::chrono::milliseconds(1);
        else
            now += std::chrono::milliseconds(1);
        framer.CheckTimeout(now);
        if (framer.GetReceivedCount() >= 1024)
            __builtin_trap();
    }
    return 0;
}
