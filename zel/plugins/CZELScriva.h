#pragma once

#include "zel/commands/CZELCommandSet.h"

#include <cstddef>
#include <cstdint>

// Renders one acknowledgement or notification received from the device as one line of text for the
// traffic log: the command's symbolic name, then label-value pairs separated by "; ". Each
// reply-processing override decodes the reply with the command set and writes its text into the
// instance's buffer; a caller hands a packet to DumpAcknowledgeOrNotification, reads the text with
// GetScriva and empties the buffer with ClearScriva. An instance belongs to one thread at a time.
//
// Texts that would not fit the buffer are cut at its end; a rendering never writes beyond it.
class CZELScriva : public CZELCommandSet
{
public:
    static constexpr std::size_t kTextSize = 2048;
    static constexpr std::size_t kSmallTextSize = 128;
    // Capacity of each decoded version, serial number, date or user text.
    static constexpr std::uint8_t kStringSize = 32;
    // Capacity of a decoded debug text.
    static constexpr std::uint16_t kDebugTextSize = 1024;
    // Assignment words of one profile.
    static constexpr std::size_t kAssignmentCount = 254;

    CZELScriva() = default;
    ~CZELScriva() override = default;

    // Whether a packet with this start byte comes from a source the dump renders.
    static bool IsKnownSource(std::uint8_t startByte);

    // Dispatches on the start byte; ZEL_STATUS_NOT_IMPLEMENTED for a start byte of no known source.
    // The packet must hold the length its header announces.
    long DumpAcknowledgeOrNotification(const std::uint8_t* packet);
    // The same for a packet of `size` bytes, of any content: ZEL_STATUS_INVALID_DATA without text
    // when the header announces more than `size` bytes.
    long DumpAcknowledgeOrNotification(const std::uint8_t* packet, std::size_t size);
    // Each returns ZEL_STATUS_SUCCESS whatever the rendering gave; an unlisted command leaves the
    // buffer as it was.
    long DumpAcknowledgeOrNotificationFromCCPU(const std::uint8_t* packet);
    long DumpAcknowledgeOrNotificationFromCCPU2(const std::uint8_t* packet);
    long DumpAcknowledgeOrNotificationFromMCPU(const std::uint8_t* packet);
    long DumpAcknowledgeOrNotificationFromVeltrix(const std::uint8_t* packet);
    long DumpAcknowledgeOrNotificationFromOmbra(const std::uint8_t* packet);

    // The text buffer; with a destination also copies the text into it (at most size - 1
    // characters and the terminator).
    const char* GetScriva(char* destination = nullptr, long size = 0) const;
    long ClearScriva();

    // Each overwrites its own small buffer and returns it.
    const char* GetStatusString(std::uint8_t status);
    const char* GetPropertyName(std::uint8_t property);
    // Formats the value at `value` (zeros when null) and stores its width, 0 for an unknown property.
    const char* GetPropertyValue(std::uint8_t property, const std::uint8_t* value, std::uint8_t* width);

    // Multi-line dumps logged as one "information" record each; the text buffer is not touched.
    long DumpCCPUAssignments(long profile, const std::uint16_t* assignments);
    long DumpCCPUProfile(long profile, const _CCPU_PROFILE* records);

