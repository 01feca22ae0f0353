#include "UpdaterTestSupport.h"


#include <functional>

using namespace UpdaterTest;

namespace {

CZELMessage Record(const Bytes& packet)
{
    Bytes record(20, 0);
    record.insert(record.end(), packet.begin(), packet.end());
    return CZELMessage(ZEL_MESSAGE_SERIAL_DATA_RECEIVED, record.data(), static_cast<int>(record.size()));
}

// The answers the simulated device gives to one request.
std::vector<Bytes> SimAnswers(CSimDevice::Settings settings, std::uint16_t protocol,
    const std::function<std::uint16_t(CZELCommandSet&, std::uint8_t*)>& build)
{
    CSimDevice device(std::move(settings));
    CZELCommandSet commands;
    commands.SetProtocol(protocol);
    std::uint8_t buffer[512] = {};
    const std::uint16_t length = build(commands, buffer);
    commands.CalculateChecksums(buffer, length);
    std::vector<CSimDevice::Outgoing> out;
    device.Receive(buffer, length, out);
    std::vector<Bytes> packets;
    CZELPacketFramer framer([&packets](const std::uint8_t* p, std::size_t n) { packets.emplace_back(p, p + n); });
    framer.SetProtocol(protocol);
    for (const CSimDevice::Outgoing& answer : out)
        framer.Receive(answer.bytes.data(), answer.bytes.size(), std::chrono::steady_clock::now());
    return packets;
}

Bytes Truncated(Bytes packet, std::size_t length)
{
    packet.resize(length);
    return packet;
}

CSimDevice::Settings Hardware(const char* name)
{
    CSimDevice::Settings settings;
    EXPECT_TRUE(CSimDevice::ApplyHardwareName(name, settings)) << name;
    settings.versions[CSimDevice::Processor::CCPU] = "V 02.09.30";
    settings.versions[CSimDevice::Processor::RCPU] = "V 01.02.03";
    settings.versions[CSimDevice::Processor::Veltrix] = "V 03.00.00";
    settings.versions[CSimDevice::Processor::Ombra] = "V 04.00.00";
    return settings;
}

Bytes DeviceInfo(const char* hardware)
{
    return SimAnswers(Hardware(hardware), 0x1800,
        [](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqGetDeviceInfo(b); })
        .at(0);
}

// The dialog with its routing called directly on the test's thread.
class Routing : public ::testing::Test
{
protected:
    Routing() { queue.SetDialog(&dialog); }
    ~Routing() override { queue.SetDialog(nullptr); }

    long Deliver(const Bytes& packet)
    {
        CZELMessage message = Record(packet);
        return queue.ProcessMessage(message);
    }
    void UseProtocol(std::uint16_t protocol) { dialog.SetProtocol(protocol); }

    RecordingView view;
    SimLink link;
    CZELCommandSet commands;
    LogRecorder log;
    CUpdaterDlg dialog{view, link, commands, "./NoFirmware", log.Sink()};
    CAppMessageQueue queue;
};

} // namespace

TEST(CAppMessageQueue, WithoutDialogNothingIsEvaluated)
{
    CAppMessageQueue queue;
    CZELMessage message = Record(Ack(0x42, 0x4013, {1}));
    EXPECT_EQ(queue.ProcessMessage(message), ZEL_STATUS_NOT_INITIALIZED);
}

TEST_F(Routing, ProgressAndOtherMessages)
{
    struct Case
    {
        const char* name;
        std::uint32_t type;
        Bytes buffer;
        long result;
        std::vector<int> progress; // what the bar shows afterwards
    };
    const Case cases[] = {
        { "a percentage", ZEL_MESSAGE_TRANSFER_PROGRESS, { 42 }, ZEL_STATUS_SUCCESS, { 42 } },
        { "250 is shown as 100", ZEL_MESSAGE_TRANSFER_PROGRESS, { 250 }, ZEL_STATUS_SUCCESS, { 100 } },
        { "101 is shown as 100", ZEL_MESSAGE_TRANSFER_PROGRESS, { 101 }, ZEL_STATUS_SUCCESS, { 100 } },
        { "empty progress", ZEL_MESSAGE_TRANSFER_PROGRESS, {}, ZEL_STATUS_INVALID_PARAMETER, {} },
        { "a sent packet is not evaluated", ZEL_MESSAGE_SERIAL_DATA_SENT, { 1, 2, 3 }, ZEL_STATUS_SUCCESS, {} },
        { "a record without packet", ZEL_MESSAGE_SERIAL_DATA_RECEIVED, Bytes(20, 0), ZEL_STATUS_INVALID_PARAMETER,
            {} },
    };
    for (const Case& c : cases) {
        RecordingView caseView;
        CUpdaterDlg caseDialog(caseView, link, commands, "./NoFirmware", log.Sink());
        queue.SetDialog(&caseDialog);
        CZELMessage message(c.type, c.buffer.empty() ? nullptr : c.buffer.data(), static_cast<int>(c.buffer.size()));
        EXPECT_EQ(queue.ProcessMessage(message), c.result) << c.name;
        EXPECT_EQ(caseView.Progress(), c.progress) << c.name;
    }
    queue.SetDialog(&dialog);
}

