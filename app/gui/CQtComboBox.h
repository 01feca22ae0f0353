#pragma once

#include "zel/commands/IZELComboBox.h"

#include <QComboBox>

// The command helper's list control over a QComboBox.
class CQtComboBox : public IZELComboBox
{
public:
    explicit CQtComboBox(QComboBox* box)
        : m_box(box)
    {
    }

    void ResetContent() override { m_box->clear(); }
    int AddString(const std::string& text) override
    {
        m_box->addItem(QString::fromStdString(text));
        return m_box->count() - 1;
    }
    int GetCount() const override { return m_box->count(); }
    int GetCurSel() const override { return m_box->currentIndex(); }
    void SetCurSel(int index) override { m_box->setCurrentIndex(index >= 0 && index < m_box->count() ? index : -1); }
    void EnableWindow(bool enable) override { m_box->setEnabled(enable); }

private:
    QComboBox* m_box;
};
