#include "app/win32/CWin32ServiceConsoleWindow.h"

#include "app/win32/CWin32ComboBox.h"
#include "app/win32/CWin32Edit.h"
#include "app/win32/CWin32StaticText.h"
#include "app/win32/TarnUpdateResources.h"
#include "app/win32/Win32WindowText.h"
#include "zel/commands/CZELCommandHelper.h"
#include "zel/foundation/ZELStatus.h"
#include "zel/platform/windows/ZELWideText.h"

#include <utility>

namespace {

// The main dialog runs in the system's modal loop, which knows nothing of this dialog: the loop's
// message filter gives the console its keys (Tab, Enter for Send, Esc) before they are dispatched.
thread_local HWND t_console = nullptr;
thread_local HHOOK t_filter = nullptr;

LRESULT CALLBACK ConsoleKeys(int code, WPARAM wParam, LPARAM lParam)
{
    auto* message = reinterpret_cast<MSG*>(lParam);
    if (code >= 0 && t_console != nullptr && message != nullptr
        && (message->hwnd == t_console || IsChild(t_console, message->hwnd)) && IsDialogMessageW(t_console, message))
        return TRUE;
    return CallNextHookEx(t_filter, code, wParam, lParam);
}

} // namespace

CWin32ServiceConsoleWindow::CWin32ServiceConsoleWindow(IUpdateLink& link, std::function<std::string()> portName)
    : m_link(link)
    , m_console(link)
    , m_portName(std::move(portName))
{
}

CWin32ServiceConsoleWindow::~CWin32ServiceConsoleWindow()
{
    Terminate();
}

bool CWin32ServiceConsoleWindow::Create(HINSTANCE instance, HWND owner, HICON icon)
{
    m_window = CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_SERVICE_CONSOLE), owner,
        &CWin32ServiceConsoleWindow::DialogProcedure, reinterpret_cast<LPARAM>(this));
    if (m_window == nullptr)
        return false;
    SendMessageW(m_window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    t_console = m_window;
    if (t_filter == nullptr)
        t_filter = SetWindowsHookExW(WH_MSGFILTER, ConsoleKeys, nullptr, GetCurrentThreadId());
    SendMessageW(Control(IDC_CONSOLE_VALUE), EM_LIMITTEXT, CZELCommandHelper::kMaxEditLength, 0);
    // A fixed-width font keeps the columns of the traffic lines.
    SendMessageW(Control(IDC_CONSOLE_LINES), WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(ANSI_FIXED_FONT)), FALSE);
    return true;
}

INT_PTR CALLBACK CWin32ServiceConsoleWindow::DialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<CWin32ServiceConsoleWindow*>(lParam);
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        self->m_window = window;
        self->m_calls.Attach(window);
        return TRUE;
    }
    auto* self = reinterpret_cast<CWin32ServiceConsoleWindow*>(GetWindowLongPtrW(window, DWLP_USER));
    return self != nullptr ? self->OnMessage(message, wParam, lParam) : FALSE;
}

INT_PTR CWin32ServiceConsoleWindow::OnMessage(UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case CWin32CallQueue::kMessage:
        m_calls.RunCalls();
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_CONSOLE_REQUESTS:
            if (HIWORD(wParam) == CBN_SELCHANGE)
                OnRequestChanged();
            return TRUE;
        case IDC_CONSOLE_SEND:
        case IDOK:
            if (HIWORD(wParam) == BN_CLICKED && IsWindowEnabled(Control(IDC_CONSOLE_SEND)))
                OnSendClicked();
            return TRUE;
        case IDC_CONSOLE_CLEAR:
            SendMessageW(Control(IDC_CONSOLE_LINES), LB_RESETCONTENT, 0, 0);
            m_widestLine = 0;
            SendMessageW(Control(IDC_CONSOLE_LINES), LB_SETHORIZONTALEXTENT, 0, 0);
            return TRUE;
        case IDCANCEL:
            Hide();
            return TRUE;
        default:
            return FALSE;
        }
    case WM_CLOSE:
        Hide();
        return TRUE;
    case WM_SIZE:
        Layout();
        return TRUE;
    default:
        return FALSE;
    }
}

void CWin32ServiceConsoleWindow::Show()
{
    if (m_window == nullptr || m_terminated)
        return;
    if (!m_started) {
        // Lines come on the console's worker thread, in the order of the line.
        const long result = m_console.Start([this](const std::string& line) { m_calls.Post([this, line] { AddLine(line); }); });
        m_started = result == ZEL_STATUS_SUCCESS;
        if (!m_started)
            ShowStatus("The console cannot receive (" + GetZELStatusAsString(result) + ").");
    }
    FillControls();
    ShowWindow(m_window, SW_SHOWNORMAL);
    SetForegroundWindow(m_window);
}

// A hidden console does not keep the port.
void CWin32ServiceConsoleWindow::Hide()
{
    ShowWindow(m_window, SW_HIDE);
    ReleasePort();
}

