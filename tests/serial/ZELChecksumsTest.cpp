#include "zel/commands/CZELCommandSet.h"
#include "zel/foundation/ZELStatus.h"
#include "zel/serial/ZELChecksums.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace {

// The register exactly as the framing defines it, bit by bit, to hold the table-driven code against.
std::uint16_t BitwiseCrc16(const std::vector<std::uint8_t>& data)
{
    std::uint16_t reg = 0;
    for (std::uint8_t byte : data) {
        for (int bit = 0; bit < 8; ++bit) {
            const unsigned top = reg >> 15;
            reg = static_cast<std::uint16_t>(reg << 1);
            if (((byte >> bit) & 1U) != top)
                reg ^= 0x8005;
        }
    }
    return reg;
}

} // namespace

TEST(ZELChecksums, Crc16OfTheNineDigits)
{
    const std::string digits = "123456789";
    EXPECT_EQ(ZELCrc16(reinterpret_cast<const std::uint8_t*>(digits.data()), digits.size()), 0xBCDD);
    EXPECT_EQ(ZELCrc16(nullptr, 0), 0);
}

TEST(ZELChecksums, Crc16MatchesTheBitwiseRegisterOnRandomData)
{
    std::mt19937 random(4711);
    for (std::size_t length : {1U, 2U, 7U, 64U, 261U}) {
        std::vector<std::uint8_t> data(length);
        for (auto& byte : data)
            byte = static_cast<std::uint8_t>(random());
        EXPECT_EQ(ZELCrc16(data.data(), data.size()), BitwiseCrc16(data)) << "length " << length;
    }
}

TEST(ZELChecksums, Sum8WrapsModulo256)
{
    const std::vector<std::uint8_t> data{0xFF, 0x02, 0x80, 0x80};
    EXPECT_EQ(ZELSum8(data.data(), data.size()), 0x01);
}

TEST(CZELCommandSet, SequenceNumbersRunFrom1To255AndSkip0)
{
    CZELCommandSet commands;
    std::uint8_t packet[7] = {0x42, 0x01, 0x00, 0x00, 0x00, 0, 0};
    for (int round = 0; round < 2; ++round) {
        for (int expected = 1; expected <= 255; ++expected) {
            ASSERT_EQ(commands.CalculateChecksumsForCCPU(packet), ZEL_STATUS_SUCCESS);
            ASSERT_EQ(packet[5], expected);
            ASSERT_EQ(packet[6], static_cast<std::uint8_t>(0x01 + expected));
        }
    }
}

TEST(CZELCommandSet, ChecksumsByFirstByte)
{
    struct Case
    {
        const char* name;
        std::vector<std::uint8_t> packet;
        long result;
        std::vector<std::uint8_t> expected;
    };
    const std::vector<Case> cases = {
        {"main controller", {0x42, 0x14, 0x00, 0x02, 0x00, 0, 0, 0x21, 0x00, 0}, ZEL_STATUS_SUCCESS,
         {0x42, 0x14, 0x00, 0x02, 0x00, 1, 0x17, 0x21, 0x00, 0x21}},
        {"CCPU2", {0x19, 0x02, 0x0D, 0x00, 0x00, 0, 0}, ZEL_STATUS_SUCCESS, {0x19, 0x02, 0x0D, 0x00, 0x00, 1, 0x10}},
        {"Veltrix box gets checksums too", {0x05, 0x01, 0x00, 0x00, 0x00, 0, 0}, ZEL_STATUS_SUCCESS,
         {0x05, 0x01, 0x00, 0x00, 0x00, 1, 0x02}},
        {"Ombra box", {0x85, 0x61, 0x00, 0x01, 0x00, 0, 0, 0xFF, 0}, ZEL_STATUS_SUCCESS,
         {0x85, 0x61, 0x00, 0x01, 0x00, 1, 0x63, 0xFF, 0xFF}},
        {"MCPU sum, empty payload", {0x3E, 0x56, 0x00, 0, 0}, ZEL_STATUS_SUCCESS, {0x3E, 0x56, 0x00, 0x56, 0x00}},
        {"MCPU sum", {0x3E, 0x21, 0x01, 0, 0x07, 0}, ZEL_STATUS_SUCCESS, {0x3E, 0x21, 0x01, 0x22, 0x07, 0x07}},
        {"word-count packets carry none", {0x43, 0x00}, ZEL_STATUS_NOT_IMPLEMENTED, {0x43, 0x00}},
        {"unknown first byte", {0x11, 0x01, 0x00, 0x00, 0x00, 0, 0}, ZEL_STATUS_NOT_IMPLEMENTED,
         {0x11, 0x01, 0x00, 0x00, 0x00, 0, 0}},
    };
    for (const Case& c : cases) {
        CZELCommandSet commands;
        std::vector<std::uint8_t> packet = c.packet;
        EXPECT_EQ(commands.CalculateChecksums(packet.data(), packet.size()), c.result) << c.name;
        EXPECT_EQ(packet, c.expected) << c.name;
    }
}

TEST(CZELCommandSet, Crc16TrailerOfTheCrcFraming)
{
    CZELCommandSet commands;
    std::vector<std::uint8_t> packet{0x24, 0x56, 0x00, 0, 0, 0};
    ASSERT_EQ(commands.CalculateChecksums(packet.data(), packet.size()), ZEL_STATUS_SUCCESS);
    const std::uint16_t crc = ZELCrc16(&packet[1], 3);
    EXPECT_EQ(packet[3], 0x56);
    EXPECT_EQ(packet[4], crc & 0xFF);
    EXPECT_EQ(packet[5], crc >> 8);
}

TEST(CZELCommandSet, ChecksumsRefuseAPacketShorterThanItsHeaderAnnounces)
{
    CZELCommandSet commands;
    // Announces 4 payload bytes (12 in all) in a buffer of 9; nothing may be written.
    std::vector<std::uint8_t> ccpu{0x42, 0x02, 0x00, 0x04, 0x00, 0, 0, 1, 2};
    const auto ccpuBefore = ccpu;
    EXPECT_EQ(commands.CalculateChecksums(ccpu.data(), ccpu.size()), ZEL_STATUS_WRONG_LENGTH);
    EXPECT_EQ(ccpu, ccpuBefore);
    std::vector<std::uint8_t> mcpu{0x24, 0x51, 0x8A, 0, 0};
    EXPECT_EQ(commands.CalculateChecksums(mcpu.data(), mcpu.size()), ZEL_STATUS_WRONG_LENGTH);
    std::vector<std::uint8_t> cut{0x42, 0x02};
    EXPECT_EQ(commands.CalculateChecksums(cut.data(), cut.size()), ZEL_STATUS_WRONG_LENGTH);
}
