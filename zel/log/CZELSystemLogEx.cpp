#include "zel/log/CZELSystemLogEx.h"

#include "zel/foundation/CZELLanguage.h"
#include "zel/foundation/CZELTimeTable.h"
#include "zel/foundation/ZELStatus.h"
#include "zel/platform/ZELFile.h"
#include "zel/platform/ZELProcess.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

constexpr const char* kCaller = "CZELSystemLogEx";
constexpr const char* kDefaultName = "ZEL System Log";
constexpr const char* kDefaultVersion = "V 00.00 (2010-01-01)";
constexpr const char* kHeader = "Number;Date;Time;ms;ms [GMT];Event;Reference;Caller;Context;Message\r\n";

constexpr long kTextFileNotCreated = 1;
constexpr long kTextNoDirectory = 2;
constexpr long kTextStarted = 3;
constexpr long kTextNotStarted = 4;

// Longest application name used in a file name, in bytes; keeps the name part of the path short.
constexpr std::size_t kMaxNameInFileName = 96;
// Files of the same second get " (2)", " (3)", ... up to this number.
constexpr int kMaxSameSecondFiles = 999;
// The file buffer is written out at this size even while records are pending.
constexpr std::size_t kFileBufferLimit = 64 * 1024;

long OutputThreadMain(void* data)
{
    return static_cast<CZELSystemLogEx*>(data)->RunOutputThread();
}

// The application name as it may stand in a file name: no folder separators, cut on a character
// boundary.
std::string FileNameOf(const std::string& name)
{
    std::string result;
    for (const char c : name)
        result += (std::strchr(ZELPlatform::kPathSeparators, c) != nullptr || c == '\0') ? '_' : c;
    if (result.size() > kMaxNameInFileName) {
        std::size_t cut = kMaxNameInFileName;
        while (cut > 0 && (static_cast<unsigned char>(result[cut]) & 0xC0) == 0x80)
            --cut;
        result.resize(cut);
    }
    return result;
}

void CleanMessage(std::string& message)
{
    for (char& c : message) {
        if (c == '"')
            c = '\'';
    }
    while (!message.empty() && message.back() == '\n')
        message.pop_back();
    while (!message.empty() && message.back() == '\r')
        message.pop_back();
    while (!message.empty() && message.back() == '\n')
        message.pop_back();
}

} // namespace

CZELSystemLogEx::CZELSystemLogEx() = default;

CZELSystemLogEx::~CZELSystemLogEx()
{
    Terminate();
    CloseFile();
}

long CZELSystemLogEx::Initialize(IZELLogLineSink* control, std::string name, std::string version)
{
    if (m_thread.IsRunning())
        return ZEL_STATUS_BUSY;
    m_control = control;
    m_name = name.empty() ? kDefaultName : std::move(name);
    m_version = version.empty() ? kDefaultVersion : std::move(version);
    for (auto& counter : m_counters)
        counter = 0;

    GenerateFileNames();

    m_thread.SetThreadName("ZEL System Log");
    // Waits until the thread has passed its running test: a Terminate right after the start must
    // find it in its loop, where it writes what is pending, not before it, where it would just end.
    const long status = m_thread.CreateThread(&OutputThreadMain, this, nullptr, 0, 0, true);
    if (status != ZEL_STATUS_SUCCESS) {
        AddOwnOutput(kTextNotStarted, ZEL_SYSTEM_LOG_EX_EVENT_ERROR);
        return status;
    }
    AddOwnOutput(kTextStarted, ZEL_SYSTEM_LOG_EX_EVENT_INFORMATION);
    AddOutput(m_name + " " + m_version, ZEL_SYSTEM_LOG_EX_EVENT_INFORMATION, "", kCaller, "");
    // The first file is opened before the thread runs, when a record about its failure would be
    // refused; it is told now instead.
    if (m_fileFailureText != 0)
        AddOwnOutput(m_fileFailureText, ZEL_SYSTEM_LOG_EX_EVENT_ERROR);
    return status;
}

long CZELSystemLogEx::Terminate()
{
    m_thread.DestroyThread(true);
    return ZEL_STATUS_SUCCESS;
}

