#pragma once

// The update workflow driven with packets: a link whose SendCommand hands each request to the
// in-process device simulator and publishes the answers on the hub at once, a view that records what
// it is shown, and a log sink.
#include "app/core/CUpdaterDlg.h"
#include "app/core/IUpdateLink.h"
#include "app/core/IUpdateView.h"
#include "sim/CSimDevice.h"
#include "zel/foundation/CZELTimeTable.h"
#include "zel/foundation/ZELMessageBox.h"
#include "zel/foundation/ZELStatus.h"
#include "zel/queue/CZELMessage.h"
#include "zel/queue/CZELMessageQueue.h"
#include "zel/serial/CZELPacketFramer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace UpdaterTest {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

// Generous: only a failing test waits this long.
constexpr std::chrono::milliseconds kWait = 10s;

// Device answers with their checksums. Built byte by byte: GCC 12 misreads a vector insert of a
// payload after the header as out of bounds.
inline Bytes Ack(std::uint8_t delimiter, std::uint16_t id, const Bytes& payload)
{
    Bytes packet{delimiter, static_cast<std::uint8_t>(id), static_cast<std::uint8_t>(id >> 8),
        static_cast<std::uint8_t>(payload.size()), static_cast<std::uint8_t>(payload.size() >> 8), 0, 0};
    for (const std::uint8_t byte : payload)
        packet.push_back(byte);
    if (!payload.empty())
        packet.push_back(0);
    CZELCommandSet().CalculateChecksums(packet.data(), packet.size());
    return packet;
}

inline Bytes ModuleAck(std::uint8_t id, const Bytes& payload)
{
    Bytes packet{0x24, id, static_cast<std::uint8_t>(payload.size()), 0};
    for (const std::uint8_t byte : payload)
        packet.push_back(byte);
    packet.push_back(0);
    packet.push_back(0);
    CZELCommandSet().CalculateChecksums(packet.data(), packet.size());
    return packet;
}

// Publishes a packet as the receive thread does: 20 bytes of port identity and time, then the packet.
inline void PublishReceived(const std::uint8_t* packet, std::size_t length)
{
    Bytes record(20, 0);
    record.insert(record.end(), packet, packet + length);
    CZELMessage message(ZEL_MESSAGE_SERIAL_DATA_RECEIVED, record.data(), static_cast<int>(record.size()));
    GetZELMessageQueue().Notify(message);
}

class SimLink : public IUpdateLink
{
public:
    explicit SimLink(CSimDevice::Settings settings = {})
        : m_device(std::move(settings))
    {
        m_framer.SetCallback([](const std::uint8_t* packet, std::size_t length) { PublishReceived(packet, length); });
    }

    long InitializeReceivingThread() override
    {
        std::lock_guard lock(m_mutex);
        if (failOpen)
            return ZEL_STATUS_UNSPECIFIC_ERROR;
        if (m_running)
            return ZEL_STATUS_BUSY;
        m_running = true;
        ++starts;
        return ZEL_STATUS_SUCCESS;
    }
    long TerminateReceivingThread() override
    {
        std::lock_guard lock(m_mutex);
        m_running = false;
        return ZEL_STATUS_SUCCESS;
    }
    bool IsReceivingThreadRunning() const override
    {
        std::lock_guard lock(m_mutex);
        return m_running;
    }
    long SendCommand(std::uint8_t* packet, std::uint32_t length) override
    {
        {
            std::lock_guard lock(m_mutex);
            if (!m_running)
                return ZEL_STATUS_BUSY;
            m_checksums.CalculateChecksums(packet, length);
            m_sent.emplace_back(packet, packet + length);
            if (!silent) {
                std::vector<CSimDevice::Outgoing> answers;
                m_device.Receive(packet, length, answers);
                for (const CSimDevice::Outgoing& answer : answers)
                    m_framer.Receive(answer.bytes.data(), answer.bytes.size(), std::chrono::steady_clock::now());
            }
        }
        if (onSent)
            onSent(IdOf(Bytes(packet, packet + length)));
        return ZEL_STATUS_SUCCESS;
    }
    long SetProtocol(std::uint16_t protocol) override
    {
        std::lock_guard lock(m_mutex);
        const long result = m_framer.SetProtocol(protocol);
        if (result == ZEL_STATUS_SUCCESS)
            m_protocol = protocol;
        return result;
    }
    std::uint16_t GetProtocol() const override
    {
        std::lock_guard lock(m_mutex);
        return m_protocol;
    }
    long SetSerialPortSettings(const std::string& portName, long baudRateId) override
    {
        std::lock_guard lock(m_mutex);
        m_port = portName;
        m_baudRateId = baudRateId;
        return ZEL_STATUS_SUCCESS;
    }
    std::string GetCOMPort() const override
    {
        std::lock_guard lock(m_mutex);
        return m_port;
    }
    long GetBaudRateAsID() const override
    {
        std::lock_guard lock(m_mutex);
        return m_baudRateId;
    }
    std::string GetLastOpenErrorText() const override { return failOpen ? "no such port" : ""; }

