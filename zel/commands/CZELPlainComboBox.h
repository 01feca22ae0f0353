#pragma once

#include "zel/commands/IZELComboBox.h"

#include <string>
#include <vector>

// A list control without a window, for command-line front ends and tests.
class CZELPlainComboBox : public IZELComboBox
{
public:
    void ResetContent() override
    {
        m_entries.clear();
        m_selected = -1;
    }
    int AddString(const std::string& text) override
    {
        m_entries.push_back(text);
        return GetCount() - 1;
    }
    int GetCount() const override { return static_cast<int>(m_entries.size()); }
    int GetCurSel() const override { return m_selected; }
    void SetCurSel(int index) override { m_selected = index >= 0 && index < GetCount() ? index : -1; }
    void EnableWindow(bool enable) override { m_enabled = enable; }

    bool IsEnabled() const { return m_enabled; }
    const std::vector<std::string>& Entries() const { return m_entries; }

private:
    std::vector<std::string> m_entries;
    int m_selected = -1;
    bool m_enabled = true;
};
