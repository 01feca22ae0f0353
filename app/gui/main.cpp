#include "app/core/CSerialPortLink.h"
#include "app/gui/CUpdaterWindow.h"
#include "zel/foundation/ZELMessageBox.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName("Tarn Update");
    QApplication::setDesktopFileName("tarn-update");
    QApplication::setWindowIcon(QIcon(":/tarn-update.png"));

    CSerialPortLink link;
    CUpdaterWindow window(link);
    // The library's own boxes appear as the dialog's.
    ZELSetMessageBoxBackend([&window](const std::string& text, const std::string& caption, unsigned int style) {
        return window.ShowMessageBox(text, caption, style);
    });
    window.Initialize();
    window.show();
    const int result = application.exec();
    ZELSetMessageBoxBackend(nullptr);
    return result;
}
