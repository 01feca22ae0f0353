#pragma once

#include <string>
#include <vector>

// The process's arguments, split once on first use and handed out by index.
class CZELCommandLine
{
public:
    CZELCommandLine() = default;
    virtual ~CZELCommandLine() = default;

    long Initialize();
    // Argument 0 is the program's own path. An index outside 0..count-1 gives
    // ZEL_STATUS_INVALID_PARAMETER and leaves `argument` unchanged.
    long GetArgument(int index, std::string& argument);
    int GetArgumentCount();

private:
    bool m_initialized = false;
    std::vector<std::string> m_arguments;
};

CZELCommandLine& GetZELCommandLine();