    // Reply-processing overrides: decode with the command set, write the text, return the
    // decoding status the text shows.
    long ProcessAckGetDeviceInfo(const std::uint8_t* packet, std::uint8_t* protocolVersion,
        std::uint16_t* hardwareType, char* hardwareVersion, char* serialNumber, char* mcpuVersion, char* ecpuVersion,
        char* ccpuVersion, char* kcpuVersion, char* lcpuVersion, char* rcpuVersion, char* wcpuVersion,
        std::uint8_t stringSize) override;
    long ProcessAckPrepareFirmwareUpdate(const std::uint8_t* packet, std::uint8_t* fsCanConnections,
        std::uint8_t* ffCanConnections, std::uint8_t* lbusConnections, std::uint8_t* emergencyButtonState) override;
    long ProcessAckGetCCPU2DeviceInfo(const std::uint8_t* packet, std::uint8_t* protocolVersion,
        std::uint16_t* hardwareType, char* hardwareVersion, char* serialNumber, char* ccpuVersion,
        std::uint8_t stringSize) override;
    long ProcessAckGetRCPUDeviceInfo(const std::uint8_t* packet, std::uint8_t* protocolVersion,
        std::uint16_t* modemType, char* rcpuVersion, char* modemVersion, std::uint8_t* channel, std::uint8_t* region,
        std::uint8_t* power, std::uint8_t stringSize) override;
    long ProcessAckGetVeltrixDeviceInfo(const std::uint8_t* packet, std::uint8_t* protocolVersion,
        std::uint16_t* hardwareType, char* version, std::uint8_t stringSize) override;
    long ProcessAckGetOmbraDeviceInfo(const std::uint8_t* packet, std::uint8_t* protocolVersion,
        std::uint16_t* hardwareType, char* version, std::uint8_t stringSize) override;
    long ProcessAckGetExpanders(const std::uint8_t* packet, std::uint8_t* count) override;
    long ProcessAckUpdateExpander(const std::uint8_t* packet) override;
    using CZELCommandSet::ProcessAckSendFirmware;
    // Writes a text only for a non-zero status byte (or an empty payload).
    long ProcessAckSendFirmware(const std::uint8_t* packet, std::uint8_t* status) override;
    long ProcessAckSetMCPUMode(const std::uint8_t* packet, std::uint8_t* status, std::uint8_t* mode) override;
    long ProcessNotExpander(const std::uint8_t* packet, std::uint8_t* count, std::uint16_t* expanderType,
        char* version) override;
    long ProcessNotExpanderFinished(const std::uint8_t* packet) override;
    long ProcessAckDumpSettings(const std::uint8_t* packet, std::uint8_t* status) override;
    long ProcessAckGetECPUInfo(const std::uint8_t* packet, std::uint8_t* protocolVersion,
        std::uint16_t* hardwareType, char* version, std::uint8_t stringSize) override;
    long ProcessAckGetKCPUInfo(const std::uint8_t* packet, std::uint8_t* protocolVersion,
        std::uint16_t* hardwareType, char* version, std::uint8_t stringSize) override;
    // Decoded here, with the command set's rules.
    long ProcessAckSetECPUPWMZeroOffset(const std::uint8_t* packet, std::uint8_t* status, float* offset1,
        float* offset2, std::uint8_t size) override;
    long ProcessAckSetECPUPWMMinMax(const std::uint8_t* packet, std::uint8_t* status, float* min1, float* max1,
        float* min2, float* max2, std::uint8_t size) override;
    long ProcessAckGetECPUPWMCalibration(const std::uint8_t* packet, std::uint8_t* status,
        _ECPU_PWM_CALIBRATION* channel1, _ECPU_PWM_CALIBRATION* channel2) override;
    long ProcessAckSetECPUEncoderMinMax(const std::uint8_t* packet, std::uint8_t* status, std::uint32_t* min,
        std::uint32_t* max, std::uint8_t size) override;
    long ProcessAckGetECPUEncoderCalibration(const std::uint8_t* packet, std::uint8_t* status,
        std::uint8_t* calibrated, std::uint32_t* min, std::uint32_t* max, std::uint8_t size) override;
    long ProcessAckGetStatus(const std::uint8_t* packet, std::uint8_t* count, std::uint8_t* bytes,
        std::uint16_t capacity) override;
    long ProcessAckControl(const std::uint8_t* packet, std::uint8_t* count, std::uint8_t* status,
        std::uint8_t* propertyId, std::uint8_t* value) override;
    long ProcessAckReadMemory(const std::uint8_t* packet, std::uint8_t* status, std::uint8_t* memory,
        std::uint8_t* length, std::uint32_t* address, std::uint8_t* destination,
        std::uint16_t destinationSize) override;
    long ProcessRCPUAckControl(const std::uint8_t* packet, std::uint8_t* count, std::uint8_t* bytes,
        std::uint16_t capacity) override;
    long ProcessAckReadProfile(const std::uint8_t* packet, std::uint8_t* status, std::uint8_t* profile,
        std::uint8_t* page, _CCPU_PROFILE* records) override;
    long ProcessAckReadAssignments(const std::uint8_t* packet, std::uint8_t* status, std::uint8_t* profile,
        std::uint16_t* values, std::uint16_t* count) override;
    long ProcessAckSetHardwareInfo(const std::uint8_t* packet, std::uint8_t* status) override;
    long ProcessAckSetCCPU2HardwareInfo(const std::uint8_t* packet, std::uint8_t* status) override;
    long ProcessAckGetHardwareInfo(const std::uint8_t* packet, std::uint16_t* hardwareType, char* hardwareVersion,
        char* serialNumber, std::uint8_t stringSize) override;
    long ProcessAckGetCCPU2HardwareInfo(const std::uint8_t* packet, std::uint16_t* hardwareType,
        char* hardwareVersion, char* serialNumber, std::uint8_t stringSize) override;
    long ProcessAckSetECPUHardwareInfo(const std::uint8_t* packet, std::uint8_t* status) override;
    long ProcessAckGetECPUHardwareInfo(const std::uint8_t* packet, std::uint16_t* hardwareType,
        char* hardwareVersion, char* serialNumber, std::uint8_t stringSize) override;
    long ProcessAckSetRCPUHardwareInfo(const std::uint8_t* packet, std::uint8_t* status) override;
    long ProcessAckGetRCPUHardwareInfo(const std::uint8_t* packet, std::uint16_t* modemType, char* hardwareVersion,
        char* serialNumber, std::uint8_t stringSize) override;
    long ProcessAckSetProductionInfo(const std::uint8_t* packet, std::uint8_t* status) override;
    long ProcessAckSetCCPU2ProductionInfo(const std::uint8_t* packet, std::uint8_t* status) override;
    long ProcessAckGetProductionInfo(const std::uint8_t* packet, char* date, char* user,
        std::uint8_t stringSize) override;
    long ProcessAckGetCCPU2ProductionInfo(const std::uint8_t* packet, char* date, char* user,
        std::uint8_t stringSize) override;
    long ProcessAckSetECPUProductionInfo(const std::uint8_t* packet, std::uint8_t* status) override;
    long ProcessAckGetECPUProductionInfo(const std::uint8_t* packet, char* date, char* user,
        std::uint8_t stringSize) override;
    long ProcessAckSetRCPUProductionInfo(const std::uint8_t* packet, std::uint8_t* status) override;
    long ProcessAckGetRCPUProductionInfo(const std::uint8_t* packet, char* date, char* user,
        std::uint8_t stringSize) override;
    long ProcessAckSetRCPUModemConfig(const std::uint8_t* packet, std::uint8_t* status) override;
    long ProcessAckGetRCPUModemConfig(const std::uint8_t* packet, std::uint8_t* mode, std::uint8_t* power,
        std::uint32_t* link) override;
    long ProcessAckSetRCPURegion(const std::uint8_t* packet, std::uint8_t* status) override;
    long ProcessAckGetRCPURegion(const std::uint8_t* packet, std::uint8_t* region) override;
    long ProcessCCPU2AckSwitchToBootLoader(const std::uint8_t* packet, std::uint8_t* status) override;
    long ProcessRCPUAckSwitchToBootLoader(const std::uint8_t* packet, std::uint8_t* status) override;
    long ProcessRCPUNotSwitchToBootLoader(const std::uint8_t* packet) override;
    long ProcessRCPUNotSetModemConfig(const std::uint8_t* packet, std::uint8_t* status) override;
    long ProcessRCPUNotInfo(const std::uint8_t* packet, std::uint16_t* modemType, char* modemVersion,
        std::uint8_t stringSize) override;
    long ProcessRCPUNotStatus(const std::uint8_t* packet, std::uint16_t* modemType, std::uint8_t* linkState,
        std::uint8_t* mode, std::uint8_t* region, std::uint8_t* channel, std::uint8_t* power,
        std::uint8_t* savingState, std::uint8_t* strategy, std::int8_t* strength) override;
    long ProcessVeltrixNotCurrentValues(const std::uint8_t* packet, std::int16_t* rollEncoder, std::int16_t* rollImu,
        std::int16_t* tiltEncoder, std::int16_t* tiltImu, std::int16_t* panEncoder, std::int16_t* panImu,
        std::uint16_t* focus, std::uint16_t* iris, std::uint16_t* zoom, std::uint16_t* tower) override;
    long ProcessOmbraNotCurrentValues(const std::uint8_t* packet, std::uint16_t* position, std::uint16_t* range,
        std::uint8_t* calibrationState) override;
    long ProcessVeltrixAckSwitchToBootLoader(const std::uint8_t* packet, std::uint8_t* status) override;
    long ProcessOmbraAckSwitchToBootLoader(const std::uint8_t* packet, std::uint8_t* status) override;
    long ProcessNotStatus(const std::uint8_t* packet, std::uint8_t* count, std::uint8_t* propertyIds,
        std::uint16_t idCapacity, std::uint8_t* values, std::uint16_t valueCapacity) override;
    // Decodes only; writes no text.
    long ProcessNotTrace(const std::uint8_t* packet, std::uint16_t* count, std::uint16_t* values,
        std::uint16_t capacity) override;
    long ProcessNotDebug(const std::uint8_t* packet, std::uint16_t* source, std::uint8_t* priority, char* text,
        std::uint16_t textSize) override;
    long ProcessNotMCPU(const std::uint8_t* packet, std::uint8_t* buffer, std::uint16_t capacity) override;

