// Firmware transmissions from a firmware file: straight to the simulated bootloader over a
// pseudo-terminal, and block by block through a device that acknowledges each block.

#include "zel/stm32/CZELSTM32BootLoader.h"

#include "log/ZELLogCapture.h"
#include "sim/CSimSTM32BootLoader.h"
#include "stm32/SimulatedLine.h"
#include "support/ZELTestSupport.h"
#include "zel/firmware/CZELFileHeader.h"
#include "zel/foundation/ZELStatus.h"
#include "zel/queue/CZELMessage.h"
#include "zel/queue/CZELMessageQueue.h"

#include <gtest/gtest.h>

#include <cstring>

using Bytes = std::vector<std::uint8_t>;
using ZELTest::SimulatedLine;

namespace {

Bytes Image(std::size_t size)
{
    Bytes image(size);
    for (std::size_t i = 0; i < size; ++i)
        image[i] = static_cast<std::uint8_t>(i * 13 + 5);
    return image;
}

// Packs `image` as a firmware file in the current directory.
std::string WriteFirmware(const Bytes& image, const std::string& name = "fw.tarn")
{
    ZELTest::WriteFile("image.bin", std::string(image.begin(), image.end()));
    _FILE_HEADER header {};
    header.fileType = 1;
    std::strcpy(header.version, "V 01.02.03");
    EXPECT_EQ(GetZELFileHeader().CreateNewFile("image.bin", name, &header), ZEL_STATUS_SUCCESS);
    return name;
}

constexpr int kVerifyPhase = -1; // where ProgressQueue saw the verify begin

// Takes the progress messages off the hub; without a worker they wait in the queue.
class ProgressQueue : public CZELMessageQueue
{
public:
    ProgressQueue() { GetZELMessageQueue().Register(this); }
    ~ProgressQueue() override { GetZELMessageQueue().Unregister(this); }

    std::vector<int> Take()
    {
        std::vector<int> values;
        CZELMessage message;
        while (PopMessage(message) == ZEL_STATUS_SUCCESS) {
            if (message.GetMessageType() == ZEL_MESSAGE_TRANSFER_PROGRESS && message.GetBufferSize() == 1)
                values.push_back(*static_cast<const std::uint8_t*>(message.GetBuffer()));
            if (message.GetMessageType() == ZEL_MESSAGE_TRANSFER_PHASE && message.GetBufferSize() == 1
                && *static_cast<const std::uint8_t*>(message.GetBuffer()) == ZEL_TRANSFER_PHASE_VERIFY)
                values.push_back(kVerifyPhase);
        }
        return values;
    }
};

class DirectClient : public CZELSTM32BootLoader
{
public:
    using CZELSTM32BootLoader::IsPortOpen;
};

// A bootloader on a line, a log that records every line and the progress on the hub.
class TransmitFirmwareTest : public ::testing::Test
{
protected:
    void Start(CSimSTM32BootLoader::Settings settings = {})
    {
        line.reset();
        chip = std::make_unique<CSimSTM32BootLoader>(std::move(settings));
        line = std::make_unique<SimulatedLine>([this](const std::uint8_t* data, std::size_t n) {
            Bytes answer = chip->Receive(data, n);
            return onAnswer ? onAnswer(std::move(answer)) : answer;
        });
    }
    CSimSTM32BootLoader Chip()
    {
        return line->Locked([this] { return *chip; });
    }
    void Configure(const std::function<void(CSimSTM32BootLoader::Settings&)>& change)
    {
        line->Locked([&] {
            change(chip->Configuration());
            return 0;
        });
    }
    long Transmit(const std::string& file) { return client.TransmitFirmware(line->Path(), file); }
    // Waits for the last line a transfer writes, so that later checks see every line before it.
    bool WaitForLine(const std::string& text) { return log.sink.WaitForLine(text); }

