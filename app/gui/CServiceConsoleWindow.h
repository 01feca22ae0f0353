#pragma once

#include "app/core/CServiceConsole.h"
#include "app/core/IUpdateLink.h"

#include <QDialog>

#include <cstdint>
#include <functional>
#include <string>

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

// The service console of the update program: a non-modal window that sends the command helper's
// requests over the program's link and lists every packet the device sends. Object names: requestList,
// parameterLabel, parameterList, valueLabel, valueEdit, sendButton, clearButton, consoleStatus,
// consoleLines.
class CServiceConsoleWindow : public QDialog
{
    Q_OBJECT

public:
    // The console keeps at most this many lines.
    static constexpr int kMaxLines = 5000;

    // `portName` gives the port the operator chose in the main window; the console opens it for a
    // send when no update holds the link.
    CServiceConsoleWindow(IUpdateLink& link, std::function<std::string()> portName, QWidget* parent = nullptr);
    ~CServiceConsoleWindow() override;

    // Closes the port if the console opened it and gives the link back its framing, so that an update
    // can open the port as it expects to.
    void ReleasePort();
    // Whether a send may go out now: not while an update works on the link.
    void SetSendAllowed(bool allowed);
    // Unsubscribes and releases the port; called before the library's modules shut down.
    void Terminate();

    CServiceConsole& Console() { return m_console; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void BuildControls();
    void FillControls();
    void OnRequestChanged();
    void OnSendClicked();
    void ShowStatus(const std::string& text);

    IUpdateLink& m_link;
    CServiceConsole m_console;
    std::function<std::string()> m_portName;
    bool m_started = false;
    bool m_terminated = false;

    QComboBox* m_requests = nullptr;
    QLabel* m_parameterLabel = nullptr;
    QComboBox* m_parameters = nullptr;
    QLabel* m_valueLabel = nullptr;
    QLineEdit* m_value = nullptr;
    QPushButton* m_send = nullptr;
    QPushButton* m_clear = nullptr;
    QLabel* m_status = nullptr;
    QPlainTextEdit* m_lines = nullptr;
};
