// The scenario's line faults as the program's side sees them, the scenario format, and `tarn sim`.
#include "SimTestSupport.h"

#include "support/ZELTestSupport.h"
#include "zel/foundation/ZELStatus.h"

using namespace SimTest;

namespace {

const auto kDeviceInfo = [](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqGetDeviceInfo(b); };
const auto kProduction = [](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqGetProductionInfo(b); };
const auto kExpanders = [](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqGetExpanders(b); };

std::string WithFaults(const std::string& faults, const std::string& extra = "")
{
    return R"({"device": {"hardware": "QTR-1", "expanders": [{"type": 16, "version": "V 02.00.00"},
        {"type": 33, "version": "V 02.02.00"}, {"type": 34, "version": "V 02.02.00"}]}, "faults": )" +
           faults + extra + "}";
}

// Reads packets up to the answer of the production-information request sent as a marker; their ids.
std::vector<std::uint16_t> IdsUntilMarker(ProgramSide& program)
{
    program.Send(kProduction);
    std::vector<std::uint16_t> ids;
    while (const std::optional<Bytes> packet = program.Next()) {
        if (ProgramSide::Id(*packet) == 0x4054)
            return ids;
        ids.push_back(ProgramSide::Id(*packet));
    }
    ADD_FAILURE() << "the marker's answer never came";
    return ids;
}

} // namespace

TEST(CSimFaults, NoAnswerIgnoresTheGivenRequestAsOftenAsSaid)
{
    auto server = Serve(WithFaults(R"([{"kind": "noAnswer", "id": "0x0001", "times": 1}])"));
    ProgramSide program(server->Path());
    program.Send(kDeviceInfo);
    ASSERT_TRUE(server->WaitForIgnoredRequests(1, kWait));
    program.Send(kDeviceInfo); // the resend is answered
    EXPECT_EQ(IdsUntilMarker(program), (std::vector<std::uint16_t>{0x4001}));
}

TEST(CSimFaults, LateAnswerLeavesNoEarlierThanTheDelay)
{
    auto server = Serve(WithFaults(R"([{"kind": "late", "id": "0x0004", "ms": 200}])"));
    ProgramSide program(server->Path());
    const auto start = std::chrono::steady_clock::now();
    program.Send([](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqPrepareFirmwareUpdate(b); });
    program.Expect(0x4004);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 200ms);
}

TEST(CSimFaults, LateAnswerHoldsBackTheAnswersAfterIt)
{
    auto server = Serve(WithFaults(R"([{"kind": "late", "id": "0x0004", "ms": 200}])"));
    ProgramSide program(server->Path());
    program.Send([](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqPrepareFirmwareUpdate(b); });
    program.Send(kDeviceInfo); // asked later, answered at once by the device, but the line keeps the order
    program.Expect(0x4004);
    program.Expect(0x4001);
}

// Both directions of the line run at wire speed: what the program writes reaches the device no
// sooner than it would over the wire at the scenario's rate or at the rate the program set.
TEST(CSimFaults, PacedLineCarriesTheProgramsBytesAtWireSpeed)
{
    struct Case
    {
        const char* baudRate;
        unsigned paced; // the program opens the line at 115200
    };
    const Case cases[] = {{"57600", 57600}, {"\"line\"", 115200}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.baudRate);
        auto server = Serve(std::string(R"({"device": {"hardware": "QTR-1"}, "baudRate": )") + c.baudRate + "}");
        ProgramSide program(server->Path());
        // Line noise the device skips, then a request whose answer is short next to it.
        const Bytes noise(2000, 0x00);
        const auto start = std::chrono::steady_clock::now();
        program.SendRaw(noise);
        program.Send(kDeviceInfo);
        program.Expect(0x4001);
        const auto wire = std::chrono::microseconds((noise.size() + 7) * 10'000'000ull / c.paced);
        EXPECT_GE(std::chrono::steady_clock::now() - start, wire);
        EXPECT_EQ(server->FastestPacedRate(), c.paced);
    }
}

TEST(CSimFaults, PacketFaultsReachTheProgramsFramerAsTheyWould)
{
    struct Case
    {
        const char* name;
        const char* faults;
        std::vector<std::uint16_t> ids; // what arrives for a device-info and an expander request
        std::optional<std::uint32_t> isd; // unset: some (the rest of a broken packet)
        std::uint32_t ipcs;
        std::uint32_t ihcs;
    };
    const Case cases[] = {
        {"nothing", "[]", {0x4001, 0x4013, 0x8013, 0x8013, 0x8013}, 0, 0, 0},
        {"corrupt a payload byte", R"([{"kind": "corrupt", "id": "0x4001", "offset": 9}])",
            {0x4013, 0x8013, 0x8013, 0x8013}, 0, 1, 0},
        {"corrupt a header byte", R"([{"kind": "corrupt", "id": "0x4001", "offset": 3, "mask": 1}])",
            {0x4013, 0x8013, 0x8013, 0x8013}, std::nullopt, 0, 1},
        {"drop the second notification", R"([{"kind": "drop", "id": "0x8013", "skip": 1, "times": 1}])",
            {0x4001, 0x4013, 0x8013, 0x8013}, 0, 0, 0},
        {"garbage before each expander packet", R"([{"kind": "garbage", "id": "0x8013", "bytes": "00 FF 13"}])",
            {0x4001, 0x4013, 0x8013, 0x8013, 0x8013}, 9, 0, 0},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        auto server = Serve(WithFaults(test.faults));
        ProgramSide program(server->Path());
        program.Send(kDeviceInfo);
        program.Send(kExpanders);
        EXPECT_EQ(IdsUntilMarker(program), test.ids);
        if (test.isd)
            EXPECT_EQ(program.Counters().invalidStartDelimiter, *test.isd);
        else
            EXPECT_GT(program.Counters().invalidStartDelimiter, 0u);
        EXPECT_EQ(program.Counters().invalidPayloadChecksum, test.ipcs);
        EXPECT_EQ(program.Counters().invalidHeaderChecksum, test.ihcs);
    }
}

