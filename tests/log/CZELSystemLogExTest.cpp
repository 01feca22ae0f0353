#include "log/ZELLogCapture.h"
#include "support/ZELTestSupport.h"
#include "zel/foundation/ZELStatus.h"
#include "zel/log/CZELSystemLogEx.h"
#include "zel/platform/CZELEvent.h"
#include "zel/platform/ZELSystemTime.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using Records = std::vector<std::vector<std::string>>;

const char* const kHeader[] = {"Number", "Date", "Time", "ms", "ms [GMT]", "Event", "Reference", "Caller", "Context",
    "Message"};
constexpr const char* kStarted = "The system log has been started.";

// Columns of a written record.
enum Column
{
    kNumber,
    kDate,
    kTime,
    kMs,
    kGmt,
    kEvent,
    kReference,
    kCaller,
    kContext,
    kMessage
};

// True when `text` has the shape of `pattern`, where '9' stands for any digit.
bool HasShape(const std::string& text, const std::string& pattern)
{
    if (text.size() != pattern.size())
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (pattern[i] == '9' ? !digit : text[i] != pattern[i])
            return false;
    }
    return true;
}

constexpr const char* kControlStamp = "9999-99-99 99:99:99.999 > ";

Records ReadRecords(const fs::path& file)
{
    return ZELTest::ReadCsv(ZELTest::ReadFile(file.string()));
}

// The files under Logs in the order they were written (by the number of their first record).
std::vector<fs::path> LogFiles(const fs::path& directory)
{
    std::vector<std::pair<std::int64_t, fs::path>> numbered;
    if (fs::is_directory(directory / "Logs")) {
        for (const auto& entry : fs::directory_iterator(directory / "Logs")) {
            const Records records = ReadRecords(entry.path());
            numbered.emplace_back(records.size() > 1 ? std::stoll(records[1][0]) : 0, entry.path());
        }
    }
    std::sort(numbered.begin(), numbered.end());
    std::vector<fs::path> files;
    for (const auto& [number, path] : numbered)
        files.push_back(path);
    return files;
}

void ExpectHeader(const Records& records)
{
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records[0], std::vector<std::string>(std::begin(kHeader), std::end(kHeader)));
}

// A sink that holds the output thread on its first line until the test lets it go, so that the
// test can queue records behind it.
class HoldingSink : public ZELTest::CapturingSink
{
public:
    void AppendLine(const std::string& line) override
    {
        if (!m_held.exchange(true)) {
            holding.Set();
            release.Wait(std::chrono::milliseconds(-1));
        }
        CapturingSink::AppendLine(line);
    }
    CZELEvent holding;
    CZELEvent release;

private:
    std::atomic<bool> m_held{false};
};

// A log of its own in a fresh current directory; the test starts it.
class SystemLogTest : public ::testing::Test
{
protected:
    SystemLogTest()
        : m_cwd(m_directory.Path())
    {
    }
    // A test that failed while the output thread was held must not leave it waiting.
    ~SystemLogTest() override { holdingSink.release.Set(); }

    long Start(const std::string& name = "Tarn Update", const std::string& version = "V 01.02.03")
    {
        log.SetEnableOutput(true);
        return log.Initialize(&sink, name, version);
    }

    // Stops the log (which writes everything pending) and reads its only file.
    Records StopAndRead()
    {
        log.Terminate();
        const auto files = LogFiles(m_directory.Path());
        EXPECT_EQ(files.size(), 1u);
        return files.empty() ? Records{} : ReadRecords(files[0]);
    }

    ZELTest::TemporaryDirectory m_directory;
    ZELTest::ScopedCurrentDirectory m_cwd;
    ZELTest::CapturingSink sink;
    HoldingSink holdingSink;
    CZELSystemLogEx log; // last, so that it stops before the sinks go
};

} // namespace

