// Arbitrary packets for every parser. The packet is laid into a buffer of exactly its announced length and
// every output buffer has exactly the size the parser is told, so any read or write beyond them is caught.
//
// Input: byte 0 selects the parser, byte 1 the size of string buffers and capacities, the rest is the payload.
#include "zel/commands/CZELCommandSet.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace {

struct Outputs
{
    explicit Outputs(std::uint8_t size)
        : size(size)
    {
        for (auto& text : texts)
            text.resize(size);
        bytes.resize(size);
        words.resize(size);
    }
    char* Text(int i) { return texts[i].empty() ? nullptr : texts[i].data(); }

    std::uint8_t size;
    std::vector<char> texts[9];
    std::vector<std::uint8_t> bytes;
    std::vector<std::uint16_t> words;
    std::uint8_t u8[10] = {};
    std::uint16_t u16[4] = {};
    std::uint32_t u32[2] = {};
    std::int8_t s8 = 0;
    std::int16_t s16[10] = {};
    float f[4] = {};
    char expanderVersion[33] = {};
    _ECPU_PWM_CALIBRATION calibration[2];
    _MCPU_CAN_DRIVER drivers[8];
    _MCPU_REALTIME_DATA3 realtime;
    _MCPU_REALTIME_GROUP groups[3];
    _CCPU_PROFILE profile;
};

using Parser = std::function<void(CZELCommandSet&, std::uint8_t*, Outputs&)>;

