#pragma once

#include "zel/commands/ZELCommandRecords.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

// The device's command language: request builders that lay out packets in a caller's buffer and leave the
// checksum bytes to CalculateChecksums, and parsers of acknowledgements and notifications. Builders and
// parsers are virtual so that the traffic dump and the command helper can override them.
//
// A parser takes the packet's first byte and trusts the length the packet announces: the caller hands over
// a whole packet as the framer delivers it. Within that, no parser reads beyond the announced payload and
// none writes beyond the buffer sizes it is given.
class CZELCommandSet
{
public:
    CZELCommandSet() = default;
    CZELCommandSet(const CZELCommandSet&) = delete;
    CZELCommandSet& operator=(const CZELCommandSet&) = delete;
    virtual ~CZELCommandSet() = default;

    virtual long SetProtocol(std::uint16_t protocol);
    virtual std::uint16_t GetProtocol(std::uint16_t* protocol = nullptr) const;

    // Requests of the CCPU family. Each returns the packet length (7 without payload, payload + 8 with it),
    // or 0 when the arguments cannot be laid out in one packet. The buffer must hold the returned length.
    virtual std::uint16_t PrepareReqGetDeviceInfo(std::uint8_t* buffer);
    virtual std::uint16_t PrepareReqGetLBUSDevices(std::uint8_t* buffer);
    virtual std::uint16_t PrepareReqGetExpanders(std::uint8_t* buffer);
    virtual std::uint16_t PrepareReqGetCANDrivers(std::uint8_t* buffer);
    virtual std::uint16_t PrepareReqPrepareFirmwareUpdate(std::uint8_t* buffer);
    virtual std::uint16_t PrepareReqGetCCPU2DeviceInfo(std::uint8_t* buffer);
    virtual std::uint16_t PrepareReqReadProfile(std::uint8_t* buffer, std::uint8_t profile, std::uint8_t page);
    virtual std::uint16_t PrepareReqReadAssignments(std::uint8_t* buffer, std::uint8_t profile);
    virtual std::uint16_t PrepareReqGetRCPUDeviceInfo(std::uint8_t* buffer);
    virtual std::uint16_t PrepareReqGetVeltrixDeviceInfo(std::uint8_t* buffer);
    virtual std::uint16_t PrepareReqGetOmbraDeviceInfo(std::uint8_t* buffer);
    virtual std::uint16_t PrepareReqUpdateExpander(std::uint8_t* buffer, std::uint16_t expanderType);
    virtual std::uint16_t PrepareReqUpdateCCPU2(std::uint8_t* buffer);
    virtual std::uint16_t PrepareReqUpdateRCPU(std::uint8_t* buffer);
    virtual std::uint16_t PrepareReqUpdateVeltrix(std::uint8_t* buffer);
    virtual std::uint16_t PrepareReqUpdateOmbraBox(std::uint8_t* buffer);
    virtual std::uint16_t PrepareReqDumpSettings(std::uint8_t* buffer);
    virtual std::uint16_t PrepareReqGetECPUInfo(std::uint8_t* buffer);
    virtual std::uint16_t PrepareReqGetKCPUInfo(std::uint8_t* buffer);
    virtual std::uint16_t PrepareReqSetECPUPWMZeroOffset(std::uint8_t* buffer);
    virtual std::uint16_t PrepareReqSetECPUPWMMinMax(std::uint8_t* buffer);
    virtual long PrepareReqSetSetpoints(std::uint8_t* buffer, std::int16_t setpoint1, std::int16_t setpoint2);
    virtual std::uint16_t PrepareReqGetECPUPWMCalibration(std::uint8_t* buffer);
    virtual std::uint16_t PrepareReqSetECPUEncoderMinMax(std::uint8_t* buffer);
    virtual std::uint16_t PrepareReqGetECPUEncoderCalibration(std::uint8_t* buffer);
    // Pairs of property id and update rate.
    virtual std::uint16_t PrepareReqGetStatus(std::uint8_t* buffer, std::uint8_t count, const std::uint8_t* propertyIds,
        const std::uint8_t* updateRates);
    // Each property id followed by its value in the control width; `values` holds the values packed.
    virtual std::uint16_t PrepareReqControl(std::uint8_t* buffer, std::uint8_t count, const std::uint8_t* propertyIds,
        const std::uint8_t* values);
    virtual std::uint16_t PrepareReqReadMemory(std::uint8_t* buffer, std::uint8_t memory, std::uint8_t length,
        std::uint32_t startAddress);
    virtual std::uint16_t PrepareRCPUReqControl(std::uint8_t* buffer, std::uint8_t count, const std::uint8_t* propertyIds,
        const std::uint8_t* values);
    virtual std::uint16_t PrepareReqSendFirmware(std::uint8_t* buffer, std::uint32_t targetAddress,
        std::uint16_t dataLength, const std::uint8_t* data);
    virtual std::uint16_t PrepareReqSetHardwareInfo(std::uint8_t* buffer, std::uint16_t hardwareType,
        const char* hardwareVersion, const char* serialNumber);
    virtual std::uint16_t PrepareReqSetCCPU2HardwareInfo(std::uint8_t* buffer, std::uint16_t hardwareType,
        const char* hardwareVersion, const char* serialNumber);
    virtual std::uint16_t PrepareReqGetHardwareInfo(std::uint8_t* buffer);
    virtual std::uint16_t PrepareReqGetCCPU2HardwareInfo(std::uint8_t* buffer);
    virtual std::uint16_t PrepareReqSetECPUHardwareInfo(std::uint8_t* buffer, std::uint16_t hardwareType,
        const char* hardwareVersion, const char* serialNumber);
    virtual std::uint16_t PrepareReqGetECPUHardwareInfo(std::uint8_t* buffer);
    virtual std::uint16_t PrepareReqSetRCPUHardwareInfo(std::uint8_t* buffer, std::uint16_t hardwareType,
        const char* hardwareVersion, const char* serialNumber);
    virtual std::uint16_t PrepareReqGetRCPUHardwareInfo(std::uint8_t* buffer);
    virtual std::uint16_t PrepareReqSetProductionInfo(std::uint8_t* buffer, const char* date, const char* user);
    virtual std::uint16_t PrepareReqSetCCPU2ProductionInfo(std::uint8_t* buffer, const char* date, const char* user);
    virtual std::uint16_t PrepareReqGetProductionInfo(std::uint8_t* buffer);
    virtual std::uint16_t PrepareReqGetCCPU2ProductionInfo(std::uint8_t* buffer);
    virtual std::uint16_t PrepareReqSetRCPUModemConfig(std::uint8_t* buffer, std::uint8_t mode, std::uint8_t power,
        std::uint32_t link);
    virtual std::uint16_t PrepareReqGetRCPUModemConfig(std::uint8_t* buffer);
    virtual std::uint16_t PrepareReqSetRCPURegion(std::uint8_t* buffer, std::uint8_t region);
    virtual std::uint16_t PrepareReqGetRCPURegion(std::uint8_t* buffer);
    virtual std::uint16_t PrepareReqSetECPUProductionInfo(std::uint8_t* buffer, const char* date, const char* user);
    virtual std::uint16_t PrepareReqGetECPUProductionInfo(std::uint8_t* buffer);
    virtual std::uint16_t PrepareReqSetRCPUProductionInfo(std::uint8_t* buffer, const char* date, const char* user);
    virtual std::uint16_t PrepareReqGetRCPUProductionInfo(std::uint8_t* buffer);
    virtual std::uint16_t PrepareReqSetMCPUMode(std::uint8_t* buffer, std::uint8_t mode);

