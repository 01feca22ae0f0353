// The crash handling on Windows: each way of crashing ends with exit code 1 and a minidump of the
// fault in Dumps. Runs under Wine in the cross build; the child program crashes in a folder of its
// own.

#include "zel/crash/CZELMemoryDump.h"
#include "zel/foundation/ZELStatus.h"
#include "zel/platform/ZELCrashSignals.h"
#include "zel/platform/ZELProcess.h"
#include "support/ZELTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Divides the time table in the child: the hang threshold of 900 s becomes 900 ms.
constexpr int kChildDivisor = 1000;
// The default type without the memory, which under Wine takes 20 to 30 s to write (about 230 MB),
// close to the time a report may take: thread data, unloaded modules and handles. The header of
// the dump must name it.
constexpr std::uint32_t kSmallDumpType = 0x124;

constexpr std::uint32_t kAccessViolation = 0xC0000005;
constexpr std::uint32_t kStackOverflow = 0xC00000FD;
constexpr std::uint32_t kIntegerDivision = 0xC0000094;
constexpr std::uint32_t kFatalCondition = 0xC0000025;

fs::path ProgramFolder()
{
    return fs::path(ZELPlatform::GetProgramPath()).parent_path();
}

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void WriteFile(const fs::path& path, const std::string& content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

class TemporaryFolder
{
public:
    TemporaryFolder()
    {
        std::random_device random;
        m_path = fs::temp_directory_path() / ("zelcrash-" + std::to_string(random()) + std::to_string(random()));
        fs::create_directories(m_path);
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;
    ~TemporaryFolder()
    {
        std::error_code ignored;
        fs::remove_all(m_path, ignored);
    }
    const fs::path& Path() const { return m_path; }

private:
    fs::path m_path;
};

using ZELTest::ProcessResult;

// Runs `program` in `folder` through the command processor and collects what it writes, lines
// ending in "\n".
ProcessResult RunIn(const fs::path& folder, const fs::path& program, const std::string& arguments)
{
    ProcessResult result
        = ZELTest::RunProgram("cd /d \"" + folder.string() + "\" && \"" + program.string() + "\" " + arguments);
    for (auto cr = result.output.find("\r\n"); cr != std::string::npos; cr = result.output.find("\r\n", cr))
        result.output.erase(cr, 1);
    return result;
}

ProcessResult RunChild(const fs::path& folder, const std::string& mode, const fs::path& program = ProgramFolder() / CRASH_CHILD_PROGRAM)
{
    return RunIn(folder, program, mode + " " + std::to_string(kChildDivisor) + " \"Crash Test\"");
}

std::vector<fs::path> Dumps(const fs::path& folder)
{
    std::vector<fs::path> dumps;
    if (fs::is_directory(folder / "Dumps")) {
        for (const auto& entry : fs::directory_iterator(folder / "Dumps"))
            dumps.push_back(entry.path());
    }
    std::sort(dumps.begin(), dumps.end());
    return dumps;
}

// "Crash Test YYYY-MM-DD hh-mm-ss (NN).dmp": '9' in the shape stands for any digit.
bool HasDumpName(const fs::path& dump, const std::string& number)
{
    const std::string application = "Crash Test";
    const std::string shape = application + " 9999-99-99 99-99-99 (" + number + ").dmp";
    const std::string name = dump.filename().string();
    if (name.size() != shape.size())
        return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const bool digitWanted = shape[i] == '9' && i >= application.size();
        if (digitWanted ? std::isdigit(static_cast<unsigned char>(name[i])) == 0 : name[i] != shape[i])
            return false;
    }
    return true;
}

template <typename T>
std::optional<T> ReadAt(const std::string& data, std::size_t offset)
{
    if (offset + sizeof(T) > data.size())
        return std::nullopt;
    T value;
    std::memcpy(&value, data.data() + offset, sizeof value);
    return value;
}

// What the tests read of a minidump: the header's dump type, the exception stream's code.
struct Minidump
{
    bool valid = false;
    std::uint64_t dumpType = 0;
    std::optional<std::uint32_t> exceptionCode;
};

Minidump ReadMinidump(const std::string& data)
{
    constexpr std::uint32_t kExceptionStream = 6;
    Minidump dump;
    if (data.compare(0, 4, "MDMP") != 0)
        return dump;
    const auto streams = ReadAt<std::uint32_t>(data, 8);
    const auto directory = ReadAt<std::uint32_t>(data, 12);
    const auto flags = ReadAt<std::uint64_t>(data, 24);
    if (!streams || !directory || !flags)
        return dump;
    dump.valid = true;
    dump.dumpType = *flags;
    for (std::uint32_t i = 0; i < *streams; ++i) {
        const std::size_t entry = *directory + 12u * i;
        const auto type = ReadAt<std::uint32_t>(data, entry);
        const auto location = ReadAt<std::uint32_t>(data, entry + 8);
        if (type && location && *type == kExceptionStream)
            dump.exceptionCode = ReadAt<std::uint32_t>(data, *location + 8); // after thread id and padding
    }
    return dump;
}

std::string Hex(std::uint64_t value)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%08llx", static_cast<unsigned long long>(value));
    return text;
}

