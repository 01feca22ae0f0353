// Parsers of acknowledgements and notifications. Every read is bounded by the payload length the packet
// announces; every write by the sizes and capacities the caller gives.
#include "zel/commands/CZELCommandSet.h"

#include "zel/foundation/ZELStatus.h"
#include "zel/serial/ZELProtocol.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>

namespace {

// The payload of a packet: its bytes and the length the header announces.
struct View
{
    const std::uint8_t* data;
    std::size_t size;

    bool Has(std::size_t offset, std::size_t width) const { return offset + width <= size; }
    std::uint8_t U8(std::size_t offset) const { return data[offset]; }
    std::uint16_t U16(std::size_t offset) const
    {
        return static_cast<std::uint16_t>(data[offset] | (data[offset + 1] << 8));
    }
    std::int16_t S16(std::size_t offset) const { return static_cast<std::int16_t>(U16(offset)); }
    std::uint32_t U32(std::size_t offset) const
    {
        return data[offset] | (static_cast<std::uint32_t>(data[offset + 1]) << 8) |
               (static_cast<std::uint32_t>(data[offset + 2]) << 16) | (static_cast<std::uint32_t>(data[offset + 3]) << 24);
    }
    float F32(std::size_t offset) const { return std::bit_cast<float>(U32(offset)); }
};

View CCPU(const std::uint8_t* packet)
{
    return {packet + ZEL_CCPU_HEADER_SIZE, packet[3] | (static_cast<std::size_t>(packet[4]) << 8)};
}

View MCPU(const std::uint8_t* packet) { return {packet + ZEL_MCPU_HEADER_SIZE, packet[2]}; }

template <class T>
void Put(T* output, T value)
{
    if (output)
        *output = value;
}

void ClearText(char* text, std::size_t size)
{
    if (text && size > 0)
        text[0] = '\0';
}

long CopyText(const std::uint8_t* source, char* destination, std::size_t length, std::size_t destinationSize)
{
    if (!destination || destinationSize == 0)
        return ZEL_STATUS_INVALID_PARAMETER;
    if (length < destinationSize) {
        std::memcpy(destination, source, length);
        destination[length] = '\0';
        return ZEL_STATUS_SUCCESS;
    }
    std::memcpy(destination, source, destinationSize - 1);
    destination[destinationSize - 1] = '\0';
    return ZEL_STATUS_BUFFER_TOO_SMALL;
}

// Reads the zero-terminated string at `offset` and moves `offset` past its terminator. A string without a
// terminator inside the payload is an invalid parameter; one that would start after the payload's end means
// the payload is too short.
long ReadText(const View& payload, std::size_t& offset, char* destination, std::size_t destinationSize, bool& cut)
{
    if (offset >= payload.size)
        return ZEL_STATUS_WRONG_LENGTH; // the payload ends before this string starts
    const void* end = std::memchr(payload.data + offset, 0, payload.size - offset);
    if (!end)
        return ZEL_STATUS_INVALID_PARAMETER;
    const std::size_t length = static_cast<std::size_t>(static_cast<const std::uint8_t*>(end) - (payload.data + offset));
    const long result = CopyText(payload.data + offset, destination, length, destinationSize);
    if (result == ZEL_STATUS_INVALID_PARAMETER)
        return result;
    cut = cut || result == ZEL_STATUS_BUFFER_TOO_SMALL;
    offset += length + 1;
    return ZEL_STATUS_SUCCESS;
}

// Answers whose only content is one status byte.
long StatusOnly(const std::uint8_t* packet, std::uint8_t* status)
{
    const View payload = CCPU(packet);
    if (payload.size == 0)
        return ZEL_STATUS_WRONG_LENGTH;
    Put(status, payload.U8(0));
    return payload.size == 1 ? ZEL_STATUS_SUCCESS : ZEL_STATUS_WRONG_LENGTH;
}

// Protocol version, hardware type and one version text that ends the payload.
long OneVersion(const std::uint8_t* packet, std::uint8_t* protocolVersion, std::uint16_t* hardwareType,
    char* version, std::uint8_t stringSize)
{
    ClearText(version, stringSize);
    const View payload = CCPU(packet);
    if (payload.size < 6)
        return ZEL_STATUS_WRONG_LENGTH;
    Put(protocolVersion, payload.U8(0));
    Put(hardwareType, payload.U16(1));
    if (stringSize <= 1)
        return ZEL_STATUS_INVALID_PARAMETER;
    std::size_t offset = 3;
    bool cut = false;
    if (const long result = ReadText(payload, offset, version, stringSize, cut); result != ZEL_STATUS_SUCCESS)
        return result;
    if (offset != payload.size)
        return ZEL_STATUS_WRONG_LENGTH;
    return cut ? ZEL_STATUS_BUFFER_TOO_SMALL : ZEL_STATUS_SUCCESS;
}

// Hardware record: 16-bit type, hardware version, serial number; the serial ends the payload.
long HardwareInfo(const std::uint8_t* packet, std::uint16_t* hardwareType, char* hardwareVersion, char* serialNumber,
    std::uint8_t stringSize)
{
    ClearText(hardwareVersion, stringSize);
    ClearText(serialNumber, stringSize);
    const View payload = CCPU(packet);
    if (payload.size < 4)
        return ZEL_STATUS_WRONG_LENGTH;
    Put(hardwareType, payload.U16(0));
    if (stringSize <= 1)
        return ZEL_STATUS_INVALID_PARAMETER;
    std::size_t offset = 2;
    bool cut = false;
    for (char* text : {hardwareVersion, serialNumber}) {
        if (const long result = ReadText(payload, offset, text, stringSize, cut); result != ZEL_STATUS_SUCCESS)
            return result;
    }
    if (offset != payload.size)
        return ZEL_STATUS_WRONG_LENGTH;
    return cut ? ZEL_STATUS_BUFFER_TOO_SMALL : ZEL_STATUS_SUCCESS;
}

// Production record: date and user; the user ends the payload.
long ProductionInfo(const std::uint8_t* packet, char* date, char* user, std::uint8_t stringSize)
{
    ClearText(date, stringSize);
    ClearText(user, stringSize);
    const View payload = CCPU(packet);
    if (payload.size < 2)
        return ZEL_STATUS_WRONG_LENGTH;
    if (stringSize <= 1)
        return ZEL_STATUS_INVALID_PARAMETER;
    std::size_t offset = 0;
    bool cut = false;
    for (char* text : {date, user}) {
        if (const long result = ReadText(payload, offset, text, stringSize, cut); result != ZEL_STATUS_SUCCESS)
            return result;
    }
    if (offset != payload.size)
        return ZEL_STATUS_WRONG_LENGTH;
    return cut ? ZEL_STATUS_BUFFER_TOO_SMALL : ZEL_STATUS_SUCCESS;
}

long PayloadBytes(const std::uint8_t* packet, std::uint8_t* count, std::uint8_t* bytes, std::uint16_t capacity)
{
    const View payload = CCPU(packet);
    const std::size_t copied = std::min<std::size_t>({payload.size, capacity, 0xFF});
    if (copied > 0 && !bytes)
        return ZEL_STATUS_INVALID_PARAMETER;
    if (copied > 0)
        std::memcpy(bytes, payload.data, copied);
    Put(count, static_cast<std::uint8_t>(copied));
    return copied == payload.size ? ZEL_STATUS_SUCCESS : ZEL_STATUS_BUFFER_TOO_SMALL;
}

} // namespace