    // Parsers of the CCPU family. Results: ZEL_STATUS_SUCCESS; ZEL_STATUS_WRONG_LENGTH when the payload does
    // not fit the layout; ZEL_STATUS_INVALID_PARAMETER for a string buffer of 1 byte or less or a string
    // running past the payload; ZEL_STATUS_BUFFER_TOO_SMALL when a string or list was cut to fit.
    virtual long ProcessAckGetDeviceInfo(const std::uint8_t* packet, std::uint8_t* protocolVersion,
        std::uint16_t* hardwareType, char* hardwareVersion, char* serialNumber, char* mcpuVersion, char* ecpuVersion,
        char* ccpuVersion, char* kcpuVersion, char* lcpuVersion, char* rcpuVersion, char* wcpuVersion,
        std::uint8_t stringSize);
    // Outputs preset to 0xFF.
    virtual long ProcessAckPrepareFirmwareUpdate(const std::uint8_t* packet, std::uint8_t* fsCanConnections,
        std::uint8_t* ffCanConnections, std::uint8_t* lbusConnections, std::uint8_t* emergencyButtonState);
    virtual long ProcessAckGetCCPU2DeviceInfo(const std::uint8_t* packet, std::uint8_t* protocolVersion,
        std::uint16_t* hardwareType, char* hardwareVersion, char* serialNumber, char* ccpuVersion,
        std::uint8_t stringSize);
    virtual long ProcessAckGetRCPUDeviceInfo(const std::uint8_t* packet, std::uint8_t* protocolVersion,
        std::uint16_t* modemType, char* rcpuVersion, char* modemVersion, std::uint8_t* channel, std::uint8_t* region,
        std::uint8_t* power, std::uint8_t stringSize);
    virtual long ProcessAckGetVeltrixDeviceInfo(const std::uint8_t* packet, std::uint8_t* protocolVersion,
        std::uint16_t* hardwareType, char* version, std::uint8_t stringSize);
    virtual long ProcessAckGetOmbraDeviceInfo(const std::uint8_t* packet, std::uint8_t* protocolVersion,
        std::uint16_t* hardwareType, char* version, std::uint8_t stringSize);
    virtual long ProcessAckGetExpanders(const std::uint8_t* packet, std::uint8_t* count);
    virtual long ProcessAckUpdateExpander(const std::uint8_t* packet);
    virtual long ProcessAckSendFirmware(const std::uint8_t* packet, std::uint8_t* status);
    // Returns the device status byte itself (or ZEL_STATUS_WRONG_LENGTH for an empty payload).
    virtual long ProcessAckSendFirmware(const std::uint8_t* packet);
    virtual long ProcessAckSetMCPUMode(const std::uint8_t* packet, std::uint8_t* status, std::uint8_t* mode);
    virtual long ProcessNotControl(const std::uint8_t* packet, std::uint8_t* byte0, std::uint8_t* byte1);
    // `version` must hold at least 33 bytes.
    virtual long ProcessNotExpander(const std::uint8_t* packet, std::uint8_t* count, std::uint16_t* expanderType,
        char* version);
    virtual long ProcessNotExpanderFinished(const std::uint8_t* packet);
    virtual long ProcessAckDumpSettings(const std::uint8_t* packet, std::uint8_t* status);
    virtual long ProcessAckGetECPUInfo(const std::uint8_t* packet, std::uint8_t* protocolVersion,
        std::uint16_t* hardwareType, char* version, std::uint8_t stringSize);
    virtual long ProcessAckGetKCPUInfo(const std::uint8_t* packet, std::uint8_t* protocolVersion,
        std::uint16_t* hardwareType, char* version, std::uint8_t stringSize);
    virtual long ProcessAckSetECPUPWMZeroOffset(const std::uint8_t* packet, std::uint8_t* status, float* offset1,
        float* offset2, std::uint8_t size);
    virtual long ProcessAckSetECPUPWMMinMax(const std::uint8_t* packet, std::uint8_t* status, float* min1, float* max1,
        float* min2, float* max2, std::uint8_t size);
    virtual long ProcessAckGetECPUPWMCalibration(const std::uint8_t* packet, std::uint8_t* status,
        _ECPU_PWM_CALIBRATION* channel1, _ECPU_PWM_CALIBRATION* channel2);
    virtual long ProcessAckSetECPUEncoderMinMax(const std::uint8_t* packet, std::uint8_t* status, std::uint32_t* min,
        std::uint32_t* max, std::uint8_t size);
    virtual long ProcessAckGetECPUEncoderCalibration(const std::uint8_t* packet, std::uint8_t* status,
        std::uint8_t* calibrated, std::uint32_t* min, std::uint32_t* max, std::uint8_t size);
    // The payload bytes, at most `capacity` of them.
    virtual long ProcessAckGetStatus(const std::uint8_t* packet, std::uint8_t* count, std::uint8_t* bytes,
        std::uint16_t capacity);
    virtual long ProcessAckControl(const std::uint8_t* packet, std::uint8_t* count, std::uint8_t* status,
        std::uint8_t* propertyId, std::uint8_t* value);
    virtual long ProcessAckReadMemory(const std::uint8_t* packet, std::uint8_t* status, std::uint8_t* memory,
        std::uint8_t* length, std::uint32_t* address, std::uint8_t* destination, std::uint16_t destinationSize);
    virtual long ProcessRCPUAckControl(const std::uint8_t* packet, std::uint8_t* count, std::uint8_t* bytes,
        std::uint16_t capacity);
    virtual long ProcessAckReadProfile(const std::uint8_t* packet, std::uint8_t* status, std::uint8_t* profile,
        std::uint8_t* page, _CCPU_PROFILE* records);
    // `count` holds the capacity of `values` on entry and the number of values on return.
    virtual long ProcessAckReadAssignments(const std::uint8_t* packet, std::uint8_t* status, std::uint8_t* profile,
        std::uint16_t* values, std::uint16_t* count);
    virtual long ProcessAckSetHardwareInfo(const std::uint8_t* packet, std::uint8_t* status);
    virtual long ProcessAckSetCCPU2HardwareInfo(const std::uint8_t* packet, std::uint8_t* status);
    virtual long ProcessAckGetHardwareInfo(const std::uint8_t* packet, std::uint16_t* hardwareType,
        char* hardwareVersion, char* serialNumber, std::uint8_t stringSize);
    virtual long ProcessAckGetCCPU2HardwareInfo(const std::uint8_t* packet, std::uint16_t* hardwareType,
        char* hardwareVersion, char* serialNumber, std::uint8_t stringSize);
    virtual long ProcessAckSetECPUHardwareInfo(const std::uint8_t* packet, std::uint8_t* status);
    virtual long ProcessAckGetECPUHardwareInfo(const std::uint8_t* packet, std::uint16_t* hardwareType,
        char* hardwareVersion, char* serialNumber, std::uint8_t stringSize);
    virtual long ProcessAckSetRCPUHardwareInfo(const std::uint8_t* packet, std::uint8_t* status);
    virtual long ProcessAckGetRCPUHardwareInfo(const std::uint8_t* packet, std::uint16_t* modemType,
        char* hardwareVersion, char* serialNumber, std::uint8_t stringSize);
    virtual long ProcessAckSetProductionInfo(const std::uint8_t* packet, std::uint8_t* status);
    virtual long ProcessAckSetCCPU2ProductionInfo(const std::uint8_t* packet, std::uint8_t* status);
    virtual long ProcessAckGetProductionInfo(const std::uint8_t* packet, char* date, char* user,
        std::uint8_t stringSize);
    virtual long ProcessAckGetCCPU2ProductionInfo(const std::uint8_t* packet, char* date, char* user,
        std::uint8_t stringSize);
    virtual long ProcessAckSetECPUProductionInfo(const std::uint8_t* packet, std::uint8_t* status);
    virtual long ProcessAckGetECPUProductionInfo(const std::uint8_t* packet, char* date, char* user,
        std::uint8_t stringSize);
    virtual long ProcessAckSetRCPUProductionInfo(const std::uint8_t* packet, std::uint8_t* status);
    virtual long ProcessAckGetRCPUProductionInfo(const std::uint8_t* packet, char* date, char* user,
        std::uint8_t stringSize);
    virtual long ProcessAckSetRCPUModemConfig(const std::uint8_t* packet, std::uint8_t* status);
    virtual long ProcessAckGetRCPUModemConfig(const std::uint8_t* packet, std::uint8_t* mode, std::uint8_t* power,
        std::uint32_t* link);
    virtual long ProcessAckSetRCPURegion(const std::uint8_t* packet, std::uint8_t* status);
    virtual long ProcessAckGetRCPURegion(const std::uint8_t* packet, std::uint8_t* region);
    virtual long ProcessCCPU2AckSwitchToBootLoader(const std::uint8_t* packet, std::uint8_t* status);
    virtual long ProcessRCPUAckSwitchToBootLoader(const std::uint8_t* packet, std::uint8_t* status);
    virtual long ProcessRCPUNotSwitchToBootLoader(const std::uint8_t* packet);
    virtual long ProcessRCPUNotSetModemConfig(const std::uint8_t* packet, std::uint8_t* status);
    virtual long ProcessRCPUNotInfo(const std::uint8_t* packet, std::uint16_t* modemType, char* modemVersion,
        std::uint8_t stringSize);
    virtual long ProcessRCPUNotStatus(const std::uint8_t* packet, std::uint16_t* modemType, std::uint8_t* linkState,
        std::uint8_t* mode, std::uint8_t* region, std::uint8_t* channel, std::uint8_t* power,
        std::uint8_t* savingState, std::uint8_t* strategy, std::int8_t* strength);
    // Roll, tilt, pan encoder and IMU values, then focus, iris, zoom and tower.
    virtual long ProcessVeltrixNotCurrentValues(const std::uint8_t* packet, std::int16_t* rollEncoder,
        std::int16_t* rollImu, std::int16_t* tiltEncoder, std::int16_t* tiltImu, std::int16_t* panEncoder,
        std::int16_t* panImu, std::uint16_t* focus, std::uint16_t* iris, std::uint16_t* zoom, std::uint16_t* tower);
    virtual long ProcessOmbraNotCurrentValues(const std::uint8_t* packet, std::uint16_t* position,
        std::uint16_t* range, std::uint8_t* calibrationState);
    virtual long ProcessVeltrixAckSwitchToBootLoader(const std::uint8_t* packet, std::uint8_t* status);
    virtual long ProcessOmbraAckSwitchToBootLoader(const std::uint8_t* packet, std::uint8_t* status);
    // Property ids into `propertyIds`, their values packed into `values` (capacities in items and bytes).
    virtual long ProcessNotStatus(const std::uint8_t* packet, std::uint8_t* count, std::uint8_t* propertyIds,
        std::uint16_t idCapacity, std::uint8_t* values, std::uint16_t valueCapacity);
    virtual long ProcessNotTrace(const std::uint8_t* packet, std::uint16_t* count, std::uint16_t* values,
        std::uint16_t capacity);
    virtual long ProcessNotDebug(const std::uint8_t* packet, std::uint16_t* source, std::uint8_t* priority, char* text,
        std::uint16_t textSize);
    // The MCPU packet the main controller carried, copied whole.
    virtual long ProcessNotMCPU(const std::uint8_t* packet, std::uint8_t* buffer, std::uint16_t capacity);

