#pragma once

#include <string>

// Where the system log shows its control lines (the user interface's log pane). AppendLine is
// called on the log's output thread with one line without its line end; it must not wait for the
// thread that calls CZELSystemLogEx::Terminate. Whether the pane follows the newest line is the
// log's control auto-scroll setting, which the pane may read.
class IZELLogLineSink
{
public:
    virtual ~IZELLogLineSink() = default;
    virtual void AppendLine(const std::string& line) = 0;
};
