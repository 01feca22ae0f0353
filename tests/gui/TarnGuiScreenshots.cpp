// Renders the dialog into PNG files for the documentation: English and German, idle and while an
// update is being prepared (the operator's question is open), and the service console, against the
// simulator.
#include "app/core/CSerialPortLink.h"
#include "app/gui/CServiceConsoleWindow.h"
#include "app/gui/CUpdaterWindow.h"
#include "sim/CSimScenario.h"
#include "sim/CSimServer.h"
#include "support/ZELTestSupport.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>

namespace {

const char* const kDevice = R"({ "device": { "hardware": "QTR-1",
    "versions": { "CCPU": "V 02.09.30", "KCPU": "V 01.04.00", "LCPU": "V 01.02.07" } } })";

const char* const kConsoleDevice = R"({ "device": { "hardware": "QTR-2", "serialNumber": "QTR2-000123",
    "versions": { "CCPU": "V 02.09.30", "KCPU": "V 01.04.00", "LCPU": "V 01.02.07" },
    "expanders": [ { "type": 16, "version": "V 02.03.00" }, { "type": "0x21", "version": "V 02.02.01" } ] } })";

bool Save(QWidget& window, const std::string& path)
{
    const bool saved = window.grab().save(QString::fromStdString(path));
    std::printf("%s %s\n", saved ? "wrote" : "could not write", path.c_str());
    return saved;
}

// Runs the event loop until `done` holds (checked every few milliseconds) or 20 s have passed.
bool RunUntil(const std::function<bool()>& done)
{
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (done())
            loop.quit();
    });
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    poll.start(10);
    loop.exec();
    return done();
}

bool Render(const std::string& folder, int language, const std::string& suffix, const std::string& port)
{
    ZELTest::TemporaryDirectory work;
    ZELTest::ScopedCurrentDirectory current(work.Path());
    std::filesystem::create_directories(work.Path() / "Firmware");
    ZELTest::WriteFile(work.File("image.bin"), "V 01.05.00" + std::string(2038, '\x5A'));
    const std::string pack = std::string("'") + TARN_PROGRAM + "' fw pack --type 3 --version 'V 01.05.00' '"
        + work.File("image.bin") + "' '" + work.File("Firmware/kcpu.tarn") + "' </dev/null";
    if (ZELTest::RunProgram(pack).exitCode != 0)
        return false;

    CSerialPortLink link;
    CUpdaterWindow window(link, work.File("ZEL.ini"), work.File("Firmware"));
    window.Initialize();
    window.findChild<QComboBox*>("control1021")->setCurrentIndex(language);
    window.findChild<QComboBox*>("control1003")->setEditText(QString::fromStdString(port));
    window.show();
    auto* start = window.findChild<QPushButton*>("control1005");
    bool ok = RunUntil([start] { return start->isEnabled(); }) && Save(window, folder + "/dialog-idle-" + suffix + ".png");

    // The question box runs its own loop: the picture is taken from inside it, then the answer is No.
    bool asked = false;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || asked)
            return;
        asked = true;
        ok = Save(window, folder + "/dialog-update-" + suffix + ".png") && ok;
        Save(*box, folder + "/question-" + suffix + ".png");
        box->button(QMessageBox::No)->click();
    });
    answer.start(10);
    start->click();
    window.reject();
    return ok && asked;
}

// The service console after a device information and an expander request.
bool RenderConsole(const std::string& folder)
{
    CSimScenario scenario;
    std::string error;
    if (!CSimScenario::Parse(kConsoleDevice, scenario, error))
        return false;
    CSimServer server(std::move(scenario));
    if (server.Start() != 0)
        return false;
    ZELTest::TemporaryDirectory work;
    ZELTest::ScopedCurrentDirectory current(work.Path());
    CSerialPortLink link;
    CUpdaterWindow window(link, work.File("ZEL.ini"), work.File("Firmware"));
    window.Initialize();
    window.findChild<QComboBox*>("control1021")->setCurrentIndex(1);
    window.findChild<QComboBox*>("control1003")->setEditText(QString::fromStdString(server.Path()));
    window.show();
    window.findChild<QAction*>("serviceConsoleAction")->trigger();
    auto* console = window.findChild<CServiceConsoleWindow*>();
    if (console == nullptr)
        return false;
    console->resize(1000, 360);
    auto* requests = console->findChild<QComboBox*>("requestList");
    auto* lines = console->findChild<QPlainTextEdit*>("consoleLines");
    bool ok = true;
    for (const auto& [request, answer] : { std::pair{ "CCPU_REQ_GET_DEVICE_INFO", "ACK_GET_DEVICE_INFO" },
             std::pair{ "CCPU_REQ_GET_EXPANDERS", "NOT_EXPANDER" } }) {
        requests->setCurrentIndex(requests->findText(request));
        console->findChild<QPushButton*>("sendButton")->click();
        ok = RunUntil([lines, answer] { return lines->toPlainText().contains(answer); }) && ok;
    }
    ok = ok && Save(*console, folder + "/service-console.png");
    window.reject();
    return ok;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const std::string folder = std::filesystem::absolute(argv[1]).string();
    std::filesystem::create_directories(folder);
    CSimScenario scenario;
    std::string error;
    if (!CSimScenario::Parse(kDevice, scenario, error))
        return 1;
    CSimServer server(std::move(scenario));
    if (server.Start() != 0)
        return 1;
    const bool english = Render(folder, 1, "en", server.Path());
    const bool german = Render(folder, 0, "de", server.Path());
    const bool console = RenderConsole(folder);
    return english && german && console ? 0 : 1;
}