long CZELCommandSet::ExtractString(const std::uint8_t* source, char* destination, std::size_t length,
    std::size_t destinationSize)
{
    return CopyText(source, destination, length, destinationSize);
}

// Device information.

long CZELCommandSet::ProcessAckGetDeviceInfo(const std::uint8_t* packet, std::uint8_t* protocolVersion,
    std::uint16_t* hardwareType, char* hardwareVersion, char* serialNumber, char* mcpuVersion, char* ecpuVersion,
    char* ccpuVersion, char* kcpuVersion, char* lcpuVersion, char* rcpuVersion, char* wcpuVersion,
    std::uint8_t stringSize)
{
    char* const texts[] = {hardwareVersion, serialNumber, mcpuVersion, ecpuVersion, ccpuVersion, kcpuVersion,
        lcpuVersion, rcpuVersion, wcpuVersion};
    for (char* text : texts)
        ClearText(text, stringSize);
    const View payload = CCPU(packet);
    if (payload.size < 6)
        return ZEL_STATUS_WRONG_LENGTH;
    const std::uint8_t version = payload.U8(0);
    Put(protocolVersion, version);
    Put(hardwareType, payload.U16(1));
    if (stringSize <= 1)
        return ZEL_STATUS_INVALID_PARAMETER;
    std::size_t offset = 3;
    bool cut = false;
    for (char* text : texts) {
        if (text == rcpuVersion && version < 2)
            continue; // older devices send no RCPU version
        if (const long result = ReadText(payload, offset, text, stringSize, cut); result != ZEL_STATUS_SUCCESS)
            return result;
    }
    if (offset != payload.size)
        return ZEL_STATUS_WRONG_LENGTH;
    return cut ? ZEL_STATUS_BUFFER_TOO_SMALL : ZEL_STATUS_SUCCESS;
}

long CZELCommandSet::ProcessAckGetCCPU2DeviceInfo(const std::uint8_t* packet, std::uint8_t* protocolVersion,
    std::uint16_t* hardwareType, char* hardwareVersion, char* serialNumber, char* ccpuVersion, std::uint8_t stringSize)
{
    for (char* text : {hardwareVersion, serialNumber, ccpuVersion})
        ClearText(text, stringSize);
    const View payload = CCPU(packet);
    if (payload.size < 6)
        return ZEL_STATUS_WRONG_LENGTH;
    Put(protocolVersion, payload.U8(0));
    Put(hardwareType, payload.U16(1));
    if (stringSize <= 1)
        return ZEL_STATUS_INVALID_PARAMETER;
    std::size_t offset = 3;
    bool cut = false;
    for (char* text : {hardwareVersion, serialNumber, ccpuVersion}) {
        if (const long result = ReadText(payload, offset, text, stringSize, cut); result != ZEL_STATUS_SUCCESS)
            return result;
    }
    return cut ? ZEL_STATUS_BUFFER_TOO_SMALL : ZEL_STATUS_SUCCESS;
}

long CZELCommandSet::ProcessAckGetRCPUDeviceInfo(const std::uint8_t* packet, std::uint8_t* protocolVersion,
    std::uint16_t* modemType, char* rcpuVersion, char* modemVersion, std::uint8_t* channel, std::uint8_t* region,
    std::uint8_t* power, std::uint8_t stringSize)
{
    ClearText(rcpuVersion, stringSize);
    ClearText(modemVersion, stringSize);
    const View payload = CCPU(packet);
    if (payload.size < 6)
        return ZEL_STATUS_WRONG_LENGTH;
    Put(protocolVersion, payload.U8(0));
    Put(modemType, payload.U16(1));
    if (stringSize <= 1)
        return ZEL_STATUS_INVALID_PARAMETER;
    std::size_t offset = 3;
    bool cut = false;
    for (char* text : {rcpuVersion, modemVersion}) {
        if (const long result = ReadText(payload, offset, text, stringSize, cut); result != ZEL_STATUS_SUCCESS)
            return result;
    }
    // Channel, region and power follow; power is the last payload byte.
    if (offset + 3 != payload.size)
        return ZEL_STATUS_WRONG_LENGTH;
    Put(channel, payload.U8(offset));
    Put(region, payload.U8(offset + 1));
    Put(power, payload.U8(offset + 2));
    return cut ? ZEL_STATUS_BUFFER_TOO_SMALL : ZEL_STATUS_SUCCESS;
}

long CZELCommandSet::ProcessAckGetVeltrixDeviceInfo(const std::uint8_t* packet, std::uint8_t* protocolVersion,
    std::uint16_t* hardwareType, char* version, std::uint8_t stringSize)
{
    return OneVersion(packet, protocolVersion, hardwareType, version, stringSize);
}

long CZELCommandSet::ProcessAckGetOmbraDeviceInfo(const std::uint8_t* packet, std::uint8_t* protocolVersion,
    std::uint16_t* hardwareType, char* version, std::uint8_t stringSize)
{
    return OneVersion(packet, protocolVersion, hardwareType, version, stringSize);
}

