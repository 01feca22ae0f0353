#include "app/gui/CAboutDlg.h"

#include "app/core/CUpdaterApp.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>

CAboutDlg::CAboutDlg(QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle("About Tarn Update");
    setObjectName("aboutDialog");
    auto* icon = new QLabel(this);
    icon->setPixmap(windowIcon().pixmap(32, 32));
    auto* name = new QLabel(QString::fromStdString(CUpdaterApp::GetAboutText()), this);
    name->setObjectName("control1061");
    auto* note = new QLabel("Serial firmware updater", this);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* layout = new QGridLayout(this);
    layout->addWidget(icon, 0, 0, 2, 1, Qt::AlignTop);
    layout->addWidget(name, 0, 1);
    layout->addWidget(note, 1, 1);
    layout->addWidget(buttons, 0, 2, 2, 1, Qt::AlignTop);
}