    // Requests of the MCPU family, framed by the current MCPU delimiter; each returns overhead + payload.
    virtual std::uint16_t PrepareReqBoardInfo(std::uint8_t* buffer);
    virtual std::uint16_t PrepareReqModuleList(std::uint8_t* buffer);
    virtual std::uint16_t PrepareReqReset(std::uint8_t* buffer);
    virtual std::uint16_t PrepareReqModuleFlashStart(std::uint8_t* buffer, std::uint8_t module, std::uint32_t size);
    // Pieces of more than 245 bytes do not fit the 8-bit length and give 0.
    virtual std::uint16_t PrepareReqModuleFlashWrite(std::uint8_t* buffer, std::uint8_t module,
        std::uint8_t packetNumber, std::uint32_t offset, std::uint32_t crc, const std::uint8_t* data,
        std::uint32_t dataLength);
    virtual std::uint16_t PrepareReqModuleFlashFinish(std::uint8_t* buffer, std::uint8_t module, std::uint32_t crc);
    virtual std::uint16_t PrepareReqReadParamsExt(std::uint8_t* buffer);
    virtual std::uint16_t PrepareReqEncodersCalibFldOffset(std::uint8_t* buffer);
    virtual std::uint16_t PrepareReqEncodersCalibOffset(std::uint8_t* buffer);
    virtual std::uint16_t PrepareReqRealTimeData3(std::uint8_t* buffer);
    virtual std::uint16_t PrepareReqRealTimeDataCustom(std::uint8_t* buffer, std::uint16_t interval,
        std::uint32_t flags);
    virtual std::uint16_t PrepareReqDebugVars3(std::uint8_t* buffer);
    virtual std::uint16_t PrepareReqMotorsOn(std::uint8_t* buffer);
    virtual std::uint16_t PrepareReqMotorsOff(std::uint8_t* buffer);
    // Turns a read-parameters answer held in `buffer` into the reset request; 0 when it is too short.
    virtual std::uint16_t PrepareReqResetCalibration(std::uint8_t* buffer);