TEST_F(Routing, PacketsGoToTheHandlerOfTheProtocol)
{
    const Bytes expanders = Ack(0x42, 0x4013, { 2 });
    const Bytes boardInfo = ModuleAck('V', Bytes(18, 0));
    struct Case
    {
        std::uint16_t protocol;
        const Bytes* packet;
        long first;
        long result;
        long stepAfter;
    };
    const Case cases[] = {
        { 0x1800, &expanders, 9, ZEL_STATUS_SUCCESS, 10 },
        { 0x1880, &expanders, 9, ZEL_STATUS_SUCCESS, 10 }, // accessory protocols reach the main handler
        { 4, &expanders, 9, ZEL_STATUS_SUCCESS, 10 },
        { 5, &expanders, 9, ZEL_STATUS_SUCCESS, 10 },
        { 0x4801, &boardInfo, 13, ZEL_STATUS_SUCCESS, 14 },
        { 0x4800, &boardInfo, 13, ZEL_STATUS_SUCCESS, 14 },
        { 0x4801, &expanders, 9, ZEL_STATUS_SUCCESS, 9 }, // a main answer means nothing to the module handler
        { 2, &expanders, 9, ZEL_STATUS_NOT_IMPLEMENTED, 9 },
    };
    for (const Case& c : cases) {
        UseProtocol(c.protocol);
        dialog.ArmRequestStep(c.first);
        EXPECT_EQ(Deliver(*c.packet), c.result) << std::hex << c.protocol;
        EXPECT_EQ(dialog.GetRequestStep(), c.stepAfter) << std::hex << c.protocol;
    }
}

// Each answer advances the step only from its exact value, and a broken answer never does.
TEST_F(Routing, MainHandlerAdvancesOnlyFromTheExactStep)
{
    const Bytes deviceInfo = DeviceInfo("QTR-1");
    Bytes shortDeviceInfo = Ack(0x42, 0x4001, { 2, 0x00, 0x10, 'x' });
    const Bytes rcpuInfo = SimAnswers(Hardware("EMIP400"), 0x1800,
        [](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqGetRCPUDeviceInfo(b); })
                               .at(0);
    const Bytes veltrixInfo = SimAnswers(Hardware("Veltrix"), 4,
        [](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqGetVeltrixDeviceInfo(b); })
                                  .at(0);
    const Bytes ombraInfo = SimAnswers(Hardware("Ombra"), 5,
        [](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqGetOmbraDeviceInfo(b); })
                                .at(0);
    struct Case
    {
        const char* name;
        std::uint16_t protocol;
        Bytes packet;
        long first;
        long stepAfter;
        bool rejected;
    };
    const Case cases[] = {
        { "device information", 0x1800, deviceInfo, 1, 2, false },
        { "device information late for another wait", 0x1800, deviceInfo, 3, 3, false },
        { "device information with a wrong length", 0x1800, shortDeviceInfo, 1, 1, true },
        { "RCPU device information", 0x1800, rcpuInfo, 1, 2, false },
        { "Veltrix answer under 0x1800", 0x1800, veltrixInfo, 1, 1, false },
        { "Ombra answer under 0x1800", 0x1800, ombraInfo, 1, 1, false },
        { "Veltrix answer under its own protocol", 4, veltrixInfo, 1, 2, false },
        { "Ombra answer under its own protocol", 5, ombraInfo, 1, 2, false },
        { "hardware information", 0x1800, Ack(0x42, 0x4052, {}), 3, 4, false },
        { "RCPU hardware information", 0x1800, Ack(0x42, 0x4C52, {}), 3, 4, false },
        { "hardware information late", 0x1800, Ack(0x42, 0x4052, {}), 5, 5, false },
        { "production information", 0x1800, Ack(0x42, 0x4054, {}), 5, 6, false },
        { "RCPU production information", 0x1800, Ack(0x42, 0x4C54, {}), 5, 6, false },
        { "prepare firmware update", 0x1800, Ack(0x42, 0x4004, { 0, 0, 0, 2 }), 7, 8, false },
        { "prepare firmware update too short", 0x1800, Ack(0x42, 0x4004, { 0, 0, 2 }), 7, 7, true },
        { "expanders", 0x1800, Ack(0x42, 0x4013, { 3 }), 9, 10, false },
        { "expanders without count", 0x1800, Ack(0x42, 0x4013, {}), 9, 9, true },
        { "MCPU mode 4", 0x1800, Ack(0x42, 0x401F, { 0, 4 }), 11, 12, false },
        { "MCPU mode 3", 0x1800, Ack(0x42, 0x401F, { 0, 3 }), 11, 11, false },
        { "MCPU mode refused", 0x1800, Ack(0x42, 0x401F, { 1, 4 }), 11, 11, false },
        { "a header announcing more than arrived", 0x1800, Truncated(Ack(0x42, 0x4013, { 3, 4, 5 }), 8), 9, 9, true },
        { "garbage", 0x1800, Bytes { 0x42, 0x13, 0x40 }, 9, 9, true },
    };
    for (const Case& c : cases) {
        UseProtocol(c.protocol);
        dialog.ArmRequestStep(c.first);
        const std::uint32_t rejectedBefore = dialog.GetRejectedAnswers();
        EXPECT_EQ(Deliver(c.packet), ZEL_STATUS_SUCCESS) << c.name;
        EXPECT_EQ(dialog.GetRequestStep(), c.stepAfter) << c.name;
        EXPECT_EQ(dialog.GetRejectedAnswers() - rejectedBefore, c.rejected ? 1u : 0u) << c.name;
    }
}

