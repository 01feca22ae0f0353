// Flashing the simulated device the three ways the program does: through a processor's ROM bootloader on
// the same line, as firmware blocks relayed to an expander, and as module-flash packets to a CAN driver.
#include "SimTestSupport.h"

#include "zel/firmware/CZELCRC32.h"
#include "zel/foundation/CZELTimeTable.h"
#include "zel/foundation/ZELStatus.h"
#include "zel/stm32/CZELSTM32BootLoader.h"

#include <cstring>

using namespace SimTest;

namespace {

class BootLoaderClient : public CZELSTM32BootLoader
{
public:
    using CZELSTM32BootLoader::stm32_close;
    using CZELSTM32BootLoader::stm32_extended_erase_flash;
    using CZELSTM32BootLoader::stm32_get_version;
    using CZELSTM32BootLoader::stm32_go_command;
    using CZELSTM32BootLoader::stm32_init;
    using CZELSTM32BootLoader::stm32_write_flash;
};

// An image that carries its version text, as the shipped images do.
Bytes ImageWithVersion(std::size_t size, const std::string& version)
{
    Bytes image(size);
    for (std::size_t i = 0; i < size; ++i)
        image[i] = static_cast<std::uint8_t>(i * 13 + 1);
    std::copy(version.begin(), version.end(), image.begin() + 100);
    return image;
}

CZELSTM32BootLoader::ReadFunction Reader(const Bytes& image)
{
    return [&image, offset = std::size_t(0)](std::uint8_t* buffer, std::uint32_t count) mutable {
        const std::size_t n = std::min<std::size_t>(count, image.size() - offset);
        std::copy_n(image.begin() + static_cast<std::ptrdiff_t>(offset), n, buffer);
        offset += n;
        return static_cast<std::uint32_t>(n);
    };
}

std::string CCPUVersion(ProgramSide& program)
{
    program.Send([](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqGetDeviceInfo(b); });
    const Bytes answer = program.Expect(0x4001);
    std::uint8_t version = 0;
    std::uint16_t type = 0;
    char hw[33], serial[33], mcpu[33], ecpu[33], ccpu[33], kcpu[33], lcpu[33], rcpu[33], wcpu[33];
    EXPECT_EQ(program.commands.ProcessAckGetDeviceInfo(answer.data(), &version, &type, hw, serial, mcpu, ecpu, ccpu, kcpu,
                  lcpu, rcpu, wcpu, 33),
        ZEL_STATUS_SUCCESS);
    return ccpu;
}

std::uint32_t Crc32(const std::uint8_t* data, std::size_t size)
{
    CZELCRC32 crc;
    crc.Reset();
    crc.Update(data, static_cast<unsigned long>(size));
    return crc.GetCRC32();
}

} // namespace

TEST(CSimFlash, BootLoaderSwitchHandsTheLineToTheBootLoaderUntilGo)
{
    auto server = Serve(R"({"device": {"hardware": "QTR-1", "versions": {"CCPU": "V 02.09.30"}}})");
    ProgramSide program(server->Path());
    EXPECT_EQ(CCPUVersion(program), "V 02.09.30");

    // The switch request as the update thread sends it; a resend is still on the line when the
    // processor resets into its bootloader.
    const Bytes request{0x42, 0x11, 0x00, 0x03, 0x00, 0, 0, 0x80, 0x00, 0x18, 0};
    program.SendRaw(request);
    std::uint8_t count = 0, status = 0xEE, property = 0, value = 0;
    ASSERT_EQ(program.commands.ProcessAckControl(program.Expect(0x4011).data(), &count, &status, &property, &value),
        ZEL_STATUS_SUCCESS);
    ASSERT_EQ(value, 7);
    program.Close();

    // The bootloader client opens the same port, as the program does after stopping its receive thread.
    BootLoaderClient client;
    ASSERT_EQ(client.stm32_init(server->Path().c_str(), CZELSTM32BootLoader::kBaudRate), 0);
    unsigned char major = 0, minor = 0;
    ASSERT_EQ(client.stm32_get_version(&major, &minor), 0);
    EXPECT_EQ(major, 3);
    ASSERT_EQ(client.stm32_extended_erase_flash(), 0);
    const Bytes image = ImageWithVersion(1500, "V 02.10.00");
    ASSERT_EQ(client.stm32_write_flash(Reader(image), nullptr), 0);
    ASSERT_EQ(client.stm32_go_command(), 0);
    client.stm32_close();

    ASSERT_TRUE(server->WaitFor([](CSimDevice& device) { return !device.BootLoaderOwner(); }, kWait));
    server->Inspect([&](CSimDevice& device) {
        EXPECT_EQ(device.BootLoader(CSimDevice::Processor::CCPU).Flash().size(), 256u * 1024);
        const Bytes flash = device.BootLoader(CSimDevice::Processor::CCPU).ProgrammedImage();
        EXPECT_EQ(flash, image);
    });
    // Back on the device protocol, with the new version: a second check finds nothing to update.
    ASSERT_EQ(program.Open(server->Path()), 0);
    EXPECT_EQ(CCPUVersion(program), "V 02.10.00");
}

