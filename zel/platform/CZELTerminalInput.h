#pragma once

#include <memory>
#include <string>

// Answers typed on a terminal, read so that another thread can withdraw the question: a program
// whose question no longer matters (the work it asked about has ended, Ctrl-C answered it) is not
// left blocking in a read until someone presses Enter.
class CZELTerminalInput
{
public:
    enum class Result
    {
        Line,      // a whole line arrived
        Withdrawn, // Withdraw ended the wait
        Ended,     // the input reached its end (Ctrl-D) or cannot be read
    };

    // Reads the file descriptor `fd`: standard input unless a test gives another.
    explicit CZELTerminalInput(int fd = 0);
    ~CZELTerminalInput();
    CZELTerminalInput(const CZELTerminalInput&) = delete;
    CZELTerminalInput& operator=(const CZELTerminalInput&) = delete;

    // True when the input is a terminal that this process may read now: that of the foreground job
    // (reading the terminal from the background would stop the process).
    bool IsInteractive() const;
    // Waits for one line and gives it without its line end. Each Withdraw ends one wait: the one
    // under way, or else the next.
    Result ReadLine(std::string& line);
    // Any thread.
    void Withdraw();
    // Forgets the withdrawals no wait has taken: one that crossed a line just read must not end the
    // next question at once.
    void Reset();

private:
    // Takes the line end off `line` when it has one: true when the line is whole.
    static bool TakeLineEnd(std::string& line);

    struct Native;
    std::unique_ptr<Native> m_native;
};
