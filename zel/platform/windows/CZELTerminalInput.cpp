#include "zel/platform/windows/ZELWindows.h"

#include "zel/platform/CZELTerminalInput.h"

#include <io.h>

namespace {

// Whether the console holds a pressed Enter: only then does a read in its line mode return at once.
bool LineTyped(HANDLE input)
{
    INPUT_RECORD records[128];
    DWORD count = 0;
    if (!::PeekConsoleInputA(input, records, 128, &count))
        return true; // not a console after all: the read tells
    for (DWORD i = 0; i < count; ++i) {
        const KEY_EVENT_RECORD& key = records[i].Event.KeyEvent;
        if (records[i].EventType == KEY_EVENT && key.bKeyDown && key.wVirtualKeyCode == VK_RETURN)
            return true;
    }
    return false;
}

} // namespace

struct CZELTerminalInput::Native
{
    HANDLE input = INVALID_HANDLE_VALUE;
    // A counter: each Withdraw adds one, each withdrawn wait takes one.
    HANDLE wake = nullptr;
};

CZELTerminalInput::CZELTerminalInput(int fd)
    : m_native(std::make_unique<Native>())
{
    m_native->input = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
    m_native->wake = ::CreateSemaphoreW(nullptr, 0, 0x7FFFFFFF, nullptr);
}

CZELTerminalInput::~CZELTerminalInput()
{
    if (m_native->wake != nullptr)
        ::CloseHandle(m_native->wake);
}

bool CZELTerminalInput::IsInteractive() const
{
    DWORD mode = 0;
    return m_native->input != INVALID_HANDLE_VALUE && ::GetFileType(m_native->input) == FILE_TYPE_CHAR
        && ::GetConsoleMode(m_native->input, &mode);
}

CZELTerminalInput::Result CZELTerminalInput::ReadLine(std::string& line)
{
    line.clear();
    if (m_native->wake == nullptr || m_native->input == INVALID_HANDLE_VALUE)
        return Result::Ended;
    for (;;) {
        // The console's handle is signalled by any pending input event, long before the Enter that
        // ends the line: while a line is being typed, look again shortly.
        const HANDLE waited[2] = { m_native->wake, m_native->input };
        const DWORD result = ::WaitForMultipleObjects(2, waited, FALSE, INFINITE);
        if (result == WAIT_OBJECT_0)
            return Result::Withdrawn;
        if (result != WAIT_OBJECT_0 + 1)
            return Result::Ended;
        if (!LineTyped(m_native->input)) {
            if (::WaitForSingleObject(m_native->wake, 50) == WAIT_OBJECT_0)
                return Result::Withdrawn;
            continue;
        }
        char buffer[256];
        DWORD got = 0;
        if (!::ReadFile(m_native->input, buffer, sizeof buffer, &got, nullptr) || got == 0)
            return Result::Ended;
        line.append(buffer, got);
        if (TakeLineEnd(line))
            return Result::Line;
    }
}

void CZELTerminalInput::Withdraw()
{
    if (m_native->wake != nullptr)
        ::ReleaseSemaphore(m_native->wake, 1, nullptr);
}

void CZELTerminalInput::Reset()
{
    while (m_native->wake != nullptr && ::WaitForSingleObject(m_native->wake, 0) == WAIT_OBJECT_0) {
    }
}
