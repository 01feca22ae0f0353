#include "zel/plugins/CZELScriva.h"

#include "zel/foundation/ZELConversions.h"
#include "zel/foundation/ZELStatus.h"
#include "zel/log/CZELSystemLogEx.h"
#include "zel/serial/ZELProtocol.h"

#include <algorithm>
#include <bit>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

// An output of an override: the caller's when given, a local one otherwise; starts at zero so that a
// value the reply does not carry shows as 0.
template <class T>
class Out
{
public:
    explicit Out(T* given)
        : m_value(given ? given : &m_local)
    {
        *m_value = T{};
    }
    T* operator&() { return m_value; }
    T operator*() const { return *m_value; }

private:
    T m_local{};
    T* m_value;
};

// A decoded text, or "" when the caller gave no buffer for it.
const char* Text(const char* text, std::size_t size)
{
    return text && size > 0 ? text : "";
}

std::size_t CCPUPayloadLength(const std::uint8_t* packet)
{
    return packet[3] | (static_cast<std::size_t>(packet[4]) << 8);
}

const std::uint8_t* CCPUPayload(const std::uint8_t* packet) { return packet + ZEL_CCPU_HEADER_SIZE; }

std::uint16_t U16(const std::uint8_t* bytes) { return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8)); }

std::uint32_t U32(const std::uint8_t* bytes)
{
    return bytes[0] | (static_cast<std::uint32_t>(bytes[1]) << 8) | (static_cast<std::uint32_t>(bytes[2]) << 16) |
           (static_cast<std::uint32_t>(bytes[3]) << 24);
}

// printf into a growing string, for the multi-line dumps that do not use the text buffer.
void AppendTo(std::string& text, const char* format, ...) __attribute__((format(printf, 2, 3)));
void AppendTo(std::string& text, const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    va_list copy;
    va_copy(copy, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (length > 0) {
        const std::size_t start = text.size();
        text.resize(start + static_cast<std::size_t>(length) + 1);
        std::vsnprintf(text.data() + start, static_cast<std::size_t>(length) + 1, format, arguments);
        text.resize(start + static_cast<std::size_t>(length));
    }
    va_end(arguments);
}

constexpr double kPercentScale = 327.67;            // 32767 is 100 %
constexpr double kDegreesPerStep = 0.02197265625;   // 360 / 16384

double Percent(std::uint16_t raw) { return static_cast<std::int16_t>(raw) / kPercentScale; }
double Degrees(std::uint16_t raw) { return static_cast<std::int16_t>(raw) * kDegreesPerStep; }
int Raw(std::uint16_t raw) { return static_cast<std::int16_t>(raw); }

long LogInformation(const std::string& text)
{
    GetZELSystemLogEx().AddOutput(text, ZEL_SYSTEM_LOG_EX_EVENT_INFORMATION, "", "", "");
    return ZEL_STATUS_SUCCESS;
}

const char* ConfirmedCommandName(std::uint8_t command)
{
    switch (command) {
    case 0x1A: return "MCPU_CMD_ID_CALIBRATE_ZERO";
    case 0x1B: return "MCPU_CMD_ID_CALIBRATE_EFO";
    case 0x22: return "MCPU_CMD_ID_WRITE_ENCODER_CALIBRATION";
    case 0x45: return "MCPU_CMD_ID_CHANGE_MOTORS";
    case 0x55: return "MCPU_CMD_ID_CHANGE_UPDATE_INTERVAL";
    default: return nullptr;
    }
}

// Everything one rendering decodes into; zero-filled for each packet.
struct Scratch
{
    std::uint8_t u8[8] = {};
    std::uint16_t u16[2] = {};
    std::uint32_t u32[2] = {};
    std::int16_t s16[10] = {};
    std::uint16_t w16[4] = {};
    std::int8_t strength = 0;
    float f[4] = {};
    char texts[9][CZELScriva::kStringSize] = {};
    char expanderVersion[33] = {};
    char debugText[CZELScriva::kDebugTextSize] = {};
    std::uint8_t bytes[1024] = {};
    std::uint8_t values[1024] = {};
    std::uint16_t words[512] = {};
    _ECPU_PWM_CALIBRATION calibration[2];
    _CCPU_PROFILE profile;
    _MCPU_CAN_DRIVER drivers[3];
};

constexpr std::uint8_t kModuleCapacity = 3;

} // namespace

// Buffer handling.

void CZELScriva::Write(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(m_text, sizeof m_text, format, arguments);
    va_end(arguments);
}

void CZELScriva::Append(const char* format, ...)
{
    const std::size_t used = std::strlen(m_text);
    if (used + 1 >= sizeof m_text)
        return;
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(m_text + used, sizeof m_text - used, format, arguments);
    va_end(arguments);
}

const char* CZELScriva::GetScriva(char* destination, long size) const
{
    if (destination && size > 0) {
        const std::size_t length = std::min(std::strlen(m_text), static_cast<std::size_t>(size) - 1);
        std::memcpy(destination, m_text, length);
        destination[length] = '\0';
    }
    return m_text;
}

long CZELScriva::ClearScriva()
{
    std::memset(m_text, 0, sizeof m_text);
    return ZEL_STATUS_SUCCESS;
}

const char* CZELScriva::GetStatusString(std::uint8_t status)
{
    const char* name = nullptr;
    switch (status) {
    case 0: name = "STATUS_SUCCESS"; break;
    case 1: name = "STATUS_INVALID_LENGTH"; break;
    case 2: name = "STATUS_INVALID_CHECKSUM"; break;
    case 3: name = "STATUS_INVALID_PARAMETER"; break;
    case 4: name = "STATUS_BUSY"; break;
    case 127: name = "STATUS_GENERAL_ERROR"; break;
    default: break;
    }
    if (name)
        std::snprintf(m_statusText, sizeof m_statusText, "%s", name);
    else
        std::snprintf(m_statusText, sizeof m_statusText, "%i - unknown status code", status);
    return m_statusText;
}

const char* CZELScriva::GetPropertyName(std::uint8_t property)
{
    const char* name = nullptr;
    switch (property) {
    case 2: name = "MCPU Monitoring Interval 1"; break;
    case 3: name = "MCPU Monitoring Interval 2"; break;
    case 26: name = "I2C Errors"; break;
    case 27: name = "Loops per Second"; break;
    case 125: name = "I2C Multiplexer"; break;
    case 128: name = "Update Firmware"; break;
    case 132: name = "Dump EEPROM"; break;
    case 133: name = "Emergency Button Type"; break;
    default: break;
    }
    if (name)
        std::snprintf(m_propertyName, sizeof m_propertyName, "%s", name);
    else
        std::snprintf(m_propertyName, sizeof m_propertyName, "%i - unknown property", property);
    return m_propertyName;
}

const char* CZELScriva::GetPropertyValue(std::uint8_t property, const std::uint8_t* value, std::uint8_t* width)
{
    static constexpr std::uint8_t kZeros[4] = {};
    const std::uint8_t* bytes = value ? value : kZeros;
    std::uint8_t size = 0;
    switch (property) {
    case 2:
    case 3:
        size = 2;
        std::snprintf(m_propertyValue, sizeof m_propertyValue, "%i", static_cast<std::int16_t>(U16(bytes)));
        break;
    case 26:
        size = 4;
        std::snprintf(m_propertyValue, sizeof m_propertyValue, "%u", U32(bytes));
        break;
    case 27:
        size = 2;
        std::snprintf(m_propertyValue, sizeof m_propertyValue, "%u", U16(bytes));
        break;
    case 128:
        size = 2;
        std::snprintf(m_propertyValue, sizeof m_propertyValue, "0x%04X", U16(bytes));
        break;
    case 125:
    case 132:
    case 133:
        size = 1;
        std::snprintf(m_propertyValue, sizeof m_propertyValue, "0x%02X", bytes[0]);
        break;
    default:
        std::snprintf(m_propertyValue, sizeof m_propertyValue, "%i - unknown property", property);
        break;
    }
    if (width)
        *width = size;
    return m_propertyValue;
}

// Dispatch.

bool CZELScriva::IsKnownSource(std::uint8_t startByte)
{
    switch (startByte) {
    case ZEL_DELIMITER_CCPU:
    case ZEL_DELIMITER_CCPU2:
    case ZEL_DELIMITER_MCPU:
    case ZEL_DELIMITER_MCPU_CRC:
    case ZEL_DELIMITER_VELTRIX:
    case ZEL_DELIMITER_OMBRA: return true;
    default: return false;
    }
}

long CZELScriva::DumpAcknowledgeOrNotification(const std::uint8_t* packet)
{
    if (!packet)
        return ZEL_STATUS_INVALID_PARAMETER;
    switch (packet[0]) {
    case ZEL_DELIMITER_CCPU: return DumpAcknowledgeOrNotificationFromCCPU(packet);
    case ZEL_DELIMITER_CCPU2: return DumpAcknowledgeOrNotificationFromCCPU2(packet);
    case ZEL_DELIMITER_MCPU:
    case ZEL_DELIMITER_MCPU_CRC: return DumpAcknowledgeOrNotificationFromMCPU(packet);
    case ZEL_DELIMITER_VELTRIX: return DumpAcknowledgeOrNotificationFromVeltrix(packet);
    case ZEL_DELIMITER_OMBRA: return DumpAcknowledgeOrNotificationFromOmbra(packet);
    default: return ZEL_STATUS_NOT_IMPLEMENTED;
    }
}

