#pragma once

#include <string>
#include <vector>

// What the update program shows. The Qt window, the command line and the tests each implement it.
// Every call may come from the thread that starts an update, from the update thread or from the
// message queue's thread, so an implementation must be thread-safe.
class IUpdateView
{
public:
    virtual ~IUpdateView() = default;

    virtual void SetStatusText(const std::string& text) = 0;
    // 0 to 100.
    virtual void SetProgress(int percent) = 0;
    // `style` holds the ZEL_MB_* buttons and icon; returns the ZEL_ID* of the button pressed.
    virtual int ShowMessageBox(const std::string& text, const std::string& caption, unsigned int style) = 0;
    // Lets the operator pick one of `choices` (with OK and Cancel) under `text`; the index picked, or
    // -1 when the operator cancels or the front end offers no such choice.
    virtual int ChooseFromList(const std::string& /*text*/, const std::string& /*caption*/,
        const std::vector<std::string>& /*choices*/)
    {
        return -1;
    }
    virtual void SetCOMPortText(const std::string& port) = 0;
    // The port the operator entered; empty when the front end has no such field (the link's port
    // is used then).
    virtual std::string GetCOMPortText() const { return {}; }
    virtual void EnableStartButton(bool enable) = 0;
    virtual void EnablePortField(bool enable) = 0;
    // The program is to end once the current call returns (the update thread's last act).
    virtual void RequestClose() = 0;
};
