// The Win32 serial device, against a simulated device behind a COM port: TARN_TEST_COM_PORT names
// the port ("COM20"), behind which `tarn sim --scenario serial-device-sim.json` (this folder) answers.
// The scenario paces the line at the rate this side sets and drops the line on request 0x0003.
#include "zel/commands/CZELCommandSet.h"
#include "zel/foundation/ZELStatus.h"
#include "zel/platform/CZELSerialDevice.h"
#include "zel/serial/CZELPacketFramer.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using IoResult = CZELSerialDevice::IoResult;
using Bytes = std::vector<std::uint8_t>;

namespace {

// Generous: only a failing test waits this long.
constexpr auto kWait = 10s;
// Long enough that a read which ignores its deadline or a signal is noticed.
constexpr auto kQuiet = 150ms;

constexpr int kErrorFileNotFound = 2; // ERROR_FILE_NOT_FOUND

using Builder = std::function<std::uint16_t(CZELCommandSet&, std::uint8_t*)>;

const Builder kDeviceInfo = [](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqGetDeviceInfo(b); };
// A request of another device type, which the simulated QTR-1 leaves unanswered.
const Builder kIgnored = [](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqGetCCPU2DeviceInfo(b); };
// The scenario's trigger for a dropped line.
const Builder kDisconnect = [](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqDumpSettings(b); };

std::uint16_t IdOf(const Bytes& packet)
{
    return static_cast<std::uint16_t>(packet[1] | (packet[2] << 8));
}

class CZELSerialDeviceWindowsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const char* port = std::getenv("TARN_TEST_COM_PORT");
        if (port == nullptr || *port == '\0')
            GTEST_SKIP() << "TARN_TEST_COM_PORT names no COM port with the simulator behind it";
        path = CZELSerialDevice::ResolvePortName(port);
        ASSERT_EQ(OpenAt(115200), 0) << CZELSerialDevice::DescribeOpenError(path, device.LastError());
    }

    int OpenAt(unsigned int baud, CZELSerialDevice::Parity parity = CZELSerialDevice::Parity::None)
    {
        m_packets.clear();
        m_framer.ResetCommandBuffer();
        return device.Open(path, baud, parity);
    }

    std::size_t Send(const Builder& build)
    {
        std::uint8_t packet[64] = {};
        const std::uint16_t length = build(commands, packet);
        EXPECT_GT(length, 0);
        commands.CalculateChecksums(packet, length);
        std::size_t written = 0;
        EXPECT_EQ(device.Write(packet, length, written, CZELDeadline(kWait)), IoResult::Done);
        EXPECT_EQ(written, length);
        return written;
    }

    // The next whole packet; counts the reads a signal ended on the way.
    std::optional<Bytes> NextPacket(int* woken = nullptr)
    {
        const CZELDeadline deadline(kWait);
        while (m_packets.empty()) {
            std::uint8_t buffer[256];
            std::size_t received = 0;
            lastResult = device.Read(buffer, sizeof buffer, received, deadline);
            ++reads;
            if (lastResult == IoResult::Woken && woken != nullptr) {
                ++*woken;
                continue;
            }
            if (lastResult != IoResult::Done)
                return std::nullopt;
            EXPECT_GT(received, 0u);
            m_framer.Receive(buffer, received, std::chrono::steady_clock::now());
        }
        Bytes packet = std::move(m_packets.front());
        m_packets.pop_front();
        return packet;
    }

    // Sends the device-information request and checks the answer as the program reads it.
    void ExpectDeviceAnswers()
    {
        Send(kDeviceInfo);
        const std::optional<Bytes> answer = NextPacket();
        ASSERT_TRUE(answer.has_value()) << "no answer, last read ended with " << static_cast<int>(lastResult);
        ASSERT_EQ(IdOf(*answer), 0x4001);
        answerSize = answer->size();
        std::uint8_t version = 0;
        std::uint16_t type = 0;
        char hw[33], serial[33], mcpu[33], ecpu[33], ccpu[33], kcpu[33], lcpu[33], rcpu[33], wcpu[33];
        ASSERT_EQ(commands.ProcessAckGetDeviceInfo(answer->data(), &version, &type, hw, serial, mcpu, ecpu, ccpu, kcpu,
                      lcpu, rcpu, wcpu, 33),
            ZEL_STATUS_SUCCESS);
        EXPECT_EQ(type, 0x1000); // the simulator's QTR-1
    }

    IoResult ReadOnce(std::chrono::milliseconds timeout, std::size_t* count = nullptr)
    {
        std::uint8_t buffer[64];
        std::size_t received = 99;
        const IoResult result = device.Read(buffer, sizeof buffer, received, CZELDeadline(timeout));
        if (result != IoResult::Done) {
            EXPECT_EQ(received, 0u);
        }
        if (count != nullptr)
            *count = received;
        return result;
    }

    std::string path;
    CZELSerialDevice device;
    CZELCommandSet commands;
    IoResult lastResult = IoResult::Done;
    int reads = 0;
    std::size_t answerSize = 0;

