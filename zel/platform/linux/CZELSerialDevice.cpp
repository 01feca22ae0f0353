#include "zel/platform/CZELSerialDevice.h"

#include "zel/platform/linux/CZELLowLatencyHold.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <grp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

namespace {

struct BaudRate
{
    unsigned int baud;
    speed_t speed;
};

constexpr BaudRate kBaudRates[] = {
    {1200, B1200}, {2400, B2400}, {4800, B4800}, {9600, B9600}, {19200, B19200}, {38400, B38400},
    {57600, B57600}, {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
};

bool IsDeviceGone(int error)
{
    return error == EIO || error == ENXIO || error == ENODEV || error == EBADF;
}

// Whether an open file holds a flock on the node at `path`, as /proc/locks lists it
// ("1: FLOCK  ADVISORY  WRITE 1234 00:05:567 0 EOF": the node's device in hex, then its inode).
bool LockedByAnOpener(const std::string& path)
{
    struct stat node{};
    if (::stat(path.c_str(), &node) != 0)
        return false;
    std::ifstream locks("/proc/locks");
    std::string line;
    while (std::getline(locks, line)) {
        std::istringstream fields(line);
        std::string number, kind, mode, access, pid, where;
        if (!(fields >> number >> kind >> mode >> access >> pid >> where) || kind != "FLOCK")
            continue; // "->" marks a waiter, not a holder
        unsigned int deviceMajor = 0, deviceMinor = 0;
        unsigned long long inode = 0;
        if (std::sscanf(where.c_str(), "%x:%x:%llu", &deviceMajor, &deviceMinor, &inode) == 3
            && deviceMajor == major(node.st_dev) && deviceMinor == minor(node.st_dev) && inode == node.st_ino)
            return true;
    }
    return false;
}

// The flag word of an open serial port through TIOCGSERIAL/TIOCSSERIAL, the rest of its record kept.
class SerialFlags : public CZELLowLatencyHold::Access
{
public:
    explicit SerialFlags(int fd)
        : m_fd(fd)
    {
    }
    int Get(int& flags) override
    {
        if (::ioctl(m_fd, TIOCGSERIAL, &m_record) != 0)
            return errno;
        flags = m_record.flags;
        return 0;
    }
    int Set(int flags) override
    {
        m_record.flags = flags;
        return ::ioctl(m_fd, TIOCSSERIAL, &m_record) != 0 ? errno : 0;
    }

private:
    int m_fd;
    serial_struct m_record{};
};

} // namespace

struct CZELSerialDevice::Native
{
    int fd = -1;
    int wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    int interruptFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    int peerFd = -1; // kept open by the pseudo-terminal side so the peer may close and reopen
    bool hangUp = false;
    CZELLowLatencyHold lowLatency;
};

CZELSerialDevice::CZELSerialDevice()
    : m_native(std::make_unique<Native>())
{
}

CZELSerialDevice::~CZELSerialDevice()
{
    Close();
    for (const int fd : {m_native->wakeFd, m_native->interruptFd})
        if (fd >= 0)
            ::close(fd);
}

bool CZELSerialDevice::IsOpen() const
{
    return m_native->fd >= 0;
}

std::string CZELSerialDevice::ResolvePortName(const std::string& name)
{
    if (name.find('/') != std::string::npos)
        return name;
    if (name.size() > 3 && (name.compare(0, 3, "COM") == 0 || name.compare(0, 3, "com") == 0)
        && std::all_of(name.begin() + 3, name.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        const long number = std::strtol(name.c_str() + 3, nullptr, 10);
        if (number >= 1 && number <= 256)
            return "/dev/ttyS" + std::to_string(number - 1);
    }
    return "/dev/" + name;
}

std::string CZELSerialDevice::DescribeOpenError(const std::string& path, int error)
{
    std::string text = path + ": " + std::strerror(error) + ".";
    if (error == EACCES || error == EPERM) {
        struct stat status{};
        std::string owner;
        if (::stat(path.c_str(), &status) == 0) {
            std::vector<char> buffer(16384);
            ::group entry{};
            ::group* found = nullptr;
            if (::getgrgid_r(status.st_gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr)
                owner = found->gr_name;
            else
                owner = std::to_string(status.st_gid);
        }
        text += owner.empty() ? " The user must be a member of the group that owns the device (e.g. dialout)."
                              : " The user must be a member of the group \"" + owner + "\" that owns the device.";
    } else if (error == EBUSY) {
        text += " The port is in use by another program or by another part of this one; close it there first.";
    } else if (error == ENOENT) {
        text += " No such port: is the adapter plugged in?";
    }
    return text;
}

bool CZELSerialDevice::IsSupportedBaudRate(unsigned int baud)
{
    return std::any_of(std::begin(kBaudRates), std::end(kBaudRates), [baud](const BaudRate& r) { return r.baud == baud; });
}

unsigned int CZELSerialDevice::LineBaudRate() const
{
    termios settings {};
    if (m_native->fd < 0 || ::tcgetattr(m_native->fd, &settings) != 0)
        return 0;
    const speed_t speed = ::cfgetospeed(&settings);
    const auto found = std::find_if(std::begin(kBaudRates), std::end(kBaudRates), [speed](const BaudRate& r) { return r.speed == speed; });
    return found == std::end(kBaudRates) ? 0 : found->baud;
}

namespace {

// True when `applied` carries every setting of `wanted` that is not about parity.
bool TakenExceptParity(const termios& wanted, const termios& applied)
{
    constexpr tcflag_t kLine = CSIZE | CSTOPB | CREAD | CLOCAL | CRTSCTS;
    constexpr tcflag_t kLocal = ICANON | ECHO | ISIG | IEXTEN;
    return ::cfgetospeed(&applied) == ::cfgetospeed(&wanted) && ::cfgetispeed(&applied) == ::cfgetispeed(&wanted)
        && (applied.c_cflag & kLine) == (wanted.c_cflag & kLine) && (applied.c_lflag & kLocal) == (wanted.c_lflag & kLocal);
}

} // namespace

int CZELSerialDevice::Open(const std::string& path, unsigned int baud, Parity parity)
{
    Close();
    const auto rate = std::find_if(std::begin(kBaudRates), std::end(kBaudRates),
        [baud](const BaudRate& r) { return r.baud == baud; });
    m_openStep = OpenStep::Open;
    if (rate == std::end(kBaudRates))
        return m_lastSystemError = m_lastError = EINVAL;

    // The kernel raises DTR and RTS at every open of a tty (unless its rate is 0), also on a line
    // another program holds, and a second opener that then finds the lock leaves them raised there:
    // a port whose lock is taken is not opened at all.
    m_openStep = OpenStep::Lock;
    if (LockedByAnOpener(path))
        return m_lastSystemError = m_lastError = EBUSY;
    m_openStep = OpenStep::Open;
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return m_lastSystemError = m_lastError = errno;
    SerialFlags flags(fd);
    const auto fail = [&](int error) {
        m_native->lowLatency.Release(flags);
        ::ioctl(fd, TIOCNXCL);
        ::close(fd);
        return m_lastSystemError = m_lastError = error;
    };
    if (!::isatty(fd))
        return fail(ENOTTY);
    m_openStep = OpenStep::Lock;
    // TIOCEXCL keeps out later opens by non-root programs; the lock keeps out programs (root
    // included) that take it too, as every well-behaved serial tool does.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        return fail(errno == EWOULDBLOCK ? EBUSY : errno);
    // DTR and RTS off at once: the device family reads them as reset and boot lines, and the pulse
    // the open gave them lasts until here. A pseudo-terminal has no modem lines and refuses the
    // request, which is harmless; a real failure is found by the second request below.
    int lines = TIOCM_DTR | TIOCM_RTS;
    ::ioctl(fd, TIOCMBIC, &lines);
    if (::ioctl(fd, TIOCEXCL) != 0 && errno != ENOTTY && errno != EINVAL)
        return fail(errno);

    // A refusal costs nothing but speed: the line works all the same.
    struct stat node{};
    if (::fstat(fd, &node) == 0 && CZELLowLatencyHold::HasLatencyTimer("/sys", major(node.st_rdev), minor(node.st_rdev)))
        m_native->lowLatency.Take(flags);

    termios settings{};
    m_openStep = OpenStep::ReadSettings;
    if (::tcgetattr(fd, &settings) != 0)
        return fail(errno);
    m_openStep = OpenStep::WriteSettings;
    ::cfmakeraw(&settings);
    settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS | HUPCL);
    settings.c_cflag |= CS8 | CLOCAL | CREAD;
    if (parity == Parity::Even) {
        settings.c_cflag |= PARENB;
        settings.c_iflag |= INPCK;
    }
    settings.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    if (::cfsetispeed(&settings, rate->speed) != 0 || ::cfsetospeed(&settings, rate->speed) != 0)
        return fail(errno);
    if (::tcsetattr(fd, TCSANOW, &settings) != 0) {
        // A pseudo-terminal has no parity and drops PARENB; the C library may then report EINVAL
        // although every setting that a pseudo-terminal has was taken. That line is usable.
        const int error = errno;
        termios applied{};
        if (error != EINVAL || ::tcgetattr(fd, &applied) != 0 || !TakenExceptParity(settings, applied))
            return fail(error);
    }

    // Again: a line left at rate 0 by another program got no pulse at the open, but the drivers
    // raise DTR and RTS when the rate goes from 0 to another.
    if (::ioctl(fd, TIOCMBIC, &lines) != 0 && errno != ENOTTY && errno != EINVAL && errno != ENOTSUP)
        return fail(errno);

    ::tcflush(fd, TCIOFLUSH);
    m_native->fd = fd;
    m_path = path;
    m_lastSystemError = m_lastError = 0;
    m_openStep = OpenStep::None;
    return 0;
}

int CZELSerialDevice::OpenPseudoTerminal(std::string& peerPath)
{
    Close();
    const int fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return m_lastSystemError = m_lastError = errno;
    char name[128] = {};
    if (::grantpt(fd) != 0 || ::unlockpt(fd) != 0 || ::ptsname_r(fd, name, sizeof name) != 0) {
        const int error = errno;
        ::close(fd);
        return m_lastSystemError = m_lastError = error;
    }
    // The line discipline sits on the peer side: make it raw before anyone opens it, or bytes
    // written here would be echoed back and CR/LF translated.
    const int peer = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (peer < 0) {
        const int error = errno;
        ::close(fd);
        return m_lastSystemError = m_lastError = error;
    }
    termios settings{};
    ::tcgetattr(peer, &settings);
    ::cfmakeraw(&settings);
    ::tcsetattr(peer, TCSANOW, &settings);
    m_native->peerFd = peer;
    m_native->fd = fd;
    m_path = "pty-master";
    peerPath = name;
    m_lastSystemError = m_lastError = 0;
    return 0;
}

void CZELSerialDevice::Close()
{
    if (m_native->peerFd >= 0)
        ::close(m_native->peerFd);
    m_native->peerFd = -1;
    if (m_native->fd >= 0) {
        // The adapter's latency as its owner had it; refused when it is gone, and a new one
        // starts with its own.
        SerialFlags flags(m_native->fd);
        m_native->lowLatency.Release(flags);
        // The exclusive flag belongs to the terminal, not to this descriptor: left set, it would
        // outlive the close (a pseudo-terminal lives on) and refuse every later non-root open.
        ::ioctl(m_native->fd, TIOCNXCL);
        ::flock(m_native->fd, LOCK_UN);
        ::close(m_native->fd);
    }
    m_native->fd = -1;
}

namespace {

CZELSerialDevice::IoResult WaitFor(CZELSerialDevice::Native& native, short events, const CZELDeadline& deadline,
    bool wakeable, int& lastError)
{
    for (;;) {
        // A wait that Wake() may not end leaves its count for the next wait that it may.
        pollfd fds[3] = {{native.fd, events, 0}, {native.interruptFd, POLLIN, 0}, {native.wakeFd, POLLIN, 0}};
        const auto remaining = deadline.Remaining();
        const int timeout = deadline.IsNever() ? -1 : static_cast<int>(std::min<long long>(remaining.count(), INT_MAX));
        const int ready = ::poll(fds, wakeable ? 3 : 2, timeout);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            lastError = errno;
            return CZELSerialDevice::IoResult::Failed;
        }
        for (const pollfd& signal : {fds[1], fds[2]}) {
            if (signal.revents & POLLIN) {
                std::uint64_t count = 0;
                [[maybe_unused]] const ssize_t n = ::read(signal.fd, &count, sizeof count);
                return CZELSerialDevice::IoResult::Woken;
            }
        }
        if (fds[0].revents & POLLNVAL) {
            lastError = EBADF;
            return CZELSerialDevice::IoResult::Gone;
        }
        native.hangUp = (fds[0].revents & (POLLHUP | POLLERR)) != 0;
        if (fds[0].revents & (events | POLLHUP | POLLERR))
            return CZELSerialDevice::IoResult::Done;
        if (ready == 0 || deadline.Expired())
            return CZELSerialDevice::IoResult::TimedOut;
    }
}

} // namespace

CZELSerialDevice::IoResult CZELSerialDevice::Read(std::uint8_t* buffer, std::size_t size, std::size_t& received,
    const CZELDeadline& deadline)
{
    received = 0;
    if (m_native->fd < 0)
        return IoResult::Closed;
    m_native->hangUp = false;
    for (;;) {
        const ssize_t n = ::read(m_native->fd, buffer, size);
        if (n > 0) {
            received = static_cast<std::size_t>(n);
            return IoResult::Done;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            m_lastSystemError = m_lastError = errno;
            return IsDeviceGone(errno) ? IoResult::Gone : IoResult::Failed;
        }
        // Nothing to read after poll reported a hang-up: the device is gone.
        if (m_native->hangUp) {
            m_lastSystemError = m_lastError = EIO;
            return IoResult::Gone;
        }
        const IoResult waited = WaitFor(*m_native, POLLIN, deadline, true, m_lastSystemError);
        if (waited != IoResult::Done) {
            m_lastError = m_lastSystemError;
            return waited;
        }
    }
}

CZELSerialDevice::IoResult CZELSerialDevice::Write(const std::uint8_t* data, std::size_t size, std::size_t& written,
    const CZELDeadline& deadline)
{
    written = 0;
    if (m_native->fd < 0)
        return IoResult::Closed;
    while (written < size) {
        const ssize_t n = ::write(m_native->fd, data + written, size - written);
        if (n > 0) {
            written += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            m_lastSystemError = m_lastError = errno;
            return IsDeviceGone(errno) ? IoResult::Gone : IoResult::Failed;
        }
        const IoResult waited = WaitFor(*m_native, POLLOUT, deadline, false, m_lastSystemError);
        if (waited != IoResult::Done) {
            m_lastError = m_lastSystemError;
            return waited;
        }
    }
    return IoResult::Done;
}

void CZELSerialDevice::Flush()
{
    if (m_native->fd >= 0)
        ::tcflush(m_native->fd, TCIOFLUSH);
}

void CZELSerialDevice::Drain()
{
    if (m_native->fd >= 0)
        ::tcdrain(m_native->fd);
}

namespace {

void Signal(int eventFd)
{
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(eventFd, &one, sizeof one);
}

} // namespace

void CZELSerialDevice::Wake() { Signal(m_native->wakeFd); }

void CZELSerialDevice::Interrupt() { Signal(m_native->interruptFd); }

void CZELSerialDevice::ForgetInterrupt()
{
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(m_native->interruptFd, &count, sizeof count);
}
