#include "sim/CSimServer.h"

#include "zel/foundation/CZELTimeTable.h"
#include "zel/platform/ZELFile.h"
#include "zel/platform/ZELThreadName.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <system_error>

using namespace std::chrono_literals;

CSimServer::CSimServer(CSimScenario scenario)
    : m_scenario(std::move(scenario))
    , m_device(m_scenario.device)
{
    m_device.SetRequestHook([this](std::uint8_t delimiter, std::uint16_t id) { return OnRequest(delimiter, id); });
}

CSimServer::~CSimServer() { Stop(); }

int CSimServer::Start()
{
    if (m_thread.joinable())
        return EBUSY;
    if (const int error = ZELPlatform::CreateTemporaryDirectory("tarn-sim-", m_folder); error != 0)
        return error;
    m_linkPath = m_folder + "/ttySIM0";
    std::string terminal;
    if (const int error = m_line.OpenPseudoTerminal(terminal); error != 0)
        return error;
    if (const int error = PointLinkAt(terminal); error != 0) {
        m_line.Close();
        return error;
    }
    {
        std::lock_guard lock(m_mutex);
        m_terminalPath = terminal;
        m_stop = false;
        m_connected = true;
        m_connections = 1;
    }
    m_thread = std::thread([this] { Run(); });
    return 0;
}

void CSimServer::Stop()
{
    if (m_thread.joinable()) {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_changed.notify_all();
        m_line.Interrupt();
        m_thread.join();
    }
    m_line.Close();
    if (!m_folder.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
        m_folder.clear();
    }
}

std::string CSimServer::TerminalPath() const
{
    std::lock_guard lock(m_mutex);
    return m_terminalPath;
}

int CSimServer::PointLinkAt(const std::string& target)
{
    // A new link beside the old one, renamed over it: the name never goes missing in between.
    const std::string fresh = m_linkPath + ".new";
    std::error_code error;
    std::filesystem::remove(fresh, error);
    std::filesystem::create_symlink(target, fresh, error);
    if (!error)
        std::filesystem::rename(fresh, m_linkPath, error);
    return error ? error.value() : 0;
}

void CSimServer::Disconnect(std::optional<std::chrono::milliseconds> returnAfter)
{
    {
        std::lock_guard lock(m_mutex);
        m_disconnectRequest = returnAfter;
    }
    m_changed.notify_all();
    m_line.Interrupt();
}

unsigned CSimServer::Connections() const
{
    std::lock_guard lock(m_mutex);
    return m_connections;
}

bool CSimServer::WaitForConnections(unsigned count, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_connections >= count && m_connected; });
}

bool CSimServer::WaitForIgnoredRequests(std::uint32_t count, std::chrono::milliseconds timeout) const
{
    return WaitFor([count](CSimDevice& device) { return device.UnansweredRequests() >= count; }, timeout);
}

bool CSimServer::WaitFor(const std::function<bool(CSimDevice&)>& condition, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(m_mutex);
    auto& device = const_cast<CSimDevice&>(m_device);
    return m_changed.wait_for(lock, timeout, [&] { return condition(device); });
}

void CSimServer::Inspect(const std::function<void(CSimDevice&)>& inspect) const
{
    std::lock_guard lock(m_mutex);
    inspect(const_cast<CSimDevice&>(m_device));
}

// Runs under m_mutex (the device calls it from Receive).
CSimDevice::Verdict CSimServer::OnRequest(std::uint8_t delimiter, std::uint16_t id)
{
    CSimDevice::Verdict verdict;
    for (CSimScenario::Fault& fault : m_scenario.faults) {
        switch (fault.kind) {
        case CSimScenario::FaultKind::NoAnswer:
            if (fault.Strikes(delimiter, id))
                verdict.ignore = true;
            break;
        case CSimScenario::FaultKind::Late:
            if (fault.Strikes(delimiter, id))
                verdict.delay += fault.delay;
            break;
        case CSimScenario::FaultKind::Disconnect:
            if (fault.Strikes(delimiter, id)) {
                verdict.ignore = true;
                m_disconnectRequest = fault.returnAfter;
            }
            break;
        default: break;
        }
    }
    return verdict;
}