void CWin32ServiceConsoleWindow::FillControls()
{
    CWin32ComboBox requests(Control(IDC_CONSOLE_REQUESTS));
    GetZELCommandHelper().FillRequest(&requests);
    OnRequestChanged();
}

void CWin32ServiceConsoleWindow::OnRequestChanged()
{
    CWin32ComboBox requests(Control(IDC_CONSOLE_REQUESTS));
    CWin32StaticText parameterLabel(Control(IDC_CONSOLE_PARAMETER_LABEL));
    CWin32ComboBox parameters(Control(IDC_CONSOLE_PARAMETERS));
    CWin32StaticText valueLabel(Control(IDC_CONSOLE_VALUE_LABEL));
    CWin32Edit value(Control(IDC_CONSOLE_VALUE));
    GetZELCommandHelper().FillParameters(&requests, &parameterLabel, &parameters, &valueLabel, &value);
}

void CWin32ServiceConsoleWindow::OnSendClicked()
{
    CWin32ComboBox requests(Control(IDC_CONSOLE_REQUESTS));
    CWin32ComboBox parameters(Control(IDC_CONSOLE_PARAMETERS));
    CWin32Edit value(Control(IDC_CONSOLE_VALUE));
    const long result = m_console.SendOnPort(m_portName ? m_portName() : m_link.GetCOMPort(), &requests, &parameters, &value);
    ShowStatus(result == ZEL_STATUS_SUCCESS ? std::string() : m_console.GetLastErrorText());
}

// A traffic line may hold several lines of text: each is an entry of the list.
void CWin32ServiceConsoleWindow::AddLine(const std::string& line)
{
    const HWND lines = Control(IDC_CONSOLE_LINES);
    const HDC dc = GetDC(lines);
    const HGDIOBJ font = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(lines, WM_GETFONT, 0, 0)));
    std::size_t begin = 0;
    while (begin < line.size()) {
        std::size_t end = line.find('\n', begin);
        if (end == std::string::npos)
            end = line.size();
        std::string part = line.substr(begin, end - begin);
        if (!part.empty() && part.back() == '\r')
            part.pop_back();
        begin = end + 1;
        const std::wstring wide = ZELPlatform::ToWide(part);
        SendMessageW(lines, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide.c_str()));
        SIZE size {};
        if (GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &size) && size.cx > m_widestLine) {
            m_widestLine = size.cx;
            SendMessageW(lines, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(m_widestLine + 8), 0);
        }
    }
    SelectObject(dc, font);
    ReleaseDC(lines, dc);
    while (SendMessageW(lines, LB_GETCOUNT, 0, 0) > kMaxLines)
        SendMessageW(lines, LB_DELETESTRING, 0, 0);
    // The newest line in view.
    const LRESULT count = SendMessageW(lines, LB_GETCOUNT, 0, 0);
    SendMessageW(lines, LB_SETTOPINDEX, static_cast<WPARAM>(count > 0 ? count - 1 : 0), 0);
}

void CWin32ServiceConsoleWindow::ShowStatus(const std::string& text)
{
    SetWin32WindowText(Control(IDC_CONSOLE_STATUS), text);
}

// The status line and the list take the width, the list also the height.
void CWin32ServiceConsoleWindow::Layout()
{
    RECT client;
    GetClientRect(m_window, &client);
    // Left and right margin, the status line's top and the list's top; the status line's height
    // and the bottom margin.
    RECT edges { 7, 58, 7, 70 };
    MapDialogRect(m_window, &edges);
    RECT heights { 0, 8, 0, 7 };
    MapDialogRect(m_window, &heights);
    const int width = client.right - edges.left - edges.right;
    SetWindowPos(Control(IDC_CONSOLE_STATUS), nullptr, edges.left, edges.top, width, heights.top,
        SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowPos(Control(IDC_CONSOLE_LINES), nullptr, edges.left, edges.bottom, width,
        client.bottom - edges.bottom - heights.bottom, SWP_NOZORDER | SWP_NOACTIVATE);
}

void CWin32ServiceConsoleWindow::ReleasePort()
{
    m_console.ClosePort();
}

void CWin32ServiceConsoleWindow::SetSendAllowed(bool allowed)
{
    if (m_window != nullptr)
        EnableWindow(Control(IDC_CONSOLE_SEND), allowed ? TRUE : FALSE);
}

void CWin32ServiceConsoleWindow::Terminate()
{
    if (m_terminated)
        return;
    m_terminated = true;
    ReleasePort();
    m_console.Terminate();
    m_started = false;
    m_calls.Detach();
    if (t_console == m_window)
        t_console = nullptr;
    if (t_filter != nullptr) {
        UnhookWindowsHookEx(t_filter);
        t_filter = nullptr;
    }
    if (m_window != nullptr)
        DestroyWindow(m_window);
    m_window = nullptr;
}
