// The Windows port list and the hot-plug monitor built on it.
#include "zel/platform/CZELEvent.h"
#include "zel/platform/windows/CZELWindowsHotPlugMonitor.h"
#include "zel/platform/windows/ZELWindowsSerialPorts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <set>
#include <string>
#include <vector>

using namespace std::chrono_literals;
using ZELPlatform::SerialPortInfo;

namespace {

// Generous: only a failing test waits this long.
constexpr auto kWait = 10s;

SerialPortInfo Port(const std::string& name, const std::string& usbId = "", const std::string& serial = "")
{
    SerialPortInfo port;
    port.name = port.path = name;
    port.usbId = usbId;
    port.serial = serial;
    return port;
}

std::vector<std::string> Names(const std::vector<SerialPortInfo>& ports)
{
    std::vector<std::string> names;
    for (const SerialPortInfo& port : ports)
        names.push_back(port.name);
    return names;
}

// What a monitor reported, for a test to wait on.
class EventLog
{
public:
    void Add(const ZELSerialDeviceEvent& event)
    {
        std::lock_guard lock(m_mutex);
        m_events.push_back((event.attached ? "+" : "-") + event.port.name);
        m_changed.Set();
    }

    // Waits until `count` events have come; what came by then.
    std::vector<std::string> WaitFor(std::size_t count)
    {
        const CZELDeadline deadline(kWait);
        for (;;) {
            {
                std::lock_guard lock(m_mutex);
                if (m_events.size() >= count || deadline.Expired())
                    return m_events;
                m_changed.Reset();
            }
            m_changed.WaitUntil(deadline);
        }
    }

private:
    std::mutex m_mutex;
    std::vector<std::string> m_events;
    CZELEvent m_changed;
};

// A value in the registry's list of active ports, removed again however the test ends. The registry
// is written with reg.exe, so that no test source needs the Windows headers.
class RegisteredPort
{
public:
    RegisteredPort(const std::string& device, const std::string& name)
        : m_device(device)
    {
        m_added = Reg("add \"" + std::string(kKey) + "\" /v \"" + device + "\" /t REG_SZ /d " + name + " /f") == 0;
    }
    ~RegisteredPort()
    {
        if (m_added)
            Reg("delete \"" + std::string(kKey) + "\" /v \"" + m_device + "\" /f");
    }
    RegisteredPort(const RegisteredPort&) = delete;
    RegisteredPort& operator=(const RegisteredPort&) = delete;

    bool Added() const { return m_added; }

private:
    static constexpr const char* kKey = "HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM";

    static int Reg(const std::string& arguments) { return std::system(("reg " + arguments + " >NUL 2>&1").c_str()); }

    std::string m_device;
    bool m_added = false;
};

} // namespace

TEST(ZELSerialPortListWindows, ReadsUsbIdsFromDeviceIds)
{
    const struct
    {
        const char* id;
        const char* usbId;
    } cases[] = {
        {"USB\\VID_0403&PID_6001&REV_0600", "0403:6001"},
        {"FTDIBUS\\VID_0403+PID_6015+DK0AB1CDA\\0000", "0403:6015"}, // a vendor's own bus driver
        {"usb\\vid_10c4&pid_ea60", "10c4:ea60"},
        {"USB\\VID_2341&PID_0043&MI_00\\7&2C3F&0&0000", "2341:0043"},
        {"ACPI\\PNP0501", ""},
        {"USB\\VID_04&PID_60", ""},
        {"USB\\VID_XY03&PID_6001", ""},
        {"USB\\VID_0403", ""},
        {"", ""},
    };
    for (const auto& c : cases) {
        SerialPortInfo info;
        ZELPlatform::ParseUsbIds(c.id, info);
        EXPECT_EQ(info.usbId, c.usbId) << c.id;
        EXPECT_EQ(info.vendorId + (info.vendorId.empty() ? "" : ":") + info.productId, c.usbId) << c.id;
    }
}

