#include "CWin32DialogDriver.h"

#include "zel/platform/CZELDeadline.h"

#include <thread>

namespace {

// A program that is busy (a start works on its dialog's thread) answers later; one that hangs never.
constexpr UINT kAnswerMs = 5000;
// How often a wait looks again: the program under test gives no event to wait on across processes.
constexpr std::chrono::milliseconds kPoll{20};

struct Search
{
    DWORD process;
    const std::wstring* caption;
    HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM parameter)
{
    auto& search = *reinterpret_cast<Search*>(parameter);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != search.process || !IsWindowVisible(window) || CWin32DialogDriver::ClassName(window) != L"#32770")
        return TRUE;
    wchar_t caption[256] = {};
    GetWindowTextW(window, caption, 256);
    if (*search.caption != caption)
        return TRUE;
    search.found = window;
    return FALSE;
}

BOOL CALLBACK CollectStatic(HWND window, LPARAM parameter)
{
    auto& texts = *reinterpret_cast<std::wstring*>(parameter);
    if (CWin32DialogDriver::ClassName(window) == L"Static") {
        const std::wstring text = CWin32DialogDriver::Text(window);
        if (!text.empty())
            texts += (texts.empty() ? L"" : L"\n") + text;
    }
    return TRUE;
}

std::wstring ItemText(HWND control, UINT lengthMessage, UINT textMessage, WPARAM index)
{
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(control, lengthMessage, index, 0, SMTO_ABORTIFHUNG, kAnswerMs, &length)
        || static_cast<LRESULT>(length) < 0)
        return {};
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(control, textMessage, index, reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG,
        kAnswerMs, &copied);
    text.resize(static_cast<LRESULT>(copied) > 0 ? copied : 0);
    return text;
}

std::vector<std::wstring> Items(HWND control, UINT countMessage, UINT lengthMessage, UINT textMessage)
{
    std::vector<std::wstring> items;
    DWORD_PTR count = 0;
    if (!SendMessageTimeoutW(control, countMessage, 0, 0, SMTO_ABORTIFHUNG, kAnswerMs, &count))
        return items;
    for (WPARAM i = 0; i < count; ++i)
        items.push_back(ItemText(control, lengthMessage, textMessage, i));
    return items;
}

} // namespace

CWin32DialogDriver::~CWin32DialogDriver()
{
    if (m_process.hProcess == nullptr)
        return;
    if (IsRunning()) {
        TerminateProcess(m_process.hProcess, 99);
        WaitForSingleObject(m_process.hProcess, 5000);
    }
    CloseHandle(m_process.hThread);
    CloseHandle(m_process.hProcess);
}

bool CWin32DialogDriver::Start(const std::wstring& program, const std::wstring& folder)
{
    std::wstring commandLine = L"\"" + program + L"\"";
    STARTUPINFOW startup {};
    startup.cb = sizeof(startup);
    return CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
               &startup, &m_process)
        != FALSE;
}

long CWin32DialogDriver::WaitForExit(std::chrono::milliseconds timeout)
{
    if (m_process.hProcess == nullptr
        || WaitForSingleObject(m_process.hProcess, static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0)
        return -1;
    DWORD code = 0;
    GetExitCodeProcess(m_process.hProcess, &code);
    return static_cast<long>(code);
}

bool CWin32DialogDriver::IsRunning() const
{
    return m_process.hProcess != nullptr && WaitForSingleObject(m_process.hProcess, 0) == WAIT_TIMEOUT;
}

HWND CWin32DialogDriver::FindWindow(const std::wstring& caption) const
{
    Search search { m_process.dwProcessId, &caption, nullptr };
    EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND CWin32DialogDriver::WaitForWindow(const std::wstring& caption, std::chrono::milliseconds timeout) const
{
    // A dialog is shown before its initialisation has written the texts: it counts once it has.
    HWND found = nullptr;
    WaitUntil([&] {
        found = FindWindow(caption);
        return (found != nullptr && !StaticTexts(found).empty()) || !IsRunning();
    }, timeout);
    return found != nullptr && !StaticTexts(found).empty() ? found : nullptr;
}

bool CWin32DialogDriver::WaitForWindowGone(HWND window, std::chrono::milliseconds timeout) const
{
    return WaitUntil([window] { return !IsWindow(window) || !IsWindowVisible(window); }, timeout);
}

std::wstring CWin32DialogDriver::Text(HWND window)
{
    if (window == nullptr)
        return {};
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kAnswerMs, &length))
        return {};
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG,
        kAnswerMs, &copied);
    text.resize(copied);
    return text;
}

std::wstring CWin32DialogDriver::ClassName(HWND window)
{
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

std::wstring CWin32DialogDriver::StaticTexts(HWND dialog)
{
    std::wstring texts;
    EnumChildWindows(dialog, CollectStatic, reinterpret_cast<LPARAM>(&texts));
    return texts;
}

std::vector<std::wstring> CWin32DialogDriver::ComboItems(HWND box)
{
    return Items(box, CB_GETCOUNT, CB_GETLBTEXTLEN, CB_GETLBTEXT);
}

std::vector<std::wstring> CWin32DialogDriver::ListItems(HWND list)
{
    return Items(list, LB_GETCOUNT, LB_GETTEXTLEN, LB_GETTEXT);
}

RECT CWin32DialogDriver::ClientRect(HWND dialog, HWND control)
{
    RECT rect {};
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

void CWin32DialogDriver::Press(HWND dialog, int id)
{
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void CWin32DialogDriver::Choose(HWND dialog, int id, int index)
{
    const HWND box = GetDlgItem(dialog, id);
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(box, CB_SETCURSEL, static_cast<WPARAM>(index), 0, SMTO_ABORTIFHUNG, kAnswerMs, &ignored);
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(box));
}

void CWin32DialogDriver::Pick(HWND dialog, int id, int index)
{
    const HWND list = GetDlgItem(dialog, id);
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(list, LB_SETCURSEL, static_cast<WPARAM>(index), 0, SMTO_ABORTIFHUNG, kAnswerMs, &ignored);
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, LBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
}

void CWin32DialogDriver::SystemCommand(HWND dialog, WPARAM command)
{
    PostMessageW(dialog, WM_SYSCOMMAND, command, 0);
}

void CWin32DialogDriver::Close(HWND window)
{
    PostMessageW(window, WM_CLOSE, 0, 0);
}

bool CWin32DialogDriver::WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    const CZELDeadline deadline(timeout);
    while (!done()) {
        if (deadline.Expired())
            return done();
        std::this_thread::sleep_for(kPoll);
    }
    return true;
}
