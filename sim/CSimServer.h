#pragma once

#include "sim/CSimDevice.h"
#include "sim/CSimScenario.h"
#include "zel/platform/CZELSerialDevice.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// Serves a simulated device on a pseudo-terminal from its own thread, with the scenario's faults.
// The program opens Path(): a symbolic link in a private temporary folder that always names the
// current pseudo-terminal, so after a simulated disconnection and return the same name finds the
// device again.
class CSimServer
{
public:
    explicit CSimServer(CSimScenario scenario = {});
    CSimServer(const CSimServer&) = delete;
    CSimServer& operator=(const CSimServer&) = delete;
    ~CSimServer();

    // Opens the pseudo-terminal and starts the thread. Returns 0 or the errno of what failed.
    int Start();
    // Ends the thread (a read in progress is woken) and removes the link and its folder.
    void Stop();

    const std::string& Path() const { return m_linkPath; }
    std::string TerminalPath() const;

    // The line goes away now; with `returnAfter` a new pseudo-terminal takes its place after that time.
    void Disconnect(std::optional<std::chrono::milliseconds> returnAfter);
    // Connections made so far: 1 after Start, one more after each return.
    unsigned Connections() const;
    bool WaitForConnections(unsigned count, std::chrono::milliseconds timeout) const;
    // Requests the device ignored (scenario faults and requests it does not know).
    bool WaitForIgnoredRequests(std::uint32_t count, std::chrono::milliseconds timeout) const;
    // Waits until the device (under the server's lock) satisfies `condition`.
    bool WaitFor(const std::function<bool(CSimDevice&)>& condition, std::chrono::milliseconds timeout) const;
    // Runs `inspect` on the device under the server's lock.
    void Inspect(const std::function<void(CSimDevice&)>& inspect) const;
    // The highest rate the line was paced at so far; 0 when it was never paced.
    unsigned FastestPacedRate() const { return m_fastestPacedRate.load(); }

private:
    using Clock = std::chrono::steady_clock;

    void Run();
    CSimDevice::Verdict OnRequest(std::uint8_t delimiter, std::uint16_t id);
    void Schedule(std::vector<CSimDevice::Outgoing>& outgoing, Clock::time_point now);
    void SendDue();
    void WritePaced(const std::vector<std::uint8_t>& bytes);
    // Hands what the program sent to the device no faster than the wire carries it.
    void ReceivePaced(const std::uint8_t* data, std::size_t size, std::vector<CSimDevice::Outgoing>& outgoing);
    // The rate to pace at now; 0: no pacing.
    unsigned PacingRate();
    // Waits until `due`; false when the server stops or the line goes away first.
    bool WaitUntil(Clock::time_point due);
    void GoAway(std::optional<std::chrono::milliseconds> returnAfter);
    // A bootloader's write pulled the cable: the line goes away and the processors keep their state.
    bool TakeCablePull();
    bool ComeBack();
    int PointLinkAt(const std::string& target);

    CSimScenario m_scenario;
    mutable std::mutex m_mutex; // the device, the faults and the requests below
    mutable std::condition_variable m_changed;
    CSimDevice m_device;
    CZELSerialDevice m_line; // used by the server thread only, apart from Interrupt()
    std::string m_folder;
    std::string m_linkPath;
    std::string m_terminalPath;
    std::thread m_thread;
    bool m_stop = false;
    unsigned m_connections = 0;
    bool m_connected = false;
    std::optional<std::optional<std::chrono::milliseconds>> m_disconnectRequest;
    bool m_keepProcessors = false; // the next GoAway keeps the processors as they are
    std::optional<Clock::time_point> m_returnAt;
    std::multimap<Clock::time_point, std::vector<std::uint8_t>> m_outbox; // server thread only
    Clock::time_point m_inputFree; // server thread only: when the program's last byte is through
    std::atomic<unsigned> m_fastestPacedRate{0};
};
