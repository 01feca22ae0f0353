#pragma once

#include <string>

// A label of a command dialog.
class IZELStaticText
{
public:
    virtual ~IZELStaticText() = default;
    virtual void SetWindowText(const std::string& text) = 0;
};
