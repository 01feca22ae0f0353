// The serial port end to end: its receive thread on a pseudo-terminal, served by the simulator or
// by the test itself, publishing to a subscribed queue.
#include "app/cli/PortsCommand.h"
#include "log/ZELLogCapture.h"
#include "sim/SimTestSupport.h"
#include "support/ZELTestSupport.h"
#include "zel/commands/CZELCommandSet.h"
#include "zel/foundation/CZELTimeTable.h"
#include "zel/foundation/ZELStatus.h"
#include "zel/platform/ZELSerialPortList.h"
#include "zel/platform/ZELSystemTime.h"
#include "zel/platform/linux/CZELUdevHotPlugMonitor.h"
#include "zel/queue/CZELMessageQueue.h"
#include "zel/serial/CZELSerialPort.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <utility>

#include <linux/netlink.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr auto kWait = 10s; // only a failing test waits this long

// A quarter of the shipped times: the framer's silence of 500 ms is not reached by a busy machine
// between the bytes of one answer.
const auto* const g_scaledTimes = ::testing::AddGlobalTestEnvironment(new ZELTest::ScaledTimesEnvironment(4));

struct Record
{
    std::uint32_t type = 0;
    std::uint32_t identity = 0;
    SYSTEMTIME time;
    Bytes rest; // the packet, or the reason and path of a device event
};

// Subscribed to the hub for its lifetime; keeps the records of one port.
class Subscriber : public CZELMessageQueue
{
public:
    explicit Subscriber(const CZELSerialPort& port)
        : m_identity(port.GetIdentity())
    {
        SetName("Test Subscriber");
        EXPECT_EQ(Initialize(true), ZEL_STATUS_SUCCESS);
        EXPECT_EQ(GetZELMessageQueue().Register(this), ZEL_STATUS_SUCCESS);
    }
    ~Subscriber() override
    {
        GetZELMessageQueue().Unregister(this);
        Terminate();
    }

    // The next record of `type`; records of other types before it are passed over.
    std::optional<Record> Next(std::uint32_t type, std::chrono::milliseconds timeout = kWait)
    {
        std::unique_lock lock(m_mutex);
        std::optional<Record> found;
        m_changed.wait_for(lock, timeout, [&] {
            while (!m_records.empty() && !found) {
                if (m_records.front().type == type)
                    found = m_records.front();
                m_records.pop_front();
            }
            return found.has_value();
        });
        return found;
    }

    std::size_t Count(std::uint32_t type)
    {
        std::lock_guard lock(m_mutex);
        return static_cast<std::size_t>(
            std::count_if(m_records.begin(), m_records.end(), [type](const Record& r) { return r.type == type; }));
    }

protected:
    long ProcessMessage(CZELMessage& message) override
    {
        const auto* bytes = static_cast<const std::uint8_t*>(message.GetBuffer());
        if (bytes == nullptr || message.GetBufferSize() < static_cast<int>(ZEL_SERIAL_RECORD_HEAD_SIZE))
            return ZEL_STATUS_SUCCESS;
        Record record;
        record.type = message.GetMessageType();
        record.identity = bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
        std::uint16_t fields[8];
        for (int i = 0; i < 8; ++i)
            fields[i] = static_cast<std::uint16_t>(bytes[4 + 2 * i] | bytes[5 + 2 * i] << 8);
        record.time = {fields[0], fields[1], fields[2], fields[3], fields[4], fields[5], fields[6], fields[7]};
        record.rest.assign(bytes + ZEL_SERIAL_RECORD_HEAD_SIZE, bytes + message.GetBufferSize());
        if (record.identity != m_identity)
            return ZEL_STATUS_SUCCESS; // another test's port
        {
            std::lock_guard lock(m_mutex);
            m_records.push_back(std::move(record));
        }
        m_changed.notify_all();
        return ZEL_STATUS_SUCCESS;
    }

private:
    std::uint32_t m_identity;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Record> m_records;
};

std::unique_ptr<CSimServer> Serve(const std::string& json = "{}") { return SimTest::Serve(json); }