TEST_F(Routing, AnswersFillTheDeviceInformation)
{
    Deliver(DeviceInfo("VHX-360"));
    DeviceInformation device = dialog.GetDeviceInformation();
    EXPECT_EQ(device.hardwareType, 0x2001);
    EXPECT_STREQ(device.ccpuVersion, "V 02.09.30");

    Deliver(Ack(0x42, 0x4004, { 1, 2, 3, 4 }));
    Deliver(Ack(0x42, 0x4013, { 11 }));
    for (std::uint8_t i = 0; i < 11; ++i) {
        Bytes payload { i, static_cast<std::uint8_t>(0x20 + i), 0 };
        for (const char character : "V 02.0" + std::to_string(i % 10) + ".00")
            payload.push_back(static_cast<std::uint8_t>(character));
        payload.push_back(0);
        Deliver(Ack(0x42, 0x8013, payload));
    }
    device = dialog.GetDeviceInformation();
    EXPECT_EQ(device.fsCanConnections, 1);
    EXPECT_EQ(device.ffCanConnections, 2);
    EXPECT_EQ(device.lbusConnections, 3);
    EXPECT_EQ(device.emergencyButtonState, 4);
    EXPECT_EQ(device.expectedExpanderCount, 11);
    EXPECT_EQ(device.receivedExpanderCount, 11); // the eleventh is counted but not stored
    EXPECT_EQ(device.expanders[9].type, 0x29);
    EXPECT_STREQ(device.expanders[9].version, "V 02.09.00");

    UseProtocol(5);
    Deliver(SimAnswers(Hardware("Ombra"), 5,
        [](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqGetOmbraDeviceInfo(b); })
            .at(0));
    device = dialog.GetDeviceInformation();
    EXPECT_EQ(device.ombraPresent, 1);
    EXPECT_STREQ(device.ombraVersion, "V 04.00.00");
}

