#pragma once

#include "zel/platform/windows/ZELWindows.h"

#include <string>

// A window's text in the program's UTF-8, both ways.
std::string Win32WindowText(HWND window);
void SetWin32WindowText(HWND window, const std::string& text);