// Runs under m_mutex.
void CSimServer::Schedule(std::vector<CSimDevice::Outgoing>& outgoing, Clock::time_point now)
{
    for (CSimDevice::Outgoing& packet : outgoing) {
        std::vector<std::uint8_t> bytes = std::move(packet.bytes);
        const bool isPacket = packet.delimiter != 0; // bootloader answers are left alone
        bool dropped = false;
        for (CSimScenario::Fault& fault : m_scenario.faults) {
            if (!isPacket || dropped)
                break;
            switch (fault.kind) {
            case CSimScenario::FaultKind::Drop:
                if (fault.Strikes(packet.delimiter, packet.id))
                    dropped = true;
                break;
            case CSimScenario::FaultKind::Corrupt:
                if (fault.Strikes(packet.delimiter, packet.id) && !bytes.empty())
                    bytes[std::min(fault.offset.value_or(bytes.size() - 1), bytes.size() - 1)] ^= fault.mask;
                break;
            case CSimScenario::FaultKind::Garbage:
                if (fault.Strikes(packet.delimiter, packet.id))
                    bytes.insert(bytes.begin(), fault.bytes.begin(), fault.bytes.end());
                break;
            default: break;
            }
        }
        if (dropped)
            continue;
        // The line is first in, first out: a late answer holds back every answer after it.
        auto due = now + packet.delay;
        if (!m_outbox.empty())
            due = std::max(due, m_outbox.rbegin()->first);
        m_outbox.emplace(due, std::move(bytes));
    }
    outgoing.clear();
}

namespace {

// Ten bits a byte: start, eight data, stop.
std::chrono::microseconds WireTime(std::size_t bytes, unsigned baud)
{
    return std::chrono::microseconds(bytes * 10'000'000ull / baud);
}

// About a millisecond of the wire.
std::size_t Slice(unsigned baud)
{
    return std::max<std::size_t>(1, baud / 10000);
}

} // namespace

unsigned CSimServer::PacingRate()
{
    const unsigned baud = m_scenario.baudRateOfLine ? m_line.LineBaudRate() : m_scenario.baudRate;
    unsigned fastest = m_fastestPacedRate.load();
    while (baud > fastest && !m_fastestPacedRate.compare_exchange_weak(fastest, baud)) {
    }
    return baud;
}

bool CSimServer::WaitUntil(Clock::time_point due)
{
    std::unique_lock lock(m_mutex);
    return !m_changed.wait_until(lock, due, [this] { return m_stop || m_disconnectRequest.has_value(); });
}

void CSimServer::WritePaced(const std::vector<std::uint8_t>& bytes)
{
    const unsigned baud = PacingRate();
    if (baud == 0) {
        std::size_t written = 0;
        m_line.Write(bytes.data(), bytes.size(), written, CZELDeadline(ZELTimes().stm32AnswerTimeout));
        return;
    }
    // Each slice is handed over when its last byte would have finished on the wire.
    const auto start = Clock::now();
    for (std::size_t sent = 0; sent < bytes.size();) {
        const std::size_t count = std::min(Slice(baud), bytes.size() - sent);
        if (!WaitUntil(start + WireTime(sent + count, baud)))
            return;
        std::size_t written = 0;
        m_line.Write(bytes.data() + sent, count, written, CZELDeadline(ZELTimes().stm32AnswerTimeout));
        sent += count;
    }
}

void CSimServer::ReceivePaced(const std::uint8_t* data, std::size_t size, std::vector<CSimDevice::Outgoing>& outgoing)
{
    const unsigned baud = PacingRate();
    if (baud == 0) {
        std::lock_guard lock(m_mutex);
        m_device.Receive(data, size, outgoing);
        TakeCablePull();
        return;
    }
    // A pseudo-terminal takes whatever the program writes at once; the device sees each slice only
    // when its last byte would have arrived over the wire, after the bytes before it.
    const auto start = std::max(Clock::now(), m_inputFree);
    m_inputFree = start + WireTime(size, baud);
    for (std::size_t taken = 0; taken < size;) {
        const std::size_t count = std::min(Slice(baud), size - taken);
        if (!WaitUntil(start + WireTime(taken + count, baud)))
            return;
        std::lock_guard lock(m_mutex);
        m_device.Receive(data + taken, count, outgoing);
        if (TakeCablePull())
            return; // what else was on its way never arrives
        taken += count;
    }
}

