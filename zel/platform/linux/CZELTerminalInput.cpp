#include "zel/platform/CZELTerminalInput.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

struct CZELTerminalInput::Native
{
    int fd = 0;
    // A counter: each Withdraw adds one, each withdrawn wait takes one.
    int wake = -1;
};

CZELTerminalInput::CZELTerminalInput(int fd)
    : m_native(std::make_unique<Native>())
{
    m_native->fd = fd;
    m_native->wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK | EFD_SEMAPHORE);
}

CZELTerminalInput::~CZELTerminalInput()
{
    if (m_native->wake >= 0)
        ::close(m_native->wake);
}

bool CZELTerminalInput::IsInteractive() const
{
    if (::isatty(m_native->fd) != 1)
        return false;
    const pid_t foreground = ::tcgetpgrp(m_native->fd);
    return foreground >= 0 && foreground == ::getpgrp();
}

CZELTerminalInput::Result CZELTerminalInput::ReadLine(std::string& line)
{
    line.clear();
    if (m_native->wake < 0)
        return Result::Ended;
    for (;;) {
        pollfd watched[2] = { { m_native->wake, POLLIN, 0 }, { m_native->fd, POLLIN, 0 } };
        if (::poll(watched, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return Result::Ended;
        }
        if (watched[0].revents & POLLIN) {
            std::uint64_t one = 0;
            (void)!::read(m_native->wake, &one, sizeof one);
            return Result::Withdrawn;
        }
        if (watched[1].revents == 0)
            continue;
        // A terminal in its line mode hands over at most one line per read.
        char buffer[256];
        const ssize_t got = ::read(m_native->fd, buffer, sizeof buffer);
        if (got < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (got <= 0)
            return Result::Ended;
        line.append(buffer, static_cast<std::size_t>(got));
        if (TakeLineEnd(line))
            return Result::Line;
    }
}

void CZELTerminalInput::Withdraw()
{
    const std::uint64_t one = 1;
    if (m_native->wake >= 0)
        (void)!::write(m_native->wake, &one, sizeof one);
}

void CZELTerminalInput::Reset()
{
    std::uint64_t one = 0;
    while (m_native->wake >= 0 && ::read(m_native->wake, &one, sizeof one) > 0) {
    }
}