// Parsers of the CCPU family, then of the MCPU family (from kFirstMCPU on).
const std::vector<Parser>& Parsers()
{
    using C = CZELCommandSet;
    static const std::vector<Parser> parsers = {
        [](C& c, std::uint8_t* p, Outputs& o) {
            c.ProcessAckGetDeviceInfo(p, &o.u8[0], &o.u16[0], o.Text(0), o.Text(1), o.Text(2), o.Text(3), o.Text(4),
                o.Text(5), o.Text(6), o.Text(7), o.Text(8), o.size);
        },
        [](C& c, std::uint8_t* p, Outputs& o) { c.ProcessAckPrepareFirmwareUpdate(p, &o.u8[0], &o.u8[1], &o.u8[2], &o.u8[3]); },
        [](C& c, std::uint8_t* p, Outputs& o) {
            c.ProcessAckGetCCPU2DeviceInfo(p, &o.u8[0], &o.u16[0], o.Text(0), o.Text(1), o.Text(2), o.size);
        },
        [](C& c, std::uint8_t* p, Outputs& o) {
            c.ProcessAckGetRCPUDeviceInfo(p, &o.u8[0], &o.u16[0], o.Text(0), o.Text(1), &o.u8[1], &o.u8[2], &o.u8[3], o.size);
        },
        [](C& c, std::uint8_t* p, Outputs& o) { c.ProcessAckGetVeltrixDeviceInfo(p, &o.u8[0], &o.u16[0], o.Text(0), o.size); },
        [](C& c, std::uint8_t* p, Outputs& o) { c.ProcessAckGetOmbraDeviceInfo(p, &o.u8[0], &o.u16[0], o.Text(0), o.size); },
        [](C& c, std::uint8_t* p, Outputs& o) { c.ProcessAckGetExpanders(p, &o.u8[0]); },
        [](C& c, std::uint8_t* p, Outputs&) { c.ProcessAckUpdateExpander(p); },
        [](C& c, std::uint8_t* p, Outputs& o) { c.ProcessAckSendFirmware(p, &o.u8[0]); },
        [](C& c, std::uint8_t* p, Outputs&) { c.ProcessAckSendFirmware(p); },
        [](C& c, std::uint8_t* p, Outputs& o) { c.ProcessAckSetMCPUMode(p, &o.u8[0], &o.u8[1]); },
        [](C& c, std::uint8_t* p, Outputs& o) { c.ProcessNotControl(p, &o.u8[0], &o.u8[1]); },
        [](C& c, std::uint8_t* p, Outputs& o) { c.ProcessNotExpander(p, &o.u8[0], &o.u16[0], o.expanderVersion); },
        [](C& c, std::uint8_t* p, Outputs&) { c.ProcessNotExpanderFinished(p); },
        [](C& c, std::uint8_t* p, Outputs& o) { c.ProcessAckDumpSettings(p, &o.u8[0]); },
        [](C& c, std::uint8_t* p, Outputs& o) { c.ProcessAckGetECPUInfo(p, &o.u8[0], &o.u16[0], o.Text(0), o.size); },
        [](C& c, std::uint8_t* p, Outputs& o) { c.ProcessAckGetKCPUInfo(p, &o.u8[0], &o.u16[0], o.Text(0), o.size); },
        [](C& c, std::uint8_t* p, Outputs& o) { c.ProcessAckSetECPUPWMZeroOffset(p, &o.u8[0], &o.f[0], &o.f[1], o.size); },
        [](C& c, std::uint8_t* p, Outputs& o) {
            c.ProcessAckSetECPUPWMMinMax(p, &o.u8[0], &o.f[0], &o.f[1], &o.f[2], &o.f[3], o.size);
        },
        [](C& c, std::uint8_t* p, Outputs& o) {
            c.ProcessAckGetECPUPWMCalibration(p, &o.u8[0], &o.calibration[0], &o.calibration[1]);
        },
        [](C& c, std::uint8_t* p, Outputs& o) { c.ProcessAckSetECPUEncoderMinMax(p, &o.u8[0], &o.u32[0], &o.u32[1], o.size); },
        [](C& c, std::uint8_t* p, Outputs& o) {
            c.ProcessAckGetECPUEncoderCalibration(p, &o.u8[0], &o.u8[1], &o.u32[0], &o.u32[1], o.size);
        },
        [](C& c, std::uint8_t* p, Outputs& o) { c.ProcessAckGetStatus(p, &o.u8[0], o.bytes.data(), o.size); },
        [](C& c, std::uint8_t* p, Outputs& o) { c.ProcessAckControl(p, &o.u8[0], &o.u8[1], &o.u8[2], &o.u8[3]); },
        [](C& c, std::uint8_t* p, Outputs& o) {
            c.ProcessAckReadMemory(p, &o.u8[0], &o.u8[1], &o.u8[2], &o.u32[0], o.bytes.data(), o.size);
        },
        [](C& c, std::uint8_t* p, Outputs& o) { c.ProcessRCPUAckControl(p, &o.u8[0], o.bytes.data(), o.size); },
        [](C& c, std::uint8_t* p, Outputs& o) { c.ProcessAckReadProfile(p, &o.u8[0], &o.u8[1], &o.u8[2], &o.profile); },
        [](C& c, std::uint8_t* p, Outputs& o) {
            std::uint16_t count = o.size;
            c.ProcessAckReadAssignments(p, &o.u8[0], &o.u8[1], o.words.data(), &count);
        },
        [](C& c, std::uint8_t* p, Outputs& o) { c.ProcessAckSetHardwareInfo(p, &o.u8[0]); },
        [](C& c, std::uint8_t* p, Outputs& o) { c.ProcessAckGetHardwareInfo(p, &o.u16[0], o.Text(0), o.Text(1), o.size); },
        [](C& c, std::uint8_t* p, Outputs& o) { c.ProcessAckGetCCPU2HardwareInfo(p, &o.u16[0], o.Text(0), o.Text(1), o.size); },
        [](C& c, std::uint8_t* p, Outputs& o) { c.ProcessAckGetECPUHardwareInfo(p, &o.u16[0], o.Text(0), o.Text(1), o.size); },
        [](C& c, std::uint8_t* p, Outputs& o) { c.ProcessAckGetRCPUHardwareInfo(p, &o.u16[0], o.Text(0), o.Text(1), o.size); },
        [](C& c, std::uint8_t* p, Outputs& o) { c.ProcessAckGetProductionInfo(p, o.Text(0), o.Text(1), o.size); },
        [](C& c, std::uint8_t* p, Outputs& o) { c.ProcessAckGetCCPU2ProductionInfo(p, o.Text(0), o.Text(1), o.size); },
        [](C& c, std::uint8_t* p, Outputs& o) { c.ProcessAckGetECPUProductionInfo(p, o.Text(0), o.Text(1), o.size); },
        [](C& c, std::uint8_t* p, Outputs& o) { c.ProcessAckGetRCPUProductionInfo(p, o.Text(0), o.Text(1), o.size); },
        [](C& c, std::uint8_t* p, Outputs& o) { c.ProcessAckGetRCPUModemConfig(p, &o.u8[0], &o.u8[1], &o.u32[0]); },
        [](C& c, std::uint8_t* p, Outputs& o) { c.ProcessAckGetRCPURegion(p, &o.u8[0]); },
        [](C& c, std::uint8_t* p, Outputs& o) { c.ProcessCCPU2AckSwitchToBootLoader(p, &o.u8[0]); },
        [](C& c, std::uint8_t* p, Outputs& o) { c.ProcessRCPUAckSwitchToBootLoader(p, &o.u8[0]); },
        [](C& c, std::uint8_t* p, Outputs&) { c.ProcessRCPUNotSwitchToBootLoader(p); },
        [](C& c, std::uint8_t* p, Outputs& o) { c.ProcessRCPUNotSetModemConfig(p, &o.u8[0]); },
        [](C& c, std::uint8_t* p, Outputs& o) { c.ProcessRCPUNotInfo(p, &o.u16[0], o.Text(0), o.size); },
        [](C& c, std::uint8_t* p, Outputs& o) {
            c.ProcessRCPUNotStatus(p, &o.u16[0], &o.u8[0], &o.u8[1], &o.u8[2], &o.u8[3], &o.u8[4], &o.u8[5], &o.u8[6], &o.s8);
        },
        [](C& c, std::uint8_t* p, Outputs& o) {
            std::int16_t* s = o.s16;
            c.ProcessVeltrixNotCurrentValues(p, &s[0], &s[1], &s[2], &s[3], &s[4], &s[5], &o.u16[0], &o.u16[1], &o.u16[2],
                &o.u16[3]);
        },
        [](C& c, std::uint8_t* p, Outputs& o) { c.ProcessOmbraNotCurrentValues(p, &o.u16[0], &o.u16[1], &o.u8[0]); },
        [](C& c, std::uint8_t* p, Outputs& o) { c.ProcessVeltrixAckSwitchToBootLoader(p, &o.u8[0]); },
        [](C& c, std::uint8_t* p, Outputs& o) { c.ProcessOmbraAckSwitchToBootLoader(p, &o.u8[0]); },
        [](C& c, std::uint8_t* p, Outputs& o) {
            c.ProcessNotStatus(p, &o.u8[0], o.bytes.data(), o.size, reinterpret_cast<std::uint8_t*>(o.words.data()),
                static_cast<std::uint16_t>(o.size * 2));
        },
        [](C& c, std::uint8_t* p, Outputs& o) { c.ProcessNotTrace(p, &o.u16[0], o.words.data(), o.size); },
        [](C& c, std::uint8_t* p, Outputs& o) { c.ProcessNotDebug(p, &o.u16[0], &o.u8[0], o.Text(0), o.size); },
        [](C& c, std::uint8_t* p, Outputs& o) { c.ProcessNotMCPU(p, o.bytes.data(), o.size); },
        // MCPU family
        [](C& c, std::uint8_t* p, Outputs& o) { c.ProcessAckBoardInfo(p, &o.u8[0], o.Text(0), o.size); },
        [](C& c, std::uint8_t* p, Outputs& o) {
            c.ProcessAckModuleList(p, o.drivers, &o.u8[0], static_cast<std::uint8_t>(std::min<int>(o.size, 8)));
        },
        [](C& c, std::uint8_t* p, Outputs& o) { c.ProcessAckReadParamsExt(p, &o.s16[0], &o.s16[3]); },
        [](C& c, std::uint8_t* p, Outputs& o) { c.ProcessRealtimeData3(p, &o.realtime); },
        [](C& c, std::uint8_t* p, Outputs& o) { c.ProcessRealtimeDataCustom(p, o.groups); },
        [](C& c, std::uint8_t* p, Outputs& o) { c.ProcessDebugVars3(p, o.s16); },
        [](C& c, std::uint8_t* p, Outputs& o) { c.ProcessAckConfirm(p, &o.u8[0]); },
        [](C& c, std::uint8_t* p, Outputs&) { c.ProcessAckReset(p); },
        [](C& c, std::uint8_t* p, Outputs& o) { c.ProcessAckError(p, &o.u8[0], &o.u32[0]); },
        [](C& c, std::uint8_t* p, Outputs&) { c.PrepareReqResetCalibration(p); },
    };
    return parsers;
}