long CZELSystemLogEx::AddOwnOutput(long text, _ZELSystemLogExEventType type)
{
    return AddOutput(GetZELLanguage().GetString(ZEL_MODULE_SYSTEM_LOG_EX, text), type, "", kCaller, "");
}

long CZELSystemLogEx::AddOutput(std::string message, _ZELSystemLogExEventType type, std::string reference,
    std::string caller, std::string context)
{
    std::lock_guard lock(m_queueLock);
    if (!m_thread.IsRunning())
        return ZEL_STATUS_FORBIDDEN;
    if ((type & (m_fileFilter.load() | m_outputFilter.load())) == 0)
        return ZEL_STATUS_DISABLED;
    if (message.empty())
        return ZEL_STATUS_INVALID_PARAMETER;

    std::unique_ptr<_ZEL_SYSTEM_LOG_EX_ENTRY> entry(new (std::nothrow) _ZEL_SYSTEM_LOG_EX_ENTRY);
    if (!entry)
        return ZEL_STATUS_NO_MEMORY;
    try {
        CleanMessage(message);
        entry->message = std::move(message);
        entry->reference = std::move(reference);
        entry->caller = std::move(caller);
        entry->context = std::move(context);
        m_pending.push_back(nullptr);
    } catch (const std::bad_alloc&) {
        return ZEL_STATUS_NO_MEMORY;
    }
    IncreasePriorityCounter(type);
    entry->number = ++m_numberCounter;
    ++m_fileRecordCount;
    ZELPlatform::GetLocalTime(entry->time);
    entry->gmtMilliseconds = 0;
    entry->type = type;
    m_pending.back() = std::move(entry);
    m_thread.SetSoftStop();
    return ZEL_STATUS_SUCCESS;
}

long CZELSystemLogEx::RunOutputThread()
{
    if (!m_thread.IsRunning())
        return ZEL_STATUS_NOT_INITIALIZED;
    m_thread.SignalStart();

    const auto takeFirst = [this] {
        std::unique_ptr<_ZEL_SYSTEM_LOG_EX_ENTRY> entry;
        std::lock_guard lock(m_queueLock);
        if (!m_pending.empty()) {
            entry = std::move(m_pending.front());
            m_pending.pop_front();
        }
        return entry;
    };

    while (m_thread.IsRunning()) {
        m_thread.UpdateStatus();
        std::unique_ptr<_ZEL_SYSTEM_LOG_EX_ENTRY> entry = takeFirst();
        if (entry) {
            ProcessEntry(entry.get());
            // A process about to end waits for this record: written now, not when the queue runs dry.
            if (const std::int64_t target = m_flushTarget.load(); target > m_flushedTarget && m_processedNumber >= target) {
                FlushFile();
                PublishWritten();
                m_flushedTarget = target;
            }
            continue;
        }
        FlushFile();
        PublishWritten();
        m_thread.Sleep(ZELTimes().workerLoopWait);
        m_thread.ResetSoftStop();
    }
    // Every record accepted before the stop is written before the thread ends.
    while (std::unique_ptr<_ZEL_SYSTEM_LOG_EX_ENTRY> entry = takeFirst())
        ProcessEntry(entry.get());
    FlushFile();
    PublishWritten();
    return ZEL_STATUS_SUCCESS;
}

void CZELSystemLogEx::PublishWritten()
{
    {
        std::lock_guard lock(m_writtenLock);
        if (m_writtenNumber == m_processedNumber)
            return;
        m_writtenNumber = m_processedNumber;
    }
    m_writtenChanged.notify_all();
}

long CZELSystemLogEx::WaitUntilWritten(std::chrono::milliseconds timeout)
{
    if (!m_thread.IsRunning())
        return ZEL_STATUS_NOT_INITIALIZED;
    const std::int64_t target = m_numberCounter.load();
    std::int64_t asked = m_flushTarget.load();
    while (asked < target && !m_flushTarget.compare_exchange_weak(asked, target)) {
    }
    m_thread.SetSoftStop(); // wakes the thread out of its idle wait
    std::unique_lock lock(m_writtenLock);
    return m_writtenChanged.wait_for(lock, timeout, [&] { return m_writtenNumber >= target; })
        ? ZEL_STATUS_SUCCESS
        : ZEL_STATUS_TIMEOUT;
}