long CZELCommandSet::ProcessAckGetECPUInfo(const std::uint8_t* packet, std::uint8_t* protocolVersion,
    std::uint16_t* hardwareType, char* version, std::uint8_t stringSize)
{
    return OneVersion(packet, protocolVersion, hardwareType, version, stringSize);
}

long CZELCommandSet::ProcessAckGetKCPUInfo(const std::uint8_t* packet, std::uint8_t* protocolVersion,
    std::uint16_t* hardwareType, char* version, std::uint8_t stringSize)
{
    return OneVersion(packet, protocolVersion, hardwareType, version, stringSize);
}

// Firmware update.

long CZELCommandSet::ProcessAckPrepareFirmwareUpdate(const std::uint8_t* packet, std::uint8_t* fsCanConnections,
    std::uint8_t* ffCanConnections, std::uint8_t* lbusConnections, std::uint8_t* emergencyButtonState)
{
    std::uint8_t* const outputs[] = {fsCanConnections, ffCanConnections, lbusConnections, emergencyButtonState};
    for (std::uint8_t* output : outputs)
        Put(output, std::uint8_t{0xFF});
    const View payload = CCPU(packet);
    if (payload.size != 4)
        return ZEL_STATUS_WRONG_LENGTH;
    for (std::size_t i = 0; i < 4; ++i)
        Put(outputs[i], payload.U8(i));
    return ZEL_STATUS_SUCCESS;
}

long CZELCommandSet::ProcessAckGetExpanders(const std::uint8_t* packet, std::uint8_t* count)
{
    const View payload = CCPU(packet);
    if (payload.size == 0)
        return ZEL_STATUS_WRONG_LENGTH;
    Put(count, payload.U8(0));
    return ZEL_STATUS_SUCCESS;
}

long CZELCommandSet::ProcessAckUpdateExpander(const std::uint8_t*) { return ZEL_STATUS_SUCCESS; }

long CZELCommandSet::ProcessAckSendFirmware(const std::uint8_t* packet, std::uint8_t* status)
{
    const View payload = CCPU(packet);
    if (payload.size == 0)
        return ZEL_STATUS_WRONG_LENGTH;
    Put(status, payload.U8(0));
    return ZEL_STATUS_SUCCESS;
}

long CZELCommandSet::ProcessAckSendFirmware(const std::uint8_t* packet)
{
    const View payload = CCPU(packet);
    return payload.size == 0 ? ZEL_STATUS_WRONG_LENGTH : payload.U8(0);
}

long CZELCommandSet::ProcessAckSetMCPUMode(const std::uint8_t* packet, std::uint8_t* status, std::uint8_t* mode)
{
    const View payload = CCPU(packet);
    if (payload.size < 2)
        return ZEL_STATUS_WRONG_LENGTH;
    Put(status, payload.U8(0));
    Put(mode, payload.U8(1));
    return ZEL_STATUS_SUCCESS;
}

long CZELCommandSet::ProcessNotExpander(const std::uint8_t* packet, std::uint8_t* count, std::uint16_t* expanderType,
    char* version)
{
    constexpr std::size_t kVersionSize = 33;
    ClearText(version, kVersionSize);
    const View payload = CCPU(packet);
    if (payload.size < 3)
        return ZEL_STATUS_WRONG_LENGTH;
    Put(count, payload.U8(0));
    Put(expanderType, payload.U16(1));
    const void* end = std::memchr(payload.data + 3, 0, payload.size - 3);
    if (!end || !version)
        return ZEL_STATUS_INVALID_PARAMETER;
    const std::size_t length = static_cast<std::size_t>(static_cast<const std::uint8_t*>(end) - (payload.data + 3));
    // Up to 32 characters are kept whole; a longer text is cut to 31.
    CopyText(payload.data + 3, version, length, length <= 32 ? kVersionSize : 32);
    return ZEL_STATUS_SUCCESS;
}

long CZELCommandSet::ProcessNotExpanderFinished(const std::uint8_t*) { return ZEL_STATUS_SUCCESS; }

long CZELCommandSet::ProcessCCPU2AckSwitchToBootLoader(const std::uint8_t* packet, std::uint8_t* status)
{
    return StatusOnly(packet, status);
}

long CZELCommandSet::ProcessRCPUAckSwitchToBootLoader(const std::uint8_t* packet, std::uint8_t* status)
{
    return StatusOnly(packet, status);
}

long CZELCommandSet::ProcessVeltrixAckSwitchToBootLoader(const std::uint8_t* packet, std::uint8_t* status)
{
    return StatusOnly(packet, status);
}

long CZELCommandSet::ProcessOmbraAckSwitchToBootLoader(const std::uint8_t* packet, std::uint8_t* status)
{
    return StatusOnly(packet, status);
}

long CZELCommandSet::ProcessRCPUNotSwitchToBootLoader(const std::uint8_t* packet)
{
    return CCPU(packet).size == 0 ? ZEL_STATUS_SUCCESS : ZEL_STATUS_WRONG_LENGTH;
}

// Status, control and memory.

long CZELCommandSet::ProcessAckDumpSettings(const std::uint8_t* packet, std::uint8_t* status)
{
    return StatusOnly(packet, status);
}

long CZELCommandSet::ProcessRCPUNotSetModemConfig(const std::uint8_t* packet, std::uint8_t* status)
{
    return StatusOnly(packet, status);
}

long CZELCommandSet::ProcessAckGetStatus(const std::uint8_t* packet, std::uint8_t* count, std::uint8_t* bytes,
    std::uint16_t capacity)
{
    return PayloadBytes(packet, count, bytes, capacity);
}

long CZELCommandSet::ProcessRCPUAckControl(const std::uint8_t* packet, std::uint8_t* count, std::uint8_t* bytes,
    std::uint16_t capacity)
{
    return PayloadBytes(packet, count, bytes, capacity);
}

long CZELCommandSet::ProcessAckControl(const std::uint8_t* packet, std::uint8_t* count, std::uint8_t* status,
    std::uint8_t* propertyId, std::uint8_t* value)
{
    const View payload = CCPU(packet);
    if (payload.size < 2)
        return ZEL_STATUS_WRONG_LENGTH;
    Put(count, std::uint8_t{1});
    Put(status, payload.U8(0));
    const std::uint8_t property = payload.U8(1);
    Put(propertyId, property);
    switch (property) {
    case 2:
    case 3:
    case 125:
    case 128:
    case 129:
    case 132:
    case 133:
        // The first byte of the echoed value.
        if (payload.size < 3)
            return ZEL_STATUS_WRONG_LENGTH;
        Put(value, payload.U8(2));
        break;
    default: break;
    }
    return ZEL_STATUS_SUCCESS;
}

