#include "app/win32/CWin32UpdaterWindow.h"

#include "app/core/UpdateTexts.h"
#include "app/win32/CWin32ChooseDialog.h"
#include "app/win32/CWin32ServiceConsoleWindow.h"
#include "app/win32/TarnUpdateResources.h"
#include "app/win32/Win32WindowText.h"
#include "zel/foundation/CZELLanguage.h"
#include "zel/foundation/CZELTimeTable.h"
#include "zel/foundation/ZELMessageBox.h"
#include "zel/platform/windows/ZELWideText.h"

#include "app/win32/Win32CommonControls.h"

#include <chrono>
#include <future>
#include <utility>

namespace {

// The update thread's close request comes after its last message box; what is left of it is short.
constexpr std::chrono::seconds kUpdateThreadEnd{30};

std::string Text(unsigned long id) { return GetUpdateText(id); }

// The box's own buttons speak the program's language: a hook on the box's thread renames them once
// the box exists. Language 2 has no button texts ("???" for both answers of a question would hide
// which is which): the system's own stay.
thread_local HHOOK t_boxHook = nullptr;

LRESULT CALLBACK NameBoxButtons(int code, WPARAM wParam, LPARAM lParam)
{
    const HHOOK hook = t_boxHook;
    if (code == HCBT_ACTIVATE) {
        const HWND box = reinterpret_cast<HWND>(wParam);
        const std::pair<int, unsigned long> buttons[] = {
            { IDYES, APP_TEXT_BUTTON_YES }, { IDNO, APP_TEXT_BUTTON_NO }, { IDOK, APP_TEXT_BUTTON_OK } };
        for (const auto& [id, text] : buttons)
            if (const HWND button = GetDlgItem(box, id))
                SetWin32WindowText(button, Text(text));
        UnhookWindowsHookEx(hook);
        t_boxHook = nullptr;
    }
    return CallNextHookEx(hook, code, wParam, lParam);
}

// The about box: its name line is set at start.
INT_PTR CALLBACK AboutProcedure(HWND window, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        SetWin32WindowText(GetDlgItem(window, IDC_ABOUT_NAME), CUpdaterApp::GetAboutText());
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(window, LOWORD(wParam));
            return TRUE;
        }
        break;
    default:
        break;
    }
    return FALSE;
}

} // namespace

CWin32UpdaterWindow::CWin32UpdaterWindow(IUpdateLink& link, std::string iniFile, std::string firmwareFolder)
    : m_link(link)
    , m_dialog(*this, link, GetZELCommandSet(), std::move(firmwareFolder))
    , m_procedures(m_dialog)
    , m_app(m_dialog, std::move(iniFile))
{
}

CWin32UpdaterWindow::~CWin32UpdaterWindow()
{
    Shutdown();
    m_calls.Detach();
}

INT_PTR CWin32UpdaterWindow::Run(HINSTANCE instance)
{
    m_instance = instance;
    const INT_PTR result = DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_TARNUPDATE_DIALOG), nullptr,
        &CWin32UpdaterWindow::DialogProcedure, reinterpret_cast<LPARAM>(this));
    return result == -1 ? -1 : 0;
}

INT_PTR CALLBACK CWin32UpdaterWindow::DialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<CWin32UpdaterWindow*>(lParam);
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        self->m_window = window;
        self->OnInitDialog();
        return TRUE;
    }
    auto* self = reinterpret_cast<CWin32UpdaterWindow*>(GetWindowLongPtrW(window, DWLP_USER));
    return self != nullptr ? self->OnMessage(message, wParam, lParam) : FALSE;
}

INT_PTR CWin32UpdaterWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case CWin32CallQueue::kMessage:
        m_calls.RunCalls();
        return TRUE;
    case WM_COMMAND:
        OnCommand(LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    case WM_SYSCOMMAND:
        return OnSystemCommand(wParam) ? TRUE : FALSE;
    case WM_TIMER:
        if (wParam == IDT_STATUS_TIMER)
            OnStatusTimer();
        return FALSE;
    case WM_PAINT:
        return OnPaint() ? TRUE : FALSE;
    case WM_QUERYDRAGICON:
        return reinterpret_cast<INT_PTR>(m_icon);
    case WM_CLOSE:
        OnCancel();
        return TRUE;
    case WM_DESTROY:
        Shutdown();
        m_calls.Detach();
        return FALSE;
    default:
        break;
    }
    (void)lParam;
    return FALSE;
}