long CZELSystemLogEx::ProcessEntry(_ZEL_SYSTEM_LOG_EX_ENTRY* entry)
{
    m_processedNumber = entry->number;
    const SYSTEMTIME& t = entry->time;
    if ((entry->type & m_fileFilter.load()) != 0) {
        char head[160];
        std::snprintf(head, sizeof head, "%" PRId64 ";%04i-%02i-%02i;%02i:%02i:%02i;%03i;%" PRId64 ";%s;",
            entry->number, t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds,
            entry->gmtMilliseconds, GetEventTypeAsString(entry->type));
        std::string line = head;
        line.reserve(line.size() + entry->reference.size() + entry->caller.size() + entry->context.size()
            + entry->message.size() + 8);
        line += entry->reference;
        line += ';';
        line += entry->caller;
        line += ';';
        line += entry->context;
        line += ";\"";
        line += entry->message;
        line += "\"\r\n";
        if (m_file.IsOpen()) {
            WriteToFile(line);
            CheckLogFile();
        }
    }
    if (m_enableOutput.load() && m_control != nullptr && (entry->type & m_outputFilter.load()) != 0) {
        char head[64];
        std::snprintf(head, sizeof head, "%04i-%02i-%02i %02i:%02i:%02i.%03i > ", t.wYear, t.wMonth, t.wDay, t.wHour,
            t.wMinute, t.wSecond, t.wMilliseconds);
        std::string line = head;
        if (!entry->reference.empty()) {
            line += entry->reference;
            line += " > ";
        }
        line += entry->message;
        m_control->AppendLine(line);
    }
    return ZEL_STATUS_SUCCESS;
}

void CZELSystemLogEx::WriteToFile(const std::string& text)
{
    m_fileBuffer += text;
    m_fileSize += text.size();
    if (m_fileBuffer.size() >= kFileBufferLimit)
        FlushFile();
}

void CZELSystemLogEx::FlushFile()
{
    if (m_fileBuffer.empty())
        return;
    // A write error is not the log's to report: there is nowhere left to report it.
    m_file.Write(m_fileBuffer.data(), m_fileBuffer.size());
    m_fileBuffer.clear();
}

void CZELSystemLogEx::CloseFile()
{
    FlushFile();
    m_file.Close();
    std::lock_guard lock(m_pathLock);
    m_filePath.clear();
}

long CZELSystemLogEx::CheckLogFile()
{
    if (!m_file.IsOpen())
        return ZEL_STATUS_SUCCESS;
    if (m_fileSize > kMaxFileSize) {
        CloseFile();
        GenerateFileNames();
    }
    if (m_file.IsOpen() && m_fileRecordCount.load() > kMaxFileRecords) {
        CloseFile();
        GenerateFileNames();
    }
    return ZEL_STATUS_SUCCESS;
}

long CZELSystemLogEx::GenerateFileNames()
{
    CloseFile();
    m_fileFailureText = 0;

    const std::string directory = ZELPlatform::GetCurrentDirectory();
    if (directory.empty()) {
        m_fileFailureText = kTextNoDirectory;
        AddOwnOutput(kTextNoDirectory, ZEL_SYSTEM_LOG_EX_EVENT_ERROR);
        return ZEL_STATUS_UNSPECIFIC_ERROR;
    }
    const std::string folder = ZELPlatform::JoinPath(directory, "Logs");
    ZELPlatform::CreateDirectory(folder);

    SYSTEMTIME now;
    ZELPlatform::GetLocalTime(now);
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, " %04i-%02i-%02i %02i-%02i-%02i", now.wYear, now.wMonth, now.wDay, now.wHour,
        now.wMinute, now.wSecond);
    const std::string base = ZELPlatform::JoinPath(folder, FileNameOf(m_name) + stamp);

    // A file of the same name (an earlier start within the same second) is never overwritten.
    std::string path;
    int error = EEXIST;
    for (int number = 1; number <= kMaxSameSecondFiles && error == EEXIST; ++number) {
        path = number == 1 ? base + ".csv" : base + " (" + std::to_string(number) + ").csv";
        error = m_file.CreateNew(path);
    }
    if (error != 0) {
        m_fileFailureText = kTextFileNotCreated;
        AddOwnOutput(kTextFileNotCreated, ZEL_SYSTEM_LOG_EX_EVENT_ERROR);
        return ZEL_STATUS_UNSPECIFIC_ERROR;
    }
    {
        std::lock_guard lock(m_pathLock);
        m_filePath = path;
    }
    m_fileSize = 0;
    m_fileRecordCount = 0;
    WriteCSVHeader();
    AddOutput(m_name + " " + m_version, ZEL_SYSTEM_LOG_EX_EVENT_INFORMATION, "", "", "");
    return ZEL_STATUS_SUCCESS;
}

