#include "plugins/scriva/CPluginTasks.h"

#include "plugins/scriva/ScrivaRecord.h"
#include "zel/foundation/CZELLanguage.h"
#include "zel/foundation/ZELStatus.h"

#include <cstdio>

namespace Scriva {

namespace {

const char* ChooseLanguage(const char* german, const char* english)
{
    switch (GetZELLanguage().GetLanguage()) {
    case ZEL_LANGUAGE_GERMAN: return german;
    case ZEL_LANGUAGE_ENGLISH: return english;
    default: return "???";
    }
}

std::string PortIdentity(const std::uint8_t* buffer)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", RecordU32(buffer + kRecordIdentityOffset));
    return text;
}

// Year, month, day, hour, minute, second of the record's time stamp (day of week and milliseconds
// are not shown).
struct Stamp
{
    int year, month, day, hour, minute, second;
};

Stamp ReadStamp(const std::uint8_t* buffer)
{
    const std::uint8_t* t = buffer + kRecordTimeOffset;
    return {RecordU16(t), RecordU16(t + 2), RecordU16(t + 6), RecordU16(t + 8), RecordU16(t + 10), RecordU16(t + 12)};
}

} // namespace

long CPluginTasks::AddOutput(const std::string& message, _ZELSystemLogExEventType type, const std::string& context)
{
    return GetZELSystemLogEx().AddOutput(message, type, "", "Scriva::CPluginTasks", context);
}

long CPluginTasks::LogLoaded()
{
    return AddOutput(ChooseLanguage("Das folgende Plug-in wurde initialisiert: Scriva.dll",
                         "The following plug-in has been initialized: Scriva.dll"),
        ZEL_SYSTEM_LOG_EX_EVENT_INFORMATION);
}

long CPluginTasks::LogUnloaded()
{
    return AddOutput(ChooseLanguage("Das folgende Plug-in wurde beendet: Scriva.dll",
                         "The following plug-in has been terminated: Scriva.dll"),
        ZEL_SYSTEM_LOG_EX_EVENT_INFORMATION);
}

long CPluginTasks::LogDeviceAttached(const std::uint8_t* buffer, std::size_t size)
{
    if (!buffer || size < kRecordHeadSize)
        return ZEL_STATUS_INVALID_BUFFER;
    const Stamp s = ReadStamp(buffer);
    char text[128];
    std::snprintf(text, sizeof text, "Serial port device attach detected; %04i-%02i-%02i; %02i:%02i:%02i", s.year,
        s.month, s.day, s.hour, s.minute, s.second);
    return AddOutput(text, ZEL_SYSTEM_LOG_EX_EVENT_INFORMATION, PortIdentity(buffer));
}

long CPluginTasks::LogDeviceDetached(const std::uint8_t* buffer, std::size_t size)
{
    if (!buffer || size < kDetachRecordSize)
        return ZEL_STATUS_INVALID_BUFFER;
    const Stamp s = ReadStamp(buffer);
    const auto reason = static_cast<std::int32_t>(RecordU32(buffer + kRecordHeadSize));
    char text[160];
    std::snprintf(text, sizeof text,
        "serial port device detach detected; %04i-%02i-%02i; %02i:%02i:%02i; detach reason; %i", s.year, s.month,
        s.day, s.hour, s.minute, s.second, static_cast<int>(reason));
    return AddOutput(text, ZEL_SYSTEM_LOG_EX_EVENT_INFORMATION, PortIdentity(buffer));
}

} // namespace Scriva
