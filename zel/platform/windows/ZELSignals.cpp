#include "zel/platform/windows/ZELWindows.h"

#include "zel/platform/ZELSignals.h"
#include "zel/platform/windows/ZELSystemError.h"

#include <io.h>

#include <thread>

namespace ZELPlatform {

namespace {

// Each Ctrl-C, Ctrl-Break or close of the console (and each RaiseStopSignal) counts one stop
// request; WaitForStopRequest takes one at a time, as a blocked signal is taken on Linux. Ctrl-C
// is counted apart from the others, as SIGINT is told from SIGTERM.
HANDLE StopRequests(StopSignal kind)
{
    static const HANDLE interrupts = ::CreateSemaphoreW(nullptr, 0, 0x7FFFFFFF, nullptr);
    static const HANDLE terminations = ::CreateSemaphoreW(nullptr, 0, 0x7FFFFFFF, nullptr);
    return kind == StopSignal::Interrupt ? interrupts : terminations;
}

BOOL WINAPI OnConsoleControl(DWORD type)
{
    switch (type) {
    case CTRL_C_EVENT:
        ::ReleaseSemaphore(StopRequests(StopSignal::Interrupt), 1, nullptr);
        return TRUE; // handled: the process is not ended at once
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
        ::ReleaseSemaphore(StopRequests(StopSignal::Terminate), 1, nullptr);
        return TRUE;
    default:
        return FALSE;
    }
}

HANDLE StandardInput()
{
    return ::GetStdHandle(STD_INPUT_HANDLE);
}

} // namespace

int BlockStopSignals()
{
    if (StopRequests(StopSignal::Interrupt) == nullptr || StopRequests(StopSignal::Terminate) == nullptr)
        return SetErrnoFromLastError();
    return ::SetConsoleCtrlHandler(&OnConsoleControl, TRUE) ? 0 : SetErrnoFromLastError();
}

bool InputCanEnd(int fd)
{
    if (fd != kStandardInput)
        return false;
    const HANDLE input = StandardInput();
    if (input == nullptr || input == INVALID_HANDLE_VALUE)
        return false;
    // A pipe or a file ends; a console ends with Ctrl-Z only when read as text, which is not done here.
    const DWORD type = ::GetFileType(input);
    return type == FILE_TYPE_PIPE || type == FILE_TYPE_DISK;
}

StopReason WaitForStopRequest(bool watchInput, StopSignal* which)
{
    const HANDLE interrupts = StopRequests(StopSignal::Interrupt);
    const HANDLE terminations = StopRequests(StopSignal::Terminate);
    if (interrupts == nullptr || terminations == nullptr)
        return StopReason::Failed;
    HANDLE inputEnded = nullptr;
    std::thread reader;
    if (watchInput && InputCanEnd(kStandardInput)) {
        inputEnded = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        // A blocking read of a pipe cannot be waited on with the semaphore: a thread reads it, and
        // is left behind (detached) when a stop request comes first.
        reader = std::thread([inputEnded] {
            char discard[256];
            DWORD got = 0;
            while (::ReadFile(StandardInput(), discard, sizeof discard, &got, nullptr) && got > 0) {
            }
            ::SetEvent(inputEnded);
        });
    }
    const HANDLE waited[3] = {interrupts, terminations, inputEnded};
    const DWORD count = inputEnded != nullptr ? 3 : 2;
    const DWORD result = ::WaitForMultipleObjects(count, waited, FALSE, INFINITE);
    if (reader.joinable()) {
        if (result == WAIT_OBJECT_0 + 2)
            reader.join();
        else
            reader.detach();
    }
    if (inputEnded != nullptr && result == WAIT_OBJECT_0 + 2)
        ::CloseHandle(inputEnded);
    if (result == WAIT_OBJECT_0 || result == WAIT_OBJECT_0 + 1) {
        if (which != nullptr)
            *which = result == WAIT_OBJECT_0 ? StopSignal::Interrupt : StopSignal::Terminate;
        return StopReason::Signal;
    }
    if (result == WAIT_OBJECT_0 + 2)
        return StopReason::InputClosed;
    return StopReason::Failed;
}

int RaiseStopSignal()
{
    return ::ReleaseSemaphore(StopRequests(StopSignal::Terminate), 1, nullptr) ? 0 : SetErrnoFromLastError();
}

} // namespace ZELPlatform
