// The service console as an operator sees it, opened from the dialog's help menu, on the offscreen
// platform against the simulator over a pty.
#include "app/core/CSerialPortLink.h"
#include "app/gui/CServiceConsoleWindow.h"
#include "app/gui/CUpdaterWindow.h"
#include "gui/GuiTestSupport.h"
#include "sim/CSimScenario.h"
#include "sim/CSimServer.h"
#include "support/ZELTestSupport.h"
#include "zel/foundation/CZELTimeTable.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <filesystem>
#include <functional>
#include <memory>

namespace {

using ZELGuiTest::kWaitMs;
using ZELGuiTest::Serve;

const char* const kDevice = R"({ "device": { "hardware": "QTR-2", "serialNumber": "QTR2-000123",
    "versions": { "CCPU": "V 02.09.30", "KCPU": "V 01.04.00", "LCPU": "V 01.02.07" },
    "expanders": [ { "type": "0x21", "version": "V 02.02.01" } ] } })";

template <typename T> T* Child(QWidget& window, const char* name)
{
    T* control = window.findChild<T*>(name);
    if (control == nullptr)
        qFatal("control %s missing", name);
    return control;
}

// Answers every message box with Yes or OK and records its caption; `onBox` runs inside the box first.
class BoxAnswerer : public QObject
{
public:
    BoxAnswerer()
    {
        connect(&m_timer, &QTimer::timeout, this, &BoxAnswerer::Check);
        m_timer.start(5);
    }

    std::function<void(QMessageBox&)> onBox;
    QStringList captions;

private:
    void Check()
    {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible() || box == m_handled)
            return;
        m_handled = box;
        captions << box->windowTitle();
        if (onBox)
            onBox(*box);
        QAbstractButton* yes = box->button(QMessageBox::Yes);
        (yes != nullptr ? yes : box->button(QMessageBox::Ok))->click();
    }

    QTimer m_timer;
    QMessageBox* m_handled = nullptr;
};

// The dialog with its port set to the simulator and the console opened through the help menu.
struct Session
{
    // `firmware` packs a newer KCPU image into the firmware folder before the dialog reads it.
    explicit Session(const std::string& scenario, bool firmware = false)
        : server(Serve(scenario))
        , window(link, folder.File("ZEL.ini"), folder.File("Firmware"))
    {
        if (firmware)
            PackFirmware();
        window.Initialize();
        window.show();
        Child<QComboBox>(window, "control1003")->setEditText(QString::fromStdString(server->Path()));
        Child<QAction>(window, "serviceConsoleAction")->trigger();
        console = window.findChild<CServiceConsoleWindow*>();
        if (console == nullptr)
            qFatal("the console did not open");
    }

    ~Session() { window.reject(); }

    void PackFirmware()
    {
        std::filesystem::create_directories(folder.File("Firmware"));
        // The image carries its version text, as firmware does: the device reports it after the update.
        ZELTest::WriteFile(folder.File("image.bin"), "V 01.05.00" + std::string(2038, '\x5A'));
        const std::string pack = std::string("'") + TARN_PROGRAM + "' fw pack --type 3 --version 'V 01.05.00' '"
            + folder.File("image.bin") + "' '" + folder.File("Firmware/kcpu.tarn") + "' </dev/null";
        if (ZELTest::RunProgram(pack).exitCode != 0)
            qFatal("no firmware packed");
    }

    void Choose(const char* request)
    {
        QComboBox* requests = Child<QComboBox>(*console, "requestList");
        const int index = requests->findText(request);
        if (index < 0)
            qFatal("request %s missing", request);
        requests->setCurrentIndex(index);
    }

    QString Lines() { return Child<QPlainTextEdit>(*console, "consoleLines")->toPlainText(); }
    void Send() { QTest::mouseClick(Child<QPushButton>(*console, "sendButton"), Qt::LeftButton); }

