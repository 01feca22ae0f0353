#include "zel/foundation/ZELConversions.h"
#include "zel/foundation/ZELStatus.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

TEST(ZELStatus, NamesEveryAssignedValueAndNothingElse)
{
    for (long status = -30; status <= 2; ++status) {
        const std::string name = GetZELStatusAsString(status);
        const bool unnamed = status == -13 || status == -27 || status < -27 || status > 0;
        if (unnamed)
            EXPECT_EQ(name, "???") << status;
        else
            EXPECT_EQ(name.rfind("ZEL_STATUS_", 0), 0u) << status << " " << name;
    }
    EXPECT_EQ(GetZELStatusAsString(ZEL_STATUS_TIMEOUT), "ZEL_STATUS_TIMEOUT");
    EXPECT_EQ(GetZELStatusAsString(-12), "ZEL_STATUS_NOT_FOUND");
    EXPECT_EQ(GetZELStatusAsString(-14), "ZEL_STATUS_INVALID_DATA");
    EXPECT_EQ(GetZELStatusAsString(-26), "ZEL_STATUS_INVALID_CRC");
}

TEST(ZELStatus, NamesAreUnique)
{
    std::set<std::string> names;
    for (long status = -26; status <= 0; ++status) {
        if (status != -13) {
            EXPECT_TRUE(names.insert(GetZELStatusAsString(status)).second) << status;
        }
    }
}

