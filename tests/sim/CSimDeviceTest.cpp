// The simulated device over a pseudo-terminal, with the command set on the program's side: every answer
// the simulator builds is parsed back with the parser the program uses.
#include "SimTestSupport.h"

#include "zel/foundation/CZELTimeTable.h"
#include "zel/foundation/ZELStatus.h"

#include <cstring>

using namespace SimTest;

namespace {

class ScaledTimes : public ::testing::Environment
{
public:
    void SetUp() override { ZELScaleTimesForTests(10); }
};
[[maybe_unused]] const auto* const kScaledTimes = ::testing::AddGlobalTestEnvironment(new ScaledTimes);

const char* const kQTR = R"({"device": {"hardware": "QTR-1", "protocolVersion": 1, "hardwareVersion": "HW 1.2",
    "serialNumber": "Q-77", "productionDate": "2022-02-02", "productionUser": "anna",
    "versions": {"MCPU": "", "ECPU": "V 02.03.00", "CCPU": "V 02.09.30", "KCPU": "V 01.04.00", "LCPU": "V 01.02.07",
                 "RCPU": "V 09.09.09", "WCPU": "V 01.00.00"},
    "expanders": [{"type": 16, "version": "V 02.03.00"}, {"type": "0x21", "version": "V 02.02.01"},
                  {"type": "0x31", "version": "V 02.02.05"}]}})";

struct IdentityCase
{
    const char* name;
    const char* scenario;
    std::uint16_t protocol;
    std::function<std::uint16_t(CZELCommandSet&, std::uint8_t*)> request;
    std::uint16_t answerId;
    // Parses the answer with the program's parser and checks what it found.
    std::function<void(CZELCommandSet&, const std::uint8_t*)> check;
};

