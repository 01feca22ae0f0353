#include "zel/platform/CZELTerminalInput.h"

bool CZELTerminalInput::TakeLineEnd(std::string& line)
{
    if (line.empty() || line.back() != '\n')
        return false;
    line.pop_back();
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return true;
}