TEST_F(Routing, ReadyFlags)
{
    struct Case
    {
        const char* name;
        const char* hardware; // device information given first
        Bytes packet;
        std::vector<ReadyFlag> raised;
    };
    const Case cases[] = {
        { "KCPU switch", "QTR-1", Ack(0x42, 0x4011, { 0, 0x80, 3, 0 }), { READY_KCPU } },
        { "LCPU switch", "QTR-1", Ack(0x42, 0x4011, { 0, 0x80, 5, 0 }), { READY_LCPU } },
        { "CCPU switch", "QTR-1", Ack(0x42, 0x4011, { 0, 0x80, 7, 0 }), { READY_CCPU } },
        { "code 6 on VHX is the MCPU", "VHX-360", Ack(0x42, 0x4011, { 0, 0x80, 6, 0 }), { READY_MCPU } },
        { "code 6 on QTR is the ECPU", "QTR-2", Ack(0x42, 0x4011, { 0, 0x80, 6, 0 }), { READY_ECPU } },
        { "switch refused", "QTR-1", Ack(0x42, 0x4011, { 3, 0x80, 7, 0 }), {} },
        { "item 0x7F", "QTR-1", Ack(0x42, 0x4011, { 0, 0x7F }), { READY_ECPU } },
        { "expander update accepted", "QTR-1", Ack(0x42, 0x4014, { 0 }), { READY_ECPU } },
        { "expander update refused", "QTR-1", Ack(0x42, 0x4014, { 3 }), {} },
        { "control notification", "QTR-1", Ack(0x42, 0x8011, { 0, 0x7F }), { READY_ECPU } },
        { "control notification with an error", "QTR-1", Ack(0x42, 0x8011, { 1, 0x7F }), {} },
        { "RCPU switch", "QTR-1", Ack(0x42, 0x4C02, { 0 }), { READY_RCPU } },
        { "CCPU2 switch", "QTR-1", Ack(0x19, 0x4D02, { 0 }), { READY_CCPU } },
        { "Veltrix switch", "QTR-1", Ack(0x05, 0x4002, { 0 }), { READY_VELTRIX } },
        { "a switch answer without status", "QTR-1", Ack(0x42, 0x4C02, {}), {} },
    };
    for (const Case& c : cases) {
        RecordingView caseView;
        CUpdaterDlg caseDialog(caseView, link, commands, "./NoFirmware", log.Sink());
        queue.SetDialog(&caseDialog);
        Deliver(DeviceInfo(c.hardware));
        Deliver(c.packet);
        for (int flag = 0; flag < READY_FLAG_COUNT; ++flag) {
            const bool expected
                = std::find(c.raised.begin(), c.raised.end(), static_cast<ReadyFlag>(flag)) != c.raised.end();
            EXPECT_EQ(caseDialog.IsReady(static_cast<ReadyFlag>(flag)), expected) << c.name << ", flag " << flag;
        }
    }
    queue.SetDialog(&dialog);
}

TEST_F(Routing, AnOmbraSwitchAlsoRaisesTheRCPUFlag)
{
    UseProtocol(5);
    Deliver(SimAnswers(Hardware("Ombra"), 5,
        [](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqGetOmbraDeviceInfo(b); })
            .at(0));
    Deliver(Ack(0x85, 0x4002, { 0 }));
    EXPECT_TRUE(dialog.IsReady(READY_VELTRIX));
    EXPECT_TRUE(dialog.IsReady(READY_RCPU));
}

TEST_F(Routing, ModuleHandler)
{
    UseProtocol(0x4801);
    Bytes boardInfo(18, 0);
    boardInfo[3] = 1;
    const std::uint32_t word = CSimDevice::BoardInfoWord("V 03.03.04");
    std::memcpy(&boardInfo[7], &word, 4);
    Bytes moduleList { 1, 1, 100, 0, 100, 0, 203, 0, 0, 0, 0, 0, 0, 0 };

    dialog.ArmRequestStep(13);
    Deliver(ModuleAck('V', boardInfo));
    EXPECT_EQ(dialog.GetRequestStep(), 14);
    dialog.ArmRequestStep(17);
    Deliver(ModuleAck('L', moduleList));
    EXPECT_EQ(dialog.GetRequestStep(), 18);
    const DeviceInformation device = dialog.GetDeviceInformation();
    EXPECT_EQ(device.boardInfoReceived, 1);
    EXPECT_STREQ(device.mcpuVersion, "V 03.03.04");
    EXPECT_EQ(device.moduleListReceived, 1);
    EXPECT_EQ(device.canDriversFound, 1);
    EXPECT_STREQ(device.canDriverVersion, "V 02.03.00");

    struct Case
    {
        const char* name;
        Bytes packet;
        long first;
        long stepAfter;
    };
    const Case cases[] = {
        { "flash start confirmed", ModuleAck('C', { 'N' }), 2, 3 },
        { "flash piece confirmed", ModuleAck('C', { 'Q', 9 }), 4, 5 },
        { "flash finish confirmed", ModuleAck('C', { 'S' }), 6, 7 },
        { "piece confirmation while the start is awaited", ModuleAck('C', { 'Q', 9 }), 2, 2 },
        { "another letter", ModuleAck('C', { 'U' }), 2, 2 },
        { "confirmation without letter", ModuleAck('C', {}), 2, 2 },
    };
    for (const Case& c : cases) {
        dialog.ArmFlashStep(c.first);
        Deliver(c.packet);
        EXPECT_EQ(dialog.GetFlashStep(), c.stepAfter) << c.name;
    }
    EXPECT_EQ(dialog.GetEchoedPacketNumber(), 9);
}