long CZELScriva::DumpAcknowledgeOrNotification(const std::uint8_t* packet, std::size_t size)
{
    if (!packet || size == 0)
        return ZEL_STATUS_INVALID_PARAMETER;
    if (!IsKnownSource(packet[0]))
        return ZEL_STATUS_NOT_IMPLEMENTED;
    // The parsers trust the announced length, so a packet cut short is not handed to them.
    const std::size_t announced = GetAnnouncedPacketLength(packet, size);
    if (announced == 0 || announced > size)
        return ZEL_STATUS_INVALID_DATA;
    return DumpAcknowledgeOrNotification(packet);
}

long CZELScriva::DumpAcknowledgeOrNotificationFromCCPU(const std::uint8_t* packet)
{
    Scratch s;
    char (&t)[9][kStringSize] = s.texts;
    switch (U16(packet + 1)) {
    case 0x0006:
    case 0x4006: // the acknowledgement id of the read-memory request
        ProcessAckReadMemory(packet, &s.u8[0], &s.u8[1], &s.u8[2], &s.u32[0], s.bytes, sizeof s.bytes);
        break;
    case 0x4001:
        ProcessAckGetDeviceInfo(packet, &s.u8[0], &s.u16[0], t[0], t[1], t[2], t[3], t[4], t[5], t[6], t[7], t[8],
            kStringSize);
        break;
    case 0x4002: ProcessAckGetStatus(packet, &s.u8[0], s.bytes, sizeof s.bytes); break;
    case 0x4003: ProcessAckDumpSettings(packet, &s.u8[0]); break;
    case 0x4004: ProcessAckPrepareFirmwareUpdate(packet, &s.u8[0], &s.u8[1], &s.u8[2], &s.u8[3]); break;
    case 0x4011: ProcessAckControl(packet, &s.u8[0], &s.u8[1], &s.u8[2], &s.u8[3]); break;
    case 0x4013: ProcessAckGetExpanders(packet, &s.u8[0]); break;
    case 0x4014: ProcessAckUpdateExpander(packet); break;
    case 0x4015: ProcessAckSendFirmware(packet, &s.u8[0]); break;
    case 0x401F: ProcessAckSetMCPUMode(packet, &s.u8[0], &s.u8[1]); break;
    case 0x402C: ProcessAckReadProfile(packet, &s.u8[0], &s.u8[1], &s.u8[2], &s.profile); break;
    case 0x402E: {
        std::uint16_t count = kAssignmentCount;
        const long result = ProcessAckReadAssignments(packet, &s.u8[0], &s.u8[1], s.words, &count);
        if (result == ZEL_STATUS_SUCCESS && s.u8[0] == 0)
            DumpCCPUAssignments(s.u8[1], s.words);
        break;
    }
    case 0x4051: ProcessAckSetHardwareInfo(packet, &s.u8[0]); break;
    case 0x4052: ProcessAckGetHardwareInfo(packet, &s.u16[0], t[0], t[1], kStringSize); break;
    case 0x4053: ProcessAckSetProductionInfo(packet, &s.u8[0]); break;
    case 0x4054: ProcessAckGetProductionInfo(packet, t[0], t[1], kStringSize); break;
    case 0x4A01: ProcessAckGetKCPUInfo(packet, &s.u8[0], &s.u16[0], t[0], kStringSize); break;
    case 0x4B01: ProcessAckGetECPUInfo(packet, &s.u8[0], &s.u16[0], t[0], kStringSize); break;
    case 0x4B21: ProcessAckSetECPUPWMZeroOffset(packet, &s.u8[0], &s.f[0], &s.f[1], kStringSize); break;
    case 0x4B22:
        ProcessAckSetECPUPWMMinMax(packet, &s.u8[0], &s.f[0], &s.f[1], &s.f[2], &s.f[3], kStringSize);
        break;
    case 0x4B23: ProcessAckGetECPUPWMCalibration(packet, &s.u8[0], &s.calibration[0], &s.calibration[1]); break;
    case 0x4B24: ProcessAckSetECPUEncoderMinMax(packet, &s.u8[0], &s.u32[0], &s.u32[1], kStringSize); break;
    case 0x4B25:
        ProcessAckGetECPUEncoderCalibration(packet, &s.u8[0], &s.u8[1], &s.u32[0], &s.u32[1], kStringSize);
        break;
    case 0x4B51: ProcessAckSetECPUHardwareInfo(packet, &s.u8[0]); break;
    case 0x4B52: ProcessAckGetECPUHardwareInfo(packet, &s.u16[0], t[0], t[1], kStringSize); break;
    case 0x4B53: ProcessAckSetECPUProductionInfo(packet, &s.u8[0]); break;
    case 0x4B54: ProcessAckGetECPUProductionInfo(packet, t[0], t[1], kStringSize); break;
    case 0x4C01:
        ProcessAckGetRCPUDeviceInfo(packet, &s.u8[0], &s.u16[0], t[0], t[1], &s.u8[1], &s.u8[2], &s.u8[3],
            kStringSize);
        break;
    case 0x4C02: ProcessRCPUAckSwitchToBootLoader(packet, &s.u8[0]); break;
    case 0x4C11: ProcessRCPUAckControl(packet, &s.u8[0], s.bytes, sizeof s.bytes); break;
    case 0x4C15: ProcessAckSetRCPUModemConfig(packet, &s.u8[0]); break;
    case 0x4C16: ProcessAckGetRCPUModemConfig(packet, &s.u8[0], &s.u8[1], &s.u32[0]); break;
    case 0x4C51: ProcessAckSetRCPUHardwareInfo(packet, &s.u8[0]); break;
    case 0x4C52: ProcessAckGetRCPUHardwareInfo(packet, &s.u16[0], t[0], t[1], kStringSize); break;
    case 0x4C53: ProcessAckSetRCPUProductionInfo(packet, &s.u8[0]); break;
    case 0x4C54: ProcessAckGetRCPUProductionInfo(packet, t[0], t[1], kStringSize); break;
    case 0x4C55: ProcessAckSetRCPURegion(packet, &s.u8[0]); break;
    case 0x4C56: ProcessAckGetRCPURegion(packet, &s.u8[0]); break;
    case 0x8002:
        ProcessNotStatus(packet, &s.u8[0], s.bytes, sizeof s.bytes, s.values, sizeof s.values);
        break;
    case 0x8013: ProcessNotExpander(packet, &s.u8[0], &s.u16[0], s.expanderVersion); break;
    case 0x8016: ProcessNotExpanderFinished(packet); break;
    case 0x801F: ProcessNotMCPU(packet, s.bytes, sizeof s.bytes); break;
    case 0x8C01: ProcessRCPUNotInfo(packet, &s.u16[0], t[0], kStringSize); break;
    case 0x8C02:
        ProcessRCPUNotStatus(packet, &s.u16[0], &s.u8[0], &s.u8[1], &s.u8[2], &s.u8[3], &s.u8[4], &s.u8[5],
            &s.u8[6], &s.strength);
        break;
    case 0x8C07: ProcessRCPUNotSwitchToBootLoader(packet); break;
    case 0x8C15: ProcessRCPUNotSetModemConfig(packet, &s.u8[0]); break;
    case 0xBAFF:
    case 0xBBFF:
    case 0xBFFF: ProcessNotDebug(packet, &s.u16[0], &s.u8[0], s.debugText, kDebugTextSize); break;
    case 0xBFFE: ProcessNotTrace(packet, &s.u16[0], s.words, static_cast<std::uint16_t>(std::size(s.words))); break;
    default: break;
    }
    return ZEL_STATUS_SUCCESS;
}

long CZELScriva::DumpAcknowledgeOrNotificationFromCCPU2(const std::uint8_t* packet)
{
    Scratch s;
    char (&t)[9][kStringSize] = s.texts;
    switch (U16(packet + 1)) {
    case 0x4D01: ProcessAckGetCCPU2DeviceInfo(packet, &s.u8[0], &s.u16[0], t[0], t[1], t[2], kStringSize); break;
    case 0x4D02: ProcessCCPU2AckSwitchToBootLoader(packet, &s.u8[0]); break;
    case 0x4D51: ProcessAckSetCCPU2HardwareInfo(packet, &s.u8[0]); break;
    case 0x4D52: ProcessAckGetCCPU2HardwareInfo(packet, &s.u16[0], t[0], t[1], kStringSize); break;
    case 0x4D53: ProcessAckSetCCPU2ProductionInfo(packet, &s.u8[0]); break;
    case 0x4D54: ProcessAckGetCCPU2ProductionInfo(packet, t[0], t[1], kStringSize); break;
    case 0xBFFF: ProcessNotDebug(packet, &s.u16[0], &s.u8[0], s.debugText, kDebugTextSize); break;
    default: break;
    }
    return ZEL_STATUS_SUCCESS;
}

long CZELScriva::DumpAcknowledgeOrNotificationFromVeltrix(const std::uint8_t* packet)
{
    Scratch s;
    switch (U16(packet + 1)) {
    case 0x4001: ProcessAckGetVeltrixDeviceInfo(packet, &s.u8[0], &s.u16[0], s.texts[0], kStringSize); break;
    case 0x4002: ProcessVeltrixAckSwitchToBootLoader(packet, &s.u8[0]); break;
    case 0x80FF:
        ProcessVeltrixNotCurrentValues(packet, &s.s16[0], &s.s16[1], &s.s16[2], &s.s16[3], &s.s16[4], &s.s16[5],
            &s.w16[0], &s.w16[1], &s.w16[2], &s.w16[3]);
        break;
    case 0xBFFF: ProcessNotDebug(packet, &s.u16[0], &s.u8[0], s.debugText, kDebugTextSize); break;
    default: break;
    }
    return ZEL_STATUS_SUCCESS;
}

