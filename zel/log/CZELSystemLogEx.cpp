#include "zel/log/CZELSystemLogEx.h"

#include "zel/foundation/ZELStatus.h"

long CZELSystemLogEx::AddOutput(std::string, _ZELSystemLogExEventType, std::string, std::string, std::string)
{
    return ZEL_STATUS_FORBIDDEN;
}
