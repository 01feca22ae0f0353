// The dialog as an operator sees it, on the offscreen platform, against the simulator on a pty.
#include "app/core/CSerialPortLink.h"
#include "app/gui/CUpdaterWindow.h"
#include "gui/GuiTestSupport.h"
#include "sim/CSimScenario.h"
#include "sim/CSimServer.h"
#include "support/ZELTestSupport.h"
#include "zel/foundation/CZELLanguage.h"
#include "zel/foundation/CZELTimeTable.h"
#include "zel/foundation/ZELMessageBox.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QAction>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

namespace {

using ZELGuiTest::kWaitMs;
using ZELGuiTest::Serve;

std::string Tarn(const std::string& arguments)
{
    return std::string("'") + TARN_PROGRAM + "' " + arguments + " </dev/null";
}

struct SeenBox
{
    QString caption;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    bool yesNo = false;
    QStringList buttons; // the texts of Yes, No and OK, those the box has
};

// Answers every message box the dialog shows, the question with `answer`, and records it. The box
// runs its own event loop, in which this timer keeps firing.
class BoxAnswerer : public QObject
{
public:
    // A timer does not fire again while its slot runs: a box opened from `onBox` needs an answerer of
    // its own, which leaves the box it was made in (`open`) alone.
    explicit BoxAnswerer(QMessageBox::StandardButton answer = QMessageBox::Yes, QMessageBox* open = nullptr)
        : m_answer(answer)
        , m_handled(open)
    {
        connect(&m_timer, &QTimer::timeout, this, &BoxAnswerer::Check);
        m_timer.start(5);
    }

    // Runs inside the box, before it is answered.
    std::function<void(const SeenBox&)> onBox;
    std::vector<SeenBox> boxes;

private:
    void Check()
    {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible() || box == m_handled)
            return;
        m_handled = box;
        SeenBox seen{box->windowTitle(), box->text(), box->icon(), box->button(QMessageBox::Yes) != nullptr, {}};
        for (QMessageBox::StandardButton button : {QMessageBox::Yes, QMessageBox::No, QMessageBox::Ok})
            if (QAbstractButton* shown = box->button(button))
                seen.buttons << shown->text();
        boxes.push_back(seen);
        if (onBox)
            onBox(seen);
        box->button(seen.yesNo ? m_answer : QMessageBox::Ok)->click();
    }

    QMessageBox::StandardButton m_answer;
    QTimer m_timer;
    QMessageBox* m_handled;
};

// Answers the dialog's list of files to choose from: picks the item that starts with `pick`, or
// cancels when `pick` is empty; records what it offered.
class ChoiceAnswerer : public QObject
{
public:
    explicit ChoiceAnswerer(QString pick)
        : m_pick(std::move(pick))
    {
        connect(&m_timer, &QTimer::timeout, this, &ChoiceAnswerer::Check);
        m_timer.start(5);
    }

    int shown = 0;
    QString caption;
    QString text;
    QStringList items;
    QStringList buttons;

private:
    void Check()
    {
        auto* chooser = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
        if (chooser == nullptr || !chooser->isVisible() || chooser->objectName() != "chooseDialog")
            return;
        ++shown;
        caption = chooser->windowTitle();
        text = chooser->labelText();
        items = chooser->comboBoxItems();
        buttons = QStringList({ chooser->okButtonText(), chooser->cancelButtonText() });
        for (const QString& item : items)
            if (!m_pick.isEmpty() && item.startsWith(m_pick)) {
                chooser->setTextValue(item);
                chooser->accept();
                return;
            }
        chooser->reject();
    }

    QString m_pick;
    QTimer m_timer;
};

} // namespace

class CUpdaterWindowTest : public QObject
{
    Q_OBJECT

private:
    // A program folder with its ZEL.ini and Firmware/, current while the test runs.
    struct Folder
    {
        ZELTest::ScopedLanguage language; // the window takes it from the settings file
        ZELTest::TemporaryDirectory folder;
        ZELTest::ScopedCurrentDirectory current{folder.Path()};
        std::string ini = folder.File("ZEL.ini");
        std::string firmware = folder.File("Firmware");
    };

    template <typename T> static T* Control(QWidget& window, int id)
    {
        T* control = window.findChild<T*>(QString("control%1").arg(id));
        if (control == nullptr)
            qFatal("control %d missing", id);
        return control;
    }