TEST(CSimFaults, DisconnectAndReturnUnderTheSamePath)
{
    auto server = Serve(WithFaults(R"([{"kind": "disconnect", "id": "0x0004", "times": 1, "returnAfterMs": 100}])"));
    ProgramSide program(server->Path());
    program.Send([](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqPrepareFirmwareUpdate(b); });
    EXPECT_FALSE(program.Next());
    EXPECT_EQ(program.lastResult, CZELSerialDevice::IoResult::Gone);
    program.Close();

    ASSERT_TRUE(server->WaitForConnections(2, kWait));
    ASSERT_EQ(program.Open(server->Path()), 0);
    program.Send(kDeviceInfo);
    program.Expect(0x4001);
    // The fault struck once: the request is answered now.
    program.Send([](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqPrepareFirmwareUpdate(b); });
    program.Expect(0x4004);
}

TEST(CSimFaults, DisconnectWithoutReturnLeavesNoPort)
{
    auto server = Serve(WithFaults("[]"));
    {
        ProgramSide program(server->Path());
        server->Disconnect(std::nullopt);
        EXPECT_FALSE(program.Next());
        EXPECT_EQ(program.lastResult, CZELSerialDevice::IoResult::Gone);
    }
    CZELSerialDevice port;
    EXPECT_NE(port.Open(server->Path(), 115200, CZELSerialDevice::Parity::None), 0);
    EXPECT_EQ(server->Connections(), 1u);
    server->Stop(); // does not hang while away
}

TEST(CSimFaults, WireSpeedPacingTakesTheTimeOfTheBytes)
{
    // 9600 baud: a byte is about 1.04 ms on the wire.
    auto server = Serve(WithFaults("[]", R"(, "baudRate": 9600)"));
    ProgramSide program(server->Path());
    const auto start = std::chrono::steady_clock::now();
    program.Send(kDeviceInfo);
    const Bytes answer = program.Expect(0x4001);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::microseconds(answer.size() * 10'000'000 / 9600));
}

TEST(CSimServer, StopsWhileTheLineIsIdleOrBusy)
{
    auto server = Serve(WithFaults(R"([{"kind": "late", "ms": 60000}])"));
    ProgramSide program(server->Path());
    program.Send(kDeviceInfo); // its answer waits a minute in the outbox
    server->Stop();
    EXPECT_FALSE(std::filesystem::exists(server->Path()));
}

TEST(CSimScenario, ReadsTheExampleScenario)
{
    CSimScenario scenario;
    std::string error;
    ASSERT_TRUE(CSimScenario::Load(SIM_SCENARIO_FOLDER "/qtr2-update.json", scenario, error)) << error;
    EXPECT_EQ(scenario.device.hardwareType, 0x1001);
    EXPECT_EQ(scenario.device.versions.at(CSimDevice::Processor::CCPU), "V 02.09.30");
    ASSERT_EQ(scenario.device.expanders.size(), 3u);
    EXPECT_EQ(scenario.device.expanders[1].type, 0x21);
    EXPECT_EQ(scenario.baudRate, 115200u);
    ASSERT_EQ(scenario.faults.size(), 4u);
    EXPECT_EQ(scenario.faults[2].bytes, (Bytes{0x00, 0xFF, 0x13}));
}

TEST(CSimScenario, RefusesMistakesNamingTheField)
{
    const std::pair<const char*, const char*> cases[] = {
        {R"({"device": {"hardware": "QTR-9"}})", "device.hardware"},
        {R"({"device": {"colour": 1}})", "device.colour"},
        {R"({"device": {"versions": {"XCPU": "V 01.00.00"}}})", "device.versions.XCPU"},
        {R"({"device": {"expanders": [{"type": "0x1G"}]}})", "device.expanders[0].type"},
        {R"({"device": {"preconditions": {"lbus": 300}}})", "device.preconditions.lbus"},
        {R"({"faults": [{"kind": "explode"}]})", "faults[0].kind"},
        {R"({"faults": [{"kind": "garbage", "bytes": "ABC"}]})", "faults[0].bytes"},
        {R"({"faults": [{"kind": "corrupt", "mask": 0}]})", "faults[0].mask"},
        {R"({"baudRate": -5})", "baudRate"},
        {R"({"device": )", "parse error"},
    };
    for (const auto& [json, field] : cases) {
        SCOPED_TRACE(json);
        CSimScenario scenario;
        std::string error;
        EXPECT_FALSE(CSimScenario::Parse(json, scenario, error));
        EXPECT_NE(error.find(field), std::string::npos) << error;
    }
}

TEST(TarnSim, PrintsThePortFirstAndEndsWhenInputCloses)
{
    const ZELTest::ProcessResult result = ZELTest::RunProgram(
        std::string(": | '") + TARN_PROGRAM + "' sim --scenario '" + SIM_SCENARIO_FOLDER "/qtr2-update.json'");
    EXPECT_EQ(result.exitCode, 0) << result.output;
    const std::string first = result.output.substr(0, result.output.find('\n'));
    EXPECT_EQ(first.rfind("/", 0), 0u) << result.output;
    EXPECT_NE(first.find("ttySIM"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(first)); // removed on the way out

    const ZELTest::ProcessResult broken =
        ZELTest::RunProgram(std::string("'") + TARN_PROGRAM + "' sim --scenario '" + TARN_PROGRAM + "' </dev/null");
    EXPECT_EQ(broken.exitCode, 1);
}