long CZELScriva::DumpAcknowledgeOrNotificationFromOmbra(const std::uint8_t* packet)
{
    Scratch s;
    switch (U16(packet + 1)) {
    case 0x4001: ProcessAckGetOmbraDeviceInfo(packet, &s.u8[0], &s.u16[0], s.texts[0], kStringSize); break;
    case 0x4002: ProcessOmbraAckSwitchToBootLoader(packet, &s.u8[0]); break;
    case 0x80FF: ProcessOmbraNotCurrentValues(packet, &s.w16[0], &s.w16[1], &s.u8[0]); break;
    case 0xBFFF: ProcessNotDebug(packet, &s.u16[0], &s.u8[0], s.debugText, kDebugTextSize); break;
    default: break;
    }
    return ZEL_STATUS_SUCCESS;
}

long CZELScriva::DumpAcknowledgeOrNotificationFromMCPU(const std::uint8_t* packet)
{
    Scratch s;
    switch (packet[1]) {
    case 0x21: ProcessAckReadParamsExt(packet, &s.s16[0], &s.s16[3]); break;
    case 0x43: ProcessAckConfirm(packet, &s.u8[0]); break;
    case 0x4C: ProcessAckModuleList(packet, s.drivers, &s.u8[0], kModuleCapacity); break;
    case 0x56: ProcessAckBoardInfo(packet, &s.u8[0], s.texts[0], kStringSize); break;
    case 0x72: ProcessAckReset(packet); break;
    case 0xFF: ProcessAckError(packet, &s.u8[0], &s.u32[0]); break;
    default: break;
    }
    return ZEL_STATUS_SUCCESS;
}

// Shared shapes.

long CZELScriva::StatusReply(const char* name, long result, std::uint8_t status)
{
    Write("%s; internal status; %i; status; %i", name, static_cast<int>(result), status);
    return result;
}

long CZELScriva::HardwareReply(const char* name, long result, std::uint16_t type, const char* typeText,
    const char* hardwareVersion, const char* serialNumber)
{
    Write("%s; internal status; %i; hardware type; 0x%04X; %s; hardware version; %s; serial number; %s", name,
        static_cast<int>(result), type, typeText, hardwareVersion, serialNumber);
    return result;
}

long CZELScriva::ProductionReply(const char* name, long result, const char* date, const char* user)
{
    Write("%s; internal status; %i; production date; %s; production user; %s", name, static_cast<int>(result), date,
        user);
    return result;
}

long CZELScriva::VersionReply(const char* name, long result, std::uint8_t protocolVersion, std::uint16_t type,
    const char* typeText, const char* versionLabel, const char* version)
{
    Write("%s; internal status; %i; protocol version; 0x%02X; hardware type; 0x%04X; %s; %s; %s", name,
        static_cast<int>(result), protocolVersion, type, typeText, versionLabel, version);
    return result;
}

long CZELScriva::StatusList(const char* name, const std::uint8_t* packet, long result, std::uint8_t count,
    const std::uint8_t* bytes)
{
    Write("%s; internal status; %i; status count; %i", name, static_cast<int>(result),
        static_cast<int>(CCPUPayloadLength(packet)));
    for (std::size_t i = 0; bytes && i < count; ++i)
        Append("; status %i; %s", static_cast<int>(i + 1), GetStatusString(bytes[i]));
    return result;
}

// CCPU device information and firmware update.

long CZELScriva::ProcessAckGetDeviceInfo(const std::uint8_t* packet, std::uint8_t* protocolVersion,
    std::uint16_t* hardwareType, char* hardwareVersion, char* serialNumber, char* mcpuVersion, char* ecpuVersion,
    char* ccpuVersion, char* kcpuVersion, char* lcpuVersion, char* rcpuVersion, char* wcpuVersion,
    std::uint8_t stringSize)
{
    Out version(protocolVersion);
    Out type(hardwareType);
    const long result = CZELCommandSet::ProcessAckGetDeviceInfo(packet, &version, &type, hardwareVersion,
        serialNumber, mcpuVersion, ecpuVersion, ccpuVersion, kcpuVersion, lcpuVersion, rcpuVersion, wcpuVersion,
        stringSize);
    Write("CCPU_CMD_ID_ACK_GET_DEVICE_INFO; internal status; %i; protocol version; 0x%02X; hardware type; 0x%04X; "
          "%s; hardware version; %s; serial number; %s; MCPU version; %s; ECPU version; %s; CCPU version; %s; "
          "KCPU version; %s; LCPU version; %s; RCPU version; %s; WCPU version; %s",
        static_cast<int>(result), *version, *type, GetZELCCPUTypeAsString(*type).c_str(),
        Text(hardwareVersion, stringSize), Text(serialNumber, stringSize), Text(mcpuVersion, stringSize),
        Text(ecpuVersion, stringSize), Text(ccpuVersion, stringSize), Text(kcpuVersion, stringSize),
        Text(lcpuVersion, stringSize), Text(rcpuVersion, stringSize), Text(wcpuVersion, stringSize));
    return result;
}

long CZELScriva::ProcessAckGetCCPU2DeviceInfo(const std::uint8_t* packet, std::uint8_t* protocolVersion,
    std::uint16_t* hardwareType, char* hardwareVersion, char* serialNumber, char* ccpuVersion,
    std::uint8_t stringSize)
{
    Out version(protocolVersion);
    Out type(hardwareType);
    const long result = CZELCommandSet::ProcessAckGetCCPU2DeviceInfo(packet, &version, &type, hardwareVersion,
        serialNumber, ccpuVersion, stringSize);
    Write("CCPU2_CMD_ID_ACK_GET_DEVICE_INFO; internal status; %i; protocol version; 0x%02X; hardware type; 0x%04X; "
          "%s; hardware version; %s; serial number; %s; CCPU version; %s",
        static_cast<int>(result), *version, *type, GetZELCCPUTypeAsString(*type).c_str(),
        Text(hardwareVersion, stringSize), Text(serialNumber, stringSize), Text(ccpuVersion, stringSize));
    return result;
}

long CZELScriva::ProcessAckGetRCPUDeviceInfo(const std::uint8_t* packet, std::uint8_t* protocolVersion,
    std::uint16_t* modemType, char* rcpuVersion, char* modemVersion, std::uint8_t* channel, std::uint8_t* region,
    std::uint8_t* power, std::uint8_t stringSize)
{
    Out version(protocolVersion);
    Out type(modemType);
    Out channelOut(channel);
    Out regionOut(region);
    Out powerOut(power);
    const long result = CZELCommandSet::ProcessAckGetRCPUDeviceInfo(packet, &version, &type, rcpuVersion,
        modemVersion, &channelOut, &regionOut, &powerOut, stringSize);
    Write("RCPU_CMD_ID_ACK_GET_DEVICE_INFO; internal status; %i; protocol version; 0x%02X; modem type; 0x%04X; %s; "
          "RCPU version; %s; RCPU modem version; %s; channel; %i; region; %i; %s; power; %i; %s",
        static_cast<int>(result), *version, *type, GetZELRCPUTypeAsString(*type).c_str(),
        Text(rcpuVersion, stringSize), Text(modemVersion, stringSize), *channelOut, *regionOut,
        GetZELCCPURegionAsString(*regionOut).c_str(), *powerOut, GetZELRCPUPowerAsString(*powerOut).c_str());
    return result;
}

long CZELScriva::ProcessAckGetVeltrixDeviceInfo(const std::uint8_t* packet, std::uint8_t* protocolVersion,
    std::uint16_t* hardwareType, char* version, std::uint8_t stringSize)
{
    Out protocol(protocolVersion);
    Out type(hardwareType);
    const long result =
        CZELCommandSet::ProcessAckGetVeltrixDeviceInfo(packet, &protocol, &type, version, stringSize);
    return VersionReply("VELTRIX_CMD_ID_REQ_GET_DEVICE_INFO", result, *protocol, *type,
        GetZELECPUTypeAsString(*type).c_str(), "Veltrix version", Text(version, stringSize));
}

long CZELScriva::ProcessAckGetOmbraDeviceInfo(const std::uint8_t* packet, std::uint8_t* protocolVersion,
    std::uint16_t* hardwareType, char* version, std::uint8_t stringSize)
{
    Out protocol(protocolVersion);
    Out type(hardwareType);
    const long result = CZELCommandSet::ProcessAckGetOmbraDeviceInfo(packet, &protocol, &type, version, stringSize);
    return VersionReply("OMBRA_CMD_ID_REQ_GET_DEVICE_INFO", result, *protocol, *type,
        GetZELECPUTypeAsString(*type).c_str(), "Ombra version", Text(version, stringSize));
}

long CZELScriva::ProcessAckGetECPUInfo(const std::uint8_t* packet, std::uint8_t* protocolVersion,
    std::uint16_t* hardwareType, char* version, std::uint8_t stringSize)
{
    Out protocol(protocolVersion);
    Out type(hardwareType);
    const long result = CZELCommandSet::ProcessAckGetECPUInfo(packet, &protocol, &type, version, stringSize);
    return VersionReply("ECPU_CMD_ID_REQ_GET_ECPU_INFO", result, *protocol, *type,
        GetZELECPUTypeAsString(*type).c_str(), "ECPU version", Text(version, stringSize));
}

