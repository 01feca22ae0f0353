#pragma once

#include "zel/commands/IZELEdit.h"

#include <string>

// An edit field without a window, for command-line front ends and tests.
class CZELPlainEdit : public IZELEdit
{
public:
    std::string GetWindowText() const override { return m_text; }
    void SetWindowText(const std::string& text) override { m_text = text; }
    void EnableWindow(bool enable) override { m_enabled = enable; }
    bool IsEnabled() const { return m_enabled; }

private:
    std::string m_text;
    bool m_enabled = true;
};
