#include "app/core/AppLog.h"

void AppLogToSystemLog(const std::string& message, _ZELSystemLogExEventType type)
{
    GetZELSystemLogEx().AddOutput(message, type, "", "CUpdateDlg", "");
}