    ZELTest::ScopedSystemLog log;
    ProgressQueue progress;
    // Changes what the chip puts on the line; called while the line is locked.
    std::function<Bytes(Bytes)> onAnswer;
    std::unique_ptr<CSimSTM32BootLoader> chip;
    std::unique_ptr<SimulatedLine> line;
    DirectClient client;
};

TEST_F(TransmitFirmwareTest, FlashesTheDecryptedImageAndReportsEachStep)
{
    Start();
    const Bytes image = Image(1000);
    ASSERT_EQ(Transmit(WriteFirmware(image)), ZEL_STATUS_SUCCESS);

    EXPECT_EQ(Chip().ProgrammedImage(), image);
    EXPECT_TRUE(Chip().HasStarted());
    EXPECT_FALSE(client.IsPortOpen());
    EXPECT_EQ(ZELTest::ReadFile("temp.bin"), std::string(image.begin(), image.end())) << "the plain image stays";
    EXPECT_EQ(progress.Take(), (std::vector<int> { 25, 51, 76, 100 }));

    ASSERT_TRUE(WaitForLine("The Go command has been sent."));
    const char* const steps[]
        = { "Preparing update file ...", "The update file has been prepared.", "Found bootloader version: 3.1",
              "Detected chip ID: 0x0413", "The chip is going to be erased ...", "The chip has been erased.",
              "The chip is going to be programmed ...", "The chip has been programmed.", "Sending Go command ..." };
    const auto lines = log.sink.Lines();
    auto at = lines.begin();
    for (const char* step : steps) {
        at = std::find_if(at, lines.end(), [&](const std::string& l) { return l.find(step) != std::string::npos; });
        EXPECT_NE(at, lines.end()) << "missing or out of order: " << step;
    }
}

// The bootloader version decides whether and how the chip is erased.
TEST_F(TransmitFirmwareTest, BootloaderVersionSelectsTheErase)
{
    struct Case
    {
        std::uint8_t version;
        long result;
        const char* versionLine;
        int extendedErases; // lines "The chip is going to be erased ..."
        bool programmed;
    };
    const Case cases[] = {
        { 0x20, ZEL_STATUS_UNSPECIFIC_ERROR, "Found bootloader version: 2.0", 0, false },
        { 0x21, ZEL_STATUS_SUCCESS, "Found bootloader version: 2.1", 0, true },
        { 0x31, ZEL_STATUS_SUCCESS, "Found bootloader version: 3.1", 1, true },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.versionLine);
        CSimSTM32BootLoader::Settings settings;
        settings.version = c.version;
        Start(settings);
        const char* last
            = c.programmed ? "The Go command has been sent." : "The version of the bootloader is not supported.";
        const std::size_t lastBefore = log.sink.CountContaining(last);
        const std::size_t before = log.sink.Lines().size();
        const Bytes image = Image(600);
        EXPECT_EQ(Transmit(WriteFirmware(image)), c.result);
        ASSERT_TRUE(log.sink.WaitForLine(last, lastBefore + 1)) << last;
        const auto all = log.sink.Lines();
        const std::vector<std::string> lines(all.begin() + static_cast<std::ptrdiff_t>(before), all.end());
        const auto count = [&](const char* text) {
            return std::count_if(
                lines.begin(), lines.end(), [&](const std::string& l) { return l.find(text) != std::string::npos; });
        };
        EXPECT_EQ(count(c.versionLine), 1);
        EXPECT_EQ(count("The chip is going to be erased ..."), c.extendedErases);
        EXPECT_EQ(count("The chip has been erased."), c.programmed ? 1 : 0);
        EXPECT_EQ(Chip().EraseCount(), c.programmed ? 1 : 0);
        EXPECT_EQ(Chip().ProgrammedImage(), c.programmed ? image : Bytes {});
        EXPECT_FALSE(client.IsPortOpen());
    }
}