long CZELScriva::ProcessAckGetKCPUInfo(const std::uint8_t* packet, std::uint8_t* protocolVersion,
    std::uint16_t* hardwareType, char* version, std::uint8_t stringSize)
{
    Out protocol(protocolVersion);
    Out type(hardwareType);
    const long result = CZELCommandSet::ProcessAckGetKCPUInfo(packet, &protocol, &type, version, stringSize);
    return VersionReply("KCPU_CMD_ID_REQ_GET_KCPU_INFO", result, *protocol, *type,
        GetZELCCPUTypeAsString(*type).c_str(), "KCPU version", Text(version, stringSize));
}

long CZELScriva::ProcessAckPrepareFirmwareUpdate(const std::uint8_t* packet, std::uint8_t* fsCanConnections,
    std::uint8_t* ffCanConnections, std::uint8_t* lbusConnections, std::uint8_t* emergencyButtonState)
{
    Out fsCan(fsCanConnections);
    Out ffCan(ffCanConnections);
    Out lbus(lbusConnections);
    Out emergency(emergencyButtonState);
    const long result =
        CZELCommandSet::ProcessAckPrepareFirmwareUpdate(packet, &fsCan, &ffCan, &lbus, &emergency);
    Write("CCPU_CMD_ID_ACK_PREPARE_FIRMWARE_UPDATE; internal status; %i; FS CAN connections; %i; FF CAN "
          "connections; %i; LBUS connections; %i; emergency button; %s",
        static_cast<int>(result), *fsCan, *ffCan, *lbus, GetZELCCPUEmergencyButtonAsString(*emergency).c_str());
    return result;
}

long CZELScriva::ProcessAckGetExpanders(const std::uint8_t* packet, std::uint8_t* count)
{
    Out expanders(count);
    CZELCommandSet::ProcessAckGetExpanders(packet, &expanders);
    Write("CCPU_CMD_ID_ACK_GET_EXPANDERS; internal status; %i; expander count; %i", 0, *expanders);
    return ZEL_STATUS_SUCCESS;
}

long CZELScriva::ProcessAckUpdateExpander(const std::uint8_t* packet)
{
    CZELCommandSet::ProcessAckUpdateExpander(packet);
    Write("CCPU_CMD_ID_ACK_UPDATE_EXPANDER; internal status; %i;", 0);
    return ZEL_STATUS_SUCCESS;
}

long CZELScriva::ProcessAckSendFirmware(const std::uint8_t* packet, std::uint8_t* status)
{
    Out state(status);
    const long result = CZELCommandSet::ProcessAckSendFirmware(packet, &state);
    // Every acknowledged block would flood the log; only a refusal (or an empty answer) is shown.
    const long shown = result != ZEL_STATUS_SUCCESS ? result : *state;
    if (shown != 0)
        Write("CCPU_CMD_ID_ACK_SEND_FIRMWARE; internal status; %i;", static_cast<int>(shown));
    return shown;
}

long CZELScriva::ProcessAckSetMCPUMode(const std::uint8_t* packet, std::uint8_t* status, std::uint8_t* mode)
{
    Out state(status);
    Out mcpuMode(mode);
    const long result = CZELCommandSet::ProcessAckSetMCPUMode(packet, &state, &mcpuMode);
    Write("CCPU_CMD_ID_ACK_SET_MCPU_MODE; internal status; %i; status; %i; MCPU mode; %i", static_cast<int>(result),
        *state, *mcpuMode);
    return result;
}

long CZELScriva::ProcessNotExpander(const std::uint8_t* packet, std::uint8_t* count, std::uint16_t* expanderType,
    char* version)
{
    Out expanders(count);
    Out type(expanderType);
    const long result = CZELCommandSet::ProcessNotExpander(packet, &expanders, &type, version);
    Write("CCPU_CMD_ID_NOT_EXPANDER; internal status; %i; count; %i; type; 0x%04X; %s; version; %s",
        static_cast<int>(result), *expanders, *type, GetZELECPUTypeAsString(*type).c_str(), version ? version : "");
    return result;
}

long CZELScriva::ProcessNotExpanderFinished(const std::uint8_t* packet)
{
    CZELCommandSet::ProcessNotExpanderFinished(packet);
    Write("CCPU_CMD_ID_NOT_EXPANDER_FINISHED; internal status; %i;", 0);
    return ZEL_STATUS_SUCCESS;
}

// Status, control, memory.

long CZELScriva::ProcessAckDumpSettings(const std::uint8_t* packet, std::uint8_t* status)
{
    Out state(status);
    const long result = CZELCommandSet::ProcessAckDumpSettings(packet, &state);
    return StatusReply("CCPU_CMD_ID_ACK_DUMP_SETTINGS", result, *state);
}

long CZELScriva::ProcessAckGetStatus(const std::uint8_t* packet, std::uint8_t* count, std::uint8_t* bytes,
    std::uint16_t capacity)
{
    Out items(count);
    const long result = CZELCommandSet::ProcessAckGetStatus(packet, &items, bytes, capacity);
    return StatusList("CCPU_CMD_ID_ACK_GET_STATUS", packet, result, *items, bytes);
}

long CZELScriva::ProcessRCPUAckControl(const std::uint8_t* packet, std::uint8_t* count, std::uint8_t* bytes,
    std::uint16_t capacity)
{
    Out items(count);
    const long result = CZELCommandSet::ProcessRCPUAckControl(packet, &items, bytes, capacity);
    return StatusList("RCPU_CMD_ID_ACK_CONTROL", packet, result, *items, bytes);
}

long CZELScriva::ProcessAckControl(const std::uint8_t* packet, std::uint8_t* count, std::uint8_t* status,
    std::uint8_t* propertyId, std::uint8_t* value)
{
    Out items(count);
    Out state(status);
    Out property(propertyId);
    Out propertyValue(value);
    const long result = CZELCommandSet::ProcessAckControl(packet, &items, &state, &property, &propertyValue);
    Write("CCPU_CMD_ID_ACK_CONTROL; internal status; %i; status count; %i; status; %i; property; 0x%02X; %s; value; "
          "%i",
        static_cast<int>(result), 1, *state, *property, GetPropertyName(*property), *propertyValue);
    return result;
}

long CZELScriva::ProcessAckReadMemory(const std::uint8_t* packet, std::uint8_t* status, std::uint8_t* memory,
    std::uint8_t* length, std::uint32_t* address, std::uint8_t* destination, std::uint16_t destinationSize)
{
    Out state(status);
    Out memoryId(memory);
    Out dataLength(length);
    Out startAddress(address);
    const long result = CZELCommandSet::ProcessAckReadMemory(packet, &state, &memoryId, &dataLength, &startAddress,
        destination, destinationSize);
    Write("CCPU_CMD_ID_ACK_READ_MEMORY; internal status; %i; status; %i; memory; %i; length; %i; start address; %i",
        static_cast<int>(result), *state, *memoryId, *dataLength, static_cast<int>(*startAddress));
    return result;
}

long CZELScriva::ProcessNotStatus(const std::uint8_t* packet, std::uint8_t* count, std::uint8_t* propertyIds,
    std::uint16_t idCapacity, std::uint8_t* values, std::uint16_t valueCapacity)
{
    Out items(count);
    const long result =
        CZELCommandSet::ProcessNotStatus(packet, &items, propertyIds, idCapacity, values, valueCapacity);
    Write("CCPU_CMD_ID_NOT_STATUS; internal status; %i; property count; %i", static_cast<int>(result), *items);
    std::size_t position = 0;
    for (std::size_t i = 0; propertyIds && i < *items; ++i) {
        const std::uint8_t id = propertyIds[i];
        // The decoder packed exactly the widths a status carries; a property it read no value for
        // (unknown, or one that is only ever set) shows as zero and takes no bytes.
        std::uint8_t carried = 0;
        CZELCommandSet::GetPropertyValue(nullptr, id, nullptr, &carried);
        const std::uint8_t* value = carried > 0 && values ? values + position : nullptr;
        Append("; %s; %s", GetPropertyName(id), GetPropertyValue(id, value, nullptr));
        position += carried;
    }
    return result;
}

long CZELScriva::ProcessNotMCPU(const std::uint8_t* packet, std::uint8_t* buffer, std::uint16_t capacity)
{
    const long result = CZELCommandSet::ProcessNotMCPU(packet, buffer, capacity);
    const std::size_t copied = result == ZEL_STATUS_SUCCESS ? CCPUPayloadLength(packet) : 0;
    const std::uint8_t command = copied > 1 ? buffer[1] : 0;
    const std::uint8_t length = copied > 2 ? buffer[2] : 0;
    Write("CCPU_CMD_ID_NOT_MCPU; internal status; %i; command; 0x%02X; %i; length; %i", static_cast<int>(result),
        command, command, length);
    return result;
}

long CZELScriva::ProcessNotTrace(const std::uint8_t* packet, std::uint16_t* count, std::uint16_t* values,
    std::uint16_t capacity)
{
    return CZELCommandSet::ProcessNotTrace(packet, count, values, capacity);
}

long CZELScriva::ProcessNotDebug(const std::uint8_t* packet, std::uint16_t* source, std::uint8_t* priority,
    char* text, std::uint16_t textSize)
{
    Out sourceOut(source);
    Out priorityOut(priority);
    const long result = CZELCommandSet::ProcessNotDebug(packet, &sourceOut, &priorityOut, text, textSize);
    Write("CCPU_CMD_ID_NOT_DEBUG; internal status; %i; source; 0x%04X; priority; 0x%02X; text; %s",
        static_cast<int>(result), *sourceOut, *priorityOut, Text(text, textSize));
    return result;
}

