#include "app/gui/CUpdaterWindow.h"

#include "app/core/UpdateTexts.h"
#include "app/gui/CAboutDlg.h"
#include "app/gui/CServiceConsoleWindow.h"
#include "tools/ZELRunGraphicalBox.h"
#include "zel/foundation/CZELLanguage.h"
#include "zel/foundation/CZELTimeTable.h"
#include "zel/foundation/ZELMessageBox.h"
#include "zel/platform/ZELSerialPortList.h"

#include <QAbstractButton>
#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QFontMetrics>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QSignalBlocker>
#include <QThread>
#include <QToolButton>

#include <chrono>
#include <cmath>
#include <utility>

namespace {

// The dialog's size and the log pane below it, in dialog units.
constexpr int kDialogWidth = 175;
constexpr int kDialogHeight = 90;
constexpr int kLogPaneHeight = 80;

// The update thread's close request comes after its last message box; what is left of it is short.
constexpr std::chrono::seconds kUpdateThreadEnd{30};

// The program's texts end lines with CR LF; Qt breaks at LF alone.
QString Shown(const std::string& text)
{
    QString shown = QString::fromStdString(text);
    shown.replace("\r\n", "\n");
    return shown;
}

QString Text(unsigned long id) { return Shown(GetUpdateText(id)); }

// The box's own buttons speak the program's language. Language 2 has no button texts ("???"
// for both answers of a question would hide which is which): Qt's own stay.
void NameButtons(QMessageBox& box)
{
    const long language = GetZELLanguage().GetLanguage();
    if (language != ZEL_LANGUAGE_GERMAN && language != ZEL_LANGUAGE_ENGLISH)
        return;
    const std::pair<QMessageBox::StandardButton, unsigned long> buttons[] = {
        { QMessageBox::Yes, APP_TEXT_BUTTON_YES },
        { QMessageBox::No, APP_TEXT_BUTTON_NO },
        { QMessageBox::Ok, APP_TEXT_BUTTON_OK },
    };
    for (const auto& [button, text] : buttons)
        if (QAbstractButton* shown = box.button(button))
            shown->setText(Text(text));
}

} // namespace

CUpdaterWindow::CUpdaterWindow(IUpdateLink& link, std::string iniFile, std::string firmwareFolder)
    : m_link(link)
    , m_dialog(*this, link, GetZELCommandSet(), std::move(firmwareFolder))
    , m_procedures(m_dialog)
    , m_app(m_dialog, std::move(iniFile))
{
    Q_INIT_RESOURCE(tarnupdate);
    setObjectName("updaterDialog");
    setWindowTitle("Tarn Update");
    setWindowIcon(QIcon(":/tarn-update.png"));
    BuildControls();
    PlaceControls();
    m_app.SetLogControl(this);
}

CUpdaterWindow::~CUpdaterWindow()
{
    Shutdown();
}

