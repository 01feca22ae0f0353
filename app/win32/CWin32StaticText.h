#pragma once

#include "app/win32/Win32WindowText.h"
#include "zel/commands/IZELStaticText.h"

// The command helper's label over a Win32 static control.
class CWin32StaticText : public IZELStaticText
{
public:
    explicit CWin32StaticText(HWND label)
        : m_label(label)
    {
    }

    void SetWindowText(const std::string& text) override { SetWin32WindowText(m_label, text); }

private:
    HWND m_label;
};