std::string DumpTypeSetting(std::uint32_t type)
{
    return "[ZELMemoryDump]\r\nDumpType=" + std::to_string(type) + "\r\n";
}

struct CrashCase
{
    const char* mode;
    std::uint32_t exceptionCode; // of the exception in the dump
};

void PrintTo(const CrashCase& crash, std::ostream* out)
{
    *out << crash.mode;
}

class CrashDumps : public ::testing::TestWithParam<CrashCase>
{
};

TEST_P(CrashDumps, EndWithExitCodeOneAndOneMinidumpOfTheFault)
{
    TemporaryFolder folder;
    WriteFile(folder.Path() / "ZEL.ini", DumpTypeSetting(kSmallDumpType));
    const ProcessResult result = RunChild(folder.Path(), GetParam().mode);
    EXPECT_EQ(result.exitCode, 1) << result.output;
    const std::vector<fs::path> dumps = Dumps(folder.Path());
    ASSERT_EQ(dumps.size(), 1u) << result.output;
    EXPECT_TRUE(HasDumpName(dumps[0], "01")) << dumps[0];
    const Minidump dump = ReadMinidump(ReadFile(dumps[0]));
    ASSERT_TRUE(dump.valid) << "not a minidump: " << dumps[0];
    EXPECT_EQ(Hex(dump.dumpType), Hex(kSmallDumpType));
    ASSERT_TRUE(dump.exceptionCode.has_value()) << "the dump holds no exception";
    EXPECT_EQ(Hex(*dump.exceptionCode), Hex(GetParam().exceptionCode));
}

INSTANTIATE_TEST_SUITE_P(EveryWayOfCrashing, CrashDumps,
    ::testing::Values(
        CrashCase{"null-write", kAccessViolation},
        CrashCase{"thread-null-write", kAccessViolation},
        CrashCase{"division", kIntegerDivision},
        CrashCase{"stack-overflow", kStackOverflow},
        // Threads that started before the handlers were installed.
        CrashCase{"early-thread-overflow", kStackOverflow},
        CrashCase{"log-sink-overflow", kStackOverflow},
        CrashCase{"abort", kFatalCondition},
        CrashCase{"terminate", kFatalCondition},
        // Not the C++ runtime's own exception: that one is let through to std::terminate.
        CrashCase{"log-runtime-thread-terminate", kFatalCondition},
        CrashCase{"pure-virtual", kFatalCondition},
        CrashCase{"create-dump", kFatalCondition},
        CrashCase{"hang", kFatalCondition},
        CrashCase{"heap", kFatalCondition},
        CrashCase{"provoke-crash", kAccessViolation},
        // A filter registered later is never called.
        CrashCase{"foreign-filter", kAccessViolation},
        // The log's output thread never gets to the fault's records: the dump comes all the same.
        CrashCase{"log-stuck-crash", kAccessViolation}),
    [](const ::testing::TestParamInfo<CrashCase>& info) {
        std::string name = info.param.mode;
        std::replace(name.begin(), name.end(), '-', '_');
        return name;
    });

// The records that explain a fatal end reach the log file before the process ends.
struct LoggedCrashCase
{
    const char* mode;
    const char* line;
};

void PrintTo(const LoggedCrashCase& crash, std::ostream* out)
{
    *out << crash.mode;
}

class LoggedCrashes : public ::testing::TestWithParam<LoggedCrashCase>
{
};

TEST_P(LoggedCrashes, LeaveTheirRecordsInTheLogFile)
{
    TemporaryFolder folder;
    WriteFile(folder.Path() / "ZEL.ini", DumpTypeSetting(kSmallDumpType));
    const ProcessResult result = RunChild(folder.Path(), GetParam().mode);
    EXPECT_EQ(result.exitCode, 1) << result.output;
    EXPECT_EQ(Dumps(folder.Path()).size(), 1u) << result.output;
    std::string log;
    if (fs::is_directory(folder.Path() / "Logs")) {
        for (const auto& entry : fs::directory_iterator(folder.Path() / "Logs"))
            log += ReadFile(entry.path());
    }
    EXPECT_NE(log.find(GetParam().line), std::string::npos) << log;
}

