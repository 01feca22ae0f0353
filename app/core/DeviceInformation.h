#pragma once

#include "zel/foundation/ZELConversions.h"

#include <cstdint>
#include <string>

// What the device reported about itself, as the acknowledgements fill it in. Texts are fixed
// 32-character fields, zero-terminated when shorter.

inline constexpr int DEVICE_EXPANDER_TABLE_SIZE = 10;

struct ExpanderEntry
{
    unsigned short type = 0; // expander (ECPU) type; 0 ends the table
    char version[32] = {};
    unsigned char selected = 0; // written by the planning
};

struct DeviceInformation
{
    unsigned char answerStatus = 0;
    unsigned short hardwareType = 0; // 0: unknown
    char hardwareVersion[32] = {};
    char serialNumber[32] = {};

    char mcpuVersion[32] = {};
    char ecpuVersion[32] = {};
    char ccpuVersion[32] = {};
    char kcpuVersion[32] = {};
    char lcpuVersion[32] = {};
    char rcpuVersion[32] = {};
    char rcpuModemVersion[32] = {};
    char wcpuVersion[32] = {};
    char veltrixVersion[32] = {};
    char ombraVersion[32] = {};
    char canDriverVersion[32] = {};

    unsigned char boardInfoReceived = 0;
    ExpanderEntry expanders[DEVICE_EXPANDER_TABLE_SIZE] = {};
    unsigned char expectedExpanderCount = 0xFF; // 0xFF: not yet known
    unsigned char receivedExpanderCount = 0;

    // Preconditions reported before an update.
    unsigned char fsCanConnections = 0;
    unsigned char ffCanConnections = 0;
    unsigned char lbusConnections = 0;
    unsigned char emergencyButtonState = 0; // 1 pressed, 2 not pressed

    unsigned char canDriversFound = 0;
    unsigned char moduleListReceived = 0;
    unsigned char ombraPresent = 0;
};

// The name of a reported hardware type from the table of its family: radio modems, the boxes that
// answer as expanders, the rest as central units.
inline std::string DeviceHardwareName(std::uint16_t type)
{
    if ((type & 0xF000) == 0x3000)
        return GetZELRCPUTypeAsString(type);
    if (type == 0x0091 || type == 0x0080)
        return GetZELECPUTypeAsString(type);
    return GetZELCCPUTypeAsString(type);
}

// An expander as the operator is told of it: "ECPU Joystick T001_1 (type 33)".
inline std::string ExpanderName(std::uint16_t type)
{
    return "ECPU " + GetZELECPUTypeAsString(type) + " (type " + std::to_string(type) + ")";
}
