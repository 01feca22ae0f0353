#include "support/ZELTestSupport.h"
#include "zel/crash/CZELMemoryDump.h"
#include "zel/crash/ZELFatal.h"
#include "zel/foundation/ZELStatus.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// The address build also checks for undefined behaviour.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kUndefinedBehaviourSanitizer = true;
#else
constexpr bool kUndefinedBehaviourSanitizer = false;
#endif

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitizerAllocator = true;
#else
constexpr bool kSanitizerAllocator = false;
#endif

// Divides the time table in the child: the hang threshold of 900 s becomes 900 ms.
constexpr int kChildDivisor = 1000;
// A hung child is killed after this; the test then fails on its exit code.
constexpr int kChildLimitSeconds = 120;

std::string Quoted(const std::string& text)
{
    std::string quoted = "'";
    for (const char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

#if defined(__SANITIZE_THREAD__)
// The report's symbolised back-trace allocates inside the signal handler on purpose; a warning for
// each allocation would take the child longer than its report may.
constexpr const char* kChildEnvironment = "TSAN_OPTIONS=report_signal_unsafe=0 ";
#else
constexpr const char* kChildEnvironment = "";
#endif

ZELTest::ProcessResult RunIn(const fs::path& folder, const std::string& program, const std::string& arguments)
{
    // Outside a graphical session, so that the helper's box is the message on standard error the tests read.
    return ZELTest::RunProgram("cd " + Quoted(folder.string()) + " && " + kChildEnvironment +
        "env -u DISPLAY -u WAYLAND_DISPLAY timeout -s KILL " +
        std::to_string(kChildLimitSeconds) + " " + Quoted(program) + " " + arguments);
}

ZELTest::ProcessResult RunChild(const fs::path& folder, const std::string& mode, int divisor = kChildDivisor,
    const std::string& name = "Crash Test", const std::string& program = CRASH_CHILD_PROGRAM)
{
    return RunIn(folder, program, mode + " " + std::to_string(divisor) + " " + Quoted(name));
}

std::vector<fs::path> Reports(const fs::path& folder)
{
    std::vector<fs::path> reports;
    if (fs::is_directory(folder / "Dumps")) {
        for (const auto& entry : fs::directory_iterator(folder / "Dumps"))
            reports.push_back(entry.path());
    }
    std::sort(reports.begin(), reports.end());
    return reports;
}

// "<name> YYYY-MM-DD HH-MM-SS (NN).dmp": '9' in the shape stands for any digit.
bool HasReportName(const fs::path& report, const std::string& application, const std::string& number)
{
    const std::string shape = application + " 9999-99-99 99-99-99 (" + number + ").dmp";
    const std::string name = report.filename().string();
    if (name.size() != shape.size())
        return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const bool digitWanted = shape[i] == '9' && i >= application.size();
        if (digitWanted ? !std::isdigit(static_cast<unsigned char>(name[i])) : name[i] != shape[i])
            return false;
    }
    return true;
}

// The symbolised back-trace: the part of the report after its heading.
std::string SymbolisedBackTrace(const std::string& report)
{
    const auto start = report.find("\nBack-trace\n");
    return start == std::string::npos ? std::string() : report.substr(start);
}

struct CrashCase
{
    const char* mode;
    const char* fault;    // a line of the report's fault section
    const char* function; // named in the symbolised back-trace
    bool needsGlibcAllocator;
    bool stoppedByUndefinedBehaviourSanitizer = false;
};

class CrashReports : public ::testing::TestWithParam<CrashCase>
{
};

TEST_P(CrashReports, EndWithExitCodeOneAndOneNamedReport)
{
    const CrashCase& crash = GetParam();
    if (crash.needsGlibcAllocator && kSanitizerAllocator)
        GTEST_SKIP() << "the sanitizer's allocator replaces glibc's, whose checks the heap check relies on";
    if (crash.stoppedByUndefinedBehaviourSanitizer && kUndefinedBehaviourSanitizer)
        GTEST_SKIP() << "the undefined-behaviour sanitizer of this build ends the program before the fault happens";
    ZELTest::TemporaryDirectory folder;
    const ZELTest::ProcessResult result = RunChild(folder.Path(), crash.mode);
    EXPECT_EQ(result.exitCode, 1) << result.output;
    const std::vector<fs::path> reports = Reports(folder.Path());
    ASSERT_EQ(reports.size(), 1u) << result.output;
    EXPECT_TRUE(HasReportName(reports[0], "Crash Test", "01")) << reports[0];
    const std::string report = ZELTest::ReadFile(reports[0].string());
    EXPECT_NE(report.find(std::string("\n") + crash.fault), std::string::npos) << report;
    EXPECT_NE(report.find("\nRegisters\n"), std::string::npos);
    EXPECT_NE(report.find("\nThreads\n"), std::string::npos);
    EXPECT_NE(report.find("\nMemory map\n"), std::string::npos);
    EXPECT_NE(report.find("libzel.so"), std::string::npos) << "the memory map names the library";
    EXPECT_NE(SymbolisedBackTrace(report).find(crash.function), std::string::npos) << report;
}

INSTANTIATE_TEST_SUITE_P(EveryWayOfCrashing, CrashReports,
    ::testing::Values(
        CrashCase{"null-write", "Signal: SIGSEGV (11)\nCode: SEGV_MAPERR (1)\nAddress: 0x0000000000000010",
            "CrashByNullWrite()", false},
        CrashCase{"thread-null-write", "Signal: SIGSEGV (11)\nCode: SEGV_MAPERR (1)\nAddress: 0x0000000000000010",
            "SecondThreadNullWrite()", false},
        CrashCase{"abort", "Signal: SIGABRT (6)", "CrashByAbort()", false},
        CrashCase{"division", "Signal: SIGFPE (8)\nCode: FPE_INTDIV", "CrashByDivision()", false, true},
        CrashCase{"stack-overflow", "Signal: SIGSEGV (11)", "RecurseWithoutEnd(int)", false},
        CrashCase{"terminate",
            "Fatal condition: std::terminate after an uncaught exception of type std::runtime_error: thrown on purpose",
            "CrashByUncaughtException()", false},
        CrashCase{"pure-virtual", "Fatal condition: A pure virtual function call has been detected.",
            "CallsDescribe(Describable*)", false},
        CrashCase{"hang",
            "Fatal condition: CheckObjects(); a thread has stopped to respond; thread name; Hanging Worker; thread ID; ",
            "CZELThreadMonitor::CheckObjects", false},
        CrashCase{"heap", "Fatal condition: The application has detected a heap corruption.",
            "CZELMemoryDump::CheckHeapConsistency()", true},
        CrashCase{"create-dump", "Fatal condition: CreateMemoryDump", "CZELMemoryDump::CreateMemoryDump()", false},
        CrashCase{"provoke-crash", "Signal: SIGSEGV (11)", "CZELMemoryDump::ProvokeCrash()", false},
        // Threads that started before the handlers were installed.
        CrashCase{"log-sink-overflow", "Signal: SIGSEGV (11)", "RecurseWithoutEnd(int)", false},
        CrashCase{"early-thread-overflow", "Signal: SIGSEGV (11)", "RecurseWithoutEnd(int)", false},
        // The log's output thread never gets to the fault's records: the report comes all the same.
        CrashCase{"log-stuck-crash", "Signal: SIGSEGV (11)", "CrashByNullWrite()", false}),
    [](const ::testing::TestParamInfo<CrashCase>& info) {
        std::string name = info.param.mode;
        std::replace(name.begin(), name.end(), '-', '_');
        return name;
    });

// The fault comes while another thread holds the lock that the conversion to local time (for the
// report's name) takes: the watchdog, armed before that step, still ends the process with exit code 1.
TEST(CZELMemoryDump, ALockHeldElsewhereNeverKeepsTheProcessFromEnding)
{
    ZELTest::TemporaryDirectory folder;
    const ZELTest::ProcessResult result = RunChild(folder.Path(), "time-zone-lock");
    EXPECT_EQ(result.exitCode, 1) << result.output;
}

// What the log has accepted before a fatal end is in its file, the records that explain the end among them.
struct LoggedCrashCase
{
    const char* mode;
    int divisor;
    std::vector<std::string> lines; // each in the log file
};

class LoggedCrashes : public ::testing::TestWithParam<LoggedCrashCase>
{
};

TEST_P(LoggedCrashes, LeaveTheirRecordsInTheLogFile)
{
    ZELTest::TemporaryDirectory folder;
    const ZELTest::ProcessResult result = RunChild(folder.Path(), GetParam().mode, GetParam().divisor);
    EXPECT_EQ(result.exitCode, 1) << result.output;
    EXPECT_EQ(Reports(folder.Path()).size(), 1u) << result.output;
    std::string log;
    if (fs::is_directory(folder.Path() / "Logs")) {
        for (const auto& entry : fs::directory_iterator(folder.Path() / "Logs"))
            log += ZELTest::ReadFile(entry.path().string());
    }
    for (const std::string& line : GetParam().lines)
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log.substr(log.size() - std::min<std::size_t>(log.size(), 2000));
}

INSTANTIATE_TEST_SUITE_P(FatalEnds, LoggedCrashes,
    ::testing::Values(
        // Unscaled, so that the log has its whole second to get past the slow pane.
        LoggedCrashCase{"log-provoke-crash", 1,
            {";\"marker\"\r\n", ";fatal;;CZELMemoryDump;;\"The application is going to provoke a crash.\"\r\n"}},
        LoggedCrashCase{"log-terminate", kChildDivisor,
            {";fatal;;CZELMemoryDump;;\"A critical error has been detected.\r\nFile: \r\nFunction: std::terminate\r\n"
             "Line: 0\r\nExpression: an uncaught exception of type std::runtime_error: thrown on purpose\r\n"
             "Thread ID: "}}),
    [](const ::testing::TestParamInfo<LoggedCrashCase>& info) {
        std::string name = info.param.mode;
        std::replace(name.begin(), name.end(), '-', '_');
        return name;
    });

TEST(CZELMemoryDump, ADamagedHeapIsReportedWithoutTheTerminationFlag)
{
    if (kSanitizerAllocator)
        GTEST_SKIP() << "the sanitizer's allocator replaces glibc's, whose checks the heap check relies on";
    ZELTest::TemporaryDirectory folder;
    const ZELTest::ProcessResult result = RunChild(folder.Path(), "heap-check");
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(result.output, "status=" + std::to_string(ZEL_STATUS_INVALID_BUFFER) + "\n");
    EXPECT_TRUE(Reports(folder.Path()).empty());
}

TEST(CZELMemoryDump, ReportListsEveryThreadByName)
{
    ZELTest::TemporaryDirectory folder;
    RunChild(folder.Path(), "hang");
    const std::vector<fs::path> reports = Reports(folder.Path());
    ASSERT_EQ(reports.size(), 1u);
    const std::string report = ZELTest::ReadFile(reports[0].string());
    const std::string threads = report.substr(report.find("\nThreads\n"));
    for (const char* name : {"\"Hanging Worker\"", "\"ZEL Thread Moni\"", "\"zel_crash_child\""})
        EXPECT_NE(threads.find(name), std::string::npos) << name << "\n" << threads;
    EXPECT_NE(report.find("Thread: "), std::string::npos);
    EXPECT_NE(report.find(" \"ZEL Thread Moni\"\n\nRegisters"), std::string::npos) << "the monitor raised it";
}

// A copy of the child without zel-run beside it, so the message box cannot go to a new process and
// is shown in the faulting process.
class WithoutHelperProgram : public ::testing::Test
{
protected:
    void SetUp() override
    {
        fs::create_directory(m_folder.Path() / "bin");
        fs::create_directory_symlink(fs::path(CRASH_CHILD_PROGRAM).parent_path().parent_path() / "lib",
            m_folder.Path() / "lib");
        fs::copy_file(CRASH_CHILD_PROGRAM, Program());
        fs::create_directory(Work());
    }
    std::string Program() const { return (m_folder.Path() / "bin" / "zel_crash_child").string(); }
    fs::path Work() const { return m_folder.Path() / "work"; }

    ZELTest::TemporaryDirectory m_folder;
};

TEST_F(WithoutHelperProgram, SecondFaultWaitsAndWritesReportTwo)
{
    // The first fault's box waits for its user while another thread faults. The second fault waits
    // 2 × 2000 ms, here scaled down to 400 ms.
    constexpr int kDivisor = 10;
    const auto started = std::chrono::steady_clock::now();
    const ZELTest::ProcessResult result = RunChild(Work(), "second-fault", kDivisor, "Crash Test", Program());
    const auto elapsed = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(result.exitCode, 1) << result.output;
    const std::vector<fs::path> reports = Reports(Work());
    ASSERT_EQ(reports.size(), 2u) << result.output;
    const auto second = std::find_if(reports.begin(), reports.end(),
        [](const fs::path& report) { return HasReportName(report, "Crash Test", "02"); });
    ASSERT_NE(second, reports.end()) << reports[0] << " " << reports[1];
    EXPECT_TRUE(HasReportName(reports[0], "Crash Test", "01") || HasReportName(reports[1], "Crash Test", "01"));
    const std::string report = ZELTest::ReadFile(second->string());
    EXPECT_NE(report.find("Crash count: 2\n"), std::string::npos);
    EXPECT_NE(SymbolisedBackTrace(report).find("SecondThreadNullWrite()"), std::string::npos) << report;
    EXPECT_GE(elapsed, 2 * 2000 * std::chrono::milliseconds(1) / kDivisor);
}

TEST_F(WithoutHelperProgram, BoxIsShownInTheFaultingProcessWhenNoHelperStarts)
{
    const ZELTest::ProcessResult result = RunChild(Work(), "message-box", kChildDivisor, "Crash Test", Program());
    EXPECT_EQ(result.exitCode, 1);
    const std::vector<fs::path> reports = Reports(Work());
    ASSERT_EQ(reports.size(), 1u);
    const std::string expected = "Crash Test [error]\nThe application has detected a critical problem and needs to "
                                 "close.\r\n\r\nThe dumpfile has been saved to the following file:\r\n\r\n" +
        reports[0].string() + "\n";
    EXPECT_NE(result.output.find(expected), std::string::npos) << result.output;
}

TEST(CZELMemoryDump, BoxGoesThroughTheHelperWithQuotesUnchanged)
{
    ZELTest::TemporaryDirectory folder;
    const std::string name = "Crash \"Box\"";
    const ZELTest::ProcessResult result = RunChild(folder.Path(), "message-box", kChildDivisor, name);
    EXPECT_EQ(result.exitCode, 1);
    const std::vector<fs::path> reports = Reports(folder.Path());
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_TRUE(HasReportName(reports[0], name, "01")) << reports[0];
    // The helper shares the child's standard error, which the test reads to its end.
    const std::string expected = name + " [error]\nThe application has detected a critical problem and needs to "
                                        "close.\r\n\r\nThe dumpfile has been saved to the following file:\r\n\r\n" +
        reports[0].string() + "\n";
    EXPECT_NE(result.output.find(expected), std::string::npos) << result.output;
}

TEST(CZELMemoryDump, FolderThatCannotBeCreatedGivesTextFiveWithTheErrno)
{
    ZELTest::TemporaryDirectory folder;
    ZELTest::WriteFile(folder.File("Dumps"), "a file where the folder belongs");
    const ZELTest::ProcessResult result = RunChild(folder.Path(), "message-box");
    EXPECT_EQ(result.exitCode, 1);
    // ENOTDIR (20): the dump path runs through a file.
    EXPECT_NE(result.output.find("The dumpfile could not be created (GetLastError() = 0x00000014):\r\n\r\n" +
                  folder.File("Dumps") + "/Crash Test "),
        std::string::npos)
        << result.output;
}

struct SettingsCase
{
    const char* ini;
    const char* expected;
};

class Settings : public ::testing::TestWithParam<SettingsCase>
{
};

TEST_P(Settings, InitializeAppliesTheSection)
{
    ZELTest::TemporaryDirectory folder;
    ZELTest::WriteFile(folder.File("ZEL.ini"), GetParam().ini);
    const ZELTest::ProcessResult result = RunChild(folder.Path(), "settings", 1);
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(result.output, std::string(GetParam().expected) + "\n");
}

INSTANTIATE_TEST_SUITE_P(ZELMemoryDump, Settings,
    ::testing::Values(
        SettingsCase{"", "dumpType=294 dep=0 heapTermination=0 messageBox=0 interval=0 running=0"},
        SettingsCase{"[ZELMemoryDump]\nHeapCheckInterval=-5\n",
            "dumpType=294 dep=0 heapTermination=0 messageBox=0 interval=0 running=0"},
        SettingsCase{"[ZELMemoryDump]\nHeapCheckInterval=10\n",
            "dumpType=294 dep=0 heapTermination=0 messageBox=0 interval=10000 running=1"},
        SettingsCase{"[ZELMemoryDump]\nDumpType=2\nDEPPolicy=3\nDumpAfterHeapCorruption=7\nMessageBoxAfterDump=1\n",
            "dumpType=2 dep=3 heapTermination=1 messageBox=1 interval=0 running=0"},
        // A zero does not enable, an empty value does not count, text converts like atoi.
        SettingsCase{"[ZELMemoryDump]\nDumpType=\nDumpAfterHeapCorruption=0\nMessageBoxAfterDump=yes\n",
            "dumpType=294 dep=0 heapTermination=0 messageBox=0 interval=0 running=0"},
        SettingsCase{"[OtherSection]\nHeapCheckInterval=10\n",
            "dumpType=294 dep=0 heapTermination=0 messageBox=0 interval=0 running=0"}));

// In this process: local instances, handlers installed by the first Initialize.
class InProcess : public ::testing::Test
{
protected:
    ZELTest::TemporaryDirectory m_folder;
    ZELTest::ScopedCurrentDirectory m_current{m_folder.Path()};
};

TEST_F(InProcess, InitializeTwiceKeepsTheFirstName)
{
    CZELMemoryDump dump;
    EXPECT_EQ(dump.Initialize("First"), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(dump.Initialize("Second"), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(dump.GetApplicationName(), "First");
    EXPECT_EQ(dump.GetDumpDirectory(), fs::current_path().string() + "/Dumps");
    EXPECT_TRUE(fs::is_directory("Dumps"));

    CZELMemoryDump unnamed;
    unnamed.Initialize("");
    EXPECT_EQ(unnamed.GetApplicationName(), "ZEL Memory Dump");
}

TEST_F(InProcess, NothingWorksBeforeTheHandlersAreInstalled)
{
    // Handlers stay installed for the life of the process; ctest runs each test in a process of its own.
    const ZELFatalHandler installed = ZELSetFatalHandler(nullptr);
    ZELSetFatalHandler(installed);
    if (installed != nullptr)
        GTEST_SKIP() << "an earlier test of this process installed the crash handlers";
    CZELMemoryDump dump;
    EXPECT_EQ(dump.CreateMemoryDump(), ZEL_STATUS_NOT_INITIALIZED);
    EXPECT_EQ(dump.ProvokeCrash(), ZEL_STATUS_NOT_INITIALIZED);
    EXPECT_EQ(dump.ProvokeHang(), ZEL_STATUS_NOT_INITIALIZED);
    EXPECT_EQ(dump.ProvokeHeapCorruption(), ZEL_STATUS_NOT_INITIALIZED);
    EXPECT_EQ(dump.CheckHeapConsistency(), ZEL_STATUS_NOT_INITIALIZED);
    EXPECT_EQ(CZELMemoryDump::CrashFast(), ZEL_STATUS_NOT_INITIALIZED);
    EXPECT_FALSE(ZELRaiseFatal("nobody listens"));
}

TEST_F(InProcess, DepPolicyHoldsItsFirstValue)
{
    CZELMemoryDump dump;
    EXPECT_EQ(dump.SetDEPPolicy(1), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(dump.SetDEPPolicy(3), ZEL_STATUS_UNSPECIFIC_ERROR);
    EXPECT_EQ(dump.SetDEPPolicy(1), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(dump.GetDEPPolicy(), 1u);
}

TEST_F(InProcess, HeapTerminationCannotBeUndone)
{
    CZELMemoryDump dump;
    EXPECT_EQ(dump.SetDumpAfterHeapCorruption(false), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(dump.SetDumpAfterHeapCorruption(true), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(dump.SetDumpAfterHeapCorruption(true), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(dump.SetDumpAfterHeapCorruption(false), ZEL_STATUS_UNSPECIFIC_ERROR);
    EXPECT_TRUE(dump.GetDumpAfterHeapCorruption());
}

TEST_F(InProcess, HeapCheckFindsAHealthyHeapAndStopsAndStarts)
{
    CZELMemoryDump dump;
    dump.Initialize("Heap");
    EXPECT_EQ(dump.CheckHeapConsistency(), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(dump.SetCyclicHeapCheck(10000), ZEL_STATUS_SUCCESS);
    EXPECT_TRUE(dump.IsHeapCheckRunning());
    EXPECT_EQ(dump.SetCyclicHeapCheck(20000), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(dump.GetHeapCheckInterval(), 20000u);
    EXPECT_EQ(dump.SetCyclicHeapCheck(0), ZEL_STATUS_SUCCESS);
    EXPECT_FALSE(dump.IsHeapCheckRunning());
    EXPECT_EQ(dump.SetCyclicHeapCheck(500), ZEL_STATUS_SUCCESS);
    EXPECT_TRUE(dump.IsHeapCheckRunning());
    EXPECT_EQ(dump.Terminate(), ZEL_STATUS_SUCCESS);
    EXPECT_FALSE(dump.IsHeapCheckRunning());
}

TEST(TarnSelftest, CrashEndsWithAReport)
{
    ZELTest::TemporaryDirectory folder;
    const ZELTest::ProcessResult result = RunIn(folder.Path(), TARN_PROGRAM, "selftest crash");
    EXPECT_EQ(result.exitCode, 1) << result.output;
    const std::vector<fs::path> reports = Reports(folder.Path());
    ASSERT_EQ(reports.size(), 1u) << result.output;
    EXPECT_TRUE(HasReportName(reports[0], "Tarn Update", "01")) << reports[0];
    EXPECT_NE(SymbolisedBackTrace(ZELTest::ReadFile(reports[0].string())).find("CZELMemoryDump::ProvokeCrash()"),
        std::string::npos);
}

TEST(TarnSelftest, HeapCorruptionEndsWithAReport)
{
    if (kSanitizerAllocator)
        GTEST_SKIP() << "the sanitizer's allocator replaces glibc's, whose checks the heap check relies on";
    ZELTest::TemporaryDirectory folder;
    const ZELTest::ProcessResult result = RunIn(folder.Path(), TARN_PROGRAM, "selftest heap");
    EXPECT_EQ(result.exitCode, 1) << result.output;
    const std::vector<fs::path> reports = Reports(folder.Path());
    ASSERT_EQ(reports.size(), 1u) << result.output;
    EXPECT_NE(ZELTest::ReadFile(reports[0].string()).find("heap corruption"), std::string::npos);
}

} // namespace
