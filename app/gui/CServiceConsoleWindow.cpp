#include "app/gui/CServiceConsoleWindow.h"

#include "app/gui/CQtComboBox.h"
#include "app/gui/CQtEdit.h"
#include "app/gui/CQtStaticText.h"
#include "zel/commands/CZELCommandHelper.h"
#include "zel/foundation/ZELStatus.h"

#include <QComboBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace {

// The traffic dump ends lines with CR LF; Qt breaks at LF alone.
QString Shown(const std::string& text)
{
    QString shown = QString::fromStdString(text);
    shown.replace("\r\n", "\n");
    while (shown.endsWith('\n'))
        shown.chop(1);
    return shown;
}

} // namespace

CServiceConsoleWindow::CServiceConsoleWindow(
    IUpdateLink& link, std::function<std::string()> portName, QWidget* parent)
    : QDialog(parent)
    , m_link(link)
    , m_console(link)
    , m_portName(std::move(portName))
{
    setObjectName("serviceConsole");
    setWindowTitle("Service console");
    setModal(false);
    BuildControls();
}

CServiceConsoleWindow::~CServiceConsoleWindow()
{
    Terminate();
}

void CServiceConsoleWindow::BuildControls()
{
    m_requests = new QComboBox(this);
    m_requests->setObjectName("requestList");
    connect(m_requests, &QComboBox::currentIndexChanged, this, &CServiceConsoleWindow::OnRequestChanged);
    m_parameterLabel = new QLabel(this);
    m_parameterLabel->setObjectName("parameterLabel");
    m_parameters = new QComboBox(this);
    m_parameters->setObjectName("parameterList");
    m_valueLabel = new QLabel(this);
    m_valueLabel->setObjectName("valueLabel");
    m_value = new QLineEdit(this);
    m_value->setObjectName("valueEdit");
    m_value->setMaxLength(static_cast<int>(CZELCommandHelper::kMaxEditLength));

    m_send = new QPushButton("&Send", this);
    m_send->setObjectName("sendButton");
    // Enter in the edit sends.
    m_send->setDefault(true);
    connect(m_send, &QPushButton::clicked, this, &CServiceConsoleWindow::OnSendClicked);
    m_clear = new QPushButton("&Clear", this);
    m_clear->setObjectName("clearButton");

    m_status = new QLabel(this);
    m_status->setObjectName("consoleStatus");
    m_status->setWordWrap(true);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);

    m_lines = new QPlainTextEdit(this);
    m_lines->setObjectName("consoleLines");
    m_lines->setReadOnly(true);
    m_lines->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_lines->setMaximumBlockCount(kMaxLines);
    m_lines->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    connect(m_clear, &QPushButton::clicked, m_lines, &QPlainTextEdit::clear);

    auto* requestLabel = new QLabel("&Request:", this);
    requestLabel->setBuddy(m_requests);
    auto* form = new QGridLayout;
    form->addWidget(requestLabel, 0, 0);
    form->addWidget(m_requests, 0, 1);
    form->addWidget(m_parameterLabel, 1, 0);
    form->addWidget(m_parameters, 1, 1);
    form->addWidget(m_valueLabel, 2, 0);
    form->addWidget(m_value, 2, 1);
    form->setColumnStretch(1, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_send);
    buttons->addWidget(m_clear);
    buttons->addWidget(m_status, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);
    layout->addWidget(m_lines, 1);
    resize(720, 480);
}

void CServiceConsoleWindow::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    if (!m_started && !m_terminated) {
        // Lines come on the console's worker thread, in the order of the line.
        const long result = m_console.Start([this](const std::string& line) {
            QMetaObject::invokeMethod(
                this, [this, text = Shown(line)] { m_lines->appendPlainText(text); }, Qt::QueuedConnection);
        });
        m_started = result == ZEL_STATUS_SUCCESS;
        if (!m_started)
            ShowStatus("The console cannot receive (" + GetZELStatusAsString(result) + ").");
    }
    FillControls();
}

// A hidden console does not keep the port.
void CServiceConsoleWindow::hideEvent(QHideEvent* event)
{
    if (!event->spontaneous())
        ReleasePort();
    QDialog::hideEvent(event);
}

void CServiceConsoleWindow::FillControls()
{
    {
        const QSignalBlocker blocker(m_requests);
        CQtComboBox requests(m_requests);
        GetZELCommandHelper().FillRequest(&requests);
    }
    OnRequestChanged();
}

void CServiceConsoleWindow::OnRequestChanged()
{
    CQtComboBox requests(m_requests);
    CQtStaticText parameterLabel(m_parameterLabel);
    CQtComboBox parameters(m_parameters);
    CQtStaticText valueLabel(m_valueLabel);
    CQtEdit value(m_value);
    GetZELCommandHelper().FillParameters(&requests, &parameterLabel, &parameters, &valueLabel, &value);
}

void CServiceConsoleWindow::OnSendClicked()
{
    CQtComboBox requests(m_requests);
    CQtComboBox parameters(m_parameters);
    CQtEdit value(m_value);
    const long result = m_console.SendOnPort(m_portName ? m_portName() : m_link.GetCOMPort(), &requests, &parameters, &value);
    ShowStatus(result == ZEL_STATUS_SUCCESS ? std::string() : m_console.GetLastErrorText());
}

void CServiceConsoleWindow::ShowStatus(const std::string& text)
{
    m_status->setText(Shown(text));
}

void CServiceConsoleWindow::ReleasePort()
{
    m_console.ClosePort();
}

void CServiceConsoleWindow::SetSendAllowed(bool allowed)
{
    m_send->setEnabled(allowed);
}

void CServiceConsoleWindow::Terminate()
{
    if (m_terminated)
        return;
    m_terminated = true;
    ReleasePort();
    m_console.Terminate();
    m_started = false;
    hide();
}