INSTANTIATE_TEST_SUITE_P(FatalEnds, LoggedCrashes,
    ::testing::Values(
        // Thrown in the program, which has a C++ runtime of its own.
        LoggedCrashCase{"log-terminate",
            ";fatal;;CZELMemoryDump;;\"A critical error has been detected.\r\nFile: \r\nFunction: std::terminate\r\n"
            "Line: 0\r\nExpression: an uncaught exception of type std::runtime_error: thrown on purpose\r\n"
            "Thread ID: "},
        LoggedCrashCase{"log-runtime-thread-terminate",
            "Expression: an uncaught exception of type std::runtime_error: thrown on purpose\r\n"}),
    [](const ::testing::TestParamInfo<LoggedCrashCase>& info) {
        std::string name = info.param.mode;
        std::replace(name.begin(), name.end(), '-', '_');
        return name;
    });

// A copy of the child and the library in a folder of their own, with a DBGHELP.DLL that has no
// dump writer beside them.
TEST(CZELMemoryDump, TheDumpLibraryBesideTheProgramComesFirst)
{
    TemporaryFolder folder;
    const fs::path bin = folder.Path() / "bin";
    const fs::path work = folder.Path() / "work";
    fs::create_directories(bin);
    fs::create_directories(work);
    // A name of its own, for the setting below.
    const std::string program = "zel_crash_child_beside_dbghelp.exe";
    fs::copy_file(ProgramFolder() / CRASH_CHILD_PROGRAM, bin / program);
    fs::copy_file(ZELPlatform::GetLibraryPath(), bin / fs::path(ZELPlatform::GetLibraryPath()).filename());
    fs::copy_file(ProgramFolder() / INCOMPATIBLE_DUMP_LIBRARY, bin / "DBGHELP.DLL");
    WriteFile(work / "ZEL.ini", DumpTypeSetting(kSmallDumpType));
    // Wine loads its own DBGHELP.DLL for any path, unless the program is set to prefer the file;
    // Windows has no use for the key.
    const ProcessResult setting = RunIn(work, "reg.exe",
        "add \"HKCU\\Software\\Wine\\AppDefaults\\" + program + "\\DllOverrides\" /v dbghelp /d native,builtin /f");
    ASSERT_EQ(setting.exitCode, 0) << setting.output;
    const ProcessResult result = RunChild(work, "null-write", bin / program);
    EXPECT_EQ(result.exitCode, 1) << result.output;
    // The dump writer is missing, so no file is created.
    EXPECT_TRUE(Dumps(work).empty()) << Dumps(work).front();
}

TEST(CZELMemoryDump, AFolderThatCannotBeCreatedStillEndsWithExitCodeOne)
{
    TemporaryFolder folder;
    WriteFile(folder.Path() / "Dumps", "a file where the folder belongs");
    const ProcessResult result = RunChild(folder.Path(), "null-write");
    EXPECT_EQ(result.exitCode, 1) << result.output;
    EXPECT_EQ(ReadFile(folder.Path() / "Dumps"), "a file where the folder belongs");
}

TEST(CZELMemoryDump, ADamagedHeapIsReportedWithoutTheTerminationFlag)
{
    TemporaryFolder folder;
    const ProcessResult result = RunChild(folder.Path(), "heap-check");
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(result.output, "status=" + std::to_string(ZEL_STATUS_INVALID_BUFFER) + "\n");
    EXPECT_TRUE(Dumps(folder.Path()).empty());
}

struct SettingsCase
{
    std::string ini;
    std::string expected;
};

void PrintTo(const SettingsCase& settings, std::ostream* out)
{
    *out << '"' << settings.ini << '"';
}

class Settings : public ::testing::TestWithParam<SettingsCase>
{
};

TEST_P(Settings, InitializeAppliesTheSection)
{
    TemporaryFolder folder;
    WriteFile(folder.Path() / "ZEL.ini", GetParam().ini);
    const ProcessResult result = RunIn(folder.Path(), ProgramFolder() / CRASH_CHILD_PROGRAM, "settings 1");
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(result.output, GetParam().expected + "\n");
}

// A 64-bit process always has data execution prevention: its policy cannot be set.
#if defined(_WIN64)
constexpr const char* kDepAfterSetting = "dep=0";
#else
constexpr const char* kDepAfterSetting = "dep=3";
#endif

