#include "support/ZELTestSupport.h"
#include "zel/platform/linux/ZELUdevSerialPorts.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;

// A sysfs tree as a machine without a udev daemon shows it: a UART, two 8250 stubs, a USB adapter
// and a virtual console.
class FakeSysfs
{
public:
    FakeSysfs()
    {
        Driver("bus/platform/drivers/serial8250");
        Driver("bus/usb-serial/drivers/ftdi_sio");
        Driver("bus/serial-base/drivers/port");
        Driver("bus/serial-base/drivers/ctrl");
        const std::string uarts = "devices/platform/serial8250";
        Link(uarts + "/driver", "bus/platform/drivers/serial8250");
        // Newer kernels put the serial core's port and control devices between the UART and its tty.
        Uart(uarts + "/serial8250:0/serial8250:0.0/tty/ttyS0", "4", "0x3F8");
        Link(uarts + "/serial8250:0/driver", "bus/serial-base/drivers/ctrl");
        Link(uarts + "/serial8250:0/serial8250:0.0/driver", "bus/serial-base/drivers/port");
        Uart(uarts + "/tty/ttyS2", "0", "0x3E8"); // registered, no UART behind it
        Uart(uarts + "/tty/ttyS3", "0", "0x2E8");
        Uart(uarts + "/tty/ttyS4", "4", "0x0");   // an older kernel's stub: no I/O port

        const std::string adapter = "devices/pci0000:00/0000:00:14.0/usb1/1-2";
        Attribute(adapter + "/idVendor", "0403");
        Attribute(adapter + "/idProduct", "6001");
        Attribute(adapter + "/manufacturer", "FTDI");
        Attribute(adapter + "/product", "FT232R USB UART");
        Attribute(adapter + "/serial", "A10KZ3PQ");
        Link(adapter + "/1-2:1.0/ttyUSB0/driver", "bus/usb-serial/drivers/ftdi_sio");
        Tty(adapter + "/1-2:1.0/ttyUSB0/tty/ttyUSB0");

        Tty("devices/virtual/tty/tty0"); // has a "device" link here, and no hardware all the same
    }

    const fs::path& Root() const { return m_folder.Path(); }

private:
    void Attribute(const std::string& file, const std::string& value)
    {
        fs::create_directories((Root() / file).parent_path());
        ZELTest::WriteFile((Root() / file).string(), value + "\n");
    }
    void Link(const std::string& link, const std::string& target)
    {
        fs::create_directories((Root() / link).parent_path());
        fs::create_symlink(Root() / target, Root() / link);
    }
    void Driver(const std::string& folder) { fs::create_directories(Root() / folder); }
    // A tty folder, its uevent, its "device" link up to the hardware and its entry in class/tty.
    void Tty(const std::string& folder)
    {
        const fs::path path(folder);
        const std::string name = path.filename().string();
        Attribute(folder + "/uevent", "MAJOR=4\nMINOR=64\nDEVNAME=" + name);
        if (path.parent_path().filename() == "tty")
            Link(folder + "/device", path.parent_path().parent_path().string());
        Link("class/tty/" + name, folder);
    }
    void Uart(const std::string& folder, const std::string& type, const std::string& port)
    {
        Tty(folder);
        Attribute(folder + "/type", type);
        Attribute(folder + "/port", port);
    }

    ZELTest::TemporaryDirectory m_folder;
};

} // namespace

TEST(ZELSerialPortList, ListsOnlyPortsWithHardwareAndTakesTheAdaptersIdsFromSysfs)
{
    FakeSysfs sysfs;
    const auto ports = ZELPlatform::ListSerialPorts(sysfs.Root().string());
    ASSERT_EQ(ports.size(), 2u);

    EXPECT_EQ(ports[0].path, "/dev/ttyS0");
    EXPECT_EQ(ports[0].name, "ttyS0");
    EXPECT_EQ(ports[0].driver, "serial8250");
    EXPECT_EQ(ports[0].description, "serial8250");
    EXPECT_EQ(ports[0].usbId, "");

    const ZELPlatform::SerialPortInfo& usb = ports[1];
    EXPECT_EQ(usb.path, "/dev/ttyUSB0");
    EXPECT_EQ(usb.driver, "ftdi_sio");
    EXPECT_EQ(usb.vendorId, "0403");
    EXPECT_EQ(usb.productId, "6001");
    EXPECT_EQ(usb.usbId, "0403:6001");
    EXPECT_EQ(usb.manufacturer, "FTDI");
    EXPECT_EQ(usb.product, "FT232R USB UART");
    EXPECT_EQ(usb.serial, "A10KZ3PQ");
    EXPECT_EQ(usb.description, "FTDI FT232R USB UART");
    EXPECT_EQ(usb.byIdLink, "");
}

TEST(ZELSerialPortList, AMissingTreeListsNothing)
{
    ZELTest::TemporaryDirectory empty;
    EXPECT_TRUE(ZELPlatform::ListSerialPorts((empty.Path() / "sys").string()).empty());
    EXPECT_TRUE(ZELPlatform::ListSerialPorts(empty.Path().string()).empty());
}