std::vector<IdentityCase> IdentityCases()
{
    return {
        {"device info, protocol version 1", kQTR, 0x1800,
            [](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqGetDeviceInfo(b); }, 0x4001,
            [](CZELCommandSet& c, const std::uint8_t* p) {
                std::uint8_t version = 0;
                std::uint16_t type = 0;
                char hw[33], serial[33], mcpu[33], ecpu[33], ccpu[33], kcpu[33], lcpu[33], rcpu[33], wcpu[33];
                ASSERT_EQ(c.ProcessAckGetDeviceInfo(p, &version, &type, hw, serial, mcpu, ecpu, ccpu, kcpu, lcpu, rcpu,
                              wcpu, 33),
                    ZEL_STATUS_SUCCESS);
                EXPECT_EQ(version, 1);
                EXPECT_EQ(type, 0x1000);
                EXPECT_STREQ(hw, "HW 1.2");
                EXPECT_STREQ(serial, "Q-77");
                EXPECT_STREQ(mcpu, "");
                EXPECT_STREQ(ecpu, "V 02.03.00");
                EXPECT_STREQ(ccpu, "V 02.09.30");
                EXPECT_STREQ(kcpu, "V 01.04.00");
                EXPECT_STREQ(lcpu, "V 01.02.07");
                EXPECT_STREQ(rcpu, ""); // protocol 1 has no RCPU version
                EXPECT_STREQ(wcpu, "V 01.00.00");
            }},
        {"device info, protocol version 2",
            R"({"device": {"hardware": "VHX-360", "protocolVersion": 2,
                "versions": {"MCPU": "V 03.03.04", "CCPU": "V 02.10.00", "RCPU": "V 01.01.01", "WCPU": "V 01.00.02"}}})",
            0x1800, [](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqGetDeviceInfo(b); }, 0x4001,
            [](CZELCommandSet& c, const std::uint8_t* p) {
                std::uint8_t version = 0;
                std::uint16_t type = 0;
                char hw[33], serial[33], mcpu[33], ecpu[33], ccpu[33], kcpu[33], lcpu[33], rcpu[33], wcpu[33];
                ASSERT_EQ(c.ProcessAckGetDeviceInfo(p, &version, &type, hw, serial, mcpu, ecpu, ccpu, kcpu, lcpu, rcpu,
                              wcpu, 33),
                    ZEL_STATUS_SUCCESS);
                EXPECT_EQ(version, 2);
                EXPECT_EQ(type, 0x2001);
                EXPECT_STREQ(mcpu, "V 03.03.04");
                EXPECT_STREQ(rcpu, "V 01.01.01");
                EXPECT_STREQ(wcpu, "V 01.00.02");
            }},
        {"radio modem info",
            R"({"device": {"hardware": "n920", "versions": {"RCPU": "V 04.01.00"},
                "radio": {"modemVersion": "MV 7", "channel": 5, "region": 2, "power": 9}}})",
            0x1800, [](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqGetRCPUDeviceInfo(b); }, 0x4C01,
            [](CZELCommandSet& c, const std::uint8_t* p) {
                std::uint8_t version = 0, channel = 0, region = 0, power = 0;
                std::uint16_t type = 0;
                char rcpu[33], modem[33];
                ASSERT_EQ(c.ProcessAckGetRCPUDeviceInfo(p, &version, &type, rcpu, modem, &channel, &region, &power, 33),
                    ZEL_STATUS_SUCCESS);
                EXPECT_EQ(type, 0x3002);
                EXPECT_STREQ(rcpu, "V 04.01.00");
                EXPECT_STREQ(modem, "MV 7");
                EXPECT_EQ(channel, 5);
                EXPECT_EQ(region, 2);
                EXPECT_EQ(power, 9);
            }},
        {"CCPU2 info", R"({"device": {"hardware": "ZT Remote V2", "serialNumber": "Z-1", "versions": {"CCPU": "V 01.07.00"}}})",
            0x1880, [](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqGetCCPU2DeviceInfo(b); }, 0x4D01,
            [](CZELCommandSet& c, const std::uint8_t* p) {
                EXPECT_EQ(p[0], 0x19);
                std::uint8_t version = 0;
                std::uint16_t type = 0;
                char hw[33], serial[33], ccpu[33];
                ASSERT_EQ(c.ProcessAckGetCCPU2DeviceInfo(p, &version, &type, hw, serial, ccpu, 33), ZEL_STATUS_SUCCESS);
                EXPECT_EQ(type, 0x1080);
                EXPECT_STREQ(serial, "Z-1");
                EXPECT_STREQ(ccpu, "V 01.07.00");
            }},
        {"Veltrix box info", R"({"device": {"hardware": "Veltrix", "versions": {"Veltrix": "V 01.02.03"}}})", 4,
            [](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqGetVeltrixDeviceInfo(b); }, 0x4001,
            [](CZELCommandSet& c, const std::uint8_t* p) {
                EXPECT_EQ(p[0], 0x05);
                std::uint8_t version = 0;
                std::uint16_t type = 0;
                char text[33];
                ASSERT_EQ(c.ProcessAckGetVeltrixDeviceInfo(p, &version, &type, text, 33), ZEL_STATUS_SUCCESS);
                EXPECT_EQ(type, 0x0091);
                EXPECT_STREQ(text, "V 01.02.03");
            }},
        {"Ombra box beside a radio modem",
            R"({"device": {"hardware": "EMIP400", "ombra": {"version": "V 03.00.01"}}})", 5,
            [](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqGetOmbraDeviceInfo(b); }, 0x4001,
            [](CZELCommandSet& c, const std::uint8_t* p) {
                EXPECT_EQ(p[0], 0x85);
                std::uint8_t version = 0;
                std::uint16_t type = 0;
                char text[33];
                ASSERT_EQ(c.ProcessAckGetOmbraDeviceInfo(p, &version, &type, text, 33), ZEL_STATUS_SUCCESS);
                EXPECT_EQ(type, 0x0080);
                EXPECT_STREQ(text, "V 03.00.01");
            }},
        {"KCPU info", kQTR, 0x1800, [](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqGetKCPUInfo(b); },
            0x4A01,
            [](CZELCommandSet& c, const std::uint8_t* p) {
                std::uint8_t version = 0;
                std::uint16_t type = 0;
                char text[33];
                ASSERT_EQ(c.ProcessAckGetKCPUInfo(p, &version, &type, text, 33), ZEL_STATUS_SUCCESS);
                EXPECT_STREQ(text, "V 01.04.00");
            }},
        {"ECPU info", kQTR, 0x1800, [](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqGetECPUInfo(b); },
            0x4B01,
            [](CZELCommandSet& c, const std::uint8_t* p) {
                std::uint8_t version = 0;
                std::uint16_t type = 0;
                char text[33];
                ASSERT_EQ(c.ProcessAckGetECPUInfo(p, &version, &type, text, 33), ZEL_STATUS_SUCCESS);
                EXPECT_STREQ(text, "V 02.03.00");
            }},
        {"hardware info", kQTR, 0x1800, [](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqGetHardwareInfo(b); },
            0x4052,
            [](CZELCommandSet& c, const std::uint8_t* p) {
                std::uint16_t type = 0;
                char hw[33], serial[33];
                ASSERT_EQ(c.ProcessAckGetHardwareInfo(p, &type, hw, serial, 33), ZEL_STATUS_SUCCESS);
                EXPECT_EQ(type, 0x1000);
                EXPECT_STREQ(hw, "HW 1.2");
                EXPECT_STREQ(serial, "Q-77");
            }},
        {"production info", kQTR, 0x1800,
            [](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqGetProductionInfo(b); }, 0x4054,
            [](CZELCommandSet& c, const std::uint8_t* p) {
                char date[33], user[33];
                ASSERT_EQ(c.ProcessAckGetProductionInfo(p, date, user, 33), ZEL_STATUS_SUCCESS);
                EXPECT_STREQ(date, "2022-02-02");
                EXPECT_STREQ(user, "anna");
            }},
        {"radio hardware info", R"({"device": {"hardware": "p2400", "serialNumber": "R-5"}})", 0x1800,
            [](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqGetRCPUHardwareInfo(b); }, 0x4C52,
            [](CZELCommandSet& c, const std::uint8_t* p) {
                std::uint16_t type = 0;
                char hw[33], serial[33];
                ASSERT_EQ(c.ProcessAckGetRCPUHardwareInfo(p, &type, hw, serial, 33), ZEL_STATUS_SUCCESS);
                EXPECT_EQ(type, 0x3003);
                EXPECT_STREQ(serial, "R-5");
            }},
        {"radio production info", R"({"device": {"hardware": "p2400", "productionUser": "ben"}})", 0x1800,
            [](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqGetRCPUProductionInfo(b); }, 0x4C54,
            [](CZELCommandSet& c, const std::uint8_t* p) {
                char date[33], user[33];
                ASSERT_EQ(c.ProcessAckGetRCPUProductionInfo(p, date, user, 33), ZEL_STATUS_SUCCESS);
                EXPECT_STREQ(user, "ben");
            }},
        {"read memory", kQTR, 0x1800,
            [](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqReadMemory(b, 131, 4, 0x10); }, 0x4006,
            [](CZELCommandSet& c, const std::uint8_t* p) {
                std::uint8_t status = 0xEE, memory = 0, length = 0;
                std::uint32_t address = 0;
                std::uint8_t data[16] = {};
                ASSERT_EQ(c.ProcessAckReadMemory(p, &status, &memory, &length, &address, data, sizeof data),
                    ZEL_STATUS_SUCCESS);
                EXPECT_EQ(status, 0);
                EXPECT_EQ(memory, 131);
                EXPECT_EQ(length, 4);
                EXPECT_EQ(address, 0x10U);
                EXPECT_EQ(Bytes(data, data + 4), (Bytes{131 ^ 0x10, 131 ^ 0x11, 131 ^ 0x12, 131 ^ 0x13}));
            }},
        {"read memory of no board memory", kQTR, 0x1800,
            [](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqReadMemory(b, 7, 4, 0); }, 0x4006,
            [](CZELCommandSet& c, const std::uint8_t* p) {
                std::uint8_t status = 0, memory = 0, length = 0;
                std::uint32_t address = 0;
                std::uint8_t data[16] = {};
                ASSERT_EQ(c.ProcessAckReadMemory(p, &status, &memory, &length, &address, data, sizeof data),
                    ZEL_STATUS_SUCCESS);
                EXPECT_EQ(status, 3);
            }},
        {"CCPU2 hardware info", R"({"device": {"hardware": "ZT Remote V2", "hardwareVersion": "Z HW"}})", 0x1880,
            [](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqGetCCPU2HardwareInfo(b); }, 0x4D52,
            [](CZELCommandSet& c, const std::uint8_t* p) {
                std::uint16_t type = 0;
                char hw[33], serial[33];
                ASSERT_EQ(c.ProcessAckGetCCPU2HardwareInfo(p, &type, hw, serial, 33), ZEL_STATUS_SUCCESS);
                EXPECT_STREQ(hw, "Z HW");
            }},
    };
}

} // namespace

