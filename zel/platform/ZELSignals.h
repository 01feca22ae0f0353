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

// Waits until SIGINT or SIGTERM arrives (blocked beforehand with BlockStopSignals) or, when
// `watchInput` is set, until standard input reaches its end; what arrives on it is discarded.
StopReason WaitForStopRequest(bool watchInput);

// Sends SIGTERM to this process, which wakes a WaitForStopRequest (a program ending its own watcher).
int RaiseStopSignal();

} // namespace ZELPlatform
