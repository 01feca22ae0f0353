#pragma once

#include "zel/commands/IZELEdit.h"

#include <QLineEdit>

// The command helper's edit field over a QLineEdit.
class CQtEdit : public IZELEdit
{
public:
    explicit CQtEdit(QLineEdit* edit)
        : m_edit(edit)
    {
    }

    std::string GetWindowText() const override { return m_edit->text().toStdString(); }
    void SetWindowText(const std::string& text) override { m_edit->setText(QString::fromStdString(text)); }
    void EnableWindow(bool enable) override { m_edit->setEnabled(enable); }

private:
    QLineEdit* m_edit;
};