    // Parsers of the MCPU family.
    virtual long ProcessAckBoardInfo(const std::uint8_t* packet, std::uint8_t* state, char* version,
        std::uint8_t versionSize);
    // The count is written only on success; `capacity` records fit into `drivers`.
    virtual long ProcessAckModuleList(const std::uint8_t* packet, _MCPU_CAN_DRIVER* drivers, std::uint8_t* count,
        std::uint8_t capacity);
    virtual long ProcessAckReadParamsExt(const std::uint8_t* packet, std::int16_t* efoValues, std::int16_t* zeroValues);
    virtual long ProcessRealtimeData3(const std::uint8_t* packet, _MCPU_REALTIME_DATA3* data);
    virtual long ProcessRealtimeDataCustom(const std::uint8_t* packet, _MCPU_REALTIME_GROUP* groups);
    virtual long ProcessDebugVars3(const std::uint8_t* packet, std::int16_t* values);
    virtual long ProcessAckConfirm(const std::uint8_t* packet, std::uint8_t* confirmedId);
    virtual long ProcessAckReset(const std::uint8_t* packet);
    virtual long ProcessAckError(const std::uint8_t* packet, std::uint8_t* errorCode, std::uint32_t* data);

    // Checksums (and for the CCPU family the sequence number) by the packet's first byte; the buffer must
    // hold the length its header announces.
    long CalculateChecksums(std::uint8_t* packet);
    // The same for a packet of `length` bytes: a header announcing more than that gives ZEL_STATUS_WRONG_LENGTH
    // and leaves the packet unchanged.
    long CalculateChecksums(std::uint8_t* packet, std::size_t length);
    long CalculateChecksumsForCCPU(std::uint8_t* packet);
    long CalculateChecksumsForMCPU(std::uint8_t* packet);