// A processor whose bootloader listens only some time after the switch, with an image that does not
// end on a whole word: the client keeps synchronising and fills the last block, and the chip runs the
// image.
TEST(CSimFlash, BootLoaderReadyLateAfterTheSwitchTakesAnImageOfAnySize)
{
    const auto ready = ZELTimes().stm32SyncTimeout * 3 / 4;
    auto server = Serve(R"({"device": {"hardware": "QTR-1", "versions": {"KCPU": "V 01.00.00"},
        "bootloader": {"readyAfterMs": )" + std::to_string(ready.count()) + "}}}");
    ProgramSide program(server->Path());
    program.SendRaw({0x42, 0x11, 0x00, 0x03, 0x00, 0, 0, 0x80, 0x00, 0x28, 0});
    std::uint8_t count = 0, status = 0xEE, property = 0, value = 0;
    ASSERT_EQ(program.commands.ProcessAckControl(program.Expect(0x4011).data(), &count, &status, &property, &value),
        ZEL_STATUS_SUCCESS);
    program.Close();

    BootLoaderClient client;
    ASSERT_EQ(client.stm32_init(server->Path().c_str(), CZELSTM32BootLoader::kBaudRate), 0)
        << client.DescribeLastFailure();
    ASSERT_EQ(client.stm32_extended_erase_flash(), 0) << client.DescribeLastFailure();
    const Bytes image = ImageWithVersion(1501, "V 01.06.00");
    ASSERT_EQ(client.stm32_write_flash(Reader(image), nullptr), 0) << client.DescribeLastFailure();
    ASSERT_EQ(client.stm32_go_command(), 0);
    client.stm32_close();

    ASSERT_TRUE(server->WaitFor([](CSimDevice& device) { return !device.BootLoaderOwner(); }, kWait));
    server->Inspect([&](CSimDevice& device) {
        EXPECT_EQ(device.BootLoader(CSimDevice::Processor::KCPU).ProgrammedImage(), image);
        EXPECT_EQ(device.Version(CSimDevice::Processor::KCPU), "V 01.06.00");
    });
}

TEST(CSimFlash, ConfiguredVersionAfterUpdateWinsOverTheImagesText)
{
    auto server = Serve(R"({"device": {"hardware": "QTR-1", "versions": {"KCPU": "V 01.00.00"},
        "versionsAfterUpdate": {"KCPU": "V 01.05.00"}}})");
    CSimDevice::Processor owner{};
    server->Inspect([&](CSimDevice& device) {
        std::vector<CSimDevice::Outgoing> out;
        const Bytes request{0x42, 0x11, 0x00, 0x03, 0x00, 0, 0, 0x80, 0x00, 0x28, 0};
        Bytes packet = request;
        CZELCommandSet().CalculateChecksums(packet.data(), packet.size());
        device.Receive(packet.data(), packet.size(), out);
        ASSERT_TRUE(device.BootLoaderOwner());
        owner = *device.BootLoaderOwner();
        // AN3155 bytes straight into the device: sync, then Go to the flash base.
        const Bytes go{0x7F, 0x21, 0xDE, 0x08, 0x00, 0x00, 0x00, 0x08};
        device.Receive(go.data(), go.size(), out);
        EXPECT_FALSE(device.BootLoaderOwner());
        EXPECT_EQ(device.Version(CSimDevice::Processor::KCPU), "V 01.05.00");
    });
    EXPECT_EQ(owner, CSimDevice::Processor::KCPU);
}

