#pragma once

#include "zel/commands/IZELStaticText.h"

#include <string>

// A label without a window, for command-line front ends and tests.
class CZELPlainStaticText : public IZELStaticText
{
public:
    void SetWindowText(const std::string& text) override { m_text = text; }
    const std::string& GetText() const { return m_text; }

private:
    std::string m_text;
};
