#include "zel/commands/CZELCommandSet.h"
#include "zel/foundation/CZELTimeTable.h"
#include "zel/foundation/ZELStatus.h"
#include "zel/serial/CZELPacketFramer.h"
#include "support/ZELTestPackets.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

using ZELTest::Bytes;
using ZELTest::CCPUPacket;
using ZELTest::Join;
using ZELTest::MCPUPacket;
using Clock = CZELPacketFramer::Clock;

// A framer under one protocol that records what it hands on.
struct Framing
{
    explicit Framing(std::uint16_t protocol)
    {
        EXPECT_EQ(framer.SetProtocol(protocol), ZEL_STATUS_SUCCESS);
    }

    void Receive(const Bytes& bytes) { framer.Receive(bytes.data(), bytes.size(), now); }
    const CZELPacketFramer::Counters& Counters() const { return framer.GetCounters(); }

    std::vector<Bytes> packets;
    Clock::time_point now = Clock::time_point{} + std::chrono::hours(1);
    CZELPacketFramer framer{[this](const std::uint8_t* packet, std::size_t length) {
        packets.emplace_back(packet, packet + length);
    }};
};

} // namespace

TEST(CZELPacketFramer, RefusesUnknownProtocols)
{
    CZELPacketFramer framer;
    EXPECT_EQ(framer.SetProtocol(6), ZEL_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(framer.GetProtocol(), 0x1800);
    EXPECT_EQ(framer.SetProtocol(3), ZEL_STATUS_SUCCESS);
}

TEST(CZELPacketFramer, PublishesEachPacketAtItsLastByteUnderEveryProtocol)
{
    struct Case
    {
        std::uint16_t protocol;
        Bytes packet;
        std::size_t length;
    };
    const std::vector<Case> cases = {
        {0x1800, CCPUPacket(0x42, 0x4001, {}), 7},
        {0x1800, CCPUPacket(0x42, 0x4015, {0x00}), 9},
        {0x1880, CCPUPacket(0x19, 0x4D01, {1, 2, 3}), 11},
        {4, CCPUPacket(0x05, 0x80FF, Bytes(20, 0x11)), 28},
        {5, CCPUPacket(0x85, 0x4002, {0x00}), 9},
        {0x4800, MCPUPacket(0x3E, 0x43, {}), 5},
        {0x4800, MCPUPacket(0x3E, 0x43, {0x51}), 6},
        {0x4801, MCPUPacket(0x24, 0x72, {}), 6},
        {0x4801, MCPUPacket(0x24, 0x4C, Bytes(40, 0xA5)), 46},
        {2, Join({{0x43, 0x03}, Bytes(12, 0x42)}), 14},
    };
    for (const Case& c : cases) {
        Framing framing(c.protocol);
        ASSERT_EQ(c.packet.size(), c.length);
        framing.Receive(Bytes(c.packet.begin(), c.packet.end() - 1));
        EXPECT_TRUE(framing.packets.empty()) << "protocol " << c.protocol << " length " << c.length;
        framing.Receive({c.packet.back()});
        ASSERT_EQ(framing.packets.size(), 1U) << "protocol " << c.protocol << " length " << c.length;
        EXPECT_EQ(framing.packets[0], c.packet);
        EXPECT_EQ(framing.Counters().receivedPackets, 1U);
        EXPECT_EQ(framing.framer.GetReceivedCount(), 0U);
        EXPECT_FALSE(framing.framer.IsTimeoutPending());
    }
}

// An empty module payload still carries its sum byte, which must read 0.
TEST(CZELPacketFramer, EmptyMCPUPayloadEndsWithAZeroSum)
{
    struct Case
    {
        std::uint8_t sum;
        std::uint32_t published, ipcs;
    };
    for (const Case& c : {Case{0x00, 1, 0}, Case{0x01, 0, 1}}) {
        Framing framing(0x4800);
        const Bytes packet{0x3E, 0x43, 0x00, 0x43, c.sum};
        framing.Receive(Bytes(packet.begin(), packet.end() - 1));
        EXPECT_TRUE(framing.packets.empty()) << "sum " << int(c.sum);
        framing.Receive({packet.back()});
        EXPECT_EQ(framing.packets.size(), c.published) << "sum " << int(c.sum);
        EXPECT_EQ(framing.Counters().invalidPayloadChecksum, c.ipcs) << "sum " << int(c.sum);
        if (c.published == 1) {
            EXPECT_EQ(framing.packets[0], packet);
        }
    }
}

TEST(CZELPacketFramer, CountsEachGarbageByteBeforeAStartByte)
{
    Framing framing(0x1800);
    framing.Receive(Join({{0x00, 0x13, 0xFF}, CCPUPacket(0x42, 0x4001, {}), {0x19}}));
    EXPECT_EQ(framing.Counters().invalidStartDelimiter, 4U);
    EXPECT_EQ(framing.packets.size(), 1U);
}

TEST(CZELPacketFramer, RejectedPacketsAreCountedAndTheRestRescanned)
{
    struct Case
    {
        const char* name;
        std::uint16_t protocol;
        Bytes stream;
        std::uint32_t ihcs, ipcs, tooLong;
        Bytes recovered;
    };
    const Bytes inner = CCPUPacket(0x42, 0x4004, {0, 0, 0, 1});
    Bytes badPayload = CCPUPacket(0x42, 0x4002, {1, 2, 3});
    badPayload.back() ^= 0xFF;
    Bytes outerWithInner = CCPUPacket(0x42, 0x4002, Join({inner, {0x77}}));
    outerWithInner.back() ^= 0xFF;
    const Bytes innerMCPU = MCPUPacket(0x3E, 0x43, {0x4E});
    // Header announcing N = 1016: N + 8 reaches the buffer size.
    const Bytes tooLong = CCPUPacket(0x42, 0x4002, Bytes(1016, 0));
    const Bytes innerWordCount = Join({{0x43, 0x01}, {1, 2, 3, 4}});
    const std::vector<Case> cases = {
        // The 0x42 at offset 1 starts the rescan; the header of the first try is wrong.
        {"header checksum", 0x1800, Join({{0x42}, inner}), 1, 0, 0, inner},
        {"payload checksum", 0x1800, Join({badPayload, inner}), 0, 1, 0, inner},
        {"payload checksum with a packet inside", 0x1800, outerWithInner, 0, 1, 0, inner},
        {"too long at the seventh byte", 0x1800, Join({Bytes(tooLong.begin(), tooLong.begin() + 7), inner}), 0, 0, 1,
         inner},
        {"current protocol's start byte", 0x4800, Join({{0x3E, 0x00}, innerMCPU}), 1, 0, 0, innerMCPU},
        {"word count reaches the buffer size", 2, Join({{0x43, 0x00}, Bytes(1021, 0x11), innerWordCount}), 0, 0, 1,
         innerWordCount},
    };
    for (const Case& c : cases) {
        Framing framing(c.protocol);
        framing.Receive(c.stream);
        EXPECT_EQ(framing.Counters().invalidHeaderChecksum, c.ihcs) << c.name;
        EXPECT_EQ(framing.Counters().invalidPayloadChecksum, c.ipcs) << c.name;
        EXPECT_EQ(framing.Counters().tooLong, c.tooLong) << c.name;
        ASSERT_EQ(framing.packets.size(), 1U) << c.name;
        EXPECT_EQ(framing.packets[0], c.recovered) << c.name;
        EXPECT_EQ(framing.framer.GetReceivedCount(), 0U) << c.name;
    }
}

TEST(CZELPacketFramer, RescanKeepsAPartialPacketForTheNextRead)
{
    Framing framing(0x1800);
    const Bytes packet = CCPUPacket(0x42, 0x4013, {2});
    framing.Receive(Join({{0x42}, Bytes(packet.begin(), packet.begin() + 8)}));
    EXPECT_EQ(framing.Counters().invalidHeaderChecksum, 1U);
    EXPECT_EQ(framing.framer.GetReceivedCount(), 8U);
    framing.Receive({packet.back()});
    ASSERT_EQ(framing.packets.size(), 1U);
    EXPECT_EQ(framing.packets[0], packet);
}

TEST(CZELPacketFramer, SilenceDropsAnUnfinishedPacket)
{
    const auto silence = ZELTimes().framerSilence;
    const Bytes packet = CCPUPacket(0x42, 0x4001, {1, 2, 3});
    struct Case
    {
        const char* name;
        std::uint16_t protocol;
        Bytes stream;
        std::uint32_t timeouts;
        std::uint32_t droppedBytes;
    };
    const std::vector<Case> cases = {
        {"partial packet", 0x1800, Bytes(packet.begin(), packet.begin() + 5), 1, 0},
        {"bytes dropped before a start byte", 0x1800, {0x01, 0x02}, 1, 2},
        {"complete packet", 0x1800, packet, 0, 0},
        {"partial packet after a complete one in the same read", 0x1800,
         Join({packet, Bytes(packet.begin(), packet.begin() + 3)}), 1, 0},
        {"protocol 1 drops everything", 1, packet, 1, 0},
    };
    for (const Case& c : cases) {
        Framing framing(c.protocol);
        framing.Receive(c.stream);
        EXPECT_FALSE(framing.framer.CheckTimeout(framing.now + silence)) << c.name << ": not strictly more";
        EXPECT_EQ(framing.framer.CheckTimeout(framing.now + silence + std::chrono::milliseconds(1)), c.timeouts == 1)
            << c.name;
        EXPECT_EQ(framing.Counters().timeout, c.timeouts) << c.name;
        EXPECT_EQ(framing.Counters().invalidStartDelimiter, c.droppedBytes) << c.name;
        EXPECT_EQ(framing.framer.GetReceivedCount(), 0U) << c.name;
        // The packet that follows the silence is framed from its start.
        const std::size_t before = framing.packets.size();
        framing.now += silence * 2;
        framing.Receive(packet);
        ASSERT_EQ(framing.packets.size(), before + (c.protocol == 1 ? 0U : 1U)) << c.name;
        if (c.protocol != 1) {
            EXPECT_EQ(framing.packets.back(), packet) << c.name;
        }
    }
}

TEST(CZELPacketFramer, ProtocolOneNeverPublishesAndEveryBurstTimesOut)
{
    Framing framing(1);
    const auto silence = ZELTimes().framerSilence;
    for (int burst = 1; burst <= 3; ++burst) {
        framing.Receive(CCPUPacket(0x42, 0x4001, {}));
        framing.now += silence + std::chrono::milliseconds(1);
        EXPECT_TRUE(framing.framer.CheckTimeout(framing.now));
        EXPECT_EQ(framing.Counters().timeout, static_cast<std::uint32_t>(burst));
    }
    EXPECT_TRUE(framing.packets.empty());
    EXPECT_EQ(framing.Counters().invalidStartDelimiter, 0U);
}

TEST(CZELPacketFramer, RadioStatisticsReadsAreNotFramed)
{
    Framing framing(3);
    framing.Receive(Bytes(40, 0x42));
    EXPECT_TRUE(framing.packets.empty());
    EXPECT_EQ(framing.framer.GetReceivedCount(), 0U);
    EXPECT_FALSE(framing.framer.IsTimeoutPending());
}

TEST(CZELPacketFramer, VerifyPayloadCheckSumStaysInsideTheGivenSize)
{
    struct Case
    {
        const char* name;
        std::uint16_t protocol;
        Bytes packet;
        long result;
    };
    const Bytes mcpuCrc = MCPUPacket(0x24, 0x51, {1, 2, 3});
    const Bytes ccpu = CCPUPacket(0x42, 0x4015, {0});
    const std::vector<Case> cases = {
        {"CCPU whole", 0x1800, ccpu, 0},
        {"CCPU without its payload checksum", 0x1800, Bytes(ccpu.begin(), ccpu.end() - 1), -27},
        {"CCPU header only", 0x1800, Bytes(ccpu.begin(), ccpu.begin() + 3), -27},
        {"CRC framing whole", 0x4801, mcpuCrc, 0},
        {"CRC framing without the second CRC byte", 0x4801, Bytes(mcpuCrc.begin(), mcpuCrc.end() - 1), -27},
        {"word count carries no checksum to verify", 2, {0x43, 0x00}, -30},
    };
    for (const Case& c : cases) {
        CZELPacketFramer framer;
        ASSERT_EQ(framer.SetProtocol(c.protocol), ZEL_STATUS_SUCCESS);
        EXPECT_EQ(framer.VerifyPayloadCheckSum(c.packet.data(), static_cast<std::uint16_t>(c.packet.size())), c.result)
            << c.name;
    }
}
