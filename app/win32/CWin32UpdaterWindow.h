#pragma once

#include "app/core/CUpdateProcedures.h"
#include "app/core/CUpdaterApp.h"
#include "app/core/CUpdaterDlg.h"
#include "app/core/IUpdateLink.h"
#include "app/core/IUpdateView.h"
#include "app/win32/CWin32CallQueue.h"
#include "zel/platform/windows/ZELWindows.h"
#include "zel/platform/ZELProcess.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class CWin32ServiceConsoleWindow;

// The update program's dialog on Windows: the native view of CUpdaterDlg, built from the dialog
// resource and run modally. Calls of the view from the update thread or the message queue's thread
// are carried over to the dialog's thread; a message box blocks its caller until answered.
class CWin32UpdaterWindow : public IUpdateView
{
public:
    // An empty `iniFile` is the library's ZEL.ini.
    CWin32UpdaterWindow(IUpdateLink& link, std::string iniFile = "",
        std::string firmwareFolder = ZELPlatform::JoinPath(".", "Firmware"));
    CWin32UpdaterWindow(const CWin32UpdaterWindow&) = delete;
    CWin32UpdaterWindow& operator=(const CWin32UpdaterWindow&) = delete;
    ~CWin32UpdaterWindow() override;

    // Runs the dialog until it ends: 0, or -1 when it could not be created.
    INT_PTR Run(HINSTANCE instance);

    // Texts of the six language-dependent controls in `language` (0 German, 1 English).
    long ApplyLanguage(long language);

    // IUpdateView
    void SetStatusText(const std::string& text) override;
    void SetProgress(int percent) override;
    int ShowMessageBox(const std::string& text, const std::string& caption, unsigned int style) override;
    int ChooseFromList(const std::string& text, const std::string& caption,
        const std::vector<std::string>& choices) override;
    void SetCOMPortText(const std::string& port) override;
    void EnableStartButton(bool enable) override;
    void EnablePortField(bool enable) override;
    void RequestClose() override;

private:
    static INT_PTR CALLBACK DialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void OnInitDialog();
    void OnCommand(WORD id, WORD code);
    bool OnSystemCommand(WPARAM command);
    bool OnPaint();
    void OnStatusTimer();
    void OnStartClicked();
    void OnCancel();
    void ShowAbout();
    void ShowServiceConsole();
    void UpdateServiceConsole();
    void Shutdown();
    int ShowBoxHere(const std::string& text, const std::string& caption, unsigned int style);
    // Runs `ask` on the dialog's thread and blocks the caller for its answer; `unanswered` when the
    // dialog can no longer ask.
    int AnswerOnDialogThread(std::function<int()> ask, int unanswered);
    // Runs `call` now on the dialog's thread, else queues it there.
    void OnDialogThread(std::function<void()> call);
    HWND Control(int id) const { return GetDlgItem(m_window, id); }

    IUpdateLink& m_link;
    CUpdaterDlg m_dialog;
    // Destroyed before the dialog: waits for the update thread, releases the CAN driver image.
    CUpdateProcedures m_procedures;
    CUpdaterApp m_app;
    CWin32CallQueue m_calls;
    std::unique_ptr<CWin32ServiceConsoleWindow> m_serviceConsole;

    HINSTANCE m_instance = nullptr;
    HWND m_window = nullptr;
    HICON m_icon = nullptr;
    HICON m_smallIcon = nullptr;
    UINT_PTR m_timer = 0;
    bool m_initialized = false;
    bool m_starting = false;
    bool m_shutDown = false;
    bool m_closing = false;
    bool m_closeAfterStart = false;
};
