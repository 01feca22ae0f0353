#pragma once

// The program's end of a simulated line: the command set builds the requests and parses the answers,
// the framer cuts what arrives into packets, all over the pseudo-terminal the simulator serves.
#include "sim/CSimScenario.h"
#include "sim/CSimServer.h"
#include "zel/commands/CZELCommandSet.h"
#include "zel/platform/CZELSerialDevice.h"
#include "zel/serial/CZELPacketFramer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace SimTest {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

// Generous: only a failing test waits this long.
constexpr std::chrono::milliseconds kWait = 5s;

inline std::unique_ptr<CSimServer> Serve(const std::string& json)
{
    CSimScenario scenario;
    std::string error;
    EXPECT_TRUE(CSimScenario::Parse(json, scenario, error)) << error;
    auto server = std::make_unique<CSimServer>(std::move(scenario));
    EXPECT_EQ(server->Start(), 0);
    return server;
}

class ProgramSide
{
public:
    explicit ProgramSide(const std::string& path, std::uint16_t protocol = 0x1800)
    {
        EXPECT_EQ(Open(path), 0);
        SetProtocol(protocol);
    }

    int Open(const std::string& path)
    {
        m_packets.clear();
        return m_port.Open(path, 115200, CZELSerialDevice::Parity::None);
    }
    void Close() { m_port.Close(); }

    void SetProtocol(std::uint16_t protocol)
    {
        m_framer.SetProtocol(protocol);
        commands.SetProtocol(protocol);
    }

    // Builds a request with the command set, fills in its checksums as the serial port does and sends it.
    void Send(const std::function<std::uint16_t(CZELCommandSet&, std::uint8_t*)>& build)
    {
        std::uint8_t buffer[1100] = {};
        const std::uint16_t length = build(commands, buffer);
        ASSERT_GT(length, 0);
        SendRaw(Bytes(buffer, buffer + length));
    }
    void SendRaw(Bytes packet)
    {
        commands.CalculateChecksums(packet.data(), packet.size());
        std::size_t written = 0;
        ASSERT_EQ(m_port.Write(packet.data(), packet.size(), written, CZELDeadline(kWait)),
            CZELSerialDevice::IoResult::Done);
    }

    // The next packet, or nothing when the line stays silent or goes away first.
    std::optional<Bytes> Next(std::chrono::milliseconds timeout = kWait)
    {
        const CZELDeadline deadline(timeout);
        while (m_packets.empty()) {
            std::uint8_t buffer[2048];
            std::size_t received = 0;
            lastResult = m_port.Read(buffer, sizeof buffer, received, deadline);
            if (lastResult != CZELSerialDevice::IoResult::Done)
                return std::nullopt;
            m_framer.Receive(buffer, received, std::chrono::steady_clock::now());
        }
        Bytes packet = std::move(m_packets.front());
        m_packets.pop_front();
        return packet;
    }

    // The next packet, which must carry `id` (a CCPU-family id, or the MCPU id in byte 1).
    Bytes Expect(std::uint16_t id)
    {
        const std::optional<Bytes> packet = Next();
        if (!packet) {
            ADD_FAILURE() << "no packet with id 0x" << std::hex << id;
            return Bytes(16, 0);
        }
        EXPECT_EQ(Id(*packet), id);
        return *packet;
    }

    static std::uint16_t Id(const Bytes& packet)
    {
        if (packet[0] == 0x24 || packet[0] == 0x3E)
            return packet[1];
        return static_cast<std::uint16_t>(packet[1] | (packet[2] << 8));
    }

    const CZELPacketFramer::Counters& Counters() const { return m_framer.GetCounters(); }

    CZELCommandSet commands;
    CZELSerialDevice::IoResult lastResult = CZELSerialDevice::IoResult::Done;

private:
    CZELSerialDevice m_port;
    std::deque<Bytes> m_packets;
    CZELPacketFramer m_framer{[this](const std::uint8_t* packet, std::size_t length) {
        m_packets.emplace_back(packet, packet + length);
    }};
};

} // namespace SimTest
