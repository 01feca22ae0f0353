#pragma once

namespace ZELPlatform {

// Blocks SIGINT and SIGTERM in the calling thread and in every thread it starts afterwards, so that
// WaitForStopRequest receives them instead of their default action ending the process at once.
// Call it before starting threads. Returns 0 or the errno.
int BlockStopSignals();

enum class StopReason
{
    Signal,      // SIGINT or SIGTERM arrived
    InputClosed, // standard input reached its end
    Failed,      // the wait itself failed
};

// True when reading `fd` can tell that whoever started the program is done with it: a pipe, a file,
// a socket, or the terminal of the foreground job. A background job's terminal is not read (the
// terminal would stop the process), nor a device such as /dev/null, which no one ever closes.
inline constexpr int kStandardInput = 0; // its file descriptor
bool InputCanEnd(int fd = kStandardInput);

// Which stop request came: a person at the keyboard, or anything else (a script, `timeout`, a service
// manager, the console being closed, RaiseStopSignal).
enum class StopSignal
{
    Interrupt, // SIGINT, Ctrl-C
    Terminate, // SIGTERM, Ctrl-Break, the console closed
};

// Waits until SIGINT or SIGTERM arrives (blocked beforehand with BlockStopSignals) or, when
// `watchInput` is set and InputCanEnd holds for standard input, until standard input reaches its
// end; what arrives on it is discarded. Input is no longer read once the job went to the background.
// For a signal, `which` (when given) receives its kind.
StopReason WaitForStopRequest(bool watchInput, StopSignal* which = nullptr);

// Sends SIGTERM to this process, which wakes a WaitForStopRequest (a program ending its own watcher).
int RaiseStopSignal();

} // namespace ZELPlatform
