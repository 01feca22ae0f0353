// Arbitrary bytes as a received packet for the traffic dump. The packet lies in a buffer of exactly its
// size, so any read beyond it is caught; the rendered text must stay inside the dump's buffer.
#include "zel/plugins/CZELScriva.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::unique_ptr<std::uint8_t[]> packet(new std::uint8_t[size]);
    std::memcpy(packet.get(), data, size);
    CZELScriva scriva;
    scriva.DumpAcknowledgeOrNotification(packet.get(), size);
    if (std::strlen(scriva.GetScriva()) >= CZELScriva::kTextSize)
        __builtin_trap();
    return 0;
}
