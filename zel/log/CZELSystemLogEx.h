#pragma once

#include <string>

enum _ZELSystemLogExEventType : unsigned int
{
    ZEL_SYSTEM_LOG_EX_EVENT_UNKNOWN = 0x000,
    ZEL_SYSTEM_LOG_EX_EVENT_EXCEPTION = 0x001,
    ZEL_SYSTEM_LOG_EX_EVENT_ASSERT = 0x002,
    ZEL_SYSTEM_LOG_EX_EVENT_FATAL = 0x010,
    ZEL_SYSTEM_LOG_EX_EVENT_ERROR = 0x020,
    ZEL_SYSTEM_LOG_EX_EVENT_WARNING = 0x040,
    ZEL_SYSTEM_LOG_EX_EVENT_INFORMATION = 0x080,
    ZEL_SYSTEM_LOG_EX_EVENT_COMMAND = 0x200,
    ZEL_SYSTEM_LOG_EX_EVENT_DEBUG = 0x800,
};

// The process-wide log. Its output thread arrives with the system log's own work; until then
// every record is refused as the log is not started.
class CZELSystemLogEx
{
public:
    CZELSystemLogEx() = default;
    virtual ~CZELSystemLogEx() = default;

    long AddOutput(std::string message, _ZELSystemLogExEventType type, std::string reference, std::string caller,
        std::string context);
};

CZELSystemLogEx& GetZELSystemLogEx();
