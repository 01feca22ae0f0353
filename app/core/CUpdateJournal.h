#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// One target of an update as the journal keeps it.
struct JournalEntry
{
    std::string time;         // local, "2026-12-10 14:02:07"
    std::string port;
    std::uint16_t hardwareType = 0;
    std::string hardware;     // the type's name
    std::string serialNumber;
    std::string target;       // "KCPU", "ECPU Joystick T001_1", "MCPU CAN Driver"
    std::string transfer;     // "bootloader", "device" or "module"
    std::string file;
    std::string version;      // of the file
    std::uint32_t crc = 0;    // of the file's payload, from its header
    // How far it came: "requested", "switched" (the processor entered its bootloader or accepted
    // the update), "transferred" (every byte written), "finished" (started with the new firmware).
    std::string step = "requested";
    std::uint32_t bytesWritten = 0;
    std::uint16_t chipId = 0;      // the bootloader's, once read
    std::string bootloaderVersion; // "3.1", once read
    // "running" until it ends, then "updated", "failed", "not started" or "skipped".
    std::string outcome = "running";
    std::string detail;            // where and why it failed
    bool recovery = false;         // flashed again after an interrupted update
    // What the device said after the update: "confirmed", "unconfirmed", "not-confirmed"; empty when
    // it was not asked. The version it reported.
    std::string confirmation;
    std::string confirmedVersion;

    // A bootloader transfer that was under way and did not end with the start of the new firmware:
    // the processor is left in its bootloader.
    bool LeftInBootloader() const;
};

// The journal of the updates done from one working folder (Logs/update-journal.json): every target
// is recorded before it starts and when it ends, each time by replacing the whole file, so that an
// update cut off at any moment leaves a journal that says how far it came. It keeps the newest
// kMaxEntries targets. A journal that cannot be read, or one a newer program wrote, is never acted
// on; the damaged one is kept aside and a new one begun, the newer one is left alone.
class CUpdateJournal
{
public:
    static constexpr int kFormat = 1;
    static constexpr std::size_t kMaxEntries = 300;
    static constexpr const char* kDefaultPath = "./Logs/update-journal.json";

    explicit CUpdateJournal(std::string path = kDefaultPath);

    // Reads the file; ZEL_STATUS_SUCCESS also when there is none yet. Otherwise the journal is
    // empty, Warning() says why, and a newer journal is not written either.
    long Load();
    std::vector<JournalEntry> Entries() const;
    std::string Warning() const;
    const std::string& Path() const { return m_path; }

    // Records a target before it starts (after a Load); its index for Record. The status of the
    // write: a journal that cannot be written costs a warning, never the update.
    long Begin(const JournalEntry& entry, std::size_t& index);
    long Record(std::size_t index, const JournalEntry& entry);

    // The newest entry for `port` of a target that was started, if it left its processor in its
    // bootloader.
    std::optional<JournalEntry> LeftInBootloader(const std::string& port) const;

    // The journal's text and its reading, for the file and the tests.
    static std::string ToJson(const std::vector<JournalEntry>& entries);
    // False with `error` set when the text is no journal of this program.
    static bool FromJson(const std::string& text, std::vector<JournalEntry>& entries, std::string& error, bool& newer);
    // The local time as entries carry it.
    static std::string Now();

private:
    long Write();

    std::string m_path;
    mutable std::mutex m_lock;
    std::vector<JournalEntry> m_entries;
    std::size_t m_dropped = 0; // entries dropped from the front since Load, to keep indexes valid
    std::string m_warning;
    bool m_writable = true;
};
