#include "zel/firmware/CZELCRC32.h"

namespace {

// CRC of the four-bit values 0 to 15 under 0xEDB88320.
// clang-format off
constexpr std::uint32_t g_nibbleTable[16] = {
    0x00000000u, 0x1DB71064u, 0x3B6E20C8u, 0x26D930ACu, 0x76DC4190u, 0x6B6B51F4u, 0x4DB26158u, 0x5005713Cu,
    0xEDB88320u, 0xF00F9344u, 0xD6D6A3E8u, 0xCB61B38Cu, 0x9B64C2B0u, 0x86D3D2D4u, 0xA00AE278u, 0xBDBDF21Cu,
};
// clang-format on

} // namespace

void CZELCRC32::Update(unsigned char value)
{
    m_crc = g_nibbleTable[(m_crc ^ value) & 0xFu] ^ (m_crc >> 4);
    m_crc = g_nibbleTable[(m_crc ^ (value >> 4u)) & 0xFu] ^ (m_crc >> 4);
}

void CZELCRC32::Update(const unsigned char* data, unsigned long length)
{
    if (data == nullptr)
        return;
    for (unsigned long i = 0; i < length; ++i)
        Update(data[i]);
}