// The start-up: settings, modules, texts, status timer, firmware catalogue.
void CWin32UpdaterWindow::OnInitDialog()
{
    m_calls.Attach(m_window);
    if (const HMENU menu = GetSystemMenu(m_window, FALSE)) {
        wchar_t about[128] = {};
        if (LoadStringW(m_instance, IDS_ABOUTBOX, about, 128) > 0) {
            AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
            AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, about);
        }
        AppendMenuW(menu, MF_STRING, IDM_SERVICE_CONSOLE, L"&Service console...");
    }
    m_icon = static_cast<HICON>(LoadImageW(m_instance, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
        GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), LR_DEFAULTCOLOR));
    m_smallIcon = static_cast<HICON>(LoadImageW(m_instance, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
        GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
    SendMessageW(m_window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_icon));
    SendMessageW(m_window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_smallIcon));

    m_initialized = true;
    m_app.LoadSettings();
    const HWND language = Control(IDC_LANGUAGE_COMBO);
    for (const wchar_t* item : { L"Deutsch", L"English" })
        SendMessageW(language, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
    const long current = GetZELLanguage().GetLanguage();
    SendMessageW(language, CB_SETCURSEL, current >= 0 && current < 2 ? static_cast<WPARAM>(current) : WPARAM(-1), 0);
    SetWin32WindowText(Control(IDC_COM_PORT_EDIT), m_link.GetCOMPort());
    m_app.StartModules();
    SendMessageW(Control(IDC_PROGRESS), PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    SendMessageW(Control(IDC_PROGRESS), PBM_SETPOS, 0, 0);
    ApplyLanguage(current);
    m_timer = SetTimer(m_window, IDT_STATUS_TIMER, static_cast<UINT>(ZELTimes().dialogTimer.count()), nullptr);
    m_app.ScanFirmwareFolder();
}

long CWin32UpdaterWindow::ApplyLanguage(long language)
{
    GetZELLanguage().SetLanguage(language);
    SetWin32WindowText(Control(IDC_LANGUAGE_LABEL), Text(APP_TEXT_LABEL_LANGUAGE));
    SetWin32WindowText(Control(IDC_COM_PORT_LABEL), Text(APP_TEXT_LABEL_COM_PORT));
    SetWin32WindowText(Control(IDC_STATUS_LABEL), Text(APP_TEXT_LABEL_STATUS));
    SetWin32WindowText(Control(IDC_PROGRESS_LABEL), Text(APP_TEXT_LABEL_PROGRESS));
    SetWin32WindowText(Control(IDC_START_UPDATE), Text(APP_TEXT_BUTTON_START_UPDATE));
    SetWin32WindowText(Control(IDC_STATUS_TEXT), GetUpdateText(CUpdaterDlg::GetStateTextId(m_dialog.GetApplicationState())));
    return 0;
}

void CWin32UpdaterWindow::OnCommand(WORD id, WORD code)
{
    switch (id) {
    case IDC_START_UPDATE:
        if (code == BN_CLICKED)
            OnStartClicked();
        break;
    case IDC_LANGUAGE_COMBO:
        if (code == CBN_SELCHANGE) {
            const LRESULT index = SendMessageW(Control(IDC_LANGUAGE_COMBO), CB_GETCURSEL, 0, 0);
            if (index != CB_ERR)
                ApplyLanguage(static_cast<long>(index));
        }
        break;
    case IDC_COM_PORT_EDIT:
        if (code == EN_CHANGE && m_initialized)
            m_link.SetSerialPortSettings(Win32WindowText(Control(IDC_COM_PORT_EDIT)), m_link.GetBaudRateAsID());
        break;
    case IDCANCEL:
        OnCancel();
        break;
    default:
        // Enter (IDOK) does nothing: the dialog has no default button to end it with.
        break;
    }
}

bool CWin32UpdaterWindow::OnSystemCommand(WPARAM command)
{
    switch (command & 0xFFF0) {
    case IDM_ABOUTBOX:
        ShowAbout();
        return true;
    case IDM_SERVICE_CONSOLE:
        ShowServiceConsole();
        return true;
    default:
        return false;
    }
}

// Minimised, the dialog shows its icon centred in the client area.
bool CWin32UpdaterWindow::OnPaint()
{
    if (!IsIconic(m_window))
        return false;
    PAINTSTRUCT paint;
    const HDC dc = BeginPaint(m_window, &paint);
    SendMessageW(m_window, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client;
    GetClientRect(m_window, &client);
    const int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
    DrawIcon(dc, x, y, m_icon);
    EndPaint(m_window, &paint);
    return true;
}

void CWin32UpdaterWindow::ShowAbout()
{
    DialogBoxParamW(m_instance, MAKEINTRESOURCEW(IDD_ABOUTBOX), m_window, AboutProcedure, 0);
}

void CWin32UpdaterWindow::ShowServiceConsole()
{
    if (m_shutDown)
        return;
    if (!m_serviceConsole) {
        m_serviceConsole = std::make_unique<CWin32ServiceConsoleWindow>(
            m_link, [this] { return Win32WindowText(Control(IDC_COM_PORT_EDIT)); });
        if (!m_serviceConsole->Create(m_instance, m_window, m_smallIcon)) {
            m_serviceConsole.reset();
            return;
        }
        UpdateServiceConsole();
    }
    m_serviceConsole->Show();
}

// The console sends only while no update works on the link.
void CWin32UpdaterWindow::UpdateServiceConsole()
{
    if (m_serviceConsole)
        m_serviceConsole->SetSendAllowed(!m_starting && !m_dialog.IsUpdateThreadRunning());
}

// The timer also fires inside the question box of a start; the start keeps the button disabled
// until it returns, so that it stays disabled from the click to the end of the update thread.
void CWin32UpdaterWindow::OnStatusTimer()
{
    UpdateServiceConsole();
    if (!m_starting)
        m_dialog.OnStatusTimer();
}

void CWin32UpdaterWindow::OnStartClicked()
{
    if (m_starting)
        return;
    m_starting = true;
    // The update opens the port itself and refuses to start while anyone else holds it.
    if (m_serviceConsole) {
        m_serviceConsole->SetSendAllowed(false);
        m_serviceConsole->ReleasePort();
    }
    m_dialog.StartUpdate();
    m_starting = false;
    UpdateServiceConsole();
    // A running update thread ends with its report, which closes the dialog itself.
    if (m_closeAfterStart && !m_dialog.IsUpdateThreadRunning())
        EndDialog(m_window, IDCANCEL);
}

// Esc and the close box. While the update thread works, stopping it may leave a processor in its
// bootloader: ask first, and let the thread end after its current target; its report closes the
// dialog.
void CWin32UpdaterWindow::OnCancel()
{
    if (!m_closing && m_dialog.IsUpdateThreadRunning()) {
        const int answer = ShowBoxHere(Text(APP_TEXT_STOP_AFTER_CURRENT), Text(APP_TEXT_CAPTION_ABORTED),
            ZEL_MB_YESNO | ZEL_MB_ICONWARNING);
        if (answer == ZEL_IDYES)
            m_dialog.RequestCancel();
        return;
    }
    // A start works further down this thread's stack (its question box is open): it is stopped,
    // and the dialog ends once it has returned.
    if (m_starting) {
        m_closeAfterStart = true;
        m_dialog.RequestCancel();
        return;
    }
    EndDialog(m_window, IDCANCEL);
}

void CWin32UpdaterWindow::Shutdown()
{
    if (m_shutDown || !m_initialized)
        return;
    m_shutDown = true;
    // The dialog's thread waits here now: a box the update thread still asks for is answered
    // Cancel at once rather than waiting for this thread.
    m_calls.Detach();
    // After the close request the update thread has only its last steps left.
    m_dialog.WaitForUpdateThread(kUpdateThreadEnd);
    // The console's worker is subscribed to the library's hub and may hold the port.
    if (m_serviceConsole)
        m_serviceConsole->Terminate();
    m_app.SaveSettings();
    if (m_timer != 0 && m_window != nullptr)
        KillTimer(m_window, IDT_STATUS_TIMER);
    m_timer = 0;
    m_app.ShutdownModules();
}

// ---------------------------------------------------------------------------------------------
// The view: every call may come from another thread.

void CWin32UpdaterWindow::OnDialogThread(std::function<void()> call)
{
    if (m_calls.IsWindowThread())
        call();
    else
        m_calls.Post(std::move(call));
}

void CWin32UpdaterWindow::SetStatusText(const std::string& text)
{
    OnDialogThread([this, text] {
        const HWND status = Control(IDC_STATUS_TEXT);
        SetWin32WindowText(status, text);
        // A start runs on this thread: show the state before its next step.
        UpdateWindow(status);
    });
}

void CWin32UpdaterWindow::SetProgress(int percent)
{
    OnDialogThread([this, percent] { SendMessageW(Control(IDC_PROGRESS), PBM_SETPOS, static_cast<WPARAM>(percent), 0); });
}

int CWin32UpdaterWindow::ShowBoxHere(const std::string& text, const std::string& caption, unsigned int style)
{
    const long language = GetZELLanguage().GetLanguage();
    if ((language == ZEL_LANGUAGE_GERMAN || language == ZEL_LANGUAGE_ENGLISH) && t_boxHook == nullptr)
        t_boxHook = SetWindowsHookExW(WH_CBT, NameBoxButtons, nullptr, GetCurrentThreadId());
    const int answer = MessageBoxW(m_window, ZELPlatform::ToWide(text).c_str(), ZELPlatform::ToWide(caption).c_str(),
        style | MB_SETFOREGROUND);
    if (t_boxHook != nullptr) {
        UnhookWindowsHookEx(t_boxHook);
        t_boxHook = nullptr;
    }
    switch (answer) {
    case IDYES: return ZEL_IDYES;
    case IDNO: return ZEL_IDNO;
    case IDOK: return ZEL_IDOK;
    default: return ZEL_IDCANCEL;
    }
}

int CWin32UpdaterWindow::AnswerOnDialogThread(std::function<int()> ask, int unanswered)
{
    if (m_calls.IsWindowThread())
        return ask();
    // The answer comes back through the promise; a call dropped unrun (the dialog went) answers
    // `unanswered`, so the caller never waits for a box that cannot come.
    struct Answer
    {
        std::promise<int> promise;
        int unanswered = 0;
        bool given = false;
        void Give(int answer)
        {
            given = true;
            promise.set_value(answer);
        }
        ~Answer()
        {
            if (!given)
                promise.set_value(unanswered);
        }
    };
    auto answer = std::make_shared<Answer>();
    answer->unanswered = unanswered;
    std::future<int> result = answer->promise.get_future();
    if (!m_calls.Post([answer, ask = std::move(ask)] { answer->Give(ask()); }))
        return unanswered;
    answer.reset();
    return result.get();
}

int CWin32UpdaterWindow::ShowMessageBox(const std::string& text, const std::string& caption, unsigned int style)
{
    return AnswerOnDialogThread([this, text, caption, style] { return ShowBoxHere(text, caption, style); }, ZEL_IDCANCEL);
}

int CWin32UpdaterWindow::ChooseFromList(const std::string& text, const std::string& caption,
    const std::vector<std::string>& choices)
{
    return AnswerOnDialogThread([this, text, caption, choices] {
        const long language = GetZELLanguage().GetLanguage();
        const bool named = language == ZEL_LANGUAGE_GERMAN || language == ZEL_LANGUAGE_ENGLISH;
        CWin32ChooseDialog chooser({ text, caption, named ? Text(APP_TEXT_BUTTON_OK) : std::string(),
                                       named ? Text(APP_TEXT_BUTTON_CANCEL) : std::string() },
            choices);
        return chooser.Run(m_instance, m_window);
    }, -1);
}

void CWin32UpdaterWindow::SetCOMPortText(const std::string& port)
{
    OnDialogThread([this, port] { SetWin32WindowText(Control(IDC_COM_PORT_EDIT), port); });
}

void CWin32UpdaterWindow::EnableStartButton(bool enable)
{
    OnDialogThread([this, enable] { EnableWindow(Control(IDC_START_UPDATE), enable ? TRUE : FALSE); });
}

void CWin32UpdaterWindow::EnablePortField(bool enable)
{
    OnDialogThread([this, enable] { EnableWindow(Control(IDC_COM_PORT_EDIT), enable ? TRUE : FALSE); });
}

void CWin32UpdaterWindow::RequestClose()
{
    // Queued even on the dialog's thread: the caller finishes before the dialog goes.
    m_calls.Post([this] {
        m_closing = true;
        EndDialog(m_window, IDCANCEL);
    });
}
