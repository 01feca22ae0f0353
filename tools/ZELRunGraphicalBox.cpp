#include "tools/ZELRunGraphicalBox.h"

#include "zel/foundation/ZELMessageBox.h"

#include <QApplication>
#include <QMessageBox>

#include <memory>

QMessageBox::Icon ZELQtMessageBoxIcon(unsigned int style)
{
    switch (style & 0xF0) {
    case ZEL_MB_ICONERROR: return QMessageBox::Critical;
    case ZEL_MB_ICONQUESTION: return QMessageBox::Question;
    case ZEL_MB_ICONWARNING: return QMessageBox::Warning;
    case ZEL_MB_ICONINFORMATION: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
    }
}

namespace {

QMessageBox::StandardButtons ButtonsOf(unsigned int style)
{
    switch (style & 0x0F) {
    case ZEL_MB_OKCANCEL: return QMessageBox::Ok | QMessageBox::Cancel;
    case ZEL_MB_YESNO: return QMessageBox::Yes | QMessageBox::No;
    default: return QMessageBox::Ok;
    }
}

} // namespace

int ZELRunShowGraphicalBox(const std::string& text, const std::string& caption, unsigned int style)
{
    static int argc = 1;
    static char name[] = "zel-run";
    static char* argv[] = {name, nullptr};
    std::unique_ptr<QApplication> application;
    if (QApplication::instance() == nullptr)
        application = std::make_unique<QApplication>(argc, argv);

    // The texts come with the CR LF line ends of the crash handling's boxes.
    QString shown = QString::fromUtf8(text.c_str());
    shown.replace("\r\n", "\n");
    QMessageBox box(ZELQtMessageBoxIcon(style), QString::fromUtf8(caption.c_str()), shown, ButtonsOf(style));
    box.setObjectName("zelRunBox");
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    switch (box.exec()) {
    case QMessageBox::Cancel: return ZEL_IDCANCEL;
    case QMessageBox::Yes: return ZEL_IDYES;
    case QMessageBox::No: return ZEL_IDNO;
    default: return ZEL_IDOK;
    }
}