TEST(CSimDevice, AnswersEveryIdentificationRequestInTheCommandSetsLayout)
{
    for (const IdentityCase& test : IdentityCases()) {
        SCOPED_TRACE(test.name);
        auto server = Serve(test.scenario);
        ProgramSide program(server->Path(), test.protocol);
        program.Send(test.request);
        const Bytes answer = program.Expect(test.answerId);
        test.check(program.commands, answer.data());
    }
}

TEST(CSimDevice, AnswersOnlyWhatItsHardwareWouldAnswer)
{
    // A radio modem's answer to 0x0001 would overwrite the hardware type, a QTR's to 0x0C01 too.
    struct Case
    {
        const char* hardware;
        std::function<std::uint16_t(CZELCommandSet&, std::uint8_t*)> ignored;
    };
    const Case cases[] = {
        {"EMIP400", [](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqGetDeviceInfo(b); }},
        {"QTR-2", [](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqGetRCPUDeviceInfo(b); }},
        {"QTR-2", [](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqGetOmbraDeviceInfo(b); }},
        {"VHX-3", [](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqGetVeltrixDeviceInfo(b); }},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.hardware);
        auto server = Serve(std::string(R"({"device": {"hardware": ")") + test.hardware + R"("}})");
        ProgramSide program(server->Path());
        program.Send(test.ignored);
        EXPECT_TRUE(server->WaitForIgnoredRequests(1, kWait));
        // The next request is answered, and it is the first packet on the line.
        program.Send([](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqGetProductionInfo(b); });
        program.Send([](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqGetRCPUProductionInfo(b); });
        const std::optional<Bytes> first = program.Next();
        ASSERT_TRUE(first);
        EXPECT_TRUE(ProgramSide::Id(*first) == 0x4054 || ProgramSide::Id(*first) == 0x4C54);
    }
}