long CZELCommandSet::ProcessNotControl(const std::uint8_t* packet, std::uint8_t* byte0, std::uint8_t* byte1)
{
    const View payload = CCPU(packet);
    if (payload.size < 2)
        return ZEL_STATUS_WRONG_LENGTH;
    Put(byte0, payload.U8(0));
    Put(byte1, payload.U8(1));
    return ZEL_STATUS_SUCCESS;
}

long CZELCommandSet::ProcessAckReadMemory(const std::uint8_t* packet, std::uint8_t* status, std::uint8_t* memory,
    std::uint8_t* length, std::uint32_t* address, std::uint8_t* destination, std::uint16_t destinationSize)
{
    Put(status, std::uint8_t{0});
    Put(memory, std::uint8_t{0});
    Put(length, std::uint8_t{0});
    Put(address, std::uint32_t{0});
    if (destination && destinationSize > 0)
        std::memset(destination, 0, destinationSize);
    const View payload = CCPU(packet);
    if (payload.size == 0)
        return ZEL_STATUS_WRONG_LENGTH;
    Put(status, payload.U8(0));
    if (payload.size == 1)
        return ZEL_STATUS_SUCCESS; // an error answer: status only
    if (payload.size <= 6)
        return ZEL_STATUS_WRONG_LENGTH;
    const std::uint8_t dataLength = payload.U8(2);
    Put(memory, payload.U8(1));
    Put(length, dataLength);
    Put(address, payload.U32(3));
    if (payload.size == 7)
        return ZEL_STATUS_SUCCESS;
    if (payload.size != dataLength + 7U)
        return ZEL_STATUS_WRONG_LENGTH;
    if (!destination || destinationSize < payload.size)
        return ZEL_STATUS_BUFFER_TOO_SMALL;
    std::memcpy(destination, payload.data + 7, dataLength);
    return ZEL_STATUS_SUCCESS;
}

long CZELCommandSet::ProcessNotStatus(const std::uint8_t* packet, std::uint8_t* count, std::uint8_t* propertyIds,
    std::uint16_t idCapacity, std::uint8_t* values, std::uint16_t valueCapacity)
{
    Put(count, std::uint8_t{0});
    const View payload = CCPU(packet);
    std::size_t offset = 0;
    std::size_t items = 0;
    std::size_t valueBytes = 0;
    long result = ZEL_STATUS_SUCCESS;
    while (offset < payload.size) {
        const std::uint8_t id = payload.U8(offset);
        std::uint8_t width = 0;
        GetPropertyValue(nullptr, id, nullptr, &width);
        if (!payload.Has(offset + 1, width)) {
            result = ZEL_STATUS_WRONG_LENGTH; // a value cut off by the payload end
            break;
        }
        if (items >= idCapacity || items >= 0xFF || valueBytes + width > valueCapacity || !propertyIds ||
            (width > 0 && !values)) {
            result = ZEL_STATUS_BUFFER_TOO_SMALL;
            break;
        }
        propertyIds[items++] = id;
        if (width > 0)
            GetPropertyValue(payload.data + offset + 1, id, values + valueBytes, &width);
        valueBytes += width;
        offset += 1U + width;
    }
    Put(count, static_cast<std::uint8_t>(items));
    return result;
}

// Profiles and assignments.

namespace {

// Reads profile fields from their packet offsets; a field beyond the payload is left as it is and noted.
struct ProfileReader
{
    View payload;
    bool missing = false;

    void Get(std::size_t packetOffset, std::uint8_t& field)
    {
        const std::size_t offset = packetOffset - ZEL_CCPU_HEADER_SIZE;
        if (payload.Has(offset, 1))
            field = payload.U8(offset); // the low byte of its 16-bit slot
        else
            missing = true;
    }
    void Get(std::size_t packetOffset, std::uint16_t& field)
    {
        const std::size_t offset = packetOffset - ZEL_CCPU_HEADER_SIZE;
        if (payload.Has(offset, 2))
            field = payload.U16(offset);
        else
            missing = true;
    }

    // The fields every kind of axis carries at the same packet bytes.
    template <class Axis>
    void Common(Axis& axis)
    {
        Get(10, axis.motorMode);
        Get(12, axis.setpointMode);
        Get(42, axis.speedMultiplicator);
        Get(44, axis.speedRatio);
        Get(58, axis.setpointRaw);
        Get(60, axis.setpointDeadband);
        Get(62, axis.setpointSensitivity);
        Get(64, axis.setpointDirection);
        Get(66, axis.setpointFilter);
        Get(68, axis.startRamp);
        Get(70, axis.stopRamp);
        Get(72, axis.rampMode);
    }

    template <class Axis>
    void OffsetAndEndStops(Axis& axis)
    {
        Get(90, axis.offsetRaw);
        Get(92, axis.offsetDeadband);
        Get(94, axis.offsetSensitivity);
        Get(96, axis.offsetDirection);
        Get(122, axis.endStopMin);
        Get(124, axis.endStopMax);
    }
};

} // namespace

