#include "app/win32/Win32WindowText.h"

#include "zel/platform/windows/ZELWideText.h"

std::string Win32WindowText(HWND window)
{
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return ZELPlatform::FromWide(text);
}

void SetWin32WindowText(HWND window, const std::string& text)
{
    SetWindowTextW(window, ZELPlatform::ToWide(text).c_str());
}