TEST(CSimDevice, PrepareFirmwareUpdateReportsTheConfiguredPreconditions)
{
    const std::array<std::uint8_t, 4> cases[] = {{0, 0, 0, 2}, {1, 0, 0, 2}, {0, 3, 1, 2}, {0, 0, 0, 1}, {0, 0, 0, 0}};
    for (const auto& bytes : cases) {
        char json[256];
        std::snprintf(json, sizeof json,
            R"({"device": {"hardware": "QTR-2", "preconditions": {"fsCan": %d, "ffCan": %d, "lbus": %d, "emergencyButton": %d}}})",
            bytes[0], bytes[1], bytes[2], bytes[3]);
        SCOPED_TRACE(json);
        auto server = Serve(json);
        ProgramSide program(server->Path());
        program.Send([](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqPrepareFirmwareUpdate(b); });
        const Bytes answer = program.Expect(0x4004);
        std::array<std::uint8_t, 4> parsed{};
        ASSERT_EQ(program.commands.ProcessAckPrepareFirmwareUpdate(answer.data(), &parsed[0], &parsed[1], &parsed[2],
                      &parsed[3]),
            ZEL_STATUS_SUCCESS);
        EXPECT_EQ(parsed, bytes);
    }
}

TEST(CSimDevice, ReportsItsExpandersWithOneNotificationEach)
{
    auto server = Serve(kQTR);
    ProgramSide program(server->Path());
    program.Send([](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqGetExpanders(b); });
    std::uint8_t count = 0;
    ASSERT_EQ(program.commands.ProcessAckGetExpanders(program.Expect(0x4013).data(), &count), ZEL_STATUS_SUCCESS);
    ASSERT_EQ(count, 3);
    const std::pair<std::uint16_t, const char*> expected[] = {{16, "V 02.03.00"}, {0x21, "V 02.02.01"}, {0x31, "V 02.02.05"}};
    for (const auto& [type, version] : expected) {
        const Bytes notification = program.Expect(0x8013);
        std::uint8_t total = 0;
        std::uint16_t parsedType = 0;
        char text[33];
        ASSERT_EQ(program.commands.ProcessNotExpander(notification.data(), &total, &parsedType, text), ZEL_STATUS_SUCCESS);
        EXPECT_EQ(total, 3);
        EXPECT_EQ(parsedType, type);
        EXPECT_STREQ(text, version);
    }
}