long CZELCommandSet::ProcessAckReadProfile(const std::uint8_t* packet, std::uint8_t* status, std::uint8_t* profile,
    std::uint8_t* page, _CCPU_PROFILE* records)
{
    const View payload = CCPU(packet);
    if (payload.size == 0)
        return ZEL_STATUS_WRONG_LENGTH;
    Put(status, payload.U8(0));
    Put(profile, std::uint8_t{0});
    Put(page, std::uint8_t{0});
    if (payload.size <= 3)
        return ZEL_STATUS_SUCCESS; // an error answer
    const std::uint8_t pageNumber = payload.U8(2);
    Put(profile, payload.U8(1));
    Put(page, pageNumber);
    if (!records)
        return ZEL_STATUS_INVALID_PARAMETER;

    ProfileReader reader{payload};
    if (pageNumber == 0) {
        _CCPU_SETTINGS& s = records->settings;
        reader.Get(12, s.enableControls);
        reader.Get(14, s.displayRotation);
        reader.Get(16, s.displayBrightness);
        reader.Get(18, s.wheelBrightness);
        reader.Get(20, s.ledBrightness);
        reader.Get(22, s.lastPidQuickSetup);
        reader.Get(42, s.rtpMotorState);
        reader.Get(44, s.rtpEndStops);
        reader.Get(46, s.rtpFollow);
        reader.Get(48, s.followDeadband);
        reader.Get(50, s.followRamp);
        reader.Get(52, s.endStopMode);
        reader.Get(74, s.fizMotorState);
        reader.Get(76, s.fizEndStops);
        reader.Get(78, s.cameraRecordState);
        reader.Get(106, s.sliderMotorState);
        reader.Get(108, s.sliderEndStopTop);
        reader.Get(110, s.sliderEndStopBottom);
    } else if (pageNumber <= 3) {
        _CCPU_RTP_PARAMETERS& axis = records->axes[pageNumber - 1];
        reader.Common(axis);
        reader.OffsetAndEndStops(axis);
        reader.Get(14, axis.reserved14);
        reader.Get(16, axis.reserved16);
        reader.Get(26, axis.p);
        reader.Get(28, axis.i);
        reader.Get(30, axis.d);
        reader.Get(32, axis.power);
        reader.Get(34, axis.powerDrop);
        reader.Get(106, axis.followMode);
        reader.Get(108, axis.followSpeed);
        reader.Get(126, axis.reserved126);
        reader.Get(128, axis.reserved128);
        reader.Get(130, axis.reserved130);
    } else if (pageNumber <= 6) {
        _CCPU_FIZ_PARAMETERS& axis = records->lensAxes[pageNumber - 4];
        reader.Common(axis);
        reader.Get(14, axis.torque);
        reader.Get(16, axis.side);
    } else if (pageNumber == 7) {
        reader.Common(records->slider);
        reader.OffsetAndEndStops(records->slider);
    } else {
        const std::size_t first = static_cast<std::size_t>(pageNumber - 8) * _CCPU_ASSIGNMENT::VALUES_PER_PAGE;
        for (std::size_t i = 0; i < _CCPU_ASSIGNMENT::VALUES_PER_PAGE; ++i) {
            if (first + i >= _CCPU_ASSIGNMENT::CAPACITY)
                break;
            reader.Get(10 + 2 * i, records->assignments.values[first + i]);
        }
    }
    return reader.missing ? ZEL_STATUS_WRONG_LENGTH : ZEL_STATUS_SUCCESS;
}

long CZELCommandSet::ProcessAckReadAssignments(const std::uint8_t* packet, std::uint8_t* status,
    std::uint8_t* profile, std::uint16_t* values, std::uint16_t* count)
{
    const View payload = CCPU(packet);
    if (payload.size == 0)
        return ZEL_STATUS_WRONG_LENGTH;
    Put(status, payload.U8(0));
    Put(profile, std::uint8_t{0});
    const std::uint16_t capacity = count ? *count : 0;
    if (values && capacity > 0)
        std::fill(values, values + capacity, std::uint16_t{0});
    Put(count, std::uint16_t{0});
    if (payload.size < 2)
        return ZEL_STATUS_SUCCESS;
    Put(profile, payload.U8(1));
    if ((payload.size - 2) % 2 != 0)
        return ZEL_STATUS_WRONG_LENGTH; // the values must end exactly with the payload
    const std::size_t available = (payload.size - 2) / 2;
    const std::size_t stored = std::min<std::size_t>(available, values ? capacity : 0);
    for (std::size_t i = 0; i < stored; ++i)
        values[i] = payload.U16(2 + 2 * i);
    Put(count, static_cast<std::uint16_t>(stored));
    return stored == available ? ZEL_STATUS_SUCCESS : ZEL_STATUS_BUFFER_TOO_SMALL;
}

// Hardware and production records.

long CZELCommandSet::ProcessAckSetHardwareInfo(const std::uint8_t* p, std::uint8_t* s) { return StatusOnly(p, s); }
long CZELCommandSet::ProcessAckSetCCPU2HardwareInfo(const std::uint8_t* p, std::uint8_t* s) { return StatusOnly(p, s); }
long CZELCommandSet::ProcessAckSetECPUHardwareInfo(const std::uint8_t* p, std::uint8_t* s) { return StatusOnly(p, s); }
long CZELCommandSet::ProcessAckSetRCPUHardwareInfo(const std::uint8_t* p, std::uint8_t* s) { return StatusOnly(p, s); }
long CZELCommandSet::ProcessAckSetProductionInfo(const std::uint8_t* p, std::uint8_t* s) { return StatusOnly(p, s); }
long CZELCommandSet::ProcessAckSetCCPU2ProductionInfo(const std::uint8_t* p, std::uint8_t* s) { return StatusOnly(p, s); }
long CZELCommandSet::ProcessAckSetECPUProductionInfo(const std::uint8_t* p, std::uint8_t* s) { return StatusOnly(p, s); }
long CZELCommandSet::ProcessAckSetRCPUProductionInfo(const std::uint8_t* p, std::uint8_t* s) { return StatusOnly(p, s); }
long CZELCommandSet::ProcessAckSetRCPUModemConfig(const std::uint8_t* p, std::uint8_t* s) { return StatusOnly(p, s); }
long CZELCommandSet::ProcessAckSetRCPURegion(const std::uint8_t* p, std::uint8_t* s) { return StatusOnly(p, s); }

long CZELCommandSet::ProcessAckGetHardwareInfo(const std::uint8_t* packet, std::uint16_t* hardwareType,
    char* hardwareVersion, char* serialNumber, std::uint8_t stringSize)
{
    return HardwareInfo(packet, hardwareType, hardwareVersion, serialNumber, stringSize);
}

long CZELCommandSet::ProcessAckGetCCPU2HardwareInfo(const std::uint8_t* packet, std::uint16_t* hardwareType,
    char* hardwareVersion, char* serialNumber, std::uint8_t stringSize)
{
    return HardwareInfo(packet, hardwareType, hardwareVersion, serialNumber, stringSize);
}