    // The length a packet announces (header plus payload plus checksums), 0 for an unknown first byte or a
    // header shorter than `available` cannot show.
    static std::size_t GetAnnouncedPacketLength(const std::uint8_t* packet, std::size_t available);
    // The bytes of a control item's value in a control request (2 for items 2, 3 and 128, 1 for 125,
    // 129, 132 and 133); 0 for an item the request cannot carry.
    static std::uint8_t GetControlItemWidth(std::uint8_t propertyId);

protected:
    struct alignas(4) ProtocolState // one lock-free word
    {
        std::uint16_t protocol;
        std::uint8_t mcpuDelimiter;
        std::uint8_t mcpuOverhead; // header plus trailer: the length of a request without payload
    };

    // Copies a string of `length` characters with its terminator, or the first size - 1 of them
    // (ZEL_STATUS_BUFFER_TOO_SMALL).
    static long ExtractString(const std::uint8_t* source, char* destination, std::size_t length,
        std::size_t destinationSize);
    // One value of a property in the width a control request carries (set) or a status reports (get);
    // ZEL_STATUS_NOT_FOUND with width 0 for a property without one. GetPropertyValue with null pointers
    // only reports the width.
    static long SetPropertyValue(std::uint8_t* destination, std::uint8_t propertyId, const std::uint8_t* source,
        std::uint8_t* width);
    static long SetRCPUPropertyValue(std::uint8_t* destination, std::uint8_t propertyId, const std::uint8_t* source,
        std::uint8_t* width);
    static long GetPropertyValue(const std::uint8_t* source, std::uint8_t propertyId, std::uint8_t* destination,
        std::uint8_t* width);

    // Header and trailer of an MCPU-family request whose payload is in place; returns its length.
    std::uint16_t FinishMCPU(std::uint8_t* buffer, std::uint8_t id, std::uint8_t payloadLength) const;
    ProtocolState GetProtocolState() const { return m_protocolState.load(); }
    std::uint8_t NextSequenceNumber();

    // Set by the ECPU PWM parsers: 1 after a two-channel answer, 0 after a one-channel one.
    std::atomic<std::uint8_t> m_twoChannels{0};

private:
    // Builders and parsers run on several threads without a lock, so the shared state is atomic; the protocol
    // and its MCPU delimiter change together.
    std::atomic<std::uint8_t> m_sequenceNumber{1};
    std::atomic<ProtocolState> m_protocolState{ProtocolState{0x4800, 0x3E, 5}};
};

CZELCommandSet& GetZELCommandSet();
