// The low-latency setting of a USB adapter held and given back; the kernel's side of it (the FTDI
// driver's 1 ms latency timer) is checked on real drivers in tests/vm.
#include "support/ZELTestSupport.h"
#include "zel/platform/linux/CZELLowLatencyHold.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <vector>

namespace {

constexpr int kLow = CZELLowLatencyHold::kLowLatency;
constexpr int kOther = 0x40; // some other flag of the port's owner

// A port's flag word in memory; each step's failure can be chosen, and every write is kept.
class FakePort : public CZELLowLatencyHold::Access
{
public:
    int Get(int& value) override
    {
        if (getFails)
            return EIO;
        value = flags;
        return 0;
    }
    int Set(int value) override
    {
        if (setFails)
            return EPERM;
        flags = value;
        writes.push_back(value);
        return 0;
    }

    int flags = 0;
    bool getFails = false;
    bool setFails = false;
    std::vector<int> writes;
};

} // namespace

TEST(CZELLowLatencyHold, SetsLowLatencyWhileHeldAndGivesBackTheOwnersSetting)
{
    struct Case
    {
        const char* name;
        int before;
        bool setRefused;
        int changedMeanwhile; // flags the owner turned on while the port was held
        bool holding;
        std::vector<int> writes;
        int after;
    };
    const Case cases[] = {
        {"the adapter's default", kOther, false, 0, true, {kOther | kLow, kOther}, kOther},
        {"set by its owner already: left alone", kLow | kOther, false, 0, false, {}, kLow | kOther},
        {"refused (not allowed)", kOther, true, 0, false, {}, kOther},
        {"another flag changed meanwhile is kept", 0, false, kOther, true, {kLow, kOther}, kOther},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakePort port;
        port.flags = c.before;
        port.setFails = c.setRefused;
        CZELLowLatencyHold hold;
        EXPECT_EQ(hold.Take(port), c.setRefused ? EPERM : 0);
        EXPECT_EQ(hold.Holding(), c.holding);
        if (c.holding) {
            EXPECT_EQ(port.flags & kLow, kLow);
        }
        port.flags |= c.changedMeanwhile;
        EXPECT_EQ(hold.Release(port), 0);
        EXPECT_FALSE(hold.Holding());
        EXPECT_EQ(port.writes, c.writes);
        EXPECT_EQ(port.flags, c.after);
        // A second release (a close after a failed open) writes nothing more.
        EXPECT_EQ(hold.Release(port), 0);
        EXPECT_EQ(port.writes, c.writes);
    }
}

TEST(CZELLowLatencyHold, AnAdapterGoneBeforeTheReleaseIsLetGo)
{
    FakePort port;
    CZELLowLatencyHold hold;
    ASSERT_EQ(hold.Take(port), 0);
    port.getFails = true; // unplugged: every request fails
    EXPECT_EQ(hold.Release(port), EIO);
    EXPECT_FALSE(hold.Holding());
    port.getFails = false;
    EXPECT_EQ(hold.Release(port), 0);
    EXPECT_EQ(port.writes, std::vector<int>{kLow});
}

TEST(CZELLowLatencyHold, FindsTheLatencyTimerOfATtyInSysfs)
{
    namespace fs = std::filesystem;
    ZELTest::TemporaryDirectory sysfs;
    const fs::path root = sysfs.Path();
    // /sys/dev/char/MAJOR:MINOR links to the tty; its "device" is the driver's port, where the FTDI
    // driver puts latency_timer. A UART's tty has none.
    const fs::path usb = root / "devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/ttyUSB0";
    const fs::path uart = root / "devices/platform/serial8250/serial8250:0/serial8250:0.0";
    fs::create_directories(usb / "tty/ttyUSB0");
    fs::create_directories(uart / "tty/ttyS0");
    ZELTest::WriteFile((usb / "latency_timer").string(), "16\n");
    fs::create_symlink(usb, usb / "tty/ttyUSB0/device");
    fs::create_symlink(uart, uart / "tty/ttyS0/device");
    fs::create_directories(root / "dev/char");
    fs::create_symlink(usb / "tty/ttyUSB0", root / "dev/char/188:0");
    fs::create_symlink(uart / "tty/ttyS0", root / "dev/char/4:64");

    EXPECT_TRUE(CZELLowLatencyHold::HasLatencyTimer(root.string(), 188, 0));
    EXPECT_FALSE(CZELLowLatencyHold::HasLatencyTimer(root.string(), 4, 64));
    EXPECT_FALSE(CZELLowLatencyHold::HasLatencyTimer(root.string(), 188, 1)); // no such tty
}
