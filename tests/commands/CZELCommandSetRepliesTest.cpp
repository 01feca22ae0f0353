#include "zel/commands/CZELCommandSet.h"
#include "zel/foundation/ZELStatus.h"

#include "support/ZELTestPackets.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using ZELTest::Bytes;
using ZELTest::CCPUPacket;
using ZELTest::Join;
using ZELTest::MCPUPacket;
using ZELTest::Text;

namespace {

// Exposes the two-channel flag the ECPU parsers set.
class CommandSetProbe : public CZELCommandSet
{
public:
    std::uint8_t TwoChannels() const { return m_twoChannels; }
};

struct DeviceInfo
{
    long result = 1;
    std::uint8_t protocolVersion = 0;
    std::uint16_t hardwareType = 0;
    char texts[9][32] = {};
};

DeviceInfo ParseDeviceInfo(const Bytes& payload, std::uint8_t size = 32)
{
    CZELCommandSet commands;
    DeviceInfo info;
    for (auto& text : info.texts)
        std::strcpy(text, "old");
    const Bytes packet = CCPUPacket(0x42, 0x4001, payload);
    auto& t = info.texts;
    info.result = commands.ProcessAckGetDeviceInfo(packet.data(), &info.protocolVersion, &info.hardwareType, t[0],
        t[1], t[2], t[3], t[4], t[5], t[6], t[7], t[8], size);
    return info;
}

const Bytes kEightTexts = Join({Text("HW 1.0"), Text("SN42"), Text("V 01.02.03"), Text("E"), Text("C"), Text("K"),
    Text("L"), Text("W")});

} // namespace

TEST(CZELCommandSet, ParsesDeviceInfo)
{
    struct Case
    {
        const char* name;
        Bytes payload;
        std::uint8_t size;
        long result;
        const char* hardwareVersion;
        const char* rcpuVersion;
        const char* wcpuVersion;
    };
    const std::string chars31(31, 'h');
    const std::string chars32(32, 'h');
    const Bytes rest = Join({Text("S"), Text("M"), Text("E"), Text("C"), Text("K"), Text("L"), Text("W")});
    const std::vector<Case> cases = {
        {"protocol 1, eight texts, empty RCPU", Join({{1, 0x03, 0x00}, kEightTexts}), 32, ZEL_STATUS_SUCCESS, "HW 1.0",
         "", "W"},
        {"protocol 2 needs nine texts", Join({{2, 0x03, 0x00}, kEightTexts}), 32, ZEL_STATUS_WRONG_LENGTH, "HW 1.0", "W",
         ""},
        {"protocol 2, nine texts", Join({{2, 0x03, 0x00}, kEightTexts, Text("W2")}), 32, ZEL_STATUS_SUCCESS, "HW 1.0",
         "W", "W2"},
        {"31 characters fit 32 bytes", Join({{1, 0, 0}, Text(chars31), rest}), 32, ZEL_STATUS_SUCCESS, chars31.c_str(),
         "", "W"},
        {"32 characters are cut", Join({{1, 0, 0}, Text(chars32), rest}), 32, ZEL_STATUS_BUFFER_TOO_SMALL,
         chars31.c_str(), "", "W"},
        {"text running past the payload", Join({{1, 0, 0}, Text("HW"), Bytes{'S', 'N'}}), 32,
         ZEL_STATUS_INVALID_PARAMETER, "HW", "", ""},
        {"bytes after the last text", Join({{1, 0, 0}, kEightTexts, {0x00}}), 32, ZEL_STATUS_WRONG_LENGTH, "HW 1.0", "",
         "W"},
        {"buffer of one byte", Join({{1, 0, 0}, kEightTexts}), 1, ZEL_STATUS_INVALID_PARAMETER, "", "", ""},
        {"payload below six bytes", {1, 0, 0, 'A', 0}, 32, ZEL_STATUS_WRONG_LENGTH, "", "", ""},
    };
    for (const Case& c : cases) {
        const DeviceInfo info = ParseDeviceInfo(c.payload, c.size);
        EXPECT_EQ(info.result, c.result) << c.name;
        if (c.size > 1) {
            EXPECT_STREQ(info.texts[0], c.hardwareVersion) << c.name;
            EXPECT_STREQ(info.texts[7], c.rcpuVersion) << c.name;
            EXPECT_STREQ(info.texts[8], c.wcpuVersion) << c.name;
        }
    }
    const DeviceInfo info = ParseDeviceInfo(Join({{1, 0x03, 0x00}, kEightTexts}));
    EXPECT_EQ(info.protocolVersion, 1);
    EXPECT_EQ(info.hardwareType, 3);
    EXPECT_STREQ(info.texts[1], "SN42");
    EXPECT_STREQ(info.texts[2], "V 01.02.03");
}

