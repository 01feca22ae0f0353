#pragma once

#include "app/core/CUpdateJournal.h"
#include "app/core/IUpdateLink.h"
#include "zel/commands/IZELComboBox.h"
#include "zel/commands/IZELEdit.h"
#include "zel/plugins/CZELScriva.h"
#include "zel/queue/CZELMessageQueue.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// The service console without a toolkit, shared by the console window and `tarn send`: builds the
// chosen request with the command helper, sends it over the program's link and turns every packet the
// device sends into a time-stamped line of the traffic dump's text.
//
// The console opens the port itself when no update holds it and closes it again in ClosePort or
// Terminate; while an update holds the port it only shows what arrives.
//
// A request that switches a processor into its bootloader leaves the device without that processor
// until it is flashed: it is refused unless the front end allows it (AllowBootloaderSwitch), and
// once sent it is recorded in the working folder's update journal like an update cut short, so that
// `tarn history` shows it and the next update start finds the processor waiting.
class CServiceConsole : public CZELMessageQueue
{
public:
    // What a request switches: the journal's target name and transfer ("bootloader", or "device"
    // for an expander, which waits for blocks the controller relays).
    struct BootloaderSwitch
    {
        std::string target;
        std::string transfer;
    };

    // One line of the console, without a line end, called on the console's worker thread: every
    // packet the port writes and every packet it receives, in the order of the line.
    using LineHandler = std::function<void(const std::string& line)>;

    explicit CServiceConsole(IUpdateLink& link);
    ~CServiceConsole() override;

    // Starts the worker and subscribes to the hub; the library's modules must run.
    long Start(LineHandler handler);
    // Unsubscribes, stops the worker and closes the port if the console opened it.
    long Terminate() override;

    // Opens the link's port unless it runs already; ZEL_STATUS_SUCCESS in both cases.
    long OpenPort();
    // Closes the port if the console opened it and gives the link back the framing it had then.
    long ClosePort();
    bool IsPortOpenedHere() const;

    // Builds the dialog's current choice and sends it, opening the port first if needed; its line
    // names the request. ZEL_STATUS_BUSY while an update holds the port.
    long Send(IZELComboBox* requests, IZELComboBox* parameters, IZELEdit* value);
    // Send on the port the operator chose: a port the console opened under another name is closed
    // first, and a link that no one holds takes the chosen name.
    long SendOnPort(const std::string& port, IZELComboBox* requests, IZELComboBox* parameters, IZELEdit* value);
    // Whether Send may send a request that switches a processor into its bootloader; refused with
    // ZEL_STATUS_FORBIDDEN by default.
    void AllowBootloaderSwitch(bool allow);
    // The processor a finished request packet switches into its bootloader (the control item 0x80,
    // the update requests of the RCPU, CCPU2, Veltrix and Ombra boxes and of an expander); nothing
    // for any other request.
    static std::optional<BootloaderSwitch> FindBootloaderSwitch(const std::uint8_t* packet, std::size_t length);

    // Why the last OpenPort or Send failed, for an operator; empty after a success.
    std::string GetLastErrorText() const;

    // Packets that arrived since Start.
    long GetReceivedCount() const;

    // The console's line of a serial-traffic record (head and packet), rendered with `scriva`.
    static std::string RenderReceived(const std::uint8_t* record, std::size_t size, CZELScriva& scriva);
    // The console's line of a sent-packet record, with the request's name when it is known.
    static std::string RenderSent(const std::uint8_t* record, std::size_t size, const std::string& requestName);
    // The bytes a read-memory answer carries, 16 to a line with their addresses; empty for any
    // other packet.
    static std::vector<std::string> RenderMemory(const std::uint8_t* packet, std::size_t length);

protected:
    long ProcessMessage(CZELMessage& message) override;

private:
    // A bootloader switch the console sent, as its journal entry has it.
    struct SentSwitch
    {
        JournalEntry entry;
        std::string requestName;
        std::size_t index = 0;
        std::uint8_t delimiter = 0;
        std::uint16_t acknowledgement = 0; // the answer's id
        bool journaled = false;
    };

    void Emit(const std::string& line);
    void SetLastErrorText(std::string text);
    void JournalSwitch(const BootloaderSwitch& target, const std::string& requestName, const std::uint8_t* packet);
    // Records the device's acknowledgement of the switch sent last, if `packet` is it.
    void NoteSwitchAcknowledged(const std::uint8_t* packet, std::size_t length);

    IUpdateLink& m_link;
    CZELScriva m_scriva; // worker thread only
    mutable std::mutex m_lock;
    LineHandler m_handler;
    std::string m_lastError;
    // Names of the console's requests the port has not reported written yet, oldest first.
    std::deque<std::string> m_pendingNames;
    bool m_portOpenedHere = false;
    std::string m_openedPort; // the operator's name of the port the console opened
    std::uint16_t m_protocolBefore = 0; // the link's framing when the console opened the port
    bool m_subscribed = false;
    long m_received = 0;
    bool m_allowBootloaderSwitch = false;
    std::optional<SentSwitch> m_sentSwitch;
    CUpdateJournal m_journal;
};