void CSimServer::SendDue()
{
    while (!m_outbox.empty() && m_outbox.begin()->first <= Clock::now()) {
        const std::vector<std::uint8_t> bytes = std::move(m_outbox.begin()->second);
        m_outbox.erase(m_outbox.begin());
        WritePaced(bytes);
    }
}

// Runs under m_mutex.
bool CSimServer::TakeCablePull()
{
    std::chrono::milliseconds away {};
    if (!m_device.TakeCablePull(away))
        return false;
    m_disconnectRequest = away;
    m_keepProcessors = true;
    return true;
}

void CSimServer::GoAway(std::optional<std::chrono::milliseconds> returnAfter)
{
    m_line.Close(); // the program's side hangs up
    std::error_code ignored;
    std::filesystem::remove(m_linkPath, ignored);
    m_outbox.clear();
    std::lock_guard lock(m_mutex);
    if (m_keepProcessors)
        m_device.CutLine();
    else
        m_device.ResetLine();
    m_keepProcessors = false;
    m_connected = false;
    m_returnAt.reset();
    if (returnAfter)
        m_returnAt = Clock::now() + *returnAfter;
    m_changed.notify_all();
}

bool CSimServer::ComeBack()
{
    std::string terminal;
    if (m_line.OpenPseudoTerminal(terminal) != 0 || PointLinkAt(terminal) != 0) {
        m_line.Close();
        return false;
    }
    std::lock_guard lock(m_mutex);
    m_terminalPath = terminal;
    m_connected = true;
    m_returnAt.reset();
    ++m_connections;
    m_changed.notify_all();
    return true;
}

void CSimServer::Run()
{
    ZELPlatform::SetCurrentThreadName("Tarn Simulator");
    std::vector<CSimDevice::Outgoing> outgoing;
    std::uint8_t buffer[4096];
    for (;;) {
        std::optional<std::optional<std::chrono::milliseconds>> disconnect;
        bool connected = false;
        {
            std::unique_lock lock(m_mutex);
            if (m_stop)
                return;
            disconnect.swap(m_disconnectRequest);
            m_disconnectRequest.reset();
            connected = m_connected;
            if (!connected && !disconnect) {
                // Away: wait for the time to return, a new request or the stop.
                const auto until = m_returnAt.value_or(Clock::time_point::max());
                m_changed.wait_until(lock, until, [&] { return m_stop || m_disconnectRequest.has_value(); });
                if (m_stop)
                    return;
                if (!m_returnAt || Clock::now() < *m_returnAt || m_disconnectRequest)
                    continue;
            }
        }
        if (disconnect) {
            GoAway(*disconnect);
            continue;
        }
        if (!connected) {
            if (!ComeBack()) {
                GoAway(std::nullopt); // no pseudo-terminal to be had: stay away
            }
            continue;
        }

        SendDue();
        auto until = m_outbox.empty() ? Clock::time_point::max() : m_outbox.begin()->first;
        bool partial = false;
        {
            std::lock_guard lock(m_mutex);
            partial = m_device.IsFramingPartialPacket();
        }
        if (partial)
            until = std::min(until, Clock::now() + ZELTimes().framerSilence);
        const CZELDeadline deadline = until == Clock::time_point::max()
            ? CZELDeadline::Never()
            : CZELDeadline(std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()));
        std::size_t received = 0;
        const auto result = m_line.Read(buffer, sizeof buffer, received, deadline);
        if (result == CZELSerialDevice::IoResult::Done)
            ReceivePaced(buffer, received, outgoing);
        {
            std::lock_guard lock(m_mutex);
            const auto now = Clock::now();
            m_device.CheckTimeout(now);
            Schedule(outgoing, now);
        }
        m_changed.notify_all();
        if (result == CZELSerialDevice::IoResult::Gone || result == CZELSerialDevice::IoResult::Failed ||
            result == CZELSerialDevice::IoResult::Closed)
            GoAway(std::nullopt);
    }
}