TEST(CZELCommandSet, ParsesOtherDeviceInfoAnswers)
{
    CZELCommandSet commands;
    std::uint8_t version = 0, channel = 0, region = 0, power = 0;
    std::uint16_t type = 0;
    char a[16], b[16], c[16];

    Bytes packet = CCPUPacket(0x42, 0x4C01, Join({{2, 0x01, 0x30}, Text("R1"), Text("M1"), {5, 2, 9}}));
    EXPECT_EQ(commands.ProcessAckGetRCPUDeviceInfo(packet.data(), &version, &type, a, b, &channel, &region, &power, 16),
        ZEL_STATUS_SUCCESS);
    EXPECT_EQ(type, 0x3001);
    EXPECT_STREQ(b, "M1");
    EXPECT_EQ(channel, 5);
    EXPECT_EQ(power, 9);
    packet = CCPUPacket(0x42, 0x4C01, Join({{2, 0x01, 0x30}, Text("R1"), Text("M1"), {5, 2}}));
    EXPECT_EQ(commands.ProcessAckGetRCPUDeviceInfo(packet.data(), &version, &type, a, b, &channel, &region, &power, 16),
        ZEL_STATUS_WRONG_LENGTH)
        << "power must be the last byte";

    packet = CCPUPacket(0x19, 0x4D01, Join({{1, 7, 0}, Text("H"), Text("S"), Text("C2"), {0x99}}));
    EXPECT_EQ(commands.ProcessAckGetCCPU2DeviceInfo(packet.data(), &version, &type, a, b, c, 16), ZEL_STATUS_SUCCESS)
        << "no end check";
    EXPECT_STREQ(c, "C2");

    packet = CCPUPacket(0x05, 0x4001, Join({{1, 0x10, 0}, Text("V 01.00.00")}));
    EXPECT_EQ(commands.ProcessAckGetVeltrixDeviceInfo(packet.data(), &version, &type, a, 16), ZEL_STATUS_SUCCESS);
    EXPECT_STREQ(a, "V 01.00.00");
    EXPECT_EQ(commands.ProcessAckGetKCPUInfo(packet.data(), &version, &type, a, 8), ZEL_STATUS_BUFFER_TOO_SMALL);
    EXPECT_STREQ(a, "V 01.00");
    packet = CCPUPacket(0x85, 0x4001, Join({{1, 0x10, 0}, Text("V1"), {0}}));
    EXPECT_EQ(commands.ProcessAckGetOmbraDeviceInfo(packet.data(), &version, &type, a, 16), ZEL_STATUS_WRONG_LENGTH);
}

