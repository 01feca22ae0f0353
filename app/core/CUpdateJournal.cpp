#include "app/core/CUpdateJournal.h"

#include "app/core/AppLog.h"
#include "zel/foundation/ZELStatus.h"
#include "zel/platform/ZELFile.h"
#include "zel/platform/ZELProcess.h"
#include "zel/platform/ZELSystemTime.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <utility>

using Json = nlohmann::json;

bool JournalEntry::LeftInBootloader() const
{
    return transfer == "bootloader" && outcome != "updated" && outcome != "not started" && outcome != "skipped"
        && (step == "switched" || step == "transferred");
}

CUpdateJournal::CUpdateJournal(std::string path)
    : m_path(std::move(path))
{
}

std::string CUpdateJournal::Now()
{
    SYSTEMTIME local;
    ZELPlatform::GetLocalTime(local);
    char text[64];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", unsigned(local.wYear), unsigned(local.wMonth),
        unsigned(local.wDay), unsigned(local.wHour), unsigned(local.wMinute), unsigned(local.wSecond));
    return text;
}

std::string CUpdateJournal::ToJson(const std::vector<JournalEntry>& entries)
{
    Json list = Json::array();
    for (const JournalEntry& e : entries)
        list.push_back({ { "time", e.time }, { "port", e.port }, { "hardwareType", e.hardwareType },
            { "hardware", e.hardware }, { "serialNumber", e.serialNumber }, { "target", e.target },
            { "transfer", e.transfer }, { "file", e.file }, { "version", e.version }, { "crc", e.crc },
            { "step", e.step }, { "bytesWritten", e.bytesWritten }, { "chipId", e.chipId },
            { "bootloaderVersion", e.bootloaderVersion }, { "outcome", e.outcome }, { "detail", e.detail },
            { "recovery", e.recovery }, { "confirmation", e.confirmation },
            { "confirmedVersion", e.confirmedVersion } });
    // Invalid UTF-8 (a file name of another code page) is replaced rather than refused.
    return Json { { "format", kFormat }, { "entries", list } }.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

bool CUpdateJournal::FromJson(const std::string& text, std::vector<JournalEntry>& entries, std::string& error, bool& newer)
{
    newer = false;
    entries.clear();
    const Json journal = Json::parse(text, nullptr, false);
    if (journal.is_discarded() || !journal.is_object()) {
        error = "it is not readable";
        return false;
    }
    const auto format = journal.find("format");
    if (format == journal.end() || !format->is_number_integer()) {
        error = "it has no format number";
        return false;
    }
    if (format->get<int>() > kFormat) {
        newer = true;
        error = "a newer program wrote it (format " + std::to_string(format->get<int>()) + ")";
        return false;
    }
    const auto list = journal.find("entries");
    if (list == journal.end() || !list->is_array()) {
        error = "it has no entries";
        return false;
    }
    try {
        for (const Json& item : *list) {
            JournalEntry e;
            e.time = item.at("time").get<std::string>();
            e.port = item.at("port").get<std::string>();
            e.hardwareType = item.at("hardwareType").get<std::uint16_t>();
            e.hardware = item.at("hardware").get<std::string>();
            e.serialNumber = item.at("serialNumber").get<std::string>();
            e.target = item.at("target").get<std::string>();
            e.transfer = item.at("transfer").get<std::string>();
            e.file = item.at("file").get<std::string>();
            e.version = item.at("version").get<std::string>();
            e.crc = item.at("crc").get<std::uint32_t>();
            e.step = item.at("step").get<std::string>();
            e.bytesWritten = item.at("bytesWritten").get<std::uint32_t>();
            e.chipId = item.at("chipId").get<std::uint16_t>();
            e.bootloaderVersion = item.at("bootloaderVersion").get<std::string>();
            e.outcome = item.at("outcome").get<std::string>();
            e.detail = item.value("detail", std::string());
            e.recovery = item.value("recovery", false);
            e.confirmation = item.value("confirmation", std::string());
            e.confirmedVersion = item.value("confirmedVersion", std::string());
            entries.push_back(std::move(e));
        }
    } catch (const Json::exception& failure) {
        entries.clear();
        error = std::string("an entry is damaged (") + failure.what() + ")";
        return false;
    }
    return true;
}

long CUpdateJournal::Load()
{
    std::lock_guard lock(m_lock);
    m_entries.clear();
    m_dropped = 0;
    m_warning.clear();
    m_writable = true;
    std::string text;
    if (!ZELPlatform::FileExists(m_path))
        return ZEL_STATUS_SUCCESS;
    std::string error;
    bool newer = false;
    if (ZELPlatform::ReadWholeFile(m_path, text) && FromJson(text, m_entries, error, newer))
        return ZEL_STATUS_SUCCESS;
    if (error.empty())
        error = "it cannot be read";
    m_warning = "The update journal " + m_path + " is not used: " + error + ".";
    if (newer) {
        m_writable = false;
    } else {
        // Kept for whoever wants to look; the next record begins a new journal.
        const std::string aside = m_path + ".damaged";
        std::rename(m_path.c_str(), aside.c_str());
        m_warning += " It was kept as " + aside + ".";
    }
    AppLogToSystemLog(m_warning, ZEL_SYSTEM_LOG_EX_EVENT_WARNING);
    return newer ? ZEL_STATUS_INVALID_OPERATION : ZEL_STATUS_INVALID_DATA;
}

std::vector<JournalEntry> CUpdateJournal::Entries() const
{
    std::lock_guard lock(m_lock);
    return m_entries;
}

std::string CUpdateJournal::Warning() const
{
    std::lock_guard lock(m_lock);
    return m_warning;
}

long CUpdateJournal::Begin(const JournalEntry& entry, std::size_t& index)
{
    std::lock_guard lock(m_lock);
    m_entries.push_back(entry);
    while (m_entries.size() > kMaxEntries) {
        m_entries.erase(m_entries.begin());
        ++m_dropped;
    }
    index = m_dropped + m_entries.size() - 1;
    return Write();
}

long CUpdateJournal::Record(std::size_t index, const JournalEntry& entry)
{
    std::lock_guard lock(m_lock);
    if (index < m_dropped || index - m_dropped >= m_entries.size())
        return ZEL_STATUS_INVALID_PARAMETER;
    m_entries[index - m_dropped] = entry;
    return Write();
}

// Under m_lock.
long CUpdateJournal::Write()
{
    if (!m_writable)
        return ZEL_STATUS_INVALID_OPERATION;
    const std::size_t slash = m_path.find_last_of(ZELPlatform::kPathSeparators);
    if (slash != std::string::npos)
        ZELPlatform::CreateDirectory(m_path.substr(0, slash));
    if (ZELPlatform::ReplaceFileContent(m_path, ToJson(m_entries)))
        return ZEL_STATUS_SUCCESS;
    AppLogToSystemLog("The update journal " + m_path + " could not be written.", ZEL_SYSTEM_LOG_EX_EVENT_WARNING);
    return ZEL_STATUS_FILE_ERROR;
}

std::optional<JournalEntry> CUpdateJournal::LeftInBootloader(const std::string& port) const
{
    std::lock_guard lock(m_lock);
    // Targets that were never started changed nothing: the newest one that was decides.
    for (auto entry = m_entries.rbegin(); entry != m_entries.rend(); ++entry)
        if (entry->port == port && entry->outcome != "not started" && entry->outcome != "skipped")
            return entry->LeftInBootloader() ? std::optional<JournalEntry>(*entry) : std::nullopt;
    return std::nullopt;
}