constexpr std::size_t kFirstMCPU = 53; // index of ProcessAckBoardInfo above

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    const std::size_t index = data[0] % Parsers().size();
    const std::uint8_t stringSize = data[1];
    const std::uint8_t* payload = data + 2;
    std::size_t payloadLength = size - 2;

    std::unique_ptr<std::uint8_t[]> packet;
    std::size_t packetLength = 0;
    if (index < kFirstMCPU) {
        payloadLength = std::min<std::size_t>(payloadLength, 1015);
        packetLength = payloadLength == 0 ? 7 : payloadLength + 8;
        packet.reset(new std::uint8_t[packetLength]);
        packet[0] = 0x42;
        packet[3] = static_cast<std::uint8_t>(payloadLength);
        packet[4] = static_cast<std::uint8_t>(payloadLength >> 8);
        std::copy(payload, payload + payloadLength, packet.get() + 7);
    } else {
        payloadLength = std::min<std::size_t>(payloadLength, 255);
        packetLength = payloadLength + 5;
        packet.reset(new std::uint8_t[packetLength]);
        packet[0] = 0x3E;
        packet[2] = static_cast<std::uint8_t>(payloadLength);
        std::copy(payload, payload + payloadLength, packet.get() + 4);
    }
    CZELCommandSet commands;
    // Checksums keep the packet a valid one; writing them must stay inside it as well.
    if (commands.CalculateChecksums(packet.get(), packetLength) != 0)
        __builtin_trap();
    Outputs outputs(stringSize);
    Parsers()[index](commands, packet.get(), outputs);
    return 0;
}
