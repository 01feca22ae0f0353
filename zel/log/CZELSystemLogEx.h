#pragma once

#include "zel/log/IZELLogLineSink.h"
#include "zel/platform/CZELOutputFile.h"
#include "zel/platform/CZELRecursiveMutex.h"
#include "zel/platform/ZELSystemTime.h"
#include "zel/threads/CZELMonitoredThread.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

// Event types are single bits, so that the file and output filters are masks of them.
enum _ZELSystemLogExEventType : unsigned int
{
    ZEL_SYSTEM_LOG_EX_EVENT_UNKNOWN = 0x000,
    ZEL_SYSTEM_LOG_EX_EVENT_EXCEPTION = 0x001,
    ZEL_SYSTEM_LOG_EX_EVENT_ASSERT = 0x002,
    ZEL_SYSTEM_LOG_EX_EVENT_FATAL = 0x010,
    ZEL_SYSTEM_LOG_EX_EVENT_ERROR = 0x020,
    ZEL_SYSTEM_LOG_EX_EVENT_WARNING = 0x040,
    ZEL_SYSTEM_LOG_EX_EVENT_INFORMATION = 0x080,
    ZEL_SYSTEM_LOG_EX_EVENT_COMMAND = 0x200,
    ZEL_SYSTEM_LOG_EX_EVENT_DEBUG = 0x800,
};

// One accepted record, owned by the pending list until the output thread has written it.
struct _ZEL_SYSTEM_LOG_EX_ENTRY
{
    std::int64_t number = 0;
    SYSTEMTIME time;                  // local time of acceptance
    std::int64_t gmtMilliseconds = 0; // always 0
    std::string message;
    _ZELSystemLogExEventType type = ZEL_SYSTEM_LOG_EX_EVENT_UNKNOWN;
    std::string reference;
    std::string caller;
    std::string context;
};

// The process-wide log. AddOutput only queues a record; the output thread "ZEL System Log" writes
// each one as a line of a CSV file under Logs in the current directory and, when enabled, as a
// line to the control sink.
class CZELSystemLogEx
{
public:
    // Largest file before a new one is started, and most records accepted for one file.
    static constexpr std::uint64_t kMaxFileSize = 0xA00000;
    static constexpr std::uint64_t kMaxFileRecords = 65000;

    CZELSystemLogEx();
    CZELSystemLogEx(const CZELSystemLogEx&) = delete;
    CZELSystemLogEx& operator=(const CZELSystemLogEx&) = delete;
    virtual ~CZELSystemLogEx();

    // Opens the first file and starts the output thread. `control` may be null and is not owned.
    // ZEL_STATUS_BUSY while the thread runs; otherwise the status of the thread's start.
    long Initialize(IZELLogLineSink* control, std::string name, std::string version);
    // Writes every pending record, then stops the output thread.
    long Terminate();
    // Waits until every record accepted so far is in the file (and shown), for a process about to
    // end abnormally. ZEL_STATUS_TIMEOUT when the output thread does not get there in time,
    // ZEL_STATUS_NOT_INITIALIZED when it does not run.
    long WaitUntilWritten(std::chrono::milliseconds timeout);

    // Callable from any thread. Refuses with ZEL_STATUS_FORBIDDEN (not started),
    // ZEL_STATUS_DISABLED (no filter passes the type), ZEL_STATUS_INVALID_PARAMETER (empty message)
    // or ZEL_STATUS_NO_MEMORY, in this order.
    long AddOutput(std::string message, _ZELSystemLogExEventType type, std::string reference, std::string caller,
        std::string context);

    void SetEnableOutput(bool enable) { m_enableOutput = enable; }
    bool GetEnableOutput() const { return m_enableOutput; }
    void SetControlAutoScroll(bool autoScroll) { m_autoScroll = autoScroll; }
    bool GetControlAutoScroll() const { return m_autoScroll; }
    void SetFileFilter(std::uint32_t filter) { m_fileFilter = filter; }
    std::uint32_t GetFileFilter() const { return m_fileFilter; }
    void SetOutputFilter(std::uint32_t filter) { m_outputFilter = filter; }
    std::uint32_t GetOutputFilter() const { return m_outputFilter; }

    // Records queued and not yet written.
    std::size_t GetEntryCount();
    // Zeroes the nine type counters; the record number goes on.
    long ResetPriorityCounter();
    // Writes through every pointer that is not null: the total of accepted records, then the
    // counters of other, exception, assertion, fatal, error, warning, information, command, debug.
    long GetLogStatistics(std::int64_t* total, std::int64_t* other, std::int64_t* exception, std::int64_t* assertion,
        std::int64_t* fatal, std::int64_t* error, std::int64_t* warning, std::int64_t* information,
        std::int64_t* command, std::int64_t* debug);
    // Path of the file being written; empty when there is none.
    std::string GetFilePath() const;

    long RunOutputThread();

protected:
    long ProcessEntry(_ZEL_SYSTEM_LOG_EX_ENTRY* entry);
    long CheckLogFile();
    long GenerateFileNames();
    long WriteCSVHeader();
    static const char* GetEventTypeAsString(_ZELSystemLogExEventType type);
    void IncreasePriorityCounter(_ZELSystemLogExEventType type);

private:
    enum CounterSlot
    {
        kOther,
        kException,
        kAssert,
        kFatal,
        kError,
        kWarning,
        kInformation,
        kCommand,
        kDebug,
        kCounterSlots
    };
    static CounterSlot SlotOf(_ZELSystemLogExEventType type);

    long AddOwnOutput(long text, _ZELSystemLogExEventType type);
    void WriteToFile(const std::string& text);
    void FlushFile();
    void CloseFile();
    // Tells WaitUntilWritten that every record processed so far is written out.
    void PublishWritten();

    IZELLogLineSink* m_control = nullptr;
    std::string m_name;
    std::string m_version;
    std::atomic<bool> m_enableOutput{false};
    std::atomic<bool> m_autoScroll{false};

    // File state belongs to the output thread while it runs, to Initialize otherwise.
    CZELOutputFile m_file;
    std::string m_fileBuffer;  // written out when the queue runs empty or it grows large
    std::uint64_t m_fileSize = 0;
    long m_fileFailureText = 0; // text of the last failure to open a file, 0 after success
    mutable std::mutex m_pathLock;
    std::string m_filePath;

    std::atomic<std::uint64_t> m_fileRecordCount{0};
    std::atomic<std::int64_t> m_numberCounter{0};
    std::array<std::atomic<std::int64_t>, kCounterSlots> m_counters{};

    // Number of the last record written out, for WaitUntilWritten.
    std::mutex m_writtenLock;
    std::condition_variable m_writtenChanged;
    std::int64_t m_writtenNumber = 0;
    std::int64_t m_processedNumber = 0; // output thread only
    // Number of the last record a WaitUntilWritten waits for, and the last one flushed for it.
    std::atomic<std::int64_t> m_flushTarget{0};
    std::int64_t m_flushedTarget = 0; // output thread only

    CZELRecursiveMutex m_queueLock;
    std::deque<std::unique_ptr<_ZEL_SYSTEM_LOG_EX_ENTRY>> m_pending;

    std::atomic<std::uint32_t> m_fileFilter{0xFFFFFFFF};
    std::atomic<std::uint32_t> m_outputFilter{0xFFFFFFFF};

    CZELMonitoredThread m_thread;
};

CZELSystemLogEx& GetZELSystemLogEx();
