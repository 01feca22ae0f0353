#pragma once

#include "zel/log/CZELSystemLogEx.h"

#include <functional>
#include <string>

// Where the update program's log lines go. Tests put their own sink in to read the lines.
using AppLogSink = std::function<void(const std::string& message, _ZELSystemLogExEventType type)>;

// The program's log output: the system log, caller "CUpdateDlg", empty reference and context.
void AppLogToSystemLog(const std::string& message, _ZELSystemLogExEventType type);
