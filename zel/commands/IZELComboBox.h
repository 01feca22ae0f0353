#pragma once

#include <string>

// The list control a command dialog offers its choices in. Indexes count from 0; -1 is no selection.
class IZELComboBox
{
public:
    virtual ~IZELComboBox() = default;
    virtual void ResetContent() = 0;
    // Appends an entry and returns its index.
    virtual int AddString(const std::string& text) = 0;
    virtual int GetCount() const = 0;
    virtual int GetCurSel() const = 0;
    // An index outside the list clears the selection.
    virtual void SetCurSel(int index) = 0;
    virtual void EnableWindow(bool enable) = 0;
};
