// Every request that has an answer: built and checksummed, framed back whole; its answer framed out of a
// noisy stream and parsed.
#include "zel/commands/CZELCommandSet.h"
#include "zel/foundation/ZELStatus.h"
#include "zel/serial/CZELPacketFramer.h"

#include "support/ZELTestPackets.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

using ZELTest::Bytes;
using ZELTest::CCPUPacket;
using ZELTest::Join;
using ZELTest::MCPUPacket;
using ZELTest::Text;

namespace {

struct Exchange
{
    const char* name;
    std::uint16_t protocol;
    std::function<std::uint16_t(CZELCommandSet&, std::uint8_t*)> build;
    std::function<Bytes()> answer;
    std::function<void(CZELCommandSet&, const std::uint8_t*)> check; // parses and asserts
};

std::uint8_t Delimiter(std::uint16_t protocol)
{
    return static_cast<std::uint8_t>(ZELStartByteOfProtocol(protocol));
}

// A CCPU answer from the target the protocol talks to.
std::function<Bytes()> Ack(std::uint16_t protocol, std::uint16_t id, Bytes payload)
{
    return [=] { return CCPUPacket(Delimiter(protocol), id, payload); };
}

std::function<Bytes()> McpuAck(std::uint16_t protocol, std::uint8_t id, Bytes payload)
{
    return [=] { return MCPUPacket(Delimiter(protocol), id, payload); };
}

std::vector<Bytes> Frame(std::uint16_t protocol, const Bytes& stream)
{
    std::vector<Bytes> packets;
    CZELPacketFramer framer([&](const std::uint8_t* p, std::size_t n) { packets.emplace_back(p, p + n); });
    EXPECT_EQ(framer.SetProtocol(protocol), ZEL_STATUS_SUCCESS);
    framer.Receive(stream.data(), stream.size(), CZELPacketFramer::Clock::now());
    return packets;
}

Bytes FloatBytes(float value)
{
    Bytes bytes(4);
    std::memcpy(bytes.data(), &value, 4);
    return bytes;
}

constexpr std::uint16_t kMain = 0x1800;
constexpr std::uint16_t kMcpu = 0x4800;
constexpr std::uint16_t kMcpuCrc = 0x4801;

std::vector<Exchange> Exchanges()
{
    const Bytes info = Join({{2, 0x03, 0x00}, Text("HW"), Text("SN"), Text("M"), Text("E"), Text("C"), Text("K"),
        Text("L"), Text("R"), Text("W")});
    const auto oneVersion = [](std::uint16_t protocol, std::uint16_t id) {
        return Ack(protocol, id, Join({{1, 0x10, 0x00}, Text("V 02.00.01")}));
    };
    const auto expectVersion = [](long result, const char* version) {
        EXPECT_EQ(result, ZEL_STATUS_SUCCESS);
        EXPECT_STREQ(version, "V 02.00.01");
    };
    const auto statusAck = [](std::uint16_t protocol, std::uint16_t id) { return Ack(protocol, id, {0}); };
    const auto expectStatus = [](long result, const std::uint8_t& status) {
        EXPECT_EQ(result, ZEL_STATUS_SUCCESS);
        EXPECT_EQ(status, 0);
    };
    return {
        {"device information", kMain, [](auto& c, auto* b) { return c.PrepareReqGetDeviceInfo(b); }, Ack(kMain, 0x4001, info),
         [](auto& c, auto* p) {
             std::uint8_t version = 0;
             std::uint16_t type = 0;
             char s[9][16];
             EXPECT_EQ(c.ProcessAckGetDeviceInfo(p, &version, &type, s[0], s[1], s[2], s[3], s[4], s[5], s[6], s[7],
                           s[8], 16),
                 ZEL_STATUS_SUCCESS);
             EXPECT_STREQ(s[7], "R");
             EXPECT_STREQ(s[8], "W");
         }},
        {"CCPU2 information", 0x1880, [](auto& c, auto* b) { return c.PrepareReqGetCCPU2DeviceInfo(b); },
         Ack(0x1880, 0x4D01, Join({{1, 0x20, 0}, Text("H"), Text("S"), Text("C")})), [](auto& c, auto* p) {
             std::uint8_t version = 0;
             std::uint16_t type = 0;
             char s[3][8];
             EXPECT_EQ(c.ProcessAckGetCCPU2DeviceInfo(p, &version, &type, s[0], s[1], s[2], 8), ZEL_STATUS_SUCCESS);
             EXPECT_EQ(type, 0x20);
         }},
        {"RCPU information", kMain, [](auto& c, auto* b) { return c.PrepareReqGetRCPUDeviceInfo(b); },
         Ack(kMain, 0x4C01, Join({{1, 0x02, 0x30}, Text("R"), Text("M"), {1, 2, 3}})), [](auto& c, auto* p) {
             std::uint8_t version = 0, channel = 0, region = 0, power = 0;
             std::uint16_t type = 0;
             char s[2][8];
             EXPECT_EQ(c.ProcessAckGetRCPUDeviceInfo(p, &version, &type, s[0], s[1], &channel, &region, &power, 8),
                 ZEL_STATUS_SUCCESS);
             EXPECT_EQ(region, 2);
         }},
        {"Veltrix information", 4, [](auto& c, auto* b) { return c.PrepareReqGetVeltrixDeviceInfo(b); },
         oneVersion(4, 0x4001), [=](auto& c, auto* p) {
             char s[16];
             expectVersion(c.ProcessAckGetVeltrixDeviceInfo(p, nullptr, nullptr, s, 16), s);
         }},
        {"Ombra information", 5, [](auto& c, auto* b) { return c.PrepareReqGetOmbraDeviceInfo(b); }, oneVersion(5, 0x4001),
         [=](auto& c, auto* p) {
             char s[16];
             expectVersion(c.ProcessAckGetOmbraDeviceInfo(p, nullptr, nullptr, s, 16), s);
         }},
        {"ECPU information", kMain, [](auto& c, auto* b) { return c.PrepareReqGetECPUInfo(b); },
         oneVersion(kMain, 0x4B01), [=](auto& c, auto* p) {
             char s[16];
             expectVersion(c.ProcessAckGetECPUInfo(p, nullptr, nullptr, s, 16), s);
         }},
        {"KCPU information", kMain, [](auto& c, auto* b) { return c.PrepareReqGetKCPUInfo(b); },
         oneVersion(kMain, 0x4A01), [=](auto& c, auto* p) {
             char s[16];
             expectVersion(c.ProcessAckGetKCPUInfo(p, nullptr, nullptr, s, 16), s);
         }},
        {"prepare firmware update", kMain, [](auto& c, auto* b) { return c.PrepareReqPrepareFirmwareUpdate(b); },
         Ack(kMain, 0x4004, {0, 1, 0, 1}), [](auto& c, auto* p) {
             std::uint8_t o[4];
             EXPECT_EQ(c.ProcessAckPrepareFirmwareUpdate(p, &o[0], &o[1], &o[2], &o[3]), ZEL_STATUS_SUCCESS);
             EXPECT_EQ(o[3], 1);
         }},
        {"expanders", kMain, [](auto& c, auto* b) { return c.PrepareReqGetExpanders(b); }, Ack(kMain, 0x4013, {3}),
         [](auto& c, auto* p) {
             std::uint8_t count = 0;
             EXPECT_EQ(c.ProcessAckGetExpanders(p, &count), ZEL_STATUS_SUCCESS);
             EXPECT_EQ(count, 3);
         }},
        {"update expander", kMain, [](auto& c, auto* b) { return c.PrepareReqUpdateExpander(b, 33); }, Ack(kMain, 0x4014, {}),
         [](auto& c, auto* p) { EXPECT_EQ(c.ProcessAckUpdateExpander(p), ZEL_STATUS_SUCCESS); }},
        {"send firmware", kMain, [](auto& c, auto* b) {
             const Bytes block(130, 0x42); // start bytes inside the payload must not confuse the framer
             return c.PrepareReqSendFirmware(b, 0x08000000, 130, block.data());
         },
         Ack(kMain, 0x4015, {0}), [](auto& c, auto* p) {
             std::uint8_t status = 9;
             EXPECT_EQ(c.ProcessAckSendFirmware(p, &status), ZEL_STATUS_SUCCESS);
             EXPECT_EQ(status, 0);
             EXPECT_EQ(c.ProcessAckSendFirmware(p), 0);
         }},
        {"MCPU mode", kMain, [](auto& c, auto* b) { return c.PrepareReqSetMCPUMode(b, 2); }, Ack(kMain, 0x401F, {0, 2}),
         [](auto& c, auto* p) {
             std::uint8_t status = 9, mode = 0;
             EXPECT_EQ(c.ProcessAckSetMCPUMode(p, &status, &mode), ZEL_STATUS_SUCCESS);
             EXPECT_EQ(mode, 2);
         }},
        {"RCPU bootloader", kMain, [](auto& c, auto* b) { return c.PrepareReqUpdateRCPU(b); }, statusAck(kMain, 0x4C02),
         [=](auto& c, auto* p) {
             std::uint8_t status = 9;
             expectStatus(c.ProcessRCPUAckSwitchToBootLoader(p, &status), status);
         }},
        {"CCPU2 bootloader", 0x1880, [](auto& c, auto* b) { return c.PrepareReqUpdateCCPU2(b); },
         statusAck(0x1880, 0x4D02), [=](auto& c, auto* p) {
             std::uint8_t status = 9;
             expectStatus(c.ProcessCCPU2AckSwitchToBootLoader(p, &status), status);
         }},
        {"Veltrix bootloader", 4, [](auto& c, auto* b) { return c.PrepareReqUpdateVeltrix(b); }, statusAck(4, 0x4002),
         [=](auto& c, auto* p) {
             std::uint8_t status = 9;
             expectStatus(c.ProcessVeltrixAckSwitchToBootLoader(p, &status), status);
         }},
        {"Ombra bootloader", 5, [](auto& c, auto* b) { return c.PrepareReqUpdateOmbraBox(b); }, statusAck(5, 0x4002),
         [=](auto& c, auto* p) {
             std::uint8_t status = 9;
             expectStatus(c.ProcessOmbraAckSwitchToBootLoader(p, &status), status);
         }},
        {"dump settings", kMain, [](auto& c, auto* b) { return c.PrepareReqDumpSettings(b); }, statusAck(kMain, 0x4003),
         [=](auto& c, auto* p) {
             std::uint8_t status = 9;
             expectStatus(c.ProcessAckDumpSettings(p, &status), status);
         }},
        {"status", kMain, [](auto& c, auto* b) {
             const std::uint8_t ids[] = {2};
             const std::uint8_t rates[] = {1};
             return c.PrepareReqGetStatus(b, 1, ids, rates);
         },
         Ack(kMain, 0x4002, {0, 2}), [](auto& c, auto* p) {
             std::uint8_t count = 0, bytes[8];
             EXPECT_EQ(c.ProcessAckGetStatus(p, &count, bytes, 8), ZEL_STATUS_SUCCESS);
             EXPECT_EQ(count, 2);
         }},
        {"control", kMain, [](auto& c, auto* b) {
             const std::uint8_t ids[] = {128};
             const std::uint8_t values[] = {0x00, 0x18};
             return c.PrepareReqControl(b, 1, ids, values);
         },
         Ack(kMain, 0x4011, {0, 128, 7, 0}), [](auto& c, auto* p) {
             std::uint8_t count = 0, status = 9, property = 0, value = 0;
             EXPECT_EQ(c.ProcessAckControl(p, &count, &status, &property, &value), ZEL_STATUS_SUCCESS);
             EXPECT_EQ(value, 7);
         }},
        {"RCPU control", kMain, [](auto& c, auto* b) {
             const std::uint8_t ids[] = {1};
             const std::uint8_t values[] = {3};
             return c.PrepareRCPUReqControl(b, 1, ids, values);
         },
         Ack(kMain, 0x4C11, {0, 1, 3}), [](auto& c, auto* p) {
             std::uint8_t count = 0, bytes[8];
             EXPECT_EQ(c.ProcessRCPUAckControl(p, &count, bytes, 8), ZEL_STATUS_SUCCESS);
             EXPECT_EQ(count, 3);
         }},
        {"read memory", kMain, [](auto& c, auto* b) { return c.PrepareReqReadMemory(b, 1, 2, 0x100); },
         Ack(kMain, 0x4006, {0, 1, 2, 0x00, 0x01, 0, 0, 0xAA, 0xBB}), [](auto& c, auto* p) {
             std::uint8_t status = 9, memory = 0, length = 0, data[16];
             std::uint32_t address = 0;
             EXPECT_EQ(c.ProcessAckReadMemory(p, &status, &memory, &length, &address, data, 16), ZEL_STATUS_SUCCESS);
             EXPECT_EQ(data[1], 0xBB);
         }},
        {"read profile", kMain, [](auto& c, auto* b) { return c.PrepareReqReadProfile(b, 1, 0); },
         Ack(kMain, 0x402C, [] {
             Bytes page(125, 0);
             page[1] = 1;
             page[48 - 7] = 0x34; // follow deadband
             page[49 - 7] = 0x12;
             return page;
         }()),
         [](auto& c, auto* p) {
             auto records = std::make_unique<_CCPU_PROFILE>();
             std::uint8_t status = 9, profile = 0, page = 9;
             EXPECT_EQ(c.ProcessAckReadProfile(p, &status, &profile, &page, records.get()), ZEL_STATUS_SUCCESS);
             EXPECT_EQ(records->settings.followDeadband, 0x1234);
         }},
        {"read assignments", kMain, [](auto& c, auto* b) { return c.PrepareReqReadAssignments(b, 1); },
         Ack(kMain, 0x402E, {0, 1, 5, 0, 6, 0}), [](auto& c, auto* p) {
             std::uint8_t status = 9, profile = 0;
             std::uint16_t values[4], count = 4;
             EXPECT_EQ(c.ProcessAckReadAssignments(p, &status, &profile, values, &count), ZEL_STATUS_SUCCESS);
             EXPECT_EQ(count, 2);
             EXPECT_EQ(values[1], 6);
         }},
        {"set hardware", kMain, [](auto& c, auto* b) { return c.PrepareReqSetHardwareInfo(b, 1, "A", "B"); },
         statusAck(kMain, 0x4051), [=](auto& c, auto* p) {
             std::uint8_t status = 9;
             expectStatus(c.ProcessAckSetHardwareInfo(p, &status), status);
         }},
        {"set CCPU2 hardware", 0x1880, [](auto& c, auto* b) { return c.PrepareReqSetCCPU2HardwareInfo(b, 1, "A", "B"); },
         statusAck(0x1880, 0x4D51), [=](auto& c, auto* p) {
             std::uint8_t status = 9;
             expectStatus(c.ProcessAckSetCCPU2HardwareInfo(p, &status), status);
         }},
        {"set ECPU hardware", kMain, [](auto& c, auto* b) { return c.PrepareReqSetECPUHardwareInfo(b, 1, "A", "B"); },
         statusAck(kMain, 0x4B51), [=](auto& c, auto* p) {
             std::uint8_t status = 9;
             expectStatus(c.ProcessAckSetECPUHardwareInfo(p, &status), status);
         }},
        {"set RCPU hardware", kMain, [](auto& c, auto* b) { return c.PrepareReqSetRCPUHardwareInfo(b, 1, "A", "B"); },
         statusAck(kMain, 0x4C51), [=](auto& c, auto* p) {
             std::uint8_t status = 9;
             expectStatus(c.ProcessAckSetRCPUHardwareInfo(p, &status), status);
         }},
        {"get hardware", kMain, [](auto& c, auto* b) { return c.PrepareReqGetHardwareInfo(b); },
         Ack(kMain, 0x4052, Join({{1, 0}, Text("HV"), Text("SN")})), [](auto& c, auto* p) {
             std::uint16_t type = 0;
             char a[8], b[8];
             EXPECT_EQ(c.ProcessAckGetHardwareInfo(p, &type, a, b, 8), ZEL_STATUS_SUCCESS);
             EXPECT_STREQ(b, "SN");
         }},
        {"get CCPU2 hardware", 0x1880, [](auto& c, auto* b) { return c.PrepareReqGetCCPU2HardwareInfo(b); },
         Ack(0x1880, 0x4D52, Join({{1, 0}, Text("HV"), Text("SN")})), [](auto& c, auto* p) {
             char a[8], b[8];
             EXPECT_EQ(c.ProcessAckGetCCPU2HardwareInfo(p, nullptr, a, b, 8), ZEL_STATUS_SUCCESS);
         }},
        {"get ECPU hardware", kMain, [](auto& c, auto* b) { return c.PrepareReqGetECPUHardwareInfo(b); },
         Ack(kMain, 0x4B52, Join({{1, 0}, Text("HV"), Text("SN")})), [](auto& c, auto* p) {
             char a[8], b[8];
             EXPECT_EQ(c.ProcessAckGetECPUHardwareInfo(p, nullptr, a, b, 8), ZEL_STATUS_SUCCESS);
         }},
        {"get RCPU hardware", kMain, [](auto& c, auto* b) { return c.PrepareReqGetRCPUHardwareInfo(b); },
         Ack(kMain, 0x4C52, Join({{1, 0x30}, Text("HV"), Text("SN")})), [](auto& c, auto* p) {
             std::uint16_t type = 0;
             char a[8], b[8];
             EXPECT_EQ(c.ProcessAckGetRCPUHardwareInfo(p, &type, a, b, 8), ZEL_STATUS_SUCCESS);
             EXPECT_EQ(type, 0x3001);
         }},
        {"set production", kMain, [](auto& c, auto* b) { return c.PrepareReqSetProductionInfo(b, "D", "U"); },
         statusAck(kMain, 0x4053), [=](auto& c, auto* p) {
             std::uint8_t status = 9;
             expectStatus(c.ProcessAckSetProductionInfo(p, &status), status);
         }},
        {"set CCPU2 production", 0x1880, [](auto& c, auto* b) { return c.PrepareReqSetCCPU2ProductionInfo(b, "D", "U"); },
         statusAck(0x1880, 0x4D53), [=](auto& c, auto* p) {
             std::uint8_t status = 9;
             expectStatus(c.ProcessAckSetCCPU2ProductionInfo(p, &status), status);
         }},
        {"set ECPU production", kMain, [](auto& c, auto* b) { return c.PrepareReqSetECPUProductionInfo(b, "D", "U"); },
         statusAck(kMain, 0x4B53), [=](auto& c, auto* p) {
             std::uint8_t status = 9;
             expectStatus(c.ProcessAckSetECPUProductionInfo(p, &status), status);
         }},
        {"set RCPU production", kMain, [](auto& c, auto* b) { return c.PrepareReqSetRCPUProductionInfo(b, "D", "U"); },
         statusAck(kMain, 0x4C53), [=](auto& c, auto* p) {
             std::uint8_t status = 9;
             expectStatus(c.ProcessAckSetRCPUProductionInfo(p, &status), status);
         }},
        {"get production", kMain, [](auto& c, auto* b) { return c.PrepareReqGetProductionInfo(b); },
         Ack(kMain, 0x4054, Join({Text("2024-01-02"), Text("QA")})), [](auto& c, auto* p) {
             char a[16], b[16];
             EXPECT_EQ(c.ProcessAckGetProductionInfo(p, a, b, 16), ZEL_STATUS_SUCCESS);
             EXPECT_STREQ(a, "2024-01-02");
         }},
        {"get CCPU2 production", 0x1880, [](auto& c, auto* b) { return c.PrepareReqGetCCPU2ProductionInfo(b); },
         Ack(0x1880, 0x4D54, Join({Text("D"), Text("U")})), [](auto& c, auto* p) {
             char a[4], b[4];
             EXPECT_EQ(c.ProcessAckGetCCPU2ProductionInfo(p, a, b, 4), ZEL_STATUS_SUCCESS);
         }},
        {"get ECPU production", kMain, [](auto& c, auto* b) { return c.PrepareReqGetECPUProductionInfo(b); },
         Ack(kMain, 0x4B54, Join({Text("D"), Text("U")})), [](auto& c, auto* p) {
             char a[4], b[4];
             EXPECT_EQ(c.ProcessAckGetECPUProductionInfo(p, a, b, 4), ZEL_STATUS_SUCCESS);
         }},
        {"get RCPU production", kMain, [](auto& c, auto* b) { return c.PrepareReqGetRCPUProductionInfo(b); },
         Ack(kMain, 0x4C54, Join({Text("D"), Text("U")})), [](auto& c, auto* p) {
             char a[4], b[4];
             EXPECT_EQ(c.ProcessAckGetRCPUProductionInfo(p, a, b, 4), ZEL_STATUS_SUCCESS);
         }},
        {"set modem configuration", kMain, [](auto& c, auto* b) { return c.PrepareReqSetRCPUModemConfig(b, 1, 2, 3); },
         statusAck(kMain, 0x4C15), [=](auto& c, auto* p) {
             std::uint8_t status = 9;
             expectStatus(c.ProcessAckSetRCPUModemConfig(p, &status), status);
         }},
        {"get modem configuration", kMain, [](auto& c, auto* b) { return c.PrepareReqGetRCPUModemConfig(b); },
         Ack(kMain, 0x4C16, {1, 2, 0x78, 0x56, 0x34, 0x12}), [](auto& c, auto* p) {
             std::uint8_t mode = 0, power = 0;
             std::uint32_t link = 0;
             EXPECT_EQ(c.ProcessAckGetRCPUModemConfig(p, &mode, &power, &link), ZEL_STATUS_SUCCESS);
             EXPECT_EQ(link, 0x12345678U);
         }},
        {"set region", kMain, [](auto& c, auto* b) { return c.PrepareReqSetRCPURegion(b, 2); }, statusAck(kMain, 0x4C55),
         [=](auto& c, auto* p) {
             std::uint8_t status = 9;
             expectStatus(c.ProcessAckSetRCPURegion(p, &status), status);
         }},
        {"get region", kMain, [](auto& c, auto* b) { return c.PrepareReqGetRCPURegion(b); }, Ack(kMain, 0x4C56, {2}),
         [](auto& c, auto* p) {
             std::uint8_t region = 0;
             EXPECT_EQ(c.ProcessAckGetRCPURegion(p, &region), ZEL_STATUS_SUCCESS);
             EXPECT_EQ(region, 2);
         }},
        {"PWM zero offset", kMain, [](auto& c, auto* b) { return c.PrepareReqSetECPUPWMZeroOffset(b); },
         Ack(kMain, 0x4B21, Join({{0}, FloatBytes(0.5F)})), [](auto& c, auto* p) {
             std::uint8_t status = 9;
             float offset1 = 0, offset2 = 0;
             EXPECT_EQ(c.ProcessAckSetECPUPWMZeroOffset(p, &status, &offset1, &offset2, 8), ZEL_STATUS_SUCCESS);
             EXPECT_EQ(offset1, 0.5F);
         }},
        {"PWM min/max", kMain, [](auto& c, auto* b) { return c.PrepareReqSetECPUPWMMinMax(b); },
         Ack(kMain, 0x4B22, Join({{0}, FloatBytes(0.1F), FloatBytes(0.9F)})), [](auto& c, auto* p) {
             std::uint8_t status = 9;
             float v[4] = {};
             EXPECT_EQ(c.ProcessAckSetECPUPWMMinMax(p, &status, &v[0], &v[1], &v[2], &v[3], 8), ZEL_STATUS_SUCCESS);
             EXPECT_EQ(v[1], 0.9F);
         }},
        {"PWM calibration", kMain, [](auto& c, auto* b) { return c.PrepareReqGetECPUPWMCalibration(b); },
         Ack(kMain, 0x4B23, Join({{0, 1, 1}, FloatBytes(0.1F), FloatBytes(0.9F), FloatBytes(0.5F)})),
         [](auto& c, auto* p) {
             std::uint8_t status = 9;
             _ECPU_PWM_CALIBRATION channel1, channel2;
             EXPECT_EQ(c.ProcessAckGetECPUPWMCalibration(p, &status, &channel1, &channel2), ZEL_STATUS_SUCCESS);
             EXPECT_EQ(channel1.offset, 0.5F);
         }},
        {"encoder min/max", kMain, [](auto& c, auto* b) { return c.PrepareReqSetECPUEncoderMinMax(b); },
         Ack(kMain, 0x4B24, {0, 1, 0, 0, 0, 2, 0, 0, 0}), [](auto& c, auto* p) {
             std::uint8_t status = 9;
             std::uint32_t min = 0, max = 0;
             EXPECT_EQ(c.ProcessAckSetECPUEncoderMinMax(p, &status, &min, &max, 8), ZEL_STATUS_SUCCESS);
             EXPECT_EQ(max, 2U);
         }},
        {"encoder calibration", kMain, [](auto& c, auto* b) { return c.PrepareReqGetECPUEncoderCalibration(b); },
         Ack(kMain, 0x4B25, {0, 1, 1, 0, 0, 0, 2, 0, 0, 0}), [](auto& c, auto* p) {
             std::uint8_t status = 9, calibrated = 0;
             std::uint32_t min = 0, max = 0;
             EXPECT_EQ(c.ProcessAckGetECPUEncoderCalibration(p, &status, &calibrated, &min, &max, 8), ZEL_STATUS_SUCCESS);
             EXPECT_EQ(calibrated, 1);
         }},
        {"board information", kMcpu, [](auto& c, auto* b) { return c.PrepareReqBoardInfo(b); },
         McpuAck(kMcpu, 0x56, [] {
             Bytes payload(18, 0);
             const std::uint32_t word = 20101 + 10203;
             std::memcpy(&payload[7], &word, 4);
             return payload;
         }()),
         [](auto& c, auto* p) {
             std::uint8_t state = 0;
             char version[16];
             EXPECT_EQ(c.ProcessAckBoardInfo(p, &state, version, 16), ZEL_STATUS_SUCCESS);
             EXPECT_STREQ(version, "V 02.02.03");
         }},
        {"module list", kMcpuCrc, [](auto& c, auto* b) { return c.PrepareReqModuleList(b); },
         McpuAck(kMcpuCrc, 0x4C, {1, 4, 1, 0, 2, 0, 3, 0, 0, 0, 0, 0, 0, 0}), [](auto& c, auto* p) {
             _MCPU_CAN_DRIVER drivers[3];
             std::uint8_t count = 0;
             EXPECT_EQ(c.ProcessAckModuleList(p, drivers, &count, 3), ZEL_STATUS_SUCCESS);
             EXPECT_EQ(count, 1);
             EXPECT_EQ(drivers[0].mainVersion, 3);
         }},
        {"flash start", kMcpuCrc, [](auto& c, auto* b) { return c.PrepareReqModuleFlashStart(b, 1, 4096); },
         McpuAck(kMcpuCrc, 0x43, {0x4E}), [](auto& c, auto* p) {
             std::uint8_t id = 0;
             EXPECT_EQ(c.ProcessAckConfirm(p, &id), ZEL_STATUS_SUCCESS);
             EXPECT_EQ(id, 0x4E);
         }},
        {"flash write", kMcpuCrc, [](auto& c, auto* b) {
             const Bytes piece(128, 0x24);
             return c.PrepareReqModuleFlashWrite(b, 1, 0, 0, 0x12345678, piece.data(), 128);
         },
         McpuAck(kMcpuCrc, 0x43, {0x51, 0}), [](auto& c, auto* p) {
             std::uint8_t id = 0;
             EXPECT_EQ(c.ProcessAckConfirm(p, &id), ZEL_STATUS_SUCCESS);
             EXPECT_EQ(id, 0x51);
         }},
        {"flash finish", kMcpu, [](auto& c, auto* b) { return c.PrepareReqModuleFlashFinish(b, 1, 0xCAFEBABE); },
         McpuAck(kMcpu, 0x43, {0x53}), [](auto& c, auto* p) {
             std::uint8_t id = 0;
             EXPECT_EQ(c.ProcessAckConfirm(p, &id), ZEL_STATUS_SUCCESS);
             EXPECT_EQ(id, 0x53);
         }},
        {"flash refused", kMcpu, [](auto& c, auto* b) { return c.PrepareReqModuleFlashFinish(b, 1, 0); },
         McpuAck(kMcpu, 0xFF, {2, 0x53, 0, 0, 0}), [](auto& c, auto* p) {
             std::uint8_t code = 0;
             std::uint32_t data = 0;
             EXPECT_EQ(c.ProcessAckError(p, &code, &data), ZEL_STATUS_SUCCESS);
             EXPECT_EQ(data, 0x53U);
         }},
        {"reset", kMcpu, [](auto& c, auto* b) { return c.PrepareReqReset(b); }, McpuAck(kMcpu, 0x72, {}),
         [](auto& c, auto* p) { EXPECT_EQ(c.ProcessAckReset(p), ZEL_STATUS_SUCCESS); }},
        {"read parameters", kMcpu, [](auto& c, auto* b) { return c.PrepareReqReadParamsExt(b); },
         McpuAck(kMcpu, 0x21, Bytes(40, 0)), [](auto& c, auto* p) {
             std::int16_t efo[3], zero[3];
             EXPECT_EQ(c.ProcessAckReadParamsExt(p, efo, zero), ZEL_STATUS_SUCCESS);
         }},
        {"real-time data", kMcpu, [](auto& c, auto* b) { return c.PrepareReqRealTimeData3(b); },
         McpuAck(kMcpu, 0x17, [] {
             Bytes payload(63, 0);
             payload[61 - 4] = 9;
             return payload;
         }()),
         [](auto& c, auto* p) {
             _MCPU_REALTIME_DATA3 data;
             EXPECT_EQ(c.ProcessRealtimeData3(p, &data), ZEL_STATUS_SUCCESS);
             EXPECT_EQ(data.byte61, 9);
         }},
        {"custom real-time data", kMcpu, [](auto& c, auto* b) { return c.PrepareReqRealTimeDataCustom(b, 10, 1); },
         McpuAck(kMcpu, 0x43, {0x55}), [](auto& c, auto* p) {
             std::uint8_t id = 0;
             EXPECT_EQ(c.ProcessAckConfirm(p, &id), ZEL_STATUS_SUCCESS);
             EXPECT_EQ(id, 0x55);
         }},
        {"debug variables", kMcpu, [](auto& c, auto* b) { return c.PrepareReqDebugVars3(b); },
         McpuAck(kMcpu, 0xFE, [] {
             Bytes payload(29, 0);
             payload[20 - 4] = 0x05;
             return payload;
         }()),
         [](auto& c, auto* p) {
             std::int16_t values[3];
             EXPECT_EQ(c.ProcessDebugVars3(p, values), ZEL_STATUS_SUCCESS);
             EXPECT_EQ(values[2], 5);
         }},
    };
}

} // namespace

TEST(CZELCommandSet, RoundTripsEveryRequestThatHasAnAnswer)
{
    for (const Exchange& exchange : Exchanges()) {
        SCOPED_TRACE(exchange.name);
        CZELCommandSet commands;
        ASSERT_EQ(commands.SetProtocol(exchange.protocol), ZEL_STATUS_SUCCESS);
        Bytes request(1100);
        const std::uint16_t length = exchange.build(commands, request.data());
        ASSERT_GT(length, 0);
        request.resize(length);
        ASSERT_EQ(commands.CalculateChecksums(request.data(), request.size()), ZEL_STATUS_SUCCESS);
        const std::vector<Bytes> sent = Frame(exchange.protocol, Join({{0x00, 0x7F}, request}));
        ASSERT_EQ(sent.size(), 1U);
        EXPECT_EQ(sent[0], request);

        const Bytes answer = exchange.answer();
        const std::vector<Bytes> received = Frame(exchange.protocol, Join({{0x11}, answer, {0x22}}));
        ASSERT_EQ(received.size(), 1U);
        ASSERT_EQ(received[0], answer);
        exchange.check(commands, received[0].data());
    }
}
