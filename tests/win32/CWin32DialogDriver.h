#pragma once

#include "zel/platform/windows/ZELWindows.h"

#include <chrono>
#include <functional>
#include <string>
#include <vector>

// Drives a dialog program from outside, as an operator would: starts it in a working folder, finds
// its windows by caption, reads and sets its controls through their messages and presses buttons.
// Every wait ends on its condition or after its time-out.
class CWin32DialogDriver
{
public:
    static constexpr std::chrono::seconds kWait{30};

    CWin32DialogDriver() = default;
    CWin32DialogDriver(const CWin32DialogDriver&) = delete;
    CWin32DialogDriver& operator=(const CWin32DialogDriver&) = delete;
    // Ends the program if it still runs.
    ~CWin32DialogDriver();

    // Starts `program` (a Windows path) with `folder` as its working folder.
    bool Start(const std::wstring& program, const std::wstring& folder);
    // Waits for the program's end; its exit code, or -1 after the time-out.
    long WaitForExit(std::chrono::milliseconds timeout = kWait);
    bool IsRunning() const;

    // The program's visible top-level dialog (message boxes included) with this caption, once its
    // static texts are written, waiting up to `timeout`; null when none came.
    HWND WaitForWindow(const std::wstring& caption, std::chrono::milliseconds timeout = kWait) const;
    // The program's dialog with this caption now, or null.
    HWND FindWindow(const std::wstring& caption) const;
    // Waits until the window is gone.
    bool WaitForWindowGone(HWND window, std::chrono::milliseconds timeout = kWait) const;

    // A control's text, asked from the program's thread (empty when it does not answer).
    static std::wstring Text(HWND window);
    static std::wstring Text(HWND dialog, int id) { return Text(GetDlgItem(dialog, id)); }
    static std::wstring ClassName(HWND window);
    // Texts of the static controls of a dialog (a message box's text), joined by new lines.
    static std::wstring StaticTexts(HWND dialog);
    static std::vector<std::wstring> ComboItems(HWND box);
    static std::vector<std::wstring> ListItems(HWND list);
    // Position and size in pixels of a control in its dialog's client area.
    static RECT ClientRect(HWND dialog, HWND control);

    // A press of a button of `dialog` (a message box's IDYES, IDNO, IDOK too), posted.
    static void Press(HWND dialog, int id);
    // Selects an item of a combo box and tells its dialog, as a choice with the mouse does.
    static void Choose(HWND dialog, int id, int index);
    // Selects a line of a list box and tells its dialog, as a click on it does.
    static void Pick(HWND dialog, int id, int index);
    // A system menu command, posted.
    static void SystemCommand(HWND dialog, WPARAM command);
    // The close box, posted.
    static void Close(HWND window);

    // Waits until `done` holds or the time is up; the result of `done` at the end.
    static bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = kWait);

private:
    PROCESS_INFORMATION m_process {};
};