void CUpdaterWindow::BuildControls()
{
    auto label = [this](int id) {
        auto* control = new QLabel(this);
        control->setObjectName(QString("control%1").arg(id));
        return control;
    };
    m_languageLabel = label(1028);
    m_portLabel = label(1029);
    m_statusLabel = label(1030);
    m_progressLabel = label(1031);
    m_status = label(1032);

    m_language = new QComboBox(this);
    m_language->setObjectName("control1021");
    m_language->addItems({ "Deutsch", "English" });
    connect(m_language, &QComboBox::currentIndexChanged, this, &CUpdaterWindow::OnLanguageChanged);

    // An editable field that also offers the machine's ports; picking one writes its name.
    m_port = new QComboBox(this);
    m_port->setObjectName("control1003");
    m_port->setEditable(true);
    m_port->setInsertPolicy(QComboBox::NoInsert);
    connect(m_port, &QComboBox::editTextChanged, this, &CUpdaterWindow::OnPortTextChanged);
    connect(m_port, &QComboBox::activated, this,
        [this](int index) { m_port->setEditText(m_port->itemData(index).toString()); });

    m_start = new QPushButton(Text(APP_TEXT_BUTTON_START_UPDATE), this);
    m_start->setObjectName("control1005");
    m_start->setEnabled(false);
    connect(m_start, &QPushButton::clicked, this, &CUpdaterWindow::OnStartClicked);

    m_progress = new QProgressBar(this);
    m_progress->setObjectName("control1062");
    m_progress->setTextVisible(false);

    // No window menu to extend here: the about box and the log pane are behind a small help button.
    m_help = new QToolButton(this);
    m_help->setObjectName("helpButton");
    m_help->setText("?");
    m_help->setPopupMode(QToolButton::InstantPopup);
    auto* menu = new QMenu(m_help);
    QAction* about = menu->addAction("&About Tarn Update...", this, &CUpdaterWindow::ShowAbout);
    about->setObjectName("aboutAction");
    QAction* log = menu->addAction("Show &Log", this, &CUpdaterWindow::SetLogPaneVisible);
    log->setObjectName("logAction");
    log->setCheckable(true);
    QAction* console = menu->addAction("&Service console...", this, &CUpdaterWindow::ShowServiceConsole);
    console->setObjectName("serviceConsoleAction");
    m_help->setMenu(menu);
    new QShortcut(QKeySequence::HelpContents, this, this, &CUpdaterWindow::ShowAbout);

    m_logPane = new QPlainTextEdit(this);
    m_logPane->setObjectName("logPane");
    m_logPane->setReadOnly(true);
    m_logPane->setMaximumBlockCount(5000);
    m_logPane->hide();

    connect(&m_statusTimer, &QTimer::timeout, this, &CUpdaterWindow::OnStatusTimer);
}

// The dialog-unit layout: a unit is a quarter of the average character width and an eighth of the
// character height of the dialog's font.
void CUpdaterWindow::PlaceControls()
{
    const QFontMetrics metrics(font());
    const double xUnit = metrics.averageCharWidth() / 4.0;
    const double yUnit = metrics.height() / 8.0;
    auto place = [xUnit, yUnit](QWidget* control, int x, int y, int w, int h) {
        control->setGeometry(static_cast<int>(std::lround(x * xUnit)), static_cast<int>(std::lround(y * yUnit)),
            static_cast<int>(std::lround(w * xUnit)), static_cast<int>(std::lround(h * yUnit)));
    };
    place(m_languageLabel, 10, 10, 50, 8);
    place(m_language, 60, 8, 50, 13);
    place(m_portLabel, 10, 30, 50, 8);
    place(m_port, 60, 28, 50, 14);
    place(m_start, 115, 8, 50, 34);
    place(m_statusLabel, 10, 50, 50, 8);
    place(m_progressLabel, 10, 70, 50, 8);
    place(m_status, 60, 50, 105, 8);
    place(m_progress, 60, 67, 105, 14);
    place(m_help, 166, 8, 8, 10);
    place(m_logPane, 10, kDialogHeight, kDialogWidth - 20, kLogPaneHeight - 8);
    const int height = kDialogHeight + (m_logPane->isVisible() ? kLogPaneHeight : 0);
    setFixedSize(static_cast<int>(std::lround(kDialogWidth * xUnit)), static_cast<int>(std::lround(height * yUnit)));
}

void CUpdaterWindow::Initialize()
{
    m_initialized = true;
    m_app.LoadSettings();
    {
        // The texts follow with ApplyLanguage once the modules run.
        const QSignalBlocker blocker(m_language);
        const long language = GetZELLanguage().GetLanguage();
        m_language->setCurrentIndex(language < m_language->count() ? static_cast<int>(language) : -1);
    }
    RefreshPortList();
    m_port->setEditText(QString::fromStdString(m_link.GetCOMPort()));
    m_app.StartModules();
    m_progress->setRange(0, 100);
    m_progress->setValue(0);
    ApplyLanguage(GetZELLanguage().GetLanguage());
    m_statusTimer.start(ZELTimes().dialogTimer);
    m_app.ScanFirmwareFolder();

    m_hotPlug = ZELCreateHotPlugMonitor();
    if (m_hotPlug && m_hotPlug->Start([this](const ZELSerialDeviceEvent&) { OnGuiThread([this] { RefreshPortList(); }); })
            != 0)
        m_hotPlug.reset();
}