namespace {

Bytes SwitchRequest(std::uint16_t target)
{
    return {0x42, 0x11, 0x00, 0x03, 0x00, 0, 0, 0x80, static_cast<std::uint8_t>(target),
        static_cast<std::uint8_t>(target >> 8), 0};
}

} // namespace

TEST(CSimDevice, AcknowledgesBootLoaderSwitchesWithTheReadyCode)
{
    struct Case
    {
        const char* hardware;
        std::uint16_t target;
        std::uint8_t status;
        std::uint8_t value;
        std::optional<CSimDevice::Processor> owner;
    };
    using P = CSimDevice::Processor;
    const Case cases[] = {
        {"QTR-1", 0x1800, 0, 7, P::CCPU},
        {"QTR-1", 0x2800, 0, 3, P::KCPU},
        {"VHX-3", 0x3800, 0, 5, P::LCPU},
        {"VHX-360", 0x4800, 0, 6, P::MCPU},
        {"QTR-2", 0xF000, 0, 6, P::ECPU},
        {"QTR-1", 0x4800, 3, 0x00, std::nullopt}, // no MCPU in a remote control
        {"VHX-3", 0xF000, 3, 0x00, std::nullopt}, // no remote-control ECPU in a head
        {"QTR-1", 0x1234, 3, 0x34, std::nullopt},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(std::string(test.hardware) + " " + std::to_string(test.target));
        auto server = Serve(std::string(R"({"device": {"hardware": ")") + test.hardware + R"("}})");
        ProgramSide program(server->Path());
        program.SendRaw(SwitchRequest(test.target));
        const Bytes answer = program.Expect(0x4011);
        std::uint8_t count = 0, status = 0xEE, property = 0, value = 0;
        ASSERT_EQ(program.commands.ProcessAckControl(answer.data(), &count, &status, &property, &value), ZEL_STATUS_SUCCESS);
        EXPECT_EQ(status, test.status);
        EXPECT_EQ(property, 0x80);
        EXPECT_EQ(value, test.value);
        server->Inspect([&](CSimDevice& device) { EXPECT_EQ(device.BootLoaderOwner(), test.owner); });
    }
}

TEST(CSimDevice, ReportsTheRemoteControlEcpuThroughItsOtherReadySources)
{
    {
        auto server = Serve(R"({"device": {"hardware": "QTR-1", "ecpuReadySource": "control"}})");
        ProgramSide program(server->Path());
        program.SendRaw(SwitchRequest(0xF000));
        std::uint8_t count = 0, status = 0xEE, property = 0, value = 0;
        ASSERT_EQ(program.commands.ProcessAckControl(program.Expect(0x4011).data(), &count, &status, &property, &value),
            ZEL_STATUS_SUCCESS);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(property, 0x7F);
    }
    {
        auto server = Serve(R"({"device": {"hardware": "QTR-1", "ecpuReadySource": "notification"}})");
        ProgramSide program(server->Path());
        program.SendRaw(SwitchRequest(0xF000));
        std::uint8_t count = 0, status = 0xEE, property = 0, value = 0xEE;
        ASSERT_EQ(program.commands.ProcessAckControl(program.Expect(0x4011).data(), &count, &status, &property, &value),
            ZEL_STATUS_SUCCESS);
        EXPECT_EQ(value, 0x00); // a plain echo of 0xF000: no ready code in the acknowledgement
        std::uint8_t first = 0xEE, second = 0xEE;
        ASSERT_EQ(program.commands.ProcessNotControl(program.Expect(0x8011).data(), &first, &second), ZEL_STATUS_SUCCESS);
        EXPECT_EQ(first, 0);     // status
        EXPECT_EQ(second, 0x7F); // item
    }
}

TEST(CSimDevice, AccessoryUpdateRequestsAreAcknowledgedAndHandTheLineToTheBootLoader)
{
    using P = CSimDevice::Processor;
    struct Case
    {
        const char* scenario;
        std::uint16_t protocol;
        std::function<std::uint16_t(CZELCommandSet&, std::uint8_t*)> request;
        std::uint16_t answerId;
        std::function<long(CZELCommandSet&, const std::uint8_t*, std::uint8_t*)> parse;
        P owner;
    };
    const Case cases[] = {
        {R"({"device": {"hardware": "EMIP400"}})", 0x1800,
            [](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqUpdateRCPU(b); }, 0x4C02,
            [](CZELCommandSet& c, const std::uint8_t* p, std::uint8_t* s) { return c.ProcessRCPUAckSwitchToBootLoader(p, s); },
            P::RCPU},
        {R"({"device": {"hardware": "ZT Remote V2"}})", 0x1880,
            [](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqUpdateCCPU2(b); }, 0x4D02,
            [](CZELCommandSet& c, const std::uint8_t* p, std::uint8_t* s) { return c.ProcessCCPU2AckSwitchToBootLoader(p, s); },
            P::CCPU},
        {R"({"device": {"hardware": "Veltrix"}})", 4,
            [](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqUpdateVeltrix(b); }, 0x4002,
            [](CZELCommandSet& c, const std::uint8_t* p, std::uint8_t* s) { return c.ProcessVeltrixAckSwitchToBootLoader(p, s); },
            P::Veltrix},
        {R"({"device": {"hardware": "Ombra"}})", 5,
            [](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqUpdateOmbraBox(b); }, 0x4002,
            [](CZELCommandSet& c, const std::uint8_t* p, std::uint8_t* s) { return c.ProcessOmbraAckSwitchToBootLoader(p, s); },
            P::Ombra},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.scenario);
        auto server = Serve(test.scenario);
        ProgramSide program(server->Path(), test.protocol);
        program.Send(test.request);
        std::uint8_t status = 0xEE;
        EXPECT_EQ(test.parse(program.commands, program.Expect(test.answerId).data(), &status), ZEL_STATUS_SUCCESS);
        EXPECT_EQ(status, 0);
        server->Inspect([&](CSimDevice& device) { EXPECT_EQ(device.BootLoaderOwner(), test.owner); });
    }
}

