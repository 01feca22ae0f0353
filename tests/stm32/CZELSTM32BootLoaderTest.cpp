#include "zel/stm32/CZELSTM32BootLoader.h"

#include "sim/CSimSTM32BootLoader.h"
#include "stm32/SimulatedLine.h"
#include "support/ZELTestSupport.h"
#include "zel/foundation/CZELTimeTable.h"
#include "zel/foundation/ZELStatus.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <mutex>
#include <thread>

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using ZELTest::SimulatedLine;

namespace {

// Answer waits of 100 ms instead of 5 s.
class ScaledTimes : public ::testing::Environment
{
public:
    void SetUp() override { ZELScaleTimesForTests(50); }
};
[[maybe_unused]] const auto* const kScaledTimes = ::testing::AddGlobalTestEnvironment(new ScaledTimes);

// Exposes the protocol operations.
class BootLoaderClient : public CZELSTM32BootLoader
{
public:
    using CZELSTM32BootLoader::stm32_close;
    using CZELSTM32BootLoader::stm32_erase_flash;
    using CZELSTM32BootLoader::stm32_extended_erase_flash;
    using CZELSTM32BootLoader::stm32_get_chip_id;
    using CZELSTM32BootLoader::stm32_get_version;
    using CZELSTM32BootLoader::stm32_go_command;
    using CZELSTM32BootLoader::stm32_init;
    using CZELSTM32BootLoader::stm32_write_flash;
    using CZELSTM32BootLoader::stm32_write_unprotect;
};

// A simulated bootloader behind a line, and the client.
class CZELSTM32BootLoaderTest : public ::testing::Test
{
protected:
    void Start(CSimSTM32BootLoader::Settings settings = {})
    {
        line.reset(); // a previous line must stop serving before its chip goes
        chip = std::make_unique<CSimSTM32BootLoader>(std::move(settings));
        line = std::make_unique<SimulatedLine>([this](const std::uint8_t* data, std::size_t n) { return chip->Receive(data, n); });
    }
    // Serves answers that the test script gives, one per block of expected input.
    void Script(std::deque<std::pair<std::size_t, Bytes>> steps)
    {
        line = std::make_unique<SimulatedLine>([this, steps, pending = std::size_t(0)](const std::uint8_t*, std::size_t n) mutable {
            Bytes answer;
            pending += n;
            while (!steps.empty() && pending >= steps.front().first) {
                pending -= steps.front().first;
                answer.insert(answer.end(), steps.front().second.begin(), steps.front().second.end());
                steps.pop_front();
            }
            return answer;
        });
    }
    // A copy of the chip's state, taken while the line does not serve.
    CSimSTM32BootLoader Chip() { return line->Locked([this] { return *chip; }); }
    int Connect() { return client.stm32_init(line->Path().c_str(), CZELSTM32BootLoader::kBaudRate); }

    static CZELSTM32BootLoader::ReadFunction Reader(const Bytes& image)
    {
        return [&image, offset = std::size_t(0)](std::uint8_t* buffer, std::uint32_t count) mutable {
            const std::size_t n = std::min<std::size_t>(count, image.size() - offset);
            std::copy_n(image.begin() + static_cast<std::ptrdiff_t>(offset), n, buffer);
            offset += n;
            return static_cast<std::uint32_t>(n);
        };
    }

    static Bytes Image(std::size_t size)
    {
        Bytes image(size);
        for (std::size_t i = 0; i < size; ++i)
            image[i] = static_cast<std::uint8_t>(i * 7 + 3);
        return image;
    }

    std::unique_ptr<CSimSTM32BootLoader> chip;
    std::unique_ptr<SimulatedLine> line;
    BootLoaderClient client;
};

} // namespace

TEST_F(CZELSTM32BootLoaderTest, FlashesAnImageEndToEnd)
{
    Start();
    ASSERT_EQ(Connect(), 0);
    unsigned char major = 0;
    unsigned char minor = 0;
    ASSERT_EQ(client.stm32_get_version(&major, &minor), 0);
    EXPECT_EQ(major, 3);
    EXPECT_EQ(minor, 1);
    unsigned short id = 0;
    ASSERT_EQ(client.stm32_get_chip_id(&id), 0);
    EXPECT_EQ(id, 0x0413);
    ASSERT_EQ(client.stm32_extended_erase_flash(), 0);

    const Bytes image = Image(1000);
    std::vector<std::uint32_t> progress;
    ASSERT_EQ(client.stm32_write_flash(Reader(image), [&](std::uint32_t n) { progress.push_back(n); }), 0);
    EXPECT_EQ(progress, (std::vector<std::uint32_t>{256, 512, 768, 1000}));
    ASSERT_EQ(client.stm32_go_command(), 0);
    EXPECT_EQ(Chip().ProgrammedImage(), image);
    EXPECT_TRUE(Chip().HasStarted());
    EXPECT_EQ(Chip().StartAddress(), 0x08000000u);
}

