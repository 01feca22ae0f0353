#include "zel/platform/ZELSignals.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace ZELPlatform {

namespace {

sigset_t StopSignals()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    return signals;
}

} // namespace

int BlockStopSignals()
{
    const sigset_t signals = StopSignals();
    return ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

bool InputCanEnd(int fd)
{
    struct stat status {};
    if (::fstat(fd, &status) != 0)
        return false;
    if (S_ISFIFO(status.st_mode) || S_ISREG(status.st_mode) || S_ISSOCK(status.st_mode))
        return true;
    if (::isatty(fd) == 0)
        return false;
    const pid_t foreground = ::tcgetpgrp(fd);
    return foreground >= 0 && foreground == ::getpgrp();
}

StopReason WaitForStopRequest(bool watchInput, StopSignal* which)
{
    const sigset_t signals = StopSignals();
    const int signalFd = ::signalfd(-1, &signals, SFD_CLOEXEC);
    if (signalFd < 0)
        return StopReason::Failed;
    pollfd watched[2] = {{signalFd, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    StopReason reason = StopReason::Failed;
    watchInput = watchInput && InputCanEnd(STDIN_FILENO);
    for (;;) {
        const int ready = ::poll(watched, watchInput ? 2 : 1, -1);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (watched[0].revents & POLLIN) {
            signalfd_siginfo info{};
            (void)!::read(signalFd, &info, sizeof info);
            if (which != nullptr)
                *which = info.ssi_signo == SIGINT ? StopSignal::Interrupt : StopSignal::Terminate;
            reason = StopReason::Signal;
            break;
        }
        if (watchInput && watched[1].revents && !InputCanEnd(STDIN_FILENO)) {
            watchInput = false; // sent to the background since: reading would stop the process
            continue;
        }
        if (watchInput && watched[1].revents) {
            char discard[256];
            const ssize_t got = ::read(STDIN_FILENO, discard, sizeof discard);
            if (got > 0)
                continue;
            if (got < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            reason = StopReason::InputClosed; // end of input, or an input that can no longer be read
            break;
        }
    }
    ::close(signalFd);
    return reason;
}

int RaiseStopSignal()
{
    return ::kill(::getpid(), SIGTERM) == 0 ? 0 : errno;
}

} // namespace ZELPlatform