TEST(CZELCommandSet, ParsesFirmwareUpdateAnswers)
{
    CZELCommandSet commands;
    std::uint8_t out[4] = {1, 1, 1, 1};
    Bytes packet = CCPUPacket(0x42, 0x4004, {0, 1, 2});
    EXPECT_EQ(commands.ProcessAckPrepareFirmwareUpdate(packet.data(), &out[0], &out[1], &out[2], &out[3]),
        ZEL_STATUS_WRONG_LENGTH);
    EXPECT_EQ(Bytes(out, out + 4), Bytes(4, 0xFF));
    packet = CCPUPacket(0x42, 0x4004, {0, 1, 2, 3});
    EXPECT_EQ(commands.ProcessAckPrepareFirmwareUpdate(packet.data(), &out[0], &out[1], &out[2], &out[3]),
        ZEL_STATUS_SUCCESS);
    EXPECT_EQ(Bytes(out, out + 4), (Bytes{0, 1, 2, 3}));

    struct Switch
    {
        Bytes payload;
        long result;
        std::uint8_t status;
    };
    for (const Switch& s : {Switch{{}, ZEL_STATUS_WRONG_LENGTH, 0xAA}, Switch{{0}, ZEL_STATUS_SUCCESS, 0},
             Switch{{4, 0}, ZEL_STATUS_WRONG_LENGTH, 4}}) {
        std::uint8_t status = 0xAA;
        packet = CCPUPacket(0x42, 0x4C02, s.payload);
        EXPECT_EQ(commands.ProcessRCPUAckSwitchToBootLoader(packet.data(), &status), s.result);
        EXPECT_EQ(status, s.status);
    }
    EXPECT_EQ(commands.ProcessRCPUNotSwitchToBootLoader(CCPUPacket(0x42, 0x8C07, {}).data()), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(commands.ProcessRCPUNotSwitchToBootLoader(CCPUPacket(0x42, 0x8C07, {1}).data()), ZEL_STATUS_WRONG_LENGTH);

    EXPECT_EQ(commands.ProcessAckSendFirmware(CCPUPacket(0x42, 0x4015, {4}).data()), 4);
    EXPECT_EQ(commands.ProcessAckSendFirmware(CCPUPacket(0x42, 0x4015, {}).data()), ZEL_STATUS_WRONG_LENGTH);

    std::uint8_t count = 0;
    std::uint16_t type = 0;
    char version[33];
    const std::string chars32(32, 'v');
    packet = CCPUPacket(0x42, 0x8013, Join({{2, 0x21, 0x00}, Text(chars32)}));
    EXPECT_EQ(commands.ProcessNotExpander(packet.data(), &count, &type, version), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(std::string(version), chars32);
    EXPECT_EQ(type, 33);
    packet = CCPUPacket(0x42, 0x8013, Join({{2, 0x21, 0x00}, Text(chars32 + "w")}));
    EXPECT_EQ(commands.ProcessNotExpander(packet.data(), &count, &type, version), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(std::string(version), std::string(31, 'v'));
    packet = CCPUPacket(0x42, 0x8013, {2, 0x21, 0x00, 'x'});
    EXPECT_EQ(commands.ProcessNotExpander(packet.data(), &count, &type, version), ZEL_STATUS_INVALID_PARAMETER);
}

TEST(CZELCommandSet, ParsesMCPUAnswers)
{
    CZELCommandSet commands;
    std::uint8_t state = 0;
    char version[16];
    Bytes payload(18, 0);
    payload[3] = 7;
    const std::uint32_t word = 20101 + 20304;
    std::memcpy(&payload[7], &word, 4);
    EXPECT_EQ(commands.ProcessAckBoardInfo(MCPUPacket(0x3E, 0x56, payload).data(), &state, version, 16),
        ZEL_STATUS_SUCCESS);
    EXPECT_STREQ(version, "V 03.03.04");
    EXPECT_EQ(state, 7);
    EXPECT_EQ(commands.ProcessAckBoardInfo(MCPUPacket(0x3E, 0x56, payload).data(), &state, version, 5),
        ZEL_STATUS_BUFFER_TOO_SMALL);
    EXPECT_STREQ(version, "V 03");
    EXPECT_EQ(commands.ProcessAckBoardInfo(MCPUPacket(0x24, 0x56, Bytes(17)).data(), &state, version, 16),
        ZEL_STATUS_WRONG_LENGTH);
    EXPECT_STREQ(version, "");

    const Bytes record1{1, 0x64, 0x00, 0x65, 0x00, 0xCA, 0x01, 9, 9, 9, 9, 9, 9};
    const Bytes record2{2, 0x01, 0x00, 0x02, 0x00, 0x03, 0x00, 0, 0, 0, 0, 0, 0};
    _MCPU_CAN_DRIVER drivers[2];
    std::uint8_t count = 0xEE;
    const Bytes list = MCPUPacket(0x3E, 0x4C, Join({{2}, record1, record2}));
    EXPECT_EQ(commands.ProcessAckModuleList(list.data(), drivers, &count, 2), ZEL_STATUS_SUCCESS)
        << "an array holding every module is enough";
    EXPECT_EQ(count, 2);
    EXPECT_EQ(drivers[0].boardVersion, 100);
    EXPECT_EQ(drivers[0].mainVersion, 458);
    EXPECT_EQ(drivers[1].moduleId, 2);
    count = 0xEE;
    EXPECT_EQ(commands.ProcessAckModuleList(list.data(), drivers, &count, 1), ZEL_STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(count, 0xEE);
    EXPECT_EQ(commands.ProcessAckModuleList(MCPUPacket(0x3E, 0x4C, Join({{2}, record1, {2, 1}})).data(), drivers,
                  &count, 3),
        ZEL_STATUS_WRONG_LENGTH);

    std::int16_t efo[3] = {}, zero[3] = {};
    Bytes params(40, 0);
    params[28] = 0xFF; // packet byte 32
    params[29] = 0xFF;
    params[39] = 0x01; // high byte of packet 42
    EXPECT_EQ(commands.ProcessAckReadParamsExt(MCPUPacket(0x3E, 0x21, params).data(), efo, zero), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(efo[0], -1);
    EXPECT_EQ(zero[2], 256);
    EXPECT_EQ(commands.ProcessAckReadParamsExt(MCPUPacket(0x3E, 0x21, Bytes(39)).data(), efo, zero),
        ZEL_STATUS_WRONG_LENGTH);

    std::uint8_t code = 0;
    std::uint32_t data = 0;
    EXPECT_EQ(commands.ProcessAckError(MCPUPacket(0x3E, 0xFF, {3, 1, 0, 0, 0}).data(), &code, &data),
        ZEL_STATUS_SUCCESS);
    EXPECT_EQ(data, 1U);
    EXPECT_EQ(commands.ProcessAckError(MCPUPacket(0x3E, 0xFF, {3}).data(), &code, &data), ZEL_STATUS_WRONG_LENGTH);

    _MCPU_REALTIME_GROUP groups[3];
    Bytes custom(11, 0);
    custom[2] = 0x05; // packet 6
    custom[4] = 0x77; // packet 8
    custom[10] = 0x66; // packet 14
    EXPECT_EQ(commands.ProcessRealtimeDataCustom(MCPUPacket(0x3E, 0x58, custom).data(), groups), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(groups[0].value, 5);
    EXPECT_EQ(groups[0].flags, 0x77);
    EXPECT_EQ(groups[2].flags, 0x66);
    EXPECT_EQ(commands.ProcessRealtimeDataCustom(MCPUPacket(0x3E, 0x58, Bytes(10)).data(), groups),
        ZEL_STATUS_WRONG_LENGTH);
}

TEST(CZELCommandSet, ParsesStatusControlAndMemory)
{
    CZELCommandSet commands;
    std::uint8_t count = 0, ids[8] = {}, values[16] = {};
    Bytes packet = CCPUPacket(0x42, 0x8002, {0x02, 0x0A, 0x00, 0x1A, 0x01, 0x00, 0x00, 0x00});
    EXPECT_EQ(commands.ProcessNotStatus(packet.data(), &count, ids, 8, values, 16), ZEL_STATUS_SUCCESS);
    ASSERT_EQ(count, 2);
    EXPECT_EQ(ids[0], 2);
    EXPECT_EQ(ids[1], 26);
    EXPECT_EQ(Bytes(values, values + 6), (Bytes{0x0A, 0x00, 0x01, 0x00, 0x00, 0x00}));
    EXPECT_EQ(commands.ProcessNotStatus(packet.data(), &count, ids, 1, values, 16), ZEL_STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(count, 1);
    packet = CCPUPacket(0x42, 0x8002, {0x02, 0x0A, 0x00, 0x1A, 0x01});
    EXPECT_EQ(commands.ProcessNotStatus(packet.data(), &count, ids, 8, values, 16), ZEL_STATUS_WRONG_LENGTH)
        << "a value cut off by the payload end";

    std::uint8_t status = 0, memory = 9, length = 9, data[16];
    std::uint32_t address = 9;
    packet = CCPUPacket(0x42, 0x4006, {3});
    EXPECT_EQ(commands.ProcessAckReadMemory(packet.data(), &status, &memory, &length, &address, data, 16),
        ZEL_STATUS_SUCCESS);
    EXPECT_EQ(status, 3);
    EXPECT_EQ(memory, 0);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(address, 0U);
    packet = CCPUPacket(0x42, 0x4006, {0, 1, 2, 0x00, 0x10, 0x00, 0x08, 0xAB, 0xCD});
    EXPECT_EQ(commands.ProcessAckReadMemory(packet.data(), &status, &memory, &length, &address, data, 16),
        ZEL_STATUS_SUCCESS);
    EXPECT_EQ(address, 0x08001000U);
    EXPECT_EQ(Bytes(data, data + 2), (Bytes{0xAB, 0xCD}));
    EXPECT_EQ(commands.ProcessAckReadMemory(packet.data(), &status, &memory, &length, &address, data, 8),
        ZEL_STATUS_BUFFER_TOO_SMALL);
    packet = CCPUPacket(0x42, 0x4006, {0, 1, 3, 0x00, 0x10, 0x00, 0x08, 0xAB, 0xCD});
    EXPECT_EQ(commands.ProcessAckReadMemory(packet.data(), &status, &memory, &length, &address, data, 16),
        ZEL_STATUS_WRONG_LENGTH);

    std::uint8_t property = 0, value = 0;
    packet = CCPUPacket(0x42, 0x4011, {0, 128, 7, 0x18});
    EXPECT_EQ(commands.ProcessAckControl(packet.data(), &count, &status, &property, &value), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(property, 128);
    EXPECT_EQ(value, 7);
    packet = CCPUPacket(0x42, 0x4011, {0, 128});
    EXPECT_EQ(commands.ProcessAckControl(packet.data(), &count, &status, &property, &value), ZEL_STATUS_WRONG_LENGTH);

    std::uint8_t bytes[4];
    packet = CCPUPacket(0x42, 0x4002, {1, 2, 3, 4, 5});
    EXPECT_EQ(commands.ProcessAckGetStatus(packet.data(), &count, bytes, 4), ZEL_STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(count, 4);
}

TEST(CZELCommandSet, ParsesECPUCalibrationAndSetsTheTwoChannelFlag)
{
    CommandSetProbe commands;
    std::uint8_t status = 0;
    float offset1 = 0, offset2 = 0;
    const float a = 1.5F, b = -2.25F;
    Bytes one{0};
    one.resize(5);
    std::memcpy(&one[1], &a, 4);
    Bytes two = one;
    two.resize(9);
    std::memcpy(&two[5], &b, 4);
    EXPECT_EQ(commands.ProcessAckSetECPUPWMZeroOffset(CCPUPacket(0x42, 0x4B21, two).data(), &status, &offset1, &offset2,
                  8),
        ZEL_STATUS_SUCCESS);
    EXPECT_EQ(commands.TwoChannels(), 1);
    EXPECT_EQ(offset2, b);
    offset2 = 0;
    EXPECT_EQ(commands.ProcessAckSetECPUPWMZeroOffset(CCPUPacket(0x42, 0x4B21, one).data(), &status, &offset1, &offset2,
                  8),
        ZEL_STATUS_SUCCESS);
    EXPECT_EQ(commands.TwoChannels(), 0);
    EXPECT_EQ(offset1, a);
    EXPECT_EQ(offset2, 0);
    EXPECT_EQ(commands.ProcessAckSetECPUPWMZeroOffset(CCPUPacket(0x42, 0x4B21, Bytes(7)).data(), &status, &offset1,
                  &offset2, 8),
        ZEL_STATUS_WRONG_LENGTH);
    EXPECT_EQ(commands.ProcessAckSetECPUPWMZeroOffset(CCPUPacket(0x42, 0x4B21, one).data(), &status, &offset1, &offset2,
                  1),
        ZEL_STATUS_INVALID_PARAMETER);

    _ECPU_PWM_CALIBRATION channel1, channel2;
    Bytes calibration(29, 0);
    calibration[15] = 1;
    std::memcpy(&calibration[25], &b, 4);
    EXPECT_EQ(commands.ProcessAckGetECPUPWMCalibration(CCPUPacket(0x42, 0x4B23, calibration).data(), &status, &channel1,
                  &channel2),
        ZEL_STATUS_SUCCESS);
    EXPECT_EQ(channel2.minMaxCalibrated, 1);
    EXPECT_EQ(channel2.offset, b);
    // Between the two layouts: what the payload holds is read, the rest is not, and the length is wrong.
    EXPECT_EQ(commands.ProcessAckGetECPUPWMCalibration(CCPUPacket(0x42, 0x4B23, Bytes(20)).data(), &status, &channel1,
                  &channel2),
        ZEL_STATUS_WRONG_LENGTH);
    EXPECT_EQ(channel2.offset, b);
}

TEST(CZELCommandSet, ParsesRecordsAndAssignments)
{
    CZELCommandSet commands;
    std::uint16_t type = 0;
    char a[8], b[8];
    Bytes packet = CCPUPacket(0x42, 0x4052, Join({{0x34, 0x12}, Text("HV"), Text("SERIAL12")}));
    EXPECT_EQ(commands.ProcessAckGetHardwareInfo(packet.data(), &type, a, b, 8), ZEL_STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(type, 0x1234);
    EXPECT_STREQ(b, "SERIAL1");
    packet = CCPUPacket(0x42, 0x4054, Join({Text("2024"), Text("me"), {1}}));
    EXPECT_EQ(commands.ProcessAckGetProductionInfo(packet.data(), a, b, 8), ZEL_STATUS_WRONG_LENGTH);
    packet = CCPUPacket(0x42, 0x4054, Join({Text("2024"), Text("me")}));
    EXPECT_EQ(commands.ProcessAckGetProductionInfo(packet.data(), a, b, 8), ZEL_STATUS_SUCCESS);
    EXPECT_STREQ(b, "me");

    std::uint8_t status = 0, profile = 0;
    std::uint16_t values[8] = {};
    std::uint16_t count = 8;
    packet = CCPUPacket(0x42, 0x402E, {0, 4, 1, 0, 2, 0, 3});
    EXPECT_EQ(commands.ProcessAckReadAssignments(packet.data(), &status, &profile, values, &count),
        ZEL_STATUS_WRONG_LENGTH);
    count = 2;
    packet = CCPUPacket(0x42, 0x402E, {0, 4, 1, 0, 2, 0, 3, 0});
    EXPECT_EQ(commands.ProcessAckReadAssignments(packet.data(), &status, &profile, values, &count),
        ZEL_STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(values[1], 2);
    EXPECT_EQ(profile, 4);

    auto records = std::make_unique<_CCPU_PROFILE>();
    std::uint8_t page = 0;
    Bytes assignmentPage{0, 1, 9};
    for (int i = 0; i < 61; ++i) {
        assignmentPage.push_back(static_cast<std::uint8_t>(i + 1));
        assignmentPage.push_back(0);
    }
    packet = CCPUPacket(0x42, 0x402C, assignmentPage);
    EXPECT_EQ(commands.ProcessAckReadProfile(packet.data(), &status, &profile, &page, records.get()), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(page, 9);
    EXPECT_EQ(records->assignments.values[60], 0);
    EXPECT_EQ(records->assignments.values[61], 1);
    EXPECT_EQ(records->assignments.values[121], 61);
    EXPECT_EQ(records->assignments.values[122], 0);

    // Page 12 would reach index 304; only up to 253 is written.
    assignmentPage[2] = 12;
    packet = CCPUPacket(0x42, 0x402C, assignmentPage);
    EXPECT_EQ(commands.ProcessAckReadProfile(packet.data(), &status, &profile, &page, records.get()), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(records->assignments.values[253], 10);

    Bytes axisPage(125, 0);
    axisPage[2] = 2; // tilt
    axisPage[26 - 7] = 0x10; // P
    axisPage[124 - 7] = 0x00; // end stop max 0x4000
    axisPage[125 - 7] = 0x40;
    packet = CCPUPacket(0x42, 0x402C, axisPage);
    EXPECT_EQ(commands.ProcessAckReadProfile(packet.data(), &status, &profile, &page, records.get()), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(records->axes[1].p, 0x10);
    EXPECT_EQ(records->axes[1].endStopMax, 0x4000);
    axisPage.resize(100);
    packet = CCPUPacket(0x42, 0x402C, axisPage);
    EXPECT_EQ(commands.ProcessAckReadProfile(packet.data(), &status, &profile, &page, records.get()),
        ZEL_STATUS_WRONG_LENGTH)
        << "a page cut short";
    packet = CCPUPacket(0x42, 0x402C, {5, 1, 2});
    EXPECT_EQ(commands.ProcessAckReadProfile(packet.data(), &status, &profile, &page, records.get()), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(status, 5);
    EXPECT_EQ(page, 0);
}

TEST(CZELCommandSet, ParsesRadioBoxAndDebugNotifications)
{
    CZELCommandSet commands;
    std::uint16_t type = 0;
    std::uint8_t link = 0, mode = 0, region = 0, channel = 0, power = 0, saving = 0, strategy = 0;
    std::int8_t strength = 0;
    Bytes packet = CCPUPacket(0x42, 0x8C02, {0x02, 0x30, 1, 2, 3, 4, 5, 6, 0xF6});
    EXPECT_EQ(commands.ProcessRCPUNotStatus(packet.data(), &type, &link, &mode, &region, &channel, &power, &saving,
                  &strategy, &strength),
        ZEL_STATUS_SUCCESS);
    EXPECT_EQ(power, 4);
    EXPECT_EQ(strength, -10);
    packet = CCPUPacket(0x42, 0x8C02, {0x01, 0x30, 1, 2, 3, 4, 5, 6, 0xF6});
    EXPECT_EQ(commands.ProcessRCPUNotStatus(packet.data(), &type, &link, &mode, &region, &channel, &power, &saving,
                  &strategy, &strength),
        ZEL_STATUS_WRONG_LENGTH);

    std::int16_t s[6];
    std::uint16_t u[4];
    Bytes values(20, 0);
    values[0] = 0xFE;
    values[1] = 0xFF;
    values[18] = 7;
    packet = CCPUPacket(0x05, 0x80FF, values);
    EXPECT_EQ(commands.ProcessVeltrixNotCurrentValues(packet.data(), &s[0], &s[1], &s[2], &s[3], &s[4], &s[5], &u[0],
                  &u[1], &u[2], &u[3]),
        ZEL_STATUS_SUCCESS);
    EXPECT_EQ(s[0], -2);
    EXPECT_EQ(u[3], 7);

    std::uint16_t source = 0;
    std::uint8_t priority = 0;
    char text[6];
    packet = CCPUPacket(0x42, 0xBFFF, Join({{0x01, 0x02, 3}, Text("hello world")}));
    EXPECT_EQ(commands.ProcessNotDebug(packet.data(), &source, &priority, text, 6), ZEL_STATUS_BUFFER_TOO_SMALL);
    EXPECT_STREQ(text, "hello");
    EXPECT_EQ(source, 0x0201);

    std::uint16_t trace[2];
    std::uint16_t traceCount = 0;
    packet = CCPUPacket(0x42, 0xBFFE, {1, 0, 2, 0, 3, 0});
    EXPECT_EQ(commands.ProcessNotTrace(packet.data(), &traceCount, trace, 2), ZEL_STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(traceCount, 3);

    std::uint8_t carried[8];
    const Bytes inner = MCPUPacket(0x3E, 0x43, {0x51});
    packet = CCPUPacket(0x42, 0x801F, inner);
    EXPECT_EQ(commands.ProcessNotMCPU(packet.data(), carried, 8), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(Bytes(carried, carried + inner.size()), inner);
    EXPECT_EQ(commands.ProcessNotMCPU(packet.data(), carried, 5), ZEL_STATUS_BUFFER_TOO_SMALL);
}
