#pragma once

// The common controls' declarations beside the library's own SYSTEMTIME (see ZELWindows.h).
#include "zel/platform/windows/ZELWindows.h"

#define SYSTEMTIME ZELWin32SYSTEMTIME
#include <commctrl.h>
#undef SYSTEMTIME