long CZELCommandSet::ProcessAckGetECPUHardwareInfo(const std::uint8_t* packet, std::uint16_t* hardwareType,
    char* hardwareVersion, char* serialNumber, std::uint8_t stringSize)
{
    return HardwareInfo(packet, hardwareType, hardwareVersion, serialNumber, stringSize);
}

long CZELCommandSet::ProcessAckGetRCPUHardwareInfo(const std::uint8_t* packet, std::uint16_t* modemType,
    char* hardwareVersion, char* serialNumber, std::uint8_t stringSize)
{
    return HardwareInfo(packet, modemType, hardwareVersion, serialNumber, stringSize);
}

long CZELCommandSet::ProcessAckGetProductionInfo(const std::uint8_t* packet, char* date, char* user,
    std::uint8_t stringSize)
{
    return ProductionInfo(packet, date, user, stringSize);
}

long CZELCommandSet::ProcessAckGetCCPU2ProductionInfo(const std::uint8_t* packet, char* date, char* user,
    std::uint8_t stringSize)
{
    return ProductionInfo(packet, date, user, stringSize);
}

long CZELCommandSet::ProcessAckGetECPUProductionInfo(const std::uint8_t* packet, char* date, char* user,
    std::uint8_t stringSize)
{
    return ProductionInfo(packet, date, user, stringSize);
}

long CZELCommandSet::ProcessAckGetRCPUProductionInfo(const std::uint8_t* packet, char* date, char* user,
    std::uint8_t stringSize)
{
    return ProductionInfo(packet, date, user, stringSize);
}

// Radio modem.

long CZELCommandSet::ProcessAckGetRCPUModemConfig(const std::uint8_t* packet, std::uint8_t* mode, std::uint8_t* power,
    std::uint32_t* link)
{
    const View payload = CCPU(packet);
    if (payload.size < 6)
        return ZEL_STATUS_WRONG_LENGTH;
    Put(mode, payload.U8(0));
    Put(power, payload.U8(1));
    Put(link, payload.U32(2));
    return ZEL_STATUS_SUCCESS;
}

long CZELCommandSet::ProcessAckGetRCPURegion(const std::uint8_t* packet, std::uint8_t* region)
{
    const View payload = CCPU(packet);
    if (payload.size == 0)
        return ZEL_STATUS_WRONG_LENGTH;
    Put(region, payload.U8(0));
    return ZEL_STATUS_SUCCESS;
}

long CZELCommandSet::ProcessRCPUNotInfo(const std::uint8_t* packet, std::uint16_t* modemType, char* modemVersion,
    std::uint8_t stringSize)
{
    ClearText(modemVersion, stringSize);
    if (stringSize <= 1)
        return ZEL_STATUS_INVALID_PARAMETER;
    const View payload = CCPU(packet);
    if (payload.size < 2)
        return ZEL_STATUS_WRONG_LENGTH;
    Put(modemType, payload.U16(0));
    std::size_t offset = 2;
    bool cut = false;
    if (const long result = ReadText(payload, offset, modemVersion, stringSize, cut); result != ZEL_STATUS_SUCCESS)
        return result;
    if (offset != payload.size)
        return ZEL_STATUS_WRONG_LENGTH;
    return cut ? ZEL_STATUS_BUFFER_TOO_SMALL : ZEL_STATUS_SUCCESS;
}

long CZELCommandSet::ProcessRCPUNotStatus(const std::uint8_t* packet, std::uint16_t* modemType,
    std::uint8_t* linkState, std::uint8_t* mode, std::uint8_t* region, std::uint8_t* channel, std::uint8_t* power,
    std::uint8_t* savingState, std::uint8_t* strategy, std::int8_t* strength)
{
    for (std::uint8_t* output : {linkState, mode, region, channel, power, savingState, strategy})
        Put(output, std::uint8_t{0});
    Put(strength, std::int8_t{0});
    const View payload = CCPU(packet);
    if (payload.size < 2)
        return ZEL_STATUS_WRONG_LENGTH;
    const std::uint16_t type = payload.U16(0);
    Put(modemType, type);
    if (type == 0x3001) {
        if (payload.size != 8)
            return ZEL_STATUS_WRONG_LENGTH;
        Put(linkState, payload.U8(2));
        Put(mode, payload.U8(3));
        Put(region, payload.U8(4));
        Put(channel, payload.U8(5));
        Put(strategy, payload.U8(6));
        Put(strength, static_cast<std::int8_t>(payload.U8(7)));
        return ZEL_STATUS_SUCCESS;
    }
    if (type == 0x3002 || type == 0x3003) {
        if (payload.size != 9)
            return ZEL_STATUS_WRONG_LENGTH;
        Put(linkState, payload.U8(2));
        Put(region, payload.U8(3));
        Put(channel, payload.U8(4));
        Put(power, payload.U8(5));
        Put(savingState, payload.U8(6));
        Put(strategy, payload.U8(7));
        Put(strength, static_cast<std::int8_t>(payload.U8(8)));
        return ZEL_STATUS_SUCCESS;
    }
    return payload.size == 2 ? ZEL_STATUS_SUCCESS : ZEL_STATUS_WRONG_LENGTH;
}

// Boxes.

long CZELCommandSet::ProcessVeltrixNotCurrentValues(const std::uint8_t* packet, std::int16_t* rollEncoder,
    std::int16_t* rollImu, std::int16_t* tiltEncoder, std::int16_t* tiltImu, std::int16_t* panEncoder,
    std::int16_t* panImu, std::uint16_t* focus, std::uint16_t* iris, std::uint16_t* zoom, std::uint16_t* tower)
{
    const View payload = CCPU(packet);
    if (payload.size != 20)
        return ZEL_STATUS_WRONG_LENGTH;
    std::int16_t* const axes[] = {rollEncoder, rollImu, tiltEncoder, tiltImu, panEncoder, panImu};
    for (std::size_t i = 0; i < 6; ++i)
        Put(axes[i], payload.S16(2 * i));
    std::uint16_t* const lens[] = {focus, iris, zoom, tower};
    for (std::size_t i = 0; i < 4; ++i)
        Put(lens[i], payload.U16(12 + 2 * i));
    return ZEL_STATUS_SUCCESS;
}

