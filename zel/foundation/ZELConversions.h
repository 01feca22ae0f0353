#pragma once

#include "zel/platform/ZELSystemTime.h"

#include <cstdint>
#include <string>

// Display texts of device codes; an unknown code gives "???".
std::string GetZELCCPUTypeAsString(unsigned short type);
std::string GetZELECPUTypeAsString(unsigned short type);
std::string GetZELRCPUTypeAsString(unsigned short type);
std::string GetZELCCPURegionAsString(unsigned char region);
std::string GetZELRCPUModeAsString(unsigned char mode);
std::string GetZELRCPUPowerAsString(unsigned char power);
std::string GetZELCCPUEmergencyButtonAsString(unsigned char state);

// UTC now in milliseconds since 1601-01-01.
std::int64_t GetSystemTimeInMs();

// The calendar record taken as it is (no time-zone change), in milliseconds since 1601-01-01;
// 0 for a record that is not a valid date and time.
std::int64_t ConvertDateToMs(SYSTEMTIME date);

// A whole number as a person writes one: decimal with an optional sign, or 0x and hex digits, with
// blanks around it. False, leaving `value` alone, for anything else: no digits, text after the
// number, a number beyond 64 bits.
bool ParseZELNumber(const std::string& text, long long& value);

unsigned short Swap16(unsigned short value);
unsigned long Swap32(unsigned long value);