// Every step's failure ends in its own text with the port closed, and the chip, still in its
// bootloader, takes the next attempt, whose progress starts again at 1 percent.
TEST_F(TransmitFirmwareTest, FailuresEndInTheirTextAndASecondAttemptSucceeds)
{
    struct Case
    {
        const char* name;
        std::function<void(CSimSTM32BootLoader::Settings&)> fault;
        const char* text;
        const char* cause = nullptr; // the cause the log is told, where the case names it
    };
    const Case cases[] = {
        { "silent", [](auto& s) { s.silent = true; }, "Unable to connect to bootloader." },
        { "Get refused", [](auto& s) { s.nackCommands = { 0x00 }; }, "Unable to get bootloader version." },
        { "Get ID refused", [](auto& s) { s.nackCommands = { 0x02 }; }, "The chip ID could not be determined." },
        { "Get ID with two bytes", [](auto& s) { s.getIdCount = 2; }, "The chip ID could not be determined." },
        { "extended erase refused", [](auto& s) { s.nackCommands = { 0x44 }; }, "The chip could not be erased." },
        { "erase refused",
            [](auto& s) {
                s.version = 0x22;
                s.nackCommands = { 0x43 };
            },
            "The chip could not be erased." },
        { "write refused", [](auto& s) { s.nackCommands = { 0x31 }; }, "The chip could not be programmed.",
            "NACK (0x1F) to command 0x31 (write at 0x08000000)" },
        { "write refused at the second block", [](auto& s) { s.protectedFrom = 0x08000100; },
            "The chip could not be programmed.", "NACK (0x1F) to command 0x31 (write at 0x08000100)" },
        { "Go refused", [](auto& s) { s.nackCommands = { 0x21 }; }, "The Go command could not be sent." },
    };
    const Bytes image = Image(1000);
    const std::string file = WriteFirmware(image);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Start();
        Configure(c.fault);
        const std::size_t failures = log.sink.CountContaining(c.text);
        EXPECT_EQ(Transmit(file), ZEL_STATUS_UNSPECIFIC_ERROR);
        EXPECT_FALSE(client.IsPortOpen());
        EXPECT_TRUE(log.sink.WaitForLine(c.text, failures + 1));
        if (c.cause != nullptr) {
            EXPECT_EQ(client.DescribeLastFailure(), c.cause);
        }
        progress.Take();

        // The update switches the processor to its bootloader again, which keeps its flash.
        line->Locked([this] {
            chip->Configuration() = CSimSTM32BootLoader::Settings {};
            chip->Reset();
            return 0;
        });
        EXPECT_EQ(Transmit(file), ZEL_STATUS_SUCCESS) << client.DescribeLastFailure();
        EXPECT_EQ(Chip().ProgrammedImage(), image);
        EXPECT_EQ(progress.Take(), (std::vector<int> { 25, 51, 76, 100 }));
    }
}

