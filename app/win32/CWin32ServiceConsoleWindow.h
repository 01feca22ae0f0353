#pragma once

#include "app/core/CServiceConsole.h"
#include "app/core/IUpdateLink.h"
#include "app/win32/CWin32CallQueue.h"
#include "zel/platform/windows/ZELWindows.h"

#include <functional>
#include <string>

// The service console of the update program on Windows: a modeless dialog beside the main one that
// sends the command helper's requests over the program's link and lists every packet the device
// sends. Closing it hides it and gives the port back.
class CWin32ServiceConsoleWindow
{
public:
    // The console keeps at most this many lines.
    static constexpr int kMaxLines = 5000;

    // `portName` gives the port the operator chose in the main dialog; the console opens it for a
    // send when no update holds the link.
    CWin32ServiceConsoleWindow(IUpdateLink& link, std::function<std::string()> portName);
    CWin32ServiceConsoleWindow(const CWin32ServiceConsoleWindow&) = delete;
    CWin32ServiceConsoleWindow& operator=(const CWin32ServiceConsoleWindow&) = delete;
    ~CWin32ServiceConsoleWindow();

    // Creates the (hidden) dialog, owned by `owner`; false when it could not be made.
    bool Create(HINSTANCE instance, HWND owner, HICON icon);
    // Shows and raises it, starting the console's worker the first time.
    void Show();
    // Closes the port if the console opened it and gives the link back its framing, so that an
    // update can open the port as it expects to.
    void ReleasePort();
    // Whether a send may go out now: not while an update works on the link.
    void SetSendAllowed(bool allowed);
    // Unsubscribes, releases the port and destroys the dialog; before the library's modules end.
    void Terminate();

    CServiceConsole& Console() { return m_console; }

private:
    static INT_PTR CALLBACK DialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void FillControls();
    void OnRequestChanged();
    void OnSendClicked();
    void AddLine(const std::string& line);
    void ShowStatus(const std::string& text);
    void Layout();
    void Hide();
    HWND Control(int id) const { return GetDlgItem(m_window, id); }

    IUpdateLink& m_link;
    CServiceConsole m_console;
    std::function<std::string()> m_portName;
    CWin32CallQueue m_calls;
    HWND m_window = nullptr;
    // Widest line so far, for the list's horizontal scrolling.
    int m_widestLine = 0;
    bool m_started = false;
    bool m_terminated = false;
};
