#include "zel/firmware/CZELCRC32.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <random>
#include <vector>

TEST(CZELCRC32, MatchesTheStandardCrc)
{
    const char* digits = "123456789";
    CZELCRC32 crc;
    crc.Update(reinterpret_cast<const unsigned char*>(digits), std::strlen(digits));
    EXPECT_EQ(crc.GetCRC32(), 0xCBF43926u);
    EXPECT_EQ(crc.GetCRC32(), 0xCBF43926u) << "reading must not change the accumulator";

    CZELCRC32 empty;
    EXPECT_EQ(empty.GetCRC32(), 0u);

    std::mt19937 random(7);
    std::vector<unsigned char> data(4099);
    for (auto& byte : data)
        byte = static_cast<unsigned char>(random());
    CZELCRC32 bulk;
    bulk.Update(data.data(), data.size());
    EXPECT_EQ(bulk.GetCRC32(), crc32(0L, data.data(), static_cast<uInt>(data.size())));
}

TEST(CZELCRC32, BytewiseFeedingAndResetAgreeWithOneBlock)
{
    const unsigned char data[] = { 0x00, 0xFF, 0x10, 0x01, 0x80, 0x7F, 0x42 };
    CZELCRC32 block;
    block.Update(data, sizeof data);

    CZELCRC32 bytes;
    bytes.Update(0x55); // dropped by the reset
    bytes.Reset();
    for (unsigned char byte : data)
        bytes.Update(byte);
    EXPECT_EQ(bytes.GetCRC32(), block.GetCRC32());
    EXPECT_EQ(block.GetCRC32(), crc32(0L, data, sizeof data));
}