// The read-back before Go: a byte the chip stored wrongly keeps the processor in its bootloader and
// is named; a chip that refuses to be read is only warned about; without the setting nothing is read.
TEST_F(TransmitFirmwareTest, VerifyAfterWriteReadsTheFlashBackBeforeGo)
{
    struct Case
    {
        const char* name;
        bool verify;
        std::size_t size;
        std::function<void(CSimSTM32BootLoader::Settings&)> chip;
        long result;
        bool started;
        int reads;             // Read Memory commands the chip received
        const char* last;      // the transfer's last log line
        const char* line;      // a line the verify logs, or nullptr
        std::vector<int> progress;
        const char* cause = nullptr;
    };
    const std::vector<int> plain { 25, 51, 76, 100 };
    const std::vector<int> verified { 25, 51, 76, 100, kVerifyPhase, 25, 51, 76, 100 };
    const Case cases[] = {
        { "healthy chip", true, 1000, [](auto&) {}, ZEL_STATUS_SUCCESS, true, 4, "The Go command has been sent.",
            "The chip has been verified: 1000 bytes compared.", verified },
        // Block 2 from 0x08000100; image byte 0x123 is 0xCC.
        { "one byte stored wrongly", true, 1000, [](auto& s) { s.corruptWriteAt = 0x08000123; },
            ZEL_STATUS_UNSPECIFIC_ERROR, false, 2, "The chip could not be verified.",
            "Verify: the byte at 0x08000123 reads 0x33, written 0xCC", { 25, 51, 76, 100, kVerifyPhase, 25 },
            "the byte at 0x08000123 reads 0x33, written 0xCC" },
        // The last image byte, in a block filled up to a whole word, is compared; the fill is not.
        { "last byte of an image that ends within a word", true, 1001, [](auto& s) { s.corruptWriteAt = 0x080003E8; },
            ZEL_STATUS_UNSPECIFIC_ERROR, false, 4, "The chip could not be verified.",
            "Verify: the byte at 0x080003E8 reads 0x32, written 0xCD", { 25, 51, 76, 100, kVerifyPhase, 25, 51, 76 } },
        { "read-out protection", true, 1000, [](auto& s) { s.readProtected = true; }, ZEL_STATUS_SUCCESS, true, 1,
            "The Go command has been sent.",
            "The chip refuses to be read (read-out protection): the image has not been verified.",
            { 25, 51, 76, 100, kVerifyPhase } },
        { "setting off", false, 1000, [](auto&) {}, ZEL_STATUS_SUCCESS, true, 0, "The Go command has been sent.",
            nullptr, plain },
        { "setting off, the stored fault goes unnoticed", false, 1000, [](auto& s) { s.corruptWriteAt = 0x08000123; },
            ZEL_STATUS_SUCCESS, true, 0, "The Go command has been sent.", nullptr, plain },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Start();
        Configure(c.chip);
        client.SetVerifyAfterWrite(c.verify);
        const Bytes image = Image(c.size);
        const std::size_t lastBefore = log.sink.CountContaining(c.last);
        const std::size_t goBefore = log.sink.CountContaining("Sending Go command ...");
        const std::size_t verifyBefore = log.sink.CountContaining("Verifying the chip ...");
        EXPECT_EQ(Transmit(WriteFirmware(image)), c.result) << client.DescribeLastFailure();
        ASSERT_TRUE(log.sink.WaitForLine(c.last, lastBefore + 1));
        EXPECT_EQ(Chip().HasStarted(), c.started);
        EXPECT_EQ(Chip().ReadCount(), c.reads);
        // The whole image was written whatever the read-back found.
        EXPECT_EQ(client.LastBytesWritten(), c.size);
        EXPECT_FALSE(client.IsPortOpen());
        EXPECT_EQ(progress.Take(), c.progress);
        EXPECT_EQ(log.sink.CountContaining("Sending Go command ..."), goBefore + (c.started ? 1 : 0));
        EXPECT_EQ(log.sink.CountContaining("Verifying the chip ..."), verifyBefore + (c.verify ? 1 : 0));
        if (c.line != nullptr) {
            EXPECT_EQ(log.sink.CountContaining(c.line), 1u) << c.line;
        }
        if (c.cause != nullptr) {
            EXPECT_EQ(client.DescribeLastFailure(), c.cause);
        }
    }
    client.SetVerifyAfterWrite(false);
}

// A chip that stops answering during the read-back fails the transfer as a failed write would:
// the cause names the read, and Go is not sent.
TEST_F(TransmitFirmwareTest, AReadBackWithoutAnswerFailsBeforeGo)
{
    Start();
    // Under the line's lock: its thread calls the filter.
    line->Locked([this] {
        onAnswer = [this](Bytes answer) { return chip->ReadCount() >= 2 ? Bytes {} : answer; };
        return 0;
    });
    client.SetVerifyAfterWrite(true);
    const std::size_t failures = log.sink.CountContaining("The chip could not be verified.");
    EXPECT_EQ(Transmit(WriteFirmware(Image(1000))), ZEL_STATUS_UNSPECIFIC_ERROR);
    client.SetVerifyAfterWrite(false);
    EXPECT_EQ(client.DescribeLastFailure(), "no answer to command 0x11 in time (read at 0x08000100)");
    EXPECT_TRUE(log.sink.WaitForLine("The chip could not be verified.", failures + 1));
    EXPECT_FALSE(Chip().HasStarted());
    EXPECT_FALSE(client.IsPortOpen());
    EXPECT_EQ(log.sink.CountContaining("Sending Go command ..."), 0u);
}

TEST_F(TransmitFirmwareTest, DamagedFileNeverOpensThePort)
{
    Start();
    const std::string file = WriteFirmware(Image(500));
    std::string bytes = ZELTest::ReadFile(file);
    bytes[100] = static_cast<char>(bytes[100] ^ 0x01);
    ZELTest::WriteFile(file, bytes);

    EXPECT_EQ(Transmit(file), ZEL_STATUS_INVALID_CRC);
    EXPECT_TRUE(WaitForLine("The update file could not be opened:  fw.tarn"));
    EXPECT_TRUE(line->Received().empty());
    EXPECT_FALSE(client.IsPortOpen());
}