    ZELTest::TemporaryDirectory folder;
    ZELTest::ScopedCurrentDirectory current{folder.Path()};
    std::unique_ptr<CSimServer> server;
    CSerialPortLink link;
    CUpdaterWindow window;
    CServiceConsoleWindow* console = nullptr;
};

} // namespace

class CServiceConsoleWindowTest : public QObject
{
    Q_OBJECT

private slots:
    // The helper's set-up reaches the widgets through the adapters; a refused send says why and
    // neither opens the port nor sends.
    void RequestChangeSetsUpControlsAndRefusedSendSaysWhy()
    {
        Session session(kDevice);
        CServiceConsoleWindow& console = *session.console;
        QVERIFY(console.isVisible());
        QVERIFY(!console.isModal());
        QCOMPARE(console.windowTitle(), QString("Service console"));
        QComboBox* requests = Child<QComboBox>(console, "requestList");
        QComboBox* parameters = Child<QComboBox>(console, "parameterList");
        QLabel* parameterLabel = Child<QLabel>(console, "parameterLabel");
        QLabel* valueLabel = Child<QLabel>(console, "valueLabel");
        QLineEdit* value = Child<QLineEdit>(console, "valueEdit");
        QCOMPARE(requests->count(), 21);
        QCOMPARE(requests->currentText(), QString("CCPU_REQ_GET_DEVICE_INFO"));
        QCOMPARE(parameterLabel->text(), QString("Property:"));
        QCOMPARE(parameters->currentText(), QString("From CCPU"));
        QVERIFY(parameters->isEnabled());
        QVERIFY(!value->isEnabled());

        session.Choose("CCPU_REQ_GET_EXPANDERS");
        QCOMPARE(parameterLabel->text(), QString("n/a"));
        QCOMPARE(valueLabel->text(), QString("n/a"));
        QVERIFY(!parameters->isEnabled());
        QVERIFY(!value->isEnabled());

        session.Choose("CCPU_REQ_SET_MCPU_MODE");
        QCOMPARE(valueLabel->text(), QString("Mode:"));
        QVERIFY(value->isEnabled());
        QVERIFY(value->text().isEmpty());
        session.Send();
        QVERIFY(Child<QLabel>(console, "consoleStatus")->text().contains("needs a value"));
        QVERIFY(!session.link.IsReceivingThreadRunning());
        QVERIFY(session.Lines().isEmpty());

        // Enter in the edit sends once, and a send clears the reason of the last refusal.
        QTest::keyClicks(value, "4");
        QTest::keyClick(value, Qt::Key_Return);
        // The port reports its packets in order: once a later request is on the list, a second send
        // of the first would be there too.
        session.Choose("CCPU_REQ_GET_EXPANDERS");
        session.Send();
        QTRY_VERIFY_WITH_TIMEOUT(session.Lines().contains("> CCPU_REQ_GET_EXPANDERS"), kWaitMs);
        QCOMPARE(session.Lines().count("> CCPU_REQ_SET_MCPU_MODE"), qsizetype{1});
        QCOMPARE(Child<QLabel>(console, "consoleStatus")->text(), QString());

        // Opening it again from the menu raises the same window.
        Child<QAction>(session.window, "serviceConsoleAction")->trigger();
        QCOMPARE(session.window.findChildren<CServiceConsoleWindow*>().size(), qsizetype{1});
    }