// Profiles and assignments.

long CZELScriva::ProcessAckReadProfile(const std::uint8_t* packet, std::uint8_t* status, std::uint8_t* profile,
    std::uint8_t* page, _CCPU_PROFILE* records)
{
    Out state(status);
    Out profileOut(profile);
    Out pageOut(page);
    const long result = CZELCommandSet::ProcessAckReadProfile(packet, &state, &profileOut, &pageOut, records);
    Write("CCPU_CMD_ID_ACK_READ_PROFILE; internal status; %i; status; %i; profile; %i; page; %i",
        static_cast<int>(result), *state, *profileOut, *pageOut);
    return result;
}

long CZELScriva::ProcessAckReadAssignments(const std::uint8_t* packet, std::uint8_t* status, std::uint8_t* profile,
    std::uint16_t* values, std::uint16_t* count)
{
    Out state(status);
    Out profileOut(profile);
    const long result = CZELCommandSet::ProcessAckReadAssignments(packet, &state, &profileOut, values, count);
    Write("CCPU_CMD_ID_ACK_READ_ASSIGNMENTS; internal status; %i; status; %i; profile; %i", static_cast<int>(result),
        *state, *profileOut);
    return result;
}

// Hardware and production records.

long CZELScriva::ProcessAckSetHardwareInfo(const std::uint8_t* packet, std::uint8_t* status)
{
    Out state(status);
    const long result = CZELCommandSet::ProcessAckSetHardwareInfo(packet, &state);
    return StatusReply("CCPU_CMD_ID_ACK_SET_HARDWARE_INFO", result, *state);
}

long CZELScriva::ProcessAckSetCCPU2HardwareInfo(const std::uint8_t* packet, std::uint8_t* status)
{
    Out state(status);
    const long result = CZELCommandSet::ProcessAckSetCCPU2HardwareInfo(packet, &state);
    return StatusReply("CCPU2_CMD_ID_ACK_SET_HARDWARE_INFO", result, *state);
}

long CZELScriva::ProcessAckSetECPUHardwareInfo(const std::uint8_t* packet, std::uint8_t* status)
{
    Out state(status);
    const long result = CZELCommandSet::ProcessAckSetECPUHardwareInfo(packet, &state);
    return StatusReply("ECPU_CMD_ID_ACK_SET_HARDWARE_INFO", result, *state);
}

long CZELScriva::ProcessAckSetRCPUHardwareInfo(const std::uint8_t* packet, std::uint8_t* status)
{
    Out state(status);
    const long result = CZELCommandSet::ProcessAckSetRCPUHardwareInfo(packet, &state);
    return StatusReply("RCPU_CMD_ID_ACK_SET_HARDWARE_INFO", result, *state);
}

long CZELScriva::ProcessAckSetProductionInfo(const std::uint8_t* packet, std::uint8_t* status)
{
    Out state(status);
    const long result = CZELCommandSet::ProcessAckSetProductionInfo(packet, &state);
    return StatusReply("CCPU_CMD_ID_ACK_SET_PRODUCTION_INFO", result, *state);
}

long CZELScriva::ProcessAckSetCCPU2ProductionInfo(const std::uint8_t* packet, std::uint8_t* status)
{
    Out state(status);
    const long result = CZELCommandSet::ProcessAckSetCCPU2ProductionInfo(packet, &state);
    return StatusReply("CCPU2_CMD_ID_ACK_SET_PRODUCTION_INFO", result, *state);
}

long CZELScriva::ProcessAckSetECPUProductionInfo(const std::uint8_t* packet, std::uint8_t* status)
{
    Out state(status);
    const long result = CZELCommandSet::ProcessAckSetECPUProductionInfo(packet, &state);
    return StatusReply("ECPU_CMD_ID_ACK_SET_PRODUCTION_INFO", result, *state);
}

long CZELScriva::ProcessAckSetRCPUProductionInfo(const std::uint8_t* packet, std::uint8_t* status)
{
    Out state(status);
    const long result = CZELCommandSet::ProcessAckSetRCPUProductionInfo(packet, &state);
    return StatusReply("RCPU_CMD_ID_ACK_SET_PRODUCTION_INFO", result, *state);
}

long CZELScriva::ProcessAckSetRCPUModemConfig(const std::uint8_t* packet, std::uint8_t* status)
{
    Out state(status);
    const long result = CZELCommandSet::ProcessAckSetRCPUModemConfig(packet, &state);
    return StatusReply("RCPU_CMD_ID_ACK_SET_MODEM_CONFIG", result, *state);
}

long CZELScriva::ProcessAckSetRCPURegion(const std::uint8_t* packet, std::uint8_t* status)
{
    Out state(status);
    const long result = CZELCommandSet::ProcessAckSetRCPURegion(packet, &state);
    return StatusReply("RCPU_CMD_ID_ACK_SET_REGION", result, *state);
}

long CZELScriva::ProcessCCPU2AckSwitchToBootLoader(const std::uint8_t* packet, std::uint8_t* status)
{
    Out state(status);
    const long result = CZELCommandSet::ProcessCCPU2AckSwitchToBootLoader(packet, &state);
    return StatusReply("CCPU2_CMD_ID_ACK_SWITCH_TO_BOOT_LOADER", result, *state);
}

long CZELScriva::ProcessRCPUAckSwitchToBootLoader(const std::uint8_t* packet, std::uint8_t* status)
{
    Out state(status);
    const long result = CZELCommandSet::ProcessRCPUAckSwitchToBootLoader(packet, &state);
    return StatusReply("RCPU_CMD_ID_ACK_SWITCH_TO_BOOT_LOADER", result, *state);
}

long CZELScriva::ProcessVeltrixAckSwitchToBootLoader(const std::uint8_t* packet, std::uint8_t* status)
{
    Out state(status);
    const long result = CZELCommandSet::ProcessVeltrixAckSwitchToBootLoader(packet, &state);
    return StatusReply("VELTRIX_CMD_ID_ACK_SWITCH_TO_BOOT_LOADER", result, *state);
}

long CZELScriva::ProcessOmbraAckSwitchToBootLoader(const std::uint8_t* packet, std::uint8_t* status)
{
    Out state(status);
    const long result = CZELCommandSet::ProcessOmbraAckSwitchToBootLoader(packet, &state);
    return StatusReply("OMBRA_CMD_ID_ACK_SWITCH_TO_BOOT_LOADER", result, *state);
}

long CZELScriva::ProcessRCPUNotSetModemConfig(const std::uint8_t* packet, std::uint8_t* status)
{
    Out state(status);
    const long result = CZELCommandSet::ProcessRCPUNotSetModemConfig(packet, &state);
    return StatusReply("RCPU_CMD_ID_NOT_SET_MODEM_CONFIG", result, *state);
}

long CZELScriva::ProcessAckGetHardwareInfo(const std::uint8_t* packet, std::uint16_t* hardwareType,
    char* hardwareVersion, char* serialNumber, std::uint8_t stringSize)
{
    Out type(hardwareType);
    const long result =
        CZELCommandSet::ProcessAckGetHardwareInfo(packet, &type, hardwareVersion, serialNumber, stringSize);
    return HardwareReply("CCPU_CMD_ID_ACK_GET_HARDWARE_INFO", result, *type, GetZELCCPUTypeAsString(*type).c_str(),
        Text(hardwareVersion, stringSize), Text(serialNumber, stringSize));
}

long CZELScriva::ProcessAckGetCCPU2HardwareInfo(const std::uint8_t* packet, std::uint16_t* hardwareType,
    char* hardwareVersion, char* serialNumber, std::uint8_t stringSize)
{
    Out type(hardwareType);
    const long result =
        CZELCommandSet::ProcessAckGetCCPU2HardwareInfo(packet, &type, hardwareVersion, serialNumber, stringSize);
    return HardwareReply("CCPU2_CMD_ID_ACK_GET_HARDWARE_INFO", result, *type, GetZELCCPUTypeAsString(*type).c_str(),
        Text(hardwareVersion, stringSize), Text(serialNumber, stringSize));
}

long CZELScriva::ProcessAckGetECPUHardwareInfo(const std::uint8_t* packet, std::uint16_t* hardwareType,
    char* hardwareVersion, char* serialNumber, std::uint8_t stringSize)
{
    Out type(hardwareType);
    const long result =
        CZELCommandSet::ProcessAckGetECPUHardwareInfo(packet, &type, hardwareVersion, serialNumber, stringSize);
    return HardwareReply("ECPU_CMD_ID_ACK_GET_HARDWARE_INFO", result, *type, GetZELECPUTypeAsString(*type).c_str(),
        Text(hardwareVersion, stringSize), Text(serialNumber, stringSize));
}

long CZELScriva::ProcessAckGetRCPUHardwareInfo(const std::uint8_t* packet, std::uint16_t* modemType,
    char* hardwareVersion, char* serialNumber, std::uint8_t stringSize)
{
    Out type(modemType);
    const long result =
        CZELCommandSet::ProcessAckGetRCPUHardwareInfo(packet, &type, hardwareVersion, serialNumber, stringSize);
    Write("RCPU_CMD_ID_ACK_GET_HARDWARE_INFO; internal status; %i; modem type; 0x%04X; hardware version; %s; serial "
          "number; %s",
        static_cast<int>(result), *type, Text(hardwareVersion, stringSize), Text(serialNumber, stringSize));
    return result;
}