TEST_F(CZELSTM32BootLoaderTest, WritesBlocksOfAtMost256BytesAtRisingAddresses)
{
    Start();
    ASSERT_EQ(Connect(), 0);
    ASSERT_EQ(client.stm32_extended_erase_flash(), 0);
    const std::size_t before = line->Received().size();
    const Bytes image = Image(300);
    ASSERT_EQ(client.stm32_write_flash(Reader(image), nullptr), 0);
    const Bytes wire = line->Received();
    const Bytes written(wire.begin() + static_cast<std::ptrdiff_t>(before), wire.end());

    // 0x31 0xCE, address and XOR, length byte, data, XOR - per block.
    ASSERT_EQ(written.size(), (2 + 5 + 1 + 256 + 1) + (2 + 5 + 1 + 44 + 1));
    EXPECT_EQ(Bytes(written.begin(), written.begin() + 8), (Bytes{0x31, 0xCE, 0x08, 0x00, 0x00, 0x00, 0x08, 0xFF}));
    const auto second = written.begin() + 265;
    EXPECT_EQ(Bytes(second, second + 8), (Bytes{0x31, 0xCE, 0x08, 0x00, 0x01, 0x00, 0x09, 0x2B}));
    EXPECT_EQ(Chip().ProgrammedImage(), image);
}

// The bootloader writes whole words: a last block of 1 to 3 bytes past a word is filled with
// erased bytes, which a small flash still holds when the image ends one byte before its end.
TEST_F(CZELSTM32BootLoaderTest, LastBlockIsFilledToAWholeWord)
{
    struct Case
    {
        std::size_t size;
        std::uint32_t flashSize;
        std::uint8_t lastLengthByte; // count - 1 of the last block
    };
    const Case cases[] = {
        {1, 256 * 1024, 3},
        {257, 256 * 1024, 3},
        {258, 256 * 1024, 3},
        {259, 256 * 1024, 3},
        {260, 256 * 1024, 3},
        {302, 256 * 1024, 47},
        {1023, 1024, 255},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        CSimSTM32BootLoader::Settings settings;
        settings.flashSize = c.flashSize;
        settings.pageSize = 256;
        Start(settings);
        ASSERT_EQ(Connect(), 0);
        ASSERT_EQ(client.stm32_extended_erase_flash(), 0);
        const std::size_t before = line->Received().size();
        const Bytes image = Image(c.size);
        std::uint32_t reported = 0;
        ASSERT_EQ(client.stm32_write_flash(Reader(image), [&](std::uint32_t n) { reported = n; }), 0)
            << client.DescribeLastFailure();
        EXPECT_EQ(reported, c.size) << "progress counts the image's bytes";

        const Bytes wire = line->Received();
        const std::size_t blocks = (c.size + 255) / 256;
        const std::size_t last = before + (blocks - 1) * (2 + 5 + 1 + 256 + 1);
        ASSERT_GT(wire.size(), last + 8);
        EXPECT_EQ(wire[last + 7], c.lastLengthByte);
        const std::size_t filled = c.lastLengthByte + 1u;
        const std::size_t data = c.size - (blocks - 1) * 256;
        ASSERT_EQ(wire.size(), last + 8 + filled + 1);
        EXPECT_TRUE(std::all_of(wire.begin() + static_cast<std::ptrdiff_t>(last + 8 + data),
            wire.begin() + static_cast<std::ptrdiff_t>(last + 8 + filled), [](std::uint8_t b) { return b == 0xFF; }));
        const Bytes flash = Chip().Flash();
        EXPECT_EQ(Bytes(flash.begin(), flash.begin() + static_cast<std::ptrdiff_t>(c.size)), image);
        client.stm32_close();
    }
}

TEST_F(CZELSTM32BootLoaderTest, GoSendsExactlyTheCommandAndTheFlashBase)
{
    Start();
    ASSERT_EQ(Connect(), 0);
    const std::size_t before = line->Received().size();
    ASSERT_EQ(client.stm32_go_command(), 0);
    const Bytes wire = line->Received();
    EXPECT_EQ(Bytes(wire.begin() + static_cast<std::ptrdiff_t>(before), wire.end()),
        (Bytes{0x21, 0xDE, 0x08, 0x00, 0x00, 0x00, 0x08}));
}