    long ProcessAckBoardInfo(const std::uint8_t* packet, std::uint8_t* state, char* version,
        std::uint8_t versionSize) override;
    long ProcessAckModuleList(const std::uint8_t* packet, _MCPU_CAN_DRIVER* drivers, std::uint8_t* count,
        std::uint8_t capacity) override;
    // The zero values at packet bytes 32 to 37, the EFO values at 38 to 43.
    long ProcessAckReadParamsExt(const std::uint8_t* packet, std::int16_t* efoValues,
        std::int16_t* zeroValues) override;
    // ZEL_STATUS_NOT_IMPLEMENTED without text for an unknown command or confirmation length.
    long ProcessAckConfirm(const std::uint8_t* packet, std::uint8_t* confirmedId) override;
    long ProcessAckReset(const std::uint8_t* packet) override;
    long ProcessAckError(const std::uint8_t* packet, std::uint8_t* errorCode, std::uint32_t* data) override;

private:
    void Write(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void Append(const char* format, ...) __attribute__((format(printf, 2, 3)));
    long StatusReply(const char* name, long result, std::uint8_t status);
    long HardwareReply(const char* name, long result, std::uint16_t type, const char* typeText,
        const char* hardwareVersion, const char* serialNumber);
    long ProductionReply(const char* name, long result, const char* date, const char* user);
    long VersionReply(const char* name, long result, std::uint8_t protocolVersion, std::uint16_t type,
        const char* typeText, const char* versionLabel, const char* version);
    long StatusList(const char* name, const std::uint8_t* packet, long result, std::uint8_t count,
        const std::uint8_t* bytes);

    char m_text[kTextSize] = {};
    char m_statusText[kSmallTextSize] = {};
    char m_propertyName[kSmallTextSize] = {};
    char m_propertyValue[kSmallTextSize] = {};
};

CZELScriva& GetZELScriva();
