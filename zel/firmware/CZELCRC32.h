#pragma once

#include <cstdint>

// Incremental standard CRC-32 (0xEDB88320, initial 0xFFFFFFFF, final complement), four bits at a
// time. An object is not shared between threads.
class CZELCRC32
{
public:
    CZELCRC32() = default;
    virtual ~CZELCRC32() = default;

    void Reset() { m_crc = 0xFFFFFFFFu; }
    void Update(unsigned char value);
    void Update(const unsigned char* data, unsigned long length);
    // The accumulator complemented; the accumulator itself is unchanged.
    std::uint32_t GetCRC32() const { return ~m_crc; }

private:
    std::uint32_t m_crc = 0xFFFFFFFFu;
};