    // An image that names its version, which the simulated processor reports once flashed.
    static std::string Image(const std::string& version) { return version + std::string(2048 - version.size(), '\x5A'); }

    static void Pack(const Folder& folder, int type, const std::string& version, const std::string& name)
    {
        std::filesystem::create_directories(folder.firmware);
        ZELTest::WriteFile(folder.folder.File("image.bin"), Image(version));
        const ZELTest::ProcessResult packed = ZELTest::RunProgram(Tarn("fw pack --type " + std::to_string(type)
            + " --version '" + version + "' '" + folder.folder.File("image.bin") + "' '" + folder.firmware + "/"
            + name + "'"));
        QCOMPARE(packed.exitCode, 0);
    }

    // Sets the port and waits for the status timer to offer the start button.
    static void ReadyToStart(CUpdaterWindow& window, const std::string& port)
    {
        Control<QComboBox>(window, 1003)->setEditText(QString::fromStdString(port));
        QTRY_VERIFY_WITH_TIMEOUT(Control<QPushButton>(window, 1005)->isEnabled(), kWaitMs);
    }

private slots:
    void FirstStartUsesDefaultsAndWritesLanguageAndPort()
    {
        Folder folder;
        CSerialPortLink link;
        {
            CUpdaterWindow window(link, folder.ini, folder.firmware);
            window.Initialize();
            window.show();
            QCOMPARE(window.windowTitle(), QString("Tarn Update"));
            QCOMPARE(Control<QComboBox>(window, 1021)->currentIndex(), 1);
            QCOMPARE(Control<QComboBox>(window, 1021)->itemText(0), QString("Deutsch"));
            QCOMPARE(Control<QComboBox>(window, 1003)->currentText(), QString("COM1"));
            QCOMPARE(link.GetBaudRateAsID(), 7L);
            QCOMPARE(window.Dialog().GetProtocol(), std::uint16_t{0x1800});
            QCOMPARE(Control<QLabel>(window, 1028)->text(), QString("Language:"));
            QCOMPARE(Control<QLabel>(window, 1029)->text(), QString("COM Port:"));
            QCOMPARE(Control<QLabel>(window, 1030)->text(), QString("Status:"));
            QCOMPARE(Control<QLabel>(window, 1031)->text(), QString("Progress:"));
            QCOMPARE(Control<QLabel>(window, 1032)->text(), QString("Ready."));
            QCOMPARE(Control<QProgressBar>(window, 1062)->maximum(), 100);
            QVERIFY(!window.findChild<QPlainTextEdit*>("logPane")->isVisible());
            // Created disabled; the status timer offers it.
            QVERIFY(!Control<QPushButton>(window, 1005)->isEnabled());
            QCOMPARE(Control<QPushButton>(window, 1005)->text(), QString("Start\nUpdate"));
            QTRY_VERIFY_WITH_TIMEOUT(Control<QPushButton>(window, 1005)->isEnabled(), kWaitMs);
            window.reject();
            QVERIFY(!window.isVisible());
        }
        QCOMPARE(QString::fromStdString(ZELTest::ReadFile(folder.ini)),
            QString("[TarnUpdate]\nLanguage=1\nCOMPort=COM1\n"));
    }

    void ModuleProtocolFromSettings()
    {
        Folder folder;
        ZELTest::WriteFile(folder.ini, "[TarnUpdate]\nCOMProtocol=18433\n");
        CSerialPortLink link;
        CUpdaterWindow window(link, folder.ini, folder.firmware);
        window.Initialize();
        QCOMPARE(window.Dialog().GetProtocol(), std::uint16_t{0x4801});
        QCOMPARE(link.GetProtocol(), std::uint16_t{0x4801});
        window.reject();
    }

    void ThirdLanguageShowsQuestionMarks()
    {
        Folder folder;
        ZELTest::WriteFile(folder.ini, "[TarnUpdate]\nLanguage=2\n");
        CSerialPortLink link;
        CUpdaterWindow window(link, folder.ini, folder.firmware);
        window.Initialize();
        QCOMPARE(Control<QComboBox>(window, 1021)->currentIndex(), -1);
        for (int id : { 1028, 1029, 1030, 1031, 1032 })
            QCOMPARE(Control<QLabel>(window, id)->text(), QString("???"));
        QCOMPARE(Control<QPushButton>(window, 1005)->text(), QString("???"));
        window.reject();
        QVERIFY(ZELTest::ReadFile(folder.ini).find("Language=2") != std::string::npos);
    }

