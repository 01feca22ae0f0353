#include "app/win32/CWin32ChooseDialog.h"

#include "app/win32/TarnUpdateResources.h"
#include "app/win32/Win32WindowText.h"
#include "zel/platform/windows/ZELWideText.h"

#include <utility>

CWin32ChooseDialog::CWin32ChooseDialog(Texts texts, std::vector<std::string> choices)
    : m_texts(std::move(texts))
    , m_choices(std::move(choices))
{
}

int CWin32ChooseDialog::Run(HINSTANCE instance, HWND owner)
{
    const INT_PTR result = DialogBoxParamW(
        instance, MAKEINTRESOURCEW(IDD_CHOOSE), owner, Procedure, reinterpret_cast<LPARAM>(this));
    return result >= 0 && static_cast<std::size_t>(result) < m_choices.size() ? static_cast<int>(result) : -1;
}

INT_PTR CALLBACK CWin32ChooseDialog::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        reinterpret_cast<CWin32ChooseDialog*>(lParam)->OnInitDialog(window);
        return TRUE;
    }
    auto* dialog = reinterpret_cast<CWin32ChooseDialog*>(GetWindowLongPtrW(window, DWLP_USER));
    if (dialog != nullptr && message == WM_COMMAND) {
        dialog->OnCommand(window, LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

void CWin32ChooseDialog::OnInitDialog(HWND window)
{
    SetWin32WindowText(window, m_texts.caption);
    SetWin32WindowText(GetDlgItem(window, IDC_CHOOSE_TEXT), m_texts.text);
    if (!m_texts.ok.empty())
        SetWin32WindowText(GetDlgItem(window, IDOK), m_texts.ok);
    if (!m_texts.cancel.empty())
        SetWin32WindowText(GetDlgItem(window, IDCANCEL), m_texts.cancel);
    const HWND list = GetDlgItem(window, IDC_CHOOSE_LIST);
    const HDC context = GetDC(list);
    const HGDIOBJ font = SelectObject(context, reinterpret_cast<HGDIOBJ>(SendMessageW(list, WM_GETFONT, 0, 0)));
    LONG widest = 0;
    for (const std::string& choice : m_choices) {
        const std::wstring line = ZELPlatform::ToWide(choice);
        SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
        SIZE size {};
        if (GetTextExtentPoint32W(context, line.c_str(), static_cast<int>(line.size()), &size) && size.cx > widest)
            widest = size.cx;
    }
    SelectObject(context, font);
    ReleaseDC(list, context);
    // Paths can be long: the list scrolls sideways rather than cutting them off.
    SendMessageW(list, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(widest + 8), 0);
    EnableWindow(GetDlgItem(window, IDOK), FALSE);
}

void CWin32ChooseDialog::OnCommand(HWND window, WORD id, WORD code)
{
    const HWND list = GetDlgItem(window, IDC_CHOOSE_LIST);
    const auto selected = static_cast<INT_PTR>(SendMessageW(list, LB_GETCURSEL, 0, 0));
    switch (id) {
    case IDC_CHOOSE_LIST:
        if (code == LBN_SELCHANGE)
            EnableWindow(GetDlgItem(window, IDOK), selected != LB_ERR ? TRUE : FALSE);
        else if (code == LBN_DBLCLK && selected != LB_ERR)
            EndDialog(window, selected);
        break;
    case IDOK:
        if (selected != LB_ERR)
            EndDialog(window, selected);
        break;
    case IDCANCEL:
        EndDialog(window, -1);
        break;
    default:
        break;
    }
}
