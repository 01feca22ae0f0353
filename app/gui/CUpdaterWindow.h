#pragma once

#include "app/core/CUpdateProcedures.h"
#include "app/core/CUpdaterApp.h"
#include "app/core/CUpdaterDlg.h"
#include "app/core/IUpdateLink.h"
#include "app/core/IUpdateView.h"
#include "zel/log/IZELLogLineSink.h"
#include "zel/platform/IZELHotPlugMonitor.h"
#include "zel/platform/ZELProcess.h"

#include <QDialog>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class CServiceConsoleWindow;
class QComboBox;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QToolButton;

// The update program's dialog: the Qt view of CUpdaterDlg. Control ids are the widgets' object names
// ("control1005" is the start button). Calls of the view from the update thread or the message
// queue's thread are carried over to the GUI thread; a message box blocks its caller until answered.
class CUpdaterWindow : public QDialog, public IUpdateView, private IZELLogLineSink
{
    Q_OBJECT

public:
    // An empty `iniFile` is the library's ZEL.ini.
    explicit CUpdaterWindow(IUpdateLink& link, std::string iniFile = "",
        std::string firmwareFolder = ZELPlatform::JoinPath(".", "Firmware"));
    ~CUpdaterWindow() override;

    // The start-up: settings, modules, texts, status timer, firmware catalogue.
    void Initialize();
    // Texts of the six language-dependent controls in `language` (0 German, 1 English).
    long ApplyLanguage(long language);
    // The status text of an application state in the current language.
    static std::string GetStateText(long state);

    CUpdaterDlg& Dialog() { return m_dialog; }
    CUpdaterApp& App() { return m_app; }
    void SetLogPaneVisible(bool visible);
    void ShowAbout();
    // Opens the service console, or raises it when it is open.
    void ShowServiceConsole();

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

public slots:
    void done(int result) override;
    void reject() override;

private:
    void AppendLine(const std::string& line) override;

    void BuildControls();
    void PlaceControls();
    void OnStatusTimer();
    void OnStartClicked();
    void OnLanguageChanged(int index);
    void OnPortTextChanged(const QString& text);
    void RefreshPortList();
    void Shutdown();
    void OnGuiThread(std::function<void()> call);
    void UpdateServiceConsole();

    IUpdateLink& m_link;
    CUpdaterDlg m_dialog;
    // Destroyed before the dialog: waits for the update thread, releases the CAN driver image.
    CUpdateProcedures m_procedures;
    CUpdaterApp m_app;

    QLabel* m_languageLabel = nullptr;
    QComboBox* m_language = nullptr;
    QLabel* m_portLabel = nullptr;
    QComboBox* m_port = nullptr;
    QPushButton* m_start = nullptr;
    QLabel* m_statusLabel = nullptr;
    QLabel* m_progressLabel = nullptr;
    QLabel* m_status = nullptr;
    QProgressBar* m_progress = nullptr;
    QToolButton* m_help = nullptr;
    QPlainTextEdit* m_logPane = nullptr;
    // Made on first use; a child of the dialog, terminated in Shutdown.
    CServiceConsoleWindow* m_serviceConsole = nullptr;
    QTimer m_statusTimer;

    std::unique_ptr<IZELHotPlugMonitor> m_hotPlug;
    bool m_initialized = false;
    bool m_starting = false;
    bool m_shutDown = false;
    bool m_closing = false;
};