    // The boxes' own buttons speak the chosen language; with language 2 Qt's own texts stay, since
    // two "???" answers would hide which is which.
    void MessageBoxButtonsFollowTheLanguage()
    {
        struct Case
        {
            long language;
            unsigned int style;
            QStringList buttons; // empty: Qt's own texts
        };
        const Case cases[] = {
            {ZEL_LANGUAGE_ENGLISH, ZEL_MB_YESNO | ZEL_MB_ICONQUESTION, {"Yes", "No"}},
            {ZEL_LANGUAGE_GERMAN, ZEL_MB_YESNO | ZEL_MB_ICONQUESTION, {"Ja", "Nein"}},
            {ZEL_LANGUAGE_ENGLISH, ZEL_MB_OK | ZEL_MB_ICONINFORMATION, {"OK"}},
            {ZEL_LANGUAGE_GERMAN, ZEL_MB_OK | ZEL_MB_ICONERROR, {"OK"}},
            {ZEL_LANGUAGE_THIRD, ZEL_MB_YESNO | ZEL_MB_ICONQUESTION, {}},
        };
        Folder folder;
        CSerialPortLink link;
        CUpdaterWindow window(link, folder.ini, folder.firmware);
        // A failed comparison returns at once; the language is given back all the same.
        struct RestoreLanguage
        {
            long previous = GetZELLanguage().GetLanguage();
            ~RestoreLanguage() { GetZELLanguage().SetLanguage(previous); }
        } restore;
        for (const Case& c : cases) {
            GetZELLanguage().SetLanguage(c.language);
            BoxAnswerer answerer(QMessageBox::No);
            window.ShowMessageBox("text", "caption", c.style);
            QCOMPARE(answerer.boxes.size(), std::size_t{1});
            const QStringList& shown = answerer.boxes[0].buttons;
            if (c.buttons.isEmpty()) {
                QCOMPARE(shown.size(), 2);
                for (const QString& text : shown)
                    QVERIFY2(!text.isEmpty() && text != "???", qPrintable(text));
            } else {
                QCOMPARE(shown, c.buttons);
            }
        }
    }

