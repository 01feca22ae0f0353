#pragma once

#include "zel/commands/IZELStaticText.h"

#include <QLabel>

// The command helper's label over a QLabel.
class CQtStaticText : public IZELStaticText
{
public:
    explicit CQtStaticText(QLabel* label)
        : m_label(label)
    {
    }

    void SetWindowText(const std::string& text) override { m_label->setText(QString::fromStdString(text)); }

private:
    QLabel* m_label;
};
