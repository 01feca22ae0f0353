#pragma once

#include "app/win32/Win32WindowText.h"
#include "zel/commands/IZELEdit.h"

// The command helper's edit field over a Win32 edit control.
class CWin32Edit : public IZELEdit
{
public:
    explicit CWin32Edit(HWND edit)
        : m_edit(edit)
    {
    }

    std::string GetWindowText() const override { return Win32WindowText(m_edit); }
    void SetWindowText(const std::string& text) override { SetWin32WindowText(m_edit, text); }
    void EnableWindow(bool enable) override { ::EnableWindow(m_edit, enable ? TRUE : FALSE); }

private:
    HWND m_edit;
};