private:
    std::deque<Bytes> m_packets;
    CZELPacketFramer m_framer{[this](const std::uint8_t* packet, std::size_t length) {
        m_packets.emplace_back(packet, packet + length);
    }};
};

} // namespace

TEST(CZELSerialDeviceWindowsNames, ResolvesPortNames)
{
    const struct
    {
        const char* name;
        const char* path;
    } cases[] = {
        {"COM1", "\\\\.\\COM1"},
        {"com3", "\\\\.\\COM3"},
        {"COM12", "\\\\.\\COM12"}, // reachable only through the device namespace
        {"COM007", "\\\\.\\COM7"},
        {"\\\\.\\COM7", "\\\\.\\COM7"},
        {"\\\\.\\CNCA0", "\\\\.\\CNCA0"},
        {"COM", "COM"},
        {"COM0", "COM0"},
        {"COMX", "COMX"},
        {"LPT1", "LPT1"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CZELSerialDevice::ResolvePortName(c.name), c.path) << c.name;
}

TEST(CZELSerialDeviceWindowsErrors, OpenFailuresKeepTheirCause)
{
    const std::filesystem::path file = std::filesystem::temp_directory_path() / "zel-not-a-serial-port.txt";
    { std::ofstream touch(file); }
    const struct
    {
        std::string path;
        unsigned int baud;
        int error;
    } cases[] = {
        {CZELSerialDevice::ResolvePortName("COM199"), 115200, ENOENT},
        {file.string(), 115200, ENOTTY},
        {CZELSerialDevice::ResolvePortName("COM199"), 12345, EINVAL},
    };
    for (const auto& c : cases) {
        CZELSerialDevice port;
        EXPECT_EQ(port.Open(c.path, c.baud, CZELSerialDevice::Parity::None), c.error) << c.path;
        EXPECT_EQ(port.LastError(), c.error) << c.path;
        EXPECT_FALSE(port.IsOpen()) << c.path;
    }
    CZELSerialDevice port;
    port.Open(CZELSerialDevice::ResolvePortName("COM199"), 115200, CZELSerialDevice::Parity::None);
    EXPECT_EQ(port.LastSystemError(), kErrorFileNotFound);
    EXPECT_EQ(port.LastOpenStep(), CZELSerialDevice::OpenStep::Open);
    std::uint8_t buffer[1];
    std::size_t n = 0;
    EXPECT_EQ(port.Read(buffer, 1, n, CZELDeadline(1ms)), IoResult::Closed);
    EXPECT_EQ(port.Write(buffer, 1, n, CZELDeadline(1ms)), IoResult::Closed);
    EXPECT_EQ(port.LineBaudRate(), 0u);
    std::string peer;
    EXPECT_EQ(port.OpenPseudoTerminal(peer), ENOSYS);
    std::filesystem::remove(file);
}

TEST(CZELSerialDeviceWindowsErrors, DescriptionsTellTheOperatorWhatToDo)
{
    const struct
    {
        int error;
        const char* expected;
    } cases[] = {
        {EBUSY, "in use by another program"},
        {ENOENT, "Check the COM number in the Device Manager"},
        {ENOTTY, "not a serial port"},
        {EIO, "COM3: "},
    };
    for (const auto& test : cases) {
        const std::string text = CZELSerialDevice::DescribeOpenError("\\\\.\\COM3", test.error);
        EXPECT_NE(text.find(test.expected), std::string::npos) << test.error << ": " << text;
        // The operator typed COM3, not its device path.
        EXPECT_EQ(text.rfind("COM3: ", 0), 0u) << text;
    }
}

TEST_F(CZELSerialDeviceWindowsTest, TheDeviceAnswersOverTheLine)
{
    EXPECT_EQ(device.LineBaudRate(), 115200u);
    ExpectDeviceAnswers();
    // A read returns what has arrived, not a byte at a time: the simulator hands over a millisecond
    // of the wire (eleven bytes) at once.
    EXPECT_LT(reads * 3, static_cast<int>(answerSize)) << reads << " reads for " << answerSize << " bytes";
    // Twice: the first answer's bytes leave nothing behind that spoils the next.
    ExpectDeviceAnswers();
}

TEST_F(CZELSerialDeviceWindowsTest, AReadEndsAtItsDeadline)
{
    Send(kIgnored);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ReadOnce(kQuiet), IoResult::TimedOut);
    EXPECT_GE(std::chrono::steady_clock::now() - start, kQuiet);
    // Nothing of the cancelled read is left pending: the next answer arrives whole.
    ExpectDeviceAnswers();
}