TEST_F(CZELSTM32BootLoaderTest, SynchronisationAcceptsAckAndNackOnly)
{
    struct Case
    {
        const char* name;
        Bytes answer;
        int result;
    };
    const Case cases[] = {
        {"ACK", {0x79}, 0},
        {"NACK of a bootloader synchronised before", {0x1F}, 0},
        {"another byte", {0x00}, 3},
        {"silence", {}, 3},
    };
    for (const Case& c : cases) {
        Script({{1, c.answer}});
        EXPECT_EQ(Connect(), c.result) << c.name;
        client.stm32_close();
    }
}

// A processor just switched to its bootloader may not listen yet: 0x7F goes out again for a
// bounded time, and the bootloader that answers late then takes commands as usual.
TEST_F(CZELSTM32BootLoaderTest, SynchronisationWaitsForABootloaderStillStarting)
{
    struct Case
    {
        const char* name;
        std::chrono::milliseconds readyDelay;
        bool silent;
        int result;
    };
    const auto bound = ZELTimes().stm32SyncTimeout;
    const Case cases[] = {
        {"ready at once", 0ms, false, 0},
        {"ready after three quarters of the bound", bound * 3 / 4, false, 0},
        {"never answers", 0ms, true, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CSimSTM32BootLoader::Settings settings;
        settings.readyDelay = c.readyDelay;
        settings.silent = c.silent;
        const auto start = std::chrono::steady_clock::now();
        Start(settings);
        ASSERT_EQ(Connect(), c.result) << client.DescribeLastFailure();
        const auto elapsed = std::chrono::steady_clock::now() - start;
        const Bytes wire = line->Received();
        if (c.result != 0) {
            EXPECT_GE(elapsed, bound) << "0x7F was repeated for the whole bound";
            EXPECT_GT(std::count(wire.begin(), wire.end(), 0x7F), 1);
            continue;
        }
        if (c.readyDelay > 0ms) {
            EXPECT_GT(std::count(wire.begin(), wire.end(), 0x7F), 1) << "0x7F was repeated";
        }
        unsigned char major = 0;
        unsigned char minor = 0;
        EXPECT_EQ(client.stm32_get_version(&major, &minor), 0) << client.DescribeLastFailure();
        EXPECT_EQ(major, 3);
        client.stm32_close();
    }
}

TEST_F(CZELSTM32BootLoaderTest, GetReadsExactlyNPlusOneBytesThenTheClosingAck)
{
    // N = 0: only the version byte follows, then ACK.
    Script({{1, {0x79}}, {2, {0x79, 0x00, 0x22, 0x79}}});
    ASSERT_EQ(Connect(), 0);
    unsigned char major = 0;
    unsigned char minor = 0;
    EXPECT_EQ(client.stm32_get_version(&major, &minor), 0);
    EXPECT_EQ(major, 2);
    EXPECT_EQ(minor, 2);
}

TEST_F(CZELSTM32BootLoaderTest, ProtocolFailuresKeepTheirCause)
{
    struct Case
    {
        const char* name;
        CSimSTM32BootLoader::Settings settings;
        std::function<int(BootLoaderClient&)> run;
        CZELSTM32BootLoader::Failure failure;
    };
    CSimSTM32BootLoader::Settings nackErase;
    nackErase.nackCommands = {0x44};
    CSimSTM32BootLoader::Settings twoIdBytes;
    twoIdBytes.getIdCount = 2;
    CSimSTM32BootLoader::Settings plainEraseOnly;
    plainEraseOnly.version = 0x21;
    const Case cases[] = {
        {"NACK to extended erase", nackErase, [](BootLoaderClient& c) { return c.stm32_extended_erase_flash(); },
            CZELSTM32BootLoader::Failure::Nack},
        {"Get ID with N other than 1", twoIdBytes, [](BootLoaderClient& c) {
             unsigned short id = 0;
             return c.stm32_get_chip_id(&id);
         },
            CZELSTM32BootLoader::Failure::Unexpected},
        {"extended erase on a 2.1 bootloader", plainEraseOnly,
            [](BootLoaderClient& c) { return c.stm32_extended_erase_flash(); }, CZELSTM32BootLoader::Failure::Nack},
        {"programming flash that is not erased", {}, [](BootLoaderClient& c) {
             const Bytes image = Image(16);
             if (c.stm32_extended_erase_flash() != 0 || c.stm32_write_flash(Reader(image), nullptr) != 0)
                 return -1;
             return c.stm32_write_flash(Reader(image), nullptr);
         },
            CZELSTM32BootLoader::Failure::Nack},
    };
    for (const Case& c : cases) {
        Start(c.settings);
        ASSERT_EQ(Connect(), 0) << c.name;
        EXPECT_EQ(c.run(client), 2) << c.name;
        EXPECT_EQ(client.LastFailure(), c.failure) << c.name << ": " << client.DescribeLastFailure();
        client.stm32_close();
    }
}

TEST_F(CZELSTM32BootLoaderTest, PlainEraseAndUnprotectOnAnOlderBootloader)
{
    CSimSTM32BootLoader::Settings settings;
    settings.version = 0x21;
    Start(settings);
    ASSERT_EQ(Connect(), 0);
    ASSERT_EQ(client.stm32_write_unprotect(), 0) << client.DescribeLastFailure();
    EXPECT_TRUE(Chip().IsSynchronised()) << "synchronised again after the restart";
    ASSERT_EQ(client.stm32_erase_flash(), 0);
    EXPECT_EQ(Chip().EraseCount(), 1);
}

TEST_F(CZELSTM32BootLoaderTest, SilentBootloaderTimesOutInsteadOfHanging)
{
    Script({{1, {0x79}}});
    ASSERT_EQ(Connect(), 0);
    unsigned short id = 0;
    EXPECT_EQ(client.stm32_get_chip_id(&id), 2);
    EXPECT_EQ(client.LastFailure(), CZELSTM32BootLoader::Failure::Timeout);
}

TEST_F(CZELSTM32BootLoaderTest, EveryCommandNeedsAnOpenPort)
{
    unsigned char major = 0;
    unsigned short id = 0;
    const std::function<int()> commands[] = {
        [&] { return client.stm32_get_version(&major, &major); },
        [&] { return client.stm32_get_chip_id(&id); },
        [&] { return client.stm32_write_unprotect(); },
        [&] { return client.stm32_erase_flash(); },
        [&] { return client.stm32_extended_erase_flash(); },
        [&] { return client.stm32_write_flash(Reader(Image(10)), nullptr); },
        [&] { return client.stm32_go_command(); },
    };
    for (const auto& command : commands) {
        EXPECT_EQ(command(), 5);
        EXPECT_EQ(client.LastFailure(), CZELSTM32BootLoader::Failure::PortNotOpen);
    }
}

TEST_F(CZELSTM32BootLoaderTest, PortThatCannotBeOpenedIsResultOne)
{
    EXPECT_EQ(client.stm32_init("/nonexistent/ttyX", CZELSTM32BootLoader::kBaudRate), 1);
    EXPECT_EQ(client.LastFailure(), CZELSTM32BootLoader::Failure::OpenFailed);
    EXPECT_EQ(client.LastError(), ENOENT);
}

// The look for a processor waiting in its bootloader: a fresh one and one synchronised before
// both answer, one left in the middle of a write is brought back by the flush, a silent line and a
// missing port are told apart.
TEST_F(CZELSTM32BootLoaderTest, ProbeFindsAWaitingBootloader)
{
    struct Case
    {
        const char* name;
        Bytes before; // what the chip got earlier, from a program that is gone
        bool silent;
        long expected;
    };
    // Synchronised, then Write Memory at 0x08000000 for 256 bytes of which 10 came.
    Bytes cutOff = { 0x7F, 0x31, 0xCE, 0x08, 0x00, 0x00, 0x00, 0x08, 0xFF };
    cutOff.resize(cutOff.size() + 10, 0x55);
    const Case cases[] = {
        { "fresh", {}, false, ZEL_STATUS_SUCCESS },
        { "synchronised before", { 0x7F }, false, ZEL_STATUS_SUCCESS },
        { "cut off in a write", cutOff, false, ZEL_STATUS_SUCCESS },
        { "nothing answers", {}, true, ZEL_STATUS_NOT_FOUND },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CSimSTM32BootLoader::Settings settings;
        settings.version = 0x31;
        settings.chipId = 0x0419;
        settings.silent = c.silent;
        Start(settings);
        if (!c.before.empty())
            line->Locked([&] { chip->Receive(c.before.data(), c.before.size()); return 0; });
        CZELSTM32BootLoader::Identity found;
        ASSERT_EQ(client.ProbeBootloader(line->Path(), found), c.expected);
        if (c.expected == ZEL_STATUS_SUCCESS) {
            EXPECT_EQ(found.chipId, 0x0419);
            EXPECT_EQ(found.major, 3);
            EXPECT_EQ(found.minor, 1);
        }
        // The probe leaves the port to the transfer that follows.
        EXPECT_EQ(Connect(), c.silent ? 3 : 0);
        client.stm32_close();
    }
    CZELSTM32BootLoader::Identity found;
    EXPECT_EQ(client.ProbeBootloader("/nonexistent/ttyUSB9", found), ZEL_STATUS_NO_CONNECTION);
    EXPECT_EQ(client.LastFailure(), CZELSTM32BootLoader::Failure::OpenFailed);
}