TEST(CSimFlash, ExpanderImageTravelsAsAcknowledgedBlocksAndGoReportsTheExpandersAgain)
{
    auto server = Serve(R"({"device": {"hardware": "QTR-2",
        "expanders": [{"type": 16, "version": "V 02.03.00"}, {"type": "0x21", "version": "V 02.02.01"}]}})");
    ProgramSide program(server->Path());

    // The remote control's own ECPU is not flashed through blocks.
    program.Send([](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqUpdateExpander(b, 16); });
    EXPECT_EQ(program.Expect(0x4014)[7], 3);
    program.Send([](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqUpdateExpander(b, 0x21); });
    EXPECT_EQ(program.Expect(0x4014)[7], 0);

    const Bytes image = ImageWithVersion(600, "V 02.04.01");
    std::uint32_t address = 0x08000000;
    for (std::size_t offset = 0; offset < image.size(); offset += 256) {
        const std::size_t n = std::min<std::size_t>(256, image.size() - offset);
        // A Write Memory block: count - 1, the bytes, their XOR.
        Bytes block(n + 2);
        block[0] = static_cast<std::uint8_t>(n - 1);
        std::copy_n(image.begin() + static_cast<std::ptrdiff_t>(offset), n, block.begin() + 1);
        std::uint8_t x = 0;
        for (std::size_t i = 0; i <= n; ++i)
            x ^= block[i];
        block[n + 1] = x;
        if (offset == 256) {
            // A damaged block is refused with the checksum status and written nowhere.
            Bytes damaged = block;
            damaged.back() ^= 0x01;
            program.Send([&](CZELCommandSet& c, std::uint8_t* b) {
                return c.PrepareReqSendFirmware(b, address, static_cast<std::uint16_t>(damaged.size()), damaged.data());
            });
            EXPECT_EQ(program.commands.ProcessAckSendFirmware(program.Expect(0x4015).data()), 2);
        }
        program.Send([&](CZELCommandSet& c, std::uint8_t* b) {
            return c.PrepareReqSendFirmware(b, address, static_cast<std::uint16_t>(block.size()), block.data());
        });
        std::uint8_t status = 0xEE;
        ASSERT_EQ(program.commands.ProcessAckSendFirmware(program.Expect(0x4015).data(), &status), ZEL_STATUS_SUCCESS);
        EXPECT_EQ(status, 0);
        address += static_cast<std::uint32_t>(n);
    }
    // Go to the flash base, as the bootloader module sends it.
    program.SendRaw({0x42, 0x16, 0x00, 0x04, 0x00, 0, 0, 0x00, 0x00, 0x00, 0x08, 0});
    EXPECT_EQ(program.commands.ProcessNotExpanderFinished(program.Expect(0x8016).data()), ZEL_STATUS_SUCCESS);
    server->Inspect([&](CSimDevice& device) { EXPECT_EQ(device.ExpanderImage(), image); });

    program.Send([](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqGetExpanders(b); });
    program.Expect(0x4013);
    program.Expect(0x8013);
    std::uint8_t total = 0;
    std::uint16_t type = 0;
    char version[33];
    ASSERT_EQ(program.commands.ProcessNotExpander(program.Expect(0x8013).data(), &total, &type, version), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(type, 0x21);
    EXPECT_STREQ(version, "V 02.04.01");
}