long CZELScriva::ProcessAckGetProductionInfo(const std::uint8_t* packet, char* date, char* user,
    std::uint8_t stringSize)
{
    const long result = CZELCommandSet::ProcessAckGetProductionInfo(packet, date, user, stringSize);
    return ProductionReply("CCPU_CMD_ID_ACK_GET_PRODUCTION_INFO", result, Text(date, stringSize),
        Text(user, stringSize));
}

long CZELScriva::ProcessAckGetCCPU2ProductionInfo(const std::uint8_t* packet, char* date, char* user,
    std::uint8_t stringSize)
{
    const long result = CZELCommandSet::ProcessAckGetCCPU2ProductionInfo(packet, date, user, stringSize);
    return ProductionReply("CCPU2_CMD_ID_ACK_GET_PRODUCTION_INFO", result, Text(date, stringSize),
        Text(user, stringSize));
}

long CZELScriva::ProcessAckGetECPUProductionInfo(const std::uint8_t* packet, char* date, char* user,
    std::uint8_t stringSize)
{
    const long result = CZELCommandSet::ProcessAckGetECPUProductionInfo(packet, date, user, stringSize);
    return ProductionReply("ECPU_CMD_ID_ACK_GET_PRODUCTION_INFO", result, Text(date, stringSize),
        Text(user, stringSize));
}

long CZELScriva::ProcessAckGetRCPUProductionInfo(const std::uint8_t* packet, char* date, char* user,
    std::uint8_t stringSize)
{
    const long result = CZELCommandSet::ProcessAckGetRCPUProductionInfo(packet, date, user, stringSize);
    return ProductionReply("RCPU_CMD_ID_ACK_GET_PRODUCTION_INFO", result, Text(date, stringSize),
        Text(user, stringSize));
}

// ECPU calibration.

long CZELScriva::ProcessAckSetECPUPWMZeroOffset(const std::uint8_t* packet, std::uint8_t* status, float* offset1,
    float* offset2, std::uint8_t size)
{
    Out state(status);
    Out first(offset1);
    Out second(offset2);
    const std::size_t length = CCPUPayloadLength(packet);
    const std::uint8_t* data = CCPUPayload(packet);
    long result = ZEL_STATUS_WRONG_LENGTH;
    m_twoChannels = 0;
    if (length >= 5) {
        *&state = data[0];
        *&first = std::bit_cast<float>(U32(data + 1));
        if (length >= 6) {
            m_twoChannels = 1;
            if (length >= 9)
                *&second = std::bit_cast<float>(U32(data + 5));
        }
        if (size <= 1)
            result = ZEL_STATUS_INVALID_PARAMETER;
        else if (length == 5 || length == 9)
            result = ZEL_STATUS_SUCCESS;
    }
    if (m_twoChannels)
        Write("ECPU_CMD_ID_ACK_SET_ECPU_PWM_ZERO_OFFSET; Joystick; internal status; %i; Zero Offset_1: %0.01f; Zero "
              "Offset_2: %0.01f",
            static_cast<int>(result), static_cast<double>(*first), static_cast<double>(*second));
    else
        Write("ECPU_CMD_ID_ACK_SET_ECPU_PWM_ZERO_OFFSET; Rocker; internal status; %i; Zero Offset: %0.01f",
            static_cast<int>(result), static_cast<double>(*first));
    return result;
}

long CZELScriva::ProcessAckSetECPUPWMMinMax(const std::uint8_t* packet, std::uint8_t* status, float* min1,
    float* max1, float* min2, float* max2, std::uint8_t size)
{
    Out state(status);
    Out minimum1(min1);
    Out maximum1(max1);
    Out minimum2(min2);
    Out maximum2(max2);
    m_twoChannels = 0; // a reply too short to decode counts as one channel
    const long result = CZELCommandSet::ProcessAckSetECPUPWMMinMax(packet, &state, &minimum1, &maximum1, &minimum2,
        &maximum2, size);
    if (m_twoChannels)
        Write("ECPU_CMD_ID_ACK_SET_ECPU_PWM_MIN_MAX; Joystick; internal status; %i; DutyCycleMin_1: %0.01f; "
              "DutyCycleMax_1: %0.01f; DutyCycleMin_2: %0.01f; DutyCycleMax_2: %0.01f",
            static_cast<int>(result), static_cast<double>(*minimum1), static_cast<double>(*maximum1),
            static_cast<double>(*minimum2), static_cast<double>(*maximum2));
    else
        Write("ECPU_CMD_ID_ACK_SET_ECPU_PWM_MIN_MAX; Rocker; internal status; %i; DutyCycleMin: %0.01f; DutyCycleMax: "
              "%0.01f",
            static_cast<int>(result), static_cast<double>(*minimum1), static_cast<double>(*maximum1));
    return result;
}

long CZELScriva::ProcessAckGetECPUPWMCalibration(const std::uint8_t* packet, std::uint8_t* status,
    _ECPU_PWM_CALIBRATION* channel1, _ECPU_PWM_CALIBRATION* channel2)
{
    Out state(status);
    _ECPU_PWM_CALIBRATION local[2];
    _ECPU_PWM_CALIBRATION& first = channel1 ? *channel1 : local[0];
    _ECPU_PWM_CALIBRATION& second = channel2 ? *channel2 : local[1];
    first = {};
    second = {};
    m_twoChannels = 0;
    const long result = CZELCommandSet::ProcessAckGetECPUPWMCalibration(packet, &state, &first, &second);
    if (m_twoChannels)
        Write("ECPU_CMD_ID_ACK_GET_ECPU_PWM_CALIBRATION; Joystick; internal status; %i; MinMaxCalibrated_1: %i; "
              "ZeroCalibrated_1: %i; DutyCycleMin_1: %0.01f; DutyCycleMax_1: %0.01f; DutyCycleOffset_1: %0.01f; \r\n "
              "MinMaxCalibrated_2: %i; ZeroCalibrated_2: %i; DutyCycleMin_2: %0.01f; DutyCycleMax_2: %0.01f; "
              "DutyCycleOffset_2: %0.01f",
            static_cast<int>(result), first.minMaxCalibrated, first.zeroCalibrated,
            static_cast<double>(first.dutyCycleMin), static_cast<double>(first.dutyCycleMax),
            static_cast<double>(first.offset), second.minMaxCalibrated, second.zeroCalibrated,
            static_cast<double>(second.dutyCycleMin), static_cast<double>(second.dutyCycleMax),
            static_cast<double>(second.offset));
    else
        Write("ECPU_CMD_ID_ACK_GET_ECPU_PWM_CALIBRATION; Rocker; internal status; %i; MinMaxCalibrated: %i; "
              "ZeroCalibrated: %i; DutyCycleMin: %0.01f; DutyCycleMax: %0.01f; DutyCycleOffset: %0.01f",
            static_cast<int>(result), first.minMaxCalibrated, first.zeroCalibrated,
            static_cast<double>(first.dutyCycleMin), static_cast<double>(first.dutyCycleMax),
            static_cast<double>(first.offset));
    return result;
}

long CZELScriva::ProcessAckSetECPUEncoderMinMax(const std::uint8_t* packet, std::uint8_t* status, std::uint32_t* min,
    std::uint32_t* max, std::uint8_t size)
{
    Out state(status);
    Out minimum(min);
    Out maximum(max);
    const long result = CZELCommandSet::ProcessAckSetECPUEncoderMinMax(packet, &state, &minimum, &maximum, size);
    Write("ECPU_CMD_ID_ACK_SET_ECPU_ENCODER_MIN_MAX; Wheel; internal status; %i; Encoder1_Min: %u; Encoder1_Max: %u",
        static_cast<int>(result), *minimum, *maximum);
    return result;
}

long CZELScriva::ProcessAckGetECPUEncoderCalibration(const std::uint8_t* packet, std::uint8_t* status,
    std::uint8_t* calibrated, std::uint32_t* min, std::uint32_t* max, std::uint8_t size)
{
    Out state(status);
    Out isCalibrated(calibrated);
    Out minimum(min);
    Out maximum(max);
    const long result = CZELCommandSet::ProcessAckGetECPUEncoderCalibration(packet, &state, &isCalibrated, &minimum,
        &maximum, size);
    Write("ECPU_CMD_ID_ACK_GET_ECPU_ENCODER_CALIBRATION; Wheel; internal status; %i; Encoder1_Calibrated: %i; "
          "Encoder1_Min: %u; Encoder1_Max: %u",
        static_cast<int>(result), *isCalibrated, *minimum, *maximum);
    return result;
}

// Radio modem.

long CZELScriva::ProcessAckGetRCPUModemConfig(const std::uint8_t* packet, std::uint8_t* mode, std::uint8_t* power,
    std::uint32_t* link)
{
    Out modeOut(mode);
    Out powerOut(power);
    Out linkOut(link);
    const long result = CZELCommandSet::ProcessAckGetRCPUModemConfig(packet, &modeOut, &powerOut, &linkOut);
    Write("RCPU_CMD_ID_ACK_GET_MODEM_CONFIG; internal status; %i; mode; %i; %s; power; %i; %s; link; %i",
        static_cast<int>(result), *modeOut, GetZELRCPUModeAsString(*modeOut).c_str(), *powerOut,
        GetZELRCPUPowerAsString(*powerOut).c_str(), static_cast<int>(*linkOut));
    return result;
}

long CZELScriva::ProcessAckGetRCPURegion(const std::uint8_t* packet, std::uint8_t* region)
{
    Out regionOut(region);
    const long result = CZELCommandSet::ProcessAckGetRCPURegion(packet, &regionOut);
    Write("RCPU_CMD_ID_ACK_GET_REGION; internal status; %i; region; 0x%02X; %s", static_cast<int>(result),
        *regionOut, GetZELCCPURegionAsString(*regionOut).c_str());
    return result;
}