    // A pressed emergency stop ends the start in state 11; German re-renders it, and only the six
    // controls change.
    void LanguageSwitchRerendersTheFailedState()
    {
        Folder folder;
        const auto server = Serve(R"({ "device": { "hardware": "QTR-1", "versions": { "CCPU": "V 02.09.30" },
            "preconditions": { "emergencyButton": 1 } } })");
        CSerialPortLink link;
        CUpdaterWindow window(link, folder.ini, folder.firmware);
        window.Initialize();
        window.show();
        ReadyToStart(window, server->Path());

        BoxAnswerer answerer;
        QTest::mouseClick(Control<QPushButton>(window, 1005), Qt::LeftButton);
        QCOMPARE(answerer.boxes.size(), std::size_t{1});
        QCOMPARE(answerer.boxes[0].caption, QString("Update aborted"));
        QCOMPARE(answerer.boxes[0].icon, QMessageBox::Critical);
        QVERIFY(answerer.boxes[0].text.contains("emergency stop is pressed"));
        QCOMPARE(window.Dialog().GetApplicationState(), 11L);
        QCOMPARE(Control<QLabel>(window, 1032)->text(), QString("Update failed"));

        Control<QComboBox>(window, 1021)->setCurrentIndex(0);
        QCOMPARE(Control<QLabel>(window, 1032)->text(), QString("Update fehlgeschlagen"));
        QCOMPARE(Control<QLabel>(window, 1028)->text(), QString("Sprache:"));
        QCOMPARE(Control<QLabel>(window, 1031)->text(), QString("Fortschritt:"));
        QCOMPARE(Control<QPushButton>(window, 1005)->text(), QString("Update\nstarten"));
        QCOMPARE(window.windowTitle(), QString("Tarn Update"));
        QCOMPARE(Control<QComboBox>(window, 1021)->itemText(1), QString("English"));
        window.reject();
        QVERIFY(ZELTest::ReadFile(folder.ini).find("Language=0") != std::string::npos);
    }

    // From the start button through the question and the update thread to its report and the close.
    // The start button stays disabled for the whole thread, across a language switch too.
    void WholeUpdateToItsReportAndClose()
    {
        Folder folder;
        const auto server = Serve(R"({ "device": { "hardware": "QTR-1",
            "versions": { "CCPU": "V 02.09.30", "KCPU": "V 01.04.00", "LCPU": "V 01.02.07" } } })");
        Pack(folder, 3, "V 01.05.00", "kcpu.tarn");
        CSerialPortLink link;
        CUpdaterWindow window(link, folder.ini, folder.firmware);
        window.Initialize();
        window.show();
        window.findChild<QAction*>("logAction")->trigger();
        QVERIFY(window.findChild<QPlainTextEdit*>("logPane")->isVisible());
        ReadyToStart(window, server->Path());
        QPushButton* start = Control<QPushButton>(window, 1005);

        bool checkedDuringThread = false;
        BoxAnswerer answerer(QMessageBox::Yes);
        answerer.onBox = [&](const SeenBox& box) {
            if (box.yesNo)
                return;
            // The report: the update thread is still running and waits on this box.
            QVERIFY(window.Dialog().IsUpdateThreadRunning());
            QVERIFY(!start->isEnabled());
            Control<QComboBox>(window, 1021)->setCurrentIndex(0);
            QVERIFY(!start->isEnabled());
            // Closing now asks first; No leaves the window open, and the report closes it.
            BoxAnswerer closeQuestion(QMessageBox::No, qobject_cast<QMessageBox*>(QApplication::activeModalWidget()));
            window.reject();
            QVERIFY(window.isVisible());
            QCOMPARE(closeQuestion.boxes.size(), std::size_t{1});
            QCOMPARE(closeQuestion.boxes[0].caption, QString("Update abgebrochen"));
            QCOMPARE(closeQuestion.boxes[0].text,
                QString("Das Update läuft noch. Wird es jetzt beendet, kann ein Prozessor des Geräts in seinem "
                        "Bootloader bleiben.\nDas Update nach dem aktuellen Prozessor beenden?"));
            QCOMPARE(closeQuestion.boxes[0].buttons, QStringList({"Ja", "Nein"}));
            QCOMPARE(closeQuestion.boxes[0].icon, QMessageBox::Warning);
            QVERIFY(closeQuestion.boxes[0].yesNo);
            checkedDuringThread = true;
        };
        QSignalSpy finished(&window, &QDialog::finished);
        QTest::mouseClick(start, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kWaitMs);
        QVERIFY(!window.isVisible());
        QVERIFY(checkedDuringThread);

        QCOMPARE(answerer.boxes.size(), std::size_t{2});
        // The log pane shows the system log's lines.
        QTRY_VERIFY_WITH_TIMEOUT(window.findChild<QPlainTextEdit*>("logPane")->toPlainText().contains(
                                     "The update thread has been started."),
            kWaitMs);
        QCOMPARE(answerer.boxes[0].caption, QString("Start Update"));
        QVERIFY(answerer.boxes[0].yesNo);
        QVERIFY(answerer.boxes[0].text.endsWith("\n\nDo you want to install these updates now?"));
        QCOMPARE(window.Dialog().GetApplicationState(), 12L);
        QCOMPARE(answerer.boxes[1].caption, QString("Update succeeded"));
        QCOMPARE(answerer.boxes[1].icon, QMessageBox::Information);
        QCOMPARE(answerer.boxes[1].text, QString("The update has been completed successfully."));
        QCOMPARE(Control<QProgressBar>(window, 1062)->value(), 100);
        QCOMPARE(QString::fromStdString(ZELTest::ReadFile(folder.ini)),
            QString::fromStdString("[TarnUpdate]\nLanguage=0\nCOMPort=" + server->Path() + "\n"));
    }

    // An LCPU left in its bootloader by a run whose journal is gone: the start finds it waiting, and
    // the operator may pick one of the firmware folder's files to flash into it (never the CAN
    // driver's, which no bootloader takes), or cancel and read what to do.
    void AWaitingProcessorIsFlashedWithTheFileTheOperatorChooses_data()
    {
        QTest::addColumn<QString>("pick");
        QTest::newRow("LCPU file") << QString("LCPU");
        QTest::newRow("cancel") << QString();
    }
    void AWaitingProcessorIsFlashedWithTheFileTheOperatorChooses()
    {
        QFETCH(QString, pick);
        Folder folder;
        const auto server = Serve(R"({ "device": { "hardware": "QTR-1",
            "versions": { "CCPU": "V 02.09.30", "KCPU": "V 01.05.00", "LCPU": "V 01.02.07" },
            "bootloader": { "cablePulledAfterWrites": 3, "cableAwayMs": 100 } } })");
        Pack(folder, 4, "V 01.03.00", "lcpu.tarn");
        Pack(folder, 3, "V 01.05.00", "kcpu.tarn");
        Pack(folder, 10, "V 02.04.00", "can.tarn");
        const ZELTest::ProcessResult cut = ZELTest::RunProgram("cd '" + folder.folder.Path().string() + "' && "
            + Tarn("update --yes --port '" + server->Path() + "'"));
        QCOMPARE(cut.exitCode, 1);
        std::filesystem::remove(folder.folder.File("Logs/update-journal.json"));
        server->Inspect([](CSimDevice& device) { QVERIFY(device.BootLoaderOwner().has_value()); });

        CSerialPortLink link;
        CUpdaterWindow window(link, folder.ini, folder.firmware);
        window.Initialize();
        window.show();
        Control<QComboBox>(window, 1021)->setCurrentIndex(1);
        ReadyToStart(window, server->Path());
        ChoiceAnswerer chooser(pick);
        BoxAnswerer answerer(QMessageBox::Yes);
        QTest::mouseClick(Control<QPushButton>(window, 1005), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!answerer.boxes.empty() && !window.Dialog().IsUpdateThreadRunning(), kWaitMs);

        QCOMPARE(chooser.shown, 1);
        QCOMPARE(chooser.caption, QString("Start Update"));
        QVERIFY2(chooser.text.startsWith("A processor is waiting in its bootloader: chip 0x0413, bootloader 3.1.\n"),
            qPrintable(chooser.text));
        QVERIFY(chooser.text.endsWith("Choose the firmware of that processor to flash it now, or cancel."));
        QCOMPARE(chooser.items.size(), 2);
        QVERIFY2(chooser.items[0].startsWith("KCPU  V 01.05.00  "), qPrintable(chooser.items.join('|')));
        QVERIFY2(chooser.items[1].startsWith("LCPU  V 01.03.00  "), qPrintable(chooser.items.join('|')));
        QVERIFY(chooser.items[1].endsWith("lcpu.tarn"));
        QCOMPARE(chooser.buttons, QStringList({ "OK", "Cancel" }));
        QCOMPARE(answerer.boxes.size(), std::size_t{1});
        if (pick.isEmpty()) {
            QCOMPARE(answerer.boxes[0].icon, QMessageBox::Critical);
            QVERIFY2(answerer.boxes[0].text.contains("tarn recover --port " + QString::fromStdString(server->Path())),
                qPrintable(answerer.boxes[0].text));
            server->Inspect([](CSimDevice& device) { QVERIFY(device.BootLoaderOwner().has_value()); });
        } else {
            // The flash ran on the update thread, and the start that followed found nothing left to do.
            QVERIFY2(answerer.boxes[0].text.contains("The newest firmware for the current device is installed already"),
                qPrintable(answerer.boxes[0].text));
            server->Inspect([](CSimDevice& device) {
                QVERIFY(!device.BootLoaderOwner().has_value());
                QCOMPARE(device.Version(CSimDevice::Processor::LCPU), std::string("V 01.03.00"));
                const std::vector<std::uint8_t> flashed = device.BootLoader(CSimDevice::Processor::LCPU).ProgrammedImage();
                QCOMPARE(std::string(flashed.begin(), flashed.end()).substr(0, 2048), Image("V 01.03.00"));
            });
        }
        QCOMPARE(window.Dialog().GetStartOutcome(), pick.isEmpty() ? StartOutcome::Failed : StartOutcome::NothingToUpdate);
        window.reject();
    }
};

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Before any module starts: an 11 s time-out takes 220 ms.
    ZELScaleTimesForTests(50);
    QApplication application(argc, argv);
    CUpdaterWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "CUpdaterWindowTest.moc"
