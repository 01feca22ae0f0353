#pragma once

#include <QDialog>

// The about box: the program's icon, its name and version (control 1061) and an OK button.
class CAboutDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};