// Each signal ends one wait, however often it was given; a stop is taken before a wake.
TEST_F(CZELSerialDeviceWindowsTest, SignalsEndReadsOnceEach)
{
    const struct
    {
        const char* name;
        std::vector<std::function<void(CZELSerialDevice&)>> signals;
        int woken; // reads that the signals end before one times out
    } cases[] = {
        {"wake", {[](CZELSerialDevice& d) { d.Wake(); }}, 1},
        {"two wakes", {[](CZELSerialDevice& d) { d.Wake(); }, [](CZELSerialDevice& d) { d.Wake(); }}, 1},
        {"interrupt", {[](CZELSerialDevice& d) { d.Interrupt(); }}, 1},
        {"interrupt and wake", {[](CZELSerialDevice& d) { d.Interrupt(); }, [](CZELSerialDevice& d) { d.Wake(); }}, 2},
        {"forgotten interrupt",
            {[](CZELSerialDevice& d) { d.Interrupt(); }, [](CZELSerialDevice& d) { d.ForgetInterrupt(); }}, 0},
    };
    for (const auto& c : cases) {
        for (const auto& signal : c.signals)
            signal(device);
        for (int i = 0; i < c.woken; ++i)
            EXPECT_EQ(ReadOnce(kWait), IoResult::Woken) << c.name << ", read " << i + 1;
        EXPECT_EQ(ReadOnce(kQuiet), IoResult::TimedOut) << c.name;
    }
}

TEST_F(CZELSerialDeviceWindowsTest, AWakeFromAnotherThreadEndsAWaitingRead)
{
    for (const bool stop : {false, true}) {
        std::thread signaller([this, stop] { stop ? device.Interrupt() : device.Wake(); });
        EXPECT_EQ(ReadOnce(kWait), IoResult::Woken) << (stop ? "interrupt" : "wake");
        signaller.join();
    }
    ExpectDeviceAnswers();
}

// A Wake() meant for the next read never cuts a write short and is still there for a read.
TEST_F(CZELSerialDeviceWindowsTest, AWakeWaitsForTheNextRead)
{
    device.Wake();
    Send(kDeviceInfo);
    int woken = 0;
    const std::optional<Bytes> answer = NextPacket(&woken);
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(IdOf(*answer), 0x4001);
    // Data that has arrived may come first; the wake ends exactly one read all the same.
    if (woken == 0) {
        EXPECT_EQ(ReadOnce(kWait), IoResult::Woken);
    } else {
        EXPECT_EQ(woken, 1);
    }
    EXPECT_EQ(ReadOnce(kQuiet), IoResult::TimedOut);
}

// The simulator takes the bytes no faster than the wire would: a long write waits for the line, and
// only a stop or the deadline ends it there. Slower rates would hold up the tests after it: the
// simulator paces what it has taken at the rate of that moment.
TEST_F(CZELSerialDeviceWindowsTest, OnlyAStopOrTheDeadlineEndsAWriteTheLineHoldsUp)
{
    device.Close();
    ASSERT_EQ(OpenAt(57600), 0) << CZELSerialDevice::DescribeOpenError(path, device.LastError());
    EXPECT_EQ(device.LineBaudRate(), 57600u);
    const Bytes data(256 * 1024, 0); // 45 s of the wire; no delimiter, so the device drops it
    std::size_t written = 0;

    // A wake meant for the next read leaves the write alone, and stays for that read.
    device.Wake();
    EXPECT_EQ(device.Write(data.data(), data.size(), written, CZELDeadline(kQuiet)), IoResult::TimedOut);
    EXPECT_LT(written, data.size());
    EXPECT_EQ(ReadOnce(kWait), IoResult::Woken);

    std::thread stopper([this] { device.Interrupt(); });
    EXPECT_EQ(device.Write(data.data(), data.size(), written, CZELDeadline(kWait)), IoResult::Woken);
    stopper.join();
    EXPECT_LT(written, data.size());
    // The write took the interrupt.
    EXPECT_EQ(ReadOnce(kQuiet), IoResult::TimedOut);

    // What the line still holds is dropped, and at full speed the device answers again.
    device.Flush();
    device.Close();
    ASSERT_EQ(OpenAt(115200), 0);
    ExpectDeviceAnswers();
}

TEST_F(CZELSerialDeviceWindowsTest, EvenParityIsAcceptedOnTheMappedLine)
{
    // A pseudo-terminal behind the port has no parity and reads back without it.
    for (int open = 0; open < 3; ++open) {
        device.Close();
        EXPECT_EQ(OpenAt(115200, CZELSerialDevice::Parity::Even), 0) << "open " << open + 1 << ": "
                                                                     << device.LastSystemError();
    }
    device.Close();
    ASSERT_EQ(OpenAt(115200), 0);
    ExpectDeviceAnswers();
}

// The simulator drops the line on request 0x0003 and brings it back shortly after.
TEST_F(CZELSerialDeviceWindowsTest, AVanishedDeviceIsGoneUntilReopened)
{
    Send(kDisconnect);
    EXPECT_EQ(ReadOnce(kWait), IoResult::Gone);
    EXPECT_EQ(device.LastError(), EIO);
    std::uint8_t byte = 0;
    std::size_t written = 0;
    EXPECT_EQ(device.Write(&byte, 1, written, CZELDeadline(kWait)), IoResult::Gone);

    // Nothing tells a Windows program that a port is back: it tries again, as the receive thread does.
    device.Close();
    const CZELDeadline back(kWait);
    int error = 0;
    while ((error = OpenAt(115200)) != 0 && !back.Expired())
        std::this_thread::yield();
    ASSERT_EQ(error, 0) << CZELSerialDevice::DescribeOpenError(path, error);
    ExpectDeviceAnswers();
}