// The other side of a pseudo-terminal that the test writes to, or leaves unread; returns the port's path.
std::string OpenLine(CZELSerialDevice& line)
{
    std::string peer;
    EXPECT_EQ(line.OpenPseudoTerminal(peer), 0);
    return peer;
}

void StartOn(CZELSerialPort& port, const std::string& path)
{
    port.SetSerialPortSettings(path, 7);
    ASSERT_EQ(port.InitializeReceivingThread(), ZEL_STATUS_SUCCESS) << port.GetLastOpenErrorText();
}

Bytes DeviceInfoRequest()
{
    std::uint8_t buffer[64] = {};
    const std::uint16_t length = GetZELCommandSet().PrepareReqGetDeviceInfo(buffer);
    return Bytes(buffer, buffer + length);
}

Bytes ProductionInfoRequest()
{
    std::uint8_t buffer[64] = {};
    const std::uint16_t length = GetZELCommandSet().PrepareReqGetProductionInfo(buffer);
    return Bytes(buffer, buffer + length);
}

std::uint16_t CommandOf(const Bytes& packet) { return static_cast<std::uint16_t>(packet[1] | packet[2] << 8); }

// Seconds since 1601 of a record's time stamp.
std::int64_t Seconds(const SYSTEMTIME& time)
{
    ZELPlatform::FileTime fileTime = 0;
    EXPECT_TRUE(ZELPlatform::SystemTimeToFileTime(time, fileTime));
    return fileTime / 10'000'000;
}

} // namespace