long CZELScriva::ProcessRCPUNotSwitchToBootLoader(const std::uint8_t* packet)
{
    const long result = CZELCommandSet::ProcessRCPUNotSwitchToBootLoader(packet);
    Write("RCPU_CMD_ID_NOT_SWITCH_TO_BOOT_LOADER; internal status; %i", static_cast<int>(result));
    return result;
}

long CZELScriva::ProcessRCPUNotInfo(const std::uint8_t* packet, std::uint16_t* modemType, char* modemVersion,
    std::uint8_t stringSize)
{
    Out type(modemType);
    const long result = CZELCommandSet::ProcessRCPUNotInfo(packet, &type, modemVersion, stringSize);
    Write("RCPU_CMD_ID_NOT_RCPU_INFO; internal status; %i; modem type; 0x%04X; %s; modem version; %s",
        static_cast<int>(result), *type, GetZELRCPUTypeAsString(*type).c_str(), Text(modemVersion, stringSize));
    return result;
}

long CZELScriva::ProcessRCPUNotStatus(const std::uint8_t* packet, std::uint16_t* modemType, std::uint8_t* linkState,
    std::uint8_t* mode, std::uint8_t* region, std::uint8_t* channel, std::uint8_t* power, std::uint8_t* savingState,
    std::uint8_t* strategy, std::int8_t* strength)
{
    Out type(modemType);
    Out link(linkState);
    Out modeOut(mode);
    Out regionOut(region);
    Out channelOut(channel);
    Out powerOut(power);
    Out saving(savingState);
    Out strategyOut(strategy);
    Out strengthOut(strength);
    const long result = CZELCommandSet::ProcessRCPUNotStatus(packet, &type, &link, &modeOut, &regionOut, &channelOut,
        &powerOut, &saving, &strategyOut, &strengthOut);
    const std::string typeText = GetZELRCPUTypeAsString(*type);
    const std::string regionText = GetZELCCPURegionAsString(*regionOut);
    if (*type == 0x3001)
        Write("RCPU_CMD_ID_NOT_STATUS; internal status; %i; modem type; 0x%04X; %s; link state; %i; mode; %i; region; "
              "%i; %s; channel; %i; strategy; %i; strength; %i",
            static_cast<int>(result), *type, typeText.c_str(), *link, *modeOut, *regionOut, regionText.c_str(),
            *channelOut, *strategyOut, *strengthOut);
    else if (*type == 0x3002 || *type == 0x3003)
        Write("RCPU_CMD_ID_NOT_STATUS; internal status; %i; modem type; 0x%04X; %s; link state; %i; region; %i; %s; "
              "channel; %i; power; %i; %s; saving state; %i; strategy; %i; strength; %i",
            static_cast<int>(result), *type, typeText.c_str(), *link, *regionOut, regionText.c_str(), *channelOut,
            *powerOut, GetZELRCPUPowerAsString(*powerOut).c_str(), *saving, *strategyOut, *strengthOut);
    else
        Write("RCPU_CMD_ID_NOT_STATUS; internal status; %i; modem type; 0x%04X; %s", static_cast<int>(result), *type,
            typeText.c_str());
    return result;
}

// Boxes.

long CZELScriva::ProcessVeltrixNotCurrentValues(const std::uint8_t* packet, std::int16_t* rollEncoder,
    std::int16_t* rollImu, std::int16_t* tiltEncoder, std::int16_t* tiltImu, std::int16_t* panEncoder,
    std::int16_t* panImu, std::uint16_t* focus, std::uint16_t* iris, std::uint16_t* zoom, std::uint16_t* tower)
{
    Out rollE(rollEncoder);
    Out rollI(rollImu);
    Out tiltE(tiltEncoder);
    Out tiltI(tiltImu);
    Out panE(panEncoder);
    Out panI(panImu);
    Out focusOut(focus);
    Out irisOut(iris);
    Out zoomOut(zoom);
    Out towerOut(tower);
    const long result = CZELCommandSet::ProcessVeltrixNotCurrentValues(packet, &rollE, &rollI, &tiltE, &tiltI, &panE,
        &panI, &focusOut, &irisOut, &zoomOut, &towerOut);
    // All ten are shown as signed values.
    Write("VELTRIX_CMD_ID_NOT_CURRENT_VALUES; Roll Encoder; %i; Roll IMU; %i; Tilt Encoder; %i; Tilt IMU; %i; Pan "
          "Encoder; %i; Pan IMU; %i; Focus; %i; Iris; %i; Zoom; %i; Tower; %i",
        *rollE, *rollI, *tiltE, *tiltI, *panE, *panI, Raw(*focusOut), Raw(*irisOut), Raw(*zoomOut), Raw(*towerOut));
    return result;
}

long CZELScriva::ProcessOmbraNotCurrentValues(const std::uint8_t* packet, std::uint16_t* position,
    std::uint16_t* range, std::uint8_t* calibrationState)
{
    Out positionOut(position);
    Out rangeOut(range);
    Out calibration(calibrationState);
    const long result = CZELCommandSet::ProcessOmbraNotCurrentValues(packet, &positionOut, &rangeOut, &calibration);
    Write("OMBRA_CMD_ID_NOT_CURRENT_VALUES; Position; %i; Range; %i; Calibration State; %i", *positionOut, *rangeOut,
        *calibration);
    return result;
}

// MCPU answers.

long CZELScriva::ProcessAckBoardInfo(const std::uint8_t* packet, std::uint8_t* state, char* version,
    std::uint8_t versionSize)
{
    Out stateOut(state);
    const long result = CZELCommandSet::ProcessAckBoardInfo(packet, &stateOut, version, versionSize);
    Write("MCPU_CMD_ID_ACK_GET_DEVICE_INFO; internal status; %i; MCPU state; 0x%02X; MCPU version; %s;",
        static_cast<int>(result), *stateOut, Text(version, versionSize));
    return result;
}

long CZELScriva::ProcessAckModuleList(const std::uint8_t* packet, _MCPU_CAN_DRIVER* drivers, std::uint8_t* count,
    std::uint8_t capacity)
{
    constexpr std::size_t kRecordSize = 13;
    Out modules(count);
    const long result = CZELCommandSet::ProcessAckModuleList(packet, drivers, &modules, capacity);
    const std::size_t length = packet[2];
    const std::size_t listed = length > 0 ? packet[ZEL_MCPU_HEADER_SIZE] : 0;
    // The records the decoder filled: all of them on success, else those before the first that did
    // not fit the payload or the capacity.
    const std::size_t complete = length > 0 ? (length - 1) / kRecordSize : 0;
    const std::size_t shown = drivers ? std::min({listed, complete, static_cast<std::size_t>(capacity)}) : 0;
    Write("MCPU_CMD_ID_ACK_GET_MODULE_LIST; internal status; %i; found modules; %i", static_cast<int>(result),
        static_cast<int>(listed));
    for (std::size_t i = 0; i < shown; ++i) {
        const _MCPU_CAN_DRIVER& driver = drivers[i];
        Append("\r\n#%i; board; V %02i.%02i.00; boot; V %02i.%02i.00; main; V %02i.%02i.00", driver.moduleId,
            driver.boardVersion / 100, driver.boardVersion % 100, driver.bootloaderVersion / 100,
            driver.bootloaderVersion % 100, driver.mainVersion / 100, driver.mainVersion % 100);
    }
    return result;
}

long CZELScriva::ProcessAckReadParamsExt(const std::uint8_t* packet, std::int16_t* efoValues,
    std::int16_t* zeroValues)
{
    std::int16_t efo[3] = {};
    std::int16_t zero[3] = {};
    // The command set names the first three values EFO; in the answer they are the zero values.
    const long result = CZELCommandSet::ProcessAckReadParamsExt(packet, zero, efo);
    for (std::size_t i = 0; i < 3; ++i) {
        if (efoValues)
            efoValues[i] = efo[i];
        if (zeroValues)
            zeroValues[i] = zero[i];
    }
    Write("MCPU_CMD_ID_READ_ENCODER_CALIBRATION; internal status; %i; EFO; %i; %i; %i; zero; %i; %i; %i",
        static_cast<int>(result), efo[0], efo[1], efo[2], zero[0], zero[1], zero[2]);
    return result;
}

long CZELScriva::ProcessAckConfirm(const std::uint8_t* packet, std::uint8_t* confirmedId)
{
    Out confirmed(confirmedId);
    const long result = CZELCommandSet::ProcessAckConfirm(packet, &confirmed);
    const char* name = ConfirmedCommandName(*confirmed);
    if (result != ZEL_STATUS_SUCCESS || !name)
        return ZEL_STATUS_NOT_IMPLEMENTED;
    const std::uint8_t* data = packet + ZEL_MCPU_HEADER_SIZE;
    switch (packet[2]) {
    case 1: Write("%s", name); break;
    case 2: Write("%s; %i", name, data[1]); break;
    case 3: Write("%s; %i", name, U16(data + 1)); break;
    default: return ZEL_STATUS_NOT_IMPLEMENTED;
    }
    return ZEL_STATUS_SUCCESS;
}

long CZELScriva::ProcessAckReset(const std::uint8_t* packet)
{
    CZELCommandSet::ProcessAckReset(packet);
    Write("MCPU_CMD_ID_RESET; internal status; %i", 0);
    return ZEL_STATUS_SUCCESS;
}