long CUpdaterWindow::ApplyLanguage(long language)
{
    GetZELLanguage().SetLanguage(language);
    m_languageLabel->setText(Text(APP_TEXT_LABEL_LANGUAGE));
    m_portLabel->setText(Text(APP_TEXT_LABEL_COM_PORT));
    m_statusLabel->setText(Text(APP_TEXT_LABEL_STATUS));
    m_progressLabel->setText(Text(APP_TEXT_LABEL_PROGRESS));
    m_start->setText(Text(APP_TEXT_BUTTON_START_UPDATE));
    m_status->setText(Shown(GetStateText(m_dialog.GetApplicationState())));
    return 0;
}

std::string CUpdaterWindow::GetStateText(long state)
{
    return GetUpdateText(CUpdaterDlg::GetStateTextId(state));
}

void CUpdaterWindow::SetLogPaneVisible(bool visible)
{
    m_logPane->setVisible(visible);
    PlaceControls();
}

void CUpdaterWindow::ShowAbout()
{
    CAboutDlg about(this);
    about.setWindowIcon(windowIcon());
    about.exec();
}

// The timer also fires inside the question box of a start; the start keeps the button disabled
// until it returns, so that it stays disabled from the click to the end of the update thread.
void CUpdaterWindow::OnStatusTimer()
{
    UpdateServiceConsole();
    if (!m_starting)
        m_dialog.OnStatusTimer();
}

void CUpdaterWindow::OnStartClicked()
{
    m_starting = true;
    // The update opens the port itself and refuses to start while anyone else holds it.
    if (m_serviceConsole) {
        m_serviceConsole->SetSendAllowed(false);
        m_serviceConsole->ReleasePort();
    }
    m_dialog.StartUpdate();
    m_starting = false;
    UpdateServiceConsole();
}

void CUpdaterWindow::ShowServiceConsole()
{
    if (m_shutDown)
        return;
    if (m_serviceConsole == nullptr) {
        m_serviceConsole = new CServiceConsoleWindow(
            m_link, [this] { return m_port->currentText().toStdString(); }, this);
        m_serviceConsole->setWindowIcon(windowIcon());
        UpdateServiceConsole();
    }
    m_serviceConsole->show();
    m_serviceConsole->raise();
    m_serviceConsole->activateWindow();
}

// The console sends only while no update works on the link.
void CUpdaterWindow::UpdateServiceConsole()
{
    if (m_serviceConsole)
        m_serviceConsole->SetSendAllowed(!m_starting && !m_dialog.IsUpdateThreadRunning());
}

void CUpdaterWindow::OnLanguageChanged(int index)
{
    if (index >= 0)
        ApplyLanguage(index);
}

void CUpdaterWindow::OnPortTextChanged(const QString& text)
{
    m_link.SetSerialPortSettings(text.toStdString(), m_link.GetBaudRateAsID());
}

void CUpdaterWindow::RefreshPortList()
{
    const QSignalBlocker blocker(m_port);
    const QString text = m_port->currentText();
    m_port->clear();
    for (const ZELPlatform::SerialPortInfo& port : ZELPlatform::ListSerialPorts()) {
        const QString name = QString::fromStdString(port.name);
        m_port->addItem(port.description.empty() ? name : name + " (" + QString::fromStdString(port.description) + ")",
            name);
    }
    m_port->setEditText(text);
}

// ---------------------------------------------------------------------------------------------
// The view: every call may come from another thread.

void CUpdaterWindow::OnGuiThread(std::function<void()> call)
{
    if (QThread::currentThread() == thread())
        call();
    else
        QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
}

void CUpdaterWindow::SetStatusText(const std::string& text)
{
    OnGuiThread([this, text] { m_status->setText(Shown(text)); });
}

void CUpdaterWindow::SetProgress(int percent)
{
    OnGuiThread([this, percent] { m_progress->setValue(percent); });
}

int CUpdaterWindow::ShowMessageBox(const std::string& text, const std::string& caption, unsigned int style)
{
    auto show = [this, text, caption, style] {
        QMessageBox box(ZELQtMessageBoxIcon(style), Shown(caption), Shown(text),
            (style & 0x0F) == ZEL_MB_YESNO ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok, this);
        box.setObjectName("messageBox");
        NameButtons(box);
        switch (box.exec()) {
        case QMessageBox::Yes: return ZEL_IDYES;
        case QMessageBox::No: return ZEL_IDNO;
        default: return ZEL_IDOK;
        }
    };
    if (QThread::currentThread() == thread())
        return show();
    int answer = ZEL_IDCANCEL;
    QMetaObject::invokeMethod(this, [&answer, &show] { answer = show(); }, Qt::BlockingQueuedConnection);
    return answer;
}