TEST(CSimDevice, SetMCPUModeAnswersAndSwitchesToTheModuleProtocol)
{
    struct Case
    {
        const char* hardware;
        std::uint8_t mode;
        std::uint8_t status;
        bool moduleMode;
    };
    const Case cases[] = {{"VHX-3", 4, 0, true}, {"VHX-360", 1, 0, false}, {"QTR-1", 4, 3, false}};
    for (const Case& test : cases) {
        SCOPED_TRACE(test.hardware);
        auto server = Serve(std::string(R"({"device": {"hardware": ")") + test.hardware +
                            R"(", "versions": {"MCPU": "V 03.03.04"}}})");
        ProgramSide program(server->Path());
        program.Send([&](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqSetMCPUMode(b, test.mode); });
        std::uint8_t status = 0xEE, mode = 0xEE;
        ASSERT_EQ(program.commands.ProcessAckSetMCPUMode(program.Expect(0x401F).data(), &status, &mode), ZEL_STATUS_SUCCESS);
        EXPECT_EQ(status, test.status);
        server->Inspect([&](CSimDevice& device) { EXPECT_EQ(device.InModuleMode(), test.moduleMode); });
        if (!test.moduleMode)
            continue;
        EXPECT_EQ(mode, 4);
        program.SetProtocol(0x4801);
        program.Send([](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqBoardInfo(b); });
        const Bytes board = program.Expect(0x56);
        EXPECT_EQ(board[0], 0x24);
        std::uint8_t state = 0;
        char version[33];
        ASSERT_EQ(program.commands.ProcessAckBoardInfo(board.data(), &state, version, sizeof version), ZEL_STATUS_SUCCESS);
        EXPECT_EQ(state, 1);
        EXPECT_STREQ(version, "V 03.03.04");
    }
}

