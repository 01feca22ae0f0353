#pragma once

#include "zel/commands/IZELComboBox.h"
#include "zel/platform/windows/ZELWindows.h"
#include "zel/platform/windows/ZELWideText.h"

// The command helper's list control over a Win32 combo box.
class CWin32ComboBox : public IZELComboBox
{
public:
    explicit CWin32ComboBox(HWND box)
        : m_box(box)
    {
    }

    void ResetContent() override { SendMessageW(m_box, CB_RESETCONTENT, 0, 0); }
    int AddString(const std::string& text) override
    {
        const std::wstring wide = ZELPlatform::ToWide(text);
        return static_cast<int>(SendMessageW(m_box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide.c_str())));
    }
    int GetCount() const override { return static_cast<int>(SendMessageW(m_box, CB_GETCOUNT, 0, 0)); }
    int GetCurSel() const override
    {
        const LRESULT selected = SendMessageW(m_box, CB_GETCURSEL, 0, 0);
        return selected == CB_ERR ? -1 : static_cast<int>(selected);
    }
    void SetCurSel(int index) override
    {
        SendMessageW(m_box, CB_SETCURSEL, index >= 0 && index < GetCount() ? static_cast<WPARAM>(index) : WPARAM(-1), 0);
    }
    void EnableWindow(bool enable) override { ::EnableWindow(m_box, enable ? TRUE : FALSE); }

private:
    HWND m_box;
};