int CUpdaterWindow::ChooseFromList(const std::string& text, const std::string& caption,
    const std::vector<std::string>& choices)
{
    auto choose = [this, text, caption, choices] {
        QStringList items;
        for (const std::string& choice : choices)
            items << QString::fromStdString(choice);
        QInputDialog chooser(this);
        chooser.setObjectName("chooseDialog");
        chooser.setWindowTitle(Shown(caption));
        chooser.setLabelText(Shown(text));
        chooser.setOption(QInputDialog::UseListViewForComboBoxItems);
        chooser.setComboBoxItems(items);
        chooser.setComboBoxEditable(false);
        const long language = GetZELLanguage().GetLanguage();
        if (language == ZEL_LANGUAGE_GERMAN || language == ZEL_LANGUAGE_ENGLISH) {
            chooser.setOkButtonText(Text(APP_TEXT_BUTTON_OK));
            chooser.setCancelButtonText(Text(APP_TEXT_BUTTON_CANCEL));
        }
        if (chooser.exec() != QDialog::Accepted)
            return -1;
        return static_cast<int>(items.indexOf(chooser.textValue()));
    };
    if (QThread::currentThread() == thread())
        return choose();
    int chosen = -1;
    QMetaObject::invokeMethod(this, [&chosen, &choose] { chosen = choose(); }, Qt::BlockingQueuedConnection);
    return chosen;
}

void CUpdaterWindow::SetCOMPortText(const std::string& port)
{
    OnGuiThread([this, port] { m_port->setEditText(QString::fromStdString(port)); });
}

void CUpdaterWindow::EnableStartButton(bool enable)
{
    OnGuiThread([this, enable] { m_start->setEnabled(enable); });
}

void CUpdaterWindow::EnablePortField(bool enable)
{
    OnGuiThread([this, enable] { m_port->setEnabled(enable); });
}

void CUpdaterWindow::RequestClose()
{
    // Queued even on the GUI thread: the caller finishes before the window goes.
    QMetaObject::invokeMethod(this, [this] {
        m_closing = true;
        done(QDialog::Rejected);
    }, Qt::QueuedConnection);
}

void CUpdaterWindow::AppendLine(const std::string& line)
{
    // On the log's thread, which must not wait for the GUI thread (it may be ending the log).
    QMetaObject::invokeMethod(this, [this, text = QString::fromStdString(line)] { m_logPane->appendPlainText(text); },
        Qt::QueuedConnection);
}

// ---------------------------------------------------------------------------------------------
// End of the program

// Esc and the close box. While the update thread works, stopping it may leave a processor in its
// bootloader: ask first, and let the thread end after its current target; its report closes the window.
void CUpdaterWindow::reject()
{
    if (!m_closing && m_dialog.IsUpdateThreadRunning()) {
        const int answer = ShowMessageBox(GetUpdateText(APP_TEXT_STOP_AFTER_CURRENT),
            GetUpdateText(APP_TEXT_CAPTION_ABORTED), ZEL_MB_YESNO | ZEL_MB_ICONWARNING);
        if (answer == ZEL_IDYES)
            m_dialog.RequestCancel();
        return;
    }
    QDialog::reject();
}

void CUpdaterWindow::done(int result)
{
    Shutdown();
    QDialog::done(result);
}

void CUpdaterWindow::Shutdown()
{
    if (m_shutDown || !m_initialized)
        return;
    m_shutDown = true;
    if (m_hotPlug)
        m_hotPlug->Stop();
    // After the close request the update thread has only its last steps left.
    m_dialog.WaitForUpdateThread(kUpdateThreadEnd);
    // The console's worker is subscribed to the library's hub and may hold the port.
    if (m_serviceConsole)
        m_serviceConsole->Terminate();
    m_app.SaveSettings();
    m_statusTimer.stop();
    m_app.ShutdownModules();
}
