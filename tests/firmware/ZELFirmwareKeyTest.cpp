#include "zel/firmware/ZELFirmwareKey.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>

namespace {

// FNV-1a (64 bits) over the table and then the start positions, two bytes each, little-endian.
std::uint64_t KeyMaterialHash()
{
    std::uint64_t hash = 0xCBF29CE484222325ull;
    auto feed = [&hash](unsigned char byte) {
        hash ^= byte;
        hash *= 0x100000001B3ull;
    };
    for (unsigned char byte : g_ZELFirmwareKeyTable)
        feed(byte);
    for (unsigned short start : g_ZELFirmwareKeyStart) {
        feed(static_cast<unsigned char>(start));
        feed(static_cast<unsigned char>(start >> 8));
    }
    return hash;
}

std::uint64_t SplitMix64(std::uint64_t& state)
{
    state += 0x9E3779B97F4A7C15ull;
    std::uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

} // namespace

// Any change of the key material makes every existing firmware file unreadable.
TEST(ZELFirmwareKey, IsPinned)
{
    EXPECT_EQ(KeyMaterialHash(), 0x36521A87234FF4B8ull);
}

TEST(ZELFirmwareKey, FollowsItsDocumentedProcedure)
{
    std::uint64_t state = 0x5441524E46574B31ull;
    for (unsigned int offset = 0; offset < ZEL_FIRMWARE_KEY_SIZE; offset += 8) {
        const std::uint64_t value = SplitMix64(state);
        for (unsigned int i = 0; i < 8; ++i)
            ASSERT_EQ(g_ZELFirmwareKeyTable[offset + i], static_cast<unsigned char>(value >> (8 * i))) << offset + i;
    }
    std::set<unsigned short> taken;
    unsigned int index = 0;
    while (index < ZEL_FIRMWARE_KEY_START_COUNT) {
        const auto position = static_cast<unsigned short>(SplitMix64(state) >> 49);
        if (!taken.insert(position).second)
            continue;
        EXPECT_EQ(g_ZELFirmwareKeyStart[index], position) << index;
        ++index;
    }
}

TEST(ZELFirmwareKey, StartPositionsAreDistinctAndInsideTheTable)
{
    std::set<unsigned short> positions;
    for (unsigned short start : g_ZELFirmwareKeyStart) {
        EXPECT_LT(start, ZEL_FIRMWARE_KEY_SIZE);
        positions.insert(start);
    }
    EXPECT_EQ(positions.size(), ZEL_FIRMWARE_KEY_START_COUNT);
}
