#pragma once

#include "zel/platform/CZELSerialDevice.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace ZELTest {

// The device end of a pseudo-terminal, served by a thread: bytes from the client go to `respond`,
// whose answer goes back. Every byte the client sent is kept for checks of the wire format.
class SimulatedLine
{
public:
    using Bytes = std::vector<std::uint8_t>;
    using Responder = std::function<Bytes(const std::uint8_t*, std::size_t)>;

    explicit SimulatedLine(Responder respond)
        : m_respond(std::move(respond))
    {
        if (m_device.OpenPseudoTerminal(m_path) != 0)
            throw std::runtime_error("no pseudo-terminal");
        m_thread = std::thread([this] { Serve(); });
    }
    ~SimulatedLine()
    {
        m_stop = true;
        m_device.Interrupt();
        m_thread.join();
    }
    const std::string& Path() const { return m_path; }
    // Runs f while the serving thread is between answers.
    template <typename F> auto Locked(F&& f)
    {
        std::lock_guard lock(m_mutex);
        return f();
    }
    Bytes Received()
    {
        std::lock_guard lock(m_mutex);
        return m_received;
    }

private:
    void Serve()
    {
        while (!m_stop) {
            std::uint8_t buffer[512];
            std::size_t n = 0;
            const auto result = m_device.Read(buffer, sizeof buffer, n, CZELDeadline::Never());
            if (result != CZELSerialDevice::IoResult::Done)
                continue;
            Bytes answer;
            {
                std::lock_guard lock(m_mutex);
                m_received.insert(m_received.end(), buffer, buffer + n);
                answer = m_respond(buffer, n);
            }
            std::size_t written = 0;
            m_device.Write(answer.data(), answer.size(), written, CZELDeadline(std::chrono::seconds(10)));
        }
    }

    Responder m_respond;
    CZELSerialDevice m_device;
    std::string m_path;
    std::mutex m_mutex;
    Bytes m_received;
    std::atomic<bool> m_stop { false };
    std::thread m_thread;
};

} // namespace ZELTest
