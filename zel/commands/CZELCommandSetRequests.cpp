// Request builders of the command set. Builders lay out header and payload and leave the sequence number
// and the checksums to CalculateChecksums (bytes 5 and 6 and the trailer are written as 0).
#include "zel/commands/CZELCommandSet.h"

#include "zel/foundation/ZELStatus.h"
#include "zel/serial/ZELProtocol.h"

#include <cstring>

namespace {

constexpr std::size_t kMaxCCPUPayload = 0xFFFF - ZEL_CCPU_HEADER_SIZE - 1;

void Put16(std::uint8_t* at, std::uint16_t value)
{
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
}

void Put32(std::uint8_t* at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// Header of a CCPU-family request whose payload (already in place or written next) has `payloadLength`
// bytes; returns the whole length: 7 without payload, payloadLength + 8 with it.
std::uint16_t FinishCCPU(std::uint8_t* buffer, std::uint8_t delimiter, std::uint16_t id, std::size_t payloadLength)
{
    buffer[0] = delimiter;
    Put16(buffer + 1, id);
    Put16(buffer + 3, static_cast<std::uint16_t>(payloadLength));
    buffer[5] = 0;
    buffer[6] = 0;
    if (payloadLength == 0)
        return ZEL_CCPU_HEADER_SIZE;
    buffer[ZEL_CCPU_HEADER_SIZE + payloadLength] = 0;
    return static_cast<std::uint16_t>(payloadLength + ZEL_CCPU_HEADER_SIZE + 1);
}

std::uint8_t* Payload(std::uint8_t* buffer) { return buffer + ZEL_CCPU_HEADER_SIZE; }

// Read-back widths of the properties a status reports.
std::uint8_t StatusWidth(std::uint8_t propertyId)
{
    switch (propertyId) {
    case 2:
    case 3:
    case 27: return 2;
    case 26: return 4;
    case 125:
    case 132: return 1;
    default: return 0;
    }
}

// The texts of the hardware and production records: each zero-terminated. The device takes a text's
// length with its terminator as one byte, so a text of 255 characters or more cannot be sent.
std::uint16_t TwoTexts(std::uint8_t* buffer, std::uint8_t delimiter, std::uint16_t id, std::size_t offset,
    const char* first, const char* second)
{
    if (!first || !second)
        return 0;
    const std::size_t firstLength = std::strlen(first) + 1;
    const std::size_t secondLength = std::strlen(second) + 1;
    if (firstLength > 0xFF || secondLength > 0xFF)
        return 0;
    std::memcpy(Payload(buffer) + offset, first, firstLength);
    std::memcpy(Payload(buffer) + offset + firstLength, second, secondLength);
    return FinishCCPU(buffer, delimiter, id, offset + firstLength + secondLength);
}

} // namespace

std::uint8_t CZELCommandSet::GetControlItemWidth(std::uint8_t propertyId)
{
    switch (propertyId) {
    case 2:
    case 3:
    case 128: return 2;
    case 125:
    case 129:
    case 132:
    case 133: return 1;
    default: return 0;
    }
}

long CZELCommandSet::SetPropertyValue(std::uint8_t* destination, std::uint8_t propertyId, const std::uint8_t* source,
    std::uint8_t* width)
{
    const std::uint8_t size = GetControlItemWidth(propertyId);
    if (width)
        *width = size;
    if (size == 0)
        return ZEL_STATUS_NOT_FOUND;
    std::memcpy(destination, source, size);
    return ZEL_STATUS_SUCCESS;
}

long CZELCommandSet::SetRCPUPropertyValue(std::uint8_t* destination, std::uint8_t propertyId,
    const std::uint8_t* source, std::uint8_t* width)
{
    if (width)
        *width = propertyId == 1 ? 1 : 0;
    if (propertyId != 1)
        return ZEL_STATUS_NOT_FOUND;
    destination[0] = source[0];
    return ZEL_STATUS_SUCCESS;
}

long CZELCommandSet::GetPropertyValue(const std::uint8_t* source, std::uint8_t propertyId, std::uint8_t* destination,
    std::uint8_t* width)
{
    const std::uint8_t size = StatusWidth(propertyId);
    if (width)
        *width = size;
    if (size == 0)
        return ZEL_STATUS_NOT_FOUND;
    if (source && destination) // without them only the width is asked for
        std::memcpy(destination, source, size);
    return ZEL_STATUS_SUCCESS;
}

// Requests without payload.
std::uint16_t CZELCommandSet::PrepareReqGetDeviceInfo(std::uint8_t* b) { return FinishCCPU(b, 0x42, 0x0001, 0); }
std::uint16_t CZELCommandSet::PrepareReqGetLBUSDevices(std::uint8_t* b) { return FinishCCPU(b, 0x42, 0x0012, 0); }
std::uint16_t CZELCommandSet::PrepareReqGetExpanders(std::uint8_t* b) { return FinishCCPU(b, 0x42, 0x0013, 0); }
std::uint16_t CZELCommandSet::PrepareReqGetCANDrivers(std::uint8_t* b) { return FinishCCPU(b, 0x42, 0x0018, 0); }
std::uint16_t CZELCommandSet::PrepareReqPrepareFirmwareUpdate(std::uint8_t* b) { return FinishCCPU(b, 0x42, 0x0004, 0); }
std::uint16_t CZELCommandSet::PrepareReqGetCCPU2DeviceInfo(std::uint8_t* b) { return FinishCCPU(b, 0x19, 0x0D01, 0); }
std::uint16_t CZELCommandSet::PrepareReqGetRCPUDeviceInfo(std::uint8_t* b) { return FinishCCPU(b, 0x42, 0x0C01, 0); }
std::uint16_t CZELCommandSet::PrepareReqGetVeltrixDeviceInfo(std::uint8_t* b) { return FinishCCPU(b, 0x05, 0x0001, 0); }
std::uint16_t CZELCommandSet::PrepareReqGetOmbraDeviceInfo(std::uint8_t* b) { return FinishCCPU(b, 0x85, 0x0001, 0); }
std::uint16_t CZELCommandSet::PrepareReqUpdateCCPU2(std::uint8_t* b) { return FinishCCPU(b, 0x19, 0x0D02, 0); }
std::uint16_t CZELCommandSet::PrepareReqUpdateRCPU(std::uint8_t* b) { return FinishCCPU(b, 0x42, 0x0C02, 0); }
std::uint16_t CZELCommandSet::PrepareReqUpdateVeltrix(std::uint8_t* b) { return FinishCCPU(b, 0x05, 0x0002, 0); }
std::uint16_t CZELCommandSet::PrepareReqUpdateOmbraBox(std::uint8_t* b) { return FinishCCPU(b, 0x85, 0x0002, 0); }
std::uint16_t CZELCommandSet::PrepareReqDumpSettings(std::uint8_t* b) { return FinishCCPU(b, 0x42, 0x0003, 0); }
std::uint16_t CZELCommandSet::PrepareReqGetECPUInfo(std::uint8_t* b) { return FinishCCPU(b, 0x42, 0x0B01, 0); }
std::uint16_t CZELCommandSet::PrepareReqGetKCPUInfo(std::uint8_t* b) { return FinishCCPU(b, 0x42, 0x0A01, 0); }
std::uint16_t CZELCommandSet::PrepareReqGetECPUPWMCalibration(std::uint8_t* b) { return FinishCCPU(b, 0x42, 0x0B23, 0); }
std::uint16_t CZELCommandSet::PrepareReqGetECPUEncoderCalibration(std::uint8_t* b) { return FinishCCPU(b, 0x42, 0x0B25, 0); }
std::uint16_t CZELCommandSet::PrepareReqGetHardwareInfo(std::uint8_t* b) { return FinishCCPU(b, 0x42, 0x0052, 0); }
std::uint16_t CZELCommandSet::PrepareReqGetCCPU2HardwareInfo(std::uint8_t* b) { return FinishCCPU(b, 0x19, 0x0D52, 0); }
std::uint16_t CZELCommandSet::PrepareReqGetECPUHardwareInfo(std::uint8_t* b) { return FinishCCPU(b, 0x42, 0x0B52, 0); }
std::uint16_t CZELCommandSet::PrepareReqGetRCPUHardwareInfo(std::uint8_t* b) { return FinishCCPU(b, 0x42, 0x0C52, 0); }
std::uint16_t CZELCommandSet::PrepareReqGetProductionInfo(std::uint8_t* b) { return FinishCCPU(b, 0x42, 0x0054, 0); }
std::uint16_t CZELCommandSet::PrepareReqGetCCPU2ProductionInfo(std::uint8_t* b) { return FinishCCPU(b, 0x19, 0x0D54, 0); }
std::uint16_t CZELCommandSet::PrepareReqGetECPUProductionInfo(std::uint8_t* b) { return FinishCCPU(b, 0x42, 0x0B54, 0); }
std::uint16_t CZELCommandSet::PrepareReqGetRCPUProductionInfo(std::uint8_t* b) { return FinishCCPU(b, 0x42, 0x0C54, 0); }
std::uint16_t CZELCommandSet::PrepareReqGetRCPUModemConfig(std::uint8_t* b) { return FinishCCPU(b, 0x42, 0x0C16, 0); }
std::uint16_t CZELCommandSet::PrepareReqGetRCPURegion(std::uint8_t* b) { return FinishCCPU(b, 0x42, 0x0C56, 0); }

std::uint16_t CZELCommandSet::PrepareReqReadProfile(std::uint8_t* buffer, std::uint8_t profile, std::uint8_t page)
{
    Payload(buffer)[0] = profile;
    Payload(buffer)[1] = page;
    return FinishCCPU(buffer, 0x42, 0x002C, 2);
}

std::uint16_t CZELCommandSet::PrepareReqReadAssignments(std::uint8_t* buffer, std::uint8_t profile)
{
    Payload(buffer)[0] = profile;
    return FinishCCPU(buffer, 0x42, 0x002E, 1);
}

std::uint16_t CZELCommandSet::PrepareReqUpdateExpander(std::uint8_t* buffer, std::uint16_t expanderType)
{
    Put16(Payload(buffer), expanderType);
    return FinishCCPU(buffer, 0x42, 0x0014, 2);
}

std::uint16_t CZELCommandSet::PrepareReqSetECPUPWMZeroOffset(std::uint8_t* buffer)
{
    const std::uint8_t payload[] = {0x00, 0x80, 0x00, 0x80};
    std::memcpy(Payload(buffer), payload, sizeof payload);
    return FinishCCPU(buffer, 0x42, 0x0B21, sizeof payload);
}

std::uint16_t CZELCommandSet::PrepareReqSetECPUPWMMinMax(std::uint8_t* buffer)
{
    std::memset(Payload(buffer), 0, 16);
    return FinishCCPU(buffer, 0x42, 0x0B22, 16);
}

std::uint16_t CZELCommandSet::PrepareReqSetECPUEncoderMinMax(std::uint8_t* buffer)
{
    std::memset(Payload(buffer), 0, 8);
    return FinishCCPU(buffer, 0x42, 0x0B24, 8);
}

long CZELCommandSet::PrepareReqSetSetpoints(std::uint8_t* buffer, std::int16_t setpoint1, std::int16_t setpoint2)
{
    Put16(Payload(buffer), static_cast<std::uint16_t>(setpoint1));
    Put16(Payload(buffer) + 2, static_cast<std::uint16_t>(setpoint2));
    return FinishCCPU(buffer, 0x85, 0x0061, 4);
}

std::uint16_t CZELCommandSet::PrepareReqGetStatus(std::uint8_t* buffer, std::uint8_t count,
    const std::uint8_t* propertyIds, const std::uint8_t* updateRates)
{
    if (count > 0 && (!propertyIds || !updateRates))
        return 0;
    for (std::size_t i = 0; i < count; ++i) {
        Payload(buffer)[2 * i] = propertyIds[i];
        Payload(buffer)[2 * i + 1] = updateRates[i];
    }
    return FinishCCPU(buffer, 0x42, 0x0002, 2U * count);
}

namespace {

using PropertyWriter = long (*)(std::uint8_t*, std::uint8_t, const std::uint8_t*, std::uint8_t*);

// Items of a control request: each property id, then its value taken from the packed array.
std::size_t PropertyItems(std::uint8_t* payload, std::uint8_t count, const std::uint8_t* propertyIds,
    const std::uint8_t* values, PropertyWriter writeValue)
{
    std::size_t out = 0;
    std::size_t in = 0;
    for (std::size_t i = 0; i < count; ++i) {
        payload[out++] = propertyIds[i];
        std::uint8_t width = 0;
        writeValue(payload + out, propertyIds[i], values + in, &width);
        out += width;
        in += width;
    }
    return out;
}

} // namespace

std::uint16_t CZELCommandSet::PrepareReqControl(std::uint8_t* buffer, std::uint8_t count,
    const std::uint8_t* propertyIds, const std::uint8_t* values)
{
    if (count > 0 && (!propertyIds || !values))
        return 0;
    return FinishCCPU(buffer, 0x42, 0x0011, PropertyItems(Payload(buffer), count, propertyIds, values, &SetPropertyValue));
}

std::uint16_t CZELCommandSet::PrepareRCPUReqControl(std::uint8_t* buffer, std::uint8_t count,
    const std::uint8_t* propertyIds, const std::uint8_t* values)
{
    if (count > 0 && (!propertyIds || !values))
        return 0;
    return FinishCCPU(
        buffer, 0x42, 0x0C11, PropertyItems(Payload(buffer), count, propertyIds, values, &SetRCPUPropertyValue));
}

std::uint16_t CZELCommandSet::PrepareReqReadMemory(std::uint8_t* buffer, std::uint8_t memory, std::uint8_t length,
    std::uint32_t startAddress)
{
    Payload(buffer)[0] = memory;
    Payload(buffer)[1] = length;
    Put32(Payload(buffer) + 2, startAddress);
    return FinishCCPU(buffer, 0x42, 0x0006, 6);
}

std::uint16_t CZELCommandSet::PrepareReqSendFirmware(std::uint8_t* buffer, std::uint32_t targetAddress,
    std::uint16_t dataLength, const std::uint8_t* data)
{
    if (dataLength + 6U > kMaxCCPUPayload || (dataLength > 0 && !data))
        return 0;
    Put32(Payload(buffer), targetAddress);
    Put16(Payload(buffer) + 4, dataLength);
    if (dataLength > 0)
        std::memcpy(Payload(buffer) + 6, data, dataLength);
    return FinishCCPU(buffer, 0x42, 0x0015, dataLength + 6U);
}

std::uint16_t CZELCommandSet::PrepareReqSetHardwareInfo(std::uint8_t* buffer, std::uint16_t hardwareType,
    const char* hardwareVersion, const char* serialNumber)
{
    Put16(Payload(buffer), hardwareType);
    return TwoTexts(buffer, 0x42, 0x0051, 2, hardwareVersion, serialNumber);
}

std::uint16_t CZELCommandSet::PrepareReqSetCCPU2HardwareInfo(std::uint8_t* buffer, std::uint16_t hardwareType,
    const char* hardwareVersion, const char* serialNumber)
{
    Put16(Payload(buffer), hardwareType);
    return TwoTexts(buffer, 0x19, 0x0D51, 2, hardwareVersion, serialNumber);
}

std::uint16_t CZELCommandSet::PrepareReqSetECPUHardwareInfo(std::uint8_t* buffer, std::uint16_t hardwareType,
    const char* hardwareVersion, const char* serialNumber)
{
    Put16(Payload(buffer), hardwareType);
    return TwoTexts(buffer, 0x42, 0x0B51, 2, hardwareVersion, serialNumber);
}

std::uint16_t CZELCommandSet::PrepareReqSetRCPUHardwareInfo(std::uint8_t* buffer, std::uint16_t hardwareType,
    const char* hardwareVersion, const char* serialNumber)
{
    Put16(Payload(buffer), hardwareType);
    return TwoTexts(buffer, 0x42, 0x0C51, 2, hardwareVersion, serialNumber);
}

std::uint16_t CZELCommandSet::PrepareReqSetProductionInfo(std::uint8_t* buffer, const char* date, const char* user)
{
    return TwoTexts(buffer, 0x42, 0x0053, 0, date, user);
}

std::uint16_t CZELCommandSet::PrepareReqSetCCPU2ProductionInfo(std::uint8_t* buffer, const char* date,
    const char* user)
{
    return TwoTexts(buffer, 0x19, 0x0D53, 0, date, user);
}

std::uint16_t CZELCommandSet::PrepareReqSetECPUProductionInfo(std::uint8_t* buffer, const char* date,
    const char* user)
{
    return TwoTexts(buffer, 0x42, 0x0B53, 0, date, user);
}

std::uint16_t CZELCommandSet::PrepareReqSetRCPUProductionInfo(std::uint8_t* buffer, const char* date,
    const char* user)
{
    return TwoTexts(buffer, 0x42, 0x0C53, 0, date, user);
}

std::uint16_t CZELCommandSet::PrepareReqSetRCPUModemConfig(std::uint8_t* buffer, std::uint8_t mode,
    std::uint8_t power, std::uint32_t link)
{
    Payload(buffer)[0] = mode;
    Payload(buffer)[1] = power;
    Put32(Payload(buffer) + 2, link);
    return FinishCCPU(buffer, 0x42, 0x0C15, 6);
}

std::uint16_t CZELCommandSet::PrepareReqSetRCPURegion(std::uint8_t* buffer, std::uint8_t region)
{
    Payload(buffer)[0] = region;
    return FinishCCPU(buffer, 0x42, 0x0C55, 1);
}

std::uint16_t CZELCommandSet::PrepareReqSetMCPUMode(std::uint8_t* buffer, std::uint8_t mode)
{
    Payload(buffer)[0] = mode;
    return FinishCCPU(buffer, 0x42, 0x001F, 1);
}

// MCPU family: delimiter, id, length, header checksum, payload, then the trailer of the current framing.
std::uint16_t CZELCommandSet::FinishMCPU(std::uint8_t* buffer, std::uint8_t id, std::uint8_t payloadLength) const
{
    const ProtocolState state = GetProtocolState();
    buffer[0] = state.mcpuDelimiter;
    buffer[1] = id;
    buffer[2] = payloadLength;
    buffer[3] = 0;
    std::memset(buffer + ZEL_MCPU_HEADER_SIZE + payloadLength, 0, state.mcpuOverhead - ZEL_MCPU_HEADER_SIZE);
    return static_cast<std::uint16_t>(state.mcpuOverhead + payloadLength);
}

std::uint16_t CZELCommandSet::PrepareReqBoardInfo(std::uint8_t* b) { return FinishMCPU(b, 0x56, 0); }
std::uint16_t CZELCommandSet::PrepareReqModuleList(std::uint8_t* b) { return FinishMCPU(b, 0x4C, 0); }
std::uint16_t CZELCommandSet::PrepareReqReset(std::uint8_t* b) { return FinishMCPU(b, 0x72, 0); }
std::uint16_t CZELCommandSet::PrepareReqRealTimeData3(std::uint8_t* b) { return FinishMCPU(b, 0x17, 0); }
std::uint16_t CZELCommandSet::PrepareReqEncodersCalibOffset(std::uint8_t* b) { return FinishMCPU(b, 0x1A, 0); }
std::uint16_t CZELCommandSet::PrepareReqEncodersCalibFldOffset(std::uint8_t* b) { return FinishMCPU(b, 0x1B, 0); }
std::uint16_t CZELCommandSet::PrepareReqDebugVars3(std::uint8_t* b) { return FinishMCPU(b, 0xFE, 0); }

std::uint16_t CZELCommandSet::PrepareReqReadParamsExt(std::uint8_t* buffer)
{
    buffer[ZEL_MCPU_HEADER_SIZE] = 0;
    return FinishMCPU(buffer, 0x21, 1);
}

std::uint16_t CZELCommandSet::PrepareReqMotorsOn(std::uint8_t* buffer)
{
    buffer[ZEL_MCPU_HEADER_SIZE] = 11;
    return FinishMCPU(buffer, 0x45, 1);
}

std::uint16_t CZELCommandSet::PrepareReqMotorsOff(std::uint8_t* buffer)
{
    buffer[ZEL_MCPU_HEADER_SIZE] = 12;
    return FinishMCPU(buffer, 0x45, 1);
}

std::uint16_t CZELCommandSet::PrepareReqModuleFlashStart(std::uint8_t* buffer, std::uint8_t module,
    std::uint32_t size)
{
    buffer[ZEL_MCPU_HEADER_SIZE] = module;
    Put32(buffer + ZEL_MCPU_HEADER_SIZE + 1, size);
    return FinishMCPU(buffer, 0x4E, 5);
}

std::uint16_t CZELCommandSet::PrepareReqModuleFlashWrite(std::uint8_t* buffer, std::uint8_t module,
    std::uint8_t packetNumber, std::uint32_t offset, std::uint32_t crc, const std::uint8_t* data,
    std::uint32_t dataLength)
{
    // The payload length is one byte: a larger piece would announce a wrapped length.
    if (dataLength > 0xFFU - 10U || (dataLength > 0 && !data))
        return 0;
    std::uint8_t* payload = buffer + ZEL_MCPU_HEADER_SIZE;
    payload[0] = module;
    payload[1] = packetNumber;
    Put32(payload + 2, offset);
    Put32(payload + 6, crc);
    if (dataLength > 0)
        std::memcpy(payload + 10, data, dataLength);
    return FinishMCPU(buffer, 0x51, static_cast<std::uint8_t>(dataLength + 10));
}

std::uint16_t CZELCommandSet::PrepareReqModuleFlashFinish(std::uint8_t* buffer, std::uint8_t module,
    std::uint32_t crc)
{
    buffer[ZEL_MCPU_HEADER_SIZE] = module;
    Put32(buffer + ZEL_MCPU_HEADER_SIZE + 1, crc);
    return FinishMCPU(buffer, 0x53, 5);
}

std::uint16_t CZELCommandSet::PrepareReqRealTimeDataCustom(std::uint8_t* buffer, std::uint16_t interval,
    std::uint32_t flags)
{
    std::uint8_t* payload = buffer + ZEL_MCPU_HEADER_SIZE;
    std::memset(payload, 0, 21);
    payload[0] = 0x58; // id of the packets the stream then sends
    Put16(payload + 1, interval);
    Put32(payload + 3, flags);
    return FinishMCPU(buffer, 0x55, 21);
}

std::uint16_t CZELCommandSet::PrepareReqResetCalibration(std::uint8_t* buffer)
{
    // The six calibration values sit at packet bytes 32 to 43; an answer shorter than that has none.
    const std::uint8_t payloadLength = buffer[2];
    if (ZEL_MCPU_HEADER_SIZE + payloadLength < 44)
        return 0;
    buffer[1] = 0x22;
    std::memset(buffer + 32, 0, 12);
    return static_cast<std::uint16_t>(GetProtocolState().mcpuOverhead + payloadLength);
}