long CZELCommandSet::ProcessOmbraNotCurrentValues(const std::uint8_t* packet, std::uint16_t* position,
    std::uint16_t* range, std::uint8_t* calibrationState)
{
    const View payload = CCPU(packet);
    if (payload.size != 5)
        return ZEL_STATUS_WRONG_LENGTH;
    Put(position, payload.U16(0));
    Put(range, payload.U16(2));
    Put(calibrationState, payload.U8(4));
    return ZEL_STATUS_SUCCESS;
}

// ECPU calibration.

long CZELCommandSet::ProcessAckSetECPUPWMZeroOffset(const std::uint8_t* packet, std::uint8_t* status, float* offset1,
    float* offset2, std::uint8_t size)
{
    const View payload = CCPU(packet);
    if (payload.size < 5)
        return ZEL_STATUS_WRONG_LENGTH;
    Put(status, payload.U8(0));
    Put(offset1, payload.F32(1));
    m_twoChannels = 0;
    if (payload.size >= 6) {
        m_twoChannels = 1;
        if (payload.Has(5, 4))
            Put(offset2, payload.F32(5));
    }
    if (size <= 1)
        return ZEL_STATUS_INVALID_PARAMETER;
    return payload.size == 5 || payload.size == 9 ? ZEL_STATUS_SUCCESS : ZEL_STATUS_WRONG_LENGTH;
}

long CZELCommandSet::ProcessAckSetECPUPWMMinMax(const std::uint8_t* packet, std::uint8_t* status, float* min1,
    float* max1, float* min2, float* max2, std::uint8_t)
{
    const View payload = CCPU(packet);
    if (payload.size < 6)
        return ZEL_STATUS_WRONG_LENGTH;
    Put(status, payload.U8(0));
    Put(min1, payload.F32(1));
    if (payload.Has(5, 4))
        Put(max1, payload.F32(5));
    m_twoChannels = 0;
    if (payload.size >= 10) {
        m_twoChannels = 1;
        if (payload.Has(9, 4))
            Put(min2, payload.F32(9));
        if (payload.Has(13, 4))
            Put(max2, payload.F32(13));
    }
    return payload.size == 9 || payload.size == 17 ? ZEL_STATUS_SUCCESS : ZEL_STATUS_WRONG_LENGTH;
}

long CZELCommandSet::ProcessAckGetECPUPWMCalibration(const std::uint8_t* packet, std::uint8_t* status,
    _ECPU_PWM_CALIBRATION* channel1, _ECPU_PWM_CALIBRATION* channel2)
{
    const View payload = CCPU(packet);
    if (payload.size < 6)
        return ZEL_STATUS_WRONG_LENGTH;
    Put(status, payload.U8(0));
    // One channel's fields from `base` on, as far as the payload holds them.
    const auto readChannel = [&payload](std::size_t base, _ECPU_PWM_CALIBRATION* channel) {
        if (!channel)
            return;
        if (payload.Has(base, 1))
            channel->minMaxCalibrated = payload.U8(base);
        if (payload.Has(base + 1, 1))
            channel->zeroCalibrated = payload.U8(base + 1);
        if (payload.Has(base + 2, 4))
            channel->dutyCycleMin = payload.F32(base + 2);
        if (payload.Has(base + 6, 4))
            channel->dutyCycleMax = payload.F32(base + 6);
        if (payload.Has(base + 10, 4))
            channel->offset = payload.F32(base + 10);
    };
    readChannel(1, channel1);
    m_twoChannels = 0;
    if (payload.size >= 16) {
        m_twoChannels = 1;
        readChannel(15, channel2);
    }
    return payload.size == 15 || payload.size == 29 ? ZEL_STATUS_SUCCESS : ZEL_STATUS_WRONG_LENGTH;
}

long CZELCommandSet::ProcessAckSetECPUEncoderMinMax(const std::uint8_t* packet, std::uint8_t* status,
    std::uint32_t* min, std::uint32_t* max, std::uint8_t size)
{
    const View payload = CCPU(packet);
    if (payload.size < 6)
        return ZEL_STATUS_WRONG_LENGTH;
    Put(status, payload.U8(0));
    Put(min, payload.U32(1));
    if (payload.Has(5, 4))
        Put(max, payload.U32(5));
    if (size <= 1)
        return ZEL_STATUS_INVALID_PARAMETER;
    return payload.size == 9 ? ZEL_STATUS_SUCCESS : ZEL_STATUS_WRONG_LENGTH;
}

long CZELCommandSet::ProcessAckGetECPUEncoderCalibration(const std::uint8_t* packet, std::uint8_t* status,
    std::uint8_t* calibrated, std::uint32_t* min, std::uint32_t* max, std::uint8_t)
{
    const View payload = CCPU(packet);
    if (payload.size < 6)
        return ZEL_STATUS_WRONG_LENGTH;
    Put(status, payload.U8(0));
    Put(calibrated, payload.U8(1));
    Put(min, payload.U32(2));
    if (payload.Has(6, 4))
        Put(max, payload.U32(6));
    return payload.size == 10 ? ZEL_STATUS_SUCCESS : ZEL_STATUS_WRONG_LENGTH;
}

// Trace, debug and carried MCPU packets.

long CZELCommandSet::ProcessNotTrace(const std::uint8_t* packet, std::uint16_t* count, std::uint16_t* values,
    std::uint16_t capacity)
{
    const View payload = CCPU(packet);
    const std::size_t items = payload.size / 2;
    Put(count, static_cast<std::uint16_t>(items));
    if (capacity < items || (items > 0 && !values))
        return ZEL_STATUS_BUFFER_TOO_SMALL;
    for (std::size_t i = 0; i < items; ++i)
        values[i] = payload.U16(2 * i);
    return ZEL_STATUS_SUCCESS;
}

long CZELCommandSet::ProcessNotDebug(const std::uint8_t* packet, std::uint16_t* source, std::uint8_t* priority,
    char* text, std::uint16_t textSize)
{
    ClearText(text, textSize);
    const View payload = CCPU(packet);
    if (payload.size < 4)
        return ZEL_STATUS_WRONG_LENGTH;
    Put(source, payload.U16(0));
    Put(priority, payload.U8(2));
    if (textSize < 2 || !text)
        return ZEL_STATUS_INVALID_PARAMETER;
    return CopyText(payload.data + 3, text, payload.size - 3, textSize);
}