TEST(CZELSerialPort, SettingsKeepTheirRanges)
{
    CZELSerialPort port;
    EXPECT_EQ(port.GetCOMPort(), "COM1");
    EXPECT_EQ(port.GetBaudRateAsID(), 6);
    EXPECT_EQ(port.GetBaudRate(), 57600);
    EXPECT_EQ(port.GetProtocol(), 0x1800);

    // An id outside the table: the name is stored all the same, the id stays.
    EXPECT_EQ(port.SetSerialPortSettings("COM7", 11), ZEL_STATUS_INVALID_PARAMETER);
    std::string name;
    long id = -1;
    EXPECT_EQ(port.GetSerialPortSettings(&name, &id), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(name, "COM7");
    EXPECT_EQ(id, 6);
    EXPECT_EQ(port.GetSerialPortSettings(nullptr, nullptr), ZEL_STATUS_SUCCESS);

    const struct
    {
        long id;
        long status;
        long baud;
    } baudCases[] = {{0, ZEL_STATUS_SUCCESS, 1200}, {7, ZEL_STATUS_SUCCESS, 115200}, {10, ZEL_STATUS_SUCCESS, 921600},
        {-1, ZEL_STATUS_INVALID_PARAMETER, 921600}, {11, ZEL_STATUS_INVALID_PARAMETER, 921600}};
    for (const auto& test : baudCases) {
        EXPECT_EQ(port.SetBaudRateAsID(test.id), test.status) << test.id;
        EXPECT_EQ(port.GetBaudRate(), test.baud) << test.id;
    }
    EXPECT_EQ(CZELSerialPort::BaudRateOfID(11), 4800);

    const struct
    {
        std::uint16_t protocol;
        long status;
    } protocolCases[] = {{3, ZEL_STATUS_SUCCESS}, {0x4801, ZEL_STATUS_SUCCESS}, {6, ZEL_STATUS_INVALID_PARAMETER},
        {0, ZEL_STATUS_INVALID_PARAMETER}, {0x1881, ZEL_STATUS_INVALID_PARAMETER}};
    for (const auto& test : protocolCases)
        EXPECT_EQ(port.SetProtocol(test.protocol), test.status) << test.protocol;
    std::uint16_t protocol = 0;
    EXPECT_EQ(port.GetProtocol(&protocol), 0x4801);
    EXPECT_EQ(protocol, 0x4801);
    EXPECT_EQ(port.SetDumpMode(5), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(port.GetDumpMode(), 5u);
}

TEST(CZELSerialPort, OpenFailuresAreRefusedWithTheirCause)
{
    ZELTest::ScopedSystemLog log;
    CZELSerialPort port;
    port.SetCOMPort("/nonexistent/ttyUSB9");
    // Without the report flag and without a thread nothing is tried.
    EXPECT_EQ(port.OpenSerialPort(false), -1);
    EXPECT_EQ(port.GetLastOpenError(), 0);

    EXPECT_EQ(port.OpenSerialPort(true), -1);
    EXPECT_EQ(port.GetLastOpenError(), ENOENT);
    EXPECT_TRUE(log.sink.WaitForLine("The serial port could not be opened. GetLastError() = 2."));
    EXPECT_EQ(port.InitializeReceivingThread(), -1);
    EXPECT_FALSE(port.IsRunning());

    // Nothing to send through a port without a thread.
    std::uint8_t packet[7] = {0x42, 1, 0, 0, 0, 0, 0};
    EXPECT_EQ(port.SendCommand(packet, sizeof packet), ZEL_STATUS_BUSY);
}

TEST(CZELSerialPort, APortHeldElsewhereIsRefusedClearly)
{
    auto server = Serve();
    ZELTest::ScopedSystemLog log;
    CZELSerialPort first;
    StartOn(first, server->Path());
    EXPECT_EQ(first.InitializeReceivingThread(), ZEL_STATUS_BUSY);

    // A second opener, in this process or another, is refused while the thread holds the port.
    CZELSerialPort second;
    second.SetCOMPort(server->Path());
    EXPECT_EQ(second.InitializeReceivingThread(), -1);
    EXPECT_EQ(second.GetLastOpenError(), EBUSY);
    EXPECT_NE(second.GetLastOpenErrorText().find("in use"), std::string::npos) << second.GetLastOpenErrorText();
    EXPECT_TRUE(log.sink.WaitForLine("The serial port could not be opened. GetLastError() = 16."));
    CZELSerialDevice other;
    EXPECT_EQ(other.Open(server->Path(), 115200, CZELSerialDevice::Parity::None), EBUSY);

    // Once the first lets go, the port is free.
    EXPECT_EQ(first.TerminateReceivingThread(), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(second.InitializeReceivingThread(), ZEL_STATUS_SUCCESS);
}

TEST(CZELSerialPort, DeviceInformationRequestIsSentAndAnsweredThroughTheQueue)
{
    auto server = Serve(R"({"device": {"hardware": "QTR-2"}})");
    CZELSerialPort port;
    Subscriber subscriber(port);
    StartOn(port, server->Path());

    const std::int64_t before = Seconds([] { SYSTEMTIME t; ZELPlatform::GetSystemTime(t); return t; }());
    Bytes request = DeviceInfoRequest();
    ASSERT_EQ(port.SendCommand(request.data(), static_cast<std::uint32_t>(request.size())), ZEL_STATUS_SUCCESS);
    EXPECT_NE(request[6], 0) << "the header checksum is filled in in the caller's buffer";

    const std::optional<Record> sent = subscriber.Next(ZEL_MESSAGE_SERIAL_DATA_SENT);
    ASSERT_TRUE(sent);
    EXPECT_EQ(sent->rest, request);
    const std::optional<Record> received = subscriber.Next(ZEL_MESSAGE_SERIAL_DATA_RECEIVED);
    ASSERT_TRUE(received);
    EXPECT_EQ(received->identity, port.GetIdentity());
    EXPECT_GE(Seconds(received->time), before);
    EXPECT_LE(Seconds(received->time), before + 60);
    ASSERT_GE(received->rest.size(), 8u);
    EXPECT_EQ(CommandOf(received->rest), 0x4001);
    std::uint8_t protocolVersion = 0;
    std::uint16_t hardwareType = 0;
    char texts[8][32] = {};
    EXPECT_EQ(GetZELCommandSet().ProcessAckGetDeviceInfo(received->rest.data(), &protocolVersion, &hardwareType,
                  texts[0], texts[1], texts[2], texts[3], texts[4], texts[5], texts[6], texts[7], texts[7], 32),
        ZEL_STATUS_SUCCESS);
    EXPECT_EQ(hardwareType, 0x1001);

    const CZELSerialPort::Statistics statistics = port.GetStatistics();
    EXPECT_EQ(statistics.sentPackets, 1u);
    EXPECT_EQ(statistics.sentBytes, request.size());
    EXPECT_EQ(statistics.receivedPackets, 1u);
    EXPECT_EQ(statistics.receivedBytes, received->rest.size());
    EXPECT_EQ(port.WaitWhileBusy(0), ZEL_STATUS_SUCCESS);
}

TEST(CZELSerialPort, GarbageAndBadChecksumsAreCountedAndNeverPublished)
{
    struct Case
    {
        const char* name;
        const char* fault;
        std::vector<std::uint16_t> published; // commands that reach the subscriber, the marker last
        std::uint32_t isd;
        std::uint32_t ihcs;
        std::uint32_t ipcs;
    };
    const Case cases[] = {
        {"garbage before the answer", R"({"kind": "garbage", "id": "0x4001", "bytes": [0, 255, 19]})",
            {0x4001, 0x4054}, 3, 0, 0},
        // The false start 0x42 0x07 fails its header check; the rescan finds the real answer behind it.
        {"garbage with a false start", R"({"kind": "garbage", "id": "0x4001", "bytes": [0, 66, 7]})",
            {0x4001, 0x4054}, 1, 1, 0},
        {"payload checksum", R"({"kind": "corrupt", "id": "0x4001"})", {0x4054}, 0, 0, 1},
        // After the rejected header the 28 payload bytes and their checksum wait in vain for a start byte.
        {"header checksum", R"({"kind": "corrupt", "id": "0x4001", "offset": 6})", {0x4054}, 29, 1, 0},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        auto server = Serve(std::string(R"({"device": {"hardware": "QTR-2"}, "faults": [)") + test.fault + "]}");
        CZELSerialPort port;
        Subscriber subscriber(port);
        StartOn(port, server->Path());
        Bytes request = DeviceInfoRequest();
        ASSERT_EQ(port.SendCommand(request.data(), static_cast<std::uint32_t>(request.size())), ZEL_STATUS_SUCCESS);
        Bytes marker = ProductionInfoRequest();
        ASSERT_EQ(port.SendCommand(marker.data(), static_cast<std::uint32_t>(marker.size())), ZEL_STATUS_SUCCESS);

        std::vector<std::uint16_t> published;
        while (published.empty() || published.back() != 0x4054) {
            const std::optional<Record> received = subscriber.Next(ZEL_MESSAGE_SERIAL_DATA_RECEIVED);
            ASSERT_TRUE(received) << "the marker's answer never came";
            published.push_back(CommandOf(received->rest));
        }
        EXPECT_EQ(published, test.published);
        const CZELSerialPort::Statistics s = port.GetStatistics();
        EXPECT_EQ(s.receivedPackets, test.published.size());
        EXPECT_EQ(s.invalidStartDelimiter, test.isd);
        EXPECT_EQ(s.invalidHeaderChecksum, test.ihcs);
        EXPECT_EQ(s.invalidPayloadChecksum, test.ipcs);
        EXPECT_EQ(s.tooLong, 0u);
        EXPECT_EQ(s.timeout, 0u);
    }
}

TEST(CZELSerialPort, SurvivesTheDeviceGoingAwayAndComingBack)
{
    auto server = Serve(R"({"device": {"hardware": "QTR-2"}})");
    CZELSerialPort port;
    Subscriber subscriber(port);
    StartOn(port, server->Path());

    server->Disconnect(50ms);
    ASSERT_TRUE(server->WaitForConnections(2, kWait));
    // Queued while the port may still be away: it leaves once the thread has the device again.
    Bytes request = DeviceInfoRequest();
    ASSERT_EQ(port.SendCommand(request.data(), static_cast<std::uint32_t>(request.size())), ZEL_STATUS_SUCCESS);
    const std::optional<Record> received = subscriber.Next(ZEL_MESSAGE_SERIAL_DATA_RECEIVED);
    ASSERT_TRUE(received);
    EXPECT_EQ(CommandOf(received->rest), 0x4001);
    EXPECT_TRUE(port.IsRunning());
}

TEST(CZELSerialPort, ABusySlotRefusesTheNextPacketAfterTheWait)
{
    // Nobody reads the other side: once the line's buffer is full the pending packet stays pending.
    CZELSerialDevice line;
    const std::string peer = OpenLine(line);
    CZELSerialPort port;
    StartOn(port, peer);

    Bytes packet(ZEL_SERIAL_SEND_BUFFER_SIZE, 0x43);
    long status = ZEL_STATUS_SUCCESS;
    std::chrono::steady_clock::duration refusedAfter{};
    for (int i = 0; i < 4096 && status == ZEL_STATUS_SUCCESS; ++i) {
        const auto start = std::chrono::steady_clock::now();
        status = port.SendRawCommand(packet.data(), static_cast<std::uint32_t>(packet.size()));
        refusedAfter = std::chrono::steady_clock::now() - start;
    }
    EXPECT_EQ(status, ZEL_STATUS_BUSY);
    EXPECT_GE(refusedAfter, ZELTimes().sendSlotWait);
    EXPECT_EQ(port.WaitWhileBusy(1), ZEL_STATUS_TIMEOUT);
    // A stop is not held up by the blocked write.
    EXPECT_EQ(port.TerminateReceivingThread(), ZEL_STATUS_SUCCESS);
    EXPECT_FALSE(port.IsRunning());
}

TEST(CZELSerialPort, RefusesPacketsTheSlotCannotHold)
{
    CZELSerialDevice line;
    const std::string peer = OpenLine(line);
    CZELSerialPort port;
    StartOn(port, peer);
    Bytes tooLong(ZEL_SERIAL_SEND_BUFFER_SIZE + 1, 0x43);
    EXPECT_EQ(port.SendRawCommand(tooLong.data(), static_cast<std::uint32_t>(tooLong.size())),
        ZEL_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(port.SendRawCommand(tooLong.data(), 0), ZEL_STATUS_INVALID_PARAMETER);
    // The header announces a payload of 16 bytes that the buffer does not hold.
    std::uint8_t shortPacket[9] = {0x42, 0x01, 0x00, 0x10, 0x00, 0, 0, 0, 0};
    EXPECT_EQ(port.SendCommand(shortPacket, sizeof shortPacket), ZEL_STATUS_WRONG_LENGTH);
    // Neither reached the line.
    EXPECT_EQ(port.WaitWhileBusy(0), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(port.GetStatistics().sentPackets, 0u);
}

TEST(CZELSerialPort, ClosingThePortUnderTheThreadEndsIt)
{
    auto server = Serve();
    CZELSerialPort port;
    StartOn(port, server->Path());
    EXPECT_EQ(port.CloseSerialPort(false), ZEL_STATUS_SUCCESS);
    EXPECT_FALSE(port.IsRunning());
    Bytes request = DeviceInfoRequest();
    EXPECT_EQ(port.SendCommand(request.data(), static_cast<std::uint32_t>(request.size())), ZEL_STATUS_BUSY);
    // The port is free again, and the thread can start anew.
    CZELSerialDevice other;
    EXPECT_EQ(other.Open(server->Path(), 115200, CZELSerialDevice::Parity::None), 0);
    other.Close();
    EXPECT_EQ(port.InitializeReceivingThread(), ZEL_STATUS_SUCCESS);
}

TEST(CZELSerialPort, DumpModeLogsTheStatisticsOncePerPeriod)
{
    ZELTest::ScopedSystemLog log;
    CZELSerialDevice line;
    const std::string peer = OpenLine(line);
    CZELSerialPort port;
    StartOn(port, peer);
    // Three bytes of garbage, then the start of a packet that never ends.
    const Bytes bytes = {0x01, 0x02, 0x03, 0x42, 0x01};
    std::size_t written = 0;
    ASSERT_EQ(line.Write(bytes.data(), bytes.size(), written, CZELDeadline(kWait)), CZELSerialDevice::IoResult::Done);
    const auto start = std::chrono::steady_clock::now();
    port.SetDumpMode(1);
    EXPECT_TRUE(log.sink.WaitForLine(
        "Serial status; received; 0; 5; sent; 0; 0; ISD; 3; IHCS; 0; IPCS; 0; too long; 0; timeout; 1"));
    EXPECT_GE(std::chrono::steady_clock::now() - start, ZELTimes().framerSilence);
    const std::size_t lines = log.sink.CountContaining("Serial status;");
    EXPECT_TRUE(log.sink.WaitForLine("Serial status;", lines + 2));
}

TEST(CZELSerialPort, RadioStatisticsAreLoggedAndNeverFramed)
{
    ZELTest::ScopedSystemLog log;
    CZELSerialDevice line;
    const std::string peer = OpenLine(line);
    CZELSerialPort port;
    Subscriber subscriber(port);
    ASSERT_EQ(port.SetProtocol(3), ZEL_STATUS_SUCCESS);
    StartOn(port, peer);
    Bytes reading(40, 0);
    reading[2] = 7;
    for (int g = 0; g < 4; ++g)
        for (int i = 0; i < 4; ++i)
            reading[5 + 8 * g + 2 * i] = static_cast<std::uint8_t>(16 * g + i + 1);
    reading[37] = 200;
    reading[39] = 0x42; // a start byte of another protocol means nothing here
    std::size_t written = 0;
    ASSERT_EQ(line.Write(reading.data(), reading.size(), written, CZELDeadline(kWait)), CZELSerialDevice::IoResult::Done);
    EXPECT_TRUE(log.sink.WaitForLine("Unit; 7; Rx Data; 16909060; 1; 2; 3; 4; Tx Data; 286397204; 17; 18; 19; 20; "
                                     "Rx Packets; 555885348; 33; 34; 35; 36; Tx Packets; 825373492; 49; 50; 51; 52; "
                                     "RSSI; 200; Temp; 66"));
    EXPECT_EQ(port.GetStatistics().receivedBytes, 40u);
    EXPECT_EQ(port.GetStatistics().receivedPackets, 0u);
    EXPECT_EQ(subscriber.Count(ZEL_MESSAGE_SERIAL_DATA_RECEIVED), 0u);
}

namespace {

// A hot-plug source the test drives by hand.
class FakeHotPlugMonitor : public IZELHotPlugMonitor
{
public:
    int Start(Callback callback) override
    {
        std::lock_guard lock(m_mutex);
        m_callback = std::move(callback);
        return 0;
    }
    void Stop() override
    {
        std::lock_guard lock(m_mutex);
        m_callback = nullptr;
    }
    bool IsRunning() const override
    {
        std::lock_guard lock(m_mutex);
        return static_cast<bool>(m_callback);
    }
    void Fire(bool attached, const std::string& path)
    {
        ZELSerialDeviceEvent event;
        event.attached = attached;
        event.port.path = path;
        std::lock_guard lock(m_mutex);
        if (m_callback)
            m_callback(event);
    }

private:
    mutable std::mutex m_mutex;
    Callback m_callback;
};

} // namespace

TEST(CZELSerialPort, HotPlugEventsArePublishedAsAttachAndDetachRecords)
{
    auto server = Serve();
    CZELSerialPort port;
    auto monitor = std::make_unique<FakeHotPlugMonitor>();
    FakeHotPlugMonitor* fake = monitor.get();
    port.SetHotPlugMonitor(std::move(monitor));
    Subscriber subscriber(port);
    StartOn(port, server->Path());
    ASSERT_TRUE(fake->IsRunning());

    const std::string ours = std::filesystem::canonical(server->Path()).string();
    fake->Fire(true, "/dev/ttyUSB7");
    fake->Fire(false, "/dev/ttyUSB7");
    fake->Fire(false, ours);

    const auto path = [](const Bytes& bytes, std::size_t from) {
        EXPECT_EQ(bytes.back(), 0) << "the path ends with NUL";
        return std::string(bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.end() - 1);
    };
    const auto reason = [](const Bytes& bytes) {
        return static_cast<std::int32_t>(bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<std::uint32_t>(bytes[3]) << 24);
    };
    const std::optional<Record> attached = subscriber.Next(ZEL_MESSAGE_SERIAL_DEVICE_ATTACHED);
    ASSERT_TRUE(attached);
    EXPECT_EQ(attached->identity, port.GetIdentity());
    EXPECT_GE(attached->time.wYear, 2024);
    EXPECT_EQ(path(attached->rest, 0), "/dev/ttyUSB7");
    const std::optional<Record> other = subscriber.Next(ZEL_MESSAGE_SERIAL_DEVICE_DETACHED);
    ASSERT_TRUE(other);
    EXPECT_EQ(reason(other->rest), ZEL_SERIAL_DETACH_REASON_REMOVED);
    EXPECT_EQ(path(other->rest, 4), "/dev/ttyUSB7");
    const std::optional<Record> own = subscriber.Next(ZEL_MESSAGE_SERIAL_DEVICE_DETACHED);
    ASSERT_TRUE(own);
    EXPECT_EQ(reason(own->rest), ZEL_SERIAL_DETACH_REASON_PORT_DEVICE);

    // The monitor runs with the receive thread.
    port.TerminateReceivingThread();
    EXPECT_FALSE(fake->IsRunning());
}

namespace {

// Whether this process may open a socket on the kernel's device events at all, asked without the
// monitor: a sandbox that forbids netlink sockets refuses it.
bool CanOpenDeviceEventSocket()
{
    const int socket = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_KOBJECT_UEVENT);
    if (socket < 0)
        return false;
    sockaddr_nl address {};
    address.nl_family = AF_NETLINK;
    const bool bound = ::bind(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(socket);
    return bound;
}

} // namespace

TEST(CZELUdevHotPlugMonitor, StartsWhereDeviceEventsCanBeHeardAndStops)
{
    std::unique_ptr<IZELHotPlugMonitor> monitor = ZELCreateHotPlugMonitor();
    const int error = monitor->Start([](const ZELSerialDeviceEvent&) {});
    if (!CanOpenDeviceEventSocket()) {
        // Refused, and said so with the errno.
        EXPECT_NE(error, 0);
        EXPECT_FALSE(monitor->IsRunning());
        GTEST_SKIP() << "this process may not open a device event socket; only the refusal was checked";
    }
    ASSERT_EQ(error, 0) << std::strerror(error);
    EXPECT_TRUE(monitor->IsRunning());
    // A second start restarts it with the new callback.
    EXPECT_EQ(monitor->Start([](const ZELSerialDeviceEvent&) {}), 0);
    EXPECT_TRUE(monitor->IsRunning());
    monitor->Stop();
    EXPECT_FALSE(monitor->IsRunning());
    monitor->Stop();
    EXPECT_FALSE(monitor->IsRunning());
}

// Without a udev daemon (here, in a container, in an initramfs) the monitor hears the kernel: an
// "add" made through sysfs for a serial port of this machine, as the kernel sends one when an
// adapter is plugged in, is reported with the port's node.
TEST(CZELUdevHotPlugMonitor, HearsTheKernelWhereNoUdevDaemonRuns)
{
    if (std::string(CZELUdevHotPlugMonitor::EventSource(CZELUdevHotPlugMonitor::kUdevControl)) != "kernel")
        GTEST_SKIP() << "a udev daemon runs here: the monitor takes its events, and a test makes up none for it";
    const std::vector<ZELPlatform::SerialPortInfo> ports = ZELPlatform::ListSerialPorts();
    const std::string uevent = ports.empty() ? "" : "/sys/class/tty/" + ports.front().name + "/uevent";
    if (uevent.empty() || ::access(uevent.c_str(), W_OK) != 0 || !CanOpenDeviceEventSocket())
        GTEST_SKIP() << "no serial port whose kernel event this process may make and hear";

    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<ZELSerialDeviceEvent> events;
    CZELUdevHotPlugMonitor monitor;
    ASSERT_EQ(monitor.Start([&](const ZELSerialDeviceEvent& event) {
        std::lock_guard lock(mutex);
        events.push_back(event);
        arrived.notify_all();
    }), 0);
    std::ofstream(uevent) << "add\n";
    std::unique_lock lock(mutex);
    const bool heard = arrived.wait_for(lock, 10s, [&] {
        return std::any_of(events.begin(), events.end(), [&](const ZELSerialDeviceEvent& e) {
            return e.attached && e.port.path == ports.front().path;
        });
    });
    lock.unlock();
    monitor.Stop();
    EXPECT_TRUE(heard) << "no attach of " << ports.front().path;
}

TEST(TarnPorts, ListsThePortsAsTextAndJson)
{
    const ZELTest::ProcessResult text = ZELTest::RunProgram(TARN_PROGRAM " ports");
    EXPECT_EQ(text.exitCode, 0) << text.output;
    EXPECT_FALSE(text.output.empty());

    const ZELTest::ProcessResult json = ZELTest::RunProgram(TARN_PROGRAM " ports --json 2>/dev/null");
    ASSERT_EQ(json.exitCode, 0) << json.output;
    const nlohmann::json list = nlohmann::json::parse(json.output, nullptr, false);
    ASSERT_TRUE(list.is_array()) << json.output;
    const auto ports = ZELPlatform::ListSerialPorts();
    ASSERT_EQ(list.size(), ports.size());
    for (std::size_t i = 0; i < ports.size(); ++i) {
        EXPECT_EQ(list[i].value("path", ""), ports[i].path);
        for (const char* key : {"byId", "vendorId", "productId", "manufacturer", "product", "serial", "driver"})
            EXPECT_TRUE(list[i].contains(key)) << key;
    }
}

// The listing as `tarn ports` prints it, from a listing the test makes, so that every field is seen
// whatever ports this machine has.
TEST(TarnPorts, PrintsEveryFieldOfAListing)
{
    ZELPlatform::SerialPortInfo adapter;
    adapter.path = "/dev/ttyUSB3";
    adapter.name = "ttyUSB3";
    adapter.byIdLink = "/dev/serial/by-id/usb-Maker_Cable_\"7\"-if00-port0";
    adapter.description = "Maker Cable";
    adapter.driver = "ftdi_sio";
    adapter.usbId = "0403:6001";
    adapter.vendorId = "0403";
    adapter.productId = "6001";
    adapter.manufacturer = "Maker";
    adapter.product = "Cable \"7\"";
    adapter.serial = "A10K\u00e9";
    ZELPlatform::SerialPortInfo uart;
    uart.path = "/dev/ttyS0";
    uart.name = "ttyS0";
    uart.description = "serial8250";
    uart.driver = "serial8250";
    const std::vector<ZELPlatform::SerialPortInfo> ports { adapter, uart };

    std::ostringstream json;
    PrintPortList(json, ports, true);
    const nlohmann::json list = nlohmann::json::parse(json.str(), nullptr, false);
    ASSERT_TRUE(list.is_array()) << json.str();
    ASSERT_EQ(list.size(), ports.size()) << json.str();
    for (std::size_t i = 0; i < ports.size(); ++i) {
        const ZELPlatform::SerialPortInfo& port = ports[i];
        const std::pair<const char*, const std::string*> fields[] = { { "path", &port.path }, { "name", &port.name },
            { "byId", &port.byIdLink }, { "description", &port.description }, { "driver", &port.driver },
            { "vendorId", &port.vendorId }, { "productId", &port.productId },
            { "manufacturer", &port.manufacturer }, { "product", &port.product }, { "serial", &port.serial } };
        for (const auto& [key, value] : fields) {
            ASSERT_TRUE(list[i].contains(key)) << port.path << ": " << key;
            EXPECT_EQ(list[i][key], *value) << port.path << ": " << key;
        }
    }

    std::ostringstream text;
    PrintPortList(text, ports, false);
    EXPECT_EQ(text.str(),
        "/dev/ttyUSB3  Maker Cable  [0403:6001]\n"
        "    /dev/serial/by-id/usb-Maker_Cable_\"7\"-if00-port0\n"
        "    manufacturer: Maker, product: Cable \"7\", serial: A10K\u00e9\n"
        "/dev/ttyS0  serial8250\n");

    std::ostringstream none;
    PrintPortList(none, {}, true);
    EXPECT_EQ(nlohmann::json::parse(none.str(), nullptr, false), nlohmann::json::array()) << none.str();
    none.str("");
    PrintPortList(none, {}, false);
    EXPECT_EQ(none.str(), "No serial ports found.\n");
}
