#include "zel/foundation/ZELStatus.h"
#include "zel/plugins/CZELScriva.h"

#include "log/ZELLogCapture.h"
#include "support/ZELTestPackets.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <string>
#include <vector>

using ZELTest::Bytes;
using ZELTest::CCPUPacket;
using ZELTest::Join;
using ZELTest::MCPUPacket;
using ZELTest::Text;

namespace {

const auto* const g_scaled = ::testing::AddGlobalTestEnvironment(new ZELTest::ScaledTimesEnvironment(100));

Bytes LE16(std::uint16_t value) { return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8)}; }

Bytes LE32(std::uint32_t value)
{
    return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
        static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

Bytes F32(float value) { return LE32(std::bit_cast<std::uint32_t>(value)); }

Bytes Raw(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes Ccpu(std::uint16_t id, const Bytes& payload) { return CCPUPacket(0x42, id, payload); }

// A module record of the MCPU module list: id, board, boot and main version, six further bytes.
Bytes Module(std::uint8_t id, std::uint16_t board, std::uint16_t boot, std::uint16_t main)
{
    return Join({{id}, LE16(board), LE16(boot), LE16(main), Bytes(6, 0)});
}

// An MCPU read-parameters answer: zero values at packet bytes 32-36, EFO values at 38-42.
Bytes ReadParams()
{
    Bytes payload(40, 0);
    const std::int16_t values[] = {1, 2, 3, -4, -5, -6};
    for (std::size_t i = 0; i < 6; ++i) {
        const Bytes value = LE16(static_cast<std::uint16_t>(values[i]));
        payload[28 + 2 * i] = value[0];
        payload[29 + 2 * i] = value[1];
    }
    return MCPUPacket(0x3E, 0x21, payload);
}

struct Row
{
    const char* name;
    Bytes packet;
    const char* text; // "" where the packet must leave the buffer empty
};

std::string Render(const Bytes& packet, long* result = nullptr)
{
    CZELScriva scriva;
    const long status = scriva.DumpAcknowledgeOrNotification(packet.data(), packet.size());
    if (result)
        *result = status;
    return scriva.GetScriva();
}

const std::vector<Row>& DispatchTable()
{
    static const std::vector<Row> rows = {
        // CCPU
        {"read memory", Ccpu(0x0006, Join({{0, 1, 2}, LE32(4096), {0xAA, 0xBB}})),
            "CCPU_CMD_ID_ACK_READ_MEMORY; internal status; 0; status; 0; memory; 1; length; 2; start address; 4096"},
        {"read memory acknowledgement id", Ccpu(0x4006, {3}),
            "CCPU_CMD_ID_ACK_READ_MEMORY; internal status; 0; status; 3; memory; 0; length; 0; start address; 0"},
        {"device info",
            Ccpu(0x4001, Join({{2}, LE16(0x1001), Text("H1"), Text("S1"), Text("M1"), Text("E1"), Text("C1"),
                             Text("K1"), Text("L1"), Text("R1"), Text("W1")})),
            "CCPU_CMD_ID_ACK_GET_DEVICE_INFO; internal status; 0; protocol version; 0x02; hardware type; 0x1001; "
            "QTR-2; hardware version; H1; serial number; S1; MCPU version; M1; ECPU version; E1; CCPU version; C1; "
            "KCPU version; K1; LCPU version; L1; RCPU version; R1; WCPU version; W1"},
        {"status list", Ccpu(0x4002, {0, 2, 0x81}),
            "CCPU_CMD_ID_ACK_GET_STATUS; internal status; 0; status count; 3; status 1; STATUS_SUCCESS; status 2; "
            "STATUS_INVALID_CHECKSUM; status 3; 129 - unknown status code"},
        {"dump settings", Ccpu(0x4003, {0}), "CCPU_CMD_ID_ACK_DUMP_SETTINGS; internal status; 0; status; 0"},
        {"dump settings too long", Ccpu(0x4003, {4, 0}),
            "CCPU_CMD_ID_ACK_DUMP_SETTINGS; internal status; -27; status; 4"},
        {"prepare update", Ccpu(0x4004, {0, 1, 2, 2}),
            "CCPU_CMD_ID_ACK_PREPARE_FIRMWARE_UPDATE; internal status; 0; FS CAN connections; 0; FF CAN connections; "
            "1; LBUS connections; 2; emergency button; not pressed"},
        {"prepare update too short", Ccpu(0x4004, {0}),
            "CCPU_CMD_ID_ACK_PREPARE_FIRMWARE_UPDATE; internal status; -27; FS CAN connections; 255; FF CAN "
            "connections; 255; LBUS connections; 255; emergency button; ???"},
        {"control", Ccpu(0x4011, {0, 128, 0x18, 0x00}),
            "CCPU_CMD_ID_ACK_CONTROL; internal status; 0; status count; 1; status; 0; property; 0x80; Update "
            "Firmware; value; 24"},
        {"control unknown property", Ccpu(0x4011, {3, 99}),
            "CCPU_CMD_ID_ACK_CONTROL; internal status; 0; status count; 1; status; 3; property; 0x63; 99 - unknown "
            "property; value; 0"},
        {"expanders", Ccpu(0x4013, {2}), "CCPU_CMD_ID_ACK_GET_EXPANDERS; internal status; 0; expander count; 2"},
        {"update expander", Ccpu(0x4014, {}), "CCPU_CMD_ID_ACK_UPDATE_EXPANDER; internal status; 0;"},
        {"send firmware refused", Ccpu(0x4015, {3}), "CCPU_CMD_ID_ACK_SEND_FIRMWARE; internal status; 3;"},
        {"send firmware accepted", Ccpu(0x4015, {0}), ""},
        {"MCPU mode", Ccpu(0x401F, {0, 2}), "CCPU_CMD_ID_ACK_SET_MCPU_MODE; internal status; 0; status; 0; MCPU mode; 2"},
        {"read profile", Ccpu(0x402C, Join({{0, 3, 1}, Bytes(121, 0)})),
            "CCPU_CMD_ID_ACK_READ_PROFILE; internal status; 0; status; 0; profile; 3; page; 1"},
        {"read profile error answer", Ccpu(0x402C, {4}),
            "CCPU_CMD_ID_ACK_READ_PROFILE; internal status; 0; status; 4; profile; 0; page; 0"},
        {"read assignments", Ccpu(0x402E, Join({{0, 2}, LE16(0x1234)})),
            "CCPU_CMD_ID_ACK_READ_ASSIGNMENTS; internal status; 0; status; 0; profile; 2"},
        {"set hardware info", Ccpu(0x4051, {0}), "CCPU_CMD_ID_ACK_SET_HARDWARE_INFO; internal status; 0; status; 0"},
        {"set hardware info length 2", Ccpu(0x4051, {0, 0}),
            "CCPU_CMD_ID_ACK_SET_HARDWARE_INFO; internal status; -27; status; 0"},
        {"get hardware info", Ccpu(0x4052, Join({LE16(0x2000), Text("HV1"), Text("SN1")})),
            "CCPU_CMD_ID_ACK_GET_HARDWARE_INFO; internal status; 0; hardware type; 0x2000; VHX-3; hardware version; "
            "HV1; serial number; SN1"},
        {"set production info", Ccpu(0x4053, {1}), "CCPU_CMD_ID_ACK_SET_PRODUCTION_INFO; internal status; 0; status; 1"},
        {"get production info", Ccpu(0x4054, Join({Text("2024-01-02"), Text("ann")})),
            "CCPU_CMD_ID_ACK_GET_PRODUCTION_INFO; internal status; 0; production date; 2024-01-02; production user; "
            "ann"},
        {"KCPU info", Ccpu(0x4A01, Join({{1}, LE16(0x1000), Text("V 01.00.00")})),
            "KCPU_CMD_ID_REQ_GET_KCPU_INFO; internal status; 0; protocol version; 0x01; hardware type; 0x1000; "
            "QTR-1; KCPU version; V 01.00.00"},
        {"ECPU info", Ccpu(0x4B01, Join({{1}, LE16(0x0021), Text("V 02.00.00")})),
            "ECPU_CMD_ID_REQ_GET_ECPU_INFO; internal status; 0; protocol version; 0x01; hardware type; 0x0021; "
            "Joystick T001_1; ECPU version; V 02.00.00"},
        {"zero offset one channel", Ccpu(0x4B21, Join({{0}, F32(1.5f)})),
            "ECPU_CMD_ID_ACK_SET_ECPU_PWM_ZERO_OFFSET; Rocker; internal status; 0; Zero Offset: 1.5"},
        {"zero offset two channels", Ccpu(0x4B21, Join({{0}, F32(1.5f), F32(-2.5f)})),
            "ECPU_CMD_ID_ACK_SET_ECPU_PWM_ZERO_OFFSET; Joystick; internal status; 0; Zero Offset_1: 1.5; Zero "
            "Offset_2: -2.5"},
        {"zero offset length 7", Ccpu(0x4B21, Join({{0}, F32(1.5f), {1, 2}})),
            "ECPU_CMD_ID_ACK_SET_ECPU_PWM_ZERO_OFFSET; Joystick; internal status; -27; Zero Offset_1: 1.5; Zero "
            "Offset_2: 0.0"},
        {"zero offset too short", Ccpu(0x4B21, {0, 1}),
            "ECPU_CMD_ID_ACK_SET_ECPU_PWM_ZERO_OFFSET; Rocker; internal status; -27; Zero Offset: 0.0"},
        {"min max one channel", Ccpu(0x4B22, Join({{0}, F32(10), F32(90)})),
            "ECPU_CMD_ID_ACK_SET_ECPU_PWM_MIN_MAX; Rocker; internal status; 0; DutyCycleMin: 10.0; DutyCycleMax: 90.0"},
        {"min max two channels", Ccpu(0x4B22, Join({{0}, F32(10), F32(90), F32(20), F32(80)})),
            "ECPU_CMD_ID_ACK_SET_ECPU_PWM_MIN_MAX; Joystick; internal status; 0; DutyCycleMin_1: 10.0; "
            "DutyCycleMax_1: 90.0; DutyCycleMin_2: 20.0; DutyCycleMax_2: 80.0"},
        {"calibration one channel", Ccpu(0x4B23, Join({{0, 1, 1}, F32(5), F32(95), F32(50)})),
            "ECPU_CMD_ID_ACK_GET_ECPU_PWM_CALIBRATION; Rocker; internal status; 0; MinMaxCalibrated: 1; "
            "ZeroCalibrated: 1; DutyCycleMin: 5.0; DutyCycleMax: 95.0; DutyCycleOffset: 50.0"},
        {"calibration two channels",
            Ccpu(0x4B23, Join({{0, 1, 0}, F32(5), F32(95), F32(50), {0, 1}, F32(6), F32(94), F32(49)})),
            "ECPU_CMD_ID_ACK_GET_ECPU_PWM_CALIBRATION; Joystick; internal status; 0; MinMaxCalibrated_1: 1; "
            "ZeroCalibrated_1: 0; DutyCycleMin_1: 5.0; DutyCycleMax_1: 95.0; DutyCycleOffset_1: 50.0; \r\n "
            "MinMaxCalibrated_2: 0; ZeroCalibrated_2: 1; DutyCycleMin_2: 6.0; DutyCycleMax_2: 94.0; "
            "DutyCycleOffset_2: 49.0"},
        {"encoder min max", Ccpu(0x4B24, Join({{0}, LE32(100), LE32(4000000000U)})),
            "ECPU_CMD_ID_ACK_SET_ECPU_ENCODER_MIN_MAX; Wheel; internal status; 0; Encoder1_Min: 100; Encoder1_Max: "
            "4000000000"},
        {"encoder calibration", Ccpu(0x4B25, Join({{0, 1}, LE32(5), LE32(6)})),
            "ECPU_CMD_ID_ACK_GET_ECPU_ENCODER_CALIBRATION; Wheel; internal status; 0; Encoder1_Calibrated: 1; "
            "Encoder1_Min: 5; Encoder1_Max: 6"},
        {"ECPU set hardware info", Ccpu(0x4B51, {0}),
            "ECPU_CMD_ID_ACK_SET_HARDWARE_INFO; internal status; 0; status; 0"},
        {"ECPU get hardware info", Ccpu(0x4B52, Join({LE16(0x0041), Text("HV"), Text("SN")})),
            "ECPU_CMD_ID_ACK_GET_HARDWARE_INFO; internal status; 0; hardware type; 0x0041; Wheel T001_1; hardware "
            "version; HV; serial number; SN"},
        {"ECPU set production info", Ccpu(0x4B53, {0}),
            "ECPU_CMD_ID_ACK_SET_PRODUCTION_INFO; internal status; 0; status; 0"},
        {"ECPU get production info", Ccpu(0x4B54, Join({Text("d"), Text("u")})),
            "ECPU_CMD_ID_ACK_GET_PRODUCTION_INFO; internal status; 0; production date; d; production user; u"},
        {"RCPU device info", Ccpu(0x4C01, Join({{2}, LE16(0x3001), Text("R 1.0"), Text("M 2.0"), {5, 1, 22}})),
            "RCPU_CMD_ID_ACK_GET_DEVICE_INFO; internal status; 0; protocol version; 0x02; modem type; 0x3001; "
            "EMIP400; RCPU version; R 1.0; RCPU modem version; M 2.0; channel; 5; region; 1; Europe; power; 22; "
            "160 mW"},
        {"RCPU boot loader", Ccpu(0x4C02, {0}),
            "RCPU_CMD_ID_ACK_SWITCH_TO_BOOT_LOADER; internal status; 0; status; 0"},
        {"RCPU control", Ccpu(0x4C11, {0, 4}),
            "RCPU_CMD_ID_ACK_CONTROL; internal status; 0; status count; 2; status 1; STATUS_SUCCESS; status 2; "
            "STATUS_BUSY"},
        {"RCPU set modem config", Ccpu(0x4C15, {0}),
            "RCPU_CMD_ID_ACK_SET_MODEM_CONFIG; internal status; 0; status; 0"},
        {"RCPU get modem config", Ccpu(0x4C16, Join({{2, 20}, LE32(7)})),
            "RCPU_CMD_ID_ACK_GET_MODEM_CONFIG; internal status; 0; mode; 2; Slave; power; 20; 100 mW; link; 7"},
        {"RCPU get modem config too short", Ccpu(0x4C16, {2, 20, 7}),
            "RCPU_CMD_ID_ACK_GET_MODEM_CONFIG; internal status; -27; mode; 0; Master; power; 0; ???; link; 0"},
        {"RCPU set hardware info", Ccpu(0x4C51, {0}),
            "RCPU_CMD_ID_ACK_SET_HARDWARE_INFO; internal status; 0; status; 0"},
        {"RCPU get hardware info", Ccpu(0x4C52, Join({LE16(0x3002), Text("HV"), Text("SN")})),
            "RCPU_CMD_ID_ACK_GET_HARDWARE_INFO; internal status; 0; modem type; 0x3002; hardware version; HV; serial "
            "number; SN"},
        {"RCPU set production info", Ccpu(0x4C53, {0}),
            "RCPU_CMD_ID_ACK_SET_PRODUCTION_INFO; internal status; 0; status; 0"},
        {"RCPU get production info", Ccpu(0x4C54, Join({Text("d"), Text("u")})),
            "RCPU_CMD_ID_ACK_GET_PRODUCTION_INFO; internal status; 0; production date; d; production user; u"},
        {"RCPU set region", Ccpu(0x4C55, {0}), "RCPU_CMD_ID_ACK_SET_REGION; internal status; 0; status; 0"},
        {"RCPU get region", Ccpu(0x4C56, {0xE0}),
            "RCPU_CMD_ID_ACK_GET_REGION; internal status; 0; region; 0xE0; North America"},
        {"status notification", Ccpu(0x8002, {0x02, 0x0A, 0x00, 0x1A, 0x01, 0x00, 0x00, 0x00}),
            "CCPU_CMD_ID_NOT_STATUS; internal status; 0; property count; 2; MCPU Monitoring Interval 1; 10; I2C "
            "Errors; 1"},
        {"status notification with unknown property", Ccpu(0x8002, {0x02, 0x0A, 0x00, 0x63, 0x7D, 0x05}),
            "CCPU_CMD_ID_NOT_STATUS; internal status; 0; property count; 3; MCPU Monitoring Interval 1; 10; 99 - "
            "unknown property; 99 - unknown property; I2C Multiplexer; 0x05"},
        {"expander notification", Ccpu(0x8013, Join({{1}, LE16(0x0051), Text("V 01.02.03")})),
            "CCPU_CMD_ID_NOT_EXPANDER; internal status; 0; count; 1; type; 0x0051; Rocker T001_1; version; V "
            "01.02.03"},
        {"expanders finished", Ccpu(0x8016, {}), "CCPU_CMD_ID_NOT_EXPANDER_FINISHED; internal status; 0;"},
        {"carried MCPU packet", Ccpu(0x801F, {0x3E, 0x4C, 0x01, 0x4D, 0x00, 0x00}),
            "CCPU_CMD_ID_NOT_MCPU; internal status; 0; command; 0x4C; 76; length; 1"},
        {"RCPU info notification", Ccpu(0x8C01, Join({LE16(0x3003), Text("P 1.2")})),
            "RCPU_CMD_ID_NOT_RCPU_INFO; internal status; 0; modem type; 0x3003; p2400; modem version; P 1.2"},
        {"RCPU status EMIP400", Ccpu(0x8C02, Join({LE16(0x3001), {1, 2, 1, 5, 3, 0xF6}})),
            "RCPU_CMD_ID_NOT_STATUS; internal status; 0; modem type; 0x3001; EMIP400; link state; 1; mode; 2; region; "
            "1; Europe; channel; 5; strategy; 3; strength; -10"},
        {"RCPU status n920", Ccpu(0x8C02, Join({LE16(0x3002), {1, 2, 6, 30, 1, 2, 5}})),
            "RCPU_CMD_ID_NOT_STATUS; internal status; 0; modem type; 0x3002; n920; link state; 1; region; 2; USA; "
            "channel; 6; power; 30; 1000 mW; saving state; 1; strategy; 2; strength; 5"},
        {"RCPU status other modem", Ccpu(0x8C02, LE16(0x0099)),
            "RCPU_CMD_ID_NOT_STATUS; internal status; 0; modem type; 0x0099; ???"},
        {"RCPU boot loader notification", Ccpu(0x8C07, {}),
            "RCPU_CMD_ID_NOT_SWITCH_TO_BOOT_LOADER; internal status; 0"},
        {"RCPU boot loader notification with data", Ccpu(0x8C07, {1}),
            "RCPU_CMD_ID_NOT_SWITCH_TO_BOOT_LOADER; internal status; -27"},
        {"RCPU modem config notification", Ccpu(0x8C15, {0}),
            "RCPU_CMD_ID_NOT_SET_MODEM_CONFIG; internal status; 0; status; 0"},
        {"debug BAFF", Ccpu(0xBAFF, Join({LE16(0x1234), {2}, Raw("hello")})),
            "CCPU_CMD_ID_NOT_DEBUG; internal status; 0; source; 0x1234; priority; 0x02; text; hello"},
        {"debug BBFF", Ccpu(0xBBFF, Join({LE16(0x0001), {0}, Raw("x")})),
            "CCPU_CMD_ID_NOT_DEBUG; internal status; 0; source; 0x0001; priority; 0x00; text; x"},
        {"debug BFFF", Ccpu(0xBFFF, Join({LE16(0x0002), {1}, Raw("y")})),
            "CCPU_CMD_ID_NOT_DEBUG; internal status; 0; source; 0x0002; priority; 0x01; text; y"},
        {"trace", Ccpu(0xBFFE, {1, 0, 2, 0}), ""},
        {"unknown CCPU command", Ccpu(0x4099, {0}), ""},
        // CCPU2
        {"CCPU2 device info", CCPUPacket(0x19, 0x4D01, Join({{1}, LE16(0x1080), Text("HV"), Text("SN"), Text("C2")})),
            "CCPU2_CMD_ID_ACK_GET_DEVICE_INFO; internal status; 0; protocol version; 0x01; hardware type; 0x1080; ZT "
            "Remote V2; hardware version; HV; serial number; SN; CCPU version; C2"},
        {"CCPU2 boot loader", CCPUPacket(0x19, 0x4D02, {0}),
            "CCPU2_CMD_ID_ACK_SWITCH_TO_BOOT_LOADER; internal status; 0; status; 0"},
        {"CCPU2 set hardware info", CCPUPacket(0x19, 0x4D51, {0}),
            "CCPU2_CMD_ID_ACK_SET_HARDWARE_INFO; internal status; 0; status; 0"},
        {"CCPU2 get hardware info", CCPUPacket(0x19, 0x4D52, Join({LE16(0x2001), Text("HV"), Text("SN")})),
            "CCPU2_CMD_ID_ACK_GET_HARDWARE_INFO; internal status; 0; hardware type; 0x2001; VHX-360; hardware "
            "version; HV; serial number; SN"},
        {"CCPU2 set production info", CCPUPacket(0x19, 0x4D53, {0}),
            "CCPU2_CMD_ID_ACK_SET_PRODUCTION_INFO; internal status; 0; status; 0"},
        {"CCPU2 get production info", CCPUPacket(0x19, 0x4D54, Join({Text("d"), Text("u")})),
            "CCPU2_CMD_ID_ACK_GET_PRODUCTION_INFO; internal status; 0; production date; d; production user; u"},
        {"CCPU2 debug", CCPUPacket(0x19, 0xBFFF, Join({LE16(0x0003), {4}, Raw("z")})),
            "CCPU_CMD_ID_NOT_DEBUG; internal status; 0; source; 0x0003; priority; 0x04; text; z"},
        {"CCPU2 command of the CCPU only", CCPUPacket(0x19, 0x4051, {0}), ""},
        // Veltrix box
        {"Veltrix device info", CCPUPacket(0x05, 0x4001, Join({{1}, LE16(0x0091), Text("V 03.00.00")})),
            "VELTRIX_CMD_ID_REQ_GET_DEVICE_INFO; internal status; 0; protocol version; 0x01; hardware type; 0x0091; "
            "Veltrix Box T001; Veltrix version; V 03.00.00"},
        {"Veltrix boot loader", CCPUPacket(0x05, 0x4002, {0}),
            "VELTRIX_CMD_ID_ACK_SWITCH_TO_BOOT_LOADER; internal status; 0; status; 0"},
        {"Veltrix current values",
            CCPUPacket(0x05, 0x80FF,
                Join({LE16(1), LE16(0xFFFE), LE16(3), LE16(0xFFFC), LE16(5), LE16(0xFFFA), LE16(7), LE16(8), LE16(9),
                    LE16(0xFFFF)})),
            "VELTRIX_CMD_ID_NOT_CURRENT_VALUES; Roll Encoder; 1; Roll IMU; -2; Tilt Encoder; 3; Tilt IMU; -4; Pan "
            "Encoder; 5; Pan IMU; -6; Focus; 7; Iris; 8; Zoom; 9; Tower; -1"},
        {"Veltrix debug", CCPUPacket(0x05, 0xBFFF, Join({LE16(0x0005), {1}, Raw("v")})),
            "CCPU_CMD_ID_NOT_DEBUG; internal status; 0; source; 0x0005; priority; 0x01; text; v"},
        // Ombra box
        {"Ombra device info", CCPUPacket(0x85, 0x4001, Join({{1}, LE16(0x0080), Text("V 01.00.00")})),
            "OMBRA_CMD_ID_REQ_GET_DEVICE_INFO; internal status; 0; protocol version; 0x01; hardware type; 0x0080; "
            "Ombra T001; Ombra version; V 01.00.00"},
        {"Ombra boot loader", CCPUPacket(0x85, 0x4002, {0}),
            "OMBRA_CMD_ID_ACK_SWITCH_TO_BOOT_LOADER; internal status; 0; status; 0"},
        {"Ombra current values", CCPUPacket(0x85, 0x80FF, Join({LE16(16), LE16(32), {1}})),
            "OMBRA_CMD_ID_NOT_CURRENT_VALUES; Position; 16; Range; 32; Calibration State; 1"},
        {"Ombra debug", CCPUPacket(0x85, 0xBFFF, Join({LE16(0x0006), {2}, Raw("o")})),
            "CCPU_CMD_ID_NOT_DEBUG; internal status; 0; source; 0x0006; priority; 0x02; text; o"},
        // MCPU
        {"read parameters", ReadParams(),
            "MCPU_CMD_ID_READ_ENCODER_CALIBRATION; internal status; 0; EFO; -4; -5; -6; zero; 1; 2; 3"},
        {"confirm name only", MCPUPacket(0x3E, 0x43, {0x1A}), "MCPU_CMD_ID_CALIBRATE_ZERO"},
        {"confirm with byte", MCPUPacket(0x3E, 0x43, {0x45, 11}), "MCPU_CMD_ID_CHANGE_MOTORS; 11"},
        {"confirm with word", MCPUPacket(0x3E, 0x43, Join({{0x55}, LE16(10000)})),
            "MCPU_CMD_ID_CHANGE_UPDATE_INTERVAL; 10000"},
        {"confirm EFO", MCPUPacket(0x3E, 0x43, {0x1B}), "MCPU_CMD_ID_CALIBRATE_EFO"},
        {"confirm encoder calibration", MCPUPacket(0x3E, 0x43, {0x22}), "MCPU_CMD_ID_WRITE_ENCODER_CALIBRATION"},
        {"confirm unknown command", MCPUPacket(0x3E, 0x43, {0x99}), ""},
        {"confirm of length 4", MCPUPacket(0x3E, 0x43, {0x1A, 0, 0, 0}), ""},
        {"module list", MCPUPacket(0x3E, 0x4C, Join({{1}, Module(2, 102, 257, 1234)})),
            "MCPU_CMD_ID_ACK_GET_MODULE_LIST; internal status; 0; found modules; 1\r\n#2; board; V 01.02.00; boot; V "
            "02.57.00; main; V 12.34.00"},
        {"module list beyond three modules",
            MCPUPacket(0x3E, 0x4C,
                Join({{4}, Module(1, 101, 101, 101), Module(2, 102, 102, 102), Module(3, 103, 103, 103),
                    Module(4, 104, 104, 104)})),
            "MCPU_CMD_ID_ACK_GET_MODULE_LIST; internal status; -22; found modules; 4\r\n#1; board; V 01.01.00; boot; "
            "V 01.01.00; main; V 01.01.00\r\n#2; board; V 01.02.00; boot; V 01.02.00; main; V 01.02.00\r\n#3; board; "
            "V 01.03.00; boot; V 01.03.00; main; V 01.03.00"},
        {"module list cut short", MCPUPacket(0x3E, 0x4C, Join({{2}, Module(1, 101, 101, 101), {9}})),
            "MCPU_CMD_ID_ACK_GET_MODULE_LIST; internal status; -27; found modules; 2\r\n#1; board; V 01.01.00; boot; "
            "V 01.01.00; main; V 01.01.00"},
        {"board info", MCPUPacket(0x3E, 0x56, Join({{0, 0, 0, 5, 0, 0, 0}, LE32(20304), Bytes(7, 0)})),
            "MCPU_CMD_ID_ACK_GET_DEVICE_INFO; internal status; 0; MCPU state; 0x05; MCPU version; V 01.02.03;"},
        {"reset", MCPUPacket(0x3E, 0x72, {}), "MCPU_CMD_ID_RESET; internal status; 0"},
        {"reset over CRC framing", MCPUPacket(0x24, 0x72, {}), "MCPU_CMD_ID_RESET; internal status; 0"},
        {"error", MCPUPacket(0x3E, 0xFF, Join({{0x07}, LE32(0x12)})),
            "MCPU_CMD_ID_ERROR; internal status; 0; code; 0x07; data; 0x0012"},
        {"error too short", MCPUPacket(0x3E, 0xFF, {0x07}),
            "MCPU_CMD_ID_ERROR; internal status; -27; code; 0x00; data; 0x0000"},
        {"custom real-time data", MCPUPacket(0x3E, 0x58, Bytes(11, 0)), ""},
    };
    return rows;
}

} // namespace

TEST(CZELScriva, RendersEveryRowOfTheDispatchTable)
{
    for (const Row& row : DispatchTable()) {
        SCOPED_TRACE(row.name);
        long result = 1;
        EXPECT_EQ(Render(row.packet, &result), row.text);
        EXPECT_EQ(result, ZEL_STATUS_SUCCESS);
    }
}

TEST(CZELScriva, UnknownSourceAndUnknownCommandLeaveTheBufferAsItWas)
{
    CZELScriva scriva;
    const Bytes known = Ccpu(0x4013, {2});
    ASSERT_EQ(scriva.DumpAcknowledgeOrNotification(known.data()), ZEL_STATUS_SUCCESS);
    const std::string before = scriva.GetScriva();
    ASSERT_FALSE(before.empty());

    Bytes unknownSource = Ccpu(0x4013, {2});
    unknownSource[0] = 0x07;
    EXPECT_EQ(scriva.DumpAcknowledgeOrNotification(unknownSource.data()), ZEL_STATUS_NOT_IMPLEMENTED);
    EXPECT_EQ(scriva.DumpAcknowledgeOrNotification(unknownSource.data(), unknownSource.size()),
        ZEL_STATUS_NOT_IMPLEMENTED);
    EXPECT_EQ(scriva.GetScriva(), before);

    const Bytes unknownCommand = Ccpu(0x4099, {0});
    EXPECT_EQ(scriva.DumpAcknowledgeOrNotification(unknownCommand.data()), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(scriva.GetScriva(), before);

    EXPECT_EQ(scriva.ClearScriva(), ZEL_STATUS_SUCCESS);
    EXPECT_STREQ(scriva.GetScriva(), "");
}

TEST(CZELScriva, PacketShorterThanItsHeaderAnnouncesIsNotRendered)
{
    const struct
    {
        const char* name;
        Bytes packet;
        std::size_t keep;
    } cases[] = {
        {"CCPU payload cut", Ccpu(0x4052, Join({LE16(0x2000), Text("HV1"), Text("SN1")})), 10},
        {"CCPU header cut", Ccpu(0x4051, {0}), 4},
        {"MCPU payload cut", MCPUPacket(0x3E, 0x4C, Join({{1}, Module(2, 102, 257, 1234)})), 9},
        {"MCPU CRC cut", MCPUPacket(0x24, 0x72, {}), 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CZELScriva scriva;
        const Bytes cut(c.packet.begin(), c.packet.begin() + static_cast<std::ptrdiff_t>(c.keep));
        EXPECT_EQ(scriva.DumpAcknowledgeOrNotification(cut.data(), cut.size()), ZEL_STATUS_INVALID_DATA);
        EXPECT_STREQ(scriva.GetScriva(), "");
    }
}

TEST(CZELScriva, TextLongerThanTheBufferIsCutAtItsEnd)
{
    // 1000 statuses render to far more than the buffer holds.
    const Bytes statuses(1000, 0x81);
    std::string full = "CCPU_CMD_ID_ACK_GET_STATUS; internal status; -22; status count; 1000";
    for (int i = 1; i <= 255; ++i)
        full += "; status " + std::to_string(i) + "; 129 - unknown status code";
    ASSERT_GT(full.size(), CZELScriva::kTextSize);

    CZELScriva scriva;
    const Bytes packet = Ccpu(0x4002, statuses);
    ASSERT_EQ(scriva.DumpAcknowledgeOrNotification(packet.data(), packet.size()), ZEL_STATUS_SUCCESS);
    const std::string text = scriva.GetScriva();
    EXPECT_EQ(text.size(), CZELScriva::kTextSize - 1);
    EXPECT_EQ(text, full.substr(0, CZELScriva::kTextSize - 1));

    // A copy into a smaller destination is cut to it as well.
    char small[8];
    std::memset(small, 'x', sizeof small);
    scriva.GetScriva(small, sizeof small);
    EXPECT_STREQ(small, "CCPU_CM");
}

TEST(CZELScriva, NamesStatusesAndProperties)
{
    CZELScriva scriva;
    const struct
    {
        std::uint8_t status;
        const char* text;
    } statuses[] = {{0, "STATUS_SUCCESS"}, {1, "STATUS_INVALID_LENGTH"}, {2, "STATUS_INVALID_CHECKSUM"},
        {3, "STATUS_INVALID_PARAMETER"}, {4, "STATUS_BUSY"}, {127, "STATUS_GENERAL_ERROR"},
        {5, "5 - unknown status code"}, {255, "255 - unknown status code"}};
    for (const auto& s : statuses)
        EXPECT_STREQ(scriva.GetStatusString(s.status), s.text);

    const struct
    {
        std::uint8_t property;
        Bytes value;
        const char* name;
        const char* text;
        std::uint8_t width;
    } properties[] = {
        {2, LE16(0xFFFF), "MCPU Monitoring Interval 1", "-1", 2},
        {3, LE16(300), "MCPU Monitoring Interval 2", "300", 2},
        {26, LE32(4000000000U), "I2C Errors", "4000000000", 4},
        {27, LE16(0xFFFF), "Loops per Second", "65535", 2},
        {125, {0x0A}, "I2C Multiplexer", "0x0A", 1},
        {128, LE16(0x1800), "Update Firmware", "0x1800", 2},
        {132, {0xFF}, "Dump EEPROM", "0xFF", 1},
        {133, {0x01}, "Emergency Button Type", "0x01", 1},
        {129, {0x01}, "129 - unknown property", "129 - unknown property", 0},
    };
    for (const auto& p : properties) {
        SCOPED_TRACE(p.name);
        std::uint8_t width = 99;
        EXPECT_STREQ(scriva.GetPropertyName(p.property), p.name);
        EXPECT_STREQ(scriva.GetPropertyValue(p.property, p.value.data(), &width), p.text);
        EXPECT_EQ(width, p.width);
    }
}

TEST(CZELScriva, SuccessfulAssignmentsAnswerLogsTheAssignmentTable)
{
    ZELTest::ScopedSystemLog log;
    Bytes words;
    for (std::uint16_t i = 0; i < CZELScriva::kAssignmentCount; ++i) {
        const Bytes word = LE16(i);
        words.insert(words.end(), word.begin(), word.end());
    }
    CZELScriva scriva;
    const Bytes refused = Ccpu(0x402E, Join({{3, 7}, words}));
    const Bytes answered = Ccpu(0x402E, Join({{0, 2}, words}));
    scriva.DumpAcknowledgeOrNotification(refused.data(), refused.size());
    scriva.DumpAcknowledgeOrNotification(answered.data(), answered.size());
    ASSERT_TRUE(log.sink.WaitForLine("Dump of assignments 2:\r\n"));
    EXPECT_EQ(log.sink.CountContaining("Dump of assignments"), 1U); // not for the refused answer, logged first

    const std::string line = log.sink.Lines().back();
    EXPECT_NE(line.find("\r\n[Roll]\r\naxis mode; 0x0000; setpoint mode; 0x0001\r\n"), std::string::npos);
    EXPECT_NE(line.find("\r\n[Tilt]\r\naxis mode; 0x0020; setpoint mode; 0x0021\r\nsetpoint; 0x0022;"),
        std::string::npos);
    EXPECT_NE(line.find("motor torque; 0x00D8; motor side; 0x00D9\r\n\r\n[Other]"), std::string::npos); // slider
    EXPECT_NE(line.find("[Other]\r\nfollow deadband; 0x00E0; follow ramp; 0x00E1\r\ndefault position; 0x00E2; true "
                        "horizon; 0x00E3\r\nRTP motors; 0x00E9;"),
        std::string::npos);
    EXPECT_NE(line.find("LED brightness; 0x00F5\r\ncontrols; 0x00F6"), std::string::npos);
    EXPECT_STREQ(scriva.GetScriva(), "CCPU_CMD_ID_ACK_READ_ASSIGNMENTS; internal status; 0; status; 0; profile; 2");
}

TEST(CZELScriva, ProfileDumpShowsScaledValues)
{
    ZELTest::ScopedSystemLog log;
    _CCPU_PROFILE profile;
    profile.settings.followDeadband = 32767;
    profile.axes[0].endStopMin = 16384;
    profile.axes[0].endStopMax = static_cast<std::uint16_t>(-8192);
    profile.axes[0].speedMultiplicator = 32767;
    profile.axes[1].p = static_cast<std::uint16_t>(-32767);
    profile.lensAxes[2].speedMultiplicator = 16384;
    profile.slider.endStopMax = 16384;
    profile.assignments.values[8] = 0xBEEF;
    CZELScriva scriva;
    EXPECT_EQ(scriva.DumpCCPUProfile(4, &profile), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(scriva.DumpCCPUProfile(4, nullptr), ZEL_STATUS_INVALID_PARAMETER);
    ASSERT_TRUE(log.sink.WaitForLine("Dump of profile 4:\r\n"));

    const std::string line = log.sink.Lines().back();
    for (const char* expected : {
             "\r\n[Settings]\r\nenable controls; 0\r\n",
             "follow deadband; 32767; 100.0\r\n",
             "\r\n[Roll]\r\nP; 0; 0.0\r\n",
             "end stop min; 16384; 360.0\r\nend stop max; -8192; -180.0;\r\nspeed multiplicator; 32767; 100.0\r\n",
             "\r\n[Tilt]\r\nP; -32767; -100.0\r\n",
             "\r\n[Zoom]\r\nmotor mode; 0\r\ntorque; 0\r\nside; 0\r\nspeed multiplicator; 16384; 50.0\r\n",
             "\r\n[Slider]\r\nmotor mode; 0\r\nend stop min; 0\r\nend stop max; 16384\r\n",
             "\r\n[Assignments]\r\n0; 0x0000;\t",
             "7; 0x0000;\t\r\n8; 0xBEEF;\t",
             "253; 0x0000;\t",
         })
        EXPECT_NE(line.find(expected), std::string::npos) << expected;
    EXPECT_STREQ(scriva.GetScriva(), ""); // the dumps leave the text buffer alone
}