TEST_F(SystemLogTest, RefusesRecordsWhileNotRunning)
{
    EXPECT_EQ(log.AddOutput("early", ZEL_SYSTEM_LOG_EX_EVENT_ERROR, "", "", ""), ZEL_STATUS_FORBIDDEN);
    ASSERT_EQ(Start(), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(Start(), ZEL_STATUS_BUSY);
    EXPECT_EQ(log.Terminate(), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(log.AddOutput("late", ZEL_SYSTEM_LOG_EX_EVENT_ERROR, "", "", ""), ZEL_STATUS_FORBIDDEN);
    EXPECT_EQ(log.Terminate(), ZEL_STATUS_SUCCESS);
}

TEST_F(SystemLogTest, ChecksTypeFilterAndMessageInOrder)
{
    ASSERT_EQ(Start(), ZEL_STATUS_SUCCESS);
    struct Case
    {
        std::uint32_t fileFilter;
        std::uint32_t outputFilter;
        unsigned int type;
        const char* message;
        long status;
    };
    const Case cases[] = {
        {0xFFFFFFFF, 0xFFFFFFFF, 0x000, "type zero", ZEL_STATUS_DISABLED},
        {0xFFFFFFFF, 0xFFFFFFFF, 0x000, "", ZEL_STATUS_DISABLED},
        {0, 0x20, ZEL_SYSTEM_LOG_EX_EVENT_INFORMATION, "filtered information", ZEL_STATUS_DISABLED},
        {0, 0x20, ZEL_SYSTEM_LOG_EX_EVENT_ERROR, "error", ZEL_STATUS_SUCCESS},
        {0x20, 0, ZEL_SYSTEM_LOG_EX_EVENT_ERROR, "error", ZEL_STATUS_SUCCESS},
        {0xFFFFFFFF, 0xFFFFFFFF, ZEL_SYSTEM_LOG_EX_EVENT_WARNING, "", ZEL_STATUS_INVALID_PARAMETER},
        {0x100, 0, 0x100, "unnamed type", ZEL_STATUS_SUCCESS},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        log.SetFileFilter(c.fileFilter);
        log.SetOutputFilter(c.outputFilter);
        EXPECT_EQ(log.AddOutput(c.message, static_cast<_ZELSystemLogExEventType>(c.type), "", "", ""), c.status);
    }
    log.SetFileFilter(0xFFFFFFFF);
    log.SetOutputFilter(0xFFFFFFFF);
    std::int64_t total = 0;
    std::int64_t other = 0;
    std::int64_t error = 0;
    std::int64_t information = 0;
    EXPECT_EQ(log.GetLogStatistics(&total, &other, nullptr, nullptr, nullptr, &error, nullptr, &information, nullptr,
                  nullptr),
        ZEL_STATUS_SUCCESS);
    EXPECT_EQ(total, 5); // text 3, name and version, two errors, the unnamed type
    EXPECT_EQ(other, 1);
    EXPECT_EQ(error, 2);
    EXPECT_EQ(information, 2);
    log.Terminate();
}

TEST_F(SystemLogTest, FiltersDecideWhereARecordGoes)
{
    // Set before the start, since the output thread applies them when it writes.
    log.SetFileFilter(0);
    log.SetOutputFilter(ZEL_SYSTEM_LOG_EX_EVENT_ERROR);
    ASSERT_EQ(Start(), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(log.AddOutput("only to the control", ZEL_SYSTEM_LOG_EX_EVENT_ERROR, "", "", ""), ZEL_STATUS_SUCCESS);
    const Records toControl = StopAndRead();
    ASSERT_EQ(toControl.size(), 1u);
    ExpectHeader(toControl);
    ASSERT_EQ(sink.Lines().size(), 1u);
    EXPECT_EQ(sink.CountContaining("only to the control"), 1u);
}

TEST_F(SystemLogTest, WritesTheFirstFileInItsFormat)
{
    ASSERT_EQ(Start(), ZEL_STATUS_SUCCESS);
    struct Case
    {
        const char* given;
        const char* written;
        _ZELSystemLogExEventType type;
        const char* eventText;
    };
    const Case cases[] = {
        {"He said \"stop\"", "He said 'stop'", ZEL_SYSTEM_LOG_EX_EVENT_WARNING, "warning"},
        {"ends in a line break\r\n", "ends in a line break", ZEL_SYSTEM_LOG_EX_EVENT_ERROR, "error"},
        {"odd ending\n\r\n\n", "odd ending", ZEL_SYSTEM_LOG_EX_EVENT_DEBUG, "debug"},
        {"first line\r\nsecond; line\r\nthird", "first line\r\nsecond; line\r\nthird", ZEL_SYSTEM_LOG_EX_EVENT_COMMAND,
            "command"},
        {"exception", "exception", ZEL_SYSTEM_LOG_EX_EVENT_EXCEPTION, "exception"},
        {"assert", "assert", ZEL_SYSTEM_LOG_EX_EVENT_ASSERT, "assert"},
        {"fatal", "fatal", ZEL_SYSTEM_LOG_EX_EVENT_FATAL, "fatal"},
        {"unnamed type", "unnamed type", static_cast<_ZELSystemLogExEventType>(0x100), "???"},
    };
    for (const Case& c : cases)
        ASSERT_EQ(log.AddOutput(c.given, c.type, "COM1", "CZELSerialPort", "0x1234"), ZEL_STATUS_SUCCESS);
    const Records records = StopAndRead();

    ExpectHeader(records);
    ASSERT_EQ(records.size(), 3 + std::size(cases));
    EXPECT_EQ(records[1][kMessage], kStarted);
    EXPECT_EQ(records[1][kCaller], "CZELSystemLogEx");
    EXPECT_EQ(records[1][kEvent], "information");
    EXPECT_EQ(records[2][kMessage], "Tarn Update V 01.02.03");
    EXPECT_EQ(records[2][kCaller], "CZELSystemLogEx");
    const std::int64_t first = std::stoll(records[1][kNumber]);
    for (std::size_t i = 1; i < records.size(); ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ(records[i].size(), 10u);
        EXPECT_EQ(std::stoll(records[i][kNumber]), first + static_cast<std::int64_t>(i) - 1);
        EXPECT_TRUE(HasShape(records[i][kDate], "9999-99-99"));
        EXPECT_TRUE(HasShape(records[i][kTime], "99:99:99"));
        EXPECT_TRUE(HasShape(records[i][kMs], "999"));
        EXPECT_EQ(records[i][kGmt], "0");
    }
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto& record = records[3 + i];
        EXPECT_EQ(record[kMessage], cases[i].written);
        EXPECT_EQ(record[kEvent], cases[i].eventText);
        EXPECT_EQ(record[kReference], "COM1");
        EXPECT_EQ(record[kCaller], "CZELSerialPort");
        EXPECT_EQ(record[kContext], "0x1234");
    }
    // The message column alone is quoted, and a multi-line record spans several lines.
    const std::string raw = ZELTest::ReadFile(LogFiles(m_directory.Path())[0].string());
    EXPECT_EQ(raw.rfind("Number;Date;Time;ms;ms [GMT];Event;Reference;Caller;Context;Message\r\n", 0), 0u);
    EXPECT_NE(raw.find(";0;command;COM1;CZELSerialPort;0x1234;\"first line\r\nsecond; line\r\nthird\"\r\n"),
        std::string::npos);
}

TEST_F(SystemLogTest, ControlLineShowsTimeReferenceAndMessage)
{
    log.SetOutputFilter(ZEL_SYSTEM_LOG_EX_EVENT_INFORMATION);
    ASSERT_EQ(Start(), ZEL_STATUS_SUCCESS);
    log.AddOutput("Port opened.", ZEL_SYSTEM_LOG_EX_EVENT_INFORMATION, "COM3", "CZELSerialPort", "ctx");
    log.AddOutput("filtered from the control", ZEL_SYSTEM_LOG_EX_EVENT_WARNING, "", "", "");
    log.Terminate();
    const auto lines = sink.Lines();
    ASSERT_EQ(lines.size(), 3u);
    for (const auto& line : lines)
        EXPECT_TRUE(HasShape(line.substr(0, 26), kControlStamp)) << line;
    EXPECT_EQ(lines[0].substr(26), kStarted);
    EXPECT_EQ(lines[2].substr(26), "COM3 > Port opened.");
}

TEST_F(SystemLogTest, ControlOutputOnlyWhenEnabled)
{
    ASSERT_EQ(log.Initialize(&sink, "", ""), ZEL_STATUS_SUCCESS);
    log.AddOutput("not shown", ZEL_SYSTEM_LOG_EX_EVENT_ERROR, "", "", "");
    const Records records = StopAndRead();
    EXPECT_TRUE(sink.Lines().empty());
    // Defaults for an empty name and version.
    ASSERT_GE(records.size(), 3u);
    EXPECT_EQ(records[2][kMessage], "ZEL System Log V 00.00 (2010-01-01)");
    EXPECT_EQ(LogFiles(m_directory.Path())[0].filename().string().rfind("ZEL System Log 20", 0), 0u);
}

TEST_F(SystemLogTest, WritesEveryAcceptedRecordFromManyThreadsInNumberOrder)
{
    ASSERT_EQ(Start(), ZEL_STATUS_SUCCESS);
    constexpr int kThreads = 4;
    constexpr int kEach = 2000;
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([this, t] {
            for (int i = 0; i < kEach; ++i)
                log.AddOutput("writer " + std::to_string(t) + " record " + std::to_string(i),
                    ZEL_SYSTEM_LOG_EX_EVENT_DEBUG, "", "", "");
        });
    }
    for (auto& writer : writers)
        writer.join();
    const Records records = StopAndRead();
    ASSERT_EQ(records.size(), 3u + kThreads * kEach);
    for (std::size_t i = 2; i < records.size(); ++i)
        ASSERT_EQ(std::stoll(records[i][kNumber]), std::stoll(records[i - 1][kNumber]) + 1) << i;
    EXPECT_EQ(log.GetEntryCount(), 0u);
    std::int64_t debug = 0;
    log.GetLogStatistics(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &debug);
    EXPECT_EQ(debug, kThreads * kEach);
    log.ResetPriorityCounter();
    std::int64_t total = 0;
    log.GetLogStatistics(&total, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &debug);
    EXPECT_EQ(debug, 0);
    EXPECT_EQ(total, 2 + kThreads * kEach);
}

TEST_F(SystemLogTest, RotatesAfterMoreThan65000AcceptedRecords)
{
    log.SetEnableOutput(true);
    ASSERT_EQ(log.Initialize(&holdingSink, "Rotation", "V 1"), ZEL_STATUS_SUCCESS);
    ASSERT_TRUE(holdingSink.holding.Wait(20s)); // held on the line of text 3
    constexpr int kQueued = 65000;
    for (int i = 0; i < kQueued; ++i)
        ASSERT_EQ(log.AddOutput("r" + std::to_string(i), ZEL_SYSTEM_LOG_EX_EVENT_DEBUG, "", "", ""), 0);
    holdingSink.release.Set();
    // A rotation while the log stops could not queue its name-and-version record.
    ASSERT_TRUE(holdingSink.WaitForLine("Rotation V 1", 2));
    log.Terminate();

    const auto files = LogFiles(m_directory.Path());
    ASSERT_EQ(files.size(), 2u);
    const fs::path& first = files[0];
    const fs::path& second = files[1];

    // The name-and-version record took the count beyond 65000; the file was closed after it.
    const Records firstRecords = ReadRecords(first);
    ExpectHeader(firstRecords);
    ASSERT_EQ(firstRecords.size(), 3u);
    EXPECT_EQ(firstRecords[1][kMessage], kStarted);
    EXPECT_EQ(firstRecords[2][kMessage], "Rotation V 1");

    const Records secondRecords = ReadRecords(second);
    ExpectHeader(secondRecords);
    ASSERT_EQ(secondRecords.size(), 1u + kQueued + 1u);
    EXPECT_EQ(secondRecords[1][kMessage], "r0");
    EXPECT_EQ(secondRecords[kQueued][kMessage], "r" + std::to_string(kQueued - 1));
    const auto& nameRecord = secondRecords[kQueued + 1];
    EXPECT_EQ(nameRecord[kMessage], "Rotation V 1");
    EXPECT_EQ(nameRecord[kCaller], "");
    EXPECT_EQ(std::stoll(nameRecord[kNumber]), std::stoll(secondRecords[kQueued][kNumber]) + 1);
}

TEST_F(SystemLogTest, RotatesAfterTheWriteBeyondTenMebibytes)
{
    log.SetEnableOutput(true);
    ASSERT_EQ(log.Initialize(&holdingSink, "Size", "V 2"), ZEL_STATUS_SUCCESS);
    ASSERT_TRUE(holdingSink.holding.Wait(20s));
    const std::string big(1024 * 1024, 'x');
    for (int i = 0; i < 11; ++i)
        ASSERT_EQ(log.AddOutput(std::to_string(i) + big, ZEL_SYSTEM_LOG_EX_EVENT_DEBUG, "", "", ""), 0);
    holdingSink.release.Set();
    ASSERT_TRUE(holdingSink.WaitForLine("Size V 2", 2));
    log.Terminate();

    const auto files = LogFiles(m_directory.Path());
    ASSERT_EQ(files.size(), 2u);
    const auto firstSize = fs::file_size(files[0]);
    EXPECT_GT(firstSize, CZELSystemLogEx::kMaxFileSize);
    EXPECT_LT(firstSize, CZELSystemLogEx::kMaxFileSize + big.size());
    const Records firstRecords = ReadRecords(files[0]);
    ASSERT_EQ(firstRecords.size(), 3u + 10u);
    const Records secondRecords = ReadRecords(files[1]);
    ExpectHeader(secondRecords);
    ASSERT_EQ(secondRecords.size(), 3u);
    EXPECT_EQ(secondRecords[1][kMessage], "10" + big);
    EXPECT_EQ(secondRecords[2][kMessage], "Size V 2");
}

TEST_F(SystemLogTest, NeverWritesIntoAnExistingFileOrThroughALink)
{
    if (!ZELTest::SymbolicLinksSupported())
        GTEST_SKIP() << "needs symbolic links";
    // Files already taken for this second and the next, so whenever the log starts, its name is
    // taken: one by a link to a file outside, one by a plain file.
    fs::create_directory(m_directory.Path() / "Logs");
    const std::string outside = m_directory.File("outside.txt");
    ZELTest::WriteFile(outside, "outside");
    SYSTEMTIME now;
    ZELPlatform::GetLocalTime(now);
    ZELPlatform::FileTime time = 0;
    ASSERT_TRUE(ZELPlatform::SystemTimeToFileTime(now, time));
    std::vector<std::string> taken;
    for (int second = 0; second < 2; ++second) {
        SYSTEMTIME t;
        ASSERT_TRUE(ZELPlatform::FileTimeToSystemTime(time + second * 10000000LL, t));
        char name[128];
        std::snprintf(name, sizeof name, "Logs/Taken %04i-%02i-%02i %02i-%02i-%02i.csv", t.wYear, t.wMonth, t.wDay,
            t.wHour, t.wMinute, t.wSecond);
        taken.push_back(m_directory.File(name));
    }
    fs::create_symlink(outside, taken[0]);
    ZELTest::WriteFile(taken[1], "earlier run");

    ASSERT_EQ(Start("Taken"), ZEL_STATUS_SUCCESS);
    const std::string path = log.GetFilePath();
    log.Terminate();
    EXPECT_NE(path.find(" (2).csv"), std::string::npos) << path;
    EXPECT_EQ(ZELTest::ReadFile(outside), "outside");
    EXPECT_EQ(ZELTest::ReadFile(taken[1]), "earlier run");
    ExpectHeader(ReadRecords(path));
}

TEST_F(SystemLogTest, KeepsFileNamesInsideLogs)
{
    ASSERT_EQ(Start("../escape/" + std::string(300, 'n')), ZEL_STATUS_SUCCESS);
    const fs::path path = log.GetFilePath();
    log.Terminate();
    EXPECT_EQ(path.parent_path(), m_directory.Path() / "Logs");
    EXPECT_LE(path.filename().string().size(), 128u);
    EXPECT_EQ(path.filename().string().rfind(".._escape_nnn", 0), 0u);
}

TEST_F(SystemLogTest, CarriesOnToTheControlWithoutAFile)
{
    struct Case
    {
        const char* name;
        bool (*prepare)(const fs::path& directory); // false: the system cannot make the case
        const char* text;
    };
    const Case cases[] = {
        {"Logs is a file",
            [](const fs::path& d) {
                ZELTest::WriteFile((d / "Logs").string(), "not a folder");
                return true;
            },
            "The logfile could not be created."},
        // Windows keeps a folder that is a process's current one.
        {"current directory removed",
            [](const fs::path& d) {
                fs::create_directory(d / "gone");
                fs::current_path(d / "gone");
                std::error_code refused;
                return fs::remove(d / "gone", refused);
            },
            "The current directory can not be determined, therefore the logfile can not be created."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ZELTest::TemporaryDirectory directory;
        ZELTest::ScopedCurrentDirectory cwd(directory.Path());
        if (!c.prepare(directory.Path()))
            continue;
        ZELTest::CapturingSink control;
        CZELSystemLogEx failing;
        failing.SetEnableOutput(true);
        ASSERT_EQ(failing.Initialize(&control, "Failing", "V 3"), ZEL_STATUS_SUCCESS);
        EXPECT_EQ(failing.AddOutput("still shown", ZEL_SYSTEM_LOG_EX_EVENT_ERROR, "", "", ""), ZEL_STATUS_SUCCESS);
        failing.Terminate();
        EXPECT_EQ(control.CountContaining(c.text), 1u);
        EXPECT_EQ(control.CountContaining("still shown"), 1u);
        EXPECT_EQ(failing.GetFilePath(), "");
    }
}

TEST_F(SystemLogTest, WaitUntilWrittenReturnsOnceEveryRecordIsInTheFile)
{
    EXPECT_EQ(log.WaitUntilWritten(10ms), ZEL_STATUS_NOT_INITIALIZED);
    log.SetEnableOutput(true);
    ASSERT_EQ(log.Initialize(&holdingSink, "Tarn Update", "V 01.02.03"), ZEL_STATUS_SUCCESS);
    ASSERT_TRUE(holdingSink.holding.Wait(5s));
    log.AddOutput("last words", ZEL_SYSTEM_LOG_EX_EVENT_FATAL, "", "CZELThreadMonitor", "");
    // Held on its first line, the output thread cannot write the record: the wait ends unfulfilled.
    EXPECT_EQ(log.WaitUntilWritten(50ms), ZEL_STATUS_TIMEOUT);

    holdingSink.release.Set();
    ASSERT_EQ(log.WaitUntilWritten(5s), ZEL_STATUS_SUCCESS);
    // In the file while the log still runs, as before a process ends without stopping it.
    const auto files = LogFiles(m_directory.Path());
    ASSERT_EQ(files.size(), 1u);
    const Records records = ReadRecords(files[0]);
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records.back()[kMessage], "last words");
}
