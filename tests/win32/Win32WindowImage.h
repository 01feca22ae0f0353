#pragma once

#include "zel/platform/windows/ZELWindows.h"

#include <cstdint>
#include <string>
#include <vector>

// What the screen shows of a window's client area. The frame is the window manager's, and there is
// none on a virtual display.
struct Win32WindowImage
{
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb; // rows from the top

    bool operator==(const Win32WindowImage&) const = default;
};

// False when the screen could not be read.
bool CaptureWindowImage(HWND window, Win32WindowImage& image);
// As a PNG file (UTF-8 path); false when it could not be written.
bool SaveWindowImage(const Win32WindowImage& image, const std::string& path);
