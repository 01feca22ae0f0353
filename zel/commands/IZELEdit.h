#pragma once

#include <string>

// The one-line edit field of a command dialog.
class IZELEdit
{
public:
    virtual ~IZELEdit() = default;
    virtual std::string GetWindowText() const = 0;
    virtual void SetWindowText(const std::string& text) = 0;
    virtual void EnableWindow(bool enable) = 0;
};