// A device that forwards firmware blocks to a simulated expander: it checks each Write Memory
// data frame, programs it and acknowledges it unless told to stay silent for a number of sends.
class ThroughDeviceClient : public CZELSTM32BootLoader
{
public:
    using CZELSTM32BootLoader::stm32_write_flash_ECPU;

    std::vector<Bytes> sent;
    int silentSends = 0;
    Bytes flash = Bytes(64 * 1024, 0xFF);
    std::size_t programmedSize = 0;
    bool badFrame = false;
    // What the link answers to a firmware block and to Go; refused requests never reach the device.
    long blockStatus = ZEL_STATUS_SUCCESS;
    long goStatus = ZEL_STATUS_SUCCESS;

protected:
    long SendDeviceRequest(std::uint8_t* packet, std::uint32_t length) override
    {
        sent.emplace_back(packet, packet + length);
        const bool go = length >= 3 && packet[1] == 0x16 && packet[2] == 0x00;
        if (const long status = go ? goStatus : blockStatus; status != ZEL_STATUS_SUCCESS)
            return status;
        if (length < 14 || packet[0] != 0x42 || packet[1] != 0x15 || packet[2] != 0x00)
            return ZEL_STATUS_SUCCESS;
        const std::uint8_t* payload = packet + 7;
        const std::uint32_t address = payload[0] | payload[1] << 8 | payload[2] << 16 | std::uint32_t(payload[3]) << 24;
        const std::size_t frameLength = payload[4] | payload[5] << 8;
        const std::uint8_t* frame = payload + 6;
        std::uint8_t sum = 0;
        for (std::size_t i = 0; i + 1 < frameLength; ++i)
            sum ^= frame[i];
        if (frameLength != std::size_t(frame[0]) + 3 || sum != frame[frameLength - 1] || address < 0x08000000) {
            badFrame = true;
            return ZEL_STATUS_SUCCESS;
        }
        const std::size_t offset = address - 0x08000000;
        std::copy_n(frame + 1, frameLength - 2, flash.begin() + static_cast<std::ptrdiff_t>(offset));
        programmedSize = std::max(programmedSize, offset + frameLength - 2);
        if (silentSends > 0) {
            --silentSends;
            return ZEL_STATUS_SUCCESS;
        }
        SetBlockAcknowledged(true);
        return ZEL_STATUS_SUCCESS;
    }
};

class TransmitFirmwareECPUTest : public ::testing::Test
{
protected:
    ZELTest::ScopedSystemLog log;
    ProgressQueue progress;
    ThroughDeviceClient client;
};

TEST_F(TransmitFirmwareECPUTest, SendsEveryBlockThroughTheDeviceAndStartsIt)
{
    const Bytes image = Image(700);
    ASSERT_EQ(client.TransmitFirmwareECPU(WriteFirmware(image)), ZEL_STATUS_SUCCESS);
    EXPECT_FALSE(client.badFrame);
    EXPECT_EQ(
        Bytes(client.flash.begin(), client.flash.begin() + static_cast<std::ptrdiff_t>(client.programmedSize)), image);
    ASSERT_EQ(client.sent.size(), 4u) << "three blocks and the Go request";
    EXPECT_EQ(client.sent.back(), (Bytes { 0x42, 0x16, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08, 0x00 }));
    EXPECT_TRUE(log.sink.WaitForLine("The Go command has been sent."));
    EXPECT_EQ(log.sink.CountContaining("Found bootloader version"), 0u) << "the device talks to the bootloader";
}