TEST(ZELConversions, DeviceCodeTables)
{
    struct Case
    {
        std::string (*convert)(unsigned short);
        unsigned short code;
        const char* text;
    };
    const Case cases[] = {
        {GetZELCCPUTypeAsString, 0x1000, "QTR-1"},
        {GetZELCCPUTypeAsString, 0x1001, "QTR-2"},
        {GetZELCCPUTypeAsString, 0x1080, "ZT Remote V2"},
        {GetZELCCPUTypeAsString, 0x2000, "VHX-3"},
        {GetZELCCPUTypeAsString, 0x2001, "VHX-360"},
        {GetZELCCPUTypeAsString, 0x1002, "???"},
        {GetZELCCPUTypeAsString, 0, "???"},
        {GetZELECPUTypeAsString, 0x010, "Remote Control T001"},
        {GetZELECPUTypeAsString, 0x021, "Joystick T001_1"},
        {GetZELECPUTypeAsString, 0x022, "Joystick T001_2"},
        {GetZELECPUTypeAsString, 0x023, "Joystick T002_1"},
        {GetZELECPUTypeAsString, 0x024, "Joystick T002_2"},
        {GetZELECPUTypeAsString, 0x025, "Joystick T003_1"},
        {GetZELECPUTypeAsString, 0x026, "Joystick T003_2"},
        {GetZELECPUTypeAsString, 0x027, "???"},
        {GetZELECPUTypeAsString, 0x031, "Knob T001_1"},
        {GetZELECPUTypeAsString, 0x032, "Knob T001_2"},
        {GetZELECPUTypeAsString, 0x041, "Wheel T001_1"},
        {GetZELECPUTypeAsString, 0x042, "Wheel T001_2"},
        {GetZELECPUTypeAsString, 0x051, "Rocker T001_1"},
        {GetZELECPUTypeAsString, 0x052, "Rocker T001_2"},
        {GetZELECPUTypeAsString, 0x060, "PLC T001"},
        {GetZELECPUTypeAsString, 0x068, "PLY-1"},
        {GetZELECPUTypeAsString, 0x070, "Pan Bar T001"},
        {GetZELECPUTypeAsString, 0x080, "Ombra T001"},
        {GetZELECPUTypeAsString, 0x090, "Override T001"},
        {GetZELECPUTypeAsString, 0x091, "Veltrix Box T001"},
        {GetZELECPUTypeAsString, 0x3FF, "Broadcast"},
        {GetZELECPUTypeAsString, 0x400, "???"},
        {GetZELRCPUTypeAsString, 0x3001, "EMIP400"},
        {GetZELRCPUTypeAsString, 0x3002, "n920"},
        {GetZELRCPUTypeAsString, 0x3003, "p2400"},
        {GetZELRCPUTypeAsString, 0x3000, "???"},
        {GetZELRCPUTypeAsString, 0x3004, "???"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.convert(c.code), c.text) << std::hex << c.code;
}

TEST(ZELConversions, ByteCodeTables)
{
    struct Case
    {
        std::string (*convert)(unsigned char);
        unsigned char code;
        const char* text;
    };
    const Case cases[] = {
        {GetZELCCPURegionAsString, 0, "Japan"},
        {GetZELCCPURegionAsString, 1, "Europe"},
        {GetZELCCPURegionAsString, 2, "USA"},
        {GetZELCCPURegionAsString, 3, "South Korea"},
        {GetZELCCPURegionAsString, 4, "World"},
        {GetZELCCPURegionAsString, 5, "Australia"},
        {GetZELCCPURegionAsString, 6, "Canada"},
        {GetZELCCPURegionAsString, 7, "China"},
        {GetZELCCPURegionAsString, 8, "Egypt"},
        {GetZELCCPURegionAsString, 9, "Hong Kong"},
        {GetZELCCPURegionAsString, 10, "India"},
        {GetZELCCPURegionAsString, 11, "Israel"},
        {GetZELCCPURegionAsString, 12, "New Zealand"},
        {GetZELCCPURegionAsString, 13, "Philippines"},
        {GetZELCCPURegionAsString, 14, "Russia"},
        {GetZELCCPURegionAsString, 15, "Singapore"},
        {GetZELCCPURegionAsString, 16, "South Africa"},
        {GetZELCCPURegionAsString, 17, "Taiwan"},
        {GetZELCCPURegionAsString, 18, "Thailand"},
        {GetZELCCPURegionAsString, 19, "UAE"},
        {GetZELCCPURegionAsString, 20, "???"},
        {GetZELCCPURegionAsString, 223, "???"},
        {GetZELCCPURegionAsString, 0xE0, "North America"},
        {GetZELCCPURegionAsString, 0xE1, "???"},
        {GetZELRCPUModeAsString, 0, "Master"},
        {GetZELRCPUModeAsString, 1, "???"},
        {GetZELRCPUModeAsString, 2, "Slave"},
        {GetZELRCPUModeAsString, 3, "???"},
        {GetZELRCPUPowerAsString, 19, "???"},
        {GetZELRCPUPowerAsString, 20, "100 mW"},
        {GetZELRCPUPowerAsString, 21, "125 mW"},
        {GetZELRCPUPowerAsString, 22, "160 mW"},
        {GetZELRCPUPowerAsString, 23, "200 mW"},
        {GetZELRCPUPowerAsString, 24, "250 mW"},
        {GetZELRCPUPowerAsString, 25, "320 mW"},
        {GetZELRCPUPowerAsString, 26, "400 mW"},
        {GetZELRCPUPowerAsString, 27, "500 mW"},
        {GetZELRCPUPowerAsString, 28, "630 mW"},
        {GetZELRCPUPowerAsString, 29, "800 mW"},
        {GetZELRCPUPowerAsString, 30, "1000 mW"},
        {GetZELRCPUPowerAsString, 31, "???"},
        {GetZELRCPUPowerAsString, 255, "???"},
        {GetZELCCPUEmergencyButtonAsString, 0, "???"},
        {GetZELCCPUEmergencyButtonAsString, 1, "pressed"},
        {GetZELCCPUEmergencyButtonAsString, 2, "not pressed"},
        {GetZELCCPUEmergencyButtonAsString, 3, "???"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.convert(c.code), c.text) << int(c.code);
}

TEST(ZELConversions, SwapsReverseByteOrder)
{
    EXPECT_EQ(Swap16(0x1234), 0x3412);
    EXPECT_EQ(Swap16(0x00FF), 0xFF00);
    EXPECT_EQ(Swap32(0x12345678UL), 0x78563412UL);
    EXPECT_EQ(Swap32(0x000000FFUL), 0xFF000000UL);
    EXPECT_EQ(Swap32(Swap32(0xDEADBEEFUL)), 0xDEADBEEFUL);
}

TEST(ZELConversions, ConvertDateToMs)
{
    SYSTEMTIME date;
    date.wYear = 1970;
    date.wMonth = 1;
    date.wDay = 1;
    EXPECT_EQ(ConvertDateToMs(date), 11644473600000LL);

    date.wSecond = 1;
    date.wMilliseconds = 5;
    EXPECT_EQ(ConvertDateToMs(date), 11644473601005LL);

    SYSTEMTIME invalid = date;
    invalid.wMonth = 13;
    EXPECT_EQ(ConvertDateToMs(invalid), 0);
}

TEST(ZELConversions, SystemTimeInMsIsOnThe1601Scale)
{
    const std::int64_t now = GetSystemTimeInMs();
    // 2024-01-01 UTC on the 1601 millisecond scale.
    EXPECT_GT(now, 13348540800000LL);
    EXPECT_LE(now, GetSystemTimeInMs());
}

TEST(ZELConversions, ParseNumberTakesWholeDecimalOrHexNumbersOnly)
{
    struct Case
    {
        const char* text;
        bool read;
        long long value;
    };
    const Case cases[] = {
        {"0", true, 0},
        {"42", true, 42},
        {" 7 ", true, 7},
        {"+5", true, 5},
        {"-32768", true, -32768},
        {"0x1800", true, 0x1800},
        {"0XfF", true, 255},
        {"9223372036854775807", true, 9223372036854775807LL},
        {"", false, 0},
        {"  ", false, 0},
        {"x", false, 0},
        {"1abc", false, 0},
        {"12 3", false, 0},
        {"0x", false, 0},
        {"0xG1", false, 0},
        {"-0x10", false, 0},
        {"0x-10", false, 0},
        {"+-5", false, 0},
        {"-", false, 0},
        {"1.5", false, 0},
        {"9223372036854775808", false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        long long value = -1;
        EXPECT_EQ(ParseZELNumber(c.text, value), c.read);
        EXPECT_EQ(value, c.read ? c.value : -1) << "a text that is no number leaves the value alone";
    }
}