TEST(ZELSerialPortListWindows, TakesTheSerialNumberOnlyFromTheAdaptersOwnId)
{
    const struct
    {
        const char* instanceId;
        const char* serial;
    } cases[] = {
        {"USB\\VID_0403&PID_6001\\A5XK3RJT", "A5XK3RJT"},
        {"usb\\VID_0403&PID_6001\\A5XK3RJT", "A5XK3RJT"},
        {"USB\\VID_1A86&PID_7523\\5&1B2C3D&0&2", ""},             // made up by Windows: no serial number
        {"USB\\VID_2341&PID_0043&MI_00\\7&2C3F&0&0000", ""},      // an interface of a composite device
        {"FTDIBUS\\VID_0403+PID_6001+A5XK3RJTA\\0000", ""},       // its parent carries the number
        {"ACPI\\PNP0501\\1", ""},
        {"USB\\VID_0403&PID_6001", ""},
        {"USB\\VID_0403&PID_6001\\", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ZELPlatform::UsbSerialNumberOf(c.instanceId), c.serial) << c.instanceId;
}

TEST(ZELSerialPortListWindows, SortsByPortNumber)
{
    std::vector<SerialPortInfo> ports = {Port("COM10"), Port("CNCA0"), Port("COM2"), Port("COM1"), Port("COM100"),
        Port("BTH0")};
    ZELPlatform::SortSerialPorts(ports);
    EXPECT_EQ(Names(ports), (std::vector<std::string>{"COM1", "COM2", "COM10", "COM100", "BTH0", "CNCA0"}));

    const struct
    {
        const char* name;
        unsigned int number;
    } numbers[] = {{"COM7", 7}, {"com12", 12}, {"COM", 0}, {"COMX", 0}, {"COM1A", 0}, {"LPT1", 0}, {"\\\\.\\COM3", 0}};
    for (const auto& c : numbers)
        EXPECT_EQ(ZELPlatform::ComPortNumber(c.name), c.number) << c.name;
}

TEST(ZELSerialPortListWindows, DescriptionsLeaveThePortNameOut)
{
    const struct
    {
        const char* friendly;
        const char* port;
        const char* description;
    } cases[] = {
        {"USB Serial Port (COM3)", "COM3", "USB Serial Port"},
        {"Silicon Labs CP210x USB to UART Bridge (com12)", "COM12", "Silicon Labs CP210x USB to UART Bridge"},
        {"Communications Port (COM13)", "COM1", "Communications Port (COM13)"},
        {"Prolific USB-to-Serial Comm Port", "COM4", "Prolific USB-to-Serial Comm Port"},
        {" (COM5)", "COM5", " (COM5)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ZELPlatform::WithoutPortSuffix(c.friendly, c.port), c.description) << c.friendly;
}

TEST(ZELSerialPortListWindows, EveryListedPortIsNamedAsTheOperatorTypesIt)
{
    const std::vector<SerialPortInfo> ports = ZELPlatform::ListSerialPorts();
    std::set<std::string> names;
    for (const SerialPortInfo& port : ports) {
        EXPECT_NE(ZELPlatform::ComPortNumber(port.name), 0u) << port.name;
        EXPECT_EQ(port.path, port.name);
        EXPECT_TRUE(names.insert(port.name).second) << port.name << " twice";
    }
    std::vector<SerialPortInfo> sorted = ports;
    ZELPlatform::SortSerialPorts(sorted);
    EXPECT_EQ(Names(sorted), Names(ports));
}

// Ports that only the registry's list names (Wine's, some virtual drivers') are listed too.
TEST(ZELSerialPortListWindows, ListsThePortsOfTheRegistry)
{
    const RegisteredPort high("\\Device\\TarnTest7", "COM207");
    const RegisteredPort low("\\Device\\TarnTest8", "COM31");
    if (!high.Added() || !low.Added())
        GTEST_SKIP() << "the registry's port list cannot be written here (it needs administrator rights)";
    const std::vector<SerialPortInfo> ports = ZELPlatform::ListSerialPorts();
    const auto find = [&ports](const std::string& name) {
        return std::find_if(ports.begin(), ports.end(), [&name](const SerialPortInfo& p) { return p.name == name; });
    };
    ASSERT_NE(find("COM207"), ports.end());
    ASSERT_NE(find("COM31"), ports.end());
    EXPECT_LT(find("COM31"), find("COM207"));
    EXPECT_EQ(find("COM207")->path, "COM207");
    EXPECT_EQ(find("COM207")->driver, "TarnTest"); // the device object without its number
    EXPECT_EQ(find("COM207")->description, "TarnTest");
}

TEST(CZELWindowsHotPlugMonitor, ComparesTwoLists)
{
    const struct
    {
        const char* name;
        std::vector<SerialPortInfo> before;
        std::vector<SerialPortInfo> after;
        std::vector<std::string> events;
    } cases[] = {
        {"nothing changed", {Port("COM1"), Port("COM3", "0403:6001")}, {Port("COM1"), Port("COM3", "0403:6001")}, {}},
        {"plugged in", {Port("COM1")}, {Port("COM1"), Port("COM4", "10c4:ea60")}, {"+COM4"}},
        {"pulled out", {Port("COM1"), Port("COM4", "10c4:ea60")}, {Port("COM1")}, {"-COM4"}},
        {"another adapter on the same number", {Port("COM4", "10c4:ea60", "A1")}, {Port("COM4", "10c4:ea60", "B2")},
            {"-COM4", "+COM4"}},
        {"all gone", {Port("COM2"), Port("COM3")}, {}, {"-COM2", "-COM3"}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> events;
        for (const ZELSerialDeviceEvent& event : CZELWindowsHotPlugMonitor::Compare(c.before, c.after))
            events.push_back((event.attached ? "+" : "-") + event.port.name);
        EXPECT_EQ(events, c.events) << c.name;
    }
    // A port that went is reported with what was known of it.
    const auto gone = CZELWindowsHotPlugMonitor::Compare({Port("COM4", "10c4:ea60", "A1")}, {});
    ASSERT_EQ(gone.size(), 1u);
    EXPECT_EQ(gone[0].port.usbId, "10c4:ea60");
    EXPECT_EQ(gone[0].port.serial, "A1");
}

TEST(CZELWindowsHotPlugMonitor, ReportsPortsComingAndGoingOnItsThread)
{
    std::mutex listLock;
    std::vector<SerialPortInfo> list = {Port("COM1")};
    const auto lister = [&] {
        std::lock_guard lock(listLock);
        return list;
    };
    const auto change = [&](std::vector<SerialPortInfo> ports) {
        std::lock_guard lock(listLock);
        list = std::move(ports);
    };
    CZELWindowsHotPlugMonitor monitor(lister, 5ms);
    EventLog log;
    ASSERT_EQ(monitor.Start([&log](const ZELSerialDeviceEvent& event) { log.Add(event); }), 0);
    EXPECT_TRUE(monitor.IsRunning());
    change({Port("COM1"), Port("COM5")}); // COM1 was there at the start: not reported
    EXPECT_EQ(log.WaitFor(1), (std::vector<std::string>{"+COM5"}));
    change({Port("COM5")});
    EXPECT_EQ(log.WaitFor(2), (std::vector<std::string>{"+COM5", "-COM1"}));
    monitor.Stop();
    EXPECT_FALSE(monitor.IsRunning());

    // A restart measures against the list of its own start.
    EventLog second;
    ASSERT_EQ(monitor.Start([&second](const ZELSerialDeviceEvent& event) { second.Add(event); }), 0);
    change({});
    EXPECT_EQ(second.WaitFor(1), (std::vector<std::string>{"-COM5"}));
}

// Stop ends the wait between two lists at once, however long the period.
TEST(CZELWindowsHotPlugMonitor, StopDoesNotWaitForThePeriod)
{
    CZELWindowsHotPlugMonitor monitor([] { return std::vector<SerialPortInfo>{}; }, std::chrono::hours(1));
    ASSERT_EQ(monitor.Start([](const ZELSerialDeviceEvent&) {}), 0);
    const auto start = std::chrono::steady_clock::now();
    monitor.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, kWait);
    EXPECT_FALSE(monitor.IsRunning());
}

// The machine's list: a port the registry gains and loses is reported. Other tests map ports of
// their own meanwhile; only this one's events count.
TEST(CZELWindowsHotPlugMonitor, SeesTheRegistrysPortsComeAndGo)
{
    CZELWindowsHotPlugMonitor monitor(&ZELPlatform::ListSerialPorts, 20ms);
    EventLog log;
    ASSERT_EQ(monitor.Start([&log](const ZELSerialDeviceEvent& event) {
        if (event.port.name == "COM209")
            log.Add(event);
    }), 0);
    {
        const RegisteredPort port("\\Device\\TarnTest9", "COM209");
        if (!port.Added())
            GTEST_SKIP() << "the registry's port list cannot be written here (it needs administrator rights)";
        EXPECT_EQ(log.WaitFor(1), (std::vector<std::string>{"+COM209"}));
    }
    EXPECT_EQ(log.WaitFor(2), (std::vector<std::string>{"+COM209", "-COM209"}));
}
