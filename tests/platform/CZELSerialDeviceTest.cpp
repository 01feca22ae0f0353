#include "zel/platform/CZELSerialDevice.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using IoResult = CZELSerialDevice::IoResult;

namespace {

class CZELSerialDeviceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(device.OpenPseudoTerminal(peerPath), 0);
        ASSERT_EQ(port.Open(peerPath, 115200, CZELSerialDevice::Parity::None), 0) << peerPath;
    }

    std::vector<std::uint8_t> ReadExactly(CZELSerialDevice& from, std::size_t count)
    {
        std::vector<std::uint8_t> data;
        const CZELDeadline deadline(10s);
        while (data.size() < count) {
            std::uint8_t buffer[64];
            std::size_t n = 0;
            if (from.Read(buffer, std::min(sizeof buffer, count - data.size()), n, deadline) != IoResult::Done)
                break;
            data.insert(data.end(), buffer, buffer + n);
        }
        return data;
    }

    CZELSerialDevice device; // the simulated device's side
    CZELSerialDevice port;   // the program's side
    std::string peerPath;
};

} // namespace

TEST(CZELSerialDeviceNames, ResolvesPortNames)
{
    const struct
    {
        const char* name;
        const char* path;
    } cases[] = {
        {"COM1", "/dev/ttyS0"},
        {"COM12", "/dev/ttyS11"},
        {"ttyUSB0", "/dev/ttyUSB0"},
        {"/dev/serial/by-id/usb-x", "/dev/serial/by-id/usb-x"},
        {"./pty", "./pty"},
        {"COM", "/dev/COM"},
        {"COM0", "/dev/COM0"},
        {"COMX", "/dev/COMX"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CZELSerialDevice::ResolvePortName(c.name), c.path) << c.name;
}

TEST_F(CZELSerialDeviceTest, MovesBytesBothWaysUnchanged)
{
    // Every byte value, CR and LF and XON/XOFF included, crosses unchanged in raw mode.
    std::vector<std::uint8_t> all(256);
    for (int i = 0; i < 256; ++i)
        all[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    std::size_t written = 0;
    ASSERT_EQ(port.Write(all.data(), all.size(), written, CZELDeadline(10s)), IoResult::Done);
    EXPECT_EQ(written, all.size());
    EXPECT_EQ(ReadExactly(device, all.size()), all);

    ASSERT_EQ(device.Write(all.data(), all.size(), written, CZELDeadline(10s)), IoResult::Done);
    EXPECT_EQ(ReadExactly(port, all.size()), all);
}

TEST_F(CZELSerialDeviceTest, SecondOpenIsRefusedAsBusy)
{
    CZELSerialDevice second;
    EXPECT_EQ(second.Open(peerPath, 115200, CZELSerialDevice::Parity::None), EBUSY);
    port.Close();
    EXPECT_EQ(second.Open(peerPath, 115200, CZELSerialDevice::Parity::None), 0);
}

// A held port is not even opened: every open of a real tty raises DTR and RTS, on the holder's
// line too, where a refused second opener would leave them raised. The node's open events show it,
// whoever holds the lock (this program, or another that takes it as serial tools do).
TEST_F(CZELSerialDeviceTest, AHeldPortIsNotOpenedAtAll)
{
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0) << std::strerror(errno);
    ASSERT_GE(::inotify_add_watch(watch, peerPath.c_str(), IN_OPEN), 0) << std::strerror(errno);
    const auto opens = [watch] {
        int count = 0;
        alignas(inotify_event) char events[4096];
        for (ssize_t n; (n = ::read(watch, events, sizeof events)) > 0;) {
            for (ssize_t at = 0; at < n; ++count) {
                const auto* event = reinterpret_cast<const inotify_event*>(events + at);
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
        return count;
    };

    CZELSerialDevice second;
    EXPECT_EQ(second.Open(peerPath, 115200, CZELSerialDevice::Parity::None), EBUSY);
    EXPECT_EQ(second.LastOpenStep(), CZELSerialDevice::OpenStep::Lock);
    EXPECT_EQ(opens(), 0);

    port.Close();
    const int other = ::open(peerPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(other, 0) << std::strerror(errno);
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0) << std::strerror(errno);
    EXPECT_EQ(opens(), 1);
    EXPECT_EQ(second.Open(peerPath, 115200, CZELSerialDevice::Parity::None), EBUSY);
    EXPECT_EQ(opens(), 0);
    ::close(other);
    EXPECT_EQ(second.Open(peerPath, 115200, CZELSerialDevice::Parity::None), 0);
    EXPECT_EQ(opens(), 1);
    ::close(watch);
}

TEST_F(CZELSerialDeviceTest, ReadEndsAtDeadlineOrWake)
{
    std::uint8_t buffer[8];
    std::size_t n = 99;
    EXPECT_EQ(port.Read(buffer, sizeof buffer, n, CZELDeadline(5ms)), IoResult::TimedOut);
    EXPECT_EQ(n, 0u);

    std::thread waker([this] { port.Wake(); });
    EXPECT_EQ(port.Read(buffer, sizeof buffer, n, CZELDeadline(30s)), IoResult::Woken);
    waker.join();
}

// A write waits while the line's queue is full; a Wake() meant for the next read wait never cuts it
// short (a packet goes out whole), and stays for that read wait.
TEST_F(CZELSerialDeviceTest, AWakeNeverCutsAWriteShort)
{
    std::vector<std::uint8_t> data(256 * 1024); // more than the line's queue holds
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i * 7);
    port.Wake(); // a stale wake, meant for a read wait that did not come
    std::vector<std::uint8_t> arrived;
    std::thread reader([&] { arrived = ReadExactly(device, data.size()); });
    std::size_t written = 0;
    EXPECT_EQ(port.Write(data.data(), data.size(), written, CZELDeadline(30s)), IoResult::Done);
    reader.join();
    EXPECT_EQ(written, data.size());
    EXPECT_TRUE(arrived == data) << arrived.size() << " of " << data.size() << " bytes arrived";

    std::uint8_t buffer[8];
    std::size_t n = 0;
    EXPECT_EQ(port.Read(buffer, sizeof buffer, n, CZELDeadline(30s)), IoResult::Woken);
}

// A stop still ends a write that the other side never lets finish.
TEST_F(CZELSerialDeviceTest, AnInterruptEndsABlockedWrite)
{
    std::vector<std::uint8_t> data(256 * 1024);
    std::thread stopper([this] { port.Interrupt(); });
    std::size_t written = 0;
    EXPECT_EQ(port.Write(data.data(), data.size(), written, CZELDeadline(30s)), IoResult::Woken);
    stopper.join();
    EXPECT_LT(written, data.size());
}

// The exclusive flag of an open port is cleared when it closes: on a pseudo-terminal it would
// outlive the close and refuse every later open by an ordinary user.
TEST_F(CZELSerialDeviceTest, ClosingClearsTheExclusiveFlag)
{
    const auto exclusive = [this] {
        const int fd = ::open(peerPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        EXPECT_GE(fd, 0) << std::strerror(errno);
        int flag = -1;
        EXPECT_EQ(::ioctl(fd, TIOCGEXCL, &flag), 0) << std::strerror(errno);
        ::close(fd);
        return flag;
    };
    port.Close();
    EXPECT_EQ(exclusive(), 0);
    ASSERT_EQ(port.Open(peerPath, 115200, CZELSerialDevice::Parity::None), 0);
    port.Close();
    EXPECT_EQ(exclusive(), 0);
}

// The second open finds the line already at 8E1, which the C library reports differently.
TEST_F(CZELSerialDeviceTest, EvenParityIsAcceptedOnAPseudoTerminalAgainAndAgain)
{
    for (int open = 0; open < 3; ++open) {
        port.Close();
        EXPECT_EQ(port.Open(peerPath, 115200, CZELSerialDevice::Parity::Even), 0) << "open " << open + 1;
    }
}

TEST_F(CZELSerialDeviceTest, ReportsAVanishedDevice)
{
    device.Close();
    std::uint8_t buffer[8];
    std::size_t n = 0;
    EXPECT_EQ(port.Read(buffer, sizeof buffer, n, CZELDeadline(10s)), IoResult::Gone);
}

TEST(CZELSerialDeviceErrors, OpenFailuresKeepTheirCause)
{
    CZELSerialDevice port;
    EXPECT_EQ(port.Open("/nonexistent/tty", 115200, CZELSerialDevice::Parity::None), ENOENT);
    EXPECT_EQ(port.Open("/dev/null", 115200, CZELSerialDevice::Parity::None), ENOTTY);
    EXPECT_EQ(port.Open("/dev/null", 12345, CZELSerialDevice::Parity::None), EINVAL);
    EXPECT_FALSE(port.IsOpen());
    std::uint8_t buffer[1];
    std::size_t n = 0;
    EXPECT_EQ(port.Read(buffer, 1, n, CZELDeadline(1ms)), IoResult::Closed);
}

TEST(CZELSerialDeviceErrors, DescriptionsTellTheOperatorWhatToDo)
{
    // The group owning a file of ours is our own group: its name must appear for a permission error.
    const std::string path = ::testing::TempDir() + "/describe-open-error";
    { std::ofstream touch(path); }
    const ::group* own = ::getgrgid(::getegid());
    ASSERT_NE(own, nullptr);
    const struct
    {
        int error;
        std::string expected;
    } cases[] = {
        {EACCES, "must be a member of the group \"" + std::string(own->gr_name) + "\""},
        {EBUSY, "in use by another program"},
        {ENOENT, "No such port"},
        {EIO, path + ": "},
    };
    for (const auto& test : cases) {
        const std::string text = CZELSerialDevice::DescribeOpenError(path, test.error);
        EXPECT_NE(text.find(test.expected), std::string::npos) << test.error << ": " << text;
    }
    std::remove(path.c_str());
}
