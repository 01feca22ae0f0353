#include "zel/commands/CZELCommandSet.h"
#include "zel/foundation/ZELStatus.h"

#include "support/ZELTestPackets.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

using ZELTest::Bytes;

namespace {

// Builds a request into a large buffer, fills in its checksums and returns exactly its bytes.
Bytes Build(CZELCommandSet& commands, const std::function<std::uint16_t(std::uint8_t*)>& builder)
{
    Bytes buffer(2048, 0xCC);
    const std::uint16_t length = builder(buffer.data());
    if (length == 0)
        return {};
    buffer.resize(length);
    EXPECT_EQ(commands.CalculateChecksums(buffer.data(), buffer.size()), ZEL_STATUS_SUCCESS);
    return buffer;
}

} // namespace

TEST(CZELCommandSet, ProtocolDefaultsAndRefusals)
{
    CZELCommandSet commands;
    std::uint16_t protocol = 0;
    EXPECT_EQ(commands.GetProtocol(&protocol), 0x4800);
    EXPECT_EQ(protocol, 0x4800);
    EXPECT_EQ(commands.SetProtocol(6), ZEL_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(commands.GetProtocol(), 0x4800);
    for (std::uint16_t id : {1, 2, 3, 4, 5, 0x1800, 0x1880, 0x4800, 0x4801})
        EXPECT_EQ(commands.SetProtocol(id), ZEL_STATUS_SUCCESS) << id;
}

TEST(CZELCommandSet, BuildsTheRequestsByteForByte)
{
    struct Case
    {
        const char* name;
        std::function<std::uint16_t(CZELCommandSet&, std::uint8_t*)> builder;
        Bytes expected; // after the checksums, sequence number 1
    };
    const std::vector<Case> cases = {
        {"device information", [](auto& c, auto* b) { return c.PrepareReqGetDeviceInfo(b); },
         {0x42, 0x01, 0x00, 0x00, 0x00, 0x01, 0x02}},
        {"update expander 33", [](auto& c, auto* b) { return c.PrepareReqUpdateExpander(b, 33); },
         {0x42, 0x14, 0x00, 0x02, 0x00, 0x01, 0x17, 0x21, 0x00, 0x21}},
        {"bootloader switch", [](auto& c, auto* b) {
             const std::uint8_t ids[] = {128};
             const std::uint8_t values[] = {0x00, 0x18};
             return c.PrepareReqControl(b, 1, ids, values);
         },
         {0x42, 0x11, 0x00, 0x03, 0x00, 0x01, 0x15, 0x80, 0x00, 0x18, 0x98}},
        {"control with an unknown property", [](auto& c, auto* b) {
             const std::uint8_t ids[] = {2, 99};
             const std::uint8_t values[] = {100, 0};
             return c.PrepareReqControl(b, 2, ids, values);
         },
         {0x42, 0x11, 0x00, 0x04, 0x00, 0x01, 0x16, 0x02, 0x64, 0x00, 0x63, 0xC9}},
        {"control without items has no payload", [](auto& c, auto* b) { return c.PrepareReqControl(b, 0, nullptr, nullptr); },
         {0x42, 0x11, 0x00, 0x00, 0x00, 0x01, 0x12}},
        {"radio control", [](auto& c, auto* b) {
             const std::uint8_t ids[] = {1, 7};
             const std::uint8_t values[] = {5};
             return c.PrepareRCPUReqControl(b, 2, ids, values);
         },
         {0x42, 0x11, 0x0C, 0x03, 0x00, 0x01, 0x21, 0x01, 0x05, 0x07, 0x0D}},
        {"status of two properties", [](auto& c, auto* b) {
             const std::uint8_t ids[] = {2, 26};
             const std::uint8_t rates[] = {10, 20};
             return c.PrepareReqGetStatus(b, 2, ids, rates);
         },
         {0x42, 0x02, 0x00, 0x04, 0x00, 0x01, 0x07, 0x02, 0x0A, 0x1A, 0x14, 0x3A}},
        {"read memory", [](auto& c, auto* b) { return c.PrepareReqReadMemory(b, 2, 16, 0x08001000); },
         {0x42, 0x06, 0x00, 0x06, 0x00, 0x01, 0x0D, 0x02, 0x10, 0x00, 0x10, 0x00, 0x08, 0x2A}},
        {"read profile", [](auto& c, auto* b) { return c.PrepareReqReadProfile(b, 3, 9); },
         {0x42, 0x2C, 0x00, 0x02, 0x00, 0x01, 0x2F, 0x03, 0x09, 0x0C}},
        {"CCPU2 switch", [](auto& c, auto* b) { return c.PrepareReqUpdateCCPU2(b); },
         {0x19, 0x02, 0x0D, 0x00, 0x00, 0x01, 0x10}},
        {"Veltrix box switch", [](auto& c, auto* b) { return c.PrepareReqUpdateVeltrix(b); },
         {0x05, 0x02, 0x00, 0x00, 0x00, 0x01, 0x03}},
        {"Ombra setpoints", [](auto& c, auto* b) { return static_cast<std::uint16_t>(c.PrepareReqSetSetpoints(b, -1, 2)); },
         {0x85, 0x61, 0x00, 0x04, 0x00, 0x01, 0x66, 0xFF, 0xFF, 0x02, 0x00, 0x00}},
        {"hardware record", [](auto& c, auto* b) { return c.PrepareReqSetECPUHardwareInfo(b, 0x0102, "V1", "S"); },
         {0x42, 0x51, 0x0B, 0x07, 0x00, 0x01, 0x64, 0x02, 0x01, 'V', '1', 0, 'S', 0, 0xDD}},
        {"production record", [](auto& c, auto* b) { return c.PrepareReqSetCCPU2ProductionInfo(b, "D", ""); },
         {0x19, 0x53, 0x0D, 0x03, 0x00, 0x01, 0x64, 'D', 0, 0, 'D'}},
        {"modem configuration", [](auto& c, auto* b) { return c.PrepareReqSetRCPUModemConfig(b, 1, 2, 0x01020304); },
         {0x42, 0x15, 0x0C, 0x06, 0x00, 0x01, 0x28, 0x01, 0x02, 0x04, 0x03, 0x02, 0x01, 0x0D}},
        {"zero offset", [](auto& c, auto* b) { return c.PrepareReqSetECPUPWMZeroOffset(b); },
         {0x42, 0x21, 0x0B, 0x04, 0x00, 0x01, 0x31, 0x00, 0x80, 0x00, 0x80, 0x00}},
        {"MCPU board information", [](auto& c, auto* b) { return c.PrepareReqBoardInfo(b); },
         {0x3E, 0x56, 0x00, 0x56, 0x00}},
        {"MCPU motors off", [](auto& c, auto* b) { return c.PrepareReqMotorsOff(b); },
         {0x3E, 0x45, 0x01, 0x46, 0x0C, 0x0C}},
        {"MCPU flash start", [](auto& c, auto* b) { return c.PrepareReqModuleFlashStart(b, 2, 0x00012345); },
         {0x3E, 0x4E, 0x05, 0x53, 0x02, 0x45, 0x23, 0x01, 0x00, 0x6B}},
    };
    for (const Case& c : cases) {
        CZELCommandSet commands;
        const Bytes packet = Build(commands, [&](std::uint8_t* b) { return c.builder(commands, b); });
        EXPECT_EQ(packet, c.expected) << c.name;
    }
}

TEST(CZELCommandSet, RequestsWithoutPayloadAreSevenBytes)
{
    struct Case
    {
        std::function<std::uint16_t(CZELCommandSet&, std::uint8_t*)> builder;
        std::uint8_t delimiter;
        std::uint16_t id;
    };
    const std::vector<Case> cases = {
        {[](auto& c, auto* b) { return c.PrepareReqGetLBUSDevices(b); }, 0x42, 0x0012},
        {[](auto& c, auto* b) { return c.PrepareReqGetExpanders(b); }, 0x42, 0x0013},
        {[](auto& c, auto* b) { return c.PrepareReqGetCANDrivers(b); }, 0x42, 0x0018},
        {[](auto& c, auto* b) { return c.PrepareReqPrepareFirmwareUpdate(b); }, 0x42, 0x0004},
        {[](auto& c, auto* b) { return c.PrepareReqGetCCPU2DeviceInfo(b); }, 0x19, 0x0D01},
        {[](auto& c, auto* b) { return c.PrepareReqGetRCPUDeviceInfo(b); }, 0x42, 0x0C01},
        {[](auto& c, auto* b) { return c.PrepareReqGetVeltrixDeviceInfo(b); }, 0x05, 0x0001},
        {[](auto& c, auto* b) { return c.PrepareReqGetOmbraDeviceInfo(b); }, 0x85, 0x0001},
        {[](auto& c, auto* b) { return c.PrepareReqUpdateRCPU(b); }, 0x42, 0x0C02},
        {[](auto& c, auto* b) { return c.PrepareReqUpdateOmbraBox(b); }, 0x85, 0x0002},
        {[](auto& c, auto* b) { return c.PrepareReqDumpSettings(b); }, 0x42, 0x0003},
        {[](auto& c, auto* b) { return c.PrepareReqGetECPUInfo(b); }, 0x42, 0x0B01},
        {[](auto& c, auto* b) { return c.PrepareReqGetKCPUInfo(b); }, 0x42, 0x0A01},
        {[](auto& c, auto* b) { return c.PrepareReqGetECPUPWMCalibration(b); }, 0x42, 0x0B23},
        {[](auto& c, auto* b) { return c.PrepareReqGetECPUEncoderCalibration(b); }, 0x42, 0x0B25},
        {[](auto& c, auto* b) { return c.PrepareReqGetHardwareInfo(b); }, 0x42, 0x0052},
        {[](auto& c, auto* b) { return c.PrepareReqGetCCPU2HardwareInfo(b); }, 0x19, 0x0D52},
        {[](auto& c, auto* b) { return c.PrepareReqGetECPUHardwareInfo(b); }, 0x42, 0x0B52},
        {[](auto& c, auto* b) { return c.PrepareReqGetRCPUHardwareInfo(b); }, 0x42, 0x0C52},
        {[](auto& c, auto* b) { return c.PrepareReqGetProductionInfo(b); }, 0x42, 0x0054},
        {[](auto& c, auto* b) { return c.PrepareReqGetCCPU2ProductionInfo(b); }, 0x19, 0x0D54},
        {[](auto& c, auto* b) { return c.PrepareReqGetECPUProductionInfo(b); }, 0x42, 0x0B54},
        {[](auto& c, auto* b) { return c.PrepareReqGetRCPUProductionInfo(b); }, 0x42, 0x0C54},
        {[](auto& c, auto* b) { return c.PrepareReqGetRCPUModemConfig(b); }, 0x42, 0x0C16},
        {[](auto& c, auto* b) { return c.PrepareReqGetRCPURegion(b); }, 0x42, 0x0C56},
    };
    for (const Case& c : cases) {
        CZELCommandSet commands;
        const Bytes packet = Build(commands, [&](std::uint8_t* b) { return c.builder(commands, b); });
        ASSERT_EQ(packet.size(), 7U) << std::hex << c.id;
        EXPECT_EQ(packet[0], c.delimiter) << std::hex << c.id;
        EXPECT_EQ(packet[1] | (packet[2] << 8), c.id);
        EXPECT_EQ(packet[3] | packet[4], 0) << std::hex << c.id;
    }
}

TEST(CZELCommandSet, SendFirmwareCarriesItsBlockWithA16BitLength)
{
    CZELCommandSet commands;
    Bytes data(258);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i);
    const Bytes packet = Build(commands, [&](std::uint8_t* b) {
        return commands.PrepareReqSendFirmware(b, 0x08000100, static_cast<std::uint16_t>(data.size()), data.data());
    });
    ASSERT_EQ(packet.size(), 272U);
    EXPECT_EQ(packet[3] | (packet[4] << 8), 264);
    EXPECT_EQ(Bytes(packet.begin() + 7, packet.begin() + 13), (Bytes{0x00, 0x01, 0x00, 0x08, 0x02, 0x01}));
    EXPECT_EQ(Bytes(packet.begin() + 13, packet.end() - 1), data);
}