long CZELSystemLogEx::WriteCSVHeader()
{
    WriteToFile(kHeader);
    return ZEL_STATUS_SUCCESS;
}

const char* CZELSystemLogEx::GetEventTypeAsString(_ZELSystemLogExEventType type)
{
    switch (type) {
    case ZEL_SYSTEM_LOG_EX_EVENT_UNKNOWN: return "unknown";
    case ZEL_SYSTEM_LOG_EX_EVENT_EXCEPTION: return "exception";
    case ZEL_SYSTEM_LOG_EX_EVENT_ASSERT: return "assert";
    case ZEL_SYSTEM_LOG_EX_EVENT_FATAL: return "fatal";
    case ZEL_SYSTEM_LOG_EX_EVENT_ERROR: return "error";
    case ZEL_SYSTEM_LOG_EX_EVENT_WARNING: return "warning";
    case ZEL_SYSTEM_LOG_EX_EVENT_INFORMATION: return "information";
    case ZEL_SYSTEM_LOG_EX_EVENT_COMMAND: return "command";
    case ZEL_SYSTEM_LOG_EX_EVENT_DEBUG: return "debug";
    }
    return "???";
}

CZELSystemLogEx::CounterSlot CZELSystemLogEx::SlotOf(_ZELSystemLogExEventType type)
{
    switch (type) {
    case ZEL_SYSTEM_LOG_EX_EVENT_EXCEPTION: return kException;
    case ZEL_SYSTEM_LOG_EX_EVENT_ASSERT: return kAssert;
    case ZEL_SYSTEM_LOG_EX_EVENT_FATAL: return kFatal;
    case ZEL_SYSTEM_LOG_EX_EVENT_ERROR: return kError;
    case ZEL_SYSTEM_LOG_EX_EVENT_WARNING: return kWarning;
    case ZEL_SYSTEM_LOG_EX_EVENT_INFORMATION: return kInformation;
    case ZEL_SYSTEM_LOG_EX_EVENT_COMMAND: return kCommand;
    case ZEL_SYSTEM_LOG_EX_EVENT_DEBUG: return kDebug;
    default: return kOther;
    }
}

void CZELSystemLogEx::IncreasePriorityCounter(_ZELSystemLogExEventType type)
{
    ++m_counters[SlotOf(type)];
}

std::size_t CZELSystemLogEx::GetEntryCount()
{
    std::lock_guard lock(m_queueLock);
    return m_pending.size();
}

long CZELSystemLogEx::ResetPriorityCounter()
{
    for (auto& counter : m_counters)
        counter = 0;
    return ZEL_STATUS_SUCCESS;
}

long CZELSystemLogEx::GetLogStatistics(std::int64_t* total, std::int64_t* other, std::int64_t* exception,
    std::int64_t* assertion, std::int64_t* fatal, std::int64_t* error, std::int64_t* warning, std::int64_t* information,
    std::int64_t* command, std::int64_t* debug)
{
    if (total != nullptr)
        *total = m_numberCounter.load();
    std::int64_t* const slots[kCounterSlots] = {other, exception, assertion, fatal, error, warning, information,
        command, debug};
    for (int slot = 0; slot < kCounterSlots; ++slot) {
        if (slots[slot] != nullptr)
            *slots[slot] = m_counters[slot].load();
    }
    return ZEL_STATUS_SUCCESS;
}

std::string CZELSystemLogEx::GetFilePath() const
{
    std::lock_guard lock(m_pathLock);
    return m_filePath;
}