long CZELCommandSet::ProcessNotMCPU(const std::uint8_t* packet, std::uint8_t* buffer, std::uint16_t capacity)
{
    const View payload = CCPU(packet);
    if (capacity < payload.size || (payload.size > 0 && !buffer))
        return ZEL_STATUS_BUFFER_TOO_SMALL;
    if (payload.size > 0)
        std::memcpy(buffer, payload.data, payload.size);
    return ZEL_STATUS_SUCCESS;
}

// MCPU answers.

long CZELCommandSet::ProcessAckBoardInfo(const std::uint8_t* packet, std::uint8_t* state, char* version,
    std::uint8_t versionSize)
{
    ClearText(version, versionSize);
    const View payload = MCPU(packet);
    if (payload.size != 18)
        return ZEL_STATUS_WRONG_LENGTH;
    Put(state, payload.U8(3));
    if (versionSize < 2 || !version)
        return ZEL_STATUS_INVALID_PARAMETER;
    const std::uint32_t value = payload.U32(7) - 20101U;
    char text[32];
    const int length = std::snprintf(text, sizeof text, "V %02i.%02i.%02i", static_cast<int>((value / 10000 + 1) % 256),
        static_cast<int>((value % 10000) / 100), static_cast<int>(value % 100));
    return CopyText(reinterpret_cast<const std::uint8_t*>(text), version, static_cast<std::size_t>(length), versionSize);
}

long CZELCommandSet::ProcessAckModuleList(const std::uint8_t* packet, _MCPU_CAN_DRIVER* drivers, std::uint8_t* count,
    std::uint8_t capacity)
{
    constexpr std::size_t kRecordSize = 13;
    const View payload = MCPU(packet);
    if (payload.size == 0)
        return ZEL_STATUS_WRONG_LENGTH;
    const std::uint8_t modules = payload.U8(0);
    for (std::size_t i = 0; i < modules; ++i) {
        const std::size_t offset = 1 + i * kRecordSize;
        if (!payload.Has(offset, kRecordSize))
            return ZEL_STATUS_WRONG_LENGTH;
        if (i >= capacity || !drivers)
            return ZEL_STATUS_BUFFER_TOO_SMALL;
        drivers[i].moduleId = payload.U8(offset);
        drivers[i].boardVersion = payload.U16(offset + 1);
        drivers[i].bootloaderVersion = payload.U16(offset + 3);
        drivers[i].mainVersion = payload.U16(offset + 5);
    }
    Put(count, modules);
    return ZEL_STATUS_SUCCESS;
}

long CZELCommandSet::ProcessAckReadParamsExt(const std::uint8_t* packet, std::int16_t* efoValues,
    std::int16_t* zeroValues)
{
    // The values sit at packet bytes 32 to 43.
    const View payload = MCPU(packet);
    if (!payload.Has(32 - ZEL_MCPU_HEADER_SIZE, 12))
        return ZEL_STATUS_WRONG_LENGTH;
    for (std::size_t i = 0; i < 3; ++i) {
        if (efoValues)
            efoValues[i] = payload.S16(32 - ZEL_MCPU_HEADER_SIZE + 2 * i);
        if (zeroValues)
            zeroValues[i] = payload.S16(38 - ZEL_MCPU_HEADER_SIZE + 2 * i);
    }
    return ZEL_STATUS_SUCCESS;
}

long CZELCommandSet::ProcessRealtimeData3(const std::uint8_t* packet, _MCPU_REALTIME_DATA3* data)
{
    if (MCPU(packet).size != 63)
        return ZEL_STATUS_WRONG_LENGTH;
    if (!data)
        return ZEL_STATUS_INVALID_PARAMETER;
    const View whole{packet, ZEL_MCPU_HEADER_SIZE + 63}; // packet offsets
    for (std::size_t i = 0; i < 3; ++i) {
        data->first[i] = whole.S16(4 + 2 * i);
        data->second[i] = whole.S16(10 + 2 * i);
    }
    data->word18 = whole.U16(18);
    data->byte20 = whole.U8(20);
    data->word56 = whole.U16(56);
    data->byte61 = whole.U8(61);
    return ZEL_STATUS_SUCCESS;
}

long CZELCommandSet::ProcessRealtimeDataCustom(const std::uint8_t* packet, _MCPU_REALTIME_GROUP* groups)
{
    if (MCPU(packet).size != 11)
        return ZEL_STATUS_WRONG_LENGTH;
    if (!groups)
        return ZEL_STATUS_INVALID_PARAMETER;
    const View whole{packet, ZEL_MCPU_HEADER_SIZE + 11};
    for (std::size_t i = 0; i < 3; ++i) {
        groups[i].value = whole.S16(6 + 3 * i);
        groups[i].flags = whole.U8(8 + 3 * i);
    }
    return ZEL_STATUS_SUCCESS;
}

long CZELCommandSet::ProcessDebugVars3(const std::uint8_t* packet, std::int16_t* values)
{
    if (MCPU(packet).size != 29)
        return ZEL_STATUS_WRONG_LENGTH;
    if (!values)
        return ZEL_STATUS_INVALID_PARAMETER;
    const View whole{packet, ZEL_MCPU_HEADER_SIZE + 29};
    for (std::size_t i = 0; i < 3; ++i)
        values[i] = whole.S16(16 + 2 * i);
    return ZEL_STATUS_SUCCESS;
}

long CZELCommandSet::ProcessAckConfirm(const std::uint8_t* packet, std::uint8_t* confirmedId)
{
    const View payload = MCPU(packet);
    if (payload.size == 0)
        return ZEL_STATUS_WRONG_LENGTH;
    Put(confirmedId, payload.U8(0));
    return ZEL_STATUS_SUCCESS;
}

long CZELCommandSet::ProcessAckReset(const std::uint8_t*) { return ZEL_STATUS_SUCCESS; }

long CZELCommandSet::ProcessAckError(const std::uint8_t* packet, std::uint8_t* errorCode, std::uint32_t* data)
{
    const View payload = MCPU(packet);
    if (payload.size < 5)
        return ZEL_STATUS_WRONG_LENGTH;
    Put(errorCode, payload.U8(0));
    Put(data, payload.U32(1));
    return ZEL_STATUS_SUCCESS;
}