    // Command ids of the requests sent, in order (MCPU ids in the low byte).
    std::vector<std::uint16_t> SentIds() const
    {
        std::lock_guard lock(m_mutex);
        std::vector<std::uint16_t> ids;
        for (const Bytes& packet : m_sent)
            ids.push_back(IdOf(packet));
        return ids;
    }
    std::size_t CountSent(std::uint16_t id) const
    {
        std::size_t count = 0;
        for (const std::uint16_t sent : SentIds())
            count += sent == id ? 1 : 0;
        return count;
    }

    bool failOpen = false;
    bool silent = false; // requests go unanswered
    int starts = 0;
    // Called on the sending thread after each request has gone out (and been answered), no lock held.
    std::function<void(std::uint16_t id)> onSent;

private:
    static std::uint16_t IdOf(const Bytes& packet)
    {
        return packet[0] == 0x24 || packet[0] == 0x3E ? packet[1]
                                                      : static_cast<std::uint16_t>(packet[1] | (packet[2] << 8));
    }

    mutable std::mutex m_mutex;
    CSimDevice m_device;
    CZELPacketFramer m_framer;
    CZELCommandSet m_checksums;
    std::vector<Bytes> m_sent;
    bool m_running = false;
    std::uint16_t m_protocol = 0x1800;
    std::string m_port = "COM1";
    long m_baudRateId = 7;
};

struct Box
{
    std::string text;
    std::string caption;
    unsigned int style = 0;
};

class RecordingView : public IUpdateView
{
public:
    void SetStatusText(const std::string& text) override
    {
        std::lock_guard lock(m_mutex);
        statusTexts.push_back(text);
    }
    void SetProgress(int percent) override
    {
        std::lock_guard lock(m_mutex);
        progress.push_back(percent);
    }
    int ShowMessageBox(const std::string& text, const std::string& caption, unsigned int style) override
    {
        std::lock_guard lock(m_mutex);
        boxes.push_back({text, caption, style});
        return (style & 0x0F) == ZEL_MB_YESNO ? answer : ZEL_IDOK;
    }
    void SetCOMPortText(const std::string& port) override
    {
        std::lock_guard lock(m_mutex);
        portText = port;
    }
    void EnableStartButton(bool enable) override
    {
        std::lock_guard lock(m_mutex);
        startEnabled = enable;
    }
    void EnablePortField(bool enable) override
    {
        std::lock_guard lock(m_mutex);
        portEnabled = enable;
    }
    void RequestClose() override
    {
        std::lock_guard lock(m_mutex);
        ++closeRequests;
    }

    std::vector<Box> Boxes() const
    {
        std::lock_guard lock(m_mutex);
        return boxes;
    }
    std::vector<int> Progress() const
    {
        std::lock_guard lock(m_mutex);
        return progress;
    }
    int CloseRequests() const
    {
        std::lock_guard lock(m_mutex);
        return closeRequests;
    }

    int answer = ZEL_IDNO;
    std::vector<std::string> statusTexts;
    std::string portText;
    bool startEnabled = true;
    bool portEnabled = true;

private:
    mutable std::mutex m_mutex;
    std::vector<Box> boxes;
    std::vector<int> progress;
    int closeRequests = 0;
};

struct LogLine
{
    std::string text;
    _ZELSystemLogExEventType type;
};

class LogRecorder
{
public:
    AppLogSink Sink()
    {
        return [this](const std::string& message, _ZELSystemLogExEventType type) {
            std::lock_guard lock(m_mutex);
            m_lines.push_back({message, type});
        };
    }
    std::vector<LogLine> Lines() const
    {
        std::lock_guard lock(m_mutex);
        return m_lines;
    }
    bool Contains(const std::string& text, _ZELSystemLogExEventType type) const
    {
        for (const LogLine& line : Lines())
            if (line.text == text && line.type == type)
                return true;
        return false;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<LogLine> m_lines;
};

// The resends of a request that stayed unanswered for `elapsed` until the wait gave up. A stalled
// machine can delay a resend but never lose one that fell due before the time-out, and none goes
// out before its interval has passed.
inline void ExpectResends(std::size_t resends, std::chrono::milliseconds interval, std::chrono::milliseconds timeout,
    std::chrono::steady_clock::duration elapsed, const std::string& name = {})
{
    EXPECT_GE(resends, static_cast<std::size_t>(timeout / interval)) << name;
    EXPECT_LE(resends, static_cast<std::size_t>(elapsed / interval)) << name;
}

// For a whole test program: the time table scaled down by `divisor`, and the hub running.
class ScaledTimesWithHub : public ::testing::Environment
{
public:
    explicit ScaledTimesWithHub(int divisor)
        : m_divisor(divisor)
    {
    }
    void SetUp() override
    {
        ZELScaleTimesForTests(m_divisor);
        GetZELMessageQueue().Initialize(false);
    }
    void TearDown() override { GetZELMessageQueue().Terminate(); }

private:
    int m_divisor;
};

// One catalogue file per listed slot with the given version.
inline void AddFirmware(CFirmwareCatalogue& catalogue, int slot, const char* version)
{
    _FILE_HEADER header {};
    header.magic = ZEL_FILE_HEADER_MAGIC;
    header.fileType = static_cast<std::uint32_t>(slot);
    std::strncpy(header.version, version, sizeof header.version - 1);
    ASSERT_EQ(catalogue.KeepNewestFile(header, "./Firmware/" + std::to_string(slot) + ".tarn", slot), 0);
}

} // namespace UpdaterTest