    // Each request goes out as a line of its own and the device's answers appear as the traffic dump
    // renders them.
    void SentRequestsAndTheirAnswersAppear()
    {
        struct Case
        {
            const char* request;
            const char* answer;
            const char* detail;
        };
        const Case cases[] = {
            { "CCPU_REQ_GET_DEVICE_INFO", "< CCPU_CMD_ID_ACK_GET_DEVICE_INFO", "serial number; QTR2-000123" },
            { "CCPU_REQ_GET_EXPANDERS", "< CCPU_CMD_ID_NOT_EXPANDER", "type; 0x0021; Joystick T001_1; version; V 02.02.01" },
            { "CCPU_REQ_READ_MEMORY", "< CCPU_CMD_ID_ACK_READ_MEMORY", "status; 0; memory; 129; length; 128" },
        };
        Session session(kDevice);
        for (const Case& c : cases) {
            QTest::mouseClick(Child<QPushButton>(*session.console, "clearButton"), Qt::LeftButton);
            QVERIFY(session.Lines().isEmpty());
            session.Choose(c.request);
            session.Send();
            QCOMPARE(Child<QLabel>(*session.console, "consoleStatus")->text(), QString());
            QTRY_VERIFY2_WITH_TIMEOUT(session.Lines().contains(QString("> ") + c.request), c.request, kWaitMs);
            QTRY_VERIFY2_WITH_TIMEOUT(session.Lines().contains(c.answer), qPrintable(session.Lines()), kWaitMs);
            QVERIFY2(session.Lines().contains(c.detail), qPrintable(session.Lines()));
        }
        QVERIFY(session.console->Console().IsPortOpenedHere());
        QVERIFY(session.link.IsReceivingThreadRunning());
    }

    // The console holds the port, in the module framing after a module request; the start takes the
    // port back with the framing the update expects. While the update thread runs the console cannot
    // send but shows the update's traffic; the end of the program closes the console too.
    void UpdateTakesThePortFromTheConsole()
    {
        Session session(kDevice, true);
        const std::uint16_t framing = session.link.GetProtocol();
        session.Choose("MCPU_REQ_GET_DEVICE_INFO");
        session.Send();
        QCOMPARE(Child<QLabel>(*session.console, "consoleStatus")->text(), QString());
        QVERIFY(session.console->Console().IsPortOpenedHere());
        QVERIFY(session.link.GetProtocol() != framing);

        // The console's own packet is shown once the port reports it sent; cleared before that, it
        // would turn up among the update's.
        QTRY_VERIFY_WITH_TIMEOUT(session.Lines().contains("> MCPU_REQ_GET_DEVICE_INFO"), kWaitMs);

        QPushButton* start = Child<QPushButton>(session.window, "control1005");
        QPushButton* send = Child<QPushButton>(*session.console, "sendButton");
        QTRY_VERIFY_WITH_TIMEOUT(start->isEnabled(), kWaitMs);
        QVERIFY(send->isEnabled());
        QTest::mouseClick(Child<QPushButton>(*session.console, "clearButton"), Qt::LeftButton);

        bool checkedDuringThread = false;
        BoxAnswerer answerer;
        answerer.onBox = [&](QMessageBox& box) {
            QVERIFY(!send->isEnabled());
            if (box.button(QMessageBox::Yes) != nullptr)
                return;
            // The report: the update thread waits on this box.
            QVERIFY(session.window.Dialog().IsUpdateThreadRunning());
            QTRY_VERIFY_WITH_TIMEOUT(session.Lines().contains("< CCPU_CMD_ID_ACK_GET_DEVICE_INFO"), kWaitMs);
            // The update's own packets show without a request name: the console sent none.
            QVERIFY(session.Lines().contains("> 42 "));
            QVERIFY(!session.Lines().contains("_REQ_"));
            checkedDuringThread = true;
        };
        QSignalSpy finished(&session.window, &QDialog::finished);
        QTest::mouseClick(start, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kWaitMs);
        QCOMPARE(answerer.captions, QStringList({ "Start Update", "Update succeeded" }));
        QVERIFY(checkedDuringThread);
        QVERIFY(!session.console->isVisible());
        QVERIFY(!session.console->Console().IsPortOpenedHere());
    }
};

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Before any module starts.
    ZELScaleTimesForTests(50);
    QApplication application(argc, argv);
    CServiceConsoleWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "CServiceConsoleWindowTest.moc"
