#pragma once

#include "zel/platform/windows/ZELWindows.h"

#include <string>
#include <vector>

// The operator's pick among a few lines (dialog IDD_CHOOSE): OK once a line is selected, a double
// click picks it at once; Cancel and the close box pick none.
class CWin32ChooseDialog
{
public:
    struct Texts
    {
        std::string text;
        std::string caption;
        std::string ok;     // the buttons' texts; empty keeps those of the resource
        std::string cancel;
    };
    CWin32ChooseDialog(Texts texts, std::vector<std::string> choices);

    // Modal over `owner`: the index picked, or -1.
    int Run(HINSTANCE instance, HWND owner);

private:
    static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void OnInitDialog(HWND window);
    void OnCommand(HWND window, WORD id, WORD code);

    Texts m_texts;
    std::vector<std::string> m_choices;
};