TEST(CSimFlash, ModuleFlashChecksEveryPieceAndTheWholeImage)
{
    struct Case
    {
        const char* name;
        std::optional<std::size_t> damagedPiece; // its CRC is sent wrong
        bool damagedImageCrc;
    };
    const Case cases[] = {{"good image", std::nullopt, false}, {"bad piece CRC", 1, false}, {"bad image CRC", std::nullopt, true}};
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        auto server = Serve(R"({"device": {"hardware": "VHX-3",
            "canDrivers": [{"module": 2, "board": 100, "bootloader": 100, "main": 203}]}})");
        ProgramSide program(server->Path());
        program.Send([](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqSetMCPUMode(b, 4); });
        program.Expect(0x401F);
        program.SetProtocol(0x4801);

        Bytes image = ImageWithVersion(301, "V 02.07.00");
        image.resize(304, 0xFF); // padded to a multiple of 4 as the program does
        program.Send([&](CZELCommandSet& c, std::uint8_t* b) {
            return c.PrepareReqModuleFlashStart(b, 2, static_cast<std::uint32_t>(image.size()));
        });
        std::uint8_t confirmed = 0;
        ASSERT_EQ(program.commands.ProcessAckConfirm(program.Expect(0x43).data(), &confirmed), ZEL_STATUS_SUCCESS);
        EXPECT_EQ(confirmed, 'N');

        std::uint8_t packetNumber = 0;
        for (std::size_t offset = 0; offset < image.size(); offset += 128, ++packetNumber) {
            const std::size_t n = std::min<std::size_t>(128, image.size() - offset);
            std::uint32_t crc = Crc32(image.data() + offset, n);
            const bool damaged = test.damagedPiece == packetNumber;
            if (damaged)
                crc ^= 1;
            program.Send([&](CZELCommandSet& c, std::uint8_t* b) {
                return c.PrepareReqModuleFlashWrite(b, 2, packetNumber, static_cast<std::uint32_t>(offset), crc,
                    image.data() + offset, static_cast<std::uint32_t>(n));
            });
            if (damaged) {
                std::uint8_t code = 0;
                std::uint32_t data = 0;
                ASSERT_EQ(program.commands.ProcessAckError(program.Expect(0xFF).data(), &code, &data), ZEL_STATUS_SUCCESS);
                EXPECT_EQ(code, 1);
                EXPECT_EQ(data, crc ^ 1); // the CRC the device calculated
                continue;
            }
            const Bytes confirm = program.Expect(0x43);
            ASSERT_EQ(program.commands.ProcessAckConfirm(confirm.data(), &confirmed), ZEL_STATUS_SUCCESS);
            EXPECT_EQ(confirmed, 'Q');
            EXPECT_EQ(confirm[5], packetNumber); // the echoed packet number
        }

        std::uint32_t whole = Crc32(image.data(), image.size());
        if (test.damagedImageCrc)
            whole ^= 0x80000000u;
        program.Send([&](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqModuleFlashFinish(b, 2, whole); });
        const Bytes finish = program.Next().value_or(Bytes(8, 0));
        const bool good = !test.damagedPiece && !test.damagedImageCrc;
        if (good) {
            ASSERT_EQ(ProgramSide::Id(finish), 0x43);
            ASSERT_EQ(program.commands.ProcessAckConfirm(finish.data(), &confirmed), ZEL_STATUS_SUCCESS);
            EXPECT_EQ(confirmed, 'S');
        } else {
            ASSERT_EQ(ProgramSide::Id(finish), 0xFF);
            std::uint8_t code = 0;
            std::uint32_t data = 0;
            program.commands.ProcessAckError(finish.data(), &code, &data);
            EXPECT_EQ(code, 2);
        }

        program.Send([](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqModuleList(b); });
        _MCPU_CAN_DRIVER drivers[3];
        std::uint8_t count = 0;
        ASSERT_EQ(program.commands.ProcessAckModuleList(program.Expect(0x4C).data(), drivers, &count, 3), ZEL_STATUS_SUCCESS);
        ASSERT_EQ(count, 1);
        EXPECT_EQ(drivers[0].mainVersion, good ? 207 : 203);
    }
}