TEST(CZELCommandSet, ModuleFlashWriteUnderBothMCPUFramings)
{
    const Bytes piece(128, 0x5A);
    for (const auto& [protocol, delimiter, total] :
        {std::tuple{0x4800, 0x3E, 143U}, std::tuple{0x4801, 0x24, 144U}}) {
        CZELCommandSet commands;
        ASSERT_EQ(commands.SetProtocol(static_cast<std::uint16_t>(protocol)), ZEL_STATUS_SUCCESS);
        const Bytes packet = Build(commands, [&](std::uint8_t* b) {
            return commands.PrepareReqModuleFlashWrite(b, 3, 7, 0x80, 0xDEADBEEF, piece.data(), 128);
        });
        ASSERT_EQ(packet.size(), total);
        EXPECT_EQ(packet[0], delimiter);
        EXPECT_EQ(packet[1], 0x51);
        EXPECT_EQ(packet[2], 138);
        EXPECT_EQ(Bytes(packet.begin() + 4, packet.begin() + 14),
            (Bytes{3, 7, 0x80, 0, 0, 0, 0xEF, 0xBE, 0xAD, 0xDE}));
    }
}

TEST(CZELCommandSet, MCPURequestsFollowTheProtocol)
{
    CZELCommandSet commands;
    std::uint8_t buffer[64];
    EXPECT_EQ(commands.PrepareReqModuleList(buffer), 5);
    EXPECT_EQ(buffer[0], 0x3E);
    ASSERT_EQ(commands.SetProtocol(0x4801), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(commands.PrepareReqModuleList(buffer), 6);
    EXPECT_EQ(buffer[0], 0x24);
    // Other protocols keep the MCPU delimiter as it was.
    ASSERT_EQ(commands.SetProtocol(0x1800), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(commands.PrepareReqReset(buffer), 6);
    EXPECT_EQ(buffer[0], 0x24);
    EXPECT_EQ(commands.PrepareReqRealTimeDataCustom(buffer, 0x0102, 0x0A0B0C0D), 27);
    EXPECT_EQ(Bytes(buffer + 4, buffer + 11), (Bytes{0x58, 0x02, 0x01, 0x0D, 0x0C, 0x0B, 0x0A}));
}

TEST(CZELCommandSet, RefusesArgumentsThatDoNotFitOnePacket)
{
    CZELCommandSet commands;
    Bytes buffer(2048);
    const Bytes piece(246);
    EXPECT_EQ(commands.PrepareReqModuleFlashWrite(buffer.data(), 1, 1, 0, 0, piece.data(), 246), 0)
        << "the 8-bit length would wrap";
    EXPECT_EQ(commands.PrepareReqModuleFlashWrite(buffer.data(), 1, 1, 0, 0, piece.data(), 245), 5 + 255);
    const std::string longText(255, 'x');
    EXPECT_EQ(commands.PrepareReqSetHardwareInfo(buffer.data(), 1, longText.c_str(), "S"), 0)
        << "a text's length with terminator is one byte";
    EXPECT_EQ(commands.PrepareReqSetProductionInfo(buffer.data(), "D", nullptr), 0);
    // A read-parameters answer too short to hold the calibration values.
    Bytes answer = ZELTest::MCPUPacket(0x3E, 0x21, Bytes(39, 1));
    EXPECT_EQ(commands.PrepareReqResetCalibration(answer.data()), 0);
    answer = ZELTest::MCPUPacket(0x3E, 0x21, Bytes(40, 1));
    EXPECT_EQ(commands.PrepareReqResetCalibration(answer.data()), 45);
    EXPECT_EQ(answer[1], 0x22);
    EXPECT_EQ(Bytes(answer.begin() + 32, answer.begin() + 44), Bytes(12, 0));
    EXPECT_EQ(answer[31], 1);
}