long CZELScriva::ProcessAckError(const std::uint8_t* packet, std::uint8_t* errorCode, std::uint32_t* data)
{
    Out code(errorCode);
    Out value(data);
    const long result = CZELCommandSet::ProcessAckError(packet, &code, &value);
    Write("MCPU_CMD_ID_ERROR; internal status; %i; code; 0x%02X; data; 0x%04X", static_cast<int>(result), *code,
        *value);
    return result;
}

// Multi-line dumps.

long CZELScriva::DumpCCPUAssignments(long profile, const std::uint16_t* assignments)
{
    if (!assignments)
        return ZEL_STATUS_INVALID_PARAMETER;
    static const char* const kAxes[] = {"Roll", "Tilt", "Pan", "Focus", "Iris", "Zoom", "Slider"};
    const std::uint16_t* w = assignments;
    std::string text;
    AppendTo(text, "Dump of assignments %i:\r\n", static_cast<int>(profile));
    for (std::size_t k = 0; k < std::size(kAxes); ++k) {
        const std::uint16_t* a = w + 32 * k;
        AppendTo(text, "\r\n[%s]\r\n", kAxes[k]);
        AppendTo(text,
            "axis mode; 0x%04X; setpoint mode; 0x%04X\r\n"
            "setpoint; 0x%04X; deadband; 0x%04X; sensitivity; 0x%04X; direction; 0x%04X; filter; 0x%04X\r\n"
            "offset; 0x%04X; deadband; 0x%04X; sensitivity; 0x%04X; direction; 0x%04X; filter; 0x%04X\r\n"
            "start ramp; 0x%04X; stop ramp; 0x%04X; ramp mode; 0x%04X\r\n"
            "speed; 0x%04X; ratio; 0x%04X; power drop; 0x%04X\r\n"
            "P; 0x%04X; I; 0x%04X; D; 0x%04X; power; 0x%04X\r\n"
            "follow mode; 0x%04X; follow speed; 0x%04X\r\n"
            "motor torque; 0x%04X; motor side; 0x%04X\r\n",
            a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], a[9], a[10], a[11], a[12], a[13], a[14], a[15], a[16],
            a[17], a[18], a[19], a[20], a[21], a[22], a[23], a[24], a[25]);
    }
    AppendTo(text,
        "\r\n[Other]\r\nfollow deadband; 0x%04X; follow ramp; 0x%04X\r\n"
        "default position; 0x%04X; true horizon; 0x%04X\r\n"
        "RTP motors; 0x%04X; RTP end stops; 0x%04X; RTP follow; 0x%04X\r\n"
        "FIZ motors; 0x%04X; neutral density; 0x%04X; record; 0x%04X\r\n"
        "slider motor; 0x%04X; end stop max; 0x%04X; end stop min; 0x%04X\r\n"
        "display rotation; 0x%04X; display brightness; 0x%04X; wheel brightness; 0x%04X; LED brightness; 0x%04X\r\n"
        "controls; 0x%04X\r\n",
        w[224], w[225], w[226], w[227], w[233], w[234], w[235], w[236], w[237], w[238], w[239], w[240], w[241], w[242],
        w[243], w[244], w[245], w[246]);
    return LogInformation(text);
}

long CZELScriva::DumpCCPUProfile(long profile, const _CCPU_PROFILE* records)
{
    if (!records)
        return ZEL_STATUS_INVALID_PARAMETER;
    const _CCPU_SETTINGS& s = records->settings;
    std::string text;
    AppendTo(text, "Dump of profile %i:\r\n", static_cast<int>(profile));
    AppendTo(text,
        "\r\n[Settings]\r\nenable controls; %i\r\ndisplay rotation; %i\r\ndisplay brightness; %i\r\n"
        "wheel brightness; %i\r\nLED brightness; %i\r\nlast PID quick setup; %i\r\nRTP motor state; %i\r\n"
        "RTP end stops; %i\r\nRTP follow; %i\r\nfollow deadband; %i; %0.1f\r\nfollow ramp; %i; %0.1f\r\n"
        "end stop mode; %i\r\nFIZ motor state; %i\r\nFIZ end stops; %i\r\nCamera record state; %i\r\n"
        "slider motor state; %i\r\nslider end stop top; %i\r\nslider end stop bottom; %i\r\n",
        s.enableControls, s.displayRotation, s.displayBrightness, s.wheelBrightness, s.ledBrightness,
        s.lastPidQuickSetup, s.rtpMotorState, s.rtpEndStops, s.rtpFollow, Raw(s.followDeadband),
        Percent(s.followDeadband), Raw(s.followRamp), Percent(s.followRamp), s.endStopMode, s.fizMotorState,
        s.fizEndStops, s.cameraRecordState, s.sliderMotorState, s.sliderEndStopTop, s.sliderEndStopBottom);

    static const char* const kRTPAxes[] = {"Roll", "Tilt", "Pan"};
    for (std::size_t k = 0; k < 3; ++k) {
        const _CCPU_RTP_PARAMETERS& a = records->axes[k];
        AppendTo(text, "\r\n[%s]\r\n", kRTPAxes[k]);
        AppendTo(text,
            "P; %i; %0.1f\r\nI; %i; %0.1f\r\nD; %i; %0.1f\r\npower; %i; %0.1f\r\npower drop; %i; %0.1f\r\n"
            "motor mode; %i\r\nfollow mode; %i\r\nfollow speed; %i; %0.1f\r\nend stop min; %i; %0.1f\r\n"
            "end stop max; %i; %0.1f;\r\nspeed multiplicator; %i; %0.1f\r\nspeed ratio; %i\r\nsetpoint mode; %i\r\n"
            "setpoint raw; %i\r\nsetpoint deadband; %i\r\nsetpoint direction; %i\r\nsetpoint sensitivity; %i\r\n"
            "setpoint filter; %i\r\noffset raw; %i\r\noffset deadband; %i\r\noffset direction; %i\r\n"
            "offset sensitivity; %i\r\nstart ramp; %i\r\nstop ramp; %i\r\nramp mode; %i\r\n",
            Raw(a.p), Percent(a.p), Raw(a.i), Percent(a.i), Raw(a.d), Percent(a.d), Raw(a.power), Percent(a.power),
            Raw(a.powerDrop), Percent(a.powerDrop), a.motorMode, a.followMode, Raw(a.followSpeed),
            Percent(a.followSpeed), Raw(a.endStopMin), Degrees(a.endStopMin), Raw(a.endStopMax), Degrees(a.endStopMax),
            Raw(a.speedMultiplicator), Percent(a.speedMultiplicator), a.speedRatio, a.setpointMode, a.setpointRaw,
            a.setpointDeadband, a.setpointDirection, a.setpointSensitivity, a.setpointFilter, a.offsetRaw,
            a.offsetDeadband, a.offsetDirection, a.offsetSensitivity, a.startRamp, a.stopRamp, a.rampMode);
    }

    static const char* const kLensAxes[] = {"Focus", "Iris", "Zoom"};
    for (std::size_t k = 0; k < 3; ++k) {
        const _CCPU_FIZ_PARAMETERS& a = records->lensAxes[k];
        AppendTo(text, "\r\n[%s]\r\n", kLensAxes[k]);
        AppendTo(text,
            "motor mode; %i\r\ntorque; %i\r\nside; %i\r\nspeed multiplicator; %i; %0.1f\r\nspeed ratio; %i\r\n"
            "setpoint mode; %i\r\nsetpoint raw; %i\r\nsetpoint deadband; %i\r\nsetpoint direction; %i\r\n"
            "setpoint sensitivity; %i\r\nsetpoint filter; %i\r\nstart ramp; %i\r\nstop ramp; %i\r\nramp mode; %i\r\n",
            a.motorMode, a.torque, a.side, Raw(a.speedMultiplicator), Percent(a.speedMultiplicator), a.speedRatio,
            a.setpointMode, a.setpointRaw, a.setpointDeadband, a.setpointDirection, a.setpointSensitivity,
            a.setpointFilter, a.startRamp, a.stopRamp, a.rampMode);
    }

    const _CCPU_SLIDER_PARAMETERS& a = records->slider;
    AppendTo(text,
        "\r\n[Slider]\r\nmotor mode; %i\r\nend stop min; %i\r\nend stop max; %i\r\nspeed multiplicator; %i; %0.1f\r\n"
        "speed ratio; %i\r\nsetpoint mode; %i\r\nsetpoint raw; %i\r\nsetpoint deadband; %i\r\n"
        "setpoint direction; %i\r\nsetpoint sensitivity; %i\r\nsetpoint filter; %i\r\noffset raw; %i\r\n"
        "offset deadband; %i\r\noffset direction; %i\r\noffset sensitivity; %i\r\nstart ramp; %i\r\n"
        "stop ramp; %i\r\nramp mode; %i\r\n",
        a.motorMode, a.endStopMin, a.endStopMax, Raw(a.speedMultiplicator), Percent(a.speedMultiplicator),
        a.speedRatio, a.setpointMode, a.setpointRaw, a.setpointDeadband, a.setpointDirection, a.setpointSensitivity,
        a.setpointFilter, a.offsetRaw, a.offsetDeadband, a.offsetDirection, a.offsetSensitivity, a.startRamp,
        a.stopRamp, a.rampMode);

    AppendTo(text, "\r\n[Assignments]");
    for (std::size_t i = 0; i < kAssignmentCount; ++i) {
        if (i % 8 == 0)
            text += "\r\n";
        AppendTo(text, "%i; 0x%04X;\t", static_cast<int>(i), records->assignments.values[i]);
    }
    return LogInformation(text);
}