TEST(CSimDevice, ModuleModeDeviceAnswersBoardInfoModuleListAndRealTimeRequests)
{
    auto server = Serve(R"({"device": {"hardware": "MCPU", "versions": {"MCPU": "V 12.34.56"}, "boardState": 7,
        "canDrivers": [{"module": 3, "board": 101, "bootloader": 102, "main": 205},
                       {"module": 4, "board": 111, "bootloader": 112, "main": 215}]}})");
    for (std::uint16_t protocol : {0x4800, 0x4801}) {
        SCOPED_TRACE(protocol);
        ProgramSide program(server->Path(), protocol);
        program.Send([](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqBoardInfo(b); });
        std::uint8_t state = 0;
        char version[33];
        ASSERT_EQ(program.commands.ProcessAckBoardInfo(program.Expect(0x56).data(), &state, version, sizeof version),
            ZEL_STATUS_SUCCESS);
        EXPECT_EQ(state, 7);
        EXPECT_STREQ(version, "V 12.34.56");

        program.Send([](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqModuleList(b); });
        _MCPU_CAN_DRIVER drivers[3];
        std::uint8_t count = 0;
        ASSERT_EQ(program.commands.ProcessAckModuleList(program.Expect(0x4C).data(), drivers, &count, 3), ZEL_STATUS_SUCCESS);
        ASSERT_EQ(count, 2);
        EXPECT_EQ(drivers[0].moduleId, 3);
        EXPECT_EQ(drivers[0].boardVersion, 101);
        EXPECT_EQ(drivers[0].bootloaderVersion, 102);
        EXPECT_EQ(drivers[0].mainVersion, 205);
        EXPECT_EQ(drivers[1].moduleId, 4);

        program.Send([](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqRealTimeDataCustom(b, 0, 0x040B); });
        std::uint8_t confirmed = 0;
        ASSERT_EQ(program.commands.ProcessAckConfirm(program.Expect(0x43).data(), &confirmed), ZEL_STATUS_SUCCESS);
        EXPECT_EQ(confirmed, 0x55);
        program.Close();
    }
}
