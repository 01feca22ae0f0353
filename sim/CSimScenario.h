#pragma once

#include "sim/CSimDevice.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// A simulated device and the faults of its line, read from a JSON scenario (docs/simulator.md).
class CSimScenario
{
public:
    enum class FaultKind
    {
        NoAnswer,   // a request is ignored
        Late,       // the answers to a request leave later
        Corrupt,    // one byte of a packet the device sends is changed
        Drop,       // a packet the device sends is lost
        Garbage,    // bytes on the line before a packet the device sends
        Disconnect, // a request makes the device go away (and optionally come back)
    };

    struct Fault
    {
        FaultKind kind = FaultKind::NoAnswer;
        // Which packets: the request's id (NoAnswer, Late, Disconnect) or the id of the packet the
        // device sends (Corrupt, Drop, Garbage); unset matches every packet.
        std::optional<std::uint16_t> id;
        std::optional<std::uint8_t> delimiter;
        unsigned skip = 0;  // matching packets let through before the fault starts
        unsigned times = 0; // how often it strikes; 0: every time
        std::chrono::milliseconds delay{0};         // Late
        std::optional<std::size_t> offset;          // Corrupt: byte offset; unset: the last byte
        std::uint8_t mask = 0xFF;                   // Corrupt: XOR applied to the byte
        std::vector<std::uint8_t> bytes;            // Garbage
        std::optional<std::chrono::milliseconds> returnAfter; // Disconnect: unset stays away

        // Counts a packet of this description against skip and times; true when the fault strikes.
        bool Strikes(std::uint8_t packetDelimiter, std::uint16_t packetId);

    private:
        unsigned m_seen = 0;
        unsigned m_struck = 0;
    };

    CSimDevice::Settings device;
    std::vector<Fault> faults;
    // Wire-speed pacing of both directions of the line at ten bits a byte; 0: none.
    unsigned baudRate = 0;
    bool baudRateOfLine = false; // paced at the rate the program set on the line ("baudRate": "line")

    // Reads a scenario; false with a message naming the offending field.
    static bool Parse(const std::string& json, CSimScenario& scenario, std::string& error);
    static bool Load(const std::string& path, CSimScenario& scenario, std::string& error);
};