// Counted bytes include each block's length and checksum bytes: 100 bytes make 102 percent. The
// bytes written are the image's, and a transfer refused at its first block has written none.
TEST_F(TransmitFirmwareECPUTest, ProgressCountsTheFrameBytesButBytesWrittenOnlyTheImage)
{
    ASSERT_EQ(client.TransmitFirmwareECPU(WriteFirmware(Image(100))), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(progress.Take(), (std::vector<int> { 102 }));
    EXPECT_EQ(client.LastBytesWritten(), 100u);

    ASSERT_EQ(client.TransmitFirmwareECPU(WriteFirmware(Image(700))), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(client.LastBytesWritten(), 700u);
    client.blockStatus = ZEL_STATUS_INVALID_PARAMETER;
    EXPECT_EQ(client.TransmitFirmwareECPU(WriteFirmware(Image(700))), ZEL_STATUS_UNSPECIFIC_ERROR);
    EXPECT_EQ(client.LastBytesWritten(), 0u);
}

TEST_F(TransmitFirmwareECPUTest, RepeatsAnUnacknowledgedBlockUntilTheDeviceAnswers)
{
    client.silentSends = 2;
    const Bytes image = Image(300);
    ASSERT_EQ(client.TransmitFirmwareECPU(WriteFirmware(image)), ZEL_STATUS_SUCCESS);
    ASSERT_EQ(client.sent.size(), 5u) << "the first block three times, the second, Go";
    EXPECT_EQ(client.sent[0], client.sent[1]);
    EXPECT_EQ(client.sent[1], client.sent[2]);
    EXPECT_NE(client.sent[2], client.sent[3]);
    EXPECT_EQ(Bytes(client.flash.begin(), client.flash.begin() + 300), image);
}

// A device that never acknowledges ends the transfer after the last repetition, and the next
// transfer reports its progress from the start again.
TEST_F(TransmitFirmwareECPUTest, GivesUpAfterTheLastRepetition)
{
    client.silentSends = 1000;
    const std::string file = WriteFirmware(Image(100));
    EXPECT_EQ(client.TransmitFirmwareECPU(file), ZEL_STATUS_UNSPECIFIC_ERROR);
    EXPECT_EQ(client.sent.size(), 1u + static_cast<std::size_t>(ZELTimes().ecpuBlockMaxResends))
        << "no Go after a failure";
    EXPECT_TRUE(log.sink.WaitForLine("The chip could not be programmed."));
    EXPECT_TRUE(progress.Take().empty());

    client.silentSends = 0;
    EXPECT_EQ(client.TransmitFirmwareECPU(file), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(progress.Take(), (std::vector<int> { 102 }));
}

// A request the link refuses is a failure of its step: Go is not reported as sent, a block that
// cannot be sent ends the programming (at once unless the link is only busy).
TEST_F(TransmitFirmwareECPUTest, RefusedSendsFailTheirStep)
{
    struct Case
    {
        const char* name;
        long blockStatus;
        long goStatus;
        std::size_t sends;
        const char* text;
    };
    const std::size_t everyRound = 1u + static_cast<std::size_t>(ZELTimes().ecpuBlockMaxResends);
    const Case cases[] = {
        {"Go refused", ZEL_STATUS_SUCCESS, ZEL_STATUS_BUSY, 2, "The Go command could not be sent."},
        {"block refused", ZEL_STATUS_INVALID_PARAMETER, ZEL_STATUS_SUCCESS, 1, "The chip could not be programmed."},
        {"link busy on every round", ZEL_STATUS_BUSY, ZEL_STATUS_SUCCESS, everyRound,
            "The chip could not be programmed."},
    };
    const std::string file = WriteFirmware(Image(100));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        client.sent.clear();
        client.blockStatus = c.blockStatus;
        client.goStatus = c.goStatus;
        const std::size_t failures = log.sink.CountContaining(c.text);
        const std::size_t causes = log.sink.CountContaining("the device link did not take the request");
        const std::size_t sentLines = log.sink.CountContaining("The Go command has been sent.");
        EXPECT_EQ(client.TransmitFirmwareECPU(file), ZEL_STATUS_UNSPECIFIC_ERROR);
        EXPECT_EQ(client.sent.size(), c.sends);
        EXPECT_EQ(client.LastFailure(), CZELSTM32BootLoader::Failure::SendRefused) << client.DescribeLastFailure();
        EXPECT_TRUE(log.sink.WaitForLine(c.text, failures + 1));
        EXPECT_TRUE(log.sink.WaitForLine("the device link did not take the request", causes + 1));
        EXPECT_EQ(log.sink.CountContaining("The Go command has been sent."), sentLines);
        progress.Take();
    }
}

} // namespace