INSTANTIATE_TEST_SUITE_P(ZELMemoryDump, Settings,
    ::testing::Values(
        SettingsCase{"", "dumpType=294 dep=0 heapTermination=0 messageBox=0 interval=0 running=0"},
        SettingsCase{"[ZELMemoryDump]\r\nHeapCheckInterval=10\r\n",
            "dumpType=294 dep=0 heapTermination=0 messageBox=0 interval=10000 running=1"},
        SettingsCase{"[ZELMemoryDump]\r\nDumpType=2\r\nDEPPolicy=3\r\nDumpAfterHeapCorruption=7\r\nMessageBoxAfterDump=1\r\n",
            std::string("dumpType=2 ") + kDepAfterSetting + " heapTermination=1 messageBox=1 interval=0 running=0"}));

// The helper gets text, caption and style as arguments 2, 3 and 4, as the library's command line
// splits them, whatever quotes and backslashes they hold. The child stands in for rundll32 and
// writes down what it got.
TEST(MessageBoxProcess, ArgumentsArriveUnchanged)
{
    TemporaryFolder folder;
    ZELPlatform::MessageBoxProcess helper;
    helper.program = (ProgramFolder() / CRASH_CHILD_PROGRAM).string();
    helper.library = "C:\\Program Files\\Tarn\\zel.dll";
    const std::string text = "The \"quoted\" text\r\n\r\nC:\\Dumps\\Crash Test (01).dmp \\\"\\\\\" ends in \\";
    const std::string caption = "Crash \"Box\" \\";
    const fs::path previous = fs::current_path();
    fs::current_path(folder.Path());
    const ZELPlatform::PlatformResult started = ZELPlatform::StartMessageBoxProcess(helper, text.c_str(), caption.c_str(), 16);
    fs::current_path(previous);
    ASSERT_EQ(started, ZELPlatform::PlatformResult::Done);
    // The helper runs on its own; its file appears whole once it is done.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!fs::exists(folder.Path() / "arguments.txt") && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(fs::exists(folder.Path() / "arguments.txt")) << "the helper did not run";
    EXPECT_EQ(ReadFile(folder.Path() / "arguments.txt"),
        "<C:\\Program Files\\Tarn\\zel.dll,ShowMessageBox>\n<" + text + ">\n<" + caption + ">\n<16>\n");
}

TEST(MessageBoxProcess, TheHelperIsTheSystemsRundll32)
{
    const ZELPlatform::MessageBoxProcess helper = ZELPlatform::PrepareMessageBoxProcess("C:\\Tarn\\zel.dll");
    std::string program = helper.program;
    std::transform(program.begin(), program.end(), program.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    EXPECT_TRUE(program.ends_with("\\system32\\rundll32.exe")) << helper.program;
    EXPECT_TRUE(fs::exists(helper.program)) << helper.program;
}

// In this process: local instances, handlers installed by the first Initialize.
class InProcess : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_previous = fs::current_path();
        fs::current_path(m_folder.Path());
    }
    void TearDown() override { fs::current_path(m_previous); }

    TemporaryFolder m_folder;
    fs::path m_previous;
};

TEST_F(InProcess, DepPolicy)
{
    CZELMemoryDump dump;
#if defined(_WIN64)
    EXPECT_EQ(dump.SetDEPPolicy(1), ZEL_STATUS_UNSPECIFIC_ERROR);
    EXPECT_EQ(dump.GetDEPPolicy(), 0u);
    EXPECT_EQ(dump.SetDEPPolicy(3), ZEL_STATUS_UNSPECIFIC_ERROR);
#else
    EXPECT_EQ(dump.SetDEPPolicy(1), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(dump.SetDEPPolicy(3), ZEL_STATUS_UNSPECIFIC_ERROR);
    EXPECT_EQ(dump.SetDEPPolicy(1), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(dump.GetDEPPolicy(), 1u);
#endif
}

TEST_F(InProcess, HeapCheckFindsTheHeapsOfAHealthyProcessValid)
{
    CZELMemoryDump dump;
    dump.Initialize("Heap");
    EXPECT_EQ(dump.CheckHeapConsistency(), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(dump.SetDumpAfterHeapCorruption(true), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(dump.SetDumpAfterHeapCorruption(false), ZEL_STATUS_UNSPECIFIC_ERROR);
    EXPECT_EQ(dump.CheckHeapConsistency(), ZEL_STATUS_SUCCESS);
}

} // namespace
