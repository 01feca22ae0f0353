#include "zel/foundation/ZELConversions.h"

#include <charconv>

std::string GetZELCCPUTypeAsString(unsigned short type)
{
    switch (type) {
    case 0x1000: return "QTR-1";
    case 0x1001: return "QTR-2";
    case 0x1080: return "ZT Remote V2";
    case 0x2000: return "VHX-3";
    case 0x2001: return "VHX-360";
    default: return "???";
    }
}

std::string GetZELECPUTypeAsString(unsigned short type)
{
    switch (type) {
    case 0x010: return "Remote Control T001";
    case 0x021: return "Joystick T001_1";
    case 0x022: return "Joystick T001_2";
    case 0x023: return "Joystick T002_1";
    case 0x024: return "Joystick T002_2";
    case 0x025: return "Joystick T003_1";
    case 0x026: return "Joystick T003_2";
    case 0x031: return "Knob T001_1";
    case 0x032: return "Knob T001_2";
    case 0x041: return "Wheel T001_1";
    case 0x042: return "Wheel T001_2";
    case 0x051: return "Rocker T001_1";
    case 0x052: return "Rocker T001_2";
    case 0x060: return "PLC T001";
    case 0x068: return "PLY-1";
    case 0x070: return "Pan Bar T001";
    case 0x080: return "Ombra T001";
    case 0x090: return "Override T001";
    case 0x091: return "Veltrix Box T001";
    case 0x3FF: return "Broadcast";
    default: return "???";
    }
}

std::string GetZELRCPUTypeAsString(unsigned short type)
{
    switch (type) {
    case 0x3001: return "EMIP400";
    case 0x3002: return "n920";
    case 0x3003: return "p2400";
    default: return "???";
    }
}

std::string GetZELCCPURegionAsString(unsigned char region)
{
    static const char* const kRegions[] = {
        "Japan", "Europe", "USA", "South Korea", "World", "Australia", "Canada",
        "China", "Egypt", "Hong Kong", "India", "Israel", "New Zealand", "Philippines",
        "Russia", "Singapore", "South Africa", "Taiwan", "Thailand", "UAE",
    };
    if (region < std::size(kRegions))
        return kRegions[region];
    if (region == 0xE0)
        return "North America";
    return "???";
}

std::string GetZELRCPUModeAsString(unsigned char mode)
{
    switch (mode) {
    case 0: return "Master";
    case 2: return "Slave";
    default: return "???";
    }
}

std::string GetZELRCPUPowerAsString(unsigned char power)
{
    static const char* const kPowers[] = {
        "100 mW", "125 mW", "160 mW", "200 mW", "250 mW", "320 mW",
        "400 mW", "500 mW", "630 mW", "800 mW", "1000 mW",
    };
    constexpr unsigned char kFirstCode = 20;
    if (power >= kFirstCode && power - kFirstCode < static_cast<int>(std::size(kPowers)))
        return kPowers[power - kFirstCode];
    return "???";
}

std::string GetZELCCPUEmergencyButtonAsString(unsigned char state)
{
    switch (state) {
    case 1: return "pressed";
    case 2: return "not pressed";
    default: return "???";
    }
}

std::int64_t GetSystemTimeInMs()
{
    return ZELPlatform::GetSystemTimeAsFileTime() / 10000;
}

std::int64_t ConvertDateToMs(SYSTEMTIME date)
{
    ZELPlatform::FileTime fileTime = 0;
    if (!ZELPlatform::SystemTimeToFileTime(date, fileTime))
        return 0;
    return fileTime / 10000;
}

unsigned short Swap16(unsigned short value)
{
    return static_cast<unsigned short>(((value & 0x00FFu) << 8) | ((value & 0xFF00u) >> 8));
}

unsigned long Swap32(unsigned long value)
{
    const auto v = static_cast<std::uint32_t>(value);
    return ((v & 0x000000FFu) << 24) | ((v & 0x0000FF00u) << 8) | ((v & 0x00FF0000u) >> 8)
        | ((v & 0xFF000000u) >> 24);
}

bool ParseZELNumber(const std::string& text, long long& value)
{
    const std::string::size_type begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos)
        return false;
    const std::string::size_type end = text.find_last_not_of(" \t") + 1;
    const char* first = text.data() + begin;
    const char* last = text.data() + end;
    const bool hex = last - first > 2 && first[0] == '0' && (first[1] == 'x' || first[1] == 'X');
    if (hex)
        first += 2;
    else if (*first == '+' && last - first > 1 && first[1] != '-')
        ++first;
    // from_chars takes a minus sign itself; a hex number has none.
    if (hex && *first == '-')
        return false;
    long long number = 0;
    const auto [stop, error] = std::from_chars(first, last, number, hex ? 16 : 10);
    if (error != std::errc() || stop != last)
        return false;
    value = number;
    return true;
}
